// The raise road under Wine: a C++ throw, a rethrow and a RaiseException of the test program
// reach the central notification (the raising thread's last error unchanged), processing runs on
// a worker above normal priority, the thread entries follow CreateThread and ExitThread,
// detaching puts every replaced routine back, a second module reaches the program's options and
// handlers, an unhandled throw is reported once, and no handler is called while leaks are
// reported; the library's own raises leave the program's raise stack alone; the freeze watch
// takes no wait of the main thread inside the library for a freeze, and stopping it from inside
// the library lock does not wait for its report, which waits for that lock.
#include "exceptions/capture/ExceptionLog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "Emulation.h"
#include "FailAfter.h"
#include "exceptions/capture/EHook.h"
#include "exceptions/capture/EFreezeWatch.h"
#include "exceptions/capture/ELeaks.h"
#include "exceptions/capture/EmberLogEvents.h"

namespace {

constexpr DWORD TestCode = 0xE0C0FFEE;

struct TSeen {
  std::atomic<int32_t> Calls{0};
  const std::exception* Object = nullptr;
  uintptr_t Address = 0;
  uint32_t ThreadID = 0;
  uint32_t HandlerThread = 0;
  DWORD Code = 0;
  ULONG_PTR FirstParameter = 0;
};
TSeen* gSeen = nullptr;

void Observe(TEmberExceptionRecord& record, uint8_t&) {
  ++gSeen->Calls;
  gSeen->Object = record.ExceptionObject;
  gSeen->Address = record.ExceptionAddress;
  gSeen->ThreadID = record.ExceptionThreadID;
  gSeen->HandlerThread = GetCurrentThreadId();
  if (record.ExceptionRecord != nullptr) {
    const auto* system = static_cast<const EXCEPTION_RECORD*>(record.ExceptionRecord);
    gSeen->Code = system->ExceptionCode;
    gSeen->FirstParameter = system->NumberParameters > 0 ? system->ExceptionInformation[0] : 0;
  }
}

// Lets the test's own raises continue after the library saw them.
LONG CALLBACK ContinueTestRaise(EXCEPTION_POINTERS* pointers) {
  return pointers->ExceptionRecord->ExceptionCode == TestCode ? EXCEPTION_CONTINUE_EXECUTION
                                                               : EXCEPTION_CONTINUE_SEARCH;
}

LONG CALLBACK ContinueNamingRaise(EXCEPTION_POINTERS* pointers) {
  return pointers->ExceptionRecord->ExceptionCode == EmberThreadNamingCode ? EXCEPTION_CONTINUE_EXECUTION
                                                                           : EXCEPTION_CONTINUE_SEARCH;
}

HMODULE ModuleOf(uintptr_t address) {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(address), &module);
  return module;
}

__attribute__((noinline)) void ThrowDiskFull() { throw std::runtime_error("disk full"); }

__attribute__((noinline)) void RaiseTestException() {
  const ULONG_PTR arguments[1] = {0x5150};
  RaiseException(TestCode, 0, 1, arguments);
}

class ExceptionLogWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    StartExceptionLog();
    ASSERT_EQ(EmberLibrary().LibraryOn.load(), 1);
    gSeen = &seen_;
    EmberGlobalHandlers().OnExceptionNotify = &Observe;
    veh_ = AddVectoredExceptionHandler(1, &ContinueTestRaise);
  }
  void TearDown() override {
    RemoveVectoredExceptionHandler(veh_);
    EmberGlobalHandlers() = TEmberLogEventHolder();
    StopExceptionLog();
    gSeen = nullptr;
  }
  TSeen seen_;
  void* veh_ = nullptr;
};

}  // namespace

// --- Raises

TEST_F(ExceptionLogWin32Test, ACppThrowReachesTheNotificationWithItsObjectAddressAndThread) {
  TEmberModuleOptionsEx& options = *EmberLibrary().CurrentOptions;
  options.SetBehaviourOptions(options.BehaviourOptions() | 0x40);  // handled ones too
  const std::exception* caught = nullptr;
  try {
    ThrowDiskFull();
  } catch (const std::exception& error) {
    caught = &error;
    EXPECT_EQ(seen_.Calls.load(), 1);
    EXPECT_EQ(seen_.Object, caught);  // the live object, seen before the unwind
  }
  ASSERT_NE(caught, nullptr);
  EXPECT_EQ(seen_.ThreadID, GetCurrentThreadId());
  EXPECT_EQ(seen_.HandlerThread, GetCurrentThreadId());
  const uintptr_t start = reinterpret_cast<uintptr_t>(&ThrowDiskFull);
  EXPECT_GE(seen_.Address, start);
  EXPECT_LT(seen_.Address, start + 256);
  EXPECT_EQ(seen_.Code, EmberRuntimeRaiseCode);
  EXPECT_EQ(ThreadVars().ExceptionClassName.Str(), "runtime_error");
}

