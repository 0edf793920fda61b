// The small-block memory manager of Windows modules, the global new and delete built on it, and
// the spin locks of the module whose holder may not give them back.
#include "classlib/MemoryManager.h"
#include "classlib/Module.h"

#include <windows.h>
#include <emmintrin.h>
#include <tlhelp32.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

// The start of this module's image, where the linker puts its headers.
extern "C" IMAGE_DOS_HEADER __ImageBase;

#if UINTPTR_MAX == 0xFFFFFFFFu
#define KBL_SMALL_BLOCKS 1
#else
#define KBL_SMALL_BLOCKS 0
#endif

namespace {

// A block of the C heap: larger blocks, and every block where chunks cannot be had; nullptr
// when the heap has no memory left.
void* HeapBlock(std::size_t size) noexcept { return std::malloc(size != 0 ? size : 1); }

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

// --- The module's end

// The module's detach has begun (its finalisers run from here on), and when, by GetTickCount.
std::atomic<bool> gEnding{false};
std::atomic<DWORD> gEndingSince{0};

void MarkEnding() {
  if (gEnding.load(std::memory_order_relaxed)) return;
  gEndingSince.store(GetTickCount(), std::memory_order_relaxed);
  gEnding.store(true, std::memory_order_release);
}

// A second by the clock since the module's detach began (a count of sleeps would last fifteen
// times as long where the system's timer ticks every 15.6 ms).
bool EndingBoundPassed() {
  return gEnding.load(std::memory_order_acquire) &&
         GetTickCount() - gEndingSince.load(std::memory_order_relaxed) >= 1000;
}

void EndWatch(bool processEnds);

// The thread that runs the module's detach, 0 before it: once the watch has ended it is the only
// thread left to resume a holder its look suspends (a look of its killed or kept suspended there
// ends with the process or the unload), so it looks without the watch and without a record.
std::atomic<DWORD> gDetacher{0};

// True when the calling thread runs the module's detach and has not yet looked at `holder` of
// `lock`: its first wait for that holder begins with a look. The second it has for its waits began
// with the detach, and its spins and yields could spend it all on a CPU shared with busy threads
// (each yield gives a whole slice away), leaving a holder that is gone unlooked at and every chunk
// it kept taken from the host for good. Later waits for a holder looked at so (a live one, inside
// for long) go at the ordinary pace, so that a detach freeing thousands of blocks, under one lock
// or two in turn, does not suspend it at each; so do waits past the first few holders. Only the
// detaching thread reads and writes what it looked at.
bool DetachLooksAtOnce(const TLockWord& lock, uint32_t holder) {
  struct TLookedAt {
    const TLockWord* lock;
    uint32_t holder;
  };
  static TLookedAt lookedAt[4] = {};
  if (gDetacher.load(std::memory_order_relaxed) != CurrentThreadId()) return false;
  for (TLookedAt& entry : lookedAt) {
    if (entry.lock == &lock && entry.holder == holder) return false;
    if (entry.lock != nullptr) continue;
    entry = {&lock, holder};
    return true;
  }
  return false;
}

// The module's detach begins: the system calls a module's thread-storage callbacks before its
// entry point, and the entry point runs the finalisers. From here every wait for a lock is
// bounded, so that no finaliser waits for ever on a holder that never gives it back, and the
// watch of looks at holders has ended, for the module's code goes once the entry point returns.
void NTAPI MarkEndAtDetach(PVOID, DWORD reason, PVOID reserved) {
  if (reason != DLL_PROCESS_DETACH) return;
  gDetacher.store(CurrentThreadId(), std::memory_order_relaxed);
  MarkEnding();
  EndWatch(reserved != nullptr);  // set when the process ends
}
__attribute__((section(".CRT$XLB"), used)) PIMAGE_TLS_CALLBACK gMarkEndAtDetach = &MarkEndAtDetach;

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
  TLockWord lock;
  TChunk* withRoom[kClassCount];
  TChunk* empty;
  std::size_t emptyCount;
  std::size_t chunkCount;
  std::size_t liveBlocks;
  // Blocks freed while the lock could not be had (its holder kept suspended, a fault's handler on
  // the holder's own thread, the module's end bound), each holding the next: freed by a later
  // holder when a class runs out of room and at the module's end, counted down if the chunks are
  // given up meanwhile.
  std::atomic<void*> deferred;
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

bool GivenUp() { return gState.lock.givenUp.load(std::memory_order_relaxed); }

// A holder of lower priority than its waiters gets to run: they spin briefly, then yield, then
// sleep a millisecond at a time.
constexpr TLockPace kPace{64, 64, 1};

// Holds the lock; not held when the waiting gave up (see WaitForLockWord). The frame stands on
// the stack for the whole time, so that a waiter can tell a holder inside from one that is gone.
class TLock {
 public:
  TLock() : frame_(gState.lock) { held_ = TakeLockWord(gState.lock, CurrentThreadId(), frame_, kPace); }
  ~TLock() {
    if (held_) gState.lock.owner.store(0, std::memory_order_release);
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

// Under the lock.
inline __attribute__((always_inline)) void FreeLocked(void* block) {
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
  if (gEnding.load(std::memory_order_relaxed) || gState.emptyCount >= kMaxEmptyChunks) {
    GiveBack(chunk);
    return;
  }
  Push(gState.empty, chunk);
  ++gState.emptyCount;
}

// A free that could not have the lock, for a later holder. Only pushes: the list is taken whole.
void Defer(void* block) {
  void* head = gState.deferred.load(std::memory_order_relaxed);
  do {
    *static_cast<void**>(block) = head;
  } while (!gState.deferred.compare_exchange_weak(head, block, std::memory_order_release, std::memory_order_relaxed));
}

// Under the lock: the frees put off until now. Read before it is taken: a class runs out of room
// at every other call when one block at a time is made and freed, and an exchange costs a third
// of such a call.
void FreeDeferred() {
  if (gState.deferred.load(std::memory_order_relaxed) == nullptr) return;
  for (void* block = gState.deferred.exchange(nullptr, std::memory_order_acquire); block != nullptr;) {
    void* next = *static_cast<void**>(block);
    FreeLocked(block);
    block = next;
  }
}

// A small block, or nullptr when no chunk could be had (the caller then asks the C heap).
void* AllocateSmall(std::size_t size) {
  const int sizeClass = kClassOf[(size + 15) / 16];
  TLock lock;
  if (!lock.Held()) return nullptr;
  TChunk* chunk = gState.withRoom[sizeClass];
  if (chunk == nullptr) {
    FreeDeferred();
    chunk = gState.withRoom[sizeClass];
    if (chunk == nullptr && (chunk = AddChunk(sizeClass)) == nullptr) return nullptr;
  }
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

void FreeOwned(void* block) {
  TLock lock;
  if (lock.Held()) {
    FreeLocked(block);
  } else if (GivenUp()) {
    ChunkOf(block)->live.fetch_sub(1, std::memory_order_relaxed);
  } else {
    Defer(block);
    // Given up meanwhile: the lock's holders no longer take the list, the module's end counts it.
  }
}

// A chunk of the chunks given up whose blocks are all freed goes back to the system. Only here, at
// the module's end: a free that counts a chunk down to nothing does not give it back itself, so
// that one thread alone reads the counts of chunks that go.
void GiveBackGivenUpChunks() {
  for (void* block = gState.deferred.exchange(nullptr, std::memory_order_acquire); block != nullptr;) {
    void* next = *static_cast<void**>(block);
    ChunkOf(block)->live.fetch_sub(1, std::memory_order_relaxed);
    block = next;
  }
  for (uintptr_t slot = 1; slot < (1u << 16); ++slot) {
    if (gOwned[slot].load(std::memory_order_relaxed) == 0) continue;
    auto* chunk = reinterpret_cast<TChunk*>(slot << 16);
    if (Live(chunk) != 0) continue;
    gOwned[slot].store(0, std::memory_order_relaxed);
    VirtualFree(chunk, 0, MEM_RELEASE);
  }
}

// Destroyed with the module's statics, the last of its finalisers to touch the chunks: frees what
// was put off and gives the kept chunks back, or, when the chunks were given up, those whose
// blocks are all freed. Every chunk that falls empty later goes at once.
struct TModuleEnd {
  constexpr TModuleEnd() = default;
  ~TModuleEnd() {
    MarkEnding();  // for a program, whose detach comes after its finalisers
    {
      TLock lock;
      if (lock.Held()) {
        FreeDeferred();
        while (TChunk* chunk = gState.empty) {
          Unlink(gState.empty, chunk);
          GiveBack(chunk);
        }
        gState.emptyCount = 0;
      }
    }
    if (GivenUp()) GiveBackGivenUpChunks();
  }
};
TModuleEnd gModuleEnd;

}  // namespace

void* TryGetMem(std::size_t size) noexcept {
  if (size <= kMaxSmall && !GivenUp()) {
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

uint32_t MemoryManagerLockHolder() { return gState.lock.owner.load(std::memory_order_relaxed); }

void GiveUpMemoryManagerLockOfThisThread() noexcept { GiveUpLockWordOfThisThread(gState.lock); }

namespace kbl_detail {

void HoldMemoryManagerLock() {
  const DWORD self = GetCurrentThreadId();
  for (uint32_t free = 0; !gState.lock.owner.compare_exchange_weak(free, self, std::memory_order_acquire); free = 0)
    Sleep(1);
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

void GiveUpMemoryManagerLockOfThisThread() noexcept {}

namespace kbl_detail {

void HoldMemoryManagerLock() {}

bool RunHoldingMemoryManagerLock(void (*body)(void*), void* data) {
  body(data);
  return true;
}

}  // namespace kbl_detail

#endif

void* GetMem(std::size_t size) {
  void* block = TryGetMem(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

// --- Lock words

uint32_t LockOwnerId() noexcept { return CurrentThreadId(); }

void GiveUpLockWordOfThisThread(TLockWord& lock) noexcept {
  if (lock.owner.load(std::memory_order_relaxed) == CurrentThreadId()) lock.givenUp.store(true, std::memory_order_relaxed);
}

namespace {

// What a waiter makes of the lock's holder.
enum class TVerdict {
  Wait,           // inside the code that took the lock, or nothing could be told
  NotWaitedFor,   // kept suspended by another thread, or not to be looked at: not waited for now
  Gone,           // will never give the lock back
};

// How long a holder found kept suspended is not waited for before it is looked at again.
constexpr DWORD kNotWaitedForMs = 100;

}  // namespace

#if defined(__i386__)

// An exception that reaches the frame is handled outside the code that took the lock, or unwinds
// past it: a thread that holds the lock leaves it behind (the lock's own code raises nothing). The
// lock is given up before any handler outside runs, so that such a handler (a host's crash box,
// a wait for the plug-in's other threads) never waits for the lock.
int TLockFrame::Handle(void*, void* frame, void*, void*) noexcept {
  GiveUpLockWordOfThisThread(*static_cast<TLockFrame*>(frame)->lock_);
  return ExceptionContinueSearch;
}

namespace {

// What a search of a thread's registrations for a frame of a lock found.
enum class TFrameSearch { Found, Missing, Unreadable };

// Searches the registrations from `head` on, followed while they lie between `low` and `high` and
// go up the stack, for a frame for `lock` other than `except`. `Read` copies a registration: the
// calling thread's own are read as they are, another thread's through the system, which answers
// false where the memory is gone (a host may end a thread while it is looked at).
template <class TRead>
TFrameSearch SearchChain(uintptr_t head, uintptr_t low, uintptr_t high, const TLockWord* lock,
                         const TLockFrame* except, TRead Read) {
  struct TRegistration {
    uintptr_t next;
    void* handler;
    const TLockWord* lock;
  };
  static_assert(sizeof(TRegistration) == sizeof(TLockFrame));
  if (high < sizeof(TRegistration)) return TFrameSearch::Missing;
  for (uintptr_t at = head; at >= low && at <= high - sizeof(TRegistration) && (at & 3) == 0;) {
    TRegistration frame;
    if (!Read(at, &frame, sizeof frame)) return TFrameSearch::Unreadable;
    if (at != reinterpret_cast<uintptr_t>(except) && frame.handler == reinterpret_cast<void*>(&TLockFrame::Handle) &&
        frame.lock == lock)
      return TFrameSearch::Found;
    if (frame.next <= at) break;
    at = frame.next;
  }
  return TFrameSearch::Missing;
}

bool ReadOwnStack(uintptr_t address, void* buffer, std::size_t size) {
  std::memcpy(buffer, reinterpret_cast<const void*>(address), size);
  return true;
}

bool ReadOtherThreads(uintptr_t address, void* buffer, std::size_t size) {
  SIZE_T read = 0;
  return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(address), buffer, size, &read) &&
         read == size;
}

// True when the calling thread stands inside the code that took `lock` further out than `frame`
// (a fault's handler running on the holder's thread).
bool HoldsFurtherOut(const TLockFrame& frame) {
  const NT_TIB* tib;
  asm("movl %%fs:0x18, %0" : "=r"(tib));
  return SearchChain(reinterpret_cast<uintptr_t>(tib->ExceptionList),
                     reinterpret_cast<uintptr_t>(__builtin_frame_address(0)),
                     reinterpret_cast<uintptr_t>(tib->StackBase), frame.lock_, &frame,
                     &ReadOwnStack) == TFrameSearch::Found;
}

// The system's own entries that looking at a holder needs, found before any thread is suspended
// (finding them takes the loader's lock, which the suspended thread may hold). CreateThread and
// the suspension's calls are the system's, not the imports this module's exception library may
// have replaced: those record the thread (whose list the processing freezes), and allocate. The
// native suspension and resumption write the count they found where the caller says, which is
// how a look's record shows whether they took place.
struct TThreadEntries {
  HANDLE(WINAPI* Create)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, void*, DWORD, DWORD*);
  DWORD(WINAPI* Resume)(HANDLE);
  LONG(WINAPI* QueryThread)(HANDLE, ULONG, void*, ULONG, ULONG*);
  LONG(WINAPI* SuspendCounted)(HANDLE, ULONG*);
  LONG(WINAPI* ResumeCounted)(HANDLE, ULONG*);
};

const TThreadEntries* ThreadEntries() {
  static std::atomic<const TThreadEntries*> found{nullptr};
  static TThreadEntries entries;
  if (const TThreadEntries* known = found.load(std::memory_order_acquire)) return known;
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  HMODULE system = GetModuleHandleA("ntdll.dll");
  if (kernel == nullptr || system == nullptr) return nullptr;
  entries.Create = reinterpret_cast<decltype(entries.Create)>(GetProcAddress(kernel, "CreateThread"));
  entries.Resume = reinterpret_cast<decltype(entries.Resume)>(GetProcAddress(kernel, "ResumeThread"));
  entries.QueryThread =
      reinterpret_cast<decltype(entries.QueryThread)>(GetProcAddress(system, "NtQueryInformationThread"));
  entries.SuspendCounted = reinterpret_cast<decltype(entries.SuspendCounted)>(GetProcAddress(system, "NtSuspendThread"));
  entries.ResumeCounted = reinterpret_cast<decltype(entries.ResumeCounted)>(GetProcAddress(system, "NtResumeThread"));
  if (entries.Create == nullptr || entries.Resume == nullptr || entries.QueryThread == nullptr ||
      entries.SuspendCounted == nullptr || entries.ResumeCounted == nullptr)
    return nullptr;
  found.store(&entries, std::memory_order_release);
  return &entries;
}
// Found when the module loads, so that a waiter need not take the loader's lock.
const bool gThreadEntriesFound = ThreadEntries() != nullptr;

// --- Looks at a holder
//
// A look suspends the holder for a moment to read its stack. The waiter looks itself, so that no
// waiter ever waits for another thread's start, end or progress. Looks take turns, one at a time
// in the module, so that a look that finds the holder suspended knows another thread keeps it so.
// A look that stopped in the middle (its thread killed, or kept suspended, as a crash report
// freezes the program's threads) is taken over: by the next waiter that finds the same look under
// way at two of its tries, or by the module's watch, a thread that checks the turn while looks are
// under way and takes over one that has not moved for two checks, so that the holder runs again
// within a second though no other thread calls the module. Nobody waits for the watch: a waiter
// starts it at its first sleep when none runs and goes on (its start may be held up by other
// modules' thread-start code, or by the loader's lock), and no look is made until it runs, so that
// the net is there before a look can be stopped. The module's detach ends it before any finaliser
// runs. It runs no host call, is made through the system's own entry (the exception library
// neither lists nor freezes it), looks at no holder, allocates nothing and takes no lock of the
// module. A holder no look can be made at (no watch runs, no record is free, its thread lets no
// one in) is not waited for once that lasted a second: the waiter does without the lock.
//
// A look has a record, and taking the record is the only way to take a look over: whoever takes
// it owns the resumption. The record's phase says how far the look got: before its suspension
// (taken then, the look suspends nothing), at it, or at its resumption. The look suspends the
// holder through the native call that writes the holder's suspension count into the record, and
// resumes it through the one that writes the resumption's count, so a taker resumes the holder
// only when the look's suspension is in effect, whatever other threads did to the holder's count
// meanwhile. A look that goes on after its record was taken gives no verdict (what it read may
// have been read while the holder ran), and undoes its suspension only when the taker resumed
// nothing. A look marked for its resumption is taken only once its thread has stopped (ended, or
// kept suspended): one that runs resumes the holder a moment later (no code of the module's lies
// between), and its turn lasts until then, so that the look's one suspension is resumed once; the
// watch, or a waiter that found it so, takes it all the same once it was held up there for two
// seconds (a host's hook in the system's call that waits). A look so taken may still resume the
// holder when it goes on: it and its taker each tell when their resumption is through, and the
// second to tell suspends the holder once more when both found it suspended, so that the count
// comes out where it was (another's suspension ended by the second resumption lapses only for
// that moment). A record stays the look's until the look frees it (a look taken on its way to
// resume that tells first leaves it to its taker), or until the watch finds the look's thread
// ended.

// A look on its way to resume the holder for that long is held up (a hook of the host's in the
// system's call that waits): the watch, or a waiter, takes it over all the same.
constexpr DWORD kHeldUpMs = 2000;

// Tests only: where the next look pauses (kbl_detail::PauseNextLook), and whether one does.
enum TPausedLook { kNotPaused, kPaused, kLetGo };
std::atomic<kbl_detail::TLookPause> gPauseNextLook{kbl_detail::TLookPause::None};
std::atomic<int> gPausedLook{kNotPaused};
// Tests and benchmarks only: the looks asked for (kbl_detail::LooksAtLockHolders).
std::atomic<uint32_t> gLooksAsked{0};

// What a look finds of the holder.
enum class TFinding {
  Unknown,     // another look was under way, or this one was taken over: nothing to go by
  Untellable,  // no look can be made (its thread lets no one in, no record is free, no watch runs,
               // its suspension is refused), or its stack cannot be read (one of its own making)
  Inside,      // running (or ready to run) inside the code that took the lock
  Suspended,   // inside, kept suspended by another thread
  Gone,        // will never give the lock back
};

// True when a thread of this process has the id. The system lists every thread without asking
// for rights on it, so a thread whose access list lets no one in is found too; when the list
// cannot be had, the thread counts as found.
bool ThreadOfThisProcess(DWORD id) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return true;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Thread32First(snapshot, &entry); more && !found; more = Thread32Next(snapshot, &entry))
    found = entry.th32ThreadID == id && entry.th32OwnerProcessID == GetCurrentProcessId();
  CloseHandle(snapshot);
  return found;
}

// The first fields of what the system answers about a thread (its basic information).
struct TThreadBasics {
  LONG ExitStatus;
  uintptr_t Tib;  // the thread's information block, in this process
  ULONG_PTR ProcessId, ThreadId, Affinity;
  LONG Priority, BasePriority;
};

// The start of a thread's 32-bit information block: the exception registrations and the stack's
// bounds, the block's own address, and (after the environment's pointer) the thread's id.
struct TThreadBlock {
  uintptr_t ExceptionList, StackBase, StackLimit, SubSystem, Fiber, Arbitrary, Self, Environment;
  uint32_t ProcessId, ThreadId;
};

// The reservation that holds `address`, 0 when none.
uintptr_t ReservationOf(uintptr_t address) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) != sizeof info || info.State == MEM_FREE)
    return 0;
  return reinterpret_cast<uintptr_t>(info.AllocationBase);
}

// Whether `thread` (the lock's holder `holder`, suspended, its stack pointer `stackPointer`) has a
// frame for `lock` on the live part of its stack. Unreadable when that stack cannot be told: no
// 32-bit thread block of that thread can be read (as where only a 64-bit one is answered), or the
// holder runs on a stack its block does not describe (a coroutine's), where its frames, if any,
// lie on a stack the look cannot find.
TFrameSearch FrameOnStack(const TThreadEntries& entries, HANDLE thread, DWORD holder, uintptr_t stackPointer,
                          const TLockWord* lock) {
  TThreadBasics basics{};
  if (entries.QueryThread(thread, 0, &basics, sizeof basics, nullptr) != 0) return TFrameSearch::Unreadable;
  // The block the system answers, or, where it answers a 64-bit one (a 32-bit program on a 64-bit
  // system), the 32-bit block two pages after it; taken only when it names itself and the holder.
  TThreadBlock block{};
  const auto isBlock = [&](uintptr_t at) {
    return at != 0 && ReadOtherThreads(at, &block, sizeof block) && block.Self == at && block.ThreadId == holder;
  };
  if (!isBlock(basics.Tib) && !isBlock(basics.Tib + 0x2000)) return TFrameSearch::Unreadable;
  // One reservation holds a thread's stack; a stack pointer a little below the committed limit
  // (a frame made before its page is touched) still lies in it.
  const uintptr_t reservation = ReservationOf(stackPointer);
  if (stackPointer >= block.StackBase || reservation == 0 || reservation != ReservationOf(block.StackBase - 1))
    return TFrameSearch::Unreadable;
  return SearchChain(block.ExceptionList, stackPointer, block.StackBase, lock, nullptr, &ReadOtherThreads);
}

// What a look finds of the holder's `thread`, suspended by it (the suspension count it had before
// is `before`): Untellable when its stack cannot be read.
TFinding Examine(HANDLE thread, DWORD holder, const TLockWord& lock, const TThreadEntries& entries, uint32_t before) {
  // Taking the context makes sure the suspension has taken effect before the stack is read.
  alignas(16) CONTEXT context{};
  context.ContextFlags = CONTEXT_CONTROL;
  if (!GetThreadContext(thread, &context) || context.Esp == 0) return TFinding::Untellable;
  switch (FrameOnStack(entries, thread, holder, context.Esp, &lock)) {
    case TFrameSearch::Missing:
      // The word is read again while the holder is held still: a thread without a frame cannot
      // take the lock, so a word that still names it names a holder that left.
      return lock.owner.load(std::memory_order_acquire) == holder ? TFinding::Gone : TFinding::Inside;
    case TFrameSearch::Found:
      return before > 0 ? TFinding::Suspended : TFinding::Inside;
    default:
      return TFinding::Untellable;
  }
}

// A look's record. Its word holds the look's number and the record's phase in the high half, and
// in the low half the holder's suspension count from before the look's suspension, which the
// system writes there once the suspension took place (kNoCount until then).
enum TRecordPhase : uint32_t {
  kFree,            // no look's
  kClaimed,         // a look fills it in
  kLive,            // the look's, before its suspension: taken over now, the look suspends nothing
  kSuspending,      // the look's, about to suspend the holder, or done (the count written)
  kResuming,        // the look's, about to resume the holder, or done (the resumption's count written)
  kTakenResumed,    // taken over, the taker resumed the holder: the look resumes nothing
  kTakenUnresumed,  // taken over, the taker resumed nothing: a suspension of the look's is its own to undo
};
constexpr uint32_t kNoCount = 0xFFFFFFFFu;  // no suspension count comes near it
struct TLookRecord {
  std::atomic<uint64_t> word;
  // The holder's suspension count before the look's resumption, written there by the system.
  std::atomic<uint32_t> resumed;
  HANDLE holder;  // the record's own handle of the holder: the look's, its taker's once taken
  HANDLE looker;  // the look's thread, whose end the watch looks for
};
static_assert(std::atomic<uint64_t>::is_always_lock_free);
constexpr uint32_t kRecordBits = 4;
constexpr uint32_t kRecordCount = 1u << kRecordBits;
TLookRecord gRecords[kRecordCount];
// The look under way: its number times 16 plus its record's index; 0 when none.
std::atomic<uint32_t> gLookTurn{0};
std::atomic<uint32_t> gLookNumbers{0};

uint64_t RecordWord(uint32_t number, uint32_t phase, uint32_t count) {
  return static_cast<uint64_t>(number << 3 | phase) << 32 | count;
}
uint32_t NumberOf(uint64_t word) { return static_cast<uint32_t>(word >> 35); }
uint32_t RecordPhaseOf(uint64_t word) { return static_cast<uint32_t>(word >> 32) & 7; }
uint32_t CountOf(uint64_t word) { return static_cast<uint32_t>(word); }
// The look's own, under way (not taken, not being freed).
bool IsLive(uint64_t word, uint32_t number) {
  return NumberOf(word) == number && RecordPhaseOf(word) >= kLive && RecordPhaseOf(word) <= kResuming;
}
uint64_t WithPhase(uint64_t word, uint32_t phase) { return RecordWord(NumberOf(word), phase, CountOf(word)); }
bool IsTaken(uint64_t word) { return RecordPhaseOf(word) == kTakenResumed || RecordPhaseOf(word) == kTakenUnresumed; }

// Where the system writes the suspension's count: the low half of the word (a little-endian
// machine), so that the count and the phase are read and exchanged as one.
ULONG* CountSlot(TLookRecord& record) { return reinterpret_cast<ULONG*>(&record.word); }

// A look's number, as the turn and the records hold it (the bits the turn leaves), never 0.
uint32_t NextLookNumber() {
  for (;;) {
    const uint32_t number = (gLookNumbers.fetch_add(1, std::memory_order_relaxed) + 1) & (~0u >> kRecordBits);
    if (number != 0) return number;
  }
}

// True when the thread has ended. Asked, not waited on: the handle's number may be another
// object's by now, and the answer is then checked against the record's word.
bool Ended(HANDLE thread) {
  DWORD code = 0;
  return GetExitCodeThread(thread, &code) && code != STILL_ACTIVE;
}

// What the system answers about a thread's suspension count (ThreadSuspendCount); false where it
// cannot tell (older systems).
bool ReadSuspendCount(const TThreadEntries& entries, HANDLE thread, ULONG& count) {
  return entries.QueryThread(thread, 35, &count, sizeof count, nullptr) == 0;
}

// True while the look's thread runs: neither ended nor kept suspended (nor one the system cannot
// tell the count of).
bool LookerRuns(const TThreadEntries& entries, HANDLE looker) {
  ULONG count = 0;
  return !Ended(looker) && ReadSuspendCount(entries, looker, count) && count == 0;
}

// Frees the record whose word is `word`, closing its handle of the look's thread; false when the
// word changed meanwhile.
bool FreeRecord(TLookRecord& record, uint64_t word) {
  HANDLE looker = record.looker;
  if (!record.word.compare_exchange_strong(word, 0, std::memory_order_acq_rel)) return false;
  CloseHandle(looker);
  return true;
}

// What the look and its taker tell once each has resumed the holder, when the look was taken on
// its way to resume it and the taker resumed it: kept in the low half of the record's word (the
// suspension's count, which the system no longer writes by then).
constexpr uint32_t kLookTold = 1;    // the look resumed the holder after all
constexpr uint32_t kLookEnded = 2;   // and that resumption found it suspended
constexpr uint32_t kTakerTold = 4;   // the taker resumed it
constexpr uint32_t kTakerEnded = 8;  // and that resumption found it suspended

// Tells that the look `number`'s resumption of the holder's `thread`, or its taker's, is through
// (`told`). The second to tell suspends the holder once more when both resumptions found it
// suspended: the look's one suspension was resumed twice, the second time ending another's (the
// host's, or another look's). Only another resumption of the holder between that second
// resumption and this suspension (microseconds, after a look was stopped in the middle of its
// resumption) would leave the count one too high. Answers the record's word when this call was
// the second to tell, else 0 (first, or the record no longer the look's).
uint64_t Tell(const TThreadEntries& entries, TLookRecord& record, uint32_t number, HANDLE thread, uint32_t told) {
  uint64_t word = record.word.load(std::memory_order_acquire);
  while (NumberOf(word) == number && RecordPhaseOf(word) == kTakenResumed) {
    const uint64_t both = RecordWord(number, kTakenResumed, CountOf(word) | told);
    if (!record.word.compare_exchange_weak(word, both, std::memory_order_acq_rel, std::memory_order_acquire)) continue;
    if ((CountOf(word) & (kLookTold | kTakerTold)) == 0) return 0;
    ULONG count = 0;
    if ((CountOf(both) & (kLookEnded | kTakerEnded)) == (kLookEnded | kTakerEnded))
      entries.SuspendCounted(thread, &count);
    return both;
  }
  return 0;
}

// What an attempt to take a look's record came to.
enum class TTaking {
  Taken,     // by this call
  NotLive,   // the look is over, or was taken before
  Resuming,  // the look runs on to its resumption, a moment away: left to it
};

// Takes look `number`'s record away from it while it is under way. The exchange that takes it
// decides who resumes the holder: the taker resumes it when the look's suspension is in effect,
// and the look then resumes nothing; otherwise the look undoes its own suspension, if it makes
// one, when it goes on. A look taken before its suspension never makes one. A look marked for its
// resumption whose thread runs is left to it, unless `evenResuming` (held up there, or the
// module's end): the look resumes without asking its record again, so a taker's resumption would
// be a second one, ending another look's suspension or the host's own. Only a look stopped
// between a call of the system and the system's writing of that call's count (where the system
// writes it in the caller's own code, after the call) leaves a doubt, settled alike at either
// call: the holder is resumed whenever it is suspended at all. A holder left suspended for good
// would be worse than a host's suspension ended early, and a count read before the call may hold
// a suspension of another's that ended since (a profiler's sample). A look taken on its way to
// resume the holder may still resume it (it was stopped after its mark, or held up in the call):
// the look and the taker each tell.
TTaking TakeRecord(const TThreadEntries& entries, TLookRecord& record, uint32_t number, bool evenResuming) {
  uint64_t word = record.word.load(std::memory_order_acquire);
  while (IsLive(word, number)) {
    // The look's while its number is in the word: filled in before it goes live.
    HANDLE holder = record.holder;
    ULONG now = 0;
    const bool counted = ReadSuspendCount(entries, holder, now);
    bool resume = false;
    if (RecordPhaseOf(word) == kSuspending) {
      resume = CountOf(word) != kNoCount || (counted && now > 0);
    } else if (RecordPhaseOf(word) == kResuming && record.resumed.load(std::memory_order_acquire) == kNoCount) {
      if (!evenResuming && LookerRuns(entries, record.looker)) return TTaking::Resuming;
      resume = counted && now > 0;
    }
    const bool resuming = RecordPhaseOf(word) == kResuming;
    const uint64_t taken = resume && resuming ? RecordWord(number, kTakenResumed, 0)
                                              : WithPhase(word, resume ? kTakenResumed : kTakenUnresumed);
    if (!record.word.compare_exchange_weak(word, taken, std::memory_order_acq_rel, std::memory_order_acquire))
      continue;
    ULONG count = 0;
    if (resume) {
      const bool ended = entries.ResumeCounted(holder, &count) >= 0 && count > 0;
      if (resuming) {
        const uint64_t both = Tell(entries, record, number, holder, kTakerTold | (ended ? kTakerEnded : 0));
        if (both != 0) FreeRecord(record, both);
      }
    }
    CloseHandle(holder);
    return TTaking::Taken;
  }
  return TTaking::NotLive;
}

// Takes over the look of `turn`, found under way and not moved for a while, and ends its turn;
// false when the look is left to resume the holder itself: its turn goes on, so that no other look
// suspends the holder before that resumption. One held up in its resumption's call (`heldUp`: a
// hook of the host's that waits) is taken over all the same.
bool TakeTurn(const TThreadEntries& entries, uint32_t turn, bool heldUp = false) {
  if (TakeRecord(entries, gRecords[turn & (kRecordCount - 1)], turn >> kRecordBits, heldUp) == TTaking::Resuming)
    return false;
  gLookTurn.compare_exchange_strong(turn, 0, std::memory_order_acq_rel);
  return true;
}

// Settles the records of looks that will never go on (their thread ended): one under way is
// taken over, a taken one freed. At the module's end (`all`) every look under way is taken over:
// no code of the module may run once it is unloaded. Answers whether a look still has a record.
bool SettleRecords(const TThreadEntries& entries, bool all) {
  bool inUse = false;
  for (TLookRecord& record : gRecords) {
    const uint64_t word = record.word.load(std::memory_order_acquire);
    if (RecordPhaseOf(word) < kLive) continue;  // free, or being filled in
    const bool ended = Ended(record.looker);
    if (IsLive(word, NumberOf(word)) && (all || ended)) TakeRecord(entries, record, NumberOf(word), true);
    const uint64_t now = record.word.load(std::memory_order_acquire);
    if (ended && NumberOf(now) == NumberOf(word) && IsTaken(now) && FreeRecord(record, now)) continue;
    inUse = true;
  }
  return inUse;
}

// Claims a free record for look `number` at the holder's `thread`, filled in and live; nullptr
// when none is free (looks kept suspended in the middle hold theirs).
TLookRecord* ClaimRecord(uint32_t number, HANDLE thread) {
  const HANDLE process = GetCurrentProcess();
  HANDLE holder = nullptr;
  HANDLE looker = nullptr;
  if (!DuplicateHandle(process, thread, process, &holder, 0, FALSE, DUPLICATE_SAME_ACCESS)) return nullptr;
  if (DuplicateHandle(process, GetCurrentThread(), process, &looker, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    for (TLookRecord& record : gRecords) {
      uint64_t free = 0;
      if (!record.word.compare_exchange_strong(free, RecordWord(number, kClaimed, kNoCount), std::memory_order_acq_rel))
        continue;
      record.holder = holder;
      record.looker = looker;
      record.resumed.store(kNoCount, std::memory_order_relaxed);
      record.word.store(RecordWord(number, kLive, kNoCount), std::memory_order_release);
      return &record;
    }
    CloseHandle(looker);
  }
  CloseHandle(holder);
  return nullptr;
}

// Moves look `number`'s record from one phase of its own to `phase`; false when it was taken.
bool Advance(TLookRecord& record, uint32_t number, uint32_t phase) {
  uint64_t word = record.word.load(std::memory_order_acquire);
  while (IsLive(word, number))
    if (record.word.compare_exchange_weak(word, WithPhase(word, phase), std::memory_order_acq_rel)) return true;
  return false;
}

// Tests only: waits here, as a look stopped at `at`, when PauseNextLook asked for it, until let go.
void PauseIfAsked(kbl_detail::TLookPause at, TLookRecord& record) {
  auto asked = at;
  if (gPauseNextLook.load(std::memory_order_relaxed) != at || !gPauseNextLook.compare_exchange_strong(asked, {}))
    return;
  if (at == kbl_detail::TLookPause::CountUnwritten) {
    uint64_t word = record.word.load(std::memory_order_acquire);
    while (!record.word.compare_exchange_weak(word, (word & ~uint64_t{kNoCount}) | kNoCount)) {
    }
  }
  for (gPausedLook.store(kPaused); gPausedLook.load() == kPaused;) Sleep(1);
}

// Ends look `number`, which suspended the holder's `thread` when `suspended`, and frees its record.
// While the record is still its own, the look resumes the holder and answers true (its verdict
// stands); taken after that (its thread stopped there, or held up in the call), it tells the
// taker. When it was taken before, answers false: the look undoes its suspension only when the
// taker resumed nothing. A taker closed the record's handle of the holder.
bool EndLook(const TThreadEntries& entries, TLookRecord& record, uint32_t number, HANDLE thread, bool suspended) {
  ULONG count = 0;
  // A look whose suspension was refused has nothing to resume: a taker finds it resumed.
  if (!suspended) record.resumed.store(0, std::memory_order_release);
  const bool own = Advance(record, number, kResuming);
  if (own) {
    PauseIfAsked(kbl_detail::TLookPause::BeforeResumption, record);
    if (suspended) entries.ResumeCounted(thread, reinterpret_cast<ULONG*>(&record.resumed));
    HANDLE holder = record.holder;
    const uint64_t resuming = record.word.load(std::memory_order_acquire);
    if (RecordPhaseOf(resuming) == kResuming && FreeRecord(record, resuming)) {
      CloseHandle(holder);
      return true;
    }
    if (suspended && RecordPhaseOf(record.word.load(std::memory_order_acquire)) == kTakenResumed) {
      // Taken meanwhile, and resumed by the taker too. Told first, the record is the taker's to free.
      const uint32_t found = record.resumed.load(std::memory_order_acquire);
      const uint64_t both =
          Tell(entries, record, number, thread, kLookTold | (found != kNoCount && found > 0 ? kLookEnded : 0));
      if (both != 0) FreeRecord(record, both);
      return true;
    }
  }
  const uint64_t word = record.word.load(std::memory_order_acquire);
  if (!own && RecordPhaseOf(word) == kTakenUnresumed && suspended) entries.ResumeCounted(thread, &count);
  if (NumberOf(word) == number && IsTaken(word)) FreeRecord(record, word);
  return own;
}

// What look `number`, with its record live and the turn its own, finds of the holder's `thread`,
// held still throughout (no other look runs meanwhile, and none undoes this one's suspension);
// Unknown when the look was taken over.
TFinding LookHeldStill(const TThreadEntries& entries, TLookRecord& record, uint32_t number, HANDLE thread,
                       DWORD holder, const TLockWord& lock) {
  PauseIfAsked(kbl_detail::TLookPause::BeforeSuspension, record);
  const bool suspended =
      Advance(record, number, kSuspending) && entries.SuspendCounted(thread, CountSlot(record)) >= 0;
  PauseIfAsked(kbl_detail::TLookPause::CountUnwritten, record);
  // A suspension refused (the count at its limit, a hook of the host's) leaves nothing to read.
  TFinding finding = TFinding::Untellable;
  const uint64_t word = record.word.load(std::memory_order_acquire);
  if (suspended && IsLive(word, number)) finding = Examine(thread, holder, lock, entries, CountOf(word));
  const bool ownVerdict = EndLook(entries, record, number, thread, suspended);
  int letGo = kLetGo;
  gPausedLook.compare_exchange_strong(letGo, kNotPaused);  // tests only: a paused look has ended
  return ownVerdict ? finding : TFinding::Unknown;
}

// The detaching thread's look, once the watch has ended (see gDetacher).
TFinding LookAlone(const TThreadEntries& entries, HANDLE thread, DWORD holder, const TLockWord& lock) {
  ULONG before = 0;
  if (entries.SuspendCounted(thread, &before) < 0) return TFinding::Untellable;
  const TFinding finding = Examine(thread, holder, lock, entries, before);
  ULONG count = 0;
  entries.ResumeCounted(thread, &count);
  return finding;
}

// The look a waiter last found under way (its turn) and since when, by GetTickCount.
struct TSeenLook {
  uint32_t turn = 0;
  DWORD since = 0;
};

// The calling thread's look at the holder's `thread`, when its turn comes: a look found under
// way at this waiter's last try too (`seen`) has stopped and is taken over first.
TFinding TakeTurnAndLook(const TThreadEntries& entries, HANDLE thread, DWORD holder, const TLockWord& lock,
                         TSeenLook& seen);

// What a look finds of `holder`, the thread `lock` named when the waiter last read it: Gone only
// when the word still names it once no thread of this process has the id (the thread ended, or
// the id is another process's), or once the thread is found without a frame for the lock on its
// stack, held still by this look throughout. No thread suspends itself.
TFinding LookAt(const TThreadEntries& entries, DWORD holder, const TLockWord& lock, TSeenLook& seen) {
  const auto stillNamed = [&] { return lock.owner.load(std::memory_order_acquire) == holder; };
  if (holder == CurrentThreadId()) return TFinding::Unknown;
  if (!stillNamed()) return TFinding::Inside;
  HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION,
                             FALSE, holder);
  if (thread == nullptr) {
    // A thread of this process that lets no one in cannot be looked at. Otherwise no thread of this
    // process had the id; but without a handle nothing keeps the id, and the holder the word
    // names when read again may be a thread made with it since: only when the id is still no
    // thread's of this process afterwards is that holder (whoever it was) ended.
    const auto noThreadHasIt = [holder] {
      HANDLE again = OpenThread(SYNCHRONIZE, FALSE, holder);
      if (again == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) return true;
      if (again != nullptr) CloseHandle(again);
      return !ThreadOfThisProcess(holder);  // another process's thread may have it now
    };
    if (ThreadOfThisProcess(holder)) return TFinding::Untellable;
    if (!stillNamed() || !noThreadHasIt()) return TFinding::Inside;
    return TFinding::Gone;
  }
  // While the handle is open no other thread can take the id: a word that names it once the
  // thread has ended (having given the lock back first, or not) names a holder that ended.
  const DWORD process = GetProcessIdOfThread(thread);
  if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0 || (process != 0 && process != GetCurrentProcessId())) {
    const bool gone = stillNamed();
    CloseHandle(thread);
    return gone ? TFinding::Gone : TFinding::Inside;
  }
  const TFinding finding = TakeTurnAndLook(entries, thread, holder, lock, seen);
  CloseHandle(thread);
  return finding;
}


// --- The watch
//
// One thread of the module's own takes over looks that stopped in the middle.
// - It starts when a waiter first sleeps for a lock, or is about to look, and no watch runs (none
//   yet, the last one killed, or a start that has not come about within a second), unless that
//   waiter holds the system's loader lock. It is made suspended through the system's own entry,
//   with a 64 KB stack, and let run once its handle is published; nobody waits for its start.
// - While a look is under way or a look's record is in use, it checks every 200 ms: a look that
//   has held the turn since two checks ago is taken over (the holder resumed when the look's
//   suspension is in effect, the turn ended; a look that runs on to its own resumption is left
//   to it unless held up there for two seconds), and the records of looks whose thread ended are
//   taken over and freed.
// - Otherwise it parks: it waits on its event with no time-out, running nothing and holding its
//   stack and the event; a look that takes its turn sets the event. It does not end when idle.
// - It ends only at the module's detach, before any finaliser: the detach marks the state ended
//   and sets the event, waits a second at most for the watch to leave the module's code, then
//   ends it. At the process's end the system ends it with the other threads. A watch the host
//   kills is replaced at the next look.

// The watch's state: its generation and phase in the high half; in the low half its thread's
// handle (Watching), or when its start began (Starting, by GetTickCount).
enum TWatchPhase : uint32_t {
  kNoWatch,   // none yet, or none could be made
  kStarting,  // a look makes it
  kWatching,  // made and let run: it watches, or will once its start is through
  kEnded,     // the module's detach began: none any more
};
std::atomic<uint64_t> gWatch{0};
// How far the watch of a generation got: the generation times 4, plus 1 while it runs its loop,
// or plus 2 once it left it (the last it does in the module's code).
std::atomic<uint32_t> gWatchProgress{0};
// When the watch was let run, by GetTickCount.
std::atomic<DWORD> gWatchLetRun{0};
// Wakes the watch when a look takes its turn; between looks it waits on it with no time-out.
std::atomic<HANDLE> gWakeWatch{nullptr};

constexpr DWORD kWatchCheckMs = 200;   // between two checks of the turn while looks have records
constexpr DWORD kWatchStartMs = 1000;  // a start or a let-run that has not come about by then was stopped
constexpr SIZE_T kWatchStack = 64 * 1024;

uint64_t WatchState(uint32_t generation, uint32_t phase, uint32_t low) {
  return static_cast<uint64_t>(generation << 3 | phase) << 32 | low;
}
uint32_t WatchPhaseOf(uint64_t state) { return static_cast<uint32_t>(state >> 32) & 7; }
uint32_t GenerationOf(uint64_t state) { return static_cast<uint32_t>(state >> 35); }
HANDLE HandleOf(uint64_t state) {
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(static_cast<uint32_t>(state)));
}
uint32_t HandleBits(HANDLE handle) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle)); }

