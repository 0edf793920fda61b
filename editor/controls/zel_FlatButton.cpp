// The maker's flat button.
#include "zel_FlatButton.h"

#include "scene/core/vg_registry.h"

KBL_PUBLISHED(TvgZelFlatButton) {
  KBL_PROP(ColorText);
  KBL_PROP(ColorOn);
  KBL_PROP(ColorOff);
  KBL_PROP(OpacityA).Default(0.2f);
  KBL_PROP(OpacityB).Default(0.5f);
  KBL_PROP(OpacityC).Default(0.9f);
  KBL_PROP(TextOn);
  KBL_PROP(TextOff);
  KBL_PROP(Font);
}

TvgZelFlatButton::TvgZelFlatButton(TComponent* owner) : TvgZelCustomButton(owner), font_(new TvgFont()) {}

TvgZelFlatButton::~TvgZelFlatButton() {
  DestroyTree();
  delete font_;
}

void TvgZelFlatButton::SetTextOn(const WideString& value) {
  if (textOn_ == value) return;
  textOn_ = value;
  Repaint();
}

void TvgZelFlatButton::SetTextOff(const WideString& value) {
  if (textOff_ == value) return;
  textOff_ = value;
  Repaint();
}

float TvgZelFlatButton::CurrentOpacity() const {
  if (GetPressed()) return opacityC_;
  return GetIsMouseOver() ? opacityB_ : opacityA_;
}

void TvgZelFlatButton::Paint() {
  inherited::Paint();
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  TvgRect r = GetLocalRect();
  vgInflateRect(r, -0.5f, -0.5f);
  const float opacity = CurrentOpacity();
  canvas->GetFill()->SetStyle(vgBrushSolid);
  canvas->GetFill()->SetSolidColor(GetIsOn() ? colorOn_ : colorOff_);
  canvas->FillRect(r, 5, 5, vgAllCorners, opacity);
  canvas->GetFill()->SetSolidColor(colorText_);
  canvas->SetFont(font_);
  canvas->FillText(r, r, GetIsOn() ? textOn_ : textOff_, false, opacity, vgTextAlignCenter, vgTextAlignCenter);
}

void TvgZelFlatButton::MouseEnter() {
  inherited::MouseEnter();
  Repaint();
}

void TvgZelFlatButton::MouseLeave() {
  inherited::MouseLeave();
  Repaint();
}

void ZelRegisterFlatButton() {
  static bool done = false;
  if (done) return;
  done = true;
  vgRegisterObjects("Zel Basic Controls", {TvgZelFlatButton::StaticClassInfo()});
}
