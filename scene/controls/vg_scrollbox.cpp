// Scroll content and scroll boxes.
#include "vg_scrollbox.h"

#include "scene/core/vg_animation.h"
#include "scene/core/vg_canvas.h"
#include "scene/core/vg_effect.h"

KBL_PUBLISHED(TvgScrollContent) {}
KBL_PUBLISHED(TvgScrollBox) {
  KBL_PROP(AutoHide).Default(true);
  KBL_PROP(Animated).Default(true);
  KBL_PROP(DisableMouseWheel).Default(false);
  KBL_PROP(MouseTracking).Default(false);
  KBL_PROP(ShowScrollBars).Default(true);
  KBL_PROP(ShowSizeGrip).Default(false);
  KBL_PROP(UseSmallScrollBars).Default(false);
}
KBL_PUBLISHED(TvgVertScrollBox) {}
KBL_PUBLISHED(TvgFramedScrollBox) {}
KBL_PUBLISHED(TvgFramedVertScrollBox) {}

// --- Content

TvgScrollContent::TvgScrollContent(TComponent* owner) : TvgContent(owner) { SetClipChildren(true); }

TvgScrollBox* TvgScrollContent::Box() const { return dynamic_cast<TvgScrollBox*>(GetParent()); }

void TvgScrollContent::AddObject(TvgObject* child) {
  inherited::AddObject(child);
  if (TvgScrollBox* box = Box()) box->ContentAddObject(child);
}

void TvgScrollContent::RemoveObject(TvgObject* child) {
  TvgScrollBox* box = Box();
  if (box != nullptr && child != nullptr && child->GetParent() == this) box->ContentRemovingObject(child);
  inherited::RemoveObject(child);
  if (box != nullptr) box->ContentRemoveObject(child);
}

void TvgScrollContent::ChildrenReordering() {
  if (TvgScrollBox* box = Box()) box->ContentReordering();
}

void TvgScrollContent::ChildrenReordered() {
  if (TvgScrollBox* box = Box()) box->ContentReordered();
}

TvgRect TvgScrollContent::GetClipRect() {
  TvgScrollBox* box = Box();
  if (box == nullptr || box->viewport_ == nullptr) return inherited::GetClipRect();
  return box->GetContentClipRect();
}

TvgVisualObject* TvgScrollContent::ObjectByPoint(float x, float y) {
  TvgVisualObject* hit = inherited::ObjectByPoint(x, y);
  if (hit == nullptr) return nullptr;
  return vgPtInRect(AbsoluteToLocal(vgPoint(x, y)), GetClipRect()) ? hit : nullptr;
}

void TvgScrollContent::ShownChildren(size_t& first, size_t& end) {
  if (TvgScrollBox* box = Box()) box->ContentShownChildren(first, end);
}

const std::vector<TvgObject*>& TvgScrollContent::TriggerChildren() {
  TvgScrollBox* box = Box();
  const std::vector<TvgObject*>* some = box != nullptr ? box->ContentTriggerChildren() : nullptr;
  return some != nullptr ? *some : inherited::TriggerChildren();
}

TvgRect TvgScrollContent::GetUpdateRect() {
  TvgScrollBox* box = Box();
  // The viewport's own cache answers, with the content's clip where it stands: the content is
  // placed from the viewport's place in its own parent, and a style that pads the viewport within
  // the box leaves that clip off the viewport by the padding (a scroll would leave the edge it
  // paints beside the viewport unrepainted). Before the box has a viewport the content answers for
  // itself (the box's rect unites its children's, this one's included).
  if (box == nullptr || box->viewport_ == nullptr) return inherited::GetUpdateRect();
  return vgUnionRect(box->viewport_->GetUpdateRect(), LocalToAbsoluteRect(GetClipRect()));
}

void TvgScrollContent::Paint() {
  inherited::Paint();
  TvgCanvas* canvas = GetCanvas();
  TvgScrollBox* box = Box();
  if (canvas == nullptr || box == nullptr || box->viewport_ == nullptr) return;
  const int32_t state = canvas->SaveCanvas();
  canvas->SetMatrix(GetAbsoluteMatrix());
  canvas->IntersectClipRect(GetClipRect());
  box->ContentPaint(canvas, GetLocalRect());
  canvas->RestoreCanvas(state);
}

