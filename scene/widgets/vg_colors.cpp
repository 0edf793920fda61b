// Colour-choosing controls: ramp track bars, swatch, saturation/lightness square, hue strip,
// gradient stop editor and colour panel.
#include "vg_colors.h"

#include <algorithm>
#include <cmath>

#include "classlib/SysUtils.h"
#include "scene/core/vg_canvas.h"
#include "scene/core/vg_registry.h"

// --- Published properties

KBL_PUBLISHED(TvgBitmapTrackBar) {}
KBL_PUBLISHED(TvgHueTrackBar) {}
KBL_PUBLISHED(TvgAlphaTrackBar) {}
KBL_PUBLISHED(TvgBWTrackBar) {}
KBL_PUBLISHED(TvgHudHueTrackBar) {}
KBL_PUBLISHED(TvgHudAlphaTrackBar) {}
KBL_PUBLISHED(TvgHudBWTrackBar) {}
KBL_PUBLISHED(TvgColorBox) {}
KBL_PUBLISHED(TvgColorQuad) {
  KBL_PROP(Hue);
  KBL_PROP(Lum);
  KBL_PROP(Sat);
  KBL_PROP(Alpha).Default(1.0f);
  KBL_PROP(ColorBox);
  p.Property("OnChange", &TvgColorQuad::OnChange, &TvgColorQuad::OnChange);
}
KBL_PUBLISHED(TvgColorPicker) {
  KBL_PROP(Hue);
  KBL_PROP(ColorQuad);
}
KBL_PUBLISHED(TvgGradientEdit) {
  p.Property("OnChange", &TvgGradientEdit::OnChange, &TvgGradientEdit::OnChange);
  p.Property("OnSelectPoint", &TvgGradientEdit::OnSelectPoint, &TvgGradientEdit::OnSelectPoint);
  KBL_PROP(ColorPicker);
}
KBL_PUBLISHED(TvgComboColorBox) {
  KBL_PROP(CanFocused).Default(true);
  KBL_PROP(DisableFocusEffect).Default(false);
  p.Property("TabOrder", &TvgComboColorBox::GetTabOrderProp, &TvgComboColorBox::SetTabOrderProp).Default(-1);
  KBL_PROP(Color);
  p.Property("OnChange", &TvgComboColorBox::OnChange, &TvgComboColorBox::OnChange);
}
KBL_PUBLISHED(TvgHudComboColorBox) {}
KBL_PUBLISHED(TvgColorPanel) {
  p.Property("OnChange", &TvgColorPanel::OnChange, &TvgColorPanel::OnChange);
  KBL_PROP(Color);
  KBL_PROP(ColorBox);
}

