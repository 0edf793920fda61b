// The product DLL's exception library seen from the host: while a plug-in is open with its
// editor showing and audio running, the host's own C++ exceptions, its structured handlers, its
// vectored handler and its unhandled-exception filter see exactly what they saw before the DLL
// was loaded, on its GUI thread and on a thread of its own; after the last plug-in is closed
// (the DLL still loaded, then unloaded) everything the library changed is back.
#include <windows.h>
#include <excpt.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "Emulation.h"
#include "HostFiles.h"
#include "HostSehFrame.h"
#include "classlib/Streams.h"
#include "tools/vsthost/EditorWindow.h"
#include "tools/vsthost/VstHost.h"

namespace {

// --- What the host's own exception handling observes

struct THostSight {
  std::string cpp;                 // the host's throws as its catch blocks saw them
  DWORD frameCode = 0;             // what its structured handler saw of its own fault...
  ULONG_PTR frameAddress = 0;      // ...the address read
  int frameCalls = 0;
  DWORD raisedCode = 0;            // ...and of a continuable RaiseException
  ULONG_PTR raisedArgument = 0;
  int vectoredCalls = 0;           // its vectored handler, for both
  LONG filterAnswer = 0;           // the unhandled-exception filter chain's answer
  int filterCalls = 0;             // calls of its own filter
  bool operator==(const THostSight&) const = default;
};

THostSight* gSight = nullptr;
const DWORD kHostCode = 0xE0C0FFEE;

// The host's structured handler: steps over its own 6-byte store through a null pointer and
// resumes its own continuable raise.
EXCEPTION_DISPOSITION HostFrameHandler(EXCEPTION_RECORD* record, void*, CONTEXT* context, void*) {
  if (record->ExceptionCode == kHostCode) {
    gSight->raisedCode = record->ExceptionCode;
    gSight->raisedArgument = record->NumberParameters ? record->ExceptionInformation[0] : 0;
    return ExceptionContinueExecution;
  }
  const auto* code = reinterpret_cast<const uint8_t*>(context->Eip);
  if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || code[0] != 0xC7 || code[1] != 0x00)
    return ExceptionContinueSearch;
  ++gSight->frameCalls;
  gSight->frameCode = record->ExceptionCode;
  gSight->frameAddress = record->ExceptionInformation[1];
  context->Eip += 6;
  return ExceptionContinueExecution;
}

LONG CALLBACK HostVectoredHandler(EXCEPTION_POINTERS* pointers) {
  const DWORD code = pointers->ExceptionRecord->ExceptionCode;
  if (gSight && (code == kHostCode || code == EXCEPTION_ACCESS_VIOLATION)) ++gSight->vectoredCalls;
  return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI HostFilter(EXCEPTION_POINTERS*) {
  if (gSight) ++gSight->filterCalls;
  return EXCEPTION_EXECUTE_HANDLER;
}

__attribute__((noinline)) void ThrowThroughFrames(int depth) {
  std::string held = "frame " + std::to_string(depth);
  if (depth == 0) throw std::runtime_error("host failure");
  ThrowThroughFrames(depth - 1);
}

// A structured handler frame of the host around its own fault and raise.
__attribute__((noinline)) void HostStructuredFaults() {
  const THostSehFrame hostFrame(reinterpret_cast<void*>(&HostFrameHandler));
  asm volatile("movl $0x10, %%eax\n\t.byte 0xC7, 0x00, 0x01, 0x00, 0x00, 0x00" ::: "eax", "memory");
  const ULONG_PTR argument = 0x1234;
  RaiseException(kHostCode, 0, 1, &argument);
}

// The host's own throws and faults, as it sees them.
THostSight HostSight() {
  THostSight sight;
  gSight = &sight;
  try {
    ThrowThroughFrames(5);
  } catch (const std::runtime_error& error) {
    sight.cpp += std::string("runtime_error:") + error.what() + ";";
  }
  try {
    try {
      throw 42;
    } catch (...) {
      std::exception_ptr pending = std::current_exception();
      std::rethrow_exception(pending);
    }
  } catch (int value) {
    sight.cpp += "int:" + std::to_string(value) + ";";
  }
  HostStructuredFaults();
  // The top of the unhandled-exception chain, asked as the system asks it for a fault of the host.
  EXCEPTION_RECORD record{};
  record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
  record.ExceptionAddress = reinterpret_cast<void*>(&HostSight);
  CONTEXT context{};
  EXCEPTION_POINTERS pointers{&record, &context};
  sight.filterAnswer = UnhandledExceptionFilter(&pointers);
  gSight = nullptr;
  return sight;
}

THostSight HostSightOnAThread() {
  THostSight sight;
  std::thread([&sight] { sight = HostSight(); }).join();
  return sight;
}

// The process's threads, each named by the module of its start address; the system's RPC thread
// that OLE drag and drop starts once for the process is left out.
std::string ThreadsNow() {
  using TQuery = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
  static auto query = reinterpret_cast<TQuery>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread"));
  std::string text;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
    void* start = nullptr;
    if (query) query(thread, 9 /* its start address */, &start, sizeof start, nullptr);
    CloseHandle(thread);
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(start), &module))
      GetModuleFileNameA(module, name, MAX_PATH);
    const std::string file = std::string(name).substr(std::string(name).find_last_of('\\') + 1);
    if (file != "rpcrt4.dll") text += file + ";";
  }
  CloseHandle(snapshot);
  return text;
}

// The threads once those that were joined have left the system's list too.
std::string Threads(const std::string& expected = std::string()) {
  std::string now = ThreadsNow();
  for (int i = 0; i < static_cast<int>(MachineBound(100)) && now != expected && !expected.empty(); ++i) {
    Sleep(10);
    now = ThreadsNow();
  }
  return now;
}

