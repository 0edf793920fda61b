// Counts heap allocations on the engine's audio path: none once the engine exists, whatever the
// parameters do.
#include "plugin/engine/T1973.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

namespace {
std::atomic<bool> counting{false};
std::atomic<int64_t> allocations{0};

void* Allocate(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try { return Allocate(size); } catch (...) { return nullptr; }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try { return Allocate(size); } catch (...) { return nullptr; }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

TEST(EngineAllocations, NoneWhileProcessingAndSettingParameters) {
  T1973 engine;
  std::vector<float> in(1024, 0.3f), outL(1024), outR(1024);
  std::mt19937 random(3);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  engine.Process(in.data(), in.data(), outL.data(), outR.data(), 1024);  // warm up

  allocations = 0;
  counting = true;
  for (int block = 0; block < 2000; ++block) {
    const float v = unit(random);
    switch (block % 12) {
      case 0: engine.SetPlay(v >= 0.5f); break;
      case 1: engine.SetRecord(v >= 0.5f); break;
      case 2: engine.SetPlayStart(v); break;
      case 3: engine.SetPlayEnd(v); break;
      case 4: engine.SetRecordStart(v); break;
      case 5: engine.SetRecordEnd(v); break;
      case 6: engine.SetRate(v); break;
      case 7: engine.SetInputLevel(v); break;
      case 8: engine.SetFeedBack(v); break;
      case 9: engine.SetMix(v); break;
      case 10: engine.SetFixed(v >= 0.5f); break;
      default: engine.SetSlave(v >= 0.5f); break;
    }
    const int32_t frames = 1 + static_cast<int32_t>(v * 1023);
    engine.Process(in.data(), in.data(), outL.data(), outR.data(), frames);
    (void)engine.Buffer();
  }
  counting = false;
  EXPECT_EQ(allocations.load(), 0);

  // The counter itself works: a rate change allocates the new buffer.
  counting = true;
  engine.SampleRateChanged(48000);
  counting = false;
  EXPECT_GT(allocations.load(), 0);
}
