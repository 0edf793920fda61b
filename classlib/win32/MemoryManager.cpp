// The small-block memory manager of Windows modules, and the global new and delete built on it.
#include "classlib/MemoryManager.h"

#include <windows.h>
#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#if UINTPTR_MAX == 0xFFFFFFFFu
#define KBL_SMALL_BLOCKS 1
#else
#define KBL_SMALL_BLOCKS 0
#endif

namespace {

// A block of the C heap: larger blocks, and every block where chunks cannot be had; nullptr
// when the heap has no memory left.
void* HeapBlock(std::size_t size) noexcept { return std::malloc(size != 0 ? size : 1); }

}  // namespace

#if KBL_SMALL_BLOCKS

namespace {

// A chunk is one allocation of the system's granularity (64 KB), so it starts on a 64 KB
// boundary: a block finds its chunk by clearing the low 16 bits of its address, and one byte a
// chunk-sized slot of the 4 GB address space says whether a chunk of ours lies there.
constexpr uintptr_t kChunkSize = 64 * 1024;
constexpr uintptr_t kChunkMask = ~(kChunkSize - 1);
constexpr uint32_t kHeaderSize = 64;  // keeps blocks 16-byte aligned
constexpr std::size_t kMaxSmall = 4096;
constexpr std::size_t kMaxEmptyChunks = 256;  // 16 MB kept for reuse at most

// Size classes: 16-byte steps to 256, 64-byte steps to 1 KB, 256-byte steps to 4 KB.
constexpr int kClassCount = 16 + 12 + 12;

constexpr uint32_t ClassSize(int index) {
  if (index < 16) return static_cast<uint32_t>(16 * (index + 1));
  if (index < 28) return static_cast<uint32_t>(256 + 64 * (index - 15));
  return static_cast<uint32_t>(1024 + 256 * (index - 27));
}

// The class of every size, in 16-byte steps (index (size + 15) / 16).
constexpr std::array<uint8_t, kMaxSmall / 16 + 1> MakeClassOf() {
  std::array<uint8_t, kMaxSmall / 16 + 1> classOf{};
  int index = 0;
  for (std::size_t step = 0; step <= kMaxSmall / 16; ++step) {
    while (ClassSize(index) < step * 16) ++index;
    classOf[step] = static_cast<uint8_t>(index);
  }
  return classOf;
}
constexpr std::array<uint8_t, kMaxSmall / 16 + 1> kClassOf = MakeClassOf();
static_assert(ClassSize(kClassCount - 1) == kMaxSmall);

struct TChunk {
  TChunk* prev;      // in its class's list of chunks with room (or the list of empty chunks)
  TChunk* next;
  void* freed;       // blocks given back, each holding the next
  uint32_t fresh;    // offset of the first block never handed out
  // Blocks handed out and not given back. Changed under the lock; once the chunks are given up,
  // counted down without it by the blocks' frees (a count the lost holder may still change can
  // only come out too high), so that a chunk known empty can go back to the system at the end.
  std::atomic<uint32_t> live;
  uint32_t blockSize;
  uint8_t sizeClass;
  bool listed;       // in its class's list of chunks with room
};
static_assert(sizeof(TChunk) <= kHeaderSize);

struct TState {
  std::atomic<DWORD> owner;  // the thread holding the lock, 0 when none
  // The lock's holder was found gone without giving it back: the chunks may be half changed and
  // are left alone for good. Read after every take of the lock, so it shares the lock's line.
  std::atomic<bool> abandoned;
  // Parking guards open on the holder's thread: it waits for the processing of an exception
  // raised under the lock.
  std::atomic<int32_t> parked;
  TChunk* withRoom[kClassCount];
  TChunk* empty;
  std::size_t emptyCount;
  std::size_t chunkCount;
  std::size_t liveBlocks;
  // The module's detach has begun (its finalisers run from here on), and when, by GetTickCount.
  std::atomic<bool> ending;
  std::atomic<DWORD> endingSince;
};

// Constant-initialised (all zero): usable before any static constructor
// of the module runs and after the last destructor.
TState gState;
std::atomic<uint8_t> gOwned[1u << 16];

bool Owns(const void* block) {
  return gOwned[reinterpret_cast<uintptr_t>(block) >> 16].load(std::memory_order_relaxed) != 0;
}

TChunk* ChunkOf(const void* block) { return reinterpret_cast<TChunk*>(reinterpret_cast<uintptr_t>(block) & kChunkMask); }

uint32_t Live(const TChunk* chunk) { return chunk->live.load(std::memory_order_relaxed); }
void SetLive(TChunk* chunk, uint32_t live) { chunk->live.store(live, std::memory_order_relaxed); }

void MarkEnding() {
  if (gState.ending.load(std::memory_order_relaxed)) return;
  gState.endingSince.store(GetTickCount(), std::memory_order_relaxed);
  gState.ending.store(true, std::memory_order_release);
}

// A second by the clock since the module's detach began (a count of sleeps would last fifteen
// times as long where the system's timer ticks every 15.6 ms).
bool EndingBoundPassed() {
  return gState.ending.load(std::memory_order_acquire) &&
         GetTickCount() - gState.endingSince.load(std::memory_order_relaxed) >= 1000;
}

// The lock just taken, unless the chunks were given up meanwhile (then it is given back at once).
bool KeepTaken() {
  if (!gState.abandoned.load(std::memory_order_relaxed)) return true;
  gState.owner.store(0, std::memory_order_release);
  return false;
}

// The calling thread's id, read from its information block where the system keeps it (what
// GetCurrentThreadId does, without the call).
DWORD CurrentThreadId() {
#if defined(__i386__)
  DWORD id;
  asm("movl %%fs:0x24, %0" : "=r"(id));
  return id;
#else
  return GetCurrentThreadId();
#endif
}

// The lock was taken by another thread: spins briefly, then yields, then sleeps, so that a holder
// of lower priority gets to run, and answers whether it took the lock. It answers false instead
// of waiting for ever:
// - when the lock is its own thread's already (a fault inside the memory manager whose handler
//   allocates);
// - when the holder waits for the processing of an exception raised under the lock;
// - when the holder is kept suspended or is gone (see LookAtLockHolder), found so at two looks in
//   a row (a suspension of a moment, as a sampling profiler's, is not worth a block); a holder
//   gone makes the chunks given up for good, since it may have left them half changed;
// - a second after the module's detach began.
__attribute__((noinline)) bool WaitForLock(DWORD self, DWORD holder) {
  TLockHolderLooks looks;
  for (int i = 0;; ++i) {
    if (holder == 0) {
      if (gState.owner.compare_exchange_weak(holder, self, std::memory_order_acquire)) return KeepTaken();
      continue;
    }
    if (holder == self || gState.abandoned.load(std::memory_order_relaxed) ||
        gState.parked.load(std::memory_order_relaxed) > 0)
      return false;
    if (i < 64) {
      _mm_pause();
    } else if (i < 128) {
      SwitchToThread();
    } else {
      if (EndingBoundPassed()) return false;
      // Not at the first sleep: looking suspends the holder, which a busy lock's holder (ready to
      // run, given back in a moment) should be spared.
      if ((i & 15) == 0 && i > 128) {
        const TLockHolder look = looks.Look(holder, gState.owner);
        if (look == TLockHolder::Gone) gState.abandoned.store(true, std::memory_order_relaxed);
        if (look != TLockHolder::Inside) return false;
      }
      Sleep(1);
    }
    holder = gState.owner.load(std::memory_order_relaxed);
  }
}

// Holds the lock: the holder's thread id set with one compare-and-exchange, since a lock of the
// system costs several times the rest of an allocation. The frame stands on the stack for the
// whole time, so that a waiter can tell a holder inside from one that is gone. Not held when the
// waiting gave up (see WaitForLock).
class TLock {
 public:
  TLock() : frame_(&gState.owner) {
    const DWORD self = CurrentThreadId();
    DWORD holder = 0;
    held_ = gState.owner.compare_exchange_strong(holder, self, std::memory_order_acquire) ? KeepTaken()
                                                                                          : WaitForLock(self, holder);
  }
  ~TLock() {
    if (held_) gState.owner.store(0, std::memory_order_release);
  }
  TLock(const TLock&) = delete;
  TLock& operator=(const TLock&) = delete;
  bool Held() const { return held_; }

