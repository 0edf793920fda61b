// JCL binary debug data: header check with its checksum, delta-coded streams and packed names.
#include "EDebug.h"

#include "detail/EPeImage.h"

using ember_detail::ReadU32;

namespace {

// Header fields (little-endian): signature, version byte, five stream offsets, module name,
// checksum and the byte that says whether the checksum is present.
constexpr uint32_t kVersionAt = 4;
constexpr uint32_t kUnitsAt = 5;
constexpr uint32_t kSourceNamesAt = 9;
constexpr uint32_t kSymbolsAt = 13;
constexpr uint32_t kLineNumbersAt = 17;
constexpr uint32_t kWordsAt = 21;
constexpr uint32_t kModuleNameAt = 25;
constexpr uint32_t kCheckSumAt = 29;
constexpr uint32_t kCheckSumPresentAt = 33;
constexpr uint32_t kEndOfStream = 0x7FFFFFFF;
constexpr size_t kMaxNameLength = 255;
// A stream never holds more entries than it has bytes; this also stops a damaged stream early.
constexpr size_t kMaxEntries = 1u << 24;

char PackedChar(uint8_t code) {
  if (code >= 1 && code <= 10) return static_cast<char>('0' + code - 1);
  if (code >= 11 && code <= 36) return static_cast<char>('A' + code - 11);
  if (code >= 37 && code <= 62) return static_cast<char>('a' + code - 37);
  return '_';
}

}  // namespace

TELBinDebugScanner::TELBinDebugScanner(std::vector<uint8_t> data, bool cacheData)
    : data_(std::move(data)), cacheData_(cacheData) {
  valid_ = CheckFormat();
  if (valid_ && cacheData_) {
    procs_ = ReadProcs();
    lines_ = ReadPairs(HeaderValue(kLineNumbersAt));
  }
}

uint32_t TELBinDebugScanner::HeaderValue(uint32_t offset) const {
  uint32_t value = 0;
  ReadU32(data_.data(), data_.size(), offset, value);
  return value;
}

bool TELBinDebugScanner::CheckFormat() const {
  if (data_.size() <= HeaderSize || data_.size() % 4 != 0) return false;
  if (HeaderValue(0) != Signature || data_[kVersionAt] != 1) return false;
  if (data_[kCheckSumPresentAt] == 0) return true;
  uint32_t stored = HeaderValue(kCheckSumAt);
  uint32_t sum = 0u - stored;
  for (size_t at = 0; at < data_.size(); at += 4) sum += HeaderValue(static_cast<uint32_t>(at));
  sum = (sum >> 8) | (sum << 24);
  return sum == stored;
}

bool TELBinDebugScanner::ReadValue(uint64_t& at, uint32_t& value) const {
  // Seven bits a byte, low group first; a set high bit says another byte follows.
  uint64_t result = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    if (at >= data_.size()) return false;
    uint8_t byte = data_[at++];
    result |= static_cast<uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) {
      value = static_cast<uint32_t>(result);
      return true;
    }
  }
  return false;
}

std::vector<TELBinDebugScanner::Pair> TELBinDebugScanner::ReadPairs(uint32_t streamOffset) const {
  std::vector<Pair> result;
  if (!valid_ || streamOffset >= data_.size()) return result;
  result.reserve(64);
  uint64_t at = streamOffset;
  uint32_t address = 0, value = 0, delta = 0;
  while (result.size() < kMaxEntries) {
    if (!ReadValue(at, delta) || delta == kEndOfStream) break;
    address += delta;  // deltas wrap: a negative one is stored as its 32-bit complement
    if (!ReadValue(at, delta) || delta == kEndOfStream) break;
    value += delta;
    result.push_back({address, value});
  }
  result.shrink_to_fit();
  return result;
}

std::vector<TELBinDebugScanner::Proc> TELBinDebugScanner::ReadProcs() const {
  std::vector<Proc> result;
  uint32_t streamOffset = HeaderValue(kSymbolsAt);
  if (!valid_ || streamOffset >= data_.size()) return result;
  result.reserve(64);
  uint64_t at = streamOffset;
  uint32_t address = 0, first = 0, second = 0, delta = 0;
  while (result.size() < kMaxEntries) {
    if (!ReadValue(at, delta) || delta == kEndOfStream) break;
    address += delta;
    if (!ReadValue(at, delta) || delta == kEndOfStream) break;
    first += delta;
    if (!ReadValue(at, delta) || delta == kEndOfStream) break;
    second += delta;
    result.push_back({address, first, second});
  }
  result.shrink_to_fit();
  return result;
}

