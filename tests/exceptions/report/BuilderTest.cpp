// The report text builder over hand-built records: exact table, caption, CPU and dump texts for
// small cases, the head's numbering and visibility, the joined report; the exception-filter
// choice; and the log writer's success flag and error record.
#include "exceptions/report/EBugReport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <map>
#include <random>
#include <stdexcept>

#include "SampleReport.h"
#include "TestFiles.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/EmberTexts.h"
#include "exceptions/capture/ECallStack.h"
#include "exceptions/capture/EmberRecords.h"
#include "exceptions/report/ELogFile.h"
#include "exceptions/report/ELogManager.h"
#include "exceptions/report/EReportFilters.h"
#include "exceptions/report/ESupport.h"
#include "exceptions/report/ESysUtils.h"

namespace {

const char* const CRLF = "\r\n";

std::string Dashes(size_t n) { return std::string(n, '-'); }
std::string Blanks(size_t n) { return std::string(n, ' '); }
// A one-column row of a call-stack table with the given inner width; a longer caption is kept
// whole.
std::string One(const std::string& text, size_t inner) {
  return "|" + text + Blanks(inner > text.size() ? inner - text.size() : 0) + "|\r\n";
}

// Thread facts the tests control: priority 2 for every thread, thread 10 is the main thread.
int32_t gPriorityReads = 0;
int32_t FakePriority(uint32_t, uint32_t) {
  ++gPriorityReads;
  return 2;
}
uint32_t FakeMainThread() { return 10; }

class BuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TEmberThreadFacts facts;
    facts.Priority = FakePriority;
    facts.MainThreadID = FakeMainThread;
    SetEmberThreadFacts(&facts);
    gPriorityReads = 0;
  }
  void TearDown() override { SetEmberThreadFacts(nullptr); }

  TEmberStackItem* Add(TEmberStackList& list, uint32_t thread, uint32_t address, const std::string& unit,
                       const std::string& proc, uint32_t line, uint8_t running = 0, uint8_t first = 0,
                       uint8_t kind = 4) {
    TEmberStackItem* item = list.NewItem();
    item->Kind = kind;
    item->ModuleInfo = kind ? &module_ : nullptr;
    item->ThreadID = thread;
    item->Address = address;
    item->UnitName.Assign(unit);
    item->ProcedureName.Assign(proc);
    item->Line = line;
    item->LineOffset = line ? 2 : 0;
    item->RunningThread = running;
    item->IsFirst = first;
    return item;
  }

  TEmberModuleInfo module_;
};

// --- Call-stack table

TEST_F(BuilderTest, OneBlockTableIsLaidOutExactly) {
  module_.FileName = "C:\\app\\Demo.exe";
  TEmberStackList list;
  TEmberStackItem* item = Add(list, 10, 0x00401A0B, "Main", "Button1Click", 35, 0, 1);
  item->ClassName.Assign("TForm1");
  Add(list, 10, 0x7C80AB12, "", "", 0);

  std::string text = BuildCallStackTable(nullptr, &list, AllStackKinds, nullptr);
  // Widths 8 8 4 6 16 5: separator 54, inner width 52.
  std::string s = Dashes(54);
  std::string expected = "Call Stack Information:\r\n" + s + CRLF +
                         "|Address |Module  |Unit|Class |Procedure/Method|Line |\r\n" + s + CRLF +
                         One("*Exception Thread: ID=10; Priority=2; Class=??; [Main]", 52) + One(Dashes(52), 52) +
                         "|00401A0B|Demo.exe|Main|TForm1|Button1Click    |35[2]|\r\n"
                         "|7C80AB12|Demo.exe|    |      |                |     |\r\n" +
                         s + CRLF + CRLF;
  EXPECT_EQ(expected, text);
}

