// Colour manager: settings, converter choice, gamma and chroma tables, palettes.
#include "GraphicColor.h"

#include <algorithm>
#include <cmath>

#include "GraphicStrings.h"

using namespace GraphicStrings;

namespace {

bool HasAlpha(TPixelScheme scheme) {
  return scheme == psGrayAlpha || scheme == psRGBA || scheme == psBGRA;
}

bool IsPaletteSource(TPixelScheme scheme) {
  return scheme == psIndexed || scheme == psGray || scheme == psGrayAlpha;
}

bool IsPaletteTarget(TPixelScheme scheme) { return scheme == psIndexed || scheme == psGray; }

bool IsRedFirst(TPixelScheme scheme) { return scheme == psRGB || scheme == psRGBA; }
bool IsBlueFirst(TPixelScheme scheme) { return scheme == psBGR || scheme == psBGRA; }

// Samples a converter reads or writes per pixel for a scheme.
int32_t SchemeSamples(TPixelScheme scheme) {
  switch (scheme) {
    case psIndexed:
    case psGray: return 1;
    case psGrayAlpha: return 2;
    case psRGBA:
    case psBGRA:
    case psCMYK: return 4;
    default: return 3;
  }
}

}  // namespace

TColorManager::TColorManager() { SetGammaValues(1.0f, 2.2f); }

// --- Settings

void TColorManager::SetSourceBitsPerSample(uint8_t value) {
  if (value < 1 || value > 16) throw EColorConversionError(gesInvalidColorDepth);
  if (sourceBPS_ != value) {
    sourceBPS_ = value;
    changed_ = true;
  }
}

void TColorManager::SetTargetBitsPerSample(uint8_t value) {
  if (value < 1 || value > 16) throw EColorConversionError(gesInvalidColorDepth);
  if (targetBPS_ != value) {
    targetBPS_ = value;
    changed_ = true;
  }
}

void TColorManager::SetSourceSamplesPerPixel(uint8_t value) {
  if (value < 1 || value > 4) throw EColorConversionError(gesInvalidSampleCount);
  if (sourceSPP_ != value) {
    sourceSPP_ = value;
    changed_ = true;
  }
}

void TColorManager::SetTargetSamplesPerPixel(uint8_t value) {
  if (value < 1 || value > 4) throw EColorConversionError(gesInvalidSampleCount);
  if (targetSPP_ != value) {
    targetSPP_ = value;
    changed_ = true;
  }
}

void TColorManager::SetSourceScheme(TPixelScheme value) {
  if (sourceScheme_ != value) {
    sourceScheme_ = value;
    changed_ = true;
  }
}

void TColorManager::SetTargetScheme(TPixelScheme value) {
  if (targetScheme_ != value) {
    targetScheme_ = value;
    changed_ = true;
  }
}

void TColorManager::SetSourceOptions(TPixelOptions value) {
  if (sourceOptions_ != value) {
    sourceOptions_ = value;
    changed_ = true;
  }
}

void TColorManager::SetTargetOptions(TPixelOptions value) {
  if (targetOptions_ != value) {
    targetOptions_ = value;
    changed_ = true;
  }
}

void TColorManager::SetGammaValues(float fileGamma, float displayGamma) {
  fileGamma_ = fileGamma > 0 ? fileGamma : 1.0f;
  displayGamma_ = displayGamma > 0 ? displayGamma : 2.2f;
  long double exponent = 1.0L / (static_cast<long double>(fileGamma_) * displayGamma_);
  // The table is indexed by source samples, so its input range follows the source depth.
  int32_t maxIn = sourceBPS_ >= 8 ? 255 : (1 << sourceBPS_) - 1;
  int32_t maxOut = targetBPS_ >= 8 ? 255 : (1 << targetBPS_) - 1;
  for (int32_t i = 0; i <= maxIn; ++i) {
    long double v = std::pow(static_cast<long double>(i) / maxIn, exponent) * maxOut;
    gamma_[i] = static_cast<uint8_t>(Round(static_cast<double>(v)));
  }
}

void TColorManager::SetYCbCrValues(std::initializer_list<float> coefficients,
                                   uint8_t horizontalSubsampling, uint8_t verticalSubsampling) {
  SetYCbCrValues(std::vector<float>(coefficients), horizontalSubsampling, verticalSubsampling);
}

void TColorManager::SetYCbCrValues(const std::vector<float>& coefficients,
                                   uint8_t horizontalSubsampling, uint8_t verticalSubsampling) {
  if (!coefficients.empty()) lumaRed_ = coefficients[0];
  if (coefficients.size() > 1) lumaGreen_ = coefficients[1];
  if (coefficients.size() > 2) lumaBlue_ = coefficients[2];
  auto valid = [](uint8_t v) { return v == 1 || v == 2 || v == 4; };
  if (!valid(horizontalSubsampling) || !valid(verticalSubsampling))
    throw EColorConversionError(gesInvalidSubSampling);
  if (horizontalSubsampling < verticalSubsampling)
    throw EColorConversionError(gesVerticalSubSamplingError);
  hSub_ = horizontalSubsampling;
  vSub_ = verticalSubsampling;
}

