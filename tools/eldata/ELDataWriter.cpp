// Library data of a linked module: reading the image and its line listing, converting them into
// the debug-information block, and writing the resource.
#include "ELDataWriter.h"

#include <cxxabi.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>

#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/capture/EmberLibraryData.h"

namespace {

constexpr uint32_t kCodeSectionFlag = 0x20;       // IMAGE_SCN_CNT_CODE
constexpr uint32_t kDiscardableFlag = 0x02000000;  // IMAGE_SCN_MEM_DISCARDABLE (debug sections)
constexpr size_t kMaxNamePart = 127;

uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
  return at + 2 <= b.size() ? static_cast<uint16_t>(b[at] | (b[at + 1] << 8)) : 0;
}
uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  if (at + 4 > b.size()) return 0;
  uint32_t value;
  std::memcpy(&value, b.data() + at, 4);
  return value;
}

void PutU8(std::vector<uint8_t>& out, uint8_t value) { out.push_back(value); }
void PutU16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}
void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void PutBytes(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::vector<uint8_t> out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 9) != Z_OK)
    throw EWriteError("Cannot compress the library data.");
  out.resize(size);
  return out;
}

std::string StringAt(const std::vector<uint8_t>& bytes, size_t at, size_t limit) {
  std::string text;
  while (at < bytes.size() && text.size() < limit && bytes[at] != 0) text.push_back(static_cast<char>(bytes[at++]));
  return text;
}

// A symbol name of the image as a readable function name.
std::string DemangleSymbol(std::string name) {
  if (name.size() > 3 && name.compare(0, 3, "__Z") == 0) {
    int status = 0;
    char* text = abi::__cxa_demangle(name.c_str() + 1, nullptr, nullptr, &status);
    if (status == 0 && text != nullptr) {
      std::string result = text;
      std::free(text);
      return result;
    }
    std::free(text);
    return name.substr(1);
  }
  if (!name.empty() && name[0] == '_') name.erase(0, 1);
  size_t at = name.find('@');  // stdcall decoration
  if (at != std::string::npos && at > 0) name.erase(at);
  return name;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsNumber(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

bool ParseAddress(const std::string& text, uint32_t& value) {
  const char* begin = text.c_str();
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    begin += 2;
    base = 16;
  } else if (!IsNumber(text)) {
    return false;
  }
  char* end = nullptr;
  unsigned long parsed = std::strtoul(begin, &end, base);
  if (end == begin || *end != 0) return false;
  value = static_cast<uint32_t>(parsed);
  return true;
}

// Name parts are stored with a length byte; 128 and more joins the next part with a dot.
void PutName(std::vector<uint8_t>& out, const std::string& first, const std::string& second = std::string()) {
  std::string a = first.substr(0, kMaxNamePart);
  if (!second.empty() && !a.empty()) {
    PutU8(out, static_cast<uint8_t>(a.size() | 0x80));
    out.insert(out.end(), a.begin(), a.end());
    a = second.substr(0, kMaxNamePart);
  } else if (a.empty()) {
    a = second.substr(0, kMaxNamePart);
  }
  PutU8(out, static_cast<uint8_t>(a.size()));
  out.insert(out.end(), a.begin(), a.end());
}

// One step of a line program: the line moves by `line` (signed), the address by `address`.
void PutStep(std::vector<uint8_t>& out, int32_t line, uint32_t address, bool newProcedure) {
  if (!newProcedure && line >= 1 && line <= 4 && address >= 1 && address <= 32) {
    PutU8(out, static_cast<uint8_t>(((line - 1) << 6) | ((address - 1) << 1)));
    return;
  }
  if (newProcedure && line >= 1 && line <= 8 && address >= 1 && address <= 8) {
    PutU8(out, static_cast<uint8_t>(((line - 1) << 5) | ((address - 1) << 2) | 1));
    return;
  }
  const uint32_t flag = newProcedure ? 4 : 0;
  if (line >= 1 && line <= 32 && address >= 1 && address <= 128) {
    PutU16(out, static_cast<uint16_t>(((line - 1) << 11) | ((address - 1) << 4) | flag | 3));
    return;
  }
  const uint32_t lineBits = static_cast<uint16_t>(line - 1);
  const uint32_t addressBits = address == 0 ? 0xFFF : address - 1;
  const uint32_t e = (addressBits << 16) | lineBits;
  if (address <= 0xFFF && e != 0x0FFEFFFE) {
    PutU32(out, (e << 4) | flag | 0xB);
    return;
  }
  PutU32(out, (0x0FFEFFFEu << 4) | flag | 0xB);
  PutU16(out, static_cast<uint16_t>(lineBits));
  PutU16(out, static_cast<uint16_t>(address - 1));
}

// A point of the line program: where a line (or a function) starts.
struct TPoint {
  uint32_t Offset;
  int32_t Line;
  int32_t Function;  // index into the functions starting here, -1 when none starts here
};

}  // namespace

