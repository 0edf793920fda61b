// The exception library's attachment to its module and the raise road: the library's global
// and per-thread state, the raise handler, the central notification that serialises processing,
// the calls handed to the faulting thread, and start-up and shut-down.
//
// How exceptions reach the library in this build (mingw, DWARF-2 unwinding, static C++
// runtime):
// - C++ throws: every throw of the module goes through the runtime's __cxa_throw; the library
//   links with "--wrap=__cxa_throw", so the throw first enters the library's wrapper, which
//   records the raise (object, address = return address of the throwing call, a captured
//   context) and runs GeneralRaiseHandler, then calls the real routine. DWARF unwinding has no
//   handler chain to inspect before the unwind, so a C++ throw counts as caught; it is
//   processed at the raise when BehaviourOptions bit 0x40 (process handled exceptions) is set
//   in the main thread. A throw that nothing catches ends in the runtime's terminate handler,
//   which the library replaces (the unhandled-exception procedure): it notifies the exception
//   as unhandled, unless it was processed already (at its raise), and ends the program (exit
//   code 1) or the thread.
// - C++ rethrows ("throw;") go through the runtime's __cxa_rethrow, wrapped the same way: the
//   rethrow is a raise of the caught object at the rethrowing call. An object processed already
//   is not processed again (it stays in the handled-objects list); the raise fields (class name,
//   address, context) describe the rethrow, not what was thrown and caught inside the catch
//   block meanwhile; and the catch block that rethrew does not count as having handled it.
// - Operating-system raises: the module's import of RaiseException is replaced; the
//   replacement fills the per-thread raise record and context, notifies unless a handler of
//   the runtime in the thread's SEH chain will catch it (this runtime registers none), then
//   calls the real routine. RtlUnwind is replaced only to keep the stack pointer.
// - Faults of the module's own code (access violation, division by zero, ...) are seen by a
//   vectored handler as the system dispatches them: only faults whose address lies inside the
//   module are reported (as an EExternal object), and the search for a handler always goes on,
//   so that the host's own structured handling is unchanged.
// - Exceptions that the module's code lets through to where they must stop (the plug-in's host
//   entries, window procedures, callbacks) are handed over by the class library's
//   HandOverCaughtException to ExceptionManager; the catch blocks' start and end are wrapped
//   too, so that the end of a catch can report what it handled (BehaviourOptions 0x0100).
// - Faults that nothing handles reach the library's unhandled-exception filter, which reports
//   those of the module's code not reported yet and then answers what the filter it replaced
//   answers; the old filter is put back at shut-down unless another one was installed since.
// - CreateThread, ResumeThread and ExitThread imports keep the threads list in step. Threads
//   created through CreateThread start in the library's wrapper: an exception that leaves the
//   thread's start routine is notified as reaching the thread's end (raise kind 2) and the
//   thread ends with code 1 instead of taking the process down. The WriteFile import keeps what
//   a CGI program writes to its standard output; the module's HttpExtensionProc, when it exports
//   one, is wrapped (below).
// - A thrown object's address leaves the handled-objects list when the runtime frees it (and
//   when a new throw reuses it), so a later exception at the same address is processed too.
// Attachment never happens under the loader lock: the module calls StartExceptionLog from its
// first entry (or a program from main) and StopExceptionLog before it unloads. A module attaches
// only when it carries its library data (tools/eldata) or debug information.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EmberRecords.h"
#include "classlib/SysUtils.h"

// --- Codes of the raise road

constexpr uint32_t EmberThreadNamingCode = 0x406D1388;   // with 4 parameters
constexpr uint32_t EmberDebuggerNotifyCode = 250477284;   // flags 0, 2 parameters
constexpr uint32_t EmberRuntimeRaiseCode = 250477278;     // flags 1, 7 parameters
constexpr uint32_t EmberRaiseStackSize = 102400;
extern const char* const EmberSafeCallPrefix;             // "[SafeCall Exception]: "

// --- Faults of the processor and the system

// A fault (access violation, division by zero, ...) of the module's own code, reported as an
// exception of this class family; the message names the fault, its address and, for an access
// violation, the address read or written.
KBL_DECLARE_EXCEPTION(EExternal, Exception);
KBL_DECLARE_EXCEPTION(EAccessViolation, EExternal);
KBL_DECLARE_EXCEPTION(EDivByZero, EExternal);
KBL_DECLARE_EXCEPTION(EIntOverflow, EExternal);
KBL_DECLARE_EXCEPTION(EZeroDivide, EExternal);
KBL_DECLARE_EXCEPTION(EInvalidOp, EExternal);
KBL_DECLARE_EXCEPTION(EPrivilege, EExternal);
KBL_DECLARE_EXCEPTION(EStackOverflow, EExternal);

