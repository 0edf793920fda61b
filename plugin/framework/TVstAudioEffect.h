// The edit holder: the begin-edit and end-edit calls the host adapter wires to its host.
#pragma once

#include <cstdint>

#include "classlib/Methods.h"
#include "classlib/System.h"

// The plug-in owns one; the adapter assigns both method pointers after creating the plug-in.
// Called on the GUI thread around a gesture (a knob drag) so the host can group its automation.
class TVstAudioEffect : public TObject {
 public:
  using TEditMethod = TMethod<bool(int32_t)>;

  TEditMethod OnBeginEdit;  // (parameter index) → the host's answer
  TEditMethod OnEndEdit;

  // Call the wired method; false when none is wired.
  bool BeginEdit(int32_t index) const;
  bool EndEdit(int32_t index) const;
};
