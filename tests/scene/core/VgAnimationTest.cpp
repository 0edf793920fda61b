// Animations stepped by a manual ticker, and effects switched by triggers.
#include <gtest/gtest.h>

#include "Emulation.h"
#include "ObjectsTestSupport.h"

namespace {

class AnimationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterProbeClasses();
    timer = FreshManualTicker();
    host = new TvgVisualObject(nullptr);
    host->SetBounds(0, 0, 100, 100);
    scene.AddObject(host);
  }
  void TearDown() override {
    delete host;
    vgFreeAniThread();
    vgSetAniTimerFactory(nullptr);
  }
  TProbeAnimation* Animation(float duration) {
    auto* a = new TProbeAnimation(nullptr);
    a->SetDuration(duration);
    a->SetParent(host);
    return a;
  }
  // Seconds of ticks of 33 ms.
  void Run(int ticks) { timer->Advance(33u * static_cast<uint32_t>(ticks)); }

  struct Finish {
    void On(TObject*) { ++count; }
    int count = 0;
  };

  TTestScene scene;
  TvgManualAniTimer* timer = nullptr;
  TvgVisualObject* host = nullptr;
};

TEST_F(AnimationTest, ZeroDurationAppliesTheEndAtOnce) {
  Finish finish;
  auto* a = Animation(0);
  a->OnFinish = TNotifyEvent::Of<&Finish::On>(&finish);
  a->Start();
  ASSERT_EQ(a->values.size(), 1u);
  EXPECT_FLOAT_EQ(a->values[0], 1);
  EXPECT_EQ(finish.count, 1);
  EXPECT_FLOAT_EQ(a->GetDuration(), 0.00001f);
  EXPECT_FALSE(a->GetEnabled());
  EXPECT_FALSE(a->GetRunning());
  EXPECT_FALSE(vgAniThread()->Contains(a));
}

TEST_F(AnimationTest, ARunAdvancesWithTheClockAndFinishesOnce) {
  Finish finish;
  auto* a = Animation(0.33f);
  a->OnFinish = TNotifyEvent::Of<&Finish::On>(&finish);
  a->SetEnabled(true);
  EXPECT_TRUE(a->GetRunning());
  ASSERT_EQ(a->values.size(), 1u);  // the start value at once
  EXPECT_FLOAT_EQ(a->values[0], 0);
  Run(5);
  ASSERT_EQ(a->values.size(), 6u);
  EXPECT_NEAR(a->values[5], 0.5f, 1e-3);
  Run(10);
  EXPECT_FALSE(a->GetRunning());
  EXPECT_FLOAT_EQ(a->values.back(), 1);
  EXPECT_EQ(finish.count, 1);
  EXPECT_TRUE(a->GetEnabled());  // a natural end keeps Enabled
  const size_t steps = a->values.size();
  Run(3);
  EXPECT_EQ(a->values.size(), steps);
  EXPECT_FALSE(vgAniThread()->Contains(a));
}

TEST_F(AnimationTest, LoopWithAutoReverseTurnsAtEachEnd) {
  auto* a = Animation(0.09f);
  a->SetLoop(true);
  a->SetAutoReverse(true);
  a->Start();
  Run(3);
  EXPECT_TRUE(a->GetInverse());
  Run(3);
  EXPECT_FALSE(a->GetInverse());
  EXPECT_TRUE(a->GetRunning());
  auto* plain = Animation(0.09f);
  plain->SetLoop(true);
  plain->Start();
  Run(3);
  EXPECT_FLOAT_EQ(plain->GetCurrentTime(), 0);
  EXPECT_FALSE(plain->GetInverse());
  a->Stop();
  EXPECT_FALSE(a->GetEnabled());
  EXPECT_FLOAT_EQ(a->values.back(), a->GetInverse() ? 0.0f : 1.0f);
}

