// Library data of a module: the block's header and parts, inflating, the password check and the
// line programs of the debug information. Every size and offset is checked against the bytes.
#include "EmberLibraryData.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "classlib/Streams.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberCodecs.h"

const char* const EmberUnitSourceExtension = ".cpp";

namespace {

// Inflated parts larger than this are taken for damaged data rather than allocated.
constexpr size_t kMaxInflated = 64u << 20;
constexpr size_t kAppendedTrailer = 8;

TEmberPasswordRequest gPasswordRequest = nullptr;
std::string gLastPassword;

// --- Bounded reading

class TBlockReader {
 public:
  TBlockReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool U8(uint8_t& value) {
    if (Left() < 1) return false;
    value = data_[pos_++];
    return true;
  }
  bool U16(uint16_t& value) {
    if (Left() < 2) return false;
    value = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return true;
  }
  bool U32(uint32_t& value) {
    if (Left() < 4) return false;
    std::memcpy(&value, data_ + pos_, 4);  // the module and this code are little-endian alike
    pos_ += 4;
    return true;
  }
  bool Bytes(size_t count, const uint8_t*& at) {
    if (Left() < count) return false;
    at = data_ + pos_;
    pos_ += count;
    return true;
  }
  size_t Left() const { return size_ - pos_; }
  size_t Pos() const { return pos_; }
  bool Seek(size_t pos) {
    if (pos > size_) return false;
    pos_ = pos;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// zlib data of `size` bytes inflated; empty when it does not inflate or inflates to nothing.
std::vector<uint8_t> Inflate(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return out;
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  uint8_t chunk[16384];
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = chunk;
    stream.avail_out = sizeof chunk;
    result = inflate(&stream, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) break;
    out.insert(out.end(), chunk, chunk + (sizeof chunk - stream.avail_out));
    if (out.size() > kMaxInflated) break;
    if (result == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) break;  // truncated
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END) out.clear();
  return out;
}

// Loads options from `bytes`; answers how many bytes they took, or false when they fail.
bool LoadOptions(TEmberModuleOptions& options, const uint8_t* bytes, size_t size, uint16_t version,
                 size_t& used) {
  TMemoryStream stream;
  if (size) stream.WriteBuffer(bytes, static_cast<int32_t>(size));
  stream.SetPosition(0);
  try {
    options.LoadFromStream(stream, version);
  } catch (const Exception&) {
    return false;
  }
  used = static_cast<size_t>(stream.GetPosition());
  return true;
}

bool ReadSizedDebugInfo(TBlockReader& reader, std::vector<uint8_t>& debug) {
  uint32_t length = 0;
  const uint8_t* bytes = nullptr;
  if (!reader.U32(length) || !reader.Bytes(length, bytes)) return false;
  debug.assign(bytes, bytes + length);
  return true;
}

// The cipher's key is shared with the report side (zip and mail passwords), so it is set again
// before every use rather than trusted to still hold the last password's key.
void DeriveKey(const std::string& password) {
  TeaSetKeyFromPassword(password);
  gLastPassword = password;
}

bool IsPlainMagic(const uint8_t test[4]) {
  uint32_t value = 0;
  std::memcpy(&value, test, 4);
  return IsOptionsMagic(value);
}

bool RunPasswordCheck(TEmberModuleInfo& module, const uint8_t test[4], bool libraryHandlers) {
  module.Password.clear();
  std::string password;
  if (!gPasswordRequest || !gPasswordRequest(module, libraryHandlers, password)) password.clear();
  module.Password = password;
  DeriveKey(password);
  uint8_t plain[4];
  TeaDecryptBuffer(test, plain, 4);
  module.Decipher = IsPlainMagic(plain) ? 1 : 0;
  return module.Decipher != 0;
}

}  // namespace

// --- Header

bool IsOptionsMagic(uint32_t magic) { return magic == EmberDataMagic || magic == EmberDataMagicOld; }

uint16_t NormalizeELDataVersion(uint16_t version) {
  return version >= 600 && version <= 602 ? static_cast<uint16_t>(version + 5400) : version;
}

bool ReadLibraryDataResource(const uint8_t* bytes, size_t size, bool optionsOnly,
                             TEmberModuleOptions& options, TEmberLibraryData& data) {
  data = TEmberLibraryData();
  TBlockReader reader(bytes, size);
  uint32_t magic = 0;
  uint16_t stored = 0;
  if (!reader.U32(magic) || !IsOptionsMagic(magic) || !reader.U16(stored)) return false;
  uint16_t version = NormalizeELDataVersion(stored);
  if (version > EmberLibraryVersion) return false;
  const uint8_t* date = nullptr;
  if (!reader.Bytes(8, date)) return false;
  std::memcpy(&data.BuildDate, date, 8);
  data.Version = version;
  if (version >= 6000 && (!reader.U8(data.Flags[0]) || !reader.U8(data.Flags[1]))) return false;

  size_t used = 0;
  if (version >= 500) {
    uint32_t tableSize = 0, optionsSize = 0;
    const uint8_t* table = nullptr;
    const uint8_t* packed = nullptr;
    const uint8_t* test = nullptr;
    if (!reader.U32(tableSize) || !reader.Bytes(tableSize, table)) return false;
    data.SymbolTable.assign(table, table + tableSize);
    if (!reader.U32(optionsSize) || !reader.Bytes(optionsSize, packed)) return false;
    std::vector<uint8_t> optionsBytes = Inflate(packed, optionsSize);
    if (optionsBytes.empty()) return false;
    if (!LoadOptions(options, optionsBytes.data(), optionsBytes.size(), version, used)) return false;
    if (!reader.Bytes(4, test)) return false;
    std::memcpy(data.PasswordTest, test, 4);
    data.HasPasswordTest = true;
    if (optionsOnly) return true;
    const uint8_t* rest = nullptr;
    size_t left = reader.Left();
    reader.Bytes(left, rest);
    std::vector<uint8_t> debug = Inflate(rest, left);
    if (debug.empty()) return false;
    TBlockReader inner(debug.data(), debug.size());
    return ReadSizedDebugInfo(inner, data.DebugInfo);
  }
  std::vector<uint8_t> body;
  const uint8_t* rest = nullptr;
  size_t left = reader.Left();
  reader.Bytes(left, rest);
  if (version >= 450) {
    body = Inflate(rest, left);
    if (body.empty()) return false;
  } else {
    body.assign(rest, rest + left);
  }
  if (!LoadOptions(options, body.data(), body.size(), version, used)) return false;
  if (optionsOnly) return true;
  TBlockReader inner(body.data(), body.size());
  return inner.Seek(used) && ReadSizedDebugInfo(inner, data.DebugInfo);
}

namespace {

// The block's bytes from its version field up to the trailer; false without a block.
bool ReadAppendedBlock(const std::string& fileName, std::vector<uint8_t>& block) {
  if (fileName.empty() || !FileExists(fileName)) return false;
  try {
    TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
    int64_t size = file.GetSize();
    if (size < static_cast<int64_t>(kAppendedTrailer)) return false;
    uint8_t trailer[kAppendedTrailer];
    file.SetPosition(size - static_cast<int64_t>(kAppendedTrailer));
    file.ReadBuffer(trailer, kAppendedTrailer);
    uint32_t length = 0, magic = 0;
    std::memcpy(&length, trailer, 4);
    std::memcpy(&magic, trailer + 4, 4);
    if (!IsOptionsMagic(magic) || length > size - static_cast<int64_t>(kAppendedTrailer) ||
        length > kMaxInflated)
      return false;
    block.resize(length);
    file.SetPosition(size - static_cast<int64_t>(kAppendedTrailer) - length);
    if (length) file.ReadBuffer(block.data(), static_cast<int32_t>(length));
    return true;
  } catch (const Exception&) {
    return false;
  }
}

}  // namespace

uint16_t GetAppendedLibraryVersion(const std::string& fileName) {
  std::vector<uint8_t> block;
  uint16_t version = 0;
  if (!ReadAppendedBlock(fileName, block)) return 0;
  TBlockReader reader(block.data(), block.size());
  return reader.U16(version) ? version : 0;
}

bool ReadAppendedLibraryData(const std::string& fileName, bool optionsOnly,
                             TEmberModuleOptions& options, TEmberLibraryData& data) {
  data = TEmberLibraryData();
  data.Appended = true;
  std::vector<uint8_t> block;
  if (!ReadAppendedBlock(fileName, block)) return false;
  TBlockReader reader(block.data(), block.size());
  const uint8_t* date = nullptr;
  // The version is used as stored here: neither converted nor limited.
  if (!reader.U16(data.Version) || !reader.Bytes(8, date)) return false;
  std::memcpy(&data.BuildDate, date, 8);
  size_t used = 0;
  if (!LoadOptions(options, block.data() + reader.Pos(), reader.Left(), data.Version, used))
    return false;
  reader.Seek(reader.Pos() + used);
  if (optionsOnly) return true;
  return ReadSizedDebugInfo(reader, data.DebugInfo);
}

// --- Symbol table

bool FindSymbolInTable(const std::vector<uint8_t>& table, uint8_t number, uint32_t& address) {
  TBlockReader reader(table.data(), table.size());
  uint8_t entry = 0;
  uint32_t value = 0, second = 0;
  while (reader.U8(entry) && reader.U32(value) && reader.U32(second)) {
    if (entry == 255) return false;
    if (entry == number) {
      address = value;
      return true;
    }
  }
  return false;
}

// --- Per module

namespace {

bool ResourceOf(uintptr_t module, TELImageView& view) {
  if (!GetELModuleResource(module, "ELDATA", view) || view.Size < 4) return false;
  uint32_t magic = 0;
  std::memcpy(&magic, view.Data, 4);
  return IsOptionsMagic(magic);
}

}  // namespace

bool HasLibraryData(uintptr_t module) {
  TELImageView view;
  if (ResourceOf(module, view)) return true;
  std::vector<uint8_t> block;
  return ReadAppendedBlock(GetELModuleFileName(module), block);
}

uint16_t GetLibraryVersion(uintptr_t module) {
  TELImageView view;
  if (ResourceOf(module, view)) {
    if (view.Size < 6) return 0;
    return static_cast<uint16_t>(view.Data[4] | (view.Data[5] << 8));
  }
  return GetAppendedLibraryVersion(GetELModuleFileName(module));
}

bool HasCurrentLibraryData(uintptr_t module) {
  return HasLibraryData(module) && GetLibraryVersion(module) >= EmberLibraryVersion;
}

void SetEmberPasswordRequest(TEmberPasswordRequest request) { gPasswordRequest = request; }

void CheckDebugPassword(TEmberModuleInfo& module, const uint8_t test[4]) {
  // Data built without a password keeps the test value plain: nothing to ask for.
  if (IsPlainMagic(test)) {
    module.Enciphered = 0;
    module.Decipher = 0;
    module.Password.clear();
    return;
  }
  module.Enciphered = 1;
  if (RunPasswordCheck(module, test, false)) return;
  if (module.Handle != GetThisModuleHandle()) RunPasswordCheck(module, test, true);
}

bool LoadModuleData(TEmberModuleInfo& module, bool refreshing) {
  if (!module.Options)
    module.Options = std::make_unique<TEmberModuleOptionsEx>(GetELModuleFileName(module.Handle), module.Handle);
  TEmberLibraryData data;
  TELImageView view;
  bool ok = false;
  if (ResourceOf(module.Handle, view))
    ok = ReadLibraryDataResource(view.Data, view.Size, refreshing, *module.Options, data);
  else
    ok = ReadAppendedLibraryData(GetELModuleFileName(module.Handle), refreshing, *module.Options, data);
  if (!ok) return false;
  module.LibraryVersion = data.Version;
  module.BuildDate = data.BuildDate;
  module.DebugData.reset();
  if (!refreshing) {
    if (data.HasPasswordTest && data.Version >= 500) CheckDebugPassword(module, data.PasswordTest);
    module.DebugData = std::make_unique<TMemoryStream>();
    if (!data.DebugInfo.empty())
      module.DebugData->WriteBuffer(data.DebugInfo.data(), static_cast<int32_t>(data.DebugInfo.size()));
    module.DebugData->SetPosition(0);
  }
  // Another module publishes its current options; those win over the ones it was built with.
  if (module.Handle != GetThisModuleHandle()) module.Options->LoadFromSharedMemory();
  return true;
}

uintptr_t GetSymbolAddress(uint8_t number) {
  uintptr_t module = GetThisModuleHandle();
  TELImageView view;
  if (!ResourceOf(module, view)) return 0;
  TEmberModuleOptions options;
  TEmberLibraryData data;
  ReadLibraryDataResource(view.Data, view.Size, true, options, data);
  uint32_t address = 0;
  return FindSymbolInTable(data.SymbolTable, number, address) ? module + address : 0;
}

// --- Debug information

namespace {

class TDebugBlockReader {
 public:
  TDebugBlockReader(const uint8_t* data, size_t size, const TEmberNameCoding& coding)
      : reader_(data, size), coding_(coding) {}
  TBlockReader& Reader() { return reader_; }

