// Natively there is no main window to watch: the watch waits without reporting.
#include "../EFreezeWatch.h"

namespace ember_detail {

bool FreezeWindowAnswers(uintptr_t) { return true; }
bool SnapshotThread(uint32_t, void*, uint32_t&, uint32_t&, std::vector<uint8_t>&) { return false; }

}  // namespace ember_detail
