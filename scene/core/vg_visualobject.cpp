// The visual object: geometry, caches, layout, painting and input.
#include "vg_visualobject.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <memory>

#include "classlib/TypInfo.h"
#include "vg_animation.h"
#include "vg_bitmap.h"
#include "vg_brush.h"
#include "vg_canvas.h"
#include "vg_control.h"
#include "vg_effect.h"

namespace {

// Counts the markings of update rects as stale anywhere: a copy of update rects taken at one count
// holds as long as the count stays. Two editors may mark on two GUI threads at once: counted
// atomically, the count never comes back to a value a copy was taken at (a mark on the other
// thread only makes a copy be taken again).
std::atomic<uint64_t> g_updateRectMarks{0};
// Counts the markings of absolute matrices (vgAbsoluteMatrixMarks): a count only, which a mark on
// another thread at the same moment may miss.
std::atomic<uint64_t> g_absoluteMarks{0};

// Objects with fewer children walk them directly.
constexpr size_t kChildRectsFrom = 32;

}  // namespace

struct TvgVisualObject::TChildRects {
  uint64_t marks = 0;
  std::vector<TvgObject*> children;  // as Children() was
  std::vector<TvgRect> rects;        // each visual child's update rect
  // The child is visual, and its rect was complete (kept by the child) when taken.
  std::vector<uint8_t> visual, sure;
};

KBL_PUBLISHED(TvgVisualObject) {
  KBL_PROP(Align).Default(vaNone);
  KBL_PROP(Position);
  KBL_PROP(RotateAngle);
  KBL_PROP(RotateCenter);
  // Defaults equal the constructor's values, so that 0 is written and read back as 0.
  KBL_PROP(Width).Default(50.0f);
  KBL_PROP(Height).Default(50.0f);
  KBL_PROP(Margins);
  KBL_PROP(Padding);
  KBL_PROP(Opacity).Default(1.0f).Stored(&TvgVisualObject::IsOpacityStored);
  KBL_PROP(ClipChildren).Default(false);
  KBL_PROP(ClipParent).Default(false);
  KBL_PROP(HitTest).Default(true);
  KBL_PROP(CanClipped).Default(true);
  KBL_PROP(Scale);
  KBL_PROP(Visible).Default(true);
  KBL_PROP(Enabled).Default(true);
  KBL_PROP(Locked).Default(false);
  KBL_PROP(DesignHide).Default(false);
  KBL_PROP(Cursor).Default(0);
  KBL_PROP(DragMode).Default(vgDragManual);
  KBL_PROP(DragDisableHighlight).Default(false);
  KBL_PROP(Hint);
  KBL_PROP(ShowHint).Default(false);
  KBL_PROP(PopupMenu);
  KBL_PROP_RO(IsMouseOver);
  KBL_PROP_RO(IsFocused);
  KBL_PROP_RO(IsDragOver);
  KBL_PROP_RO(IsVisible);
  using V = TvgVisualObject;
  p.Property("OnDragEnter", &V::OnDragEnter, &V::OnDragEnter);
  p.Property("OnDragLeave", &V::OnDragLeave, &V::OnDragLeave);
  p.Property("OnDragOver", &V::OnDragOver, &V::OnDragOver);
  p.Property("OnDragDrop", &V::OnDragDrop, &V::OnDragDrop);
  p.Property("OnDragEnd", &V::OnDragEnd, &V::OnDragEnd);
  p.Property("OnKeyDown", &V::OnKeyDown, &V::OnKeyDown);
  p.Property("OnKeyUp", &V::OnKeyUp, &V::OnKeyUp);
  p.Property("OnClick", &V::OnClick, &V::OnClick);
  p.Property("OnDblClick", &V::OnDblClick, &V::OnDblClick);
  p.Property("OnCanFocused", &V::OnCanFocused, &V::OnCanFocused);
  p.Property("OnEnterFocus", &V::OnEnterFocus, &V::OnEnterFocus);
  p.Property("OnKillFocus", &V::OnKillFocus, &V::OnKillFocus);
  p.Property("OnMouseDown", &V::OnMouseDown, &V::OnMouseDown);
  p.Property("OnMouseMove", &V::OnMouseMove, &V::OnMouseMove);
  p.Property("OnMouseUp", &V::OnMouseUp, &V::OnMouseUp);
  p.Property("OnMouseWheel", &V::OnMouseWheel, &V::OnMouseWheel);
  p.Property("OnMouseEnter", &V::OnMouseEnter, &V::OnMouseEnter);
  p.Property("OnMouseLeave", &V::OnMouseLeave, &V::OnMouseLeave);
  p.Property("OnBeforePaint", &V::OnBeforePaint, &V::OnBeforePaint);
  p.Property("OnPaint", &V::OnPaint, &V::OnPaint);
  p.Property("OnApplyResource", &V::OnApplyResource, &V::OnApplyResource);
}

namespace {

TvgDesignOutlineHook designOutlineHook = nullptr;
TvgPopupMenuHook popupMenuHook = nullptr;

constexpr TvgColor kDesignOutlineColor = 0xB200CC5Au;
constexpr TvgColor kDragOverColor = 0xB2005ACCu;
constexpr uint16_t kContextMenuKey = 93;

TvgMatrix Translation(float x, float y) {
  TvgMatrix m = IdentityMatrix;
  m.m31 = x;
  m.m32 = y;
  return m;
}

// Asked for the parent of every child a list places: the answer for the class asked last is kept
// (classes live as long as the process).
bool IsScrollContent(TvgObject* obj) {
  // One word holds the class and its answer (class records are aligned: the low bit is free), so
  // that two GUI threads asking at once never pair one's class with the other's answer.
  static_assert(alignof(TClassInfo) > 1);
  static std::atomic<uintptr_t> last{0};
  if (obj == nullptr) return false;
  const auto cls = reinterpret_cast<uintptr_t>(obj->ClassInfo());
  const uintptr_t known = last.load(std::memory_order_relaxed);
  if ((known & ~uintptr_t{1}) == cls) return (known & 1) != 0;
  const bool answer = vgInheritsFromName(obj, "TvgScrollContent");
  last.store(cls | (answer ? 1 : 0), std::memory_order_relaxed);
  return answer;
}

}  // namespace

void vgSetDesignOutlineHook(TvgDesignOutlineHook hook) { designOutlineHook = hook; }
void vgSetPopupMenuHook(TvgPopupMenuHook hook) { popupMenuHook = hook; }

void vgPaintDesignFrame(TvgVisualObject& obj) {
  TvgCanvas* canvas = obj.GetCanvas();
  if (canvas == nullptr) return;
  TvgRect r = obj.GetLocalRect();
  vgInflateRect(r, -0.5f, -0.5f);
  canvas->SetStrokeThickness(1);
  canvas->SetStrokeDash(vgDashDash);
  canvas->GetStroke()->SetStyle(vgBrushSolid);
  canvas->GetStroke()->SetSolidColor(0xA0909090u);
  canvas->DrawRect(r, 0, 0, vgAllCorners, obj.GetAbsoluteOpacity(), vgCornerRound);
  canvas->SetStrokeDash(vgDashSolid);
}

bool& vgDisableFocusEffects() {
  static bool disabled = false;
  return disabled;
}

// --- Construction

struct TvgVisualObject::TGeometryParts {
  // Freed in the reverse order: the rotation centre first, the margins last.
  TvgBounds margins{vgRect(0, 0, 0, 0)};
  TvgBounds padding{vgRect(0, 0, 0, 0)};
  TvgPosition position{vgPoint(0, 0)};
  TvgPosition scale{vgPoint(1, 1)};
  TvgPosition skew{vgPoint(0, 0)};
  TvgPosition rotateCenter{vgPoint(0.5f, 0.5f)};
};

TvgVisualObject::TvgVisualObject(TComponent* owner)
    : TvgObject(owner), geometryParts_(std::make_unique<TGeometryParts>()) {
  visual_ = this;
  margins_ = &geometryParts_->margins;
  margins_->OnChange = TNotifyEvent::Of<&TvgVisualObject::MarginsChanged>(this);
  padding_ = &geometryParts_->padding;
  padding_->OnChange = TNotifyEvent::Of<&TvgVisualObject::PaddingChanged>(this);
  position_ = &geometryParts_->position;
  position_->OnChange = TNotifyEvent::Of<&TvgVisualObject::GeometryChanged>(this);
  scale_ = &geometryParts_->scale;
  scale_->OnChange = TNotifyEvent::Of<&TvgVisualObject::GeometryChanged>(this);
  skew_ = &geometryParts_->skew;
  skew_->OnChange = TNotifyEvent::Of<&TvgVisualObject::GeometryChanged>(this);
  rotateCenter_ = &geometryParts_->rotateCenter;
  rotateCenter_->OnChange = TNotifyEvent::Of<&TvgVisualObject::GeometryChanged>(this);
}

TvgVisualObject::~TvgVisualObject() {
  SetPopupMenu(nullptr);
  // The parent's RemoveObject reads this object's geometry: leave the tree while it is whole.
  DestroyTree();
  delete effectBitmap_;
  geometryParts_.reset();
  visual_ = nullptr;
}

bool TvgVisualObject::IsDesigning() const { return GetScene() != nullptr && GetScene()->GetDesignTime(); }

TvgObject* TvgVisualObject::SceneRoot() {
  if (GetScene() != nullptr) return GetScene()->GetRoot();
  TvgObject* top = this;
  while (top->GetParent() != nullptr) top = top->GetParent();
  return top;
}

void TvgVisualObject::Loaded() {
  inherited::Loaded();
  lastWidth_ = width_;
  lastHeight_ = height_;
  MatrixChanged();
  if (GetChildrenCount() > 0) Realign();
  SortTabList();
}