TEST_F(ExceptionLogWin32Test, ACaughtThrowIsLeftAloneUnlessHandledOnesAreProcessed) {
  TEmberModuleOptionsEx& options = *EmberLibrary().CurrentOptions;
  options.SetBehaviourOptions(options.BehaviourOptions() & ~0x40);
  try {
    ThrowDiskFull();
  } catch (const std::exception&) {
  }
  EXPECT_EQ(seen_.Calls.load(), 0);
  EXPECT_EQ(ThreadVars().ExceptionClassName.Str(), "runtime_error");  // still recorded
}

namespace {

// Throws, then fails again inside its catch block (caught there), then rethrows the first.
__attribute__((noinline)) void RethrowAfterAnotherFailure() {
  try {
    ThrowDiskFull();
  } catch (const std::exception&) {
    try {
      throw std::logic_error("cleanup failed");
    } catch (const std::logic_error&) {
    }
    throw;
  }
}

}  // namespace

TEST_F(ExceptionLogWin32Test, ARethrowRaisesTheCaughtObjectAgainAndTheBlockItLeavesHandledNothing) {
  TEmberModuleOptionsEx& options = *EmberLibrary().CurrentOptions;
  options.SetBehaviourOptions(static_cast<uint16_t>((options.BehaviourOptions() & ~0x40) | 0x0100));
  EmberGlobalHandlers().OnHandledExceptionNotify = &Observe;
  const std::exception* caught = nullptr;
  try {
    RethrowAfterAnotherFailure();
  } catch (const std::exception& error) {
    caught = &error;
    // Only the failure handled inside the block was reported; the block that rethrew did not
    // handle the first one.
    EXPECT_EQ(seen_.Calls.load(), 1);
    EXPECT_STREQ(seen_.Object != nullptr ? seen_.Object->what() : "", "cleanup failed");
    // The raise fields describe the rethrow of the first failure, not the second failure.
    EXPECT_EQ(ThreadVars().ExceptionClassName.Str(), "runtime_error");
    const uintptr_t start = reinterpret_cast<uintptr_t>(&RethrowAfterAnotherFailure);
    EXPECT_GE(ThreadVars().RaiseAddress, start);
    EXPECT_LT(ThreadVars().RaiseAddress, start + 512);
  }
  ASSERT_NE(caught, nullptr);
  // The block that caught it last handled it.
  EXPECT_EQ(seen_.Calls.load(), 2);
  EXPECT_EQ(seen_.Object, caught);

  // Handled exceptions processed at their raise: the rethrow of one processed already is not
  // processed again.
  seen_.Calls = 0;
  options.SetBehaviourOptions(static_cast<uint16_t>((options.BehaviourOptions() | 0x40) & ~0x0100));
  EmberGlobalHandlers().OnHandledExceptionNotify = nullptr;
  try {
    RethrowAfterAnotherFailure();
  } catch (const std::exception&) {
  }
  EXPECT_EQ(seen_.Calls.load(), 2);  // the first failure and the second, once each
}

