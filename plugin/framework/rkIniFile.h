// The framework's INI-text reader, through which the plug-in restores its state chunk. Apart from
// any INI class of the class library: it lives in namespace rk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/System.h"

class TStream;

namespace rk {

// One key and its value, both exactly as they stood in the text (not trimmed).
struct TValuePair {
  std::string key;
  std::string value;
};

// A named section: its pairs in the order their keys first appeared.
class TSection : public TObject {
 public:
  explicit TSection(std::string name) : name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  int32_t Count() const { return static_cast<int32_t>(pairs_.size()); }
  const TValuePair& Pair(int32_t i) const { return *pairs_[static_cast<size_t>(i)]; }
  // The first pair with that key (compared exactly), or nullptr.
  const TValuePair* Find(const std::string& key) const;
  // A non-empty key sets the value of its last pair or appends one; an empty key always appends.
  void Write(const std::string& key, const std::string& value);

 private:
  std::string name_;
  std::vector<std::unique_ptr<TValuePair>> pairs_;
};

// An owning list of sections in the order of their first appearance.
using TSectionList = std::vector<std::unique_ptr<TSection>>;

// A list of sections read from INI text. Section and key names compare exactly, with regard to
// case. Not shared between threads: the plug-in makes one on the GUI thread per state load.
class TIniFile : public TObject {
 public:
  // Removes every section, then parses the stream's text from its position to its end
  // (lines end at CR LF, LF or CR).
  void LoadFromStream(TStream& stream);
  // Adds the sections and pairs of `lines`. Lines that are empty or start with "#" are comments;
  // the others are trimmed; "[name]" starts a section; any other line is split at its first "="
  // into key and value (no "=": empty key, the line as value). Lines before the first section
  // header, or under an empty header "[]", are dropped.
  void Parse(std::vector<std::string> lines);
  void Clear() { sections_.clear(); }

  // The first section with that name, or nullptr.
  TSection* FindSection(const std::string& name) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  // The value of the first pair with that key; `fallback` when the section or key is missing.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
  // ReadString converted by StrToInt (blanks before the number are allowed); `fallback` when
  // missing. A value that is no integer raises EConvertError.
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t fallback) const;
  // Finds the section or appends it, then TSection::Write.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);

  const TSectionList& Sections() const { return sections_; }

 private:
  TSectionList sections_;
};

}  // namespace rk
