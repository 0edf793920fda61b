// Dispatcher opcodes 25-79 and the host-callback wrappers.
#include "AudioEffectX.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "AEffEditor.h"
#include "classlib/System.h"

namespace {
constexpr size_t ArrangementBytes(VstInt32 channels) {
  return 8 + 112 * static_cast<size_t>(channels > 0 ? channels : 0);
}
}  // namespace

VstIntPtr AudioEffectX::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
  char* text = static_cast<char*>(ptr);
  switch (opcode) {
    case effProcessEvents: return processEvents(static_cast<VstEvents*>(ptr));
    case effCanBeAutomated: return canParameterBeAutomated(index) ? 1 : 0;
    case effString2Parameter: return string2parameter(index, text) ? 1 : 0;
    case effGetNumProgramCategories: return getNumCategories();
    case effGetProgramNameIndexed:
      return getProgramNameIndexed(static_cast<VstInt32>(value), index, text) ? 1 : 0;
    case effCopyProgram: return copyProgram(index) ? 1 : 0;
    case effConnectInput: inputConnected(index, value != 0); return 1;
    case effConnectOutput: outputConnected(index, value != 0); return 1;
    case effGetInputProperties: return getInputProperties(index, static_cast<VstPinProperties*>(ptr)) ? 1 : 0;
    case effGetOutputProperties: return getOutputProperties(index, static_cast<VstPinProperties*>(ptr)) ? 1 : 0;
    case effGetPlugCategory: return getPlugCategory();
    case effGetCurrentPosition: return reportCurrentPosition();
    case effGetDestinationBuffer: return reinterpret_cast<VstIntPtr>(reportDestinationBuffer());
    case effProcessVarIo: return processVariableIo(static_cast<VstVariableIo*>(ptr)) ? 1 : 0;
    case effSetBlockSizeAndSampleRate: setBlockSizeAndSampleRate(static_cast<VstInt32>(value), opt); return 1;
    case effSetBypass: return setBypass(value != 0) ? 1 : 0;
    case effGetEffectName: return getEffectName(text) ? 1 : 0;
    case effGetErrorText: return getErrorText(text) ? 1 : 0;
    case effGetVendorString: return getVendorString(text) ? 1 : 0;
    case effGetProductString: return getProductString(text) ? 1 : 0;
    case effGetVendorVersion: return getVendorVersion();
    case effVendorSpecific: return vendorSpecific(index, value, ptr, opt);
    case effCanDo: return canDo(text);
    case effGetTailSize: return getGetTailSize();
    case effIdle: return fxIdle();
    case effGetIcon: return reinterpret_cast<VstIntPtr>(getIcon());
    case effGetParameterProperties:
      return getParameterProperties(index, static_cast<VstParameterProperties*>(ptr)) ? 1 : 0;
    case effKeysRequired: return keysRequired() ? 0 : 1;
    case effGetVstVersion: return getVstVersion();
    case effEditKeyDown:
    case effEditKeyUp: {
      if (!editor) return 0;
      VstKeyCode key{};
      key.character = index;
      key.virt = static_cast<unsigned char>(value);
      key.modifier = static_cast<unsigned char>(Round(opt));
      return opcode == effEditKeyDown ? editor->onKeyDown(key) : editor->onKeyUp(key);
    }
    case effGetMidiProgramName: return getMidiProgramName(index, static_cast<MidiProgramName*>(ptr));
    case effGetCurrentMidiProgram: return getCurrentMidiProgram(index, static_cast<MidiProgramName*>(ptr));
    case effGetMidiProgramCategory: return getMidiProgramCategory(index, static_cast<MidiProgramCategory*>(ptr));
    case effHasMidiProgramsChanged: return hasMidiProgramsChanged(index) ? 1 : 0;
    case effGetMidiKeyName: return getMidiKeyName(index, static_cast<MidiKeyName*>(ptr)) ? 1 : 0;
    case effBeginSetProgram: return beginSetProgram() ? 1 : 0;
    case effEndSetProgram: return endSetProgram() ? 1 : 0;
    case effGetSpeakerArrangement:
      return getSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement**>(value),
                                   static_cast<VstSpeakerArrangement**>(ptr)) ? 1 : 0;
    case effStartProcess: return startProcess();
    case effStopProcess: return stopProcess();
    case effSetTotalSampleToProcess: return setTotalSampleToProcess(static_cast<VstInt32>(value));
    case effSetPanLaw: return setPanLaw(static_cast<VstInt32>(value), opt) ? 1 : 0;
    case effBeginLoadBank: return beginLoadBank(ptr);
    case effBeginLoadProgram: return beginLoadProgram(ptr);
    case effSetProcessPrecision: return setProcessPrecision(static_cast<VstInt32>(value));
    case effGetNumMidiInputChannels: return getNumMidiInputChannels();
    case effGetNumMidiOutputChannels: return getNumMidiOutputChannels();
    default:
      if (opcode < effProcessEvents) return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
      return 0;
  }
}

