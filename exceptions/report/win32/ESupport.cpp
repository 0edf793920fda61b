// Win32 half of the support routines: message boxes, process windows, the clipboard, ending the
// process, the modules list (PSAPI bound at run time, Toolhelp otherwise) and the processes list.
#include "ESupport.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <vector>

#include "EReportValues.h"
#include "ESysUtils.h"
#include "classlib/NeverDestroyed.h"
#include "exceptions/ECore.h"
#include "exceptions/capture/EmberRecords.h"

// --- Message boxes

namespace {

constexpr UINT kBoxFlags = MB_TASKMODAL | MB_TOPMOST | MB_SERVICE_NOTIFICATION;

void ErrorBox(const std::string& text, const std::string& caption) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR | kBoxFlags);
}
bool QuestionBox(const std::string& text, const std::string& caption) {
  return MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONERROR | MB_TASKMODAL) == IDYES;
}
void InformationBox(const std::string& text, const std::string& caption) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION | kBoxFlags);
}

}  // namespace

const TEmberMessageBoxes& PlatformMessageBoxes() {
  static const TEmberMessageBoxes boxes{ErrorBox, QuestionBox, InformationBox};
  return boxes;
}

// --- Windows

namespace {

std::string ClassOf(HWND window) {
  char name[257] = {};
  int length = GetClassNameA(window, name, 256);
  return length > 0 ? std::string(name, static_cast<size_t>(length)) : std::string();
}

DWORD ProcessOf(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process;
}

bool IsToolWindow(HWND window) { return (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0; }

bool IsMainWindow(HWND window) {
  RECT rect;
  if (!IsWindowVisible(window) || !GetWindowRect(window, &rect)) return false;
  if (rect.right - rect.left <= 0 || rect.bottom - rect.top <= 0) return false;
  HWND owner = GetWindow(window, GW_OWNER);
  if (owner && IsToolWindow(owner)) owner = GetWindow(owner, GW_OWNER);
  bool ownerFits = !owner || owner == GetDesktopWindow() || ClassOf(owner) == "TApplication";
  LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
  return ownerFits && (!(exStyle & WS_EX_TOOLWINDOW) || (exStyle & WS_EX_APPWINDOW));
}

struct TWindowSearch {
  DWORD Process;
  HWND Found;
  std::string ClassName;
  RECT Area;
  bool Any;
  std::vector<HWND>* List;
};

BOOL CALLBACK FindMainWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<TWindowSearch*>(data);
  if (ProcessOf(window) != search->Process || !IsMainWindow(window)) return TRUE;
  search->Found = window;
  return FALSE;
}

BOOL CALLBACK FindClassWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<TWindowSearch*>(data);
  if (ProcessOf(window) != search->Process || ClassOf(window) != search->ClassName) return TRUE;
  search->Found = window;
  return FALSE;
}

BOOL CALLBACK UniteWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<TWindowSearch*>(data);
  RECT rect;
  if (ProcessOf(window) != search->Process || !IsWindowVisible(window) || !GetWindowRect(window, &rect) ||
      rect.right - rect.left <= 0)
    return TRUE;
  if (!search->Any) search->Area = rect;
  else UnionRect(&search->Area, &search->Area, &rect);
  search->Any = true;
  return TRUE;
}

BOOL CALLBACK ListWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<TWindowSearch*>(data);
  if (ProcessOf(window) == search->Process) search->List->push_back(window);
  return TRUE;
}

std::mutex gOwnWindowsLock;
std::vector<HWND> gOwnWindows;

}  // namespace

uintptr_t GetProcessMainWindow(uint32_t processId) {
  TWindowSearch search{processId, nullptr, {}, {}, false, nullptr};
  EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&search));
  return reinterpret_cast<uintptr_t>(search.Found);
}

bool IsDevelopmentEnvironmentProcess(uint32_t processId) {
  TWindowSearch search{processId, nullptr, "TAppBuilder", {}, false, nullptr};
  EnumWindows(FindClassWindow, reinterpret_cast<LPARAM>(&search));
  return search.Found != nullptr;
}

void GetProcessWindowsRect(uint32_t processId, int32_t& left, int32_t& top, int32_t& right, int32_t& bottom) {
  TWindowSearch search{processId, nullptr, {}, {}, false, nullptr};
  EnumWindows(UniteWindow, reinterpret_cast<LPARAM>(&search));
  if (!search.Any) {
    left = top = right = bottom = -1;
    return;
  }
  left = search.Area.left;
  top = search.Area.top;
  right = search.Area.right;
  bottom = search.Area.bottom;
}