// The exception object for a system exception record: its code, the faulting address and the
// record's parameters (for an access violation: 0 read, 1 write, 8 execute, then the address).
std::unique_ptr<EExternal> MakeSystemException(uint32_t code, uintptr_t address, uint32_t parameterCount,
                                               const uintptr_t* parameters);

// --- Per-thread state

struct TEmberThreadVars {
  uint8_t Busy = 0;              // inside CentralNotify
  // Set while the library's own work runs on this thread outside CentralNotify (a report being
  // sent, the send's progress dialog): what that work raises or catches is the library's own
  // failure, kept as its last error and never processed as an exception of the program, so a
  // send never starts a send of its own failure. SynchronizeExceptionCall clears it while it
  // runs a handler of the program.
  uint8_t LibraryWork = 0;
  // Above 0 while the library runs the program's code on this thread (a handler of an event, a
  // window answered while the faulting thread waits): what comes in there is an exception of
  // the program, also on a thread inside the library's work.
  uint8_t ProgramCode = 0;
  // Set when the runtime has ended the program's code on this thread (its terminate handler):
  // what the library still completes on it runs no handler of the program any more.
  uint8_t ProgramCodeEnded = 0;
  // Set on a thread of the library's own work that may be given up where it waits (a background
  // send; see TEmberPark).
  struct TEmberPark* Park = nullptr;
  uint8_t Terminating = 0;       // the library's terminate handler runs on this thread
  // Set while an entry runs that the process's end may follow at once (a fault no handler may
  // take): the wait of that entry is kept for the end's bound when the entry is over.
  uint8_t EndFollows = 0;
  uint8_t FreezeWatch = 0;       // this thread is a freeze watch: its reports are the main thread's
  uint8_t Untracked = 0;         // the library's own allocations: the leak tracker skips them
  uint8_t InFreeze = 0;          // this thread has another one suspended to read its stack
  std::atomic<uint8_t> InRaiseHandler{0};
  uint8_t Processing = 0;        // processing runs for this thread
  TEmberShortString<64> ExceptionClassName;
  uintptr_t RaiseAddress = 0;
  uint32_t RaiseStackPointer = 0;
  uint32_t RaiseEntryStackPointer = 0;
  uint32_t RaiseRegister = 0;
  alignas(16) uint8_t RaiseContext[716] = {};  // a CONTEXT (204 bytes used: i386 control+integer)
  uint8_t RaiseContextFilled = 0;
  uint8_t RaiseRecord[80] = {};  // an EXCEPTION_RECORD
  uint8_t RaiseRecordFilled = 0;
  uint8_t LastRaisedByRuntime = 0;
  // The objects of the catch blocks this thread is in (innermost last), for the end of a catch;
  // a block that rethrew its object did not handle it.
  static constexpr int32_t MaxCatchDepth = 16;
  int32_t CatchDepth = 0;
  const std::exception* Caught[MaxCatchDepth] = {};
  bool Rethrown[MaxCatchDepth] = {};
  // The ISAPI request this thread serves (its extension control block), nullptr outside one.
  void* ControlBlock = nullptr;
  // Set while the library writes its own answer (the error page) into a request.
  uint8_t WritingAnswer = 0;
};

// The calling thread's variables.
TEmberThreadVars& ThreadVars();

// The calling thread is inside the library's own work: inside CentralNotify (the faulting
// thread, or the worker that processes for it) or in LibraryWork, and not in the program's code
// that the library runs there (ProgramCode). An entry of an exception (CentralNotify,
// ExceptionManager) on such a thread answers at once, before it would wait for the library
// lock, which its own faulting thread or send may hold while it waits for this one: what the
// library's own code raises is its own failure. What the program's code lets in on a thread
// inside CentralNotify is kept and processed, as its own, once that entry has ended.
bool IsInsideLibraryWork();

// --- The library lock

