// Colour manager of the image library: converts pixel rows from the layout an image file stores
// to the layout of the bitmap a reader fills, and builds gamma tables and palettes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "classlib/Graphics.h"
#include "classlib/SysUtils.h"

KBL_DECLARE_EXCEPTION(EColorConversionError, Exception);

enum TPixelScheme : uint8_t {
  psUnknown, psIndexed, psGray, psGrayAlpha, psRGB, psRGBA, psBGR, psBGRA, psCMY, psCMYK, psLab,
  psYCbCr, psPhotoYCC,
};

// Per-side option bits.
enum TPixelOption : uint8_t {
  poAlpha = 1,        // computed from the scheme by the manager
  poGamma = 2,        // target side: apply the gamma table
  poSwapBytes = 4,    // source side: 16-bit samples are stored with their bytes swapped
  poLabPercent = 8,   // source side: L* stored as 0..255, divided by 2.55
  poLabOffset = 16,   // source side: a* and b* stored with an offset of 128
};
using TPixelOptions = uint8_t;

// How palette data handed to MakeColorPalette is laid out.
enum TPaletteLayout : uint8_t {
  pfInterlaced8Triple = 0,  // r g b r g b ... (or b g r with ReverseOrder)
  pfInterlaced8Quad = 1,    // r g b x ...
  pfPlane8Triple = 2,       // three 8-bit planes red, green, blue
  pfPlane8Quad = 3,
  pfInterlaced16Triple = 4,  // 16-bit words, b g r (r g b with ReverseOrder)
  pfInterlaced16Quad = 5,
  pfPlane16Triple = 6,      // three 16-bit planes red, green, blue
  pfPlane16Quad = 7,
};

// Converts rows between pixel layouts. Not thread-safe; each picture owns one.
class TColorManager {
 public:
  TColorManager();

  // --- Settings. Depth setters accept 1..16 and sample-count setters 1..4, else they raise
  // EColorConversionError and change nothing. Any change makes the next conversion choose its
  // converter again.
  uint8_t GetSourceBitsPerSample() const { return sourceBPS_; }
  void SetSourceBitsPerSample(uint8_t value);
  uint8_t GetTargetBitsPerSample() const { return targetBPS_; }
  void SetTargetBitsPerSample(uint8_t value);
  uint8_t GetSourceSamplesPerPixel() const { return sourceSPP_; }
  void SetSourceSamplesPerPixel(uint8_t value);
  uint8_t GetTargetSamplesPerPixel() const { return targetSPP_; }
  void SetTargetSamplesPerPixel(uint8_t value);
  TPixelScheme GetSourceScheme() const { return sourceScheme_; }
  void SetSourceScheme(TPixelScheme value);
  TPixelScheme GetTargetScheme() const { return targetScheme_; }
  void SetTargetScheme(TPixelScheme value);
  TPixelOptions GetSourceOptions() const { return sourceOptions_; }
  void SetSourceOptions(TPixelOptions value);
  TPixelOptions GetTargetOptions() const { return targetOptions_; }
  void SetTargetOptions(TPixelOptions value);

  float GetFileGamma() const { return fileGamma_; }
  float GetDisplayGamma() const { return displayGamma_; }
  // Gammas of 0 or below take the defaults 1.0 and 2.2; rebuilds the 8-bit gamma table.
  void SetGammaValues(float fileGamma, float displayGamma);
  uint8_t GammaTable(uint8_t index) const { return gamma_[index]; }

  // Coefficients (1 to 3 values: red, green, blue luma) and the subsampling factors (1, 2 or 4,
  // vertical not above horizontal). The coefficients are stored before the checks.
  void SetYCbCrValues(std::initializer_list<float> coefficients, uint8_t horizontalSubsampling,
                      uint8_t verticalSubsampling);
  void SetYCbCrValues(const std::vector<float>& coefficients, uint8_t horizontalSubsampling,
                      uint8_t verticalSubsampling);
  float LumaRed() const { return lumaRed_; }
  float LumaGreen() const { return lumaGreen_; }
  float LumaBlue() const { return lumaBlue_; }
  uint8_t HorizontalSubsampling() const { return hSub_; }
  uint8_t VerticalSubsampling() const { return vSub_; }

  // Bitmap pixel format matching one side's samples and depth (0 source, 1 target).
  TPixelFormat PixelFormatFor(int side) const;

  // Converts `count` pixels from `source` (one pointer for interleaved samples, one per plane
  // otherwise) into `target`. Pixel i is written when `mask` has bit 7 - (i mod 8) set; source
  // pointers advance only over written pixels. Raises EColorConversionError when no converter
  // fits the settings. The caller sizes the rows: see SourceRowBytes and TargetRowBytes.
  void ConvertPixelRow(const uint8_t* const* source, int32_t planeCount, uint8_t* target,
                       int32_t count, uint8_t mask);
  void ConvertPixelRow(std::initializer_list<const uint8_t*> source, uint8_t* target,
                       int32_t count, uint8_t mask) {
    ConvertPixelRow(source.begin(), static_cast<int32_t>(source.size()), target, count, mask);
  }

