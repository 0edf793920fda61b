// System, window and text helpers the report builder, the log management and the dialogs share:
// names of the system, computer and user, module names, durations, HTML and control-character
// cleaning, the last-location cache, the raise snapshot, monitor work areas and message pumping.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

// --- Text (portable)

// A duration in days as "D day(s), H hour(s), M minute(s), S second(s)": days, hours and minutes
// only when greater than 0, seconds always; "s" from 2 on. Negative or non-finite durations
// count as 0.
std::string FormatDuration(double days);

// Every run of characters below 32 becomes one blank.
std::string CollapseControlChars(const std::string& text);

// `text` with blanks appended up to `width` characters; longer texts are kept whole.
std::string PadRight(const std::string& text, int32_t width);

inline std::string IfThenText(bool condition, const std::string& whenTrue, const std::string& whenFalse) {
  return condition ? whenTrue : whenFalse;
}

// "&" "\"" "'" "<" ">" as entities, two blanks as "&nbsp;&nbsp;", CR LF as "<br>" CR LF.
std::string HTMLEncode(const std::string& text);

// The version name of the system the numbers describe ("95 OSR 2", "98 SE", "XP", "7", "6.3"...):
// `platformId` 1 is the 9x family, 2 the NT family; `servicePack` is the system's service text.
std::string WindowsVersionName(uint32_t platformId, uint32_t major, uint32_t minor,
                               const std::string& servicePack, bool workstation);
// "Microsoft Windows " + the version name, " (64 bit)" for a 32-bit process on a 64-bit NT.
std::string ComposeWindowsName(uint32_t platformId, uint32_t major, uint32_t minor,
                               const std::string& servicePack, bool workstation, bool wow64);

// The module-name rule of GetModuleName before the short-name expansion: a name containing "?"
// keeps only the text from the character before the first ":" after the "?" on.
std::string CleanModuleFileName(const std::string& fileName);

// --- Location cache (portable; thread-safe)

// The stored answer of one address lookup.
struct TEmberCachedLocation {
  uint8_t Kind = 0;
  uint32_t Value = 0;
  uint8_t Flag1 = 0;
  uint8_t Flag2 = 0;
};

constexpr int32_t EmberLocationCacheSize = 10;

// The stored result of the entry with this object class, address and module; false when none.
bool FindCachedLocation(const void* objectClass, uintptr_t address, const void* module,
                        TEmberCachedLocation& result);
// Appends an entry; with all 10 used the oldest is dropped.
void AddCachedLocation(const void* objectClass, uintptr_t address, const void* module,
                       const TEmberCachedLocation& result);
void ClearLocationCache();
int32_t CachedLocationCount();

// --- Raise snapshot (portable; thread-safe)

struct TEmberRaiseSnapshot {
  const void* Object = nullptr;
  uintptr_t Address = 0;
  bool Flag = false;
  const void* LastObject = nullptr;  // the last non-zero object and address
  uintptr_t LastAddress = 0;
  uint32_t ThreadID = 0;
  uintptr_t StackAddress = 0;       // the raise address (5 less for a raise from a call)
  uintptr_t StackPointer = 0;       // where the copy starts
  std::vector<uint8_t> Stack;       // at most EmberRaiseStackLimit bytes up to the stack's top
};

constexpr uint32_t EmberRaiseStackLimit = 102400;

void SaveRaiseInfo(const void* object, uintptr_t address, bool flag);
// Copies the calling thread's stack from `stackPointer` (the caller's own stack pointer when
// that one lies outside the thread's stack) up to the stack's top, at most 102,400 bytes; keeps
// the thread id and `address` (minus 5 with `fromCall`).
void SaveRaiseStack(uintptr_t stackPointer, uintptr_t address, bool fromCall);
// A copy of the snapshot, taken under its lock.
TEmberRaiseSnapshot GetRaiseSnapshot();
void ClearRaiseSnapshot();

// --- Exceptions of the safecall path

// Carries an exception raised through the safecall (ActiveX) path; owns it.
class TActiveXException : public std::exception {
 public:
  TActiveXException(std::string message, std::exception_ptr inner, std::string innerClassName)
      : message_(std::move(message)), inner_(std::move(inner)), innerClassName_(std::move(innerClassName)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::exception_ptr& Inner() const { return inner_; }
  // The class name of the owned exception, which reports show instead of this class.
  const std::string& InnerClassName() const { return innerClassName_; }

 private:
  std::string message_;
  std::exception_ptr inner_;
  std::string innerClassName_;
};

// --- Win32 only (win32/ESysUtils.cpp)

std::string GetWindowsName();
// Decimal build number; on the 9x family its low 16 bits.
std::string GetWindowsBuild();
bool IsWindows95();
bool IsWindowsNT4();
bool IsWindowsVistaOrLater();
bool IsWorkstation();
// The service-pack text of the system, trimmed.
std::string GetServicePackText();
// GetComputerNameText is ECore's.
std::string GetUserNameText();
std::string GetRegisteredOwner();
// The file name of a loaded module, long form (see CleanModuleFileName); empty when unknown.
std::string GetModuleName(uintptr_t module);
bool IsModuleLoaded(uintptr_t module);
std::string GetThisModuleName();
std::string GetCommandLineText();
uintptr_t CurrentProcess();
uint32_t CurrentProcessId();
// The temporary folder with its final "\\".
std::string GetTempFolder();

// One message taken off the queue and dispatched (WM_QUIT is left undispatched); false when
// the queue was empty.
bool ProcessOneMessage();
// Restores this process's main window when it is minimised and brings it to the front.
void RestoreMainWindow();

// A rectangle as left, top, right, bottom.
struct TEmberRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};
TEmberRect GetWindowWorkArea(uintptr_t window);
TEmberRect GetActiveWorkArea();
TEmberRect GetMonitorsRect(const TEmberRect& area);
void CenterInActiveWorkArea(uintptr_t window, int32_t width, int32_t height);
bool IsEscapeDown();
// Inserts a list-view column; `rightAligned` selects LVCFMT_RIGHT.
void AddListColumn(uintptr_t listView, const std::string& text, int32_t width, bool rightAligned, int32_t subItem);
void SetNormalPosition(uintptr_t window, const TEmberRect& rect);
void SetWindowShowState(uintptr_t window, int32_t showCommand);
int32_t GetWindowShowState(uintptr_t window);
