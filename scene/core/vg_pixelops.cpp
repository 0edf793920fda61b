// Whole-pixel drawing on premultiplied canvas buffers: the device clip, blending, fills, image
// copies and opaque tiling.
#include "vg_pixelops.h"

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

#if defined(__SSE2__)
// Four pixels at once, the same arithmetic as vgBlendPixel in 16-bit lanes: every product
// d × (255 − a) + 128 stays below 2^16, and a saturating byte add is the "at most 255".
// round(x × inverse / 255) for each 16-bit lane (x, inverse at most 255).
inline __m128i MulDiv255(__m128i x, __m128i inverse) {
  __m128i v = _mm_add_epi16(_mm_mullo_epi16(x, inverse), _mm_set1_epi16(128));
  return _mm_srli_epi16(_mm_add_epi16(v, _mm_srli_epi16(v, 8)), 8);
}

// Each destination byte times its inverse (16-bit lanes, low and high pixel pairs), rounded.
inline __m128i Remains(__m128i d, __m128i inverseLow, __m128i inverseHigh) {
  const __m128i zero = _mm_setzero_si128();
  return _mm_packus_epi16(MulDiv255(_mm_unpacklo_epi8(d, zero), inverseLow),
                          MulDiv255(_mm_unpackhi_epi8(d, zero), inverseHigh));
}

// The 255 − alpha of two pixels (lanes of `pixels16`, 16 bits a channel) in all four lanes of each.
inline __m128i InverseAlphas(__m128i pixels16) {
  const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(pixels16, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(3, 3, 3, 3));
  return _mm_sub_epi16(_mm_set1_epi16(255), a);
}
#endif

// A premultiplied colour over `count` pixels: four at a time with SSE2, the rest one by one.
void BlendFillRow(uint32_t* row, int32_t count, uint32_t color) {
  int32_t x = 0;
#if defined(__SSE2__)
  const __m128i colors = _mm_set1_epi32(static_cast<int>(color));
  const __m128i inverse = _mm_set1_epi16(static_cast<int16_t>(255 - (color >> 24)));
  for (; x + 4 <= count; x += 4) {
    auto* p = reinterpret_cast<__m128i*>(row + x);
    _mm_storeu_si128(p, _mm_adds_epu8(colors, Remains(_mm_loadu_si128(p), inverse, inverse)));
  }
#endif
  for (; x < count; ++x) row[x] = vgBlendPixel(color, row[x]);
}

// Premultiplied source pixels over `count` destination pixels, as BlendFillRow.
void BlendImageRow(uint32_t* d, const uint32_t* s, int32_t count) {
  int32_t x = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; x + 4 <= count; x += 4) {
    const __m128i src = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
    auto* p = reinterpret_cast<__m128i*>(d + x);
    const __m128i remains = Remains(_mm_loadu_si128(p), InverseAlphas(_mm_unpacklo_epi8(src, zero)),
                                    InverseAlphas(_mm_unpackhi_epi8(src, zero)));
    _mm_storeu_si128(p, _mm_adds_epu8(src, remains));
  }
#endif
  for (; x < count; ++x) d[x] = vgBlendPixel(s[x], d[x]);
}

int32_t ClampToInt(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<int32_t>(std::clamp(v, static_cast<double>(std::numeric_limits<int32_t>::min()),
                                         static_cast<double>(std::numeric_limits<int32_t>::max())));
}

bool IsWhole(float v) { return std::isfinite(v) && v == std::floor(v); }

bool IsWholeRect(const TvgRect& r) { return IsWhole(r.Left) && IsWhole(r.Top) && IsWhole(r.Right) && IsWhole(r.Bottom); }

TvgPixelRect WholeRect(const TvgRect& r) {
  return {ClampToInt(r.Left), ClampToInt(r.Top), ClampToInt(r.Right), ClampToInt(r.Bottom)};
}

// Every pixel a rect with fractional edges could let through, whatever the rounding.
TvgPixelRect OutwardRect(const TvgRect& r) {
  return {ClampToInt(std::floor(static_cast<double>(r.Left)) - 1), ClampToInt(std::floor(static_cast<double>(r.Top)) - 1),
          ClampToInt(std::ceil(static_cast<double>(r.Right)) + 1), ClampToInt(std::ceil(static_cast<double>(r.Bottom)) + 1)};
}

// The smallest rect holding both; an empty rect adds nothing.
TvgPixelRect Union(const TvgPixelRect& a, const TvgPixelRect& b) {
  if (a.IsEmpty()) return b;
  if (b.IsEmpty()) return a;
  return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right), std::max(a.Bottom, b.Bottom)};
}

