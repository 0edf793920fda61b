// Exchanging two 32-bit values.
#pragma once

#include <cstdint>

// Any thread.
inline void Swap(int32_t& a, int32_t& b) {
  const int32_t t = a;
  a = b;
  b = t;
}

// Any thread.
inline void Swap(float& a, float& b) {
  const float t = a;
  a = b;
  b = t;
}
