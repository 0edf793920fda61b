// Cases left out, and bounds that grow, where Wine's 32-bit side runs under a user-mode emulator
// (tools/wine-session.sh sets KBL_EMULATED there, and Wine passes it on to every program and to
// their children), so that a test's other cases still run there, and run to their end.
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

// True where programs run emulated.
inline bool RunsEmulated() {
  const char* emulated = std::getenv("KBL_EMULATED");
  return emulated != nullptr && emulated[0] != '\0' && emulated[0] != '0';
}

// True where programs run emulated, after printing that the case `what` is left out, and `why`.
inline bool LeftOutWhereEmulated(const char* what, const char* why) {
  if (!RunsEmulated()) return false;
  std::printf("left out where programs run emulated (%s): %s\n", why, what);
  return true;
}

// A bound that waits for the machine (a child process to end, a thread to reach a point, a window
// to show) grows by the factor that ctest's time-outs grow by where programs run emulated
// (KBL_TIMEOUT_FACTOR, which ctest hands each program and Wine hands its children). A bound that
// checks the product's own promise (an end within 10 s of its decision) does not take it.
inline unsigned long MachineBound(unsigned long milliseconds) {
  const char* factor = std::getenv("KBL_TIMEOUT_FACTOR");
  const long times = factor != nullptr ? std::strtol(factor, nullptr, 10) : 1;
  return milliseconds * static_cast<unsigned long>(times > 1 ? times : 1);
}
