// The exception library's global state, the raise handler, the central notification and
// start-up and shut-down (the portable half; hooks live in win32/ExceptionLog.cpp).
#include "ExceptionLog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <cstring>
#include <optional>
#include <set>
#include <thread>
#include <typeinfo>
#include <utility>

#include "ECallStack.h"
#include "EFreezeWatch.h"
#include "ELeaks.h"
#include "EmberLogEvents.h"
#include "classlib/MemoryManager.h"
#include "classlib/SysUtils.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberSharedMemory.h"

const char* const EmberSafeCallPrefix = "[SafeCall Exception]: ";

namespace {

std::atomic<TEmberProcessExceptionProc> gProcessProc{nullptr};

// What the worker processes for a faulting thread, and what it answers. Shared by the two, so
// that neither depends on the other's stack: the faulting thread may be killed, or unwound past
// its entry, while the worker goes on.
struct TWorkerJob {
  TEmberNotifyArgs Args;
  std::atomic<bool> Running{true};
  std::atomic<uint8_t> Result{1};
  std::atomic<uintptr_t> Worker{0};  // the faulting thread's handle on the worker
};

// Processing of the current exception: who waits for whom. The posted call's slot takes no lock:
// a thread killed in the middle of it leaves no one waiting.
struct TProcessingState {
  std::atomic<bool> Active{false};                // an exception is being processed
  std::atomic<uint32_t> FaultingThread{0};
  // A handle on the faulting thread, and whether it left its entry (an unwind past it): the
  // worker runs no more calls for a faulting thread that is gone.
  std::atomic<uintptr_t> FaultingHandle{0};
  std::atomic<bool> FaultingGone{false};
  std::atomic<const std::function<void()>*> PostedCall{nullptr};
  std::atomic<bool> PostedDone{false};
  std::atomic<bool> DialogShowing{false};
  // The processing under way on a worker (under the library lock): a holder that takes the lock
  // over waits for it.
  std::shared_ptr<TWorkerJob> Job;
};
TProcessingState& Processing() {
  static TProcessingState state;
  return state;
}

std::set<const void*>& HandledObjects() {
  static std::set<const void*> objects;
  return objects;
}

std::atomic<bool> gStarted{false};
std::atomic<TEmberMainWindowFinder> gMainWindowFinder{nullptr};

std::mutex& LastPageLock() {
  static std::mutex lock;
  return lock;
}
std::string& LastPage() {
  static std::string page;
  return page;
}

// The library runs the program's code (a handler, a window's answer): what it hands over is an
// exception of the program, also when the library's own work (a send, a processing waiting for
// its worker) calls it.
class TProgramCode {
 public:
  TProgramCode() : vars_(ThreadVars()), saved_(vars_.LibraryWork) {
    vars_.LibraryWork = 0;
    ++vars_.ProgramCode;
  }
  ~TProgramCode() {
    --vars_.ProgramCode;
    vars_.LibraryWork = saved_;
  }
  TProgramCode(const TProgramCode&) = delete;
  TProgramCode& operator=(const TProgramCode&) = delete;

 private:
  TEmberThreadVars& vars_;
  const uint8_t saved_;
};

void FinishPostedCall() { Processing().PostedDone = true; }

// The call is taken out of the slot first: the worker takes back only a call no one runs.
void RunPostedCall() {
  TProcessingState& state = Processing();
  const std::function<void()>* call = state.PostedCall.exchange(nullptr);
  if (call == nullptr) return;
  {
    const TOnThreadEnd done([] { FinishPostedCall(); });
    // The program's handlers run no more on a thread whose code the runtime ended.
    if (ThreadVars().ProgramCodeEnded == 0) {
      const TEmberParked parked;
      const TProgramCode programCode;
      try {
        (*call)();
      } catch (...) {
        // A handler's failure must not stop the faulting thread's wait. It is the program's
        // exception: ended here, in the program's code, this catch reports it as a handled one
        // (BehaviourOptions 0x0100), as SynchronizeExceptionCall does on its own thread.
      }
    }
  }
  FinishPostedCall();
}

// The faulting thread will run no call any more: it ended (killed) or left its entry.
bool FaultingThreadGone() {
  TProcessingState& state = Processing();
  return state.FaultingGone || ember_detail::PlatformThreadEnded(state.FaultingHandle);
}

void ReleaseHeld(std::atomic<uintptr_t>& held) { ember_detail::PlatformReleaseThread(held.exchange(0)); }

bool IsReadable(const void* address, uint32_t size) {
  return address != nullptr && ember_detail::PlatformIsReadable(address, size);
}

}  // namespace

// --- State

TEmberThreadVars& ThreadVars() {
  thread_local TEmberThreadVars vars;
  return vars;
}

bool IsInsideLibraryWork() {
  const TEmberThreadVars& vars = ThreadVars();
  return (vars.Busy != 0 || vars.LibraryWork != 0) && vars.ProgramCode == 0;
}

TEmberLibraryGlobals& EmberLibrary() {
  static TEmberLibraryGlobals globals;
  return globals;
}

// --- The library lock and its heirs

namespace {
// How often the calling thread holds the library lock (one library lock per module), and the
// system object it holds.
thread_local int32_t tLibraryLockHeld = 0;
thread_local uintptr_t tLibraryLockObject = 0;
// How long the calling thread's last entry waited for the lock's holder or heir (a send); 0 when
// it took the lock at once.
thread_local int64_t tEntryWaited = 0;
// A waiter looks at the holder again after each slice.
constexpr uint32_t kLockSliceMs = 50;
std::atomic<TEmberLockTakeOver> gTakeOver{nullptr};
std::atomic<TEmberAttachmentHeir> gAttachmentHeir{nullptr};
std::atomic<TEmberLockHolderJudge> gHolderJudge{nullptr};

// At most one background send waits for the lock at a time; the table has room for more, and
// lives in static storage so that nothing of it is left for the leak report. It takes no lock of
// its own: a thread killed while it looked at it leaves no one waiting.
struct TLockHeir {
  std::atomic<int32_t> Id{0};          // 0: a free slot
  std::atomic<uintptr_t> Thread{0};    // a handle of the library's own on the heir's thread; 0: not known
};
constexpr int32_t kHeirSlots = 16;
TLockHeir gHeirs[kHeirSlots];
std::atomic<int32_t> gLastHeirId{0};

void FreeHeirSlot(TLockHeir& heir, int32_t id) {
  ember_detail::PlatformReleaseThread(heir.Thread.exchange(0));
  heir.Id.compare_exchange_strong(id, 0);
}

bool TakeOverLibraryWork();
void RunPutOffClose();
void LeavePutOffCloseToOthers();
void EndEntryWait(const void* object);
void TakeOverWorker();
}  // namespace

void SetLibraryLockTakeOver(TEmberLockTakeOver proc) { gTakeOver = proc; }
void SetAttachmentHeir(TEmberAttachmentHeir proc) { gAttachmentHeir = proc; }
void SetLockHolderJudge(TEmberLockHolderJudge judge) { gHolderJudge = judge; }

TEmberLibraryLock::~TEmberLibraryLock() { ember_detail::PlatformDestroyLockObject(object_.exchange(0)); }

uintptr_t ember_detail::LockObjectIn(std::atomic<uintptr_t>& slot) {
  uintptr_t object = slot.load();
  if (object != 0) return object;
  const uintptr_t made = PlatformCreateLockObject();
  if (slot.compare_exchange_strong(object, made)) return made;
  PlatformDestroyLockObject(made);
  return object;
}

uintptr_t TEmberLibraryLock::Object() { return ember_detail::LockObjectIn(object_); }

void TEmberWorkLock::lock() { ember_detail::PlatformWaitLockObject(ember_detail::LockObjectIn(object_), ~0u, false); }
void TEmberWorkLock::unlock() { ember_detail::PlatformReleaseLockObject(object_.load()); }
void TEmberWorkLock::Close() { ember_detail::PlatformDestroyLockObject(object_.exchange(0)); }

bool TEmberLibraryLock::LockWithin(uint32_t milliseconds, bool answering, bool judge) {
  if (tLibraryLockHeld > 0) {
    if (holder_.load() == EmberCurrentThreadID()) {
      ++tLibraryLockHeld;
      return true;
    }
    // Its holds were given up (GiveUpHolder): the thread leaves here, as at a park, rather than
    // work beside the lock's next holder; one that has no park waits its turn as any thread.
    { const TEmberParked parked; }
    tLibraryLockHeld = 0;
    tLibraryLockObject = 0;
  }
  const int64_t start = EmberNowMs();
  for (;;) {
    const uintptr_t object = Object();
    const int64_t waited = EmberNowMs() - start;
    uint32_t slice = kLockSliceMs;
    if (milliseconds != ~0u) slice = waited >= milliseconds ? 0 : std::min<uint32_t>(slice, milliseconds - waited);
    ember_detail::TLockWait result;
    {
      // A send that waits its turn waits on others: it may be given up meanwhile.
      const TEmberParked parked;
      result = ember_detail::PlatformWaitLockObject(object, slice, answering);
    }
    if (result != ember_detail::TLockWait::TimedOut) {
      if (object != object_.load()) {
        // The object of a holder that was given up: no one's lock any more.
        ember_detail::PlatformReleaseLockObject(object);
        continue;
      }
      tLibraryLockHeld = 1;
      tLibraryLockObject = object;
      holder_ = EmberCurrentThreadID();
      if (takeOver_.exchange(false) || result == ember_detail::TLockWait::Abandoned) {
        // The gone holder's own worker (a look-up under the lock on the worker) cannot wait for
        // itself: the next holder takes over.
        if (IsInsideLibraryWork()) {
          takeOver_ = true;
        } else if (!TakeOverLibraryWork() && EmberNowMs() - start < EmberSendWaitLimitMs) {
          // The attachment left half done is another thread's to undo, under this lock: it goes
          // there first. Not for ever: that thread may wait for this one elsewhere (a freeze
          // watch's report).
          takeOver_ = true;
          unlock();
          if (answering)
            ember_detail::PlatformWaitAnsweringSent(1);
          else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          if (milliseconds != ~0u && EmberNowMs() - start >= milliseconds) return false;
          continue;
        }
      }
      return true;
    }
    const int64_t total = EmberNowMs() - start;
    if (milliseconds != ~0u && total >= milliseconds) return false;
    if (TEmberLockHolderJudge holderJudge = judge ? gHolderJudge.load() : nullptr) {
      try {
        holderJudge(static_cast<uint32_t>(total));
      } catch (...) {
        // the holder is waited for as before
      }
    }
  }
}

