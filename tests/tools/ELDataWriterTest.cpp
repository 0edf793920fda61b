// The library data writer: line tables and function symbols converted into the debug block and
// read back by the exception library's own reader, the whole resource read back, the decoded
// line listing, function names and option lines.
#include "tools/eldata/ELDataWriter.h"

#include <gtest/gtest.h>

#include <sstream>

#include "classlib/SysUtils.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/capture/EmberLibraryData.h"

namespace {

constexpr uint32_t kBase = 0x10000000;
constexpr uint32_t kCode = kBase + 0x1000;

TEmberDebugLocation Locate(const std::vector<uint8_t>& block, uint32_t offset, bool& found) {
  TEmberDebugLocation location;
  found = FindDebugLocation(block.data(), block.size(), TEmberNameCoding(), offset, location);
  return location;
}

TEST(ELDataWriter, LineProgramsReadBackAtEveryAddress) {
  // Steps of every size: small ones, lines going back, a long jump, a function without a row of
  // its own, a header's inlined lines inside a function, and a gap between sequences.
  std::vector<TELLineRow> rows = {
      {kCode + 0x10, "plugin.cpp", 10},  {kCode + 0x14, "plugin.cpp", 12},   {kCode + 0x30, "plugin.cpp", 40},
      {kCode + 0x90, "plugin.cpp", 7},   {kCode + 0x2000, "plugin.cpp", 900}, {kCode + 0x2008, "string.h", 77},
      {kCode + 0x2010, "plugin.cpp", 901}, {kCode + 0x25000, "plugin.cpp", 30000}, {kCode + 0x25010, "", 0},
      {kCode + 0x30000, "engine.cpp", 5}, {kCode + 0x30004, "engine.cpp", 6}, {kCode + 0x30010, "", 0},
  };
  std::vector<TELFunctionSymbol> functions = {
      {0x1010, "ns::TPlugin::Process(float**, int)"},
      {0x1080, "Helper(int)"},  // starts between two rows
      {0x3000, "TPlugin::Run() const"},
      {0x31000, "Engine(double)"},
  };
  std::vector<uint8_t> block = BuildDebugBlock(rows, functions, kBase);
  struct TCase {
    uint32_t Offset;
    const char* Unit;
    const char* Class;
    const char* Procedure;
    int32_t Line;
  };
  const TCase cases[] = {
      {0x10, "plugin.cpp", "ns::TPlugin", "Process", 10},  {0x13, "plugin.cpp", "ns::TPlugin", "Process", 10},
      {0x14, "plugin.cpp", "ns::TPlugin", "Process", 12},  {0x7F, "plugin.cpp", "ns::TPlugin", "Process", 40},
      {0x80, "plugin.cpp", "", "Helper", 40},              {0x90, "plugin.cpp", "", "Helper", 7},
      {0x1FFF, "plugin.cpp", "", "Helper", 7},             {0x2000, "plugin.cpp", "TPlugin", "Run", 900},
      {0x2008, "string.h", "TPlugin", "Run", 77},          {0x200F, "string.h", "TPlugin", "Run", 77},
      {0x2010, "plugin.cpp", "TPlugin", "Run", 901},       {0x24FFF, "plugin.cpp", "TPlugin", "Run", 901},
      {0x25000, "plugin.cpp", "TPlugin", "Run", 30000},    {0x2500F, "plugin.cpp", "TPlugin", "Run", 30000},
      {0x30000, "engine.cpp", "", "Engine", 5},            {0x30004, "engine.cpp", "", "Engine", 6},
  };
  for (const TCase& c : cases) {
    bool found = false;
    TEmberDebugLocation location = Locate(block, c.Offset, found);
    ASSERT_TRUE(found) << std::hex << c.Offset;
    EXPECT_EQ(location.UnitName, c.Unit) << std::hex << c.Offset;
    EXPECT_EQ(location.ClassName, c.Class) << std::hex << c.Offset;
    EXPECT_EQ(location.ProcedureName, c.Procedure) << std::hex << c.Offset;
    EXPECT_EQ(location.Line, c.Line) << std::hex << c.Offset;
  }
  // Outside every sequence nothing is found.
  for (uint32_t offset : {0x0u, 0x25010u, 0x2FFFEu, 0x30010u}) {
    bool found = true;
    Locate(block, offset, found);
    EXPECT_FALSE(found) << std::hex << offset;
  }
}

TEST(ELDataWriter, ResourceReadsBackWithOptionsFlagsAndDebugBlock) {
  TEmberModuleOptions options;
  TELDataFlags flags;
  ApplyOptionsText("# plug-in\n\nErrorRateAction=0\n; more\nFreezeTimeout = 0x20\nOutputPath=C:\\logs\\x.elf\n"
                   "LeakOptions=17\n",
                   options, flags);
  EXPECT_EQ(flags.LeakOptions, 17);
  std::vector<uint8_t> block = BuildDebugBlock({{kCode + 4, "a.cpp", 3}, {kCode + 8, "", 0}}, {{0x1004, "F()"}}, kBase);
  std::vector<uint8_t> resource = BuildLibraryDataResource(options, flags, block, 45000.5);
  TEmberModuleOptions read;
  TEmberLibraryData data;
  ASSERT_TRUE(ReadLibraryDataResource(resource.data(), resource.size(), false, read, data));
  EXPECT_EQ(data.Version, EmberLibraryVersion);
  EXPECT_EQ(data.BuildDate, 45000.5);
  EXPECT_EQ(data.Flags[0], 17);
  EXPECT_EQ(read.ErrorRateAction(), 0);
  EXPECT_EQ(read.FreezeTimeout(), 32);
  EXPECT_EQ(read.OutputPath(), "C:\\logs\\x.elf");
  EXPECT_EQ(read.TerminateAction(), TEmberModuleOptions().TerminateAction());
  EXPECT_EQ(data.DebugInfo, block);
  uint32_t address = 0;
  EXPECT_FALSE(FindSymbolInTable(data.SymbolTable, 4, address));
}

TEST(ELDataWriter, OptionLinesRejectUnknownNamesAndBadNumbers) {
  for (const char* text : {"NoSuchOption=1", "ErrorRateAction=two", "ErrorRateAction", "FreezeTimeout="}) {
    TEmberModuleOptions options;
    TELDataFlags flags;
    EXPECT_THROW(ApplyOptionsText(text, options, flags), EConvertError) << text;
  }
}

TEST(ELDataWriter, DecodedLineListingGivesRowsWithFullFileNames) {
  std::istringstream listing(
      "\nmodule.dll:     file format pei-i386\n\nContents of the .debug_line section:\n\n"
      "CU: ./src/a_very_long_source_file_name_for_listing.cpp:\n"
      "File name                            Line number    Starting address    View    Stmt\n"
      "g_source_file_name_for_listing.cpp           12          0x10001000               x\n"
      "g_source_file_name_for_listing.cpp           13          0x10001004       1\n\n"
      "/usr/include/c++/bits/basic_string.h:\n"
      "basic_string.h                              200          0x10001008               x\n"
      "basic_string.h                                -          0x10001010\n");
  std::vector<TELLineRow> rows = ParseDecodedLines(listing);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].File, "a_very_long_source_file_name_for_listing.cpp");
  EXPECT_EQ(rows[0].Line, 12);
  EXPECT_EQ(rows[1].Address, 0x10001004u);
  EXPECT_EQ(rows[2].File, "basic_string.h");
  EXPECT_EQ(rows[3].Line, 0);
}

