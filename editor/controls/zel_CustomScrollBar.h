// TvgZelCustomScrollBar: the position and thumb dragging of the maker's scroll bar. For a
// vertical bar ScrollPos 1 is the top and 0 the bottom; for a horizontal one 0 is the left. GUI
// thread only.
#pragma once

#include "zel_BaseControls.h"

KBL_ENUM(TScrollBarKind, sbHorizontal, sbVertical)

class TvgZelCustomScrollBar : public TvgControlWithStrokeAndFill {
  KBL_DECLARE_CLASS(TvgZelCustomScrollBar, TvgControlWithStrokeAndFill)
 public:
  explicit TvgZelCustomScrollBar(TComponent* owner);
  // Shows the cursor again when a drag hid it (the box may close mid-drag).
  ~TvgZelCustomScrollBar() override;

  TScrollBarKind GetKind() const { return kind_; }
  // Repaints on change; no OnChanged.
  void SetKind(TScrollBarKind value);
  float GetScrollPos() const { return scrollPos_; }
  void SetScrollPos(float value);
  // The thumb's length as a fraction of the track; values above 1 become 1.
  float GetIndexSize() const { return indexSize_; }
  void SetIndexSize(float value);
  bool GetDragging() const { return dragging_; }
  // Where the thumb was last painted (local coordinates).
  const TvgRect& GetThumbRect() const { return thumbRect_; }

  // Left press on the thumb grabs it; elsewhere the thumb's centre jumps under the mouse. The
  // cursor is hidden while dragging and put back at the thumb's centre on release.
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseEnter() override;
  void MouseLeave() override;
  // Another window took the mouse: the drag ends and the cursor shows again where it is.
  void CaptureLost() override;

  TNotifyEvent OnChanged;

 protected:
  // The thumb rectangle for the current size, position and thumb length.
  TvgRect ComputeThumbRect();
  TvgRect thumbRect_;

 private:
  TvgPoint ScreenPoint(float x, float y);

  TScrollBarKind kind_ = sbVertical;
  float scrollPos_ = 0;
  float indexSize_ = 0.3f;
  TvgPoint pressCursor_;
  TvgPoint lastCursor_;
  bool dragging_ = false;
};
