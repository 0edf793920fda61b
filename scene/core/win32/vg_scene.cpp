// The scene window on Win32: message handling, the paint paths and the layered output.
#include "vg_scene.h"

#include <windows.h>

#include "classlib/Filer.h"
#include "classlib/Forms.h"
#include "classlib/SysUtils.h"
#include "vg_designer.h"
#include "vg_popupform_win32.h"
#include "vg_object.h"
#include "vg_registry.h"
#include "vg_sceneengine.h"

KBL_PUBLISHED(TvgCustomScene) {}
KBL_PUBLISHED(TvgScene) {
  p.Property("AnimatedCaret", &TvgScene::GetAnimatedCaret, &TvgScene::SetAnimatedCaret).Default(true);
  p.Property("Fill", &TvgScene::GetFill, &TvgScene::SetFill);
  p.Property("Transparency", &TvgScene::GetTransparencyProp, &TvgScene::SetTransparency).Default(false);
  p.Property("Style", &TvgScene::GetStyleProp, &TvgScene::SetStyleProp);
  KBL_PROP(TabStop).Default(false);
  p.Property("ActiveControl", &TvgScene::GetActiveControlProp, &TvgScene::SetActiveControl);
  KBL_PROP(AlignWithMargins).Default(false);
  KBL_PROP(HelpType).Default(htKeyword);
  KBL_PROP(HelpKeyword);
  KBL_PROP(HelpContext).Default(0);
  KBL_PROP(Margins);
}

// Frees what the unit keeps of an OLE drag (the drop target's file).
void vgFreeOleDragState();

namespace {

int32_t g_liveScenes = 0;

// The scene unit's end: made with the first scene, so it goes before everything the scenes
// needed. It frees the shared objects only when no scene is left (a leaked scene keeps them).
struct TSceneUnitEnd {
  // Statics the end uses are made before it, so that they are destroyed after it.
  TSceneUnitEnd() { vgDesignClipboard(); }
  ~TSceneUnitEnd() {
    if (g_liveScenes != 0) return;
    vgFinalizeSceneUnit();
    vgFreeOleDragState();
  }
};
constexpr UINT_PTR kLoadedTimerId = 0x5647;
constexpr UINT_PTR kLaterTimerId = 0x5648;

uint32_t KeyShift() {
  TShiftState s;
  if (GetKeyState(VK_SHIFT) < 0) s.Include(ssShift);
  if (GetKeyState(VK_MENU) < 0) s.Include(ssAlt);
  if (GetKeyState(VK_CONTROL) < 0) s.Include(ssCtrl);
  return s.Bits();
}

}  // namespace

int32_t vgLiveSceneCount() { return g_liveScenes; }


void vgRegisterSceneClasses() {
  static bool done = false;
  if (done) return;
  done = true;
  vgInitSceneUnit();
  RegisterClasses({TvgCustomScene::StaticClassInfo(), TvgScene::StaticClassInfo()});
}

namespace {
// Streams name the scene by class: registered before the class registry's first look-up.
const bool g_sceneClassesRegistered = (AddClassRegistration(&vgRegisterSceneClasses), true);
}  // namespace

void TvgCustomScene::GetChildren(const TGetChildProc& proc, TComponent* root) {
  TCustomControl::GetChildren(proc, root);
  for (TvgObject* obj : engine_->Children())
    if (obj->GetStored()) proc(obj);
}


TvgCustomScene::TvgCustomScene(TComponent* owner) : TCustomControl(owner) {
  static TSceneUnitEnd unitEnd;
  vgInstallPopupForms();
  vgAddScene(this);
  SetShowHint(true);
  controlStyle_ = TControlStyle{csActionClient, csCaptureMouse, csOpaque, csDoubleClicks, csClickEvents};
  engine_ = std::make_unique<TvgSceneEngine>(static_cast<IvgSceneHost*>(this), static_cast<IvgScene*>(this), this,
                                             HasState(csDesigning));
  TControl::SetBounds(GetLeft(), GetTop(), 100, 100);
  OnDragOver = TDragOverEvent::Of<&TvgCustomScene::SceneDragOver>(this);
  OnDragDrop = TDragDropEvent::Of<&TvgCustomScene::SceneDragDrop>(this);
  if (vgDesigner() != nullptr) vgDesigner()->SceneCreated(this);
  ++g_liveScenes;
}

