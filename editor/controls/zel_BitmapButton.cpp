// The maker's image on/off button.
#include "zel_BitmapButton.h"

#include "classlib/TypInfo.h"
#include "scene/core/vg_registry.h"

// The images are references to pictures the editor owns (the skin), so they are not streamed.
KBL_PUBLISHED(TvgZelBitmapButton) {
  KBL_PROP(IsOn).Default(false);
  KBL_PROP(TextOn);
  KBL_PROP(TextOff);
  KBL_PROP(Text);
  KBL_PROP(TextColor);
  KBL_PROP(Font);
  KBL_PROP(UseParentFont).Default(true);
  KBL_PROP(Color);
}

TvgZelBitmapButton::TvgZelBitmapButton(TComponent* owner) : TvgZelControl(owner) {}

void TvgZelBitmapButton::SetIsOn(bool value) {
  if (isOn_ == value) return;
  isOn_ = value;
  Repaint();
}

void TvgZelBitmapButton::SetText(const WideString& value) {
  text_ = value;
  // The text shape lives in a later library; it is reached by class name and property.
  TvgObject* part = FindResource("text");
  if (part != nullptr && vgInheritsFromName(part, "TvgText")) {
    const TPropInfo* prop = GetPropInfo(part, "Text");
    if (prop != nullptr && prop->IsWritable()) SetWideStrProp(part, prop, value);
  }
}

TvgBitmap* TvgZelBitmapButton::CurrentBitmap() const {
  const bool over = GetIsMouseOver();
  if (isOn_) return over ? bitmapOnMouseOver_ : bitmapOn_;
  return over ? bitmapOffMouseOver_ : bitmapOff_;
}

void TvgZelBitmapButton::Paint() {
  inherited::Paint();
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const TvgRect r = vgRect(0, 0, GetWidth(), GetHeight());
  if (TvgBitmap* image = CurrentBitmap(); image != nullptr && !image->IsEmpty()) {
    const TvgRect src = vgRect(0, 0, static_cast<float>(image->GetWidth()), static_cast<float>(image->GetHeight()));
    canvas->DrawBitmap(*image, src, r, 1, false);
  }
  canvas->GetFill()->SetStyle(vgBrushSolid);
  canvas->GetFill()->SetSolidColor(textColor_);
  ApplyFont(canvas);
  const WideString text = Utf8ToWide(isOn_ ? textOn_ : textOff_);
  canvas->FillText(r, r, text, false, 1, vgTextAlignCenter, vgTextAlignCenter);
  DrawDesignOutline();
}

void TvgZelBitmapButton::MouseEnter() {
  inherited::MouseEnter();
  Repaint();
}

void TvgZelBitmapButton::MouseLeave() {
  inherited::MouseLeave();
  Repaint();
}

void ZelRegisterBitmapButton() {
  static bool done = false;
  if (done) return;
  done = true;
  vgRegisterObjects("Zel", {TvgZelBitmapButton::StaticClassInfo()});
}
