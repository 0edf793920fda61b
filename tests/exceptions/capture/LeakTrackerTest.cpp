// The leak tracker over its own operations: frees checked for writes past the end and second
// frees (reported, never passed to the heap twice), blocks from before tracking passed on, the
// tracker's last call, and (under Wine, where the call sites can be read) leaks grouped by place
// and size and cut at 1025, the blocks a leaked form leaves hidden by its ancestry, and the
// blocks made inside an object's construction folded into it by raw or frame stack; the report's
// page cache; a report whose blocks are gone says so. Under Wine also: the program's new (the
// tracker's, as in every module with the exception library) is served by the class library's
// small blocks, tracked or not; no thread waits for the list lock while its holder waits for a
// fault's handler, nor once its holder is gone. A run stopped while the list was out of reach
// leaves nothing to a later run. No thread waits for either lock (the memory manager's, the
// list's) while the central notification processes an exception raised under it, also after a
// nested entry on the faulting thread, nor while the host's handler has the fault afterwards; nor
// for ever after a waiter was stopped while the list lock's holder was suspended for its look,
// which leaves the holder suspended for a moment only.
#include "exceptions/capture/ELeaks.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "Emulation.h"
#include "FailAfter.h"
#include "HostSehFrame.h"
#include "ThreadSuspension.h"
#include "classlib/MemoryManager.h"
#include "exceptions/capture/ExceptionLog.h"

