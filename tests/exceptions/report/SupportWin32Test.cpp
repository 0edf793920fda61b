// The system, window, module and process facts under Wine, checked against what the system
// answers directly: the process id, the module handles, the computer name, a window made here.
#include <gtest/gtest.h>
#include <windows.h>

#include "Emulation.h"
#include "classlib/SysUtils.h"
#include "exceptions/ECore.h"
#include "exceptions/capture/EmberRecords.h"
#include "exceptions/report/EObjectHelpers.h"
#include "exceptions/report/EReportValues.h"
#include "exceptions/report/ESupport.h"
#include "exceptions/report/ESysUtils.h"

namespace {

std::string OwnExe() {
  char name[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, name, MAX_PATH);
  return name;
}

TEST(SupportWin32System, NamesAgreeWithTheSystem) {
  EXPECT_EQ(GetWindowsName().rfind("Microsoft Windows ", 0), 0u);
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(GetWindowsBuild(), IntToStr(v.dwBuildNumber));
  char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof computer;
  ASSERT_TRUE(GetComputerNameA(computer, &size));
  EXPECT_EQ(GetComputerNameText(), computer);
  char user[257] = {};
  DWORD userSize = 256;
  ASSERT_TRUE(GetUserNameA(user, &userSize));
  EXPECT_EQ(GetUserNameText(), user);
  EXPECT_EQ(CurrentProcessId(), GetCurrentProcessId());
  std::string temp = GetTempFolder();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), '\\');
  EXPECT_TRUE(IsDirectory(temp));
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_TRUE(IsValidHandle(reinterpret_cast<uintptr_t>(event)));
  CloseHandle(event);
  EXPECT_FALSE(IsValidHandle(reinterpret_cast<uintptr_t>(event)));
  EXPECT_FALSE(IsValidHandle(0));
}

TEST(SupportWin32Modules, OwnModulesAndAddresses) {
  uintptr_t exe = reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr));
  uintptr_t kernel = reinterpret_cast<uintptr_t>(GetModuleHandleA("kernel32.dll"));
  EXPECT_TRUE(SameText(GetModuleName(exe), OwnExe()));
  EXPECT_TRUE(IsModuleLoaded(kernel));
  EXPECT_FALSE(IsModuleLoaded(0x10));
  EXPECT_EQ(GetModuleHandleOfAddr(reinterpret_cast<uintptr_t>(&OwnExe)), exe);
  EXPECT_EQ(GetModuleHandleOfAddr(reinterpret_cast<uintptr_t>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "Sleep"))),
            kernel);
  int local = 0;
  EXPECT_EQ(GetModuleHandleOfAddr(reinterpret_cast<uintptr_t>(&local)), 0u);
  EXPECT_FALSE(IsModuleDLL(exe));
  EXPECT_TRUE(IsModuleDLL(kernel));
  EXPECT_EQ(GetModuleKind(exe), 1);
  EXPECT_EQ(GetModuleKind(kernel), 3);

  RefreshModulesList();
  TEmberModulesList& list = EmberModulesList();
  ASSERT_GT(list.Count(), 2);
  EXPECT_GE(list.IndexOfHandle(exe), 0);
  EXPECT_GE(list.IndexOfHandle(kernel), 0);
  for (int32_t i = 1; i < list.Count(); ++i) EXPECT_LT(list.GetItem(i - 1)->Handle, list.GetItem(i)->Handle);
  TEmberModuleInfo* info = GetModuleInfoByAddr(reinterpret_cast<uintptr_t>(&OwnExe));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->Handle, exe);
  EXPECT_TRUE(SameText(info->FileName, OwnExe()));
  EXPECT_GT(info->Size, 0u);
  // A module loaded after the refresh is added on first request, and dropped once unloaded.
  HMODULE extra = LoadLibraryA("psapi.dll");
  ASSERT_NE(extra, nullptr);
  TEmberModuleInfo* added = GetModuleInfo(reinterpret_cast<uintptr_t>(extra));
  ASSERT_NE(added, nullptr);
  EXPECT_NE(LowerCase(added->FileName).find("psapi"), std::string::npos);
  EXPECT_GT(added->Functions->Count(), 0);
}

