// Controls of the window layer: the control base with bounds, alignment and input events, the
// windowed control with its handle made on demand and its message dispatch, and the custom
// control that paints through a canvas. Win32 only.
//
// Every window the layer makes belongs to a window class registered on first use with the
// module's instance (Module.h) and unregistered when its last window is gone, so a DLL can be
// unloaded and loaded again. Window procedures catch everything: an exception raised by a handler
// ends in TApplication::HandleException (Forms.h) and the message answers 0.
#pragma once

#ifndef _WIN32
#error "Controls.h is part of the Win32 window layer"
#endif

#include <cstdint>
#include <string>
#include <vector>

#include "Canvas.h"
#include "Classes.h"
#include "Graphics.h"
#include "InputTypes.h"
#include "Methods.h"
#include "TypInfo.h"

struct HWND__;
typedef HWND__* HWND;

class TControl;
class TWinControl;
class TPopupMenu;

// --- Messages

// One window message as the window procedure received it; handlers set Result.
struct TMessage {
  uint32_t Msg = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0;
  intptr_t Result = 0;
};

// Messages of the layer itself, sent with Perform (never posted outside the module).
constexpr uint32_t CM_BASE = 0xB000;
constexpr uint32_t CM_SHOWINGCHANGED = CM_BASE + 1;  // the window is to be shown or hidden
constexpr uint32_t CM_MOUSEENTER = CM_BASE + 2;      // the mouse came over the control
constexpr uint32_t CM_MOUSELEAVE = CM_BASE + 3;      // ... and left it
constexpr uint32_t CM_RELEASE = CM_BASE + 4;         // posted by TCustomForm::Release
constexpr uint32_t CM_HINTSHOW = CM_BASE + 5;        // LParam: THintInfo*; a hint is about to show
constexpr uint32_t CM_DESIGNHITTEST = CM_BASE + 6;   // LParam: client x (low), y (high); 1: the
                                                     // control takes the mouse at design time

// --- Values

KBL_ENUM(TAlign, alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom)
// How a control names its help topic: by HelpKeyword or by the number HelpContext.
KBL_ENUM(THelpType, htKeyword, htContext)
using THelpContext = int32_t;
KBL_ENUM(TControlStyleFlag, csAcceptsControls, csCaptureMouse, csClickEvents, csOpaque, csDoubleClicks,
         csActionClient, csSetCaption)
using TControlStyle = TEnumSet<TControlStyleFlag>;

// Cursors: 0 the window class's default, negative values the system cursors.
using TCursor = int16_t;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crUpArrow = -10;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crNo = -18;
constexpr TCursor crHSplit = -14;
constexpr TCursor crVSplit = -15;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHelp = -20;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crSizeAll = -22;

struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
};

using TMouseEvent = TMethod<void(TObject* sender, TMouseButton button, TShiftState shift, int32_t x, int32_t y)>;
using TMouseMoveEvent = TMethod<void(TObject* sender, TShiftState shift, int32_t x, int32_t y)>;
// Delta in wheel units (120 a notch); `handled` stops further handling.
using TMouseWheelEvent =
    TMethod<void(TObject* sender, TShiftState shift, int32_t delta, TPoint mousePos, bool& handled)>;
// A key handler may change the key, or set it to 0 to swallow it.
using TKeyEvent = TMethod<void(TObject* sender, uint16_t& key, TShiftState shift)>;
using TKeyPressEvent = TMethod<void(TObject* sender, WideChar& key)>;

// What a control is asked with CM_HINTSHOW: it may change the text (empty: no hint) and the
// rect (its client coordinates) within which the mouse may move without hiding the hint.
struct THintInfo {
  TControl* HintControl = nullptr;
  TPoint CursorPos;   // the mouse, in HintControl's client coordinates
  TRect CursorRect;   // starts as the control's client rect
  TPoint HintPos;     // screen point of the hint window's top-left corner
  std::string HintStr;
};

// --- Margins

