// The maker's multi-line text.
#include "zel_MultiLineText.h"

#include "scene/core/vg_registry.h"

KBL_PUBLISHED(TvgZelMultiLineText) {
  KBL_PROP(Lines);
  KBL_PROP(Font);
  KBL_PROP(ColorText);
  KBL_PROP(TextAlign).Default(vgTextAlignCenter);
  KBL_PROP(VertOffset).Default(0);
  p.Property("OnShowSliders", &TvgZelMultiLineText::OnShowSliders, &TvgZelMultiLineText::OnShowSliders);
}

TvgZelMultiLineText::TvgZelMultiLineText(TComponent* owner)
    : TvgControl(owner), lines_(new TvgWideStringList()), font_(new TvgFont()) {}

TvgZelMultiLineText::~TvgZelMultiLineText() {
  DestroyTree();
  delete lines_;
  delete font_;
}

void TvgZelMultiLineText::SetLines(TvgWideStrings* value) {
  lines_->Assign(value);
  Repaint();
  RunHandler(OnShowSliders, this, textHeight_ > GetHeight() ? ssVert : ssNone);
}

void TvgZelMultiLineText::SetFont(TvgFont* value) {
  font_->Assign(value);
  Repaint();
}

void TvgZelMultiLineText::SetVertOffset(int32_t value) {
  if (vertOffset_ == value) return;
  vertOffset_ = value;
  Repaint();
}

float TvgZelMultiLineText::GetTextHeight() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return 0;
  canvas->SetFont(font_);
  return static_cast<float>(lines_->GetCount()) * 1.2f * canvas->TextHeight(u"TEST");
}

void TvgZelMultiLineText::Paint() {
  inherited::Paint();
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  canvas->SetFont(font_);
  canvas->GetFill()->SetStyle(vgBrushSolid);
  canvas->GetFill()->SetSolidColor(colorText_);
  const float h = canvas->TextHeight(u"TEST");
  float y = 0;
  for (int32_t i = 0; i < lines_->GetCount(); ++i) {
    const WideString line = lines_->Get(i);
    const TvgRect r = vgRect(0, static_cast<float>(vertOffset_) + y, GetWidth(), static_cast<float>(vertOffset_) + y + h);
    if (!line.empty()) canvas->FillText(r, r, line, false, 1, textAlign_, vgTextAlignCenter);
    y += 1.2f * h;
  }
  textHeight_ = y;
}

void ZelRegisterMultiLineText() {
  static bool done = false;
  if (done) return;
  done = true;
  vgRegisterObjects("Zel Basic Controls", {TvgZelMultiLineText::StaticClassInfo()});
}
