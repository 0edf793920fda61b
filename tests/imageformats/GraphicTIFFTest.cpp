// TIFF and EPS readers: both byte orders, strips, compressions, palettes and damaged files.
#include "imageformats/GraphicTIFF.h"

#include <gtest/gtest.h>

#include "ReaderTestKit.h"
#include "imageformats/GraphicCompression.h"

#include <cstdio>
extern "C" {
#include <jpeglib.h>
}

using kit::ErrorOf;
using kit::LoadAs;
using kit::RGB;

namespace {

struct Tag {
  uint16_t Id;
  uint16_t Type;
  std::vector<uint32_t> Values;  // RATIONAL values as numerator, denominator pairs
};

// A TIFF file: header, the image data at offset 8, the directory, then values that do not fit
// into their entries.
Bytes MakeTiff(bool big, std::vector<Tag> tags, const Bytes& data) {
  auto put16 = [&](Bytes& b, uint32_t v) { big ? PutBE16(b, v) : PutLE16(b, v); };
  auto put32 = [&](Bytes& b, uint32_t v) { big ? PutBE32(b, v) : PutLE32(b, v); };
  auto putValues = [&](Bytes& b, const Tag& t) {
    for (uint32_t v : t.Values) {
      if (t.Type == 3) put16(b, v);
      else if (t.Type == 4 || t.Type == 5) put32(b, v);
      else b.push_back(static_cast<uint8_t>(v));
    }
  };
  Bytes file;
  AppendText(file, big ? "MM" : "II");
  put16(file, 42);
  uint32_t ifd = static_cast<uint32_t>(8 + data.size() + (data.size() & 1));
  put32(file, ifd);
  Append(file, data);
  if (data.size() & 1) file.push_back(0);
  put16(file, static_cast<uint32_t>(tags.size()));
  uint32_t extra = ifd + 2 + 12 * static_cast<uint32_t>(tags.size()) + 4;
  Bytes outside;
  for (const Tag& t : tags) {
    uint32_t count = t.Type == 5 ? static_cast<uint32_t>(t.Values.size() / 2)
                                 : static_cast<uint32_t>(t.Values.size());
    put16(file, t.Id);
    put16(file, t.Type);
    put32(file, count);
    Bytes values;
    putValues(values, t);
    if (values.size() <= 4) {
      values.resize(4, 0);
      Append(file, values);
    } else {
      put32(file, extra + static_cast<uint32_t>(outside.size()));
      Append(outside, values);
    }
  }
  put32(file, 0);
  Append(file, outside);
  return file;
}

// The tags of a plain strip image.
std::vector<Tag> Basic(uint32_t w, uint32_t h, std::vector<uint32_t> bits, uint32_t compression,
                       uint32_t photometric, std::vector<uint32_t> offsets,
                       std::vector<uint32_t> counts, std::vector<uint32_t> rowsPerStrip) {
  return {{256, 4, {w}},
          {257, 4, {h}},
          {258, 3, bits},
          {259, 3, {compression}},
          {262, 3, {photometric}},
          {273, 4, offsets},
          {277, 3, {static_cast<uint32_t>(bits.size())}},
          {278, 4, rowsPerStrip},
          {279, 4, counts}};
}

}  // namespace