TEST_F(BuilderTest, TitlesKeepTheirWidthAndTheAddressColumnIsEight) {
  TEmberStackList list;
  Add(list, 3, 0x1, "U", "P", 0, 0, 0, 0);  // nothing known: no module, no line
  std::string text = BuildCallStackTable(nullptr, &list, AllStackKinds, nullptr);
  EXPECT_NE(text.find("|00000001|      |U   |     |P               |    |\r\n"), std::string::npos) << text;
  // Widths 8 6 4 5 16 4 = 43: separator 50.
  EXPECT_NE(text.find(CRLF + Dashes(50) + CRLF + CRLF), std::string::npos);
}

TEST_F(BuilderTest, NoStackGivesHeadingAndSeparatorOnly) {
  std::string text = BuildCallStackTable(nullptr, nullptr, AllStackKinds, nullptr);
  std::string s = Dashes(50);
  EXPECT_EQ("Call Stack Information:\r\n" + s + CRLF + "|Address |Module|Unit|Class|Procedure/Method|Line|\r\n" + s +
                CRLF + s + CRLF + CRLF,
            text);
}

TEST_F(BuilderTest, HiddenKindsAreSkippedForWidthsAndRows) {
  module_.FileName = "m.dll";
  TEmberStackList list;
  Add(list, 10, 0x10, "Shown", "A", 1);
  Add(list, 10, 0x20, "AVeryLongUnitNameThatIsHidden", "B", 0, 0, 0, 2);
  Add(list, 10, 0x30, "X", "C", 0, 0, 0, 9);  // kinds above 7 never show
  std::string text = BuildCallStackTable(nullptr, &list, 1u << 4, nullptr);
  EXPECT_EQ(text.find("AVeryLong"), std::string::npos);
  EXPECT_EQ(text.find("00000020"), std::string::npos);
  EXPECT_EQ(text.find("00000030"), std::string::npos);
  EXPECT_NE(text.find("|00000010|m.dll |Shown|"), std::string::npos) << text;
}

TEST_F(BuilderTest, BlocksOfThreadsAreSeparatedAndCaptioned) {
  module_.FileName = "m.dll";
  TEmberStackList list;
  Add(list, 10, 0x10, "A", "P", 1, 0, 1);
  Add(list, 10, 0x11, "A", "Q", 2);
  Add(list, 20, 0x20, "B", "R", 3, 1);      // another running thread
  Add(list, 30, 0x30, "C", "S", 4, 0);      // its calling thread's saved stack
  Add(list, 30, 0x31, "C", "T", 5, 0, 1);   // IsFirst starts a new block on the same thread
  TEmberThreadsList threads;
  TEmberThreadInfo* info = threads.NewItem(true);
  info->ThreadID = 20;
  info->ThreadClass = "TWorker";
  info->Reserved = 1;  // priority already known
  std::string text = BuildCallStackTable(nullptr, &list, AllStackKinds, &threads);
  // Widths 8 6 4 5 16 4 = 43; inner 48.
  size_t inner = 48;
  std::string s = Dashes(50);
  std::string d = One(Dashes(inner), inner);
  std::string expected = "Call Stack Information:\r\n" + s + CRLF +
                         "|Address |Module|Unit|Class|Procedure/Method|Line|\r\n" + s + CRLF +
                         One("*Exception Thread: ID=10; Priority=2; Class=??; [Main]", inner) + d +
                         "|00000010|m.dll |A   |     |P               |1[2]|\r\n"
                         "|00000011|m.dll |A   |     |Q               |2[2]|\r\n" +
                         d + One("", inner) + One("Running Thread: ID=20; Priority=1; Class=TWorker", inner) + d +
                         "|00000020|m.dll |B   |     |R               |3[2]|\r\n" + d +
                         One("Calling Thread: ID=30; Priority=2; Class=??", inner) + d +
                         "|00000030|m.dll |C   |     |S               |4[2]|\r\n" + d +
                         One("Calling Thread: ID=30; Priority=2; Class=??", inner) + d +
                         "|00000031|m.dll |C   |     |T               |5[2]|\r\n" + s + CRLF + CRLF;
  EXPECT_EQ(expected, text);
}

