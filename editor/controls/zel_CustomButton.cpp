// The maker's button behaviour.
#include "zel_CustomButton.h"

KBL_PUBLISHED(TvgZelCustomButton) {
  KBL_PROP(ButtonMode).Default(bmToggle);
  KBL_PROP(IsOn).Default(false);
  p.Property("OnChanged", &TvgZelCustomButton::OnChanged, &TvgZelCustomButton::OnChanged);
}

TvgZelCustomButton::TvgZelCustomButton(TComponent* owner) : TvgControl(owner) {}

void TvgZelCustomButton::SetIsOn(bool value) {
  if (isOn_ == value) return;
  isOn_ = value;
  Repaint();
}

void TvgZelCustomButton::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  pressed_ = true;
  Capture();
  if (buttonMode_ == bmToggle) {
    SetIsOn(!isOn_);
    RunHandler(OnChanged, this);
  } else if (buttonMode_ == bmHeld) {
    SetIsOn(true);
    RunHandler(OnChanged, this);
  }
  Repaint();
}

void TvgZelCustomButton::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (button != mbLeft) return;
  pressed_ = false;
  ReleaseCapture();
  if (buttonMode_ == bmHeld) {
    SetIsOn(false);
    RunHandler(OnChanged, this);
  }
  Repaint();
}
