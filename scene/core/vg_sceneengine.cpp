// The scene window's portable behaviour: roots, update rects, Draw, input routing, design selection.
#include "vg_sceneengine.h"

#include <algorithm>
#include <cmath>

#include "vg_animation.h"
#include "vg_control.h"
#include "vg_popup.h"
#include "vg_registry.h"
#include "vg_resources.h"
#include "vg_sceneengine_p.h"
#include "vg_visualobject.h"

namespace {

TMouseButton ToButton(int32_t button) {
  return button == 1 ? mbRight : (button == 2 ? mbMiddle : mbLeft);
}

// Integral rect: left and top truncated, right and bottom truncated plus one.
TvgRect Integral(const TvgRect& r) {
  return vgRect(std::trunc(r.Left), std::trunc(r.Top), std::trunc(r.Right) + 1, std::trunc(r.Bottom) + 1);
}

}  // namespace

TvgSceneEngine::TvgSceneEngine(IvgSceneHost* host, IvgScene* self, TComponent* control, bool designTime)
    : host_(host), self_(self != nullptr ? self : this), control_(control), designTime_(designTime) {
  canvas_ = vgCreateWindowCanvas(100, 100);
  if (canvas_) canvas_->SetScene(self_);
  fill_ = new TvgBrush(vgBrushNone, 0xFF000000u);
  fill_->OnChanged = TNotifyEvent::Of<&TvgSceneEngine::FillChanged>(this);
}

TvgSceneEngine::~TvgSceneEngine() {
  destroying_ = true;
  if (style_ != nullptr) style_->RemoveSceneLink(self_);
  style_ = nullptr;
  DeleteChildren();
  delete fill_;
  canvas_.reset();
}

void TvgSceneEngine::DeleteChildren() {
  while (!children_.empty()) {
    TvgObject* obj = children_.back();
    children_.pop_back();
    obj->SetParent(nullptr);
    obj->SetScene(nullptr);
    Notification(obj, opRemove);
    delete obj;
  }
}

TvgObject* TvgSceneEngine::GetChild(int32_t index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return children_[static_cast<size_t>(index)];
}

// --- Roots

void TvgSceneEngine::AddObject(TvgObject* obj) {
  if (obj == nullptr) return;
  obj->LeaveToLand();  // what is put off in it runs below, at its final size
  if (std::find(children_.begin(), children_.end(), obj) == children_.end()) children_.push_back(obj);
  obj->SetScene(self_);
  if (TvgVisualObject* v = AsVisual(obj); v != nullptr && !destroying_ && !host_->HostDestroying()) {
    v->RecalcAbsolute();
    v->RecalcUpdateRect();
    v->Realign();
    v->Repaint();
    RealignRoot();
    // At its final size. A root that came straight from an open update still holds the layouts
    // put off below it, and no ancestor's update will end over it now.
    v->TakeDeferredLayouts();
  }
}

void TvgSceneEngine::RemoveObject(TvgObject* obj) {
  auto it = std::find(children_.begin(), children_.end(), obj);
  if (it == children_.end()) return;
  const int32_t w = host_->HostWidth(), h = host_->HostHeight();
  if (host_->HostHasWindow()) host_->HostInvalidate(0, 0, w, h);
  obj->SetScene(nullptr);
  Notification(obj, opRemove);
  children_.erase(std::find(children_.begin(), children_.end(), obj));
}

void TvgSceneEngine::MoveRoot(TvgObject* obj, int32_t index) {
  auto it = std::find(children_.begin(), children_.end(), obj);
  if (it == children_.end()) return;
  children_.erase(it);
  index = std::clamp<int32_t>(index, 0, GetCount());
  children_.insert(children_.begin() + index, obj);
  RealignRoot();
}