void TEmberLibraryLock::lock() {
  // A thread with windows answers what is sent to them meanwhile: the holder may be asking them.
  if (!try_lock()) LockWithin(~0u, ember_detail::PlatformHasMessageQueue(), false);
}

bool TEmberLibraryLock::try_lock() { return LockWithin(0, false, false); }

void TEmberLibraryLock::unlock() {
  if (tLibraryLockHeld <= 0 || --tLibraryLockHeld > 0) return;
  uint32_t self = EmberCurrentThreadID();
  holder_.compare_exchange_strong(self, 0);
  ember_detail::PlatformReleaseLockObject(std::exchange(tLibraryLockObject, 0));
}

bool TEmberLibraryLock::HeldByThisThread() const { return HoldCount() > 0; }

// Holds given up (GiveUpHolder) are no holds.
int32_t TEmberLibraryLock::HoldCount() const {
  return tLibraryLockHeld > 0 && holder_.load() == EmberCurrentThreadID() ? tLibraryLockHeld : 0;
}

void TEmberLibraryLock::UnlockAll() {
  if (tLibraryLockHeld <= 0) return;
  tLibraryLockHeld = 1;
  unlock();
}

void TEmberLibraryLock::LeaveHoldsDownTo(int32_t count) {
  if (count < 0) count = 0;
  if (tLibraryLockHeld <= count) return;
  // Also when an outer hold goes on: the next thread to have the lock waits for what the unwound
  // one left running.
  takeOver_ = true;
  if (count > 0) {
    tLibraryLockHeld = count;
    return;
  }
  UnlockAll();
}

bool TEmberLibraryLock::GiveUpHolder(uint32_t thread) {
  uint32_t holder = thread;
  if (thread == 0 || !holder_.compare_exchange_strong(holder, 0)) return false;
  // The given-up thread owns the old object for good (it never gives it back, and leaves when its
  // park ends): a fresh one takes its place, and the old one is kept, since a waiter may still be
  // in a slice on it.
  object_ = ember_detail::PlatformCreateLockObject();
  takeOver_ = true;
  return true;
}

// --- Work the runtime may cut short

namespace {
thread_local TThreadEndWork* tThreadEndWork = nullptr;
}  // namespace

TThreadEndWork::TThreadEndWork() : outer_(tThreadEndWork) { tThreadEndWork = this; }

TThreadEndWork::~TThreadEndWork() {
  if (tThreadEndWork == this) tThreadEndWork = outer_;
}

namespace {
thread_local void (*tThreadLeave)() = nullptr;
}  // namespace

void SetThreadLeave(void (*leave)()) { tThreadLeave = leave; }
void (*ThreadLeave())() { return tThreadLeave; }

bool RunThreadEndWork() {
  TThreadEndWork* work = tThreadEndWork;
  if (work == nullptr) return false;
  tThreadEndWork = work->outer_;
  try {
    work->Run();
  } catch (...) {
    // the next work still runs
  }
  return true;
}

int32_t AddLockHeir() {
  int32_t id = ++gLastHeirId;
  if (id <= 0) id = gLastHeirId = 1;
  for (TLockHeir& heir : gHeirs) {
    int32_t free = 0;
    if (heir.Id.compare_exchange_strong(free, id)) return id;
  }
  return 0;  // no room: the thread runs without coming first
}

void SetLockHeirThread(int32_t heir, uintptr_t threadHandle) {
  if (heir == 0 || threadHandle == 0) return;
  const uintptr_t held = ember_detail::PlatformHoldThread(threadHandle);
  for (TLockHeir& slot : gHeirs) {
    if (slot.Id != heir) continue;
    ember_detail::PlatformReleaseThread(slot.Thread.exchange(held));
    return;
  }
  ember_detail::PlatformReleaseThread(held);
}

void RemoveLockHeir(int32_t heir) {
  if (heir == 0) return;
  for (TLockHeir& slot : gHeirs)
    if (slot.Id == heir) FreeHeirSlot(slot, heir);
}

bool LockHeirWaiting() {
  bool waiting = false;
  for (TLockHeir& slot : gHeirs) {
    const int32_t id = slot.Id;
    if (id == 0) continue;
    // A thread that ended without taking the lock (killed, or given up where it waited) never will.
    const uintptr_t thread = slot.Thread;
    if (thread != 0 && ember_detail::PlatformThreadEnded(thread)) {
      FreeHeirSlot(slot, id);
      continue;
    }
    waiting = true;
  }
  return waiting;
}

// --- Threads that may be given up

int64_t EmberNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

namespace {
// Sets the park's parked bit; leaves when the thread was given up. Answers the bit it replaced.
bool SetParked(TEmberPark& park, bool parked) {
  uint32_t state = park.State.load();
  while (!park.State.compare_exchange_weak(state, (state & ~1u) | (parked ? 1u : 0u))) {
  }
  if ((state & 2) != 0 && park.Leave != nullptr) park.Leave();
  return (state & 1) != 0;
}
}  // namespace

TEmberParked::TEmberParked() : park_(ThreadVars().Park) {
  if (park_ != nullptr) outer_ = SetParked(*park_, true);
}

TEmberParked::~TEmberParked() {
  if (park_ != nullptr) SetParked(*park_, outer_);
}

bool GiveUpParked(TEmberPark& park) {
  if (park.Leave == nullptr) return false;
  return (park.State.fetch_or(2) & 1) != 0;
}

bool IsParked(const TEmberPark& park) { return (park.State.load() & 1) != 0; }

uint8_t GetLibraryState() { return EmberLibrary().LibraryState; }
void SetLibraryState(uint8_t state) { EmberLibrary().LibraryState = state; }
void SetInitialisationDone() { EmberLibrary().Initialising = 0; }

void SetProcessExceptionProc(TEmberProcessExceptionProc proc) { gProcessProc = proc; }

// --- Objects

std::unique_ptr<EExternal> MakeSystemException(uint32_t code, uintptr_t address, uint32_t parameterCount,
                                               const uintptr_t* parameters) {
  char text[160];
  auto at = [&](const char* what) {
    std::snprintf(text, sizeof text, "%s at address %08X.", what, static_cast<unsigned>(address));
    return std::string(text);
  };
  switch (code) {
    case 0xC0000005: {
      std::string message = at("Access violation");
      if (parameterCount >= 2 && parameters != nullptr) {
        const char* kind = parameters[0] == 1 ? "Write of" : parameters[0] == 8 ? "Execution of" : "Read of";
        std::snprintf(text, sizeof text, " %s address %08X.", kind, static_cast<unsigned>(parameters[1]));
        message += text;
      }
      return std::make_unique<EAccessViolation>(message);
    }
    case 0xC0000094: return std::make_unique<EDivByZero>(at("Integer division by zero"));
    case 0xC0000095: return std::make_unique<EIntOverflow>(at("Integer overflow"));
    case 0xC000008E: return std::make_unique<EZeroDivide>(at("Floating point division by zero"));
    case 0xC0000090: return std::make_unique<EInvalidOp>(at("Invalid floating point operation"));
    case 0xC0000096: return std::make_unique<EPrivilege>(at("Privileged instruction"));
    case 0xC00000FD: return std::make_unique<EStackOverflow>(at("Stack overflow"));
    default: break;
  }
  std::snprintf(text, sizeof text, "External exception %08X at address %08X.", static_cast<unsigned>(code),
                static_cast<unsigned>(address));
  return std::make_unique<EExternal>(text);
}

std::string ExceptionClassName(const std::exception* object) {
  if (object == nullptr) return std::string();
  const char* mangled = typeid(*object).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string text = (status == 0 && demangled != nullptr) ? demangled : mangled;
  std::free(demangled);
  // The report names the class without its namespaces.
  const size_t colon = text.rfind("::");
  return colon == std::string::npos ? text : text.substr(colon + 2);
}

bool IsAbortException(const std::exception* object) {
  return object != nullptr && dynamic_cast<const EAbort*>(object) != nullptr;
}

bool IsObjectNotListed(const void* object) {
  TEmberLibraryGlobals& library = EmberLibrary();
  std::lock_guard<std::mutex> guard(library.HandledObjectsLock);
  return HandledObjects().count(object) == 0;
}

void MarkObjectHandled(const void* object) {
  if (object == nullptr) return;
  TEmberLibraryGlobals& library = EmberLibrary();
  std::lock_guard<std::mutex> guard(library.HandledObjectsLock);
  HandledObjects().insert(object);
}

void ForgetHandledObject(const void* object) {
  if (object == nullptr) return;
  TEmberLibraryGlobals& library = EmberLibrary();
  std::lock_guard<std::mutex> guard(library.HandledObjectsLock);
  HandledObjects().erase(object);
}

void SaveRaiseStack(uint32_t stackPointer) {
  TEmberLibraryGlobals& library = EmberLibrary();
  std::lock_guard<std::mutex> guard(library.RaiseStackLock);
  library.RaiseStackUsed = 0;
  if (!library.RaiseStack || stackPointer == 0) return;
  uint32_t top = ember_detail::PlatformStackTop();
  if (top <= stackPointer) return;
  uint32_t size = top - stackPointer;
  if (size > EmberRaiseStackSize) size = EmberRaiseStackSize;
  const void* from = reinterpret_cast<const void*>(static_cast<uintptr_t>(stackPointer));
  if (!IsReadable(from, size)) return;
  std::memcpy(library.RaiseStack.get(), from, size);
  library.RaiseStackUsed = size;
  library.RaiseStackStart = stackPointer;
  library.RaiseStackThread = EmberCurrentThreadID();
}