namespace {

struct TSeen {
  int32_t Overruns = 0;
  int32_t MultiFrees = 0;
  std::vector<uint32_t> LeakSizes;
  std::vector<uint32_t> LeakCounts;
  std::vector<std::string> LeakTypes;
};
TSeen* gSeen = nullptr;

class LeakTrackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gSeen = &seen_;
    TLeakHandlers handlers;
    handlers.OnOverrun = [] { ++gSeen->Overruns; };
    handlers.OnMultiFree = [] { ++gSeen->MultiFrees; };
    handlers.OnLeak = [](const std::string& type, uint32_t size, uint32_t count, const uint32_t*) {
      gSeen->LeakSizes.push_back(size);
      gSeen->LeakCounts.push_back(count);
      gSeen->LeakTypes.push_back(type);
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

std::vector<std::string>* gCalls = nullptr;

TEST_F(LeakTrackerTest, FinishIsTheTrackersLastCallWhetherTrackingWasOnOrNot) {
  std::vector<std::string> calls;
  gCalls = &calls;
  TLeakHandlers handlers;
  handlers.OnLeaksBegin = [] { gCalls->push_back("begin"); };
  handlers.OnLeak = [](const std::string&, uint32_t, uint32_t, const uint32_t*) { gCalls->push_back("leak"); };
  handlers.OnLeaksEnd = [] { gCalls->push_back("end"); };
  handlers.OnFinish = [] { gCalls->push_back("finish"); };
  SetLeakHandlers(handlers);
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  void* block = AllocateHere(24);
  StopLeakTracking();
  LeakFree(block);
#ifdef _WIN32
  EXPECT_EQ(calls, (std::vector<std::string>{"begin", "leak", "end", "finish"}));
#else
  // Natively the call sites cannot be read: nothing is reported, the tracker still finishes.
  EXPECT_EQ(calls, (std::vector<std::string>{"finish"}));
#endif
  calls.clear();
  StopLeakTracking();
  EXPECT_EQ(calls, (std::vector<std::string>{"finish"}));
  SetLeakHandlers(TLeakHandlers());
  gCalls = nullptr;
}

// A run stopped while the list is out of reach (here on the thread that holds its lock, as a
// fault's handler under it does) cannot empty the list; the blocks it leaves are not counted or
// reported by the next run, and one freed while out of reach is given back when the list is cut.
TEST_F(LeakTrackerTest, ARunStoppedWhileTheListIsOutOfReachLeavesNothingToTheNext) {
  const size_t smallBlocks = GetMemoryManagerState().smallBlocks;
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  static void* left[4];
  for (void*& block : left) block = AllocateHere(40);
  EXPECT_TRUE(ember_detail::RunHoldingLeakListLock(
      [](void*) {
        LeakFree(left[3]);
        StopLeakTracking();
      },
      nullptr));
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  void* block = AllocateHere(24);
  EXPECT_EQ(TrackedBlockCount(), 1);
  for (void* old : {left[0], left[1], left[2]}) LeakFree(old);  // cut from the list, still freed as tracked blocks
  LeakFree(block);
  EXPECT_EQ(TrackedBlockCount(), 0);
  StopLeakTracking();
  EXPECT_EQ(GetMemoryManagerState().smallBlocks, smallBlocks);
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

// Classes of the shapes the report knows: a form of the class library is a TForm or descends
// from one, whatever its own name; a class may have "Form" in its name and be none.
struct TForm {
  virtual ~TForm() = default;
};
struct TCustomToolWindow : TForm {};
struct TSettingsDialog : TCustomToolWindow {};
struct TFormatter {
  virtual ~TFormatter() = default;
};
struct TStreamable {
  virtual ~TStreamable() = default;
};
struct TPresetsDialog : TStreamable, TCustomToolWindow {};

__attribute__((noinline)) void* AllocateObjectHere(size_t size) { return LeakAllocate(size, true); }

template <typename T>
void LeakObjectAndFormBlocks() {
  new (AllocateObjectHere(sizeof(T))) T();
  for (size_t size : {60u, 32u, 32u, 64u, 48u}) AllocateHere(size);
}

TEST_F(LeakTrackerTest, ALeakedFormIsKnownByItsAncestryAndHidesTheBlocksItLeaves) {
  struct TCase {
    void (*Leak)();
    const char* Type;
    size_t DataLeaks;  // the 60, 32 (twice, one leak), 64 and 48 byte blocks, less those hidden
  };
  const TCase cases[] = {{&LeakObjectAndFormBlocks<TSettingsDialog>, "TSettingsDialog", 1},
                         {&LeakObjectAndFormBlocks<TPresetsDialog>, "TPresetsDialog", 1},
                         {&LeakObjectAndFormBlocks<TForm>, "TForm", 1},
                         {&LeakObjectAndFormBlocks<TFormatter>, "TFormatter", 4}};
  for (const TCase& c : cases) {
    seen_ = TSeen();
    ASSERT_TRUE(StartLeakTracking(LeakTrackingOn | LeakHideKnown));
    c.Leak();
    StopLeakTracking();
    EXPECT_EQ(std::count(seen_.LeakTypes.begin(), seen_.LeakTypes.end(), std::string(c.Type)), 1) << c.Type;
    EXPECT_EQ(static_cast<size_t>(std::count(seen_.LeakTypes.begin(), seen_.LeakTypes.end(), std::string("Data"))),
              c.DataLeaks)
        << c.Type;
  }
}

// Addresses that follow a call instruction, as return addresses on a stack do.
__attribute__((noinline, noipa)) uint32_t ReturnAddress() {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}

uint32_t Address32(const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }

// A stretch of this thread's stack that the tracker reads as an allocating caller's: `raw` are
// the words from the caller's stack pointer on, `frames` the return addresses of its frame chain.
struct TFakeCallerStack {
  uint32_t Words[80] = {};
  uintptr_t Prepare(std::initializer_list<uint32_t> raw, std::initializer_list<uint32_t> frames) {
    std::fill(std::begin(Words), std::end(Words), 0u);
    int32_t at = 8;
    for (uint32_t word : raw) Words[at++] = word;
    // The chain starts two words below the stack pointer and continues past the raw words.
    int32_t link = 6;
    int32_t next = 48;
    for (uint32_t frame : frames) {
      Words[link] = Address32(&Words[next]);
      Words[link + 1] = frame;
      link = next;
      next += 2;
    }
    return reinterpret_cast<uintptr_t>(&Words[8]);
  }
};

struct TPanel {
  virtual ~TPanel() = default;
};

TEST_F(LeakTrackerTest, BlocksMadeInsideAnObjectsConstructionAreFoldedByRawOrFrameStack) {
  const uint32_t a = ReturnAddress(), b = ReturnAddress(), c = ReturnAddress(), d = ReturnAddress();
  const uint32_t e = ReturnAddress(), f1 = ReturnAddress(), f2 = ReturnAddress(), g = ReturnAddress();
  const uint32_t h = ReturnAddress();
  for (bool fold : {true, false}) {
    seen_ = TSeen();
    TFakeCallerStack stack;
    ASSERT_TRUE(StartLeakTracking(LeakTrackingOn | (fold ? LeakFoldIntoObjects : 0)));
    // The object, then a block whose raw stack shows the object's call site, one whose frame
    // chain alone does, and one that belongs to neither.
    new (LeakAllocate(100, true, a, stack.Prepare({b}, {f1, f2}))) TPanel();
    LeakAllocate(10, false, c, stack.Prepare({a, b}, {g}));
    LeakAllocate(20, false, d, stack.Prepare({e}, {g, f1, f2}));
    LeakAllocate(40, false, h, stack.Prepare({e}, {g, f2, f1}));
    StopLeakTracking();
    const std::vector<uint32_t> expected =
        fold ? std::vector<uint32_t>{130, 40} : std::vector<uint32_t>{100, 10, 20, 40};
    EXPECT_EQ(seen_.LeakSizes, expected) << (fold ? "folded" : "apart");
    ASSERT_FALSE(seen_.LeakTypes.empty());
    EXPECT_EQ(seen_.LeakTypes.front(), "TPanel");
  }
}

// A word of the caller's stack taken for a frame link may point anywhere, up to the end of the
// address space: the chain ends there instead of reading past the stack's top.
TEST_F(LeakTrackerTest, AFrameLinkPastTheStacksTopEndsTheFrameChain) {
  const uint32_t f = ReturnAddress();
  TFakeCallerStack stack;
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  const uintptr_t caller = stack.Prepare({}, {f});
  stack.Words[48] = 0xFFFFFFFCu;  // the link of the last frame
  void* block = LeakAllocate(8, false, f, caller);
  EXPECT_EQ((static_cast<TLeakHeader*>(block) - 1)->FrameStack[0], f);
  EXPECT_EQ((static_cast<TLeakHeader*>(block) - 1)->FrameStack[2], 0u);
  LeakFree(block);
}

// A block the compiler must make: one that only lives between its new and delete may be left out.
char* Kept(char* block) {
  asm volatile("" : : "g"(block) : "memory");
  return block;
}

// The program's new and delete are the tracker's: small blocks come from the class library's
// chunks with tracking off and on (a tracked one with its header), and each is freed by whoever
// made it across the switch.
TEST_F(LeakTrackerTest, NewIsServedByTheSmallBlocksTrackedOrNotAndFreedAcrossTheSwitch) {
  const auto live = [] { return GetMemoryManagerState().smallBlocks; };
  const size_t base = live();
  EXPECT_TRUE(FreeSmallBlock(Kept(new char[16])));
  char* before = Kept(new char[40]);
  EXPECT_EQ(live(), base + 1);
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn | LeakCheckFrees));
  char* during = Kept(new char[40]);
  EXPECT_EQ(live(), base + 2);
  EXPECT_EQ(TrackedBlockCount(), 1);
  std::memset(during, 0x33, 40);
  delete[] before;
  EXPECT_EQ(live(), base + 1);
  StopLeakTracking();  // reports the block as a leak, into blocks of its handler
  const size_t stopped = live();
  char* after = Kept(new char[40]);
  EXPECT_EQ(live(), stopped + 1);
  delete[] during;
  delete[] after;
  EXPECT_EQ(live(), stopped - 1);
  EXPECT_EQ(seen_.Overruns + seen_.MultiFrees, 0);
}

// The memory manager's live small blocks before, while and after the fault handler held a block.
size_t gFaultBlocks[3] = {};
uint8_t* gGuardPage = nullptr;
void* gMadeBefore = nullptr;  // a tracked block made before the fault, freed by the handler

// Allocates and frees as a fault's handler does on the faulting thread, then lets the faulting
// write go to the page.
LONG CALLBACK AllocateInFault(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD& record = *info->ExceptionRecord;
  const auto* at = reinterpret_cast<const uint8_t*>(record.ExceptionInformation[1]);
  if (record.ExceptionCode != EXCEPTION_ACCESS_VIOLATION || at < gGuardPage || at >= gGuardPage + 4096)
    return EXCEPTION_CONTINUE_SEARCH;
  gFaultBlocks[0] = GetMemoryManagerState().smallBlocks;
  char* block = Kept(new char[24]);
  gFaultBlocks[1] = GetMemoryManagerState().smallBlocks;
  delete[] block;
  gFaultBlocks[2] = GetMemoryManagerState().smallBlocks;
  LeakFree(gMadeBefore);
  DWORD old = 0;
  VirtualProtect(gGuardPage, 4096, PAGE_READWRITE, &old);
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Three tracked blocks, the middle one's link pointed at the guard page: freeing it faults
// inside the unlink, with the list lock held.
struct TSmashedList {
  void* Blocks[3] = {AllocateHere(16), AllocateHere(16), AllocateHere(16)};
  TLeakHeader* Smashed = static_cast<TLeakHeader*>(Blocks[1]) - 1;
  TLeakHeader* Older = Smashed->Older;
  TLeakHeader* Newer = Smashed->Newer;
  TSmashedList() { Smashed->Older = reinterpret_cast<TLeakHeader*>(gGuardPage); }
  // The neighbours' links as the unlink would have left them.
  void Mend() const {
    Older->Newer = Newer;
    Newer->Older = Older;
  }
};

// An overrun smashed a tracked block's link: freeing it faults while the list lock is held. The
// handler's new and delete on the faulting thread are served untracked, at once, by the memory
// manager; a block tracked before the fault that it frees stays in the list, marked freed; the
// handler lets the unlink go on, and the list works on.
TEST_F(LeakTrackerTest, NoThreadWaitsForTheListLockWhileItsHolderWaitsForAFaultsHandler) {
  gGuardPage = static_cast<uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS));
  void* handler = AddVectoredExceptionHandler(1, &AllocateInFault);
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  gMadeBefore = AllocateHere(16);
  const TSmashedList list;
  const int32_t tracked = TrackedBlockCount();
  {
    const TFailAfter bound(MachineBound(20000),
                           "a fault's handler waits on the leak list's lock that the faulting thread holds");
    LeakFree(list.Blocks[1]);
  }
  list.Mend();
  EXPECT_EQ(TrackedBlockCount(), tracked - 2);
  LeakFree(list.Blocks[0]);
  LeakFree(list.Blocks[2]);
  EXPECT_EQ(gFaultBlocks[1], gFaultBlocks[0] + 1);
  EXPECT_EQ(gFaultBlocks[2], gFaultBlocks[0]);
  RemoveVectoredExceptionHandler(handler);
  VirtualFree(gGuardPage, 0, MEM_RELEASE);
}