void TvgSceneEngine::RealignRoot() {
  TvgVisualObject* root = AsVisual(GetRoot());
  if (root == nullptr) return;
  const float w = static_cast<float>(host_->HostWidth());
  const float h = static_cast<float>(host_->HostHeight());
  const float sx = root->GetScale()->GetX() != 0 ? root->GetScale()->GetX() : 1.0f;
  const float sy = root->GetScale()->GetY() != 0 ? root->GetScale()->GetY() : 1.0f;
  const float a = root->GetRotateAngle();
  if (a == 90 || a == -90 || a == 270 || a == -270)
    root->SetBounds((w - h) / 2, (h - w) / 2, h / sy, w / sx);
  else
    root->SetBounds(0, 0, w / sx, h / sy);
}

void TvgSceneEngine::Resized() {
  if (canvas_ && host_->HostHasWindow()) {
    canvas_->ResizeBuffer(host_->HostWidth(), host_->HostHeight());
    RealignRoot();
  }
}

// --- Properties

void TvgSceneEngine::SetFill(TvgBrush* value) { fill_->Assign(value); }

void TvgSceneEngine::FillChanged(TObject*) {
  updateRects_.clear();
  AddUpdateRect(vgRect(0, 0, static_cast<float>(host_->HostWidth()), static_cast<float>(host_->HostHeight())));
}

void TvgSceneEngine::SetTransparency(bool value) {
  if (transparency_ == value) return;
  transparency_ = value;
  AddUpdateRect(vgRect(0, 0, 10000, 10000));
}

void TvgSceneEngine::SetActiveControl(TvgVisualObject* value) {
  if (activeControl_ == value) return;
  activeControl_ = value;
  if (value != nullptr && !host_->HostLoading()) value->SetFocus();
}

void TvgSceneEngine::SetStyle(TvgResources* value) {
  if (style_ == value) return;
  if (style_ != nullptr) style_->RemoveSceneLink(self_);
  style_ = value;
  if (style_ != nullptr) style_->AddSceneLink(self_);
  UpdateStyle();
}

void TvgSceneEngine::UpdateStyle() {
  if (TvgObject* root = GetRoot()) root->UpdateStyle();
}

void TvgSceneEngine::Notification(TComponent* component, TOperation operation) {
  if (operation != opRemove || component == nullptr) return;
  if (component == activeControl_) activeControl_ = nullptr;
  if (component == captured_.Get()) captured_ = nullptr;
  if (component == selected_) selected_ = nullptr;
  if (component == hovered_.Get()) hovered_ = nullptr;
  if (component == focused_.Get()) focused_ = nullptr;
  if (component == designPlaceObject_) designPlaceObject_ = nullptr;
  if (component == designDoubleClicked_) designDoubleClicked_ = nullptr;
  if (component == frame_) frame_ = nullptr;
  std::erase(multiSelection_, component);
  if (component == style_) {
    // The container is going: only forget it (it unlinks its scenes itself).
    style_ = nullptr;
    UpdateStyle();
  }
}

TvgRect TvgSceneEngine::GetUpdateRect(int32_t index) {
  if (index < 0 || index >= GetUpdateRectsCount()) return TvgRect();
  return updateRects_[static_cast<size_t>(index)];
}

TvgPoint TvgSceneEngine::LocalToScreen(const TvgPoint& p) {
  return host_->HostClientToScreen(vgPoint(std::trunc(p.X), std::trunc(p.Y)));
}

// --- Update rects and painting

namespace {

// Adds `r` to `rects`, joined with a rect close to it (vgRectsCloseTogether): painting a few
// pixels more costs less than painting one area more. A joined rect is offered to the others
// again; past a few dozen, everything is one rect.
void GatherRect(std::vector<TvgRect>& rects, TvgRect r) {
  constexpr size_t kMostRects = 32;
  if (rects.size() >= kMostRects) {
    for (const TvgRect& other : rects) r = vgUnionRect(r, other);
    rects.assign(1, r);
    return;
  }
  for (size_t i = 0; i < rects.size();) {
    if (vgRectsCloseTogether(rects[i], r)) {
      r = vgUnionRect(rects[i], r);
      rects.erase(rects.begin() + static_cast<std::ptrdiff_t>(i));
      i = 0;
      continue;
    }
    ++i;
  }
  rects.push_back(r);
}

void Invalidate(IvgSceneHost& host, const TvgRect& r) {
  host.HostInvalidate(static_cast<int32_t>(r.Left), static_cast<int32_t>(r.Top), static_cast<int32_t>(r.Right),
                      static_cast<int32_t>(r.Bottom));
}

}  // namespace