DWORD WINAPI WatchMain(void* parameter) {
  const auto generation = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(parameter));
  // Ordered against the end's exchange of the state: the end sees this, or the loop sees the end.
  gWatchProgress.store(generation << 2 | 1, std::memory_order_seq_cst);
  const TThreadEntries& entries = *ThreadEntries();  // its starter found them
  uint32_t seen = 0;
  DWORD seenSince = 0;
  for (;;) {
    const uint64_t state = gWatch.load(std::memory_order_seq_cst);
    if (WatchPhaseOf(state) != kWatching || GenerationOf(state) != generation) break;
    // A look under way unchanged since two checks ago has stopped.
    const uint32_t turn = gLookTurn.load(std::memory_order_acquire);
    const DWORD now = GetTickCount();
    if (turn != seen) {
      seen = turn;
      seenSince = now;
    } else if (turn != 0 && now - seenSince >= 2 * kWatchCheckMs) {
      TakeTurn(entries, turn, now - seenSince >= kHeldUpMs);
    }
    const bool looking = SettleRecords(entries, false) || turn != 0;
    WaitForSingleObject(gWakeWatch.load(std::memory_order_acquire), looking ? kWatchCheckMs : INFINITE);
  }
  gWatchProgress.store(generation << 2 | 2, std::memory_order_release);
  return 0;
}

