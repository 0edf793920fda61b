// The animation base and the shared ticker.
#include "vg_animation.h"

#include <algorithm>
#include <cmath>

#include "vg_visualobject.h"

KBL_PUBLISHED(TvgAnimation) {
  KBL_PROP(AnimationType).Default(vgAnimationIn);
  KBL_PROP(AutoReverse).Default(false);
  KBL_PROP(Enabled).Default(false);
  KBL_PROP(Delay);
  KBL_PROP(Duration).Default(0.2f);
  KBL_PROP(Interpolation).Default(vgInterpolationLinear);
  KBL_PROP(Inverse).Default(false);
  KBL_PROP(HideOnFinish).Default(false);
  KBL_PROP(Loop).Default(false);
  KBL_PROP(Trigger);
  p.Property("OnProcess", &TvgAnimation::OnProcess, &TvgAnimation::OnProcess);
  p.Property("OnFinish", &TvgAnimation::OnFinish, &TvgAnimation::OnFinish);
}

// --- Timers

void TvgManualAniTimer::Start(uint32_t intervalMs, std::function<void()> onTimer) {
  interval_ = intervalMs == 0 ? 1 : intervalMs;
  sinceTick_ = 0;
  onTimer_ = std::move(onTimer);
}

void TvgManualAniTimer::Advance(uint32_t ms) {
  // One millisecond at a time would be exact but slow; whole intervals are what a window timer
  // delivers anyway.
  while (ms > 0) {
    const uint32_t step = std::min(ms, interval_ - sinceTick_);
    now_ += step;
    sinceTick_ += step;
    ms -= step;
    if (sinceTick_ >= interval_) {
      sinceTick_ = 0;
      if (onTimer_) {
        std::function<void()> call = onTimer_;  // the handler may stop the timer
        call();
      }
    }
  }
}

namespace {

std::function<std::unique_ptr<IvgAniTimer>()>& TimerFactory() {
  static std::function<std::unique_ptr<IvgAniTimer>()> factory;
  return factory;
}

TvgAniThread*& AniThreadVar() {
  static TvgAniThread* thread = nullptr;
  return thread;
}

constexpr uint32_t kTickInterval = 33;

}  // namespace

void vgSetAniTimerFactory(std::function<std::unique_ptr<IvgAniTimer>()> factory) {
  TimerFactory() = std::move(factory);
}

#ifndef _WIN32
std::unique_ptr<IvgAniTimer> vgCreatePlatformAniTimer() { return std::make_unique<TvgManualAniTimer>(); }
#endif

// --- Ticker

TvgAniThread::TvgAniThread() {
  timer_ = TimerFactory() ? TimerFactory()() : vgCreatePlatformAniTimer();
  if (!timer_) timer_ = std::make_unique<TvgManualAniTimer>();
  startTime_ = static_cast<float>(timer_->GetTickCount() / 1000.0);
  timer_->Start(kTickInterval, [this] { DoSyncTimer(); });
}

TvgAniThread::~TvgAniThread() {
  timer_->Stop();
  animations_.clear();
}

void TvgAniThread::Add(TvgAnimation* animation) {
  if (!Contains(animation)) animations_.push_back(animation);
}

void TvgAniThread::Remove(TvgAnimation* animation) {
  animations_.erase(std::remove(animations_.begin(), animations_.end(), animation), animations_.end());
}

bool TvgAniThread::Contains(const TvgAnimation* animation) const {
  return std::find(animations_.begin(), animations_.end(), animation) != animations_.end();
}

void TvgAniThread::DoSyncTimer() {
  const float now = static_cast<float>(timer_->GetTickCount() / 1000.0) - startTime_;
  if (!(now > lastTime_)) return;
  delta_ = now - lastTime_;
  lastTime_ = now;
  // A step may remove any number of animations (its own end, or handlers that free others):
  // walk down and clamp to the list's new end after each entry.
  int32_t i = Count() - 1;
  while (i >= 0) {
    TvgAnimation* animation = animations_[static_cast<size_t>(i)];
    // The animation's handlers run the code of its scene's form: one they release waits for it.
    const TComponentFrame code(animation);
    if (animation->GetRunning()) {
      if (SameText(animation->GetBindingName(), "caret")) {
        // A caret blinks at a third of the tick rate.
        animation->SetTag(animation->GetTag() + 1);
        if (animation->GetTag() % 3 == 0) animation->Tick(delta_, now);
      } else {
        animation->Tick(delta_, now);
      }
    }
    --i;
    if (i >= Count()) i = Count() - 1;
  }
}

TvgAniThread* vgAniThread() { return AniThreadVar(); }

TvgAniThread* vgEnsureAniThread() {
  if (AniThreadVar() == nullptr) AniThreadVar() = new TvgAniThread();
  return AniThreadVar();
}

void vgFreeAniThread() {
  delete AniThreadVar();
  AniThreadVar() = nullptr;
}

