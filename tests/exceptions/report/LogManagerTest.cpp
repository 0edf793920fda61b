// Log file management against real files in a temporary folder: repeated reports and their
// counter, the cap, the write events and retries, companion names, each run's companion folder
// and the attachment list.
#include "exceptions/report/ELogManager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "SampleReport.h"
#include "TestFiles.h"
#include "classlib/Streams.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/EmberTexts.h"
#include "exceptions/report/ELogFile.h"

namespace {

using sample_report::Report;

class LogManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The companion files go to the temporary folder: point it into the test's own folder.
    for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
      saved_.push_back(GetEnvVariable(name));
      SetEnvVariable(name, temp_.Path());
    }
    options.SetOutputPath(logPath);
    options.SetLogOptions(0x01);
    options.SetSaveLogFile(1);
    options.SetSendOptions(0);
    LogReportState() = TLogReportState();
    LogReportState().Options = &options;
    SetLogEvents(TLogEvents());
  }
  void TearDown() override {
    CloseLogFile();
    LogReportState() = TLogReportState();
    SetLogEvents(TLogEvents());
    int i = 0;
    for (const char* name : {"TMPDIR", "TMP", "TEMP"}) SetEnvVariable(name, saved_[i++]);
  }

  // One exception passing through the log: look it up, then write it.
  bool Process(const std::string& id, const std::string& message = "Access violation.") {
    LogReportState().ReportID = id;
    LogReportState().ReportText = Report(id, message);
    OpenLogFile(true);
    bool repeated = LogReportState().RepeatedReport;
    WriteLogFile();
    return repeated;
  }

  TempDir dir;
  TempDir temp_;
  std::string logPath = dir.File("demo.elf");
  TEmberModuleOptions options{"demo.dll"};
  std::vector<std::string> saved_;
};

TEST_F(LogManagerTest, SameErrorTwiceRaisesTheCounterInsteadOfAppending) {
  EXPECT_FALSE(Process("E1"));
  EXPECT_TRUE(FileExists(logPath));
  EXPECT_TRUE(Process("E1"));
  TLogFile log(logPath, true);
  ASSERT_EQ(log.GetCount(), 1);
  EXPECT_EQ(log.GetItemField("2.8", 0), "2");
  EXPECT_TRUE(Process("E1"));
  EXPECT_FALSE(Process("E2"));
  TLogFile after(logPath, true);
  ASSERT_EQ(after.GetCount(), 2);
  EXPECT_EQ(after.GetItemField("2.8", 0), "3");
  EXPECT_EQ(after.GetItemField("2.8", 1), "1");
  EXPECT_EQ(CurrentLogFile(), nullptr);
}

TEST_F(LogManagerTest, WithoutTheRepeatOptionTheLogIsNotSearched) {
  Process("E1");
  options.SetLogOptions(0);
  LogReportState().RepeatedReport = true;
  LogReportState().ReportID = "E1";
  OpenLogFile(true);
  EXPECT_FALSE(LogReportState().RepeatedReport);
  TLogFile log(logPath, true);
  EXPECT_EQ(log.GetItemField("2.8", 0), "1");
  WriteLogFile();
  EXPECT_EQ(TLogFile(logPath, true).GetCount(), 2);
}

TEST_F(LogManagerTest, CounterThatIsNoNumberRestartsAtTwo) {
  Process("E1");
  {
    TLogFile log(logPath, false);
    log.SetItemField("2.8", "many", 0, "Count");
    log.SaveToFile();
  }
  Process("E1");
  EXPECT_EQ(TLogFile(logPath, true).GetItemField("2.8", 0), "2");
}

TEST_F(LogManagerTest, CapAndWholeLogOfferedForSending) {
  options.SetLogReportLimit(2);
  options.SetSendOptions(0x04);
  Process("A");
  Process("B");
  Process("C");
  TLogFile log(logPath, true);
  ASSERT_EQ(log.GetCount(), 2);
  EXPECT_EQ(log.GetItemField("2.7", 0), "B");
  EXPECT_EQ(log.GetItemField("2.7", 1), "C");
  EXPECT_EQ(LogReportState().SendText, log.GetText());
}

