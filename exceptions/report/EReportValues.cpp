// Portable half of the report values: the facts kept for the report, the exception's texts and
// the formatting rules of the system values.
#include "EReportValues.h"

#include <mutex>

#include "EObjectHelpers.h"
#include "ESysUtils.h"
#include "classlib/SysUtils.h"

// --- Facts

TEmberReportFacts& ReportFacts() {
  static TEmberReportFacts facts;
  return facts;
}

namespace {

std::mutex gLastLock;
std::string gLastMessage;
std::string gLastTypeName;

bool EndsWith(const std::string& text, char c) { return !text.empty() && text.back() == c; }

}  // namespace

std::string GetExceptionMessage(const void* exceptionObject) {
  std::string message = "Unknown error message.";
  if (exceptionObject && IsExceptionClassName(exceptionObject, "exception")) {
    // Exceptions of this library and of the C++ library all derive from std::exception.
    message = static_cast<const std::exception*>(exceptionObject)->what();
    if (!EndsWith(message, '.')) message += '.';
  }
  std::lock_guard<std::mutex> lock(gLastLock);
  gLastMessage = message;
  return message;
}

std::string GetExceptionTypeName(const void* exceptionObject) {
  std::string name = "Unknown exception type";
  if (IsValidObject(exceptionObject)) {
    name = GetObjectClassName(exceptionObject);
    // The carried name, read through ReportedClassName: a copy of a wrapper is no wrapper.
    if (IsExceptionClassName(exceptionObject, "TActiveXException")) {
      const std::string inner = ReportedClassName(static_cast<const std::exception*>(exceptionObject));
      if (!inner.empty()) name = inner;
    }
  }
  std::lock_guard<std::mutex> lock(gLastLock);
  gLastTypeName = name;
  return name;
}

std::string GetLastExceptionMessage() {
  std::lock_guard<std::mutex> lock(gLastLock);
  return gLastMessage;
}

std::string GetLastExceptionTypeName() {
  std::lock_guard<std::mutex> lock(gLastLock);
  return gLastTypeName;
}

std::string GetUpTime() {
  const TEmberReportFacts& facts = ReportFacts();
  return FormatDuration(facts.ExceptionTime - facts.StartTime);
}

std::string GetStartDate() { return FormatRFC822Date(ReportFacts().StartTime); }
std::string GetExceptionDate() { return FormatRFC822Date(ReportFacts().ExceptionTime); }

std::string GetExceptionAddressText() {
  uintptr_t address = ReportFacts().ExceptionAddress;
  return address ? IntToHex(static_cast<uint32_t>(address), 8) : std::string();
}

std::string GetUserEmail() { return ReportFacts().UserEmail; }
std::string GetControlClass() { return ReportFacts().ControlClass; }
std::string GetControlText() { return CollapseControlChars(ReportFacts().ControlText); }

// --- Text rules

std::string ReplaceControlChars(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 32 && c != '\n' && c != '\r') c = ' ';
  return out;
}

std::string ExtractCommandLineParameters(const std::string& commandLine, const std::string& programName) {
  std::string line = Trim(commandLine);
  if (!line.empty() && line[0] == '"') {
    line.erase(0, 1);
    size_t closing = line.find('"');
    if (closing != std::string::npos) line.erase(closing, 1);
  }
  // The program's name as the line starts with it, then the one blank that separates it. A
  // line that starts otherwise (a relative name) loses its first word instead.
  size_t skip;
  if (!programName.empty() && line.size() >= programName.size() && SameText(line.substr(0, programName.size()), programName)) {
    skip = programName.size() + 1;
  } else {
    size_t blank = line.find(' ');
    skip = blank == std::string::npos ? line.size() : blank + 1;
  }
  if (skip >= line.size()) return std::string();
  return Trim(line.substr(skip));
}

std::string ComposeModuleVersionText(const std::string& fileName, const std::string& description) {
  size_t slash = fileName.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  return description.empty() ? name : name + " - (" + description + ")";
}