// --- Scroll box

TvgScrollBox::TvgScrollBox(TComponent* owner) : TvgControl(owner) {
  SetAutoCapture(true);
  auto* content = new TvgScrollContent(this);
  content->SetParent(this);  // content_ is still unset: the box takes it itself
  content->SetStored(false);
  content->SetLocked(true);
  content->SetHitTest(false);
  content_ = content;
}

TvgScrollBox::~TvgScrollBox() {
  content_ = nullptr;  // freed with the children
  hbar_ = vbar_ = nullptr;
  viewport_ = nullptr;
  hAni_ = vAni_ = nullptr;
  DestroyTree();
}

void TvgScrollBox::AddObject(TvgObject* child) {
  if (content_ != nullptr && child != content_ && child != GetStyleObject() && dynamic_cast<TvgEffect*>(child) == nullptr &&
      dynamic_cast<TvgAnimation*>(child) == nullptr) {
    content_->AddObject(child);
    return;
  }
  inherited::AddObject(child);
}

void TvgScrollBox::SetShowScrollBars(bool value) {
  if (vgSetChanged(showScrollBars_, value)) Realign();
}

void TvgScrollBox::SetShowSizeGrip(bool value) {
  if (vgSetChanged(showSizeGrip_, value)) ApplyStyle();
}

void TvgScrollBox::SetUseSmallScrollBars(bool value) {
  if (vgSetChanged(useSmallScrollBars_, value)) ApplyStyle();
}

void TvgScrollBox::TakeBar(TvgScrollBar* bar, bool vertical) {
  if (bar == nullptr) return;
  bar->OnChange = vertical ? TNotifyEvent::Of<&TvgScrollBox::VScrollChange>(this)
                           : TNotifyEvent::Of<&TvgScrollBox::HScrollChange>(this);
  bar->SetLocked(true);
  // The style's alignment, kept for showing the bar again.
  if (bar->GetTag() == 0) bar->SetTag(static_cast<int32_t>(bar->GetAlign()));
  (vertical ? vbar_ : hbar_) = bar;
}

void TvgScrollBox::ApplyStyle() {
  inherited::ApplyStyle();
  if (TvgObject* grip = FindResource("sizegrip"); grip != nullptr && grip->IsVisual()) grip->Visual()->SetVisible(showSizeGrip_);
  auto hide = [this](const char* name) {
    if (TvgObject* part = FindResource(name); part != nullptr && part->IsVisual()) part->Visual()->SetVisible(false);
  };
  hbar_ = vbar_ = nullptr;
  auto* vsmall = dynamic_cast<TvgScrollBar*>(FindResource("vsmallscrollbar"));
  auto* hsmall = dynamic_cast<TvgScrollBar*>(FindResource("hsmallscrollbar"));
  if (useSmallScrollBars_ && (vsmall != nullptr || hsmall != nullptr)) {
    TakeBar(vsmall, true);
    TakeBar(hsmall, false);
    hide("vscrollbar");
    hide("hscrollbar");
  } else {
    TakeBar(dynamic_cast<TvgScrollBar*>(FindResource("vscrollbar")), true);
    TakeBar(dynamic_cast<TvgScrollBar*>(FindResource("hscrollbar")), false);
    hide("vsmallscrollbar");
    hide("hsmallscrollbar");
  }
  TvgObject* viewport = FindResource("content");
  viewport_ = viewport != nullptr ? viewport->Visual() : nullptr;
  // A new style starts scrolled to its start: its bars, the content and the remembered scroll
  // all at 0 (a layout with the old remembered scroll would set the new bars to it).
  rememberedH_ = rememberedV_ = 0;
  Realign();
}

void TvgScrollBox::FreeStyle() {
  inherited::FreeStyle();
  hbar_ = vbar_ = nullptr;
  viewport_ = nullptr;
  // The scroll animations are children of the bars and go with them.
  hAni_ = vAni_ = nullptr;
}

TvgRect TvgScrollBox::GetContentClipRect() {
  if (viewport_ == nullptr) return content_ != nullptr ? content_->GetLocalRect() : GetLocalRect();
  TvgRect r = viewport_->GetLocalRect();
  if (hbar_ != nullptr && hbar_->GetEnabled()) vgOffsetRect(r, hbar_->GetValue(), 0);
  if (vbar_ != nullptr && vbar_->GetEnabled()) vgOffsetRect(r, 0, vbar_->GetValue());
  return r;
}

