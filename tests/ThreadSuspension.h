// Catching a waiter for a lock while the holder is suspended for a look at it: the suspension
// count of a thread read without suspending it, the wait until the holder is suspended for a
// look, and the wait until it runs again; and a thread killed where it stopped.
#pragma once

#ifdef _WIN32
#include <windows.h>

// The suspension count of a thread, read without suspending it (ThreadSuspendCount); -1 when the
// system cannot tell.
inline LONG SuspendCountOf(HANDLE thread) {
  using TQuery = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
  static const auto query =
      reinterpret_cast<TQuery>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread"));
  ULONG count = 0;
  if (query == nullptr || query(thread, 35, &count, sizeof count, nullptr) != 0) return -1;
  return static_cast<LONG>(count);
}

// Suspends `thread` and answers once it has stopped (where the system stops a thread some time
// after its suspension is asked, taking its context waits for that).
inline bool StopThread(HANDLE thread) {
  SuspendThread(thread);
  alignas(16) CONTEXT context{};
  context.ContextFlags = CONTEXT_CONTROL;
  return GetThreadContext(thread, &context) != 0;
}

// Ends `thread` once it has stopped. A thread killed where it runs may die inside the system's
// own code: under Wine, one killed while it closes a handle keeps the lock of the process's handle
// cache, and the process's next close never returns. A suspended thread stands outside it.
inline void KillThread(HANDLE thread, DWORD code) {
  StopThread(thread);
  TerminateThread(thread, code);
}

// Suspends `looker`, a thread waiting for the lock, at a moment when `holder` is suspended once,
// by the look at it, for at most `milliseconds`; false when it never was.
inline bool CatchLookerInItsLook(HANDLE looker, HANDLE holder, DWORD milliseconds) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < milliseconds;) {
    if (SuspendCountOf(holder) == 0) continue;
    if (StopThread(looker) && SuspendCountOf(holder) == 1) return true;
    ResumeThread(looker);
  }
  return false;
}

// True once nothing keeps `thread` suspended, within `milliseconds`.
inline bool RunsAgainWithin(HANDLE thread, DWORD milliseconds) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < milliseconds; Sleep(1))
    if (SuspendCountOf(thread) == 0) return true;
  return SuspendCountOf(thread) == 0;
}
#endif
