// Randomised host sessions with the real DLL (see HostSession.cpp), a few seeds in every run.
// A longer run: KBL_HOST_SESSION_SECONDS=S runs sessions of consecutive seeds for S seconds,
// starting at KBL_HOST_SESSION_SEED (default 1), KBL_HOST_SESSION_STEPS steps each (default
// 300); KBL_HOST_SESSION_SEED alone reruns that one seed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "HostFiles.h"
#include "plugin/HostSession.h"
#include "plugin/ProcessCounts.h"

namespace {

uint64_t EnvironmentNumber(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

}  // namespace

TEST(HostSession, RandomSessionsNeitherCrashNorStallNorChangeTheHostOrTheAudio) {
  const uint64_t seconds = EnvironmentNumber("KBL_HOST_SESSION_SECONDS", 0);
  const bool oneSeed = std::getenv("KBL_HOST_SESSION_SEED") && !seconds;
  uint64_t seed = EnvironmentNumber("KBL_HOST_SESSION_SEED", 1);
  const int32_t steps = static_cast<int32_t>(EnvironmentNumber("KBL_HOST_SESSION_STEPS", seconds ? 300 : 120));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int32_t sessions = 0;
  do {
    const std::string failure = RunHostSession(ProductDllPath(), {seed, steps});
    ASSERT_EQ(failure, "") << "rerun with KBL_HOST_SESSION_SEED=" << seed << " KBL_HOST_SESSION_STEPS=" << steps;
    ++seed;
    ++sessions;
  } while (seconds ? std::chrono::steady_clock::now() < end : !oneSeed && sessions < 3);
  std::printf("%d sessions passed\n", sessions);
}

// Sessions end with every plug-in closed and the DLL unloaded: what the process holds afterwards
// does not grow from one session to the next.
TEST(HostSession, SessionsLeaveTheProcessCountsFlat) {
  ASSERT_EQ(RunHostSession(ProductDllPath(), {1000, 60}), "");
  const TProcessCounts before = TProcessCounts::Now();
  for (uint64_t seed = 1001; seed <= 1004; ++seed) ASSERT_EQ(RunHostSession(ProductDllPath(), {seed, 60}), "");
  const TProcessCounts after = TProcessCounts::Now();
  EXPECT_LE(after.gdi, before.gdi);
  EXPECT_LE(after.user, before.user);
  EXPECT_EQ(after.windows, before.windows);
  EXPECT_EQ(after.threads, before.threads);
  std::printf("memory %.1f MB -> %.1f MB, GDI objects %u -> %u\n", before.memory / 1048576, after.memory / 1048576,
              before.gdi, after.gdi);
  EXPECT_LT(after.memory - before.memory, 8.0 * 1024 * 1024);
}

