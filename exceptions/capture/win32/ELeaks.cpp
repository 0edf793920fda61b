// The module's new and delete go through the leak tracker, whose blocks come from the class
// library's memory manager whether tracking is on or off. Where this file is linked the memory
// manager's own operators are not (the linker takes those only where nothing defines them), so
// a module has one set. The report's messages are shown in a message box.
#include "../ELeaks.h"

#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

// The allocating code's address and stack pointer, as the new that it called sees them.
#define KBL_CALLER                                                  \
  reinterpret_cast<uintptr_t>(__builtin_return_address(0)),         \
      reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) + 8

void* AllocateOrThrow(size_t size, uintptr_t callSite, uintptr_t callerStack) {
  for (;;) {
    if (void* block = LeakAllocate(size, false, callSite, callerStack)) return block;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

}  // namespace

void* operator new(size_t size) { return AllocateOrThrow(size, KBL_CALLER); }
void* operator new[](size_t size) { return AllocateOrThrow(size, KBL_CALLER); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return LeakAllocate(size, false, KBL_CALLER); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return LeakAllocate(size, false, KBL_CALLER); }

#undef KBL_CALLER
void operator delete(void* block) noexcept { LeakFree(block); }
void operator delete[](void* block) noexcept { LeakFree(block); }
void operator delete(void* block, size_t) noexcept { LeakFree(block); }
void operator delete[](void* block, size_t) noexcept { LeakFree(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { LeakFree(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { LeakFree(block); }

namespace ember_detail {

void PlatformLeakMessage(const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), "Error", MB_ICONWARNING | MB_TASKMODAL | MB_TOPMOST | MB_SERVICE_NOTIFICATION);
}

}  // namespace ember_detail
