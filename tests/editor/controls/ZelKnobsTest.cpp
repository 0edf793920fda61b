// The knobs: range setters, SetPos, mouse drags through the input methods at coarse and fine
// speed with clamping, the cursor kept at the press point, and what each kind paints.
#include <gtest/gtest.h>

#include <cmath>

#include "ZelTestSupport.h"
#include "editor/controls/zel_knobs.h"

namespace {

class ZelKnob : public ::testing::Test {
 protected:
  void SetUp() override {
    knob = f.Add(new TvgZelBitmapKnob(nullptr));
    knob->SetWidth(40);
    knob->SetHeight(40);
    knob->GetPosition()->SetPoint(vgPoint(100, 50));
    knob->OnChange = TNotifyEvent::Of<&ZelKnob::Changed>(this);
  }
  void Changed(TObject*) { ++changes; }
  // A press at local (20, 20), screen (1120, 2070).
  void Press(TShiftState shift = {}) { knob->MouseDown(mbLeft, shift, 20, 20); }
  // The mouse at local y = 20 - up (x = 20 + right).
  void Move(float up, TShiftState shift = {}, float right = 0) { knob->MouseMove(shift, 20 + right, 20 - up, 0, 0); }
  void Release() { knob->MouseUp(mbLeft, {}, 20, 20); }

