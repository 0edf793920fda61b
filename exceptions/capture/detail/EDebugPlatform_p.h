// The platform's answers to what the debug-information sources ask of a loaded module.
#pragma once

#include <cstdint>
#include <string>

struct TELImageView;

namespace ember_detail {
std::string PlatformModuleFileName(uintptr_t module);
bool PlatformModuleImage(uintptr_t module, TELImageView& view);
}  // namespace ember_detail
