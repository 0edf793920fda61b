// Forms of the window layer: top-level or parented forms that stream their child components from
// a form resource named after their class, and the few application services the layer needs.
// Win32 only.
#pragma once

#ifndef _WIN32
#error "Forms.h is part of the Win32 window layer"
#endif

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>

#include "Controls.h"

KBL_ENUM(TFormBorderStyle, bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin)
KBL_ENUM(TPosition, poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter,
         poDesktopCenter, poMainFormCenter, poOwnerFormCenter)
KBL_ENUM(TFormStyle, fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop)
KBL_ENUM(TCloseAction, caNone, caHide, caFree, caMinimize)

using TModalResult = int32_t;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;

using TCloseEvent = TMethod<void(TObject* sender, TCloseAction& action)>;
using TCloseQueryEvent = TMethod<void(TObject* sender, bool& canClose)>;

// --- TCustomForm

// A form: a top-level window, or a child of a window outside the layer (CreateParented) or of a
// control. Forms are created through Create, CreateNew or CreateParented, which run the most
// derived constructor first and then load the form: the RCDATA resources named after the class
// and its ancestors (upper case, ancestors first, TForm and TCustomForm themselves have none)
// are read into the form, then OnCreate runs. A class with no resource of its own and no
// ancestor resource raises EResNotFound ("Resource <NAME> not found").
class TCustomForm : public TWinControl {
  KBL_DECLARE_CLASS(TCustomForm, TWinControl)
 public:
  explicit TCustomForm(TComponent* owner);
  ~TCustomForm() override;

  // A T owned by `owner`, its form resource loaded and OnCreate run.
  template <typename T>
  static T* Create(TComponent* owner) {
    return Finish(new T(owner), true);
  }
  // A T owned by `owner` without loading any form resource; OnCreate runs.
  template <typename T>
  static T* CreateNew(TComponent* owner) {
    return Finish(new T(owner), false);
  }
  // A T whose window is a child of `parentWindow` (a host's window), its resource loaded.
  template <typename T>
  static T* CreateParented(HWND parentWindow) {
    T* form = new T(nullptr);
    form->SetParentWindow(parentWindow);
    return Finish(form, true);
  }
  // Loads the form resources unless the form was made with CreateNew, then runs DoCreate.
  void AfterConstruction() override;

  TFormBorderStyle GetBorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle value);
  TPosition GetPosition() const { return position_; }
  void SetPosition(TPosition value) { position_ = value; }
  TFormStyle GetFormStyle() const { return formStyle_; }
  void SetFormStyle(TFormStyle value);
  TModalResult GetModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult value) { modalResult_ = value; }
  bool Modal() const { return modal_; }

  // Shows the form (brings a top-level form to the front).
  void Show();
  void Hide();
  // Runs a message loop until ModalResult is set (or the application terminates: mrCancel),
  // with the owner window disabled meanwhile; hides the form and answers the result. Raises
  // EInvalidOperation ("Cannot make a visible window modal") for a shown form.
  TModalResult ShowModal();
  // Asks OnCloseQuery, then runs OnClose with caHide (caFree for a parented form is not the
  // default either): caHide hides, caFree releases once OnClose has returned (Release),
  // caMinimize minimizes. A modal form only sets ModalResult to mrCancel.
  void Close();
  // Frees the form from the message loop, after the code that calls this has returned: posts the
  // release to the form's window (made now when the form has none yet, so that a form released
  // in OnCreate is handed out whole), and the loop frees it with its windows once the messages
  // queued before are handled; without a window to be had, or when it goes first (a new parent
  // without a window takes the form), a thread timer carries the release, except for a form
  // whose host destroys the window it sits in: it goes as its window's last message returns. A
  // loop that code of the form runs itself (ProcessMessages in a handler, a modal loop, a
  // popup's handler or modal loop: see TComponentFrame) leaves it for when that code has
  // returned. Two kinds go at once when none of their code runs on the calling thread: a form in
  // a foreign window (CreateParented), whose host may destroy that window or unload the module
  // as the call returns (with its code running, it leaves that window at once, hidden, and goes
  // as above), and a form whose thread has ended, freed by the calling thread. Called from
  // another thread than the form's, it leaves the freeing to the form's thread: through its
  // window, or, for a form without one (also one whose window goes there as this is asked), as
  // soon as that thread looks at its messages (asked through its utility window, waiting a
  // quarter of a second at most) or ends a frame, with none of the form's code running there.
  void Release();

  void WndProc(TMessage& message) override;
  void GetChildren(const TGetChildProc& proc, TComponent* root) override;
  // Lets every action client among the form's controls (those with csActionClient), and theirs,
  // update its action (InitiateAction). Hosts call it when idle.
  void UpdateActions();

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;

 protected:
  void CreateParams(TCreateParams& params) override;
  void CreateWnd() override;
  void UpdateShowing() override;
  virtual void DoCreate();
  virtual void DoDestroy();
  virtual void DoShow();
  virtual void DoHide();
  virtual void DoClose(TCloseAction& action);
  virtual bool CloseQuery();
  // Reads the form resources of the class chain; answers true when one was found.
  bool LoadFormResources();

 private:
  template <typename T>
  static T* Finish(T* form, bool loadResources) {
    try {
      static_cast<TCustomForm*>(form)->loadResources_ = loadResources;
      form->AfterConstruction();
    } catch (...) {
      delete form;
      throw;
    }
    return form;
  }
  void PlaceWindow();
  // True when the thread that made the form has ended.
  bool ThreadEnded() const;
  // True for a form in a window not of this library (CreateParented, SetParentWindow).
  bool InForeignWindow() const;
  // Has the form freed on this thread as the frame of the code running now ends (its window
  // procedure's), or later once none of its code runs; false when that could not be arranged.
  bool ReleaseAsFrameEnds();
  // Hands the release to a thread timer, for want of a window to carry it; false when none
  // could be had.
  bool CarryReleaseWithoutWindow();
  void ForgetReleaseTimer();
  friend struct TFormReleaseAccess;

  TFormBorderStyle borderStyle_ = bsSizeable;
  TPosition position_ = poDesigned;
  TFormStyle formStyle_ = fsNormal;
  TModalResult modalResult_ = mrNone;
  bool modal_ = false;
  bool loadResources_ = true;
  bool created_ = false;
  bool releasing_ = false;
  // A release from another thread and the loss of the form's window, each marked here as it
  // comes (kHandedOver, kWindowGone in Forms.cpp): when both come, the second has the form freed.
  std::atomic<uint8_t> crossRelease_{0};
  uint32_t thread_ = 0;  // the thread that made the form, which frees it
  void* threadHandle_ = nullptr;  // that thread, to tell whether it has ended
  uintptr_t releaseTimer_ = 0;  // the thread timer carrying the release, for want of a window
};

