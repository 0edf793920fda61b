// Autodesk, Dr. Halo CUT and Wavefront RLA readers, and the registrations of every reader.
#include <gtest/gtest.h>

#include <cmath>

#include "ReaderTestKit.h"
#include "TestFiles.h"
#include "imageformats/GraphicAutodesk.h"
#include "imageformats/GraphicCUT.h"
#include "imageformats/GraphicFileFormats.h"
#include "imageformats/GraphicPCD.h"
#include "imageformats/GraphicPSD.h"
#include "imageformats/GraphicPSP.h"
#include "imageformats/GraphicRLA.h"
#include "imageformats/GraphicTIFF.h"

using kit::ErrorOf;
using kit::LoadAs;
using kit::RGB;

// --- Autodesk

namespace {

Bytes AutodeskFile(uint16_t w, uint16_t h, const Bytes& pixels) {
  Bytes b;
  PutLE16(b, 0x9119);
  PutLE16(b, w);
  PutLE16(b, h);
  PutLE32(b, 0);
  b.push_back(8);
  b.push_back(0);
  PutLE32(b, static_cast<uint32_t>(pixels.size()));
  while (b.size() < 32) b.push_back(0);
  Bytes palette(768, 0);
  palette[3] = 63;  // entry 1: red 63, green 32, blue 1
  palette[4] = 32;
  palette[5] = 1;
  Append(b, palette);
  Append(b, pixels);
  return b;
}

}  // namespace

TEST(AutodeskReader, PaletteScaledByFourRowsFromTheTop) {
  Bytes file = AutodeskFile(3, 2, {1, 0, 0, 0, 0, 1});
  EXPECT_TRUE(kit::Signature<TAutodeskGraphic>(file));
  Bytes compressed = file;
  compressed[11] = 1;
  EXPECT_FALSE(kit::Signature<TAutodeskGraphic>(compressed));
  auto cel = LoadAs<TAutodeskGraphic>(file);
  EXPECT_EQ(cel->GetPixelFormat(), pf8bit);
  EXPECT_EQ(cel->GetPixelColor(0, 0), RGB(252, 128, 4));
  EXPECT_EQ(cel->GetPixelColor(2, 1), RGB(252, 128, 4));
  EXPECT_EQ(cel->GetPixelColor(1, 0), RGB(0, 0, 0));
  file[0] = 0;
  EXPECT_EQ(ErrorOf<TAutodeskGraphic>(file),
            "Cannot load image. Invalid or unexpected Autodesk image format.");
  Bytes big = AutodeskFile(60000, 60000, {1, 2, 3});
  EXPECT_NE(ErrorOf<TAutodeskGraphic>(big), "");
  kit::Fuzz({AutodeskFile(3, 2, {1, 0, 0, 0, 0, 1})},
            [] { return std::make_unique<TAutodeskGraphic>(); }, 1500, 71);
}

// --- CUT

namespace {

// Rows: [byte count][packets][0].
Bytes CutFile(uint16_t w, uint16_t h, const std::vector<Bytes>& rows) {
  Bytes b;
  PutLE16(b, w);
  PutLE16(b, h);
  PutLE16(b, 0);
  for (const Bytes& r : rows) {
    PutLE16(b, static_cast<uint32_t>(r.size() + 1));
    Append(b, r);
    b.push_back(0);
  }
  return b;
}

Bytes PalFile(int colours) {
  Bytes b(40, 0);
  b[12] = static_cast<uint8_t>(colours - 1);
  b[13] = static_cast<uint8_t>((colours - 1) >> 8);
  for (int i = 0; i < colours; ++i) {
    if ((b.size() % 512) + 6 > 512) b.resize((b.size() / 512 + 1) * 512, 0);
    PutLE16(b, static_cast<uint32_t>(i));
    PutLE16(b, static_cast<uint32_t>(255 - i));
    PutLE16(b, 7);
  }
  return b;
}

}  // namespace