// --- Image

bool ReadImageFile(const std::string& fileName, TELImageFile& image, std::string& error) {
  image = TELImageFile();
  std::ifstream file(fileName, std::ios::binary);
  if (!file) {
    error = "cannot open \"" + fileName + "\"";
    return false;
  }
  image.Bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  const std::vector<uint8_t>& b = image.Bytes;
  const uint32_t pe = U32(b, 0x3C);
  if (U16(b, 0) != 0x5A4D || U32(b, pe) != 0x00004550 || U16(b, pe + 24) != 0x10B) {
    error = "\"" + fileName + "\" is not a 32-bit PE image";
    return false;
  }
  const uint16_t sectionCount = U16(b, pe + 6);
  const uint32_t symbols = U32(b, pe + 12);
  const uint32_t symbolCount = U32(b, pe + 16);
  const uint16_t optionalSize = U16(b, pe + 20);
  image.ImageBase = U32(b, pe + 24 + 28);
  const size_t strings = static_cast<size_t>(symbols) + static_cast<size_t>(symbolCount) * 18;
  auto longName = [&](size_t offset) { return symbols != 0 ? StringAt(b, strings + offset, 1024) : std::string(); };
  size_t at = pe + 24 + optionalSize;
  for (uint16_t i = 0; i < sectionCount; ++i, at += 40) {
    if (at + 40 > b.size()) {
      error = "section table cut short";
      return false;
    }
    TELImageSection section;
    section.Name = StringAt(b, at, 8);
    if (!section.Name.empty() && section.Name[0] == '/') section.Name = longName(std::strtoul(section.Name.c_str() + 1, nullptr, 10));
    section.VirtualSize = U32(b, at + 8);
    section.VirtualAddress = U32(b, at + 12);
    section.RawSize = U32(b, at + 16);
    section.RawOffset = U32(b, at + 20);
    section.Characteristics = U32(b, at + 36);
    image.Sections.push_back(section);
  }
  for (uint32_t i = 0; symbols != 0 && i < symbolCount; ++i) {
    const size_t record = symbols + static_cast<size_t>(i) * 18;
    if (record + 18 > b.size()) break;
    const int16_t sectionNumber = static_cast<int16_t>(U16(b, record + 12));
    const uint8_t storage = b[record + 16];
    const uint8_t auxiliary = b[record + 17];
    const uint32_t value = U32(b, record + 8);
    i += auxiliary;
    if (sectionNumber < 1 || sectionNumber > static_cast<int16_t>(image.Sections.size())) continue;
    const TELImageSection& section = image.Sections[static_cast<size_t>(sectionNumber - 1)];
    if ((section.Characteristics & kCodeSectionFlag) == 0 || (storage != 2 && storage != 3)) continue;
    std::string name = U32(b, record) == 0 ? longName(U32(b, record + 4)) : StringAt(b, record, 8);
    if (name.empty() || name[0] == '.') continue;
    image.Functions.push_back({section.VirtualAddress + value, DemangleSymbol(name)});
  }
  std::stable_sort(image.Functions.begin(), image.Functions.end(),
                   [](const TELFunctionSymbol& x, const TELFunctionSymbol& y) { return x.Rva < y.Rva; });
  return true;
}

bool SameCodeLayout(const TELImageFile& first, const TELImageFile& second, std::string& error) {
  auto allocated = [](const TELImageFile& image) {
    std::vector<const TELImageSection*> list;
    for (const TELImageSection& section : image.Sections)
      if ((section.Characteristics & kDiscardableFlag) == 0 && section.Name != ".rsrc" && section.Name != ".reloc")
        list.push_back(&section);
    return list;
  };
  const auto a = allocated(first);
  const auto b = allocated(second);
  if (first.ImageBase != second.ImageBase || a.size() != b.size()) {
    error = "the images have different sections";
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    // A stripped image keeps only the first 8 characters of long section names.
    if (a[i]->Name.substr(0, 8) != b[i]->Name.substr(0, 8) || a[i]->VirtualAddress != b[i]->VirtualAddress ||
        a[i]->VirtualSize != b[i]->VirtualSize) {
      error = "section " + a[i]->Name + " moved or changed its size";
      return false;
    }
    if ((a[i]->Characteristics & kCodeSectionFlag) == 0) continue;
    const uint32_t size = std::min(a[i]->RawSize, a[i]->VirtualSize);
    if (a[i]->RawOffset + size > first.Bytes.size() || b[i]->RawOffset + size > second.Bytes.size() ||
        std::memcmp(first.Bytes.data() + a[i]->RawOffset, second.Bytes.data() + b[i]->RawOffset, size) != 0) {
      error = "the code of section " + a[i]->Name + " differs";
      return false;
    }
  }
  return true;
}

