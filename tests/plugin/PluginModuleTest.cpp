// The plug-in module's start-up and shut-down through a host: a module built from the product's
// module entry is loaded, its plug-ins opened and closed, and the module freed. While a plug-in is
// open the image readers are registered, CurrentEmberLogOptions answers the module's options and
// a report can start the socket library; closing the last plug-in undoes all of it, and the
// process's socket library is left as it was. This program never starts sockets itself. A last
// close whose thread the host kills inside leaves nothing of the module behind once it is freed.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "ChildProcess.h"
#include "HostFiles.h"
#include "tools/vsthost/VstHost.h"

namespace {

// Whether the process's socket library is started (by anyone): a socket can be made.
bool SocketsStarted() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return WSAGetLastError() != WSANOTINITIALISED;
  closesocket(s);
  return true;
}

struct TProbe {
  explicit TProbe(HMODULE module)
      : Formats(reinterpret_cast<int32_t (*)()>(GetProcAddress(module, "ProbeRegisteredFormats"))),
        StartSockets(reinterpret_cast<int32_t (*)()>(GetProcAddress(module, "ProbeStartSockets"))),
        Options(reinterpret_cast<int32_t (*)(char*, int32_t)>(GetProcAddress(module, "ProbeCurrentOptions"))) {}
  // The module name of the current options, or the error's text.
  std::string CurrentOptions(bool& found) {
    char text[1024] = {};
    found = Options(text, sizeof text) == 1;
    return text;
  }
  int32_t (*Formats)();
  int32_t (*StartSockets)();
  int32_t (*Options)(char*, int32_t);
};

}  // namespace

TEST(PluginModule, StartUpAndShutDownFollowTheOpenPlugIns) {
  const std::string path = TestDllPath("moduleprobe.dll");
  ASSERT_FALSE(SocketsStarted());
  HMODULE module = LoadLibraryA(path.c_str());  // kept loaded between the hosts
  ASSERT_NE(module, nullptr);
  TProbe probe(module);
  ASSERT_TRUE(probe.Formats && probe.StartSockets && probe.Options);
  bool found = true;

  // Loading starts nothing.
  EXPECT_EQ(probe.Formats(), 0);
  std::string error = probe.CurrentOptions(found);
  EXPECT_FALSE(found);
  EXPECT_EQ(error, "\r\nCannot use 'CurrentEmberLogOptions' function in module \"" + path +
                       "\" without activate EmberLog.\r\nTo activate EmberLog use the new IDE \"Project/EmberLog "
                       "Options...\" menu.");

  {
    TVstHost first(path);
    TVstHost second(path);
    EXPECT_EQ(probe.Formats(), 39);
    EXPECT_EQ(probe.CurrentOptions(found), path);
    EXPECT_TRUE(found);
    EXPECT_EQ(probe.StartSockets(), 1);
    EXPECT_TRUE(SocketsStarted());
    first.Close();
    EXPECT_EQ(probe.Formats(), 39);  // the second plug-in still holds the module
    EXPECT_TRUE(SocketsStarted());
  }
  EXPECT_EQ(probe.Formats(), 0);
  EXPECT_FALSE(SocketsStarted());
  probe.CurrentOptions(found);
  EXPECT_FALSE(found);

  {
    TVstHost again(path);  // a new first plug-in starts the module again
    EXPECT_EQ(probe.Formats(), 39);
    EXPECT_TRUE(probe.CurrentOptions(found) == path && found);
  }
  EXPECT_EQ(probe.Formats(), 0);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(GetModuleHandleA(path.c_str()), nullptr);
  EXPECT_FALSE(SocketsStarted());
}

// --- A last close killed inside

