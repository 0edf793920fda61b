// Where the test programs find the DLLs they load: beside the running program, or in the build folder.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>
#include <string>

// The full path of a file in the running test program's folder.
inline std::string TestDllPath(const std::string& name) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  folder.erase(folder.find_last_of("\\/") + 1);
  return folder + name;
}

// The product DLL in the build folder (ctest passes the folder as a Unix path, which Wine maps to Z:).
inline std::string ProductDllPath() {
  const char* build = std::getenv("KBL_BUILD_DIR");
  std::string folder = build ? std::string("Z:") + build : std::string(".");
  for (char& c : folder)
    if (c == '/') c = '\\';
  return folder + "\\TarvikKBLDelay.dll";
}
#endif
