// Portable half of the support routines: the last library error and its warnings, the
// internal-error log, module path and size texts, the module stream and code-address tests.
#include "ESupport.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

#include "ELogFile.h"
#include "EObjectHelpers.h"
#include "ESysUtils.h"
#include "classlib/SysUtils.h"
#include "detail/ESupportPlatform_p.h"
#include "exceptions/ECore.h"
#include "exceptions/capture/EDebug.h"
#include "exceptions/capture/ExceptionLog.h"

const char* const EmberLogVersionText = "6.0.24";
const char* const EmberSupportAddress = "support@pellwright.com";
const char* const EmberRADName = "GNU C++ (mingw-w64) " __VERSION__;

// --- Last library error

namespace {

std::mutex gErrorLock;
TEmberLogErrorCode gLastCode = eeNone;
std::string gLastMessage;
std::atomic<bool> gShowWarnings{false};
std::atomic<bool> gMessageBoxesAllowed{true};
std::atomic<bool> gInternalErrorRunning{false};
std::atomic<TEmberInternalErrorMailer> gMailer{nullptr};
std::atomic<TEmberInternalStackSource> gStackSource{nullptr};

const TEmberMessageBoxes* gBoxes = nullptr;  // nullptr: the platform's

std::string Hex8(uintptr_t value) { return IntToHex(static_cast<uint32_t>(value), 8); }

}  // namespace

// The platform's message boxes (win32/ESupport.cpp; nothing outside Windows).
extern const TEmberMessageBoxes& PlatformMessageBoxes();

namespace {
const TEmberMessageBoxes& Boxes() { return gBoxes ? *gBoxes : PlatformMessageBoxes(); }
}  // namespace

std::string EmberLogErrorCodeName(TEmberLogErrorCode code) {
  static const char* const kNames[] = {"eeNone",         "eeShowError",       "eeLogError",
                                       "eeEmailMAPIError", "eeEmailShellError", "eeEmailSMTPError",
                                       "eeWebHTTPError", "eeWebHTTPSError",   "eeWebFTPError",
                                       "eeWebTrakerError"};
  if (code < eeNone || code > eeWebTrakerError) return std::string();
  return kNames[code];
}

TEmberLogErrorCode GetLastLibraryErrorCode() {
  std::lock_guard<std::mutex> lock(gErrorLock);
  return gLastCode;
}

std::string GetLastLibraryErrorMessage() {
  std::lock_guard<std::mutex> lock(gErrorLock);
  return gLastMessage;
}

void ClearLastError() {
  std::lock_guard<std::mutex> lock(gErrorLock);
  gLastCode = eeNone;
  gLastMessage.clear();
}

void RestoreLastError(TEmberLogErrorCode code, const std::string& message) {
  std::lock_guard<std::mutex> lock(gErrorLock);
  gLastCode = code;
  gLastMessage = message;
}

void SetShowLibraryWarnings(bool show) { gShowWarnings = show; }
void SetLibraryMessageBoxesAllowed(bool allowed) { gMessageBoxesAllowed = allowed; }
void SetLibraryMessageBoxes(const TEmberMessageBoxes* boxes) { gBoxes = boxes; }

void ShowLibraryMessageBox(bool error, const std::string& text, const std::string& caption) {
  if (!gMessageBoxesAllowed) return;
  try {
    auto show = error ? Boxes().Error : Boxes().Information;
    if (show) show(text, caption);
  } catch (...) {
    // a box that cannot be shown changes nothing of what the caller reports
  }
}

std::string FormatLibraryWarning(TEmberLogErrorCode code, uintptr_t address, const std::string& message) {
  return "[WARNING] - Code: " + EmberLogErrorCodeName(code) + " - Address: " + Hex8(address) +
         " - Message: \"" + message + "\"";
}

namespace {

void ShowWarningAt(TEmberLogErrorCode code, const std::string& message, uintptr_t caller) {
  try {
    {
      std::lock_guard<std::mutex> lock(gErrorLock);
      gLastCode = code;
      gLastMessage = message;
    }
    ember_support::DebugOutput(FormatLibraryWarning(code, caller, message));
    if (code >= eeEmailMAPIError && code <= eeWebTrakerError && !gShowWarnings) return;
    if (gMessageBoxesAllowed && code >= eeEmailSMTPError && code <= eeWebTrakerError && Boxes().Error) {
      // A background send waits for the user here: a wait it may be given up in (TEmberPark).
      const TEmberParked parked;
      Boxes().Error(message, "Error.");
    }
  } catch (...) {
    // A warning that cannot be shown is still stored; nothing may escape into the delivery.
  }
}

}  // namespace

