// The memory manager's lock along the paths next to its looks at a holder: a waiter stopped in the
// middle of a look leaves no later waiter waiting for ever; a live holder inside is never taken
// for gone, whatever it does there and whatever rights its thread gives; a holder kept suspended
// does not make every call wait for it anew; a lock left parked for good (its holder killed or
// unwound while parked), a block freed while the lock was parked, and a thread the lock word names
// without being inside (it took a dead holder's id, or it left by an unwind) all leave the chunks
// given up and the empty ones given back at the unload.
#include "classlib/MemoryManager.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <atomic>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FailAfter.h"

#ifdef _WIN32
namespace {

// The test module's entries (MemoryManagerModule.cpp), in a fresh load of it.
struct TModule {
  HMODULE Module = LoadLibraryA("memorymanagermodule.dll");
  void (*RunHoldingLock)(void (*)()) = Entry<void (*)(void (*)())>("MemoryManagerModuleRunHoldingLock");
  void (*WaitHoldingLock)(void (*)()) = Entry<void (*)(void (*)())>("MemoryManagerModuleWaitHoldingLock");
  bool (*RoundTrip)() = Entry<bool (*)()>("MemoryManagerModuleRoundTrip");
  void* (*Get)(unsigned) = Entry<void* (*)(unsigned)>("MemoryManagerModuleGetMem");
  void (*Free)(void*) = Entry<void (*)(void*)>("MemoryManagerModuleFreeMem");

  template <class T>
  T Entry(const char* name) const {
    return Module != nullptr ? reinterpret_cast<T>(GetProcAddress(Module, name)) : nullptr;
  }
  bool Complete() const { return RunHoldingLock && WaitHoldingLock && RoundTrip && Get && Free; }
};
TModule* gModule = nullptr;

// The suspension count of a thread, read without suspending it (ThreadSuspendCount).
LONG SuspendCountOf(HANDLE thread) {
  using TQuery = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
  static const auto query =
      reinterpret_cast<TQuery>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread"));
  ULONG count = 0;
  if (query == nullptr || query(thread, 35, &count, sizeof count, nullptr) != 0) return -1;
  return static_cast<LONG>(count);
}

HANDLE gHolding = nullptr;  // set once the holder is inside
HANDLE gRelease = nullptr;  // lets the holder give the lock back

DWORD WINAPI HoldUntilReleased(void*) {
  gModule->RunHoldingLock([] {
    SetEvent(gHolding);
    WaitForSingleObject(gRelease, INFINITE);
  });
  return 0;
}

DWORD WINAPI HoldUntilKilled(void*) {
  gModule->RunHoldingLock([] {
    SetEvent(gHolding);
    Sleep(INFINITE);
  });
  return 0;
}

std::atomic<int> gServed{0};

DWORD WINAPI RoundTripOnce(void*) {
  gServed += gModule->RoundTrip() ? 1 : 0;
  return 0;
}

}  // namespace

// A waiter looks at the lock's holder by suspending it for a moment. A waiter that stops in the
// middle of its look, with the holder suspended (killed as a host kills a busy thread, or kept
// suspended as the exception processing keeps the program's threads for its report), leaves the
// holder suspended for good: the waiters after it must still not wait for ever.
TEST(MemoryManagerAttack, AWaiterStoppedInTheMiddleOfALookLeavesNoOneWaitingForEver) {
  ASSERT_GE(SuspendCountOf(GetCurrentThread()), 0) << "the system cannot tell a thread's suspension count";
  for (bool killed : {true, false}) {
    SCOPED_TRACE(killed ? "the looker killed" : "the looker kept suspended");
    TModule module;
    ASSERT_TRUE(module.Complete());
    gModule = &module;
    gHolding = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    gRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE holder = CreateThread(nullptr, 0, &HoldUntilReleased, nullptr, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(gHolding, 10000), WAIT_OBJECT_0);
    // The looker waits for the lock and looks at the holder every few sleeps; it is caught while
    // it keeps the holder suspended.
    HANDLE looker = CreateThread(nullptr, 0, &RoundTripOnce, nullptr, 0, nullptr);
    bool caught = false;
    for (DWORD start = GetTickCount(); !caught && GetTickCount() - start < 20000;) {
      if (SuspendCountOf(holder) == 0) continue;
      SuspendThread(looker);
      caught = SuspendCountOf(holder) == 1;
      if (!caught) ResumeThread(looker);
    }
    ASSERT_TRUE(caught) << "the looker never suspended the holder";
    if (killed) TerminateThread(looker, 1);
    gServed = 0;
    {
      const TFailAfter bound(20000, "a waiter waits for ever for a holder a stopped look left suspended");
      HANDLE next = CreateThread(nullptr, 0, &RoundTripOnce, nullptr, 0, nullptr);
      WaitForSingleObject(next, INFINITE);
      CloseHandle(next);
    }
    EXPECT_EQ(gServed.load(), 0);  // from the C heap
    for (HANDLE thread : {looker, holder}) {
      TerminateThread(thread, 1);
      WaitForSingleObject(thread, 10000);
      CloseHandle(thread);
    }
    for (HANDLE handle : {gHolding, gRelease}) CloseHandle(handle);
    FreeLibrary(module.Module);
  }
  gModule = nullptr;
}

