// The delay/looper engine: regions, rates, crossfade, slave mode, clipping, sample-rate changes
// and the floating-point state around processing.
#include "plugin/engine/T1973.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "plugin/engine/TDenormalGuard.h"

namespace {

constexpr int32_t kUnit = 2048;

// The fixed-point position the play region's fraction maps to, worked out by hand from the
// engine's rule: 100 samples of margin at each end, single-precision product and sum.
int32_t ExpectedRegionPosition(float fraction, int32_t length) {
  const float product = static_cast<float>(length - 1 - 200) * fraction;
  const float sum = 100.0f + product;
  return static_cast<int32_t>(std::nearbyint(static_cast<double>(sum) * kUnit));
}

struct Block {
  explicit Block(int32_t frames, float fill = 0.0f)
      : inL(frames, fill), inR(frames, fill), outL(frames), outR(frames) {}
  std::vector<float> inL, inR, outL, outR;
  int32_t Frames() const { return static_cast<int32_t>(inL.size()); }
};

void RunBlock(T1973& engine, Block& block) {
  engine.Process(block.inL.data(), block.inR.data(), block.outL.data(), block.outR.data(),
                 block.Frames());
}

// Records `values` into the buffer from sample 0 on (left; right gets the negated values).
void Fill(T1973& engine, const std::vector<float>& values) {
  const bool wasPlaying = engine.Playing();
  const bool wasSlave = engine.Slave();
  engine.SetPlay(false);
  engine.SetSlave(false);
  engine.SetRate(1.0f);
  engine.SetRecordStart(0.0f);
  engine.SetRecordEnd(1.0f);
  engine.SetFeedBack(0.0f);
  engine.SetInputLevel(1.0f);
  engine.SetRecord(true);
  Block block(static_cast<int32_t>(values.size()));
  block.inL = values;
  for (size_t i = 0; i < values.size(); ++i) block.inR[i] = -values[i];
  RunBlock(engine, block);
  engine.SetRecord(false);
  engine.SetSlave(wasSlave);
  engine.SetPlay(wasPlaying);
}

std::vector<float> Ramp(int32_t count) {
  std::vector<float> values(count);
  for (int32_t i = 0; i < count; ++i) values[i] = static_cast<float>(i + 1) / (2.0f * count);
  return values;
}

// Output = loop only, at full level, from the first sample.
void WetOnly(T1973& engine) {
  engine.WetGain().SetValue(false, 1.0f);
  engine.DryGain().SetValue(false, 0.0f);
}

void RestartPlay(T1973& engine) {
  engine.SetPlay(false);
  engine.SetPlay(true);
}

}  // namespace

// --- Construction and parameters

TEST(Engine, NewEnginePlaysTheFirstQuarterInSlaveMode) {
  T1973 engine;
  EXPECT_EQ(engine.Length(), 88200);
  EXPECT_TRUE(engine.Playing());
  EXPECT_FALSE(engine.Recording());
  EXPECT_TRUE(engine.Slave());
  EXPECT_FALSE(engine.FixedParam());
  EXPECT_TRUE(engine.LinkRates());
  EXPECT_EQ(engine.PlayRegionStart(), 0.0f);
  EXPECT_EQ(engine.PlayRegionEnd(), 0.25f);
  EXPECT_EQ(engine.PendingStart(), 100 * kUnit);
  EXPECT_EQ(engine.PendingEnd(), ExpectedRegionPosition(0.25f, 88200));
  EXPECT_EQ(engine.PendingEnd(), 45260288);  // (100 + 87999 × 0.25) × 2048
  EXPECT_EQ(engine.ActiveStart(), engine.PendingStart());
  EXPECT_EQ(engine.ActiveEnd(), engine.PendingEnd());
  EXPECT_EQ(engine.ReadHead(), engine.PendingStart());
  // Slave mode: the record region is the play region.
  EXPECT_EQ(engine.RecordStart(), engine.PendingStart());
  EXPECT_EQ(engine.RecordEnd(), engine.PendingEnd());
  EXPECT_EQ(engine.RecordStartView(), 0.0f);
  EXPECT_EQ(engine.RecordEndView(), 0.25f);
  EXPECT_EQ(engine.RecordStartParam(), 0.0f);
  EXPECT_EQ(engine.RecordEndParam(), 1.0f);
  EXPECT_EQ(engine.ReadIncrement(), 2048);
  EXPECT_EQ(engine.WriteIncrement(), 2048);
  EXPECT_EQ(engine.InputLevel(), 1.0f);
  EXPECT_EQ(engine.FeedBack(), 0.0f);
  EXPECT_EQ(engine.MixParam(), 0.5f);
  EXPECT_EQ(engine.WetGain().Current(), 0.0f);
  EXPECT_FLOAT_EQ(engine.WetGain().Target(), std::sqrt(0.5f));
  EXPECT_FLOAT_EQ(engine.DryGain().Target(), std::sqrt(0.5f));
  EXPECT_EQ(engine.LastReadIndex(), 0);
  const TLoopBufferView buffer = engine.Buffer();
  for (int32_t i = 0; i < buffer.length; ++i) ASSERT_EQ(buffer.left[i], 0.0f);
}

