// What the controls ask of the class library's windows: the modal result and closing of the form
// that owns a scene, and the bounds and visibility of a hosted window control. The Windows build
// installs handlers; without them nothing happens.
#pragma once

#include <cstdint>
#include <functional>

#include "classlib/Classes.h"

using TvgModalResult = int32_t;

struct TvgFormHooks {
  std::function<void(TComponent* form, TvgModalResult result)> SetModalResult;
  std::function<void(TComponent* form)> Close;
};
TvgFormHooks& vgFormHooks();

// A window control hosted over a layout (TControl of the class library).
struct TvgHostedControlHooks {
  std::function<bool(TComponent* control)> GetVisible;
  std::function<void(TComponent* control, bool visible)> SetVisible;
  std::function<void(TComponent* control, int32_t left, int32_t top, int32_t width, int32_t height)> SetBounds;
};
TvgHostedControlHooks& vgHostedControlHooks();