void AudioEffectX::resume() {
  if (!(cEffect.flags & effFlagsIsSynth)) {
    char query[] = "receiveVstMidiEvent";
    if (canDo(query) != 1) return;
  }
  wantEvents(1);
}

// --- Host-callback wrappers

bool AudioEffectX::beginEdit(VstInt32 index) { return CallHost(audioMasterBeginEdit, index) != 0; }
bool AudioEffectX::endEdit(VstInt32 index) { return CallHost(audioMasterEndEdit, index) != 0; }
bool AudioEffectX::ioChanged() { return CallHost(audioMasterIOChanged) != 0; }

double AudioEffectX::updateSampleRate() {
  VstIntPtr answer = CallHost(audioMasterGetSampleRate);
  if (answer > 0) sampleRate = static_cast<float>(answer);
  return sampleRate;
}

VstInt32 AudioEffectX::updateBlockSize() {
  VstIntPtr answer = CallHost(audioMasterGetBlockSize);
  if (answer > 0) blockSize = static_cast<VstInt32>(answer);
  return blockSize;
}

VstInt32 AudioEffectX::getInputLatency() { return static_cast<VstInt32>(CallHost(audioMasterGetInputLatency)); }
VstInt32 AudioEffectX::getOutputLatency() { return static_cast<VstInt32>(CallHost(audioMasterGetOutputLatency)); }

bool AudioEffectX::getSpeakerArrangement(VstSpeakerArrangement** input, VstSpeakerArrangement** output) {
  if (input) *input = nullptr;
  if (output) *output = nullptr;
  return false;
}

VstTimeInfo* AudioEffectX::getTimeInfo(VstInt32 filter) {
  return reinterpret_cast<VstTimeInfo*>(CallHost(audioMasterGetTime, 0, filter));
}

VstInt32 AudioEffectX::getCurrentProcessLevel() {
  return static_cast<VstInt32>(CallHost(audioMasterGetCurrentProcessLevel));
}

bool AudioEffectX::sendVstEventsToHost(VstEvents* events) {
  return CallHost(audioMasterProcessEvents, 0, 0, events) == 1;
}

bool AudioEffectX::getHostVendorString(char* text) { return CallHost(audioMasterGetVendorString, 0, 0, text) != 0; }
bool AudioEffectX::getHostProductString(char* text) {
  return CallHost(audioMasterGetProductString, 0, 0, text) != 0;
}
VstInt32 AudioEffectX::getHostVendorVersion() {
  return static_cast<VstInt32>(CallHost(audioMasterGetVendorVersion));
}
VstIntPtr AudioEffectX::hostVendorSpecific(VstInt32 lArg1, VstIntPtr lArg2, void* ptrArg, float floatArg) {
  return CallHost(audioMasterVendorSpecific, lArg1, lArg2, ptrArg, floatArg);
}
VstInt32 AudioEffectX::canHostDo(char* text) { return static_cast<VstInt32>(CallHost(audioMasterCanDo, 0, 0, text)); }
void* AudioEffectX::getDirectory() { return reinterpret_cast<void*>(CallHost(audioMasterGetDirectory)); }
bool AudioEffectX::updateDisplay() { return CallHost(audioMasterUpdateDisplay) != 0; }
bool AudioEffectX::sizeWindow(VstInt32 width, VstInt32 height) {
  return CallHost(audioMasterSizeWindow, width, height) != 0;
}
bool AudioEffectX::openFileSelector(void* ptr) {
  return ptr != nullptr && CallHost(audioMasterOpenFileSelector, 0, 0, ptr) != 0;
}
bool AudioEffectX::closeFileSelector(void* ptr) {
  return ptr != nullptr && CallHost(audioMasterCloseFileSelector, 0, 0, ptr) != 0;
}
bool AudioEffectX::getChunkFile(void* nativePath) {
  return nativePath != nullptr && CallHost(audioMasterGetChunkFile, 0, 0, nativePath) != 0;
}

