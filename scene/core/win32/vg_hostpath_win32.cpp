// The host executable's folder on Windows.
#include <windows.h>

#include "scene/core/vg_hostpath_p.h"

std::string vgHostExeFolder() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  std::string path(buffer, length);
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
