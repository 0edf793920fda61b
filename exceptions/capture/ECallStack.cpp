// Call-stack building: the stack scan, the call-instruction test, the resolution of one address
// and the post-pass that hides duplicates.
#include "ECallStack.h"

#include <cstring>

#include "EHook.h"
#include "EmberLibraryData.h"
#include "detail/ECallStackPlatform_p.h"
#include "exceptions/ECore.h"

// --- Memory

namespace {
const TEmberMemory* gMemory = nullptr;
TEmberModuleLookup gModuleLookup = nullptr;
}  // namespace

const TEmberMemory& EmberProcessMemory() { return ember_detail::PlatformProcessMemory(); }
const TEmberMemory& EmberMemory() { return gMemory ? *gMemory : EmberProcessMemory(); }
void SetEmberMemory(const TEmberMemory* memory) { gMemory = memory; }

bool TEmberMemoryOverlay::Inside(uint32_t address, uint32_t size) const {
  uint64_t from = address;
  uint64_t to = from + (size ? size : 1);
  return from >= start_ && to <= static_cast<uint64_t>(start_) + bytes_.size();
}

bool TEmberMemoryOverlay::IsReadable(uint32_t address, uint32_t size) const {
  return Inside(address, size) || base_.IsReadable(address, size);
}

bool TEmberMemoryOverlay::Read(uint32_t address, void* buffer, uint32_t size) const {
  if (!Inside(address, size)) return base_.Read(address, buffer, size);
  if (size) std::memcpy(buffer, bytes_.data() + (address - start_), size);
  return true;
}

uint32_t FollowImportJump(const TEmberMemory& memory, uint32_t address) {
  uint8_t code[6];
  if (!memory.Read(address, code, 6) || code[0] != 0xFF || code[1] != 0x25) return address;
  uint32_t slot;
  std::memcpy(&slot, code + 2, 4);
  uint32_t target;
  if (!memory.Read(slot, &target, 4)) return address;
  return target;
}

// --- Modules

void SetEmberModuleLookup(TEmberModuleLookup lookup) { gModuleLookup = lookup; }

TEmberModuleInfo* EmberModuleOfAddress(uint32_t address) {
  return gModuleLookup ? gModuleLookup(address) : ember_detail::PlatformModuleOfAddress(address);
}

// --- Detail flags

uint8_t GetCallStackDetailFlags(uint8_t callStackOptions) {
  uint8_t flags = 1 << 4;
  if (callStackOptions & 0x01) flags |= 1 << 2;
  if (callStackOptions & 0x02) flags |= 1 << 3;
  return flags;
}

// --- Call-instruction test

namespace {

bool InRange(uint8_t value, uint8_t low, uint8_t high) { return value >= low && value <= high; }

}  // namespace

int32_t CallInstructionBefore(const TEmberMemory& memory, uint32_t returnAddress) {
  if (returnAddress < 7) return 0;
  uint8_t b[7];  // b[7 - k] is the byte at returnAddress - k
  if (!memory.Read(returnAddress - 7, b, 7)) return 0;
  auto at = [&](int k) { return b[7 - k]; };  // the byte k bytes before the return address
  if (at(5) == 0xE8) return 5;                                   // call rel32
  if (at(2) == 0xFF && InRange(at(1), 0xD0, 0xD7)) return 2;     // call reg
  if (at(2) == 0xFF && (InRange(at(1), 0x10, 0x13) || at(1) == 0x16 || at(1) == 0x17))
    return 2;                                                    // call [reg]
  // call [reg+disp8] counts only after a register load, or too many data words would pass.
  if (at(3) == 0xFF && (InRange(at(2), 0x50, 0x53) || InRange(at(2), 0x55, 0x57)) &&
      (at(5) == 0x8B || at(6) == 0x8B))
    return 3;
  if (at(6) == 0xFF && (InRange(at(5), 0x90, 0x93) || InRange(at(5), 0x95, 0x97))) return 6;
  if (at(3) == 0xFF && at(2) == 0x14 && at(1) == 0x24) return 3;  // call [esp]
  if (at(4) == 0xFF && at(3) == 0x54 && at(2) == 0x24) return 4;  // call [esp+disp8]
  if (at(7) == 0xFF && at(6) == 0x94 && at(5) == 0x24) return 7;  // call [esp+disp32]
  if (at(6) == 0xFF && at(5) == 0x15) {                            // call [mem32]
    uint32_t pointer;
    std::memcpy(&pointer, b + 3, 4);
    if (memory.IsReadable(pointer, 4)) return 6;
  }
  return 0;
}

