// Temporary folders for tests that use real files, removed with everything in them, and files
// that ctest steps leave in the build folder.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

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
