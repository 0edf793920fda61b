// The GDI+ binding: loads gdiplus.dll at run time, starts and stops GDI+, finds image encoders, and
// wraps the GDI+ handles the canvas and the codec use in small objects that keep the last failed
// status. GUI thread only; nothing here raises on a GDI+ failure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gdiplus_flat_p.h"

// Loads gdiplus.dll (the host's folder first, then three folders above it, then the system's
// search order), resolves its entry points and starts GDI+. Does nothing when already loaded; a
// library that cannot be loaded leaves GDI+ stopped. Also installs the GDI+ codec and canvas as
// the scene's defaults.
void StartGdiPlus();
// Frees the cached generic objects, shuts GDI+ down and unloads the library. Nothing when not
// loaded. Canvases and bitmaps' GDI+ handles must be gone before.
void StopGdiPlus();
// True between StartGdiPlus and StopGdiPlus when the library was found.
bool GdiPlusStarted();
// The path of the loaded library; empty when none is loaded.
std::string GdiPlusLibraryPath();
// The index of the encoder whose MIME type equals `mimeType` (case-sensitive; the last match
// wins) with its class id, or -1.
int32_t GetEncoderClsid(const std::string& mimeType, vg_gdip::GpGuid& clsid);
// Installs TvgFilterGdiPlus as the default codec and TvgCanvasGdiPlus as the default canvas
// class when none is set. Run by StartGdiPlus and at start-up.
void vgInstallGdiPlusClasses();

// --- Wrapper objects

namespace vg_gdip {

// Base of the wrappers: instances live in GDI+'s own heap (GdipAlloc/GdipFree); each holds its
// handle and the last status that was not Ok.
class TGdiplusBase {
 public:
  TGdiplusBase() = default;
  TGdiplusBase(const TGdiplusBase&) = delete;
  TGdiplusBase& operator=(const TGdiplusBase&) = delete;
  virtual ~TGdiplusBase() = default;
  static void* operator new(size_t size);
  static void operator delete(void* p);

  GpHandle Handle() const { return handle_; }
  GpStatus GetLastStatus() const { return lastResult_; }

 protected:
  GpStatus SetStatus(GpStatus status) {
    if (status != Ok) lastResult_ = status;
    return status;
  }
  GpHandle handle_ = nullptr;
  GpStatus lastResult_ = Ok;
};

class TGPRegion : public TGdiplusBase {
 public:
  TGPRegion();
  explicit TGPRegion(GpHandle path);
  ~TGPRegion() override;
  GpStatus MakeEmpty();
  GpStatus Union(const GpRectF& r);
  GpStatus GetBounds(GpRectF& r, GpHandle graphics);
  // Takes over a handle made elsewhere (regions filled by a measure).
  static TGPRegion* Adopt(GpHandle handle);

 private:
  struct AdoptTag {};
  explicit TGPRegion(AdoptTag) {}
};

class TGPFontCollection : public TGdiplusBase {};

class TGPPrivateFontCollection : public TGPFontCollection {
 public:
  TGPPrivateFontCollection();
  ~TGPPrivateFontCollection() override;
  GpStatus AddMemoryFont(const void* memory, int32_t length);
};

class TGPFontFamily : public TGdiplusBase {
 public:
  // A family by name from the collection (installed fonts when nullptr).
  TGPFontFamily(const std::u16string& name, TGPFontCollection* collection);
  ~TGPFontFamily() override;
  bool IsAvailable() const { return handle_ != nullptr; }
  bool IsStyleAvailable(int32_t style);
  // A copy of the generic sans-serif family (the cached one stays).
  static TGPFontFamily* CloneGenericSansSerif();
  // A copy of a sans-serif family of the installed fonts, for systems whose GDI+ knows neither
  // the named family nor a generic one: a well-known sans-serif face when one is installed, else
  // the first family named "Sans" (not "Mono"), else the first installed family. Not available
  // when no font is installed. The choice is made once per start of GDI+.
  static TGPFontFamily* CloneInstalledSansSerif();
  // The family's name (empty when it has none).
  std::u16string Name();

