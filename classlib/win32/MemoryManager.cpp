// The small-block memory manager of Windows modules, the global new and delete built on it, and
// the spin locks of the module whose holder may not give them back.
#include "classlib/MemoryManager.h"

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

// The module's detach begins: the system calls a module's thread-storage callbacks before its
// entry point, and the entry point runs the finalisers. From here every wait for a lock is
// bounded, so that no finaliser waits for ever on a holder that never gives it back.
void NTAPI MarkEndAtDetach(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_PROCESS_DETACH) MarkEnding();
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
  KeptSuspended,  // inside, but kept suspended by another thread: not waited for now
  Gone,           // will never give the lock back
};

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

// --- Looks at a holder
//
// A look suspends the holder for a moment to read its stack. Looks take turns, one at a time in
// the module (the turn is odd while one is under way), so that a look that finds the holder
// suspended knows another thread keeps it so. A look that another waiter finds under way,
// unchanged, at two of its tries apart has stopped (its thread was killed, or is kept suspended):
// that waiter ends the turn and starts its own look.
std::atomic<uint32_t> gLookTurn{0};

// The suspension of a holder that a look still has to undo: the look's turn and a phase in the
// high half, the look's handle of the holder in the low half; 0 when none. A look publishes it
// before it suspends the holder (phase 0), marks it once it has (phase 1), and takes it back before
// it resumes the holder. A look that finds the record of a stopped look settles it before it
// publishes its own: when the stopped look's thread has ended, it resumes the holder that look
// left suspended; otherwise it marks the record (phase 2) and leaves the undoing to the stopped
// look, for it goes on one day and reads the holder's stack until then. So no look's suspension
// is undone by another while it reads. In phase 0 the suspension may not have taken place, and
// the resumption would then undo someone else's: it is left out while a marked look still runs
// (the holder stays suspended, and is not waited for).
std::atomic<uint64_t> gLookRecord{0};
// Looks whose record was marked and that have not ended yet.
std::atomic<int32_t> gMarkedLooks{0};
// The look's turn (high half) and its own thread's handle (low half), to tell a stopped look
// whose thread ended.
std::atomic<uint64_t> gLooker{0};

uint64_t Halves(uint32_t high, HANDLE low) {
  return static_cast<uint64_t>(high) << 32 | static_cast<uint32_t>(reinterpret_cast<uintptr_t>(low));
}
uint64_t LookRecord(uint32_t turn, HANDLE thread, uint32_t phase) { return Halves(turn << 2 | phase, thread); }
uint32_t PhaseOf(uint64_t record) { return static_cast<uint32_t>(record >> 32) & 3; }
uint32_t TurnOf(uint64_t record) { return static_cast<uint32_t>(record >> 34); }
HANDLE LowHandle(uint64_t halves) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(static_cast<uint32_t>(halves))); }

// The thread handle of the look whose record is `record` when that thread has ended, else
// nullptr. The handle is only read here: a look that went on may have closed it, and its record
// then no longer matches.
HANDLE EndedLooker(uint64_t record) {
  const uint64_t looker = gLooker.load(std::memory_order_acquire);
  if ((static_cast<uint32_t>(looker >> 32) & 0x3FFFFFFFu) != TurnOf(record)) return nullptr;
  DWORD code = 0;
  return GetExitCodeThread(LowHandle(looker), &code) && code != STILL_ACTIVE ? LowHandle(looker) : nullptr;
}

// Settles what a stopped look left in the record and answers the record to replace (0, or one
// marked phase 2).
uint64_t SettleLookRecord(const TThreadEntries& entries) {
  uint64_t record = gLookRecord.load(std::memory_order_acquire);
  for (;;) {
    if (record == 0 || PhaseOf(record) == 2) return record;
    if (HANDLE looker = EndedLooker(record)) {
      // Still the stopped look's record when taken: its thread had closed neither handle (it
      // does so after it takes its record back), and never will.
      if (gLookRecord.compare_exchange_weak(record, 0, std::memory_order_acq_rel)) {
        if (PhaseOf(record) == 1 || gMarkedLooks.load(std::memory_order_acquire) == 0) entries.Resume(LowHandle(record));
        CloseHandle(LowHandle(record));
        CloseHandle(looker);
        return 0;
      }
    } else if (gLookRecord.compare_exchange_weak(record, record | 2, std::memory_order_acq_rel)) {
      gMarkedLooks.fetch_add(1, std::memory_order_acq_rel);
      return record | 2;
    }
  }
}

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