TEST(Engine, RateGivesIncrementsFromOneEighthToRealTime) {
  T1973 engine;
  engine.SetRate(1.0f);
  EXPECT_EQ(engine.ReadIncrement(), 2048);
  engine.SetRate(0.5f);
  EXPECT_EQ(engine.ReadIncrement(), 455);  // 2048 / 4.5
  EXPECT_EQ(engine.WriteIncrement(), 455);
  engine.SetRate(0.0f);
  EXPECT_EQ(engine.ReadIncrement(), 256);
  EXPECT_EQ(engine.WriteIncrement(), 256);
  EXPECT_EQ(engine.RateParam(), 0.0f);
  // Out-of-range values count as the nearest end instead of dividing by zero.
  EXPECT_EQ(T1973::RateIncrement(8.0f / 7.0f), 2048);
  EXPECT_EQ(T1973::RateIncrement(-3.0f), 256);
  EXPECT_EQ(T1973::RateIncrement(NAN), 256);
}

TEST(Engine, UnlinkedRatesMoveTheirOwnIncrement) {
  T1973 engine;
  engine.SetLinkRates(false);
  engine.SetReadRate(0.0f);
  EXPECT_EQ(engine.ReadIncrement(), 256);
  EXPECT_EQ(engine.WriteIncrement(), 2048);
  engine.SetLinkRates(true);
  engine.SetWriteRate(0.5f);
  EXPECT_EQ(engine.ReadIncrement(), 455);
  EXPECT_EQ(engine.WriteIncrement(), 455);
}

TEST(Engine, FixedModeRegions) {
  T1973 engine;
  engine.SetFixed(true);
  engine.SetPlayStart(0.3f);
  engine.SetPlayEnd(0.5f);  // shortest region, forwards
  EXPECT_NEAR(engine.PlayRegionEnd() - engine.PlayRegionStart(), 0.0001f, 1e-7f);
  EXPECT_NEAR(engine.PlayRegionStart(), 0.3f * (1.0f - 0.0001f), 1e-7f);
  EXPECT_LT(engine.PendingStart(), engine.PendingEnd());

  engine.SetPlayEnd(0.0f);  // the whole usable buffer, backwards
  EXPECT_EQ(engine.PlayRegionStart(), 1.0f);
  EXPECT_EQ(engine.PlayRegionEnd(), 0.0f);
  EXPECT_EQ(engine.PendingStart(), (88200 - 1 - 100) * kUnit);
  EXPECT_EQ(engine.PendingEnd(), 100 * kUnit);

  engine.SetPlayEnd(0.75f);  // d = 0.5: a quarter of the buffer, placed by Play Start
  engine.SetPlayStart(1.0f);
  EXPECT_FLOAT_EQ(engine.PlayRegionStart(), 0.75f);
  EXPECT_FLOAT_EQ(engine.PlayRegionEnd(), 1.0f);

  engine.SetPlayEnd(0.4975f);  // d just below 0 becomes −0.01: shortest, backwards
  EXPECT_NEAR(engine.PlayRegionStart() - engine.PlayRegionEnd(), 0.0001f, 1e-7f);
  EXPECT_GT(engine.PendingStart(), engine.PendingEnd());

  engine.SetFixed(false);
  EXPECT_EQ(engine.PlayRegionStart(), 1.0f);
  EXPECT_EQ(engine.PlayRegionEnd(), 0.4975f);
  // Slave mode follows the recomputed region.
  EXPECT_EQ(engine.RecordStart(), engine.PendingStart());
  EXPECT_EQ(engine.RecordEnd(), engine.PendingEnd());
}

