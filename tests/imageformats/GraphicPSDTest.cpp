// Photoshop reader: colour modes, raw and PackBits planes, palettes and damaged files.
#include "imageformats/GraphicPSD.h"

#include <gtest/gtest.h>

#include "ReaderTestKit.h"

using kit::ErrorOf;
using kit::LoadAs;
using kit::RGB;

namespace {

// Header, colour mode data, empty resources and layers, and the compression word.
Bytes PsdFile(uint16_t channels, uint32_t rows, uint32_t columns, uint16_t depth, uint16_t mode,
              uint16_t compression, const Bytes& modeData = {}, const Bytes& resources = {}) {
  Bytes b{'8', 'B', 'P', 'S'};
  PutBE16(b, 1);
  for (int i = 0; i < 6; ++i) b.push_back(0);  // reserved
  PutBE16(b, channels);
  PutBE32(b, rows);
  PutBE32(b, columns);
  PutBE16(b, depth);
  PutBE16(b, mode);
  PutBE32(b, static_cast<uint32_t>(modeData.size()));
  Append(b, modeData);
  PutBE32(b, static_cast<uint32_t>(resources.size()));
  Append(b, resources);
  PutBE32(b, 4);
  Append(b, {9, 9, 9, 9});  // layer data that must be skipped
  PutBE16(b, compression);
  return b;
}

}  // namespace

TEST(PSDReader, SignatureAndProperties) {
  Bytes file = PsdFile(3, 2, 5, 8, 3, 1, {}, {1, 2, 3});
  EXPECT_TRUE(kit::Signature<TPSDGraphic>(file));
  Bytes wrongVersion = file;
  wrongVersion[5] = 2;
  EXPECT_FALSE(kit::Signature<TPSDGraphic>(wrongVersion));
  EXPECT_FALSE(kit::Signature<TPSDGraphic>(Bytes(file.begin(), file.begin() + 26)));
  TPSDGraphic psd;
  TMemoryStream stream;
  LoadInto(stream, file);
  ASSERT_TRUE(psd.ReadImageInfo(stream, 0));
  const TImageProperties& p = psd.ImageProperties();
  EXPECT_EQ(p.Width, 5u);
  EXPECT_EQ(p.Height, 2u);
  EXPECT_EQ(p.ColorScheme, psRGB);
  EXPECT_EQ(p.Compression, icPackBits);
  EXPECT_EQ(p.Options, ifBigEndian);
  EXPECT_EQ(p.BitsPerPixel, 24);
  EXPECT_EQ(stream.GetPosition(), static_cast<int64_t>(file.size()));
}

TEST(PSDReader, RawRGBPlanes) {
  Bytes file = PsdFile(3, 2, 2, 8, 3, 0);
  Append(file, {10, 11, 12, 13, 20, 21, 22, 23, 30, 31, 32, 33});
  auto psd = LoadAs<TPSDGraphic>(file);
  EXPECT_EQ(psd->GetPixelFormat(), pf24bit);
  EXPECT_EQ(psd->GetPixelColor(0, 0), RGB(10, 20, 30));
  EXPECT_EQ(psd->GetPixelColor(1, 0), RGB(11, 21, 31));
  EXPECT_EQ(psd->GetPixelColor(1, 1), RGB(13, 23, 33));
}

TEST(PSDReader, BitmapModeIsInvertedGray) {
  Bytes file = PsdFile(1, 2, 10, 1, 0, 0);
  Append(file, {0b10100000, 0b01000000, 0x00, 0x00});  // 2 bytes per row
  auto psd = LoadAs<TPSDGraphic>(file);
  EXPECT_EQ(psd->GetPixelFormat(), pf1bit);
  EXPECT_EQ(psd->GetPixelColor(0, 0), RGB(0, 0, 0));
  EXPECT_EQ(psd->GetPixelColor(1, 0), RGB(255, 255, 255));
  EXPECT_EQ(psd->GetPixelColor(9, 0), RGB(0, 0, 0));
  EXPECT_EQ(psd->GetPixelColor(9, 1), RGB(255, 255, 255));
}

TEST(PSDReader, FiveChannelsPackBitsLoadAsRGBA) {
  // Two rows of three pixels; five channels, the fifth never used.
  Bytes file = PsdFile(5, 2, 3, 8, 3, 1);
  std::vector<Bytes> rows;
  for (int c = 0; c < 5; ++c) {
    rows.push_back({0xFE, static_cast<uint8_t>(10 * c + 1)});              // run of 3
    rows.push_back({0x02, static_cast<uint8_t>(c), 7, static_cast<uint8_t>(200 + c)});  // literal
  }
  for (const Bytes& r : rows) PutBE16(file, static_cast<uint32_t>(r.size()));
  for (const Bytes& r : rows) Append(file, r);
  auto psd = LoadAs<TPSDGraphic>(file);
  EXPECT_EQ(psd->ImageProperties().SamplesPerPixel, 4);
  EXPECT_EQ(psd->ImageProperties().ColorScheme, psRGBA);
  ASSERT_EQ(psd->GetPixelFormat(), pf32bit);
  const uint8_t* top = psd->ScanLine(0);
  EXPECT_EQ(top[0], 21);  // blue
  EXPECT_EQ(top[1], 11);
  EXPECT_EQ(top[2], 1);
  EXPECT_EQ(top[3], 31);  // alpha from the fourth channel
  const uint8_t* bottom = psd->ScanLine(1);
  EXPECT_EQ(bottom[8 + 0], 202);
  EXPECT_EQ(bottom[8 + 3], 203);
  EXPECT_EQ(bottom[4 + 2], 7);
}

