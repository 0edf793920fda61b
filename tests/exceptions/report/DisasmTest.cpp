// The assembler section over synthetic code: the window around the exception address, the cut
// to the faulting procedure's block, block headers, comments and their column, the heading.
#include "exceptions/report/EDisasmText.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "exceptions/EmberModuleOptions.h"
#include "exceptions/capture/CallStackFixtures.h"

using namespace callstack_test;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find("\r\n", from);
    EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
    if (end == std::string::npos) break;
    lines.push_back(text.substr(from, end - from));
    from = end + 2;
  }
  return lines;
}

bool IsInstructionLine(const std::string& line) { return !line.empty() && line[0] != ';'; }

int CountInstructions(const std::vector<std::string>& lines) {
  int count = 0;
  for (const std::string& line : lines) count += IsInstructionLine(line) ? 1 : 0;
  return count;
}

int IndexOfMark(const std::vector<std::string>& lines) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].find("<-- EXCEPTION") != std::string::npos) return static_cast<int>(i);
  return -1;
}

constexpr uint32_t Code = 0x00401000;

class AssemblerText : public ::testing::Test {
 protected:
  void SetUp() override {
    module = &process.AddModule(0x00400000, 0x10000, "C:\\App\\app.exe");
    process.Memory.Map(Code, 0x1000);
  }
  void Nops(uint32_t at, uint32_t count) { process.Memory.Write(at, std::vector<uint8_t>(count, 0x90)); }

  TTestProcess process;
  TEmberModuleInfo* module = nullptr;
};

TEST_F(AssemblerText, UnreadableAddressGivesNothingAndKeepsTheHeading) {
  std::string head = "as before";
  EXPECT_EQ(GetAssemblerText(0x00900000, nullptr, head), "");
  EXPECT_EQ(head, "as before");
  // Only 2 of the 4 bytes at the address are readable.
  EXPECT_EQ(GetAssemblerText(Code + 0x1000 - 2, nullptr, head), "");
  EXPECT_EQ(head, "as before");
}

TEST_F(AssemblerText, AnExceptionAtTheStartOfTheRegionShowsNothingBefore) {
  Nops(Code, 0x40);
  std::string head;
  std::vector<std::string> lines = Lines(GetAssemblerText(Code, nullptr, head));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(IndexOfMark(lines), 0);
  EXPECT_EQ(lines[0].substr(0, 10), "00401000  ");
  EXPECT_EQ(CountInstructions(lines), 11) << "the faulting instruction and ten after it";
  EXPECT_EQ(lines.back().substr(0, 8), "0040100A");
}

TEST_F(AssemblerText, TenInstructionsBeforeAtMost) {
  Nops(Code, 0x100);
  std::string head;
  std::vector<std::string> lines = Lines(GetAssemblerText(Code + 0x60, nullptr, head));
  EXPECT_EQ(IndexOfMark(lines), 10);
  EXPECT_EQ(lines[0].substr(0, 8), "00401056");
  EXPECT_EQ(lines[10].substr(0, 8), "00401060");
}

TEST_F(AssemblerText, AReturnRightAfterTheExceptionEndsTheList) {
  Nops(Code, 0x20);
  process.Memory.Write(Code + 0x20, {0x8B, 0x00, 0xC3, 0x90, 0x90});  // mov eax,[eax]; ret
  std::string head;
  std::vector<std::string> lines = Lines(GetAssemblerText(Code + 0x20, nullptr, head));
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(IndexOfMark(lines), 10);
  EXPECT_EQ(lines[11].substr(0, 8), "00401022");
  EXPECT_NE(lines[11].find("ret"), std::string::npos);
  // The exception on the return itself still lists what follows.
  std::vector<std::string> onReturn = Lines(GetAssemblerText(Code + 0x22, nullptr, head));
  EXPECT_EQ(onReturn[IndexOfMark(onReturn)].substr(0, 8), "00401022");
  EXPECT_GT(CountInstructions(onReturn), 12);
}

TEST_F(AssemblerText, SynchronisesOnTheExceptionAddressThroughLongInstructions) {
  // Five-byte moves; the window's start falls inside one of them.
  for (uint32_t i = 0; i < 40; ++i) process.Memory.Write(Code + 5 * i, {0xB8, 0x01, 0x00, 0x00, 0x00});
  std::string head;
  uint32_t exception = Code + 5 * 20;
  std::vector<std::string> lines = Lines(GetAssemblerText(exception, nullptr, head));
  int mark = IndexOfMark(lines);
  ASSERT_EQ(mark, 10);
  for (int i = 0; i < mark; ++i) {
    uint32_t expected = exception - 5 * static_cast<uint32_t>(mark - i);
    char text[9];
    std::snprintf(text, sizeof text, "%08X", expected);
    EXPECT_EQ(lines[i].substr(0, 8), text);
  }
}