bool IsOwnWindow(uintptr_t window) {
  HWND h = reinterpret_cast<HWND>(window);
  return h && IsWindow(h) && ProcessOf(h) == GetCurrentProcessId();
}

void RefreshOwnWindows() {
  std::vector<HWND> windows;
  TWindowSearch search{GetCurrentProcessId(), nullptr, {}, {}, false, &windows};
  EnumWindows(ListWindow, reinterpret_cast<LPARAM>(&search));
  std::lock_guard<std::mutex> lock(gOwnWindowsLock);
  gOwnWindows.swap(windows);
}

bool IsNewWindow(uintptr_t window) {
  std::lock_guard<std::mutex> lock(gOwnWindowsLock);
  return std::find(gOwnWindows.begin(), gOwnWindows.end(), reinterpret_cast<HWND>(window)) == gOwnWindows.end();
}

bool CopyToClipboard(const std::string& text) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, text.size() + 1);
  if (!memory) return false;
  void* bytes = GlobalLock(memory);
  if (!bytes) {
    GlobalFree(memory);
    return false;
  }
  memcpy(bytes, text.c_str(), text.size() + 1);
  GlobalUnlock(memory);
  if (!OpenClipboard(nullptr)) {
    GlobalFree(memory);
    return false;
  }
  EmptyClipboard();
  // Once the clipboard has taken the memory it is the clipboard's; only a refusal leaves it ours.
  bool taken = SetClipboardData(CF_TEXT, memory) != nullptr;
  CloseClipboard();
  if (!taken) GlobalFree(memory);
  return taken;
}

void TerminateApplication(bool restart) {
  if (restart) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION process{};
    std::string line = GetCommandLineA();
    std::vector<char> command(line.begin(), line.end());
    command.push_back('\0');
    std::string folder = GetLibraryFolder();
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE,
                       CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS, nullptr,
                       IsDirectory(folder) ? folder.c_str() : nullptr, &startup, &process)) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
  }
  TerminateProcess(GetCurrentProcess(), 1);
}

// --- Modules

namespace {

TEmberModuleDataLoader gDataLoader = nullptr;
bool gRefreshing = false;
// Entries made while the list was refreshed carry no debug data; they are made again later.
std::set<uintptr_t> gMadeWhileRefreshing;

using EnumProcessModulesProc = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, LPDWORD);
using EnumProcessesProc = BOOL(WINAPI*)(DWORD*, DWORD, LPDWORD);
using GetModuleFileNameExProc = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
using GetProcessMemoryInfoProc = BOOL(WINAPI*)(HANDLE, void*, DWORD);

// PSAPI bound at run time; the library stays loaded for the life of the process.
struct TPsapi {
  EnumProcessModulesProc EnumProcessModules = nullptr;
  EnumProcessesProc EnumProcesses = nullptr;
  GetModuleFileNameExProc GetModuleFileNameEx = nullptr;
  GetProcessMemoryInfoProc GetProcessMemoryInfo = nullptr;
};

const TPsapi& Psapi() {
  static const TPsapi psapi = [] {
    TPsapi p;
    HMODULE library = LoadLibraryA("psapi.dll");
    if (!library) return p;
    auto find = [library](const char* name) { return reinterpret_cast<void*>(GetProcAddress(library, name)); };
    p.EnumProcessModules = reinterpret_cast<EnumProcessModulesProc>(find("EnumProcessModules"));
    p.EnumProcesses = reinterpret_cast<EnumProcessesProc>(find("EnumProcesses"));
    p.GetModuleFileNameEx = reinterpret_cast<GetModuleFileNameExProc>(find("GetModuleFileNameExA"));
    p.GetProcessMemoryInfo = reinterpret_cast<GetProcessMemoryInfoProc>(find("GetProcessMemoryInfo"));
    return p;
  }();
  return psapi;
}

bool IsNTPlatform() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::vector<HMODULE> LoadedModules() {
  std::vector<HMODULE> modules;
  const TPsapi& psapi = Psapi();
  if (IsNTPlatform() && psapi.EnumProcessModules) {
    DWORD needed = 0;
    modules.resize(256);
    while (psapi.EnumProcessModules(GetCurrentProcess(), modules.data(),
                                    static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed)) {
      if (needed <= modules.size() * sizeof(HMODULE)) {
        modules.resize(needed / sizeof(HMODULE));
        return modules;
      }
      modules.resize(needed / sizeof(HMODULE) + 16);
    }
    modules.clear();
  }
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
  if (snapshot == INVALID_HANDLE_VALUE) return modules;
  MODULEENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry))
    modules.push_back(entry.hModule);
  CloseHandle(snapshot);
  return modules;
}

