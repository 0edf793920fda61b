// Win32 half of the report values: version resources, the command line, windows, locale,
// memory, disks, processor, display, video card, printer, registration, privileges and network.
#include "EReportValues.h"

#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "EObjectHelpers.h"
#include "ESupport.h"
#include "ESysUtils.h"
#include "classlib/SysUtils.h"
#include "exceptions/ECore.h"
#include "exceptions/capture/EmberRecords.h"

namespace {

const uintptr_t kMachine = reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE);

template <typename T>
T Bind(HMODULE module, const char* name) {
  return module ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// --- Version resources (version.dll bound at run time)

using GetFileVersionInfoSizeProc = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using GetFileVersionInfoProc = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using VerQueryValueProc = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

bool ReadVersionBlock(const std::string& fileName, std::vector<uint8_t>& block, VerQueryValueProc& query) {
  static HMODULE library = LoadLibraryA("version.dll");
  auto size = Bind<GetFileVersionInfoSizeProc>(library, "GetFileVersionInfoSizeA");
  auto info = Bind<GetFileVersionInfoProc>(library, "GetFileVersionInfoA");
  query = Bind<VerQueryValueProc>(library, "VerQueryValueA");
  if (!size || !info || !query || fileName.empty()) return false;
  DWORD handle = 0;
  DWORD bytes = size(fileName.c_str(), &handle);
  if (bytes == 0) return false;
  block.assign(bytes, 0);
  return info(fileName.c_str(), 0, bytes, block.data()) != FALSE;
}

// A string of the first language and code page the resource lists.
std::string VersionString(const std::vector<uint8_t>& block, VerQueryValueProc query, const char* name) {
  void* value = nullptr;
  UINT length = 0;
  if (!query(block.data(), "\\VarFileInfo\\Translation", &value, &length) || length < 4) return std::string();
  uint16_t pair[2];
  std::memcpy(pair, value, 4);
  std::string path = "\\StringFileInfo\\" + IntToHex(pair[0], 4) + IntToHex(pair[1], 4) + "\\" + name;
  if (!query(block.data(), path.c_str(), &value, &length) || length == 0) return std::string();
  return std::string(static_cast<const char*>(value), strnlen(static_cast<const char*>(value), length));
}

// --- Registry

HKEY OpenKey(const std::string& path) {
  std::string key = !path.empty() && path[0] == '\\' ? path.substr(1) : path;
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return nullptr;
  return handle;
}

// A string value read whole; its terminating zero (the last character) dropped.
std::string RegistryText(const std::string& path, const std::string& name) {
  HKEY key = OpenKey(path);
  if (!key) return std::string();
  std::string text;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size > 0) {
    std::vector<char> buffer(size + 1, '\0');
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) ==
        ERROR_SUCCESS) {
      text.assign(buffer.data(), size);
      if (!text.empty() && text.back() == '\0') text.pop_back();
    }
  }
  RegCloseKey(key);
  return text;
}

// A 32-bit value that only counts when exactly 4 bytes are stored.
uint32_t RegistryDword(const std::string& path, const std::string& name) {
  HKEY key = OpenKey(path);
  if (!key) return 0;
  uint8_t data[16] = {};
  DWORD size = sizeof data, type = 0;
  uint32_t value = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, data, &size) == ERROR_SUCCESS && size == 4)
    std::memcpy(&value, data, 4);
  RegCloseKey(key);
  return value;
}

std::string FirstSubkey(const std::string& path) {
  HKEY key = OpenKey(path);
  if (!key) return std::string();
  char name[256] = {};
  DWORD length = sizeof name;
  std::string found;
  if (RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) found = name;
  RegCloseKey(key);
  return found;
}

// The value "\Device\Video0" from its first "\SYSTEM" on (searched without regard to case).
std::string VideoKeyFromDeviceMap() {
  std::string value = RegistryText("Hardware\\Devicemap\\Video\\", "\\Device\\Video0");
  size_t at = UpperCase(value).find("\\SYSTEM");
  return at == std::string::npos ? std::string() : value.substr(at);
}

bool IsNT() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::string RegistryOrganisationValue(const char* modern, const char* acme) {
  std::string value = ReadRegistryString(kMachine, "\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION", modern);
  if (value.empty()) value = ReadRegistryString(kMachine, "\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION", modern);
  if (value.empty()) value = ReadRegistryString(kMachine, "\\SOFTWARE\\MICROSOFT\\MS SETUP (ACME)\\USER INFO", acme);
  if (IsWindowsVistaOrLater() && value == "Microsoft") value.clear();
  return value;
}

