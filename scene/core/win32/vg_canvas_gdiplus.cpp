// The GDI+ canvas: buffer, brushes and pens from the scene's brushes, shapes, paths, bitmaps and
// text through the GDI+ wrappers.
#include "vg_canvas_gdiplus.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <new>

#include "vg_canvas_p.h"

KBL_PUBLISHED(TvgCanvasGdiPlus) {}

using namespace vg_gdip;

namespace {

// GDI+ enumeration values used here.
constexpr int32_t kSmoothingHighQuality = 2;
constexpr int32_t kInterpolationHighQuality = 2;
constexpr int32_t kInterpolationNearest = 5;
constexpr int32_t kPixelOffsetHalf = 4;
constexpr int32_t kCompositingSourceOver = 0;
constexpr int32_t kHintAntiAlias = 4;
constexpr int32_t kHintClearTypeGridFit = 5;
constexpr int32_t kCombineReplace = 0;
constexpr int32_t kCombineIntersect = 1;
constexpr int32_t kCombineExclude = 4;
constexpr int32_t kMatrixPrepend = 0;
constexpr int32_t kWrapTile = 0;
constexpr int32_t kWrapTileFlipX = 1;
constexpr int32_t kWrapTileFlipXY = 3;
constexpr int32_t kWrapClamp = 4;
constexpr int32_t kUnitPixel = 2;
constexpr int32_t kUnitPoint = 3;
constexpr int32_t kFormatNoWrap = 0x1000;
constexpr int32_t kFormatNoClip = 0x4000;
constexpr int32_t kFormatMeasureTrailingSpaces = 0x800;
// 1 minus the Bezier constant of a quarter circle (0.5522847498).
constexpr float kRoundCornerFactor = 0.4477152502f;

GpRectF ToGp(const TvgRect& r) { return {r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top}; }
GpPointF ToGp(const TvgPoint& p) { return {p.X, p.Y}; }

bool HasFraction(float v) { return v != std::trunc(v); }

int32_t AlignToGdiPlus(TvgTextAlign align) {
  switch (align) {
    case vgTextAlignCenter: return 1;
    case vgTextAlignNear: return 0;
    case vgTextAlignFar: return 2;
  }
  return 0;
}

GpColorMatrix OpacityMatrix(float opacity) {
  GpColorMatrix m = {};
  for (int i = 0; i < 5; ++i) m.m[i][i] = 1;
  m.m[3][3] = opacity;
  return m;
}

// The GDI+ bitmaps kept in TvgBitmap::Handle are freed through this object, not through the
// canvas that made them: a bitmap may outlive that canvas.
// Keeps the bitmaps that hold a GDI+ handle, so that stopping GDI+ can let every handle go.
class TBitmapHandleKeeper : public TObject {
 public:
  void Track(TvgBitmap* bitmap) { held_.insert(bitmap); }
  void DestroyBitmapHandle(TObject* sender) {
    auto* bitmap = dynamic_cast<TvgBitmap*>(sender);
    if (!bitmap) return;
    held_.erase(bitmap);
    delete static_cast<TGPBitmap*>(bitmap->Handle);
    bitmap->Handle = nullptr;
  }
  void ReleaseAll() {
    const std::set<TvgBitmap*> held = std::move(held_);
    held_.clear();
    for (TvgBitmap* bitmap : held) {
      delete static_cast<TGPBitmap*>(bitmap->Handle);
      bitmap->Handle = nullptr;
      bitmap->NotifyDestroyPixels = TNotifyEvent();
    }
  }

 private:
  std::set<TvgBitmap*> held_;
};
TBitmapHandleKeeper g_handleKeeper;

TGPBitmap* HandleOf(TvgBitmap& bitmap) { return static_cast<TGPBitmap*>(bitmap.Handle); }

// Raw bounds of the drawn points (close points hold no position of their own): zero width or
// height is kept, unlike TvgPathData::GetBounds, so that a flat path is recognised.
TvgRect RawBounds(const TvgPathData& path) {
  TvgRect b = {3.4e38f, 3.4e38f, -3.4e38f, -3.4e38f};
  bool any = false;
  for (const TvgPathPoint& p : path.Points()) {
    if (p.Kind == vgPathPointClose) continue;
    any = true;
    b.Left = std::min(b.Left, p.Point.X);
    b.Top = std::min(b.Top, p.Point.Y);
    b.Right = std::max(b.Right, p.Point.X);
    b.Bottom = std::max(b.Bottom, p.Point.Y);
  }
  return any ? b : TvgRect();
}

// Each path point fitted from the path's bounds B into R.
struct Fitter {
  TvgRect b, r;
  TvgPoint operator()(const TvgPoint& p) const {
    return {(p.X - b.Left) / vgRectWidth(b) * vgRectWidth(r) + r.Left,
            (p.Y - b.Top) / vgRectHeight(b) * vgRectHeight(r) + r.Top};
  }
};

// Builds the GDI+ figure of a scene path fitted into R.
void BuildGPPath(TGPGraphicsPath& gp, const TvgPathData& path, const Fitter& fit) {
  const auto& pts = path.Points();
  TvgPoint current;
  for (size_t i = 0; i < pts.size(); ++i) {
    const TvgPathPoint& p = pts[i];
    switch (p.Kind) {
      case vgPathPointMoveTo:
        gp.StartFigure();
        current = fit(p.Point);
        break;
      case vgPathPointLineTo: {
        const TvgPoint to = fit(p.Point);
        gp.AddLine(current.X, current.Y, to.X, to.Y);
        current = to;
        break;
      }
      case vgPathPointCurveTo: {
        if (i + 2 >= pts.size()) return;  // a curve needs its three points
        const TvgPoint c1 = fit(pts[i].Point), c2 = fit(pts[i + 1].Point), end = fit(pts[i + 2].Point);
        gp.AddBezier(ToGp(current), ToGp(c1), ToGp(c2), ToGp(end));
        current = end;
        i += 2;
        break;
      }
      case vgPathPointClose:
        gp.CloseFigure();
        break;
    }
  }
}

// The rounded, bevelled or inner-cornered outline of a rect as one closed GDI+ figure.
void BuildCornerPath(TGPGraphicsPath& gp, const TvgRect& r, float xRadius, float yRadius, TvgCorners corners,
                     TvgCornerType type) {
  const TvgCornerRadii k = vgClampCornerRadii(r, xRadius, yRadius, kRoundCornerFactor);
  const TvgCorner order[] = {vgCornerTopLeft, vgCornerTopRight, vgCornerBottomRight, vgCornerBottomLeft};
  std::vector<TvgOutlineSegment> segments;
  for (TvgCorner corner : order) {
    segments.clear();
    vgCornerSegments(segments, r, k, corner, corners.Contains(corner), type, true, true);
    TvgPoint current = vgCornerStart(r, k, corner);
    for (const TvgOutlineSegment& s : segments) {
      if (s.kind == TvgOutlineSegment::Curve) {
        gp.AddBezier(ToGp(current), ToGp(s.p[0]), ToGp(s.p[1]), ToGp(s.p[2]));
        current = s.p[2];
      } else {
        gp.AddLine(current.X, current.Y, s.p[0].X, s.p[0].Y);
        current = s.p[0];
      }
    }
  }
  gp.CloseFigure();
}

// A brush that GDI+ could not make paints nothing.
TGPBrush* Checked(TGPBrush* brush) {
  if (brush && brush->Handle()) return brush;
  delete brush;
  return new TGPSolidBrush(0);
}

}  // namespace

