// Randomised host sessions through the real plug-in DLL: what hosts do to a plug-in, interleaved
// from a seed, with the checks that a host relies on. Used by the host-session tests (a few
// seeds) and, for long runs, through the environment (see HostSessionTest.cpp).
#pragma once

#include <cstdint>
#include <string>

struct TSessionOptions {
  uint64_t seed = 1;
  int32_t steps = 200;
};

// Runs one session: plug-ins of the DLL at `dllPath` made, driven and closed as the seed
// chooses; every instance is closed at the end, so the DLL is unloaded unless the caller holds
// it. Answers an empty text, or what went wrong with the seed and the last steps. A stalled
// session ends the process with that text on stderr, as does a crash.
std::string RunHostSession(const std::string& dllPath, const TSessionOptions& options);