TvgRect TvgScrollBox::GetViewportRect() {
  return viewport_ != nullptr ? viewport_->GetParentedRect() : GetLocalRect();
}
float TvgScrollBox::GetVScrollOffset() { return BarVisible(vbar_) ? vbar_->GetValue() : 0; }
float TvgScrollBox::GetHScrollOffset() { return BarVisible(hbar_) ? hbar_->GetValue() : 0; }
float TvgScrollBox::GetViewportHeight() { return viewport_ != nullptr ? viewport_->GetHeight() : GetHeight(); }
float TvgScrollBox::GetViewportWidth() { return viewport_ != nullptr ? viewport_->GetWidth() : GetWidth(); }

TvgRect TvgScrollBox::GetContentBounds() {
  if (content_ == nullptr || viewport_ == nullptr) return vgRect(0, 0, GetWidth(), GetHeight());
  TvgRect r = viewport_->GetLocalRect();
  for (TvgObject* child : content_->Children()) {
    if (!child->IsVisual() || !child->Visual()->GetVisible()) continue;
    r = vgUnionRect(r, child->Visual()->GetParentedRect());
  }
  return r;
}

void TvgScrollBox::RealignContent(const TvgRect& r) {
  if (content_ == nullptr || viewport_ == nullptr) return;
  content_->SetBounds(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
  content_->RecalcUpdateRect();
}

void TvgScrollBox::Realign() {
  if (HasState(csDestroying)) return;
  inherited::Realign();
  if (IsLoading() || viewport_ == nullptr || inScrollRealign_ || GetUpdateCounter() > 0) return;
  ++layoutCount_;
  inScrollRealign_ = true;
  try {
    // A content whose extent follows the viewport may fit both with a bar and without it (with
    // rows filled to a narrower viewport it needs the bar that narrows it): which the passes
    // settle on would depend on the bars the last layout left. They start from none, as for a
    // box laid out for the first time.
    const bool fromNone = ExtentFollowsViewport() && HideBars();
    // The bars appeared or vanished: the viewport changed size, so once more, until it keeps its
    // size. One bar may come or go only after the other did (content at least as wide as the
    // viewport needs the horizontal bar once the vertical one narrowed it, and not after that
    // bar went again): a few passes settle it. After hiding the bars one pass more places the
    // content by the values of the bars shown again.
    for (int32_t pass = 0; pass < 4; ++pass) {
      const TvgRect before = viewport_->GetLocalRect();
      UpdateScrollBars();
      const TvgRect after = viewport_->GetLocalRect();
      if (after.Right - after.Left == before.Right - before.Left && after.Bottom - after.Top == before.Bottom - before.Top &&
          !(fromNone && pass == 0))
        break;
    }
  } catch (...) {
    inScrollRealign_ = false;
    throw;
  }
  inScrollRealign_ = false;
}

bool TvgScrollBox::HideBars() {
  // Bars that stay shown when not needed take the same room in every layout.
  if (!autoHide_ || !(BarVisible(vbar_) || BarVisible(hbar_))) return false;
  TvgVisualObject* frame = viewport_->GetParent() != nullptr ? viewport_->GetParent()->Visual() : nullptr;
  if (frame != nullptr) frame->BeginUpdate();
  // Hidden but left enabled: the passes place the content by the remembered scroll of the bars
  // in use, so that a bar shown again keeps its scroll (a horizontal bar takes its value from
  // the content's place) as in a layout that kept it.
  for (TvgScrollBar* bar : {vbar_, hbar_})
    if (bar != nullptr) bar->SetVisible(false);
  if (hbar_ != nullptr) hbar_->GetPadding()->SetRight(0);
  if (frame != nullptr) {
    frame->EndUpdate();
    frame->Realign();
  }
  return true;
}

void TvgScrollBox::UpdateScrollBars() {
  TvgRect r = GetContentBounds();
  const float width = r.Right - r.Left, height = r.Bottom - r.Top;
  if (width * height == 0) return;
  vgOffsetRect(r, viewport_->GetPosition()->GetX(), viewport_->GetPosition()->GetY());
  if (hbar_ != nullptr && hbar_->GetEnabled()) vgOffsetRect(r, -rememberedH_, 0);
  if (vbar_ != nullptr && vbar_->GetEnabled()) vgOffsetRect(r, 0, -rememberedV_);
  RealignContent(r);

  TvgVisualObject* frame = viewport_->GetParent() != nullptr ? viewport_->GetParent()->Visual() : nullptr;
  auto showState = [this](TvgScrollBar* bar, bool enabled) {
    bar->SetEnabled(enabled);
    if (autoHide_) bar->SetVisible(enabled);
  };
  // First pass: which bars are needed, so that the frame can make room for them.
  if (frame != nullptr) frame->BeginUpdate();
  if (vbar_ != nullptr) {
    showState(vbar_, height > viewport_->GetHeight());
    vbar_->SetOpacity(showScrollBars_ ? 1 : 0);
    vbar_->SetAlign(showScrollBars_ ? static_cast<TvgAlign>(vbar_->GetTag()) : vaNone);
  }
  if (hbar_ != nullptr) {
    showState(hbar_, width > viewport_->GetWidth());
    hbar_->SetOpacity(showScrollBars_ ? 1 : 0);
    hbar_->SetAlign(showScrollBars_ ? static_cast<TvgAlign>(hbar_->GetTag()) : vaNone);
    if (showScrollBars_ && vbar_ != nullptr && vbar_->GetEnabled()) hbar_->GetPadding()->SetRight(vbar_->GetWidth());
  }
  if (frame != nullptr) {
    frame->EndUpdate();
    frame->Realign();
  }
  // Second pass: ranges against the viewport as it is now.
  if (vbar_ != nullptr) {
    showState(vbar_, height > viewport_->GetHeight());
    if (!showScrollBars_) {
      vbar_->SetOpacity(0);
      vbar_->SetAlign(vaNone);
      // Out of the box to the right, still working for the wheel and drags.
      vbar_->GetPosition()->SetX(GetWidth() + 100);
    } else {
      vbar_->SetOpacity(1);
      vbar_->SetHitTest(true);
      vbar_->SetAlign(static_cast<TvgAlign>(vbar_->GetTag()));
    }
    vbar_->BringToFront();
    if (vbar_->GetVisible()) {
      vbar_->SetMax(height);
      vbar_->SetViewportSize(viewport_->GetHeight());
      vbar_->SetSmallChange(vbar_->GetViewportSize() / 5);
      vbar_->SetValue(rememberedV_);
    } else {
      vbar_->SetValue(0);
    }
  }
  if (hbar_ != nullptr) {
    hbar_->GetPadding()->SetRight(0);
    showState(hbar_, width > viewport_->GetWidth());
    if (!showScrollBars_) {
      hbar_->SetOpacity(0);
      hbar_->SetAlign(vaNone);
      hbar_->GetPosition()->SetY(GetHeight() + 100);
    } else {
      hbar_->SetOpacity(1);
      hbar_->SetAlign(static_cast<TvgAlign>(hbar_->GetTag()));
      if (vbar_ != nullptr && vbar_->GetEnabled()) hbar_->GetPadding()->SetRight(vbar_->GetWidth());
    }
    hbar_->BringToFront();
    if (hbar_->GetVisible()) {
      hbar_->SetMax(width);
      hbar_->SetViewportSize(viewport_->GetWidth());
      hbar_->SetSmallChange(hbar_->GetViewportSize() / 5);
      hbar_->SetValue(viewport_->GetPosition()->GetX() - content_->GetPosition()->GetX());
    } else {
      hbar_->SetValue(0);
    }
  }
}

void TvgScrollBox::HScrollChange(TObject*) {
  if (viewport_ == nullptr || hbar_ == nullptr) return;
  const float x = viewport_->GetPosition()->GetX();
  MoveContent(vgPoint(hbar_->GetVisible() ? x - hbar_->GetValue() : x, content_->GetPosition()->GetY()));
  rememberedH_ = hbar_->GetValue();
}

void TvgScrollBox::VScrollChange(TObject*) {
  if (viewport_ == nullptr || vbar_ == nullptr) return;
  const float y = viewport_->GetPosition()->GetY();
  MoveContent(vgPoint(content_->GetPosition()->GetX(), vbar_->GetVisible() ? y - vbar_->GetValue() : y));
  rememberedV_ = vbar_->GetValue();
}

void TvgScrollBox::MoveContent(const TvgPoint& p) {
  TvgPosition* at = content_->GetPosition();
  if (at->GetPoint() != p) at->SetPoint(p);
}

void TvgScrollBox::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (!mouseTracking_ || button != mbLeft) return;
  lastStep_ = vgPoint(0, 0);
  pressPoint_ = lastMouse_ = vgPoint(x, y);
  dragging_ = true;
  contentDragged_ = false;
  if (hAni_ != nullptr && hAni_->GetRunning()) hAni_->StopAtCurrent();
  if (vAni_ != nullptr && vAni_->GetRunning()) vAni_->StopAtCurrent();
}

