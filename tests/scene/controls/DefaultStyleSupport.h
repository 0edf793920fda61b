// Test support of the default style: loading it (the module's resource under Windows, the form
// text of the source tree elsewhere) and the table of style roots and the parts each control
// looks up in its style.
#pragma once

#include <string>
#include <vector>

#include "scene/core/vg_object.h"

// The style root a control class finds and the parts its ApplyStyle looks up ("name:Class").
// Classes that draw themselves have no root; an empty class names a root that controls reach
// through their Resource only.
struct TStyleCase {
  std::string ClassName;
  std::string Root;
  std::vector<std::string> Parts;
};
const std::vector<TStyleCase>& StyleCases();

// The form text of the default style from the source tree ("" when it cannot be read).
std::string DefaultStyleText();
// Makes the default style current: the RCDATA resource when the module has one, else the form
// text of the source tree. Answers the style root (nullptr when neither loads).
TvgObject* UseDefaultStyle();

class TvgManualAniTimer;
// Registers the control classes, puts the animations and the controls' timers on manual timers
// and makes the default style current; answers the animations' timer.
TvgManualAniTimer* StartDefaultStyleTest();
// Undoes StartDefaultStyleTest.
void EndDefaultStyleTest();