__attribute__((noinline)) void ShowLibraryWarning(TEmberLogErrorCode code, const std::string& message) {
  ShowWarningAt(code, message, reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}

__attribute__((noinline)) void ShowLibraryError(TEmberLogErrorCode code, const std::string& context) {
  std::string text = "General '" + context + "' error.";
  if (std::current_exception()) {
    try {
      throw;
    } catch (const Exception& e) {
      text = "[" + context + "] " + e.Message();
    } catch (const std::exception& e) {
      text = "[" + context + "] " + e.what();
    } catch (...) {
    }
  }
  ShowWarningAt(code, text, reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}

// --- Internal-error log

std::string FormatInternalErrorText(const TEmberInternalError& e) {
  return "Version   : " + e.Version + "\r\nDate      : " + e.Date + "\r\nOS        : " + e.OS +
         "\r\nRAD       : " + e.RAD + "\r\nDump      : " + e.Dump + "\r\nSection   : " + e.Section +
         "\r\nLastExcept: " + e.LastExcept + "\r\nAddress   : " + e.Address +
         "\r\nException : " + e.Exception + "\r\nMessage   : " + e.Message +
         "\r\nCall Stack: " + e.CallStack;
}

std::string DumpBytes(const void* address, uint32_t count) {
  if (!address || !count || !ember_support::IsReadable(address, count)) return std::string();
  std::string text;
  const auto* bytes = static_cast<const uint8_t*>(address);
  for (uint32_t i = 0; i < count; ++i) {
    if (i) text += ' ';
    text += "$" + IntToHex(bytes[i], 2);
  }
  return text;
}

namespace {

std::string LocationText(const TEmberInternalStackEntry& entry, const char* separator) {
  return std::string(separator) + entry.UnitName + " - " + entry.ClassName + " - " + entry.ProcedureName +
         " - " + IntToStr(entry.Line) + "[" + IntToStr(entry.LineOffset) + "]";
}

}  // namespace

std::string FormatInternalErrorStack(const std::vector<TEmberInternalStackEntry>& entries) {
  std::string text;
  for (size_t i = 0; i < entries.size(); ++i) {
    const TEmberInternalStackEntry& entry = entries[i];
    if (i) text += std::string(12, ' ');
    text += IntToHex(static_cast<uint32_t>(i), 2) + " $" + Hex8(entry.Address) + " - [" + Hex8(entry.Module) +
            "] " + entry.ModuleName + " " + (entry.Line ? LocationText(entry, "- ") : std::string()) + "\r\n";
  }
  return text;
}

std::string FormatInternalErrorAddress(const TEmberInternalStackEntry& entry) {
  return "$" + Hex8(entry.Address) + " - [" + Hex8(entry.Module) + "] " + entry.ModuleName + " - " +
         entry.UnitName + " - " + entry.ClassName + " - " + entry.ProcedureName + " - " + IntToStr(entry.Line) +
         "[" + IntToStr(entry.LineOffset) + "]";
}

void SetInternalErrorMailer(TEmberInternalErrorMailer mailer) { gMailer = mailer; }
void SetInternalErrorStackSource(TEmberInternalStackSource source) { gStackSource = source; }

bool IsInternalErrorRunning() { return gInternalErrorRunning; }

namespace {

struct TRunningFlag {
  TRunningFlag() { gInternalErrorRunning = true; }
  ~TRunningFlag() { gInternalErrorRunning = false; }
};

bool PassesOn() {
  const void* object = CurrentExceptionObject();
  if (object && (IsExceptionClassName(object, "EAbort") || IsExceptionClassName(object, "EEmberSocketError")))
    return true;
  return !IsRunningInIDE() && !ember_support::DebuggerAttached();
}

}  // namespace

void ReportInternalError(const std::string& section) {
  TRunningFlag running;
  if (std::current_exception() && PassesOn()) throw;
  try {
    TEmberRaiseSnapshot raise = GetRaiseSnapshot();
    TEmberInternalError error;
    error.Version = EmberLogVersionText;
    error.Date = FormatReportDate(ember_support::LocalNow());
    error.OS = ember_support::SystemName();
    error.RAD = EmberRADName;
    error.Dump = DumpBytes(reinterpret_cast<const void*>(raise.Address), 32);
    error.Section = section;
    error.LastExcept = raise.LastAddress ? "$" + Hex8(raise.LastAddress) : std::string();
    error.Address = Hex8(raise.Address);
    const void* object = CurrentExceptionObject();
    error.Exception = object ? GetObjectClassName(object) : std::string("General internal error.");
    if (object) error.Message = static_cast<const std::exception*>(object)->what();
    TEmberInternalStackSource source = gStackSource;
    if (source) error.CallStack = FormatInternalErrorStack(source());
    std::string text = FormatInternalErrorText(error);

    ember_support::DebugOutput("[ERROR] - Section: " + section + " - Address: " + error.Address +
                               " - Message: \"" + error.Message + "\"");
    std::string logName = ChangeFileExtension(ember_support::HostExecutableName(), ".log");
    {
      std::ofstream log(logName, std::ios::binary | std::ios::trunc);
      log << text;
    }
    const TEmberMessageBoxes& boxes = Boxes();
    if (!gMessageBoxesAllowed || !boxes.Question) return;
    std::string question = "Error: '" + error.Message +
                           "'\r\n\r\nThis is an internal EmberLog bug.\r\n"
                           "Do you want to send the bug information to EmberLog author?";
    if (!boxes.Question(question, "Probably internal bug")) return;
    std::string subject = std::string("EmberLog ") + EmberLogVersionText + " critical bug.";
    TEmberInternalErrorMailer mailer = gMailer;
    if (!mailer || !mailer(EmberSupportAddress, subject, subject, logName)) {
      if (boxes.Information)
        boxes.Information("Your e-mail client could not be reached.\r\nPlease send the file \"" + logName +
                              "\" to " + EmberSupportAddress + " yourself.",
                          "Information");
    }
  } catch (...) {
    // The library is already failing: its report of that must not fail louder.
  }
}

// --- Modules

std::string GetModulePathText(const std::string& fileName) {
  std::string path = fileName;
  if (path.rfind("\\??\\", 0) == 0) path.erase(0, 4);
  size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos) return std::string();
  // "C:\file" keeps "C:\"; anywhere else the final "\" goes.
  if (slash > 0 && path[slash - 1] == ':') return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

std::string GetSizeText(uint32_t bytes) {
  if (bytes == 0) return std::string();
  return IntToStr(Round(bytes / 1024.0)) + " Kb";
}

std::string ShortVersion(const std::string& version) {
  size_t first = version.find('.');
  if (first == std::string::npos) return version;
  size_t second = version.find('.', first + 1);
  if (second == std::string::npos) return version;
  return version.substr(0, second + 1) + "x";
}

uint32_t PriorityClassFromBase(int32_t basePriority) {
  if (basePriority == 0) return 0;
  if (basePriority < 6) return 64;       // IDLE
  if (basePriority < 8) return 16384;    // BELOW_NORMAL
  if (basePriority < 10) return 32;      // NORMAL
  if (basePriority < 13) return 32768;   // ABOVE_NORMAL
  if (basePriority < 24) return 128;     // HIGH
  return 256;                            // REALTIME
}

int32_t THModuleStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || !buffer || position_ < 0 || position_ + count > GetSize()) return 0;
  const void* from = reinterpret_cast<const void*>(module_ + static_cast<uintptr_t>(position_));
  if (!ember_support::IsReadable(from, static_cast<size_t>(count))) return 0;
  std::memcpy(buffer, from, static_cast<size_t>(count));
  position_ += count;
  return count;
}

