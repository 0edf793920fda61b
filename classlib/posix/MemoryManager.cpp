// Outside Windows the C++ runtime's new and delete serve every block (and the sanitizers watch
// them): the memory manager only forwards to them.
#include "classlib/MemoryManager.h"

#include <new>

void* GetMem(std::size_t size) { return ::operator new(size); }

void* TryGetMem(std::size_t size) noexcept { return ::operator new(size, std::nothrow); }

void FreeMem(void* block) noexcept { ::operator delete(block); }

bool FreeSmallBlock(void*) noexcept { return false; }

void* SmallBlockOf(const void*) noexcept { return nullptr; }

TMemoryManagerState GetMemoryManagerState() { return {}; }

bool SmallBlocksEnabled() { return false; }

namespace kbl_detail {

void HoldMemoryManagerLock() {}

}  // namespace kbl_detail