void TvgVisualObject::SetScene(IvgScene* scene) {
  if (scene == nullptr && GetScene() != nullptr && isFocused_) KillFocus();
  inherited::SetScene(scene);
}

// --- Matrices

void TvgVisualObject::GeometryChanged(TObject* sender) {
  // A paint into a bitmap moves and scales the object for the time of the call.
  if (!inPaintTo_) PropertyChanged();
  MatrixChanged(sender);
}

void TvgVisualObject::MatrixChanged(TObject*) {
  // The old area needs repainting as much as the new one.
  TvgRect before;
  const bool repaintBefore = RepaintArea(before);
  localMatrix_ = ComposeLocalMatrix();
  RecalcAbsolute();
  RecalcUpdateRect();
  RepaintMoved(repaintBefore, before);
}

void TvgVisualObject::RepaintMoved(bool repaintBefore, const TvgRect& before) {
  if (auto* parent = GetParent(); parent != nullptr && parent->IsVisual()) parent->Visual()->UpdateEffects();
  TvgRect after;
  const bool repaintAfter = !inPaintTo_ && RepaintArea(after);
  if (repaintBefore && repaintAfter && vgRectsCloseTogether(before, after)) {
    // A small move: one area for both (each queued area costs the window system a call).
    RequestArea(vgUnionRect(before, after));
    return;
  }
  if (repaintBefore) RequestArea(before);
  if (repaintAfter) RequestArea(after);
}

TvgMatrix TvgVisualObject::ComposeLocalMatrix() const {
  TvgMatrix m = IdentityMatrix;
  m.m11 = scale_->GetX();
  m.m22 = scale_->GetY();
  m.m31 = position_->GetX();
  m.m32 = position_->GetY();
  if (rotateAngle_ != 0) {
    const float cx = rotateCenter_->GetX() * width_;
    const float cy = rotateCenter_->GetY() * height_;
    TvgMatrix r = vgMatrixMultiply(Translation(-cx, -cy), vgCreateRotationMatrix(vgDegToRad(rotateAngle_)));
    r = vgMatrixMultiply(r, Translation(cx, cy));
    m = vgMatrixMultiply(r, m);
  }
  return m;
}

void TvgVisualObject::MoveQuietly(const TvgPoint& p) {
  if (position_->GetPoint() == p) return;
  // An effect of its own may replace its painting, and a paint into a bitmap repaints nothing:
  // both take the plain road.
  if (hasEffects_ || inPaintTo_) {
    position_->SetPoint(p);
    return;
  }
  const TNotifyEvent changed = position_->OnChange;
  position_->OnChange = nullptr;
  position_->SetPoint(p);
  position_->OnChange = changed;
  // Unrotated, the position is the matrix's translation and nothing else in it changes.
  if (rotateAngle_ == 0) {
    localMatrix_.m31 = p.X;
    localMatrix_.m32 = p.Y;
  } else {
    localMatrix_ = ComposeLocalMatrix();
  }
  RecalcAbsolute();
  RecalcUpdateRectDown();
}

void TvgVisualObject::ChildrenMoved() {
  MarkUpdateRectStaleUp();
  UpdateEffects();
  Repaint();
}

