// Builders of debug-information test data written straight from the formats' descriptions:
// JCL "JDBG" blocks, TD32 blocks, images laid out as the loader maps them, and a module
// access that serves fake modules from memory and temp files.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "exceptions/capture/EDebug.h"

namespace testdata {

inline void PutU16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}
inline void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
inline void SetU32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
inline void SetU16(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  out[at] = static_cast<uint8_t>(value);
  out[at + 1] = static_cast<uint8_t>(value >> 8);
}
inline uint32_t GetU32(const std::vector<uint8_t>& in, size_t at) {
  return in[at] | (in[at + 1] << 8) | (in[at + 2] << 16) | (static_cast<uint32_t>(in[at + 3]) << 24);
}

// --- JCL data

class JclBuilder {
 public:
  // Name values are 1-based offsets into the words stream.
  uint32_t PackedName(const std::string& name) {
    uint32_t value = static_cast<uint32_t>(words_.size()) + 1;
    std::string text = name;
    if (!text.empty() && text[0] == '@') {
      words_.push_back(2);
      text.erase(0, 1);
    }
    std::vector<uint8_t> codes;
    for (char c : text) {
      if (c >= '0' && c <= '9') codes.push_back(static_cast<uint8_t>(c - '0' + 1));
      else if (c >= 'A' && c <= 'Z') codes.push_back(static_cast<uint8_t>(c - 'A' + 11));
      else if (c >= 'a' && c <= 'z') codes.push_back(static_cast<uint8_t>(c - 'a' + 37));
      else codes.push_back(63);
    }
    codes.push_back(0);
    while (codes.size() % 4) codes.push_back(0);
    for (size_t i = 0; i < codes.size(); i += 4) {
      words_.push_back(static_cast<uint8_t>(codes[i] | (codes[i + 1] << 6)));
      words_.push_back(static_cast<uint8_t>((codes[i + 1] >> 2) | (codes[i + 2] << 4)));
      words_.push_back(static_cast<uint8_t>((codes[i + 2] >> 4) | (codes[i + 3] << 2)));
    }
    return value;
  }
  uint32_t PlainName(const std::string& name) {
    uint32_t value = static_cast<uint32_t>(words_.size()) + 1;
    words_.push_back(1);
    words_.push_back(static_cast<uint8_t>(name.size()));
    for (char c : name) {
      uint8_t byte = static_cast<uint8_t>(c);
      words_.push_back(byte == 0xAA ? byte : static_cast<uint8_t>(byte ^ 0xAA));
    }
    return value;
  }

  std::vector<std::pair<uint32_t, uint32_t>> Units, Sources, Lines;  // absolute values
  std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> Procs;
  uint32_t ModuleName = 0;

  // With `checkSum`, a last word is chosen so that the block's checksum comes out right.
  std::vector<uint8_t> Build(bool checkSum) const {
    std::vector<uint8_t> out(34, 0);
    SetU32(out, 0, 0x4742444A);
    out[4] = 1;
    auto pairs = [&](const std::vector<std::pair<uint32_t, uint32_t>>& items) {
      uint32_t a = 0, b = 0;
      for (const auto& item : items) {
        Value(out, item.first - a);
        Value(out, item.second - b);
        a = item.first;
        b = item.second;
      }
      Value(out, 0x7FFFFFFF);
    };
    SetU32(out, 5, static_cast<uint32_t>(out.size()));
    pairs(Units);
    SetU32(out, 9, static_cast<uint32_t>(out.size()));
    pairs(Sources);
    SetU32(out, 13, static_cast<uint32_t>(out.size()));
    uint32_t a = 0, f = 0, s = 0;
    for (const auto& [address, first, second] : Procs) {
      Value(out, address - a);
      Value(out, first - f);
      Value(out, second - s);
      a = address;
      f = first;
      s = second;
    }
    Value(out, 0x7FFFFFFF);
    SetU32(out, 17, static_cast<uint32_t>(out.size()));
    pairs(Lines);
    SetU32(out, 21, static_cast<uint32_t>(out.size()));
    out.insert(out.end(), words_.begin(), words_.end());
    SetU32(out, 25, ModuleName);
    while (out.size() % 4) out.push_back(0);
    if (checkSum) {
      // With the checksum field zero the words must add up to the checksum itself: then
      // -C + C + (C rotated left by 8, where the field sits) rotated right by 8 gives C.
      const uint32_t check = 0x5A3C1E0F;
      out[33] = 1;
      PutU32(out, 0);
      uint32_t sum = 0;
      for (size_t at = 0; at < out.size(); at += 4) sum += GetU32(out, at);
      SetU32(out, out.size() - 4, check - sum);
      SetU32(out, 29, check);
    }
    return out;
  }

