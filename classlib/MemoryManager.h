// The class library's memory manager: the global new and delete of a 32-bit Windows module.
//
// Blocks of up to 4 KB come from 64 KB chunks, each chunk holding blocks of one size class, so
// that making and freeing many small objects (a list of ten thousand items, a tree loaded from a
// file) costs a few instructions a block instead of a trip through the system heap and its lock.
// Larger blocks, and every block elsewhere (64-bit and POSIX builds, where the C library's
// allocator and the sanitizers stay in charge), come from the C heap. Small blocks are 16-byte
// aligned, others as the C heap aligns them.
//
// Chunks that fall empty are kept for reuse up to 16 MB in all and given back beyond that; when
// the module ends (its statics are destroyed, as when a host unloads the DLL) the kept ones are
// given back and every chunk that falls empty later goes at once, so a module unloaded with
// nothing left allocated leaves no memory behind.
//
// Any thread may allocate and free; one short lock guards the chunks (a TLockWord: see there for
// a holder that will not give it back). The audio thread does not allocate, so it never waits on
// it. When the lock's holder will never give it back, the manager gives its chunks up for good:
// the holder may have left them half changed, so new blocks come from the C heap and blocks of the
// chunks that are freed are only counted, and a chunk whose blocks are all freed goes back to the
// system once the module ends. A call that does not wait for a holder kept suspended takes a
// block from the C heap, or leaves the block it frees to the lock's next holder.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// Allocates `size` bytes (at least one); throws std::bad_alloc when memory is exhausted.
void* GetMem(std::size_t size);
// The same, answering nullptr when memory is exhausted (for allocators stacked on this one).
void* TryGetMem(std::size_t size) noexcept;
// Frees a block of GetMem (or of the global new); nullptr is ignored. On Windows a block of the
// C heap (malloc) is handed to free.
void FreeMem(void* block) noexcept;
// Frees the block when it is one of the small-block chunks' and answers true; answers false and
// leaves it alone otherwise (nullptr, a block of the C heap, a build without chunks). Lets code
// that holds blocks from several allocators tell them apart.
bool FreeSmallBlock(void* block) noexcept;
// The start of the small block that holds `address`, nullptr when no chunk holds it (a block of
// the C heap, a build without chunks). Lets an allocator that puts a header in front of its
// blocks tell its own from blocks it passed on unchanged, whatever bytes lie before them.
void* SmallBlockOf(const void* address) noexcept;

// What the memory manager holds, for tests and benchmarks.
struct TMemoryManagerState {
  std::size_t chunks = 0;       // chunks taken from the system, empty ones included
  std::size_t emptyChunks = 0;  // kept for reuse
  std::size_t smallBlocks = 0;  // small blocks allocated and not yet freed
};
TMemoryManagerState GetMemoryManagerState();
// True when this build serves small blocks from chunks.
bool SmallBlocksEnabled();

// The id of the thread holding the lock, 0 when none (a thread about to be kept suspended for a
// while must not hold it).
uint32_t MemoryManagerLockHolder();

// Called by an exception handler before it processes an exception on the calling thread: when
// that thread holds the manager's lock (the exception was raised inside the manager, which then
// may be half changed), the chunks are given up for good, so that no thread waits for the lock
// while this one waits for the processing or while the handlers outside run. Does nothing
// otherwise.
void GiveUpMemoryManagerLockOfThisThread() noexcept;

// --- Spin locks whose holder may not give them back (the memory manager's, the leak list's)

// The calling thread's id as a lock word holds it, never 0.
uint32_t LockOwnerId() noexcept;

