// Environment variables and the built-in %DATE%, %TIME% and %CD% values outside Windows.
#include "EmberTexts.h"

#include <cstdlib>
#include <ctime>
#include <unistd.h>

#include "classlib/SysUtils.h"

std::string GetEnvVariable(const std::string& name) {
  if (name.empty()) return std::string();
  const char* value = std::getenv(name.c_str());
  if (value && *value) return value;
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  if (SameText(name, "date")) {
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
  }
  if (SameText(name, "time")) {
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
  }
  if (SameText(name, "cd")) {
    char folder[4096];
    return getcwd(folder, sizeof folder) ? std::string(folder) : std::string();
  }
  return std::string();
}

bool SetEnvVariable(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  return (value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1)) == 0;
}
