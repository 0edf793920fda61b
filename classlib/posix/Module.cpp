// Module handle outside Windows: there is none.
#include "../Module.h"

namespace {
void* recordedInstance = nullptr;
}

void SetModuleInstance(void* instance) { recordedInstance = instance; }
void* ModuleInstance() { return recordedInstance; }
bool IsConsoleProgram() { return true; }
bool HoldsLoaderLock() { return false; }