namespace {

const char* const kCloseNotes = "module_close_child.txt";
void Note(const char* text) { std::ofstream(kCloseNotes, std::ios::binary | std::ios::app) << text; }

VstIntPtr VSTCALLBACK BareHostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

// A bare host: the plug-in it opened, and the probes that hold the module's processing or its
// memory manager's lock.
struct TBareHost {
  AEffect* Effect = nullptr;
  int32_t (*Hold)(HANDLE entered, int32_t milliseconds) = nullptr;
  void (*HoldMemory)(HANDLE entered, HANDLE release) = nullptr;
  HANDLE Entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE Release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE Close = CreateEventA(nullptr, TRUE, FALSE, nullptr);
};

DWORD WINAPI HoldTheProcessing(void* host) {
  auto* bare = static_cast<TBareHost*>(host);
  bare->Hold(bare->Entered, 2000);
  return 0;
}

DWORD WINAPI HoldTheMemoryManager(void* host) {
  auto* bare = static_cast<TBareHost*>(host);
  bare->HoldMemory(bare->Entered, bare->Release);
  return 0;
}

// Closes the plug-in once told to; the thread has called the plug-in before (its first call
// makes what a thread of the module needs).
DWORD WINAPI CloseThePlugIn(void* host) {
  auto* bare = static_cast<TBareHost*>(host);
  char vendor[256] = {};
  bare->Effect->dispatcher(bare->Effect, effGetVendorString, 0, 0, vendor, 0);
  WaitForSingleObject(bare->Close, INFINITE);
  bare->Effect->dispatcher(bare->Effect, effClose, 0, 0, nullptr, 0);
  return 0;
}

const DWORD kHostRaise = 0xE0C0FFEE;
LONG CALLBACK ResumeTheHostsRaise(EXCEPTION_POINTERS* pointers) {
  return pointers->ExceptionRecord->ExceptionCode == kHostRaise ? EXCEPTION_CONTINUE_EXECUTION
                                                                : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

// The child half: a bare host opens a plug-in and another thread closes it, and is killed inside
// the close. KBL_CLOSE_KILLED "processing": one of the host's threads holds the module's exception
// processing 2 s meanwhile, and the kill comes 500 ms into the close; a number: the close's
// allocations wait for the memory manager's lock, which another thread holds, and the kill comes
// that many milliseconds into the close, then the lock is let go. Once the holder is done the
// host frees the module, then asks the process's unhandled-exception filter and raises an
// exception of its own.
TEST(PluginModule, CloseKilledChild) {
  const char* killed = std::getenv("KBL_CLOSE_KILLED");
  if (killed == nullptr) GTEST_SKIP() << "a child half of a test";
  const bool behindProcessing = std::string(killed) == "processing";
  const std::string path = TestDllPath("moduleprobe.dll");
  HMODULE module = LoadLibraryA(path.c_str());
  ASSERT_NE(module, nullptr);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(module) + dos->e_lfanew);
  const uintptr_t start = reinterpret_cast<uintptr_t>(module), end = start + nt->OptionalHeader.SizeOfImage;
  using TEntry = AEffect*(VSTCALLBACK*)(audioMasterCallback);
  const auto entry = reinterpret_cast<TEntry>(GetProcAddress(module, "VSTPluginMain"));
  static TBareHost host;
  host.Hold = reinterpret_cast<int32_t (*)(HANDLE, int32_t)>(GetProcAddress(module, "ProbeProcessHolding"));
  host.HoldMemory = reinterpret_cast<void (*)(HANDLE, HANDLE)>(GetProcAddress(module, "ProbeHoldMemoryManager"));
  ASSERT_TRUE(entry != nullptr && host.Hold != nullptr && host.HoldMemory != nullptr);
  host.Effect = entry(&BareHostCallback);
  ASSERT_NE(host.Effect, nullptr);
  HANDLE closer = CreateThread(nullptr, 0, &CloseThePlugIn, &host, 0, nullptr);
  Sleep(200);
  HANDLE holder =
      CreateThread(nullptr, 0, behindProcessing ? &HoldTheProcessing : &HoldTheMemoryManager, &host, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(host.Entered, 30000), WAIT_OBJECT_0);
  SetEvent(host.Close);
  Sleep(behindProcessing ? 500 : static_cast<DWORD>(std::atoi(killed)));
  TerminateThread(closer, 9);
  WaitForSingleObject(closer, INFINITE);
  SetEvent(host.Release);
  WaitForSingleObject(holder, INFINITE);
  FreeLibrary(module);
  Note(GetModuleHandleA(path.c_str()) == nullptr ? "unloaded;" : "still loaded;");
  const auto filter = reinterpret_cast<uintptr_t>(SetUnhandledExceptionFilter(nullptr));
  Note(filter >= start && filter < end ? "filter in the freed module;" : "filter put back;");
  // Added last: a handler the module left behind would be called before it.
  PVOID resume = AddVectoredExceptionHandler(0, &ResumeTheHostsRaise);
  RaiseException(kHostRaise, 0, 0, nullptr);
  RemoveVectoredExceptionHandler(resume);
  Note("raised;");
  ExitProcess(0);
}

// A host that kills the thread of its last close inside it, and then frees the module, finds
// nothing of the module left in its process: the processing the close waited for finishes the
// close as it ends, and a close killed with nothing of the library running after it is taken out
// of the process's exception handling as the module unloads.
TEST(PluginModule, ALastCloseKilledInsideLeavesNothingOfTheModuleOnceItIsFreed) {
  for (const char* killed : {"processing", "300", "50", "10"}) {
    SCOPED_TRACE(killed);
    std::remove(kCloseNotes);
    const TChildRun run =
        RunChildProcess("--gtest_filter=PluginModule.CloseKilledChild", {{"KBL_CLOSE_KILLED", killed}}, 60000);
    EXPECT_TRUE(run.Ended);
    EXPECT_EQ(run.ExitCode, 0u);
    std::ifstream file(kCloseNotes, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "unloaded;filter put back;raised;");
    file.close();
  }
  std::remove(kCloseNotes);
}
