// Photo-CD reader: base image layout, chroma doubling, rotation and the reported sizes.
#include "imageformats/GraphicPCD.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "ReaderTestKit.h"

using kit::ErrorOf;
using kit::LoadAs;
using kit::RGB;

namespace {

// An image pack whose luminance is (x + 3 * y) mod 256 and whose chroma is `cb`, `cr`.
Bytes MakePcd(uint8_t rotation, uint8_t cb = 156, uint8_t cr = 137, bool overview = false) {
  Bytes b(static_cast<size_t>(overview ? 5 : 96) * 2048, 0);
  b.reserve(b.size() + 256 * 2304);
  if (overview) std::memcpy(b.data(), "PCD_OPA", 7);
  else std::memcpy(b.data() + 2048, "PCD_IPI", 7);
  b[10] = 0;
  b[11] = 7;
  b[0x0E02] = rotation;
  for (int row = 0; row < 512; row += 2) {
    for (int r = row; r < row + 2; ++r)
      for (int x = 0; x < 768; ++x) b.push_back(static_cast<uint8_t>(x + 3 * r));
    b.insert(b.end(), 384, cb);
    b.insert(b.end(), 384, cr);
  }
  return b;
}

TColor Gray(int v) { return RGB(v & 255, v & 255, v & 255); }

}  // namespace

TEST(PCDReader, SignatureAndReportedSizes) {
  Bytes file = MakePcd(0);
  EXPECT_TRUE(kit::Signature<TPCDGraphic>(file));
  EXPECT_FALSE(kit::Signature<TPCDGraphic>(Bytes(file.begin(), file.begin() + 6144)));
  TPCDGraphic pcd;
  TMemoryStream stream;
  LoadInto(stream, file);
  ASSERT_TRUE(pcd.ReadImageInfo(stream, 4));
  EXPECT_EQ(pcd.ImageProperties().Width, 3072u);
  EXPECT_EQ(pcd.ImageProperties().Height, 2048u);
  EXPECT_EQ(pcd.ImageProperties().Compression, icPhotoCDHuffman);
  EXPECT_EQ(pcd.ImageProperties().ImageCount, 7);
  stream.SetPosition(0);
  ASSERT_TRUE(pcd.ReadImageInfo(stream, 9));  // clamped to 5
  EXPECT_EQ(pcd.ImageProperties().Width, 6144u);
  // Loading always gives the base image.
  stream.SetPosition(0);
  pcd.LoadFromStream(stream);
  EXPECT_EQ(pcd.GetWidth(), 768);
  EXPECT_EQ(pcd.GetHeight(), 512);
  EXPECT_EQ(pcd.GetPixelFormat(), pf24bit);
  EXPECT_EQ(pcd.GetPixelColor(5, 0), Gray(5));
  EXPECT_EQ(pcd.GetPixelColor(700, 301), Gray(700 + 903));
  EXPECT_EQ(pcd.GetPixelColor(767, 511), Gray(767 + 1533));
}

TEST(PCDReader, RotationsTurnTheBitmap) {
  auto quarter = LoadAs<TPCDGraphic>(MakePcd(1));
  ASSERT_EQ(quarter->GetWidth(), 512);
  ASSERT_EQ(quarter->GetHeight(), 768);
  // Image pixel (x, y) lands in row 767 - x, column y.
  EXPECT_EQ(quarter->GetPixelColor(10, 767 - 20), Gray(20 + 30));
  EXPECT_EQ(quarter->GetPixelColor(0, 767), Gray(0));
  auto threeQuarters = LoadAs<TPCDGraphic>(MakePcd(3));
  EXPECT_EQ(threeQuarters->GetPixelColor(511 - 10, 20), Gray(20 + 30));
  // Rotation 2 keeps the stored orientation, as rotation 0 does.
  auto half = LoadAs<TPCDGraphic>(MakePcd(2));
  EXPECT_EQ(half->GetWidth(), 768);
  EXPECT_EQ(half->GetPixelColor(20, 10), Gray(20 + 30));
  EXPECT_EQ(half->GetPixelColor(767, 511), Gray(767 + 1533));
  auto overview = LoadAs<TPCDGraphic>(MakePcd(0, 156, 137, true));
  EXPECT_EQ(overview->GetPixelColor(3, 2), Gray(3 + 6));
}

TEST(PCDReader, ChromaMovesBlue) {
  auto pcd = LoadAs<TPCDGraphic>(MakePcd(0, 166, 137));
  // PhotoYCC blue difference is centred at 156 and scaled by 2 - 2 * 0.0721.
  int shift = static_cast<int>(std::lround(10 * (2 - 2 * 0.0721)));
  TColor c = pcd->GetPixelColor(40, 0);
  EXPECT_EQ((c >> 16) & 0xFF, 40 + shift);
  EXPECT_EQ(c & 0xFF, 40);
}

TEST(PCDReader, DoublingInterpolates) {
  uint8_t plane[4 * 4] = {0, 10, 0, 0, 20, 40, 0, 0};
  DoublePlane(plane, 2, 2, 4);
  const uint8_t expected[16] = {0, 5, 10, 10, 10, 18, 25, 25, 20, 30, 40, 40, 20, 30, 40, 40};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(plane[i], expected[i]) << i;
}

TEST(PCDReader, ShortAndForeignFiles) {
  Bytes file = MakePcd(0);
  file.resize(file.size() - 1);
  EXPECT_EQ(ErrorOf<TPCDGraphic>(file), "Stream read error");
  Bytes foreign(8000, 0);
  EXPECT_EQ(ErrorOf<TPCDGraphic>(foreign), "Cannot load image. Invalid or unexpected PCD image format.");
  Bytes head = MakePcd(0);
  head.resize(7000);
  kit::Fuzz({MakePcd(1), head},
            [] { return std::make_unique<TPCDGraphic>(); }, 60, 57);
}
