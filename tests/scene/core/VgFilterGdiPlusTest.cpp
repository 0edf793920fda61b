// The GDI+ codec: a PNG written here byte by byte decodes to premultiplied pixels; PNG, JPEG and
// BMP round trips through streams and files; rotations; thumbnails; the bitmap's "PNG" data
// (JPEG at quality 100 when opaque); format choice by name and extension.
#include "scene/core/win32/vg_filter_gdiplus.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "TestFiles.h"
#include "scene/core/GdiPlusTestEnvironment.h"
#include "scene/core/win32/vg_gdiplus.h"

namespace {

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutBE(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; --i) s.push_back(static_cast<char>(v >> (8 * i)));
}

void Chunk(std::string& png, const char* type, const std::string& data) {
  PutBE(png, static_cast<uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  png += body;
  PutBE(png, Crc32(body));
}

// An RGBA PNG (straight alpha) with its image data in one stored deflate block.
std::string MakePng(int w, int h, const std::vector<uint32_t>& argb) {
  std::string raw;
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);  // filter: none
    for (int x = 0; x < w; ++x) {
      const uint32_t p = argb[size_t(y * w + x)];
      raw.push_back(char(p >> 16));
      raw.push_back(char(p >> 8));
      raw.push_back(char(p));
      raw.push_back(char(p >> 24));
    }
  }
  std::string z = "\x78\x01";
  z.push_back('\x01');  // final stored block
  const uint16_t len = static_cast<uint16_t>(raw.size());
  z.push_back(char(len & 0xFF));
  z.push_back(char(len >> 8));
  z.push_back(char(~len & 0xFF));
  z.push_back(char((~len >> 8) & 0xFF));
  z += raw;
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  PutBE(z, b << 16 | a);
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string ihdr;
  PutBE(ihdr, uint32_t(w));
  PutBE(ihdr, uint32_t(h));
  ihdr += std::string("\x08\x06\x00\x00\x00", 5);
  Chunk(png, "IHDR", ihdr);
  Chunk(png, "IDAT", z);
  Chunk(png, "IEND", "");
  return png;
}

bool Near(uint32_t a, uint32_t b, int tolerance) {
  for (int shift = 0; shift < 32; shift += 8)
    if (std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)) > tolerance) return false;
  return true;
}

std::unique_ptr<TvgBitmap> Pattern(int32_t w, int32_t h, bool opaque) {
  auto p = std::make_unique<TvgBitmap>(w, h);
  TvgBitmap& b = *p;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t a = opaque ? 255 : uint32_t(64 + (x * 37 + y * 11) % 192);
      const uint32_t r = (x * 255 / std::max(w - 1, 1)) * a / 255, g = (y * 255 / std::max(h - 1, 1)) * a / 255;
      b.Scanline(y)[x] = a << 24 | r << 16 | g << 8 | (a / 2);
    }
  return p;
}

std::string StreamBytes(TMemoryStream& s) { return std::string(reinterpret_cast<const char*>(s.Memory()), size_t(s.GetSize())); }

}  // namespace

TEST(VgFilterGdiPlus, HandMadePngDecodesPremultiplied) {
  // FF0000 at alpha 80 hexadecimal is 80800000 premultiplied.
  const std::string png = MakePng(2, 1, {0x80FF0000u, 0xFF00FF00u});
  TStringStream s(png);
  TvgBitmap b;
  ASSERT_TRUE(TvgFilterGdiPlus().LoadFromStream(s, b));
  ASSERT_EQ(b.GetWidth(), 2);
  ASSERT_EQ(b.GetHeight(), 1);
  EXPECT_TRUE(Near(b.Pixel(0, 0), 0x80800000u, 1)) << std::hex << b.Pixel(0, 0);
  EXPECT_EQ(b.Pixel(1, 0), 0xFF00FF00u);
}

TEST(VgFilterGdiPlus, DecodeReplacesEarlierPixelsOfTheSameSize) {
  TvgBitmap b(2, 1);
  b.Clear(0xFFFFFFFFu);
  TStringStream s(MakePng(2, 1, {0x00000000u, 0x40000000u}));
  ASSERT_TRUE(TvgFilterGdiPlus().LoadFromStream(s, b));
  EXPECT_EQ(b.Pixel(0, 0), 0u);
  EXPECT_TRUE(Near(b.Pixel(1, 0), 0x40000000u, 1));
}

TEST(VgFilterGdiPlus, GarbageIsNoImage) {
  TStringStream s("this is not an image at all");
  TvgBitmap b(3, 3);
  EXPECT_FALSE(TvgFilterGdiPlus().LoadFromStream(s, b));
  EXPECT_EQ(b.GetWidth(), 3);
}