TEST(ELDataWriter, FunctionNamesSplitIntoClassAndProcedure) {
  struct TCase {
    const char* Name;
    const char* Class;
    const char* Procedure;
  };
  const TCase cases[] = {
      {"VSTPluginMain", "", "VSTPluginMain"},
      {"ns::TFoo::Bar(int) const", "ns::TFoo", "Bar"},
      {"std::vector<int, std::allocator<int> >::push_back(int const&)", "std::vector<int, std::allocator<int> >",
       "push_back"},
      {"TFoo::operator()(int)", "TFoo", "operator()"},
      {"Run(std::function<void (int)>) [clone .cold]", "", "Run"},
      {"a::b.c::d(int)", "a::b_c", "d"},
      {"(anonymous namespace)::Helper(int)", "(anonymous namespace)", "Helper"},
  };
  for (const TCase& c : cases) {
    std::string className, procedure;
    SplitFunctionName(c.Name, className, procedure);
    EXPECT_EQ(className, c.Class) << c.Name;
    EXPECT_EQ(procedure, c.Procedure) << c.Name;
  }
  std::string className, procedure;
  SplitFunctionName(std::string(300, 'x') + "::" + std::string(200, 'y') + "()", className, procedure);
  EXPECT_EQ(className.size(), 127u);
  EXPECT_EQ(procedure.size(), 127u);
}

}  // namespace
