// The maker's label.
#include "zel_Label.h"

#include "scene/core/vg_registry.h"

KBL_PUBLISHED(TvgZelLabel) {
  KBL_PROP(AutoSize).Default(false);
  KBL_PROP(TextAlign).Default(vgTextAlignCenter);
  KBL_PROP(Text);
  KBL_PROP(Font);
  KBL_PROP(UseParentFont).Default(true);
  KBL_PROP(Color);
}

TvgZelLabel::TvgZelLabel(TComponent* owner) : TvgZelControl(owner) {
  SetColorValue(0xFF000000u);
  SetHeight(20);
  SetWidth(74);
}

bool TvgZelLabel::CanAutoSize() { return autoSize_ && GetCanvas() != nullptr && textAlign_ != vgTextAlignCenter; }

void TvgZelLabel::SetText(const WideString& value) {
  if (text_ == value) return;
  text_ = value;
  if (CanAutoSize()) Resize();
  Repaint();
}

void TvgZelLabel::SetTextAlign(TvgTextAlign value) {
  textAlign_ = value;
  Repaint();
}

void TvgZelLabel::SetAutoSize(bool value) {
  if (autoSize_ == value) return;
  autoSize_ = value;
  if (CanAutoSize()) Resize();
  Repaint();
}

void TvgZelLabel::Resize() {
  TvgCanvas* canvas = GetCanvas();
  ApplyFont(canvas);
  TvgRect r = vgRect(0, 0, 10000, 20);
  canvas->MeasureText(r, r, text_, false, vgTextAlignNear, vgTextAlignCenter);
  const float w = vgRectWidth(r) * 1.1f;
  const float oldWidth = GetWidth();
  SetWidth(w);
  // A far-aligned label grows and shrinks to the left: its right edge stays where it was.
  if (textAlign_ == vgTextAlignFar) GetPosition()->SetX(GetPosition()->GetX() - (w - oldWidth));
}

void TvgZelLabel::Paint() {
  inherited::Paint();
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  canvas->SetStrokeThickness(1);
  ApplyFont(canvas);
  canvas->GetFill()->SetStyle(vgBrushSolid);
  canvas->GetFill()->SetSolidColor(GetColorValue());
  const TvgRect r = vgRect(0.5f, 0.5f, GetWidth() - 0.5f, GetHeight() - 0.5f);
  canvas->FillText(r, r, text_, false, 1, textAlign_, vgTextAlignCenter);
  DrawDesignOutline();
}

void ZelRegisterLabel() {
  static bool done = false;
  if (done) return;
  done = true;
  vgRegisterObjects("Zel Basic Controls", {TvgZelLabel::StaticClassInfo()});
}
