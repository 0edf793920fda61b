// The memory manager hands out aligned, separate blocks of every size, takes back its own and the
// C heap's, reuses and gives back empty chunks, stays sound under threads, and never waits for
// ever for a lock whose holder will not give it back.
#include "classlib/MemoryManager.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#endif

#include <algorithm>
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
#include "Emulation.h"
#include "FailAfter.h"
#include "HostSehFrame.h"
#include "ThreadSuspension.h"

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
  void (*RoundTripAtThreadEnds)() = Entry<void (*)()>("MemoryManagerModuleRoundTripAtThreadEnds");
  void (*HoldAtNextThreadStart)() = Entry<void (*)()>("MemoryManagerModuleHoldAtNextThreadStart");
  void (*PauseNextLook)(int) = Entry<void (*)(int)>("MemoryManagerModulePauseNextLook");
  bool (*LookPaused)() = Entry<bool (*)()>("MemoryManagerModuleLookPaused");
  void (*LetPausedLookGo)() = Entry<void (*)()>("MemoryManagerModuleLetPausedLookGo");
  unsigned (*Looks)() = Entry<unsigned (*)()>("MemoryManagerModuleLooks");

  template <class T>
  T Entry(const char* name) const {
    return Module != nullptr ? reinterpret_cast<T>(GetProcAddress(Module, name)) : nullptr;
  }
  bool Complete() const {
    return HoldLock && RunHoldingLock && WaitHoldingLock && KeepUntilEnd && RoundTrip && Get && Free &&
           RoundTripAtThreadEnds && HoldAtNextThreadStart && PauseNextLook && LookPaused && LetPausedLookGo &&
           Looks;
  }
};
TModuleEntries* gEntries = nullptr;
HANDLE gLockTaken = nullptr;
HANDLE gGoOn = nullptr;  // lets a holder thread go on (out of the lock, or out of the module)

// How a host's thread keeps the module's lock.
enum class THold {
  KilledInside,          // killed while inside the code that holds it
  KilledIdReused,        // the same, and a new thread of the process has the dead one's id
  KilledIdTakenByCloser, // the same, and the thread that closes the module has the id
  LeftByUnwind,          // a handler outside unwound past the code (a crash the host survives)
  LeftByUnwindCloses,    // the same, and that thread then closes the module itself
  LeftWithoutTrace,      // the lock word names it, but it runs elsewhere
  ProcessingGoesOn,      // waiting for the processing of an exception raised under it, then going on
  FaultToHostHandler,    // a fault under it went on to the host's handler, which needs a call
  SuspendedInside,       // kept suspended inside the code
  SuspendedThenKilled,   // the same until a call did not wait for it, then killed
  SuspendedToTheLimit,   // the same, its suspension count at its limit: a look's suspension is refused
  SuspendedThenLetGo,    // the same, then resumed: gives the lock back
  RunningInside,         // inside the code, never coming out (only the unload is bounded)
  Sleeping,              // inside for a while (longer than a waiter takes to look twice)...
  Spinning,
  RaisingHandledBelow,   // ...raising exceptions that are handled inside
  Restricted,            // ...on a thread whose access list lets no one in (a sandboxed host's)
};
THold gHow = THold::KilledInside;
bool gRestricted = false;  // the holder's thread, and a thread that takes its id, let no one in

// The module's last calls as a host's close makes them (an object kept, thousands of small ones
// freed), and its unload.
struct TClose {
  void* OnlyBlock = nullptr;  // the only block of its chunk
  std::vector<void*> Objects;
  bool ServedByChunks = true;
  bool Unloaded = false;
};
TClose gClose;

void CloseTheModule(bool unload) {
  gClose.ServedByChunks = gEntries->RoundTrip();
  gEntries->Free(gClose.OnlyBlock);
  for (void* block : gClose.Objects) gEntries->Free(block);
  if (unload) gClose.Unloaded = FreeLibrary(gEntries->Module) != 0;
}

bool ClosesOnHolder() { return gHow == THold::KilledIdTakenByCloser || gHow == THold::LeftByUnwindCloses; }

// The holder's thread, out of the lock, goes on: it closes the module, or tells it is out and
// waits to be let go.
void HolderGoesOn() {
  if (ClosesOnHolder()) {
    CloseTheModule(true);
    return;
  }
  SetEvent(gLockTaken);
  WaitForSingleObject(gGoOn, INFINITE);
}

LONG CALLBACK ContinueAfterRaise(EXCEPTION_POINTERS* info) {
  return info->ExceptionRecord->ExceptionCode == 0xE0001234u ? EXCEPTION_CONTINUE_EXECUTION : EXCEPTION_CONTINUE_SEARCH;
}

// What a live holder does inside for a while.
void InsideForAWhile() {
  SetEvent(gLockTaken);
  const DWORD start = GetTickCount();
  const auto forAWhile = [start] { return GetTickCount() - start < 400; };
  if (gHow == THold::Spinning) {
    while (forAWhile()) {
    }
  } else if (gHow == THold::RaisingHandledBelow) {
    void* handler = AddVectoredExceptionHandler(1, &ContinueAfterRaise);
    while (forAWhile()) RaiseException(0xE0001234u, 0, 0, nullptr);
    RemoveVectoredExceptionHandler(handler);
  } else {
    Sleep(400);
  }
}

DWORD WINAPI RoundTripThread(void* servedByChunks) {
  *static_cast<bool*>(servedByChunks) = gEntries->RoundTrip();
  return 0;
}

DWORD WINAPI EndAtOnce(void*) { return 0; }