// Random stacks with names that hold the framing characters: every line of the table keeps
// its frame, entry rows all have the table's width and nothing breaks a row in two.
TEST_F(BuilderTest, RandomStacksKeepTheFraming) {
  module_.FileName = "C:\\x|y\r\n.dll";
  std::mt19937 random(1234);
  const char alphabet[] = "ab|\r\n -";
  auto name = [&]() {
    std::string text;
    for (int n = static_cast<int>(random() % 12); n > 0; --n) text += alphabet[random() % (sizeof alphabet - 1)];
    return text;
  };
  for (int round = 0; round < 200; ++round) {
    TEmberStackList list;
    for (int n = static_cast<int>(random() % 9); n > 0; --n) {
      TEmberStackItem* item = Add(list, random() % 3, static_cast<uint32_t>(random()), name(), name(),
                                  random() % 3 ? 0 : static_cast<uint32_t>(random() % 5000), random() % 2,
                                  random() % 4 == 0, static_cast<uint8_t>(random() % 10));
      item->ClassName.Assign(name());
      item->Extra.Assign(name());
    }
    std::string text = BuildCallStackTable(nullptr, &list, static_cast<uint8_t>(random()), nullptr);
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find("\r\n", at);
      ASSERT_NE(end, std::string::npos);
      ASSERT_EQ(std::string::npos, text.substr(at, end - at).find_first_of("\r\n"));
      lines.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    ASSERT_GE(lines.size(), 6u);
    size_t width = lines[1].size();  // the separator is as wide as a row
    for (size_t i = 2; i + 2 < lines.size(); ++i) {
      if (i == 3) continue;  // the separator under the titles
      const std::string& line = lines[i];
      ASSERT_GE(line.size(), 2u);
      EXPECT_EQ('|', line.front()) << line;
      EXPECT_EQ('|', line.back()) << line;
      size_t bars = std::count(line.begin(), line.end(), '|');
      EXPECT_TRUE(bars == 7 || bars == 2) << line;
      if (bars == 7) EXPECT_EQ(width, line.size()) << line;
      else EXPECT_GE(line.size(), width) << line;
    }
  }
}

TEST_F(BuilderTest, CaptionsOfThreadsAndLeaks) {
  TEmberStackItem item;
  ClearStackItem(item);
  item.ThreadID = 77;
  TEmberThreadsList threads;
  TEmberThreadInfo* info = threads.NewItem(true);
  info->ThreadID = 77;
  // A priority not known yet is read once and kept in the record.
  EXPECT_EQ("Running Thread: ID=77; Priority=2",
            BlockCaption(item, TEmberBlockKind::RunningThread, false, nullptr, &threads).substr(0, 33));
  EXPECT_EQ(1, gPriorityReads);
  EXPECT_EQ(2u, info->Reserved);
  // For the dialog: no mark; the class shows only when known ("??" is what unknown reads as).
  EXPECT_EQ("Exception Thread: ID=77; Priority=2; Class=??",
            BlockCaption(item, TEmberBlockKind::ExceptionThread, false, nullptr, &threads));
  EXPECT_EQ(1, gPriorityReads);
  item.Extra.Assign("Worker pool");
  item.ThreadID = 10;
  EXPECT_EQ("*Exception Thread: ID=10; Priority=2; Class=??; [Main] (Worker pool)",
            BlockCaption(item, TEmberBlockKind::ExceptionThread, true, nullptr, nullptr));

  item.IsLeak = 1;
  item.LeakType.Assign("Data");
  item.LeakSize = 96;
  item.LeakCount = 3;
  EXPECT_EQ("+Memory Leak: Type=Data; Total size=96; Count=3",
            BlockCaption(item, TEmberBlockKind::ExceptionThread, true, nullptr, nullptr));
  TEmberModuleOptions options("demo.dll");
  options.SetCustomizedText(106, "Daten");
  item.LeakType.Assign("TStringList");
  EXPECT_EQ("Memory Leak: Type=TStringList; Total size=96; Count=3",
            BlockCaption(item, TEmberBlockKind::ExceptionThread, false, &options, nullptr));
  item.LeakType.Assign("Data");
  EXPECT_NE(BlockCaption(item, TEmberBlockKind::ExceptionThread, false, &options, nullptr).find("Type=Daten;"),
            std::string::npos);
}

