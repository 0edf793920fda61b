// Paint Shop Pro reader: versions 3 and later, layers, channels in the three compressions.
#include "imageformats/GraphicPSP.h"

#include <gtest/gtest.h>

#include <cstring>

#include "ReaderTestKit.h"

using kit::ErrorOf;
using kit::LoadAs;
using kit::RGB;

namespace {

Bytes Block(uint16_t version, uint16_t id, const Bytes& data) {
  Bytes b{'~', 'B', 'K', 0};
  PutLE16(b, id);
  if (version == 3) PutLE32(b, 0);
  PutLE32(b, static_cast<uint32_t>(data.size()));
  Append(b, data);
  return b;
}

// Chunk sizes start the data of the blocks from version 4 on.
Bytes Chunked(uint16_t version, uint32_t fixedSize, const Bytes& fields) {
  Bytes b;
  if (version >= 4) PutLE32(b, fixedSize + 4);
  Append(b, fields);
  return b;
}

Bytes PspHeader(uint16_t version, uint32_t width, uint32_t height, uint16_t depth,
                uint16_t compression, bool gray = false) {
  Bytes b;
  AppendText(b, "Paint Shop Pro Image File\n\x1a");
  b.resize(32, 0);
  PutLE16(b, version);
  PutLE16(b, 0);
  Bytes a;
  PutLE32(a, width);
  PutLE32(a, height);
  double resolution = 100.0;
  uint64_t bits;
  std::memcpy(&bits, &resolution, 8);
  PutLE32(a, static_cast<uint32_t>(bits));
  PutLE32(a, static_cast<uint32_t>(bits >> 32));
  a.push_back(2);  // per centimetre
  PutLE16(a, compression);
  PutLE16(a, depth);
  PutLE16(a, 1);
  PutLE32(a, 0);
  a.push_back(gray ? 1 : 0);
  PutLE32(a, 0);
  PutLE32(a, 0);
  PutLE16(a, 1);
  PutLE32(a, 0);
  Append(b, Block(version, 0, Chunked(version, 42, a)));
  return b;
}

Bytes Channel(uint16_t version, uint16_t type, const Bytes& data, uint32_t uncompressed) {
  Bytes f;
  PutLE32(f, static_cast<uint32_t>(data.size()));
  PutLE32(f, uncompressed);
  PutLE16(f, 0);
  PutLE16(f, type);
  Bytes body = Chunked(version, 12, f);
  Append(body, data);
  return Block(version, 5, body);
}

// A layer block with its layer type and channels.
Bytes Layer(uint16_t version, uint8_t layerType, const std::vector<Bytes>& channels) {
  Bytes data;
  if (version == 3) {
    Bytes info(256 + 115, 0);
    info[256] = layerType;
    Append(data, info);
    PutLE16(data, 1);
    PutLE16(data, static_cast<uint32_t>(channels.size()));
  } else {
    Bytes info;
    PutLE16(info, 3);
    AppendText(info, "abc");
    info.push_back(layerType);
    Append(info, Bytes(20, 0));
    PutLE32(data, static_cast<uint32_t>(info.size() + 4));
    Append(data, info);
    PutLE32(data, 8);
    PutLE16(data, 1);
    PutLE16(data, static_cast<uint32_t>(channels.size()));
  }
  for (const Bytes& c : channels) Append(data, c);
  return Block(version, 4, data);
}

Bytes LayerStart(uint16_t version, const std::vector<Bytes>& layers) {
  Bytes data;
  for (const Bytes& l : layers) Append(data, l);
  return Block(version, 3, data);
}

}  // namespace

