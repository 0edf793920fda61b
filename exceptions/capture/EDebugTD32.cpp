// TD32 debug data: trailer check, subsection directory, modules, symbols, source lines and names.
#include "EDebug.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "detail/EPeImage.h"

using ember_detail::ReadU16;
using ember_detail::ReadU32;

// Layouts read here (little-endian; offsets of subsections from the start of the TD32 data,
// offsets inside a subsection from the subsection's start):
//   data:          "FB09"/"FB0A", u32 offset of the first subsection directory
//   directory:     u16 header size, u16 entry size (12), u32 entry count, u32 next directory
//                  (0 ends the chain); entries from the directory's start + header size:
//                  u16 type, u16 module index, u32 offset, u32 size
//   module 0x120:  u16 overlay, u16 library, u16 segment count, u16 style, u32 name index,
//                  u32 time, 12 reserved bytes, then per segment u16 segment, u16 flags,
//                  u32 offset, u32 size
//   symbols 0x125: u32 signature, then records: u16 length (not counting itself), u16 kind
//   procedure:     after the record head u32 parent, end, next, size, debug start, debug end,
//                  offset, u16 segment, u32 type, u8 near/far, u8 reserved, u32 name index
//   data symbol:   after the record head u32 offset, u16 segment, u16 flags, u32 type,
//                  u32 name index
//   source 0x127:  u16 file count, u16 segment count, u32 file offsets; a file: u16 segment
//                  count, u32 name index, u32 line-block offsets, then {u32 start, u32 end} per
//                  segment; a line block: u16 segment, u16 pair count, u32 offsets, u16 lines
//   names 0x130:   u32 count, then names of a length byte and that many characters (a zero
//                  byte after a name is skipped)

namespace {

[[noreturn]] void AssertionFailure() { throw EAssertionFailed("Assertion failure (EDebug)"); }

// A chain of directories may not loop forever, and no count may exceed what the data can hold.
constexpr int kMaxDirectories = 1024;

bool IsTD32Signature(const uint8_t* at) {
  return std::memcmp(at, "FB09", 4) == 0 || std::memcmp(at, "FB0A", 4) == 0;
}

}  // namespace

bool IsTD32Block(const uint8_t* block, uint64_t size, uint64_t& start) {
  if (!block || size < 9) return false;
  uint32_t distance = 0;
  ReadU32(block, size, size - 4, distance);
  if (!IsTD32Signature(block + size - 8) || distance > size || distance < 8) return false;
  if (!IsTD32Signature(block + size - distance)) return false;
  start = size - distance;
  return true;
}

const TELModuleSegment& TELModuleInfo::GetSegment(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= Segments.size()) AssertionFailure();
  return Segments[static_cast<size_t>(index)];
}

// --- Parser

TELTD32InfoParser::TELTD32InfoParser(std::vector<uint8_t> data) : data_(std::move(data)) {}

std::string TELTD32InfoParser::Name(uint32_t index) const {
  return index < names_.size() ? names_[index] : std::string();
}

void TELTD32InfoParser::Analyse() {
  valid_ = false;
  const uint8_t* data = data_.data();
  uint64_t size = data_.size();
  if (size < 8 || !IsTD32Signature(data)) return;
  uint32_t directory = 0;
  ReadU32(data, size, 4, directory);
  for (int chain = 0; chain < kMaxDirectories; ++chain) {
    uint16_t headerSize = 0, entrySize = 0;
    uint32_t count = 0, next = 0;
    if (!ReadU16(data, size, directory, headerSize) || !ReadU16(data, size, uint64_t{directory} + 2, entrySize) ||
        !ReadU32(data, size, uint64_t{directory} + 4, count) ||
        !ReadU32(data, size, uint64_t{directory} + 8, next))
      return;
    if (entrySize != 12) AssertionFailure();
    uint64_t entries = uint64_t{directory} + headerSize;
    if (headerSize < 12 || entries > size || count > (size - entries) / 12) return;
    for (uint32_t i = 0; i < count; ++i) {
      uint64_t at = entries + uint64_t{i} * 12;
      uint16_t type = 0;
      uint32_t offset = 0, length = 0;
      ReadU16(data, size, at, type);
      ReadU32(data, size, at + 4, offset);
      ReadU32(data, size, at + 8, length);
      if (offset > size || length > size - offset) continue;  // a subsection outside the data
      switch (type) {
        case 0x120: AnalyseModules(offset, length); break;
        case 0x125: AnalyseAlignSymbols(offset, length); break;
        case 0x127: AnalyseSourceModules(offset, length); break;
        case 0x130: AnalyseNames(offset, length); break;
        default: break;
      }
    }
    if (next == 0) {
      valid_ = true;
      return;
    }
    directory = next;
  }
}

