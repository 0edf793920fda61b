// Processing one exception in a program that may show dialogs (this test is a windows program):
// the filters' handlers and dialog choices, an event that stops the steps, the dialog shown
// again in its other form, the request dialog after the detailed one and the send, as the
// report's hooks see them and the log keeps them; an early stop after a background send frees its
// own call stack; and, in a second process of this program, an end of the program asked for one
// exception acted on in that exception's own processing. Reports sent by the library's own send
// thread to an SMTP server on 127.0.0.1: each exception's report goes out once, also with several
// threads failing, with another sender of reports beside it (a second plug-in carrying its own copy
// of the library, another process of this program) and with another module's event call during
// it; an exception raised inside a send (handed over, leaving a handler, or ending the thread's
// code) is sent as its own before the send goes on with its own report and end; an entry on the
// worker does not wait for its faulting thread, nor a faulting thread for a worker whose code the
// runtime ended. A thread without a message queue waits for the library without one, a wait for
// the sends lasts while another waits for them too, a plug-in opened in a message the last
// close answers while it waits for a send waits for nothing, and a crash holding the heaps' locks
// still ends the process.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ChildProcess.h"
#include "Emulation.h"
#include "FailAfter.h"
#include "HostSehFrame.h"
#include "MailZip.h"
#include "ThreadSuspension.h"
#include "classlib/MemoryManager.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberSharedMemory.h"
#include "exceptions/capture/EFreezeWatch.h"
#include "exceptions/capture/EHook.h"
#include "exceptions/capture/ELeaks.h"
#include "exceptions/capture/EmberLogEvents.h"
#include "exceptions/capture/ExceptionLog.h"
#include "exceptions/report/EExceptionDialog.h"
#include "exceptions/report/EExceptionProcessing.h"
#include "exceptions/report/ELogManager.h"
#include "exceptions/report/EReportOutput.h"
#include "exceptions/report/ESendReport.h"
#include "exceptions/report/ESupport.h"
#include "exceptions/report/ESysUtils.h"
#include "tools/vsthost/VstHost.h"

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
  // An exception "outer" whose background send to `port` stops in its before-e-mail step, the
  // library lock its own, until the event answered is set.
  HANDLE HoldASend(uint16_t port) {
    static HANDLE inside, release;
    SendBySmtpInBackground(port);
    inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
      if (action != 4 || inside == nullptr) return;
      SetEvent(std::exchange(inside, nullptr));
      WaitForSingleObject(release, MachineBound(30000));
    };
    HANDLE entered = inside;
    Process(0, "outer");
    EXPECT_EQ(WaitForSingleObject(entered, MachineBound(30000)), WAIT_OBJECT_0);
    CloseHandle(entered);
    return release;
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

// The subject of each mail the server took (of those whose body holds `onlyWith`), in order,
// marked when the report in the mail's body is not that exception's or its zip does not hold the
// log with that exception's report.
std::vector<std::string> SentReports(testnet::SmtpServer& server, const std::string& onlyWith = std::string()) {
  const std::string log = LogName().substr(LogName().rfind('\\') + 1);
  std::vector<std::string> sent;
  for (const testnet::SmtpSession& session : server.Sessions()) {
    const testnet::Received mail = testnet::Unstuff(session.data);
    if (mail.body.find(onlyWith) == std::string::npos) continue;
    const size_t at = mail.headers.find("Subject: ");
    std::string subject =
        at == std::string::npos ? "" : mail.headers.substr(at + 9, mail.headers.find("\r\n", at) - at - 9);
    if (mail.body.find(": " + subject + "\r\n") == std::string::npos) subject += " (another report)";
    std::map<std::string, std::string> zip = testnet::MailZip(session.data);
    if (zip[log].find(subject.substr(0, subject.find('.'))) == std::string::npos) subject += " (no zip)";
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
    gAnswered = SendMessageTimeoutA(gMainWindow, WM_NULL, 0, 0, SMTO_BLOCK, MachineBound(10000), &answer) != 0;
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

// A child run again after a stall (ChildProcess.h) starts without what its first run noted and
// logged.
void ForgetChildTraces() {
  std::remove(kChildNotes);
  std::remove(LogName().c_str());
}

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

// Runs the child half `test` with `environment`; answers its run, its notes and how long it took.
struct TNotedRun {
  TChildRun Run;
  std::string Notes;
  DWORD Took = 0;
};
TNotedRun RunNotedChild(const char* test, const std::vector<std::pair<std::string, std::string>>& environment,
                        DWORD milliseconds = 60000) {
  std::remove(kChildNotes);
  TNotedRun run;
  const DWORD start = GetTickCount();
  run.Run = RunChildProcess(std::string("--gtest_filter=ProcessingWin32Test.") + test, environment, milliseconds,
                            &ForgetChildTraces);
  run.Took = GetTickCount() - start;
  std::ifstream file(kChildNotes, std::ios::binary);
  run.Notes.assign(std::istreambuf_iterator<char>(file), {});
  file.close();
  std::remove(kChildNotes);
  return run;
}

// Runs one child half; answers its exit code and its notes.
std::pair<DWORD, std::string> RunChild(const char* test) {
  const TNotedRun run = RunNotedChild(test, {{"KBL_PROCESSING_CHILD", "1"}});
  EXPECT_TRUE(run.Run.Ended);
  return {run.Run.Started ? run.Run.ExitCode : ~0u, run.Notes};
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

// While this module's report is being sent (its zip is made, the before-e-mail event runs),
// another sender of reports on the computer sends its own to the same server: a second plug-in of
// the host that carries its own copy of the library (it fails and is closed once its report went
// out), or another process of this program. This module's mail is still its own: its subject
// names its exception and its zip holds its log with that report.
void FailInSecondPlugin(uint16_t port) {
  TVstHost host("sendplugin.dll");
  using TUseSmtp = void (*)(const char*, uint16_t);
  auto useSmtp = reinterpret_cast<TUseSmtp>(GetProcAddress(GetModuleHandleA("sendplugin.dll"), "DialogPluginUseSmtp"));
  if (useSmtp != nullptr) useSmtp("127.0.0.1", port);
  host.SetParameter(0, 1.0f);  // fails; its report goes out on its library's send thread
  host.Close();                // waits for that send
}

void FailInOtherProcess(uint16_t port) {
  RunChildProcess("--gtest_filter=ProcessingWin32Test.OtherSenderChild", {{"KBL_OTHER_SMTP_PORT", std::to_string(port)}},
                  30000);
}

TEST_F(ProcessingWin32Test, OtherSenderChild) {
  const char* port = std::getenv("KBL_OTHER_SMTP_PORT");
  if (port == nullptr) GTEST_SKIP() << "a child half of a test";
  SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(port)));
  Process(0, "Knob failure");
}

TEST_F(ProcessingWin32Test, ASendKeepsItsReportAndFilesWhileAnotherSenderSends) {
  for (void (*other)(uint16_t) : {&FailInSecondPlugin, &FailInOtherProcess}) {
    SCOPED_TRACE(other == &FailInSecondPlugin ? "a second plug-in" : "another process");
    testnet::SmtpServer server;
    SendBySmtpInBackground(server.Port());
    // No dialog: the plug-in's library takes the options this (main) module publishes, and its
    // own dialog would wait for a user.
    options_->SetExceptionDialogType(0);
    static uint16_t port;
    static void (*fail)(uint16_t);
    port = server.Port();
    fail = other;
    EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
      if (action == 4) fail(port);
    };
    const TFailAfter bound(MachineBound(60000), "a send beside another sender did not end");
    Process(0, "outer");
    JoinSendThreads();
    EXPECT_EQ(SentReports(server, ": outer.\r\n"), std::vector<std::string>{"outer."});
    EXPECT_EQ(SentReports(server, "Knob failure").size(), 1u);  // the other report went out too
  }
}

// Another module hands this module an event through its export (its exception lies here) while
// this module's report is being sent: it waits for the send, so the send's later events see the
// send's own record, and the record it puts back names nothing of the send (whose copy is freed).
TEST_F(ProcessingWin32Test, AnotherModulesEventCallWaitsForTheSendUnderWay) {
  testnet::SmtpServer server;
  SendBySmtpInBackground(server.Port());
  static HANDLE inside, release;
  static std::string seenAfterEmail;
  static const std::exception* sendsObject;
  static std::thread foreign;
  inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord& record, int32_t action, uint8_t&) {
    if (action == 99) {  // the other module's event, on its thread, lasts until the send is over
      SetEvent(inside);
      WaitForSingleObject(release, MachineBound(30000));
    } else if (action == 4) {
      sendsObject = record.ExceptionObject;
      foreign = std::thread([] {
        std::logic_error error("foreign");
        TEmberExceptionRecord theirs;
        theirs.ExceptionObject = &error;
        uint8_t execute = 1;
        EmberLog_ExceptionActionNotifyEvent(&theirs, 99, &execute);
      });
      WaitForSingleObject(inside, 1000);  // comes at once when the call does not wait
    } else if (action == 5) {
      seenAfterEmail = record.ExceptionObject != nullptr ? record.ExceptionObject->what() : "(none)";
    }
  };
  const TFailAfter bound(MachineBound(60000), "a send with another module's event call did not end");
  Process(0, "outer");
  JoinSendThreads();
  SetEvent(release);
  foreign.join();
  EXPECT_EQ(seenAfterEmail, "outer");
  EXPECT_NE(EmberLibrary().CurrentException.ExceptionObject, sendsObject);
  CloseHandle(inside);
  CloseHandle(release);
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
  const TFailAfter bound(MachineBound(30000), "an entry on the worker waits for its faulting thread");
  EXPECT_EQ(Process(), 0);
  EXPECT_EQ(ReportsInLog(), 1);
}

// An exception that leaves a function that may not raise: the runtime ends the program's code on
// its thread.
void Rethrow(const std::exception& error) { throw std::logic_error(error.what()); }
void (*volatile gRethrow)(const std::exception&) = &Rethrow;
void LeaveNoexcept(const char* message) noexcept { gRethrow(std::logic_error(message)); }

// An exception raised inside the send, or the send's own failure: the mails go to the parent's
// server (port in KBL_SMTP_PORT), and each e-mail's before-event leaves a note. KBL_HANDLER says
// what the program's code does once, inside the outer exception's (a runtime_error's) processing
// or send: "hand over 1|2" caught exceptions (logic_error) in the before-e-mail event; "send
// fails" (handled exceptions reported, nothing listens at the port); with handled exceptions
// reported, "escape action|files": an exception leaves the before-e-mail handler or the
// attached-files handler; "terminate ..." : an exception leaves a function that may not raise in
// the before-e-mail handler ("send"), in the dialog on the worker ("worker") or in the exception
// event of a thread that fails ("thread"). A filter asks to end the program for the class in
// KBL_END_FOR; without one a second exception follows, and notes mark what returned.
TEST_F(ProcessingWin32Test, SendInsideSendChild) {
  const char* port = std::getenv("KBL_SMTP_PORT");
  if (port == nullptr) GTEST_SKIP() << "a child half of a test";
  static const std::string handler = std::getenv("KBL_HANDLER");
  const std::string endFor = std::getenv("KBL_END_FOR");
  SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(port)));
  if (!endFor.empty()) {
    TEmberExceptionFilter filter;
    filter.ExceptionClassName = endFor;
    filter.HandlerType = 2;
    filter.ActionType = 1;
    options_->ExceptionsFilters().Add(filter);
  }
  if (handler.find("hand over") == std::string::npos && handler.find("terminate") == std::string::npos)
    options_->SetBehaviourOptions(0x0100);  // the send's own failure, or the handler's exception, is a handled one
  static bool done = false;
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
    if (action != 4) return;
    Note("e-mail;");
    if (done) return;
    if (handler == "escape action" || handler == "terminate send") done = true;
    if (handler == "escape action") throw std::logic_error("escaped");
    if (handler == "terminate send") LeaveNoexcept("escaped");
    if (handler.find("hand over") != 0) return;
    done = true;
    for (int32_t i = 1; i <= handler.back() - '0'; ++i) {
      try {
        throw std::logic_error("inner " + std::to_string(i));
      } catch (const std::exception& error) {
        HandleCaughtException(&error, 0);
      }
    }
  };
  EmberGlobalHandlers().OnAttachedFilesRequest = [](TEmberExceptionRecord&, TStrings&) {
    if (handler != "escape files" || done) return;
    done = true;
    throw std::logic_error("escaped");
  };
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord&, uint8_t&) {
    if (handler != "terminate thread" || done) return;
    done = true;
    LeaveNoexcept("escaped");
  };
  TEmberReportOutput output = EmberReportOutput();
  output.ShowExceptionDialog = [](bool) {
    if (handler == "terminate worker" && !done) {
      done = true;
      LeaveNoexcept("escaped");
    }
    EmberDialogState().DialogType = 0;
  };
  SetEmberReportOutput(output);
  if (handler == "terminate thread")
    std::thread([this] { Process(0, "outer"); }).join();
  else
    Process(0, "outer");
  if (endFor.empty()) {
    Note("first;");
    const TFailAfter bound(MachineBound(30000), "the exception after the send's did not return");
    Process(0, "second");
    Note("second;");
  }
  JoinSendThreads();  // the send ends the program when it was asked
}

// An exception raised inside a background send is processed and sent as its own first, whether an
// event handler hands it over (once or twice), or, with handled exceptions reported, it leaves the
// handler of any of the send's events; the send then goes on with its own report and ends the
// program (exit code 1) as its exception asked, or, after its own report, as the inner one asked.
// With handled exceptions reported, the send's own failure (a closed port) is not processed into
// another send: one e-mail, and the end still comes. The runtime ending the program's code on the
// send's thread (an exception left a function that may not raise) leaves the lock held by no one:
// that exception and the send's own report go out, and the next exception is processed. Neither
// does a worker or a faulting thread whose code the runtime ends leave another thread waiting.
TEST(ProcessingChild, AnExceptionInsideASendIsSentAsItsOwnAndTheSendGoesOnWithItsOwn) {
  const struct {
    const char* Handler;
    const char* EndFor;
    std::vector<std::string> Sent;
    const char* Notes;  // sorted
    DWORD ExitCode;
  } cases[] = {
      {"hand over 1", "runtime_error", {"inner 1.", "outer."}, "e-mail;e-mail;", 1},
      {"hand over 2", "runtime_error", {"inner 1.", "inner 2.", "outer."}, "e-mail;e-mail;e-mail;", 1},
      {"hand over 1", "logic_error", {"inner 1.", "outer."}, "e-mail;e-mail;", 1},
      {"send fails", "runtime_error", {}, "e-mail;", 1},
      {"escape action", "", {"escaped.", "outer.", "second."}, "e-mail;e-mail;e-mail;first;second;", 0},
      {"escape files", "", {"escaped.", "outer.", "second."}, "e-mail;e-mail;e-mail;first;second;", 0},
      {"terminate send", "", {"escaped.", "outer.", "second."}, "e-mail;e-mail;e-mail;first;second;", 0},
      {"terminate worker", "", {"second."}, "e-mail;first;second;", 0},
      {"terminate thread", "", {"escaped.", "outer.", "second."}, "e-mail;e-mail;e-mail;first;second;", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Handler) + ", end for " + c.EndFor);
    testnet::SmtpServer server;
    uint16_t port = server.Port();
    if (std::string(c.Handler) == "send fails") {
      testnet::Listener closed([](testnet::Connection&) {});
      port = closed.Port();
    }  // nothing listens there any more
    std::remove(kChildNotes);
    const TChildRun run = RunChildProcess(
        "--gtest_filter=ProcessingWin32Test.SendInsideSendChild",
        {{"KBL_SMTP_PORT", std::to_string(port)}, {"KBL_HANDLER", c.Handler}, {"KBL_END_FOR", c.EndFor}}, 60000,
        &ForgetChildTraces);
    EXPECT_TRUE(run.Ended);
    EXPECT_EQ(run.ExitCode, c.ExitCode);
    std::vector<std::string> sent = SentReports(server);
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, c.Sent);
    std::ifstream file(kChildNotes, std::ios::binary);
    std::vector<std::string> notes;
    std::string note;
    while (std::getline(file, note, ';')) notes.push_back(note + ";");
    std::sort(notes.begin(), notes.end());
    std::string joined;
    for (const std::string& n : notes) joined += n;
    EXPECT_EQ(joined, c.Notes);
  }
  std::remove(kChildNotes);
}

