// The dialogs' portable rules: the choices they offer, the report fields they rewrite, text
// wrapping, the detailed dialog's tabs and rows, and the jump-to-source message.
#include "exceptions/report/EDetailedDialog.h"
#include "exceptions/report/EExceptionDialog.h"

#include <gtest/gtest.h>

#include <cstring>

#include "exceptions/EmberModuleOptions.h"
#include "exceptions/capture/ExceptionLog.h"
#include "exceptions/report/EBugReport.h"
#include "exceptions/report/ELogManager.h"

namespace {

// Fresh options in force (the library's current options).
TEmberModuleOptions& InstallOptions() {
  EmberLibrary().CurrentOptions = std::make_unique<TEmberModuleOptionsEx>("x.exe", 0);
  return *EmberLibrary().CurrentOptions;
}

// Options in force and dialog state set up for one test and put back afterwards.
class DialogStateScope {
 public:
  ~DialogStateScope() {
    EmberLibrary().CurrentOptions.reset();
    EmberDialogState() = TEmberDialogState();
    LogReportState().RepeatedReport = false;
  }
  TEmberModuleOptions& options = InstallOptions();
};

}  // namespace

TEST(DialogRules, SendOfferAndTerminateOffer) {
  struct Case {
    uint8_t email, web;
    uint16_t flags;
    bool repeated, canSend;
  } cases[] = {{0, 0, 0x18F, false, false}, {2, 0, 0x18F, false, true}, {0, 4, 0x18F, false, true},
               {2, 0, 0x10F, false, false}, {2, 0, 0x18F, true, false}};
  for (const Case& c : cases) {
    DialogStateScope scope;
    scope.options.SetEMailSendMode(c.email);
    scope.options.SetWebSendMode(c.web);
    scope.options.SetDialogFlags(c.flags);
    LogReportState().RepeatedReport = c.repeated;
    EXPECT_EQ(CanSendReport(), c.canSend) << int(c.email) << " " << int(c.web) << " " << c.flags;
  }
  DialogStateScope scope;
  scope.options.SetTerminateOfferCount(3);
  for (auto [action, count, offered] : {std::tuple{1, 4, true}, {1, 3, false}, {0, 9, false}, {2, 4, true}}) {
    scope.options.SetTerminateAction(static_cast<uint8_t>(action));
    EmberDialogState().ExceptionCount = count;
    EXPECT_EQ(ShouldOfferTerminate(), offered) << action << " " << count;
  }
}

TEST(DialogRules, MessageOverrideAndTexts) {
  DialogStateScope scope;
  EmberDialogState().ExceptionMessage = "List index out of bounds (5).";
  EXPECT_EQ(GetDialogMessage(), "List index out of bounds (5).");
  SetDialogMessage("Please restart.");
  EXPECT_EQ(GetDialogMessage(), "Please restart.");
  scope.options.SetCustomizedText(3, "%KBL_DIALOG_TEST% occurred");
  SetEnvVariable("KBL_DIALOG_TEST", "Trouble");
  EXPECT_EQ(DialogText(3), "Trouble occurred");
  EmberLibrary().CurrentOptions.reset();
  EXPECT_EQ(DialogText(3), "Error occurred");
}

TEST(DialogReport, EmailAndNoteFieldsRewritten) {
  for (auto [text, valid] : {std::pair{"ann@example.org", true}, {"ann@example", false}, {"ann.example.org", false},
                             {"", false}})
    EXPECT_EQ(IsValidEmail(text), valid) << text;
  std::string report = "User:\r\n-----\r\n  3.1 ID    : ann\r\n  3.3 Email : old@x.org\r\n  3.4 Com   : x\r\n"
                       "Exception:\r\n  2.1 Date : Mon\r\n  2.10 Note : \r\n";
  ReplaceReportEmail(report, "new@y.org");
  ReplaceReportField(report, "2.10", "Cannot show");
  EXPECT_EQ(report, "User:\r\n-----\r\n  3.1 ID    : ann\r\n  3.3 Email : new@y.org\r\n  3.4 Com   : x\r\n"
                    "Exception:\r\n  2.1 Date : Mon\r\n  2.10 Note : Cannot show\r\n");
  std::string without = "no fields here";
  ReplaceReportEmail(without, "a@b.c");
  EXPECT_EQ(without, "no fields here");

  // Every copy the dialogs, the log writer and the senders use gets the address.
  DialogStateScope scope;
  ReportPieces().ReportText = ReportPieces().LastReportText = ReportPieces().ReportHeadText = report;
  LogReportState().ReportText = report;
  ApplyUserEmail("me@z.org");
  EXPECT_EQ(scope.options.UserEMail(), "me@z.org");
  for (const std::string* copy : {&ReportPieces().ReportText, &ReportPieces().LastReportText,
                                  &ReportPieces().ReportHeadText, &LogReportState().ReportText,
                                  &LogReportState().SendText})
    EXPECT_NE(copy->find("  3.3 Email : me@z.org\r\n"), std::string::npos);
  NoteInReport("dialog\r\nfailed");
  EXPECT_NE(ReportPieces().LastReportText.find("  2.10 Note : dialog  failed\r\n"), std::string::npos);
}

