// JPEG through libjpeg, on files Debian's tools made (make_jpeg_samples.sh): TIFF files with JPEG
// strips decode as libtiff decodes them, damaged strips fail with libjpeg's message or warn, and
// JPEG files load through the picture registry, save and reload.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <thread>

#include "TestFiles.h"
#include "classlib/Jpeg.h"
#include "imageformats/GraphicCompression.h"
#include "imageformats/GraphicFileFormats.h"
#include "imageformats/GraphicTIFF.h"

#ifdef _WIN32
#include <windows.h>

#include <atomic>

#include "imageformats/detail/GraphicWarning_p.h"
#endif

namespace {

std::string Sample(const std::string& name) { return BuildFilePath("jpeg-samples/" + name); }

// The pixels of a picture loaded through the registry.
const TBitmap& PixelsOf(const TPicture& picture) {
  if (auto* jpeg = dynamic_cast<TJPEGImage*>(picture.GetGraphic())) return jpeg->GetBitmap();
  return dynamic_cast<const TBitmap&>(*picture.GetGraphic());
}

std::unique_ptr<TPicture> Load(const std::string& fileName) {
  RegisterImageFormats();
  auto picture = std::make_unique<TPicture>();
  picture->LoadFromFile(fileName);
  return picture;
}

// The largest difference of one colour channel between two pictures of the same size.
int MaxChannelDifference(const TBitmap& a, const TBitmap& b) {
  EXPECT_EQ(a.GetWidth(), b.GetWidth());
  EXPECT_EQ(a.GetHeight(), b.GetHeight());
  int worst = 0;
  for (int32_t y = 0; y < std::min(a.GetHeight(), b.GetHeight()); ++y)
    for (int32_t x = 0; x < std::min(a.GetWidth(), b.GetWidth()); ++x) {
      TColor ca = a.GetPixelColor(x, y), cb = b.GetPixelColor(x, y);
      for (int shift : {0, 8, 16}) worst = std::max(worst, std::abs(((ca >> shift) & 255) - ((cb >> shift) & 255)));
    }
  return worst;
}

std::vector<std::string> g_warnings;
void RecordWarning(const std::string& caption, const std::string& text) { g_warnings.push_back(caption + ": " + text); }

// Warnings are recorded instead of shown, unless a test asks for the default.
struct TRecordWarnings {
  TRecordWarnings() {
    g_warnings.clear();
    TTIFFJPEGDecoder::SetWarningHandler(RecordWarning);
  }
  ~TRecordWarnings() { TTIFFJPEGDecoder::SetWarningHandler(nullptr); }
};

std::string LoadError(const std::string& fileName) {
  try {
    Load(fileName);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

}  // namespace

// --- TIFF files with JPEG strips

TEST(TIFFJPEG, StripsDecodeAsLibtiffDecodesThem) {
  TRecordWarnings record;
  const struct {
    const char* Name;
    TPixelFormat Format;
  } kCases[] = {{"tiff-ycbcr", pf24bit}, {"tiff-rgb", pf24bit}, {"tiff-grey", pf8bit}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Name);
    auto tiff = Load(Sample(std::string(c.Name) + ".tif"));
    auto reference = Load(Sample(std::string(c.Name) + "-decoded.tif"));
    EXPECT_EQ(PixelsOf(*tiff).GetPixelFormat(), c.Format);
    EXPECT_LE(MaxChannelDifference(PixelsOf(*tiff), PixelsOf(*reference)), 2);
  }
  EXPECT_TRUE(g_warnings.empty()) << g_warnings.front();
}

TEST(TIFFJPEG, DamagedStripRaisesLibjpegsMessage) {
  TRecordWarnings record;
  std::string message = LoadError(Sample("tiff-damaged.tif"));
  EXPECT_EQ(message.rfind("JPEG error #", 0), 0u) << message;
  EXPECT_NE(message.find("Not a JPEG file"), std::string::npos) << message;
  // The decoder is usable again afterwards.
  EXPECT_EQ(LoadError(Sample("tiff-ycbcr.tif")), "");
}

TEST(TIFFJPEG, StripCutShortWarnsAndLoads) {
  TRecordWarnings record;
  auto tiff = Load(Sample("tiff-short.tif"));
  EXPECT_EQ(PixelsOf(*tiff).GetWidth(), 67);
  ASSERT_FALSE(g_warnings.empty());
  EXPECT_EQ(g_warnings.front(), "Warning: JPEG decompression error. Unexpected end of input.");
  // The rows before the cut are intact.
  auto reference = Load(Sample("tiff-ycbcr-decoded.tif"));
  TColor a = PixelsOf(*tiff).GetPixelColor(3, 1), b = PixelsOf(*reference).GetPixelColor(3, 1);
  EXPECT_NEAR(a & 255, b & 255, 2);
}

#ifdef _WIN32
TEST(TIFFJPEG, WarningsShowAMessageBoxByDefault) {
  TTIFFJPEGDecoder::SetWarningHandler(ShowGraphicWarning);
  std::atomic<bool> loaded{false};
  std::vector<std::string> shown;
  std::thread closer([&] {
    while (!loaded) {
      if (HWND box = FindWindowA("#32770", "Warning")) {
        char text[256] = {};
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        shown.push_back(text);
        SendMessageA(box, WM_COMMAND, IDOK, 0);
      }
      Sleep(20);
    }
  });
  EXPECT_EQ(LoadError(Sample("tiff-short.tif")), "");
  loaded = true;
  closer.join();
  TTIFFJPEGDecoder::SetWarningHandler(nullptr);
  EXPECT_EQ(shown, std::vector<std::string>{"JPEG decompression error. Unexpected end of input."});
}
#endif

// --- The JPEG picture

TEST(JPEGImage, FilesLoadThroughTheRegistryLikeDjpegDecodesThem) {
  for (const char* name : {"photo", "photo-progressive", "grey"}) {
    SCOPED_TRACE(name);
    auto jpeg = Load(Sample(std::string(name) + ".jpg"));
    ASSERT_TRUE(jpeg->GetGraphic()->Is<TJPEGImage>());
    auto reference = Load(Sample(std::string(name) + "-decoded.ppm"));
    EXPECT_LE(MaxChannelDifference(PixelsOf(*jpeg), PixelsOf(*reference)), 2);
    EXPECT_EQ(static_cast<TJPEGImage*>(jpeg->GetGraphic())->GetGrayscale(), std::string(name) == "grey");
  }
}

TEST(JPEGImage, SavesAndReloads) {
  TempDir dir;
  for (const char* name : {"photo", "grey"}) {
    SCOPED_TRACE(name);
    auto loaded = Load(Sample(std::string(name) + ".jpg"));
    auto& jpeg = static_cast<TJPEGImage&>(*loaded->GetGraphic());
    // Unchanged, it writes its file back as it was.
    jpeg.SaveToFile(dir.File("same.jpg"));
    EXPECT_EQ(ReadFileBytes(dir.File("same.jpg")), ReadFileBytes(Sample(std::string(name) + ".jpg")));
    // From a bitmap it compresses anew, as cjpeg does, keeping greyscale images grey.
    TBitmap bitmap;
    bitmap.Assign(&jpeg);
    TJPEGImage fresh;
    fresh.Assign(&bitmap);
    fresh.SetCompressionQuality(100);
    fresh.SaveToFile(dir.File("fresh.jpg"));
    auto reloaded = Load(dir.File("fresh.jpg"));
    EXPECT_EQ(static_cast<TJPEGImage*>(reloaded->GetGraphic())->GetGrayscale(), jpeg.GetGrayscale());
    auto resaved = Load(Sample(std::string(name) + "-resaved-decoded.ppm"));
    EXPECT_LE(MaxChannelDifference(PixelsOf(*reloaded), PixelsOf(*resaved)), 2);
  }
}

TEST(JPEGImage, DataThatIsNotJPEGRaisesAndKeepsTheImage) {
  TJPEGImage jpeg;
  jpeg.LoadFromFile(Sample("photo.jpg"));
  TMemoryStream junk;
  junk.WriteBuffer("GIF89a not a jpeg", 17);
  junk.SetPosition(0);
  try {
    jpeg.LoadFromStream(junk);
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message().rfind("JPEG error #", 0), 0u) << e.Message();
  }
  EXPECT_EQ(jpeg.GetWidth(), 67);
  TJPEGImage empty;
  TMemoryStream out;
  EXPECT_THROW(empty.SaveToStream(out), EInvalidGraphic);
}