// --- What the program's code hands over while the library runs it for another exception

// The program's code that the library runs for an exception being processed or sent (a handler of
// its events or of its send's, a window answered while its dialog shows) lets a further exception
// in: a caught one handed over, a raise processed at once (handled exceptions processed in the
// main thread), the end of a catch or one leaving the handler (handled exceptions reported) or a
// fault of the module. Each is processed as its own once the processing it came in has ended,
// and its report goes out once; also inside the send of one that came in that way, at any depth.
enum class TWayIn { HandOver, ThrowAndCatch, Escape, Fault };
constexpr int32_t kExceptionEvent = 100, kAnsweredWindow = 101;  // besides the send's actions
struct TLetInCase {
  const char* Name;
  std::vector<int32_t> At;  // where each one comes in, in turn
  TWayIn Way;
  uint16_t Behaviour;  // handled exceptions processed at their raise (0x40) or at their catch's end (0x0100)
  uint8_t Handled;     // the first exception is a handled one
  std::vector<std::string> Sent;
};
const TLetInCase* gLetIn = nullptr;
size_t gLetInCount = 0;
HWND gLetInWindow = nullptr;

EXCEPTION_DISPOSITION StepOverStore(EXCEPTION_RECORD* record, void*, CONTEXT* context, void*) {
  if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) return ExceptionContinueSearch;
  context->Eip += 6;
  return ExceptionContinueExecution;
}

void LetOneIn(int32_t at) {
  if (gLetIn == nullptr || gLetInCount >= gLetIn->At.size() || gLetIn->At[gLetInCount] != at) return;
  const std::string message = "inner " + std::to_string(++gLetInCount);
  if (gLetIn->Way == TWayIn::Escape) throw std::logic_error(message);
  if (gLetIn->Way == TWayIn::Fault) {
    const THostSehFrame frame(reinterpret_cast<void*>(&StepOverStore));
    asm volatile("movl $0x10, %%eax\n\t.byte 0xC7, 0x00, 0x01, 0x00, 0x00, 0x00" ::: "eax", "memory");
    return;
  }
  try {
    throw std::logic_error(message);
  } catch (const std::exception& error) {
    if (gLetIn->Way == TWayIn::HandOver) HandleCaughtException(&error, 0);
  }
}

// A window of the calling thread whose procedure is `proc` (its class registered once).
HWND MakeWindow(WNDPROC proc, const char* className) {
  WNDCLASSA type{};
  type.lpfnWndProc = proc;
  type.hInstance = GetModuleHandleA(nullptr);
  type.lpszClassName = className;
  RegisterClassA(&type);
  return CreateWindowA(className, "", 0, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

LRESULT CALLBACK LetInWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER) LetOneIn(kAnsweredWindow);
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(ProcessingWin32Test, WhatTheProgramLetsInWhileTheLibraryRunsItIsProcessedAfterwards) {
  const std::vector<std::string> one = {"inner 1.", "outer."}, two = {"inner 1.", "inner 2.", "outer."};
  const TLetInCase cases[] = {
      {"before web, then after web in that one's send", {6, 7}, TWayIn::HandOver, 0, 0, two},
      {"before web, then before web in that one's send", {6, 6}, TWayIn::HandOver, 0, 0, two},
      {"three deep", {6, 6, 6}, TWayIn::HandOver, 0, 0, {"inner 1.", "inner 2.", "inner 3.", "outer."}},
      {"a raise in the exception event", {kExceptionEvent}, TWayIn::ThrowAndCatch, 0x40, 0, one},
      {"the end of a catch in the exception event", {kExceptionEvent}, TWayIn::ThrowAndCatch, 0x0100, 0, one},
      {"one leaving the exception event", {kExceptionEvent}, TWayIn::Escape, 0x0100, 0, one},
      {"a fault in the exception event", {kExceptionEvent}, TWayIn::Fault, 0, 0, {"Access violation", "outer."}},
      {"a hand-over in the handled-exception event", {kExceptionEvent}, TWayIn::HandOver, 0, 1, one},
      {"a hand-over in a window answered while the dialog shows", {kAnsweredWindow}, TWayIn::HandOver, 0, 0, one},
  };
  gLetInWindow = MakeWindow(&LetInWindowProc, "KblLetInWindow");
  ASSERT_NE(gLetInWindow, nullptr);
  for (const TLetInCase& c : cases) {
    if (c.Way == TWayIn::Fault && LeftOutWhereEmulated(c.Name, kFaultsArriveAsIllegalInstructions)) continue;
    SCOPED_TRACE(c.Name);
    testnet::SmtpServer server;
    SendBySmtpInBackground(server.Port());
    options_->SetWebSendMode(7);  // a method that needs no server: its before and after events
    options_->SetBehaviourOptions(static_cast<uint16_t>((saved_.BehaviourOptions() & ~0x0140) | c.Behaviour));
    TEmberReportOutput output = EmberReportOutput();
    output.ShowExceptionDialog = [](bool) {
      DWORD_PTR answer = 0;
      if (gLetInCount == 0) SendMessageTimeoutA(gLetInWindow, WM_USER, 0, 0, SMTO_BLOCK, MachineBound(10000), &answer);
      EmberDialogState().DialogType = 0;
    };
    SetEmberReportOutput(output);
    EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
      LetOneIn(action);
    };
    EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord&, uint8_t&) { LetOneIn(kExceptionEvent); };
    EmberGlobalHandlers().OnHandledExceptionNotify = EmberGlobalHandlers().OnExceptionNotify;
    gLetIn = &c;
    gLetInCount = 0;
    {
      const TFailAfter bound(MachineBound(60000), "what came in while the library ran the program's code stalls");
      std::runtime_error outer("outer");
      CentralNotify(&outer, reinterpret_cast<uintptr_t>(&ReportsInLog), 0, 0, 0, nullptr, nullptr, 0,
                    reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)), 0, c.Handled);
      JoinSendThreads();
    }
    gLetIn = nullptr;
    options_->SetBehaviourOptions(saved_.BehaviourOptions());
    std::vector<std::string> sent = SentReports(server);
    for (std::string& text : sent)  // a fault's address aside, not a mark
      if (text.rfind("Access violation", 0) == 0)
        text = "Access violation" + text.substr(std::min(text.find(" ("), text.size()));
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, c.Sent);
    EXPECT_EQ(gLetInCount, c.At.size());
  }
  DestroyWindow(gLetInWindow);
  UnregisterClassA("KblLetInWindow", GetModuleHandleA(nullptr));
}

// An entry with nothing to process answers while a send in the background holds the library lock
// (its server slow): the catch of an exception processed at its raise (handled exceptions processed
// in the main thread) hands it over while that exception's own report goes out, or an abort or no
// object is handed over, or another module calls an event that no handler here answers. Each
// answers as it always did, without waiting for the send.
TEST_F(ProcessingWin32Test, AnEntryWithNothingToProcessDoesNotWaitForASend) {
  const struct {
    const char* Name;
    uint8_t (*Entry)(const std::exception& caught);
    uint8_t Answer;
  } cases[] = {
      {"the hand-over of one processed at its raise",
       [](const std::exception& caught) -> uint8_t { return HandleCaughtException(&caught, 0) ? 1 : 0; }, 1},
      {"an abort", [](const std::exception&) -> uint8_t {
         const EAbort abort("stop");
         return ExceptionManager(&abort, 0, 0, 0);
       }, 1},
      {"no object", [](const std::exception&) { return ExceptionManager(nullptr, 0, 0, 0); }, 1},
      {"an event no handler answers", [](const std::exception&) -> uint8_t {
         TEmberExceptionRecord theirs;
         uint8_t retry = 7;
         EmberLog_ExceptionErrorNotifyEvent(&theirs, 5, &retry);
         return retry;
       }, 7},
  };
  static HANDLE answered;
  static bool answeredDuringTheSend;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    testnet::SmtpServer server;
    SendBySmtpInBackground(server.Port());
    options_->SetBehaviourOptions(static_cast<uint16_t>(saved_.BehaviourOptions() | 0x40));
    answered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    answeredDuringTheSend = false;
    EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
      if (action == 4) answeredDuringTheSend = WaitForSingleObject(answered, MachineBound(10000)) == WAIT_OBJECT_0;
    };
    uint8_t answer = 99;
    try {
      throw std::runtime_error("outer");  // processed at its raise; its report goes out in the background
    } catch (const std::exception& error) {
      answer = c.Entry(error);
      SetEvent(answered);
    }
    options_->SetBehaviourOptions(saved_.BehaviourOptions());
    JoinSendThreads();
    EXPECT_EQ(answer, c.Answer);
    EXPECT_TRUE(answeredDuringTheSend) << "the entry waited for the send";
    EXPECT_EQ(SentReports(server), std::vector<std::string>{"outer."});
    CloseHandle(answered);
  }
}

// Another module calls an event of this module (its exception lies here) whose handler hands over
// two exceptions, one after the other: the call holds the library lock, so a send in the
// background could go out only after the second was processed, in its stead. Each report goes out
// at once, as its own.
TEST_F(ProcessingWin32Test, ExceptionsHandedOverInAnotherModulesEventCallAreSentAsTheirOwn) {
  testnet::SmtpServer server;
  SendBySmtpInBackground(server.Port());
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
    if (action != 99) return;
    for (const char* message : {"first", "second"}) {
      try {
        throw std::logic_error(message);
      } catch (const std::exception& error) {
        HandleCaughtException(&error, 0);
      }
    }
  };
  const TFailAfter bound(MachineBound(60000), "the reports handed over in another module's event call did not go out");
  const std::logic_error foreign("foreign");
  TEmberExceptionRecord theirs;
  theirs.ExceptionObject = &foreign;
  uint8_t execute = 1;
  EmberLog_ExceptionActionNotifyEvent(&theirs, 99, &execute);
  JoinSendThreads();
  std::vector<std::string> sent = SentReports(server);
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(sent, (std::vector<std::string>{"first.", "second."}));
}

// The companion folders of reports in the temporary folder ("EmberLog", then the process id).
std::set<std::string> CompanionFolders() {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  std::set<std::string> folders;
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((std::string(temp) + "EmberLog*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return folders;
  do folders.insert(found.cFileName);
  while (FindNextFileA(search, &found));
  FindClose(search);
  return folders;
}

// No end of the program that the library makes leaves a report's companion folder behind in the
// temporary folder: an end asked for the exception whose send in the background acts on it, or
// for one handed over inside that send (child halves of the test above).
TEST(ProcessingChild, NoEndOfTheProgramLeavesACompanionFolder) {
  for (const char* endFor : {"runtime_error", "logic_error"}) {
    SCOPED_TRACE(endFor);
    testnet::SmtpServer server;
    const std::set<std::string> before = CompanionFolders();  // an earlier process's id may come back
    const TChildRun run = RunChildProcess(
        "--gtest_filter=ProcessingWin32Test.SendInsideSendChild",
        {{"KBL_SMTP_PORT", std::to_string(server.Port())}, {"KBL_HANDLER", "hand over 1"}, {"KBL_END_FOR", endFor}},
        60000);
    EXPECT_EQ(run.ExitCode, 1u);
    char pid[16];
    std::snprintf(pid, sizeof pid, "%08lX", run.ProcessId);
    for (const std::string& folder : CompanionFolders())
      EXPECT_TRUE(before.count(folder) != 0 || folder.compare(8, 8, pid) != 0) << folder << " is left";
  }
  std::remove(kChildNotes);
}

// --- Probes of the send-thread paths next to the last mends

// The main thread's code ends in the runtime's terminate handler (an exception leaves a function
// that may not raise): alone, after an exception whose report is still being sent in the
// background, or in a handler of that exception's processing; or a fault no one handles ends the
// process. The exception that ended it is processed, and its report, like every report started
// before, goes out before the process ends.
TEST_F(ProcessingWin32Test, TerminateMainChild) {
  const char* port = std::getenv("KBL_TERMINATE_MAIN_PORT");
  if (port == nullptr) GTEST_SKIP() << "a child half of a test";
  static const std::string where = std::getenv("KBL_TERMINATE_WHERE");
  SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(port)));
  static bool done = false;
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord&, uint8_t&) {
    if (where != "handler" || done) return;
    done = true;
    LeaveNoexcept("escaped");
  };
  if (where != "alone") Process(0, "outer");
  if (where == "fault") {
    // No handler takes the fault: the program's own last filter, set over the library's as a
    // crash handler does, hands it on and then ends the process.
    struct TCrashHandler {
      static LONG WINAPI Filter(EXCEPTION_POINTERS* pointers) {
        if (Below() != nullptr) Below()(pointers);
        ExitProcess(3);
      }
      static LPTOP_LEVEL_EXCEPTION_FILTER& Below() {
        static LPTOP_LEVEL_EXCEPTION_FILTER below = nullptr;
        return below;
      }
    };
    TCrashHandler::Below() = SetUnhandledExceptionFilter(&TCrashHandler::Filter);
    *static_cast<int* volatile>(nullptr) = 1;
  }
  LeaveNoexcept("escaped");
}

TEST(ProcessingChild, AnExceptionThatEndsTheMainThreadIsSentBeforeTheProcessEnds) {
  const struct {
    const char* Where;
    std::vector<std::string> Sent;
    uint32_t ExitCode = 1;
  } cases[] = {
      {"alone", {"escaped."}},
      {"after", {"escaped.", "outer."}},
      {"handler", {"escaped.", "outer."}},
      {"fault", {"Access violation", "outer."}, 3},  // no one handles it
  };
  for (const auto& c : cases) {
    if (std::string(c.Where) == "fault" && LeftOutWhereEmulated(c.Where, kFaultsArriveAsIllegalInstructions))
      continue;
    SCOPED_TRACE(c.Where);
    testnet::SmtpServer server;
    const TChildRun run = RunChildProcess(
        "--gtest_filter=ProcessingWin32Test.TerminateMainChild",
        {{"KBL_TERMINATE_MAIN_PORT", std::to_string(server.Port())}, {"KBL_TERMINATE_WHERE", c.Where}}, 60000);
    EXPECT_TRUE(run.Ended);
    EXPECT_EQ(run.ExitCode, c.ExitCode);
    std::vector<std::string> sent = SentReports(server);
    for (std::string& text : sent)
      if (text.rfind("Access violation", 0) == 0) text = "Access violation";  // its address aside
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, c.Sent);
  }
}

// A handler of a background send asks the program's window something (SendMessage to a window
// of the main thread, as a handler that shows the send's progress in the program does) while the
// main thread waits inside the library for that send: for it as its next exception's entry, or
// in the join of the sends (a plug-in's close); also when the window's answer hands over an
// exception of its own (an entry inside the waiting one). The main thread answers its windows
// while it waits, so every report goes out, each as its own.
LRESULT CALLBACK AskedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_USER) return DefWindowProcA(window, message, wParam, lParam);
  try {
    throw std::logic_error("inner");
  } catch (const std::exception& error) {
    HandleCaughtException(&error, 0);
  }
  return 0;
}

TEST_F(ProcessingWin32Test, AMainThreadWaitingForASendAnswersTheSendsHandler) {
  const struct {
    const char* Name;
    bool Next;   // the next exception waits; else the join
    UINT Asked;  // WM_USER: the answer hands over an exception
    std::vector<std::string> Sent;
  } cases[] = {
      {"next exception", true, WM_NULL, {"outer.", "second."}},
      {"join", false, WM_NULL, {"outer."}},
      {"next exception, the answer raises", true, WM_USER, {"inner.", "outer.", "second."}},
  };
  WNDCLASSA type{};
  type.lpfnWndProc = &AskedWindowProc;
  type.hInstance = GetModuleHandleA(nullptr);
  type.lpszClassName = "KblAskedWindow";
  RegisterClassA(&type);
  static HWND window;
  static HANDLE inside;
  static bool asked;
  static UINT message;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    testnet::SmtpServer server;
    SendBySmtpInBackground(server.Port());
    asked = false;
    message = c.Asked;
    window = CreateWindowA("KblAskedWindow", "", 0, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
      if (action != 4 || asked) return;
      asked = true;
      SetEvent(inside);
      SendMessageA(window, message, 0, 0);
    };
    Process(0, "outer");
    WaitForSingleObject(inside, MachineBound(30000));
    {
      const TFailAfter bound(MachineBound(30000), "the main thread waits for a send that waits for the main thread");
      if (c.Next) Process(0, "second");
      JoinSendThreads();
    }
    std::vector<std::string> sent = SentReports(server);
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, c.Sent);
    DestroyWindow(window);
    CloseHandle(inside);
  }
  UnregisterClassA("KblAskedWindow", GetModuleHandleA(nullptr));
}

