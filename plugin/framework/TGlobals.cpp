// Transport globals.
#include "TGlobals.h"

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
}

TGlobals::TGlobals() { UpdateMusicalPosition(); }

void TGlobals::SetSampleRate(int32_t rate) {
  if (rate <= 0) return;
  sampleRate_.store(rate, kRelaxed);
  inverseSampleRate_.store(1.0 / rate, kRelaxed);
  sampleRateListeners_.NotifyAll(this);
}

void TGlobals::SetBlockSize(int32_t size) {
  if (size <= 1) return;
  blockSize_.store(size, kRelaxed);
  blockSizeListeners_.NotifyAll(this);
}

void TGlobals::SetTempo(float tempo) {
  if (!(tempo > 0.0f)) return;
  tempo_.store(tempo, kRelaxed);
  tempoListeners_.NotifyAll(this);
}

void TGlobals::SetTransport(bool playing, bool cycleActive, bool recording) {
  const bool playingChanged = playing != Playing();
  if (!playingChanged && cycleActive == CycleActive() && recording == Recording()) return;
  playing_.store(playing, kRelaxed);
  cycleActive_.store(cycleActive, kRelaxed);
  recording_.store(recording, kRelaxed);
  if (playingChanged) playingListeners_.NotifyAll(this);
  transportListeners_.NotifyAll(this);
}

void TGlobals::SetTimeSignature(int32_t numerator, int32_t denominator) {
  if (numerator <= 0 || denominator <= 0) return;
  timeSigNumerator_.store(numerator, kRelaxed);
  timeSigDenominator_.store(denominator, kRelaxed);
}

void TGlobals::UpdateMusicalPosition() {
  const double beatsPerBar =
      static_cast<double>(TimeSigNumerator()) / TimeSigDenominator() * 4.0;  // quarter notes
  const double positionInBar = PpqPos() - BarStartPos();
  const double barFraction = positionInBar / beatsPerBar;
  // Samples per bar are a single-precision value, as the host's tempo is.
  const float samplesPerBar =
      static_cast<float>(beatsPerBar * SampleRate() * 60.0 / static_cast<double>(Tempo()));
  positionInBar_.store(positionInBar, kRelaxed);
  barLength_.store(beatsPerBar, kRelaxed);
  barFraction_.store(barFraction, kRelaxed);
  samplesToNextBar_.store((1.0 - barFraction) * samplesPerBar, kRelaxed);
}
