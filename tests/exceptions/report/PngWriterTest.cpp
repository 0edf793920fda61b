// The screenshot's colour reduction and PNG writer: images read back by python's zlib and
// struct (chunk CRCs, header, palette, IDAT sizes, every pixel), exact colours up to 256 of them.
#include "exceptions/report/EScreenshot.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "ArtifactCheck.h"
#include "classlib/Streams.h"

namespace {

const char* const kKind = "png";

struct Rgb {
  int32_t Width, Height;
  std::vector<uint8_t> Pixels;
};

// Writes the PNG, the expected pixels and the manifest for the python check.
void Export(const std::string& name, const Rgb& image, const TIndexedImage& indexed, int tolerance) {
  TMemoryStream png;
  EncodeIndexedPNG(png, indexed);
  png.SaveToFile(artifacts::Path(kKind, name + ".png"));
  std::string rgb(image.Pixels.begin(), image.Pixels.end());
  WriteFileBytes(artifacts::Path(kKind, name + ".rgb"), rgb);
  artifacts::WriteText(kKind, name + ".pngcheck",
                       "{\"png\": \"" + name + ".png\", \"rgb\": \"" + name + ".rgb\", \"width\": " +
                           std::to_string(indexed.Width) + ", \"height\": " + std::to_string(indexed.Height) +
                           ", \"tolerance\": " + std::to_string(tolerance) + "}");
}

uint32_t PaletteColor(const TIndexedImage& image, size_t pixel) {
  return image.Palette[image.Indices[pixel]];
}

uint32_t PixelColor(const Rgb& image, size_t pixel) {
  const uint8_t* p = &image.Pixels[3 * pixel];
  return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

TEST(PngChecksum, StandardCheckValue) {
  const char digits[] = "123456789";
  EXPECT_EQ(Crc32Update(0xFFFFFFFFu, digits, 9) ^ 0xFFFFFFFFu, 0xCBF43926u);
  uint32_t split = Crc32Update(Crc32Update(0xFFFFFFFFu, digits, 4), digits + 4, 5);
  EXPECT_EQ(split ^ 0xFFFFFFFFu, 0xCBF43926u);
  EXPECT_EQ(Crc32Update(0x1234u, nullptr, 5), 0x1234u);
}

TEST(PngWriter, UpTo256ColoursAreKeptExactly) {
  // 13 x 7: rows of an odd width, 91 pixels of 91 different colours plus repeats.
  std::mt19937 random(11);
  std::vector<uint32_t> colours;
  for (int i = 0; i < 256; ++i) colours.push_back(random() & 0xFFFFFF);
  Rgb image{37, 9, {}};
  for (int32_t i = 0; i < image.Width * image.Height; ++i) {
    uint32_t c = colours[static_cast<size_t>(i) % colours.size()];
    image.Pixels.insert(image.Pixels.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
  }
  TIndexedImage indexed = QuantizeRgb(image.Pixels.data(), image.Width, image.Height);
  ASSERT_EQ(indexed.Indices.size(), static_cast<size_t>(image.Width * image.Height));
  EXPECT_EQ(std::set<uint32_t>(indexed.Palette.begin(), indexed.Palette.end()),
            std::set<uint32_t>(colours.begin(), colours.end()));
  for (size_t i = 0; i < indexed.Indices.size(); ++i) ASSERT_EQ(PaletteColor(indexed, i), PixelColor(image, i)) << i;
  Export("exact", image, indexed, 0);
  std::string output;
  EXPECT_TRUE(artifacts::RunCheck(kKind, output)) << output;
}

TEST(PngWriter, ManyColoursReduceTo256Nearby) {
  Rgb image{300, 200, {}};
  for (int32_t y = 0; y < image.Height; ++y)
    for (int32_t x = 0; x < image.Width; ++x)
      image.Pixels.insert(image.Pixels.end(), {uint8_t(x * 255 / 299), uint8_t(y * 255 / 199), uint8_t((x + y) & 0xFF)});
  TIndexedImage indexed = QuantizeRgb(image.Pixels.data(), image.Width, image.Height);
  EXPECT_LE(indexed.Palette.size(), 256u);
  EXPECT_GT(indexed.Palette.size(), 64u);
  int worst = 0;
  for (size_t i = 0; i < indexed.Indices.size(); ++i) {
    uint32_t a = PaletteColor(indexed, i), b = PixelColor(image, i);
    for (int shift : {0, 8, 16}) worst = std::max(worst, std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)));
  }
  EXPECT_LE(worst, 64);
  Export("gradient", image, indexed, worst);
  std::string output;
  EXPECT_TRUE(artifacts::RunCheck(kKind, output)) << output;
}

TEST(PngWriter, LargeImagesSpanSeveralDataChunks) {
  std::mt19937 random(5);
  Rgb image{701, 700, {}};
  for (int32_t i = 0; i < image.Width * image.Height; ++i) {
    uint8_t level = static_cast<uint8_t>(random());
    image.Pixels.insert(image.Pixels.end(), {level, uint8_t(255 - level), uint8_t(level ^ 0x5A)});
  }
  TIndexedImage indexed = QuantizeRgb(image.Pixels.data(), image.Width, image.Height);
  TMemoryStream png;
  EncodeIndexedPNG(png, indexed);
  EXPECT_GT(png.GetSize(), 0x3FFFF);
  Export("noise", image, indexed, 0);
  std::string output;
  EXPECT_TRUE(artifacts::RunCheck(kKind, output)) << output;
}

TEST(PngWriter, EmptyImageBecomesOneBlackPixel) {
  TIndexedImage indexed = QuantizeRgb(nullptr, 0, 0);
  EXPECT_EQ(indexed.Width, 1);
  EXPECT_EQ(indexed.Height, 1);
  ASSERT_EQ(indexed.Indices.size(), 1u);
  EXPECT_EQ(PaletteColor(indexed, 0), 0u);
  Export("single", Rgb{1, 1, {0, 0, 0}}, indexed, 0);
  std::string output;
  EXPECT_TRUE(artifacts::RunCheck(kKind, output)) << output;
}

TEST(PngWriter, AStreamThatTakesNothingRaises) {
  std::string path = artifacts::Path(kKind, "readonly.bin");
  WriteFileBytes(path, "x");
  TFileStream stream(path, fmOpenRead);
  EXPECT_THROW(EncodeIndexedPNG(stream, QuantizeRgb(nullptr, 2, 2)), EWriteError);
}

}  // namespace