void TvgSceneEngine::AddUpdateRect(const TvgRect& r) {
  if (disableUpdate_ || host_->HostLoading()) return;
  if (!OnFlush && !host_->HostHasWindow()) return;
  if (destroying_ || host_->HostDestroying()) return;
  if (!canvas_ || (canvas_->GetBuffered() && canvas_->GetBufferBits() == nullptr)) return;
  if (r.Right - r.Left == 0 || r.Bottom - r.Top == 0) return;
  TvgRect clipped;
  const TvgRect client =
      vgRect(0, 0, static_cast<float>(host_->HostWidth()), static_cast<float>(host_->HostHeight()));
  if (!vgIntersectRect(clipped, Integral(r), client) || vgIsRectEmpty(clipped)) return;
  if (drawing_) {
    // The queue is being walked, and a window's paint validates the whole window when it ends:
    // the area waits for the end of this paint, whatever puts the scene on the screen
    // (QueueDeferredRects).
    askedWhileDrawing_ = true;
    deferredRects_.push_back(r);
    return;
  }
  if (OnFlush || (transparency_ && host_->HostParentIsForm() && !designTime_)) {
    updateRects_.push_back(clipped);
    host_->HostPostUpdate();
    return;
  }
  if (batchDepth_ > 0) {
    GatherRect(batchRects_, clipped);
    return;
  }
  Invalidate(*host_, clipped);
}

void TvgSceneEngine::EndUpdateBatch() {
  if (batchDepth_ == 0 || --batchDepth_ > 0 || batchRects_.empty()) return;
  std::vector<TvgRect> rects;
  rects.swap(batchRects_);
  if (destroying_ || host_->HostDestroying() || !host_->HostHasWindow()) return;
  if (CanDrawNow()) {
    updateRects_ = rects;
    if (host_->HostPaintNow()) return;
    updateRects_.clear();
  }
  for (const TvgRect& r : rects) Invalidate(*host_, r);
}

void TvgSceneEngine::Draw() {
  if (!(designTime_ || frame_ == nullptr) || drawing_ || updateRects_.empty() || !canvas_) return;
  drawing_ = true;
  struct Finish {
    TvgSceneEngine* e;
    ~Finish() {
      e->updateRects_.clear();
      e->drawing_ = false;
      e->paintsAskedByPaints_ = e->askedWhileDrawing_ ? e->paintsAskedByPaints_ + 1 : 0;
      e->askedWhileDrawing_ = false;
      // What asked to be painted meanwhile is queued now (invalidated, or posted for a flushed
      // or layered scene), never lost.
      if (!e->keepDeferred_) e->QueueDeferredRects();
    }
  } finish{this};
  ++drawCount_;
  if (updateRects_.size() > 20) {
    TvgRect u = updateRects_.front();
    for (const TvgRect& r : updateRects_) u = vgUnionRect(u, r);
    updateRects_.assign(1, u);
  }
  TvgCanvas* c = canvas_.get();
  if (c->BeginScene()) {
    c->ResetClipRect();
    c->SetMatrix(IdentityMatrix);
    c->SetClipRects(updateRects_);
    PaintBackground();
    c->SetStrokeThickness(1);
    c->SetStrokeCap(vgCapFlat);
    c->SetStrokeJoin(vgJoinMiter);
    c->SetStrokeDash(vgDashSolid);
    c->GetFill()->SetStyle(vgBrushSolid);
    c->GetStroke()->SetStyle(vgBrushSolid);
    PaintRoots();
    PaintDesignOverlays();
    if (showUpdateRects_) {
      c->ResetClipRect();
      c->SetMatrix(IdentityMatrix);
      c->GetStroke()->SetStyle(vgBrushSolid);
      c->GetStroke()->SetSolidColor(0x9000FF00u);
      c->SetStrokeThickness(1);
      for (const TvgRect& r : updateRects_) c->DrawRect(r, 0, 0, vgAllCorners, 0.5f);
    }
    c->EndScene();
  }
  if (OnFlush) {
    OnFlush();
  } else if (!transparency_ || !host_->HostParentIsForm() || designTime_) {
    if (DrawDC != nullptr)
      for (const TvgRect& r : updateRects_) c->FlushBufferRect(0, 0, DrawDC, r);
  } else {
    host_->HostPublishLayered();
  }
}