TvgCustomScene::~TvgCustomScene() {
  Destroying();
  if (vgDesigner() != nullptr) vgDesigner()->SceneDestroyed(this);
  --g_liveScenes;
  // A frame showing this scene's root gives it back first.
  if (auto* frame = dynamic_cast<TvgFrame*>(engine_->GetFrame())) frame->SetSceneObject(nullptr);
  // The roots hear of the scene while it is still whole.
  engine_->DeleteChildren();
  DestroyHandle();
  engine_.reset();
  vgRemoveScene(this);
}

void TvgCustomScene::SetTransparency(bool value) { engine_->SetTransparency(value); }

void TvgCustomScene::InitiateAction() {
  TCustomControl::InitiateAction();
  std::function<void(TvgObject*)> walk = [&](TvgObject* obj) {
    for (TvgObject* child : std::vector<TvgObject*>(obj->Children())) {
      if (!child->IsVisual()) continue;
      auto* control = dynamic_cast<TvgControl*>(child);
      if (control != nullptr && control->GetVisible() && control->GetAction() != nullptr) control->InitiateAction();
      walk(child);
    }
  };
  if (TvgObject* root = engine_->GetRoot()) walk(root);
}

void TvgCustomScene::SetActiveControl(TvgControl* value) {
  const TComponentFrame code(this);  // the focus moves: the objects' handlers run
  TvgVisualObject* old = engine_->GetActiveControlProp();
  if (old == value) return;
  if (old != nullptr) old->RemoveFreeNotification(this);
  if (value != nullptr) value->FreeNotification(this);
  engine_->SetActiveControl(value);
}

TvgObject* TvgCustomScene::GetFrameRoot() {
  if (TvgObject* lent = lentRoot_.Get()) return lent;
  return engine_->GetRoot();
}

void TvgCustomScene::SetFrame(TvgVisualObject* frame) {
  TvgVisualObject* old = engine_->GetFrame();
  if (old == frame) return;
  if (old != nullptr) old->RemoveFreeNotification(this);
  if (frame != nullptr) frame->FreeNotification(this);
  // The frame takes the first root into its own tree: the scene remembers which it lent.
  lentRoot_ = frame != nullptr ? engine_->GetRoot() : nullptr;
  engine_->SetFrame(frame);
  // Painting resumes in this window once no frame shows the root.
  if (frame == nullptr) engine_->AddUpdateRect(vgRect(0, 0, static_cast<float>(GetWidth()), static_cast<float>(GetHeight())));
}

void TvgCustomScene::ReturnRoot(TvgObject* root) {
  if (root == nullptr) return;
  // The first root again: the frame only borrowed it.
  engine_->AddObject(root);
  engine_->MoveRoot(root, 0);
  lentRoot_ = nullptr;
}

void TvgCustomScene::Notification(TComponent* component, TOperation operation) {
  TCustomControl::Notification(component, operation);
  if (engine_) engine_->Notification(component, operation);
}

bool TvgCustomScene::HostParentIsForm() { return dynamic_cast<TCustomForm*>(GetParent()) != nullptr; }

void TvgCustomScene::HostInvalidate(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (!HandleAllocated()) return;
  // Each invalidation is a round trip to the window system, and a shown list asks for its area at
  // each change: an area invalid already is not asked for again.
  for (const TRect& r : invalidated_)
    if (left >= r.Left && top >= r.Top && right <= r.Right && bottom <= r.Bottom) return;
  const RECT r{left, top, right, bottom};
  InvalidateRect(GetHandle(), &r, FALSE);
  constexpr size_t kKept = 8;
  if (invalidated_.size() == kKept) invalidated_.erase(invalidated_.begin());
  invalidated_.push_back(TRect{left, top, right, bottom});
}

void TvgCustomScene::HostPostUpdate() {
  if (HandleAllocated()) PostMessageW(GetHandle(), WM_VG_UPDATE, 0, 0);
}

bool TvgCustomScene::HostQueueLater(int32_t milliseconds) {
  return HandleAllocated() && SetTimer(GetHandle(), kLaterTimerId, static_cast<UINT>(milliseconds), nullptr) != 0;
}

void TvgCustomScene::HostSetMouseCapture(bool capture) {
  if (!HandleAllocated()) return;
  if (capture) SetCapture(GetHandle());
  else if (GetCapture() == GetHandle()) ReleaseCapture();
}

