// Win32 half of the maker's controls: cursor display and position, folder listing and file tests.
#include <windows.h>

#include "../detail/zel_platform_p.h"

namespace zel_detail {

void PlatformShowCursor(bool show) { ::ShowCursor(show ? TRUE : FALSE); }

void PlatformSetCursorPos(int32_t x, int32_t y) { ::SetCursorPos(x, y); }

std::vector<std::string> PlatformListFolders(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = ::FindFirstFileA((folder + "*.*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = data.cFileName;
    const DWORD attr = data.dwFileAttributes;
    if ((attr & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attr & FILE_ATTRIBUTE_HIDDEN) != 0) continue;
    if (name == "." || name == "..") continue;
    names.push_back(name);
  } while (::FindNextFileA(find, &data));
  ::FindClose(find);
  return names;
}

bool PlatformFileExists(const std::string& path) {
  const DWORD attr = ::GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool PlatformFolderExists(const std::string& path) {
  const DWORD attr = ::GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace zel_detail