// Re-entrant; it knows whether the calling thread holds it, so that no thread waits for it
// holding it already. Lockable (lock_guard, unique_lock). A holder that will not give it back is
// not waited for: a thread that ended holding it (killed), one that left it behind when an
// exception was unwound past its entry to a handler outside the library (TExceptionEntryLock),
// and a send given up where it waits (GiveUpHolder). The next thread that takes it takes it
// over: it first waits for the gone holder's worker, if it had one, and resets what the holder
// left half done (the processing's state, then the report side's, SetLibraryLockTakeOver, then
// an attachment's, SetAttachmentHeir), so that later exceptions are still processed and sent, and
// none with a library half attached.
class TEmberLibraryLock {
 public:
  TEmberLibraryLock() = default;
  ~TEmberLibraryLock();
  TEmberLibraryLock(const TEmberLibraryLock&) = delete;
  TEmberLibraryLock& operator=(const TEmberLibraryLock&) = delete;
  void lock();
  void unlock();
  bool try_lock();
  bool HeldByThisThread() const;
  // Gives back every hold of the calling thread (a thread the runtime ends, after the work it
  // registered has run: no other thread may wait for it for ever).
  void UnlockAll();
  // Takes the lock within `milliseconds` (~0u: no limit); false when it could not be had then.
  // `answering`: the thread answers what other threads send to its windows meanwhile. `judge`:
  // the waiter is an exception's entry, which waits for a send a bounded time
  // (SetLockHolderJudge).
  bool LockWithin(uint32_t milliseconds, bool answering, bool judge);
  // The thread that holds it (its id; 0 when none).
  uint32_t Holder() const { return holder_.load(); }
  // The lock of `thread`, which is parked for good where it stands (a send given up): a fresh
  // system object takes its place, and the next holder takes it over. False when `thread` does
  // not hold it.
  bool GiveUpHolder(uint32_t thread);
  // Gives back the calling thread's holds down to `count` (a holder's frame unwound); the next
  // holder takes over what was left half done.
  void LeaveHoldsDownTo(int32_t count);
  // How often the calling thread holds it.
  int32_t HoldCount() const;

 private:
  uintptr_t Object();
  std::atomic<uintptr_t> object_{0};  // the system's re-entrant lock object, made at first use
  std::atomic<uint32_t> holder_{0};
  std::atomic<bool> takeOver_{false};  // the last holder left its work half done
};

// A lock of the system's around work that may wait on others (a library load, an allocation): a
// holder that ended without giving it back (killed) leaves it to the next thread, which finds the
// work as far as that holder came, instead of holding it for good. Not re-entrant; lockable.
class TEmberWorkLock {
 public:
  TEmberWorkLock() = default;
  ~TEmberWorkLock() { Close(); }
  TEmberWorkLock(const TEmberWorkLock&) = delete;
  TEmberWorkLock& operator=(const TEmberWorkLock&) = delete;
  void lock();
  void unlock();
  // Whether a use made its system object.
  bool Made() const { return object_.load() != 0; }
  // Gives its system object back (the module unloads: a host that loads it again and again pays
  // no handle for each load); a later use makes another.
  void Close();

 private:
  std::atomic<uintptr_t> object_{0};  // made at first use, kept until the module unloads
};

// Installed by the report side: what its part of the library's state needs when the library
// lock is taken over (a send that held it is gone). Runs under the lock, after the processing's
// own state was reset.
using TEmberLockTakeOver = void (*)();
void SetLibraryLockTakeOver(TEmberLockTakeOver proc);

// Installed by the report side: run next, as the library's own work, so that nothing is done
// under the lock with what an attachment or detachment whose thread ended holding it left half
// done: that work is undone or finished here. False when a live thread has that work under way
// and needs the lock for it: the lock is given back and waited for again (EmberSendWaitLimitMs at
// most), and its next holder takes it over in turn.
using TEmberAttachmentHeir = bool (*)();
void SetAttachmentHeir(TEmberAttachmentHeir proc);

// Installed by the report side: asked, in slices, by an entry that has waited `waitedMs` for the
// lock; it may give up the send that holds it (GiveUpHolder) and answers
// whether it did.
using TEmberLockHolderJudge = bool (*)(uint32_t waitedMs);
void SetLockHolderJudge(TEmberLockHolderJudge judge);

// --- Threads of the library's own work that may be given up
//
// A background send waits on others: in handlers of the program, for a network, for the user.
// Each such wait is a park: the thread touches nothing of the library's state until it ends. A
// thread given up (an entry or the last close waited long enough, GiveUpParked) leaves where it
// stands when its park ends, through `Leave`, without touching anything more: its report stays in
// the log file. The thread registers its park in ThreadVars().Park for as long as it runs.
struct TEmberPark {
  std::atomic<uint32_t> State{0};  // bit 0: parked; bit 1: given up
  void (*Leave)() = nullptr;       // ends the calling thread where it stands; never returns
};