// A lock of the module: the holder's thread id, set by one compare-and-exchange, since a lock of
// the system costs several times the rest of an allocation. A waiter never waits for ever for a
// holder that will not give it back, and never takes a holder still inside the code that took it
// for gone. The holder is the thread whose TLockFrame for this lock stands on the live part of its
// stack; the word's id alone proves nothing (a dead holder's id may be another thread's now, and a
// thread may leave the code without giving the lock back). So the lock is given up for good when
// - a look that a waiter asked for once the holder kept the lock through its tries for a while
//   (one that gave it back meanwhile is making progress and is spared the look) suspends the
//   holder, and finds no frame of the lock on its stack while the word still names it; or the
//   thread ended, or is another process's now;
// - the word names the waiter itself and no other frame of the lock is on its own stack;
// - an exception raised under the lock goes past the frame to handlers outside (a host that
//   survives a plug-in's crash), dispatched or unwound (see TLockFrame);
// - an exception handler processes an exception raised under it (GiveUp...OfThisThread).
// A holder found kept suspended by another thread (two looks of one waiter in a row), or one that
// no look could tell for a second (its thread lets no one in, its suspension is refused, its stack
// is one the look cannot find, as a coroutine's, sixteen looks stopped in the middle, no watch
// running), is not waited for, nor given up: never taken for gone, nor waited for for ever; that
// verdict stands for a while, so that a call does not pay the wait again each time. A waiter looks
// itself, one look at a time in the module, and never waits for another thread's start, end or
// progress. A look stopped in the middle (its waiter killed, or kept suspended) is taken over by
// the next waiter, or within a second by a thread of the module's own that watches the looks: the
// holder it left suspended runs again, its one suspension is resumed once, other threads'
// suspensions of it are left as they are, and nobody waits for ever. The watch is started at a
// waiter's first sleep when none runs (not by a thread that holds the system's loader lock),
// waited for by nobody, parked (waiting with no time-out) while no look is under way, and ended
// only at the module's detach, before any finaliser runs; no look is made while it does not run,
// but by the thread that runs the detach once it has ended (no other is left to resume what that
// look suspends). From the start of the module's detach the lock is waited for a second at most
// (past it, each wait ends after its pauses, before its first yield);
// the thread that runs the detach looks at a holder at once when it first waits for it, so that a
// holder that is gone is told at the unload however little of that second the CPU leaves it.
// Constant-initialised (all zero): usable before any static constructor and after the last
// destructor of the module.
struct TLockWord {
  std::atomic<uint32_t> owner;  // the holder's id (LockOwnerId), 0 when free
  // The holder will not give the lock back: what it guards may be half changed and is left alone
  // for good. Read after every take of the lock, so it shares the lock's line.
  std::atomic<bool> givenUp;
  // Takes kept, counted by their holder and wrapping (in bytes the line had free): a waiter that
  // finds the same holder and count at every try knows the holder kept the lock all the while,
  // where the id alone may name a thread that gave it back and took it again.
  std::atomic<uint8_t> takes;
  // The holder last not waited for (high half: kept suspended, or not to be looked at) and when,
  // by GetTickCount (low half).
  std::atomic<uint64_t> notWaitedFor;
};

// Stands on the stack of a thread from before it tries to take the lock word `lock` until after
// it gave it back, so that another thread can tell whether the word's holder is still inside the
// code that took it. On 32-bit Windows it is one of the thread's exception registrations, linked
// and unlinked with a few moves: a fault's handler outside that unwinds past it takes it off, and
// the system calls it for every exception that goes past it, which gives the lock up when the
// thread holds it. Elsewhere it does nothing and holders are never told gone. Only as an
// automatic variable: the system looks for registrations on the stack.
class TLockFrame {
 public:
  explicit TLockFrame(const TLockWord& lock) noexcept;
  ~TLockFrame();
  TLockFrame(const TLockFrame&) = delete;
  TLockFrame& operator=(const TLockFrame&) = delete;

#if defined(_WIN32) && defined(__i386__)
  // Called by the system for every exception dispatched or unwound past the frame: lets it pass.
  static int Handle(void* record, void* frame, void* context, void* dispatcher) noexcept;

  // The layout of an exception registration (the next one, the handler), then the lock.
  TLockFrame* next_;
  void* handler_;
  TLockWord* lock_;
#endif
};

