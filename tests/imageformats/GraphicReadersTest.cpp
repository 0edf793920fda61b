// Targa, PCX, SGI and portable-map readers, the Targa writer, and a fuzz loop over all of them.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>

#include "ImageBuilders.h"
#include "TestFiles.h"
#include "imageformats/GraphicPCX.h"
#include "imageformats/GraphicPPM.h"
#include "imageformats/GraphicSGI.h"
#include "imageformats/GraphicTarga.h"
#include "ReaderTestKit.h"

namespace {

using kit::ErrorOf;
using kit::LoadAs;
using kit::RGB;

Bytes TargaHeader(uint8_t mapType, uint8_t imageType, uint16_t mapLength, uint8_t mapBits,
                  uint16_t w, uint16_t h, uint8_t pixelBits, uint8_t descriptor) {
  Bytes b{0, mapType, imageType};
  PutLE16(b, 0);
  PutLE16(b, mapLength);
  b.push_back(mapBits);
  PutLE32(b, 0);
  PutLE16(b, w);
  PutLE16(b, h);
  b.push_back(pixelBits);
  b.push_back(descriptor);
  return b;
}

}  // namespace

// --- Targa

TEST(TargaReader, BottomUpAndTopDownRows) {
  Bytes file = TargaHeader(0, 2, 0, 0, 2, 2, 24, 0);
  Append(file, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});  // first file row = bottom
  auto tga = LoadAs<TTargaGraphic>(file);
  EXPECT_EQ(tga->GetPixelFormat(), pf24bit);
  EXPECT_EQ(tga->GetPixelColor(0, 1), RGB(3, 2, 1));
  EXPECT_EQ(tga->GetPixelColor(1, 0), RGB(12, 11, 10));
  file[17] = 0x20;
  tga = LoadAs<TTargaGraphic>(file);
  EXPECT_EQ(tga->GetPixelColor(0, 0), RGB(3, 2, 1));
  // Colour map entry size 0: refused by the signature test, loaded all the same.
  TTargaGraphic probe;
  TMemoryStream stream;
  LoadInto(stream, file);
  EXPECT_FALSE(probe.TestSignature(stream));
  file[7] = 24;
  LoadInto(stream, file);
  EXPECT_TRUE(probe.TestSignature(stream));
  EXPECT_EQ(stream.GetPosition(), 0);
}

TEST(TargaReader, RunLengthColourMappedAndFifteenBits) {
  Bytes file = TargaHeader(1, 9, 2, 24, 3, 1, 8, 0x20);
  Append(file, {0, 0, 255, 0, 255, 0});  // entry 0 red, entry 1 green (b, g, r)
  Append(file, {0x81, 1, 0x00, 0});
  auto tga = LoadAs<TTargaGraphic>(file);
  EXPECT_EQ(tga->GetPixelFormat(), pf8bit);
  EXPECT_EQ(tga->GetPixelColor(0, 0), RGB(0, 255, 0));
  EXPECT_EQ(tga->GetPixelColor(2, 0), RGB(255, 0, 0));
  // 15-bit pixels take two bytes each, also in the colour map.
  Bytes fifteen = TargaHeader(0, 2, 0, 0, 2, 1, 15, 0x20);
  PutLE16(fifteen, 0x7C00);
  PutLE16(fifteen, 0x001F);
  tga = LoadAs<TTargaGraphic>(fifteen);
  EXPECT_EQ(tga->GetPixelFormat(), pf15bit);
  EXPECT_EQ(tga->GetPixelColor(0, 0), RGB(248, 0, 0));
  EXPECT_EQ(tga->GetPixelColor(1, 0), RGB(0, 0, 248));
  // A truncated run-length file fails instead of reading past its end.
  Bytes cut = TargaHeader(0, 10, 0, 0, 4, 1, 24, 0x20);
  Append(cut, {0x03, 1, 2});
  EXPECT_NE(ErrorOf<TTargaGraphic>(cut), "");
}

