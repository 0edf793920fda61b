// Whole-pixel drawing on canvas buffers and the cache of painted operations: the rounding of the
// blends against the exact arithmetic over every value, the device clip kept free of overlaps,
// fills, image copies and tilings within clips, taking painted pixels off a buffer, and the
// cache's keys and budget.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "scene/core/vg_paintcache.h"
#include "scene/core/vg_pixelops.h"

namespace {

// round(v / 255), halves up, in exact integer arithmetic.
uint32_t RoundDiv255(uint32_t v) { return (2 * v + 255) / 510; }

struct Buffer {
  Buffer(int32_t w, int32_t h, uint32_t fill = 0) : pixels(static_cast<size_t>(w) * h, fill), width(w), height(h) {}
  TvgPixelBuffer View() { return {pixels.data(), width, height}; }
  uint32_t& At(int32_t x, int32_t y) { return pixels[static_cast<size_t>(y) * width + x]; }
  std::vector<uint32_t> pixels;
  int32_t width, height;
};

// Varied premultiplied pixels (each colour channel at most the alpha).
std::vector<uint32_t> Varied(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint32_t> out(count);
  for (uint32_t& p : out) {
    const uint32_t a = random() % 256;
    p = a << 24 | (random() % (a + 1)) << 16 | (random() % (a + 1)) << 8 | (random() % (a + 1));
  }
  return out;
}

TvgDeviceClip ClipOf(int32_t w, int32_t h, const std::vector<TvgRect>& rects) {
  TvgDeviceClip clip;
  clip.Reset(w, h);
  clip.Replace(rects);
  return clip;
}

}  // namespace

// --- Arithmetic

TEST(VgPixelOps, DivisionBy255RoundsExactlyOverEveryProduct) {
  for (uint32_t v = 0; v <= 255 * 255; ++v) ASSERT_EQ(vgDiv255(v), RoundDiv255(v)) << v;
}

TEST(VgPixelOps, BlendAndPremultiplyFollowTheRoundingOfEveryChannel) {
  // Every alpha and destination value, with every colour value a premultiplied source allows.
  for (uint32_t a = 0; a < 256; ++a) {
    for (uint32_t c = 0; c <= a; c += (a > 64 ? 7 : 1)) {
      for (uint32_t d = 0; d < 256; ++d) {
        const uint32_t src = a << 24 | c << 16 | c << 8 | c, dst = d << 24 | d << 16 | (255 - d) << 8 | d / 2;
        const uint32_t got = vgBlendPixel(src, dst);
        ASSERT_EQ(got >> 24, a + RoundDiv255(d * (255 - a)));
        ASSERT_EQ(got >> 16 & 0xFF, c + RoundDiv255(d * (255 - a)));
        ASSERT_EQ(got >> 8 & 0xFF, c + RoundDiv255((255 - d) * (255 - a)));
        ASSERT_EQ(got & 0xFF, c + RoundDiv255(d / 2 * (255 - a)));
      }
    }
    for (uint32_t c = 0; c < 256; ++c) {
      const uint32_t p = vgPremultiplyColor(a << 24 | c << 16 | (255 - c) << 8 | c / 3);
      ASSERT_EQ(p, a << 24 | RoundDiv255(c * a) << 16 | RoundDiv255((255 - c) * a) << 8 | RoundDiv255(c / 3 * a));
    }
  }
  // Channels above their alpha (not premultiplied) stop at 255.
  EXPECT_EQ(vgBlendPixel(0x80FFFFFFu, 0xFFFFFFFFu), 0xFFFFFFFFu);
}

TEST(VgPixelOps, EdgesFallOnThePixelWhoseCentreTheyReach) {
  struct Case {
    float v;
    int32_t edge;
  };
  const Case cases[] = {{0, 0}, {2.49f, 2}, {2.5f, 3}, {2.51f, 3}, {-0.5f, 0}, {-0.51f, -1}, {-3.5f, -3},
                        {1e12f, INT32_MAX}, {-1e12f, INT32_MIN}, {NAN, 0}, {INFINITY, INT32_MAX}};
  for (const Case& c : cases) EXPECT_EQ(vgPixelEdge(c.v), c.edge) << c.v;
  const TvgPixelRect r = vgPixelsOfRect(vgRect(1.4f, -0.6f, 4.5f, 2.5f));
  EXPECT_EQ(r, (TvgPixelRect{1, -1, 5, 3}));
  EXPECT_EQ(vgPixelsInsideRect(vgRect(1.4f, 0.5f, 4.5f, 3)), (TvgPixelRect{2, 1, 4, 3}));
  EXPECT_TRUE(vgPixelsInsideRect(vgRect(1.2f, 0, 1.8f, 3)).IsEmpty());
}