bool CopyRaiseStack(uint32_t threadID, uint32_t stackPointer, std::vector<uint8_t>& bytes) {
  TEmberLibraryGlobals& library = EmberLibrary();
  std::lock_guard<std::mutex> guard(library.RaiseStackLock);
  if (!library.RaiseStack || library.RaiseStackUsed == 0 || library.RaiseStackThread != threadID ||
      library.RaiseStackStart != stackPointer || stackPointer == 0)
    return false;
  bytes.assign(library.RaiseStack.get(), library.RaiseStack.get() + library.RaiseStackUsed);
  return true;
}

// --- Exceptions kept while an entry is under way on their thread

namespace {

std::atomic<TEmberCopyException> gCopyException{nullptr};
std::atomic<TEmberFreeExceptionCopy> gFreeExceptionCopy{nullptr};

// A chain of handlers that each let one more in (a handler that fails for every exception it is
// called for) ends here instead of going on for ever.
constexpr int32_t kMaxKeptGeneration = 16;

// An exception kept on its thread with what its processing needs of its raise: the context and
// record and the stack the raise saw, which the thread's next raises overwrite.
struct TKeptException {
  TKeptException() = default;
  TKeptException(const TKeptException&) = delete;
  TKeptException& operator=(const TKeptException&) = delete;
  ~TKeptException() {
    if (Copy != nullptr && Free != nullptr) Free(Copy);
    ember_detail::PlatformReleaseThread(OwnerHandle);
  }
  const std::exception* Copy = nullptr;
  TEmberFreeExceptionCopy Free = nullptr;
  uintptr_t Address = 0;
  uintptr_t Module = 0;
  uint32_t StackTop = 0;
  uint32_t StackPointer = 0;
  uint8_t RaisedByRuntime = 0, DisplayMode = 0, RaiseKind = 0, Handled = 0;
  bool HasContext = false, HasRecord = false;
  alignas(16) uint8_t Context[sizeof(TEmberThreadVars::RaiseContext)] = {};
  uint8_t Record[sizeof(TEmberThreadVars::RaiseRecord)] = {};
  std::vector<uint8_t> RaiseStack;
  int32_t Generation = 1;
  // The thread it was raised on, which its report names whoever processes it.
  uint32_t RaiseThread = 0;
  // The thread that kept it, and a handle on it; 0: its thread left its entries by an unwind.
  uint32_t Owner = 0;
  uintptr_t OwnerHandle = 0;
  TKeptException* Next = nullptr;
};

// Every thread's kept exceptions, in the order they came in. Not in the thread's own storage: a
// thread killed or unwound out of its entry never comes back for them, and another one
// processes them. The lock guards a few pointers only.
struct TKeptList {
  TKeptException* First = nullptr;
  TKeptException* Last = nullptr;
  std::atomic<int32_t> Count{0};
};
TKeptList gKept;
std::mutex gKeptLock;

// The calling thread's drain of the kept exceptions. Plain data: a thread-local with a destructor
// would keep the module loaded for as long as a thread that touched it runs.
struct TKeptExceptions {
  bool Draining = false;
  int32_t DrainHolds = 0;                        // the library lock's holds when the drain began
  int32_t Generation = 0;                        // of the kept one being processed; 0: none
  uint32_t RaiseThread = 0;                      // the thread that raised it
  const std::exception* EntryObject = nullptr;   // the object of the entry under way
};

TKeptExceptions& Kept() {
  thread_local TKeptExceptions kept;
  return kept;
}

// Takes out the next kept exception that the calling thread is to process: one of its own, or one
// of a thread that is gone; `any`: whosever it is (the process ends). nullptr when there is none.
TKeptException* TakeKept(bool any = false) {
  if (gKept.Count == 0) return nullptr;
  const uint32_t self = EmberCurrentThreadID();
  std::lock_guard<std::mutex> guard(gKeptLock);
  TKeptException* previous = nullptr;
  for (TKeptException* at = gKept.First; at != nullptr; previous = at, at = at->Next) {
    if (!any && at->Owner != 0 && at->Owner != self && !ember_detail::PlatformThreadEnded(at->OwnerHandle))
      continue;
    (previous != nullptr ? previous->Next : gKept.First) = at->Next;
    if (gKept.Last == at) gKept.Last = previous;
    at->Next = nullptr;
    --gKept.Count;
    return at;
  }
  return nullptr;
}

// The calling thread left its entries by an unwind: what it kept is anyone's to process.
void LeaveKeptToOthers() {
  if (gKept.Count == 0) return;
  const uint32_t self = EmberCurrentThreadID();
  std::lock_guard<std::mutex> guard(gKeptLock);
  for (TKeptException* at = gKept.First; at != nullptr; at = at->Next)
    if (at->Owner == self) at->Owner = 0;
}

// Keeps what the program's code lets in on a thread inside an entry. False when it cannot be
// kept (no copier, the entry's own object, one processed already, a chain too long, no memory):
// it is then answered at once and not processed, as a nested notification always was.
// `orphan`: the thread leaves at once and never comes back for it: it is anyone's to process.
bool KeepException(const std::exception* object, uintptr_t address, uint8_t raisedByRuntime, uint32_t stackTop,
                   uint32_t stackPointer, void* context, void* record, uint8_t displayMode, uintptr_t module,
                   uint8_t raiseKind, uint8_t handled, bool orphan = false) {
  TKeptExceptions& kept = Kept();
  const TEmberCopyException copy = gCopyException.load();
  if (copy == nullptr || object == nullptr || object == kept.EntryObject || !IsObjectNotListed(object) ||
      kept.Generation >= kMaxKeptGeneration)
    return false;
  TEmberThreadVars& vars = ThreadVars();
  try {
    auto item = std::make_unique<TKeptException>();
    item->Free = gFreeExceptionCopy.load();
    item->Copy = copy(object);
    if (item->Copy == nullptr) return false;
    item->Address = address;
    item->Module = module;
    item->StackTop = stackTop;
    item->StackPointer = stackPointer != 0 ? stackPointer : vars.RaiseStackPointer;
    item->RaisedByRuntime = raisedByRuntime;
    item->DisplayMode = displayMode;
    item->RaiseKind = raiseKind;
    item->Handled = handled;
    const void* raiseContext =
        context != nullptr ? context : (vars.RaiseContextFilled != 0 ? vars.RaiseContext : nullptr);
    const void* raiseRecord = record != nullptr ? record : (vars.RaiseRecordFilled != 0 ? vars.RaiseRecord : nullptr);
    if ((item->HasContext = IsReadable(raiseContext, 204))) std::memcpy(item->Context, raiseContext, 204);
    if ((item->HasRecord = IsReadable(raiseRecord, 80))) std::memcpy(item->Record, raiseRecord, 80);
    // The stack the raise saw: its copy, or, for a fault seen as it is dispatched, the stack
    // itself, which is still there above this call.
    const uint32_t sp = item->StackPointer, top = ember_detail::PlatformStackTop();
    if (!CopyRaiseStack(EmberCurrentThreadID(), sp, item->RaiseStack) && sp > ember_detail::PlatformStackPointer() &&
        sp < top) {
      const auto* from = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(sp));
      item->RaiseStack.assign(from, from + std::min<uint32_t>(top - sp, EmberRaiseStackSize));
    }
    item->Generation = kept.Generation + 1;
    item->RaiseThread = EmberCurrentThreadID();
    item->Owner = orphan ? 0 : EmberCurrentThreadID();
    item->OwnerHandle = orphan ? 0 : ember_detail::PlatformHoldCurrentThread();
    TKeptException* added = item.release();
    std::lock_guard<std::mutex> guard(gKeptLock);
    (gKept.Last != nullptr ? gKept.Last->Next : gKept.First) = added;
    gKept.Last = added;
    ++gKept.Count;
  } catch (...) {
    return false;
  }
  // A thread that leaves hands nothing over again; its object's place is another's soon.
  if (orphan) return true;
  // Its later entries (a hand-over at the end of its catch) find it processed.
  MarkObjectHandled(object);
  return true;
}

// A thread of the library's own work given up where it waited (a send's handler of the program
// goes on after the bound) leaves at its next wait for the lock, touching nothing of the library.
// What it hands over there is the program's exception all the same: kept as one whose thread is
// gone, for the next thread whose entry ends. False when the thread was not given up.
bool LeaveIfGivenUp(const std::exception* object, uintptr_t address, uint8_t raisedByRuntime, uint32_t stackTop,
                    uint32_t stackPointer, void* context, void* record, uint8_t displayMode, uintptr_t module,
                    uint8_t raiseKind, uint8_t handled) {
  const TEmberPark* park = ThreadVars().Park;
  if (park == nullptr || (park->State.load() & 2) == 0) return false;
  KeepException(object, address, raisedByRuntime, stackTop, stackPointer, context, record, displayMode, module,
                raiseKind, handled, true);
  { const TEmberParked leave; }
  return true;
}

// Puts a kept raise's stack back as the raise-stack copy of the thread that raised it.
void RestoreRaiseStack(uint32_t stackPointer, const std::vector<uint8_t>& bytes, uint32_t thread) {
  TEmberLibraryGlobals& library = EmberLibrary();
  std::lock_guard<std::mutex> guard(library.RaiseStackLock);
  if (bytes.empty() || !library.RaiseStack || bytes.size() > EmberRaiseStackSize) return;
  std::memcpy(library.RaiseStack.get(), bytes.data(), bytes.size());
  library.RaiseStackUsed = static_cast<uint32_t>(bytes.size());
  library.RaiseStackStart = stackPointer;
  library.RaiseStackThread = thread;
}

}  // namespace

void SetExceptionCopier(TEmberCopyException copy, TEmberFreeExceptionCopy free) {
  gFreeExceptionCopy = free;
  gCopyException = copy;
}