TEST(TargaWriter, RoundTripsAndWritesTheHeader) {
  TempDir dir;
  TTargaGraphic picture;
  picture.SetPixelFormat(pf24bit);
  picture.SetSize(5, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      uint8_t* p = picture.ScanLine(y) + 3 * x;
      p[0] = static_cast<uint8_t>(x < 3 ? 7 : x * 10);
      p[1] = static_cast<uint8_t>(y);
      p[2] = 99;
    }
  picture.SaveToFile(dir.File("a.tga"));
  std::string bytes = ReadFileBytes(dir.File("a.tga"));
  ASSERT_GE(bytes.size(), 18u);
  EXPECT_EQ(bytes[1], 0);
  EXPECT_EQ(bytes[2], 10);
  EXPECT_EQ(static_cast<uint8_t>(bytes[5]) | (static_cast<uint8_t>(bytes[6]) << 8), 256);
  EXPECT_EQ(bytes[7], 24);
  TTargaGraphic loaded;
  loaded.LoadFromFile(dir.File("a.tga"));
  ASSERT_EQ(loaded.GetWidth(), 5);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(loaded.GetPixelColor(x, y), picture.GetPixelColor(x, y));

  TTargaGraphic indexed;
  indexed.SetPixelFormat(pf4bit);
  indexed.SetSize(3, 2);
  indexed.SetPalette({{1, 2, 3, 0}, {4, 5, 6, 0}});
  indexed.ScanLine(1)[0] = 0x10;
  TMemoryStream out;
  indexed.SaveToStream(out);
  EXPECT_EQ(indexed.GetPixelFormat(), pf8bit);
  EXPECT_EQ(out.Memory()[2], 9);
  EXPECT_EQ(out.Memory()[1], 1);
  EXPECT_GE(out.GetSize(), 18 + 768);
  EXPECT_EQ(out.Memory()[18 + 3], 6);  // entry 1 as blue, green, red
  out.SetPosition(0);
  TTargaGraphic back;
  back.LoadFromStream(out);
  EXPECT_EQ(back.GetPixelColor(0, 1), RGB(4, 5, 6));
  EXPECT_EQ(back.GetPixelColor(1, 1), RGB(1, 2, 3));
}

// --- PCX

namespace {

Bytes PcxHeader(uint8_t version, uint8_t encoding, uint8_t bits, uint16_t w, uint16_t h,
                uint8_t planes, uint16_t bytesPerLine, uint16_t paletteInfo,
                const Bytes& palette16 = {}) {
  Bytes b{10, version, encoding, bits};
  PutLE16(b, 0);
  PutLE16(b, 0);
  PutLE16(b, w - 1);
  PutLE16(b, h - 1);
  PutLE16(b, 72);
  PutLE16(b, 72);
  Bytes pal = palette16;
  pal.resize(48, 0);
  Append(b, pal);
  b.push_back(0);
  b.push_back(planes);
  PutLE16(b, bytesPerLine);
  PutLE16(b, paletteInfo);
  b.resize(128, 0);
  return b;
}

}  // namespace

TEST(PCXReader, SixteenColourPlanes) {
  Bytes pal;
  for (int i = 0; i < 16; ++i) Append(pal, {static_cast<uint8_t>(i * 10), 0, 0});
  Bytes file = PcxHeader(5, 0, 1, 4, 1, 4, 1, 1, pal);
  // Pixel values 1, 2, 4, 15 -> plane 0 bits 1000|..., plane1 0100, plane2 0010, plane3 0001.
  Append(file, {0b10010000, 0b01010000, 0b00110000, 0b00010000});
  auto pcx = LoadAs<TPCXGraphic>(file);
  EXPECT_EQ(pcx->GetPixelFormat(), pf4bit);
  EXPECT_EQ(pcx->GetPixelIndex(0, 0), 1u);
  EXPECT_EQ(pcx->GetPixelIndex(1, 0), 2u);
  EXPECT_EQ(pcx->GetPixelIndex(2, 0), 4u);
  EXPECT_EQ(pcx->GetPixelIndex(3, 0), 15u);
  EXPECT_EQ(pcx->GetPixelColor(3, 0), RGB(150, 0, 0));
}

TEST(PCXReader, TwoFiftySixColoursAndGreyFallback) {
  Bytes file = PcxHeader(5, 1, 8, 3, 1, 1, 4, 1);
  Append(file, {0xC3, 7, 0});  // run of 3 sevens, pad byte
  Bytes palette(768, 0);
  palette[21] = 200;  // entry 7 red
  file.push_back(12);
  Append(file, palette);
  auto pcx = LoadAs<TPCXGraphic>(file);
  EXPECT_EQ(pcx->GetPixelFormat(), pf8bit);
  EXPECT_EQ(pcx->GetPixelColor(2, 0), RGB(200, 0, 0));
  // Without the marker but with palette information 2: grey.
  file[file.size() - 769] = 0;
  file[68] = 2;
  pcx = LoadAs<TPCXGraphic>(file);
  EXPECT_EQ(pcx->GetPixelColor(2, 0), RGB(7, 7, 7));
}

