// The record's C entries and the base dispatcher (opcodes 0-24).
#include "AudioEffect.h"

#include <cmath>
#include <cstring>

#include "AEffEditor.h"
#include "classlib/SysUtils.h"

void CopyHostText(char* buffer, const std::string& text, size_t maxChars) {
  if (!buffer) return;
  size_t n = text.size() < maxChars ? text.size() : maxChars;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

// --- C entries: the host calls these through the record. Nothing may unwind into the host: what
// the plug-in's code let through is handed to the exception library (when attached) and stops here.

namespace {

void (*gClosedHandler)() = nullptr;

AudioEffect* ObjectOf(AEffect* effect) {
  return effect ? static_cast<AudioEffect*>(effect->object) : nullptr;
}

VstIntPtr VSTCALLBACK AEffectDispatcherProc(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                            void* ptr, float opt) {
  AudioEffect* object = ObjectOf(effect);
  if (!object) return 0;
  if (opcode == effClose) {
    // The record lives inside the object: after this nothing may touch `effect`.
    try {
      object->dispatcher(opcode, index, value, ptr, opt);
    } catch (...) {
      HandOverCaughtException(0);
    }
    effect->object = nullptr;
    try {
      delete object;
    } catch (...) {
      HandOverCaughtException(0);
    }
    try {
      if (gClosedHandler) gClosedHandler();
    } catch (...) {
    }
    return 1;
  }
  try {
    return object->dispatcher(opcode, index, value, ptr, opt);
  } catch (...) {
    HandOverCaughtException(0);
    return 0;
  }
}

float VSTCALLBACK AEffectGetParameterProc(AEffect* effect, VstInt32 index) {
  AudioEffect* object = ObjectOf(effect);
  if (!object) return 0.0f;
  try {
    return object->getParameter(index);
  } catch (...) {
    HandOverCaughtException(0);
    return 0.0f;
  }
}

void VSTCALLBACK AEffectSetParameterProc(AEffect* effect, VstInt32 index, float value) {
  AudioEffect* object = ObjectOf(effect);
  if (!object) return;
  try {
    object->setParameter(index, value);
  } catch (...) {
    HandOverCaughtException(0);
  }
}

void VSTCALLBACK AEffectProcessProc(AEffect* effect, float** inputs, float** outputs, VstInt32 frames) {
  AudioEffect* object = ObjectOf(effect);
  if (!object) return;
  try {
    object->process(inputs, outputs, frames);
  } catch (...) {
    HandOverCaughtException(0);
  }
}

void VSTCALLBACK AEffectProcessReplacingProc(AEffect* effect, float** inputs, float** outputs, VstInt32 frames) {
  AudioEffect* object = ObjectOf(effect);
  if (!object) return;
  try {
    object->processReplacing(inputs, outputs, frames);
  } catch (...) {
    HandOverCaughtException(0);
  }
}

void VSTCALLBACK AEffectProcessDoubleReplacingProc(AEffect* effect, double** inputs, double** outputs,
                                                   VstInt32 frames) {
  AudioEffect* object = ObjectOf(effect);
  if (!object) return;
  try {
    object->processDoubleReplacing(inputs, outputs, frames);
  } catch (...) {
    HandOverCaughtException(0);
  }
}

}  // namespace

void SetEffectClosedHandler(void (*handler)()) { gClosedHandler = handler; }

// --- AudioEffect

AudioEffect::AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
    : audioMaster(audioMaster), numPrograms(numPrograms), numParams(numParams) {
  std::memset(&cEffect, 0, sizeof cEffect);
  cEffect.magic = kEffectMagic;
  cEffect.dispatcher = AEffectDispatcherProc;
  cEffect.process = AEffectProcessProc;
  cEffect.setParameter = AEffectSetParameterProc;
  cEffect.getParameter = AEffectGetParameterProc;
  cEffect.numPrograms = numPrograms;
  cEffect.numParams = numParams;
  cEffect.numInputs = 1;
  cEffect.numOutputs = 2;
  cEffect.flags = effFlagsCanReplacing;
  cEffect.ioRatio = 1.0f;
  cEffect.object = this;
  cEffect.uniqueID = FourCharToLong('N', 'o', 'E', 'f');
  cEffect.version = 1;
  cEffect.processReplacing = AEffectProcessReplacingProc;
  cEffect.processDoubleReplacing = AEffectProcessDoubleReplacingProc;
}

AudioEffect::~AudioEffect() {
  delete editor;
  editor = nullptr;
}

void AudioEffect::setEditor(AEffEditor* newEditor) {
  editor = newEditor;
  SetFlag(effFlagsHasEditor, editor != nullptr);
}

void AudioEffect::SetFlag(VstInt32 flag, bool state) {
  if (state)
    cEffect.flags |= flag;
  else
    cEffect.flags &= ~flag;
}

VstIntPtr AudioEffect::CallHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
  return audioMaster ? audioMaster(&cEffect, opcode, index, value, ptr, opt) : 0;
}

void AudioEffect::setSampleRate(float rate) {
  if (rate > 0) sampleRate = rate;
}

void AudioEffect::setBlockSize(VstInt32 size) { blockSize = size; }

void AudioEffect::setParameterAutomated(VstInt32 index, float value) {
  setParameter(index, value);
  CallHost(audioMasterAutomate, index, 0, nullptr, value);
}

VstInt32 AudioEffect::getMasterVersion() {
  VstInt32 version = static_cast<VstInt32>(CallHost(audioMasterVersion));
  return version == 0 ? 1 : version;
}

VstInt32 AudioEffect::getCurrentUniqueId() { return static_cast<VstInt32>(CallHost(audioMasterCurrentId)); }

void AudioEffect::masterIdle() { CallHost(audioMasterIdle); }

bool AudioEffect::isInputConnected(VstInt32 input) { return CallHost(audioMasterPinConnected, input, 0) == 0; }

bool AudioEffect::isOutputConnected(VstInt32 output) { return CallHost(audioMasterPinConnected, output, 1) == 0; }

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
  switch (opcode) {
    case effOpen: open(); return 0;
    case effClose: close(); return 0;
    case effSetProgram:
      if (value < numPrograms) setProgram(static_cast<VstInt32>(value));
      return 0;
    case effGetProgram: return getProgram();
    case effSetProgramName: setProgramName(static_cast<char*>(ptr)); return 0;
    case effGetProgramName: getProgramName(static_cast<char*>(ptr)); return 0;
    case effGetParamLabel: getParameterLabel(index, static_cast<char*>(ptr)); return 0;
    case effGetParamDisplay: getParameterDisplay(index, static_cast<char*>(ptr)); return 0;
    case effGetParamName: getParameterName(index, static_cast<char*>(ptr)); return 0;
    case effGetVu: return static_cast<VstIntPtr>(Round(getVu() * 32767.0));
    case effSetSampleRate: setSampleRate(opt); return 0;
    case effSetBlockSize: setBlockSize(static_cast<VstInt32>(value)); return 0;
    case effMainsChanged:
      if (value == 0)
        suspend();
      else
        resume();
      return 0;
    case effEditGetRect: return editor ? editor->getRect(static_cast<ERect**>(ptr)) : 0;
    case effEditOpen: return editor ? editor->open(ptr) : 0;
    case effEditClose:
      if (editor) editor->close();
      return 0;
    case effEditIdle:
      if (editor) editor->idle();
      return 0;
    case effIdentify: return FourCharToLong('N', 'v', 'E', 'f');
    case effGetChunk: return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk: return setChunk(ptr, static_cast<VstInt32>(value), index != 0);
    default: return 0;
  }
}
