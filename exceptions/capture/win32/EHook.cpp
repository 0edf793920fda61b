// Win32 half of the code hooks: trampolines in executable memory, method slots, import tables.
#include "EHook.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "ExceptionLog.h"
#include "classlib/NeverDestroyed.h"

namespace {

// --- Records of what was changed, so that it can be undone

struct THookedProcedure {
  uint8_t* Procedure;
  uint8_t* Trampoline;
  int32_t TrampolineSize;
  std::vector<uint8_t> SavedBytes;  // the bytes the jump to the hook overwrote
};

struct THookedMethod {
  void** Table;
  void* Previous;
  int32_t Index;
};

struct THookedImport {
  HMODULE Module;
  std::string DllName;
  void* Previous;  // the real export
  void* Current;   // what the entries point at now
};

// The method-slot records, guarded by their own lock; freeing the list restores every slot.
class THookedMethodsList {
 public:
  ~THookedMethodsList() {
    try {
      RestoreAll();
    } catch (...) {
      // a slot that cannot be written back any more is left as it is
    }
  }
  void RestoreAll();
  TEmberWorkLock Lock;
  std::vector<THookedMethod> Items;
};

// The locks are held across code writes (page protection, allocations): a thread killed there
// must not keep them from the library's next attachment or detachment.
struct THookState {
  TEmberWorkLock Lock;  // procedures and imports: start-up and shut-down, but keep it safe
  std::vector<THookedProcedure> Procedures;
  std::vector<THookedImport> Imports;
  THookedMethodsList Methods;
};

// Never destroyed: the hooks must still be known when the module's last finaliser undoes them.
// Kept in static storage, and its lists' room given back when everything is undone, so that an
// unloaded module leaves no block of its own behind.
THookState& State() {
  static TNeverDestroyed<THookState> state;
  return state.Get();
}

// Undoes everything when the module unloads (static objects die at DLL_PROCESS_DETACH), and gives
// the locks back. Every hook is made under one of the locks: when neither was ever made, nothing
// is hooked, and none is made for the unload (a host that only scans the plug-in).
struct TUnhookAtExit {
  ~TUnhookAtExit() {
    THookState& state = State();
    try {
      if (state.Lock.Made() || state.Methods.Lock.Made()) UnhookAll();
    } catch (...) {
    }
    state.Lock.Close();
    state.Methods.Lock.Close();
  }
} gUnhookAtExit;

bool IsWin9x() { return (GetVersion() & 0x80000000u) != 0; }

std::string ModuleFileName(const void* address) {
  HMODULE module = nullptr;
  char name[MAX_PATH] = "";
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCSTR>(address), &module)) {
    GetModuleFileNameA(module, name, sizeof name);
  }
  return name;
}

// Bytes readable from `address` on, up to `wanted` (0 when the page cannot be read).
size_t ReadableBytes(const void* address, size_t wanted) {
  size_t readable = 0;
  const uint8_t* at = static_cast<const uint8_t*>(address);
  while (readable < wanted) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(at + readable, &info, sizeof info) == 0) break;
    const DWORD readableFlags = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (info.State != MEM_COMMIT || (info.Protect & readableFlags) == 0 || (info.Protect & PAGE_GUARD) != 0) break;
    size_t inRegion = static_cast<size_t>(static_cast<const uint8_t*>(info.BaseAddress) + info.RegionSize -
                                          (at + readable));
    readable += inRegion;
  }
  return std::min(readable, wanted);
}

uint32_t AddressOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

// --- Writing code

void WriteCode(void* destination, const void* source, size_t size) {
  DWORD previous = 0;
  if (!VirtualProtect(destination, size, PAGE_EXECUTE_READWRITE, &previous)) {
    throw EHookingError(FormatHookMessage(sHookingError, "$" + IntToHex(AddressOf(destination), 8)));
  }
  std::memcpy(destination, source, size);
  DWORD ignored = 0;
  VirtualProtect(destination, size, previous, &ignored);
  FlushInstructionCache(GetCurrentProcess(), destination, size);
}

void WriteJump(void* at, const void* target) {
  uint8_t jump[5];
  EncodeJump(jump, AddressOf(at), AddressOf(target));
  WriteCode(at, jump, sizeof jump);
}

void* FollowJumpThunks(void* procedure) {
  // "jmp [pointer]" (0xFF 0x25): import thunks and the like lead to the code that runs.
  for (int hops = 0; procedure != nullptr && hops < 16; ++hops) {
    const uint8_t* code = static_cast<const uint8_t*>(procedure);
    if (ReadableBytes(code, 6) < 6 || code[0] != 0xFF || code[1] != 0x25) break;
    void* const* pointer;
    std::memcpy(&pointer, code + 2, sizeof pointer);
    if (ReadableBytes(pointer, sizeof(void*)) < sizeof(void*) || *pointer == nullptr) break;
    procedure = *pointer;
  }
  return procedure;
}

// --- Procedures

