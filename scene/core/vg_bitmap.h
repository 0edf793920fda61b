// The scene's raster image (32-bit premultiplied ARGB pixels with change notifications, a
// resource link and the stream property "PNG") and the abstract image codec TvgFilter through
// which images enter and leave it. GUI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/Streams.h"
#include "vg_types.h"

class TFiler;
class TvgBitmap;
class TvgCanvas;

// --- Image codec

// The codec interface; the concrete class (the GDI+ codec) is installed at start-up with
// vgSetDefaultFilterClass. Each load or save creates one codec object, uses it once and frees it.
// A codec resizes the bitmap it loads into (SetSize) and writes premultiplied pixels. Format
// names are lower-case words ("png", "jpeg"); parameters are "name=value" lists ("quality=100").
class TvgFilter : public TPersistent {
  KBL_DECLARE_CLASS(TvgFilter, TPersistent)
 public:
  TvgFilter() = default;
  // The file masks the codec reads; "" in the base.
  virtual std::string GetFileTypes() { return std::string(); }
  // Width and height without loading; (0, 0) in the base.
  virtual TvgPoint GetImageSize(const std::string& fileName) { return TvgPoint(); }
  virtual bool LoadFromFile(const std::string& fileName, TvgBitmap& bitmap, float rotate) = 0;
  virtual bool LoadThumbnailFromFile(const std::string& fileName, bool useEmbedded, float fitWidth,
                                     float fitHeight, TvgBitmap& bitmap) = 0;
  virtual bool SaveToFile(const std::string& fileName, TvgBitmap& bitmap, const std::string& params) = 0;
  virtual bool LoadFromStream(TStream& stream, TvgBitmap& bitmap) = 0;
  virtual bool SaveToStream(TStream& stream, TvgBitmap& bitmap, const std::string& format,
                            const std::string& params) = 0;
};

// The JPEG qualities a codec parameter text asks for ("quality=80 other=1"), in order, each
// clamped to 0..100; items without "=", of other names or with unreadable values are left out.
std::vector<int32_t> vgFilterQualities(const std::string& params);

// The codec class in use (a class derived from TvgFilter); nullptr until one is installed.
void vgSetDefaultFilterClass(const TClassInfo* cls);
const TClassInfo* vgDefaultFilterClass();
// A new codec of the default class; nullptr when none is installed.
std::unique_ptr<TvgFilter> vgCreateDefaultFilter();

// The canvas back end: how a bitmap creates (and frees) the canvas that draws into it. Installed
// by the canvas unit; without it GetCanvas answers nullptr.
struct TvgBitmapCanvasHooks {
  TvgCanvas* (*Create)(TvgBitmap& bitmap) = nullptr;
  void (*Free)(TvgCanvas* canvas) = nullptr;
};
void vgSetBitmapCanvasHooks(const TvgBitmapCanvasHooks& hooks);

// --- Bitmap

class TvgBitmap : public TPersistent {
  KBL_DECLARE_CLASS(TvgBitmap, TPersistent)
 public:
  // Raises EOutOfMemory when the pixels cannot be had (also for sizes beyond 2^29 pixels);
  // negative sizes count as 0.
  explicit TvgBitmap(int32_t width = 0, int32_t height = 0);
  // An empty bitmap loaded from the stream's position through the codec.
  static std::unique_ptr<TvgBitmap> CreateFromStream(TStream& stream);
  ~TvgBitmap() override;

  // --- Size and pixels
  int32_t GetWidth() const { return width_; }
  int32_t GetHeight() const { return height_; }
  void SetWidth(int32_t width);
  void SetHeight(int32_t height);
  // Nothing when unchanged; otherwise new transparent pixels and OnChange.
  void SetSize(int32_t width, int32_t height);
  bool IsEmpty() const { return static_cast<int64_t>(width_) * height_ == 0; }
  // Top-down rows of premultiplied ARGB; nullptr when empty. Taking them for writing counts as
  // a change of the pixels (see PixelsId).
  uint32_t* Bits() {
    NewPixelsId();
    return bits_.empty() ? nullptr : bits_.data();
  }
  const uint32_t* Bits() const { return bits_.empty() ? nullptr : bits_.data(); }
  // Row y; nullptr outside the bitmap. Counts as a change of the pixels.
  uint32_t* Scanline(int32_t y);
  // A number naming the pixels as they are: it changes with every change of the pixels (and
  // every hand-out of them for writing), and a copy made by Assign takes the source's, so that
  // copying pixels already the same is skipped. 0 names pixels never told apart.
  uint64_t PixelsId() const { return pixelsId_; }
  // Pixels written without the bitmap's own members (drawing through its GDI+ handle) are
  // announced here.
  void PixelsChanged() { NewPixelsId(); }
  uint32_t Pixel(int32_t x, int32_t y) const;

