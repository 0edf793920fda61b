// Row converters of the colour manager: one loop per depth combination, interlace masks, planes.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "GraphicColor.h"

namespace {

inline uint8_t Clamp255(int64_t v) { return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255)); }
inline uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
inline uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
// A 16-bit source sample in host order: swapped when the source says its bytes are swapped.
inline uint16_t LoadSource16(const uint8_t* p, bool swap) {
  uint16_t v = Load16(p);
  return swap ? Swap16(v) : v;
}
inline void Store16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline uint8_t NextPattern(uint8_t pattern) {
  return static_cast<uint8_t>((pattern >> 1) | (pattern << 7));
}

// Runs `convert(target)` for each of `count` target pixels `targetStep` bytes apart whose bit is
// set in the repeating 8-pixel `mask` (0x80 first); `convert` moves its own source on. Pixels
// left out touch neither the source nor the target.
template <typename Convert>
void ForSelectedPixels(uint8_t* target, int32_t targetStep, int32_t count, uint8_t mask, Convert convert) {
  uint8_t pattern = 0x80;
  for (int32_t i = 0; i < count; ++i) {
    if (mask & pattern) convert(target);
    target += targetStep;
    pattern = NextPattern(pattern);
  }
}

inline bool IsSupportedDepth(uint8_t bits) { return bits == 8 || bits == 16; }
inline bool IsPackingDepth(uint8_t bits) { return bits == 1 || bits == 2 || bits == 4 || bits == 8; }

// Walks the components of a source pixel, interleaved (one pointer) or planar.
class TSourceCursor {
 public:
  TSourceCursor(const uint8_t* const* source, int32_t planeCount, int32_t components,
                int32_t bytesPerSample, int32_t interleavedSamples)
      : planar_(planeCount > 1), bytes_(bytesPerSample), step_(interleavedSamples) {
    for (int32_t i = 0; i < components && i < 4; ++i)
      pointer_[i] = planar_ ? (i < planeCount ? source[i] : nullptr) : source[0];
  }
  // False when a planar source lacks a plane the converter needs.
  bool Complete(int32_t components) const {
    for (int32_t i = 0; i < components; ++i)
      if (!pointer_[i]) return false;
    return true;
  }
  const uint8_t* Sample(int32_t component) const {
    return planar_ ? pointer_[component] : pointer_[0] + component * bytes_;
  }
  void Advance() {
    if (planar_) {
      for (auto& p : pointer_)
        if (p) p += bytes_;
    } else {
      pointer_[0] += step_ * bytes_;
    }
  }

 private:
  bool planar_;
  int32_t bytes_;
  int32_t step_;
  const uint8_t* pointer_[4] = {};
};

// Unpacks values of 1, 2, 4 or 8 bits, most significant bits first.
class TBitReader {
 public:
  TBitReader(const uint8_t* data, int32_t bits) : data_(data), bits_(bits) {}
  uint32_t Next() {
    int32_t shift = 8 - bits_ - used_;
    uint32_t v = (*data_ >> shift) & ((1u << bits_) - 1);
    used_ += bits_;
    if (used_ >= 8) {
      used_ = 0;
      ++data_;
    }
    return v;
  }

 private:
  const uint8_t* data_;
  int32_t bits_;
  int32_t used_ = 0;
};

// Packs values of 1, 2, 4 or 8 bits, most significant first, keeping the other bits of a byte.
class TBitWriter {
 public:
  TBitWriter(uint8_t* data, int32_t bits) : data_(data), bits_(bits) {}
  void Put(uint32_t value, bool write) {
    if (write) {
      int32_t shift = 8 - bits_ - used_;
      uint8_t m = static_cast<uint8_t>(((1u << bits_) - 1) << shift);
      *data_ = static_cast<uint8_t>((*data_ & ~m) | ((value << shift) & m));
    }
    used_ += bits_;
    if (used_ >= 8) {
      used_ = 0;
      ++data_;
    }
  }

 private:
  uint8_t* data_;
  int32_t bits_;
  int32_t used_ = 0;
};

}  // namespace

// --- Three-component converters

