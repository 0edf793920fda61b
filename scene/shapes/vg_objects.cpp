// The scene's drawable shapes: shape base, lines, rectangles, ellipses, text, images, paint
// boxes, paths and scroll arrows, blurred and callout rectangles.
#include "vg_objects.h"

#include <cmath>
#include <memory>

#include "scene/core/vg_canvas_p.h"
#include "scene/core/vg_registry.h"
#include "scene/core/vg_sceneintf.h"
#include "vg_effects.h"

// --- Published properties

KBL_PUBLISHED(TvgShape) {}

// The stroke settings every shape that strokes publishes, in the order the streams expect.
#define VG_PUBLISH_STROKE()                                                   \
  KBL_PROP(Stroke);                                                           \
  KBL_PROP(StrokeCap).Default(vgCapFlat);                                     \
  KBL_PROP(StrokeDash).Default(vgDashSolid);                                  \
  KBL_PROP(StrokeJoin).Default(vgJoinMiter);                                  \
  KBL_PROP(StrokeThickness).Stored(&TvgShape::IsStrokeThicknessStored)

KBL_PUBLISHED(TvgLine) {
  VG_PUBLISH_STROKE();
  KBL_PROP(LineType).NoDefault();
}

KBL_PUBLISHED(TvgRectangle) {
  KBL_PROP(Fill);
  VG_PUBLISH_STROKE();
  KBL_PROP(xRadius).NoDefault();
  KBL_PROP(yRadius).NoDefault();
  KBL_PROP(Corners).Stored(&TvgRectangle::IsCornersStored);
  KBL_PROP(CornerType).Default(vgCornerRound);
  KBL_PROP(Sides).Stored(&TvgRectangle::IsSidesStored);
}

KBL_PUBLISHED(TvgSidesRectangle) {}

KBL_PUBLISHED(TvgRoundRect) {
  KBL_PROP(Fill);
  VG_PUBLISH_STROKE();
  KBL_PROP(Corners).Stored(&TvgRoundRect::IsCornersStored);
}

KBL_PUBLISHED(TvgBlurRectangle) { KBL_PROP(Softness).Stored(true); }
KBL_PUBLISHED(TvgBlurRoundRect) { KBL_PROP(Softness).Stored(true); }

KBL_PUBLISHED(TvgCalloutRectangle) {
  KBL_PROP(AnchorSize).Stored(true);
  KBL_PROP(AnchorLength).Stored(true);
}

KBL_PUBLISHED(TvgEllipse) {
  KBL_PROP(Fill);
  VG_PUBLISH_STROKE();
}
KBL_PUBLISHED(TvgCircle) {}
KBL_PUBLISHED(TvgPie) {
  KBL_PROP(StartAngle).Stored(true);
  KBL_PROP(EndAngle).Stored(true);
}
KBL_PUBLISHED(TvgArc) {
  KBL_PROP(StartAngle).Stored(true);
  KBL_PROP(EndAngle).Stored(true);
}

KBL_PUBLISHED(TvgText) {
  KBL_PROP(AutoSize).Default(false);
  KBL_PROP(Fill);
  KBL_PROP(Font);
  KBL_PROP(HorzTextAlign).Default(vgTextAlignCenter);
  KBL_PROP(VertTextAlign).Default(vgTextAlignCenter);
  KBL_PROP(Text);
  KBL_PROP(Stretch).Default(false);
  KBL_PROP(WordWrap).Default(true);
}

KBL_PUBLISHED(TvgImage) {
  KBL_PROP(Bitmap);
  KBL_PROP(BitmapMargins);
  KBL_PROP(WrapMode).NoDefault();
  KBL_PROP(DisableInterpolation).Default(false);
  p.Property("OnBitmapLoaded", &TvgImage::OnBitmapLoaded, &TvgImage::OnBitmapLoaded);
}

KBL_PUBLISHED(TvgPaintBox) { p.Property("OnPaint", &TvgPaintBox::OnPaint, &TvgPaintBox::OnPaint); }

KBL_PUBLISHED(TvgCustomPath) {
  KBL_PROP(Fill);
  VG_PUBLISH_STROKE();
}
KBL_PUBLISHED(TvgPath) {
  KBL_PROP(Data);
  KBL_PROP(WrapMode).Default(vgPathStretch);
}
KBL_PUBLISHED(TvgScrollArrowLeft) {}
KBL_PUBLISHED(TvgScrollArrowRight) {}

#undef VG_PUBLISH_STROKE

// --- Unit registration

void vgInitObjectsUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  RegisterClass<TvgShape, TvgCustomPath>();
  vgRegisterObjects("Shapes", {TvgLine::StaticClassInfo(), TvgRectangle::StaticClassInfo(),
                               TvgSidesRectangle::StaticClassInfo(), TvgBlurRectangle::StaticClassInfo(),
                               TvgRoundRect::StaticClassInfo(), TvgBlurRoundRect::StaticClassInfo(),
                               TvgEllipse::StaticClassInfo(), TvgCircle::StaticClassInfo(),
                               TvgArc::StaticClassInfo(), TvgPie::StaticClassInfo(), TvgText::StaticClassInfo(),
                               TvgPath::StaticClassInfo(), TvgImage::StaticClassInfo(),
                               TvgPaintBox::StaticClassInfo()});
  vgRegisterObjects("Shapes", {TvgScrollArrowLeft::StaticClassInfo(), TvgScrollArrowRight::StaticClassInfo()});
  vgRegisterObjects("Shapes", {TvgCalloutRectangle::StaticClassInfo()});
  vgRegisterObjects("Design", {TvgSelection::StaticClassInfo(), TvgSelectionPoint::StaticClassInfo(),
                               TvgDesignFrame::StaticClassInfo()});
}

namespace {
// Runs at the class registry's first look-up when the unit is linked in; the explicit call covers
// builds that drop unreferenced units.
const bool g_objectsRegistered = (AddClassRegistration(&vgInitObjectsUnit), true);
}  // namespace

// --- Shape base

TvgShape::TvgShape(TComponent* owner)
    : TvgVisualObject(owner),
      paint_(1, TNotifyEvent::Of<&TvgShape::FillChanged>(this), TNotifyEvent::Of<&TvgShape::StrokeChanged>(this)) {}

TvgShape::~TvgShape() {
  // The tree goes first: a parent's RemoveObject may still ask this shape for its rects.
  DestroyTree();
}

void TvgShape::ResetFill(TvgBrushStyle style, TvgColor color) {
  delete paint_.Fill;
  paint_.Fill = new TvgBrush(style, color);
  paint_.Fill->OnChanged = TNotifyEvent::Of<&TvgShape::FillChanged>(this);
}

void TvgShape::ResetStroke(TvgBrushStyle style, TvgColor color) {
  delete paint_.Stroke;
  paint_.Stroke = new TvgBrush(style, color);
  paint_.Stroke->OnChanged = TNotifyEvent::Of<&TvgShape::StrokeChanged>(this);
}

void TvgShape::FillChanged(TObject*) {
  if (GetUpdateCounter() == 0) Repaint();
  UpdateEffects();
}

void TvgShape::StrokeChanged(TObject*) {
  if (GetUpdateCounter() == 0) Repaint();
  UpdateEffects();
}

void TvgShape::SetStrokeThickness(float value) {
  if (!vgSetChanged(paint_.Thickness, value)) return;
  UpdateEffects();
  Repaint();
}

void TvgShape::SetStrokeCap(TvgStrokeCap value) {
  if (!vgSetChanged(paint_.Cap, value)) return;
  UpdateEffects();
  Repaint();
}

void TvgShape::SetStrokeJoin(TvgStrokeJoin value) {
  if (!vgSetChanged(paint_.Join, value)) return;
  UpdateEffects();
  Repaint();
}

void TvgShape::SetStrokeDash(TvgStrokeDash value) {
  if (!vgSetChanged(paint_.Dash, value)) return;
  UpdateEffects();
  Repaint();
}

TvgRect TvgShape::GetShapeRect() {
  TvgRect r = GetLocalRect();
  if (paint_.Stroke->GetStyle() != vgBrushNone) vgInflateRect(r, -paint_.Thickness / 2, -paint_.Thickness / 2);
  return r;
}

void TvgShape::BeforePaint() {
  inherited::BeforePaint();
  if (TvgCanvas* canvas = GetCanvas()) paint_.ApplyTo(*canvas);
}

void TvgShape::AfterPaint() {
  inherited::AfterPaint();
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  canvas->SetStrokeDash(vgDashSolid);
  canvas->SetStrokeThickness(1);
}

namespace {

bool DesignFrameWanted(TvgVisualObject& obj) {
  IvgScene* scene = obj.GetScene();
  return scene != nullptr && scene->GetDesignTime() && !obj.GetLocked() && !obj.GetPaintingToBitmap();
}


}  // namespace

bool TvgShape::ShowsDesignFrame() { return DesignFrameWanted(*this); }
void TvgShape::PaintDesignFrame() { vgPaintDesignFrame(*this); }

// --- Line

TvgLine::TvgLine(TComponent* owner) : TvgShape(owner) {}

