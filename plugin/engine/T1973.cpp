// The delay/looper engine: loop recording, region playback, wrap crossfade and the output mix.
#include "T1973.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "TDenormalGuard.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

static_assert((2LL * T1973::kMaxSampleRate + 4LL * (T1973::kCrossfadeLength + 1)) * T1973::kUnit <
                  INT32_MAX,
              "positions of the largest buffer must fit in 32 bits");

int32_t ClampIndex(int32_t index, int32_t last) { return index < 0 ? 0 : (index > last ? last : index); }

// A stored sample never leaves -1..1. NaN (a broken host input) is stored as silence: kept, it
// would circulate in the loop for good.
float ClipSample(float y) {
  if (y > 1.0f) return 1.0f;
  if (y >= -1.0f) return y;
  return y < -1.0f ? -1.0f : 0.0f;
}

float Clamp01(float v) {
  if (v >= 1.0f) return 1.0f;
  return v > 0.0f ? v : 0.0f;  // NaN counts as 0
}

bool IsBackwards(int32_t start, int32_t end) { return start > end; }

// The gains glide over about 1/20 s. Below 20 Hz the step would overshoot its target and the
// smoother diverge; there it jumps instead.
float GlideCoefficient(int32_t sampleRate) {
  return std::min(20.0f / static_cast<float>(sampleRate), 1.0f);
}

}  // namespace

struct T1973::TLoopBuffer {
  TLoopBuffer(int32_t samples, uint32_t number)
      : length(samples), generation(number), left(new float[samples]()), right(new float[samples]()) {}
  int32_t length;
  uint32_t generation;
  std::unique_ptr<float[]> left;
  std::unique_ptr<float[]> right;
};

// --- Construction

T1973::T1973(int32_t sampleRate) {
  if (!IsSampleRateSupported(sampleRate)) sampleRate = kDefaultSampleRate;
  wetGain_.SetValue(false, 0.0f);
  dryGain_.SetValue(false, 0.0f);
  wetGain_.SetCoefficient(GlideCoefficient(sampleRate));
  dryGain_.SetCoefficient(GlideCoefficient(sampleRate));

  TLoopBuffer* buffer = NewBuffer(2 * sampleRate);
  buffer_.store(buffer);
  seenGeneration_ = buffer->generation;

  recordStartParam_.store(0.0f, kRelaxed);
  recordEndParam_.store(1.0f, kRelaxed);
  readHead_.store(0, kRelaxed);
  crossfadeHead_.store(0, kRelaxed);
  writeHead_.store(0, kRelaxed);

  SetRate(1.0f);
  SetPlayStart(0.0f);
  SetPlayEnd(0.25f);
  SetRecordStart(0.0f);
  SetRecordEnd(1.0f);

  linkRates_.store(true, kRelaxed);
  SetReadRate(1.0f);
  SetWriteRate(1.0f);

  crossfading_.store(false, kRelaxed);
  crossfadeCounter_.store(0, kRelaxed);
  inputLevel_.store(1.0f, kRelaxed);

  SetMix(0.5f);
  SetFeedBack(0.0f);
  SetFixed(false);
  SetSlave(true);
  SetPlay(true);
  SetRecord(false);
  lastReadIndex_.store(0, kRelaxed);
}

T1973::~T1973() { delete buffer_.load(); }

T1973::TLoopBuffer* T1973::NewBuffer(int32_t length) { return new TLoopBuffer(length, ++generations_); }

int32_t T1973::CurrentLength() const { return buffer_.load(std::memory_order_acquire)->length; }

TLoopBufferView T1973::Buffer() const {
  const TLoopBuffer* buffer = buffer_.load(std::memory_order_acquire);
  return TLoopBufferView{buffer->left.get(), buffer->right.get(), buffer->length};
}

// --- Switches

void T1973::SetPlay(bool on) {
  if (playing_.exchange(on, kRelaxed) == on) return;
  if (!on) return;
  const int32_t start = pendingStart_.load(kRelaxed);
  const int32_t end = pendingEnd_.load(kRelaxed);
  readHead_.store(start, kRelaxed);
  crossfading_.store(false, kRelaxed);
  activeStart_.store(start, kRelaxed);
  activeEnd_.store(end, kRelaxed);
}

void T1973::SetRecord(bool on) {
  if (recording_.exchange(on, kRelaxed) == on) return;
  writeHead_.store(recordStart_.load(kRelaxed), kRelaxed);
}