// Another thread allocates and frees in the module; answers whether the chunks served it.
bool RoundTripOnAnotherThread() {
  bool served = true;
  HANDLE thread = CreateThread(nullptr, 0, &RoundTripThread, &served, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return served;
}

uint8_t* gNoAccess = nullptr;
bool gHandlerServedByChunks = true;

// A host's structured handler around its call into the module, asked about a fault after the
// module's own frames: like a crash handler that waits for the plug-in's other threads, it needs
// another thread to call the module, then lets the fault go on.
EXCEPTION_DISPOSITION __cdecl HostHandler(EXCEPTION_RECORD* record, void*, CONTEXT*, void*) {
  if ((record->ExceptionFlags & 6) != 0 || record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION)
    return ExceptionContinueSearch;
  gHandlerServedByChunks = RoundTripOnAnotherThread();
  DWORD old = 0;
  VirtualProtect(gNoAccess, 4096, PAGE_READWRITE, &old);
  return ExceptionContinueExecution;
}

std::jmp_buf gOutside;

DWORD WINAPI Hold(void*) {
  switch (gHow) {
    case THold::LeftWithoutTrace:
      gEntries->HoldLock();
      break;
    case THold::LeftByUnwind:
    case THold::LeftByUnwindCloses:
      // The runtime's longjmp unwinds the system's way, past the module's frames without running
      // their destructors, as a host's handler that catches a crash does.
      if (setjmp(gOutside) == 0) gEntries->RunHoldingLock([] { std::longjmp(gOutside, 1); });
      break;
    case THold::ProcessingGoesOn:
      gEntries->WaitHoldingLock(&HolderGoesOn);
      return 0;
    case THold::FaultToHostHandler: {
      const THostSehFrame hostFrame(reinterpret_cast<void*>(&HostHandler));
      gEntries->RunHoldingLock([] { *static_cast<volatile uint8_t*>(gNoAccess) = 1; });
      break;
    }
    case THold::SuspendedThenLetGo:
      gEntries->RunHoldingLock([] {
        SetEvent(gLockTaken);
        WaitForSingleObject(gGoOn, INFINITE);
      });
      return 0;
    case THold::Sleeping:
    case THold::Spinning:
    case THold::RaisingHandledBelow:
    case THold::Restricted:
      gEntries->RunHoldingLock(&InsideForAWhile);
      return 0;
    default:  // killed, suspended or running inside
      gEntries->RunHoldingLock([] {
        SetEvent(gLockTaken);
        Sleep(INFINITE);
      });
      return 0;
  }
  HolderGoesOn();
  return 0;
}

DWORD WINAPI KeepIfItHasTheId(void* id) {
  if (GetCurrentThreadId() != static_cast<DWORD>(reinterpret_cast<uintptr_t>(id))) return 0;
  if (ClosesOnHolder()) CloseTheModule(true);
  else WaitForSingleObject(gGoOn, INFINITE);
  return 0;
}

HANDLE StartRestrictedThread(LPTHREAD_START_ROUTINE start, void* parameter, DWORD* id);

// Makes threads until one has the id `id` (an ended thread's), and answers it.
HANDLE ThreadWithId(DWORD id) {
  for (int tries = 0; tries < 20000; ++tries) {
    DWORD made = 0;
    HANDLE thread = gRestricted ? StartRestrictedThread(&KeepIfItHasTheId, reinterpret_cast<void*>(uintptr_t{id}), &made)
                                : CreateThread(nullptr, 0, &KeepIfItHasTheId, reinterpret_cast<void*>(uintptr_t{id}), 0, &made);
    if (made == id) return thread;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  return nullptr;
}

// A thread whose access list lets no one in.
HANDLE StartRestrictedThread(LPTHREAD_START_ROUTINE start, void* parameter, DWORD* id) {
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  ACL acl;
  InitializeAcl(&acl, sizeof acl, ACL_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, &acl, FALSE);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  return CreateThread(&attributes, 0, start, parameter, 0, id);
}

// A thread of this program that holds the module's lock as gHow says; answers the thread still
// to end (the holder, or the thread that took its id).
HANDLE StartHolder() {
  DWORD id = 0;
  HANDLE holder = gHow == THold::Restricted || gRestricted ? StartRestrictedThread(&Hold, nullptr, &id)
                                                            : CreateThread(nullptr, 0, &Hold, nullptr, 0, &id);
  if (ClosesOnHolder() && gHow != THold::KilledIdTakenByCloser) return holder;
  EXPECT_EQ(WaitForSingleObject(gLockTaken, MachineBound(10000)), WAIT_OBJECT_0);
  if (gHow == THold::SuspendedInside || gHow == THold::SuspendedThenLetGo || gHow == THold::SuspendedThenKilled)
    SuspendThread(holder);
  if (gHow == THold::SuspendedThenKilled) {
    EXPECT_FALSE(RoundTripOnAnotherThread()) << "a call waited for a holder kept suspended";
  }
  if (gHow == THold::SuspendedToTheLimit)
    for (int i = 0; i < 1000 && SuspendThread(holder) != static_cast<DWORD>(-1); ++i) {
    }
  if (gHow != THold::KilledInside && gHow != THold::KilledIdReused && gHow != THold::KilledIdTakenByCloser &&
      gHow != THold::SuspendedThenKilled)
    return holder;
  TerminateThread(holder, 1);
  WaitForSingleObject(holder, INFINITE);
  CloseHandle(holder);  // the id goes back to the system with the last handle
  if (gHow == THold::KilledInside || gHow == THold::SuspendedThenKilled) return nullptr;
  HANDLE heir = ThreadWithId(id);
  EXPECT_NE(heir, nullptr) << "no new thread took the id";
  return heir;
}

// True while the chunk that holds `address` is still taken from the system (once given back, its
// addresses may be free, or part of what the system reserves for itself).
bool Reserved(const void* address) {
  MEMORY_BASIC_INFORMATION info{};
  const auto chunk = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(address) & ~uintptr_t{0xFFFF});
  return VirtualQuery(address, &info, sizeof info) == sizeof info && info.State != MEM_FREE &&
         info.AllocationBase == chunk;
}


}  // namespace

// A host's thread keeps the lock of a module (a plug-in's memory manager) in every way it can,
// and the module is closed (a call, an object kept and thousands of small ones freed, by the main
// thread or by the thread that the lock word names) and unloaded. No call waits for ever, and a
// close freeing thousands of blocks does not wait anew at every block for a holder kept
// suspended. A holder that will never give the lock back is gone: the chunks are given up, the
// calls served from the C heap, and the chunks whose blocks were all freed go back to the system
// at the unload, also those freed while the holder waited for an exception's processing. A live
// holder inside is never taken for gone, whatever it does there and whatever rights its thread
// gives: it is waited for, and its lock works on once given back; what was freed while it was kept
// suspended goes back at the unload once it gave the lock back.
TEST(MemoryManager, NoCallWaitsForALockWhoseHolderWillNotGiveItBack) {
  gLockTaken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gGoOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  gNoAccess = static_cast<uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS));
  struct TCase {
    THold How;
    const char* Name;
    bool Calls;           // the module is called while the lock is held (not when it is never left)
    bool ServedByChunks;  // the call waits for the holder (a live one that leaves)
    bool GivesBack;       // the chunks whose blocks were all freed go back at the unload
  };
  const TCase cases[] = {{THold::KilledInside, "killed inside", true, false, true},
                         {THold::KilledIdReused, "killed, its id taken by a new thread", true, false, true},
                         {THold::KilledIdTakenByCloser, "killed, its id taken by the closing thread", true, false, true},
                         {THold::LeftByUnwind, "left by an unwind", true, false, true},
                         {THold::LeftByUnwindCloses, "left by an unwind, then closes", true, false, true},
                         {THold::LeftWithoutTrace, "left without a trace", true, false, true},
                         {THold::ProcessingGoesOn, "waiting for a processing, then going on", true, false, true},
                         {THold::FaultToHostHandler, "its fault with the host's handler", true, false, true},
                         {THold::SuspendedInside, "kept suspended inside", true, false, false},
                         {THold::SuspendedToTheLimit, "kept suspended to the count's limit", true, false, false},
                         {THold::SuspendedThenLetGo, "kept suspended, then let go", true, false, true},
                         {THold::RunningInside, "inside, never leaving", false, false, false},
                         {THold::Sleeping, "sleeping inside", true, true, true},
                         {THold::Spinning, "running inside", true, true, true},
                         {THold::RaisingHandledBelow, "raising exceptions handled inside", true, true, true},
                         {THold::Restricted, "inside a thread that lets no one in", true, true, true}};
  for (const TCase& c : cases) {
    if ((c.How == THold::KilledIdReused || c.How == THold::LeftWithoutTrace) &&
        LeftOutWhereEmulated(c.Name, kOwnMemoryUnreadable))
      continue;
    if (c.How == THold::FaultToHostHandler && LeftOutWhereEmulated(c.Name, kFaultsArriveAsIllegalInstructions))
      continue;
    SCOPED_TRACE(c.Name);
    TModuleEntries entries;
    ASSERT_TRUE(entries.Complete());
    gEntries = &entries;
    gHow = c.How;
    entries.KeepUntilEnd();
    gClose = TClose();
    gClose.OnlyBlock = entries.Get(200);
    gClose.Objects.resize(3000);
    for (void*& block : gClose.Objects) block = entries.Get(48);
    ResetEvent(gGoOn);
    DWORD old = 0;
    VirtualProtect(gNoAccess, 4096, PAGE_NOACCESS, &old);
    gHandlerServedByChunks = true;
    {
      const TFailAfter bound(MachineBound(20000), "a call or the unload waits for ever for a lock's holder");
      HANDLE thread = StartHolder();
      if (ClosesOnHolder()) {
        WaitForSingleObject(thread, INFINITE);  // it closes the module
      } else {
        if (c.Calls) CloseTheModule(false);
        if (c.How == THold::SuspendedThenLetGo || c.How == THold::ProcessingGoesOn) {
          ResumeThread(thread);
          SetEvent(gGoOn);
          WaitForSingleObject(thread, INFINITE);
        }
        gClose.Unloaded = FreeLibrary(entries.Module) != 0;
      }
      SetEvent(gGoOn);
      // A thread still inside the unloaded module's code cannot go on.
      if (c.How == THold::SuspendedInside || c.How == THold::SuspendedToTheLimit || c.How == THold::RunningInside)
        TerminateThread(thread, 1);
      if (thread != nullptr) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
      }
    }
    EXPECT_TRUE(gClose.Unloaded);
    EXPECT_EQ(GetModuleHandleA("memorymanagermodule.dll"), nullptr);
    if (c.Calls) {
      EXPECT_EQ(gClose.ServedByChunks, c.ServedByChunks);
    }
    EXPECT_EQ(Reserved(gClose.OnlyBlock), !c.GivesBack);
    EXPECT_EQ(Reserved(gClose.Objects.front()), !c.GivesBack);
    if (c.How == THold::FaultToHostHandler) {
      EXPECT_FALSE(gHandlerServedByChunks);
    }
  }
  VirtualFree(gNoAccess, 0, MEM_RELEASE);
  for (HANDLE handle : {gLockTaken, gGoOn}) CloseHandle(handle);
  gEntries = nullptr;
}

