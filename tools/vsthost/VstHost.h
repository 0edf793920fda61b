// A scripted VST 2 host: loads a plug-in DLL through its entry, drives it through the record and
// logs every call the plug-in makes back to the host. Used by the vsthost program and the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/vst/VstTypes.h"

// Raised for a DLL that cannot be loaded, has no entry, or answers no plug-in.
class EHostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One call of the plug-in into the host callback.
struct THostCall {
  VstInt32 opcode;
  VstInt32 index;
  VstIntPtr value;
  float opt;
  VstIntPtr answer;
};

class TVstHost {
 public:
  // Loads the DLL and calls VSTPluginMain (or main). Raises EHostError.
  explicit TVstHost(const std::string& dllPath, VstInt32 hostVersion = 2400);
  // Sends effClose when the plug-in is still open, then unloads the DLL.
  ~TVstHost();
  TVstHost(const TVstHost&) = delete;
  TVstHost& operator=(const TVstHost&) = delete;

  AEffect* Effect() const { return effect_; }
  VstIntPtr Dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0);
  // Sends effClose; the record is gone afterwards.
  void Close();

  // --- Conveniences over the dispatcher
  void Start(float sampleRate, VstInt32 blockSize);  // open, rate, block size, resume
  std::string EffectName();
  std::string VendorString();
  std::string ProductString();
  std::string ParameterName(VstInt32 index);
  std::string ParameterLabel(VstInt32 index);
  std::string ParameterDisplay(VstInt32 index);
  float GetParameter(VstInt32 index);
  void SetParameter(VstInt32 index, float value);
  // Index of the parameter with this name (case-insensitive), -1 when none.
  VstInt32 FindParameter(const std::string& name);
  VstIntPtr CanDo(const std::string& text);
  std::string GetChunk();
  VstIntPtr SetChunk(const std::string& bytes);
  void SendMidi(const std::vector<VstMidiEvent>& events);
  void ProcessReplacing(float** inputs, float** outputs, VstInt32 frames);

  // --- What the host answers
  VstTimeInfo timeInfo{};
  bool timeInfoAvailable = true;
  VstIntPtr pinConnectedAnswer = 0;

  // --- What the plug-in did
  std::vector<THostCall> calls;
  std::vector<VstMidiEvent> receivedMidi;           // one entry per event sent to the host
  std::vector<VstInt32> receivedMidiBlockSizes;     // numEvents of each audioMasterProcessEvents call
  std::vector<std::pair<VstInt32, float>> automated;
  std::function<void(const THostCall&)> onCall;  // called after each logged call
  // Held while a call of the plug-in is answered and logged, and while an audio thread updates
  // the time information: read the logs under it while audio runs on another thread.
  mutable std::mutex callLock;

  size_t CountCalls(VstInt32 opcode) const;

 private:
  static VstIntPtr VSTCALLBACK Callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                        void* ptr, float opt);
  VstIntPtr Answer(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

  void* module_ = nullptr;
  AEffect* effect_ = nullptr;
  VstInt32 hostVersion_;
};

// The vsthost program's processing loop, reusable by tests.
struct TProcessOptions {
  VstInt32 blockSize = 512;
  bool transport = true;          // answer time information
  bool playing = false;           // transport runs from the start
  int64_t stopAtFrame = -1;       // transport stops at this frame (-1: never)
  double tempo = 120.0;
  std::vector<VstMidiEvent> midi;  // deltaFrames hold absolute frames; delivered per block
  std::function<void(double)> progress;  // fraction done, called now and then
};

// Runs `inputs` (one array per channel, mono duplicated to every input) through the plug-in in
// blocks and answers one array per output channel.
std::vector<std::vector<float>> ProcessThrough(TVstHost& host, const std::vector<std::vector<float>>& inputs,
                                               double sampleRate, const TProcessOptions& options);
