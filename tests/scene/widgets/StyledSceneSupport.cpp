// Test support of the grid, colour and design controls: the default style and the scene fixture.
#include "StyledSceneSupport.h"

#include "scene/controls/DefaultStyleSupport.h"
#include "scene/controls/vg_layouts.h"
#include "scene/shapes/vg_animations.h"
#include "scene/shapes/vg_effects.h"

namespace {

// The default style is loaded once: reading its text takes longer than most tests.
class DefaultStyleEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    vgInitObjectsUnit();
    vgInitAnimationsUnit();
    vgInitEffectsUnit();
    vgInitLayoutsUnit();
    ASSERT_NE(UseDefaultStyle(), nullptr);
  }
  void TearDown() override { vgFreeDefaultStyle(); }
};
const auto* const g_styleEnvironment = ::testing::AddGlobalTestEnvironment(new DefaultStyleEnvironment);

}  // namespace

void StyledSceneFixture::SetUp() {
  RegisterProbeClasses();
  FreshManualTicker();
  vgSetControlTimerFactory([] { return std::unique_ptr<IvgAniTimer>(new TvgManualAniTimer()); });
  form = new TvgVisualObject(nullptr);
  form->SetBounds(0, 0, 640, 480);
  scene.AddObject(form);
}

void StyledSceneFixture::TearDown() {
  delete form;
  vgSetControlTimerFactory(nullptr);
  vgFreeAniThread();
}