// A holder whose thread lets no one in (a sandboxed host's) is not waited for when the host keeps
// it suspended inside, nor once it is dead and a new such thread has its id.
TEST(MemoryManager, AHolderThatLetsNoOneInIsNotWaitedForWhenKeptSuspendedOrDead) {
  gLockTaken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gGoOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  gRestricted = true;
  for (THold how : {THold::SuspendedInside, THold::KilledIdReused}) {
    SCOPED_TRACE(how == THold::SuspendedInside ? "kept suspended inside" : "killed, its id taken by a new thread");
    TModuleEntries entries;
    ASSERT_TRUE(entries.Complete());
    gEntries = &entries;
    gHow = how;
    ResetEvent(gGoOn);
    HANDLE thread = StartHolder();
    bool served = true;
    {
      const TFailAfter bound(MachineBound(20000), "a call waits for ever for a holder that lets no one in");
      served = RoundTripOnAnotherThread();
    }
    EXPECT_FALSE(served);
    // Ended where it waits, before the event would let it run on into its own end.
    KillThread(thread, 1);
    SetEvent(gGoOn);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    FreeLibrary(entries.Module);
  }
  gRestricted = false;
  for (HANDLE handle : {gLockTaken, gGoOn}) CloseHandle(handle);
  gEntries = nullptr;
}

// Until destroyed, the calling thread shares one CPU with busy threads of its priority, as on a
// loaded machine: each of its yields gives a whole slice away.
class TBusyCpu {
 public:
  explicit TBusyCpu(int busy) {
    DWORD_PTR process = 0, system = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &process, &system);
    const DWORD_PTR cpu = process & (~process + 1);
    saved_ = SetThreadAffinityMask(GetCurrentThread(), cpu);
    for (int i = 0; i < busy; ++i) {
      threads_.push_back(CreateThread(nullptr, 0, &Spin, &stop_, CREATE_SUSPENDED, nullptr));
      SetThreadAffinityMask(threads_.back(), cpu);
      ResumeThread(threads_.back());
    }
  }
  ~TBusyCpu() {
    stop_ = true;
    for (HANDLE thread : threads_) {
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
    }
    SetThreadAffinityMask(GetCurrentThread(), saved_);
  }
  TBusyCpu(const TBusyCpu&) = delete;
  TBusyCpu& operator=(const TBusyCpu&) = delete;

 private:
  static DWORD WINAPI Spin(void* stop) {
    while (!static_cast<std::atomic<bool>*>(stop)->load(std::memory_order_relaxed)) {
    }
    return 0;
  }
  std::atomic<bool> stop_{false};
  std::vector<HANDLE> threads_;
  DWORD_PTR saved_ = 0;
};

// A holder that will never give the lock back, first waited for by the unload itself (nothing
// called the module since), on a CPU shared with busy threads, or killed by the host just after a
// call did not wait for it (kept suspended) and the module unloaded at once: the unload tells it
// gone, and the chunk kept for reuse, all its blocks freed, goes back to the system.
TEST(MemoryManager, AnUnloadFirstToWaitForAGoneHolderGivesTheChunksBack) {
  gLockTaken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gGoOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const struct {
    THold How;
    const char* Name;
  } holders[] = {{THold::KilledInside, "killed inside"},
                 {THold::KilledIdReused, "killed, its id taken by a new thread"},
                 {THold::LeftWithoutTrace, "left without a trace"},
                 {THold::SuspendedThenKilled, "kept suspended until a call did not wait for it, then killed"}};
  for (const auto& h : holders) {
    if ((h.How == THold::KilledIdReused || h.How == THold::LeftWithoutTrace) &&
        LeftOutWhereEmulated(h.Name, kOwnMemoryUnreadable))
      continue;
    SCOPED_TRACE(h.Name);
    TModuleEntries entries;
    ASSERT_TRUE(entries.Complete());
    gEntries = &entries;
    gHow = h.How;
    ResetEvent(gGoOn);
    void* block = entries.Get(48);
    entries.Free(block);  // its chunk falls empty and is kept
    ASSERT_TRUE(Reserved(block));
    HANDLE thread = StartHolder();
    {
      const TFailAfter bound(MachineBound(20000), "the unload waits for ever for a lock's holder");
      // Unloaded at once after the call that did not wait for the holder, before any busy thread starts.
      const TBusyCpu busy(h.How == THold::SuspendedThenKilled ? 0 : 10);
      EXPECT_TRUE(FreeLibrary(entries.Module));
    }
    EXPECT_FALSE(Reserved(block)) << "the unload left the empty chunk behind";
    SetEvent(gGoOn);
    if (thread != nullptr) {
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
    }
  }
  for (HANDLE handle : {gLockTaken, gGoOn}) CloseHandle(handle);
  gEntries = nullptr;
}

namespace {

std::atomic<unsigned> gYields{0};
BOOL WINAPI CountedSwitchToThread() {
  ++gYields;
  return SwitchToThread();
}

// Points `module`'s import of the system's `name` at `replacement`; false when it has none.
bool ReplaceImport(HMODULE module, const char* name, void* replacement) {
  const FARPROC target = GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
  auto* base = reinterpret_cast<uint8_t*>(module);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name != 0; ++entry) {
    for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk); thunk->u1.Function != 0; ++thunk) {
      if (thunk->u1.Function != reinterpret_cast<uintptr_t>(target)) continue;
      DWORD old = 0;
      VirtualProtect(&thunk->u1.Function, sizeof thunk->u1.Function, PAGE_READWRITE, &old);
      thunk->u1.Function = reinterpret_cast<uintptr_t>(replacement);
      VirtualProtect(&thunk->u1.Function, sizeof thunk->u1.Function, old, &old);
      return true;
    }
  }
  return false;
}

}  // namespace

// A live holder inside for good as the module unloads, and the module's statics free many blocks
// there: once the unload's second is spent, each later wait does without the lock at once rather
// than yield first (on a busy CPU each yield gives a whole slice away, and a yield at each free
// would keep the host in the unload for minutes).
TEST(MemoryManager, AnUnloadPastItsSecondDoesNotYieldAtEachFree) {
  gLockTaken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gGoOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  TModuleEntries entries;
  ASSERT_TRUE(entries.Complete());
  const auto keepMany = entries.Entry<void (*)(unsigned)>("MemoryManagerModuleKeepManyUntilEnd");
  ASSERT_NE(keepMany, nullptr);
  gEntries = &entries;
  gHow = THold::RunningInside;
  constexpr unsigned kBlocks = 200;
  keepMany(kBlocks);
  ASSERT_TRUE(ReplaceImport(entries.Module, "SwitchToThread", reinterpret_cast<void*>(&CountedSwitchToThread)));
  HANDLE thread = StartHolder();
  gYields = 0;
  {
    const TFailAfter bound(MachineBound(20000), "the unload waits for ever for a lock's holder");
    EXPECT_TRUE(FreeLibrary(entries.Module));
  }
  EXPECT_LT(gYields.load(), kBlocks) << "the unload yielded at each free past its second";
  TerminateThread(thread, 1);  // inside the unloaded module's code
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  for (HANDLE handle : {gLockTaken, gGoOn}) CloseHandle(handle);
  gEntries = nullptr;
}

