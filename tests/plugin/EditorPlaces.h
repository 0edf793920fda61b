// Where the product editor's controls sit, in the editor's client coordinates, and where a mouse
// message at a point goes, for the tests that drive the real DLL's editor with the mouse.
#pragma once

#include <windows.h>

#include <cstdint>

#include "plugin/vst/VstTypes.h"

enum : VstInt32 { kPlay, kRecord, kPlayStart, kPlayEnd, kRecordStart, kRecordEnd, kRate, kInput, kFeedBack, kMix,
                  kFixed, kSlave, kParameterCount };

// A knob: its 40 x 40 frame's top-left corner and the parameter it shows. The feedback knob is
// turned by a fiftieth of a degree in the form, so its frame is resampled rather than copied: it
// is recognised within a few frames.
struct TKnobPlace {
  const char* name;
  VstInt32 parameter;
  int32_t left, top;
  int frameTolerance;
};
inline constexpr TKnobPlace kKnobs[] = {{"PlayStart", kPlayStart, 45, 256, 0},  {"PlayEnd", kPlayEnd, 105, 256, 0},
                                        {"RecordStart", kRecordStart, 305, 256, 0}, {"RecordEnd", kRecordEnd, 365, 256, 0},
                                        {"Rate", kRate, 250, 376, 0},          {"Input", kInput, 60, 376, 0},
                                        {"Feedback", kFeedBack, 160, 376, 3},  {"Mix", kMix, 350, 376, 0}};
inline const TKnobPlace& Knob(VstInt32 parameter) {
  for (const TKnobPlace& k : kKnobs)
    if (k.parameter == parameter) return k;
  return kKnobs[0];
}

// The four switches (a click toggles the parameter through the host's automation), the lamp of
// the Fixed switch and the two hot spots that open the about box.
struct TSwitchPlace {
  VstInt32 parameter;
  int32_t x, y;
};
inline constexpr TSwitchPlace kSwitches[] = {{kFixed, 95, 311}, {kSlave, 355, 311}, {kRecord, 225, 279}, {kPlay, 225, 325}};
inline constexpr int32_t kFixedLampX = 74, kFixedLampY = 311;
inline constexpr int32_t kFixedX = 95, kFixedY = 311;
inline constexpr int32_t kAboutHotSpotsX[] = {70, 380};
inline constexpr int32_t kAboutHotSpotY = 467;

// The deepest visible window under a point of `top`'s client area, where the system sends a
// mouse message; the point is turned into that window's client coordinates.
inline HWND WindowAt(HWND top, POINT& point) {
  HWND window = top;
  for (;;) {
    HWND child = ChildWindowFromPointEx(window, point, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
    if (child == nullptr || child == window) return window;
    MapWindowPoints(window, child, &point, 1);
    window = child;
  }
}
