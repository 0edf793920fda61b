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
// allocate, so it never waits on it. The lock word holds its holder's thread id, so a waiter can
// tell when the holder has ended without giving it back (a thread the process killed): the chunks
// are then left as they are for good, new blocks come from the C heap and freed blocks of the
// chunks stay where they are, so that close, unload and exit go on. While the holder waits for
// the processing of an exception raised under the lock (a fault inside the manager), other
// threads do not wait for it either (see TMemoryManagerHolderWaits). Once the module ends the
// lock is waited for a second at most.
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
// and leave the chunks' blocks they free in place. Does nothing otherwise.
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
// A time stamp for LockOwnerEnded.
uint64_t LockOwnerClock() noexcept;
// True when the thread `owner`, seen holding a lock since `seenSince` (a LockOwnerClock stamp),
// has ended: no thread has that id any more, the thread with it has ended, or it was started
// after `seenSince` (the id was reused, so the holder is gone). False when it cannot be told
// (and always outside Windows).
bool LockOwnerEnded(uint32_t owner, uint64_t seenSince) noexcept;

// What a waiter on a lock word keeps of the holder it finds there, so that it can ask whether
// that holder has ended without giving the lock back.
class TLockHolderWatch {
 public:
  // Notes `holder`; with `ask`, and when it is the holder seen before, answers whether it ended.
  bool HolderEnded(uint32_t holder, bool ask) noexcept {
    if (holder != seen_) {
      seen_ = holder;
      seenSince_ = LockOwnerClock();
      return false;
    }
    return ask && holder != 0 && LockOwnerEnded(holder, seenSince_);
  }

 private:
  uint32_t seen_ = 0;
  uint64_t seenSince_ = 0;
};

namespace kbl_detail {
// Takes the memory manager's lock and keeps it (tests only: a thread that dies or waits holding it).
void HoldMemoryManagerLock();
// Gives back the lock the calling thread took with HoldMemoryManagerLock.
void ReleaseMemoryManagerLock();
}  // namespace kbl_detail
