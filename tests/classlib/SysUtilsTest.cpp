// Conversions with the original class library's rules: integers, trimming, lines, rounding.
#include "classlib/SysUtils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

TEST(StrToInt, AcceptsBlanksSignsAndBothHexForms) {
  EXPECT_EQ(StrToInt("  42"), 42);
  EXPECT_EQ(StrToInt("\t-17"), -17);
  EXPECT_EQ(StrToInt("+8"), 8);
  EXPECT_EQ(StrToInt("$1F"), 31);
  EXPECT_EQ(StrToInt("0x1f"), 31);
  EXPECT_EQ(StrToInt("-$10"), -16);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(StrToInt("-2147483648"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(StrToInt("2147483647"), std::numeric_limits<int32_t>::max());
}

TEST(StrToInt, RejectsTrailingTextEmptyAndOverflow) {
  for (const char* bad : {"", "   ", "12 ", "1.5", "abc", "2147483648", "-2147483649", "$", "0x", "$100000000", "--1"}) {
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
    EXPECT_EQ(StrToIntDef(bad, 7), 7) << bad;
  }
  try {
    StrToInt("x1");
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'x1' is not a valid integer value");
  }
  EXPECT_EQ(StrToInt64("9223372036854775807"), std::numeric_limits<int64_t>::max());
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
}

TEST(Text, TrimCaseAndHex) {
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(TrimLeft("  x "), "x ");
  EXPECT_EQ(TrimRight("  x "), "  x");
  EXPECT_TRUE(SameText("Delay_Parameters", "DELAY_parameters"));
  EXPECT_FALSE(SameText("abc", "abd"));
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_EQ(IntToHex(0xBEEF, 8), "0000BEEF");
  EXPECT_EQ(IntToStr(-5), "-5");
}

TEST(Text, SplitLinesOnEveryLineBreakKind) {
  std::vector<std::string> expected{"a", "b", "", "c", "d"};
  EXPECT_EQ(SplitLines("a\r\nb\n\rc\rd"), (std::vector<std::string>{"a", "b", "", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\nb\r\n"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(SplitLines("").empty());
  EXPECT_EQ(SplitLines("\n"), (std::vector<std::string>{""}));
}

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(Round(0.5), 0);
  EXPECT_EQ(Round(1.5), 2);
  EXPECT_EQ(Round(2.5), 2);
  EXPECT_EQ(Round(-0.5), 0);
  EXPECT_EQ(Round(-1.5), -2);
  EXPECT_EQ(Round(-2.5), -2);
  EXPECT_EQ(Round(2.4999), 2);
  EXPECT_EQ(Round(-2.5001), -3);
  EXPECT_EQ(Round(std::nan("")), 0);
  EXPECT_EQ(Round(1e300), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(Trunc(-2.9), -2);
}

TEST(Floats, DotSeparatorWhateverTheLocale) {
  // A host may run with a comma locale; number text must not follow it.
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = previous ? previous : "C";
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  EXPECT_EQ(FloatToStrDot(1.25, 3), "1.250");
  EXPECT_EQ(FloatToStrDot(0.1), "0.1");
  double value = 0;
  EXPECT_TRUE(TryStrToFloatDot(" 2.5 ", value));
  EXPECT_EQ(value, 2.5);
  EXPECT_FALSE(TryStrToFloatDot("2,5", value));
  EXPECT_FALSE(TryStrToFloatDot("", value));
  std::setlocale(LC_NUMERIC, saved.c_str());
}