DWORD WINAPI HoldListAndGoOn(void* taken) {
  ember_detail::HoldLeakListLock();
  SetEvent(taken);
  Sleep(INFINITE);
  return 0;
}

// A thread holds the list lock and goes on elsewhere without giving it back (as after a crash
// inside the tracker that the host's handler caught): the list is given up for good, tracking
// ends, and allocating, freeing, counting and the report all return. A holder killed inside is
// found gone the same way (see the memory manager's tests). Last of the tests: the tracker stays
// given up for the rest of the program.
TEST_F(LeakTrackerTest, ZzTheListIsGivenUpWhenItsLocksHolderIsGone) {
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  void* madeBefore = AllocateHere(16);
  HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE holder = CreateThread(nullptr, 0, &HoldListAndGoOn, taken, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(taken, MachineBound(10000)), WAIT_OBJECT_0);
  {
    const TFailAfter bound(MachineBound(20000), "the leak tracker waits for ever on a list lock whose holder is gone");
    void* after = AllocateHere(16);
    LeakFree(madeBefore);
    LeakFree(after);
    EXPECT_EQ(TrackedBlockCount(), -1);
    EXPECT_TRUE(LeakListAbandoned());
    EXPECT_FALSE(IsLeakTracking());
    StopLeakTracking();
    EXPECT_FALSE(StartLeakTracking(LeakTrackingOn));
  }
  TerminateThread(holder, 1);
  for (HANDLE handle : {holder, taken}) CloseHandle(handle);
}