// --- Procedure sizes

uint32_t MeasureProcedureSize(const TEmberMemory& memory, uint32_t address, uint32_t limit) {
  uint32_t offset = 0;
  uint32_t furthest = 0;  // the furthest branch target inside the procedure seen so far
  while (offset < limit) {
    uint8_t code[MaxInstructionLength];
    uint32_t available = limit - offset < MaxInstructionLength ? limit - offset : MaxInstructionLength;
    while (available > 0 && !memory.Read(address + offset, code, available)) --available;
    TInstructionInfo info;
    if (available == 0 || !DecodeInstructionInfo(code, available, info)) break;
    uint32_t next = offset + static_cast<uint32_t>(info.Length);
    if (info.Relative != TRelativeKind::None) {
      int32_t displacement = 0;
      if (info.Relative == TRelativeKind::Short) {
        displacement = static_cast<int8_t>(code[info.RelativeOffset]);
      } else {
        std::memcpy(&displacement, code + info.RelativeOffset, 4);
      }
      int64_t target = static_cast<int64_t>(next) + displacement;
      // Calls leave the procedure and come back; only jumps extend it.
      bool isCall = code[info.PrefixCount] == 0xE8;
      if (!isCall && target > static_cast<int64_t>(furthest) && target < static_cast<int64_t>(limit))
        furthest = static_cast<uint32_t>(target);
    }
    offset = next;
    if ((info.IsReturn || info.IsUnconditionalJump) && offset > furthest) return offset;
  }
  return offset;
}

// --- Resolving one address