// A thread without a message queue (a host's audio thread) that waits inside the library while a
// background send holds its lock, for the entry of an exception of its own or for the sends (as
// the unhandled-fault filter and every end of the process wait), answers nothing: it has no
// windows, and a queue made for it would be the system's work on a thread that must do none. Its
// queue is looked for afterwards: a message can be posted to a thread only once it has one.
TEST_F(ProcessingWin32Test, AThreadWithoutAMessageQueueWaitsWithoutOne) {
  const struct {
    const char* Name;
    bool Entry;  // waits for an entry; else for the sends
  } cases[] = {{"the entry's wait for the lock", true}, {"the wait for the sends", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    testnet::SmtpServer server;
    HANDLE release = HoldASend(server.Port());
    HANDLE waited = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE stay = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
    std::thread audio([&] {
      id = GetCurrentThreadId();
      if (c.Entry) {
        const TExceptionEntryLock entry;
      } else {
        JoinSendThreads();
      }
      SetEvent(waited);
      WaitForSingleObject(stay, MachineBound(30000));
    });
    Sleep(300);  // into its wait
    SetEvent(release);
    {
      const TFailAfter bound(MachineBound(30000), "the thread's wait for the send does not end");
      WaitForSingleObject(waited, INFINITE);
    }
    EXPECT_FALSE(PostThreadMessageA(id, WM_NULL, 0, 0)) << "the thread waited with a message queue";
    SetEvent(stay);
    audio.join();
    JoinSendThreads();
    for (HANDLE handle : {release, waited, stay}) CloseHandle(handle);
  }
}

// While one thread waits for a background send (the unhandled-fault filter, the process may go
// on; or the close's join), another waits for the sends too: the plug-in is closed, or another
// end of the process comes, or a fault goes unhandled. Every such wait lasts until the send is
// over, so that no module is unloaded, and no process ended, under a send still going out.
TEST_F(ProcessingWin32Test, EveryWaitForTheSendsLastsWhileAnotherWaitsToo) {
  const auto filter = [] { RunBeforeProcessEnd(false); };
  const auto join = [] { JoinSendThreads(); };
  const auto end = [] { RunBeforeProcessEnd(); };
  const struct {
    const char* Name;
    void (*First)();
    void (*Then)();
  } cases[] = {{"the close's join while a fault's filter waits", filter, join},
               {"a fault's filter while the close's join waits", join, filter},
               // last: an end closes the sends for the rest of the run
               {"another end of the process while a fault's filter waits", filter, end}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    testnet::SmtpServer server;
    HANDLE release = HoldASend(server.Port());
    std::thread first(c.First);
    Sleep(300);  // into its wait
    bool sendOver = false;
    HANDLE waited = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread then([&] {
      c.Then();
      sendOver = WaitForSingleObject(release, 0) == WAIT_OBJECT_0;
      SetEvent(waited);
    });
    WaitForSingleObject(waited, 2000);  // a wait that ends before the send shows itself here
    SetEvent(release);
    {
      const TFailAfter bound(MachineBound(30000), "a wait for the sends does not end");
      first.join();
      then.join();
    }
    EXPECT_TRUE(sendOver) << "the wait ended while the send was still going out";
    EXPECT_EQ(SentReports(server), std::vector<std::string>{"outer."});
    for (HANDLE handle : {release, waited}) CloseHandle(handle);
  }
}

// The child half: a background send goes out while the main thread, holding the heaps' locks (a
// crash inside the allocator, the commonest of crashes), faults outside the module and nothing
// handles it.
TEST_F(ProcessingWin32Test, FaultHoldingTheHeapsChild) {
  const char* port = std::getenv("KBL_HEAPS_PORT");
  if (port == nullptr) GTEST_SKIP() << "a child half of a test";
  SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(port)));
  static HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  static HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
    if (action != 4) return;
    SetEvent(inside);
    WaitForSingleObject(go, INFINITE);
  };
  Process(0, "outer");
  WaitForSingleObject(inside, MachineBound(30000));
  struct TCrashHandler {
    static LONG WINAPI Filter(EXCEPTION_POINTERS* pointers) {
      if (Below() != nullptr) Below()(pointers);
      TerminateProcess(GetCurrentProcess(), 3);
      return EXCEPTION_EXECUTE_HANDLER;
    }
    static LPTOP_LEVEL_EXCEPTION_FILTER& Below() {
      static LPTOP_LEVEL_EXCEPTION_FILTER below = nullptr;
      return below;
    }
  };
  TCrashHandler::Below() = SetUnhandledExceptionFilter(&TCrashHandler::Filter);
  HMODULE runtime = GetModuleHandleA("msvcrt.dll");
  const auto heapOf = runtime != nullptr ? reinterpret_cast<intptr_t (*)()>(GetProcAddress(runtime, "_get_heap_handle")) : nullptr;
  HeapLock(GetProcessHeap());
  if (heapOf != nullptr) HeapLock(reinterpret_cast<HANDLE>(heapOf()));
  SetEvent(go);
  Sleep(100);  // the send goes on, to the heaps
  reinterpret_cast<void (*)()>(uintptr_t{16})();
}

// The process crashes in a thread that holds the heaps' locks while a report is sent in the
// background: the unhandled-fault filter's wait for the send, which needs the heaps, must not keep
// the process from ending.
TEST(ProcessingChild, ACrashHoldingTheHeapsEndsTheProcess) {
  testnet::SmtpServer server;
  const TChildRun run = RunChildProcess("--gtest_filter=ProcessingWin32Test.FaultHoldingTheHeapsChild",
                                        {{"KBL_HEAPS_PORT", std::to_string(server.Port())}}, 40000);
  ASSERT_TRUE(run.Started);
  EXPECT_TRUE(run.Ended) << "the crashed process waits for ever";
  EXPECT_EQ(run.ExitCode, 3u);
}

// --- A holder of the library lock that is gone, and the bounded waits for sends

// Processes an exception whose object lives on the heap, as a thrown one does until its catch
// ends (a thread killed or unwound inside never gets there).
uint8_t ProcessOnHeap(const char* message) {
  const auto* error = new std::runtime_error(message);
  return CentralNotify(error, reinterpret_cast<uintptr_t>(&ReportsInLog), 0, 0, 0, nullptr, nullptr, 0,
                       reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)), 0, 0);
}

bool LogHolds(const std::string& text) {
  std::ifstream file(LogName(), std::ios::binary);
  const std::string log(std::istreambuf_iterator<char>(file), {});
  return log.find(text) != std::string::npos;
}

DWORD WINAPI GoneHolderHost(void*) { return ProcessOnHeap("gone holder"); }

// The child half: a holder of the library lock stops for good. KBL_GONE_HOW "thread": a host
// thread is killed in the handler its exception's worker handed it; "send": the thread of a
// background send is killed in the send's before-e-mail handler. Then an exception on another
// thread, and the last close, must return.
TEST_F(ProcessingWin32Test, GoneHolderChild) {
  const char* how = std::getenv("KBL_GONE_HOW");
  if (how == nullptr) GTEST_SKIP() << "a child half of a test";
  static HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  static DWORD victim = 0;
  const auto stopHere = [] {
    if (victim != 0) return;
    victim = GetCurrentThreadId();
    SetEvent(inside);
    Sleep(INFINITE);
  };
  static void (*stop)() = stopHere;
  HANDLE host = nullptr;
  if (std::string(how) == "send") {
    SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(std::getenv("KBL_GONE_PORT"))));
    EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
      if (action == 4) stop();
    };
    Process(0, "gone holder");
  } else {
    EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord&, uint8_t&) {
      // KBL_GONE_KEEP: the handler hands over an exception of its own before it stops.
      if (std::getenv("KBL_GONE_KEEP") != nullptr && victim == 0) {
        try {
          throw std::logic_error("kept before the kill");
        } catch (const std::exception& error) {
          HandleCaughtException(&error, 0);
        }
      }
      stop();
    };
    host = CreateThread(nullptr, 0, &GoneHolderHost, nullptr, 0, nullptr);
  }
  ASSERT_EQ(WaitForSingleObject(inside, MachineBound(30000)), WAIT_OBJECT_0);
  HANDLE killed = OpenThread(THREAD_TERMINATE | THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | SYNCHRONIZE, FALSE, victim);
  ASSERT_NE(killed, nullptr);
  KillThread(killed, 9);
  WaitForSingleObject(killed, INFINITE);
  {
    const TFailAfter bound(MachineBound(15000), "the next exception waits for a holder that is gone");
    std::thread([] { ProcessOnHeap("after the holder"); }).join();
  }
  Note("next;");
  {
    const TFailAfter bound(MachineBound(20000), "the last close waits for a holder that is gone");
    StopExceptionReporting();
  }
  Note("closed;");
  if (host != nullptr) CloseHandle(host);
  ExitProcess(0);  // the fixture's detachment is done
}

// A thread killed while it holds the library lock (a host's watchdog ends a call hung inside the
// plug-in) stalls no one: killed in a handler of its exception's processing, the next exception
// and the last close return, and the worker processed its exception to the end without it; killed
// in a handler of a background send, the next exception is processed and sent.
TEST(ProcessingChild, AHolderKilledStallsNeitherTheNextExceptionNorTheLastClose) {
  for (const char* how : {"thread", "send"}) {
    SCOPED_TRACE(how);
    testnet::SmtpServer server;
    std::remove(kChildNotes);
    std::remove(LogName().c_str());
    const TChildRun run = RunChildProcess("--gtest_filter=ProcessingWin32Test.GoneHolderChild",
                                          {{"KBL_GONE_HOW", how}, {"KBL_GONE_PORT", std::to_string(server.Port())}},
                                          60000, &ForgetChildTraces);
    EXPECT_TRUE(run.Ended);
    EXPECT_EQ(run.ExitCode, 0u);
    std::ifstream file(kChildNotes, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "next;closed;");
    EXPECT_TRUE(LogHolds("gone holder"));
    EXPECT_TRUE(LogHolds("after the holder"));
    if (std::string(how) == "send") EXPECT_EQ(SentReports(server), std::vector<std::string>{"after the holder."});
  }
  std::remove(kChildNotes);
  std::remove(LogName().c_str());
}

// A handler of an exception's processing leaves the plug-in through the system's unwinding (a
// host's guard catches what it raised, as a longjmp does): the thread's entry is over. Another
// thread's exception does not wait for the lock it left, the thread's own next exception is
// processed again, and the worker processed the first to its end.
std::jmp_buf gHostGuard;

TEST_F(ProcessingWin32Test, AnEntryUnwoundToTheHostsGuardLeavesNoOneWaiting) {
  static bool unwind;
  unwind = true;
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord&, uint8_t&) {
    if (std::exchange(unwind, false)) std::longjmp(gHostGuard, 1);
  };
  const TFailAfter bound(MachineBound(30000), "an exception waits for an entry that was unwound");
  std::thread([] {
    if (setjmp(gHostGuard) == 0) ProcessOnHeap("unwound");
    ProcessOnHeap("again on that thread");
  }).join();
  std::thread([] { ProcessOnHeap("on another thread"); }).join();
  EXPECT_TRUE(LogHolds("unwound"));
  EXPECT_TRUE(LogHolds("again on that thread"));
  EXPECT_TRUE(LogHolds("on another thread"));
}

// The child half: a report sent in the background hangs, to a server that accepts and never
// answers (KBL_BOUND_HANG "server"), or in its before-e-mail handler ("handler"). Then
// KBL_BOUND_STEP: the wait of an end of the process ("end"), the last close ("close"), or
// another exception ("next"); its length in milliseconds is noted. "crash": the main thread's
// code is ended by the runtime (its exception's entry waits, then the end); "fault": the main
// thread faults in the module's code and nothing handles it (the fault's entry waits as the fault
// is dispatched, then the unhandled-fault filter's end); the start is noted.
// The host's own filter of an unhandled fault, above the library's: the process ends once the
// library's filter has run.
LPTOP_LEVEL_EXCEPTION_FILTER gFilterBelow = nullptr;
LONG WINAPI EndAfterTheFilters(EXCEPTION_POINTERS* pointers) {
  if (gFilterBelow != nullptr) gFilterBelow(pointers);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

TEST_F(ProcessingWin32Test, BoundedWaitChild) {
  const char* step = std::getenv("KBL_BOUND_STEP");
  if (step == nullptr) GTEST_SKIP() << "a child half of a test";
  static const bool hangHandler = std::string(std::getenv("KBL_BOUND_HANG")) == "handler";
  static HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(std::getenv("KBL_BOUND_PORT"))));
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
    if (action != 4 || WaitForSingleObject(inside, 0) == WAIT_OBJECT_0) return;
    SetEvent(inside);
    if (hangHandler) Sleep(INFINITE);
  };
  Process(0, "held send");
  ASSERT_EQ(WaitForSingleObject(inside, MachineBound(30000)), WAIT_OBJECT_0);
  Sleep(300);  // into its wait
  const DWORD start = GetTickCount();
  if (std::string(step) == "crash") {
    Note(("@" + std::to_string(start)).c_str());
    LeaveNoexcept("crash");
  }
  if (std::string(step) == "fault") {
    Note(("@" + std::to_string(start)).c_str());
    gFilterBelow = SetUnhandledExceptionFilter(&EndAfterTheFilters);
    *static_cast<volatile int*>(nullptr) = 0;
  }
  if (std::string(step) == "end")
    RunBeforeProcessEnd();
  else if (std::string(step) == "close")
    StopExceptionReporting();
  else
    Process(0, "after the bound");
  Note(std::to_string(GetTickCount() - start).c_str());
  ExitProcess(0);  // as an end does; the given-up send ends with the process
}

// An end of the process, the last close and the next exception wait for a report being sent in
// the background at most the bound (10 s), whether its server never answers or its handler never
// returns; the report given up is in the log file, and the next exception is processed.
TEST(ProcessingChild, TheEndsTheLastCloseAndTheNextExceptionWaitForASendAtMostTheBound) {
  for (const char* hang : {"server", "handler"}) {
    for (const char* step : {"end", "close", "next", "crash", "fault"}) {
      SCOPED_TRACE(std::string(hang) + ", " + step);
      testnet::Listener silent([](testnet::Connection& connection) { connection.ReadUntil("\r\nnever\r\n"); });
      testnet::SmtpServer answering;
      const uint16_t port = std::string(hang) == "server" ? silent.Port() : answering.Port();
      std::remove(kChildNotes);
      std::remove(LogName().c_str());
      const TChildRun run = RunChildProcess(
          "--gtest_filter=ProcessingWin32Test.BoundedWaitChild",
          {{"KBL_BOUND_HANG", hang}, {"KBL_BOUND_STEP", step}, {"KBL_BOUND_PORT", std::to_string(port)}}, 60000,
          &ForgetChildTraces);
      EXPECT_TRUE(run.Ended);
      const bool fault = std::string(step) == "fault", crash = fault || std::string(step) == "crash";
      EXPECT_EQ(run.ExitCode, fault ? 3u : crash ? 1u : 0u);
      std::ifstream file(kChildNotes, std::ios::binary);
      std::string waited(std::istreambuf_iterator<char>(file), {});
      EXPECT_FALSE(waited.empty());
      // A crash or a fault: its entry's wait and the end's, from the start to the process's end.
      if (crash && !waited.empty()) waited = std::to_string(GetTickCount() - std::stoul(waited.substr(1)));
      if (!waited.empty()) EXPECT_LT(std::stoul(waited), 15000u);
      EXPECT_TRUE(LogHolds("held send"));
      if (std::string(step) == "next") EXPECT_TRUE(LogHolds("after the bound"));
    }
  }
  std::remove(kChildNotes);
  std::remove(LogName().c_str());
}