// The space an aligned control keeps free around itself when its AlignWithMargins is on, in
// pixels (3 on every side at creation). OnChange fires after each effective change.
class TMargins : public TPersistent {
  KBL_DECLARE_CLASS(TMargins, TPersistent)
 public:
  TMargins() = default;
  int32_t GetLeft() const { return left_; }
  int32_t GetTop() const { return top_; }
  int32_t GetRight() const { return right_; }
  int32_t GetBottom() const { return bottom_; }
  void SetLeft(int32_t value) { SetBounds(value, top_, right_, bottom_); }
  void SetTop(int32_t value) { SetBounds(left_, value, right_, bottom_); }
  void SetRight(int32_t value) { SetBounds(left_, top_, value, bottom_); }
  void SetBottom(int32_t value) { SetBounds(left_, top_, right_, value); }
  void SetBounds(int32_t left, int32_t top, int32_t right, int32_t bottom);
  // Copies another TMargins; anything else raises EConvertError.
  void Assign(TPersistent* source) override;
  TNotifyEvent OnChange;

 private:
  int32_t left_ = 3;
  int32_t top_ = 3;
  int32_t right_ = 3;
  int32_t bottom_ = 3;
};

// --- Drag and drop between controls

KBL_ENUM(TDragState, dsDragEnter, dsDragLeave, dsDragMove)
// A drag passes over `sender` at client (x, y); set `accept` to take a drop there.
using TDragOverEvent =
    TMethod<void(TObject* sender, TObject* source, int32_t x, int32_t y, TDragState state, bool& accept)>;
using TDragDropEvent = TMethod<void(TObject* sender, TObject* source, int32_t x, int32_t y)>;
// The drag of `sender` ended on `target` (nullptr: cancelled or refused) at target client (x, y).
using TEndDragEvent = TMethod<void(TObject* sender, TObject* target, int32_t x, int32_t y)>;

// --- TControl

// A component with a place in its parent's client area: bounds, alignment, visibility, colour,
// cursor, hint, context menu, caption and the input events. Its parent is the windowed control
// that shows it (not necessarily its owner).
class TControl : public TComponent {
  KBL_DECLARE_CLASS(TControl, TComponent)
 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  // --- Parent
  TWinControl* GetParent() const { return parent_; }
  // Moves the control into `parent`'s list of controls (nullptr: none); a windowed control gets
  // its window again under the new parent when it had one.
  virtual void SetParent(TWinControl* parent);

