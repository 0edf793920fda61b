// What a host sees of the real DLL's start-up through its entry: loading it, creating and closing
// plug-ins and unloading it again (what a host does when it scans its plug-ins) bring none of the
// GUI into the process (no GDI+, COM, common controls or common dialogs); the first editor window
// starts the GUI, which runs until the last plug-in closes, and an editor opened after many scans
// draws the plug-in's skin. A program of its own: it watches the DLLs its process holds.
#include <windows.h>

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
