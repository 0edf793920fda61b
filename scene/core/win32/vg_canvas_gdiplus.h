// TvgCanvasGdiPlus: the canvas that draws through GDI+, either into an off-screen DIB section that
// is copied to a window's device context, or straight into a TvgBitmap's pixels. GDI+ must be
// started (StartGdiPlus) before one is created. GDI+ failures never raise: a brush that cannot be
// built is a transparent one and a failed call draws nothing.
//
// The canvas keeps its clip in device pixels beside GDI+'s, so that an operation that cannot
// reach the clip costs no GDI+ call at all. A window canvas also draws solid rects, copies of
// bitmaps at their own size and tilings of opaque textures on whole pixels straight into its
// buffer, and keeps what texts and shapes painted (TvgPaintCache) to paint them at the same
// place again by a blend, when GDI+ is found (once per process) to give exactly those pixels.
#pragma once

#include <cstdint>
#include <memory>

#include "vg_canvas.h"
#include "vg_gdiplus.h"
#include "vg_paintcache.h"
#include "vg_pixelops.h"

class TvgCanvasGdiPlus : public TvgCanvas {
  KBL_DECLARE_CLASS(TvgCanvasGdiPlus, TvgCanvas)
 public:
  // A window canvas with a DIB section of the size (sizes below 1 count as 1). Raises Exception
  // ("Can't allocate the DIB handle", "Can't create compatible DC", "Can't select an object into
  // DC") when the buffer cannot be made.
  TvgCanvasGdiPlus(int32_t width, int32_t height);
  // A canvas over the bitmap's own pixels (through the bitmap's GDI+ handle).
  explicit TvgCanvasGdiPlus(TvgBitmap& bitmap);
  ~TvgCanvasGdiPlus() override;

  // Row y of the bitmap's pixels; nullptr outside it or when it has none.
  static uint32_t* GetBitmapScanline(TvgBitmap& bitmap, int32_t y);

  void FontChanged(TObject* sender) override;
  void FlushBuffer(int32_t x, int32_t y, TvgDC dc) override;
  void FlushBufferRect(int32_t x, int32_t y, TvgDC dc, const TvgRect& r) override;
  void FreeBuffer() override;
  void ResizeBuffer(int32_t width, int32_t height) override;
  void Clear(TvgColor color) override;
  void ClearRect(const TvgRect& r, TvgColor color) override;
  void SetMatrix(const TvgMatrix& m) override;
  void MultiplyMatrix(const TvgMatrix& m) override;
  int32_t SaveCanvas() override;
  void RestoreCanvas(int32_t index) override;
  void SetClipRects(const std::vector<TvgRect>& rects) override;
  void IntersectClipRect(const TvgRect& r) override;
  void ExcludeClipRect(const TvgRect& r) override;
  void ResetClipRect() override;
  void DrawLine(const TvgPoint& p1, const TvgPoint& p2, float opacity) override;
  void FillRect(const TvgRect& r, float xRadius, float yRadius, TvgCorners corners, float opacity,
                TvgCornerType cornerType = vgCornerRound) override;
  void DrawRect(const TvgRect& r, float xRadius, float yRadius, TvgCorners corners, float opacity,
                TvgCornerType cornerType = vgCornerRound) override;
  void FillEllipse(const TvgRect& r, float opacity) override;
  void DrawEllipse(const TvgRect& r, float opacity) override;
  bool PtInPath(const TvgPoint& p, const TvgRect& r, const TvgPathData& path) override;
  void FillPath(const TvgPathData& path, const TvgRect& r, float opacity) override;
  void DrawPath(const TvgPathData& path, const TvgRect& r, float opacity) override;
  void DrawBitmap(TvgBitmap& bitmap, const TvgRect& src, const TvgRect& dst, float opacity,
                  bool highSpeed = false) override;
  void DrawThumbnail(TvgBitmap& bitmap, float width, float height) override;
  // Keeps the font data for as long as the canvas lives.
  void LoadFontFromStream(TStream& stream) override;
  void FillText(const TvgRect& r, const TvgRect& second, const WideString& text, bool wordWrap, float opacity,
                TvgTextAlign horz = vgTextAlignCenter, TvgTextAlign vert = vgTextAlignCenter) override;
  void MeasureText(TvgRect& r, const TvgRect& second, const WideString& text, bool wordWrap,
                   TvgTextAlign horz = vgTextAlignCenter, TvgTextAlign vert = vgTextAlignCenter) override;
  bool TextToPath(TvgPathData& path, const TvgRect& r, const WideString& text, bool wordWrap,
                  TvgTextAlign horz = vgTextAlignCenter, TvgTextAlign vert = vgTextAlignCenter) override;