// --- An exception processed while its thread holds a lock (in child processes: the lock is
// given up for the rest of the program)

// The ways an exception comes to the central notification under a lock.
enum class TUnderLock {
  MemoryRaise,        // handed over inside the memory manager's lock
  MemoryNestedRaise,  // the same, and an event on the faulting thread hands over a caught one
  ListRaise,          // the same inside the leak list's lock
  ListNestedRaise,
  MemoryFaultToHost,  // a real fault inside the memory manager's lock, after which the host's
                      // structured handler runs and needs another thread to allocate
};

std::runtime_error gInner("inner");
bool gNested = false;
bool gNestedAnswer = true;
int32_t gProcessed = 0;
void* gTrackedBefore = nullptr;
uint8_t* gNoAccess = nullptr;
bool gOtherServed = false;

// The processing: an event on the faulting thread may hand over a caught exception (a nested
// entry), then the work goes on, allocating and freeing a block tracked before the exception.
uint8_t ProcessAfterANestedEntry(const TEmberNotifyArgs&) {
  ++gProcessed;
  if (gNested) SynchronizeExceptionCall([] { gNestedAnswer = HandleCaughtException(&gInner, 0); });
  delete[] static_cast<char*>(Kept(new char[24]));
  LeakFree(gTrackedBefore);
  return 1;
}