TEST(SupportWin32Modules, FileHelpers) {
  std::string file = GetTempFolder() + "kbl-support-test.txt";
  HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(h, "12345", 5, &written, nullptr);
  CloseHandle(h);
  EXPECT_EQ(GetFileSizeByName(file), 5u);
  SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(ForceDeleteFile(file));
  EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileSizeByName(file), 0u);
}

struct Pair {
  HANDLE Ready, Stop;
};

DWORD WINAPI WaitingThread(LPVOID p) {
  auto* events = static_cast<Pair*>(p);
  SetEvent(events->Ready);
  WaitForSingleObject(events->Stop, MachineBound(10000));
  return 0;
}

TEST(SupportWin32Processes, ListHoldsThisProcessWithItsThreads) {
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Pair pair{ready, stop};
  HANDLE thread = CreateThread(nullptr, 0, WaitingThread, &pair, 0, nullptr);
  WaitForSingleObject(ready, MachineBound(5000));
  TEmberProcessesList list;
  LoadProcessesInfo(list);
  ASSERT_GT(list.Count(), 0);
  TEmberProcessInfo* own = nullptr;
  for (int32_t i = 0; i < list.Count(); ++i) {
    if (i) EXPECT_LT(list.GetItem(i - 1)->ID, list.GetItem(i)->ID);
    if (list.GetItem(i)->ID == GetCurrentProcessId()) own = list.GetItem(i);
  }
  ASSERT_NE(own, nullptr);
  EXPECT_GE(own->Threads, 2u);
  EXPECT_TRUE(SameText(own->Path, OwnExe()) || LowerCase(own->Path).find("support_win32_tests") != std::string::npos)
      << own->Path;
  SetEvent(stop);
  WaitForSingleObject(thread, MachineBound(5000));
  EXPECT_FALSE(IsThreadRunning(reinterpret_cast<uintptr_t>(thread)));
  CloseHandle(thread);
  HANDLE self = GetCurrentThread();
  HANDLE real = nullptr;
  DuplicateHandle(GetCurrentProcess(), self, GetCurrentProcess(), &real, 0, FALSE, DUPLICATE_SAME_ACCESS);
  EXPECT_TRUE(IsThreadRunning(reinterpret_cast<uintptr_t>(real)));
  CloseHandle(real);
  EXPECT_FALSE(IsValidHandle(reinterpret_cast<uintptr_t>(real)));
  CloseHandle(ready);
  CloseHandle(stop);
}

LRESULT CALLBACK PlainProc(HWND w, UINT m, WPARAM a, LPARAM b) { return DefWindowProcA(w, m, a, b); }