TEST(PCXReader, TwoFiftySixColoursWithoutTrailingPalette) {
  // No marker and no palette after the data: every byte is image data, the palette grey.
  for (uint16_t width : {1, 3, 64, 200}) {
    for (uint16_t height : {1, 2, 7}) {
      Bytes file = PcxHeader(5, 1, 8, width, height, 1, width, 2);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) Append(file, {0xC1, static_cast<uint8_t>(x + y)});
      auto pcx = LoadAs<TPCXGraphic>(file);
      EXPECT_EQ(pcx->GetPixelFormat(), pf8bit);
      int x = width - 1, y = height - 1;
      EXPECT_EQ(pcx->GetPixelColor(x, y), RGB(x + y, x + y, x + y)) << width << "x" << height;
    }
  }
}

TEST(PCXReader, TwoBitAndTrueColour) {
  Bytes two = PcxHeader(5, 0, 2, 4, 1, 1, 2, 2);
  Append(two, {0b00011011, 0});
  auto pcx = LoadAs<TPCXGraphic>(two);
  EXPECT_EQ(pcx->GetPixelFormat(), pf4bit);
  EXPECT_EQ(pcx->GetPixelIndex(3, 0), 15u);
  EXPECT_EQ(pcx->GetPixelIndex(1, 0), 5u);
  Bytes rgb = PcxHeader(5, 0, 8, 2, 1, 3, 2, 1);
  Append(rgb, {10, 11, 20, 21, 30, 31});
  pcx = LoadAs<TPCXGraphic>(rgb);
  EXPECT_EQ(pcx->GetPixelFormat(), pf24bit);
  EXPECT_EQ(pcx->GetPixelColor(1, 0), RGB(11, 21, 31));
  Bytes bad = PcxHeader(5, 0, 8, 2, 1, 2, 2, 1);
  Append(bad, {0, 0, 0, 0});
  EXPECT_EQ(ErrorOf<TPCXGraphic>(bad), "Invalid color format in PCX file.");
  bad[0] = 11;
  EXPECT_EQ(ErrorOf<TPCXGraphic>(bad),
            "Cannot load image. Invalid or unexpected PCX or SCR image format.");
}

// --- SGI

namespace {

Bytes SgiHeader(uint8_t storage, uint8_t bpc, uint16_t w, uint16_t h, uint16_t z) {
  Bytes b;
  PutBE16(b, 474);
  b.push_back(storage);
  b.push_back(bpc);
  PutBE16(b, 3);
  PutBE16(b, w);
  PutBE16(b, h);
  PutBE16(b, z);
  b.resize(512, 0);
  return b;
}

}  // namespace

TEST(SGIReader, RawRGBRowsBottomUp) {
  Bytes file = SgiHeader(0, 1, 2, 2, 3);
  // Plane R rows 0,1; plane G; plane B. File row 0 is the bottom row.
  Append(file, {1, 2, 3, 4, 10, 20, 30, 40, 100, 110, 120, 130});
  auto sgi = LoadAs<TSGIGraphic>(file);
  EXPECT_EQ(sgi->GetPixelColor(0, 1), RGB(1, 10, 100));
  EXPECT_EQ(sgi->GetPixelColor(1, 0), RGB(4, 40, 130));
}

TEST(SGIReader, RunLengthGreyWithAlphaAndSixteenBits) {
  Bytes file = SgiHeader(1, 1, 3, 1, 2);
  uint32_t tables = 512 + 16;
  PutBE32(file, tables);
  PutBE32(file, tables + 4);
  PutBE32(file, 4);
  PutBE32(file, 2);
  Append(file, {0x03, 5, 0x00, 0x00});  // run of 3 fives... as the count is 3 and bit 7 clear
  Append(file, {0x00, 0x00});
  auto sgi = LoadAs<TSGIGraphic>(file);
  EXPECT_EQ(sgi->GetPixelFormat(), pf8bit);
  EXPECT_EQ(sgi->GetPixelIndex(2, 0), 5u);
  // 16-bit grey, alone or with alpha, scales as 16-bit colour does: v * 255 / 65535.
  for (uint16_t channels : {1, 2}) {
    Bytes grey = SgiHeader(0, 2, 4, 1, channels);
    Append(grey, {0x80, 0x00, 0xFF, 0xFF, 0x01, 0x00, 0x7F, 0xFF});
    if (channels == 2) Append(grey, Bytes(8, 0xFF));
    sgi = LoadAs<TSGIGraphic>(grey);
    const uint32_t expected[4] = {0x8000 * 255 / 65535, 255, 0x0100 * 255 / 65535, 0x7FFF * 255 / 65535};
    for (int x = 0; x < 4; ++x) EXPECT_EQ(sgi->GetPixelIndex(x, 0), expected[x]) << channels << " " << x;
  }
  Bytes wide = SgiHeader(0, 2, 1, 1, 3);
  Append(wide, {0xFF, 0xFF, 0x80, 0x00, 0x00, 0x10});
  sgi = LoadAs<TSGIGraphic>(wide);
  EXPECT_EQ(sgi->GetPixelColor(0, 0), RGB(255, 0x8000 * 255 / 65535, 0x10 * 255 / 65535));
}