// --- Line listing

std::vector<TELLineRow> ParseDecodedLines(std::istream& listing) {
  std::vector<TELLineRow> rows;
  std::string file;
  std::string text;
  while (std::getline(listing, text)) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    if (text.empty()) continue;
    std::istringstream fields(text);
    std::vector<std::string> tokens;
    for (std::string token; fields >> token && tokens.size() < 3;) tokens.push_back(token);
    uint32_t address = 0;
    if (tokens.size() >= 3 && (IsNumber(tokens[1]) || tokens[1] == "-") && ParseAddress(tokens[2], address)) {
      rows.push_back({address, file, tokens[1] == "-" ? 0 : std::atoi(tokens[1].c_str())});
    } else if (text.back() == ':' && text.find("Contents of") != 0) {
      std::string path = text.substr(0, text.size() - 1);
      if (path.compare(0, 4, "CU: ") == 0) path.erase(0, 4);
      file = BaseName(path);
    }
  }
  return rows;
}

// --- Names

void SplitFunctionName(const std::string& demangled, std::string& className, std::string& procedure) {
  std::string name = demangled;
  size_t clone = name.find(" [clone");
  if (clone != std::string::npos) name.erase(clone);
  // The parameter list: the last "(" at depth 0, looking from the end over the qualifiers.
  int depth = 0;
  size_t open = std::string::npos;
  for (size_t i = name.size(); i-- > 0;) {
    char c = name[i];
    if (c == ')' || c == '>' || c == ']') ++depth;
    if (c == '(' || c == '<' || c == '[') {
      --depth;
      if (depth == 0 && c == '(') {
        open = i;
        // "operator()" keeps its own parentheses.
        if (i >= 8 && name.compare(i - 8, 8, "operator") == 0) continue;
        break;
      }
    }
  }
  if (open != std::string::npos && open > 0) name.erase(open);
  // The last "::" outside template arguments separates class and procedure.
  depth = 0;
  size_t split = std::string::npos;
  for (size_t i = 0; i + 1 < name.size(); ++i) {
    if (name[i] == '<' || name[i] == '(') ++depth;
    if (name[i] == '>' || name[i] == ')') --depth;
    if (depth == 0 && name[i] == ':' && name[i + 1] == ':') split = i;
  }
  className = split == std::string::npos ? std::string() : name.substr(0, split);
  procedure = split == std::string::npos ? name : name.substr(split + 2);
  for (std::string* part : {&className, &procedure}) {
    std::replace(part->begin(), part->end(), '.', '_');
    if (part->size() > kMaxNamePart) part->resize(kMaxNamePart);
  }
}

// --- Debug block

