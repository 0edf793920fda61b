// Rich-text rendering of the report head, the assembler listing and the CPU section: the
// colour of each line kind, escaping, and texts from outside that stay text.
#include "exceptions/report/ERichText.h"

#include <gtest/gtest.h>

namespace {

const TEmberRTFFont kFont{0, "Lucida Console", 8};

// The rendered lines between the document's font line and its closing brace.
std::string Body(const std::string& rtf) {
  std::string start = "\\f0\\fs16\r\n";
  size_t at = rtf.find(start);
  EXPECT_NE(at, std::string::npos);
  EXPECT_EQ(rtf.back(), '}');
  return rtf.substr(at + start.size(), rtf.size() - at - start.size() - 1);
}

}  // namespace

TEST(RichText, EscapesBracesBackslashesAndLineBreaks) {
  EXPECT_EQ(EscapeRTF("a{b}c\\d\r\ne\rf\ng"), "a\\{b\\}c\\\\d\\par\r\ne\rf\ng");
  EXPECT_EQ(EscapeRTF(""), "");
}

TEST(RichText, HeadLinesColouredByKind) {
  std::string head =
      "EmberLog 6.0.24\r\n\r\nApplication:\r\n------------\r\n  1.1 Start Date : Mon\r\n"
      "                   more {x}\\\r\n";
  std::string rtf = RenderReportHeadRTF(head, kFont);
  EXPECT_EQ(rtf.find("{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1040{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset0 "
                     "Lucida Console;}}\r\n{\\colortbl ;\\red0\\green100\\blue100;"),
            0u);
  EXPECT_EQ(Body(rtf),
            "\\cf1\\b EmberLog 6.0.24\\par\\b0\r\n"
            "\\par\r\n"
            "\\cf3\\b Application:\\par\\b0\r\n"
            "\\cf3 ------------\\par\r\n"
            "\\cf5   1.1 \\cf2 Start Date :\\cf4  Mon\\par\r\n"
            "                   more \\{x\\}\\\\\\par\r\n");
  // Only the banner: one coloured line.
  EXPECT_EQ(Body(RenderReportHeadRTF("EmberLog 6.0.24", kFont)), "\\cf1\\b EmberLog 6.0.24\\b0");
}

TEST(RichText, TextsFromOutsideCannotChangeTheDocument) {
  // A module name with a letter of the code page and a control character.
  std::string rtf = RenderReportHeadRTF("EmberLog\r\n  2.3 Module Name : M\xFCller\x01.dll", kFont);
  EXPECT_NE(rtf.find("M\\'fcller\\'01.dll"), std::string::npos) << rtf;
  EXPECT_EQ(rtf.find('\x01'), std::string::npos);
  EXPECT_EQ(rtf.find('\xFC'), std::string::npos);
}

TEST(RichText, AssemblerAddressesMnemonicsOperandsAndComments) {
  std::string rtf = RenderAssemblerRTF("00401000  mov eax, [ebx]  ; 'text'\r\n; Unit.Proc\r\n", kFont);
  EXPECT_EQ(Body(rtf),
            "\\cf5 00401000 \\cf4\\b  mov\\b0\\cf7  eax, [ebx]  \\cf6 ; 'text'\\par\r\n"
            "\\cf6 ; Unit.Proc\\par\r\n");
  // A line without an operand closes the bold at its end.
  EXPECT_EQ(Body(RenderAssemblerRTF("00401005  ret", kFont)), "\\cf5 00401005 \\cf4\\b  ret\\b0");
}

TEST(RichText, CpuRegistersAndDumpInTwoColumns) {
  std::string bytes, chars;
  for (int i = 0; i < 16; ++i) {
    char digit = static_cast<char>('0' + i % 10);
    bytes.append(1, '4').append(1, digit).append(1, ' ');
    chars.append(1, digit);
  }
  std::string cpu = "Registers:\r\n-----------------------------\r\n"
                    "EAX: 01234567   EDI: 89ABCDEF\r\nEBX: 00000001   ESI: 00000002\r\n"
                    "ECX: 00000003   ESP: 0012FF00\r\nEDX: 00000004   EIP: 00401000\r\n\r\n"
                    "Stack:               Memory Dump:\r\n" +
                    std::string(18, '-') + "   " + std::string(75, '-') + "\r\n" +
                    "0012FF00: 00000001   00401000: " + bytes + " " + chars + "\r\n";
  std::string body = Body(RenderCPURTF(cpu, kFont, 1890));
  std::vector<std::string> lines;
  for (size_t start = 0;;) {
    size_t end = body.find("\r\n", start);
    if (end == std::string::npos) break;
    lines.push_back(body.substr(start, end - start));
    start = end + 2;
  }
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], "\\cf3\\b Registers:\\par\\cf2\\b0");
  EXPECT_EQ(lines[1], "\\cf3 -----------------------------\\par\\cf2");
  EXPECT_EQ(lines[2], "EAX: \\cf4 01234567\\cf2    EDI: \\cf4 89ABCDEF\\cf2 \\par");
  EXPECT_EQ(lines[6], "\\par");
  EXPECT_EQ(lines[7], "\\pard\\tx1890\\cf3\\b Stack:\\tab Memory Dump:\\par\\cf2\\b0");
  EXPECT_EQ(lines[8], "\\cf3 " + std::string(18, '-') + "\\tab " + std::string(75, '-') + "\\par\\cf2");
  EXPECT_EQ(lines[9], "0012FF00: \\cf4 00000001\\cf2 \\tab 00401000: \\cf4 " + bytes.substr(0, 47) + "\\cf5 " +
                          bytes.substr(47) + " " + chars + "\\par\\cf2 ");
}
