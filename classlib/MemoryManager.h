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
// Any thread may allocate and free; one short lock guards the chunks. The audio thread does not
// allocate, so it never waits on it. No call waits for ever for a holder that will not give the
// lock back: the lock word holds its holder's thread id, and a waiter that has waited a while
// looks whether that thread is still inside the code that took the lock (see TLockFrame). A
// holder that ended, whose id is now another thread's, or that left the code without giving the
// lock back (a fault's handler outside unwound past it) makes the manager give its chunks up for
// good: the holder may have left them half changed, so new blocks come from the C heap and blocks
// of the chunks that are freed are only counted, and a chunk whose blocks are all freed goes back
// to the system once the module ends. A holder that waits for the processing of an exception
// raised under the lock (a fault inside the manager, see TMemoryManagerHolderWaits), or that is
// kept suspended, is not waited for either: the call takes a block from the C heap or leaves the
// block it frees where it is. From the start of the module's detach, before any of its finalisers
// runs, the lock is waited for a second at most.
#pragma once

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

// Set up by an exception handler for the time the calling thread waits for the processing of an
// exception: when the thread holds the manager's lock (the exception was raised inside the
// manager), other threads do not wait for the lock meanwhile; they take blocks from the C heap
// and leave the chunks' blocks they free in place. Does nothing otherwise. Guards nest: the lock
// is parked until the outermost one on the holder's thread ends.
class TMemoryManagerHolderWaits {
 public:
  TMemoryManagerHolderWaits() noexcept;
  ~TMemoryManagerHolderWaits();
  TMemoryManagerHolderWaits(const TMemoryManagerHolderWaits&) = delete;
  TMemoryManagerHolderWaits& operator=(const TMemoryManagerHolderWaits&) = delete;

 private:
  bool parked_ = false;
};

// --- Holders of a lock word (shared with the other spin locks of the module)

// The calling thread's id as a lock word holds it, never 0.
uint32_t LockOwnerId() noexcept;

// What a waiter finds of the thread that a lock word names as its holder.
enum class TLockHolder : uint8_t {
  Inside,     // running inside the code that took the lock, or nothing could be told: wait
  Suspended,  // inside, but kept suspended by another thread: do not wait for it now
  Gone,       // no thread of this process has the id, the thread ended, or it is not inside the
              // code that took this lock (no TLockFrame of it on its stack): it will never give
              // the lock back
};
// Looks at the thread `holder` that the lock word at `lock` names, suspending it for a moment to
// read its stack. Outside 32-bit Windows the answer is always Inside.
TLockHolder LookAtLockHolder(uint32_t holder, const void* lock) noexcept;

// What a waiter on a lock word makes of its looks at the holder: a holder is taken for suspended
// or gone only when two looks in a row at the same holder found it so and the word still names
// it, so that a moment's suspension (another waiter's look, a sampling profiler) is waited out.
class TLockHolderLooks {
 public:
  template <class TWord>
  TLockHolder Look(uint32_t holder, const TWord& word) noexcept {
    TLockHolder look = LookAtLockHolder(holder, &word);
    if (look != TLockHolder::Inside && word.load() != holder) look = TLockHolder::Inside;
    const bool again = look == last_ && holder == lastHolder_;
    last_ = look;
    lastHolder_ = holder;
    return again ? look : TLockHolder::Inside;
  }

 private:
  TLockHolder last_ = TLockHolder::Inside;
  uint32_t lastHolder_ = 0;
};

// Stands on the stack of a thread from before it tries to take the lock word at `lock` until
// after it gave it back, so that another thread can tell whether the word's holder is still
// inside the code that took it (LookAtLockHolder): a thread id can be taken over by a new thread
// once its thread ended, and a thread can leave the code without giving the lock back when a
// fault's handler outside unwinds past it, as hosts that survive a plug-in's crash do (the
// unwind takes the frame off). On 32-bit Windows the frame is one of the thread's exception
// registrations, linked and unlinked with a few moves; elsewhere it does nothing and holders are
// never told gone. Only as an automatic variable: the system looks for registrations on the stack.
class TLockFrame {
 public:
  explicit TLockFrame(const void* lock) noexcept;
  ~TLockFrame();
  TLockFrame(const TLockFrame&) = delete;
  TLockFrame& operator=(const TLockFrame&) = delete;

#if defined(_WIN32) && defined(__i386__)
 private:
  friend TLockHolder LookAtLockHolder(uint32_t holder, const void* lock) noexcept;
  // Called by the system for every exception dispatched or unwound past the frame: lets it pass.
  static int Handle(void* record, void* frame, void* context, void* dispatcher) noexcept;

  // The layout of an exception registration (the next one, the handler), then the lock.
  TLockFrame* next_;
  void* handler_;
  const void* lock_;
#endif
};

#if defined(_WIN32) && defined(__i386__)
inline TLockFrame::TLockFrame(const void* lock) noexcept
    : handler_(reinterpret_cast<void*>(&TLockFrame::Handle)), lock_(lock) {
  asm volatile("movl %%fs:0, %0" : "=r"(next_));
  asm volatile("movl %0, %%fs:0" : : "r"(this) : "memory");
}
inline TLockFrame::~TLockFrame() { asm volatile("movl %0, %%fs:0" : : "r"(next_) : "memory"); }
#else
inline TLockFrame::TLockFrame(const void*) noexcept {}
inline TLockFrame::~TLockFrame() = default;
#endif

namespace kbl_detail {
// Tests only. Takes the memory manager's lock and keeps it with no trace of the code that took it,
// as a holder that died or left without giving it back.
void HoldMemoryManagerLock();
// Runs `body(data)` holding the memory manager's lock as the manager's own code holds it; answers
// false, without running it, when the lock could not be had.
bool RunHoldingMemoryManagerLock(void (*body)(void*), void* data);
}  // namespace kbl_detail
