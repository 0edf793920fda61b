// The base classes of the maker's control library.
#include "zel_BaseControls.h"

#include "scene/core/vg_sceneintf.h"

KBL_PUBLISHED(TvgZelControl) {}

KBL_PUBLISHED(TvgControlWithStrokeAndFill) {}

// --- TvgZelControl

TvgZelControl::TvgZelControl(TComponent* owner) : TvgControl(owner), font_(new TvgFont()) {
  font_->OnChanged = TNotifyEvent::Of<&TvgZelControl::FontChanged>(this);
}

TvgZelControl::~TvgZelControl() {
  DestroyTree();
  delete font_;
}

std::string TvgZelControl::GetColor() const { return vgColorToStr(color_); }

void TvgZelControl::SetColor(const std::string& text) { color_ = vgStrToColor(text); }

void TvgZelControl::SetUseParentFont(bool value) {
  if (useParentFont_ == value) return;
  useParentFont_ = value;
  Repaint();
}

TvgFont* TvgZelControl::EffectiveFont() {
  TvgZelControl* source = this;
  while (source->useParentFont_) {
    auto* parent = dynamic_cast<TvgZelControl*>(source->GetParent());
    if (parent == nullptr) break;
    source = parent;
  }
  return source->font_;
}

void TvgZelControl::ApplyFont(TvgCanvas* canvas) {
  if (canvas != nullptr) canvas->SetFont(EffectiveFont());
}

void TvgZelControl::DrawDesignOutline() {
  if (!IsDesigning()) return;
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  // The outline's own stroke settings must not leak into what the control paints next.
  const TvgStrokeDash dash = canvas->GetStrokeDash();
  const float thickness = canvas->GetStrokeThickness();
  TvgBrush saved;
  saved.Assign(canvas->GetStroke());
  canvas->SetStrokeDash(vgDashDash);
  canvas->SetStrokeThickness(1);
  canvas->GetStroke()->SetStyle(vgBrushSolid);
  canvas->GetStroke()->SetSolidColor(kZelDesignOutlineColor);
  TvgRect r = GetLocalRect();
  vgInflateRect(r, -0.5f, -0.5f);
  canvas->DrawRect(r, 0, 0, vgAllCorners, 1);
  canvas->SetStroke(&saved);
  canvas->SetStrokeThickness(thickness);
  canvas->SetStrokeDash(dash);
}

void TvgZelControl::FontChanged(TObject*) { Repaint(); }

// --- TvgControlWithStrokeAndFill

TvgControlWithStrokeAndFill::TvgControlWithStrokeAndFill(TComponent* owner)
    : TvgZelControl(owner),
      paint_(0, TNotifyEvent::Of<&TvgControlWithStrokeAndFill::FillChanged>(this),
             TNotifyEvent::Of<&TvgControlWithStrokeAndFill::StrokeChanged>(this)) {}

TvgControlWithStrokeAndFill::~TvgControlWithStrokeAndFill() { DestroyTree(); }

void TvgControlWithStrokeAndFill::SetStrokeThickness(float value) {
  if (vgSetChanged(paint_.Thickness, value)) Repaint();
}

void TvgControlWithStrokeAndFill::SetStrokeJoin(TvgStrokeJoin value) {
  if (vgSetChanged(paint_.Join, value)) Repaint();
}

void TvgControlWithStrokeAndFill::SetStrokeCap(TvgStrokeCap value) {
  if (vgSetChanged(paint_.Cap, value)) Repaint();
}

void TvgControlWithStrokeAndFill::SetStrokeDash(TvgStrokeDash value) {
  if (vgSetChanged(paint_.Dash, value)) Repaint();
}

void TvgControlWithStrokeAndFill::BeforePaint() {
  inherited::BeforePaint();
  if (TvgCanvas* canvas = GetCanvas()) paint_.ApplyTo(*canvas);
}

void TvgControlWithStrokeAndFill::FillChanged(TObject*) { Repaint(); }

void TvgControlWithStrokeAndFill::StrokeChanged(TObject*) { Repaint(); }
