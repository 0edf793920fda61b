// One-pole smoother of the engine's mix gains.
#include "TSmoothedParameter.h"

void TSmoothedParameter::SetValue(bool glide, float v) {
  value_.store(v, std::memory_order_relaxed);
  target_.store(v, std::memory_order_relaxed);
  if (!glide) current_.store(v, std::memory_order_relaxed);
}
