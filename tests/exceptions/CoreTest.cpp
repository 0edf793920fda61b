// Portable core helpers: version comparison, text utilities, log file naming and guarded steps.
#include "exceptions/ECore.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "classlib/SysUtils.h"

TEST(Versions, NormalisationPadsPartsAndFillsToFour) {
  EXPECT_EQ(PadVersionPart("7"), "00007");
  EXPECT_EQ(PadVersionPart("123456"), "123456");
  EXPECT_EQ(NormalizeVersion("7.2.32"), "00007.00002.00032.00000");
  EXPECT_EQ(NormalizeVersion("1.0.0.1 beta"), "00001.00000.00000.00001 beta");
  EXPECT_EQ(NormalizeVersion(""), "00000.00000.00000.00000");
}

TEST(Versions, GreaterComparesEachPartNumerically) {
  EXPECT_TRUE(IsVersionGreater("7.2.32", "7.10"));
  EXPECT_FALSE(IsVersionGreater("7.10", "7.2.32"));
  EXPECT_FALSE(IsVersionGreater("1.0", "1.0.0.0"));
  EXPECT_TRUE(IsVersionGreater("1.0", "1.0.0.1"));
  EXPECT_TRUE(IsVersionGreater("9.9.9.9", "10"));
  EXPECT_FALSE(IsVersionGreater("2.0", "2.0"));
}

TEST(TextHelpers, PosFromAndReplaceAll) {
  EXPECT_EQ(PosFrom("ab", "xabyab", 1), 2);
  EXPECT_EQ(PosFrom("ab", "xabyab", 3), 5);
  EXPECT_EQ(PosFrom("ab", "xabyab", 6), 0);
  EXPECT_EQ(PosFrom("ab", "xabyab", 0), 0);
  EXPECT_EQ(PosFrom("ab", "xabyab", 99), 0);
  EXPECT_EQ(PosFrom("", "x", 1), 0);
  EXPECT_EQ(ReplaceAllText("a.b.c", ".", "::"), "a::b::c");
  EXPECT_EQ(ReplaceAllText("aaa", "aa", "a"), "aa");
  EXPECT_EQ(ReplaceAllText("abc", "", "x"), "abc");
}

TEST(TextHelpers, SplitStringAtAnySeparator) {
  auto lines = SplitString("a,b;;c;", ",;");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "a");
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], "c");
  EXPECT_TRUE(SplitString("", ",").empty());
}

TEST(TextHelpers, ExtractFieldsAppendsTrimmedFieldsIncludingEmptyOnes) {
  std::vector<std::string> list = {"kept"};
  ExtractFields("|", "||  a | b ||c  ", list);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[0], "kept");
  EXPECT_EQ(list[1], "a");
  EXPECT_EQ(list[2], "b");
  EXPECT_EQ(list[3], "");
  EXPECT_EQ(list[4], "c");
  list.clear();
  ExtractFields("|", "a|  ", list);  // a blank rest is not appended
  ASSERT_EQ(list.size(), 1u);
  ExtractFields("|", "|||", list);
  EXPECT_EQ(list.size(), 1u);
}

TEST(TextHelpers, FloatsUseADotAndUtf8EncodesEveryPlane) {
  EXPECT_DOUBLE_EQ(StrToFloatDot("3.25"), 3.25);
  EXPECT_THROW(StrToFloatDot("3,25"), EConvertError);
  EXPECT_EQ(ToUTF8(u"A\u00e9\u20ac"), "A\xc3\xa9\xe2\x82\xac");
  EXPECT_EQ(ToUTF8(u"\U0001F600"), "\xf0\x9f\x98\x80");
  EXPECT_EQ(ToUTF8(std::u16string(1, char16_t(0xD800))), "\xef\xbf\xbd");
}

TEST(LogFileNames, ComposedFromTheOutputPathAndTheModule) {
  EXPECT_EQ(ComposeLogFileName("C:\\Apps\\Host.exe", ""), "C:\\Apps\\Host.elf");
  EXPECT_EQ(ComposeLogFileName("Delay.dll", "BOX"), "Delay_BOX.elf");
  EXPECT_EQ(ComposeLogFileName("C:\\a.b\\noext", ""), "C:\\a.b\\noext.elf");
  EXPECT_EQ(StripVsHost("App.vshost.exe"), "App.exe");
  // A folder gets the module's log inside it.
  EXPECT_EQ(ComposeLogFilePath("D:\\Logs", "C:\\Apps\\Host.elf"), "D:\\Logs\\Host.elf");
  EXPECT_EQ(ComposeLogFilePath("D:\\Logs\\", "C:\\Apps\\Host.elf"), "D:\\Logs\\Host.elf");
  // A full ".elf" name is taken as it stands.
  EXPECT_EQ(ComposeLogFilePath("D:\\Logs\\All.ELF", "C:\\Apps\\Host.elf"), "D:\\Logs\\All.ELF");
  // No output path: beside the module.
  EXPECT_EQ(ComposeLogFilePath("", "C:\\Apps\\Host.elf"), "C:\\Apps\\Host.elf");
  EXPECT_EQ(IncludeTrailingBackslash("C:\\x"), "C:\\x\\");
  EXPECT_EQ(ExcludeTrailingBackslash("C:\\x\\\\"), "C:\\x");
}

namespace {

std::string gReported;
int gReports = 0;

void Capture(const std::string& message) {
  gReported = message;
  ++gReports;
}

void RaisesClasslibError() { throw EConvertError("bad value"); }
void RaisesSomethingElse() { throw 42; }
void RaisesStd() { throw std::runtime_error("std failure"); }
void RunsFine() {}
void ReportHandlerThrows(const std::string&) { throw std::runtime_error("handler"); }

}  // namespace

TEST(SafeCallProc, FailuresAreReportedAndDoNotPropagate) {
  SetCriticalErrorHandler(&Capture);
  gReports = 0;
  SafeCallProc(&RunsFine, "Step.Fine");
  SafeCallProc(nullptr, "Step.Null");
  EXPECT_EQ(gReports, 0);
  SafeCallProc(&RaisesClasslibError, "ECore.Init");
  EXPECT_EQ(gReports, 1);
  EXPECT_EQ(gReported.rfind("Critical error at: \"ECore.Init\"\r\nError: \"bad value (Address: ", 0), 0u)
      << gReported;
  EXPECT_EQ(gReported.substr(gReported.size() - 3), ")\".");
  SafeCallProc(&RaisesSomethingElse, "EHook.Init");
  EXPECT_EQ(gReported, "Critical error at: \"EHook.Init\"\r\nError: \"General internal error.\".");
  SafeCallProc(&RaisesStd, "X");
  EXPECT_NE(gReported.find("std failure"), std::string::npos);
  SetCriticalErrorHandler(&ReportHandlerThrows);
  EXPECT_NO_THROW(SafeCallProc(&RaisesStd, "X"));
  SetCriticalErrorHandler(nullptr);
}
