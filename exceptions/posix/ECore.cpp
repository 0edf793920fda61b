// Platform half of the core helpers outside Windows: only the default critical-error report.
#include "ECore.h"

#include <cstdio>

void ShowCriticalErrorDefault(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
}
