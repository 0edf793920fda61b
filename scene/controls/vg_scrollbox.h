// Scroll boxes: a styled control whose children live in a content object moved behind the
// style's viewport, with scroll bars following the children's extent, mouse dragging, the wheel
// and gliding animations.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/core/vg_resources.h"
#include "scene/shapes/vg_animations.h"
#include "vg_controls.h"

class TvgScrollBox;

// The holder of the scrolled children; clips them to the viewport.
class TvgScrollContent : public TvgContent {
  KBL_DECLARE_CLASS(TvgScrollContent, TvgContent)
 public:
  explicit TvgScrollContent(TComponent* owner);
  void AddObject(TvgObject* child) override;
  void RemoveObject(TvgObject* child) override;
  TvgRect GetUpdateRect() override;
  void ChildrenReordering() override;
  void ChildrenReordered() override;
  TvgRect GetClipRect() override;
  void Paint() override;
  TvgVisualObject* ObjectByPoint(float x, float y) override;

 protected:
  // The children its box says can show (TvgScrollBox::ContentShownChildren).
  void ShownChildren(size_t& first, size_t& end) override;
  // The children its box says a trigger can act on (TvgScrollBox::ContentTriggerChildren).
  const std::vector<TvgObject*>& TriggerChildren() override;

 private:
  TvgScrollBox* Box() const;
};

class TvgScrollBox : public TvgControl {
  KBL_DECLARE_CLASS(TvgScrollBox, TvgControl)
 public:
  explicit TvgScrollBox(TComponent* owner);
  ~TvgScrollBox() override;

  // Children go into the content; the style, effects and animations stay on the box.
  void AddObject(TvgObject* child) override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseWheel(TShiftState shift, int32_t wheelDelta, bool& handled) override;
  void Realign() override;
  void ApplyStyle() override;
  void FreeStyle() override;

  // How many times the content was laid out (for tests and benchmarks).
  int32_t GetLayoutCount() const { return layoutCount_; }

  // Hooks of the descendants (list box, memo, grid).
  virtual void ContentAddObject(TvgObject* child) {}
  // Called while the child is still in the content (it still has its index), then once it left.
  virtual void ContentRemovingObject(TvgObject* child) {}
  virtual void ContentRemoveObject(TvgObject* child) {}
  // Around every change of the order of the content's children.
  virtual void ContentReordering() {}
  virtual void ContentReordered() {}
  virtual void HScrollChange(TObject* sender);
  virtual void VScrollChange(TObject* sender);
  // Puts the content at `p` (a scroll bar's change): its position set, here, when it is another.
  virtual void MoveContent(const TvgPoint& p);
  // The viewport united with the parented rects of the content's visible children.
  virtual TvgRect GetContentBounds();
  virtual void ContentPaint(TvgCanvas* canvas, const TvgRect& rect) {}
  // Narrows [first, end), all the content's children at first, to those that can show in the
  // viewport: the content paints and hits only these. The box keeps them all.
  virtual void ContentShownChildren(size_t& first, size_t& end) {}
  // The content's children that a trigger fired on the box (and going through the content) can
  // act on, when the box knows the others hold nothing for it; nullptr: all of them, as here.
  virtual const std::vector<TvgObject*>* ContentTriggerChildren() { return nullptr; }
  virtual void RealignContent(const TvgRect& r);
  // True when the content's extent depends on the viewport's size (a list that fills its rows
  // or columns to it): the bars then come out of each layout as out of a first one (see Realign).
  virtual bool ExtentFollowsViewport() { return false; }

  // The part of the content the viewport shows, in the content's coordinates (the content
  // clips its children to it): the viewport moved by the scroll bars' values.
  virtual TvgRect GetContentClipRect();
  // The viewport (style part "content") in the box's coordinates; the local rect without style.
  TvgRect GetViewportRect();
  float GetVScrollOffset();
  float GetHScrollOffset();
  float GetViewportHeight();
  float GetViewportWidth();

