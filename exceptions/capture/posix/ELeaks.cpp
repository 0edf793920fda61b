// Natively the module's new and delete stay the runtime's (the sanitizers watch them); the
// tracker is reached through its own operations only.
#include "../ELeaks.h"

#include <cstdio>

namespace ember_detail {

void PlatformLeakReportError(const char* step) { std::fprintf(stderr, "Error in ELeaks \"%s\" section.\n", step); }

}  // namespace ember_detail