// Makes the watch of the generation in `starting` and lets it run, without waiting for its start.
void StartWatch(const TThreadEntries& entries, uint64_t starting) {
  if (gWakeWatch.load(std::memory_order_acquire) == nullptr) {
    HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE none = nullptr;
    if (wake != nullptr && !gWakeWatch.compare_exchange_strong(none, wake, std::memory_order_acq_rel))
      CloseHandle(wake);
  }
  const uint32_t generation = GenerationOf(starting);
  // Made suspended and let run only once its handle is published, so that the module's end knows
  // every watch that may run its code (one whose starter stopped before never runs).
  HANDLE thread = nullptr;
  if (gWakeWatch.load(std::memory_order_acquire) != nullptr)
    thread = entries.Create(nullptr, kWatchStack, &WatchMain, reinterpret_cast<void*>(uintptr_t{generation}),
                            CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  uint64_t expected = starting;
  if (thread == nullptr) {
    gWatch.compare_exchange_strong(expected, WatchState(generation, kNoWatch, 0), std::memory_order_acq_rel);
    return;
  }
  gWatchLetRun.store(GetTickCount(), std::memory_order_relaxed);
  if (!gWatch.compare_exchange_strong(expected, WatchState(generation, kWatching, HandleBits(thread)),
                                      std::memory_order_acq_rel)) {
    // The module's end, or a look that took this start for stopped: the thread never ran.
    TerminateThread(thread, 0);
    CloseHandle(thread);
    return;
  }
  entries.Resume(thread);
}

// Lets the watch of the state `watching` run when its starter stopped between publishing it and
// letting it run (a second resumption of a thread not suspended does nothing).
void LetStoppedStartRun(const TThreadEntries& entries, uint64_t watching) {
  if (gWatchProgress.load(std::memory_order_acquire) >> 2 == GenerationOf(watching) ||
      GetTickCount() - gWatchLetRun.load(std::memory_order_relaxed) < kWatchStartMs)
    return;
  // A handle of this thread's own, taken while the state still names the watch's: that one is
  // closed only after the state moved on, which it never moves back to.
  HANDLE thread = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), HandleOf(watching), GetCurrentProcess(), &thread, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return;
  if (gWatch.load(std::memory_order_acquire) == watching) entries.Resume(thread);
  CloseHandle(thread);
}

