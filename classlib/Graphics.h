// Pictures of the class library: colours, pens, brushes and fonts as persistent values, the
// abstract graphic, a device-independent bitmap held in memory, the picture object and its
// registry of file extensions. Portable: bitmaps are plain memory, drawing values plain values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Classes.h"
#include "Methods.h"
#include "Streams.h"
#include "SysUtils.h"
#include "TypInfo.h"

// --- Basic values

// A colour as 0x00BBGGRR (red in the low byte).
using TColor = int32_t;

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
};

inline TRect Rect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return TRect{left, top, right, bottom};
}

// One palette entry, in the order of a Windows PALETTEENTRY.
struct TPaletteEntry {
  uint8_t peRed = 0;
  uint8_t peGreen = 0;
  uint8_t peBlue = 0;
  uint8_t peFlags = 0;
  friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};
using TPaletteEntries = std::vector<TPaletteEntry>;

enum TPixelFormat : uint8_t {
  pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom,
};

enum TProgressStage : uint8_t { psStarting, psRunning, psEnding };

// Raised for a picture file that cannot be read or a graphic operation that cannot be done.
KBL_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
KBL_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);

// Progress of a long load or save: stage, percent done, whether the part in `rect` may be redrawn
// now, and a message text.
using TProgressEvent = TMethod<void(TObject* sender, TProgressStage stage, uint8_t percentDone,
                                    bool redrawNow, const TRect& rect, const std::string& message)>;

// --- Colours: 0x00BBGGRR, or a system colour as 0xFF0000nn (nn a COLOR_* index)

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
constexpr TColor clBtnFace = static_cast<TColor>(0xFF00000Fu);
constexpr TColor clWindow = static_cast<TColor>(0xFF000005u);
constexpr TColor clWindowText = static_cast<TColor>(0xFF000008u);
constexpr TColor clHighlight = static_cast<TColor>(0xFF00000Du);

// --- Pens, brushes and fonts

KBL_ENUM(TPenStyle, psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame)
// How the pen's colour mixes with what is under it (the raster operations of line drawing).
KBL_ENUM(TPenMode, pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
         pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor)
KBL_ENUM(TBrushStyle, bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross,
         bsDiagCross)
KBL_ENUM(TFontStyle, fsBold, fsItalic, fsUnderline, fsStrikeOut)
using TFontStyles = TEnumSet<TFontStyle>;

// Base of the three drawing values: a change notification for the canvas that uses it.
class TGraphicsObject : public TPersistent {
  KBL_DECLARE_CLASS(TGraphicsObject, TPersistent)
 public:
  TGraphicsObject() = default;
  TNotifyEvent OnChange;

 protected:
  void Changed() { OnChange(this); }
};

class TPen : public TGraphicsObject {
  KBL_DECLARE_CLASS(TPen, TGraphicsObject)
 public:
  TPen() = default;
  TColor GetColor() const { return color_; }
  void SetColor(TColor value);
  // Widths below 1 draw 1 pixel wide.
  int32_t GetWidth() const { return width_; }
  void SetWidth(int32_t value);
  TPenStyle GetStyle() const { return style_; }
  void SetStyle(TPenStyle value);
  TPenMode GetMode() const { return mode_; }
  void SetMode(TPenMode value);
  void Assign(TPersistent* source) override;

 private:
  TColor color_ = clBlack;
  int32_t width_ = 1;
  TPenStyle style_ = psSolid;
  TPenMode mode_ = pmCopy;
};

class TBrush : public TGraphicsObject {
  KBL_DECLARE_CLASS(TBrush, TGraphicsObject)
 public:
  TBrush() = default;
  TColor GetColor() const { return color_; }
  void SetColor(TColor value);
  TBrushStyle GetStyle() const { return style_; }
  void SetStyle(TBrushStyle value);
  void Assign(TPersistent* source) override;

 private:
  TColor color_ = clWhite;
  TBrushStyle style_ = bsSolid;
};

