// Win32 half of the core helpers: memory probing, files, folders, INI, registry and time zone.
#include "ECore.h"

#include <windows.h>

#include <cmath>
#include <vector>

#include "EmberModuleOptions.h"
#include "EmberTexts.h"
#include "classlib/SysUtils.h"

namespace {

// Protections under which reading cannot fault; a guard page (0x100) never matches, since the
// first touch of one raises.
bool IsReadableProtection(DWORD protect) {
  switch (protect & ~static_cast<DWORD>(PAGE_NOCACHE | PAGE_WRITECOMBINE)) {
    case PAGE_READONLY: case PAGE_READWRITE: case PAGE_WRITECOPY: case PAGE_EXECUTE:
    case PAGE_EXECUTE_READ: case PAGE_EXECUTE_READWRITE: case PAGE_EXECUTE_WRITECOPY:
      return true;
    default:
      return false;
  }
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string InLibraryFolder(const std::string& fileName) {
  if (!FolderOf(fileName).empty()) return fileName;
  return IncludeTrailingBackslash(GetLibraryFolder()) + fileName;
}

bool FileExistsA(const std::string& fileName) {
  DWORD attributes = GetFileAttributesA(fileName.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CanOpen(const std::string& fileName, bool readOnly) {
  return readOnly ? CanOpenForReading(fileName) : CanWriteFile(fileName);
}

}  // namespace

// --- Memory

bool IsReadableMemory(const void* address, uint32_t size) {
  MEMORY_BASIC_INFORMATION info;
  if (!address || VirtualQuery(address, &info, sizeof info) != sizeof info) return false;
  if (info.State != MEM_COMMIT || !IsReadableProtection(info.Protect)) return false;
  // Only this region counts: the next one may have other rights, or be freed at any time.
  uintptr_t end = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  uintptr_t from = reinterpret_cast<uintptr_t>(address);
  return end - from >= (size ? size : 1);
}

const void* FollowJumpThunk(const void* address) {
  if (!IsReadableMemory(address, 8)) return address;
  const auto* code = static_cast<const uint8_t*>(address);
  if (code[0] != 0xFF || code[1] != 0x25) return address;
  uint32_t slotAddress;
  memcpy(&slotAddress, code + 2, 4);
  const void* slot = reinterpret_cast<const void*>(static_cast<uintptr_t>(slotAddress));
  if (!IsReadableMemory(slot, 4)) return address;
  uint32_t target;
  memcpy(&target, slot, 4);
  return reinterpret_cast<const void*>(static_cast<uintptr_t>(target));
}

// --- Critical errors

void ShowCriticalErrorDefault(const std::string& message) {
  OutputDebugStringA(message.c_str());
  MessageBoxA(nullptr, message.c_str(), "Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

// --- Application and folders

namespace {

std::string ModuleFileNameOf(HMODULE module) {
  std::vector<char> buffer(MAX_PATH);
  while (true) {
    DWORD got = GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (got == 0) return std::string();
    if (got < buffer.size()) return std::string(buffer.data(), got);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::string GetApplicationFileName() { return ModuleFileNameOf(nullptr); }

std::string GetThisModuleFileName() {
  return ModuleFileNameOf(reinterpret_cast<HMODULE>(GetThisModuleHandle()));
}

std::string GetAppDataFolder() {
  using SHGetFolderPathAProc = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
  HMODULE shfolder = LoadLibraryA("shfolder.dll");
  if (shfolder) {
    auto getFolder = reinterpret_cast<SHGetFolderPathAProc>(GetProcAddress(shfolder, "SHGetFolderPathA"));
    char path[MAX_PATH + 1] = {};
    HRESULT result = getFolder ? getFolder(nullptr, 26 /* CSIDL_APPDATA */, nullptr, 0, path) : E_FAIL;
    FreeLibrary(shfolder);
    if (SUCCEEDED(result) && path[0]) return path;
  }
  std::string fromEnvironment = GetEnvVariable("AppData");
  return fromEnvironment.empty() ? std::string("\\") : fromEnvironment;
}

std::string GetLibraryFolder() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
    char windows[MAX_PATH + 1];
    UINT got = GetWindowsDirectoryA(windows, sizeof windows);
    if (got > 0 && got < sizeof windows) return windows;
  }
  return ExcludeTrailingBackslash(GetAppDataFolder()) + "\\EmberLog";
}

// --- INI and registry

std::string ReadIniString(const std::string& fileName, const std::string& section,
                          const std::string& key, const std::string& fallback) {
  std::string file = InLibraryFolder(fileName);
  std::vector<char> buffer(1024);
  while (true) {
    DWORD got = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(),
                                         buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
    // A value that filled the buffer may have been cut: read it again with more room.
    if (got + 1 < buffer.size() || buffer.size() >= (1u << 20)) return std::string(buffer.data(), got);
    buffer.resize(buffer.size() * 4);
  }
}

bool WriteIniString(const std::string& fileName, const std::string& section,
                    const std::string& key, const std::string& value) {
  std::string file = InLibraryFolder(fileName);
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) != 0;
}

std::string ReadRegistryString(uintptr_t root, const std::string& keyPath,
                               const std::string& valueName) {
  std::string path = !keyPath.empty() && keyPath[0] == '\\' ? keyPath.substr(1) : keyPath;
  HKEY key;
  if (RegOpenKeyExA(reinterpret_cast<HKEY>(root), path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::string();
  std::string value;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, valueName.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    std::vector<char> buffer(size + 1, '\0');
    if (RegQueryValueExA(key, valueName.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer.data()), &size) == ERROR_SUCCESS) {
      // The stored string need not be terminated; the extra byte guarantees it.
      buffer[std::min<size_t>(size, buffer.size() - 1)] = '\0';
      value = buffer.data();
    }
  }
  RegCloseKey(key);
  return value;
}

// --- Files

double GetFileDate(const std::string& fileName) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(fileName.c_str(), GetFileExInfoStandard, &data)) return 0;
  FILETIME local;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local)) return 0;
  uint64_t ticks = (uint64_t(local.dwHighDateTime) << 32) | local.dwLowDateTime;
  // 100 ns ticks since 1601-01-01; day 0 of a date-time value is 1899-12-30, 109205 days later.
  return static_cast<double>(ticks) / 864000000000.0 - 109205.0;
}

std::string ExpandShortPathName(const std::string& path) {
  if (path.find('~') == std::string::npos) return path;
  std::string out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('\\', start);
    std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    std::string sofar = out + part;
    if (part.find('~') != std::string::npos) {
      WIN32_FIND_DATAA found;
      HANDLE search = FindFirstFileA(sofar.c_str(), &found);
      if (search != INVALID_HANDLE_VALUE) {
        part = found.cFileName;
        FindClose(search);
      }
    }
    out += part;
    if (slash == std::string::npos) break;
    out += '\\';
    start = slash + 1;
  }
  return out;
}