TEST(CUTReader, GrayRampWithoutPaletteFile) {
  Bytes file = CutFile(4, 2, {{0x83, 9, 0x01, 200}, {0x02, 1, 2, 0x82, 3}});
  EXPECT_FALSE(kit::Signature<TCUTGraphic>(file));
  auto cut = LoadAs<TCUTGraphic>(file);
  EXPECT_EQ(cut->GetPixelFormat(), pf8bit);
  EXPECT_EQ(cut->GetPixelColor(2, 0), RGB(9, 9, 9));
  EXPECT_EQ(cut->GetPixelColor(3, 0), RGB(200, 200, 200));
  EXPECT_EQ(cut->GetPixelIndex(1, 1), 2u);
  EXPECT_EQ(cut->GetPixelIndex(3, 1), 3u);
}

TEST(CUTReader, PaletteFileBesideTheImage) {
  TempDir dir;
  // Enough colours that entries continue in the second 512-byte block.
  Bytes pal = PalFile(100);
  WriteFileBytes(dir.File("pic.pal"), std::string(pal.begin(), pal.end()));
  Bytes file = CutFile(3, 1, {{0x03, 1, 90, 99}});
  WriteFileBytes(dir.File("pic.cut"), std::string(file.begin(), file.end()));
  TCUTGraphic cut;
  cut.LoadFromFile(dir.File("pic.cut"));
  EXPECT_EQ(cut.PaletteFile, dir.File("pic.pal"));
  EXPECT_EQ(cut.GetPalette().size(), 100u);
  EXPECT_EQ(cut.GetPixelColor(0, 0), RGB(1, 254, 7));
  EXPECT_EQ(cut.GetPixelColor(1, 0), RGB(90, 165, 7));
  EXPECT_EQ(cut.GetPixelColor(2, 0), RGB(99, 156, 7));
  // A later stream load keeps using the palette file of the last file name.
  TMemoryStream stream;
  LoadInto(stream, CutFile(1, 1, {{0x81, 5}}));
  cut.LoadFromStream(stream);
  EXPECT_EQ(cut.GetPixelColor(0, 0), RGB(5, 250, 7));
  // Through the picture registry.
  RegisterImageFormats();
  TPicture picture;
  picture.LoadFromFile(dir.File("pic.cut"));
  ASSERT_NE(picture.GetGraphic(), nullptr);
  EXPECT_TRUE(picture.GetGraphic()->Is<TCUTGraphic>());
  UnregisterImageFormats();
}

TEST(CUTReader, DamagedFilesFailCleanly) {
  Bytes truncated = CutFile(5, 3, {{0x85, 1}});
  EXPECT_NE(ErrorOf<TCUTGraphic>(truncated), "");
  Bytes big = CutFile(60000, 60000, {{0x85, 1}});
  EXPECT_NE(ErrorOf<TCUTGraphic>(big), "");
  kit::Fuzz({CutFile(4, 2, {{0x83, 9, 0x01, 200}, {0x02, 1, 2, 0x82, 3}})},
            [] { return std::make_unique<TCUTGraphic>(); }, 1500, 72);
}

// --- RLA

namespace {

Bytes RlaHeader(int16_t left, int16_t right, int16_t bottom, int16_t top, uint16_t mattes,
                const std::string& gamma = "", const std::string& space = "rgb",
                uint16_t bits = 8) {
  Bytes b(740, 0);
  auto put = [&](size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
  };
  put(8, static_cast<uint16_t>(left));
  put(10, static_cast<uint16_t>(right));
  put(12, static_cast<uint16_t>(bottom));
  put(14, static_cast<uint16_t>(top));
  put(20, 3);
  put(22, mattes);
  put(26, 0xFFFE);
  std::copy(gamma.begin(), gamma.end(), b.begin() + 28);
  std::copy(space.begin(), space.end(), b.begin() + 580);
  put(658, bits);
  return b;
}

// Rows of channels (each channel given as its run-length bytes).
Bytes RlaFile(Bytes header, const std::vector<std::vector<Bytes>>& rows) {
  uint32_t at = static_cast<uint32_t>(header.size() + 4 * rows.size());
  Bytes body;
  for (const auto& row : rows) {
    PutBE32(header, at + static_cast<uint32_t>(body.size()));
    for (const Bytes& c : row) {
      PutBE16(body, static_cast<uint32_t>(c.size()));
      Append(body, c);
    }
  }
  Append(header, body);
  return header;
}

}  // namespace

