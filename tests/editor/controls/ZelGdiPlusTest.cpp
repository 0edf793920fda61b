// The maker's controls painted by the GDI+ canvas into bitmaps and read back pixel by pixel (the
// knob frame chosen from a film strip, the image button's on and off images, the waveform
// envelope from a known buffer), and the skin images read from files in a temporary folder and
// from the resources linked into this program. Runs under Wine's GDI+.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <vector>

#include "TestFiles.h"
#include "ZelTestSupport.h"
#include "editor/controls/uSkinData.h"
#include "editor/controls/uSkinWizard.h"
#include "editor/controls/zel_BitmapButton.h"
#include "editor/controls/zel_SampleDisplay.h"
#include "editor/controls/zel_knobs.h"
#include "scene/core/GdiPlusTestEnvironment.h"
#include "scene/core/win32/vg_gdiplus.h"

namespace {

// A scene whose canvas draws into a GDI+ bitmap.
struct TGdiSurface {
  TGdiSurface(int32_t w, int32_t h) : target(w, h) {
    scene.canvas = target.GetCanvas();
    target.Clear(0);
  }
  ~TGdiSurface() { owned.clear(); }
  template <typename T>
  T* Add(T* obj) {
    scene.AddObject(obj);
    owned.emplace_back(obj);
    return obj;
  }
  void Paint(TvgVisualObject* obj) {
    target.Clear(0);
    scene.canvas->SetMatrix(IdentityMatrix);
    obj->BeforePaint();
    obj->Paint();
  }
  uint32_t At(int32_t x, int32_t y) const { return target.Pixel(x, y); }
  TvgBitmap target;
  TTestScene scene;
  std::vector<std::unique_ptr<TvgObject>> owned;
};

const TvgColor kFrameColours[5] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u, 0xFF00FFFFu};

// Five 10 x 10 frames side by side, each one colour.
void FillStrip(TvgBitmap& strip) {
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 50; ++x) strip.Scanline(y)[x] = kFrameColours[x / 10];
  strip.BitmapChanged();
}

TEST(ZelGdiPlus, BitmapKnobShowsTheFrameOfItsValue) {
  ASSERT_TRUE(GdiPlusStarted());
  TGdiSurface s(30, 30);
  TvgBitmap strip(50, 10);
  FillStrip(strip);
  auto* knob = s.Add(new TvgZelBitmapKnob(nullptr));
  knob->SetWidth(30);
  knob->SetHeight(30);
  knob->SetImageStrip(&strip);
  knob->SetNumberOfGlyphs(5);
  for (int frame = 0; frame < 5; ++frame) {
    knob->SetPos(static_cast<float>(frame) / 4);
    s.Paint(knob);
    EXPECT_EQ(s.At(5, 5), kFrameColours[frame]) << frame;
    EXPECT_EQ(s.At(1, 8), kFrameColours[frame]) << frame;
    EXPECT_EQ(s.At(15, 15), 0u) << "the frame keeps its own size";
  }
}

TEST(ZelGdiPlus, ImageButtonShowsItsOnAndOffImagesScaled) {
  TGdiSurface s(40, 20);
  TvgBitmap on(20, 10), off(20, 10);  // doubled: the inside keeps its colour under quality scaling
  on.Clear(0xFF00FF00u);
  off.Clear(0xFF800000u);
  auto* b = s.Add(new TvgZelBitmapButton(nullptr));
  b->SetWidth(40);
  b->SetHeight(20);
  b->SetBitmapOn(&on);
  b->SetBitmapOff(&off);
  s.Paint(b);
  EXPECT_EQ(s.At(20, 10), 0xFF800000u);
  EXPECT_EQ(s.At(30, 12), 0xFF800000u);  // away from the edges quality scaling blends
  b->SetIsOn(true);
  s.Paint(b);
  EXPECT_EQ(s.At(20, 10), 0xFF00FF00u);
  EXPECT_EQ(s.At(10, 8), 0xFF00FF00u);
}

