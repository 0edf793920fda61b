// Colour controls in a real scene window under Wine: the colour picked with the mouse in the
// panel's square is the colour drawn under the pointer, and gradient stops are added, dragged
// past each other and dropped with mouse messages; a picture of the controls is kept.
#include "SceneWindowFixture.h"
#include "scene/widgets/vg_colors.h"

namespace {

class ColorsWindowTest : public SceneWindowFixture {
 protected:
  ColorsWindowTest() : SceneWindowFixture(440, 240) {}
};

TEST_F(ColorsWindowTest, PickingInThePanelAnswersTheColourUnderThePointer) {
  auto* panel = Add<TvgColorPanel>(10, 10, 150, 150);
  auto* box = Add<TvgColorBox>(170, 10, 40, 40);
  panel->SetColorBox(box);
  panel->SetColor("#FF3366CC");
  // The square sits at (5, 5) in the panel, 127 x 127 (bars of 15 and paddings 5 and 3 around).
  const TWindowPixels before = Pixels();
  const int x = 10 + 5 + 60, y = 10 + 5 + 40;
  const uint32_t underPointer = before.At(x, y);
  Click(x, y);
  const TvgColor picked = vgStrToColor(panel->GetColor());
  EXPECT_EQ(picked >> 24, 0xFFu);
  EXPECT_TRUE(NearRgb(picked, underPointer));
  EXPECT_EQ(box->GetColor(), picked);
  // The swatch and the marker show it.
  const TWindowPixels after = Pixels();
  EXPECT_TRUE(NearRgb(after.At(190, 30), picked, 1));
  EXPECT_TRUE(NearRgb(after.At(x, y), picked, 2));
  EXPECT_TRUE(SavePicture("colour_panel.png"));
  // The hue bar (135 high, right of the square): a click a fifth down gives hue 0.2.
  Click(10 + 150 - 7, 10 + 27);
  EXPECT_NEAR(panel->GetQuad()->GetHue(), 0.2f, 0.01f);
  // A click at the alpha bar's left end leaves the colour transparent.
  Click(10, 10 + 150 - 7);
  EXPECT_EQ(vgStrToColor(panel->GetColor()) >> 24, 0u);
}

TEST_F(ColorsWindowTest, GradientStopsAreAddedDraggedAndDropped) {
  // 220 wide at (200, 100): stop offset t sits at x = 210 + 200 t, markers at y 120..130.
  auto* edit = Add<TvgGradientEdit>(200, 100, 220, 30);
  TvgGradientPoints* points = edit->GetGradient()->GetPoints();
  points->Point(0)->SetIntColor(0xFFFF0000u);
  points->Point(1)->SetIntColor(0xFF0000FFu);
  edit->Repaint();
  Click(310, 105);  // into the strip: a stop at 0.5
  ASSERT_EQ(points->Count(), 3);
  EXPECT_EQ(points->Point(1)->GetIntColor(), 0xFF80007Fu);
  Click(260, 105);  // and one at 0.25
  ASSERT_EQ(points->Count(), 4);
  EXPECT_EQ(edit->GetCurrentPoint(), 1);
  // Drag the stop at 0.25 to 0.9 in one move, past the one at 0.5.
  Drag(260, 125, 390, 125, 1);
  EXPECT_EQ(edit->GetCurrentPoint(), 2);
  EXPECT_NEAR(points->Point(2)->GetOffset(), 0.9f, 0.01f);
  EXPECT_EQ(points->Point(1)->GetOffset(), 0.5f);
  const TWindowPixels strip = Pixels();
  // Red at the left end; towards the right end the stop dragged to 0.9 gives way to blue.
  EXPECT_TRUE(NearRgb(strip.At(212, 105), 0xFF0000u, 3));
  const uint32_t right = strip.At(405, 105);
  EXPECT_GT(right & 0xFF, 150u);
  EXPECT_LT(right >> 16, 100u);
  EXPECT_TRUE(SavePicture("colour_controls.png"));
  // Dragged well below the editor and released there, the stop goes.
  Drag(390, 125, 390, 170);
  EXPECT_EQ(points->Count(), 3);
  EXPECT_EQ(edit->GetCurrentPoint(), 1);
}

}  // namespace
