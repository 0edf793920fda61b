// What the process holds, compared before and after plug-ins come and go: GDI and USER objects,
// windows, threads and memory.
#pragma once

#include <windows.h>
#include <tlhelp32.h>
#include <intrin.h>

#include <cstdint>

struct TProcessCounts {
  uint32_t gdi = 0, user = 0, threads = 0;
  int32_t windows = 0;
  double memory = 0;

  // Windows answers the GDI and USER object counts. Wine answers 0 for both: there the GDI
  // objects are the used entries of the process's GDI handle table (the PEB's
  // GdiSharedHandleTable, 65536 entries of 24 bytes with the object type at offset 14), and
  // the windows of the process stand in for the USER objects.
  static TProcessCounts Now() {
    TProcessCounts c;
    HANDLE process = GetCurrentProcess();
    c.gdi = GetGuiResources(process, GR_GDIOBJECTS);
    c.user = GetGuiResources(process, GR_USEROBJECTS);
    if (c.gdi == 0) c.gdi = GdiTableEntries();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
      if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++c.threads;
    CloseHandle(snapshot);
    EnumWindows(&CountProcessWindow, reinterpret_cast<LPARAM>(&c.windows));
    // EnumWindows leaves out message-only windows, where a released form waits for the loop.
    for (HWND w = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); w != nullptr;
         w = FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr))
      CountProcessWindow(w, reinterpret_cast<LPARAM>(&c.windows));
    c.memory = static_cast<double>(CommittedPrivateBytes());
    return c;
  }

  // The process's own committed private memory, region by region: what Windows counts as its
  // private bytes. Wine answers the memory counters from the whole Unix process, which under an
  // emulator of 32-bit programs also holds the emulator's translated code.
  static uint64_t CommittedPrivateBytes() {
    uint64_t bytes = 0;
    MEMORY_BASIC_INFORMATION region{};
    uintptr_t at = 0;
    while (VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region) == sizeof region) {
      if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) bytes += region.RegionSize;
      const uintptr_t next = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
      if (next <= at) break;
      at = next;
    }
    return bytes;
  }

 private:
  static uint32_t GdiTableEntries() {
    const auto* peb = reinterpret_cast<const uint8_t*>(__readfsdword(0x30));
    const auto* table = *reinterpret_cast<const uint8_t* const*>(peb + 0x94);
    if (table == nullptr) return 0;
    uint32_t used = 0;
    for (uint32_t i = 0; i < 0x10000; ++i) used += table[i * 24 + 14] != 0;
    return used;
  }
  // Top-level and message-only windows of the process and their children.
  static BOOL CALLBACK CountProcessWindow(HWND window, LPARAM count) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != GetCurrentProcessId()) return TRUE;
    ++*reinterpret_cast<int32_t*>(count);
    EnumChildWindows(window, &CountChild, count);
    return TRUE;
  }
  static BOOL CALLBACK CountChild(HWND, LPARAM count) {
    ++*reinterpret_cast<int32_t*>(count);
    return TRUE;
  }
};