TEST(ZelGdiPlus, WaveformEnvelopeFollowsTheBuffer) {
  TGdiSurface s(100, 100);
  auto* d = s.Add(new TvgZelSampleDisplay(nullptr));
  d->SetWidth(100);
  d->SetHeight(100);
  d->GetFill()->SetSolidColor(0xFF00C000u);
  // Alternating +-0.8 in the first half, +-0.2 in the second: 40 samples per pixel.
  std::vector<float> left(4000);
  for (size_t k = 0; k < left.size(); ++k) left[k] = (k % 2 == 0 ? 1.0f : -1.0f) * (k < 2000 ? 0.8f : 0.2f);
  TSampleDataInfo info;
  info.HasData = 1;
  info.Length = 4000;
  info.Left = left.data();
  d->SetSampleData(info);
  s.Paint(d);
  // Loud half: from y = 50 - 40 - 1 to 50 + 40; quiet half: 39 .. 60.
  EXPECT_EQ(s.At(20, 15), 0xFF00C000u);
  EXPECT_EQ(s.At(20, 85), 0xFF00C000u);
  EXPECT_EQ(s.At(20, 95), 0u);
  EXPECT_EQ(s.At(75, 15), 0u);
  EXPECT_EQ(s.At(75, 50), 0xFF00C000u);
  EXPECT_EQ(s.At(75, 45), 0xFF00C000u);
  EXPECT_EQ(s.At(75, 70), 0u);
}

TEST(ZelGdiPlus, AWaveformChangedInAFewColumnsIsDrawnAsAWholeRedrawWouldDrawIt) {
  // Stereo float data, 100 samples a column; each case changes a range of it and draws the
  // picture again over the old one, which must come out as a new display's picture of the
  // changed data, and asks for a repaint of the changed columns only.
  constexpr int32_t kLength = 20000;
  std::vector<float> left(kLength), right(kLength);
  for (int32_t k = 0; k < kLength; ++k) {
    left[k] = 0.7f * std::sin(k * 0.031f) * std::sin(k * 0.0007f);
    right[k] = 0.5f * std::sin(k * 0.017f + 1.0f);
  }
  struct Case {
    int32_t from, to;  // samples changed
  };
  const Case cases[] = {{9000, 9500}, {0, 300}, {19500, 20000}, {3000, 3100}, {2000, 18000}};
  for (const Case& c : cases) {
    TTestScene scene;
    auto* changed = new TvgZelSampleDisplay(nullptr);
    auto* fresh = new TvgZelSampleDisplay(nullptr);
    for (TvgZelSampleDisplay* d : {changed, fresh}) {
      scene.AddObject(d);
      d->SetWidth(400);
      d->SetHeight(120);
      d->GetFill()->SetSolidColor(0xC0FF2424u);
    }
    TSampleDataInfo info;
    info.HasData = 1;
    info.Channels = 2;
    info.Length = kLength;
    std::vector<float> l = left, r = right;
    info.Left = l.data();
    info.Right = r.data();
    changed->SetSampleData(info);
    for (int32_t k = c.from; k < c.to; ++k) {
      l[k] = -0.9f * l[k] + 0.1f;
      r[k] = 0.95f * std::cos(k * 0.05f);
    }
    scene.updates.clear();
    changed->SetSampleData(info);
    ASSERT_EQ(scene.updates.size(), 1u) << c.from;
    EXPECT_LT(vgRectWidth(scene.updates[0]), 400.0f * (c.to - c.from) / kLength + 16) << c.from;
    fresh->SetSampleData(info);
    const TvgBitmap& a = *changed->GetPicture();
    const TvgBitmap& b = *fresh->GetPicture();
    int differing = 0;
    for (int32_t y = 0; y < 120; ++y)
      for (int32_t x = 0; x < 400; ++x) differing += a.Pixel(x, y) != b.Pixel(x, y);
    EXPECT_EQ(differing, 0) << c.from;
    // The same data again: nothing drawn, nothing asked for; another brush: all of it.
    scene.updates.clear();
    changed->SetSampleData(info);
    EXPECT_TRUE(scene.updates.empty());
    changed->GetFill()->SetSolidColor(0xFF00FF00u);
    scene.updates.clear();
    changed->SetSampleData(info);
    ASSERT_FALSE(scene.updates.empty());
    EXPECT_GE(vgRectWidth(scene.updates.back()), 400.0f);
    delete changed;
    delete fresh;
  }
}

TEST(ZelGdiPlus, WaveformSelectionShowsAtTheSamplesItCovers) {
  TGdiSurface s(100, 40);
  auto* d = s.Add(new TvgZelSampleDisplay(nullptr));
  d->SetWidth(100);
  d->SetHeight(40);
  d->GetFill()->SetStyle(vgBrushNone);
  std::vector<float> left(4000, 0.0f);
  TSampleDataInfo info;
  info.HasData = 1;
  info.Length = 4000;
  info.Left = left.data();
  d->SetSampleData(info);
  d->SetSelStart(1000);
  d->SetSelEnd(2000);  // pixels 25 .. 50
  d->SetSelectionVisible(true);
  d->Realign();
  auto* rect = d->GetSelectionRect();
  s.Paint(d);
  s.scene.canvas->SetMatrix(rect->GetAbsoluteMatrix());
  rect->BeforePaint();
  rect->Paint();
  EXPECT_EQ(s.At(10, 20), 0u);
  EXPECT_NE(s.At(30, 20), 0u);
  EXPECT_NE(s.At(48, 20), 0u);
  EXPECT_EQ(s.At(60, 20), 0u);
}