TEST_F(ExceptionLogWin32Test, TheRaisingThreadsLastErrorIsTheSameAfterItsRaiseWasProcessed) {
  TEmberModuleOptionsEx& options = *EmberLibrary().CurrentOptions;
  options.SetBehaviourOptions(options.BehaviourOptions() | 0x40);
  // A handler that looks for a file leaves its own last error behind.
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord& record, uint8_t& go) {
    Observe(record, go);
    CloseHandle(CreateFileA("Z:\\no such folder\\settings.ini", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  };
  SetLastError(ERROR_INVALID_DATA);
  DWORD inHandler = 0;
  try {
    ThrowDiskFull();
  } catch (const std::exception&) {
    inHandler = GetLastError();
  }
  EXPECT_EQ(seen_.Calls.load(), 1);
  EXPECT_EQ(inHandler, static_cast<DWORD>(ERROR_INVALID_DATA));
  SetLastError(ERROR_BAD_FORMAT);
  RaiseTestException();
  const DWORD afterRaise = GetLastError();
  EXPECT_EQ(seen_.Calls.load(), 2);
  EXPECT_EQ(afterRaise, static_cast<DWORD>(ERROR_BAD_FORMAT));
}

// A thread of the program raises (the exception would wait for the library lock, held by a
// send), then the library's own work raises and catches on another thread (the send's socket
// errors): the stack copy of the program's raise is still there for its processing.
TEST_F(ExceptionLogWin32Test, TheLibrarysOwnRaisesLeaveTheProgramsRaiseStackAlone) {
  uint32_t thread = 0, stackPointer = 0;
  std::thread([&] {
    try {
      ThrowDiskFull();
    } catch (const std::exception&) {
      thread = GetCurrentThreadId();
      stackPointer = ThreadVars().RaiseStackPointer;
    }
  }).join();
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(CopyRaiseStack(thread, stackPointer, bytes));
  std::thread([] {
    ThreadVars().LibraryWork = 1;
    try {
      ThrowDiskFull();
    } catch (const std::exception&) {
    }
    ThreadVars().LibraryWork = 0;
  }).join();
  EXPECT_TRUE(CopyRaiseStack(thread, stackPointer, bytes));
}

namespace {
std::atomic<int32_t> gWorkerPriority{-100};
uint8_t RecordWorkerPriority(const TEmberNotifyArgs&) {
  gWorkerPriority = GetThreadPriority(GetCurrentThread());
  return 1;
}
}  // namespace

TEST_F(ExceptionLogWin32Test, ProcessingRunsOnAWorkerAtTheHighestButOnePriority) {
  SetProcessExceptionProc(&RecordWorkerPriority);
  std::runtime_error error("slow host");
  CentralNotify(&error, 0x401000, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0);
  SetProcessExceptionProc(nullptr);
  EXPECT_EQ(gWorkerPriority.load(), THREAD_PRIORITY_HIGHEST);
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
}

TEST_F(ExceptionLogWin32Test, ARaiseExceptionReachesTheNotificationWithItsRecord) {
  RaiseTestException();
  ASSERT_EQ(seen_.Calls.load(), 1);
  EXPECT_EQ(seen_.Object, nullptr);
  EXPECT_EQ(seen_.Code, TestCode);
  EXPECT_EQ(seen_.FirstParameter, 0x5150u);
  EXPECT_EQ(seen_.ThreadID, GetCurrentThreadId());
  const uintptr_t start = reinterpret_cast<uintptr_t>(&RaiseTestException);
  EXPECT_GE(seen_.Address, start);
  EXPECT_LT(seen_.Address, start + 256);
}

TEST_F(ExceptionLogWin32Test, ARaiseInAnotherThreadIsProcessedForThatThread) {
  std::atomic<DWORD> raiser{0};
  std::thread thread([&] {
    raiser = GetCurrentThreadId();
    RaiseTestException();
  });
  thread.join();
  ASSERT_EQ(seen_.Calls.load(), 1);
  EXPECT_EQ(seen_.ThreadID, raiser.load());
  EXPECT_EQ(seen_.HandlerThread, raiser.load());  // events run on the faulting thread
}

TEST_F(ExceptionLogWin32Test, TheThreadNamingRaisePassesUntouched) {
  struct {
    DWORD Type = 0x1000;
    LPCSTR Name = "worker";
    DWORD ThreadID = static_cast<DWORD>(-1);
    DWORD Flags = 0;
  } info;
  // Nothing catches it without a debugger: a handler of our own lets it go on.
  void* veh = AddVectoredExceptionHandler(1, &ContinueNamingRaise);
  RaiseException(EmberThreadNamingCode, 0, 4, reinterpret_cast<const ULONG_PTR*>(&info));
  RemoveVectoredExceptionHandler(veh);
  EXPECT_EQ(seen_.Calls.load(), 0);
}

// --- Threads

namespace {
HANDLE gRelease = nullptr;

DWORD WINAPI WaitThenExit(void* parameter) {
  WaitForSingleObject(gRelease, MachineBound(5000));
  ExitThread(static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter)));
}

DWORD WINAPI WaitThenReturn(void*) {
  WaitForSingleObject(gRelease, MachineBound(5000));
  return 9;
}

int32_t IndexOfThread(DWORD id) {
  TEmberThreadsList& threads = *EmberLibrary().ThreadsList;
  threads.BeginRead();
  int32_t index = threads.IndexOfThreadID(id);
  threads.EndRead();
  return index;
}
}  // namespace

