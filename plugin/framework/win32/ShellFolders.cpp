// The folder lookup on Windows: the module's file name and the shell's application-data folder.
#include <windows.h>
#include <shlobj.h>

#include "../detail/ShellFolders_p.h"
#include "classlib/Module.h"

namespace rk::detail {

std::string ModuleFileName() {
  char buffer[1501] = {};
  const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(ModuleInstance()), buffer,
                                          static_cast<DWORD>(sizeof buffer));
  // 0 is failure; a full buffer means the name was cut, which would give a wrong folder.
  if (length == 0 || length >= sizeof buffer) return std::string();
  return std::string(buffer, length);
}

bool AppDataFolder(std::string& path) {
  char buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer))) return false;
  path = buffer;
  return true;
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateFolder(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  return FolderExists(path);  // made meanwhile by another instance
}

}  // namespace rk::detail