void TvgScrollBox::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!dragging_) return;
  // The bars clamp their values: a drag against an end moves nothing.
  auto drag = [this](TvgScrollBar* bar, float step) {
    const float before = bar->GetValue();
    bar->SetValue(before - step);
    if (bar->GetValue() != before) contentDragged_ = true;
  };
  if (BarVisible(vbar_)) {
    drag(vbar_, y - lastMouse_.Y);
    lastStep_.Y = y - lastMouse_.Y;
  }
  if (BarVisible(hbar_)) {
    drag(hbar_, x - lastMouse_.X);
    lastStep_.X = x - lastMouse_.X;
  }
  lastMouse_ = vgPoint(x, y);
}

void TvgScrollBox::AnimateBar(TvgScrollBar* bar, TvgFloatAnimation*& ani, float target) {
  if (ani == nullptr) {
    ani = new TvgFloatAnimation(this);
    ani->SetParent(bar);
    ani->SetAnimationType(vgAnimationOut);
    ani->SetInterpolation(vgInterpolationQuadratic);
    ani->SetDuration(0.7f);
    ani->SetPropertyName("Value");
    ani->SetStartFromCurrent(true);
  }
  if (ani->GetRunning()) ani->StopAtCurrent();
  ani->SetStopValue(target);
  ani->Start();
}

