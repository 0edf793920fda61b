// The delay/looper engine: a stereo loop buffer of two seconds that records its input into a
// record region and plays a play region back at 1/8 to 1 of real time, forwards or backwards,
// with a crossfade at each wrap and an equal-power wet/dry mix.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "TSmoothedParameter.h"
#include "classlib/Methods.h"
#include "classlib/System.h"

// The loop buffer as the editor sees it: both channels and their common length in samples.
struct TLoopBufferView {
  const float* left = nullptr;
  const float* right = nullptr;
  int32_t length = 0;
};

// Positions inside the buffer are fixed point: 1/2048 sample (11 fractional bits). The plug-in
// owns one engine, forwards its twelve parameters to the setters and runs Process for every piece
// of a host block.
//
// Threads: Process runs on the host's audio thread. The setters may run on any thread (the host's
// audio or GUI thread, the editor); every field they share with Process is a relaxed atomic, so a
// change takes effect at the next sample that reads it. The getters may be called from any thread.
// SampleRateChanged must not be called from inside Process; it may run on any other thread.
class T1973 : public TObject {
 public:
  static constexpr int32_t kFractionBits = 11;
  static constexpr int32_t kUnit = 1 << kFractionBits;  // one sample in fixed point
  static constexpr int32_t kCrossfadeLength = 100;
  static constexpr int32_t kDefaultSampleRate = 44100;
  // Sample rates whose buffer positions (plus a crossfade running past either end) would not fit
  // in 32 bits are refused.
  static constexpr int32_t kMaxSampleRate = 524000;

  // Any thread. A new engine plays the first quarter of an empty buffer (slave mode, not
  // recording) at real time with mix 0.5. A rate that SampleRateChanged would refuse gives 44100.
  explicit T1973(int32_t sampleRate = kDefaultSampleRate);
  ~T1973() override;

  // --- Parameter setters (any thread; switches arrive as value >= 0.5)

  // "Play On/Off": switching on restarts the read head at the play region's start.
  void SetPlay(bool on);
  // "Record On/Off": either edge puts the write head at the record region's start.
  void SetRecord(bool on);
  // "Play Start" / "Play End" (0..1): recompute the play region, taken over at the next wrap.
  void SetPlayStart(float v);
  void SetPlayEnd(float v);
  // "Record Start" / "Record End" (0..1): ignored in slave mode.
  void SetRecordStart(float v);
  void SetRecordEnd(float v);
  // "Rate" (0..1): both heads advance 2048 / ((1 − v) × 7 + 1) units per sample, 1/8 to real time.
  // Values outside 0..1 count as the nearest end.
  void SetRate(float v);
  // The read and the write rate alone; with linked rates either sets both increments.
  void SetReadRate(float v);
  void SetWriteRate(float v);
  void SetLinkRates(bool on) { linkRates_.store(on, std::memory_order_relaxed); }
  // "Input": gain of the input fed into the recording.
  void SetInputLevel(float v) { inputLevel_.store(v, std::memory_order_relaxed); }
  // "FeedBack": gain of the played-back loop fed into the recording.
  void SetFeedBack(float v) { feedback_.store(v, std::memory_order_relaxed); }
  // "Mix" (0..1): the wet gain glides to sqrt(v), the dry gain to sqrt(1 − v).
  void SetMix(float v);
  // "Fixed On/Off": Play End becomes a signed length around 0.5 and Play Start a position.
  void SetFixed(bool on);
  // "Slave On/Off": the record region follows the play region and recording writes at the read
  // head. Switching off restores the record region last set outside slave mode.
  void SetSlave(bool on);

  // --- Sample rate

  // A sample-rate listener: the buffer becomes 2 × rate samples, empty; the smoothers' glide is
  // re-timed; regions are recomputed from the parameters and the heads restart inside the new
  // buffer. Answers false, changing nothing, for a rate below 1 or above kMaxSampleRate. Not from
  // the audio thread while Process runs; waits for a running Process to leave the old buffer.
  bool SampleRateChanged(int32_t sampleRate);

  // --- Processing