TEST(DialogText, WrappedHeightCountsLinesAndOverflow) {
  // Every character is 10 pixels wide; the usable width is the width less 6.
  auto width = [](const std::string& word, void*) { return static_cast<int32_t>(word.size() * 10); };
  struct Case {
    const char* text;
    int32_t width, lines;
  } cases[] = {{"abc", 106, 1},          {"", 106, 1},
               {"abc\r\n\r\ndef", 106, 3}, {"aaaaa bbbbb", 106, 2},  // 60 + 50 > 100: the second word wraps
               {"aaaa-bbbb", 106, 1},    {"aaaaaaaaaaaaaaaaaaaaa", 106, 3}};
  for (const Case& c : cases)
    EXPECT_EQ(WrappedTextHeight(c.text, c.width, 13, width, nullptr), c.lines * 13) << c.text;
}

TEST(DetailedDialog, TabsFollowTheLogOptions) {
  EXPECT_EQ(DetailedDialogPages(0), (std::vector<int32_t>{EmberPageGeneral, EmberPageCallStack}));
  EXPECT_EQ(DetailedDialogPages(0x20), (std::vector<int32_t>{0, 1, 4, 5}));
  EXPECT_EQ(DetailedDialogPages(0x30), (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
  // Without modules and processes the CPU page is the fourth tab; an absent page opens the first.
  EXPECT_EQ(FirstDetailedTab(0x20, EmberPageCPU), 3);
  EXPECT_EQ(FirstDetailedTab(0x20, EmberPageModules), 0);
  EXPECT_EQ(FirstDetailedTab(0x30, EmberPageProcesses), 3);
  EXPECT_STREQ(DetailedPageTemplate(EmberPageModules), "EL_TAB_MODULESLIST");
  EXPECT_EQ(DetailedPageTemplate(6), nullptr);
}

TEST(DetailedDialog, CheckBoxRowsModuleImagesAndColumnKeys) {
  struct Case {
    bool send, shot, copy, link;
    int32_t height;
  } cases[] = {{false, false, false, false, 0}, {true, true, false, false, 34}, {false, false, true, true, 34},
               {true, false, false, false, 20}, {true, false, true, false, 20}, {false, false, false, true, 20}};
  for (const Case& c : cases) EXPECT_EQ(CheckBoxRowsHeight(c.send, c.shot, c.copy, c.link), c.height);
  for (auto [name, kind] : {std::pair{"C:\\a\\rtl70.bpl", 1}, {"x.DPL", 1}, {"host.exe", 2}, {"kernel32.dll", 0},
                            {"C:\\dir.exe\\plain", 0}, {"noext", 0}})
    EXPECT_EQ(ModuleKind(name), kind) << name;
  EXPECT_EQ(ModuleColumnKey(5), 6);  // Modified
  EXPECT_EQ(ModuleColumnKey(6), 5);  // Path
  EXPECT_EQ(ModuleColumnKey(2), 2);
}

TEST(DetailedDialog, LineCellsAndTheSourceMessage) {
  struct Case {
    const char* cell;
    bool ok;
    int32_t line, offset;
  } cases[] = {{"123[4]", true, 123, 4}, {"123", true, 123, -1}, {" 7[]", true, 7, -1}, {"", false, 0, 0},
               {"[4]", false, 0, 0}};
  for (const Case& c : cases) {
    int32_t line = 0, offset = 0;
    EXPECT_EQ(ParseLineCell(c.cell, line, offset), c.ok) << c.cell;
    if (!c.ok) continue;
    EXPECT_EQ(line, c.line) << c.cell;
    EXPECT_EQ(offset, c.offset) << c.cell;
  }
  double buildDate = 45000.25;
  TEmberSourceMessage m = BuildSourceLocationMessage(123, " Unit1.pas ", "TForm1", std::string(120, 'p'), 4, buildDate);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.data()), 90), std::string(90, '\0'));
  EXPECT_STREQ(reinterpret_cast<const char*>(m.data() + 90), "Unit1.pas");
  EXPECT_STREQ(reinterpret_cast<const char*>(m.data() + 180), "TForm1");
  EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(m.data() + 270)), 89u);
  EXPECT_EQ(m[359], 0);
  int32_t line, offset;
  std::memcpy(&line, m.data() + 360, 4);
  std::memcpy(&offset, m.data() + 364, 4);
  EXPECT_EQ(line, 123);
  EXPECT_EQ(offset, 4);
  uint32_t low, high;
  std::memcpy(&low, m.data() + 368, 4);
  std::memcpy(&high, m.data() + 372, 4);
  uint64_t bits = static_cast<uint64_t>(high) << 32 | low;
  double date;
  std::memcpy(&date, &bits, sizeof date);
  EXPECT_EQ(date, buildDate);
}
