// Progress bar, busy indicator, angle button, expander, splitter, windows and bars: parts sized
// and shown, triggers, mouse, streams and the registration of the unit's classes.
#include <gtest/gtest.h>

#include <cmath>

#include "ControlsTestSupport.h"
#include "classlib/FormText.h"
#include "scene/shapes/ShapesTestSupport.h"

namespace {

using BoxesTest = ControlsFixture;

TvgVisualObject* VisualOf(TvgControl* c, const char* name) {
  TvgObject* part = c->FindResource(name);
  return part != nullptr ? part->Visual() : nullptr;
}

TEST_F(BoxesTest, AProgressBarSizesItsIndicatorAtRealignsOnly) {
  auto* bar = Add<TvgProgressBar>(0, 0, 104, 20);
  TvgVisualObject* indicator = VisualOf(bar, "hindicator");
  ASSERT_NE(indicator, nullptr);
  EXPECT_TRUE(FindProbe(bar->GetStyleObject(), "IsVisible=true")->GetRunning());
  bar->SetValue(25);
  // (104 - 2 - 2 margins - 1 - 1 padding) x 0.25
  EXPECT_FLOAT_EQ(indicator->GetWidth(), 24.5f);
  EXPECT_TRUE(indicator->GetVisible());
  EXPECT_FALSE(VisualOf(bar, "vtrack")->GetVisible());
  bar->SetMax(50);  // shown at the next realign
  EXPECT_FLOAT_EQ(indicator->GetWidth(), 24.5f);
  bar->Realign();
  EXPECT_FLOAT_EQ(indicator->GetWidth(), 49);
  bar->SetValue(80);  // beyond Max: a full bar, not more
  EXPECT_FLOAT_EQ(indicator->GetWidth(), 98);
  bar->SetMin(50);  // an empty range leaves the indicator alone
  bar->SetValue(60);
  EXPECT_FLOAT_EQ(indicator->GetWidth(), 98);
  EXPECT_EQ(bar->GetData().ToDouble(), 60);
  bar->SetData(Variant("x"));
  EXPECT_EQ(bar->GetValue(), 50);
}

TEST_F(BoxesTest, AVerticalProgressBarUsesItsVerticalParts) {
  auto* bar = Add<TvgProgressBar>(0, 0, 20, 100);
  bar->SetOrientation(vgVertical);
  EXPECT_EQ(bar->GetWidth(), 20);  // not swapped at run time
  bar->SetValue(50);
  bar->Realign();  // the vertical track, shown again, has been laid out now
  EXPECT_TRUE(VisualOf(bar, "vtrack")->GetVisible());
  EXPECT_FALSE(VisualOf(bar, "htrack")->GetVisible());
  EXPECT_FALSE(VisualOf(bar, "hindicator")->GetVisible());
  EXPECT_TRUE(VisualOf(bar, "vindicator")->GetVisible());
  EXPECT_FLOAT_EQ(VisualOf(bar, "vindicator")->GetHeight(), 50);
}

TEST_F(BoxesTest, AnAngleButtonSnapsToItsFrequencyAndReportsOnReleaseWithoutTracking) {
  auto* knob = Add<TvgAngleButton>(0, 0, 40, 40);
  TCounter changes;
  knob->OnChange = changes.Event();
  knob->SetFrequency(15);
  knob->SetTracking(false);
  knob->SetShowValue(true);
  const float rad = 37 * 3.14159265f / 180;
  knob->MouseDown(mbLeft, TShiftState{ssLeft}, 30, 20);
  auto* trackText = dynamic_cast<TvgText*>(knob->FindResource("tracktext"));
  ASSERT_NE(trackText, nullptr);
  EXPECT_EQ(trackText->GetOpacity(), 1);
  // Up and to the right of the centre: 37 degrees counter-clockwise on the screen.
  knob->MouseMove(TShiftState{ssLeft}, 20 + 10 * std::cos(rad), 20 - 10 * std::sin(rad), 0, 0);
  EXPECT_EQ(knob->GetValue(), 30);
  EXPECT_EQ(changes.count, 0);
  EXPECT_EQ(VisualOf(knob, "tick")->GetRotateAngle(), -30);
  auto* text = dynamic_cast<TvgText*>(knob->FindResource("text"));
  EXPECT_EQ(text->GetText(), u"30\u00B0");
  EXPECT_TRUE(text->GetVisible());
  knob->MouseUp(mbLeft, TShiftState{}, 0, 0);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(trackText->GetOpacity(), 0);
  // A press and release without a change says nothing.
  knob->MouseDown(mbLeft, TShiftState{ssLeft}, 30, 20);
  knob->MouseUp(mbLeft, TShiftState{}, 30, 20);
  EXPECT_EQ(changes.count, 1);
  knob->SetTracking(true);
  knob->SetValue(90);
  EXPECT_EQ(changes.count, 2);
}

TEST_F(BoxesTest, AnExpanderFoldsToItsHeaderAndUnfoldsToTheContent) {
  auto* expander = Add<TvgExpander>(0, 0, 130, 130);
  auto* child = new TvgVisualObject(nullptr);
  child->SetParent(expander);
  EXPECT_EQ(child->GetParent(), expander->GetContent());
  expander->Realign();
  EXPECT_EQ(expander->GetContent()->GetPosition()->GetY(), 25);
  EXPECT_EQ(expander->GetContent()->GetHeight(), 105);
  auto* button = dynamic_cast<TvgCustomButton*>(expander->FindResource("button"));
  ASSERT_NE(button, nullptr);
  EXPECT_FALSE(button->GetCanFocused());
  button->Click();
  EXPECT_FALSE(expander->GetIsExpanded());
  EXPECT_EQ(expander->GetHeight(), 25);
  EXPECT_FALSE(expander->GetContent()->GetVisible());
  EXPECT_TRUE(FindProbe(expander->GetStyleObject(), "IsExpanded=false")->GetRunning());
  expander->SetIsExpanded(true);
  EXPECT_EQ(expander->GetHeight(), 130);
  EXPECT_TRUE(expander->GetContent()->GetVisible());
  // "ContentSize" is always written and comes back.
  const std::string text = ComponentToText(expander);
  EXPECT_NE(text.find("ContentSize = '105'"), std::string::npos) << text;
}

TEST_F(BoxesTest, UncheckingAnExpandersCheckBoxDisablesItsContent) {
  auto* expander = Add<TvgExpander>(0, 0, 130, 130);
  auto* child = new TvgVisualObject(nullptr);
  child->SetParent(expander);
  auto* check = dynamic_cast<TvgCheckBox*>(expander->FindResource("checkbox"));
  ASSERT_NE(check, nullptr);
  EXPECT_FALSE(check->GetVisible());
  expander->SetShowCheck(true);
  EXPECT_TRUE(check->GetVisible());
  EXPECT_TRUE(check->GetIsChecked());
  TCounter changes;
  expander->OnCheckChange = changes.Event();
  check->SetIsChecked(false);
  EXPECT_FALSE(expander->GetIsChecked());
  EXPECT_FALSE(child->GetAbsoluteEnabled());
  EXPECT_EQ(changes.count, 1);
  expander->SetIsChecked(true);
  EXPECT_TRUE(check->GetIsChecked());
  EXPECT_TRUE(child->GetAbsoluteEnabled());
}

TEST_F(BoxesTest, TheBusyIndicatorSpinsAHighlightWhileEnabled) {
  auto* busy = Add<TvgAniIndicator>(0, 0, 40, 40);
  TRecordingCanvas canvas(100, 100);
  scene.canvas = &canvas;
  busy->Paint();
  EXPECT_EQ(canvas.Of("Line").size(), 12u);
  canvas.calls.clear();
  busy->SetEnabled(true);
  EXPECT_TRUE(busy->GetAnimation()->GetRunning());
  dynamic_cast<TvgManualAniTimer*>(vgEnsureAniThread()->Timer())->Advance(2500);
  EXPECT_GT(busy->GetLayer()->GetRotateAngle(), 45);
  busy->Paint();
  const auto lines = canvas.Of("Line");
  EXPECT_GT(lines.size(), 12u);
  for (size_t k = 12; k < lines.size(); ++k) EXPECT_LE(lines[k].Opacity, 1);
  canvas.calls.clear();
  busy->SetStyle(vgAniIndicatorCircle);
  busy->SetEnabled(false);
  EXPECT_FALSE(busy->GetAnimation()->GetRunning());
  busy->Paint();
  EXPECT_EQ(canvas.Of("FillEllipse").size(), 8u);
  scene.canvas = nullptr;
}

TEST_F(BoxesTest, ASplitterResizesItsLeftNeighbourBetweenMinSizeAndTheRoomLeft) {
  auto* panel = Add<TvgPanel>(0, 0, 400, 200);
  auto* left = new TvgVisualObject(nullptr);
  left->SetWidth(100);
  left->SetAlign(vaLeft);
  left->SetParent(panel);
  auto* splitter = new TvgSplitter(nullptr);
  splitter->SetParent(panel);
  splitter->GetPosition()->SetX(150);  // to the right of the neighbour when laid out
  panel->Realign();
  ASSERT_EQ(splitter->GetPosition()->GetX(), 100);
  EXPECT_EQ(splitter->FindControl(), left);
  splitter->MouseDown(mbLeft, TShiftState{ssLeft}, 2, 10);
  splitter->MouseMove(TShiftState{ssLeft}, 52, 10, 50, 0);
  EXPECT_EQ(left->GetWidth(), 150);
  splitter->MouseMove(TShiftState{ssLeft}, 1000, 10, 0, 0);
  EXPECT_EQ(left->GetWidth(), 400 - 20 - 5);
  splitter->MouseMove(TShiftState{ssLeft}, -1000, 10, 0, 0);
  EXPECT_EQ(left->GetWidth(), 20);
  splitter->MouseUp(mbLeft, TShiftState{}, -1000, 10);
  splitter->MouseMove(TShiftState{ssLeft}, 50, 10, 0, 0);
  EXPECT_EQ(left->GetWidth(), 20);
}

TEST_F(BoxesTest, ATopSplitterWithNothingAboveResizesNothing) {
  auto* panel = Add<TvgPanel>(0, 0, 400, 200);
  auto* below = new TvgVisualObject(nullptr);
  below->SetHeight(50);
  below->SetAlign(vaBottom);
  below->SetParent(panel);
  auto* splitter = new TvgSplitter(nullptr);
  splitter->SetAlign(vaTop);
  EXPECT_EQ(splitter->GetCursor(), vgCursorVSplit);
  splitter->SetParent(panel);
  panel->Realign();
  EXPECT_EQ(splitter->FindControl(), nullptr);
  splitter->MouseDown(mbLeft, TShiftState{ssLeft}, 2, 2);
  splitter->MouseMove(TShiftState{ssLeft}, 2, 40, 0, 38);
  EXPECT_EQ(below->GetHeight(), 50);
  splitter->MouseUp(mbLeft, TShiftState{}, 2, 40);
}

TEST_F(BoxesTest, AWindowWithOnCloseClickKeepsItsFormAndCallsTheHandler) {
  int closes = 0;
  auto saved = vgFormHooks().Close;
  vgFormHooks().Close = [&](TComponent*) { ++closes; };
  auto* window = new TvgWindow(nullptr);
  TCounter clicks;
  window->OnCloseClick = clicks.Event();
  window->SetParent(form);
  window->ApplyResource();
  auto* close = dynamic_cast<TvgCloseButton*>(window->FindResource("close"));
  ASSERT_NE(close, nullptr);
  EXPECT_FALSE(close->GetCloseForm());
  close->MouseDown(mbLeft, TShiftState{ssLeft}, 5, 5);
  close->MouseUp(mbLeft, TShiftState{}, 5, 5);
  EXPECT_EQ(clicks.count, 1);
  EXPECT_EQ(closes, 0);
  window->SetShowSizeGrip(false);
  EXPECT_FALSE(VisualOf(window, "sizegrip")->GetVisible());
  window->SetShowCloseButton(false);
  EXPECT_FALSE(VisualOf(window, "close")->GetVisible());
  vgFormHooks().Close = saved;
}

TEST_F(BoxesTest, AHudWindowDressesItsParts) {
  auto* hud = Add<TvgHudWindow>(0, 0, 200, 200);
  EXPECT_EQ(hud->GetFont()->GetStyle(), vgFontBold);
  auto* back = dynamic_cast<TvgShape*>(hud->FindResource("back"));
  auto* stroke = dynamic_cast<TvgShape*>(hud->FindResource("stroke"));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->GetFill()->GetSolidColor(), 0xEA2F2F2Fu);
  EXPECT_EQ(stroke->GetStroke()->GetSolidColor(), 0x5B000000u);
  hud->SetStrokeThickness(3);
  EXPECT_EQ(stroke->GetStrokeThickness(), 3);
  EXPECT_EQ(stroke->GetPadding()->GetLeft(), 3);
  EXPECT_EQ(VisualOf(hud, "caption")->GetHeight(), 23);
  EXPECT_EQ(VisualOf(hud, "caption")->GetPadding()->GetBottom(), 0);
  EXPECT_EQ(VisualOf(hud, "close")->GetAlign(), vaLeft);
  hud->SetButtonAlign(vgButtonAlignRight);
  EXPECT_EQ(VisualOf(hud, "close")->GetAlign(), vaRight);
  hud->GetFill()->SetSolidColor(0xFF010203u);
  EXPECT_EQ(back->GetFill()->GetSolidColor(), 0xFF010203u);
  hud->SetShowCaption(false);
  EXPECT_FALSE(VisualOf(hud, "caption")->GetVisible());
  EXPECT_TRUE(VisualOf(hud, "caption")->GetDesignHide());
  EXPECT_FALSE(VisualOf(hud, "text")->GetVisible());
  const std::string text = ComponentToText(hud);
  EXPECT_NE(text.find("StrokeThickness = 3"), std::string::npos) << text;
  EXPECT_NE(text.find("ShowCaption = False"), std::string::npos) << text;
  EXPECT_NE(text.find("ButtonAlign = vgButtonAlignRight"), std::string::npos) << text;
  EXPECT_EQ(text.find("DisableShadowOnOSX"), std::string::npos) << text;
}

