// The sending pipeline against servers on 127.0.0.1: the message and the zip arrive intact, a
// dead server makes the retry, the kept zip and the shown reason happen, handlers can veto, the
// background send and the kept zips' limit; under Wine also the web upload
// reusing the e-mail's zip, the FTP upload and a Bugzilla tracker.
#include "exceptions/report/ESendReport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "MailZip.h"
#include "TestFiles.h"
#include "classlib/Streams.h"
#include "exceptions/EmberCodecs.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/EmberTexts.h"
#include "exceptions/capture/EmberLogEvents.h"
#include "exceptions/capture/ExceptionLog.h"
#include "exceptions/report/EBugReport.h"
#include "exceptions/report/EDeliverySupport.h"
#include "exceptions/report/EExceptionDialog.h"
#include "exceptions/report/ELogManager.h"
#include "exceptions/report/ESupport.h"

#ifdef _WIN32
#include <windows.h>

#include "DeliveryHttpServer.h"
#include "DeliveryTrackerPages.h"
#include "Emulation.h"
#include "exceptions/report/EHttp.h"
#endif

namespace {

// Fresh options in force (the library's current options).
TEmberModuleOptions& InstallOptions() {
  EmberLibrary().CurrentOptions = std::make_unique<TEmberModuleOptionsEx>("SendTest.exe", 0);
  return *EmberLibrary().CurrentOptions;
}

const char* const kReport = "EmberLog 6.0.24\r\n\r\nException:\r\n----------\r\n  2.5 Type    : EBoom\r\n"
                            "  2.7 ID      : ID1\r\n";

struct Outcome {
  bool error;
  std::string text, caption;
};
std::vector<Outcome> gBoxes;
std::vector<int32_t> gActions, gErrors;
int32_t gVetoAction = -1;
int32_t gRetries = 0;

void ErrorBox(const std::string& text, const std::string& caption) { gBoxes.push_back({true, text, caption}); }
void InformationBox(const std::string& text, const std::string& caption) { gBoxes.push_back({false, text, caption}); }
const TEmberMessageBoxes kBoxes{ErrorBox, nullptr, InformationBox};

// Points the system's temporary folder at `folder` (empty: back to what it was).
void SetTemporaryFolder(const std::string& folder) {
#ifdef _WIN32
  static const std::string tmp = GetEnvVariable("TMP"), temp = GetEnvVariable("TEMP");
  SetEnvironmentVariableA("TMP", folder.empty() ? tmp.c_str() : folder.c_str());
  SetEnvironmentVariableA("TEMP", folder.empty() ? temp.c_str() : folder.c_str());
#else
  static const char* saved = std::getenv("TMPDIR");
  static const std::string tmpdir = saved ? saved : "";
  if (folder.empty() && tmpdir.empty())
    unsetenv("TMPDIR");
  else
    setenv("TMPDIR", folder.empty() ? tmpdir.c_str() : folder.c_str(), 1);
#endif
}

std::string Join(const std::string& folder, const std::string& name) {
#ifdef _WIN32
  return folder + "\\" + name;
#else
  return folder + "/" + name;
#endif
}

class SendReport : public ::testing::Test {
 protected:
  void SetUp() override {
    SetTemporaryFolder(temp.Path());
    options.SetEMailSendMode(2);
    options.SetSmtpHost("127.0.0.1");
    options.SetEMailAddresses("bugs@example.org");
    options.SetEMailSubject("Crash report");
    options.SetEMailMessage("Hello from the test");
    options.SetUserEMail("ann@example.org");
    options.SetOutputPath(Join(logs.Path(), "SendTest.elf"));
    options.SetSendOptions(0);
    options.SetBehaviourOptions(0);
    WriteFileBytes(Join(logs.Path(), "notes.txt"), "notes of the run");
    options.SetAttachedFiles(Join(logs.Path(), "notes.txt"));
    LogReportState().Options = &options;
    LogReportState().ReportID = "ID1";
    ReportPieces().LastReportText = kReport;
    gBoxes.clear();
    gActions.clear();
    gErrors.clear();
    gVetoAction = -1;
    gRetries = 0;
    SetLibraryMessageBoxes(&kBoxes);
    TLogEvents events;
    events.ActionNotify = [](int32_t action, bool& execute) {
      gActions.push_back(action);
      if (action == gVetoAction) execute = false;
    };
    events.ErrorNotify = [](int32_t error, bool& retry) {
      gErrors.push_back(error);
      retry = gRetries-- > 0;
    };
    SetLogEvents(events);
  }
  void TearDown() override {
    SetTemporaryFolder(std::string());
    SetLogEvents(TLogEvents());
    SetLibraryMessageBoxes(nullptr);
    EmberLibrary().CurrentOptions.reset();
    LogReportState() = TLogReportState();
    EmberGlobalHandlers() = TEmberLogEventHolder();
  }

