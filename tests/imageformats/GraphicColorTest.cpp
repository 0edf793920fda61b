// Colour manager: settings checks, converter choice, row converters, gamma and palettes.
#include "imageformats/GraphicColor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EColorConversionError& e) {
    return e.Message();
  }
  return "";
}

TColorManager RGB8To(TPixelScheme source, TPixelScheme target) {
  TColorManager m;
  m.SetSourceScheme(source);
  m.SetTargetScheme(target);
  return m;
}

}  // namespace

TEST(ColorManager, ReversesOrCopiesThreeComponents) {
  const uint8_t row[6] = {1, 2, 3, 4, 5, 6};
  uint8_t out[6] = {};
  TColorManager m;  // psRGB -> psBGR
  m.ConvertPixelRow({row}, out, 2, 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
  m.SetSourceScheme(psBGR);
  m.ConvertPixelRow({row}, out, 2, 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
}

TEST(ColorManager, EightBitLayoutsWithAndWithoutAlpha) {
  const uint8_t rgb[6] = {1, 2, 3, 4, 5, 6}, rgba[8] = {1, 2, 3, 9, 4, 5, 6, 8};
  const struct {
    TPixelScheme Source, Target;
    const uint8_t* Row;
    std::vector<uint8_t> Expected;  // 7 marks a byte the conversion leaves alone
  } cases[] = {
      {psRGBA, psBGRA, rgba, {3, 2, 1, 9, 6, 5, 4, 8}},
      {psRGBA, psRGBA, rgba, {1, 2, 3, 9, 4, 5, 6, 8}},
      {psRGBA, psBGR, rgba, {3, 2, 1, 6, 5, 4, 7, 7}},
      {psRGB, psBGRA, rgb, {3, 2, 1, 7, 6, 5, 4, 7}},
      {psBGR, psBGR, rgb, {1, 2, 3, 4, 5, 6, 7, 7}},
  };
  for (const auto& c : cases) {
    TColorManager m = RGB8To(c.Source, c.Target);
    uint8_t out[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    m.ConvertPixelRow({c.Row}, out, 2, 0xFF);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), c.Expected) << c.Source << " " << c.Target;
  }
}

TEST(ColorManager, SettingChecks) {
  TColorManager m;
  const std::string depth = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
  EXPECT_EQ(MessageOf([&] { m.SetSourceBitsPerSample(0); }), depth);
  EXPECT_EQ(MessageOf([&] { m.SetSourceBitsPerSample(17); }), depth);
  EXPECT_EQ(MessageOf([&] { m.SetSourceBitsPerSample(12); }), "");
  EXPECT_EQ(m.GetSourceBitsPerSample(), 12);
  EXPECT_EQ(MessageOf([&] { m.SetTargetSamplesPerPixel(5); }),
            "Sample count per pixel does not correspond to the given color scheme.");
  EXPECT_EQ(m.GetTargetSamplesPerPixel(), 3);
  EXPECT_EQ(MessageOf([&] { m.SetYCbCrValues({0.5f}, 3, 1); }),
            "Subsampling value is invalid. Allowed are 1, 2 and 4.");
  EXPECT_FLOAT_EQ(m.LumaRed(), 0.5f);  // stored before the check
  EXPECT_EQ(MessageOf([&] { m.SetYCbCrValues({0.3f}, 1, 2); }),
            "Vertical subsampling value must be <= horizontal subsampling value.");
}

TEST(ColorManager, ConverterChoiceFailsAtFirstConversion) {
  uint8_t row[8] = {}, out[8] = {};
  TColorManager m = RGB8To(psIndexed, psBGR);  // no error yet
  const std::string indexed =
      "Conversion between indexed and non-indexed pixel formats is not supported.";
  EXPECT_EQ(MessageOf([&] { m.ConvertPixelRow({row}, out, 1, 0xFF); }), indexed);
  // The choice stays open, so the next conversion fails the same way.
  EXPECT_EQ(MessageOf([&] { m.ConvertPixelRow({row}, out, 1, 0xFF); }), indexed);
  for (TPixelScheme s : {psCMY, psUnknown}) {
    TColorManager c = RGB8To(s, psBGR);
    EXPECT_EQ(MessageOf([&] { c.ConvertPixelRow({row}, out, 1, 0xFF); }),
              "Color conversion failed. Could not find a proper method.");
  }
}

TEST(ColorManager, GammaTableDefaults) {
  TColorManager m;
  m.SetGammaValues(0, 0);
  EXPECT_FLOAT_EQ(m.GetFileGamma(), 1.0f);
  EXPECT_FLOAT_EQ(m.GetDisplayGamma(), 2.2f);
  EXPECT_EQ(m.GammaTable(128), 186);
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(m.GammaTable(static_cast<uint8_t>(i)),
              static_cast<int>(std::nearbyint(std::pow(i / 255.0, 1 / 2.2) * 255)))
        << i;
}

TEST(ColorManager, GrayPalettes) {
  TColorManager m;
  m.SetTargetSamplesPerPixel(1);
  m.SetTargetBitsPerSample(1);
  TPaletteEntries p = m.MakeGrayPalette(false);
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0], (TPaletteEntry{0, 0, 0, 0}));
  EXPECT_EQ(p[1], (TPaletteEntry{255, 255, 255, 0}));
  p = m.MakeGrayPalette(true);
  EXPECT_EQ(p[0], (TPaletteEntry{255, 255, 255, 0}));
  m.SetTargetBitsPerSample(4);
  p = m.MakeGrayPalette(false);
  ASSERT_EQ(p.size(), 16u);
  EXPECT_EQ(p[15].peRed, 255);
  EXPECT_EQ(p[1].peGreen, 17);
}

