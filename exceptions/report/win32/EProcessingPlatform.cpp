// Windows half of the exception processing: the program's kind and windows, threads, the
// process's modules and processes, the clipboard and ending the program.
#include "../detail/EProcessingPlatform_p.h"

#include <windows.h>

#include <mutex>

#include "../EReportValues.h"
#include "../EWebApplication.h"
#include "../ESupport.h"
#include "classlib/MemoryManager.h"
#include "classlib/SysUtils.h"
#include "exceptions/ECore.h"
#include "exceptions/capture/ECallStack.h"
#include "exceptions/capture/ELeaks.h"
#include "exceptions/capture/EmberLibraryData.h"
#include "exceptions/capture/EmberRecords.h"
#include "exceptions/capture/ExceptionLog.h"

namespace ember_processing {

namespace {

// The library data and the debug-information source of a module entry.
bool LoadLibraryDataOf(TEmberModuleInfo& info, bool refreshing) {
  bool found = false;
  try {
    found = LoadModuleData(info, refreshing);
  } catch (...) {
    found = false;
  }
  if (!refreshing && !info.DebugInfo) {
    try {
      CreateDebugInfoSource(info.Handle, info.DebugInfo);
    } catch (...) {
      info.DebugInfo.reset();
    }
  }
  return found;
}

TEmberModuleInfo* EntryOfAddress(uint32_t address) { return GetModuleInfoByAddr(address); }

// The options of this module's entry, looked up (and made when missing) under the library lock:
// an exception's processing, which holds it throughout, drops entries and makes them again. A
// caller on another thread waits for it, answering what is sent to its windows meanwhile. One
// inside the library's own work that does not hold it (the worker, whose faulting thread holds
// it and waits for it) looks the entry up as the list stands: its holder changes nothing then.
TEmberModuleOptionsEx* OwnModuleOptions() {
  TEmberLibraryGlobals& library = EmberLibrary();
  if (library.LibraryOn == 0 || library.Module == 0) return nullptr;
  TEmberLibraryLock& lock = library.LibraryLock;
  const TEmberThreadVars& vars = ThreadVars();
  TEmberModuleInfo* info = nullptr;
  if (!lock.HeldByThisThread() && (vars.Busy != 0 || vars.LibraryWork != 0)) {
    const TEmberModulesList& list = EmberModulesList();
    const int32_t index = list.IndexOfHandle(library.Module);
    info = index >= 0 ? list.GetItem(index) : nullptr;
  } else {
    const std::lock_guard<TEmberLibraryLock> held(lock);
    // Detached while it waited: the list is gone with it.
    if (library.LibraryOn != 0) info = GetModuleInfo(library.Module);
  }
  return info ? info->Options.get() : nullptr;
}

}  // namespace


void WriteStandardOutput(const std::string& text) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  if (output == nullptr || output == INVALID_HANDLE_VALUE ||
      !WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written != text.size())
    throw EWriteError("Cannot write to the standard output.");
}

void RestoreMainWindow() {
  HWND window = reinterpret_cast<HWND>(GetProcessMainWindow(GetCurrentProcessId()));
  DWORD_PTR answer = 0;
  // A main thread that does not answer (a freeze) does not hold the report up.
  if (window != nullptr && IsIconic(window))
    SendMessageTimeoutA(window, WM_SYSCOMMAND, SC_RESTORE, 0, SMTO_ABORTIFHUNG, 1000, &answer);
}

uintptr_t MainWindowOf(uint32_t processId) { return GetProcessMainWindow(processId); }

void ActiveWorkArea(int32_t& left, int32_t& top, int32_t& right, int32_t& bottom) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  HMONITOR monitor = MonitorFromWindow(GetForegroundWindow(), MONITOR_DEFAULTTOPRIMARY);
  RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (monitor != nullptr && GetMonitorInfoA(monitor, &info)) area = info.rcWork;
  left = area.left;
  top = area.top;
  right = area.right;
  bottom = area.bottom;
}

// A thread kept suspended while the report is made must hold neither the memory manager's lock
// nor the leak list's: the processing allocates and frees meanwhile and would wait for it for
// ever. Such a thread is let go on and tried again until it has left the lock (a few
// milliseconds), and left running when it does not. The locks are read once the suspension has
// surely taken effect (the system may stop the thread later than SuspendThread returns; taking
// its context waits for it): until then the thread could still take one.
bool SuspendThreadHandle(uint32_t handle) {
  HANDLE thread = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle));
  const DWORD id = GetThreadId(thread);
  for (int tries = 0; tries < 100; ++tries) {
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) return false;
    alignas(16) CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(thread, &context);
    if (id == 0 || (MemoryManagerLockHolder() != id && LeakListLockHolder() != id)) return true;
    // Not a resumption the threads list records (the import of ResumeThread is the library's).
    ThreadVars().InFreeze = 1;
    ResumeThread(thread);
    ThreadVars().InFreeze = 0;
    Sleep(1);
  }
  return false;
}

void ResumeThreadHandle(uint32_t handle) { ResumeThread(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle))); }

TEmberModulesList* ModulesList() { return &EmberModulesList(); }
TEmberModuleInfo* ModuleInfoOfAddress(uintptr_t address) { return GetModuleInfoByAddr(address); }
TEmberModuleInfo* ModuleInfoOfHandle(uintptr_t module) { return module != 0 ? GetModuleInfo(module) : nullptr; }

void DropChangedModules() {
  TEmberModulesList& list = EmberModulesList();
  for (int32_t i = list.Count() - 1; i >= 0; --i) {
    const TEmberModuleInfo& info = *list.GetItem(i);
    if (!info.FileName.empty() && GetFileDate(info.FileName) != info.FileDate) list.Delete(i);
  }
}

void RefreshModules() { RefreshModulesList(); }
void LoadProcesses(TEmberProcessesList& list) { LoadProcessesInfo(list); }

void JoinModuleLists(bool join) {
  SetModuleDataLoader(join ? &LoadLibraryDataOf : nullptr);
  SetEmberModuleLookup(join ? &EntryOfAddress : nullptr);
  SetEmberOwnOptionsFinder(join ? &OwnModuleOptions : nullptr);
  if (!join) EmberModulesList().Clear();
}

std::string ApplicationVersionText() { return GetApplicationVersionText(); }
std::string ModuleVersionText() { return GetModuleVersionText(); }

bool CopyText(const std::string& text) { return CopyToClipboard(text); }
void DeleteFileByName(const std::string& fileName) {
  if (!fileName.empty()) ForceDeleteFile(fileName);
}
void EndApplication(bool restart) { TerminateApplication(restart); }

}  // namespace ember_processing
