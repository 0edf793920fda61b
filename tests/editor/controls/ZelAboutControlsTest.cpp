// The multi-line text, the flat button and the scroll bar against a recording canvas: line
// layout and slider reports, button modes, opacities, thumb geometry and dragging.
#include <gtest/gtest.h>

#include "ZelTestSupport.h"
#include "editor/controls/zel_FlatButton.h"
#include "editor/controls/zel_MultiLineText.h"
#include "editor/controls/zel_ScrollBar.h"

namespace {

class ZelAbout : public ::testing::Test {
 public:
  void Changed(TObject*) { ++changes; }
  void Sliders(TObject*, TShowSliders s) { reports.push_back(s); }
  // Whether the handler runs as code of the control that fired it.
  void Running(TObject* sender) { running.push_back(ComponentCodeRunning(static_cast<TComponent*>(sender))); }
  void SlidersRunning(TObject* sender, TShowSliders) { Running(sender); }

 protected:
  TZelSceneFixture f;
  int changes = 0;
  std::vector<TShowSliders> reports;
  std::vector<bool> running;
};

// Handlers fired by the program's calls run as code of the control (a form released there waits
// for them), as the scene's own controls' do.
TEST_F(ZelAbout, HandlersRunAsCodeOfTheirControl) {
  auto* t = f.Add(new TvgZelMultiLineText(nullptr));
  t->OnShowSliders = TShowSlidersEvent::Of<&ZelAbout::SlidersRunning>(this);
  TvgWideStringList lines;
  lines.Add(u"Tarvik");
  t->SetLines(&lines);
  auto* b = f.Add(new TvgZelFlatButton(nullptr));
  b->OnChanged = TNotifyEvent::Of<&ZelAbout::Running>(this);
  b->SetButtonMode(bmToggle);
  b->MouseDown(mbLeft, {}, 5, 5);
  auto* bar = f.Add(new TvgZelScrollBar(nullptr));
  bar->SetBounds(0, 0, 16, 100);
  bar->OnChanged = TNotifyEvent::Of<&ZelAbout::Running>(this);
  bar->MouseDown(mbLeft, {}, 8, 5);
  EXPECT_EQ(running, (std::vector<bool>{true, true, true}));
}

// --- Multi-line text

TEST_F(ZelAbout, LinesAreDrawnEveryOnePointTwoTextHeightsFromTheOffset) {
  auto* t = f.Add(new TvgZelMultiLineText(nullptr));
  t->SetWidth(200);
  t->SetHeight(30);
  t->SetColorText("#FFFFFFFF");
  t->SetTextAlign(vgTextAlignNear);
  t->SetVertOffset(-5);
  TvgWideStringList lines;
  lines.Add(u"Tarvik");
  lines.Add(u"");
  lines.Add(u"KBL Delay");
  t->OnShowSliders = TShowSlidersEvent::Of<&ZelAbout::Sliders>(this);
  t->SetLines(&lines);
  f.Paint(t);
  auto texts = f.canvas.Calls("FillText");
  ASSERT_EQ(texts.size(), 2u) << "the empty line is skipped";
  const float h = 13;  // the recording canvas's text height
  EXPECT_EQ(texts[0].Rect, vgRect(0, -5, 200, -5 + h));
  EXPECT_EQ(texts[1].Text, u"KBL Delay");
  EXPECT_FLOAT_EQ(texts[1].Rect.Top, -5 + 2 * 1.2f * h);
  EXPECT_EQ(texts[1].FillColor, 0xFFFFFFFFu);
  EXPECT_EQ(texts[1].Horz, vgTextAlignNear);
  EXPECT_FLOAT_EQ(t->GetMeasuredHeight(), 3 * 1.2f * h);
  EXPECT_FLOAT_EQ(t->GetTextHeight(), 3 * 1.2f * h);
  // Measured 46.8 after the paint: taller than 30.
  t->SetLines(&lines);
  EXPECT_EQ(reports, (std::vector<TShowSliders>{ssNone, ssVert}));
}

// --- Flat button

TEST_F(ZelAbout, HeldButtonIsOnOnlyWhileTheLeftButtonIsDown) {
  auto* b = f.Add(new TvgZelFlatButton(nullptr));
  b->OnChanged = TNotifyEvent::Of<&ZelAbout::Changed>(this);
  b->SetButtonMode(bmHeld);
  b->MouseDown(mbLeft, {}, 5, 5);
  EXPECT_TRUE(b->GetIsOn());
  EXPECT_TRUE(b->GetPressed());
  b->MouseUp(mbLeft, {}, 5, 5);
  EXPECT_FALSE(b->GetIsOn());
  EXPECT_EQ(changes, 2);
  b->MouseDown(mbRight, {}, 5, 5);
  EXPECT_FALSE(b->GetIsOn());
}

TEST_F(ZelAbout, ToggleAndManualModes) {
  auto* b = f.Add(new TvgZelFlatButton(nullptr));
  b->OnChanged = TNotifyEvent::Of<&ZelAbout::Changed>(this);
  EXPECT_EQ(b->GetButtonMode(), bmToggle);
  b->MouseDown(mbLeft, {}, 5, 5);
  b->MouseUp(mbLeft, {}, 5, 5);
  EXPECT_TRUE(b->GetIsOn());
  b->MouseDown(mbLeft, {}, 5, 5);
  b->MouseUp(mbLeft, {}, 5, 5);
  EXPECT_FALSE(b->GetIsOn());
  EXPECT_EQ(changes, 2);
  b->SetButtonMode(bmManual);
  b->MouseDown(mbLeft, {}, 5, 5);
  b->MouseUp(mbLeft, {}, 5, 5);
  EXPECT_FALSE(b->GetIsOn());
  EXPECT_EQ(changes, 2);
}

TEST_F(ZelAbout, FlatButtonPaintsAtTheOpacityOfItsState) {
  auto* b = f.Add(new TvgZelFlatButton(nullptr));
  b->SetWidth(88);
  b->SetHeight(29);
  b->SetTextOff(u"Close");
  b->SetButtonMode(bmManual);
  f.Paint(b);
  auto fills = f.canvas.Calls("FillRect");
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_EQ(fills[0].Rect, vgRect(0.5f, 0.5f, 87.5f, 28.5f));
  EXPECT_FLOAT_EQ(fills[0].Opacity, 0.2f);
  EXPECT_EQ(fills[0].FillColor, 0xFF333333u);
  auto texts = f.canvas.Calls("FillText");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].Text, u"Close");
  EXPECT_EQ(texts[0].FillColor, 0xFF000000u);
  EXPECT_FLOAT_EQ(texts[0].Opacity, 0.2f);
  b->MouseEnter();
  f.Paint(b);
  EXPECT_FLOAT_EQ(f.canvas.Calls("FillRect")[0].Opacity, 0.5f);
  b->MouseDown(mbLeft, {}, 5, 5);
  f.Paint(b);
  EXPECT_FLOAT_EQ(f.canvas.Calls("FillRect")[0].Opacity, 0.9f);
}