  static void Value(std::vector<uint8_t>& out, uint32_t value) {
    do {
      uint8_t byte = value & 0x7F;
      value >>= 7;
      if (value) byte |= 0x80;
      out.push_back(byte);
    } while (value);
  }

 private:
  std::vector<uint8_t> words_;
};

// --- TD32 data

class Td32Builder {
 public:
  struct Segment { uint32_t Offset, Size; };
  struct Proc { uint16_t Kind; uint32_t Name, Offset, Size; };
  struct Lines { uint32_t Start, End; std::vector<std::pair<uint32_t, uint16_t>> Pairs; };
  struct Source { uint32_t Name; std::vector<Lines> Segments; };
  struct Module { uint32_t Name; std::vector<Segment> Segments; };

  uint32_t Name(const std::string& name) {
    names_.push_back(name);
    return static_cast<uint32_t>(names_.size());
  }
  std::vector<Module> Modules;
  std::vector<Proc> Procs;
  std::vector<Source> Sources;
  uint16_t EntrySize = 12;
  bool ZeroAfterNames = true;

  // The TD32 data with its trailer: "FB09", then the distance back to the data's start.
  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> out = {'F', 'B', '0', '9', 0, 0, 0, 0};
    std::vector<std::tuple<uint16_t, uint32_t, uint32_t>> entries;
    auto begin = [&]() { return static_cast<uint32_t>(out.size()); };
    for (const Module& module : Modules) {
      uint32_t at = begin();
      PutU16(out, 0); PutU16(out, 0); PutU16(out, static_cast<uint32_t>(module.Segments.size()));
      PutU16(out, 0x5643); PutU32(out, module.Name); PutU32(out, 0);
      PutU32(out, 0); PutU32(out, 0); PutU32(out, 0);
      for (const Segment& s : module.Segments) {
        PutU16(out, 1); PutU16(out, 0); PutU32(out, s.Offset); PutU32(out, s.Size);
      }
      entries.emplace_back(0x120, at, begin() - at);
    }
    {
      uint32_t at = begin();
      PutU32(out, 1);
      for (const Proc& p : Procs) {
        PutU16(out, 42); PutU16(out, p.Kind);
        PutU32(out, 0); PutU32(out, 0); PutU32(out, 0); PutU32(out, p.Size);
        PutU32(out, 0); PutU32(out, 0); PutU32(out, p.Offset); PutU16(out, 1);
        PutU32(out, 0); out.push_back(0); out.push_back(0); PutU32(out, p.Name);
      }
      // A data symbol and a label between the procedures' records are read and kept aside.
      PutU16(out, 18); PutU16(out, 0x202);
      PutU32(out, 0x40); PutU16(out, 2); PutU16(out, 0); PutU32(out, 0); PutU32(out, 0);
      PutU16(out, 2); PutU16(out, 0x209);
      entries.emplace_back(0x125, at, begin() - at);
    }
    for (const Source& source : Sources) {
      uint32_t at = begin();
      std::vector<uint8_t> sub;
      PutU16(sub, 1); PutU16(sub, static_cast<uint32_t>(source.Segments.size()));
      PutU32(sub, 8);  // the only file's entry follows at once
      PutU16(sub, static_cast<uint32_t>(source.Segments.size()));
      PutU32(sub, source.Name);
      size_t blockOffsets = sub.size();
      for (size_t i = 0; i < source.Segments.size(); ++i) PutU32(sub, 0);
      for (const Lines& lines : source.Segments) { PutU32(sub, lines.Start); PutU32(sub, lines.End); }
      for (size_t i = 0; i < source.Segments.size(); ++i) {
        const Lines& lines = source.Segments[i];
        SetU32(sub, blockOffsets + i * 4, static_cast<uint32_t>(sub.size()));
        PutU16(sub, 1); PutU16(sub, static_cast<uint32_t>(lines.Pairs.size()));
        for (const auto& pair : lines.Pairs) PutU32(sub, pair.first);
        for (const auto& pair : lines.Pairs) PutU16(sub, pair.second);
      }
      out.insert(out.end(), sub.begin(), sub.end());
      entries.emplace_back(0x127, at, begin() - at);
    }
    {
      uint32_t at = begin();
      PutU32(out, static_cast<uint32_t>(names_.size()));
      for (const std::string& name : names_) {
        out.push_back(static_cast<uint8_t>(name.size()));
        out.insert(out.end(), name.begin(), name.end());
        if (ZeroAfterNames) out.push_back(0);
      }
      entries.emplace_back(0x130, at, begin() - at);
    }
    SetU32(out, 4, begin());
    PutU16(out, 16); PutU16(out, EntrySize); PutU32(out, static_cast<uint32_t>(entries.size()));
    PutU32(out, 0); PutU32(out, 0);
    for (const auto& [type, offset, size] : entries) {
      PutU16(out, type); PutU16(out, 0); PutU32(out, offset); PutU32(out, size);
    }
    out.insert(out.end(), {'F', 'B', '0', '9'});
    PutU32(out, static_cast<uint32_t>(out.size() + 4));
    return out;
  }

 private:
  std::vector<std::string> names_;
};