// --- Probes: entries that end by an unwind, and the exceptions kept on their threads

// What the exception event's handler does for each exception (by its message), in turn: hands
// over a caught exception of that message, or "unwind"s to the guard of its thread (the host's).
std::map<std::string, std::vector<std::string>> gScript;
std::jmp_buf gScriptGuard;

void RunScript(const std::string& message) {
  for (const std::string& step : gScript[message]) {
    if (step == "unwind") std::longjmp(gScriptGuard, 1);
    try {
      throw std::logic_error(step);
    } catch (const std::exception& error) {
      HandleCaughtException(&error, 0);
    }
  }
}

// An entry unwound to a guard of its thread's (a host's, or the program's own around an event
// call) ends that thread's work inside the library: what the program's code handed over in it
// is still processed, and so is every later exception of the thread. Kept ones pending when the
// entry was unwound, an unwind while the kept ones are processed, and an unwind of an entry
// inside another module's event call (the thread held the library lock already).
TEST_F(ProcessingWin32Test, AnEntryEndedByAnUnwindLosesNoExceptionOfItsThread) {
  const struct {
    const char* Name;
    std::map<std::string, std::vector<std::string>> Script;
    void (*Run)();
    std::vector<const char*> Logged;
  } cases[] = {
      {"a kept one pending at the unwind", {{"outer", {"kept inner", "unwind"}}},
       [] {
         if (setjmp(gScriptGuard) == 0) {
           ProcessOnHeap("outer");
         }
       },
       {"outer", "kept inner"}},
      {"an unwind in the kept one's processing", {{"outer 1", {"inner 1"}}, {"inner 1", {"unwind"}}, {"outer 2", {"inner 2"}}},
       [] {
         if (setjmp(gScriptGuard) == 0) {
           ProcessOnHeap("outer 1");
         }
         ProcessOnHeap("outer 2");
       },
       {"outer 1", "inner 1", "outer 2", "inner 2"}},
      {"an unwind inside another module's event call", {{"event call", {"inner"}}, {"inner", {"unwind"}}},
       [] {
         TEmberExceptionRecord theirs;
         uint8_t execute = 1;
         EmberLog_ExceptionActionNotifyEvent(&theirs, 99, &execute);
         ProcessOnHeap("later");
       },
       {"inner", "later"}},
  };
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord& record, uint8_t&) {
    if (record.ExceptionObject != nullptr) RunScript(record.ExceptionObject->what());
  };
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
    if (action != 99) return;
    if (setjmp(gScriptGuard) == 0) {
      RunScript("event call");
    }
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::remove(LogName().c_str());
    gScript = c.Script;
    {
      const TFailAfter bound(MachineBound(60000), "an exception after an unwound entry stalls");
      std::thread(c.Run).join();
    }
    // The unwound entry's worker goes on alone: its report comes in its own time.
    const DWORD until = GetTickCount() + MachineBound(5000);
    for (const char* message : c.Logged) {
      while (!LogHolds(message) && GetTickCount() < until) Sleep(50);
      EXPECT_TRUE(LogHolds(message)) << message << " is not processed";
    }
  }
  gScript.clear();
}

// An entry unwound inside an outer hold of its thread (another module's event call) leaves its
// worker running: the thread's next exception inside that hold waits for it, so that two
// processings never run at once (their dialogs never show together).
TEST_F(ProcessingWin32Test, AnEntryUnwoundInsideAnOuterHoldIsOverBeforeTheNextOneIsProcessed) {
  static std::atomic<int32_t> showing{0};
  static std::atomic<bool> overlap{false};
  TEmberReportOutput output = EmberReportOutput();
  output.ShowExceptionDialog = [](bool) {
    if (++showing > 1) overlap = true;
    Sleep(1000);
    EmberDialogState().DialogType = 0;
    --showing;
  };
  SetEmberReportOutput(output);
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord& record, uint8_t&) {
    if (std::string(record.ExceptionObject->what()) == "unwound") std::longjmp(gHostGuard, 1);
  };
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
    if (action != 99) return;
    if (setjmp(gHostGuard) == 0) ProcessOnHeap("unwound");
    ProcessOnHeap("next in the hold");
  };
  {
    const TFailAfter bound(MachineBound(30000), "the next exception in the hold stalls");
    std::thread([] {
      TEmberExceptionRecord theirs;
      uint8_t execute = 1;
      EmberLog_ExceptionActionNotifyEvent(&theirs, 99, &execute);
    }).join();
  }
  EXPECT_FALSE(overlap);
  EXPECT_TRUE(LogHolds("unwound"));
  EXPECT_TRUE(LogHolds("next in the hold"));
}

// A kept exception is processed through the library's copy of it, which the report names as the
// exception it copies: a wrapper of a safecall exception handed over in a handler (the child
// half notes whether its processing returned and under which class it was reported).
TEST_F(ProcessingWin32Test, KeptWrapperChild) {
  if (std::getenv("KBL_PROCESSING_CHILD") == nullptr) GTEST_SKIP() << "a child half of a test";
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord& record, uint8_t&) {
    if (record.ExceptionObject == nullptr || std::string(record.ExceptionObject->what()) != "outer") return;
    try {
      throw TActiveXException("wrapped failure", nullptr, "EOleSysErrorAbc");
    } catch (const std::exception& error) {
      HandleCaughtException(&error, 0);
    }
  };
  Process(0, "outer");
  Note("returned;");
  Note(LogHolds("EOleSysErrorAbc") ? "carried class;" : "another class;");
}

// ... processed as it is when it is processed at once: under the class it carries, and without
// taking the copy for the wrapper itself (with the filters on, as they are by default).
TEST(ProcessingChild, AKeptExceptionIsReportedAsTheOneItCopies) {
  const TNotedRun run = RunNotedChild("KeptWrapperChild", {{"KBL_PROCESSING_CHILD", "1"}}, 20000);
  EXPECT_EQ(run.Notes, "returned;carried class;");
  EXPECT_EQ(run.Run.ExitCode, 0u);
}

// --- Probes: a send given up while the program's code it runs goes on

// The child half: a report sent in the background waits in its before-e-mail handler; the next
// exception waits the bound for it and gives it up (KBL_GIVEN_UP_BY "next"), or the last close
// does and the library is opened again before the next exception ("close"). While the next one
// is processed (its dialog shows), the given-up send's handler goes on and hands over an
// exception of its own. Notes "overlap;" when two processings showed their dialogs at once, then
// "done;".
TEST_F(ProcessingWin32Test, GivenUpSendChild) {
  const char* port = std::getenv("KBL_GIVEN_UP_PORT");
  if (port == nullptr) GTEST_SKIP() << "a child half of a test";
  SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(port)));
  static HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  static HANDLE goOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  static std::atomic<int32_t> dialogs{0}, showing{0};
  TEmberReportOutput output = EmberReportOutput();
  output.ShowExceptionDialog = [](bool) {
    if (++showing > 1) Note("overlap;");
    if (++dialogs == 2) {  // the next exception's
      SetEvent(goOn);
      Sleep(5000);
    }
    EmberDialogState().DialogType = 0;
    --showing;
  };
  SetEmberReportOutput(output);
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
    if (action != 4 || WaitForSingleObject(inside, 0) == WAIT_OBJECT_0) return;
    SetEvent(inside);
    WaitForSingleObject(goOn, MachineBound(30000));
    try {
      throw std::logic_error("late inner");
    } catch (const std::exception& error) {
      HandleCaughtException(&error, 0);
    }
  };
  Process(0, "outer");
  ASSERT_EQ(WaitForSingleObject(inside, MachineBound(30000)), WAIT_OBJECT_0);
  if (std::string(std::getenv("KBL_GIVEN_UP_BY")) == "close") {
    StopExceptionReporting();
    StartExceptionReporting();
  }
  Process(0, "next");
  Sleep(1000);
  Note("done;");
  ExitProcess(0);  // the given-up send ends with the process
}

// A send given up where it waits in a handler of the program (the next exception waited the bound
// for it, or the last close did, and the library was opened again) touches nothing of the library
// any more: when that handler goes on and hands over an exception, no processing of it runs
// beside the one of the next exception.
TEST(ProcessingChild, AGivenUpSendsHandlerProcessesNothingBesideTheNextHolder) {
  for (const char* by : {"next", "close"}) {
    SCOPED_TRACE(by);
    testnet::SmtpServer server;
    const TNotedRun run = RunNotedChild(
        "GivenUpSendChild", {{"KBL_GIVEN_UP_PORT", std::to_string(server.Port())}, {"KBL_GIVEN_UP_BY", by}}, 60000);
    EXPECT_EQ(run.Notes, "done;");
    EXPECT_EQ(run.Run.ExitCode, 0u);
  }
}

// --- Probes: the last close on the thread whose exception is being processed

HANDLE gClosedInside = nullptr;

LRESULT CALLBACK ClosingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_USER) return DefWindowProcA(window, message, wParam, lParam);
  StopExceptionReporting();  // the host closes its last plug-in
  Note("closed;");
  SetEvent(gClosedInside);
  return 0;
}

// The child half: while the main thread's exception shows its dialog, the host closes its last
// plug-in in a message the main thread handles meanwhile. Notes the close, the processing's return
// and whether its report reached the log.
TEST_F(ProcessingWin32Test, CloseInsideEntryChild) {
  if (std::getenv("KBL_PROCESSING_CHILD") == nullptr) GTEST_SKIP() << "a child half of a test";
  static HWND window;
  window = MakeWindow(&ClosingWindowProc, "KblClosingWindow");
  ASSERT_NE(window, nullptr);
  gClosedInside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  TEmberReportOutput output = EmberReportOutput();
  output.ShowExceptionDialog = [](bool) {
    PostMessageA(window, WM_USER, 0, 0);
    WaitForSingleObject(gClosedInside, MachineBound(10000));
    EmberDialogState().DialogType = 0;
  };
  SetEmberReportOutput(output);
  Process(0, "outer");
  Note("returned;");
  Note(LogHolds("outer") ? "logged;" : "not logged;");
  ExitProcess(0);
}

// The last close made while the closing thread's own exception is being processed (the main
// thread handles the host's messages while the exception dialog shows) does not take the library
// down under that processing: the processing goes on to its end and its report is logged.
TEST(ProcessingChild, TheLastCloseInsideAnExceptionsProcessingLetsItEnd) {
  const TNotedRun run = RunNotedChild("CloseInsideEntryChild", {{"KBL_PROCESSING_CHILD", "1"}}, 20000);
  EXPECT_EQ(run.Notes, "closed;returned;logged;");
  EXPECT_EQ(run.Run.ExitCode, 0u);
}

// What a host thread's handler handed over inside its exception's processing is processed as its
// own also when the host kills that thread before its entry ends (a watchdog ends a call hung in
// the handler): the next exception and the last close come, and the handed-over one is logged.
TEST(ProcessingChild, AnExceptionKeptOnAThreadKilledInsideItsEntryIsStillProcessed) {
  std::remove(LogName().c_str());
  const TNotedRun run = RunNotedChild("GoneHolderChild", {{"KBL_GONE_HOW", "thread"}, {"KBL_GONE_KEEP", "1"}}, 60000);
  EXPECT_EQ(run.Run.ExitCode, 0u);
  EXPECT_EQ(run.Notes, "next;closed;");
  EXPECT_TRUE(LogHolds("after the holder"));
  EXPECT_TRUE(LogHolds("kept before the kill")) << "lost with its thread";
  std::remove(LogName().c_str());
}

// The child half: a host thread's exception is processed, and its handler asks a window of the
// main thread something (SendMessage) just as the main thread closes the last plug-in. Notes the
// close's and the processing's returns.
TEST_F(ProcessingWin32Test, CloseWhileAHandlerAsksChild) {
  if (std::getenv("KBL_PROCESSING_CHILD") == nullptr) GTEST_SKIP() << "a child half of a test";
  static HWND window = CreateWindowA("STATIC", "main", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  static HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord&, uint8_t&) {
    SetEvent(inside);
    Sleep(500);  // the close is under way
    SendMessageA(window, WM_NULL, 0, 0);
  };
  std::thread host([this] { Process(0, "outer"); });
  WaitForSingleObject(inside, MachineBound(30000));
  StopExceptionReporting();
  Note("closed;");
  host.join();
  Note("returned;");
  ExitProcess(0);
}

// The last close waits for an exception being processed on another thread; it answers what that
// processing's handler sends to the closing thread's windows meanwhile, as every other wait of the
// library on a thread with windows does, so the two do not wait for each other.
TEST(ProcessingChild, TheLastCloseAnswersTheWindowsAProcessingsHandlerAsks) {
  const TNotedRun run = RunNotedChild("CloseWhileAHandlerAsksChild", {{"KBL_PROCESSING_CHILD", "1"}}, 20000);
  EXPECT_EQ(run.Notes, "closed;returned;");
  EXPECT_EQ(run.Run.ExitCode, 0u);
}

// An end of the program that the library makes (the main thread's code ended by the runtime)
// while the report it processed last is still being sent to a server that never answers: the end
// gives that send up after the bound and leaves no companion folder of the report behind.
TEST(ProcessingChild, AnEndThatGivesASendUpLeavesNoCompanionFolder) {
  testnet::Listener silent([](testnet::Connection& connection) { connection.ReadUntil("\r\nnever\r\n"); });
  const std::set<std::string> before = CompanionFolders();
  const TChildRun run = RunChildProcess(
      "--gtest_filter=ProcessingWin32Test.TerminateMainChild",
      {{"KBL_TERMINATE_MAIN_PORT", std::to_string(silent.Port())}, {"KBL_TERMINATE_WHERE", "alone"}}, 60000);
  EXPECT_EQ(run.ExitCode, 1u);
  char pid[16];
  std::snprintf(pid, sizeof pid, "%08lX", run.ProcessId);
  for (const std::string& folder : CompanionFolders())
    EXPECT_TRUE(before.count(folder) != 0 || folder.compare(8, 8, pid) != 0) << folder << " is left";
}

// --- Probes: kept exceptions processed by a thread other than the one that kept them

// A kept exception whose thread left its entries by an unwind is processed by another thread (the
// worker, once its job is over): its report still names the thread that raised it, as the report
// of every exception processed at once does.
TEST_F(ProcessingWin32Test, AKeptExceptionProcessedByAnotherThreadNamesItsOwnThread) {
  static std::map<std::string, uint32_t> threadOf;
  static std::mutex threadOfLock;
  threadOf.clear();
  gScript = {{"outer", {"kept inner", "unwind"}}};
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord& record, uint8_t&) {
    if (record.ExceptionObject == nullptr) return;
    {
      const std::lock_guard<std::mutex> guard(threadOfLock);
      threadOf[record.ExceptionObject->what()] = record.ExceptionThreadID;
    }
    RunScript(record.ExceptionObject->what());
  };
  static uint32_t raiser;
  {
    const TFailAfter bound(MachineBound(30000), "an exception after an unwound entry stalls");
    std::thread([] {
      raiser = GetCurrentThreadId();
      if (setjmp(gScriptGuard) == 0) ProcessOnHeap("outer");
    }).join();
  }
  const DWORD until = GetTickCount() + MachineBound(10000);
  while (!LogHolds("kept inner") && GetTickCount() < until) Sleep(50);
  ASSERT_TRUE(LogHolds("kept inner"));
  const std::lock_guard<std::mutex> guard(threadOfLock);
  EXPECT_EQ(threadOf["outer"], raiser);
  EXPECT_EQ(threadOf["kept inner"], raiser) << "reported as raised on the thread that processed it";
  gScript.clear();
}

