// Drag and drop between controls of the window layer: one drag at a time per module, carried by
// the mouse capture of the source's window. Handlers' exceptions are reported, never passed on,
// so a drag always ends cleanly.
#include "DragDrop_p.h"

#include <windowsx.h>

#include <cstdlib>

#include "../Controls.h"
#include "../Module.h"
#include "Windowing_p.h"

namespace {

struct TDragRun {
  TControl* source = nullptr;
  HWND capture = nullptr;
  bool started = false;      // the mouse went past the threshold (or the drag began at once)
  POINT start{};             // screen point where the drag began
  int32_t threshold = 0;
  TControl* target = nullptr;
  bool accepted = false;
  POINT last{};              // last screen point
};

TDragRun g_drag;

bool Active() { return g_drag.source != nullptr; }

TPoint ToClient(TControl* control, POINT screen) { return control->ScreenToClient(TPoint{screen.x, screen.y}); }

// Runs a handler; its exception is reported and ends there.
template <typename F>
void Guarded(F&& f) {
  try {
    f();
  } catch (...) {
    kbl_win::ReportCurrentException();
  }
}

void AskTarget(TControl* target, POINT screen, TDragState state, bool& accept) {
  const TPoint p = ToClient(target, screen);
  accept = false;
  const TComponentFrame frame(target);
  Guarded([&] { target->DragOver(g_drag.source, p.X, p.Y, state, accept); });
}

void DragTo(POINT screen) {
  g_drag.last = screen;
  if (!g_drag.started) {
    if (std::abs(screen.x - g_drag.start.x) < g_drag.threshold && std::abs(screen.y - g_drag.start.y) < g_drag.threshold)
      return;
    g_drag.started = true;
  }
  TControl* target = kbl_drag::ControlAtScreenPoint(screen);
  bool accept = false;
  if (target != g_drag.target) {
    if (g_drag.target != nullptr) {
      bool ignored = false;
      AskTarget(g_drag.target, screen, dsDragLeave, ignored);
    }
    g_drag.target = target;
    if (target != nullptr) AskTarget(target, screen, dsDragEnter, accept);
  } else if (target != nullptr) {
    AskTarget(target, screen, dsDragMove, accept);
  }
  // A handler may have ended the drag.
  if (!Active()) return;
  g_drag.accepted = g_drag.target != nullptr && accept;
  SetCursor(LoadCursorA(nullptr, g_drag.accepted ? IDC_ARROW : IDC_NO));
}

// Ends the drag: the state is cleared before any handler runs, so handlers may start another.
void DragDone(bool drop) {
  if (!Active()) return;
  const TDragRun run = g_drag;
  g_drag = TDragRun{};
  if (GetCapture() == run.capture) ReleaseCapture();
  TControl* target = drop && run.accepted ? run.target : nullptr;
  TPoint p{};
  if (target != nullptr) {
    p = ToClient(target, run.last);
    const TComponentFrame frame(target);
    Guarded([&] { target->DragDrop(run.source, p.X, p.Y); });
  } else if (run.target != nullptr) {
    bool ignored = false;
    const TPoint q = ToClient(run.target, run.last);
    const TComponentFrame frame(run.target);
    Guarded([&] { run.target->DragOver(run.source, q.X, q.Y, dsDragLeave, ignored); });
  }
  Guarded([&] { run.source->DoEndDrag(target, p.X, p.Y); });
}

POINT ScreenPointOf(HWND window, const TMessage& message) {
  POINT p{GET_X_LPARAM(message.LParam), GET_Y_LPARAM(message.LParam)};
  ClientToScreen(window, &p);
  return p;
}

}  // namespace

namespace kbl_drag {

TWinControl* ControlOfWindow(HWND window) {
  if (window == nullptr) return nullptr;
  // Only windows of classes this module registered carry a control in their user data.
  if (reinterpret_cast<HINSTANCE>(GetClassLongPtrW(window, GCLP_HMODULE)) != static_cast<HINSTANCE>(ModuleInstance()))
    return nullptr;
  char name[256] = {};
  if (GetClassNameA(window, name, sizeof name) == 0 || kbl_win::WindowClassUsers(name) == 0) return nullptr;
  return reinterpret_cast<TWinControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

TWinControl* ControlAtScreenPoint(POINT screen) {
  for (HWND w = WindowFromPoint(screen); w != nullptr; w = GetAncestor(w, GA_PARENT))
    if (TWinControl* control = ControlOfWindow(w)) return control;
  return nullptr;
}

bool FilterMessage(TWinControl* control, TMessage& message) {
  if (!Active()) return false;
  if (message.Msg == WM_KEYDOWN && message.WParam == VK_ESCAPE) {
    DragDone(false);
    return true;
  }
  if (!control->HandleAllocated() || control->GetHandle() != g_drag.capture) return false;
  switch (message.Msg) {
    case WM_MOUSEMOVE:
      DragTo(ScreenPointOf(g_drag.capture, message));
      return true;
    case WM_LBUTTONUP:
      if (!g_drag.started) {
        // Released before the threshold: no drag, the control sees its click.
        DragDone(false);
        return false;
      }
      g_drag.last = ScreenPointOf(g_drag.capture, message);
      DragDone(true);
      return true;
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      DragDone(false);
      return true;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(message.LParam) != g_drag.capture) DragDone(false);
      return false;
    default:
      return false;
  }
}

void ControlGoing(TControl* control) {
  if (!Active()) return;
  if (control == g_drag.source) {
    // The source cannot hear of the end any more.
    if (GetCapture() == g_drag.capture) ReleaseCapture();
    g_drag = TDragRun{};
    return;
  }
  if (control == g_drag.target) {
    g_drag.target = nullptr;
    g_drag.accepted = false;
  }
}

}  // namespace kbl_drag

// --- TControl

void TControl::BeginDrag(bool immediate, int32_t threshold) {
  if (Active()) return;
  HWND capture = nullptr;
  if (auto* windowed = dynamic_cast<TWinControl*>(this)) capture = windowed->GetHandle();
  else if (GetParent() != nullptr && GetParent()->HandleAllocated()) capture = GetParent()->GetHandle();
  if (capture == nullptr) return;
  POINT cursor{};
  GetCursorPos(&cursor);
  g_drag.source = this;
  g_drag.capture = capture;
  g_drag.start = cursor;
  g_drag.last = cursor;
  g_drag.threshold = threshold >= 0 ? threshold : GetSystemMetrics(SM_CXDRAG);
  g_drag.started = immediate;
  SetCapture(capture);
}

bool TControl::Dragging() const { return Active() && g_drag.source == this; }

void TControl::EndDrag(bool drop) {
  if (Dragging()) DragDone(drop);
}

void TControl::DragOver(TObject* source, int32_t x, int32_t y, TDragState state, bool& accept) {
  accept = OnDragOver.Assigned();
  OnDragOver(this, source, x, y, state, accept);
}

void TControl::DragDrop(TObject* source, int32_t x, int32_t y) { OnDragDrop(this, source, x, y); }

void TControl::DoEndDrag(TObject* target, int32_t x, int32_t y) { OnEndDrag(this, target, x, y); }