void TvgVisualObject::MoveOverChildren(const TvgPoint& p) {
  // An effect of its own is rendered with its children, and a paint into a bitmap moves objects
  // for its while: both take the plain road.
  if (hasEffects_ || inPaintTo_) {
    GetPosition()->SetPoint(p);
    return;
  }
  if (position_->GetPoint() == p) return;
  TvgRect before;
  const bool repaintBefore = RepaintArea(before);
  const TNotifyEvent changed = position_->OnChange;
  position_->OnChange = nullptr;
  position_->SetPoint(p);
  position_->OnChange = changed;
  localMatrix_ = ComposeLocalMatrix();
  absMatrixStale_ = true;
  g_absoluteMarks.store(g_absoluteMarks.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  // 0 is what a child that never saw a move holds.
  if (++movesOverChildren_ == 0) movesOverChildren_ = 1;
  MarkUpdateRectStaleUp();
  RepaintMoved(repaintBefore, before);
}

TvgMatrix TvgVisualObject::GetAbsoluteMatrix() {
  AskPlace();
  if (!absMatrixStale_) return absMatrix_;
  TvgObject* parent = GetParent();
  if (parent != nullptr && parent->IsVisual()) {
    TvgVisualObject* v = parent->Visual();
    absMatrix_ = vgMatrixMultiply(vgMatrixMultiply(localMatrix_, v->GetChildrenMatrix()), v->GetAbsoluteMatrix());
  } else {
    absMatrix_ = localMatrix_;
  }
  absMatrixStale_ = false;
  return absMatrix_;
}

void TvgVisualObject::SetPlaceOnDemand(bool value) {
  placeOnDemand_ = value;
  TvgObject* parent = GetParent();
  InheritPlaceOnDemand(parent != nullptr && parent->IsVisual() && parent->Visual()->underPlaceOnDemand_);
}

void TvgVisualObject::InheritPlaceOnDemand(bool above) {
  const bool under = placeOnDemand_ || above;
  if (under == underPlaceOnDemand_) return;
  underPlaceOnDemand_ = under;
  for (TvgObject* child : Children()) {
    if (child->IsVisual()) child->Visual()->InheritPlaceOnDemand(under);
  }
}

void TvgVisualObject::TakeOwedPlaces() {
  // A part's cached matrix and area follow its ancestors' places: the one owed up there is
  // taken first, which marks them stale; so does a move of the parent over the object since it
  // last looked (MoveOverChildren).
  for (TvgVisualObject* v = this; v != nullptr && v->underPlaceOnDemand_;) {
    TvgObject* parent = v->GetParent();
    TvgVisualObject* above = parent != nullptr && parent->IsVisual() ? parent->Visual() : nullptr;
    if (v->placeOnDemand_) {
      if (above != nullptr && v->parentMovesSeen_ != above->movesOverChildren_) {
        v->parentMovesSeen_ = above->movesOverChildren_;
        v->RecalcAbsolute();
        v->RecalcUpdateRectDown();
      }
      v->TakeOwedPlace();
    }
    v = above;
  }
}

uint64_t vgAbsoluteMatrixMarks() { return g_absoluteMarks.load(std::memory_order_relaxed); }

void TvgVisualObject::RecalcAbsolute() {
  g_absoluteMarks.store(g_absoluteMarks.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  absMatrixStale_ = true;
  for (TvgObject* child : Children()) {
    if (child->IsVisual()) child->Visual()->RecalcAbsolute();
  }
}

TvgPoint TvgVisualObject::GetAbsoluteScale() {
  TvgPoint s = scale_->GetPoint();
  for (TvgObject* p = GetParent(); p != nullptr; p = p->GetParent()) {
    if (!p->IsVisual()) continue;
    s.X *= p->Visual()->scale_->GetX();
    s.Y *= p->Visual()->scale_->GetY();
  }
  return s;
}

TvgPoint TvgVisualObject::LocalToAbsolute(const TvgPoint& p) {
  return vgPointFromVector(vgVectorTransform(vgVector(p.X, p.Y), GetAbsoluteMatrix()));
}

TvgPoint TvgVisualObject::AbsoluteToLocal(const TvgPoint& p) {
  TvgMatrix m = GetAbsoluteMatrix();
  vgInvertMatrix(m);
  return vgPointFromVector(vgVectorTransform(vgVector(p.X, p.Y), m));
}

TvgPoint TvgVisualObject::LocalToAbsoluteVector(const TvgPoint& v) {
  return vgPointFromVector(vgVectorTransform(vgVector(v.X, v.Y, 0), GetAbsoluteMatrix()));
}

TvgPoint TvgVisualObject::AbsoluteToLocalVector(const TvgPoint& v) {
  TvgMatrix m = GetAbsoluteMatrix();
  vgInvertMatrix(m);
  return vgPointFromVector(vgVectorTransform(vgVector(v.X, v.Y, 0), m));
}

// --- Opacity and enabled state

float TvgVisualObject::GetAbsoluteOpacity() {
  if (!absOpacityStale_) return absOpacity_;
  TvgObject* parent = GetParent();
  absOpacity_ = opacity_;
  if (parent != nullptr && parent->IsVisual()) absOpacity_ *= parent->Visual()->GetAbsoluteOpacity();
  TvgObject* root = SceneRoot();
  const bool nearRoot = this == root || (parent != nullptr && parent == root);
  if (!GetAbsoluteEnabled() && !nearRoot) absOpacity_ *= 0.8f;
  absOpacityStale_ = false;
  return absOpacity_;
}

void TvgVisualObject::RecalcOpacity() {
  absOpacityStale_ = true;
  for (TvgObject* child : Children()) {
    if (child->IsVisual()) child->Visual()->RecalcOpacity();
  }
}

bool TvgVisualObject::GetAbsoluteEnabled() {
  if (!enabledStale_) return absEnabled_;
  TvgObject* parent = GetParent();
  absEnabled_ = enabled_;
  if (parent != nullptr && parent->IsVisual()) absEnabled_ = absEnabled_ && parent->Visual()->GetAbsoluteEnabled();
  enabledStale_ = false;
  if (!absEnabled_ && canFocused_ && isFocused_ && GetScene() != nullptr) GetScene()->SetFocused(nullptr);
  return absEnabled_;
}

void TvgVisualObject::RecalcEnabled() {
  enabledStale_ = true;
  for (TvgObject* child : Children()) {
    if (child->IsVisual()) child->Visual()->RecalcEnabled();
  }
}

void TvgVisualObject::SetOpacity(float value) {
  value = std::clamp(value, 0.0f, 1.0f);
  if (!vgSetChanged(opacity_, value)) return;
  PropertyChanged();
  RecalcOpacity();
  Repaint();
}

void TvgVisualObject::SetEnabled(bool value) {
  if (!vgSetChanged(enabled_, value)) return;
  PropertyChanged();
  RecalcEnabled();
  GetAbsoluteEnabled();  // a focused object that becomes disabled gives up the focus
  RecalcOpacity();
  Repaint();
}

// --- Rects

TvgRect TvgVisualObject::GetParentedRect() {
  AskPlace();
  TvgRect r = GetLocalRect();
  vgOffsetRect(r, position_->GetX(), position_->GetY());
  return r;
}

TvgRect TvgVisualObject::GetAbsoluteRect() { return LocalToAbsoluteRect(vgRect(0, 0, width_, height_)); }

TvgRect TvgVisualObject::LocalToAbsoluteRect(const TvgRect& r) {
  const TvgPoint pts[4] = {LocalToAbsolute(vgPoint(r.Left, r.Top)), LocalToAbsolute(vgPoint(r.Right, r.Top)),
                           LocalToAbsolute(vgPoint(r.Right, r.Bottom)), LocalToAbsolute(vgPoint(r.Left, r.Bottom))};
  TvgRect result = {pts[0].X, pts[0].Y, pts[0].X, pts[0].Y};
  for (const TvgPoint& p : pts) {
    result.Left = std::min(result.Left, p.X);
    result.Top = std::min(result.Top, p.Y);
    result.Right = std::max(result.Right, p.X);
    result.Bottom = std::max(result.Bottom, p.Y);
  }
  return result;
}

TvgRect TvgVisualObject::GetEffectsRect() {
  const TvgRect local = GetLocalRect();
  TvgRect r = local;
  for (TvgObject* child : Children()) {
    auto* effect = dynamic_cast<TvgEffect*>(child);
    if (effect != nullptr && effect->GetEnabled()) r = vgUnionRect(r, effect->GetRect(local));
  }
  return r;
}

TvgRect TvgVisualObject::GetUpdateRect() {
  AskPlace();
  if (!updateRectStale_) return updateRect_;
  // No repaint is asked for while the rect is worked out; the count comes back also when a part
  // of it raises (the object would never repaint again).
  ++updating_;
  const TvgRestoreOnExit updated([this] { --updating_; });
  TvgRect r = GetAbsoluteRect();
  IvgScene* scene = GetScene();
  const bool complete = scene != nullptr && !scene->GetDisableUpdate() && !IsLoading();
  if (complete) {
    for (TvgObject* p = GetParent(); p != nullptr; p = p->GetParent()) {
      if (p->IsVisual() && p->Visual()->clipChildren_) {
        TvgRect clipped;
        vgIntersectRect(clipped, r, p->Visual()->GetUpdateRect());
        r = clipped;
      }
    }
    if (canFocused_ && isFocused_) vgInflateRect(r, 5, 5);
    if (scene->GetSelected() == this) {
      vgInflateRect(r, 4, 4);
      r.Top -= 13;
    }
    if (scene->GetDesignPlaceObject() == this) {
      vgInflateRect(r, 1, 1);
      r.Top -= 20;
      if (vgRectWidth(r) < 160) r.Right = r.Left + 160;
    }
    if (hasEffects_ && !clipChildren_) r = vgUnionRect(r, LocalToAbsoluteRect(GetEffectsRect()));
    if (!clipChildren_) {
      for (TvgObject* child : Children()) {
        if (child->IsVisual() && child->Visual()->visible_) r = vgUnionRect(r, child->Visual()->GetUpdateRect());
      }
    }
  }
  updateRect_ = r;
  // Without a scene (or while updates are off) the rect lacks the children and decorations:
  // do not keep it.
  updateRectStale_ = !complete;
  return r;
}

void TvgVisualObject::RecalcUpdateRectDown() {
  updateRectStale_ = true;
  for (TvgObject* child : Children()) {
    if (child->IsVisual()) child->Visual()->RecalcUpdateRectDown();
  }
}

void TvgVisualObject::RecalcUpdateRect() {
  RecalcUpdateRectDown();
  MarkUpdateRectStaleUp();  // counts the marking of both
}

void TvgVisualObject::FocusRectChanged() {
  // A list of thousands of rows below a control that does not clip them is not walked.
  if (clipChildren_) RecalcUpdateRectDown();
  MarkUpdateRectStaleUp();
}

void TvgVisualObject::MarkUpdateRectStaleUp() {
  g_updateRectMarks.fetch_add(1, std::memory_order_relaxed);
  updateRectStale_ = true;
  // Ancestors unite the rects of their children up to the first one that clips.
  for (TvgObject* p = GetParent(); p != nullptr; p = p->GetParent()) {
    if (!p->IsVisual()) break;
    p->Visual()->updateRectStale_ = true;
    if (p->Visual()->clipChildren_) break;
  }
}

// --- Hit testing

bool TvgVisualObject::PointInObject(float x, float y) {
  const TvgPoint p = AbsoluteToLocal(vgPoint(x, y));
  return p.X >= 0 && p.X < width_ && p.Y >= 0 && p.Y < height_;
}

bool TvgVisualObject::AcceptsHits() {
  if (IsDesigning()) return !locked_ && !designHide_;
  return hitTest_;
}

TvgVisualObject* TvgVisualObject::ObjectByPoint(float x, float y) {
  const bool designing = IsDesigning();
  if (!visible_ && !designing) return nullptr;
  if (Is<TvgControl>() && !GetAbsoluteEnabled() && !designing) return nullptr;
  if (clipChildren_ && !PointInObject(x, y)) return nullptr;
  const auto& children = Children();
  size_t first = 0, end = children.size();
  ShownChildren(first, end);
  for (size_t i = std::min(end, children.size()); i > first; --i) {
    TvgObject* child = children[i - 1];
    if (!child->IsVisual()) continue;
    TvgVisualObject* v = child->Visual();
    if (!(v->visible_ || (designing && !v->designHide_))) continue;
    if (TvgVisualObject* hit = v->ObjectByPoint(x, y)) return hit;
  }
  if (PointInObject(x, y) && AcceptsHits()) return this;
  return nullptr;
}

bool TvgVisualObject::GetParentedVisible() {
  for (TvgObject* p = this; p != nullptr; p = p->GetParent()) {
    if (p->IsVisual() && !p->Visual()->visible_) return false;
  }
  return true;
}

// --- Geometry setters

void TvgVisualObject::SetRotateAngle(float angle) {
  angle = vgNormalizeAngle(angle);
  if (angle == rotateAngle_) return;
  rotateAngle_ = angle;
  PropertyChanged();
  MatrixChanged();
}

void TvgVisualObject::SetWidth(float value) {
  if (value == width_) return;
  PropertyChanged();
  Repaint();
  if (IsDesigning() && value < 0) {
    value = -value;
    width_ = value;
    scale_->SetX(-scale_->GetX());
  }
  width_ = value;
  MatrixChanged();
  TvgObject* parent = GetParent();
  if (parent != nullptr && parent->IsVisual() && (align_ != vaNone || IsScrollContent(parent))) {
    parent->Visual()->Realign();
  }
  if (GetChildrenCount() > 0) Realign();
}

void TvgVisualObject::SetHeight(float value) {
  if (value == height_) return;
  PropertyChanged();
  Repaint();
  if (IsDesigning() && value < 0) {
    value = -value;
    height_ = value;
    scale_->SetY(-scale_->GetY());
  }
  height_ = value;
  MatrixChanged();
  TvgObject* parent = GetParent();
  if (parent != nullptr && parent->IsVisual() && (align_ != vaNone || IsScrollContent(parent))) {
    parent->Visual()->Realign();
  }
  if (GetChildrenCount() > 0) Realign();
}

void TvgVisualObject::SetBounds(float x, float y, float width, float height) {
  AskPlace();  // a place given later is the object's own
  Repaint();
  if (IsDesigning()) {
    if (width < 0) {
      width = -width;
      scale_->SetX(-scale_->GetX());
    }
    if (height < 0) {
      height = -height;
      scale_->SetY(-scale_->GetY());
    }
  }
  const bool sized = width != width_ || height != height_;
  if (sized) PropertyChanged();  // the position tells of itself
  width_ = width;
  height_ = height;
  position_->SetPoint(vgPoint(x, y));  // recomputes the matrix
  TvgObject* parent = GetParent();
  if (sized && parent != nullptr && parent->IsVisual() && (align_ != vaNone || IsScrollContent(parent))) {
    parent->Visual()->Realign();
  }
  if (sized && GetChildrenCount() > 0) Realign();
}

void TvgVisualObject::SetBoundsRect(const TvgRect& r) {
  float w = r.Right - r.Left;
  float h = r.Bottom - r.Top;
  float left = r.Left;
  float top = r.Top;
  if (w < 0) {
    w = -w;
    left = r.Right;
    scale_->SetX(-scale_->GetX());
  }
  if (h < 0) {
    h = -h;
    top = r.Bottom;
    scale_->SetY(-scale_->GetY());
  }
  // r is in the parent's children space: its rotation centre is where the object's rotation
  // centre goes, and the position follows from it and the scale.
  const float cx = left + rotateCenter_->GetX() * w;
  const float cy = top + rotateCenter_->GetY() * h;
  const float x = cx - scale_->GetX() * rotateCenter_->GetX() * w;
  const float y = cy - scale_->GetY() * rotateCenter_->GetY() * h;
  SetBounds(x, y, w, h);
}

void TvgVisualObject::SetSizeNoAlign(float width, float height) {
  width_ = width;
  height_ = height;
  lastWidth_ = width;
  lastHeight_ = height;
}

void TvgVisualObject::SetAlign(TvgAlign value) {
  if (!vgSetChanged(align_, value)) return;
  PropertyChanged();
  TvgObject* parent = GetParent();
  if (parent == nullptr || !parent->IsVisual()) return;
  if (value != vaNone) {
    if (!parent->Visual()->needRealign_) parent->Visual()->RememberAlignedSize();
    parent->Visual()->needRealign_ = true;
  }
  if (!IsLoading()) parent->Visual()->Realign();
}

void TvgVisualObject::SetVisible(bool value) {
  if (value == visible_) return;
  PropertyChanged();
  Repaint();
  visible_ = value;
  RecalcUpdateRect();
  TvgObject* parent = GetParent();
  if (align_ != vaNone && !IsLoading() && parent != nullptr && parent->IsVisual()) parent->Visual()->Realign();
  if (visible_) {
    Repaint();
    StartTriggerAnimation(this, "IsVisible");
  } else if (isFocused_ && GetScene() != nullptr) {
    GetScene()->SetFocused(nullptr);
  }
}

void TvgVisualObject::SetClipChildren(bool value) {
  if (value == clipChildren_) return;
  PropertyChanged();
  Repaint();
  clipChildren_ = value;
  RecalcUpdateRect();
  Repaint();
}

void TvgVisualObject::SetClipParent(bool value) {
  if (!vgSetChanged(clipParent_, value)) return;
  PropertyChanged();
  if (auto* parent = GetParent(); parent != nullptr && parent->IsVisual()) parent->Visual()->Repaint();
}

void TvgVisualObject::SetLockedTree(bool value) {
  ChangeProperty(locked_, value);
  for (TvgObject* child : Children()) {
    if (child->IsVisual()) child->Visual()->SetLockedTree(value);
  }
}

void TvgVisualObject::SetDesignHide(bool value) {
  if (!vgSetChanged(designHide_, value)) return;
  PropertyChanged();
  IvgScene* scene = GetScene();
  TvgObject* parent = GetParent();
  if (scene == nullptr || !scene->GetDesignTime() || parent == nullptr) return;
  if (value && scene->GetSelected() == this && parent->IsVisual()) scene->SetSelected(parent->Visual());
  if (parent->IsVisual()) parent->Visual()->Repaint();
}

void TvgVisualObject::SetDesignHideTree(bool value) {
  ChangeProperty(designHide_, value);
  for (TvgObject* child : Children()) {
    if (child->IsVisual()) child->Visual()->SetDesignHideTree(value);
  }
}

void TvgVisualObject::MarginsChanged(TObject*) {
  PropertyChanged();
  Realign();
}

void TvgVisualObject::PaddingChanged(TObject*) {
  PropertyChanged();
  if (auto* parent = GetParent(); parent != nullptr && parent->IsVisual()) parent->Visual()->Realign();
}

// --- Updating

void TvgVisualObject::ShiftUpdatingTree(int32_t delta) {
  updating_ = std::max(updating_ + delta, 0);
  for (TvgObject* child : Children()) {
    if (child->IsVisual()) child->Visual()->ShiftUpdatingTree(delta);
  }
}

void TvgVisualObject::InheritUpdatingTree(int32_t above) {
  // An object's own updates go with it to another parent: its EndUpdate still finds them there.
  updating_ = ownUpdates_ + above;
  for (TvgObject* child : Children()) {
    if (child->IsVisual()) child->Visual()->InheritUpdatingTree(updating_);
  }
}

void TvgVisualObject::BeginUpdate() {
  ++ownUpdates_;
  ShiftUpdatingTree(1);
}

void TvgVisualObject::EndUpdate() {
  if (ownUpdates_ <= 0) return;  // unbalanced: nothing to end
  --ownUpdates_;
  ShiftUpdatingTree(-1);
  if (updating_ > 0) {
    // An update around this one is still open: what this one held back waits for its end.
    if (ownUpdates_ == 0) PutOffRealign();
    return;
  }
  // What the update held back is laid out and shown now, under one repaint request for the
  // scene: this object first, as its layout may place and size the objects below, then those
  // below whose layouts were put off.
  TvgRepaintBatch batch(this);
  deferredRealign_ = false;
  Realign();
  RealignDeferredBelow();
  Repaint();
}

bool TvgVisualObject::PutOffRealign() {
  if (updating_ <= 0) return false;
  deferredRealign_ = true;
  if (TvgObject* parent = GetParent(); parent != nullptr && parent->IsVisual()) parent->Visual()->NoteDeferredBelow();
  return true;
}

void TvgVisualObject::NoteDeferredBelow() {
  // Up to the first ancestor already noted: the walk at the end of an update finds the put-off
  // layouts without visiting the rest of the tree, and noting many stays cheap.
  for (TvgVisualObject* v = this; v != nullptr && !v->deferredBelow_;) {
    v->deferredBelow_ = true;
    TvgObject* parent = v->GetParent();
    v = parent != nullptr ? parent->Visual() : nullptr;
  }
}

bool TvgVisualObject::RealignDeferredBelow() {
  if (!deferredBelow_) return false;
  deferredBelow_ = false;
  bool left = false;
  // By index: a layout may add or free style parts of the object it lays out.
  const std::vector<TvgObject*>& children = Children();
  for (size_t i = 0; i < children.size(); ++i) {
    TvgVisualObject* v = children[i]->Visual();
    if (v == nullptr || (!v->deferredRealign_ && !v->deferredBelow_)) continue;
    if (v->updating_ > 0) {
      left = true;  // its own update is still open; its end runs them
      continue;
    }
    left = v->RealignDeferred() || left;
  }
  if (left) deferredBelow_ = true;
  return left;
}

bool TvgVisualObject::TakeDeferredLayouts() {
  if (!deferredRealign_ && !deferredBelow_) return false;
  if (updating_ <= 0) {
    // It left an update that is still open, or one that ended while it lay elsewhere: nothing
    // else would lay it out.
    TvgRepaintBatch batch(this);
    RealignDeferred();
  }
  return deferredRealign_ || deferredBelow_;
}

bool TvgVisualObject::RealignDeferred() {
  if (deferredRealign_) {
    deferredRealign_ = false;
    Realign();
  }
  return RealignDeferredBelow();
}

bool TvgVisualObject::CanRepaint() {
  IvgScene* scene = GetScene();
  if (scene == nullptr) return false;
  const bool designing = scene->GetDesignTime();
  if (!visible_ && !designing) return false;
  if (designing && designHide_) return false;
  if (scene->GetDisableUpdate()) return false;
  if (!designing && !GetParentedVisible()) return false;
  return updating_ <= 0;
}

bool TvgVisualObject::RepaintArea(TvgRect& area) {
  if (!CanRepaint()) return false;
  // Without an enabled effect among the children (has-effects) there is nothing to look for: a
  // list's content has thousands of children.
  if (hasEffects_) {
    for (TvgObject* child : Children()) {
      auto* effect = dynamic_cast<TvgEffect*>(child);
      if (effect != nullptr && effect->GetEnabled() && effect->ReplacesPainting()) {
        effectsDirty_ = true;  // the processed image shows the object's look
        break;
      }
    }
  }
  area = GetUpdateRect();
  return true;
}

void TvgVisualObject::Repaint() {
  TvgRect area;
  if (RepaintArea(area)) RequestArea(area);
}

namespace {
// The open batch and the innermost paint-only change, of this thread: each scene lives on one GUI
// thread, and two editors may paint on two at once. Shared, one thread's batch would gather the
// other's requests, and a chain could link an object on a stack that has gone. One record, looked
// up once per request (a thread's own variable costs a call on Windows).
struct TRepaintStacks {
  TvgRepaintBatch* openBatch = nullptr;
  TvgPaintOnlyChange* paintOnly = nullptr;
};
thread_local TRepaintStacks t_stacks;
}  // namespace

void TvgVisualObject::RequestArea(const TvgRect& area) {
  const TRepaintStacks& stacks = t_stacks;
  IvgScene* scene = GetScene();
  if (stacks.paintOnly != nullptr && stacks.paintOnly->Drops(scene)) return;
  if (stacks.openBatch == nullptr || !stacks.openBatch->Gather(scene, area)) scene->AddUpdateRect(area);
}

bool vgRectsCloseTogether(const TvgRect& a, const TvgRect& b) {
  const auto area = [](const TvgRect& r) {
    return static_cast<double>(std::max(0.0f, vgRectWidth(r))) * std::max(0.0f, vgRectHeight(r));
  };
  // Their union repaints at most half as much again as the two do.
  return area(vgUnionRect(a, b)) <= 1.5 * (area(a) + area(b));
}

// --- Repaint batches

TvgPaintOnlyChange::TvgPaintOnlyChange(TvgVisualObject* owner)
    : scene_(owner != nullptr ? owner->GetScene() : nullptr), outer_(t_stacks.paintOnly) {
  t_stacks.paintOnly = this;
}

TvgPaintOnlyChange::~TvgPaintOnlyChange() { t_stacks.paintOnly = outer_; }

bool TvgPaintOnlyChange::Drops(IvgScene* scene) const {
  for (const TvgPaintOnlyChange* change = this; change != nullptr; change = change->outer_)
    if (change->scene_ == scene && scene != nullptr) return true;
  return false;
}

TvgRepaintBatch::TvgRepaintBatch(TvgVisualObject* owner) {
  scene_ = owner != nullptr ? owner->GetScene() : nullptr;
  TRepaintStacks& stacks = t_stacks;
  if (stacks.openBatch != nullptr || scene_ == nullptr) return;
  stacks.openBatch = this;
  open_ = true;
}

TvgRepaintBatch::~TvgRepaintBatch() {
  if (!open_) return;
  t_stacks.openBatch = nullptr;
  if (!gathered_) return;
  // A destructor may run while an error unwinds: a request that fails (out of memory) is lost
  // rather than ending the process.
  try {
    scene_->AddUpdateRect(union_);
  } catch (...) {
  }
}

bool TvgRepaintBatch::Gather(IvgScene* scene, const TvgRect& rect) {
  if (scene_ != scene) return false;
  // The scene drops empty rects itself; in the union they would only widen it.
  if (rect.Right <= rect.Left || rect.Bottom <= rect.Top) return true;
  union_ = gathered_ ? vgUnionRect(union_, rect) : rect;
  gathered_ = true;
  return true;
}

void TvgVisualObject::UpdateEffects() {
  if (hasEffects_) effectsDirty_ = true;
  for (TvgObject* p = GetParent(); p != nullptr; p = p->GetParent()) {
    if (p->IsVisual() && p->Visual()->hasEffects_) p->Visual()->effectsDirty_ = true;
  }
}

void TvgVisualObject::RecalcHasEffects() {
  hasEffects_ = std::any_of(Children().begin(), Children().end(), [](TvgObject* c) {
    auto* e = dynamic_cast<TvgEffect*>(c);
    return e != nullptr && e->GetEnabled();
  });
}

// --- Layout

void TvgVisualObject::Realign() {
  if (HasState(csDestroying) || PutOffRealign()) return;
  deferredRealign_ = false;
  if ((width_ > -2 && width_ < 2) || (height_ > -2 && height_ < 2)) return;
  if (inRealign_ || disableLayout_) return;
  if (IsLoading()) {
    lastWidth_ = width_;
    lastHeight_ = height_;
    return;
  }
  if ((width_ != lastWidth_ || height_ != lastHeight_) && hasEffects_) UpdateEffects();
  if (!needRealign_ || GetChildrenCount() == 0) return;
  inRealign_ = true;
  // Also when a child's layout raises: the object would never lay out again.
  const TvgRestoreOnExit realigned([this] { inRealign_ = false; });
  TvgRect r = margins_->MarginRect(vgRect(0, 0, width_, height_));
  static constexpr TvgAlign kOrder[] = {vaMostTop,   vaMostBottom, vaMostLeft,    vaMostRight,  vaTop,     vaBottom,
                                        vaLeft,      vaRight,      vaClient,      vaHorizontal, vaVertical, vaContents,
                                        vaCenter,    vaHorzCenter, vaVertCenter,  vaScale,      vaFit,     vaFitLeft,
                                        vaFitRight,  vaTopRight,   vaBottomLeft,  vaBottomRight};
  const bool designing = IsDesigning();
  for (TvgAlign a : kOrder) {
    std::vector<TvgVisualObject*> list;
    for (TvgObject* child : Children()) {
      if (!child->IsVisual()) continue;
      TvgVisualObject* v = child->Visual();
      if (v->align_ != a || (!v->visible_ && !designing)) continue;
      auto precedes = [a, v](TvgVisualObject* other) {
        switch (a) {
          case vaTop:
          case vaMostTop:
            return v->position_->GetY() < other->position_->GetY();
          case vaLeft:
          case vaMostLeft:
            return v->position_->GetX() < other->position_->GetX();
          case vaRight:
          case vaMostRight:
            return v->position_->GetX() + v->width_ >= other->position_->GetX() + other->width_;
          case vaBottom:
          case vaMostBottom:
            return v->position_->GetY() + v->height_ >= other->position_->GetY() + other->height_;
          default:
            return false;
        }
      };
      auto at = std::find_if(list.begin(), list.end(), precedes);
      list.insert(at, v);
    }
    for (TvgVisualObject* v : list) RealignChild(v, a, r);
  }
  lastWidth_ = width_;
  lastHeight_ = height_;
  Repaint();
}

void TvgVisualObject::RealignChild(TvgVisualObject* c, TvgAlign a, TvgRect& r) {
  const TvgRect pad = c->padding_->GetRect();
  float w = r.Right - r.Left;
  float h = r.Bottom - r.Top;
  const bool corner = a == vaTopLeft || a == vaTopRight || a == vaBottomLeft || a == vaBottomRight;
  if (corner || a == vaLeft || a == vaRight || a == vaMostLeft || a == vaMostRight || a == vaVertical || w < 0) {
    w = c->width_ + pad.Left + pad.Right;
  }
  if (corner || a == vaTop || a == vaBottom || a == vaMostTop || a == vaMostBottom || a == vaHorizontal || h < 0) {
    h = c->height_ + pad.Top + pad.Bottom;
  }
  float x = r.Left;
  float y = r.Top;
  auto finishFitted = [c, &pad](const TvgRect& outer) {
    c->position_->SetPoint(vgPoint(outer.Left + pad.Left, outer.Top + pad.Top));
    c->SetWidth(vgRectWidth(outer) - pad.Left - pad.Right);
    c->SetHeight(vgRectHeight(outer) - pad.Top - pad.Bottom);
    c->MatrixChanged();
    c->Realign();
  };
  switch (a) {
    case vaTopRight:
      c->position_->SetX(c->position_->GetX() + (width_ - lastWidth_));
      return;
    case vaBottomLeft:
      c->position_->SetY(c->position_->GetY() + (height_ - lastHeight_));
      return;
    case vaBottomRight:
      c->position_->SetPoint(
          vgPoint(c->position_->GetX() + (width_ - lastWidth_), c->position_->GetY() + (height_ - lastHeight_)));
      return;
    case vaTop:
    case vaMostTop:
      r.Top += h;
      break;
    case vaLeft:
    case vaMostLeft:
      r.Left += w;
      break;
    case vaRight:
    case vaMostRight:
      r.Right -= w;
      x = r.Right;
      break;
    case vaBottom:
    case vaMostBottom:
      r.Bottom -= h;
      y = r.Bottom;
      break;
    case vaClient:
      break;
    case vaContents:
      finishFitted(vgRect(0, 0, width_, height_));
      return;
    case vaCenter:
    case vaHorzCenter:
    case vaVertCenter:
      if (a != vaVertCenter) {
        const float outerW = c->width_ + pad.Left + pad.Right;
        x = r.Left + static_cast<float>(Trunc((w - outerW) / 2));
        w = outerW;
      } else {
        x = c->position_->GetX() - pad.Left;
        w = c->width_ + pad.Left + pad.Right;
      }
      if (a != vaHorzCenter) {
        const float outerH = c->height_ + pad.Top + pad.Bottom;
        y = r.Top + static_cast<float>(Trunc((h - outerH) / 2));
        h = outerH;
      } else {
        y = c->position_->GetY() - pad.Top;
        h = c->height_ + pad.Top + pad.Bottom;
      }
      break;
    case vaHorizontal:
      y = c->position_->GetY() - pad.Top;
      break;
    case vaVertical:
      x = c->position_->GetX() - pad.Left;
      break;
    case vaFit:
    case vaFitLeft:
    case vaFitRight: {
      TvgRect outer = vgRect(c->position_->GetX() - pad.Left, c->position_->GetY() - pad.Top,
                             c->position_->GetX() + c->width_ + pad.Right,
                             c->position_->GetY() + c->height_ + pad.Bottom);
      const TvgRect bounds = margins_->MarginRect(vgRect(0, 0, width_, height_));
      const float ratio = vgFitRect(outer, bounds);
      if (ratio < 1 && ratio > 0) {
        outer = vgRect(outer.Left / ratio, outer.Top / ratio, outer.Right / ratio, outer.Bottom / ratio);
        vgRectCenter(outer, bounds);
      }
      if (a == vaFitLeft) vgOffsetRect(outer, bounds.Left - outer.Left, 0);
      if (a == vaFitRight) vgOffsetRect(outer, bounds.Right - outer.Right, 0);
      finishFitted(outer);
      return;
    }
    case vaScale:
      if (lastWidth_ > 0 && lastHeight_ > 0 && width_ > 0 && height_ > 0) {
        const float sx = width_ / lastWidth_;
        const float sy = height_ / lastHeight_;
        c->position_->SetPoint(vgPoint(c->position_->GetX() * sx, c->position_->GetY() * sy));
        c->SetWidth(c->width_ * sx);
        c->SetHeight(c->height_ * sy);
        c->MatrixChanged();
        c->Realign();
      }
      return;
    default:
      return;
  }
  c->position_->SetPoint(vgPoint(x + pad.Left, y + pad.Top));
  const float newW = w - pad.Left - pad.Right;
  const float newH = h - pad.Top - pad.Bottom;
  if (newW != c->width_ || newH != c->height_) {
    c->SetWidth(newW);
    c->SetHeight(newH);
    c->Realign();
  }
  c->MatrixChanged();
  // A child whose setters kept another size: place the next ones against the size it took.
  const float outerW = c->width_ + pad.Left + pad.Right;
  const float outerH = c->height_ + pad.Top + pad.Bottom;
  if (outerW == w && outerH == h) return;
  switch (a) {
    case vaTop:
      r.Top -= h - outerH;
      break;
    case vaBottom:
      r.Bottom += h - outerH;
      break;
    case vaLeft:
      r.Left -= w - outerW;
      break;
    case vaRight:
      r.Right += w - outerW;
      break;
    case vaClient:
      r.Right += w - outerW;
      r.Bottom += h - outerH;
      break;
    default:
      break;
  }
}

// --- Painting

TvgCanvas* TvgVisualObject::GetCanvas() {
  if (tempCanvas_ != nullptr) return tempCanvas_;
  return GetScene() != nullptr ? GetScene()->GetCanvas() : nullptr;
}

void TvgVisualObject::SetTempCanvas(TvgCanvas* canvas) { SetTempCanvasTree(canvas); }

void TvgVisualObject::SetTempCanvasTree(TvgCanvas* canvas) {
  tempCanvas_ = canvas;
  for (TvgObject* child : Children()) {
    if (child->IsVisual()) child->Visual()->SetTempCanvasTree(canvas);
  }
}

void TvgVisualObject::SetInPaintToTree(bool value) {
  inPaintTo_ = value;
  for (TvgObject* child : Children()) {
    if (child->IsVisual()) child->Visual()->SetInPaintToTree(value);
  }
}

void TvgVisualObject::PaintEffects() {
  TvgCanvas* canvas = GetCanvas();
  if (!hasEffects_ || canvas == nullptr || GetScene() == nullptr || disableEffects_) return;
  const int32_t state = canvas->SaveCanvas();
  const TvgRect local = GetLocalRect();
  const float opacity = GetAbsoluteOpacity();
  const bool fast = rotateAngle_ == 0;
  std::vector<TvgEffect*> effects;
  for (TvgObject* child : Children()) {
    auto* e = dynamic_cast<TvgEffect*>(child);
    if (e != nullptr && e->GetEnabled()) effects.push_back(e);
  }
  auto drawCached = [&](TvgEffect* e) {
    canvas->SetMatrix(GetAbsoluteMatrix());
    canvas->DrawBitmap(*effectBitmap_,
                       vgRect(0, 0, static_cast<float>(effectBitmap_->GetWidth()),
                              static_cast<float>(effectBitmap_->GetHeight())),
                       e->GetRect(local), opacity, fast);
  };
  if (!effectsDirty_ && effectBitmap_ != nullptr) {
    for (TvgEffect* e : effects) drawCached(e);
  } else {
    const TvgPoint scale = GetAbsoluteScale();
    for (TvgEffect* e : effects) {
      TvgRect target = e->GetRect(local);
      vgMultiplyRect(target, std::fabs(scale.X), std::fabs(scale.Y));
      const auto bw = static_cast<int32_t>(Trunc(vgRectWidth(target)));
      const auto bh = static_cast<int32_t>(Trunc(vgRectHeight(target)));
      if (bw <= 0 || bh <= 0) continue;
      if (effectBitmap_ == nullptr) effectBitmap_ = new TvgBitmap(bw, bh);
      effectBitmap_->SetSize(bw, bh);
      effectBitmap_->Clear(0);
      std::unique_ptr<TvgCanvas> bitmapCanvas = vgCreateBitmapCanvas(*effectBitmap_);
      if (bitmapCanvas) {
        const TvgPoint offset = e->GetOffset();
        const bool savedDisable = disableEffects_;
        disableEffects_ = true;  // the object's own image, without its effects
        const TvgRestoreOnExit effectsBack([this, savedDisable] { disableEffects_ = savedDisable; });
        PaintTo(bitmapCanvas.get(),
                vgRect(offset.X, offset.Y, offset.X + width_ * std::fabs(scale.X),
                       offset.Y + height_ * std::fabs(scale.Y)));
      }
      e->ProcessEffect(canvas, effectBitmap_, std::fabs(scale.X));
      drawCached(e);
    }
    effectsDirty_ = false;
  }
  canvas->RestoreCanvas(state);
}

struct TvgVisualObject::TPaintPass {
  TvgCanvas* canvas = nullptr;
  IvgScene* scene = nullptr;
  bool designing = false;
  TvgRect ownRect;  // this object's update rect, read when it clips its children
  // The scene's update rects (the scene window merges more than 20 into one); more than fit
  // here are asked of the scene child by child.
  std::array<TvgRect, 20> sceneRects;
  int32_t sceneRectCount = 0;
  bool askScene = false;

  bool MeetsScene(const TvgRect& r) const {
    if (askScene) {
      const int32_t count = scene->GetUpdateRectsCount();
      for (int32_t i = 0; i < count; ++i)
        if (vgIntersectsRect(r, scene->GetUpdateRect(i))) return true;
      return false;
    }
    for (int32_t i = 0; i < sceneRectCount; ++i)
      if (vgIntersectsRect(r, sceneRects[static_cast<size_t>(i)])) return true;
    return false;
  }
};

void TvgVisualObject::PaintChild(TvgVisualObject* c, const TPaintPass& pass) {
  TvgCanvas* canvas = pass.canvas;
  IvgScene* scene = pass.scene;
  const bool designing = pass.designing;
  if (!(c->visible_ || (designing && !c->locked_))) return;
  if (designing && c->designHide_) return;
  const TvgRect cr = c->GetUpdateRect();
  if (vgRectWidth(cr) <= 0 || vgRectHeight(cr) <= 0) return;
  if (clipChildren_) {
    TvgRect dummy;
    if (!vgIntersectRect(dummy, cr, pass.ownRect)) return;
  }
  if (!designing && !c->inPaintTo_ && (scene == nullptr || !pass.MeetsScene(cr))) return;
  int32_t clipState = -1;
  if (clipChildren_ && c->canClipped_) {
    clipState = canvas->SaveCanvas();
    canvas->SetMatrix(GetAbsoluteMatrix());
    canvas->IntersectClipRect(GetClipRect());
  }
  canvas->SetMatrix(c->GetAbsoluteMatrix());
  c->BeforePaint();
  bool replaces = false;
  bool after = false;
  // Only an object with an enabled effect has any to look for (a list holds thousands of items).
  if (c->hasEffects_) {
    for (TvgObject* child : c->Children()) {
      auto* e = dynamic_cast<TvgEffect*>(child);
      if (e == nullptr || !e->GetEnabled()) continue;
      replaces = replaces || e->ReplacesPainting();
      after = after || e->PaintsAfter();
    }
  }
  if (c->hasEffects_ && !after) c->PaintEffects();
  if (!replaces) {
    int32_t parentClipState = -1;
    // Of the children that can show: one outside them lies outside what shows of the object.
    const auto& children = c->Children();
    size_t first = 0, end = children.size();
    c->ShownChildren(first, end);
    for (size_t i = first; i < std::min(end, children.size()); ++i) {
      TvgObject* child = children[i];
      if (child->IsVisual() && child->Visual()->clipParent_) {
        TvgVisualObject* cp = child->Visual();
        parentClipState = canvas->SaveCanvas();
        canvas->SetMatrix(cp->GetAbsoluteMatrix());
        canvas->ExcludeClipRect(cp->GetLocalRect());
        break;
      }
    }
    int32_t ownClipState = -1;
    canvas->SetMatrix(c->GetAbsoluteMatrix());
    if (c->clipChildren_) {
      ownClipState = canvas->SaveCanvas();
      canvas->IntersectClipRect(c->GetClipRect());
    }
    if (c->OnBeforePaint) {
      c->RunHandler(c->OnBeforePaint, c, canvas, c->GetLocalRect());
      canvas->SetMatrix(c->GetAbsoluteMatrix());
    }
    c->Paint();
    if (ownClipState >= 0) canvas->RestoreCanvas(ownClipState);
    if (parentClipState >= 0) canvas->RestoreCanvas(parentClipState);
    c->PaintChildren();
    if (c->OnPaint) {
      canvas->SetMatrix(c->GetAbsoluteMatrix());
      c->RunHandler(c->OnPaint, c, canvas, c->GetLocalRect());
    }
  }
  c->AfterPaint();
  auto outline = [&](TvgColor color, float thickness, TvgStrokeDash dash) {
    canvas->SetMatrix(c->GetAbsoluteMatrix());
    TvgRect r = vgRect(0, 0, c->width_, c->height_);
    vgInflateRect(r, -1, -1);
    canvas->GetStroke()->SetStyle(vgBrushSolid);
    canvas->GetStroke()->SetSolidColor(color);
    canvas->SetStrokeThickness(thickness);
    canvas->SetStrokeCap(vgCapFlat);
    canvas->SetStrokeJoin(vgJoinMiter);
    canvas->SetStrokeDash(dash);
    canvas->DrawRect(r, 1, 1, vgAllCorners, 1);
    canvas->SetStrokeDash(vgDashSolid);
  };
  if (designOutlineHook != nullptr && scene != nullptr && scene->GetSelected() != c &&
      designOutlineHook(scene->GetOwner(), c)) {
    outline(kDesignOutlineColor, 1, vgDashDash);
  }
  if (c->isDragOver_ && !c->dragDisableHighlight_) outline(kDragOverColor, 3, vgDashSolid);
  if (clipState >= 0) canvas->RestoreCanvas(clipState);
  if (c->hasEffects_ && after) {
    canvas->SetMatrix(c->GetAbsoluteMatrix());
    c->PaintEffects();
  }
}

void TvgVisualObject::PaintChildren() {
  TPaintPass pass;
  pass.canvas = GetCanvas();
  if (pass.canvas == nullptr) return;
  // Looked up once for all children: a list of thousands of items pays for its walk only.
  pass.scene = GetScene();
  pass.designing = IsDesigning();
  if (clipChildren_) pass.ownRect = GetUpdateRect();
  if (pass.scene != nullptr) {
    const int32_t count = pass.scene->GetUpdateRectsCount();
    if (count > static_cast<int32_t>(pass.sceneRects.size())) {
      pass.askScene = true;
    } else {
      for (int32_t i = 0; i < count; ++i) pass.sceneRects[static_cast<size_t>(i)] = pass.scene->GetUpdateRect(i);
      pass.sceneRectCount = count;
    }
  }
  // Only some children can show: the others are not walked at all.
  size_t first = 0, end = Children().size();
  ShownChildren(first, end);
  if (first > 0 || end < Children().size()) {
    for (size_t i = first; i < std::min(end, Children().size()); ++i) {
      TvgObject* child = Children()[i];
      if (child->IsVisual()) PaintChild(child->Visual(), pass);
    }
    return;
  }
  // Many children outside the design and outside painting into a bitmap: the ones whose update
  // rects meet none of the scene's are passed over in the copy of their rects.
  if (Children().size() >= kChildRectsFrom && !pass.designing && !inPaintTo_ && pass.scene != nullptr &&
      !pass.askScene)
    first = PaintChildrenByRects(pass);
  // Painting may not change the tree, but a handler might: walk by index.
  for (size_t i = first; i < Children().size(); ++i) {
    TvgObject* child = Children()[i];
    if (child->IsVisual()) PaintChild(child->Visual(), pass);
  }
}

size_t TvgVisualObject::PaintChildrenByRects(const TPaintPass& pass) {
  if (!childRects_) childRects_ = std::make_unique<TChildRects>();
  TChildRects& copy = *childRects_;
  const std::vector<TvgObject*>& children = Children();
  const auto marksNow = [] { return g_updateRectMarks.load(std::memory_order_relaxed); };
  if (copy.marks != marksNow() || copy.children != children) {
    // The count before the rects are worked out: working one out may mark others stale (a
    // child's layout), and the copy is then taken once more.
    copy.marks = marksNow();
    copy.children = children;
    copy.rects.assign(children.size(), TvgRect());
    copy.visual.assign(children.size(), 0);
    copy.sure.assign(children.size(), 0);
    for (size_t i = 0; i < children.size(); ++i) {
      if (!children[i]->IsVisual()) continue;
      TvgVisualObject* c = children[i]->Visual();
      copy.visual[i] = 1;
      copy.rects[i] = c->GetUpdateRect();
      copy.sure[i] = !c->updateRectStale_;
    }
  }
  const uint64_t marks = copy.marks;
  for (size_t i = 0; i < copy.children.size(); ++i) {
    // The tree or a rect changed while painting (a handler, a style applied): the rest are
    // walked one by one.
    if (marksNow() != marks || i >= Children().size() || Children()[i] != copy.children[i]) return i;
    if (!copy.visual[i] || (copy.sure[i] && !pass.MeetsScene(copy.rects[i]))) continue;
    PaintChild(copy.children[i]->Visual(), pass);
  }
  return copy.children.size();
}

void TvgVisualObject::PaintTo(TvgCanvas* canvas, const TvgRect& rect, TvgObject* parent) {
  IvgScene* scene = GetScene();
  if (scene == nullptr || canvas == nullptr || vgRectWidth(rect) == 0 || vgRectHeight(rect) == 0) return;
  if (width_ == 0 || height_ == 0) return;
  const bool savedDisable = scene->GetDisableUpdate();
  const bool savedRealign = inRealign_;
  TvgCanvas* savedCanvas = tempCanvas_;
  TvgObject* savedParent = parent_;
  const TvgPoint savedPosition = position_->GetPoint();
  const TvgPoint savedScale = scale_->GetPoint();
  const float savedAngle = rotateAngle_;
  scene->SetDisableUpdate(true);
  inRealign_ = true;
  SetInPaintToTree(true);
  SetTempCanvasTree(canvas);
  const int32_t state = canvas->SaveCanvas();
  // Everything comes back whether the paint ends or raises, the caches worked out under the
  // borrowed parent (opacity, enabled, update rect) included.
  const TvgRestoreOnExit restore([&] {
    parent_ = savedParent;
    position_->SetPoint(savedPosition);
    scale_->SetPoint(savedScale);
    rotateAngle_ = savedAngle;
    MatrixChanged();
    RecalcUpdateRect();
    RecalcEnabled();
    RecalcOpacity();
    SetInPaintToTree(false);
    inRealign_ = savedRealign;
    canvas->RestoreCanvas(state);
    SetTempCanvasTree(savedCanvas);
    scene->SetDisableUpdate(savedDisable);
  });
  parent_ = parent;
  position_->SetPoint(vgPoint(rect.Left, rect.Top));
  scale_->SetPoint(vgPoint(vgRectWidth(rect) / width_, vgRectHeight(rect) / height_));
  rotateAngle_ = 0;
  MatrixChanged();
  canvas->SetMatrix(GetAbsoluteMatrix());
  BeforePaint();
  Paint();
  AfterPaint();
  PaintChildren();
}

TvgBitmap* TvgVisualObject::MakeScreenshot() {
  const auto w = static_cast<int32_t>(Round(width_));
  const auto h = static_cast<int32_t>(Round(height_));
  auto bitmap = std::make_unique<TvgBitmap>(w, h);
  bitmap->Clear(0);
  std::unique_ptr<TvgCanvas> canvas = vgCreateBitmapCanvas(*bitmap);
  if (!canvas || GetScene() == nullptr) return nullptr;
  PaintTo(canvas.get(), vgRect(0, 0, static_cast<float>(w), static_cast<float>(h)));
  canvas.reset();
  return bitmap.release();
}

// --- Caret

void TvgVisualObject::ShowCaret() {
  if (caret_ == nullptr) {
    const TClassInfo* cls = GetClass("TvgRectangle");
    auto* caret = cls != nullptr ? dynamic_cast<TvgVisualObject*>(cls->Create(this)) : nullptr;
    if (caret == nullptr) return;
    caret->SetStored(false);
    caret->SetHitTest(false);
    caret->SetLocked(true);
    caret->SetWidth(3);
    caret->SetHeight(20);
    caret->SetVisible(false);
    try {
      SetPropValue(caret, "Fill.Color", Variant("#FF0000FF"));
      SetPropValue(caret, "Stroke.Style", Variant("vgBrushNone"));
    } catch (const Exception&) {
    }
    caret->SetParent(this);
    caret_ = caret;
    if (GetScene() != nullptr && GetScene()->GetAnimatedCaret()) {
      const TClassInfo* aniClass = GetClass("TvgFloatAnimation");
      auto* blink = aniClass != nullptr ? dynamic_cast<TvgAnimation*>(aniClass->Create(caret)) : nullptr;
      if (blink != nullptr) {
        blink->SetBindingName("caret");
        blink->SetDuration(0.1f);
        blink->SetAutoReverse(true);
        blink->SetLoop(true);
        try {
          SetPropValue(blink, "PropertyName", Variant("Opacity"));
          SetPropValue(blink, "StartValue", Variant(1.0));
          SetPropValue(blink, "StopValue", Variant(0.0));
        } catch (const Exception&) {
        }
        blink->SetParent(caret);
      }
    }
  }
  caret_->SetVisible(true);
  for (TvgObject* child : caret_->Children()) {
    auto* a = dynamic_cast<TvgAnimation*>(child);
    if (a != nullptr && SameText(a->GetBindingName(), "caret") && !a->GetRunning()) a->Start();
  }
}

void TvgVisualObject::HideCaret() {
  if (caret_ != nullptr) caret_->SetVisible(false);
}

void TvgVisualObject::SetCaretPos(const TvgPoint& p) {
  if (caret_ != nullptr) {
    caret_->position_->SetPoint(vgPoint(static_cast<float>(Round(p.X)), static_cast<float>(Round(p.Y))));
  }
}

void TvgVisualObject::SetCaretSize(const TvgPoint& size) {
  if (caret_ == nullptr) return;
  caret_->SetWidth(size.X);
  caret_->SetHeight(size.Y);
}

void TvgVisualObject::SetCaretColor(TvgColor color) {
  if (caret_ == nullptr) return;
  try {
    SetPropValue(caret_, "Fill.Color", Variant(vgColorToStr(color)));
  } catch (const Exception&) {
  }
}

// --- Input

void TvgVisualObject::FireTrigger(const std::string& trigger) {
  // The animations' handlers may free this object (see StartTriggerAnimation).
  const TvgSceneObjectRef<TvgVisualObject> self(this);
  StartTriggerAnimation(this, trigger);
  if (self.Get() != nullptr) ApplyTriggerEffect(this, trigger);
}

void TvgVisualObject::Click() { RunHandler(OnClick, this); }

void TvgVisualObject::DblClick() { RunHandler(OnDblClick, this); }

void TvgVisualObject::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  IvgScene* scene = GetScene();
  if (IsDesigning()) {
    if (shift.Contains(ssDouble)) scene->SetDesignDoubleClicked(this);
  } else if (canFocused_ && !isFocused_ && (scene == nullptr || scene->GetFocused() != this)) {
    // The focus may select the row this object stands in, whose change handler may free it.
    const TvgSceneObjectRef<TvgVisualObject> self(this);
    SetFocus();
    if (self.Get() == nullptr) return;
  }
  RunHandler(OnMouseDown, this, button, shift, x, y);
  if (button == mbRight) {
    const TvgPoint abs = LocalToAbsolute(vgPoint(x, y));
    ContextMenu(scene != nullptr ? scene->LocalToScreen(abs) : abs);
    return;
  }
  if (autoCapture_) Capture();
  if (shift.Contains(ssDouble)) {
    DblClick();
    doubleClick_ = true;
  } else if (button == mbLeft) {
    pressed_ = true;
  }
}

void TvgVisualObject::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  RunHandler(OnMouseMove, this, shift, x, y, dx, dy);
}

