// The Win32 halves of the records under Wine: exports of a real system DLL and the removal of
// threads that have ended.
#include "exceptions/capture/EmberRecords.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "Emulation.h"

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

TEST(ThreadsListWin32, CurrentThreadIDIsTheSystems) {
  EXPECT_EQ(EmberCurrentThreadID(), GetCurrentThreadId());
}

}  // namespace
