// Platform half of the log and companion-file code outside Windows: POSIX temporary folder,
// host name and file times; names are used where they are.
#include "detail/EReportPlatform_p.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

#include "exceptions/ECore.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/EmberTexts.h"

namespace ember_report {

bool PrepareReportFile(std::string& fileName, bool) {
  fileName = ExpandVariables(fileName);
  return true;
}

std::string TempFolder() {
  const char* folder = std::getenv("TMPDIR");
  std::string path = folder && *folder ? folder : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

std::string ComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

std::string LogFileName(const TEmberModuleOptions& options) {
  std::string module = StripVsHost(options.ModuleName());
  std::string computer = (options.LogOptions() & 0x08) ? ComputerName() : std::string();
  return ExpandVariables(
      ComposeLogFilePath(ExpandVariables(options.OutputPath()), ComposeLogFileName(module, computer)));
}

bool FileLocalTime(const std::string& fileName, TDateTime& time) {
  struct stat info;
  if (stat(fileName.c_str(), &info) != 0) return false;
  struct tm local;
  time_t seconds = info.st_mtime;
  if (!localtime_r(&seconds, &local)) return false;
  TDateTime date, clock;
  if (!TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date) ||
      !TryEncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec, 0, clock))
    return false;
  time = ComposeDateTime(date, clock);
  return true;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

}  // namespace ember_report
