// The scripted host's portable half: dispatcher conveniences, host answers and the block loop.
#include "VstHost.h"

#include "plugin/vst/AudioEffect.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

VstIntPtr TVstHost::Answer(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
  switch (opcode) {
    case audioMasterVersion: return hostVersion_;
    case audioMasterAutomate: automated.emplace_back(index, opt); return 0;
    case audioMasterGetTime: return timeInfoAvailable ? reinterpret_cast<VstIntPtr>(&timeInfo) : 0;
    case audioMasterProcessEvents: {
      auto* events = static_cast<VstEvents*>(ptr);
      if (!events) return 0;
      receivedMidiBlockSizes.push_back(events->numEvents);
      for (VstInt32 i = 0; i < events->numEvents; ++i) {
        if (events->events[i] && events->events[i]->type == kVstMidiType)
          receivedMidi.push_back(*reinterpret_cast<VstMidiEvent*>(events->events[i]));
      }
      return 1;
    }
    case audioMasterPinConnected: return pinConnectedAnswer;
    case audioMasterWantMidi: return 1;
    case audioMasterIOChanged: return 1;
    case audioMasterSizeWindow: return 1;
    case audioMasterGetSampleRate: return static_cast<VstIntPtr>(timeInfo.sampleRate);
    case audioMasterGetVendorString: CopyHostText(static_cast<char*>(ptr), "Pellwright Test", 63); return 1;
    case audioMasterGetProductString: CopyHostText(static_cast<char*>(ptr), "vsthost", 63); return 1;
    case audioMasterGetVendorVersion: return 1000;
    case audioMasterCanDo: {
      const char* text = static_cast<const char*>(ptr);
      if (!text) return 0;
      for (const char* yes : {"sendVstEvents", "sendVstMidiEvent", "sendVstTimeInfo", "receiveVstEvents",
                              "receiveVstMidiEvent", "sizeWindow"})
        if (std::strcmp(text, yes) == 0) return 1;
      return 0;
    }
    case audioMasterBeginEdit:
    case audioMasterEndEdit: return 1;
    default: return 0;
  }
}

size_t TVstHost::CountCalls(VstInt32 opcode) const {
  return static_cast<size_t>(
      std::count_if(calls.begin(), calls.end(), [opcode](const THostCall& c) { return c.opcode == opcode; }));
}

VstIntPtr TVstHost::Dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
  if (!effect_) return 0;
  return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

void TVstHost::Start(float sampleRate, VstInt32 blockSize) {
  timeInfo.sampleRate = sampleRate;
  Dispatch(effOpen);
  Dispatch(effSetSampleRate, 0, 0, nullptr, sampleRate);
  Dispatch(effSetBlockSize, 0, blockSize);
  Dispatch(effMainsChanged, 0, 1);
}

namespace {
// Hosts hand out generous buffers; a plug-in that writes past the VST limits shows up as a
// missing terminator within them.
std::string TextFrom(const char* buffer, size_t size) { return std::string(buffer, strnlen(buffer, size)); }
}  // namespace

std::string TVstHost::EffectName() {
  char text[256] = {};
  Dispatch(effGetEffectName, 0, 0, text);
  return TextFrom(text, sizeof text);
}

std::string TVstHost::VendorString() {
  char text[256] = {};
  Dispatch(effGetVendorString, 0, 0, text);
  return TextFrom(text, sizeof text);
}

std::string TVstHost::ProductString() {
  char text[256] = {};
  Dispatch(effGetProductString, 0, 0, text);
  return TextFrom(text, sizeof text);
}

std::string TVstHost::ParameterName(VstInt32 index) {
  char text[256] = {};
  Dispatch(effGetParamName, index, 0, text);
  return TextFrom(text, sizeof text);
}

std::string TVstHost::ParameterLabel(VstInt32 index) {
  char text[256] = {};
  Dispatch(effGetParamLabel, index, 0, text);
  return TextFrom(text, sizeof text);
}

std::string TVstHost::ParameterDisplay(VstInt32 index) {
  char text[256] = {};
  Dispatch(effGetParamDisplay, index, 0, text);
  return TextFrom(text, sizeof text);
}

float TVstHost::GetParameter(VstInt32 index) { return effect_ ? effect_->getParameter(effect_, index) : 0.0f; }

void TVstHost::SetParameter(VstInt32 index, float value) {
  if (effect_) effect_->setParameter(effect_, index, value);
}

VstInt32 TVstHost::FindParameter(const std::string& name) {
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  if (!effect_) return -1;
  for (VstInt32 i = 0; i < effect_->numParams; ++i)
    if (lower(ParameterName(i)) == lower(name)) return i;
  return -1;
}