namespace {

// Halves go to the even neighbour, as the processor rounds.
int32_t RoundEven(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

float Clamp01(float v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

uint8_t Byte(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// Straight checkerboard behind translucent colours: white squares, light grey on odd cells.
void PaintCheckerboard(TvgCanvas* canvas, const TvgRect& clip, float cell, float width, float height,
                       float opacity) {
  canvas->GetStroke()->SetStyle(vgBrushNone);
  canvas->GetFill()->SetStyle(vgBrushSolid);
  canvas->GetFill()->SetSolidColor(0xFFFFFFFFu);
  canvas->FillRect(clip, 0, 0, vgAllCorners, opacity);
  canvas->GetFill()->SetSolidColor(0xFFD3D3D3u);
  const int32_t columns = static_cast<int32_t>(std::trunc(width / cell)) + 1;
  const int32_t rows = static_cast<int32_t>(std::trunc(height / cell)) + 1;
  for (int32_t i = 0; i <= columns; ++i)
    for (int32_t j = 0; j <= rows; ++j)
      if ((i + j) % 2 == 1)
        canvas->FillRect(vgRect(cell * i, cell * j, cell * (i + 1), cell * (j + 1)), 0, 0, vgAllCorners, opacity);
}

// The round marker of the quad and the strip: a black ring, a white ring inside it and the colour
// in the middle.
void PaintMarker(TvgCanvas* canvas, const TvgPoint& centre, TvgColor color, float opacity) {
  TvgRect r = vgRect(centre.X, centre.Y, centre.X, centre.Y);
  vgInflateRect(r, 5, 5);
  canvas->GetStroke()->SetStyle(vgBrushSolid);
  canvas->SetStrokeThickness(1);
  canvas->GetStroke()->SetSolidColor(0xFF000000u);
  canvas->DrawEllipse(r, opacity);
  vgInflateRect(r, -1, -1);
  canvas->GetStroke()->SetSolidColor(0xFFFFFFFFu);
  canvas->DrawEllipse(r, opacity);
  vgInflateRect(r, -1, -1);
  canvas->GetFill()->SetStyle(vgBrushSolid);
  canvas->GetFill()->SetSolidColor(color);
  canvas->FillEllipse(r, opacity);
}

// The ramp position of pixel (x, y): along the bar's orientation.
float RampPosition(TvgOrientation orientation, int32_t x, int32_t y, int32_t w, int32_t h) {
  return orientation == vgVertical ? static_cast<float>(y) / static_cast<float>(h)
                                   : static_cast<float>(x) / static_cast<float>(w);
}

void FillGreyRamp(TvgBitmap& bitmap, TvgOrientation orientation) {
  const int32_t w = bitmap.GetWidth(), h = bitmap.GetHeight();
  for (int32_t y = 0; y < h; ++y) {
    uint32_t* row = bitmap.Scanline(y);
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t v = Byte(RoundEven(RampPosition(orientation, x, y, w, h) * 255.0));
      row[x] = 0xFF000000u | v << 16 | v << 8 | v;
    }
  }
}

// Frees a cached picture that no longer has the control's pixel size (Trunc of width and
// height), so that a resized control shows its picture built anew instead of stretched.
void DropResizedCache(TvgBitmap*& cache, float width, float height) {
  if (cache == nullptr) return;
  if (cache->GetWidth() == static_cast<int32_t>(std::trunc(width)) &&
      cache->GetHeight() == static_cast<int32_t>(std::trunc(height)))
    return;
  delete cache;
  cache = nullptr;
}

// Drops a free-notification partner and takes a new one.
template <typename T>
void Relink(TComponent* self, T*& field, T* value) {
  if (field != nullptr) field->RemoveFreeNotification(self);
  field = value;
  if (field != nullptr) field->FreeNotification(self);
}

}  // namespace

// --- Ramp track bars

TvgBitmapTrackBar::TvgBitmapTrackBar(TComponent* owner) : TvgTrackBar(owner) {
  // The style waits for the first paint or ApplyResource: applied here, it would fill the ramp
  // with this class's empty routine before the derived class exists.
  BeginUpdate();
  SetResource("trackbarstyle");
  EndUpdate();
}

TvgBitmapTrackBar::~TvgBitmapTrackBar() {
  DestroyTree();
  delete bitmap_;
}

void TvgBitmapTrackBar::ApplyStyle() {
  inherited::ApplyStyle();
  background_ = dynamic_cast<TvgShape*>(FindResource("background"));
  if (background_ != nullptr) UpdateBitmap();
}

void TvgBitmapTrackBar::FreeStyle() {
  background_ = nullptr;
  inherited::FreeStyle();
}

void TvgBitmapTrackBar::Realign() {
  inherited::Realign();
  UpdateBitmap();
}

void TvgBitmapTrackBar::UpdateBitmap() {
  if (background_ == nullptr) return;
  const int32_t w = static_cast<int32_t>(std::trunc(background_->GetWidth()));
  const int32_t h = static_cast<int32_t>(std::trunc(background_->GetHeight()));
  if (bitmap_ != nullptr && (bitmap_->GetWidth() != w || bitmap_->GetHeight() != h ||
                             rampOrientation_ != GetOrientation() || rampClass_ != ClassInfo())) {
    delete bitmap_;
    bitmap_ = nullptr;
  }
  if (bitmap_ == nullptr) {
    bitmap_ = new TvgBitmap(w, h);
    rampOrientation_ = GetOrientation();
    rampClass_ = ClassInfo();
    if (!bitmap_->IsEmpty()) FillBitmap(*bitmap_);
  }
  background_->GetFill()->SetStyle(vgBrushBitmap);
  background_->GetFill()->GetBitmap()->GetBitmap()->Assign(bitmap_);
  Repaint();
}

TvgHueTrackBar::TvgHueTrackBar(TComponent* owner) : TvgBitmapTrackBar(owner) {
  SetMax(1);
  SetValue(0.5f);
}

void TvgHueTrackBar::FillBitmap(TvgBitmap& bitmap) {
  const int32_t w = bitmap.GetWidth(), h = bitmap.GetHeight();
  for (int32_t y = 0; y < h; ++y) {
    uint32_t* row = bitmap.Scanline(y);
    for (int32_t x = 0; x < w; ++x) row[x] = vgHSLtoRGB(RampPosition(GetOrientation(), x, y, w, h), 0.9f, 0.5f);
  }
}

TvgAlphaTrackBar::TvgAlphaTrackBar(TComponent* owner) : TvgBitmapTrackBar(owner) {
  SetMax(1);
  SetValue(1);
}

void TvgAlphaTrackBar::FillBitmap(TvgBitmap& bitmap) {
  // White from transparent to opaque along the bar over the checkerboard, blended here at the
  // pixel centres (what a gradient fill of the rect along the bar gives).
  const int32_t w = bitmap.GetWidth(), h = bitmap.GetHeight();
  const bool vertical = GetOrientation() == vgVertical;
  for (int32_t y = 0; y < h; ++y) {
    uint32_t* row = bitmap.Scanline(y);
    for (int32_t x = 0; x < w; ++x) {
      const bool odd = (x / 3) % 2 != (y / 3) % 2;
      const double back = odd ? 0xA0 : 0xFF;
      const double a = vertical ? (y + 0.5) / h : (x + 0.5) / w;
      const uint32_t v = Byte(RoundEven(back * (1 - a) + 255.0 * a));
      row[x] = 0xFF000000u | v << 16 | v << 8 | v;
    }
  }
}

TvgBWTrackBar::TvgBWTrackBar(TComponent* owner) : TvgBitmapTrackBar(owner) {
  SetMax(1);
  SetValue(0.5f);
}

void TvgBWTrackBar::FillBitmap(TvgBitmap& bitmap) { FillGreyRamp(bitmap, GetOrientation()); }

TvgHudHueTrackBar::TvgHudHueTrackBar(TComponent* owner) : TvgHueTrackBar(owner) { SetResource("hudtrackbarstyle"); }

TvgHudAlphaTrackBar::TvgHudAlphaTrackBar(TComponent* owner) : TvgAlphaTrackBar(owner) {
  SetResource("hudtrackbarstyle");
}

TvgHudBWTrackBar::TvgHudBWTrackBar(TComponent* owner) : TvgBitmapTrackBar(owner) {
  SetResource("hudtrackbarstyle");
  SetMax(1);
  SetValue(0.5f);
}

void TvgHudBWTrackBar::FillBitmap(TvgBitmap& bitmap) { FillGreyRamp(bitmap, GetOrientation()); }

// --- Colour box

void TvgColorBox::SetColor(TvgColor value) {
  if (vgSetChanged(color_, value)) Repaint();
}

void TvgColorBox::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const TvgRect r = GetLocalRect();
  const float opacity = GetAbsoluteOpacity();
  const int32_t state = canvas->SaveCanvas();
  canvas->IntersectClipRect(r);
  PaintCheckerboard(canvas, r, 5, GetWidth(), GetHeight(), opacity);
  canvas->RestoreCanvas(state);
  canvas->GetFill()->SetStyle(vgBrushSolid);
  canvas->GetFill()->SetSolidColor(color_);
  canvas->FillRect(r, 0, 0, vgAllCorners, opacity);
}

// --- Colour quad

TvgColorQuad::TvgColorQuad(TComponent* owner) : TvgControl(owner) { SetAutoCapture(true); }

TvgColorQuad::~TvgColorQuad() {
  DestroyTree();
  if (colorBox_ != nullptr) colorBox_->RemoveFreeNotification(this);
  delete bitmap_;
}

void TvgColorQuad::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == opRemove && component == colorBox_) colorBox_ = nullptr;
}