class TFont : public TGraphicsObject {
  KBL_DECLARE_CLASS(TFont, TGraphicsObject)
 public:
  TFont() = default;
  TColor GetColor() const { return color_; }
  void SetColor(TColor value);
  const std::string& GetName() const { return name_; }
  void SetName(const std::string& value);
  // Size in points; Height in pixels (negative: character height without leading). Setting one
  // sets the other at 96 pixels per inch.
  int32_t GetSize() const;
  void SetSize(int32_t value);
  int32_t GetHeight() const { return height_; }
  void SetHeight(int32_t value);
  TFontStyles GetStyle() const { return style_; }
  void SetStyle(TFontStyles value);
  void Assign(TPersistent* source) override;

 private:
  TColor color_ = clWindowText;
  std::string name_ = "Tahoma";
  int32_t height_ = -11;
  TFontStyles style_;
};

// --- TGraphic

// The abstract picture: a size, loading and saving through streams and files, and progress
// events. Descendants implement the stream operations.
class TGraphic : public TPersistent {
  KBL_DECLARE_CLASS(TGraphic, TPersistent)
 public:
  TGraphic() = default;

  virtual int32_t GetWidth() const = 0;
  virtual int32_t GetHeight() const = 0;
  virtual bool GetEmpty() const { return GetWidth() == 0 || GetHeight() == 0; }

  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void SaveToStream(TStream& stream) = 0;
  // Opens the file for reading (deny write) and loads it; EFOpenError when it cannot be opened.
  virtual void LoadFromFile(const std::string& fileName);
  // Creates or truncates the file and saves into it.
  virtual void SaveToFile(const std::string& fileName);

  bool GetTransparent() const { return transparent_; }
  virtual void SetTransparent(bool value) { transparent_ = value; }

  // Raises OnProgress (when assigned) with this graphic as the sender.
  virtual void Progress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                        const TRect& rect, const std::string& message);

  TProgressEvent OnProgress;

 private:
  bool transparent_ = false;
};

// --- TBitmap

// A device-independent bitmap in memory: rows top-down, each padded to a multiple of 4 bytes, the
// pixel layout of a Windows DIB (blue, green, red[, alpha] for 24 and 32 bits; 15 bits as
// x1r5g5b5 and 16 bits as r5g6b5 little-endian words; indexed formats packed most significant
// bits first). pfDevice is held as 32 bits; pfCustom holds no pixels.
class TBitmap : public TGraphic {
  KBL_DECLARE_CLASS(TBitmap, TGraphic)
 public:
  // Largest bitmap accepted, in bytes of pixel data, and largest side in pixels.
  static constexpr uint64_t kMaxPixelBytes = 256u * 1024 * 1024;
  static constexpr int32_t kMaxSide = 65535;

  TBitmap() = default;

  int32_t GetWidth() const override { return width_; }
  int32_t GetHeight() const override { return height_; }
  // Resizing keeps no pixels: the new bitmap is zero-filled. Sizes outside 0..kMaxSide or above
  // kMaxPixelBytes raise EInvalidGraphic ("Bitmap image is too large").
  void SetWidth(int32_t width) { SetSize(width, height_); }
  void SetHeight(int32_t height) { SetSize(width_, height); }
  void SetSize(int32_t width, int32_t height);

  TPixelFormat GetPixelFormat() const { return pixelFormat_; }
  // Changing the format keeps the size. From 1 or 4 to 8 bits the pixel values are kept (the
  // palette stays); any other change zero-fills the pixels.
  void SetPixelFormat(TPixelFormat format);
  // Bits per pixel of a format; 0 for pfCustom.
  static int32_t BitsPerPixelOf(TPixelFormat format);

  // The first byte of row y (0 = top); raises EInvalidGraphic for a row outside the bitmap.
  uint8_t* ScanLine(int32_t y);
  const uint8_t* ScanLine(int32_t y) const;
  // Bytes from one row to the next.
  int32_t RowStride() const { return stride_; }

  const TPaletteEntries& GetPalette() const { return palette_; }
  // Takes at most 256 entries.
  void SetPalette(const TPaletteEntries& palette);