HMODULE gLoadedApplication = nullptr;

}  // namespace

// --- Versions

bool GetFileVersionText(const std::string& fileName, std::string& description, std::string& version) {
  description.clear();
  version.clear();
  std::vector<uint8_t> block;
  VerQueryValueProc query = nullptr;
  if (!ReadVersionBlock(fileName, block, query)) return false;
  std::string text = VersionString(block, query, "FileDescription");
  if (text.size() >= 2) description = text;
  void* value = nullptr;
  UINT length = 0;
  if (query(block.data(), "\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, value, sizeof fixed);
    version = FormatVersionNumbers(fixed.dwFileVersionMS, fixed.dwFileVersionLS);
  }
  return true;
}

std::string GetProductVersion(const std::string& fileName) {
  std::vector<uint8_t> block;
  VerQueryValueProc query = nullptr;
  if (!ReadVersionBlock(fileName, block, query)) return std::string();
  return VersionString(block, query, "ProductVersion");
}

std::string GetHostExeName() { return StripVsHost(GetApplicationFileName()); }

uintptr_t GetApplicationModule() {
  std::string name = GetHostExeName();
  HMODULE module = GetModuleHandleA(name.c_str());
  if (!module && !gLoadedApplication) gLoadedApplication = LoadLibraryA(name.c_str());
  return reinterpret_cast<uintptr_t>(module ? module : gLoadedApplication);
}

void ReleaseApplicationModule() {
  if (gLoadedApplication) FreeLibrary(gLoadedApplication);
  gLoadedApplication = nullptr;
}

std::string GetApplicationVersionText() {
  std::string description, version;
  GetFileVersionText(GetModuleName(GetApplicationModule()), description, version);
  return ComposeModuleVersionText(GetApplicationFileName(), description);
}

std::string GetModuleVersionText() {
  std::string file = GetModuleName(GetModuleHandleOfAddr(ReportFacts().ExceptionAddress));
  std::string description, version;
  GetFileVersionText(file, description, version);
  return ComposeModuleVersionText(file, description);
}

std::string GetModuleVersion() {
  std::string description, version;
  GetFileVersionText(GetModuleName(GetModuleHandleOfAddr(ReportFacts().ExceptionAddress)), description, version);
  return version;
}

std::string GetCommandLineParameters() {
  return ExtractCommandLineParameters(GetCommandLineText(), GetApplicationFileName());
}

std::string GetCompilationDate() {
  TEmberModuleInfo* module = GetModuleInfo(GetThisModuleHandle());
  if (!module || module->BuildDate == 0) return std::string();
  return ComposeCompilationDate(module->BuildDate, GetUTCOffsetMinutes());
}

std::string GetSystemUpTime() { return FormatDuration(GetTickCount() / 86400000.0); }

// --- Windows

std::string GetForegroundClass() {
  char name[257] = {};
  HWND window = GetForegroundWindow();
  int length = window ? GetClassNameA(window, name, 256) : 0;
  return length > 0 ? std::string(name, static_cast<size_t>(length)) : std::string();
}

std::string GetForegroundText() {
  HWND window = GetForegroundWindow();
  if (!window) return std::string();
  char text[257] = {};
  // DefWindowProcA reads the window's own text without sending to a hung owner thread.
  LRESULT length = DefWindowProcA(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
  if (length <= 0) return std::string();
  return CollapseControlChars(std::string(text, static_cast<size_t>(std::min<LRESULT>(length, 256))));
}

// --- System

std::string GetServicePack() { return GetServicePackText(); }

namespace {

LCID gWantedLanguage = 0;
std::string gLanguageName;

BOOL CALLBACK LocaleFound(LPSTR text) {
  if (!text || std::strlen(text) < 8) return TRUE;
  LCID id = static_cast<LCID>(std::strtoul(std::string(text + 4, 4).c_str(), nullptr, 16));
  char abbreviation[16] = {};
  if (!GetLocaleInfoA(id, LOCALE_SABBREVLANGNAME, abbreviation, sizeof abbreviation)) return TRUE;
  if (id != gWantedLanguage) return TRUE;
  char name[128] = {};
  if (GetLocaleInfoA(id, LOCALE_SENGLANGUAGE, name, sizeof name)) gLanguageName = name;
  return FALSE;
}

}  // namespace

std::string GetLanguageName() {
  // One walk at a time: the callback has no context argument.
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  gWantedLanguage = GetSystemDefaultLangID();
  gLanguageName.clear();
  EnumSystemLocalesA(LocaleFound, LCID_SUPPORTED);
  return gLanguageName;
}

std::string GetCharsetText() {
  CHARSETINFO info{};
  if (!TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<uintptr_t>(GetACP())), &info, TCI_SRCCODEPAGE))
    return std::string();
  return IntToStr(info.ciCharset);
}

