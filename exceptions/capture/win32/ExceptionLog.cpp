// Win32 half of the exception library's attachment: the replaced kernel32 imports (raise,
// unwind, thread creation, resumption and exit), the wrapper of the runtime's C++ throw, the
// unhandled-exception procedure (terminate handler) and filter, and the module look-ups of the
// exported entries.
#include "ExceptionLog.h"

#include <windows.h>
#include <httpext.h>

#include <cxxabi.h>
#include <pthread.h>

#include <cstring>
#include <mutex>
#include <typeinfo>
#include <utility>
#include <vector>

#include "EDebug.h"
#include "EHook.h"
#include "EmberLibraryData.h"
#include "EmberLogEvents.h"
#include "classlib/Module.h"
#include "exceptions/ECore.h"

namespace {

using TRaiseException = void(WINAPI*)(DWORD, DWORD, DWORD, const ULONG_PTR*);
using TRtlUnwind = void(WINAPI*)(void*, void*, EXCEPTION_RECORD*, void*);
using TCreateThread = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, void*, DWORD, DWORD*);
using TResumeThread = DWORD(WINAPI*)(HANDLE);
using TExitThread = void(WINAPI*)(DWORD);
using TWriteFile = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

// The real routines, found once through kernel32's exports.
struct TRealRoutines {
  TRaiseException RaiseException = nullptr;
  TRtlUnwind RtlUnwind = nullptr;
  TCreateThread CreateThread = nullptr;
  TResumeThread ResumeThread = nullptr;
  TExitThread ExitThread = nullptr;
  TWriteFile WriteFile = nullptr;
};
TRealRoutines& Real() {
  static TRealRoutines routines;
  return routines;
}

FARPROC Kernel32Proc(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel != nullptr ? GetProcAddress(kernel, name) : nullptr;
}

std::atomic<bool> gThrowHookOn{false};
std::terminate_handler gOldTerminate = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER gOldFilter = nullptr;
bool gFilterInstalled = false;
// Set when a filter the host installed after this library's was found above it at detachment:
// the host may call this one in turn, so this one keeps its place in that chain (forwarding to
// the filter it replaced) and the module stays loaded for as long as the process runs.
bool gFilterChainedOver = false;
PVOID gFaultHandler = nullptr;
uintptr_t gModuleStart = 0, gModuleEnd = 0;
bool gIsCgi = false;
// The message of the last fault processed, so that the unhandled-exception filter does not
// report it a second time.
std::mutex gLastFaultLock;
std::string gLastFaultMessage;
// How long that fault's entry waited for the library lock: the end that follows it counts it.
int64_t gLastFaultWait = 0;

// The process's end may follow the calling thread's entries at once (a fault no handler may
// take): their wait stays counted when they are over.
class TEndMayFollow {
 public:
  TEndMayFollow() : vars_(ThreadVars()), before_(vars_.EndFollows) { vars_.EndFollows = 1; }
  ~TEndMayFollow() { vars_.EndFollows = before_; }
  TEndMayFollow(const TEndMayFollow&) = delete;
  TEndMayFollow& operator=(const TEndMayFollow&) = delete;

 private:
  TEmberThreadVars& vars_;
  const uint8_t before_;
};

bool InsideModule(uintptr_t address) { return address >= gModuleStart && address < gModuleEnd; }

// Faults the processor or the system raise (access violation up to the last status of that
// range); a stack overflow leaves no room to process anything on its thread.
bool IsFaultCode(DWORD code) {
  return code >= 0xC0000005u && code < 0xC000013Bu && code != EXCEPTION_STACK_OVERFLOW;
}

