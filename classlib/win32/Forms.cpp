// Forms loading their streams from the module's resources, modal loops and the application
// services of the window layer.
#include <windows.h>

#include "../Forms.h"

#include <algorithm>
#include <functional>
#include <mutex>
#include <vector>

#include "../Filer.h"
#include "../NeverDestroyed.h"
#include "../ResourceStream.h"
#include "../SysUtils.h"
#include "Windowing_p.h"

// --- TCustomForm

KBL_PUBLISHED(TCustomForm) {
  KBL_PROP(BorderStyle).Default(bsSizeable);
  KBL_PROP(Caption);
  KBL_PROP(ClientHeight);
  KBL_PROP(ClientWidth);
  KBL_PROP(FormStyle).Default(fsNormal);
  KBL_PROP(Position).Default(poDesigned);
  KBL_PROP(Visible).Default(false);
  p.Property("OnActivate", &TCustomForm::OnActivate, &TCustomForm::OnActivate);
  p.Property("OnClose", &TCustomForm::OnClose, &TCustomForm::OnClose);
  p.Property("OnCloseQuery", &TCustomForm::OnCloseQuery, &TCustomForm::OnCloseQuery);
  p.Property("OnCreate", &TCustomForm::OnCreate, &TCustomForm::OnCreate);
  p.Property("OnDeactivate", &TCustomForm::OnDeactivate, &TCustomForm::OnDeactivate);
  p.Property("OnDestroy", &TCustomForm::OnDestroy, &TCustomForm::OnDestroy);
  p.Property("OnHide", &TCustomForm::OnHide, &TCustomForm::OnHide);
  p.Property("OnShow", &TCustomForm::OnShow, &TCustomForm::OnShow);
}

KBL_PUBLISHED(TForm) {}

TCustomForm::TCustomForm(TComponent* owner) : TWinControl(owner) {
  thread_ = GetCurrentThreadId();
  // Kept to tell, on a release from another thread, whether this one has ended since.
  threadHandle_ = OpenThread(SYNCHRONIZE, FALSE, thread_);
  SetVisible(false);
  SetBounds(0, 0, 320, 240);
  controlStyle_.Include(csAcceptsControls);
}

TCustomForm::~TCustomForm() {
  // Freed by its owner or by code while it waited for its code to return: a frame ending while
  // its windows and components go must not free it a second time.
  releasing_ = true;
  ForgetComponentFrames(this);
  if (created_) {
    // OnDestroy runs code of the form, and so of what holds it: a release of its owner asked
    // there waits for it.
    const TComponentFrame frame(this);
    try {
      DoDestroy();
    } catch (...) {
      Application().HandleException(this);
    }
  }
  // Owned components go while the form is still a form (they may be its controls).
  Destroying();
  DestroyComponents();
  ForgetReleaseTimer();
  if (threadHandle_ != nullptr) CloseHandle(threadHandle_);
}

void TCustomForm::AfterConstruction() {
  if (loadResources_ && !LoadFormResources()) {
    const TClassInfo* cls = ClassInfo();
    if (cls != TForm::StaticClassInfo() && cls != TCustomForm::StaticClassInfo())
      throw EResNotFound("Resource " + UpperCase(cls->Name) + " not found");
  }
  created_ = true;
  const TComponentFrame frame(this);  // the form is handed out after OnCreate
  DoCreate();
}

bool TCustomForm::LoadFormResources() {
  RegisterControlClasses();
  std::vector<const TClassInfo*> chain;
  for (const TClassInfo* c = ClassInfo(); c != nullptr; c = c->Parent) {
    if (c == TForm::StaticClassInfo() || c == TCustomForm::StaticClassInfo()) break;
    chain.push_back(c);
  }
  bool found = false;
  // Ancestors first: an inherited form's stream only holds what differs from its ancestor's.
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const std::string name = UpperCase((*it)->Name);
    if (!TResourceStream::Exists(name)) continue;
    TResourceStream stream(name);
    ReadComponentFromStream(stream, this);
    found = true;
  }
  return found;
}