TEST(ColorManager, InterlaceMaskWritesSelectedPixelsOnly) {
  TColorManager m;
  m.SetSourceScheme(psBGR);
  const uint8_t source[12] = {10, 11, 12, 20, 21, 22, 30, 31, 32, 40, 41, 42};
  std::vector<uint8_t> target(24, 0xEE);
  m.ConvertPixelRow({source}, target.data(), 8, 0xAA);
  for (int px = 0; px < 8; ++px) {
    for (int k = 0; k < 3; ++k) {
      uint8_t expected = px % 2 == 0 ? static_cast<uint8_t>(10 * (px / 2 + 1) + k) : 0xEE;
      EXPECT_EQ(target[px * 3 + k], expected) << px << "," << k;
    }
  }
}

TEST(ColorManager, SixteenBitSwappedToEight) {
  TColorManager m;
  m.SetSourceBitsPerSample(16);
  m.SetSourceOptions(poSwapBytes);
  const uint8_t source[6] = {0x12, 0x34, 0xFF, 0xFF, 0x00, 0x00};  // big-endian R, G, B
  uint8_t out[3] = {};
  m.ConvertPixelRow({source}, out, 1, 0xFF);
  EXPECT_EQ(out[2], 0x1234 * 255 / 65535);  // red last in BGR
  EXPECT_EQ(out[2], 18);
  EXPECT_EQ(out[1], 255);
  EXPECT_EQ(out[0], 0);
}

TEST(ColorManager, CMYKToBGR) {
  TColorManager m;
  m.SetSourceScheme(psCMYK);
  m.SetSourceSamplesPerPixel(4);
  const uint8_t black[4] = {0, 0, 0, 255}, cyan[4] = {255, 0, 0, 0};
  uint8_t out[3];
  m.ConvertPixelRow({black}, out, 1, 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{0, 0, 0}));
  m.ConvertPixelRow({cyan}, out, 1, 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{255, 255, 0}));  // b g r
  // Four planes.
  const uint8_t c[2] = {255, 0}, mm[2] = {0, 0}, y[2] = {0, 255}, k[2] = {0, 0};
  uint8_t row[6];
  m.ConvertPixelRow({c, mm, y, k}, row, 2, 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(row, row + 6), (std::vector<uint8_t>{255, 255, 0, 0, 255, 255}));
}

TEST(ColorManager, PlanesFollowTheDeclaredOrder) {
  const uint8_t r[2] = {1, 2}, g[2] = {3, 4}, b[2] = {5, 6};
  uint8_t out[6];
  TColorManager m;
  m.ConvertPixelRow({r, g, b}, out, 2, 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{5, 3, 1, 6, 4, 2}));
  m.SetSourceScheme(psBGR);
  m.ConvertPixelRow({r, g, b}, out, 2, 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{1, 3, 5, 2, 4, 6}));
}

TEST(ColorManager, YCbCrAndLab) {
  TColorManager m;
  m.SetSourceScheme(psYCbCr);
  const uint8_t grey[3] = {77, 128, 128};
  uint8_t out[3];
  m.ConvertPixelRow({grey}, out, 1, 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{77, 77, 77}));
  // Pure red in BT.601 (Y 76, Cb 85, Cr 255) comes back close to red.
  const uint8_t red[3] = {76, 85, 255};
  m.ConvertPixelRow({red}, out, 1, 0xFF);
  EXPECT_GE(out[2], 250);
  EXPECT_LE(out[1], 3);
  EXPECT_LE(out[0], 3);

  TColorManager lab;
  lab.SetSourceScheme(psLab);
  const uint8_t white[3] = {100, 0, 0}, black[3] = {0, 0, 0};
  lab.ConvertPixelRow({white}, out, 1, 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{255, 255, 255}));
  lab.ConvertPixelRow({black}, out, 1, 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{0, 0, 0}));
}