TEST_F(LogManagerTest, HandlersSeeTheWriteAndMayVetoTheSave) {
  std::vector<std::string> calls;
  TLogEvents events;
  events.ActionNotify = [&](int32_t action, bool& allowed) {
    calls.push_back("action " + std::to_string(action) + (allowed ? " allowed" : " vetoed"));
    if (action == 2) allowed = false;
  };
  events.ErrorNotify = [&](int32_t error, bool& retry) { calls.push_back("error " + std::to_string(error)); };
  int cleared = 0;
  events.ClearLastError = [&]() { ++cleared; };
  SetLogEvents(events);
  Process("E1");
  EXPECT_FALSE(FileExists(logPath));
  EXPECT_EQ(calls, (std::vector<std::string>{"action 2 allowed", "error 3", "action 3 vetoed"}));
  EXPECT_GE(cleared, 2);
  // Without SaveLogFile nothing is written and no event is raised.
  calls.clear();
  options.SetSaveLogFile(0);
  Process("E2");
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(FileExists(logPath));
}

#ifndef _WIN32
// A log that cannot be written is an error the handler may retry once the cause is gone; the
// retried round appends the report once. (On Windows the log moves to the library's folder
// instead.)
TEST_F(LogManagerTest, FailedSaveIsReportedAndRetriedWithoutDuplicates) {
  std::string blocked = dir.File("sub");
  WriteFileBytes(blocked, "a file where the folder should be");
  options.SetOutputPath(blocked + "/demo.elf");
  int errors = 0;
  TLogEvents events;
  events.ErrorNotify = [&](int32_t error, bool& retry) {
    EXPECT_EQ(error, 3);
    if (++errors == 1) {
      RemoveFile(blocked);
      std::filesystem::create_directory(blocked);
      retry = true;
    }
  };
  SetLogEvents(events);
  EXPECT_NO_THROW(Process("E1"));
  EXPECT_EQ(errors, 1);
  TLogFile log(blocked + "/demo.elf", true);
  EXPECT_EQ(log.GetCount(), 1);
}
#endif

// --- Companion names

TEST_F(LogManagerTest, AttachedLogNameCarriesComputerAndDate) {
  TDateTime date, time;
  ASSERT_TRUE(TryEncodeDate(2024, 3, 5, date));
  ASSERT_TRUE(TryEncodeTime(6, 7, 8, 0, time));
  LogReportState().ExceptionDate = ComposeDateTime(date, time);
  EXPECT_EQ(GetAttachedLogFileName(logPath), "demo.elf");
  options.SetSendOptions(0x100);
  EXPECT_EQ(GetAttachedLogFileName(logPath), "demo__20240305060708.elf");
  options.SetSendOptions(0x300);
  std::smatch match;
  std::string name = GetAttachedLogFileName(logPath);
  ASSERT_TRUE(std::regex_match(name, match, std::regex("demo__(.+)__(\\d{14})\\.elf"))) << name;
  EXPECT_LE(match[1].length(), 16);
  EXPECT_EQ(match[2], "20240305060708");
  EXPECT_EQ(GetAttachedLogFileName("C:\\x\\noext"), "noext__" + match[1].str() + "__20240305060708");
}

TEST_F(LogManagerTest, CompanionNamesFollowTheirOptions) {
  std::string temp = GetZipFileName().substr(0, GetZipFileName().size() - 13);
  EXPECT_EQ(GetZipFileName(), temp + "BugReport.zip");
  EXPECT_NE(temp.find(std::filesystem::path(temp_.Path()).filename().string()), std::string::npos);
  EXPECT_EQ(GetScreenshotFileName(), "");
  EXPECT_EQ(GetLastHTMLPageFileName(), "");
  EXPECT_EQ(GetXMLLogFileName(), "");
  EXPECT_EQ(GetTempLogFileName(), temp + "demo.elf");
  options.SetSendOptions(0x10 | 0x40 | 0x08);
  EXPECT_EQ(GetScreenshotFileName(), temp + "Screenshot.png");
  EXPECT_EQ(GetLastHTMLPageFileName(), temp + "LastHTMLPage.html");
  EXPECT_EQ(GetXMLLogFileName(), temp + "demo.xml");
  EXPECT_TRUE(std::regex_match(GetProcessTempFileName().substr(temp.size()), std::regex("[0-9A-F]{16}\\.bin")));
}