void TvgCustomScene::HostTakeFocus() {
  if (HandleAllocated() && CanFocus()) SetFocus();
}

TvgPoint TvgCustomScene::HostClientToScreen(const TvgPoint& p) {
  const TPoint s = ClientToScreen(TPoint{static_cast<int32_t>(p.X), static_cast<int32_t>(p.Y)});
  return vgPoint(static_cast<float>(s.X), static_cast<float>(s.Y));
}

void TvgCustomScene::HostSetHint(const WideString& hint) { SetHint(WideToUtf8(hint)); }

bool TvgCustomScene::HostOwnerBounds(int32_t& left, int32_t& top, int32_t& width, int32_t& height) {
  auto* owner = dynamic_cast<TControl*>(TComponent::GetOwner());
  if (owner == nullptr) return false;
  left = owner->GetLeft();
  top = owner->GetTop();
  width = owner->GetWidth();
  height = owner->GetHeight();
  return true;
}

void TvgCustomScene::HostSetOwnerBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (auto* owner = dynamic_cast<TControl*>(TComponent::GetOwner())) owner->SetBounds(left, top, width, height);
}

TvgPoint TvgCustomScene::HostCursorInOwner() {
  POINT p{};
  GetCursorPos(&p);
  TPoint c{p.x, p.y};
  if (auto* owner = dynamic_cast<TControl*>(TComponent::GetOwner())) c = owner->ScreenToClient(c);
  return vgPoint(static_cast<float>(c.X), static_cast<float>(c.Y));
}

bool TvgCustomScene::HostCancelModalOwner() {
  for (TComponent* o = TComponent::GetOwner(); o != nullptr; o = o->GetOwner()) {
    auto* form = dynamic_cast<TCustomForm*>(o);
    if (form != nullptr && form->Modal()) {
      form->SetModalResult(mrCancel);
      return true;
    }
  }
  return false;
}

void TvgCustomScene::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  const TComponentFrame code(this);  // the objects realign to the new size: their handlers run
  TCustomControl::SetBounds(left, top, width, height);
  if (engine_ && engine_->GetCanvas() != nullptr && HandleAllocated()) engine_->Resized();
}

void TvgCustomScene::CreateHandle() {
  invalidated_.clear();  // areas of a window gone
  TCustomControl::CreateHandle();
  engine_->Resized();
  engine_->AddUpdateRect(vgRect(0, 0, static_cast<float>(GetWidth()), static_cast<float>(GetHeight())));
  if (engine_->GetTransparency() && !engine_->GetDesignTime() && HostParentIsForm()) {
    HWND form = GetParent()->GetHandle();
    SetWindowLongW(form, GWL_EXSTYLE, GetWindowLongW(form, GWL_EXSTYLE) | WS_EX_LAYERED);
    PublishLayered();
    engine_->AddUpdateRect(vgRect(0, 0, 65535, 65535));
  }
}

void TvgCustomScene::DefineProperties(TFiler& filer) {
  TCustomControl::DefineProperties(filer);
  TvgSceneEngine& e = *engine_;
  filer.DefineProperty(
      "DesignSnapGridShow",
      [&e](TReader& r) {
        const bool value = r.ReadBoolean();
        if (e.GetDesignTime()) e.DesignSnapGridShow = value;
      },
      [&e](TWriter& w) { w.WriteBoolean(e.DesignSnapGridShow); }, true);
  filer.DefineProperty(
      "DesignSnapToGrid", [&e](TReader& r) { e.DesignSnapToGrid = r.ReadBoolean(); },
      [&e](TWriter& w) { w.WriteBoolean(e.DesignSnapToGrid); }, true);
  filer.DefineProperty(
      "DesignSnapToLines", [&e](TReader& r) { e.DesignSnapToLines = r.ReadBoolean(); },
      [&e](TWriter& w) { w.WriteBoolean(e.DesignSnapToLines); }, true);
}

void TvgCustomScene::Loaded() {
  TCustomControl::Loaded();
  engine_->SavedCursor = GetCursor();
  if (engine_->DesignSnapToLines) engine_->DesignSnapToGrid = false;
  // One full repaint right after loading.
  if (HandleAllocated()) {
    SetTimer(GetHandle(), kLoadedTimerId, 1, nullptr);
    loadedTimer_ = true;
  }
}

