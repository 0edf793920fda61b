// The link between a popup and the form it opens in (form mode): what the popup asks of its form
// and what the form tells its popup. Names no scene-object types, so the Win32 form can include
// it beside the class library's forms.
#pragma once

#include <cstdint>
#include <functional>

#include "vg_sceneintf.h"
#include "vg_types.h"

class TvgResources;

// A borderless always-on-top form holding a transparent scene, made for one open popup.
class IvgPopupForm {
 public:
  virtual ~IvgPopupForm() = default;
  // The scene on the form.
  virtual IvgScene* GetPopupScene() = 0;
  virtual void SetScreenPos(int32_t x, int32_t y) = 0;
  // Shows the form without activating the owner away; the scene takes the keyboard focus.
  virtual void ShowForm() = 0;
  // The form forgets its popup and goes: at once, with its window and canvas, when none of its
  // code runs; inside its own handling, by the message loop once that handling has returned.
  virtual void ReleaseForm() = 0;
  virtual int32_t GetFormModalResult() = 0;
  virtual void SetFormModalResult(int32_t value) = 0;
  // True while the form closes by itself (it then frees itself).
  virtual bool GetFormClosing() = 0;
  // Calls `tick` every `intervalMs` until the form goes.
  virtual void StartFollowTimer(uint32_t intervalMs, std::function<void()> tick) = 0;
  // The window handle (HWND) as a plain pointer, for tests and hosts.
  virtual void* NativeWindow() = 0;
};

// Makes the form for `popup` (a TvgPopup): sized width x height, its scene styled with `style`.
// `popupOwner` and `sceneControl` are the popup's owner and the scene control it was in; the
// first of them that is a form keeps its caption active while the popup is.
using TvgPopupFormFactory = std::function<IvgPopupForm*(TObject* popup, TComponent* popupOwner,
                                                        TComponent* sceneControl, int32_t width,
                                                        int32_t height, TvgResources* style)>;
void vgSetPopupFormFactory(TvgPopupFormFactory factory);
const TvgPopupFormFactory& vgPopupFormFactory();
// The cursor in screen pixels (installed with the factory); (0, 0) without one.
void vgSetScreenCursorSource(std::function<TvgPoint()> source);

// Where a form lies on the screen, for message popups placed on their owner form: the origin
// of its client area in screen pixels and its width; false when `component` is not a form.
// Installed with the factory; without it no component counts as a form.
using TvgFormGeometrySource = std::function<bool(TComponent* component, TvgPoint& clientOrigin, float& width)>;
void vgSetFormGeometrySource(TvgFormGeometrySource source);

// Handles one message of the GUI thread for PopupModal, waiting for it; answers false when the
// application is ending. Without a pump installed the modal loop ends at once with 2.
void vgSetPopupMessagePump(std::function<bool()> pump);

// What the form tells its popup (a TvgPopup passed as TObject).
// The form is closing by itself: the popup closes and lets go of the form.
void vgPopupFormClosing(TObject* popup);
bool vgPopupStaysOpen(TObject* popup);
// The popup's place in the list of open popups; -1 when it is not there.
int32_t vgPopupOpenIndex(TObject* popup);
// ClosePopup on the popup.
void vgClosePopupObject(TObject* popup);
// ClosePopup on every open popup, last opened first.
void vgCloseAllPopupsList();
