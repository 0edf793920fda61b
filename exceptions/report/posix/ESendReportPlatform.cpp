// The sending pipeline's platform facts outside Windows: no clipboard, no CGI detection; files
// are moved with rename or a copy.
#include "detail/ESendReportPlatform_p.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

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
// A module here is not unloaded under its threads: a library thread is a detached thread, which
// says when it has ended through the sender's own state.
bool StartLibraryThread(void (*body)(void*), void* argument, uintptr_t& handle) {
  handle = 0;
  try {
    std::thread([body, argument] {
      try {
        body(argument);
      } catch (...) {
        // nothing leaves the thread
      }
    }).detach();
  } catch (...) {
    return false;
  }
  return true;
}
bool LibraryThreadEnded(uintptr_t) { return false; }
void ReleaseLibraryThread(uintptr_t) {}
// A thread given up touches nothing more: it stays where it stands.
void LeaveLibraryThread() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
bool CreateNewFolder(const std::string& folder) { return mkdir(folder.c_str(), 0700) == 0; }
bool RemoveEmptyFolder(const std::string& folder) { return rmdir(folder.c_str()) == 0; }

std::string FallbackFolder() { return TempFolder(); }

}  // namespace ember_report
