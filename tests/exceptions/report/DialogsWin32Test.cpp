// The exception dialogs as the user meets them, under Wine and Xvfb: each dialog runs on a thread
// of its own (as on the library's worker thread) while the test reads its texts and list rows
// back through window messages, clicks its buttons, takes its screenshot and checks what it
// leaves in the dialog state, the options, the report and "EmberLog.ini". This program is a
// windows-subsystem program, so that the library may show dialogs in it.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <utility>

#include "DeliverySmtpServer.h"
#include "DialogTestSupport.h"
#include "Emulation.h"
#include "FailAfter.h"
#include "classlib/Streams.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/capture/EmberLogEvents.h"
#include "exceptions/capture/EmberRecords.h"
#include "exceptions/capture/ExceptionLog.h"
#include "exceptions/report/EBugReport.h"
#include "exceptions/report/EDetailedDialog.h"
#include "exceptions/report/EExceptionDialog.h"
#include "exceptions/report/EListViewItems.h"
#include "exceptions/report/ELogManager.h"
#include "exceptions/report/ERequestDialog.h"
#include "exceptions/report/ERichText.h"
#include "exceptions/report/EScreenshot.h"
#include "exceptions/report/ESendReport.h"
#include "exceptions/report/ESupport.h"
#include "exceptions/report/EWebApplication.h"

namespace {

using namespace dialogtest;

// --- The dialog on its own thread

BOOL CALLBACK CloseDialogWindow(HWND window, LPARAM) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::string(name) == "#32770") PostMessageA(window, WM_CLOSE, 0, 0);
  return TRUE;
}

class DialogThread {
 public:
  explicit DialogThread(std::function<void()> show) : thread_([this, show] {
      id_ = GetCurrentThreadId();
      show();
      done_ = true;
    }) {}
  // A test that gave up waiting for its dialog (on a slow start, say) closes the dialog, made or
  // still to come, before the join: nobody else would.
  ~DialogThread() {
    if (!Done()) WaitFor([this] {
      EnumThreadWindows(id_, CloseDialogWindow, 0);
      return Done();
    });
    Join();
  }
  bool Done() const { return done_; }
  bool WaitDone() { return WaitFor([this] { return Done(); }); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> done_{false};
  std::atomic<DWORD> id_{0};
  std::thread thread_;
};

// --- Recorded boxes and events

std::vector<std::pair<std::string, std::string>> gBoxes;
std::vector<int32_t> gActions;
void RecordBox(const std::string& text, const std::string& caption) { gBoxes.emplace_back(text, caption); }
const TEmberMessageBoxes kBoxes{RecordBox, nullptr, RecordBox};

const char* const kMessage = "Access violation at address 0040100A.";

// A report with a head, the stack of two threads, the process's modules and processes.
__attribute__((noinline)) uint32_t FaultAddress() {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&FaultAddress));
}

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    ForceFolders(GetLibraryFolder());
    DeleteFileA((IncludeTrailingBackslash(GetLibraryFolder()) + EmberDialogIniFile).c_str());
    gBoxes.clear();
    gActions.clear();
    SetLibraryMessageBoxes(&kBoxes);
    TLogEvents events;
    events.ActionNotify = [](int32_t action, bool&) { gActions.push_back(action); };
    SetLogEvents(events);
    options.SetEMailSendMode(2);
    options.SetTerminateOfferCount(3);
    TEmberDialogState& state = EmberDialogState();
    state = TEmberDialogState();
    state.ExceptionMessage = kMessage;
    state.ExceptionCount = 4;
    state.SendAsked = true;
    state.Reshown = false;
    BuildReport();
  }
  void TearDown() override {
    EmberDialogState() = TEmberDialogState();
    TEmberLibraryGlobals& library = EmberLibrary();
    library.CurrentOptions.reset();
    library.ProcessesList.reset();
    library.CurrentException = TEmberExceptionRecord();
    SetLogEvents(TLogEvents());
    SetLibraryMessageBoxes(nullptr);
    EmberGlobalHandlers() = TEmberLogEventHolder();
  }

  void AddEntry(uint32_t thread, uint8_t running, uint8_t first, const char* unit, const char* procedure,
                uint32_t line, uint32_t offset) {
    TEmberStackItem* item = stack.NewItem();
    item->Kind = line ? 4 : 3;
    item->ModuleInfo = GetModuleInfo(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)));
    item->ThreadID = thread;
    item->RunningThread = running;
    item->IsFirst = first;
    item->Address = FaultAddress() + line;
    item->UnitName.Assign(unit);
    item->ClassName.Assign("TEngine");
    item->ProcedureName.Assign(procedure);
    item->Line = line;
    item->LineOffset = offset;
  }

  void BuildReport() {
    RefreshModulesList();
    TEmberLibraryGlobals& library = EmberLibrary();
    library.ProcessesList = std::make_unique<TEmberProcessesList>();
    LoadProcessesInfo(*library.ProcessesList);
    AddEntry(11, 0, 1, "Engine.cpp", "Process", 123, 4);
    AddEntry(11, 0, 0, "Engine.cpp", "Run", 88, 2);
    AddEntry(11, 0, 0, "Host.cpp", "Idle", 0, 0);
    AddEntry(12, 1, 0, "Audio.cpp", "Render", 40, 1);
    AddEntry(12, 1, 0, "Audio.cpp", "Mix", 41, 0);
    TEmberRegisters registers{1, 2, 3, 4, 5, 6, 7, FaultAddress()};
    TEmberBugReportInput input;
    input.Options = &options;
    input.ExceptionAddress = FaultAddress();
    input.Context = &registers;
    input.ReportID = "1A2B";
    input.CallStack = &stack;
    input.Modules = &EmberModulesList();
    input.Processes = library.ProcessesList.get();
    options.SetLogOptions(0x30);
    BugReportText(input);
    library.CurrentException.CallStack = &stack;
    library.CurrentException.ModulesList = &EmberModulesList();
  }

  static DialogThread* Show(uint8_t type) {
    EmberDialogState().DialogType = type;
    return new DialogThread([] { ShowExceptionDialog(false); });
  }

  static TEmberModuleOptions& InstallOptions() {
    EmberLibrary().CurrentOptions = std::make_unique<TEmberModuleOptionsEx>("DialogsTest.exe", 0);
    return *EmberLibrary().CurrentOptions;
  }
  TEmberModuleOptions& options = InstallOptions();
  TEmberStackList stack;
};

}  // namespace

