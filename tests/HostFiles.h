// Where the test programs find the DLLs they load: beside the running program, or in the build folder.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <shlobj.h>

#include <string>

#include "TestFiles.h"

// The full path of a file in the running test program's folder.
inline std::string TestDllPath(const std::string& name) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  folder.erase(folder.find_last_of("\\/") + 1);
  return folder + name;
}

// The product DLL in the build folder.
inline std::string ProductDllPath() { return BuildFilePath("TarvikKBLDelay.dll"); }

// The log the product DLL's exception library writes beside it: a plug-in that handles what
// happens to it writes none.
inline std::string ProductExceptionLogPath() {
  const std::string dll = ProductDllPath();
  return dll.substr(0, dll.size() - 4) + ".elf";
}

// The plug-in's per-user data folder (made when missing), with a trailing back-slash: where the
// MIDI map file lives.
inline std::string UserDataFolder() {
  char appData[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, appData);
  std::string folder = std::string(appData) + "\\Pellwright";
  CreateDirectoryA(folder.c_str(), nullptr);
  folder += "\\Tarvik";
  CreateDirectoryA(folder.c_str(), nullptr);
  folder += "\\1.0";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}
#endif
