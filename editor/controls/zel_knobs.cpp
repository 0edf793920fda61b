// The maker's knobs.
#include "zel_knobs.h"

#include <algorithm>
#include <cmath>

#include "scene/core/vg_registry.h"
#include "zel_platform.h"

namespace {
using K = TvgZelCustomKnob;
}

KBL_PUBLISHED(TvgZelCustomKnob) {
  KBL_PROP(ValueMin).Default(0);
  KBL_PROP(StepsPerIncrementFineControl).Default(1);
  KBL_PROP(PixelRangeFineControl).Default(2000);
  KBL_PROP(ValueMax).Default(2000);
  KBL_PROP(StepsPerIncrement).Default(1);
  KBL_PROP(PixelRange).Default(500);
  KBL_PROP(HorizontalDrag).Default(false);
  KBL_PROP(HideCursorWhileDragging).Default(true);
  KBL_PROP(Scale).Default(1.0f);
  p.Property("OnChange", &K::OnChange, &K::OnChange);
  KBL_PROP_RO(ValueVst);
  KBL_PROP_RO(ValueFloat);
  KBL_PROP_RO(Pos);
  KBL_PROP_RO(ValueInt);
}

KBL_PUBLISHED(TvgZelBitmapKnob) { KBL_PROP(NumberOfGlyphs).Default(1); }

KBL_PUBLISHED(TvgZelVectorKnob) {
  KBL_PROP(Color1);
  KBL_PROP(Color2);
}

KBL_PUBLISHED(TvgZelGuageButton) {}

// --- Range

TvgZelCustomKnob::TvgZelCustomKnob(TComponent* owner) : TvgZelControl(owner) {}

// Range follows the pair as it stands after the adjustment: a range computed before the other
// end moved would be zero or negative and turn drags off or around.
void TvgZelCustomKnob::SetValueMin(int32_t value) {
  valueMin_ = value;
  if (valueMin_ >= valueMax_) valueMax_ = valueMin_ == INT32_MAX ? INT32_MAX : valueMin_ + 1;
  if (valueMin_ >= valueMax_) valueMin_ = valueMax_ - 1;
  range_ = static_cast<int64_t>(valueMax_) - valueMin_;
}

void TvgZelCustomKnob::SetValueMax(int32_t value) {
  valueMax_ = value;
  if (valueMax_ <= valueMin_) valueMin_ = valueMax_ == INT32_MIN ? INT32_MIN : valueMax_ - 1;
  if (valueMax_ <= valueMin_) valueMax_ = valueMin_ + 1;
  range_ = static_cast<int64_t>(valueMax_) - valueMin_;
}

void TvgZelCustomKnob::SetPos(float p) {
  if (p == pos_) return;
  pos_ = p;
  const double span = static_cast<double>(valueMax_) - valueMin_;
  const int64_t v = Round(span * p + valueMin_);
  value_ = static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
  valueInt_ = value_;
  valueVst_ = static_cast<float>((static_cast<double>(value_) - valueMin_) / span);
  valueFloat_ = static_cast<float>(value_) * scale_;
  Repaint();
}

// --- Input

TvgPoint TvgZelCustomKnob::ScreenPoint(float x, float y) {
  const TvgPoint abs = LocalToAbsolute(vgPoint(x, y));
  const TvgPoint screen = GetScene() != nullptr ? GetScene()->LocalToScreen(abs) : abs;
  return vgPoint(static_cast<float>(Round(screen.X)), static_cast<float>(Round(screen.Y)));
}

void TvgZelCustomKnob::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  pressPoint_ = ScreenPoint(x, y);
  lastPoint_ = pressPoint_;
  if (button != mbLeft || shift.Contains(ssCtrl)) return;
  Capture();
  dragging_ = true;
  accumulator_ = 0;
  if (hideCursorWhileDragging_ && !cursorHidden_) {
    ZelShowCursor(false);
    cursorHidden_ = true;
  }
}