TEST(VgFilterGdiPlus, PngRoundTripKeepsTranslucentPixels) {
  auto srcOwner = Pattern(17, 9, false);
  TvgBitmap& src = *srcOwner;
  TMemoryStream s;
  ASSERT_TRUE(TvgFilterGdiPlus().SaveToStream(s, src, "png", ""));
  EXPECT_EQ(StreamBytes(s).substr(0, 8), "\x89PNG\r\n\x1a\n");
  s.SetPosition(0);
  TvgBitmap back;
  ASSERT_TRUE(TvgFilterGdiPlus().LoadFromStream(s, back));
  ASSERT_EQ(back.GetWidth(), 17);
  ASSERT_EQ(back.GetHeight(), 9);
  // Premultiplied to straight and back loses at most a little in the colour channels.
  for (int32_t y = 0; y < 9; ++y)
    for (int32_t x = 0; x < 17; ++x)
      ASSERT_TRUE(Near(back.Pixel(x, y), src.Pixel(x, y), 2)) << x << "," << y << std::hex << " " << back.Pixel(x, y)
                                                             << " " << src.Pixel(x, y);
}

TEST(VgFilterGdiPlus, FormatNamesChooseTheEncoder) {
  auto srcOwner = Pattern(8, 8, true);
  TvgBitmap& src = *srcOwner;
  struct Case {
    const char* format;
    std::string magic;
  } cases[] = {{"JPG", "\xFF\xD8"}, {"jpeg", "\xFF\xD8"}, {"bmp", "BM"}, {"tiff", ""}, {"whatever", "\x89PNG"}};
  for (const Case& c : cases) {
    TMemoryStream s;
    if (!TvgFilterGdiPlus().SaveToStream(s, src, c.format, "")) {
      GTEST_LOG_(INFO) << "no encoder for " << c.format << " here";
      continue;
    }
    const std::string bytes = StreamBytes(s);
    if (std::string(c.format) == "tiff") {
      EXPECT_TRUE(bytes.substr(0, 2) == "II" || bytes.substr(0, 2) == "MM");
    } else {
      EXPECT_EQ(bytes.substr(0, c.magic.size()), c.magic) << c.format;
    }
  }
}

TEST(VgFilterGdiPlus, BitmapPropertyDataIsJpegWhenOpaque) {
  auto opaqueOwner = Pattern(16, 16, true);
  TvgBitmap& opaque = *opaqueOwner;
  TMemoryStream s;
  ASSERT_TRUE(opaque.SaveToStream(s));
  EXPECT_EQ(StreamBytes(s).substr(0, 2), "\xFF\xD8");
  s.SetPosition(0);
  TvgBitmap back;
  ASSERT_TRUE(back.LoadFromStream(s));
  // Quality 100: close to the original.
  for (int32_t y = 0; y < 16; y += 5)
    for (int32_t x = 0; x < 16; x += 5) EXPECT_TRUE(Near(back.Pixel(x, y), opaque.Pixel(x, y), 12)) << x << "," << y;

  auto translucentOwner = Pattern(4, 4, false);
  TvgBitmap& translucent = *translucentOwner;
  TMemoryStream t;
  ASSERT_TRUE(translucent.SaveToStream(t));
  EXPECT_EQ(StreamBytes(t).substr(0, 4), "\x89PNG");
}

TEST(VgFilterGdiPlus, JpegQualityParameterChangesTheOutput) {
  auto srcOwner = Pattern(32, 32, true);
  TvgBitmap& src = *srcOwner;
  TMemoryStream low, high;
  ASSERT_TRUE(TvgFilterGdiPlus().SaveToStream(low, src, "jpeg", "quality=5"));
  ASSERT_TRUE(TvgFilterGdiPlus().SaveToStream(high, src, "jpeg", "other=1 quality=100"));
  // The parameters formed from the text are checked natively (vgFilterQualities); only the
  // encoder's use of them is left to a GDI+ that honours them.
  if (low.GetSize() == high.GetSize()) GTEST_SKIP() << "this GDI+ ignores the JPEG quality parameter (Wine)";
  EXPECT_LT(low.GetSize(), high.GetSize());
}