  // A length byte and that many bytes; from version 502 a length of 128 or more says that
  // another part follows, joined with a dot.
  bool Name(std::string& name) {
    name.clear();
    for (int part = 0; part < 64; ++part) {
      uint8_t length = 0;
      const uint8_t* bytes = nullptr;
      if (!reader_.U8(length)) return false;
      bool more = coding_.Version >= 502 && length >= 128;
      if (more) length %= 128;
      if (!reader_.Bytes(length, bytes)) return false;
      std::string text(reinterpret_cast<const char*>(bytes), length);
      if (coding_.Version < 500) {
        for (char& c : text) c = static_cast<char>(static_cast<uint8_t>(c) ^ EmberStreamMask);
      } else if (coding_.Deciphered && length) {
        TeaDecryptBuffer(text.data(), text.data(), static_cast<int32_t>(length));
      }
      if (part) name.push_back('.');
      name += text;
      if (!more) return true;
    }
    return false;
  }

 private:
  TBlockReader reader_;
  TEmberNameCoding coding_;
};

struct TStep {
  int32_t Line = 0;
  uint32_t Address = 0;
  bool NewProcedure = false;
};

bool ReadStep(TBlockReader& reader, uint16_t version, TStep& step) {
  uint8_t b = 0;
  if (!reader.U8(b)) return false;
  step = TStep();
  if ((b & 1) == 0) {
    step.Line = (b >> 6) + 1;
    step.Address = ((b >> 1) & 0x1F) + 1u;
    return true;
  }
  if ((b & 2) == 0) {
    step.NewProcedure = true;
    step.Line = (b >> 5) + 1;
    step.Address = ((b >> 2) & 0x07) + 1u;
    return true;
  }
  if ((b & 8) == 0) {
    uint8_t high = 0;
    if (!reader.U8(high)) return false;
    uint16_t w = static_cast<uint16_t>(b | (high << 8));
    step.NewProcedure = (w & 4) != 0;
    step.Line = static_cast<int16_t>(static_cast<uint16_t>((w >> 11) + 1));
    step.Address = ((w >> 4) & 0x7F) + 1u;
    return true;
  }
  uint8_t more[3];
  for (uint8_t& m : more)
    if (!reader.U8(m)) return false;
  uint32_t d = b | (more[0] << 8) | (more[1] << 16) | (static_cast<uint32_t>(more[2]) << 24);
  step.NewProcedure = (d & 4) != 0;
  uint32_t e = d >> 4;
  if (e == 0x0FFEFFFE && version >= 423) {
    uint16_t lineStep = 0, addressStep = 0;
    if (!reader.U16(lineStep) || !reader.U16(addressStep)) return false;
    step.Line = static_cast<int16_t>(static_cast<uint16_t>(lineStep + 1));
    step.Address = addressStep + 1u;
    return true;
  }
  step.Line = static_cast<int16_t>(static_cast<uint16_t>((e & 0xFFFF) + 1));
  uint32_t addressStep = e >> 16;
  step.Address = addressStep == 0xFFF ? 0 : addressStep + 1;
  return true;
}

void SetProcedure(const std::string& name, std::string& className, std::string& procedure) {
  if (!name.empty() && name[0] == '.') {
    procedure = name.substr(1);  // a method of the class before
    return;
  }
  size_t dot = name.find('.');
  if (dot == std::string::npos) {
    className.clear();
    procedure = name;
  } else {
    className = name.substr(0, dot);
    procedure = name.substr(dot + 1);
  }
}

}  // namespace

bool FindDebugLocation(const uint8_t* block, size_t size, const TEmberNameCoding& coding,
                       uint32_t offset, TEmberDebugLocation& location) {
  TDebugBlockReader names(block, size, coding);
  TBlockReader& reader = names.Reader();
  if (coding.Version >= 405 && coding.Version <= 499) {
    uint32_t skip = 0;
    const uint8_t* ignored = nullptr;
    if (!reader.U32(skip) || !reader.Bytes(skip, ignored)) return false;
  }
  uint32_t unitCount = 0;
  if (!reader.U32(unitCount)) return false;
  for (uint32_t unit = 0; unit < unitCount; ++unit) {
    std::string unitName;
    uint32_t firstLine = 0, start = 0, length = 0, next = 0;
    if (!names.Name(unitName) || !reader.U32(firstLine) || !reader.U32(start) ||
        !reader.U32(length) || !reader.U32(next))
      return false;
    size_t unitEnd = reader.Pos() + next;
    if (unitEnd < reader.Pos() || unitEnd > size) return false;
    if (length == 0 || offset < start || offset - start > length - 1) {
      reader.Seek(unitEnd);
      continue;
    }
    int32_t line = static_cast<int32_t>(firstLine);
    uint32_t address = start;
    std::string className, procedure;
    int32_t procedureLine = line;
    uint32_t procedureAddress = address;
    auto found = [&]() {
      location.UnitName = unitName;
      location.ClassName = className;
      location.ProcedureName = procedure;
      location.Line = line;
      location.ProcedureFirstLine = procedureLine;
      location.ProcedureOffset = procedureAddress;
      return true;
    };
    while (reader.Pos() < unitEnd) {
      TStep step;
      if (!ReadStep(reader, coding.Version, step) || reader.Pos() > unitEnd) return false;
      uint32_t nextAddress = address + step.Address;
      if (offset >= address && offset < nextAddress) return found();
      if (nextAddress < address) return false;  // a step past 4 GB is damage
      line += step.Line;
      address = nextAddress;
      if (step.NewProcedure) {
        std::string name;
        if (!names.Name(name) || reader.Pos() > unitEnd) return false;
        SetProcedure(name, className, procedure);
        procedureLine = line;
        procedureAddress = address;
      }
      if (address > offset) return false;
    }
    // The rest of the unit's code belongs to the last line.
    if (offset >= address) return found();
    return false;
  }
  return false;
}

bool IsLibraryUnit(const std::string& unitName) {
  static const char* const kUnits[] = {"ECore", "EDebug", "EDebugMap", "EDebugJcl", "EDebugTD32",
                                       "EDisAsm", "EHook", "EPeImage", "ELeaks"};
  std::string base = unitName.substr(0, unitName.find('.'));
  auto same = [](const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
  };
  if (base.size() >= 5 && same(base.substr(0, 5), "Ember")) return true;
  for (const char* unit : kUnits)
    if (same(base, unit)) return true;
  return false;
}

namespace {

bool IsSpecialProcedure(const std::string& name) {
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == "initialization" || lower == "finalization";
}

// The code of the module starts with push ebp; mov ebp, esp at `address`.
bool HasFramePrologue(uintptr_t module, uintptr_t address) {
  TELImageView image;
  if (!GetELModuleImage(module, image) || address < module) return false;
  uint64_t rva = address - module;
  if (rva > image.Size || image.Size - rva < 3) return false;
  const uint8_t* code = image.Data + rva;
  return code[0] == 0x55 && code[1] == 0x8B && code[2] == 0xEC;
}

}  // namespace

bool FindSymbolLocation(uintptr_t address, TEmberStackItem& item) {
  TEmberModuleInfo* module = item.ModuleInfo;
  if (!module || !module->DebugData || module->DebugData->GetSize() == 0) return false;
  if (module->Enciphered && !module->Decipher) return false;  // names would be noise
  TEmberNameCoding coding;
  coding.Version = module->LibraryVersion;
  coding.Deciphered = module->Enciphered && module->Decipher;
  if (coding.Deciphered) DeriveKey(module->Password);
  uint32_t offset = static_cast<uint32_t>(address - module->Handle - 4096);
  TEmberDebugLocation location;
  if (!FindDebugLocation(module->DebugData->Memory(), static_cast<size_t>(module->DebugData->GetSize()),
                         coding, offset, location))
    return false;
  item.Address = static_cast<uint32_t>(address);
  if (IsLibraryUnit(location.UnitName)) {
    item.Kind = 1;
    item.UnitName.Assign("");
    item.ClassName.Assign("");
    item.ProcedureName.Assign("");
    item.Line = 0;
    item.LineOffset = 0;
    return true;
  }
  std::string unitName = location.UnitName;
  if (coding.Deciphered && unitName.find('.') == std::string::npos) unitName += EmberUnitSourceExtension;
  item.Kind = 4;
  item.UnitName.Assign(unitName);
  item.ClassName.Assign(location.ClassName);
  item.ProcedureName.Assign(location.ProcedureName);
  item.Line = static_cast<uint32_t>(location.Line);
  // The first line counts one lower unless the procedure opens a stack frame (its first line
  // is then the line of its own code) or is a unit's initialisation or finalisation.
  int32_t first = location.ProcedureFirstLine;
  uintptr_t procedureAddress = module->Handle + 4096 + location.ProcedureOffset;
  if (!IsSpecialProcedure(location.ProcedureName) && !HasFramePrologue(module->Handle, procedureAddress))
    --first;
  int32_t lineOffset = location.Line - first;
  item.LineOffset = static_cast<uint32_t>(lineOffset < 0 ? 0 : lineOffset);
  return true;
}

void FillItemFromQualifiedName(TEmberStackItem& item, const std::string& name) {
  size_t first = name.find('.');
  if (first == std::string::npos) {
    item.ProcedureName.Assign(name);
    item.Kind = 2;
    return;
  }
  size_t second = name.find('.', first + 1);
  item.UnitName.Assign(name.substr(0, first) + EmberUnitSourceExtension);
  if (second == std::string::npos) {
    item.ClassName.Assign("");
    item.ProcedureName.Assign(name.substr(first + 1));
  } else {
    item.ClassName.Assign(name.substr(first + 1, second - first - 1));
    item.ProcedureName.Assign(name.substr(second + 1));
  }
  item.Kind = 3;
}
