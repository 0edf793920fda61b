// The memory manager hands out aligned, separate blocks of every size, takes back its own and the
// C heap's, reuses and gives back empty chunks, stays sound under threads, and never waits for
// ever for a lock whose holder will not give it back.
#include "classlib/MemoryManager.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <atomic>
#include <csetjmp>
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
  void (*RunHoldingLock)(void (*)()) = Entry<void (*)(void (*)())>("MemoryManagerModuleRunHoldingLock");
  void (*WaitHoldingLock)(void (*)()) = Entry<void (*)(void (*)())>("MemoryManagerModuleWaitHoldingLock");
  void (*KeepUntilEnd)() = Entry<void (*)()>("MemoryManagerModuleKeepUntilEnd");
  bool (*RoundTrip)() = Entry<bool (*)()>("MemoryManagerModuleRoundTrip");
  void* (*Get)(unsigned) = Entry<void* (*)(unsigned)>("MemoryManagerModuleGetMem");
  void (*Free)(void*) = Entry<void (*)(void*)>("MemoryManagerModuleFreeMem");

  template <class T>
  T Entry(const char* name) const {
    return Module != nullptr ? reinterpret_cast<T>(GetProcAddress(Module, name)) : nullptr;
  }
  bool Complete() const {
    return HoldLock && RunHoldingLock && WaitHoldingLock && KeepUntilEnd && RoundTrip && Get && Free;
  }
};
TModuleEntries* gEntries = nullptr;
HANDLE gLockTaken = nullptr;
HANDLE gGoOn = nullptr;  // lets a holder thread that left the module end

// How a host's thread keeps the module's lock.
enum class THold {
  KilledInside,      // killed while inside the code that holds it
  KilledIdReused,    // the same, and a new thread of the process has the dead one's id
  LeftByUnwind,      // a handler outside unwound past the code (a crash the host survives)
  LeftWithoutTrace,  // the lock word names it, but it runs elsewhere
  SuspendedInside,   // kept suspended inside the code
  RunningInside,     // inside the code, never coming out (only the unload is bounded)
};

DWORD WINAPI HoldUntilKilled(void*) {
  gEntries->RunHoldingLock([] {
    SetEvent(gLockTaken);
    Sleep(INFINITE);
  });
  return 0;
}

std::jmp_buf gOutside;

DWORD WINAPI HoldAndLeave(void* how) {
  if (static_cast<THold>(reinterpret_cast<uintptr_t>(how)) == THold::LeftWithoutTrace) {
    gEntries->HoldLock();
  } else if (setjmp(gOutside) == 0) {
    // The runtime's longjmp unwinds the system's way, past the module's frames without running
    // their destructors, as a host's handler that catches a crash does.
    gEntries->RunHoldingLock([] { std::longjmp(gOutside, 1); });
  }
  SetEvent(gLockTaken);
  WaitForSingleObject(gGoOn, INFINITE);
  return 0;
}

DWORD WINAPI KeepIfItHasTheId(void* id) {
  if (GetCurrentThreadId() == static_cast<DWORD>(reinterpret_cast<uintptr_t>(id)))
    WaitForSingleObject(gGoOn, INFINITE);
  return 0;
}

// Makes threads until one has the id `id` (an ended thread's), and answers it; it lives until
// gGoOn is set.
HANDLE ThreadWithId(DWORD id) {
  for (int tries = 0; tries < 20000; ++tries) {
    DWORD made = 0;
    HANDLE thread = CreateThread(nullptr, 0, &KeepIfItHasTheId, reinterpret_cast<void*>(uintptr_t{id}), 0, &made);
    if (made == id) return thread;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  return nullptr;
}

// A thread of this program that holds the module's lock as `how` says; answers the threads to
// end afterwards.
std::vector<HANDLE> StartHolder(THold how) {
  DWORD id = 0;
  HANDLE holder = nullptr;
  switch (how) {
    case THold::KilledInside:
    case THold::KilledIdReused:
    case THold::SuspendedInside:
    case THold::RunningInside:
      holder = CreateThread(nullptr, 0, &HoldUntilKilled, nullptr, 0, &id);
      break;
    case THold::LeftByUnwind:
    case THold::LeftWithoutTrace:
      holder = CreateThread(nullptr, 0, &HoldAndLeave, reinterpret_cast<void*>(how), 0, &id);
      break;
  }
  EXPECT_EQ(WaitForSingleObject(gLockTaken, 10000), WAIT_OBJECT_0);
  if (how == THold::SuspendedInside) SuspendThread(holder);
  if (how != THold::KilledInside && how != THold::KilledIdReused) return {holder};
  TerminateThread(holder, 1);
  WaitForSingleObject(holder, INFINITE);
  CloseHandle(holder);  // the id goes back to the system with the last handle
  if (how == THold::KilledInside) return {};
  HANDLE heir = ThreadWithId(id);
  EXPECT_NE(heir, nullptr) << "no new thread took the id";
  return {heir};
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

bool Reserved(const void* address) {
  MEMORY_BASIC_INFORMATION info{};
  return VirtualQuery(address, &info, sizeof info) == sizeof info && info.State != MEM_FREE;
}

}  // namespace

// A host's thread keeps the lock of a module (a plug-in's memory manager) in every way it can.
// The module's later calls (as a host's close) return, served from the C heap while the holder
// is away, and the unload returns, although a finaliser that frees runs first. When the holder
// will never give the lock back, the chunks are given up, and those whose blocks were all freed
// go back to the system at the unload. A holder that waits for an exception's processing is not
// waited for, also after a nested wait of its own ended, and its lock works again once given back.
TEST(MemoryManager, NoCallWaitsForALockWhoseHolderWillNotGiveItBack) {
  gLockTaken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gGoOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
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
  struct TCase {
    THold How;
    const char* Name;
    bool Calls;      // the module is called while the lock is held (not when the holder never leaves)
    bool GivesBack;  // the chunks are given up, and the empty ones go back at the unload
  };
  const TCase cases[] = {{THold::KilledInside, "killed inside", true, true},
                         {THold::KilledIdReused, "killed, its id taken by a new thread", true, true},
                         {THold::LeftByUnwind, "left by an unwind", true, true},
                         {THold::LeftWithoutTrace, "left without a trace", true, true},
                         {THold::SuspendedInside, "suspended inside", true, false},
                         {THold::RunningInside, "inside, never leaving", false, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TModuleEntries entries;
    ASSERT_TRUE(entries.Complete());
    gEntries = &entries;
    entries.KeepUntilEnd();
    void* block = entries.Get(200);  // the only block of its chunk
    ResetEvent(gGoOn);
    const std::vector<HANDLE> threads = StartHolder(c.How);
    {
      const TFailAfter bound(20000, "a call or the unload waits for ever for a lock's holder");
      if (c.Calls) {
        EXPECT_FALSE(entries.RoundTrip());
        entries.Free(block);
      }
      EXPECT_TRUE(FreeLibrary(entries.Module));
    }
    EXPECT_EQ(Reserved(block), !c.GivesBack);
    SetEvent(gGoOn);
    for (HANDLE thread : threads) {
      // A thread still inside the unloaded module's code cannot go on.
      if (c.How == THold::SuspendedInside || c.How == THold::RunningInside) TerminateThread(thread, 1);
      WaitForSingleObject(thread, 10000);
      CloseHandle(thread);
    }
  }
  for (HANDLE handle : {gLockTaken, gGoOn}) CloseHandle(handle);
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
  CreateThread(nullptr, 0, &HoldUntilKilled, nullptr, 0, nullptr);
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
