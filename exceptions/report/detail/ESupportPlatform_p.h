// Platform half of the portable support helpers: memory probing without touching the memory,
// the calling thread's stack bounds, debugger output and the local time zone (win32/, posix/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ember_support {

// True when `size` bytes (at least 1) from `address` can be read without a fault. Never reads
// the memory itself.
bool IsReadable(const void* address, size_t size);

// The calling thread's stack: `low` is its lowest usable address, `high` one past its top.
bool CurrentStackBounds(uintptr_t& low, uintptr_t& high);

// Text for a debugger (OutputDebugStringA on Windows, stderr elsewhere).
void DebugOutput(const std::string& text);

// Local time minus UTC in minutes.
int32_t UTCOffsetMinutes();

// The calling thread's id as the system numbers threads.
uint32_t CurrentThreadId();

// Reserves address space without access (nullptr on failure) and gives it back.
void* ReserveAddressSpace(size_t size);
void ReleaseAddressSpace(void* address, size_t size);

// Whether a debugger is attached to this process.
bool DebuggerAttached();

// The host executable's file name; empty when unknown.
std::string HostExecutableName();

// The local date and time as days since 1899-12-30.
double LocalNow();

// The operating system's name as reports show it.
std::string SystemName();

}  // namespace ember_support
