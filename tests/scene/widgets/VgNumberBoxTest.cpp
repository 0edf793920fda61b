// The number and spin boxes: value text, clamping, reading typed text back, keys, drags and the
// spin buttons.
#include <gtest/gtest.h>

#include "WidgetsTestSupport.h"
#include "scene/widgets/vg_textbox.h"

namespace {

using NumberBoxTest = WidgetsFixture;

// The locale of these runs writes a full stop (the separator itself is tested in classlib's
// tests and under Wine with a decimal comma).
TEST_F(NumberBoxTest, TheValueShowsAsIntegerOrWithItsDecimalDigits) {
  auto* box = Add<TvgNumberBox>();
  box->SetMax(100);
  struct Case {
    TvgValueType type;
    float value;
    const char16_t* text;
  } cases[] = {{vgValueFloat, 3.14159f, u"3.14"}, {vgValueFloat, 4.0f, u"4"}, {vgValueInteger, 12.75f, u"12"},
               {vgValueFloat, -0.5f, u"0"}, {vgValueFloat, 250, u"100"}};
  for (const Case& c : cases) {
    box->SetValueType(c.type);
    box->SetValue(c.value);
    EXPECT_EQ(box->GetText(), c.text) << c.value;
  }
  box->SetMin(20);  // Min wins over a smaller Max
  box->SetMax(10);
  box->SetValue(15);
  EXPECT_EQ(box->GetValue(), 20);
}

TEST_F(NumberBoxTest, EnterReadsTypedTextBack) {
  auto* box = Add<TvgNumberBox>();
  box->SetMax(100);
  box->SetValue(7);
  box->SetFocus();
  Type(box, u"12.5");
  Key(box, kVkEnter);
  EXPECT_EQ(box->GetValue(), 12.5f);
  EXPECT_EQ(box->GetText(), u"12");  // an integer box shows the whole part
  box->SetValueType(vgValueFloat);
  box->SelectAll();
  Type(box, u"12.5");
  Key(box, kVkEnter);
  EXPECT_EQ(box->GetText(), u"12.5");
  box->SelectAll();
  Type(box, u"-");  // no number: the previous value comes back
  Key(box, kVkEnter);
  EXPECT_EQ(box->GetValue(), 12.5f);
  EXPECT_EQ(box->GetText(), u"12.5");
}

TEST_F(NumberBoxTest, LeavingTheBoxKeepsAValueShownWithFewerDigits) {
  auto* box = Add<TvgNumberBox>();
  box->SetValueType(vgValueFloat);
  box->SetValue(3.14159f);
  box->SetFocus();
  ASSERT_EQ(box->GetText(), u"3.14");
  Add<TvgTextBox>()->SetFocus();
  EXPECT_EQ(box->GetValue(), 3.14159f);
}

TEST_F(NumberBoxTest, UpAndDownStepTheValueAndReportTheChange) {
  auto* box = Add<TvgNumberBox>();
  box->SetValueType(vgValueFloat);
  box->SetValue(9.5f);
  box->OnChange = changes.Event();
  uint16_t key = kVkUp;
  WideChar ch = 0;
  box->KeyDown(key, ch, {});
  EXPECT_EQ(key, 0);
  EXPECT_EQ(box->GetValue(), 10);
  EXPECT_EQ(changes.count, 1);
  Key(box, kVkDown);
  EXPECT_EQ(box->GetValue(), 9);
  EXPECT_EQ(changes.count, 2);
}

TEST_F(NumberBoxTest, DraggingStepsOncePerMoveAndAPressAloneChangesNothing) {
  auto* box = Add<TvgNumberBox>();
  box->SetMax(100);
  box->SetValue(50);
  box->SetFocus();
  box->OnChange = changes.Event();
  box->MouseDown(mbLeft, TShiftState{ssLeft}, 50, 10);
  box->MouseMove(TShiftState{ssLeft}, 50, 10, 0, 0);  // no movement
  EXPECT_EQ(box->GetValue(), 50);
  box->MouseMove(TShiftState{ssLeft}, 53, 11, 3, 1);   // sideways: +1
  box->MouseMove(TShiftState{ssLeft}, 52, 4, -1, -7);  // up: +5
  EXPECT_TRUE(box->GetPressed());
  box->MouseMove(TShiftState{ssLeft}, 52, 9, 0, 5);    // down: -5
  EXPECT_EQ(box->GetValue(), 51);
  box->MouseUp(mbLeft, TShiftState{}, 52, 9);
  EXPECT_EQ(changes.count, 1);
  box->MouseDown(mbLeft, TShiftState{ssLeft}, 52, 9);
  box->MouseUp(mbLeft, TShiftState{}, 52, 9);
  EXPECT_EQ(box->GetValue(), 51);
  EXPECT_EQ(changes.count, 1);
}

TEST_F(NumberBoxTest, TheDragIndicatorShowsTheLastDirection) {
  auto* box = Add<TvgNumberBox>(0, 0, 100, 22);
  box->MouseDown(mbLeft, TShiftState{ssLeft}, 50, 10);
  box->MouseMove(TShiftState{ssLeft}, 50, 4, 0, -6);
  canvas.calls.clear();
  box->PaintChildren();
  const auto fills = canvas.Of("FillRect");
  ASSERT_FALSE(fills.empty());
  EXPECT_EQ(fills.back().Rect, vgRect(94, 1, 99, 21));
  EXPECT_EQ(fills.back().FillColor, 0xAA505050u);
  box->MouseUp(mbLeft, TShiftState{}, 50, 4);
  canvas.calls.clear();
  box->PaintChildren();
  EXPECT_TRUE(canvas.Of("FillRect").empty() || canvas.Of("FillRect").back().FillColor != 0xAA505050u);
}

TEST_F(NumberBoxTest, SpinButtonsStepByTheIncrement) {
  auto* spin = Add<TvgSpinBox>();
  EXPECT_EQ(spin->GetTextAlign(), vgTextAlignCenter);
  spin->OnChange = changes.Event();
  spin->SetValueType(vgValueFloat);
  spin->SetIncrement(0.5f);
  ASSERT_NE(spin->GetPlusButton(), nullptr);
  spin->GetPlusButton()->Click();
  spin->GetPlusButton()->Click();
  spin->GetMinusButton()->Click();
  EXPECT_EQ(spin->GetValue(), 0.5f);
  EXPECT_EQ(changes.count, 3);
  EXPECT_TRUE(spin->GetIsFocused());
  spin->SetValueType(vgValueInteger);
  EXPECT_EQ(spin->GetIncrement(), 1);
  Key(spin, kVkUp);
  EXPECT_EQ(spin->GetValue(), 1.5f);
  EXPECT_EQ(spin->GetText(), u"1");
}

TEST_F(NumberBoxTest, OnlyNumberCharactersAreTyped) {
  auto* box = Add<TvgNumberBox>();
  box->SetMax(1000);
  box->SetFocus();
  Type(box, u"1x2,5e");
  EXPECT_EQ(box->GetText(), u"12,5");
  box->SetData(Variant(42.0));
  EXPECT_EQ(box->GetValue(), 42);
  box->SetData(Variant("not a number"));
  EXPECT_EQ(box->GetValue(), 42);
}

}  // namespace