// Starts the watch when none runs (none yet, or the last one was killed), and goes on. A thread
// that holds the loader's lock starts none: the process may be ending, and a new thread could not
// start before the lock is given back anyway.
void EnsureWatch(const TThreadEntries& entries) {
  if (HoldsLoaderLock()) return;
  for (;;) {
    uint64_t state = gWatch.load(std::memory_order_acquire);
    switch (WatchPhaseOf(state)) {
      case kEnded:
        return;
      case kWatching:
        if (!Ended(HandleOf(state))) {
          LetStoppedStartRun(entries, state);
          return;
        }
        break;
      case kStarting:
        if (GetTickCount() - static_cast<DWORD>(state) < kWatchStartMs) return;
        break;  // its starter stopped before it made one, or any it made will never run
      default:
        break;
    }
    const uint64_t starting = WatchState(GenerationOf(state) + 1, kStarting, GetTickCount());
    if (!gWatch.compare_exchange_strong(state, starting, std::memory_order_acq_rel)) continue;
    if (WatchPhaseOf(state) == kWatching) CloseHandle(HandleOf(state));
    StartWatch(entries, starting);
    return;
  }
}

// True while the watch runs its loop (its start is through, and it was not killed since).
bool WatchRuns() {
  const uint64_t state = gWatch.load(std::memory_order_acquire);
  return WatchPhaseOf(state) == kWatching &&
         gWatchProgress.load(std::memory_order_acquire) == (GenerationOf(state) << 2 | 1) &&
         !Ended(HandleOf(state)) && gWatch.load(std::memory_order_acquire) == state;
}

