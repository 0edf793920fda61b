// The central notification, the raise handler and the events, attached to the test program.
#include "exceptions/capture/ExceptionLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "exceptions/capture/EmberLogEvents.h"

#ifdef _WIN32
#include <windows.h>

#include "Emulation.h"
#include "FailAfter.h"
#endif

namespace {

// Attaches for each test and leaves no handler or option behind.
class ExceptionLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartExceptionLog();
    ASSERT_EQ(EmberLibrary().LibraryOn.load(), 1);
    EmberGlobalHandlers() = TEmberLogEventHolder();
    SetProcessExceptionProc(nullptr);
  }
  void TearDown() override {
    EmberGlobalHandlers() = TEmberLogEventHolder();
    SetProcessExceptionProc(nullptr);
    StopExceptionLog();
  }
};

#ifdef _WIN32
DWORD WINAPI EndAtOnce(void*) { return 0; }
#endif

struct TSeen {
  int32_t Calls = 0;
  const std::exception* Object = nullptr;
  uintptr_t Address = 0;
  uint32_t ThreadID = 0;
  uint32_t HandlerThread = 0;
};

}  // namespace

// --- Central notification

TEST_F(ExceptionLogTest, NotificationFillsTheRecordAndRunsTheEventOnTheFaultingThread) {
  TSeen seen;
  EmberGlobalHandlers().OnExceptionNotify = [&](TEmberExceptionRecord& record, uint8_t&) {
    ++seen.Calls;
    seen.Object = record.ExceptionObject;
    seen.Address = record.ExceptionAddress;
    seen.ThreadID = record.ExceptionThreadID;
    seen.HandlerThread = EmberCurrentThreadID();
  };
  std::runtime_error error("disk gone");
  uint8_t result = CentralNotify(&error, 0x401005, 1, 0, 0, nullptr, nullptr, 0, 0, 0, 0);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(seen.Calls, 1);
  EXPECT_EQ(seen.Object, &error);
  EXPECT_EQ(seen.Address, 0x401000u);  // the raising call, not its return address
  EXPECT_EQ(seen.ThreadID, EmberCurrentThreadID());
  EXPECT_EQ(seen.HandlerThread, EmberCurrentThreadID());
  EXPECT_EQ(ThreadVars().ExceptionClassName.Str(), "runtime_error");
  EXPECT_EQ(ThreadVars().Busy, 0);
  EXPECT_FALSE(IsObjectNotListed(&error));
}

TEST_F(ExceptionLogTest, ClearedContinueFlagMakesTheResultZero) {
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord&, uint8_t& go) { go = 0; };
  std::logic_error error("x");
  EXPECT_EQ(CentralNotify(&error, 0x1000, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0), 0);
}

TEST_F(ExceptionLogTest, HandledExceptionsRaiseTheHandledEventAndKeepTheRaiseFields) {
  int32_t plain = 0, handled = 0;
  EmberGlobalHandlers().OnExceptionNotify = [&](TEmberExceptionRecord&, uint8_t&) { ++plain; };
  EmberGlobalHandlers().OnHandledExceptionNotify = [&](TEmberExceptionRecord&, uint8_t&) { ++handled; };
  ThreadVars().ExceptionClassName.Assign("Before");
  std::range_error error("r");
  CentralNotify(&error, 0x2000, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 1);
  EXPECT_EQ(plain, 0);
  EXPECT_EQ(handled, 1);
  EXPECT_EQ(ThreadVars().ExceptionClassName.Str(), "Before");
}

TEST_F(ExceptionLogTest, AbortIsNeverProcessed) {
  int32_t calls = 0;
  EmberGlobalHandlers().OnExceptionNotify = [&](TEmberExceptionRecord&, uint8_t&) { ++calls; };
  EAbort abort("stop");
  EXPECT_EQ(CentralNotify(&abort, 0x1000, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0), 1);
  EXPECT_EQ(calls, 0);
}