void RaiseUnderTheLock(void*) {
  std::runtime_error error("under the lock");
  CentralNotify(&error, 0x1000, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0);
}

DWORD WINAPI AllocateAndFree(void*) {
  delete[] Kept(new char[40]);
  gOtherServed = true;
  return 0;
}

// The host's structured handler around its call into the module: asked about the fault after the
// library's processing, while the faulting thread still holds the lock. Like a host's crash
// handler that waits for its other threads, it needs another thread to allocate once, then lets
// the fault go on.
EXCEPTION_DISPOSITION __cdecl HostHandler(EXCEPTION_RECORD* record, void*, CONTEXT*, void*) {
  if ((record->ExceptionFlags & 6) != 0 || record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION)
    return ExceptionContinueSearch;
  HANDLE other = CreateThread(nullptr, 0, &AllocateAndFree, nullptr, 0, nullptr);
  WaitForSingleObject(other, INFINITE);
  CloseHandle(other);
  DWORD old = 0;
  VirtualProtect(gNoAccess, 4096, PAGE_READWRITE, &old);
  return ExceptionContinueExecution;
}

// The child half: one way of TUnderLock (the variable's value), the library attached.
TEST_F(LeakTrackerTest, UnderALockChild) {
  const char* way = std::getenv("KBL_UNDER_LOCK");
  if (way == nullptr) GTEST_SKIP() << "the child half of a test";
  const auto how = static_cast<TUnderLock>(std::atoi(way));
  StartExceptionLog();
  ASSERT_EQ(EmberLibrary().LibraryOn.load(), 1);
  SetProcessExceptionProc(&ProcessAfterANestedEntry);
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  gTrackedBefore = AllocateHere(16);
  gNested = how == TUnderLock::MemoryNestedRaise || how == TUnderLock::ListNestedRaise;
  const bool list = how == TUnderLock::ListRaise || how == TUnderLock::ListNestedRaise;
  if (how == TUnderLock::MemoryFaultToHost) {
    gNoAccess = static_cast<uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS));
    const THostSehFrame hostFrame(reinterpret_cast<void*>(&HostHandler));
    EXPECT_TRUE(kbl_detail::RunHoldingMemoryManagerLock([](void*) { *static_cast<volatile uint8_t*>(gNoAccess) = 1; },
                                                        nullptr));
    EXPECT_TRUE(gOtherServed);
  } else {
    EXPECT_TRUE((list ? &ember_detail::RunHoldingLeakListLock : &kbl_detail::RunHoldingMemoryManagerLock)(
        &RaiseUnderTheLock, nullptr));
    EXPECT_EQ(gNestedAnswer, !gNested);  // the nested entry reached the notification
  }
  EXPECT_EQ(gProcessed, 1);
  // Given up for good: what the lock guarded may be half changed.
  if (list) {
    EXPECT_TRUE(LeakListAbandoned());
  } else {
    EXPECT_EQ(SmallBlockOf(Kept(new char[24])), nullptr);
  }
  std::fflush(stdout);
  ExitProcess(::testing::UnitTest::GetInstance()->current_test_info()->result()->Failed() ? 1 : 0);
}

