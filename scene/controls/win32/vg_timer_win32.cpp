// The controls' timers on Windows: thread timers of the GUI thread's message loop, each with its
// own id (the animation ticker keeps its own).
#include <windows.h>

#include <map>

#include "scene/controls/vg_controls_p.h"

namespace {

class TWin32ControlTimer final : public IvgAniTimer {
 public:
  ~TWin32ControlTimer() override { Stop(); }
  uint32_t GetTickCount() override { return ::GetTickCount(); }
  void Start(uint32_t intervalMs, std::function<void()> onTimer) override {
    Stop();
    onTimer_ = std::move(onTimer);
    id_ = ::SetTimer(nullptr, 0, intervalMs == 0 ? 1 : intervalMs, &TimerProc);
    if (id_ != 0) Timers()[id_] = this;
  }
  void Stop() override {
    if (id_ != 0) {
      ::KillTimer(nullptr, id_);
      Timers().erase(id_);
    }
    id_ = 0;
    onTimer_ = nullptr;
  }
  void ProcessMessages() override {}

 private:
  static std::map<UINT_PTR, TWin32ControlTimer*>& Timers() {
    static std::map<UINT_PTR, TWin32ControlTimer*> timers;
    return timers;
  }
  // Windows calls this from DispatchMessage: nothing may escape.
  static void CALLBACK TimerProc(HWND, UINT, UINT_PTR id, DWORD) {
    try {
      auto it = Timers().find(id);
      if (it == Timers().end() || !it->second->onTimer_) return;
      std::function<void()> call = it->second->onTimer_;  // the handler may stop or restart it
      call();
    } catch (...) {
    }
  }

  UINT_PTR id_ = 0;
  std::function<void()> onTimer_;
};

}  // namespace

std::unique_ptr<IvgAniTimer> vgCreateControlTimer() { return std::make_unique<TWin32ControlTimer>(); }