// Whole rows of 8-bit interleaved pixels: straight copies where the layouts agree, else one
// tight loop per layout. Components the source lacks (a target alpha) are left as they are.
void TColorManager::ThreeComponentBytes(const uint8_t* source, int32_t sourceStep, uint8_t* target,
                                        int32_t targetStep, int32_t count, bool reversed, bool copyAlpha) {
  if (!reversed && sourceStep == targetStep && (sourceStep == 3 || copyAlpha)) {
    std::memcpy(target, source, static_cast<size_t>(count) * static_cast<size_t>(sourceStep));
    return;
  }
  const int first = reversed ? 2 : 0, last = reversed ? 0 : 2;
  if (sourceStep == 3 && targetStep == 3) {
    for (int32_t i = 0; i < count; ++i, source += 3, target += 3) {
      const uint8_t a = source[first], b = source[1], c = source[last];
      target[0] = a;
      target[1] = b;
      target[2] = c;
    }
    return;
  }
  for (int32_t i = 0; i < count; ++i, source += sourceStep, target += targetStep) {
    const uint8_t a = source[first], b = source[1], c = source[last];
    target[0] = a;
    target[1] = b;
    target[2] = c;
    if (copyAlpha) target[3] = source[3];
  }
}

void TColorManager::RowConvertRGB(const uint8_t* const* s, int32_t n, uint8_t* t, int32_t c,
                                  uint8_t m) {
  ThreeComponent(s, n, t, c, m, false);
}

void TColorManager::RowConvertBGR(const uint8_t* const* s, int32_t n, uint8_t* t, int32_t c,
                                  uint8_t m) {
  ThreeComponent(s, n, t, c, m, true);
}

void TColorManager::ThreeComponent(const uint8_t* const* source, int32_t planeCount,
                                   uint8_t* target, int32_t count, uint8_t mask, bool reversed) {
  if (!IsSupportedDepth(sourceBPS_) || !IsSupportedDepth(targetBPS_)) return;
  bool sourceAlpha = sourceOptions_ & poAlpha, targetAlpha = targetOptions_ & poAlpha;
  bool copyAlpha = sourceAlpha && targetAlpha;
  bool gamma = targetOptions_ & poGamma, swap = sourceOptions_ & poSwapBytes;
  int32_t sb = sourceBPS_ / 8, tb = targetBPS_ / 8;
  int32_t components = sourceAlpha ? 4 : 3;
  if (sb == 1 && tb == 1 && !gamma && planeCount == 1 && mask == 0xFF) {
    ThreeComponentBytes(source[0], components, target, targetAlpha ? 4 : 3, count, reversed, copyAlpha);
    return;
  }
  TSourceCursor cursor(source, planeCount, components, sb, components);
  if (planeCount > 1 && !cursor.Complete(components)) return;
  int32_t targetStep = (targetAlpha ? 4 : 3) * tb;

  // Alpha converts like a colour but never through the gamma table.
  auto convert = [&](const uint8_t* p, uint8_t* out, bool useGamma) {
    if (sb == 1 && tb == 1) {
      *out = useGamma ? gamma_[*p] : *p;
    } else if (sb == 1) {
      uint16_t v = static_cast<uint16_t>((useGamma ? gamma_[*p] : *p) * 65535u / 255u);
      Store16(out, swap ? Swap16(v) : v);
    } else if (tb == 1) {
      uint8_t b = static_cast<uint8_t>(LoadSource16(p, swap) * 255u / 65535u);
      *out = useGamma ? gamma_[b] : b;
    } else {
      Store16(out, LoadSource16(p, swap));
    }
  };

  ForSelectedPixels(target, targetStep, count, mask, [&](uint8_t* target) {
    for (int32_t k = 0; k < 3; ++k)
      convert(cursor.Sample(reversed ? 2 - k : k), target + k * tb, gamma);
    if (copyAlpha) convert(cursor.Sample(3), target + 3 * tb, false);
    cursor.Advance();
  });
}

// --- CMYK

void TColorManager::RowConvertCMYK2BGR(const uint8_t* const* s, int32_t n, uint8_t* t, int32_t c,
                                       uint8_t m) {
  CMYK(s, n, t, c, m, true);
}

