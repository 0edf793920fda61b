// Win32 half of the sending pipeline's platform facts and file moves.
#include "detail/ESendReportPlatform_p.h"

#include <windows.h>

#include <pthread.h>

#include "EReportValues.h"
#include "ESupport.h"
#include "ESysUtils.h"
#include "EWebApplication.h"
#include "exceptions/ECore.h"

namespace ember_report {

std::string ApplicationVersionNumber() {
  std::string description, version;
  GetFileVersionText(GetModuleName(GetApplicationModule()), description, version);
  return version;
}

std::string SystemTypeText() { return GetWindowsName(); }
std::string SystemBuildText() { return GetWindowsBuild(); }
bool PutReportOnClipboard(const std::string& text) { return CopyToClipboard(text); }
bool RunsAsCGI() { return IsCGIApplication(); }

std::vector<std::string> FolderFileNames(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((IncludeTrailingBackslash(folder) + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

bool MoveReportFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != 0;
}

bool DeleteReportFile(const std::string& fileName) { return ForceDeleteFile(fileName); }
bool EnsureFolder(const std::string& folder) { return ForceFolders(folder); }
void RaiseThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST); }
uintptr_t ThreadHandleOf(std::thread& thread) {
  return thread.joinable() ? reinterpret_cast<uintptr_t>(pthread_gethandle(thread.native_handle())) : 0;
}
bool CreateNewFolder(const std::string& folder) { return CreateDirectoryA(folder.c_str(), nullptr) != 0; }
bool RemoveEmptyFolder(const std::string& folder) { return RemoveDirectoryA(folder.c_str()) != 0; }
std::string FallbackFolder() { return GetLibraryFolder(); }

}  // namespace ember_report
