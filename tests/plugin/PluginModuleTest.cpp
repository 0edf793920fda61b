// The plug-in module's start-up and shut-down through a host: a module built from the product's
// module entry is loaded, its plug-ins opened and closed, and the module freed. While a plug-in is
// open the image readers are registered, CurrentEmberLogOptions answers the module's options and
// a report can start the socket library; closing the last plug-in undoes all of it, and the
// process's socket library is left as it was. This program never starts sockets itself. A host
// thread killed inside an open or a close leaves nothing of the module behind once it is freed.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "ChildProcess.h"
#include "Emulation.h"
#include "HostFiles.h"
#include "ThreadSuspension.h"
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
  void (*HoldThreadsList)(HANDLE entered) = nullptr;
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

DWORD WINAPI HoldTheThreadsList(void* host) {
  auto* bare = static_cast<TBareHost*>(host);
  bare->HoldThreadsList(bare->Entered);
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

DWORD WINAPI OpenThePlugIn(void* entry) {
  reinterpret_cast<AEffect*(VSTCALLBACK*)(audioMasterCallback)>(entry)(&BareHostCallback);
  return 0;
}

const DWORD kHostRaise = 0xE0C0FFEE;
LONG CALLBACK ResumeTheHostsRaise(EXCEPTION_POINTERS* pointers) {
  return pointers->ExceptionRecord->ExceptionCode == kHostRaise ? EXCEPTION_CONTINUE_EXECUTION
                                                                : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

// The child half: a bare host opens a plug-in, and a thread of the host is killed inside the
// module. KBL_KILLED "processing": a thread closing that plug-in, 500 ms into the close, while
// another holds the module's exception processing 2 s; a number: a thread closing it, that many
// milliseconds into the close, while another holds the module's memory manager's lock (let go
// after the kill); "open": a thread opening a second plug-in while another holds that lock, 300 ms
// in, and then the host closes its plug-in; "list": the thread holding the exception library's
// threads list for writing, and then the host closes its plug-in, opens one more and closes that.
// Once the holder is done the host notes whether the library is attached, frees the module, asks
// the process's unhandled-exception filter and raises an exception of its own.
TEST(PluginModule, KilledInsideChild) {
  const char* killed = std::getenv("KBL_KILLED");
  if (killed == nullptr) GTEST_SKIP() << "a child half of a test";
  const std::string how = killed;
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
  host.HoldThreadsList = reinterpret_cast<void (*)(HANDLE)>(GetProcAddress(module, "ProbeHoldThreadsList"));
  TProbe probe(module);
  ASSERT_TRUE(entry != nullptr && host.Hold != nullptr && host.HoldMemory != nullptr &&
              host.HoldThreadsList != nullptr && probe.Options != nullptr);
  host.Effect = entry(&BareHostCallback);
  ASSERT_NE(host.Effect, nullptr);
  HANDLE inside = nullptr;
  if (how == "list") {
    inside = CreateThread(nullptr, 0, &HoldTheThreadsList, &host, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(host.Entered, MachineBound(30000)), WAIT_OBJECT_0);
    KillThread(inside, 9);
    host.Effect->dispatcher(host.Effect, effClose, 0, 0, nullptr, 0);
    host.Effect = entry(&BareHostCallback);
    Note(host.Effect != nullptr ? "opened;" : "not opened;");
    if (host.Effect != nullptr) host.Effect->dispatcher(host.Effect, effClose, 0, 0, nullptr, 0);
  } else {
    if (how != "open") {
      inside = CreateThread(nullptr, 0, &CloseThePlugIn, &host, 0, nullptr);
      Sleep(200);
    }
    HANDLE holder =
        CreateThread(nullptr, 0, how == "processing" ? &HoldTheProcessing : &HoldTheMemoryManager, &host, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(host.Entered, MachineBound(30000)), WAIT_OBJECT_0);
    if (how == "open")
      inside = CreateThread(nullptr, 0, &OpenThePlugIn, reinterpret_cast<void*>(entry), 0, nullptr);
    else
      SetEvent(host.Close);
    Sleep(how == "open" ? 300 : how == "processing" ? 500 : static_cast<DWORD>(std::atoi(killed)));
    KillThread(inside, 9);
    WaitForSingleObject(inside, INFINITE);
    SetEvent(host.Release);
    WaitForSingleObject(holder, INFINITE);
    if (how == "open") host.Effect->dispatcher(host.Effect, effClose, 0, 0, nullptr, 0);
  }
  bool attached = false;
  probe.CurrentOptions(attached);
  Note(attached ? "attached;" : "detached;");
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

// A host that kills one of its threads inside the module, and frees the module once its last
// plug-in is closed, finds nothing of the module left in its process. The library is let go with
// the host's last plug-in when the killed thread was making a plug-in the host never got, or
// closing one behind a processing (whose end finishes the close); a close killed with nothing of
// the library running after it leaves the library attached until the module unloads, which takes
// it out of the process's exception handling. A thread killed holding the library's threads list
// leaves the host's last close, its next open and its close to come back.
TEST(PluginModule, AThreadKilledInsideLeavesNothingOfTheModuleOnceItIsFreed) {
  const struct {
    const char* Killed;
    const char* Notes;
  } cases[] = {{"processing", "detached;unloaded;filter put back;raised;"},
               {"open", "detached;unloaded;filter put back;raised;"},
               {"300", "attached;unloaded;filter put back;raised;"},
               {"50", "attached;unloaded;filter put back;raised;"},
               {"10", "attached;unloaded;filter put back;raised;"},
               {"list", "opened;detached;unloaded;filter put back;raised;"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Killed);
    std::remove(kCloseNotes);
    const TChildRun run = RunChildProcess("--gtest_filter=PluginModule.KilledInsideChild",
                                          {{"KBL_KILLED", c.Killed}}, 60000);
    EXPECT_TRUE(run.Ended);
    EXPECT_EQ(run.ExitCode, 0u);
    std::ifstream file(kCloseNotes, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), c.Notes);
    file.close();
  }
  std::remove(kCloseNotes);
}