void TColorManager::RowConvertCMYK2RGB(const uint8_t* const* s, int32_t n, uint8_t* t, int32_t c,
                                       uint8_t m) {
  CMYK(s, n, t, c, m, false);
}

void TColorManager::CMYK(const uint8_t* const* source, int32_t planeCount, uint8_t* target,
                         int32_t count, uint8_t mask, bool blueFirst) {
  if (!IsSupportedDepth(sourceBPS_) || !IsSupportedDepth(targetBPS_)) return;
  int32_t sb = sourceBPS_ / 8, tb = targetBPS_ / 8;
  bool swap = sourceOptions_ & poSwapBytes;
  // Planar only with exactly four planes; anything else is read as interleaved samples.
  const uint8_t* const* planes = source;
  const uint8_t* single[1] = {source[0]};
  if (planeCount != 4) {
    planes = single;
    planeCount = 1;
  }
  TSourceCursor cursor(planes, planeCount, 4, sb, 4);
  int32_t targetStep = ((targetOptions_ & poAlpha) ? 4 : 3) * tb;
  auto read = [&](int32_t component) -> uint32_t {
    const uint8_t* p = cursor.Sample(component);
    return sb == 1 ? *p : LoadSource16(p, swap);
  };
  ForSelectedPixels(target, targetStep, count, mask, [&](uint8_t* target) {
    uint32_t k = read(3);
    for (int32_t j = 0; j < 3; ++j) {
      // Blue first: Y, M, C; red first: C, M, Y.
      uint32_t x = read(blueFirst ? 2 - j : j);
      uint8_t* out = target + j * tb;
      if (sb == 1) {
        uint8_t v = Clamp255(255 - (static_cast<int64_t>(x) - x * k / 255 + k));
        if (tb == 1) *out = v;
        else Store16(out, static_cast<uint16_t>(v * 65535u / 255u));
      } else {
        uint16_t v = static_cast<uint16_t>(x - x * k / 65535 + k);
        if (tb == 1) *out = Clamp255(255 - static_cast<int64_t>(v) * 255 / 65535);
        else Store16(out, static_cast<uint16_t>(65535 - (x - x * k / 65535 + k)));
      }
    }
    cursor.Advance();
  });
}

// --- CIE L*a*b*

void TColorManager::RowConvertCIELab2BGR(const uint8_t* const* s, int32_t n, uint8_t* t,
                                         int32_t c, uint8_t m) {
  CIELab(s, n, t, c, m, true);
}

void TColorManager::RowConvertCIELab2RGB(const uint8_t* const* s, int32_t n, uint8_t* t,
                                         int32_t c, uint8_t m) {
  CIELab(s, n, t, c, m, false);
}

void TColorManager::CIELab(const uint8_t* const* source, int32_t planeCount, uint8_t* target,
                           int32_t count, uint8_t mask, bool blueFirst) {
  if (!IsSupportedDepth(sourceBPS_) || !IsSupportedDepth(targetBPS_)) return;
  int32_t sb = sourceBPS_ / 8, tb = targetBPS_ / 8;
  bool swap = sourceOptions_ & poSwapBytes;
  TSourceCursor cursor(source, planeCount, 3, sb, 3);
  if (planeCount > 1 && !cursor.Complete(3)) return;
  int32_t targetStep = ((targetOptions_ & poAlpha) ? 4 : 3) * tb;
  // 16-bit samples contribute their most significant byte (in host order after swapping).
  auto byteOf = [&](int32_t component) -> uint8_t {
    const uint8_t* p = cursor.Sample(component);
    return sb == 1 ? *p : static_cast<uint8_t>(LoadSource16(p, swap) >> 8);
  };
  ForSelectedPixels(target, targetStep, count, mask, [&](uint8_t* target) {
    long double L = byteOf(0);
    if (sourceOptions_ & poLabPercent) L /= 2.55L;
    long double a, b;
    if (sourceOptions_ & poLabOffset) {
      a = static_cast<int32_t>(byteOf(1)) - 128;
      b = static_cast<int32_t>(byteOf(2)) - 128;
    } else {
      a = static_cast<int8_t>(byteOf(1));
      b = static_cast<int8_t>(byteOf(2));
    }
    long double fy = (L + 16) / 116, X, Y, Z;
    if (L < 7.9996L) {
      Y = L / 903.3L;
      X = a / 3893.5L + Y;
      Z = Y - b / 1557.4L;
    } else {
      long double fx = a / 500 + fy, fz = fy - b / 200;
      X = fx * fx * fx;
      Y = fy * fy * fy;
      Z = fz * fz * fz;
    }
    long double red = 2.998L * X - 1.458L * Y - 0.541L * Z;
    long double green = -0.952L * X + 1.893L * Y + 0.059L * Z;
    long double blue = 0.099L * X - 0.198L * Y + 1.099L * Z;
    uint8_t values[3] = {Clamp255(Round(static_cast<double>(255 * red))),
                         Clamp255(Round(static_cast<double>(255 * green))),
                         Clamp255(Round(static_cast<double>(255 * blue)))};
    for (int32_t j = 0; j < 3; ++j) {
      uint8_t v = values[blueFirst ? 2 - j : j];
      uint8_t* out = target + j * tb;
      if (tb == 1) *out = v;
      else if (sb == 1) Store16(out, static_cast<uint16_t>(v * 65535u / 255u));
      else Store16(out, v);
    }
    cursor.Advance();
  });
}

