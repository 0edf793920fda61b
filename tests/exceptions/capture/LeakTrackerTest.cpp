// The leak tracker over its own operations: frees checked for writes past the end and second
// frees (reported, never passed to the heap twice), blocks from before tracking passed on, and
// (under Wine, where the call sites can be read) leaks grouped by place and size and cut at
// 1025; the report's page cache; a report whose blocks are gone says so.
#include "exceptions/capture/ELeaks.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstring>
#include <vector>

namespace {

struct TSeen {
  int32_t Overruns = 0;
  int32_t MultiFrees = 0;
  std::vector<uint32_t> LeakSizes;
  std::vector<uint32_t> LeakCounts;
};
TSeen* gSeen = nullptr;

class LeakTrackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gSeen = &seen_;
    TLeakHandlers handlers;
    handlers.OnOverrun = [] { ++gSeen->Overruns; };
    handlers.OnMultiFree = [] { ++gSeen->MultiFrees; };
    handlers.OnLeak = [](const std::string&, uint32_t size, uint32_t count, const uint32_t*) {
      gSeen->LeakSizes.push_back(size);
      gSeen->LeakCounts.push_back(count);
    };
    SetLeakHandlers(handlers);
  }
  void TearDown() override {
    StopLeakTracking();
    SetLeakHandlers(TLeakHandlers());
    gSeen = nullptr;
  }
  TSeen seen_;
};

__attribute__((noinline)) void* AllocateHere(size_t size) { return LeakAllocate(size, false); }

TEST_F(LeakTrackerTest, FreesAreCheckedForOverrunsAndSecondFrees) {
  void* before = LeakAllocate(32, false);  // not tracked yet
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn | LeakCheckFrees));
  struct TCase {
    size_t Size;
    bool WritePastEnd;
    bool FreeTwice;
    int32_t Overruns, MultiFrees;
  };
  const TCase cases[] = {{16, false, false, 0, 0}, {24, true, false, 1, 0}, {8, false, true, 0, 1}, {40, true, true, 1, 1}};
  for (const TCase& c : cases) {
    seen_ = TSeen();
    auto* block = static_cast<uint8_t*>(LeakAllocate(c.Size, false));
    ASSERT_NE(block, nullptr);
    std::memset(block, 0x11, c.Size);
    if (c.WritePastEnd) block[c.Size] = 0x55;
    LeakFree(block);
    if (c.FreeTwice) LeakFree(block);
    EXPECT_EQ(seen_.Overruns, c.Overruns) << c.Size;
    EXPECT_EQ(seen_.MultiFrees, c.MultiFrees) << c.Size;
  }
  seen_ = TSeen();
  LeakFree(before);  // passed to the heap unchecked
  EXPECT_EQ(seen_.Overruns + seen_.MultiFrees, 0);
  // Without the check flag a write past the end goes unreported.
  StopLeakTracking();
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  auto* block = static_cast<uint8_t*>(LeakAllocate(8, false));
  block[8] = 0x55;
  LeakFree(block);
  EXPECT_EQ(seen_.Overruns, 0);
}

// Memory readable in [Start, End), counting the questions asked of it.
struct TFakeMemory : TEmberMemory {
  uint32_t Start = 0, End = 0;
  mutable int32_t Asked = 0;
  bool IsReadable(uint32_t address, uint32_t size) const override {
    ++Asked;
    return address >= Start && uint64_t{address} + size <= End;
  }
  bool Read(uint32_t address, void* buffer, uint32_t size) const override {
    if (!IsReadable(address, size)) return false;
    std::memset(buffer, 0xAB, size);
    return true;
  }
};

TEST(MemoryPagesCacheTest, EachPageIsAskedOnceAndRangesAcrossPagesEveryTime) {
  TFakeMemory base;
  base.Start = 0x10000;
  base.End = 0x11000;
  TMemoryPagesCache cache(base);
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(cache.IsReadable(0x10010 + i * 8, 8));
    EXPECT_FALSE(cache.IsReadable(0x20000, 4));
  }
  EXPECT_EQ(base.Asked, 2);
  EXPECT_FALSE(cache.IsReadable(0x10FFE, 4));  // into the next page, which is not readable
  EXPECT_TRUE(cache.IsReadable(0x10000, 0x1000));  // the whole page, known already
  EXPECT_EQ(base.Asked, 3);
  uint32_t word = 0;
  EXPECT_TRUE(cache.Read(0x10100, &word, 4));
  EXPECT_EQ(word, 0xABABABABu);
  EXPECT_FALSE(cache.Read(0x20000, &word, 4));
#ifdef _WIN32
  // The process's own pages: one given back is not readable, one in use is read as it is.
  TMemoryPagesCache process(EmberProcessMemory());
  auto* freed = static_cast<uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(freed, nullptr);
  VirtualFree(freed, 0, MEM_RELEASE);
  const uint32_t live = 0x12345678;
  EXPECT_FALSE(process.IsReadable(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(freed)), 4));
  EXPECT_TRUE(process.Read(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&live)), &word, 4));
  EXPECT_EQ(word, live);
#endif
}

TEST_F(LeakTrackerTest, BlocksAnotherManagerFreedAreNotShownAndTheUserIsToldWhenAsked) {
  TFakeMemory nothing;  // the tracked blocks can no longer be read
  SetEmberMemory(&nothing);
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  void* block = AllocateHere(24);
#ifdef _WIN32
  StopLeakTracking();  // the warning is shown only when the application asked for leaks
#else
  ReportMemoryLeaksOnShutdown = true;
  testing::internal::CaptureStderr();
  StopLeakTracking();
  const std::string said = testing::internal::GetCapturedStderr();
  ReportMemoryLeaksOnShutdown = false;
  EXPECT_NE(said.find("The application contains some memory leaks but it's impossible to show them because "
                      "another Memory Manager has already freed them."),
            std::string::npos);
#endif
  SetEmberMemory(nullptr);
  EXPECT_TRUE(seen_.LeakSizes.empty());
  LeakFree(block);
}

#ifdef _WIN32
TEST_F(LeakTrackerTest, LeaksFromOnePlaceAreGroupedAndAtMost1025AreReported) {
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  for (int32_t i = 0; i < 200; ++i) AllocateHere(24);
  StopLeakTracking();
  ASSERT_EQ(seen_.LeakSizes.size(), 1u);
  EXPECT_EQ(seen_.LeakSizes[0], 200u * 24u);
  EXPECT_EQ(seen_.LeakCounts[0], 200u);

  seen_ = TSeen();
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  for (size_t size = 1; size <= 2000; ++size) AllocateHere(size);
  StopLeakTracking();
  EXPECT_EQ(seen_.LeakSizes.size(), static_cast<size_t>(MaxReportedLeaks));
  EXPECT_EQ(seen_.LeakSizes.front(), 1u);  // the oldest first
}
#endif

}  // namespace
