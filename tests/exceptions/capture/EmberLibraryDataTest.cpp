// Tests of the library data: resource blocks of each version, appended blocks in real files,
// the symbol table, the password check and the line programs of the debug information. Blocks
// are compressed with zlib's own deflate and options are written by the options' own writer.
#include "exceptions/capture/EmberLibraryData.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include "DebugDataBuilders.h"
#include "TestFiles.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberCodecs.h"

using namespace testdata;

namespace {

constexpr uintptr_t kModule = 0x00600000;

std::vector<uint8_t> Compress(const std::vector<uint8_t>& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::vector<uint8_t> out(size);
  EXPECT_EQ(compress(out.data(), &size, data.data(), static_cast<uLong>(data.size())), Z_OK);
  out.resize(size);
  return out;
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> OptionsStream(const std::string& smtpHost, uint16_t version = EmberLibraryVersion) {
  TEmberModuleOptions options("other.dll", 0x1234);
  options.SetSmtpHost(smtpHost);
  TMemoryStream stream;
  options.SaveToStream(stream);
  (void)version;
  return std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.GetSize());
}

// --- Debug information blocks

class DebugBlock {
 public:
  explicit DebugBlock(uint16_t version, const std::string& password = std::string())
      : version_(version), password_(password) {}

  void Name(std::vector<uint8_t>& out, const std::string& name) const {
    std::string text = name;
    std::string rest;
    size_t dot = name.find('.');
    bool split = version_ >= 502 && dot != std::string::npos && dot > 0;
    if (split) {
      text = name.substr(0, dot);
      rest = name.substr(dot + 1);
    }
    std::vector<uint8_t> bytes(text.begin(), text.end());
    if (version_ < 500) {
      for (uint8_t& b : bytes) b ^= EmberStreamMask;
    } else if (!password_.empty() && !bytes.empty()) {
      TeaSetKeyFromPassword(password_);
      TeaEncryptBuffer(bytes.data(), bytes.data(), static_cast<int32_t>(bytes.size()));
    }
    out.push_back(static_cast<uint8_t>(bytes.size() + (split ? 128 : 0)));
    Append(out, bytes);
    if (split) Name(out, rest);
  }

  void Unit(const std::string& name, uint32_t firstLine, uint32_t start, uint32_t size,
            const std::vector<uint8_t>& program) {
    ++units_;
    Name(body_, name);
    PutU32(body_, firstLine);
    PutU32(body_, start);
    PutU32(body_, size);
    PutU32(body_, static_cast<uint32_t>(program.size()));
    Append(body_, program);
  }

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> out;
    if (version_ >= 405 && version_ <= 499) {
      PutU32(out, 3);
      out.insert(out.end(), {1, 2, 3});
    }
    PutU32(out, units_);
    Append(out, body_);
    return out;
  }

  // Records of the line program.
  static void Step8(std::vector<uint8_t>& p, int line, int address) {
    p.push_back(static_cast<uint8_t>(((line - 1) << 6) | ((address - 1) << 1)));
  }
  void Proc8(std::vector<uint8_t>& p, int line, int address, const std::string& name) const {
    p.push_back(static_cast<uint8_t>(((line - 1) << 5) | ((address - 1) << 2) | 1));
    Name(p, name);
  }
  void Step16(std::vector<uint8_t>& p, int line, int address, const std::string* name) const {
    uint16_t w = static_cast<uint16_t>(((line - 1) << 11) | ((address - 1) << 4) | (name ? 4 : 0) | 3);
    PutU16(p, w);
    if (name) Name(p, *name);
  }
  void Step32(std::vector<uint8_t>& p, int line, int address, const std::string* name) const {
    uint32_t field = address == 0 ? 0xFFF : static_cast<uint32_t>(address - 1);
    uint32_t e = (field << 16) | (static_cast<uint32_t>(line - 1) & 0xFFFF);
    PutU32(p, (e << 4) | 8 | 3 | (name ? 4 : 0));
    if (name) Name(p, *name);
  }
  void Escape(std::vector<uint8_t>& p, int line, int address, const std::string* name) const {
    PutU32(p, (0x0FFEFFFEu << 4) | 8 | 3 | (name ? 4 : 0));
    PutU16(p, static_cast<uint32_t>(line - 1));
    PutU16(p, static_cast<uint32_t>(address - 1));
    if (name) Name(p, *name);
  }

