// A program whose first scene is made before anything else of the scene library ends cleanly:
// the scene unit's end runs among the module's statics at exit and frees the default style and
// the registries, which were made after it. The program runs that case in a child of its own and
// judges the child's exit.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "classlib/WindowTestUtils.h"
#include "scene/core/vg_control.h"
#include "scene/core/win32/vg_gdiplus.h"
#include "scene/core/win32/vg_scene.h"

namespace {

constexpr char kChildVariable[] = "KBL_SCENE_EXIT_CHILD";

LONG WINAPI EndWithTheFault(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

TEST(SceneExit, ChildFirstSceneThenObjects) {
  if (std::getenv(kChildVariable) == nullptr) GTEST_SKIP() << "run in a child by the test below";
  // A fault at exit ends the child with its code instead of starting a debugger.
  SetUnhandledExceptionFilter(EndWithTheFault);
  StartGdiPlus();
  {
    TForeignWindow host(200, 100);
    TvgScene* scene = TWinControl::CreateParented<TvgScene>(host.handle);
    // Objects made and freed by the hundred thousand: the registry's table becomes a block of its
    // own, which the heap gives back to the system when it is freed.
    for (int i = 0; i < 300000; ++i) delete new TvgObject(nullptr);
    // The default style still holds objects at exit: the unit's end frees them.
    auto* style = new TvgVisualObject(nullptr);
    new TvgVisualObject(style);
    vgSetDefaultStyle(style);
    delete scene;
  }
  StopGdiPlus();
}

TEST(SceneExit, ProgramEndsCleanlyWhenItsFirstSceneCameFirst) {
  if (std::getenv(kChildVariable) != nullptr) GTEST_SKIP();
  char path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
  std::string command = std::string("\"") + path + "\" --gtest_filter=SceneExit.ChildFirstSceneThenObjects";
  SetEnvironmentVariableA(kChildVariable, "1");
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  const BOOL started =
      CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableA(kChildVariable, nullptr);
  ASSERT_TRUE(started);
  const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
  if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 255);
  DWORD code = 255;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(waited, WAIT_OBJECT_0) << "the child hung or crashed at exit";
  EXPECT_EQ(code, 0u);
}

}  // namespace