 private:
  TGPFontFamily() = default;
};

class TGPFont : public TGdiplusBase {
 public:
  TGPFont(TGPFontFamily* family, float emSize, int32_t style, int32_t unit);
  ~TGPFont() override;
};

class TGPImage : public TGdiplusBase {
 public:
  // Loads from an IStream (with embedded colour management when `icm`).
  TGPImage(void* stream, bool icm);
  ~TGPImage() override;
  uint32_t GetWidth();
  uint32_t GetHeight();
  float GetHorizontalResolution();
  float GetVerticalResolution();
  // nullptr when GDI+ gives no thumbnail.
  TGPImage* GetThumbnailImage(uint32_t width, uint32_t height);
  GpStatus RotateFlip(int32_t type);
  GpStatus Save(const std::u16string& fileName, const GpGuid& clsid, const void* params);
  GpStatus Save(void* stream, const GpGuid& clsid, const void* params);

 protected:
  TGPImage() = default;
};

class TGPBitmap : public TGPImage {
 public:
  // Decoded from an IStream.
  TGPBitmap(void* stream, bool icm, int);
  // Over pixels that stay the caller's.
  TGPBitmap(int32_t width, int32_t height, int32_t stride, int32_t format, void* scan0);
  GpStatus LockBits(const GpRect& r, uint32_t flags, int32_t format, GpBitmapData& data);
  GpStatus UnlockBits(GpBitmapData& data);
  GpStatus SetResolution(float x, float y);
};

class TGPImageAttributes : public TGdiplusBase {
 public:
  TGPImageAttributes();
  ~TGPImageAttributes() override;
  GpStatus SetColorMatrix(const GpColorMatrix& m, int32_t flags, int32_t type);
};

class TGPMatrix : public TGdiplusBase {
 public:
  TGPMatrix(float m11, float m12, float m21, float m22, float dx, float dy);
  ~TGPMatrix() override;
  GpStatus Shear(float x, float y, int32_t order);
};

class TGPBrush : public TGdiplusBase {
 public:
  ~TGPBrush() override;
  TGPBrush* Clone();

