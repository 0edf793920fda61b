// The small-block memory manager of Windows modules, and the global new and delete built on it.
#include "classlib/MemoryManager.h"

#include <windows.h>
#include <emmintrin.h>

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
  uint32_t live;     // blocks handed out and not given back
  uint32_t blockSize;
  uint8_t sizeClass;
  bool listed;       // in its class's list of chunks with room
};
static_assert(sizeof(TChunk) <= kHeaderSize);

struct TState {
  std::atomic<DWORD> owner;  // the thread holding the lock, 0 when none
  TChunk* withRoom[kClassCount];
  TChunk* empty;
  std::size_t emptyCount;
  std::size_t chunkCount;
  std::size_t liveBlocks;
  std::atomic<bool> ending;
  // A holder ended holding the lock: the chunks may be half changed and are left alone for good.
  std::atomic<bool> abandoned;
  // The holder waits for the processing of an exception raised under the lock.
  std::atomic<bool> parked;
};

// Constant-initialised (all zero): usable before any static constructor
// of the module runs and after the last destructor.
TState gState;
std::atomic<uint8_t> gOwned[1u << 16];

bool Owns(const void* block) {
  return gOwned[reinterpret_cast<uintptr_t>(block) >> 16].load(std::memory_order_relaxed) != 0;
}

TChunk* ChunkOf(const void* block) { return reinterpret_cast<TChunk*>(reinterpret_cast<uintptr_t>(block) & kChunkMask); }

// Holds the lock: the holder's thread id set with one compare-and-exchange, since a lock of the
// system costs several times the rest of an allocation. A thread that finds it taken spins
// briefly, then yields, then sleeps, so that a holder of lower priority gets to run. The caller
// is told it has no lock, instead of waiting for ever:
// - when the lock is its own thread's already (a fault inside the memory manager whose handler
//   allocates);
// - when the holder waits for the processing of an exception raised under the lock;
// - when the holder has ended without giving the lock back (a thread the process killed, also
//   one killed at the instruction that took it: the lock and its holder are one word); the
//   chunks are then given up for good, since the holder may have left them half changed;
// - at the module's end, after a second by the clock (a count of sleeps would last fifteen times
//   as long where the system's timer ticks every 15.6 ms).
class TLock {
 public:
  TLock() {
    const DWORD self = GetCurrentThreadId();
    TLockHolderWatch watch;
    DWORD endingSince = 0;
    bool timing = false;
    for (int i = 0;; ++i) {
      DWORD holder = gState.owner.load(std::memory_order_relaxed);
      if (holder == 0 && gState.owner.compare_exchange_weak(holder, self, std::memory_order_acquire)) {
        held_ = true;
        return;
      }
      if (holder == self || gState.abandoned.load(std::memory_order_relaxed) ||
          gState.parked.load(std::memory_order_relaxed))
        return;
      if (i < 64) {
        _mm_pause();
        continue;
      }
      if (i < 128) {
        SwitchToThread();
        continue;
      }
      if (watch.HolderEnded(holder, (i & 15) == 0)) {
        gState.abandoned.store(true, std::memory_order_relaxed);
        return;
      }
      if (gState.ending.load(std::memory_order_relaxed)) {
        const DWORD now = GetTickCount();
        if (!timing) {
          endingSince = now;
          timing = true;
        } else if (now - endingSince >= 1000) {
          return;
        }
      }
      Sleep(1);
    }
  }
  ~TLock() {
    if (held_) gState.owner.store(0, std::memory_order_release);
  }
  TLock(const TLock&) = delete;
  TLock& operator=(const TLock&) = delete;
  bool Held() const { return held_; }

 private:
  bool held_ = false;
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
  chunk->live = 0;
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
  ++chunk->live;
  ++gState.liveBlocks;
  if (IsFull(chunk)) {
    Unlink(gState.withRoom[sizeClass], chunk);
    chunk->listed = false;
  }
  return block;
}

void FreeOwned(void* block) {
  TLock lock;
  if (!lock.Held()) return;  // the lock is lost or its holder waits: the block stays where it is
  TChunk* chunk = ChunkOf(block);
  const int sizeClass = chunk->sizeClass;
  *static_cast<void**>(block) = chunk->freed;
  chunk->freed = block;
  --chunk->live;
  --gState.liveBlocks;
  if (!chunk->listed) {
    Push(gState.withRoom[sizeClass], chunk);
    chunk->listed = true;
  }
  if (chunk->live != 0) return;
  Unlink(gState.withRoom[sizeClass], chunk);
  chunk->listed = false;
  if (gState.ending || gState.emptyCount >= kMaxEmptyChunks) {
    GiveBack(chunk);
    return;
  }
  Push(gState.empty, chunk);
  ++gState.emptyCount;
}

// Destroyed with the module's statics: gives the kept chunks back, and from then on every chunk
// as soon as it falls empty. The end is marked before the lock is taken, so that the wait for it
// is bounded: unload or exit must not hang on a lock whose holder was killed.
struct TModuleEnd {
  constexpr TModuleEnd() = default;
  ~TModuleEnd() {
    gState.ending = true;
    TLock lock;
    if (!lock.Held()) return;
    while (TChunk* chunk = gState.empty) {
      Unlink(gState.empty, chunk);
      GiveBack(chunk);
    }
    gState.emptyCount = 0;
  }
};
TModuleEnd gModuleEnd;

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

// Only the holder parks the lock, and only one thread holds it: the flag needs no count.
TMemoryManagerHolderWaits::TMemoryManagerHolderWaits() noexcept
    : parked_(gState.owner.load(std::memory_order_relaxed) == GetCurrentThreadId()) {
  if (parked_) gState.parked.store(true, std::memory_order_relaxed);
}

TMemoryManagerHolderWaits::~TMemoryManagerHolderWaits() {
  if (parked_) gState.parked.store(false, std::memory_order_relaxed);
}

namespace kbl_detail {

void HoldMemoryManagerLock() {
  const DWORD self = GetCurrentThreadId();
  for (DWORD free = 0; !gState.owner.compare_exchange_weak(free, self, std::memory_order_acquire); free = 0) Sleep(1);
}

void ReleaseMemoryManagerLock() {
  DWORD self = GetCurrentThreadId();
  gState.owner.compare_exchange_strong(self, 0, std::memory_order_release);
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

void ReleaseMemoryManagerLock() {}

}  // namespace kbl_detail

#endif

// --- Holders of a lock word

uint32_t LockOwnerId() noexcept { return GetCurrentThreadId(); }

uint64_t LockOwnerClock() noexcept {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

bool LockOwnerEnded(uint32_t owner, uint64_t seenSince) noexcept {
  HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, owner);
  if (thread == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;  // no thread has the id
  bool ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
  FILETIME created, exited, kernel, user;
  if (!ended && GetThreadTimes(thread, &created, &exited, &kernel, &user))
    ended = ((static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime) > seenSince;
  CloseHandle(thread);
  return ended;
}

void* GetMem(std::size_t size) {
  void* block = TryGetMem(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
