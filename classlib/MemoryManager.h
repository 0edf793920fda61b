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
// allocate, so it never waits on it. Once the module ends the lock is waited for a second at
// most (a thread the process killed may have died holding it): unload and exit go on.
#pragma once

#include <cstddef>

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

namespace kbl_detail {
// Takes the memory manager's lock and keeps it (tests only: a thread that dies holding it).
void HoldMemoryManagerLock();
}  // namespace kbl_detail
