// The sending pipeline's platform facts outside Windows: no clipboard, no CGI detection; files
// are moved with rename or a copy.
#include "detail/ESendReportPlatform_p.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "detail/EReportPlatform_p.h"

namespace ember_report {

std::string ApplicationVersionNumber() { return std::string(); }

std::string SystemTypeText() {
  struct utsname name;
  return uname(&name) == 0 ? std::string(name.sysname) : std::string();
}

std::string SystemBuildText() {
  struct utsname name;
  return uname(&name) == 0 ? std::string(name.release) : std::string();
}

bool PutReportOnClipboard(const std::string&) { return false; }
bool RunsAsCGI() { return false; }

std::vector<std::string> FolderFileNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
}

bool MoveReportFile(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  if (!in || !out) return false;
  out << in.rdbuf();
  if (!out) return false;
  out.close();
  return std::remove(from.c_str()) == 0;
}

bool DeleteReportFile(const std::string& fileName) {
  return std::remove(fileName.c_str()) == 0 || access(fileName.c_str(), F_OK) != 0;
}

bool EnsureFolder(const std::string& folder) {
  std::string path;
  for (size_t i = 0; i <= folder.size(); ++i) {
    if (i == folder.size() || folder[i] == '/') {
      if (!path.empty()) mkdir(path.c_str(), 0777);
    }
    if (i < folder.size()) path += folder[i];
  }
  struct stat info;
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void RaiseThreadPriority() {}
uintptr_t ThreadHandleOf(std::thread&) { return 0; }
bool CreateNewFolder(const std::string& folder) { return mkdir(folder.c_str(), 0700) == 0; }
bool RemoveEmptyFolder(const std::string& folder) { return rmdir(folder.c_str()) == 0; }

std::string FallbackFolder() { return TempFolder(); }

}  // namespace ember_report
