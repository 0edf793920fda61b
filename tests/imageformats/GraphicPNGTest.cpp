// PNG reader: colour types, filters, interlacing, chunks and damaged files.
#include "imageformats/GraphicPNG.h"

#include <gtest/gtest.h>

#include <random>

#include "ReaderTestKit.h"

namespace {

TColor RGB(int r, int g, int b) { return r | (g << 8) | (b << 16); }

std::string LoadError(const Bytes& file) {
  TMemoryStream stream;
  LoadInto(stream, file);
  TPNGGraphic png;
  try {
    png.LoadFromStream(stream);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

void Load(TPNGGraphic& png, const Bytes& file) {
  TMemoryStream stream;
  LoadInto(stream, file);
  png.LoadFromStream(stream);
}

}  // namespace

TEST(PNGReader, SignatureLeavesPositionAlone) {
  TMemoryStream stream;
  Bytes file = MakePng(1, 1, 8, 0, {0, 7});
  LoadInto(stream, file);
  stream.SetPosition(0);
  TPNGGraphic png;
  EXPECT_TRUE(png.TestSignature(stream));
  EXPECT_EQ(stream.GetPosition(), 0);
  stream.SetPosition(1);
  EXPECT_FALSE(png.TestSignature(stream));
  EXPECT_EQ(stream.GetPosition(), 1);
}

TEST(PNGReader, RGBWithEveryFilter) {
  // Three pixels per row; rows use filters 0..4 on the same intended pixels.
  const uint8_t pixels[3][3] = {{10, 20, 30}, {40, 50, 60}, {200, 100, 0}};
  Bytes raw;
  Bytes previous(9, 0);
  for (uint8_t filter = 0; filter < 5; ++filter) {
    Bytes row(9);
    for (int i = 0; i < 9; ++i) row[i] = pixels[i / 3][i % 3];
    Bytes encoded(9);
    for (int i = 0; i < 9; ++i) {
      int a = i >= 3 ? row[i - 3] : 0, b = previous[i], c = i >= 3 ? previous[i - 3] : 0;
      int predictor = 0;
      if (filter == 1) predictor = a;
      if (filter == 2) predictor = b;
      if (filter == 3) predictor = (a + b) / 2;
      if (filter == 4) {
        int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        predictor = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
      }
      encoded[i] = static_cast<uint8_t>(row[i] - predictor);
    }
    raw.push_back(filter);
    Append(raw, encoded);
    previous = row;
  }
  TPNGGraphic png;
  Load(png, MakePng(3, 5, 8, 2, raw));
  EXPECT_EQ(png.GetPixelFormat(), pf24bit);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(png.GetPixelColor(x, y), RGB(pixels[x][0], pixels[x][1], pixels[x][2])) << x << y;
}

TEST(PNGReader, SixteenBitRGBAndGrayAlpha) {
  TPNGGraphic png;
  Load(png, MakePng(1, 1, 16, 2, {0, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0x10}));
  EXPECT_EQ(png.GetPixelFormat(), pf24bit);
  EXPECT_EQ(png.GetPixelColor(0, 0), RGB(255, 0x8000 * 255 / 65535, 0x10 * 255 / 65535));
  TPNGGraphic ga;
  Load(ga, MakePng(2, 1, 8, 4, {0, 90, 255, 200, 0}));
  EXPECT_EQ(ga.GetPixelFormat(), pf8bit);
  EXPECT_EQ(ga.GetPixelIndex(0, 0), 90u);
  EXPECT_EQ(ga.GetPixelIndex(1, 0), 200u);
  EXPECT_EQ(ga.GetPixelColor(1, 0), RGB(200, 200, 200));
}

TEST(PNGReader, IndexedTwoBitsExpandsToFourWithPalette) {
  Bytes plte{255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9};
  Bytes trns{0};
  TPNGGraphic png;
  Load(png, MakePng(4, 1, 2, 3, {0, 0b00011011}, {plte, trns}, 0, {"PLTE", "tRNS"}));
  EXPECT_EQ(png.GetPixelFormat(), pf4bit);
  EXPECT_EQ(png.GetPixelColor(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(png.GetPixelColor(1, 0), RGB(0, 255, 0));
  EXPECT_EQ(png.GetPixelColor(2, 0), RGB(0, 0, 255));
  EXPECT_EQ(png.GetPixelColor(3, 0), RGB(9, 9, 9));
  EXPECT_FALSE(png.GetTransparent());  // tRNS has no effect on indexed images
}

TEST(PNGReader, RGBAKeepsAlpha) {
  TPNGGraphic png;
  Load(png, MakePng(1, 1, 8, 6, {0, 1, 2, 3, 4}));
  EXPECT_EQ(png.GetPixelFormat(), pf32bit);
  const uint8_t* p = png.ScanLine(0);
  EXPECT_EQ(std::vector<uint8_t>(p, p + 4), (std::vector<uint8_t>{3, 2, 1, 4}));
}

TEST(PNGReader, Adam7InterlacedMatchesPlain) {
  const int w = 11, h = 9;
  auto value = [](int x, int y) { return static_cast<uint8_t>(x * 20 + y * 3); };
  Bytes plain;
  for (int y = 0; y < h; ++y) {
    plain.push_back(0);
    for (int x = 0; x < w; ++x) plain.push_back(value(x, y));
  }
  static const int rs[7] = {0, 0, 4, 0, 2, 0, 1}, cs[7] = {0, 4, 0, 2, 0, 1, 0},
                   ry[7] = {8, 8, 8, 4, 4, 2, 2}, cx[7] = {8, 8, 4, 4, 2, 2, 1};
  Bytes interlaced;
  for (int pass = 0; pass < 7; ++pass) {
    if (w <= cs[pass]) continue;
    for (int y = rs[pass]; y < h; y += ry[pass]) {
      interlaced.push_back(0);
      for (int x = cs[pass]; x < w; x += cx[pass]) interlaced.push_back(value(x, y));
    }
  }
  TPNGGraphic png;
  Load(png, MakePng(w, h, 8, 0, interlaced, {}, 1));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(png.GetPixelIndex(x, y), value(x, y)) << x << "," << y;
}

TEST(PNGReader, ChunkHandling) {
  // Lower-case ancillary chunk is skipped; chunk types compare without regard to case.
  Bytes raw{0, 5, 0, 6};
  Bytes file = PngHeader(1, 2, 8, 0);
  Append(file, PngChunk("teXt", {'a'}));
  Append(file, PngChunk("idat", Deflate(raw)));
  Append(file, PngChunk("IEND", {}));
  TPNGGraphic png;
  Load(png, file);
  EXPECT_EQ(png.GetPixelIndex(0, 1), 6u);
  // An unknown critical chunk fails.
  Bytes critical = PngHeader(1, 1, 8, 0);
  Append(critical, PngChunk("ABCD", {}));
  Append(critical, PngChunk("IDAT", Deflate({0, 1})));
  Append(critical, PngChunk("IEND", {}));
  EXPECT_EQ(LoadError(critical), "Cannot load PNG image. Unexpected but critical chunk detected.");
}

TEST(PNGReader, Failures) {
  Bytes good = MakePng(1, 1, 8, 0, {0, 1});
  Bytes badCrc = good;
  badCrc[30] ^= 1;  // inside the IHDR CRC
  EXPECT_EQ(LoadError(badCrc), "Cannot load image. CRC error found in PNG file.");
  EXPECT_EQ(LoadError(MakePng(0, 1, 8, 0, {0})),
            "Cannot load image. Invalid or unexpected PNG image format.");
  EXPECT_EQ(LoadError(MakePng(1, 1, 3, 0, {0, 1})), "Invalid color format in PNG file.");
  Bytes badPalette = PngHeader(1, 1, 8, 3);
  Append(badPalette, PngChunk("PLTE", {1, 2}));
  Append(badPalette, PngChunk("IEND", {}));
  EXPECT_EQ(LoadError(badPalette), "Cannot load image. Palette in PNG file is invalid.");
  Bytes garbage = PngHeader(1, 1, 8, 0);
  Append(garbage, PngChunk("IDAT", {0xFF, 0xFF, 0xFF}));
  Append(garbage, PngChunk("IEND", {}));
  EXPECT_EQ(LoadError(garbage), "Cannot load image. Compression error found in PNG file.");
  Bytes compression = PngHeader(1, 1, 8, 0);
  compression[8 + 8 + 10] = 1;
  EXPECT_NE(LoadError(compression), "");
}

TEST(PNGReader, BitDepthIsCheckedBeforeTheChunksThatScaleByIt) {
  // Background and transparency levels are scaled by the depth: a depth PNG does not allow for
  // the colour type fails cleanly before either chunk is read.
  const struct {
    uint8_t Depth, Type;
    const char* Chunk;
  } cases[] = {{0, 0, "bKGD"}, {0, 0, "tRNS"}, {0, 4, "bKGD"}, {0, 2, "tRNS"}, {3, 0, "bKGD"},
               {7, 0, "tRNS"}, {16, 3, "bKGD"}, {4, 2, "bKGD"}, {40, 0, "bKGD"}, {8, 5, "bKGD"}};
  for (const auto& c : cases) {
    Bytes file = PngHeader(1, 1, c.Depth, c.Type);
    Append(file, PngChunk(c.Chunk, {0, 1, 0, 2, 0, 3}));
    Append(file, PngChunk("IDAT", Deflate({0, 1, 2, 3, 4, 5, 6, 7, 8})));
    Append(file, PngChunk("IEND", {}));
    EXPECT_EQ(LoadError(file), "Invalid color format in PNG file.") << int(c.Depth) << " " << int(c.Type);
  }
}

TEST(PNGReader, ShortImageDataKeepsBackground) {
  Bytes raw{0, 1, 0, 2, 0, 3};
  Bytes packed = Deflate(raw);
  packed.resize(packed.size() / 2);  // the stream ends mid-way, without an error
  Bytes bkgd;
  PutBE16(bkgd, 255);
  Bytes file = PngHeader(1, 3, 8, 0);
  Append(file, PngChunk("bKGD", bkgd));
  Append(file, PngChunk("IDAT", packed));
  Append(file, PngChunk("IEND", {}));
  TPNGGraphic png;
  Load(png, file);
  EXPECT_EQ(png.GetPixelIndex(0, 2), 255u);
}

TEST(PNGReader, FuzzedFilesFailCleanly) {
  auto make = [] { return std::make_unique<TPNGGraphic>(); };
  // Header fields at their extremes, with valid checksums so that the chunks after the header
  // are reached: palette, background and transparency are read with every depth and type.
  const Bytes plte{1, 2, 3, 4, 5, 6}, level{0, 1, 0, 2, 0, 3};
  for (uint8_t depth : {0, 1, 2, 3, 4, 7, 8, 9, 15, 16, 17, 32, 64, 128, 255})
    for (uint8_t type = 0; type < 8; ++type)
      for (uint8_t interlace : {0, 1, 2})
        for (uint32_t width : {1u, 3u, 0x7FFFFFFFu, 0xFFFFFFFFu})
          kit::LoadQuietly(MakePng(width, 2, depth, type, Bytes(16, 1), {plte, level, level}, interlace,
                                   {"PLTE", "bKGD", "tRNS"}),
                           make);
  Bytes seed = MakePng(5, 4, 8, 2, Bytes(4 * 16, 7));
  Bytes interlaced = MakePng(6, 5, 2, 0, Bytes(60, 3), {{0, 1}, {0, 2}}, 1, {"bKGD", "tRNS"});
  kit::Fuzz({seed, interlaced}, make, 3000, 7);
}