namespace {

// The rectangles of a region, in client coordinates; none for an empty or unreadable one.
std::vector<TvgRect> RegionRects(HRGN rgn) {
  std::vector<TvgRect> rects;
  const DWORD bytes = GetRegionData(rgn, 0, nullptr);
  if (bytes == 0) return rects;
  std::vector<uint8_t> buffer(bytes);
  auto* data = reinterpret_cast<RGNDATA*>(buffer.data());
  if (GetRegionData(rgn, bytes, data) != bytes) return rects;
  const RECT* r = reinterpret_cast<const RECT*>(data->Buffer);
  for (DWORD i = 0; i < data->rdh.nCount; ++i)
    rects.push_back(vgRect(static_cast<float>(r[i].left), static_cast<float>(r[i].top), static_cast<float>(r[i].right),
                           static_cast<float>(r[i].bottom)));
  return rects;
}

}  // namespace

void TvgCustomScene::ServePaint(TMessage& message) {
  HWND wnd = GetHandle();
  HRGN rgn = CreateRectRgn(0, 0, 1, 1);
  const int kind = GetUpdateRgn(wnd, rgn, FALSE);
  if (kind != SIMPLEREGION && kind != COMPLEXREGION) {
    TCustomControl::WndProc(message);  // validates
    invalidated_.clear();
    DeleteObject(rgn);
    return;
  }
  if (engine_->IsDrawing()) {
    // A message loop run from inside a paint (a dialog, a handler pumping messages) brings
    // WM_PAINT while Draw walks its rects: those stay as they are. The area is taken off the
    // window, so that it does not ask again at once, and queued for after the paint.
    engine_->DeferUpdateRects(RegionRects(rgn));
    ValidateRgn(wnd, rgn);
    invalidated_.clear();  // the whole update region
    DeleteObject(rgn);
    message.Result = 0;
    return;
  }
  engine_->SetUpdateRects(RegionRects(rgn));
  DrawThrough(GetDC(wnd), [&] {
    // The window is validated as a paint of the class library would (BeginPaint and EndPaint
    // cost several round trips to the window system, for nothing more here).
    ValidateRect(wnd, nullptr);
    invalidated_.clear();
    DeleteObject(rgn);
  });
  message.Result = 0;
}

