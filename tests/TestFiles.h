// Temporary folders for tests that use real files, removed with everything in them, and files
// that ctest steps leave in the build folder.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

class TempDir {
 public:
  TempDir() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("kbl-test-" + std::to_string(random()) + "-" +
                                                      std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path() const { return path_.string(); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// A file below the build folder, which ctest passes as a Unix path (Wine maps it to Z:).
inline std::string BuildFilePath(const std::string& relative) {
  const char* build = std::getenv("KBL_BUILD_DIR");
  std::string path = (build ? std::string(build) : std::string(".")) + "/" + relative;
#ifdef _WIN32
  if (build) path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
#endif
  return path;
}

// A file of the source tree, which ctest names in KBL_SOURCE_DIR (else below the current folder).
inline std::string SourceFilePath(const std::string& relative) {
  const char* source = std::getenv("KBL_SOURCE_DIR");
  return std::string(source ? source : ".") + "/" + relative;
}

// What a shell command prints on its standard output; `status` (when given) receives its exit
// status, -1 when it could not be started.
inline std::string CommandOutput(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (status) *status = -1;
  if (!pipe) return out;
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, got);
  const int result = pclose(pipe);
  if (status) *status = result;
  return out;
}

// The lines of a text, without their line ends.
inline std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}