// Adds the part of r that no rect of the list holds yet, as rects of their own: the list stays
// free of overlaps, so that nothing is drawn twice through it.
void AddDisjoint(std::vector<TvgPixelRect>& list, const TvgPixelRect& r) {
  if (r.IsEmpty()) return;
  std::vector<TvgPixelRect> pieces{r}, rest;
  for (const TvgPixelRect& e : list) {
    rest.clear();
    for (const TvgPixelRect& p : pieces) {
      const TvgPixelRect common = vgIntersectPixelRect(p, e);
      if (common.IsEmpty()) {
        rest.push_back(p);
        continue;
      }
      // What is left of p around e: the bands above and below, then left and right of it.
      const TvgPixelRect around[] = {{p.Left, p.Top, p.Right, common.Top},
                                     {p.Left, common.Bottom, p.Right, p.Bottom},
                                     {p.Left, common.Top, common.Left, common.Bottom},
                                     {common.Right, common.Top, p.Right, common.Bottom}};
      for (const TvgPixelRect& a : around)
        if (!a.IsEmpty()) rest.push_back(a);
    }
    pieces.swap(rest);
    if (pieces.empty()) return;
  }
  list.insert(list.end(), pieces.begin(), pieces.end());
}

int32_t PositiveModulo(int64_t v, int32_t m) {
  const int64_t r = v % m;
  return static_cast<int32_t>(r < 0 ? r + m : r);
}

}  // namespace

TvgPixelRect vgIntersectPixelRect(const TvgPixelRect& a, const TvgPixelRect& b) {
  TvgPixelRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
  if (r.IsEmpty()) return TvgPixelRect();
  return r;
}

// --- Pixel arithmetic

uint32_t vgBlendPixel(uint32_t src, uint32_t dst) {
  const uint32_t inverse = 255 - (src >> 24);
  uint32_t result = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t c = ((src >> shift) & 0xFF) + vgDiv255(((dst >> shift) & 0xFF) * inverse);
    result |= std::min(c, 255u) << shift;
  }
  return result;
}

uint32_t vgPremultiplyColor(TvgColor color) {
  const uint32_t a = color >> 24;
  const uint32_t r = vgDiv255(((color >> 16) & 0xFF) * a);
  const uint32_t g = vgDiv255(((color >> 8) & 0xFF) * a);
  const uint32_t b = vgDiv255((color & 0xFF) * a);
  return a << 24 | r << 16 | g << 8 | b;
}

int32_t vgPixelEdge(float v) {
  // In double, where v + 0.5 is exact for every float.
  return ClampToInt(std::floor(static_cast<double>(v) + 0.5));
}

TvgPixelRect vgPixelsOfRect(const TvgRect& r) {
  return {vgPixelEdge(r.Left), vgPixelEdge(r.Top), vgPixelEdge(r.Right), vgPixelEdge(r.Bottom)};
}

TvgPixelRect vgPixelsInsideRect(const TvgRect& r) {
  const TvgPixelRect inside{ClampToInt(std::ceil(static_cast<double>(r.Left))), ClampToInt(std::ceil(static_cast<double>(r.Top))),
                            ClampToInt(std::floor(static_cast<double>(r.Right))),
                            ClampToInt(std::floor(static_cast<double>(r.Bottom)))};
  return inside.IsEmpty() ? TvgPixelRect() : inside;
}

// --- Device clip

void TvgDeviceClip::Reset(int32_t width, int32_t height) {
  surface_ = {0, 0, std::max(width, 0), std::max(height, 0)};
  rects_.clear();
  if (!surface_.IsEmpty()) rects_.push_back(surface_);
  exact_ = true;
  UpdateBounds();
}

void TvgDeviceClip::Replace(const std::vector<TvgRect>& deviceRects) {
  rects_.clear();
  exact_ = true;
  TvgPixelRect fractional;  // what the rects with fractional edges may let through
  for (const TvgRect& r : deviceRects) {
    if (IsWholeRect(r)) {
      AddDisjoint(rects_, vgIntersectPixelRect(WholeRect(r), surface_));
    } else {
      exact_ = false;
      fractional = Union(fractional, vgIntersectPixelRect(OutwardRect(r), surface_));
    }
  }
  UpdateBounds();
  if (!exact_) {
    bounds_ = Union(bounds_, fractional);
    rects_.clear();
  }
}

void TvgDeviceClip::Intersect(const TvgRect& deviceRect, bool rectangular) {
  if (exact_ && rectangular && IsWholeRect(deviceRect)) {
    const TvgPixelRect cut = WholeRect(deviceRect);
    std::vector<TvgPixelRect> kept;
    for (const TvgPixelRect& r : rects_) {
      const TvgPixelRect part = vgIntersectPixelRect(r, cut);
      if (!part.IsEmpty()) kept.push_back(part);
    }
    rects_ = std::move(kept);
    UpdateBounds();
    return;
  }
  exact_ = false;
  rects_.clear();
  bounds_ = vgIntersectPixelRect(bounds_, OutwardRect(deviceRect));
}

void TvgDeviceClip::UpdateBounds() {
  bounds_ = TvgPixelRect();
  for (const TvgPixelRect& r : rects_) bounds_ = Union(bounds_, r);
}

bool TvgDeviceClip::Meets(const TvgRect& r) const {
  // Closed intervals and NaN-safe comparisons: anything doubtful meets.
  auto meets = [&r](const TvgPixelRect& p) {
    return !(r.Right < p.Left || r.Left > p.Right || r.Bottom < p.Top || r.Top > p.Bottom);
  };
  if (bounds_.IsEmpty() || !meets(bounds_)) return false;
  if (!exact_) return true;
  return std::any_of(rects_.begin(), rects_.end(), meets);
}

