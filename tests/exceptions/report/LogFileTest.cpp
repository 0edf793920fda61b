// The report text layout, the section writer and the log reader/editor against real files.
#include "exceptions/report/ELogFile.h"

#include <gtest/gtest.h>

#include <random>

#include "SampleReport.h"
#include "TestFiles.h"
#include "classlib/Streams.h"

namespace {

using sample_report::Report;

// A report as the log keeps it: without its own final line breaks, then three of them.
std::string Stored(const std::string& report) {
  return report.substr(0, report.find_last_not_of("\r\n") + 1) + "\r\n\r\n\r\n";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0, end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// --- Writer

TEST(LogItem, WorkedExampleAlignsColonsAndUnderlinesTitles) {
  TLogItem item(0);
  item.AddSection("Application");
  item.AddItem("Start Date", "2024-06-01 10:00:00");
  item.AddItem("Name/Description", "host.exe");
  item.AddSection("Exception");
  item.AddItem("Type", "EAccessViolation");
  std::string text = item.BuildText();
  EXPECT_EQ(text,
            "Application:\r\n"
            "-------------------------------------------\r\n"
            "  1.1 Start Date      : 2024-06-01 10:00:00\r\n"
            "  1.2 Name/Description: host.exe\r\n"
            "\r\n"
            "Exception:\r\n"
            "----------------------------\r\n"
            "  2.1 Type: EAccessViolation\r\n");
  // The dash line is as long as the longest field line.
  std::vector<std::string> lines = Lines(text);
  EXPECT_EQ(lines[1].size(), lines[2].size());
}

TEST(LogItem, MultiLineValueIsIndentedUnderTheValueColumn) {
  TLogItem item(0);
  item.AddSection("Application");
  item.AddItem("Start", "x");
  item.AddItem("Notes", "first\nkey: value\n\n  indented\r\nlast.");
  std::vector<std::string> lines = Lines(item.BuildText());
  ASSERT_EQ(lines.size(), 8u);
  size_t column = lines[3].find(": ") + 2;
  EXPECT_EQ(lines[3].substr(column), "first");
  EXPECT_EQ(lines[4], std::string(column, ' ') + "key:_value");
  EXPECT_EQ(lines[5], std::string(column, ' ') + ".");
  EXPECT_EQ(lines[6], std::string(column, ' ') + "  indented");
  EXPECT_EQ(lines[7], std::string(column, ' ') + "last.");
  // Colons of the one-line field stand in the same column.
  EXPECT_EQ(lines[2].find(": "), lines[3].find(": "));
}

TEST(LogItem, HiddenFieldsKeepTheirNumbersAndEmptySectionsVanish) {
  TLogItem item(0);
  item.AddSection("Application");
  item.AddItem("A", "1", false);
  item.AddItem("B", "2", false);
  item.AddSection("Exception");
  for (int i = 1; i <= 6; ++i) item.AddItem(std::string("F").append(std::to_string(i)), "v", i != 6);
  item.AddItem("ID", "abc");
  std::string text = item.BuildText();
  EXPECT_EQ(text.find("Application"), std::string::npos);
  EXPECT_NE(text.find("  2.7 ID"), std::string::npos);
  EXPECT_EQ(text.find("2.6"), std::string::npos);
  EXPECT_EQ(text.substr(0, 12), "Exception:\r\n");
}

TEST(LogItem, ValueEndingInColonIsNotTakenForASectionTitle) {
  TLogItem item(0);
  item.AddSection("Paths");
  item.AddItem("Folders", "C:\nD:");
  std::string text = item.BuildText();
  EXPECT_NE(text.find("C:\r\n"), std::string::npos);
  EXPECT_NE(text.find("D:\r\n"), std::string::npos);
}

TEST(LogItem, FirstSectionNumberShiftsTheNumbering) {
  TLogItem item(8);
  item.AddSection("Extra");
  item.AddItem("", "text");
  EXPECT_NE(item.BuildText().find("  9.1 : text"), std::string::npos);
}

TEST(LogItem, InsertedSectionGoesAfterTheHead) {
  TLogReportTexts texts;
  texts.ReportText = "HEAD\r\n\r\nTABLES";
  texts.DialogReportText = texts.ReportText;
  texts.HeadLength = 4;
  InsertReportTextSection(texts, 8, "Reproduce", "steps");
  EXPECT_EQ(texts.ReportText.substr(0, 6), "HEAD\r\n");
  EXPECT_EQ(texts.ReportText.substr(6, 11), "Reproduce:\r");
  EXPECT_NE(texts.ReportText.find("  9.1 : steps\r\n\r\n\r\nTABLES"), std::string::npos);
  EXPECT_EQ(texts.DialogReportText, texts.ReportText);
  EXPECT_EQ(texts.SendText, texts.ReportText);
  EXPECT_GT(texts.HeadLength, 4);
  std::string before = texts.ReportText;
  InsertReportTextSection(texts, 9, "None", "");
  InsertReportValuesSection(texts, 9, "None", {});
  EXPECT_EQ(texts.ReportText, before);
  InsertReportValuesSection(texts, 9, "Values", {" a = 1 ", "bb=two"});
  EXPECT_NE(texts.ReportText.find("  10.1 a : 1\r\n  10.2 bb: two\r\n"), std::string::npos);
}

TEST(LogItem, ReportDateIsFixedFormat) {
  TDateTime date, time;
  ASSERT_TRUE(TryEncodeDate(2024, 2, 29, date));
  ASSERT_TRUE(TryEncodeTime(7, 5, 9, 0, time));
  EXPECT_EQ(FormatReportDate(ComposeDateTime(date, time)), "2024-02-29 07:05:09");
}

// --- Reader and editor

class LogFileTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.File("demo.elf");
};

TEST_F(LogFileTest, MissingFileIsAnEmptyLogCreatedOnSave) {
  {
    TLogFile log(path, false);
    EXPECT_EQ(log.GetCount(), 0);
    log.AddReport(Report("id-1"), -1);
    log.SaveToFile();
  }
  std::string bytes = ReadFileBytes(path);
  EXPECT_EQ(bytes.substr(bytes.size() - 6), "\r\n\r\n\r\n");
  EXPECT_NE(bytes.substr(bytes.size() - 8), "\r\n\r\n\r\n\r\n");
  TLogFile again(path, true);
  ASSERT_EQ(again.GetCount(), 1);
  EXPECT_EQ(again.GetReport(0), Stored(Report("id-1")));
}

TEST_F(LogFileTest, ReportsRoundTripAndSeparateByFourLineBreaks) {
  {
    TLogFile log(path, false);
    for (int i = 0; i < 4; ++i) log.AddReport(Report("id-" + std::to_string(i)), -1);
    log.SaveToFile();
  }
  std::string bytes = ReadFileBytes(path);
  {
    TLogFile log(path, false);
    ASSERT_EQ(log.GetCount(), 4);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(log.GetItemField("2.7", i), "id-" + std::to_string(i));
      // Every report starts with its banner, also after the gap of the one before.
      EXPECT_EQ(log.GetReport(i).substr(0, 9), "EmberLog ");
    }
    log.SaveToFile();
  }
  EXPECT_EQ(ReadFileBytes(path), bytes);
}

