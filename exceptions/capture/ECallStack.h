// Call-stack building: scans a thread's stack for return addresses that follow a call
// instruction, resolves each call site to module, unit, class, procedure and line, filters the
// entries by kind and hides the duplicates such a scan produces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EmberRecords.h"

// --- Memory the walk reads

// Where the walk reads stacks and code. Every read is checked: nothing here may fault.
class TEmberMemory {
 public:
  virtual ~TEmberMemory() = default;
  // True when `size` bytes from `address` can all be read (a size of 0 asks for the address).
  virtual bool IsReadable(uint32_t address, uint32_t size) const = 0;
  // Copies `size` bytes; false, with nothing copied, when they are not all readable.
  virtual bool Read(uint32_t address, void* buffer, uint32_t size) const = 0;
};

// The memory of this process (Windows: probed with VirtualQuery; elsewhere nothing is readable,
// as the portable build has no 32-bit address space to walk).
const TEmberMemory& EmberProcessMemory();
// The memory the call-stack code reads: the process's unless a test installed its own.
const TEmberMemory& EmberMemory();
// Replaces the memory read (nullptr restores the process's). Not thread-safe: tests only.
void SetEmberMemory(const TEmberMemory* memory);

// A copy of one range of memory (a thread's stack taken while the thread was suspended) laid
// over another memory: reads inside the range come from the copy, the rest from `base`.
class TEmberMemoryOverlay : public TEmberMemory {
 public:
  TEmberMemoryOverlay(const TEmberMemory& base, uint32_t start, std::vector<uint8_t> bytes)
      : base_(base), start_(start), bytes_(std::move(bytes)) {}
  bool IsReadable(uint32_t address, uint32_t size) const override;
  bool Read(uint32_t address, void* buffer, uint32_t size) const override;

 private:
  bool Inside(uint32_t address, uint32_t size) const;
  const TEmberMemory& base_;
  uint32_t start_;
  std::vector<uint8_t> bytes_;
};

// The target of "jmp [slot]" (FF 25 and a readable slot) at `address`; else `address`.
uint32_t FollowImportJump(const TEmberMemory& memory, uint32_t address);

// --- Modules the entries point at

// The modules-list entry of the module that holds `address`; nullptr when no module does.
// The report side installs its modules list here; until then a list of this library's own is
// used (Windows: the loaded module found for the address with its file name, exports, library
// data and debug-information source; elsewhere no module is known).
using TEmberModuleLookup = TEmberModuleInfo* (*)(uint32_t address);
void SetEmberModuleLookup(TEmberModuleLookup lookup);  // nullptr restores the built-in list
TEmberModuleInfo* EmberModuleOfAddress(uint32_t address);

// --- Detail flags and limits

// Bit n keeps entries of kind n (0 nothing known ... 4 line known).
constexpr uint8_t AllStackKinds = 31;
constexpr int32_t MaxStackEntries = 1024;    // entries are added while the list holds at most this
constexpr uint32_t MaxStackScanBytes = 102400;

// Kinds shown in reports from the options' CallStackOptions: kind 4 always, kind 2 with bit
// 0x01, kind 3 with bit 0x02.
uint8_t GetCallStackDetailFlags(uint8_t callStackOptions);

// The length of the call instruction that ends right before `returnAddress`: 2 to 7, or 0 when
// the bytes before it encode none of the calls compilers emit (or are not readable).
int32_t CallInstructionBefore(const TEmberMemory& memory, uint32_t returnAddress);

// --- Building

// Fills `item` for one code address: module, thread, running marker and first flag, then the
// location from the module's library data, else its debug-information source, else its exports.
// Kind 4 with a line, 3 with a unit, 2 with a procedure, 1 with the module only, 0 without one.
void GetAddressInfo(uint32_t address, uint32_t threadID, TEmberStackItem& item, bool first,
                    uint8_t runningThread);

