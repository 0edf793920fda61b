// Outside Windows the C++ runtime's new and delete serve every block (and the sanitizers watch
// them): the memory manager only forwards to them.
#include "classlib/MemoryManager.h"

#include <atomic>
#include <new>

void* GetMem(std::size_t size) { return ::operator new(size); }

void* TryGetMem(std::size_t size) noexcept { return ::operator new(size, std::nothrow); }

void FreeMem(void* block) noexcept { ::operator delete(block); }

bool FreeSmallBlock(void*) noexcept { return false; }

void* SmallBlockOf(const void*) noexcept { return nullptr; }

TMemoryManagerState GetMemoryManagerState() { return {}; }

bool SmallBlocksEnabled() { return false; }

uint32_t MemoryManagerLockHolder() { return 0; }

TMemoryManagerHolderWaits::TMemoryManagerHolderWaits() noexcept = default;
TMemoryManagerHolderWaits::~TMemoryManagerHolderWaits() = default;

// Ids handed out once per thread: what a lock word holds; a holder is never told gone here.
uint32_t LockOwnerId() noexcept {
  static std::atomic<uint32_t> next{1};
  thread_local const uint32_t id = next.fetch_add(1, std::memory_order_relaxed);
  return id;
}

TLockHolder LookAtLockHolder(uint32_t, const void*) noexcept { return TLockHolder::Inside; }

namespace kbl_detail {

void HoldMemoryManagerLock() {}

bool RunHoldingMemoryManagerLock(void (*body)(void*), void* data) {
  body(data);
  return true;
}

}  // namespace kbl_detail
