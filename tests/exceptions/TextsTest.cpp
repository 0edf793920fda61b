// Message texts, their editing table, variable expansion and the send-progress steps.
#include "exceptions/EmberTexts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <set>
#include <string>

namespace {

// Each test sets its variables here and removes them at the end.
class ScopedVariable {
 public:
  ScopedVariable(std::string name, const std::string& value) : name_(std::move(name)) {
    EXPECT_TRUE(SetEnvVariable(name_, value));
  }
  ~ScopedVariable() { SetEnvVariable(name_, ""); }

 private:
  std::string name_;
};

}  // namespace

TEST(MessageTexts, TableHoldsEveryIndexOnceUnderFourteenHeadings) {
  std::set<int32_t> seen;
  int headings = 0;
  ASSERT_EQ(EmberMsgsItems[0].Index, -1) << "the table starts with a heading";
  for (const auto& item : EmberMsgsItems) {
    ASSERT_NE(item.Name, nullptr);
    if (item.Index == -1) {
      ++headings;
      continue;
    }
    ASSERT_GE(item.Index, 0);
    ASSERT_LT(item.Index, EmberTextCount);
    EXPECT_TRUE(seen.insert(item.Index).second) << "index " << item.Index << " twice";
  }
  EXPECT_EQ(headings, 14);
  EXPECT_EQ(static_cast<int32_t>(seen.size()), EmberTextCount);
}

TEST(MessageTexts, NamedItemsPointAtTheirTexts) {
  auto find = [](const char* name) {
    for (const auto& item : EmberMsgsItems)
      if (std::strcmp(item.Name, name) == 0) return item.Index;
    return -2;
  };
  EXPECT_EQ(find("OK Button"), 17);
  EXPECT_EQ(find("Anti Freeze exception"), 156);
  EXPECT_EQ(find("Invalid email"), 157);
  EXPECT_EQ(find("    Start Date"), 38);
  EXPECT_STREQ(GetDefaultText(17), "&OK");
  EXPECT_STREQ(GetDefaultText(156), "The application seems to be frozen.");
  EXPECT_STREQ(GetDefaultText(157), "Invalid email.");
  EXPECT_STREQ(GetDefaultText(153), "");
  EXPECT_STREQ(GetDefaultText(-1), "");
  EXPECT_STREQ(GetDefaultText(EmberTextCount), "");
}

TEST(MessageTexts, FieldItemsOfGeneralDataAreIndentedAndMatchTheirTexts) {
  bool inGeneral = false;
  int fields = 0;
  for (const auto& item : EmberMsgsItems) {
    if (item.Index == -1) {
      inGeneral = std::strcmp(item.Name, "General Data") == 0;
      continue;
    }
    if (!inGeneral || std::strncmp(item.Name, "    ", 4) != 0) continue;
    ++fields;
    EXPECT_STREQ(item.Name + 4, GetDefaultText(item.Index));
  }
  EXPECT_GT(fields, 40);
}

TEST(MessageTexts, LogKeysAndVariableDescriptionsHaveTheirShape) {
  EXPECT_STREQ(EmberLogFieldKeys[0], "Application|Start Date");
  EXPECT_STREQ(EmberLogFieldKeys[EmberLogFieldKeyCount - 1], "Custom Data|All");
  for (const char* key : EmberLogFieldKeys) EXPECT_NE(std::strchr(key, '|'), nullptr) << key;
  for (const char* text : EmberVariableDescriptions) EXPECT_NE(std::strstr(text, " | "), nullptr) << text;
}

TEST(ExpandVariables, PercentSignsWithoutANameStayAsTheyAre) {
  EXPECT_EQ(ExpandVariables("100%"), "100%");
  EXPECT_EQ(ExpandVariables("%%"), "%%");
  EXPECT_EQ(ExpandVariables("a %% b"), "a %% b");
  EXPECT_EQ(ExpandVariables("50% off"), "50% off");
  EXPECT_EQ(ExpandVariables("% KBL_X%"), "% KBL_X%");
  EXPECT_EQ(ExpandVariables("%"), "%");
  EXPECT_EQ(ExpandVariables(""), "");
}

TEST(ExpandVariables, KnownAndUnknownNames) {
  ScopedVariable a("KBL_TEST_A", "alpha");
  EXPECT_EQ(ExpandVariables("[%KBL_TEST_A%]"), "[alpha]");
  EXPECT_EQ(ExpandVariables("%KBL_TEST_A%%KBL_TEST_A%"), "alphaalpha");
  EXPECT_EQ(ExpandVariables("x%KBL_TEST_NOT_SET_1%y"), "xy");
  // A reference may follow a lone percent sign.
  EXPECT_EQ(ExpandVariables("5% of %KBL_TEST_A%"), "5% of alpha");
  // The run of name characters ends at the blank, so no reference is formed.
  EXPECT_EQ(ExpandVariables("%KBL_TEST_A %"), "%KBL_TEST_A %");
}