// The child half: the exception event's handler hands over an exception of its own (kept), then
// the user asks in the dialog to end the program.
TEST_F(ProcessingWin32Test, KeptAtTheEndChild) {
  if (std::getenv("KBL_PROCESSING_CHILD") == nullptr) GTEST_SKIP() << "a child half of a test";
  TEmberReportOutput output = EmberReportOutput();
  output.ShowExceptionDialog = [](bool) {
    EmberDialogState().RestartRequested = true;
    EmberDialogState().DialogType = 0;
  };
  SetEmberReportOutput(output);
  options_->SetTerminateAction(1);
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord& record, uint8_t&) {
    if (record.ExceptionObject == nullptr || std::string(record.ExceptionObject->what()) != "outer") return;
    try {
      throw std::logic_error("kept before the end");
    } catch (const std::exception& error) {
      HandleCaughtException(&error, 0);
    }
  };
  Process(0, "outer");
  Note("returned;");
}

// An end of the program asked in an exception's processing comes after what the program handed
// over before it: the exception kept while the first was processed is logged before the process
// ends, not dropped with it.
TEST(ProcessingChild, AnEndAskedInAProcessingLeavesNoKeptExceptionUnprocessed) {
  std::remove(LogName().c_str());
  const auto [exitCode, notes] = RunChild("KeptAtTheEndChild");
  EXPECT_EQ(exitCode, 1u);
  EXPECT_EQ(notes, "");
  EXPECT_TRUE(LogHolds("outer"));
  EXPECT_TRUE(LogHolds("kept before the end")) << "dropped by the end";
  std::remove(LogName().c_str());
}

// --- Probes: a close put off, and the waits counted at an end and at the last close

// The child half: while the main thread's exception shows its dialog, the host closes its last
// plug-in in a message the main thread handles (the close waits for that processing's end); then
// another host thread hands over an abort (a silent exception). Notes whether that thread came
// back, the processing's return and whether its report reached the log.
DWORD WINAPI HandOverAnAbort(void*) {
  const EAbort abort("quiet");
  CentralNotify(&abort, 0, 0, 0, 0, nullptr, nullptr, 0, reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)), 0, 0);
  return 0;
}

TEST_F(ProcessingWin32Test, PutOffCloseAndAnAbortChild) {
  if (std::getenv("KBL_PUT_OFF_CHILD") == nullptr) GTEST_SKIP() << "a child half of a test";
  static HWND window;
  window = MakeWindow(&ClosingWindowProc, "KblClosingWindow");
  ASSERT_NE(window, nullptr);
  gClosedInside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  TEmberReportOutput output = EmberReportOutput();
  output.ShowExceptionDialog = [](bool) {
    PostMessageA(window, WM_USER, 0, 0);
    WaitForSingleObject(gClosedInside, MachineBound(10000));
    HANDLE other = CreateThread(nullptr, 0, &HandOverAnAbort, nullptr, 0, nullptr);
    // Not grown where programs run emulated: an abort that waited for this processing would come
    // back after its own wait's 10 s, inside a bound grown past them.
    Note(WaitForSingleObject(other, 5000) == WAIT_OBJECT_0 ? "abort returned;" : "abort stalled;");
    EmberDialogState().DialogType = 0;
  };
  SetEmberReportOutput(output);
  Process(0, "outer");
  Note("returned;");
  Note(LogHolds("outer") ? "logged;" : "not logged;");
  ExitProcess(0);
}

// A close put off until the closing thread's own processing ends is that thread's: another
// thread's hand-over of an abort meanwhile (nothing to process) neither runs it nor waits for it,
// and the processing goes on to its end with its report logged.
TEST(ProcessingChild, AnAbortOnAnotherThreadLeavesAClosePutOffToItsOwnEntry) {
  const TNotedRun run = RunNotedChild("PutOffCloseAndAnAbortChild", {{"KBL_PUT_OFF_CHILD", "1"}}, 30000);
  EXPECT_TRUE(run.Run.Ended);
  EXPECT_EQ(run.Notes, "closed;abort returned;returned;logged;");
  EXPECT_EQ(run.Run.ExitCode, 0u);
}

// The child half: a report sent in the background holds the library lock 8 s in its
// before-e-mail handler, which the main thread's next exception waits for; that exception's own
// report, sent in the background too, takes 4 s there. Then the program asks for its end; notes
// how long the end waited.
TEST_F(ProcessingWin32Test, EarlierEntryWaitChild) {
  const char* port = std::getenv("KBL_STALE_PORT");
  if (port == nullptr) GTEST_SKIP() << "a child half of a test";
  static HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  static std::atomic<int32_t> sends{0};
  SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(port)));
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
    if (action != 4) return;
    if (sends++ > 0) return Sleep(4000);
    SetEvent(inside);
    Sleep(8000);
  };
  Process(0, "held send");
  ASSERT_EQ(WaitForSingleObject(inside, MachineBound(30000)), WAIT_OBJECT_0);
  Process(0, "after the wait");
  const DWORD start = GetTickCount();
  RunBeforeProcessEnd();
  Note(std::to_string(GetTickCount() - start).c_str());
  ExitProcess(0);
}

// The bound of an end asked is its own: an earlier exception's entry on the same thread that
// waited for a send, long over, does not shorten it, and a report whose send takes 4 s goes out.
TEST(ProcessingChild, AnEarlierEntrysWaitDoesNotShortenALaterEndsWait) {
  testnet::SmtpServer server;
  std::remove(kChildNotes);
  std::remove(LogName().c_str());
  const TChildRun run = RunChildProcess("--gtest_filter=ProcessingWin32Test.EarlierEntryWaitChild",
                                        {{"KBL_STALE_PORT", std::to_string(server.Port())}}, 60000, &ForgetChildTraces);
  EXPECT_TRUE(run.Ended);
  EXPECT_EQ(run.ExitCode, 0u);
  std::ifstream file(kChildNotes, std::ios::binary);
  const std::string waited(std::istreambuf_iterator<char>(file), {});
  ASSERT_FALSE(waited.empty());
  EXPECT_LT(std::stoul(waited), 15000u);
  EXPECT_EQ(SentReports(server), (std::vector<std::string>{"held send.", "after the wait."})) << "the end waited " << waited << " ms";
  file.close();
  std::remove(kChildNotes);
  std::remove(LogName().c_str());
}

// The child half: while the main thread's exception "outer" shows its dialog, a message the main
// thread handles meanwhile hands over two exceptions and then closes the host's last plug-in.
// Notes the processing's return and which of the three reached the log.
void HandOver(const std::exception& error) {
  CentralNotify(&error, reinterpret_cast<uintptr_t>(&ReportsInLog), 0, 0, 0, nullptr, nullptr, 0,
                reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)), 0, 0);
}

LRESULT CALLBACK HandOverAndCloseProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_USER) return DefWindowProcA(window, message, wParam, lParam);
  // Two objects alive at once: a hand-over of an object already handed over is not a new one.
  const std::runtime_error one("kept one"), two("kept two");
  HandOver(one);
  HandOver(two);
  StopExceptionReporting();  // the host closes its last plug-in
  SetEvent(gClosedInside);
  return 0;
}

TEST_F(ProcessingWin32Test, KeptThenCloseInsideEntryChild) {
  if (std::getenv("KBL_KEPT_CLOSE_CHILD") == nullptr) GTEST_SKIP() << "a child half of a test";
  static HWND window;
  window = MakeWindow(&HandOverAndCloseProc, "KblKeptClosingWindow");
  ASSERT_NE(window, nullptr);
  gClosedInside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  TEmberReportOutput output = EmberReportOutput();
  output.ShowExceptionDialog = [](bool) {
    static bool posted = false;
    if (!std::exchange(posted, true)) {
      PostMessageA(window, WM_USER, 0, 0);
      WaitForSingleObject(gClosedInside, MachineBound(10000));
    }
    EmberDialogState().DialogType = 0;
  };
  SetEmberReportOutput(output);
  Process(0, "outer");
  Note("returned;");
  for (const char* message : {"outer", "kept one", "kept two"})
    Note((std::string(message) + (LogHolds(message) ? " logged;" : " lost;")).c_str());
  ExitProcess(0);
}

// Exceptions a host's message handed over inside an exception's processing, before the last close
// it then asked there, are each processed before that close takes the library down.
TEST(ProcessingChild, ExceptionsHandedOverBeforeAClosePutOffAreAllProcessed) {
  std::remove(LogName().c_str());
  const TNotedRun run = RunNotedChild("KeptThenCloseInsideEntryChild", {{"KBL_KEPT_CLOSE_CHILD", "1"}}, 30000);
  EXPECT_TRUE(run.Run.Ended);
  EXPECT_EQ(run.Notes, "returned;outer logged;kept one logged;kept two logged;");
  EXPECT_EQ(run.Run.ExitCode, 0u);
  std::remove(LogName().c_str());
}

// What a given-up send's handler hands over when it goes on (the child half above) is still an
// exception of the program: it is processed once the next exception's processing is over, by the
// next exception waiting the bound and by the last close alike.
TEST(ProcessingChild, WhatAGivenUpSendsHandlerHandsOverIsProcessed) {
  for (const char* by : {"next", "close"}) {
    SCOPED_TRACE(by);
    testnet::SmtpServer server;
    std::remove(kChildNotes);
    std::remove(LogName().c_str());
    const TChildRun run = RunChildProcess("--gtest_filter=ProcessingWin32Test.GivenUpSendChild",
                                          {{"KBL_GIVEN_UP_PORT", std::to_string(server.Port())}, {"KBL_GIVEN_UP_BY", by}},
                                          60000, &ForgetChildTraces);
    EXPECT_EQ(run.ExitCode, 0u);
    EXPECT_TRUE(LogHolds("next"));
    EXPECT_TRUE(LogHolds("late inner")) << "lost with the given-up send";
  }
  std::remove(kChildNotes);
  std::remove(LogName().c_str());
}

// The child half: a report sent in the background holds the library lock 3 s in its
// before-e-mail handler while the main thread closes the host's last plug-in; meanwhile another
// host thread asks the main thread's window (SendMessage) to open a plug-in. Notes the open, the
// close's return, and whether the next exception, on the plug-in opened, reached the log.
LRESULT CALLBACK OpeningWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_USER) return DefWindowProcA(window, message, wParam, lParam);
  StartExceptionReporting();  // the host opens a plug-in
  Note("opened;");
  return 0;
}

TEST_F(ProcessingWin32Test, OpenWhileTheLastCloseWaitsChild) {
  const char* port = std::getenv("KBL_OPEN_PORT");
  if (port == nullptr) GTEST_SKIP() << "a child half of a test";
  static HWND window;
  window = MakeWindow(&OpeningWindowProc, "KblOpeningWindow");
  ASSERT_NE(window, nullptr);
  static HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(port)));
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
    if (action != 4 || WaitForSingleObject(inside, 0) == WAIT_OBJECT_0) return;
    SetEvent(inside);
    Sleep(3000);
  };
  Process(0, "held send");
  ASSERT_EQ(WaitForSingleObject(inside, MachineBound(30000)), WAIT_OBJECT_0);
  std::thread host([] {
    Sleep(1000);  // into the close's wait
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutA(window, WM_USER, 0, 0, SMTO_NORMAL, MachineBound(15000), &answer) == 0)
      Note("not answered;");
  });
  StopExceptionReporting();
  Note("closed;");
  host.join();
  Process(0, "on the plug-in opened");
  Note(LogHolds("on the plug-in opened") ? "logged;" : "not logged;");
  ExitProcess(0);
}

// A plug-in that the host opens in a message the last close answers while it waits for a send
// comes up: the open neither waits for the close nor is undone by it, and the next exception is
// processed.
TEST(ProcessingChild, APlugInOpenedInAMessageTheLastCloseAnswersComesUp) {
  testnet::SmtpServer server;
  std::remove(LogName().c_str());
  const TNotedRun run =
      RunNotedChild("OpenWhileTheLastCloseWaitsChild", {{"KBL_OPEN_PORT", std::to_string(server.Port())}}, 40000);
  EXPECT_TRUE(run.Run.Ended);
  EXPECT_EQ(run.Run.ExitCode, 0u);
  EXPECT_EQ(run.Notes, "opened;closed;logged;");
  std::remove(LogName().c_str());
}

// The child half: filters end the program for the outer exception and for every one kept; the
// one kept while the outer one is processed hands over one more as it is processed itself.
TEST_F(ProcessingWin32Test, KeptAskingTheEndChild) {
  if (std::getenv("KBL_PROCESSING_CHILD") == nullptr) GTEST_SKIP() << "a child half of a test";
  for (const char* name : {"runtime_error", "logic_error"}) {
    TEmberExceptionFilter filter;
    filter.ExceptionClassName = name;
    filter.HandlerType = 2;
    filter.ActionType = 1;
    options_->ExceptionsFilters().Add(filter);
  }
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord& record, uint8_t&) {
    const std::string what = record.ExceptionObject != nullptr ? record.ExceptionObject->what() : "";
    const char* next = what == "outer"                  ? "kept, asking the end"
                       : what == "kept, asking the end" ? "kept at the end"
                                                        : nullptr;
    if (next == nullptr) return;
    try {
      throw std::logic_error(next);
    } catch (const std::exception& error) {
      HandleCaughtException(&error, 0);
    }
  };
  Process(0, "outer");
  Note("returned;");
}

// A kept exception processed before the end that would ask an end itself is logged and ends
// nothing again: what it hands over meanwhile is logged too, then the process ends once.
TEST(ProcessingChild, AKeptExceptionAskingAnEndAtTheEndIsLoggedWithoutEndingAgain) {
  std::remove(LogName().c_str());
  const auto [exitCode, notes] = RunChild("KeptAskingTheEndChild");
  EXPECT_EQ(exitCode, 1u);
  EXPECT_EQ(notes, "");
  for (const char* text : {"outer", "kept, asking the end", "kept at the end"}) EXPECT_TRUE(LogHolds(text)) << text;
  std::remove(LogName().c_str());
}

// --- Probes: an entry left by an unwind, its wait and a close put off after it

// The child half: a report sent in the background holds the library lock 8 s in its
// before-e-mail handler, which the main thread's next exception waits for; that exception's
// handler then unwinds to the host's guard, and its report, sent in the background by the worker,
// takes 4 s there. Once that send is under way the program asks for its end; notes how long the
// end waited.
std::jmp_buf gUnwoundWaitGuard;

TEST_F(ProcessingWin32Test, UnwoundEntryWaitChild) {
  const char* port = std::getenv("KBL_UNWOUND_WAIT_PORT");
  if (port == nullptr) GTEST_SKIP() << "a child half of a test";
  static HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  static HANDLE second = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  static std::atomic<int32_t> sends{0};
  SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(port)));
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
    if (action != 4) return;
    if (sends++ > 0) {
      SetEvent(second);
      return Sleep(4000);
    }
    SetEvent(inside);
    Sleep(8000);
  };
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord& record, uint8_t&) {
    if (record.ExceptionObject != nullptr && std::string(record.ExceptionObject->what()) == "after the wait")
      std::longjmp(gUnwoundWaitGuard, 1);
  };
  Process(0, "held send");
  ASSERT_EQ(WaitForSingleObject(inside, MachineBound(30000)), WAIT_OBJECT_0);
  if (setjmp(gUnwoundWaitGuard) == 0) ProcessOnHeap("after the wait");
  ASSERT_EQ(WaitForSingleObject(second, MachineBound(30000)), WAIT_OBJECT_0);
  const DWORD start = GetTickCount();
  RunBeforeProcessEnd();
  Note(std::to_string(GetTickCount() - start).c_str());
  ExitProcess(0);
}

// An entry that is over leaves no wait behind also when a handler unwound it to the host's
// guard: the end the program asks later has its own bound, and a report whose send takes 4 s goes
// out.
TEST(ProcessingChild, AnEntryUnwoundAfterItsWaitDoesNotShortenALaterEndsWait) {
  testnet::SmtpServer server;
  std::remove(kChildNotes);
  std::remove(LogName().c_str());
  const TChildRun run = RunChildProcess("--gtest_filter=ProcessingWin32Test.UnwoundEntryWaitChild",
                                        {{"KBL_UNWOUND_WAIT_PORT", std::to_string(server.Port())}}, 60000,
                                        &ForgetChildTraces);
  EXPECT_TRUE(run.Ended);
  EXPECT_EQ(run.ExitCode, 0u);
  std::ifstream file(kChildNotes, std::ios::binary);
  const std::string waited(std::istreambuf_iterator<char>(file), {});
  ASSERT_FALSE(waited.empty());
  EXPECT_LT(std::stoul(waited), 15000u);
  EXPECT_EQ(SentReports(server), (std::vector<std::string>{"held send.", "after the wait."}))
      << "the end waited " << waited << " ms";
  file.close();
  std::remove(kChildNotes);
  std::remove(LogName().c_str());
}