void* HookProcedure(void* procedure, void* hook, const std::string& name) {
  if (procedure == nullptr) throw EProcNull(FormatHookMessage(sProcNull, name));
  uint8_t* target = static_cast<uint8_t*>(FollowJumpThunks(procedure));
  hook = FollowJumpThunks(hook);
  if (IsWin9x() && reinterpret_cast<uintptr_t>(target) >= 0x80000000u) {
    throw ESharedArea(FormatHookMessage(sSharedArea, ModuleFileName(target)));
  }
  THookState& state = State();
  std::lock_guard<TEmberWorkLock> guard(state.Lock);
  for (const THookedProcedure& record : state.Procedures) {
    if (record.Procedure == target) return record.Trampoline;
  }

  uint8_t code[32];
  const size_t available = ReadableBytes(target, sizeof code);
  std::memcpy(code, target, available);
  TTrampolinePlan plan;
  if (!PlanTrampoline(code, available, plan)) throw EHookingError(FormatHookMessage(sHookingError, name));

  auto* trampoline = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, static_cast<SIZE_T>(plan.Size), MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  if (trampoline == nullptr) throw EHookingError(FormatHookMessage(sHookingError, name));
  std::vector<uint8_t> bytes = BuildTrampoline(code, plan, AddressOf(target), AddressOf(trampoline));
  std::memcpy(trampoline, bytes.data(), bytes.size());
  FlushInstructionCache(GetCurrentProcess(), trampoline, bytes.size());

  THookedProcedure record{target, trampoline, plan.Size,
                          std::vector<uint8_t>(code, code + plan.CopiedBytes)};
  try {
    WriteJump(target, hook);
  } catch (...) {
    VirtualFree(trampoline, 0, MEM_RELEASE);
    throw;
  }
  state.Procedures.push_back(std::move(record));
  return trampoline;
}

bool UnhookProcedure(void* address) {
  if (address == nullptr) return false;
  THookState& state = State();
  std::lock_guard<TEmberWorkLock> guard(state.Lock);
  auto it = std::find_if(state.Procedures.begin(), state.Procedures.end(), [&](const THookedProcedure& record) {
    return record.Procedure == address || record.Trampoline == address ||
           record.Procedure == FollowJumpThunks(address);
  });
  if (it == state.Procedures.end()) return false;
  WriteCode(it->Procedure, it->SavedBytes.data(), it->SavedBytes.size());
  VirtualFree(it->Trampoline, 0, MEM_RELEASE);
  state.Procedures.erase(it);
  return true;
}

// --- Method slots

void* HookMethodSlot(void* table, int32_t index, void* value) {
  if (table == nullptr || index < 0) throw EProcNull(FormatHookMessage(sProcNull, "method slot"));
  THookedMethodsList& list = State().Methods;
  std::lock_guard<TEmberWorkLock> guard(list.Lock);
  void** slot = static_cast<void**>(table) + index;
  if (*slot == value) {
    // Hooked before with this very value: the caller wants the original, not itself.
    for (const THookedMethod& record : list.Items) {
      if (record.Table == table && record.Index == index) return record.Previous;
    }
    return value;
  }
  void* previous = *slot;
  WriteCode(slot, &value, sizeof value);
  list.Items.push_back({static_cast<void**>(table), previous, index});
  return previous;
}

bool UnhookMethodSlot(void* table, int32_t index) {
  THookedMethodsList& list = State().Methods;
  std::lock_guard<TEmberWorkLock> guard(list.Lock);
  auto it = std::find_if(list.Items.begin(), list.Items.end(), [&](const THookedMethod& record) {
    return record.Table == table && record.Index == index;
  });
  if (it == list.Items.end()) return false;
  WriteCode(it->Table + it->Index, &it->Previous, sizeof it->Previous);
  list.Items.erase(it);
  return true;
}

void THookedMethodsList::RestoreAll() {
  std::lock_guard<TEmberWorkLock> guard(Lock);
  while (!Items.empty()) {
    THookedMethod record = Items.back();
    Items.pop_back();
    WriteCode(record.Table + record.Index, &record.Previous, sizeof record.Previous);
  }
  std::vector<THookedMethod>().swap(Items);
}

// --- Imports

namespace {

// The import directory of a loaded module, checked against the image's own size.
struct TImageView {
  uint8_t* Base = nullptr;
  uint32_t Size = 0;
  uint32_t ImportRva = 0;

