// The tree of the scene: items nested in items, laid out top to bottom with an indent per level,
// expanded and collapsed through their style's button, selected singly or several at once,
// sorted, moved through with the keyboard and dragged onto one another.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/controls/vg_scrollbox.h"

class TvgTreeView;

// An item of the tree; its child items form its subtree.
class TvgTreeViewItem : public TvgTextControl {
  KBL_DECLARE_CLASS(TvgTreeViewItem, TvgTextControl)
 public:
  explicit TvgTreeViewItem(TComponent* owner);
  ~TvgTreeViewItem() override;

  std::string GetItemClassNames() override { return ClassName(); }
  void ApplyStyle() override;
  void FreeStyle() override;
  // A child item added or taken away changes the tree's layout.
  void AddObject(TvgObject* child) override;
  void RemoveObject(TvgObject* child) override;
  void DesignClick() override;
  void DragEnd() override;

  bool GetIsExpanded() const { return isExpanded_; }
  void SetIsExpanded(bool value);
  bool GetIsChecked() const { return isChecked_; }
  void SetIsChecked(bool value);
  bool GetIsSelected() const { return isSelected_; }
  void SetIsSelected(bool value);
  // The position among the shown items, depth first; -1 while hidden in a collapsed parent.
  int32_t GetGlobalIndex();
  TvgCustomButton* GetButton() const { return button_; }
  TvgCheckBox* GetCheckBox() const { return checkBox_; }
  // The items directly below this one.
  int32_t ChildItemCount() const;
  TvgTreeViewItem* ChildItem(int32_t index) const;
  // The item this one hangs under; nullptr at the top level.
  TvgTreeViewItem* ParentItem() const;
  // Ancestor items up to the tree.
  int32_t Level() const;
  TvgTreeView* TreeView() const;
  // True for this item and every item below it.
  bool Contains(const TvgObject* obj) const;

 protected:
  // Child items that change places are laid out and numbered again (the style's own move to the
  // back when it is applied changes nothing).
  void ChildrenReordering() override;
  void ChildrenReordered() override;

 private:
  friend class TvgTreeView;
  // The child items, in order.
  void ItemsInOrder(std::vector<TvgObject*>& out) const;
  void ButtonClick(TObject*);
  void CheckChanged(TObject*);
  void ShowButton();

  bool isExpanded_ = false;
  TvgCustomButton* button_ = nullptr;
  TvgCheckBox* checkBox_ = nullptr;
  int32_t globalIndex_ = -1;
  bool isChecked_ = false;
  bool isSelected_ = false;
};

using TOnCompareTreeViewItemEvent = TMethod<int32_t(TvgTreeViewItem* item1, TvgTreeViewItem* item2)>;
using TOnTreeViewDragChange = TMethod<void(TObject* source, TvgTreeViewItem* target)>;

class TvgTreeView : public TvgScrollBox {
  KBL_DECLARE_CLASS(TvgTreeView, TvgScrollBox)
 public:
  explicit TvgTreeView(TComponent* owner);
  ~TvgTreeView() override;

  std::string GetItemClassNames() override { return "TvgTreeViewItem"; }
  // Tree items (and selection items) go into the content; other objects to the scroll box.
  void AddObject(TvgObject* child) override;
  void ContentRemoveObject(TvgObject* child) override;
  // Items that change places are numbered again (the layout follows the move).
  void ContentReordered() override;
  void ApplyStyle() override;
  void FreeStyle() override;
  void EnterFocus() override;
  void KillFocus() override;
  void KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  // The tree is never dragged itself: its items are (a press on the selected item starts it).
  void BeginAutoDrag() override {}
  void DragOver(const TvgDragObject& data, const TvgPoint& point, bool& accept) override;
  void DragDrop(const TvgDragObject& data, const TvgPoint& point) override;
  void DragLeave() override;
  void EndUpdate() override;
  // Nothing while the items are being placed.
  void Realign() override;
  // Lays the shown items out (see the source).
  TvgRect GetContentBounds() override;

