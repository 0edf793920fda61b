// Controls on the real GDI+ canvas under Wine: a track's thumb part drawn where the value puts it
// and the busy indicator's highlight, read back pixel by pixel.
#include <gtest/gtest.h>

#include "ControlsTestSupport.h"
#include "scene/core/GdiPlusTestEnvironment.h"
#include "scene/core/win32/vg_canvas_gdiplus.h"

namespace {

class ControlsGdiPlus : public ControlsFixture {
 protected:
  ControlsGdiPlus() : bitmap(120, 60) {}
  void SetUp() override {
    ControlsFixture::SetUp();
    bitmap.Clear(0);
    scene.canvas = bitmap.GetCanvas();
  }
  void TearDown() override {
    scene.canvas = nullptr;
    ControlsFixture::TearDown();
  }
  TvgBitmap bitmap;
};

TEST_F(ControlsGdiPlus, TheThumbPartIsDrawnWhereTheValuePutsIt) {
  auto* track = Add<TvgTrack>(0, 0, 100, 20);
  TvgThumb* thumb = track->GetThumb();
  ASSERT_NE(thumb, nullptr);
  auto* face = new TvgRectangle(nullptr);
  face->SetAlign(vaClient);
  face->GetFill()->SetSolidColor(0xFFFF0000u);
  face->GetStroke()->SetStyle(vgBrushNone);
  thumb->AddObject(face);
  track->SetValue(75);
  track->PaintTo(bitmap.GetCanvas(), vgRect(0, 0, 100, 20));
  // Thumb of the track's thickness centred on 75: x 65..85.
  EXPECT_EQ(bitmap.Pixel(75, 10), 0xFFFF0000u);
  EXPECT_EQ(bitmap.Pixel(67, 10), 0xFFFF0000u);
  EXPECT_EQ(bitmap.Pixel(60, 10), 0u);
  EXPECT_EQ(bitmap.Pixel(90, 10), 0u);
  bitmap.Clear(0);
  track->SetValue(0);
  track->PaintTo(bitmap.GetCanvas(), vgRect(0, 0, 100, 20));
  EXPECT_EQ(bitmap.Pixel(2, 10), 0xFFFF0000u);
  EXPECT_EQ(bitmap.Pixel(30, 10), 0u);
}

TEST_F(ControlsGdiPlus, TheBusyIndicatorDrawsGreyMarksAndADarkHighlightWhileRunning) {
  auto* busy = Add<TvgAniIndicator>(0, 0, 60, 60);
  busy->SetStyle(vgAniIndicatorCircle);
  busy->PaintTo(bitmap.GetCanvas(), vgRect(0, 0, 60, 60));
  // The mark at 0 degrees sits right of the centre, grey.
  const uint32_t grey = bitmap.Pixel(55, 30);
  EXPECT_EQ(grey >> 24, 0xFFu);
  EXPECT_NEAR(static_cast<int>(grey & 0xFF), 0xBA, 8);
  EXPECT_EQ(bitmap.Pixel(30, 30), 0u);  // nothing in the middle
  busy->SetEnabled(true);
  bitmap.Clear(0);
  busy->PaintTo(bitmap.GetCanvas(), vgRect(0, 0, 60, 60));
  // At rotation 0 the highlight sits on the 0 degree mark: dark.
  EXPECT_LT(static_cast<int>(bitmap.Pixel(55, 30) & 0xFF), 0x40);
  // The mark opposite is past the highlight's tail: still grey.
  EXPECT_NEAR(static_cast<int>(bitmap.Pixel(5, 30) & 0xFF), 0xBA, 8);
}

}  // namespace