TEST(RLAReader, RowsBottomUpWhenTopIsAboveBottom) {
  // Two rows of two pixels; runs (n >= 0: n + 1 copies) and literals (n < 0: -n bytes).
  std::vector<std::vector<Bytes>> rows = {{{0x01, 10}, {0xFE, 20, 21}, {0x01, 30}},
                                          {{0x01, 40}, {0x01, 50}, {0xFE, 60, 61}}};
  Bytes file = RlaFile(RlaHeader(0, 1, 0, 1, 0), rows);
  EXPECT_TRUE(kit::Signature<TRLAGraphic>(file));
  auto rla = LoadAs<TRLAGraphic>(file);
  EXPECT_TRUE(rla->ImageProperties().BottomUp);
  EXPECT_EQ(rla->GetPixelFormat(), pf24bit);
  EXPECT_EQ(rla->GetPixelColor(0, 1), RGB(10, 20, 30));  // first file row at the bottom
  EXPECT_EQ(rla->GetPixelColor(1, 1), RGB(10, 21, 30));
  EXPECT_EQ(rla->GetPixelColor(1, 0), RGB(40, 50, 61));
  Bytes down = RlaFile(RlaHeader(0, 1, 1, 0, 0), rows);
  rla = LoadAs<TRLAGraphic>(down);
  EXPECT_EQ(rla->GetPixelColor(0, 0), RGB(10, 20, 30));
}

TEST(RLAReader, MatteAndGamma) {
  std::vector<std::vector<Bytes>> rows = {{{0x00, 128}, {0x00, 64}, {0x00, 255}, {0x00, 77}}};
  auto rla = LoadAs<TRLAGraphic>(RlaFile(RlaHeader(5, 5, 0, 0, 1), rows));
  ASSERT_EQ(rla->GetPixelFormat(), pf32bit);
  const uint8_t* p = rla->ScanLine(0);
  EXPECT_EQ(p[0], 255);
  EXPECT_EQ(p[1], 64);
  EXPECT_EQ(p[2], 128);
  EXPECT_EQ(p[3], 77);
  rla = LoadAs<TRLAGraphic>(RlaFile(RlaHeader(0, 0, 0, 0, 0, "2.0"), {{{0x00, 128}, {0x00, 64}, {0x00, 0}}}));
  EXPECT_FLOAT_EQ(rla->ImageProperties().FileGamma, 2.0f);
  EXPECT_TRUE(rla->ImageProperties().Options & ifUseGamma);
  TColor c = rla->GetPixelColor(0, 0);
  auto corrected = [](int v) { return static_cast<int>(std::lround(std::pow(v / 255.0, 1 / 4.4) * 255)); };
  EXPECT_EQ(c & 0xFF, corrected(128));
  EXPECT_EQ((c >> 8) & 0xFF, corrected(64));
}