TEST(TIFFReader, SignatureAndPropertiesInBothByteOrders) {
  for (bool big : {false, true}) {
    auto tags = Basic(2, 1, {8, 8, 8}, 1, 6, {8}, {6}, {1});
    tags.push_back({282, 5, {300, 2}});
    tags.push_back({283, 5, {100, 1}});
    tags.push_back({296, 3, {3}});
    tags.push_back({530, 3, {2, 1}});
    tags.push_back({266, 3, {2}});
    Bytes file = MakeTiff(big, tags, Bytes(6, 0));
    EXPECT_TRUE(kit::Signature<TTIFFGraphic>(file));
    TTIFFGraphic tiff;
    TMemoryStream stream;
    LoadInto(stream, file);
    ASSERT_TRUE(tiff.ReadImageInfo(stream, 0));
    const TImageProperties& p = tiff.ImageProperties();
    EXPECT_EQ(p.Options & ifBigEndian, big ? ifBigEndian : 0);
    EXPECT_TRUE(p.Options & ifReversed);
    EXPECT_EQ(p.ColorScheme, psYCbCr);
    ASSERT_EQ(p.YCbCrSubSampling.size(), 2u);
    EXPECT_EQ(p.YCbCrSubSampling[0], 2);
    EXPECT_EQ(p.YCbCrSubSampling[1], 1);
    EXPECT_FLOAT_EQ(p.XResolution, 150.0f * 2.54f);
    EXPECT_FLOAT_EQ(p.YResolution, 254.0f);
    EXPECT_EQ(p.BitsPerPixel, 24);
    uint32_t count = 0;
    tiff.GetValue(258, count, 0);
    EXPECT_EQ(count, 3u);
    std::vector<uint32_t> bits;
    tiff.GetValueList(258, bits);
    EXPECT_EQ(bits, (std::vector<uint32_t>{8, 8, 8}));
    stream.SetPosition(0);
    EXPECT_FALSE(tiff.ReadImageInfo(stream, 1));  // no second directory
  }
  Bytes file = MakeTiff(false, Basic(1, 1, {8}, 1, 1, {8}, {1}, {1}), {0});
  file[2] = 43;
  EXPECT_FALSE(kit::Signature<TTIFFGraphic>(file));
  EXPECT_EQ(ErrorOf<TTIFFGraphic>(file),
            "Cannot load image. Invalid or unexpected TIF/TIFF image format.");
}

TEST(TIFFReader, StripsReuseTheLastRowsPerStripValue) {
  // Four rows of two RGB pixels in three strips: 2, 1 and (repeated) 1 rows.
  Bytes data;
  for (int i = 0; i < 24; ++i) data.push_back(static_cast<uint8_t>(i * 10));
  auto tags = Basic(2, 4, {8, 8, 8}, 1, 2, {8, 8 + 12, 8 + 18}, {12, 6, 6}, {2, 1});
  auto tiff = LoadAs<TTIFFGraphic>(MakeTiff(false, tags, data));
  EXPECT_EQ(tiff->GetPixelFormat(), pf24bit);
  EXPECT_EQ(tiff->GetPixelColor(0, 0), RGB(0, 10, 20));
  EXPECT_EQ(tiff->GetPixelColor(1, 1), RGB(90, 100, 110));
  EXPECT_EQ(tiff->GetPixelColor(0, 2), RGB(120, 130, 140));
  EXPECT_EQ(tiff->GetPixelColor(1, 3), RGB(210, 220, 230));
  // A last strip holding fewer rows than a strip's worth is read as far as the image goes.
  auto tall = Basic(2, 3, {8, 8, 8}, 1, 2, {8, 8 + 12}, {12, 6}, {2});
  Bytes short_(data.begin(), data.begin() + 18);
  tiff = LoadAs<TTIFFGraphic>(MakeTiff(false, tall, short_));
  EXPECT_EQ(tiff->GetPixelColor(1, 2), RGB(150, 160, 170));
}