TEST(VgFilterGdiPlus, FilesByExtension) {
  TempDir dir;
  auto srcOwner = Pattern(6, 5, true);
  TvgBitmap& src = *srcOwner;
  TvgFilterGdiPlus codec;
  ASSERT_TRUE(codec.SaveToFile(dir.File("a.bmp"), src, ""));
  EXPECT_EQ(ReadFileBytes(dir.File("a.bmp")).substr(0, 2), "BM");
  TvgBitmap back;
  ASSERT_TRUE(codec.LoadFromFile(dir.File("a.bmp"), back, 0));
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 6; ++x) EXPECT_EQ(back.Pixel(x, y), src.Pixel(x, y));
  EXPECT_EQ(codec.GetImageSize(dir.File("a.bmp")), (TvgPoint{6, 5}));
  EXPECT_FALSE(codec.SaveToFile(dir.File("b.jpe"), src, ""));
  EXPECT_FALSE(codec.SaveToFile(dir.File("noext"), src, ""));
  EXPECT_FALSE(FileExists(dir.File("b.jpe")));
  EXPECT_FALSE(FileExists(dir.File("noext")));
  EXPECT_THROW(codec.LoadFromFile(dir.File("missing.png"), back, 0), EFOpenError);
}

TEST(VgFilterGdiPlus, RightAngleRotationsTurnThePixels) {
  TempDir dir;
  const std::string file = dir.File("r.png");
  // 3 x 2: red top-left, blue bottom-right.
  std::vector<uint32_t> px(6, 0xFFFFFFFFu);
  px[0] = 0xFFFF0000u;
  px[5] = 0xFF0000FFu;
  WriteFileBytes(file, MakePng(3, 2, px));
  TvgFilterGdiPlus codec;
  TvgBitmap b;
  ASSERT_TRUE(codec.LoadFromFile(file, b, 90));
  ASSERT_EQ(b.GetWidth(), 2);
  ASSERT_EQ(b.GetHeight(), 3);
  // Clockwise: the top-left corner goes to the top-right.
  EXPECT_EQ(b.Pixel(1, 0), 0xFFFF0000u);
  EXPECT_EQ(b.Pixel(0, 2), 0xFF0000FFu);
  ASSERT_TRUE(codec.LoadFromFile(file, b, 180));
  ASSERT_EQ(b.GetWidth(), 3);
  EXPECT_EQ(b.Pixel(2, 1), 0xFFFF0000u);
  EXPECT_EQ(b.Pixel(0, 0), 0xFF0000FFu);
  ASSERT_TRUE(codec.LoadFromFile(file, b, -90));  // not 90, 180 or 270 after the remainder: unrotated
  EXPECT_EQ(b.GetWidth(), 3);
  EXPECT_EQ(b.Pixel(0, 0), 0xFFFF0000u);
}

TEST(VgFilterGdiPlus, OtherAnglesGrowToTheBoundingBox) {
  TempDir dir;
  const std::string file = dir.File("r.png");
  WriteFileBytes(file, MakePng(20, 10, std::vector<uint32_t>(200, 0xFF00FF00u)));
  TvgBitmap b;
  ASSERT_TRUE(TvgFilterGdiPlus().LoadFromFile(file, b, 45));
  // (20 + 10) / sqrt(2) = 21.2 on both axes.
  EXPECT_EQ(b.GetWidth(), 21);
  EXPECT_EQ(b.GetHeight(), 21);
  EXPECT_TRUE(Near(b.Pixel(10, 10), 0xFF00FF00u, 2));
  EXPECT_EQ(b.Pixel(0, 0), 0u);
}

TEST(VgFilterGdiPlus, ThumbnailFitsAndKeepsTheAspect) {
  TempDir dir;
  const std::string file = dir.File("t.png");
  WriteFileBytes(file, MakePng(40, 20, std::vector<uint32_t>(800, 0xFF102030u)));
  TvgBitmap b;
  TvgFilterGdiPlus codec;
  ASSERT_TRUE(codec.LoadThumbnailFromFile(file, false, 10, 10, b));
  EXPECT_EQ(b.GetWidth(), 10);
  EXPECT_EQ(b.GetHeight(), 5);
  EXPECT_TRUE(Near(b.Pixel(5, 2), 0xFF102030u, 3));
  // Smaller than the box: kept at its own size, not cut from an enlargement.
  ASSERT_TRUE(codec.LoadThumbnailFromFile(file, false, 400, 400, b));
  EXPECT_EQ(b.GetWidth(), 40);
  EXPECT_EQ(b.GetHeight(), 20);
  EXPECT_TRUE(Near(b.Pixel(39, 19), 0xFF102030u, 3));
  TvgBitmap t;
  ASSERT_TRUE(codec.LoadThumbnailFromFile(file, true, 10, 10, t));
  if (t.IsEmpty()) {
    GTEST_LOG_(INFO) << "GDI+ gave no embedded thumbnail here";
  } else {
    EXPECT_EQ(t.GetWidth(), 10);
    EXPECT_EQ(t.GetHeight(), 5);
  }
}
