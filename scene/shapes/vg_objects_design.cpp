// The run-time design objects of the shapes unit: selection frame, selection point and design
// frame.
#include <cmath>

#include "scene/core/vg_sceneintf.h"
#include "vg_objects.h"

KBL_PUBLISHED(TvgSelection) {
  KBL_PROP(GripSize).Stored(true);
  KBL_PROP(ParentBounds).Default(true);
  KBL_PROP(HideSelection).NoDefault();
  KBL_PROP(MinSize).Default(15);
  KBL_PROP(Proportional).NoDefault();
  p.Property("OnChange", &TvgSelection::OnChange, &TvgSelection::OnChange);
  p.Property("OnTrack", &TvgSelection::OnTrack, &TvgSelection::OnTrack);
}

KBL_PUBLISHED(TvgSelectionPoint) {
  KBL_PROP(GripSize).Stored(true);
  KBL_PROP(ParentBounds).Default(true);
  p.Property("OnChange", &TvgSelectionPoint::OnChange, &TvgSelectionPoint::OnChange);
  p.Property("OnTrack", &TvgSelectionPoint::OnTrack, &TvgSelectionPoint::OnTrack);
}

KBL_PUBLISHED(TvgDesignFrame) {
  p.Property("OnChange", &TvgDesignFrame::OnChange, &TvgDesignFrame::OnChange);
  p.Property("OnTrack", &TvgDesignFrame::OnTrack, &TvgDesignFrame::OnTrack);
}

namespace {

constexpr TvgColor kFrameColor = 0xFF1072C5u;

float RoundEven(float v) { return std::nearbyint(v); }  // the default rounding mode: halves to even

void SetSolid(TvgBrush* brush, TvgColor color) {
  brush->SetStyle(vgBrushSolid);
  brush->SetSolidColor(color);
}

TvgRect Square(const TvgPoint& c, float half) { return vgRect(c.X - half, c.Y - half, c.X + half, c.Y + half); }

}  // namespace

// --- Selection frame

TvgSelection::TvgSelection(TComponent* owner) : TvgVisualObject(owner) { SetAutoCapture(true); }

void TvgSelection::SetGripSize(float value) {
  if (value == gripSize_) return;
  gripSize_ = std::fmin(20.0f, std::fmax(1.0f, value));
  Repaint();
}

void TvgSelection::SetHideSelection(bool value) {
  if (vgSetChanged(hideSelection_, value)) Repaint();
}

void TvgSelection::SetMinSize(int32_t value) {
  if (value == minSize_) return;
  minSize_ = value < 1 ? 1 : value;
}

TvgRect TvgSelection::GetAbsoluteRect() {
  TvgRect r = inherited::GetAbsoluteRect();
  vgInflateRect(r, gripSize_ + 4, gripSize_ + 4);
  return r;
}

TvgRect TvgSelection::GripRect(Grip grip) {
  const TvgRect r = GetLocalRect();
  switch (grip) {
    case kLeftTop: return Square(vgPoint(r.Left, r.Top), gripSize_);
    case kRightTop: return Square(vgPoint(r.Right, r.Top), gripSize_);
    case kRightBottom: return Square(vgPoint(r.Right, r.Bottom), gripSize_);
    default: return Square(vgPoint(r.Left, r.Bottom), gripSize_);
  }
}

bool& TvgSelection::HotFlag(Grip grip) {
  switch (grip) {
    case kLeftTop: return hot_[0];
    case kLeftBottom: return hot_[1];
    case kRightTop: return hot_[2];
    default: return hot_[3];
  }
}

bool& TvgSelection::DragFlag(Grip grip) {
  switch (grip) {
    case kLeftTop: return leftTop_;
    case kRightTop: return rightTop_;
    case kRightBottom: return rightBottom_;
    default: return leftBottom_;
  }
}

bool TvgSelection::PointInObject(float x, float y) {
  if (inherited::PointInObject(x, y)) return true;
  const TvgPoint p = AbsoluteToLocal(vgPoint(x, y));
  for (Grip g : {kLeftTop, kRightTop, kRightBottom, kLeftBottom})
    if (vgPtInRect(p, GripRect(g))) return true;
  return false;
}

void TvgSelection::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  downPos_ = vgPoint(x, y);
  if (button != mbLeft) return;
  ratio_ = GetHeight() != 0 ? GetWidth() / GetHeight() : 1;
  for (Grip g : {kLeftTop, kRightTop, kRightBottom, kLeftBottom}) {
    if (vgPtInRect(downPos_, GripRect(g))) {
      DragFlag(g) = true;
      return;
    }
  }
  move_ = true;
}

void TvgSelection::ApplyMinimum() {
  const float minSize = static_cast<float>(minSize_);
  if (minSize > GetWidth()) SetWidth(minSize);
  if (!proportional_) {
    if (minSize > GetHeight()) SetHeight(minSize);
  } else if (ratio_ != 0 && minSize > GetWidth() / ratio_) {
    SetWidth(RoundEven(minSize * ratio_));
  }
}

