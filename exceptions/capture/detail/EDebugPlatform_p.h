// The platform's answers to what the capture side asks of loaded modules and threads.
#pragma once

#include <cstdint>
#include <string>

struct TELImageView;

namespace ember_detail {
std::string PlatformModuleFileName(uintptr_t module);
bool PlatformModuleImage(uintptr_t module, TELImageView& view);
bool PlatformModuleResource(uintptr_t module, const char* name, TELImageView& data);
// The address the system resolves for an exported name of the module (forwarders followed); 0
// when unknown.
uintptr_t PlatformProcAddress(uintptr_t module, const std::string& name);
uint32_t PlatformCurrentThreadID();
bool PlatformIsThreadRunning(uint32_t handle);
// What tells the calling thread from a later one given its id (its creation time; 0 when not
// known), and whether thread `id`, which had `stamp`, has ended: no thread has the id any more,
// another one has it, or the thread itself has ended. False when that cannot be told.
uint64_t PlatformCurrentThreadStamp();
bool PlatformThreadGone(uint32_t id, uint64_t stamp);
}  // namespace ember_detail