namespace {

bool MemoryFacts(uint64_t& total, uint64_t& available) {
  using GlobalMemoryStatusExProc = BOOL(WINAPI*)(LPMEMORYSTATUSEX);
  auto statusEx = Bind<GlobalMemoryStatusExProc>(GetModuleHandleA("kernel32.dll"), "GlobalMemoryStatusEx");
  if (statusEx) {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (statusEx(&status)) {
      total = status.ullTotalPhys;
      available = status.ullAvailPhys;
      return true;
    }
  }
  MEMORYSTATUS status{};
  status.dwLength = sizeof status;
  GlobalMemoryStatus(&status);
  total = status.dwTotalPhys;
  available = status.dwAvailPhys;
  return true;
}

bool DiskFacts(uint64_t& total, uint64_t& freeForCaller) {
  using GetDiskFreeSpaceExProc = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  auto query = Bind<GetDiskFreeSpaceExProc>(GetModuleHandleA("kernel32.dll"), "GetDiskFreeSpaceExA");
  std::string module = GetThisModuleName();
  if (!query || module.size() < 2 || module[1] != ':') return false;
  std::string root = module.substr(0, 2) + "\\";
  ULARGE_INTEGER available, all, unused;
  if (!query(root.c_str(), &available, &all, &unused)) return false;
  total = all.QuadPart;
  freeForCaller = available.QuadPart;
  return true;
}

}  // namespace

std::string GetTotalMemory() {
  uint64_t total = 0, available = 0;
  MemoryFacts(total, available);
  return FormatMegabytes(total);
}

std::string GetFreeMemory() {
  uint64_t total = 0, available = 0;
  MemoryFacts(total, available);
  return FormatMegabytes(available);
}

std::string GetTotalDisk() {
  uint64_t total = 0, available = 0;
  return DiskFacts(total, available) ? FormatGigabytes(total) : std::string();
}

std::string GetFreeDisk() {
  uint64_t total = 0, available = 0;
  return DiskFacts(total, available) ? FormatGigabytes(available) : std::string();
}

std::string GetProcessorName() {
  const char* key = "\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
  return ComposeProcessorName(ReadRegistryString(kMachine, key, "ProcessorNameString"),
                              ReadRegistryString(kMachine, key, "VendorIdentifier"),
                              ReadRegistryString(kMachine, key, "Identifier"));
}

std::string GetDisplayMode() {
  HDC screen = GetDC(nullptr);
  int bits = screen ? GetDeviceCaps(screen, BITSPIXEL) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return IntToStr(GetSystemMetrics(SM_CXSCREEN)) + " x " + IntToStr(GetSystemMetrics(SM_CYSCREEN)) + ", " +
         IntToStr(bits) + " bit";
}

std::string GetDisplayDPI() {
  HDC screen = GetDC(nullptr);
  if (!screen) return std::string();
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return IntToStr(dpi);
}