void T1973::SetFixed(bool on) {
  fixedParam_.store(on, kRelaxed);
  fixed_.store(on, kRelaxed);
  UpdateLoopRegion();
  if (Slave()) FollowPlayRegion();
}

void T1973::SetSlave(bool on) {
  if (slave_.exchange(on, kRelaxed) == on) return;
  if (on)
    FollowPlayRegion();
  else
    RestoreRecordRegion();
}

// --- Regions

void T1973::SetPlayStart(float v) {
  playStartParam_.store(v, kRelaxed);
  UpdateLoopRegion();
  if (Slave()) FollowPlayRegion();
}

void T1973::SetPlayEnd(float v) {
  playEndParam_.store(v, kRelaxed);
  UpdateLoopRegion();
  if (Slave()) FollowPlayRegion();
}

void T1973::SetRecordStart(float v) {
  if (Slave()) return;
  recordStartParam_.store(v, kRelaxed);
  recordStartView_.store(v, kRelaxed);
  recordRegionStartShown_.store(v, kRelaxed);
  recordStart_.store(RecordPosition(v, CurrentLength()), kRelaxed);
}

void T1973::SetRecordEnd(float v) {
  if (Slave()) return;
  recordEndParam_.store(v, kRelaxed);
  recordEndView_.store(v, kRelaxed);
  recordRegionEndShown_.store(v, kRelaxed);
  recordEnd_.store(RecordPosition(v, CurrentLength()), kRelaxed);
}

void T1973::UpdateLoopRegion() {
  const float s = PlayStartParam();
  const float e = PlayEndParam();
  float regionStart = s;
  float regionEnd = e;
  if (Fixed()) {
    // Play End is a signed length around its centre, never shorter than 1/10000 of the buffer.
    float d = (e - 0.5f) * 2.0f;
    if (d >= 0.0f && d < 0.01f) d = 0.01f;
    if (d < 0.0f && d > -0.01f) d = -0.01f;
    if (d > 0.0f) {
      const float k = d * d;
      regionStart = (1.0f - k) * s;
      regionEnd = regionStart + k;
    } else {
      const float k = -(d * d);
      regionStart = (1.0f - std::fabs(k)) * s + std::fabs(k);
      regionEnd = regionStart + k;
    }
  }
  playRegionStart_.store(regionStart, kRelaxed);
  playRegionEnd_.store(regionEnd, kRelaxed);
  const int32_t length = CurrentLength();
  pendingStart_.store(RegionPosition(regionStart, length), kRelaxed);
  pendingEnd_.store(RegionPosition(regionEnd, length), kRelaxed);
}

void T1973::FollowPlayRegion() {
  recordStartView_.store(PlayStartParam(), kRelaxed);
  recordEndView_.store(PlayEndParam(), kRelaxed);
  recordRegionStartShown_.store(PlayRegionStart(), kRelaxed);
  recordRegionEndShown_.store(PlayRegionEnd(), kRelaxed);
  recordStart_.store(PendingStart(), kRelaxed);
  recordEnd_.store(PendingEnd(), kRelaxed);
}

void T1973::RestoreRecordRegion() {
  const float start = RecordStartParam();
  const float end = RecordEndParam();
  recordStartView_.store(start, kRelaxed);
  recordEndView_.store(end, kRelaxed);
  recordRegionStartShown_.store(start, kRelaxed);
  recordRegionEndShown_.store(end, kRelaxed);
  const int32_t length = CurrentLength();
  recordStart_.store(RecordPosition(start, length), kRelaxed);
  recordEnd_.store(RecordPosition(end, length), kRelaxed);
}

// The play region keeps a crossfade's length clear of both ends of the buffer. The product and the
// sum are single-precision values before the final scaling (which is exact).
int32_t T1973::RegionPosition(float fraction, int32_t length) const {
  const float usable = static_cast<float>(length - 1 - 2 * kCrossfadeLength);
  const float product = usable * fraction;
  const float sum = static_cast<float>(kCrossfadeLength) + product;
  return ClampPosition(Round(static_cast<double>(sum) * kUnit), length);
}

int32_t T1973::RecordPosition(float fraction, int32_t length) {
  return ClampPosition(Round(static_cast<double>(length - 1) * fraction * kUnit), length);
}