  // Audio thread. Processes `frames` samples from the inputs into the outputs (inputs and outputs
  // may be the same arrays). Does nothing for frames <= 0 or a missing channel. Runs with
  // flush-to-zero set and restores the caller's floating-point state on return.
  void Process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
               int32_t frames);

  // --- Read-back of the parameters (any thread)

  bool Playing() const { return playing_.load(std::memory_order_relaxed); }
  bool Recording() const { return recording_.load(std::memory_order_relaxed); }
  float PlayStartParam() const { return playStartParam_.load(std::memory_order_relaxed); }
  float PlayEndParam() const { return playEndParam_.load(std::memory_order_relaxed); }
  // The record region as "Record Start"/"Record End" read back: the play parameters in slave mode.
  float RecordStartView() const { return recordStartView_.load(std::memory_order_relaxed); }
  float RecordEndView() const { return recordEndView_.load(std::memory_order_relaxed); }
  float RateParam() const { return rateParam_.load(std::memory_order_relaxed); }
  float ReadRateParam() const { return readRateParam_.load(std::memory_order_relaxed); }
  float WriteRateParam() const { return writeRateParam_.load(std::memory_order_relaxed); }
  float InputLevel() const { return inputLevel_.load(std::memory_order_relaxed); }
  float FeedBack() const { return feedback_.load(std::memory_order_relaxed); }
  float MixParam() const { return mixParam_.load(std::memory_order_relaxed); }
  bool FixedParam() const { return fixedParam_.load(std::memory_order_relaxed); }
  bool Fixed() const { return fixed_.load(std::memory_order_relaxed); }
  bool Slave() const { return slave_.load(std::memory_order_relaxed); }
  bool LinkRates() const { return linkRates_.load(std::memory_order_relaxed); }

  // --- What the editor shows (any thread), as fractions 0..1 of the buffer

  float PlayRegionStart() const { return playRegionStart_.load(std::memory_order_relaxed); }
  float PlayRegionEnd() const { return playRegionEnd_.load(std::memory_order_relaxed); }
  float RecordRegionStartShown() const { return recordRegionStartShown_.load(std::memory_order_relaxed); }
  float RecordRegionEndShown() const { return recordRegionEndShown_.load(std::memory_order_relaxed); }
  // Head positions, refreshed at the end of each block.
  float ReadPosition() const { return readPosition_.load(std::memory_order_relaxed); }
  float WritePosition() const { return writePosition_.load(std::memory_order_relaxed); }

  // Any thread. The loop buffer and its length, taken together. The arrays stay valid until the
  // next SampleRateChanged, so the editor reads them on the thread that changes the rate (the
  // host's GUI thread).
  TLoopBufferView Buffer() const;
  int32_t Length() const { return Buffer().length; }

  // A notification slot for the editor; the engine never calls it.
  TNotifyEvent OnChange;

  // --- Inner state (any thread; for displays and diagnostics)

  int32_t ActiveStart() const { return activeStart_.load(std::memory_order_relaxed); }
  int32_t ActiveEnd() const { return activeEnd_.load(std::memory_order_relaxed); }
  int32_t PendingStart() const { return pendingStart_.load(std::memory_order_relaxed); }
  int32_t PendingEnd() const { return pendingEnd_.load(std::memory_order_relaxed); }
  int32_t RecordStart() const { return recordStart_.load(std::memory_order_relaxed); }
  int32_t RecordEnd() const { return recordEnd_.load(std::memory_order_relaxed); }
  int32_t ReadHead() const { return readHead_.load(std::memory_order_relaxed); }
  int32_t CrossfadeHead() const { return crossfadeHead_.load(std::memory_order_relaxed); }
  int32_t WriteHead() const { return writeHead_.load(std::memory_order_relaxed); }
  int32_t ReadIncrement() const { return readIncrement_.load(std::memory_order_relaxed); }
  int32_t WriteIncrement() const { return writeIncrement_.load(std::memory_order_relaxed); }
  bool Crossfading() const { return crossfading_.load(std::memory_order_relaxed); }
  int32_t CrossfadeCounter() const { return crossfadeCounter_.load(std::memory_order_relaxed); }
  int32_t LastReadIndex() const { return lastReadIndex_.load(std::memory_order_relaxed); }
  float RecordStartParam() const { return recordStartParam_.load(std::memory_order_relaxed); }
  float RecordEndParam() const { return recordEndParam_.load(std::memory_order_relaxed); }
  // The smoothers; a caller may jump them (SetValue without glide), e.g. when a block starts cold.
  TSmoothedParameter& WetGain() { return wetGain_; }
  TSmoothedParameter& DryGain() { return dryGain_; }

  // The sample index of a fixed-point position: truncation toward zero.
  static int32_t SampleIndex(int32_t position) { return position / kUnit; }
  // The head increment of a rate value (0..1; outside counts as the nearest end).
  static int32_t RateIncrement(float v);
  static bool IsSampleRateSupported(int32_t sampleRate) {
    return sampleRate >= 1 && sampleRate <= kMaxSampleRate;
  }

 private:
  struct TLoopBuffer;

  // --- Regions
  void UpdateLoopRegion();
  void FollowPlayRegion();
  void RestoreRecordRegion();
  int32_t RegionPosition(float fraction, int32_t length) const;
  static int32_t RecordPosition(float fraction, int32_t length);
  static int32_t ClampPosition(int64_t position, int32_t length);
  // After a buffer change: regions from the parameters, heads and crossfade back at the start.
  void ResetInto(int32_t length);

  // --- Buffer
  TLoopBuffer* NewBuffer(int32_t length);
  int32_t CurrentLength() const;

  // Fields the parameter read-back and the editor see.
  std::atomic<float> recordStartView_{0.0f};
  std::atomic<float> recordEndView_{0.0f};
  std::atomic<float> playEndParam_{0.0f};
  std::atomic<float> playStartParam_{0.0f};
  std::atomic<float> readRateParam_{0.0f};
  std::atomic<float> mixParam_{0.0f};
  std::atomic<float> feedback_{0.0f};
  std::atomic<bool> recording_{false};
  std::atomic<float> inputLevel_{1.0f};
  std::atomic<float> writeRateParam_{0.0f};
  std::atomic<float> rateParam_{0.0f};
  std::atomic<bool> linkRates_{false};
  std::atomic<bool> fixed_{false};
  std::atomic<bool> playing_{false};
  std::atomic<bool> fixedParam_{false};
  std::atomic<bool> slave_{false};
  std::atomic<float> playRegionStart_{0.0f};
  std::atomic<float> playRegionEnd_{0.0f};
  std::atomic<float> recordRegionEndShown_{0.0f};
  std::atomic<float> recordRegionStartShown_{0.0f};
  std::atomic<float> readPosition_{0.0f};
  std::atomic<float> writePosition_{0.0f};

  TSmoothedParameter wetGain_;
  TSmoothedParameter dryGain_;

  // Heads and regions in 1/2048 sample.
  std::atomic<int32_t> activeStart_{0};
  std::atomic<int32_t> activeEnd_{0};
  std::atomic<int32_t> pendingStart_{0};
  std::atomic<int32_t> pendingEnd_{0};
  std::atomic<int32_t> recordStart_{0};
  std::atomic<int32_t> recordEnd_{0};
  std::atomic<int32_t> readHead_{0};
  std::atomic<int32_t> crossfadeHead_{0};
  std::atomic<int32_t> writeHead_{0};
  std::atomic<int32_t> readIncrement_{kUnit};
  std::atomic<int32_t> writeIncrement_{kUnit};
  std::atomic<bool> crossfading_{false};
  std::atomic<int32_t> crossfadeCounter_{0};
  std::atomic<float> recordStartParam_{0.0f};
  std::atomic<float> recordEndParam_{1.0f};
  std::atomic<int32_t> lastReadIndex_{0};

  // The buffer is published as one object so that its arrays and length always go together. A
  // replaced buffer is freed only after Process has left it: processCount_ is odd while Process
  // runs.
  std::atomic<TLoopBuffer*> buffer_{nullptr};
  std::atomic<uint32_t> processCount_{0};
  uint32_t generations_ = 0;       // buffers made so far; each carries its number
  uint32_t seenGeneration_ = 0;    // audio thread: the buffer the heads were last reset for
  std::mutex rateChange_;
};