TEST(Engine, RegionsStayInsideTheBufferForAnyParameterValue) {
  T1973 engine;
  const int32_t lastPosition = (engine.Length() - 1) * kUnit;
  for (float v : {-5.0f, -0.01f, 1.01f, 7.0f, NAN, INFINITY}) {
    engine.SetPlayStart(v);
    engine.SetPlayEnd(v);
    engine.SetSlave(false);
    engine.SetRecordStart(v);
    engine.SetRecordEnd(v);
    for (int32_t p : {engine.PendingStart(), engine.PendingEnd(), engine.RecordStart(),
                      engine.RecordEnd()}) {
      EXPECT_GE(p, 0) << v;
      EXPECT_LE(p, lastPosition) << v;
    }
    engine.SetSlave(true);
  }
}

TEST(Engine, SlaveModeIgnoresAndLaterRestoresTheRecordRegion) {
  T1973 engine;
  engine.SetSlave(false);
  // Leaving slave mode restores the record region of the constructor.
  EXPECT_EQ(engine.RecordStartView(), 0.0f);
  EXPECT_EQ(engine.RecordEndView(), 1.0f);
  EXPECT_EQ(engine.RecordEnd(), 88199 * kUnit);
  engine.SetRecordStart(0.1f);
  engine.SetRecordEnd(0.2f);
  EXPECT_EQ(engine.RecordStart(), static_cast<int32_t>(std::nearbyint(88199.0 * 0.1f * kUnit)));
  EXPECT_EQ(engine.RecordRegionStartShown(), 0.1f);

  engine.SetPlayStart(0.4f);
  engine.SetPlayEnd(0.6f);
  engine.SetSlave(true);
  EXPECT_EQ(engine.RecordStartView(), 0.4f);  // read back as the play parameters
  EXPECT_EQ(engine.RecordEndView(), 0.6f);
  EXPECT_EQ(engine.RecordRegionStartShown(), engine.PlayRegionStart());
  engine.SetRecordStart(0.7f);  // ignored while slave
  engine.SetRecordEnd(0.9f);
  EXPECT_EQ(engine.RecordStartParam(), 0.1f);
  EXPECT_EQ(engine.RecordStart(), engine.PendingStart());

  engine.SetSlave(false);
  EXPECT_EQ(engine.RecordStartView(), 0.1f);
  EXPECT_EQ(engine.RecordEndView(), 0.2f);
  EXPECT_EQ(engine.RecordRegionEndShown(), 0.2f);
  EXPECT_EQ(engine.RecordEnd(), static_cast<int32_t>(std::nearbyint(88199.0 * 0.2f * kUnit)));
}

TEST(Engine, SwitchesActOnlyOnAChange) {
  T1973 engine;
  engine.SetSlave(false);
  engine.SetPlayStart(0.5f);  // pending region, not yet active
  EXPECT_NE(engine.ActiveStart(), engine.PendingStart());
  engine.SetPlay(true);  // already on: nothing restarts
  EXPECT_NE(engine.ActiveStart(), engine.PendingStart());
  RestartPlay(engine);
  EXPECT_EQ(engine.ActiveStart(), engine.PendingStart());
  EXPECT_EQ(engine.ReadHead(), engine.PendingStart());

  engine.SetRecordStart(0.25f);
  engine.SetRecord(true);
  EXPECT_EQ(engine.WriteHead(), engine.RecordStart());
  Block block(10);
  RunBlock(engine, block);
  EXPECT_EQ(engine.WriteHead(), engine.RecordStart() + 10 * kUnit);
  engine.SetRecord(true);
  EXPECT_EQ(engine.WriteHead(), engine.RecordStart() + 10 * kUnit);
  engine.SetRecord(false);  // either edge puts the write head back
  EXPECT_EQ(engine.WriteHead(), engine.RecordStart());
}

