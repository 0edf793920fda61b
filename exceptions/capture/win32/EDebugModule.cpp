// Module file names and mapped images of loaded modules, for the debug-information sources.
#include "../EDebug.h"
#include "../detail/EDebugPlatform_p.h"

#include <windows.h>

#include "exceptions/ECore.h"

namespace ember_detail {

namespace {

// Sections are mapped as regions of their own rights: walk them all, any readable one will do.
bool IsMappedRange(const uint8_t* base, uint32_t size) {
  const uint8_t* at = base;
  const uint8_t* end = base + size;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(at, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT ||
        (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0)
      return false;
    at = static_cast<const uint8_t*>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

}  // namespace

std::string PlatformModuleFileName(uintptr_t module) {
  char name[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameA(reinterpret_cast<HMODULE>(module), name, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(name, length);
}

bool PlatformModuleImage(uintptr_t module, TELImageView& view) {
  // A module handle is the image's base; the headers tell how much of it the loader mapped.
  const auto* base = reinterpret_cast<const uint8_t*>(module);
  if (!base || !IsReadableMemory(base, 64)) return false;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0) return false;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  if (!IsReadableMemory(nt, sizeof(IMAGE_NT_HEADERS32)) || nt->Signature != IMAGE_NT_SIGNATURE)
    return false;
  uint32_t size = nt->OptionalHeader.SizeOfImage;
  if (size == 0 || !IsMappedRange(base, size)) return false;
  view.Data = base;
  view.Size = size;
  return true;
}

bool PlatformModuleResource(uintptr_t module, const char* name, TELImageView& data) {
  HMODULE handle = reinterpret_cast<HMODULE>(module);
  HRSRC resource = FindResourceA(handle, name, MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (!resource) return false;
  HGLOBAL loaded = LoadResource(handle, resource);
  DWORD size = SizeofResource(handle, resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes || size == 0) return false;
  data.Data = static_cast<const uint8_t*>(bytes);
  data.Size = size;
  return true;
}

uintptr_t PlatformProcAddress(uintptr_t module, const std::string& name) {
  return reinterpret_cast<uintptr_t>(
      GetProcAddress(reinterpret_cast<HMODULE>(module), name.c_str()));
}

uint32_t PlatformCurrentThreadID() { return GetCurrentThreadId(); }

// A thread's handle is signalled once it has ended (its exit code may well be 259, which
// GetExitCodeThread would report as still active).
bool PlatformIsThreadRunning(uint32_t handle) {
  return WaitForSingleObject(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle)), 0) !=
         WAIT_OBJECT_0;
}

namespace {
uint64_t CreationTime(HANDLE thread) {
  FILETIME creation, exit, kernel, user;
  if (!GetThreadTimes(thread, &creation, &exit, &kernel, &user)) return 0;
  return static_cast<uint64_t>(creation.dwHighDateTime) << 32 | creation.dwLowDateTime;
}
}  // namespace

// Read once per thread: the paths that ask it run at every thread's creation and end.
uint64_t PlatformCurrentThreadStamp() {
  thread_local uint64_t stamp = CreationTime(GetCurrentThread());
  return stamp;
}

// The system gives an ended thread's id to later threads, of any process: the creation time
// tells them apart, and asking it opens no handle on the thread that holds (nothing to close at
// every take).
bool PlatformThreadGone(uint32_t id, uint64_t stamp) {
  HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (thread == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;  // no thread has the id
  bool gone = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
  if (!gone && stamp != 0) {
    const uint64_t created = CreationTime(thread);
    gone = created != 0 && created != stamp;
  }
  CloseHandle(thread);
  return gone;
}

}  // namespace ember_detail