// The child half: the main thread's exception's handler unwinds to the host's guard; the worker
// goes on, and in its dialog the host closes its last plug-in. Then another host thread's
// exception is processed, and a third exception after it. Notes the close, whether the library
// was still attached after the other thread's exception, and whether the third reached the log.
std::jmp_buf gCloseAfterUnwindGuard;

TEST_F(ProcessingWin32Test, CloseAfterUnwindChild) {
  if (std::getenv("KBL_CLOSE_AFTER_UNWIND") == nullptr) GTEST_SKIP() << "a child half of a test";
  static HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord& record, uint8_t&) {
    if (record.ExceptionObject != nullptr && std::string(record.ExceptionObject->what()) == "unwound")
      std::longjmp(gCloseAfterUnwindGuard, 1);
  };
  TEmberReportOutput output = EmberReportOutput();
  output.ShowExceptionDialog = [](bool) {
    static bool once = false;
    if (!std::exchange(once, true)) {
      StopExceptionReporting();  // the host closes its last plug-in
      Note("closed;");
      SetEvent(closed);
    }
    EmberDialogState().DialogType = 0;
  };
  SetEmberReportOutput(output);
  if (setjmp(gCloseAfterUnwindGuard) == 0) ProcessOnHeap("unwound");
  if (WaitForSingleObject(closed, MachineBound(10000)) != WAIT_OBJECT_0) Note("no dialog;");
  Sleep(1000);  // the worker's processing is over
  std::thread([] { ProcessOnHeap("on another thread"); }).join();
  Note(EmberLibrary().LibraryOn != 0 ? "attached;" : "detached;");
  std::thread([] { ProcessOnHeap("after the close"); }).join();
  Note(LogHolds("after the close") ? "logged;" : "not logged;");
  ExitProcess(0);
}

// A close put off on the worker of a thread that had already unwound out of its entry belongs to
// no entry of that thread any more: the next entry to end (another thread's) runs it, and the
// library is detached after it, processing nothing later.
TEST(ProcessingChild, AClosePutOffAfterItsThreadUnwoundIsRunByTheNextEntry) {
  std::remove(LogName().c_str());
  const TNotedRun run = RunNotedChild("CloseAfterUnwindChild", {{"KBL_CLOSE_AFTER_UNWIND", "1"}}, 40000);
  EXPECT_TRUE(run.Run.Ended);
  EXPECT_EQ(run.Run.ExitCode, 0u);
  EXPECT_EQ(run.Notes, "closed;detached;not logged;");
  std::remove(LogName().c_str());
}

// --- Probe: an open on a thread whose exception holds the library lock during the last close

// The child half, in rounds: host thread "holder"'s exception holds the library lock 300 ms in
// its handler while the main thread closes the last plug-in and waits for the lock; then the
// handler opens a plug-in (the next round's close is the last again). Notes the rounds over and
// whether the library is attached after them.
std::atomic<int32_t> gOpenedInHandler{0};

TEST_F(ProcessingWin32Test, OpenInAHandlerDuringTheCloseChild) {
  if (std::getenv("KBL_OPEN_IN_HANDLER") == nullptr) GTEST_SKIP() << "a child half of a test";
  static HANDLE holding = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord&, uint8_t&) {
    SetEvent(holding);
    Sleep(300);                 // the close waits for the lock meanwhile
    StartExceptionReporting();  // the host opens a plug-in on this thread
    ++gOpenedInHandler;
  };
  constexpr int32_t kRounds = 8;
  for (int32_t round = 0; round < kRounds; ++round) {
    std::thread holder([] { ProcessOnHeap("holder"); });
    ASSERT_EQ(WaitForSingleObject(holding, MachineBound(30000)), WAIT_OBJECT_0);
    StopExceptionReporting();
    holder.join();
  }
  Note(gOpenedInHandler == kRounds ? "opened;" : "not opened;");
  Note(EmberLibrary().LibraryOn != 0 ? "attached;" : "detached;");
  ExitProcess(0);
}

// A plug-in opened on another thread while the last close is under way comes up without the two
// waiting for each other: here the opening thread holds the library lock (its exception is being
// processed), which the close waits for.
TEST(ProcessingChild, AnOpenInAHandlerDuringTheLastCloseDoesNotWaitForIt) {
  std::remove(LogName().c_str());
  const TNotedRun run = RunNotedChild("OpenInAHandlerDuringTheCloseChild", {{"KBL_OPEN_IN_HANDLER", "1"}}, 40000);
  EXPECT_TRUE(run.Run.Ended) << "the close and the open wait for each other";
  EXPECT_EQ(run.Run.ExitCode, 0u);
  EXPECT_EQ(run.Notes, "opened;attached;");
  std::remove(LogName().c_str());
}

// --- Probes: a close put off on a worker left alone, and an open during the detachment

// The child half: a host thread's exception's handler leaves its entry (KBL_CLOSE_ALONE "unwound":
// it unwinds to the host's guard; "killed": the host kills the thread); the worker goes on, and in
// its dialog the host closes its last plug-in. No other exception follows. Notes the close and
// whether the library is still attached once the worker's processing is over.
std::jmp_buf gAloneCloseGuard;

DWORD WINAPI LeftAloneHost(void*) {
  if (setjmp(gAloneCloseGuard) == 0) ProcessOnHeap("left alone");
  return 0;
}

TEST_F(ProcessingWin32Test, CloseOnAWorkerLeftAloneChild) {
  const char* how = std::getenv("KBL_CLOSE_ALONE");
  if (how == nullptr) GTEST_SKIP() << "a child half of a test";
  static HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  static HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  static bool kill;
  kill = std::string(how) == "killed";
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord&, uint8_t&) {
    if (kill) {
      SetEvent(inside);
      Sleep(INFINITE);
    }
    std::longjmp(gAloneCloseGuard, 1);
  };
  TEmberReportOutput output = EmberReportOutput();
  output.ShowExceptionDialog = [](bool) {
    static bool once = false;
    if (!std::exchange(once, true)) {
      StopExceptionReporting();  // the host closes its last plug-in
      Note("closed;");
      SetEvent(closed);
    }
    EmberDialogState().DialogType = 0;
  };
  SetEmberReportOutput(output);
  HANDLE faulting = CreateThread(nullptr, 0, &LeftAloneHost, nullptr, CREATE_SUSPENDED, nullptr);
  ResumeThread(faulting);
  if (kill && WaitForSingleObject(inside, MachineBound(10000)) == WAIT_OBJECT_0) {
    // The handler's call never comes back: the host's watchdog ends the thread.
    KillThread(faulting, 9);
    WaitForSingleObject(faulting, MachineBound(10000));
  }
  if (WaitForSingleObject(closed, MachineBound(10000)) != WAIT_OBJECT_0) Note("no dialog;");
  Sleep(3000);  // the worker's processing is over, and so is the worker
  Note(EmberLibrary().LibraryOn != 0 ? "attached;" : "detached;");
  ExitProcess(0);
}

// A last close put off on the worker of a thread that left its entry (unwound out of it, or
// killed) is run once that processing is over, also when no other exception ever follows: the
// host may unload the module after its last close, and nothing of the library may stay hooked
// into the process.
TEST(ProcessingChild, AClosePutOffOnAWorkerLeftAloneIsRunWhenItsProcessingEnds) {
  for (const char* how : {"unwound", "killed"}) {
    SCOPED_TRACE(how);
    std::remove(kChildNotes);
    std::remove(LogName().c_str());
    const TChildRun run = RunChildProcess("--gtest_filter=ProcessingWin32Test.CloseOnAWorkerLeftAloneChild",
                                          {{"KBL_CLOSE_ALONE", how}}, 40000, &ForgetChildTraces);
    EXPECT_TRUE(run.Ended);
    EXPECT_EQ(run.ExitCode, 0u);
    std::ifstream file(kChildNotes, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "closed;detached;");
  }
  std::remove(kChildNotes);
  std::remove(LogName().c_str());
}

// The child half, in rounds: the main thread closes the last plug-in; a host thread opens one as
// soon as the close has taken the library's hooks out, and at once its plug-in fails. Notes for
// each round whether that exception reached the log, and whether the library is attached after.
TEST_F(ProcessingWin32Test, OpenDuringTheDetachmentChild) {
  if (std::getenv("KBL_OPEN_DURING_DETACH") == nullptr) GTEST_SKIP() << "a child half of a test";
  constexpr int32_t kRounds = 5;
  for (int32_t round = 0; round < kRounds; ++round) {
    static std::atomic<int32_t> at;
    at = round;
    std::thread opener([] {
      const DWORD start = GetTickCount();
      while (EmberLibrary().LibraryOn != 0 && GetTickCount() - start < MachineBound(10000)) Sleep(0);
      StartExceptionReporting();  // the host opens a plug-in
      ProcessOnHeap(("opened " + std::to_string(at.load())).c_str());
    });
    StopExceptionReporting();
    opener.join();
  }
  Sleep(500);
  for (int32_t round = 0; round < kRounds; ++round)
    Note(LogHolds("opened " + std::to_string(round)) ? "logged;" : "lost;");
  Note(EmberLibrary().LibraryOn != 0 ? "attached;" : "detached;");
  ExitProcess(0);
}

// A plug-in opened while the last close detaches the library is up when its open returns: an
// exception it raises at once is processed, not lost in the rest of the detachment.
TEST(ProcessingChild, APlugInOpenedDuringTheDetachmentIsUpWhenItsOpenReturns) {
  std::remove(LogName().c_str());
  const TNotedRun run = RunNotedChild("OpenDuringTheDetachmentChild", {{"KBL_OPEN_DURING_DETACH", "1"}}, 40000);
  EXPECT_TRUE(run.Run.Ended);
  EXPECT_EQ(run.Run.ExitCode, 0u);
  EXPECT_EQ(run.Notes, "logged;logged;logged;logged;logged;attached;");
  std::remove(LogName().c_str());
}

// --- The module's work

std::string gWorkNotes;
HANDLE gProcessed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
std::thread gRaiser;

// Sets one of the module's options, raises on its own thread and on another, and ends once the
// other's exception had the time to be processed (2 s), were it let through.
void ModuleWorkSettingAnOption() {
  CurrentEmberLogOptions().SetEMailAddresses("work@example.org");
  ResetEvent(gProcessed);
  HandOver(std::runtime_error("raised in the module's work"));
  gRaiser = std::thread([] { HandOver(std::runtime_error("raised beside the module's work")); });
  WaitForSingleObject(gProcessed, 2000);
  gWorkNotes += "worked;";
}

// The module's work finds the library's options at each open (open, close, open) and keeps what
// it set, and no exception is processed before it has finished: one raised on its thread is not
// processed, one raised on another thread meanwhile is processed after it.
TEST(ProcessingModuleWork, TheWorkSetsOptionsAtEachOpenBeforeAnyExceptionIsProcessed) {
  gWorkNotes.clear();
  TEmberReportOutput output;
  output.ShowExceptionDialog = [](bool) {
    gWorkNotes += "processed;";
    SetEvent(gProcessed);
    EmberDialogState().DialogType = 0;
  };
  SetEmberReportOutput(output);
  SetReportingModuleWork(&ModuleWorkSettingAnOption, nullptr);
  for (int32_t open = 0; open < 2; ++open) {
    try {
      StartExceptionReporting();
    } catch (const std::exception& error) {
      ADD_FAILURE() << "the open failed: " << error.what();
      break;
    }
    gRaiser.join();
    gWorkNotes += CurrentEmberLogOptions().EMailAddresses() + ";";
    StopExceptionReporting();
  }
  SetReportingModuleWork(nullptr, nullptr);
  SetEmberReportOutput(TEmberReportOutput());
  EXPECT_EQ(gWorkNotes, "worked;processed;work@example.org;worked;processed;work@example.org;");
  std::remove(LogName().c_str());
}

HANDLE gHandingOver = CreateEventA(nullptr, TRUE, FALSE, nullptr);

// Run in the module's work: a thread hands an exception over, and waits for the library lock.
void HandOverBesideTheWork() {
  ResetEvent(gHandingOver);
  gRaiser = std::thread([] {
    SetEvent(gHandingOver);
    HandOver(std::runtime_error("handed over beside the work"));
  });
  WaitForSingleObject(gHandingOver, MachineBound(10000));
  Sleep(200);  // into its wait
}

void NoteProcessed(std::string& notes) {
  notes += std::string("processed ") + EmberLibrary().CurrentException.ExceptionObject->what() + ";";
  EmberDialogState().DialogType = 0;
}

// A work that raises fails the open that attaches, and is undone before anything is processed:
// neither its own exception (also where the library processes the main thread's handled
// exceptions at their raise: this program's options), nor one handed over beside it meanwhile,
// nor one the module's stop work hands over as it is undone. The next open attaches the library.
TEST(ProcessingModuleWork, AWorkThatRaisesFailsTheOpenUnprocessed) {
  gWorkNotes.clear();
  TEmberReportOutput output;
  output.ShowExceptionDialog = [](bool) { NoteProcessed(gWorkNotes); };
  SetEmberReportOutput(output);
  SetReportingModuleWork(
      [] {
        HandOverBesideTheWork();
        throw std::runtime_error("raised by the module's work");
      },
      [] { HandOver(std::runtime_error("handed over by the stop work")); });
  try {
    StartExceptionReporting();
    StopExceptionReporting();
  } catch (const std::exception&) {
    gWorkNotes += "failed;";
  }
  gRaiser.join();
  SetReportingModuleWork(nullptr, nullptr);
  StartExceptionReporting();
  gWorkNotes += EmberLibrary().LibraryOn != 0 ? "attached;" : "detached;";
  StopExceptionReporting();
  SetEmberReportOutput(TEmberReportOutput());
  EXPECT_EQ(gWorkNotes, "failed;attached;");
  std::remove(LogName().c_str());
}

// The module's options asked while another thread's open runs the module's work, holding the
// library lock, are the module's, as after the open.
TEST(ProcessingModuleWork, TheOptionsAskedWhileAnotherThreadHoldsTheLibraryAreTheModules) {
  static HANDLE working = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetReportingModuleWork(
      [] {
        SetEvent(working);
        Sleep(300);
      },
      nullptr);
  std::thread opener([] { StartExceptionReporting(); });
  WaitForSingleObject(working, MachineBound(10000));
  const TEmberModuleOptionsEx* asked = nullptr;
  EXPECT_NO_THROW(asked = &CurrentEmberLogOptions());
  opener.join();
  EXPECT_EQ(asked, &CurrentEmberLogOptions());
  SetReportingModuleWork(nullptr, nullptr);
  StopExceptionReporting();
}

// The child halves. A thread that the module's start work joins sets one of the options, at two
// opens in a row (the plug-in the fixture opened is closed first, so that the next open attaches).
void SetAnOptionOnAThread() {
  try {
    TEmberModuleOptionsEx& options = CurrentEmberLogOptions();
    options.SetEMailAddresses(options.EMailAddresses() + "joined@example.org");
    Note("set;");
  } catch (const std::exception&) {
    Note("refused;");
  }
}

TEST_F(ProcessingWin32Test, JoinedByTheStartWorkChild) {
  if (std::getenv("KBL_OPTIONS_CHILD") == nullptr) GTEST_SKIP() << "a child half of a test";
  SetReportingModuleWork([] { std::thread(&SetAnOptionOnAThread).join(); }, nullptr);
  StopExceptionReporting();
  for (int32_t open = 0; open < 2; ++open) {
    StartExceptionReporting();
    Note(("opened;" + CurrentEmberLogOptions().EMailAddresses() + ";").c_str());
    StopExceptionReporting();
  }
  ExitProcess(0);
}

