// File format list: registration, replacement, removal and the picture registry it fills.
#include "imageformats/GraphicFileFormats.h"

#include <gtest/gtest.h>

#include "ImageBuilders.h"
#include "TestFiles.h"
#include "imageformats/GraphicPNG.h"
#include "imageformats/GraphicTarga.h"

namespace {
const TClassInfo* Bitmap() { return TBitmap::StaticClassInfo(); }
const TClassInfo* Targa() { return TTargaGraphic::StaticClassInfo(); }
const TClassInfo* Png() { return TPNGGraphic::StaticClassInfo(); }
}  // namespace

TEST(FileFormatList, RegistersAndFindsWithoutRegardToCase) {
  TFileFormatList list;
  list.RegisterFileFormat("tga", "Truevision images", "", fkRaster, false, Targa());
  list.RegisterFileFormat("vst", "", "", fkRaster, false, Targa());
  EXPECT_EQ(list.FindExtension("TGA"), 0);
  EXPECT_EQ(list.FindExtension("Vst"), 1);
  EXPECT_EQ(list.FindExtension(""), -1);
  EXPECT_EQ(TPicture::GraphicClassOf("vST"), Targa());
  EXPECT_EQ(TPicture::FileFormatDescription("vst"), "Truevision images");
  try {
    list.RegisterFileFormat("TGA", "", "", fkRaster, false, Png());
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Attempt to register TGA twice.");
  }
  EXPECT_EQ(TPicture::GraphicClassOf("tga"), Targa());
  EXPECT_EQ(list.ClassAt(0).Count, 2);
}

TEST(FileFormatList, ReplaceMovesTheExtension) {
  TFileFormatList list;
  list.RegisterFileFormat("x1", "first", "", fkRaster, false, Targa());
  list.RegisterFileFormat("x2", "second", "", fkRaster, false, Png());
  list.RegisterFileFormat("x2", "", "", fkRaster, true, Targa());
  EXPECT_EQ(TPicture::GraphicClassOf("x2"), Targa());
  EXPECT_EQ(list.FindGraphicClass(Png()), -1);  // no formats left
  EXPECT_EQ(list.ClassAt(list.FindGraphicClass(Targa())).Count, 2);
  list.Clear();
  EXPECT_EQ(TPicture::GraphicClassOf("x1"), nullptr);
}

TEST(FileFormatList, UnregisterByExtensionAndByClass) {
  TFileFormatList list;
  list.RegisterFileFormat("bmp", "Windows bitmaps", "", fkRaster, false, Bitmap());
  list.RegisterFileFormat("rle", "Windows bitmaps", "Run length", fkRaster, false, Bitmap());
  list.RegisterFileFormat("dib", "", "Device", fkRaster, false, Bitmap());
  list.UnregisterFileFormat("rle", Bitmap());
  EXPECT_EQ(list.ClassAt(list.FindGraphicClass(Bitmap())).Count, 2);
  EXPECT_EQ(TPicture::GraphicClassOf("bmp"), Bitmap());
  EXPECT_EQ(TPicture::GraphicClassOf("dib"), Bitmap());
  EXPECT_EQ(TPicture::GraphicClassOf("rle"), nullptr);
  list.UnregisterFileFormat("nothing", Bitmap());
  list.UnregisterFileFormat("", Bitmap());
  EXPECT_EQ(list.FormatCount(), 0);
  EXPECT_EQ(list.ClassCount(), 0);
  EXPECT_EQ(TPicture::RegisteredFormatCount(Bitmap()), 0);
  EXPECT_THROW(list.UnregisterFileFormat("", Png()), EListError);
}

TEST(ImageFormats, StartUpFillsThePictureRegistryAndShutDownEmptiesIt) {
  RegisterImageFormats();
  EXPECT_EQ(TPicture::FileFormatDescription("vst"), "Truevision images");
  EXPECT_EQ(TPicture::FileFormatDescription("jpg"), "JPG images");
  EXPECT_EQ(TPicture::GraphicClassOf("PNG"), Png());
  // A picture loads a file through the class bound to its extension.
  TempDir dir;
  Bytes file = MakePng(2, 1, 8, 0, {0, 3, 4});
  WriteFileBytes(dir.File("a.PNG"), std::string(file.begin(), file.end()));
  TPicture picture;
  picture.LoadFromFile(dir.File("a.PNG"));
  ASSERT_NE(picture.GetGraphic(), nullptr);
  EXPECT_TRUE(picture.GetGraphic()->Is<TPNGGraphic>());
  EXPECT_EQ(picture.GetGraphic()->GetWidth(), 2);
  EXPECT_THROW(picture.LoadFromFile(dir.File("a.unknown")), EInvalidGraphic);
  UnregisterImageFormats();
  EXPECT_EQ(TPicture::RegisteredFormatCount(), 0);
  EXPECT_EQ(FileFormatList(), nullptr);
}

TEST(ClassLibraryBitmap, WindowsBitmapRoundTripAndCanvasFill) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf8bit);
  bitmap.SetSize(3, 2);
  bitmap.SetPalette({{0, 0, 0, 0}, {250, 10, 10, 0}, {10, 10, 250, 0}});
  bitmap.FillColor(0x0000FF);  // red: nearest entry 1
  EXPECT_EQ(bitmap.GetPixelIndex(2, 1), 1u);
  bitmap.ScanLine(0)[0] = 2;
  TMemoryStream stream;
  bitmap.SaveToStream(stream);
  stream.SetPosition(0);
  TBitmap loaded;
  loaded.LoadFromStream(stream);
  EXPECT_EQ(loaded.GetPixelFormat(), pf8bit);
  EXPECT_EQ(loaded.GetPixelIndex(0, 0), 2u);
  EXPECT_EQ(loaded.GetPixelColor(0, 0), 10 | (10 << 8) | (250 << 16));
  EXPECT_EQ(loaded.GetPixelIndex(1, 1), 1u);
  EXPECT_THROW(bitmap.SetSize(70000, 1), EInvalidGraphic);
  TMemoryStream junk;
  junk.WriteBuffer("BMxx", 4);
  junk.SetPosition(0);
  EXPECT_THROW(loaded.LoadFromStream(junk), EInvalidGraphic);
}