void TvgLine::SetLineType(TvgLineType value) {
  if (vgSetChanged(lineType_, value)) Repaint();
}

void TvgLine::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const TvgRect s = GetShapeRect();
  const float op = GetAbsoluteOpacity();
  switch (lineType_) {
    case vgLineHorizontal: canvas->DrawLine(vgPoint(s.Left, s.Top), vgPoint(s.Right, s.Top), op); break;
    case vgLineVertical: canvas->DrawLine(vgPoint(s.Left, s.Top), vgPoint(s.Left, s.Bottom), op); break;
    default: canvas->DrawLine(vgPoint(s.Left, s.Top), vgPoint(s.Right, s.Bottom), op); break;
  }
}

// --- Rectangle

TvgRectangle::TvgRectangle(TComponent* owner) : TvgShape(owner) {}

void TvgRectangle::SetxRadius(float value) {
  if (!vgSetChanged(xRadius_, value)) return;
  UpdateEffects();
  Repaint();
}

void TvgRectangle::SetyRadius(float value) {
  if (!vgSetChanged(yRadius_, value)) return;
  UpdateEffects();
  Repaint();
}

void TvgRectangle::SetCorners(TvgCorners value) {
  if (vgSetChanged(corners_, value)) Repaint();
}

void TvgRectangle::SetCornerType(TvgCornerType value) {
  if (!vgSetChanged(cornerType_, value)) return;
  UpdateEffects();
  Repaint();
}

void TvgRectangle::SetSides(TvgSides value) {
  if (!vgSetChanged(sides_, value)) return;
  UpdateEffects();
  Repaint();
}

TvgRect TvgRectangle::SidesFillRect(const TvgRect& s) const {
  // Half the stroke (or 0 without one): the fill reaches the object's edge where no outline is.
  const float off = s.Left;
  TvgRect f = s;
  if (!sides_.Contains(vgSideTop)) f.Top -= off;
  if (!sides_.Contains(vgSideLeft)) f.Left -= off;
  if (!sides_.Contains(vgSideBottom)) f.Bottom += off;
  if (!sides_.Contains(vgSideRight)) f.Right += off;
  return f;
}

void TvgRectangle::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const TvgRect s = GetShapeRect();
  const float op = GetAbsoluteOpacity();
  if (sides_ == vgAllSides) {
    canvas->FillRect(s, xRadius_, yRadius_, corners_, op, cornerType_);
    canvas->DrawRect(s, xRadius_, yRadius_, corners_, op, cornerType_);
    return;
  }
  canvas->FillRect(SidesFillRect(s), xRadius_, yRadius_, corners_, op, cornerType_);
  canvas->DrawRectSides(s, xRadius_, yRadius_, corners_, op, sides_, cornerType_);
}

// --- Round rect

TvgRoundRect::TvgRoundRect(TComponent* owner) : TvgShape(owner) {}

void TvgRoundRect::SetCorners(TvgCorners value) {
  if (vgSetChanged(corners_, value)) Repaint();
}

void TvgRoundRect::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const TvgRect s = GetShapeRect();
  const float op = GetAbsoluteOpacity();
  const float r = GetHeight() < GetWidth() ? vgRectHeight(s) / 2 : vgRectWidth(s) / 2;
  canvas->FillRect(s, r, r, corners_, op, vgCornerRound);
  canvas->DrawRect(s, r, r, corners_, op, vgCornerRound);
}

// --- Blurred rectangles

namespace {

// Makes the cache match the object's rounded size; answers whether it must be rendered again.
// Nothing is cached for an object without area.
bool PrepareCache(TvgBitmap*& cache, float width, float height, bool stale) {
  const int32_t w = static_cast<int32_t>(Round(width));
  const int32_t h = static_cast<int32_t>(Round(height));
  if (w < 1 || h < 1) return false;
  if (cache == nullptr) {
    cache = new TvgBitmap(w, h);
    return true;
  }
  if (cache->GetWidth() != w || cache->GetHeight() != h) {
    cache->SetSize(w, h);
    return true;
  }
  return stale;
}

// Paints `shape` from its blurred cache, rendering the cache again first when it is stale or
// the size changed: `draw` fills and strokes the outline into the cache's canvas inside the
// margin the blur radius needs, then the cache is blurred.
template <typename Draw>
void PaintBlurred(TvgShape& shape, TvgBitmap*& cache, bool& stale, float softness, Draw draw) {
  TvgCanvas* canvas = shape.GetCanvas();
  if (canvas == nullptr) return;
  const int32_t r = static_cast<int32_t>(Trunc(softness * 15));
  const float op = shape.GetAbsoluteOpacity();
  if (!PrepareCache(cache, shape.GetWidth(), shape.GetHeight(), stale)) {
    if (cache == nullptr || cache->IsEmpty()) return;
  } else {
    const TvgRect inner = vgRect(r, r, shape.GetWidth() - r, shape.GetHeight() - r);
    cache->Clear(0);
    if (TvgCanvas* c = cache->GetCanvas()) {
      c->SetFill(shape.GetFill());
      c->SetStroke(shape.GetStroke());
      draw(*c, inner, op);
    }
    vgStackBlur(*cache, r, true);
    stale = false;
  }
  canvas->DrawBitmap(*cache, shape.GetLocalRect(), shape.GetLocalRect(), op, true);
}

}  // namespace