// --- YCbCr and PhotoYCC

void TColorManager::RowConvertYCbCr2BGR(const uint8_t* const* s, int32_t n, uint8_t* t, int32_t c,
                                        uint8_t m) {
  YCbCr(s, n, t, c, m, true);
}

void TColorManager::RowConvertYCbCr2RGB(const uint8_t* const* s, int32_t n, uint8_t* t, int32_t c,
                                        uint8_t m) {
  YCbCr(s, n, t, c, m, false);
}

void TColorManager::YCbCr(const uint8_t* const* source, int32_t planeCount, uint8_t* target,
                          int32_t count, uint8_t mask, bool blueFirst) {
  if (!IsSupportedDepth(sourceBPS_) || !IsSupportedDepth(targetBPS_)) return;
  int32_t sb = sourceBPS_ / 8, tb = targetBPS_ / 8;
  bool swap = sourceOptions_ & poSwapBytes;
  TSourceCursor cursor(source, planeCount, 3, sb, 3);
  if (planeCount > 1 && !cursor.Complete(3)) return;
  int32_t targetStep = ((targetOptions_ & poAlpha) ? 4 : 3) * tb;
  auto word = [&](int32_t component) { return LoadSource16(cursor.Sample(component), swap); };
  ForSelectedPixels(target, targetStep, count, mask, [&](uint8_t* target) {
    int32_t rgb[3];  // red, green, blue
    bool wide = false;
    if (sb == 2 && tb == 2) {
      float y = word(0) * 1.3584f;
      float d1 = static_cast<float>(word(1)) - 40092;
      float d2 = static_cast<float>(word(2)) - 35209;
      rgb[2] = static_cast<int32_t>(Round(y + 2.2179f * d1));
      rgb[1] = static_cast<int32_t>(Round(y - 0.9271435f * d2 - 0.4302726f * d1));
      rgb[0] = static_cast<int32_t>(Round(y + 1.8215f * d2));
      wide = true;
    } else {
      int32_t y, c1, c2;
      if (sb == 1) {
        y = *cursor.Sample(0);
        c1 = *cursor.Sample(1);
        c2 = *cursor.Sample(2);
      } else {
        y = word(0) * 255 / 65535;
        c1 = word(1) * 255 / 65535;
        c2 = word(2) * 255 / 65535;
      }
      rgb[2] = Clamp255(y + cbToBlue_[c1]);
      rgb[1] = Clamp255(y + cbToGreen_[c1] + crToGreen_[c2]);
      rgb[0] = Clamp255(y + crToRed_[c2]);
    }
    for (int32_t j = 0; j < 3; ++j) {
      int32_t v = rgb[blueFirst ? 2 - j : j];
      uint8_t* out = target + j * tb;
      if (wide) Store16(out, static_cast<uint16_t>(v));
      else if (tb == 1) *out = static_cast<uint8_t>(v);
      else Store16(out, static_cast<uint16_t>(v * 65535 / 255));
    }
    cursor.Advance();
  });
}