 private:
  TLockFrame frame_;
  bool held_;
};

void Unlink(TChunk*& head, TChunk* chunk) {
  if (chunk->prev != nullptr) chunk->prev->next = chunk->next;
  else head = chunk->next;
  if (chunk->next != nullptr) chunk->next->prev = chunk->prev;
  chunk->prev = chunk->next = nullptr;
}

void Push(TChunk*& head, TChunk* chunk) {
  chunk->prev = nullptr;
  chunk->next = head;
  if (head != nullptr) head->prev = chunk;
  head = chunk;
}

void GiveBack(TChunk* chunk) {
  gOwned[reinterpret_cast<uintptr_t>(chunk) >> 16].store(0, std::memory_order_relaxed);
  --gState.chunkCount;
  VirtualFree(chunk, 0, MEM_RELEASE);
}

// A chunk for blocks of one class, put at the head of the class's list: an empty one kept for
// reuse, else a new one; nullptr when the system has no memory left.
TChunk* AddChunk(int sizeClass) {
  TChunk* chunk = gState.empty;
  if (chunk != nullptr) {
    Unlink(gState.empty, chunk);
    --gState.emptyCount;
  } else {
    chunk = static_cast<TChunk*>(VirtualAlloc(nullptr, kChunkSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (chunk == nullptr) return nullptr;
    gOwned[reinterpret_cast<uintptr_t>(chunk) >> 16].store(1, std::memory_order_relaxed);
    ++gState.chunkCount;
  }
  chunk->freed = nullptr;
  chunk->fresh = kHeaderSize;
  SetLive(chunk, 0);
  chunk->blockSize = ClassSize(sizeClass);
  chunk->sizeClass = static_cast<uint8_t>(sizeClass);
  chunk->listed = true;
  Push(gState.withRoom[sizeClass], chunk);
  return chunk;
}

bool IsFull(const TChunk* chunk) { return chunk->freed == nullptr && chunk->fresh + chunk->blockSize > kChunkSize; }

// A small block, or nullptr when no chunk could be had (the caller then asks the C heap).
void* AllocateSmall(std::size_t size) {
  const int sizeClass = kClassOf[(size + 15) / 16];
  TLock lock;
  if (!lock.Held()) return nullptr;
  TChunk* chunk = gState.withRoom[sizeClass];
  if (chunk == nullptr && (chunk = AddChunk(sizeClass)) == nullptr) return nullptr;
  void* block;
  if (chunk->freed != nullptr) {
    block = chunk->freed;
    chunk->freed = *static_cast<void**>(block);
  } else {
    block = reinterpret_cast<char*>(chunk) + chunk->fresh;
    chunk->fresh += chunk->blockSize;
  }
  SetLive(chunk, Live(chunk) + 1);
  ++gState.liveBlocks;
  if (IsFull(chunk)) {
    Unlink(gState.withRoom[sizeClass], chunk);
    chunk->listed = false;
  }
  return block;
}

// A chunk of the chunks given up whose blocks are all freed goes back to the system. Only here, at
// the module's end: a free that counts a chunk down to nothing does not give it back itself, so
// that one thread alone reads the counts of chunks that go.
void GiveBackGivenUpChunks() {
  for (uintptr_t slot = 1; slot < (1u << 16); ++slot) {
    if (gOwned[slot].load(std::memory_order_relaxed) == 0) continue;
    auto* chunk = reinterpret_cast<TChunk*>(slot << 16);
    if (Live(chunk) != 0) continue;
    gOwned[slot].store(0, std::memory_order_relaxed);
    VirtualFree(chunk, 0, MEM_RELEASE);
  }
}

void FreeOwned(void* block) {
  TLock lock;
  if (!lock.Held()) {
    // The lock is lost or its holder waits: the block stays where it is, counted once the chunks
    // are given up.
    if (gState.abandoned.load(std::memory_order_relaxed)) ChunkOf(block)->live.fetch_sub(1, std::memory_order_relaxed);
    return;
  }
  TChunk* chunk = ChunkOf(block);
  const int sizeClass = chunk->sizeClass;
  *static_cast<void**>(block) = chunk->freed;
  chunk->freed = block;
  SetLive(chunk, Live(chunk) - 1);
  --gState.liveBlocks;
  if (!chunk->listed) {
    Push(gState.withRoom[sizeClass], chunk);
    chunk->listed = true;
  }
  if (Live(chunk) != 0) return;
  Unlink(gState.withRoom[sizeClass], chunk);
  chunk->listed = false;
  if (gState.ending || gState.emptyCount >= kMaxEmptyChunks) {
    GiveBack(chunk);
    return;
  }
  Push(gState.empty, chunk);
  ++gState.emptyCount;
}

// Destroyed with the module's statics, the last of its finalisers to touch the chunks: gives the
// kept chunks back, or, when the chunks were given up, those whose blocks are all freed. Every
// chunk that falls empty later goes at once.
struct TModuleEnd {
  constexpr TModuleEnd() = default;
  ~TModuleEnd() {
    MarkEnding();  // for a program, whose detach comes after its finalisers
    {
      TLock lock;
      if (lock.Held()) {
        while (TChunk* chunk = gState.empty) {
          Unlink(gState.empty, chunk);
          GiveBack(chunk);
        }
        gState.emptyCount = 0;
      }
    }
    if (gState.abandoned.load(std::memory_order_relaxed)) GiveBackGivenUpChunks();
  }
};
TModuleEnd gModuleEnd;

// The module's detach begins: the system calls a module's thread-storage callbacks before its
// entry point, and the entry point runs the finalisers. From here every wait for the lock is
// bounded, so that no finaliser waits for ever on a holder that never gives it back.
void NTAPI MarkEndAtDetach(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_PROCESS_DETACH) MarkEnding();
}
__attribute__((section(".CRT$XLB"), used)) PIMAGE_TLS_CALLBACK gMarkEndAtDetach = &MarkEndAtDetach;

}  // namespace

void* TryGetMem(std::size_t size) noexcept {
  if (size <= kMaxSmall && !gState.abandoned.load(std::memory_order_relaxed)) {
    if (void* block = AllocateSmall(size)) return block;
  }
  return HeapBlock(size);
}

void FreeMem(void* block) noexcept {
  if (block == nullptr) return;
  if (Owns(block)) FreeOwned(block);
  else std::free(block);
}

bool FreeSmallBlock(void* block) noexcept {
  if (block == nullptr || !Owns(block)) return false;
  FreeOwned(block);
  return true;
}

// The chunk's block size stays as it is while the chunk holds a live block, which the caller's
// address is part of: no lock is needed to read it.
void* SmallBlockOf(const void* address) noexcept {
  if (address == nullptr || !Owns(address)) return nullptr;
  const TChunk* chunk = ChunkOf(address);
  const uintptr_t offset = reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(chunk);
  if (offset < kHeaderSize) return nullptr;
  return reinterpret_cast<char*>(const_cast<TChunk*>(chunk)) + offset - (offset - kHeaderSize) % chunk->blockSize;
}

TMemoryManagerState GetMemoryManagerState() {
  TLock lock;
  TMemoryManagerState state;
  state.chunks = gState.chunkCount;
  state.emptyChunks = gState.emptyCount;
  state.smallBlocks = gState.liveBlocks;
  return state;
}

bool SmallBlocksEnabled() { return true; }

uint32_t MemoryManagerLockHolder() { return gState.owner.load(std::memory_order_relaxed); }

// Only the holder parks the lock, and only one thread holds it; a guard inside another (an entry
// nested in the processing, on the same thread) must not end the outer one's parking: a count.
TMemoryManagerHolderWaits::TMemoryManagerHolderWaits() noexcept
    : parked_(gState.owner.load(std::memory_order_relaxed) == GetCurrentThreadId()) {
  if (parked_) gState.parked.fetch_add(1, std::memory_order_relaxed);
}

TMemoryManagerHolderWaits::~TMemoryManagerHolderWaits() {
  if (parked_) gState.parked.fetch_sub(1, std::memory_order_relaxed);
}

namespace kbl_detail {

void HoldMemoryManagerLock() {
  const DWORD self = GetCurrentThreadId();
  for (DWORD free = 0; !gState.owner.compare_exchange_weak(free, self, std::memory_order_acquire); free = 0) Sleep(1);
}

bool RunHoldingMemoryManagerLock(void (*body)(void*), void* data) {
  TLock lock;
  if (!lock.Held()) return false;
  body(data);
  return true;
}

}  // namespace kbl_detail

#else  // 64-bit: the C heap serves every block

void* TryGetMem(std::size_t size) noexcept { return HeapBlock(size); }

void FreeMem(void* block) noexcept { std::free(block); }

bool FreeSmallBlock(void*) noexcept { return false; }

void* SmallBlockOf(const void*) noexcept { return nullptr; }

TMemoryManagerState GetMemoryManagerState() { return {}; }

bool SmallBlocksEnabled() { return false; }

uint32_t MemoryManagerLockHolder() { return 0; }

TMemoryManagerHolderWaits::TMemoryManagerHolderWaits() noexcept = default;
TMemoryManagerHolderWaits::~TMemoryManagerHolderWaits() = default;

namespace kbl_detail {

void HoldMemoryManagerLock() {}

bool RunHoldingMemoryManagerLock(void (*body)(void*), void* data) {
  body(data);
  return true;
}

}  // namespace kbl_detail

#endif

// --- Holders of a lock word

uint32_t LockOwnerId() noexcept { return GetCurrentThreadId(); }

#if defined(__i386__)

int TLockFrame::Handle(void*, void*, void*, void*) noexcept { return ExceptionContinueSearch; }

namespace {

// The system's own entries that looking at a holder needs, found before any thread is suspended
// (finding them takes the loader's lock, which the suspended thread may hold). ResumeThread is
// the system's, not the import this module's exception library may have replaced: that one
// records the resumption, and allocates.
struct TThreadEntries {
  DWORD(WINAPI* Resume)(HANDLE);
  LONG(WINAPI* QueryThread)(HANDLE, ULONG, void*, ULONG, ULONG*);
};

const TThreadEntries* ThreadEntries() {
  static std::atomic<const TThreadEntries*> found{nullptr};
  static TThreadEntries entries;
  if (const TThreadEntries* known = found.load(std::memory_order_acquire)) return known;
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  HMODULE system = GetModuleHandleA("ntdll.dll");
  if (kernel == nullptr || system == nullptr) return nullptr;
  entries.Resume = reinterpret_cast<decltype(entries.Resume)>(GetProcAddress(kernel, "ResumeThread"));
  entries.QueryThread =
      reinterpret_cast<decltype(entries.QueryThread)>(GetProcAddress(system, "NtQueryInformationThread"));
  if (entries.Resume == nullptr || entries.QueryThread == nullptr) return nullptr;
  found.store(&entries, std::memory_order_release);
  return &entries;
}
// Found when the module loads, so that a waiter need not take the loader's lock.
const bool gThreadEntriesFound = ThreadEntries() != nullptr;

// One look at a time in the module: a thread that another waiter suspended to look at it must not
// be taken for one kept suspended.
std::atomic<bool> gLooking{false};

// The first fields of what the system answers about a thread (its basic information).
struct TThreadBasics {
  LONG ExitStatus;
  NT_TIB* Tib;  // the thread's information block, in this process
  ULONG_PTR ProcessId, ThreadId, Affinity;
  LONG Priority, BasePriority;
};

}  // namespace

TLockHolder LookAtLockHolder(uint32_t holder, const void* lock) noexcept {
  const TThreadEntries* entries = ThreadEntries();
  if (entries == nullptr || gLooking.exchange(true, std::memory_order_acquire)) return TLockHolder::Inside;
  struct TLookDone {
    ~TLookDone() { gLooking.store(false, std::memory_order_release); }
  } done;
  HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION,
                             FALSE, holder);
  if (thread == nullptr) {
    // No thread has the id, or the one with it is another process's, which does not let us in.
    const DWORD error = GetLastError();
    return error == ERROR_INVALID_PARAMETER || error == ERROR_ACCESS_DENIED ? TLockHolder::Gone : TLockHolder::Inside;
  }
  // The thread is suspended and its stack pointer is `stackPointer`: its exception registrations
  // are followed from its information block while they lie in the used part of its stack and go
  // up it. A block that cannot be had counts as a frame found.
  const auto FrameOnStack = [&](uintptr_t stackPointer) {
    TThreadBasics basics{};
    if (entries->QueryThread(thread, 0, &basics, sizeof basics, nullptr) != 0 || basics.Tib == nullptr) return true;
    const uintptr_t low = std::max(stackPointer, reinterpret_cast<uintptr_t>(basics.Tib->StackLimit));
    const auto high = reinterpret_cast<uintptr_t>(basics.Tib->StackBase);
    auto at = reinterpret_cast<uintptr_t>(basics.Tib->ExceptionList);
    for (int steps = 0; steps < 4096 && at >= low && at <= high - sizeof(TLockFrame) && (at & 3) == 0; ++steps) {
      const auto* frame = reinterpret_cast<const TLockFrame*>(at);
      if (frame->handler_ == reinterpret_cast<void*>(&TLockFrame::Handle) && frame->lock_ == lock) return true;
      const auto next = reinterpret_cast<uintptr_t>(frame->next_);
      if (next <= at) break;
      at = next;
    }
    return false;
  };
  TLockHolder answer = TLockHolder::Inside;
  const DWORD process = GetProcessIdOfThread(thread);
  if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0 || (process != 0 && process != GetCurrentProcessId())) {
    answer = TLockHolder::Gone;
  } else if (process != 0) {
    const DWORD suspensions = SuspendThread(thread);
    if (suspensions != static_cast<DWORD>(-1)) {
      // Taking the context makes sure the suspension has taken effect before the stack is read.
      alignas(16) CONTEXT context{};
      context.ContextFlags = CONTEXT_CONTROL;
      if (GetThreadContext(thread, &context) && context.Esp != 0) {
        if (!FrameOnStack(context.Esp)) answer = TLockHolder::Gone;
        else if (suspensions > 0) answer = TLockHolder::Suspended;
      }
      entries->Resume(thread);
    }
  }
  CloseHandle(thread);
  return answer;
}

#else  // 64-bit: no registrations on the stack to look at

TLockHolder LookAtLockHolder(uint32_t, const void*) noexcept { return TLockHolder::Inside; }

#endif

void* GetMem(std::size_t size) {
  void* block = TryGetMem(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
