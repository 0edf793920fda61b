// Processing one exception in a program that may show dialogs (this test is a windows program):
// the filters' handlers and dialog choices, an event that stops the steps, the dialog shown
// again in its other form, the request dialog after the detailed one and the send, as the
// report's hooks see them and the log keeps them; an early stop after a background send frees its
// own call stack; and, in a second process of this program, an end of the program asked for one
// exception acted on in that exception's own processing. Reports sent by the library's own send
// thread to an SMTP server on 127.0.0.1: each exception's report goes out once, also with several
// threads failing, and an exception raised inside a send is sent as its own before the send goes
// on with its own report and end; an entry on the worker does not wait for its faulting thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ChildProcess.h"
#include "FailAfter.h"
#include "MailZip.h"
#include "exceptions/ECore.h"
#include "exceptions/capture/EmberLogEvents.h"
#include "exceptions/capture/ExceptionLog.h"
#include "exceptions/report/EExceptionDialog.h"
#include "exceptions/report/EExceptionProcessing.h"
#include "exceptions/report/ELogManager.h"
#include "exceptions/report/EReportOutput.h"
#include "exceptions/report/ESendReport.h"
#include "exceptions/report/ESupport.h"

namespace {

struct THookCalls {
  std::atomic<int32_t> Dialogs{0}, Reshown{0}, Requests{0}, Sends{0};
  uint8_t FirstType = 0;
  bool FirstBeep = false;
  uint8_t SwitchTo = 0;
  bool TakeToBackground = false;  // the send hook answers that a thread took a background send
};
THookCalls* gCalls = nullptr;

std::string LogName() {
  char name[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, name, MAX_PATH);
  std::string log = name;
  return log.substr(0, log.rfind('.')) + ".elf";
}

int32_t ReportsInLog() {
  std::ifstream file(LogName(), std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  const std::string log = text.str();
  int32_t count = 0;
  for (size_t at = log.find("EmberLog 6.0.24"); at != std::string::npos; at = log.find("EmberLog 6.0.24", at + 1))
    ++count;
  return count;
}

class ProcessingWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    gCalls = &calls_;
    TEmberReportOutput output;
    output.ShowExceptionDialog = [](bool beep) {
      TEmberDialogState& state = EmberDialogState();
      if (gCalls->Dialogs++ == 0) {
        gCalls->FirstType = state.DialogType;
        gCalls->FirstBeep = beep;
      }
      if (state.Reshown) ++gCalls->Reshown;
      state.DialogType = gCalls->SwitchTo;
      gCalls->SwitchTo = 0;
    };
    output.ShowRequestDialog = [] { ++gCalls->Requests; };
    output.StartSend = [](bool background) {
      ++gCalls->Sends;
      return background && gCalls->TakeToBackground;
    };
    SetEmberReportOutput(output);
    StartExceptionReporting();
    std::remove(LogName().c_str());
    options_ = GetModuleInfo(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)))->Options.get();
    ASSERT_NE(options_, nullptr);
    saved_.Assign(options_);
  }
  void TearDown() override {
    EmberGlobalHandlers() = TEmberLogEventHolder();
    JoinSendThreads();
    options_->Assign(&saved_);
    options_->ExceptionsFilters().Clear();
    options_->SetEMailSendMode(0);
    StopExceptionReporting();
    SetEmberReportOutput(TEmberReportOutput());
    SetLogEvents(TLogEvents());
    std::remove(LogName().c_str());
    gCalls = nullptr;
  }
  uint8_t Process(uint8_t raiseKind = 0, const char* message = "processing test") {
    std::runtime_error error(message);
    return CentralNotify(&error, reinterpret_cast<uintptr_t>(&ReportsInLog), 0, 0, 0, nullptr, nullptr, 0,
                         reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)), raiseKind, 0);
  }
  // Reports are mailed by the library's send thread to `port` on 127.0.0.1: the subject is the
  // exception's message, the body holds the report and the zip the log.
  void SendBySmtpInBackground(uint16_t port) {
    TEmberReportOutput output = EmberReportOutput();
    output.StartSend = &StartSendThread;
    SetEmberReportOutput(output);
    InstallReportEvents();  // the send's action events reach the library's events
    options_->SetEMailSendMode(2);
    options_->SetSmtpHost("127.0.0.1");
    options_->SetSmtpPort(port);
    options_->SetEMailAddresses("bugs@example.org");
    options_->SetEMailSubject("%_ExceptMsg%");
    options_->SetLogInMailBody(1);
    options_->SetAttachedFiles(LogName());  // written before the send
    options_->SetSendOptions(0x80);
  }
  // An exception whose report the send hook takes to the background, then what its send thread
  // does with the call stack.
  void ProcessSentInBackground() {
    calls_.TakeToBackground = true;
    options_->SetEMailSendMode(1);
    options_->SetSendOptions(0x80);
    Process();
    EXPECT_NE(CurrentCallStack(), nullptr);  // kept for the send thread
    FreeCallStack();
    calls_.TakeToBackground = false;
    options_->SetEMailSendMode(0);
    options_->SetSendOptions(0);
  }
  THookCalls calls_;
  TEmberModuleOptions* options_ = nullptr;
  TEmberModuleOptions saved_{"", 0};
};

