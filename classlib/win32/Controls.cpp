// Controls, windowed controls and custom controls: bounds, alignment, windows made on demand and
// the dispatch of window messages to the controls' entry points.
#include <windows.h>
#include <windowsx.h>

#include "../Controls.h"

#include <algorithm>
#include <functional>

#include "../ActnList.h"
#include "../Dialogs.h"
#include "../ExtCtrls.h"
#include "../Forms.h"
#include "../Menus.h"
#include "../Module.h"
#include "DragDrop_p.h"
#include "Windowing_p.h"

// The window procedure reaches the control's private window bookkeeping through this.
struct TWinControlAccess {
  static void Attach(TWinControl* control, HWND window) { control->handle_ = window; }
  static void Destroyed(TWinControl* control) { control->WindowDestroyed(); }
};

namespace {

TWinControl* ControlOf(HWND window) {
  return reinterpret_cast<TWinControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// One window procedure serves every class of the layer: the control rides in GWLP_USERDATA from
// WM_NCCREATE to WM_NCDESTROY. Nothing may unwind through Windows: handlers' exceptions end here.
LRESULT CALLBACK ControlWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* control = static_cast<TWinControl*>(create->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(control));
    if (control != nullptr) TWinControlAccess::Attach(control, window);
  }
  TWinControl* control = ControlOf(window);
  if (control == nullptr) return DefWindowProcW(window, msg, wParam, lParam);
  TMessage message;
  message.Msg = msg;
  message.WParam = wParam;
  message.LParam = lParam;
  // The release message ends the control's code rather than running it: a form's release
  // handled there asks only for the code further out.
  const TComponentFrame frame(msg == CM_RELEASE ? nullptr : control);
  try {
    control->WndProc(message);
  } catch (...) {
    kbl_win::ReportCurrentException();
    message.Result = 0;
  }
  if (msg == WM_NCDESTROY) {
    // The control may be gone already (freed while its window was destroyed): look again.
    if (TWinControl* still = ControlOf(window)) {
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      TWinControlAccess::Destroyed(still);
    }
  }
  return message.Result;
}

TShiftState KeyboardShift() {
  TShiftState shift;
  if (GetKeyState(VK_SHIFT) < 0) shift.Include(ssShift);
  if (GetKeyState(VK_CONTROL) < 0) shift.Include(ssCtrl);
  if (GetKeyState(VK_MENU) < 0) shift.Include(ssAlt);
  return shift;
}

TShiftState MouseShift(WPARAM keys) {
  TShiftState shift;
  if (keys & MK_SHIFT) shift.Include(ssShift);
  if (keys & MK_CONTROL) shift.Include(ssCtrl);
  if (keys & MK_LBUTTON) shift.Include(ssLeft);
  if (keys & MK_RBUTTON) shift.Include(ssRight);
  if (keys & MK_MBUTTON) shift.Include(ssMiddle);
  if (GetKeyState(VK_MENU) < 0) shift.Include(ssAlt);
  return shift;
}

LPCSTR SystemCursorOf(TCursor cursor) {
  switch (cursor) {
    case crArrow: return IDC_ARROW;
    case crCross: return IDC_CROSS;
    case crIBeam: return IDC_IBEAM;
    case crSizeNESW: return IDC_SIZENESW;
    case crSizeNS: case crVSplit: return IDC_SIZENS;
    case crSizeNWSE: return IDC_SIZENWSE;
    case crSizeWE: case crHSplit: return IDC_SIZEWE;
    case crUpArrow: return IDC_UPARROW;
    case crHourGlass: return IDC_WAIT;
    case crNo: return IDC_NO;
    case crAppStart: return IDC_APPSTARTING;
    case crHelp: return IDC_HELP;
    case crHandPoint: return IDC_HAND;
    case crSizeAll: return IDC_SIZEALL;
    default: return IDC_ARROW;
  }
}

}  // namespace

// --- TMargins

KBL_PUBLISHED(TMargins) {
  KBL_PROP(Left).Default(3);
  KBL_PROP(Top).Default(3);
  KBL_PROP(Right).Default(3);
  KBL_PROP(Bottom).Default(3);
}

void TMargins::SetBounds(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (left == left_ && top == top_ && right == right_ && bottom == bottom_) return;
  left_ = left;
  top_ = top;
  right_ = right;
  bottom_ = bottom;
  OnChange(this);
}

void TMargins::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TMargins*>(source);
  if (other == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  SetBounds(other->left_, other->top_, other->right_, other->bottom_);
}

// --- TControl