int32_t THModuleStream::Write(const void*, int32_t) { return 0; }

int64_t THModuleStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : GetSize();
  position_ = base + offset;
  return position_;
}

int32_t ReadModuleDLLFlag(uintptr_t module) {
  if (!module) return -1;
  THModuleStream stream(module);
  uint16_t mz = 0;
  uint32_t offset = 0, pe = 0;
  uint8_t fileHeader[20];
  if (stream.Read(&mz, 2) != 2 || mz != 0x5A4D) return -1;
  stream.SetPosition(60);
  if (stream.Read(&offset, 4) != 4 || offset == 0) return -1;
  stream.SetPosition(offset);
  if (stream.Read(&pe, 4) != 4 || pe != 0x00004550) return -1;
  if (stream.Read(fileHeader, 20) != 20) return -1;
  uint16_t characteristics = static_cast<uint16_t>(fileHeader[18] | (fileHeader[19] << 8));
  return (characteristics & 0x2000) ? 1 : 0;
}

// --- Code addresses

bool IsPushEbxAt(const void* address) {
  return ember_support::IsReadable(address, 1) && *static_cast<const uint8_t*>(address) == 0x53;
}

bool IsFramePrologueAt(const void* address) {
  if (!ember_support::IsReadable(address, 3)) return false;
  const auto* code = static_cast<const uint8_t*>(address);
  return code[0] == 0x55 && code[1] == 0x8B && code[2] == 0xEC;
}
