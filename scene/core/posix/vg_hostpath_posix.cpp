// The host executable's folder outside Windows.
#include <unistd.h>

#include <vector>

#include "scene/core/vg_hostpath_p.h"

std::string vgHostExeFolder() {
  std::vector<char> buffer(4096);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return std::string();
  std::string path(buffer.data(), static_cast<size_t>(length));
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