bool TvgColorQuad::Store(float& field, float value) {
  if (value == field) return false;
  field = Clamp01(value);
  return true;
}

TvgColor TvgColorQuad::GetQuadColor() const {
  return (vgHSLtoRGB(hue_, sat_, lum_) & 0x00FFFFFFu) |
         static_cast<TvgColor>(Byte(RoundEven(alpha_ * 255.0))) << 24;
}

void TvgColorQuad::PushColor() {
  if (colorBox_ != nullptr) colorBox_->SetColor(GetQuadColor());
}

void TvgColorQuad::Changed(bool repaint) {
  PushColor();
  RunHandler(OnChange, this);
  if (repaint) Repaint();
}

void TvgColorQuad::SetHue(float value) {
  if (!Store(hue_, value)) return;
  delete bitmap_;
  bitmap_ = nullptr;
  Changed(true);
}

void TvgColorQuad::SetSat(float value) {
  if (Store(sat_, value)) Changed(true);
}

void TvgColorQuad::SetLum(float value) {
  if (Store(lum_, value)) Changed(true);
}

void TvgColorQuad::SetAlpha(float value) {
  if (Store(alpha_, value)) Changed(false);
}

void TvgColorQuad::SetColorBox(TvgColorBox* value) {
  if (value == colorBox_) return;
  Relink(this, colorBox_, value);
  PushColor();
}