TEST_F(LogFileTest, ShortFilesAndBlocksWithoutTablesLoadAsNothing) {
  WriteFileBytes(path, "abc\r\n");
  EXPECT_EQ(TLogFile(path, true).GetCount(), 0);
  WriteFileBytes(path, "banner\r\n\r\nSection:\r\n--\r\n  1.1 a: b\r\n\r\n\r\n\r\n");
  EXPECT_EQ(TLogFile(path, true).GetCount(), 0);
  // A block without a table between two reports is dropped; lone LF line breaks are accepted.
  std::string unix = "x\n-\n|row|\n\n\n\njunk only\n\n\n\n\n\ny\n-\n|r2|";
  WriteFileBytes(path, unix);
  TLogFile log(path, true);
  ASSERT_EQ(log.GetCount(), 2);
  EXPECT_EQ(log.GetReport(0), "x\r\n-\r\n|row|\r\n\r\n\r\n");
  EXPECT_EQ(log.GetReport(1), "y\r\n-\r\n|r2|\r\n\r\n\r\n");
}

TEST_F(LogFileTest, CapDropsTheOldestReports) {
  TLogFile log("", false);
  for (int i = 0; i < 5; ++i) log.AddReport(Report("id-" + std::to_string(i)), -1);
  log.AddReport(Report("new"), 3);
  ASSERT_EQ(log.GetCount(), 3);
  EXPECT_EQ(log.GetItemField("2.7", 0), "id-3");
  EXPECT_EQ(log.GetItemField("2.7", 1), "id-4");
  EXPECT_EQ(log.GetItemField("2.7", 2), "new");
  log.AddReport(Report("one"), 1);
  ASSERT_EQ(log.GetCount(), 1);
  EXPECT_THROW(log.SaveToFile(), EFCreateError);
}

