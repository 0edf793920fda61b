// Linker map files: the section walker and the scanner's sorted tables and lookups.
#include "EDebug.h"

#include <algorithm>
#include <cstring>

#include "classlib/Streams.h"

namespace {

bool IsBlank(char c) { return c == ' ' || (c >= 9 && c <= 13); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// Lines end at CR as the linker writes them; LF and a zero byte end them too, so that a map
// file whose line ends were changed to LF still parses.
bool IsLineBreak(char c) { return c == '\r' || c == '\n' || c == '\0'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

const char* const kClassTable[4] = {"Start", "Length", "Name", "Class"};
const char* const kSegments[4] = {"Detailed", "map", "of", "segments"};
const char* const kPublicsByName[4] = {"Address", "Publics", "by", "Name"};
const char* const kPublicsByValue[4] = {"Address", "Publics", "by", "Value"};
const char kLineNumbers[] = "Line numbers for";

}  // namespace

// --- Parser

TELAbstractMapParser::TELAbstractMapParser(std::string bytes) : bytes_(std::move(bytes)) {}

std::string TELAbstractMapParser::ReadMapFile(const std::string& fileName) {
  return ReadFileBytes(fileName);
}

std::string TELAbstractMapParser::NameAt(int64_t position) const {
  if (position < 0 || static_cast<uint64_t>(position) >= bytes_.size()) return std::string();
  size_t at = static_cast<size_t>(position);
  std::string name;
  if (bytes_[at] == '(') {
    for (++at; at < bytes_.size() && bytes_[at] != ')' && !IsLineBreak(bytes_[at]); ++at)
      name.push_back(bytes_[at]);
    return name;
  }
  for (; at < bytes_.size() && !IsLineBreak(bytes_[at]) && bytes_[at] != ' ' && bytes_[at] != '\t' &&
         bytes_[at] != '(';
       ++at)
    name.push_back(bytes_[at]);
  return name;
}

size_t TELAbstractMapParser::LineEnd() const {
  size_t at = pos_;
  while (at < bytes_.size() && !IsLineBreak(bytes_[at])) ++at;
  return at;
}

void TELAbstractMapParser::SkipBlanks() {
  while (pos_ < bytes_.size() && IsBlank(bytes_[pos_])) ++pos_;
}

void TELAbstractMapParser::SkipLine() {
  pos_ = LineEnd();
  if (pos_ < bytes_.size()) ++pos_;
}

bool TELAbstractMapParser::NextIsDigit() const {
  return pos_ < bytes_.size() && IsDigit(bytes_[pos_]);
}

bool TELAbstractMapParser::FindHeader(const char* const words[4]) {
  while (pos_ < bytes_.size()) {
    size_t end = LineEnd();
    std::string line = bytes_.substr(pos_, end - pos_);
    pos_ = end < bytes_.size() ? end + 1 : end;
    size_t previous = 0;
    bool found = true;
    for (int i = 0; i < 4 && found; ++i) {
      size_t at = line.find(words[i]);
      // First occurrences, each later than the one before.
      found = at != std::string::npos && (i == 0 || at > previous);
      previous = at;
    }
    if (found) {
      SkipBlanks();
      return true;
    }
  }
  return false;
}

bool TELAbstractMapParser::ReadHex(uint32_t& value) {
  uint64_t result = 0;
  size_t start = pos_;
  while (pos_ < bytes_.size() && HexValue(bytes_[pos_]) >= 0) {
    result = result * 16 + static_cast<uint64_t>(HexValue(bytes_[pos_]));
    if (result > 0xFFFFFFFFull) return false;
    ++pos_;
  }
  if (pos_ == start) return false;
  if (pos_ < bytes_.size() && (bytes_[pos_] == 'H' || bytes_[pos_] == 'h')) ++pos_;
  value = static_cast<uint32_t>(result);
  return true;
}

bool TELAbstractMapParser::ReadDecimal(int32_t& value) {
  int64_t result = 0;
  size_t start = pos_;
  while (pos_ < bytes_.size() && IsDigit(bytes_[pos_])) {
    result = result * 10 + (bytes_[pos_] - '0');
    if (result > 0x7FFFFFFF) return false;
    ++pos_;
  }
  if (pos_ == start) return false;
  value = static_cast<int32_t>(result);
  return true;
}

bool TELAbstractMapParser::ReadAddress(TELMapAddress& address) {
  while (pos_ < bytes_.size() && (bytes_[pos_] == ' ' || bytes_[pos_] == '\t')) ++pos_;
  if (!ReadHex(address.Segment)) return false;
  if (pos_ >= bytes_.size() || bytes_[pos_] != ':') return false;
  ++pos_;
  return ReadHex(address.Offset);
}

bool TELAbstractMapParser::LineHasText(const char* text, size_t lineEnd, size_t& after) {
  size_t at = bytes_.find(text, pos_);
  if (at == std::string::npos || at + std::strlen(text) > lineEnd) return false;
  after = at + std::strlen(text);
  return true;
}

void TELAbstractMapParser::Parse() {
  pos_ = 0;
  // A missing header consumes the rest of the file, so no later section is found either.
  if (FindHeader(kClassTable)) {
    while (NextIsDigit()) {
      TELMapAddress address;
      uint32_t length = 0;
      if (ReadAddress(address) && (SkipBlanks(), ReadHex(length))) {
        size_t end = LineEnd();
        SkipBlanks();
        int64_t name = pos_ < end ? static_cast<int64_t>(pos_) : -1;
        while (pos_ < end && !IsBlank(bytes_[pos_])) ++pos_;
        while (pos_ < end && IsBlank(bytes_[pos_])) ++pos_;
        int64_t className = pos_ < end ? static_cast<int64_t>(pos_) : -1;
        ClassTableLine(address, length, name, className);
      }
      SkipLine();
      SkipBlanks();
    }
  }
  if (FindHeader(kSegments)) {
    while (NextIsDigit()) {
      TELMapAddress address;
      uint32_t length = 0;
      if (ReadAddress(address) && (SkipBlanks(), ReadHex(length))) {
        size_t end = LineEnd();
        size_t classAt = 0, moduleAt = 0;
        if (LineHasText("C=", end, classAt) && LineHasText("M=", end, moduleAt))
          SegmentItem(address, length, static_cast<int64_t>(classAt), static_cast<int64_t>(moduleAt));
      }
      SkipLine();
      SkipBlanks();
    }
  }
  const char* const* byName = kPublicsByName;
  const char* const* byValue = kPublicsByValue;
  for (int pass = 0; pass < 2; ++pass) {
    if (!FindHeader(pass == 0 ? byName : byValue)) break;
    while (NextIsDigit()) {
      TELMapAddress address;
      if (ReadAddress(address)) {
        size_t end = LineEnd();
        SkipBlanks();
        if (pos_ < end) {
          if (pass == 0)
            PublicsByNameItem(address, static_cast<int64_t>(pos_));
          else
            PublicsByValueItem(address, static_cast<int64_t>(pos_));
        }
      }
      SkipLine();
      SkipBlanks();
    }
  }
  while (pos_ < bytes_.size() && bytes_.compare(pos_, std::strlen(kLineNumbers), kLineNumbers) == 0) {
    pos_ += std::strlen(kLineNumbers);
    size_t end = LineEnd();
    while (pos_ < end && IsBlank(bytes_[pos_])) ++pos_;
    int64_t unitName = pos_ < end ? static_cast<int64_t>(pos_) : -1;
    size_t open = bytes_.find('(', pos_);
    int64_t sourceName = open != std::string::npos && open < end ? static_cast<int64_t>(open) : -1;
    LineNumberUnitItem(unitName, sourceName);
    SkipLine();
    SkipBlanks();
    while (NextIsDigit()) {
      int32_t lineNumber = 0;
      TELMapAddress address;
      if (ReadDecimal(lineNumber) && ReadAddress(address)) {
        LineNumbersItem(lineNumber, address);
      } else {
        SkipLine();
      }
      SkipBlanks();
    }
  }
}

// --- Scanner

TELMapScanner::TELMapScanner(std::string bytes) : TELAbstractMapParser(std::move(bytes)) {
  segments_.reserve(256);
  procedures_.reserve(256);
  lines_.reserve(256);
  sources_.reserve(256);
  Parse();
  // The linker writes publics by value in order; a hand-edited file may not be, and the lookups
  // search by halving.
  std::stable_sort(procedures_.begin(), procedures_.end(),
                   [](const Named& a, const Named& b) { return a.Offset < b.Offset; });
  segments_.shrink_to_fit();
  procedures_.shrink_to_fit();
  lines_.shrink_to_fit();
  sources_.shrink_to_fit();
}

std::unique_ptr<TELMapScanner> TELMapScanner::FromFile(const std::string& fileName) {
  try {
    return std::make_unique<TELMapScanner>(ReadMapFile(fileName));
  } catch (const Exception&) {
    return nullptr;
  }
}

void TELMapScanner::SegmentItem(TELMapAddress address, uint32_t length, int64_t, int64_t moduleName) {
  if (address.Segment != 1) return;
  uint32_t end = address.Offset + length;
  if (end < address.Offset) end = 0xFFFFFFFF;  // a length that runs past 4 GB ends there
  segments_.push_back({address.Offset, end, moduleName});
  if (end > highestEnd_) highestEnd_ = end;
}

void TELMapScanner::PublicsByValueItem(TELMapAddress address, int64_t name) {
  if (address.Segment == 1) procedures_.push_back({address.Offset, name});
}

void TELMapScanner::LineNumberUnitItem(int64_t, int64_t sourceName) { pendingSource_ = sourceName; }

void TELMapScanner::LineNumbersItem(int32_t lineNumber, TELMapAddress address) {
  bool accepted = !anyLine_ || (address.Offset >= 1 && address.Offset <= highestEnd_ &&
                                address.Segment == lastSegment_ && address.Offset > lastOffset_);
  if (!accepted) {
    ++rejected_;
    return;
  }
  anyLine_ = true;
  lastSegment_ = address.Segment;
  lastOffset_ = address.Offset;
  lines_.push_back({address.Offset, lineNumber});
  if (pendingSource_ >= 0) {
    sources_.push_back({address.Offset, pendingSource_});
    pendingSource_ = -1;
  }
}

const TELMapScanner::Segment* TELMapScanner::SegmentOf(uint32_t offset) const {
  for (size_t i = segments_.size(); i-- > 0;)
    if (segments_[i].Start <= offset && offset <= segments_[i].End) return &segments_[i];
  return nullptr;
}

namespace {

// Index of the last entry whose offset is at most `offset`; -1 when there is none.
template <typename T>
int64_t LastAtOrBefore(const std::vector<T>& table, uint32_t offset) {
  auto it = std::upper_bound(table.begin(), table.end(), offset,
                             [](uint32_t value, const T& entry) { return value < entry.Offset; });
  return static_cast<int64_t>(it - table.begin()) - 1;
}

}  // namespace

std::string TELMapScanner::ModuleNameFromOffset(uint32_t offset) {
  const Segment* segment = SegmentOf(offset);
  return segment ? NameAt(segment->Name) : std::string();
}

int64_t TELMapScanner::ModuleStartFromOffset(uint32_t offset) {
  const Segment* segment = SegmentOf(offset);
  return segment ? segment->Start : -1;
}

std::string TELMapScanner::ProcNameFromOffset(uint32_t offset, uint32_t& distance) {
  distance = 0;
  int64_t index = LastAtOrBefore(procedures_, offset);
  if (index < 0 || procedures_[index].Offset < ModuleStartFromOffset(offset)) return std::string();
  distance = offset - procedures_[index].Offset;
  return NameAt(procedures_[index].Name);
}

int32_t TELMapScanner::LineNumberFromOffset(uint32_t offset) {
  int64_t index = LastAtOrBefore(lines_, offset);
  if (index < 0 || lines_[index].Offset < ModuleStartFromOffset(offset)) return 0;
  return lines_[index].Number;
}

std::string TELMapScanner::SourceNameFromOffset(uint32_t offset) {
  int64_t index = LastAtOrBefore(sources_, offset);
  if (index < 0 || sources_[index].Offset < ModuleStartFromOffset(offset)) return std::string();
  return NameAt(sources_[index].Name);
}
