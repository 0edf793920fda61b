// Probes of the background send along the paths next to it: another module of the process that
// carries the library and sends at the same time, another module's event call while a send is
// under way, an exception of an event handler that leaves it on the send thread, and a handler's
// exception that the runtime cannot let go on (it ends the thread). Each report is mailed by the
// library's send thread to an SMTP server on 127.0.0.1; the halves that end or hang their process
// run in a second process of this program.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "FailAfter.h"
#include "MailZip.h"
#include "exceptions/capture/EmberLogEvents.h"
#include "exceptions/capture/ExceptionLog.h"
#include "exceptions/report/EExceptionDialog.h"
#include "exceptions/report/EExceptionProcessing.h"
#include "exceptions/report/ELogManager.h"
#include "exceptions/report/EReportOutput.h"
#include "exceptions/report/ESendReport.h"
#include "exceptions/report/ESupport.h"
#include "tools/vsthost/VstHost.h"

namespace {

std::string OwnLogName() {
  char name[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, name, MAX_PATH);
  std::string log = name;
  return log.substr(0, log.rfind('.')) + ".elf";
}

// The subject of each mail (of those whose body holds `onlyWith`), marked when the report in its
// body is another one or its zip does not hold `log` with that message in it.
std::vector<std::string> Mails(testnet::SmtpServer& server, const std::string& log,
                               const std::string& onlyWith = std::string()) {
  std::vector<std::string> sent;
  for (const testnet::SmtpSession& session : server.Sessions()) {
    const testnet::Received mail = testnet::Unstuff(session.data);
    if (mail.body.find(onlyWith) == std::string::npos) continue;
    const size_t at = mail.headers.find("Subject: ");
    std::string subject =
        at == std::string::npos ? "" : mail.headers.substr(at + 9, mail.headers.find("\r\n", at) - at - 9);
    if (mail.body.find(": " + subject + "\r\n") == std::string::npos) subject += " (another report)";
    std::map<std::string, std::string> zip = testnet::MailZip(session.data);
    const std::string message = subject.substr(0, subject.find('.'));
    if (zip.count(log) == 0 || zip[log].find(message) == std::string::npos) subject += " (no zip of " + log + ")";
    sent.push_back(subject);
  }
  std::sort(sent.begin(), sent.end());
  return sent;
}

std::string OwnLog() { return OwnLogName().substr(OwnLogName().rfind('\\') + 1); }

const char* const kNotes = "attack_child.txt";
void Note(const char* text) { std::ofstream(kNotes, std::ios::binary | std::ios::app) << text; }

// The other process of this program that sends beside a send (KBL_OTHER_SMTP_PORT) keeps the log,
// which it shares with this one.
bool KeepsLog() { return std::getenv("KBL_OTHER_SMTP_PORT") != nullptr; }

class AttackSendProbes : public ::testing::Test {
 protected:
  void SetUp() override {
    StartExceptionReporting();
    if (!KeepsLog()) std::remove(OwnLogName().c_str());
    options_ = GetModuleInfo(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)))->Options.get();
    ASSERT_NE(options_, nullptr);
    saved_.Assign(options_);
  }
  void TearDown() override {
    EmberGlobalHandlers() = TEmberLogEventHolder();
    JoinSendThreads();
    options_->Assign(&saved_);
    StopExceptionReporting();
    SetEmberReportOutput(TEmberReportOutput());
    SetLogEvents(TLogEvents());
    if (!KeepsLog()) std::remove(OwnLogName().c_str());
  }
  // Reports go out without a dialog, mailed by the library's send thread to `port`: the subject
  // is the exception's message, the body holds the report and the zip the log.
  void SendBySmtpInBackground(uint16_t port) {
    TEmberReportOutput output;
    output.StartSend = &StartSendThread;
    SetEmberReportOutput(output);
    InstallReportEvents();
    options_->SetExceptionDialogType(0);
    options_->SetEMailSendMode(2);
    options_->SetSmtpHost("127.0.0.1");
    options_->SetSmtpPort(port);
    options_->SetEMailAddresses("bugs@example.org");
    options_->SetEMailSubject("%_ExceptMsg%");
    options_->SetLogInMailBody(1);
    options_->SetAttachedFiles(OwnLogName());
    options_->SetSendOptions(0x80);
  }
  void Process(const char* message) {
    std::runtime_error error(message);
    CentralNotify(&error, reinterpret_cast<uintptr_t>(&OwnLogName), 0, 0, 0, nullptr, nullptr, 0,
                  reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)), 0, 0);
  }
  TEmberModuleOptions* options_ = nullptr;
  TEmberModuleOptions saved_{"", 0};
};

