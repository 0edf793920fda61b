// The freeze watch's thread and its reports.
#include "EFreezeWatch.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "ECallStack.h"
#include "ExceptionLog.h"
#include "exceptions/ECore.h"

namespace {

class TFreezeThread {
 public:
  TFreezeThread() : thread_([this] { Execute(); }) {}
  ~TFreezeThread() {
    Terminate();
    if (thread_.joinable()) thread_.join();
  }
  // Asks the watch to end without waiting for it.
  void Terminate() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      terminated_ = true;
    }
    wake_.notify_all();
  }

 private:
  // Sleeps up to `milliseconds`; false once the watch is to end.
  bool Pause(int32_t milliseconds) {
    std::unique_lock<std::mutex> guard(lock_);
    wake_.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return terminated_; });
    return !terminated_;
  }
  bool Terminated() {
    std::lock_guard<std::mutex> guard(lock_);
    return terminated_;
  }

  void Execute() {
    const uint32_t self = EmberCurrentThreadID();
    EmberLibrary().FreezeThreadID = self;
    ThreadVars().FreezeWatch = 1;
    try {
      while (!Terminated()) {
        int32_t silence = 0;
        for (;;) {
          uintptr_t window = FindProcessMainWindow();
          while (window == 0 && Pause(50)) window = FindProcessMainWindow();
          if (Terminated()) break;
          if (EmberLibrary().MainThreadInside > 0) {
            // The main thread waits inside the library (for a report sent in the background, or
            // its own being processed): the library's wait is no freeze of the program.
            Pause(50);
            silence = 0;
          } else if (ember_detail::FreezeWindowAnswers(window)) {
            for (int32_t i = 0; i < 6 && Pause(50);) ++i;
            silence = 0;
          } else {
            silence += 50;
          }
          int32_t timeout = 60;
          {
            const std::lock_guard<std::mutex> guard(lock_);  // see ReportFreeze
            if (terminated_) break;
            if (const TEmberModuleOptionsEx* options = EmberLibrary().CurrentOptions.get())
              timeout = options->FreezeTimeout();
          }
          if (silence >= timeout * 1000) break;
        }
        if (Terminated()) break;
        ReportFreeze();
      }
    } catch (...) {
      // the watch ends; the host goes on
    }
    // A watch that was told to end while its report waited for the lock ends after a new one
    // may have started: the id is the new one's then.
    if (EmberLibrary().FreezeThreadID == self) EmberLibrary().FreezeThreadID = 0;
  }

  // The main thread's registers and stack are taken while it is suspended; it goes on before
  // anything is resolved or reported, so that a main thread stopped inside the heap or a lock
  // cannot block the report.
  // What it reads of the library's state before its entry is read under the watch's lock, once no
  // end was asked: a detachment that cannot wait for the watch (the entry may wait for the library
  // lock it holds) asks the end before it frees that state, and so waits for this part only; the
  // entry then finds the library detached.
  void ReportFreeze() {
    TEmberLibraryGlobals& library = EmberLibrary();
    std::unique_lock<std::mutex> guard(lock_);
    if (terminated_ || library.MainThreadHandle == 0 || !library.CurrentOptions) return;
    alignas(16) uint8_t context[716] = {};
    uint32_t eip = 0, esp = 0;
    std::vector<uint8_t> stack;
    const bool taken = SnapshotThread(library.MainThreadHandle, context, eip, esp, stack);
    if (!taken || eip == 0 || esp == 0) return;
    TEmberStackList callStack;
    const uint32_t size = static_cast<uint32_t>(stack.size());
    TEmberMemoryOverlay memory(EmberMemory(), esp, std::move(stack));
    BuildCallStackIn(memory, callStack, eip, esp, AllStackKinds, -1, -1, true, false, 0, library.MainThreadID,
                     size >= 4 ? esp + size - 4 : esp);
    EFrozenApplication object(library.CurrentOptions->GetCustomizedExpandedText(156));
    const uint32_t stackTop = library.MainThreadStackTop;
    const uintptr_t module = library.Module;
    guard.unlock();
    CentralNotify(&object, eip, 0, stackTop, esp, context, nullptr, 1, module, 0, 0, &callStack);
    ForgetHandledObject(&object);
  }

  std::mutex lock_;
  std::condition_variable wake_;
  bool terminated_ = false;
  std::thread thread_;

 public:
  // The next of the watches told to end and not joined yet.
  std::unique_ptr<TFreezeThread> NextEnded;
};

// The watch lock guards the two words only: a watch is made and joined outside it, so that a
// thread killed while it starts or stops one (an allocation may wait for the memory manager)
// leaves no later start or stop waiting for it.
std::mutex gWatchLock;
std::unique_ptr<TFreezeThread> gWatch;
// Watches told to end by a thread that could not wait for them (below), joined later.
std::unique_ptr<TFreezeThread> gEnded;

// A watch's report waits for the library lock: a thread that holds it, or the worker whose
// faulting thread holds it (an options change inside a processing or a send), cannot wait for
// the watch to end.
bool MayWaitForWatch() { return !EmberLibrary().LibraryLock.HeldByThisThread() && !IsInsideLibraryWork(); }

// Joins the watches that were told to end, when this thread may wait for them.
void JoinEndedWatches() {
  if (!MayWaitForWatch()) return;
  std::unique_ptr<TFreezeThread> ended;
  {
    std::lock_guard<std::mutex> guard(gWatchLock);
    ended = std::move(gEnded);
  }
  while (ended) ended = std::move(ended->NextEnded);  // each joined as it goes
}

void ControlFromOptions(bool start) {
  if (start)
    StartFreezeThread();
  else
    StopFreezeThread();
}

}  // namespace

void StartFreezeThread() {
  TEmberLibraryGlobals& library = EmberLibrary();
  SetEmberFreezeWatchControl(&ControlFromOptions);
  const TEmberModuleOptionsEx* options = library.CurrentOptions.get();
  if (options == nullptr || library.LibraryOn == 0) return;
  if (library.Delegating != 0 && (options->BehaviourOptions() & 0x08) != 0) return;
  if (IsRunningInIDE() || options->Activate() == 0 || options->FreezeActivate() == 0) return;
  JoinEndedWatches();
  {
    std::lock_guard<std::mutex> guard(gWatchLock);
    if (gWatch) return;
  }
  auto watch = std::make_unique<TFreezeThread>();
  {
    std::lock_guard<std::mutex> guard(gWatchLock);
    if (!gWatch) gWatch.swap(watch);
  }
  // One started meanwhile on another thread: this one ends again (joined here, outside the lock).
}

namespace {
void StopWatch(bool wait) {
  std::unique_ptr<TFreezeThread> watch;
  {
    std::lock_guard<std::mutex> guard(gWatchLock);
    watch = std::move(gWatch);
  }
  if (watch && !wait) {
    watch->Terminate();
    std::lock_guard<std::mutex> guard(gWatchLock);
    watch->NextEnded = std::move(gEnded);
    gEnded = std::move(watch);
    return;
  }
  watch.reset();  // waits for the watch's thread outside the lock
  JoinEndedWatches();
}
}  // namespace

void StopFreezeThread() { StopWatch(MayWaitForWatch()); }
void TellFreezeThreadToEnd() { StopWatch(false); }

bool IsFreezeThreadRunning() {
  std::lock_guard<std::mutex> guard(gWatchLock);
  return gWatch != nullptr;
}