TvgBlurRectangle::TvgBlurRectangle(TComponent* owner) : TvgRectangle(owner) { GetStroke()->SetStyle(vgBrushNone); }

TvgBlurRectangle::~TvgBlurRectangle() {
  DestroyTree();
  delete cache_;
}

void TvgBlurRectangle::SetSoftness(float value) {
  if (!vgSetChanged(softness_, value)) return;
  cacheStale_ = true;
  Repaint();
}

void TvgBlurRectangle::FillChanged(TObject* sender) {
  inherited::FillChanged(sender);
  cacheStale_ = true;
}

void TvgBlurRectangle::SetxRadius(float value) {
  if (value == GetxRadius()) return;
  inherited::SetxRadius(value);
  cacheStale_ = true;
}

void TvgBlurRectangle::SetyRadius(float value) {
  if (value == GetyRadius()) return;
  inherited::SetyRadius(value);
  cacheStale_ = true;
}

void TvgBlurRectangle::SetCorners(TvgCorners value) {
  if (value == GetCorners()) return;
  inherited::SetCorners(value);
  cacheStale_ = true;
}

void TvgBlurRectangle::SetCornerType(TvgCornerType value) {
  if (value == GetCornerType()) return;
  inherited::SetCornerType(value);
  cacheStale_ = true;
}

void TvgBlurRectangle::Paint() {
  PaintBlurred(*this, cache_, cacheStale_, softness_, [this](TvgCanvas& c, const TvgRect& inner, float op) {
    c.FillRect(inner, GetxRadius(), GetyRadius(), GetCorners(), op, GetCornerType());
    c.DrawRect(inner, GetxRadius(), GetyRadius(), GetCorners(), op, GetCornerType());
  });
}

TvgBlurRoundRect::TvgBlurRoundRect(TComponent* owner) : TvgRoundRect(owner) { GetStroke()->SetStyle(vgBrushNone); }

TvgBlurRoundRect::~TvgBlurRoundRect() {
  DestroyTree();
  delete cache_;
}

void TvgBlurRoundRect::SetSoftness(float value) {
  if (!vgSetChanged(softness_, value)) return;
  cacheStale_ = true;
  Repaint();
}

void TvgBlurRoundRect::FillChanged(TObject* sender) {
  inherited::FillChanged(sender);
  cacheStale_ = true;
}

void TvgBlurRoundRect::SetCorners(TvgCorners value) {
  if (value == GetCorners()) return;
  inherited::SetCorners(value);
  cacheStale_ = true;
}

void TvgBlurRoundRect::Paint() {
  PaintBlurred(*this, cache_, cacheStale_, softness_, [this](TvgCanvas& c, const TvgRect& inner, float op) {
    const float radius = vgRectHeight(inner) / 2;
    c.FillRect(inner, radius, radius, GetCorners(), op, vgCornerRound);
    c.DrawRect(inner, radius, radius, GetCorners(), op, vgCornerRound);
  });
}

// --- Callout rectangle

TvgCalloutRectangle::TvgCalloutRectangle(TComponent* owner) : TvgRectangle(owner), outline_(new TvgPathData) {}

TvgCalloutRectangle::~TvgCalloutRectangle() {
  DestroyTree();
  delete outline_;
}

void TvgCalloutRectangle::SetAnchorSize(float value) {
  if (!vgSetChanged(anchorSize_, value)) return;
  RecalcUpdateRect();
  Repaint();
}

void TvgCalloutRectangle::SetAnchorLength(float value) {
  if (!vgSetChanged(anchorLength_, value)) return;
  RecalcUpdateRect();
  Repaint();
}