// A live holder inside for longer than a second on a thread that lets no one in: calls meanwhile
// do without the lock (blocks from the C heap, frees put off), and once it gives the lock back the
// chunks serve again, the C heap's block is freed, and the frees put off are done by the unload.
TEST(MemoryManager, CallsThatDidNotWaitForAHolderThatLetsNoOneInLeaveTheChunksSound) {
  gLockTaken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gGoOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  TModuleEntries entries;
  ASSERT_TRUE(entries.Complete());
  gEntries = &entries;
  gHow = THold::SuspendedThenLetGo;  // inside until let go
  std::vector<void*> blocks(3000);
  for (void*& block : blocks) block = entries.Get(48);
  HANDLE holder = StartRestrictedThread(&Hold, nullptr, nullptr);
  ASSERT_EQ(WaitForSingleObject(gLockTaken, MachineBound(10000)), WAIT_OBJECT_0);
  void* heapBlock = nullptr;
  {
    const TFailAfter bound(MachineBound(20000), "a call waits for ever for a holder that lets no one in");
    for (void* block : blocks) entries.Free(block);
    heapBlock = entries.Get(48);
  }
  SetEvent(gGoOn);
  ASSERT_EQ(WaitForSingleObject(holder, MachineBound(5000)), WAIT_OBJECT_0);
  CloseHandle(holder);
  EXPECT_TRUE(entries.RoundTrip()) << "the chunks do not serve once the lock is given back";
  entries.Free(heapBlock);
  EXPECT_TRUE(FreeLibrary(entries.Module));
  EXPECT_FALSE(Reserved(blocks.front())) << "the frees put off were never done";
  for (HANDLE handle : {gLockTaken, gGoOn}) CloseHandle(handle);
  gEntries = nullptr;
}

namespace {

std::atomic<bool> gPassing{false};
std::atomic<DWORD> gInside{0};   // the thread last inside the lock
std::atomic<int> gPasses{0};     // times the lock went to another thread

// Spins for `micro` microseconds, or until a thread other than this one had the lock (`untilPassed`).
void SpinFor(int micro, bool untilPassed) {
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  do QueryPerformanceCounter(&now);
  while (!(untilPassed && gInside != GetCurrentThreadId()) &&
         (now.QuadPart - start.QuadPart) * 1000000 < frequency.QuadPart * micro);
}

// A busy thread's stay under the lock: some microseconds of work.
void InsideBriefly() {
  if (gInside.exchange(GetCurrentThreadId()) != GetCurrentThreadId()) ++gPasses;
  SpinFor(10, false);
}

// Takes the lock again and again, each time once another thread had it or a moment passed.
DWORD WINAPI PassAround(void*) {
  while (gPassing) {
    gEntries->RunHoldingLock(&InsideBriefly);
    SpinFor(20, true);
  }
  return 0;
}

}  // namespace

// A waiter looks at the lock's holder (which suspends it for a moment) only when the holder kept
// the lock through every try since the waiter's last look point: not while busy threads pass it
// around and take it again, though their waiters wait through many look points; at a holder that
// keeps it, which is waited for; at one killed inside, found gone as ever.
TEST(MemoryManager, AWaiterLooksOnlyAtAHolderThatKeptTheLock) {
  gLockTaken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gGoOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  enum class THolder { PassesAround, Keeps, Killed };
  const struct {
    THolder Holder;
    const char* Name;
    bool LookedAt;
    bool ServedByChunks;  // the lock not given up
  } cases[] = {{THolder::PassesAround, "passed around among busy threads", false, true},
               {THolder::Keeps, "kept", true, true},
               {THolder::Killed, "killed inside", true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TModuleEntries entries;
    ASSERT_TRUE(entries.Complete());
    gEntries = &entries;
    ResetEvent(gGoOn);
    const unsigned before = entries.Looks();
    bool served = false;
    const TFailAfter bound(MachineBound(20000), "a waiter waits for ever");
    if (c.Holder == THolder::PassesAround) {
      gPassing = true;
      gPasses = 0;
      HANDLE threads[3];
      for (HANDLE& thread : threads) thread = CreateThread(nullptr, 0, &PassAround, nullptr, 0, nullptr);
      Sleep(300);
      gPassing = false;
      for (HANDLE thread : threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
      }
      EXPECT_GT(gPasses.load(), 10) << "the lock was not passed around";
      served = entries.RoundTrip();
    } else if (c.Holder == THolder::Keeps) {
      gHow = THold::SuspendedThenLetGo;  // inside until let go
      HANDLE holder = CreateThread(nullptr, 0, &Hold, nullptr, 0, nullptr);
      ASSERT_EQ(WaitForSingleObject(gLockTaken, MachineBound(10000)), WAIT_OBJECT_0);
      HANDLE waiter = CreateThread(nullptr, 0, &RoundTripThread, &served, 0, nullptr);
      for (const DWORD start = GetTickCount();
           entries.Looks() == before && GetTickCount() - start < MachineBound(10000);)
        Sleep(1);
      SetEvent(gGoOn);
      for (HANDLE thread : {holder, waiter}) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
      }
    } else {
      gHow = THold::KilledInside;
      StartHolder();
      served = RoundTripOnAnotherThread();
    }
    EXPECT_EQ(entries.Looks() != before, c.LookedAt) << entries.Looks() - before << " looks";
    EXPECT_EQ(served, c.ServedByChunks);
    FreeLibrary(entries.Module);
  }
  for (HANDLE handle : {gLockTaken, gGoOn}) CloseHandle(handle);
  gEntries = nullptr;
}

// A waiter has the lock's holder looked at, which suspends it for a moment. A waiter stopped while
// the holder is suspended for its look (killed as a host kills a busy thread, or kept suspended as
// the exception processing keeps the program's threads for its report) leaves the holder running
// again within a second, though no other thread calls the module, and no later waiter waiting for
// ever; the chunks are not given up. A holder that the host kills while a look reads its stack is
// found gone, and the look goes on.
TEST(MemoryManager, AWaiterStoppedInTheMiddleOfALookLeavesNoOneWaitingForEver) {
  ASSERT_GE(SuspendCountOf(GetCurrentThread()), 0) << "the system cannot tell a thread's suspension count";
  gLockTaken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gGoOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  gHow = THold::SuspendedThenLetGo;  // the holder gives the lock back once it runs
  enum class TStop { LookerKilled, LookerSuspended, HolderKilled };
  const struct {
    TStop Stop;
    const char* Name;
  } cases[] = {{TStop::LookerKilled, "the looker killed"},
               {TStop::LookerSuspended, "the looker kept suspended"},
               {TStop::HolderKilled, "the holder killed while the looker reads it"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TModuleEntries entries;
    ASSERT_TRUE(entries.Complete());
    gEntries = &entries;
    ResetEvent(gGoOn);
    HANDLE holder = CreateThread(nullptr, 0, &Hold, nullptr, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(gLockTaken, MachineBound(10000)), WAIT_OBJECT_0);
    bool lookerServed = false;
    HANDLE looker = CreateThread(nullptr, 0, &RoundTripThread, &lookerServed, 0, nullptr);
    const bool caught = CatchLookerInItsLook(looker, holder, MachineBound(20000));
    ASSERT_TRUE(caught) << "the looker never suspended the holder";
    if (c.Stop == TStop::LookerKilled) TerminateThread(looker, 1);
    if (c.Stop != TStop::HolderKilled) {
      EXPECT_TRUE(RunsAgainWithin(holder, 1000)) << "the holder stays suspended until another thread waits";
    }
    if (c.Stop == TStop::HolderKilled) {
      TerminateThread(holder, 1);
      WaitForSingleObject(holder, INFINITE);
      ResumeThread(looker);
    }
    SetEvent(gGoOn);
    {
      const TFailAfter bound(MachineBound(20000), "a waiter waits for ever for a holder a stopped look left suspended");
      RoundTripOnAnotherThread();
      if (c.Stop == TStop::LookerSuspended) ResumeThread(looker);
      for (HANDLE thread : {holder, looker}) WaitForSingleObject(thread, INFINITE);
    }
    for (HANDLE thread : {holder, looker}) CloseHandle(thread);
    EXPECT_EQ(entries.RoundTrip(), c.Stop != TStop::HolderKilled) << "the chunks given up, or not";
    FreeLibrary(entries.Module);
  }
  for (HANDLE handle : {gLockTaken, gGoOn}) CloseHandle(handle);
  gEntries = nullptr;
}

namespace {

// A host's lock that, once armed, every thread's start or end (the reason armed) takes for a
// moment, as a host's library that counts its threads.
CRITICAL_SECTION gHostLock;
std::atomic<DWORD> gHostLockAt{0};
void NTAPI TakeHostLockAtThreadStartOrEnd(PVOID, DWORD reason, PVOID) {
  const DWORD armed = gHostLockAt.load();
  if (armed == 0 || reason != armed) return;
  EnterCriticalSection(&gHostLock);
  LeaveCriticalSection(&gHostLock);
}
__attribute__((section(".CRT$XLF"), used)) PIMAGE_TLS_CALLBACK gTakeHostLock = &TakeHostLockAtThreadStartOrEnd;

HANDLE gWaiterStarted = nullptr;

DWORD WINAPI StartedRoundTrip(void* served) {
  SetEvent(gWaiterStarted);
  *static_cast<bool*>(served) = gEntries->RoundTrip();
  return 0;
}

DWORD WINAPI RoundTripUnderHostLock(void* served) {
  EnterCriticalSection(&gHostLock);
  if (gHostLockAt.load() == DLL_THREAD_DETACH) Sleep(1500);  // an idle while
  *static_cast<bool*>(served) = gEntries->RoundTrip();
  LeaveCriticalSection(&gHostLock);
  return 0;
}

std::vector<DWORD> ThreadIds() {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.push_back(entry.th32ThreadID);
  CloseHandle(snapshot);
  return ids;
}

// The module's watch over looks: the first thread of this process not in `known`, within 2 s (a
// waiter's first look starts it well within that); nullptr when none started.
HANDLE FindWatch(const std::vector<DWORD>& known) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < MachineBound(2000); Sleep(1))
    for (DWORD id : ThreadIds())
      if (std::find(known.begin(), known.end(), id) == known.end()) return OpenThread(THREAD_ALL_ACCESS, FALSE, id);
  return nullptr;
}

