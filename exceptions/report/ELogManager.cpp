// Log file management of the exception being processed and the names of the companion files.
#include "ELogManager.h"

#include <memory>

#include "ELogFile.h"
#include "ELogXml.h"
#include "ESupport.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "detail/EReportPlatform_p.h"
#include "detail/ESendReportPlatform_p.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/EmberTexts.h"

namespace {

TLogReportState gState;
TLogEvents gEvents;
std::unique_ptr<TLogFile> gLog;
std::string gLogName;
std::string gCompanionFolder;  // empty: the system's temporary folder

const char* const kIdField = "2.7";
const char* const kCountField = "2.8";

uint16_t SendOptions() { return gState.Options ? gState.Options->SendOptions() : 0; }
bool SendOption(uint16_t bit) { return (SendOptions() & bit) != 0; }

std::string LogName() { return gState.Options ? ember_report::LogFileName(*gState.Options) : std::string(); }

std::string FilePart(const std::string& fileName) {
  size_t slash = fileName.find_last_of("\\/");
  return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

// Inserts `text` before the extension of a file name (at its end when it has none).
std::string InsertBeforeExtension(const std::string& name, const std::string& text) {
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return name + text;
  return name.substr(0, dot) + text + name.substr(dot);
}

std::string ChangeExtension(const std::string& name, const std::string& extension) {
  size_t dot = name.find_last_of('.');
  return (dot == std::string::npos ? name : name.substr(0, dot)) + extension;
}

void ClearLogError() {
  ::ClearLastError();
  if (gEvents.ClearLastError) gEvents.ClearLastError();
}

void RaiseAction(int32_t action, bool& saveAllowed) {
  if (!gEvents.ActionNotify) return;
  try {
    gEvents.ActionNotify(action, saveAllowed);
  } catch (...) {
  }
}

bool RaiseError(int32_t error) {
  bool retry = false;
  if (!gEvents.ErrorNotify) return false;
  try {
    gEvents.ErrorNotify(error, retry);
  } catch (...) {
    return false;
  }
  return retry;
}

}  // namespace

TLogReportState& LogReportState() { return gState; }

void SetLogEvents(const TLogEvents& events) { gEvents = events; }

void RaiseReportAction(int32_t action, bool& executeFlag) { RaiseAction(action, executeFlag); }

bool RaiseReportError(int32_t error) { return RaiseError(error); }

// --- The log object

TLogFile* OpenLogFileObject() {
  std::string name = LogName();
  if (gLog && name != gLogName) CloseLogFile();
  if (!gLog) {
    gLog = std::make_unique<TLogFile>(name, false);
    gLogName = name;
  }
  return gLog.get();
}

TLogFile* CurrentLogFile() { return gLog.get(); }

void CloseLogFile() {
  gLog.reset();
  gLogName.clear();
}

void OpenLogFile(bool increment) {
  if (!gState.Options || (gState.Options->LogOptions() & 0x01) == 0) {
    gState.RepeatedReport = false;
    return;
  }
  TLogFile* log = OpenLogFileObject();
  int32_t found = log->FindItemByField({kIdField}, 0, {gState.ReportID});
  gState.RepeatedReport = found >= 0;
  if (found >= 0 && increment) {
    int32_t count = StrToIntDef(log->GetItemField(kCountField, found), 1);
    std::string name = gState.Options->GetCustomizedExpandedText(52);
    if (name.empty()) name = GetDefaultText(52);
    log->SetItemField(kCountField, IntToStr(static_cast<int64_t>(count) + 1), found, name);
    try {
      log->SaveToFile();
    } catch (...) {
      CloseLogFile();
      throw;
    }
  }
  CloseLogFile();
}

bool WriteLogFile() {
  if (!gState.Options) return false;
  const TEmberModuleOptions& options = *gState.Options;
  bool saveLog = options.SaveLogFile() != 0;
  bool saveAllowed = true;
  ClearLogError();
  if (saveLog) RaiseAction(2, saveAllowed);
  bool retry;
  bool failed = false;
  bool saved = false;
  do {
    ClearLogError();
    saved = false;
    failed = false;
    try {
      TLogFile* log = OpenLogFileObject();
      if (!gState.RepeatedReport) {
        log->AddReport(gState.ReportText, options.LogReportLimit());
        if (options.SendOptions() & 0x04) gState.SendText = log->GetText();
      }
      if (saveAllowed && saveLog) {
        log->SaveToFile();
        saved = true;
      }
    } catch (...) {
      // A log that cannot be opened or written is kept as the last library error and reported
      // below like a vetoed save.
      failed = true;
      ShowLibraryError(eeLogError, "Log");
    }
    retry = false;
    if (saveLog && (!saveAllowed || !saved)) {
      retry = RaiseError(3);
      // Each round starts again from the file, so a retried report is not appended twice.
      if (retry) CloseLogFile();
    }
  } while (retry);
  CloseLogFile();
  if (saveLog) RaiseAction(3, saveAllowed);
  return !failed && (!saveLog || (saveAllowed && saved));
}

// --- Companion files

namespace {
std::string CompanionFolder() { return gCompanionFolder.empty() ? ember_report::TempFolder() : gCompanionFolder; }
uint32_t gLastCompanionFolder = 0;
const char* const kLastHTMLPage = "LastHTMLPage.html";
}  // namespace

std::string MakeCompanionFolder() {
  const std::string temp = ember_report::TempFolder();
  if (temp.empty()) return std::string();
  const std::string prefix = temp + "EmberLog" + IntToHex(ember_report::CurrentProcessId(), 8) +
                             IntToHex(static_cast<uint32_t>(GetThisModuleHandle()), 8);
  // Made here, not found: a folder left by an earlier instance of this module (killed before it
  // removed it) holds files that are not this run's.
  for (int32_t tries = 0; tries < 64; ++tries) {
    const std::string folder = prefix + IntToHex(++gLastCompanionFolder, 8) + temp.substr(temp.size() - 1);
    if (ember_report::CreateNewFolder(folder)) return folder;
  }
  return std::string();
}

void SetCompanionFolder(const std::string& folder) { gCompanionFolder = folder; }

std::string GetCompanionFolder() { return gCompanionFolder; }

void RemoveCompanionFolder(const std::string& folder) {
  if (folder.empty()) return;
  for (const std::string& name : ember_report::FolderFileNames(folder)) {
    // A CGI program's last page is its output, kept where it always is.
    if (name == kLastHTMLPage && ember_report::RunsAsCGI()) {
      const std::string kept = ember_report::TempFolder() + kLastHTMLPage;
      ember_report::DeleteReportFile(kept);
      if (ember_report::MoveReportFile(folder + name, kept)) continue;
    }
    ember_report::DeleteReportFile(folder + name);
  }
  ember_report::RemoveEmptyFolder(folder);
}

std::string GetAttachedLogFileName(const std::string& fileName) {
  std::string name = FilePart(fileName);
  if (SendOption(0x200)) name = InsertBeforeExtension(name, "__" + ember_report::ComputerName().substr(0, 16));
  if (SendOption(0x100)) name = InsertBeforeExtension(name, "__" + FormatCompactDate(gState.ExceptionDate));
  return name;
}

std::string GetScreenshotFileName() {
  return SendOption(0x10) ? CompanionFolder() + "Screenshot.png" : std::string();
}

std::string GetLastHTMLPageFileName() {
  return SendOption(0x40) ? CompanionFolder() + kLastHTMLPage : std::string();
}

std::string GetXMLLogFileName() {
  if (!SendOption(0x08)) return std::string();
  std::string log = FilePart(LogName());
  return log.empty() ? std::string() : CompanionFolder() + ChangeExtension(log, ".xml");
}

std::string GetTempLogFileName() {
  std::string log = LogName();
  return log.empty() ? std::string() : CompanionFolder() + GetAttachedLogFileName(log);
}

std::string GetZipFileName() { return CompanionFolder() + "BugReport.zip"; }

std::string GetProcessTempFileName() {
  return ember_report::TempFolder() + IntToHex(ember_report::CurrentProcessId(), 8) +
         IntToHex(static_cast<uint32_t>(GetThisModuleHandle()), 8) + ".bin";
}

void SetLastHTMLPage(const std::string& text) {
  std::string name = GetLastHTMLPageFileName();
  if (name.empty() || gState.LastHTMLPage.empty()) return;
  WriteFileBytes(name, text);
}

void WriteXMLLogFile() {
  std::string xmlName = GetXMLLogFileName();
  if (xmlName.empty()) return;
  std::string copy = GetTempLogFileName();
  std::unique_ptr<TLogFile> log;
  if (!copy.empty()) {
    log = std::make_unique<TLogFile>(copy, true);
  } else {
    log = std::make_unique<TLogFile>(std::string(), true);
    log->AddReport(gState.ReportText, 1);
  }
  log->SetPassword(gState.DebugPassword);
  ExportLogAsXML(*log, xmlName);
}

std::string ReadTextFile(const std::string& fileName) {
  if (fileName.empty() || !FileExists(fileName)) return std::string();
  try {
    return ReadFileBytes(fileName);
  } catch (const EStreamError&) {
    return std::string();
  }
}

void BuildAttachmentList(bool forEmail, std::vector<std::string>& files) {
  files.clear();
  if (!gState.Options) return;
  const TEmberModuleOptions& options = *gState.Options;
  for (const std::string& file : SplitString(options.AttachedFiles(), ";"))
    if (!Trim(file).empty()) files.push_back(Trim(file));
  std::string copy = GetTempLogFileName();
  if (!copy.empty() && (!forEmail || options.LogInMailBody() == 0)) files.push_back(copy);
  std::string screenshot = GetScreenshotFileName();
  if (!screenshot.empty() && gState.ScreenshotAsked) files.push_back(screenshot);
  std::string page = GetLastHTMLPageFileName();
  if (!page.empty() && !gState.LastHTMLPage.empty()) files.push_back(page);
  std::string xml = GetXMLLogFileName();
  if (!xml.empty()) files.push_back(xml);
  for (std::string& file : files) file = ExpandVariables(file);
}
