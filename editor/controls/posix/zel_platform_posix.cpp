// Native half of the maker's controls: no cursor to move; folders through the file system, with
// names starting with a dot counting as hidden.
#include <filesystem>
#include <system_error>

#include "../detail/zel_platform_p.h"

namespace zel_detail {

void PlatformShowCursor(bool) {}

void PlatformSetCursorPos(int32_t, int32_t) {}

std::vector<std::string> PlatformListFolders(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) return names;
  for (const auto& entry : it) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code dirEc;
    if (!entry.is_directory(dirEc)) continue;
    names.push_back(name);
  }
  return names;
}

bool PlatformFileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

bool PlatformFolderExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

}  // namespace zel_detail