  TZelSceneFixture f;
  TZelCursorRecorder cursor;
  TvgZelBitmapKnob* knob = nullptr;
  int changes = 0;
};

// --- Range and position

TEST_F(ZelKnob, SetPosDerivesTheValuesWithoutAnEvent) {
  knob->SetScale(0.5f);
  knob->SetPos(0.5f);
  EXPECT_EQ(knob->GetValueInt(), 1000);
  EXPECT_FLOAT_EQ(knob->GetValueVst(), 0.5f);
  EXPECT_FLOAT_EQ(knob->GetValueFloat(), 500);
  EXPECT_EQ(changes, 0);
  f.scene.updates.clear();
  knob->SetPos(0.5f);
  EXPECT_TRUE(f.scene.updates.empty()) << "the same Pos changes nothing";
  // Halves round to even; Pos keeps the value given, not the rounded one.
  knob->SetValueMax(2);
  knob->SetPos(0.25f);
  EXPECT_EQ(knob->GetValueInt(), 0);
  EXPECT_FLOAT_EQ(knob->GetPos(), 0.25f);
  EXPECT_FLOAT_EQ(knob->GetValueVst(), 0);
  knob->SetPos(0.75f);
  EXPECT_EQ(knob->GetValueInt(), 2);
}

TEST_F(ZelKnob, RangeSettersKeepTheEndsApartAndTheRangeTrue) {
  knob->SetValueMin(3000);
  EXPECT_EQ(knob->GetValueMax(), 3001);
  // The range is the new one (1), so a drag of one pixel at 500 pixels for the range does not
  // reach a whole step, and 500 pixels reach exactly one.
  Press();
  Move(499);
  EXPECT_EQ(knob->GetValueInt(), 3000);
  Release();
  knob->SetValueMax(10);
  EXPECT_EQ(knob->GetValueMin(), 9);
}

// --- Dragging

TEST_F(ZelKnob, CoarseDragMovesFourStepsAPixelAndClampsAtTheTop) {
  Press();
  EXPECT_TRUE(knob->GetDragging());
  EXPECT_EQ(f.scene.captured, knob);
  Move(10);
  EXPECT_EQ(knob->GetValueInt(), 40);
  EXPECT_EQ(changes, 1);
  // The hidden cursor goes back to the press point after every step.
  ASSERT_FALSE(cursor.positions.empty());
  EXPECT_EQ(cursor.positions.back(), vgPoint(1120, 2070));
  Move(600);
  EXPECT_EQ(knob->GetValueInt(), 2000);
  EXPECT_FLOAT_EQ(knob->GetValueVst(), 1);
  EXPECT_FLOAT_EQ(knob->GetPos(), 1);
  // Moving back down starts decreasing at once: nothing clamped away was kept.
  Move(-1);
  EXPECT_EQ(knob->GetValueInt(), 1996);
  Release();
  EXPECT_FALSE(knob->GetDragging());
}

TEST_F(ZelKnob, FineDragWithShiftMovesOneStepAPixelAndClampsAtTheBottom) {
  knob->SetPos(0.5f);
  Press();
  Move(3, {ssShift});
  EXPECT_EQ(knob->GetValueInt(), 1003);
  Move(-5000, {ssShift});
  EXPECT_EQ(knob->GetValueInt(), 0);
  EXPECT_FLOAT_EQ(knob->GetPos(), 0);
  Move(1, {ssShift});
  EXPECT_EQ(knob->GetValueInt(), 1);
}

TEST_F(ZelKnob, SwitchingSpeedDropsTheRemainder) {
  knob->SetValueMax(100);  // 0.2 steps per pixel coarse, 0.05 fine
  Press();
  Move(4);  // 0.8 kept
  EXPECT_EQ(knob->GetValueInt(), 0);
  Move(1);  // 1.0: one step
  EXPECT_EQ(knob->GetValueInt(), 1);
  Move(4);  // 0.8 kept again
  Move(10, {ssShift});  // the 0.8 is dropped; 0.5 fine
  EXPECT_EQ(knob->GetValueInt(), 1);
  Move(10, {ssShift});  // 1.0 fine
  EXPECT_EQ(knob->GetValueInt(), 2);
}

TEST_F(ZelKnob, HorizontalDragMeasuresLeftToRight) {
  knob->SetHorizontalDrag(true);
  Press();
  Move(50, {}, 5);  // up movement ignored, 5 pixels right
  EXPECT_EQ(knob->GetValueInt(), 20);
  Move(0, {}, -2);
  EXPECT_EQ(knob->GetValueInt(), 12);
}

TEST_F(ZelKnob, WithoutHiddenCursorMovementsAreMeasuredFromTheLastPoint) {
  knob->SetHideCursorWhileDragging(false);
  Press();
  EXPECT_TRUE(cursor.shows.empty());
  Move(10);
  Move(12);  // 2 more pixels
  EXPECT_EQ(knob->GetValueInt(), 48);
  EXPECT_TRUE(cursor.positions.empty());
}

TEST_F(ZelKnob, CursorIsHiddenForTheDragAndShownOnRelease) {
  Press();
  ASSERT_EQ(cursor.shows.size(), 1u);
  EXPECT_FALSE(cursor.shows[0]);
  EXPECT_TRUE(knob->GetCursorHidden());
  Release();
  ASSERT_EQ(cursor.shows.size(), 2u);
  EXPECT_TRUE(cursor.shows[1]);
  EXPECT_FALSE(knob->GetCursorHidden());
  EXPECT_EQ(f.scene.captured, nullptr);
}

TEST_F(ZelKnob, LeavingWithTheCursorHiddenEndsTheDrag) {
  Press();
  knob->MouseLeave();
  EXPECT_FALSE(knob->GetDragging());
  EXPECT_EQ(cursor.shows, (std::vector<bool>{false, true}));
  Move(10);
  EXPECT_EQ(knob->GetValueInt(), 0);
}

TEST_F(ZelKnob, LosingTheCaptureOrBeingFreedMidDragShowsTheCursorAgain) {
  Press();
  knob->CaptureLost();
  EXPECT_FALSE(knob->GetDragging());
  EXPECT_FALSE(knob->GetCursorHidden());
  auto* going = new TvgZelBitmapKnob(nullptr);
  going->MouseDown(mbLeft, {}, 20, 20);
  delete going;
  EXPECT_EQ(cursor.shows, (std::vector<bool>{false, true, false, true}));
}

TEST_F(ZelKnob, CtrlPressAndOtherButtonsStartNoDrag) {
  Press({ssCtrl});
  EXPECT_FALSE(knob->GetDragging());
  Move(10);
  EXPECT_EQ(knob->GetValueInt(), 0);
  knob->MouseDown(mbMiddle, {}, 20, 20);
  EXPECT_FALSE(knob->GetDragging());
  EXPECT_TRUE(cursor.shows.empty());
}

TEST_F(ZelKnob, WheelDoesNotTurnTheKnob) {
  bool handled = false;
  knob->MouseWheel({}, 120, handled);
  EXPECT_EQ(knob->GetValueInt(), 0);
  EXPECT_EQ(changes, 0);
}

TEST_F(ZelKnob, ZeroPixelRangeAndStepsDoNotHang) {
  knob->SetPixelRange(0);
  knob->SetStepsPerIncrement(0);
  knob->SetValueMin(-2000000000);
  knob->SetValueMax(2000000000);
  Press();
  Move(1);
  EXPECT_EQ(knob->GetValueInt(), 2000000000);
  Move(-3);
  EXPECT_EQ(knob->GetValueInt(), -2000000000);
}

// --- Painting

TEST_F(ZelKnob, BitmapKnobDrawsTheFrameChosenByPosAtItsOwnSize) {
  TvgBitmap strip(5080, 40);
  knob->SetImageStrip(&strip);
  knob->SetNumberOfGlyphs(127);
  knob->SetWidth(60);  // the frame keeps 40 x 40
  struct Case {
    float pos;
    int32_t frame;
  };
  for (Case c : {Case{0, 0}, Case{1, 126}, Case{0.5f, 63}, Case{0.25f, 32}}) {
    knob->SetPos(c.pos);
    f.Paint(knob);
    auto calls = f.canvas.Calls("DrawBitmap");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Source, vgRect(40.0f * c.frame, 0, 40.0f * c.frame + 40, 40)) << c.pos;
    EXPECT_EQ(calls[0].Rect, vgRect(0, 0, 40, 40));
    EXPECT_TRUE(calls[0].HighSpeed);
    EXPECT_EQ(calls[0].Opacity, 1);
  }
  knob->SetPos(7);  // outside 0..1: the last frame, never past the strip
  EXPECT_EQ(knob->CurrentFrame(), 126);
}