// --- Other senders and other modules beside a send

// While this module's report is being sent (the handler of the send's before-e-mail event runs:
// the send's zip is made), another sender of reports on the computer sends its own report to the
// same server: a second plug-in of the host that carries the library too (its own copy, its own
// lock), failing and closed once its report went out; or another process of this program. This
// module's mail is still its own: its subject is its exception's message and its zip holds its
// log with that report.
void FailInSecondPlugin(uint16_t port) {
  TVstHost host("sendplugin.dll");
  using TUseSmtp = void (*)(const char*, uint16_t);
  auto useSmtp = reinterpret_cast<TUseSmtp>(GetProcAddress(GetModuleHandleA("sendplugin.dll"), "DialogPluginUseSmtp"));
  if (useSmtp != nullptr) useSmtp("127.0.0.1", port);
  host.SetParameter(0, 1.0f);  // fails; its report goes out on its library's send thread
  host.Close();                // waits for that send
}

void FailInOtherProcess(uint16_t port) {
  RunChildProcess("--gtest_filter=AttackSendProbes.OtherProcessChild", {{"KBL_OTHER_SMTP_PORT", std::to_string(port)}},
                  30000);
}

TEST_F(AttackSendProbes, OtherProcessChild) {
  const char* port = std::getenv("KBL_OTHER_SMTP_PORT");
  if (port == nullptr) GTEST_SKIP() << "a child half of a test";
  SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(port)));
  Process("Knob failure");
}

TEST_F(AttackSendProbes, ASendKeepsItsReportAndZipWhileAnotherSenderSends) {
  for (void (*other)(uint16_t) : {&FailInSecondPlugin, &FailInOtherProcess}) {
    SCOPED_TRACE(other == &FailInSecondPlugin ? "a second plug-in" : "another process");
    testnet::SmtpServer server;
    SendBySmtpInBackground(server.Port());
    static uint16_t port;
    static void (*fail)(uint16_t);
    port = server.Port();
    fail = other;
    EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
      if (action != 4) return;
      try {
        fail(port);
      } catch (...) {
      }
    };
    const TFailAfter bound(60000, "the send beside another sender did not end");
    Process("outer");
    JoinSendThreads();
    EXPECT_EQ(Mails(server, OwnLog(), ": outer.\r\n"), std::vector<std::string>{"outer."});
    EXPECT_EQ(Mails(server, OwnLog(), "Knob failure").size(), 1u);  // the other report went out too
    EmberGlobalHandlers() = TEmberLogEventHolder();
  }
}