// --- Modules and processes

TEST_F(BuilderTest, ModulesTableIsLaidOutExactly) {
  TEmberModulesList modules;
  auto* info = new TEmberModuleInfo;
  info->Handle = 0x00400000;
  info->FileName = "C:\\Host\\host.exe";
  info->Description = "Audio|host\r\n";
  info->Version = "1.2.3.4";
  info->Size = 123456;
  TDateTime day = 0, time = 0;
  ASSERT_TRUE(TryEncodeDate(2024, 6, 1, day));
  ASSERT_TRUE(TryEncodeTime(10, 5, 0, 0, time));
  info->FileDate = day + time;
  modules.Add(info);
  auto* root = new TEmberModuleInfo;
  root->Handle = 0x10000000;
  root->FileName = "\\??\\C:\\k.dll";
  modules.Add(root);
  std::string text = BuildModulesTable(nullptr, &modules);
  // Widths 8 8 12 7 6 19 7 = 67: separator 75.
  std::string s = Dashes(75);
  std::string expected = "Modules Information:\r\n" + s + CRLF +
                         "|Handle  |Name    |Description |Version|Size  |Modified           |Path   |\r\n" + s + CRLF +
                         "|00400000|host.exe|Audio?host??|1.2.3.4|123456|2024-06-01 10:05:00|C:\\Host|\r\n"
                         "|10000000|k.dll   |            |       |0     |1899-12-30 00:00:00|C:\\    |\r\n" +
                         s + CRLF + CRLF;
  EXPECT_EQ(expected, text);
}

TEST_F(BuilderTest, ProcessesTableIsLaidOutExactly) {
  TEmberProcessesList processes;
  auto* a = new TEmberProcessInfo;
  a->ID = 4;
  a->Path = "C:\\Windows\\system.exe";
  a->Memory = 2048;
  a->Priority = 32768;
  a->Threads = 0;
  processes.Add(a);
  auto* b = new TEmberProcessInfo;
  b->ID = 1234;
  b->Path = "C:\\Host\\host.exe";
  b->Description = "Host";
  b->Version = "2.0";
  b->Memory = 1;
  b->Priority = 7;
  b->Threads = 12;
  processes.Add(b);
  std::string text = BuildProcessesTable(nullptr, &processes);
  // Widths 4 10 11 7 6 12 7 10 = 67: separator 76.
  std::string s = Dashes(76);
  std::string expected =
      "Processes Information:\r\n" + s + CRLF +
      "|ID  |Name      |Description|Version|Memory|Priority    |Threads|Path      |\r\n" + s + CRLF +
      "|4   |system.exe|           |       |2048  |Above-Normal|??     |C:\\Windows|\r\n"
      "|1234|host.exe  |Host       |2.0    |1     |            |12     |C:\\Host   |\r\n" +
      s + CRLF + CRLF;
  EXPECT_EQ(expected, text);
  EXPECT_EQ("Low", PriorityClassText(64));
  EXPECT_EQ("Below-Normal", PriorityClassText(16384));
  EXPECT_EQ("Normal", PriorityClassText(32));
  EXPECT_EQ("High", PriorityClassText(128));
  EXPECT_EQ("Real-Time", PriorityClassText(256));
}

// --- CPU

class FakeMemory : public TEmberMemory {
 public:
  std::map<uint32_t, uint8_t> bytes;
  bool IsReadable(uint32_t address, uint32_t size) const override {
    for (uint32_t i = 0; i < size; ++i)
      if (!bytes.count(address + i)) return false;
    return true;
  }
  bool Read(uint32_t address, void* buffer, uint32_t size) const override {
    if (!IsReadable(address, size)) return false;
    for (uint32_t i = 0; i < size; ++i) static_cast<uint8_t*>(buffer)[i] = bytes.at(address + i);
    return true;
  }
};

