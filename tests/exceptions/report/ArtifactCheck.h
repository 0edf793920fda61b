// Hands files written by the report tests to check_artifacts.py (python's zipfile, zlib and
// struct). Natively the check runs at once; under Wine a ctest step runs it afterwards.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "TestFiles.h"

namespace artifacts {

// The folder of one test program's files, shared with the after-run check (beside the
// program); emptied once per run.
inline std::string Folder(const std::string& kind) {
  static bool cleared = false;
  std::filesystem::path folder = std::filesystem::absolute("report-logs-artifacts") / kind;
  if (!cleared) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    cleared = true;
  }
  std::filesystem::create_directories(folder);
  return folder.string();
}

inline std::string Path(const std::string& kind, const std::string& name) {
  return (std::filesystem::path(Folder(kind)) / name).string();
}

inline void WriteText(const std::string& kind, const std::string& name, const std::string& text) {
  std::ofstream out(Path(kind, name), std::ios::binary);
  out << text;
}

inline std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Runs the checker over the folder; the lines it printed, and whether it passed. Outside Windows
// only (Wine runs no Linux python).
inline bool RunCheck(const std::string& kind, std::string& output) {
#ifdef _WIN32
  output = "checked after the run";
  return true;
#else
  int status = 0;
  output += CommandOutput("python3 '" + SourceFilePath("tests/exceptions/report/check_artifacts.py") + "' '" +
                              Folder(kind) + "' 2>&1",
                          &status);
  return status == 0;
#endif
}

}  // namespace artifacts