  // --- Bounds, in the parent's client coordinates (top-level forms: the screen)
  int32_t GetLeft() const { return left_; }
  int32_t GetTop() const { return top_; }
  int32_t GetWidth() const { return width_; }
  int32_t GetHeight() const { return height_; }
  void SetLeft(int32_t value) { SetBounds(value, top_, width_, height_); }
  void SetTop(int32_t value) { SetBounds(left_, value, width_, height_); }
  void SetWidth(int32_t value) { SetBounds(left_, top_, value, height_); }
  void SetHeight(int32_t value) { SetBounds(left_, top_, width_, value); }
  // Negative sizes count as 0. The parent realigns its controls afterwards.
  virtual void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height);
  TRect BoundsRect() const { return Rect(left_, top_, left_ + width_, top_ + height_); }
  virtual int32_t GetClientWidth() const { return width_; }
  virtual int32_t GetClientHeight() const { return height_; }
  void SetClientWidth(int32_t value) { SetClientSize(value, GetClientHeight()); }
  void SetClientHeight(int32_t value) { SetClientSize(GetClientWidth(), value); }
  virtual void SetClientSize(int32_t width, int32_t height);
  TRect ClientRect() const { return Rect(0, 0, GetClientWidth(), GetClientHeight()); }
  // Client point <-> screen point; without a window in the chain the offsets are summed up.
  virtual TPoint ClientToScreen(TPoint point) const;
  virtual TPoint ScreenToClient(TPoint point) const;

  TAlign GetAlign() const { return align_; }
  void SetAlign(TAlign value);
  // With AlignWithMargins an aligned control keeps Margins free around itself in its parent's
  // layout; a change of either realigns the parent. Margins are owned; setting copies them.
  bool GetAlignWithMargins() const { return alignWithMargins_; }
  void SetAlignWithMargins(bool value);
  TMargins* GetMargins() const { return margins_; }
  void SetMargins(TMargins* value) { margins_->Assign(value); }

  // --- Help topic (kept for whoever shows help; the layer itself shows none)
  THelpType GetHelpType() const { return helpType_; }
  void SetHelpType(THelpType value) { helpType_ = value; }
  const std::string& GetHelpKeyword() const { return helpKeyword_; }
  void SetHelpKeyword(const std::string& value) { helpKeyword_ = value; }
  THelpContext GetHelpContext() const { return helpContext_; }
  void SetHelpContext(THelpContext value) { helpContext_ = value; }

  // --- State
  bool GetVisible() const { return visible_; }
  void SetVisible(bool value);
  // Visible and every parent visible (a parent window outside the layer counts as showing).
  virtual bool Showing() const;
  bool GetEnabled() const { return enabled_; }
  virtual void SetEnabled(bool value);
  TColor GetColor() const { return color_; }
  void SetColor(TColor value);
  TCursor GetCursor() const { return cursor_; }
  void SetCursor(TCursor value);
  const std::string& GetHint() const { return hint_; }
  void SetHint(const std::string& value) { hint_ = value; }
  bool GetShowHint() const { return showHint_; }
  void SetShowHint(bool value) { showHint_ = value; }
  TPopupMenu* GetPopupMenu() const { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* value);
  // The window text of windowed controls; Caption and Text are the same value.
  const std::string& GetCaption() const { return caption_; }
  void SetCaption(const std::string& value);
  const std::string& GetText() const { return caption_; }
  void SetText(const std::string& value) { SetCaption(value); }
  TFont* GetFont() const { return font_; }
  void SetFont(TFont* value) { font_->Assign(value); }
  TControlStyle ControlStyle() const { return controlStyle_; }
  void SetControlStyle(TControlStyle value) { controlStyle_ = value; }

  // --- Painting (windowed controls act on their window; others on the parent's area)
  virtual void Invalidate();
  virtual void Update();
  void Repaint();
  virtual void BringToFront();

  // Sends a message straight to WndProc, as the window procedure would; answers its Result.
  intptr_t Perform(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
  // The message handler: dispatches to the virtual entry points below and hands what it does
  // not consume to DefaultHandler.
  virtual void WndProc(TMessage& message);
  virtual void DefaultHandler(TMessage& message) {}

  // --- Drag and drop between controls of the layer
  // Starts dragging this control: at once when `immediate`, else once the mouse has moved
  // `threshold` pixels with the button held (negative: the system's drag distance). Nothing while
  // another drag runs or when the control has no window to capture the mouse with (its own or
  // its parent's). The drag follows that window's mouse messages: releasing the button drops on
  // the control under the mouse when it accepts; Esc, another button or a lost capture cancel.
  void BeginDrag(bool immediate, int32_t threshold = -1);
  // True while this control is the source of the drag in progress.
  bool Dragging() const;
  // Ends this control's drag: dropped on the accepting control under the mouse when `drop`,
  // else cancelled. Nothing when it is not being dragged.
  void EndDrag(bool drop);
  // The drag handlers, called by the drag in progress (client coordinates). DragOver starts
  // `accept` as whether OnDragOver is set, then raises it; DragDrop raises OnDragDrop; DoEndDrag
  // raises OnEndDrag on the source.
  virtual void DragOver(TObject* source, int32_t x, int32_t y, TDragState state, bool& accept);
  virtual void DragDrop(TObject* source, int32_t x, int32_t y);
  virtual void DoEndDrag(TObject* target, int32_t x, int32_t y);

  // --- Actions
  // Lets the control's action (if any) update it; the base does nothing. Forms call it on their
  // action clients from UpdateActions.
  virtual void InitiateAction() {}

  // --- Streaming: controls are children of their parent in form streams
  bool HasParent() const override { return true; }
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* parent) override;
  void Notification(TComponent* component, TOperation operation) override;

  // --- Events
  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TNotifyEvent OnResize;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TMouseWheelEvent OnMouseWheel;
  TDragOverEvent OnDragOver;
  TDragDropEvent OnDragDrop;
  TEndDragEvent OnEndDrag;

 protected:
  // Mouse and wheel entry points; the base raises the events. x and y are client coordinates.
  virtual void MouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y);
  virtual void MouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y);
  virtual void MouseMove(TShiftState shift, int32_t x, int32_t y);
  // Answers true when the wheel was handled; mousePos in screen coordinates.
  virtual bool DoMouseWheel(TShiftState shift, int32_t delta, TPoint mousePos);
  virtual void Click();
  virtual void DblClick();
  virtual void Resize();
  virtual void MouseEnter();
  virtual void MouseLeave();
  // Visible or enabled changed; windowed controls update their window.
  virtual void VisibleChanging() {}
  virtual void UpdateShowing() {}
  virtual void EnabledChanged() {}
  virtual void TextChanged() {}
  virtual void FontChanged(TObject* sender) { Invalidate(); }
  void MarginsChanged(TObject* sender);
  // Bounds changed; windowed controls move their window.
  virtual void BoundsChanged() {}
  // Sets bounds without telling the parent (used while aligning).
  void UpdateBoundsRect(int32_t left, int32_t top, int32_t width, int32_t height);
  void SetBoundsFromWindow(int32_t left, int32_t top, int32_t width, int32_t height);

  TControlStyle controlStyle_;

 private:
  friend class TWinControl;
  TWinControl* parent_ = nullptr;
  int32_t left_ = 0;
  int32_t top_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  TAlign align_ = alNone;
  bool visible_ = true;
  bool enabled_ = true;
  bool showHint_ = false;
  TColor color_ = clBtnFace;
  TCursor cursor_ = crDefault;
  std::string hint_;
  std::string caption_;
  TPopupMenu* popupMenu_ = nullptr;
  TFont* font_;
  TMargins* margins_;
  bool alignWithMargins_ = false;
  THelpType helpType_ = htKeyword;
  std::string helpKeyword_;
  THelpContext helpContext_ = 0;
};