void TvgSceneEngine::DeferUpdateRects(const std::vector<TvgRect>& rects) {
  deferredRects_.insert(deferredRects_.end(), rects.begin(), rects.end());
}

void TvgSceneEngine::QueueDeferredRects() {
  if (drawing_ || deferredRects_.empty() || queuedLater_) return;
  if (paintsAskedByPaints_ >= kMostPaintsAskedByPaints) {
    queuedLater_ = host_->HostQueueLater(kFrameMilliseconds);
    if (queuedLater_) return;
  }
  QueueLaterRects();
}

void TvgSceneEngine::QueueLaterRects() {
  queuedLater_ = false;
  if (drawing_) return;
  std::vector<TvgRect> deferred;
  deferred.swap(deferredRects_);
  for (const TvgRect& r : deferred) AddUpdateRect(r);
}

void TvgSceneEngine::PaintBackground() {
  TvgCanvas* c = canvas_.get();
  const bool parentIsForm = host_->HostParentIsForm();
  const TvgRect whole =
      vgRect(-1, -1, static_cast<float>(host_->HostWidth()) + 1, static_cast<float>(host_->HostHeight()) + 1);
  if (!transparency_ || parentIsForm) {
    const TvgColor color = fill_->GetSolidColorValue();
    if (fill_->GetStyle() == vgBrushNone || (fill_->GetStyle() == vgBrushSolid && (color >> 24) == 0)) {
      const TvgColor clear = transparency_ ? 0u : (color & 0x00FFFFFFu);
      for (const TvgRect& r : updateRects_) c->ClearRect(r, clear);
    } else {
      c->SetFill(fill_);
      c->FillRect(whole, 0, 0, vgAllCorners, 1.0f);
    }
  } else if (fill_->GetStyle() == vgBrushNone) {
    host_->HostPaintParent(updateRects_);
  } else {
    c->SetFill(fill_);
    c->FillRect(whole, 0, 0, vgAllCorners, 1.0f);
  }
}

void TvgSceneEngine::PaintRoots() {
  TvgCanvas* c = canvas_.get();
  const std::vector<TvgObject*> roots = children_;
  for (TvgObject* obj : roots) {
    TvgVisualObject* v = AsVisual(obj);
    if (v == nullptr || !v->GetVisible()) continue;
    const TvgRect area = v->GetUpdateRect();
    for (const TvgRect& r : updateRects_) {
      if (!vgIntersectsRect(r, area)) continue;
      c->SetMatrix(v->GetAbsoluteMatrix());
      v->BeforePaint();
      v->Paint();
      v->AfterPaint();
      v->PaintChildren();
      if (v->OnPaint) {
        c->SetMatrix(v->GetAbsoluteMatrix());
        v->RunHandler(v->OnPaint, v, c, v->GetLocalRect());
      }
      break;
    }
  }
}

// --- Input

