// The base of a plug-in editor: the host opens it in a window of its own and polls it when idle.
#pragma once

#include "VstTypes.h"

class AudioEffect;

// Editor operations come on the host's GUI thread.
class AEffEditor {
 public:
  explicit AEffEditor(AudioEffect* effect) : effect(effect) {}
  virtual ~AEffEditor() = default;
  AEffEditor(const AEffEditor&) = delete;
  AEffEditor& operator=(const AEffEditor&) = delete;

  // Stores the address of the editor's rectangle through `rect`; the base answers none and 0.
  virtual VstInt32 getRect(ERect** rect) {
    if (rect) *rect = nullptr;
    return 0;
  }
  // `parent` is the host's window handle.
  virtual VstInt32 open(void* parent) {
    systemWindow = parent;
    return 0;
  }
  virtual void close() { systemWindow = nullptr; }
  virtual bool isOpen() { return systemWindow != nullptr; }
  virtual void idle() {}
  virtual VstInt32 onKeyDown(VstKeyCode& keyCode) { return 0; }
  virtual VstInt32 onKeyUp(VstKeyCode& keyCode) { return 0; }
  virtual VstInt32 setKnobMode(VstInt32 mode) { return 0; }
  virtual bool onWheel(float distance) { return false; }

  AudioEffect* getEffect() const { return effect; }

 protected:
  AudioEffect* effect;
  void* systemWindow = nullptr;
  ERect rect{};
};
