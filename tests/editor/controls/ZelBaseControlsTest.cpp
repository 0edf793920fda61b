// The maker's base controls, label, divider and image button against a recording canvas: fonts
// taken from parents, fill and stroke handed to the canvas, label sizing, the image chosen by
// state and mouse, design-time outlines and registration.
#include <gtest/gtest.h>

#include "ZelTestSupport.h"
#include "editor/controls/zel_BitmapButton.h"
#include "editor/controls/zel_Div.h"
#include "editor/controls/zel_Controls.h"
#include "editor/controls/zel_Label.h"
#include "editor/controls/zel_ScrollBar.h"
#include "editor/controls/zel_knobs.h"
#include "scene/core/vg_registry.h"

namespace {

class ZelBase : public ::testing::Test {
 protected:
  TZelSceneFixture f;
};

// --- Fonts and colours

TEST_F(ZelBase, LabelWithParentFontUsesTheNearestDividerThatKeepsItsOwn) {
  auto* outer = f.Add(new TvgZelDiv(nullptr));
  outer->GetFont()->SetFamily("Outer");
  auto* div = new TvgZelDiv(nullptr);
  div->GetFont()->SetFamily("Inner");
  div->GetFont()->SetSize(17);
  div->SetParent(outer);
  auto* label = new TvgZelLabel(nullptr);
  label->SetParent(div);
  label->SetText(u"Delay");

  label->SetUseParentFont(true);
  f.Paint(label);
  auto texts = f.canvas.Calls("FillText");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].FontFamily, "Inner");
  EXPECT_EQ(texts[0].FontSize, 17);

  // The divider passing its parent's font on makes the label reach the outer one.
  div->SetUseParentFont(true);
  f.Paint(label);
  EXPECT_EQ(f.canvas.Calls("FillText")[0].FontFamily, "Outer");

  label->SetUseParentFont(false);
  f.Paint(label);
  EXPECT_EQ(f.canvas.Calls("FillText")[0].FontFamily, "Tahoma");
}

TEST_F(ZelBase, ColourTextIsParsed) {
  TvgZelLabel label(nullptr);
  EXPECT_EQ(label.GetColorValue(), 0xFF000000u);
  label.SetColor("#80112233");
  EXPECT_EQ(label.GetColorValue(), 0x80112233u);
  EXPECT_EQ(label.GetColor(), "#80112233");
  label.SetColor("Red");
  EXPECT_EQ(label.GetColorValue(), 0xFFFF0000u);
}

// --- Label

TEST_F(ZelBase, LabelPaintsItsTextInsetByHalfAUnitInItsColour) {
  auto* label = f.Add(new TvgZelLabel(nullptr));
  EXPECT_EQ(label->GetWidth(), 74);
  EXPECT_EQ(label->GetHeight(), 20);
  label->SetColor("#FF00FF00");
  label->SetText(u"Feedback");
  label->SetTextAlign(vgTextAlignFar);
  f.Paint(label);
  auto texts = f.canvas.Calls("FillText");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].Text, u"Feedback");
  EXPECT_EQ(texts[0].Rect, vgRect(0.5f, 0.5f, 73.5f, 19.5f));
  EXPECT_EQ(texts[0].FillColor, 0xFF00FF00u);
  EXPECT_EQ(texts[0].Horz, vgTextAlignFar);
  EXPECT_EQ(texts[0].Vert, vgTextAlignCenter);
  EXPECT_FALSE(texts[0].WordWrap);
  EXPECT_EQ(texts[0].Opacity, 1);
  EXPECT_TRUE(f.canvas.Calls("DrawRect").empty()) << "no outline at run time";
}

TEST_F(ZelBase, CentredLabelNeverResizesItself) {
  auto* label = f.Add(new TvgZelLabel(nullptr));
  label->SetAutoSize(true);
  label->SetText(u"A much longer caption");
  EXPECT_EQ(label->GetWidth(), 74);
}

TEST_F(ZelBase, NearLabelTakesTheMeasuredWidthPlusATenth) {
  auto* label = f.Add(new TvgZelLabel(nullptr));
  label->SetTextAlign(vgTextAlignNear);
  label->GetPosition()->SetX(100);
  label->SetText(u"ABCDEFGHIJ");  // measured 70 wide
  EXPECT_EQ(label->GetWidth(), 74) << "AutoSize is off";
  label->SetAutoSize(true);
  EXPECT_FLOAT_EQ(label->GetWidth(), 77);
  EXPECT_EQ(label->GetPosition()->GetX(), 100);
}