TEST_F(BuilderTest, MemoryDumpShowsStackWordsBesideCodeBytes) {
  FakeMemory memory;
  for (uint32_t i = 0; i < 64; ++i) memory.bytes[0x0012FF00 + i] = static_cast<uint8_t>(i);
  for (uint32_t i = 0; i < 256; ++i) memory.bytes[0x00401000 + i] = static_cast<uint8_t>(i);
  std::string dump = BuildMemoryDump(memory, 0x0012FF00, 0x00401000);
  std::vector<std::string> lines;
  for (size_t at = 0; at < dump.size();) {
    size_t end = dump.find(CRLF, at);
    ASSERT_NE(end, std::string::npos);
    lines.push_back(dump.substr(at, end - at));
    at = end + 2;
  }
  ASSERT_EQ(16u, lines.size());
  EXPECT_EQ("0012FF00: 03020100   00401000: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  ................",
            lines[0]);
  EXPECT_EQ("0012FF08: 0B0A0908   00401020: 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F   !\"#$%&'()*+,-./",
            lines[2]);
  EXPECT_EQ("0012FF3C: 3F3E3D3C   004010F0: F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF  ................",
            lines[15]);
  EXPECT_EQ("0012FF1C: 1F1E1D1C   00401070: 70 71 72 73 74 75 76 77 78 79 7A 7B 7C 7D 7E 7F  pqrstuvwxyz{|}~.",
            lines[7]);
  // One unreadable byte at either end gives no dump.
  memory.bytes.erase(0x004010FF);
  EXPECT_EQ("", BuildMemoryDump(memory, 0x0012FF00, 0x00401000));
  memory.bytes[0x004010FF] = 0;
  memory.bytes.erase(0x0012FF3F);
  EXPECT_EQ("", BuildMemoryDump(memory, 0x0012FF00, 0x00401000));
}

TEST_F(BuilderTest, CpuTextWithAndWithoutContext) {
  TEmberRegisters regs;
  regs.Eax = 0x1;
  regs.Edi = 0xDEADBEEF;
  regs.Ebx = 0x2;
  regs.Esi = 0x3;
  regs.Ecx = 0x4;
  regs.Esp = 0x0012FF00;
  regs.Edx = 0x5;
  regs.Eip = 0x00401000;
  std::string expected = "Registers:\r\n" + Dashes(29) + CRLF +
                         "EAX: 00000001   EDI: DEADBEEF\r\n"
                         "EBX: 00000002   ESI: 00000003\r\n"
                         "ECX: 00000004   ESP: 0012FF00\r\n"
                         "EDX: 00000005   EIP: 00401000\r\n"
                         "\r\n"
                         "Stack:               Memory Dump:\r\n" +
                         Dashes(18) + "   " + Dashes(75) + CRLF + "DUMP";
  EXPECT_EQ(expected, BuildCPUText(nullptr, &regs, "DUMP"));
  std::string none = BuildCPUText(nullptr, nullptr, "");
  EXPECT_NE(none.find("EAX: ????       EDI: ????    \r\n"), std::string::npos) << none;
  EXPECT_NE(none.find("EDX: ????       EIP: ????    \r\n"), std::string::npos);
}

// --- Head