// True when `thread` (the lock's holder `holder`, suspended, its stack pointer `stackPointer`) has
// no frame for `lock` on the live part of its stack. Anything that cannot be read as this
// process's 32-bit thread block of that thread (as a 64-bit one under WOW64 would be) counts as a
// frame found.
bool NoFrameOnStack(const TThreadEntries& entries, HANDLE thread, DWORD holder, uintptr_t stackPointer,
                    const TLockWord* lock) {
  TThreadBasics basics{};
  if (entries.QueryThread(thread, 0, &basics, sizeof basics, nullptr) != 0) return false;
  // The block the system answers, or, where it answers a 64-bit one (a 32-bit program on a 64-bit
  // system), the 32-bit block two pages after it; taken only when it names itself and the holder.
  TThreadBlock block{};
  const auto isBlock = [&](uintptr_t at) {
    return at != 0 && ReadOtherThreads(at, &block, sizeof block) && block.Self == at && block.ThreadId == holder;
  };
  if ((!isBlock(basics.Tib) && !isBlock(basics.Tib + 0x2000)) || stackPointer > block.StackBase)  // another stack
    return false;
  return SearchChain(block.ExceptionList, std::max(stackPointer, block.StackLimit), block.StackBase, lock, nullptr,
                     &ReadOtherThreads) == TFrameSearch::Missing;
}

// What look `turn` finds of `holder`, the thread `lock` named when the waiter last read it: Gone
// only when the word still names it once no thread of this process has the id (the thread
// ended, or the id is another process's), or once the thread is found without a frame for the
// lock on its stack, held still by this look throughout.
TVerdict LookAt(const TThreadEntries& entries, uint32_t turn, DWORD holder, const TLockWord& lock) {
  const auto stillNamed = [&] { return lock.owner.load(std::memory_order_acquire) == holder; };
  if (!stillNamed()) return TVerdict::Wait;
  HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION,
                             FALSE, holder);
  if (thread == nullptr) {
    // A thread of this process that lets no one in cannot be told. Otherwise no thread of this
    // process had the id; but without a handle nothing keeps the id, and the holder the word
    // names when read again may be a thread made with it since: only when the id is still no
    // thread's of this process afterwards is that holder (whoever it was) ended.
    const auto noThreadHasIt = [holder] {
      HANDLE again = OpenThread(SYNCHRONIZE, FALSE, holder);
      if (again == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) return true;
      if (again != nullptr) CloseHandle(again);
      return !ThreadOfThisProcess(holder);  // another process's thread may have it now
    };
    if (ThreadOfThisProcess(holder) || !stillNamed() || !noThreadHasIt()) return TVerdict::Wait;
    return TVerdict::Gone;
  }
  // While the handle is open no other thread can take the id: a word that names it once the
  // thread has ended (having given the lock back first, or not) names a holder that ended.
  const DWORD process = GetProcessIdOfThread(thread);
  if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0 || (process != 0 && process != GetCurrentProcessId())) {
    const bool gone = stillNamed();
    CloseHandle(thread);
    return gone ? TVerdict::Gone : TVerdict::Wait;
  }
  HANDLE self = nullptr;
  if (gLookTurn.load(std::memory_order_acquire) != turn ||  // taken over already
      !DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    CloseHandle(thread);
    return TVerdict::Wait;
  }
  // The stopped look's own thread is named until its record is settled.
  uint64_t replaced = SettleLookRecord(entries);
  gLooker.store(Halves(turn, self), std::memory_order_release);
  uint64_t mine = LookRecord(turn, thread, 0);
  while (!gLookRecord.compare_exchange_strong(replaced, mine, std::memory_order_acq_rel))
    replaced = SettleLookRecord(entries);
  TVerdict verdict = TVerdict::Wait;
  const DWORD suspensions = SuspendThread(thread);
  if (suspensions != static_cast<DWORD>(-1)) {
    uint64_t published = mine;
    if (gLookRecord.compare_exchange_strong(published, LookRecord(turn, thread, 1), std::memory_order_acq_rel))
      mine = LookRecord(turn, thread, 1);
    // Taking the context makes sure the suspension has taken effect before the stack is read.
    alignas(16) CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    if (GetThreadContext(thread, &context) && context.Esp != 0) {
      // The word is read again while the holder is held still: a thread without a frame cannot
      // take the lock, so a word that still names it names a holder that left.
      if (NoFrameOnStack(entries, thread, holder, context.Esp, &lock)) {
        if (stillNamed()) verdict = TVerdict::Gone;
      } else if (suspensions > 0) {
        verdict = TVerdict::KeptSuspended;
      }
    }
  }
  // Taken back (unless marked meanwhile), then undone: never the other way round, or a stop in
  // between would have the suspension undone twice.
  uint64_t expected = mine;
  if (!gLookRecord.compare_exchange_strong(expected, 0, std::memory_order_acq_rel))
    gMarkedLooks.fetch_sub(1, std::memory_order_acq_rel);
  if (suspensions != static_cast<DWORD>(-1)) entries.Resume(thread);
  CloseHandle(thread);
  CloseHandle(self);
  return verdict;
}