TEST_F(AssemblerText, ListingStartsWithTheBlockOfTheFaultingProcedure) {
  Nops(Code, 0x60);
  TTableDebugSource& source = process.AddDebugSource(*module);
  source.Add(Code, Code + 0x10, "C:\\src\\Unit1.pas", "Unit1.TPrev.Run", 10, 3);
  source.Add(Code + 0x10, Code + 0x18, "C:\\src\\Unit1.pas", "Unit1.TForm1.Click", 20, 0);
  source.Add(Code + 0x18, Code + 0x40, "C:\\src\\Unit1.pas", "Unit1.TForm1.Click", 21, 1);
  std::string head;
  // Six instructions into Click: the four of Run before it are cut away.
  std::vector<std::string> lines = Lines(GetAssemblerText(Code + 0x16, nullptr, head));
  ASSERT_GE(lines.size(), 12u);
  EXPECT_EQ(lines[0], "; Unit1.TForm1.Click (Line=20 - Offset=0)");
  EXPECT_EQ(lines[1], "; " + std::string(std::string("Unit1.TForm1.Click (Line=20 - Offset=0)").size(), '-'));
  EXPECT_EQ(lines[2].substr(0, 8), "00401010");
  EXPECT_EQ(lines[8].substr(0, 8), "00401016");
  EXPECT_EQ(IndexOfMark(lines), 8);
  // The next line of the same procedure gets a header of its own after a ";" line.
  EXPECT_EQ(lines[9], "00401017  nop");
  EXPECT_EQ(lines[10], ";");
  EXPECT_EQ(lines[11], "; Line=21 - Offset=1");
  EXPECT_EQ(lines[12], "; " + std::string(std::string("Line=21 - Offset=1").size(), '-'));
  EXPECT_EQ(lines[13].substr(0, 8), "00401018");
}

TEST_F(AssemblerText, WithoutProcedureChangeInTheWindowTheListingIsNotCut) {
  Nops(Code, 0x60);
  TTableDebugSource& source = process.AddDebugSource(*module);
  source.Add(Code + 0x25, Code + 0x60, "Unit2.pas", "Work", 5, 2);
  std::string head;
  std::vector<std::string> lines = Lines(GetAssemblerText(Code + 0x20, nullptr, head));
  ASSERT_EQ(lines.size(), 24u);
  EXPECT_EQ(lines[0].substr(0, 8), "00401016");
  EXPECT_EQ(IndexOfMark(lines), 10);
  EXPECT_EQ(lines[14].substr(0, 8), "00401024");
  EXPECT_EQ(lines[15], ";");
  EXPECT_EQ(lines[16], "; Unit2.Work (Line=5 - Offset=2)");
  EXPECT_EQ(lines[18].substr(0, 8), "00401025");
}

TEST_F(AssemblerText, CommentsStartInOneColumnAndTheHeadingUnderlinesTheLongestLine) {
  constexpr uint32_t Text = 0x00402000;
  process.Memory.Write(Text, {'H', 'e', 'l', 'l', 'o', 0x0A, 0});
  Nops(Code, 0x10);
  process.Memory.Write(Code + 0x10, Cat({{0x68}, Le32(Text)}));     // push $00402000
  process.Memory.Write(Code + 0x15, {0x8B, 0x00});                   // mov eax,[eax]
  process.Memory.Write(Code + 0x17, Cat({{0x68}, Le32(Text)}));     // the exception: a string too
  process.Memory.Write(Code + 0x1C, {0x90, 0x90, 0xC3});
  TTableDebugSource& source = process.AddDebugSource(*module);
  source.Add(Code, Code + 0x40, "Main.pas", "Start", 3, 0);
  std::string head = "old";
  std::string text = GetAssemblerText(Code + 0x17, nullptr, head);
  std::vector<std::string> lines = Lines(text);
  size_t longestCode = 0, longestLine = 0;
  for (const std::string& line : lines) {
    longestLine = std::max(longestLine, line.size());
    if (!IsInstructionLine(line)) continue;
    std::string code = line.substr(0, line.find(';'));
    code.erase(code.find_last_not_of(' ') + 1);
    longestCode = std::max(longestCode, code.size());
  }
  int commented = 0;
  for (const std::string& line : lines) {
    if (!IsInstructionLine(line) || line.find(';') == std::string::npos) continue;
    EXPECT_EQ(line.find(';'), longestCode + 2) << line;
    ++commented;
  }
  EXPECT_EQ(commented, 2);
  int mark = IndexOfMark(lines);
  ASSERT_GE(mark, 0);
  EXPECT_NE(lines[mark].find("'Hello.'"), std::string::npos);
  EXPECT_EQ(lines[mark].substr(lines[mark].size() - 14), " <-- EXCEPTION");
  EXPECT_EQ(lines[0], "; Main.Start (Line=3 - Offset=0)");
  EXPECT_EQ(head, "Assembler Information:\r\n" + std::string(longestLine, '-'));

  // A customised title, and an underline at least one longer than the title.
  TEmberModuleOptions options;
  options.SetCustomizedText(14, "A very long assembler section title that beats every line of the listing");
  GetAssemblerText(Code + 0x17, &options, head);
  std::string title = "A very long assembler section title that beats every line of the listing";
  EXPECT_EQ(head, title + ":\r\n" + std::string(title.size() + 1, '-'));
}