// At a waiter's first sleep: the watch is started before any look needs it.
void StartWatchForLooks() {
  if (const TThreadEntries* entries = ThreadEntries()) EnsureWatch(*entries);
}

TFinding TakeTurnAndLook(const TThreadEntries& entries, HANDLE thread, DWORD holder, const TLockWord& lock,
                         TSeenLook& seen) {
  uint32_t turn = gLookTurn.load(std::memory_order_acquire);
  if (turn != 0 && turn != seen.turn) {
    seen = {turn, GetTickCount()};
    return TFinding::Unknown;
  }
  // One held up in its resumption is taken by the waiter as by the watch: no watch may run (killed,
  // and this waiter holds the loader lock that a new one's start needs).
  if (turn != 0 && !TakeTurn(entries, turn, GetTickCount() - seen.since >= kHeldUpMs)) {
    EnsureWatch(entries);  // which takes the look over should it be held up
    return TFinding::Unknown;
  }
  seen.turn = 0;
  if (gDetacher.load(std::memory_order_relaxed) == CurrentThreadId() &&
      WatchPhaseOf(gWatch.load(std::memory_order_acquire)) == kEnded) {
    // A turn with no record: a waiter that takes it over finds no look of its number to take.
    turn = NextLookNumber() << kRecordBits;
    uint32_t none = 0;
    if (!gLookTurn.compare_exchange_strong(none, turn, std::memory_order_acq_rel)) return TFinding::Unknown;
    const TFinding finding = LookAlone(entries, thread, holder, lock);
    gLookTurn.compare_exchange_strong(turn, 0, std::memory_order_acq_rel);
    return finding;
  }
  // No holder is suspended before the watch that would resume it, were the look stopped, runs.
  EnsureWatch(entries);
  if (!WatchRuns()) return TFinding::Untellable;
  const uint32_t number = NextLookNumber();
  TLookRecord* record = ClaimRecord(number, thread);
  if (record == nullptr) return TFinding::Untellable;
  uint32_t none = 0;
  turn = number << kRecordBits | static_cast<uint32_t>(record - gRecords);
  if (!gLookTurn.compare_exchange_strong(none, turn, std::memory_order_acq_rel)) {
    EndLook(entries, *record, number, thread, false);  // another look came first
    return TFinding::Unknown;
  }
  if (HANDLE wake = gWakeWatch.load(std::memory_order_acquire)) SetEvent(wake);
  const TFinding finding = LookHeldStill(entries, *record, number, thread, holder, lock);
  gLookTurn.compare_exchange_strong(turn, 0, std::memory_order_acq_rel);
  return finding;
}