// A fault of this module's own code, reported as the system dispatches it; the search for a
// handler always goes on, so the host's own structured handling sees the fault as before.
LONG CALLBACK ModuleFaultHandler(EXCEPTION_POINTERS* pointers) {
  try {
    TEmberLibraryGlobals& library = EmberLibrary();
    const EXCEPTION_RECORD* record = pointers != nullptr ? pointers->ExceptionRecord : nullptr;
    if (record == nullptr || library.LibraryOn == 0 || !IsFaultCode(record->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
    const uintptr_t address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
    if (!InsideModule(address) || IsInsideLibraryWork()) return EXCEPTION_CONTINUE_SEARCH;
    std::unique_ptr<EExternal> object =
        MakeSystemException(record->ExceptionCode, address, record->NumberParameters,
                            reinterpret_cast<const uintptr_t*>(record->ExceptionInformation));
    {
      std::lock_guard<std::mutex> guard(gLastFaultLock);
      gLastFaultMessage = object->Message();
    }
    CONTEXT* context = pointers->ContextRecord;
    {
      const TEndMayFollow endMayFollow;
      CentralNotify(object.get(), address, 0, 0, context != nullptr ? context->Esp : 0, context,
                    const_cast<EXCEPTION_RECORD*>(record), 0, library.Module, 0, 0);
    }
    ForgetHandledObject(object.get());
    // Kept with the fault for the unhandled filter; the thread's code goes on as if no end came
    // (inside an entry the wait is that entry's).
    if (ThreadVars().Busy == 0) {
      {
        std::lock_guard<std::mutex> guard(gLastFaultLock);
        gLastFaultWait = EntryWaitedMs();
      }
      ForgetEntryWait();
    }
  } catch (...) {
    // the search goes on whatever happened here
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

uint32_t CurrentStackPointer() {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
}

// The stack pointer of the caller of the function whose frame address is `frame`, as it is once
// the call has returned (above the return address).
uint32_t CallerStackPointer(void* frame) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(frame)) + 8; }

// Fills the thread's raise context and record for a raise at `address` by a caller whose stack
// pointer is `stackPointer`.
void RecordRaise(TEmberThreadVars& vars, uintptr_t address, uint32_t stackPointer, DWORD code, DWORD flags,
                 DWORD count, const ULONG_PTR* arguments) {
  CONTEXT context;
  std::memset(&context, 0, sizeof(context));
  context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
  RtlCaptureContext(&context);
  context.ContextFlags = 0x10003;
  context.Eip = static_cast<DWORD>(address);
  std::memcpy(vars.RaiseContext, &context, sizeof(context) < sizeof(vars.RaiseContext) ? sizeof(context)
                                                                                        : sizeof(vars.RaiseContext));
  vars.RaiseContextFilled = 1;
  EXCEPTION_RECORD record;
  std::memset(&record, 0, sizeof(record));
  record.ExceptionCode = code;
  record.ExceptionFlags = flags;
  record.ExceptionAddress = reinterpret_cast<void*>(address);
  record.NumberParameters = count > EXCEPTION_MAXIMUM_PARAMETERS ? EXCEPTION_MAXIMUM_PARAMETERS : count;
  for (DWORD i = 0; i < record.NumberParameters && arguments != nullptr; ++i) {
    record.ExceptionInformation[i] = arguments[i];
  }
  std::memcpy(vars.RaiseRecord, &record, sizeof(vars.RaiseRecord));
  vars.RaiseRecordFilled = 1;
  vars.RaiseStackPointer = stackPointer;
  reinterpret_cast<CONTEXT*>(vars.RaiseContext)->Esp = stackPointer;
}

void DelegateRaise(DWORD code, DWORD flags, DWORD count, const ULONG_PTR* arguments) {
  TEmberLibraryGlobals& library = EmberLibrary();
  if (library.Delegating == 0) return;
  using TProc = void (*)(uint32_t, uint32_t, uint32_t, uint32_t, const uintptr_t*);
  auto proc = reinterpret_cast<TProc>(GetModuleEventProc(library.MainModule, "EmberLog_CallGeneralRaise"));
  if (proc != nullptr) proc(code, flags, count, CurrentStackPointer(), reinterpret_cast<const uintptr_t*>(arguments));
}

// --- Replaced kernel32 entries

void WINAPI HookedRaiseException(DWORD code, DWORD flags, DWORD count, const ULONG_PTR* arguments) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  TEmberLibraryGlobals& library = EmberLibrary();
  if (code == EmberThreadNamingCode && count == 4) {
    Real().RaiseException(code, flags, count, arguments);
    return;
  }
  try {
    if (code == EmberDebuggerNotifyCode && flags == 0 && count == 2 && arguments != nullptr &&
        IsReadableMemory(reinterpret_cast<const void*>(arguments[0]), sizeof(CONTEXT)) &&
        reinterpret_cast<const CONTEXT*>(arguments[0])->ContextFlags == 0x1003F && !IsDebuggerPresent()) {
      return;
    }
    if (library.LibraryOn != 0) {
      TEmberThreadVars& vars = ThreadVars();
      RecordRaise(vars, address, CallerStackPointer(__builtin_frame_address(0)), code, flags, count, arguments);
      const std::exception* object = nullptr;
      if (code == EmberRuntimeRaiseCode && flags == 1 && count == 7 && arguments != nullptr) {
        object = reinterpret_cast<const std::exception*>(arguments[1]);
      }
      GeneralRaiseHandler(object, address, 1);
      DelegateRaise(code, flags, count, arguments);
    }
  } catch (...) {
    // the raise itself must go on
  }
  Real().RaiseException(code, flags, count, arguments);
}

void WINAPI HookedRtlUnwind(void* targetFrame, void* targetIp, EXCEPTION_RECORD* record, void* returnValue) {
  try {
    if (EmberLibrary().LibraryOn != 0) {
      TEmberThreadVars& vars = ThreadVars();
      vars.RaiseStackPointer = CurrentStackPointer();
      if (record != nullptr && record->ExceptionCode >= 0xC0000005u && record->ExceptionCode < 0xC000013Bu &&
          record->ExceptionFlags == 2 && !IsInsideLibraryWork()) {
        SaveRaiseStack(vars.RaiseStackPointer);
      }
    }
  } catch (...) {
  }
  Real().RtlUnwind(targetFrame, targetIp, record, returnValue);
}

struct TThreadStart {
  LPTHREAD_START_ROUTINE Start;
  void* Parameter;
};

// Runs the thread's own start routine; nothing escapes into the system.
DWORD WINAPI LibraryThreadStart(void* parameter) {
  TThreadStart start = *static_cast<TThreadStart*>(parameter);
  delete static_cast<TThreadStart*>(parameter);
  DWORD result = 1;
  try {
    result = start.Start(start.Parameter);
  } catch (const std::exception& error) {
    // The thread's own code let it through: it reaches the thread's end unhandled.
    CentralNotify(&error, ThreadVars().RaiseAddress, 1, 0, 0, nullptr, nullptr, 0, EmberLibrary().Module, 2, 0);
    result = 1;
  } catch (...) {
    result = 1;
  }
  try {
    TEmberLibraryGlobals& library = EmberLibrary();
    if (library.LibraryOn != 0 && library.ThreadsList) library.ThreadsList->RemoveCurrentThread();
  } catch (...) {
  }
  return result;
}

DWORD WINAPI HookedResumeThread(HANDLE thread);

HANDLE WINAPI HookedCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                                 void* parameter, DWORD flags, DWORD* threadId) {
  TEmberLibraryGlobals& library = EmberLibrary();
  if (library.LibraryOn == 0 || !library.ThreadsList || start == nullptr) {
    return Real().CreateThread(security, stackSize, start, parameter, flags, threadId);
  }
  TThreadStart* data = nullptr;
  try {
    library.ThreadsList->RemoveDeadThreads();
    data = new TThreadStart{start, parameter};
  } catch (...) {
    return Real().CreateThread(security, stackSize, start, parameter, flags, threadId);
  }
  DWORD id = 0;
  HANDLE handle = Real().CreateThread(security, stackSize, LibraryThreadStart, data, flags | CREATE_SUSPENDED, &id);
  if (handle == nullptr) {
    const DWORD error = GetLastError();
    delete data;
    SetLastError(error);
    return nullptr;
  }
  if (threadId != nullptr) *threadId = id;
  try {
    TEmberThreadsList& threads = *library.ThreadsList;
    threads.BeginWrite();
    TEmberThreadInfo* entry = threads.NewItem(true);
    entry->ThreadID = id;
    entry->Handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
    entry->CallerThreadID = GetCurrentThreadId();
    entry->StartAddress = reinterpret_cast<void*>(start);
    entry->WrapperStart = reinterpret_cast<void*>(&LibraryThreadStart);
    entry->Parameter = parameter;
    TEmberThreadInfo copy = *entry;
    copy.CallerStack = nullptr;
    threads.EndWrite();
    if (library.Delegating != 0) {
      using TProc = void (*)(const TEmberThreadInfo*);
      if (auto proc = reinterpret_cast<TProc>(GetModuleEventProc(library.MainModule, "EmberLog_CallCreateThread"))) {
        proc(&copy);
      }
    }
  } catch (...) {
    // the thread still starts; it is only missing from the list
  }
  if ((flags & CREATE_SUSPENDED) == 0) HookedResumeThread(handle);
  return handle;
}

