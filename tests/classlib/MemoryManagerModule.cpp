// A module with a memory manager of its own, whose lock the memory manager's tests take from a
// thread that is then killed or waits: its entries take that manager's lock, keep a block that a
// finaliser frees at unload, and allocate and free as a host's calls into a plug-in do.
#include "classlib/MemoryManager.h"

// Takes the lock for the calling thread and keeps it.
extern "C" __declspec(dllexport) void MemoryManagerModuleHoldLock() { kbl_detail::HoldMemoryManagerLock(); }

// Takes the lock, runs `wait` as a thread waiting for an exception's processing would (the lock
// parked), and gives the lock back.
extern "C" __declspec(dllexport) void MemoryManagerModuleWaitHoldingLock(void (*wait)()) {
  kbl_detail::HoldMemoryManagerLock();
  {
    const TMemoryManagerHolderWaits parked;
    wait();
  }
  kbl_detail::ReleaseMemoryManagerLock();
}

// Keeps a small block until the module ends. The holder is made on the first call, after the
// memory manager's own end was set up, so its finaliser runs before the manager's end is marked.
extern "C" __declspec(dllexport) void MemoryManagerModuleKeepUntilEnd() {
  struct TKept {
    void* block = GetMem(48);
    ~TKept() { FreeMem(block); }
  };
  static TKept kept;
}

// Allocates and frees a small block; answers whether the chunks served it.
extern "C" __declspec(dllexport) bool MemoryManagerModuleRoundTrip() {
  void* block = GetMem(32);
  const bool fromChunks = SmallBlockOf(block) != nullptr;
  FreeMem(block);
  return fromChunks;
}
