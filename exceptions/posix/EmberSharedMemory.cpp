// Outside Windows there is one module per process and nothing to publish to: every operation
// reports that no area exists.
#include "EmberSharedMemory.h"

#include "classlib/SysUtils.h"

std::string SharedMemoryName(uintptr_t module) {
  return IntToHex(0, 8) + IntToHex(static_cast<uint32_t>(module), 8);
}

TEmberSharedArea OpenSharedMemory(uintptr_t, uint32_t) { return TEmberSharedArea(); }
void CloseSharedMemory(TEmberSharedArea& area) { area = TEmberSharedArea(); }
bool SaveOptionsToSharedMemory(const TEmberModuleOptions&) { return false; }
bool LoadOptionsFromSharedMemory(TEmberModuleOptions&) { return false; }
bool ResetModuleSharedMemory(uintptr_t) { return false; }
void CloseModuleSharedMemory() {}
