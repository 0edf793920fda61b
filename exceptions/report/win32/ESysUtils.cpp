// Win32 half of the system, window and text helpers: version facts, names, the temporary
// folder, message pumping, monitor work areas and window placement.
#include "ESysUtils.h"

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "ESupport.h"
#include "classlib/SysUtils.h"
#include "exceptions/ECore.h"

namespace {

// The extended version record (156 bytes) when the system gives it, else the short one.
struct TVersion {
  OSVERSIONINFOEXA Info{};
  bool Extended = false;
};

TVersion ReadVersion() {
  TVersion version;
  version.Info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
  if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version.Info))) {
    version.Extended = true;
  } else {
    version.Info = OSVERSIONINFOEXA{};
    version.Info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version.Info));
  }
  return version;
}

bool IsWow64() {
  using IsWow64ProcessProc = BOOL(WINAPI*)(HANDLE, PBOOL);
  auto query = reinterpret_cast<IsWow64ProcessProc>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
  BOOL wow64 = FALSE;
  return query && query(GetCurrentProcess(), &wow64) && wow64;
}

HWND AsWindow(uintptr_t window) { return reinterpret_cast<HWND>(window); }

TEmberRect FromRect(const RECT& rect) { return TEmberRect{rect.left, rect.top, rect.right, rect.bottom}; }

}  // namespace

// --- System

std::string GetWindowsName() {
  TVersion v = ReadVersion();
  return ComposeWindowsName(v.Info.dwPlatformId, v.Info.dwMajorVersion, v.Info.dwMinorVersion,
                            v.Info.szCSDVersion, IsWorkstation(), IsWow64());
}

std::string GetWindowsBuild() {
  TVersion v = ReadVersion();
  uint32_t build = v.Info.dwBuildNumber;
  if (v.Info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) build &= 0xFFFF;
  return IntToStr(build);
}

bool IsWindows95() {
  TVersion v = ReadVersion();
  return v.Info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && v.Info.dwMinorVersion < 10;
}

bool IsWindowsNT4() {
  TVersion v = ReadVersion();
  return v.Info.dwPlatformId == VER_PLATFORM_WIN32_NT && v.Info.dwMajorVersion < 5;
}

bool IsWindowsVistaOrLater() {
  TVersion v = ReadVersion();
  return v.Info.dwPlatformId == VER_PLATFORM_WIN32_NT && v.Info.dwMajorVersion >= 6;
}

bool IsWorkstation() {
  TVersion v = ReadVersion();
  return v.Extended && v.Info.wProductType == VER_NT_WORKSTATION;
}

std::string GetServicePackText() { return Trim(ReadVersion().Info.szCSDVersion); }

std::string GetUserNameText() {
  char name[257] = {};
  DWORD size = 256;
  if (!GetUserNameA(name, &size)) return std::string();
  return name;
}

std::string GetRegisteredOwner() {
  const uintptr_t machine = reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE);
  std::string owner = ReadRegistryString(machine, "\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION", "RegisteredOwner");
  if (owner.empty())
    owner = ReadRegistryString(machine, "\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION", "RegisteredOwner");
  if (owner.empty())
    owner = ReadRegistryString(machine, "\\SOFTWARE\\MICROSOFT\\MS SETUP (ACME)\\USER INFO", "DefName");
  // Installations from Vista on fill in the vendor's name when the user gave none.
  if (IsWindowsVistaOrLater() && owner == "Microsoft") owner.clear();
  return owner;
}

