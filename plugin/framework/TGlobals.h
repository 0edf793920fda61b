// Transport globals: the host's sample rate, block size, tempo, position and transport state,
// with notification lists for their changes.
#pragma once

#include <atomic>
#include <cstdint>

#include "TEventList.h"
#include "classlib/System.h"

struct VstTimeInfo;
class TrkMidiEventList;

// One per plug-in, owned by it. Written on the host's audio thread (time information each block)
// and on its GUI thread (resume); read from both and from the editor. Every value is a relaxed
// atomic: a reader sees each value whole, not a consistent set. Listeners run on the thread that
// made the change, with this object as the sender.
class TGlobals : public TObject {
 public:
  static constexpr int32_t kDefaultSampleRate = 44100;
  static constexpr int32_t kDefaultBlockSize = 512;
  static constexpr float kDefaultTempo = 120.0f;

  // 44100 Hz, blocks of 512, 120 beats per minute, 4/4, stopped, positions −1.
  TGlobals();

  // --- Rate, block size, tempo (any thread; each setter notifies its listeners)

  int32_t SampleRate() const { return sampleRate_.load(std::memory_order_relaxed); }
  // Ignored unless rate > 0.
  void SetSampleRate(int32_t rate);
  double InverseSampleRate() const { return inverseSampleRate_.load(std::memory_order_relaxed); }
  int32_t BlockSize() const { return blockSize_.load(std::memory_order_relaxed); }
  // Ignored unless size > 1.
  void SetBlockSize(int32_t size);
  float Tempo() const { return tempo_.load(std::memory_order_relaxed); }
  // Ignored unless tempo > 0 (NaN is ignored too).
  void SetTempo(float tempo);

  // --- Transport (audio thread)

  bool Playing() const { return playing_.load(std::memory_order_relaxed); }
  bool CycleActive() const { return cycleActive_.load(std::memory_order_relaxed); }
  bool Recording() const { return recording_.load(std::memory_order_relaxed); }
  // Nothing when all three are unchanged; when only cycle or recording changed, the transport
  // listeners; when playing changed, the playing listeners and then the transport listeners.
  void SetTransport(bool playing, bool cycleActive, bool recording);

  // --- Position (audio thread), as the host's time information gives it

  double PpqPos() const { return ppqPos_.load(std::memory_order_relaxed); }
  void SetPpqPos(double position) { ppqPos_.store(position, std::memory_order_relaxed); }
  double BarStartPos() const { return barStartPos_.load(std::memory_order_relaxed); }
  void SetBarStartPos(double position) { barStartPos_.store(position, std::memory_order_relaxed); }
  int32_t SamplesToNextClock() const { return samplesToNextClock_.load(std::memory_order_relaxed); }
  void SetSamplesToNextClock(int32_t samples) {
    samplesToNextClock_.store(samples, std::memory_order_relaxed);
  }
  int32_t TimeSigNumerator() const { return timeSigNumerator_.load(std::memory_order_relaxed); }
  int32_t TimeSigDenominator() const { return timeSigDenominator_.load(std::memory_order_relaxed); }
  // Ignored unless both parts are above 0 (a host without a signature sends zeros).
  void SetTimeSignature(int32_t numerator, int32_t denominator);

  // From the position, signature, tempo and rate: bar length, position in the bar, fraction of
  // the bar elapsed and samples to the next bar line.
  void UpdateMusicalPosition();
  double BarLength() const { return barLength_.load(std::memory_order_relaxed); }
  double PositionInBar() const { return positionInBar_.load(std::memory_order_relaxed); }
  double BarFraction() const { return barFraction_.load(std::memory_order_relaxed); }
  double SamplesToNextBar() const { return samplesToNextBar_.load(std::memory_order_relaxed); }

  // --- References set by the plug-in and the adapter (not owned)

  // The host's last time information, or nullptr; valid only during the block it came with.
  const VstTimeInfo* TimeInfo() const { return timeInfo_.load(std::memory_order_relaxed); }
  void SetTimeInfo(const VstTimeInfo* info) { timeInfo_.store(info, std::memory_order_relaxed); }
  TrkMidiEventList* OutgoingEvents() const { return outgoingEvents_; }
  void SetOutgoingEvents(TrkMidiEventList* list) { outgoingEvents_ = list; }
  TrkMidiEventList* IncomingEvents() const { return incomingEvents_; }
  void SetIncomingEvents(TrkMidiEventList* list) { incomingEvents_ = list; }

  // --- Listeners (add them while the plug-in is built, on the GUI thread)

  TEventList& SampleRateListeners() { return sampleRateListeners_; }
  TEventList& BlockSizeListeners() { return blockSizeListeners_; }
  TEventList& TempoListeners() { return tempoListeners_; }
  TEventList& TransportListeners() { return transportListeners_; }
  TEventList& PlayingListeners() { return playingListeners_; }

 private:
  std::atomic<int32_t> sampleRate_{kDefaultSampleRate};
  std::atomic<int32_t> blockSize_{kDefaultBlockSize};
  std::atomic<float> tempo_{kDefaultTempo};
  TEventList sampleRateListeners_;
  TEventList blockSizeListeners_;
  TEventList tempoListeners_;
  std::atomic<double> inverseSampleRate_{1.0 / kDefaultSampleRate};
  TrkMidiEventList* outgoingEvents_ = nullptr;
  std::atomic<const VstTimeInfo*> timeInfo_{nullptr};
  TrkMidiEventList* incomingEvents_ = nullptr;
  TEventList transportListeners_;
  std::atomic<bool> playing_{false};
  std::atomic<bool> cycleActive_{false};
  std::atomic<bool> recording_{false};
  std::atomic<double> ppqPos_{-1.0};
  std::atomic<double> barStartPos_{-1.0};
  std::atomic<int32_t> samplesToNextClock_{0};
  std::atomic<int32_t> timeSigNumerator_{4};
  std::atomic<int32_t> timeSigDenominator_{4};
  std::atomic<double> barLength_{4.0};
  std::atomic<double> positionInBar_{0.0};
  std::atomic<double> barFraction_{0.0};
  std::atomic<double> samplesToNextBar_{0.0};
  TEventList playingListeners_;
};