TPixelFormat TColorManager::PixelFormatFor(int side) const {
  uint8_t samples = side == 0 ? sourceSPP_ : targetSPP_;
  uint8_t bits = side == 0 ? sourceBPS_ : targetBPS_;
  switch (samples) {
    case 1:
      if (bits == 1) return pf1bit;
      if (bits >= 2 && bits <= 4) return pf4bit;
      if (bits >= 8 && bits <= 16) return pf8bit;
      return pfCustom;
    case 3: return bits <= 5 ? pf15bit : pf24bit;
    case 4: return bits >= 8 ? pf32bit : pfCustom;
    default: return pfCustom;
  }
}

// --- Converter choice

void TColorManager::ChooseConverter() {
  converter_ = nullptr;
  if (IsPaletteSource(sourceScheme_) != IsPaletteTarget(targetScheme_))
    throw EColorConversionError(gesIndexedNotSupported);
  sourceOptions_ = static_cast<TPixelOptions>(HasAlpha(sourceScheme_) ? sourceOptions_ | poAlpha
                                                                      : sourceOptions_ & ~poAlpha);
  targetOptions_ = static_cast<TPixelOptions>(HasAlpha(targetScheme_) ? targetOptions_ | poAlpha
                                                                      : targetOptions_ & ~poAlpha);
  uint8_t s = sourceBPS_, t = targetBPS_;
  bool targetRed = IsRedFirst(targetScheme_), targetBlue = IsBlueFirst(targetScheme_);
  switch (sourceScheme_) {
    case psIndexed:
      if (s == 16 && t == 16) converter_ = &TColorManager::RowConvertIndexedBoth16;
      else if (s == 16) converter_ = &TColorManager::RowConvertIndexedSource16;
      else if (t == 16) converter_ = &TColorManager::RowConvertIndexedTarget16;
      else converter_ = &TColorManager::RowConvertIndexed8;
      break;
    case psGray:
      if (s == 16 || t == 16) {
        if (s >= 8 && t >= 8) converter_ = &TColorManager::RowConvertGray;
      } else {
        converter_ = &TColorManager::RowConvertIndexed8;
      }
      break;
    case psGrayAlpha:
      if ((s == 8 || s == 16) && (t == 8 || t == 16)) converter_ = &TColorManager::RowConvertGray;
      break;
    case psRGB:
    case psRGBA:
      if (targetRed) converter_ = &TColorManager::RowConvertRGB;
      else if (targetBlue) converter_ = &TColorManager::RowConvertBGR;
      break;
    case psBGR:
    case psBGRA:
      if (targetRed) converter_ = &TColorManager::RowConvertBGR;
      else if (targetBlue) converter_ = &TColorManager::RowConvertRGB;
      break;
    case psCMYK:
      if (targetRed) converter_ = &TColorManager::RowConvertCMYK2RGB;
      else if (targetBlue) converter_ = &TColorManager::RowConvertCMYK2BGR;
      break;
    case psLab:
      if (targetRed) converter_ = &TColorManager::RowConvertCIELab2RGB;
      else if (targetBlue) converter_ = &TColorManager::RowConvertCIELab2BGR;
      break;
    case psYCbCr:
    case psPhotoYCC:
      if (targetRed || targetBlue) {
        BuildChromaTables();
        converter_ = targetRed ? &TColorManager::RowConvertYCbCr2RGB
                               : &TColorManager::RowConvertYCbCr2BGR;
      }
      break;
    default: break;
  }
  changed_ = false;
}

void TColorManager::BuildChromaTables() {
  float r = lumaRed_, g = lumaGreen_, b = lumaBlue_;
  float kr = 2 - 2 * r, kb = 2 - 2 * b;
  float gr = r * kr / g, gb = b * kb / g;
  crToRed_.assign(256, 0);
  cbToBlue_.assign(256, 0);
  crToGreen_.assign(256, 0);
  cbToGreen_.assign(256, 0);
  bool photo = sourceScheme_ == psPhotoYCC;
  for (int32_t i = 0; i < 256; ++i) {
    int32_t cr = photo ? i - 137 : i - 128;
    int32_t cb = photo ? i - 156 : i - 128;
    crToRed_[i] = static_cast<int32_t>(Round(cr * kr));
    cbToBlue_[i] = static_cast<int32_t>(Round(cb * kb));
    crToGreen_[i] = -static_cast<int32_t>(Round(cr * gr));
    cbToGreen_[i] = -static_cast<int32_t>(Round(cb * gb));
  }
}

void TColorManager::ConvertPixelRow(const uint8_t* const* source, int32_t planeCount,
                                    uint8_t* target, int32_t count, uint8_t mask) {
  if (changed_) ChooseConverter();
  if (!converter_) throw EColorConversionError(gesConversionUnsupported);
  if (planeCount < 1 || count <= 0) return;
  (this->*converter_)(source, planeCount, target, count, mask);
}

int64_t TColorManager::SourceRowBytes(int32_t count, int32_t planeCount) const {
  int64_t bits = sourceBPS_ >= 8 ? (sourceBPS_ > 8 ? 16 : 8) : sourceBPS_;
  int64_t samples = planeCount > 1 ? 1 : std::max<int32_t>(SchemeSamples(sourceScheme_), sourceSPP_);
  return (static_cast<int64_t>(count) * samples * bits + 7) / 8;
}