std::vector<uint8_t> BuildDebugBlock(std::vector<TELLineRow> rows, const std::vector<TELFunctionSymbol>& functions,
                                     uint32_t imageBase, uint32_t codeBase) {
  const uint64_t origin = static_cast<uint64_t>(imageBase) + codeBase;
  // Rows by address; at one address a row with a line wins over the end of a sequence.
  std::stable_sort(rows.begin(), rows.end(), [](const TELLineRow& a, const TELLineRow& b) { return a.Address < b.Address; });
  struct TRow {
    uint32_t Offset;
    std::string File;
    int32_t Line;
  };
  std::vector<TRow> points;
  for (const TELLineRow& row : rows) {
    if (row.Address < origin) continue;
    const uint32_t offset = static_cast<uint32_t>(row.Address - origin);
    if (!points.empty() && points.back().Offset == offset) {
      if (row.Line != 0) points.back() = {offset, row.File, row.Line};
      continue;
    }
    if (!points.empty() && points.back().Line == row.Line && points.back().File == row.File) continue;
    points.push_back({offset, row.File, row.Line});
  }
  // Function starts by offset.
  std::vector<std::pair<uint32_t, const TELFunctionSymbol*>> starts;
  for (const TELFunctionSymbol& function : functions)
    if (function.Rva >= codeBase) starts.emplace_back(function.Rva - codeBase, &function);
  auto functionAt = [&](uint32_t offset) -> const TELFunctionSymbol* {
    auto it = std::upper_bound(starts.begin(), starts.end(), offset,
                               [](uint32_t value, const auto& entry) { return value < entry.first; });
    return it == starts.begin() ? nullptr : std::prev(it)->second;
  };

  std::vector<uint8_t> block;
  PutU32(block, 0);  // unit count, filled in at the end
  uint32_t unitCount = 0;
  size_t i = 0;
  while (i < points.size()) {
    if (points[i].Line == 0) {
      ++i;
      continue;
    }
    // One unit: the run of points of one file up to a sequence end or another file.
    size_t end = i;
    while (end < points.size() && points[end].Line != 0 && points[end].File == points[i].File) ++end;
    const uint32_t first = points[i].Offset;
    const uint32_t limit = end < points.size() ? points[end].Offset : points[end - 1].Offset + 1;
    std::vector<TPoint> program;
    for (size_t k = i; k < end; ++k) program.push_back({points[k].Offset, points[k].Line, -1});
    // Functions that start inside the run without a row of their own get a point of the line before.
    auto from = std::lower_bound(starts.begin(), starts.end(), first,
                                 [](const auto& entry, uint32_t value) { return entry.first < value; });
    for (auto it = from; it != starts.end() && it->first < limit; ++it) {
      auto at = std::lower_bound(program.begin(), program.end(), it->first,
                                 [](const TPoint& p, uint32_t value) { return p.Offset < value; });
      const int32_t index = static_cast<int32_t>(it - starts.begin());
      if (at != program.end() && at->Offset == it->first) {
        at->Function = index;
      } else if (at != program.begin()) {
        program.insert(at, {it->first, std::prev(at)->Line, index});
      }
    }
    // The unit starts one byte early so that its first record can name the function it is in.
    const bool leadIn = first > 0;
    const uint32_t start = leadIn ? first - 1 : first;
    std::vector<uint8_t> records;
    int32_t line = leadIn ? program[0].Line - 1 : program[0].Line;
    uint32_t address = start;
    for (size_t k = leadIn ? 0 : 1; k < program.size(); ++k) {
      const TPoint& point = program[k];
      const TELFunctionSymbol* function =
          point.Function >= 0 ? starts[static_cast<size_t>(point.Function)].second : (k == 0 ? functionAt(point.Offset) : nullptr);
      uint32_t step = point.Offset - address;
      while (step > 0x10000) {
        PutStep(records, 0, 0x10000, false);
        step -= 0x10000;
      }
      PutStep(records, point.Line - line, step, function != nullptr);
      if (function != nullptr) {
        std::string className, procedure;
        SplitFunctionName(function->Name, className, procedure);
        PutName(records, className, procedure);
      }
      line = point.Line;
      address = point.Offset;
    }
    PutName(block, points[i].File);
    PutU32(block, static_cast<uint32_t>(leadIn ? program[0].Line - 1 : program[0].Line));
    PutU32(block, start);
    PutU32(block, limit - start);
    PutU32(block, static_cast<uint32_t>(records.size()));
    PutBytes(block, records);
    ++unitCount;
    i = end;
  }
  std::memcpy(block.data(), &unitCount, 4);
  return block;
}

// --- Resource

std::vector<uint8_t> BuildLibraryDataResource(const TEmberModuleOptions& options, const TELDataFlags& flags,
                                              const std::vector<uint8_t>& debugBlock, double buildDate) {
  std::vector<uint8_t> out;
  PutU32(out, EmberDataMagic);
  PutU16(out, EmberLibraryVersion);
  uint8_t date[8];
  std::memcpy(date, &buildDate, 8);
  out.insert(out.end(), date, date + 8);
  PutU8(out, flags.LeakOptions);
  PutU8(out, flags.LeakFromMain);
  std::vector<uint8_t> table;  // no runtime symbols: only the end marker
  PutU8(table, 255);
  PutU32(table, 0);
  PutU32(table, 0);
  PutU32(out, static_cast<uint32_t>(table.size()));
  PutBytes(out, table);
  TMemoryStream stream;
  options.SaveToStream(stream);
  std::vector<uint8_t> optionsBytes(stream.Memory(), stream.Memory() + stream.GetSize());
  std::vector<uint8_t> packed = Deflate(optionsBytes);
  PutU32(out, static_cast<uint32_t>(packed.size()));
  PutBytes(out, packed);
  PutU32(out, EmberDataMagic);  // the password test value of data without a password
  std::vector<uint8_t> debug;
  PutU32(debug, static_cast<uint32_t>(debugBlock.size()));
  PutBytes(debug, debugBlock);
  PutBytes(out, Deflate(debug));
  return out;
}