void TELTD32InfoParser::AnalyseNames(uint32_t offset, uint32_t size) {
  const uint8_t* sub = data_.data() + offset;
  uint32_t count = 0;
  if (!ReadU32(sub, size, 0, count)) return;
  uint64_t at = 4;
  for (uint32_t i = 0; i < count && at < size; ++i) {
    uint8_t length = sub[at++];
    if (length > size - at) return;
    names_.emplace_back(reinterpret_cast<const char*>(sub + at), length);
    at += length;
    if (at < size && sub[at] == 0) ++at;
  }
}

void TELTD32InfoParser::AnalyseAlignSymbols(uint32_t offset, uint32_t size) {
  const uint8_t* sub = data_.data() + offset;
  uint64_t at = 4;
  uint16_t length = 0, kind = 0;
  while (ReadU16(sub, size, at, length) && ReadU16(sub, size, at + 2, kind) && length >= 2) {
    uint64_t end = at + length + 2;
    if (end > size) return;
    std::unique_ptr<TELSymbolInfo> symbol;
    auto procedure = [&](std::unique_ptr<TELProcSymbolInfo> proc) {
      if (end - at >= 44) {
        ReadU32(sub, end, at + 16, proc->Size);
        ReadU32(sub, end, at + 28, proc->Offset);
        ReadU32(sub, end, at + 40, proc->NameIndex);
      }
      symbol = std::move(proc);
    };
    auto dataSymbol = [&](std::unique_ptr<TELDataSymbolInfo> item) {
      ReadU32(sub, end, at + 4, item->Offset);
      ReadU32(sub, end, at + 16, item->NameIndex);
      symbol = std::move(item);
    };
    switch (kind) {
      case 0x204: procedure(std::make_unique<TELLocalProcSymbolInfo>()); break;
      case 0x205: procedure(std::make_unique<TELGlobalProcSymbolInfo>()); break;
      case 0x201: dataSymbol(std::make_unique<TELLDataSymbolInfo>()); break;
      case 0x202: dataSymbol(std::make_unique<TELGDataSymbolInfo>()); break;
      case 0x203: dataSymbol(std::make_unique<TELPublicSymbolInfo>()); break;
      case 0x208: symbol = std::make_unique<TELWithSymbolInfo>(); break;
      case 0x209: symbol = std::make_unique<TELLabelSymbolInfo>(); break;
      case 0x20B: symbol = std::make_unique<TELVftPathSymbolInfo>(); break;
      case 0x009: symbol = std::make_unique<TELObjNameSymbolInfo>(); break;
      case 0x003: symbol = std::make_unique<TELConstantSymbolInfo>(); break;
      case 0x004: symbol = std::make_unique<TELUdtSymbolInfo>(); break;
      default: break;
    }
    if (symbol) symbols_.push_back(std::move(symbol));
    at = end;
  }
}

void TELTD32InfoParser::AnalyseModules(uint32_t offset, uint32_t size) {
  const uint8_t* sub = data_.data() + offset;
  uint16_t segmentCount = 0;
  TELModuleInfo module;
  if (!ReadU16(sub, size, 4, segmentCount) || !ReadU32(sub, size, 8, module.NameIndex)) return;
  for (uint32_t i = 0; i < segmentCount; ++i) {
    uint64_t at = 28 + uint64_t{i} * 12;
    TELModuleSegment segment;
    if (!ReadU16(sub, size, at, segment.Segment) || !ReadU32(sub, size, at + 4, segment.Offset) ||
        !ReadU32(sub, size, at + 8, segment.Size))
      break;
    module.Segments.push_back(segment);
  }
  modules_.push_back(std::move(module));
}

void TELTD32InfoParser::AnalyseSourceModules(uint32_t offset, uint32_t size) {
  const uint8_t* sub = data_.data() + offset;
  uint16_t fileCount = 0;
  if (!ReadU16(sub, size, 0, fileCount)) return;
  for (uint32_t file = 0; file < fileCount; ++file) {
    uint32_t fileAt = 0, nameIndex = 0;
    uint16_t segmentCount = 0;
    if (!ReadU32(sub, size, 4 + uint64_t{file} * 4, fileAt)) return;
    if (!ReadU16(sub, size, fileAt, segmentCount) ||
        !ReadU32(sub, size, uint64_t{fileAt} + 2, nameIndex) || nameIndex == 0)
      continue;
    TELSourceModuleInfo source;
    source.NameIndex = nameIndex;
    uint64_t blocks = uint64_t{fileAt} + 6;
    uint64_t ranges = blocks + uint64_t{segmentCount} * 4;
    for (uint32_t s = 0; s < segmentCount; ++s) {
      uint32_t start = 0, end = 0, blockAt = 0;
      if (!ReadU32(sub, size, ranges + uint64_t{s} * 8, start) ||
          !ReadU32(sub, size, ranges + uint64_t{s} * 8 + 4, end) ||
          !ReadU32(sub, size, blocks + uint64_t{s} * 4, blockAt))
        break;
      source.Ranges.emplace_back(start, end);
      uint16_t pairCount = 0;
      if (!ReadU16(sub, size, uint64_t{blockAt} + 2, pairCount)) continue;
      uint64_t offsets = uint64_t{blockAt} + 4;
      uint64_t lines = offsets + uint64_t{pairCount} * 4;
      for (uint32_t p = 0; p < pairCount; ++p) {
        TELLineInfo line;
        uint16_t number = 0;
        if (!ReadU32(sub, size, offsets + uint64_t{p} * 4, line.Offset) ||
            !ReadU16(sub, size, lines + uint64_t{p} * 2, number))
          break;
        line.LineNumber = number;
        source.Lines.push_back(line);
      }
    }
    sourceModules_.push_back(std::move(source));
  }
}