// An exception processed while its thread holds the memory manager's lock or the list's (a fault
// inside them): the worker allocates and frees without waiting for the lock, also after an event
// on the faulting thread handed over a caught exception, whose entry returns at once; and when
// the fault then goes on to the host's own handler, that handler's wait for another thread that
// allocates ends. The lock is given up.
TEST_F(LeakTrackerTest, NoThreadWaitsForALockWhoseHolderWaitsForTheNotification) {
  const char* names[] = {"memory manager", "memory manager, nested entry", "leak list", "leak list, nested entry",
                         "memory manager, a fault with the host's handler"};
  for (int way = 0; way <= static_cast<int>(TUnderLock::MemoryFaultToHost); ++way) {
    if (way == static_cast<int>(TUnderLock::MemoryFaultToHost) &&
        LeftOutWhereEmulated(names[way], kFaultsArriveAsIllegalInstructions))
      continue;
    SCOPED_TRACE(names[way]);
    const TChildRun run = RunChildProcess("--gtest_filter=LeakTrackerTest.UnderALockChild",
                                          {{"KBL_UNDER_LOCK", std::to_string(way)}}, 20000);
    ASSERT_TRUE(run.Started);
    EXPECT_TRUE(run.Ended) << "a thread waits for ever for the lock";
    EXPECT_EQ(run.ExitCode, 0u);
  }
}


HANDLE gListTaken = nullptr;
HANDLE gListGoOn = nullptr;

DWORD WINAPI HoldListUntilLetGo(void*) {
  ember_detail::RunHoldingLeakListLock(
      [](void*) {
        SetEvent(gListTaken);
        WaitForSingleObject(gListGoOn, INFINITE);
      },
      nullptr);
  return 0;
}

DWORD WINAPI FreeTrackedBefore(void*) {
  LeakFree(gTrackedBefore);
  return 0;
}

// The child half: a thread holds the list lock until let go; a thread that waits for it is killed
// (KBL_STOPPED_LOOKER=killed), or kept suspended, while the holder is suspended for its look. The
// holder runs again with no other call; it is let go and tracking is stopped, as the library's
// detach does at an unload.
TEST_F(LeakTrackerTest, StoppedLookerChild) {
  const char* how = std::getenv("KBL_STOPPED_LOOKER");
  if (how == nullptr) GTEST_SKIP() << "the child half of a test";
  ASSERT_GE(SuspendCountOf(GetCurrentThread()), 0) << "the system cannot tell a thread's suspension count";
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  gTrackedBefore = AllocateHere(24);
  gListTaken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  gListGoOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE holder = CreateThread(nullptr, 0, &HoldListUntilLetGo, nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(gListTaken, MachineBound(10000)), WAIT_OBJECT_0);
  HANDLE looker = CreateThread(nullptr, 0, &FreeTrackedBefore, nullptr, 0, nullptr);
  const bool caught = CatchLookerInItsLook(looker, holder, MachineBound(10000));
  ASSERT_TRUE(caught) << "the looker never suspended the holder";
  const bool killed = std::string(how) == "killed";
  if (killed) TerminateThread(looker, 1);
  EXPECT_TRUE(RunsAgainWithin(holder, 1000)) << "the holder stays suspended until another thread waits";
  SetEvent(gListGoOn);
  StopLeakTracking();
  if (!killed) ResumeThread(looker);
  for (HANDLE thread : {holder, looker}) EXPECT_EQ(WaitForSingleObject(thread, MachineBound(10000)), WAIT_OBJECT_0);
  EXPECT_FALSE(LeakListAbandoned());
  std::fflush(stdout);
  ExitProcess(::testing::UnitTest::GetInstance()->current_test_info()->result()->Failed() ? 1 : 0);
}