// --- The classic dialog

TEST_F(Dialogs, ClassicDialogTextsEmailAndRestartChoice) {
  options.SetTerminateAction(1);
  options.SetLogOptions(0x32);
  options.SetReproduceText("steps so far");
  WriteIniString(EmberDialogIniFile, "User", "Email", "old@example.org");
  ReportPieces().LastReportText = ReportPieces().ReportText;
  std::unique_ptr<DialogThread> run(Show(EmberDialogClassic));
  HWND dialog = WaitForDialog("Error occurred");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(Item(dialog, 102), "The application has encountered a problem. We are sorry for the inconvenience.");
  EXPECT_EQ(Item(dialog, 103), kMessage);
  EXPECT_EQ(Item(dialog, 104), "Terminate application.");
  EXPECT_EQ(Item(dialog, 105), "Please tell us about this problem.");
  EXPECT_EQ(Item(dialog, 107), "To see what data the error report contains, ");
  EXPECT_EQ(Item(dialog, 108), "What were you doing when the problem happened (optional)?");
  EXPECT_EQ(Item(dialog, 109), "steps so far");
  EXPECT_EQ(Item(dialog, 110), "Email address (optional): ");
  EXPECT_EQ(Item(dialog, 111), "old@example.org");
  EXPECT_EQ(Item(dialog, 1000), "&Send Error Report");
  EXPECT_EQ(Item(dialog, 1001), "&Don't Send");
  for (int id : {104, 105, 106, 107, 108, 109, 110, 111, 1000, 1001}) EXPECT_TRUE(Shown(dialog, id)) << id;
  EXPECT_FALSE(Shown(dialog, 1002));
  Screenshot(dialog, "classic");

  // An address without "@" keeps the dialog open with "Invalid email.".
  SetItem(dialog, 111, "not-an-address");
  Click(dialog, 1000);
  ASSERT_EQ(gBoxes.size(), 1u);
  EXPECT_EQ(gBoxes[0], std::make_pair(std::string("Invalid email."), std::string("Error.")));
  EXPECT_TRUE(IsWindow(dialog));

  SetItem(dialog, 111, " new@example.org ");
  SetItem(dialog, 109, "  clicked the knob  ");
  Click(dialog, 104);
  Click(dialog, 1000);
  ASSERT_TRUE(run->WaitDone());
  const TEmberDialogState& state = EmberDialogState();
  EXPECT_TRUE(state.SendAsked);
  EXPECT_TRUE(state.RestartRequested);
  EXPECT_EQ(state.DialogType, EmberDialogNone);
  EXPECT_EQ(gActions, (std::vector<int32_t>{8}));
  EXPECT_EQ(options.UserEMail(), "new@example.org");
  EXPECT_EQ(options.ReproduceText(), "clicked the knob");
  EXPECT_EQ(ReadIniString(EmberDialogIniFile, "User", "Email"), "new@example.org");
  EXPECT_NE(ReportPieces().LastReportText.find(" : new@example.org\r\n"), std::string::npos);
}

TEST_F(Dialogs, ClassicDialogWithoutASendMethodOffersOnlyOk) {
  options.SetEMailSendMode(0);
  options.SetTerminateAction(1);
  EmberDialogState().ExceptionCount = 3;
  std::unique_ptr<DialogThread> run(Show(EmberDialogClassic));
  HWND dialog = WaitForDialog("Error occurred");
  ASSERT_NE(dialog, nullptr);
  EXPECT_FALSE(Shown(dialog, 1000));
  EXPECT_FALSE(Shown(dialog, 104));  // the count is at the limit, not above
  EXPECT_FALSE(Shown(dialog, 111));
  EXPECT_EQ(Item(dialog, 1001), "&OK");
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
  EXPECT_EQ(info.hwndFocus, GetDlgItem(dialog, 1001));
  Screenshot(dialog, "classic-ok-only");
  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(run->WaitDone());
  EXPECT_FALSE(EmberDialogState().SendAsked);
  EXPECT_TRUE(EmberDialogState().SendCancelled);
  EXPECT_FALSE(EmberDialogState().RestartRequested);
}