// The subject of each mail the server took, in order, marked when the report in the mail's body
// is not that exception's or its zip did not arrive.
std::vector<std::string> SentReports(testnet::SmtpServer& server) {
  const std::string log = LogName().substr(LogName().rfind('\\') + 1);
  std::vector<std::string> sent;
  for (const testnet::SmtpSession& session : server.Sessions()) {
    const testnet::Received mail = testnet::Unstuff(session.data);
    const size_t at = mail.headers.find("Subject: ");
    std::string subject =
        at == std::string::npos ? "" : mail.headers.substr(at + 9, mail.headers.find("\r\n", at) - at - 9);
    if (mail.body.find(": " + subject + "\r\n") == std::string::npos) subject += " (another report)";
    if (testnet::MailZip(session.data).count(log) == 0) subject += " (no zip)";
    sent.push_back(subject);
  }
  return sent;
}

TEST_F(ProcessingWin32Test, FiltersEventsDialogsAndTheSendFollowTheSteps) {
  struct TCase {
    const char* Name;
    int8_t FilterHandler;  // -1: no filter
    uint8_t FilterDialog;
    bool ClearContinue;
    uint8_t SwitchTo;
    bool Send;
    uint8_t Result;
    int32_t Reports, Dialogs;
    uint8_t FirstType;
    int32_t Reshown, Requests, Sends;
  };
  const TCase cases[] = {
      {"plain", -1, 0, false, 0, false, 0, 1, 1, 2, 0, 0, 0},
      {"filter: no processing", 0, 0, false, 0, false, 0, 0, 0, 0, 0, 0, 0},
      {"filter: the runtime's handler", 1, 0, false, 0, false, 1, 0, 0, 0, 0, 0, 0},
      {"filter: detailed dialog", 2, 4, false, 0, false, 0, 1, 1, 3, 0, 1, 0},
      {"event stops the steps", -1, 0, true, 0, false, 1, 0, 0, 0, 0, 0, 0},
      {"dialog switches to the detailed form", -1, 0, false, 3, false, 0, 1, 2, 2, 1, 0, 0},
      {"send", -1, 0, false, 0, true, 0, 1, 1, 2, 0, 0, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    calls_.Dialogs = calls_.Reshown = calls_.Requests = calls_.Sends = 0;
    calls_.FirstType = 0;
    calls_.SwitchTo = c.SwitchTo;
    std::remove(LogName().c_str());
    options_->ExceptionsFilters().Clear();
    if (c.FilterHandler >= 0) {
      TEmberExceptionFilter filter;
      filter.ExceptionClassName = "runtime_error";
      filter.HandlerType = static_cast<uint8_t>(c.FilterHandler);
      filter.DialogType = c.FilterDialog;
      options_->ExceptionsFilters().Add(filter);
    }
    options_->SetEMailSendMode(c.Send ? 1 : 0);
    EmberGlobalHandlers().OnExceptionNotify = [&c](TEmberExceptionRecord&, uint8_t& go) {
      if (c.ClearContinue) go = 0;
    };
    EXPECT_EQ(Process(), c.Result);
    EXPECT_EQ(ReportsInLog(), c.Reports);
    EXPECT_EQ(calls_.Dialogs.load(), c.Dialogs);
    if (c.Dialogs > 0) {
      EXPECT_EQ(calls_.FirstType, c.FirstType);
      EXPECT_TRUE(calls_.FirstBeep);
    }
    EXPECT_EQ(calls_.Reshown.load(), c.Reshown);
    EXPECT_EQ(calls_.Requests.load(), c.Requests);
    EXPECT_EQ(calls_.Sends.load(), c.Sends);
  }
}

// After an exception whose send went on in the background, one whose steps stop early frees its
// own call stack: the background send was the first one's decision, not this one's.
TEST_F(ProcessingWin32Test, AnEarlyStopAfterABackgroundSendFreesItsOwnCallStack) {
  struct TCase {
    const char* Name;
    bool ClearContinue;
    uint8_t RaiseKind;
  };
  for (const TCase& c : {TCase{"event stops the steps", true, 0}, TCase{"raise at a thread's end", false, 2}}) {
    SCOPED_TRACE(c.Name);
    ProcessSentInBackground();
    EmberGlobalHandlers().OnExceptionNotify = [&c](TEmberExceptionRecord&, uint8_t& go) {
      if (c.ClearContinue) go = 0;
    };
    Process(c.RaiseKind);
    EXPECT_EQ(CurrentCallStack(), nullptr);
    EmberGlobalHandlers() = TEmberLogEventHolder();
  }
}

TEST_F(ProcessingWin32Test, InsideTheDevelopmentEnvironmentTheDialogSpeaksOfIt) {
  static std::string shown26, shown27;
  static uint16_t shownFlags = 0;
  TEmberReportOutput output = EmberReportOutput();
  output.ShowExceptionDialog = [](bool) {
    const TEmberModuleOptionsEx& options = *EmberLibrary().CurrentOptions;
    shown26 = options.GetCustomizedText(26);
    shown27 = options.GetCustomizedText(27);
    shownFlags = options.DialogFlags();
    EmberDialogState().DialogType = 0;
  };
  SetEmberReportOutput(output);
  const uint16_t flags = options_->DialogFlags();
  options_->SetDialogFlags(static_cast<uint16_t>(flags | 0x41));
  SetRunningInIDE(true);
  Process();
  SetRunningInIDE(false);
  EXPECT_EQ(shown26, "The IDE has raised an exception.\r\n ");
  EXPECT_EQ(shown27, "Restart the IDE");
  EXPECT_EQ(shownFlags & 0x41, 0x01);
  // Outside it the module's own texts stay.
  Process();
  EXPECT_EQ(shown26, options_->GetCustomizedText(26));
  EXPECT_EQ(shownFlags & 0x41, 0x41);
  options_->SetDialogFlags(flags);
}

HWND gMainWindow = nullptr;
std::atomic<bool> gAnswered{false};

TEST_F(ProcessingWin32Test, TheFaultingMainThreadAnswersItsWindowsWhileADialogShows) {
  gMainWindow = CreateWindowA("STATIC", "main", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(gMainWindow, nullptr);
  TEmberReportOutput output;
  output.ShowExceptionDialog = [](bool) {
    DWORD_PTR answer = 0;
    gAnswered = SendMessageTimeoutA(gMainWindow, WM_NULL, 0, 0, SMTO_BLOCK, 10000, &answer) != 0;
    EmberDialogState().DialogType = 0;
  };
  SetEmberReportOutput(output);
  Process();
  EXPECT_TRUE(gAnswered.load());
  DestroyWindow(gMainWindow);
}

TEST_F(ProcessingWin32Test, WithoutHooksTheReportIsOnlyLogged) {
  SetEmberReportOutput(TEmberReportOutput());
  EXPECT_EQ(Process(), 0);
  EXPECT_EQ(ReportsInLog(), 1);
  EXPECT_EQ(EmberDialogState().DialogType, 0);
}

// The child halves run in a second process of this program; they note the dialogs and the
// returns of the processing in a file.
const char* const kChildNotes = "processing_child.txt";

void Note(const char* text) { std::ofstream(kChildNotes, std::ios::binary | std::ios::app) << text; }

// The library detaches (no send thread may start), a report asked to go in the background is
// sent at once, and the user asks in the dialog to end the program.
TEST_F(ProcessingWin32Test, DetachingChild) {
  if (std::getenv("KBL_PROCESSING_CHILD") == nullptr) GTEST_SKIP() << "a child half of a test";
  static int32_t dialogs = 0;
  TEmberReportOutput output;
  output.ShowExceptionDialog = [](bool) {
    Note("dialog;");
    EmberDialogState().RestartRequested = dialogs++ == 0;
    EmberDialogState().DialogType = 0;
  };
  output.StartSend = &StartSendThread;
  SetEmberReportOutput(output);
  options_->SetWebSendMode(7);  // a method that needs no server
  options_->SetSendOptions(0x80);
  options_->SetTerminateAction(1);
  CloseSendThreads();
  Process();
  Note("returned;");
  options_->SetWebSendMode(0);
  Process();  // an unrelated failure, nothing asked
  Note("returned;");
}

// After an exception sent in the background, a filter asks to end the program for an exception
// whose event stops the steps; then an unrelated exception follows.
TEST_F(ProcessingWin32Test, EarlyStopChild) {
  if (std::getenv("KBL_PROCESSING_CHILD") == nullptr) GTEST_SKIP() << "a child half of a test";
  ProcessSentInBackground();
  TEmberExceptionFilter filter;
  filter.ExceptionClassName = "runtime_error";
  filter.HandlerType = 2;
  filter.ActionType = 1;
  options_->ExceptionsFilters().Add(filter);
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord&, uint8_t& go) { go = 0; };
  Note("stopped;");
  Process();
  Note("returned;");
  options_->ExceptionsFilters().Clear();
  EmberGlobalHandlers() = TEmberLogEventHolder();
  Process();
  Note("unrelated returned;");
}

// Runs one child half; answers its exit code and its notes.
std::pair<DWORD, std::string> RunChild(const char* test) {
  std::remove(kChildNotes);
  const TChildRun run =
      RunChildProcess(std::string("--gtest_filter=ProcessingWin32Test.") + test, {{"KBL_PROCESSING_CHILD", "1"}}, 60000);
  EXPECT_TRUE(run.Ended);
  std::ifstream file(kChildNotes, std::ios::binary);
  std::string notes(std::istreambuf_iterator<char>(file), {});
  file.close();
  std::remove(kChildNotes);
  return {run.Started ? run.ExitCode : ~0u, notes};
}

// An end of the program asked for one exception ends it (exit code 1) in that exception's own
// processing, never in the next one's: the user's choice while the library detaches, and a
// filter's action for an exception whose steps stop early after a background send.
TEST(ProcessingChild, AnEndAskedIsActedOnInItsOwnExceptionsProcessing) {
  const struct {
    const char* Test;
    const char* Notes;
  } cases[] = {{"DetachingChild", "dialog;"}, {"EarlyStopChild", "stopped;"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Test);
    const auto [exitCode, notes] = RunChild(c.Test);
    EXPECT_EQ(exitCode, 1u);
    EXPECT_EQ(notes, c.Notes);
  }
}

// --- Reports sent by the library's send thread

// Four threads fail five times each while earlier reports are still being sent: each report goes
// out once, as its own exception's (each send has the library lock before the next exception is
// processed).
TEST_F(ProcessingWin32Test, ReportsOfSeveralFailingThreadsEachGoOutOnceAsTheirOwn) {
  testnet::SmtpServer server;
  SendBySmtpInBackground(server.Port());
  const auto message = [](int32_t t, int32_t i) {
    return "thread " + std::to_string(t) + " failure " + std::to_string(i);
  };
  std::vector<std::string> expected;
  std::vector<std::thread> threads;
  for (int32_t t = 0; t < 4; ++t) {
    for (int32_t i = 0; i < 5; ++i) expected.push_back(message(t, i) + ".");
    threads.emplace_back([&, t] {
      for (int32_t i = 0; i < 5; ++i) Process(0, message(t, i).c_str());
    });
  }
  for (std::thread& thread : threads) thread.join();
  JoinSendThreads();
  std::vector<std::string> sent = SentReports(server);
  std::sort(sent.begin(), sent.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sent, expected);
}

// A processing that fails in a step after it built its call stack (a hook raises) frees that
// stack, after a report that went out on the send thread.
TEST_F(ProcessingWin32Test, AProcessingThatFailsFreesItsOwnCallStack) {
  testnet::SmtpServer server;
  SendBySmtpInBackground(server.Port());
  Process(0, "sent");
  TEmberReportOutput output = EmberReportOutput();
  output.IsWebApplication = []() -> bool { throw std::runtime_error("hook failure"); };
  SetEmberReportOutput(output);
  Process(0, "failing");
  JoinSendThreads();
  EXPECT_EQ(CurrentCallStack(), nullptr);
  EXPECT_EQ(SentReports(server), std::vector<std::string>{"sent."});
}

// Code on the worker (here the dialog's) that hands over what it caught is answered at once: it
// does not wait for the library lock, which its faulting thread holds while it waits for the
// worker.
TEST_F(ProcessingWin32Test, AnEntryOnTheWorkerDoesNotWaitForItsFaultingThread) {
  TEmberReportOutput output = EmberReportOutput();
  output.ShowExceptionDialog = [](bool) {
    try {
      throw std::logic_error("dialog failure");
    } catch (const std::exception& error) {
      HandleCaughtException(&error, 1);
    }
    EmberDialogState().DialogType = 0;
  };
  SetEmberReportOutput(output);
  const TFailAfter bound(30000, "an entry on the worker waits for its faulting thread");
  EXPECT_EQ(Process(), 0);
  EXPECT_EQ(ReportsInLog(), 1);
}

// An exception raised inside the send, or the send's own failure: the mails go to the parent's
// server (port in KBL_SMTP_PORT); the before-e-mail event of the outer exception (a runtime_error)
// hands over KBL_HAND_OVERS caught exceptions (logic_error), and each e-mail's before-event leaves
// a note. A filter asks to end the program for the class in KBL_END_FOR.
TEST_F(ProcessingWin32Test, SendInsideSendChild) {
  const char* port = std::getenv("KBL_SMTP_PORT");
  if (port == nullptr) GTEST_SKIP() << "a child half of a test";
  static const int32_t handOvers = std::atoi(std::getenv("KBL_HAND_OVERS"));
  SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(port)));
  TEmberExceptionFilter filter;
  filter.ExceptionClassName = std::getenv("KBL_END_FOR");
  filter.HandlerType = 2;
  filter.ActionType = 1;
  options_->ExceptionsFilters().Add(filter);
  if (handOvers == 0) options_->SetBehaviourOptions(0x0100);  // the send's own failure is a handled one
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
    static bool handedOver = false;
    if (action != 4) return;
    Note("e-mail;");
    if (handedOver) return;
    handedOver = true;
    for (int32_t i = 1; i <= handOvers; ++i) {
      try {
        throw std::logic_error("inner " + std::to_string(i));
      } catch (const std::exception& error) {
        HandleCaughtException(&error, 0);
      }
    }
  };
  Process(0, "outer");
  JoinSendThreads();  // the send ends the program
}