  // Selects the item (expanding its parents and scrolling it into view) and fires OnChange;
  // nothing when it is the selected one already.
  virtual void SetSelected(TvgTreeViewItem* item);
  // Frees every item and scrolls back to the start.
  void Clear();

  // The selected item while it lies in this tree: nullptr once it left (moved to another tree or
  // apart, with an ancestor item or alone) or was freed, however it went.
  TvgTreeViewItem* GetSelected() const { return Held(selected_); }
  int32_t GetCount() const;
  TvgTreeViewItem* GetItem(int32_t index) const;
  // The shown item of that depth-first position; nullptr outside.
  TvgTreeViewItem* ItemByGlobalIndex(int32_t index);
  // The shown item under a point of the tree's own coordinates; nullptr.
  TvgTreeViewItem* ItemByPoint(float x, float y);
  int32_t GetShownCount();
  // Numbers the shown items now (otherwise done when a number is next needed).
  void Renumber();
  void UpdateSelectionMarks();
  int CompareItems(TvgTreeViewItem* a, TvgTreeViewItem* b);
  // The tree's items changed: numbering is redone on next use, the layout now unless updating.
  void ItemsChanged();

  float GetItemHeight() const { return itemHeight_; }
  void SetItemHeight(float value);
  bool GetHideSelectionUnfocused() const { return hideSelectionUnfocused_; }
  void SetHideSelectionUnfocused(bool value) { hideSelectionUnfocused_ = value; }
  bool GetShowCheckboxes() const { return showCheckboxes_; }
  void SetShowCheckboxes(bool value);
  bool GetSorted() const { return sorted_; }
  void SetSorted(bool value);
  bool GetMultiSelect() const { return multiSelect_; }
  void SetMultiSelect(bool value) { multiSelect_ = value; }
  bool GetAllowDrag() const { return allowDrag_; }
  void SetAllowDrag(bool value);
  TvgTreeViewItem* GetDragOverItem() const { return Held(dragOverItem_); }
  TvgVisualObject* GetSelectionPart() const { return selection_; }
  const std::vector<TvgVisualObject*>& SelectionMarks() const { return selectionMarks_; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChangeCheck;
  TOnCompareTreeViewItemEvent OnCompare;
  TOnTreeViewDragChange OnDragChange;

 private:
  friend class TvgTreeViewItem;
  // Places the item (at `level`, the number of items above it) and, when expanded, its subtree.
  void LayoutItem(TvgTreeViewItem* item, int32_t level, float& x, float& y, float width);
  void SelectRange(TvgTreeViewItem* a, TvgTreeViewItem* b);
  void ScrollIntoView(TvgTreeViewItem* item);
  void ShownItems(std::vector<TvgTreeViewItem*>& out);
  bool Updating() const { return GetUpdateCounter() > 0; }
  // An item the tree keeps (selected, last clicked, dragged over) only counts while it lives and
  // lies in this tree: an item leaves by many ways (freed, moved with SetParent or AddObject,
  // taken out by RemoveObject, with an ancestor item) that the tree does not all hear of, and
  // one moved within the tree stays what it was.
  using THeld = TvgSceneObjectRef<TvgTreeViewItem>;
  TvgTreeViewItem* Held(const THeld& held) const;

  THeld selected_;
  float itemHeight_ = 0;
  bool hideSelectionUnfocused_ = true;
  int32_t shownCount_ = 0;
  bool numbered_ = false;
  bool showCheckboxes_ = false;
  bool sorted_ = false;
  bool multiSelect_ = false;
  THeld lastClicked_;
  TvgVisualObject* selection_ = nullptr;
  std::vector<TvgVisualObject*> selectionMarks_;
  bool allowDrag_ = false;
  THeld dragOverItem_;
  bool layingOut_ = false;
  std::vector<TvgObject*> reorderedItems_;  // an item's child items before their order changes
};

// Registers the tree classes ("Trees", "Items"); runs once at start-up.
void vgInitTreeViewUnit();