TEST(ExpandVariables, InsertedValuesAreNotExpandedAgain) {
  ScopedVariable inner("KBL_TEST_INNER", "inner");
  ScopedVariable outer("KBL_TEST_OUTER", "<%KBL_TEST_INNER%>");
  EXPECT_EQ(ExpandVariables("%KBL_TEST_OUTER%"), "<%KBL_TEST_INNER%>");
  // The percent sign closing one value does not pair with text after it.
  ScopedVariable half("KBL_TEST_HALF", "%KBL_TEST_INNER");
  EXPECT_EQ(ExpandVariables("%KBL_TEST_HALF%%"), "%KBL_TEST_INNER%");
}

TEST(ExpandVariables, DateComesFromTheEnvironmentFirstThenTheClock) {
  {
    ScopedVariable date("DATE", "a fixed day");
    EXPECT_EQ(ExpandVariables("%DATE%"), "a fixed day");
  }
  std::string today = ExpandVariables("%DATE%");
  EXPECT_FALSE(today.empty());
  EXPECT_NE(today, "a fixed day");
  // The day of the month appears in any short date format.
  std::time_t now = std::time(nullptr);
  std::tm local = *std::localtime(&now);
  EXPECT_NE(today.find(std::to_string(local.tm_mday)), std::string::npos) << today;
  EXPECT_EQ(ExpandVariables("%date%"), today);
  EXPECT_FALSE(ExpandVariables("%Time%").empty());
  EXPECT_FALSE(ExpandVariables("%cd%").empty());
}

TEST(ExpandVariables, ExceptionEnvironmentIsPublished) {
  TEmberExceptionEnvironment facts;
  facts.FoundMainModule = true;
  facts.MainModuleName = "host.exe";
  facts.ExceptMsg = "Access violation";
  facts.BugReport = "report %_ExceptMsg%";
  SetEnvVariable("_ExceptModuleName", "kept.dll");
  SetExceptionEnvironment(facts);
  EXPECT_EQ(GetEnvVariable("_MainModuleName"), "host.exe");
  EXPECT_EQ(GetEnvVariable("_ExceptMsg"), "Access violation");
  EXPECT_EQ(GetEnvVariable("_LineBreak"), "\r\n");
  EXPECT_EQ(GetEnvVariable("_ExceptModuleName"), "kept.dll") << "module not found: left alone";
  EXPECT_EQ(ExpandVariables("%_BugReport%"), "report %_ExceptMsg%");
  // Another module of the process publishes its own report: this module's texts keep its own.
  SetEnvVariable("_ExceptMsg", "Knob failure");
  EXPECT_EQ(ExpandVariables("%_ExceptMsg% %_ExceptModuleName%."), "Access violation .");
  for (const char* name : {"_MainModuleName", "_ExceptMsg", "_LineBreak", "_ExceptModuleName",
                           "_BugReport"})
    SetEnvVariable(name, "");
}

// A report longer than an environment value may be (32,767 characters with its end) is
// published cut there; the report's own variable keeps all of it.
TEST(ExpandVariables, AReportLongerThanTheEnvironmentTakesIsPublishedCut) {
  TEmberExceptionEnvironment facts;
  facts.BugReport = std::string(40000, 'r');
  SetExceptionEnvironment(facts);
  const std::string published = GetEnvVariable("_BugReport");
  EXPECT_GE(published.size(), 32000u);
  EXPECT_EQ(published, facts.BugReport.substr(0, published.size()));
  EXPECT_EQ(ExpandVariables("%_BugReport%"), facts.BugReport);
  SetEnvVariable("_BugReport", "");
}

TEST(SendProgress, StepsShowTheirTextsAndPositions) {
  auto s0 = GetSendProgress(0, 0);
  EXPECT_TRUE(s0.Valid && s0.Restart && !s0.Advance);
  EXPECT_EQ(s0.TextIndex, 114);
  EXPECT_EQ(s0.Position, 5);
  const int32_t advancing[][2] = {{1, 115}, {2, 113}, {3, 118}, {4, 119}, {5, 120}};
  for (auto [code, text] : advancing) {
    auto s = GetSendProgress(code, 0);
    EXPECT_TRUE(s.Valid && s.Advance) << code;
    EXPECT_EQ(s.TextIndex, text);
    EXPECT_EQ(s.Position, 5);
  }
  EXPECT_EQ(GetSendProgress(6, 0).Position, 35);
  EXPECT_EQ(GetSendProgress(6, 50).Position, 67);  // 32.5 rounds to the even 32
  EXPECT_EQ(GetSendProgress(6, 10).Position, 41);  // 6.5 rounds to 6
  EXPECT_EQ(GetSendProgress(6, 100).Position, 100);
  EXPECT_EQ(GetSendProgress(6, 250).Position, 100);
  EXPECT_EQ(GetSendProgress(6, -5).Position, 35);
  EXPECT_EQ(GetSendProgress(6, 1).TextIndex, 116);
  const int32_t finishing[][2] = {{7, 117}, {8, 121}, {9, 122}};
  for (auto [code, text] : finishing) {
    auto s = GetSendProgress(code, 0);
    EXPECT_TRUE(s.Valid && !s.Advance);
    EXPECT_EQ(s.TextIndex, text);
    EXPECT_EQ(s.Position, 100);
  }
  EXPECT_FALSE(GetSendProgress(10, 0).Valid);
  EXPECT_FALSE(GetSendProgress(-1, 0).Valid);
}
