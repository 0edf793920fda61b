// Platform half of the portable support helpers on Windows: VirtualQuery probing, the stack
// bounds of the thread information block, OutputDebugStringA and the time zone.
#include "detail/ESupportPlatform_p.h"

#include <windows.h>

#include "EObjectHelpers.h"
#include "ESysUtils.h"
#include "classlib/DateUtils.h"
#include "exceptions/ECore.h"

namespace ember_support {

bool IsReadable(const void* address, size_t size) {
  return size <= 0xFFFFFFFFu && IsReadableMemory(address, static_cast<uint32_t>(size ? size : 1));
}

bool CurrentStackBounds(uintptr_t& low, uintptr_t& high) {
  // The thread information block: offset 4 the stack's top, offset 8 its committed bottom.
  auto* tib = reinterpret_cast<NT_TIB*>(NtCurrentTeb());
  if (!tib) return false;
  high = reinterpret_cast<uintptr_t>(tib->StackBase);
  low = reinterpret_cast<uintptr_t>(tib->StackLimit);
  return high > low;
}

void DebugOutput(const std::string& text) { OutputDebugStringA(text.c_str()); }

int32_t UTCOffsetMinutes() { return GetUTCOffsetMinutes(); }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

void* ReserveAddressSpace(size_t size) { return VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS); }

void ReleaseAddressSpace(void* address, size_t) { VirtualFree(address, 0, MEM_RELEASE); }

bool DebuggerAttached() { return IsDebuggerAttached(); }

std::string HostExecutableName() { return GetApplicationFileName(); }

double LocalNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  TDateTime date = 0, clock = 0;
  TryEncodeDate(now.wYear, now.wMonth, now.wDay, date);
  TryEncodeTime(now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, clock);
  return ComposeDateTime(date, clock);
}

std::string SystemName() { return GetWindowsName(); }

}  // namespace ember_support