 private:
  uint16_t version_;
  std::string password_;
  uint32_t units_ = 0;
  std::vector<uint8_t> body_;
};

// Unit1 (lines from 10, code 0x100..0x1FF) with procedures TForm1.Create at 0x101 (line 11),
// TForm1.Destroy at 0x151 (line 33) and Helper at 0x1A1 (line 130), between System and a unit
// of the library itself.
std::vector<uint8_t> SampleDebugInfo(uint16_t version, const std::string& password = std::string()) {
  DebugBlock block(version, password);
  std::vector<uint8_t> system;
  DebugBlock::Step8(system, 1, 32);
  block.Unit("System", 1, 0x0, 0x100, system);
  std::vector<uint8_t> p;
  block.Proc8(p, 1, 1, "TForm1.Create");
  DebugBlock::Step8(p, 2, 0x10);
  std::string destroy = ".Destroy", helper = "Helper";
  block.Step16(p, 20, 0x40, &destroy);
  block.Step32(p, -3, 0x20, nullptr);  // line 33 -> 30
  if (version >= 423) {
    block.Escape(p, 100, 0x30, &helper);
  } else {
    block.Step16(p, 32, 0x30, &helper);  // line step 32 instead of 100
  }
  block.Unit("Unit1", 10, 0x100, 0x100, p);
  std::vector<uint8_t> own;
  DebugBlock::Step8(own, 1, 4);
  block.Unit("EmberRecords", 5, 0x200, 0x10, own);
  return block.Build();
}

TEST(DebugLocation, LineProgramRecords) {
  std::vector<uint8_t> block = SampleDebugInfo(6024);
  TEmberNameCoding coding;
  TEmberDebugLocation at;
  ASSERT_TRUE(FindDebugLocation(block.data(), block.size(), coding, 0x100, at));
  EXPECT_EQ(at.UnitName, "Unit1");
  EXPECT_EQ(at.ProcedureName, "");
  EXPECT_EQ(at.Line, 10);
  ASSERT_TRUE(FindDebugLocation(block.data(), block.size(), coding, 0x105, at));
  EXPECT_EQ(at.ClassName, "TForm1");
  EXPECT_EQ(at.ProcedureName, "Create");
  EXPECT_EQ(at.Line, 11);
  EXPECT_EQ(at.ProcedureFirstLine, 11);
  EXPECT_EQ(at.ProcedureOffset, 0x101u);
  ASSERT_TRUE(FindDebugLocation(block.data(), block.size(), coding, 0x120, at));
  EXPECT_EQ(at.Line, 13);
  ASSERT_TRUE(FindDebugLocation(block.data(), block.size(), coding, 0x160, at));
  EXPECT_EQ(at.ClassName, "TForm1");  // ".Destroy" keeps the class before
  EXPECT_EQ(at.ProcedureName, "Destroy");
  EXPECT_EQ(at.Line, 33);
  ASSERT_TRUE(FindDebugLocation(block.data(), block.size(), coding, 0x180, at));
  EXPECT_EQ(at.Line, 30);  // a negative step of the 32-bit record
  ASSERT_TRUE(FindDebugLocation(block.data(), block.size(), coding, 0x1FF, at));
  EXPECT_EQ(at.ClassName, "");
  EXPECT_EQ(at.ProcedureName, "Helper");
  EXPECT_EQ(at.Line, 130);  // the escaped record, and the rest of the unit after it
  ASSERT_TRUE(FindDebugLocation(block.data(), block.size(), coding, 0x50, at));
  EXPECT_EQ(at.UnitName, "System");
  EXPECT_FALSE(FindDebugLocation(block.data(), block.size(), coding, 0x300, at));
}

TEST(DebugLocation, OlderVersions) {
  for (uint16_t version : {uint16_t{400}, uint16_t{420}, uint16_t{450}, uint16_t{501}}) {
    std::vector<uint8_t> block = SampleDebugInfo(version);
    TEmberNameCoding coding;
    coding.Version = version;
    TEmberDebugLocation at;
    ASSERT_TRUE(FindDebugLocation(block.data(), block.size(), coding, 0x1B0, at)) << version;
    EXPECT_EQ(at.UnitName, "Unit1") << version;
    EXPECT_EQ(at.ProcedureName, "Helper") << version;
    EXPECT_EQ(at.Line, version >= 423 ? 130 : 62) << version;
  }
}