// --- Images laid out as mapped

class ImageBuilder {
 public:
  // Places the section at the next free page; answers its RVA.
  uint32_t AddSection(const std::string& name, const std::vector<uint8_t>& bytes, uint32_t rawSize = 0xFFFFFFFF) {
    uint32_t rva = next_;
    sections_.push_back({name, rva, static_cast<uint32_t>(bytes.size()),
                         rawSize == 0xFFFFFFFF ? static_cast<uint32_t>(bytes.size()) : rawSize, bytes});
    next_ += (static_cast<uint32_t>(bytes.size()) + 0xFFF) & ~0xFFFu;
    if (bytes.empty()) next_ += 0x1000;
    return rva;
  }
  void SetDirectory(uint32_t index, uint32_t rva, uint32_t size) { directories_[index] = {rva, size}; }
  uint32_t NextRva() const { return next_; }
  void SetBaseOfCode(uint32_t rva) { baseOfCode_ = rva; }

  // An export directory for a section placed at `rva`: names with their function RVAs; an RVA
  // of 0 makes the entry a forwarder to "OTHER.<name>". Answers the section's bytes and sets
  // `size` to the directory's extent.
  static std::vector<uint8_t> Exports(uint32_t rva, const std::vector<std::pair<std::string, uint32_t>>& names,
                                      uint32_t& size) {
    uint32_t count = static_cast<uint32_t>(names.size());
    uint32_t functions = 40, nameTable = functions + 4 * count, ordinals = nameTable + 4 * count;
    std::vector<uint8_t> out(ordinals + 2 * count, 0);
    SetU32(out, 16, 1);
    SetU32(out, 20, count);
    SetU32(out, 24, count);
    SetU32(out, 28, rva + functions);
    SetU32(out, 32, rva + nameTable);
    SetU32(out, 36, rva + ordinals);
    for (uint32_t i = 0; i < count; ++i) {
      SetU32(out, nameTable + 4 * i, rva + static_cast<uint32_t>(out.size()));
      for (char c : names[i].first) out.push_back(static_cast<uint8_t>(c));
      out.push_back(0);
      SetU16(out, ordinals + 2 * i, i);
      uint32_t target = names[i].second;
      if (target == 0) {
        target = rva + static_cast<uint32_t>(out.size());
        std::string forward = "OTHER." + names[i].first;
        for (char c : forward) out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
      }
      SetU32(out, functions + 4 * i, target);
    }
    size = static_cast<uint32_t>(out.size());
    return out;
  }

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> image(next_, 0);
    image[0] = 'M';
    image[1] = 'Z';
    SetU32(image, 60, 64);
    std::memcpy(&image[64], "PE\0\0", 4);
    size_t file = 68;
    SetU16(image, file, 0x14C);
    SetU16(image, file + 2, static_cast<uint32_t>(sections_.size()));
    SetU16(image, file + 16, 224);
    size_t optional = file + 20;
    SetU16(image, optional, 0x10B);
    SetU32(image, optional + 20, baseOfCode_);
    SetU32(image, optional + 56, next_);  // SizeOfImage
    SetU32(image, optional + 92, 16);
    for (const auto& [index, entry] : directories_) {
      SetU32(image, optional + 96 + index * 8, entry.first);
      SetU32(image, optional + 100 + index * 8, entry.second);
    }
    size_t table = optional + 224;
    for (size_t i = 0; i < sections_.size(); ++i) {
      const Section& s = sections_[i];
      size_t at = table + i * 40;
      std::memcpy(&image[at], s.Name.data(), std::min<size_t>(8, s.Name.size()));
      SetU32(image, at + 8, s.VirtualSize);
      SetU32(image, at + 12, s.Rva);
      SetU32(image, at + 16, s.RawSize);
      std::memcpy(&image[s.Rva], s.Bytes.data(), s.Bytes.size());
    }
    return image;
  }

 private:
  struct Section { std::string Name; uint32_t Rva, VirtualSize, RawSize; std::vector<uint8_t> Bytes; };
  std::vector<Section> sections_;
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> directories_;
  uint32_t next_ = 0x1000;
  uint32_t baseOfCode_ = 0x1000;
};