  // The GDI+ bitmap over a TvgBitmap's pixels (kept in its Handle until its size changes);
  // nothing for an empty bitmap.
  void UpdateBitmapHandle(TvgBitmap& bitmap);
  // Frees the GDI+ bitmap kept in the bitmap's Handle.
  void DestroyBitmapHandle(TObject* sender);

  // The drawing context; nullptr when none could be made.
  vg_gdip::TGPGraphics* Graphics() const { return graphics_; }
  // Whether this canvas draws whole-pixel operations straight into its buffer.
  bool DrawsWholePixels() const { return wholePixels_; }
  // Turns the whole-pixel paths off (or back on, for a window canvas whose GDI+ agrees with
  // them): what GDI+ alone draws, for comparisons.
  void SetDrawsWholePixels(bool value);
  // Whether GDI+ draws the whole-pixel operations exactly as the direct paths do; found out
  // once per process by drawing a few of them both ways.
  static bool WholePixelPathsAgree();

 private:
  void CreateTools();
  void ApplyGraphicsDefaults(bool bitmapTarget);
  void CreateFillBrush(const TvgRect& r, float opacity);
  void CreateStrokePen(const TvgRect& r, float opacity);
  void FillRectangle(const TvgRect& r, float opacity);
  void FillGPPath(vg_gdip::TGPGraphicsPath* path, const TvgRect& r, float opacity);
  void PaintVisual(const TvgRect& r, float opacity);
  // A font of the canvas font's size and style (or the first style the family has), kept
  // until the family, size or style changes.
  vg_gdip::TGPFont* TextFont();
  void ApplyTextHint();

  // --- Clip tracking and whole-pixel paths
  // The device bounds of a local rect under the matrix (its four corners).
  TvgRect DeviceBounds(const TvgRect& r) const;
  // The matrix moves by a translation only (the transform GDI+ holds is the matrix).
  bool IsTranslation() const;
  // The matrix keeps rects upright (no rotation, skew or perspective).
  bool IsRectangular() const;
  // Gives GDI+ the matrix and the clip it has not had yet; every GDI+ drawing call comes after.
  void SyncGraphics();
  void ApplyTransform();
  // Nothing of the local rect, grown by `margin` device pixels, can pass the clip.
  bool Culled(const TvgRect& r, float margin) const;
  // The device pixels a stroke may reach beyond its geometry (joins, caps, smoothing).
  float StrokeMargin() const;
  // Everything the clip lets through lies inside the rounded rect, away from its corners.
  bool ClipInsideCorners(const TvgRect& r, float xRadius, float yRadius) const;
  // Everything the clip lets through lies inside the rect's outline, beyond its stroke.
  bool ClipInsideOutline(const TvgRect& r, float xRadius, float yRadius) const;
  TvgPixelBuffer Buffer() const;
  // GDI may hold drawing back; the buffer is written directly only after it is done.
  void SyncBuffer() const;
  // A bitmap canvas is about to draw into its bitmap's pixels through GDI+: the bitmap learns
  // that they change.
  void TargetChanging() {
    if (!buffered_ && bitmap_) bitmap_->PixelsChanged();
  }
  // Each draws and answers true when it can do the operation on whole pixels, else leaves it
  // to GDI+.
  bool FillSolidDirect(const TvgRect& r, float opacity);
  bool FillTextureDirect(const TvgRect& r, float opacity);
  bool DrawBitmapDirect(TvgBitmap& bitmap, const TvgRect& src, const TvgRect& dst, float opacity);