uint32_t ImageSize(uintptr_t module) {
  THModuleStream stream(module);
  uint32_t offset = 0, size = 0;
  stream.SetPosition(60);
  if (stream.Read(&offset, 4) != 4 || offset == 0) return 0;
  stream.SetPosition(offset + 4 + 20 + 56);  // SizeOfImage in the optional header
  return stream.Read(&size, 4) == 4 ? size : 0;
}

}  // namespace

uintptr_t GetModuleHandleOfAddr(uintptr_t address) {
  MEMORY_BASIC_INFORMATION info;
  if (!address || VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) != sizeof info) return 0;
  if (info.State != MEM_COMMIT || info.Type != MEM_IMAGE) return 0;
  uintptr_t base = reinterpret_cast<uintptr_t>(info.AllocationBase);
  return IsModuleLoaded(base) ? base : 0;
}

// Lives until the process ends; in static storage, so that an unloaded module leaves no block of
// it behind.
TEmberModulesList& EmberModulesList() {
  static TNeverDestroyed<TEmberModulesList> list;
  return list.Get();
}

void SetModuleDataLoader(TEmberModuleDataLoader loader) { gDataLoader = loader; }

void LoadModuleInfo(TEmberModuleInfo& info, bool refreshing) {
  info.FileName = GetModuleName(info.Handle);
  GetFileVersionText(info.FileName, info.Description, info.Version);
  info.Size = ImageSize(info.Handle);
  info.FileDate = GetFileDate(info.FileName);
  info.Kind = refreshing ? 0 : static_cast<uint8_t>(GetModuleKind(info.Handle));
  LoadModuleFunctions(info.Handle, *info.Functions);
  if (gDataLoader) gDataLoader(info, refreshing);
}

TEmberModuleInfo* GetModuleInfo(uintptr_t module) {
  if (!IsModuleLoaded(module)) return nullptr;
  TEmberModulesList& list = EmberModulesList();
  int32_t index = list.IndexOfHandle(module);
  if (index >= 0 && !gRefreshing && gMadeWhileRefreshing.count(module)) {
    list.Delete(index);
    index = -1;
  }
  if (index >= 0) return list.GetItem(index);
  auto* info = new TEmberModuleInfo();
  info->Handle = module;
  try {
    LoadModuleInfo(*info, gRefreshing);
  } catch (...) {
    // An entry with what could be read is better than none in a report.
  }
  if (gRefreshing) gMadeWhileRefreshing.insert(module);
  else gMadeWhileRefreshing.erase(module);
  list.Add(info);
  return info;
}

TEmberModuleInfo* GetModuleInfoByAddr(uintptr_t address) {
  uintptr_t module = GetModuleHandleOfAddr(address);
  return module ? GetModuleInfo(module) : nullptr;
}

void RefreshModulesList() {
  TEmberModulesList& list = EmberModulesList();
  gRefreshing = true;
  try {
    std::vector<HMODULE> loaded = LoadedModules();
    for (int32_t i = list.Count() - 1; i >= 0; --i) {
      uintptr_t handle = list.GetItem(i)->Handle;
      bool present = std::find(loaded.begin(), loaded.end(), reinterpret_cast<HMODULE>(handle)) != loaded.end();
      if (!present) {
        gMadeWhileRefreshing.erase(handle);
        list.Delete(i);
      }
    }
    for (HMODULE module : loaded) GetModuleInfo(reinterpret_cast<uintptr_t>(module));
    list.Sort([](void* a, void* b) -> int {
      uintptr_t x = static_cast<TEmberModuleInfo*>(a)->Handle, y = static_cast<TEmberModuleInfo*>(b)->Handle;
      return x < y ? -1 : x > y ? 1 : 0;
    });
  } catch (...) {
  }
  gRefreshing = false;
}

bool IsModuleDLL(uintptr_t module) {
  int32_t flag = ReadModuleDLLFlag(module);
  if (flag >= 0) return flag == 1;
  // Unreadable headers: whether this code runs in a library.
  return GetThisModuleHandle() != reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr));
}

