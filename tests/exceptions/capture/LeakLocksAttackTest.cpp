// The locks of the leak list and the memory manager along the paths next to their looks at a
// holder, in child processes (a lock left taken stays so for the rest of a program): a waiter of
// the list stopped in the middle of a look leaves no later call (the stop of tracking that an
// unload runs) waiting for ever; a fault under the memory manager's lock, once processed by the
// library, is not waited for while it is with the host's handler.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ChildProcess.h"
#include "FailAfter.h"
#include "classlib/MemoryManager.h"
#include "exceptions/capture/ELeaks.h"
#include "exceptions/capture/ExceptionLog.h"

#ifdef _WIN32
namespace {

// The suspension count of a thread, read without suspending it (ThreadSuspendCount).
LONG SuspendCountOf(HANDLE thread) {
  using TQuery = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
  static const auto query =
      reinterpret_cast<TQuery>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread"));
  ULONG count = 0;
  if (query == nullptr || query(thread, 35, &count, sizeof count, nullptr) != 0) return -1;
  return static_cast<LONG>(count);
}

HANDLE gHolding = nullptr;
HANDLE gRelease = nullptr;
void* gTracked = nullptr;

DWORD WINAPI HoldListUntilReleased(void*) {
  ember_detail::RunHoldingLeakListLock(
      [](void*) {
        SetEvent(gHolding);
        WaitForSingleObject(gRelease, INFINITE);
      },
      nullptr);
  return 0;
}

DWORD WINAPI FreeTracked(void*) {
  LeakFree(gTracked);
  return 0;
}

DWORD WINAPI StopTracking(void*) {
  StopLeakTracking();
  return 0;
}

}  // namespace

// The child half: a thread holds the list lock (inside the tracker, as its own code does); a
// thread that waits for it is killed, or kept suspended, while its look keeps the holder
// suspended; then tracking is stopped, as the library's detach does at an unload.
TEST(LeakListAttack, StoppedLookerChild) {
  const char* how = std::getenv("KBL_STOPPED_LOOKER");
  if (how == nullptr) GTEST_SKIP() << "the child half of a test";
  ASSERT_GE(SuspendCountOf(GetCurrentThread()), 0) << "the system cannot tell a thread's suspension count";
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  gTracked = LeakAllocate(24, false);
  gHolding = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  gRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE holder = CreateThread(nullptr, 0, &HoldListUntilReleased, nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(gHolding, 10000), WAIT_OBJECT_0);
  HANDLE looker = CreateThread(nullptr, 0, &FreeTracked, nullptr, 0, nullptr);
  bool caught = false;
  for (DWORD start = GetTickCount(); !caught && GetTickCount() - start < 10000;) {
    if (SuspendCountOf(holder) == 0) continue;
    SuspendThread(looker);
    caught = SuspendCountOf(holder) == 1;
    if (!caught) ResumeThread(looker);
  }
  ASSERT_TRUE(caught) << "the looker never suspended the holder";
  if (std::string(how) == "killed") TerminateThread(looker, 1);
  HANDLE stop = CreateThread(nullptr, 0, &StopTracking, nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(stop, 15000), WAIT_OBJECT_0) << "stopping the tracking waits for ever";
  std::fflush(stdout);
  ExitProcess(0);  // the holder and the looker are left as they are
}

// A waiter of the list lock stopped in the middle of its look (killed as a host kills a busy
// thread, or kept suspended as the exception processing keeps the program's threads for its
// report) leaves the holder suspended for good: the stop of tracking must still return.
TEST(LeakListAttack, AWaiterStoppedInTheMiddleOfALookLeavesNoOneWaitingForEver) {
  for (const char* how : {"killed", "suspended"}) {
    SCOPED_TRACE(how);
    const TChildRun run = RunChildProcess("--gtest_filter=LeakListAttack.StoppedLookerChild", {{"KBL_STOPPED_LOOKER", how}}, 30000);
    ASSERT_TRUE(run.Started);
    EXPECT_TRUE(run.Ended) << "the child never ended";
    EXPECT_EQ(run.ExitCode, 0u) << "stopping the tracking waits for ever";
  }
}