TEST_F(AnimationTest, DelayHoldsTheRunBackForItsLength) {
  auto* a = Animation(1);
  a->SetDelay(1);
  a->Start();
  EXPECT_TRUE(a->values.empty());
  Run(29);  // 0.957 s
  EXPECT_TRUE(a->values.empty());
  EXPECT_FLOAT_EQ(a->NormalizedTime(), 0);
  Run(2);  // the delay runs out: the run starts from 0
  EXPECT_TRUE(a->values.empty());
  Run(1);
  ASSERT_EQ(a->values.size(), 1u);
  EXPECT_NEAR(a->values[0], 0.033f, 1e-3);
  Run(29);
  EXPECT_TRUE(a->GetRunning());
  Run(1);
  EXPECT_FALSE(a->GetRunning());
}

TEST_F(AnimationTest, AnimationsEndingInTheSameTickAreAllStepped) {
  Finish finish;
  TProbeAnimation* all[3];
  for (auto*& a : all) {
    a = Animation(0.033f);
    a->OnFinish = TNotifyEvent::Of<&Finish::On>(&finish);
    a->Start();
  }
  Run(1);
  EXPECT_EQ(finish.count, 3);
  for (auto* a : all) EXPECT_FLOAT_EQ(a->values.back(), 1);
  EXPECT_EQ(vgAniThread()->Count(), 0);
}

// Each handler a step runs: as the run ends (OnFinish), at the step's end (OnProcess), as the run
// is stopped because its parent was hidden (OnFinish), and at a step of a run waited for.
TEST_F(AnimationTest, AFinishOrProcessHandlerMayFreeItsAnimation) {
  struct Freer {
    void On(TObject* sender) { delete sender; }
  } freer;
  for (const int handler : {0, 1, 2, 3}) {
    auto* a = Animation(handler == 2 ? 1 : 0.033f);
    auto* b = Animation(handler == 2 ? 1 : 0.033f);
    for (TvgAnimation* each : {a, b}) (handler % 2 == 1 ? each->OnProcess : each->OnFinish) = TNotifyEvent::Of<&Freer::On>(&freer);
    if (handler == 3) {
      a->SetTrigger("IsVisible=true");
      host->StartTriggerAnimationWait(host, "IsVisible");
    } else {
      a->Start();
    }
    b->Start();
    if (handler == 2) host->SetVisible(false);
    Run(2);
    EXPECT_EQ(host->GetChildrenCount(), 0) << handler;
    host->SetVisible(true);
  }
  auto* now = Animation(0);
  now->OnFinish = TNotifyEvent::Of<&Freer::On>(&freer);
  now->Start();
  EXPECT_EQ(host->GetChildrenCount(), 0);
}

TEST_F(AnimationTest, CaretAnimationsStepEveryThirdTick) {
  auto* caret = Animation(10);
  caret->SetBindingName("Caret");
  caret->Start();
  Run(9);
  EXPECT_EQ(caret->values.size(), 1u + 3u);
  EXPECT_NEAR(caret->GetCurrentTime(), 3 * 0.033f, 1e-4);
}

TEST_F(AnimationTest, HidingTheParentStopsTheAnimation) {
  auto* a = Animation(1);
  a->Start();
  Run(1);
  host->SetVisible(false);
  Run(1);
  EXPECT_FALSE(a->GetRunning());
  EXPECT_FALSE(a->GetEnabled());
  a->Start();  // a hidden parent: nothing happens
  EXPECT_FALSE(a->GetRunning());
}

TEST_F(AnimationTest, TriggersStartOnlyWhenTheirConditionsHold) {
  auto* a = Animation(1);
  a->SetTrigger("IsMouseOver=true;Visible=True");
  host->MouseLeave();
  EXPECT_FALSE(a->GetRunning());
  host->MouseEnter();
  EXPECT_TRUE(a->GetRunning());
  a->Stop();
  a->StartTrigger(host, "IsFocused");  // not mentioned
  EXPECT_FALSE(a->GetRunning());
  a->StartTrigger(nullptr, "IsMouseOver");
  EXPECT_FALSE(a->GetRunning());
}

TEST_F(AnimationTest, WaitingForATriggerAnimationRunsTheTicker) {
  auto* a = Animation(0.2f);
  a->SetTrigger("IsMouseOver=false");
  host->StartTriggerAnimationWait(host, "IsMouseOver");
  EXPECT_FALSE(a->GetRunning());
  EXPECT_FLOAT_EQ(a->values.back(), 1);
  EXPECT_GE(timer->GetTickCount(), 200u);
}

