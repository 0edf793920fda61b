// The host-independent plug-in: parameters, MIDI lists, the GUI-to-audio list, transport globals
// and channel pointers, with the virtual operations a host adapter calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/Methods.h"
#include "classlib/Streams.h"
#include "classlib/System.h"
#include "TBufferedEventList.h"
#include "TGlobals.h"
#include "TVstAudioEffect.h"
#include "TVstParameterList.h"
#include "TrkMidiEventList.h"

// A short text that one thread writes while another reads it, without a lock: at most 15
// characters, stored in two atomic words so a reader never sees a torn or unterminated text.
// Setting it allocates nothing (the audio thread sets display texts).
class TAtomicText {
 public:
  // Longer texts are cut to 15 characters.
  void Set(std::string_view text);
  std::string Get() const;

 private:
  std::atomic<uint64_t> words_[2] = {0, 0};
};

// One parameter of the plug-in.
struct TPluginPar {
  std::string longName;
  float value = 0.5f;
  TAtomicText display;
  std::string shortName;
};

// Names and layout of an input or output pin.
struct TPinProperties {
  std::string name;
  std::string shortName;
  bool stereo = true;
};

class TrkPluginBase : public TObject {
 public:
  TrkPluginBase();
  ~TrkPluginBase() override;

  // --- Operations the adapter calls
  virtual void SetHostPlaying(bool playing) { hostPlaying = playing; }
  virtual void GetInputPinProperties(int32_t index, TPinProperties& properties);
  virtual void GetOutputPinProperties(int32_t index, TPinProperties& properties);
  // The display text the host shows for parameter `index`; empty out of range.
  virtual std::string GetParameterDisplay(int32_t index);
  // Any thread. Out-of-range indices answer 0.0.
  virtual float GetParameter(int32_t index) { return 0.0f; }
  // Any thread; `value` is in 0..1.
  virtual void SetParameter(int32_t index, float value) {}
  virtual void SetBypass(bool on) {}
  // Audio thread: each 20-byte record of the GUI-to-audio list, in order.
  virtual void ProcessBufferedEvent(const TBufferedEvent& record) {}
  // Audio thread: the host's raw event block, before conversion.
  virtual void ProcessVstEvents(void* events) {}
  // Audio thread: an incoming event at its frame.
  virtual void ProcessMidiEvent(const TrkMidiEvent& event) {}
  // Audio thread: one piece of a host block. The base drains the GUI-to-audio list.
  virtual void ProcessAudio(int32_t frames);
  virtual void EndBlock(int32_t frames) {}
  // GUI thread: the state chunk.
  virtual void LoadState(TStream& stream) {}
  virtual void SaveState(TStream& stream) {}
  virtual void AfterAdapterCreated() {}
  virtual void Suspend() { suspended = true; }
  virtual void Resume() { suspended = false; }

  // The record of parameter `index`; EListError for an index out of range.
  const TPluginPar& GetParameterInfo(int32_t index) const;
  // Copies `record` (names, value and display text) into parameter `index`; EListError for an
  // index out of range.
  void SetParameterInfo(int32_t index, const TPluginPar& record);
  void SetNumInputs(int32_t count);
  void SetNumOutputs(int32_t count);
  void SetProgramName(const std::string& text) { programName = text; }
  int32_t ParameterCount() const { return static_cast<int32_t>(parameters.size()); }
  bool IsParameterIndex(int32_t index) const { return index >= 0 && index < ParameterCount(); }

  // --- State shared with the adapter and the editor
  TrkMidiEventList incoming;
  TrkMidiEventList outgoing;
  std::vector<std::unique_ptr<TPluginPar>> parameters;
  int32_t numInputs = 0;
  int32_t numOutputs = 0;
  std::string programName = "Default";
  TMethod<int32_t(int32_t)> OnNumInputsChanged;
  TMethod<int32_t(int32_t)> OnNumOutputsChanged;
  TMethod<void(int32_t, float)> SetParameterHook;
  TMethod<void(int32_t, float)> OnAutomate;
  std::atomic<bool> editorOpen{false};
  TVstParameterList parameterInfo;
  bool suspended = true;
  TBufferedEventList bufferedEvents;
  TMethod<void(int32_t, int32_t, bool&)> OnEditorResize;
  bool hostPlaying = false;
  TVstAudioEffect editHolder;
  TGlobals globals;
  std::vector<float*> inputPointers;
  std::vector<float*> outputPointers;
};