void TvgColorQuad::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  DropResizedCache(bitmap_, GetWidth(), GetHeight());
  if (bitmap_ == nullptr) {
    bitmap_ = new TvgBitmap(static_cast<int32_t>(std::trunc(GetWidth())), static_cast<int32_t>(std::trunc(GetHeight())));
    const int32_t w = bitmap_->GetWidth(), h = bitmap_->GetHeight();
    for (int32_t y = 0; y < h; ++y) {
      uint32_t* row = bitmap_->Scanline(y);
      const float lum = 1 - static_cast<float>(y) / static_cast<float>(h);
      for (int32_t x = 0; x < w; ++x) row[x] = vgHSLtoRGB(hue_, static_cast<float>(x) / static_cast<float>(w), lum);
    }
  }
  const float opacity = GetAbsoluteOpacity();
  canvas->DrawBitmap(*bitmap_, vgRect(0, 0, bitmap_->GetWidth(), bitmap_->GetHeight()), GetLocalRect(), opacity);
  PaintMarker(canvas, vgPoint(sat_ * GetWidth(), (1 - lum_) * GetHeight()), vgHSLtoRGB(hue_, sat_, lum_), opacity);
}

TvgRect TvgColorQuad::GetAbsoluteRect() {
  TvgRect r = inherited::GetAbsoluteRect();
  vgInflateRect(r, 11, 11);
  return r;
}

bool TvgColorQuad::PointInObject(float x, float y) {
  const TvgPoint p = AbsoluteToLocal(vgPoint(x, y));
  return p.X > -5 && p.X < GetWidth() + 5 && p.Y > -5 && p.Y < GetHeight() + 5;
}

void TvgColorQuad::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button == mbLeft) pressed_ = true;
}

void TvgColorQuad::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!pressed_ || !shift.Contains(ssLeft)) return;
  if (GetHeight() != 0) SetLum(1 - y / GetHeight());
  if (GetWidth() != 0) SetSat(x / GetWidth());
}

void TvgColorQuad::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  if (pressed_) MouseMove(TShiftState{ssLeft}, x, y, 0, 0);
  pressed_ = false;
  inherited::MouseUp(button, shift, x, y);
}

// --- Hue picker

TvgColorPicker::TvgColorPicker(TComponent* owner) : TvgControl(owner) { SetAutoCapture(true); }

TvgColorPicker::~TvgColorPicker() {
  DestroyTree();
  if (colorQuad_ != nullptr) colorQuad_->RemoveFreeNotification(this);
  delete bitmap_;
}

void TvgColorPicker::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == opRemove && component == colorQuad_) colorQuad_ = nullptr;
}

void TvgColorPicker::SetColorQuad(TvgColorQuad* value) {
  if (value == colorQuad_) return;
  Relink(this, colorQuad_, value);
}

void TvgColorPicker::SetHue(float value) {
  if (value == hue_) return;
  hue_ = Clamp01(value);
  if (colorQuad_ != nullptr) colorQuad_->SetHue(hue_);
  Repaint();
}

void TvgColorPicker::SetColor(TvgColor color) {
  float h, s, l;
  vgRGBtoHSL(color, h, s, l);
  SetHue(h);
  if (colorQuad_ == nullptr) return;
  colorQuad_->SetAlpha(static_cast<float>(color >> 24) / 255.0f);
  colorQuad_->SetHue(h);
  colorQuad_->SetSat(s);
  colorQuad_->SetLum(l);
}

void TvgColorPicker::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  DropResizedCache(bitmap_, GetWidth(), GetHeight());
  if (bitmap_ == nullptr) {
    bitmap_ = new TvgBitmap(static_cast<int32_t>(std::trunc(GetWidth())), static_cast<int32_t>(std::trunc(GetHeight())));
    const int32_t w = bitmap_->GetWidth(), h = bitmap_->GetHeight();
    for (int32_t y = 0; y < h; ++y)
      vgFillLongword(bitmap_->Scanline(y), w, vgHSLtoRGB(static_cast<float>(y) / static_cast<float>(h), 0.9f, 0.5f));
  }
  const float opacity = GetAbsoluteOpacity();
  canvas->DrawBitmap(*bitmap_, vgRect(0, 0, bitmap_->GetWidth(), bitmap_->GetHeight()), GetLocalRect(), opacity);
  PaintMarker(canvas, vgPoint(GetWidth() / 2, hue_ * GetHeight()), vgHSLtoRGB(hue_, 0.9f, 0.5f), opacity);
}

TvgRect TvgColorPicker::GetAbsoluteRect() {
  TvgRect r = inherited::GetAbsoluteRect();
  vgInflateRect(r, 5, 0);
  return r;
}

bool TvgColorPicker::PointInObject(float x, float y) {
  const TvgPoint p = AbsoluteToLocal(vgPoint(x, y));
  return p.X > 0 && p.X < GetWidth() && p.Y > -5 && p.Y < GetHeight() + 5;
}

void TvgColorPicker::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button == mbLeft) pressed_ = true;
}

void TvgColorPicker::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (pressed_ && shift.Contains(ssLeft) && GetHeight() != 0) SetHue(y / GetHeight());
}

void TvgColorPicker::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  if (pressed_) MouseMove(TShiftState{ssLeft}, x, y, 0, 0);
  pressed_ = false;
  inherited::MouseUp(button, shift, x, y);
}