TEST(ColorManager, UnsupportedDepthWritesNothing) {
  TColorManager m;
  m.SetSourceBitsPerSample(4);
  m.SetTargetBitsPerSample(4);
  const uint8_t source[6] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  uint8_t out[6] = {7, 7, 7, 7, 7, 7};
  m.ConvertPixelRow({source}, out, 4, 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), std::vector<uint8_t>(6, 7));
}

TEST(ColorManager, IndexedPackingScalesValues) {
  TColorManager m;
  m.SetSourceScheme(psIndexed);
  m.SetTargetScheme(psIndexed);
  m.SetSourceSamplesPerPixel(1);
  m.SetTargetSamplesPerPixel(1);
  m.SetSourceBitsPerSample(2);
  m.SetTargetBitsPerSample(4);
  const uint8_t source[1] = {0b00011011};  // 0, 1, 2, 3
  uint8_t out[2] = {};
  m.ConvertPixelRow({source}, out, 4, 0xFF);
  EXPECT_EQ(out[0], 0x05);
  EXPECT_EQ(out[1], 0xAF);
  // Palette resampled the same way: entry 5 holds the colour of value 1.
  const uint8_t triples[12] = {0, 0, 0, 10, 10, 10, 20, 20, 20, 30, 30, 30};
  TPaletteEntries p = m.MakeColorPalette({triples}, pfInterlaced8Triple, 4, false);
  ASSERT_EQ(p.size(), 16u);
  EXPECT_EQ(p[5].peRed, 10);
  EXPECT_EQ(p[10].peRed, 20);
  EXPECT_EQ(p[15].peRed, 30);
  // Masked packing keeps the untouched pixels' bits.
  uint8_t masked[2] = {0xFF, 0xFF};
  const uint8_t pass[1] = {0b00010000};  // values 0, 1 for pixels 0 and 2
  m.ConvertPixelRow({pass}, masked, 4, 0xA0);
  EXPECT_EQ(masked[0], 0x0F);
  EXPECT_EQ(masked[1], 0x5F);
}

TEST(ColorManager, ColorPaletteLayouts) {
  TColorManager m;
  m.SetSourceScheme(psIndexed);
  m.SetTargetScheme(psIndexed);
  m.SetSourceBitsPerSample(8);
  m.SetTargetBitsPerSample(8);
  const uint8_t bgr[6] = {1, 2, 3, 4, 5, 6};
  TPaletteEntries p = m.MakeColorPalette({bgr}, pfInterlaced8Triple, 2, true);
  EXPECT_EQ(p[0], (TPaletteEntry{3, 2, 1, 0}));
  const uint16_t words[3] = {0x0000, 0xFFFF, 0x8080};  // red, green, blue planes of one entry
  TPaletteEntries q = m.MakeColorPalette({&words[0], &words[1], &words[2]}, pfPlane16Triple, 1,
                                         false);
  EXPECT_EQ(q[0], (TPaletteEntry{0, 255, 0x8080 * 255 / 65535, 0}));
  std::vector<uint8_t> big(3 * 256, 9);
  EXPECT_EQ(m.MakeColorPalette({big.data()}, pfInterlaced8Triple, 1000, false).size(), 256u);
}

TEST(ColorManager, PixelFormatFor) {
  TColorManager m;
  EXPECT_EQ(m.PixelFormatFor(1), pf24bit);
  m.SetTargetSamplesPerPixel(1);
  m.SetTargetBitsPerSample(2);
  EXPECT_EQ(m.PixelFormatFor(1), pf4bit);
  m.SetTargetBitsPerSample(16);
  EXPECT_EQ(m.PixelFormatFor(1), pf8bit);
  m.SetTargetBitsPerSample(6);
  EXPECT_EQ(m.PixelFormatFor(1), pfCustom);
  m.SetTargetSamplesPerPixel(4);
  m.SetTargetBitsPerSample(8);
  EXPECT_EQ(m.PixelFormatFor(1), pf32bit);
  m.SetSourceSamplesPerPixel(3);
  m.SetSourceBitsPerSample(5);
  EXPECT_EQ(m.PixelFormatFor(0), pf15bit);
}