// Every position of a region lies inside the buffer, whatever value a parameter arrived with.
int32_t T1973::ClampPosition(int64_t position, int32_t length) {
  const int64_t last = static_cast<int64_t>(length - 1) * kUnit;
  return static_cast<int32_t>(std::clamp<int64_t>(position, 0, std::max<int64_t>(last, 0)));
}

// --- Rates and mix

int32_t T1973::RateIncrement(float v) {
  v = Clamp01(v);
  return static_cast<int32_t>(Round(kUnit * (1.0 / ((1.0f - v) * 7.0f + 1.0f))));
}

void T1973::SetRate(float v) {
  rateParam_.store(v, kRelaxed);
  SetReadRate(v);
  SetWriteRate(v);
}

void T1973::SetReadRate(float v) {
  readRateParam_.store(v, kRelaxed);
  const int32_t increment = RateIncrement(v);
  readIncrement_.store(increment, kRelaxed);
  if (LinkRates()) writeIncrement_.store(increment, kRelaxed);
}

void T1973::SetWriteRate(float v) {
  writeRateParam_.store(v, kRelaxed);
  const int32_t increment = RateIncrement(v);
  writeIncrement_.store(increment, kRelaxed);
  if (LinkRates()) readIncrement_.store(increment, kRelaxed);
}

void T1973::SetMix(float v) {
  mixParam_.store(v, kRelaxed);
  const float mix = Clamp01(v);  // keeps both square roots real
  wetGain_.SetValue(true, std::sqrt(mix));
  dryGain_.SetValue(true, std::sqrt(1.0f - mix));
}

// --- Sample rate

bool T1973::SampleRateChanged(int32_t sampleRate) {
  if (!IsSampleRateSupported(sampleRate)) return false;
  std::lock_guard<std::mutex> serialise(rateChange_);
  TLoopBuffer* fresh = NewBuffer(2 * sampleRate);
  wetGain_.SetCoefficient(GlideCoefficient(sampleRate));
  dryGain_.SetCoefficient(GlideCoefficient(sampleRate));

  TLoopBuffer* old = buffer_.exchange(fresh);
  // A Process that began before the exchange may still be reading the old arrays: wait until the
  // count moves on from the odd value it had (one block at most).
  const uint32_t count = processCount_.load();
  if (count & 1u) {
    while (processCount_.load() == count) std::this_thread::yield();
  }
  delete old;
  ResetInto(fresh->length);
  return true;
}

void T1973::ResetInto(int32_t length) {
  UpdateLoopRegion();
  if (Slave())
    FollowPlayRegion();
  else
    RestoreRecordRegion();
  const int32_t start = pendingStart_.load(kRelaxed);
  activeStart_.store(start, kRelaxed);
  activeEnd_.store(pendingEnd_.load(kRelaxed), kRelaxed);
  readHead_.store(start, kRelaxed);
  crossfadeHead_.store(start, kRelaxed);
  crossfading_.store(false, kRelaxed);
  crossfadeCounter_.store(0, kRelaxed);
  writeHead_.store(recordStart_.load(kRelaxed), kRelaxed);
  lastReadIndex_.store(ClampIndex(SampleIndex(start), length - 1), kRelaxed);
}

// --- Processing