// A waiter of the list lock stopped while the holder is suspended for its look (killed as a host
// kills a busy thread, or kept suspended as the processing keeps the program's threads for its
// report) leaves the holder running again within a second, though no other thread calls the
// tracker, and no later call waiting for ever (the stop of tracking that an unload runs); the list
// is not given up.
TEST_F(LeakTrackerTest, AWaiterStoppedInTheMiddleOfALookLeavesNoOneWaitingForEver) {
  for (const char* how : {"killed", "suspended"}) {
    SCOPED_TRACE(how);
    const TChildRun run =
        RunChildProcess("--gtest_filter=LeakTrackerTest.StoppedLookerChild", {{"KBL_STOPPED_LOOKER", how}}, 30000);
    ASSERT_TRUE(run.Started);
    EXPECT_TRUE(run.Ended) << "stopping the tracking waits for ever";
    EXPECT_EQ(run.ExitCode, 0u);
  }
}

DWORD WINAPI HoldMemoryUntilLetGo(void*) {
  kbl_detail::RunHoldingMemoryManagerLock(
      [](void*) {
        SetEvent(gListTaken);
        WaitForSingleObject(gListGoOn, INFINITE);
      },
      nullptr);
  return 0;
}

DWORD WINAPI RoundTripMemory(void*) {
  FreeMem(GetMem(32));
  return 0;
}

DWORD WINAPI CountTracked(void*) { return static_cast<DWORD>(TrackedBlockCount()); }

// The child half: the list lock's holder is kept suspended by the host while a live thread stays
// inside the memory manager's lock and another waits for that one; a count of the list, waiting
// for the list lock, must be told within 5 s that its holder is kept suspended.
TEST_F(LeakTrackerTest, TwoLocksChild) {
  if (std::getenv("KBL_TWO_LOCKS") == nullptr) GTEST_SKIP() << "the child half of a test";
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  gListTaken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gListGoOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE listHolder = CreateThread(nullptr, 0, &HoldListUntilLetGo, nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(gListTaken, MachineBound(10000)), WAIT_OBJECT_0);
  SuspendThread(listHolder);
  HANDLE memoryHolder = CreateThread(nullptr, 0, &HoldMemoryUntilLetGo, nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(gListTaken, MachineBound(10000)), WAIT_OBJECT_0);
  HANDLE memoryWaiter = CreateThread(nullptr, 0, &RoundTripMemory, nullptr, 0, nullptr);
  HANDLE listWaiter = CreateThread(nullptr, 0, &CountTracked, nullptr, 0, nullptr);
  // Nothing is allocated here until both holders are let go: the program's new takes both locks.
  const bool told = WaitForSingleObject(listWaiter, MachineBound(5000)) == WAIT_OBJECT_0;
  SetEvent(gListGoOn);
  ResumeThread(listHolder);
  for (HANDLE thread : {listHolder, memoryHolder, memoryWaiter, listWaiter})
    EXPECT_EQ(WaitForSingleObject(thread, MachineBound(10000)), WAIT_OBJECT_0);
  EXPECT_TRUE(told) << "the list's waiter waits for its kept suspended holder while the other lock is waited for";
  std::fflush(stdout);
  ExitProcess(::testing::UnitTest::GetInstance()->current_test_info()->result()->Failed() ? 1 : 0);
}

// A holder kept suspended by the host is not waited for, whichever lock it holds, also while
// another lock's holder, live inside, is waited for at the same time.
TEST_F(LeakTrackerTest, AKeptSuspendedHolderIsToldWhileAnotherLockIsWaitedFor) {
  const TChildRun run = RunChildProcess("--gtest_filter=LeakTrackerTest.TwoLocksChild", {{"KBL_TWO_LOCKS", "1"}}, 30000);
  ASSERT_TRUE(run.Started);
  EXPECT_TRUE(run.Ended) << "the child hangs";
  EXPECT_EQ(run.ExitCode, 0u);
}
#endif

}  // namespace