TEST_F(ZelBase, FarLabelKeepsItsRightEdge) {
  auto* label = f.Add(new TvgZelLabel(nullptr));
  label->SetTextAlign(vgTextAlignFar);
  label->GetPosition()->SetX(100);  // right edge at 174
  label->SetText(u"ABCDEFGHIJKLMNOPQRST");  // 140 wide, 154 with the margin
  label->SetAutoSize(true);
  EXPECT_FLOAT_EQ(label->GetWidth(), 154);
  EXPECT_FLOAT_EQ(label->GetPosition()->GetX() + label->GetWidth(), 174);
  label->SetText(u"ABCDEFGHIJ");  // 77
  EXPECT_FLOAT_EQ(label->GetWidth(), 77);
  EXPECT_FLOAT_EQ(label->GetPosition()->GetX() + label->GetWidth(), 174);
}

TEST_F(ZelBase, LabelWithoutCanvasDoesNotResize) {
  TvgZelLabel label(nullptr);
  label.SetTextAlign(vgTextAlignNear);
  label.SetAutoSize(true);
  label.SetText(u"Whatever");
  EXPECT_EQ(label.GetWidth(), 74);
}

// --- Stroke and fill

class TProbeStrokeFill : public TvgControlWithStrokeAndFill {
  KBL_DECLARE_CLASS(TProbeStrokeFill, TvgControlWithStrokeAndFill)
 public:
  explicit TProbeStrokeFill(TComponent* owner) : TvgControlWithStrokeAndFill(owner) {}
  void Paint() override { GetCanvas()->FillRect(GetLocalRect(), 0, 0, vgAllCorners, 1); }
};
KBL_PUBLISHED(TProbeStrokeFill) {}

TEST_F(ZelBase, BeforePaintHandsFillStrokeAndSettingsToTheCanvas) {
  auto* c = f.Add(new TProbeStrokeFill(nullptr));
  EXPECT_EQ(c->GetFill()->GetSolidColor(), 0xFFE0E0E0u);
  EXPECT_EQ(c->GetStroke()->GetSolidColor(), 0xFF000000u);
  c->GetFill()->SetSolidColor(0xFF123456u);
  c->GetStroke()->SetSolidColor(0xFF654321u);
  c->SetStrokeThickness(3);
  c->SetStrokeCap(vgCapRound);
  c->SetStrokeDash(vgDashDot);
  f.Paint(c);
  auto fills = f.canvas.Calls("FillRect");
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_EQ(fills[0].FillColor, 0xFF123456u);
  EXPECT_EQ(fills[0].StrokeColor, 0xFF654321u);
  EXPECT_EQ(fills[0].StrokeThickness, 3);
  EXPECT_EQ(fills[0].Cap, vgCapRound);
  EXPECT_EQ(fills[0].Dash, vgDashDot);
}

TEST_F(ZelBase, BrushChangesRepaint) {
  auto* c = f.Add(new TProbeStrokeFill(nullptr));
  f.scene.updates.clear();
  c->GetFill()->SetSolidColor(0xFF00FF00u);
  EXPECT_EQ(f.scene.updates.size(), 1u);
  c->GetStroke()->SetSolidColor(0xFF00FF00u);
  EXPECT_EQ(f.scene.updates.size(), 2u);
}

// --- Image button

TEST_F(ZelBase, ImageButtonChoosesTheImageByStateAndMouse) {
  auto* b = f.Add(new TvgZelBitmapButton(nullptr));
  b->SetWidth(93);
  b->SetHeight(46);
  TvgBitmap on(10, 5), onOver(10, 5), off(10, 5), offOver(10, 5);
  b->SetBitmapOn(&on);
  b->SetBitmapOnMouseOver(&onOver);
  b->SetBitmapOff(&off);
  b->SetBitmapOffMouseOver(&offOver);

  auto drawn = [&] {
    f.Paint(b);
    auto calls = f.canvas.Calls("DrawBitmap");
    return calls.size() == 1 ? calls[0].Bitmap : nullptr;
  };
  EXPECT_EQ(drawn(), &off);
  b->MouseEnter();
  EXPECT_EQ(drawn(), &offOver);
  b->SetIsOn(true);
  EXPECT_EQ(drawn(), &onOver);
  b->MouseLeave();
  EXPECT_EQ(drawn(), &on);

  f.Paint(b);
  auto calls = f.canvas.Calls("DrawBitmap");
  EXPECT_EQ(calls[0].Rect, vgRect(0, 0, 93, 46)) << "scaled into the whole button";
  EXPECT_EQ(calls[0].Source, vgRect(0, 0, 10, 5));
  EXPECT_FALSE(calls[0].HighSpeed);
  EXPECT_EQ(calls[0].Opacity, 1);
}

TEST_F(ZelBase, ImageButtonMouseEnterAndLeaveRepaint) {
  auto* b = f.Add(new TvgZelBitmapButton(nullptr));
  f.scene.updates.clear();
  b->MouseEnter();
  b->MouseLeave();
  EXPECT_EQ(f.scene.updates.size(), 2u);
}