// --- Skin images

const struct {
  const char* file;
  int32_t w, h;
} kSkinImages[] = {{"Knob.png", 5080, 40},     {"RecordOff.png", 93, 46}, {"RecordOn.png", 93, 46},
                   {"PlayOn.png", 93, 25},     {"PlayOff.png", 93, 25},   {"FixedOn.png", 60, 18},
                   {"FixedOff.png", 60, 18},   {"SlaveOn.png", 60, 18},   {"SlaveOff.png", 60, 18},
                   {"Background.png", 450, 494}};

TvgBitmap* ImageOf(TSkinData& skin, const std::string& file) {
  TvgBitmap* images[] = {skin.Knob,    skin.RecordOff, skin.RecordOn, skin.PlayOn,   skin.PlayOff,
                         skin.FixedOn, skin.FixedOff,  skin.SlaveOn,  skin.SlaveOff, skin.Background};
  for (size_t i = 0; i < 10; ++i)
    if (file == kSkinImages[i].file) return images[i];
  return nullptr;
}

TEST(ZelSkin, WithoutDataFolderEveryImageComesFromTheResources) {
  TempDir dir;
  TSkinData skin(dir.Path());
  EXPECT_EQ(skin.SkinsFolder, dir.Path() + "\\Tarvik Data\\Skins\\");
  for (const auto& image : kSkinImages) {
    TvgBitmap* b = ImageOf(skin, image.file);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->GetWidth(), image.w) << image.file;
    EXPECT_EQ(b->GetHeight(), image.h) << image.file;
    EXPECT_FALSE(skin.FromFile(image.file));
  }
  EXPECT_TRUE(skin.Background->IsOpaque());
  EXPECT_FALSE(skin.Knob->IsOpaque());
  TSkinWizard wizard(skin.SkinsFolder);
  EXPECT_EQ(wizard.Skins->Count(), 0);
}

TEST(ZelSkin, KnobFileInTheDefaultSkinReplacesOnlyTheKnob) {
  TempDir dir;
  const std::string folder = dir.Path() + "\\Tarvik Data\\Skins\\Reliable\\";
  std::filesystem::create_directories(folder);
  TvgBitmap strip(50, 10);
  FillStrip(strip);
  ASSERT_TRUE(strip.SaveToFile(folder + "Knob.png"));
  TSkinData skin(dir.Path() + "\\");
  EXPECT_TRUE(skin.FromFile("Knob.png"));
  EXPECT_EQ(skin.Knob->GetWidth(), 50);
  EXPECT_EQ(skin.Knob->Pixel(25, 5), kFrameColours[2]);
  EXPECT_FALSE(skin.FromFile("Background.png"));
  EXPECT_EQ(skin.Background->GetWidth(), 450);
  EXPECT_EQ(skin.SlaveOff->GetWidth(), 60);
}

TEST(ZelSkin, AnUndecodableFileFallsBackToTheBuiltInImage) {
  TempDir dir;
  const std::string folder = dir.Path() + "\\Tarvik Data\\Skins\\Reliable\\";
  std::filesystem::create_directories(folder);
  std::FILE* f = std::fopen((folder + "PlayOn.png").c_str(), "wb");
  std::fputs("not a picture", f);
  std::fclose(f);
  TSkinData skin(dir.Path());
  EXPECT_FALSE(skin.FromFile("PlayOn.png"));
  EXPECT_EQ(skin.PlayOn->GetWidth(), 93);
  EXPECT_EQ(skin.PlayOn->GetHeight(), 25);
}

TEST(ZelSkin, HiddenSkinFoldersAreNotListed) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("Reliable"));
  std::filesystem::create_directories(dir.File("Secret"));
  ASSERT_TRUE(SetFileAttributesA(dir.File("Secret").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY));
  TSkinWizard wizard(dir.Path() + "\\");
  ASSERT_EQ(wizard.Skins->Count(), 1);
  EXPECT_EQ(wizard.Skins->Get(0), "Reliable");
  EXPECT_EQ(wizard.SkinName, "Reliable");
  EXPECT_EQ(wizard.SkinPath, dir.Path() + "\\Reliable\\");
}

}  // namespace