// True when `address` lies in this module's image.
bool InThisModule(uintptr_t address) {
  const auto base = reinterpret_cast<uintptr_t>(&__ImageBase);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + __ImageBase.e_lfanew);
  return address >= base && address - base < headers->OptionalHeader.SizeOfImage;
}

// True once the watch `thread` of `generation` runs none of the module's code and never will
// again: ended, or past the end of its loop and out of the module's image; one that never ran is
// ended here (it would run the module's code once the loader lock, which this thread holds, is
// given back).
bool WatchOut(const TThreadEntries& entries, HANDLE thread, uint32_t generation) {
  if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) return true;
  const uint32_t progress = gWatchProgress.load(std::memory_order_seq_cst);
  const bool ran = progress >> 2 == generation && (progress & 3) != 0;
  const bool left = progress == (generation << 2 | 2);
  if (ran && !left) return false;  // in its loop: it sees the end and leaves
  if (SuspendThread(thread) == static_cast<DWORD>(-1)) return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
  alignas(16) CONTEXT context{};
  context.ContextFlags = CONTEXT_CONTROL;
  const bool inside = !GetThreadContext(thread, &context) || InThisModule(context.Eip);
  if (!inside && !left) TerminateThread(thread, 0);
  entries.Resume(thread);
  return !inside;
}