std::string GetVideoCard() {
  std::string name, version;
  uint32_t memory = 0;
  using EnumDisplayDevicesProc = BOOL(WINAPI*)(LPCSTR, DWORD, PDISPLAY_DEVICEA, DWORD);
  HMODULE user32 = LoadLibraryA("user32.dll");
  auto enumDevices = Bind<EnumDisplayDevicesProc>(user32, "EnumDisplayDevicesA");
  bool nt = IsNT();
  if (enumDevices && !IsWindows95() && !IsWindowsNT4()) {
    DISPLAY_DEVICEA device{};
    device.cb = sizeof device;  // 424 bytes
    if (enumDevices(nullptr, 0, &device, 0)) {
      name = std::string(device.DeviceString, strnlen(device.DeviceString, sizeof device.DeviceString));
      if (nt) {
        std::string key = "System\\CurrentControlSet\\Enum\\" + std::string(device.DeviceID);
        key += "\\" + FirstSubkey(key);
        std::string videoId = RegistryText(key + "\\Device Parameters", "VideoID");
        if (!videoId.empty())
          memory = RegistryDword("System\\CurrentControlSet\\Control\\Video\\" + videoId + "\\0000",
                                 "HardwareInformation.MemorySize");
        else
          memory = RegistryDword(VideoKeyFromDeviceMap(), "HardwareInformation.MemorySize");
        version = RegistryText("System\\CurrentControlSet\\Control\\Class\\" + RegistryText(key, "Driver"),
                               "DriverVersion");
      } else {
        version = RegistryText(device.DeviceKey, "Ver");
        memory = RegistryDword(std::string(device.DeviceKey) + "\\INFO", "VideoMemory");
      }
    }
  } else if (nt) {
    std::string key = VideoKeyFromDeviceMap();
    memory = RegistryDword(key, "HardwareInformation.MemorySize");
    // The adapter string is stored as UTF-16: dropping the zero bytes leaves its ANSI text.
    std::string adapter = RegistryText(key, "HardwareInformation.AdapterString");
    for (char c : adapter)
      if (c != '\0') name += c;
    std::string parent = key.substr(0, key.rfind('\\') + 1);
    version = GetProductVersion(RegistryText(parent, "ImagePath"));
  } else {
    std::string base = "System\\CurrentControlSet\\Services\\Class\\Display\\";
    std::string last = "0000";
    for (int32_t i = 0; i < 10000; ++i) {
      std::string candidate = IntToHex(static_cast<uint32_t>(i), 4);
      HKEY key = OpenKey(base + candidate);
      if (!key) break;
      RegCloseKey(key);
      last = candidate;
    }
    name = RegistryText(base + last, "DriverDesc");
    version = RegistryText(base + last, "Ver");
    memory = RegistryDword(base + last + "\\INFO", "VideoMemory");
  }
  if (user32) FreeLibrary(user32);
  return ComposeVideoCardText(name, version, memory);
}

std::string GetDefaultPrinter() {
  HMODULE spool = LoadLibraryA("winspool.drv");
  if (!spool) return std::string();
  std::string printer;
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  GetVersionExA(&v);
  using GetDefaultPrinterProc = BOOL(WINAPI*)(LPSTR, LPDWORD);
  auto getDefault = Bind<GetDefaultPrinterProc>(spool, "GetDefaultPrinterA");
  if (v.dwPlatformId == VER_PLATFORM_WIN32_NT && v.dwMajorVersion >= 5 && getDefault) {
    char name[512] = {};
    DWORD size = sizeof name;
    if (getDefault(name, &size)) printer = name;
  } else {
    char device[512] = {};
    GetProfileStringA("windows", "device", "", device, sizeof device);
    printer = device;
    printer = printer.substr(0, printer.find(','));
  }
  std::string text = printer;
  using OpenPrinterProc = BOOL(WINAPI*)(LPSTR, LPHANDLE, LPVOID);
  using GetPrinterDriverProc = BOOL(WINAPI*)(HANDLE, LPSTR, DWORD, LPBYTE, DWORD, LPDWORD);
  using ClosePrinterProc = BOOL(WINAPI*)(HANDLE);
  auto openPrinter = Bind<OpenPrinterProc>(spool, "OpenPrinterA");
  auto getDriver = Bind<GetPrinterDriverProc>(spool, "GetPrinterDriverA");
  auto closePrinter = Bind<ClosePrinterProc>(spool, "ClosePrinter");
  HANDLE handle = nullptr;
  std::vector<char> name(printer.begin(), printer.end());
  name.push_back('\0');
  if (!printer.empty() && openPrinter && getDriver && closePrinter && openPrinter(name.data(), &handle, nullptr)) {
    DWORD needed = 0;
    getDriver(handle, nullptr, 2, nullptr, 0, &needed);
    if (needed >= sizeof(DRIVER_INFO_2A)) {
      std::vector<uint8_t> buffer(needed);
      if (getDriver(handle, nullptr, 2, buffer.data(), needed, &needed)) {
        DRIVER_INFO_2A info;
        std::memcpy(&info, buffer.data(), sizeof info);
        text += " (driver " + IntToStr(info.cVersion) + ")";
      }
    }
    closePrinter(handle);
  }
  FreeLibrary(spool);
  return text;
}

std::string GetCompanyName() { return RegistryOrganisationValue("RegisteredOrganization", "DefCompany"); }

std::string GetPrivileges() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::string();
  std::string text;
  DWORD size = 0;
  GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
  if (size >= sizeof(TOKEN_PRIVILEGES)) {
    std::vector<uint8_t> buffer(size);
    if (GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
      auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
      DWORD count = privileges->PrivilegeCount;
      // The count is trusted only as far as the returned buffer reaches.
      DWORD room = static_cast<DWORD>((size - offsetof(TOKEN_PRIVILEGES, Privileges)) / sizeof(LUID_AND_ATTRIBUTES));
      for (DWORD i = 0; i < count && i < room; ++i) {
        LUID_AND_ATTRIBUTES entry = privileges->Privileges[i];
        char name[256] = {};
        DWORD length = sizeof name;
        if (!LookupPrivilegeNameA(nullptr, &entry.Luid, name, &length)) continue;
        text += FormatPrivilegeLine(name, (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0);
      }
    }
  }
  CloseHandle(token);
  return text;
}