// Another module hands this module an event through its export (its exception's address lies
// here) while this module's report is being sent: the send's later events still see the send's
// own record, and once the send is over the record holds nothing of it (its copy is freed).
TEST_F(AttackSendProbes, AnotherModulesEventCallLeavesTheSendsRecordAlone) {
  testnet::SmtpServer server;
  SendBySmtpInBackground(server.Port());
  static HANDLE inside, release;
  static std::string seenAfterEmail;
  static const std::exception* sendsObject;
  static std::thread foreign;
  inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  seenAfterEmail.clear();
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord& record, int32_t action, uint8_t&) {
    if (action == 99) {  // the other module's event, on its thread
      SetEvent(inside);
      WaitForSingleObject(release, 30000);
    } else if (action == 4) {
      sendsObject = record.ExceptionObject;
      foreign = std::thread([] {
        std::logic_error error("foreign");
        TEmberExceptionRecord theirs;
        theirs.ExceptionObject = &error;
        uint8_t execute = 1;
        EmberLog_ExceptionActionNotifyEvent(&theirs, 99, &execute);
      });
      WaitForSingleObject(inside, 30000);
    } else if (action == 5) {
      seenAfterEmail = record.ExceptionObject != nullptr ? record.ExceptionObject->what() : "(none)";
    }
  };
  const TFailAfter bound(60000, "the send with another module's event did not end");
  Process("outer");
  JoinSendThreads();  // the send is over; the other module's event is still running
  SetEvent(release);
  foreign.join();
  EXPECT_EQ(seenAfterEmail, "outer");
  EXPECT_NE(EmberLibrary().CurrentException.ExceptionObject, sendsObject);
  CloseHandle(inside);
  CloseHandle(release);
}

// --- Second-process halves

// An exception that leaves a function that may not raise: the runtime ends the program's code on
// its thread.
void Rethrow(const std::exception& error) { throw std::logic_error(error.what()); }
void (*volatile gRethrow)(const std::exception&) = &Rethrow;
void LeaveNoexcept(const char* message) noexcept { gRethrow(std::logic_error(message)); }

// KBL_ATTACK_CASE names what a send event handler does on the send thread (port in
// KBL_SMTP_PORT): "escape action" / "escape files": with handled exceptions reported, an
// exception leaves the handler of the before-e-mail event / of the attached-files request;
// "terminate": an exception leaves a noexcept function in the before-e-mail handler. Then a
// second exception follows; notes mark what returned.
TEST_F(AttackSendProbes, HandlerChild) {
  const char* which = std::getenv("KBL_ATTACK_CASE");
  if (which == nullptr) GTEST_SKIP() << "a child half of a test";
  static const std::string kase = which;
  SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(std::getenv("KBL_SMTP_PORT"))));
  if (kase != "terminate") options_->SetBehaviourOptions(0x0100);
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
    static bool done = false;
    if (action != 4 || done) return;
    done = true;
    if (kase == "escape action") throw std::logic_error("escaped");
    if (kase == "terminate") LeaveNoexcept("escaped");
  };
  EmberGlobalHandlers().OnAttachedFilesRequest = [](TEmberExceptionRecord&, TStrings&) {
    static bool done = false;
    if (kase != "escape files" || done) return;
    done = true;
    throw std::logic_error("escaped");
  };
  Process("outer");
  Note("first;");
  const TFailAfter bound(30000, "the exception after the send's did not return");
  Process("second");
  Note("second;");
  JoinSendThreads();
}

// An exception of a send event handler's own code on the send thread is the program's: with
// handled exceptions reported it is processed and sent as its own, whichever event it leaves;
// and a handler whose exception the runtime cannot let go on does not leave the library lock
// held for ever: the next exception is processed.
TEST(AttackSendChild, ASendHandlersOwnExceptionIsSentAsItsOwnAndTheLockGoesOn) {
  const struct {
    const char* Case;
    std::vector<std::string> Sent;
  } cases[] = {
      {"escape action", {"escaped.", "outer.", "second."}},
      {"escape files", {"escaped.", "outer.", "second."}},
      {"terminate", {"escaped.", "outer.", "second."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    testnet::SmtpServer server;
    std::remove(kNotes);
    const TChildRun run = RunChildProcess("--gtest_filter=AttackSendProbes.HandlerChild",
                                          {{"KBL_SMTP_PORT", std::to_string(server.Port())}, {"KBL_ATTACK_CASE", c.Case}},
                                          60000);
    EXPECT_TRUE(run.Ended);
    EXPECT_EQ(run.ExitCode, 0u);
    EXPECT_EQ(Mails(server, "exceptions_report_processing_win32_tests.elf"), c.Sent);
    std::ifstream file(kNotes, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "first;second;");
  }
  std::remove(kNotes);
}

}  // namespace