// --- Gradient editor

TvgColor vgGradientPremultipliedColor(const TvgGradient& gradient, float offset) {
  const TvgGradientPoints* points = gradient.GetPoints();
  const int32_t count = points->Count();
  if (count < 2) return 0;
  const float t = std::isnan(offset) ? 0 : Clamp01(offset);
  const TvgGradientPoint* first = points->Point(0);
  const TvgGradientPoint* last = points->Point(count - 1);
  if (t <= first->GetOffset()) return vgPremultiplyAlpha(first->GetIntColor());
  if (t >= last->GetOffset()) return vgPremultiplyAlpha(last->GetIntColor());
  // The last stop at or before t and the one after it; coinciding offsets make a hard edge with
  // the earlier colour.
  int32_t i = 0;
  while (i + 1 < count - 1 && points->Point(i + 1)->GetOffset() <= t) ++i;
  const TvgGradientPoint* a = points->Point(i);
  const TvgGradientPoint* b = points->Point(i + 1);
  const TvgColor from = vgPremultiplyAlpha(a->GetIntColor());
  if (b->GetOffset() <= a->GetOffset()) return from;
  return vgInterpolateColor(from, vgPremultiplyAlpha(b->GetIntColor()),
                            (t - a->GetOffset()) / (b->GetOffset() - a->GetOffset()));
}

TvgGradientEdit::TvgGradientEdit(TComponent* owner) : TvgControl(owner), gradient_(new TvgGradient()) {
  gradient_->OnChanged = TNotifyEvent::Of<&TvgGradientEdit::DoChanged>(this);
  SetWidth(200);
  SetHeight(20);
  SetAutoCapture(true);
}

TvgGradientEdit::~TvgGradientEdit() {
  DestroyTree();
  if (colorPicker_ != nullptr) colorPicker_->RemoveFreeNotification(this);
  delete bitmap_;
  gradient_->OnChanged = TNotifyEvent();
  delete gradient_;
}

void TvgGradientEdit::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == opRemove && component == colorPicker_) colorPicker_ = nullptr;
}

void TvgGradientEdit::SetColorPicker(TvgColorPicker* value) {
  if (value != colorPicker_) Relink(this, colorPicker_, value);
  UpdateColorPicker();
}

void TvgGradientEdit::SetCurrentPoint(int32_t value) {
  if (!vgSetChanged(currentPoint_, value)) return;
  RunHandler(OnSelectPoint, this);
  if (colorPicker_ != nullptr && value >= 0 && value < gradient_->GetPoints()->Count())
    colorPicker_->SetColor(gradient_->GetPoints()->Point(value)->GetIntColor());
}

void TvgGradientEdit::DoChanged(TObject*) {
  RunHandler(OnChange, this);
  UpdateColorPicker();
}

void TvgGradientEdit::UpdateColorPicker() {
  if (colorPicker_ != nullptr && currentPoint_ >= 0 && currentPoint_ < gradient_->GetPoints()->Count())
    colorPicker_->SetColor(gradient_->GetPoints()->Point(currentPoint_)->GetIntColor());
}

TvgRect TvgGradientEdit::GetPointRect(int32_t index) {
  if (index < 0 || index >= gradient_->GetPoints()->Count()) return TvgRect();
  const float w = GetWidth(), h = GetHeight();
  const float x = gradient_->GetPoints()->Point(index)->GetOffset() * (w - 20) + 10;
  return vgRect(x - 5, h - 10, x + 5, h);
}

void TvgGradientEdit::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  moving_ = false;
  if (button != mbLeft) return;
  TvgGradientPoints* points = gradient_->GetPoints();
  for (int32_t i = 0; i < points->Count(); ++i) {
    if (!vgPtInRect(vgPoint(x, y), GetPointRect(i))) continue;
    SetCurrentPoint(i);
    RunHandler(OnSelectPoint, this);
    moving_ = true;
    Repaint();
    return;
  }
  const float w = GetWidth(), h = GetHeight();
  if (!(y > 0 && y < h - 10) || !(w > 20)) return;
  const float t = Clamp01((x - 10) / (w - 20));
  const TvgColor color = vgUnpremultiplyAlpha(vgGradientPremultipliedColor(*gradient_, t));
  int32_t index = -1;
  for (int32_t i = 1; i < points->Count(); ++i) {
    if (points->Point(i)->GetOffset() > t) {
      index = i;
      break;
    }
  }
  if (index < 0) return;
  auto* added = static_cast<TvgGradientPoint*>(points->Add());
  added->SetIndex(index);
  SetCurrentPoint(index);
  added->SetIntColor(color);
  added->SetOffset(t);
  Repaint();
  DoChanged();
}

