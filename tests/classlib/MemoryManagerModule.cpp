// A module with a memory manager of its own, whose lock the memory manager's tests have a thread
// hold in every way a host's thread can (killed, gone on, suspended, waiting for an exception's
// processing): its entries take that manager's lock, keep a block that a finaliser frees at
// unload, and allocate and free as a host's calls into a plug-in do, also at a thread's end.
#include "classlib/MemoryManager.h"

#include <windows.h>

#include <atomic>

namespace {

std::atomic<bool> gRoundTripAtThreadEnds{false};
std::atomic<bool> gHoldAtNextThreadStart{false};

// Once armed, every thread's end allocates and frees in the module; the next thread's start takes
// the lock and keeps it.
void NTAPI RoundTripAtThreadEnd(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_DETACH && gRoundTripAtThreadEnds.load()) FreeMem(GetMem(32));
  if (reason == DLL_THREAD_ATTACH && gHoldAtNextThreadStart.exchange(false)) kbl_detail::HoldMemoryManagerLock();
}
__attribute__((section(".CRT$XLF"), used)) PIMAGE_TLS_CALLBACK gRoundTripAtThreadEnd = &RoundTripAtThreadEnd;

}  // namespace

// Takes the lock for the calling thread and keeps it, with no trace of the code that took it.
extern "C" __declspec(dllexport) void MemoryManagerModuleHoldLock() { kbl_detail::HoldMemoryManagerLock(); }

// Runs `body` holding the lock as the manager's own code does.
extern "C" __declspec(dllexport) void MemoryManagerModuleRunHoldingLock(void (*body)()) {
  kbl_detail::RunHoldingMemoryManagerLock([](void* data) { reinterpret_cast<void (*)()>(data)(); },
                                          reinterpret_cast<void*>(body));
}

// Holding the lock, runs `wait` as a thread waiting for an exception's processing does: the lock
// given up first, as the exception handler gives it up.
extern "C" __declspec(dllexport) void MemoryManagerModuleWaitHoldingLock(void (*wait)()) {
  kbl_detail::RunHoldingMemoryManagerLock(
      [](void* data) {
        GiveUpMemoryManagerLockOfThisThread();
        reinterpret_cast<void (*)()>(data)();
      },
      reinterpret_cast<void*>(wait));
}

// Keeps a small block until the module ends. The holder is made on the first call, after the
// memory manager's own end was set up, so its finaliser runs before the manager's end.
extern "C" __declspec(dllexport) void MemoryManagerModuleKeepUntilEnd() {
  struct TKept {
    void* block = GetMem(48);
    ~TKept() { FreeMem(block); }
  };
  static TKept kept;
}

// Keeps `count` more small blocks (up to 1,000) until the module ends, freed by one finaliser, as a
// plug-in's statics free their lists at the unload.
extern "C" __declspec(dllexport) void MemoryManagerModuleKeepManyUntilEnd(unsigned count) {
  struct TKept {
    void* blocks[1000] = {};
    ~TKept() {
      for (void* block : blocks) FreeMem(block);
    }
  };
  static TKept kept;
  for (unsigned i = 0; i < count && i < 1000; ++i) kept.blocks[i] = GetMem(48);
}

// Allocates and frees a small block; answers whether the chunks served it.
extern "C" __declspec(dllexport) bool MemoryManagerModuleRoundTrip() {
  void* block = GetMem(32);
  const bool fromChunks = SmallBlockOf(block) != nullptr;
  FreeMem(block);
  return fromChunks;
}

extern "C" __declspec(dllexport) void* MemoryManagerModuleGetMem(unsigned size) { return GetMem(size); }
extern "C" __declspec(dllexport) void MemoryManagerModuleFreeMem(void* block) { FreeMem(block); }

// From now on every thread's end (under the system's loader lock) allocates and frees a block.
extern "C" __declspec(dllexport) void MemoryManagerModuleRoundTripAtThreadEnds() { gRoundTripAtThreadEnds = true; }

// The next thread to start takes the lock, once free, and keeps it with no trace: the word then
// names a live thread outside the code, as when a new thread got a dead holder's id.
extern "C" __declspec(dllexport) void MemoryManagerModuleHoldAtNextThreadStart() { gHoldAtNextThreadStart = true; }

// The next look at the lock's holder pauses where `at` says (a kbl_detail::TLookPause) until let go.
extern "C" __declspec(dllexport) void MemoryManagerModulePauseNextLook(int at) {
  kbl_detail::PauseNextLook(static_cast<kbl_detail::TLookPause>(at));
}
extern "C" __declspec(dllexport) bool MemoryManagerModuleLookPaused() { return kbl_detail::LookPaused(); }
extern "C" __declspec(dllexport) void MemoryManagerModuleLetPausedLookGo() { kbl_detail::LetPausedLookGo(); }

// The looks at the lock's holder this module's waiters asked for so far.
extern "C" __declspec(dllexport) unsigned MemoryManagerModuleLooks() { return kbl_detail::LooksAtLockHolders(); }
