// The values of a report's head: application, exception, user, active window, computer,
// operating system and network. Every routine answers a text and never raises; a value that
// cannot be found is empty unless a default is named.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/DateUtils.h"

// --- Facts kept by the library (portable; set under the library's lock)

struct TEmberReportFacts {
  TDateTime StartTime = 0;       // the application's start
  TDateTime ExceptionTime = 0;
  uintptr_t ExceptionAddress = 0;
  const void* ExceptionObject = nullptr;  // a std::exception, or another object, or nullptr
  std::string UserEmail;         // as the user entered it
  std::string ControlClass;      // the active form's focused control when the exception came
  std::string ControlText;
};
TEmberReportFacts& ReportFacts();

// --- Values from the facts (portable)

// The exception's message ("Unknown error message." for an object that is not an exception)
// with a final "." added when missing; kept as the last message.
std::string GetExceptionMessage(const void* exceptionObject);
// "Unknown exception type" for an object that is not a valid object; the carried class for the
// safecall wrapper; else the class name. Kept as the last type name.
std::string GetExceptionTypeName(const void* exceptionObject);
std::string GetLastExceptionMessage();
std::string GetLastExceptionTypeName();

std::string GetUpTime();             // exception time − start time as a duration
std::string GetStartDate();          // RFC 822
std::string GetExceptionDate();      // RFC 822
std::string GetExceptionAddressText();  // 8 hex digits; empty for 0
std::string GetUserEmail();
std::string GetControlClass();
std::string GetControlText();        // control characters collapsed

// --- Text rules (portable)

// Every character below 32 other than LF and CR becomes a blank.
std::string ReplaceControlChars(const std::string& text);
// The text after the program's file name in a command line (see GetCommandLineParameters).
std::string ExtractCommandLineParameters(const std::string& commandLine, const std::string& programName);
// "a - (description)", or the bare file name (without folder) when the description is empty.
std::string ComposeModuleVersionText(const std::string& fileName, const std::string& description);
// Four numbers from the fixed file version's two 32-bit parts; empty for "0.0.0.0".
std::string FormatVersionNumbers(uint32_t mostSignificant, uint32_t leastSignificant);
// The build date (UTC) moved into the local zone of `utcOffsetMinutes`, as RFC 822; empty for a
// date of 0.
std::string ComposeCompilationDate(TDateTime buildDate, int32_t utcOffsetMinutes);
// Megabytes rounded, " Mb".
std::string FormatMegabytes(uint64_t bytes);
// Gigabytes with up to two decimals ("0.##", "." always), " Gb".
std::string FormatGigabytes(uint64_t bytes);
// The processor's name string trimmed, else "vendor - identifier" (either alone), else
// "Unknown processor".
std::string ComposeProcessorName(const std::string& nameString, const std::string& vendor,
                                 const std::string& identifier);
// "name (driver version - RAM n MB)", the RAM part only for a memory size that is not 0.
std::string ComposeVideoCardText(const std::string& name, const std::string& version, uint32_t memorySize);
// The privilege's name padded to 31 characters, " - ON" or " - OFF", CR LF.
std::string FormatPrivilegeLine(const std::string& name, bool enabled);
// Each part of a dotted address padded to 3 digits; "000.000.000.000" for an empty address.
std::string FormatIPAddress(const std::string& address);

// One network adapter as the IP helper describes it.
struct TEmberAdapterFacts {
  bool Dhcp = false;
  std::string Address, Mask, Gateway;
  std::vector<std::string> DnsServers;
};
struct TEmberNetworkInfo {
  std::string IPAddress, SubnetMask, Gateway, DNS1, DNS2, DHCP;
};
// The values of all adapters joined by " - " (no trailing separator); DNS 2 is the empty
// address for an adapter with a single DNS server.
TEmberNetworkInfo ComposeNetworkInfo(const std::vector<TEmberAdapterFacts>& adapters);

// --- Win32 only (win32/EReportValues.cpp)

std::string GetHostExeName();
uintptr_t GetApplicationModule();
// Frees a module GetApplicationModule had to load (at shut-down).
void ReleaseApplicationModule();
std::string GetApplicationVersionText();
std::string GetModuleVersionText();
std::string GetModuleVersion();
// Description and file version from a file's version resource; false without one.
bool GetFileVersionText(const std::string& fileName, std::string& description, std::string& version);
std::string GetProductVersion(const std::string& fileName);
std::string GetCommandLineParameters();
std::string GetCompilationDate();
std::string GetSystemUpTime();
std::string GetForegroundClass();
std::string GetForegroundText();
std::string GetServicePack();
std::string GetLanguageName();
std::string GetCharsetText();
std::string GetTotalMemory();
std::string GetFreeMemory();
std::string GetTotalDisk();
std::string GetFreeDisk();
std::string GetProcessorName();
std::string GetDisplayMode();
std::string GetDisplayDPI();
std::string GetVideoCard();
std::string GetDefaultPrinter();
std::string GetCompanyName();
std::string GetPrivileges();
void GetNetworkInfo(std::string& ipAddress, std::string& subnetMask, std::string& gateway,
                    std::string& dns1, std::string& dns2, std::string& dhcp);