void ProcessKeptExceptions(bool threadEnds) {
  try {
    TKeptExceptions& kept = Kept();
    if (threadEnds) kept.Draining = false;  // a drain the runtime cut short goes on here
    if (ThreadVars().Busy != 0 || kept.Draining || gKept.Count == 0) return;
    // One drain per thread: what comes in while a kept one is processed joins the queue.
    kept.Draining = true;
    kept.DrainHolds = EmberLibrary().LibraryLock.HoldCount();
    while (TKeptException* next = TakeKept()) {
      const std::unique_ptr<TKeptException> item(next);
      kept.Generation = item->Generation;
      kept.RaiseThread = item->RaiseThread;
      RestoreRaiseStack(item->StackPointer, item->RaiseStack, item->RaiseThread);
      // Its answer goes nowhere: the hand-over was answered 0 (the library's to deal with) and
      // the program's code went on from there. A 1 now (a filter leaving the class to the
      // program, a handler clearing the continue flag) is the program's own choice that the
      // library reports nothing more of it; there is no runtime handling left to pass it to.
      CentralNotify(item->Copy, item->Address, item->RaisedByRuntime, item->StackTop, item->StackPointer,
                    item->HasContext ? item->Context : nullptr, item->HasRecord ? item->Record : nullptr,
                    item->DisplayMode, item->Module, item->RaiseKind, item->Handled);
      ForgetHandledObject(item->Copy);
      kept.RaiseThread = 0;
    }
    kept.Generation = 0;
    kept.Draining = false;
  } catch (...) {
    // what could not be processed is not
  }
}

// --- Processing

uint8_t DefaultProcessException(const TEmberNotifyArgs& args) {
  TEmberLibraryGlobals& library = EmberLibrary();
  TEmberExceptionRecord& record = library.CurrentException;
  record.ExceptionObject = args.Object;
  record.ExceptionAddress = args.Address - (args.RaisedByRuntime != 0 && args.Address >= 5 ? 5 : 0);
  record.ExceptionThreadID = args.Params.ThreadID;
  record.ExceptionContext = args.Params.Context;
  record.ExceptionRecord = args.Params.ExceptionRecord;
  record.CallStack = args.Params.CallStack;
  // The report side names its modules list when it builds the report.
  record.ModulesList = nullptr;
  record.CurrentModuleOptions = library.CurrentOptions.get();
  uint8_t continueFlag = 1;
  SynchronizeExceptionCall([&] {
    if (args.Params.Handled != 0) {
      RaiseHandledExceptionNotifyEvent(continueFlag);
    } else {
      RaiseExceptionNotifyEvent(continueFlag);
    }
  });
  return continueFlag != 0 ? 1 : 0;
}

namespace {

uint8_t RunProcessing(const TEmberNotifyArgs& args) {
  TEmberLibraryGlobals& library = EmberLibrary();
  library.ProcessingRecord = &library.CurrentException;
  TEmberProcessExceptionProc proc = gProcessProc.load();
  uint8_t result = 1;
  try {
    result = proc != nullptr ? proc(args) : DefaultProcessException(args);
  } catch (...) {
    // processing reports its own faults; nothing may travel back into the raise
    result = 1;
  }
  library.ProcessingRecord = nullptr;
  return result;
}

bool IsSafeCallObject(const std::exception* object) {
  if (object == nullptr) return false;
  try {
    return std::strncmp(object->what(), EmberSafeCallPrefix, std::strlen(EmberSafeCallPrefix)) == 0;
  } catch (...) {
    return false;
  }
}

// Fills what the processing gets besides the raise's own arguments.
void FillNotifyParams(TEmberNotifyArgs& args, uint32_t stackTop, uint32_t stackPointer, void* context,
                      void* record, uint8_t handled, TEmberStackList* callStack) {
  TEmberLibraryGlobals& library = EmberLibrary();
  TEmberThreadVars& vars = ThreadVars();
  TExceptNotifyParams& params = args.Params;
  params.Handled = handled;
  params.CallStack = callStack;
  params.StackTop = stackTop != 0 ? stackTop : ember_detail::PlatformStackTop();
  params.StackPointer = stackPointer != 0 ? stackPointer : vars.RaiseStackPointer;
  params.Context = context != nullptr ? context : (vars.RaiseContextFilled != 0 ? vars.RaiseContext : nullptr);
  params.ExceptionRecord =
      record != nullptr ? record : (vars.RaiseRecordFilled != 0 ? vars.RaiseRecord : nullptr);
  uint32_t self = EmberCurrentThreadID();
  // A kept exception is reported as if processed at its raise, also by another thread. Taken
  // once: the thread's next entries are their own.
  const uint32_t keptRaise = std::exchange(Kept().RaiseThread, 0);
  params.ThreadID = keptRaise != 0 ? keptRaise : vars.FreezeWatch != 0 ? library.MainThreadID : self;
  ember_detail::PlatformFocusedControl(params);
  if (handled == 0) {
    vars.ExceptionClassName.Assign(ExceptionClassName(args.Object));
    vars.RaiseAddress = args.Address;
  }
}

void ClearRaiseState(TEmberThreadVars& vars) {
  vars.RaiseStackPointer = 0;
  vars.RaiseContextFilled = 0;
  vars.RaiseRecordFilled = 0;
  std::memset(vars.RaiseRecord, 0, sizeof(vars.RaiseRecord));
}

}  // namespace

namespace {
// The calling thread's raise as its entry reads it (FillNotifyParams, ExceptionManager). A
// message answered while the entry waits may raise and be processed (an entry of its own), which
// overwrites it and clears it at its end.
class TSavedRaise {
 public:
  explicit TSavedRaise(TEmberThreadVars& vars)
      : vars_(vars),
        className_(vars.ExceptionClassName),
        address_(vars.RaiseAddress),
        stackPointer_(vars.RaiseStackPointer),
        entryStackPointer_(vars.RaiseEntryStackPointer),
        register_(vars.RaiseRegister),
        contextFilled_(vars.RaiseContextFilled),
        recordFilled_(vars.RaiseRecordFilled),
        byRuntime_(vars.LastRaisedByRuntime) {
    std::memcpy(context_, vars.RaiseContext, sizeof context_);
    std::memcpy(record_, vars.RaiseRecord, sizeof record_);
  }
  void Restore() const {
    vars_.ExceptionClassName = className_;
    vars_.RaiseAddress = address_;
    vars_.RaiseStackPointer = stackPointer_;
    vars_.RaiseEntryStackPointer = entryStackPointer_;
    vars_.RaiseRegister = register_;
    vars_.RaiseContextFilled = contextFilled_;
    vars_.RaiseRecordFilled = recordFilled_;
    vars_.LastRaisedByRuntime = byRuntime_;
    std::memcpy(vars_.RaiseContext, context_, sizeof context_);
    std::memcpy(vars_.RaiseRecord, record_, sizeof record_);
  }

 private:
  TEmberThreadVars& vars_;
  const TEmberShortString<64> className_;
  const uintptr_t address_;
  const uint32_t stackPointer_, entryStackPointer_, register_;
  const uint8_t contextFilled_, recordFilled_, byRuntime_;
  alignas(16) uint8_t context_[sizeof(TEmberThreadVars::RaiseContext)];
  uint8_t record_[sizeof(TEmberThreadVars::RaiseRecord)];
};
}  // namespace

