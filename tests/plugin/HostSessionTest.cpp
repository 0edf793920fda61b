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
#include "tools/vsthost/VstHost.h"

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


namespace {

// Allocated blocks on the process's heaps (the module's runtime allocates from them too).
int64_t HeapBlocks() {
  int64_t blocks = 0;
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  for (DWORD i = 0; i < count && i < 64; ++i) {
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry))
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++blocks;
  }
  return blocks;
}

// Committed allocations of exactly 64 KB: the module's memory manager takes its chunks so, and a
// block the module leaves allocated at unload keeps its whole chunk.
int32_t ChunkSizedAllocations() {
  int32_t count = 0;
  MEMORY_BASIC_INFORMATION info{};
  for (uintptr_t at = 0x10000; at < 0x7FFF0000u && VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info);
       at = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize)
    count += info.State == MEM_COMMIT && info.Type == MEM_PRIVATE && info.BaseAddress == info.AllocationBase &&
             info.RegionSize == 0x10000;
  return count;
}

}  // namespace

// A host that loads and unloads the DLL again and again (scanning, reopening projects) gets its
// memory back: what the module registered (its classes, about 250 blocks) goes with it, and no
// chunk of its memory manager stays. A few blocks a load remain with the system and the runtime's
// per-thread data.
TEST(HostSession, LoadingAndUnloadingTheDllLeavesFewHeapBlocksBehind) {
  const auto cycle = [] {
    TVstHost host(ProductDllPath());
    host.Start(44100, 512);
  };
  for (int i = 0; i < 3; ++i) cycle();
  const int64_t before = HeapBlocks();
  const int32_t chunks = ChunkSizedAllocations();
  for (int i = 0; i < 10; ++i) cycle();
  const int64_t grown = HeapBlocks() - before;
  std::printf("%lld heap blocks a load, %d chunks more after 10 loads\n", static_cast<long long>(grown / 10),
              ChunkSizedAllocations() - chunks);
  EXPECT_LT(grown, 10 * 64);
  EXPECT_LT(ChunkSizedAllocations() - chunks, 5);
}