// --- Options text

namespace {

using TNumberSetter = std::function<void(TEmberModuleOptions&, TELDataFlags&, int64_t)>;
using TTextSetter = std::function<void(TEmberModuleOptions&, const std::string&)>;

#define KBL_NUMBER(Name, Type) \
  {#Name, [](TEmberModuleOptions& o, TELDataFlags&, int64_t v) { o.Set##Name(static_cast<Type>(v)); }}
#define KBL_TEXT(Name) {#Name, [](TEmberModuleOptions& o, const std::string& v) { o.Set##Name(v); }}

const std::map<std::string, TNumberSetter>& NumberOptions() {
  static const std::map<std::string, TNumberSetter> options = {
      {"Activate", [](TEmberModuleOptions& o, TELDataFlags&, int64_t v) { o.SetActivate(static_cast<uint8_t>(v)); }},
      {"FreezeActivate",
       [](TEmberModuleOptions& o, TELDataFlags&, int64_t v) { o.SetFreezeActivate(static_cast<uint8_t>(v)); }},
      {"LogReportLimit",
       [](TEmberModuleOptions& o, TELDataFlags&, int64_t v) { o.SetLogReportLimit(static_cast<int32_t>(v)); }},
      {"LeakOptions", [](TEmberModuleOptions&, TELDataFlags& f, int64_t v) { f.LeakOptions = static_cast<uint8_t>(v); }},
      {"LeakFromMain", [](TEmberModuleOptions&, TELDataFlags& f, int64_t v) { f.LeakFromMain = static_cast<uint8_t>(v); }},
      KBL_NUMBER(FreezeTimeout, int32_t),       KBL_NUMBER(ExceptionDialogType, uint8_t),
      KBL_NUMBER(TerminateAction, uint8_t),     KBL_NUMBER(TerminateOfferCount, int32_t),
      KBL_NUMBER(ErrorRateAction, uint8_t),     KBL_NUMBER(ErrorRateCount, int32_t),
      KBL_NUMBER(ErrorRateMinutes, int32_t),    KBL_NUMBER(BehaviourOptions, uint16_t),
      KBL_NUMBER(CallStackOptions, uint8_t),    KBL_NUMBER(LogOptions, uint8_t),
      KBL_NUMBER(SendOptions, uint16_t),        KBL_NUMBER(DialogFlags, uint16_t),
      KBL_NUMBER(SaveLogFile, uint8_t),         KBL_NUMBER(FiltersActive, uint8_t),
      KBL_NUMBER(EMailSendMode, uint8_t),       KBL_NUMBER(WebSendMode, uint8_t),
      KBL_NUMBER(AutoCloseTimeout, int32_t),    KBL_NUMBER(LogInMailBody, uint8_t),
  };
  return options;
}

const std::map<std::string, TTextSetter>& TextOptions() {
  static const std::map<std::string, TTextSetter> options = {
      KBL_TEXT(OutputPath), KBL_TEXT(EMailAddresses), KBL_TEXT(EMailSubject), KBL_TEXT(EMailMessage),
      KBL_TEXT(WebURL),     KBL_TEXT(SupportURL),     KBL_TEXT(AttachedFiles), KBL_TEXT(UserEMail),
  };
  return options;
}

#undef KBL_NUMBER
#undef KBL_TEXT

}  // namespace

void ApplyOptionsText(const std::string& text, TEmberModuleOptions& options, TELDataFlags& flags) {
  std::istringstream lines(text);
  std::string line;
  int32_t number = 0;
  while (std::getline(lines, line)) {
    ++number;
    line = Trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    const size_t equals = line.find('=');
    const std::string name = Trim(line.substr(0, equals));
    const std::string value = equals == std::string::npos ? std::string() : Trim(line.substr(equals + 1));
    const std::string where = "line " + std::to_string(number) + " (\"" + line + "\")";
    if (equals == std::string::npos) throw EConvertError("No \"=\" in " + where);
    if (auto text = TextOptions().find(name); text != TextOptions().end()) {
      text->second(options, value);
      continue;
    }
    auto setter = NumberOptions().find(name);
    if (setter == NumberOptions().end()) throw EConvertError("Unknown option in " + where);
    char* end = nullptr;
    const long long parsed = std::strtoll(value.c_str(), &end, 0);
    if (value.empty() || end == nullptr || *end != 0) throw EConvertError("Not a number in " + where);
    setter->second(options, flags, parsed);
  }
}