void TvgSelection::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (shift.Empty()) {
    movePos_ = vgPoint(x, y);
    for (Grip g : {kLeftTop, kRightTop, kRightBottom, kLeftBottom}) {
      const bool inside = vgPtInRect(movePos_, GripRect(g));
      bool& hot = HotFlag(g);
      if (inside != hot) {
        hot = inside;
        Repaint();
      }
    }
  }
  if (!shift.Contains(ssLeft)) return;
  movePos_ = vgPoint(x, y);
  TvgVisualObject* parent = GetParent() != nullptr && GetParent()->IsVisual() ? GetParent()->Visual() : nullptr;
  if (move_) {
    TvgPosition* pos = GetPosition();
    float px = pos->GetX() + (movePos_.X - downPos_.X);
    float py = pos->GetY() + (movePos_.Y - downPos_.Y);
    if (parentBounds_ && parent != nullptr) {
      if (px < 0) px = 0;
      if (py < 0) py = 0;
      if (px + GetWidth() > parent->GetWidth()) px = parent->GetWidth() - GetWidth();
      if (py + GetHeight() > parent->GetHeight()) py = parent->GetHeight() - GetHeight();
    }
    pos->SetPoint(vgPoint(px, py));
    RunHandler(OnTrack, this);
    return;
  }
  TvgPoint p = LocalToAbsolute(movePos_);
  if (parent != nullptr) {
    p = parent->AbsoluteToLocal(p);
    if (parentBounds_) {
      if (p.Y < 0) p.Y = 0;
      if (p.X < 0) p.X = 0;
      if (p.X > parent->GetWidth()) p.X = parent->GetWidth();
      if (p.Y > parent->GetHeight()) p.Y = parent->GetHeight();
    }
  }
  for (Grip g : {kLeftTop, kRightTop, kRightBottom, kLeftBottom}) {
    if (!DragFlag(g)) continue;
    DragGrip(g, p);
    break;
  }
}

void TvgSelection::DragGrip(Grip grip, const TvgPoint& p) {
  Repaint();
  TvgVisualObject* parent = GetParent() != nullptr && GetParent()->IsVisual() ? GetParent()->Visual() : nullptr;
  TvgPosition* pos = GetPosition();
  const TvgPoint d = downPos_;
  TvgPoint v;
  switch (grip) {
    case kLeftTop: v = vgPoint(pos->GetX() - (p.X + d.X), pos->GetY() - (p.Y + d.Y)); break;
    case kRightTop: v = vgPoint(p.X - pos->GetX(), pos->GetY() - (p.Y + d.Y)); break;
    case kRightBottom: v = vgPoint(p.X - pos->GetX(), p.Y - pos->GetY()); break;
    case kLeftBottom: v = vgPoint(pos->GetX() - (p.X + d.X), p.Y - pos->GetY()); break;
  }
  if (parent != nullptr) v = parent->LocalToAbsoluteVector(v);
  v = AbsoluteToLocalVector(v);
  const float ratio = ratio_ != 0 ? ratio_ : 1;
  switch (grip) {
    case kLeftTop:
      if (proportional_) {
        SetWidth(GetWidth() + v.X);
        const float w1 = GetWidth();
        ApplyMinimum();
        pos->SetX((p.X + d.X) - (GetWidth() - w1));
        pos->SetY(pos->GetY() + GetHeight() - RoundEven(GetWidth() / ratio));
        SetHeight(RoundEven(GetWidth() / ratio));
      } else {
        SetWidth(GetWidth() + v.X);
        SetHeight(GetHeight() + v.Y);
        pos->SetX(p.X + d.X);
        pos->SetY(p.Y + d.Y);
        ApplyMinimum();
      }
      break;
    case kRightTop:
      SetWidth(v.X);
      if (proportional_) {
        ApplyMinimum();
        pos->SetY(pos->GetY() + GetHeight() - RoundEven(GetWidth() / ratio));
        SetHeight(RoundEven(GetWidth() / ratio));
      } else {
        SetHeight(GetHeight() + v.Y);
        pos->SetY(p.Y + d.Y);
        ApplyMinimum();
      }
      break;
    case kRightBottom:
      SetWidth(v.X);
      if (proportional_) {
        ApplyMinimum();
        SetHeight(RoundEven(GetWidth() / ratio));
      } else {
        SetHeight(v.Y);
        ApplyMinimum();
      }
      break;
    case kLeftBottom:
      if (proportional_) {
        SetWidth(GetWidth() + v.X);
        const float w1 = GetWidth();
        ApplyMinimum();
        pos->SetX((p.X + d.X) - (GetWidth() - w1));
        SetHeight(RoundEven(GetWidth() / ratio));
      } else {
        SetWidth(GetWidth() + v.X);
        pos->SetX(p.X + d.X);
        SetHeight(v.Y);
        ApplyMinimum();
      }
      break;
  }
  RunHandler(OnTrack, this);
  Repaint();
}