TEST_F(Dialogs, ClassicLinkLeadsToTheDetailedDialog) {
  std::unique_ptr<DialogThread> run(Show(EmberDialogClassic));
  HWND dialog = WaitForDialog("Error occurred");
  ASSERT_NE(dialog, nullptr);
  // The link is the blue text of the dialog: release the mouse on it.
  RECT client;
  GetClientRect(dialog, &client);
  MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Capture capture = CaptureScreen(client);
  POINT link{-1, -1};
  for (int y = 60; y < capture.height && link.x < 0; ++y)
    for (int x = 0; x < capture.width; ++x)
      if (capture.At(x, y) == RGB(0, 0, 255)) {
        link = POINT{x, y};
        break;
      }
  ASSERT_GE(link.x, 0) << "no link drawn";
  PostMessageA(dialog, WM_LBUTTONUP, 0, MAKELPARAM(link.x, link.y));
  ASSERT_TRUE(run->WaitDone());
  EXPECT_EQ(EmberDialogState().DialogType, EmberDialogDetailed);
  // The processing shows the other form next.
  std::unique_ptr<DialogThread> detailed(new DialogThread([] { ShowExceptionDialog(false); }));
  HWND next = WaitForDialog("Error occurred");
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(Item(next, 102), "&OK");
  PostMessageA(next, WM_COMMAND, 102, 0);
  ASSERT_TRUE(detailed->WaitDone());
}

TEST_F(Dialogs, AutoCloseCountsTicksAndInputStartsAgain) {
  options.SetAutoCloseTimeout(1000);
  std::unique_ptr<DialogThread> run(Show(EmberDialogClassic));
  HWND dialog = WaitForDialog("Error occurred");
  ASSERT_NE(dialog, nullptr);
  auto ticks = [dialog](int count) {
    for (int i = 0; i < count; ++i) SendMessageA(dialog, WM_TIMER, 2, 0);
  };
  ticks(990);
  EXPECT_TRUE(IsWindow(dialog));
  SendMessageA(dialog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 300));
  ticks(990);
  EXPECT_TRUE(IsWindow(dialog));
  ticks(10);
  ASSERT_TRUE(run->WaitDone());
  EXPECT_EQ(EmberDialogState().DialogType, EmberDialogNone);
}

TEST_F(Dialogs, AFailingHandlerLeavesTheDialogUsable) {
  options.SetDialogFlags(static_cast<uint16_t>(options.DialogFlags() | 0x200));
  EmberGlobalHandlers().OnCustomButtonClick = [](TEmberExceptionRecord&, uint8_t&) {
    throw std::runtime_error("handler failed");
  };
  std::unique_ptr<DialogThread> run(Show(EmberDialogClassic));
  HWND dialog = WaitForDialog("Error occurred");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(Item(dialog, 1002), "&Help");
  Click(dialog, 1002);
  EXPECT_TRUE(IsWindow(dialog));
  Click(dialog, 1001);
  ASSERT_TRUE(run->WaitDone());
}

TEST_F(Dialogs, ADialogThatCannotBeMadeFallsBackToTheLog) {
  ReportPieces().LastReportText = ReportPieces().ReportText;
  SetDialogResourceModule(reinterpret_cast<uintptr_t>(GetModuleHandleA("kernel32.dll")));
  EmberDialogState().DialogType = EmberDialogClassic;
  ShowExceptionDialog(false);
  SetDialogResourceModule(0);
  const TEmberDialogState& state = EmberDialogState();
  EXPECT_TRUE(state.DialogFailed);
  EXPECT_EQ(state.DialogType, EmberDialogNone);
  EXPECT_EQ(GetLastLibraryErrorCode(), eeShowError);
  EXPECT_EQ(GetLastLibraryErrorMessage(), "Cannot show the DialogBox window.");
  ASSERT_EQ(gBoxes.size(), 1u);
  EXPECT_EQ(gBoxes[0], std::make_pair(std::string(kMessage), std::string("Error occurred")));
  EXPECT_NE(ReportPieces().LastReportText.find(" : Cannot show the DialogBox window.\r\n"), std::string::npos);
}

// --- The detailed dialog