 protected:
  TGPBrush() = default;
};

class TGPSolidBrush : public TGPBrush {
 public:
  explicit TGPSolidBrush(ARGB color);
};

class TGPTextureBrush : public TGPBrush {
 public:
  TGPTextureBrush(TGPImage* image, int32_t wrapMode);
  TGPTextureBrush(TGPImage* image, const GpRectF& r, TGPImageAttributes* attributes);
  GpStatus ScaleTransform(float sx, float sy, int32_t order);
  GpStatus SetWrapMode(int32_t mode);
};

class TGPLinearGradientBrush : public TGPBrush {
 public:
  TGPLinearGradientBrush(const GpPointF& p1, const GpPointF& p2, ARGB c1, ARGB c2, int32_t wrapMode);
  GpStatus SetInterpolationColors(const ARGB* colors, const float* positions, int32_t count);
  GpStatus ScaleTransform(float sx, float sy, int32_t order);
  GpStatus SetWrapMode(int32_t mode);
};

class TGPGraphicsPath;

class TGPPathGradientBrush : public TGPBrush {
 public:
  explicit TGPPathGradientBrush(TGPGraphicsPath* path);
  GpStatus SetInterpolationColors(const ARGB* colors, const float* positions, int32_t count);
  GpStatus SetTransform(TGPMatrix* matrix);
  GpStatus SetWrapMode(int32_t mode);
};

class TGPPen : public TGdiplusBase {
 public:
  TGPPen(ARGB color, float width);
  TGPPen(TGPBrush* brush, float width);
  ~TGPPen() override;
  GpStatus SetWidth(float width);
  GpStatus SetLineCap(int32_t start, int32_t end, int32_t dash);
  GpStatus SetLineJoin(int32_t join);
  GpStatus SetDashStyle(int32_t style);
  GpStatus SetDashOffset(float offset);
  GpStatus SetDashPattern(const float* values, int32_t count);
};

class TGPStringFormat : public TGdiplusBase {
 public:
  explicit TGPStringFormat(int32_t flags = 0);
  ~TGPStringFormat() override;
  int32_t GetFormatFlags();
  GpStatus SetFormatFlags(int32_t flags);
  GpStatus SetAlignment(int32_t align);
  GpStatus SetLineAlignment(int32_t align);
  GpStatus SetMeasurableCharacterRanges(int32_t count, const GpCharacterRange* ranges);
  int32_t GetMeasurableCharacterRangeCount();
};

class TGPGraphicsPath : public TGdiplusBase {
 public:
  explicit TGPGraphicsPath(int32_t fillMode = 0);
  ~TGPGraphicsPath() override;
  GpStatus StartFigure();
  GpStatus CloseFigure();
  GpStatus AddLine(float x1, float y1, float x2, float y2);
  GpStatus AddBezier(const GpPointF& p1, const GpPointF& p2, const GpPointF& p3, const GpPointF& p4);
  GpStatus AddEllipse(float x, float y, float w, float h);
  GpStatus AddString(const std::u16string& text, TGPFontFamily* family, int32_t style, float emSize,
                     const GpRectF& layout, TGPStringFormat* format);
  int32_t GetPointCount();
  // The points and their types; empty when GDI+ fails or memory runs out.
  GpStatus GetPathData(std::vector<GpPointF>& points, std::vector<uint8_t>& types);
  bool IsVisible(float x, float y);
};

class TGPGraphics : public TGdiplusBase {
 public:
  // On a device context, or on an image (the image stays the caller's).
  explicit TGPGraphics(void* hdc);
  explicit TGPGraphics(TGPImage* image);
  ~TGPGraphics() override;
  GpStatus SetCompositingMode(int32_t mode);
  GpStatus SetTextRenderingHint(int32_t hint);
  GpStatus SetTextContrast(uint32_t contrast);
  GpStatus SetInterpolationMode(int32_t mode);
  GpStatus SetSmoothingMode(int32_t mode);
  GpStatus SetPixelOffsetMode(int32_t mode);
  GpStatus SetTransform(TGPMatrix* matrix);
  GpStatus MultiplyTransform(TGPMatrix* matrix, int32_t order);
  GpStatus ScaleTransform(float sx, float sy, int32_t order);
  GpStatus DrawLine(TGPPen* pen, float x1, float y1, float x2, float y2);
  GpStatus DrawBezier(TGPPen* pen, const GpPointF& p1, const GpPointF& p2, const GpPointF& p3, const GpPointF& p4);
  GpStatus DrawRectangle(TGPPen* pen, float x, float y, float w, float h);
  GpStatus DrawEllipse(TGPPen* pen, float x, float y, float w, float h);
  GpStatus DrawPath(TGPPen* pen, TGPGraphicsPath* path);
  GpStatus FillRectangle(TGPBrush* brush, float x, float y, float w, float h);
  GpStatus FillPath(TGPBrush* brush, TGPGraphicsPath* path);
  GpStatus DrawString(const std::u16string& text, TGPFont* font, const GpRectF& layout, TGPStringFormat* format,
                      TGPBrush* brush);
  GpStatus MeasureCharacterRanges(const std::u16string& text, TGPFont* font, const GpRectF& layout,
                                  TGPStringFormat* format, int32_t count, TGPRegion** regions);
  GpStatus DrawImage(TGPImage* image, float x, float y, float w, float h);
  GpStatus DrawImage(TGPImage* image, int32_t x, int32_t y);
  GpStatus DrawImage(TGPImage* image, int32_t x, int32_t y, int32_t w, int32_t h);
  GpStatus DrawImage(TGPImage* image, const GpRectF& dst, float sx, float sy, float sw, float sh, int32_t unit,
                     TGPImageAttributes* attributes);
  GpStatus SetClip(TGPRegion* region, int32_t mode);
  GpStatus SetClip(const GpRectF& r, int32_t mode);
  GpStatus ResetClip();
  // The bounds of the clip in world units (a huge rect without a clip).
  GpStatus GetClipBounds(GpRectF& r);
  uint32_t Save();
  GpStatus Restore(uint32_t state);
};

}  // namespace vg_gdip
