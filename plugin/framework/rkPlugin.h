// The product's plug-in: the delay/looper engine behind twelve parameters, display texts and an
// INI-text state chunk.
#pragma once

#include <cstdint>
#include <memory>

#include "plugin/engine/T1973.h"
#include "rkMidiAutomation.h"
#include "rkPluginBase.h"

class TrkPlugin : public TrkPluginBase {
 public:
  enum : int32_t {
    kPlay = 0, kRecord, kPlayStart, kPlayEnd, kRecordStart, kRecordEnd, kRate, kInput, kFeedBack, kMix,
    kFixed, kSlave, kParameterCount
  };

  TrkPlugin();
  ~TrkPlugin() override;

  // Any thread: drives the engine and updates the display text; NaN counts as 0.
  void SetParameter(int32_t index, float value) override;
  // Any thread: reads the value back from the engine; 0.0 beyond the twelve parameters.
  float GetParameter(int32_t index) override;
  // Audio thread: a control change moves the parameters its controller is bound to (automation
  // type 0 in the MIDI map, or the controller being learned) to data2 / 127 through the
  // automated path, which tells the host. Other messages and unbound controllers do nothing.
  // Takes no lock and allocates nothing.
  void ProcessMidiEvent(const TrkMidiEvent& event) override;
  // Audio thread: drains the GUI-to-audio list, runs the engine over `frames` samples of the
  // current channel pointers and advances them.
  void ProcessAudio(int32_t frames) override;
  void EndBlock(int32_t frames) override { blockFrames = 0; }
  // GUI thread: restores parameters from INI text ("[Delay_Parameters]", "Parameter_<i>=" value
  // × 1000) through the automated path. Keys that are missing or hold no integer are skipped.
  void LoadState(TStream& stream) override;
  // GUI thread: writes every parameter as INI text in the form LoadState reads.
  void SaveState(TStream& stream) override;

  T1973& Engine() { return *engine; }
  TMidiAutomation& Automation() { return *automation; }

  int64_t blockFrames = 0;
  int64_t totalFrames = 0;

 private:
  void TransportChanged(TObject* sender);
  void SampleRateChanged(TObject* sender);

  std::unique_ptr<T1973> engine;
  std::unique_ptr<TMidiAutomation> automation;
};