TEST(DebugLocation, TruncatedBlocksFailCleanly) {
  std::vector<uint8_t> block = SampleDebugInfo(6024);
  TEmberNameCoding coding;
  for (size_t size = 0; size < block.size(); ++size) {
    std::vector<uint8_t> cut(block.begin(), block.begin() + static_cast<long>(size));
    TEmberDebugLocation at;
    if (FindDebugLocation(cut.data(), cut.size(), coding, 0x1B0, at)) {
      EXPECT_EQ(at.UnitName, "Unit1");  // only when the unit's program was complete enough
    }
  }
}

// --- Resource blocks

std::vector<uint8_t> Resource(uint16_t storedVersion, const std::vector<uint8_t>& options,
                              const std::vector<uint8_t>& debug, const std::string& password = std::string()) {
  std::vector<uint8_t> out;
  PutU32(out, EmberDataMagic);
  PutU16(out, storedVersion);
  double date = 45000.5;
  const auto* dateBytes = reinterpret_cast<const uint8_t*>(&date);
  out.insert(out.end(), dateBytes, dateBytes + 8);
  uint16_t version = NormalizeELDataVersion(storedVersion);
  if (version >= 6000) out.insert(out.end(), {0xF1, 0xF2});
  std::vector<uint8_t> sized;
  PutU32(sized, static_cast<uint32_t>(debug.size()));
  Append(sized, debug);
  if (version >= 500) {
    std::vector<uint8_t> table;
    table.push_back(4); PutU32(table, 0x1234); PutU32(table, 0);
    table.push_back(7); PutU32(table, 0x5678); PutU32(table, 1);
    table.push_back(255); PutU32(table, 0); PutU32(table, 0);
    table.push_back(9); PutU32(table, 0x9999); PutU32(table, 0);
    PutU32(out, static_cast<uint32_t>(table.size()));
    Append(out, table);
    std::vector<uint8_t> packed = Compress(options);
    PutU32(out, static_cast<uint32_t>(packed.size()));
    Append(out, packed);
    std::vector<uint8_t> test;
    PutU32(test, EmberDataMagic);
    if (!password.empty()) {
      TeaSetKeyFromPassword(password);
      TeaEncryptBuffer(test.data(), test.data(), 4);
    }
    Append(out, test);
    Append(out, Compress(sized));
  } else {
    std::vector<uint8_t> body = options;
    Append(body, sized);
    Append(out, version >= 450 ? Compress(body) : body);
  }
  return out;
}

TEST(LibraryDataResource, CurrentVersion) {
  std::vector<uint8_t> debug = SampleDebugInfo(6024);
  std::vector<uint8_t> block = Resource(6024, OptionsStream("mail.example.org"), debug);
  TEmberModuleOptions options;
  TEmberLibraryData data;
  ASSERT_TRUE(ReadLibraryDataResource(block.data(), block.size(), false, options, data));
  EXPECT_EQ(data.Version, 6024);
  EXPECT_EQ(data.BuildDate, 45000.5);
  EXPECT_EQ(data.Flags[0], 0xF1);
  EXPECT_EQ(options.SmtpHost(), "mail.example.org");
  EXPECT_EQ(data.DebugInfo, debug);
  uint32_t address = 0;
  EXPECT_TRUE(FindSymbolInTable(data.SymbolTable, 7, address));
  EXPECT_EQ(address, 0x5678u);
  EXPECT_FALSE(FindSymbolInTable(data.SymbolTable, 9, address));   // behind the end marker
  EXPECT_FALSE(FindSymbolInTable(data.SymbolTable, 255, address));
  EXPECT_FALSE(FindSymbolInTable(data.SymbolTable, 5, address));

  TEmberLibraryData optionsOnly;
  ASSERT_TRUE(ReadLibraryDataResource(block.data(), block.size(), true, options, optionsOnly));
  EXPECT_TRUE(optionsOnly.DebugInfo.empty());
}

