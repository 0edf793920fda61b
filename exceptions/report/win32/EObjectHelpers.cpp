// Win32 half of the object helpers: debugger, handle and thread tests, the default character
// set and the location of a code address through its module's debug information.
#include "EObjectHelpers.h"

#include <windows.h>

#include <cstdlib>

#include "ESupport.h"
#include "exceptions/capture/EDebug.h"
#include "exceptions/capture/EmberRecords.h"

bool IsDebuggerAttached() {
  using IsDebuggerPresentProc = BOOL(WINAPI*)();
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto present = reinterpret_cast<IsDebuggerPresentProc>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "IsDebuggerPresent")));
  if (present) return present() != FALSE;
  // Systems without the export: a debugger redirects GetProcAddress below kernel32's image.
  return reinterpret_cast<uintptr_t>(&GetProcAddress) < reinterpret_cast<uintptr_t>(kernel);
}

bool IsValidHandle(uintptr_t handle) {
  HANDLE h = reinterpret_cast<HANDLE>(handle);
  if (!h) return false;
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
  }
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return false;
  CloseHandle(copy);
  return true;
}

bool IsThreadRunning(uintptr_t handle) {
  DWORD code = 0;
  return IsValidHandle(handle) && GetExitCodeThread(reinterpret_cast<HANDLE>(handle), &code) &&
         code == STILL_ACTIVE;
}

uint32_t GetDefaultCharset() {
  char text[7] = {};
  UINT codePage = 0;
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, text, sizeof text - 1) > 0)
    codePage = static_cast<UINT>(std::strtoul(text, nullptr, 10));
  if (codePage == 0) codePage = GetACP();
  CHARSETINFO info{};
  if (!TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<uintptr_t>(codePage)), &info, TCI_SRCCODEPAGE))
    return DEFAULT_CHARSET;
  return info.ciCharset;
}

bool GetLocationInfo(uintptr_t address, TELLocationInfo& info) {
  try {
    TEmberModuleInfo* module = GetModuleInfoByAddr(address);
    if (!module) return false;
    // The module's debug information is read on first need.
    if (!module->DebugInfo) CreateDebugInfoSource(module->Handle, module->DebugInfo);
    return module->DebugInfo && module->DebugInfo->GetLocationInfo(address, info);
  } catch (...) {
    return false;
  }
}
