// The controls' timer on the Windows message loop: it ticks beside the animation ticker without
// taking the ticker's timer away.
#include <gtest/gtest.h>

#include <windows.h>

#include "ControlsTestSupport.h"
#include "Emulation.h"

namespace {

void Pump(uint32_t ms) {
  const DWORD end = ::GetTickCount() + ms;
  while (static_cast<int32_t>(end - ::GetTickCount()) > 0) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    ::Sleep(1);
  }
}

TEST(ControlTimerWin32, TicksBesideARunningAnimation) {
  vgSetAniTimerFactory(nullptr);
  vgFreeAniThread();
  vgSetControlTimerFactory(nullptr);
  TvgVisualObject target(nullptr);
  auto* ani = new TvgFloatAnimation(nullptr);
  ani->SetParent(&target);
  ani->SetPropertyName("Opacity");
  ani->SetStartValue(1);
  ani->SetStopValue(0);
  ani->SetDuration(0.3f);
  ani->Start();
  TCounter ticks;
  TvgTimer timer(nullptr);
  timer.SetInterval(20);
  timer.SetOnTimer(ticks.Event());
  Pump(MachineBound(600));
  EXPECT_GE(ticks.count, 5);
  EXPECT_FALSE(ani->GetRunning());
  EXPECT_FLOAT_EQ(target.GetOpacity(), 0);
  timer.SetEnabled(false);
  const int stopped = ticks.count;
  Pump(100);
  EXPECT_EQ(ticks.count, stopped);
  vgFreeAniThread();
}

}  // namespace