TEST_F(ExceptionLogWin32Test, CreatedThreadsAreListedStartAndLeaveTheListWhenTheyEnd) {
  gRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD exitingId = 0, returningId = 0;
  HANDLE exiting = CreateThread(nullptr, 0, &WaitThenExit, reinterpret_cast<void*>(7), 0, &exitingId);
  HANDLE returning = CreateThread(nullptr, 0, &WaitThenReturn, nullptr, 0, &returningId);
  ASSERT_NE(exiting, nullptr);
  ASSERT_NE(returning, nullptr);
  {
    TEmberThreadsList& threads = *EmberLibrary().ThreadsList;
    threads.BeginRead();
    int32_t index = threads.IndexOfThreadID(exitingId);
    ASSERT_GE(index, 0);
    TEmberThreadInfo* entry = threads.GetItem(index);
    EXPECT_EQ(entry->StartAddress, reinterpret_cast<void*>(&WaitThenExit));
    EXPECT_EQ(entry->Parameter, reinterpret_cast<void*>(7));
    EXPECT_EQ(entry->CallerThreadID, GetCurrentThreadId());
    EXPECT_NE(entry->CallerStack, nullptr);  // the resumer's stack, kept at the resume
    EXPECT_GT(entry->CallerStackSize, 0u);
    threads.EndRead();
  }
  EXPECT_GE(IndexOfThread(returningId), 0);
  SetEvent(gRelease);
  // Both run although neither was asked for suspended: the library resumed them.
  ASSERT_EQ(WaitForSingleObject(exiting, MachineBound(5000)), WAIT_OBJECT_0);
  ASSERT_EQ(WaitForSingleObject(returning, MachineBound(5000)), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(exiting, &code);
  EXPECT_EQ(code, 7u);
  GetExitCodeThread(returning, &code);
  EXPECT_EQ(code, 9u);
  EXPECT_LT(IndexOfThread(exitingId), 0);
  EXPECT_LT(IndexOfThread(returningId), 0);
  CloseHandle(exiting);
  CloseHandle(returning);
  CloseHandle(gRelease);
}

TEST_F(ExceptionLogWin32Test, AThreadAskedForSuspendedStaysSuspendedUntilResumed) {
  gRelease = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, &WaitThenReturn, nullptr, CREATE_SUSPENDED, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 100), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_EQ(WaitForSingleObject(thread, MachineBound(5000)), WAIT_OBJECT_0);
  CloseHandle(thread);
  CloseHandle(gRelease);
}

// --- Detaching

namespace {
LONG WINAPI TestFilter(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }
void TestTerminate() { ExitProcess(3); }

// Where this module's import of a routine leads now: the address is read from the import
// table (directly, or through the jump thunk the linker placed), again at each call.
__attribute__((noipa)) void* ImportOf(int32_t which) {
  void* address = nullptr;
  switch (which) {
    case 0: address = reinterpret_cast<void*>(&RaiseException); break;
    case 1: address = reinterpret_cast<void*>(&CreateThread); break;
    case 2: address = reinterpret_cast<void*>(&ExitThread); break;
    default: address = reinterpret_cast<void*>(&ResumeThread); break;
  }
  return FollowJumpThunks(address);
}
}  // namespace

TEST(ExceptionLogDetach, DetachingPutsEveryReplacedRoutineBack) {
  StopExceptionLog();
  LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = SetUnhandledExceptionFilter(&TestFilter);
  std::terminate_handler previousTerminate = std::set_terminate(&TestTerminate);
  void* raise = ImportOf(0);
  void* create = ImportOf(1);
  void* exitThread = ImportOf(2);
  void* resume = ImportOf(3);
  StartExceptionLog();
  EXPECT_NE(ImportOf(0), raise);
  EXPECT_NE(ImportOf(1), create);
  EXPECT_NE(std::get_terminate(), &TestTerminate);
  StopExceptionLog();
  EXPECT_EQ(ImportOf(0), raise);
  EXPECT_EQ(ImportOf(1), create);
  EXPECT_EQ(ImportOf(2), exitThread);
  EXPECT_EQ(ImportOf(3), resume);
  EXPECT_EQ(std::get_terminate(), &TestTerminate);
  EXPECT_EQ(SetUnhandledExceptionFilter(previousFilter), &TestFilter);
  std::set_terminate(previousTerminate);
  // Detached, a raise only passes through.
  int32_t calls = 0;
  void* veh = AddVectoredExceptionHandler(1, &ContinueTestRaise);
  EmberGlobalHandlers().OnExceptionNotify = [&](TEmberExceptionRecord&, uint8_t&) { ++calls; };
  RaiseTestException();
  RemoveVectoredExceptionHandler(veh);
  EmberGlobalHandlers() = TEmberLogEventHolder();
  EXPECT_EQ(calls, 0);
}