// True once `thread` is kept suspended `count` times, within `milliseconds`.
bool SuspendedWithin(HANDLE thread, LONG count, DWORD milliseconds) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < milliseconds; Sleep(1))
    if (SuspendCountOf(thread) == count) return true;
  return false;
}

// True when nothing resumes `thread`, kept suspended `count` times, for `milliseconds` (a look
// suspends it once more for a moment).
bool StaysSuspended(HANDLE thread, LONG count, DWORD milliseconds) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < milliseconds; Sleep(1))
    if (SuspendCountOf(thread) < count) return false;
  return true;
}

// Ends a child with its verdict. When its threads did not all end (`done` false: a thread left in
// its start, or left suspended, under the loader lock), the exit would wait for that lock: the
// child is terminated instead.
[[noreturn]] void EndChild(bool done) {
  std::fflush(stdout);
  const UINT code = ::testing::UnitTest::GetInstance()->current_test_info()->result()->Failed() ? 1 : 0;
  if (done) ExitProcess(code);
  TerminateProcess(GetCurrentProcess(), code);
  ExitProcess(code);
}

// Runs the child half `child` (a test's name) once for each way in `ways`, named to it in the
// environment variable `variable`: each run must end within `milliseconds` and pass.
void RunChildHalves(const char* child, const char* variable, std::initializer_list<const char*> ways,
                    DWORD milliseconds = 30000) {
  for (const char* way : ways) {
    SCOPED_TRACE(way);
    const TChildRun run =
        RunChildProcess(std::string("--gtest_filter=MemoryManager.") + child, {{variable, way}}, milliseconds);
    ASSERT_TRUE(run.Started);
    EXPECT_TRUE(run.Ended) << "the child hangs";
    EXPECT_EQ(run.ExitCode, 0u);
  }
}

}  // namespace

// The child half: a thread waits for the lock while it is stopped in its look, or while the
// module's watch over looks is stopped or hindered, as KBL_LOOKER says; the waiters must be done
// within 5 s, and a holder that a look left suspended run again within a second.
TEST(MemoryManager, LookerChild) {
  const char* how = std::getenv("KBL_LOOKER");
  if (how == nullptr) GTEST_SKIP() << "the child half of a test";
  const std::string way = how;
  TModuleEntries entries;
  ASSERT_TRUE(entries.Complete());
  gEntries = &entries;
  gLockTaken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gGoOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  InitializeCriticalSection(&gHostLock);
  bool served = true;
  HANDLE waiter = nullptr;
  // A holder inside until let go, and a waiter that has begun to wait for it.
  const auto holdAndWait = [&] {
    ResetEvent(gGoOn);
    gHow = THold::SuspendedThenLetGo;
    HANDLE holder = CreateThread(nullptr, 0, &Hold, nullptr, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(gLockTaken, MachineBound(10000)), WAIT_OBJECT_0);
    gWaiterStarted = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    waiter = CreateThread(nullptr, 0, &StartedRoundTrip, &served, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(gWaiterStarted, MachineBound(10000)), WAIT_OBJECT_0);
    return holder;
  };
  // The waiter killed while the holder is suspended for its look: the holder runs again, and a
  // new waiter takes its place.
  const auto killWaiterInItsLook = [&](HANDLE holder) {
    ASSERT_TRUE(CatchLookerInItsLook(waiter, holder, MachineBound(10000))) << "the waiter never suspended the holder";
    TerminateThread(waiter, 1);
    EXPECT_TRUE(RunsAgainWithin(holder, 1000)) << "the holder stays suspended";
    SetEvent(gGoOn);
    waiter = CreateThread(nullptr, 0, &RoundTripThread, &served, 0, nullptr);
  };
  if (way == "started under the host's lock") {
    gHow = THold::KilledInside;
    StartHolder();
    gHostLockAt = DLL_THREAD_ATTACH;
    waiter = CreateThread(nullptr, 0, &RoundTripUnderHostLock, &served, 0, nullptr);
  } else if (way == "killed in its look") {
    killWaiterInItsLook(holdAndWait());
  } else if (way == "kept suspended in its look" || way == "kept suspended in its look, the host's too") {
    HANDLE holder = holdAndWait();
    ASSERT_TRUE(CatchLookerInItsLook(waiter, holder, MachineBound(10000))) << "the waiter never suspended the holder";
    if (way == "kept suspended in its look") {
      EXPECT_TRUE(RunsAgainWithin(holder, 1000)) << "the holder stays suspended";
      ResumeThread(waiter);
    } else {
      // The host keeps the holder suspended as well: the look taken over undoes its own
      // suspension only, once, though its waiter goes on.
      SuspendThread(holder);
      EXPECT_TRUE(SuspendedWithin(holder, 1, 1000)) << "the look was not taken over";
      ResumeThread(waiter);
      EXPECT_TRUE(StaysSuspended(holder, 1, 300)) << "the look taken over resumed the holder again";
      ResumeThread(holder);
    }
    SetEvent(gGoOn);
  } else if (way.starts_with("killed before the system wrote its suspension's count") ||
             way == "kept from suspending the holder until taken over") {
    const bool kept = way == "kept from suspending the holder until taken over";
    // A profiler's sample of the holder, in effect when the look reads its count.
    const bool sampled = way.ends_with("a host's suspension it read ended");
    using enum kbl_detail::TLookPause;
    HANDLE holder = holdAndWait();
    if (sampled) SuspendThread(holder);
    entries.PauseNextLook(static_cast<int>(kept ? BeforeSuspension : CountUnwritten));
    for (const DWORD start = GetTickCount(); !entries.LookPaused() && GetTickCount() - start < MachineBound(5000);)
      Sleep(1);
    ASSERT_TRUE(entries.LookPaused()) << "the waiter never looked";
    if (!kept) {
      TerminateThread(waiter, 1);
      if (sampled) ResumeThread(holder);
    } else {
      Sleep(1000);  // the watch takes the look over meanwhile; let go, it suspends the holder
      entries.LetPausedLookGo();
      for (const DWORD start = GetTickCount(); entries.LookPaused() && GetTickCount() - start < MachineBound(5000);)
        Sleep(1);
    }
    EXPECT_TRUE(RunsAgainWithin(holder, 1000)) << "the holder stays suspended";
    SetEvent(gGoOn);
    if (!kept) waiter = CreateThread(nullptr, 0, &RoundTripThread, &served, 0, nullptr);
  } else if (way == "held up before it resumes the holder, the watch killed") {
    std::vector<DWORD> known = ThreadIds();
    entries.PauseNextLook(static_cast<int>(kbl_detail::TLookPause::BeforeResumption));
    known.push_back(GetThreadId(holdAndWait()));
    known.push_back(GetThreadId(waiter));
    HANDLE watch = FindWatch(known);
    ASSERT_NE(watch, nullptr) << "no watch started";
    for (const DWORD start = GetTickCount(); !entries.LookPaused() && GetTickCount() - start < MachineBound(5000);)
      Sleep(1);
    ASSERT_TRUE(entries.LookPaused()) << "the waiter never looked";
    KillThread(watch, 1);
    WaitForSingleObject(watch, INFINITE);
    SetEvent(gGoOn);
    // A thread's end waits for the lock under the loader lock, where no watch can start.
    entries.RoundTripAtThreadEnds();
    HANDLE ender = CreateThread(nullptr, 0, &EndAtOnce, nullptr, 0, nullptr);
    const bool ended = WaitForSingleObject(ender, MachineBound(5000)) == WAIT_OBJECT_0;
    EXPECT_TRUE(ended) << "a waiter waits for as long as a look is held up in its resumption";
    entries.LetPausedLookGo();
    if (!ended) EndChild(false);
  } else if (way == "named by the word") {
    HANDLE holder = holdAndWait();
    entries.HoldAtNextThreadStart();  // before the waiter's first sleep has made the watch start
    // The watch's start then waits for the lock (holding the loader's lock meanwhile: no thread
    // is listed here until it has it), no look is made until it runs, and it takes the lock the
    // holder gives back.
    Sleep(300);
    SetEvent(gGoOn);
    EXPECT_EQ(WaitForSingleObject(holder, MachineBound(5000)), WAIT_OBJECT_0);
  } else {
    std::vector<DWORD> known = ThreadIds();
    known.push_back(GetThreadId(holdAndWait()));  // a waiter's first sleep starts the watch
    known.push_back(GetThreadId(waiter));
    HANDLE watch = FindWatch(known);
    ASSERT_NE(watch, nullptr) << "no watch started";
    SetEvent(gGoOn);
    ASSERT_EQ(WaitForSingleObject(waiter, MachineBound(5000)), WAIT_OBJECT_0);
    if (way == "killed between looks") {
      // A look stopped later is still taken over: a new watch takes the killed one's place.
      TerminateThread(watch, 1);
      killWaiterInItsLook(holdAndWait());
    } else {
      gHow = THold::KilledInside;
      StartHolder();
      gHostLockAt = DLL_THREAD_DETACH;
      waiter = CreateThread(nullptr, 0, &RoundTripUnderHostLock, &served, 0, nullptr);
    }
  }
  const bool done = WaitForSingleObject(waiter, MachineBound(5000)) == WAIT_OBJECT_0;
  EXPECT_TRUE(done) << "the waiter waits for ever";
  EndChild(done);
}