  // Upper bounds of the bytes one converted row of `count` pixels reads from each source
  // pointer and writes to the target, for the current settings.
  int64_t SourceRowBytes(int32_t count, int32_t planeCount) const;
  int64_t TargetRowBytes(int32_t count) const;

  // A palette of min(colorCount, 256) entries from data laid out as `layout` (see the enum);
  // `data` holds one pointer for interleaved layouts, three for planes. Entries are resampled
  // to the target depth when source and target depths differ and the target is at most 8 bits.
  TPaletteEntries MakeColorPalette(std::initializer_list<const void*> data, TPaletteLayout layout,
                                   int32_t colorCount, bool reverseOrder) const;
  // Grey levels for the target depth; with `minimumIsWhite` the first entry is white.
  TPaletteEntries MakeGrayPalette(bool minimumIsWhite) const;

 private:
  using TConverter = void (TColorManager::*)(const uint8_t* const*, int32_t, uint8_t*, int32_t,
                                             uint8_t);
  void ChooseConverter();
  void BuildChromaTables();

  void RowConvertRGB(const uint8_t* const*, int32_t, uint8_t*, int32_t, uint8_t);
  void RowConvertBGR(const uint8_t* const*, int32_t, uint8_t*, int32_t, uint8_t);
  void RowConvertCMYK2BGR(const uint8_t* const*, int32_t, uint8_t*, int32_t, uint8_t);
  void RowConvertCMYK2RGB(const uint8_t* const*, int32_t, uint8_t*, int32_t, uint8_t);
  void RowConvertCIELab2BGR(const uint8_t* const*, int32_t, uint8_t*, int32_t, uint8_t);
  void RowConvertCIELab2RGB(const uint8_t* const*, int32_t, uint8_t*, int32_t, uint8_t);
  void RowConvertYCbCr2BGR(const uint8_t* const*, int32_t, uint8_t*, int32_t, uint8_t);
  void RowConvertYCbCr2RGB(const uint8_t* const*, int32_t, uint8_t*, int32_t, uint8_t);
  void RowConvertGray(const uint8_t* const*, int32_t, uint8_t*, int32_t, uint8_t);
  void RowConvertIndexed8(const uint8_t* const*, int32_t, uint8_t*, int32_t, uint8_t);
  void RowConvertIndexedBoth16(const uint8_t* const*, int32_t, uint8_t*, int32_t, uint8_t);
  void RowConvertIndexedSource16(const uint8_t* const*, int32_t, uint8_t*, int32_t, uint8_t);
  void RowConvertIndexedTarget16(const uint8_t* const*, int32_t, uint8_t*, int32_t, uint8_t);

  static void ThreeComponentBytes(const uint8_t* source, int32_t sourceStep, uint8_t* target,
                                  int32_t targetStep, int32_t count, bool reversed, bool copyAlpha);
  void ThreeComponent(const uint8_t* const* source, int32_t planeCount, uint8_t* target,
                      int32_t count, uint8_t mask, bool reversed);
  void CMYK(const uint8_t* const* source, int32_t planeCount, uint8_t* target, int32_t count,
            uint8_t mask, bool blueFirst);
  void CIELab(const uint8_t* const* source, int32_t planeCount, uint8_t* target, int32_t count,
              uint8_t mask, bool blueFirst);
  void YCbCr(const uint8_t* const* source, int32_t planeCount, uint8_t* target, int32_t count,
             uint8_t mask, bool blueFirst);

  bool changed_ = true;
  uint8_t sourceBPS_ = 8;
  uint8_t targetBPS_ = 8;
  uint8_t sourceSPP_ = 3;
  uint8_t targetSPP_ = 3;
  float fileGamma_ = 1.0f;
  float displayGamma_ = 2.2f;
  uint8_t gamma_[256] = {};
  float lumaRed_ = 0.299f;
  float lumaGreen_ = 0.587f;
  float lumaBlue_ = 0.114f;
  uint8_t hSub_ = 1;
  uint8_t vSub_ = 1;
  std::vector<int32_t> crToRed_, cbToBlue_, crToGreen_, cbToGreen_;
  TPixelScheme sourceScheme_ = psRGB;
  TPixelScheme targetScheme_ = psBGR;
  TConverter converter_ = nullptr;
  TPixelOptions sourceOptions_ = 0;
  TPixelOptions targetOptions_ = 0;
};
