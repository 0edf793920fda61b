// The memory manager hands out aligned, separate blocks of every size, takes back its own and the
// C heap's, reuses and gives back empty chunks, stays sound under threads, and never waits for
// a lock whose holder was killed or waits for an exception's processing.
#include "classlib/MemoryManager.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "FailAfter.h"

namespace {

bool Aligned(const void* block) { return (reinterpret_cast<uintptr_t>(block) & 15) == 0; }

}  // namespace

// Every size up to past the small-block limit: the small ones 16-byte aligned, all as large as asked (filled with a pattern
// that the neighbours do not disturb), and all counted back when freed.
TEST(MemoryManager, BlocksOfEverySizeAreAlignedSeparateAndCountedBack) {
  std::vector<std::pair<uint8_t*, size_t>> blocks;
  blocks.reserve(1000);
  const TMemoryManagerState before = GetMemoryManagerState();
  for (size_t size = 0; size <= 4200; size += (size < 300 ? 1 : 7)) {
    auto* block = static_cast<uint8_t*>(GetMem(size));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(!SmallBlocksEnabled() || size > 4096 || Aligned(block)) << size;
    std::memset(block, static_cast<int>(size & 0xFF), size);
    blocks.emplace_back(block, size);
  }
  EXPECT_TRUE(!SmallBlocksEnabled() || GetMemoryManagerState().smallBlocks > before.smallBlocks + 300);
  for (auto [block, size] : blocks) {
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(block[i], static_cast<uint8_t>(size & 0xFF)) << size;
    FreeMem(block);
  }
  EXPECT_EQ(GetMemoryManagerState().smallBlocks, before.smallBlocks);
}

// The global new of the module is the memory manager's: its small blocks are told apart from the
// C heap's, and FreeMem takes either.
TEST(MemoryManager, TellsItsBlocksFromTheCHeaps) {
  char* object = new char[100];
  void* heap = std::malloc(100);
  void* large = GetMem(100000);
  EXPECT_FALSE(FreeSmallBlock(heap));
  EXPECT_FALSE(FreeSmallBlock(large));
  EXPECT_FALSE(FreeSmallBlock(nullptr));
  EXPECT_EQ(FreeSmallBlock(object), SmallBlocksEnabled());
  if (!SmallBlocksEnabled()) delete[] object;
#ifdef _WIN32
  FreeMem(heap);  // handed on to the C heap
#else
  std::free(heap);
#endif
  FreeMem(large);
  FreeMem(nullptr);
}

// Empty chunks are kept for reuse up to 16 MB: a list made, freed and made again takes no new
// chunks, and what is freed beyond the limit goes back to the system.
TEST(MemoryManager, ReusesEmptyChunksAndGivesBackBeyondTheLimit) {
  if (!SmallBlocksEnabled()) GTEST_SKIP() << "the C heap serves every block in this build";
  const auto makeAndFree = [](size_t count, size_t size) {
    std::vector<void*> blocks(count);
    for (auto& block : blocks) block = GetMem(size);
    for (void* block : blocks) FreeMem(block);
  };
  makeAndFree(20000, 200);  // about 4 MB
  const size_t chunks = GetMemoryManagerState().chunks;
  makeAndFree(20000, 200);
  makeAndFree(3000, 1000);  // another class, the same chunks
  EXPECT_EQ(GetMemoryManagerState().chunks, chunks);
  makeAndFree(40000, 1000);  // about 40 MB
  const TMemoryManagerState after = GetMemoryManagerState();
  EXPECT_LE(after.emptyChunks, 256u);
  EXPECT_LT(after.chunks, 300u);
}

// Four threads allocate, fill, check and free blocks of random sizes, half of them freed by
// another thread than the one that made them.
TEST(MemoryManager, ThreadsShareItSoundly) {
  constexpr int kThreads = 4, kRounds = 20000;
  std::vector<std::vector<std::pair<uint8_t*, size_t>>> handed(kThreads);
  std::atomic<int> errors{0};
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  const TMemoryManagerState before = GetMemoryManagerState();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(static_cast<uint32_t>(t + 1));
      std::vector<std::pair<uint8_t*, size_t>> mine;
      for (int i = 0; i < kRounds; ++i) {
        const size_t size = random() % 5000;
        auto* block = static_cast<uint8_t*>(GetMem(size));
        std::memset(block, t + 1, size);
        mine.emplace_back(block, size);
        if (mine.size() > 64) {
          const size_t pick = random() % mine.size();
          auto [old, oldSize] = mine[pick];
          for (size_t k = 0; k < oldSize; ++k)
            if (old[k] != t + 1) {
              ++errors;
              break;
            }
          FreeMem(old);
          mine[pick] = mine.back();
          mine.pop_back();
        }
      }
      handed[t] = std::move(mine);
    });
  }
  for (auto& thread : threads) thread.join();
  threads.clear();
  // Each thread frees what its neighbour kept.
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (auto [block, size] : handed[(t + 1) % kThreads]) {
        if (size > 0 && block[size - 1] != (t + 1) % kThreads + 1) ++errors;
        FreeMem(block);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (auto& list : handed) std::vector<std::pair<uint8_t*, size_t>>().swap(list);
  EXPECT_EQ(errors.load(), 0);
  EXPECT_EQ(GetMemoryManagerState().smallBlocks, before.smallBlocks);
}

