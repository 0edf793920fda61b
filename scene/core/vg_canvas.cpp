// The abstract canvas: state, the helpers built on its drawing operations, and the default
// canvas class.
#include "vg_canvas.h"

#include <algorithm>
#include <cstring>

#include "vg_canvas_p.h"

KBL_PUBLISHED(TvgCanvas) {}

namespace {

const TvgCanvasClass*& DefaultCanvasClass() {
  static const TvgCanvasClass* cls = nullptr;
  return cls;
}

TvgCanvas* CreateBitmapCanvasHook(TvgBitmap& bitmap) {
  const TvgCanvasClass* cls = DefaultCanvasClass();
  return cls && cls->CreateFromBitmap ? cls->CreateFromBitmap(bitmap) : nullptr;
}

void FreeCanvasHook(TvgCanvas* canvas) { delete canvas; }

bool IsCloseMarker(const TvgPoint& p) { return p.X == vgClosePolygonValue && p.Y == vgClosePolygonValue; }

// Polygon points as path data: a move opens each figure, the marker closes it. With
// `closeLast`, the last point closes the last figure instead of adding a line.
void PolygonToPath(const TvgPolygon& points, TvgPathData& path, bool closeLast) {
  bool startFigure = true;
  for (size_t i = 0; i < points.size(); ++i) {
    const TvgPoint& p = points[i];
    if (IsCloseMarker(p) || (closeLast && i + 1 == points.size())) {
      path.ClosePath();
      startFigure = true;
    } else if (startFigure) {
      path.MoveTo(p);
      startFigure = false;
    } else {
      path.LineTo(p);
    }
  }
}

void AppendSegments(TvgPathData& path, const std::vector<TvgOutlineSegment>& segments) {
  for (const TvgOutlineSegment& s : segments) {
    switch (s.kind) {
      case TvgOutlineSegment::Move: path.MoveTo(s.p[0]); break;
      case TvgOutlineSegment::Line: path.LineTo(s.p[0]); break;
      case TvgOutlineSegment::Curve: path.CurveTo(s.p[0], s.p[1], s.p[2]); break;
    }
  }
}

}  // namespace

// --- Corner shapes

TvgCornerRadii vgClampCornerRadii(const TvgRect& r, float xRadius, float yRadius, float factor) {
  TvgCornerRadii c;
  c.x = xRadius;
  c.y = yRadius;
  if (vgRectWidth(r) - 2 * c.x < 0) c.x = vgRectWidth(r) / 2;
  if (vgRectHeight(r) - 2 * c.y < 0) c.y = vgRectHeight(r) / 2;
  c.kx = factor * c.x;
  c.ky = factor * c.y;
  return c;
}

namespace {

// The corner's point, the unit directions from it along its incoming and outgoing sides, and the
// distances of the shape's ends from it on those sides.
struct CornerFrame {
  TvgPoint c;
  float inDx, inDy, outDx, outDy;
  float a, ka, b, kb;
};

CornerFrame FrameOf(const TvgRect& r, const TvgCornerRadii& k, TvgCorner corner) {
  switch (corner) {
    case vgCornerTopLeft: return {{r.Left, r.Top}, 0, 1, 1, 0, k.y, k.ky, k.x, k.kx};
    case vgCornerTopRight: return {{r.Right, r.Top}, -1, 0, 0, 1, k.x, k.kx, k.y, k.ky};
    case vgCornerBottomRight: return {{r.Right, r.Bottom}, 0, -1, -1, 0, k.y, k.ky, k.x, k.kx};
    case vgCornerBottomLeft: break;
  }
  return {{r.Left, r.Bottom}, 1, 0, 0, -1, k.x, k.kx, k.y, k.ky};
}

TvgPoint At(const TvgPoint& base, float dx, float dy, float d) { return {base.X + dx * d, base.Y + dy * d}; }

}  // namespace

void vgGradientStops(TvgGradient& gradient, float opacity, bool reachEnds, std::vector<TvgColor>& colors,
                     std::vector<float>& positions) {
  colors.clear();
  positions.clear();
  TvgGradientPoints* points = gradient.GetPoints();
  const int32_t count = points->Count();
  if (count < 2) return;
  colors.reserve(size_t(count) + 2);
  positions.reserve(size_t(count) + 2);
  const TvgGradientPoint* first = points->Point(0);
  const TvgGradientPoint* last = points->Point(count - 1);
  if (reachEnds && first->GetOffset() > 0) {
    colors.push_back(vgOpacityColor(first->GetIntColor(), opacity));
    positions.push_back(0);
  }
  for (int32_t i = 0; i < count; ++i) {
    colors.push_back(vgOpacityColor(points->Point(i)->GetIntColor(), opacity));
    positions.push_back(points->Point(i)->GetOffset());
  }
  if (reachEnds && last->GetOffset() < 1) {
    colors.push_back(vgOpacityColor(last->GetIntColor(), opacity));
    positions.push_back(1);
  }
}

