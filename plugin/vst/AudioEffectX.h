// The extended plug-in base: dispatcher opcodes 25-79, the host-callback wrappers of VST 2 and
// the operations a plug-in may override. Base answers are neutral (0, false, empty text).
#pragma once

#include "AudioEffect.h"

class AudioEffectX : public AudioEffect {
 public:
  using AudioEffect::AudioEffect;

  VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) override;
  // Asks for MIDI (wantEvents) unless the plug-in is not a synth and does not receive MIDI.
  void resume() override;

  // --- Parameters and programs
  virtual bool canParameterBeAutomated(VstInt32 index) { return true; }
  virtual bool string2parameter(VstInt32 index, char* text) { return false; }
  virtual bool getParameterProperties(VstInt32 index, VstParameterProperties* p) { return false; }
  virtual bool beginEdit(VstInt32 index);
  virtual bool endEdit(VstInt32 index);
  virtual bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) { return false; }
  virtual bool beginSetProgram() { return false; }
  virtual bool endSetProgram() { return false; }
  virtual VstInt32 beginLoadBank(void* ptr) { return 0; }
  virtual VstInt32 beginLoadProgram(void* ptr) { return 0; }

  // --- Connections, rates and latencies
  virtual bool ioChanged();
  virtual double updateSampleRate();
  virtual VstInt32 updateBlockSize();
  virtual VstInt32 getInputLatency();
  virtual VstInt32 getOutputLatency();
  virtual bool getInputProperties(VstInt32 index, VstPinProperties* properties) { return false; }
  virtual bool getOutputProperties(VstInt32 index, VstPinProperties* properties) { return false; }
  virtual bool setSpeakerArrangement(VstSpeakerArrangement* input, VstSpeakerArrangement* output) {
    return false;
  }
  virtual bool getSpeakerArrangement(VstSpeakerArrangement** input, VstSpeakerArrangement** output);
  virtual bool setBypass(bool onOff) { return false; }
  virtual bool setPanLaw(VstInt32 type, float value) { return false; }
  virtual VstInt32 setProcessPrecision(VstInt32 precision) { return 0; }
  virtual VstInt32 getNumMidiInputChannels() { return 0; }
  virtual VstInt32 getNumMidiOutputChannels() { return 0; }

  // --- Time and events
  // The host's time information for the fields in `filter`; null when the host has none.
  virtual VstTimeInfo* getTimeInfo(VstInt32 filter);
  virtual VstInt32 getCurrentProcessLevel();
  virtual VstInt32 processEvents(VstEvents* events) { return 0; }
  // True when the host accepted the events.
  virtual bool sendVstEventsToHost(VstEvents* events);
  virtual VstInt32 startProcess() { return 0; }
  virtual VstInt32 stopProcess() { return 0; }
  virtual bool processVariableIo(VstVariableIo* varIo) { return false; }
  virtual VstInt32 setTotalSampleToProcess(VstInt32 value) { return value; }

  // --- Host and plug-in identity
  virtual bool getHostVendorString(char* text);
  virtual bool getHostProductString(char* text);
  virtual VstInt32 getHostVendorVersion();
  virtual VstIntPtr hostVendorSpecific(VstInt32 lArg1, VstIntPtr lArg2, void* ptrArg, float floatArg);
  virtual VstInt32 canHostDo(char* text);
  virtual void isSynth(bool state) { SetFlag(effFlagsIsSynth, state); }
  virtual void noTail(bool state) { SetFlag(effFlagsNoSoundInStop, state); }
  virtual VstInt32 getGetTailSize() { return 0; }
  virtual void* getDirectory();
  virtual bool getEffectName(char* name) { return false; }
  virtual bool getVendorString(char* text) { return false; }
  virtual bool getProductString(char* text) {
    CopyHostText(text, "", 0);
    return false;
  }
  virtual VstInt32 getVendorVersion() { return 0; }
  virtual VstIntPtr vendorSpecific(VstInt32 lArg, VstIntPtr lArg2, void* ptrArg, float floatArg) { return 0; }
  virtual VstInt32 canDo(char* text) { return 0; }
  virtual VstInt32 getVstVersion() { return 2400; }
  virtual VstInt32 getPlugCategory() { return (cEffect.flags & effFlagsIsSynth) ? 2 : 0; }

  // --- MIDI programs
  virtual VstInt32 getMidiProgramName(VstInt32 channel, MidiProgramName* name) { return 0; }
  virtual VstInt32 getCurrentMidiProgram(VstInt32 channel, MidiProgramName* current) { return -1; }
  virtual VstInt32 getMidiProgramCategory(VstInt32 channel, MidiProgramCategory* category) { return 0; }
  virtual bool hasMidiProgramsChanged(VstInt32 channel) { return false; }
  virtual bool getMidiKeyName(VstInt32 channel, MidiKeyName* keyName) { return false; }

  // --- Display and files
  virtual bool updateDisplay();
  virtual bool sizeWindow(VstInt32 width, VstInt32 height);
  virtual bool openFileSelector(void* ptr);
  virtual bool closeFileSelector(void* ptr);
  // An old text query hosts no longer send: empty text, false.
  virtual bool getTextQuery(char* text) {
    CopyHostText(text, "", 0);
    return false;
  }

  // --- Speaker arrangements (8 + 112 bytes per channel, zeroed)
  virtual bool allocateArrangement(VstSpeakerArrangement** arrangement, VstInt32 channels);
  virtual bool deallocateArrangement(VstSpeakerArrangement** arrangement);
  virtual bool copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from);
  virtual bool matchArrangement(VstSpeakerArrangement** to, VstSpeakerArrangement* from);

  // --- Offline processing
  virtual bool offlineRead(void* offline, VstInt32 option, bool readSource);
  virtual bool offlineWrite(void* offline, VstInt32 option);
  virtual bool offlineStart(void* ptr, VstInt32 numAudioFiles, VstInt32 numNewAudioFiles);
  virtual VstInt32 offlineGetCurrentPass();
  virtual VstInt32 offlineGetCurrentMetaPass();
  virtual bool offlineNotify(void* ptr, VstInt32 numAudioFiles, bool start) { return false; }
  virtual bool offlinePrepare(void* offline, VstInt32 count) { return false; }
  virtual bool offlineRun(void* offline, VstInt32 count) { return false; }
  virtual VstInt32 offlineGetNumPasses() { return 0; }
  virtual VstInt32 offlineGetNumMetaPasses() { return 0; }

  // --- Older host services
  virtual void wantEvents(VstInt32 filter = 1);
  virtual VstInt32 tempoAt(VstInt32 pos);
  virtual VstInt32 getNumAutomatableParameters();
  virtual VstInt32 getParameterQuantization();
  virtual VstInt32 getNumCategories() { return 1; }
  virtual bool copyProgram(VstInt32 destination) { return false; }
  virtual bool needIdle();
  virtual AEffect* getPreviousPlug(VstInt32 input);
  virtual AEffect* getNextPlug(VstInt32 output);
  virtual void inputConnected(VstInt32 index, bool state) {}
  virtual void outputConnected(VstInt32 index, bool state) {}
  virtual VstInt32 willProcessReplacing();
  virtual void wantAsyncOperation(bool state) { SetFlag(effFlagsExtIsAsync, state); }
  virtual void hasExternalBuffer(bool state) { SetFlag(effFlagsExtHasBuffer, state); }
  virtual VstInt32 reportCurrentPosition() { return 0; }
  virtual float* reportDestinationBuffer() { return nullptr; }
  virtual void setOutputSamplerate(float samplerate);
  virtual VstSpeakerArrangement* getInputSpeakerArrangement();
  virtual VstSpeakerArrangement* getOutputSpeakerArrangement();
  virtual bool openWindow(void* window);
  virtual bool closeWindow(void* window);
  virtual void setBlockSizeAndSampleRate(VstInt32 size, float rate) {
    blockSize = size;
    sampleRate = rate;
  }
  virtual bool getErrorText(char* text) { return false; }
  virtual void* getIcon() { return nullptr; }
  virtual bool setViewPosition(VstInt32 x, VstInt32 y) { return false; }
  virtual VstInt32 fxIdle() { return 0; }
  virtual bool keysRequired() { return false; }
  virtual bool getChunkFile(void* nativePath);
};
