// The system clipboard under Wine: Unicode text both ways, the ANSI fallback, blocks without a
// terminator and a format announced without a block.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "classlib/Clipbrd.h"

namespace {

// Puts a raw block of `bytes` bytes under `format` (nullptr data: the format without a block).
void PutRaw(UINT format, const void* data, size_t bytes) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  if (data != nullptr) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    std::memcpy(GlobalLock(block), data, bytes);
    GlobalUnlock(block);
    SetClipboardData(format, block);
  } else {
    SetClipboardData(format, nullptr);  // delayed rendering that never comes
  }
  CloseClipboard();
}

TEST(SystemClipboard, CarriesTextOutsideTheBmpBothWays) {
  const WideString text = u"G clef \U0001D11E and \u00e9";
  ASSERT_TRUE(Clipboard().SetAsWideText(text));
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE block = GetClipboardData(CF_UNICODETEXT);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(GlobalLock(block))), text);
  GlobalUnlock(block);
  CloseClipboard();
  EXPECT_TRUE(Clipboard().HasText());
  EXPECT_EQ(Clipboard().GetAsWideText(), text);
}

TEST(SystemClipboard, ReadsAnsiTextWhenNoUnicodeTextIsThere) {
  const char ansi[] = "caf\xE9";
  PutRaw(CF_TEXT, ansi, sizeof ansi);
  EXPECT_EQ(Clipboard().GetAsWideText(), u"caf\u00e9");
}

TEST(SystemClipboard, StopsAtTheEndOfABlockWithoutTerminator) {
  const char16_t units[] = {u'x', u'y', u'z', u'w'};
  PutRaw(CF_UNICODETEXT, units, sizeof units);
  // The system may keep the block as it is or end it with a terminator of its own: either way
  // the text read is the block's start, never more.
  const WideString read = Clipboard().GetAsWideText();
  ASSERT_GE(read.size(), 3u);
  ASSERT_LE(read.size(), 4u);
  EXPECT_EQ(read, WideString(u"xyzw").substr(0, read.size()));
}

TEST(SystemClipboard, AFormatWithoutBlockIsNoText) {
  PutRaw(CF_UNICODETEXT, nullptr, 0);
  EXPECT_EQ(Clipboard().GetAsWideText(), u"");
}

}  // namespace
