// Environment variables and the built-in %DATE%, %TIME% and %CD% values on Windows.
#include "EmberTexts.h"

#include <windows.h>

#include <vector>

#include "classlib/SysUtils.h"

namespace {

std::string ReadEnvironment(const std::string& name) {
  std::vector<char> buffer(1024);
  DWORD got = GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (got >= buffer.size()) {
    // Too long: `got` is the size needed, terminator included. The value may change between the
    // two calls, so the second answer is checked again.
    buffer.resize(got + 1);
    got = GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (got >= buffer.size()) return std::string();
  }
  return std::string(buffer.data(), got);
}

}  // namespace

std::string GetEnvVariable(const std::string& name) {
  if (name.empty()) return std::string();
  std::string value = ReadEnvironment(name);
  if (!value.empty()) return value;
  char text[MAX_PATH + 1];
  if (SameText(name, "date")) {
    int n = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, text, sizeof text);
    return n > 0 ? std::string(text) : std::string();
  }
  if (SameText(name, "time")) {
    int n = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, text, sizeof text);
    return n > 0 ? std::string(text) : std::string();
  }
  if (SameText(name, "cd")) {
    DWORD needed = GetCurrentDirectoryA(0, nullptr);
    if (needed == 0) return std::string();
    std::vector<char> folder(needed + 1);
    DWORD got = GetCurrentDirectoryA(static_cast<DWORD>(folder.size()), folder.data());
    return got > 0 && got < folder.size() ? std::string(folder.data(), got) : std::string();
  }
  return std::string();
}

bool SetEnvVariable(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  // A value holds at most 32,767 characters with its end; some systems fault on a longer one
  // instead of refusing it (a long report published for external tools): it is cut there.
  constexpr size_t kLongestValue = 32766;
  if (value.size() > kLongestValue) return SetEnvironmentVariableA(name.c_str(), value.substr(0, kLongestValue).c_str()) != 0;
  return SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str()) != 0;
}