bool AudioEffectX::offlineRead(void* offline, VstInt32 option, bool readSource) {
  return CallHost(audioMasterOfflineRead, readSource ? 1 : 0, option, offline) != 0;
}
bool AudioEffectX::offlineWrite(void* offline, VstInt32 option) {
  return CallHost(audioMasterOfflineWrite, 0, option, offline) != 0;
}
bool AudioEffectX::offlineStart(void* ptr, VstInt32 numAudioFiles, VstInt32 numNewAudioFiles) {
  return CallHost(audioMasterOfflineStart, numNewAudioFiles, numAudioFiles, ptr) != 0;
}
VstInt32 AudioEffectX::offlineGetCurrentPass() {
  return static_cast<VstInt32>(CallHost(audioMasterOfflineGetCurrentPass));
}
VstInt32 AudioEffectX::offlineGetCurrentMetaPass() {
  return static_cast<VstInt32>(CallHost(audioMasterOfflineGetCurrentMetaPass));
}

void AudioEffectX::wantEvents(VstInt32 filter) { CallHost(audioMasterWantMidi, 0, filter); }
VstInt32 AudioEffectX::tempoAt(VstInt32 pos) { return static_cast<VstInt32>(CallHost(audioMasterTempoAt, 0, pos)); }
VstInt32 AudioEffectX::getNumAutomatableParameters() {
  return static_cast<VstInt32>(CallHost(audioMasterGetNumAutomatableParameters));
}
VstInt32 AudioEffectX::getParameterQuantization() {
  return static_cast<VstInt32>(CallHost(audioMasterGetParameterQuantization));
}
bool AudioEffectX::needIdle() { return CallHost(audioMasterNeedIdle) != 0; }
AEffect* AudioEffectX::getPreviousPlug(VstInt32 input) {
  return reinterpret_cast<AEffect*>(CallHost(audioMasterGetPreviousPlug, 0, input));
}
AEffect* AudioEffectX::getNextPlug(VstInt32 output) {
  return reinterpret_cast<AEffect*>(CallHost(audioMasterGetNextPlug, 0, output));
}
VstInt32 AudioEffectX::willProcessReplacing() {
  return static_cast<VstInt32>(CallHost(audioMasterWillReplaceOrAccumulate));
}
void AudioEffectX::setOutputSamplerate(float samplerate) {
  CallHost(audioMasterSetOutputSampleRate, 0, 0, nullptr, samplerate);
}
VstSpeakerArrangement* AudioEffectX::getInputSpeakerArrangement() {
  return reinterpret_cast<VstSpeakerArrangement*>(CallHost(audioMasterGetInputSpeakerArrangement));
}
VstSpeakerArrangement* AudioEffectX::getOutputSpeakerArrangement() {
  return reinterpret_cast<VstSpeakerArrangement*>(CallHost(audioMasterGetOutputSpeakerArrangement));
}
bool AudioEffectX::openWindow(void* window) { return CallHost(audioMasterOpenWindow, 0, 0, window) != 0; }
bool AudioEffectX::closeWindow(void* window) { return CallHost(audioMasterCloseWindow, 0, 0, window) != 0; }

// --- Speaker arrangements

bool AudioEffectX::allocateArrangement(VstSpeakerArrangement** arrangement, VstInt32 channels) {
  if (!arrangement) return false;
  deallocateArrangement(arrangement);
  void* memory = std::calloc(1, ArrangementBytes(channels));
  if (!memory) return false;
  *arrangement = static_cast<VstSpeakerArrangement*>(memory);
  (*arrangement)->numChannels = channels;
  return true;
}

bool AudioEffectX::deallocateArrangement(VstSpeakerArrangement** arrangement) {
  if (!arrangement) return false;
  std::free(*arrangement);
  *arrangement = nullptr;
  return true;
}

bool AudioEffectX::copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from) {
  if (!to || !from) return false;
  std::memcpy(to, from, sizeof *to);
  return true;
}

bool AudioEffectX::matchArrangement(VstSpeakerArrangement** to, VstSpeakerArrangement* from) {
  if (!to || !from) return false;
  if (!allocateArrangement(to, from->numChannels)) return false;
  (*to)->type = from->type;
  // The speakers array is laid out past the fixed header for as many channels as were allocated.
  VstSpeakerProperties* target = (*to)->speakers;
  VstSpeakerProperties* source = from->speakers;
  for (VstInt32 i = 0; i < from->numChannels; ++i) copySpeaker(&target[i], &source[i]);
  return true;
}