  // --- Painted operations kept (window canvases drawing whole pixels)
  bool CanPaintCached() const;
  // Appends what the brush paints with; false for brushes a key cannot name (bitmaps, visuals).
  bool AddBrushKey(TvgPaintKey& key, TvgBrush* brush);
  void AddPenKey(TvgPaintKey& key) const;
  // A rectangle with corners, its opacity and the matrix.
  void AddRoundRectKey(TvgPaintKey& key, const TvgRect& r, float xRadius, float yRadius, TvgCorners corners,
                       float opacity, TvgCornerType cornerType) const;
  void AddFontKey(TvgPaintKey& key) const;
  // Paints the operation named by the key (completed with what `brush` paints with) as it
  // painted before at this place, or paints it through GDI+ on the scratch canvas and keeps it.
  // It reaches no further than `reach` (local) grown by `margin` device pixels. False when it
  // could not (the brush has no key; the caller paints through GDI+).
  template <typename F>
  bool PaintCached(TvgPaintKey& key, TvgBrush* brush, const TvgRect& reach, float margin, F&& paint);
  // A window canvas of this one's size drawing through GDI+ alone, for painting operations on
  // their own.
  TvgCanvasGdiPlus* Scratch();

  void* dib_ = nullptr;  // HBITMAP
  void* oldBitmap_ = nullptr;
  vg_gdip::TGPGraphics* graphics_ = nullptr;
  vg_gdip::TGPPen* pen_ = nullptr;
  vg_gdip::TGPBrush* strokeBrush_ = nullptr;
  vg_gdip::TGPBrush* fillBrush_ = nullptr;
  vg_gdip::TGPFontFamily* fontFamily_ = nullptr;
  vg_gdip::TGPPrivateFontCollection* privateFonts_ = nullptr;
  std::vector<std::unique_ptr<uint8_t[]>> fontMemory_;
  // The family name fontFamily_ was made for; a change of the private fonts makes it stale.
  std::string fontFamilyName_;
  bool fontFamilyStale_ = true;
  std::unique_ptr<vg_gdip::TGPFont> textFont_;
  float textFontSize_ = 0;
  int32_t textFontStyle_ = -1;
  TvgDeviceClip clip_;
  // What a save entry keeps beside TvgSaveData, by the entry's index: the clip, the
  // interpolation mode, and whether GDI+ saved its own state (else the canvas brings the
  // clip back itself and the entry's state index is kCanvasKeptState).
  struct TSavedState {
    TvgDeviceClip Clip;
    int32_t Interpolation = 0;
    bool Gdiplus = true;
    // The entry's copies (TvgSaveData points at them while it is in use); kept for reuse.
    std::unique_ptr<TvgBrush> Fill, Stroke;
    std::unique_ptr<TvgFont> Font;
  };
  static constexpr int32_t kCanvasKeptState = -2;
  std::vector<TSavedState> savedStates_;
  // A window canvas drawing whole pixels tells GDI+ its matrix and clip only when GDI+ draws.
  bool transformPending_ = false;
  bool clipPending_ = false;
  // The interpolation mode GDI+ holds (DrawBitmap sets it, restoring a state brings it back).
  int32_t interpolation_ = 0;
  // False after a transform GDI+ holds but the matrix does not show (MultiplyMatrix,
  // DrawThumbnail): nothing is culled or drawn directly until the next SetMatrix.
  bool transformKnown_ = true;
  bool wholePixels_ = false;
  TvgPaintCache paintCache_{kPaintCacheBytes};
  std::unique_ptr<TvgCanvasGdiPlus> scratch_;
  static constexpr size_t kPaintCacheBytes = 8u << 20;
};

// GDI+'s font style for a scene font style.
int32_t vgFontStyleToGdiPlus(TvgFontStyle style);

// Lets go of the GDI+ handle of every bitmap that holds one, while GDI+ still runs (StopGdiPlus
// calls it): bitmaps that outlive a stop get a new handle when they are next drawn.
void vgReleaseBitmapHandles();
