// The module's global new and delete, served by the memory manager. They stand in a file of their
// own so that the linker takes them from the library only where nothing else defines them: a test
// program that counts allocations with its own new and delete keeps those.
#include "classlib/MemoryManager.h"

#include <cstddef>
#include <new>

void* operator new(std::size_t size) { return GetMem(size); }
void* operator new[](std::size_t size) { return GetMem(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return GetMem(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return GetMem(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* block) noexcept { FreeMem(block); }
void operator delete[](void* block) noexcept { FreeMem(block); }
void operator delete(void* block, std::size_t) noexcept { FreeMem(block); }
void operator delete[](void* block, std::size_t) noexcept { FreeMem(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { FreeMem(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { FreeMem(block); }