void TvgCalloutRectangle::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  outline_->Clear();
  TvgRect r = GetShapeRect();
  const TvgSides sides = GetSides();
  if (!(sides == vgAllSides)) r = SidesFillRect(r);
  // The rule of the canvas's rect sides: corners clockwise from the top-left, absent sides as
  // pen-up moves, no closing point.
  const TvgCornerRadii k = vgClampCornerRadii(r, GetxRadius(), GetyRadius(), 0.5f);
  const bool top = sides.Contains(vgSideTop), left = sides.Contains(vgSideLeft);
  const bool bottom = sides.Contains(vgSideBottom), right = sides.Contains(vgSideRight);
  const TvgCorners corners = GetCorners();
  const TvgCornerType type = GetCornerType();
  using S = TvgOutlineSegment;
  std::vector<TvgOutlineSegment> segments;
  vgCornerSegments(segments, r, k, vgCornerTopLeft, corners.Contains(vgCornerTopLeft), type, left, top);
  segments.push_back({top ? S::Line : S::Move, {{r.Right - k.x, r.Top}}});
  vgCornerSegments(segments, r, k, vgCornerTopRight, corners.Contains(vgCornerTopRight), type, top, right);
  segments.push_back({right ? S::Line : S::Move, {{r.Right, r.Bottom - k.y}}});
  vgCornerSegments(segments, r, k, vgCornerBottomRight, corners.Contains(vgCornerBottomRight), type, right, bottom);
  segments.push_back({bottom ? S::Line : S::Move, {{r.Left + k.x, r.Bottom}}});
  vgCornerSegments(segments, r, k, vgCornerBottomLeft, corners.Contains(vgCornerBottomLeft), type, bottom, left);
  if (left) segments.push_back({S::Line, {{r.Left, r.Top + k.y}}});
  outline_->MoveTo(vgCornerStart(r, k, vgCornerTopLeft));
  for (const TvgOutlineSegment& s : segments) {
    switch (s.kind) {
      case S::Move: outline_->MoveTo(s.p[0]); break;
      case S::Line: outline_->LineTo(s.p[0]); break;
      case S::Curve: outline_->CurveTo(s.p[0], s.p[1], s.p[2]); break;
    }
  }
  canvas->DrawPath(*outline_, outline_->GetBounds(), GetAbsoluteOpacity());
}

// --- Ellipse family

void TvgEllipse::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const TvgRect s = GetShapeRect();
  const float op = GetAbsoluteOpacity();
  canvas->FillEllipse(s, op);
  canvas->DrawEllipse(s, op);
}

bool TvgEllipse::PointInObject(float x, float y) {
  const TvgPoint p = AbsoluteToLocal(vgPoint(x, y));
  const float w = GetWidth(), h = GetHeight();
  if (w * h == 0) return false;
  const float dx = (2 * p.X - w) / w, dy = (2 * p.Y - h) / h;
  return dx * dx + dy * dy <= 1;
}

void TvgCircle::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const float m = std::fmax(GetWidth(), GetHeight());
  TvgRect r = vgRect(0, 0, m, m);
  vgFitRect(r, GetShapeRect());
  const float op = GetAbsoluteOpacity();
  canvas->FillEllipse(r, op);
  canvas->DrawEllipse(r, op);
}

TvgPie::TvgPie(TComponent* owner) : TvgEllipse(owner) {}

void TvgPie::SetStartAngle(float value) {
  if (vgSetChanged(startAngle_, value)) Repaint();
}

void TvgPie::SetEndAngle(float value) {
  if (vgSetChanged(endAngle_, value)) Repaint();
}

void TvgPie::BuildOutline(TvgPathData& path) {
  // The radii lose the stroke thickness whether or not the stroke shows.
  const float w = GetWidth(), h = GetHeight(), t = GetStrokeThickness();
  const TvgPoint c = vgPoint(w / 2, h / 2);
  path.MoveTo(c);
  path.AddArc(c, vgPoint((w - t) / 2, (h - t) / 2), startAngle_, endAngle_ - startAngle_);
  path.LineTo(c);
  path.ClosePath();
}

void TvgPie::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  TvgPathData path;
  BuildOutline(path);
  const TvgRect b = path.GetBounds();
  const float op = GetAbsoluteOpacity();
  canvas->FillPath(path, b, op);
  canvas->DrawPath(path, b, op);
}

bool TvgPie::PointInObject(float x, float y) {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return inherited::PointInObject(x, y);
  TvgPathData path;
  BuildOutline(path);
  return canvas->PtInPath(AbsoluteToLocal(vgPoint(x, y)), path.GetBounds(), path);
}

TvgArc::TvgArc(TComponent* owner) : TvgEllipse(owner) { ResetFill(vgBrushNone, 0xFFE0E0E0u); }

void TvgArc::SetStartAngle(float value) {
  if (vgSetChanged(startAngle_, value)) Repaint();
}

