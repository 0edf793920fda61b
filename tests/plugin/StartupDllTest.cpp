// What a host sees of the real DLL's start-up through its entry: loading it, creating and closing
// plug-ins and unloading it again (what a host does when it scans its plug-ins) bring none of the
// GUI into the process (no GDI+, COM, common controls or common dialogs); the first editor window
// starts the GUI, which runs until the last plug-in closes, and an editor opened after many scans
// draws the plug-in's skin; the module's loads and unloads leave no kernel lock behind. A program
// of its own: it watches the DLLs and handles its process holds.
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "HostFiles.h"
#include "classlib/Streams.h"
#include "tools/vsthost/EditorWindow.h"
#include "tools/vsthost/VstHost.h"

namespace {

// What only the editor and the report dialogs use.
std::vector<std::string> LoadedGuiDlls() {
  std::vector<std::string> loaded;
  for (const char* name : {"gdiplus.dll", "comctl32.dll", "comdlg32.dll", "ole32.dll", "oleaut32.dll"})
    if (GetModuleHandleA(name) != nullptr) loaded.push_back(name);
  return loaded;
}

bool GdiPlusLoaded() { return GetModuleHandleA("gdiplus.dll") != nullptr; }

// The mutexes the process holds handles of: the system's handle table, each of ours asked for its
// type.
int32_t MutexHandles() {
  struct TEntry {
    ULONG Process;
    UCHAR Type, Flags;
    USHORT Handle;
    PVOID Object;
    ACCESS_MASK Access;
  };
  constexpr auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
  constexpr NTSTATUS kTooSmall = static_cast<NTSTATUS>(0xC0000004L);
  std::vector<char> table(1 << 18);
  NTSTATUS status;
  ULONG size = 0;
  while ((status = NtQuerySystemInformation(kSystemHandleInformation, table.data(), table.size(), &size)) == kTooSmall)
    table.resize(table.size() * 2);
  if (status != 0) return -1;
  const ULONG count = *reinterpret_cast<const ULONG*>(table.data());
  const auto* entries = reinterpret_cast<const TEntry*>(table.data() + sizeof(void*));
  int32_t mutexes = 0;
  for (ULONG i = 0; i < count; ++i) {
    if (entries[i].Process != GetCurrentProcessId()) continue;
    alignas(8) char type[512];
    const auto handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(entries[i].Handle));
    if (NtQueryObject(handle, ObjectTypeInformation, type, sizeof type, nullptr) != 0) continue;
    const UNICODE_STRING& name = reinterpret_cast<const PUBLIC_OBJECT_TYPE_INFORMATION*>(type)->TypeName;
    mutexes += std::wstring(name.Buffer, name.Length / sizeof(wchar_t)) == L"Mutant";
  }
  return mutexes;
}

// The lowest thread-local storage slot free in the process.
DWORD FirstFreeTlsSlot() {
  const DWORD slot = TlsAlloc();
  TlsFree(slot);
  return slot;
}

}  // namespace

// Runs first: the process holds nothing of the GUI yet.
TEST(StartupDll, ScanningThePlugInBringsNoneOfTheGuiIntoTheProcess) {
  ASSERT_EQ(LoadedGuiDlls(), std::vector<std::string>()) << "the test program itself holds them";
  DeleteFileA(ProductExceptionLogPath().c_str());
  for (int scan = 0; scan < 3; ++scan) {
    TVstHost host(ProductDllPath());
    host.Start(44100, 512);
    EXPECT_EQ(host.ProductString(), "Tarvik");
    EXPECT_EQ(host.Effect()->numParams, 12);
    EXPECT_NE(host.Effect()->flags & effFlagsHasEditor, 0);  // an editor it can open, not opened
    EXPECT_EQ(LoadedGuiDlls(), std::vector<std::string>());
  }
  EXPECT_EQ(GetModuleHandleA(ProductDllPath().c_str()), nullptr);
  EXPECT_EQ(LoadedGuiDlls(), std::vector<std::string>());
  EXPECT_FALSE(FileExists(ProductExceptionLogPath()));
}

TEST(StartupDll, TheFirstEditorStartsTheGuiAndTheLastPlugInClosedStopsIt) {
  // Kept loaded between the plug-ins, so that closing them is what stops the GUI.
  HMODULE module = LoadLibraryA(ProductDllPath().c_str());
  ASSERT_NE(module, nullptr);
  auto first = std::make_unique<TVstHost>(ProductDllPath());
  auto second = std::make_unique<TVstHost>(ProductDllPath());
  first->Start(44100, 512);
  second->Start(44100, 512);
  EXPECT_FALSE(GdiPlusLoaded());
  {
    TEditorWindow editor(*first);
    editor.Run(150);
    EXPECT_TRUE(GdiPlusLoaded());
    // The skin is drawn: the background image is far from a blank window.
    const TScreenshot shot = editor.Screenshot();
    ASSERT_GT(shot.width, 400);
    ASSERT_GT(shot.height, 400);
    int differing = 0;
    for (int32_t y = 0; y < shot.height; y += 7)
      for (int32_t x = 0; x < shot.width; x += 7) differing += shot.At(x, y) != shot.At(0, 0) ? 1 : 0;
    EXPECT_GT(differing, 100);
  }
  EXPECT_TRUE(GdiPlusLoaded());  // an editor closed: both plug-ins still hold the GUI
  first.reset();
  EXPECT_TRUE(GdiPlusLoaded());
  second->Close();
  EXPECT_FALSE(GdiPlusLoaded());
  second.reset();
  // Another first editor starts it again.
  {
    TVstHost again(ProductDllPath());
    again.Start(44100, 512);
    TEditorWindow editor(again);
    editor.Run(100);
    EXPECT_TRUE(GdiPlusLoaded());
  }
  EXPECT_FALSE(GdiPlusLoaded());
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(GetModuleHandleA(ProductDllPath().c_str()), nullptr);
}

// A host that loads the DLL, makes a plug-in, perhaps shows its editor, closes it and unloads the
// DLL again, a hundred times over: the library's work locks are made at first use, and the
// unload closes them with the module (none are made by the unload itself); the thread-local
// storage slot the threads library takes in each load goes with it.
TEST(StartupDll, LoadsAndUnloadsLeaveNoMutexNorStorageSlotBehind) {
  HWND parent = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 600, 600, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(parent, nullptr);
  auto pump = [] {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  };
  for (const bool editor : {false, true}) {
    auto once = [&] {
      TVstHost host(ProductDllPath());
      host.Start(44100, 512);
      if (!editor) return;
      ASSERT_EQ(host.Dispatch(effEditOpen, 0, 0, parent), 1);
      pump();
      host.Dispatch(effEditIdle);
      host.Dispatch(effEditClose);
      pump();
    };
    once();  // what the system makes once for the process (the GUI's first start)
    const int32_t before = MutexHandles();
    ASSERT_GE(before, 0) << "the process's handles cannot be listed";
    const DWORD slot = FirstFreeTlsSlot();
    for (int32_t i = 0; i < 100; ++i) once();
    EXPECT_EQ(GetModuleHandleA(ProductDllPath().c_str()), nullptr);
    EXPECT_EQ(MutexHandles(), before) << (editor ? "editor opened and closed" : "scan");
    EXPECT_EQ(FirstFreeTlsSlot(), slot) << (editor ? "editor opened and closed" : "scan");
  }
  DestroyWindow(parent);
}
