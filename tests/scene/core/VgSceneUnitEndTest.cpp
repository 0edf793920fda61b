// The scene unit's end frees its lists and shared objects. It runs in a program of its own: the
// registries it frees are the ones every other test program keeps until it ends.
#include <gtest/gtest.h>

#include <memory>

#include "scene/core/vg_animation.h"
#include "scene/core/vg_control.h"
#include "scene/core/vg_designer.h"
#include "scene/core/vg_registry.h"
#include "scene/core/vg_resources.h"
#include "scene/core/vg_sceneengine.h"

namespace {

TEST(SceneUnitEnd, FreesTheTickerDefaultStyleClipboardAndRegistries) {
  vgSetAniTimerFactory([] { return std::unique_ptr<IvgAniTimer>(std::make_unique<TvgManualAniTimer>()); });
  auto* styleRoot = new TvgBackground(nullptr);
  bool styleFreed = false;
  vgAddFreeNotify(styleRoot, &styleFreed, [&] { styleFreed = true; });
  vgSetDefaultStyle(styleRoot);
  ASSERT_NE(vgEnsureAniThread(), nullptr);
  vgDesignClipboard() = "object TvgObject\nend";
  TObject sceneStandIn;
  vgAddScene(&sceneStandIn);
  auto* survivor = new TvgVisualObject(nullptr);
  ASSERT_TRUE(vgIsSceneObjectAlive(survivor));
  ASSERT_FALSE(vgObjectCategories().empty());
  ASSERT_FALSE(vgScenes().empty());

  vgFinalizeSceneUnit();

  EXPECT_TRUE(styleFreed);
  EXPECT_EQ(vgAniThread(), nullptr);
  EXPECT_TRUE(vgDesignClipboard().empty());
  EXPECT_EQ(vgCurrentDropTarget(), nullptr);
  EXPECT_TRUE(vgScenes().empty());
  EXPECT_TRUE(vgObjectCategories().empty());
  EXPECT_TRUE(vgSceneObjects().empty());
  EXPECT_FALSE(vgIsSceneObjectAlive(survivor));
  // Objects that outlive the unit still go quietly.
  delete survivor;
  vgRemoveScene(&sceneStandIn);
  vgSetAniTimerFactory(nullptr);
}

}  // namespace