// --- Device clip

TEST(VgPixelOps, OverlappingClipRectsLetEveryPixelThroughOnce) {
  const TvgDeviceClip clip = ClipOf(40, 30, {vgRect(0, 0, 20, 20), vgRect(10, 5, 30, 25), vgRect(0, 0, 20, 20),
                                             vgRect(12, 8, 14, 9), vgRect(-5, 28, 60, 40)});
  ASSERT_TRUE(clip.IsExact());
  std::vector<int> hits(40 * 30, 0);
  clip.ForEachPart({0, 0, 40, 30}, [&](const TvgPixelRect& p) {
    for (int32_t y = p.Top; y < p.Bottom; ++y)
      for (int32_t x = p.Left; x < p.Right; ++x) ++hits[y * 40 + x];
  });
  for (int32_t y = 0; y < 30; ++y) {
    for (int32_t x = 0; x < 40; ++x) {
      const bool inside = (x < 20 && y < 20) || (x >= 10 && x < 30 && y >= 5 && y < 25) || y >= 28;
      ASSERT_EQ(hits[y * 40 + x], inside ? 1 : 0) << x << "," << y;
    }
  }
  EXPECT_EQ(clip.Bounds(), (TvgPixelRect{0, 0, 40, 30}));
  // A blend through that clip touches each pixel once.
  Buffer b(40, 30, 0xFF000000u);
  vgBlendFill(b.View(), clip, {0, 0, 40, 30}, 0x80800000u);
  EXPECT_EQ(b.At(15, 10), vgBlendPixel(0x80800000u, 0xFF000000u));
  EXPECT_EQ(b.At(35, 10), 0xFF000000u);
}

TEST(VgPixelOps, FractionalRotatedAndUntrackedClipsKeepOnlyTheirBounds) {
  TvgDeviceClip clip = ClipOf(100, 100, {vgRect(10.5f, 10, 20, 20)});
  EXPECT_FALSE(clip.IsExact());
  EXPECT_TRUE(clip.Meets(vgRect(9.6f, 12, 9.9f, 13)));   // within a pixel of the edge: kept
  EXPECT_FALSE(clip.Meets(vgRect(30, 30, 40, 40)));
  clip = ClipOf(100, 100, {vgRect(10, 10, 50, 50)});
  clip.Intersect(vgRect(20, 20, 80, 80));
  ASSERT_TRUE(clip.IsExact());
  EXPECT_EQ(clip.Rects(), (std::vector<TvgPixelRect>{{20, 20, 50, 50}}));
  EXPECT_TRUE(clip.IsWithin({15, 15, 55, 55}, {}));
  EXPECT_FALSE(clip.IsWithin({25, 15, 55, 55}, {15, 25, 55, 55}));
  clip.Intersect(vgRect(0, 0, 30, 30), false);  // a rotated rect's bounds
  EXPECT_FALSE(clip.IsExact());
  EXPECT_FALSE(clip.IsWithin({0, 0, 100, 100}, {}));
  EXPECT_TRUE(clip.Meets(vgRect(25, 25, 26, 26)));
  EXPECT_FALSE(clip.Meets(vgRect(40, 40, 45, 45)));
  clip.Reset(100, 100);
  EXPECT_TRUE(clip.IsWholeSurface());
  clip.Replace({});
  EXPECT_FALSE(clip.Meets(vgRect(0, 0, 100, 100)));
}

// --- Drawing