std::string FormatVersionNumbers(uint32_t mostSignificant, uint32_t leastSignificant) {
  std::string text = IntToStr(mostSignificant >> 16) + "." + IntToStr(mostSignificant & 0xFFFF) + "." +
                     IntToStr(leastSignificant >> 16) + "." + IntToStr(leastSignificant & 0xFFFF);
  return text == "0.0.0.0" ? std::string() : text;
}

std::string ComposeCompilationDate(TDateTime buildDate, int32_t utcOffsetMinutes) {
  if (buildDate == 0) return std::string();
  return FormatRFC822Date(buildDate + utcOffsetMinutes / 1440.0, utcOffsetMinutes);
}

std::string FormatMegabytes(uint64_t bytes) {
  return IntToStr(Round(static_cast<double>(bytes) / 1048576.0)) + " Mb";
}

std::string FormatGigabytes(uint64_t bytes) {
  // "0.##": at most two decimals, trailing zeros dropped, "." whatever the locale.
  int64_t hundredths = Round(static_cast<double>(bytes) / 1073741824.0 * 100.0);
  std::string text = IntToStr(hundredths / 100);
  int64_t fraction = hundredths % 100;
  if (fraction) {
    text += "." + std::string(fraction < 10 ? "0" : "") + IntToStr(fraction);
    if (text.back() == '0') text.pop_back();
  }
  return text + " Gb";
}

std::string ComposeProcessorName(const std::string& nameString, const std::string& vendor,
                                 const std::string& identifier) {
  std::string name = Trim(nameString);
  if (!name.empty()) return name;
  std::string v = Trim(vendor), id = Trim(identifier);
  if (!v.empty() && !id.empty()) return v + " - " + id;
  if (!v.empty()) return v;
  if (!id.empty()) return id;
  return "Unknown processor";
}

std::string ComposeVideoCardText(const std::string& name, const std::string& version, uint32_t memorySize) {
  if (memorySize == 0) return Trim(name) + " (driver " + version + ")";
  return Trim(name) + " (driver " + version + " - RAM " + IntToStr(memorySize >> 20) + " MB)";
}

std::string FormatPrivilegeLine(const std::string& name, bool enabled) {
  return PadRight(name, 31) + (enabled ? " - ON" : " - OFF") + "\r\n";
}

std::string FormatIPAddress(const std::string& address) {
  std::string text = Trim(address);
  if (text.empty()) return "000.000.000.000";
  std::string out;
  size_t start = 0;
  while (true) {
    size_t dot = text.find('.', start);
    std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (part.size() < 3) part.insert(0, 3 - part.size(), '0');
    out += part;
    if (dot == std::string::npos) break;
    out += '.';
    start = dot + 1;
  }
  return out;
}

TEmberNetworkInfo ComposeNetworkInfo(const std::vector<TEmberAdapterFacts>& adapters) {
  TEmberNetworkInfo info;
  for (const TEmberAdapterFacts& adapter : adapters) {
    info.DHCP += adapter.Dhcp ? "ON              - " : "OFF             - ";
    info.IPAddress += FormatIPAddress(adapter.Address) + " - ";
    info.SubnetMask += FormatIPAddress(adapter.Mask) + " - ";
    info.Gateway += FormatIPAddress(adapter.Gateway) + " - ";
    // The first two servers; a single one leaves the second as the empty address.
    if (!adapter.DnsServers.empty()) {
      info.DNS1 += FormatIPAddress(adapter.DnsServers[0]) + " - ";
      info.DNS2 += FormatIPAddress(adapter.DnsServers.size() > 1 ? adapter.DnsServers[1] : std::string()) + " - ";
    }
  }
  for (std::string* value : {&info.IPAddress, &info.SubnetMask, &info.Gateway, &info.DNS1, &info.DNS2, &info.DHCP}) {
    if (value->size() >= 3 && value->compare(value->size() - 3, 3, " - ") == 0) value->erase(value->size() - 3);
  }
  return info;
}
