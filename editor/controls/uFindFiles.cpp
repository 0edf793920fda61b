// Listing the sub-folders of a folder.
#include "uFindFiles.h"

#include "detail/zel_platform_p.h"

void FindFiles(const std::string& folder, TStrings& names) {
  for (const std::string& name : zel_detail::PlatformListFolders(folder)) names.Add(name);
}