const std::vector<TELBinDebugScanner::Pair>& TELBinDebugScanner::Units() {
  if (!unitsRead_) {
    units_ = ReadPairs(HeaderValue(kUnitsAt));
    unitsRead_ = true;
  }
  return units_;
}

std::string TELBinDebugScanner::ModuleName() const {
  return valid_ ? DataToStr(HeaderValue(kModuleNameAt)) : std::string();
}

std::string TELBinDebugScanner::DataToStr(uint32_t value) const {
  std::string name;
  if (!valid_ || value == 0) return name;
  uint64_t at = uint64_t{HeaderValue(kWordsAt)} + value - 1;
  if (at >= data_.size()) return name;
  if (data_[at] == 1) {
    // A plain short string, its characters XORed with 0xAA (0xAA itself is stored as it is).
    ++at;
    if (at >= data_.size()) return name;
    uint64_t length = data_[at++];
    for (uint64_t i = 0; i < length && at < data_.size(); ++i, ++at) {
      uint8_t c = data_[at];
      name.push_back(static_cast<char>(c == 0xAA ? c : c ^ 0xAA));
    }
    return name;
  }
  if (data_[at] == 2) {
    name.push_back('@');
    ++at;
  }
  // Four 6-bit codes in every three bytes; code 0 ends the name.
  while (name.size() < kMaxNameLength && at < data_.size()) {
    uint8_t b0 = data_[at];
    uint8_t b1 = at + 1 < data_.size() ? data_[at + 1] : 0;
    uint8_t b2 = at + 2 < data_.size() ? data_[at + 2] : 0;
    uint8_t codes[4] = {static_cast<uint8_t>(b0 & 0x3F),
                        static_cast<uint8_t>((b0 >> 6) | ((b1 & 0x0F) << 2)),
                        static_cast<uint8_t>((b1 >> 4) | ((b2 & 0x03) << 4)),
                        static_cast<uint8_t>(b2 >> 2)};
    for (uint8_t code : codes) {
      if (code == 0 || name.size() >= kMaxNameLength) return name;
      name.push_back(PackedChar(code));
    }
    at += 3;
  }
  return name;
}

// --- Lookups

std::string TELBinDebugScanner::ModuleNameFromOffset(uint32_t offset) {
  const std::vector<Pair>& units = Units();
  for (size_t i = units.size(); i-- > 0;)
    if (units[i].Address <= offset) return DataToStr(units[i].Value);
  return std::string();
}

int64_t TELBinDebugScanner::ModuleStartFromOffset(uint32_t offset) {
  const std::vector<Pair>& units = Units();
  for (size_t i = units.size(); i-- > 0;)
    if (units[i].Address <= offset) return units[i].Address;
  return -1;
}

std::string TELBinDebugScanner::ProcNameFromOffset(uint32_t offset, uint32_t& distance) {
  distance = 0;
  int64_t moduleStart = ModuleStartFromOffset(offset);
  const std::vector<Proc> uncached = cacheData_ ? std::vector<Proc>() : ReadProcs();
  const std::vector<Proc>& procs = cacheData_ ? procs_ : uncached;
  for (size_t i = procs.size(); i-- > 0;) {
    if (procs[i].Address > offset) continue;
    if (procs[i].Address < moduleStart) return std::string();
    distance = offset - procs[i].Address;
    std::string name = DataToStr(procs[i].First);
    if (procs[i].Second != 0) {
      name.push_back('.');
      name += DataToStr(procs[i].Second);
    }
    return name;
  }
  return std::string();
}

int32_t TELBinDebugScanner::LineNumberFromOffset(uint32_t offset) {
  int64_t moduleStart = ModuleStartFromOffset(offset);
  const std::vector<Pair> uncached =
      cacheData_ ? std::vector<Pair>() : ReadPairs(HeaderValue(kLineNumbersAt));
  const std::vector<Pair>& lines = cacheData_ ? lines_ : uncached;
  for (size_t i = lines.size(); i-- > 0;) {
    if (lines[i].Address > offset) continue;
    if (lines[i].Address < moduleStart) return 0;
    return static_cast<int32_t>(lines[i].Value);
  }
  return 0;
}

std::string TELBinDebugScanner::SourceNameFromOffset(uint32_t offset) {
  int64_t moduleStart = ModuleStartFromOffset(offset);
  std::vector<Pair> sources = ReadPairs(HeaderValue(kSourceNamesAt));
  for (size_t i = sources.size(); i-- > 0;) {
    if (sources[i].Address > offset) continue;
    if (sources[i].Address < moduleStart) return std::string();
    return DataToStr(sources[i].Value);
  }
  return std::string();
}
