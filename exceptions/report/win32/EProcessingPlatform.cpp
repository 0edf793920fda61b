// Windows half of the exception processing: the program's kind and windows, threads, the
// process's modules and processes, the clipboard and ending the program.
#include "../detail/EProcessingPlatform_p.h"

#include <windows.h>

#include <atomic>
#include <mutex>

#include "../EReportValues.h"
#include "../EWebApplication.h"
#include "../ESupport.h"
#include "classlib/MemoryManager.h"
#include "classlib/Module.h"
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

// While the module's start work runs (OfferOwnOptions), its entry is made by the first caller, on
// whichever thread, under the offer's lock, and answered from then on.
std::atomic<bool> gOffering{false};
std::atomic<TEmberModuleOptionsEx*> gOfferedOptions{nullptr};
std::atomic<uintptr_t> gOfferLock{0};  // a holder killed inside leaves it to the next
struct TOfferLockAtUnload {
  ~TOfferLockAtUnload() { ember_detail::PlatformDestroyLockObject(gOfferLock.exchange(0)); }
} gOfferLockAtUnload;

// The longest a caller on another thread waits for the library lock (a processing holds it while
// its dialog shows) before it is refused.
constexpr uint32_t kOptionsWaitMs = EmberSendWaitLimitMs;
constexpr uint32_t kOptionsWaitSliceMs = 50;

TEmberModuleOptionsEx* ListedOptions(uintptr_t module) {
  const TEmberModulesList& list = EmberModulesList();
  const int32_t index = list.IndexOfHandle(module);
  const TEmberModuleInfo* info = index >= 0 ? list.GetItem(index) : nullptr;
  return info ? info->Options.get() : nullptr;
}

// The options offered while the start work runs; nullptr at other times. The entry is made
// without the library lock, which the start work holds: its thread touches the list only through
// here meanwhile, and nothing else does before the offer ends. Under the loader lock the offer's
// lock is not waited for: its holder may be loading a library for the entry.
TEmberModuleOptionsEx* OfferedOptions() {
  if (!gOffering.load()) return nullptr;
  if (TEmberModuleOptionsEx* offered = gOfferedOptions.load()) return offered;
  const uintptr_t lock = ember_detail::LockObjectIn(gOfferLock);
  if (ember_detail::PlatformWaitLockObject(lock, HoldsLoaderLock() ? 0 : ~0u, false) ==
      ember_detail::TLockWait::TimedOut)
    return nullptr;
  TEmberModuleOptionsEx* offered = gOfferedOptions.load();
  if (offered == nullptr && gOffering.load()) {
    try {
      if (const TEmberModuleInfo* info = GetModuleInfo(EmberLibrary().Module)) offered = info->Options.get();
    } catch (...) {
      // not made: the caller waits for the library lock as at other times
    }
    gOfferedOptions = offered;
  }
  ember_detail::PlatformReleaseLockObject(lock);
  return offered;
}

// The options of this module's entry. While the start work runs they are offered on every
// thread without the library lock (OfferedOptions). Otherwise the entry is looked up (and made
// when missing) under the library lock: an exception's processing, which holds it
// throughout, drops entries and makes them again. A caller on another thread waits for it
// kOptionsWaitMs at most, answering what is sent to its windows meanwhile, and is refused then
// (nullptr); one under the loader lock does not wait at all, since the holder may need that lock
// (a library its dialog loads). One inside the library's own work that does not hold it (the
// worker, whose faulting thread holds it and waits for it) looks the entry up as the list stands:
// its holder changes nothing then.
TEmberModuleOptionsEx* OwnModuleOptions() {
  TEmberLibraryGlobals& library = EmberLibrary();
  if (library.LibraryOn == 0 || library.Module == 0) return nullptr;
  if (TEmberModuleOptionsEx* offered = OfferedOptions()) return offered;
  TEmberLibraryLock& lock = library.LibraryLock;
  const TEmberThreadVars& vars = ThreadVars();
  if (!lock.HeldByThisThread()) {
    if (vars.Busy != 0 || vars.LibraryWork != 0) return ListedOptions(library.Module);
    if (HoldsLoaderLock()) return nullptr;
    const int64_t start = EmberNowMs();
    while (!lock.LockWithin(kOptionsWaitSliceMs, ember_detail::PlatformHasMessageQueue(), false)) {
      // The start work began meanwhile.
      if (TEmberModuleOptionsEx* offered = OfferedOptions()) return offered;
      if (EmberNowMs() - start >= kOptionsWaitMs) return nullptr;
    }
  } else {
    lock.lock();
  }
  const std::lock_guard<TEmberLibraryLock> held(lock, std::adopt_lock);
  // Detached while it waited: the list is gone with it.
  const TEmberModuleInfo* info = library.LibraryOn != 0 ? GetModuleInfo(library.Module) : nullptr;
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

void OfferOwnOptions(bool offer) {
  // No offer to end (every detachment asks): a caller that read it on sees it off under the lock.
  if (!offer && !gOffering.load()) return;
  // After the entry's making under way, if any: the list is the library lock's again.
  const uintptr_t lock = ember_detail::LockObjectIn(gOfferLock);
  ember_detail::PlatformWaitLockObject(lock, ~0u, false);
  gOffering = offer;
  gOfferedOptions = nullptr;
  ember_detail::PlatformReleaseLockObject(lock);
}

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
