// The GDI+ canvas: buffer, brushes and pens from the scene's brushes, shapes, paths, bitmaps and
// text through the GDI+ wrappers.
#include "vg_canvas_gdiplus.h"

#include <atomic>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <set>

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

// Where the glyphs of a text laid out in R can show. Texts are drawn without clipping to R: a
// line runs on past R in the direction its alignment leaves open, and lines stack past R's top
// or bottom the same way; glyphs reach up to two font sizes beyond their line. Unbounded sides
// are infinite.
TvgRect TextReach(const TvgRect& r, const WideString& text, bool wordWrap, TvgTextAlign horz, TvgTextAlign vert,
                  float size) {
  constexpr float kFar = std::numeric_limits<float>::infinity();
  const float m = 2 * std::max(size, 0.0f) + 2;
  if (!(vgRectWidth(r) > 0 && vgRectHeight(r) > 0)) return vgRect(-kFar, -kFar, kFar, kFar);
  const bool oneLine = !wordWrap && text.find_first_of(u"\r\n\u2028\u2029\u0085\v\f") == WideString::npos;
  auto reach = [m](float lo, float hi, bool bounded, TvgTextAlign align, float& from, float& to) {
    from = lo - m;
    to = hi + m;
    if (bounded) return;
    if (align != vgTextAlignNear) from = -kFar;  // centred and far lines grow towards the start
    if (align != vgTextAlignFar) to = kFar;      // centred and near lines grow towards the end
  };
  TvgRect reachRect;
  reach(r.Left, r.Right, wordWrap, horz, reachRect.Left, reachRect.Right);
  reach(r.Top, r.Bottom, oneLine, vert, reachRect.Top, reachRect.Bottom);
  return reachRect;
}

// The rect spanned by two points.
TvgRect SpanOf(const TvgPoint& a, const TvgPoint& b) {
  return vgRect(std::min(a.X, b.X), std::min(a.Y, b.Y), std::max(a.X, b.X), std::max(a.Y, b.Y));
}

bool IsWhole(float v) { return v == std::floor(v); }

// Paths with more points than this are painted through GDI+ every time: their keys would cost
// more than they save.
constexpr size_t kCachedPathPoints = 256;

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

// True while this thread checks the whole-pixel paths against GDI+: only the check's own
// canvases draw on whole pixels before the answer is known, not another thread's.
thread_local bool g_checkingWholePixels = false;

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
  wholePixels_ = WholePixelPathsAgree();
}

TvgCanvasGdiPlus::TvgCanvasGdiPlus(TvgBitmap& bitmap) : TvgCanvas(bitmap) {
  UpdateBitmapHandle(bitmap);
  if (HandleOf(bitmap)) {
    graphics_ = new TGPGraphics(static_cast<TGPImage*>(HandleOf(bitmap)));
    ApplyGraphicsDefaults(true);
  }
  clip_.Reset(width_, height_);
  CreateTools();
}

void TvgCanvasGdiPlus::SetDrawsWholePixels(bool value) {
  SyncGraphics();
  // The check's own canvas draws on whole pixels before the answer is known.
  wholePixels_ = value && buffered_ && (g_checkingWholePixels || WholePixelPathsAgree());
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
  // The text hint lives in the drawing context: one made by a resize takes the font's too.
  ApplyTextHint();
}

TvgCanvasGdiPlus::~TvgCanvasGdiPlus() {
  // The copies of the saved states belong to savedStates_, not to the entries.
  for (TvgSaveData& d : saveData_) {
    d.Fill = d.Stroke = nullptr;
    d.Font = nullptr;
  }
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
  // A kept painting was cut at the edge of the canvas it was painted on, and its key names no
  // size: after a resize it would paint the cut version. Resizes are rare, so all are dropped.
  paintCache_.Clear();
  scratch_.reset();
  // A new drawing context starts without a clip and with the identity transform.
  clip_.Reset(width_, height_);
  transformKnown_ = matrix_ == IdentityMatrix;
  transformPending_ = clipPending_ = false;
  interpolation_ = kInterpolationHighQuality;
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
  ApplyGraphicsDefaults(false);
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
  transformKnown_ = true;
  if (!graphics_) return;
  if (wholePixels_) {
    transformPending_ = true;
    return;
  }
  ApplyTransform();
}

void TvgCanvasGdiPlus::ApplyTransform() {
  const TvgMatrix& m = matrix_;
  TGPMatrix gm(m.m11, m.m12, m.m21, m.m22, m.m31, m.m32);
  gm.Shear(m.m13, m.m23, kMatrixPrepend);
  graphics_->SetTransform(&gm);
  transformPending_ = false;
}

void TvgCanvasGdiPlus::SyncGraphics() {
  if (!graphics_ || (!transformPending_ && !clipPending_)) return;
  if (clipPending_) {
    // The tracked clip is whole device pixels: given under the identity transform.
    if (clip_.IsWholeSurface()) {
      graphics_->ResetClip();
    } else {
      TGPMatrix identity(1, 0, 0, 1, 0, 0);
      graphics_->SetTransform(&identity);
      TGPRegion region;
      region.MakeEmpty();
      for (const TvgPixelRect& r : clip_.Rects())
        region.Union(GpRectF{float(r.Left), float(r.Top), float(r.Right - r.Left), float(r.Bottom - r.Top)});
      graphics_->SetClip(&region, kCombineReplace);
      transformPending_ = true;
    }
    clipPending_ = false;
  }
  if (transformPending_) ApplyTransform();
}

