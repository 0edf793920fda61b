// The folder lookup outside Windows, a stand-in for tests: the program's own file and
// $XDG_CONFIG_HOME (or $HOME/.config) as the application-data folder.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "../detail/ShellFolders_p.h"

namespace rk::detail {

std::string ModuleFileName() {
  char buffer[PATH_MAX + 1] = {};
  const ssize_t length = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (length <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(length));
}

bool AppDataFolder(std::string& path) {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
    path = config;
    return true;
  }
  const char* home = std::getenv("HOME");
  if (!home || !*home) return false;
  path = std::string(home) + "/.config";
  return FolderExists(path) || CreateFolder(path);
}

bool FolderExists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool CreateFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0) return true;
  return errno == EEXIST && FolderExists(path);
}

}  // namespace rk::detail
