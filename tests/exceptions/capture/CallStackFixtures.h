// Synthetic memory, modules and debug-information sources for call-stack and disassembly tests:
// pages of bytes at 32-bit addresses and modules that answer for address ranges.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "exceptions/capture/ECallStack.h"

namespace callstack_test {

// Readable memory in 4 KiB pages; everything not mapped is unreadable.
class TPageMemory : public TEmberMemory {
 public:
  static constexpr uint32_t PageSize = 4096;

  void Map(uint32_t start, uint32_t size) {
    for (uint64_t page = start / PageSize; page * PageSize < static_cast<uint64_t>(start) + size; ++page)
      pages_[static_cast<uint32_t>(page)].resize(PageSize, 0);
  }
  void Unmap(uint32_t start, uint32_t size) {
    for (uint64_t page = start / PageSize; page * PageSize < static_cast<uint64_t>(start) + size; ++page)
      pages_.erase(static_cast<uint32_t>(page));
  }
  // Maps what is needed and stores the bytes.
  void Write(uint32_t address, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return;
    Map(address, static_cast<uint32_t>(bytes.size()));
    for (size_t i = 0; i < bytes.size(); ++i) {
      uint32_t at = address + static_cast<uint32_t>(i);
      pages_[at / PageSize][at % PageSize] = bytes[i];
    }
  }
  void WriteWord(uint32_t address, uint32_t value) {
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    Write(address, bytes);
  }

  bool IsReadable(uint32_t address, uint32_t size) const override {
    uint64_t end = static_cast<uint64_t>(address) + (size ? size : 1);
    if (end > 0x100000000ull) return false;
    for (uint64_t page = address / PageSize; page * PageSize < end; ++page)
      if (!pages_.count(static_cast<uint32_t>(page))) return false;
    return true;
  }
  bool Read(uint32_t address, void* buffer, uint32_t size) const override {
    if (!IsReadable(address, size)) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < size; ++i) {
      uint32_t at = address + i;
      out[i] = pages_.at(at / PageSize)[at % PageSize];
    }
    return true;
  }

 private:
  std::map<uint32_t, std::vector<uint8_t>> pages_;
};

// Answers GetLocationInfo from a table of address ranges.
class TTableDebugSource : public TELDebugInfoSource {
 public:
  struct Range {
    uint32_t Start, End;  // [Start, End)
    TELLocationInfo Info;
  };
  explicit TTableDebugSource(uintptr_t module) : TELDebugInfoSource(module) {}
  void Load() override {}
  bool IsValid() const override { return true; }
  bool GetLocationInfo(uintptr_t address, TELLocationInfo& info) override {
    for (const Range& range : Ranges) {
      if (address >= range.Start && address < range.End) {
        info = range.Info;
        info.Address = address;
        return true;
      }
    }
    return false;
  }
  void Add(uint32_t start, uint32_t end, const std::string& source, const std::string& procedure,
           int32_t line, int32_t lineOffset) {
    Range range{start, end, {}};
    range.Info.SourceName = source;
    range.Info.UnitName = source;
    range.Info.ProcedureName = procedure;
    range.Info.LineNumber = line;
    range.Info.LineNumberOffset = lineOffset;
    Ranges.push_back(range);
  }
  std::vector<Range> Ranges;
};

// Modules covering address ranges, installed as the module lookup while the object lives;
// installs its memory too.
class TTestProcess {
 public:
  TTestProcess() {
    Current() = this;
    SetEmberMemory(&Memory);
    SetEmberModuleLookup(&Lookup);
  }
  ~TTestProcess() {
    SetEmberModuleLookup(nullptr);
    SetEmberMemory(nullptr);
    Current() = nullptr;
  }
  TTestProcess(const TTestProcess&) = delete;
  TTestProcess& operator=(const TTestProcess&) = delete;

  TEmberModuleInfo& AddModule(uint32_t base, uint32_t size, const std::string& fileName) {
    auto info = std::make_unique<TEmberModuleInfo>();
    info->Handle = base;
    info->FileName = fileName;
    info->Size = size;
    modules_.push_back({base, size, std::move(info)});
    return *modules_.back().Info;
  }
  TTableDebugSource& AddDebugSource(TEmberModuleInfo& module) {
    auto source = std::make_unique<TTableDebugSource>(module.Handle);
    TTableDebugSource& result = *source;
    module.DebugInfo = std::move(source);
    return result;
  }
  static void AddFunction(TEmberModuleInfo& module, const std::string& name, uint32_t address, uint32_t size) {
    TEmberFunctionInfo info;
    info.Name = name;
    info.Address = address;
    info.Size = size;
    module.Functions->AddFunction(info);
  }

  TPageMemory Memory;
  // Addresses whose lookup raises, to test the guard around each entry.
  std::vector<uint32_t> FailingAddresses;

 private:
  struct Entry {
    uint32_t Base, Size;
    std::unique_ptr<TEmberModuleInfo> Info;
  };
  static TTestProcess*& Current() {
    static TTestProcess* current = nullptr;
    return current;
  }
  static TEmberModuleInfo* Lookup(uint32_t address) {
    TTestProcess* process = Current();
    if (!process) return nullptr;
    for (uint32_t failing : process->FailingAddresses)
      if (failing == address) throw std::runtime_error("lookup failed");
    for (Entry& entry : process->modules_)
      if (address >= entry.Base && address - entry.Base < entry.Size) return entry.Info.get();
    return nullptr;
  }
  std::vector<Entry> modules_;
};

// Little-endian bytes of a 32-bit value.
inline std::vector<uint8_t> Le32(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 24)};
}

inline std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// "call target" placed at `at`.
inline std::vector<uint8_t> CallRel(uint32_t at, uint32_t target) {
  return Cat({{0xE8}, Le32(target - (at + 5))});
}

}  // namespace callstack_test