void TvgCanvasGdiPlus::MultiplyMatrix(const TvgMatrix& m) {
  if (!graphics_) return;
  SyncGraphics();
  transformKnown_ = false;
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
  if (savedStates_.size() < saveData_.size()) savedStates_.resize(saveData_.size());
  TSavedState& extra = savedStates_[index];
  extra.Clip = clip_;
  extra.Interpolation = interpolation_;
  // While the clip is whole pixels the canvas can bring it back itself: GDI+ keeps no state.
  extra.Gdiplus = !(wholePixels_ && clip_.IsExact());
  if (extra.Gdiplus) {
    SyncGraphics();
    d.StateIndex = static_cast<int32_t>(graphics_->Save());
  } else {
    d.StateIndex = kCanvasKeptState;
  }
  d.Matrix = matrix_;
  // The copies stay with the entry when it is freed: a bitmap brush saved again into the same
  // copy finds its pixels there already (TvgBitmap::Assign skips pixels known to be the same).
  if (!extra.Fill) extra.Fill = std::make_unique<TvgBrush>(vgBrushSolid, 0xFFFFFFFFu);
  if (!extra.Stroke) extra.Stroke = std::make_unique<TvgBrush>(vgBrushSolid, 0xFF000000u);
  if (!extra.Font) extra.Font = std::make_unique<TvgFont>();
  d.Fill = extra.Fill.get();
  d.Fill->Assign(fill_);
  d.Stroke = extra.Stroke.get();
  d.Stroke->Assign(stroke_);
  d.StrokeThickness = strokeThickness_;
  d.StrokeCap = strokeCap_;
  d.StrokeJoin = strokeJoin_;
  d.StrokeDash = strokeDash_;
  if (strokeDash_ != vgDashSolid) d.DashArray = dashArray_;
  d.DashOffset = dashOffset_;
  d.Font = extra.Font.get();
  d.Font->Assign(font_);
  return static_cast<int32_t>(index);
}

void TvgCanvasGdiPlus::RestoreCanvas(int32_t index) {
  if (!graphics_ || index < 0 || index >= static_cast<int32_t>(saveData_.size())) return;
  TvgSaveData& d = saveData_[static_cast<size_t>(index)];
  if (d.StateIndex == -1) return;  // a free entry holds nothing to restore
  const TSavedState& extra = savedStates_[static_cast<size_t>(index)];
  if (extra.Gdiplus) {
    graphics_->Restore(static_cast<uint32_t>(d.StateIndex));
    transformPending_ = clipPending_ = false;
    interpolation_ = extra.Interpolation;
  } else {
    clipPending_ = true;  // GDI+ may have clipped more since (exclusions, visual brushes)
    if (interpolation_ != extra.Interpolation) {
      interpolation_ = extra.Interpolation;
      graphics_->SetInterpolationMode(interpolation_);
    }
  }
  clip_ = extra.Clip;
  d.StateIndex = -1;
  stroke_->Assign(d.Stroke);
  fill_->Assign(d.Fill);
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
  // The same font again would change nothing: its family and text hint stand.
  if (font->GetFamily() != font_->GetFamily() || font->GetSize() != font_->GetSize() ||
      font->GetStyle() != font_->GetStyle() || font->GetClearType() != font_->GetClearType())
    font_->Assign(font);
}

// --- Clipping

// GDI+ takes clip rects in world coordinates; the tracked clip holds their device pixels. While
// the clip stays whole pixels a window canvas gives it to GDI+ only when GDI+ next draws.
void TvgCanvasGdiPlus::SetClipRects(const std::vector<TvgRect>& rects) {
  if (!graphics_) return;
  std::vector<TvgRect> device;
  device.reserve(rects.size());
  for (const TvgRect& r : rects) device.push_back(DeviceBounds(r));
  TvgDeviceClip next = clip_;
  next.Replace(device);
  if (!IsRectangular()) next.MakeInexact();
  if (wholePixels_ && next.IsExact()) {
    clip_ = next;
    clipPending_ = true;
    return;
  }
  SyncGraphics();
  TGPRegion region;
  region.MakeEmpty();
  for (const TvgRect& r : rects) region.Union(ToGp(r));
  graphics_->SetClip(&region, kCombineReplace);
  clip_ = next;
}

void TvgCanvasGdiPlus::IntersectClipRect(const TvgRect& r) {
  if (!graphics_) return;
  TvgDeviceClip next = clip_;
  next.Intersect(DeviceBounds(r), IsRectangular());
  if (wholePixels_ && next.IsExact()) {
    clip_ = next;
    clipPending_ = true;
    return;
  }
  SyncGraphics();
  graphics_->SetClip(ToGp(r), kCombineIntersect);
  clip_ = next;
}

void TvgCanvasGdiPlus::ExcludeClipRect(const TvgRect& r) {
  if (!graphics_) return;
  SyncGraphics();
  graphics_->SetClip(ToGp(r), kCombineExclude);
  clip_.MakeInexact();
}

void TvgCanvasGdiPlus::ResetClipRect() {
  if (!graphics_) return;
  clip_.Reset(width_, height_);
  if (wholePixels_) {
    clipPending_ = true;
    return;
  }
  graphics_->ResetClip();
}

// --- Clip tracking and whole-pixel paths

TvgRect TvgCanvasGdiPlus::DeviceBounds(const TvgRect& r) const {
  const TvgMatrix& m = matrix_;
  const TvgPoint corners[] = {{r.Left, r.Top}, {r.Right, r.Top}, {r.Left, r.Bottom}, {r.Right, r.Bottom}};
  TvgRect b = {std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
               std::numeric_limits<float>::lowest(), std::numeric_limits<float>::lowest()};
  for (const TvgPoint& p : corners) {
    // A zero factor keeps an infinite coordinate out of the other axis.
    const float x = (m.m11 != 0 ? p.X * m.m11 : 0) + (m.m21 != 0 ? p.Y * m.m21 : 0) + m.m31;
    const float y = (m.m12 != 0 ? p.X * m.m12 : 0) + (m.m22 != 0 ? p.Y * m.m22 : 0) + m.m32;
    b.Left = std::min(b.Left, x);
    b.Top = std::min(b.Top, y);
    b.Right = std::max(b.Right, x);
    b.Bottom = std::max(b.Bottom, y);
  }
  return b;
}

bool TvgCanvasGdiPlus::IsTranslation() const {
  return transformKnown_ && matrix_.m11 == 1 && matrix_.m22 == 1 && matrix_.m12 == 0 && matrix_.m21 == 0 &&
         matrix_.m13 == 0 && matrix_.m23 == 0;
}