DWORD WINAPI HookedResumeThread(HANDLE thread) {
  TEmberLibraryGlobals& library = EmberLibrary();
  try {
    if (library.LibraryOn != 0 && library.ThreadsList && ThreadVars().InFreeze == 0) {
      TEmberThreadsList& threads = *library.ThreadsList;
      const uint32_t stackPointer = CurrentStackPointer();
      const uint32_t top = ember_detail::PlatformStackTop();
      threads.BeginWrite();
      int32_t index = threads.IndexOfHandle(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(thread)));
      if (index >= 0) {
        TEmberThreadInfo* entry = threads.GetItem(index);
        entry->CallerThreadID = GetCurrentThreadId();
        if (entry->CallerStack != nullptr && entry->Borrowed == 0) FreeCallerStack(entry->CallerStack);
        entry->CallerStack = nullptr;
        entry->CallerStackSize = 0;
        if (top > stackPointer &&
            IsReadableMemory(reinterpret_cast<const void*>(static_cast<uintptr_t>(stackPointer)), top - stackPointer)) {
          entry->CallerStack = AllocateCallerStack(top - stackPointer);
          std::memcpy(entry->CallerStack, reinterpret_cast<const void*>(static_cast<uintptr_t>(stackPointer)),
                      top - stackPointer);
          entry->CallerStackSize = top - stackPointer;
          entry->Borrowed = 0;
        }
        if (library.Delegating != 0) {
          using TProc = void (*)(uint32_t, const TEmberThreadInfo*);
          if (auto proc = reinterpret_cast<TProc>(GetModuleEventProc(library.MainModule, "EmberLog_CallResumeThread"))) {
            proc(entry->Handle, entry);
          }
        }
      }
      threads.EndWrite();
    }
  } catch (...) {
  }
  return Real().ResumeThread(thread);
}

BOOL WINAPI HookedWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  try {
    if (gIsCgi && buffer != nullptr && size > 0 && file == GetStdHandle(STD_OUTPUT_HANDLE))
      ember_detail::AppendLastHTMLPage(static_cast<const char*>(buffer), size);
  } catch (...) {
  }
  return Real().WriteFile(file, buffer, size, written, overlapped);
}

void WINAPI HookedExitThread(DWORD code) {
  TEmberLibraryGlobals& library = EmberLibrary();
  try {
    if (library.LibraryOn != 0 && library.ThreadsList) library.ThreadsList->RemoveCurrentThread();
    if (library.Delegating != 0 && library.Finalising == 0) {
      using TProc = void (*)();
      if (auto proc = reinterpret_cast<TProc>(GetModuleEventProc(library.MainModule, "EmberLog_CallExitThread"))) {
        proc();
      }
    }
  } catch (...) {
  }
  if (void (*leave)() = ThreadLeave()) leave();
  Real().ExitThread(code);
}

// --- ISAPI extension

using THttpExtensionProc = DWORD(WINAPI*)(EXTENSION_CONTROL_BLOCK*);
using TWriteClient = BOOL(WINAPI*)(HCONN, LPVOID, LPDWORD, DWORD);

// One request the extension serves: its control block, the server's WriteClient and what the
// extension has written so far.
struct TIsapiRequest {
  HCONN Connection;
  EXTENSION_CONTROL_BLOCK* Block;
  TWriteClient ServerWriteClient;
  std::string Written;
};
std::mutex gRequestsLock;
std::vector<TIsapiRequest> gRequests;
// The server's WriteClient seen last: an extension that kept the replaced routine and writes
// after its call has returned (an answer it completes later) still reaches the server.
std::atomic<TWriteClient> gLastServerWriteClient{nullptr};
void* gExtensionProc = nullptr;  // this module's export, while hooked
std::atomic<THttpExtensionProc> gExtensionTrampoline{nullptr};

// The request lists belong to the library: the leak tracker leaves them alone.
struct TLibraryAllocations {
  TLibraryAllocations() { ++ThreadVars().Untracked; }
  ~TLibraryAllocations() { --ThreadVars().Untracked; }
};

