// Platform half of the log and companion-file code: file-name preparation, the temporary
// folder, the computer name, file times and the module's log name (win32/ and posix/).
#pragma once

#include <cstdint>
#include <string>

#include "classlib/DateUtils.h"

class TEmberModuleOptions;

namespace ember_report {

// Expands %NAME% variables in `fileName`; on Windows, when the file cannot be opened as asked,
// moves it to the library's folder. False when no usable name was found (the name then stays
// expanded).
bool PrepareReportFile(std::string& fileName, bool readOnly);

// The system's temporary folder with its trailing separator.
std::string TempFolder();

// The computer's name (at most 16 characters on Windows); empty when unavailable.
std::string ComputerName();

// The log file of the options' module, with %NAME% variables expanded; empty when none.
std::string LogFileName(const TEmberModuleOptions& options);

// The last-write time of a file in local time; false when it is missing.
bool FileLocalTime(const std::string& fileName, TDateTime& time);

// The id of this process.
uint32_t CurrentProcessId();

}  // namespace ember_report