void TvgGradientEdit::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!shift.Contains(ssLeft) || !moving_) return;
  TvgGradientPoints* points = gradient_->GetPoints();
  const int32_t count = points->Count();
  if (currentPoint_ < 0 || currentPoint_ >= count) return;
  const float w = GetWidth(), h = GetHeight();
  removing_ = (y < -10 || y > h + 10) && count > 1 && currentPoint_ != 0 && currentPoint_ != count - 1;
  TvgGradientPoint* point = points->Point(currentPoint_);
  point->SetOffset(w > 20 ? Clamp01((x - 10) / (w - 20)) : 0);
  // Changes places with every neighbour it passed, so a fast drag across several stops leaves
  // the stops sorted by offset.
  while (currentPoint_ < count - 1 && points->Point(currentPoint_ + 1)->GetOffset() < point->GetOffset()) {
    point->SetIndex(currentPoint_ + 1);
    SetCurrentPoint(currentPoint_ + 1);
  }
  while (currentPoint_ > 0 && points->Point(currentPoint_ - 1)->GetOffset() > point->GetOffset()) {
    point->SetIndex(currentPoint_ - 1);
    SetCurrentPoint(currentPoint_ - 1);
  }
  Repaint();
  DoChanged();
}

void TvgGradientEdit::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  removing_ = false;
  TvgGradientPoints* points = gradient_->GetPoints();
  if (moving_ && y > GetHeight() + 10 && points->Count() > 1 && currentPoint_ >= 0 &&
      currentPoint_ < points->Count()) {
    points->Delete(currentPoint_);
    SetCurrentPoint(currentPoint_ - 1);
    if (currentPoint_ < 0) SetCurrentPoint(0);
    Repaint();
    DoChanged();
  }
  moving_ = false;
}

void TvgGradientEdit::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const float w = GetWidth(), h = GetHeight();
  if (bitmap_ == nullptr)
    bitmap_ = new TvgBitmap(static_cast<int32_t>(std::trunc(w)), static_cast<int32_t>(std::trunc(h - 10)));
  const int32_t bw = bitmap_->GetWidth(), bh = bitmap_->GetHeight();
  if (bw > 0 && bh > 0) {
    // Pixels are premultiplied: the strip's colours are interpolated that way too.
    uint32_t* first = bitmap_->Scanline(0);
    for (int32_t x = 0; x < bw; ++x)
      first[x] = vgGradientPremultipliedColor(*gradient_, static_cast<float>(x) / static_cast<float>(bw));
    for (int32_t y = 1; y < bh; ++y) vgMoveLongword(first, bitmap_->Scanline(y), bw);
    bitmap_->BitmapChanged();
  }
  const float opacity = GetAbsoluteOpacity();
  const TvgRect strip = vgRect(10, 0, w - 10, h - 10);
  const int32_t state = canvas->SaveCanvas();
  canvas->IntersectClipRect(strip);
  PaintCheckerboard(canvas, strip, 10, w, h, opacity);
  canvas->RestoreCanvas(state);
  canvas->GetStroke()->SetStyle(vgBrushSolid);
  canvas->SetStrokeThickness(0);
  if (bw > 0 && bh > 0) canvas->DrawBitmap(*bitmap_, vgRect(0, 0, bw, bh), strip, opacity);
  TvgGradientPoints* points = gradient_->GetPoints();
  canvas->GetFill()->SetStyle(vgBrushSolid);
  canvas->SetStrokeThickness(1);
  for (int32_t i = 0; i < points->Count(); ++i) {
    if (removing_ && i == currentPoint_) continue;
    TvgRect r = GetPointRect(i);
    vgInflateRect(r, -1, -1);
    canvas->GetStroke()->SetSolidColor(0xFF757575u);
    canvas->GetFill()->SetSolidColor(points->Point(i)->GetIntColor());
    canvas->FillEllipse(r, opacity);
    canvas->DrawEllipse(r, opacity);
    if (i == currentPoint_) {
      vgInflateRect(r, 1, 1);
      canvas->GetStroke()->SetSolidColor(0xFFFFFFFFu);
      canvas->DrawEllipse(r, opacity);
    }
  }
}

// --- Colour panel