// Takes the place of the server's WriteClient while the extension serves a request: what the
// extension writes becomes the last page, then goes on to the server.
BOOL WINAPI LibraryWriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD reserved) {
  TWriteClient serverWrite = nullptr;
  try {
    TLibraryAllocations own;
    const bool keep = ThreadVars().WritingAnswer == 0 && buffer != nullptr && bytes != nullptr &&
                      IsReadableMemory(bytes, sizeof *bytes) && *bytes > 0 && IsReadableMemory(buffer, *bytes);
    std::lock_guard<std::mutex> guard(gRequestsLock);
    for (TIsapiRequest& request : gRequests) {
      if (request.Connection != connection) continue;
      serverWrite = request.ServerWriteClient;
      if (keep) {
        request.Written.append(static_cast<const char*>(buffer), *bytes);
        ember_detail::SetLastHTMLPage(request.Written);
      }
      break;
    }
  } catch (...) {
    // the text still goes to the server when its routine is known
  }
  if (serverWrite == nullptr) serverWrite = gLastServerWriteClient.load();
  if (serverWrite == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return serverWrite(connection, buffer, bytes, reserved);
}

// Takes the place of the module's HttpExtensionProc: the request's control block is kept and its
// WriteClient replaced for the call; an exception that leaves the extension is processed here
// (the answer is the error page) and never reaches the server.
DWORD WINAPI LibraryHttpExtensionProc(EXTENSION_CONTROL_BLOCK* block) {
  const THttpExtensionProc extension = gExtensionTrampoline.load();
  if (extension == nullptr) return HSE_STATUS_ERROR;
  TEmberThreadVars& vars = ThreadVars();
  void* const outer = vars.ControlBlock;
  TWriteClient serverWrite = nullptr;
  try {
    if (EmberLibrary().LibraryOn != 0 && block != nullptr && IsReadableMemory(block, sizeof *block) &&
        block->WriteClient != nullptr && block->WriteClient != &LibraryWriteClient) {
      TLibraryAllocations own;
      std::lock_guard<std::mutex> guard(gRequestsLock);
      gRequests.push_back(TIsapiRequest{block->ConnID, block, block->WriteClient, std::string()});
      serverWrite = block->WriteClient;
      gLastServerWriteClient = serverWrite;
      block->WriteClient = &LibraryWriteClient;
    }
    vars.ControlBlock = block;
  } catch (...) {
    // the request is served without the page being kept
  }
  DWORD status = HSE_STATUS_ERROR;
  try {
    status = extension(block);
  } catch (const std::exception& error) {
    HandleCaughtException(&error, 0);
    status = HSE_STATUS_ERROR;
  } catch (...) {
    status = HSE_STATUS_ERROR;
  }
  try {
    if (serverWrite != nullptr) {
      TLibraryAllocations own;
      std::lock_guard<std::mutex> guard(gRequestsLock);
      for (size_t i = 0; i < gRequests.size(); ++i) {
        if (gRequests[i].Block != block) continue;
        gRequests.erase(gRequests.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
      // The block is the server's again: a write the extension makes later goes straight there.
      if (block->WriteClient == &LibraryWriteClient) block->WriteClient = serverWrite;
    }
  } catch (...) {
  }
  vars.ControlBlock = outer;
  return status;
}

// Wraps the module's own HttpExtensionProc when it exports one.
void HookExtensionProc(uintptr_t module) {
  void* proc = reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), "HttpExtensionProc"));
  // A forwarded export is another module's routine.
  if (proc == nullptr || !InsideModule(reinterpret_cast<uintptr_t>(proc))) return;
  try {
    gExtensionTrampoline = reinterpret_cast<THttpExtensionProc>(
        HookProcedure(proc, reinterpret_cast<void*>(&LibraryHttpExtensionProc), "HttpExtensionProc"));
    gExtensionProc = proc;
  } catch (...) {
    gExtensionTrampoline = nullptr;
  }
}

void UnhookExtensionProc() {
  if (gExtensionProc == nullptr) return;
  try {
    UnhookProcedure(gExtensionProc);
  } catch (...) {
  }
  gExtensionProc = nullptr;
  gExtensionTrampoline = nullptr;
  std::lock_guard<std::mutex> guard(gRequestsLock);
  gRequests.clear();
}

// --- Unhandled exceptions

// The runtime's unhandled-exception procedure: a throw that nothing catches, or one that leaves
// a function that may not raise. The exception is processed as the thread's own (unless it was
// at its raise, or the thread is inside the library's work, which then ends first); then the
// library's work the thread had under way is completed without the program's handlers
// (TThreadEndWork: a send's report goes out, the lock is given back, a faulting thread's worker
// ends), and only then does the thread end (the process, on the main thread).
[[noreturn]] void LibraryTerminate() {
  TEmberThreadVars& vars = ThreadVars();
  // A terminate inside this handler (a handler of the program that runs while the exception is
  // processed) processes nothing more: it completes the work and ends the thread.
  const bool first = vars.Terminating == 0;
  vars.Terminating = 1;
  try {
    std::exception_ptr pending = first ? std::current_exception() : std::exception_ptr();
    const std::exception* object = nullptr;
    bool processed = true;
    const auto processPending = [&] {
      // Inside an entry it waits for that entry's end (the work below ends it).
      if (processed || IsInsideLibraryWork() || vars.Busy != 0) return;
      processed = true;
      // One processed at its raise (handled exceptions processed in the main thread) was
      // reported already; the end counts the wait of that entry.
      if (IsObjectNotListed(object))
        CentralNotify(object, vars.RaiseAddress, 1, 0, 0, nullptr, nullptr, 0, EmberLibrary().Module, 0, 0);
      else
        SetEntryWait(EntryWaitOfEnded(object));
    };
    if (pending) {
      try {
        std::rethrow_exception(pending);
      } catch (const std::exception& error) {
        object = &error;  // kept alive by `pending` after this block
        processed = false;
        // Inside the block, so that its end does not count as the program's handling.
        processPending();
      } catch (...) {
      }
    }
    // An end with no exception object had no entry: an earlier entry's wait is not its own.
    if (first && object == nullptr) ForgetEntryWait();
    // No code of the program runs on this thread any more: what the library still does here is
    // its own work.
    vars.ProgramCodeEnded = 1;
    vars.ProgramCode = 0;
    while (RunThreadEndWork()) processPending();
    // What the program's code let in while an entry was under way here, now that none is.
    ProcessKeptExceptions(true);
  } catch (...) {
  }
  try {
    vars.ProgramCodeEnded = 1;
    vars.ProgramCode = 0;
    while (RunThreadEndWork()) {
    }
    EmberLibrary().LibraryLock.UnlockAll();
  } catch (...) {
  }
  if (GetCurrentThreadId() == EmberLibrary().MainThreadID) {
    // The reports still being sent in the background (this thread's exception's among them) go
    // out first: the process's end would cut their threads short.
    RunBeforeProcessEnd();
    ExitProcess(1);
  }
  if (void (*leave)() = ThreadLeave()) leave();
  (Real().ExitThread != nullptr ? Real().ExitThread : ::ExitThread)(1);
  RunBeforeProcessEnd();
  ExitProcess(1);
}

