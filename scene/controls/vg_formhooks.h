// What the controls ask of the class library's windows: the modal result and closing of the form
// that owns a scene, and the bounds and visibility of a hosted window control. The Windows build
// installs handlers; without them nothing happens.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// Dialogs and menus of the class library the controls open. Colours are 0xAARRGGBB.
struct TvgDialogHooks {
  // The colour dialog on `color` (alpha ignored); true and the chosen colour when accepted.
  std::function<bool(uint32_t& color)> ChooseColor;
  // The brush dialog on a solid brush of `color`, offering only solid colours; true and the
  // chosen colour (alpha included) when accepted. Installed by the design-time editors.
  std::function<bool(uint32_t& color)> ChooseBrushColor;
  // A file-open dialog with the filter; true and the full path when accepted.
  std::function<bool(const std::string& filter, std::string& fileName)> OpenFile;
  // Pops a TPopupMenu of the class library up at a screen point.
  std::function<void(TComponent* menu, int32_t x, int32_t y)> PopupMenu;
  // A menu of `items` (UTF-8 captions) with `checked` ticked, popped up at a screen point; `pick`
  // gets the index of the chosen item.
  std::function<void(TComponent* owner, const std::vector<std::string>& items, int32_t checked, int32_t x,
                     int32_t y, std::function<void(int32_t)> pick)>
      PopupList;
};
TvgDialogHooks& vgDialogHooks();