namespace {

HWND Page(HWND dialog) { return FindWindowExA(GetDlgItem(dialog, 1000), nullptr, "#32770", nullptr); }

std::vector<std::string> TabLabels(HWND tabs) {
  std::vector<std::string> labels;
  int count = static_cast<int>(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    char text[64] = {};
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(tabs, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
    labels.push_back(text);
  }
  return labels;
}

// Clicks tab `index` and waits for its page.
HWND OpenTab(HWND dialog, int index, const std::string& caption) {
  HWND tabs = GetDlgItem(dialog, 1000);
  RECT rect{};
  SendMessageA(tabs, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rect));
  ClickAt(tabs, (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  HWND page = nullptr;
  WaitFor([&] { return (page = Page(dialog)) && Item(page, 102) == caption; });
  return page;
}

}  // namespace

TEST_F(Dialogs, DetailedDialogPagesRowsAndChoices) {
  options.SetSendOptions(0x51);
  options.SetSupportURL("http://127.0.0.1/support");
  EmberDialogState().ScreenshotAsked = true;
  std::unique_ptr<DialogThread> run(Show(EmberDialogDetailed));
  HWND dialog = WaitForDialog("Error occurred");
  ASSERT_NE(dialog, nullptr);
  // Compact: the message, the buttons and the choices.
  EXPECT_EQ(Item(dialog, 101), kMessage);
  EXPECT_FALSE(Shown(dialog, 1000));
  EXPECT_EQ(Item(dialog, 102), "&OK");
  EXPECT_EQ(Item(dialog, 103), "&Restart");
  EXPECT_EQ(Item(dialog, 104), "&Details >>");
  EXPECT_EQ(Item(dialog, 3000), "&Send this error via Internet");
  EXPECT_EQ(Item(dialog, 4000), "&Attach a Screenshot image");
  EXPECT_EQ(Item(dialog, 5000), "&Copy to Clipboard");
  EXPECT_TRUE(Checked(dialog, 3000));
  EXPECT_TRUE(Checked(dialog, 4000));
  EXPECT_FALSE(Checked(dialog, 5000));
  Screenshot(dialog, "detailed-compact");
  Click(dialog, 3000);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 4000)));
  Click(dialog, 3000);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, 4000)));

  // Expanded: the pages of every tab.
  Click(dialog, 104);
  EXPECT_EQ(Item(dialog, 104), "<< &Details");
  EXPECT_EQ(Item(dialog, 101), "An error has occurred during program execution.\r\n"
                               "Please read the following information for further details.");
  ASSERT_TRUE(WaitFor([&] { return Shown(dialog, 1000); }));
  EXPECT_EQ(TabLabels(GetDlgItem(dialog, 1000)),
            (std::vector<std::string>{"General", "Call Stack", "Modules", "Processes", "Assembler", "CPU"}));
  HWND page = Page(dialog);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(Item(page, 102), "General Information");
  EXPECT_NE(Item(page, 103).find("Exception:"), std::string::npos);
  Screenshot(dialog, "detailed-general");

  page = OpenTab(dialog, 1, "Call Stack Information");
  ASSERT_NE(page, nullptr);
  HWND list = GetDlgItem(page, 103);
  // Two blocks: a caption row, the entries, a blank row between them.
  ASSERT_EQ(ListCount(list), 8);
  EXPECT_EQ(ListText(list, 1, 2), "Engine.cpp");
  EXPECT_EQ(ListText(list, 1, 4), "Process");
  EXPECT_EQ(ListText(list, 1, 5), "123[4]");
  EXPECT_EQ(ListText(list, 3, 5), "");
  EXPECT_EQ(ListText(list, 4, 0), "");
  EXPECT_EQ(ListText(list, 6, 4), "Render");
  Screenshot(dialog, "detailed-callstack");
  RECT row{};
  row.left = LVIR_BOUNDS;
  SendMessageA(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
  ClickAt(list, row.left + 200, row.top + 6);  // beside the box: nothing changes
  ClickAt(list, row.left + 6, row.top + 6);    // on the box: the block collapses
  EXPECT_TRUE(WaitFor([&] { return ListCount(list) == 5; }));
  ClickAt(list, row.left + 6, row.top + 6);
  EXPECT_TRUE(WaitFor([&] { return ListCount(list) == 8; }));
  EXPECT_EQ(ListText(list, 2, 4), "Run");

  // Activating a line sends its source location to the development environment's mailslot.
  HANDLE slot = CreateMailslotA("\\\\.\\mailslot\\EmberLog0", 0, 5000, nullptr);
  ASSERT_NE(slot, INVALID_HANDLE_VALUE);
  LVITEMA state{};
  state.stateMask = state.state = LVIS_FOCUSED | LVIS_SELECTED;
  SendMessageA(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
  SendMessageA(list, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&(row = RECT{LVIR_BOUNDS, 0, 0, 0})));
  PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(row.left + 100, (row.top + row.bottom) / 2));
  uint8_t message[400] = {};
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(slot, message, sizeof message, &read, nullptr));
  CloseHandle(slot);
  ASSERT_EQ(read, 376u);
  EXPECT_STREQ(reinterpret_cast<char*>(message + 90), "Engine.cpp");
  EXPECT_STREQ(reinterpret_cast<char*>(message + 180), "TEngine");
  EXPECT_STREQ(reinterpret_cast<char*>(message + 270), "Process");
  EXPECT_EQ(*reinterpret_cast<int32_t*>(message + 360), 123);
  EXPECT_EQ(*reinterpret_cast<int32_t*>(message + 364), 4);

  page = OpenTab(dialog, 2, "Modules Information");
  ASSERT_NE(page, nullptr);
  list = GetDlgItem(page, 103);
  EXPECT_EQ(ListCount(list), EmberModulesList().Count());
  Screenshot(dialog, "detailed-modules");
  page = OpenTab(dialog, 3, "Processes Information");
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(ListCount(GetDlgItem(page, 103)), EmberLibrary().ProcessesList->Count());
  page = OpenTab(dialog, 4, "Assembler Information");
  ASSERT_NE(page, nullptr);
  Screenshot(dialog, "detailed-assembler");
  page = OpenTab(dialog, 5, "CPU Information");
  ASSERT_NE(page, nullptr);
  EXPECT_NE(Item(page, 103).find("EIP: "), std::string::npos);
  Screenshot(dialog, "detailed-cpu");

  // Moved, then closed with OK: the ticked boxes are kept and the place is remembered.
  SetWindowPos(dialog, nullptr, 50, 40, 700, 480, SWP_NOZORDER);
  Click(dialog, 3000);
  PostMessageA(dialog, WM_COMMAND, 102, 0);
  ASSERT_TRUE(run->WaitDone());
  EXPECT_FALSE(EmberDialogState().SendAsked);
  EXPECT_TRUE(EmberDialogState().ScreenshotAsked);
  EXPECT_FALSE(EmberDialogState().CopyToClipboard);
  EXPECT_EQ(options.DialogFlags() & 0x03, 0x02);
  EXPECT_EQ(ReadIniString(EmberDialogIniFile, "Coordinates", "Left"), "50");
  EXPECT_EQ(ReadIniString(EmberDialogIniFile, "Coordinates", "Top"), "40");
  EXPECT_EQ(ReadIniString(EmberDialogIniFile, "Coordinates", "Width"), "700");
  EXPECT_EQ(ReadIniString(EmberDialogIniFile, "Coordinates", "WindowsState"), "1");

  // Shown again expanded, it opens where it was left.
  options.SetDialogFlags(static_cast<uint16_t>(options.DialogFlags() | 0x10));
  std::unique_ptr<DialogThread> again(Show(EmberDialogDetailed));
  HWND reopened = WaitForDialog("Error occurred");
  ASSERT_NE(reopened, nullptr);
  RECT rect;
  GetWindowRect(reopened, &rect);
  EXPECT_EQ(rect.left, 50);
  EXPECT_EQ(rect.top, 40);
  PostMessageA(reopened, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(again->WaitDone());
}

