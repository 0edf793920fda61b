// Named shared memory through which the modules of one process publish their options.
//
// Layout of a module's area (named by the process id and the module handle, 8 upper-case
// hexadecimal digits each): a 32-bit word with the size of the whole area (that word included),
// then the data: a byte 1 followed by the options' stream form, or a byte 0 when the area holds
// no options. Readers never read past the size word nor past the mapped view.
#pragma once

#include <cstdint>
#include <string>

class TEmberModuleOptions;

// Name of the area of `module` in this process.
std::string SharedMemoryName(uintptr_t module);

// An open area: the mapping and a view of its data (after the size word).
struct TEmberSharedArea {
  void* Handle = nullptr;
  uint8_t* Data = nullptr;     // first data byte
  uint32_t DataCapacity = 0;   // bytes available from Data on
  bool Open() const { return Handle != nullptr; }
};

// Opens the area of `module`. With `dataSize` > 0 it is created when missing, large enough for
// that many data bytes (an area that already exists keeps its size, so check DataCapacity).
// With 0 an area is only opened when it exists. Returns a closed area on failure.
TEmberSharedArea OpenSharedMemory(uintptr_t module, uint32_t dataSize);
void CloseSharedMemory(TEmberSharedArea& area);

// Publishes `options` (of a module with a handle) in the module's area, which then stays open
// until the next publication or CloseModuleSharedMemory. False when the options have no module,
// the area cannot be made, or an existing area is too small: the area then holds no options
// (first data byte 0) rather than a cut-off copy.
bool SaveOptionsToSharedMemory(const TEmberModuleOptions& options);

// Reloads `options` from its module's area when the area exists and holds options; false
// otherwise (the options are left as they were). Raises what LoadFromStream raises.
bool LoadOptionsFromSharedMemory(TEmberModuleOptions& options);

// Start-up: opens (creating when needed) the area of `module`, keeps it open, and marks it as
// holding no options yet (first data byte 0).
bool ResetModuleSharedMemory(uintptr_t module);
// Shut-down: closes every area this module keeps open.
void CloseModuleSharedMemory();
