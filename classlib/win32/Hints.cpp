// Hints of the window layer: the control under a resting mouse is asked with CM_HINTSHOW and its
// text shows in a small topmost window below the mouse until the mouse leaves the control's
// cursor rect, a button is pressed or the hide pause has passed. The window and the timer exist
// only while a hint is pending or shown.
#include <windows.h>

#include "../Forms.h"

#include "../ExtCtrls.h"
#include "DragDrop_p.h"
#include "Windowing_p.h"

// The window that shows a hint's text.
class THintWindow : public TCustomControl {
 public:
  explicit THintWindow(TComponent* owner) : TCustomControl(owner) {}

 protected:
  void CreateParams(TCreateParams& params) override {
    TCustomControl::CreateParams(params);
    params.Style = WS_POPUP | WS_BORDER;
    params.ExStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE;
    params.WndParent = nullptr;
    params.WinClassName = "KblHintWindow";
  }
  void Paint() override {
    // The system's tooltip colours.
    TCanvas* canvas = GetCanvas();
    canvas->GetBrush()->SetColor(static_cast<TColor>(0xFF000000u | COLOR_INFOBK));
    canvas->FillRect(ClientRect());
    canvas->GetFont()->SetColor(static_cast<TColor>(0xFF000000u | COLOR_INFOTEXT));
    canvas->GetBrush()->SetStyle(bsClear);
    canvas->TextOut(3, 1, GetCaption());
  }
};

namespace {

TRect Inside(TControl* control) { return Rect(0, 0, control->GetClientWidth(), control->GetClientHeight()); }

bool PointIn(const TRect& r, TPoint p) { return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom; }

}  // namespace

void TApplication::HintMouseMessage(TControl* control, TPoint screenPoint) {
  if (control == nullptr) return;
  if (control == hintControl_ && PointIn(hintCursorRect_, control->ScreenToClient(screenPoint))) {
    if (!hintShown_ && hintTimer_ != nullptr) {
      // Still resting over the same spot: the pause starts again.
      hintTimer_->SetEnabled(false);
      hintTimer_->SetEnabled(true);
    }
    return;
  }
  CancelHint();
  if (!control->GetShowHint()) return;
  hintControl_ = control;
  hintCursorRect_ = Inside(control);
  if (hintTimer_ == nullptr) {
    hintTimer_ = new TTimer(nullptr);
    hintTimer_->SetOnTimer(TNotifyEvent::Of<&TApplication::HintTimerTick>(this));
  }
  hintTimer_->SetInterval(HintPause);
  hintTimer_->SetEnabled(true);
}

void TApplication::HintTimerTick(TObject*) {
  if (hintShown_) {
    CancelHint();
    return;
  }
  POINT cursor{};
  GetCursorPos(&cursor);
  ActivateHint(TPoint{cursor.x, cursor.y});
}

void TApplication::ActivateHint(TPoint screenPoint) {
  TControl* control = kbl_drag::ControlAtScreenPoint(POINT{screenPoint.X, screenPoint.Y});
  if (control == nullptr) {
    CancelHint();
    return;
  }
  THintInfo info;
  info.HintControl = control;
  info.CursorPos = control->ScreenToClient(screenPoint);
  info.CursorRect = Inside(control);
  info.HintPos = TPoint{screenPoint.X, screenPoint.Y + GetSystemMetrics(SM_CYCURSOR) / 2 + 4};
  info.HintStr = control->GetHint();
  const intptr_t refused = control->Perform(CM_HINTSHOW, 0, reinterpret_cast<intptr_t>(&info));
  CancelHint();
  if (refused != 0 || info.HintStr.empty()) return;
  hintControl_ = control;
  hintCursorRect_ = info.CursorRect;
  hintWindow_ = new THintWindow(nullptr);
  hintWindow_->SetCaption(info.HintStr);
  hintWindow_->HandleNeeded();
  HWND window = hintWindow_->GetHandle();
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SIZE size{};
  const std::wstring text = kbl_win::ToWide(info.HintStr);
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  SetWindowPos(window, HWND_TOPMOST, info.HintPos.X, info.HintPos.Y, size.cx + 8, size.cy + 4,
               SWP_NOACTIVATE | SWP_SHOWWINDOW);
  hintShown_ = true;
  if (hintTimer_ == nullptr) {
    hintTimer_ = new TTimer(nullptr);
    hintTimer_->SetOnTimer(TNotifyEvent::Of<&TApplication::HintTimerTick>(this));
  }
  hintTimer_->SetInterval(HintHidePause);
  hintTimer_->SetEnabled(true);
}

void TApplication::CancelHint() {
  hintControl_ = nullptr;
  hintShown_ = false;
  delete hintTimer_;
  hintTimer_ = nullptr;
  delete hintWindow_;
  hintWindow_ = nullptr;
}

void TApplication::HintControlGoing(TControl* control) {
  if (control != nullptr && control == hintControl_) CancelHint();
}

std::string TApplication::ShownHint() const {
  return hintShown_ && hintWindow_ != nullptr ? hintWindow_->GetCaption() : std::string();
}

HWND TApplication::HintWindowHandle() const {
  return hintShown_ && hintWindow_ != nullptr && hintWindow_->HandleAllocated() ? hintWindow_->GetHandle() : nullptr;
}