TEST_F(Dialogs, DetailedDialogWithoutModulesOpensCentredOnItsCpuTab) {
  options.SetLogOptions(0x20);
  options.SetFirstDialogTab(EmberPageCPU);
  options.SetDialogFlags(static_cast<uint16_t>(options.DialogFlags() | 0x10));
  WriteIniString(EmberDialogIniFile, "Coordinates", "Left", "-500");
  WriteIniString(EmberDialogIniFile, "Coordinates", "Top", "x");
  std::unique_ptr<DialogThread> run(Show(EmberDialogDetailed));
  HWND dialog = WaitForDialog("Error occurred");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(TabLabels(GetDlgItem(dialog, 1000)), (std::vector<std::string>{"General", "Call Stack", "Assembler", "CPU"}));
  EXPECT_EQ(SendDlgItemMessageA(dialog, 1000, TCM_GETCURSEL, 0, 0), 3);
  HWND page = Page(dialog);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(Item(page, 102), "CPU Information");
  // The stored place lies outside the work area: the dialog stands in its middle.
  RECT rect;
  GetWindowRect(dialog, &rect);
  TEmberRect area = GetWindowWorkArea(reinterpret_cast<uintptr_t>(dialog));
  EXPECT_NEAR((rect.left + rect.right) / 2, (area.Left + area.Right) / 2, 1);
  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(run->WaitDone());
  EXPECT_FALSE(EmberDialogState().SendAsked);
  EXPECT_TRUE(EmberDialogState().SendCancelled);
  EXPECT_FALSE(EmberDialogState().CopyToClipboard);
}

TEST_F(Dialogs, LibraryDrawnCaptionWithTheCustomLook) {
  options.SetDialogFlags(static_cast<uint16_t>(options.DialogFlags() | 0x40));
  std::unique_ptr<DialogThread> run(Show(EmberDialogDetailed));
  HWND dialog = WaitForDialog("Error occurred");
  ASSERT_NE(dialog, nullptr);
  Capture capture = Screenshot(dialog, "detailed-custom-look");
  // The band's outermost rows keep the base colour of an active caption.
  int frame = GetSystemMetrics(SM_CYFRAME);
  EXPECT_EQ(capture.At(capture.width / 2, frame + 1), RGB(0x82, 0x9B, 0xC2));
  PostMessageA(dialog, WM_COMMAND, 102, 0);
  ASSERT_TRUE(run->WaitDone());
}

// --- A dialog whose thread is held before it shows

