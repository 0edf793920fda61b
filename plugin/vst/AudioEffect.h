// The base of a VST 2 plug-in object: owns the record the host holds and answers the host's
// dispatcher opcodes 0-24 through virtual operations that a plug-in overrides.
#pragma once

#include <string>

#include "VstTypes.h"

class AEffEditor;

// Copies at most `maxChars` characters of `text` into a host buffer and terminates it. The host's
// buffer must hold maxChars + 1 bytes; a null buffer is left alone.
void CopyHostText(char* buffer, const std::string& text, size_t maxChars);

// Called after the close opcode has freed a plug-in object (the module entry counts its open
// plug-ins with it). Not thread-safe: set it before the first plug-in is created.
void SetEffectClosedHandler(void (*handler)());

// Every entry the host calls through the record goes to one AudioEffect. Entries never let an
// exception reach the host: a failing call answers 0 (0.0 for parameters) and does nothing more.
class AudioEffect {
 public:
  AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams);
  virtual ~AudioEffect();
  AudioEffect(const AudioEffect&) = delete;
  AudioEffect& operator=(const AudioEffect&) = delete;

  AEffect* getAeffect() { return &cEffect; }
  // Takes ownership of the editor (may be null) and sets or clears effFlagsHasEditor.
  void setEditor(AEffEditor* newEditor);
  AEffEditor* getEditor() const { return editor; }
  float getSampleRate() const { return sampleRate; }
  VstInt32 getBlockSize() const { return blockSize; }

  virtual void setSampleRate(float rate);
  virtual void setBlockSize(VstInt32 size);
  virtual VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);
  virtual void open() {}
  virtual void close() {}
  virtual void suspend() {}
  virtual void resume() {}
  virtual void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) = 0;
  virtual void processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames) {}
  virtual void setParameter(VstInt32 index, float value) {}
  virtual float getParameter(VstInt32 index) { return 0.0f; }
  virtual void setParameterAutomated(VstInt32 index, float value);
  virtual VstInt32 getProgram() { return curProgram; }
  virtual void setProgram(VstInt32 program) { curProgram = program; }
  virtual void setProgramName(char* name) {}
  virtual void getProgramName(char* name) { CopyHostText(name, "", 0); }
  virtual void getParameterLabel(VstInt32 index, char* label) { CopyHostText(label, "", 0); }
  virtual void getParameterDisplay(VstInt32 index, char* text) { CopyHostText(text, "", 0); }
  virtual void getParameterName(VstInt32 index, char* text) { CopyHostText(text, "", 0); }
  virtual VstInt32 getChunk(void** data, bool isPreset) { return 0; }
  virtual VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset) { return 0; }
  virtual void setUniqueID(VstInt32 id) { cEffect.uniqueID = id; }
  virtual void setNumInputs(VstInt32 inputs) { cEffect.numInputs = inputs; }
  virtual void setNumOutputs(VstInt32 outputs) { cEffect.numOutputs = outputs; }
  virtual void canProcessReplacing(bool state) { SetFlag(effFlagsCanReplacing, state); }
  virtual void canDoubleReplacing(bool state) { SetFlag(effFlagsCanDoubleReplacing, state); }
  virtual void programsAreChunks(bool state) { SetFlag(effFlagsProgramChunks, state); }
  virtual void setInitialDelay(VstInt32 delay) { cEffect.initialDelay = delay; }
  // The host's VST version; 1 when there is no callback or the host answers 0.
  virtual VstInt32 getMasterVersion();
  virtual VstInt32 getCurrentUniqueId();
  virtual void masterIdle();
  virtual void process(float** inputs, float** outputs, VstInt32 sampleFrames) {}
  virtual float getVu() { return 0.0f; }
  virtual void hasVu(bool state) { SetFlag(effFlagsHasVu, state); }
  virtual void hasClip(bool state) { SetFlag(effFlagsHasClip, state); }
  virtual void canMono(bool state) { SetFlag(effFlagsCanMono, state); }
  virtual void setRealQualities(VstInt32 qualities) { cEffect.realQualities = qualities; }
  virtual void setOffQualities(VstInt32 qualities) { cEffect.offQualities = qualities; }
  // True when the host answers 0 (it does not know) or there is no callback.
  virtual bool isInputConnected(VstInt32 input);
  virtual bool isOutputConnected(VstInt32 output);

 protected:
  // Calls the host; 0 when there is no callback.
  VstIntPtr CallHost(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                     float opt = 0.0f);
  void SetFlag(VstInt32 flag, bool state);

  audioMasterCallback audioMaster;
  AEffect cEffect;
  AEffEditor* editor = nullptr;
  float sampleRate = 44100.0f;
  VstInt32 blockSize = 1024;
  VstInt32 numPrograms;
  VstInt32 numParams;
  VstInt32 curProgram = 0;
};
