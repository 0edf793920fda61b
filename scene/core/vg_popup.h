// TvgPopup: a styled control whose children open as a popup beside a target, a rectangle, the
// mouse or an absolute point; here as an overlay inside the current scene (a click catcher over
// the whole scene closes it). TvgMessagePopup opens centred over its target and disables the
// scene root while it runs modally. The list of open popups closes them on outside clicks.
#pragma once

#include <cstdint>
#include <functional>

#include "vg_control.h"
#include "vg_geometry.h"
#include "vg_popupform.h"

KBL_ENUM(TvgPlacement, vgPlacementBottom, vgPlacementTop, vgPlacementLeft, vgPlacementRight, vgPlacementCenter,
         vgPlacementAbsolute, vgPlacementMouse)

class TvgPopup : public TvgControl {
  KBL_DECLARE_CLASS(TvgPopup, TvgControl)
 public:
  explicit TvgPopup(TComponent* owner);
  ~TvgPopup() override;

  void Notification(TComponent* component, TOperation operation) override;
  void DialogKey(uint16_t& key, TShiftState shift) override;
  void Paint() override;

  virtual void ApplyPlacement();
  // Answers the modal result (2 when closed without one or when the application ends).
  virtual int32_t PopupModal();
  virtual void Popup();
  virtual void ClosePopup();

  bool GetIsOpen() const { return isOpen_; }
  void SetIsOpen(bool value);
  bool GetStaysOpen() const { return staysOpen_; }
  void SetStaysOpen(bool value) { staysOpen_ = value; }
  TvgPlacement GetPlacement() const { return placement_; }
  void SetPlacement(TvgPlacement value) { placement_ = value; }
  TvgVisualObject* GetPlacementTarget() const { return placementTarget_; }
  void SetPlacementTarget(TvgVisualObject* value);
  // Edited in place; used instead of the target's bounds when not empty.
  TvgBounds* GetPlacementRectangle() const { return placementRectangle_; }
  void SetPlacementRectangle(TvgBounds*) {}
  float GetHorizontalOffset() const { return horizontalOffset_; }
  void SetHorizontalOffset(float value) { horizontalOffset_ = value; }
  float GetVerticalOffset() const { return verticalOffset_; }
  void SetVerticalOffset(float value) { verticalOffset_ = value; }
  bool GetDragWithParent() const { return dragWithParent_; }
  void SetDragWithParent(bool value) { dragWithParent_ = value; }
  int32_t GetModalResult() const { return modalResult_; }
  // Also sets the ModalResult of the popup's form while it is open in one, so that the modal
  // loop, which reads the form's result in form mode, ends with it.
  void SetModalResult(int32_t value);
  bool GetModal() const { return modal_; }
  TvgVisualObject* GetOverlay() const { return overlay_; }
  // 0: a form of its own (when a form factory is installed, else as 1); 1: an overlay.
  int32_t OverlayMode = 0;
  // The form while open in form mode.
  IvgPopupForm* GetPopupForm() const { return popupForm_; }
  // The style of the popup's own scene (form mode); nullptr: the style of the scene it was in.
  TvgResources* GetStyle() const { return style_; }
  void SetStyle(TvgResources* value);
  TNotifyEvent OnClosePopup;

 protected:
  // The placement computed against `target` (none: from PlacementRectangle alone, in screen
  // coordinates for a form and in scene coordinates for an overlay).
  void PlaceFrom(TvgVisualObject* target);
  bool isOpen_ = false;
  bool staysOpen_ = false;
  bool dragWithParent_ = false;

 private:
  friend void vgPopupFormClosing(TObject* popup);
  bool FormMode() const;
  void PopupInForm();
  void PopupAsOverlay();
  void PlaceForm(const TvgPoint& p, TvgVisualObject* target);
  TvgObject* savedParent_ = nullptr;
  TvgPoint savedScale_;
  IvgPopupForm* popupForm_ = nullptr;
  TvgResources* style_ = nullptr;
  TvgVisualObject* savedFocused_ = nullptr;
  TvgVisualObject* overlay_ = nullptr;
  TvgPlacement placement_ = vgPlacementBottom;
  TvgVisualObject* placementTarget_ = nullptr;
  TvgBounds* placementRectangle_;
  float horizontalOffset_ = 0;
  float verticalOffset_ = 0;
  bool closing_ = false;
  int32_t modalResult_ = 0;
  bool modal_ = false;
};

class TvgMessagePopup : public TvgPopup {
  KBL_DECLARE_CLASS(TvgMessagePopup, TvgPopup)
 public:
  explicit TvgMessagePopup(TComponent* owner);
  // Centred over PlacementTarget; without one, centred at the top of the client area of its
  // owner form (PlacementRectangle and HorizontalOffset are set for that); without either, the
  // popup's placement.
  void ApplyPlacement() override;
  int32_t PopupModal() override;
  bool GetDisableScene() const { return disableScene_; }
  void SetDisableScene(bool value) { disableScene_ = value; }

 private:
  bool disableScene_ = true;
};

// ClosePopup on every open popup that is not StaysOpen, last opened first.
void vgCloseAllPopups();
// The open popups, in opening order.
const std::vector<TvgPopup*>& vgOpenPopups();
// Frees the list (unit end).
void vgFreePopupList();