void TCustomForm::SetBorderStyle(TFormBorderStyle value) {
  if (borderStyle_ == value) return;
  // The client size is what forms keep when their frame changes.
  const int32_t clientWidth = GetClientWidth();
  const int32_t clientHeight = GetClientHeight();
  borderStyle_ = value;
  if (HandleAllocated()) {
    TCreateParams params;
    CreateParams(params);
    SetWindowLongW(GetHandle(), GWL_STYLE, static_cast<LONG>(params.Style | (GetVisible() ? WS_VISIBLE : 0)));
    SetWindowLongW(GetHandle(), GWL_EXSTYLE, static_cast<LONG>(params.ExStyle));
    SetWindowPos(GetHandle(), nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }
  SetClientSize(clientWidth, clientHeight);
}

void TCustomForm::SetFormStyle(TFormStyle value) {
  if (formStyle_ == value) return;
  formStyle_ = value;
  if (HandleAllocated() && GetParent() == nullptr && GetParentWindow() == nullptr)
    SetWindowPos(GetHandle(), value == fsStayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TCustomForm::CreateParams(TCreateParams& params) {
  TWinControl::CreateParams(params);
  params.Style &= ~static_cast<uint32_t>(WS_VISIBLE);
  const bool topLevel = GetParent() == nullptr && GetParentWindow() == nullptr;
  if (topLevel) {
    params.Style &= ~static_cast<uint32_t>(WS_CHILD | WS_CLIPSIBLINGS);
    // An owner form keeps this one above it; otherwise the form stands alone.
    auto* owner = dynamic_cast<TWinControl*>(GetOwner());
    params.WndParent = owner != nullptr && owner->HandleAllocated() ? owner->GetHandle() : nullptr;
    if (formStyle_ == fsStayOnTop) params.ExStyle |= WS_EX_TOPMOST;
  }
  switch (borderStyle_) {
    case bsNone:
      if (topLevel) params.Style |= WS_POPUP;
      break;
    case bsSingle:
      params.Style |= WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_BORDER;
      break;
    case bsSizeable:
      params.Style |= WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME;
      break;
    case bsDialog:
      params.Style |= WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
      params.ExStyle |= WS_EX_DLGMODALFRAME;
      break;
    case bsToolWindow:
      params.Style |= WS_CAPTION | WS_SYSMENU;
      params.ExStyle |= WS_EX_TOOLWINDOW;
      break;
    case bsSizeToolWin:
      params.Style |= WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
      params.ExStyle |= WS_EX_TOOLWINDOW;
      break;
  }
}

void TCustomForm::CreateWnd() {
  PlaceWindow();
  TWinControl::CreateWnd();
}

void TCustomForm::PlaceWindow() {
  if (GetParent() != nullptr || GetParentWindow() != nullptr) return;
  RECT area{};
  if (position_ == poScreenCenter || position_ == poDesktopCenter) {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  } else if (position_ == poOwnerFormCenter || position_ == poMainFormCenter) {
    auto* owner = dynamic_cast<TWinControl*>(GetOwner());
    if (owner == nullptr || !owner->HandleAllocated()) return;
    GetWindowRect(owner->GetHandle(), &area);
  } else {
    return;
  }
  SetBounds(area.left + (area.right - area.left - GetWidth()) / 2, area.top + (area.bottom - area.top - GetHeight()) / 2,
            GetWidth(), GetHeight());
}

void TCustomForm::UpdateShowing() {
  if (!HandleAllocated() && !GetVisible()) return;
  TWinControl::UpdateShowing();
}

void TCustomForm::Show() {
  SetVisible(true);
  if (HandleAllocated() && GetParent() == nullptr && GetParentWindow() == nullptr) BringWindowToTop(GetHandle());
}

void TCustomForm::Hide() { SetVisible(false); }

TModalResult TCustomForm::ShowModal() {
  if (GetVisible() || modal_) throw EInvalidOperation("Cannot make a visible window modal");
  // The loop ends with the form: a release asked for inside it waits for the loop.
  const TComponentFrame frame(this);
  // Only the window that was active is disabled: other windows of the host stay as they are.
  HWND active = GetActiveWindow();
  HWND own = HandleAllocated() ? GetHandle() : nullptr;
  const bool disable = active != nullptr && active != own && IsWindowEnabled(active);
  if (disable) EnableWindow(active, FALSE);
  modal_ = true;
  modalResult_ = mrNone;
  auto restore = [&] {
    modal_ = false;
    if (disable) EnableWindow(active, TRUE);
    Hide();
    if (active != nullptr && IsWindow(active)) SetActiveWindow(active);
  };
  try {
    Show();
    while (true) {
      Application().HandleMessage();
      if (Application().Terminated()) modalResult_ = mrCancel;
      if (modalResult_ == mrNone) continue;
      TCloseAction action = caHide;
      DoClose(action);
      if (action != caNone || Application().Terminated()) break;
      modalResult_ = mrNone;
    }
  } catch (...) {
    restore();
    throw;
  }
  restore();
  return modalResult_;
}

bool TCustomForm::CloseQuery() {
  bool canClose = true;
  OnCloseQuery(this, canClose);
  return canClose;
}

void TCustomForm::Close() {
  TCloseAction action = caHide;
  {
    // OnCloseQuery, OnClose and OnHide run the form's own code: a release they ask for waits
    // for them.
    const TComponentFrame frame(this);
    if (modal_) {
      if (CloseQuery()) modalResult_ = mrCancel;
      return;
    }
    if (!CloseQuery()) return;
    DoClose(action);
    if (action == caHide) Hide();
    else if (action == caMinimize && HandleAllocated()) ShowWindow(GetHandle(), SW_MINIMIZE);
  }
  // Released once OnClose has returned: freed by the message loop (see Release).
  if (action == caFree) Release();
}

namespace {

void ReleaseReturned(TComponent* component);

}  // namespace

// The release's steps on the form's thread reach the form's records of it through this.
struct TFormReleaseAccess {
  static void TimerGone(TCustomForm* form) { form->releaseTimer_ = 0; }
  // A release handed over from another thread is this thread's from now on, as its own would be:
  // a window made since a first one went carries it through its destruction too.
  static void Releasing(TCustomForm* form) { form->releasing_ = true; }
};

namespace {

// The code of a released form has returned on its thread: it goes once the messages queued for
// it by then are handled, through its window. Without a live window there is nothing queued for
// it and none of its code runs: it goes at once (no window is made for it, which could fail
// inside the frame that ended).
void ReleaseReturned(TComponent* component) {
  auto* form = static_cast<TCustomForm*>(component);
  TFormReleaseAccess::Releasing(form);
  HWND window = form->HandleAllocated() ? form->GetHandle() : nullptr;
  if (window != nullptr && IsWindow(window) && PostMessageW(window, CM_RELEASE, 0, 0)) return;
  delete form;
}

// A released form waiting for its thread, told by another thread to look now (CallOnThread).
void ReleaseIfReturned(void* form) noexcept { ResumeIfCodeReturned(static_cast<TComponent*>(form)); }

// How long a release from another thread waits for the form's thread to free a form without a
// window: that thread may be waiting for the releasing one.
constexpr UINT kReleaseCallTimeout = 250;

// Marks of TCustomForm::crossRelease_: a release from another thread was handed over to the
// form's thread; a window of the form went (its WM_NCDESTROY).
constexpr uint8_t kHandedOver = 1;
constexpr uint8_t kWindowGone = 2;

// Tests only: where the next release race runs what (kbl_detail::RunAtNextReleaseRace).
std::atomic<kbl_detail::TReleaseRace> gRaceAt{kbl_detail::TReleaseRace::None};
void (*gRaceCall)(TCustomForm*, void*) = nullptr;
void* gRaceData = nullptr;

void MeetReleaseRace(kbl_detail::TReleaseRace at, TCustomForm* form) {
  auto asked = at;
  if (gRaceAt.load(std::memory_order_relaxed) != at || !gRaceAt.compare_exchange_strong(asked, {})) return;
  gRaceCall(form, gRaceData);
}

}  // namespace

namespace {

// Released forms without a window to carry the release: none to be had (put on a control that
// has none yet) or gone before the loop handled the release (a new parent without a window,
// taken out of their parent). A thread timer carries it instead, as any loop of the thread
// dispatches it, window or not. The form, the timer and its tick share the form's thread; the
// list is the process's, as a thread may have any number of such forms waiting.
struct TTimedRelease {
  DWORD thread;
  UINT_PTR timer;
  TCustomForm* form;
};

std::mutex& TimedReleaseLock() {
  static TNeverDestroyed<std::mutex> lock;
  return lock.Get();
}

std::vector<TTimedRelease>& TimedReleases() {
  static TNeverDestroyed<std::vector<TTimedRelease>> list;
  return list.Get();
}

// Takes the first entry `match` picks off the list and answers its form (nullptr for none).
template <class TMatch>
TCustomForm* TakeTimedRelease(TMatch&& match) {
  const std::lock_guard<std::mutex> guard(TimedReleaseLock());
  std::vector<TTimedRelease>& list = TimedReleases();
  auto found = std::find_if(list.begin(), list.end(), match);
  if (found == list.end()) return nullptr;
  TCustomForm* form = found->form;
  list.erase(found);
  // An emptied list gives its block back: it lives for ever, and would stand in a leak report.
  if (list.empty()) std::vector<TTimedRelease>().swap(list);
  return form;
}

// The loop came round: the form goes as its release message would have made it go.
void CALLBACK ReleaseTimerTick(HWND, UINT, UINT_PTR timer, DWORD) noexcept {
  KillTimer(nullptr, timer);
  const DWORD self = GetCurrentThreadId();
  TCustomForm* form = TakeTimedRelease([&](const TTimedRelease& r) { return r.thread == self && r.timer == timer; });
  if (form == nullptr) return;  // it went meanwhile
  TFormReleaseAccess::TimerGone(form);
  try {
    if (ComponentCodeRunning(form)) ResumeWhenCodeReturns(form, GetCurrentThreadId(), &ReleaseReturned);
    else ReleaseReturned(form);
  } catch (...) {
    // Out of memory for the wait: the form stays.
  }
}

}  // namespace

bool TCustomForm::CarryReleaseWithoutWindow() {
  if (releaseTimer_ != 0) return true;
  const UINT_PTR timer = SetTimer(nullptr, 0, 0, &ReleaseTimerTick);
  if (timer == 0) return false;
  try {
    const std::lock_guard<std::mutex> guard(TimedReleaseLock());
    TimedReleases().push_back({GetCurrentThreadId(), timer, this});
  } catch (...) {
    KillTimer(nullptr, timer);
    return false;
  }
  releaseTimer_ = timer;
  return true;
}

void TCustomForm::ForgetReleaseTimer() {
  if (releaseTimer_ == 0) return;
  // The timer is of the form's thread; a form freed by another thread once its own ended has
  // none left.
  if (GetCurrentThreadId() == thread_) KillTimer(nullptr, releaseTimer_);
  TakeTimedRelease([this](const TTimedRelease& r) { return r.form == this; });
  releaseTimer_ = 0;
}

bool TCustomForm::InForeignWindow() const { return GetParentWindow() != nullptr && GetParent() == nullptr; }

bool TCustomForm::ReleaseAsFrameEnds() {
  try {
    ResumeWhenCodeReturns(this, GetCurrentThreadId(), &ReleaseReturned);
    return true;
  } catch (...) {
    return false;
  }
}

bool TCustomForm::ThreadEnded() const {
  return threadHandle_ != nullptr && WaitForSingleObject(threadHandle_, 0) == WAIT_OBJECT_0;
}

void TCustomForm::Release() {
  if (releasing_ || (crossRelease_.load() & kHandedOver) != 0) return;
  // A window dies with its thread: only a live one tells the form's thread. Read once: the
  // form's thread may let go of it meanwhile, and no window may be made for the form here.
  HWND window = WindowHandle();
  MeetReleaseRace(kbl_detail::TReleaseRace::HandleRead, this);
  if (window != nullptr && !IsWindow(window)) window = nullptr;
  // The window may go between the looks (0 then): the form's thread is the one that made it.
  DWORD formThread = window != nullptr ? GetWindowThreadProcessId(window, nullptr) : 0;
  if (formThread == 0) formThread = thread_;
  // No code of the form runs on a thread that has ended: this thread frees it, by its own rule.
  if (formThread != GetCurrentThreadId() && (window != nullptr || !ThreadEnded())) {
    // This thread cannot see the form's code on the form's thread: that thread frees it, as soon
    // as the release is handed over to it. The window may be going there in this very instant,
    // and a release posted to it then goes with it: the form's window's destruction takes the
    // release when it comes after the hand-over, and when it came before (the window looked at
    // here may still be in its last message), the form is this thread's to hand on as one
    // without a window. Either way the form's thread frees it once.
    const uint8_t before = crossRelease_.fetch_or(kHandedOver);
    if ((before & kHandedOver) != 0) return;
    if (window != nullptr && (before & kWindowGone) == 0) {
      // Touches nothing of the form: it may be gone already.
      PostMessageW(window, CM_RELEASE, 0, 0);
      return;
    }
    ResumeWhenCodeReturns(this, formThread, &ReleaseReturned);
    // Its window is gone (its host destroyed it): nothing of the form may be left for that
    // thread's next frame, as its host may unload the module once that thread's loop is idle.
    // That thread frees it now, or at its next look at its messages, unless its code runs there.
    // The form may be gone when this returns.
    kbl_win::CallOnThread(formThread, &ReleaseIfReturned, this, kReleaseCallTimeout);
    return;
  }
  releasing_ = true;
  const bool ownThread = formThread == GetCurrentThreadId();
  const bool foreign = InForeignWindow();
  // A form in a foreign window, or whose thread has ended, goes now unless its code runs: its
  // host may destroy that window, or end the module, as soon as this returns.
  if ((foreign || !ownThread) && !ComponentCodeRunning(this)) {
    delete this;
    return;
  }
  // Otherwise one in a foreign window leaves it now, unseen, for the same reason.
  if (foreign) {
    if (window != nullptr) Hide();
    SetParentWindow(HWND_MESSAGE);
  }
  // The message loop frees it: the code that asked, and whatever called that code (a popup's
  // handler, a setter called by the program), goes on with a whole form. A form without its
  // window yet (released in OnCreate) gets one to carry the release, or, with none to be had,
  // a thread timer.
  if (ownThread && window == nullptr) {
    try {
      window = GetHandle();
    } catch (...) {
      window = nullptr;
    }
  }
  if (ownThread && window != nullptr && PostMessageW(window, CM_RELEASE, 0, 0)) return;
  if (ownThread && CarryReleaseWithoutWindow()) return;
  ResumeWhenCodeReturns(this, GetCurrentThreadId(), &ReleaseReturned);
}

void TCustomForm::DoCreate() { OnCreate(this); }
void TCustomForm::DoDestroy() { OnDestroy(this); }
void TCustomForm::DoShow() { OnShow(this); }
void TCustomForm::DoHide() { OnHide(this); }
void TCustomForm::DoClose(TCloseAction& action) { OnClose(this, action); }

void TCustomForm::WndProc(TMessage& message) {
  switch (message.Msg) {
    case CM_SHOWINGCHANGED: {
      const bool showing = Showing();
      if (showing) DoShow();
      else DoHide();
      if (GetParent() == nullptr && GetParentWindow() == nullptr)
        ShowWindow(GetHandle(), showing ? SW_SHOW : SW_HIDE);
      else
        TWinControl::WndProc(message);
      return;
    }
    case WM_CLOSE:
      Close();
      message.Result = 0;
      return;
    case WM_ACTIVATE:
      if (LOWORD(message.WParam) == WA_INACTIVE) OnDeactivate(this);
      else OnActivate(this);
      TWinControl::WndProc(message);
      return;
    case WM_NCDESTROY: {
      // A release posted to this window goes with it: it is carried on without one. A form whose
      // host destroyed the window it sits in goes as this message's frame ends (or, with its code
      // running, once that code returns): the host may unload the module once its loop is idle,
      // before a timer ticks. A form whose own code took its window away may be used by that
      // code after this message: the loop frees it. A release from another thread is this
      // message's to carry only when handed over before any window of the form went; one handed
      // over since found the window gone and took the way of a form without one (Release).
      const uint8_t before = crossRelease_.fetch_or(kWindowGone);
      const bool handedOver = (before & (kHandedOver | kWindowGone)) == kHandedOver;
      MeetReleaseRace(kbl_detail::TReleaseRace::WindowGoing, this);
      if ((releasing_ || handedOver) && !HasState(csDestroying) && !(InForeignWindow() && ReleaseAsFrameEnds()))
        CarryReleaseWithoutWindow();
      TWinControl::WndProc(message);
      return;
    }
    case CM_RELEASE:
      // Handled by a loop that code of the form runs itself (a dialog or ProcessMessages in a
      // handler, its own modal loop): that code goes on with the form once the loop returns.
      if (ComponentCodeRunning(this)) {
        ResumeWhenCodeReturns(this, GetCurrentThreadId(), &ReleaseReturned);
        return;
      }
      // Last thing done with this object: the window procedure touches nothing afterwards.
      delete this;
      return;
    default:
      TWinControl::WndProc(message);
      return;
  }
}

void TCustomForm::GetChildren(const TGetChildProc& proc, TComponent* root) {
  // Components without a parent (timers, menus) first, then the controls.
  for (int32_t i = 0; i < ComponentCount(); ++i) {
    TComponent* c = GetComponent(i);
    if (!c->HasParent()) proc(c);
  }
  TWinControl::GetChildren(proc, root);
}

TCustomForm* GetParentForm(TControl* control) {
  for (TComponent* c = control; c != nullptr; c = c->GetOwner())
    if (auto* form = dynamic_cast<TCustomForm*>(c)) return form;
  return nullptr;
}

// --- TApplication

void TCustomForm::UpdateActions() {
  // Called by the host, not from the form's own code: the actions' handlers run the form's.
  const TComponentFrame frame(this);
  std::function<void(TWinControl*)> walk = [&](TWinControl* parent) {
    for (int32_t i = 0; i < parent->ControlCount(); ++i) {
      TControl* c = parent->GetControl(i);
      if (c->ControlStyle().Contains(csActionClient) && c->GetVisible()) c->InitiateAction();
      if (auto* windowed = dynamic_cast<TWinControl*>(c)) walk(windowed);
    }
  };
  InitiateAction();
  walk(this);
}

TApplication& Application() {
  static TApplication application;
  return application;
}

bool TApplication::ProcessMessage(bool wait) {
  MSG msg{};
  if (wait) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) return false;
    if (got == 0) msg.message = WM_QUIT;
  } else if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    return false;
  }
  if (msg.message == WM_QUIT) {
    // The quit belongs to the loop that owns the thread: put it back for that loop.
    terminated_ = true;
    PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  return true;
}

void TApplication::ProcessMessages() {
  while (ProcessMessage(false)) {
  }
}

void TApplication::HandleMessage() { ProcessMessage(true); }

void TApplication::HandleException(TObject* sender) noexcept {
  // The exception library (when attached) sees it first and may answer that it dealt with it.
  if (!HandOverCaughtException(1)) return;
  std::exception_ptr error = std::current_exception();
  try {
    if (OnException.Assigned()) {
      OnException(sender, error);
      return;
    }
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    OutputDebugStringA((std::string("Unhandled exception: ") + e.what()).c_str());
  } catch (...) {
    OutputDebugStringA("Unhandled exception");
  }
}

namespace kbl_detail {

void RunAtNextReleaseRace(TReleaseRace at, void (*call)(TCustomForm*, void*), void* data) {
  gRaceCall = call;
  gRaceData = data;
  gRaceAt.store(at);
}

}  // namespace kbl_detail