bool TvgDeviceClip::IsWithin(const TvgPixelRect& a, const TvgPixelRect& b) const {
  if (!exact_) return false;
  auto inside = [](const TvgPixelRect& r, const TvgPixelRect& outer) {
    return !outer.IsEmpty() && r.Left >= outer.Left && r.Top >= outer.Top && r.Right <= outer.Right &&
           r.Bottom <= outer.Bottom;
  };
  return std::all_of(rects_.begin(), rects_.end(), [&](const TvgPixelRect& r) { return inside(r, a) || inside(r, b); });
}

// --- Drawing

void vgBlendFill(const TvgPixelBuffer& buffer, const TvgDeviceClip& clip, const TvgPixelRect& area, uint32_t color) {
  if (buffer.Bits == nullptr || color == 0) return;
  const TvgPixelRect inside = vgIntersectPixelRect(area, {0, 0, buffer.Width, buffer.Height});
  const bool opaque = (color >> 24) == 0xFF;
  clip.ForEachPart(inside, [&](const TvgPixelRect& part) {
    for (int32_t y = part.Top; y < part.Bottom; ++y) {
      uint32_t* row = buffer.Bits + static_cast<size_t>(y) * static_cast<size_t>(buffer.Width);
      if (opaque) {
        std::fill(row + part.Left, row + part.Right, color);
        continue;
      }
      BlendFillRow(row + part.Left, part.Right - part.Left, color);
    }
  });
}

void vgBlendImage(const TvgPixelBuffer& buffer, const TvgDeviceClip& clip, int32_t x, int32_t y,
                  const uint32_t* source, int32_t stride, int32_t width, int32_t height) {
  if (buffer.Bits == nullptr || source == nullptr || width <= 0 || height <= 0) return;
  const TvgPixelRect placed{x, y, static_cast<int32_t>(std::min<int64_t>(int64_t{x} + width, INT32_MAX)),
                            static_cast<int32_t>(std::min<int64_t>(int64_t{y} + height, INT32_MAX))};
  const TvgPixelRect inside = vgIntersectPixelRect(placed, {0, 0, buffer.Width, buffer.Height});
  clip.ForEachPart(inside, [&](const TvgPixelRect& part) {
    for (int32_t row = part.Top; row < part.Bottom; ++row) {
      uint32_t* d = buffer.Bits + static_cast<size_t>(row) * static_cast<size_t>(buffer.Width);
      const uint32_t* s = source + static_cast<size_t>(row - y) * static_cast<size_t>(stride) + (part.Left - x);
      // An opaque source pixel replaces, a clear one keeps: both are what the blend gives.
      BlendImageRow(d + part.Left, s, part.Right - part.Left);
    }
  });
}

bool vgTileOpaque(const TvgPixelBuffer& buffer, const TvgDeviceClip& clip, const TvgPixelRect& area, int32_t originX,
                  int32_t originY, const uint32_t* texture, int32_t width, int32_t height) {
  if (buffer.Bits == nullptr || texture == nullptr || width <= 0 || height <= 0) return false;
  const TvgPixelRect inside = vgIntersectPixelRect(area, {0, 0, buffer.Width, buffer.Height});
  // Every texel that would show must be opaque: checked before anything is written.
  bool opaque = true;
  clip.ForEachPart(inside, [&](const TvgPixelRect& part) {
    const int32_t firstX = PositiveModulo(int64_t{part.Left} - originX, width);
    int32_t ty = PositiveModulo(int64_t{part.Top} - originY, height);
    for (int32_t y = part.Top; y < part.Bottom && opaque; ++y, ty = ty + 1 == height ? 0 : ty + 1) {
      const uint32_t* row = texture + static_cast<size_t>(ty) * width;
      // A row of the texture repeats along the span: its texels under the span at most once.
      const int32_t count = std::min(part.Right - part.Left, width);
      int32_t tx = firstX;
      for (int32_t i = 0; i < count; ++i) {
        if ((row[tx] >> 24) != 0xFF) {
          opaque = false;
          break;
        }
        if (++tx == width) tx = 0;
      }
    }
  });
  if (!opaque) return false;
  clip.ForEachPart(inside, [&](const TvgPixelRect& part) {
    const int32_t firstX = PositiveModulo(int64_t{part.Left} - originX, width);
    int32_t ty = PositiveModulo(int64_t{part.Top} - originY, height);
    for (int32_t y = part.Top; y < part.Bottom; ++y, ty = ty + 1 == height ? 0 : ty + 1) {
      uint32_t* d = buffer.Bits + static_cast<size_t>(y) * static_cast<size_t>(buffer.Width);
      const uint32_t* row = texture + static_cast<size_t>(ty) * width;
      int32_t x = part.Left;
      int32_t tx = firstX;
      while (x < part.Right) {
        const int32_t count = std::min(part.Right - x, width - tx);
        std::copy(row + tx, row + tx + count, d + x);
        x += count;
        tx = 0;
      }
    }
  });
  return true;
}
