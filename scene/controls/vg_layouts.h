// Unstyled containers that arrange or scale their children: plain layout, grid of fixed cells,
// layout scaled from its design size, split layout, and the layout that keeps a window control
// of the class library over its area.
#pragma once

#include <cstdint>

#include "scene/core/vg_visualobject.h"
#include "vg_controls.h"

class TvgLayout : public TvgVisualObject {
  KBL_DECLARE_CLASS(TvgLayout, TvgVisualObject)
 public:
  explicit TvgLayout(TComponent* owner);
  // The dashed design frame; nothing at run time.
  void Paint() override;
};

// Flows its visual children through cells of ItemWidth x ItemHeight, row by row (horizontal) or
// column by column (vertical).
class TvgGridLayout : public TvgVisualObject {
  KBL_DECLARE_CLASS(TvgGridLayout, TvgVisualObject)
 public:
  explicit TvgGridLayout(TComponent* owner);
  void Realign() override;
  float GetItemWidth() const { return itemWidth_; }
  void SetItemWidth(float value);
  float GetItemHeight() const { return itemHeight_; }
  void SetItemHeight(float value);
  TvgOrientation GetOrientation() const { return orientation_; }
  void SetOrientation(TvgOrientation value);

 private:
  float itemWidth_ = 64;
  float itemHeight_ = 64;
  TvgOrientation orientation_ = vgHorizontal;
  bool inGridRealign_ = false;
};

// Lays its children out at the design size (OriginalWidth x OriginalHeight) and draws them
// scaled to the current size.
class TvgScaledLayout : public TvgVisualObject {
  KBL_DECLARE_CLASS(TvgScaledLayout, TvgVisualObject)
 public:
  explicit TvgScaledLayout(TComponent* owner);
  TvgMatrix GetChildrenMatrix() override;
  void SetWidth(float value) override;
  void SetHeight(float value) override;
  void Paint() override;
  void Realign() override;
  float GetOriginalWidth() const { return originalWidth_; }
  // Values below 1 are stored as 1.
  void SetOriginalWidth(float value);
  float GetOriginalHeight() const { return originalHeight_; }
  void SetOriginalHeight(float value);

 private:
  float originalWidth_;
  float originalHeight_;
};

class TvgSplitLayout : public TvgVisualObject {
  KBL_DECLARE_CLASS(TvgSplitLayout, TvgVisualObject)
 public:
  explicit TvgSplitLayout(TComponent* owner) : TvgVisualObject(owner) {}
};

// Keeps a window control (a TControl of the class library, not owned) over the layout's area and
// shows it only while the layout is visible; a 100 ms timer follows hidden parents.
class TvgNonVGLayout : public TvgLayout {
  KBL_DECLARE_CLASS(TvgNonVGLayout, TvgLayout)
 public:
  explicit TvgNonVGLayout(TComponent* owner);
  ~TvgNonVGLayout() override;
  void Notification(TComponent* component, TOperation operation) override;
  bool GetParentedVisible() override;
  void Realign() override;
  TComponent* GetNonVGControl() const { return control_; }
  void SetNonVGControl(TComponent* value);
  TvgTimer* GetTimer() const { return timer_; }

 private:
  void TimerTick(TObject*) { GetParentedVisible(); }
  TComponent* control_ = nullptr;
  TvgTimer* timer_;
};

// Registers the layouts and the scroll boxes (once).
void vgInitLayoutsUnit();