TvgVisualObject* TvgSceneEngine::ObjectAtPoint(float x, float y) {
  for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
    TvgVisualObject* v = AsVisual(*it);
    if (v == nullptr) return nullptr;
    if (!v->GetVisible() && !designTime_) continue;
    if (TvgVisualObject* hit = v->ObjectByPoint(x, y)) return hit;
  }
  return nullptr;
}

TvgVisualObject* TvgSceneEngine::GetCaptured() { return captured_.Get(); }
TvgVisualObject* TvgSceneEngine::GetFocused() { return focused_.Get(); }
TvgVisualObject* TvgSceneEngine::GetHovered() const { return hovered_.Get(); }

void TvgSceneEngine::SetCaptured(TvgVisualObject* value) {
  captured_ = value;
  if (!OnFlush) host_->HostSetMouseCapture(value != nullptr);
}

void TvgSceneEngine::CaptureLost() {
  TvgVisualObject* holder = captured_.Get();
  captured_ = nullptr;
  if (holder != nullptr) holder->CaptureLost();
}

void TvgSceneEngine::SetFocused(TvgVisualObject* value) {
  const TvgSceneObjectRef<TvgVisualObject> wanted(value);
  if (wanted == focused_) return;
  TvgVisualObject* old = focused_.Get();
  // Stored before the old one hears of it, so that a KillFocus asking the scene sees the change.
  focused_ = wanted;
  if (old != nullptr) old->KillFocus();
  if (wanted.Get() != nullptr && focused_ == wanted) value->EnterFocus();
}

void TvgSceneEngine::BeginDrag() {
  dragging_ = true;
  downPos_ = host_->HostCursorInOwner();
}

void TvgSceneEngine::BeginResize() {
  resizing_ = true;
  downPos_ = host_->HostCursorInOwner();
  int32_t l = 0, t = 0;
  if (!host_->HostOwnerBounds(l, t, resizeW_, resizeH_)) resizeW_ = resizeH_ = 0;
}

bool TvgSceneEngine::SetHovered(TvgVisualObject* obj) {
  const TvgSceneObjectRef<TvgVisualObject> wanted(obj);
  if (!(wanted == hovered_)) {
    TvgVisualObject* old = hovered_.Get();
    hovered_ = wanted;
    if (old != nullptr) old->MouseLeave();
    if (wanted.Get() != nullptr && hovered_ == wanted) obj->MouseEnter();
  }
  return wanted.Get() != nullptr && hovered_ == wanted;
}

void TvgSceneEngine::MouseDown(int32_t button, uint32_t shift, int32_t x, int32_t y) {
  if (!designTime_ && !OnFlush) host_->HostTakeFocus();
  rawMousePos_ = vgPoint(static_cast<float>(x), static_cast<float>(y));
  mousePos_ = vgPoint(SnapToGrid(rawMousePos_.X), SnapToGrid(rawMousePos_.Y));
  downPos_ = mousePos_;
  snapObjects_.clear();
  if (designTime_) {
    DesignMouseDown(button, shift);
    return;
  }
  TvgVisualObject* o = ObjectAtPoint(mousePos_.X, mousePos_.Y);
  if (o == nullptr) {
    self_->BeginDrag();
    return;
  }
  if (vgIsSizeGrip(o)) {
    self_->BeginResize();
    return;
  }
  const TvgPoint local = o->AbsoluteToLocal(mousePos_);
  const TvgSceneObjectRef<TvgVisualObject> pressed(o);
  o->MouseDown(ToButton(button), ToShift(shift), local.X, local.Y);
  // A press may free the object (a popup's click catcher closes its popup and goes with it),
  // and the next object made may take its place in memory.
  if (pressed.Get() == nullptr) return;
  if (o->GetDragMode() == vgDragAutomatic) o->BeginAutoDrag();
}