void vgWaitForAnimation(TvgAnimation* animation) {
  TvgAniThread* thread = vgEnsureAniThread();
  // A running animation is in the ticker's list; one that left it (or was never added) has
  // nothing more to wait for, nor one that a handler of a step freed. A looping one never ends:
  // waiting for it would hang the GUI.
  const TvgSceneObjectRef<TvgAnimation> waited(animation);
  while (waited.Get() != nullptr && animation->GetRunning() && thread->Contains(animation) &&
         !animation->GetPause() && !animation->GetLoop()) {
    thread->Timer()->ProcessMessages();
  }
}

// --- Animation

TvgAnimation::TvgAnimation(TComponent* owner) : TvgObject(owner) {}

TvgAnimation::~TvgAnimation() {
  if (vgAniThread() != nullptr) vgAniThread()->Remove(this);
}

bool TvgAnimation::InDesignMode() const { return GetScene() != nullptr && GetScene()->GetDesignTime(); }

bool TvgAnimation::ParentHidden() const {
  TvgObject* parent = GetParent();
  return parent != nullptr && parent->IsVisual() && !parent->Visual()->GetVisible();
}

void TvgAnimation::Loaded() {
  inherited::Loaded();
  if (!InDesignMode() && enabled_) Start();
}

void TvgAnimation::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  if (InDesignMode() || HasState(csLoading)) return;
  if (value) {
    Start();
  } else {
    Stop();
  }
}

float TvgAnimation::NormalizedTime() const {
  if (!(duration_ > 0) || (delay_ > 0 && delayTime_ > 0)) return 0;
  return static_cast<float>(vgInterpolate(interpolation_, time_, 0, 1, duration_, animationType_));
}

void TvgAnimation::Start() {
  if (ParentHidden()) return;
  if (std::fabs(duration_) < 0.001f || GetScene() == nullptr || InDesignMode()) {
    // Too short to animate, or nowhere to show it: apply the end at once.
    delayTime_ = 0;
    time_ = inverse_ ? 0.0f : 1.0f;
    duration_ = 1;
    running_ = true;
    ProcessAnimation();
    running_ = false;
    time_ = 0;
    duration_ = 0.00001f;
    enabled_ = false;
    RunHandler(OnFinish, this);  // last: the handler may free the animation
    return;
  }
  delayTime_ = delay_;
  running_ = true;
  time_ = inverse_ ? duration_ : 0.0f;
  if (delay_ == 0) ProcessAnimation();
  vgEnsureAniThread()->Add(this);
  enabled_ = true;
}

void TvgAnimation::Stop() {
  if (!running_) return;
  if (vgAniThread() != nullptr) vgAniThread()->Remove(this);
  time_ = inverse_ ? 0.0f : duration_;
  ProcessAnimation();
  running_ = false;
  enabled_ = false;
  RunHandler(OnFinish, this);
}

void TvgAnimation::StopAtCurrent() {
  if (!running_) return;
  if (vgAniThread() != nullptr) vgAniThread()->Remove(this);
  running_ = false;
  enabled_ = false;
  RunHandler(OnFinish, this);
}

void TvgAnimation::StartTrigger(TvgObject* instance, const std::string& trigger) {
  if (trigger_.empty() || instance == nullptr || !vgTriggerMentions(trigger_, trigger)) return;
  const TvgTriggerResult result = vgEvaluateTrigger(instance, trigger_);
  if (result.Evaluated > 0 && result.AllMatched) Start();
}

void TvgAnimation::Tick(float delta, float now) {
  (void)now;
  if (InDesignMode() || HasState(csDestroying)) return;
  // The handlers a step runs (OnFinish of a stop, OnProcess) may free the animation: it is asked
  // for again after each.
  const TvgSceneObjectRef<TvgAnimation> self(this);
  if (ParentHidden()) Stop();
  if (self.Get() == nullptr || !running_ || paused_) return;
  if (delay_ > 0 && delayTime_ != 0) {
    if (delayTime_ <= 0) return;
    delayTime_ -= delta;
    if (delayTime_ <= 0) {
      Start();
      delayTime_ = 0;
    }
    return;
  }
  time_ += inverse_ ? -delta : delta;
  if (time_ >= duration_) {
    time_ = duration_;
    if (loop_) {
      if (autoReverse_) {
        inverse_ = true;
      } else {
        time_ = 0;
      }
    } else {
      running_ = false;
    }
  } else if (time_ <= 0) {
    time_ = 0;
    if (loop_) {
      if (autoReverse_) {
        inverse_ = false;
      } else {
        time_ = duration_;
      }
    } else {
      running_ = false;
    }
  }
  ProcessAnimation();
  RunHandler(OnProcess, this);
  if (self.Get() != nullptr && GetScene() != nullptr && !running_) {
    if (vgAniThread() != nullptr) vgAniThread()->Remove(this);
    RunHandler(OnFinish, this);  // last: the handler may free the animation
  }
}