bool TvgCanvasGdiPlus::IsRectangular() const {
  return transformKnown_ && matrix_.m12 == 0 && matrix_.m21 == 0 && matrix_.m13 == 0 && matrix_.m23 == 0;
}

bool TvgCanvasGdiPlus::Culled(const TvgRect& r, float margin) const {
  if (!transformKnown_ || matrix_.m13 != 0 || matrix_.m23 != 0) return false;
  TvgRect b = DeviceBounds(r);
  vgInflateRect(b, margin, margin);
  return !clip_.Meets(b);
}

bool TvgCanvasGdiPlus::ClipInsideCorners(const TvgRect& r, float xRadius, float yRadius) const {
  if (!IsTranslation() || !clip_.IsExact() || !(xRadius >= 0 && yRadius >= 0)) return false;
  if (!(vgRectWidth(r) > 0 && vgRectHeight(r) > 0)) return false;
  // Every corner shape stays inside its corner box of the (clamped) radii: the rect without
  // those boxes, as a horizontal and a vertical band, is inside the shape.
  const TvgCornerRadii k = vgClampCornerRadii(r, xRadius, yRadius, 0);
  const float dx = matrix_.m31, dy = matrix_.m32;
  const TvgRect horizontal = vgRect(r.Left + k.x + dx, r.Top + dy, r.Right - k.x + dx, r.Bottom + dy);
  const TvgRect vertical = vgRect(r.Left + dx, r.Top + k.y + dy, r.Right + dx, r.Bottom - k.y + dy);
  return clip_.IsWithin(vgPixelsInsideRect(horizontal), vgPixelsInsideRect(vertical));
}

bool TvgCanvasGdiPlus::ClipInsideOutline(const TvgRect& r, float xRadius, float yRadius) const {
  if (!IsRectangular() || !clip_.IsExact()) return false;
  // The outline keeps to the sides and the corner boxes; its pen reaches StrokeMargin further.
  const float reach = std::max(std::fabs(xRadius), std::fabs(yRadius)) + StrokeMargin();
  TvgRect inner = DeviceBounds(vgNormalizeRect(r));
  vgInflateRect(inner, -reach, -reach);
  if (!(vgRectWidth(inner) > 0 && vgRectHeight(inner) > 0)) return false;
  const TvgPixelRect pixels = vgPixelsInsideRect(inner);
  return clip_.IsWithin(pixels, pixels);
}

float TvgCanvasGdiPlus::StrokeMargin() const {
  // Miter joins reach up to ten half widths out (GDI+'s miter limit); every axis stretches the
  // width at most by the sum of its matrix factors.
  const float scale = std::fabs(matrix_.m11) + std::fabs(matrix_.m12) + std::fabs(matrix_.m21) + std::fabs(matrix_.m22);
  return 5 * std::fabs(strokeThickness_) * scale + 2;
}

TvgPixelBuffer TvgCanvasGdiPlus::Buffer() const { return {bufferBits_, width_, height_}; }

void TvgCanvasGdiPlus::SyncBuffer() const { GdiFlush(); }

bool TvgCanvasGdiPlus::FillSolidDirect(const TvgRect& r, float opacity) {
  if (!wholePixels_ || !bufferBits_ || !clip_.IsExact() || !IsTranslation()) return false;
  if (!(vgRectWidth(r) > 0 && vgRectHeight(r) > 0)) return false;
  if (fill_->GetStyle() == vgBrushResource) {
    // As the brush building does: the canvas fill takes the resource's brush.
    if (TvgBrush* resource = fill_->GetResource()->GetBrush(); resource && resource != fill_) fill_->Assign(resource);
  }
  const TvgBrushStyle style = fill_->GetStyle();
  if (!(style == vgBrushSolid || (style == vgBrushGradient && fill_->GetGradient()->GetPoints()->Count() < 2)))
    return false;
  const TvgRect device = vgRect(r.Left + matrix_.m31, r.Top + matrix_.m32, r.Right + matrix_.m31, r.Bottom + matrix_.m32);
  SyncBuffer();
  vgBlendFill(Buffer(), clip_, vgPixelsOfRect(device), vgPremultiplyColor(vgOpacityColor(fill_->GetSolidColor(), opacity)));
  return true;
}

bool TvgCanvasGdiPlus::FillTextureDirect(const TvgRect& r, float opacity) {
  if (!wholePixels_ || !bufferBits_ || !clip_.IsExact() || !IsTranslation() || opacity != 1) return false;
  if (fill_->GetStyle() != vgBrushBitmap || fill_->GetBitmap()->GetWrapMode() != vgWrapTile) return false;
  if (!IsWhole(matrix_.m31) || !IsWhole(matrix_.m32) || !(vgRectWidth(r) > 0 && vgRectHeight(r) > 0)) return false;
  TvgBitmap* own = fill_->GetBitmap()->GetBitmap();
  TvgBitmap* bitmap = own ? (own->GetBitmap() ? own->GetBitmap() : own) : nullptr;
  if (!bitmap || bitmap->GetWidth() < 1 || bitmap->GetHeight() < 1) return false;
  // The brush building gives the bitmap its GDI+ handle; without one nothing is drawn.
  UpdateBitmapHandle(*bitmap);
  if (!HandleOf(*bitmap)) return true;
  const TvgRect device = vgRect(r.Left + matrix_.m31, r.Top + matrix_.m32, r.Right + matrix_.m31, r.Bottom + matrix_.m32);
  SyncBuffer();
  // Read through the const view: taking the pixels for writing would name them anew.
  const TvgBitmap& texture = *bitmap;
  return vgTileOpaque(Buffer(), clip_, vgPixelsOfRect(device), static_cast<int32_t>(matrix_.m31),
                      static_cast<int32_t>(matrix_.m32), texture.Bits(), texture.GetWidth(), texture.GetHeight());
}

