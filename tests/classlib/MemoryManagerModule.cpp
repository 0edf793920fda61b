// A module with a memory manager of its own, whose end the memory manager's tests watch: its
// entry takes that manager's lock for the calling thread and keeps it.
#include "classlib/MemoryManager.h"

extern "C" __declspec(dllexport) void MemoryManagerModuleHoldLock() { kbl_detail::HoldMemoryManagerLock(); }