void TvgSceneEngine::MouseMove(uint32_t shift, int32_t x, int32_t y) {
  int32_t cursor = SavedCursor;
  const float fx = static_cast<float>(x), fy = static_cast<float>(y);
  if (dragging_) {
    int32_t l, t, w, h;
    if (host_->HostOwnerBounds(l, t, w, h))
      host_->HostSetOwnerBounds(static_cast<int32_t>(std::lround(l + fx - downPos_.X)),
                                static_cast<int32_t>(std::lround(t + fy - downPos_.Y)), w, h);
    return;
  }
  if (resizing_) {
    resizeW_ = static_cast<int32_t>(std::lround(resizeW_ + fx - rawMousePos_.X));
    resizeH_ = static_cast<int32_t>(std::lround(resizeH_ + fy - rawMousePos_.Y));
    int32_t l, t, w, h;
    if (host_->HostOwnerBounds(l, t, w, h)) host_->HostSetOwnerBounds(l, t, resizeW_, resizeH_);
    host_->HostSetCursor(-8);
    rawMousePos_ = vgPoint(fx, fy);
    return;
  }
  const TvgPoint previous = mousePos_;
  mousePos_ = vgPoint(SnapToGrid(fx), SnapToGrid(fy));
  rawMousePos_ = vgPoint(fx, fy);
  if (designTime_) {
    DesignMouseMove(shift);
    downPos_ = mousePos_;
    return;
  }
  if (TvgVisualObject* captured = captured_.Get()) {
    const TvgPoint local = captured->AbsoluteToLocal(mousePos_);
    const TvgPoint delta = captured->AbsoluteToLocalVector(vgPoint(mousePos_.X - previous.X, mousePos_.Y - previous.Y));
    captured->MouseMove(ToShift(shift), local.X, local.Y, delta.X, delta.Y);
    downPos_ = mousePos_;
    return;
  }
  TvgVisualObject* o = ObjectAtPoint(mousePos_.X, mousePos_.Y);
  if (o == nullptr) {
    SetHovered(nullptr);
  } else {
    host_->HostSetHint(o->GetShowHint() ? o->GetHint() : WideString());
    cursor = vgIsSizeGrip(o) ? -8 : o->GetCursor();
    if (SetHovered(o)) {
      const TvgPoint local = o->AbsoluteToLocal(mousePos_);
      const TvgPoint delta = o->AbsoluteToLocalVector(vgPoint(mousePos_.X - previous.X, mousePos_.Y - previous.Y));
      o->MouseMove(ToShift(shift), local.X, local.Y, delta.X, delta.Y);
    }
  }
  host_->HostSetCursor(cursor);
  downPos_ = mousePos_;
}

void TvgSceneEngine::MouseUp(int32_t button, uint32_t shift, int32_t x, int32_t y) {
  DesignMouseUp();
  dragging_ = false;
  resizing_ = false;
  if (designTime_) return;
  if (TvgVisualObject* captured = captured_.Get()) {
    const TvgPoint local = captured->AbsoluteToLocal(mousePos_);
    captured->MouseUp(ToButton(button), ToShift(shift), local.X, local.Y);
    return;
  }
  if (TvgVisualObject* o = ObjectAtPoint(mousePos_.X, mousePos_.Y)) {
    const TvgPoint local = o->AbsoluteToLocal(mousePos_);
    o->MouseUp(ToButton(button), ToShift(shift), local.X, local.Y);
  }
}

bool TvgSceneEngine::MouseWheel(uint32_t shift, int32_t delta, bool handled) {
  if (designTime_) return handled;
  if (TvgVisualObject* captured = captured_.Get()) {
    captured->MouseWheel(ToShift(shift), delta, handled);
    return handled;
  }
  TvgVisualObject* o = ObjectAtPoint(mousePos_.X, mousePos_.Y);
  while (o != nullptr && !handled) {
    o->MouseWheel(ToShift(shift), delta, handled);
    o = AsVisual(o->GetParent());
  }
  return handled;
}

void TvgSceneEngine::MouseLeave() { SetHovered(nullptr); }