TvgColor vgStrToColorStrict(const std::string& text) {
  const std::string t = Trim(text);
  bool valid = false;
  if (!t.empty() && t[0] == '#') {
    valid = t.size() >= 2 && t.size() <= 9 &&
            std::all_of(t.begin() + 1, t.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
  } else if (!t.empty()) {
    valid = std::any_of(std::begin(vgColorIdents), std::end(vgColorIdents),
                        [&](const TvgColorIdent& ident) { return SameText(ident.Name, t); });
    int64_t number = 0;
    if (!valid && TryStrToInt64(t, number)) valid = number >= INT32_MIN && number <= UINT32_MAX;
  }
  if (!valid) throw EConvertError("'" + text + "' is not a valid colour value");
  return vgStrToColor(t);
}

TvgColorPanel::TvgColorPanel(TComponent* owner) : TvgControl(owner) {
  SetWidth(150);
  SetHeight(150);
  alphaBar_ = new TvgAlphaTrackBar(this);
  alphaBar_->SetParent(this);
  alphaBar_->SetAlign(vaBottom);
  alphaBar_->GetPadding()->SetRect(vgRect(0, 0, 15, 0));
  alphaBar_->SetHeight(15);
  alphaBar_->SetDisableFocusEffect(true);
  alphaBar_->OnChange = TNotifyEvent::Of<&TvgColorPanel::DoAlphaChange>(this);
  hueBar_ = new TvgHueTrackBar(this);
  hueBar_->SetParent(this);
  hueBar_->SetAlign(vaRight);
  hueBar_->GetPadding()->SetRect(TvgRect());
  hueBar_->SetOrientation(vgVertical);
  hueBar_->SetWidth(15);
  hueBar_->SetDisableFocusEffect(true);
  hueBar_->OnChange = TNotifyEvent::Of<&TvgColorPanel::DoHueChange>(this);
  quad_ = new TvgColorQuad(this);
  quad_->SetParent(this);
  quad_->SetAlign(vaClient);
  quad_->GetPadding()->SetRect(vgRect(5, 5, 3, 3));
  quad_->OnChange = TNotifyEvent::Of<&TvgColorPanel::DoQuadChange>(this);
  for (TvgVisualObject* part : {static_cast<TvgVisualObject*>(alphaBar_), static_cast<TvgVisualObject*>(hueBar_),
                                static_cast<TvgVisualObject*>(quad_)}) {
    part->SetStored(false);
    part->SetLocked(true);
  }
  SetColor("#FFFFFFFF");
}

TvgColorPanel::~TvgColorPanel() {
  if (colorBox_ != nullptr) colorBox_->RemoveFreeNotification(this);
  // The parts call back into the panel while they go: silence them first.
  alphaBar_->OnChange = TNotifyEvent();
  hueBar_->OnChange = TNotifyEvent();
  quad_->OnChange = TNotifyEvent();
  DestroyTree();
}

void TvgColorPanel::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == opRemove && component == colorBox_) colorBox_ = nullptr;
}

std::string TvgColorPanel::GetColor() const {
  return vgColorToStr(vgOpacityColor(vgHSLtoRGB(quad_->GetHue(), quad_->GetSat(), quad_->GetLum()), quad_->GetAlpha()));
}

void TvgColorPanel::SetColor(const std::string& text) {
  const TvgColor c = vgStrToColorStrict(text);
  const TNotifyEvent saved = OnChange;
  OnChange = TNotifyEvent();
  float h, s, l;
  vgRGBtoHSL(c, h, s, l);
  try {
    quad_->SetLum(l);
    quad_->SetSat(s);
    hueBar_->SetValue(h);
    alphaBar_->SetValue(static_cast<float>(c >> 24) / 255.0f);
  } catch (...) {
    OnChange = saved;
    throw;
  }
  OnChange = saved;
  if (!IsLoading()) DoQuadChange(this);
}

void TvgColorPanel::SetColorBox(TvgColorBox* value) {
  if (value == colorBox_) return;
  Relink(this, colorBox_, value);
  if (colorBox_ != nullptr) colorBox_->SetColor(vgStrToColor(GetColor()));
}

void TvgColorPanel::Loaded() {
  inherited::Loaded();
  SetColor(GetColor());
}

void TvgColorPanel::DoAlphaChange(TObject*) { quad_->SetAlpha(alphaBar_->GetValue()); }

void TvgColorPanel::DoHueChange(TObject*) { quad_->SetHue(hueBar_->GetValue()); }

void TvgColorPanel::DoQuadChange(TObject*) {
  if (colorBox_ != nullptr) colorBox_->SetColor(vgStrToColor(GetColor()));
  RunHandler(OnChange, this);
}

// --- Combo colour box