TvgPoint vgCornerStart(const TvgRect& r, const TvgCornerRadii& radii, TvgCorner corner) {
  const CornerFrame f = FrameOf(r, radii, corner);
  return At(f.c, f.inDx, f.inDy, f.a);
}

void vgCornerSegments(std::vector<TvgOutlineSegment>& out, const TvgRect& r, const TvgCornerRadii& radii,
                      TvgCorner corner, bool inCorners, TvgCornerType type, bool inSide, bool outSide) {
  const CornerFrame f = FrameOf(r, radii, corner);
  const TvgPoint start = At(f.c, f.inDx, f.inDy, f.a);
  const TvgPoint end = At(f.c, f.outDx, f.outDy, f.b);
  using S = TvgOutlineSegment;
  if (!inCorners) {
    out.push_back({inSide ? S::Line : S::Move, {f.c}});
    out.push_back({outSide ? S::Line : S::Move, {end}});
    return;
  }
  switch (type) {
    case vgCornerRound:
      out.push_back({S::Curve, {At(f.c, f.inDx, f.inDy, f.ka), At(f.c, f.outDx, f.outDy, f.kb), end}});
      break;
    case vgCornerBevel:
      out.push_back({S::Line, {end}});
      break;
    case vgCornerInnerRound:
      out.push_back({S::Curve, {At(start, f.outDx, f.outDy, f.kb), At(end, f.inDx, f.inDy, f.ka), end}});
      break;
    case vgCornerInnerLine:
      out.push_back({S::Line, {At(start, f.outDx, f.outDy, f.kb)}});
      out.push_back({S::Line, {At(end, f.inDx, f.inDy, f.ka)}});
      out.push_back({S::Line, {end}});
      break;
  }
}

// --- Fill and stroke of a drawing object

TvgFillAndStroke::TvgFillAndStroke(float thickness, TNotifyEvent fillChanged, TNotifyEvent strokeChanged)
    : Fill(new TvgBrush(vgBrushSolid, 0xFFE0E0E0u)), Stroke(new TvgBrush(vgBrushSolid, 0xFF000000u)), Thickness(thickness) {
  Fill->OnChanged = fillChanged;
  Stroke->OnChanged = strokeChanged;
}

TvgFillAndStroke::~TvgFillAndStroke() {
  delete Stroke;
  delete Fill;
}

void TvgFillAndStroke::ApplyTo(TvgCanvas& canvas) const {
  canvas.SetFill(Fill);
  canvas.SetStroke(Stroke);
  canvas.SetStrokeThickness(Thickness);
  canvas.SetStrokeCap(Cap);
  canvas.SetStrokeJoin(Join);
  canvas.SetStrokeDash(Dash);
}

// --- Default canvas class

void vgSetDefaultCanvasClass(const TvgCanvasClass* cls) {
  DefaultCanvasClass() = cls;
  TvgBitmapCanvasHooks hooks;
  if (cls) {
    hooks.Create = &CreateBitmapCanvasHook;
    hooks.Free = &FreeCanvasHook;
  }
  vgSetBitmapCanvasHooks(hooks);
}

const TvgCanvasClass* vgDefaultCanvasClass() { return DefaultCanvasClass(); }

std::unique_ptr<TvgCanvas> vgCreateWindowCanvas(int32_t width, int32_t height) {
  const TvgCanvasClass* cls = DefaultCanvasClass();
  if (!cls || !cls->CreateFromWindow) return nullptr;
  return std::unique_ptr<TvgCanvas>(cls->CreateFromWindow(width, height));
}

std::unique_ptr<TvgCanvas> vgCreateBitmapCanvas(TvgBitmap& bitmap) {
  const TvgCanvasClass* cls = DefaultCanvasClass();
  if (!cls || !cls->CreateFromBitmap) return nullptr;
  return std::unique_ptr<TvgCanvas>(cls->CreateFromBitmap(bitmap));
}

uint32_t* vgGetBitmapScanline(TvgBitmap& bitmap, int32_t y) {
  const TvgCanvasClass* cls = DefaultCanvasClass();
  if (cls && cls->GetBitmapScanline) return cls->GetBitmapScanline(bitmap, y);
  return bitmap.Scanline(y);
}

// --- Visual brushes