int32_t vgFontStyleToGdiPlus(TvgFontStyle style) {
  switch (style) {
    case vgFontRegular: return 0;
    case vgFontBold: return 1;
    case vgFontItalic: return 2;
    case vgFontBoldItalic: return 3;
    case vgFontUnderline: return 4;
    case vgFontStrikeout: return 8;
  }
  return 0;
}

// --- Construction

TvgCanvasGdiPlus::TvgCanvasGdiPlus(int32_t width, int32_t height) : TvgCanvas(width, height) {
  buffered_ = true;
  ResizeBuffer(width, height);
  CreateTools();
}

TvgCanvasGdiPlus::TvgCanvasGdiPlus(TvgBitmap& bitmap) : TvgCanvas(bitmap) {
  UpdateBitmapHandle(bitmap);
  if (HandleOf(bitmap)) {
    graphics_ = new TGPGraphics(static_cast<TGPImage*>(HandleOf(bitmap)));
    ApplyGraphicsDefaults(true);
  }
  CreateTools();
}

void TvgCanvasGdiPlus::CreateTools() {
  pen_ = new TGPPen(0xFF000000u, 1);
  strokeBrush_ = new TGPSolidBrush(0xFF000000u);
  fillBrush_ = new TGPSolidBrush(0xFFFFFFFFu);
  // The font's family ("Tahoma" for a new font), with the fallbacks of any later change.
  FontChanged(font_);
}

void TvgCanvasGdiPlus::ApplyGraphicsDefaults(bool bitmapTarget) {
  if (!graphics_) return;
  graphics_->SetSmoothingMode(kSmoothingHighQuality);
  if (!bitmapTarget) graphics_->SetInterpolationMode(kInterpolationHighQuality);
  graphics_->SetPixelOffsetMode(kPixelOffsetHalf);
  if (!bitmapTarget) graphics_->SetCompositingMode(kCompositingSourceOver);
  graphics_->SetTextContrast(2);
}

TvgCanvasGdiPlus::~TvgCanvasGdiPlus() {
  FreeBuffer();
  delete pen_;
  delete strokeBrush_;
  delete fillBrush_;
  delete fontFamily_;
  delete privateFonts_;
}

uint32_t* TvgCanvasGdiPlus::GetBitmapScanline(TvgBitmap& bitmap, int32_t y) {
  if (y < 0 || y >= bitmap.GetHeight() || !bitmap.Bits()) return nullptr;
  return bitmap.Bits() + static_cast<size_t>(y) * static_cast<size_t>(bitmap.GetWidth());
}

// --- Buffer

void TvgCanvasGdiPlus::FreeBuffer() {
  delete graphics_;
  graphics_ = nullptr;
  if (buffered_ && dib_) {
    HDC dc = static_cast<HDC>(bufferDC_);
    if (oldBitmap_) SelectObject(dc, static_cast<HGDIOBJ>(oldBitmap_));
    DeleteDC(dc);
    DeleteObject(static_cast<HGDIOBJ>(dib_));
    dib_ = nullptr;
    oldBitmap_ = nullptr;
    bufferDC_ = nullptr;
    bufferBits_ = nullptr;
  }
}

void TvgCanvasGdiPlus::ResizeBuffer(int32_t width, int32_t height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  // Sizes below 1 are stored as 1, so compare what would be stored: a 0 x 0 canvas resized to
  // 0 x 0 keeps its 1 x 1 buffer instead of never getting one.
  if (width == width_ && height == height_ && graphics_) return;
  FreeBuffer();
  width_ = width;
  height_ = height;
  resized_ = true;
  if (!buffered_) {
    if (bitmap_) {
      UpdateBitmapHandle(*bitmap_);
      if (HandleOf(*bitmap_)) graphics_ = new TGPGraphics(static_cast<TGPImage*>(HandleOf(*bitmap_)));
      ApplyGraphicsDefaults(true);
    }
    return;
  }
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width_;
  info.bmiHeader.biHeight = -height_;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!dib || !bits) {
    if (dib) DeleteObject(dib);
    throw Exception("Can't allocate the DIB handle");
  }
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) {
    DeleteObject(dib);
    throw Exception("Can't create compatible DC");
  }
  HGDIOBJ old = SelectObject(dc, dib);
  if (!old || old == HGDI_ERROR) {
    DeleteDC(dc);
    DeleteObject(dib);
    throw Exception("Can't select an object into DC");
  }
  dib_ = dib;
  oldBitmap_ = old;
  bufferDC_ = dc;
  bufferBits_ = static_cast<uint32_t*>(bits);
  graphics_ = new TGPGraphics(static_cast<void*>(dc));
  if (!graphics_->Handle()) {
    delete graphics_;
    graphics_ = nullptr;
  }
  if (graphics_) {
    graphics_->SetSmoothingMode(kSmoothingHighQuality);
    graphics_->SetInterpolationMode(kInterpolationHighQuality);
    graphics_->SetPixelOffsetMode(kPixelOffsetHalf);
    graphics_->SetCompositingMode(kCompositingSourceOver);
    graphics_->SetTextContrast(2);
  }
}