TEST(LibraryDataResource, VersionsAndHeaderSizes) {
  std::vector<uint8_t> debug = SampleDebugInfo(6024);
  // Only the 6xxx option layouts can be written here; older containers are checked by geometry.
  for (uint16_t stored : {uint16_t{601}, uint16_t{6010}}) {
    std::vector<uint8_t> block = Resource(stored, OptionsStream("host"), debug);
    TEmberModuleOptions options;
    TEmberLibraryData data;
    ASSERT_TRUE(ReadLibraryDataResource(block.data(), block.size(), false, options, data)) << stored;
    EXPECT_EQ(data.Version, NormalizeELDataVersion(stored));
    EXPECT_EQ(data.DebugInfo, debug) << stored;
  }
  // A 5xx header is 14 bytes: the symbol table's size follows at once.
  std::vector<uint8_t> block550 = Resource(550, OptionsStream("host"), debug);
  EXPECT_EQ(GetU32(block550, 14), 36u);
  std::vector<uint8_t> block601 = Resource(601, OptionsStream("host"), debug);
  EXPECT_EQ(GetU32(block601, 16), 36u);
  EXPECT_EQ(NormalizeELDataVersion(601), 6001);
  EXPECT_EQ(NormalizeELDataVersion(603), 603);

  std::vector<uint8_t> future = Resource(6025, OptionsStream("host"), debug);
  TEmberModuleOptions options;
  TEmberLibraryData data;
  EXPECT_FALSE(ReadLibraryDataResource(future.data(), future.size(), false, options, data));
  std::vector<uint8_t> wrongMagic = Resource(6024, OptionsStream("host"), debug);
  wrongMagic[3] = 0x20;
  EXPECT_FALSE(ReadLibraryDataResource(wrongMagic.data(), wrongMagic.size(), false, options, data));
}

TEST(LibraryDataResource, DamagedParts) {
  std::vector<uint8_t> block = Resource(6024, OptionsStream("kept.host"), SampleDebugInfo(6024));
  TEmberModuleOptions options;
  TEmberLibraryData data;
  // The debug part does not inflate: the options read before it stay.
  std::vector<uint8_t> broken = block;
  broken.resize(broken.size() - 6);
  EXPECT_FALSE(ReadLibraryDataResource(broken.data(), broken.size(), false, options, data));
  EXPECT_EQ(options.SmtpHost(), "kept.host");
  // Sizes beyond the block.
  std::vector<uint8_t> huge = block;
  SetU32(huge, 16, 0xFFFFFFF0u);
  EXPECT_FALSE(ReadLibraryDataResource(huge.data(), huge.size(), false, options, data));
  for (size_t size = 0; size < block.size(); size += 7)
    EXPECT_FALSE(ReadLibraryDataResource(block.data(), size, false, options, data)) << size;
}

// --- Modules

struct ResourceModules {
  static std::vector<uint8_t>& Block() {
    static std::vector<uint8_t> block;
    return block;
  }
  static bool Resource(uintptr_t module, const char* name, TELImageView& data) {
    if (module != kModule || std::string(name) != "ELDATA" || Block().empty()) return false;
    data.Data = Block().data();
    data.Size = static_cast<uint32_t>(Block().size());
    return true;
  }
};

std::string gAnswerOwn, gAnswerLibrary;
int gAsked = 0;
bool AnswerPassword(TEmberModuleInfo&, bool libraryHandlers, std::string& password) {
  ++gAsked;
  password = libraryHandlers ? gAnswerLibrary : gAnswerOwn;
  return !password.empty();
}

class ModuleDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    access_.FileName = [](uintptr_t module) {
      return module == kModule ? Current()->fileName_ : std::string();
    };
    access_.Image = [](uintptr_t module, TELImageView& view) {
      if (module != kModule || Current()->image_.empty()) return false;
      view.Data = Current()->image_.data();
      view.Size = static_cast<uint32_t>(Current()->image_.size());
      return true;
    };
    access_.Resource = &ResourceModules::Resource;
    Current() = this;
    SetELModuleAccess(&access_);
    SetEmberPasswordRequest(AnswerPassword);
    gAsked = 0;
    fileName_ = dir_.File("Plugin.dll");
  }
  void TearDown() override {
    SetELModuleAccess(nullptr);
    SetEmberPasswordRequest(nullptr);
    ResourceModules::Block().clear();
  }
  static ModuleDataTest*& Current() {
    static ModuleDataTest* current = nullptr;
    return current;
  }
  TEmberModuleInfo* Entry() {
    auto* entry = new TEmberModuleInfo;
    entry->Handle = kModule;
    modules_.Add(entry);
    return entry;
  }
  uint32_t Item(TEmberModuleInfo* module, uint32_t offset, TEmberStackItem& item) {
    ClearStackItem(item);
    item.ModuleInfo = module;
    return FindSymbolLocation(kModule + 4096 + offset, item);
  }

  TempDir dir_;
  std::string fileName_;
  std::vector<uint8_t> image_;
  TELModuleAccess access_;
  TEmberModulesList modules_;
};