TEST_F(AssemblerText, CallTargetsShowTheirLocationNames) {
  constexpr uint32_t Target = Code + 0x200;
  constexpr uint32_t Thunk = Code + 0x300;
  constexpr uint32_t Slot = Code + 0x380;
  Nops(Code, 0x20);
  process.Memory.Write(Code + 0x10, CallRel(Code + 0x10, Target));
  process.Memory.Write(Code + 0x15, CallRel(Code + 0x15, Target + 0x20));
  process.Memory.Write(Code + 0x1A, CallRel(Code + 0x1A, Thunk));
  process.Memory.Write(Thunk, Cat({{0xFF, 0x25}, Le32(Slot)}));
  process.Memory.WriteWord(Slot, Target);
  TTableDebugSource& source = process.AddDebugSource(*module);
  source.Add(Target, Target + 0x20, "Lib.pas", "Lib.TList.Add", 100, 0);
  source.Add(Target + 0x20, Target + 0x40, "Lib.pas", "Lib.TList.Add", 104, 4);
  std::string head;
  std::vector<std::string> lines = Lines(GetAssemblerText(Code + 0x10, nullptr, head));
  ASSERT_GE(lines.size(), 13u);
  EXPECT_NE(lines[10].find("Lib.TList.Add"), std::string::npos) << lines[10];
  EXPECT_EQ(lines[10].find("(Line="), std::string::npos) << "a call to the entry shows the bare name";
  EXPECT_NE(lines[11].find("Lib.TList.Add (Line=104)"), std::string::npos) << lines[11];
  EXPECT_NE(lines[12].find("Lib.TList.Add"), std::string::npos) << "through the import slot: " << lines[12];
}

TEST(DisasmStringComment, QuotesTheBytesAtA32BitNumber) {
  TTestProcess process;
  process.Memory.Write(0x00403000, {'a', 0x01, 'b', 0});
  std::vector<uint8_t> longText(40, 'x');
  process.Memory.Write(0x00404000, longText);
  EXPECT_EQ(DisasmStringComment("$00403000"), "$00403000  ; 'a.b'");
  EXPECT_EQ(DisasmStringComment("$00404000"), "$00404000  ; '" + std::string(32, 'x') + "'...");
  process.Memory.Write(0x00405000, {0});
  EXPECT_EQ(DisasmStringComment("$00405000"), "$00405000  ; ''");
  EXPECT_EQ(DisasmStringComment("$00900000"), "$00900000");  // unreadable
  EXPECT_EQ(DisasmStringComment("$3000"), "$3000");          // not a 4-byte operand
  EXPECT_EQ(DisasmStringComment("-$10"), "-$10");
  EXPECT_EQ(DisasmStringComment("$0040300G"), "$0040300G");
  // Text running into an unreadable page ends there, unterminated.
  process.Memory.Write(0x00406FFE, {'o', 'k'});
  EXPECT_EQ(DisasmStringComment("$00406FFE"), "$00406FFE  ; 'ok'...");
}

TEST(DisasmSymbolName, UnknownAddressesKeepTheirText) {
  TTestProcess process;
  EXPECT_EQ(DisasmSymbolName(0x00401000, "$00401000"), "$00401000");
  TEmberModuleInfo& module = process.AddModule(0x00400000, 0x10000, "m.exe");
  TTestProcess::AddFunction(module, "Exported", 0x00401000, 0x10);
  EXPECT_EQ(DisasmSymbolName(0x00401004, "x"), "Exported");
  EXPECT_EQ(DisasmSymbolName(0x00401010, "x"), "x");
}

TEST(AssemblerTextFuzz, RandomCodeAlwaysMarksTheExceptionOnce) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    TTestProcess process;
    std::vector<uint8_t> code(0x200);
    for (auto& byte : code) byte = static_cast<uint8_t>(random());
    process.Memory.Write(0x00401000, code);
    if (round % 2) {
      TEmberModuleInfo& module = process.AddModule(0x00400000, 0x10000, "f.exe");
      TTableDebugSource& source = process.AddDebugSource(module);
      for (uint32_t r = 0; r < 8; ++r)
        source.Add(0x00401000 + r * 0x40, 0x00401040 + r * 0x40, "U.pas", "U.P" + std::to_string(r % 3),
                   static_cast<int32_t>(r), static_cast<int32_t>(r % 2));
    }
    uint32_t exception = 0x00401000 + random() % 0x1FC;
    std::string head;
    std::vector<std::string> lines = Lines(GetAssemblerText(exception, nullptr, head));
    int marks = 0;
    for (const std::string& line : lines) marks += line.find("<-- EXCEPTION") != std::string::npos ? 1 : 0;
    EXPECT_EQ(marks, 1) << "round " << round;
    EXPECT_LE(CountInstructions(lines), 21);
    EXPECT_FALSE(head.empty());
  }
}

}  // namespace