namespace {
DWORD WINAPI ReturnAtOnce(void*) { return 0; }

// Makes one thread through the replaced CreateThread and waits for its end.
DWORD WINAPI MakeAThread(void*) {
  HANDLE thread = CreateThread(nullptr, 0, &ReturnAtOnce, nullptr, 0, nullptr);
  if (thread == nullptr) return 1;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return 0;
}
}  // namespace

// The child half: a thread making a thread found the library on and waits for the threads list
// (this thread reads it) when the library detaches.
TEST(ExceptionLogDetach, ThreadsChild) {
  if (std::getenv("KBL_DETACH_THREADS_CHILD") == nullptr) GTEST_SKIP() << "the child half of the test below";
  StartExceptionLog();
  TEmberThreadsList* threads = EmberLibrary().ThreadsList.get();
  threads->BeginRead();
  HANDLE maker = CreateThread(nullptr, 0, &MakeAThread, nullptr, 0, nullptr);
  ASSERT_NE(maker, nullptr);
  Sleep(300);  // lets the maker reach the list
  StopExceptionLog();
  threads->EndRead();
  EXPECT_EQ(WaitForSingleObject(maker, MachineBound(20000)), WAIT_OBJECT_0);
  CloseHandle(maker);
}

TEST(ExceptionLogDetach, ThreadsMadeWhileTheLibraryDetachesFindTheirListWhole) {
  const TChildRun child =
      RunChildProcess("--gtest_filter=ExceptionLogDetach.ThreadsChild", {{"KBL_DETACH_THREADS_CHILD", "1"}}, 60000);
  EXPECT_TRUE(child.Ended);
  EXPECT_EQ(child.ExitCode, 0u);
}

// --- A second module

TEST_F(ExceptionLogWin32Test, ASecondModuleFindsTheProgramsOptionsAndHandlersThroughItsExports) {
  HMODULE module = LoadLibraryA("exceptions_events_module.dll");
  ASSERT_NE(module, nullptr);
  auto start = reinterpret_cast<void (*)()>(GetProcAddress(module, "EventsModule_Start"));
  auto stop = reinterpret_cast<void (*)()>(GetProcAddress(module, "EventsModule_Stop"));
  auto readBehaviour = reinterpret_cast<int32_t (*)(uintptr_t)>(GetProcAddress(module, "EventsModule_ReadBehaviour"));
  auto raiseFor = reinterpret_cast<int32_t (*)(uintptr_t, const std::exception*, uintptr_t)>(
      GetProcAddress(module, "EventsModule_RaiseFor"));
  auto refusesItself = reinterpret_cast<int32_t (*)()>(GetProcAddress(module, "EventsModule_RefusesItself"));
  ASSERT_TRUE(start && stop && readBehaviour && raiseFor && refusesItself);
  start();
  const uintptr_t program = reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr));
  EmberLibrary().CurrentOptions->SetBehaviourOptions(0x0123);
  EXPECT_EQ(readBehaviour(program), 0x0123);

  std::runtime_error error("from the program");
  const uintptr_t address = reinterpret_cast<uintptr_t>(&ThrowDiskFull);
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord& record, uint8_t& go) {
    Observe(record, go);
    go = 0;
  };
  EXPECT_EQ(raiseFor(program, &error, address), 0);  // the program's handler cleared it
  EXPECT_EQ(seen_.Calls.load(), 1);
  EXPECT_EQ(seen_.Object, &error);
  EXPECT_EQ(seen_.Address, address);
  EXPECT_EQ(ModuleOf(seen_.Address), GetModuleHandleA(nullptr));
  EXPECT_EQ(refusesItself(), 1);
  // A module without the library's entries is never called.
  EXPECT_EQ(GetModuleEventProc(reinterpret_cast<uintptr_t>(GetModuleHandleA("kernel32.dll")),
                               "EmberLog_ExceptionNotifyEvent"),
            nullptr);
  stop();
  FreeLibrary(module);
}

// --- Exceptions nothing catches

