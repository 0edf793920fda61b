// The animation base and the one ticker that advances every running animation, with the timer
// behind it kept behind a small interface (a window timer on Windows, a manual clock in tests).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vg_easing.h"
#include "vg_object.h"

// The clock and periodic timer of the ticker. Everything runs on the GUI thread.
class IvgAniTimer {
 public:
  virtual ~IvgAniTimer() = default;
  // Milliseconds since some fixed point (wraps like GetTickCount).
  virtual uint32_t GetTickCount() = 0;
  // Calls `onTimer` every `intervalMs` from the thread's message loop until Stop.
  virtual void Start(uint32_t intervalMs, std::function<void()> onTimer) = 0;
  virtual void Stop() = 0;
  // Handles pending messages once and yields (Sleep(0)); the wait loops call it.
  virtual void ProcessMessages() = 0;
};

// A timer driven by hand: Advance moves the clock and fires one timer event per interval
// passed; ProcessMessages advances by one interval. The default outside Windows.
class TvgManualAniTimer : public IvgAniTimer {
 public:
  uint32_t GetTickCount() override { return now_; }
  void Start(uint32_t intervalMs, std::function<void()> onTimer) override;
  void Stop() override { onTimer_ = nullptr; }
  void ProcessMessages() override { Advance(interval_); }
  // Moves the clock by `ms`; fires the timer for every whole interval passed when running.
  void Advance(uint32_t ms);
  // Moves the clock without firing.
  void SetTime(uint32_t ms) { now_ = ms; }
  bool Running() const { return static_cast<bool>(onTimer_); }

 private:
  uint32_t now_ = 0;
  uint32_t interval_ = 33;
  uint32_t sinceTick_ = 0;
  std::function<void()> onTimer_;
};

// Replaces how the ticker makes its timer (nullptr: the platform's). Takes effect for the next
// ticker created; tests set it, then free the ticker with vgFreeAniThread.
void vgSetAniTimerFactory(std::function<std::unique_ptr<IvgAniTimer>()> factory);
// The platform's timer: a thread timer of the Win32 message loop, or a manual timer.
std::unique_ptr<IvgAniTimer> vgCreatePlatformAniTimer();

class TvgAnimation;

// The shared ticker: a 33 ms timer that steps every running animation.
class TvgAniThread : public TObject {
 public:
  TvgAniThread();
  ~TvgAniThread() override;

  // Adds once; removes when present.
  void Add(TvgAnimation* animation);
  void Remove(TvgAnimation* animation);
  bool Contains(const TvgAnimation* animation) const;
  int32_t Count() const { return static_cast<int32_t>(animations_.size()); }
  // One timer event: steps the running animations, newest first.
  void DoSyncTimer();
  IvgAniTimer* Timer() const { return timer_.get(); }
  float StartTime() const { return startTime_; }
  float LastTime() const { return lastTime_; }
  float Delta() const { return delta_; }

 private:
  std::unique_ptr<IvgAniTimer> timer_;
  std::vector<TvgAnimation*> animations_;
  float startTime_ = 0;
  float lastTime_ = 0;
  float delta_ = 0;
};

// The ticker when one exists (created by the first animation that starts).
TvgAniThread* vgAniThread();
TvgAniThread* vgEnsureAniThread();
// Frees the ticker (the unit's finalisation; tests use it to start clean).
void vgFreeAniThread();
// Handles messages (through the ticker's timer) until the animation no longer runs; returns at
// once for a looping or paused animation.
void vgWaitForAnimation(TvgAnimation* animation);

// A timed change of a property of its parent. Subclasses apply NormalizedTime in
// ProcessAnimation.
class TvgAnimation : public TvgObject {
  KBL_DECLARE_CLASS(TvgAnimation, TvgObject)
 public:
  explicit TvgAnimation(TComponent* owner);
  ~TvgAnimation() override;

  void Loaded() override;
  // Applies the value of the current time; empty here.
  virtual void ProcessAnimation() {}
  virtual void Start();
  // Ends a running animation at its end value.
  virtual void Stop();
  // Ends a running animation where it is.
  virtual void StopAtCurrent();
  // Starts when the trigger text mentions `trigger` and its conditions hold on `instance`.
  virtual void StartTrigger(TvgObject* instance, const std::string& trigger);
  // One step of the ticker.
  void Tick(float delta, float now);
  // The eased progress 0..1 (beyond for curves that overshoot); 0 while a delay is pending.
  float NormalizedTime() const;

  TvgAnimationType GetAnimationType() const { return animationType_; }
  void SetAnimationType(TvgAnimationType value) { animationType_ = value; }
  bool GetAutoReverse() const { return autoReverse_; }
  void SetAutoReverse(bool value) { autoReverse_ = value; }
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value);
  float GetDelay() const { return delay_; }
  void SetDelay(float value) { delay_ = value; }
  float GetDuration() const { return duration_; }
  void SetDuration(float value) { duration_ = value; }
  TvgInterpolationType GetInterpolation() const { return interpolation_; }
  void SetInterpolation(TvgInterpolationType value) { interpolation_ = value; }
  bool GetInverse() const { return inverse_; }
  void SetInverse(bool value) { inverse_ = value; }
  bool GetHideOnFinish() const { return hideOnFinish_; }
  void SetHideOnFinish(bool value) { hideOnFinish_ = value; }
  bool GetLoop() const { return loop_; }
  void SetLoop(bool value) { loop_ = value; }
  const std::string& GetTrigger() const { return trigger_; }
  void SetTrigger(const std::string& value) { trigger_ = value; }
  bool GetRunning() const { return running_; }
  bool GetPause() const { return paused_; }
  void SetPause(bool value) { paused_ = value; }
  float GetCurrentTime() const { return time_; }
  float GetRemainingDelay() const { return delayTime_; }

  // After every step.
  TNotifyEvent OnProcess;
  // When a run ends or the animation is stopped; the handler may free the animation.
  TNotifyEvent OnFinish;

 protected:
  bool InDesignMode() const;
  bool ParentHidden() const;

 private:
  TvgAnimationType animationType_ = vgAnimationIn;
  bool autoReverse_ = false;
  bool enabled_ = false;
  float delay_ = 0;
  float duration_ = 0.2f;
  TvgInterpolationType interpolation_ = vgInterpolationLinear;
  bool inverse_ = false;
  bool hideOnFinish_ = false;
  bool loop_ = false;
  std::string trigger_;
  float delayTime_ = 0;
  float time_ = 0;
  bool paused_ = false;
  bool running_ = false;
};
