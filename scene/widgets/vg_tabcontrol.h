// Tab pages of the scene: a control whose tab items form a strip along its top edge, each
// carrying a page that shows only while its tab is selected.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/controls/vg_controls.h"

class TvgTabControl;

// A tab of the strip; its Layout (any visual object, not owned) is the page it shows.
class TvgTabItem : public TvgTextControl {
  KBL_DECLARE_CLASS(TvgTabItem, TvgTextControl)
 public:
  explicit TvgTabItem(TComponent* owner);
  ~TvgTabItem() override;

  void ApplyStyle() override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void DesignSelect() override;
  // A new item gets a page of its own (a layout beside it in the tab control).
  void DesignInsert() override;
  // Hiding the selected tab selects the tab that takes its place (or the last one left).
  void SetVisible(bool value) override;
  void Realign() override;

  // Index: the position among the visible tab items (set by the control's layout); -1 before.
  int32_t GetTabIndex() const { return index_; }
  TvgVisualObject* GetLayout() const { return layout_; }
  void SetLayout(TvgVisualObject* value);
  bool GetIsSelected() const { return isSelected_; }
  // Set by the control: stores the flag and runs the item's "IsSelected" triggers.
  void SetIsSelected(bool value);
  TvgTabControl* TabControl() const;

 private:
  friend class TvgTabControl;
  int32_t index_ = -1;
  TvgVisualObject* layout_ = nullptr;
  bool isSelected_ = false;
  bool inItemRealign_ = false;
};

class TvgTabControl : public TvgControl {
  KBL_DECLARE_CLASS(TvgTabControl, TvgControl)
 public:
  explicit TvgTabControl(TComponent* owner);

  std::string GetItemClassNames() override { return "TvgTabItem"; }
  void ApplyStyle() override;
  void FreeStyle() override;
  void AddObject(TvgObject* child) override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  // A tab that leaves while another is selected keeps that one selected; the selected one
  // leaving selects the tab that takes its place (or the last one left), as hiding it does.
  void RemoveObject(TvgObject* child) override;
  // The selected tab is painted last, over its neighbours.
  void PaintChildren() override;
  // Lays the strip, the style and the pages out (see the source).
  void Realign() override;

  int32_t GetItemIndex() const { return itemIndex_; }
  // Selects the tab of that Index (-1: none) and fires OnChange, when it differs.
  void SetItemIndex(int32_t value);
  float GetItemHeight() const { return itemHeight_; }
  void SetItemHeight(float value);
  bool GetFullSize() const { return fullSize_; }
  void SetFullSize(bool value);
  TvgVisualObject* GetBackground() const { return background_; }
  // The visible tab item of that Index; nullptr when none.
  TvgTabItem* ItemOfIndex(int32_t index) const;
  int32_t VisibleCount() const;

  TNotifyEvent OnChange;

 protected:
  // The selected tab stays selected wherever the children's order takes it.
  void ChildrenReordering() override;
  void ChildrenReordered() override;

 private:
  friend class TvgTabItem;
  // Index of every visible tab item: its place among them. Answers them in that order.
  std::vector<TvgTabItem*> NumberItems();
  // The selected tab, once at `oldIndex`, left the strip: the tab now there is selected, or the
  // last one when none is, with OnChange.
  void SelectInPlaceOf(int32_t oldIndex);
  // Hides a page that lies in this control and that its tab no longer shows (the tab left, or
  // took another page).
  void HidePage(TvgVisualObject* page);
  int32_t itemIndex_ = -1;
  TvgTabItem* reorderedSelected_ = nullptr;  // between ChildrenReordering and ChildrenReordered
  float itemHeight_ = 0;
  bool fullSize_ = false;
  TvgVisualObject* background_ = nullptr;
  bool inTabRealign_ = false;
};

class TvgHudTabItem : public TvgTabItem {
  KBL_DECLARE_CLASS(TvgHudTabItem, TvgTabItem)
 public:
  explicit TvgHudTabItem(TComponent* owner) : TvgTabItem(owner) {}
};

class TvgHudTabControl : public TvgTabControl {
  KBL_DECLARE_CLASS(TvgHudTabControl, TvgTabControl)
 public:
  explicit TvgHudTabControl(TComponent* owner) : TvgTabControl(owner) {}
  std::string GetItemClassNames() override { return "TvgHudTabItem"; }
};

// Registers the tab classes ("Controls", "HUD", "Items"); runs once at start-up.
void vgInitTabControlUnit();