void TvgCustomScene::DrawThrough(TvgDC dc, const std::function<void()>& release) {
  HWND wnd = GetHandle();
  engine_->DrawDC = dc;
  // Areas that asked for a paint from inside this one are queued once the window is valid.
  engine_->KeepDeferredRects(true);
  const auto finish = [&] {
    engine_->DrawDC = nullptr;
    ReleaseDC(wnd, static_cast<HDC>(dc));
    release();
    engine_->KeepDeferredRects(false);
    engine_->QueueDeferredRects();
  };
  try {
    Draw();
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

bool TvgCustomScene::HostPaintNow() {
  // The window's DC is clipped to what shows of it: a hidden or covered window paints its
  // buffer only, and the window system asks for the rest when it shows again.
  HDC dc = GetDC(GetHandle());
  if (dc == nullptr) return false;
  DrawThrough(dc, [] {});
  return true;
}

void TvgCustomScene::ServeUpdateMessage() {
  MSG msg;
  while (PeekMessageW(&msg, GetHandle(), WM_VG_UPDATE, WM_VG_UPDATE, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
  }
  Draw();
}

void TvgCustomScene::WndProc(TMessage& message) {
  switch (message.Msg) {
    case WM_PAINT:
      ServePaint(message);
      return;
    case WM_VG_UPDATE:
      ServeUpdateMessage();
      message.Result = 0;
      return;
    case WM_ERASEBKGND: {
      HDC dc = reinterpret_cast<HDC>(message.WParam);
      if (dc != nullptr && engine_->GetCanvas() != nullptr) {
        HRGN rgn = CreateRectRgn(0, 0, 1, 1);
        if (GetUpdateRgn(GetHandle(), rgn, FALSE) == NULLREGION) engine_->GetCanvas()->FlushBuffer(0, 0, dc);
        DeleteObject(rgn);
      }
      message.Result = 1;
      return;
    }
    case WM_LBUTTONUP:
      // The class library lets the capture go before the release reaches the objects. The flag
      // comes back also when a handler of the release raises: a later loss of the capture to
      // another window would go unheard.
      releasingCapture_ = true;
      {
        const TvgRestoreOnExit released([this] { releasingCapture_ = false; });
        TCustomControl::WndProc(message);
      }
      return;
    case WM_CAPTURECHANGED:
      if (!releasingCapture_ && reinterpret_cast<HWND>(message.LParam) != GetHandle()) engine_->CaptureLost();
      TCustomControl::WndProc(message);
      return;
    case WM_GETDLGCODE:
      TCustomControl::WndProc(message);
      message.Result = DLGC_WANTARROWS | DLGC_WANTTAB | DLGC_WANTCHARS;
      return;
    case WM_KEYDOWN:
    case WM_KEYUP: {
      TCustomControl::WndProc(message);
      uint16_t key = static_cast<uint16_t>(message.WParam);
      WideChar ch = 0;
      if (message.Msg == WM_KEYDOWN) engine_->KeyDown(key, ch, KeyShift());
      else engine_->KeyUp(key, ch, KeyShift());
      return;
    }
    case WM_CHAR:
      engine_->CharMessage(static_cast<WideChar>(message.WParam), KeyShift());
      TCustomControl::WndProc(message);
      return;
    case WM_TIMER:
      if (message.WParam == kLoadedTimerId) {
        KillTimer(GetHandle(), kLoadedTimerId);
        loadedTimer_ = false;
        engine_->AddUpdateRect(vgRect(0, 0, 65535, 65535));
        return;
      }
      if (message.WParam == kLaterTimerId) {
        KillTimer(GetHandle(), kLaterTimerId);
        engine_->QueueLaterRects();
        return;
      }
      break;
    case CM_SHOWINGCHANGED:
      TCustomControl::WndProc(message);
      engine_->AddUpdateRect(vgRect(0, 0, static_cast<float>(GetWidth()), static_cast<float>(GetHeight())));
      return;
    case CM_MOUSELEAVE:
      TCustomControl::WndProc(message);
      engine_->MouseLeave();
      return;
    case WM_IME_STARTCOMPOSITION:
      TCustomControl::WndProc(message);
      ImeStartComposition();
      message.Result = 1;
      return;
    case WM_IME_COMPOSITION:
      if (ImeComposition(message)) return;
      break;
    case CM_HINTSHOW: {
      TCustomControl::WndProc(message);
      auto* info = reinterpret_cast<THintInfo*>(message.LParam);
      if (info == nullptr) return;
      WideString text;
      TvgRect r;
      if (engine_->HintAt(static_cast<float>(info->CursorPos.X), static_cast<float>(info->CursorPos.Y), text, r)) {
        info->HintStr = WideToUtf8(text);
        info->CursorRect = Rect(static_cast<int32_t>(r.Left), static_cast<int32_t>(r.Top),
                                static_cast<int32_t>(r.Right), static_cast<int32_t>(r.Bottom));
      } else {
        info->HintStr.clear();
      }
      return;
    }
    case CM_DESIGNHITTEST:
      message.Result = engine_->DesignHitTest(static_cast<float>(static_cast<int16_t>(message.LParam & 0xFFFF)),
                                              static_cast<float>(static_cast<int16_t>((message.LParam >> 16) & 0xFFFF)))
                           ? 1
                           : 0;
      return;
    case WM_DESTROY:
      // However the window goes (also with a foreign parent), it stops being a drop target; the
      // areas left for its timer are queued now (a window made again paints them anyway).
      RevokeDropTarget();
      engine_->QueueLaterRects();
      break;
    default:
      break;
  }
  TCustomControl::WndProc(message);
}

void TvgCustomScene::MouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
  TCustomControl::MouseDown(button, shift, x, y);
  engine_->MouseDown(static_cast<int32_t>(button), shift.Bits(), x, y);
}

void TvgCustomScene::MouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
  TCustomControl::MouseUp(button, shift, x, y);
  engine_->MouseUp(static_cast<int32_t>(button), shift.Bits(), x, y);
}

void TvgCustomScene::MouseMove(TShiftState shift, int32_t x, int32_t y) {
  TCustomControl::MouseMove(shift, x, y);
  engine_->MouseMove(shift.Bits(), x, y);
}

bool TvgCustomScene::DoMouseWheel(TShiftState shift, int32_t delta, TPoint mousePos) {
  const bool handled = TCustomControl::DoMouseWheel(shift, delta, mousePos);
  return engine_->MouseWheel(shift.Bits(), delta, handled);
}