void TvgCanvasGdiPlus::FlushBuffer(int32_t x, int32_t y, TvgDC dc) {
  if (!dib_ || !dc) return;
  BitBlt(static_cast<HDC>(dc), x, y, width_, height_, static_cast<HDC>(bufferDC_), 0, 0, SRCCOPY);
}

void TvgCanvasGdiPlus::FlushBufferRect(int32_t x, int32_t y, TvgDC dc, const TvgRect& r) {
  if (!dib_ || !dc) return;
  const int32_t left = static_cast<int32_t>(Trunc(r.Left)), top = static_cast<int32_t>(Trunc(r.Top));
  const int32_t right = static_cast<int32_t>(Trunc(r.Right)) + 1, bottom = static_cast<int32_t>(Trunc(r.Bottom)) + 1;
  BitBlt(static_cast<HDC>(dc), x + left, y + top, right - left, bottom - top, static_cast<HDC>(bufferDC_), left, top,
         SRCCOPY);
}

// Window canvases clear their buffer; bitmap canvases clear the bitmap's pixels (colours as given,
// premultiplied already), so that clearing works on either kind.
void TvgCanvasGdiPlus::Clear(TvgColor color) {
  uint32_t* bits = buffered_ ? bufferBits_ : (bitmap_ ? bitmap_->Bits() : nullptr);
  if (!bits) return;
  const int32_t w = buffered_ ? width_ : bitmap_->GetWidth(), h = buffered_ ? height_ : bitmap_->GetHeight();
  std::fill(bits, bits + static_cast<size_t>(w) * static_cast<size_t>(h), color);
  if (bitmap_ && !buffered_) bitmap_->NeedUpdate = true;
}

void TvgCanvasGdiPlus::ClearRect(const TvgRect& r, TvgColor color) {
  uint32_t* bits = buffered_ ? bufferBits_ : (bitmap_ ? bitmap_->Bits() : nullptr);
  if (!bits) return;
  const int32_t w = buffered_ ? width_ : bitmap_->GetWidth(), h = buffered_ ? height_ : bitmap_->GetHeight();
  auto clampInt = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
  int32_t left = std::max(clampInt(Trunc(r.Left)), 0);
  int32_t top = std::max(clampInt(Trunc(r.Top)), 0);
  int32_t right = std::min(clampInt(Round(r.Right)), w);
  int32_t bottom = std::min(clampInt(Round(r.Bottom)), h);
  bottom = std::max(bottom, top);
  right = std::max(right, left);
  if (right < 0 || top < 0 || left > w || top > h) return;
  for (int32_t y = top; y < bottom; ++y) {
    uint32_t* row = bits + static_cast<size_t>(y) * static_cast<size_t>(w);
    std::fill(row + left, row + right, color);
  }
}

// --- Matrix and saved states

void TvgCanvasGdiPlus::SetMatrix(const TvgMatrix& m) {
  matrix_ = m;
  if (!graphics_) return;
  TGPMatrix gm(m.m11, m.m12, m.m21, m.m22, m.m31, m.m32);
  gm.Shear(m.m13, m.m23, kMatrixPrepend);
  graphics_->SetTransform(&gm);
}

void TvgCanvasGdiPlus::MultiplyMatrix(const TvgMatrix& m) {
  if (!graphics_) return;
  TGPMatrix gm(m.m11, m.m12, m.m21, m.m22, m.m31, m.m32);
  gm.Shear(m.m13, m.m23, kMatrixPrepend);
  graphics_->MultiplyTransform(&gm, kMatrixPrepend);
}

int32_t TvgCanvasGdiPlus::SaveCanvas() {
  if (!graphics_) return -1;
  size_t index = 0;
  while (index < saveData_.size() && saveData_[index].StateIndex != -1) ++index;
  if (index == saveData_.size()) saveData_.emplace_back();
  TvgSaveData& d = saveData_[index];
  d.StateIndex = static_cast<int32_t>(graphics_->Save());
  d.Matrix = matrix_;
  d.Fill = new TvgBrush(vgBrushSolid, 0xFFFFFFFFu);
  d.Fill->Assign(fill_);
  d.Stroke = new TvgBrush(vgBrushSolid, 0xFF000000u);
  d.Stroke->Assign(stroke_);
  d.StrokeThickness = strokeThickness_;
  d.StrokeCap = strokeCap_;
  d.StrokeJoin = strokeJoin_;
  d.StrokeDash = strokeDash_;
  if (strokeDash_ != vgDashSolid) d.DashArray = dashArray_;
  d.DashOffset = dashOffset_;
  d.Font = new TvgFont();
  d.Font->Assign(font_);
  return static_cast<int32_t>(index);
}