// --- Grey

void TColorManager::RowConvertGray(const uint8_t* const* source, int32_t, uint8_t* target,
                                   int32_t count, uint8_t mask) {
  if (!IsSupportedDepth(sourceBPS_) || !IsSupportedDepth(targetBPS_)) return;
  int32_t sb = sourceBPS_ / 8, tb = targetBPS_ / 8;
  bool swap = sourceOptions_ & poSwapBytes;
  int32_t step = ((sourceOptions_ & poAlpha) ? 2 : 1) * sb;
  const uint8_t* p = source[0];
  ForSelectedPixels(target, tb, count, mask, [&](uint8_t* target) {
    if (sb == 1 && tb == 1) {
      *target = *p;
    } else if (sb == 1) {
      Store16(target, static_cast<uint16_t>(*p * 65535u / 255u));
    } else {
      uint16_t v = LoadSource16(p, swap);
      if (tb == 1) *target = static_cast<uint8_t>(v * 255u / 65535u);
      else Store16(target, v);
    }
    p += step;
  });
}

// --- Indexed and grey packing

void TColorManager::RowConvertIndexed8(const uint8_t* const* source, int32_t, uint8_t* target,
                                       int32_t count, uint8_t mask) {
  // Only depths that divide a byte can be packed; others would never finish a byte.
  if (!IsPackingDepth(sourceBPS_) || !IsPackingDepth(targetBPS_)) return;
  if (sourceBPS_ == targetBPS_ && mask == 0xFF) {
    std::memcpy(target, source[0], (static_cast<size_t>(sourceBPS_) * count + 7) / 8);
    return;
  }
  uint32_t maxS = (1u << sourceBPS_) - 1, maxT = (1u << targetBPS_) - 1;
  TBitReader reader(source[0], sourceBPS_);
  TBitWriter writer(target, targetBPS_);
  uint8_t pattern = 0x80;
  for (int32_t i = 0; i < count; ++i) {
    bool selected = mask & pattern;
    writer.Put(selected ? reader.Next() * maxT / maxS : 0, selected);
    pattern = NextPattern(pattern);
  }
}

void TColorManager::RowConvertIndexedBoth16(const uint8_t* const* source, int32_t,
                                            uint8_t* target, int32_t count, uint8_t mask) {
  bool swap = sourceOptions_ & poSwapBytes;
  if (mask == 0xFF && !swap) {
    std::memcpy(target, source[0], static_cast<size_t>(count) * 2);
    return;
  }
  const uint8_t* p = source[0];
  ForSelectedPixels(target, 2, count, mask, [&](uint8_t* target) {
    Store16(target, LoadSource16(p, swap));
    p += 2;
  });
}

void TColorManager::RowConvertIndexedSource16(const uint8_t* const* source, int32_t,
                                              uint8_t* target, int32_t count, uint8_t mask) {
  if (!IsPackingDepth(targetBPS_)) return;
  bool swap = sourceOptions_ & poSwapBytes;
  uint32_t maxT = (1u << targetBPS_) - 1;
  const uint8_t* p = source[0];
  TBitWriter writer(target, targetBPS_);
  uint8_t pattern = 0x80;
  for (int32_t i = 0; i < count; ++i) {
    bool selected = mask & pattern;
    uint32_t value = 0;
    if (selected) {
      value = LoadSource16(p, swap) * maxT / 65535u;
      p += 2;
    }
    writer.Put(value, selected);
    pattern = NextPattern(pattern);
  }
}

void TColorManager::RowConvertIndexedTarget16(const uint8_t* const* source, int32_t,
                                              uint8_t* target, int32_t count, uint8_t mask) {
  if (!IsPackingDepth(sourceBPS_)) return;
  bool swap = sourceOptions_ & poSwapBytes;
  uint32_t maxS = (1u << sourceBPS_) - 1;
  TBitReader reader(source[0], sourceBPS_);
  ForSelectedPixels(target, 2, count, mask, [&](uint8_t* target) {
    uint16_t v = static_cast<uint16_t>(reader.Next() * 65535u / maxS);
    Store16(target, swap ? Swap16(v) : v);
  });
}