void TvgArc::SetEndAngle(float value) {
  if (vgSetChanged(endAngle_, value)) Repaint();
}

void TvgArc::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const float w = GetWidth(), h = GetHeight(), t = GetStrokeThickness();
  const TvgPoint c = vgPoint(w / 2, h / 2), radius = vgPoint((w - t) / 2, (h - t) / 2);
  const float op = GetAbsoluteOpacity();
  // The sweep is the end angle itself, not the difference to the start.
  canvas->FillArc(c, radius, startAngle_, endAngle_, op);
  canvas->DrawArc(c, radius, startAngle_, endAngle_, op);
}

// --- Text

TvgText::TvgText(TComponent* owner) : TvgShape(owner), font_(new TvgFont) {
  font_->OnChanged = TNotifyEvent::Of<&TvgText::FontChanged>(this);
  ResetFill(vgBrushSolid, 0xFF000000u);
  ResetStroke(vgBrushNone, 0xFF000000u);
}

TvgText::~TvgText() {
  DestroyTree();
  delete font_;
}

void TvgText::SetData(const Variant& value) { SetText(value.ToWideString()); }

void TvgText::SetText(const WideString& value) {
  if (!vgSetChanged(text_, value)) return;
  UpdateEffects();
  if (autoSize_) AdjustSize();
  Repaint();
}

void TvgText::SetFont(TvgFont* value) {
  font_->Assign(value);
  if (autoSize_) AdjustSize();
}

void TvgText::FontChanged(TObject*) {
  UpdateEffects();
  if (autoSize_) AdjustSize();
  Repaint();
}

void TvgText::SetVertTextAlign(TvgTextAlign value) {
  if (!vgSetChanged(vertTextAlign_, value)) return;
  UpdateEffects();
  Repaint();
}

void TvgText::SetHorzTextAlign(TvgTextAlign value) {
  if (!vgSetChanged(horzTextAlign_, value)) return;
  UpdateEffects();
  Repaint();
}

void TvgText::SetWordWrap(bool value) {
  if (vgSetChanged(wordWrap_, value)) Repaint();
}

void TvgText::SetAutoSize(bool value) {
  if (value != autoSize_) autoSize_ = value;
  AdjustSize();
}

void TvgText::SetStretch(bool value) {
  if (value == stretch_) return;
  UpdateEffects();
  stretch_ = value;
  if (stretch_) SetAutoSize(false);
  Repaint();
}

void TvgText::Realign() {
  inherited::Realign();
  if (autoSize_) AdjustSize();
}

void TvgText::AdjustSize() {
  if (inAdjust_) return;
  inAdjust_ = true;
  TvgCanvas* canvas = GetCanvas();
  const bool wanted = autoSize_ && canvas != nullptr && !text_.empty();
  if (wanted) {
    canvas->SetFont(font_);
    TvgRect r = wordWrap_ ? vgRect(0, 0, GetWidth(), 1000) : vgRect(0, 0, 1000, 1000);
    canvas->MeasureText(r, r, text_, wordWrap_, vgTextAlignNear, vgTextAlignNear);
    if (!wordWrap_) SetWidth(r.Right + font_->GetSize() / 2);
    if (vertTextAlign_ != vgTextAlignCenter) SetHeight(r.Bottom);
  }
  inAdjust_ = false;
  if (wanted && GetParent() != nullptr && GetParent()->IsVisual()) GetParent()->Visual()->Realign();
}

void TvgText::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  canvas->SetFont(font_);
  const float op = GetAbsoluteOpacity();
  const TvgRect local = GetLocalRect();
  if (!stretch_) {
    canvas->FillText(local, local, text_, wordWrap_, op, horzTextAlign_, vertTextAlign_);
    return;
  }
  TvgRect r = vgRect(0, 0, 1000, 1000);
  canvas->MeasureText(r, r, text_, false, horzTextAlign_, vertTextAlign_);
  vgOffsetRect(r, -r.Left, -r.Top);
  TvgMatrix m = IdentityMatrix;
  if (!vgIsRectEmpty(r)) {
    m.m11 = vgRectWidth(local) / vgRectWidth(r);
    m.m22 = vgRectHeight(local) / vgRectHeight(r);
  }
  // The canvas keeps this transform until the next object's matrix is set.
  canvas->MultiplyMatrix(m);
  const float grow = font_->GetSize() / 3;
  vgInflateRect(r, grow, grow);
  canvas->FillText(r, r, text_, false, op, horzTextAlign_, vertTextAlign_);
}

// --- Image

