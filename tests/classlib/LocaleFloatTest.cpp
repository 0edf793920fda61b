// Floats in the user's number format, the stack of pointers and the clipboard's bounded
// reading of text blocks.
#include <gtest/gtest.h>

#include <cstring>

#include "classlib/Clipbrd.h"
#include "classlib/Contnrs.h"
#include "classlib/SysUtils.h"

namespace {

const TFormatSettings kComma{u','};
const TFormatSettings kDot{u'.'};

TEST(LocaleFloat, WritesWithTheSeparatorOfTheSettings) {
  EXPECT_EQ(FloatToStrFixed(3.14159, 2, kComma), u"3,14");
  EXPECT_EQ(FloatToStrFixed(-0.5, 3, kDot), u"-0.500");
  EXPECT_EQ(FloatToStrFixed(2.5, -1, kComma), u"2");  // halves to even, no separator
  EXPECT_EQ(FloatToStrShortest(3.14159f, kComma), u"3,14159");
  EXPECT_EQ(FloatToStrShortest(12.5f, kDot), u"12.5");
  EXPECT_EQ(FloatToStrShortest(1e20f, kDot), u"1e+20");
}

TEST(LocaleFloat, ReadsOnlyTheSeparatorOfTheSettings) {
  struct Case {
    const char16_t* text;
    const TFormatSettings& settings;
    bool ok;
    double value;
  } cases[] = {{u" 12,5 ", kComma, true, 12.5},  {u"12.5", kComma, false, 0}, {u"-3", kComma, true, -3},
               {u"+1,5e2", kComma, true, 150},    {u"12.5", kDot, true, 12.5},  {u"1,5", kDot, false, 0},
               {u"-", kDot, false, 0},            {u"", kDot, false, 0},        {u"inf", kDot, false, 0},
               {u"1,2,3", kComma, false, 0},      {u"\u0661", kDot, false, 0}};
  for (const Case& c : cases) {
    double value = -99;
    EXPECT_EQ(TryStrToFloat(c.text, value, c.settings), c.ok) << WideToUtf8(c.text);
    EXPECT_EQ(value, c.ok ? c.value : -99);
  }
}

TEST(Stack, PopsInReverseOrderAndAnswersNothingWhenEmpty) {
  TStack stack;
  int a = 1, b = 2;
  EXPECT_EQ(stack.Pop(), nullptr);
  EXPECT_EQ(stack.Peek(), nullptr);
  stack.Push(&a);
  stack.Push(&b);
  EXPECT_TRUE(stack.AtLeast(2));
  EXPECT_FALSE(stack.AtLeast(3));
  EXPECT_EQ(stack.Peek(), &b);
  EXPECT_EQ(stack.Pop(), &b);
  EXPECT_EQ(stack.Pop(), &a);
  EXPECT_EQ(stack.Count(), 0);
}

TEST(ClipboardBlock, ReadsNoFurtherThanTheBlock) {
  // A block without terminator, with an odd last byte.
  const char16_t units[] = {u'a', u'b', u'c'};
  unsigned char bytes[7];
  std::memcpy(bytes, units, 6);
  bytes[6] = 'x';
  EXPECT_EQ(ClipboardTextOfBlock(bytes, 7, true), u"abc");
  EXPECT_EQ(ClipboardTextOfBlock(bytes + 1, 4, true).size(), 2u);  // unaligned start
  const char16_t terminated[] = u"ab\0cd";
  EXPECT_EQ(ClipboardTextOfBlock(terminated, sizeof terminated, true), u"ab");
  const char ansi[] = {'c', 'a', 'f', '\xE9'};  // no terminator; Windows-1252 e acute
  EXPECT_EQ(ClipboardTextOfBlock(ansi, sizeof ansi, false), u"caf\u00e9");
  EXPECT_EQ(ClipboardTextOfBlock(nullptr, 100, true), u"");
}

}  // namespace
