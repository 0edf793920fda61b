// Exchanging two 32-bit values.
#pragma once

#include <cstdint>

// Any thread.
inline void Swap(int32_t& a, int32_t& b) {
  const int32_t t = a;
  a = b;
  b = t;
}