namespace {
DWORD WINAPI ThrowingThread(void*) {
  ThrowDiskFull();
  return 0;
}

std::string ReadFileText(const std::string& fileName) {
  std::ifstream file(fileName, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}
}  // namespace

TEST_F(ExceptionLogWin32Test, AThrowLeavingAThreadStartIsNotifiedAsReachingTheThreadsEnd) {
  HANDLE thread = CreateThread(nullptr, 0, &ThrowingThread, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, MachineBound(5000)), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  EXPECT_EQ(code, 1u);
  ASSERT_EQ(seen_.Calls.load(), 1);
  ASSERT_NE(seen_.Object, nullptr);
  EXPECT_NE(seen_.ThreadID, GetCurrentThreadId());
}

// The child half runs in a second process of this program: it attaches, throws where nothing
// catches, and its handler adds what it saw to the file the parent named. KBL_RAISEROAD_CHILD_HANDLED
// says whether handled exceptions are processed at their raise too ("1") or not.
TEST(ExceptionLogUnhandled, Child) {
  const char* out = std::getenv("KBL_RAISEROAD_CHILD_OUT");
  if (out == nullptr) GTEST_SKIP() << "the child half of the unhandled-throw tests";
  static std::string fileName = out;
  StartExceptionLog();
  const char* handled = std::getenv("KBL_RAISEROAD_CHILD_HANDLED");
  TEmberModuleOptionsEx& options = *EmberLibrary().CurrentOptions;
  const uint16_t behaviour = options.BehaviourOptions();
  options.SetBehaviourOptions(static_cast<uint16_t>(handled != nullptr && std::string(handled) == "1"
                                                        ? behaviour | 0x40
                                                        : behaviour & ~0x40));
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord& record, uint8_t&) {
    std::ofstream file(fileName, std::ios::binary | std::ios::app);
    file << (record.ExceptionObject != nullptr ? record.ExceptionObject->what() : "none") << "|"
         << (record.ExceptionThreadID == GetCurrentThreadId() ? "same thread" : "other thread") << ";";
  };
  ThrowDiskFull();
}

namespace {

struct TUnhandledRun {
  DWORD ExitCode = 0;
  std::string Seen;
};

// Runs the child half in a second process and answers its exit code and what its handler saw.
TUnhandledRun RunUnhandledChild(bool handledToo) {
  TUnhandledRun run;
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  const std::string out = std::string(folder) + "raiseroad_unhandled_" + std::to_string(GetCurrentProcessId()) + ".txt";
  DeleteFileA(out.c_str());
  const TChildRun child = RunChildProcess(
      "--gtest_catch_exceptions=0 --gtest_filter=ExceptionLogUnhandled.Child",
      {{"KBL_RAISEROAD_CHILD_OUT", out}, {"KBL_RAISEROAD_CHILD_HANDLED", handledToo ? "1" : "0"}}, 30000);
  EXPECT_TRUE(child.Started);
  EXPECT_TRUE(child.Ended);
  run.ExitCode = child.ExitCode;
  run.Seen = ReadFileText(out);
  DeleteFileA(out.c_str());
  return run;
}

}  // namespace

// Not processed at its raise: the unhandled-exception procedure reports it.
TEST(ExceptionLogUnhandled, AThrowNothingCatchesIsNotifiedAndEndsTheProgramWithCode1) {
  const TUnhandledRun run = RunUnhandledChild(false);
  EXPECT_EQ(run.ExitCode, 1u);
  EXPECT_EQ(run.Seen, "disk full|same thread;");
}

TEST(ExceptionLogUnhandled, OneProcessedAtItsRaiseIsNotReportedAgainWhenNothingCatchesIt) {
  const TUnhandledRun run = RunUnhandledChild(true);
  EXPECT_EQ(run.ExitCode, 1u);
  EXPECT_EQ(run.Seen, "disk full|same thread;");
}

// --- Freeze watch

namespace {

struct TFreeze {
  HANDLE Reported = nullptr;
  HWND Window = nullptr;
  bool Frozen = false;
  uint32_t ThreadID = 0;
  bool StackNamesWaiter = false;
  std::atomic<int32_t> Asked{0};  // the watch looked for the main window (once a round)
};
TFreeze* gFreeze = nullptr;

void ObserveFreeze(TEmberExceptionRecord& record, uint8_t&) {
  if (gFreeze == nullptr || gFreeze->Frozen) return;
  gFreeze->Frozen = dynamic_cast<const EFrozenApplication*>(record.ExceptionObject) != nullptr;
  gFreeze->ThreadID = record.ExceptionThreadID;
  for (int32_t i = 0; record.CallStack != nullptr && i < record.CallStack->Count(); ++i)
    gFreeze->StackNamesWaiter |= record.CallStack->GetItem(i)->ProcedureName.Str() == "WaitWithoutAnswering";
  SetEvent(gFreeze->Reported);
}

// The main thread stops answering its window until the freeze was reported (or a minute passed).
__attribute__((noinline)) void WaitWithoutAnswering(HANDLE reported) {
  WaitForSingleObject(reported, MachineBound(60000));
}

}  // namespace