// Whatever befalls a look or the module's watch over looks, no waiter waits for ever and no
// holder stays suspended: the waiter killed or kept suspended by the host in the middle of its
// look (its suspension undone once, also while the host keeps the holder suspended as well, and
// also when it was killed before the system wrote the suspension's count, even when the count
// it read before held a host's suspension that ended since); a look kept from suspending the
// holder until taken over, then going on (it undoes its own suspension); the watch killed
// between looks; its start, or a thread's end after an idle while, held up by a host's
// lock that every thread's start or end takes and that the waiter holds; the lock word naming the
// watch itself (as when it got a dead holder's id: here its start takes the lock and keeps it); a
// look held up in its resumption once the watch was killed, waited on by a thread's end under the
// loader lock (where no watch can start).
TEST(MemoryManager, NoWaiterWaitsForEverOnAStoppedLooker) {
  RunChildHalves("LookerChild", "KBL_LOOKER",
                 {"killed in its look", "kept suspended in its look", "kept suspended in its look, the host's too",
                  "killed before the system wrote its suspension's count",
                  "killed before the system wrote its suspension's count, a host's suspension it read ended",
                  "kept from suspending the holder until taken over", "killed between looks",
                  "started under the host's lock", "leaving under the host's lock", "named by the word",
                  "held up before it resumes the holder, the watch killed"});
}

namespace {

// A child half's start: the test module's entries, the events, and a holder inside the module's
// lock until let go; answers the holder, nullptr when the module or the lock could not be had.
HANDLE StartChildsHolder(TModuleEntries& entries) {
  if (!entries.Complete()) return nullptr;
  gEntries = &entries;
  gLockTaken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gGoOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  gHow = THold::SuspendedThenLetGo;
  HANDLE holder = CreateThread(nullptr, 0, &Hold, nullptr, 0, nullptr);
  return WaitForSingleObject(gLockTaken, MachineBound(10000)) == WAIT_OBJECT_0 ? holder : nullptr;
}

}  // namespace

// The child half: the host keeps the holder suspended while a look at it pauses at its end, as
// KBL_RESUMPTION says, and another waiter and the module's watch could take the look over; the
// holder's count must end where the host left it.
TEST(MemoryManager, ResumptionChild) {
  const char* how = std::getenv("KBL_RESUMPTION");
  if (how == nullptr) GTEST_SKIP() << "the child half of a test";
  const std::string way = how;
  const bool slowed = way == "slowed before it resumes the holder";
  const bool refused = way == "its suspension refused, kept suspended at its end";
  const bool stopped = way == "kept suspended before it resumes the holder";
  ASSERT_GE(SuspendCountOf(GetCurrentThread()), 0) << "the system cannot tell a thread's suspension count";
  TModuleEntries entries;
  HANDLE holder = StartChildsHolder(entries);
  ASSERT_NE(holder, nullptr);
  // The host's own suspension; to the count's limit when the look's is to be refused.
  for (int i = 0; i < (refused ? 1000 : 1) && SuspendThread(holder) != static_cast<DWORD>(-1); ++i) {
  }
  const LONG hosts = SuspendCountOf(holder);
  entries.PauseNextLook(static_cast<int>(kbl_detail::TLookPause::BeforeResumption));
  bool served[2] = {};
  HANDLE looker = CreateThread(nullptr, 0, &RoundTripThread, &served[0], 0, nullptr);
  for (const DWORD start = GetTickCount(); !entries.LookPaused() && GetTickCount() - start < MachineBound(5000);)
    Sleep(1);
  ASSERT_TRUE(entries.LookPaused()) << "the waiter never looked";
  HANDLE other = nullptr;
  if (slowed) {
    other = CreateThread(nullptr, 0, &RoundTripThread, &served[1], 0, nullptr);
    EXPECT_TRUE(StaysSuspended(holder, hosts + 1, 800)) << "the look's suspension resumed before the look resumes it";
  } else if (refused || stopped) {
    ASSERT_TRUE(StopThread(looker));  // the watch takes the stopped look over
    EXPECT_TRUE(SuspendedWithin(holder, hosts, 1000)) << "the stopped look was not taken over";
    EXPECT_TRUE(StaysSuspended(holder, hosts, 1000)) << "the host's suspension ended by the look's taker";
    ResumeThread(looker);
  } else {
    EXPECT_TRUE(SuspendedWithin(holder, hosts, 3000)) << "a look held up in its resumption leaves the holder suspended";
  }
  entries.LetPausedLookGo();
  for (const DWORD start = GetTickCount(); entries.LookPaused() && GetTickCount() - start < MachineBound(5000);)
    Sleep(1);
  EXPECT_TRUE(StaysSuspended(holder, hosts, 300)) << "the host's suspension ended";
  // The waiters still wait for the suspended holder, and each later look suspends it once more for
  // its moment: the count is where the host left it between those looks.
  EXPECT_TRUE(SuspendedWithin(holder, hosts, MachineBound(1000))) << "the holder's count not where the host left it";
  while (ResumeThread(holder) > 1) {
  }
  SetEvent(gGoOn);
  bool done = true;
  for (HANDLE thread : {holder, looker, other})
    done = done && (thread == nullptr || WaitForSingleObject(thread, MachineBound(5000)) == WAIT_OBJECT_0);
  EXPECT_TRUE(done) << "the holder or a waiter never ends";
  EndChild(done);
}