TEST_F(ZelBase, ImageButtonWithoutImagesStillDrawsItsText) {
  auto* b = f.Add(new TvgZelBitmapButton(nullptr));
  b->SetTextOn("ON");
  b->SetTextOff("OFF");
  b->SetText(u"not drawn");
  f.Paint(b);
  EXPECT_TRUE(f.canvas.Calls("DrawBitmap").empty());
  auto texts = f.canvas.Calls("FillText");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].Text, u"OFF");
  EXPECT_EQ(texts[0].Horz, vgTextAlignCenter);
  b->SetIsOn(true);
  f.Paint(b);
  EXPECT_EQ(f.canvas.Calls("FillText")[0].Text, u"ON");
}

TEST_F(ZelBase, TextColourAloneDoesNotRepaintButShowsAtTheNextPaint) {
  auto* b = f.Add(new TvgZelBitmapButton(nullptr));
  b->SetTextOff("OFF");
  f.scene.updates.clear();
  b->SetTextColor("#FFFF0000");
  EXPECT_TRUE(f.scene.updates.empty());
  f.Paint(b);
  EXPECT_EQ(f.canvas.Calls("FillText")[0].FillColor, 0xFFFF0000u);
  f.scene.updates.clear();
  b->SetIsOn(false);
  EXPECT_TRUE(f.scene.updates.empty()) << "IsOn unchanged";
  b->SetIsOn(true);
  EXPECT_EQ(f.scene.updates.size(), 1u);
}

// --- Design-time outline

TEST_F(ZelBase, DesignTimeOutlineIsADashedGreyRectInsetByHalfAUnit) {
  f.scene.designTime = true;
  auto* div = f.Add(new TvgZelDiv(nullptr));
  div->SetWidth(30);
  div->SetHeight(10);
  f.Paint(div);
  auto outlines = f.canvas.Calls("DrawRect");
  ASSERT_EQ(outlines.size(), 1u);
  EXPECT_EQ(outlines[0].Rect, vgRect(0.5f, 0.5f, 29.5f, 9.5f));
  EXPECT_EQ(outlines[0].StrokeColor, kZelDesignOutlineColor);
  EXPECT_EQ(outlines[0].Dash, vgDashDash);
  EXPECT_EQ(outlines[0].StrokeThickness, 1);
  EXPECT_EQ(f.canvas.calls.size(), 1u) << "the divider draws nothing else";
  EXPECT_EQ(f.canvas.GetStrokeDash(), vgDashSolid) << "the canvas's dash is given back";

  f.scene.designTime = false;
  f.Paint(div);
  EXPECT_TRUE(f.canvas.calls.empty());
}

// --- Registration

TEST(ZelRegistration, ClassesAreFoundByNameUnderTheirCategories) {
  ZelRegisterLabel();
  ZelRegisterDiv();
  ZelRegisterBitmapButton();
  ZelRegisterLabel();
  int found = 0;
  for (const auto& [category, cls] : vgObjectCategories()) {
    if (cls == TvgZelLabel::StaticClassInfo() || cls == TvgZelDiv::StaticClassInfo()) {
      EXPECT_EQ(category, "Zel Basic Controls");
      ++found;
    }
    if (cls == TvgZelBitmapButton::StaticClassInfo()) {
      EXPECT_EQ(category, "Zel");
      ++found;
    }
  }
  EXPECT_EQ(found, 3);
  EXPECT_EQ(GetClass("TvgZelLabel"), TvgZelLabel::StaticClassInfo());
  ZelRegisterControls();
  EXPECT_EQ(GetClass("TvgZelScrollBar"), TvgZelScrollBar::StaticClassInfo());
  EXPECT_EQ(GetClass("TvgZelGuageButton"), TvgZelGuageButton::StaticClassInfo());
  EXPECT_EQ(GetClass("TvgZelSampleDisplay") != nullptr, true);
}

TEST(ZelStreaming, LabelSurvivesAFormTextRoundTrip) {
  ZelRegisterLabel();
  TvgZelLabel label(nullptr);
  label.SetText(u"Time");
  label.SetColor("#FF102030");
  label.SetTextAlign(vgTextAlignNear);
  label.GetFont()->SetSize(14);
  TMemoryStream stream;
  label.SaveToBinStream(stream);
  stream.SetPosition(0);
  std::unique_ptr<TComponent> copy(vgCreateObjectFromBinStream(nullptr, stream));
  auto* back = dynamic_cast<TvgZelLabel*>(copy.get());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->GetText(), u"Time");
  EXPECT_EQ(back->GetColorValue(), 0xFF102030u);
  EXPECT_EQ(back->GetTextAlign(), vgTextAlignNear);
  EXPECT_EQ(back->GetFont()->GetSize(), 14);
}

}  // namespace