TEST_F(ModuleDataTest, ResourceFillsTheEntryAndResolvesAddresses) {
  ResourceModules::Block() = Resource(6024, OptionsStream("smtp.local"), SampleDebugInfo(6024));
  // push ebp; mov ebp, esp at TForm1.Destroy only.
  ImageBuilder image;
  std::vector<uint8_t> code(0x300, 0x90);
  code[0x151] = 0x55; code[0x152] = 0x8B; code[0x153] = 0xEC;
  image.AddSection(".text", code);
  image_ = image.Build();

  EXPECT_TRUE(HasLibraryData(kModule));
  EXPECT_EQ(GetLibraryVersion(kModule), 6024);
  EXPECT_TRUE(HasCurrentLibraryData(kModule));
  TEmberModuleInfo* module = Entry();
  ASSERT_TRUE(LoadModuleData(*module));
  EXPECT_EQ(module->LibraryVersion, 6024);
  EXPECT_EQ(module->BuildDate, 45000.5);
  EXPECT_EQ(module->Options->SmtpHost(), "smtp.local");
  EXPECT_EQ(module->Decipher, 0);  // built without a password: nothing asked
  EXPECT_EQ(gAsked, 0);
  ASSERT_NE(module->DebugData, nullptr);

  TEmberStackItem item;
  ASSERT_TRUE(Item(module, 0x120, item));
  EXPECT_EQ(item.Kind, 4);
  EXPECT_EQ(item.UnitName.Str(), "Unit1");
  EXPECT_EQ(item.ClassName.Str(), "TForm1");
  EXPECT_EQ(item.ProcedureName.Str(), "Create");
  uint32_t line = item.Line, lineOffset = item.LineOffset, address = item.Address;
  EXPECT_EQ(line, 13u);
  EXPECT_EQ(lineOffset, 3u);  // no frame: the first line counts one lower
  EXPECT_EQ(address, kModule + 4096 + 0x120);
  ASSERT_TRUE(Item(module, 0x160, item));
  lineOffset = item.LineOffset;
  EXPECT_EQ(lineOffset, 0u);  // a frame: counted from its own first line
  ASSERT_TRUE(Item(module, 0x180, item));
  lineOffset = item.LineOffset;
  EXPECT_EQ(lineOffset, 0u);  // line 30 lies above the first line: no negative offsets
  ASSERT_TRUE(Item(module, 0x205, item));
  EXPECT_EQ(item.Kind, 1);  // the library's own unit
  EXPECT_TRUE(item.UnitName.Empty());
  EXPECT_FALSE(Item(module, 0x900, item));
}

TEST_F(ModuleDataTest, RefreshReadsOptionsOnly) {
  ResourceModules::Block() = Resource(6024, OptionsStream("refresh.host"), SampleDebugInfo(6024));
  TEmberModuleInfo* module = Entry();
  ASSERT_TRUE(LoadModuleData(*module, true));
  EXPECT_EQ(module->Options->SmtpHost(), "refresh.host");
  EXPECT_EQ(module->DebugData, nullptr);
  TEmberStackItem item;
  EXPECT_FALSE(Item(module, 0x120, item));
}