// A park of the calling thread for its lifetime (nothing when the thread has none). A thread
// given up before it parks, or while it was parked, leaves at once / when the park ends.
class TEmberParked {
 public:
  TEmberParked();
  ~TEmberParked();
  TEmberParked(const TEmberParked&) = delete;
  TEmberParked& operator=(const TEmberParked&) = delete;

 private:
  TEmberPark* park_;
  bool outer_ = false;  // inside another park
};

// Gives up the thread of `park`: it leaves at its park's end, or at its next park. Answers true
// when it is parked now (and so touches nothing more).
bool GiveUpParked(TEmberPark& park);
// True while the thread of `park` is parked.
bool IsParked(const TEmberPark& park);
// The steady clock in milliseconds (the bounds of the library's waits).
int64_t EmberNowMs();

// Heirs of the library lock: threads started under the lock by one exception's processing that
// must have it before the next exception's entry does (a background send, which works from that
// exception's record, report and decisions). The starter registers the heir before it gives the
// lock back (AddLockHeir) and names its thread when it has one (SetLockHeirThread, with the
// thread's system handle, 0 when it has none); the heir leaves (RemoveLockHeir) as soon as it
// holds the lock, or when it ends without it. An heir whose thread has ended, killed even, is
// waited for no more.
int32_t AddLockHeir();
void SetLockHeirThread(int32_t heir, uintptr_t threadHandle);
void RemoveLockHeir(int32_t heir);
// True while a registered heir does not hold the lock yet and its thread may still take it.
bool LockHeirWaiting();

// --- Work the runtime may cut short on its thread
//
// The runtime ends a thread's code in its terminate handler (an exception left a function that
// may not raise, or nothing caught it), without unwinding the frames below: the library's
// handler then ends the thread (the process, on the main thread). What the library's code must
// not leave half done when that happens on a thread of its work (the library lock held, a
// faulting thread waiting for the worker or the worker for it, a send whose report is not out
// yet) registers here for the time it runs; the handler runs each registered work, the innermost
// first, with no handler of the program any more (ProgramCodeEnded), and only then ends the
// thread. A work runs at most once; the objects it uses are in the frames below it, which are
// still there.
class TThreadEndWork {
 public:
  TThreadEndWork(const TThreadEndWork&) = delete;
  TThreadEndWork& operator=(const TThreadEndWork&) = delete;

 protected:
  TThreadEndWork();
  virtual ~TThreadEndWork();

 private:
  virtual void Run() = 0;
  friend bool RunThreadEndWork();
  TThreadEndWork* outer_;
};

template <typename TWork>
class TOnThreadEnd final : public TThreadEndWork {
 public:
  explicit TOnThreadEnd(TWork work) : work_(std::move(work)) {}

 private:
  void Run() override { work_(); }
  TWork work_;
};

// Runs the calling thread's innermost registered work and forgets it; false when there is none.
// Never raises.
bool RunThreadEndWork();

// How the calling thread ends when the library ends it (the runtime ended its code) or the
// program's code on it calls ExitThread: a thread of the library that holds its module gives
// that hold back there. Never returns; nullptr (the default): the system's thread end.
void SetThreadLeave(void (*leave)());
void (*ThreadLeave())();

// --- Global state (one set per module that links the library)

class TEmberLogList;

