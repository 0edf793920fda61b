// Critical sections: a recursive lock, as the original platform's TCriticalSection.
#pragma once

#include <mutex>

#include "System.h"

// Recursive mutual exclusion. Enter may be called again by the thread that holds it.
class TCriticalSection : public TObject {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  bool TryEnter() { return mutex_.try_lock(); }
  void Acquire() { Enter(); }
  void Release() { Leave(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds a critical section for the lifetime of the guard.
class TLockGuard {
 public:
  explicit TLockGuard(TCriticalSection& section) : section_(section) { section_.Enter(); }
  ~TLockGuard() { section_.Leave(); }
  TLockGuard(const TLockGuard&) = delete;
  TLockGuard& operator=(const TLockGuard&) = delete;

 private:
  TCriticalSection& section_;
};