TEST_F(ModuleDataTest, EncipheredNamesNeedThePassword) {
  ResourceModules::Block() =
      Resource(6024, OptionsStream("x"), SampleDebugInfo(6024, "s3cret"), "s3cret");
  gAnswerOwn = "wrong";
  gAnswerLibrary = "s3cret";
  TEmberModuleInfo* module = Entry();
  ASSERT_TRUE(LoadModuleData(*module));
  EXPECT_EQ(gAsked, 2);  // the module's own event, then the library's handlers
  EXPECT_EQ(module->Decipher, 1);
  EXPECT_EQ(module->Password, "s3cret");
  TeaSetKeyFromPassword("unrelated");  // another user of the cipher in between
  TEmberStackItem item;
  ASSERT_TRUE(Item(module, 0x160, item));
  EXPECT_EQ(item.UnitName.Str(), "Unit1.cpp");
  EXPECT_EQ(item.ClassName.Str(), "TForm1");
  EXPECT_EQ(item.ProcedureName.Str(), "Destroy");

  gAnswerLibrary = "also wrong";
  TEmberModuleInfo* again = Entry();
  ASSERT_TRUE(LoadModuleData(*again));
  EXPECT_EQ(again->Decipher, 0);
  EXPECT_FALSE(Item(again, 0x160, item));  // no noise for names
}

TEST_F(ModuleDataTest, AppendedBlockInTheModuleFile) {
  std::vector<uint8_t> file(300, 0x4D);
  std::vector<uint8_t> block;
  PutU16(block, 6010);
  double date = 44000.25;
  const auto* dateBytes = reinterpret_cast<const uint8_t*>(&date);
  block.insert(block.end(), dateBytes, dateBytes + 8);
  Append(block, OptionsStream("appended.host"));
  std::vector<uint8_t> debug = SampleDebugInfo(6010);
  PutU32(block, static_cast<uint32_t>(debug.size()));
  Append(block, debug);
  Append(file, block);
  PutU32(file, static_cast<uint32_t>(block.size()));
  PutU32(file, EmberDataMagic);
  WriteFileBytes(fileName_, std::string(file.begin(), file.end()));

  EXPECT_TRUE(HasLibraryData(kModule));
  EXPECT_EQ(GetLibraryVersion(kModule), 6010);
  EXPECT_FALSE(HasCurrentLibraryData(kModule));
  TEmberModuleInfo* module = Entry();
  ASSERT_TRUE(LoadModuleData(*module));
  EXPECT_EQ(module->LibraryVersion, 6010);
  EXPECT_EQ(module->BuildDate, 44000.25);
  EXPECT_EQ(module->Options->SmtpHost(), "appended.host");
  TEmberStackItem item;
  ASSERT_TRUE(Item(module, 0x1B0, item));
  EXPECT_EQ(item.ProcedureName.Str(), "Helper");

  // A length that points before the file's start is no block.
  SetU32(file, file.size() - 8, static_cast<uint32_t>(file.size()));
  WriteFileBytes(fileName_, std::string(file.begin(), file.end()));
  EXPECT_FALSE(HasLibraryData(kModule));
  EXPECT_FALSE(LoadModuleData(*Entry()));
}

TEST_F(ModuleDataTest, NoDataAtAll) {
  WriteFileBytes(fileName_, std::string(64, 'x'));
  EXPECT_FALSE(HasLibraryData(kModule));
  EXPECT_EQ(GetLibraryVersion(kModule), 0);
  EXPECT_FALSE(LoadModuleData(*Entry()));
  EXPECT_EQ(GetLibraryVersion(0x7000000), 0);
}

TEST(QualifiedNames, SplitIntoUnitClassAndProcedure) {
  TEmberStackItem item{};
  FillItemFromQualifiedName(item, "Unit1.TForm1.Click");
  EXPECT_EQ(item.Kind, 3);
  EXPECT_EQ(item.UnitName.Str(), "Unit1.cpp");
  EXPECT_EQ(item.ClassName.Str(), "TForm1");
  EXPECT_EQ(item.ProcedureName.Str(), "Click");
  FillItemFromQualifiedName(item, "Unit1.Run");
  EXPECT_EQ(item.ClassName.Str(), "");
  EXPECT_EQ(item.ProcedureName.Str(), "Run");
  ClearStackItem(item);
  FillItemFromQualifiedName(item, "Plain");
  EXPECT_EQ(item.Kind, 2);
  EXPECT_EQ(item.ProcedureName.Str(), "Plain");
  EXPECT_TRUE(IsLibraryUnit("EmberCodecs.cpp"));
  EXPECT_TRUE(IsLibraryUnit("edebug"));
  EXPECT_FALSE(IsLibraryUnit("Unit1"));
}

}  // namespace
