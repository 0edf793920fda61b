// Long randomised runs of the engine: random parameters, block sizes and sample rates, alone and
// with a second thread changing the rate while audio runs. Meant for the sanitizer build, which
// reports any access outside the loop buffers or to a freed one.
#include "plugin/engine/T1973.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "EngineParameters.h"

namespace {

// Mostly sensible values, sometimes the edges and values no host should send.
float RandomValue(std::mt19937& random) {
  std::uniform_int_distribution<int> kind(0, 19);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  switch (kind(random)) {
    case 0: return 0.0f;
    case 1: return 1.0f;
    case 2: return 0.5f;
    case 3: return -0.3f;
    case 4: return 1.7f;
    default: return unit(random);
  }
}

int32_t RandomSampleRate(std::mt19937& random) {
  static const int32_t kRates[] = {1, 2, 50, 101, 201, 8000, 11025, 22050, 44100, 48000, 96000,
                                   192000, 0, -5, T1973::kMaxSampleRate + 7};
  std::uniform_int_distribution<size_t> pick(0, std::size(kRates) - 1);
  return kRates[pick(random)];
}

void SetRandomParameter(T1973& engine, std::mt19937& random) {
  const float v = RandomValue(random);
  SetEngineParameter(engine, std::uniform_int_distribution<int>(0, 13)(random), v, RandomValue(random));
}

void ExpectSane(const T1973& engine) {
  ASSERT_GE(engine.LastReadIndex(), 0);
  ASSERT_LT(engine.LastReadIndex(), engine.Length());
  ASSERT_GE(engine.ReadPosition(), 0.0f);
  ASSERT_LT(engine.ReadPosition(), 1.0f);
  ASSERT_GE(engine.WritePosition(), 0.0f);
  ASSERT_LT(engine.WritePosition(), 1.0f);
}

}  // namespace

TEST(EngineStress, RandomParametersAndRatesForManySeconds) {
  std::mt19937 random(1973);
  T1973 engine;
  constexpr int32_t kMaxBlock = 2048;
  std::vector<float> inL(kMaxBlock), inR(kMaxBlock), outL(kMaxBlock), outR(kMaxBlock);
  std::uniform_real_distribution<float> signal(-1.0f, 1.0f);
  std::uniform_int_distribution<int32_t> blockSize(0, kMaxBlock);
  int64_t frames = 0;
  const int64_t kTotal = 44100LL * 240;  // four minutes of audio
  while (frames < kTotal) {
    const int changes = std::uniform_int_distribution<int>(0, 6)(random);
    for (int c = 0; c < changes; ++c) SetRandomParameter(engine, random);
    if (std::uniform_int_distribution<int>(0, 300)(random) == 0) {
      const int32_t rate = RandomSampleRate(random);
      EXPECT_EQ(engine.SampleRateChanged(rate), T1973::IsSampleRateSupported(rate));
    }
    const int32_t n = blockSize(random);
    for (int32_t i = 0; i < n; ++i) inL[i] = signal(random), inR[i] = signal(random);
    engine.Process(inL.data(), inR.data(), outL.data(), outR.data(), n);
    for (int32_t i = 0; i < n; ++i) {
      // Input at most 1, loop at most 1 (stored samples are clipped), gains at most 1.
      ASSERT_TRUE(std::isfinite(outL[i]) && std::isfinite(outR[i]));
      ASSERT_LE(std::fabs(outL[i]), 2.0001f);
      ASSERT_LE(std::fabs(outR[i]), 2.0001f);
    }
    ExpectSane(engine);
    frames += n;
  }
}

TEST(EngineStress, InPlaceProcessingReadsEachInputBeforeWritingIt) {
  T1973 engine;
  engine.SetPlay(false);
  engine.DryGain().SetValue(false, 1.0f);
  engine.SetMix(0.0f);
  engine.DryGain().SetValue(false, 1.0f);
  std::vector<float> left(256), right(256);
  for (int i = 0; i < 256; ++i) left[i] = right[i] = static_cast<float>(i) / 256.0f;
  engine.Process(left.data(), right.data(), left.data(), right.data(), 256);
  for (int i = 0; i < 256; ++i) ASSERT_NEAR(left[i], static_cast<float>(i) / 256.0f, 1e-3f);
}

TEST(EngineStress, RateChangesWhileAnotherThreadProcesses) {
  T1973 engine;
  engine.SetRecord(true);
  engine.SetFeedBack(0.9f);
  std::atomic<bool> stop{false};
  std::atomic<int64_t> blocks{0};
  std::thread audio([&] {
    std::vector<float> in(512, 0.25f), outL(512), outR(512);
    while (!stop.load()) {
      engine.Process(in.data(), in.data(), outL.data(), outR.data(), 512);
      blocks.fetch_add(1);
    }
  });
  std::mt19937 random(7);
  for (int i = 0; i < 300; ++i) {
    engine.SampleRateChanged(RandomSampleRate(random));
    for (int c = 0; c < 20; ++c) SetRandomParameter(engine, random);
    engine.SetRecord(true);
    const TLoopBufferView view = engine.Buffer();  // what the editor reads
    float sum = 0.0f;
    for (int32_t k = 0; k < view.length; k += 97) sum += view.left[k];
    ASSERT_TRUE(std::isfinite(sum));
  }
  stop.store(true);
  audio.join();
  EXPECT_GT(blocks.load(), 0);
  ExpectSane(engine);
}