// --- Scroll bar

class ZelScroll : public ZelAbout {
 protected:
  void SetUp() override {
    bar = f.Add(new TvgZelScrollBar(nullptr));
    bar->SetWidth(25);
    bar->SetHeight(512);
    bar->OnChanged = TNotifyEvent::Of<&ZelAbout::Changed>(this);
  }
  TZelCursorRecorder cursor;
  TvgZelScrollBar* bar = nullptr;
};

TEST_F(ZelScroll, VerticalThumbRunsFromTheTopAtOneToTheBottomAtZero) {
  bar->SetScrollPos(1);
  f.Paint(bar);
  const float len = 510 * 0.3f;
  EXPECT_FLOAT_EQ(bar->GetThumbRect().Top, 1);
  EXPECT_FLOAT_EQ(bar->GetThumbRect().Bottom, 1 + len);
  EXPECT_EQ(bar->GetThumbRect().Left, 1);
  EXPECT_EQ(bar->GetThumbRect().Right, 24);
  bar->SetScrollPos(0);
  f.Paint(bar);
  EXPECT_FLOAT_EQ(bar->GetThumbRect().Bottom, 511);
  auto fills = f.canvas.Calls("FillRect");
  ASSERT_EQ(fills.size(), 2u);
  EXPECT_EQ(fills[0].FillColor, 0xFF353535u);
  EXPECT_EQ(fills[1].FillStyle, vgBrushGradient);
  EXPECT_EQ(f.canvas.Calls("DrawRect")[0].StrokeColor, 0xFF000000u);
  EXPECT_EQ(changes, 0) << "setting the position fires nothing";
}