  std::string LogCopyName() const { return FilePartOf(GetTempLogFileName()); }

  TempDir temp, logs;
  TEmberModuleOptions& options = InstallOptions();
};

}  // namespace

TEST_F(SendReport, MessageAndZipArriveIntactAndTheTemporaryFilesGo) {
  testnet::SmtpServer server;
  options.SetSmtpPort(server.Port());
  EXPECT_TRUE(SendBugReport());
  std::vector<testnet::SmtpSession> sessions = server.Sessions();
  ASSERT_EQ(sessions.size(), 1u);
  testnet::Received mail = testnet::Unstuff(sessions[0].data);
  EXPECT_NE(mail.headers.find("Subject: Crash report\r\n"), std::string::npos);
  EXPECT_NE(mail.body.find("Hello from the test"), std::string::npos);
  std::map<std::string, std::string> zip = testnet::MailZip(sessions[0].data);
  EXPECT_EQ(zip[LogCopyName()], std::string(kReport) + "\r\n\r\n\r\n");
  EXPECT_EQ(zip["notes.txt"], "notes of the run");
  EXPECT_EQ(zip.size(), 2u);
  EXPECT_FALSE(FileExistsText(GetZipFileName()));
  EXPECT_FALSE(FileExistsText(GetTempLogFileName()));
  EXPECT_EQ(gActions, (std::vector<int32_t>{4, 5}));
  EXPECT_EQ(GetLastLibraryErrorCode(), eeNone);
}

TEST_F(SendReport, DeadServerRetriesKeepsTheZipAndShowsWhy) {
  options.SetSmtpPort(testnet::UnusedPort(true));
  options.SetBehaviourOptions(0x20);
  options.SetSendOptions(0x02);
  WriteFileBytes(Join(logs.Path(), "Holiday.zip"), "not a report");
  gRetries = 1;
  EXPECT_FALSE(SendBugReport());
  EXPECT_EQ(gErrors, (std::vector<int32_t>{5, 5}));
  EXPECT_EQ(GetLastLibraryErrorCode(), eeEmailSMTPError);
  ASSERT_EQ(gBoxes.size(), 1u);
  EXPECT_TRUE(gBoxes[0].error);
  EXPECT_EQ(gBoxes[0].caption, "Information.");
  EXPECT_EQ(gBoxes[0].text, "Sorry, sending the message didn't work.\r\n\r\n" + GetLastLibraryErrorMessage());
  // The zip waits beside the log; the user's own zip there is left alone.
  std::map<std::string, std::string> kept = testzip::ReadEntries(ReadFileBytes(Join(logs.Path(), "BugReport.zip")));
  EXPECT_EQ(kept[LogCopyName()], std::string(kReport) + "\r\n\r\n\r\n");
  EXPECT_EQ(ReadFileBytes(Join(logs.Path(), "Holiday.zip")), "not a report");
  EXPECT_FALSE(FileExistsText(GetZipFileName()));
}

TEST_F(SendReport, HandlerVetoesTheEmail) {
  testnet::SmtpServer server;
  options.SetSmtpPort(server.Port());
  options.SetSendOptions(0x02);
  gVetoAction = 4;
  EXPECT_FALSE(SendBugReport());
  EXPECT_TRUE(server.Sessions().empty());
  EXPECT_EQ(gActions, (std::vector<int32_t>{4}));
  ASSERT_EQ(gBoxes.size(), 1u);
  EXPECT_TRUE(gBoxes[0].error);
}