TEST(VgPixelOps, FillsBlendOnlyWithinAreaClipAndBuffer) {
  const std::vector<uint32_t> start = Varied(30 * 20, 1);
  const TvgDeviceClip clip = ClipOf(30, 20, {vgRect(0, 0, 10, 20), vgRect(20, 5, 30, 10)});
  for (uint32_t color : {0xFF123456u, 0x7E274B6Cu, 0u}) {
    Buffer b(30, 20);
    b.pixels = start;
    vgBlendFill(b.View(), clip, {5, -3, 25, 8}, color);
    for (int32_t y = 0; y < 20; ++y) {
      for (int32_t x = 0; x < 30; ++x) {
        const bool inArea = x >= 5 && x < 25 && y < 8;
        const bool inClip = x < 10 || (x >= 20 && y >= 5 && y < 10);
        const uint32_t before = start[y * 30 + x];
        ASSERT_EQ(b.At(x, y), inArea && inClip ? vgBlendPixel(color, before) : before) << x << "," << y;
      }
    }
  }
}

TEST(VgPixelOps, ImagesBlendAtTheirPlaceAndTexturesTileOnlyWhenOpaque) {
  const std::vector<uint32_t> start = Varied(24 * 16, 2), image = Varied(7 * 5, 3);
  const TvgDeviceClip clip = ClipOf(24, 16, {vgRect(0, 0, 24, 10), vgRect(2, 12, 9, 14)});
  Buffer b(24, 16);
  b.pixels = start;
  vgBlendImage(b.View(), clip, -2, 3, image.data(), 7, 7, 5);
  for (int32_t y = 0; y < 16; ++y) {
    for (int32_t x = 0; x < 24; ++x) {
      const bool inImage = x < 5 && y >= 3 && y < 8;
      const uint32_t before = start[y * 24 + x];
      ASSERT_EQ(b.At(x, y), inImage ? vgBlendPixel(image[(y - 3) * 7 + x + 2], before) : before) << x << "," << y;
    }
  }
  // An opaque 5 x 3 texture with its origin at (-7, 4): texel ((x + 7) mod 5, (y - 4) mod 3).
  std::vector<uint32_t> texture(5 * 3);
  for (size_t i = 0; i < texture.size(); ++i) texture[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x10204u);
  b.pixels = start;
  ASSERT_TRUE(vgTileOpaque(b.View(), clip, {1, 1, 22, 14}, -7, 4, texture.data(), 5, 3));
  for (int32_t y = 0; y < 16; ++y) {
    for (int32_t x = 0; x < 24; ++x) {
      const bool inside = x >= 1 && x < 22 && y >= 1 && ((y < 10) || (y >= 12 && y < 14 && x >= 2 && x < 9));
      const uint32_t texel = texture[static_cast<size_t>(((y - 4) % 3 + 3) % 3 * 5 + (x + 7) % 5)];
      ASSERT_EQ(b.At(x, y), inside ? texel : start[y * 24 + x]) << x << "," << y;
    }
  }
  // A translucent texel that would show: nothing is drawn; one that would not: it is tiled.
  texture[7] = 0x80000000u;
  b.pixels = start;
  EXPECT_FALSE(vgTileOpaque(b.View(), clip, {1, 1, 22, 14}, -7, 4, texture.data(), 5, 3));
  EXPECT_EQ(b.pixels, start);
  EXPECT_TRUE(vgTileOpaque(b.View(), clip, {0, 4, 24, 5}, 0, 4, texture.data(), 5, 3));
}

