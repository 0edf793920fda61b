// Win32 half of the report builder: the head's system values, thread priorities and the
// process's main thread.
#include "detail/EBugReportPlatform_p.h"

#include <windows.h>
#include <tlhelp32.h>
// The report values are compiled with winspool's names; GetDefaultPrinter must name the same.
#include <winspool.h>

#include <atomic>

#include "EBugReport.h"
#include "EReportValues.h"
#include "EWebApplication.h"
#include "ESysUtils.h"
#include "classlib/SysUtils.h"
#include "exceptions/ECore.h"

namespace ember_report_detail {

void AddSystemHeadValues(TEmberReportHeadValues& values) {
  std::string* v = values.Values;
  GetNetworkInfo(v[41], v[42], v[43], v[44], v[45], v[46]);
  v[1] = GetApplicationVersionText();
  std::string description;
  GetFileVersionText(GetModuleName(GetApplicationModule()), description, v[2]);
  v[3] = Trim(GetCommandLineParameters());
  v[4] = GetCompilationDate();
  v[8] = GetModuleVersionText();
  v[9] = GetModuleVersion();
  v[16] = GetUserNameText();
  v[17] = GetRegisteredOwner();
  v[19] = GetPrivileges();
  v[20] = GetCompanyName();
  v[21] = GetForegroundClass();
  v[22] = GetForegroundText();
  v[25] = GetComputerNameText();
  v[26] = GetTotalMemory();
  v[27] = GetFreeMemory();
  v[28] = GetTotalDisk();
  v[29] = GetFreeDisk();
  v[30] = GetSystemUpTime();
  v[31] = GetProcessorName();
  v[32] = GetDisplayMode();
  v[33] = GetDisplayDPI();
  v[34] = GetVideoCard();
  v[35] = GetDefaultPrinter();
  v[36] = GetWindowsName();
  v[37] = GetWindowsBuild();
  v[38] = GetServicePack();
  v[39] = GetLanguageName();
  v[40] = GetCharsetText();
  values.HideActiveControls = IsConsoleProgram() || IsWebApplication();
}

int32_t ThreadPriority(uint32_t handle, uint32_t threadID) {
  HANDLE thread = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle));
  bool opened = false;
  if (!thread && threadID != 0) {
    thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadID);
    opened = thread != nullptr;
  }
  if (!thread) return 0;
  int priority = GetThreadPriority(thread);
  if (opened) CloseHandle(thread);
  return priority == THREAD_PRIORITY_ERROR_RETURN ? 0 : priority;
}

uint32_t MainThreadID() {
  // The process's oldest thread: the one the system started it with.
  static std::atomic<uint32_t> cached{0};
  if (cached.load() != 0) return cached.load();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  DWORD process = GetCurrentProcessId();
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  uint32_t found = 0;
  ULONGLONG oldest = ~0ull;
  for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != process) continue;
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
    FILETIME created, exited, kernel, user;
    if (thread && GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
      ULONGLONG time = (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
      if (time < oldest) {
        oldest = time;
        found = entry.th32ThreadID;
      }
    } else if (found == 0) {
      found = entry.th32ThreadID;
    }
    if (thread) CloseHandle(thread);
  }
  CloseHandle(snapshot);
  cached.store(found);
  return found;
}

}  // namespace ember_report_detail