namespace {

// How long the dialog's thread is held after each WM_INITDIALOG (a loaded machine's delay before
// the modal loop first runs empty and shows the window).
DWORD gInitHold = 0;
LRESULT CALLBACK HoldAfterInit(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && reinterpret_cast<const CWPRETSTRUCT*>(lParam)->message == WM_INITDIALOG) Sleep(gInitHold);
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

TEST_F(Dialogs, ADialogHeldBeforeItShowsIsStillShownAndKeepsItsChoices) {
  options.SetTerminateAction(1);
  struct Case {
    uint8_t type;
    int box, close;
    bool TEmberDialogState::*choice;
  };
  for (const Case& c : {Case{EmberDialogClassic, 104, 1001, &TEmberDialogState::RestartRequested},
                        Case{EmberDialogDetailed, 5000, 102, &TEmberDialogState::CopyToClipboard}})
    for (DWORD hold : {30, 100}) {
      SCOPED_TRACE(testing::Message() << "type " << int(c.type) << ", held " << hold << " ms");
      EmberDialogState().DialogType = c.type;
      EmberDialogState().RestartRequested = false;
      gBoxes.clear();
      gInitHold = hold;
      DialogThread run([] {
        HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, HoldAfterInit, nullptr, GetCurrentThreadId());
        ShowExceptionDialog(false);
        UnhookWindowsHookEx(hook);
      });
      HWND dialog = WaitForDialog("Error occurred");
      ASSERT_NE(dialog, nullptr);
      Click(dialog, c.box);
      PostMessageA(dialog, WM_COMMAND, c.close, 0);
      ASSERT_TRUE(run.WaitDone());
      EXPECT_FALSE(EmberDialogState().DialogFailed);
      EXPECT_TRUE(gBoxes.empty());  // no plain box in the dialog's place
      EXPECT_TRUE(EmberDialogState().*c.choice);
    }
}

// --- A dialog hidden, or given a choice, between its show and its first paint

namespace {

// Done on the dialog's thread once its window is first shown, before it paints.
void (*gAtShow)(HWND) = nullptr;
HWND gShownDialog = nullptr;
LRESULT CALLBACK ActAtFirstShow(int code, WPARAM wParam, LPARAM lParam) {
  const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
  if (code == HC_ACTION && gAtShow && call->message == WM_WINDOWPOSCHANGED &&
      !(GetWindowLongA(call->hwnd, GWL_STYLE) & WS_CHILD) &&
      (reinterpret_cast<const WINDOWPOS*>(call->lParam)->flags & SWP_SHOWWINDOW)) {
    gShownDialog = call->hwnd;
    std::exchange(gAtShow, nullptr)(call->hwnd);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

DialogThread* ShowActingAtFirstShow(uint8_t type, void (*act)(HWND)) {
  EmberDialogState().DialogType = type;
  gAtShow = act;
  return new DialogThread([] {
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, ActAtFirstShow, nullptr, GetCurrentThreadId());
    ShowExceptionDialog(false);
    UnhookWindowsHookEx(hook);
  });
}

// How the dialog is put away at its show, and brought back 300 ms later.
int gAwayWith = SW_HIDE, gBackWith = SW_SHOW;
void CALLBACK ShowAgain(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  ShowWindow(gShownDialog, gBackWith);
}

}  // namespace

TEST_F(Dialogs, ADialogHiddenOrMinimisedBeforeItsFirstPaintAndShownAgainIsShown) {
  for (auto [away, back] : {std::pair{SW_HIDE, SW_SHOW}, {SW_MINIMIZE, SW_RESTORE}})
    for (uint8_t type : {EmberDialogClassic, EmberDialogDetailed}) {
      SCOPED_TRACE(testing::Message() << "type " << int(type) << ", put away with " << away);
      gBoxes.clear();
      gAwayWith = away;
      gBackWith = back;
      std::unique_ptr<DialogThread> run(ShowActingAtFirstShow(type, [](HWND dialog) {
        ShowWindow(dialog, gAwayWith);
        SetTimer(nullptr, 0, 300, ShowAgain);
      }));
      HWND dialog = WaitForDialog("Error occurred");
      EXPECT_NE(dialog, nullptr);
      if (dialog) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      ASSERT_TRUE(run->WaitDone());
      EXPECT_FALSE(EmberDialogState().DialogFailed);
      EXPECT_TRUE(gBoxes.empty());  // no plain box in the dialog's place
    }
}

// The input is queued at the show, as a key or click is while a loaded machine holds the thread:
// it comes before the first paint.
TEST_F(Dialogs, AChoiceThatReachesADialogBeforeItsFirstPaintEndsItAsShown) {
  options.SetTerminateAction(1);
  struct Case {
    uint8_t type;
    void (*act)(HWND);
    bool TEmberDialogState::*choice;
  } cases[] = {
      {EmberDialogClassic,  // Enter on "Send Error Report"
       [](HWND dialog) { PostMessageA(GetDlgItem(dialog, 1000), WM_KEYDOWN, VK_RETURN, 1); },
       &TEmberDialogState::SendAsked},
      {EmberDialogDetailed, [](HWND dialog) { ClickAt(GetDlgItem(dialog, 103), 2, 2); },  // "Terminate"
       &TEmberDialogState::RestartRequested}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << int(c.type));
    gBoxes.clear();
    EmberDialogState().SendAsked = false;
    std::unique_ptr<DialogThread> run(ShowActingAtFirstShow(c.type, c.act));
    ASSERT_TRUE(run->WaitDone());
    EXPECT_FALSE(EmberDialogState().DialogFailed);
    EXPECT_TRUE(gBoxes.empty());  // no plain box after the choice
    EXPECT_TRUE(EmberDialogState().*c.choice);
  }
}