void TvgVisualObject::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  ReleaseCapture();
  RunHandler(OnMouseUp, this, button, shift, x, y);
  if (pressed_ && !doubleClick_ && vgPtInRect(vgPoint(x, y), GetLocalRect())) {
    pressed_ = false;
    Click();
  }
  pressed_ = false;
  doubleClick_ = false;
}

void TvgVisualObject::MouseWheel(TShiftState shift, int32_t wheelDelta, bool& handled) {
  const TvgPoint pos = GetScene() != nullptr ? GetScene()->GetMousePos() : TvgPoint();
  RunHandler(OnMouseWheel, this, shift, wheelDelta, handled, pos);
}

void TvgVisualObject::KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) {
  if (key == kContextMenuKey) {
    const TvgPoint abs = LocalToAbsolute(vgPoint(width_ / 2, height_ / 2));
    ContextMenu(GetScene() != nullptr ? GetScene()->LocalToScreen(abs) : abs);
    return;
  }
  RunHandler(OnKeyDown, this, key, keyChar, shift);
}

void TvgVisualObject::KeyUp(uint16_t& key, WideChar& keyChar, TShiftState shift) { RunHandler(OnKeyUp, this, key, keyChar, shift); }

void TvgVisualObject::DialogKey(uint16_t& key, TShiftState shift) {
  for (size_t i = 0; i < Children().size() && key != 0; ++i) {
    TvgObject* child = Children()[i];
    if (!child->IsVisual()) continue;
    TvgVisualObject* v = child->Visual();
    if (v->visible_ && v->GetAbsoluteEnabled()) v->DialogKey(key, shift);
  }
}

