// The platform halves of the maker's controls (win32/ and posix/).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zel_detail {
void PlatformShowCursor(bool show);
void PlatformSetCursorPos(int32_t x, int32_t y);
// The names of the visible sub-folders of `folder` (which ends with a path delimiter), in the
// order the file system lists them; "." and ".." left out; empty when the search finds nothing.
std::vector<std::string> PlatformListFolders(const std::string& folder);
// True when the path names an existing file (not a folder).
bool PlatformFileExists(const std::string& path);
// True when the path names an existing folder.
bool PlatformFolderExists(const std::string& path);
}  // namespace zel_detail