// --- TWinControl

// Parameters of the window a control creates; CreateParams fills them, descendants adjust.
struct TCreateParams {
  std::string Caption;
  uint32_t Style = 0;
  uint32_t ExStyle = 0;
  int32_t X = 0;
  int32_t Y = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  HWND WndParent = nullptr;
  uint32_t WindowClassStyle = 0;  // CS_* of the window class
  std::string WinClassName;       // registered on first use with the module's instance
};

// A control with a window of its own and child controls. The window is made on demand
// (GetHandle, HandleNeeded, showing) and destroyed with the control; a control whose window
// was destroyed from outside (its foreign parent went) makes a new one when asked again.
// Must be created, used and freed on one thread, the one that owns its window. Freeing it frees
// its child controls. Descendants overriding DestroyWnd call DestroyHandle in their own
// destructor (the base destructor no longer reaches their override).
class TWinControl : public TControl {
  KBL_DECLARE_CLASS(TWinControl, TControl)
 public:
  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;

  // Creates a T (constructed with no owner) whose window will be a child of `parentWindow`, a
  // window outside the layer (the host's); then runs its AfterConstruction.
  template <typename T>
  static T* CreateParented(HWND parentWindow) {
    T* control = new T(nullptr);
    try {
      control->SetParentWindow(parentWindow);
      control->AfterConstruction();
    } catch (...) {
      delete control;
      throw;
    }
    return control;
  }
  // Completes construction once the most derived constructor has run (forms load their
  // streams here). The base does nothing.
  virtual void AfterConstruction() {}

  // The window; made (with its parents' windows) when missing. Raises EInvalidOperation
  // ("Control '<name>' has no parent window") for a child control without a parent window.
  HWND GetHandle();
  void HandleNeeded() { GetHandle(); }
  bool HandleAllocated() const { return handle_ != nullptr; }
  // The window, or nullptr: read once and never made here, so that another thread may look.
  HWND WindowHandle() const { return handle_; }
  HWND GetParentWindow() const { return parentWindow_; }
  // A window outside the layer to live in when the control has no parent control.
  void SetParentWindow(HWND window);

