// Counts heap allocations made while counting is on, by replacing the global operator new.
// Include it in exactly one source file of a test program.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace allocation_counter {
inline std::atomic<bool> counting{false};
inline std::atomic<int64_t> allocations{0};

inline void* Allocate(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

// Allocations made while `body` runs.
template <typename Body>
int64_t CountAllocations(Body&& body) {
  allocations = 0;
  counting = true;
  body();
  counting = false;
  return allocations.load();
}
}  // namespace allocation_counter

void* operator new(std::size_t size) { return allocation_counter::Allocate(size); }
void* operator new[](std::size_t size) { return allocation_counter::Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocation_counter::Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocation_counter::Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