void TvgCanvasGdiPlus::RestoreCanvas(int32_t index) {
  if (!graphics_ || index < 0 || index >= static_cast<int32_t>(saveData_.size())) return;
  TvgSaveData& d = saveData_[static_cast<size_t>(index)];
  if (d.StateIndex == -1) return;  // a free entry holds nothing to restore
  graphics_->Restore(static_cast<uint32_t>(d.StateIndex));
  d.StateIndex = -1;
  stroke_->Assign(d.Stroke);
  fill_->Assign(d.Fill);
  delete d.Stroke;
  delete d.Fill;
  d.Stroke = d.Fill = nullptr;
  SetMatrix(d.Matrix);
  strokeThickness_ = d.StrokeThickness;
  strokeCap_ = static_cast<TvgStrokeCap>(d.StrokeCap);
  strokeJoin_ = static_cast<TvgStrokeJoin>(d.StrokeJoin);
  strokeDash_ = static_cast<TvgStrokeDash>(d.StrokeDash);
  if (strokeDash_ != vgDashSolid) dashArray_ = d.DashArray;
  d.DashArray.clear();
  dashOffset_ = d.DashOffset;
  TvgFont* font = d.Font;
  d.Font = nullptr;
  font_->Assign(font);
  delete font;
}

// --- Clipping

void TvgCanvasGdiPlus::SetClipRects(const std::vector<TvgRect>& rects) {
  if (!graphics_) return;
  TGPRegion region;
  region.MakeEmpty();
  for (const TvgRect& r : rects) region.Union(ToGp(r));
  graphics_->SetClip(&region, kCombineReplace);
}

void TvgCanvasGdiPlus::IntersectClipRect(const TvgRect& r) {
  if (graphics_) graphics_->SetClip(ToGp(r), kCombineIntersect);
}

void TvgCanvasGdiPlus::ExcludeClipRect(const TvgRect& r) {
  if (graphics_) graphics_->SetClip(ToGp(r), kCombineExclude);
}

void TvgCanvasGdiPlus::ResetClipRect() {
  if (graphics_) graphics_->ResetClip();
}

// --- Brushes and pens

void TvgCanvasGdiPlus::CreateFillBrush(const TvgRect& r, float opacity) {
  delete fillBrush_;
  fillBrush_ = nullptr;
  if (fill_->GetStyle() == vgBrushResource) {
    if (TvgBrush* resource = fill_->GetResource()->GetBrush(); resource && resource != fill_) fill_->Assign(resource);
  }
  TGPBrush* brush = nullptr;
  const TvgBrushStyle style = fill_->GetStyle();
  TvgGradient* gradient = fill_->GetGradient();
  if (style == vgBrushSolid || (style == vgBrushGradient && gradient->GetPoints()->Count() < 2)) {
    brush = new TGPSolidBrush(vgOpacityColor(fill_->GetSolidColor(), opacity));
  } else if (style == vgBrushGradient) {
    // One entry per point plus the two ends, all faded, or a faded gradient would end at full
    // strength.
    std::vector<ARGB> colors;
    std::vector<float> positions;
    vgGradientStops(*gradient, opacity, true, colors, positions);
    if (gradient->IsRadial()) {
      TGPGraphicsPath path(0);
      path.AddEllipse(r.Left, r.Top, vgRectWidth(r), vgRectHeight(r));
      auto* radial = new TGPPathGradientBrush(&path);
      const TvgMatrix& m = gradient->GetRadialTransform()->Matrix();
      TGPMatrix gm(m.m11, m.m12, m.m21, m.m22, m.m31, m.m32);
      radial->SetTransform(&gm);
      radial->SetWrapMode(kWrapTileFlipXY);
      radial->SetInterpolationColors(colors.data(), positions.data(), static_cast<int32_t>(colors.size()));
      brush = radial;
    } else {
      const TvgPoint start = gradient->GetStartPosition()->GetPoint();
      const TvgPoint stop = gradient->GetStopPosition()->GetPoint();
      // R's right and bottom stand for its size here: ellipses hand their rect over as left, top,
      // width, height, and rects end their gradients that far beyond their right edge.
      const GpPointF p1 = {r.Left + start.X * r.Right, r.Top + start.Y * r.Bottom};
      const GpPointF p2 = {r.Left + stop.X * r.Right, r.Top + stop.Y * r.Bottom};
      const ARGB solid = fill_->GetSolidColor();
      auto* linear = new TGPLinearGradientBrush(p1, p2, solid, solid, kWrapTile);
      linear->SetWrapMode(kWrapTileFlipX);
      linear->SetInterpolationColors(colors.data(), positions.data(), static_cast<int32_t>(colors.size()));
      brush = linear;
    }
  } else if (style == vgBrushBitmap) {
    TvgBitmap* own = fill_->GetBitmap()->GetBitmap();
    TvgBitmap* bitmap = own ? (own->GetBitmap() ? own->GetBitmap() : own) : nullptr;
    if (bitmap && bitmap->GetWidth() >= 1 && bitmap->GetHeight() >= 1) {
      UpdateBitmapHandle(*bitmap);
      if (TGPBitmap* image = HandleOf(*bitmap)) {
        std::unique_ptr<TGPImageAttributes> attributes;
        if (opacity != 1) {
          attributes = std::make_unique<TGPImageAttributes>();
          attributes->SetColorMatrix(OpacityMatrix(opacity), 0, 1);
        }
        const float bw = float(bitmap->GetWidth()), bh = float(bitmap->GetHeight());
        auto* texture = new TGPTextureBrush(image, GpRectF{0, 0, bw, bh}, attributes.get());
        if (fill_->GetBitmap()->GetWrapMode() == vgWrapTileStretch) {
          texture->SetWrapMode(kWrapClamp);
          texture->ScaleTransform((vgRectWidth(r) + strokeThickness_ / 2) / bw,
                                  (vgRectHeight(r) + strokeThickness_ / 2) / bh, kMatrixPrepend);
        } else {
          texture->SetWrapMode(static_cast<int32_t>(fill_->GetBitmap()->GetWrapMode()));
        }
        brush = texture;
      }
    }
  }
  fillBrush_ = Checked(brush);
}