TEST_F(ZelScroll, IndexSizeAboveOneBecomesOneAndSuchABarDoesNotMove) {
  bar->SetIndexSize(3);
  EXPECT_EQ(bar->GetIndexSize(), 1);
  bar->SetScrollPos(0.5f);
  bar->MouseDown(mbLeft, {}, 10, 500);
  bar->MouseMove({}, 10, 100, 0, 0);
  bar->MouseUp(mbLeft, {}, 10, 100);
  EXPECT_EQ(bar->GetScrollPos(), 0.5f);
}

TEST_F(ZelScroll, PressBesideTheThumbCentresItUnderTheMouse) {
  bar->SetScrollPos(1);
  bar->MouseDown(mbLeft, {}, 10, 256);
  EXPECT_NEAR(bar->GetScrollPos(), 1 - (256 - 512 * 0.3f * 0.5f) / (0.7f * 512), 1e-5);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(cursor.shows, std::vector<bool>{false});
  bar->MouseUp(mbLeft, {}, 10, 256);
  ASSERT_EQ(cursor.positions.size(), 1u);
  const TvgRect t = bar->GetThumbRect();
  EXPECT_EQ(cursor.positions[0], vgPoint(float(Round(1000 + (t.Left + t.Right) / 2)), float(Round(2000 + (t.Top + t.Bottom) / 2))));
  EXPECT_EQ(cursor.shows, (std::vector<bool>{false, true}));
  bar->MouseDown(mbLeft, {}, 10, 2000);
  EXPECT_EQ(bar->GetScrollPos(), 0) << "clamped";
}

TEST_F(ZelScroll, DraggingTheThumbMovesByTheTrackAndClamps) {
  bar->SetScrollPos(1);
  f.Paint(bar);
  bar->MouseDown(mbLeft, {}, 10, 20);  // on the thumb
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(bar->GetScrollPos(), 1);
  bar->MouseMove({}, 10, 110, 0, 0);  // 90 of the 358.4 units the thumb can travel
  EXPECT_NEAR(bar->GetScrollPos(), 1 - 90 / (0.7f * 512), 1e-5);
  EXPECT_EQ(changes, 2) << "once for the change and once after the move";
  bar->MouseMove({}, 10, 5000, 0, 0);
  EXPECT_EQ(bar->GetScrollPos(), 0);
  bar->MouseUp(mbLeft, {}, 10, 5000);
  EXPECT_FALSE(bar->GetDragging());
}

TEST_F(ZelScroll, HorizontalBarRunsLeftToRight) {
  bar->SetKind(sbHorizontal);
  bar->SetWidth(200);
  bar->SetHeight(20);
  bar->SetIndexSize(0.5f);
  bar->SetScrollPos(1);
  f.Paint(bar);
  EXPECT_FLOAT_EQ(bar->GetThumbRect().Right, 199);
  EXPECT_FLOAT_EQ(bar->GetThumbRect().Left, 100);
  bar->MouseDown(mbLeft, {}, 150, 10);
  bar->MouseMove({}, 100, 10, 0, 0);
  EXPECT_NEAR(bar->GetScrollPos(), 0.5f, 1e-5);
}

}  // namespace
