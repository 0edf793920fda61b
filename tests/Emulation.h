// Cases left out where Wine's 32-bit side runs under a user-mode emulator (tools/wine-session.sh
// sets KBL_EMULATED there, and Wine passes it on to every program and to their children), so that
// a test's other cases still run there.
#pragma once

#include <cstdio>
#include <cstdlib>

// What does not hold there. The emulator hands a fault's signal to Wine with no trap number, and
// Wine then reports every access violation as an illegal instruction: cases that fault on purpose
// and check what an access violation's handlers and report do.
constexpr char kFaultsArriveAsIllegalInstructions[] = "a fault arrives as an illegal instruction";
// Wine's server refuses a program's reads of its own memory through the system (ReadProcessMemory
// answers access denied): a look at a lock's holder cannot read the holder's stack, so a holder
// alive but out of the lock's code is never told gone.
constexpr char kOwnMemoryUnreadable[] = "the program's own memory cannot be read through the system";

// True where programs run emulated, after printing that the case `what` is left out, and `why`.
inline bool LeftOutWhereEmulated(const char* what, const char* why) {
  const char* emulated = std::getenv("KBL_EMULATED");
  if (emulated == nullptr || emulated[0] == '\0' || emulated[0] == '0') return false;
  std::printf("left out where programs run emulated (%s): %s\n", why, what);
  return true;
}