// The host's handlers are in place for the whole test, installed before the DLL is loaded.
class HostExceptions : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteFileA(ProductExceptionLogPath().c_str());
    previousFilter = SetUnhandledExceptionFilter(&HostFilter);
    vectored = AddVectoredExceptionHandler(0, &HostVectoredHandler);
  }
  void TearDown() override {
    RemoveVectoredExceptionHandler(vectored);
    SetUnhandledExceptionFilter(previousFilter);
    EXPECT_FALSE(FileExists(ProductExceptionLogPath())) << ReadFileBytes(ProductExceptionLogPath()).substr(0, 3000);
  }
  LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
  PVOID vectored = nullptr;
};

}  // namespace

TEST_F(HostExceptions, TheHostsOwnExceptionsBehaveAsWithoutThePluginAndAfterIt) {
  ASSERT_EQ(GetModuleHandleA("TarvikKBLDelay.dll"), nullptr);
  // Hosts run OLE on their GUI thread (which starts the system's threads for it).
  ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
  const THostSight alone = HostSight();
  EXPECT_EQ(alone.cpp, "runtime_error:host failure;int:42;");
  EXPECT_EQ(alone.frameCalls, 1);
  EXPECT_EQ(alone.frameAddress, 0x10u);
  EXPECT_EQ(alone.raisedArgument, 0x1234u);
  EXPECT_EQ(alone.vectoredCalls, 2);
  EXPECT_EQ(alone.filterCalls, 1);
  EXPECT_EQ(alone.filterAnswer, EXCEPTION_EXECUTE_HANDLER);
  EXPECT_EQ(HostSightOnAThread(), alone);
  const std::string threads = Threads();

  HMODULE keep = LoadLibraryA(ProductDllPath().c_str());
  {
    TVstHost host(ProductDllPath());
    host.Start(44100, 256);
    TEditorWindow editor(host);
    TAudioThread audio(host, {}, 44100, 256);
    editor.Run(100);
    EXPECT_EQ(HostSight(), alone);
    EXPECT_EQ(HostSightOnAThread(), alone);
    editor.Run(50);
    audio.Stop();
  }
  EXPECT_EQ(HostSight(), alone);
  EXPECT_EQ(Threads(threads), threads);
  EXPECT_EQ(SetUnhandledExceptionFilter(&HostFilter), &HostFilter);
  FreeLibrary(keep);
  ASSERT_EQ(GetModuleHandleA("TarvikKBLDelay.dll"), nullptr);
  EXPECT_EQ(HostSight(), alone);
  EXPECT_EQ(HostSightOnAThread(), alone);
  EXPECT_EQ(Threads(threads), threads);
  EXPECT_EQ(OleInitialize(nullptr), S_FALSE);  // still initialised for the host
  OleUninitialize();
  OleUninitialize();
}

// A host that installs its filter while a plug-in is open keeps the filter it replaced and calls
// it in turn. That chain still ends in the host's earlier filter when the host opens plug-ins
// again, and after the plug-in's DLL is gone.
LPTOP_LEVEL_EXCEPTION_FILTER gReplaced = nullptr;
int gChainedCalls = 0;

LONG WINAPI ChainingHostFilter(EXCEPTION_POINTERS* pointers) {
  if (++gChainedCalls > 3) return EXCEPTION_CONTINUE_EXECUTION;  // a cycle: marked by the answer
  return gReplaced ? gReplaced(pointers) : EXCEPTION_CONTINUE_SEARCH;
}

// What the top of the host's unhandled-exception chain answers for a fault of the host.
LONG AskTopFilter(int& hostCalls) {
  THostSight sight;
  gSight = &sight;
  gChainedCalls = 0;
  LPTOP_LEVEL_EXCEPTION_FILTER top = SetUnhandledExceptionFilter(nullptr);
  SetUnhandledExceptionFilter(top);
  EXCEPTION_RECORD record{};
  record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
  record.ExceptionAddress = reinterpret_cast<void*>(&AskTopFilter);
  CONTEXT context{};
  EXCEPTION_POINTERS pointers{&record, &context};
  const LONG answer = top(&pointers);
  hostCalls = sight.filterCalls;
  gSight = nullptr;
  return answer;
}

TEST_F(HostExceptions, AFilterTheHostChainsWhileAPluginIsOpenEndsInTheHostsFilterLaterAndAfterTheUnload) {
  HMODULE keep = LoadLibraryA(ProductDllPath().c_str());
  {
    TVstHost host(ProductDllPath());
    host.Start(44100, 512);
    TEditorWindow editor(host);
    editor.Run(50);
    gReplaced = SetUnhandledExceptionFilter(&ChainingHostFilter);
  }
  int hostCalls = 0;
  {
    TVstHost host(ProductDllPath());
    host.Start(44100, 512);
    EXPECT_EQ(AskTopFilter(hostCalls), EXCEPTION_EXECUTE_HANDLER);
    EXPECT_EQ(gChainedCalls, 1);
    EXPECT_EQ(hostCalls, 1);
  }
  FreeLibrary(keep);
  HMODULE module = nullptr;
  const bool callable =
      GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(gReplaced), &module);
  if (callable) {
    EXPECT_EQ(AskTopFilter(hostCalls), EXCEPTION_EXECUTE_HANDLER);
    EXPECT_EQ(gChainedCalls, 1);
    EXPECT_EQ(hostCalls, 1);
  }
  EXPECT_TRUE(callable) << "the host's chain leads into the unloaded DLL";
  SetUnhandledExceptionFilter(&HostFilter);
  gReplaced = nullptr;
}