int32_t GetModuleKind(uintptr_t module) {
  int32_t flag = ReadModuleDLLFlag(module);
  if (flag < 0) return 0;
  if (flag == 0) return 1;
  std::string fileName = GetModuleName(module);
  HMODULE data = fileName.empty() ? nullptr : LoadLibraryExA(fileName.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!data) return 3;
  bool package = FindResourceA(data, "PACKAGEINFO", MAKEINTRESOURCEA(10)) &&
                 FindResourceA(data, "PACKAGEOPTIONS", MAKEINTRESOURCEA(10));
  FreeLibrary(data);
  return package ? 2 : 3;
}

uint32_t GetFileSizeByName(const std::string& fileName) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(fileName.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  return found.nFileSizeLow;
}

bool ForceDeleteFile(const std::string& fileName) {
  DWORD attributes = GetFileAttributesA(fileName.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(fileName.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  return DeleteFileA(fileName.c_str()) != FALSE;
}

// --- Processes

namespace {

struct TMemoryCounters {
  DWORD cb;
  DWORD PageFaultCount;
  SIZE_T PeakWorkingSetSize;
  SIZE_T WorkingSetSize;
  SIZE_T Rest[5];
};

void AddVersionFacts(TEmberProcessInfo& info) {
  if (!info.Path.empty()) GetFileVersionText(info.Path, info.Description, info.Version);
}

void LoadWithPsapi(TEmberProcessesList& list) {
  const TPsapi& psapi = Psapi();
  if (!psapi.EnumProcesses) return;
  std::vector<DWORD> ids(1024);
  DWORD needed = 0;
  if (!psapi.EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &needed)) return;
  ids.resize(needed / sizeof(DWORD));
  for (DWORD id : ids) {
    auto* info = new TEmberProcessInfo();
    info->ID = id;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    if (process) {
      char name[MAX_PATH + 1] = {};
      if (psapi.GetModuleFileNameEx && psapi.GetModuleFileNameEx(process, nullptr, name, MAX_PATH)) info->Path = name;
      info->Priority = GetPriorityClass(process);
      TMemoryCounters counters{};
      counters.cb = sizeof counters;
      if (psapi.GetProcessMemoryInfo && psapi.GetProcessMemoryInfo(process, &counters, sizeof counters))
        info->Memory = static_cast<uint32_t>(counters.WorkingSetSize);
      CloseHandle(process);
    }
    AddVersionFacts(*info);
    list.Add(info);
  }
}

std::string FullProcessPath(DWORD id, const std::string& exeName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, id);
  if (snapshot == INVALID_HANDLE_VALUE) return exeName;
  std::string path = exeName;
  MODULEENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szModule, exeName.c_str()) == 0 || lstrcmpiA(entry.szExePath, exeName.c_str()) == 0) {
      path = entry.szExePath;
      break;
    }
  }
  CloseHandle(snapshot);
  return path;
}

void LoadWithToolhelp(TEmberProcessesList& list) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    auto* info = new TEmberProcessInfo();
    info->ID = entry.th32ProcessID;
    info->Path = FullProcessPath(entry.th32ProcessID, entry.szExeFile);
    info->Priority = PriorityClassFromBase(entry.pcPriClassBase);
    AddVersionFacts(*info);
    list.Add(info);
  }
  CloseHandle(snapshot);
}

}  // namespace

void LoadProcessesInfo(TEmberProcessesList& list) {
  list.Clear();
  try {
    if (IsWindowsNT4()) LoadWithPsapi(list);
    else LoadWithToolhelp(list);
    list.Sort([](void* a, void* b) -> int {
      uint32_t x = static_cast<TEmberProcessInfo*>(a)->ID, y = static_cast<TEmberProcessInfo*>(b)->ID;
      return x < y ? -1 : x > y ? 1 : 0;
    });
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
      // Binary search by id over the sorted list.
      int32_t low = 0, high = list.Count() - 1;
      while (low <= high) {
        int32_t middle = (low + high) / 2;
        TEmberProcessInfo* info = list.GetItem(middle);
        if (info->ID == entry.th32OwnerProcessID) {
          ++info->Threads;
          break;
        }
        if (info->ID < entry.th32OwnerProcessID) low = middle + 1;
        else high = middle - 1;
      }
    }
    CloseHandle(snapshot);
  } catch (...) {
    // Whatever was listed stays; the report shows what could be found.
  }
}