void TvgSelection::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  const bool dragging = move_ || leftTop_ || leftBottom_ || rightTop_ || rightBottom_;
  if (dragging) RunHandler(OnChange, this);
  move_ = leftTop_ = leftBottom_ = rightTop_ = rightBottom_ = false;
}

void TvgSelection::MouseLeave() {
  inherited::MouseLeave();
  for (bool& h : hot_) h = false;
  Repaint();
}

void TvgSelection::Paint() {
  if (hideSelection_) return;
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const float op = GetAbsoluteOpacity();
  SetSolid(canvas->GetFill(), 0xFFFFFFFFu);
  canvas->SetStrokeThickness(1);
  SetSolid(canvas->GetStroke(), kFrameColor);
  canvas->SetStrokeDash(vgDashDash);
  TvgRect r = GetLocalRect();
  vgInflateRect(r, -0.5f, -0.5f);
  canvas->DrawRect(r, 0, 0, vgAllCorners, op, vgCornerRound);
  canvas->SetStrokeDash(vgDashSolid);
  const float w = GetWidth(), h = GetHeight();
  const struct {
    TvgPoint centre;
    bool hot;
  } grips[] = {{vgPoint(r.Left, r.Top), hot_[0]},
               {vgPoint(w, 0), hot_[2]},
               {vgPoint(0, h), hot_[1]},
               {vgPoint(w, h), hot_[3]}};
  for (const auto& g : grips) {
    SetSolid(canvas->GetFill(), g.hot ? 0xFFFF0000u : 0xFFFFFFFFu);
    const TvgRect sq = Square(g.centre, gripSize_);
    canvas->FillEllipse(sq, op);
    canvas->DrawEllipse(sq, op);
  }
}

// --- Selection point

TvgSelectionPoint::TvgSelectionPoint(TComponent* owner) : TvgVisualObject(owner) {
  SetAutoCapture(true);
  SetWidth(0);
  SetHeight(0);
}

void TvgSelectionPoint::SetWidth(float) { inherited::SetWidth(gripSize_ * 2); }
void TvgSelectionPoint::SetHeight(float) { inherited::SetHeight(gripSize_ * 2); }

void TvgSelectionPoint::SetGripSize(float value) {
  if (value == gripSize_) return;
  gripSize_ = std::fmin(20.0f, std::fmax(1.0f, value));
  Repaint();
}

TvgRect TvgSelectionPoint::GetUpdateRect() {
  TvgRect r = inherited::GetUpdateRect();
  vgInflateRect(r, gripSize_ + 1, gripSize_ + 1);
  return r;
}

bool TvgSelectionPoint::PointInObject(float x, float y) {
  const TvgPoint p = AbsoluteToLocal(vgPoint(x, y));
  return std::fabs(p.X) < gripSize_ && std::fabs(p.Y) < gripSize_;
}

void TvgSelectionPoint::MouseEnter() {
  inherited::MouseEnter();
  Repaint();
}

void TvgSelectionPoint::MouseLeave() {
  inherited::MouseLeave();
  Repaint();
}

void TvgSelectionPoint::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button == mbLeft) pressed_ = true;
}

void TvgSelectionPoint::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!pressed_ || GetParent() == nullptr) return;
  TvgPoint p = LocalToAbsolute(vgPoint(x, y));
  if (GetParent()->IsVisual()) {
    TvgVisualObject* parent = GetParent()->Visual();
    p = parent->AbsoluteToLocal(p);
    if (parentBounds_) {
      if (p.X < 0) p.X = 0;
      if (p.Y < 0) p.Y = 0;
      if (p.X > parent->GetWidth()) p.X = parent->GetWidth();
      if (p.Y > parent->GetHeight()) p.Y = parent->GetHeight();
    }
  }
  GetPosition()->SetX(p.X);
  GetPosition()->SetY(p.Y);
  RunHandler(OnTrack, this);
}

void TvgSelectionPoint::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (pressed_) RunHandler(OnChange, this);
  pressed_ = false;
}

void TvgSelectionPoint::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  canvas->SetStrokeThickness(1);
  SetSolid(canvas->GetStroke(), kFrameColor);
  const bool selected = GetScene() != nullptr && GetScene()->GetSelected() == this;
  SetSolid(canvas->GetFill(), GetIsMouseOver() || selected ? 0xFFFF0000u : 0xFFFFFFFFu);
  const TvgRect r = vgRect(-gripSize_, -gripSize_, gripSize_, gripSize_);
  canvas->FillEllipse(r, GetAbsoluteOpacity());
  canvas->DrawEllipse(r, GetAbsoluteOpacity());
}
