// Portable core helpers of the exception library: versions, text, paths and guarded steps.
#include "ECore.h"

#include <atomic>

#include "classlib/SysUtils.h"

namespace {

std::atomic<bool> gRunningInIDE{false};
std::atomic<TCriticalErrorHandler> gCriticalErrorHandler{nullptr};

bool EndsWithText(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && SameText(text.substr(text.size() - tail.size()), tail);
}

size_t FileNameStart(const std::string& path) {
  size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? 0 : slash + 1;
}

// Reports through the installed handler, or the platform default.
void ReportCriticalError(const std::string& message);

}  // namespace

// --- Versions

std::string PadVersionPart(const std::string& text) {
  if (text.size() >= 5) return text;
  return std::string(5 - text.size(), '0') + text;
}

std::string NormalizeVersion(const std::string& version) {
  std::string out;
  int parts = 0;
  size_t start = 0;
  while (true) {
    size_t dot = version.find('.', start);
    std::string part = version.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    // "32 beta": the number is padded, the words after the blank follow it unchanged.
    size_t blank = part.find(' ');
    std::string number = blank == std::string::npos ? part : part.substr(0, blank);
    std::string rest = blank == std::string::npos ? std::string() : part.substr(blank);
    if (parts) out += '.';
    out += PadVersionPart(number) + rest;
    ++parts;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  for (; parts < 4; ++parts) out += ".00000";
  return out;
}

bool IsVersionGreater(const std::string& a, const std::string& b) {
  return NormalizeVersion(b) > NormalizeVersion(a);
}

// --- Text

int32_t PosFrom(const std::string& sub, const std::string& text, int32_t start) {
  if (sub.empty() || start < 1 || static_cast<size_t>(start) > text.size()) return 0;
  size_t at = text.find(sub, static_cast<size_t>(start - 1));
  return at == std::string::npos ? 0 : static_cast<int32_t>(at + 1);
}

std::string ReplaceAllText(const std::string& text, const std::string& oldText,
                           const std::string& newText) {
  if (oldText.empty()) return text;
  std::string out;
  size_t from = 0;
  for (size_t at; (at = text.find(oldText, from)) != std::string::npos; from = at + oldText.size())
    out.append(text, from, at - from).append(newText);
  out.append(text, from, std::string::npos);
  return out;
}

std::vector<std::string> SplitString(const std::string& text, const std::string& separators) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t at = text.find_first_of(separators, start);
    if (at == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  return lines;
}

void ExtractFields(const std::string& separators, const std::string& text,
                   std::vector<std::string>& list) {
  size_t start = text.find_first_not_of(separators);
  if (start == std::string::npos) return;
  while (true) {
    size_t at = text.find_first_of(separators, start);
    if (at == std::string::npos) {
      std::string rest = Trim(text.substr(start));
      if (!rest.empty()) list.push_back(rest);
      return;
    }
    list.push_back(Trim(text.substr(start, at - start)));
    start = at + 1;
  }
}

double StrToFloatDot(const std::string& text) {
  double value = 0;
  if (!TryStrToFloatDot(text, value))
    throw EConvertError("'" + text + "' is not a valid floating point value");
  return value;
}

std::string ToUTF8(const WideString& text) {
  std::string out;
  out.reserve(text.size() * 3);  // three bytes per UTF-16 unit always suffice
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// --- Paths

std::string IncludeTrailingBackslash(const std::string& path) {
  if (!path.empty() && (path.back() == '\\' || path.back() == '/')) return path;
  return path + "\\";
}

std::string ExcludeTrailingBackslash(const std::string& path) {
  std::string out = path;
  while (!out.empty() && (out.back() == '\\' || out.back() == '/')) out.pop_back();
  return out;
}

std::string StripVsHost(const std::string& fileName) {
  return ReplaceAllText(fileName, ".vshost", "");
}

std::string ComposeLogFilePath(const std::string& outputPath, const std::string& fileName) {
  if (EndsWithText(outputPath, ".elf")) return outputPath;
  size_t nameStart = FileNameStart(fileName);
  std::string folder = outputPath.empty() ? fileName.substr(0, nameStart) : outputPath;
  std::string name = fileName.substr(nameStart);
  if (folder.empty()) return name;
  return IncludeTrailingBackslash(folder) + name;
}

std::string ComposeLogFileName(const std::string& moduleName, const std::string& computerName) {
  size_t nameStart = FileNameStart(moduleName);
  size_t dot = moduleName.rfind('.');
  std::string stem = dot == std::string::npos || dot < nameStart ? moduleName : moduleName.substr(0, dot);
  if (!computerName.empty()) stem += "_" + computerName;
  return stem + ".elf";
}

// --- Flags

bool IsRunningInIDE() { return gRunningInIDE.load(); }
void SetRunningInIDE(bool value) { gRunningInIDE.store(value); }

// --- Guarded steps

void SetCriticalErrorHandler(TCriticalErrorHandler handler) { gCriticalErrorHandler.store(handler); }

std::string FormatCriticalError(const std::string& label, const std::string& errorText) {
  return "Critical error at: \"" + label + "\"\r\nError: \"" + errorText + "\".";
}

void ShowCriticalErrorDefault(const std::string& message);  // win32/ or posix/

namespace {

void ReportCriticalError(const std::string& message) {
  try {
    TCriticalErrorHandler handler = gCriticalErrorHandler.load();
    if (handler) handler(message);
    else ShowCriticalErrorDefault(message);
  } catch (...) {
    // The report of a failure must not become a failure of its own.
  }
}

}  // namespace

void SafeCallProc(void (*procedure)(), const char* label) {
  if (!procedure) return;
  std::string name = label ? label : "";
  // The address names the failing step's entry: C++ exceptions carry no raise address.
  std::string address = IntToHex(reinterpret_cast<uintptr_t>(procedure), 8);
  try {
    procedure();
  } catch (const Exception& e) {
    ReportCriticalError(FormatCriticalError(name, e.Message() + " (Address: " + address + ")"));
  } catch (const std::exception& e) {
    ReportCriticalError(FormatCriticalError(name, std::string(e.what()) + " (Address: " + address + ")"));
  } catch (...) {
    ReportCriticalError(FormatCriticalError(name, "General internal error."));
  }
}