TEST(TIFFReader, BigEndianSixteenBitWhiteIsZero) {
  auto tags = Basic(2, 1, {16}, 1, 0, {8}, {4}, {1});
  auto tiff = LoadAs<TTIFFGraphic>(MakeTiff(true, tags, {0x00, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(tiff->GetPixelFormat(), pf8bit);
  EXPECT_EQ(tiff->GetPixelIndex(0, 0), 0u);
  EXPECT_EQ(tiff->GetPixelIndex(1, 0), 255u);
  // The palette is inverted: value 0 is white.
  EXPECT_EQ(tiff->GetPixelColor(0, 0), RGB(255, 255, 255));
  EXPECT_EQ(tiff->GetPixelColor(1, 0), RGB(0, 0, 0));
}

TEST(TIFFReader, PackBitsWithHorizontalPredictor) {
  // Row: pixel (10, 20, 30), then differences (+5, +1, -2) -> (15, 21, 28).
  Bytes packed{0x05, 10, 20, 30, 5, 1, 0xFE};
  auto tags = Basic(2, 1, {8, 8, 8}, 32773, 2, {8}, {7}, {1});
  tags.push_back({317, 3, {2}});
  auto tiff = LoadAs<TTIFFGraphic>(MakeTiff(false, tags, packed));
  EXPECT_EQ(tiff->GetPixelColor(0, 0), RGB(10, 20, 30));
  EXPECT_EQ(tiff->GetPixelColor(1, 0), RGB(15, 21, 28));
}

TEST(TIFFReader, FourBitPaletteFromTheColourMap) {
  std::vector<uint32_t> map(48, 0);
  map[3] = 0xFFFF;        // red of entry 3
  map[16 + 3] = 0x8080;   // green
  map[32 + 3] = 0x0101;   // blue
  auto tags = Basic(3, 1, {4}, 1, 3, {8}, {2}, {1});
  tags.push_back({320, 3, map});
  auto tiff = LoadAs<TTIFFGraphic>(MakeTiff(true, tags, {0x30, 0x30}));
  EXPECT_EQ(tiff->GetPixelFormat(), pf4bit);
  EXPECT_EQ(tiff->GetPalette().size(), 16u);
  EXPECT_EQ(tiff->GetPixelIndex(0, 0), 3u);
  EXPECT_EQ(tiff->GetPixelColor(0, 0), RGB(255, 0x8080 * 255 / 65535, 0x0101 * 255 / 65535));
  EXPECT_EQ(tiff->GetPixelColor(2, 0), RGB(255, 0x8080 * 255 / 65535, 1));
  EXPECT_EQ(tiff->GetPixelColor(1, 0), RGB(0, 0, 0));
}

TEST(TIFFReader, TwoBitGreyWidensToFourBits) {
  // 257 x 129 pixels of 2 bits: rows of 65 bytes, the file exactly as large as its data.
  const uint32_t w = 257, h = 129, row = (w * 2 + 7) / 8;
  Bytes data(row * h);
  auto level = [](uint32_t x, uint32_t y) { return (x + y) % 4; };
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      data[y * row + x / 4] = static_cast<uint8_t>(data[y * row + x / 4] | level(x, y) << (6 - 2 * (x % 4)));
  auto tiff = LoadAs<TTIFFGraphic>(MakeTiff(false, Basic(w, h, {2}, 1, 1, {8}, {row * h}, {h}), data));
  EXPECT_EQ(tiff->GetPixelFormat(), pf4bit);
  for (uint32_t y : {0u, 1u, 128u})
    for (uint32_t x : {0u, 1u, 2u, 3u, 255u, 256u}) {
      uint32_t v = level(x, y) * 85;
      EXPECT_EQ(tiff->GetPixelColor(x, y), RGB(v, v, v)) << x << "," << y;
    }
}

TEST(TIFFReader, ModifiedHuffmanFax) {
  // Row 0: 3 white (1000), 2 black (11), 3 white (1000); row 1: 8 white (10011).
  Bytes data{0x8E, 0x00, 0x98};
  auto tags = Basic(8, 2, {1}, 2, 0, {8}, {3}, {2});
  auto tiff = LoadAs<TTIFFGraphic>(MakeTiff(false, tags, data));
  EXPECT_EQ(tiff->GetPixelFormat(), pf1bit);
  for (int x = 0; x < 8; ++x) {
    bool black = x == 3 || x == 4;
    EXPECT_EQ(tiff->GetPixelColor(x, 0), black ? RGB(0, 0, 0) : RGB(255, 255, 255)) << x;
    EXPECT_EQ(tiff->GetPixelColor(x, 1), RGB(255, 255, 255)) << x;
  }
}

TEST(TIFFReader, DeflateStripsAreSeparateStreams) {
  Bytes a = Deflate({1, 2, 3, 4}), b = Deflate({5, 6, 7, 8});
  Bytes data = a;
  Append(data, b);
  auto tags = Basic(4, 2, {8}, 8, 1, {8, 8 + static_cast<uint32_t>(a.size())},
                    {static_cast<uint32_t>(a.size()), static_cast<uint32_t>(b.size())}, {1});
  auto tiff = LoadAs<TTIFFGraphic>(MakeTiff(false, tags, data));
  EXPECT_EQ(tiff->GetPixelIndex(3, 0), 4u);
  EXPECT_EQ(tiff->GetPixelIndex(0, 1), 5u);
  EXPECT_EQ(tiff->GetPixelColor(2, 1), RGB(7, 7, 7));
  Bytes broken = data;
  broken[2] ^= 0xFF;
  broken[3] ^= 0xFF;
  EXPECT_EQ(ErrorOf<TTIFFGraphic>(MakeTiff(false, tags, broken)),
            "Cannot load image. Compression error found in TIF/TIFF file.");
}

TEST(TIFFReader, UnsupportedTiledAndDamagedFiles) {
  auto lzw = Basic(2, 1, {8}, 5, 1, {8}, {2}, {1});
  EXPECT_EQ(ErrorOf<TTIFFGraphic>(MakeTiff(false, lzw, {1, 2})),
            "Cannot load image. The compression scheme is not supported for TIF/TIFF files.");
  auto tiled = Basic(2, 1, {8}, 1, 1, {8}, {2}, {1});
  tiled.push_back({322, 3, {16}});
  tiled.push_back({323, 3, {16}});
  auto tiff = LoadAs<TTIFFGraphic>(MakeTiff(false, tiled, {1, 2}));
  EXPECT_TRUE(tiff->GetEmpty());
  // Strips, colour maps and directories outside the file fail before they are read.
  auto far = Basic(2, 1, {8}, 1, 1, {8000}, {2}, {1});
  EXPECT_EQ(ErrorOf<TTIFFGraphic>(MakeTiff(false, far, {1, 2})), "Stream read error");
  auto big = Basic(60000, 60000, {8}, 1, 1, {8}, {2}, {1});
  EXPECT_NE(ErrorOf<TTIFFGraphic>(MakeTiff(false, big, {1, 2})), "");
  auto badMap = Basic(2, 1, {8}, 1, 3, {8}, {2}, {1});
  badMap.push_back({320, 3, std::vector<uint32_t>(768, 1)});
  Bytes file = MakeTiff(false, badMap, {1, 2});
  file.resize(file.size() - 100);
  EXPECT_EQ(ErrorOf<TTIFFGraphic>(file), "Stream read error");
  auto fiveSamples = Basic(1, 1, {8, 8, 8, 8, 8}, 1, 5, {8}, {5}, {1});
  EXPECT_EQ(ErrorOf<TTIFFGraphic>(MakeTiff(false, fiveSamples, {1, 2, 3, 4, 5})),
            "Invalid color format in TIF/TIFF file.");
}

TEST(TIFFReader, JPEGStrips) {
  auto tags = Basic(16, 8, {8, 8, 8}, 7, 6, {8}, {0}, {8});
  tags.push_back({284, 3, {1}});
  // A flat colour compresses and decodes to the same colour, give or take rounding.
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* memory = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &memory, &size);
  info.image_width = 16;
  info.image_height = 8;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> line(48);
  for (int x = 0; x < 16; ++x) {
    line[3 * x] = 200;
    line[3 * x + 1] = 100;
    line[3 * x + 2] = 50;
  }
  for (int y = 0; y < 8; ++y) {
    JSAMPROW row = line.data();
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  Bytes strip(memory, memory + size);
  jpeg_destroy_compress(&info);
  free(memory);
  tags[8].Values = {static_cast<uint32_t>(strip.size())};
  auto tiff = LoadAs<TTIFFGraphic>(MakeTiff(false, tags, strip));
  ASSERT_EQ(tiff->GetPixelFormat(), pf24bit);
  TColor c = tiff->GetPixelColor(9, 5);
  EXPECT_NEAR(c & 0xFF, 200, 2);
  EXPECT_NEAR((c >> 8) & 0xFF, 100, 2);
  EXPECT_NEAR((c >> 16) & 0xFF, 50, 2);
  // A strip whose JPEG height is not the strip's rows is refused.
  auto shorter = tags;
  shorter[1].Values = {4};
  shorter[7].Values = {4};
  EXPECT_EQ(ErrorOf<TTIFFGraphic>(MakeTiff(false, shorter, strip)), "Improper JPEG strip/tile size.");
}

// --- EPS

namespace {

Bytes MakeEps(const Bytes& tiff, uint32_t gap = 6) {
  Bytes b{0xC5, 0xD0, 0xD3, 0xC6};
  PutLE32(b, 0);
  PutLE32(b, 0);
  PutLE32(b, 0);
  PutLE32(b, 0);
  PutLE32(b, 30 + gap);
  PutLE32(b, static_cast<uint32_t>(tiff.size()));
  PutLE16(b, 0xFFFF);
  b.resize(b.size() + gap, '%');
  Append(b, tiff);
  return b;
}

}  // namespace

TEST(EPSReader, LoadsTheTIFFPreview) {
  auto tags = Basic(2, 1, {8}, 1, 1, {8}, {2}, {1});
  Bytes eps = MakeEps(MakeTiff(true, tags, {33, 44}));
  EXPECT_TRUE(kit::Signature<TEPSGraphic>(eps));
  EXPECT_FALSE(kit::Signature<TTIFFGraphic>(eps));
  // After other data in the stream the offsets still count from the header.
  Bytes shifted(5, 0);
  Append(shifted, eps);
  EXPECT_TRUE(kit::Signature<TEPSGraphic>(shifted, 5));
  TEPSGraphic graphic;
  TMemoryStream stream;
  LoadInto(stream, shifted);
  stream.SetPosition(5);
  graphic.LoadFromStream(stream);
  EXPECT_EQ(graphic.GetPixelIndex(1, 0), 44u);
  Bytes wrong = eps;
  wrong[0] = 0;
  EXPECT_EQ(ErrorOf<TEPSGraphic>(wrong), "Cannot load image. Invalid or unexpected EPS image format.");
  // Neither reader writes anything.
  TMemoryStream out;
  graphic.SaveToStream(out);
  EXPECT_EQ(out.GetSize(), 0);
}

TEST(TIFFReader, MutatedFilesFailCleanly) {
  Bytes data;
  for (int i = 0; i < 24; ++i) data.push_back(static_cast<uint8_t>(i * 10));
  Bytes raw = MakeTiff(false, Basic(2, 4, {8, 8, 8}, 1, 2, {8, 20, 26}, {12, 6, 6}, {2, 1}), data);
  auto pal = Basic(3, 2, {4}, 32773, 3, {8}, {4}, {2});
  pal.push_back({320, 3, std::vector<uint32_t>(48, 0x4000)});
  pal.push_back({317, 3, {2}});
  Bytes palette = MakeTiff(true, pal, {0x01, 0x12, 0x30, 0x00});
  Bytes fax = MakeTiff(false, Basic(8, 2, {1}, 2, 0, {8}, {3}, {2}), {0x8E, 0x00, 0x98});
  Bytes fax3 = MakeTiff(false, Basic(8, 2, {1}, 3, 0, {8}, {6}, {2}), {0x00, 0x18, 0xE0, 0x00, 0x19, 0x80});
  Bytes deflate = MakeTiff(true, Basic(4, 2, {8, 8}, 8, 1, {8}, {0}, {2}), Deflate(Bytes(16, 9)));
  Bytes thunder = MakeTiff(false, Basic(4, 2, {4}, 32809, 1, {8}, {4}, {2}), {0xC7, 0x03, 0xC1, 0x43});
  Bytes eps = MakeEps(raw);
  kit::Fuzz({raw, palette, fax, fax3, deflate, thunder},
            [] { return std::make_unique<TTIFFGraphic>(); }, 6000, 45);
  kit::Fuzz({eps}, [] { return std::make_unique<TEPSGraphic>(); }, 1000, 46);
}
