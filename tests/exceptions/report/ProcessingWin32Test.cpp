// Processing one exception in a program that may show dialogs (this test is a windows program):
// the filters' handlers and dialog choices, an event that stops the steps, the dialog shown
// again in its other form, the request dialog after the detailed one and the send, as the
// report's hooks see them and the log keeps them; an early stop after a background send frees its
// own call stack; and, in a second process of this program, an end of the program asked for one
// exception acted on in that exception's own processing.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "ChildProcess.h"
#include "exceptions/ECore.h"
#include "exceptions/capture/EmberLogEvents.h"
#include "exceptions/capture/ExceptionLog.h"
#include "exceptions/report/EExceptionProcessing.h"
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
  }
  void TearDown() override {
    EmberGlobalHandlers() = TEmberLogEventHolder();
    options_->ExceptionsFilters().Clear();
    options_->SetEMailSendMode(0);
    StopExceptionReporting();
    SetEmberReportOutput(TEmberReportOutput());
    std::remove(LogName().c_str());
    gCalls = nullptr;
  }
  uint8_t Process(uint8_t raiseKind = 0) {
    std::runtime_error error("processing test");
    return CentralNotify(&error, reinterpret_cast<uintptr_t>(&ReportsInLog), 0, 0, 0, nullptr, nullptr, 0,
                         reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)), raiseKind, 0);
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
};

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

}  // namespace
