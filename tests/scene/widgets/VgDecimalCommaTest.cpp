// The number boxes under a user locale whose decimal separator is a comma (the test runs with
// Wine started in the de_DE.UTF-8 locale, which it maps to the German user locale): values are shown and typed
// with the comma, a full stop is no separator there, and the locale is only read.
#include <gtest/gtest.h>

#include "WidgetsTestSupport.h"
#include "classlib/SysUtils.h"
#include "scene/widgets/vg_textbox.h"

namespace {

using DecimalCommaTest = WidgetsFixture;

TEST_F(DecimalCommaTest, NumberBoxesWriteAndReadTheUsersSeparator) {
  ASSERT_EQ(GetLocaleFormatSettings().DecimalSeparator, u',');
  auto* box = Add<TvgNumberBox>();
  box->SetMax(100);
  box->SetValueType(vgValueFloat);
  box->SetValue(3.14159f);
  EXPECT_EQ(box->GetText(), u"3,14");
  box->SetFocus();
  Type(box, u"12,5");
  Key(box, kVkEnter);
  EXPECT_EQ(box->GetValue(), 12.5f);
  EXPECT_EQ(box->GetText(), u"12,5");
  box->SelectAll();
  Type(box, u"7.5");  // not a number here: the value stays
  Key(box, kVkEnter);
  EXPECT_EQ(box->GetValue(), 12.5f);
  EXPECT_EQ(box->GetText(), u"12,5");
  auto* combo = Add<TvgComboTrackBar>();
  combo->GetTrackBar()->SetValue(2.5f);
  EXPECT_EQ(combo->GetText(), u"2.500");  // the track's own text keeps its full stop
  combo->SetFocus();
  Type(combo, u"7,25");
  Key(combo, kVkEnter);
  EXPECT_EQ(combo->GetValue(), 7.25f);
  EXPECT_EQ(GetLocaleFormatSettings().DecimalSeparator, u',');  // read, never changed
}

}  // namespace
