// Support routines of the reporting side: the last library error with its warnings, the
// internal-error log, process windows, facts about loaded modules, the modules and processes
// lists, and code-address helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Streams.h"

class TEmberModulesList;
class TEmberProcessesList;
struct TEmberModuleInfo;

// --- Last library error (portable; the globals are guarded)

enum TEmberLogErrorCode : int32_t {
  eeNone,
  eeShowError,
  eeLogError,
  eeEmailMAPIError,
  eeEmailShellError,
  eeEmailSMTPError,
  eeWebHTTPError,
  eeWebHTTPSError,
  eeWebFTPError,
  eeWebTrakerError
};

// "eeNone" ... "eeWebTrakerError"; "" for a value outside the list.
std::string EmberLogErrorCodeName(TEmberLogErrorCode code);

// What the delivery and output code last reported; eeNone and "" when nothing did.
TEmberLogErrorCode GetLastLibraryErrorCode();
std::string GetLastLibraryErrorMessage();
// Back to eeNone and an empty message.
void ClearLastError();
// Puts back an error read with the two functions above.
void RestoreLastError(TEmberLogErrorCode code, const std::string& message);

// The library's show-warnings switch (off at start): delivery warnings (codes 3 to 9) only go
// further than the debugger text when it is on.
void SetShowLibraryWarnings(bool show);
// Whether the library may show message boxes at all (on at start; off for services and tests).
void SetLibraryMessageBoxesAllowed(bool allowed);

// Shows a text in a message box; installed for the platform (Windows: MessageBoxA, elsewhere
// nothing). Tests install their own. Answers true for "yes" where a question is asked.
struct TEmberMessageBoxes {
  void (*Error)(const std::string& text, const std::string& caption) = nullptr;
  bool (*Question)(const std::string& text, const std::string& caption) = nullptr;
  void (*Information)(const std::string& text, const std::string& caption) = nullptr;
};
// nullptr restores the platform's boxes.
void SetLibraryMessageBoxes(const TEmberMessageBoxes* boxes);
// Shows an error box (hand icon) or an information box, task-modal, topmost and as a service
// notification, through the installed boxes; nothing while message boxes are not allowed.
void ShowLibraryMessageBox(bool error, const std::string& text, const std::string& caption);

// "[WARNING] - Code: <name> - Address: <8 hex digits> - Message: \"<message>\"".
std::string FormatLibraryWarning(TEmberLogErrorCode code, uintptr_t address, const std::string& message);

// Stores the error, writes the warning line for a debugger and, for the show and web codes 5 to
// 9 with message boxes allowed, shows the message ("Error."). Delivery codes 3 to 9 go no
// further than the stored error while the show-warnings switch is off. Never raises.
void ShowLibraryWarning(TEmberLogErrorCode code, const std::string& message);
// ShowLibraryWarning with the text of the exception being handled: "[<context>] <message>" for
// an Exception (any std::exception), "General '<context>' error." for anything else. Call it
// from inside a catch block; outside one it reports the general text.
void ShowLibraryError(TEmberLogErrorCode code, const std::string& context);

// --- Internal-error log

// The facts of an internal error, filled by ReportInternalError.
struct TEmberInternalError {
  std::string Version, Date, OS, RAD, Dump, Section, LastExcept, Address, Exception, Message, CallStack;
};
// The log text: "Version   : ...\r\nDate      : ..." through "Call Stack: ...".
std::string FormatInternalErrorText(const TEmberInternalError& error);

// "$xx $xx ..." of `count` bytes at `address`; empty when they are not all readable.
std::string DumpBytes(const void* address, uint32_t count);

// One entry of the internal error's call stack.
struct TEmberInternalStackEntry {
  uint32_t Address = 0;
  uint32_t Module = 0;
  std::string ModuleName;
  std::string UnitName, ClassName, ProcedureName;
  int32_t Line = 0;
  int32_t LineOffset = 0;
};
// "%s $%8.8x - [%8.8x] %s %s\r\n" per entry (2 hex digits of the entry number), the location
// "- unit - class - procedure - line[offset]" only when the line is known; every line after the
// first is indented by 12 blanks.
std::string FormatInternalErrorStack(const std::vector<TEmberInternalStackEntry>& entries);
// "$%8.8x - [%8.8x] %s - %s - %s - %s - %s[%s]" for a single address.
std::string FormatInternalErrorAddress(const TEmberInternalStackEntry& entry);

// The library version written into internal-error logs, and where they are mailed to.
extern const char* const EmberLogVersionText;   // "6.0.24"
extern const char* const EmberSupportAddress;
extern const char* const EmberRADName;

// Sends the internal-error log by e-mail: the delivery code installs it; without one the user
// is told to send the file by hand. Answers false when no mail client could be reached.
using TEmberInternalErrorMailer = bool (*)(const std::string& address, const std::string& subject,
                                           const std::string& body, const std::string& attachment);
