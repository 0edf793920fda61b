// Outside Windows no module is loaded the Windows way: the sources find nothing unless a test
// installs its own module access.
#include "../EDebug.h"
#include "../detail/EDebugPlatform_p.h"

namespace ember_detail {

std::string PlatformModuleFileName(uintptr_t) { return std::string(); }
bool PlatformModuleImage(uintptr_t, TELImageView&) { return false; }

}  // namespace ember_detail
