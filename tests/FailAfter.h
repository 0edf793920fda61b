// A bound on a step of a test that could hang: the program ends as a failure instead of stopping
// the whole run until ctest's own timeout.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <cstdio>

// From its construction until its destruction the step has `milliseconds`; past them `message`
// goes to stderr and the program ends with exit code 1. Its thread runs when the constructor
// returns, so the bound may cover a DLL's unload (a thread started during one would wait for the
// loader's lock itself).
class TFailAfter {
 public:
  TFailAfter(DWORD milliseconds, const char* message) : milliseconds_(milliseconds), message_(message) {
    running_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    done_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &Watch, this, 0, nullptr);
    WaitForSingleObject(running_, INFINITE);
  }
  ~TFailAfter() {
    SetEvent(done_);
    WaitForSingleObject(thread_, INFINITE);
    for (HANDLE handle : {thread_, done_, running_}) CloseHandle(handle);
  }
  TFailAfter(const TFailAfter&) = delete;
  TFailAfter& operator=(const TFailAfter&) = delete;

 private:
  static DWORD WINAPI Watch(void* self) {
    auto* bound = static_cast<TFailAfter*>(self);
    SetEvent(bound->running_);
    if (WaitForSingleObject(bound->done_, bound->milliseconds_) == WAIT_OBJECT_0) return 0;
    std::fprintf(stderr, "FAILED: %s\n", bound->message_);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 1);
    return 1;
  }

  DWORD milliseconds_;
  const char* message_;
  HANDLE running_, done_, thread_;
};
#endif