namespace {
TvgPaintVisualHook g_paintVisual = nullptr;
}

void vgSetPaintVisualHook(TvgPaintVisualHook hook) { g_paintVisual = hook; }
TvgPaintVisualHook vgPaintVisualHook() { return g_paintVisual; }

// --- Construction

void TvgCanvas::CreateState() {
  fill_ = new TvgBrush(vgBrushSolid, 0xFFFFFFFFu);
  stroke_ = new TvgBrush(vgBrushSolid, 0xFF000000u);
  font_ = new TvgFont();
  font_->OnChanged = TNotifyEvent::Of<&TvgCanvas::FontChanged>(this);
}

TvgCanvas::TvgCanvas(int32_t width, int32_t height) { CreateState(); }

TvgCanvas::TvgCanvas(TvgBitmap& bitmap) {
  width_ = bitmap.GetWidth();
  height_ = bitmap.GetHeight();
  bitmap_ = &bitmap;
  CreateState();
}

TvgCanvas::~TvgCanvas() {
  // Derived canvases free their buffers in their own destructors: FreeBuffer is theirs.
  FreeSaveData();
  delete font_;
  delete stroke_;
  delete fill_;
}

void TvgCanvas::FreeSaveData() {
  for (TvgSaveData& d : saveData_) {
    if (d.StateIndex == -1) continue;
    delete d.Fill;
    delete d.Stroke;
    delete d.Font;
    d.Fill = d.Stroke = nullptr;
    d.Font = nullptr;
  }
  saveData_.clear();
}

void TvgCanvas::Abstract() const { throw EvgAbstractError("Abstract Error"); }

void TvgCanvas::AssignTo(TPersistent* dest) {
  auto* bitmap = dynamic_cast<TvgBitmap*>(dest);
  if (!bitmap) {
    TPersistent::AssignTo(dest);
    return;
  }
  bitmap->SetSize(width_, height_);
  if (!buffered_ || !bufferBits_) return;
  for (int32_t y = 0; y < height_; ++y) {
    uint32_t* row = bitmap->Scanline(y);
    if (row) std::memcpy(row, bufferBits_ + static_cast<size_t>(y) * static_cast<size_t>(width_), 4 * size_t(width_));
  }
  bitmap->NeedUpdate = true;
}

// --- Slots without a base behaviour

void TvgCanvas::FlushBuffer(int32_t, int32_t, TvgDC) { Abstract(); }
void TvgCanvas::FlushBufferRect(int32_t, int32_t, TvgDC, const TvgRect&) { Abstract(); }
void TvgCanvas::FreeBuffer() { Abstract(); }
void TvgCanvas::ResizeBuffer(int32_t, int32_t) { Abstract(); }
void TvgCanvas::Clear(TvgColor) { Abstract(); }
void TvgCanvas::ClearRect(const TvgRect&, TvgColor) { Abstract(); }
int32_t TvgCanvas::SaveCanvas() { Abstract(); }
void TvgCanvas::RestoreCanvas(int32_t) { Abstract(); }
void TvgCanvas::SetClipRects(const std::vector<TvgRect>&) { Abstract(); }
void TvgCanvas::IntersectClipRect(const TvgRect&) { Abstract(); }
void TvgCanvas::ExcludeClipRect(const TvgRect&) { Abstract(); }
void TvgCanvas::ResetClipRect() { Abstract(); }
void TvgCanvas::DrawLine(const TvgPoint&, const TvgPoint&, float) { Abstract(); }
void TvgCanvas::FillRect(const TvgRect&, float, float, TvgCorners, float, TvgCornerType) { Abstract(); }
void TvgCanvas::DrawRect(const TvgRect&, float, float, TvgCorners, float, TvgCornerType) { Abstract(); }
void TvgCanvas::FillEllipse(const TvgRect&, float) { Abstract(); }
void TvgCanvas::DrawEllipse(const TvgRect&, float) { Abstract(); }
bool TvgCanvas::PtInPath(const TvgPoint&, const TvgRect&, const TvgPathData&) { Abstract(); }
void TvgCanvas::FillPath(const TvgPathData&, const TvgRect&, float) { Abstract(); }
void TvgCanvas::DrawPath(const TvgPathData&, const TvgRect&, float) { Abstract(); }
void TvgCanvas::DrawBitmap(TvgBitmap&, const TvgRect&, const TvgRect&, float, bool) { Abstract(); }
void TvgCanvas::DrawThumbnail(TvgBitmap&, float, float) { Abstract(); }
void TvgCanvas::FillText(const TvgRect&, const TvgRect&, const WideString&, bool, float, TvgTextAlign,
                         TvgTextAlign) {
  Abstract();
}
void TvgCanvas::MeasureText(TvgRect&, const TvgRect&, const WideString&, bool, TvgTextAlign, TvgTextAlign) {
  Abstract();
}
bool TvgCanvas::TextToPath(TvgPathData&, const TvgRect&, const WideString&, bool, TvgTextAlign, TvgTextAlign) {
  Abstract();
}