void TvgVisualObject::MouseEnter() {
  isMouseOver_ = true;
  FireTrigger("IsMouseOver");
  RunHandler(OnMouseEnter, this);
}

void TvgVisualObject::MouseLeave() {
  isMouseOver_ = false;
  FireTrigger("IsMouseOver");
  RunHandler(OnMouseLeave, this);
}

void TvgVisualObject::ContextMenu(const TvgPoint& screenPoint) {
  if (popupMenu_ == nullptr || popupMenuHook == nullptr) return;
  popupMenuHook(popupMenu_, this, static_cast<int32_t>(Round(screenPoint.X)), static_cast<int32_t>(Round(screenPoint.Y)));
}

void TvgVisualObject::SetPopupMenu(TComponent* value) {
  if (value == popupMenu_) return;
  if (popupMenu_ != nullptr) popupMenu_->RemoveFreeNotification(this);
  popupMenu_ = value;
  PropertyChanged();
  if (value != nullptr) value->FreeNotification(this);
}

void TvgVisualObject::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == opRemove && component == popupMenu_) popupMenu_ = nullptr;
}

void TvgVisualObject::DragEnter(const TvgDragObject& data, const TvgPoint& point) {
  isDragOver_ = true;
  Repaint();
  FireTrigger("IsDragOver");
  RunHandler(OnDragEnter, this, data, point);
}