// --- Portable maps

TEST(PPMReader, TextAndBinaryVariants) {
  Bytes pgm;
  AppendText(pgm, "P2\n# a comment\n2 2 255\n1 2\n3 200\n");
  auto ppm = LoadAs<TPPMGraphic>(pgm);
  EXPECT_EQ(ppm->GetPixelFormat(), pf8bit);
  EXPECT_EQ(ppm->GetPixelIndex(1, 1), 200u);
  Bytes low;
  AppendText(low, "P2\n1 1\n15\n15\n");
  EXPECT_EQ(LoadAs<TPPMGraphic>(low)->GetPixelIndex(0, 0), 15u);  // not scaled
  Bytes pbm;
  AppendText(pbm, "P1\n3 1\n1 0 1\n");
  ppm = LoadAs<TPPMGraphic>(pbm);
  EXPECT_EQ(ppm->GetPixelFormat(), pf1bit);
  EXPECT_EQ(ppm->GetPixelColor(0, 0), RGB(0, 0, 0));
  EXPECT_EQ(ppm->GetPixelColor(1, 0), RGB(255, 255, 255));
  Bytes p6;
  AppendText(p6, "P6\n2 1\n255\n");
  Append(p6, {1, 2, 3, 4, 5, 6});
  ppm = LoadAs<TPPMGraphic>(p6);
  EXPECT_EQ(ppm->GetPixelColor(1, 0), RGB(4, 5, 6));
  Bytes p3;
  AppendText(p3, "P3\n1 1\n255\n7 8 9\n");
  EXPECT_EQ(LoadAs<TPPMGraphic>(p3)->GetPixelColor(0, 0), RGB(7, 8, 9));
  Bytes p4;
  AppendText(p4, "P4\n9 1\n");
  Append(p4, {0xA5, 0x80});
  ppm = LoadAs<TPPMGraphic>(p4);
  EXPECT_EQ(ppm->GetPixelIndex(8, 0), 1u);
}

TEST(PPMReader, ShortBinaryFileFailsWithReadError) {
  Bytes p6;
  AppendText(p6, "P6\n4 4\n255\n");
  Append(p6, Bytes(40, 1));
  EXPECT_EQ(ErrorOf<TPPMGraphic>(p6), "Stream read error in PPM file.");
  Bytes bad;
  AppendText(bad, "Q6\n1 1\n");
  EXPECT_EQ(ErrorOf<TPPMGraphic>(bad),
            "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format.");
}

// --- Fuzz: every reader over mutated seeds fails only with the library's exceptions.

TEST(ReaderFuzz, MutatedFilesFailCleanly) {
  std::vector<std::pair<Bytes, std::function<std::unique_ptr<TFormatGraphic>()>>> seeds;
  {
    Bytes t = TargaHeader(1, 9, 2, 24, 3, 2, 8, 0x20);
    Append(t, {0, 0, 255, 0, 255, 0, 0x81, 1, 0x00, 0, 0x02, 1, 0, 1});
    seeds.push_back({t, [] { return std::make_unique<TTargaGraphic>(); }});
    Bytes p = PcxHeader(5, 1, 8, 3, 2, 1, 4, 1);
    Append(p, {0xC3, 7, 0, 0xC4, 1});
    seeds.push_back({p, [] { return std::make_unique<TPCXGraphic>(); }});
    Bytes q = PcxHeader(5, 0, 1, 4, 1, 4, 1, 1);
    Append(q, {1, 2, 3, 4});
    seeds.push_back({q, [] { return std::make_unique<TPCXGraphic>(); }});
    Bytes s = SgiHeader(1, 1, 3, 1, 3);
    for (uint32_t i = 0; i < 3; ++i) PutBE32(s, 512 + 24 + 4 * i);
    for (uint32_t i = 0; i < 3; ++i) PutBE32(s, 4);
    for (int i = 0; i < 3; ++i) Append(s, {0x83, 1, 2, 3});
    seeds.push_back({s, [] { return std::make_unique<TSGIGraphic>(); }});
    Bytes m;
    AppendText(m, "P3\n2 2\n255\n1 2 3 4 5 6 7 8 9 1 2 3\n");
    seeds.push_back({m, [] { return std::make_unique<TPPMGraphic>(); }});
    Bytes b;
    AppendText(b, "P4\n9 2\n");
    Append(b, {1, 2, 3, 4});
    seeds.push_back({b, [] { return std::make_unique<TPPMGraphic>(); }});
  }
  uint32_t seedValue = 11;
  for (auto& [seed, make] : seeds) kit::Fuzz({seed}, make, 1000, seedValue++);
}
