// Win32 half of the sending pipeline's platform facts and file moves.
#include "detail/ESendReportPlatform_p.h"

#include <windows.h>

#include "EReportValues.h"
#include "ESupport.h"
#include "ESysUtils.h"
#include "EWebApplication.h"
#include "exceptions/ECore.h"
#include "exceptions/capture/ExceptionLog.h"

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
namespace {
struct TLibraryThreadStart {
  void (*Body)(void*);
  void* Argument;
};

// This module, held once by every library thread running.
HMODULE gLibraryThreadsModule = nullptr;

DWORD WINAPI LibraryThreadMain(void* parameter) {
  const TLibraryThreadStart start = *static_cast<TLibraryThreadStart*>(parameter);
  delete static_cast<TLibraryThreadStart*>(parameter);
  // Every end of the thread gives the module back, also one the library makes early.
  SetThreadLeave(&LeaveLibraryThread);
  try {
    start.Body(start.Argument);
  } catch (...) {
    // nothing leaves the thread
  }
  // Returning would run the module's code after its hold was released.
  FreeLibraryAndExitThread(gLibraryThreadsModule, 0);
}
}  // namespace

bool StartLibraryThread(void (*body)(void*), void* argument, uintptr_t& handle) {
  handle = 0;
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&LibraryThreadMain),
                          &module))
    return false;
  gLibraryThreadsModule = module;
  // The system's own entry, not this module's import, which the exception library replaces to
  // list the program's threads.
  using TCreateThread = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, void*, DWORD, DWORD*);
  static const auto create =
      reinterpret_cast<TCreateThread>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateThread"));
  auto* start = new TLibraryThreadStart{body, argument};
  HANDLE thread = create != nullptr ? create(nullptr, 0, &LibraryThreadMain, start, 0, nullptr) : nullptr;
  if (thread == nullptr) {
    delete start;
    FreeLibrary(module);
    return false;
  }
  handle = reinterpret_cast<uintptr_t>(thread);
  return true;
}

bool LibraryThreadEnded(uintptr_t handle) {
  return handle != 0 && WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0) == WAIT_OBJECT_0;
}

void ReleaseLibraryThread(uintptr_t handle) {
  if (handle != 0) CloseHandle(reinterpret_cast<HANDLE>(handle));
}

void LeaveLibraryThread() { FreeLibraryAndExitThread(gLibraryThreadsModule, 0); }
bool CreateNewFolder(const std::string& folder) { return CreateDirectoryA(folder.c_str(), nullptr) != 0; }
bool RemoveEmptyFolder(const std::string& folder) { return RemoveDirectoryA(folder.c_str()) != 0; }
std::string FallbackFolder() { return GetLibraryFolder(); }

}  // namespace ember_report