TEST(Engine, MixGlidesToEqualPowerGains) {
  T1973 engine;
  engine.SetMix(0.25f);
  EXPECT_FLOAT_EQ(engine.WetGain().Target(), 0.5f);
  EXPECT_FLOAT_EQ(engine.DryGain().Target(), std::sqrt(0.75f));
  engine.SetMix(2.0f);  // kept real
  EXPECT_EQ(engine.WetGain().Target(), 1.0f);
  EXPECT_EQ(engine.DryGain().Target(), 0.0f);

  // Output = input × dry + loop × wet with the gains in force before each step.
  T1973 fresh;
  fresh.SetPlay(false);
  fresh.DryGain().SetValue(false, 1.0f);
  fresh.SetMix(1.0f);
  Block block(3, 0.5f);
  RunBlock(fresh, block);
  const float c = 20.0f / 44100.0f;
  EXPECT_FLOAT_EQ(block.outL[0], 0.5f);
  EXPECT_FLOAT_EQ(block.outL[1], 0.5f * (1.0f - c));
  EXPECT_FLOAT_EQ(block.outL[2], 0.5f * (1.0f - c) * (1.0f - c));
}

// --- Playback

TEST(Engine, RateOneReadsOneSamplePerSampleAndRateZeroEachSampleEightTimes) {
  T1973 engine;
  const std::vector<float> ramp = Ramp(4000);
  Fill(engine, ramp);
  WetOnly(engine);
  RestartPlay(engine);  // slave mode, region starts at sample 100
  Block block(64);
  RunBlock(engine, block);
  for (int32_t k = 0; k < 64; ++k) {
    EXPECT_EQ(block.outL[k], ramp[100 + k]) << k;
    EXPECT_EQ(block.outR[k], -ramp[100 + k]) << k;
  }

  engine.SetRate(0.0f);
  RestartPlay(engine);
  RunBlock(engine, block);
  for (int32_t k = 0; k < 64; ++k) EXPECT_EQ(block.outL[k], ramp[100 + k / 8]) << k;
}

TEST(Engine, PlaybackOffKeepsTheLoopSilentAndOutOfTheRecording) {
  T1973 engine;
  Fill(engine, std::vector<float>(4000, 0.5f));
  WetOnly(engine);
  engine.SetPlay(false);
  engine.SetFeedBack(1.0f);
  engine.SetInputLevel(0.5f);
  engine.SetRecord(true);  // slave: writes at the read head
  Block block(64, 0.25f);
  RunBlock(engine, block);
  for (float out : block.outL) ASSERT_EQ(out, 0.0f);
  const TLoopBufferView buffer = engine.Buffer();
  EXPECT_EQ(buffer.left[101], 0.125f);  // input × level only; nothing fed back
}

TEST(Engine, EqualStartAndEndWrapsAtEverySample) {
  T1973 slave;
  slave.SetPlayStart(0.5f);
  slave.SetPlayEnd(0.5f);
  RestartPlay(slave);
  Block one(1);
  for (int i = 0; i < 5; ++i) {
    RunBlock(slave, one);
    EXPECT_EQ(slave.ReadHead(), slave.PendingStart());
  }

  T1973 engine;
  engine.SetSlave(false);
  engine.SetPlayStart(0.5f);
  engine.SetPlayEnd(0.5f);
  RestartPlay(engine);
  RunBlock(engine, one);
  EXPECT_TRUE(engine.Crossfading());
  Block crossfade(101);
  RunBlock(engine, crossfade);
  EXPECT_FALSE(engine.Crossfading());
  RunBlock(engine, one);  // the head left the region during the crossfade: wraps again at once
  EXPECT_TRUE(engine.Crossfading());
}

