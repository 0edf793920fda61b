// TvgCanvasGdiPlus: the canvas that draws through GDI+, either into an off-screen DIB section that
// is copied to a window's device context, or straight into a TvgBitmap's pixels. GDI+ must be
// started (StartGdiPlus) before one is created. GDI+ failures never raise: a brush that cannot be
// built is a transparent one and a failed call draws nothing.
#pragma once

#include <cstdint>
#include <memory>

#include "vg_canvas.h"
#include "vg_gdiplus.h"

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

 private:
  void CreateTools();
  void ApplyGraphicsDefaults(bool bitmapTarget);
  void CreateFillBrush(const TvgRect& r, float opacity);
  void CreateStrokePen(const TvgRect& r, float opacity);
  void FillRectangle(const TvgRect& r, float opacity);
  void FillGPPath(vg_gdip::TGPGraphicsPath* path, const TvgRect& r, float opacity);
  void PaintVisual(const TvgRect& r, float opacity);
  // A font of the canvas font's size and style (or the first style the family has).
  std::unique_ptr<vg_gdip::TGPFont> CreateTextFont();
  void ApplyTextHint();

  void* dib_ = nullptr;  // HBITMAP
  void* oldBitmap_ = nullptr;
  vg_gdip::TGPGraphics* graphics_ = nullptr;
  vg_gdip::TGPPen* pen_ = nullptr;
  vg_gdip::TGPBrush* strokeBrush_ = nullptr;
  vg_gdip::TGPBrush* fillBrush_ = nullptr;
  vg_gdip::TGPFontFamily* fontFamily_ = nullptr;
  vg_gdip::TGPPrivateFontCollection* privateFonts_ = nullptr;
  std::vector<std::unique_ptr<uint8_t[]>> fontMemory_;
};

// GDI+'s font style for a scene font style.
int32_t vgFontStyleToGdiPlus(TvgFontStyle style);

// Lets go of the GDI+ handle of every bitmap that holds one, while GDI+ still runs (StopGdiPlus
// calls it): bitmaps that outlive a stop get a new handle when they are next drawn.
void vgReleaseBitmapHandles();