namespace {

std::string WithoutFolder(const std::string& fileName) {
  size_t slash = fileName.find_last_of("\\/");
  return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

uint8_t KindFromNames(const TEmberStackItem& item) {
  if (item.Line != 0) return 4;
  if (!item.UnitName.Empty()) return 3;
  if (!item.ProcedureName.Empty()) return 2;
  return item.ModuleInfo ? 1 : 0;
}

// The answer of the module's debug-information source; false when it knows no unit there.
bool FillFromDebugSource(TEmberModuleInfo& module, uint32_t address, TEmberStackItem& item) {
  if (!module.DebugInfo) return false;
  TELLocationInfo info;
  if (!module.DebugInfo->GetLocationInfo(address, info)) return false;
  std::string unitName = WithoutFolder(info.SourceName);
  if (unitName.empty()) unitName = info.UnitName;
  std::string className;
  std::string procedure = info.ProcedureName;
  size_t firstDot = procedure.find('.');
  size_t lastDot = procedure.rfind('.');
  if (firstDot != std::string::npos && firstDot != lastDot) {
    unitName = procedure.substr(0, firstDot);
    className = procedure.substr(firstDot + 1, lastDot - firstDot - 1);
    procedure = procedure.substr(lastDot + 1);
  } else if (firstDot != std::string::npos) {
    className = procedure.substr(0, firstDot);
    procedure = procedure.substr(firstDot + 1);
  }
  if (!procedure.empty() && procedure[0] == '@') procedure[0] = '_';
  item.UnitName.Assign(unitName);
  item.ClassName.Assign(className);
  item.ProcedureName.Assign(procedure);
  item.Line = static_cast<uint32_t>(info.LineNumber > 0 ? info.LineNumber : 0);
  item.LineOffset = static_cast<uint32_t>(info.LineNumberOffset > 0 ? info.LineNumberOffset : 0);
  item.Kind = KindFromNames(item);
  return true;
}

// An exported name as unit, class and procedure.
void FillFromExportName(const std::string& exported, TEmberStackItem& item) {
  std::string name = exported;
  if (!name.empty() && name[0] == '@') {
    name = name.substr(0, name.find('$')).substr(1);
    for (size_t i = 0; i + 1 < name.size(); ++i) {
      if (name[i] == '@' && name[i + 1] == '@') name[i + 1] = '_';
    }
    for (char& c : name) {
      if (c == '@') c = '.';
    }
    FillItemFromQualifiedName(item, name);
    return;
  }
  if (name.find('.') != std::string::npos) {
    FillItemFromQualifiedName(item, name.substr(0, name.find('@')));
    return;
  }
  item.ProcedureName.Assign(name);
  item.Kind = name.empty() ? 1 : 2;
}

bool FillFromExports(TEmberModuleInfo& module, uint32_t address, TEmberStackItem& item) {
  TEmberFunctionsList& functions = *module.Functions;
  int32_t index = functions.IndexOfAddress(address);
  if (index < 0) return false;
  TEmberFunctionInfo* function = functions.GetItem(index);
  if (function->Size == 0) {
    // Measured once, never beyond the next export.
    uint32_t limit = 0x10000;
    if (index + 1 < functions.Count()) {
      uint32_t gap = functions.GetItem(index + 1)->Address - function->Address;
      if (gap < limit) limit = gap;
    }
    function->Size = MeasureProcedureSize(EmberMemory(), function->Address, limit);
    if (function->Size == 0) return false;
  }
  if (address - function->Address >= function->Size) return false;
  FillFromExportName(function->Name, item);
  return true;
}

}  // namespace

void GetAddressInfo(uint32_t address, uint32_t threadID, TEmberStackItem& item, bool first,
                    uint8_t runningThread) {
  ClearStackItem(item);
  item.ModuleInfo = EmberModuleOfAddress(address);
  item.ThreadID = threadID;
  item.RunningThread = runningThread;
  item.IsFirst = first ? 1 : 0;
  item.Address = address;
  item.Kind = item.ModuleInfo ? 1 : 0;
  if (!item.ModuleInfo) return;
  TEmberModuleInfo& module = *item.ModuleInfo;
  if (FindSymbolLocation(address, item)) {
    item.Address = address;
    return;
  }
  if (FillFromDebugSource(module, address, item)) return;
  if (module.Functions && module.Functions->Count() > 0) FillFromExports(module, address, item);
}

// --- The walk

namespace {

struct TStackWalk {
  TEmberStackList& List;
  uint8_t DetailFlags;
  int32_t Skip, Count;
  bool Resolve;
  uint8_t RunningThread;
  uint32_t ThreadID;
  int32_t Qualifying = 0;
  int32_t Added = 0;

  bool Full() const { return List.Count() > MaxStackEntries; }

  void Add(uint32_t address, bool first) {
    if (Full()) return;
    auto* item = new TEmberStackItem;
    try {
      if (Resolve) {
        GetAddressInfo(address, ThreadID, *item, first, RunningThread);
      } else {
        ClearStackItem(*item);
        item->ModuleInfo = EmberModuleOfAddress(address);
        item->Kind = item->ModuleInfo ? 1 : 0;
        item->Address = address;
        item->ThreadID = ThreadID;
        item->RunningThread = RunningThread;
        item->IsFirst = first ? 1 : 0;
      }
    } catch (...) {
      delete item;  // this address stays out; the walk goes on
      return;
    }
    if (item->Kind > 4 || (DetailFlags & (1u << item->Kind)) == 0) {
      delete item;
      return;
    }
    ++Qualifying;
    bool take = Skip == -1 || (Qualifying > Skip && Added < Count);
    if (!take) {
      delete item;
      return;
    }
    List.Add(item);
    ++Added;
  }