namespace {

// What a live holder does inside the lock for a while (longer than a waiter takes to look twice).
enum class TInside { Sleeping, Spinning, RaisingHandledBelow, Restricted };

TInside gInside = TInside::Sleeping;

LONG CALLBACK ContinueAfterRaise(EXCEPTION_POINTERS* info) {
  return info->ExceptionRecord->ExceptionCode == 0xE0001234u ? EXCEPTION_CONTINUE_EXECUTION : EXCEPTION_CONTINUE_SEARCH;
}

void DoInside() {
  const DWORD start = GetTickCount();
  const auto forAWhile = [start] { return GetTickCount() - start < 400; };
  switch (gInside) {
    case TInside::Sleeping:
    case TInside::Restricted:
      Sleep(400);
      break;
    case TInside::Spinning:
      while (forAWhile()) {
      }
      break;
    case TInside::RaisingHandledBelow: {
      void* handler = AddVectoredExceptionHandler(1, &ContinueAfterRaise);
      while (forAWhile()) RaiseException(0xE0001234u, 0, 0, nullptr);
      RemoveVectoredExceptionHandler(handler);
      break;
    }
  }
}

DWORD WINAPI HoldDoingSomething(void*) {
  gModule->RunHoldingLock([] {
    SetEvent(gHolding);
    DoInside();
  });
  return 0;
}

// A thread whose rights no one else has (an empty access list), as a sandboxed host's threads.
HANDLE StartRestrictedThread(LPTHREAD_START_ROUTINE start) {
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  ACL acl;
  InitializeAcl(&acl, sizeof acl, ACL_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, &acl, FALSE);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  return CreateThread(&attributes, 0, start, nullptr, 0, nullptr);
}

}  // namespace