// A thread started while an exception's processing holds the library asks for the options in its
// TLS callback, under the loader lock, which the processing then needs (as its dialog loads the
// rich-edit library).
std::atomic<bool> gAskAtThreadStart{false};
std::atomic<int32_t> gAskedAtThreadStart{0};  // 2: refused
HANDLE gAsking = CreateEventA(nullptr, TRUE, FALSE, nullptr);
void NTAPI AskTheOptionsAtThreadStart(PVOID, DWORD reason, PVOID) {
  if (reason != DLL_THREAD_ATTACH || !gAskAtThreadStart.exchange(false)) return;
  SetEvent(gAsking);
  try {
    CurrentEmberLogOptions();
    gAskedAtThreadStart = 1;
  } catch (const std::exception&) {
    gAskedAtThreadStart = 2;
  }
}
__attribute__((section(".CRT$XLF"), used)) PIMAGE_TLS_CALLBACK gAskTheOptions = &AskTheOptionsAtThreadStart;
DWORD WINAPI DoNothing(void*) { return 0; }

TEST_F(ProcessingWin32Test, AskedUnderTheLoaderLockChild) {
  if (std::getenv("KBL_OPTIONS_CHILD") == nullptr) GTEST_SKIP() << "a child half of a test";
  TEmberReportOutput output;
  output.ShowExceptionDialog = [](bool) {
    gAskAtThreadStart = true;
    HANDLE thread = CreateThread(nullptr, 0, &DoNothing, nullptr, 0, nullptr);
    WaitForSingleObject(gAsking, MachineBound(10000));
    const char* loaded = LoadLibraryA("riched20.dll") != nullptr ? "loaded;" : "not loaded;";
    Note((std::string(gAskedAtThreadStart == 2 ? "refused;" : "answered;") + loaded).c_str());
    WaitForSingleObject(thread, MachineBound(10000));
    CloseHandle(thread);
    EmberDialogState().DialogType = 0;
  };
  SetEmberReportOutput(output);
  Process();
  Note("returned;");
}

// CurrentEmberLogOptions never waits for good where the library lock's holder waits for the
// caller: on a thread the module's start work joins (the opens come back and the option it set
// is kept), and in a TLS callback while a processing that holds the lock needs the loader lock
// (the processing comes back and the process ends; the options are refused there).
TEST(ProcessingChild, TheOptionsAskedWhereTheLibraryLocksHolderWaitsForTheCallerComeBack) {
  const struct {
    const char* Test;
    const char* Notes;
  } cases[] = {{"JoinedByTheStartWorkChild", "set;opened;joined@example.org;set;opened;joined@example.org;"},
               {"AskedUnderTheLoaderLockChild", "refused;loaded;returned;"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Test);
    const TNotedRun run = RunNotedChild(c.Test, {{"KBL_OPTIONS_CHILD", "1"}}, 40000);
    EXPECT_TRUE(run.Run.Ended) << "the caller and the lock's holder wait for each other";
    EXPECT_EQ(run.Run.ExitCode, 0u);
    EXPECT_EQ(run.Notes, c.Notes);
  }
}

// --- Probes: the library's open and close when a thread stops for good inside them

const char* Attachment() { return EmberLibrary().LibraryOn != 0 ? "attached;" : "detached;"; }

// A host thread that opens, or closes, a plug-in.
DWORD WINAPI OpenOnAThread(void*) {
  StartExceptionReporting();
  return 0;
}
DWORD WINAPI CloseOnAThread(void*) {
  StopExceptionReporting();
  return 0;
}

// Kills `thread` (as a host's watchdog ends a call that does not come back) once it ran `ms`.
void KillAfter(HANDLE thread, DWORD ms) {
  Sleep(ms);
  KillThread(thread, 9);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

// The child half: a host thread's exception shows its dialog (on the worker); the main thread
// closes the last plug-in meanwhile, and 300 ms later the dialog's code opens a plug-in.
TEST_F(ProcessingWin32Test, OpenOnTheWorkerDuringTheCloseChild) {
  if (std::getenv("KBL_WORKER_OPENS") == nullptr) GTEST_SKIP() << "a child half of a test";
  static HANDLE showing = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  static HANDLE closing = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  TEmberReportOutput output = EmberReportOutput();
  output.ShowExceptionDialog = [](bool) {
    SetEvent(showing);
    WaitForSingleObject(closing, MachineBound(10000));
    Sleep(300);
    StartExceptionReporting();  // the dialog's code opens a plug-in
    Note("opened;");
    EmberDialogState().DialogType = 0;
  };
  SetEmberReportOutput(output);
  std::thread host([] { ProcessOnHeap("shown"); });
  ASSERT_EQ(WaitForSingleObject(showing, MachineBound(30000)), WAIT_OBJECT_0);
  SetEvent(closing);
  StopExceptionReporting();
  Note("closed;");
  host.join();
  Note(Attachment());
  StopExceptionReporting();  // the plug-in the dialog opened
  Note(Attachment());
  ExitProcess(0);
}

// An open made in a processing's code on its worker while another thread's last close waits for
// that processing neither waits for the close nor is undone by it.
TEST(ProcessingChild, AnOpenOnTheWorkerDuringTheLastCloseComesUp) {
  const TNotedRun run = RunNotedChild("OpenOnTheWorkerDuringTheCloseChild", {{"KBL_WORKER_OPENS", "1"}}, 40000);
  EXPECT_TRUE(run.Run.Ended) << "the close, the worker and its faulting thread wait for each other";
  EXPECT_EQ(run.Run.ExitCode, 0u);
  EXPECT_EQ(run.Notes, "opened;closed;attached;detached;");
}

// The child half: the last close waits behind a processing whose handler takes 2 s
// (KBL_CLOSE_BEHIND "processing"), behind a background send held 3 s ("send"), or behind one
// whose handler never returns ("hung send"); its thread is killed 500 ms in. KBL_THEN "open": the
// host then opens a plug-in, it fails and the host closes it; "held": the host opened a plug-in
// before the kill and closes it after; "nothing": nothing more is called. Notes whether the
// library is attached once the processing or the send is over (or given up), and whether the
// exception after the kill was logged.
TEST_F(ProcessingWin32Test, CloseKilledChild) {
  const char* behind = std::getenv("KBL_CLOSE_BEHIND");
  if (behind == nullptr) GTEST_SKIP() << "a child half of a test";
  const std::string then = std::getenv("KBL_THEN");
  static HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  static DWORD hold = std::string(behind) == "hung send" ? INFINITE : 3000;
  std::thread holder;
  if (std::string(behind) != "processing") {
    SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(std::getenv("KBL_CLOSE_PORT"))));
    EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
      if (action != 4 || WaitForSingleObject(inside, 0) == WAIT_OBJECT_0) return;
      SetEvent(inside);
      Sleep(hold);
    };
    Process(0, "held send");
  } else {
    EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord&, uint8_t&) {
      if (WaitForSingleObject(inside, 0) == WAIT_OBJECT_0) return;
      SetEvent(inside);
      Sleep(2000);
    };
    holder = std::thread([] { ProcessOnHeap("holder"); });
  }
  ASSERT_EQ(WaitForSingleObject(inside, MachineBound(30000)), WAIT_OBJECT_0);
  HANDLE closer = CreateThread(nullptr, 0, &CloseOnAThread, nullptr, 0, nullptr);
  if (then == "held") {
    Sleep(300);
    StartExceptionReporting();  // during the close: counted at once
  }
  KillAfter(closer, then == "held" ? 200 : 500);
  const TFailAfter bound(MachineBound(20000), "an open or close after a close killed does not come back");
  if (then == "open") {
    StartExceptionReporting();
    ProcessOnHeap("after the kill");
  }
  if (then != "nothing") StopExceptionReporting();
  if (holder.joinable()) holder.join();
  for (DWORD start = GetTickCount(); EmberLibrary().LibraryOn != 0 && GetTickCount() - start < MachineBound(8000);)
    Sleep(50);
  Note(Attachment());
  if (then == "open") Note(LogHolds("after the kill") ? "logged;" : "lost;");
  ExitProcess(0);
}

// A last close whose thread is killed inside is finished by whoever comes next: the host's next
// open or close, or, when nothing more is called, the processing or the send it waited for, as it
// ends. The library is detached once no plug-in is open.
TEST(ProcessingChild, ALastCloseKilledInsideIsFinishedByWhoComesNext) {
  const struct {
    const char* Behind;
    const char* Then;
    const char* Notes;
  } cases[] = {{"processing", "open", "detached;logged;"}, {"processing", "nothing", "detached;"},
               {"send", "open", "detached;logged;"},       {"send", "nothing", "detached;"},
               {"hung send", "held", "detached;"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Behind) + ", then " + c.Then);
    testnet::SmtpServer server;
    const TNotedRun run = RunNotedChild(
        "CloseKilledChild",
        {{"KBL_CLOSE_BEHIND", c.Behind}, {"KBL_THEN", c.Then}, {"KBL_CLOSE_PORT", std::to_string(server.Port())}});
    EXPECT_TRUE(run.Run.Ended);
    EXPECT_EQ(run.Run.ExitCode, 0u);
    EXPECT_EQ(run.Notes, c.Notes);
  }
  std::remove(LogName().c_str());
}

// The child half: a host thread is killed while a step of the library's attachment, detachment or
// send waits inside for the memory manager (another thread holds its lock): KBL_KILLED_IN "area"
// (an options area kept open), "watch" (the freeze watch started), "send" (a background send
// started) or "hook" (a procedure hooked). Then the step that takes the same lock (the area kept
// again, the watch stopped, the sends closed, the hook undone) runs on another thread; notes
// whether it came back.
__attribute__((noinline)) int HookedProbe(int value) { return value * 3 + 1; }
int HookedProbeReplacement(int value) { return value; }
void (*gKilledStep)() = nullptr;
HANDLE gStepReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
HANDLE gStepGo = CreateEventA(nullptr, TRUE, FALSE, nullptr);
DWORD WINAPI RunKilledStep(void*) {
  // The thread's own start-up (its records, its variables) is over before the step begins.
  EmberLibrary().LibraryLock.HoldCount();
  SetEvent(gStepReady);
  WaitForSingleObject(gStepGo, INFINITE);
  gKilledStep();
  return 0;
}

TEST_F(ProcessingWin32Test, StepKilledInsideChild) {
  const char* where = std::getenv("KBL_KILLED_IN");
  if (where == nullptr) GTEST_SKIP() << "a child half of a test";
  static const uintptr_t other = reinterpret_cast<uintptr_t>(&RunKilledStep);  // a module without an area yet
  void (*after)() = nullptr;
  if (std::string(where) == "area") {
    gKilledStep = [] { ResetModuleSharedMemory(other); };
    after = [] { ResetModuleSharedMemory(other + 1); };
  } else if (std::string(where) == "watch") {
    EmberLibrary().CurrentOptions->SetFreezeActivate(1);
    StopFreezeThread();
    gKilledStep = [] { StartFreezeThread(); };
    after = [] { StopFreezeThread(); };
  } else if (std::string(where) == "hook") {
    gKilledStep = [] {
      HookProcedure(reinterpret_cast<void*>(&HookedProbe), reinterpret_cast<void*>(&HookedProbeReplacement), "probe");
    };
    after = [] { UnhookProcedure(reinterpret_cast<void*>(&HookedProbe)); };
  } else {
    gKilledStep = [] { StartSendThread(true); };
    after = [] { CloseSendThreads(); };
  }
  HANDLE killed = CreateThread(nullptr, 0, &RunKilledStep, nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(gStepReady, MachineBound(30000)), WAIT_OBJECT_0);
  kbl_detail::RunHoldingMemoryManagerLock(
      [](void* thread) {
        SetEvent(gStepGo);
        Sleep(300);  // into the step's first allocation, which waits for this lock
        KillThread(thread, 9);
        WaitForSingleObject(thread, INFINITE);
      },
      killed);
  static void (*afterStep)() = after;
  std::thread([] {
    const TFailAfter bound(MachineBound(5000), "a step waits for a lock a thread killed inside another held");
    afterStep();
  }).join();
  Note("back;");
  ExitProcess(0);
}

// A thread killed inside one of those steps while it allocates holds no lock of the library's
// afterwards: the lock is held only around what cannot wait, or is one the next holder takes over.
TEST(ProcessingChild, AStepKilledInsideAnAllocationLeavesNoLockHeld) {
  for (const char* where : {"area", "watch", "send", "hook"}) {
    SCOPED_TRACE(where);
    const TNotedRun run = RunNotedChild("StepKilledInsideChild", {{"KBL_KILLED_IN", where}});
    EXPECT_TRUE(run.Run.Ended);
    EXPECT_EQ(run.Run.ExitCode, 0u);
    EXPECT_EQ(run.Notes, "back;");
  }
}

// The child half: no plug-in is open; a host thread opens the first one and its attachment's
// first allocation waits for the memory manager's lock, which another thread holds; it is killed
// there after 300 ms. Then another thread opens a plug-in, it fails, and the host closes it.
HANDLE gKilledOpener = nullptr;

TEST_F(ProcessingWin32Test, AttachKilledChild) {
  if (std::getenv("KBL_ATTACH_KILLED") == nullptr) GTEST_SKIP() << "a child half of a test";
  StopExceptionReporting();  // the fixture's plug-in
  gKilledOpener = CreateThread(nullptr, 0, &OpenOnAThread, nullptr, CREATE_SUSPENDED, nullptr);
  kbl_detail::RunHoldingMemoryManagerLock([](void*) {
    ResumeThread(gKilledOpener);
    Sleep(300);
    KillThread(gKilledOpener, 9);
    WaitForSingleObject(gKilledOpener, INFINITE);
  }, nullptr);
  std::thread([] {
    const TFailAfter bound(MachineBound(10000),
                           "an open or close after an open killed inside its attachment does not come back");
    StartExceptionReporting();
    ProcessOnHeap("after the open killed");
    StopExceptionReporting();
  }).join();
  Note(Attachment());
  Note(LogHolds("after the open killed") ? "logged;" : "lost;");
  ExitProcess(0);
}

// An open killed inside the attachment it makes for the first plug-in (its first allocation
// waited for a lock another thread held) leaves no open or close waiting: the next open attaches
// the library, and the last close detaches it.
TEST(ProcessingChild, AnOpenKilledInsideItsAttachmentLeavesNoOneWaiting) {
  const TNotedRun run = RunNotedChild("AttachKilledChild", {{"KBL_ATTACH_KILLED", "1"}});
  EXPECT_TRUE(run.Run.Ended);
  EXPECT_EQ(run.Run.ExitCode, 0u);
  EXPECT_EQ(run.Notes, "detached;logged;");
  std::remove(LogName().c_str());
}