void TvgCanvasGdiPlus::CreateStrokePen(const TvgRect& r, float opacity) {
  delete pen_;
  pen_ = nullptr;
  delete strokeBrush_;
  strokeBrush_ = nullptr;
  if (stroke_->GetStyle() == vgBrushResource) {
    if (TvgBrush* resource = stroke_->GetResource()->GetBrush(); resource && resource != stroke_)
      stroke_->Assign(resource);
  }
  TGPBrush* brush = nullptr;
  const TvgBrushStyle style = stroke_->GetStyle();
  TvgGradient* gradient = stroke_->GetGradient();
  if (style == vgBrushSolid || (style == vgBrushGradient && gradient->GetPoints()->Count() < 2)) {
    brush = new TGPSolidBrush(vgOpacityColor(stroke_->GetSolidColor(), opacity));
  } else if (style == vgBrushGradient) {
    std::vector<ARGB> colors;
    std::vector<float> positions;
    vgGradientStops(*gradient, opacity, false, colors, positions);
    const int32_t count = static_cast<int32_t>(colors.size());
    const TvgPoint start = gradient->GetStartPosition()->GetPoint();
    const TvgPoint stop = gradient->GetStopPosition()->GetPoint();
    const GpPointF p1 = {r.Left + start.X * r.Right, r.Top + start.Y * r.Bottom};
    const GpPointF p2 = {r.Left + stop.X * r.Right, r.Top + stop.Y * r.Bottom};
    const ARGB solid = stroke_->GetSolidColor();
    auto* linear = new TGPLinearGradientBrush(p1, p2, solid, solid, kWrapTile);
    linear->SetInterpolationColors(colors.data(), positions.data(), count);
    if (std::fabs(start.X - stop.X) >= std::fabs(start.Y - stop.Y))
      linear->ScaleTransform(vgRectWidth(r), vgRectHeight(r), kMatrixPrepend);
    else
      linear->ScaleTransform(vgRectHeight(r), vgRectWidth(r), kMatrixPrepend);
    brush = linear;
  } else if (style == vgBrushBitmap) {
    TvgBitmap* bitmap = stroke_->GetBitmap()->GetBitmap();
    if (bitmap && !bitmap->IsEmpty()) {
      UpdateBitmapHandle(*bitmap);
      if (TGPBitmap* image = HandleOf(*bitmap)) {
        if (stroke_->GetBitmap()->GetWrapMode() == vgWrapTileStretch) {
          auto* texture = new TGPTextureBrush(image, kWrapClamp);
          texture->ScaleTransform(vgRectWidth(r) / float(bitmap->GetWidth()),
                                  vgRectHeight(r) / float(bitmap->GetHeight()), kMatrixPrepend);
          brush = texture;
        } else {
          brush = new TGPTextureBrush(image, static_cast<int32_t>(stroke_->GetBitmap()->GetWrapMode()));
        }
      }
    }
  }
  strokeBrush_ = Checked(brush);
  pen_ = new TGPPen(strokeBrush_, 1);
  if (strokeCap_ == vgCapRound)
    pen_->SetLineCap(2, 2, 2);
  else
    pen_->SetLineCap(0, 0, 0);
  if (!dashArray_.empty()) {
    pen_->SetDashOffset(dashOffset_);
    pen_->SetDashPattern(dashArray_.data(), static_cast<int32_t>(dashArray_.size()));
  } else {
    pen_->SetDashStyle(0);
  }
  switch (strokeJoin_) {
    case vgJoinMiter: pen_->SetLineJoin(0); break;
    case vgJoinRound: pen_->SetLineJoin(2); break;
    case vgJoinBevel: pen_->SetLineJoin(1); break;
  }
  pen_->SetWidth(strokeThickness_);
}

// --- Filling

void TvgCanvasGdiPlus::PaintVisual(const TvgRect& r, float opacity) {
  TComponent* visual = fill_->GetVisual()->GetVisualObject();
  TvgPaintVisualHook hook = vgPaintVisualHook();
  if (!visual || !hook) return;
  TvgBrush savedStroke(vgBrushSolid, 0xFF000000u);
  savedStroke.Assign(stroke_);
  const float savedThickness = strokeThickness_;
  try {
    hook(visual, *this, r, opacity);
  } catch (...) {
    stroke_->Assign(&savedStroke);
    strokeThickness_ = savedThickness;
    throw;
  }
  stroke_->Assign(&savedStroke);
  strokeThickness_ = savedThickness;
}

void TvgCanvasGdiPlus::FillRectangle(const TvgRect& r, float opacity) {
  if (!graphics_ || fill_->GetStyle() == vgBrushNone) return;
  if (fill_->GetStyle() == vgBrushVisual) {
    const int32_t state = SaveCanvas();
    graphics_->SetClip(ToGp(r), kCombineIntersect);
    PaintVisual(r, opacity);
    RestoreCanvas(state);
    return;
  }
  CreateFillBrush(r, opacity);
  // The brush is laid out on the whole rect, but only the part inside the clip is filled: some
  // GDI+ implementations fill a tiled bitmap over the whole rect before clipping, which makes
  // every small repaint of a large background cost as much as a full one. The part keeps a
  // margin of two device pixels so that its edges never fall inside the clip.
  TvgRect part = r;
  const TvgMatrix& m = GetMatrix();
  GpRectF clip{};
  if (m.m12 == 0 && m.m21 == 0 && m.m11 != 0 && m.m22 != 0 && graphics_->GetClipBounds(clip) == Ok) {
    const float mx = 2 / std::fabs(m.m11), my = 2 / std::fabs(m.m22);
    TvgRect bounds = vgRect(clip.X - mx, clip.Y - my, clip.X + clip.Width + mx, clip.Y + clip.Height + my);
    if (!vgIntersectRect(part, r, bounds)) return;
  }
  const GpRectF g = ToGp(part);
  graphics_->FillRectangle(fillBrush_, g.X, g.Y, g.Width, g.Height);
}

