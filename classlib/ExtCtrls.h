// Timers of the window layer: a component raising OnTimer at an interval from the thread's
// message loop. Win32 only.
#pragma once

#ifndef _WIN32
#error "ExtCtrls.h is part of the Win32 window layer"
#endif

#include <cstdint>

#include "Classes.h"
#include "TypInfo.h"

// Raises OnTimer every Interval milliseconds while Enabled, an interval above 0 and a handler
// are given. The timer runs on the thread that enabled it (through that thread's hidden utility
// window) and OnTimer runs from its message loop; it should be changed and freed on that thread,
// but one stopped or freed on another stops on the thread that set it.
// An exception raised by the handler goes to Application().HandleException.
class TTimer : public TComponent {
  KBL_DECLARE_CLASS(TTimer, TComponent)
 public:
  explicit TTimer(TComponent* owner);
  ~TTimer() override;

  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value);
  uint32_t GetInterval() const { return interval_; }
  void SetInterval(uint32_t value);
  TNotifyEvent GetOnTimer() const { return onTimer_; }
  void SetOnTimer(TNotifyEvent value);
  // True while a system timer is running for this component.
  bool Running() const { return id_ != 0; }

  void Loaded() override;

 protected:
  virtual void Timer();

 private:
  void UpdateTimer();
  void StopTimer();
  bool enabled_ = true;
  uint32_t interval_ = 1000;
  TNotifyEvent onTimer_;
  uintptr_t id_ = 0;
  void* window_ = nullptr;  // the utility window the running timer was set on
};