// --- A dialog whose window is never shown

namespace {

// The first window made on the thread (the dialog) has its show taken out of every position
// change, as a hook of the host's might.
std::atomic<HWND> gRefused{nullptr};
WNDPROC gRefusedProc = nullptr;
LRESULT CALLBACK RefuseShow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_WINDOWPOSCHANGING) reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
  return CallWindowProcA(gRefusedProc, window, message, wParam, lParam);
}
LRESULT CALLBACK RefuseFirstShow(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && !gRefused) {
    gRefused = reinterpret_cast<HWND>(wParam);
    gRefusedProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(gRefused, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RefuseShow)));
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

TEST_F(Dialogs, ADialogWhoseWindowIsNeverShownFallsBackToTheMessageBox) {
  for (uint8_t type : {EmberDialogClassic, EmberDialogDetailed}) {
    SCOPED_TRACE(testing::Message() << "type " << int(type));
    EmberDialogState().DialogType = type;
    gBoxes.clear();
    gRefused = nullptr;
    DialogThread run([] {
      HHOOK hook = SetWindowsHookExA(WH_CBT, RefuseFirstShow, nullptr, GetCurrentThreadId());
      ShowExceptionDialog(false);
      UnhookWindowsHookEx(hook);
    });
    bool ended = run.WaitDone();
    if (!ended) PostMessageA(gRefused, WM_CLOSE, 0, 0);  // the hidden dialog would wait for ever
    EXPECT_TRUE(ended);
    run.Join();
    EXPECT_TRUE(EmberDialogState().DialogFailed);
    ASSERT_EQ(gBoxes.size(), 1u);
    EXPECT_EQ(gBoxes[0], std::make_pair(std::string(kMessage), std::string("Error occurred")));
  }
}

// --- Request and send-progress dialogs

TEST_F(Dialogs, RequestDialogKeepsTheStepsWithoutTrailingBlanks) {
  for (auto [typed, kept] : {std::pair{"  pressed play\r\n  ", "  pressed play"}, {"", ""}}) {
    options.SetReproduceText("before");
    std::unique_ptr<DialogThread> run(new DialogThread([] { RunRequestDialog(); }));
    HWND dialog = WaitForDialog("Request");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Item(dialog, 100), "Please describe the steps to reproduce the error:");
    EXPECT_EQ(Item(dialog, 101), "before");
    EXPECT_EQ(Item(dialog, IDCANCEL), "&OK");
    if (*typed) Screenshot(dialog, "request");
    SetItem(dialog, 101, typed);
    Click(dialog, IDCANCEL);
    ASSERT_TRUE(run->WaitDone());
    EXPECT_EQ(options.ReproduceText(), kept);
  }
}

TEST_F(Dialogs, SendProgressDialogShowsTheSteps) {
  EXPECT_TRUE(IsGuiAllowed());
  testnet::SmtpServer server;
  std::vector<std::string> shown;
  std::atomic<bool> captured{false};
  server.onCommand = [&](const std::string& command) {
    HWND window = reinterpret_cast<HWND>(SendDialogWindow());
    if (!window) return;
    shown.push_back(Item(window, 100));
    if (command.compare(0, 4, "DATA") == 0 && !captured.exchange(true)) Screenshot(window, "send-progress");
  };
  options.SetSmtpHost("127.0.0.1");
  options.SetSmtpPort(server.Port());
  options.SetEMailAddresses("bugs@example.org");
  options.SetSendOptions(0x01);
  LogReportState().Options = &options;
  ReportPieces().LastReportText = ReportPieces().ReportText;
  EXPECT_TRUE(SendBugReport());
  LogReportState().Options = nullptr;
  EXPECT_EQ(server.Sessions().size(), 1u);
  EXPECT_EQ(SendDialogWindow(), 0u);
  ASSERT_FALSE(shown.empty());
  EXPECT_NE(std::find(shown.begin(), shown.end(), "Message 1/1: Connected with server."), shown.end()) << shown.size();
  EXPECT_NE(std::find(shown.begin(), shown.end(), "Message 1/1: Sending message..."), shown.end());
}

// The dialog's thread stops answering while the report goes out (held where the send cannot see,
// as a fault in the dialog's own code holds it): the send still ends, and the dialog goes once its
// thread runs again.
TEST_F(Dialogs, ASendDoesNotWaitForAProgressDialogThatStopsAnswering) {
  testnet::SmtpServer server;
  HANDLE held = nullptr;
  HWND shown = nullptr;
  server.onCommand = [&](const std::string&) {
    HWND window = reinterpret_cast<HWND>(SendDialogWindow());
    if (held != nullptr || window == nullptr) return;
    shown = window;
    held = OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(window, nullptr));
    if (held != nullptr) SuspendThread(held);
  };
  options.SetSmtpHost("127.0.0.1");
  options.SetSmtpPort(server.Port());
  options.SetEMailAddresses("bugs@example.org");
  options.SetSendOptions(0x01);
  LogReportState().Options = &options;
  ReportPieces().LastReportText = ReportPieces().ReportText;
  {
    const TFailAfter bound(MachineBound(60000), "the send waits for ever for its progress dialog's thread");
    EXPECT_TRUE(SendBugReport());
  }
  LogReportState().Options = nullptr;
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(server.Sessions().size(), 1u);
  ResumeThread(held);
  CloseHandle(held);
  for (int i = 0; i < static_cast<int>(MachineBound(1000)) && IsWindow(shown); ++i) Sleep(10);
  EXPECT_FALSE(IsWindow(shown));
}