// --- Polygons

void TvgCanvas::FillPolygon(const TvgPolygon& points, float opacity) {
  TvgPathData path;
  PolygonToPath(points, path, true);
  FillPath(path, path.GetBounds(), opacity);
}

void TvgCanvas::DrawPolygon(const TvgPolygon& points, float opacity) {
  TvgPathData path;
  PolygonToPath(points, path, false);
  DrawPath(path, path.GetBounds(), opacity);
}

// --- Stroke dash

void TvgCanvas::SetStrokeDash(TvgStrokeDash dash) {
  if (dash == strokeDash_) return;
  strokeDash_ = dash;
  if (dash == vgDashCustom) return;
  dashOffset_ = 0;
  switch (dash) {
    case vgDashSolid: dashArray_.clear(); break;
    case vgDashDash: dashArray_ = {3, 1}; break;
    case vgDashDot: dashArray_ = {1, 1}; break;
    case vgDashDashDot: dashArray_ = {3, 1, 1, 1}; break;
    case vgDashDashDotDot: dashArray_ = {3, 1, 1, 1, 1, 1}; break;
    case vgDashCustom: break;
  }
}

// --- Text measuring

float TvgCanvas::TextHeight(const WideString& text) {
  TvgRect r = vgRect(0, 0, 10000, 10000);
  MeasureText(r, r, text, false, vgTextAlignNear, vgTextAlignCenter);
  return vgRectHeight(r);
}

float TvgCanvas::TextWidth(const WideString& text) {
  TvgRect r = vgRect(0, 0, 10000, 20);
  MeasureText(r, r, text, false, vgTextAlignNear, vgTextAlignCenter);
  return vgRectWidth(r);
}

// --- Arcs

void TvgCanvas::FillArc(const TvgPoint& center, const TvgPoint& radius, float startAngle, float sweepAngle,
                        float opacity) {
  TvgPathData path;
  path.AddArc(center, radius, startAngle, sweepAngle);
  FillPath(path, path.GetBounds(), opacity);
}

void TvgCanvas::DrawArc(const TvgPoint& center, const TvgPoint& radius, float startAngle, float sweepAngle,
                        float opacity) {
  TvgPathData path;
  path.AddArc(center, radius, startAngle, sweepAngle);
  DrawPath(path, path.GetBounds(), opacity);
}

// --- Sides of a rect

void TvgCanvas::DrawRectSides(const TvgRect& r, float xRadius, float yRadius, TvgCorners corners, float opacity,
                              TvgSides sides, TvgCornerType cornerType) {
  // Half the radius as control offset: these outlines are drawn piece by piece, where the
  // full rects use the quarter-circle constant.
  const TvgCornerRadii k = vgClampCornerRadii(r, xRadius, yRadius, 0.5f);
  const bool top = sides.Contains(vgSideTop), left = sides.Contains(vgSideLeft);
  const bool bottom = sides.Contains(vgSideBottom), right = sides.Contains(vgSideRight);
  using S = TvgOutlineSegment;
  std::vector<TvgOutlineSegment> segments;
  vgCornerSegments(segments, r, k, vgCornerTopLeft, corners.Contains(vgCornerTopLeft), cornerType, left, top);
  segments.push_back({top ? S::Line : S::Move, {{r.Right - k.x, r.Top}}});
  vgCornerSegments(segments, r, k, vgCornerTopRight, corners.Contains(vgCornerTopRight), cornerType, top, right);
  segments.push_back({right ? S::Line : S::Move, {{r.Right, r.Bottom - k.y}}});
  vgCornerSegments(segments, r, k, vgCornerBottomRight, corners.Contains(vgCornerBottomRight), cornerType, right,
                   bottom);
  segments.push_back({bottom ? S::Line : S::Move, {{r.Left + k.x, r.Bottom}}});
  vgCornerSegments(segments, r, k, vgCornerBottomLeft, corners.Contains(vgCornerBottomLeft), cornerType, bottom,
                   left);
  if (left) segments.push_back({S::Line, {{r.Left, r.Top + k.y}}});

  TvgPathData path;
  path.MoveTo(vgCornerStart(r, k, vgCornerTopLeft));
  AppendSegments(path, segments);
  DrawPath(path, r, opacity);
}