#ifdef _WIN32
namespace {

// The test module's entries (MemoryManagerModule.cpp), in a fresh load of it.
struct TModuleEntries {
  HMODULE Module = LoadLibraryA("memorymanagermodule.dll");  // beside this program
  void (*HoldLock)() = Entry<void (*)()>("MemoryManagerModuleHoldLock");
  void (*WaitHoldingLock)(void (*)()) = Entry<void (*)(void (*)())>("MemoryManagerModuleWaitHoldingLock");
  void (*KeepUntilEnd)() = Entry<void (*)()>("MemoryManagerModuleKeepUntilEnd");
  bool (*RoundTrip)() = Entry<bool (*)()>("MemoryManagerModuleRoundTrip");

  template <class T>
  T Entry(const char* name) const {
    return Module != nullptr ? reinterpret_cast<T>(GetProcAddress(Module, name)) : nullptr;
  }
  bool Complete() const { return HoldLock && WaitHoldingLock && KeepUntilEnd && RoundTrip; }
};
TModuleEntries* gEntries = nullptr;
HANDLE gLockTaken = nullptr;

DWORD WINAPI HoldLockUntilKilled(void*) {
  gEntries->HoldLock();
  SetEvent(gLockTaken);
  Sleep(INFINITE);
  return 0;
}

bool gServedByChunks = true;

DWORD WINAPI RoundTripThread(void*) {
  gServedByChunks = gEntries->RoundTrip();
  return 0;
}

// Another thread allocates and frees while the lock's holder waits.
void RoundTripOnAnotherThread() {
  HANDLE thread = CreateThread(nullptr, 0, &RoundTripThread, nullptr, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

}  // namespace

// A thread killed while it holds a module's lock: the module's later calls (as a host's close
// after it killed a busy thread) are served from the C heap, and the unload returns, although a
// finaliser that frees runs before the module's end is marked. A holder that waits for an
// exception's processing is not waited for either, and its lock works again once given back.
TEST(MemoryManager, NoCallWaitsForALockWhoseHolderWasKilledOrWaits) {
  {
    TModuleEntries entries;
    ASSERT_TRUE(entries.Complete());
    gEntries = &entries;
    const TFailAfter bound(20000, "a call waits for ever on a lock whose holder waits for the processing");
    entries.WaitHoldingLock(&RoundTripOnAnotherThread);
    EXPECT_FALSE(gServedByChunks);
    EXPECT_TRUE(entries.RoundTrip());
    EXPECT_TRUE(FreeLibrary(entries.Module));
  }
  TModuleEntries entries;
  ASSERT_TRUE(entries.Complete());
  gEntries = &entries;
  entries.KeepUntilEnd();
  gLockTaken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE holder = CreateThread(nullptr, 0, &HoldLockUntilKilled, nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(gLockTaken, 10000), WAIT_OBJECT_0);
  TerminateThread(holder, 1);
  WaitForSingleObject(holder, 10000);
  {
    const TFailAfter bound(20000, "a call or the unload waits for ever on a lock whose holder died");
    EXPECT_FALSE(entries.RoundTrip());
    EXPECT_TRUE(FreeLibrary(entries.Module));
  }
  for (HANDLE handle : {holder, gLockTaken}) CloseHandle(handle);
  gEntries = nullptr;
}

// The child half: a thread holds the module's lock when the process exits (the exit ends it),
// and the module's finaliser frees.
TEST(MemoryManager, ExitChild) {
  if (std::getenv("KBL_MEMORY_CHILD") == nullptr) GTEST_SKIP() << "the child half of a test";
  TModuleEntries entries;
  ASSERT_TRUE(entries.Complete());
  gEntries = &entries;
  entries.KeepUntilEnd();
  gLockTaken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  CreateThread(nullptr, 0, &HoldLockUntilKilled, nullptr, 0, nullptr);
  WaitForSingleObject(gLockTaken, 10000);
  ExitProcess(7);
}

// A process whose thread held the module's lock exits: the module's finalisers do not wait for
// the lock of a thread the exit ended.
TEST(MemoryManager, AProcessExitsWhileAThreadHoldsAModulesLock) {
  const TChildRun run = RunChildProcess("--gtest_filter=MemoryManager.ExitChild", {{"KBL_MEMORY_CHILD", "1"}}, 20000);
  ASSERT_TRUE(run.Started);
  EXPECT_TRUE(run.Ended) << "the exit waits for the lock";
  EXPECT_EQ(run.ExitCode, 7u);
}
#endif