TEST_F(ExceptionLogWin32Test, AMainWindowThatStopsAnsweringIsReportedWithItsStackAndTheThreadGoesOn) {
  TFreeze freeze;
  freeze.Reported = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  freeze.Window = CreateWindowA("STATIC", "Frozen", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(freeze.Window, nullptr);
  gFreeze = &freeze;
  EmberGlobalHandlers().OnExceptionNotify = &ObserveFreeze;
  SetEmberMainWindowFinder([](uint32_t) { return reinterpret_cast<uintptr_t>(gFreeze->Window); });
  TEmberModuleOptionsEx& options = *EmberLibrary().CurrentOptions;
  options.SetFreezeTimeout(1);
  options.SetFreezeActivate(1);
  EXPECT_TRUE(IsFreezeThreadRunning());
  WaitWithoutAnswering(freeze.Reported);
  options.SetFreezeActivate(0);
  EXPECT_FALSE(IsFreezeThreadRunning());
  SetEmberMainWindowFinder(nullptr);
  // The thread went on: its window answers again.
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutA(freeze.Window, WM_NULL, 0, 0, SMTO_BLOCK, MachineBound(1000), &answer), 0);
  EXPECT_TRUE(freeze.Frozen);
  EXPECT_EQ(freeze.ThreadID, GetCurrentThreadId());
  EXPECT_TRUE(freeze.StackNamesWaiter);
  DestroyWindow(freeze.Window);
  CloseHandle(freeze.Reported);
  gFreeze = nullptr;
}

// Notes a freeze report (without a call handed to the faulting thread, which would reload the
// options from the module's shared area).
uint8_t NoteFreezes(const TEmberNotifyArgs& args) {
  if (gFreeze != nullptr && dynamic_cast<const EFrozenApplication*>(args.Object) != nullptr) {
    gFreeze->Frozen = true;
    SetEvent(gFreeze->Reported);
  }
  return 1;
}

