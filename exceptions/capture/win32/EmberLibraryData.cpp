// Locating runtime routines by symbol number or export, hooked when asked.
#include "../EmberLibraryData.h"

#include <windows.h>

#include "../EHook.h"
#include "exceptions/ECore.h"

uintptr_t LocateRuntimeSymbol(uint8_t number, const std::string& packageName,
                              const std::string& exportedName, void* replacement) {
  uintptr_t address = GetSymbolAddress(number);
  if (address == 0 && !packageName.empty() && !exportedName.empty()) {
    HMODULE package = GetModuleHandleA(packageName.c_str());
    if (package) address = reinterpret_cast<uintptr_t>(GetProcAddress(package, exportedName.c_str()));
  }
  if (address == 0 || !replacement) return address;
  try {
    return reinterpret_cast<uintptr_t>(
        HookProcedure(reinterpret_cast<void*>(address), replacement, exportedName));
  } catch (const Exception&) {
    return 0;  // a routine that cannot be hooked is treated as not found
  }
}
