// Log file management of the exception being processed: opening the module's log, spotting a
// report that repeats one already logged and raising its counter, appending the current report,
// the XML companion, and the names of the companion files and the attachment list.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "classlib/DateUtils.h"

class TEmberModuleOptions;
class TLogFile;

// What the log management reads and writes of the report being processed. The exception
// processing fills it under the library's lock before calling the operations below; they are
// not thread-safe beyond that lock.
struct TLogReportState {
  const TEmberModuleOptions* Options = nullptr;  // the options in force; nothing is done without
  std::string ReportID;                          // field "2.7": what identifies the same error
  std::string ReportText;                        // the current report
  TDateTime ExceptionDate = 0;                   // date and time of the exception (local time)
  std::string SendText;                          // the text offered for sending
  bool ScreenshotAsked = false;                  // the dialogs asked for the screenshot
  std::string LastHTMLPage;                      // kept last page of a web application
  std::string DebugPassword;                     // password of the module's debug data
  bool RepeatedReport = false;                   // the current report was found in the log
};
TLogReportState& LogReportState();

// Notifications raised while writing the log. Action 2 comes before writing and action 3 after
// it, each with the save-allowed flag, which a handler may clear; error 3 reports a log that was
// not saved, and a handler that sets `retry` makes the writer try again. Handlers run on the
// processing thread and must not throw. Empty handlers do nothing.
struct TLogEvents {
  std::function<void(int32_t action, bool& saveAllowed)> ActionNotify;
  std::function<void(int32_t error, bool& retry)> ErrorNotify;
  std::function<void()> ClearLastError;
};
void SetLogEvents(const TLogEvents& events);
// Raises the action event (module, then process, as the installed handler does) with `action`
// and the execute flag; used around the dialogs (actions 0 and 1) as well as by the writer.
void RaiseReportAction(int32_t action, bool& executeFlag);
// Raises the error event with `error` (the action that ends the failed step); answers whether a
// handler asks to run the step again.
bool RaiseReportError(int32_t error);

// --- The log object

// Opens (or keeps) the log object for the options' log file name. Raises the stream exceptions
// when an existing log cannot be opened.
TLogFile* OpenLogFileObject();
// The open log object or nullptr.
TLogFile* CurrentLogFile();
void CloseLogFile();

// With LogOptions bit 0x01: looks for the current identifier in the log and sets the
// repeated-report flag; with `increment`, a found report's counter (field "2.8", 1 when not a
// number) goes up by one and the log is saved. Without the bit the flag is cleared and the log
// is not read. File errors raise.
void OpenLogFile(bool increment);

// Appends the current report (unless it repeats one) with the cap LogReportLimit and saves the
// log when SaveLogFile is set and no handler vetoed it. A save that fails is reported as error 3
// and retried from a fresh read of the file while a handler asks for it; it never raises. A log
// that cannot be opened or written is also kept as the last library error (eeLogError, "Log").
// Answers the success flag: false after a veto or when the last try failed.
bool WriteLogFile();

// --- Companion files (all in the companion folder; empty when their option is off)

// Each processing run keeps its companion files in a folder of its own, which its send (on a
// thread of its own too) works from and removes at its end: the temporary folder is shared by
// every process of the computer and every module of this one that carries the library, and an
// exception processed inside a send under way has a run of its own. The file names stay those
// below, as the report and the mail show them.
// Makes a new folder for one run in the system's temporary folder ("EmberLog", then the process
// id, this module's handle and a number, 8 hexadecimal digits each) and answers it with its
// trailing separator; empty when none could be made.
std::string MakeCompanionFolder();
// The folder of the companion files below (with its trailing separator): `folder` while it is
// set; empty: the system's temporary folder.
void SetCompanionFolder(const std::string& folder);
std::string GetCompanionFolder();
// Deletes what is left in a run's folder and the folder; the last page of a CGI program (its
// output, which stays) goes to the temporary folder under its own name instead.
void RemoveCompanionFolder(const std::string& folder);

// The file part of `fileName` with "__" and the computer name (SendOptions 0x200) and then "__"
// and the exception's date and time as yyyymmddhhnnss (0x100) before the extension.
std::string GetAttachedLogFileName(const std::string& fileName);
std::string GetScreenshotFileName();     // "Screenshot.png", SendOptions 0x10
std::string GetLastHTMLPageFileName();   // "LastHTMLPage.html", SendOptions 0x40
std::string GetXMLLogFileName();         // the log's own name with ".xml", SendOptions 0x08
std::string GetTempLogFileName();        // the log's attached name, always
std::string GetZipFileName();            // "BugReport.zip", always
// The leak tracker's data between runs: process id and module handle as 8 hexadecimal digits
// each, then ".bin".
std::string GetProcessTempFileName();

// With SendOptions 0x40 and a kept last page, saves `text` into the last-page file.
void SetLastHTMLPage(const std::string& text);
// With SendOptions 0x08, writes the XML form of the temporary log copy (or of the current
// report alone when there is no copy name) into the XML companion file. File errors raise.
void WriteXMLLogFile();
// The whole content of a file; empty for an empty name or a missing file.
std::string ReadTextFile(const std::string& fileName);
// The files to attach: AttachedFiles split at ";", the log copy (for e-mail only when the log
// does not go into the mail body), the screenshot, the last page and the XML copy when they
// apply; every name with its %NAME% variables expanded.
void BuildAttachmentList(bool forEmail, std::vector<std::string>& files);