// A live holder legitimately inside for a while, whatever it does there, is waited for: the
// waiter is served by the chunks once the lock comes back, and the chunks are not given up.
TEST(MemoryManagerAttack, ALiveHolderInsideIsNeverJudgedGone) {
  const struct {
    TInside Inside;
    const char* Name;
  } cases[] = {{TInside::Sleeping, "sleeping"},
               {TInside::Spinning, "running"},
               {TInside::RaisingHandledBelow, "raising exceptions handled below the lock"},
               {TInside::Restricted, "on a thread whose access list grants nothing"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TModule module;
    ASSERT_TRUE(module.Complete());
    gModule = &module;
    gInside = c.Inside;
    gHolding = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE holder = c.Inside == TInside::Restricted ? StartRestrictedThread(&HoldDoingSomething)
                                                    : CreateThread(nullptr, 0, &HoldDoingSomething, nullptr, 0, nullptr);
    ASSERT_NE(holder, nullptr);
    ASSERT_EQ(WaitForSingleObject(gHolding, 10000), WAIT_OBJECT_0);
    const TFailAfter bound(20000, "a waiter waits for ever for a live holder");
    gServed = 0;
    RoundTripOnce(nullptr);
    EXPECT_EQ(gServed.load(), 1) << "the waiter was not served by the chunks";
    WaitForSingleObject(holder, INFINITE);
    CloseHandle(holder);
    CloseHandle(gHolding);
    EXPECT_TRUE(module.RoundTrip()) << "the chunks were given up";
    FreeLibrary(module.Module);
  }
  gModule = nullptr;
}

namespace {

bool Reserved(const void* address) {
  MEMORY_BASIC_INFORMATION info{};
  return VirtualQuery(address, &info, sizeof info) == sizeof info && info.State != MEM_FREE;
}

// How the lock's holder ends up while its lock is parked (it waits for the processing of an
// exception raised under the lock).
enum class TParked { Killed, LeftByUnwind, FreedMeanwhileThenAHolderKilled };
TParked gParked = TParked::Killed;
void* gParkedBlock = nullptr;
std::jmp_buf gLeftParked;

DWORD WINAPI FreeTheParkedBlock(void*) {
  gModule->Free(gParkedBlock);
  return 0;
}

DWORD WINAPI WaitForTheProcessingHoldingTheLock(void*) {
  if (setjmp(gLeftParked) != 0) return 0;
  gModule->WaitHoldingLock([] {
    if (gParked == TParked::FreedMeanwhileThenAHolderKilled) {
      // Another thread frees a block while the lock is parked; then the processing ends.
      HANDLE other = CreateThread(nullptr, 0, &FreeTheParkedBlock, nullptr, 0, nullptr);
      WaitForSingleObject(other, INFINITE);
      CloseHandle(other);
      return;
    }
    SetEvent(gHolding);
    if (gParked == TParked::LeftByUnwind) std::longjmp(gLeftParked, 1);  // a host's handler outside
    Sleep(INFINITE);
  });
  return 0;
}

}  // namespace

// The lock is parked while its holder waits for the processing of an exception raised under it.
// The holder is killed there (as a host kills a thread that hangs), or leaves by a host handler's
// unwind; or it gives the lock back, but a block was freed meanwhile, and a later holder is killed.
// In each case the holder that never gives the lock back is gone: the chunks are given up, and the
// chunk whose only block was freed goes back to the system at the unload.
TEST(MemoryManagerAttack, TheChunksGoBackAtTheUnloadAfterAParkedLock) {
  const struct {
    TParked How;
    const char* Name;
  } cases[] = {{TParked::Killed, "the parked holder killed"},
               {TParked::LeftByUnwind, "the parked holder left by an unwind"},
               {TParked::FreedMeanwhileThenAHolderKilled, "a block freed while parked, then a holder killed"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TModule module;
    ASSERT_TRUE(module.Complete());
    gModule = &module;
    gParked = c.How;
    gParkedBlock = module.Get(200);  // the only block of its chunk
    gHolding = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE holder = CreateThread(nullptr, 0, &WaitForTheProcessingHoldingTheLock, nullptr, 0, nullptr);
    if (c.How == TParked::FreedMeanwhileThenAHolderKilled) {
      WaitForSingleObject(holder, INFINITE);
      CloseHandle(holder);
      holder = CreateThread(nullptr, 0, &HoldUntilKilled, nullptr, 0, nullptr);
    }
    ASSERT_EQ(WaitForSingleObject(gHolding, 10000), WAIT_OBJECT_0);
    if (c.How != TParked::LeftByUnwind) TerminateThread(holder, 1);
    WaitForSingleObject(holder, INFINITE);
    CloseHandle(holder);
    CloseHandle(gHolding);
    {
      const TFailAfter bound(20000, "a call or the unload waits for ever for a holder that left a parked lock");
      EXPECT_FALSE(module.RoundTrip());
      if (c.How != TParked::FreedMeanwhileThenAHolderKilled) module.Free(gParkedBlock);
      EXPECT_TRUE(FreeLibrary(module.Module));
    }
    EXPECT_FALSE(Reserved(gParkedBlock)) << "the chunk whose only block was freed stays taken after the unload";
  }
  gModule = nullptr;
}

// A holder kept suspended inside (by a debugger, a host that stops a hung thread): a close that
// frees its objects, a few thousand blocks, returns as a close does, each call taking a block of
// the C heap or leaving its block without waiting anew for the holder each time.
TEST(MemoryManagerAttack, ACloseFreeingManyBlocksReturnsWhileTheHolderIsKeptSuspended) {
  TModule module;
  ASSERT_TRUE(module.Complete());
  gModule = &module;
  std::vector<void*> objects(3000);
  for (void*& block : objects) block = module.Get(48);
  gHolding = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  gRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE holder = CreateThread(nullptr, 0, &HoldUntilReleased, nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(gHolding, 10000), WAIT_OBJECT_0);
  SuspendThread(holder);
  {
    const TFailAfter bound(30000, "a close freeing 3,000 blocks waits for a suspended holder at every block");
    for (void* block : objects) module.Free(block);
  }
  ResumeThread(holder);
  SetEvent(gRelease);
  WaitForSingleObject(holder, INFINITE);
  for (HANDLE handle : {holder, gHolding, gRelease}) CloseHandle(handle);
  FreeLibrary(module.Module);
  gModule = nullptr;
}

namespace {

DWORD gDeadHolderId = 0;
void* gOnlyBlock = nullptr;
bool gCloserServedByChunks = true;
bool gCloserUnloaded = false;
std::jmp_buf gOutside;

// The module's last calls and its unload, as a host's thread makes them at a close.
void CloseTheModule() {
  gCloserServedByChunks = gModule->RoundTrip();
  gModule->Free(gOnlyBlock);
  gCloserUnloaded = FreeLibrary(gModule->Module) != 0;
}

// Run by threads made until one has the dead holder's id: that one closes the module.
DWORD WINAPI CloseIfItHasTheId(void*) {
  if (GetCurrentThreadId() != gDeadHolderId) return 0;
  CloseTheModule();
  return 1;
}

// Takes the lock as the manager's code does, leaves that code by the system's unwind (a crash the
// host's handler survived), then closes the module itself.
DWORD WINAPI LeaveByAnUnwindThenClose(void*) {
  if (setjmp(gOutside) == 0) gModule->RunHoldingLock([] { std::longjmp(gOutside, 1); });
  CloseTheModule();
  return 1;
}

}  // namespace

// The lock word names the thread that closes the module, but that thread is not inside the code
// that took the lock: it got the id of a holder killed inside, or it is the holder itself after a
// host's handler unwound past that code. The lock is not its own: the holder is gone, so the
// chunks are given up and the empty one goes back at the unload.
TEST(MemoryManagerAttack, AThreadNamedByTheLockWordButNotInsideDoesNotOwnTheLock) {
  for (bool idTaken : {true, false}) {
    SCOPED_TRACE(idTaken ? "a dead holder's id taken by the closing thread" : "the holder left by an unwind, then closes");
    TModule module;
    ASSERT_TRUE(module.Complete());
    gModule = &module;
    gOnlyBlock = module.Get(200);  // the only block of its chunk
    gCloserUnloaded = false;
    gCloserServedByChunks = true;
    const TFailAfter bound(30000, "the thread named by the lock word waits for ever");
    if (idTaken) {
      gHolding = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      HANDLE holder = CreateThread(nullptr, 0, &HoldUntilKilled, nullptr, 0, &gDeadHolderId);
      ASSERT_EQ(WaitForSingleObject(gHolding, 10000), WAIT_OBJECT_0);
      TerminateThread(holder, 1);
      WaitForSingleObject(holder, INFINITE);
      CloseHandle(holder);  // the id goes back to the system with the last handle
      CloseHandle(gHolding);
      bool found = false;
      for (int tries = 0; tries < 20000 && !found; ++tries) {
        HANDLE thread = CreateThread(nullptr, 0, &CloseIfItHasTheId, nullptr, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        DWORD code = 0;
        GetExitCodeThread(thread, &code);
        CloseHandle(thread);
        found = code == 1;
      }
      ASSERT_TRUE(found) << "no new thread took the id";
    } else {
      HANDLE thread = CreateThread(nullptr, 0, &LeaveByAnUnwindThenClose, nullptr, 0, nullptr);
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
    }
    EXPECT_FALSE(gCloserServedByChunks);
    EXPECT_TRUE(gCloserUnloaded);
    EXPECT_FALSE(Reserved(gOnlyBlock)) << "the chunks were never given up: the empty one stays taken after the unload";
  }
  gModule = nullptr;
}
#endif