TEST(SupportWin32Windows, MainWindowRectangleAndClipboard) {
  WNDCLASSA cls{};
  cls.lpfnWndProc = PlainProc;
  cls.hInstance = GetModuleHandleA(nullptr);
  cls.lpszClassName = "KblSupportTestWindow";
  RegisterClassA(&cls);
  RefreshOwnWindows();
  HWND window = CreateWindowExA(0, cls.lpszClassName, "Support\ttest", WS_OVERLAPPEDWINDOW, 40, 50, 200, 120,
                                nullptr, nullptr, cls.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  uintptr_t handle = reinterpret_cast<uintptr_t>(window);
  EXPECT_TRUE(IsOwnWindow(handle));
  EXPECT_TRUE(IsNewWindow(handle));
  EXPECT_EQ(GetProcessMainWindow(GetCurrentProcessId()), 0u);
  int32_t l, t, r, b;
  GetProcessWindowsRect(GetCurrentProcessId(), l, t, r, b);
  EXPECT_EQ(l, -1);
  ShowWindow(window, SW_SHOWNORMAL);
  for (int i = 0; i < 20 && ProcessOneMessage(); ++i) {
  }
  EXPECT_EQ(GetProcessMainWindow(GetCurrentProcessId()), handle);
  RECT rect;
  GetWindowRect(window, &rect);
  GetProcessWindowsRect(GetCurrentProcessId(), l, t, r, b);
  EXPECT_EQ(l, rect.left);
  EXPECT_EQ(b, rect.bottom);
  RefreshOwnWindows();
  EXPECT_FALSE(IsNewWindow(handle));
  EXPECT_FALSE(IsDevelopmentEnvironmentProcess(GetCurrentProcessId()));

  SetWindowShowState(handle, SW_SHOWMINIMIZED);
  EXPECT_EQ(GetWindowShowState(handle), SW_SHOWMINIMIZED);
  SetWindowShowState(handle, SW_SHOWNORMAL);
  SetNormalPosition(handle, TEmberRect{10, 20, 310, 220});
  GetWindowRect(window, &rect);
  EXPECT_EQ(rect.right - rect.left, 300);
  CenterInActiveWorkArea(handle, 100, 80);
  GetWindowRect(window, &rect);
  TEmberRect area = GetWindowWorkArea(handle);
  EXPECT_EQ(rect.left, area.Left + (area.Right - area.Left - 100) / 2);
  TEmberRect monitors = GetMonitorsRect(TEmberRect{rect.left, rect.top, rect.right, rect.bottom});
  EXPECT_LE(monitors.Left, rect.left);
  EXPECT_GE(monitors.Right, rect.right);

  ASSERT_TRUE(CopyToClipboard("report text"));
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE data = GetClipboardData(CF_TEXT);
  ASSERT_NE(data, nullptr);
  EXPECT_STREQ(static_cast<const char*>(GlobalLock(data)), "report text");
  GlobalUnlock(data);
  CloseClipboard();
  DestroyWindow(window);
}

TEST(SupportWin32Values, ValuesFromTheSystem) {
  std::string description, version;
  uintptr_t kernel = reinterpret_cast<uintptr_t>(GetModuleHandleA("kernel32.dll"));
  EXPECT_TRUE(GetFileVersionText(GetModuleName(kernel), description, version));
  EXPECT_FALSE(version.empty());
  // The test program has no version resource: no version and no " - (" suffix.
  EXPECT_FALSE(GetFileVersionText(OwnExe(), description, version));
  EXPECT_EQ(version, "");
  std::string exeName = OwnExe().substr(OwnExe().find_last_of('\\') + 1);
  EXPECT_EQ(GetApplicationVersionText(), exeName);
  EXPECT_EQ(GetApplicationModule(), reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)));
  ReportFacts().ExceptionAddress = reinterpret_cast<uintptr_t>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "Sleep"));
  EXPECT_EQ(LowerCase(GetModuleVersionText()).rfind("kernel32.dll", 0), 0u);
  EXPECT_FALSE(GetModuleVersion().empty());
  ReportFacts() = TEmberReportFacts();
  EXPECT_EQ(GetCommandLineParameters(), "");
  EXPECT_EQ(GetTotalMemory().substr(GetTotalMemory().size() - 3), " Mb");
  EXPECT_NE(GetDisplayMode().find(" x "), std::string::npos);
  EXPECT_EQ(GetDisplayDPI(), IntToStr(GetDeviceCaps(GetDC(nullptr), LOGPIXELSY)));
  EXPECT_FALSE(GetProcessorName().empty());
  EXPECT_FALSE(GetCharsetText().empty());
  EXPECT_FALSE(GetLanguageName().empty());
  EXPECT_FALSE(GetVideoCard().empty());
  EXPECT_NE(GetPrivileges().find(" - "), std::string::npos);
  EXPECT_NE(GetSystemUpTime().find("second"), std::string::npos);
  std::string ip, mask, gateway, dns1, dns2, dhcp;
  GetNetworkInfo(ip, mask, gateway, dns1, dns2, dhcp);
  if (!ip.empty()) EXPECT_EQ(ip.size() % 18, 15u) << ip;
  EXPECT_FALSE(IsDebuggerAttached());
  EXPECT_NE(GetDefaultCharset(), 0xFFFFFFFFu);
}

}  // namespace