void TvgCanvasGdiPlus::FillGPPath(TGPGraphicsPath* path, const TvgRect& r, float opacity) {
  if (!graphics_ || fill_->GetStyle() == vgBrushNone) return;
  if (fill_->GetStyle() == vgBrushVisual) {
    const int32_t state = SaveCanvas();
    TGPRegion region(path->Handle());
    graphics_->SetClip(&region, kCombineIntersect);
    PaintVisual(r, opacity);
    RestoreCanvas(state);
    return;
  }
  CreateFillBrush(r, opacity);
  graphics_->FillPath(fillBrush_, path);
}

// --- Shapes

void TvgCanvasGdiPlus::DrawLine(const TvgPoint& p1, const TvgPoint& p2, float opacity) {
  if (!graphics_ || stroke_->GetStyle() == vgBrushNone) return;
  CreateStrokePen(vgRect(p1.X, p1.Y, p2.X, p2.Y), opacity);
  graphics_->DrawLine(pen_, p1.X, p1.Y, p2.X, p2.Y);
}

void TvgCanvasGdiPlus::FillRect(const TvgRect& r, float xRadius, float yRadius, TvgCorners corners, float opacity,
                                TvgCornerType cornerType) {
  if (fill_->GetStyle() == vgBrushNone) return;
  if ((xRadius == 0 && yRadius == 0) || corners.Empty()) {
    FillRectangle(r, opacity);
    return;
  }
  TGPGraphicsPath path(0);
  BuildCornerPath(path, r, xRadius, yRadius, corners, cornerType);
  FillGPPath(&path, r, opacity);
}

void TvgCanvasGdiPlus::DrawRect(const TvgRect& r, float xRadius, float yRadius, TvgCorners corners, float opacity,
                                TvgCornerType cornerType) {
  if (!graphics_ || stroke_->GetStyle() == vgBrushNone) return;
  CreateStrokePen(r, opacity);
  if (xRadius < vgEpsilonMatrix && yRadius < vgEpsilonMatrix) {
    const GpRectF g = ToGp(r);
    graphics_->DrawRectangle(pen_, g.X, g.Y, g.Width, g.Height);
    return;
  }
  TGPGraphicsPath path(0);
  BuildCornerPath(path, r, xRadius, yRadius, corners, cornerType);
  graphics_->DrawPath(pen_, &path);
}

void TvgCanvasGdiPlus::FillEllipse(const TvgRect& r, float opacity) {
  if (fill_->GetStyle() == vgBrushNone) return;
  const GpRectF g = ToGp(r);
  TGPGraphicsPath path(0);
  path.AddEllipse(g.X, g.Y, g.Width, g.Height);
  FillGPPath(&path, vgRect(g.X, g.Y, g.Width, g.Height), opacity);
}

void TvgCanvasGdiPlus::DrawEllipse(const TvgRect& r, float opacity) {
  if (!graphics_ || stroke_->GetStyle() == vgBrushNone) return;
  CreateStrokePen(r, opacity);
  const GpRectF g = ToGp(r);
  graphics_->DrawEllipse(pen_, g.X, g.Y, g.Width, g.Height);
}

// --- Paths

bool TvgCanvasGdiPlus::PtInPath(const TvgPoint& p, const TvgRect& r, const TvgPathData& path) {
  if (path.IsEmpty()) return false;
  const TvgRect b = RawBounds(path);
  if (vgRectWidth(b) * vgRectHeight(b) == 0) return false;
  TGPGraphicsPath gp(0);
  BuildGPPath(gp, path, Fitter{b, r});
  return gp.IsVisible(p.X, p.Y);
}

void TvgCanvasGdiPlus::FillPath(const TvgPathData& path, const TvgRect& r, float opacity) {
  if (path.IsEmpty()) return;
  const TvgRect b = RawBounds(path);
  if (vgRectWidth(b) * vgRectHeight(b) == 0) return;
  TGPGraphicsPath gp(0);
  BuildGPPath(gp, path, Fitter{b, r});
  FillGPPath(&gp, r, opacity);
}

void TvgCanvasGdiPlus::DrawPath(const TvgPathData& path, const TvgRect& r, float opacity) {
  if (!graphics_ || path.IsEmpty() || stroke_->GetStyle() == vgBrushNone) return;
  const TvgRect b = RawBounds(path);
  if (vgRectWidth(b) * vgRectHeight(b) == 0) return;
  const Fitter fit{b, r};
  CreateStrokePen(b, opacity);
  const auto& pts = path.Points();
  TvgPoint current, figureStart;
  for (size_t i = 0; i < pts.size(); ++i) {
    const TvgPathPoint& p = pts[i];
    switch (p.Kind) {
      case vgPathPointMoveTo:
        current = figureStart = fit(p.Point);
        break;
      case vgPathPointLineTo: {
        const TvgPoint to = fit(p.Point);
        graphics_->DrawLine(pen_, current.X, current.Y, to.X, to.Y);
        current = to;
        break;
      }
      case vgPathPointCurveTo: {
        if (i + 2 >= pts.size()) return;
        const TvgPoint c1 = fit(pts[i].Point), c2 = fit(pts[i + 1].Point), end = fit(pts[i + 2].Point);
        graphics_->DrawBezier(pen_, ToGp(current), ToGp(c1), ToGp(c2), ToGp(end));
        current = end;
        i += 2;
        break;
      }
      case vgPathPointClose:
        graphics_->DrawLine(pen_, current.X, current.Y, figureStart.X, figureStart.Y);
        current = figureStart;
        break;
    }
  }
}

// --- Bitmaps

