// The leak tracker over its own operations: frees checked for writes past the end and second
// frees (reported, never passed to the heap twice), blocks from before tracking passed on, and
// (under Wine, where the call sites can be read) leaks grouped by place and size and cut at
// 1025.
#include "exceptions/capture/ELeaks.h"

#include <gtest/gtest.h>

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