void SetInternalErrorMailer(TEmberInternalErrorMailer mailer);
// The calling thread's call stack (up to 31 entries) for the internal-error log; installed by
// the stack builder. Without one the log's call stack stays empty.
using TEmberInternalStackSource = std::vector<TEmberInternalStackEntry> (*)();
void SetInternalErrorStackSource(TEmberInternalStackSource source);

// Where the library reports that its own processing failed; call it from the handler of that
// processing with the step number as `section`. Passes the current exception on (raises it)
// for EAbort and EEmberSocketError and when the program runs neither in the development
// environment nor under a debugger; otherwise writes the log beside the host executable
// (".log"), tells a debugger and offers to mail the log. Its own failures end silently.
void ReportInternalError(const std::string& section);
// True while ReportInternalError runs.
bool IsInternalErrorRunning();

// --- Modules (portable parts)

// The folder of a file name without its final "\\" (kept after a drive colon) and without a
// leading "\\??\\".
std::string GetModulePathText(const std::string& fileName);
// Kilobytes, rounded, with " Kb"; empty for 0.
std::string GetSizeText(uint32_t bytes);
// "1.2.3.4" -> "1.2.x"; texts with fewer than two dots stay as they are.
std::string ShortVersion(const std::string& version);
// The priority class that goes with a Toolhelp base priority (0 for 0).
uint32_t PriorityClassFromBase(int32_t basePriority);

// A read-only stream over a loaded module's image: position 0 is the module's base, the size
// 0x7FFFFFFF. A read only succeeds when all its bytes are readable (nothing is read otherwise);
// writes and size changes do nothing. Owns nothing.
class THModuleStream : public TStream {
 public:
  explicit THModuleStream(uintptr_t module) : module_(module) {}
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t GetSize() override { return 0x7FFFFFFF; }
  void SetSize(int64_t) override {}

 private:
  uintptr_t module_;
  int64_t position_ = 0;
};

// The IMAGE_FILE_DLL bit of the module's headers; -1 when they cannot be read.
int32_t ReadModuleDLLFlag(uintptr_t module);

// --- Code addresses (portable)

inline uintptr_t AddrFromCodeOffset(uintptr_t module, uint32_t offset) { return module + 4096 + offset; }
// The byte at `address` is readable and is push ebx (0x53).
bool IsPushEbxAt(const void* address);
// The bytes at `address` are readable and are push ebp; mov ebp, esp (55 8B EC).
bool IsFramePrologueAt(const void* address);

// --- Win32 only (win32/ESupport.cpp)

// The first visible top-level main window of a process (0 when none): no owner, or the desktop
// or a "TApplication" window as owner (an owning tool window counts as its own owner), and not
// a tool window unless it has the application-window style.
uintptr_t GetProcessMainWindow(uint32_t processId);
// The process has a top-level window of class "TAppBuilder".
bool IsDevelopmentEnvironmentProcess(uint32_t processId);
// The union of the process's visible top-level windows of positive width; all -1 when none.
void GetProcessWindowsRect(uint32_t processId, int32_t& left, int32_t& top, int32_t& right, int32_t& bottom);
bool IsOwnWindow(uintptr_t window);
// Remembers this process's top-level windows; IsNewWindow is true for one not remembered.
void RefreshOwnWindows();
bool IsNewWindow(uintptr_t window);
// Puts the text on the clipboard as CF_TEXT; false when the clipboard cannot be had.
bool CopyToClipboard(const std::string& text);
// Ends the process with exit code 1, after starting its command line again with `restart`.
void TerminateApplication(bool restart);

// The loaded module that contains `address`; 0 when none does.
uintptr_t GetModuleHandleOfAddr(uintptr_t address);
// The process's modules list (guarded by the library lock of its callers).
TEmberModulesList& EmberModulesList();
// Fills a module entry's own facts (file name, description, version, size, kind, file date,
// exports); the library data is added by the loader installed below. Used for new entries.
void LoadModuleInfo(TEmberModuleInfo& info, bool refreshing);
// Adds the library data of a module entry (the capture side installs its reader; without one
// entries carry no options or debug data). Answers whether data was found.
using TEmberModuleDataLoader = bool (*)(TEmberModuleInfo& info, bool refreshing);
void SetModuleDataLoader(TEmberModuleDataLoader loader);
// The module's entry, added when missing; an entry made during a refresh is made again once the
// refresh is over. nullptr for a handle that is not a loaded module.
TEmberModuleInfo* GetModuleInfo(uintptr_t module);
TEmberModuleInfo* GetModuleInfoByAddr(uintptr_t address);
// Drops entries of unloaded modules, adds the loaded ones not listed, sorts by handle.
void RefreshModulesList();
bool IsModuleDLL(uintptr_t module);
// 0 unreadable headers, 1 program, 2 runtime package, 3 other DLL.
int32_t GetModuleKind(uintptr_t module);
// Low 32 bits of a file's size; 0 when it is missing.
uint32_t GetFileSizeByName(const std::string& fileName);
// Clears the read-only attribute and deletes; true when the file is gone.
bool ForceDeleteFile(const std::string& fileName);
// The running processes, sorted by id, with their thread counts.
void LoadProcessesInfo(TEmberProcessesList& list);
