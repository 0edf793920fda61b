// Timing and message pumping shared by the widget benchmarks (Windows only).
#pragma once

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>

#include "scene/core/vg_resources.h"
#include "scene/core/win32/vg_scene.h"

// Wall-clock seconds that `work` takes.
inline double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Best of `runs` runs of work after setup, in milliseconds.
inline double BestMs(int runs, const std::function<void()>& setup, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    setup();
    best = std::min(best, Seconds(work));
  }
  return best * 1000;
}

// Handles every message waiting in the thread's queue.
inline void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Handles messages for `milliseconds`, idle in between. The X server draws what a program sent
// it after the program has sent it: after a large paint it is busy for a while, and every call
// into the window system meanwhile waits several times as long (a round trip 15 µs when idle,
// 100 µs and more then). Timing starts once it is done, so that a figure is the cost of what it
// times rather than the backlog of the step before.
inline void Settle(int milliseconds = 300) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
  while (static_cast<int32_t>(end - GetTickCount()) > 0) {
    Pump();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

// Milliseconds one repaint of a 10 × 10 area at (x, y) of the scene window takes, the area
// queued and the window told to paint, over `runs` repaints (the first one untimed).
inline double SmallRepaintMs(TvgScene* scene, float x, float y, int runs = 200) {
  const auto paint = [&] {
    scene->AddUpdateRect(vgRect(x, y, x + 10, y + 10));
    UpdateWindow(scene->GetHandle());
  };
  paint();
  Settle();
  return Seconds([&] {
           for (int i = 0; i < runs; ++i) paint();
         }) * 1000 / runs;
}

// A scene window filling `host` (width × height), shown, with an empty background as its root;
// its messages handled. Answers the scene; the root comes back through `root`.
inline TvgScene* MakeBenchScene(HWND host, int width, int height, TvgBackground*& root) {
  TvgScene* scene = TWinControl::CreateParented<TvgScene>(host);
  scene->SetBounds(0, 0, width, height);
  scene->HandleNeeded();
  ShowWindow(scene->GetHandle(), SW_SHOWNA);
  root = new TvgBackground(nullptr);
  scene->AddObject(root);
  Pump();
  return scene;
}