TEST(Engine, WrapCrossfadesOver101Samples) {
  T1973 engine;
  const std::vector<float> ramp = Ramp(3000);
  Fill(engine, ramp);
  engine.SetSlave(false);
  engine.SetPlayStart(0.0f);
  engine.SetPlayEnd(0.01f);
  RestartPlay(engine);
  WetOnly(engine);
  const int32_t start = engine.PendingStart();
  const int32_t end = engine.PendingEnd();
  int32_t n = 0;  // samples before the wrap
  while (start + (n + 1) * kUnit < end) ++n;
  ++n;
  Block block(n + 101 + 5);
  RunBlock(engine, block);
  auto at = [&](int32_t position) { return ramp[position / kUnit]; };
  for (int32_t k = 0; k < n; ++k) ASSERT_EQ(block.outL[k], at(start + k * kUnit)) << k;
  for (int32_t j = 0; j <= 100; ++j) {
    const float t = static_cast<float>(j) / 100.0f;
    const float expected = (1.0f - t) * at(start + (n + j) * kUnit) + t * at(start + j * kUnit);
    ASSERT_FLOAT_EQ(block.outL[n + j], expected) << j;
  }
  // After 101 samples the new head carries on alone.
  for (int32_t k = 0; k < 5; ++k)
    EXPECT_EQ(block.outL[n + 101 + k], at(start + (101 + k) * kUnit)) << k;
  EXPECT_FALSE(engine.Crossfading());
}

TEST(Engine, ChangedPlayRegionTakesEffectAtTheWrap) {
  T1973 engine;
  engine.SetPlayStart(0.0f);
  engine.SetPlayEnd(0.001f);
  RestartPlay(engine);
  const int32_t firstEnd = engine.ActiveEnd();
  engine.SetPlayStart(0.5f);
  engine.SetPlayEnd(0.6f);
  EXPECT_EQ(engine.ActiveEnd(), firstEnd);
  Block block(200);  // the short region (about 88 samples) wraps inside this block
  RunBlock(engine, block);
  EXPECT_EQ(engine.ActiveStart(), engine.PendingStart());
  EXPECT_EQ(engine.ActiveEnd(), engine.PendingEnd());
  EXPECT_GE(engine.ReadHead(), engine.PendingStart());
}

TEST(Engine, BackwardsRegionPlaysDownwards) {
  T1973 engine;
  const std::vector<float> ramp = Ramp(3000);
  Fill(engine, ramp);
  engine.SetPlayStart(0.02f);
  engine.SetPlayEnd(0.0f);
  RestartPlay(engine);
  WetOnly(engine);
  const int32_t start = engine.PendingStart();
  Block block(16);
  RunBlock(engine, block);
  for (int32_t k = 0; k < 16; ++k) EXPECT_EQ(block.outL[k], ramp[(start - k * kUnit) / kUnit]);
}

// --- Recording

TEST(Engine, StoredSamplesAreClippedToPlusMinusOne) {
  T1973 engine;
  Fill(engine, {0.5f, 1.5f, -3.0f, 1.0f, NAN, INFINITY});
  const TLoopBufferView buffer = engine.Buffer();
  EXPECT_EQ(buffer.left[0], 0.5f);
  EXPECT_EQ(buffer.left[1], 1.0f);
  EXPECT_EQ(buffer.left[2], -1.0f);
  EXPECT_EQ(buffer.right[2], 1.0f);
  EXPECT_EQ(buffer.left[3], 1.0f);
  EXPECT_EQ(buffer.left[4], 0.0f);  // a broken input does not poison the loop
  EXPECT_EQ(buffer.left[5], 1.0f);

  // Input plus fed-back loop is clipped as well.
  T1973 overdub;
  Fill(overdub, std::vector<float>(300, 0.8f));
  overdub.SetFeedBack(1.0f);
  overdub.SetRecord(true);  // slave: over the played region
  Block block(50, 0.8f);
  RunBlock(overdub, block);
  EXPECT_EQ(overdub.Buffer().left[120], 1.0f);
}

