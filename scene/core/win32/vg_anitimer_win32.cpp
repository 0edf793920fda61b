// The animation ticker's timer on Windows: a thread timer of the GUI thread's message loop.
#include <windows.h>

#include "scene/core/vg_animation.h"

namespace {

class TWin32AniTimer final : public IvgAniTimer {
 public:
  ~TWin32AniTimer() override { Stop(); }
  uint32_t GetTickCount() override { return ::GetTickCount(); }
  void Start(uint32_t intervalMs, std::function<void()> onTimer) override {
    Stop();
    onTimer_ = std::move(onTimer);
    active_ = this;
    id_ = ::SetTimer(nullptr, 0, intervalMs, &TimerProc);
  }
  void Stop() override {
    if (id_ != 0) ::KillTimer(nullptr, id_);
    id_ = 0;
    if (active_ == this) active_ = nullptr;
    onTimer_ = nullptr;
  }
  void ProcessMessages() override {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // Leave the quit request for the loop that owns it.
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    ::Sleep(0);
  }

 private:
  // Windows calls this from DispatchMessage: nothing may escape.
  static void CALLBACK TimerProc(HWND, UINT, UINT_PTR id, DWORD) {
    try {
      TWin32AniTimer* timer = active_;
      if (timer == nullptr || timer->id_ != id || !timer->onTimer_) return;
      std::function<void()> call = timer->onTimer_;
      call();
    } catch (...) {
    }
  }

  static inline TWin32AniTimer* active_ = nullptr;
  UINT_PTR id_ = 0;
  std::function<void()> onTimer_;
};

}  // namespace

std::unique_ptr<IvgAniTimer> vgCreatePlatformAniTimer() { return std::make_unique<TWin32AniTimer>(); }