// The last chance: an exception of this module's code that no handler took. One already
// reported when it was raised (same message) is not reported again; the process's own filter
// then decides how the process ends.
LONG WINAPI LibraryUnhandledFilter(EXCEPTION_POINTERS* pointers) {
  bool ours = false;
  try {
    EXCEPTION_RECORD* record = pointers != nullptr ? pointers->ExceptionRecord : nullptr;
    const uintptr_t address = record != nullptr ? reinterpret_cast<uintptr_t>(record->ExceptionAddress) : 0;
    ours = record != nullptr && InsideModule(address);
    if (ours) {
      std::unique_ptr<EExternal> object =
          MakeSystemException(record->ExceptionCode, address, record->NumberParameters,
                              reinterpret_cast<const uintptr_t*>(record->ExceptionInformation));
      bool seen;
      int64_t seenWait = 0;
      {
        std::lock_guard<std::mutex> guard(gLastFaultLock);
        seen = object->Message() == gLastFaultMessage;
        seenWait = gLastFaultWait;
        gLastFaultMessage = object->Message();
      }
      if (!seen) {
        CONTEXT* context = pointers->ContextRecord;
        const TEndMayFollow endMayFollow;
        CentralNotify(object.get(), address, 0, 0, context != nullptr ? context->Esp : 0, context, record, 0,
                      EmberLibrary().Module, 0, 0);
        ForgetHandledObject(object.get());
      } else {
        // Processed as it was dispatched: the end that follows counts that entry's wait.
        SetEntryWait(seenWait);
      }
    }
  } catch (...) {
  }
  // Unhandled: the process ends unless a filter before this library's lets it go on. For a fault
  // of this module, the reports still being sent in the background (this fault's among them,
  // which the fault handler may have processed already) go out first: the end would cut their
  // threads short. A fault elsewhere is not waited on: it may have left the process's heaps
  // locked, which a send needs.
  if (ours) {
    RunBeforeProcessEnd(false);
    if (ThreadVars().Busy == 0) ForgetEntryWait();  // the process may go on
  }
  if (gOldFilter != nullptr) return gOldFilter(pointers);
  return EXCEPTION_CONTINUE_SEARCH;
}

// --- Import hooks of this module

struct TImportHook {
  const char* Name;
  void* Replacement;
  void** RealSlot;
  bool Hooked;
};

TImportHook gImportHooks[] = {
    {"RaiseException", reinterpret_cast<void*>(&HookedRaiseException), reinterpret_cast<void**>(&Real().RaiseException), false},
    {"RtlUnwind", reinterpret_cast<void*>(&HookedRtlUnwind), reinterpret_cast<void**>(&Real().RtlUnwind), false},
    {"CreateThread", reinterpret_cast<void*>(&HookedCreateThread), reinterpret_cast<void**>(&Real().CreateThread), false},
    {"ResumeThread", reinterpret_cast<void*>(&HookedResumeThread), reinterpret_cast<void**>(&Real().ResumeThread), false},
    {"ExitThread", reinterpret_cast<void*>(&HookedExitThread), reinterpret_cast<void**>(&Real().ExitThread), false},
    {"WriteFile", reinterpret_cast<void*>(&HookedWriteFile), reinterpret_cast<void**>(&Real().WriteFile), false},
};

// The module unloads with the library still attached: a host thread was killed inside the last
// close, or inside an open no close followed, and nothing of the library ran after it to finish
// that work. The handlers the process calls for every exception are taken out, or the host's
// next one would call the freed image.
struct TProcessHandlersAtUnload {
  ~TProcessHandlersAtUnload() {
    if (PVOID handler = std::exchange(gFaultHandler, nullptr)) RemoveVectoredExceptionHandler(handler);
    if (!std::exchange(gFilterInstalled, false)) return;
    LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(gOldFilter);
    if (current != &LibraryUnhandledFilter) SetUnhandledExceptionFilter(current);  // not ours to put back
  }
} gProcessHandlersAtUnload;

}  // namespace

// --- The runtime's throw

extern "C" [[noreturn]] void __real___cxa_throw(void* object, std::type_info* type, void (*destructor)(void*));

// Every C++ throw of the module enters here first (the module links with --wrap=__cxa_throw).
extern "C" [[noreturn]] void __wrap___cxa_throw(void* object, std::type_info* type, void (*destructor)(void*)) {
  if (gThrowHookOn.load() && EmberLibrary().LibraryOn != 0) {
    try {
      const uintptr_t address = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
      const std::exception* error = nullptr;
      void* adjusted = object;
      if (type != nullptr && typeid(std::exception).__do_catch(type, &adjusted, 1)) {
        error = static_cast<const std::exception*>(adjusted);
      }
      // A new object: whatever was listed at its address belonged to an exception that is over.
      ForgetHandledObject(object);
      ForgetHandledObject(error);
      TEmberThreadVars& vars = ThreadVars();
      const ULONG_PTR arguments[2] = {address, reinterpret_cast<ULONG_PTR>(error)};
      RecordRaise(vars, address, CallerStackPointer(__builtin_frame_address(0)), EmberRuntimeRaiseCode, 1, 2,
                  arguments);
      if (error != nullptr) GeneralRaiseHandler(error, address, 1);
    } catch (...) {
      // the throw goes on whatever happened here
    }
  }
  __real___cxa_throw(object, type, destructor);
}

extern "C" [[noreturn]] void __real___cxa_rethrow();

