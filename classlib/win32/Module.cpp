// Module handle: recorded by DllMain, or found from an address inside this module.
#include <windows.h>

#include <cstdint>

#include "../Module.h"

namespace {
void* recordedInstance = nullptr;
}

void SetModuleInstance(void* instance) { recordedInstance = instance; }

void* ModuleInstance() {
  if (recordedInstance) return recordedInstance;
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ModuleInstance), &module);
  return module;
}

bool IsConsoleProgram() {
  auto base = reinterpret_cast<const uint8_t*>(GetModuleHandleA(nullptr));
  if (!base) return false;
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return false;
  return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI;
}

bool HoldsLoaderLock() {
  const uint8_t* environment;
  asm("movl %%fs:0x30, %0" : "=r"(environment));
  const auto* loaderLock = *reinterpret_cast<const volatile CRITICAL_SECTION* const*>(environment + 0xA0);
  return loaderLock != nullptr &&
         static_cast<DWORD>(reinterpret_cast<uintptr_t>(loaderLock->OwningThread)) == GetCurrentThreadId();
}