void TvgZelCustomKnob::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!dragging_) return;
  const bool coarse = !shift.Contains(ssShift);
  if (coarse != coarseMode_) {
    coarseMode_ = coarse;
    accumulator_ = 0;  // the remainder was measured at the other speed
  }
  const int32_t before = value_;
  DragStep(ScreenPoint(x, y));
  if (value_ != before) RunHandler(OnChange, this);
  Repaint();
}

void TvgZelCustomKnob::DragStep(const TvgPoint& cursor) {
  const float d = horizontalDrag_ ? cursor.X - lastPoint_.X : lastPoint_.Y - cursor.Y;
  if (d == 0) return;
  const int32_t pixels = std::max<int32_t>(1, coarseMode_ ? pixelRange_ : pixelRangeFine_);
  const int64_t s = std::max<int32_t>(1, coarseMode_ ? stepsPerIncrement_ : stepsPerIncrementFine_);
  accumulator_ += static_cast<double>(d) / pixels * range_;
  // Whole steps leave the accumulator; a division instead of one loop turn per step keeps huge
  // ranges cheap.
  int64_t v = value_;
  if (accumulator_ >= static_cast<double>(s)) {
    const double n = std::floor(accumulator_ / static_cast<double>(s));
    v += static_cast<int64_t>(std::min(n, 4.0e9)) * s;
    accumulator_ -= n * static_cast<double>(s);
  } else if (accumulator_ <= -static_cast<double>(s)) {
    const double n = std::floor(-accumulator_ / static_cast<double>(s));
    v -= static_cast<int64_t>(std::min(n, 4.0e9)) * s;
    accumulator_ += n * static_cast<double>(s);
  }
  // What is clamped away is not kept: moving back starts changing the value at once.
  if (v > valueMax_) v = valueMax_;
  else if (v < valueMin_) v = valueMin_;
  value_ = static_cast<int32_t>(v);
  valueInt_ = value_;
  valueVst_ = static_cast<float>((static_cast<double>(value_) - valueMin_) / (static_cast<double>(valueMax_) - valueMin_));
  valueFloat_ = static_cast<float>(value_) * scale_;
  pos_ = valueVst_;
  if (!hideCursorWhileDragging_) {
    lastPoint_ = cursor;
  } else {
    // Every movement is measured from the press point, where the hidden cursor is kept.
    ZelSetCursorPos(static_cast<int32_t>(pressPoint_.X), static_cast<int32_t>(pressPoint_.Y));
  }
}

void TvgZelCustomKnob::ShowCursorAgain() {
  ZelShowCursor(true);
  cursorHidden_ = false;
}

void TvgZelCustomKnob::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (button == mbLeft) {
    dragging_ = false;
    if (hideCursorWhileDragging_ && cursorHidden_) ShowCursorAgain();
  }
  Repaint();
}

TvgZelCustomKnob::~TvgZelCustomKnob() {
  if (cursorHidden_) ShowCursorAgain();
}

void TvgZelCustomKnob::CaptureLost() {
  inherited::CaptureLost();
  dragging_ = false;
  if (cursorHidden_) ShowCursorAgain();
}

void TvgZelCustomKnob::MouseLeave() {
  inherited::MouseLeave();
  if (hideCursorWhileDragging_ && cursorHidden_) {
    dragging_ = false;
    ShowCursorAgain();
  }
}

// --- Arcs

void TvgZelCustomKnob::PaintArcs(TvgColor ring, TvgColor value, float endThreshold, float endStart) {
  TvgCanvas* canvas = GetCanvas();
  const float w = GetWidth(), h = GetHeight();
  const TvgPoint centre = vgPoint(w / 2, h / 2);
  const float r = (w - 20) / 2;
  const TvgPoint radius = vgPoint(r, r);
  canvas->GetStroke()->SetStyle(vgBrushSolid);
  canvas->SetStrokeThickness(12);
  canvas->SetStrokeCap(vgCapFlat);
  canvas->GetStroke()->SetSolidColor(ring);
  canvas->DrawArc(centre, radius, 120, 360, 1);
  canvas->DrawArc(centre, radius, 125, 360, 1);
  canvas->GetStroke()->SetSolidColor(value);
  const float sweep = GetPos() * 360;
  canvas->DrawArc(centre, radius, 90, sweep, 1);
  float endSweep = sweep + 5;
  if (!(endSweep > endThreshold)) endSweep = 0;
  canvas->DrawArc(centre, radius, endStart, endSweep, 1);
}