TEST_F(AnimationTest, WithoutASceneOrAtDesignTimeAnimationsJumpToTheirEnd) {
  auto* loose = new TProbeAnimation(nullptr);
  loose->SetDuration(5);
  loose->Start();
  ASSERT_EQ(loose->values.size(), 1u);
  EXPECT_FLOAT_EQ(loose->values[0], 1);
  delete loose;
  scene.designTime = true;
  auto* a = Animation(5);
  a->SetInverse(true);
  a->Start();
  EXPECT_FLOAT_EQ(a->values.back(), 0);
  scene.designTime = false;
}

// --- Effects

TEST_F(AnimationTest, EffectsAreEnabledWhenNewAndRepaintTheirAreaWhenSwitchedOff) {
  auto* child = new TvgVisualObject(nullptr);
  child->SetBounds(20, 20, 10, 10);
  child->SetParent(host);
  auto* effect = new TProbeEffect(nullptr);
  EXPECT_TRUE(effect->GetEnabled());
  effect->SetParent(child);
  EXPECT_TRUE(child->GetHasEffects());
  scene.updates.clear();
  effect->SetEnabled(false);
  EXPECT_FALSE(child->GetHasEffects());
  bool covered = false;
  for (const TvgRect& r : scene.updates) covered = covered || (r.Left <= 10 && r.Top <= 10 && r.Right >= 40);
  EXPECT_TRUE(covered);
  EXPECT_EQ(child->GetUpdateRect(), vgRect(20, 20, 30, 30));
  effect->SetEnabled(true);
  EXPECT_TRUE(child->GetHasEffects());
  EXPECT_TRUE(child->GetEffectsDirty());
}

TEST_F(AnimationTest, AFocusTriggeredEffectFollowsTheFocus) {
  auto* child = new TvgVisualObject(nullptr);
  child->SetParent(host);
  child->SetCanFocused(true);
  auto* effect = new TProbeEffect(nullptr);
  effect->SetTrigger("IsFocused=true");
  effect->SetParent(child);
  child->FireTrigger("IsFocused");
  EXPECT_FALSE(effect->GetEnabled());
  child->SetFocus();
  EXPECT_TRUE(effect->GetEnabled());
  scene.SetFocused(nullptr);
  EXPECT_FALSE(effect->GetEnabled());
  child->FireTrigger("IsMouseOver");  // not mentioned: unchanged
  EXPECT_FALSE(effect->GetEnabled());
}

}  // namespace

#ifdef _WIN32
namespace {

// The Windows timer fires from the thread's message loop.
TEST(PlatformAniTimerTest, FiresFromTheMessageLoop) {
  std::unique_ptr<IvgAniTimer> timer = vgCreatePlatformAniTimer();
  int fired = 0;
  timer->Start(10, [&fired] { ++fired; });
  const uint32_t start = timer->GetTickCount();
  while (fired < 2 && timer->GetTickCount() - start < MachineBound(5000)) timer->ProcessMessages();
  timer->Stop();
  EXPECT_GE(fired, 2);
  const int after = fired;
  const uint32_t stopAt = timer->GetTickCount();
  while (timer->GetTickCount() - stopAt < 100) timer->ProcessMessages();
  EXPECT_EQ(fired, after);
}

}  // namespace
#endif

namespace {

TEST(AnimationWaitTest, WaitingNeverHangsOnALoopingAnimation) {
  RegisterProbeClasses();
  FreshManualTicker();
  TTestScene scene;
  auto* host = new TvgVisualObject(nullptr);
  scene.AddObject(host);
  auto* looping = new TProbeAnimation(nullptr);
  looping->SetDuration(0.1f);
  looping->SetLoop(true);
  looping->SetTrigger("IsVisible=true");
  looping->SetParent(host);
  host->StartTriggerAnimationWait(host, "IsVisible");
  EXPECT_TRUE(looping->GetRunning());
  delete host;
  vgFreeAniThread();
}

}  // namespace