  // --- Child controls, in z-order from the bottom
  int32_t ControlCount() const { return static_cast<int32_t>(controls_.size()); }
  TControl* GetControl(int32_t index) const;
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);
  // Lays out the aligned child controls in the client area: top, bottom, left, right, then client,
  // each group in list order.
  void Realign();
  void DisableAlign() { ++alignDisabled_; }
  void EnableAlign();

  void SetParent(TWinControl* parent) override;
  int32_t GetClientWidth() const override;
  int32_t GetClientHeight() const override;
  void SetClientSize(int32_t width, int32_t height) override;
  TPoint ClientToScreen(TPoint point) const override;
  TPoint ScreenToClient(TPoint point) const override;
  bool Showing() const override;

  void Invalidate() override;
  void Update() override;
  void BringToFront() override;
  // Paints the visible child controls from `first` on (nullptr: all), and theirs, into a DC
  // (HDC) at their places, each erased and painted with the DC in the message's WParam.
  void PaintControls(void* dc, TControl* first);
  void SetFocus();
  bool Focused() const;
  bool CanFocus() const;

  // --- Tab order
  // A tab stop takes part in its form's tab order (its window gets WS_TABSTOP). False at creation.
  bool GetTabStop() const { return tabStop_; }
  void SetTabStop(bool value);
  // The windowed control that Tab (forward) or Shift+Tab moves to from `current` among this
  // control's windowed descendants, in tab order: depth first, each parent's children in their
  // list order, wrapping round. Candidates can take the focus and, with `checkTabStop`, are tab
  // stops. nullptr when there is none other than `current`.
  TWinControl* FindNextControl(TWinControl* current, bool forward, bool checkTabStop) const;
  // Focuses FindNextControl's answer; answers false when there was none.
  bool SelectNext(TWinControl* current, bool forward, bool checkTabStop);

  void WndProc(TMessage& message) override;
  // Hands the message to DefWindowProc.
  void DefaultHandler(TMessage& message) override;

  void GetChildren(const TGetChildProc& proc, TComponent* root) override;
  void SetChildOrder(TComponent* child, int32_t order) override;
  void Loaded() override;

  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;
  TKeyPressEvent OnKeyPress;
  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;

 protected:
  virtual void CreateParams(TCreateParams& params);
  // Makes the window (CreateWnd) and then the windows of the visible windowed children.
  virtual void CreateHandle();
  virtual void CreateWnd();
  virtual void DestroyWnd();
  void DestroyHandle();
  // Paints the background with Color on WM_ERASEBKGND unless csOpaque; answers true when it did.
  virtual bool EraseBackground(void* dc);
  virtual void KeyDown(uint16_t& key, TShiftState shift);
  virtual void KeyUp(uint16_t& key, TShiftState shift);
  virtual void KeyPress(WideChar& key);
  virtual void DoEnter();
  virtual void DoExit();
  // Paints the window on WM_PAINT; the base validates it.
  virtual void PaintHandler(TMessage& message);

  void UpdateShowing() override;
  void EnabledChanged() override;
  void TextChanged() override;
  void BoundsChanged() override;
  void AlignControls();

 private:
  friend struct TWinControlAccess;
  friend class TControl;
  void HandleMouse(TMessage& message);
  void HandleKey(TMessage& message);
  bool HandleSetCursor(TMessage& message);
  // Tab and Shift+Tab in a control that does not want them (WM_GETDLGCODE) move the focus
  // through the tab order of its topmost parent; answers true when the key was used.
  bool HandleTabKey(uint16_t key);
  void WindowDestroyed();
  // The client area's width and height: the window's, or before it has one, the bounds less the
  // frame its creation parameters give.
  TPoint ClientExtent() const;

  HWND handle_ = nullptr;
  HWND parentWindow_ = nullptr;
  std::vector<TControl*> controls_;
  std::string windowClass_;    // the class acquired for handle_ (released with the window)
  bool classHeld_ = false;
  int32_t alignDisabled_ = 0;
  bool aligning_ = false;
  bool clicked_ = false;
  bool mouseInside_ = false;
  bool destroyingHandle_ = false;
  bool tabStop_ = false;
};

// --- TCustomControl

// A windowed control that paints itself: Paint runs on WM_PAINT with Canvas on the paint DC.
class TCustomControl : public TWinControl {
  KBL_DECLARE_CLASS(TCustomControl, TWinControl)
 public:
  explicit TCustomControl(TComponent* owner);
  ~TCustomControl() override;
  // The canvas, holding a DC only while Paint runs.
  TCanvas* GetCanvas() const { return canvas_; }

 protected:
  // Draws the control; the base fills the client area with Color unless csOpaque is set.
  virtual void Paint();
  void PaintHandler(TMessage& message) override;

 private:
  TCanvas* canvas_;
};

// Registers the window layer's classes with the class registry (once; later calls do nothing),
// so that form streams create them by name.
void RegisterControlClasses();