  TColor GetTransparentColor() const { return transparentColor_; }
  void SetTransparentColor(TColor color) { transparentColor_ = color; }

  // Fills every pixel with `color` the way a canvas fill does: indexed formats take the nearest
  // palette entry, 32-bit pixels get alpha 0.
  void FillColor(TColor color);
  // The colour of one pixel (through the palette for indexed formats); 0 outside the bitmap.
  TColor GetPixelColor(int32_t x, int32_t y) const;
  // The raw value of one pixel of an indexed format (or the low byte of others); 0 outside.
  uint32_t GetPixelIndex(int32_t x, int32_t y) const;

  // Frees the pixels and the palette: an empty bitmap of the same format.
  void Clear();
  void Assign(TPersistent* source) override;

  // Windows bitmap files, uncompressed (1, 4, 8, 16, 24 and 32 bits). A file that is not one
  // raises EInvalidGraphic ("Bitmap image is not valid").
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  // A packed device-independent bitmap as the clipboard holds one (CF_DIB): an info header of
  // 12, 40, 52, 56, 108 or 124 bytes, masks, a colour table and the rows, uncompressed or with
  // bit-field masks (1, 4, 8, 16, 24 and 32 bits). The result is a 32-bit bitmap whose alpha is
  // the source's when it carries one (an alpha mask, or 32-bit pixels not all of alpha 0) and
  // opaque otherwise. Anything else, or a block too short for what its header says, raises
  // EInvalidGraphic ("Bitmap image is not valid") and leaves the bitmap as it was.
  void LoadFromDIB(const void* data, size_t size);

 private:
  void Allocate();
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t stride_ = 0;
  TPixelFormat pixelFormat_ = pfDevice;
  std::vector<uint8_t> pixels_;
  TPaletteEntries palette_;
  TColor transparentColor_ = 0;
};

// --- Pictures the class library knows but cannot decode portably

// Icons and metafiles: registered with the picture registry so that their extensions resolve;
// loading them raises EInvalidGraphic. (JPEG images: Jpeg.h.)
class TIcon : public TGraphic {
  KBL_DECLARE_CLASS(TIcon, TGraphic)
 public:
  TIcon() = default;
  int32_t GetWidth() const override { return 0; }
  int32_t GetHeight() const override { return 0; }
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
};

class TMetafile : public TGraphic {
  KBL_DECLARE_CLASS(TMetafile, TGraphic)
 public:
  TMetafile() = default;
  int32_t GetWidth() const override { return 0; }
  int32_t GetHeight() const override { return 0; }
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
};

// --- TPicture and the picture registry

// Holds one graphic, created from the class the registry binds to a file's extension.
class TPicture : public TPersistent {
  KBL_DECLARE_CLASS(TPicture, TPersistent)
 public:
  TPicture() = default;
  ~TPicture() override;

  // The graphic held (owned), or nullptr.
  TGraphic* GetGraphic() const { return graphic_; }

  // Creates the graphic of the class registered for the file's extension and loads the file.
  // An unknown extension raises EInvalidGraphic ("Unknown picture file extension (.ext)"); the
  // previous graphic is kept when loading fails.
  void LoadFromFile(const std::string& fileName);

  // Registry (shared by the module; not thread-safe, used at start-up and shut-down).
  // Binds an extension (without the dot, any letter case) to a graphic class, replacing an
  // earlier binding of the same extension.
  static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                 const TClassInfo* graphicClass);
  // Removes one extension (any letter case); nothing when it is unknown.
  static void UnregisterFileFormat(const std::string& extension);
  // Removes every extension bound to the class.
  static void UnregisterGraphicClass(const TClassInfo* graphicClass);
  // The class bound to an extension, or nullptr.
  static const TClassInfo* GraphicClassOf(const std::string& extension);
  // The description registered with an extension ("" when unknown).
  static std::string FileFormatDescription(const std::string& extension);
  // Number of extensions bound to a class (all extensions for nullptr).
  static int32_t RegisteredFormatCount(const TClassInfo* graphicClass = nullptr);

 private:
  TGraphic* graphic_ = nullptr;
};