struct TEmberLibraryGlobals {
  std::atomic<uint8_t> LibraryOn{0};
  uint8_t Delegating = 0;
  uint8_t OwnRuntimeHooks = 1;
  uint8_t Initialising = 0;
  uint8_t Finalising = 0;
  uint8_t LibraryState = 0;
  uint8_t IsDll = 0;
  uintptr_t Module = 0;          // this module
  uintptr_t MainModule = 0;      // the process's main module
  std::unique_ptr<TEmberModuleOptionsEx> CurrentOptions;
  std::unique_ptr<TEmberProcessesList> ProcessesList;
  std::unique_ptr<TEmberThreadsList> ThreadsList;
  std::unique_ptr<TEmberLogList> EventHolders;
  std::unique_ptr<uint8_t[]> RaiseStack;
  uint32_t RaiseStackUsed = 0;
  uint32_t RaiseStackStart = 0;   // the stack pointer the copy starts at
  uint32_t RaiseStackThread = 0;  // the thread whose stack it is
  uint32_t MainThreadID = 0;
  uint32_t MainThreadHandle = 0;
  uint32_t MainThreadStackTop = 0;
  uint32_t FreezeThreadID = 0;   // the freeze watch's thread while it runs
  // Above 0 while the main thread is inside an entry of the library (waiting for the library
  // lock, a report being processed) or waits for a background send: it answers at most what
  // other threads send to its windows then, and the freeze watch does not take the library's own
  // wait for a frozen program.
  std::atomic<int32_t> MainThreadInside{0};
  TEmberExceptionRecord CurrentException;
  TEmberExceptionRecord* ProcessingRecord = nullptr;
  // The ISAPI request of the faulting thread while its exception is processed.
  void* RequestControlBlock = nullptr;
  // Set while the leak report runs: SynchronizeExceptionCall then does nothing.
  std::atomic<bool> LeakReportRunning{false};
  // Set by the report side while the last close is under way: an entry that would wait for the
  // library lock is answered at once, unprocessed, so that the close waits only for what was
  // being processed when it began. Cleared by an open that undoes that close.
  std::atomic<bool> Closing{false};
  std::atomic<int32_t> StepCounter{0};
  int32_t LinkCursor = 32649;
  TEmberLibraryLock LibraryLock;
  std::mutex HandledObjectsLock;
  std::mutex RaiseStackLock;
};

TEmberLibraryGlobals& EmberLibrary();

// Holds the library lock for an exception's entry (CentralNotify, ExceptionManager). Taken by a
// thread that does not hold it yet, it also lets the lock's heirs have it first: a background
// send started by one exception's processing runs before the next exception is processed, so
// that it sends that exception's report and acts on that exception's decisions. A thread that
// holds the lock already (an entry inside an entry, an exception handed over inside a send)
// takes it again at once: it could never give it back to an heir. A thread with a message queue
// answers the messages sent to its windows while it waits (a send's handler may ask one of them
// while its send holds the lock); an exception processed in one of those answers is an entry of
// its own, and the waiting entry's raise is still its own afterwards. A send that holds the lock
// is waited for a bounded time (SetLockHolderJudge). On Windows (i386) the entry stands on the
// stack as an exception registration: an exception unwound past it to a handler outside the
// library (a host's guard) gives the lock back and ends the entry's work on the thread, so that
// the thread's later exceptions are processed again and no one waits for the lock it left.
class TExceptionEntryLock {
 public:
  TExceptionEntryLock();
  ~TExceptionEntryLock();
  TExceptionEntryLock(const TExceptionEntryLock&) = delete;
  TExceptionEntryLock& operator=(const TExceptionEntryLock&) = delete;

#if defined(_WIN32) && defined(__i386__)
  // Called by the system for every exception dispatched or unwound past the entry.
  static int Handle(void* record, void* frame, void* context, void* dispatcher) noexcept;
#endif

 private:
  void LeftByUnwind() noexcept;
  void Unlink() noexcept;
#if defined(_WIN32) && defined(__i386__)
  // The layout of an exception registration (the next one, the handler), then the entry.
  struct TRegistration {
    TRegistration* Next;
    void* Handler;
    TExceptionEntryLock* Entry;
  } frame_;
#endif
  const bool main_;
  int32_t holdsBefore_ = 0;
  void* endWorkBefore_ = nullptr;
  // The thread's marks when the entry began, which an unwind past it puts back.
  uint8_t busyBefore_ = 0, programCodeBefore_ = 0, libraryWorkBefore_ = 0;
  const void* entryObjectBefore_ = nullptr;
};

// --- Processing

// The arguments CentralNotify hands to the processing of one exception.
struct TEmberNotifyArgs {
  const std::exception* Object = nullptr;
  uintptr_t Address = 0;
  uint8_t RaisedByRuntime = 0;
  TExceptNotifyParams Params;
  uint8_t DisplayMode = 0;
  uintptr_t Module = 0;
  uint8_t RaiseKind = 0;
  // The faulting thread held the library lock before this entry (a send under way, another
  // module's event call): a send in the background could have it only once that hold ends,
  // after whatever this thread processes next.
  uint8_t LockHeld = 0;
  // A kept exception processed as the library ends the process: the end is decided, so it is
  // logged only (no dialog, no send) and asks no end of its own.
  uint8_t AtEnd = 0;
};

// Processes one exception; answers 1 when the runtime is to go on with its own handling.
// Runs under the library lock on the worker thread or inline; may raise (CentralNotify
// catches everything).
using TEmberProcessExceptionProc = uint8_t (*)(const TEmberNotifyArgs& args);