// Every rethrow ("throw;") of the module enters here first: the caught object is raised again
// at the rethrowing call, and the catch block it leaves has not handled it.
extern "C" [[noreturn]] void __wrap___cxa_rethrow() {
  if (gThrowHookOn.load() && EmberLibrary().LibraryOn != 0) {
    try {
      TEmberThreadVars& vars = ThreadVars();
      const int32_t depth = vars.CatchDepth;
      const std::exception* error = nullptr;
      if (depth > 0 && depth <= TEmberThreadVars::MaxCatchDepth) {
        vars.Rethrown[depth - 1] = true;
        error = vars.Caught[depth - 1];
      }
      if (error != nullptr) {
        const uintptr_t address = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
        const ULONG_PTR arguments[2] = {address, reinterpret_cast<ULONG_PTR>(error)};
        RecordRaise(vars, address, CallerStackPointer(__builtin_frame_address(0)), EmberRuntimeRaiseCode, 1, 2,
                    arguments);
        // The same object: one processed already stays listed and is not processed again.
        GeneralRaiseHandler(error, address, 1);
      }
    } catch (...) {
      // the rethrow goes on whatever happened here
    }
  }
  __real___cxa_rethrow();
}

extern "C" void __real___cxa_free_exception(void* object);
extern "C" void* __real___cxa_begin_catch(void* header);
extern "C" void __real___cxa_end_catch();

// The runtime frees a thrown object here: its address leaves the handled-objects list.
extern "C" void __wrap___cxa_free_exception(void* object) {
  if (gThrowHookOn.load()) ForgetHandledObject(object);
  __real___cxa_free_exception(object);
}

// The start and the end of every catch block: the object handled there is kept per thread, so
// that the end of the block can report it (DoneExcept).
extern "C" void* __wrap___cxa_begin_catch(void* header) {
  void* object = __real___cxa_begin_catch(header);
  if (gThrowHookOn.load()) {
    TEmberThreadVars& vars = ThreadVars();
    const std::exception* error = nullptr;
    std::type_info* type = abi::__cxa_current_exception_type();
    void* adjusted = object;
    if (object != nullptr && type != nullptr && typeid(std::exception).__do_catch(type, &adjusted, 1))
      error = static_cast<const std::exception*>(adjusted);
    if (vars.CatchDepth >= 0 && vars.CatchDepth < TEmberThreadVars::MaxCatchDepth) {
      vars.Caught[vars.CatchDepth] = error;
      vars.Rethrown[vars.CatchDepth] = false;
    }
    ++vars.CatchDepth;
  }
  return object;
}

extern "C" void __wrap___cxa_end_catch() {
  if (gThrowHookOn.load()) {
    TEmberThreadVars& vars = ThreadVars();
    if (vars.CatchDepth > 0) {
      --vars.CatchDepth;
      if (vars.CatchDepth < TEmberThreadVars::MaxCatchDepth) {
        const std::exception* error = vars.Caught[vars.CatchDepth];
        const bool rethrown = vars.Rethrown[vars.CatchDepth];
        vars.Caught[vars.CatchDepth] = nullptr;
        vars.Rethrown[vars.CatchDepth] = false;
        try {
          // A block left by a rethrow did not handle its object: the block that catches it next does.
          if (error != nullptr && !rethrown && EmberLibrary().LibraryOn != 0) DoneExcept(error);
        } catch (...) {
        }
      }
    }
  }
  __real___cxa_end_catch();
}

extern "C" const std::exception* EmberLog_CallExceptObject(void* exceptionRecord, void* context, uint8_t force) {
  TEmberLibraryGlobals& library = EmberLibrary();
  if (library.LibraryOn == 0) return nullptr;
  try {
    TEmberThreadVars& vars = ThreadVars();
    if (exceptionRecord != nullptr && IsReadableMemory(exceptionRecord, 80)) {
      std::memcpy(vars.RaiseRecord, exceptionRecord, 80);
      vars.RaiseRecordFilled = 1;
    }
    std::memset(vars.RaiseContext, 0, sizeof(vars.RaiseContext));
    if (context != nullptr && IsReadableMemory(context, 204)) std::memcpy(vars.RaiseContext, context, 204);
    reinterpret_cast<CONTEXT*>(vars.RaiseContext)->ContextFlags = 0x10003;
    vars.RaiseContextFilled = 1;
    const auto* record = static_cast<const EXCEPTION_RECORD*>(exceptionRecord);
    const bool naming = record != nullptr && vars.RaiseRecordFilled && record->ExceptionCode == EmberThreadNamingCode &&
                        record->NumberParameters == 4;
    const bool mainStartStop = GetCurrentThreadId() == library.MainThreadID &&
                               (library.Initialising != 0 || library.Finalising != 0);
    if (mainStartStop) {
      SaveRaiseStack(CurrentStackPointer());
    } else if (force != 0 && !naming && record != nullptr) {
      GeneralRaiseHandler(nullptr, reinterpret_cast<uintptr_t>(record->ExceptionAddress), 0);
    }
    if (library.Delegating != 0) {
      using TProc = const std::exception* (*)(void*, void*, uint8_t);
      if (auto proc = reinterpret_cast<TProc>(GetModuleEventProc(library.MainModule, "EmberLog_CallExceptObject"))) {
        proc(exceptionRecord, context, force);
      }
    }
  } catch (...) {
  }
  // This runtime makes no object for a system exception record.
  return nullptr;
}

// --- The entry's frame

int TExceptionEntryLock::Handle(void* record, void* frame, void*, void*) noexcept {
  const auto* exception = static_cast<const EXCEPTION_RECORD*>(record);
  if (exception != nullptr && (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0)
    static_cast<TRegistration*>(frame)->Entry->LeftByUnwind();
  return ExceptionContinueSearch;
}

// --- Modules

void* GetModuleEventProc(uintptr_t module, const char* name) {
  TEmberLibraryGlobals& library = EmberLibrary();
  if (name == nullptr) return nullptr;
  if (module == 0) {
    HMODULE found = nullptr;
    const uintptr_t address = library.CurrentException.ExceptionAddress;
    if (address == 0 || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                            reinterpret_cast<LPCSTR>(address), &found)) {
      return nullptr;
    }
    module = reinterpret_cast<uintptr_t>(found);
  }
  if (module == 0 || module == library.Module) return nullptr;
  HMODULE handle = reinterpret_cast<HMODULE>(module);
  // A module carries the library when it exports its entries; library data of an older
  // version than this one means entry points of another shape.
  if (GetProcAddress(handle, "EmberLog_LastDorvelException") == nullptr) return nullptr;
  try {
    if (GetLibraryVersion(module) != 0 && !HasCurrentLibraryData(module)) return nullptr;
  } catch (...) {
    return nullptr;
  }
  return reinterpret_cast<void*>(GetProcAddress(handle, name));
}