TEST(Engine, BackwardsRecordRegionWrapsAtItsEnd) {
  T1973 engine;
  engine.SetSlave(false);
  engine.SetRecordStart(10.0f / 88199.0f);
  engine.SetRecordEnd(0.0f);
  engine.SetRecord(true);
  Block block(25);
  for (int32_t k = 0; k < 25; ++k) block.inL[k] = static_cast<float>(k + 1) / 100.0f;
  RunBlock(engine, block);
  // 11 samples from index 10 down to 0, then again from 10.
  const TLoopBufferView buffer = engine.Buffer();
  EXPECT_EQ(buffer.left[10], 23.0f / 100.0f);
  EXPECT_EQ(buffer.left[0], 22.0f / 100.0f);
  EXPECT_EQ(buffer.left[11], 0.0f);
}

TEST(Engine, SlaveModeEchoesEveryRegionLengthLessOne) {
  // In slave mode the recording writes where the read head was one sample earlier, so an input
  // comes back one sample short of a full turn of the play region.
  T1973 engine;
  engine.SetPlayStart(0.0f);
  engine.SetPlayEnd(0.005f);
  RestartPlay(engine);
  const int32_t start = engine.PendingStart();
  const int32_t end = engine.PendingEnd();
  int32_t n = 0;
  while (start + (n + 1) * kUnit < end) ++n;
  ++n;  // samples per turn
  WetOnly(engine);
  engine.SetFeedBack(0.5f);
  engine.SetRecord(true);
  Block block(10 + 4 * n);
  block.inL[10] = 0.8f;
  RunBlock(engine, block);
  for (int32_t k = 0; k < block.Frames(); ++k) {
    float expected = 0.0f;
    if (k == 10 + (n - 1)) expected = 0.8f;
    if (k == 10 + 2 * (n - 1)) expected = 0.4f;
    if (k == 10 + 3 * (n - 1)) expected = 0.2f;
    if (k == 10 + 4 * (n - 1)) expected = 0.1f;
    ASSERT_FLOAT_EQ(block.outL[k], expected) << k << " of turn " << n;
  }
}

// --- Indices stay inside the buffer

TEST(Engine, BackwardCrossfadeAtTheBottomKeepsTheSlaveWriteIndexInside) {
  T1973 engine;
  engine.SetSlave(false);
  engine.SetPlayStart(0.001f);
  engine.SetPlayEnd(-0.05f);  // below the buffer: the region ends at sample 0
  EXPECT_EQ(engine.PendingEnd(), 0);
  RestartPlay(engine);
  engine.SetRecord(true);
  Block one(1, 0.3f);
  bool crossfaded = false;
  for (int i = 0; i < 600; ++i) {
    RunBlock(engine, one);
    crossfaded = crossfaded || engine.Crossfading();
    ASSERT_GE(engine.LastReadIndex(), 0);
    ASSERT_LT(engine.LastReadIndex(), engine.Length());
    ASSERT_GE(engine.ReadPosition(), 0.0f);
    ASSERT_LT(engine.ReadPosition(), 1.0f);
    // Switch to slave mode mid-crossfade, where the old head runs below sample 0.
    if (engine.Crossfading() && engine.CrossfadeCounter() == 80) engine.SetSlave(true);
  }
  EXPECT_TRUE(crossfaded);
}

TEST(Engine, ForwardCrossfadePastTheTopKeepsIndicesInside) {
  T1973 engine;
  Fill(engine, std::vector<float>(10, 0.1f));
  engine.SetSlave(false);
  engine.SetPlayStart(0.999f);
  engine.SetPlayEnd(1.5f);  // capped at the last sample
  EXPECT_EQ(engine.PendingEnd(), (engine.Length() - 1) * kUnit);
  RestartPlay(engine);
  Block block(500, 0.2f);
  RunBlock(engine, block);
  EXPECT_LT(engine.LastReadIndex(), engine.Length());
  for (float out : block.outL) ASSERT_TRUE(std::isfinite(out));
}

// --- Sample rate