// An exception raised inside a background send (an event handler hands over what it caught, once
// or twice) is processed and sent as its own first; the send then goes on with its own report
// and ends the program (exit code 1) as its exception asked, or, after its own report, as the
// inner one asked. With handled exceptions reported, the send's own failure (a closed port) is
// not processed into another send: one e-mail, and the end still comes.
TEST(ProcessingChild, AnExceptionInsideASendIsSentAsItsOwnAndTheSendGoesOnWithItsOwn) {
  const struct {
    const char* Name;
    const char* HandOvers;
    const char* EndFor;
    std::vector<std::string> Sent;
    const char* Notes;
  } cases[] = {
      {"handed over once", "1", "runtime_error", {"inner 1.", "outer."}, "e-mail;e-mail;"},
      {"handed over twice", "2", "runtime_error", {"inner 1.", "inner 2.", "outer."}, "e-mail;e-mail;e-mail;"},
      {"the inner exception asks for the end", "1", "logic_error", {"inner 1.", "outer."}, "e-mail;e-mail;"},
      {"the send fails, handled exceptions reported", "0", "runtime_error", {}, "e-mail;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    testnet::SmtpServer server;
    uint16_t port = server.Port();
    if (std::string(c.HandOvers) == "0") {
      testnet::Listener closed([](testnet::Connection&) {});
      port = closed.Port();
    }  // nothing listens there any more
    std::remove(kChildNotes);
    const TChildRun run = RunChildProcess(
        "--gtest_filter=ProcessingWin32Test.SendInsideSendChild",
        {{"KBL_SMTP_PORT", std::to_string(port)}, {"KBL_HAND_OVERS", c.HandOvers}, {"KBL_END_FOR", c.EndFor}}, 60000);
    EXPECT_TRUE(run.Ended);
    EXPECT_EQ(run.ExitCode, 1u);
    EXPECT_EQ(SentReports(server), c.Sent);
    std::ifstream file(kChildNotes, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), c.Notes);
  }
  std::remove(kChildNotes);
}

}  // namespace
