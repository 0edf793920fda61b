// TvgZelCustomButton: the on/off behaviour of the maker's buttons (manual, toggle on each press,
// or on only while held). GUI thread only.
#pragma once

#include "scene/core/vg_control.h"

KBL_ENUM(TButtonMode, bmManual, bmToggle, bmHeld)

class TvgZelCustomButton : public TvgControl {
  KBL_DECLARE_CLASS(TvgZelCustomButton, TvgControl)
 public:
  explicit TvgZelCustomButton(TComponent* owner);

  TButtonMode GetButtonMode() const { return buttonMode_; }
  void SetButtonMode(TButtonMode value) { buttonMode_ = value; }
  bool GetIsOn() const { return isOn_; }
  // Repaints on change.
  virtual void SetIsOn(bool value);
  // The left button is held on the button.
  bool GetPressed() const { return pressed_; }

  // Left button only: toggle mode flips IsOn on the press, held mode keeps it on until the
  // release; both fire OnChanged. Manual mode only repaints.
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;

  TNotifyEvent OnChanged;

 private:
  TButtonMode buttonMode_ = bmToggle;
  bool isOn_ = false;
  bool pressed_ = false;
};