TEST_F(LogFileTest, FindsTheNewestMatchingReport) {
  TLogFile log("", false);
  log.AddReport(Report("AAA"), -1);
  log.AddReport(Report("BBB"), -1);
  log.AddReport(Report("AAA"), -1);
  EXPECT_EQ(log.FindItemByField({"2.7"}, 0, {"AAA"}), 2);
  EXPECT_EQ(log.FindItemByField({"2.7"}, 0, {"BBB"}), 1);
  EXPECT_EQ(log.FindItemByField({"2.7"}, 0, {"AA"}), -1);
  EXPECT_EQ(log.FindItemByField({"2.7", "2.3"}, 1, {"zzz", "KBLDelay.dll"}), 2);
  EXPECT_EQ(log.FindItemByField({"2.7", "2.3"}, 0, {"zzz", "KBLDelay.dll"}), -1);
  EXPECT_EQ(log.FindItemByField({"9.9"}, 0, {"AAA"}), -1);
}

TEST_F(LogFileTest, IdentifiersWithColonBlankStillMatch) {
  TLogFile log("", false);
  log.AddReport(Report("Access: 0x10"), -1);
  EXPECT_EQ(log.FindItemByField({"2.7"}, 0, {"Access: 0x10"}), 0);
  EXPECT_EQ(log.GetItemField("2.7", 0), "Access: 0x10");
}

TEST_F(LogFileTest, MultiLineValuesReadBack) {
  TLogFile log("", false);
  log.AddReport(Report("id", "line one\nkey: value\n\nends with dot.\nlast."), -1);
  EXPECT_EQ(log.GetItemField("2.6", 0), "line one\r\nkey: value\r\n \r\nends with dot \r\nlast.");
  EXPECT_EQ(log.FindItemByField({"2.6"}, 0, {"line one\nkey: value\n\nends with dot.\nlast."}), 0);
  EXPECT_EQ(log.GetItemField("3.2", 0), "SeShutdownPrivilege\r\nSeChangeNotifyPrivilege");
  EXPECT_EQ(log.GetItemField("2.10", 0), "");
  EXPECT_EQ(log.GetItemField("2.7", 5), "");
}

TEST_F(LogFileTest, CounterIsReplacedKeepingTheFollowingFields) {
  TLogFile log("", false);
  log.AddReport(Report("id"), -1);
  std::string before = log.GetReport(0);
  log.SetItemField("2.8", "2", 0, "Count");
  EXPECT_EQ(log.GetItemField("2.8", 0), "2");
  EXPECT_EQ(log.GetItemField("2.9", 0), "New");
  EXPECT_EQ(log.GetItemField("2.7", 0), "id");
  std::string after = log.GetReport(0);
  EXPECT_EQ(after.size(), before.size());
  EXPECT_EQ(after.substr(after.size() - 6), "\r\n\r\n\r\n");
  log.SetItemField("2.8", "3", 7, "Count");
  EXPECT_EQ(log.GetItemField("2.8", 0), "2");
}