// Each run's companion files go to a new folder of its own in the temporary folder, under the
// names the report shows; removing it takes what is left, except a CGI program's last page (its
// output), which stays in the temporary folder under its own name.
TEST_F(LogManagerTest, EachRunHasACompanionFolderOfItsOwn) {
  const std::string temp = GetZipFileName().substr(0, GetZipFileName().size() - 13);
  const std::string first = MakeCompanionFolder(), second = MakeCompanionFolder();
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  EXPECT_EQ(first.compare(0, temp.size(), temp), 0) << first;
  options.SetSendOptions(0x40);
  for (const bool cgi : {false, true}) {
#ifndef _WIN32
    if (cgi) break;  // only Windows programs run as CGI programs
#endif
    SCOPED_TRACE(cgi ? "CGI" : "plain");
    SetEnvVariable("REQUEST_METHOD", cgi ? "GET" : "");
    const std::string folder = cgi ? second : first;
    SetCompanionFolder(folder);
    EXPECT_EQ(GetZipFileName(), folder + "BugReport.zip");
    WriteFileBytes(GetZipFileName(), "zip");
    WriteFileBytes(GetLastHTMLPageFileName(), cgi ? "<html>cgi</html>" : "<html>plain</html>");
    RemoveCompanionFolder(folder);
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(ReadTextFile(temp + "LastHTMLPage.html"), cgi ? "<html>cgi</html>" : "");
  }
  SetEnvVariable("REQUEST_METHOD", "");
  SetCompanionFolder(std::string());
}

TEST_F(LogManagerTest, LastPageIsKeptOnlyForWebApplications) {
  options.SetSendOptions(0x40);
  SetLastHTMLPage("<html>1</html>");
  EXPECT_EQ(ReadTextFile(GetLastHTMLPageFileName()), "");
  LogReportState().LastHTMLPage = "kept";
  SetLastHTMLPage("<html>2</html>");
  EXPECT_EQ(ReadTextFile(GetLastHTMLPageFileName()), "<html>2</html>");
  EXPECT_EQ(ReadTextFile(""), "");
  EXPECT_EQ(ReadTextFile(dir.File("missing.txt")), "");
}

TEST_F(LogManagerTest, XmlCompanionIsWrittenFromTheLogCopy) {
  WriteXMLLogFile();
  options.SetSendOptions(0x08);
  WriteFileBytes(GetTempLogFileName(), Report("copy-1") + "\r\n\r\n\r\n" + Report("copy-2"));
  WriteXMLLogFile();
  std::string xml = ReadTextFile(GetXMLLogFileName());
  EXPECT_EQ(xml.substr(0, 7), "<Doc>\r\n");
  EXPECT_NE(xml.find("Value=\"copy-1\""), std::string::npos);
  EXPECT_NE(xml.find("Value=\"copy-2\""), std::string::npos);
  // Without a copy the XML holds an empty log.
  RemoveFile(GetTempLogFileName());
  WriteXMLLogFile();
  EXPECT_EQ(ReadTextFile(GetXMLLogFileName()), "<Doc>\r\n</Doc>");
}

TEST_F(LogManagerTest, AttachmentListCollectsTheFilesThatApply) {
  SetEnvVariable("KBL_ATTACH_DIR", "C:\\data");
  options.SetAttachedFiles("a.txt; %KBL_ATTACH_DIR%\\b.txt;;");
  std::vector<std::string> files = {"stale"};
  BuildAttachmentList(false, files);
  EXPECT_EQ(files, (std::vector<std::string>{"a.txt", "C:\\data\\b.txt", GetTempLogFileName()}));
  options.SetLogInMailBody(1);
  BuildAttachmentList(true, files);
  EXPECT_EQ(files, (std::vector<std::string>{"a.txt", "C:\\data\\b.txt"}));
  options.SetLogInMailBody(0);
  options.SetSendOptions(0x10 | 0x40 | 0x08);
  BuildAttachmentList(true, files);
  EXPECT_EQ(files, (std::vector<std::string>{"a.txt", "C:\\data\\b.txt", GetTempLogFileName(), GetXMLLogFileName()}));
  LogReportState().ScreenshotAsked = true;
  LogReportState().LastHTMLPage = "page";
  BuildAttachmentList(true, files);
  EXPECT_EQ(files, (std::vector<std::string>{"a.txt", "C:\\data\\b.txt", GetTempLogFileName(), GetScreenshotFileName(),
                                             GetLastHTMLPageFileName(), GetXMLLogFileName()}));
  SetEnvVariable("KBL_ATTACH_DIR", "");
}

}  // namespace