TvgImage::TvgImage(TComponent* owner)
    : TvgVisualObject(owner), bitmap_(new TvgBitmap(0, 0)), bitmapMargins_(new TvgBounds) {
  bitmap_->OnChange = TNotifyEvent::Of<&TvgImage::BitmapChanged>(this);
  bitmap_->NotifyBeforeRecreate = TNotifyEvent::Of<&TvgImage::NothingBeforeRecreate>(this);
}

TvgImage::~TvgImage() {
  DestroyTree();
  delete bitmapMargins_;
  delete bitmap_;
}

Variant TvgImage::GetData() { return vgObjectToVariant(bitmap_); }

void TvgImage::SetData(const Variant& value) {
  if (vgVarIsObject(value)) {
    if (auto* source = dynamic_cast<TPersistent*>(vgVariantToObject(value))) bitmap_->Assign(source);
    return;
  }
  bitmap_->LoadFromFile(value.ToString(), 0);
}

void TvgImage::SetBitmap(TvgBitmap* value) {
  bitmap_->Assign(value);
  Repaint();
}

void TvgImage::SetWrapMode(TvgImageWrap value) {
  if (vgSetChanged(wrapMode_, value)) Repaint();
}

void TvgImage::BitmapChanged(TObject*) {
  UpdateEffects();
  Repaint();
}

bool TvgImage::ShowsDesignFrame() { return DesignFrameWanted(*this); }

void TvgImage::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const float op = GetAbsoluteOpacity();
  if (ShowsDesignFrame()) vgPaintDesignFrame(*this);
  TvgBitmap* linked = bitmap_->GetBitmap();
  TvgBitmap& b = linked != nullptr ? *linked : *bitmap_;
  if (b.IsEmpty()) return;
  const float w = GetWidth(), h = GetHeight();
  const float bw = static_cast<float>(b.GetWidth()), bh = static_cast<float>(b.GetHeight());
  const TvgRect local = GetLocalRect();
  if (!bitmapMargins_->MarginEmpty()) {
    const float l = bitmapMargins_->GetLeft(), t = bitmapMargins_->GetTop();
    const float rm = bitmapMargins_->GetRight(), bm = bitmapMargins_->GetBottom();
    const TvgRect pieces[9][2] = {
        {{0, 0, l, t}, {0, 0, l, t}},
        {{l, 0, bw - rm, t}, {l, 0, w - rm, t}},
        {{bw - rm, 0, bw, t}, {w - rm, 0, w, t}},
        {{0, t, l, bh - bm}, {0, t, l, h - bm}},
        {{l, t, bw - rm, bh - bm}, {l, t, w - rm, h - bm}},
        {{bw - rm, t, bw, bh - bm}, {w - rm, t, w, h - bm}},
        {{0, bh - bm, l, bh}, {0, h - bm, l, h}},
        {{l, bh - bm, bw - rm, bh}, {l, h - bm, w - rm, h}},
        {{bw - rm, bh - bm, bw, bh}, {w - rm, h - bm, w, h}},
    };
    for (const auto& piece : pieces) canvas->DrawBitmap(b, piece[0], piece[1], op, true);
    return;
  }
  const TvgRect whole = vgRect(0, 0, bw, bh);
  switch (wrapMode_) {
    case vgImageOriginal: {
      const int32_t state = canvas->SaveCanvas();
      canvas->IntersectClipRect(local);
      canvas->DrawBitmap(b, whole, whole, op, true);
      canvas->RestoreCanvas(state);
      break;
    }
    case vgImageFit: {
      TvgRect d = whole;
      vgFitRect(d, local);
      canvas->DrawBitmap(b, whole, d, op, disableInterpolation_);
      break;
    }
    case vgImageStretch: canvas->DrawBitmap(b, whole, local, op, disableInterpolation_); break;
    case vgImageTile: {
      const int32_t state = canvas->SaveCanvas();
      canvas->IntersectClipRect(local);
      const int64_t nx = Round(w / bw), ny = Round(h / bh);
      for (int64_t i = 0; i <= nx; ++i) {
        for (int64_t j = 0; j <= ny; ++j) {
          TvgRect d = whole;
          vgOffsetRect(d, static_cast<float>(i) * bw, static_cast<float>(j) * bh);
          canvas->DrawBitmap(b, whole, d, op, true);
        }
      }
      canvas->RestoreCanvas(state);
      break;
    }
  }
}

// --- Paint box

void TvgPaintBox::Paint() {
  inherited::Paint();
  RunHandler(OnPaint, this, GetCanvas());
}

// --- Paths

TvgCustomPath::TvgCustomPath(TComponent* owner) : TvgShape(owner), data_(new TvgPathData) {
  data_->OnChanged = TNotifyEvent::Of<&TvgCustomPath::PathChanged>(this);
}

