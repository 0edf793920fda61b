// Flush-to-zero and denormals-are-zero for the span of an audio routine, restoring the caller's
// floating-point control state on the way out.
#pragma once

#include <cstdint>

#if defined(__SSE__) || defined(_M_X64) || defined(_M_IX86_FP)
#include <xmmintrin.h>
#define KBL_HAS_MXCSR 1
#else
#define KBL_HAS_MXCSR 0
#endif

// Sets FTZ and DAZ in the SSE control register while it lives. Decaying loops and gains gliding
// toward zero otherwise pass through subnormal floats, which cost a hundred times a normal
// operation on x86. Any thread; the state it changes is the calling thread's own.
class TDenormalGuard {
 public:
  static constexpr uint32_t kFlushToZero = 0x8000;
  static constexpr uint32_t kDenormalsAreZero = 0x0040;

#if KBL_HAS_MXCSR
  TDenormalGuard() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | kFlushToZero | kDenormalsAreZero); }
  ~TDenormalGuard() { _mm_setcsr(saved_); }
#else
  TDenormalGuard() = default;
  ~TDenormalGuard() = default;
#endif
  TDenormalGuard(const TDenormalGuard&) = delete;
  TDenormalGuard& operator=(const TDenormalGuard&) = delete;

 private:
#if KBL_HAS_MXCSR
  uint32_t saved_;
#endif
};