TEST(RLAReader, ForeignAndDamagedFiles) {
  Bytes xyz = RlaFile(RlaHeader(0, 0, 0, 0, 0, "", "XYZ"), {{{0x00, 1}, {0x00, 2}, {0x00, 3}}});
  EXPECT_TRUE(kit::Signature<TRLAGraphic>(xyz));
  EXPECT_EQ(ErrorOf<TRLAGraphic>(xyz), "Invalid color format in RLA file.");
  Bytes other = RlaFile(RlaHeader(0, 0, 0, 0, 0, "", "cmy"), {{{0x00, 1}, {0x00, 2}, {0x00, 3}}});
  EXPECT_FALSE(kit::Signature<TRLAGraphic>(other));
  EXPECT_EQ(ErrorOf<TRLAGraphic>(other), "Cannot load image. Invalid or unexpected RLA image format.");
  Bytes far = RlaFile(RlaHeader(0, 0, 0, 0, 0), {{{0x00, 1}, {0x00, 2}, {0x00, 3}}});
  far[743] = 0xF0;  // row offset past the end
  EXPECT_EQ(ErrorOf<TRLAGraphic>(far), "Stream read error");
  Bytes big = RlaHeader(0, 30000, 0, 30000, 0);
  EXPECT_NE(ErrorOf<TRLAGraphic>(big), "");
  std::vector<std::vector<Bytes>> rows = {{{0x01, 10}, {0xFE, 20, 21}, {0x01, 30}, {0x01, 7}},
                                          {{0x01, 40}, {0x01, 50}, {0xFE, 60, 61}, {0x7F, 1}}};
  kit::Fuzz({RlaFile(RlaHeader(0, 1, 0, 1, 1, "2.2"), rows)},
            [] { return std::make_unique<TRLAGraphic>(); }, 2000, 73);
}

// --- Registrations

TEST(ImageFormats, EveryReaderIsRegisteredAndRemoved) {
  RegisterImageFormats();
  EXPECT_EQ(TPicture::GraphicClassOf("TIF"), TTIFFGraphic::StaticClassInfo());
  EXPECT_EQ(TPicture::GraphicClassOf("fax"), TTIFFGraphic::StaticClassInfo());
  EXPECT_EQ(TPicture::FileFormatDescription("fax"), "GFI fax images");
  EXPECT_EQ(TPicture::GraphicClassOf("eps"), TEPSGraphic::StaticClassInfo());
  EXPECT_EQ(TPicture::FileFormatDescription("rla"), "Alias/Wavefront images");
  EXPECT_EQ(TPicture::FileFormatDescription("pdd"), "Photoshop images");
  EXPECT_EQ(TPicture::GraphicClassOf("pic"), TAutodeskGraphic::StaticClassInfo());
  EXPECT_EQ(TPicture::GraphicClassOf("pcd"), TPCDGraphic::StaticClassInfo());
  EXPECT_EQ(TPicture::GraphicClassOf("cut"), TCUTGraphic::StaticClassInfo());
  EXPECT_EQ(TPicture::FileFormatDescription("psp"), "Paintshop Pro images");
  TFileFormatList* list = FileFormatList();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->FormatCount(), 39);
  EXPECT_EQ(list->FormatAt(list->FindExtension("tiff")).Kinds, 12);
  EXPECT_EQ(list->FormatAt(list->FindExtension("psd")).Kinds, 10);
  EXPECT_EQ(list->FormatAt(list->FindExtension("psp")).Kinds, 24);
  EXPECT_EQ(list->ClassAt(list->FindGraphicClass(TTIFFGraphic::StaticClassInfo())).Count, 3);
  // A Photoshop file loads through its extension.
  TempDir dir;
  Bytes psd{'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};
  PutBE32(psd, 1);
  PutBE32(psd, 2);
  PutBE16(psd, 8);
  PutBE16(psd, 1);
  for (int i = 0; i < 3; ++i) PutBE32(psd, 0);
  PutBE16(psd, 0);
  Append(psd, {5, 6});
  WriteFileBytes(dir.File("a.PSD"), std::string(psd.begin(), psd.end()));
  TPicture picture;
  picture.LoadFromFile(dir.File("a.PSD"));
  ASSERT_NE(picture.GetGraphic(), nullptr);
  EXPECT_TRUE(picture.GetGraphic()->Is<TPSDGraphic>());
  UnregisterImageFormats();
  EXPECT_EQ(TPicture::RegisteredFormatCount(), 0);
  EXPECT_EQ(TPicture::GraphicClassOf("eps"), nullptr);
}