void TvgVisualObject::DragOver(const TvgDragObject& data, const TvgPoint& point, bool& accept) {
  RunHandler(OnDragOver, this, data, point, accept);
}

void TvgVisualObject::DragDrop(const TvgDragObject& data, const TvgPoint& point) {
  isDragOver_ = false;
  Repaint();
  FireTrigger("IsDragOver");
  RunHandler(OnDragDrop, this, data, point);
}

void TvgVisualObject::DragLeave() {
  isDragOver_ = false;
  Repaint();
  FireTrigger("IsDragOver");
  RunHandler(OnDragLeave, this);
}

void TvgVisualObject::DragEnd() {
  if (dragMode_ == vgDragAutomatic) MouseUp(mbLeft, TShiftState(), 65535, 65535);
  RunHandler(OnDragEnd, this);
}

TvgVisualObject* TvgVisualObject::FindTarget(const TvgPoint& p, const TvgDragObject& data) {
  const bool designing = IsDesigning();
  if (!visible_ && !designing) return nullptr;
  if (Is<TvgControl>() && !GetAbsoluteEnabled()) return nullptr;
  if (clipChildren_ && !PointInObject(p.X, p.Y)) return nullptr;
  const auto& children = Children();
  for (size_t i = children.size(); i > 0; --i) {
    TvgObject* child = children[i - 1];
    if (!child->IsVisual()) continue;
    if (TvgVisualObject* hit = child->Visual()->FindTarget(p, data)) return hit;
  }
  if (!PointInObject(p.X, p.Y) || !AcceptsHits()) return nullptr;
  bool accept = false;
  DragOver(data, p, accept);
  return accept ? this : nullptr;
}