TEST_F(BoxesTest, AStatusBarsSizeGripWorksAtRunTimeAndFollowsItsSwitch) {
  auto* status = Add<TvgStatusBar>(0, 0, 300, 22);
  TvgVisualObject* grip = VisualOf(status, "sizegrip");
  ASSERT_NE(grip, nullptr);
  EXPECT_TRUE(grip->GetVisible());
  EXPECT_FALSE(grip->GetLocked());
  EXPECT_TRUE(grip->GetHitTest());
  status->SetShowSizeGrip(false);
  EXPECT_FALSE(VisualOf(status, "sizegrip")->GetVisible());
  EXPECT_EQ(status->GetAlign(), vaBottom);
}

TEST_F(BoxesTest, TheUnitRegistersItsClassesByCategoryButNotTheWindow) {
  vgInitControlsUnit();
  auto has = [](const std::string& category, const char* name) {
    for (const auto& entry : vgObjectCategories())
      if (entry.first == category && entry.second->Name == name) return true;
    return false;
  };
  EXPECT_TRUE(has("HUD", "TvgHudWindow"));
  EXPECT_TRUE(has("Boxes", "TvgRadioButton"));
  EXPECT_TRUE(has("Buttons", "TvgAngleButton"));
  EXPECT_TRUE(has("Windows", "TvgCloseButton"));
  EXPECT_TRUE(has("Tool and Status", "TvgStatusBar"));
  EXPECT_NE(FindClass("TvgThumb"), nullptr);
  for (const auto& entry : vgObjectCategories()) {
    EXPECT_STRNE(entry.second->Name.c_str(), "TvgThumb");
    EXPECT_STRNE(entry.second->Name.c_str(), "TvgWindow");
  }
}

TEST_F(BoxesTest, DefaultsAreNotStored) {
  TvgProgressBar bar(nullptr);
  TvgAngleButton knob(nullptr);
  TvgSplitter splitter(nullptr);
  TvgStatusBar status(nullptr);
  TvgGroupBox group(nullptr);
  TvgWindow window(nullptr);
  for (TComponent* c : std::initializer_list<TComponent*>{&bar, &knob, &splitter, &status, &group, &window}) {
    const std::string text = ComponentToText(c);
    for (const char* name : {"Width", "Height", "Align", "Cursor", "Max", "Tracking", "MinSize", "ShowGrip",
                             "ShowSizeGrip", "TextAlign", "HitTest", "CanFocused", "AutoTranslate"})
      EXPECT_EQ(text.find(name), std::string::npos) << name << "\n" << text;
  }
}

}  // namespace