// The child half: no plug-in is open; a host thread opens the first one and is killed inside the
// module's work, while another thread's exception waits for the library lock. KBL_WORK_KILLED
// "frozen": the work had the main window stop answering, and the thread is killed as the freeze
// watch begins its report; "frozen, another open": once that report waits for the library lock,
// and another host thread's open waits for the work meanwhile. Then the host opens a plug-in,
// processes an exception and closes the plug-in.
TEST_F(ProcessingWin32Test, WorkKilledChild) {
  const char* how = std::getenv("KBL_WORK_KILLED");
  if (how == nullptr) GTEST_SKIP() << "a child half of a test";
  static const bool frozen = std::string(how) != "alone";
  static const bool anotherOpen = std::string(how) == "frozen, another open";
  StopExceptionReporting();  // the fixture's plug-in
  static HANDLE working = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  static HWND window =
      frozen ? CreateWindowA("STATIC", "Frozen", WS_OVERLAPPED, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr)
             : nullptr;
  static std::atomic<int32_t> rounds{0};  // of the freeze watch
  TEmberReportOutput output = EmberReportOutput();
  output.ShowExceptionDialog = [](bool) {
    std::string notes;
    NoteProcessed(notes);
    Note(notes.c_str());
  };
  SetEmberReportOutput(output);
  SetReportingModuleWork(
      [] {
        static std::atomic<int32_t> runs{0};
        if (runs++ > 0) return;  // the next open's
        if (frozen) {
          SetEmberMainWindowFinder([](uint32_t) {
            ++rounds;
            return reinterpret_cast<uintptr_t>(window);
          });
          EmberLibrary().CurrentOptions->SetFreezeTimeout(1);
          EmberLibrary().CurrentOptions->SetFreezeActivate(1);
        }
        HandOverBesideTheWork();
        SetEvent(working);
        Sleep(INFINITE);
      },
      nullptr);
  HANDLE opener = CreateThread(nullptr, 0, &OpenOnAThread, nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(working, MachineBound(30000)), WAIT_OBJECT_0);
  static HANDLE second = anotherOpen ? CreateThread(nullptr, 0, &OpenOnAThread, nullptr, 0, nullptr) : nullptr;
  // A second of silence is 20 rounds of 50 ms; the report then reads the main thread's stack.
  for (const DWORD start = GetTickCount(); frozen && rounds < 20 && GetTickCount() - start < MachineBound(30000);)
    Sleep(10);
  {
    // Its thread made before the kill, and the next after the attachment was undone: a thread made
    // meanwhile would meet the threads list as the undoing frees it.
    const TFailAfter bound(MachineBound(15000), "the exception that waited, or the next open, does not come back");
    KillAfter(opener, !frozen ? 0 : anotherOpen ? 3000 : 100);
    SetReportingModuleWork(nullptr, nullptr);
    gRaiser.join();
    if (second != nullptr) WaitForSingleObject(second, INFINITE);
  }
  std::thread([] {
    StartExceptionReporting();
    Note(Attachment());
    ProcessOnHeap("after the work killed");
    StopExceptionReporting();
  }).join();
  ExitProcess(0);
}

// An open killed inside the module's work leaves nothing processed with the library it half
// attached: the next holder of the library lock, an exception handed over meanwhile, undoes the
// attachment first, or hands the lock to another open that does; a freeze report under way finds
// the library detached, and reads nothing of it that the undoing frees. The next open attaches the
// library and processes.
TEST(ProcessingChild, AnOpenKilledInsideTheModulesWorkHasNothingProcessedHalfAttached) {
  for (const char* how : {"alone", "frozen", "frozen, another open"}) {
    SCOPED_TRACE(how);
    const TNotedRun run = RunNotedChild("WorkKilledChild", {{"KBL_WORK_KILLED", how}});
    EXPECT_TRUE(run.Run.Ended);
    EXPECT_EQ(run.Run.ExitCode, 0u);
    EXPECT_EQ(run.Notes, "attached;processed after the work killed;");
  }
  std::remove(LogName().c_str());
}

// The child half: the module's start work asks for the options and its open is killed inside it;
// the work is taken out and a plug-in opened again (which undoes the half-done attachment first).
// While an exception's dialog then holds the library, another thread asks for the options: notes
// whether it was answered before the dialog ended, and then.
std::atomic<int32_t> gAskedBesideTheDialog{0};  // 1: answered, 2: refused
DWORD WINAPI AskTheOptions(void*) {
  try {
    CurrentEmberLogOptions();
    gAskedBesideTheDialog = 1;
  } catch (const std::exception&) {
    gAskedBesideTheDialog = 2;
  }
  return 0;
}

TEST_F(ProcessingWin32Test, OptionsAfterTheStartWorkKilledChild) {
  if (std::getenv("KBL_OPTIONS_KILLED") == nullptr) GTEST_SKIP() << "a child half of a test";
  StopExceptionReporting();  // the fixture's plug-in
  static HANDLE working = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetReportingModuleWork(
      [] {
        CurrentEmberLogOptions();
        SetEvent(working);
        Sleep(INFINITE);
      },
      nullptr);
  HANDLE opener = CreateThread(nullptr, 0, &OpenOnAThread, nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(working, MachineBound(30000)), WAIT_OBJECT_0);
  KillAfter(opener, 100);
  SetReportingModuleWork(nullptr, nullptr);
  StartExceptionReporting();
  static HANDLE asker = nullptr;
  TEmberReportOutput output = EmberReportOutput();
  output.ShowExceptionDialog = [](bool) {
    asker = CreateThread(nullptr, 0, &AskTheOptions, nullptr, 0, nullptr);
    Note(WaitForSingleObject(asker, MachineBound(2000)) == WAIT_OBJECT_0 ? "answered beside the processing;"
                                                                           : "waited;");
    EmberDialogState().DialogType = 0;
  };
  SetEmberReportOutput(output);
  Process(0, "holding the library");
  WaitForSingleObject(asker, MachineBound(30000));
  Note(gAskedBesideTheDialog == 1 ? "answered;" : "refused;");
  StopExceptionReporting();
  ExitProcess(0);
}

// A start work killed inside leaves the module's options to the library lock again: once the
// attachment it left is undone and the library attached anew, a thread asking while an
// exception's processing holds the library waits for it (the module's entry is not made beside
// the processing, nor the killed work's, freed with the list, answered).
TEST(ProcessingChild, TheOptionsAfterAStartWorkKilledInsideWaitForTheLibraryLock) {
  const TNotedRun run = RunNotedChild("OptionsAfterTheStartWorkKilledChild", {{"KBL_OPTIONS_KILLED", "1"}});
  EXPECT_TRUE(run.Run.Ended);
  EXPECT_EQ(run.Run.ExitCode, 0u);
  EXPECT_EQ(run.Notes, "waited;answered;");
  std::remove(LogName().c_str());
}

__attribute__((noinline)) char* LeakABlock() { return new char[40]; }

// The child half: the last close's detachment is under way (the leak report's dialog takes 1 s);
// meanwhile a host thread opens a plug-in and is killed while it waits (KBL_IN_DETACH "open
// killed"), or raises an exception ("raise").
TEST_F(ProcessingWin32Test, DuringTheDetachmentChild) {
  const char* what = std::getenv("KBL_IN_DETACH");
  if (what == nullptr) GTEST_SKIP() << "a child half of a test";
  static HANDLE reporting = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  TEmberReportOutput output = EmberReportOutput();
  output.ShowExceptionDialog = [](bool) {
    if (EmberLibrary().LeakReportRunning) {
      SetEvent(reporting);
      Sleep(1000);
    }
    EmberDialogState().DialogType = 0;
  };
  SetEmberReportOutput(output);
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord&, uint8_t&) { Note("processed;"); };
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  LeakABlock();
  static const bool raise = std::string(what) == "raise";
  std::thread host([] {
    if (WaitForSingleObject(reporting, MachineBound(30000)) != WAIT_OBJECT_0) return;
    if (raise) {
      if (ProcessOnHeap("during the detachment") == 1) Note("answered;");
      return;
    }
    KillAfter(CreateThread(nullptr, 0, &OpenOnAThread, nullptr, 0, nullptr),
              300);
  });
  StopExceptionReporting();
  Note("closed;");
  host.join();
  Sleep(500);
  Note(Attachment());
  ExitProcess(0);
}

// While the last close detaches the library, an open killed as it waits for the detachment holds
// nothing afterwards, and an exception raised meanwhile is answered without being processed (the
// library's state is being taken down under it).
TEST(ProcessingChild, WhatComesInDuringTheDetachmentLeavesNothingBehind) {
  const struct {
    const char* What;
    const char* Notes;
  } cases[] = {{"open killed", "closed;detached;"}, {"raise", "answered;closed;detached;"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    const TNotedRun run = RunNotedChild("DuringTheDetachmentChild", {{"KBL_IN_DETACH", c.What}});
    EXPECT_TRUE(run.Run.Ended);
    EXPECT_EQ(run.Run.ExitCode, 0u);
    EXPECT_EQ(run.Notes, c.Notes);
  }
  std::remove(LogName().c_str());
}

// The child half: a filter ends the program for the exception, whose report goes out in the
// background to a server that accepts and never answers (KBL_END_HANG "server"), or whose send's
// before-e-mail handler never returns ("handler"). Notes when the exception was raised.
TEST_F(ProcessingWin32Test, EndAskedChild) {
  const char* hang = std::getenv("KBL_END_HANG");
  if (hang == nullptr) GTEST_SKIP() << "a child half of a test";
  SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(std::getenv("KBL_END_PORT"))));
  TEmberExceptionFilter filter;
  filter.ExceptionClassName = "runtime_error";
  filter.HandlerType = 2;
  filter.ActionType = 1;
  options_->ExceptionsFilters().Add(filter);
  if (std::string(hang) == "handler")
    EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
      if (action == 4) Sleep(INFINITE);
    };
  Note(std::to_string(GetTickCount()).c_str());
  Process(0, "asks the end");
  Sleep(INFINITE);  // the end comes
}

// An end a filter asks for comes within the bound of the end's wait (10 s) from its decision, also
// when the exception's own report is still being sent then.
TEST(ProcessingChild, AnEndAFilterAsksComesWithinTheBound) {
  for (const char* hang : {"server", "handler"}) {
    SCOPED_TRACE(hang);
    testnet::Listener silent([](testnet::Connection& connection) { connection.ReadUntil("\r\nnever\r\n"); });
    testnet::SmtpServer answering;
    const uint16_t port = std::string(hang) == "server" ? silent.Port() : answering.Port();
    std::remove(LogName().c_str());
    const TNotedRun run = RunNotedChild("EndAskedChild", {{"KBL_END_HANG", hang}, {"KBL_END_PORT", std::to_string(port)}});
    const DWORD ended = GetTickCount();
    EXPECT_TRUE(run.Run.Ended);
    EXPECT_EQ(run.Run.ExitCode, 1u);
    ASSERT_FALSE(run.Notes.empty());
    EXPECT_LT(ended - std::stoul(run.Notes), 15000u);
    EXPECT_TRUE(LogHolds("asks the end"));
  }
  std::remove(LogName().c_str());
}

// The child half: four host threads raise exceptions without pause while the main thread closes
// the last plug-in and opens one again, three times; notes the most exceptions processed during
// one close.
TEST_F(ProcessingWin32Test, CloseAmongRaisingThreadsChild) {
  if (std::getenv("KBL_RAISING") == nullptr) GTEST_SKIP() << "a child half of a test";
  static std::atomic<bool> stop{false}, closing{false};
  static std::atomic<int32_t> processed{0};
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord&, uint8_t&) {
    if (closing) ++processed;
  };
  std::vector<std::thread> raising;
  for (int32_t i = 0; i < 4; ++i)
    raising.emplace_back([] {
      while (!stop) ProcessOnHeap("raising");
    });
  Sleep(500);
  int32_t most = 0;
  for (int32_t round = 0; round < 3; ++round) {
    processed = 0;
    closing = true;
    StopExceptionReporting();
    closing = false;
    most = std::max<int32_t>(most, processed);
    StartExceptionReporting();
    Sleep(300);
  }
  stop = true;
  for (std::thread& thread : raising) thread.join();
  Note(std::to_string(most).c_str());
  ExitProcess(0);
}

// The last close waits for the exceptions being processed or waiting when it begins (one per
// thread at most), not behind those that other threads raise while it waits: these are answered
// unprocessed.
TEST(ProcessingChild, TheLastCloseIsNotHeldBackByExceptionsRaisedMeanwhile) {
  const TNotedRun run = RunNotedChild("CloseAmongRaisingThreadsChild", {{"KBL_RAISING", "1"}});
  EXPECT_TRUE(run.Run.Ended);
  ASSERT_FALSE(run.Notes.empty());
  EXPECT_LE(std::stoi(run.Notes), 4);
  std::remove(LogName().c_str());
}

}  // namespace

// --- Opens and closes while the close waits for a send, and on two threads among raising ones

namespace {

// The child half: the last close waits for a background send held 3 s; 500 ms in, a host thread
// opens a plug-in and it fails at once (its handler takes 2 s). Notes the close's return, whether
// that exception was processed and logged, the attachment, and the attachment once that plug-in
// is closed too.
TEST_F(ProcessingWin32Test, OpenDuringTheSendsWaitChild) {
  const char* port = std::getenv("KBL_SENDS_WAIT_PORT");
  if (port == nullptr) GTEST_SKIP() << "a child half of a test";
  static HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  static std::atomic<bool> opened{false};
  SendBySmtpInBackground(static_cast<uint16_t>(std::atoi(port)));
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
    if (action != 4 || WaitForSingleObject(inside, 0) == WAIT_OBJECT_0) return;
    SetEvent(inside);
    Sleep(3000);
  };
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord&, uint8_t&) {
    if (opened) Sleep(2000);
  };
  Process(0, "held send");
  ASSERT_EQ(WaitForSingleObject(inside, MachineBound(30000)), WAIT_OBJECT_0);
  std::thread opener([] {
    Sleep(500);
    StartExceptionReporting();
    opened = true;
    Note(ProcessOnHeap("opened during the close") == 0 ? "processed;" : "unprocessed;");
  });
  StopExceptionReporting();
  Note("closed;");
  opener.join();
  Note(LogHolds("opened during the close") ? "logged;" : "lost;");
  Note(Attachment());
  StopExceptionReporting();
  Note(Attachment());
  ExitProcess(0);
}

// A plug-in opened while the last close waits for the sends keeps the library attached, and its
// exceptions are processed and logged (the close is undone, nothing is reset under them); the
// close comes back without waiting for their processing.
TEST(ProcessingChild, APlugInOpenedDuringTheSendsWaitHasItsExceptionsProcessed) {
  testnet::SmtpServer server;
  const TNotedRun run =
      RunNotedChild("OpenDuringTheSendsWaitChild", {{"KBL_SENDS_WAIT_PORT", std::to_string(server.Port())}});
  EXPECT_TRUE(run.Run.Ended);
  EXPECT_EQ(run.Notes, "closed;processed;logged;attached;detached;");
  std::remove(LogName().c_str());
}

// The child half: four host threads raise exceptions without pause while two host threads each
// open and close a plug-in 40 times. Notes whether each close came back within the sends' bound,
// the attachment after, and whether an exception of a plug-in opened then is logged.
TEST_F(ProcessingWin32Test, OpensAndClosesAmongRaisingThreadsChild) {
  if (std::getenv("KBL_RACING") == nullptr) GTEST_SKIP() << "a child half of a test";
  static std::atomic<bool> stop{false};
  static std::atomic<DWORD> longest{0};
  std::vector<std::thread> raising;
  for (int32_t i = 0; i < 4; ++i)
    raising.emplace_back([] {
      while (!stop) ProcessOnHeap("raising");
    });
  Sleep(300);
  StopExceptionReporting();  // the fixture's hold
  const auto cycles = [] {
    for (DWORD i = 0; i < 40; ++i) {
      StartExceptionReporting();
      Sleep(i % 7);
      const DWORD start = GetTickCount();
      StopExceptionReporting();
      longest = std::max<DWORD>(longest, GetTickCount() - start);
    }
  };
  std::thread first(cycles), second(cycles);
  first.join();
  second.join();
  stop = true;
  for (std::thread& thread : raising) thread.join();
  // A close waits for the exceptions already waiting to be processed, one after another: their
  // time is the machine's, so the bound grows where programs run emulated (a close held behind the
  // raising threads for good still fails it).
  Note(longest < MachineBound(EmberSendWaitLimitMs) ? "closes within the bound;" : "a close too long;");
  Note(Attachment());
  StartExceptionReporting();
  ProcessOnHeap("after the race");
  Note(LogHolds("after the race") ? "logged;" : "lost;");
  StopExceptionReporting();
  Note(Attachment());
  ExitProcess(0);
}

// Opens and closes racing on two threads while others raise leave the library detached once the
// last plug-in is closed, and attachable again; no close waits behind the raising threads.
TEST(ProcessingChild, OpensAndClosesRacingAmongRaisingThreadsEndDetached) {
  const TNotedRun run = RunNotedChild("OpensAndClosesAmongRaisingThreadsChild", {{"KBL_RACING", "1"}}, 120000);
  EXPECT_TRUE(run.Run.Ended);
  EXPECT_EQ(run.Notes, "closes within the bound;detached;logged;detached;");
  std::remove(LogName().c_str());
}

}  // namespace