TEST_F(ZelKnob, BitmapKnobWithoutStripDrawsTheFallbackArcs) {
  knob->SetPos(0.25f);
  f.Paint(knob);
  auto arcs = f.canvas.Calls("DrawPath");
  ASSERT_EQ(arcs.size(), 4u);
  EXPECT_EQ(arcs[0].StrokeColor, 0xAA000000u);
  EXPECT_EQ(arcs[1].StrokeColor, 0xAA000000u);
  EXPECT_EQ(arcs[2].StrokeColor, 0xAAFF0000u);
  EXPECT_EQ(arcs[3].StrokeColor, 0xAAFF0000u);
  EXPECT_EQ(arcs[0].StrokeThickness, 12);
  EXPECT_EQ(arcs[0].Cap, vgCapFlat);
  // The ring of radius 10 around (20, 20) starts at 120 degrees.
  EXPECT_NEAR(arcs[0].Path.front().Point.X, 20 + 10 * std::cos(120 * vgDegToRadFactor), 0.01);
  EXPECT_NEAR(arcs[0].Path.front().Point.Y, 20 + 10 * std::sin(120 * vgDegToRadFactor), 0.01);
  EXPECT_NEAR(arcs[1].Path.front().Point.X, 20 + 10 * std::cos(125 * vgDegToRadFactor), 0.01);
  // The value arc from 90 degrees (straight down) through a quarter turn ends at the left.
  EXPECT_NEAR(arcs[2].Path.front().Point.X, 20, 0.01);
  EXPECT_NEAR(arcs[2].Path.front().Point.Y, 30, 0.01);
  EXPECT_NEAR(arcs[2].Path.back().Point.X, 10, 0.01);
  EXPECT_NEAR(arcs[2].Path.back().Point.Y, 20, 0.01);
  // The end arc starts at 80 degrees and sweeps 95.
  const TvgPoint start = arcs[3].Path.front().Point;
  EXPECT_NEAR(start.X, 20 + 10 * std::cos(80 * vgDegToRadFactor), 0.01);
  EXPECT_NEAR(start.Y, 20 + 10 * std::sin(80 * vgDegToRadFactor), 0.01);
}

TEST_F(ZelKnob, VectorKnobUsesItsColoursAndDropsShortEnds) {
  auto* v = f.Add(new TvgZelVectorKnob(nullptr));
  v->SetWidth(40);
  v->SetHeight(40);
  v->SetColor1("#FF111111");
  v->SetColor2("#FF222222");
  f.Paint(v);  // Pos 0: end sweep 5 is not above 5
  auto arcs = f.canvas.Calls("DrawPath");
  ASSERT_EQ(arcs.size(), 4u);
  EXPECT_EQ(arcs[0].StrokeColor, 0xFF111111u);
  EXPECT_EQ(arcs[3].StrokeColor, 0xFF222222u);
  for (const TvgPathPoint& pt : arcs[3].Path) {
    // A zero sweep draws nothing or a single point.
    EXPECT_NEAR(pt.Point.X, arcs[3].Path.front().Point.X, 0.01);
    EXPECT_NEAR(pt.Point.Y, arcs[3].Path.front().Point.Y, 0.01);
  }
  v->SetPos(0.5f);
  f.Paint(v);
  arcs = f.canvas.Calls("DrawPath");
  ASSERT_EQ(arcs.size(), 4u);
  ASSERT_FALSE(arcs[3].Path.empty());
  const TvgPoint start = arcs[3].Path.front().Point;
  EXPECT_NEAR(start.X, 20 + 10 * std::cos(85 * vgDegToRadFactor), 0.01);
}

TEST_F(ZelKnob, GaugeFillsItsLevelFromTheBottom) {
  auto* g = f.Add(new TvgZelGuageButton(nullptr));
  g->SetWidth(20);
  g->SetHeight(106);
  g->SetPos(0.5f);
  f.Paint(g);
  auto fills = f.canvas.Calls("FillRect");
  ASSERT_EQ(fills.size(), 2u);
  EXPECT_EQ(fills[0].Rect, vgRect(3, 3, 17, 103));
  EXPECT_EQ(fills[0].FillColor, 0xFF003300u);
  EXPECT_EQ(fills[1].Rect, vgRect(3, 53, 17, 103));
  EXPECT_EQ(fills[1].FillColor, 0xFF008800u);
  auto outlines = f.canvas.Calls("DrawRect");
  ASSERT_EQ(outlines.size(), 1u);
  EXPECT_EQ(outlines[0].StrokeColor, 0xFF00FF00u);
  EXPECT_EQ(outlines[0].StrokeThickness, 3);
  EXPECT_EQ(outlines[0].Cap, vgCapRound);
}

}  // namespace