bool TvgCanvasGdiPlus::DrawBitmapDirect(TvgBitmap& bitmap, const TvgRect& src, const TvgRect& dst, float opacity) {
  if (!wholePixels_ || !bufferBits_ || !clip_.IsExact() || !IsTranslation() || opacity < 1) return false;
  const bool whole = IsWhole(matrix_.m31) && IsWhole(matrix_.m32) && IsWhole(src.Left) && IsWhole(src.Top) &&
                     IsWhole(src.Right) && IsWhole(src.Bottom) && IsWhole(dst.Left) && IsWhole(dst.Top);
  if (!whole || vgRectWidth(src) != vgRectWidth(dst) || vgRectHeight(src) != vgRectHeight(dst)) return false;
  if (!(src.Left >= 0 && src.Top >= 0 && src.Right <= bitmap.GetWidth() && src.Bottom <= bitmap.GetHeight() &&
        src.Right > src.Left && src.Bottom > src.Top))
    return false;
  const int32_t sx = static_cast<int32_t>(src.Left), sy = static_cast<int32_t>(src.Top);
  const TvgBitmap& source = bitmap;  // read only
  SyncBuffer();
  vgBlendImage(Buffer(), clip_, static_cast<int32_t>(dst.Left + matrix_.m31), static_cast<int32_t>(dst.Top + matrix_.m32),
               source.Bits() + static_cast<size_t>(sy) * static_cast<size_t>(source.GetWidth()) + sx, source.GetWidth(),
               static_cast<int32_t>(vgRectWidth(src)), static_cast<int32_t>(vgRectHeight(src)));
  return true;
}

// --- Painted operations kept

namespace {

// The operations the cache names.
enum TPaintOperation : uint8_t {
  kPaintText = 1,
  kPaintFillRect,
  kPaintFillRoundRect,
  kPaintDrawRect,
  kPaintFillEllipse,
  kPaintDrawEllipse,
  kPaintLine,
  kPaintFillPath
};

}  // namespace

bool TvgCanvasGdiPlus::CanPaintCached() const {
  return wholePixels_ && bufferBits_ && clip_.IsExact() && transformKnown_ && matrix_.m13 == 0 && matrix_.m23 == 0;
}

bool TvgCanvasGdiPlus::AddBrushKey(TvgPaintKey& key, TvgBrush* brush) {
  if (brush->GetStyle() == vgBrushResource) {
    // As the brush building does: the canvas brush takes the resource's brush.
    if (TvgBrush* resource = brush->GetResource()->GetBrush(); resource && resource != brush) brush->Assign(resource);
  }
  TvgGradient* gradient = brush->GetGradient();
  switch (brush->GetStyle()) {
    case vgBrushSolid:
      key.Add(uint32_t{1});
      key.Add(brush->GetSolidColor());
      return true;
    case vgBrushGradient: {
      const int32_t count = gradient->GetPoints()->Count();
      key.Add(uint32_t{2});
      key.Add(brush->GetSolidColor());
      key.Add(count);
      if (count < 2) return true;  // painted as the solid colour
      key.Add(static_cast<int32_t>(gradient->GetStyle()));
      for (int32_t i = 0; i < count; ++i) {
        key.Add(gradient->GetPoints()->Point(i)->GetIntColor());
        key.Add(gradient->GetPoints()->Point(i)->GetOffset());
      }
      const TvgPoint start = gradient->GetStartPosition()->GetPoint(), stop = gradient->GetStopPosition()->GetPoint();
      for (float v : {start.X, start.Y, stop.X, stop.Y}) key.Add(v);
      key.Add(gradient->GetRadialTransform()->Matrix());
      return true;
    }
    default:
      return false;
  }
}

void TvgCanvasGdiPlus::AddPenKey(TvgPaintKey& key) const {
  key.Add(strokeThickness_);
  key.Add(static_cast<int32_t>(strokeCap_));
  key.Add(static_cast<int32_t>(strokeJoin_));
  key.Add(static_cast<int32_t>(dashArray_.size()));
  for (float v : dashArray_) key.Add(v);
  key.Add(dashOffset_);
}

void TvgCanvasGdiPlus::AddFontKey(TvgPaintKey& key) const {
  key.Add(font_->GetFamily());
  key.Add(font_->GetSize());
  key.Add(static_cast<int32_t>(font_->GetStyle()));
  key.Add(font_->GetClearType());
}

TvgCanvasGdiPlus* TvgCanvasGdiPlus::Scratch() {
  if (!scratch_ || scratch_->GetWidth() != width_ || scratch_->GetHeight() != height_) {
    scratch_.reset();
    auto scratch = std::make_unique<TvgCanvasGdiPlus>(width_, height_);
    scratch->SetDrawsWholePixels(false);
    if (!scratch->GetBufferBits() || !scratch->Graphics()) return nullptr;
    std::fill(scratch->GetBufferBits(), scratch->GetBufferBits() + static_cast<size_t>(width_) * height_, 0u);
    scratch_ = std::move(scratch);
  }
  return scratch_.get();
}

template <typename F>
bool TvgCanvasGdiPlus::PaintCached(TvgPaintKey& key, TvgBrush* brush, const TvgRect& localReach, float margin,
                                   F&& paint) {
  if (!AddBrushKey(key, brush)) return false;
  TvgRect reach = DeviceBounds(localReach);
  vgInflateRect(reach, margin, margin);
  // The reach within the canvas (it may run to infinity), a pixel wider on each side.
  const TvgPixelRect canvas{0, 0, width_, height_};
  const auto edge = [](float v, int32_t low, int32_t high) {
    return static_cast<int32_t>(std::clamp<double>(std::floor(static_cast<double>(v)), low, high));
  };
  const TvgPixelRect area = vgIntersectPixelRect({edge(reach.Left, -1, width_) - 1, edge(reach.Top, -1, height_) - 1,
                                                  edge(reach.Right, -1, width_) + 2, edge(reach.Bottom, -1, height_) + 2},
                                                 canvas);
  if (area.IsEmpty()) return true;  // nothing of it can show
  auto blend = [this](const TvgPaintedPixels& p) {
    if (p.Box.IsEmpty()) return;
    const int32_t w = p.Box.Right - p.Box.Left;
    vgBlendImage(Buffer(), clip_, p.Box.Left, p.Box.Top, p.Pixels.data(), w, w, p.Box.Bottom - p.Box.Top);
  };
  if (const TvgPaintedPixels* kept = paintCache_.Find(key)) {
    SyncBuffer();
    blend(*kept);
    return true;
  }
  TvgCanvasGdiPlus* s = Scratch();
  if (!s) return false;
  // The scratch canvas paints as this one would, on transparent pixels and only within the
  // reach (nothing is left outside it for later operations to pick up).
  s->ResetClipRect();
  s->SetMatrix(IdentityMatrix);
  s->IntersectClipRect(vgRect(float(area.Left), float(area.Top), float(area.Right), float(area.Bottom)));
  s->SetMatrix(matrix_);
  s->fill_->Assign(fill_);
  s->stroke_->Assign(stroke_);
  s->strokeThickness_ = strokeThickness_;
  s->strokeCap_ = strokeCap_;
  s->strokeJoin_ = strokeJoin_;
  s->strokeDash_ = strokeDash_;
  s->dashArray_ = dashArray_;
  s->dashOffset_ = dashOffset_;
  s->font_->Assign(font_);
  paint(*s);
  s->SyncBuffer();
  TvgPaintedPixels painted = vgTakePainted(s->Buffer(), area);
  SyncBuffer();
  blend(painted);
  paintCache_.Store(key, std::move(painted));
  return true;
}

