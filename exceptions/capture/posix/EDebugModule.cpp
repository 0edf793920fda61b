// Outside Windows no module is loaded the Windows way: the sources find nothing unless a test
// installs its own module access. Threads are numbered by the library itself.
#include "../EDebug.h"
#include "../detail/EDebugPlatform_p.h"

#include <atomic>

namespace ember_detail {

std::string PlatformModuleFileName(uintptr_t) { return std::string(); }
bool PlatformModuleImage(uintptr_t, TELImageView&) { return false; }
bool PlatformModuleResource(uintptr_t, const char*, TELImageView&) { return false; }
uintptr_t PlatformProcAddress(uintptr_t, const std::string&) { return 0; }

uint32_t PlatformCurrentThreadID() {
  static std::atomic<uint32_t> next{1};
  thread_local uint32_t id = next++;
  return id;
}

// No handles to ask here: a thread counts as running.
bool PlatformIsThreadRunning(uint32_t) { return true; }

// Ids are never given twice here, and no thread is killed.
uint64_t PlatformCurrentThreadStamp() { return 0; }
bool PlatformThreadGone(uint32_t, uint64_t) { return false; }

}  // namespace ember_detail