// --- The rows of the list view and the rich text of the pages

TEST(ListViewItems, NestedGroupsCollapseAndExpandInOrder) {
  HWND list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT | LVS_OWNERDRAWFIXED, 0, 0, 300, 300,
                              nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(list, nullptr);
  AddListColumn(reinterpret_cast<uintptr_t>(list), "A", 100, false, 0);
  AddListColumn(reinterpret_cast<uintptr_t>(list), "B", 100, true, 1);
  {
    TListViewItems rows(reinterpret_cast<uintptr_t>(list));
    rows.AddRow({}, -1, EmberRowRed, true, "outer");
    rows.AddRow({}, -1, EmberRowBlue, true, "inner");
    rows.AddRow({"c", "1"}, EmberImageSource, EmberRowGrey, false, "");
    rows.AddRow({"d", "2"}, EmberImageDll, EmberRowGrey, false, "");
    rows.AddRow({"", " "}, -1, EmberRowGrey, false, "");
    rows.AddRow({}, -1, EmberRowGrey, true, "next");
    rows.AddRow({"e", "3"}, -1, EmberRowGrey, false, "");
    EXPECT_TRUE(rows.Row(4).Blank);
    EXPECT_TRUE(rows.Row(2).Indented);  // inside two group rows
    EXPECT_EQ(ListCount(list), 7);
    auto column = [&](int item) { return Trim(ListText(list, item, 0)); };
    EXPECT_TRUE(rows.ToggleGroup(1, 0, 0, false));  // inner collapses: c and d go
    EXPECT_EQ(ListCount(list), 5);
    EXPECT_TRUE(rows.ToggleGroup(0, 0, 0, false));  // outer collapses: inner goes too
    EXPECT_EQ(ListCount(list), 4);
    EXPECT_TRUE(rows.ToggleGroup(0, 0, 0, false));  // outer expands: inner stays collapsed
    EXPECT_EQ(ListCount(list), 5);
    EXPECT_EQ(rows.RowOfItem(1)->Caption, "inner");
    EXPECT_TRUE(rows.ToggleGroup(1, 0, 0, false));
    ASSERT_EQ(ListCount(list), 7);
    EXPECT_EQ(column(2), "c");
    EXPECT_EQ(column(3), "d");
    EXPECT_EQ(ListText(list, 3, 1), "2");
    EXPECT_FALSE(rows.ToggleGroup(2, 0, 0, false));  // not a group
    RECT row{};
    row.left = LVIR_BOUNDS;
    SendMessageA(list, LVM_GETITEMRECT, 5, reinterpret_cast<LPARAM>(&row));
    EXPECT_FALSE(rows.ToggleGroup(5, row.left + 40, row.top + 5, true));
    EXPECT_TRUE(rows.ToggleGroup(5, row.left + 5, row.top + 5, true));
    EXPECT_EQ(ListCount(list), 6);
  }
  DestroyWindow(list);
}

TEST(RichText, StreamedIntoARichEditWithItsColours) {
  HMODULE library = LoadLibraryA("RICHED20.DLL");
  ASSERT_NE(library, nullptr);
  HWND edit = CreateWindowExA(0, "RichEdit20A", "", WS_POPUP | ES_MULTILINE, 0, 0, 400, 200, nullptr, nullptr,
                              nullptr, nullptr);
  ASSERT_NE(edit, nullptr);
  std::string head = "EmberLog 6.0.24\r\n\r\nException:\r\n----------\r\n  2.6 Message : {a}\\b\r\n";
  EXPECT_TRUE(StreamRTFIntoRichEdit(reinterpret_cast<uintptr_t>(edit),
                                    RenderReportHeadRTF(head, TEmberRTFFont{0, "Lucida Console", 8})));
  // The control counts a paragraph's end as one character.
  std::string text;
  for (char c : Text(edit))
    if (c != '\n') text += c;
  EXPECT_NE(text.find("2.6 Message : {a}\\b"), std::string::npos) << text;
  // The value is dark blue, the field number dark red.
  auto colourAt = [edit, &text](const std::string& part) {
    LONG at = static_cast<LONG>(text.find(part));
    SendMessageA(edit, EM_SETSEL, at, at + 1);
    CHARFORMATA format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_COLOR;
    SendMessageA(edit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    return format.crTextColor;
  };
  EXPECT_EQ(colourAt("{a}"), RGB(0, 0, 160));
  EXPECT_EQ(colourAt("2.6"), RGB(160, 0, 0));
  EXPECT_EQ(colourAt("Exception"), RGB(40, 40, 40));
  DestroyWindow(edit);
  FreeLibrary(library);
}