TEST_F(BuilderTest, HeadNumbersStayFixedWhenFieldsAndSectionsAreHidden) {
  TEmberModuleOptions options("demo.dll");
  TEmberReportHeadValues values;
  for (int32_t i = 0; i < EmberHeadFieldCount; ++i) values.Values[i] = "v" + std::to_string(i);
  // Hide "Start Date" and the whole "User" section (bits 16..20).
  uint64_t items = EmberAllReportItems & ~1ull & ~(0x1Full << 16);
  options.SetReportItems(items);
  std::string head = BuildReportHead(&options, values);
  EXPECT_EQ(head.find("Start Date"), std::string::npos);
  EXPECT_NE(head.find("  1.2 Name/Description: v1\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.find("User:"), std::string::npos);
  EXPECT_NE(head.find("  4.1 Form Class   : v21\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("  2.7 ID            : v12\r\n"), std::string::npos);
  EXPECT_NE(head.find("  7.6 DHCP      : v46\r\n"), std::string::npos) << head;
  // "Company" uses bit 20 and "Privileges" bit 19, in that order of the fields.
  options.SetReportItems(EmberAllReportItems);
  head = BuildReportHead(&options, values);
  EXPECT_NE(head.find("  3.4 Company   : v20\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("  3.5 Privileges: v19\r\n"), std::string::npos) << head;
  // Active controls are left out in a console program.
  values.HideActiveControls = true;
  head = BuildReportHead(&options, values);
  EXPECT_EQ(head.find("Active Controls:"), std::string::npos);
  EXPECT_NE(head.find("  5.1 Name"), std::string::npos);
}

// --- The whole report

TEST_F(BuilderTest, ReportWithSectionsSwitchedOffKeepsEveryHeading) {
  TEmberModuleOptions options("demo.dll");
  options.SetLogOptions(0);
  std::runtime_error error("Boom");
  TEmberBugReportInput input;
  input.Options = &options;
  input.ExceptionObject = &error;
  input.ExceptionAddress = 0x00401000;
  input.ReportID = "ABCD1234";
  ReportPieces().LastReportText = "old";
  BugReportText(input);
  const TEmberReportPieces& pieces = ReportPieces();
  EXPECT_EQ(0u, pieces.ReportHeadText.find("EmberLog 6.0.24\r\n\r\nApplication:\r\n"));
  EXPECT_NE(pieces.ReportHeadText.find("  2.2 Address       : 00401000\r\n"), std::string::npos)
      << pieces.ReportHeadText;
  EXPECT_NE(pieces.ReportHeadText.find("  2.6 Message       : Boom.\r\n"), std::string::npos);
  EXPECT_NE(pieces.ReportHeadText.find("  2.7 ID            : ABCD1234\r\n"), std::string::npos);
  EXPECT_NE(pieces.ReportHeadText.find("  2.8 Count         : 1\r\n"), std::string::npos);
  EXPECT_NE(pieces.ReportHeadText.find("  2.9 Status        : New\r\n"), std::string::npos);
  EXPECT_NE(pieces.ReportTablesText.find("Modules Information:\r\n" + Dashes(20) + "\r\n\r\n"), std::string::npos);
  EXPECT_NE(pieces.ReportTablesText.find("Processes Information:\r\n" + Dashes(22) + "\r\n\r\n"), std::string::npos);
  EXPECT_EQ("Assembler Information:\r\n" + Dashes(22), pieces.ReportAssemblerHead);
  EXPECT_EQ("", pieces.ReportAssemblerText);
  EXPECT_EQ("Registers:\r\n" + Dashes(10) + "\r\n\r\n", pieces.ReportCPUText);
  EXPECT_EQ(std::string(GetDefaultText(4)) + "\r\n\r\n", pieces.DialogHeadText);
  EXPECT_EQ(pieces.ReportHeadText + CRLF + pieces.ReportTablesText + pieces.ReportAssemblerHead + CRLF + CRLF +
                pieces.ReportCPUText,
            pieces.ReportText);
  EXPECT_EQ(pieces.ReportText, pieces.LastReportText);
}

TEST_F(BuilderTest, ReportWithSectionsOnAndUnreadableCodeStillHasHeadings) {
  TEmberModuleOptions options("demo.dll");
  options.SetLogOptions(0x30);
  TEmberModulesList modules;
  TEmberProcessesList processes;
  TEmberRegisters regs;
  regs.Eip = 0x00000010;
  TEmberBugReportInput input;
  input.Options = &options;
  input.ExceptionAddress = 0x00000010;  // nothing readable there
  input.Context = &regs;
  input.Modules = &modules;
  input.Processes = &processes;
  BugReportText(input);
  const TEmberReportPieces& pieces = ReportPieces();
  EXPECT_NE(pieces.ReportTablesText.find("Modules Information:\r\n" + Dashes(54) + CRLF), std::string::npos);
  EXPECT_NE(pieces.ReportTablesText.find("|Handle  |Name|Description|Version|Size|Modified|Path|"),
            std::string::npos)
      << pieces.ReportTablesText;
  EXPECT_NE(pieces.ReportTablesText.find("Processes Information:\r\n"), std::string::npos);
  EXPECT_EQ("Assembler Information:\r\n" + Dashes(22), pieces.ReportAssemblerHead);
  EXPECT_NE(pieces.ReportCPUText.find("EDX: 00000000   EIP: 00000010\r\n"), std::string::npos);
  EXPECT_NE(pieces.ReportCPUText.find("Memory Dump:\r\n" + Dashes(18) + "   " + Dashes(75) + CRLF),
            std::string::npos);
  // No dump: the section ends with its underline.
  EXPECT_EQ(pieces.ReportCPUText.size() - (18 + 3 + 75 + 2),
            pieces.ReportCPUText.rfind(Dashes(18) + "   " + Dashes(75)));
}

// --- Filters

struct EDemoBase : std::runtime_error {
  EDemoBase() : std::runtime_error("demo") {}
};
struct EDemoChild : EDemoBase {};

TEST(ReportFilters, FirstActiveMatchingFilterWins) {
  TEmberModuleOptions options("demo.dll");
  auto add = [&](const std::string& name, uint8_t type, uint8_t active = 1) {
    TEmberExceptionFilter filter;
    filter.ExceptionClassName = name;
    filter.ExceptionType = type;
    filter.Active = active;
    return options.ExceptionsFilters().Add(filter);
  };
  EDemoChild child;
  EDemoBase base;
  EXPECT_EQ(-1, FindExceptionFilter(options, &child, false));
  add("EDemoChild", 0, 0);  // inactive
  add("EOther", 0);
  add("EDemoBase", 1);      // handled only
  add("EDemoBase", 2);      // unhandled only
  add("EDemoChild", 0);
  EXPECT_EQ(2, FindExceptionFilter(options, &child, true));
  EXPECT_EQ(3, FindExceptionFilter(options, &child, false));
  EXPECT_EQ(2, FindExceptionFilter(options, &base, true));
  options.ExceptionsFilters().GetItem(2).Active = 0;
  options.ExceptionsFilters().GetItem(3).Active = 0;
  EXPECT_EQ(4, FindExceptionFilter(options, &child, false));
  EXPECT_EQ(-1, FindExceptionFilter(options, &base, false));
  // Not an object at all.
  uint64_t notAnObject[2] = {};
  EXPECT_EQ(-1, FindExceptionFilter(options, &notAnObject, false));
  EXPECT_EQ(-1, FindExceptionFilter(options, nullptr, false));
}

TEST(ReportFilters, WrappedExceptionMatchesItsCarriedClassExactly) {
  TEmberModuleOptions options("demo.dll");
  TEmberExceptionFilter filter;
  filter.ExceptionClassName = "edemochild";  // names of the wrapper are compared exactly
  filter.ExceptionType = 2;
  options.ExceptionsFilters().Add(filter);
  filter.ExceptionClassName = "EOleError";
  options.ExceptionsFilters().Add(filter);
  TActiveXException wrapper("failed", std::make_exception_ptr(EDemoChild()), "EOleError");
  // The wrapper's own case rule does not apply: it matches even when handled.
  EXPECT_EQ(1, FindExceptionFilter(options, &wrapper, true));
  options.ExceptionsFilters().GetItem(1).ExceptionClassName = "TActiveXException";
  EXPECT_EQ(-1, FindExceptionFilter(options, &wrapper, true));
  options.ExceptionsFilters().GetItem(0).ExceptionClassName = "EDemoChild";
  EXPECT_EQ(0, FindExceptionFilter(options, &wrapper, true));
}

// --- Writing the log

class ReportLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options.SetOutputPath(logPath);
    options.SetLogOptions(0);
    options.SetSaveLogFile(1);
    options.SetSendOptions(0);
    LogReportState() = TLogReportState();
    LogReportState().Options = &options;
    LogReportState().ReportText = sample_report::Report("ID1", "Report one.");
    SetLogEvents(TLogEvents());
    ClearLastError();
  }
  void TearDown() override {
    CloseLogFile();
    LogReportState() = TLogReportState();
    SetLogEvents(TLogEvents());
    ClearLastError();
  }
  TempDir dir;
  std::string logPath = dir.File("demo.elf");
  TEmberModuleOptions options{"demo.dll"};
};

TEST_F(ReportLogTest, SuccessFlagFollowsVetoAndSave) {
  EXPECT_TRUE(WriteLogFile());
  EXPECT_EQ(1, TLogFile(logPath, true).GetCount());
  TLogEvents events;
  events.ActionNotify = [](int32_t action, bool& allowed) {
    if (action == 2) allowed = false;
  };
  SetLogEvents(events);
  EXPECT_FALSE(WriteLogFile());
  EXPECT_EQ(1, TLogFile(logPath, true).GetCount());
}

TEST_F(ReportLogTest, UnwritableLogIsRecordedAndARetrySucceeds) {
  // A log inside a plain file: it cannot be created.
  std::string file = dir.File("plain.txt");
  { std::ofstream(file) << "x"; }
  options.SetOutputPath((std::filesystem::path(file) / "demo.elf").string());
#ifdef _WIN32
  // Windows moves a log that cannot be created into the library's own folder, without an error.
  const std::filesystem::path moved = std::filesystem::path(GetLibraryFolder()) / "demo.elf";
  std::filesystem::remove(moved);
  int32_t moves = 0;
  TLogEvents quiet;
  quiet.ErrorNotify = [&](int32_t, bool&) { ++moves; };
  SetLogEvents(quiet);
  EXPECT_TRUE(WriteLogFile());
  EXPECT_EQ(0, moves);
  EXPECT_EQ(eeNone, GetLastLibraryErrorCode());
  EXPECT_EQ(1, TLogFile(moved.string(), true).GetCount());
  EXPECT_FALSE(std::filesystem::exists(logPath));
  std::filesystem::remove(moved);
  return;
#endif
  int32_t errors = 0;
  TLogEvents events;
  events.ErrorNotify = [&](int32_t error, bool& retry) {
    ++errors;
    EXPECT_EQ(3, error);
    EXPECT_EQ(eeLogError, GetLastLibraryErrorCode());
    EXPECT_NE(GetLastLibraryErrorMessage().find("[Log]"), std::string::npos) << GetLastLibraryErrorMessage();
    // Asked to try again once, the log goes where it can be written.
    options.SetOutputPath(logPath);
    retry = errors == 1;
  };
  SetLogEvents(events);
  EXPECT_TRUE(WriteLogFile());
  EXPECT_EQ(1, errors);
  EXPECT_EQ(eeNone, GetLastLibraryErrorCode());
  EXPECT_EQ(1, TLogFile(logPath, true).GetCount());
}

TEST_F(ReportLogTest, WithoutSavingTheReportIsKeptForSendingOnly) {
  options.SetSaveLogFile(0);
  options.SetSendOptions(0x04);
  int32_t events = 0;
  TLogEvents handlers;
  handlers.ActionNotify = [&](int32_t, bool&) { ++events; };
  handlers.ErrorNotify = [&](int32_t, bool&) { ++events; };
  SetLogEvents(handlers);
  EXPECT_TRUE(WriteLogFile());
  EXPECT_EQ(0, events);
  EXPECT_FALSE(std::filesystem::exists(logPath));
  EXPECT_NE(LogReportState().SendText.find("Report one"), std::string::npos);
}

TEST_F(ReportLogTest, DialogNotificationsCarryTheSuccessFlag) {
  std::vector<std::pair<int32_t, bool>> seen;
  TLogEvents events;
  events.ActionNotify = [&](int32_t action, bool& flag) {
    seen.push_back({action, flag});
    if (action == 0) flag = false;
  };
  SetLogEvents(events);
  bool success = true;
  NotifyBeforeDialog(success);
  EXPECT_FALSE(success);
  NotifyAfterDialog(success);
  ASSERT_EQ(2u, seen.size());
  EXPECT_EQ(std::make_pair(0, true), seen[0]);
  EXPECT_EQ(std::make_pair(1, false), seen[1]);
}

}  // namespace
