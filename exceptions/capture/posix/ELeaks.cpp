// Natively the module's new and delete stay the runtime's (the sanitizers watch them); the
// tracker is reached through its own operations only.
#include "../ELeaks.h"

#include <cstdio>

namespace ember_detail {

void PlatformLeakMessage(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

}  // namespace ember_detail