// At the module's detach, before its finalisers: no watch runs the module's code from here on.
// The watch is waited for a second at most (a thread kept suspended by someone else), then ended.
// A look stopped in the middle is taken over now, for no watch is left to do it.
void EndWatch(bool processEnds) {
  const uint64_t state = gWatch.exchange(WatchState(0, kEnded, 0), std::memory_order_seq_cst);
  HANDLE wake = gWakeWatch.load(std::memory_order_acquire);
  const TThreadEntries* entries = ThreadEntries();
  // The process's end ended every other thread first.
  if (entries == nullptr || processEnds) return;
  if (WatchPhaseOf(state) == kWatching) {
    HANDLE thread = HandleOf(state);
    if (wake != nullptr) SetEvent(wake);
    for (const DWORD start = GetTickCount(); !WatchOut(*entries, thread, GenerationOf(state)); Sleep(1)) {
      if (GetTickCount() - start < 1000) continue;
      TerminateThread(thread, 0);
      WaitForSingleObject(thread, 1000);
      break;
    }
    CloseHandle(thread);
  }
  if (wake != nullptr && gWakeWatch.compare_exchange_strong(wake, nullptr, std::memory_order_acq_rel))
    CloseHandle(wake);
  SettleRecords(*entries, true);
  gLookTurn.store(0, std::memory_order_release);
}