// The main thread waits inside the library far longer than the freeze time-out: in an entry,
// behind another thread that holds the library lock (a report sent in the background); then it
// holds the lock itself while the watch's report of its silence waits for it, and switches the
// watch off there. The first wait is no freeze; the switch does not wait for the watch, whose
// report comes once the lock is given back.
TEST_F(ExceptionLogWin32Test, TheFreezeWatchTakesNoWaitInsideTheLibraryForAFreezeNorWaitsForItsReport) {
  TFreeze freeze;
  freeze.Reported = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  freeze.Window = CreateWindowA("STATIC", "Waiting", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(freeze.Window, nullptr);
  gFreeze = &freeze;
  SetProcessExceptionProc(&NoteFreezes);
  SetEmberMainWindowFinder([](uint32_t) {
    ++gFreeze->Asked;
    return reinterpret_cast<uintptr_t>(gFreeze->Window);
  });
  TEmberModuleOptionsEx& options = *EmberLibrary().CurrentOptions;
  options.SetFreezeTimeout(1);
  options.SetFreezeActivate(1);
  const TFailAfter bound(MachineBound(60000), "stopping the freeze watch waited for its report");
  {
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([held] {
      std::lock_guard<TEmberLibraryLock> lock(EmberLibrary().LibraryLock);
      SetEvent(held);
      Sleep(3000);
    });
    WaitForSingleObject(held, INFINITE);
    std::runtime_error error("waited");
    CentralNotify(&error, reinterpret_cast<uintptr_t>(&ThrowDiskFull), 0, 0, 0, nullptr, nullptr, 0,
                  EmberLibrary().Module, 0, 0);
    holder.join();
    CloseHandle(held);
  }
  // A report of the wait would be under way by now; it is processed before the watch is stopped.
  options.SetFreezeActivate(0);
  EXPECT_FALSE(freeze.Frozen);
  ResetEvent(freeze.Reported);
  freeze.Asked = 0;
  options.SetFreezeActivate(1);
  {
    std::lock_guard<TEmberLibraryLock> lock(EmberLibrary().LibraryLock);
    // Silent for 20 rounds of 50 ms: the watch reports, and its report waits for the lock.
    while (freeze.Asked < 20) Sleep(10);
    Sleep(500);
    options.SetFreezeActivate(0);
    EXPECT_FALSE(IsFreezeThreadRunning());
  }
  EXPECT_EQ(WaitForSingleObject(freeze.Reported, MachineBound(30000)), WAIT_OBJECT_0);
  StopFreezeThread();  // joins the watch that was told to end
  EXPECT_TRUE(freeze.Frozen);
  SetProcessExceptionProc(nullptr);
  SetEmberMainWindowFinder(nullptr);
  DestroyWindow(freeze.Window);
  CloseHandle(freeze.Reported);
  gFreeze = nullptr;
}

// --- The end of a catch block and the last chance

TEST_F(ExceptionLogWin32Test, TheEndOfACatchReportsWhatItHandledWhenAskedOnce) {
  TEmberModuleOptionsEx& options = *EmberLibrary().CurrentOptions;
  options.SetBehaviourOptions(static_cast<uint16_t>((options.BehaviourOptions() & ~0x40) | 0x0100));
  EmberGlobalHandlers().OnHandledExceptionNotify = &Observe;
  try {
    ThrowDiskFull();
  } catch (const std::exception&) {
    EXPECT_EQ(seen_.Calls.load(), 0);  // not at the raise
  }
  EXPECT_EQ(seen_.Calls.load(), 1);
  EXPECT_STREQ(seen_.Object != nullptr ? "seen" : "none", "seen");
  options.SetBehaviourOptions(static_cast<uint16_t>(options.BehaviourOptions() & ~0x0100));
  try {
    ThrowDiskFull();
  } catch (const std::exception&) {
  }
  EXPECT_EQ(seen_.Calls.load(), 1);
}

TEST_F(ExceptionLogWin32Test, TheLastChanceFilterReportsAFaultOfTheModuleOnce) {
  LPTOP_LEVEL_EXCEPTION_FILTER filter = SetUnhandledExceptionFilter(nullptr);
  SetUnhandledExceptionFilter(filter);
  ASSERT_NE(filter, nullptr);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
  record.ExceptionAddress = reinterpret_cast<void*>(&ThrowDiskFull);
  record.NumberParameters = 2;
  record.ExceptionInformation[0] = 1;
  record.ExceptionInformation[1] = 0x10;
  CONTEXT context = {};
  context.Esp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  EXCEPTION_POINTERS pointers = {&record, &context};
  EXPECT_EQ(filter(&pointers), EXCEPTION_CONTINUE_SEARCH);
  ASSERT_EQ(seen_.Calls.load(), 1);
  EXPECT_EQ(std::string(seen_.Object != nullptr ? "object" : ""), "object");
  filter(&pointers);  // the same fault again: already reported
  record.ExceptionAddress = reinterpret_cast<void*>(0x10);  // not this module's code
  record.ExceptionInformation[1] = 0x20;
  filter(&pointers);
  EXPECT_EQ(seen_.Calls.load(), 1);
}

// --- The leak report

namespace {
std::atomic<int32_t> gLeakReports{0};
std::atomic<int32_t> gSynchronizedCalls{0};

uint8_t ProcessAndCallBack(const TEmberNotifyArgs& args) {
  if (dynamic_cast<const EMemoryLeak*>(args.Object) != nullptr) ++gLeakReports;
  SynchronizeExceptionCall([] { ++gSynchronizedCalls; });
  return 1;
}

__attribute__((noinline)) char* LeakABlock() { return new char[40]; }
}  // namespace

TEST(ExceptionLogLeaks, NoCallIsHandedToTheModulesCodeWhileTheLeakReportRuns) {
  StartExceptionLog();
  ASSERT_EQ(EmberLibrary().LibraryOn.load(), 1);
  SetProcessExceptionProc(&ProcessAndCallBack);
  ASSERT_TRUE(StartLeakTracking(LeakTrackingOn));
  char* block = LeakABlock();
  StopExceptionLog();  // the leak is reported as the library detaches
  EXPECT_EQ(gLeakReports.load(), 1);
  EXPECT_EQ(gSynchronizedCalls.load(), 0);
  // Once the report is over, calls are handed on again.
  StartExceptionLog();
  SetProcessExceptionProc(&ProcessAndCallBack);
  std::runtime_error error("after the report");
  CentralNotify(&error, 0x401000, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0);
  EXPECT_EQ(gSynchronizedCalls.load(), 1);
  SetProcessExceptionProc(nullptr);
  StopExceptionLog();
  delete[] block;
}
