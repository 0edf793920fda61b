// Call stacks of live threads on Windows: the process's memory probed with VirtualQuery, the
// built-in modules list, the calling thread's stack and the stacks of suspended threads.
#include "../ECallStack.h"
#include "../detail/ECallStackPlatform_p.h"

#include <windows.h>

#include <cstring>
#include <mutex>

#include "../EmberLibraryData.h"
#include "../ExceptionLog.h"
#include "classlib/NeverDestroyed.h"

namespace ember_detail {

namespace {

bool IsReadableProtection(DWORD protect) {
  if (protect & (PAGE_GUARD | PAGE_NOACCESS)) return false;
  return (protect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                     PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

// Memory that neighbouring regions share (a code section that follows the headers) is read
// across their border when every region on the way is readable.
class TLiveMemory : public TEmberMemory {
 public:
  bool IsReadable(uint32_t address, uint32_t size) const override {
    if (address == 0) return false;
    uint64_t at = address;
    uint64_t end = at + (size ? size : 1);
    if (end > 0x100000000ull) return false;
    while (at < end) {
      MEMORY_BASIC_INFORMATION info;
      if (VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(at)), &info, sizeof info) !=
              sizeof info ||
          info.State != MEM_COMMIT || !IsReadableProtection(info.Protect))
        return false;
      at = reinterpret_cast<uintptr_t>(info.BaseAddress) + static_cast<uint64_t>(info.RegionSize);
    }
    return true;
  }
  bool Read(uint32_t address, void* buffer, uint32_t size) const override {
    if (!IsReadable(address, size)) return false;
    if (size) std::memcpy(buffer, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), size);
    return true;
  }
};

// The modules call-stack entries point at until the report side installs its modules list.
struct TBuiltInModules {
  std::mutex Lock;
  TEmberModulesList List;
};

// Outlives every finaliser that may still walk; in static storage, so that an unloaded module
// leaves no block of it behind.
TBuiltInModules& BuiltInModules() {
  static TNeverDestroyed<TBuiltInModules> modules;
  return modules.Get();
}

}  // namespace

const TEmberMemory& PlatformProcessMemory() {
  static const TLiveMemory memory;
  return memory;
}

TEmberModuleInfo* PlatformModuleOfAddress(uint32_t address) {
  HMODULE handle = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(address)), &handle) ||
      !handle)
    return nullptr;
  TBuiltInModules& modules = BuiltInModules();
  std::lock_guard<std::mutex> lock(modules.Lock);
  uintptr_t base = reinterpret_cast<uintptr_t>(handle);
  int32_t index = modules.List.IndexOfHandle(base);
  if (index >= 0) return modules.List.GetItem(index);
  auto* info = new TEmberModuleInfo;
  info->Handle = base;
  char name[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameA(handle, name, MAX_PATH);
  if (length > 0 && length < MAX_PATH) info->FileName.assign(name, length);
  try {
    LoadModuleFunctions(base, *info->Functions);
    LoadModuleData(*info);
    CreateDebugInfoSource(base, info->DebugInfo);
  } catch (...) {
    // An entry without exports or debug information still names its module.
  }
  modules.List.Add(info);
  return info;
}

}  // namespace ember_detail

uint32_t GetStackTopOf(uint32_t stackPointer) {
  MEMORY_BASIC_INFORMATION info;
  if (stackPointer == 0 ||
      VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(stackPointer)), &info, sizeof info) !=
          sizeof info ||
      info.State != MEM_COMMIT)
    return 0;
  uint64_t top = reinterpret_cast<uintptr_t>(info.BaseAddress) + static_cast<uint64_t>(info.RegionSize);
  return top >= 4 ? static_cast<uint32_t>(top - 4) : 0;
}

__attribute__((noinline)) void BuildCurrentCallStack(TEmberStackList& list, uint8_t detailFlags,
                                                     bool resolve, uint8_t runningThread) {
  auto here = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
  uint32_t top;  // the thread information block's stack base, at fs:[4]
  asm volatile("movl %%fs:4, %0" : "=r"(top));
  BuildCallStack(list, 0, here, detailFlags, -1, -1, resolve, false, runningThread,
                 GetCurrentThreadId(), top - 4);
}

bool SnapshotThread(uintptr_t threadHandle, void* context, uint32_t& eip, uint32_t& esp, std::vector<uint8_t>& stack) {
  HANDLE thread = reinterpret_cast<HANDLE>(threadHandle);
  // Everything the suspended time needs is allocated before: the thread may hold the heap's lock.
  std::vector<uint8_t> copy(MaxStackScanBytes + 4);
  if (SuspendThread(thread) == static_cast<DWORD>(-1)) return false;
  CONTEXT registers;
  std::memset(&registers, 0, sizeof registers);
  registers.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
  const bool read = GetThreadContext(thread, &registers) != 0;
  uint32_t copied = 0;
  if (read && registers.Esp != 0) {
    const uint32_t top = GetStackTopOf(registers.Esp);
    if (top >= registers.Esp) {
      uint64_t wanted = static_cast<uint64_t>(top) + 4 - registers.Esp;
      if (wanted > copy.size()) wanted = copy.size();
      if (ember_detail::PlatformProcessMemory().Read(registers.Esp, copy.data(), static_cast<uint32_t>(wanted)))
        copied = static_cast<uint32_t>(wanted);
    }
  }
  // Not a resumption the threads list records (the import of ResumeThread is the library's).
  ThreadVars().InFreeze = 1;
  ResumeThread(thread);
  ThreadVars().InFreeze = 0;
  if (!read) return false;
  registers.ContextFlags = 0x10003;
  std::memcpy(context, &registers, sizeof registers < 716 ? sizeof registers : 716);
  eip = registers.Eip;
  esp = registers.Esp;
  copy.resize(copied);
  stack = std::move(copy);
  return true;
}

bool BuildThreadCallStack(TEmberStackList& list, uintptr_t threadHandle, uint32_t threadID,
                          uint8_t detailFlags, bool resolve, uint8_t runningThread) {
  HANDLE thread = reinterpret_cast<HANDLE>(threadHandle);
  if (!thread || GetThreadId(thread) == GetCurrentThreadId()) return false;
  alignas(16) uint8_t context[716];
  uint32_t eip = 0, esp = 0;
  std::vector<uint8_t> copy;
  if (!SnapshotThread(threadHandle, context, eip, esp, copy) || !eip || !esp) return false;
  const uint32_t copied = static_cast<uint32_t>(copy.size());
  TEmberMemoryOverlay memory(EmberMemory(), esp, std::move(copy));
  uint32_t end = copied >= 4 ? esp + copied - 4 : esp;
  BuildCallStackIn(memory, list, eip, esp, detailFlags, -1, -1, resolve, false, runningThread,
                   threadID, end);
  return true;
}
