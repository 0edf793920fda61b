// Outside Windows the C++ runtime's new and delete serve every block (and the sanitizers watch
// them): the memory manager only forwards to them. Lock words work without looks at their holders.
#include "classlib/MemoryManager.h"

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

void* GetMem(std::size_t size) { return ::operator new(size); }

void* TryGetMem(std::size_t size) noexcept { return ::operator new(size, std::nothrow); }

void FreeMem(void* block) noexcept { ::operator delete(block); }

bool FreeSmallBlock(void*) noexcept { return false; }

void* SmallBlockOf(const void*) noexcept { return nullptr; }

TMemoryManagerState GetMemoryManagerState() { return {}; }

bool SmallBlocksEnabled() { return false; }

uint32_t MemoryManagerLockHolder() { return 0; }

void GiveUpMemoryManagerLockOfThisThread() noexcept {}

// Ids handed out once per thread and never again: a word that names the waiter is its own lock.
uint32_t LockOwnerId() noexcept {
  static std::atomic<uint32_t> next{1};
  thread_local const uint32_t id = next.fetch_add(1, std::memory_order_relaxed);
  return id;
}

void GiveUpLockWordOfThisThread(TLockWord& lock) noexcept {
  if (lock.owner.load(std::memory_order_relaxed) == LockOwnerId()) lock.givenUp.store(true, std::memory_order_relaxed);
}

bool WaitForLockWord(TLockWord& lock, uint32_t self, uint32_t holder, const TLockFrame&,
                     const TLockPace& pace) noexcept {
  for (int i = 0;; ++i) {
    if (holder == 0) {
      if (lock.owner.compare_exchange_weak(holder, self, std::memory_order_acquire)) return KeepLockWord(lock);
      continue;
    }
    if (holder == self || lock.givenUp.load(std::memory_order_relaxed)) return false;
    if (i >= pace.spins + pace.yields) std::this_thread::sleep_for(std::chrono::milliseconds(pace.sleepMs));
    else std::this_thread::yield();
    holder = lock.owner.load(std::memory_order_relaxed);
  }
}

namespace kbl_detail {

void HoldMemoryManagerLock() {}

bool RunHoldingMemoryManagerLock(void (*body)(void*), void* data) {
  body(data);
  return true;
}

void PauseNextLook(TLookPause) {}
bool LookPaused() { return false; }
void LetPausedLookGo() {}
uint32_t LooksAtLockHolders() { return 0; }

}  // namespace kbl_detail
