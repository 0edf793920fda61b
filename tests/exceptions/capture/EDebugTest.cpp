// Tests of the debug-information sources over generated map files, TD32 and JCL blocks placed
// beside fake modules and inside images laid out as the loader maps them.
#include "exceptions/capture/EDebug.h"

#include <gtest/gtest.h>

#include <cstring>

#include "DebugDataBuilders.h"
#include "TestFiles.h"
#include "classlib/Streams.h"

using namespace testdata;

namespace {

constexpr uintptr_t kModule = 0x00400000;
// A code address from an offset into the code section, which starts one page into the image.
uintptr_t Code(uint32_t offset) { return kModule + 4096 + offset; }

void WriteBytes(const std::string& fileName, const std::vector<uint8_t>& bytes) {
  WriteFileBytes(fileName, std::string(bytes.begin(), bytes.end()));
}

// --- Map files

class MapFileTest : public ::testing::Test {
 protected:
  void Expect(const std::string& text) {
    TELMapScanner scanner(text);
    EXPECT_EQ(scanner.SegmentCount(), 2);  // segment 1 only
    EXPECT_EQ(scanner.ProcedureCount(), 3);
    EXPECT_EQ(scanner.LineCount(), 7);
    EXPECT_EQ(scanner.RejectedLines(), 2);  // one going backwards, one in another segment
    uint32_t distance = 99;
    EXPECT_EQ(scanner.ModuleNameFromOffset(0x915), "Unit1");
    EXPECT_EQ(scanner.ProcNameFromOffset(0x915, distance), "Unit1.TForm1.Click");
    EXPECT_EQ(distance, 0x15u);
    EXPECT_EQ(scanner.LineNumberFromOffset(0x915), 31);
    EXPECT_EQ(scanner.SourceNameFromOffset(0x915), "C:\\Work\\Unit1.pas");
    EXPECT_EQ(scanner.ModuleNameFromOffset(0x105), "System");
    EXPECT_EQ(scanner.ProcNameFromOffset(0x105, distance), "System.Bar");
    EXPECT_EQ(scanner.LineNumberFromOffset(0x115), 13);
    EXPECT_EQ(scanner.SourceNameFromOffset(0x115), "System.pas");
    // Before the unit's first procedure: the unit is named, nothing of the unit before it is.
    EXPECT_EQ(scanner.ModuleNameFromOffset(0x850), "Unit1");
    EXPECT_EQ(scanner.ProcNameFromOffset(0x850, distance), "");
    EXPECT_EQ(distance, 0u);
    EXPECT_EQ(scanner.LineNumberFromOffset(0x850), 0);
    EXPECT_EQ(scanner.SourceNameFromOffset(0x850), "");
    EXPECT_EQ(scanner.ModuleNameFromOffset(0x5000), "");
  }
};

TEST_F(MapFileTest, ParsesTheLinkersFormat) { Expect(SampleMapFile()); }

TEST_F(MapFileTest, LineFeedOnlyFilesParseAlike) {
  std::string text = SampleMapFile();
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
    text.erase(at, 1);
  Expect(text);
}

TEST(MapFile, MissingSectionHeaderEndsTheParse) {
  std::string text = SampleMapFile();
  text.replace(text.find("Detailed"), 8, "Detailes");
  TELMapScanner scanner(text);
  EXPECT_EQ(scanner.SegmentCount(), 0);
  EXPECT_EQ(scanner.ProcedureCount(), 0);
  EXPECT_EQ(scanner.LineCount(), 0);
}

TEST(MapFile, DamagedLinesAreSkipped) {
  std::string text = SampleMapFile();
  text.replace(text.find(" 0001:00000100       System.Bar\r\n 0002"), 31,
               " 0001:zz000100       System.Bar");
  text.replace(text.find("    31 0001:00000910"), 20, "    31 0001 00000910");
  TELMapScanner scanner(text);
  uint32_t distance = 0;
  EXPECT_EQ(scanner.ProcedureCount(), 2);
  EXPECT_EQ(scanner.ProcNameFromOffset(0x105, distance), "System.Foo");
  EXPECT_EQ(scanner.LineNumberFromOffset(0x915), 30);
  EXPECT_EQ(scanner.ModuleNameFromOffset(0x915), "Unit1");
}

TEST(MapSource, ResolvesAddressesOfTheModuleBesideIt) {
  TempDir dir;
  FakeModules modules;
  modules.Add(kModule, dir.File("Host.exe"));
  WriteFileBytes(dir.File("Host.map"), SampleMapFile());
  std::unique_ptr<TELDebugInfoSource> source;
  ASSERT_TRUE(CreateDebugInfoSource(kModule, source));
  ASSERT_NE(dynamic_cast<TELDebugInfoMap*>(source.get()), nullptr);
  TELLocationInfo info;
  ASSERT_TRUE(source->GetLocationInfo(Code(0x925), info));
  EXPECT_EQ(info.Address, Code(0x925));
  EXPECT_EQ(info.UnitName, "Unit1");
  EXPECT_EQ(info.ProcedureName, "Unit1.TForm1.Click");
  EXPECT_EQ(info.LineNumber, 32);
  EXPECT_EQ(info.LineNumberOffset, 2);
  EXPECT_EQ(info.SourceName, "C:\\Work\\Unit1.pas");
  EXPECT_EQ(info.DebugInfo, source.get());

  TELLocationInfo untouched;
  EXPECT_FALSE(source->GetLocationInfo(Code(0x7000), untouched));
  EXPECT_EQ(untouched.UnitName, "");
  // An address below the code section wraps far beyond every segment.
  EXPECT_FALSE(source->GetLocationInfo(kModule + 16, untouched));

  // A second call leaves the source alone.
  EXPECT_FALSE(CreateDebugInfoSource(kModule, source));
}

TEST(DebugInfoSource, NothingBesideTheModuleGivesNoSource) {
  TempDir dir;
  FakeModules modules;
  modules.Add(kModule, dir.File("Host.exe"));
  std::unique_ptr<TELDebugInfoSource> source;
  EXPECT_FALSE(CreateDebugInfoSource(kModule, source));
  EXPECT_EQ(source, nullptr);
  EXPECT_FALSE(CreateDebugInfoSource(0x12340000, source));  // a module nobody knows
}

TEST(DebugInfoSource, FileExtensionsAreReplaced) {
  EXPECT_EQ(ChangeFileExtension("C:\\a.b\\Host.exe", ".map"), "C:\\a.b\\Host.map");
  EXPECT_EQ(ChangeFileExtension("C:\\a.b\\Host", ".map"), "C:\\a.b\\Host.map");
  EXPECT_EQ(ChangeFileExtension("/tmp/x.y/z", ".tds"), "/tmp/x.y/z.tds");
}

// --- JCL data

JclBuilder SampleJcl() {
  JclBuilder jcl;
  uint32_t system = jcl.PackedName("System");
  uint32_t unit1 = jcl.PackedName("Unit1");
  uint32_t tform = jcl.PackedName("TForm1");
  uint32_t click = jcl.PackedName("Button1_Click2");
  uint32_t foo = jcl.PlainName("Foo\xAA" "Bar");
  uint32_t at = jcl.PackedName("@Halt0");
  jcl.ModuleName = jcl.PackedName("Host");
  jcl.Units = {{0x0, system}, {0x800, unit1}};
  jcl.Sources = {{0x0, jcl.PlainName("System.pas")}, {0x800, jcl.PlainName("Unit1.pas")}};
  jcl.Procs = {{0x10, foo, 0}, {0x100, at, 0}, {0x900, tform, click}};
  // Line numbers go down between units: the delta is stored as its 32-bit complement.
  jcl.Lines = {{0x10, 1200}, {0x20, 1201}, {0x100, 1300}, {0x900, 30}, {0x910, 31}, {0x920, 32}};
  return jcl;
}

TEST(JclData, DecodesStreamsAndNames) {
  for (bool checkSum : {false, true}) {
    TELBinDebugScanner scanner(SampleJcl().Build(checkSum));
    ASSERT_TRUE(scanner.ValidFormat()) << checkSum;
    EXPECT_EQ(scanner.ModuleName(), "Host");
    uint32_t distance = 0;
    EXPECT_EQ(scanner.ModuleNameFromOffset(0x915), "Unit1");
    EXPECT_EQ(scanner.ProcNameFromOffset(0x915, distance), "TForm1.Button1_Click2");
    EXPECT_EQ(distance, 0x15u);
    EXPECT_EQ(scanner.LineNumberFromOffset(0x915), 31);
    EXPECT_EQ(scanner.SourceNameFromOffset(0x915), "Unit1.pas");
    EXPECT_EQ(scanner.ProcNameFromOffset(0x18, distance), "Foo\xAA" "Bar");
    EXPECT_EQ(scanner.ProcNameFromOffset(0x180, distance), "@Halt0");
    EXPECT_EQ(scanner.LineNumberFromOffset(0x105), 1300);
    EXPECT_EQ(scanner.LineNumberFromOffset(0x5), 0);
    // Before the unit's first procedure and line.
    EXPECT_EQ(scanner.ProcNameFromOffset(0x850, distance), "");
    EXPECT_EQ(distance, 0u);
    EXPECT_EQ(scanner.LineNumberFromOffset(0x850), 0);
    EXPECT_EQ(scanner.SourceNameFromOffset(0x850), "Unit1.pas");
  }
}

TEST(JclData, NameValuesOutsideTheDataGiveNothing) {
  TELBinDebugScanner scanner(SampleJcl().Build(false));
  EXPECT_EQ(scanner.DataToStr(0), "");
  EXPECT_EQ(scanner.DataToStr(0xFFFFFFF0u), "");
}

TEST(JclData, HeaderChecks) {
  std::vector<uint8_t> good = SampleJcl().Build(true);
  auto valid = [](std::vector<uint8_t> data) { return TELBinDebugScanner(std::move(data)).ValidFormat(); };
  EXPECT_TRUE(valid(good));
  for (size_t at : {size_t{40}, good.size() - 1, size_t{29}}) {
    std::vector<uint8_t> changed = good;
    changed[at] ^= 0x01;
    EXPECT_FALSE(valid(changed)) << at;
  }
  std::vector<uint8_t> version = good;
  version[4] = 2;
  EXPECT_FALSE(valid(version));
  std::vector<uint8_t> odd = good;
  odd.push_back(0);
  EXPECT_FALSE(valid(odd));
  EXPECT_FALSE(valid(std::vector<uint8_t>(good.begin(), good.begin() + 34)));
  EXPECT_FALSE(valid({}));
}

TEST(JclSource, ReadsTheSectionOfTheImage) {
  TempDir dir;
  ImageBuilder image;
  image.AddSection(".text", std::vector<uint8_t>(0x1000, 0xCC));
  std::vector<uint8_t> jcl = SampleJcl().Build(true);
  // The raw size is what counts when it is the smaller one.
  std::vector<uint8_t> padded = jcl;
  padded.resize(jcl.size() + 64, 0xEE);
  image.AddSection("JCLDEBUG", padded, static_cast<uint32_t>(jcl.size()));
  FakeModules modules;
  modules.Add(kModule, dir.File("Host.dll"), image.Build());
  std::unique_ptr<TELDebugInfoSource> source;
  ASSERT_TRUE(CreateDebugInfoSource(kModule, source));
  ASSERT_NE(dynamic_cast<TELDebugInfoJedy*>(source.get()), nullptr);
  TELLocationInfo info;
  ASSERT_TRUE(source->GetLocationInfo(Code(0x922), info));
  EXPECT_EQ(info.UnitName, "Unit1");
  EXPECT_EQ(info.ProcedureName, "TForm1.Button1_Click2");
  EXPECT_EQ(info.LineNumber, 32);
  EXPECT_EQ(info.LineNumberOffset, 2);
}

TEST(JclSource, FileBesideTheModuleAndABrokenChecksum) {
  TempDir dir;
  FakeModules modules;
  modules.Add(kModule, dir.File("Host.dll"));
  std::vector<uint8_t> jcl = SampleJcl().Build(true);
  WriteBytes(dir.File("Host.jdbg"), jcl);
  std::unique_ptr<TELDebugInfoSource> source;
  ASSERT_TRUE(CreateDebugInfoSource(kModule, source));
  TELLocationInfo info;
  ASSERT_TRUE(source->GetLocationInfo(Code(0x105), info));
  EXPECT_EQ(info.ProcedureName, "@Halt0");
  EXPECT_EQ(info.SourceName, "System.pas");

  jcl[jcl.size() / 2] ^= 0x40;
  WriteBytes(dir.File("Host.jdbg"), jcl);
  std::unique_ptr<TELDebugInfoSource> none;
  EXPECT_FALSE(CreateDebugInfoSource(kModule, none));
  EXPECT_EQ(none, nullptr);
}

// --- TD32 data

Td32Builder SampleTd32() {
  Td32Builder td;
  uint32_t unit1 = td.Name("Unit1");
  uint32_t system = td.Name("System");
  td.Modules = {{system, {{0x0, 0x7FF}}}, {unit1, {{0x800, 0x3FF}}}};
  td.Procs = {{0x205, td.Name("@System@Move$qqrpvpvi"), 0x10, 0x40},
              {0x204, td.Name("@Unit1@TForm1@Button1Click$qqrp14System@TObject"), 0x900, 0x40},
              {0x205, td.Name("@Unit1@TForm1@@Create$qqrv"), 0x940, 0x20},
              {0x205, td.Name("PlainName"), 0x980, 0x10}};
  td.Sources = {{td.Name("Unit1.pas"), {{0x800, 0xC00, {{0x900, 30}, {0x908, 31}, {0x920, 33}}}}},
                {td.Name("System.pas"), {{0x0, 0x800, {{0x10, 100}}}}}};
  return td;
}

TEST(Td32Data, ModulesProceduresLinesAndNames) {
  std::vector<uint8_t> block = SampleTd32().Build();
  uint64_t start = 99;
  ASSERT_TRUE(IsTD32Block(block.data(), block.size(), start));
  EXPECT_EQ(start, 0u);
  TELTD32InfoScanner scanner(block);
  ASSERT_TRUE(scanner.ValidData());
  EXPECT_EQ(scanner.Symbols().size(), 6u);  // four procedures, a data symbol and a label
  uint32_t distance = 0;
  EXPECT_EQ(scanner.ModuleNameFromOffset(0x90A), "Unit1");
  EXPECT_EQ(scanner.ProcNameFromOffset(0x90A, distance), "TForm1.Button1Click");
  EXPECT_EQ(distance, 0x0Au);
  EXPECT_EQ(scanner.ProcNameFromOffset(0x945, distance), "TForm1.@Create");
  EXPECT_EQ(scanner.ProcNameFromOffset(0x981, distance), "PlainName");
  EXPECT_EQ(scanner.ProcNameFromOffset(0x20, distance), "Move");
  EXPECT_EQ(scanner.LineNumberFromOffset(0x908), 31);  // exact
  EXPECT_EQ(scanner.LineNumberFromOffset(0x90A), 31);  // between entries
  EXPECT_EQ(scanner.LineNumberFromOffset(0x930), 0);   // after the last entry
  EXPECT_EQ(scanner.SourceNameFromOffset(0x930), "Unit1.pas");
  EXPECT_EQ(scanner.ModuleNameFromOffset(0x1000), "");
  EXPECT_EQ(scanner.ProcNameFromOffset(0x960, distance), "");  // between procedures
  EXPECT_EQ(distance, 0u);
}

TEST(Td32Data, NameCleaning) {
  EXPECT_EQ(CleanTD32ProcName("@Unit1@TForm1@Button1Click$qqrp14System@TObject", "UNIT1"),
            "TForm1.Button1Click");
  EXPECT_EQ(CleanTD32ProcName("@Unit1@TForm1@Button1Click$qqrv", "Other"), "Unit1.TForm1.Button1Click");
  EXPECT_EQ(CleanTD32ProcName("@Unit10@Foo", "Unit1"), "Unit10.Foo");
  EXPECT_EQ(CleanTD32ProcName("@Unit1@Foo@$bctr$qqrv", "Unit1"), "Foo");
  EXPECT_EQ(CleanTD32ProcName("Plain@Name", "Unit1"), "Plain@Name");
  EXPECT_EQ(CleanTD32ProcName("", "Unit1"), "");
}

TEST(Td32Data, BlocksThatAreNotTd32) {
  std::vector<uint8_t> block = SampleTd32().Build();
  uint64_t start = 0;
  std::vector<uint8_t> wrongTrailer = block;
  wrongTrailer[wrongTrailer.size() - 5] = 'X';
  EXPECT_FALSE(IsTD32Block(wrongTrailer.data(), wrongTrailer.size(), start));
  std::vector<uint8_t> tooFar = block;
  SetU32(tooFar, tooFar.size() - 4, static_cast<uint32_t>(tooFar.size() + 1));
  EXPECT_FALSE(IsTD32Block(tooFar.data(), tooFar.size(), start));
  std::vector<uint8_t> wrongStart = block;
  wrongStart[2] = '1';
  EXPECT_FALSE(IsTD32Block(wrongStart.data(), wrongStart.size(), start));
  EXPECT_FALSE(IsTD32Block(block.data(), 8, start));
  // Leading bytes before the data: the distance finds where it starts.
  std::vector<uint8_t> prefixed(5, 0x77);
  prefixed.insert(prefixed.end(), block.begin(), block.end());
  ASSERT_TRUE(IsTD32Block(prefixed.data(), prefixed.size(), start));
  EXPECT_EQ(start, 5u);
}

TEST(Td32Data, WrongDirectoryEntrySizeIsAnAssertionInsideAndNotValidOutside) {
  Td32Builder td = SampleTd32();
  td.EntrySize = 16;
  std::vector<uint8_t> block = td.Build();
  EXPECT_THROW(TELTD32InfoScanner scanner(block), EAssertionFailed);
  TempDir dir;
  FakeModules modules;
  modules.Add(kModule, dir.File("Host.exe"));
  WriteBytes(dir.File("Host.tds"), block);
  TELDebugInfoTD32 source(kModule);
  EXPECT_FALSE(source.IsValid());
}

TEST(Td32Data, SegmentIndexOutOfRangeIsAnAssertion) {
  TELModuleInfo module;
  module.Segments.push_back({1, 0, 16});
  EXPECT_EQ(module.GetSegment(0).Size, 16u);
  EXPECT_THROW(module.GetSegment(1), EAssertionFailed);
  EXPECT_THROW(module.GetSegment(-1), EAssertionFailed);
}

TEST(Td32Source, FromTheImagesDebugDirectory) {
  TempDir dir;
  std::vector<uint8_t> block = SampleTd32().Build();
  ImageBuilder image;
  image.AddSection(".text", std::vector<uint8_t>(0x1000, 0x90));
  uint32_t debugRva = image.NextRva();
  std::vector<uint8_t> debug(28, 0);
  SetU32(debug, 12, 9);  // entry type 9, under which TD32 blocks are filed (the reader checks the block itself)
  SetU32(debug, 16, static_cast<uint32_t>(block.size()));
  SetU32(debug, 20, debugRva + 28);  // the block follows the directory entry
  debug.resize(28 + block.size());
  std::memcpy(debug.data() + 28, block.data(), block.size());
  image.AddSection(".debug", debug);
  image.SetDirectory(6, debugRva, 28);
  FakeModules modules;
  modules.Add(kModule, dir.File("Host.exe"), image.Build());
  std::unique_ptr<TELDebugInfoSource> source;
  ASSERT_TRUE(CreateDebugInfoSource(kModule, source));
  ASSERT_NE(dynamic_cast<TELDebugInfoTD32*>(source.get()), nullptr);
  TELLocationInfo info;
  ASSERT_TRUE(source->GetLocationInfo(Code(0x90A), info));
  EXPECT_EQ(info.UnitName, "Unit1");
  EXPECT_EQ(info.ProcedureName, "TForm1.Button1Click");
  EXPECT_EQ(info.LineNumber, 31);
  EXPECT_EQ(info.LineNumberOffset, 1);
  EXPECT_EQ(info.SourceName, "Unit1.pas");
}

TEST(Td32Source, TdsFileWhenTheImageHasNone) {
  TempDir dir;
  FakeModules modules;
  ImageBuilder image;
  image.AddSection(".text", std::vector<uint8_t>(0x100, 0x90));
  modules.Add(kModule, dir.File("Host.exe"), image.Build());
  WriteBytes(dir.File("Host.tds"), SampleTd32().Build());
  TELDebugInfoTD32 source(kModule);
  ASSERT_TRUE(source.IsValid());
  TELLocationInfo info;
  ASSERT_TRUE(source.GetLocationInfo(Code(0x10), info));
  EXPECT_EQ(info.UnitName, "System");
  EXPECT_EQ(info.ProcedureName, "Move");
  EXPECT_EQ(info.LineNumber, 100);
}

TEST(DebugInfoSource, MapFileWinsOverTheOthers) {
  TempDir dir;
  FakeModules modules;
  modules.Add(kModule, dir.File("Host.exe"));
  WriteBytes(dir.File("Host.tds"), SampleTd32().Build());
  WriteBytes(dir.File("Host.jdbg"), SampleJcl().Build(false));
  std::unique_ptr<TELDebugInfoSource> source;
  ASSERT_TRUE(CreateDebugInfoSource(kModule, source));
  EXPECT_NE(dynamic_cast<TELDebugInfoTD32*>(source.get()), nullptr);
  WriteFileBytes(dir.File("Host.map"), SampleMapFile());
  source.reset();
  ASSERT_TRUE(CreateDebugInfoSource(kModule, source));
  EXPECT_NE(dynamic_cast<TELDebugInfoMap*>(source.get()), nullptr);
}

}  // namespace