  // --- Drawing
  // Every pixel becomes the colour (premultiplied); OnChange.
  virtual void Clear(TvgColor color);
  // Fills the part of the rect inside the bitmap (left and top truncated, right and bottom
  // rounded); no OnChange.
  virtual void ClearRect(const TvgRect& r, TvgColor color);
  void BitmapChanged() { OnChange(this); }
  void FlipVertical();
  // Alpha becomes 255 - alpha, colours kept.
  void InvertAlpha();
  // Every pixel with some coverage takes the colour at its own coverage.
  void FillColor(TvgColor color);
  // Width x Height alpha values, row by row.
  std::vector<uint8_t> CreateMask() const;
  // Cuts away where the mask (as made by CreateMask, placed at dx, dy) is opaque. A mask with
  // fewer than Width x Height bytes changes nothing.
  void ApplyMask(const std::vector<uint8_t>& mask, int32_t dx, int32_t dy);

  // --- Straight-alpha pixels (the class library's bitmaps)
  // Copies straight-alpha 32-bit rows in (premultiplying); `strideWords` is the row pitch.
  // With `transparent`, pixels whose RGB equals `transparentRgb` (0xRRGGBB) become 0.
  void AssignStraightPixels(int32_t width, int32_t height, const uint32_t* pixels, int32_t strideWords,
                            bool transparent = false, uint32_t transparentRgb = 0);
  // Copies 24-bit rows (blue, green, red bytes) in as opaque pixels, with the same transparent
  // colour rule.
  void AssignRgbPixels(int32_t width, int32_t height, const uint8_t* rows, int32_t strideBytes,
                       bool transparent = false, uint32_t transparentRgb = 0);
  // Writes the pixels as straight-alpha 32-bit rows (unpremultiplying, channels clamped to 255).
  void CopyToStraightPixels(uint32_t* pixels, int32_t strideWords) const;

  // --- Canvas and resource link
  // The canvas drawing into this bitmap, created on first use through the installed canvas
  // hooks; nullptr without them.
  TvgCanvas* GetCanvas();
  // The bitmap of the linked "TvgBitmapObject" (looked up by ResourceName when not linked
  // yet), or nullptr. Painting code uses it in place of the own pixels.
  TvgBitmap* GetBitmap();
  TComponent* GetResource() const { return resource_; }
  void SetResource(TComponent* resource);
  const std::string& GetResourceName() const { return resourceName_; }
  void SetResourceName(const std::string& name);

  // --- Files and streams (through the default codec; false without one)
  // A missing file does nothing.
  bool LoadFromFile(const std::string& fileName, float rotate = 0);
  bool SaveToFile(const std::string& fileName, const std::string& params = std::string());
  // From the stream's position; fires OnChange on success. A failed decode leaves the bitmap as
  // the codec left it.
  bool LoadFromStream(TStream& stream);
  // "jpeg" with "quality=100" when every pixel is opaque (also when empty), else "png".
  bool SaveToStream(TStream& stream);
  bool IsOpaque() const;

  // --- Persistence
  // From another bitmap: links to its resource when that resolves, else copies its pixels.
  void Assign(TPersistent* source) override;
  // The binary property "PNG" (the codec's data), written when there are pixels.
  void DefineProperties(TFiler& filer) override;

  TNotifyEvent OnChange;
  // Set whenever the pixels change; the drawing back end clears it after refreshing.
  bool NeedUpdate = false;
  // The back end's image object over the pixels; cleared whenever the pixels go.
  void* Handle = nullptr;
  TNotifyEvent NotifyDestroyPixels;
  TNotifyEvent NotifyAfterRecreate;
  TNotifyEvent NotifyBeforeRecreate;

 private:
  void Recreate();
  void FreeCanvas();
  void LinkResource(TComponent* resource);
  void UnlinkResource();
  void ResizeUnchecked(int32_t width, int32_t height);
  void NewPixelsId();

  std::vector<uint32_t> bits_;
  uint64_t pixelsId_ = 0;
  int32_t height_ = 0;
  int32_t width_ = 0;
  TComponent* resource_ = nullptr;
  std::string resourceName_;
  TvgCanvas* canvas_ = nullptr;
};
