// The Win32 halves of the records under Wine: exports of a real system DLL, the removal of
// threads that have ended, and the threads list's lock held by a thread that is killed.
#include "exceptions/capture/EmberRecords.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "Emulation.h"
#include "ThreadSuspension.h"

namespace {

TEST(FunctionsListWin32, ExportsOfKernel32MatchGetProcAddress) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  TEmberFunctionsList list;
  ASSERT_TRUE(LoadModuleFunctions(reinterpret_cast<uintptr_t>(kernel), list));
  ASSERT_GT(list.Count(), 100);
  int checked = 0;
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TEmberFunctionInfo* info = list.GetItem(i);
    if (i > 0) {
      EXPECT_LE(list.GetItem(i - 1)->Address, info->Address);
    }
    if (info->Name == "GetTickCount" || info->Name == "CreateThread" || info->Name == "HeapAlloc") {
      EXPECT_EQ(info->Address, reinterpret_cast<uintptr_t>(GetProcAddress(kernel, info->Name.c_str())))
          << info->Name;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 3);
}

DWORD WINAPI EndAtOnce(void*) { return 0; }
DWORD WINAPI WaitForEvent(void* event) {
  WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
  return 259;  // the code GetExitCodeThread also uses for a running thread
}

TEST(ThreadsListWin32, RemoveDeadThreadsKeepsTheRunningOnes) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE ended = CreateThread(nullptr, 0, EndAtOnce, nullptr, 0, nullptr);
  HANDLE running = CreateThread(nullptr, 0, WaitForEvent, event, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(ended, MachineBound(5000)), WAIT_OBJECT_0);
  TEmberThreadsList threads;
  threads.NewItem(true)->Handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ended));
  TEmberThreadInfo* live = threads.NewItem(true);
  live->Handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(running));
  live->CallerStack = AllocateCallerStack(16);
  threads.RemoveDeadThreads();
  ASSERT_EQ(threads.Count(), 1);
  EXPECT_EQ(threads.GetItem(0), live);

  SetEvent(event);
  ASSERT_EQ(WaitForSingleObject(running, MachineBound(5000)), WAIT_OBJECT_0);
  threads.RemoveDeadThreads();  // ended with code 259, and still recognised as ended
  EXPECT_EQ(threads.Count(), 0);
  CloseHandle(ended);
  CloseHandle(running);
  CloseHandle(event);
}

struct TListUse {
  TEmberThreadsList* List;
  bool Write;
  HANDLE Entered;
  int32_t CountRead;
};

DWORD WINAPI HoldTheList(void* data) {
  auto* use = static_cast<TListUse*>(data);
  if (use->Write)
    use->List->BeginWrite();
  else
    use->List->BeginRead();
  SetEvent(use->Entered);
  Sleep(INFINITE);
  return 0;
}

DWORD WINAPI ReadThenWrite(void* data) {
  auto* use = static_cast<TListUse*>(data);
  use->List->BeginRead();
  use->CountRead = use->List->Count();
  use->List->EndRead();
  use->List->BeginWrite();
  use->List->NewItem(true);
  use->List->EndWrite();
  return 0;
}

// A reader killed holding the lock holds it no longer; a writer killed there may have left the
// list half changed, and the next thread to have it finds it empty.
TEST(ThreadsListWin32, AThreadKilledHoldingTheLockHoldsItNoLonger) {
  const struct {
    bool Write;
    int32_t CountRead;
  } cases[] = {{false, 2}, {true, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Write ? "writer" : "reader");
    // Freed once no thread waits on them any more.
    auto* threads = new TEmberThreadsList;
    threads->NewItem(true);
    threads->NewItem(true)->CallerStack = AllocateCallerStack(16);
    auto* use = new TListUse{threads, c.Write, CreateEventA(nullptr, TRUE, FALSE, nullptr), -1};
    HANDLE holder = CreateThread(nullptr, 0, &HoldTheList, use, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(use->Entered, MachineBound(10000)), WAIT_OBJECT_0);
    KillThread(holder, 9);
    HANDLE user = CreateThread(nullptr, 0, &ReadThenWrite, use, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(user, MachineBound(10000)), WAIT_OBJECT_0);
    EXPECT_EQ(use->CountRead, c.CountRead);
    EXPECT_EQ(threads->Count(), c.CountRead + 1);
    CloseHandle(user);
    CloseHandle(holder);
    CloseHandle(use->Entered);
    delete use;
    delete threads;
  }
}

TEST(ThreadsListWin32, CurrentThreadIDIsTheSystems) {
  EXPECT_EQ(EmberCurrentThreadID(), GetCurrentThreadId());
}

}  // namespace
