// The maker's drawn scroll bar.
#include "zel_ScrollBar.h"

#include "scene/core/vg_registry.h"

KBL_PUBLISHED(TvgZelScrollBar) {
  KBL_PROP(ColorBorder);
  KBL_PROP(ColorBackground);
  KBL_PROP(IndexSize);
  KBL_PROP(ScrollPos);
  KBL_PROP(Kind).Default(sbVertical);
  KBL_PROP(Fill);
}

TvgZelScrollBar::TvgZelScrollBar(TComponent* owner) : TvgZelCustomScrollBar(owner) {
  TvgBrush* fill = GetFill();
  fill->SetStyle(vgBrushGradient);
  TvgGradientPoints* points = fill->GetGradient()->GetPoints();
  points->Point(0)->SetColor("#FF8B8B8B");
  points->Point(1)->SetColor("#FF636363");
}

void TvgZelScrollBar::Paint() {
  inherited::Paint();
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const float opacity = GetAbsoluteOpacity();
  TvgRect r = GetLocalRect();
  vgInflateRect(r, -0.5f, -0.5f);
  canvas->GetFill()->SetStyle(vgBrushSolid);
  canvas->GetFill()->SetSolidColor(colorBackground_);
  canvas->GetStroke()->SetStyle(vgBrushSolid);
  canvas->GetStroke()->SetSolidColor(colorBorder_);
  canvas->FillRect(r, 1, 1, vgAllCorners, opacity);
  canvas->DrawRect(r, 1, 1, vgAllCorners, opacity);
  thumbRect_ = ComputeThumbRect();
  // The gradient runs across the thumb; the positions change (and repaint) only when the kind
  // did, so painting does not queue another paint.
  TvgGradient* gradient = GetFill()->GetGradient();
  const bool vertical = GetKind() == sbVertical;
  gradient->GetStartPosition()->SetX(0);
  gradient->GetStartPosition()->SetY(0);
  gradient->GetStopPosition()->SetX(vertical ? 1.0f : 0.0f);
  gradient->GetStopPosition()->SetY(vertical ? 0.0f : 1.0f);
  canvas->SetFill(GetFill());
  canvas->FillRect(thumbRect_, 1, 1, vgAllCorners, opacity);
}

void ZelRegisterScrollBar() {
  static bool done = false;
  if (done) return;
  done = true;
  vgRegisterObjects("Zel Basic Controls", {TvgZelScrollBar::StaticClassInfo()});
}
