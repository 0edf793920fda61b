// Platform half of the portable support helpers outside Windows: process_vm_readv probing,
// pthread stack bounds, stderr and the C library's time zone.
#include "detail/ESupportPlatform_p.h"

#include <sys/utsname.h>

#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "ESupport.h"
#include "classlib/DateUtils.h"

namespace ember_support {

bool IsReadable(const void* address, size_t size) {
  if (!address) return false;
  if (size == 0) size = 1;
  // Reading our own memory through the kernel reports an unreadable page as an error instead
  // of a fault. Pages are probed one byte each, so that large ranges need no large buffer.
  const long page = sysconf(_SC_PAGESIZE);
  uintptr_t from = reinterpret_cast<uintptr_t>(address);
  if (from + size < from) return false;
  uintptr_t last = from + size - 1;
  for (uintptr_t at = from;;) {
    char byte;
    iovec local{&byte, 1};
    iovec remote{reinterpret_cast<void*>(at), 1};
    if (process_vm_readv(getpid(), &local, 1, &remote, 1, 0) != 1) return false;
    uintptr_t next = (at / page + 1) * page;
    if (next > last || next < at) return true;
    at = next;
  }
}

bool CurrentStackBounds(uintptr_t& low, uintptr_t& high) {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return false;
  void* base = nullptr;
  size_t size = 0;
  bool ok = pthread_attr_getstack(&attributes, &base, &size) == 0;
  pthread_attr_destroy(&attributes);
  if (!ok) return false;
  low = reinterpret_cast<uintptr_t>(base);
  high = low + size;
  return true;
}

void DebugOutput(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

int32_t UTCOffsetMinutes() {
  time_t now = time(nullptr);
  struct tm local;
  if (!localtime_r(&now, &local)) return 0;
  return static_cast<int32_t>(local.tm_gmtoff / 60);
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

void* ReserveAddressSpace(size_t size) {
  void* range = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return range == MAP_FAILED ? nullptr : range;
}

void ReleaseAddressSpace(void* address, size_t size) { munmap(address, size); }

bool DebuggerAttached() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("TracerPid:", 0) == 0) return std::strtol(line.c_str() + 10, nullptr, 10) != 0;
  return false;
}

std::string HostExecutableName() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

double LocalNow() {
  time_t now = time(nullptr);
  struct tm local;
  if (!localtime_r(&now, &local)) return 0;
  TDateTime date = 0, clock = 0;
  TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date);
  TryEncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec, 0, clock);
  return ComposeDateTime(date, clock);
}

std::string SystemName() {
  struct utsname name;
  if (uname(&name) != 0) return std::string();
  return std::string(name.sysname) + " " + name.release;
}

}  // namespace ember_support

// Outside Windows the library shows no message boxes.
const TEmberMessageBoxes& PlatformMessageBoxes() {
  static const TEmberMessageBoxes none;
  return none;
}