  template <typename T>
  T* At(uint32_t rva, uint32_t count = 1) const {
    if (rva == 0 || rva > Size || Size - rva < sizeof(T) * count) return nullptr;
    return reinterpret_cast<T*>(Base + rva);
  }
};

bool OpenImage(HMODULE module, TImageView& view) {
  auto* base = reinterpret_cast<uint8_t*>(module);
  if (base == nullptr || ReadableBytes(base, 64) < 64) return false;
  if (base[0] != 'M' || base[1] != 'Z') return false;
  uint32_t header;
  std::memcpy(&header, base + 60, 4);
  if (header > 0x10000000u || ReadableBytes(base + header, 24 + 96 + 16) < 24 + 96 + 16) return false;
  if (std::memcmp(base + header, "PE\0\0", 4) != 0) return false;
  const uint8_t* optional = base + header + 24;
  uint16_t magic;
  std::memcpy(&magic, optional, 2);
  if (magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) return false;
  view.Base = base;
  std::memcpy(&view.Size, optional + 56, 4);  // SizeOfImage
  std::memcpy(&view.ImportRva, optional + 96 + 8, 4);  // data directory 1
  return ReadableBytes(base, view.Size) == view.Size;
}

// On Windows 9x exports of system DLLs seen from a debugger are stubs "push imm32; jmp ...".
bool SameWin9xStub(const void* entry, const void* exported) {
  const auto* a = static_cast<const uint8_t*>(entry);
  const auto* b = static_cast<const uint8_t*>(exported);
  if (ReadableBytes(a, 10) < 10 || ReadableBytes(b, 10) < 10) return false;
  return b[0] == 0x68 && b[5] == 0xE9 && a[0] == 0x68 && std::memcmp(a + 1, b + 1, 4) == 0;
}

// Replaces the matching entries; answers how many.
int32_t ReplaceImports(const TImageView& view, const std::string& dllName, void* from, void* to) {
  int32_t replaced = 0;
  const bool stubs = IsWin9x();
  for (uint32_t rva = view.ImportRva;; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    auto* descriptor = view.At<IMAGE_IMPORT_DESCRIPTOR>(rva);
    if (descriptor == nullptr || descriptor->Name == 0 || descriptor->FirstThunk == 0) break;
    const char* name = view.At<char>(descriptor->Name);
    if (name == nullptr) continue;
    size_t length = strnlen(name, view.Size - descriptor->Name);
    if (!SameText(std::string(name, length), dllName)) continue;
    for (uint32_t thunk = descriptor->FirstThunk;; thunk += sizeof(void*)) {
      void** entry = view.At<void*>(thunk);
      if (entry == nullptr || *entry == nullptr) break;
      if (*entry == from || (stubs && SameWin9xStub(*entry, from))) {
        WriteCode(entry, &to, sizeof to);
        ++replaced;
      }
    }
  }
  return replaced;
}

}  // namespace

void* HookImportInModule(void* module, const std::string& dllName, void* exportAddress, bool doNotRecord,
                         bool mayFail, const std::string& name, void* newAddress) {
  if (exportAddress == nullptr) throw EProcNull(FormatHookMessage(sProcNull, name));
  if (IsWin9x() && reinterpret_cast<uintptr_t>(module) > 0x7FFFFFFFu) {
    throw ESharedArea(FormatHookMessage(sSharedArea, ModuleFileName(module)));
  }
  TImageView view;
  if (!OpenImage(static_cast<HMODULE>(module), view)) {
    if (mayFail) return nullptr;
    throw EHookingError(FormatHookMessage(sHookingError, name));
  }
  THookState& state = State();
  std::lock_guard<TEmberWorkLock> guard(state.Lock);
  int32_t replaced = ReplaceImports(view, dllName, exportAddress, newAddress);
  if (replaced == 0) {
    if (mayFail) return nullptr;
    throw EHookingError(FormatHookMessage(sHookingError, name));
  }
  if (!doNotRecord) state.Imports.push_back({static_cast<HMODULE>(module), dllName, exportAddress, newAddress});
  return exportAddress;
}

bool HookDllExport(const std::vector<std::string>& moduleNames, const std::string& dllName,
                   const std::string& exportName, bool mayFail, void*& realAddress, const std::string& name,
                   void* newAddress) {
  realAddress = nullptr;
  HMODULE dll = GetModuleHandleA(dllName.c_str());
  if (dll != nullptr) {
    realAddress = reinterpret_cast<void*>(GetProcAddress(dll, exportName.c_str()));
  }
  if (realAddress == nullptr) {
    if (mayFail) return false;
    throw EProcNull(FormatHookMessage(sProcNull, name));
  }
  bool hooked = false;
  for (const std::string& moduleName : moduleNames) {
    HMODULE module = GetModuleHandleA(moduleName.empty() ? nullptr : moduleName.c_str());
    if (module == nullptr) continue;
    if (HookImportInModule(module, dllName, realAddress, false, mayFail, name, newAddress) != nullptr) {
      hooked = true;
    }
  }
  return hooked;
}

// --- Shut-down

void UnhookAll() {
  THookState& state = State();
  std::vector<THookedImport> imports;
  {
    std::lock_guard<TEmberWorkLock> guard(state.Lock);
    imports.swap(state.Imports);
  }
  for (const THookedImport& record : imports) {
    try {
      HookImportInModule(record.Module, record.DllName, record.Current, true, true, record.DllName,
                         record.Previous);
    } catch (...) {
      // the module may be gone already; nothing to put back then
    }
  }
  state.Methods.RestoreAll();
  std::lock_guard<TEmberWorkLock> guard(state.Lock);
  while (!state.Procedures.empty()) {
    THookedProcedure& record = state.Procedures.back();
    try {
      WriteCode(record.Procedure, record.SavedBytes.data(), record.SavedBytes.size());
      VirtualFree(record.Trampoline, 0, MEM_RELEASE);
    } catch (...) {
    }
    state.Procedures.pop_back();
  }
  std::vector<THookedProcedure>().swap(state.Procedures);
}