// Installs the processing (nullptr: the default, which fills the current exception record and
// raises the exception event, or the handled-exception event, on the faulting thread, and
// answers 1 unless a handler cleared the continue flag).
void SetProcessExceptionProc(TEmberProcessExceptionProc proc);

// The default processing described above (for processing procedures that build on it).
uint8_t DefaultProcessException(const TEmberNotifyArgs& args);

// The central notification. `stackTop` 0: the thread's stack top; `stackPointer` 0: the
// per-thread raise stack pointer; `context`/`record` nullptr: the per-thread raise context and
// record. Answers the processing's result, 1 when nothing was processed, 0 for a nested
// notification in a thread that is already inside. Safe from any thread; never raises.
uint8_t CentralNotify(const std::exception* object, uintptr_t address, uint8_t raisedByRuntime,
                      uint32_t stackTop, uint32_t stackPointer, void* context, void* record,
                      uint8_t displayMode, uintptr_t module, uint8_t raiseKind, uint8_t handled,
                      TEmberStackList* callStack = nullptr);

// Copies of exception objects that outlive their thrower (the report side's), for exceptions
// kept while an entry is under way on their thread (IsInsideLibraryWork). Without them such an
// exception is answered at once and not processed. Set before attachment (StartExceptionLog),
// cleared by StopExceptionLog.
using TEmberCopyException = const std::exception* (*)(const std::exception* object);
using TEmberFreeExceptionCopy = void (*)(const std::exception* copy);
void SetExceptionCopier(TEmberCopyException copy, TEmberFreeExceptionCopy free);

// Processes the exceptions kept on the calling thread (above), each as an entry of its own, once
// no entry is under way on it any more; does nothing inside one. What a thread that is gone kept
// (it ended, or an unwind took it out of its entries) is processed by the next thread that comes
// here. `threadEnds`: the runtime ended the program's code on the thread (its terminate handler),
// which processes what it kept before the thread goes. Never raises.
void ProcessKeptExceptions(bool threadEnds = false);

// The longest an exception's entry, an end of the process or the last close waits for reports
// being sent in the background, and an end for the exceptions kept to be processed (in all, for
// an end or the close). A send still going then is given up where it waits (a handler of the
// program, the network, the user): it touches nothing more and its thread ends when that wait
// does; its report stays in the log file.
constexpr uint32_t EmberSendWaitLimitMs = 10000;

// Work the library started on other threads that must be over before the library ends the
// process (a report still being sent in the background): installed by the report side, and run
// by every path of the library that ends the process, on the ending thread, after the exceptions
// still kept (ProcessKeptExceptions) are processed: what was handed over before the end is logged,
// within the end's bound, whichever thread kept it. `closing` false: the
// process may yet go on (an unhandled fault, whose end is the system's or another filter's
// choice): the work is waited for, nothing is closed for good and no lock is given back. Never
// raises.
using TEmberBeforeProcessEnd = void (*)(bool closing);
void SetBeforeProcessEnd(TEmberBeforeProcessEnd proc);
void RunBeforeProcessEnd(bool closing = true);
// How long the entry of the exception that ends the process (the calling thread's entry under
// way, or the one the worker processes for) waited for a send that held the library lock; 0 when
// it did not wait. The end's own wait for sends lasts the rest of the bound: the two last it in
// all. An entry over and gone back to the program's code leaves no wait behind: an end that comes
// later is not its exception's (the terminate handler and an unhandled fault's end follow their
// exception's entry, and keep it).
int64_t EntryWaitedMs();
// The calling thread's end comes without an entry of its own (no exception object): it counts
// afresh.
void ForgetEntryWait();
// The end that follows counts `milliseconds` as the wait of its exception's entry (one processed
// earlier on this thread, as a fault at its dispatch).
void SetEntryWait(int64_t milliseconds);
// The wait of the calling thread's last entry that is over, when it was `object`'s (processed at
// its raise, before the runtime ends the thread for it); 0 otherwise.
int64_t EntryWaitOfEnded(const void* object);