namespace {

// Draws the same operations on two window canvases of equal pixels, one through GDI+ alone,
// the other with its whole-pixel paths, and answers whether every pixel came out the same:
// clipped solid fills of several alphas with fractional edges, GDI+ drawing under the clip and
// matrix the canvas handed on late, a copy of a bitmap with translucent pixels, tilings of an
// opaque texture under both interpolation modes, a rounded rect filled and outlined around a
// clip inside it, and texts and shapes painted again from what they painted the first time.
bool CheckWholePixelPaths() {
  constexpr int32_t kW = 48, kH = 24;
  TvgCanvasGdiPlus reference(kW, kH), direct(kW, kH);
  reference.SetDrawsWholePixels(false);
  direct.SetDrawsWholePixels(true);
  if (!reference.GetBufferBits() || !direct.GetBufferBits() || !reference.Graphics() || !direct.Graphics())
    return false;
  TvgBitmap image(9, 7), texture(5, 3);
  for (int32_t i = 0; i < 9 * 7; ++i) {
    const uint32_t a = (i * 71 + 13) % 256;
    image.Bits()[i] = a << 24 | (a * 3 / 4) << 16 | (a / 3) << 8 | (a * ((i * 5) % 7) / 7);
  }
  for (int32_t i = 0; i < 5 * 3; ++i) texture.Bits()[i] = 0xFF000000u | uint32_t(i * 0x11F3A5u);
  for (TvgCanvasGdiPlus* c : {&reference, &direct}) {
    uint32_t* bits = c->GetBufferBits();
    for (int32_t i = 0; i < kW * kH; ++i) {
      const uint32_t a = (i * 37 + 5) % 256;
      bits[i] = a << 24 | ((i * 11) % (a + 1)) << 16 | ((i * 29) % (a + 1)) << 8 | ((i * 7) % (a + 1));
    }
    c->SetClipRects({vgRect(1, 1, 30, 20), vgRect(34, 3, 47, 23)});
    TvgMatrix m = IdentityMatrix;
    const TvgColor colors[] = {0xFF8B95FFu, 0x7E4E5BDCu, 0x01FFFFFFu, 0x80FF0000u, 0xC3123456u, 0x00FFFFFFu};
    for (int32_t i = 0; i < 6; ++i) {
      m.m31 = 0.25f * i - 0.5f;
      m.m32 = 0.5f - 0.2f * i;
      c->SetMatrix(m);
      c->GetFill()->SetStyle(vgBrushSolid);
      c->GetFill()->SetSolidColor(colors[i]);
      c->FillRect(vgRect(2.5f + 3 * i, 1.49f + i, 40.51f - i, 18.5f + 0.7f * i), 0, 0, vgAllCorners, 1 - 0.1f * i);
    }
    // GDI+ drawing under the clip the canvas kept: a rounded fill, a stroke inside a saved
    // state with a narrower clip, a line after it.
    c->GetFill()->SetSolidColor(0xC0306090u);
    c->FillRect(vgRect(5.5f, 2.25f, 44, 21), 3, 3, vgAllCorners, 0.8f);
    m.m31 = 3;
    m.m32 = -1;
    c->SetMatrix(m);
    const int32_t state = c->SaveCanvas();
    c->IntersectClipRect(vgRect(4, 4, 20, 16));
    c->GetStroke()->SetStyle(vgBrushSolid);
    c->GetStroke()->SetSolidColor(0xE0F08020u);
    c->SetStrokeThickness(1.5f);
    c->DrawRect(vgRect(2.5f, 2.5f, 30, 20), 0, 0, vgAllCorners, 1);
    c->RestoreCanvas(state);
    c->DrawLine(vgPoint(0, 10.5f), vgPoint(45, 12.5f), 1);
    c->DrawBitmap(image, vgRect(1, 1, 8, 7), vgRect(10, 4, 17, 10), 1);
    c->ResetClipRect();
    c->IntersectClipRect(vgRect(2, 3, 40, 20));
    c->GetFill()->SetStyle(vgBrushBitmap);
    c->GetFill()->GetBitmap()->SetBitmap(&texture);
    c->FillRect(vgRect(-3, 0, 30, 12), 0, 0, vgAllCorners, 1);
    c->DrawBitmap(image, vgRect(0, 0, 9, 7), vgRect(30, 10, 39, 17), 1, true);
    c->FillRect(vgRect(20, 10, 44, 22), 0, 0, vgAllCorners, 1);
    // A rounded rect and its outline around a clip inside them.
    c->IntersectClipRect(vgRect(7, 8, 25, 14));
    c->GetFill()->SetStyle(vgBrushSolid);
    c->GetFill()->SetSolidColor(0x9F20C040u);
    c->FillRect(vgRect(0.5f, 0.5f, 34, 21.5f), 6, 4, vgAllCorners, 0.9f);
    c->DrawRect(vgRect(0.5f, 0.5f, 34, 21.5f), 6, 4, vgAllCorners, 1);
    // Texts and shapes painted twice: the second time from what the first one painted.
    c->ResetClipRect();
    c->SetClipRects({vgRect(0, 0, 21, 24), vgRect(23, 1, 48, 24)});
    m = IdentityMatrix;
    m.m31 = 0.5f;
    m.m32 = 0.25f;
    c->SetMatrix(m);
    for (int32_t pass = 0; pass < 2; ++pass) {
      c->GetFill()->SetSolidColor(0xE0203040u);
      c->FillText(vgRect(1.5f, 2, 46, 12), vgRect(1.5f, 2, 46, 12), u"Kg,ab", false, 1, vgTextAlignNear, vgTextAlignCenter);
      c->GetFill()->SetSolidColor(0x90F04020u);
      c->FillRect(vgRect(3.5f, 6.5f, 40, 20), 4, 4, vgAllCorners, 1);
      c->FillEllipse(vgRect(10, 3, 30, 21), 0.7f);
      c->GetStroke()->SetSolidColor(0xC01080F0u);
      c->SetStrokeThickness(1);
      c->DrawRect(vgRect(2.5f, 4.5f, 44.5f, 22.5f), 3, 3, vgAllCorners, 0.9f);
      c->DrawLine(vgPoint(1, 22), vgPoint(46, 3), 1);
    }
  }
  GdiFlush();
  return std::equal(reference.GetBufferBits(), reference.GetBufferBits() + kW * kH, direct.GetBufferBits());
}

}  // namespace

