// The framework's INI-text reader.
#include "rkIniFile.h"

#include <algorithm>

#include "classlib/Streams.h"
#include "classlib/SysUtils.h"

namespace rk {

// --- Sections

const TValuePair* TSection::Find(const std::string& key) const {
  for (const auto& pair : pairs_)
    if (pair->key == key) return pair.get();
  return nullptr;
}

void TSection::Write(const std::string& key, const std::string& value) {
  if (!key.empty()) {
    for (size_t i = pairs_.size(); i-- > 0;) {
      if (pairs_[i]->key == key) {
        pairs_[i]->value = value;
        return;
      }
    }
  }
  pairs_.push_back(std::make_unique<TValuePair>(TValuePair{key, value}));
}

// --- Parsing

void TIniFile::LoadFromStream(TStream& stream) {
  Clear();
  std::string text(static_cast<size_t>(std::max<int64_t>(stream.Remaining(), 0)), '\0');
  if (!text.empty()) {
    const int32_t read = stream.Read(text.data(), static_cast<int32_t>(text.size()));
    text.resize(static_cast<size_t>(std::max(read, 0)));
  }
  Parse(SplitLines(text));
}

void TIniFile::Parse(std::vector<std::string> lines) {
  // Comments are recognised before trimming: "  # note" is not one.
  std::vector<std::string> kept;
  kept.reserve(lines.size());
  for (std::string& line : lines)
    if (!line.empty() && line[0] != '#') kept.push_back(Trim(line));

  std::string section;
  for (const std::string& line : kept) {
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    const size_t equals = line.find('=');
    std::string key;
    std::string value = line;
    if (equals != std::string::npos) {
      key = line.substr(0, equals);
      value = line.substr(equals + 1);
    }
    if (!section.empty()) WriteString(section, key, value);
  }
}

// --- Lookup

TSection* TIniFile::FindSection(const std::string& name) const {
  for (const auto& section : sections_)
    if (section->Name() == name) return section.get();
  return nullptr;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  const TSection* found = FindSection(section);
  return found && found->Find(key);
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
  const TSection* found = FindSection(section);
  const TValuePair* pair = found ? found->Find(key) : nullptr;
  return pair ? pair->value : fallback;
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                              int32_t fallback) const {
  return StrToInt(ReadString(section, key, IntToStr(fallback)));
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  TSection* found = FindSection(section);
  if (!found) {
    sections_.push_back(std::make_unique<TSection>(section));
    found = sections_.back().get();
  }
  found->Write(key, value);
}

}  // namespace rk