TEST(PSPReader, SignatureVersionAndProperties) {
  Bytes file = PspHeader(5, 2, 1, 24, 0);
  EXPECT_TRUE(kit::Signature<TPSPGraphic>(file));
  Bytes old = PspHeader(2, 2, 1, 24, 0);
  EXPECT_FALSE(kit::Signature<TPSPGraphic>(old));
  TPSPGraphic psp;
  TMemoryStream stream;
  LoadInto(stream, old);
  EXPECT_FALSE(psp.ReadImageInfo(stream, 0));
  EXPECT_EQ(ErrorOf<TPSPGraphic>(old), "Cannot load image. Invalid or unexpected PSP image format.");
  LoadInto(stream, file);
  ASSERT_TRUE(psp.ReadImageInfo(stream, 0));
  const TImageProperties& p = psp.ImageProperties();
  EXPECT_EQ(p.Version, 5u);
  EXPECT_EQ(p.ColorScheme, psRGB);
  EXPECT_EQ(p.BitsPerPixel, 24);
  EXPECT_FLOAT_EQ(p.XResolution, 254.0f);
  EXPECT_FLOAT_EQ(p.YResolution, 254.0f);
}

TEST(PSPReader, UncompressedRGBLayer) {
  Bytes file = PspHeader(5, 2, 2, 24, 0);
  Append(file, LayerStart(5, {Layer(5, 0, {Channel(5, 1, {1, 2, 3, 4}, 4),
                                          Channel(5, 2, {10, 20, 30, 40}, 4),
                                          Channel(5, 3, {100, 110, 120, 130}, 4)})}));
  auto psp = LoadAs<TPSPGraphic>(file);
  EXPECT_EQ(psp->GetPixelFormat(), pf24bit);
  EXPECT_EQ(psp->GetPixelColor(0, 0), RGB(1, 10, 100));
  EXPECT_EQ(psp->GetPixelColor(1, 1), RGB(4, 40, 130));
}

TEST(PSPReader, DeflatedChannelsWithTransparencyGiveThirtyTwoBits) {
  Bytes file = PspHeader(6, 2, 1, 24, 2);
  Append(file, LayerStart(6, {Layer(6, 0, {Channel(6, 1, Deflate({200, 201}), 2),
                                          Channel(6, 2, Deflate({50, 51}), 2),
                                          Channel(6, 3, Deflate({7, 8}), 2),
                                          Channel(6, 0, Deflate({255, 128}), 2)})}));
  auto psp = LoadAs<TPSPGraphic>(file);
  ASSERT_EQ(psp->GetPixelFormat(), pf32bit);
  const uint8_t* row = psp->ScanLine(0);
  EXPECT_EQ(row[0], 7);
  EXPECT_EQ(row[1], 50);
  EXPECT_EQ(row[2], 200);
  EXPECT_EQ(row[3], 255);
  EXPECT_EQ(row[4 + 2], 201);
  EXPECT_EQ(row[4 + 3], 128);
  // Damaged deflate data is reported, not shown as a black picture.
  Bytes bad = PspHeader(6, 2, 1, 24, 2);
  Append(bad, LayerStart(6, {Layer(6, 0, {Channel(6, 1, {0xFF, 0xFF, 0xFF, 0xFF}, 2)})}));
  EXPECT_EQ(ErrorOf<TPSPGraphic>(bad), "Cannot load image. Compression error found in PSP file.");
}

TEST(PSPReader, FirstAcceptableLayerWithRunLengthChannels) {
  Bytes file = PspHeader(5, 3, 1, 24, 1);
  // A layer of type 2 is passed over; the next one is read.
  Bytes skipped = Layer(5, 2, {Channel(5, 1, {0x83, 9}, 3)});
  Bytes taken = Layer(5, 1, {Channel(5, 1, {0x83, 60}, 3), Channel(5, 2, {0x02, 1, 2, 0x81, 3}, 3),
                             Channel(5, 3, {0x83, 0}, 3)});
  Append(file, LayerStart(5, {skipped, taken}));
  auto psp = LoadAs<TPSPGraphic>(file);
  EXPECT_EQ(psp->GetPixelColor(0, 0), RGB(60, 1, 0));
  EXPECT_EQ(psp->GetPixelColor(1, 0), RGB(60, 2, 0));
  EXPECT_EQ(psp->GetPixelColor(2, 0), RGB(60, 3, 0));
}