bool TvgCanvasGdiPlus::WholePixelPathsAgree() {
  // -1 not known yet; the check's own canvases ask while it runs and are told no. Two threads
  // asking at once may both check: they find the same answer.
  static std::atomic<int32_t> answer{-1};
  if (const int32_t known = answer.load(std::memory_order_acquire); known >= 0) return known == 1;
  if (g_checkingWholePixels) return false;
  g_checkingWholePixels = true;
  int32_t found = 0;
  try {
    found = CheckWholePixelPaths() ? 1 : 0;
  } catch (...) {
    found = 0;
  }
  g_checkingWholePixels = false;
  answer.store(found, std::memory_order_release);
  return found == 1;
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
    SyncGraphics();
    graphics_->SetClip(ToGp(r), kCombineIntersect);
    clip_.MakeInexact();
    PaintVisual(r, opacity);
    RestoreCanvas(state);
    return;
  }
  if (Culled(r, 2)) return;
  if (FillSolidDirect(r, opacity) || FillTextureDirect(r, opacity)) return;
  if (CanPaintCached()) {
    // Gradients: kept like the shapes (the key names every stop).
    TvgPaintKey key(kPaintFillRect);
    key.Add(r);
    key.Add(opacity);
    key.Add(matrix_);
    if (PaintCached(key, fill_, vgNormalizeRect(r), 2,
                    [&](TvgCanvasGdiPlus& c) { c.FillRect(r, 0, 0, vgAllCorners, opacity); }))
      return;
  }
  CreateFillBrush(r, opacity);
  // The brush is laid out on the whole rect, but only the part inside the clip is filled: some
  // GDI+ implementations fill a tiled bitmap over the whole rect before clipping, which makes
  // every small repaint of a large background cost as much as a full one. The part keeps a
  // margin of two device pixels so that its edges never fall inside the clip.
  TvgRect part = r;
  const TvgMatrix& m = GetMatrix();
  const TvgPixelRect& clip = clip_.Bounds();
  if (transformKnown_ && m.m12 == 0 && m.m21 == 0 && m.m11 != 0 && m.m22 != 0) {
    // The clip's device bounds in local coordinates.
    const float x1 = (clip.Left - 2 - m.m31) / m.m11, x2 = (clip.Right + 2 - m.m31) / m.m11;
    const float y1 = (clip.Top - 2 - m.m32) / m.m22, y2 = (clip.Bottom + 2 - m.m32) / m.m22;
    const TvgRect bounds = vgRect(std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2));
    if (!vgIntersectRect(part, r, bounds)) return;
  }
  const GpRectF g = ToGp(part);
  SyncGraphics();
  graphics_->FillRectangle(fillBrush_, g.X, g.Y, g.Width, g.Height);
}

void TvgCanvasGdiPlus::FillGPPath(TGPGraphicsPath* path, const TvgRect& r, float opacity) {
  if (!graphics_ || fill_->GetStyle() == vgBrushNone) return;
  if (fill_->GetStyle() == vgBrushVisual) {
    const int32_t state = SaveCanvas();
    SyncGraphics();
    TGPRegion region(path->Handle());
    graphics_->SetClip(&region, kCombineIntersect);
    clip_.MakeInexact();
    PaintVisual(r, opacity);
    RestoreCanvas(state);
    return;
  }
  CreateFillBrush(r, opacity);
  SyncGraphics();
  graphics_->FillPath(fillBrush_, path);
}

// --- Shapes

void TvgCanvasGdiPlus::DrawLine(const TvgPoint& p1, const TvgPoint& p2, float opacity) {
  TargetChanging();
  if (!graphics_ || stroke_->GetStyle() == vgBrushNone) return;
  if (Culled(SpanOf(p1, p2), StrokeMargin())) return;
  if (CanPaintCached()) {
    TvgPaintKey key(kPaintLine);
    for (float v : {p1.X, p1.Y, p2.X, p2.Y}) key.Add(v);
    key.Add(opacity);
    key.Add(matrix_);
    AddPenKey(key);
    if (PaintCached(key, stroke_, SpanOf(p1, p2), StrokeMargin(),
                    [&](TvgCanvasGdiPlus& c) { c.DrawLine(p1, p2, opacity); }))
      return;
  }
  CreateStrokePen(vgRect(p1.X, p1.Y, p2.X, p2.Y), opacity);
  SyncGraphics();
  graphics_->DrawLine(pen_, p1.X, p1.Y, p2.X, p2.Y);
}