KBL_PUBLISHED(TControl) {
  KBL_PROP(Left);
  KBL_PROP(Top);
  KBL_PROP(Width);
  KBL_PROP(Height);
  KBL_PROP(Align).Default(alNone);
  KBL_PROP(Color).Default(clBtnFace);
  KBL_PROP(Cursor).Default(crDefault);
  KBL_PROP(Enabled).Default(true);
  KBL_PROP(Font);
  KBL_PROP(Hint);
  KBL_PROP(PopupMenu);
  KBL_PROP(ShowHint).Default(false);
  KBL_PROP(Visible).Default(true);
  p.Property("OnClick", &TControl::OnClick, &TControl::OnClick);
  p.Property("OnDblClick", &TControl::OnDblClick, &TControl::OnDblClick);
  p.Property("OnMouseDown", &TControl::OnMouseDown, &TControl::OnMouseDown);
  p.Property("OnMouseEnter", &TControl::OnMouseEnter, &TControl::OnMouseEnter);
  p.Property("OnMouseLeave", &TControl::OnMouseLeave, &TControl::OnMouseLeave);
  p.Property("OnMouseMove", &TControl::OnMouseMove, &TControl::OnMouseMove);
  p.Property("OnMouseUp", &TControl::OnMouseUp, &TControl::OnMouseUp);
  p.Property("OnMouseWheel", &TControl::OnMouseWheel, &TControl::OnMouseWheel);
  p.Property("OnResize", &TControl::OnResize, &TControl::OnResize);
  p.Property("OnDragDrop", &TControl::OnDragDrop, &TControl::OnDragDrop);
  p.Property("OnDragOver", &TControl::OnDragOver, &TControl::OnDragOver);
  p.Property("OnEndDrag", &TControl::OnEndDrag, &TControl::OnEndDrag);
}

TControl::TControl(TComponent* owner) : TComponent(owner), font_(new TFont), margins_(new TMargins) {
  controlStyle_ = TControlStyle{csCaptureMouse, csClickEvents, csSetCaption, csDoubleClicks};
  font_->OnChange = TNotifyEvent::Of<&TControl::FontChanged>(this);
  margins_->OnChange = TNotifyEvent::Of<&TControl::MarginsChanged>(this);
}

TControl::~TControl() {
  Destroying();
  kbl_drag::ControlGoing(this);
  Application().HintControlGoing(this);
  if (parent_ != nullptr) parent_->RemoveControl(this);
  delete margins_;
  delete font_;
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent == this) throw EInvalidOperation("A control cannot have itself as its parent");
  if (parent_ != nullptr) parent_->RemoveControl(this);
  if (parent != nullptr) parent->InsertControl(this);
}

TComponent* TControl::GetParentComponent() const { return parent_; }

void TControl::SetParentComponent(TComponent* parent) {
  if (auto* control = dynamic_cast<TWinControl*>(parent)) SetParent(control);
}

void TControl::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == popupMenu_) popupMenu_ = nullptr;
}

void TControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  // Called by code from outside as well (a host sizing its editor): the handlers of this control,
  // its parent's and its siblings' that run from here are code of its form.
  const TComponentFrame frame(this);
  const bool resized = width != width_ || height != height_;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  BoundsChanged();
  if (parent_ != nullptr && !parent_->aligning_ && (align_ != alNone || resized)) parent_->Realign();
  if (resized) {
    if (auto* self = dynamic_cast<TWinControl*>(this)) self->Realign();
    Resize();
  }
}

void TControl::UpdateBoundsRect(int32_t left, int32_t top, int32_t width, int32_t height) {
  SetBounds(left, top, width, height);
}

void TControl::SetBoundsFromWindow(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  const TComponentFrame frame(this);
  const bool resized = width != width_ || height != height_;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  if (resized) {
    if (auto* self = dynamic_cast<TWinControl*>(this)) self->Realign();
    Resize();
  }
}

void TControl::SetClientSize(int32_t width, int32_t height) {
  SetBounds(left_, top_, width + (width_ - GetClientWidth()), height + (height_ - GetClientHeight()));
}

TPoint TControl::ClientToScreen(TPoint point) const {
  if (parent_ == nullptr) return point;
  return parent_->ClientToScreen(TPoint{point.X + left_, point.Y + top_});
}

TPoint TControl::ScreenToClient(TPoint point) const {
  if (parent_ == nullptr) return point;
  TPoint p = parent_->ScreenToClient(point);
  return TPoint{p.X - left_, p.Y - top_};
}

void TControl::SetAlign(TAlign value) {
  if (align_ == value) return;
  align_ = value;
  if (parent_ != nullptr) parent_->Realign();
}

void TControl::SetAlignWithMargins(bool value) {
  if (alignWithMargins_ == value) return;
  alignWithMargins_ = value;
  if (parent_ != nullptr) parent_->Realign();
}

void TControl::MarginsChanged(TObject*) {
  if (alignWithMargins_ && parent_ != nullptr) parent_->Realign();
}

