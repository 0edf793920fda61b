// Natively there is no main window to watch: the watch waits without reporting.
#include "../EFreezeWatch.h"

namespace ember_detail {

bool FreezeWindowAnswers(uintptr_t) { return true; }

}  // namespace ember_detail