#if defined(_WIN32) && defined(__i386__)
inline TLockFrame::TLockFrame(const TLockWord& lock) noexcept
    : handler_(reinterpret_cast<void*>(&TLockFrame::Handle)), lock_(const_cast<TLockWord*>(&lock)) {
  asm volatile("movl %%fs:0, %0" : "=r"(next_));
  asm volatile("movl %0, %%fs:0" : : "r"(this) : "memory");
}
inline TLockFrame::~TLockFrame() { asm volatile("movl %0, %%fs:0" : : "r"(next_) : "memory"); }
#else
inline TLockFrame::TLockFrame(const TLockWord&) noexcept {}
inline TLockFrame::~TLockFrame() = default;
#endif

// How a waiter waits between tries: `spins` pauses, then `yields` yields, then sleeps of
// `sleepMs` milliseconds; at every 16th sleep the holder is looked at when it kept the lock
// through every try since the last such sleep (at the module's detach, see TLockWord, also before
// the first pause).
struct TLockPace {
  uint16_t spins, yields, sleepMs;
};

// The lock just taken by compare-and-exchange, and the take counted, unless it was given up
// meanwhile (then it is given back at once and the caller does without it).
inline bool KeepLockWord(TLockWord& lock) noexcept {
  if (!lock.givenUp.load(std::memory_order_relaxed)) {
    lock.takes.store(lock.takes.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    return true;
  }
  lock.owner.store(0, std::memory_order_release);
  return false;
}

// The lock was found held by `holder`: waits for it as `pace` says on the calling thread `self`,
// whose `frame` stands for this lock, and answers whether it took it. Answers false instead when
// the lock is given up (or gives it up, see TLockWord), when its holder is kept suspended, when
// the word names this thread holding it further out (a fault's handler on the holder's thread),
// and a second after the module's detach began.
bool WaitForLockWord(TLockWord& lock, uint32_t self, uint32_t holder, const TLockFrame& frame,
                     const TLockPace& pace) noexcept;

// Takes the lock for the calling thread `self`, whose `frame` stands for it; answers whether it
// was taken (see WaitForLockWord).
inline bool TakeLockWord(TLockWord& lock, uint32_t self, const TLockFrame& frame, const TLockPace& pace) noexcept {
  uint32_t holder = 0;
  if (lock.owner.compare_exchange_strong(holder, self, std::memory_order_acquire)) return KeepLockWord(lock);
  return WaitForLockWord(lock, self, holder, frame, pace);
}

// Gives the lock up for good when the calling thread holds it (see
// GiveUpMemoryManagerLockOfThisThread); the id is enough here: a word that names this thread
// while it is not inside names a holder that is gone.
void GiveUpLockWordOfThisThread(TLockWord& lock) noexcept;

namespace kbl_detail {
// Tests only. Takes the memory manager's lock and keeps it with no trace of the code that took it,
// as a holder that died or left without giving it back.
void HoldMemoryManagerLock();
// Runs `body(data)` holding the memory manager's lock as the manager's own code holds it; answers
// false, without running it, when the lock could not be had.
bool RunHoldingMemoryManagerLock(void (*body)(void*), void* data);
// Where the next look at a lock's holder pauses, as a look stopped or slowed there: just before it
// suspends the holder, or once it did with the count the system wrote forgotten (as where the
// system writes it after the suspension in the caller's own code), or at its end, its record
// marked for the resumption, just before it resumes the holder (or would, its suspension made).
// The look waits until LetPausedLookGo.
enum class TLookPause { None, BeforeSuspension, CountUnwritten, BeforeResumption };
void PauseNextLook(TLookPause at);
// True from when a look waits where PauseNextLook said until it has ended, once let go.
bool LookPaused();
void LetPausedLookGo();
// Tests and benchmarks only: how many looks at a lock word's holder this module's waiters asked for
// so far (0 where no looks are made). Counted where a look begins, never on a lock's way in or out.
uint32_t LooksAtLockHolders();
}  // namespace kbl_detail