TvgCustomPath::~TvgCustomPath() {
  DestroyTree();
  delete data_;
}

void TvgCustomPath::SetWrapMode(TvgPathWrap value) {
  if (vgSetChanged(wrapMode_, value)) Repaint();
}

void TvgCustomPath::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  TvgPathData* linked = data_->GetPath();
  const TvgPathData& path = linked != nullptr ? *linked : *data_;
  const float op = GetAbsoluteOpacity();
  if (!path.IsEmpty()) {
    const TvgRect s = GetShapeRect();
    const TvgRect local = GetLocalRect();
    auto draw = [&](const TvgRect& r) {
      canvas->FillPath(path, r, op);
      canvas->DrawPath(path, r, op);
    };
    switch (wrapMode_) {
      case vgPathOriginal: {
        const int32_t state = canvas->SaveCanvas();
        canvas->IntersectClipRect(local);
        TvgRect r = path.GetBounds();
        vgOffsetRect(r, s.Left, s.Top);
        draw(r);
        canvas->RestoreCanvas(state);
        break;
      }
      case vgPathFit: {
        TvgRect r = path.GetBounds();
        vgFitRect(r, s);
        draw(r);
        break;
      }
      case vgPathStretch: draw(s); break;
      case vgPathTile: {
        const int32_t state = canvas->SaveCanvas();
        canvas->IntersectClipRect(local);
        const TvgRect b0 = path.GetBounds();
        const float bw = vgRectWidth(b0), bh = vgRectHeight(b0);
        const int64_t nx = Round(GetWidth() / bw), ny = Round(GetHeight() / bh);
        for (int64_t i = 0; i <= nx; ++i) {
          for (int64_t j = 0; j <= ny; ++j) {
            TvgRect r = b0;
            vgOffsetRect(r, s.Left, s.Top);
            // Neighbouring tiles lie one stroke thickness apart.
            vgOffsetRect(r, (bw + 2 * s.Left) * static_cast<float>(i), (bh + 2 * s.Top) * static_cast<float>(j));
            draw(r);
          }
        }
        canvas->RestoreCanvas(state);
        break;
      }
    }
  }
  if (ShowsDesignFrame()) PaintDesignFrame();
}

bool TvgCustomPath::PointInObject(float x, float y) {
  if (ShowsDesignFrame()) return inherited::PointInObject(x, y);
  TvgCanvas* canvas = GetCanvas();
  if (canvas != nullptr) {
    TvgPathData* linked = data_->GetPath();
    if (linked != nullptr && linked->Count() >= 2)
      return canvas->PtInPath(AbsoluteToLocal(vgPoint(x, y)), GetShapeRect(), *linked);
    if (data_->Count() >= 2) return canvas->PtInPath(AbsoluteToLocal(vgPoint(x, y)), GetShapeRect(), *data_);
  }
  return inherited::PointInObject(x, y);
}

namespace {

// The path of `text` moved by (dx, dy).
void SetOffsetPath(TvgPathData& target, const char* text, float dx, float dy) {
  TvgPathData source;
  source.SetData(text);
  TvgPathData moved;
  const auto& points = source.Points();
  for (size_t i = 0; i < points.size(); ++i) {
    const TvgPoint p = vgPoint(points[i].Point.X + dx, points[i].Point.Y + dy);
    switch (points[i].Kind) {
      case vgPathPointMoveTo: moved.MoveTo(p); break;
      case vgPathPointLineTo: moved.LineTo(p); break;
      case vgPathPointClose: moved.ClosePath(); break;
      case vgPathPointCurveTo:
        if (i + 2 < points.size()) {
          const TvgPoint& c2 = points[i + 1].Point;
          const TvgPoint& e = points[i + 2].Point;
          moved.CurveTo(p, vgPoint(c2.X + dx, c2.Y + dy), vgPoint(e.X + dx, e.Y + dy));
          i += 2;
        }
        break;
    }
  }
  target.Assign(&moved);
}

}  // namespace

TvgScrollArrowLeft::TvgScrollArrowLeft(TComponent* owner) : TvgCustomPath(owner) {
  SetOffsetPath(*GetData(), "M 1,0 L 1,1 L 0,0.500 L 1,0 Z", 100, 100);
  SetWrapMode(vgPathFit);
}

TvgScrollArrowRight::TvgScrollArrowRight(TComponent* owner) : TvgCustomPath(owner) {
  SetOffsetPath(*GetData(), "M 0,0 L 0,1 L 1,0.500 Z", 100, 100);
  SetWrapMode(vgPathFit);
}