// --- Scanner

TELTD32InfoScanner::TELTD32InfoScanner(std::vector<uint8_t> data)
    : TELTD32InfoParser(std::move(data)) {
  Analyse();
}

const TELModuleInfo* TELTD32InfoScanner::ModuleOf(uint32_t offset, uint32_t* start) const {
  for (const TELModuleInfo& module : modules_)
    for (int32_t i = 0; i < static_cast<int32_t>(module.Segments.size()); ++i) {
      const TELModuleSegment& segment = module.GetSegment(i);
      if (segment.Offset <= offset && offset - segment.Offset <= segment.Size) {
        if (start) *start = segment.Offset;
        return &module;
      }
    }
  return nullptr;
}

const TELSourceModuleInfo* TELTD32InfoScanner::SourceModuleOf(uint32_t offset) const {
  for (const TELSourceModuleInfo& source : sourceModules_)
    for (const auto& range : source.Ranges)
      if (range.first <= offset && offset < range.second) return &source;
  return nullptr;
}

std::string TELTD32InfoScanner::ModuleNameFromOffset(uint32_t offset) {
  const TELModuleInfo* module = ModuleOf(offset, nullptr);
  return module ? Name(module->NameIndex) : std::string();
}

int64_t TELTD32InfoScanner::ModuleStartFromOffset(uint32_t offset) {
  uint32_t start = 0;
  return ModuleOf(offset, &start) ? int64_t{start} : -1;
}

std::string TELTD32InfoScanner::ProcNameFromOffset(uint32_t offset, uint32_t& distance) {
  distance = 0;
  for (const auto& symbol : symbols_) {
    if (symbol->SymbolType != 0x204 && symbol->SymbolType != 0x205) continue;
    const auto& proc = static_cast<const TELProcSymbolInfo&>(*symbol);
    if (proc.Offset <= offset && offset - proc.Offset < proc.Size) {
      distance = offset - proc.Offset;
      return CleanTD32ProcName(Name(proc.NameIndex), ModuleNameFromOffset(offset));
    }
  }
  return std::string();
}

int32_t TELTD32InfoScanner::LineNumberFromOffset(uint32_t offset) {
  const TELSourceModuleInfo* source = SourceModuleOf(offset);
  if (!source) return 0;
  const std::vector<TELLineInfo>& lines = source->Lines;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].Offset == offset) return lines[i].LineNumber;
    if (lines[i].Offset > offset)
      return i > 0 && lines[i - 1].Offset < offset ? lines[i - 1].LineNumber : 0;
  }
  return 0;  // after the last entry: the line is not known
}

std::string TELTD32InfoScanner::SourceNameFromOffset(uint32_t offset) {
  const TELSourceModuleInfo* source = SourceModuleOf(offset);
  return source ? Name(source->NameIndex) : std::string();
}

// --- Names

std::string CleanTD32ProcName(const std::string& name, const std::string& unitName) {
  if (name.empty() || name[0] != '@') return name;
  std::string result = name.substr(1);
  size_t dollar = result.find('$');
  if (dollar != std::string::npos) {
    if (dollar > 0 && result[dollar - 1] == '@') --dollar;
    result.erase(dollar);
  }
  std::replace(result.begin(), result.end(), '@', '.');
  for (size_t at = result.find(".."); at != std::string::npos; at = result.find("..", at + 2))
    result.replace(at, 2, ".@");
  auto upper = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
  };
  // Only a whole unit name is dropped: "Unit1" must not eat the front of "Unit10.Foo".
  if (!unitName.empty() && result.size() > unitName.size() && result[unitName.size()] == '.' &&
      upper(result.substr(0, unitName.size())) == upper(unitName))
    result.erase(0, unitName.size() + 1);
  return result;
}
