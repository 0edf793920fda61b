// A minimal plug-in on the VST 2 layer for testing the host: one "Gain" parameter, echoes the MIDI
// it receives back to the host in the next processed block, keeps its gain as a text chunk.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "plugin/vst/AudioEffectX.h"

namespace {

class TTestGain : public AudioEffectX {
 public:
  explicit TTestGain(audioMasterCallback master) : AudioEffectX(master, 1, 1) {
    setNumInputs(2);
    setNumOutputs(2);
    setUniqueID(FourCharToLong('t', 'G', 'a', 'n'));
    programsAreChunks(true);
  }

  void processReplacing(float** inputs, float** outputs, VstInt32 frames) override {
    for (int c = 0; c < 2; ++c)
      for (VstInt32 i = 0; i < frames; ++i) outputs[c][i] = inputs[c][i] * gain_;
    if (!pending_.empty()) {
      std::vector<VstIntPtr> block(2 + pending_.size(), 0);
      auto* events = reinterpret_cast<VstEvents*>(block.data());
      events->numEvents = static_cast<VstInt32>(pending_.size());
      for (size_t i = 0; i < pending_.size(); ++i) events->events[i] = reinterpret_cast<VstEvent*>(&pending_[i]);
      sendVstEventsToHost(events);
      pending_.clear();
    }
  }
  VstInt32 processEvents(VstEvents* events) override {
    for (VstInt32 i = 0; i < events->numEvents; ++i)
      if (events->events[i]->type == kVstMidiType) pending_.push_back(*reinterpret_cast<VstMidiEvent*>(events->events[i]));
    return 1;
  }
  void setParameter(VstInt32 index, float value) override {
    if (index == 0) gain_ = value * 2.0f;
  }
  float getParameter(VstInt32 index) override { return index == 0 ? gain_ / 2.0f : 0.0f; }
  void getParameterName(VstInt32 index, char* text) override { CopyHostText(text, index == 0 ? "Gain" : "", 8); }
  void getParameterLabel(VstInt32 index, char* text) override { CopyHostText(text, "x", 8); }
  void getParameterDisplay(VstInt32 index, char* text) override {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", gain_);
    CopyHostText(text, buffer, 8);
  }
  bool getEffectName(char* name) override {
    CopyHostText(name, "Test Gain", 32);
    return true;
  }
  bool getVendorString(char* text) override {
    CopyHostText(text, "Test Vendor", 64);
    return true;
  }
  VstInt32 canDo(char* text) override { return std::string(text) == "receiveVstMidiEvent" ? 1 : -1; }
  VstInt32 getChunk(void** data, bool) override {
    chunk_ = std::to_string(gain_);
    *data = chunk_.data();
    return static_cast<VstInt32>(chunk_.size());
  }
  VstInt32 setChunk(void* data, VstInt32 size, bool) override {
    gain_ = std::strtof(std::string(static_cast<char*>(data), size).c_str(), nullptr);
    return size;
  }

 private:
  float gain_ = 1.0f;
  std::string chunk_;
  std::vector<VstMidiEvent> pending_;
};

}  // namespace

extern "C" __declspec(dllexport) AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback master) {
  try {
    if (!master || master(nullptr, audioMasterVersion, 0, 0, nullptr, 0) == 0) return nullptr;
    return (new TTestGain(master))->getAeffect();
  } catch (...) {
    return nullptr;
  }
}
