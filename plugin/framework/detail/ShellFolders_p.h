// The system's side of the folder lookup: one Win32 and one native implementation.
#pragma once

#include <string>

namespace rk::detail {

// Full file name of the module this code is linked into; empty when unknown.
std::string ModuleFileName();
// The per-user application-data folder; false when the system has none.
bool AppDataFolder(std::string& path);
bool FolderExists(const std::string& path);
// Creates one folder level; true when it exists afterwards.
bool CreateFolder(const std::string& path);

}  // namespace rk::detail
