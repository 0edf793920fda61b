// Platform half of the log and companion-file code on Windows: the library's writable-file
// fallback, GetTempPathA, GetComputerNameA and the file's last-write time.
#include "detail/EReportPlatform_p.h"

#include <windows.h>

#include "exceptions/ECore.h"
#include "exceptions/EmberModuleOptions.h"

namespace ember_report {

bool PrepareReportFile(std::string& fileName, bool readOnly) {
  return PrepareWritableFile(fileName, false, readOnly);
}

std::string TempFolder() {
  char path[MAX_PATH + 1] = {};
  DWORD length = GetTempPathA(MAX_PATH, path);
  if (length == 0 || length > MAX_PATH) return std::string();
  return IncludeTrailingBackslash(std::string(path, length));
}

std::string ComputerName() { return GetComputerNameText(); }

std::string LogFileName(const TEmberModuleOptions& options) { return GetLogFileName(options); }

bool FileLocalTime(const std::string& fileName, TDateTime& time) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(fileName.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  FILETIME local;
  SYSTEMTIME parts;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToSystemTime(&local, &parts))
    return false;
  TDateTime date, clock;
  if (!TryEncodeDate(parts.wYear, parts.wMonth, parts.wDay, date) ||
      !TryEncodeTime(parts.wHour, parts.wMinute, parts.wSecond, 0, clock))
    return false;
  time = ComposeDateTime(date, clock);
  return true;
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

}  // namespace ember_report
