// Timers driven by WM_TIMER of the thread's utility window.
#include <windows.h>

#include "../ExtCtrls.h"

#include "../Forms.h"
#include "Windowing_p.h"

KBL_PUBLISHED(TTimer) {
  KBL_PROP(Enabled).Default(true);
  KBL_PROP(Interval).Default(1000);
  KBL_PROP(OnTimer);
}

TTimer::TTimer(TComponent* owner) : TComponent(owner) {}

TTimer::~TTimer() { StopTimer(); }

void TTimer::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  UpdateTimer();
}

void TTimer::SetInterval(uint32_t value) {
  if (interval_ == value) return;
  interval_ = value;
  UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent value) {
  onTimer_ = value;
  UpdateTimer();
}

void TTimer::Loaded() {
  TComponent::Loaded();
  UpdateTimer();
}

void TTimer::StopTimer() {
  if (id_ == 0) return;
  // On the window it was set on, whichever thread stops it: a timer left there would tick on
  // after the module is gone.
  HWND window = static_cast<HWND>(window_);
  KillTimer(window, id_);
  kbl_win::RemoveUtilityTimerHandler(id_);
  id_ = 0;
  window_ = nullptr;
  kbl_win::ReleaseUtilityWindow(window);  // the timer's own hold
}

void TTimer::UpdateTimer() {
  StopTimer();
  if (!enabled_ || interval_ == 0 || !onTimer_.Assigned() || HasState(csLoading) || HasState(csDestroying)) return;
  HWND window = kbl_win::AcquireUtilityWindow();
  const UINT_PTR id = kbl_win::NewTimerId();
  kbl_win::SetUtilityTimerHandler(id, [this] {
    const TComponentFrame frame(this);
    try {
      Timer();
    } catch (...) {
      Application().HandleException(this);
    }
  });
  if (SetTimer(window, id, interval_, nullptr) == 0) {
    kbl_win::RemoveUtilityTimerHandler(id);
    kbl_win::ReleaseUtilityWindow(window);
    throw EInvalidOperation("Not enough timers available");
  }
  id_ = id;
  window_ = window;
}

void TTimer::Timer() { onTimer_(this); }