void TvgVisualObject::BeginAutoDrag() {
  IvgScene* scene = GetScene();
  if (scene == nullptr) return;
  std::unique_ptr<TvgBitmap> shot(MakeScreenshot());
  if (!shot) return;
  int32_t w = shot->GetWidth();
  int32_t h = shot->GetHeight();
  if (w > 512 || h > 512) {
    TvgRect r = vgRect(0, 0, static_cast<float>(w), static_cast<float>(h));
    vgFitRect(r, vgRect(0, 0, 512, 512));
    w = static_cast<int32_t>(Round(vgRectWidth(r)));
    h = static_cast<int32_t>(Round(vgRectHeight(r)));
  }
  TvgBitmap image(w, h);
  image.Clear(0);
  if (std::unique_ptr<TvgCanvas> canvas = vgCreateBitmapCanvas(image)) {
    canvas->DrawBitmap(*shot, vgRect(0, 0, static_cast<float>(shot->GetWidth()), static_cast<float>(shot->GetHeight())),
                       vgRect(0, 0, static_cast<float>(w), static_cast<float>(h)), 0.7f);
  }
  scene->BeginNativeDrag(this, &image);
}

void TvgVisualObject::SetFocus() {
  if (!canFocused_) return;
  bool allow = true;
  RunHandler(OnCanFocused, this, allow);
  if (!allow) return;
  if (GetScene() != nullptr) GetScene()->SetFocused(this);
}

