// The platform's halves of call-stack building: the process's memory and the built-in list of
// modules that call-stack entries point at until the report side installs its own.
#pragma once

#include <cstdint>

class TEmberMemory;
struct TEmberModuleInfo;

namespace ember_detail {
const TEmberMemory& PlatformProcessMemory();
TEmberModuleInfo* PlatformModuleOfAddress(uint32_t address);
}  // namespace ember_detail