// One waiter's looks at the holder of the lock it waits for: the look it last found under way,
// whether its last look found the holder suspended, and since when no look could be made. A
// holder is not waited for when two looks in a row find it kept suspended (a moment's suspension,
// a sampling profiler's, is waited out), when no look could be made for a second (no wait on it
// may ever end), or when one look finds either after the holder was found so a while ago.
class TLooks {
 public:
  TVerdict Judge(DWORD holder, TFinding finding, bool foundBefore) {
    if (finding == TFinding::Unknown) return TVerdict::Wait;
    if (finding == TFinding::Untellable) {
      if (untellable_ != holder) {
        untellable_ = holder;
        untellableSince_ = GetTickCount();
      }
      return foundBefore || GetTickCount() - untellableSince_ >= kUntellableMs ? TVerdict::NotWaitedFor
                                                                              : TVerdict::Wait;
    }
    untellable_ = 0;
    if (finding != TFinding::Suspended) {
      suspended_ = 0;
      return finding == TFinding::Gone ? TVerdict::Gone : TVerdict::Wait;
    }
    if (foundBefore || suspended_ == holder) return TVerdict::NotWaitedFor;
    suspended_ = holder;
    return TVerdict::Wait;
  }

  TSeenLook seenUnderWay;

 private:
  static constexpr DWORD kUntellableMs = 1000;
  DWORD suspended_ = 0;
  DWORD untellable_ = 0;
  DWORD untellableSince_ = 0;
};

uint64_t NotWaitedForMark(DWORD holder, DWORD since) { return static_cast<uint64_t>(holder) << 32 | since; }

// The calling thread looks at `holder` (when no other look is under way) and writes the verdict
// into the lock word.
void LookAndRecord(TLooks& looks, TLockWord& lock, DWORD holder, bool foundSuspendedBefore) {
  const TThreadEntries* entries = ThreadEntries();
  if (entries == nullptr) return;
  gLooksAsked.fetch_add(1, std::memory_order_relaxed);
  const TFinding finding = LookAt(*entries, holder, lock, looks.seenUnderWay);
  switch (looks.Judge(holder, finding, foundSuspendedBefore)) {
    case TVerdict::Gone:
      lock.givenUp.store(true, std::memory_order_relaxed);
      break;
    case TVerdict::NotWaitedFor:
      lock.notWaitedFor.store(NotWaitedForMark(holder, GetTickCount()), std::memory_order_relaxed);
      break;
    case TVerdict::Wait:
      if (finding == TFinding::Inside) {  // no longer kept suspended: waited for again
        uint64_t mark = lock.notWaitedFor.load(std::memory_order_relaxed);
        if (static_cast<DWORD>(mark >> 32) == holder)
          lock.notWaitedFor.compare_exchange_strong(mark, 0, std::memory_order_relaxed);
      }
      break;
  }
}

}  // namespace

namespace kbl_detail {

void PauseNextLook(TLookPause at) { gPauseNextLook.store(at); }
bool LookPaused() { return gPausedLook.load() != kNotPaused; }
void LetPausedLookGo() {
  int paused = kPaused;
  gPausedLook.compare_exchange_strong(paused, kLetGo);
}
uint32_t LooksAtLockHolders() { return gLooksAsked.load(std::memory_order_relaxed); }

}  // namespace kbl_detail

#else  // 64-bit: no registrations on the stack to look at

namespace {

bool HoldsFurtherOut(const TLockFrame&) { return true; }

class TLooks {};
void LookAndRecord(TLooks&, TLockWord&, DWORD, bool) {}
void StartWatchForLooks() {}
void EndWatch(bool) {}

}  // namespace

namespace kbl_detail {

void PauseNextLook(TLookPause) {}
bool LookPaused() { return false; }
void LetPausedLookGo() {}
uint32_t LooksAtLockHolders() { return 0; }

}  // namespace kbl_detail

#endif

bool WaitForLockWord(TLockWord& lock, uint32_t self, uint32_t holder, const TLockFrame& frame,
                     const TLockPace& pace) noexcept {
  TLooks looks;
  // The verdict of a look ends the wait: the lock given up, or the holder not waited for now.
  const auto judged = [&] {
    const uint64_t mark = lock.notWaitedFor.load(std::memory_order_relaxed);
    return lock.givenUp.load(std::memory_order_relaxed) ||
           (static_cast<DWORD>(mark >> 32) == holder && GetTickCount() - static_cast<DWORD>(mark) < kNotWaitedForMs);
  };
  bool markLookedAt = false;
  // The holder and its take as the last try found them, and whether the lock changed hands since
  // the last look point (the count tells a thread that gave it back and took it again).
  uint32_t triedHolder = holder;
  uint8_t triedTakes = lock.takes.load(std::memory_order_relaxed);
  bool moved = false;
  for (int i = 0, sleeps = 0;; ++i) {
    if (holder == 0) {
      if (lock.owner.compare_exchange_weak(holder, self, std::memory_order_acquire)) return KeepLockWord(lock);
      continue;
    }
    if (lock.givenUp.load(std::memory_order_relaxed)) return false;
    if (holder == self) {
      // Held further out on this thread (a fault's handler that allocates), or the word names
      // this thread without it being inside: a dead holder's id it got, or it left the code.
      if (!HoldsFurtherOut(frame)) lock.givenUp.store(true, std::memory_order_relaxed);
      return false;
    }
    // The detaching thread's first look at a holder comes before another thread's verdict that it
    // is not waited for: a holder found kept suspended a moment ago may have been killed since (a
    // host kills it and unloads at once), and only a look tells it gone, which lets the chunks go
    // back.
    const bool looksAtOnce = i == 0 && DetachLooksAtOnce(lock, holder);
    if (!looksAtOnce && judged()) return false;
    const uint8_t takes = lock.takes.load(std::memory_order_relaxed);
    if (holder != triedHolder || takes != triedTakes) {
      moved = true;
      triedHolder = holder;
      triedTakes = takes;
    }
    const bool marked = static_cast<DWORD>(lock.notWaitedFor.load(std::memory_order_relaxed) >> 32) == holder;
    if (looksAtOnce || (marked && !markLookedAt)) {
      // The detach's look at once; at a holder found kept suspended a while ago, it tells whether
      // it still is.
      markLookedAt = markLookedAt || marked;
      LookAndRecord(looks, lock, holder, marked);
      if (judged()) return false;
    }
    if (i < pace.spins) {
      _mm_pause();
    } else if (i < pace.spins + pace.yields) {
      // Past the unload's second every wait does without the lock before its first yield: on a
      // CPU shared with busy threads each yield gives a whole slice away, and a finaliser freeing
      // many blocks beside a holder that stays inside would pay them at every block.
      if (EndingBoundPassed()) return false;
      SwitchToThread();
    } else {
      if (EndingBoundPassed()) return false;
      // The watch that makes looks safe is started at the first sleep, well before the first look
      // needs it running; the look waits a while, and is made only at a holder that kept the lock
      // through every try since the last look point: it suspends the holder (any thread that
      // allocates, a host's audio thread among them), which one making progress should be spared.
      // One that is stopped or dead keeps the lock, and is still looked at, 16 sleeps later at most.
      if (++sleeps == 1) StartWatchForLooks();
      if ((sleeps & 15) == 0) {
        if (!moved) {
          LookAndRecord(looks, lock, holder, marked);
          if (judged()) return false;
        }
        moved = false;
      }
      Sleep(pace.sleepMs);
    }
    holder = lock.owner.load(std::memory_order_relaxed);
  }
}