// The last close asked inside an exception's processing on the calling thread (the faulting
// thread answers the host's messages while its dialog shows, or the worker runs the program's
// code): the library's state must outlive that processing, so `close` is put off and runs once
// that exception's entry has ended, on the thread that ends it (on a worker: its faulting
// thread), after the exceptions kept there meanwhile. Another thread's entry never runs it,
// unless that thread is gone (ended, or unwound out of its entries). False when the thread is
// inside no processing (the caller closes now).
bool PutOffUntilEntryEnds(void (*close)());
// Forgets a close put off (the library was opened again meanwhile); true when there was one.
bool CancelPutOffClose();
// An end of the process decided by the processing under way on the calling thread (on a worker:
// its faulting thread's) whose report goes out in the background: `end` runs as that entry ends,
// after the library lock is given back (the send has it then), or, when the thread is gone, where
// the next entry ends. An end runs before a close put off. False when the thread is inside no
// processing.
bool PutOffEndUntilEntryEnds(void (*end)());
// The work of the library's attachment under way on the calling thread (an attachment, the last
// close, a detachment); nullptr: it is over. Should the thread end inside it (killed), `carryOn`
// runs where the next entry of another thread ends, or where a background send is done
// (RunPutOffWork), to finish or undo it.
void MarkAttachmentWork(void (*carryOn)());
// Runs what was put off for the calling thread's entries that are over, or left by a thread that
// is gone (above); does nothing inside an entry or while the thread holds the library lock. For a
// thread of the library's own that is done with its work (a background send).
void RunPutOffWork();

// Set by the processing while an exception dialog shows: a faulting main thread then handles
// its messages (all but keyboard and mouse input) while it waits, so that its windows repaint
// and windows the dialog asks get their answers.
void SetExceptionDialogShowing(bool showing);

// Runs `call` on the faulting thread while an exception is processed on the worker thread
// (waiting, in steps of 10 ms, until it ran); otherwise at once. Afterwards the current options
// are reloaded from the module's shared area (a handler may have changed them). Does nothing
// while the leak report runs (the handlers' code may be finalised already).
void SynchronizeExceptionCall(const std::function<void()>& call);

// Entered for every raise (a rethrow too): records it and, when no handler will catch it,
// notifies. `fromExport`: the raise was passed on by another module. The thread's last system
// error is the same afterwards. Never raises.
void GeneralRaiseHandler(const std::exception* object, uintptr_t address, uint8_t runtimeRaise,
                         bool fromExport = false);

// Framework handlers call this: processes `object` (else the last remembered exception) with
// the given display mode; answers 1 when the caller is to go on with its own handling.
uint8_t ExceptionManager(const std::exception* object, uintptr_t address, uint8_t displayMode,
                         uintptr_t module);

// True while `object` has not been processed yet; MarkObjectHandled lists it.
bool IsObjectNotListed(const void* object);
void MarkObjectHandled(const void* object);

// The exception's class name as the report shows it ("" for nullptr).
std::string ExceptionClassName(const std::exception* object);
bool IsAbortException(const std::exception* object);

// Remembers the raising thread's stack (from `stackPointer` to the thread's stack top, at most
// EmberRaiseStackSize bytes) in the raise-stack buffer.
void SaveRaiseStack(uint32_t stackPointer);
// The raise-stack copy when it was taken from thread `threadID` at `stackPointer` (the words
// the unwinding may have overwritten since); false otherwise.
bool CopyRaiseStack(uint32_t threadID, uint32_t stackPointer, std::vector<uint8_t>& bytes);

// Forgets a processed object: its exception is over and its address may come back with a new
// one (the runtime frees every thrown object and reuses the memory at once).
void ForgetHandledObject(const void* object);

// The end of a catch block that handled `object`: with BehaviourOptions bit 0x0100 the handled
// exception is reported (as handled) unless it was processed already.
void DoneExcept(const std::exception* object);

// Hands an exception caught where it must stop (host entries, window procedures, callbacks) to
// the processing, with `displayMode`; installed into the class library at attachment. Answers
// true when the caller is to go on with its own handling.
bool HandleCaughtException(const std::exception* object, uint8_t displayMode);

// What a CGI program wrote to its standard output so far, or what the ISAPI request written
// last has written (the last page).
std::string GetLastHTMLPage();

// --- ISAPI extension (a module that exports HttpExtensionProc)
//
// The export is hooked at attachment: each call keeps the request's extension control block and
// puts the library's routine into its WriteClient, which keeps what the extension writes as the
// last page and passes it on to the server's routine; the server's routine is back in the block
// when the call returns. An exception that leaves the extension is processed there (the answer
// is the error page) and the request ends with HSE_STATUS_ERROR.

// The control block of the request whose exception is processed (the faulting thread's), else
// of the request the calling thread serves; nullptr outside a request.
void* CurrentISAPIControlBlock();
// Set around the library's own writes into a request: they are not kept as the last page.
// For the calling thread.
void SetWritingISAPIAnswer(bool writing);

