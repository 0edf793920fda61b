// Layouts: plain, grid, scaled, split and the hosted window control; the unit registers them and
// the scroll boxes.
#include "vg_layouts.h"

#include <cmath>

#include "scene/core/vg_canvas.h"
#include "scene/core/vg_registry.h"
#include "scene/core/vg_sceneintf.h"
#include "vg_scrollbox.h"

KBL_PUBLISHED(TvgLayout) { KBL_PROP(HitTest).Default(false); }
KBL_PUBLISHED(TvgGridLayout) {
  KBL_PROP(ItemWidth).Default(64.0f);
  KBL_PROP(ItemHeight).Default(64.0f);
  KBL_PROP(Orientation).Default(vgHorizontal);
}
KBL_PUBLISHED(TvgScaledLayout) {
  KBL_PROP(OriginalWidth).Stored(true);
  KBL_PROP(OriginalHeight).Stored(true);
}
KBL_PUBLISHED(TvgSplitLayout) { KBL_PROP(HitTest).Default(false); }
KBL_PUBLISHED(TvgNonVGLayout) { KBL_PROP(NonVGControl); }

void vgInitLayoutsUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  vgInitControlsUnit();
  vgRegisterObjects("Layout", {TvgLayout::StaticClassInfo(), TvgScaledLayout::StaticClassInfo(),
                               TvgGridLayout::StaticClassInfo(), TvgSplitLayout::StaticClassInfo(),
                               TvgNonVGLayout::StaticClassInfo()});
  vgRegisterObjects("Controls", {TvgScrollBox::StaticClassInfo(), TvgVertScrollBox::StaticClassInfo(),
                                 TvgFramedScrollBox::StaticClassInfo(), TvgFramedVertScrollBox::StaticClassInfo()});
}

namespace {
const bool g_layoutsRegistered = (AddClassRegistration(&vgInitLayoutsUnit), true);
}  // namespace

// --- Layout

TvgLayout::TvgLayout(TComponent* owner) : TvgVisualObject(owner) { SetHitTest(false); }

void TvgLayout::Paint() {
  if (IsDesigning() && !GetLocked()) vgPaintDesignFrame(*this);
}

// --- Grid layout

TvgGridLayout::TvgGridLayout(TComponent* owner) : TvgVisualObject(owner) {}

void TvgGridLayout::Realign() {
  if (inGridRealign_) return;
  inGridRealign_ = true;
  const TvgRect m = GetMargins()->GetRect();
  TvgPoint p = vgPoint(m.Left, m.Top);
  for (TvgObject* child : Children()) {
    if (!child->IsVisual()) continue;
    TvgVisualObject* v = child->Visual();
    const TvgRect pad = v->GetPadding()->GetRect();
    v->SetBounds(p.X + pad.Left, p.Y + pad.Top, itemWidth_ - pad.Left - pad.Right,
                 itemHeight_ - pad.Top - pad.Bottom);
    if (orientation_ == vgHorizontal) {
      p.X += itemWidth_;
      if (p.X + itemWidth_ > GetWidth() - m.Left - m.Right) {
        p.X = m.Left;
        p.Y += itemHeight_;
      }
    } else {
      p.Y += itemHeight_;
      if (p.Y + itemHeight_ > GetHeight() - m.Top - m.Bottom) {
        p.Y = m.Top;
        p.X += itemWidth_;
      }
    }
  }
  inGridRealign_ = false;
}

void TvgGridLayout::SetItemWidth(float value) {
  if (vgSetChanged(itemWidth_, value)) Realign();
}

void TvgGridLayout::SetItemHeight(float value) {
  if (vgSetChanged(itemHeight_, value)) Realign();
}

void TvgGridLayout::SetOrientation(TvgOrientation value) {
  if (vgSetChanged(orientation_, value)) Realign();
}

// --- Scaled layout

TvgScaledLayout::TvgScaledLayout(TComponent* owner)
    : TvgVisualObject(owner), originalWidth_(GetWidth()), originalHeight_(GetHeight()) {}