TEST_F(SendReport, BackgroundSendRunsOnItsOwnThreadWithACopyOfTheException) {
  testnet::SmtpServer server;
  options.SetSmtpPort(server.Port());
  options.SetSendOptions(0x80);
  std::string message(100, 'x');
  {
    EConvertError original(message);
    EmberLibrary().CurrentException.ExceptionObject = &original;
    StartSendThread(true);
    // The original is gone before the thread sends.
    EXPECT_NE(EmberLibrary().CurrentException.ExceptionObject, &original);
  }
  // Joining waits for the send to end.
  JoinSendThreads();
  EXPECT_FALSE(IsSendThreadRunning());
  EXPECT_EQ(EmberLibrary().CurrentException.ExceptionObject, nullptr);
  EXPECT_EQ(server.Sessions().size(), 1u);
}

TEST(KeptZips, NewestTenStayAndOthersAreLeftAlone) {
  TempDir dir;
  for (int i = 1; i <= 10; ++i) WriteFileBytes(Join(dir.Path(), "BugReport__2024010100000" + std::to_string(i % 10) + ".zip"), "old");
  WriteFileBytes(Join(dir.Path(), "BugReport.zip"), "oldest");
  WriteFileBytes(Join(dir.Path(), "Other.zip"), "mine");
  WriteFileBytes(Join(dir.Path(), "new.zip"), "newest");
  std::string kept = KeepZipFile(Join(dir.Path(), "new.zip"), dir.Path(), "BugReport.zip", "20250101000000", 10);
  EXPECT_EQ(FilePartOf(kept), "BugReport__20250101000000.zip");
  EXPECT_EQ(ReadFileBytes(kept), "newest");
  // The two oldest by name went: the undecorated one and the first dated one.
  EXPECT_FALSE(FileExistsText(Join(dir.Path(), "BugReport.zip")));
  EXPECT_FALSE(FileExistsText(Join(dir.Path(), "BugReport__20240101000000.zip")));
  EXPECT_TRUE(FileExistsText(Join(dir.Path(), "BugReport__20240101000001.zip")));
  EXPECT_EQ(ReadFileBytes(Join(dir.Path(), "Other.zip")), "mine");
  // A second zip of the same second gets a number.
  WriteFileBytes(Join(dir.Path(), "BugReport.zip"), "plain");
  WriteFileBytes(Join(dir.Path(), "new.zip"), "again");
  EXPECT_EQ(FilePartOf(KeepZipFile(Join(dir.Path(), "new.zip"), dir.Path(), "BugReport.zip", "20250101000000", 10)),
            "BugReport__20250101000000_2.zip");
}

#ifdef _WIN32

namespace {

// A small FTP server: logs in anyone, answers passive mode and keeps every stored file.
class FtpServer {
 public:
  FtpServer() : control_([this](testnet::Connection& c) { Serve(c); }) {}
  uint16_t Port() const { return control_.Port(); }
  std::map<std::string, std::string> Stored() {
    control_.Stop();
    std::lock_guard<std::mutex> guard(lock_);
    return stored_;
  }