void TvgCanvasGdiPlus::UpdateBitmapHandle(TvgBitmap& bitmap) {
  if (bitmap.IsEmpty()) return;
  TGPBitmap* existing = HandleOf(bitmap);
  if (existing && (existing->GetWidth() != uint32_t(bitmap.GetWidth()) ||
                   existing->GetHeight() != uint32_t(bitmap.GetHeight()))) {
    delete existing;
    bitmap.Handle = existing = nullptr;
  }
  if (!existing) {
    try {
      auto* created = new TGPBitmap(bitmap.GetWidth(), bitmap.GetHeight(), 4 * bitmap.GetWidth(),
                                    PixelFormat32bppPARGB, bitmap.Bits());
      if (created->Handle()) {
        bitmap.Handle = created;
      } else {
        delete created;
      }
    } catch (const std::bad_alloc&) {
      // GDI+ is not there: the bitmap simply is not drawn.
    }
  }
  bitmap.NeedUpdate = false;
  bitmap.NotifyDestroyPixels = TNotifyEvent::Of<&TBitmapHandleKeeper::DestroyBitmapHandle>(&g_handleKeeper);
  if (bitmap.Handle) g_handleKeeper.Track(&bitmap);
}

void TvgCanvasGdiPlus::DestroyBitmapHandle(TObject* sender) { g_handleKeeper.DestroyBitmapHandle(sender); }

void vgReleaseBitmapHandles() { g_handleKeeper.ReleaseAll(); }

void TvgCanvasGdiPlus::DrawBitmap(TvgBitmap& bitmap, const TvgRect& src, const TvgRect& dst, float opacity,
                                  bool highSpeed) {
  if (!graphics_) return;
  graphics_->SetInterpolationMode(highSpeed ? kInterpolationNearest : kInterpolationHighQuality);
  if (opacity <= 0) return;
  UpdateBitmapHandle(bitmap);
  TGPBitmap* image = HandleOf(bitmap);
  if (!image) return;
  // A copy at its own size onto whole pixels draws only the part inside the clip (with a margin
  // of two pixels), for the same reason as rectangle fills: some GDI+ implementations process
  // the whole image before clipping.
  const TvgMatrix& m = GetMatrix();
  const bool unscaled = m.m11 == 1 && m.m12 == 0 && m.m21 == 0 && m.m22 == 1 && m.m31 == std::floor(m.m31) &&
                        m.m32 == std::floor(m.m32) && vgRectWidth(src) == vgRectWidth(dst) &&
                        vgRectHeight(src) == vgRectHeight(dst) && dst.Left == std::floor(dst.Left) &&
                        dst.Top == std::floor(dst.Top) && src.Left == std::floor(src.Left) &&
                        src.Top == std::floor(src.Top);
  TvgRect source = src, target = dst;
  GpRectF clip{};
  if (unscaled && graphics_->GetClipBounds(clip) == Ok) {
    const TvgRect bounds = vgRect(std::floor(clip.X) - 2, std::floor(clip.Y) - 2, std::ceil(clip.X + clip.Width) + 2,
                                  std::ceil(clip.Y + clip.Height) + 2);
    if (!vgIntersectRect(target, dst, bounds)) return;
    source = vgRect(src.Left + target.Left - dst.Left, src.Top + target.Top - dst.Top,
                    src.Left + target.Right - dst.Left, src.Top + target.Bottom - dst.Top);
  }
  const GpRectF d = ToGp(target);
  if (opacity >= 1) {
    graphics_->DrawImage(image, d, source.Left, source.Top, vgRectWidth(source), vgRectHeight(source), kUnitPixel, nullptr);
    return;
  }
  TGPImageAttributes attributes;
  attributes.SetColorMatrix(OpacityMatrix(opacity), 0, 1);
  graphics_->DrawImage(image, d, source.Left, source.Top, vgRectWidth(source), vgRectHeight(source), kUnitPixel, &attributes);
}

void TvgCanvasGdiPlus::DrawThumbnail(TvgBitmap& bitmap, float width, float height) {
  if (!graphics_) return;
  UpdateBitmapHandle(bitmap);
  TGPBitmap* image = HandleOf(bitmap);
  if (!image || !bitmap_) return;
  const float s = width / float(bitmap.GetWidth());
  graphics_->ScaleTransform(s, s, kMatrixPrepend);
  graphics_->DrawImage(image, 0, 0, bitmap.GetWidth(), bitmap.GetHeight());
}

// --- Fonts and text

void TvgCanvasGdiPlus::FontChanged(TObject*) {
  delete fontFamily_;
  fontFamily_ = nullptr;
  const std::u16string name = Utf8ToWide(font_->GetFamily());
  if (privateFonts_) {
    auto* family = new TGPFontFamily(name, privateFonts_);
    if (family->IsAvailable()) fontFamily_ = family;
    else delete family;
  }
  if (!fontFamily_) {
    auto* family = new TGPFontFamily(name, nullptr);
    if (family->IsAvailable()) fontFamily_ = family;
    else delete family;
  }
  if (!fontFamily_) {
    auto* family = TGPFontFamily::CloneGenericSansSerif();
    if (family->IsAvailable()) fontFamily_ = family;
    else delete family;
  }
  // Some systems' GDI+ knows neither the named family nor a generic one (only the fonts that
  // the system's font configuration lists): without a face every text would draw nothing.
  if (!fontFamily_) fontFamily_ = TGPFontFamily::CloneInstalledSansSerif();
  ApplyTextHint();
}

void TvgCanvasGdiPlus::ApplyTextHint() {
  if (graphics_) graphics_->SetTextRenderingHint(font_->GetClearType() ? kHintClearTypeGridFit : kHintAntiAlias);
}

std::unique_ptr<TGPFont> TvgCanvasGdiPlus::CreateTextFont() {
  int32_t style = vgFontStyleToGdiPlus(font_->GetStyle());
  if (fontFamily_ && !fontFamily_->IsStyleAvailable(style)) {
    const TvgFontStyle styles[] = {vgFontRegular, vgFontBold, vgFontItalic, vgFontBoldItalic, vgFontUnderline,
                                   vgFontStrikeout};
    for (TvgFontStyle s : styles) {
      if (fontFamily_->IsStyleAvailable(vgFontStyleToGdiPlus(s))) {
        style = vgFontStyleToGdiPlus(s);
        break;
      }
    }
  }
  return std::unique_ptr<TGPFont>(new TGPFont(fontFamily_, font_->GetSize() * 0.75f, style, kUnitPoint));
}