TvgMatrix TvgScaledLayout::GetChildrenMatrix() {
  if (IsDesigning()) {
    originalHeight_ = GetHeight();
    originalWidth_ = GetWidth();
  }
  TvgMatrix m = IdentityMatrix;
  m.m11 = originalWidth_ != 0 ? GetWidth() / originalWidth_ : 0;
  m.m22 = originalHeight_ != 0 ? GetHeight() / originalHeight_ : 0;
  return m;
}

void TvgScaledLayout::SetWidth(float value) {
  inherited::SetWidth(value);
  if (IsDesigning()) originalWidth_ = GetWidth();
  else RecalcAbsolute();
}

void TvgScaledLayout::SetHeight(float value) {
  inherited::SetHeight(value);
  if (IsDesigning()) originalHeight_ = GetHeight();
  else RecalcAbsolute();
}

void TvgScaledLayout::SetOriginalWidth(float value) {
  if (value == originalWidth_) return;
  originalWidth_ = value < 1 ? 1 : value;
  RecalcAbsolute();
}

void TvgScaledLayout::SetOriginalHeight(float value) {
  if (value == originalHeight_) return;
  originalHeight_ = value < 1 ? 1 : value;
  RecalcAbsolute();
}

void TvgScaledLayout::Paint() {
  inherited::Paint();
  if (IsDesigning() && !GetLocked()) vgPaintDesignFrame(*this);
}

void TvgScaledLayout::Realign() {
  if (auto* box = dynamic_cast<TvgScrollBox*>(GetParent()); box != nullptr && box->GetUpdateCounter() > 0) return;
  inherited::Realign();
  if (!IsDesigning()) {
    RecalcAbsolute();
    RecalcUpdateRect();
  }
}

// --- Hosted window control

TvgNonVGLayout::TvgNonVGLayout(TComponent* owner) : TvgLayout(owner), timer_(new TvgTimer(this)) {
  timer_->SetEnabled(false);
  timer_->SetInterval(100);
  timer_->SetOnTimer(TNotifyEvent::Of<&TvgNonVGLayout::TimerTick>(this));
}

TvgNonVGLayout::~TvgNonVGLayout() {
  timer_->SetEnabled(false);
  if (control_ != nullptr) control_->RemoveFreeNotification(this);
  control_ = nullptr;
}

bool TvgNonVGLayout::GetParentedVisible() {
  const bool result = inherited::GetParentedVisible();
  TvgHostedControlHooks& hooks = vgHostedControlHooks();
  if (control_ != nullptr && hooks.GetVisible && hooks.SetVisible && hooks.GetVisible(control_) != result) {
    hooks.SetVisible(control_, result);
    timer_->SetEnabled(result);
    if (result) Realign();
  }
  return result;
}

void TvgNonVGLayout::Realign() {
  inherited::Realign();
  TvgHostedControlHooks& hooks = vgHostedControlHooks();
  if (control_ == nullptr || !hooks.GetVisible || !hooks.SetBounds || !hooks.GetVisible(control_)) return;
  const TvgRect r = GetAbsoluteRect();
  hooks.SetBounds(control_, static_cast<int32_t>(std::lround(r.Left)), static_cast<int32_t>(std::lround(r.Top)),
                  static_cast<int32_t>(std::lround(r.Right - r.Left)),
                  static_cast<int32_t>(std::lround(r.Bottom - r.Top)));
}

void TvgNonVGLayout::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == opRemove && component == control_) control_ = nullptr;
}

void TvgNonVGLayout::SetNonVGControl(TComponent* value) {
  if (value == control_) return;
  // The form that owns the scene is never hosted over its own scene.
  if (value != nullptr && GetScene() != nullptr && GetScene()->GetOwner() == value) return;
  if (control_ != nullptr) control_->RemoveFreeNotification(this);
  control_ = value;
  if (control_ != nullptr) control_->FreeNotification(this);
  // The timer watches the parents while the hosted control shows.
  TvgHostedControlHooks& hooks = vgHostedControlHooks();
  timer_->SetEnabled(control_ != nullptr && hooks.GetVisible && hooks.GetVisible(control_));
  Realign();
}
