// Packed device-independent bitmaps (the clipboard's CF_DIB blocks) read into 32-bit bitmaps:
// each header and pixel layout, the alpha rule, and blocks that lie about their size.
#include "classlib/Graphics.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A block with a header of `headerSize` bytes (40 and up), the extra words after the 40-byte
// part (masks) written into the header, then `tail` (masks, palette, rows).
std::vector<uint8_t> Dib(uint32_t headerSize, int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                         uint32_t colours, const std::vector<uint32_t>& headerMasks, const std::vector<uint8_t>& tail) {
  std::vector<uint8_t> out;
  Put32(out, headerSize);
  Put32(out, static_cast<uint32_t>(width));
  Put32(out, static_cast<uint32_t>(height));
  Put16(out, 1);
  Put16(out, bits);
  Put32(out, compression);
  for (int k = 0; k < 3; ++k) Put32(out, 0);
  Put32(out, colours);
  Put32(out, 0);
  for (uint32_t m : headerMasks) Put32(out, m);
  out.resize(headerSize, 0);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

// ARGB of a pixel of the 32-bit result.
uint32_t Argb(const TBitmap& b, int32_t x, int32_t y) {
  const uint8_t* p = b.ScanLine(y) + 4 * x;
  return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

struct DibCase {
  const char* name;
  std::vector<uint8_t> block;
  std::vector<uint32_t> expected;  // row by row, top first, 2 x 2
};

TEST(BitmapFromDib, EveryHeaderAndPixelLayout) {
  const std::vector<DibCase> cases = {
      // 24 bits bottom-up: the last row in the block is the top; rows padded to 4 bytes.
      {"24-bit bottom-up",
       Dib(40, 2, 2, 24, 0, 0, {}, {0, 0, 255, 0, 255, 0, 0, 0, /* bottom */ 255, 0, 0, 255, 255, 255, 0, 0}),
       {0xFF0000FFu, 0xFFFFFFFFu, 0xFFFF0000u, 0xFF00FF00u}},
      // 8 bits top-down (negative height) with a two-entry table.
      {"8-bit top-down",
       Dib(40, 2, -2, 8, 0, 2, {}, {0x10, 0x20, 0x30, 0, 0xA0, 0xB0, 0xC0, 0, 1, 0, 0, 0, 0, 1, 0, 0}),
       {0xFFC0B0A0u, 0xFF302010u, 0xFF302010u, 0xFFC0B0A0u}},
      // 1 bit, most significant bit first.
      {"1-bit", Dib(40, 2, -2, 1, 0, 0, {}, {0, 0, 0, 0, 255, 255, 255, 0, 0x80, 0, 0, 0, 0x40, 0, 0, 0}),
       {0xFFFFFFFFu, 0xFF000000u, 0xFF000000u, 0xFFFFFFFFu}},
      // 16 bits without masks: 5 bits each of red, green, blue.
      {"16-bit 555", Dib(40, 2, -2, 16, 0, 0, {}, {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xFF, 0x7F}),
       {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu}},
      // 32 bits with masks and an alpha mask in a 124-byte header: alpha kept.
      {"32-bit fields with alpha",
       Dib(124, 2, -1, 32, 3, 0, {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u},
           {0x33, 0x22, 0x11, 0x80, 0x00, 0x00, 0xFF, 0x00}),
       {0x80112233u, 0x00FF0000u}},
      // 32 bits, masks after a 40-byte header, blue and red swapped by the masks.
      {"32-bit fields after the header",
       Dib(40, 1, -1, 32, 3, 0, {}, {0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0x0A, 0x0B, 0x0C, 0x00}),
       {0xFF0A0B0Cu}},
      // 32 bits without masks and alpha all 0: opaque.
      {"32-bit rgb", Dib(40, 2, -1, 32, 0, 0, {}, {1, 2, 3, 0, 4, 5, 6, 0}), {0xFF030201u, 0xFF060504u}},
  };
  for (const DibCase& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap bitmap;
    ASSERT_NO_THROW(bitmap.LoadFromDIB(c.block.data(), c.block.size()));
    EXPECT_EQ(bitmap.GetPixelFormat(), pf32bit);
    const int32_t w = bitmap.GetWidth();
    ASSERT_EQ(static_cast<size_t>(w * bitmap.GetHeight()), c.expected.size());
    for (size_t i = 0; i < c.expected.size(); ++i)
      EXPECT_EQ(Argb(bitmap, static_cast<int32_t>(i) % w, static_cast<int32_t>(i) / w), c.expected[i]) << i;
  }
  // The old 12-byte header with three-byte table entries.
  std::vector<uint8_t> core;
  Put32(core, 12);
  Put16(core, 1);
  Put16(core, 1);
  Put16(core, 1);
  Put16(core, 8);
  core.insert(core.end(), {0, 0, 0});
  for (int i = 1; i < 256; ++i) core.insert(core.end(), {9, 8, 7});
  core.insert(core.end(), {1, 0, 0, 0});
  TBitmap bitmap;
  bitmap.LoadFromDIB(core.data(), core.size());
  EXPECT_EQ(Argb(bitmap, 0, 0), 0xFF070809u);
}

TEST(BitmapFromDib, BlocksThatLieAreRefusedAndChangeNothing) {
  const std::vector<uint8_t> good = Dib(40, 2, 2, 24, 0, 0, {}, std::vector<uint8_t>(16, 0x7F));
  TBitmap bitmap;
  bitmap.LoadFromDIB(good.data(), good.size());
  auto broken = [&](std::vector<uint8_t> block, size_t keep) {
    block.resize(std::min(block.size(), keep));
    return block;
  };
  const std::vector<std::vector<uint8_t>> bad = {
      broken(good, good.size() - 1),                              // one byte of rows missing
      broken(good, 11),                                           // no header
      Dib(40, 0, 2, 24, 0, 0, {}, std::vector<uint8_t>(16)),     // no width
      Dib(40, 2, 0, 24, 0, 0, {}, std::vector<uint8_t>(16)),     // no height
      Dib(40, 2, 2, 12, 0, 0, {}, std::vector<uint8_t>(16)),     // 12 bits per pixel
      Dib(40, 2, 2, 8, 1, 0, {}, std::vector<uint8_t>(1040)),    // run-length coded
      Dib(40, 2, 2, 24, 3, 0, {}, std::vector<uint8_t>(28)),     // masks on 24 bits
      Dib(64, 2, 2, 24, 0, 0, {}, std::vector<uint8_t>(16)),     // unknown header size
      Dib(40, 70000, 1, 24, 0, 0, {}, std::vector<uint8_t>(16)), // wider than a bitmap may be
      Dib(40, 65535, 65535, 32, 0, 0, {}, std::vector<uint8_t>(16)),
      Dib(40, 2, 2, 8, 0, 0, {}, std::vector<uint8_t>(40)),      // palette cut short
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_THROW(bitmap.LoadFromDIB(bad[i].data(), bad[i].size()), EInvalidGraphic) << i;
    EXPECT_EQ(bitmap.GetWidth(), 2);
    EXPECT_EQ(Argb(bitmap, 1, 1), 0xFF7F7F7Fu);
  }
  EXPECT_THROW(bitmap.LoadFromDIB(nullptr, 0), EInvalidGraphic);
  // Random damage to a valid block either reads or raises, never more.
  std::mt19937 random(7);
  const std::vector<uint8_t> paletted = Dib(40, 3, -3, 4, 0, 16, {}, std::vector<uint8_t>(64 + 12, 0x35));
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> block = paletted;
    for (int k = 0; k < 4; ++k) block[random() % block.size()] = static_cast<uint8_t>(random());
    block.resize(random() % (block.size() + 1));
    try {
      TBitmap target;
      target.LoadFromDIB(block.data(), block.size());
    } catch (const EInvalidGraphic&) {
    }
  }
}

}  // namespace