// --- Bitmap knob

TvgZelBitmapKnob::TvgZelBitmapKnob(TComponent* owner) : TvgZelCustomKnob(owner) {}

void TvgZelBitmapKnob::SetImageStrip(TvgBitmap* value) {
  imageStrip_ = value;
  Repaint();
}

void TvgZelBitmapKnob::SetNumberOfGlyphs(int32_t value) {
  numberOfGlyphs_ = value;
  Repaint();
}

int32_t TvgZelBitmapKnob::CurrentFrame() const {
  const int32_t glyphs = std::max<int32_t>(1, numberOfGlyphs_);
  const int64_t k = Round(static_cast<double>(glyphs - 1) * GetPos());
  return static_cast<int32_t>(std::clamp<int64_t>(k, 0, glyphs - 1));
}

void TvgZelBitmapKnob::Paint() {
  inherited::Paint();
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  if (imageStrip_ != nullptr && !imageStrip_->IsEmpty()) {
    const int32_t glyphs = std::max<int32_t>(1, numberOfGlyphs_);
    const float stripWidth = static_cast<float>(imageStrip_->GetWidth());
    const float stripHeight = static_cast<float>(imageStrip_->GetHeight());
    const float fw = stripWidth / static_cast<float>(glyphs);
    const float left = static_cast<float>(CurrentFrame()) * stripWidth / static_cast<float>(glyphs);
    // The frame keeps its own size, whatever the knob's size.
    canvas->DrawBitmap(*imageStrip_, vgRect(left, 0, left + fw, stripHeight), vgRect(0, 0, fw, stripHeight), 1, true);
  } else {
    PaintArcs(0xAA000000u, 0xAAFF0000u, 10, 80);
  }
  DrawDesignOutline();
}

// --- Vector knob

TvgZelVectorKnob::TvgZelVectorKnob(TComponent* owner) : TvgZelCustomKnob(owner) {}

void TvgZelVectorKnob::SetColor1(const std::string& text) {
  color1_ = vgStrToColor(text);
  Repaint();
}

void TvgZelVectorKnob::SetColor2(const std::string& text) {
  color2_ = vgStrToColor(text);
  Repaint();
}

void TvgZelVectorKnob::Paint() {
  inherited::Paint();
  if (GetCanvas() == nullptr) return;
  PaintArcs(color1_, color2_, 5, 90 - 5);
}

// --- Gauge

TvgZelGuageButton::TvgZelGuageButton(TComponent* owner) : TvgZelCustomKnob(owner) {}

void TvgZelGuageButton::Paint() {
  inherited::Paint();
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const float m = 3, w = GetWidth(), h = GetHeight();
  canvas->GetStroke()->SetStyle(vgBrushSolid);
  canvas->GetStroke()->SetSolidColor(0xFF00FF00u);
  canvas->SetStrokeThickness(3);
  canvas->SetStrokeCap(vgCapRound);
  canvas->GetFill()->SetStyle(vgBrushSolid);
  canvas->GetFill()->SetSolidColor(0xFF003300u);
  canvas->FillRect(vgRect(m, m, w - m, h - m), 5, 5, vgAllCorners, 1);
  const float level = (h - 2 * m) * GetPos();
  const TvgRect bar = vgRect(m, h - m - level, w - m, h - m);
  canvas->GetFill()->SetSolidColor(0xFF008800u);
  canvas->FillRect(bar, 5, 5, vgAllCorners, 1);
  canvas->DrawRect(bar, 5, 5, vgAllCorners, 1);
}

void ZelRegisterKnobs() {
  static bool done = false;
  if (done) return;
  done = true;
  vgRegisterObjects("Zel VST Controls", {TvgZelVectorKnob::StaticClassInfo(), TvgZelBitmapKnob::StaticClassInfo(),
                                         TvgZelGuageButton::StaticClassInfo()});
}