// --- Network (iphlpapi.dll bound at run time; its records as the header lays them out)

namespace {

struct TIPAddressString {
  char String[16];
};
struct TIPAddrString {
  TIPAddrString* Next;
  TIPAddressString IpAddress;
  TIPAddressString IpMask;
  DWORD Context;
};
struct TIPAdapterInfo {
  TIPAdapterInfo* Next;
  DWORD ComboIndex;
  char AdapterName[260];
  char Description[132];
  UINT AddressLength;
  BYTE Address[8];
  DWORD Index;
  UINT Type;
  UINT DhcpEnabled;
  TIPAddrString* CurrentIpAddress;
  TIPAddrString IpAddressList;
  TIPAddrString GatewayList;
  TIPAddrString DhcpServer;
  BOOL HaveWins;
  TIPAddrString PrimaryWinsServer;
  TIPAddrString SecondaryWinsServer;
  time_t LeaseObtained;
  time_t LeaseExpires;
};
struct TIPPerAdapterInfo {
  UINT AutoconfigEnabled;
  UINT AutoconfigActive;
  TIPAddrString* CurrentDnsServer;
  TIPAddrString DnsServerList;
};

std::string AddressText(const TIPAddressString& address) {
  return std::string(address.String, strnlen(address.String, sizeof address.String));
}

}  // namespace

void GetNetworkInfo(std::string& ipAddress, std::string& subnetMask, std::string& gateway, std::string& dns1,
                    std::string& dns2, std::string& dhcp) {
  ipAddress = subnetMask = gateway = dns1 = dns2 = dhcp = std::string();
  using GetAdaptersInfoProc = DWORD(WINAPI*)(void*, PULONG);
  using GetPerAdapterInfoProc = DWORD(WINAPI*)(ULONG, void*, PULONG);
  HMODULE library = LoadLibraryA("iphlpapi.dll");
  auto adaptersInfo = Bind<GetAdaptersInfoProc>(library, "GetAdaptersInfo");
  auto perAdapterInfo = Bind<GetPerAdapterInfoProc>(library, "GetPerAdapterInfo");
  if (adaptersInfo && perAdapterInfo) {
    ULONG size = 0;
    std::vector<uint8_t> buffer;
    DWORD result = adaptersInfo(nullptr, &size);
    if (result == ERROR_BUFFER_OVERFLOW && size > 0) {
      buffer.assign(size, 0);
      result = adaptersInfo(buffer.data(), &size);
    }
    std::vector<TEmberAdapterFacts> adapters;
    if (result == ERROR_SUCCESS && !buffer.empty()) {
      for (auto* adapter = reinterpret_cast<TIPAdapterInfo*>(buffer.data()); adapter; adapter = adapter->Next) {
        TEmberAdapterFacts facts;
        facts.Dhcp = adapter->DhcpEnabled != 0;
        facts.Address = AddressText(adapter->IpAddressList.IpAddress);
        facts.Mask = AddressText(adapter->IpAddressList.IpMask);
        facts.Gateway = AddressText(adapter->GatewayList.IpAddress);
        ULONG perSize = 0;
        if (perAdapterInfo(adapter->Index, nullptr, &perSize) == ERROR_BUFFER_OVERFLOW && perSize > 0) {
          std::vector<uint8_t> per(perSize, 0);
          if (perAdapterInfo(adapter->Index, per.data(), &perSize) == ERROR_SUCCESS) {
            auto* info = reinterpret_cast<TIPPerAdapterInfo*>(per.data());
            for (TIPAddrString* server = &info->DnsServerList; server; server = server->Next) {
              std::string text = AddressText(server->IpAddress);
              if (!text.empty()) facts.DnsServers.push_back(text);
            }
          }
        }
        adapters.push_back(facts);
      }
    }
    TEmberNetworkInfo info = ComposeNetworkInfo(adapters);
    ipAddress = info.IPAddress;
    subnetMask = info.SubnetMask;
    gateway = info.Gateway;
    dns1 = info.DNS1;
    dns2 = info.DNS2;
    dhcp = info.DHCP;
  }
  if (library) FreeLibrary(library);
}