void TvgCanvasGdiPlus::LoadFontFromStream(TStream& stream) {
  if (!privateFonts_) privateFonts_ = new TGPPrivateFontCollection();
  // What is left of the stream from its position; GDI+ may refer to the memory later, so it is
  // kept as long as the collection.
  const int64_t size = stream.Remaining();
  if (size <= 0 || size > INT32_MAX) return;
  std::unique_ptr<uint8_t[]> block(new uint8_t[static_cast<size_t>(size)]);
  const int32_t read = stream.Read(block.get(), static_cast<int32_t>(size));
  if (read <= 0) return;
  privateFonts_->AddMemoryFont(block.get(), read);
  fontMemory_.push_back(std::move(block));
  FontChanged(font_);
}

void TvgCanvasGdiPlus::FillText(const TvgRect& r, const TvgRect&, const WideString& text, bool wordWrap,
                                float opacity, TvgTextAlign horz, TvgTextAlign vert) {
  if (!graphics_ || fill_->GetStyle() == vgBrushNone || text.empty()) return;
  TGPStringFormat format(kFormatNoClip | (wordWrap ? 0 : kFormatNoWrap));
  format.SetAlignment(AlignToGdiPlus(horz));
  format.SetLineAlignment(AlignToGdiPlus(vert));
  // Full opacity draws at 99 %: GDI+ then blends the glyphs' grey-scale coverage instead of
  // writing ClearType colour fringes into a transparent buffer.
  CreateFillBrush(r, opacity == 1 ? 0.99f : opacity);
  std::unique_ptr<TGPFont> font = CreateTextFont();
  if (!font->Handle()) return;
  const bool fractional = HasFraction(matrix_.m11) || HasFraction(matrix_.m22);
  if (fractional) graphics_->SetTextRenderingHint(kHintAntiAlias);
  graphics_->DrawString(text, font.get(), ToGp(r), &format, fillBrush_);
  if (fractional) ApplyTextHint();
}

void TvgCanvasGdiPlus::MeasureText(TvgRect& r, const TvgRect&, const WideString& text, bool wordWrap,
                                   TvgTextAlign horz, TvgTextAlign vert) {
  if (!wordWrap) r.Right = r.Left;
  if (text.empty()) return;
  TGPGraphics* graphics = graphics_;
  std::unique_ptr<TGPBitmap> scratchBitmap;
  std::unique_ptr<TGPGraphics> scratch;
  if (!graphics) {
    scratchBitmap.reset(new TGPBitmap(1, 1, 4, PixelFormat32bppARGB, nullptr));
    scratch.reset(new TGPGraphics(static_cast<TGPImage*>(scratchBitmap.get())));
    if (!scratch->Handle()) return;
    scratch->SetSmoothingMode(kSmoothingHighQuality);
    scratch->SetInterpolationMode(kInterpolationHighQuality);
    scratch->SetPixelOffsetMode(kPixelOffsetHalf);
    scratch->SetTextRenderingHint(font_->GetClearType() ? kHintClearTypeGridFit : kHintAntiAlias);
    graphics = scratch.get();
  }
  if (HasFraction(matrix_.m11) || HasFraction(matrix_.m22)) graphics->SetTextRenderingHint(kHintAntiAlias);
  TGPStringFormat format(kFormatNoClip | kFormatMeasureTrailingSpaces | (wordWrap ? 0 : kFormatNoWrap));
  format.SetAlignment(AlignToGdiPlus(horz));
  format.SetLineAlignment(AlignToGdiPlus(vert));
  const GpCharacterRange range = {0, static_cast<int32_t>(text.size())};
  format.SetMeasurableCharacterRanges(1, &range);
  std::unique_ptr<TGPFont> font = CreateTextFont();
  if (font->Handle()) {
    TGPRegion region;
    TGPRegion* regions[] = {&region};
    if (graphics->MeasureCharacterRanges(text, font.get(), ToGp(r), &format, 1, regions) == Ok) {
      GpRectF bounds = {};
      if (region.GetBounds(bounds, graphics->Handle()) == Ok)
        r = vgRect(bounds.X, bounds.Y, bounds.X + bounds.Width, bounds.Y + bounds.Height);
    }
  }
  if (graphics == graphics_) ApplyTextHint();
}

bool TvgCanvasGdiPlus::TextToPath(TvgPathData& path, const TvgRect& r, const WideString& text, bool wordWrap,
                                  TvgTextAlign horz, TvgTextAlign vert) {
  if (text.empty() || !fontFamily_) return false;
  const int32_t style = vgFontStyleToGdiPlus(font_->GetStyle());
  if (!fontFamily_->IsStyleAvailable(style)) return false;
  path.Clear();
  TGPGraphicsPath gp(0);
  TGPStringFormat format(wordWrap ? 0 : kFormatNoWrap | kFormatMeasureTrailingSpaces);
  format.SetAlignment(AlignToGdiPlus(horz));
  format.SetLineAlignment(AlignToGdiPlus(vert));
  gp.AddString(text, fontFamily_, style, font_->GetSize(), ToGp(r), &format);
  std::vector<GpPointF> points;
  std::vector<uint8_t> types;
  gp.GetPathData(points, types);
  for (size_t i = 0; i < points.size(); ++i) {
    const TvgPoint p = {points[i].X, points[i].Y};
    uint8_t type = types[i];
    switch (type & 0x07) {
      case 0:
        path.MoveTo(p);
        break;
      case 3:
        if (i + 2 < points.size()) {
          path.CurveTo(p, {points[i + 1].X, points[i + 1].Y}, {points[i + 2].X, points[i + 2].Y});
          i += 2;
          type = types[i];
        }
        break;
      default:
        path.LineTo(p);
        break;
    }
    if (type & 0x80) path.ClosePath();
  }
  return true;
}