// A look's one suspension of the holder is resumed once, and the host's own suspension of it is
// never ended by a look's end: when the look is slowed just before it resumes the holder while
// another waiter and the watch find its turn unchanged; when its suspension was refused (the
// host's at the count's limit), or made, and it is kept suspended there until the watch takes it
// over, then goes on; and when it is held up there for seconds, taken over all the same (the
// look's suspension resumed), then goes on.
TEST(MemoryManager, ALooksSuspensionIsResumedOnceAndTheHostsNever) {
  RunChildHalves("ResumptionChild", "KBL_RESUMPTION",
                 {"slowed before it resumes the holder", "its suspension refused, kept suspended at its end",
                  "held up before it resumes the holder", "kept suspended before it resumes the holder"});
}

namespace {

// The thread whose end, once it is named here, holds the module's lock inside until let go: its
// end's notifications run under the system's loader lock (as a host's thread-storage destructor
// that frees).
std::atomic<DWORD> gHoldAtEndOf{0};
void NTAPI HoldAtThreadEnd(PVOID, DWORD reason, PVOID) {
  if (reason != DLL_THREAD_DETACH || gHoldAtEndOf.load() != GetCurrentThreadId()) return;
  gEntries->RunHoldingLock([] {
    SetEvent(gLockTaken);
    WaitForSingleObject(gGoOn, INFINITE);
  });
}
__attribute__((section(".CRT$XLF"), used)) PIMAGE_TLS_CALLBACK gHoldAtThreadEnd = &HoldAtThreadEnd;

// Holds the module's lock inside until let go while it holds the host's lock that every thread's
// start takes from then on.
DWORD WINAPI HoldUnderHostLock(void*) {
  EnterCriticalSection(&gHostLock);
  gHostLockAt = DLL_THREAD_ATTACH;
  Hold(nullptr);
  LeaveCriticalSection(&gHostLock);
  return 0;
}

// The owner of the system's loader lock (named in the process's environment block).
DWORD LoaderLockOwner() {
  const uint8_t* environment;
  asm("movl %%fs:0x30, %0" : "=r"(environment));
  const auto* lock = *reinterpret_cast<const volatile CRITICAL_SECTION* const*>(environment + 0xA0);
  return static_cast<DWORD>(reinterpret_cast<uintptr_t>(lock->OwningThread));
}

std::atomic<bool> gStopCalling{false};
HANDLE gCallNow = nullptr;

// Calls the module until told to stop: a holder found kept suspended is looked at again every
// tenth of a second.
DWORD WINAPI CallUntilStopped(void*) {
  SetEvent(gWaiterStarted);
  WaitForSingleObject(gCallNow, INFINITE);
  while (!gStopCalling.load()) gEntries->RoundTrip();
  return 0;
}

// Stops `looker` while `holder` is suspended `count` times, the last by the looker's look; false
// when that never came within `milliseconds`.
bool CatchLookAt(HANDLE looker, HANDLE holder, LONG count, DWORD milliseconds = MachineBound(10000)) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < milliseconds;) {
    if (SuspendCountOf(holder) != count) continue;
    if (StopThread(looker) && SuspendCountOf(holder) == count) return true;
    ResumeThread(looker);
  }
  return false;
}

}  // namespace

// The child half: a holder inside until let go, a look at it stopped, and the host's own
// suspension of it changed meanwhile, or the holder under the loader lock or a host's lock that
// thread starts take, as KBL_HOLDER says.
// The holder must run again within a second of the host letting it go.
TEST(MemoryManager, SuspendedHolderChild) {
  const char* how = std::getenv("KBL_HOLDER");
  if (how == nullptr) GTEST_SKIP() << "the child half of a test";
  const std::string way = how;
  ASSERT_GE(SuspendCountOf(GetCurrentThread()), 0) << "the system cannot tell a thread's suspension count";
  TModuleEntries entries;
  ASSERT_TRUE(entries.Complete());
  gEntries = &entries;
  gLockTaken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gGoOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  gCallNow = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  // Made before the holder may hold the loader lock, which a thread's start waits for.
  gWaiterStarted = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE waiter = CreateThread(nullptr, 0, &CallUntilStopped, nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(gWaiterStarted, MachineBound(10000)), WAIT_OBJECT_0);
  gHow = THold::SuspendedThenLetGo;
  DWORD holderId = 0;
  const bool atEnd = way == "under the loader lock";
  const bool underHostLock = way == "holding a host's lock that every thread's start takes";
  InitializeCriticalSection(&gHostLock);
  HANDLE holder = CreateThread(nullptr, 0, atEnd ? &EndAtOnce : underHostLock ? &HoldUnderHostLock : &Hold, nullptr,
                               CREATE_SUSPENDED, &holderId);
  if (atEnd) gHoldAtEndOf = holderId;
  ResumeThread(holder);
  ASSERT_EQ(WaitForSingleObject(gLockTaken, MachineBound(10000)), WAIT_OBJECT_0);
  if (atEnd || underHostLock) {
    if (atEnd) ASSERT_EQ(LoaderLockOwner(), holderId);
    SetEvent(gCallNow);
    // The waiter's first sleep starts the module's watch, whose start waits for the holder's
    // lock: no look suspends the holder while no watch runs that would resume it.
    EXPECT_FALSE(CatchLookAt(waiter, holder, 1, 2000)) << "a look suspended the holder while no watch ran";
    KillThread(waiter, 1);
  } else if (way == "suspended by the host while the look is stopped before its own") {
    entries.PauseNextLook(static_cast<int>(kbl_detail::TLookPause::BeforeSuspension));
    SetEvent(gCallNow);
    for (const DWORD start = GetTickCount(); !entries.LookPaused() && GetTickCount() - start < MachineBound(5000);)
      Sleep(1);
    ASSERT_TRUE(entries.LookPaused()) << "the waiter never looked";
    SuspendThread(holder);  // the host freezes its threads
    Sleep(1000);            // the watch takes the stopped look over meanwhile
    EXPECT_EQ(SuspendCountOf(holder), 1) << "the host's suspension was undone";
    ResumeThread(holder);
    entries.LetPausedLookGo();
    for (const DWORD start = GetTickCount(); entries.LookPaused() && GetTickCount() - start < MachineBound(5000);)
      Sleep(1);
  } else {  // let go by the host while a look at it is stopped
    SuspendThread(holder);
    SetEvent(gCallNow);
    EXPECT_TRUE(CatchLookAt(waiter, holder, 2)) << "the waiter never suspended the holder";
    ResumeThread(holder);
  }
  EXPECT_TRUE(RunsAgainWithin(holder, 1500)) << "the holder stays suspended";
  if (!atEnd && !underHostLock) ResumeThread(waiter);
  EXPECT_TRUE(RunsAgainWithin(holder, 1000)) << "the holder stays suspended once the looker runs again";
  SetEvent(gGoOn);
  gStopCalling = true;
  const bool done = WaitForSingleObject(holder, MachineBound(5000)) == WAIT_OBJECT_0 &&
                    WaitForSingleObject(waiter, MachineBound(5000)) == WAIT_OBJECT_0;
  EXPECT_TRUE(done) << "the holder or the waiter never ends";
  EndChild(done);
}

// A holder that a look suspended runs again within a second once the host lets it go, and the
// host's own suspension of it is not undone: when the host suspends it while a look is stopped
// before its suspension (a freeze of the program's threads), or lets it go while a look that
// suspended it once more is stopped. When it holds the system's loader lock, or a host's lock
// that every thread's start takes, as the module's first wait begins, no watch over looks can
// start: no look suspends it then, and a waiter stopped meanwhile leaves it running.
TEST(MemoryManager, AHolderALookLeftSuspendedRunsAgainWhateverTheHostDoes) {
  RunChildHalves("SuspendedHolderChild", "KBL_HOLDER",
                 {"suspended by the host while the look is stopped before its own",
                  "let go by the host while a look at it is stopped", "under the loader lock",
                  "holding a host's lock that every thread's start takes"});
}