std::string GetModuleName(uintptr_t module) {
  char name[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameA(reinterpret_cast<HMODULE>(module), name, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return std::string();
  return ExpandShortPathName(CleanModuleFileName(std::string(name, length)));
}

bool IsModuleLoaded(uintptr_t module) { return module && !GetModuleName(module).empty(); }

std::string GetThisModuleName() { return GetModuleName(GetThisModuleHandle()); }

std::string GetCommandLineText() {
  const char* line = GetCommandLineA();
  return line ? line : "";
}

uintptr_t CurrentProcess() { return reinterpret_cast<uintptr_t>(GetCurrentProcess()); }

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

std::string GetTempFolder() {
  char path[MAX_PATH + 1] = {};
  DWORD length = GetTempPathA(MAX_PATH, path);
  if (length == 0 || length > MAX_PATH) return std::string();
  return IncludeTrailingBackslash(std::string(path, length));
}

// --- Messages

bool ProcessOneMessage() {
  MSG message;
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return false;
  if (message.message != WM_QUIT) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return true;
}

void RestoreMainWindow() {
  HWND window = AsWindow(GetProcessMainWindow(GetCurrentProcessId()));
  if (!window || !IsIconic(window)) return;
  PostMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
  ProcessOneMessage();
  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);
}

// --- Monitors

TEmberRect GetWindowWorkArea(uintptr_t window) {
  using MonitorFromWindowProc = HMONITOR(WINAPI*)(HWND, DWORD);
  using GetMonitorInfoProc = BOOL(WINAPI*)(HMONITOR, LPMONITORINFO);
  HMODULE user32 = GetModuleHandleA("user32.dll");
  auto monitorFromWindow = reinterpret_cast<MonitorFromWindowProc>(
      reinterpret_cast<void*>(GetProcAddress(user32, "MonitorFromWindow")));
  auto getMonitorInfo = reinterpret_cast<GetMonitorInfoProc>(
      reinterpret_cast<void*>(GetProcAddress(user32, "GetMonitorInfoA")));
  if (monitorFromWindow && getMonitorInfo) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    HMONITOR monitor = monitorFromWindow(AsWindow(window), MONITOR_DEFAULTTONEAREST);
    if (monitor && getMonitorInfo(monitor, &info)) return FromRect(info.rcWork);
  }
  RECT area{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  return FromRect(area);
}

TEmberRect GetActiveWorkArea() {
  HWND window = GetForegroundWindow();
  if (!window) window = GetDesktopWindow();
  return GetWindowWorkArea(reinterpret_cast<uintptr_t>(window));
}

TEmberRect GetMonitorsRect(const TEmberRect& area) {
  // Right and bottom are exclusive: the last pixel inside decides, so that a window that ends
  // at a monitor's edge does not pull in the monitor beyond it.
  POINT topLeft{area.Left, area.Top};
  POINT bottomRight{area.Right > area.Left ? area.Right - 1 : area.Right,
                    area.Bottom > area.Top ? area.Bottom - 1 : area.Bottom};
  MONITORINFO first{}, last{};
  first.cbSize = last.cbSize = sizeof(MONITORINFO);
  HMONITOR a = MonitorFromPoint(topLeft, MONITOR_DEFAULTTONEAREST);
  HMONITOR b = MonitorFromPoint(bottomRight, MONITOR_DEFAULTTONEAREST);
  if (!a || !b || !GetMonitorInfoA(a, &first) || !GetMonitorInfoA(b, &last)) return TEmberRect{};
  return TEmberRect{first.rcMonitor.left, first.rcMonitor.top, last.rcMonitor.right, last.rcMonitor.bottom};
}

void CenterInActiveWorkArea(uintptr_t window, int32_t width, int32_t height) {
  TEmberRect area = GetActiveWorkArea();
  int32_t left = area.Left + (area.Right - area.Left - width) / 2;
  int32_t top = area.Top + (area.Bottom - area.Top - height) / 2;
  MoveWindow(AsWindow(window), left, top, width, height, TRUE);
}

bool IsEscapeDown() {
  BYTE keys[256] = {};
  return GetKeyboardState(keys) && (keys[VK_ESCAPE] & 0x80) != 0;
}

// --- Controls and placement

void AddListColumn(uintptr_t listView, const std::string& text, int32_t width, bool rightAligned, int32_t subItem) {
  std::vector<char> caption(text.begin(), text.end());
  caption.push_back('\0');
  LVCOLUMNA column{};
  column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  column.fmt = rightAligned ? LVCFMT_RIGHT : LVCFMT_LEFT;
  column.cx = width;
  column.pszText = caption.data();
  column.iSubItem = subItem;
  SendMessageA(AsWindow(listView), LVM_INSERTCOLUMNA, static_cast<WPARAM>(subItem),
               reinterpret_cast<LPARAM>(&column));
}

void SetNormalPosition(uintptr_t window, const TEmberRect& rect) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (!GetWindowPlacement(AsWindow(window), &placement)) return;
  placement.rcNormalPosition = RECT{rect.Left, rect.Top, rect.Right, rect.Bottom};
  SetWindowPlacement(AsWindow(window), &placement);
}

void SetWindowShowState(uintptr_t window, int32_t showCommand) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (!GetWindowPlacement(AsWindow(window), &placement)) return;
  placement.showCmd = static_cast<UINT>(showCommand);
  SetWindowPlacement(AsWindow(window), &placement);
}

int32_t GetWindowShowState(uintptr_t window) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (!GetWindowPlacement(AsWindow(window), &placement)) return 0;
  return static_cast<int32_t>(placement.showCmd);
}