TEST(Engine, SampleRateChangeEmptiesTheLoopAndRestartsInsideIt) {
  T1973 engine(48000);
  EXPECT_EQ(engine.Length(), 96000);
  engine.SetPlayStart(0.9f);
  engine.SetPlayEnd(1.0f);
  RestartPlay(engine);
  engine.SetFeedBack(0.5f);
  engine.SetRecord(true);
  Block block(512, 0.5f);
  for (int i = 0; i < 20; ++i) RunBlock(engine, block);
  EXPECT_GT(engine.LastReadIndex(), 80000);

  ASSERT_TRUE(engine.SampleRateChanged(8000));
  const TLoopBufferView buffer = engine.Buffer();
  EXPECT_EQ(buffer.length, 16000);
  for (int32_t i = 0; i < buffer.length; ++i) ASSERT_EQ(buffer.left[i], 0.0f);
  EXPECT_EQ(engine.PendingEnd(), ExpectedRegionPosition(1.0f, 16000));
  EXPECT_EQ(engine.ReadHead(), engine.PendingStart());
  EXPECT_EQ(engine.ActiveEnd(), engine.PendingEnd());
  EXPECT_LT(engine.LastReadIndex(), 16000);
  EXPECT_EQ(engine.RecordStart(), engine.PendingStart());
  EXPECT_FALSE(engine.Crossfading());
  EXPECT_FLOAT_EQ(engine.WetGain().Coefficient(), 20.0f / 8000.0f);
  for (int i = 0; i < 20; ++i) RunBlock(engine, block);  // slave recording into the smaller buffer
  EXPECT_LT(engine.LastReadIndex(), 16000);

  // Outside slave mode the record region comes back from its parameters.
  engine.SetSlave(false);
  engine.SetRecordEnd(0.5f);
  ASSERT_TRUE(engine.SampleRateChanged(44100));
  EXPECT_EQ(engine.RecordEnd(), static_cast<int32_t>(std::nearbyint(88199.0 * 0.5f * kUnit)));
  EXPECT_EQ(engine.WriteHead(), engine.RecordStart());
}

TEST(Engine, UnsupportedSampleRatesAreRefused) {
  T1973 engine;
  for (int32_t rate : {0, -44100, T1973::kMaxSampleRate + 1, INT32_MAX}) {
    EXPECT_FALSE(engine.SampleRateChanged(rate)) << rate;
    EXPECT_EQ(engine.Length(), 88200);
  }
  ASSERT_TRUE(engine.SampleRateChanged(10));  // below 20 Hz the gains jump rather than diverge
  EXPECT_EQ(engine.WetGain().Coefficient(), 1.0f);
  EXPECT_TRUE(engine.SampleRateChanged(T1973::kMaxSampleRate));
  EXPECT_EQ(engine.Length(), 2 * T1973::kMaxSampleRate);
  T1973 defaulted(0);
  EXPECT_EQ(defaulted.Length(), 88200);
  // The tiniest buffer still works: every position collapses into its two samples.
  ASSERT_TRUE(engine.SampleRateChanged(1));
  engine.SetSlave(false);
  engine.SetRecord(true);
  Block block(300, 0.5f);
  RunBlock(engine, block);
  EXPECT_LE(engine.PendingEnd(), kUnit);
}

// --- Floating-point state

#if KBL_HAS_MXCSR
TEST(Engine, ProcessRestoresTheCallersFloatingPointStateAndFlushesDenormals) {
  T1973 engine;
  engine.DryGain().SetValue(false, 1.0f);
  engine.SetMix(1.0f);  // the dry gain glides toward 0 through the subnormal range
  Block block(4096, 0.25f);
  const uint32_t saved = _mm_getcsr();
  const uint32_t callers = (saved & ~(TDenormalGuard::kFlushToZero | TDenormalGuard::kDenormalsAreZero)) |
                           0x6000;  // round toward zero, no flushing
  _mm_setcsr(callers);
  for (int i = 0; i < 100; ++i) {  // about 9 seconds at 44.1 kHz
    RunBlock(engine, block);
    ASSERT_EQ(_mm_getcsr(), callers);
  }
  _mm_setcsr(saved);
  // Without flushing, the glide would stall on a subnormal value for good.
  EXPECT_NE(std::fpclassify(engine.DryGain().Current()), FP_SUBNORMAL);
  EXPECT_LT(engine.DryGain().Current(), 1e-30f);
  for (float out : block.outL) EXPECT_NE(std::fpclassify(out), FP_SUBNORMAL);
}
#endif