void TvgCanvasGdiPlus::AddRoundRectKey(TvgPaintKey& key, const TvgRect& r, float xRadius, float yRadius,
                                       TvgCorners corners, float opacity, TvgCornerType cornerType) const {
  key.Add(r);
  key.Add(xRadius);
  key.Add(yRadius);
  key.Add(static_cast<int32_t>(corners.Bits()));
  key.Add(static_cast<int32_t>(cornerType));
  key.Add(opacity);
  key.Add(matrix_);
}

void TvgCanvasGdiPlus::FillRect(const TvgRect& r, float xRadius, float yRadius, TvgCorners corners, float opacity,
                                TvgCornerType cornerType) {
  TargetChanging();
  if (fill_->GetStyle() == vgBrushNone) return;
  if ((xRadius == 0 && yRadius == 0) || corners.Empty()) {
    FillRectangle(r, opacity);
    return;
  }
  if (graphics_ && Culled(r, 2)) return;
  if (graphics_ && ClipInsideCorners(r, xRadius, yRadius) && FillSolidDirect(r, opacity)) return;
  if (graphics_ && CanPaintCached()) {
    TvgPaintKey key(kPaintFillRoundRect);
    AddRoundRectKey(key, r, xRadius, yRadius, corners, opacity, cornerType);
    if (PaintCached(key, fill_, r, 2, [&](TvgCanvasGdiPlus& c) {
          c.FillRect(r, xRadius, yRadius, corners, opacity, cornerType);
        }))
      return;
  }
  TGPGraphicsPath path(0);
  BuildCornerPath(path, r, xRadius, yRadius, corners, cornerType);
  FillGPPath(&path, r, opacity);
}

void TvgCanvasGdiPlus::DrawRect(const TvgRect& r, float xRadius, float yRadius, TvgCorners corners, float opacity,
                                TvgCornerType cornerType) {
  TargetChanging();
  if (!graphics_ || stroke_->GetStyle() == vgBrushNone) return;
  if (Culled(r, StrokeMargin()) || ClipInsideOutline(r, xRadius, yRadius)) return;
  if (CanPaintCached()) {
    TvgPaintKey key(kPaintDrawRect);
    AddRoundRectKey(key, r, xRadius, yRadius, corners, opacity, cornerType);
    AddPenKey(key);
    if (PaintCached(key, stroke_, vgNormalizeRect(r), StrokeMargin(), [&](TvgCanvasGdiPlus& c) {
          c.DrawRect(r, xRadius, yRadius, corners, opacity, cornerType);
        }))
      return;
  }
  CreateStrokePen(r, opacity);
  SyncGraphics();
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
  TargetChanging();
  if (fill_->GetStyle() == vgBrushNone) return;
  if (graphics_ && Culled(r, 2)) return;
  if (graphics_ && CanPaintCached()) {
    TvgPaintKey key(kPaintFillEllipse);
    key.Add(r);
    key.Add(opacity);
    key.Add(matrix_);
    if (PaintCached(key, fill_, vgNormalizeRect(r), 2, [&](TvgCanvasGdiPlus& c) { c.FillEllipse(r, opacity); }))
      return;
  }
  const GpRectF g = ToGp(r);
  TGPGraphicsPath path(0);
  path.AddEllipse(g.X, g.Y, g.Width, g.Height);
  FillGPPath(&path, vgRect(g.X, g.Y, g.Width, g.Height), opacity);
}

void TvgCanvasGdiPlus::DrawEllipse(const TvgRect& r, float opacity) {
  TargetChanging();
  if (!graphics_ || stroke_->GetStyle() == vgBrushNone) return;
  if (Culled(r, StrokeMargin())) return;
  if (CanPaintCached()) {
    TvgPaintKey key(kPaintDrawEllipse);
    key.Add(r);
    key.Add(opacity);
    key.Add(matrix_);
    AddPenKey(key);
    if (PaintCached(key, stroke_, vgNormalizeRect(r), StrokeMargin(),
                    [&](TvgCanvasGdiPlus& c) { c.DrawEllipse(r, opacity); }))
      return;
  }
  CreateStrokePen(r, opacity);
  SyncGraphics();
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
  TargetChanging();
  if (path.IsEmpty()) return;
  const TvgRect b = RawBounds(path);
  if (vgRectWidth(b) * vgRectHeight(b) == 0) return;
  // The points are fitted into R: the path lies within it.
  if (graphics_ && fill_->GetStyle() != vgBrushNone && Culled(r, 2)) return;
  if (graphics_ && fill_->GetStyle() != vgBrushNone && CanPaintCached() && path.Points().size() <= kCachedPathPoints) {
    TvgPaintKey key(kPaintFillPath);
    key.Add(r);
    key.Add(static_cast<int32_t>(path.Points().size()));
    for (const TvgPathPoint& p : path.Points()) {
      key.Add(static_cast<int32_t>(p.Kind));
      key.Add(p.Point.X);
      key.Add(p.Point.Y);
    }
    key.Add(opacity);
    key.Add(matrix_);
    if (PaintCached(key, fill_, vgNormalizeRect(r), 2, [&](TvgCanvasGdiPlus& c) { c.FillPath(path, r, opacity); }))
      return;
  }
  TGPGraphicsPath gp(0);
  BuildGPPath(gp, path, Fitter{b, r});
  FillGPPath(&gp, r, opacity);
}