namespace {

uint8_t* gNoAccess = nullptr;
int gProcessedFaults = 0;
std::atomic<bool> gOtherServed{false};

DWORD WINAPI AllocateAndFree(void*) {
  char* block = new char[40];
  asm volatile("" : : "g"(block) : "memory");  // a block really made
  delete[] block;
  gOtherServed = true;
  return 0;
}

// The host's structured handler around its call into the module: it is asked about the fault
// after the library's processing, while the faulting thread still holds what it held. Like a
// host's crash handler that shows a message box or waits for its other threads, it needs another
// thread to get on (here: to allocate once), then lets the fault go on.
EXCEPTION_DISPOSITION __cdecl HostHandler(EXCEPTION_RECORD* record, void*, CONTEXT*, void*) {
  if ((record->ExceptionFlags & 6) != 0 || record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION)
    return ExceptionContinueSearch;
  HANDLE other = CreateThread(nullptr, 0, &AllocateAndFree, nullptr, 0, nullptr);
  WaitForSingleObject(other, INFINITE);
  CloseHandle(other);
  DWORD old = 0;
  VirtualProtect(gNoAccess, 4096, PAGE_READWRITE, &old);
  return ExceptionContinueExecution;
}

uint8_t ProcessQuickly(const TEmberNotifyArgs&) {
  ++gProcessedFaults;
  return 1;
}

}  // namespace

// The child half: a fault under the memory manager's lock, processed by the library, then seen
// by the host's handler.
TEST(LockAttack, FaultSeenByTheHostChild) {
  if (std::getenv("KBL_HOST_FILTER_CHILD") == nullptr) GTEST_SKIP() << "the child half of a test";
  StartExceptionLog();
  ASSERT_EQ(EmberLibrary().LibraryOn.load(), 1);
  SetProcessExceptionProc(&ProcessQuickly);
  gNoAccess = static_cast<uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS));
  struct TRegistration {
    TRegistration* next;
    void* handler;
  } registration{nullptr, reinterpret_cast<void*>(&HostHandler)};
  asm volatile("movl %%fs:0, %0" : "=r"(registration.next));
  asm volatile("movl %0, %%fs:0" : : "r"(&registration) : "memory");
  const bool ran = kbl_detail::RunHoldingMemoryManagerLock(
      [](void*) { *static_cast<volatile uint8_t*>(gNoAccess) = 1; }, nullptr);
  asm volatile("movl %0, %%fs:0" : : "r"(registration.next) : "memory");
  EXPECT_TRUE(ran);
  EXPECT_TRUE(gOtherServed.load());
  EXPECT_EQ(gProcessedFaults, 1);
  std::fflush(stdout);
  ExitProcess(::testing::UnitTest::GetInstance()->current_test_info()->result()->Failed() ? 1 : 0);
}

// A fault under the memory manager's lock is processed by the library (the lock parked meanwhile)
// and then goes on to the host's structured handler, which runs while the faulting thread still
// holds the lock, in the host's code. A host handler that needs another thread of the plug-in to
// get on (a crash box whose owner window is the editor's thread, a wait for the audio thread)
// must not wait for ever for the lock: the other thread's allocation returns.
TEST(LockAttack, NoOneWaitsForTheLockWhileAFaultUnderItIsWithTheHostsHandler) {
  const TChildRun run = RunChildProcess("--gtest_filter=LockAttack.FaultSeenByTheHostChild", {{"KBL_HOST_FILTER_CHILD", "1"}}, 20000);
  ASSERT_TRUE(run.Started);
  EXPECT_TRUE(run.Ended) << "the host's handler waits for ever for a thread that waits for the lock";
  EXPECT_EQ(run.ExitCode, 0u);
}
#endif
