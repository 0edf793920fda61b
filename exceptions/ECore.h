// Core helpers that both halves of the exception library share: memory probing, import jumps,
// version comparison, string utilities, files, folders, INI and registry access, and the guarded
// call of the library's start-up and shut-down steps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/System.h"

class TEmberModuleOptions;

// --- Versions

// Left-pads a number with "0" to 5 characters; longer texts are returned as they are.
std::string PadVersionPart(const std::string& text);

// "7.2.32" -> "00007.00002.00032.00000": each dot-separated number padded to 5 digits (text after
// a blank in a part stays behind the padded number), ".00000" appended up to 4 parts.
std::string NormalizeVersion(const std::string& version);

// True when the normalised `b` is greater, as text, than the normalised `a`.
bool IsVersionGreater(const std::string& a, const std::string& b);

// --- Text

// 1-based position of `sub` in `text` at or after the 1-based `start`; 0 when absent, when
// `sub` is empty or when `start` lies outside the text.
int32_t PosFrom(const std::string& sub, const std::string& text, int32_t start);

// Every occurrence of `oldText` (compared exactly) replaced; an empty `oldText` changes nothing.
std::string ReplaceAllText(const std::string& text, const std::string& oldText,
                           const std::string& newText);

// Splits `text` into lines at any character of `separators`; a final separator starts no
// further line.
std::vector<std::string> SplitString(const std::string& text, const std::string& separators);

// Skips leading characters of `text` that belong to `separators`, then appends to `list`
// (which it does not clear) each trimmed field between separators (empty ones included) and
// finally the trimmed rest after the last separator when it is not empty.
void ExtractFields(const std::string& separators, const std::string& text,
                   std::vector<std::string>& list);

// Number text with "." as the decimal separator whatever the locale; raises EConvertError
// ("'<text>' is not a valid floating point value") for anything else. FloatToStrDot is the
// class library's.
double StrToFloatDot(const std::string& text);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string ToUTF8(const WideString& text);

// --- Paths (backslash-separated, as the library writes them on every platform)

std::string IncludeTrailingBackslash(const std::string& path);
std::string ExcludeTrailingBackslash(const std::string& path);
// Removes ".vshost" from a file name ("app.vshost.exe" -> "app.exe").
std::string StripVsHost(const std::string& fileName);

// Where the log goes: `outputPath` when it names a ".elf" file (any case); else that folder, or
// the folder of `fileName` when it is empty, joined with `fileName` without its folder.
std::string ComposeLogFilePath(const std::string& outputPath, const std::string& fileName);

// `moduleName` with the extension ".elf"; with a non-empty `computerName`, "_" and the name are
// inserted before the extension.
std::string ComposeLogFileName(const std::string& moduleName, const std::string& computerName);

// --- Flags set at start-up

// True when the library runs inside the development environment (set by the start-up).
bool IsRunningInIDE();
void SetRunningInIDE(bool value);

// --- Guarded start-up and shut-down steps

// Reports a critical error ("Critical error at: "<label>"\r\nError: "<text>".") somewhere the
// user sees it. The default shows a message box on Windows and writes to stderr elsewhere;
// tests and hosts without a desktop install their own. Called on the failing thread.
using TCriticalErrorHandler = void (*)(const std::string& message);
void SetCriticalErrorHandler(TCriticalErrorHandler handler);
// The message SafeCallProc reports for a failure of `label` with `errorText`.
std::string FormatCriticalError(const std::string& label, const std::string& errorText);

// Runs `procedure`; any exception it raises is reported as a critical error naming `label` and
// does not propagate. A null procedure does nothing.
void SafeCallProc(void (*procedure)(), const char* label);

// --- Win32 only (win32/ECore.cpp)

// True when `size` bytes from `address` lie in one committed region with a readable protection
// (guard pages excluded). Never touches the memory. A size of 0 asks for the address alone.
bool IsReadableMemory(const void* address, uint32_t size);

// The target of an indirect jump (FF 25 and a readable pointer) at `address`; else `address`.
const void* FollowJumpThunk(const void* address);

// The host process's executable file name.
std::string GetApplicationFileName();
// The per-user application-data folder ("\\" when none can be found).
std::string GetAppDataFolder();
// The application-data folder + "\\EmberLog".
std::string GetLibraryFolder();

// Private-profile access; a file name without folder is taken from the library folder.
std::string ReadIniString(const std::string& fileName, const std::string& section,
                          const std::string& key, const std::string& fallback = std::string());
bool WriteIniString(const std::string& fileName, const std::string& section,
                    const std::string& key, const std::string& value);

// A string value of a registry key (`root` is an HKEY), opened for reading; a leading "\\" of
// the key path is dropped. Empty when the key or value is missing or not a string.
std::string ReadRegistryString(uintptr_t root, const std::string& keyPath,
                               const std::string& valueName);

// The file's last-write time in local time as days since 1899-12-30; 0 when it is missing.
double GetFileDate(const std::string& fileName);

// Replaces every 8.3 component (one containing "~") by its long name; components that cannot
// be found are kept.
std::string ExpandShortPathName(const std::string& path);

// Local time minus UTC in whole hours, rounded.
int32_t GetUTCOffsetHours();
// Local time minus UTC in minutes (zones of half and quarter hours keep their minutes).
int32_t GetUTCOffsetMinutes();

// The computer's NetBIOS name; empty when unavailable.
std::string GetComputerNameText();

bool IsDirectory(const std::string& path);
// Creates every missing folder of `path` after expanding its %VARIABLES%; true when the folder
// exists afterwards.
bool ForceFolders(const std::string& path);

// Whether the file can be opened for reading (shared, existing) / for reading and writing
// (created when missing and then deleted again).
bool CanOpenForReading(const std::string& fileName);
bool CanWriteFile(const std::string& fileName);

// Expands %VARIABLES% in `fileName`; when the file cannot be opened as asked (for reading only
// with `readOnly`), tries the library folder (creating it): first under the file's own folder
// name when `forceLibraryFolder` is set, then with the bare file name. On success `fileName`
// becomes the usable name.
bool PrepareWritableFile(std::string& fileName, bool forceLibraryFolder, bool readOnly);

// --- Log file (Win32 only)

// ComposeLogFilePath of the options' OutputPath and `fileName`, with %VARIABLES% expanded; the
// folder is created and the file made writable (PrepareWritableFile, falling back to the
// library folder). Empty when no writable place was found.
std::string GetLogFilePath(const TEmberModuleOptions& options, const std::string& fileName);
// The log of `moduleName` (empty: the options' module without ".vshost"): the name with
// ".elf", "_" and the computer name inserted with LogOptions bit 0x08, placed by GetLogFilePath.
std::string GetLogFileName(const TEmberModuleOptions& options, const std::string& moduleName = std::string());

// --- Modules

// Handle of the module this code is linked into (the DLL when the library sits in one). Outside
// Windows a fixed non-zero token, so that options can belong to "this module" in tests.
uintptr_t GetThisModuleHandle();
// File name of that module (outside Windows the program's); empty when unknown.
std::string GetThisModuleFileName();
// Handle of a loaded module by file name; 0 for an empty name or a module not loaded.
uintptr_t GetModuleHandleOf(const std::string& moduleName);