TvgComboColorBox::TvgComboColorBox(TComponent* owner) : TvgControl(owner) {
  SetWidth(60);
  SetHeight(22);
  SetCanFocused(true);
  SetAutoCapture(true);
  SetResource("comboboxstyle");
  popup_ = new TvgPopup(this);
  popup_->SetParent(this);
  popup_->SetResource("combopopupstyle");
  popup_->SetPlacementTarget(this);
  popup_->SetStaysOpen(false);
  popup_->SetLocked(true);
  popup_->SetDesignHide(true);
  popup_->SetWidth(240);
  popup_->SetHeight(160);
  popup_->GetMargins()->SetRect(vgRect(5, 5, 5, 5));
  colorBox_ = new TvgColorBox(this);
  colorBox_->SetWidth(50);
  colorBox_->SetParent(popup_);
  colorBox_->SetAlign(vaRight);
  colorBox_->GetPadding()->SetRect(vgRect(15, 70, 15, 30));
  textBox_ = new TvgTextBox(this);
  textBox_->SetParent(popup_);
  textBox_->SetLocked(true);
  textBox_->SetFilterChar(u"#0123456789abcdefABCDEF");
  textBox_->SetBounds(160, 20, 70, 22);
  textBox_->SetAlign(vaTopRight);
  textBox_->SetDisableFocusEffect(true);
  textBox_->OnChange = TNotifyEvent::Of<&TvgComboColorBox::DoTextChanged>(this);
  panel_ = new TvgColorPanel(this);
  panel_->SetParent(popup_);
  panel_->SetDisableFocusEffect(true);
  panel_->SetAlign(vaClient);
  panel_->OnChange = TNotifyEvent::Of<&TvgComboColorBox::DoColorChanged>(this);
  panel_->SetColorBox(colorBox_);
  popup_->SetStored(false);
}

TvgComboColorBox::~TvgComboColorBox() {
  panel_->OnChange = TNotifyEvent();
  textBox_->OnChange = TNotifyEvent();
  DestroyTree();
}

void TvgComboColorBox::ApplyStyle() {
  inherited::ApplyStyle();
  content_ = dynamic_cast<TvgContent*>(FindResource("Content"));
  if (content_ != nullptr) content_->OnPaint = TOnPaintEvent::Of<&TvgComboColorBox::DoContentPaint>(this);
}

void TvgComboColorBox::FreeStyle() {
  content_ = nullptr;
  inherited::FreeStyle();
}

void TvgComboColorBox::DoColorChanged(TObject*) {
  textBox_->SetText(Utf8ToWide(GetColor()));
  Repaint();
  RunHandler(OnChange, this);
}

void TvgComboColorBox::DoTextChanged(TObject*) {
  const std::string previous = GetColor();
  try {
    SetColor(WideToUtf8(textBox_->GetText()));
  } catch (const Exception&) {
    // Setting the colour again also writes it back into the text box.
    SetColor(previous);
  }
}

void TvgComboColorBox::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button == mbLeft) DropDown();
}

void TvgComboColorBox::DropDown() {
  if (popup_->GetIsOpen()) {
    popup_->SetIsOpen(false);
    return;
  }
  popup_->SetPlacement(placement_);
  panel_->ApplyResource();
  popup_->SetIsOpen(true);
}

void TvgComboColorBox::DoContentPaint(TObject*, TvgCanvas* canvas, const TvgRect& rect) {
  if (canvas == nullptr) return;
  TvgRect r = rect;
  vgInflateRect(r, -2.5f, -2.5f);
  const float opacity = GetAbsoluteOpacity();
  const int32_t state = canvas->SaveCanvas();
  canvas->IntersectClipRect(r);
  PaintCheckerboard(canvas, r, 5, r.Right - r.Left, r.Bottom - r.Top, opacity);
  canvas->RestoreCanvas(state);
  canvas->GetFill()->SetStyle(vgBrushSolid);
  canvas->GetFill()->SetSolidColor(vgStrToColor(GetColor()));
  canvas->FillRect(r, 0, 0, vgAllCorners, opacity);
  canvas->GetStroke()->SetStyle(vgBrushSolid);
  canvas->GetStroke()->SetSolidColor(0xFF000000u);
  canvas->DrawRect(r, 0, 0, vgAllCorners, opacity);
}

TvgHudComboColorBox::TvgHudComboColorBox(TComponent* owner) : TvgComboColorBox(owner) {
  SetResource("hudcomboboxstyle");
  GetPopup()->SetResource("hudcombopopupstyle");
}

// --- Unit registration

void vgInitColorsUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  vgInitControlsUnit();
  vgRegisterObjects("Colors", {TvgHueTrackBar::StaticClassInfo(), TvgAlphaTrackBar::StaticClassInfo(),
                               TvgBWTrackBar::StaticClassInfo(), TvgColorQuad::StaticClassInfo(),
                               TvgColorPicker::StaticClassInfo(), TvgGradientEdit::StaticClassInfo(),
                               TvgColorBox::StaticClassInfo(), TvgColorPanel::StaticClassInfo(),
                               TvgComboColorBox::StaticClassInfo()});
  vgRegisterObjects("HUD", {TvgHudHueTrackBar::StaticClassInfo(), TvgHudAlphaTrackBar::StaticClassInfo(),
                            TvgHudBWTrackBar::StaticClassInfo(), TvgHudComboColorBox::StaticClassInfo()});
}

namespace {
const bool g_colorsRegistered = (AddClassRegistration(&vgInitColorsUnit), true);
}