TEST(PSDReader, IndexedDuotoneAndSixteenBitGray) {
  Bytes palette(768, 0);
  palette[2] = 200;         // red of entry 2
  palette[256 + 2] = 100;   // green
  palette[512 + 2] = 50;    // blue
  Bytes indexed = PsdFile(1, 1, 2, 8, 2, 0, palette);
  Append(indexed, {2, 0});
  auto psd = LoadAs<TPSDGraphic>(indexed);
  EXPECT_EQ(psd->GetPixelFormat(), pf8bit);
  EXPECT_EQ(psd->GetPixelIndex(0, 0), 2u);
  EXPECT_EQ(psd->GetPixelColor(0, 0), RGB(200, 100, 50));

  // Duotone: the colour mode data holds ink settings, which are skipped.
  Bytes duotone = PsdFile(1, 1, 2, 8, 8, 0, Bytes(30, 0xAB));
  Append(duotone, {40, 250});
  psd = LoadAs<TPSDGraphic>(duotone);
  EXPECT_EQ(psd->GetPixelColor(0, 0), RGB(40, 40, 40));
  EXPECT_EQ(psd->GetPixelColor(1, 0), RGB(250, 250, 250));

  // 16-bit big-endian samples keep their high byte; an extra alpha channel is not read.
  Bytes wide = PsdFile(2, 1, 2, 16, 1, 0);
  Append(wide, {0x12, 0x34, 0xFF, 0xFF, 0, 0, 0, 0});
  psd = LoadAs<TPSDGraphic>(wide);
  EXPECT_EQ(psd->GetPixelFormat(), pf8bit);
  EXPECT_EQ(psd->GetPixelIndex(0, 0), 0x1234u * 255 / 65535);
  EXPECT_EQ(psd->GetPixelIndex(1, 0), 255u);
}

TEST(PSDReader, CMYKIsStoredInverted) {
  Bytes file = PsdFile(4, 1, 2, 8, 4, 0);
  // Pixel 0: full cyan; pixel 1: full black. Stored as 255 - ink.
  Append(file, {0, 255, 255, 255, 255, 255, 255, 0});
  auto psd = LoadAs<TPSDGraphic>(file);
  EXPECT_EQ(psd->GetPixelFormat(), pf24bit);
  EXPECT_EQ(psd->GetPixelColor(0, 0), RGB(0, 255, 255));
  EXPECT_EQ(psd->GetPixelColor(1, 0), RGB(0, 0, 0));
}

TEST(PSDReader, BadFilesFailWithTheirMessages) {
  Bytes file = PsdFile(3, 2, 2, 8, 3, 0);
  Append(file, Bytes(12, 1));
  Bytes wrong = file;
  wrong[0] = 'X';
  EXPECT_EQ(ErrorOf<TPSDGraphic>(wrong),
            "Cannot load image. Invalid or unexpected PSD or PDD image format.");
  Bytes twoChannels = PsdFile(2, 2, 2, 8, 3, 0);
  Append(twoChannels, Bytes(8, 1));
  EXPECT_EQ(ErrorOf<TPSDGraphic>(twoChannels), "Invalid color format in PSD or PDD file.");
  Bytes depth = PsdFile(3, 2, 2, 4, 3, 0);
  Append(depth, Bytes(12, 1));
  EXPECT_EQ(ErrorOf<TPSDGraphic>(depth), "Invalid color format in PSD or PDD file.");
  // Sections and planes that reach past the end fail before anything is allocated.
  Bytes cut(file.begin(), file.end() - 1);
  EXPECT_NE(ErrorOf<TPSDGraphic>(cut), "");
  Bytes hugeSection = file;
  hugeSection[26] = 0x7F;
  EXPECT_EQ(ErrorOf<TPSDGraphic>(hugeSection), "Stream read error");
  Bytes huge = PsdFile(3, 60000, 60000, 8, 3, 1);
  EXPECT_NE(ErrorOf<TPSDGraphic>(huge), "");
}

TEST(PSDReader, MutatedFilesFailCleanly) {
  Bytes raw = PsdFile(3, 2, 3, 8, 3, 0);
  Append(raw, Bytes(18, 5));
  Bytes packed = PsdFile(4, 2, 3, 8, 4, 1);
  for (int i = 0; i < 8; ++i) PutBE16(packed, 2);
  for (int i = 0; i < 8; ++i) Append(packed, {0xFE, static_cast<uint8_t>(i)});
  Bytes gray = PsdFile(1, 3, 9, 1, 0, 1);
  for (int i = 0; i < 3; ++i) PutBE16(gray, 3);
  for (int i = 0; i < 3; ++i) Append(gray, {0x01, 0xF0, 0x0F});
  Bytes indexed = PsdFile(1, 2, 2, 8, 2, 0, Bytes(768, 3));
  Append(indexed, {1, 2, 3, 4});
  kit::Fuzz({raw, packed, gray, indexed}, [] { return std::make_unique<TPSDGraphic>(); }, 4000, 21);
}
