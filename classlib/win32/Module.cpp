// Module handle: recorded by DllMain, or found from an address inside this module.
#include <windows.h>

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
