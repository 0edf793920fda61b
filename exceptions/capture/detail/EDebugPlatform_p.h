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
}  // namespace ember_detail