bool TvgSceneEngine::HintAt(float x, float y, WideString& text, TvgRect& rect) {
  TvgVisualObject* o = ObjectAtPoint(x, y);
  if (o == nullptr || !o->GetShowHint()) {
    text.clear();
    return false;
  }
  text = o->GetHint();
  const TvgRect a = o->GetAbsoluteRect();
  rect = vgRect(std::trunc(a.Left), std::trunc(a.Top), std::trunc(a.Right), std::trunc(a.Bottom));
  return true;
}

void TvgSceneEngine::KeyDown(uint16_t& key, WideChar& keyChar, uint32_t shiftBits) {
  const TShiftState shift = ToShift(shiftBits);
  TvgVisualObject* root = AsVisual(GetRoot());
  switch (key) {
    case 27: case 13: case 37: case 39: case 38: case 40: case 36: case 35: case 107: case 109:
      if (root != nullptr) {
        root->DialogKey(key, shift);
        if (key == 0) return;
      }
      break;
    default:
      break;
  }
  if (key == 27 && host_->HostCancelModalOwner()) key = 0;
  if (key == 0 && keyChar == 0) return;
  if (key != 9 || root == nullptr) {
    if (TvgVisualObject* focused = focused_.Get()) focused->KeyDown(key, keyChar, shift);
    return;
  }
  key = 0;
  TabNavigate(shift.Contains(ssShift));
}

void TvgSceneEngine::TabNavigate(bool backwards) {
  std::vector<TvgVisualObject*> list;
  std::function<void(TvgVisualObject*)> collect = [&](TvgVisualObject* v) {
    for (TvgVisualObject* e : v->TabList()) {
      list.push_back(e);
      collect(e);
    }
  };
  collect(AsVisual(GetRoot()));
  auto candidate = [](TvgVisualObject* e) {
    return e != nullptr && e->GetParentedVisible() && e->GetCanFocused() && e->GetAbsoluteEnabled();
  };
  const int32_t n = static_cast<int32_t>(list.size());
  if (n == 0) return;
  int32_t current = -1;
  TvgVisualObject* focused = focused_.Get();
  for (int32_t i = 0; i < n; ++i)
    if (list[static_cast<size_t>(i)] == focused) current = i;
  // Every list length searches both ways round; the entry after the focused one first.
  TvgVisualObject* chosen = nullptr;
  for (int32_t step = 1; step <= n && chosen == nullptr; ++step) {
    int32_t i = backwards ? current - step : current + step;
    i = ((i % n) + n) % n;
    if (current < 0 && !backwards) i = step - 1;
    if (current < 0 && backwards) i = n - step;
    if (candidate(list[static_cast<size_t>(i)])) chosen = list[static_cast<size_t>(i)];
  }
  if (chosen != nullptr) chosen->SetFocus();
}

void TvgSceneEngine::KeyUp(uint16_t& key, WideChar& keyChar, uint32_t shift) {
  if (designTime_ && key == 46 && selected_ != nullptr && selected_ != GetRoot()) {
    TvgVisualObject* gone = selected_;
    selected_ = nullptr;
    delete gone;
    AddUpdateRect(vgRect(0, 0, 10000, 10000));
    TellModified();
  }
  if (TvgVisualObject* focused = focused_.Get()) focused->KeyUp(key, keyChar, ToShift(shift));
}

void TvgSceneEngine::CharMessage(WideChar ch, uint32_t shift) {
  if (ch == 13) return;
  uint16_t key = 0;
  switch (ch) {
    case 1: case 3: case 22: case 24: case 26: {
      const WideChar letter = ch == 1 ? u'a' : ch == 3 ? u'c' : ch == 22 ? u'v' : ch == 24 ? u'x' : u'z';
      WideChar c = letter;
      KeyDown(key, c, shift);
      key = 0;
      c = letter;
      KeyUp(key, c, shift);
      return;
    }
    default: {
      WideChar c = ch;
      KeyDown(key, c, shift);
      return;
    }
  }
}

// --- Drag and drop