// The published form class that form streams name.
class TForm : public TCustomForm {
  KBL_DECLARE_CLASS(TForm, TCustomForm)
 public:
  explicit TForm(TComponent* owner) : TCustomForm(owner) {}
};

// The form that owns `component` (following owners), or nullptr.
TCustomForm* GetParentForm(TControl* control);

// Points `field` at the component `name` of `form`. Raises EComponentError ("<class> has no
// component <name>") when there is none of that class: a form resource that lacks a part is
// refused when the form is made.
template <typename T>
void BindFormField(TComponent* form, T*& field, const std::string& name) {
  field = dynamic_cast<T*>(form->FindComponent(name));
  if (field == nullptr) throw EComponentError(form->ClassInfo()->Name + " has no component " + name);
}

// --- TApplication

using TExceptionEvent = TMethod<void(TObject* sender, const std::exception_ptr& error)>;

// The application services of a module that does not own the message loop (a plug-in inside a
// host): handling messages in nested loops and the exceptions caught in window procedures and
// callbacks. One per module (Application()).
class TApplication : public TObject {
 public:
  // Handles every message queued for the calling thread and returns. A WM_QUIT met is put back
  // (for the loop that owns the thread) and sets Terminated.
  void ProcessMessages();
  // Waits for one message and handles it; as ProcessMessages for WM_QUIT.
  void HandleMessage();
  bool Terminated() const { return terminated_; }
  // Only marks the application as terminating: nested loops end; the host's loop is untouched.
  void Terminate() { terminated_ = true; }
  void ResetTerminated() { terminated_ = false; }
  // Called from catch blocks of window procedures and callbacks: raises OnException, or, without
  // a handler, writes the message to the debugger output. Never raises.
  void HandleException(TObject* sender) noexcept;
  TExceptionEvent OnException;

  // --- Hints
  // The mouse moved over `control` (screen point): a hint shown for another control, or for this
  // one once the mouse has left its cursor rect, hides; over a control with ShowHint a hint
  // shows after HintPause milliseconds of rest.
  void HintMouseMessage(TControl* control, TPoint screenPoint);
  // Shows at once the hint of the control of the layer under the screen point: the control is
  // asked with CM_HINTSHOW and the hint shows below the point unless it answers non-zero or
  // empties the text. Hides it again after HintHidePause milliseconds.
  void ActivateHint(TPoint screenPoint);
  // Hides the hint and stops a pending one.
  void CancelHint();
  // A control is being freed: its pending or shown hint goes.
  void HintControlGoing(TControl* control);
  // The text of the hint shown now; empty when none shows.
  std::string ShownHint() const;
  // The hint window while one shows (HWND), else nullptr.
  HWND HintWindowHandle() const;
  uint32_t HintPause = 500;
  uint32_t HintHidePause = 2500;

 private:
  bool ProcessMessage(bool wait);
  void HintTimerTick(TObject* sender);
  bool terminated_ = false;
  TControl* hintControl_ = nullptr;      // the control a pending or shown hint belongs to
  TRect hintCursorRect_;                 // its client rect the mouse may move in
  bool hintShown_ = false;
  class TTimer* hintTimer_ = nullptr;
  class THintWindow* hintWindow_ = nullptr;
};

TApplication& Application();

namespace kbl_detail {
// Tests only: the points where a release from another thread meets the form's window going in
// that very instant: the window's last message, once the form has looked there whether a release
// was handed over; the release, once it has read the form's window handle.
enum class TReleaseRace { None, WindowGoing, HandleRead };
// Has the next form to meet `at` run `call(form, data)` there, on the thread that meets it.
void RunAtNextReleaseRace(TReleaseRace at, void (*call)(TCustomForm* form, void* data), void* data);
}  // namespace kbl_detail
