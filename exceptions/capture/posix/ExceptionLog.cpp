// Native half of the exception library's attachment: no system entries are replaced; the
// portable state, the central notification and the events work as on Windows.
#include "ExceptionLog.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

#include "EmberLogEvents.h"

void* GetModuleEventProc(uintptr_t, const char*) { return nullptr; }

extern "C" const std::exception* EmberLog_CallExceptObject(void*, void*, uint8_t) { return nullptr; }

namespace ember_detail {

uint32_t PlatformStackTop() {
  pthread_attr_t attributes;
  void* base = nullptr;
  size_t size = 0;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
  pthread_attr_getstack(&attributes, &base, &size);
  pthread_attr_destroy(&attributes);
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(base) + size);
}

uint32_t PlatformStackPointer() {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
}

bool PlatformIsMainModuleDll() { return false; }
uint32_t PlatformProcessID() { return static_cast<uint32_t>(getpid()); }
// Natively a program has no library data: the library always attaches, with the defaults.
bool PlatformLoadOwnOptions(TEmberModuleOptions&, uint8_t& leakFlags) {
  leakFlags = 0;
  return true;
}
void PlatformFocusedControl(TExceptNotifyParams&) {}
// Natively only the library's own buffers are handed in; null is the one bad pointer to refuse.
bool PlatformIsReadable(const void* address, uint32_t) { return address != nullptr; }
void PlatformPumpMessages(bool) {}
void PlatformCaptureRaiseContext(TEmberThreadVars& vars, uintptr_t address) { vars.RaiseAddress = address; }
// The system's last error of a thread is errno here.
uint32_t PlatformLastError() { return static_cast<uint32_t>(errno); }
void PlatformSetLastError(uint32_t error) { errno = static_cast<int>(error); }
// Raising a thread above its process's priority needs privileges natively: the worker keeps its own.
void PlatformRaiseThreadPriority() {}
// Threads here are not ended from outside: an heir's thread is always taken to be running.
uintptr_t PlatformHoldThread(uintptr_t) { return 0; }
uintptr_t PlatformHoldCurrentThread() { return 0; }
uintptr_t PlatformHoldStdThread(std::thread&) { return 0; }
// A timed mutex: the lock counts each thread's own holds, and no thread is killed here.
uintptr_t PlatformCreateLockObject() { return reinterpret_cast<uintptr_t>(new std::timed_mutex); }
void PlatformDestroyLockObject(uintptr_t object) { delete reinterpret_cast<std::timed_mutex*>(object); }
TLockWait PlatformWaitLockObject(uintptr_t object, uint32_t milliseconds, bool) {
  return reinterpret_cast<std::timed_mutex*>(object)->try_lock_for(std::chrono::milliseconds(milliseconds))
             ? TLockWait::Taken
             : TLockWait::TimedOut;
}
void PlatformReleaseLockObject(uintptr_t object) {
  if (object != 0) reinterpret_cast<std::timed_mutex*>(object)->unlock();
}
bool PlatformThreadEnded(uintptr_t) { return false; }
void PlatformReleaseThread(uintptr_t) {}
// Natively no thread has windows: a wait is a sleep.
bool PlatformHasMessageQueue() { return false; }
void PlatformWaitAnsweringSent(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
void PlatformAttach() {}
void PlatformDetach() {}

}  // namespace ember_detail