void TvgVisualObject::EnterFocus() {
  if (!canFocused_) return;
  // A parent's Select runs the program's handlers (a list's change handler), which may free this
  // object with the row it stands in: nothing more is done with it then, nor with a parent freed.
  const TvgSceneObjectRef<TvgVisualObject> self(this);
  for (TvgObject* p = GetParent(); p != nullptr; p = p->GetParent()) {
    if (!p->IsVisual()) continue;
    const TvgSceneObjectRef<TvgObject> parent(p);
    p->Visual()->Select(this);
    if (self.Get() == nullptr) return;
    if (parent.Get() == nullptr) break;
  }
  isFocused_ = true;
  FocusRectChanged();
  Repaint();
  RunHandler(OnEnterFocus, this);
  if (!disableFocusEffect_ && !vgDisableFocusEffects()) FireTrigger("IsFocused");
}

void TvgVisualObject::KillFocus() {
  FocusRectChanged();
  Repaint();
  isFocused_ = false;
  FocusRectChanged();
  RunHandler(OnKillFocus, this);
  if (!disableFocusEffect_ && !vgDisableFocusEffects()) FireTrigger("IsFocused");
}

void TvgVisualObject::Capture() {
  if (GetScene() != nullptr) GetScene()->SetCaptured(this);
}

void TvgVisualObject::ReleaseCapture() {
  if (GetScene() != nullptr && GetScene()->GetCaptured() == this) GetScene()->SetCaptured(nullptr);
}

// --- Tab order

size_t TvgVisualObject::TabIndexOf(const std::vector<TvgVisualObject*>& tabs, const TvgVisualObject* v) {
  size_t front = 0, back = tabs.size();
  while (front < back) {
    if (tabs[front] == v) return front;
    if (tabs[--back] == v) return back;
    ++front;
  }
  return tabs.size();
}

int32_t TvgVisualObject::GetTabOrder() {
  TvgObject* parent = GetParent();
  if (parent == nullptr || !parent->IsVisual()) return tabOrderStored_ >= 0 && IsLoading() ? tabOrderStored_ : -1;
  const auto& tabs = parent->Visual()->tabList_;
  const size_t at = TabIndexOf(tabs, this);
  return at == tabs.size() ? -1 : static_cast<int32_t>(at);
}

void TvgVisualObject::SetTabOrder(int32_t value) {
  if (IsLoading()) {
    tabOrderStored_ = value;
    return;
  }
  TvgObject* parent = GetParent();
  if (parent == nullptr || !parent->IsVisual()) return;
  auto& tabs = parent->Visual()->tabList_;
  const size_t at = TabIndexOf(tabs, this);
  if (at == tabs.size()) return;
  tabs.erase(tabs.begin() + static_cast<std::ptrdiff_t>(at));
  const auto pos = std::clamp<int32_t>(value, 0, static_cast<int32_t>(tabs.size()));
  tabs.insert(tabs.begin() + pos, this);
  PropertyChanged();
}

void TvgVisualObject::SortTabList() {
  // Entries with a stored position in range take it; the others keep their order after them
  // rather than dropping out of keyboard navigation.
  std::vector<TvgVisualObject*> placed(tabList_.size(), nullptr);
  std::vector<TvgVisualObject*> rest;
  for (TvgVisualObject* v : tabList_) {
    const int32_t pos = v->tabOrderStored_;
    if (pos >= 0 && pos < static_cast<int32_t>(placed.size()) && placed[static_cast<size_t>(pos)] == nullptr) {
      placed[static_cast<size_t>(pos)] = v;
    } else {
      rest.push_back(v);
    }
    v->tabOrderStored_ = -1;
  }
  tabList_.clear();
  size_t next = 0;
  for (TvgVisualObject* v : placed) {
    if (v != nullptr) {
      tabList_.push_back(v);
    } else if (next < rest.size()) {
      tabList_.push_back(rest[next++]);
    }
  }
  while (next < rest.size()) tabList_.push_back(rest[next++]);
}