// --- Fake modules

// Serves module file names and images to the sources while it lives.
class FakeModules {
 public:
  FakeModules() {
    Current() = this;
    access_.FileName = [](uintptr_t module) {
      auto it = Current()->names_.find(module);
      return it == Current()->names_.end() ? std::string() : it->second;
    };
    access_.Image = [](uintptr_t module, TELImageView& view) {
      auto it = Current()->images_.find(module);
      if (it == Current()->images_.end()) return false;
      view.Data = it->second.data();
      view.Size = static_cast<uint32_t>(it->second.size());
      return true;
    };
    SetELModuleAccess(&access_);
  }
  ~FakeModules() {
    SetELModuleAccess(nullptr);
    Current() = nullptr;
  }
  FakeModules(const FakeModules&) = delete;
  FakeModules& operator=(const FakeModules&) = delete;

  void Add(uintptr_t module, const std::string& fileName, std::vector<uint8_t> image = {}) {
    names_[module] = fileName;
    if (!image.empty()) images_[module] = std::move(image);
  }

 private:
  static FakeModules*& Current() {
    static FakeModules* current = nullptr;
    return current;
  }
  TELModuleAccess access_;
  std::map<uintptr_t, std::string> names_;
  std::map<uintptr_t, std::vector<uint8_t>> images_;
};

// --- Map file in the segment map format the map reader takes

inline std::string SampleMapFile() {
  return
      "\r\n Start         Length     Name                   Class\r\n"
      " 0001:00401000 00002000H .text                   CODE\r\n"
      " 0002:00403000 00000100H .data                   DATA\r\n"
      "\r\n\r\nDetailed map of segments\r\n\r\n"
      " 0001:00000000 00000800 C=CODE     S=.text    G=(none)   M=System   ACBP=A9\r\n"
      " 0001:00000800 00000400 C=CODE     S=.text    G=(none)   M=Unit1    ACBP=A9\r\n"
      " 0002:00000000 00000100 C=DATA     S=.data    G=DGROUP   M=System   ACBP=A9\r\n"
      "\r\n\r\n  Address         Publics by Name\r\n\r\n"
      " 0001:00000100       System.Bar\r\n"
      " 0001:00000010       System.Foo\r\n"
      " 0001:00000900       Unit1.TForm1.Click\r\n"
      "\r\n\r\n  Address         Publics by Value\r\n\r\n"
      " 0001:00000010       System.Foo\r\n"
      " 0001:00000100       System.Bar\r\n"
      " 0002:00000004       System.SomeVar\r\n"
      " 0001:00000900       Unit1.TForm1.Click\r\n"
      "\r\n\r\n"
      "Line numbers for System(System.pas) segment .text\r\n\r\n"
      "    10 0001:00000010    11 0001:00000020    12 0001:00000100\r\n"
      "    13 0001:00000110    14 0001:00000050    15 0002:00000120\r\n"
      "\r\n"
      "Line numbers for Unit1(C:\\Work\\Unit1.pas) segment .text\r\n\r\n"
      "    30 0001:00000900    31 0001:00000910    32 0001:00000920\r\n"
      "\r\n";
}

}  // namespace testdata