void TControl::SetVisible(bool value) {
  if (visible_ == value) return;
  VisibleChanging();
  visible_ = value;
  UpdateShowing();
  if (parent_ != nullptr) parent_->Realign();
}

bool TControl::Showing() const { return visible_ && (parent_ == nullptr || parent_->Showing()); }

void TControl::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  EnabledChanged();
}

void TControl::SetColor(TColor value) {
  if (color_ == value) return;
  color_ = value;
  Invalidate();
}

void TControl::SetCursor(TCursor value) { cursor_ = value; }

void TControl::SetPopupMenu(TPopupMenu* value) {
  if (popupMenu_ == value) return;
  if (popupMenu_ != nullptr) popupMenu_->RemoveFreeNotification(this);
  popupMenu_ = value;
  if (value != nullptr) value->FreeNotification(this);
}

void TControl::SetCaption(const std::string& value) {
  if (caption_ == value) return;
  caption_ = value;
  TextChanged();
}

void TControl::Invalidate() {
  if (parent_ != nullptr) parent_->Invalidate();
}

void TControl::Update() {
  if (parent_ != nullptr) parent_->Update();
}

void TControl::Repaint() {
  Invalidate();
  Update();
}

void TControl::BringToFront() {
  if (parent_ == nullptr) return;
  auto& list = parent_->controls_;
  list.erase(std::find(list.begin(), list.end(), this));
  list.push_back(this);
  parent_->Realign();
  Invalidate();
}

intptr_t TControl::Perform(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  const TComponentFrame frame(this);
  TMessage message;
  message.Msg = msg;
  message.WParam = wParam;
  message.LParam = lParam;
  WndProc(message);
  return message.Result;
}

void TControl::WndProc(TMessage& message) {
  switch (message.Msg) {
    case CM_MOUSEENTER: MouseEnter(); break;
    case CM_MOUSELEAVE: MouseLeave(); break;
    default: DefaultHandler(message); break;
  }
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
  OnMouseDown(this, button, shift, x, y);
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
  OnMouseUp(this, button, shift, x, y);
}

void TControl::MouseMove(TShiftState shift, int32_t x, int32_t y) { OnMouseMove(this, shift, x, y); }

bool TControl::DoMouseWheel(TShiftState shift, int32_t delta, TPoint mousePos) {
  bool handled = false;
  OnMouseWheel(this, shift, delta, mousePos, handled);
  return handled;
}

void TControl::Click() {
  const TComponentFrame frame(this);  // code may click a control directly
  OnClick(this);
}
void TControl::DblClick() { OnDblClick(this); }
void TControl::Resize() { OnResize(this); }
void TControl::MouseEnter() { OnMouseEnter(this); }
void TControl::MouseLeave() { OnMouseLeave(this); }

// --- TWinControl

KBL_PUBLISHED(TWinControl) {
  p.Property("OnEnter", &TWinControl::OnEnter, &TWinControl::OnEnter);
  p.Property("OnExit", &TWinControl::OnExit, &TWinControl::OnExit);
  p.Property("OnKeyDown", &TWinControl::OnKeyDown, &TWinControl::OnKeyDown);
  p.Property("OnKeyPress", &TWinControl::OnKeyPress, &TWinControl::OnKeyPress);
  p.Property("OnKeyUp", &TWinControl::OnKeyUp, &TWinControl::OnKeyUp);
}

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
  Destroying();
  // Child controls go with their parent, whoever owns them.
  while (!controls_.empty()) {
    TControl* child = controls_.back();
    RemoveControl(child);
    delete child;
  }
  DestroyHandle();
}