int32_t GetUTCOffsetMinutes() {
  TIME_ZONE_INFORMATION zone;
  DWORD mode = GetTimeZoneInformation(&zone);
  if (mode == TIME_ZONE_ID_INVALID) return 0;
  LONG bias = zone.Bias;  // UTC = local + bias, in minutes
  if (mode == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  else if (mode == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  return static_cast<int32_t>(-bias);
}

int32_t GetUTCOffsetHours() { return static_cast<int32_t>(Round(GetUTCOffsetMinutes() / 60.0)); }

std::string GetComputerNameText() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

bool IsDirectory(const std::string& path) {
  DWORD attributes = GetFileAttributesA(ExcludeTrailingBackslash(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceFolders(const std::string& path) {
  std::string folder = ExcludeTrailingBackslash(ExpandVariables(path));
  if (folder.empty()) return false;
  if (IsDirectory(folder)) return true;
  // A drive root ("C:") or a share root cannot be created; its parent recursion stops there.
  std::string parent = FolderOf(folder);
  if (!parent.empty() && ExcludeTrailingBackslash(parent) != folder && parent.back() != ':' &&
      ExcludeTrailingBackslash(parent).size() > 2)
    ForceFolders(parent);
  return CreateDirectoryA(folder.c_str(), nullptr) || IsDirectory(folder);
}

bool CanOpenForReading(const std::string& fileName) {
  HANDLE file = CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

bool CanWriteFile(const std::string& fileName) {
  bool existed = FileExistsA(fileName);
  HANDLE file = CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  if (!existed) DeleteFileA(fileName.c_str());
  return true;
}

bool PrepareWritableFile(std::string& fileName, bool forceLibraryFolder, bool readOnly) {
  std::string expanded = ExpandVariables(fileName);
  if (CanOpen(expanded, readOnly)) {
    fileName = expanded;
    return true;
  }
  std::string library = IncludeTrailingBackslash(GetLibraryFolder());
  std::string name = NameOf(expanded);
  if (name.empty()) return false;
  if (forceLibraryFolder) {
    // Keep files of different folders apart: "<library>\<own folder name>\<file>".
    std::string ownFolder = NameOf(ExcludeTrailingBackslash(FolderOf(expanded)));
    if (!ownFolder.empty() && ownFolder.back() != ':') {
      std::string candidate = library + ownFolder + "\\" + name;
      if (ForceFolders(library + ownFolder) && CanOpen(candidate, readOnly)) {
        fileName = candidate;
        return true;
      }
    }
  }
  std::string candidate = library + name;
  if (ForceFolders(library) && CanOpen(candidate, readOnly)) {
    fileName = candidate;
    return true;
  }
  return false;
}

// --- Modules

uintptr_t GetThisModuleHandle() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&GetThisModuleHandle), &module);
  return reinterpret_cast<uintptr_t>(module);
}

uintptr_t GetModuleHandleOf(const std::string& moduleName) {
  if (moduleName.empty()) return 0;
  return reinterpret_cast<uintptr_t>(GetModuleHandleA(moduleName.c_str()));
}

// --- Log file

std::string GetLogFilePath(const TEmberModuleOptions& options, const std::string& fileName) {
  std::string path = ExpandVariables(ComposeLogFilePath(options.OutputPath(), fileName));
  std::string folder = FolderOf(path);
  if (!folder.empty()) ForceFolders(folder);
  return PrepareWritableFile(path, false, false) ? path : std::string();
}

std::string GetLogFileName(const TEmberModuleOptions& options, const std::string& moduleName) {
  std::string module = moduleName.empty() ? StripVsHost(options.ModuleName()) : moduleName;
  std::string computer = (options.LogOptions() & 0x08) ? GetComputerNameText() : std::string();
  return GetLogFilePath(options, ComposeLogFileName(module, computer));
}