  void AddCallSite(const TEmberMemory& memory, uint32_t returnAddress, bool followCalls) {
    int32_t length = CallInstructionBefore(memory, returnAddress);
    if (length == 0) return;
    uint32_t callSite = returnAddress - static_cast<uint32_t>(length);
    if (length == 5) {
      uint8_t opcode = 0;
      memory.Read(callSite, &opcode, 1);
      if (opcode == 0xE8 && followCalls) {
        int32_t displacement;
        if (memory.Read(callSite + 1, &displacement, 4)) {
          uint32_t target = returnAddress + static_cast<uint32_t>(displacement);
          if (memory.IsReadable(target, 1)) {
            target = FollowImportJump(memory, target);
            uint8_t targetOpcode = 0;
            if (memory.Read(target, &targetOpcode, 1) && targetOpcode != 0xE8) Add(target, false);
          }
        }
      }
    }
    Add(callSite, false);
  }
};

constexpr uint32_t ScanBlock = 400;

}  // namespace

void BuildCallStack(TEmberStackList& list, uint32_t firstAddress, uint32_t stackPointer,
                    uint8_t detailFlags, int32_t skip, int32_t count, bool resolve, bool followCalls,
                    uint8_t runningThread, uint32_t threadID, uint32_t stackEnd) {
  BuildCallStackIn(EmberMemory(), list, firstAddress, stackPointer, detailFlags, skip, count,
                   resolve, followCalls, runningThread, threadID, stackEnd);
}

void BuildCallStackIn(const TEmberMemory& memory, TEmberStackList& list, uint32_t firstAddress,
                      uint32_t stackPointer, uint8_t detailFlags, int32_t skip, int32_t count,
                      bool resolve, bool followCalls, uint8_t runningThread, uint32_t threadID,
                      uint32_t stackEnd) {
  int32_t firstNew = list.Count();
  TStackWalk walk{list, detailFlags, skip, count, resolve, runningThread, threadID};
  try {
    if (firstAddress != 0) walk.Add(firstAddress, true);
    if (stackEnd > stackPointer && stackEnd - stackPointer > MaxStackScanBytes)
      stackEnd = stackPointer + MaxStackScanBytes;
    // Words are read in blocks of 400 bytes where the whole block is readable, one by one where
    // it is not; an unreadable word is passed over.
    uint8_t block[ScanBlock];
    uint32_t blockStart = 0, blockSize = 0;
    for (uint64_t p = stackPointer; p <= stackEnd && p + 4 <= 0x100000000ull && !walk.Full(); p += 4) {
      uint32_t at = static_cast<uint32_t>(p);
      if (blockSize == 0 || at < blockStart || at + 4 > static_cast<uint64_t>(blockStart) + blockSize) {
        uint64_t wanted = static_cast<uint64_t>(stackEnd) + 4 - at;
        if (wanted > ScanBlock) wanted = ScanBlock;
        if (at + wanted > 0x100000000ull) wanted = 0x100000000ull - at;
        blockSize = 0;
        if (memory.Read(at, block, static_cast<uint32_t>(wanted))) {
          blockSize = static_cast<uint32_t>(wanted);
        } else if (memory.Read(at, block, 4)) {
          blockSize = 4;
        } else {
          continue;
        }
        blockStart = at;
      }
      uint32_t word;
      std::memcpy(&word, block + (at - blockStart), 4);
      walk.AddCallSite(memory, word, followCalls);
    }
  } catch (...) {
    // Nothing of the walk may escape to the exception processing that called it.
  }
  try {
    PostProcessCallStack(list, firstNew, resolve);
  } catch (...) {
  }
}

TEmberStackList* NewCallStack(uint32_t firstAddress, uint32_t stackPointer, uint32_t stackEnd,
                              uint8_t detailFlags, int32_t skip, int32_t count, bool resolve,
                              uint8_t runningThread, uint32_t threadID) {
  auto* list = new TEmberStackList;
  BuildCallStack(*list, firstAddress, stackPointer, detailFlags, skip, count, resolve, false,
                 runningThread, threadID, stackEnd);
  return list;
}

// --- Post-pass

namespace {

bool IsNamed(const TEmberStackItem* item) { return item->Kind >= 2 && item->Kind <= 4; }

uintptr_t ModuleHandleOf(const TEmberStackItem* item) {
  return item->ModuleInfo ? item->ModuleInfo->Handle : 0;
}

bool SameProcedure(const TEmberStackItem* a, const TEmberStackItem* b) {
  return a->UnitName.Str() == b->UnitName.Str() && a->ClassName.Str() == b->ClassName.Str() &&
         a->ProcedureName.Str() == b->ProcedureName.Str();
}

// Inside the development environment only named entries outside the exception handlers help.
void DropUnnamedEntries(TEmberStackList& list, int32_t firstNew) {
  for (int32_t i = firstNew; i < list.Count();) {
    const TEmberStackItem* item = list.GetItem(i);
    if (!IsNamed(item) || item->ProcedureName.Str().find("HandleException") != std::string::npos) {
      list.Delete(i);
    } else {
      ++i;
    }
  }
}

// A scan meets the same return address again (a stale copy of it further up the stack): the
// entry nearer the stack pointer goes.
void HideRepeatedCallSites(TEmberStackList& list, int32_t firstNew) {
  for (int32_t i = list.Count() - 2; i >= firstNew; --i) {
    TEmberStackItem* item = list.GetItem(i);
    if (!IsNamed(item)) continue;
    const TEmberStackItem* matches[2] = {nullptr, nullptr};
    int32_t found = 0;
    for (int32_t j = i + 1; j < list.Count() && found < 2; ++j) {
      const TEmberStackItem* later = list.GetItem(j);
      if (IsNamed(later) && ModuleHandleOf(later) == ModuleHandleOf(item)) matches[found++] = later;
    }
    if ((matches[0] && matches[0]->Address == item->Address) ||
        (matches[1] && matches[1]->Address == item->Address))
      item->Kind = 0;
  }
}

// An entry on a procedure's first line (its caller is being set up, or the stack frame is
// fresh) preceded on the same thread by the same procedure on a later line: whatever the scan
// found between the two is stale. A run that reaches the start of the list or of another
// thread's stack without meeting the procedure hides nothing: there is nothing to tell stale
// entries from live ones there.
void HideStaleRuns(TEmberStackList& list) {
  for (int32_t i = list.Count() - 1; i >= 1; --i) {
    const TEmberStackItem* item = list.GetItem(i);
    if (item->Kind != 4 || item->LineOffset != 0) continue;
    auto isPartner = [&](const TEmberStackItem* other) {
      return SameProcedure(other, item) && other->LineOffset != 0;
    };
    auto sameRun = [&](const TEmberStackItem* other) {
      return other->ThreadID == item->ThreadID && other->RunningThread == item->RunningThread;
    };
    auto continuesRun = [&](const TEmberStackItem* other) { return sameRun(other) && !isPartner(other); };
    int32_t j = i - 1;
    while (j > 0 && continuesRun(list.GetItem(j))) --j;
    const TEmberStackItem* stop = list.GetItem(j);
    if (!sameRun(stop) || !isPartner(stop)) continue;
    for (int32_t k = j + 1; k < i; ++k) list.GetItem(k)->Kind = 0;
  }
}

}  // namespace

void PostProcessCallStack(TEmberStackList& list, int32_t firstNew, bool resolved) {
  if (firstNew < 0) firstNew = 0;
  if (IsRunningInIDE() && resolved) DropUnnamedEntries(list, firstNew);
  HideRepeatedCallSites(list, firstNew);
  HideStaleRuns(list);
}
