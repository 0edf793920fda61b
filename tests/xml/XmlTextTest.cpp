// Tests of the XML text conversions: escaping, character references, UTF-8, Base64, hex, wrapping.
#include "xml/XmlText.h"

#include <gtest/gtest.h>

#include "classlib/SysUtils.h"

TEST(XmlEscape, EscapesTheFiveCharactersAmpersandFirst) {
  EXPECT_EQ(EscapeText("a<b>&'\"c"), "a&lt;b&gt;&amp;&apos;&quot;c");
  EXPECT_EQ(EscapeText("&lt;"), "&amp;lt;");
  EXPECT_EQ(UnescapeText(EscapeText("&lt; <x> 'y' \"z\" &amp;")), "&lt; <x> 'y' \"z\" &amp;");
}

TEST(XmlEscape, UnescapesEntitiesAndCharacterReferences) {
  EXPECT_EQ(UnescapeText("&#65;&#x41;&#X41;"), "AAA");
  EXPECT_EQ(UnescapeText("&lt;&gt;&amp;&apos;&quot;"), "<>&'\"");
  EXPECT_EQ(UnescapeText("a &nbsp; b"), "a &nbsp; b");          // unknown entity stays
  EXPECT_EQ(UnescapeText("x &amp y"), "x &amp y");                // no ";" ends the scan
  EXPECT_EQ(UnescapeText("x &amp; &y"), "x & &y");
  EXPECT_EQ(UnescapeText("&#233;"), "\xC3\xA9");
  EXPECT_EQ(UnescapeText("&#x20AC;"), "\xE2\x82\xAC");
  EXPECT_EQ(UnescapeText("&#xZZ;&#;"), "&#xZZ;&#;");              // malformed stays
}

TEST(XmlEscape, CharacterReferencesBeyondTheBasicPlane) {
  EXPECT_EQ(UnescapeText("&#x1F600;"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(UnescapeText("&#65535;"), "\xEF\xBF\xBF");
  EXPECT_EQ(UnescapeText("&#x10FFFF;"), "\xF4\x8F\xBF\xBF");
  // Not characters: NUL, surrogates, values beyond Unicode (even huge ones) are dropped.
  EXPECT_EQ(UnescapeText("a&#0;b&#xD800;c&#x110000;d&#99999999999999999999;e"), "abcde");
}

TEST(XmlQuote, QuotesAndUnquotes) {
  EXPECT_EQ(QuoteText("abc"), "\"abc\"");
  EXPECT_EQ(QuoteText("a\"b"), "'a\"b'");
  EXPECT_EQ(QuoteText("a\"b'c"), "'a\"b''c'");
  EXPECT_EQ(UnquoteText("'a\"b''c'"), "a\"b'c");
  EXPECT_EQ(UnquoteText("\"x\""), "x");
  EXPECT_EQ(UnquoteText("x"), "x");
  EXPECT_EQ(UnquoteText("\""), "\"");
}

TEST(XmlBlanks, TrimStripReplaceFind) {
  EXPECT_EQ(TrimBlanks(" \t\r\n a b \n"), "a b");
  EXPECT_EQ(TrimBlanks(" \t "), "");
  EXPECT_EQ(StripBlanks(" a\tb\r\nc "), "abc");
  EXPECT_EQ(ReplaceText("a\r\nb\r\n", "\r\n", " "), "a b ");
  EXPECT_EQ(FindText("abcabc", "c", 3), 5u);
  EXPECT_EQ(FindText("abc", "x"), std::string::npos);
}

TEST(XmlUtf, Utf8AndUtf16) {
  WideString wide = u"A\u00E9\u20AC\U0001F600";
  std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_EQ(sdWideToUtf8(wide), utf8);
  EXPECT_EQ(sdUtf8ToWide(utf8), wide);
  EXPECT_EQ(sdUtf8ToWide("a\xC3"), u"");            // cut short
  EXPECT_EQ(sdUtf8ToWide("a\xC3\x41"), u"");        // bad continuation
  EXPECT_EQ(sdWideToUtf8(WideString(1, u'\xD800')), "\xEF\xBF\xBD");
}

// RFC 4648 test vectors.
TEST(XmlBinary, Base64Vectors) {
  const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
  const char* coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (int i = 0; i < 7; ++i) {
    std::string p = plain[i];
    EXPECT_EQ(EncodeBase64(p.data(), p.size()), coded[i]);
    std::string back(p.size(), '\0');
    DecodeBase64(coded[i], back.data(), back.size());
    EXPECT_EQ(back, p);
  }
  uint8_t all[256];
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  std::string text = EncodeBase64(all, 256);
  uint8_t back[256] = {};
  DecodeBase64(text, back, 256);
  EXPECT_EQ(0, memcmp(all, back, 256));
}

TEST(XmlBinary, Base64Errors) {
  uint8_t buffer[8];
  try {
    DecodeBase64("Zm9v", buffer, 4);
    FAIL();
  } catch (const EFilerError& e) {
    EXPECT_EQ(e.Message(), "Missing data in binary stream");
  }
  EXPECT_THROW(DecodeBase64("Zm*v", buffer, 3), EFilerError);
  // Padding is no data: "Zg==" holds one byte, not three.
  EXPECT_THROW(DecodeBase64("Zg==", buffer, 2), EFilerError);
  DecodeBase64("Zg==", buffer, 1);
  EXPECT_EQ(buffer[0], 'f');
}

TEST(XmlBinary, HexVectors) {
  const uint8_t bytes[] = {0x00, 0x7F, 0x80, 0xAB, 0xFF};
  EXPECT_EQ(EncodeHex(bytes, 5), "007F80ABFF");
  uint8_t back[5];
  DecodeHex("007f80abFF", back, 5);
  EXPECT_EQ(0, memcmp(bytes, back, 5));
  try {
    DecodeHex("007", back, 2);
    FAIL();
  } catch (const EFilerError& e) {
    EXPECT_EQ(e.Message(), "Missing data in binary stream");
  }
  EXPECT_THROW(DecodeHex("0G", back, 1), EFilerError);
}

TEST(XmlWrap, InsertsSeparatorBeforeEachLineAndAtTheEnd) {
  EXPECT_EQ(WrapLines("abcdefg", 3, "|"), "|abc|def|g|");
  EXPECT_EQ(WrapLines("abcdef", 3, "|"), "|abc|def|");
  EXPECT_EQ(WrapLines("abc", 3, ""), "abc");
  EXPECT_EQ(WrapLines("", 3, "|"), "|");
}