namespace ember_detail {

uint32_t PlatformStackTop() {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(reinterpret_cast<NT_TIB*>(NtCurrentTeb())->StackBase));
}

uint32_t PlatformStackPointer() { return CurrentStackPointer(); }

bool PlatformIsMainModuleDll() {
  const uintptr_t module = GetThisModuleHandle();
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  if (module == 0 || dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(module + dos->e_lfanew);
  return (nt->FileHeader.Characteristics & IMAGE_FILE_DLL) != 0;
}

bool PlatformIsReadable(const void* address, uint32_t size) { return IsReadableMemory(address, size); }

uint32_t PlatformProcessID() { return GetCurrentProcessId(); }

uint32_t PlatformLastError() { return GetLastError(); }
void PlatformSetLastError(uint32_t error) { SetLastError(error); }
void PlatformRaiseThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST); }

namespace {
BOOL CALLBACK NoteAWindow(HWND, LPARAM found) {
  *reinterpret_cast<BOOL*>(found) = TRUE;
  return FALSE;  // one is enough
}
}  // namespace

bool PlatformHasMessageQueue() {
  // Only a thread with windows can be sent messages. Asking whether it is a GUI thread does not
  // tell (some systems answer yes for every thread), and looking at its queue would give it one.
  BOOL any = FALSE;
  EnumThreadWindows(GetCurrentThreadId(), &NoteAWindow, reinterpret_cast<LPARAM>(&any));
  return any != FALSE;
}

void PlatformWaitAnsweringSent(uint32_t milliseconds) {
  // A wait inside a window procedure that answers a message another thread sent: that thread
  // may be the one this wait is for (a send's handler asking the window, whose answer raised
  // into the library), so it gets its answer (0) now rather than after the wait.
  if (InSendMessage()) ReplyMessage(0);
  MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_SENDMESSAGE);
  // Dispatches the messages sent to this thread's windows; the filter takes no posted message.
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

uintptr_t PlatformHoldThread(uintptr_t thread) {
  HANDLE held = nullptr;
  if (thread == 0 || !DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(thread), GetCurrentProcess(), &held,
                                      SYNCHRONIZE, FALSE, 0))
    return 0;
  return reinterpret_cast<uintptr_t>(held);
}

uintptr_t PlatformHoldCurrentThread() {
  HANDLE held = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &held, SYNCHRONIZE, FALSE, 0))
    return 0;
  return reinterpret_cast<uintptr_t>(held);
}

uintptr_t PlatformHoldStdThread(std::thread& thread) {
  return thread.joinable() ? PlatformHoldThread(reinterpret_cast<uintptr_t>(pthread_gethandle(thread.native_handle())))
                           : 0;
}

// A kernel mutex: the system tells its next owner when the thread that held it ended without
// giving it back, and a thread with windows can wait for it answering what is sent to them.
uintptr_t PlatformCreateLockObject() { return reinterpret_cast<uintptr_t>(CreateMutexA(nullptr, FALSE, nullptr)); }

void PlatformDestroyLockObject(uintptr_t object) {
  if (object != 0) CloseHandle(reinterpret_cast<HANDLE>(object));
}

namespace {
TLockWait LockWaitOf(DWORD result) {
  if (result == WAIT_OBJECT_0) return TLockWait::Taken;
  if (result == WAIT_ABANDONED) return TLockWait::Abandoned;
  return TLockWait::TimedOut;
}
}  // namespace

TLockWait PlatformWaitLockObject(uintptr_t object, uint32_t milliseconds, bool answering) {
  HANDLE lock = reinterpret_cast<HANDLE>(object);
  if (lock == nullptr) {
    // No object could be made (the process is out of handles): the next slice tries again.
    Sleep(milliseconds);
    return TLockWait::TimedOut;
  }
  if (!answering) return LockWaitOf(WaitForSingleObject(lock, milliseconds));
  // As PlatformWaitAnsweringSent: a thread that sent to this one inside its answer gets it first.
  if (InSendMessage()) ReplyMessage(0);
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    const DWORD result =
        MsgWaitForMultipleObjects(1, &lock, FALSE, elapsed < milliseconds ? milliseconds - elapsed : 0, QS_SENDMESSAGE);
    if (result != WAIT_OBJECT_0 + 1) return LockWaitOf(result);
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    if (GetTickCount() - start >= milliseconds) return LockWaitOf(WaitForSingleObject(lock, 0));
  }
}

void PlatformReleaseLockObject(uintptr_t object) {
  if (object != 0) ReleaseMutex(reinterpret_cast<HANDLE>(object));
}

bool PlatformThreadEnded(uintptr_t held) {
  return held != 0 && WaitForSingleObject(reinterpret_cast<HANDLE>(held), 0) == WAIT_OBJECT_0;
}

void PlatformReleaseThread(uintptr_t held) {
  if (held != 0) CloseHandle(reinterpret_cast<HANDLE>(held));
}

bool PlatformLoadOwnOptions(TEmberModuleOptions& options, uint8_t& leakFlags) {
  const uintptr_t module = GetThisModuleHandle();
  TEmberLibraryData data;
  TELImageView view;
  leakFlags = 0;
  if (GetELModuleResource(module, "ELDATA", view) && ReadLibraryDataResource(view.Data, view.Size, true, options, data)) {
    leakFlags = data.Flags[0];
    const uintptr_t main = reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr));
    TELImageView mainView;
    TEmberModuleOptions mainOptions;
    TEmberLibraryData mainData;
    if (data.Flags[1] != 0 && main != module && GetELModuleResource(main, "ELDATA", mainView) &&
        ReadLibraryDataResource(mainView.Data, mainView.Size, true, mainOptions, mainData))
      leakFlags = mainData.Flags[0];
    return true;
  }
  if (ReadAppendedLibraryData(GetELModuleFileName(module), true, options, data)) return true;
  std::unique_ptr<TELDebugInfoSource> source;
  return CreateDebugInfoSource(module, source);
}