void TvgCanvasGdiPlus::DrawPath(const TvgPathData& path, const TvgRect& r, float opacity) {
  TargetChanging();
  if (!graphics_ || path.IsEmpty() || stroke_->GetStyle() == vgBrushNone) return;
  const TvgRect b = RawBounds(path);
  if (vgRectWidth(b) * vgRectHeight(b) == 0) return;
  if (Culled(r, StrokeMargin())) return;
  const Fitter fit{b, r};
  CreateStrokePen(b, opacity);
  SyncGraphics();
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
  TargetChanging();
  if (!graphics_) return;
  const int32_t interpolation = highSpeed ? kInterpolationNearest : kInterpolationHighQuality;
  if (!wholePixels_ || interpolation != interpolation_) graphics_->SetInterpolationMode(interpolation);
  interpolation_ = interpolation;
  if (opacity <= 0) return;
  UpdateBitmapHandle(bitmap);
  TGPBitmap* image = HandleOf(bitmap);
  if (!image) return;
  if (Culled(dst, 2) || DrawBitmapDirect(bitmap, src, dst, opacity)) return;
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
  if (unscaled && transformKnown_) {
    // The clip's device bounds, moved into local coordinates (whole pixels here).
    const TvgPixelRect& clip = clip_.Bounds();
    const TvgRect bounds = vgRect(clip.Left - m.m31 - 2, clip.Top - m.m32 - 2, clip.Right - m.m31 + 2,
                                  clip.Bottom - m.m32 + 2);
    if (!vgIntersectRect(target, dst, bounds)) return;
    source = vgRect(src.Left + target.Left - dst.Left, src.Top + target.Top - dst.Top,
                    src.Left + target.Right - dst.Left, src.Top + target.Bottom - dst.Top);
  }
  const GpRectF d = ToGp(target);
  SyncGraphics();
  if (opacity >= 1) {
    graphics_->DrawImage(image, d, source.Left, source.Top, vgRectWidth(source), vgRectHeight(source), kUnitPixel, nullptr);
    return;
  }
  TGPImageAttributes attributes;
  attributes.SetColorMatrix(OpacityMatrix(opacity), 0, 1);
  graphics_->DrawImage(image, d, source.Left, source.Top, vgRectWidth(source), vgRectHeight(source), kUnitPixel, &attributes);
}

void TvgCanvasGdiPlus::DrawThumbnail(TvgBitmap& bitmap, float width, float height) {
  TargetChanging();
  if (!graphics_) return;
  UpdateBitmapHandle(bitmap);
  TGPBitmap* image = HandleOf(bitmap);
  if (!image || !bitmap_) return;
  SyncGraphics();
  transformKnown_ = false;
  const float s = width / float(bitmap.GetWidth());
  graphics_->ScaleTransform(s, s, kMatrixPrepend);
  graphics_->DrawImage(image, 0, 0, bitmap.GetWidth(), bitmap.GetHeight());
}

// --- Fonts and text

void TvgCanvasGdiPlus::FontChanged(TObject*) {
  // Saved states bring their font back on every restore: finding a family is a search of the
  // installed fonts, done again only when the name or the private fonts change.
  if (!fontFamilyStale_ && fontFamilyName_ == font_->GetFamily()) {
    ApplyTextHint();
    return;
  }
  textFont_.reset();
  delete fontFamily_;
  fontFamily_ = nullptr;
  fontFamilyName_ = font_->GetFamily();
  fontFamilyStale_ = false;
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

TGPFont* TvgCanvasGdiPlus::TextFont() {
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
  // A GDI+ font is a realised font of the system: made again only for another size or style.
  if (!textFont_ || textFontSize_ != font_->GetSize() || textFontStyle_ != style) {
    textFont_.reset(new TGPFont(fontFamily_, font_->GetSize() * 0.75f, style, kUnitPoint));
    textFontSize_ = font_->GetSize();
    textFontStyle_ = style;
  }
  return textFont_.get();
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
  fontFamilyStale_ = true;
  FontChanged(font_);
}

void TvgCanvasGdiPlus::FillText(const TvgRect& r, const TvgRect&, const WideString& text, bool wordWrap,
                                float opacity, TvgTextAlign horz, TvgTextAlign vert) {
  TargetChanging();
  if (!graphics_ || fill_->GetStyle() == vgBrushNone || text.empty()) return;
  const TvgRect reach = TextReach(r, text, wordWrap, horz, vert, font_->GetSize());
  if (Culled(reach, 2)) return;
  if (CanPaintCached() && !privateFonts_) {
    TvgPaintKey key(kPaintText);
    key.Add(r);
    key.Add(text);
    key.Add(wordWrap);
    key.Add(static_cast<int32_t>(horz));
    key.Add(static_cast<int32_t>(vert));
    key.Add(opacity);
    key.Add(matrix_);
    AddFontKey(key);
    if (PaintCached(key, fill_, reach, 2,
                    [&](TvgCanvasGdiPlus& c) { c.FillText(r, r, text, wordWrap, opacity, horz, vert); }))
      return;
  }
  TGPStringFormat format(kFormatNoClip | (wordWrap ? 0 : kFormatNoWrap));
  format.SetAlignment(AlignToGdiPlus(horz));
  format.SetLineAlignment(AlignToGdiPlus(vert));
  // Full opacity draws at 99 %: GDI+ then blends the glyphs' grey-scale coverage instead of
  // writing ClearType colour fringes into a transparent buffer.
  CreateFillBrush(r, opacity == 1 ? 0.99f : opacity);
  TGPFont* font = TextFont();
  if (!font->Handle()) return;
  const bool fractional = HasFraction(matrix_.m11) || HasFraction(matrix_.m22);
  SyncGraphics();
  if (fractional) graphics_->SetTextRenderingHint(kHintAntiAlias);
  graphics_->DrawString(text, font, ToGp(r), &format, fillBrush_);
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
  if (graphics == graphics_) SyncGraphics();
  if (HasFraction(matrix_.m11) || HasFraction(matrix_.m22)) graphics->SetTextRenderingHint(kHintAntiAlias);
  TGPStringFormat format(kFormatNoClip | kFormatMeasureTrailingSpaces | (wordWrap ? 0 : kFormatNoWrap));
  format.SetAlignment(AlignToGdiPlus(horz));
  format.SetLineAlignment(AlignToGdiPlus(vert));
  const GpCharacterRange range = {0, static_cast<int32_t>(text.size())};
  format.SetMeasurableCharacterRanges(1, &range);
  TGPFont* font = TextFont();
  if (font->Handle()) {
    TGPRegion region;
    TGPRegion* regions[] = {&region};
    if (graphics->MeasureCharacterRanges(text, font, ToGp(r), &format, 1, regions) == Ok) {
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
