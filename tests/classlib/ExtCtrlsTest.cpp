// Timers: ticks from the message loop, stopping, a handler that frees its timer, exceptions.
// windows.h comes first: the class library undoes its A/W name macros (TypInfo.h, Canvas.h).
#include <windows.h>

#include "classlib/ExtCtrls.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "Emulation.h"
#include "WindowTestClasses.h"
#include "WindowTestUtils.h"

namespace {

struct TTickSink {
  void Tick(TObject* sender) {
    ++ticks;
    last = sender;
    if (freeOnTick) {
      delete freeOnTick;
      freeOnTick = nullptr;
    }
    if (throwOnTick) throw EInvalidOperation("tick failed");
  }
  void Caught(TObject* sender, const std::exception_ptr&) { ++caught; }
  int ticks = 0;
  int caught = 0;
  TObject* last = nullptr;
  TTimer* freeOnTick = nullptr;
  bool throwOnTick = false;
};

BOOL CALLBACK NoteUtilityWindow(HWND window, LPARAM found) {
  char name[32] = {};
  GetClassNameA(window, name, sizeof(name));
  if (std::string(name) == "KblUtilityWindow") *reinterpret_cast<HWND*>(found) = window;
  return TRUE;
}

}  // namespace

TEST(Timer, FiresFromTheMessageLoopUntilDisabled) {
  TTickSink sink;
  TTimer timer(nullptr);
  EXPECT_EQ(timer.GetInterval(), 1000u);
  EXPECT_FALSE(timer.Running());  // no handler yet
  timer.SetInterval(15);
  timer.SetOnTimer(TNotifyEvent::Of<&TTickSink::Tick>(&sink));
  EXPECT_TRUE(timer.Running());
  EXPECT_EQ(sink.ticks, 0);  // nothing before the loop runs
  ASSERT_TRUE(PumpUntil([&] { return sink.ticks >= 3; }));
  EXPECT_EQ(sink.last, &timer);
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Running());
  const int ticks = sink.ticks;
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(sink.ticks, ticks);
  timer.SetEnabled(true);
  timer.SetInterval(0);  // an interval of 0 stops it too
  EXPECT_FALSE(timer.Running());
}

TEST(Timer, HandlerMayFreeItsTimerAndTheUtilityWindowGoesWithTheLastTimer) {
  TTickSink sink;
  auto* timer = new TTimer(nullptr);
  sink.freeOnTick = timer;
  timer->SetInterval(10);
  timer->SetOnTimer(TNotifyEvent::Of<&TTickSink::Tick>(&sink));
  EXPECT_TRUE(WindowClassRegistered("KblUtilityWindow"));
  ASSERT_TRUE(PumpUntil([&] { return sink.freeOnTick == nullptr; }));
  PumpUntil([] { return false; }, 60);
  EXPECT_EQ(sink.ticks, 1);
  EXPECT_FALSE(WindowClassRegistered("KblUtilityWindow"));
}

// A host may close its editor on another thread than the one that opened it: the timer stops on
// the window it was set on, and that window goes, on its own thread, with its last hold.
TEST(Timer, StoppedOnAnotherThreadItStopsWhereItWasSetAndItsWindowGoesWithTheLastHold) {
  TTickSink sink;
  TTimer holding(nullptr);
  holding.SetInterval(600000);
  holding.SetOnTimer(TNotifyEvent::Of<&TTickSink::Tick>(&sink));
  TTimer timer(nullptr);
  timer.SetInterval(5);
  timer.SetOnTimer(TNotifyEvent::Of<&TTickSink::Tick>(&sink));
  ASSERT_TRUE(PumpUntil([&] { return sink.ticks >= 1; }));
  std::thread([&] { timer.SetEnabled(false); }).join();
  EXPECT_FALSE(timer.Running());
  // Taken off the queue undispatched: the window's own timer messages.
  int timerMessages = 0;
  for (int i = 0; i < 20; ++i, Sleep(5)) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) ++timerMessages;
  }
  EXPECT_EQ(timerMessages, 0);
  std::thread([&] { holding.SetEnabled(false); }).join();
  EXPECT_TRUE(PumpUntil([] { return !WindowClassRegistered("KblUtilityWindow"); }, MachineBound(1000)));
}

// A thread that ends without running its loop again leaves its utility window's holds behind, and
// its windows go with it; the system may give a later thread its id. That thread's timers get a
// window of their own. (Here the window goes behind the table's back on this very thread.)
TEST(Timer, AThreadGivenTheIdOfOneThatEndedHoldingItsUtilityWindowGetsAWindowOfItsOwn) {
  TTickSink sink;
  TTimer left(nullptr);
  left.SetInterval(600000);
  left.SetOnTimer(TNotifyEvent::Of<&TTickSink::Tick>(&sink));
  HWND gone = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), &NoteUtilityWindow, reinterpret_cast<LPARAM>(&gone));
  ASSERT_NE(gone, nullptr);
  ASSERT_TRUE(DestroyWindow(gone));
  TTimer timer(nullptr);
  timer.SetInterval(5);
  timer.SetOnTimer(TNotifyEvent::Of<&TTickSink::Tick>(&sink));
  EXPECT_TRUE(PumpUntil([&] { return sink.ticks >= 1; }));
  timer.SetEnabled(false);
  left.SetEnabled(false);
  EXPECT_TRUE(PumpUntil([] { return !WindowClassRegistered("KblUtilityWindow"); }, MachineBound(1000)));
}

TEST(Timer, ExceptionsFromTheHandlerGoToTheApplication) {
  TTickSink sink;
  sink.throwOnTick = true;
  Application().OnException = TExceptionEvent::Of<&TTickSink::Caught>(&sink);
  {
    TTimer timer(nullptr);
    timer.SetInterval(10);
    timer.SetOnTimer(TNotifyEvent::Of<&TTickSink::Tick>(&sink));
    EXPECT_TRUE(PumpUntil([&] { return sink.caught >= 2; }));
  }
  Application().OnException = nullptr;
  EXPECT_EQ(sink.caught, sink.ticks);
}

TEST(Timer, ProcessMessagesServesTimersAndKeepsAQuitForTheHost) {
  TTickSink sink;
  TTimer timer(nullptr);
  timer.SetInterval(10);
  timer.SetOnTimer(TNotifyEvent::Of<&TTickSink::Tick>(&sink));
  Sleep(40);
  Application().ProcessMessages();
  EXPECT_GE(sink.ticks, 1);
  PostQuitMessage(7);
  Application().ProcessMessages();
  EXPECT_TRUE(Application().Terminated());
  Application().ResetTerminated();
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // still there for the host
  EXPECT_EQ(msg.wParam, 7u);
}
