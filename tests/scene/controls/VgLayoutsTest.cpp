// Layouts and scroll boxes: grid flow, scaled children, the design frame, the hosted window
// control on a manual timer, children in the scroll content, bars following the content, wheel,
// drags and gliding on the manual ticker, and streams of non-default values.
#include <gtest/gtest.h>

#include <map>

#include "ControlsTestSupport.h"
#include "classlib/FormText.h"
#include "scene/controls/vg_layouts.h"
#include "scene/controls/vg_scrollbox.h"

namespace {

using LayoutTest = ControlsFixture;

TEST_F(LayoutTest, AGridFlowsThreeCellsOf64IntoA200WideRow) {
  auto* grid = Add<TvgGridLayout>(0, 0, 200, 300);
  std::vector<TvgVisualObject*> cells;
  for (int k = 0; k < 5; ++k) {
    auto* cell = new TvgVisualObject(nullptr);
    cell->SetParent(grid);
    cells.push_back(cell);
  }
  cells[4]->GetPadding()->SetRect(vgRect(2, 3, 4, 5));
  grid->Realign();
  EXPECT_EQ(cells[2]->GetPosition()->GetX(), 128);
  EXPECT_EQ(cells[2]->GetPosition()->GetY(), 0);
  EXPECT_EQ(cells[3]->GetPosition()->GetX(), 0);
  EXPECT_EQ(cells[3]->GetPosition()->GetY(), 64);
  EXPECT_EQ(cells[4]->GetPosition()->GetX(), 64 + 2);
  EXPECT_EQ(cells[4]->GetPosition()->GetY(), 64 + 3);
  EXPECT_EQ(cells[4]->GetWidth(), 64 - 6);
  EXPECT_EQ(cells[4]->GetHeight(), 64 - 8);
  // Margins narrow the row; vertical flow fills columns.
  grid->GetMargins()->SetRect(vgRect(10, 10, 0, 0));
  grid->SetItemHeight(100);
  grid->SetOrientation(vgVertical);
  EXPECT_EQ(cells[0]->GetPosition()->GetX(), 10);
  EXPECT_EQ(cells[1]->GetPosition()->GetY(), 110);
  EXPECT_EQ(cells[2]->GetPosition()->GetX(), 74);  // 10 + 100 + 100 > 300 - 10
  EXPECT_EQ(cells[2]->GetPosition()->GetY(), 10);
}

TEST_F(LayoutTest, AScaledLayoutDrawsItsChildrenFromTheDesignSize) {
  auto* scaled = Add<TvgScaledLayout>(0, 0, 100, 100);
  scaled->SetOriginalWidth(100);
  scaled->SetOriginalHeight(100);
  auto* child = new TvgVisualObject(nullptr);
  child->SetBounds(10, 10, 50, 50);
  child->SetParent(scaled);
  scaled->SetWidth(200);
  scaled->SetHeight(50);
  const TvgRect r = child->GetAbsoluteRect();
  EXPECT_FLOAT_EQ(r.Left, 20);
  EXPECT_FLOAT_EQ(r.Top, 5);
  EXPECT_FLOAT_EQ(r.Right - r.Left, 100);
  EXPECT_FLOAT_EQ(r.Bottom - r.Top, 25);
  EXPECT_EQ(child->GetWidth(), 50);  // laid out at the design size
  scaled->SetOriginalWidth(0);
  EXPECT_EQ(scaled->GetOriginalWidth(), 1);
  scaled->SetOriginalHeight(-5);
  EXPECT_EQ(scaled->GetOriginalHeight(), 1);
}

TEST_F(LayoutTest, InDesignModeAScaledLayoutTakesItsSizeAsTheDesignSize) {
  scene.designTime = true;
  auto* scaled = Add<TvgScaledLayout>(0, 0, 100, 100);
  scaled->SetWidth(300);
  EXPECT_EQ(scaled->GetOriginalWidth(), 300);
  EXPECT_FLOAT_EQ(scaled->GetChildrenMatrix().m11, 1);
}

TEST_F(LayoutTest, LayoutsDrawADashedFrameOnlyInDesignMode) {
  TObjRecordingCanvas canvas(400, 300);
  scene.canvas = &canvas;
  auto* layout = Add<TvgLayout>(10, 10, 50, 40);
  EXPECT_FALSE(layout->GetHitTest());
  layout->Paint();
  EXPECT_TRUE(canvas.outlines.empty());
  scene.designTime = true;
  layout->Paint();
  ASSERT_EQ(canvas.outlines.size(), 1u);
  EXPECT_FLOAT_EQ(canvas.outlines[0].Left, 0.5f);
  EXPECT_FLOAT_EQ(canvas.outlines[0].Bottom, 39.5f);
  EXPECT_EQ(canvas.outlineColors[0], 0xA0909090u);
  EXPECT_EQ(canvas.GetStrokeDash(), vgDashSolid);
  layout->SetLocked(true);
  layout->Paint();
  EXPECT_EQ(canvas.outlines.size(), 1u);
  scene.canvas = nullptr;
}

// A stand-in for a window control: the hooks keep its bounds and visibility.
struct FakeWindows {
  struct State {
    bool visible = true;
    int32_t l = 0, t = 0, w = 0, h = 0;
  };
  std::map<TComponent*, State> states;
  void Install() {
    TvgHostedControlHooks& hooks = vgHostedControlHooks();
    hooks.GetVisible = [this](TComponent* c) { return states[c].visible; };
    hooks.SetVisible = [this](TComponent* c, bool v) { states[c].visible = v; };
    hooks.SetBounds = [this](TComponent* c, int32_t l, int32_t t, int32_t w, int32_t h) { states[c] = {states[c].visible, l, t, w, h}; };
  }
};

TEST_F(LayoutTest, AHostedWindowFollowsTheLayoutAndHidesWithItsParent) {
  const TvgHostedControlHooks saved = vgHostedControlHooks();
  FakeWindows windows;
  windows.Install();
  auto* panel = Add<TvgLayout>(20, 30, 300, 200);
  auto* host = new TvgNonVGLayout(nullptr);
  host->SetBounds(5.4f, 6.6f, 100, 50);
  host->SetParent(panel);
  TComponent window(nullptr);
  host->SetNonVGControl(&window);
  EXPECT_EQ(windows.states[&window].l, 25);
  EXPECT_EQ(windows.states[&window].t, 37);
  EXPECT_EQ(windows.states[&window].w, 100);
  EXPECT_EQ(windows.states[&window].h, 50);
  // The timer notices a hidden parent within 100 ms.
  ASSERT_NE(LastTimer(), nullptr);
  EXPECT_TRUE(host->GetTimer()->GetEnabled());
  panel->SetVisible(false);
  LastTimer()->Advance(99);
  EXPECT_TRUE(windows.states[&window].visible);
  LastTimer()->Advance(1);
  EXPECT_FALSE(windows.states[&window].visible);
  EXPECT_FALSE(host->GetTimer()->GetEnabled());
  // Shown again (the scene asks while painting): the control comes back over the new place.
  panel->SetVisible(true);
  panel->SetBounds(40, 30, 300, 200);
  EXPECT_TRUE(host->GetParentedVisible());
  EXPECT_TRUE(windows.states[&window].visible);
  EXPECT_TRUE(host->GetTimer()->GetEnabled());
  EXPECT_EQ(windows.states[&window].l, 45);
  // A hosted control being freed is forgotten.
  host->Notification(&window, opRemove);
  EXPECT_EQ(host->GetNonVGControl(), nullptr);
  vgHostedControlHooks() = saved;
}

// --- Scroll boxes

class ScrollBoxTest : public ControlsFixture {
 protected:
  TvgScrollBox* MakeBox(float contentW, float contentH) {
    auto* box = Add<TvgScrollBox>(0, 0, 200, 100);
    box->SetResource("scrollboxstyle");
    child = new TPaintProbe(nullptr);
    child->SetBounds(0, 0, contentW, contentH);
    child->SetParent(box);
    box->Realign();
    return box;
  }
  TPaintProbe* child = nullptr;
};

TEST_F(ScrollBoxTest, ChildrenLandInTheContentAndEffectsAndAnimationsStayOnTheBox) {
  auto* box = MakeBox(50, 50);
  EXPECT_EQ(child->GetParent(), box->GetContent());
  auto* effect = new TProbeEffect(nullptr);
  effect->SetParent(box);
  EXPECT_EQ(effect->GetParent(), box);
  auto* ani = new TProbeAnimation(nullptr);
  ani->SetParent(box);
  EXPECT_EQ(ani->GetParent(), box);
  EXPECT_EQ(box->GetStyleObject()->GetParent(), box);
  // The children stream as the box's own.
  child->SetName("Inner");
  const std::string text = ComponentToText(box);
  EXPECT_NE(text.find("object Inner: TPaintProbe"), std::string::npos) << text;
  EXPECT_EQ(text.find("TvgScrollContent"), std::string::npos) << text;
}

TEST_F(ScrollBoxTest, ContentThatFitsHidesTheBarsUnlessAutoHideIsOff) {
  auto* box = MakeBox(50, 50);
  ASSERT_NE(box->GetVScrollBar(), nullptr);
  ASSERT_NE(box->GetHScrollBar(), nullptr);
  EXPECT_FALSE(box->GetVScrollBar()->GetEnabled());
  EXPECT_FALSE(box->GetVScrollBar()->GetVisible());
  EXPECT_FALSE(box->GetHScrollBar()->GetVisible());
  EXPECT_EQ(box->GetViewportWidth(), 200);
  EXPECT_EQ(box->GetViewportHeight(), 100);
  auto* kept = Add<TvgScrollBox>(0, 120, 200, 100);
  kept->SetAutoHide(false);
  kept->SetResource("scrollboxstyle");
  auto* small = new TvgVisualObject(nullptr);
  small->SetBounds(0, 0, 50, 50);
  small->SetParent(kept);
  kept->Realign();
  EXPECT_TRUE(kept->GetVScrollBar()->GetVisible());
  EXPECT_FALSE(kept->GetVScrollBar()->GetEnabled());
  EXPECT_TRUE(kept->GetHScrollBar()->GetVisible());
  EXPECT_FALSE(kept->GetHScrollBar()->GetEnabled());
  EXPECT_EQ(kept->GetViewportWidth(), 184);
  EXPECT_EQ(kept->GetVScrollOffset(), 0);
}

TEST_F(ScrollBoxTest, TallContentGetsAVerticalBarAndTheWheelMovesThreeSmallSteps) {
  auto* box = MakeBox(100, 300);
  box->SetAnimated(false);
  TvgScrollBar* bar = box->GetVScrollBar();
  ASSERT_TRUE(bar->GetVisible());
  EXPECT_TRUE(bar->GetEnabled());
  EXPECT_FALSE(box->GetHScrollBar()->GetVisible());
  EXPECT_EQ(box->GetViewportWidth(), 184);
  EXPECT_EQ(bar->GetMax(), 300);
  EXPECT_EQ(bar->GetViewportSize(), 100);
  EXPECT_EQ(bar->GetSmallChange(), 20);
  bool handled = false;
  box->MouseWheel(TShiftState{}, -120, handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(bar->GetValue(), 60);
  EXPECT_EQ(box->GetVScrollOffset(), 60);
  EXPECT_EQ(box->GetContent()->GetPosition()->GetY(), -60);
  // The clip rect follows the scrolled viewport.
  EXPECT_EQ(box->GetContent()->GetClipRect().Top, 60);
  // A realign keeps the position, rebuilt from the remembered value.
  EXPECT_EQ(box->GetRememberedVScroll(), 60);
  box->Realign();
  EXPECT_EQ(bar->GetValue(), 60);
  EXPECT_EQ(box->GetContent()->GetPosition()->GetY(), -60);
  box->SetRememberedVScroll(20);
  box->Realign();
  EXPECT_EQ(bar->GetValue(), 20);
  EXPECT_EQ(box->GetContent()->GetPosition()->GetY(), -20);
  box->SetRememberedVScroll(60);
  box->Realign();
  box->SetDisableMouseWheel(true);
  handled = false;
  box->MouseWheel(TShiftState{}, -120, handled);
  EXPECT_FALSE(handled);
  EXPECT_EQ(bar->GetValue(), 60);
}

TEST_F(ScrollBoxTest, WideContentScrollsSidewaysByWheelWhenThereIsNoVerticalBar) {
  auto* box = MakeBox(500, 50);
  box->SetAnimated(false);
  TvgScrollBar* bar = box->GetHScrollBar();
  ASSERT_TRUE(bar->GetVisible());
  EXPECT_FALSE(box->GetVScrollBar()->GetVisible());
  EXPECT_EQ(bar->GetMax(), 500);
  bool handled = false;
  box->MouseWheel(TShiftState{}, -240, handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(bar->GetValue(), 240);  // 200 / 5 * 3 * 2
  EXPECT_EQ(box->GetContent()->GetPosition()->GetX(), -240);
}

TEST_F(ScrollBoxTest, TheAnimatedWheelGlidesToTheTargetOnTheTicker) {
  auto* box = MakeBox(100, 300);
  TvgManualAniTimer* ticker = dynamic_cast<TvgManualAniTimer*>(vgEnsureAniThread()->Timer());
  ASSERT_NE(ticker, nullptr);
  bool handled = false;
  box->MouseWheel(TShiftState{}, -120, handled);
  ASSERT_NE(box->GetVScrollAnimation(), nullptr);
  EXPECT_TRUE(box->GetVScrollAnimation()->GetRunning());
  ticker->Advance(330);
  const float midway = box->GetVScrollBar()->GetValue();
  EXPECT_GT(midway, 0);
  EXPECT_LT(midway, 60);
  ticker->Advance(1000);
  EXPECT_FALSE(box->GetVScrollAnimation()->GetRunning());
  EXPECT_FLOAT_EQ(box->GetVScrollBar()->GetValue(), 60);
  EXPECT_FLOAT_EQ(box->GetContent()->GetPosition()->GetY(), -60);
  // A new style drops the animation with the old bars.
  box->UpdateStyle();
  EXPECT_EQ(box->GetVScrollAnimation(), nullptr);
  handled = false;
  box->MouseWheel(TShiftState{}, -120, handled);
  EXPECT_TRUE(handled);
  ticker->Advance(1000);
}

TEST_F(ScrollBoxTest, DraggingScrollsAndAReleaseGlidesSevenLastStepsFurther) {
  auto* box = MakeBox(100, 600);
  box->SetMouseTracking(true);
  TvgManualAniTimer* ticker = dynamic_cast<TvgManualAniTimer*>(vgEnsureAniThread()->Timer());
  box->MouseDown(mbLeft, TShiftState{ssLeft}, 10, 80);
  box->MouseMove(TShiftState{ssLeft}, 10, 60, 0, -20);
  EXPECT_TRUE(box->GetContentDragged());
  EXPECT_EQ(box->GetVScrollBar()->GetValue(), 20);
  EXPECT_EQ(box->GetLastDragStep(), vgPoint(0, -20));
  box->MouseMove(TShiftState{ssLeft}, 10, 50, 0, -10);
  EXPECT_EQ(box->GetVScrollBar()->GetValue(), 30);
  box->MouseUp(mbLeft, TShiftState{}, 10, 50);
  ASSERT_NE(box->GetVScrollAnimation(), nullptr);
  EXPECT_EQ(box->GetVScrollAnimation()->GetStopValue(), 30 + 70);
  ticker->Advance(1000);
  EXPECT_FLOAT_EQ(box->GetVScrollBar()->GetValue(), 100);
  EXPECT_TRUE(box->GetContentDragged());  // until the next press
  // A release after a move without movement starts nothing.
  box->MouseDown(mbLeft, TShiftState{ssLeft}, 10, 50);
  EXPECT_FALSE(box->GetContentDragged());
  box->MouseMove(TShiftState{ssLeft}, 10, 40, 0, -10);
  box->MouseMove(TShiftState{ssLeft}, 10, 40, 0, 0);
  EXPECT_EQ(box->GetLastDragStep(), vgPoint(0, 0));
  box->MouseUp(mbLeft, TShiftState{}, 10, 40);
  EXPECT_FALSE(box->GetVScrollAnimation()->GetRunning());
  EXPECT_FLOAT_EQ(box->GetVScrollBar()->GetValue(), 110);
}

TEST_F(ScrollBoxTest, ADragAgainstTheEndOfTheContentMovesNothing) {
  auto* box = MakeBox(100, 600);
  box->SetMouseTracking(true);
  box->SetAnimated(false);
  box->MouseDown(mbLeft, TShiftState{ssLeft}, 10, 50);
  box->MouseMove(TShiftState{ssLeft}, 10, 90, 0, 40);  // pulled down at the top
  EXPECT_EQ(box->GetVScrollBar()->GetValue(), 0);
  box->MouseUp(mbLeft, TShiftState{}, 10, 90);
  EXPECT_FALSE(box->GetContentDragged());
  EXPECT_EQ(box->GetLastDragStep(), vgPoint(0, 40));  // the mouse moved all the same
  // Without drag-to-scroll nothing is dragged at all.
  box->SetMouseTracking(false);
  box->MouseDown(mbLeft, TShiftState{ssLeft}, 10, 90);
  box->MouseMove(TShiftState{ssLeft}, 10, 20, 0, -70);
  EXPECT_FALSE(box->GetContentDragged());
  EXPECT_EQ(box->GetVScrollBar()->GetValue(), 0);
  box->MouseUp(mbLeft, TShiftState{}, 10, 20);
}

TEST_F(ScrollBoxTest, HiddenBarsStillScrollButAreTransparentAndOutOfTheBox) {
  auto* box = MakeBox(100, 300);
  box->SetAnimated(false);
  box->SetShowScrollBars(false);
  TvgScrollBar* bar = box->GetVScrollBar();
  EXPECT_EQ(bar->GetOpacity(), 0);
  EXPECT_EQ(bar->GetAlign(), vaNone);
  EXPECT_GE(bar->GetPosition()->GetX(), box->GetWidth());
  bool handled = false;
  box->MouseWheel(TShiftState{}, -120, handled);
  EXPECT_EQ(box->GetContent()->GetPosition()->GetY(), -60);
  box->SetShowScrollBars(true);
  EXPECT_EQ(bar->GetOpacity(), 1);
  EXPECT_EQ(bar->GetAlign(), vaRight);
}

TEST_F(ScrollBoxTest, SmallBarsReplaceTheLargeOnesAndTheSizeGripFollowsItsSwitch) {
  auto* box = MakeBox(100, 300);
  box->SetUseSmallScrollBars(true);
  EXPECT_EQ(box->GetVScrollBar()->GetResourceName(), "vsmallscrollbar");
  EXPECT_FALSE(box->FindResource("vscrollbar")->Visual()->GetVisible());
  EXPECT_EQ(box->GetViewportWidth(), 192);
  EXPECT_FALSE(box->FindResource("sizegrip")->Visual()->GetVisible());
  box->SetShowSizeGrip(true);
  EXPECT_TRUE(box->FindResource("sizegrip")->Visual()->GetVisible());
}

TEST_F(ScrollBoxTest, WithoutAStyleTheViewportIsTheBox) {
  TvgScrollBox box(nullptr);
  box.SetBounds(0, 0, 120, 80);
  EXPECT_EQ(box.GetViewportRect().Right, 120);
  EXPECT_EQ(box.GetViewportHeight(), 80);
  EXPECT_EQ(box.GetVScrollOffset(), 0);
  EXPECT_EQ(box.GetContentBounds().Bottom, 80);
}

TEST_F(ScrollBoxTest, AVerticalBoxKeepsTheContentAsWideAsTheViewport) {
  auto* box = Add<TvgVertScrollBox>(0, 0, 200, 100);
  EXPECT_EQ(box->GetResource(), "scrollboxstyle");
  auto* wide = new TvgVisualObject(nullptr);
  wide->SetBounds(0, 0, 100, 300);
  wide->SetParent(box);
  box->Realign();
  EXPECT_EQ(box->GetContent()->GetWidth(), box->GetViewportWidth());
  EXPECT_FALSE(box->GetHScrollBar()->GetVisible());
  EXPECT_TRUE(box->GetVScrollBar()->GetVisible());
  // A child wider than the viewport (and one left of it) is cut by the content, not scrolled to.
  wide->SetBounds(-20, 0, 500, 300);
  box->Realign();
  EXPECT_EQ(box->GetContent()->GetWidth(), box->GetViewportWidth());
  EXPECT_FALSE(box->GetHScrollBar()->GetEnabled());
  EXPECT_FALSE(box->GetHScrollBar()->GetVisible());
  EXPECT_EQ(box->GetContentBounds().Left, 0);
  EXPECT_EQ(box->GetContentBounds().Right, box->GetViewportWidth());
  EXPECT_EQ(box->GetContentBounds().Bottom, 300);
  EXPECT_EQ(box->GetContent()->GetClipRect().Right, box->GetViewportWidth());
  // The plain box scrolls to it.
  auto* plain = Add<TvgScrollBox>(0, 120, 200, 100);
  auto* same = new TvgVisualObject(nullptr);
  same->SetBounds(0, 0, 500, 300);
  same->SetParent(plain);
  plain->Realign();
  EXPECT_TRUE(plain->GetHScrollBar()->GetVisible());
}

TEST_F(ScrollBoxTest, LayoutsAndBoxesStreamOnlyWhatDiffers) {
  TvgScrollBox box(nullptr);
  TvgGridLayout grid(nullptr);
  TvgLayout layout(nullptr);
  for (TComponent* c : std::initializer_list<TComponent*>{&box, &grid, &layout}) {
    const std::string text = ComponentToText(c);
    for (const char* name : {"AutoHide", "Animated", "MouseTracking", "ShowScrollBars", "ItemWidth", "ItemHeight",
                             "Orientation", "HitTest"})
      EXPECT_EQ(text.find(name), std::string::npos) << name << "\n" << text;
  }
  box.SetAutoHide(false);
  box.SetMouseTracking(true);
  grid.SetItemWidth(30);
  std::unique_ptr<TvgObject> boxCopy(box.Clone(nullptr));
  std::unique_ptr<TvgObject> gridCopy(grid.Clone(nullptr));
  EXPECT_FALSE(dynamic_cast<TvgScrollBox*>(boxCopy.get())->GetAutoHide());
  EXPECT_TRUE(dynamic_cast<TvgScrollBox*>(boxCopy.get())->GetMouseTracking());
  EXPECT_EQ(dynamic_cast<TvgGridLayout*>(gridCopy.get())->GetItemWidth(), 30);
  TvgScaledLayout scaled(nullptr);
  scaled.SetOriginalWidth(321);
  std::unique_ptr<TvgObject> scaledCopy(scaled.Clone(nullptr));
  EXPECT_EQ(dynamic_cast<TvgScaledLayout*>(scaledCopy.get())->GetOriginalWidth(), 321);
}

}  // namespace
