// Platform half of the core helpers outside Windows: only the default critical-error report.
#include "ECore.h"

#include <unistd.h>

#include <cstdio>

void ShowCriticalErrorDefault(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
}

namespace {
const char gThisModuleToken = 0;
}

uintptr_t GetThisModuleHandle() { return reinterpret_cast<uintptr_t>(&gThisModuleToken); }

uintptr_t GetModuleHandleOf(const std::string&) { return 0; }

std::string GetThisModuleFileName() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}