  TvgScrollContent* GetContent() const { return content_; }
  TvgScrollBar* GetHScrollBar() const { return hbar_; }
  TvgScrollBar* GetVScrollBar() const { return vbar_; }
  TvgVisualObject* GetViewport() const { return viewport_; }
  TvgFloatAnimation* GetHScrollAnimation() const { return hAni_; }
  TvgFloatAnimation* GetVScrollAnimation() const { return vAni_; }
  // The last mouse step of a content drag ((0, 0) when the content did not move since the press).
  TvgPoint GetLastDragStep() const { return lastStep_; }
  // True when the current or last content drag (MouseTracking, from press to release) moved a
  // scroll bar's value, that is scrolled the content; a press starts it false.
  bool GetContentDragged() const { return contentDragged_; }
  // The bar values the content offset is rebuilt from at the next realign. The setters only store:
  // lists clear them with their items and put them back after rebuilding the items.
  float GetRememberedHScroll() const { return rememberedH_; }
  void SetRememberedHScroll(float value) { rememberedH_ = value; }
  float GetRememberedVScroll() const { return rememberedV_; }
  void SetRememberedVScroll(float value) { rememberedV_ = value; }

  bool GetAutoHide() const { return autoHide_; }
  void SetAutoHide(bool value) { autoHide_ = value; }
  bool GetDisableMouseWheel() const { return disableMouseWheel_; }
  void SetDisableMouseWheel(bool value) { disableMouseWheel_ = value; }
  bool GetAnimated() const { return animated_; }
  void SetAnimated(bool value) { animated_ = value; }
  bool GetShowScrollBars() const { return showScrollBars_; }
  void SetShowScrollBars(bool value);
  bool GetShowSizeGrip() const { return showSizeGrip_; }
  void SetShowSizeGrip(bool value);
  bool GetMouseTracking() const { return mouseTracking_; }
  void SetMouseTracking(bool value) { mouseTracking_ = value; }
  bool GetUseSmallScrollBars() const { return useSmallScrollBars_; }
  void SetUseSmallScrollBars(bool value);

 private:
  friend class TvgScrollContent;
  void UpdateScrollBars();
  // Hides the bars shown, as a layout that needs none does, leaving their values and the
  // remembered scroll in force: the passes then start from no bars.
  bool HideBars();
  void TakeBar(TvgScrollBar* bar, bool vertical);
  // Glides `bar` to `target` with the axis's animation (made on first use).
  void AnimateBar(TvgScrollBar* bar, TvgFloatAnimation*& ani, float target);
  static bool BarVisible(TvgScrollBar* bar) { return bar != nullptr && bar->GetVisible(); }

  int32_t layoutCount_ = 0;
  bool autoHide_ = true;
  bool disableMouseWheel_ = false;
  bool dragging_ = false;
  bool contentDragged_ = false;
  TvgFloatAnimation* hAni_ = nullptr;
  TvgFloatAnimation* vAni_ = nullptr;
  bool animated_ = true;
  bool showScrollBars_ = true;
  bool showSizeGrip_ = false;
  bool mouseTracking_ = false;
  bool useSmallScrollBars_ = false;
  float rememberedH_ = 0;
  float rememberedV_ = 0;
  TvgScrollContent* content_ = nullptr;
  TvgScrollBar* hbar_ = nullptr;
  TvgScrollBar* vbar_ = nullptr;
  TvgVisualObject* viewport_ = nullptr;
  TvgPoint pressPoint_;
  TvgPoint lastStep_;
  TvgPoint lastMouse_;
  bool inScrollRealign_ = false;
};

// Scrolls vertically only: the content is as wide as the viewport, and children wider than it
// are cut at its edge instead of bringing up a horizontal bar.
class TvgVertScrollBox : public TvgScrollBox {
  KBL_DECLARE_CLASS(TvgVertScrollBox, TvgScrollBox)
 public:
  explicit TvgVertScrollBox(TComponent* owner);
  TvgRect GetContentBounds() override;
};

class TvgFramedScrollBox : public TvgScrollBox {
  KBL_DECLARE_CLASS(TvgFramedScrollBox, TvgScrollBox)
 public:
  explicit TvgFramedScrollBox(TComponent* owner) : TvgScrollBox(owner) {}
};

class TvgFramedVertScrollBox : public TvgVertScrollBox {
  KBL_DECLARE_CLASS(TvgFramedVertScrollBox, TvgVertScrollBox)
 public:
  explicit TvgFramedVertScrollBox(TComponent* owner);
};