// The main window of the process, asked by the freeze watch; installed by the report side.
using TEmberMainWindowFinder = uintptr_t (*)(uint32_t processId);
void SetEmberMainWindowFinder(TEmberMainWindowFinder finder);
uintptr_t FindProcessMainWindow();

// --- Attachment

// Attaches the library to this module: state, lists, options, shared area, hooks and the
// unhandled-exception handling. Once per module; later calls do nothing. Never call it under
// the loader lock (DllMain). The options are this module's own, from its library data; on
// Windows a module with neither library data nor debug information leaves the library off
// (LibraryOn 0: nothing is hooked, every entry only forwards).
void StartExceptionLog();
// Detaches: waits for running processing, puts every replaced routine back, frees the state.
// Safe to call more than once and without StartExceptionLog. One exception: when the process's
// unhandled-exception filter was replaced after the library's (a host that may chain to the
// library's), the library's stays in that chain, forwarding only, and the module stays loaded.
void StopExceptionLog();

// Ends start-up's initialising phase (a DLL processes on the worker thread from here).
void SetInitialisationDone();
uint8_t GetLibraryState();
void SetLibraryState(uint8_t state);

// --- Platform half (win32/ExceptionLog.cpp, posix/ExceptionLog.cpp)

namespace ember_detail {
// This module's options from its library data; false when the module carries neither library
// data nor debug information.
// `leakFlags` receives the leak option flags of the library data (the main module's when the
// data says so).
bool PlatformLoadOwnOptions(TEmberModuleOptions& options, uint8_t& leakFlags);
// The focused window of the calling thread (class, text with passwords masked) and the cursor.
void PlatformFocusedControl(TExceptNotifyParams& params);
void PlatformAttach();                    // hooks and handlers
void PlatformDetach();                    // puts them back
uint32_t PlatformStackTop();              // the calling thread's stack top
uint32_t PlatformStackPointer();
bool PlatformIsMainModuleDll();
void PlatformCaptureRaiseContext(TEmberThreadVars& vars, uintptr_t address);
void PlatformPumpMessages(bool allowDispatch);  // the main thread's wait loop
bool PlatformIsReadable(const void* address, uint32_t size);
uint32_t PlatformProcessID();
// Keeps text a CGI program wrote to its standard output (the WriteFile hook).
void AppendLastHTMLPage(const char* text, size_t size);
// Makes `text` the last page (what an ISAPI request has written so far).
void SetLastHTMLPage(const std::string& text);
// The calling thread's last system error (GetLastError; errno natively) and its restoring.
uint32_t PlatformLastError();
void PlatformSetLastError(uint32_t error);
// The calling thread runs at the highest-but-one of the seven thread priorities.
void PlatformRaiseThreadPriority();
// Whether the calling thread has a message queue (other threads may send to its windows).
bool PlatformHasMessageQueue();
// Waits about `milliseconds`, or less when a message is sent to one of the calling thread's
// windows; the messages other threads send meanwhile are answered, and no posted message is
// taken from the queue, so none is reordered. Called inside the answer to a message another
// thread sent, it gives that thread its answer (0) first.
void PlatformWaitAnsweringSent(uint32_t milliseconds);
// A handle of its own on the thread of system handle `thread` (0: none), whether that thread
// has ended, and the handle's release.
uintptr_t PlatformHoldThread(uintptr_t thread);
// A handle of its own on the calling thread, and on a thread of the runtime (0 where none).
uintptr_t PlatformHoldCurrentThread();
uintptr_t PlatformHoldStdThread(std::thread& thread);
// The library lock's system object: re-entrant per thread, owned by one thread, waited for in
// slices. A wait answers Abandoned when the owner ended without giving it back.
enum class TLockWait { Taken, Abandoned, TimedOut };
uintptr_t PlatformCreateLockObject();
// The lock object kept in `slot`, made at its first use (of two made at once, the first kept).
uintptr_t LockObjectIn(std::atomic<uintptr_t>& slot);
void PlatformDestroyLockObject(uintptr_t object);
TLockWait PlatformWaitLockObject(uintptr_t object, uint32_t milliseconds, bool answering);
void PlatformReleaseLockObject(uintptr_t object);
bool PlatformThreadEnded(uintptr_t held);
void PlatformReleaseThread(uintptr_t held);
}  // namespace ember_detail