// One waiter's looks: what it saw of the looks under way and of the holder.
class TLooks {
 public:
  // Looks at `holder`, or answers Wait when another look is under way.
  TVerdict Look(const TLockWord& lock, DWORD holder) {
    const TThreadEntries* entries = ThreadEntries();
    if (entries == nullptr) return TVerdict::Wait;
    uint32_t turn = gLookTurn.load(std::memory_order_acquire);
    if ((turn & 1) != 0) {
      // A look under way: when it was already at this waiter's last try, it has stopped.
      if (turn != seenUnderWay_ || !gLookTurn.compare_exchange_strong(turn, turn + 1, std::memory_order_acq_rel)) {
        seenUnderWay_ = turn;
        return TVerdict::Wait;
      }
      ++turn;
    }
    seenUnderWay_ = 0;
    if (!gLookTurn.compare_exchange_strong(turn, turn + 1, std::memory_order_acq_rel)) return TVerdict::Wait;
    ++turn;
    TVerdict verdict = LookAt(*entries, turn, holder, lock);
    gLookTurn.compare_exchange_strong(turn, turn + 1, std::memory_order_acq_rel);
    // Kept suspended only when two looks in a row find it so: a moment's suspension (a sampling
    // profiler's) is waited out.
    if (verdict == TVerdict::KeptSuspended && suspended_ != holder) {
      suspended_ = holder;
      verdict = TVerdict::Wait;
    } else if (verdict != TVerdict::KeptSuspended) {
      suspended_ = 0;
    }
    return verdict;
  }

  // The holder was found kept suspended before (the first of two looks).
  void FoundKeptSuspended(DWORD holder) { suspended_ = holder; }

 private:
  uint32_t seenUnderWay_ = 0;
  DWORD suspended_ = 0;
};

}  // namespace

#else  // 64-bit: no registrations on the stack to look at

namespace {

bool HoldsFurtherOut(const TLockFrame&) { return true; }

class TLooks {
 public:
  TVerdict Look(const TLockWord&, DWORD) { return TVerdict::Wait; }
  void FoundKeptSuspended(DWORD) {}
};

}  // namespace

#endif

namespace {

// How long a holder found kept suspended is not waited for before it is looked at again.
constexpr DWORD kKeptSuspendedMs = 100;

uint64_t KeptSuspendedMark(DWORD holder, DWORD since) { return static_cast<uint64_t>(holder) << 32 | since; }

}  // namespace

bool WaitForLockWord(TLockWord& lock, uint32_t self, uint32_t holder, const TLockFrame& frame,
                     const TLockPace& pace) noexcept {
  TLooks looks;
  // A verdict that ends the wait: the lock given up, or the holder not waited for now.
  const auto ends = [&](TVerdict verdict) {
    if (verdict == TVerdict::Gone) lock.givenUp.store(true, std::memory_order_relaxed);
    if (verdict == TVerdict::KeptSuspended)
      lock.keptSuspended.store(KeptSuspendedMark(holder, GetTickCount()), std::memory_order_relaxed);
    return verdict != TVerdict::Wait;
  };
  bool markLookedAt = false;
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
    uint64_t mark = lock.keptSuspended.load(std::memory_order_relaxed);
    if (static_cast<DWORD>(mark >> 32) == holder) {
      if (GetTickCount() - static_cast<DWORD>(mark) < kKeptSuspendedMs) return false;
      if (!markLookedAt) {
        // Found kept suspended a while ago: one look tells whether it still is.
        markLookedAt = true;
        looks.FoundKeptSuspended(holder);
        if (ends(looks.Look(lock, holder))) return false;
        lock.keptSuspended.compare_exchange_strong(mark, 0, std::memory_order_relaxed);
      }
    }
    if (i < pace.spins) {
      _mm_pause();
    } else if (i < pace.spins + pace.yields) {
      SwitchToThread();
    } else {
      if (EndingBoundPassed()) return false;
      // Not at the first sleep: looking suspends the holder, which a busy lock's holder (ready to
      // run, given back in a moment) should be spared.
      if ((++sleeps & 15) == 0 && ends(looks.Look(lock, holder))) return false;
      Sleep(pace.sleepMs);
    }
    holder = lock.owner.load(std::memory_order_relaxed);
  }
}
