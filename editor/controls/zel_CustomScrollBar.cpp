// The maker's scroll bar behaviour.
#include "zel_CustomScrollBar.h"

#include <algorithm>

#include "zel_platform.h"

KBL_PUBLISHED(TvgZelCustomScrollBar) {
  p.Property("OnChanged", &TvgZelCustomScrollBar::OnChanged, &TvgZelCustomScrollBar::OnChanged);
}

TvgZelCustomScrollBar::TvgZelCustomScrollBar(TComponent* owner) : TvgControlWithStrokeAndFill(owner) {}

TvgZelCustomScrollBar::~TvgZelCustomScrollBar() {
  if (dragging_) ZelShowCursor(true);
}

void TvgZelCustomScrollBar::CaptureLost() {
  inherited::CaptureLost();
  if (!dragging_) return;
  dragging_ = false;
  ZelShowCursor(true);
  Repaint();
}

void TvgZelCustomScrollBar::SetKind(TScrollBarKind value) {
  if (kind_ == value) return;
  kind_ = value;
  Repaint();
}

void TvgZelCustomScrollBar::SetScrollPos(float value) {
  if (scrollPos_ == value) return;
  scrollPos_ = value;
  Repaint();
}

void TvgZelCustomScrollBar::SetIndexSize(float value) {
  value = std::min(value, 1.0f);
  if (indexSize_ == value) return;
  indexSize_ = value;
  Repaint();
}

TvgRect TvgZelCustomScrollBar::ComputeThumbRect() {
  const float w = GetWidth(), h = GetHeight();
  TvgRect r = vgRect(1, 1, w - 1, h - 1);
  if (kind_ == sbVertical) {
    const float len = std::max((h - 2) * indexSize_, w);
    r.Top = (h - 2 - len) * (1 - scrollPos_) + 1;
    r.Bottom = r.Top + len;
  } else {
    const float len = std::max((w - 2) * indexSize_, h);
    r.Left = (w - 2 - len) * scrollPos_ + 1;
    r.Right = r.Left + len;
  }
  return r;
}

TvgPoint TvgZelCustomScrollBar::ScreenPoint(float x, float y) {
  const TvgPoint abs = LocalToAbsolute(vgPoint(x, y));
  const TvgPoint screen = GetScene() != nullptr ? GetScene()->LocalToScreen(abs) : abs;
  return vgPoint(static_cast<float>(Round(screen.X)), static_cast<float>(Round(screen.Y)));
}

void TvgZelCustomScrollBar::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != mbLeft || dragging_) return;
  thumbRect_ = ComputeThumbRect();
  dragging_ = true;
  ZelShowCursor(false);
  pressCursor_ = ScreenPoint(x, y);
  lastCursor_ = pressCursor_;
  Capture();
  if (!vgPtInRect(vgPoint(x, y), thumbRect_)) {
    // The thumb's centre jumps under the mouse; a thumb filling the track has nowhere to go.
    if (indexSize_ < 1) {
      const float w = GetWidth(), h = GetHeight();
      float pos = kind_ == sbHorizontal ? (x - w * indexSize_ * 0.5f) / ((1 - indexSize_) * w)
                                        : 1 - (y - h * indexSize_ * 0.5f) / ((1 - indexSize_) * h);
      if (!(pos >= 0)) pos = 0;  // also NaN from a zero size
      if (pos > 1) pos = 1;
      scrollPos_ = pos;
    }
    RunHandler(OnChanged, this);
  }
  Repaint();
}

void TvgZelCustomScrollBar::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!dragging_ || indexSize_ >= 1) return;
  const TvgPoint cursor = ScreenPoint(x, y);
  const float before = scrollPos_;
  float pos = scrollPos_;
  if (kind_ == sbVertical) {
    if (cursor.Y == lastCursor_.Y) return;
    const float track = (1 - indexSize_) * GetHeight();
    if (track > 0) pos += (lastCursor_.Y - cursor.Y) / track;
    lastCursor_.Y = cursor.Y;
  } else {
    if (cursor.X == lastCursor_.X) return;
    const float track = (1 - indexSize_) * GetWidth();
    if (track > 0) pos += (cursor.X - lastCursor_.X) / track;
    lastCursor_.X = cursor.X;
  }
  scrollPos_ = std::clamp(pos, 0.0f, 1.0f);
  if (scrollPos_ != before) RunHandler(OnChanged, this);
  RunHandler(OnChanged, this);
  Repaint();
}

void TvgZelCustomScrollBar::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (button != mbLeft || !dragging_) return;
  dragging_ = false;
  thumbRect_ = ComputeThumbRect();
  const TvgPoint centre = ScreenPoint((thumbRect_.Left + thumbRect_.Right) / 2, (thumbRect_.Top + thumbRect_.Bottom) / 2);
  ZelSetCursorPos(static_cast<int32_t>(centre.X), static_cast<int32_t>(centre.Y));
  ZelShowCursor(true);
  ReleaseCapture();
  Repaint();
}

void TvgZelCustomScrollBar::MouseEnter() {
  inherited::MouseEnter();
  Repaint();
}

void TvgZelCustomScrollBar::MouseLeave() {
  inherited::MouseLeave();
  Repaint();
}
