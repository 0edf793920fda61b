// Tracks, track bars and scroll bars: value rules, thumb geometry, clicks, keys, thumb drags
// and the scroll bar's parts kept in step.
#include <gtest/gtest.h>

#include "ControlsTestSupport.h"
#include "classlib/FormText.h"

namespace {

using TrackTest = ControlsFixture;

TEST_F(TrackTest, RangeRulesClampTheValueAndMaxBelowMinBecomesMinPlusATouch) {
  auto* track = Add<TvgTrack>();
  track->SetMin(10);
  track->SetMax(5);
  EXPECT_FLOAT_EQ(track->GetMax(), 10.001f);
  track->SetMax(100);
  track->SetViewportSize(20);
  track->SetValue(95);
  EXPECT_EQ(track->GetValue(), 80);
  track->SetValue(-3);
  EXPECT_EQ(track->GetValue(), 10);
  track->SetViewportSize(500);
  EXPECT_EQ(track->GetViewportSize(), 90);
  // Max pulled below the value moves the value without telling anyone.
  TCounter changes;
  track->OnChange = changes.Event();
  track->SetViewportSize(0);
  track->SetValue(70);
  EXPECT_EQ(changes.count, 1);
  track->SetMax(50);
  EXPECT_EQ(track->GetValue(), 50);
  EXPECT_EQ(changes.count, 1);
  // Pushing past an end that the value already sits at is no change.
  track->SetValue(1000);
  EXPECT_EQ(changes.count, 1);
}

TEST_F(TrackTest, AFrequencySnapsHalvesToEven) {
  auto* track = Add<TvgTrack>();
  track->SetFrequency(5);
  track->SetValue(7);
  EXPECT_EQ(track->GetValue(), 5);
  track->SetValue(8);
  EXPECT_EQ(track->GetValue(), 10);
  track->SetValue(12.5f);  // 2.5 steps round to 2
  EXPECT_EQ(track->GetValue(), 10);
  track->SetValue(17.5f);  // 3.5 steps round to 4
  EXPECT_EQ(track->GetValue(), 20);
  track->SetFrequency(0);
  track->SetValue(21);
  track->SetFrequency(4);
  EXPECT_EQ(track->GetValue(), 20);
}

TEST_F(TrackTest, AThumbWithoutViewportIsAsLongAsTheTrackIsThickAndStaysInside) {
  auto* track = Add<TvgTrack>(0, 0, 200, 20);
  TvgThumb* thumb = track->GetThumb();
  ASSERT_NE(thumb, nullptr);
  track->SetValue(50);
  EXPECT_EQ(thumb->GetPosition()->GetX(), 90);
  EXPECT_EQ(thumb->GetWidth(), 20);
  EXPECT_EQ(thumb->GetHeight(), 20);
  track->SetValue(0);
  EXPECT_EQ(thumb->GetPosition()->GetX(), 0);
  track->SetValue(100);
  EXPECT_EQ(thumb->GetPosition()->GetX(), 180);
  // A page thumb is proportional.
  track->SetViewportSize(25);
  track->SetValue(25);
  EXPECT_EQ(thumb->GetPosition()->GetX(), 50);
  EXPECT_EQ(thumb->GetWidth(), 50);
  // Vertical: not swapped at run time.
  track->SetOrientation(vgVertical);
  EXPECT_EQ(track->GetWidth(), 200);
  track->SetBounds(0, 0, 20, 200);
  track->Realign();
  EXPECT_EQ(thumb->GetPosition()->GetY(), 50);
  EXPECT_EQ(thumb->GetHeight(), 50);
  EXPECT_EQ(thumb->GetWidth(), 20);
  // A page shorter than the track is thick grows to the thickness around its start.
  track->SetViewportSize(5);
  EXPECT_EQ(thumb->GetHeight(), 20);
  EXPECT_EQ(thumb->GetPosition()->GetY(), 40);
}

TEST_F(TrackTest, TheStylesMarginsAndTheThumbsPaddingInsetTheThumb) {
  auto* track = Add<TvgTrack>(0, 0, 200, 20);
  TvgThumb* thumb = track->GetThumb();
  ASSERT_NE(thumb, nullptr);
  track->GetStyleObject()->Visual()->GetMargins()->SetRect(vgRect(2, 3, 4, 1));
  thumb->GetPadding()->SetRect(vgRect(1, 1, 1, 1));
  track->SetViewportSize(50);
  track->SetValue(0);
  track->Realign();
  EXPECT_EQ(thumb->GetPosition()->GetX(), 3);
  EXPECT_EQ(thumb->GetPosition()->GetY(), 4);
  EXPECT_EQ(thumb->GetWidth(), 100 - 3 - 5);
  EXPECT_EQ(thumb->GetHeight(), 20 - 4 - 2);
  // Insets wider than the thumb leave its width alone.
  thumb->GetPadding()->SetRect(vgRect(60, 1, 60, 1));
  track->Realign();
  EXPECT_EQ(thumb->GetWidth(), 100);
}

TEST_F(TrackTest, DesignModeSwapsTheSizeWhenTheOrientationChanges) {
  scene.designTime = true;
  auto* track = Add<TvgTrack>(0, 0, 200, 20);
  track->SetOrientation(vgVertical);
  EXPECT_EQ(track->GetWidth(), 20);
  EXPECT_EQ(track->GetHeight(), 200);
}

TEST_F(TrackTest, APressJumpsWithoutViewportAndPagesWithOne) {
  auto* track = Add<TvgTrack>(0, 0, 200, 20);
  track->MouseDown(mbLeft, TShiftState{ssLeft}, 50, 5);
  track->MouseUp(mbLeft, TShiftState{}, 50, 5);
  EXPECT_EQ(track->GetValue(), 25);
  track->SetViewportSize(10);
  track->MouseDown(mbLeft, TShiftState{ssLeft}, 150, 5);
  EXPECT_EQ(track->GetValue(), 35);
  track->MouseDown(mbLeft, TShiftState{ssLeft}, 10, 5);
  EXPECT_EQ(track->GetValue(), 25);
  track->MouseDown(mbRight, TShiftState{ssRight}, 190, 5);
  EXPECT_EQ(track->GetValue(), 25);
}

TEST_F(TrackTest, KeysStepByTheFrequencyOrOneAndAreConsumed) {
  auto* bar = Add<TvgTrackBar>();
  EXPECT_TRUE(bar->GetCanFocused());
  WideChar ch = 0;
  uint16_t key = 39;
  bar->KeyDown(key, ch, TShiftState{});
  EXPECT_EQ(key, 0);
  EXPECT_EQ(bar->GetValue(), 1);
  key = 35;
  bar->KeyDown(key, ch, TShiftState{});
  EXPECT_EQ(bar->GetValue(), 100);
  bar->SetFrequency(10);
  key = 38;
  bar->KeyDown(key, ch, TShiftState{});
  EXPECT_EQ(bar->GetValue(), 90);
  key = 36;
  bar->KeyDown(key, ch, TShiftState{});
  EXPECT_EQ(bar->GetValue(), 0);
  key = 65;
  bar->KeyDown(key, ch, TShiftState{});
  EXPECT_EQ(key, 65);
  // Without tracking each key reports once more.
  TCounter changes;
  bar->OnChange = changes.Event();
  bar->SetTracking(false);
  key = 40;
  bar->KeyDown(key, ch, TShiftState{});
  EXPECT_EQ(changes.count, 2);
}

TEST_F(TrackTest, DraggingTheThumbMovesTheValueAndReportsTrackingOrOnlyOnRelease) {
  auto* track = Add<TvgTrack>(20, 10, 200, 20);
  TvgThumb* thumb = track->GetThumb();
  ASSERT_NE(thumb, nullptr);
  TCounter changes, tracking;
  track->OnChange = changes.Event();
  track->OnTracking = tracking.Event();
  EXPECT_EQ(thumb->GetPosition()->GetX(), 0);  // centred on 0, pushed inside
  thumb->MouseDown(mbLeft, TShiftState{ssLeft}, 10, 10);
  EXPECT_TRUE(thumb->GetPressed());
  // Thumb-local 50 is track-local 50: a quarter.
  thumb->MouseMove(TShiftState{ssLeft}, 50, 10, 0, 0);
  EXPECT_EQ(track->GetValue(), 25);
  EXPECT_EQ(tracking.count, 1);
  EXPECT_EQ(changes.count, 1);
  thumb->MouseUp(mbLeft, TShiftState{}, 60, 10);
  EXPECT_FALSE(thumb->GetPressed());

  track->SetTracking(false);
  changes.count = 0;
  tracking.count = 0;
  thumb->MouseDown(mbLeft, TShiftState{ssLeft}, 10, 10);
  thumb->MouseMove(TShiftState{ssLeft}, 30, 10, 0, 0);
  thumb->MouseMove(TShiftState{ssLeft}, 100, 10, 0, 0);
  EXPECT_GT(tracking.count, 0);
  EXPECT_EQ(changes.count, 0);
  const float final = track->GetValue();
  thumb->MouseUp(mbLeft, TShiftState{}, 100, 10);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(track->GetValue(), final);
  EXPECT_FALSE(track->GetTracking());
}

TEST_F(TrackTest, APageThumbFollowsItsPressPointNotItsCentre) {
  auto* track = Add<TvgTrack>(0, 0, 200, 20);
  track->SetViewportSize(50);  // thumb 100 wide at 0
  TvgThumb* thumb = track->GetThumb();
  thumb->MouseDown(mbLeft, TShiftState{ssLeft}, 30, 10);
  thumb->MouseMove(TShiftState{ssLeft}, 70, 10, 0, 0);  // 40 right of the press point
  EXPECT_EQ(track->GetValue(), 20);
  thumb->MouseUp(mbLeft, TShiftState{}, 70, 10);
}

TEST_F(TrackTest, AZeroLengthTrackIgnoresDragsAndPresses) {
  auto* track = Add<TvgTrack>(0, 0, 0, 20);
  track->SetValue(30);
  TvgThumb* thumb = track->GetThumb();
  ASSERT_NE(thumb, nullptr);
  thumb->MouseDown(mbLeft, TShiftState{ssLeft}, 0, 0);
  thumb->MouseMove(TShiftState{ssLeft}, 5, 0, 0, 0);
  thumb->MouseUp(mbLeft, TShiftState{}, 5, 0);
  track->MouseDown(mbLeft, TShiftState{ssLeft}, 0, 0);
  EXPECT_EQ(track->GetValue(), 30);
}

TEST_F(TrackTest, SetDataTakesNumbersAndFallsBackToMin) {
  auto* track = Add<TvgTrack>();
  track->SetMin(3);
  track->SetData(Variant(42.0));
  EXPECT_EQ(track->GetValue(), 42);
  EXPECT_EQ(track->GetData().ToDouble(), 42);
  track->SetData(Variant("x"));
  EXPECT_EQ(track->GetValue(), 3);
}

// --- Scroll bar

TEST_F(TrackTest, AScrollBarKeepsItsTrackAndArrowsInStep) {
  auto* bar = Add<TvgScrollBar>(0, 0, 150, 18);
  TCounter changes;
  bar->OnChange = changes.Event();
  bar->SetMax(200);
  bar->SetViewportSize(50);
  bar->SetValue(40);
  EXPECT_EQ(changes.count, 1);
  auto* htrack = dynamic_cast<TvgCustomTrack*>(bar->FindResource("htrack"));
  auto* vtrack = dynamic_cast<TvgCustomTrack*>(bar->FindResource("vtrack"));
  ASSERT_NE(htrack, nullptr);
  ASSERT_NE(vtrack, nullptr);
  EXPECT_EQ(bar->GetTrack(), htrack);
  EXPECT_TRUE(htrack->GetVisible());
  EXPECT_FALSE(vtrack->GetVisible());
  EXPECT_EQ(htrack->GetMax(), 200);
  EXPECT_EQ(htrack->GetViewportSize(), 50);
  EXPECT_EQ(htrack->GetValue(), 40);
  EXPECT_FALSE(htrack->GetCanFocused());
  // Moving the track moves the bar.
  htrack->SetValue(100);
  EXPECT_EQ(bar->GetValue(), 100);
  EXPECT_EQ(changes.count, 2);
  // Arrows step by SmallChange.
  auto* right = dynamic_cast<TvgCustomButton*>(bar->FindResource("rightbutton"));
  auto* left = dynamic_cast<TvgCustomButton*>(bar->FindResource("leftbutton"));
  auto* top = dynamic_cast<TvgCustomButton*>(bar->FindResource("topbutton"));
  ASSERT_NE(right, nullptr);
  EXPECT_TRUE(right->GetVisible());
  EXPECT_FALSE(top->GetVisible());
  bar->SetSmallChange(7);
  right->Click();
  EXPECT_EQ(bar->GetValue(), 107);
  left->Click();
  left->Click();
  EXPECT_EQ(bar->GetValue(), 93);
  EXPECT_EQ(htrack->GetValue(), 93);
  // Clamped at both ends.
  bar->SetValue(1000);
  EXPECT_EQ(bar->GetValue(), 150);
  bar->SetMin(160);
  EXPECT_EQ(bar->GetValue(), 160);
  bar->SetOrientation(vgVertical);
  EXPECT_EQ(bar->GetTrack(), vtrack);
  EXPECT_TRUE(vtrack->GetVisible());
  EXPECT_FALSE(htrack->GetVisible());
  EXPECT_TRUE(top->GetVisible());
  EXPECT_FALSE(right->GetVisible());
}

TEST_F(TrackTest, TracksAndBarsStreamOnlyWhatDiffers) {
  TvgTrack track(nullptr);
  TvgScrollBar bar(nullptr);
  TvgSmallScrollBar small(nullptr);
  for (TComponent* c : std::initializer_list<TComponent*>{&track, &bar, &small}) {
    const std::string text = ComponentToText(c);
    for (const char* name : {"Width", "Height", "Max", "Min", "Value", "Orientation", "Tracking", "SmallChange",
                             "ViewportSize"})
      EXPECT_EQ(text.find(name), std::string::npos) << name << "\n" << text;
  }
  bar.SetMax(10);
  bar.SetSmallChange(2);
  bar.SetOrientation(vgVertical);
  bar.SetValue(4);
  std::unique_ptr<TvgObject> copy(bar.Clone(nullptr));
  auto* again = dynamic_cast<TvgScrollBar*>(copy.get());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->GetMax(), 10);
  EXPECT_EQ(again->GetSmallChange(), 2);
  EXPECT_EQ(again->GetOrientation(), vgVertical);
  EXPECT_EQ(again->GetValue(), 4);
  track.SetTracking(false);
  track.SetFrequency(2);
  std::unique_ptr<TvgObject> trackCopy(track.Clone(nullptr));
  EXPECT_FALSE(dynamic_cast<TvgTrack*>(trackCopy.get())->GetTracking());
  EXPECT_EQ(dynamic_cast<TvgTrack*>(trackCopy.get())->GetFrequency(), 2);
}

}  // namespace