TEST(PSPReader, VersionThreeIndexedWithPaletteBlock) {
  Bytes file = PspHeader(3, 3, 1, 8, 0);
  Bytes palette;
  PutLE32(palette, 3);
  Append(palette, {0, 0, 0, 0, 30, 20, 10, 0, 3, 2, 1, 0});  // blue, green, red, reserved
  Append(file, Block(3, 2, palette));
  Bytes skipped = Layer(3, 1, {Channel(3, 0, {1, 1, 1}, 3)});
  Bytes taken = Layer(3, 0, {Channel(3, 0, {2, 1, 0}, 3)});
  Append(file, LayerStart(3, {skipped, taken}));
  auto psp = LoadAs<TPSPGraphic>(file);
  EXPECT_EQ(psp->GetPixelFormat(), pf8bit);
  EXPECT_EQ(psp->GetPixelIndex(0, 0), 2u);
  EXPECT_EQ(psp->GetPixelColor(0, 0), RGB(1, 2, 3));
  EXPECT_EQ(psp->GetPixelColor(1, 0), RGB(10, 20, 30));
  // A 4-bit layer: rows of width / 2 + 1 bytes.
  Bytes four = PspHeader(4, 2, 2, 4, 0);
  Append(four, LayerStart(4, {Layer(4, 0, {Channel(4, 0, {0x12, 0, 0x34, 0}, 4)})}));
  psp = LoadAs<TPSPGraphic>(four);
  EXPECT_EQ(psp->GetPixelFormat(), pf4bit);
  EXPECT_EQ(psp->GetPixelIndex(1, 0), 2u);
  EXPECT_EQ(psp->GetPixelIndex(0, 1), 3u);
}

TEST(PSPReader, UnsupportedFilesFailWithTheirMessages) {
  Bytes jpeg = PspHeader(5, 2, 1, 24, 3);
  EXPECT_EQ(ErrorOf<TPSPGraphic>(jpeg),
            "Cannot load image. The compression scheme is not supported for PSP files.");
  Bytes deep = PspHeader(5, 2, 1, 16, 0);
  EXPECT_EQ(ErrorOf<TPSPGraphic>(deep), "Invalid color format in PSP file.");
  // A channel longer than the file fails before it is allocated.
  Bytes file = PspHeader(5, 2, 1, 24, 0);
  Bytes channel = Channel(5, 1, {1, 2}, 2);
  channel[10 + 4 + 3] = 0x70;  // compressed length
  Append(file, LayerStart(5, {Layer(5, 0, {channel})}));
  EXPECT_NE(ErrorOf<TPSPGraphic>(file), "");
}

TEST(PSPReader, MutatedFilesFailCleanly) {
  Bytes a = PspHeader(5, 2, 2, 24, 1);
  Append(a, LayerStart(5, {Layer(5, 0, {Channel(5, 1, {0x84, 1}, 4), Channel(5, 2, {0x02, 1, 2, 0x82, 3}, 4),
                                        Channel(5, 3, {0x84, 0}, 4), Channel(5, 0, {0x84, 9}, 4)})}));
  Bytes b = PspHeader(3, 3, 1, 8, 0);
  Bytes palette;
  PutLE32(palette, 2);
  Append(palette, Bytes(8, 1));
  Append(b, Block(3, 2, palette));
  Append(b, LayerStart(3, {Layer(3, 0, {Channel(3, 0, {2, 1, 0}, 3)})}));
  Bytes c = PspHeader(6, 4, 2, 24, 2);
  Append(c, LayerStart(6, {Layer(6, 0, {Channel(6, 1, Deflate(Bytes(8, 3)), 8),
                                        Channel(6, 2, Deflate(Bytes(8, 4)), 8)})}));
  Bytes d = PspHeader(4, 9, 2, 1, 0);
  Append(d, LayerStart(4, {Layer(4, 0, {Channel(4, 0, {1, 2, 3, 4}, 4)})}));
  kit::Fuzz({a, b, c, d}, [] { return std::make_unique<TPSPGraphic>(); }, 4000, 33);
}