VstIntPtr TVstHost::CanDo(const std::string& text) {
  std::string copy = text;
  return Dispatch(effCanDo, 0, 0, copy.data());
}

std::string TVstHost::GetChunk() {
  void* data = nullptr;
  VstIntPtr size = Dispatch(effGetChunk, 0, 0, &data);
  if (size <= 0 || !data) return std::string();
  return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
}

VstIntPtr TVstHost::SetChunk(const std::string& bytes) {
  std::string copy = bytes;
  return Dispatch(effSetChunk, 0, static_cast<VstIntPtr>(copy.size()), copy.data());
}

void TVstHost::SendMidi(const std::vector<VstMidiEvent>& events) {
  if (events.empty()) return;
  // VstEvents ends in a two-pointer array that hosts over-allocate for longer lists.
  std::vector<VstIntPtr> block(2 + events.size() + 2, 0);
  auto* header = reinterpret_cast<VstEvents*>(block.data());
  header->numEvents = static_cast<VstInt32>(events.size());
  std::vector<VstMidiEvent> copies = events;
  for (size_t i = 0; i < copies.size(); ++i) header->events[i] = reinterpret_cast<VstEvent*>(&copies[i]);
  Dispatch(effProcessEvents, 0, 0, header);
}

void TVstHost::ProcessReplacing(float** inputs, float** outputs, VstInt32 frames) {
  if (effect_) effect_->processReplacing(effect_, inputs, outputs, frames);
}

std::vector<std::vector<float>> ProcessThrough(TVstHost& host, const std::vector<std::vector<float>>& inputs,
                                               double sampleRate, const TProcessOptions& options) {
  AEffect* effect = host.Effect();
  size_t frames = inputs.empty() ? 0 : inputs[0].size();
  VstInt32 block = std::max<VstInt32>(1, options.blockSize);
  int numIn = std::max(effect->numInputs, 0);
  int numOut = std::max(effect->numOutputs, 0);

  std::vector<std::vector<float>> inBlocks(numIn, std::vector<float>(block));
  std::vector<std::vector<float>> outBlocks(numOut, std::vector<float>(block));
  std::vector<std::vector<float>> result(numOut, std::vector<float>(frames));
  std::vector<float*> inPtrs(numIn + 1), outPtrs(numOut + 1);

  host.timeInfo.sampleRate = sampleRate;
  host.timeInfo.tempo = options.tempo;
  host.timeInfoAvailable = options.transport;
  bool playing = options.playing;
  bool announced = false;

  for (size_t done = 0; done < frames; done += block) {
    VstInt32 n = static_cast<VstInt32>(std::min<size_t>(block, frames - done));
    for (int c = 0; c < numIn; ++c) {
      const std::vector<float>& source = inputs.empty() ? std::vector<float>() : inputs[c % inputs.size()];
      std::copy(source.begin() + done, source.begin() + done + n, inBlocks[c].begin());
      inPtrs[c] = inBlocks[c].data();
    }
    for (int c = 0; c < numOut; ++c) {
      std::fill(outBlocks[c].begin(), outBlocks[c].end(), 0.0f);
      outPtrs[c] = outBlocks[c].data();
    }

    // Transport: report a change in the block where playing starts or stops.
    bool wasPlaying = playing;
    if (options.stopAtFrame >= 0 && static_cast<int64_t>(done) >= options.stopAtFrame) playing = false;
    VstInt32 flags = kVstTempoValid | kVstPpqPosValid | kVstBarsValid | kVstTimeSigValid;
    if (playing) flags |= kVstTransportPlaying;
    if (!announced || wasPlaying != playing) flags |= kVstTransportChanged;
    announced = true;
    host.timeInfo.flags = flags;
    host.timeInfo.samplePos = static_cast<double>(done);
    host.timeInfo.ppqPos = static_cast<double>(done) / sampleRate * options.tempo / 60.0;
    host.timeInfo.barStartPos = std::floor(host.timeInfo.ppqPos / 4.0) * 4.0;

    std::vector<VstMidiEvent> due;
    for (const VstMidiEvent& e : options.midi) {
      if (e.deltaFrames >= static_cast<VstInt32>(done) && e.deltaFrames < static_cast<VstInt32>(done + n)) {
        VstMidiEvent copy = e;
        copy.deltaFrames -= static_cast<VstInt32>(done);
        due.push_back(copy);
      }
    }
    host.SendMidi(due);
    host.ProcessReplacing(inPtrs.data(), outPtrs.data(), n);
    for (int c = 0; c < numOut; ++c) std::copy(outBlocks[c].begin(), outBlocks[c].begin() + n, result[c].begin() + done);
    if (options.progress) options.progress(static_cast<double>(done + n) / static_cast<double>(frames));
  }
  return result;
}
