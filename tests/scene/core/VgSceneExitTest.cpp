// A program whose first scene is made before anything else of the scene library ends cleanly:
// the scene unit's end runs among the module's statics at exit and frees the default style and
// the registries, which were made after it. The program runs that case in a child of its own and
// judges the child's exit.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "ChildProcess.h"
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
  const TChildRun run =
      RunChildProcess("--gtest_filter=SceneExit.ChildFirstSceneThenObjects", {{kChildVariable, "1"}}, 60000);
  ASSERT_TRUE(run.Started);
  EXPECT_TRUE(run.Ended) << "the child hung or crashed at exit";
  EXPECT_EQ(run.ExitCode, 0u);
}

}  // namespace