TControl* TWinControl::GetControl(int32_t index) const {
  if (index < 0 || index >= ControlCount()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
  return controls_[static_cast<size_t>(index)];
}

void TWinControl::InsertControl(TControl* control) {
  if (control == nullptr || control->parent_ == this) return;
  controls_.push_back(control);
  control->parent_ = this;
  if (auto* windowed = dynamic_cast<TWinControl*>(control)) {
    // A window made under another parent moves along.
    if (windowed->handle_ != nullptr && handle_ != nullptr) {
      ::SetParent(windowed->handle_, handle_);
      SetWindowPos(windowed->handle_, nullptr, windowed->GetLeft(), windowed->GetTop(), 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (windowed->handle_ != nullptr) {
      windowed->DestroyHandle();
    } else if (handle_ != nullptr && windowed->GetVisible() && !windowed->HasState(csLoading)) {
      windowed->CreateHandle();
    }
  }
  Realign();
}

void TWinControl::RemoveControl(TControl* control) {
  auto found = std::find(controls_.begin(), controls_.end(), control);
  if (found == controls_.end()) return;
  controls_.erase(found);
  control->parent_ = nullptr;
  if (auto* windowed = dynamic_cast<TWinControl*>(control)) {
    // Without a parent window the child's window cannot stay where it was.
    if (windowed->handle_ != nullptr && windowed->parentWindow_ == nullptr && !HasState(csDestroying))
      windowed->DestroyHandle();
  }
  if (!HasState(csDestroying)) Realign();
}

void TWinControl::SetParent(TWinControl* parent) { TControl::SetParent(parent); }

void TWinControl::SetParentWindow(HWND window) {
  if (parentWindow_ == window) return;
  parentWindow_ = window;
  if (handle_ != nullptr && GetParent() == nullptr) {
    if (window != nullptr) ::SetParent(handle_, window);
    else DestroyHandle();
  }
}

void TWinControl::Realign() { AlignControls(); }

void TWinControl::EnableAlign() {
  if (alignDisabled_ > 0 && --alignDisabled_ == 0) Realign();
}

void TWinControl::AlignControls() {
  if (alignDisabled_ > 0 || aligning_ || HasState(csDestroying)) return;
  aligning_ = true;
  try {
    TRect r = ClientRect();
    for (TAlign align : {alTop, alBottom, alLeft, alRight, alClient}) {
      for (TControl* c : std::vector<TControl*>(controls_)) {
        if (!c->GetVisible() || c->GetAlign() != align) continue;
        // A control aligned with margins takes its margins' room from the area as well.
        const TMargins* m = c->GetAlignWithMargins() ? c->GetMargins() : nullptr;
        const int32_t ml = m != nullptr ? m->GetLeft() : 0, mt = m != nullptr ? m->GetTop() : 0;
        const int32_t mr = m != nullptr ? m->GetRight() : 0, mb = m != nullptr ? m->GetBottom() : 0;
        const int32_t w = std::max(r.Right - r.Left - ml - mr, 0);
        const int32_t h = std::max(r.Bottom - r.Top - mt - mb, 0);
        switch (align) {
          case alTop:
            c->UpdateBoundsRect(r.Left + ml, r.Top + mt, w, c->GetHeight());
            r.Top += mt + c->GetHeight() + mb;
            break;
          case alBottom:
            c->UpdateBoundsRect(r.Left + ml, r.Bottom - mb - c->GetHeight(), w, c->GetHeight());
            r.Bottom -= mt + c->GetHeight() + mb;
            break;
          case alLeft:
            c->UpdateBoundsRect(r.Left + ml, r.Top + mt, c->GetWidth(), h);
            r.Left += ml + c->GetWidth() + mr;
            break;
          case alRight:
            c->UpdateBoundsRect(r.Right - mr - c->GetWidth(), r.Top + mt, c->GetWidth(), h);
            r.Right -= ml + c->GetWidth() + mr;
            break;
          default:
            c->UpdateBoundsRect(r.Left + ml, r.Top + mt, w, h);
            break;
        }
      }
    }
  } catch (...) {
    aligning_ = false;
    throw;
  }
  aligning_ = false;
}

HWND TWinControl::GetHandle() {
  if (handle_ == nullptr) {
    if (GetParent() != nullptr && !GetParent()->HandleAllocated()) GetParent()->HandleNeeded();
    if (handle_ == nullptr) CreateHandle();
  }
  return handle_;
}

void TWinControl::CreateParams(TCreateParams& params) {
  params.Caption = GetCaption();
  params.Style = WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  if (GetVisible()) params.Style |= WS_VISIBLE;
  if (!GetEnabled()) params.Style |= WS_DISABLED;
  params.X = GetLeft();
  params.Y = GetTop();
  params.Width = GetWidth();
  params.Height = GetHeight();
  params.WndParent = GetParent() != nullptr ? GetParent()->handle_ : parentWindow_;
  params.WindowClassStyle = controlStyle_.Contains(csDoubleClicks) ? CS_DBLCLKS : 0;
  if (tabStop_) params.Style |= WS_TABSTOP;
  params.WinClassName = ClassName();
}

void TWinControl::CreateHandle() {
  if (handle_ != nullptr) return;
  CreateWnd();
  for (TControl* c : std::vector<TControl*>(controls_)) {
    auto* windowed = dynamic_cast<TWinControl*>(c);
    if (windowed != nullptr && windowed->GetVisible() && windowed->handle_ == nullptr) windowed->CreateHandle();
  }
  Realign();
}

void TWinControl::CreateWnd() {
  TCreateParams params;
  CreateParams(params);
  if ((params.Style & WS_CHILD) && params.WndParent == nullptr)
    throw EInvalidOperation("Control '" + GetName() + "' has no parent window");
  // A window destroyed from outside still counts for its class until now.
  if (classHeld_) {
    kbl_win::ReleaseWindowClass(windowClass_);
    classHeld_ = false;
  }
  kbl_win::AcquireWindowClass(params.WinClassName, params.WindowClassStyle, &ControlWindowProc);
  windowClass_ = params.WinClassName;
  classHeld_ = true;
  HWND window = CreateWindowExW(params.ExStyle, kbl_win::ToWide(params.WinClassName).c_str(),
                                kbl_win::ToWide(params.Caption).c_str(), params.Style, params.X, params.Y,
                                params.Width, params.Height, params.WndParent, nullptr,
                                static_cast<HINSTANCE>(ModuleInstance()), this);
  if (window == nullptr) {
    const DWORD error = GetLastError();
    handle_ = nullptr;
    kbl_win::ReleaseWindowClass(windowClass_);
    classHeld_ = false;
    throw EInvalidOperation("Cannot create the window of '" + GetName() + "' (error " + IntToStr(error) + ")");
  }
  handle_ = window;
}

void TWinControl::DestroyWnd() {
  if (handle_ != nullptr) DestroyWindow(handle_);
}

void TWinControl::DestroyHandle() {
  if (destroyingHandle_) return;
  destroyingHandle_ = true;
  if (handle_ != nullptr) DestroyWnd();
  destroyingHandle_ = false;
  // DestroyWindow took the child windows along; their classes may go now that the windows are gone.
  std::vector<TWinControl*> stack{this};
  while (!stack.empty()) {
    TWinControl* c = stack.back();
    stack.pop_back();
    // A window destroyed with the thread that made it got no WM_NCDESTROY.
    if (c->handle_ != nullptr && !IsWindow(c->handle_)) c->WindowDestroyed();
    if (c->handle_ == nullptr && c->classHeld_) {
      kbl_win::ReleaseWindowClass(c->windowClass_);
      c->classHeld_ = false;
    }
    for (TControl* child : c->controls_)
      if (auto* windowed = dynamic_cast<TWinControl*>(child)) stack.push_back(windowed);
  }
}

void TWinControl::WindowDestroyed() {
  handle_ = nullptr;
  mouseInside_ = false;
}

TPoint TWinControl::ClientExtent() const {
  RECT r{0, 0, 0, 0};
  if (handle_ != nullptr) {
    GetClientRect(handle_, &r);
    return TPoint{r.right - r.left, r.bottom - r.top};
  }
  TCreateParams params;
  const_cast<TWinControl*>(this)->CreateParams(params);
  AdjustWindowRectEx(&r, params.Style & ~static_cast<DWORD>(WS_CHILD), FALSE, params.ExStyle);
  return TPoint{std::max<int32_t>(GetWidth() - (r.right - r.left), 0),
                std::max<int32_t>(GetHeight() - (r.bottom - r.top), 0)};
}

int32_t TWinControl::GetClientWidth() const { return ClientExtent().X; }

int32_t TWinControl::GetClientHeight() const { return ClientExtent().Y; }

void TWinControl::SetClientSize(int32_t width, int32_t height) { TControl::SetClientSize(width, height); }

TPoint TWinControl::ClientToScreen(TPoint point) const {
  if (handle_ != nullptr) {
    POINT p{point.X, point.Y};
    ::ClientToScreen(handle_, &p);
    return TPoint{p.x, p.y};
  }
  if (GetParent() == nullptr && parentWindow_ != nullptr) {
    POINT p{point.X + GetLeft(), point.Y + GetTop()};
    ::ClientToScreen(parentWindow_, &p);
    return TPoint{p.x, p.y};
  }
  return TControl::ClientToScreen(point);
}

TPoint TWinControl::ScreenToClient(TPoint point) const {
  if (handle_ != nullptr) {
    POINT p{point.X, point.Y};
    ::ScreenToClient(handle_, &p);
    return TPoint{p.x, p.y};
  }
  if (GetParent() == nullptr && parentWindow_ != nullptr) {
    POINT p{point.X, point.Y};
    ::ScreenToClient(parentWindow_, &p);
    return TPoint{p.x - GetLeft(), p.y - GetTop()};
  }
  return TControl::ScreenToClient(point);
}

bool TWinControl::Showing() const {
  if (!GetVisible()) return false;
  if (GetParent() != nullptr) return GetParent()->Showing();
  return true;
}

void TWinControl::Invalidate() {
  if (handle_ != nullptr) InvalidateRect(handle_, nullptr, !controlStyle_.Contains(csOpaque));
}

void TWinControl::Update() {
  if (handle_ != nullptr) UpdateWindow(handle_);
}

void TWinControl::BringToFront() {
  TControl::BringToFront();
  if (handle_ != nullptr) SetWindowPos(handle_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TWinControl::SetFocus() {
  HWND window = GetHandle();
  ::SetFocus(window);
}

bool TWinControl::Focused() const { return handle_ != nullptr && GetFocus() == handle_; }

bool TWinControl::CanFocus() const {
  for (const TControl* c = this; c != nullptr; c = c->GetParent())
    if (!c->GetVisible() || !c->GetEnabled()) return false;
  return true;
}

void TWinControl::SetTabStop(bool value) {
  if (tabStop_ == value) return;
  tabStop_ = value;
  if (handle_ == nullptr) return;
  const LONG_PTR style = GetWindowLongPtrW(handle_, GWL_STYLE);
  SetWindowLongPtrW(handle_, GWL_STYLE, value ? (style | WS_TABSTOP) : (style & ~static_cast<LONG_PTR>(WS_TABSTOP)));
}

TWinControl* TWinControl::FindNextControl(TWinControl* current, bool forward, bool checkTabStop) const {
  std::vector<TWinControl*> order;
  std::function<void(const TWinControl*)> collect = [&](const TWinControl* parent) {
    for (TControl* child : parent->controls_)
      if (auto* windowed = dynamic_cast<TWinControl*>(child)) {
        order.push_back(windowed);
        collect(windowed);
      }
  };
  collect(this);
  const auto n = static_cast<int32_t>(order.size());
  int32_t at = -1;
  for (int32_t i = 0; i < n; ++i)
    if (order[static_cast<size_t>(i)] == current) at = i;
  // Without a current control the search starts before the first (forward) or after the last.
  if (at < 0) at = forward ? -1 : n;
  for (int32_t step = 1; step <= n; ++step) {
    const int32_t i = (((forward ? at + step : at - step) % n) + n) % n;
    TWinControl* c = order[static_cast<size_t>(i)];
    if (c == current) break;
    if (c->CanFocus() && c->Showing() && (!checkTabStop || c->GetTabStop())) return c;
  }
  return nullptr;
}

bool TWinControl::SelectNext(TWinControl* current, bool forward, bool checkTabStop) {
  TWinControl* next = FindNextControl(current, forward, checkTabStop);
  if (next == nullptr) return false;
  next->SetFocus();
  return true;
}

bool TWinControl::HandleTabKey(uint16_t key) {
  if (key != VK_TAB || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return false;
  if (Perform(WM_GETDLGCODE, key) & (DLGC_WANTTAB | DLGC_WANTALLKEYS)) return false;
  TWinControl* top = this;
  while (top->GetParent() != nullptr) top = top->GetParent();
  return top->SelectNext(this, GetKeyState(VK_SHIFT) >= 0, true);
}

void TWinControl::UpdateShowing() {
  if (handle_ == nullptr) {
    if (!GetVisible() || HasState(csLoading) || HasState(csDestroying)) return;
    if (GetParent() != nullptr && !GetParent()->HandleAllocated()) return;
    TCreateParams params;
    CreateParams(params);
    if ((params.Style & WS_CHILD) && params.WndParent == nullptr) return;
    CreateHandle();
  }
  Perform(CM_SHOWINGCHANGED);
}

void TWinControl::EnabledChanged() {
  if (handle_ != nullptr) EnableWindow(handle_, GetEnabled());
}

void TWinControl::TextChanged() {
  if (handle_ != nullptr) SetWindowTextW(handle_, kbl_win::ToWide(GetCaption()).c_str());
}

void TWinControl::BoundsChanged() {
  if (handle_ != nullptr)
    SetWindowPos(handle_, nullptr, GetLeft(), GetTop(), GetWidth(), GetHeight(), SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWinControl::GetChildren(const TGetChildProc& proc, TComponent* root) {
  for (TControl* c : std::vector<TControl*>(controls_))
    if (c->GetOwner() == root) proc(c);
}

void TWinControl::SetChildOrder(TComponent* child, int32_t order) {
  auto found = std::find(controls_.begin(), controls_.end(), child);
  if (found == controls_.end()) return;
  TControl* control = *found;
  controls_.erase(found);
  order = std::clamp<int32_t>(order, 0, ControlCount());
  controls_.insert(controls_.begin() + order, control);
}

void TWinControl::Loaded() {
  TControl::Loaded();
  // Windows were held back while the stream was read.
  if (handle_ == nullptr && GetParent() != nullptr && GetParent()->HandleAllocated() && GetVisible()) CreateHandle();
  Realign();
}

bool TWinControl::EraseBackground(void* dc) {
  if (controlStyle_.Contains(csOpaque)) return true;
  if (GetColor() == clNone) return false;
  RECT r{};
  GetClientRect(handle_, &r);
  HBRUSH brush = CreateSolidBrush(ColorToRGB(GetColor()));
  ::FillRect(static_cast<HDC>(dc), &r, brush);
  DeleteObject(brush);
  return true;
}

void TWinControl::PaintControls(void* dc, TControl* first) {
  HDC target = static_cast<HDC>(dc);
  bool painting = first == nullptr;
  for (TControl* c : std::vector<TControl*>(controls_)) {
    if (c == first) painting = true;
    if (!painting || !c->GetVisible()) continue;
    const int saved = SaveDC(target);
    POINT origin{};
    GetViewportOrgEx(target, &origin);
    SetViewportOrgEx(target, origin.x + c->GetLeft(), origin.y + c->GetTop(), nullptr);
    IntersectClipRect(target, 0, 0, c->GetWidth(), c->GetHeight());
    c->Perform(WM_ERASEBKGND, reinterpret_cast<uintptr_t>(target));
    c->Perform(WM_PAINT, reinterpret_cast<uintptr_t>(target));
    if (auto* windowed = dynamic_cast<TWinControl*>(c)) windowed->PaintControls(target, nullptr);
    RestoreDC(target, saved);
  }
}

void TWinControl::KeyDown(uint16_t& key, TShiftState shift) { OnKeyDown(this, key, shift); }
void TWinControl::KeyUp(uint16_t& key, TShiftState shift) { OnKeyUp(this, key, shift); }
void TWinControl::KeyPress(WideChar& key) { OnKeyPress(this, key); }
void TWinControl::DoEnter() { OnEnter(this); }
void TWinControl::DoExit() { OnExit(this); }

void TWinControl::PaintHandler(TMessage& message) { DefaultHandler(message); }

void TWinControl::DefaultHandler(TMessage& message) {
  if (handle_ == nullptr) return;
  message.Result = DefWindowProcW(handle_, message.Msg, message.WParam, message.LParam);
}

void TWinControl::HandleMouse(TMessage& message) {
  const int32_t x = GET_X_LPARAM(message.LParam);
  const int32_t y = GET_Y_LPARAM(message.LParam);
  TShiftState shift = MouseShift(message.WParam);
  const bool capture = controlStyle_.Contains(csCaptureMouse);
  switch (message.Msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      Application().CancelHint();
      if (capture && handle_ != nullptr) SetCapture(handle_);
      clicked_ = controlStyle_.Contains(csClickEvents);
      if (message.Msg == WM_LBUTTONDBLCLK) {
        shift.Include(ssDouble);
        DblClick();
      }
      MouseDown(mbLeft, shift, x, y);
      break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
      if (message.Msg == WM_RBUTTONDBLCLK) shift.Include(ssDouble);
      MouseDown(mbRight, shift, x, y);
      break;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
      if (message.Msg == WM_MBUTTONDBLCLK) shift.Include(ssDouble);
      MouseDown(mbMiddle, shift, x, y);
      break;
    case WM_LBUTTONUP: {
      if (capture && GetCapture() == handle_) ReleaseCapture();
      const bool click = clicked_ && x >= 0 && y >= 0 && x < GetClientWidth() && y < GetClientHeight();
      clicked_ = false;
      if (click) Click();
      MouseUp(mbLeft, shift, x, y);
      break;
    }
    case WM_RBUTTONUP: MouseUp(mbRight, shift, x, y); break;
    case WM_MBUTTONUP: MouseUp(mbMiddle, shift, x, y); break;
    case WM_MOUSEMOVE:
      Application().HintMouseMessage(this, ClientToScreen(TPoint{x, y}));
      if (!mouseInside_) {
        mouseInside_ = true;
        TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, handle_, 0};
        TrackMouseEvent(&track);
        Perform(CM_MOUSEENTER);
      }
      MouseMove(shift, x, y);
      break;
    default: break;
  }
}

void TWinControl::HandleKey(TMessage& message) {
  if (message.Msg == WM_CHAR) {
    WideChar key = static_cast<WideChar>(message.WParam);
    KeyPress(key);
    if (key == 0) return;
    message.WParam = key;
    DefaultHandler(message);
    return;
  }
  uint16_t key = static_cast<uint16_t>(message.WParam);
  // The form's navigation sees Tab before the control does, as a dialog would.
  if (message.Msg == WM_KEYDOWN && HandleTabKey(key)) return;
  if (message.Msg == WM_KEYDOWN || message.Msg == WM_SYSKEYDOWN) KeyDown(key, KeyboardShift());
  else KeyUp(key, KeyboardShift());
  if (key == 0) return;
  message.WParam = key;
  DefaultHandler(message);
}

bool TWinControl::HandleSetCursor(TMessage& message) {
  if (reinterpret_cast<HWND>(message.WParam) != handle_ || LOWORD(message.LParam) != HTCLIENT) return false;
  if (GetCursor() == crDefault) return false;
  ::SetCursor(GetCursor() == crNone ? nullptr : LoadCursorA(nullptr, SystemCursorOf(GetCursor())));
  message.Result = TRUE;
  return true;
}

void TWinControl::WndProc(TMessage& message) {
  if (kbl_drag::FilterMessage(this, message)) return;
  switch (message.Msg) {
    case WM_ERASEBKGND:
      if (EraseBackground(reinterpret_cast<void*>(message.WParam))) message.Result = 1;
      else DefaultHandler(message);
      return;
    case WM_PAINT:
      PaintHandler(message);
      return;
    case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: case WM_LBUTTONUP:
    case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK: case WM_RBUTTONUP:
    case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: case WM_MBUTTONUP:
    case WM_MOUSEMOVE:
      HandleMouse(message);
      DefaultHandler(message);
      return;
    case WM_MOUSEWHEEL: {
      const TPoint pos{GET_X_LPARAM(message.LParam), GET_Y_LPARAM(message.LParam)};
      const int32_t delta = GET_WHEEL_DELTA_WPARAM(message.WParam);
      if (DoMouseWheel(MouseShift(GET_KEYSTATE_WPARAM(message.WParam)), delta, pos)) message.Result = 0;
      else DefaultHandler(message);
      return;
    }
    case WM_MOUSELEAVE:
      mouseInside_ = false;
      Application().HintControlGoing(this);
      Perform(CM_MOUSELEAVE);
      return;
    case WM_KEYDOWN: case WM_SYSKEYDOWN: case WM_KEYUP: case WM_SYSKEYUP: case WM_CHAR:
      HandleKey(message);
      return;
    case WM_SETFOCUS:
      DefaultHandler(message);
      DoEnter();
      return;
    case WM_KILLFOCUS:
      DefaultHandler(message);
      DoExit();
      return;
    case WM_SETCURSOR:
      if (!HandleSetCursor(message)) DefaultHandler(message);
      return;
    case WM_CONTEXTMENU: {
      TPopupMenu* menu = GetPopupMenu();
      if (menu == nullptr || !menu->GetAutoPopup()) {
        DefaultHandler(message);
        return;
      }
      TPoint pos{GET_X_LPARAM(message.LParam), GET_Y_LPARAM(message.LParam)};
      if (pos.X == -1 && pos.Y == -1) pos = ClientToScreen(TPoint{GetClientWidth() / 2, GetClientHeight() / 2});
      menu->SetPopupComponent(this);
      menu->Popup(pos.X, pos.Y);
      message.Result = 0;
      return;
    }
    case WM_WINDOWPOSCHANGED: {
      DefaultHandler(message);
      RECT r{};
      GetWindowRect(handle_, &r);
      if (HWND parent = GetAncestor(handle_, GA_PARENT); parent != nullptr && (GetWindowLongW(handle_, GWL_STYLE) & WS_CHILD))
        MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
      SetBoundsFromWindow(r.left, r.top, r.right - r.left, r.bottom - r.top);
      return;
    }
    case CM_SHOWINGCHANGED:
      if (handle_ != nullptr)
        SetWindowPos(handle_, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE |
                         (Showing() ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
      return;
    default:
      TControl::WndProc(message);
      return;
  }
}

// --- TCustomControl

KBL_PUBLISHED(TCustomControl) {}

TCustomControl::TCustomControl(TComponent* owner) : TWinControl(owner), canvas_(new TCanvas) {}

TCustomControl::~TCustomControl() {
  // The canvas goes last: the window (and a paint in progress) must not outlive it.
  DestroyHandle();
  delete canvas_;
}

void TCustomControl::Paint() {}

void TCustomControl::PaintHandler(TMessage& message) {
  if (message.WParam != 0) {
    // Painted into a DC given with the message (another window painting this one's look).
    HDC given = reinterpret_cast<HDC>(message.WParam);
    canvas_->GetFont()->Assign(GetFont());
    canvas_->GetBrush()->SetColor(GetColor());
    canvas_->SetHandle(given);
    try {
      Paint();
    } catch (...) {
      canvas_->SetHandle(nullptr);
      throw;
    }
    canvas_->SetHandle(nullptr);
    message.Result = 0;
    return;
  }
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(GetHandle(), &ps);
  canvas_->GetFont()->Assign(GetFont());
  canvas_->GetBrush()->SetColor(GetColor());
  canvas_->SetHandle(dc);
  try {
    Paint();
  } catch (...) {
    canvas_->SetHandle(nullptr);
    EndPaint(GetHandle(), &ps);
    throw;
  }
  canvas_->SetHandle(nullptr);
  EndPaint(GetHandle(), &ps);
  message.Result = 0;
}

// --- Registration

void RegisterControlClasses() {
  static const bool registered = [] {
    RegisterClass<TCustomControl, TForm, TTimer, TMenuItem, TPopupMenu, TPen, TBrush, TFont, TMargins,
                  TColorDialog, TOpenDialog>();
    RegisterActionClasses();
    return true;
  }();
  (void)registered;
}