TEST_F(LogFileTest, MissingCounterIsInsertedAfterTheLastFieldOfItsSection) {
  TLogItem item(0);
  item.AddSection("Application");
  item.AddItem("Name", "x");
  item.AddSection("Exception");
  for (int i = 1; i <= 6; ++i) item.AddItem("Module Version " + std::to_string(i), "v");
  item.AddItem("ID", "abc");
  item.AddSection("User");
  item.AddItem("ID", "bob");
  std::string report = "EmberLog 6.0.24\r\n\r\n" + item.BuildText() + "\r\nT:\r\n-\r\n|x|\r\n-";
  TLogFile log("", false);
  log.AddReport(report, -1);
  log.SetItemField("2.8", "2", 0, "Count");
  std::vector<std::string> lines = Lines(log.GetReport(0));
  size_t at = 0;
  while (at < lines.size() && lines[at].find("  2.7 ") != 0) ++at;
  ASSERT_LT(at + 1, lines.size());
  EXPECT_EQ(lines[at + 1], "  2.8 Count           : 2");
  EXPECT_EQ(lines[at + 1].find(": "), lines[at].find(": "));
  EXPECT_EQ(log.GetItemField("2.8", 0), "2");
  EXPECT_EQ(log.GetItemField("3.1", 0), "bob");
  // A section without any field gets nothing.
  log.SetItemField("7.1", "x", 0, "Nothing");
  EXPECT_EQ(log.GetItemField("7.1", 0), "");
}

TEST_F(LogFileTest, ReadOnlyLogCannotBeSaved) {
  WriteFileBytes(path, Stored(Report("a")));
  TLogFile log(path, true);
  ASSERT_EQ(log.GetCount(), 1);
  log.AddReport(Report("b"), -1);
  EXPECT_ANY_THROW(log.SaveToFile());
}

TEST_F(LogFileTest, SavingFewerReportsTruncatesTheFile) {
  {
    TLogFile log(path, false);
    for (int i = 0; i < 3; ++i) log.AddReport(Report("id-" + std::to_string(i)), -1);
    log.SaveToFile();
  }
  {
    TLogFile log(path, false);
    log.AddReport(Report("last"), 1);
    log.SaveToFile();
  }
  TLogFile log(path, true);
  ASSERT_EQ(log.GetCount(), 1);
  EXPECT_EQ(log.GetItemField("2.7", 0), "last");
  EXPECT_EQ(ReadFileBytes(path), Stored(Report("last")));
}

// Random bytes and mutated logs must never break the reader or the editor.
TEST_F(LogFileTest, FuzzedLogsLoadAndEditSafely) {
  std::mt19937 random(42);
  std::string base = Report("id") + "\r\n\r\n\r\n\r\n" + Report("id2", "a\nb: c\n\nd.");
  const char alphabet[] = "\r\n-|: ._2.78abc";
  for (int round = 0; round < 400; ++round) {
    std::string data = base;
    int edits = 1 + static_cast<int>(random() % 12);
    for (int e = 0; e < edits && !data.empty(); ++e) {
      size_t at = random() % data.size();
      switch (random() % 3) {
        case 0: data[at] = alphabet[random() % (sizeof alphabet - 1)]; break;
        case 1: data.erase(at, 1 + random() % 40); break;
        default: data.insert(at, std::string(1 + random() % 3, alphabet[random() % (sizeof alphabet - 1)]));
      }
    }
    if (round % 50 == 0) data = data.substr(0, random() % (data.size() + 1));
    TStringStream stream(data);
    TLogFile log("", false);
    log.LoadFromStream(stream);
    for (int32_t r = 0; r < log.GetCount(); ++r) {
      std::string value = log.GetItemField("2.7", r);
      log.FindItemByField({"2.7"}, 0, {value});
      log.SetItemField("2.8", "5", r, "Count");
      log.SetItemField("2.12", "x\ny", r, "Extra");
      EXPECT_GE(log.GetReport(r).size(), 6u);
    }
  }
}

}  // namespace