TEST_F(ExceptionLogTest, NestedNotificationInTheSameThreadReturnsAtOnce) {
  int32_t calls = 0;
  uint8_t nested = 99;
  std::runtime_error inner("inner");
  EmberGlobalHandlers().OnExceptionNotify = [&](TEmberExceptionRecord&, uint8_t&) {
    ++calls;
    nested = CentralNotify(&inner, 0x3000, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0);
  };
  std::runtime_error outer("outer");
  CentralNotify(&outer, 0x1000, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(nested, 0);
  EXPECT_TRUE(IsObjectNotListed(&inner));
}

TEST_F(ExceptionLogTest, SafeCallObjectsAreAnsweredZeroUnlessHandledOnesAreProcessed) {
  int32_t calls = 0;
  EmberGlobalHandlers().OnExceptionNotify = [&](TEmberExceptionRecord&, uint8_t&) { ++calls; };
  TEmberModuleOptionsEx& options = *EmberLibrary().CurrentOptions;
  options.SetBehaviourOptions(options.BehaviourOptions() & ~0x40);
  std::runtime_error error(std::string(EmberSafeCallPrefix) + "call failed");
  EXPECT_EQ(CentralNotify(&error, 0x1000, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0), 0);
  EXPECT_EQ(calls, 0);
  EmberLibrary().CurrentOptions->SetBehaviourOptions(EmberLibrary().CurrentOptions->BehaviourOptions() | 0x40);
  EXPECT_EQ(CentralNotify(&error, 0x1000, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0), 1);
  EXPECT_EQ(calls, 1);
}

TEST_F(ExceptionLogTest, InactiveOptionsProcessNothing) {
  int32_t calls = 0;
  EmberGlobalHandlers().OnExceptionNotify = [&](TEmberExceptionRecord&, uint8_t&) { ++calls; };
  EmberLibrary().CurrentOptions->SetActivate(0);
  std::runtime_error error("e");
  EXPECT_EQ(CentralNotify(&error, 0x1000, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0), 1);
  EXPECT_EQ(calls, 0);
}

namespace {
std::atomic<int32_t> gInside{0};
std::atomic<int32_t> gOverlaps{0};
std::atomic<uint32_t> gProcessThread{0};
std::atomic<uint32_t> gSyncThread{0};

uint8_t SlowProcessing(const TEmberNotifyArgs& args) {
  if (++gInside > 1) ++gOverlaps;
  gProcessThread = EmberCurrentThreadID();
  SynchronizeExceptionCall([] { gSyncThread = EmberCurrentThreadID(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(15));
  --gInside;
  return args.RaiseKind == 0 ? 0 : 1;
}
}  // namespace

TEST_F(ExceptionLogTest, ProcessingRunsOnAWorkerAndHandsCallsBackToTheFaultingThread) {
  SetProcessExceptionProc(&SlowProcessing);
  std::runtime_error error("e");
  EXPECT_EQ(CentralNotify(&error, 0x1000, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0), 0);
  EXPECT_NE(gProcessThread.load(), EmberCurrentThreadID());
  EXPECT_EQ(gSyncThread.load(), EmberCurrentThreadID());
}

TEST_F(ExceptionLogTest, ExceptionsOfSeveralThreadsAreProcessedOneAtATime) {
  SetProcessExceptionProc(&SlowProcessing);
  gOverlaps = 0;
  std::vector<std::thread> threads;
  std::vector<std::runtime_error> errors(4, std::runtime_error("t"));
  std::atomic<int32_t> answered{0};
  for (int32_t i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      if (CentralNotify(&errors[i], 0x1000, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0) == 0) ++answered;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(answered.load(), 4);
  EXPECT_EQ(gOverlaps.load(), 0);
}

// A thread started to finish an exception's work under the library lock (a background send) has
// the lock before the next exception's entry does. A thread that holds the lock already, in an
// entry or outside one (a send handing over an exception), takes it again without waiting for an
// heir it could never give it to; and an heir whose thread ended without the lock is waited for no
// more.
TEST_F(ExceptionLogTest, AnEntryLetsTheLocksHeirsHaveItFirst) {
#ifdef _WIN32
  const TFailAfter bound(MachineBound(20000), "an entry waits for an heir that cannot come");
#endif
  std::vector<const char*> order;
  std::mutex orderLock;
  const auto note = [&](const char* what) {
    std::lock_guard<std::mutex> guard(orderLock);
    order.push_back(what);
  };
  const int32_t heir = AddLockHeir();
  std::thread heirThread([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the entry comes first
    std::lock_guard<TEmberLibraryLock> lock(EmberLibrary().LibraryLock);
    RemoveLockHeir(heir);
    note("heir");
  });
  {
    const TExceptionEntryLock entry;
    note("entry");
    const int32_t never = AddLockHeir();  // an heir that never comes
    { const TExceptionEntryLock inner; }
    note("inner");
    RemoveLockHeir(never);
  }
  heirThread.join();
  EXPECT_EQ(order, (std::vector<const char*>{"heir", "entry", "inner"}));
  {
    std::lock_guard<TEmberLibraryLock> sending(EmberLibrary().LibraryLock);
    const int32_t never = AddLockHeir();
    { const TExceptionEntryLock entry; }
    RemoveLockHeir(never);
  }
#ifdef _WIN32
  HANDLE gone = CreateThread(nullptr, 0, &EndAtOnce, nullptr, 0, nullptr);
  ASSERT_NE(gone, nullptr);
  WaitForSingleObject(gone, INFINITE);
  SetLockHeirThread(AddLockHeir(), reinterpret_cast<uintptr_t>(gone));
  CloseHandle(gone);
  { const TExceptionEntryLock entry; }
  EXPECT_FALSE(LockHeirWaiting());
#endif
}

// --- Raise handler

TEST_F(ExceptionLogTest, RaisesInTheMainThreadAreProcessedAtOnceOnlyWhenHandledOnesAreWanted) {
  int32_t calls = 0;
  EmberGlobalHandlers().OnExceptionNotify = [&](TEmberExceptionRecord&, uint8_t&) { ++calls; };
  TEmberModuleOptionsEx& options = *EmberLibrary().CurrentOptions;
  options.SetBehaviourOptions(options.BehaviourOptions() & ~0x40);
  std::runtime_error first("first");
  GeneralRaiseHandler(&first, 0x5005, 1);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(ThreadVars().RaiseAddress, 0x5005u);
  EXPECT_EQ(EmberLog_LastDorvelException(), 1);
  EmberLibrary().CurrentOptions->SetBehaviourOptions(EmberLibrary().CurrentOptions->BehaviourOptions() | 0x40);
  std::runtime_error second("second");
  GeneralRaiseHandler(&second, 0x6000, 0);
  EXPECT_EQ(calls, 1);
  // A raise the library already processed is not processed again.
  GeneralRaiseHandler(&second, 0x6000, 0);
  EXPECT_EQ(calls, 1);
}

TEST_F(ExceptionLogTest, TheRaisingThreadsLastErrorIsTheSameAfterItsRaiseWasProcessed) {
  int32_t calls = 0;
  // A handler on the faulting thread that leaves a last error of its own behind.
  EmberGlobalHandlers().OnExceptionNotify = [&](TEmberExceptionRecord&, uint8_t&) {
    ++calls;
    ember_detail::PlatformSetLastError(2);
  };
  TEmberModuleOptionsEx& options = *EmberLibrary().CurrentOptions;
  options.SetBehaviourOptions(options.BehaviourOptions() | 0x40);
  std::runtime_error error("settings unreadable");
  ember_detail::PlatformSetLastError(13);
  GeneralRaiseHandler(&error, 0x5005, 1);
  const uint32_t after = ember_detail::PlatformLastError();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(after, 13u);
}

TEST_F(ExceptionLogTest, ExceptionManagerProcessesOnceAndSkipsAbort) {
  int32_t calls = 0;
  EmberGlobalHandlers().OnExceptionNotify = [&](TEmberExceptionRecord&, uint8_t& go) {
    ++calls;
    go = 0;
  };
  std::runtime_error error("m");
  EXPECT_EQ(ExceptionManager(&error, 0x7000, 1, 0), 0);
  EXPECT_EQ(ExceptionManager(&error, 0x7000, 1, 0), 1);
  EAbort abort("a");
  EXPECT_EQ(ExceptionManager(&abort, 0x7000, 1, 0), 1);
  EXPECT_EQ(calls, 1);
}

// --- Events

TEST_F(ExceptionLogTest, HoldersRunFromTheLastRegisteredToTheFirstThenTheGlobalHandler) {
  std::vector<int32_t> order;
  TEmberLogEventHolder first, second, unassigned;
  first.OnExceptionActionNotify = [&](TEmberExceptionRecord&, int32_t action, uint8_t&) { order.push_back(10 + action); };
  second.OnExceptionActionNotify = [&](TEmberExceptionRecord&, int32_t action, uint8_t& execute) {
    order.push_back(20 + action);
    execute = 0;
  };
  EmberGlobalHandlers().OnExceptionActionNotify = [&](TEmberExceptionRecord&, int32_t action, uint8_t& execute) {
    order.push_back(30 + action + execute);
  };
  RegisterEventHolder(&first);
  RegisterEventHolder(&unassigned);
  RegisterEventHolder(&second);
  uint8_t execute = 1;
  RaiseExceptionActionNotifyEvent(4, execute);
  EXPECT_EQ(order, (std::vector<int32_t>{24, 14, 34}));
  EXPECT_EQ(execute, 0);
  UnregisterEventHolder(&second);
  order.clear();
  execute = 1;
  RaiseExceptionActionNotifyEvent(1, execute);
  EXPECT_EQ(order, (std::vector<int32_t>{11, 32}));
  UnregisterEventHolder(&first);
  UnregisterEventHolder(&unassigned);
}

TEST_F(ExceptionLogTest, WithoutHandlersEventsKeepTheirArguments) {
  uint8_t go = 1, retry = 0, close = 1;
  RaiseExceptionNotifyEvent(go);
  RaiseExceptionErrorNotifyEvent(3, retry);
  RaiseCustomButtonClickEvent(close);
  std::string password = "keep";
  RaisePasswordRequestEvent(password, true);
  TStringList lines;
  RaiseCustomDataRequestEvent(lines);
  EXPECT_EQ(go, 1);
  EXPECT_EQ(retry, 0);
  EXPECT_EQ(close, 1);
  EXPECT_EQ(password, "keep");
  EXPECT_EQ(lines.Count(), 0);
}

TEST_F(ExceptionLogTest, ListAndPasswordEventsReachTheirHandlers) {
  EmberGlobalHandlers().OnCustomDataRequest = [](TEmberExceptionRecord&, TStrings& list) { list.Add("Build=7"); };
  EmberGlobalHandlers().OnPasswordRequest = [](TEmberExceptionRecord*, std::string& password) {
    password.assign(400, 'p');
  };
  TStringList lines;
  RaiseCustomDataRequestEvent(lines);
  ASSERT_EQ(lines.Count(), 1);
  EXPECT_EQ(lines.Get(0), "Build=7");
  std::string password;
  RaisePasswordRequestEvent(password, false);
  EXPECT_EQ(password.size(), EmberMaxPasswordLength);
  char buffer[EmberMaxPasswordLength + 1] = "x";
  EmberLog_PasswordRequestEvent(buffer);
  EXPECT_EQ(std::string(buffer), std::string(EmberMaxPasswordLength, 'p'));
}

TEST_F(ExceptionLogTest, AnEventReceivedThroughTheExportSeesTheCallersRecordAndRestoresItsOwn) {
  std::runtime_error own("own"), foreign("foreign");
  EmberLibrary().CurrentException.ExceptionObject = &own;
  EmberLibrary().CurrentException.ExceptionAddress = 0x1111;
  const std::exception* seenObject = nullptr;
  uintptr_t seenAddress = 0;
  TEmberModuleOptions* seenOptions = nullptr;
  EmberGlobalHandlers().OnHandledExceptionNotify = [&](TEmberExceptionRecord& record, uint8_t& go) {
    seenObject = record.ExceptionObject;
    seenAddress = record.ExceptionAddress;
    seenOptions = record.CurrentModuleOptions;
    go = 0;
  };
  TEmberExceptionRecord callers;
  callers.ExceptionObject = &foreign;
  callers.ExceptionAddress = 0x2222;
  uint8_t go = 1;
  EmberLog_HandledExceptionNotifyEvent(&callers, &go);
  EXPECT_EQ(go, 0);
  EXPECT_EQ(seenObject, &foreign);
  EXPECT_EQ(seenAddress, 0x2222u);
  EXPECT_EQ(seenOptions, EmberLibrary().CurrentOptions.get());
  EXPECT_EQ(EmberLibrary().CurrentException.ExceptionObject, &own);
  EXPECT_EQ(EmberLibrary().CurrentException.ExceptionAddress, 0x1111u);
  EmberLog_HandledExceptionNotifyEvent(&callers, nullptr);  // no flag: nothing happens
}

// --- Threads list through the exports

TEST_F(ExceptionLogTest, ThreadEntriesPassedByAnotherModuleAreListedAndRemoved) {
  TEmberThreadsList& threads = *EmberLibrary().ThreadsList;
  const int32_t before = threads.Count();
  TEmberThreadInfo info;
  info.ThreadID = EmberCurrentThreadID() + 1000;
  info.Handle = 0x4321;
  EmberLog_CallCreateThread(&info);
  threads.BeginRead();
  EXPECT_GE(threads.IndexOfHandle(0x4321), 0);
  threads.EndRead();
  info.CallerThreadID = 77;
  EmberLog_CallResumeThread(0x4321, &info);
  threads.BeginRead();
  int32_t index = threads.IndexOfHandle(0x4321);
  ASSERT_GE(index, 0);
  EXPECT_EQ(threads.GetItem(index)->CallerThreadID, 77u);
  threads.EndRead();
  EXPECT_GE(threads.Count(), before + 1);
}

TEST(ExceptionLogDetached, NothingIsProcessedWhileDetached) {
  StopExceptionLog();
  int32_t calls = 0;
  EmberGlobalHandlers().OnExceptionNotify = [&](TEmberExceptionRecord&, uint8_t&) { ++calls; };
  std::runtime_error error("e");
  EXPECT_EQ(CentralNotify(&error, 0x1000, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0), 1);
  EXPECT_EQ(ExceptionManager(&error, 0x1000, 0, 0), 1);
  EXPECT_EQ(calls, 0);
  EmberGlobalHandlers() = TEmberLogEventHolder();
}