TEST(VgPixelOps, RowsOfFillsAndImagesBlendAsEachPixelAloneOverEveryValue) {
  // Every source alpha and channel value over every destination value, rows of 256 pixels drawn
  // from an odd column so that runs of four and their ends both occur; channels out of the
  // premultiplied range (colour above alpha) and sums past 255 included.
  Buffer b(259, 1);
  std::vector<uint32_t> destination(256), source(259);
  for (uint32_t d = 0; d < 256; ++d) destination[d] = d << 24 | (255 - d) << 16 | (d ^ 0x5Au) << 8 | ((d * 7) & 0xFF);
  const TvgDeviceClip clip = ClipOf(259, 1, {vgRect(0, 0, 259, 1)});
  for (uint32_t a = 0; a < 256; ++a) {
    for (uint32_t c = 0; c < 256; c += 3) {
      const uint32_t color = a << 24 | c << 16 | (255 - c) << 8 | (c * a / 255);
      std::copy(destination.begin(), destination.end(), b.pixels.begin() + 3);
      vgBlendFill(b.View(), clip, {3, 0, 259, 1}, color);
      for (uint32_t d = 0; d < 256; ++d) ASSERT_EQ(b.At(3 + d, 0), vgBlendPixel(color, destination[d])) << a << " " << c << " " << d;
      // The image: the colour with its alpha and channels turning along the row.
      for (uint32_t i = 0; i < 256; ++i) source[i] = ((a + i) & 0xFF) << 24 | ((c + 3 * i) & 0xFF) << 16 | (c ^ i) << 8 | ((a * i) & 0xFF);
      std::copy(destination.begin(), destination.end(), b.pixels.begin() + 3);
      vgBlendImage(b.View(), clip, 3, 0, source.data(), 256, 256, 1);
      for (uint32_t d = 0; d < 256; ++d) ASSERT_EQ(b.At(3 + d, 0), vgBlendPixel(source[d], destination[d])) << a << " " << c << " " << d;
    }
  }
}

// --- Painted operations

TEST(VgPaintCache, PaintedPixelsAreTakenInTheirBoxAndTheAreaLeftClear) {
  Buffer b(20, 10);
  b.At(4, 3) = 0x80102030u;
  b.At(11, 6) = 0xFF000000u;
  b.At(18, 9) = 0xFFFFFFFFu;  // outside the area: stays
  const TvgPaintedPixels p = vgTakePainted(b.View(), {2, 1, 15, 8});
  EXPECT_EQ(p.Box, (TvgPixelRect{4, 3, 12, 7}));
  ASSERT_EQ(p.Pixels.size(), 8u * 4u);
  EXPECT_EQ(p.Pixels[0], 0x80102030u);
  EXPECT_EQ(p.Pixels[3 * 8 + 7], 0xFF000000u);
  EXPECT_EQ(b.At(4, 3), 0u);
  EXPECT_EQ(b.At(11, 6), 0u);
  EXPECT_EQ(b.At(18, 9), 0xFFFFFFFFu);
  EXPECT_TRUE(vgTakePainted(b.View(), {0, 0, 10, 10}).Box.IsEmpty());
}

TEST(VgPaintCache, KeysTellEveryValueApartAndTheBudgetDropsTheOldest) {
  auto key = [](const std::u16string& a, const std::u16string& b) {
    TvgPaintKey k(1);
    k.Add(a);
    k.Add(b);
    return k;
  };
  EXPECT_NE(key(u"ab", u"c").Bytes(), key(u"a", u"bc").Bytes());
  TvgPaintKey one(1), two(2);
  EXPECT_NE(one.Bytes(), two.Bytes());
  one.Add(0.5f);
  two = TvgPaintKey(1);
  two.Add(-0.5f);
  EXPECT_NE(one.Bytes(), two.Bytes());

  auto pixels = [](int32_t n) {
    TvgPaintedPixels p;
    p.Box = {0, 0, n, 1};
    p.Pixels.assign(static_cast<size_t>(n), 0xFFu);
    return p;
  };
  TvgPaintCache cache(4096);
  const TvgPaintKey a = key(u"a", u""), b = key(u"b", u""), c = key(u"c", u""), big = key(u"big", u"");
  cache.Store(a, pixels(400));  // 1600 bytes each
  cache.Store(b, pixels(400));
  ASSERT_NE(cache.Find(a), nullptr);  // a is now the most recently used
  cache.Store(c, pixels(400));        // over the budget: b goes
  EXPECT_NE(cache.Find(a), nullptr);
  EXPECT_EQ(cache.Find(b), nullptr);
  EXPECT_NE(cache.Find(c), nullptr);
  cache.Store(a, pixels(10));  // replaced, not doubled
  EXPECT_EQ(cache.Count(), 2u);
  EXPECT_EQ(cache.Find(a)->Pixels.size(), 10u);
  cache.Store(big, pixels(2000));  // larger than the whole budget: not kept
  EXPECT_EQ(cache.Find(big), nullptr);
  EXPECT_LE(cache.Bytes(), 4096u);
  cache.Clear();
  EXPECT_EQ(cache.Count(), 0u);
}