void TvgScrollBox::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  const bool wasDragging = dragging_;
  dragging_ = false;
  if (!wasDragging || !animated_ || (lastStep_.X == 0 && lastStep_.Y == 0)) return;
  if (BarVisible(vbar_)) AnimateBar(vbar_, vAni_, vbar_->GetValue() - lastStep_.Y * 7);
  if (BarVisible(hbar_)) AnimateBar(hbar_, hAni_, hbar_->GetValue() - lastStep_.X * 7);
}

void TvgScrollBox::MouseWheel(TShiftState shift, int32_t wheelDelta, bool& handled) {
  inherited::MouseWheel(shift, wheelDelta, handled);
  if (handled || disableMouseWheel_) return;
  auto scroll = [&](TvgScrollBar* bar, TvgFloatAnimation*& ani) {
    const float target = bar->GetValue() - bar->GetSmallChange() * 3 * (static_cast<float>(wheelDelta) / 120.0f);
    if (animated_) AnimateBar(bar, ani, target);
    else bar->SetValue(target);
    handled = true;
  };
  if (BarVisible(vbar_)) scroll(vbar_, vAni_);
  if (!handled && BarVisible(hbar_)) scroll(hbar_, hAni_);
}

// --- Variants

TvgVertScrollBox::TvgVertScrollBox(TComponent* owner) : TvgScrollBox(owner) { SetResource("scrollboxstyle"); }

TvgRect TvgVertScrollBox::GetContentBounds() {
  TvgVisualObject* viewport = GetViewport();
  if (GetContent() == nullptr || viewport == nullptr) return inherited::GetContentBounds();
  GetContent()->SetWidth(viewport->GetWidth());
  // Only the height follows the children: one wider than the viewport is clipped by the content
  // and brings up no horizontal bar.
  TvgRect r = inherited::GetContentBounds();
  r.Left = 0;
  r.Right = viewport->GetWidth();
  return r;
}

TvgFramedVertScrollBox::TvgFramedVertScrollBox(TComponent* owner) : TvgVertScrollBox(owner) {
  SetResource("framedscrollboxstyle");
}
