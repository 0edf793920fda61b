// Counts heap allocations on the engine's audio path: none once the engine exists, whatever the
// parameters do.
#include "plugin/engine/T1973.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "AllocationCounter.h"
#include "EngineParameters.h"

using allocation_counter::allocations;
using allocation_counter::counting;

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
    SetEngineParameter(engine, block % 12, v);
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