int64_t TColorManager::TargetRowBytes(int32_t count) const {
  int64_t bits = targetBPS_ >= 8 ? (targetBPS_ > 8 ? 16 : 8) : targetBPS_;
  return (static_cast<int64_t>(count) * SchemeSamples(targetScheme_) * bits + 7) / 8;
}

// --- Palettes

TPaletteEntries TColorManager::MakeColorPalette(std::initializer_list<const void*> data,
                                                TPaletteLayout layout, int32_t colorCount,
                                                bool reverseOrder) const {
  int32_t count = std::clamp(colorCount, 0, 256);
  TPaletteEntries entries(256);
  auto pointer = [&](size_t i) -> const uint8_t* {
    return i < data.size() ? static_cast<const uint8_t*>(data.begin()[i]) : nullptr;
  };
  bool gamma = (targetOptions_ & poGamma) != 0;
  bool swap = (sourceOptions_ & poSwapBytes) != 0;
  auto from8 = [&](uint8_t v) -> uint8_t { return gamma ? gamma_[v] : v; };
  auto from16 = [&](const uint8_t* p) -> uint8_t {
    uint16_t v = static_cast<uint16_t>(p[0] | (p[1] << 8));
    if (swap) v = static_cast<uint16_t>((v >> 8) | (v << 8));
    uint8_t scaled = static_cast<uint8_t>(v * 255u / 65535u);
    return gamma ? gamma_[scaled] : scaled;
  };
  const uint8_t* p0 = pointer(0);
  switch (layout) {
    case pfInterlaced8Triple:
    case pfInterlaced8Quad: {
      if (!p0) break;
      int32_t step = layout == pfInterlaced8Triple ? 3 : 4;
      for (int32_t i = 0; i < count; ++i) {
        const uint8_t* p = p0 + i * step;
        uint8_t first = from8(p[0]), second = from8(p[1]), third = from8(p[2]);
        entries[i] = reverseOrder ? TPaletteEntry{third, second, first, 0}
                                  : TPaletteEntry{first, second, third, 0};
      }
      break;
    }
    case pfPlane8Triple:
    case pfPlane8Quad: {
      const uint8_t *r = pointer(0), *g = pointer(1), *b = pointer(2);
      if (!r || !g || !b) break;
      for (int32_t i = 0; i < count; ++i)
        entries[i] = TPaletteEntry{from8(r[i]), from8(g[i]), from8(b[i]), 0};
      break;
    }
    case pfInterlaced16Triple:
    case pfInterlaced16Quad: {
      if (!p0) break;
      int32_t step = layout == pfInterlaced16Triple ? 6 : 8;
      for (int32_t i = 0; i < count; ++i) {
        const uint8_t* p = p0 + i * step;
        uint8_t first = from16(p), second = from16(p + 2), third = from16(p + 4);
        // Word palettes come blue first unless reversed.
        entries[i] = reverseOrder ? TPaletteEntry{first, second, third, 0}
                                  : TPaletteEntry{third, second, first, 0};
      }
      break;
    }
    case pfPlane16Triple:
    case pfPlane16Quad: {
      const uint8_t *r = pointer(0), *g = pointer(1), *b = pointer(2);
      if (!r || !g || !b) break;
      for (int32_t i = 0; i < count; ++i)
        entries[i] = TPaletteEntry{from16(r + 2 * i), from16(g + 2 * i), from16(b + 2 * i), 0};
      break;
    }
    default: break;
  }
  if (targetBPS_ <= 8 && sourceBPS_ != targetBPS_) {
    int64_t maxS = (int64_t{1} << sourceBPS_) - 1;
    int64_t maxT = (int64_t{1} << targetBPS_) - 1;
    // Entries beyond the table read as black instead of outside it.
    auto at = [&](int64_t i) {
      int64_t index = i * maxS / maxT;
      return index < 256 ? entries[static_cast<size_t>(index)] : TPaletteEntry{};
    };
    if (maxS < maxT) {
      for (int64_t i = maxT; i >= 0; --i) entries[static_cast<size_t>(i)] = at(i);
    } else {
      for (int64_t i = 0; i <= maxT; ++i) entries[static_cast<size_t>(i)] = at(i);
    }
    count = static_cast<int32_t>(maxT + 1);
  }
  entries.resize(static_cast<size_t>(count));
  return entries;
}

TPaletteEntries TColorManager::MakeGrayPalette(bool minimumIsWhite) const {
  int32_t bits = targetBPS_ * targetSPP_;
  int32_t n = bits <= 8 ? (1 << bits) : 256;
  int32_t step = 255 / (n - 1);
  TPaletteEntries entries(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    uint8_t level = static_cast<uint8_t>(step * i);
    if (targetOptions_ & poGamma) level = gamma_[level];
    entries[static_cast<size_t>(minimumIsWhite ? n - 1 - i : i)] =
        TPaletteEntry{level, level, level, 0};
  }
  return entries;
}