// Appends the call stack found between `stackPointer` and `stackEnd` (the highest word looked
// at; cut to 102,400 bytes above the stack pointer) to `list`, after `firstAddress` (the
// exception address, marked first) when that is not 0. Entries are kept when their kind is in
// `detailFlags`; with `skip` >= 0 the first `skip` kept entries are left out and at most
// `count` added (-1, -1: everything). Without `resolve` entries carry the module only.
// `followCalls` also adds the targets of direct calls. Never raises; unreadable words and code
// are skipped. Call it with the thread whose stack is read suspended, or on a copy of its stack.
void BuildCallStack(TEmberStackList& list, uint32_t firstAddress, uint32_t stackPointer,
                    uint8_t detailFlags, int32_t skip, int32_t count, bool resolve, bool followCalls,
                    uint8_t runningThread, uint32_t threadID, uint32_t stackEnd);

// The same over the stack words of `memory` (a copy of a suspended thread's stack laid over the
// process's memory); code bytes are read there too.
void BuildCallStackIn(const TEmberMemory& memory, TEmberStackList& list, uint32_t firstAddress,
                      uint32_t stackPointer, uint8_t detailFlags, int32_t skip, int32_t count,
                      bool resolve, bool followCalls, uint8_t runningThread, uint32_t threadID,
                      uint32_t stackEnd);

// A new list filled by BuildCallStack (without following calls); the caller owns it.
TEmberStackList* NewCallStack(uint32_t firstAddress, uint32_t stackPointer, uint32_t stackEnd,
                              uint8_t detailFlags, int32_t skip, int32_t count, bool resolve,
                              uint8_t runningThread, uint32_t threadID);

// Hides duplicates among the entries from `firstNew` on (and, inside the development
// environment with `resolved`, deletes unnamed entries and those of exception handlers), then
// hides the stale entries between a procedure's first-line entry and an earlier entry of the
// same procedure on the same thread. BuildCallStack runs it over what it added.
void PostProcessCallStack(TEmberStackList& list, int32_t firstNew, bool resolved);

// Bytes of code that belong to the procedure starting at `address`: up to the return or jump
// that ends it with no branch inside leading further, at most `limit` bytes; 0 when its first
// instruction cannot be read or decoded.
uint32_t MeasureProcedureSize(const TEmberMemory& memory, uint32_t address, uint32_t limit);

// --- Live threads (Windows; win32/ECallStack.cpp)

// The highest stack word of the thread whose stack pointer is `stackPointer`: the top of the
// committed stack region that holds it; 0 when it cannot be found.
uint32_t GetStackTopOf(uint32_t stackPointer);

// Appends the calling thread's own call stack (from the caller's frame up) to `list`.
void BuildCurrentCallStack(TEmberStackList& list, uint8_t detailFlags, bool resolve,
                           uint8_t runningThread);

// Suspends another thread, reads its context (control and integer registers into `context`, at
// least 716 bytes, flags 0x10003) and copies its stack from the stack pointer up to the
// stack's top (at most 102,400 bytes), then resumes it; everything is allocated before, so
// that a thread stopped inside the heap cannot block this. False when the thread cannot be
// suspended or its context read.
bool SnapshotThread(uintptr_t threadHandle, void* context, uint32_t& eip, uint32_t& esp, std::vector<uint8_t>& stack);

// Appends the stack of another thread: suspends it, reads its context, copies its stack words
// (at most 102,400 bytes) and resumes it before anything is resolved, so that a thread stopped
// inside the heap cannot block the walk. The thread's instruction pointer is the first entry.
// False when the thread cannot be suspended or its context read (or its pointers are 0), or
// when `threadHandle` is the calling thread's. `threadHandle` needs suspend and get-context rights.
bool BuildThreadCallStack(TEmberStackList& list, uintptr_t threadHandle, uint32_t threadID,
                          uint8_t detailFlags, bool resolve, uint8_t runningThread);