 private:
  void Serve(testnet::Connection& c) {
    c.Write("220 ready\r\n");
    std::unique_ptr<testnet::Listener> data;
    std::atomic<bool> received{false};
    std::string bytes;
    for (;;) {
      std::string line = c.ReadLine();
      if (line.empty()) return;
      line.resize(line.size() - 2);
      std::string verb = line.substr(0, line.find(' '));
      std::string argument = line.size() > verb.size() ? line.substr(verb.size() + 1) : std::string();
      if (verb == "USER") {
        c.Write("331 password\r\n");
      } else if (verb == "PASS") {
        c.Write("230 logged in\r\n");
      } else if (verb == "PASV") {
        received = false;
        data = std::make_unique<testnet::Listener>([&](testnet::Connection& d) {
          std::string all;
          for (std::string piece; !(piece = d.ReadCount(4096)).empty();) all += piece;
          bytes = all;
          received = true;
        });
        uint16_t port = data->Port();
        c.Write("227 Entering Passive Mode (127,0,0,1," + std::to_string(port >> 8) + "," +
                std::to_string(port & 255) + ")\r\n");
      } else if (verb == "STOR") {
        c.Write("150 send it\r\n");
        for (unsigned long i = 0; i < MachineBound(3000) && !received; ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        {
          std::lock_guard<std::mutex> guard(lock_);
          stored_[argument] = bytes;
        }
        c.Write("226 stored\r\n");
      } else if (verb == "PWD") {
        c.Write("257 \"/\"\r\n");
      } else if (verb == "QUIT") {
        c.Write("221 bye\r\n");
        return;
      } else {
        c.Write("200 ok\r\n");
      }
    }
  }
  std::mutex lock_;
  std::map<std::string, std::string> stored_;
  testnet::Listener control_;
};

std::string MultipartFile(const std::string& body, const std::string& fileName) {
  std::string marker = "filename=\"" + fileName + "\"";
  size_t at = body.find(marker);
  if (at == std::string::npos) return std::string();
  size_t start = body.find("\r\n\r\n", at) + 4;
  size_t end = body.find("\r\n--", start);
  return body.substr(start, end - start);
}

}  // namespace

TEST_F(SendReport, WebUploadReusesTheEmailZipWithTheCustomFields) {
  testnet::SmtpServer smtp;
  testnet::HttpServer http([](const testnet::HttpRequest&) { return testnet::HttpAnswer("200 OK", "thanks"); });
  options.SetSmtpPort(smtp.Port());
  options.SetWebSendMode(1);
  options.SetWebURL("http://127.0.0.1/bugs/upload.php");
  options.SetWebPort(http.Port());
  EmberGlobalHandlers().OnCustomWebFieldsRequest = [](TEmberExceptionRecord&, TStrings& list) { list.Add("build=77"); };
  EXPECT_TRUE(SendBugReport());
  http.Stop();
  std::vector<testnet::HttpRequest> requests = http.Requests();
  ASSERT_EQ(requests.size(), 1u);
  std::string uploaded = MultipartFile(requests[0].body, "BugReport.zip");
  EXPECT_EQ(testzip::ReadEntries(uploaded), testnet::MailZip(smtp.Sessions()[0].data));
  EXPECT_NE(requests[0].body.find("name=\"build\";\r\n\r\n77\r\n"), std::string::npos);
  EXPECT_EQ(gActions, (std::vector<int32_t>{4, 5, 6, 7}));
}

TEST_F(SendReport, FtpUploadStoresTheZip) {
  FtpServer ftp;
  options.SetEMailSendMode(0);
  options.SetWebSendMode(3);
  options.SetWebURL("ftp://127.0.0.1/incoming");
  options.SetWebPort(ftp.Port());
  options.SetWebUser("ann");
  options.SetWebPassword("pw");
  EXPECT_TRUE(SendBugReport()) << GetLastLibraryErrorMessage();
  std::map<std::string, std::string> stored = ftp.Stored();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_NE(stored.begin()->first.find("BugReport.zip"), std::string::npos);
  EXPECT_EQ(testzip::ReadEntries(stored.begin()->second)[LogCopyName()], std::string(kReport) + "\r\n\r\n\r\n");
}

TEST_F(SendReport, BugzillaTrackerGetsTheReportAndTheZip) {
  testnet::BugzillaState state;
  testnet::HttpServer tracker([&](const testnet::HttpRequest& r) { return testnet::BugzillaPage(r, state); });
  options.SetEMailSendMode(0);
  options.SetWebSendMode(4);
  options.SetWebURL("http://127.0.0.1/bz/");
  options.SetWebPort(tracker.Port());
  options.SetTrackerProject("Tarvik");
  EmberDialogState().ExceptionMessage = "It broke";
  EConvertError boom("It broke");
  EmberLibrary().CurrentException.ExceptionObject = &boom;
  EXPECT_TRUE(SendBugReport()) << GetLastLibraryErrorMessage();
  EmberLibrary().CurrentException.ExceptionObject = nullptr;
  EmberDialogState().ExceptionMessage.clear();
  tracker.Stop();
  std::string summary, attachment;
  for (const auto& r : tracker.Requests()) {
    if (testnet::DocumentOf(r.target) == "post_bug.cgi") summary = r.body;
    if (testnet::DocumentOf(r.target) == "attachment.cgi") attachment = r.body;
  }
  EXPECT_NE(summary.find("short_desc=" + URLEncode("[v")), std::string::npos);
  EXPECT_NE(summary.find(URLEncode(" - 1]: EConvertError (ID1)")), std::string::npos) << summary;
  EXPECT_EQ(testzip::ReadEntries(MultipartFile(attachment, "BugReport.zip"))[LogCopyName()],
            std::string(kReport) + "\r\n\r\n\r\n");
}

#endif