// The child half: sixteen looks at a live holder stay stopped (each taken over, the holder running
// again), then the next holder is killed inside and a new thread takes its id.
TEST(MemoryManager, StoppedLooksChild) {
  if (std::getenv("KBL_STOPPED_LOOKS") == nullptr) GTEST_SKIP() << "the child half of a test";
  TModuleEntries entries;
  HANDLE holder = StartChildsHolder(entries);
  ASSERT_NE(holder, nullptr);
  bool served = true;
  for (int i = 0; i < 16; ++i) {
    entries.PauseNextLook(static_cast<int>(kbl_detail::TLookPause::CountUnwritten));
    CreateThread(nullptr, 0, &RoundTripThread, &served, 0, nullptr);
    ASSERT_TRUE(SuspendedWithin(holder, 1, MachineBound(5000)) && RunsAgainWithin(holder, 2000)) << "look " << i;
  }
  SetEvent(gGoOn);
  ASSERT_EQ(WaitForSingleObject(holder, MachineBound(5000)), WAIT_OBJECT_0);
  ResetEvent(gGoOn);
  gHow = THold::KilledIdReused;
  StartHolder();
  EXPECT_FALSE(RoundTripOnAnotherThread()) << "the chunks not given up";
  std::fflush(stdout);
  // The stopped looks would go on.
  TerminateProcess(GetCurrentProcess(), ::testing::UnitTest::GetInstance()->current_test_info()->result()->Failed());
}

// A holder killed inside, its id taken by a new thread, is not waited for while many looks at
// another holder stay stopped (their threads kept suspended by the host).
TEST(MemoryManager, ADeadHolderIsToldWhileManyLooksStayStopped) {
  const TChildRun run =
      RunChildProcess("--gtest_filter=MemoryManager.StoppedLooksChild", {{"KBL_STOPPED_LOOKS", "1"}}, 25000);
  ASSERT_TRUE(run.Started);
  EXPECT_TRUE(run.Ended) << "a call waits for ever for a dead holder";
  EXPECT_EQ(run.ExitCode, 0u);
}

// The child half: the lock's holder is killed inside, then a thread ends while the module
// allocates at every thread's end (as thread-storage destructors do, under the system's loader
// lock, which holds back the start of any new thread).
TEST(MemoryManager, ThreadEndChild) {
  if (std::getenv("KBL_THREAD_END_CHILD") == nullptr) GTEST_SKIP() << "the child half of a test";
  TModuleEntries entries;
  ASSERT_TRUE(entries.Complete());
  gEntries = &entries;
  gLockTaken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gHow = THold::KilledInside;
  StartHolder();
  entries.RoundTripAtThreadEnds();
  HANDLE thread = CreateThread(nullptr, 0, &EndAtOnce, nullptr, 0, nullptr);
  ExitProcess(WaitForSingleObject(thread, MachineBound(10000)) == WAIT_OBJECT_0 ? 7 : 1);
}

// A call under the system's loader lock is not left waiting for a holder that will never give
// the lock back: it looks at the holder itself.
TEST(MemoryManager, ACallUnderTheLoadersLockIsNotLeftWaiting) {
  const TChildRun run =
      RunChildProcess("--gtest_filter=MemoryManager.ThreadEndChild", {{"KBL_THREAD_END_CHILD", "1"}}, 20000);
  ASSERT_TRUE(run.Started);
  EXPECT_TRUE(run.Ended) << "the thread's end waits for ever";
  EXPECT_EQ(run.ExitCode, 7u);
}

namespace {

// Calls `body` on the stack whose top is `top`, as a coroutine on a stack it allocated runs: the
// thread's information block still names the stack the system gave it.
__attribute__((noinline)) void CallOnStack(char* top, void (*body)()) {
  asm volatile(
      "movl %%esp, %%esi\n\t"
      "movl %0, %%esp\n\t"
      "andl $-16, %%esp\n\t"
      "call *%1\n\t"
      "movl %%esi, %%esp\n\t"
      :
      : "r"(top), "r"(body)
      : "esi", "eax", "ecx", "edx", "memory", "cc");
}

std::atomic<bool> gBelow{false};  // the stack lies below the thread's own, else above it

// A stack of 128 KB below the one the system gave the calling thread, or above it; answers its
// top, nullptr when none could be had there.
char* OtherStack() {
  constexpr SIZE_T kSize = 128 * 1024;
  const NT_TIB* tib;
  asm("movl %%fs:0x18, %0" : "=r"(tib));
  if (!gBelow) {
    auto* stack = static_cast<char*>(VirtualAlloc(nullptr, kSize, MEM_RESERVE | MEM_COMMIT | MEM_TOP_DOWN, PAGE_READWRITE));
    return stack != nullptr && stack > static_cast<char*>(tib->StackBase) ? stack + kSize - 64 : nullptr;
  }
  const auto limit = reinterpret_cast<uintptr_t>(tib->StackLimit);
  for (uintptr_t at = 0x10000; at + kSize <= limit; at += 0x10000)
    if (void* stack = VirtualAlloc(reinterpret_cast<void*>(at), kSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))
      return static_cast<char*>(stack) + kSize - 64;
  return nullptr;
}

// On a stack of its own making: below its own, holds the lock inside until let go; above it, takes
// the lock and leaves the code without giving it back, then waits to be let go.
DWORD WINAPI HoldOnOtherStack(void*) {
  char* top = OtherStack();
  if (top == nullptr) return 1;
  CallOnStack(top, [] {
    if (gBelow) {
      gEntries->RunHoldingLock([] {
        SetEvent(gLockTaken);
        WaitForSingleObject(gGoOn, INFINITE);
      });
    } else {
      gEntries->HoldLock();
      SetEvent(gLockTaken);
      WaitForSingleObject(gGoOn, INFINITE);
    }
  });
  return 0;
}

}  // namespace

// The child half: the lock's holder runs on a stack of its own making, below or above the one the
// system gave it (KBL_OTHER_STACK), inside the code or gone from it; a waiter must be done within
// 5 s, and one waiting for a holder inside is served by the chunks once it gives the lock back.
TEST(MemoryManager, OtherStackChild) {
  const char* how = std::getenv("KBL_OTHER_STACK");
  if (how == nullptr) GTEST_SKIP() << "the child half of a test";
  gBelow = std::string(how) == "below";
  TModuleEntries entries;
  ASSERT_TRUE(entries.Complete());
  gEntries = &entries;
  gLockTaken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gGoOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE holder = CreateThread(nullptr, 0, &HoldOnOtherStack, nullptr, 0, nullptr);
  HANDLE events[] = {gLockTaken, holder};
  ASSERT_EQ(WaitForMultipleObjects(2, events, FALSE, MachineBound(10000)), WAIT_OBJECT_0) << "no stack could be had";
  bool served = false;
  HANDLE waiter = CreateThread(nullptr, 0, &RoundTripThread, &served, 0, nullptr);
  if (gBelow) {
    Sleep(500);  // the waiter looks meanwhile
    SetEvent(gGoOn);
    EXPECT_EQ(WaitForSingleObject(waiter, MachineBound(5000)), WAIT_OBJECT_0) << "the waiter never ends";
    EXPECT_TRUE(served) << "a holder inside the code taken for gone: the chunks given up";
  } else {
    EXPECT_EQ(WaitForSingleObject(waiter, MachineBound(5000)), WAIT_OBJECT_0)
        << "a waiter waits for ever for a holder gone from the code onto another stack";
  }
  std::fflush(stdout);
  TerminateProcess(GetCurrentProcess(), ::testing::UnitTest::GetInstance()->current_test_info()->result()->Failed());
}

// A holder that runs on a stack of its own making (a coroutine's, which its thread's information
// block does not name) is judged by its frame as any other: gone from the code, it is not waited
// for for ever; inside, it is never taken for gone.
TEST(MemoryManager, AHolderOnAStackOfItsOwnMakingIsJudgedByItsFrame) {
  RunChildHalves("OtherStackChild", "KBL_OTHER_STACK", {"above", "below"}, 20000);
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
  gHow = THold::RunningInside;
  CreateThread(nullptr, 0, &Hold, nullptr, 0, nullptr);
  WaitForSingleObject(gLockTaken, MachineBound(10000));
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