namespace {

TvgVisualObject* g_dropTarget = nullptr;

void SetDropTarget(TvgVisualObject* target) {
  if (g_dropTarget == target) return;
  if (g_dropTarget != nullptr) vgRemoveFreeNotify(g_dropTarget, &g_dropTarget);
  g_dropTarget = target;
  if (target != nullptr) vgAddFreeNotify(target, &g_dropTarget, [] { g_dropTarget = nullptr; });
}

// The current target leaves the drag; none is current afterwards.
void LeaveDropTarget() {
  TvgVisualObject* old = g_dropTarget;
  SetDropTarget(nullptr);
  if (old != nullptr) old->DragLeave();
}

// `target` becomes the current target: the old one leaves first, and `target` enters unless
// that freed it.
void EnterDropTarget(TvgVisualObject* target, const TvgDragObject& data, const TvgPoint& p) {
  const TvgSceneObjectRef<TvgVisualObject> next(target);
  LeaveDropTarget();
  target = next.Get();
  SetDropTarget(target);
  if (target != nullptr) target->DragEnter(data, p);
}

// The current target takes the drop only when it still accepts this data; answers whether it
// took it.
bool DropOnTarget(const TvgDragObject& data, const TvgPoint& p) {
  TvgVisualObject* target = g_dropTarget;
  if (target == nullptr) return false;
  const TvgSceneObjectRef<TvgVisualObject> held(target);
  bool accept = false;
  target->DragOver(data, p, accept);
  // Asked, the target may free itself, and the next object made may take its place in memory.
  if (held.Get() == nullptr) return false;
  SetDropTarget(nullptr);
  if (accept) target->DragDrop(data, p);
  else target->DragLeave();
  return accept;
}

}  // namespace

TvgVisualObject* vgCurrentDropTarget() { return g_dropTarget; }

bool TvgSceneEngine::NativeDragOver(const TvgDragObject& data, const TvgPoint& p, int32_t state) {
  TvgVisualObject* root = AsVisual(GetRoot());
  if (root == nullptr || state == 1) {
    LeaveDropTarget();
    return false;
  }
  TvgVisualObject* t = root->FindTarget(p, data);
  if (t != nullptr && t == data.Source) {
    LeaveDropTarget();
    return false;
  }
  const TvgSceneObjectRef<TvgVisualObject> found(t);
  bool accept = true;
  if (g_dropTarget != nullptr) g_dropTarget->DragOver(data, p, accept);
  t = found.Get();
  if (t != g_dropTarget) EnterDropTarget(t, data, p);
  return g_dropTarget != nullptr && accept;
}

bool TvgSceneEngine::NativeDragDrop(const TvgDragObject& data, const TvgPoint& p) { return DropOnTarget(data, p); }

bool TvgSceneEngine::CanAcceptDrag() { return AsVisual(GetRoot()) != nullptr; }

bool TvgSceneEngine::DragOverPoint(const TvgDragObject& data, const TvgPoint& p) {
  TvgVisualObject* root = AsVisual(GetRoot());
  TvgVisualObject* t = root != nullptr ? root->FindTarget(p, data) : nullptr;
  if (t != g_dropTarget) EnterDropTarget(t, data, p);
  return g_dropTarget != nullptr;
}

void TvgSceneEngine::DragLeaveScene() { LeaveDropTarget(); }

bool TvgSceneEngine::DropAt(const TvgDragObject& data, const TvgPoint& p) { return DropOnTarget(data, p); }

bool vgIsSizeGrip(TObject* obj) { return dynamic_cast<IvgSizeGrip*>(obj) != nullptr; }

void vgFinalizeSceneUnit() {
  vgFreePopupList();
  vgFreeAniThread();
  vgFreeDefaultStyle();
  SetDropTarget(nullptr);
  std::string().swap(vgDesignClipboard());
  // Last: freeing the default style unregisters its objects from the registries.
  vgFreeRegistries();
}