TExceptionEntryLock::TExceptionEntryLock() : main_(EmberCurrentThreadID() == EmberLibrary().MainThreadID) {
#if defined(_WIN32) && defined(__i386__)
  frame_.Handler = reinterpret_cast<void*>(&TExceptionEntryLock::Handle);
  frame_.Entry = this;
  asm volatile("movl %%fs:0, %0" : "=r"(frame_.Next));
  asm volatile("movl %0, %%fs:0" : : "r"(&frame_) : "memory");
#endif
  TEmberLibraryGlobals& library = EmberLibrary();
  TEmberLibraryLock& lock = library.LibraryLock;
  holdsBefore_ = lock.HoldCount();
  endWorkBefore_ = tThreadEndWork;
  const TEmberThreadVars& vars = ThreadVars();
  busyBefore_ = vars.Busy;
  programCodeBefore_ = vars.ProgramCode;
  libraryWorkBefore_ = vars.LibraryWork;
  entryObjectBefore_ = Kept().EntryObject;
  // The main thread answers no window from here until its entry ends (the wait for a report
  // sent in the background may be long): that is the library's wait, not the program's freeze.
  if (main_) ++library.MainThreadInside;
  try {
    if (holdsBefore_ > 0) {
      lock.lock();
      return;
    }
    const int64_t began = EmberNowMs();
    // A thread with windows answers what other threads send to them while it waits: the holder
    // (a send's handler) may be asking one of them, and would wait for it for ever.
    const bool answers = ember_detail::PlatformHasMessageQueue();
    std::optional<TSavedRaise> saved;  // no allocation: the memory manager's lock may be this thread's
    const auto take = [&] {
      if (lock.try_lock()) return;
      if (answers && !saved) saved.emplace(ThreadVars());
      lock.LockWithin(~0u, answers, true);
    };
    take();
    // Each round gives the lock back, which this thread held only once; the heir's thread is
    // running, and leaves the table when it holds the lock or has ended.
    while (LockHeirWaiting()) {
      lock.unlock();
      if (answers) {
        if (!saved) saved.emplace(ThreadVars());
        ember_detail::PlatformWaitAnsweringSent(1);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      take();
    }
    if (saved) saved->Restore();
    // An end the runtime makes keeps the wait of its exception's entry, not of what it kept.
    const int64_t waited = EmberNowMs() - began;
    if (ThreadVars().Terminating == 0 || tEntryWaited == 0) tEntryWaited = waited >= kLockSliceMs ? waited : 0;
  } catch (...) {
    if (main_) --library.MainThreadInside;
    Unlink();
    throw;
  }
}

TExceptionEntryLock::~TExceptionEntryLock() {
  EmberLibrary().LibraryLock.unlock();
  if (main_) --EmberLibrary().MainThreadInside;
  Unlink();
}

void TExceptionEntryLock::Unlink() noexcept {
#if defined(_WIN32) && defined(__i386__)
  TRegistration* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  if (head == &frame_) {
    asm volatile("movl %0, %%fs:0" : : "r"(frame_.Next) : "memory");
    return;
  }
  // Not at the head (a thread-end work gives the entry back from further in): taken out of the
  // chain where it stands; an unwind that passed it has taken it out already.
  for (TRegistration* at = head; at != nullptr && at != reinterpret_cast<TRegistration*>(-1); at = at->Next) {
    if (at->Next != &frame_) continue;
    at->Next = frame_.Next;
    return;
  }
#endif
}

// An exception unwound past the entry to a handler outside the library: none of the entry's code
// runs any more. The thread's work inside the library ends here (its later exceptions are
// processed again), its worker runs no more calls for it, and the lock goes to the next holder,
// which takes over what was left half done.
void TExceptionEntryLock::LeftByUnwind() noexcept {
  TEmberLibraryGlobals& library = EmberLibrary();
  TProcessingState& state = Processing();
  TEmberThreadVars& vars = ThreadVars();
  // The thread's marks as the entry found them: a handler of the program left by the unwind never
  // ended its own, nor did the entry (also one inside another hold: its later exceptions are
  // processed again).
  vars.Busy = busyBefore_;
  vars.ProgramCode = programCodeBefore_;
  vars.LibraryWork = libraryWorkBefore_;
  TKeptExceptions& kept = Kept();
  kept.EntryObject = static_cast<const std::exception*>(entryObjectBefore_);
  // The drain that began this entry is unwound with it.
  if (kept.Draining && holdsBefore_ <= kept.DrainHolds) {
    kept.Draining = false;
    kept.Generation = 0;
    kept.RaiseThread = 0;
  }
  ClearRaiseState(vars);
  // Out of its entries, the thread does not come back for what it kept: its worker, which goes on
  // alone, or the next thread whose entry ends takes it. Handed on before the worker may see the
  // thread gone.
  // A close put off after this (on its worker) sees the thread gone and is the next entry's too.
  if (vars.Busy == 0) LeaveKeptToOthers();
  if (state.Active && state.FaultingThread == EmberCurrentThreadID()) state.FaultingGone = true;
  if (vars.Busy == 0) {
    LeavePutOffCloseToOthers();
    // The entry is over: an end asked later is not its exception's, and has its own bound.
    EndEntryWait(nullptr);
  }
  if (holdsBefore_ == 0) {
    vars.Processing = 0;
    vars.InRaiseHandler = 0;
  }
  tThreadEndWork = static_cast<TThreadEndWork*>(endWorkBefore_);
  library.LibraryLock.LeaveHoldsDownTo(holdsBefore_);
  if (main_) --library.MainThreadInside;
}

namespace {

// One entry; `lockHeld`: the calling thread held the library lock before it.
uint8_t NotifyEntry(const std::exception* object, uintptr_t address, uint8_t raisedByRuntime, uint32_t stackTop,
                    uint32_t stackPointer, void* context, void* record, uint8_t displayMode, uintptr_t module,
                    uint8_t raiseKind, uint8_t handled, TEmberStackList* callStack, bool lockHeld) {
  TEmberLibraryGlobals& library = EmberLibrary();
  if (library.LibraryOn == 0 || IsAbortException(object)) return 1;
  try {
    // A thread already inside (the faulting thread, the worker that processes for it, the
    // library's own work of a send) never waits for the lock it holds or that its faulting
    // thread or its send holds. On the faulting thread the program's code that the library runs
    // (a handler, a window's answer) may let one in: it is kept and processed once this thread's
    // entry has ended (its worker may be waiting for this very call).
    TEmberThreadVars& vars = ThreadVars();
    if (vars.Busy != 0) {
      if (vars.ProgramCode != 0 && callStack == nullptr)
        KeepException(object, address, raisedByRuntime, stackTop, stackPointer, context, record, displayMode,
                      module, raiseKind, handled);
      return 0;
    }
    if (IsInsideLibraryWork()) return 0;
    if (callStack == nullptr && LeaveIfGivenUp(object, address, raisedByRuntime, stackTop, stackPointer, context,
                                               record, displayMode, module, raiseKind, handled))
      return 0;
    // An exception raised inside the memory manager or the leak tracker (a fault in their locked
    // regions) comes here with their lock held by this thread, which will not give it back while
    // this one waits for the library lock and the processing, nor while the handlers outside run
    // after it: the worker and every other thread must not wait for it. Given up for good (what
    // the lock guards may be half changed).
    GiveUpMemoryManagerLockOfThisThread();
    GiveUpLeakListOfThisThread();
    // The last close waits for what is being processed when it begins, not behind what comes in
    // after it: that is answered unprocessed.
    if (!lockHeld && library.Closing) return 1;
    const TExceptionEntryLock lock;
    // The library was detached while this entry waited (the last close holds the lock from its
    // pass to the end of its reset): nothing is left to process it with.
    if (library.LibraryOn == 0) return 1;
    vars.Busy = 1;
    Kept().EntryObject = object;
    // The runtime ends this thread inside (a call handed to it): the entry ends before the thread
    // does, so that no thread waits for ever for its lock.
    const TOnThreadEnd entryEnd([&] {
      library.RequestControlBlock = nullptr;
      ClearRaiseState(vars);
      vars.Busy = 0;
      Kept().EntryObject = nullptr;
      library.LibraryLock.unlock();
    });
    uint8_t result = 1;
    try {
      const uint16_t behaviour = library.CurrentOptions ? library.CurrentOptions->BehaviourOptions() : 0;
      if (IsSafeCallObject(object) && (behaviour & 0x40) == 0) {
        vars.Busy = 0;
        Kept().EntryObject = nullptr;
        return 0;
      }
      if (library.CurrentOptions && library.CurrentOptions->Activate() != 0) {
        TEmberNotifyArgs args;
        args.Object = object;
        args.Address = address;
        args.RaisedByRuntime = raisedByRuntime;
        args.DisplayMode = displayMode;
        args.Module = module;
        args.RaiseKind = raiseKind;
        args.LockHeld = lockHeld ? 1 : 0;
        FillNotifyParams(args, stackTop, stackPointer, context, record, handled, callStack);
        library.RequestControlBlock = vars.ControlBlock;
        const bool inline_ = dynamic_cast<const EMemoryLeak*>(object) != nullptr ||
                             (library.IsDll != 0 && (library.Initialising != 0 || library.Finalising != 0));
        if (inline_) {
          result = RunProcessing(args);
        } else {
          // The worker processes while this thread keeps running the calls handed to it. What it
          // works from is its own: this thread may be killed, or unwound past its entry, meanwhile.
          TProcessingState& state = Processing();
          // The worker of an entry of this thread unwound inside an outer hold still runs: it ends
          // first, since two never process at once.
          if (state.Job) TakeOverWorker();
          const auto job = std::make_shared<TWorkerJob>();
          job->Args = args;
          state.FaultingHandle = ember_detail::PlatformHoldCurrentThread();
          state.FaultingGone = false;
          state.FaultingThread = EmberCurrentThreadID();
          state.Active = true;
          state.Job = job;
          const auto processingOver = [&] {
            state.DialogShowing = false;
            state.Active = false;
            state.FaultingThread = 0;
            ReleaseHeld(state.FaultingHandle);
            state.Job.reset();
          };
          std::thread worker;
          try {
            worker = std::thread([job, waited = tEntryWaited] {
              bool faultingGone = false;
              {
                ThreadVars().Busy = 1;
                tEntryWaited = waited;  // what an end asked in the processing waited already
                // The runtime ends the worker's code: the faulting thread goes on as if the
                // processing had ended (this work runs last on the worker).
                const TOnThreadEnd workerEnd([&job] {
                  job->Result = 1;
                  job->Running = false;
                });
                // Above the application's threads, so that a busy program does not hold up its report.
                ember_detail::PlatformRaiseThreadPriority();
                job->Result = RunProcessing(job->Args);
                faultingGone = FaultingThreadGone();
                job->Running = false;
              }
              // A faulting thread that is gone (killed, or unwound out of its entry) does not come
              // back for what it kept; this worker processes it, as a thread of its own now.
              // So does it a close put off inside this processing (its entry is over here).
              if (faultingGone) {
                ThreadVars().Busy = 0;
                ProcessKeptExceptions();
                RunPutOffClose();
              }
            });
          } catch (...) {
            processingOver();
            throw;
          }
          job->Worker = ember_detail::PlatformHoldStdThread(worker);
          const auto waitForWorker = [&] {
            const bool mainThread = EmberCurrentThreadID() == library.MainThreadID;
            const bool mayPump = (behaviour & 0x01) == 0 || (behaviour & 0x03) == 0x03;
            // A worker that ended without saying so (killed) is waited for no more.
            while (job->Running && !ember_detail::PlatformThreadEnded(job->Worker)) {
              if (mainThread && mayPump && state.DialogShowing) {
                // The windows' procedures are the program's code.
                const TProgramCode programCode;
                ember_detail::PlatformPumpMessages(true);
              }
              RunPostedCall();
              std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            worker.join();
            RunPostedCall();
            ReleaseHeld(job->Worker);
            processingOver();
          };
          {
            // The runtime ends this thread in a call handed to it: the processing goes on to its
            // end without the program's calls, and the worker is gone before this thread is.
            const TOnThreadEnd waitEnd([&] {
              FinishPostedCall();
              waitForWorker();
            });
            waitForWorker();
          }
          result = job->Result;
        }
        MarkObjectHandled(object);
      }
    } catch (...) {
      result = 1;
    }
    library.RequestControlBlock = nullptr;
    ClearRaiseState(vars);
    vars.Busy = 0;
    Kept().EntryObject = nullptr;
    return result;
  } catch (...) {
    return 1;
  }
}

}  // namespace

uint8_t CentralNotify(const std::exception* object, uintptr_t address, uint8_t raisedByRuntime,
                      uint32_t stackTop, uint32_t stackPointer, void* context, void* record,
                      uint8_t displayMode, uintptr_t module, uint8_t raiseKind, uint8_t handled,
                      TEmberStackList* callStack) {
  const bool lockHeld = EmberLibrary().LibraryLock.HeldByThisThread();
  const uint8_t result = NotifyEntry(object, address, raisedByRuntime, stackTop, stackPointer, context, record,
                                     displayMode, module, raiseKind, handled, callStack, lockHeld);
  ProcessKeptExceptions();
  RunPutOffClose();
  EndEntryWait(object);
  return result;
}

void SetExceptionDialogShowing(bool showing) { Processing().DialogShowing = showing; }

namespace {
// The lock's last holder is gone (killed, unwound past its entry, or a send given up): its worker,
// which works from the library's state, runs to its end first (it runs no more calls for the gone
// thread, and takes no lock), then what the holder left half done is reset.
void TakeOverWorker() {
  TProcessingState& state = Processing();
  if (const std::shared_ptr<TWorkerJob> job = std::move(state.Job)) {
    const bool answers = ember_detail::PlatformHasMessageQueue();
    while (job->Running && !ember_detail::PlatformThreadEnded(job->Worker)) {
      if (answers)
        ember_detail::PlatformWaitAnsweringSent(10);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ReleaseHeld(job->Worker);
  }
  state.PostedCall = nullptr;
  state.PostedDone = true;
  state.DialogShowing = false;
  state.Active = false;
  state.FaultingThread = 0;
  state.FaultingGone = false;
  ReleaseHeld(state.FaultingHandle);
}

// False: the lock is to be given back (SetAttachmentHeir).
bool TakeOverLibraryWork() {
  TEmberLibraryGlobals& library = EmberLibrary();
  TakeOverWorker();
  library.ProcessingRecord = nullptr;
  library.RequestControlBlock = nullptr;
  if (TEmberLockTakeOver proc = gTakeOver.load()) {
    try {
      proc();
    } catch (...) {
      // the report side's state stays as it was
    }
  }
  const TEmberAttachmentHeir heir = gAttachmentHeir.load();
  if (heir == nullptr) return true;
  // What the undoing raises is the library's own, and the raise this thread's entry waits with
  // is its exception's again afterwards.
  TEmberThreadVars& vars = ThreadVars();
  const TSavedRaise saved(vars);
  ++vars.LibraryWork;
  bool settled = true;
  try {
    settled = heir();
  } catch (...) {
    // what could not be undone is left as it came
  }
  --vars.LibraryWork;
  saved.Restore();
  return settled;
}
}  // namespace

namespace {
std::atomic<TEmberBeforeProcessEnd> gBeforeProcessEnd{nullptr};
}  // namespace

void SetBeforeProcessEnd(TEmberBeforeProcessEnd proc) { gBeforeProcessEnd = proc; }

namespace {
// Work put off to the end of an entry, each kind in a slot of its own, with the thread whose
// entry it waits for and a handle on it; Owner 0: the thread left its entries by an unwind, and
// the next entry to end runs it. The attachment's work under way is its thread's own: another
// thread carries it on only once that thread has ended. The lock guards a few words only.
enum TPutOffKind { kPutOffEnd, kPutOffClose, kAttachmentWork, kPutOffKinds };
struct TPutOff {
  void (*Work)() = nullptr;
  uint32_t Owner = 0;
  uintptr_t OwnerHandle = 0;
};
TPutOff gPutOff[kPutOffKinds];
std::mutex gPutOffLock;

// Takes the work of `kind` out when the calling thread is to run it (`any`: whosever it is).
void (*TakePutOff(TPutOffKind kind, bool any))() {
  const uint32_t self = EmberCurrentThreadID();
  TPutOff& slot = gPutOff[kind];
  uintptr_t handle = 0;
  void (*work)() = nullptr;
  {
    const std::lock_guard<std::mutex> guard(gPutOffLock);
    if (slot.Work == nullptr) return nullptr;
    if (!any) {
      const bool ended = ember_detail::PlatformThreadEnded(slot.OwnerHandle);
      // The attachment's work is carried on only for a thread known to have ended.
      if (kind == kAttachmentWork ? !ended : slot.Owner != 0 && slot.Owner != self && !ended) return nullptr;
    }
    work = std::exchange(slot.Work, nullptr);
    handle = std::exchange(slot.OwnerHandle, 0);
    slot.Owner = 0;
  }
  ember_detail::PlatformReleaseThread(handle);
  return work;
}

// Runs the work put off, once its thread is inside no entry any more and has processed what it
// kept meanwhile (a drain's own entries come back here before it is over): an end first, which
// makes a close moot.
void RunPutOffClose() {
  if (ThreadVars().Busy != 0 || Kept().Draining || EmberLibrary().LibraryLock.HeldByThisThread()) return;
  for (TPutOffKind kind : {kPutOffEnd, kPutOffClose, kAttachmentWork}) {
    if (void (*work)() = TakePutOff(kind, false)) {
      try {
        work();
      } catch (...) {
        // the entry's answer stands
      }
    }
  }
}

// The calling thread left its entries by an unwind: what it put off is the next entry's.
void LeavePutOffCloseToOthers() {
  const uint32_t self = EmberCurrentThreadID();
  uintptr_t handles[2] = {};
  {
    const std::lock_guard<std::mutex> guard(gPutOffLock);
    for (TPutOffKind kind : {kPutOffEnd, kPutOffClose}) {
      TPutOff& slot = gPutOff[kind];
      if (slot.Work == nullptr || slot.Owner != self) continue;
      slot.Owner = 0;
      handles[kind] = std::exchange(slot.OwnerHandle, 0);
    }
  }
  for (uintptr_t handle : handles) ember_detail::PlatformReleaseThread(handle);
}

// The wait of the calling thread's last entry that ended, and its object.
thread_local int64_t tEndedEntryWait = 0;
thread_local const void* tEndedEntryObject = nullptr;

// An entry over and back in the program's code: an end that comes later is not its exception's,
// unless it ends the thread for that very object (EntryWaitOfEnded).
void EndEntryWait(const void* object) {
  const TEmberThreadVars& vars = ThreadVars();
  if (vars.Busy != 0 || vars.Terminating != 0 || vars.EndFollows != 0) return;
  tEndedEntryWait = std::exchange(tEntryWaited, 0);
  tEndedEntryObject = object;
}

// Puts `work` off to the end of the entry under way on the calling thread (on a worker: its
// faulting thread's); false when the thread is inside no processing.
bool PutOffToEntry(TPutOffKind kind, void (*work)()) {
  if (ThreadVars().Busy == 0) return false;
  // On a worker the entry is its faulting thread's, which is waiting for it.
  TProcessingState& state = Processing();
  const uint32_t self = EmberCurrentThreadID();
  const uint32_t faulting = state.FaultingThread;
  const bool worker = state.Active && faulting != 0 && faulting != self;
  uintptr_t handle = worker ? ember_detail::PlatformHoldThread(state.FaultingHandle)
                            : ember_detail::PlatformHoldCurrentThread();
  uintptr_t unused = 0;
  {
    const std::lock_guard<std::mutex> guard(gPutOffLock);
    // A faulting thread that left its entries already (unwound, or gone) does not come back to
    // run it: the next entry to end does. Asked under the lock that its unwind hands the work on
    // under, so that one of the two sees the other.
    if (worker && FaultingThreadGone()) unused = std::exchange(handle, 0);
    TPutOff& slot = gPutOff[kind];
    slot.Work = work;
    slot.Owner = handle != 0 ? (worker ? faulting : self) : 0;
    std::swap(slot.OwnerHandle, handle);
  }
  ember_detail::PlatformReleaseThread(handle);
  ember_detail::PlatformReleaseThread(unused);
  return true;
}
}  // namespace

bool PutOffUntilEntryEnds(void (*close)()) { return PutOffToEntry(kPutOffClose, close); }
bool PutOffEndUntilEntryEnds(void (*end)()) { return PutOffToEntry(kPutOffEnd, end); }
bool CancelPutOffClose() { return TakePutOff(kPutOffClose, true) != nullptr; }

void MarkAttachmentWork(void (*carryOn)()) {
  const uint32_t self = EmberCurrentThreadID();
  uintptr_t handle = carryOn != nullptr ? ember_detail::PlatformHoldCurrentThread() : 0;
  {
    const std::lock_guard<std::mutex> guard(gPutOffLock);
    TPutOff& slot = gPutOff[kAttachmentWork];
    // Over: forgotten unless another thread's work was marked since.
    if (carryOn == nullptr && slot.Owner != self) return;
    slot.Work = carryOn;
    slot.Owner = carryOn != nullptr ? self : 0;
    std::swap(slot.OwnerHandle, handle);
  }
  ember_detail::PlatformReleaseThread(handle);
}

void RunPutOffWork() { RunPutOffClose(); }

int64_t EntryWaitedMs() { return tEntryWaited; }
void ForgetEntryWait() { tEntryWaited = 0; }
void SetEntryWait(int64_t milliseconds) { tEntryWaited = milliseconds; }
int64_t EntryWaitOfEnded(const void* object) {
  return object != nullptr && object == tEndedEntryObject ? tEndedEntryWait : 0;
}

namespace {
// The thread that processes the kept exceptions before an end; 0: none. One end at a time: an
// end asked again inside (a kept one's processing, its handlers) finds it under way.
std::atomic<uint32_t> gEndDrainThread{0};

// Processes every exception still kept, whoever kept it: its thread will not come back for it
// once the process has ended. Each inline on the ending thread, under the library lock (held by
// it or, on a worker, by its faulting thread, which waits for it), before the bound's end.
void ProcessKeptBeforeEnd() {
  if (gKept.Count == 0) return;
  uint32_t none = 0;
  if (!gEndDrainThread.compare_exchange_strong(none, EmberCurrentThreadID())) return;
  TEmberLibraryGlobals& library = EmberLibrary();
  TEmberThreadVars& vars = ThreadVars();
  TKeptExceptions& kept = Kept();
  const int64_t began = EmberNowMs();
  constexpr int64_t limit = EmberSendWaitLimitMs;
  const int64_t deadline = began + limit - std::min(tEntryWaited, limit);
  const uint8_t busyBefore = vars.Busy;
  const int32_t generationBefore = kept.Generation;
  bool locked = false;
  try {
    if (busyBefore == 0) {
      while (!(locked = library.LibraryLock.try_lock()) && EmberNowMs() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (busyBefore != 0 || locked) {
      // What the processing lets in is kept, and processed in turn here.
      vars.Busy = 1;
      while (EmberNowMs() < deadline) {
        TKeptException* next = TakeKept(true);
        if (next == nullptr) break;
        const std::unique_ptr<TKeptException> item(next);
        kept.Generation = item->Generation;
        kept.RaiseThread = item->RaiseThread;
        RestoreRaiseStack(item->StackPointer, item->RaiseStack, item->RaiseThread);
        TEmberNotifyArgs args;
        args.Object = item->Copy;
        args.Address = item->Address;
        args.RaisedByRuntime = item->RaisedByRuntime;
        args.DisplayMode = item->DisplayMode;
        args.Module = item->Module;
        args.RaiseKind = item->RaiseKind;
        args.AtEnd = 1;
        FillNotifyParams(args, item->StackTop, item->StackPointer, item->HasContext ? item->Context : nullptr,
                         item->HasRecord ? item->Record : nullptr, item->Handled, nullptr);
        if (library.LibraryOn != 0 && library.CurrentOptions && library.CurrentOptions->Activate() != 0)
          RunProcessing(args);
        ForgetHandledObject(item->Copy);
      }
    }
  } catch (...) {
    // the process ends all the same
  }
  vars.Busy = busyBefore;
  kept.Generation = generationBefore;
  kept.RaiseThread = 0;
  if (locked) library.LibraryLock.unlock();
  // The end's own wait for sends has the rest of the bound.
  tEntryWaited += EmberNowMs() - began;
  gEndDrainThread = 0;
}
}  // namespace

void RunBeforeProcessEnd(bool closing) {
  ProcessKeptBeforeEnd();
  const TEmberBeforeProcessEnd proc = gBeforeProcessEnd.load();
  if (proc == nullptr) return;
  try {
    proc(closing);
  } catch (...) {
    // the process ends all the same
  }
}

void SynchronizeExceptionCall(const std::function<void()>& call) {
  TProcessingState& state = Processing();
  TEmberLibraryGlobals& library = EmberLibrary();
  if (library.LeakReportRunning) return;
  if (state.Active && state.FaultingThread != EmberCurrentThreadID()) {
    // A faulting thread that is gone (killed, or unwound past its entry) runs no call any more:
    // the processing goes on to its end without the program's calls.
    if (!FaultingThreadGone()) {
      state.PostedDone = false;
      state.PostedCall = &call;
      while (!state.PostedDone) {
        if (FaultingThreadGone()) {
          // Taken back, unless the thread took it and is gone with it.
          const std::function<void()>* posted = &call;
          state.PostedCall.compare_exchange_strong(posted, nullptr);
          state.FaultingGone = true;
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
  } else if (ThreadVars().ProgramCodeEnded == 0) {
    // What leaves the handler is the program's exception: it is caught here, while the
    // library's work is still marked off, so that the end of this catch reports it like any
    // handled exception (BehaviourOptions 0x0100), also on a send's thread; then it goes on to
    // the library's caller as before, whose own catch no longer counts it.
    std::exception_ptr escaped;
    {
      const TProgramCode programCode;
      // A send given up while the handler runs leaves when it returns.
      const TEmberParked parked;
      try {
        call();
      } catch (...) {
        escaped = std::current_exception();
      }
    }
    if (escaped) std::rethrow_exception(escaped);
  }
  if (library.CurrentOptions) {
    try {
      LoadOptionsFromSharedMemory(*library.CurrentOptions);
    } catch (...) {
      // a damaged area leaves the options as they are
    }
  }
}

// --- Raise

void GeneralRaiseHandler(const std::exception* object, uintptr_t address, uint8_t runtimeRaise, bool fromExport) {
  TEmberLibraryGlobals& library = EmberLibrary();
  TEmberThreadVars& vars = ThreadVars();
  uint8_t expected = 0;
  if (!vars.InRaiseHandler.compare_exchange_strong(expected, 1)) return;
  // The code that raised may still read its last error in its handler: whatever processing
  // does (files, windows, sockets) must not change it.
  const uint32_t lastError = ember_detail::PlatformLastError();
  try {
    if (!fromExport) {
      vars.ExceptionClassName.Assign(ExceptionClassName(object));
      vars.RaiseAddress = address;
      vars.LastRaisedByRuntime = runtimeRaise;
    }
    // A C++ throw cannot be matched against catch clauses before its unwind starts: it counts
    // as caught, and the main thread processes it at the raise when handled exceptions are to
    // be processed. Operating-system raises have no catching runtime frame in this build.
    bool caught = object != nullptr;
    if (library.LibraryState != 0 && object != nullptr && IsObjectNotListed(object) && !IsAbortException(object)) {
      // The library's own raises (a send's, the worker's) are never processed: they keep the
      // one buffer for the raise of an exception of the program, which may wait for the lock.
      if (!IsInsideLibraryWork()) SaveRaiseStack(vars.RaiseStackPointer);
      const uint16_t behaviour = library.CurrentOptions ? library.CurrentOptions->BehaviourOptions() : 0;
      if (EmberCurrentThreadID() == library.MainThreadID && library.Delegating == 0 && (behaviour & 0x40) != 0) {
        caught = !caught;
      }
    }
    if (library.Delegating != 0) caught = true;
    if (!caught) {
      CentralNotify(object, address, runtimeRaise, 0, 0, nullptr, nullptr, 0, library.Module, 0, 0);
    }
  } catch (...) {
    // the raise goes on whatever happened here
  }
  ember_detail::PlatformSetLastError(lastError);
  vars.InRaiseHandler = 0;
}

uint8_t ExceptionManager(const std::exception* object, uintptr_t address, uint8_t displayMode, uintptr_t module) {
  TEmberLibraryGlobals& library = EmberLibrary();
  if (library.LibraryOn == 0) return 1;
  // Before the lock, as in CentralNotify: on the worker (a dialog's code handing over what it
  // caught) the lock is its faulting thread's, which waits for it.
  if (IsInsideLibraryWork()) return 0;
  try {
    // The main module processes it under its own lock.
    if (library.Delegating != 0) {
      using TManager = uint8_t (*)(const std::exception*, uintptr_t, uint8_t, uintptr_t);
      auto manager = reinterpret_cast<TManager>(GetModuleEventProc(library.MainModule, "ExceptionManager"));
      if (manager != nullptr) return manager(object, address, displayMode, library.Module);
    }
    // Nothing to process is answered before the lock, which a send in the background holds for
    // as long as its server takes: an object processed at its raise, handed over by its catch,
    // would wait for its own report to go out. Asked again under the lock, where another entry
    // may have processed it meanwhile.
    const auto nothingToDo = [&] {
      return library.LibraryState == 0 || !IsObjectNotListed(object) || object == nullptr || IsAbortException(object);
    };
    if (nothingToDo()) return 1;
    const bool lockHeld = library.LibraryLock.HeldByThisThread();
    if (!lockHeld && library.Closing) {  // answered unprocessed, as in CentralNotify
      RunPutOffClose();
      return 1;
    }
    if (LeaveIfGivenUp(object, address, ThreadVars().LastRaisedByRuntime, 0, 0, nullptr, nullptr, displayMode, module,
                       0, 0))
      return 0;
    uint8_t result = 1;
    {
      const TExceptionEntryLock lock;
      if (nothingToDo()) return 1;
      TEmberThreadVars& vars = ThreadVars();
      if (vars.RaiseStackPointer == 0) vars.RaiseStackPointer = ember_detail::PlatformStackPointer();
      uint8_t raisedByRuntime = vars.LastRaisedByRuntime;
      using TLast = uint8_t (*)();
      if (auto last = reinterpret_cast<TLast>(GetModuleEventProc(0, "EmberLog_LastDorvelException"))) {
        raisedByRuntime = last();
      }
      result = NotifyEntry(object, address, raisedByRuntime, 0, 0, nullptr, nullptr, displayMode, module, 0, 0,
                           nullptr, lockHeld);
    }
    // What came in meanwhile, once the lock is given back (the entry's send has it first).
    ProcessKeptExceptions();
    RunPutOffClose();
    EndEntryWait(object);
    return result;
  } catch (...) {
    return 1;
  }
}

void DoneExcept(const std::exception* object) {
  TEmberLibraryGlobals& library = EmberLibrary();
  if (library.LibraryOn == 0 || library.LibraryState == 0 || object == nullptr || !library.CurrentOptions) return;
  if ((library.CurrentOptions->BehaviourOptions() & 0x0100) == 0 || !IsObjectNotListed(object)) return;
  CentralNotify(object, ThreadVars().RaiseAddress, 1, 0, 0, nullptr, nullptr, 0, library.Module, 0, 1);
}

bool HandleCaughtException(const std::exception* object, uint8_t displayMode) {
  TEmberLibraryGlobals& library = EmberLibrary();
  return ExceptionManager(object, ThreadVars().RaiseAddress, displayMode, library.Module) != 0;
}

std::string GetLastHTMLPage() {
  std::lock_guard<std::mutex> guard(LastPageLock());
  return LastPage();
}

namespace ember_detail {
void AppendLastHTMLPage(const char* text, size_t size) {
  std::lock_guard<std::mutex> guard(LastPageLock());
  LastPage().append(text, size);
}

void SetLastHTMLPage(const std::string& text) {
  std::lock_guard<std::mutex> guard(LastPageLock());
  LastPage() = text;
}
}  // namespace ember_detail

void* CurrentISAPIControlBlock() {
  // The worker that processes an exception serves no request itself: it answers the faulting
  // thread's.
  void* own = ThreadVars().ControlBlock;
  return own != nullptr ? own : EmberLibrary().RequestControlBlock;
}

void SetWritingISAPIAnswer(bool writing) { ThreadVars().WritingAnswer = writing ? 1 : 0; }

void SetEmberMainWindowFinder(TEmberMainWindowFinder finder) { gMainWindowFinder = finder; }

uintptr_t FindProcessMainWindow() {
  TEmberMainWindowFinder finder = gMainWindowFinder.load();
  return finder != nullptr ? finder(ember_detail::PlatformProcessID()) : 0;
}

// --- Leak report

namespace {

struct TLeakTotals {
  uint32_t Size = 0;
  uint32_t Count = 0;
  std::unique_ptr<TEmberStackList> Stack;
};

TLeakTotals& LeakTotals() {
  static TLeakTotals totals;
  return totals;
}

void LeaksBegin() {
  LeakTotals() = TLeakTotals();
  LeakTotals().Stack = std::make_unique<TEmberStackList>();
}

// One leak as call-stack entries: only those with a procedure, the first with a source line.
void AddLeak(const std::string& type, uint32_t size, uint32_t count, const uint32_t* stack) {
  TLeakTotals& totals = LeakTotals();
  if (!totals.Stack) return;
  std::vector<TEmberStackItem> kept;
  for (int32_t i = 0; i < LeakStackDepth && stack[i] != 0; ++i) {
    TEmberStackItem item;
    ClearStackItem(item);
    GetAddressInfo(stack[i], 0, item, kept.empty(), 0);
    if (item.Kind >= 2 && item.Kind <= 4) kept.push_back(item);
  }
  if (kept.empty() || kept.front().Kind != 4) return;
  for (size_t i = 0; i < kept.size(); ++i) {
    TEmberStackItem& entry = *totals.Stack->NewItem();
    entry = kept[i];
    entry.IsFirst = i == 0 ? 1 : 0;
    entry.IsLeak = 1;
    entry.LeakType.Assign(type);
    entry.LeakSize = size;
    entry.LeakCount = count;
  }
  totals.Size += size;
  totals.Count += count;
}

// All leaks as one EMemoryLeak, processed at once with the leaks as its call stack.
void LeaksEnd() {
  TEmberLibraryGlobals& library = EmberLibrary();
  TLeakTotals& totals = LeakTotals();
  if (totals.Size > 0 && totals.Stack && totals.Stack->Count() > 0 && library.CurrentOptions) {
    TEmberModuleOptionsEx& options = *library.CurrentOptions;
    options.SetLogOptions(static_cast<uint8_t>(options.LogOptions() & ~0x20));
    char message[512];
    std::snprintf(message, sizeof message, "%s: %s=%u - %s=%u", options.GetCustomizedExpandedText(105).c_str(),
                  options.GetCustomizedExpandedText(108).c_str(), static_cast<unsigned>(totals.Size),
                  options.GetCustomizedExpandedText(109).c_str(), static_cast<unsigned>(totals.Count));
    EMemoryLeak object(message);
    // The leaks are known only when the module's code is being taken down: no handler of the
    // module is called from here on (SynchronizeExceptionCall does nothing) until the tracker
    // has finished.
    library.LeakReportRunning = true;
    CentralNotify(&object, 0, 0, 0, 0, nullptr, nullptr, 0, library.Module, 0, 0, totals.Stack.get());
    ForgetHandledObject(&object);
  }
  totals.Stack.reset();
}

// The tracker's last call: the leak report is over.
void LeaksFinished() {
  LeakTotals() = TLeakTotals();
  EmberLibrary().LeakReportRunning = false;
}

// A fault found while freeing a block, processed on the freeing thread with its stack.
void ReportFreeFault(EMemoryLeak& object) {
  TEmberThreadVars& vars = ThreadVars();
  vars.RaiseContextFilled = 0;
  vars.RaiseRecordFilled = 0;
  CentralNotify(&object, 0, 0, 0, ember_detail::PlatformStackPointer(), nullptr, nullptr, 0, EmberLibrary().Module, 0,
                0);
  ForgetHandledObject(&object);
}

// The library's own objects of a report are not tracked.
struct TUntracked {
  TUntracked() { ++ThreadVars().Untracked; }
  ~TUntracked() { --ThreadVars().Untracked; }
};

void Overrun() {
  TUntracked untracked;
  const TEmberModuleOptionsEx* options = EmberLibrary().CurrentOptions.get();
  EMemoryOverrun object(options != nullptr ? options->GetCustomizedExpandedText(155) : GetDefaultText(155));
  ReportFreeFault(object);
}

void MultiFree() {
  TUntracked untracked;
  const TEmberModuleOptionsEx* options = EmberLibrary().CurrentOptions.get();
  EMultiFree object(options != nullptr ? options->GetCustomizedExpandedText(154) : GetDefaultText(154));
  ReportFreeFault(object);
}

void* AllocateObject(size_t size, const void* callSite, const void* callerStack) {
  return LeakAllocate(size, true, reinterpret_cast<uintptr_t>(callSite), reinterpret_cast<uintptr_t>(callerStack));
}

void StartLeaks(uint8_t flags) {
  TLeakHandlers handlers;
  handlers.OnOverrun = &Overrun;
  handlers.OnMultiFree = &MultiFree;
  handlers.OnLeaksBegin = &LeaksBegin;
  handlers.OnLeak = &AddLeak;
  handlers.OnLeaksEnd = &LeaksEnd;
  handlers.OnFinish = &LeaksFinished;
  SetLeakHandlers(handlers);
  if (StartLeakTracking(flags)) SetObjectAllocator(&AllocateObject, &LeakFree);
}

// The leaks are reported while the library is still attached, under its lock.
void StopLeaks() {
  {
    std::lock_guard<TEmberLibraryLock> lock(EmberLibrary().LibraryLock);
    StopLeakTracking();
  }
  SetObjectAllocator(nullptr, nullptr);
  SetLeakHandlers(TLeakHandlers());
}

}  // namespace

// --- Attachment

void StartExceptionLog() {
  if (gStarted.exchange(true)) return;
  {
    SafeCallProc(
        [] {
          TEmberLibraryGlobals& library = EmberLibrary();
          library.Module = GetThisModuleHandle();
          library.IsDll = ember_detail::PlatformIsMainModuleDll() ? 1 : 0;
          library.Initialising = 1;
          library.Finalising = 0;
          ClearRaiseState(ThreadVars());
          library.RaiseStack.reset(new uint8_t[EmberRaiseStackSize]);
          library.ProcessesList = std::make_unique<TEmberProcessesList>();
          ResetModuleSharedMemory(library.Module);
          library.CurrentOptions = std::make_unique<TEmberModuleOptionsEx>(std::string(), library.Module);
          uint8_t leakFlags = 0;
          // Published once below, when they are loaded, not again by every step of loading.
          library.CurrentOptions->BeginUpdate();
          const bool loaded = ember_detail::PlatformLoadOwnOptions(*library.CurrentOptions, leakFlags);
          library.CurrentOptions->EndUpdate();
          if (!loaded) {
            // Without library data the module is not processed: nothing is hooked.
            library.CurrentOptions.reset();
            library.ProcessesList.reset();
            CloseModuleSharedMemory();
            library.RaiseStack.reset();
            library.Initialising = 0;
            return;
          }
          library.MainThreadStackTop = ember_detail::PlatformStackTop();
          library.EventHolders = std::make_unique<TEmberLogList>();
          library.MainThreadID = EmberCurrentThreadID();
          // Made once and kept (see the detachment); what a late thread left in it goes now.
          if (!library.ThreadsList) library.ThreadsList = std::make_unique<TEmberThreadsList>();
          library.ThreadsList->BeginWrite();
          library.ThreadsList->Clear();
          TEmberThreadInfo* main = library.ThreadsList->NewItem(true);
          main->ThreadID = library.MainThreadID;
          main->Handle = library.MainThreadHandle;
          main->StackTop = library.MainThreadStackTop;
          library.ThreadsList->EndWrite();
          library.LibraryOn = 1;
          library.LibraryState = 1;
          SaveOptionsToSharedMemory(*library.CurrentOptions);
          ember_detail::PlatformAttach();
          SetCaughtExceptionHandler(&HandleCaughtException);
          if (!IsRunningInIDE()) StartLeaks(leakFlags);
          library.Initialising = 0;
          StartFreezeThread();
        },
        "ExceptionLog.Init");
  }
}

void StopExceptionLog() {
  if (!gStarted) return;
  // Its report waits for the library lock, which the detachment holds.
  StopFreezeThread();
  SafeCallProc(
      [] {
        TEmberLibraryGlobals& library = EmberLibrary();
        // Held from the pass to the end of the reset: an entry that waited meanwhile finds the
        // library off (a close that holds it already passes through at once).
        std::lock_guard<TEmberLibraryLock> lock(library.LibraryLock);
        library.Finalising = 1;
        if (library.LibraryOn != 0) {
          StopLeaks();
          SetCaughtExceptionHandler(nullptr);
          SetExceptionCopier(nullptr, nullptr);
          ember_detail::PlatformDetach();
          library.LibraryOn = 0;
          library.LibraryState = 0;
        }
        // Each step may run again: a thread killed inside leaves the rest to the next detachment.
        // What a small lock guards is taken out under it and freed after, so that no wait of the
        // memory manager's falls inside it.
        std::set<const void*> handled;
        {
          std::lock_guard<std::mutex> guard(library.HandledObjectsLock);
          handled.swap(HandledObjects());
        }
        handled.clear();
        library.EventHolders.reset();
        // The threads list is emptied, not freed: a thread of the module that is making or ending
        // a thread may have found the library on and be about to use it. It goes with the module.
        if (library.ThreadsList) {
          library.ThreadsList->BeginWrite();
          library.ThreadsList->Clear();
          library.ThreadsList->EndWrite();
        }
        library.ProcessesList.reset();
        library.CurrentOptions.reset();
        CloseModuleSharedMemory();
        library.CurrentException = TEmberExceptionRecord();
        {
          std::lock_guard<std::mutex> guard(LastPageLock());
          LastPage().clear();
        }
        std::unique_ptr<uint8_t[]> raiseStack;
        {
          std::lock_guard<std::mutex> guard(library.RaiseStackLock);
          raiseStack = std::move(library.RaiseStack);
          library.RaiseStackUsed = 0;
        }
      },
      "ExceptionLog.Done");
  gStarted = false;
}