void T1973::Process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                    int32_t frames) {
  if (frames <= 0 || !inLeft || !inRight || !outLeft || !outRight) return;
  TDenormalGuard flushDenormals;

  processCount_.fetch_add(1);  // odd: the arrays below are in use
  const TLoopBuffer* buffer = buffer_.load();
  if (buffer->generation != seenGeneration_) {
    // The rate changed since the last block: restart inside the new buffer even if a setter
    // running alongside the change wrote positions computed for the old one.
    seenGeneration_ = buffer->generation;
    ResetInto(buffer->length);
  }
  float* const left = buffer->left.get();
  float* const right = buffer->right.get();
  const int32_t length = buffer->length;
  const int32_t last = length - 1;
  const int32_t lastPosition = last * kUnit;

  float loopL = 0.0f;
  float loopR = 0.0f;
  int32_t writeIndex = 0;
  for (int32_t i = 0; i < frames; ++i) {
    const float inL = inLeft[i];
    const float inR = inRight[i];
    const bool slave = slave_.load(kRelaxed);
    const bool playing = playing_.load(kRelaxed);
    if (slave) writeIndex = lastReadIndex_.load(kRelaxed);

    int32_t readHead = readHead_.load(kRelaxed);
    const int32_t r = SampleIndex(readHead);  // before moving; see the lastReadIndex step
    const int32_t increment = readIncrement_.load(kRelaxed);
    const bool backwards = IsBackwards(activeStart_.load(kRelaxed), activeEnd_.load(kRelaxed));

    if (crossfading_.load(kRelaxed)) {
      const int32_t counter = crossfadeCounter_.load(kRelaxed);
      const float t = static_cast<float>(counter) / static_cast<float>(kCrossfadeLength);
      int32_t crossfadeHead = crossfadeHead_.load(kRelaxed);
      const int32_t r1 = ClampIndex(r, last);
      const int32_t r2 = ClampIndex(SampleIndex(crossfadeHead), last);
      if (playing) {
        loopL = (1.0f - t) * left[r1] + t * left[r2];
        loopR = (1.0f - t) * right[r1] + t * right[r2];
      }
      if (backwards) {
        readHead -= increment;
        crossfadeHead -= increment;
      } else {
        readHead += increment;
        crossfadeHead += increment;
      }
      if (counter > kCrossfadeLength - 1) {
        readHead = crossfadeHead;
        crossfading_.store(false, kRelaxed);
      }
      crossfadeHead_.store(crossfadeHead, kRelaxed);
      crossfadeCounter_.store(counter + 1, kRelaxed);
    } else {
      const int32_t r1 = ClampIndex(r, last);
      if (playing) {
        loopL = left[r1];
        loopR = right[r1];
      }
      bool wrapped;
      if (backwards) {
        readHead -= increment;
        wrapped = readHead < activeEnd_.load(kRelaxed);
      } else {
        readHead += increment;
        wrapped = readHead >= activeEnd_.load(kRelaxed);
      }
      if (wrapped) {
        // A changed play region takes effect here (or when play is switched on). Positions are
        // capped again in case a setter raced a sample-rate change.
        const int32_t start = std::clamp(pendingStart_.load(kRelaxed), 0, lastPosition);
        activeStart_.store(start, kRelaxed);
        activeEnd_.store(std::clamp(pendingEnd_.load(kRelaxed), 0, lastPosition), kRelaxed);
        if (!slave) {
          crossfading_.store(true, kRelaxed);
          crossfadeCounter_.store(0, kRelaxed);
          crossfadeHead_.store(start, kRelaxed);
        } else {
          readHead = start;
        }
      }
    }
    readHead_.store(readHead, kRelaxed);
    // The slave-mode write index comes from here, so it is kept inside the buffer even while a
    // crossfading head runs past either end.
    if (SampleIndex(readHead) != r) lastReadIndex_.store(ClampIndex(r, last), kRelaxed);

    if (recording_.load(kRelaxed)) {
      int32_t writeHead = writeHead_.load(kRelaxed);
      if (!slave) writeIndex = SampleIndex(writeHead);
      writeIndex = ClampIndex(writeIndex, last);
      const float level = inputLevel_.load(kRelaxed);
      const float feedback = feedback_.load(kRelaxed);
      left[writeIndex] = ClipSample(inL * level + loopL * feedback);
      right[writeIndex] = ClipSample(inR * level + loopR * feedback);

      const int32_t recordStart = recordStart_.load(kRelaxed);
      const int32_t recordEnd = recordEnd_.load(kRelaxed);
      const int32_t writeIncrement = writeIncrement_.load(kRelaxed);
      if (IsBackwards(recordStart, recordEnd)) {
        writeHead -= writeIncrement;
        if (writeHead < recordEnd) writeHead = recordStart;
      } else {
        writeHead += writeIncrement;
        if (writeHead >= recordEnd) writeHead = recordStart;
      }
      writeHead_.store(writeHead, kRelaxed);
    }

    const float dry = dryGain_.Current();
    const float wet = wetGain_.Current();
    outLeft[i] = inL * dry + loopL * wet;
    outRight[i] = inR * dry + loopR * wet;
    dryGain_.Advance();
    wetGain_.Advance();
  }

  const float lengthF = static_cast<float>(length);
  const float readPosition =
      static_cast<float>(ClampIndex(SampleIndex(readHead_.load(kRelaxed)), last)) / lengthF;
  readPosition_.store(readPosition, kRelaxed);
  writePosition_.store(
      Slave() ? readPosition
              : static_cast<float>(ClampIndex(SampleIndex(writeHead_.load(kRelaxed)), last)) / lengthF,
      kRelaxed);
  processCount_.fetch_add(1);  // even: the old arrays may go
}