void PlatformFocusedControl(TExceptNotifyParams& params) {
  HWND focus = GetFocus();
  params.FocusWindow = reinterpret_cast<uintptr_t>(focus);
  params.Cursor = reinterpret_cast<uintptr_t>(GetCursor());
  if (focus == nullptr) return;
  // GetFocus answers only windows of this thread: their texts are read without waiting for
  // another thread.
  char name[257] = {};
  int length = GetClassNameA(focus, name, 256);
  params.ActiveControlClass.assign(name, length > 0 ? static_cast<size_t>(length) : 0);
  char text[1025] = {};
  length = GetWindowTextA(focus, text, 1024);
  params.ActiveControlText.assign(text, length > 0 ? static_cast<size_t>(length) : 0);
  const bool edit = lstrcmpiA(name, "Edit") == 0 || lstrcmpiA(name, "TEdit") == 0 || lstrcmpiA(name, "TMemo") == 0;
  if (edit && (GetWindowLongA(focus, GWL_STYLE) & ES_PASSWORD) != 0)
    params.ActiveControlText.assign(params.ActiveControlText.size(), '*');
}

void PlatformPumpMessages(bool allowDispatch) {
  if (!allowDispatch) return;
  MSG message;
  for (int32_t i = 0; i < 11 && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
    const UINT id = message.message;
    const bool input = (id >= 256 && id <= 258) || (id >= 260 && id <= 262) || (id >= 513 && id <= 521) ||
                       (id >= 161 && id <= 169);
    if (input) {
      MessageBeep(0);
      continue;
    }
    if (id == WM_QUIT) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void PlatformCaptureRaiseContext(TEmberThreadVars& vars, uintptr_t address) {
  RecordRaise(vars, address, CurrentStackPointer(), EmberRuntimeRaiseCode, 1, 0, nullptr);
}

void PlatformAttach() {
  TEmberLibraryGlobals& library = EmberLibrary();
  HANDLE duplicate = nullptr;
  if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &duplicate, 0x4A, FALSE, 0)) {
    library.MainThreadHandle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(duplicate));
    if (library.ThreadsList) {
      library.ThreadsList->BeginWrite();
      int32_t index = library.ThreadsList->IndexOfThreadID(library.MainThreadID);
      if (index >= 0) library.ThreadsList->GetItem(index)->Handle = library.MainThreadHandle;
      library.ThreadsList->EndWrite();
    }
  }
  library.MainModule = reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr));
  library.Delegating = 0;
  if (library.MainModule != library.Module) {
    try {
      HMODULE main = reinterpret_cast<HMODULE>(library.MainModule);
      library.Delegating = (HasCurrentLibraryData(library.MainModule) &&
                            GetProcAddress(main, "EmberLog_LastDorvelException") != nullptr)
                               ? 1
                               : 0;
    } catch (...) {
      library.Delegating = 0;
    }
  }
  library.OwnRuntimeHooks = 1;  // the C++ runtime is linked into every module statically
  TELImageView image;
  if (GetELModuleImage(library.Module, image)) {
    gModuleStart = library.Module;
    gModuleEnd = library.Module + image.Size;
  }
  for (TImportHook& hook : gImportHooks) {
    void* real = reinterpret_cast<void*>(Kernel32Proc(hook.Name));
    *hook.RealSlot = real;
    if (real == nullptr) continue;
    try {
      hook.Hooked = HookImportInModule(reinterpret_cast<void*>(library.Module), "kernel32.dll", real, true, true,
                                       hook.Name, hook.Replacement) != nullptr;
    } catch (...) {
      hook.Hooked = false;
    }
  }
  HookExtensionProc(library.Module);
  char method[8];
  gIsCgi = GetEnvironmentVariableA("REQUEST_METHOD", method, sizeof method) > 0 && IsConsoleProgram();
  gOldTerminate = std::set_terminate(&LibraryTerminate);
  if (!gFilterChainedOver) {
    gOldFilter = SetUnhandledExceptionFilter(&LibraryUnhandledFilter);
    gFilterInstalled = true;
  }
  gFaultHandler = AddVectoredExceptionHandler(1, &ModuleFaultHandler);
  gThrowHookOn = true;
}

// Each step may run again: a detachment cut short (its thread killed) is done again by the next.
void PlatformDetach() {
  TEmberLibraryGlobals& library = EmberLibrary();
  gThrowHookOn = false;
  if (PVOID handler = std::exchange(gFaultHandler, nullptr)) RemoveVectoredExceptionHandler(handler);
  if (gFilterInstalled) {
    LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(gOldFilter);
    // The old filter on top already: put back by a detachment cut short right after.
    if (current != &LibraryUnhandledFilter && current != gOldFilter) {
      // A filter installed after this library's stays on top, and may call this one in turn.
      SetUnhandledExceptionFilter(current);
      gFilterChainedOver = true;
      HMODULE pinned = nullptr;
      GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                         reinterpret_cast<LPCSTR>(&LibraryUnhandledFilter), &pinned);
    } else {
      gOldFilter = nullptr;
    }
    gFilterInstalled = false;
  }
  std::set_terminate(gOldTerminate);
  gOldTerminate = nullptr;
  UnhookExtensionProc();
  for (TImportHook& hook : gImportHooks) {
    if (!hook.Hooked) continue;
    try {
      HookImportInModule(reinterpret_cast<void*>(library.Module), "kernel32.dll", hook.Replacement, true, true,
                         hook.Name, *hook.RealSlot);
    } catch (...) {
    }
    hook.Hooked = false;
  }
  if (const uint32_t handle = std::exchange(library.MainThreadHandle, 0))
    CloseHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle)));
}

}  // namespace ember_detail
