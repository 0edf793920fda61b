// The tree view and its items: numbering of the shown items, layout with indents, selection
// marks, sorting, keys, mouse selection and dragging items onto items.
#include "vg_treeview.h"

#include <algorithm>

#include "scene/core/vg_bitmap.h"
#include "vg_widgets_p.h"

using namespace vg_widgets;

namespace {
constexpr float kIndent = 19;
}  // namespace

KBL_PUBLISHED(TvgTreeViewItem) {
  KBL_PROP(Height).Default(19.0f);
  KBL_PROP(HitTest).Default(false);
  KBL_PROP(AutoTranslate).Default(true);
  KBL_PROP(Font);
  p.Property("Text", &TvgTreeViewItem::GetText, &TvgTreeViewItem::SetText);
  KBL_PROP(TextAlign).Default(vgTextAlignNear);
  KBL_PROP(IsExpanded).Default(false);
  KBL_PROP(IsChecked).Default(false);
  KBL_PROP(IsSelected).Default(false);
}

KBL_PUBLISHED(TvgTreeView) {
  KBL_PROP(Width).Default(100.0f);
  KBL_PROP(Height).Default(100.0f);
  KBL_PROP(CanFocused).Default(true);
  KBL_PROP(ItemHeight).Default(0.0f);
  KBL_PROP(HideSelectionUnfocused).Default(true);
  KBL_PROP(ShowCheckboxes).Default(false);
  KBL_PROP(Sorted).Default(false);
  KBL_PROP(MultiSelect).Default(false);
  KBL_PROP(AllowDrag).Default(false);
  using T = TvgTreeView;
  p.Property("OnChange", &T::OnChange, &T::OnChange);
  p.Property("OnChangeCheck", &T::OnChangeCheck, &T::OnChangeCheck);
  p.Property("OnCompare", &T::OnCompare, &T::OnCompare);
  p.Property("OnDragChange", &T::OnDragChange, &T::OnDragChange);
}

// --- Item

TvgTreeViewItem::TvgTreeViewItem(TComponent* owner) : TvgTextControl(owner) {
  InitWidgetsUnit();
  SetTextAlign(vgTextAlignNear);
  SetHeight(19);
  SetHitTest(false);
  SetCanFocused(false);
  SetAutoTranslate(true);
}

TvgTreeViewItem::~TvgTreeViewItem() {
  Destroying();
  button_ = nullptr;
  checkBox_ = nullptr;
  DestroyTree();
}

TvgTreeView* TvgTreeViewItem::TreeView() const {
  for (TvgObject* p = GetParent(); p != nullptr; p = p->GetParent())
    if (auto* tree = dynamic_cast<TvgTreeView*>(p)) return tree;
  return nullptr;
}

TvgTreeViewItem* TvgTreeViewItem::ParentItem() const { return dynamic_cast<TvgTreeViewItem*>(GetParent()); }

int32_t TvgTreeViewItem::Level() const {
  int32_t level = 0;
  for (TvgTreeViewItem* p = ParentItem(); p != nullptr; p = p->ParentItem()) ++level;
  return level;
}

bool TvgTreeViewItem::Contains(const TvgObject* obj) const {
  for (const TvgObject* p = obj; p != nullptr; p = p->GetParent())
    if (p == this) return true;
  return false;
}

int32_t TvgTreeViewItem::ChildItemCount() const {
  int32_t count = 0;
  for (TvgObject* child : Children()) count += child->Is<TvgTreeViewItem>() ? 1 : 0;
  return count;
}

TvgTreeViewItem* TvgTreeViewItem::ChildItem(int32_t index) const {
  for (TvgObject* child : Children()) {
    auto* item = dynamic_cast<TvgTreeViewItem*>(child);
    if (item != nullptr && index-- == 0) return item;
  }
  return nullptr;
}

int32_t TvgTreeViewItem::GetGlobalIndex() {
  if (TvgTreeView* tree = TreeView()) tree->Renumber();
  return globalIndex_;
}

void TvgTreeViewItem::AddObject(TvgObject* child) {
  inherited::AddObject(child);
  if (!child->Is<TvgTreeViewItem>()) return;
  ShowButton();
  if (TvgTreeView* tree = TreeView()) tree->ItemsChanged();
}

void TvgTreeViewItem::RemoveObject(TvgObject* child) {
  inherited::RemoveObject(child);
  if (!child->Is<TvgTreeViewItem>() || HasState(csDestroying)) return;
  ShowButton();
  if (TvgTreeView* tree = TreeView()) tree->ItemsChanged();
}

void TvgTreeViewItem::ItemsInOrder(std::vector<TvgObject*>& out) const {
  out.clear();
  for (TvgObject* child : Children())
    if (child->Is<TvgTreeViewItem>()) out.push_back(child);
}

void TvgTreeViewItem::ChildrenReordering() {
  inherited::ChildrenReordering();
  if (TvgTreeView* tree = TreeView()) ItemsInOrder(tree->reorderedItems_);
}

void TvgTreeViewItem::ChildrenReordered() {
  inherited::ChildrenReordered();
  TvgTreeView* tree = TreeView();
  if (tree == nullptr) return;
  std::vector<TvgObject*> now;
  ItemsInOrder(now);
  // The tree lays an item's subtree out, not the item: without this the moved items keep their
  // places until the next layout, and the keys walk their old order.
  if (now != tree->reorderedItems_) tree->ItemsChanged();
  tree->reorderedItems_.clear();
}

void TvgTreeViewItem::ShowButton() {
  if (button_ == nullptr) return;
  const bool visible = ChildItemCount() > 0;
  button_->SetVisible(visible);
  if (visible) button_->StartTriggerAnimation(this, "IsExpanded");
}

void TvgTreeViewItem::ApplyStyle() {
  inherited::ApplyStyle();
  button_ = PartOf<TvgCustomButton>(this, "button");
  if (button_ != nullptr) {
    button_->OnClick = TNotifyEvent::Of<&TvgTreeViewItem::ButtonClick>(this);
    ShowButton();
  }
  checkBox_ = PartOf<TvgCheckBox>(this, "check");
  if (checkBox_ != nullptr) {
    checkBox_->SetIsChecked(isChecked_);
    checkBox_->OnChange = TNotifyEvent::Of<&TvgTreeViewItem::CheckChanged>(this);
    TvgTreeView* tree = TreeView();
    checkBox_->SetVisible(tree != nullptr && tree->GetShowCheckboxes());
  }
}

void TvgTreeViewItem::FreeStyle() {
  inherited::FreeStyle();
  button_ = nullptr;
  checkBox_ = nullptr;
}

void TvgTreeViewItem::ButtonClick(TObject*) { SetIsExpanded(!isExpanded_); }

void TvgTreeViewItem::CheckChanged(TObject*) {
  if (checkBox_ == nullptr) return;
  isChecked_ = checkBox_->GetIsChecked();
  if (TvgTreeView* tree = TreeView()) {
    // The tree's change handler may free this item: no check is reported with an item gone.
    const TvgSceneObjectRef<TvgTreeViewItem> item(this);
    tree->SetSelected(this);
    if (item.Get() != nullptr) tree->RunHandler(tree->OnChangeCheck, this);
  }
}

void TvgTreeViewItem::SetIsExpanded(bool value) {
  if (!vgSetChanged(isExpanded_, value)) return;
  if (!IsLoading()) ShowButton();
  if (TvgTreeView* tree = TreeView()) tree->ItemsChanged();
}

void TvgTreeViewItem::SetIsChecked(bool value) {
  if (!vgSetChanged(isChecked_, value)) return;
  if (checkBox_ != nullptr) checkBox_->SetIsChecked(value);
}

void TvgTreeViewItem::SetIsSelected(bool value) {
  if (!vgSetChanged(isSelected_, value)) return;
  FireTrigger("IsSelected");
  if (TvgTreeView* tree = TreeView()) tree->UpdateSelectionMarks();
}

void TvgTreeViewItem::DesignClick() { SetIsExpanded(!isExpanded_); }

void TvgTreeViewItem::DragEnd() {
  inherited::DragEnd();
  if (TvgTreeView* tree = TreeView()) tree->dragOverItem_ = TvgTreeView::THeld();
}

// --- Tree: items and numbering

TvgTreeView::TvgTreeView(TComponent* owner) : TvgScrollBox(owner) {
  InitWidgetsUnit();
  if (GetContent() != nullptr) GetContent()->SetDisableLayout(true);
  SetCanFocused(true);
  SetWidth(100);
  SetHeight(100);
}

TvgTreeView::~TvgTreeView() {
  Destroying();
  selected_ = lastClicked_ = dragOverItem_ = THeld();
  selection_ = nullptr;
  selectionMarks_.clear();  // children of the style
  DestroyTree();
}

void TvgTreeView::AddObject(TvgObject* child) {
  if (GetContent() != nullptr && (child->Is<TvgTreeViewItem>() || child->Is<TvgSelectionItem>())) {
    GetContent()->AddObject(child);
    ItemsChanged();
    return;
  }
  inherited::AddObject(child);
}

void TvgTreeView::ContentRemoveObject(TvgObject* child) {
  inherited::ContentRemoveObject(child);
  if (child->Is<TvgTreeViewItem>() && !HasState(csDestroying)) ItemsChanged();
}

void TvgTreeView::ContentReordered() {
  inherited::ContentReordered();
  numbered_ = false;
}

void TvgTreeView::ItemsChanged() {
  // Numbering waits for its next use: adding many items renumbers once.
  numbered_ = false;
  // Inside an update the layout waits for the end of the outermost one.
  if (!HasState(csDestroying)) Realign();
}

void TvgTreeView::Realign() {
  if (layingOut_) return;
  // Each item added in an update asks for a layout: noted at once, without a repaint batch.
  if (PutOffRealign()) return;
  // Placing the items and showing or hiding the scroll bars repaints each of them: the scene
  // takes one request for all.
  TvgRepaintBatch batch(this);
  inherited::Realign();
}

void TvgTreeView::EndUpdate() {
  // The end of the last update lays the tree out (the visual object's EndUpdate); one without a
  // matching BeginUpdate lays it out here.
  const bool unmatched = GetOwnUpdateCount() == 0;
  inherited::EndUpdate();
  if (unmatched) Realign();
}

int32_t TvgTreeView::GetCount() const {
  int32_t count = 0;
  if (GetContent() == nullptr) return 0;
  for (TvgObject* child : GetContent()->Children()) count += child->Is<TvgTreeViewItem>() ? 1 : 0;
  return count;
}

TvgTreeViewItem* TvgTreeView::GetItem(int32_t index) const {
  if (GetContent() == nullptr) return nullptr;
  for (TvgObject* child : GetContent()->Children()) {
    auto* item = dynamic_cast<TvgTreeViewItem*>(child);
    if (item != nullptr && index-- == 0) return item;
  }
  return nullptr;
}

void TvgTreeView::Renumber() {
  if (numbered_ || GetContent() == nullptr) return;
  int32_t next = 0;
  std::vector<TvgObject*> pending(GetContent()->Children().rbegin(), GetContent()->Children().rend());
  // Hidden items (below a collapsed item) keep no number.
  std::vector<TvgObject*> all;
  GetContent()->AddObjectsToList(all);
  for (TvgObject* obj : all)
    if (auto* item = dynamic_cast<TvgTreeViewItem*>(obj)) item->globalIndex_ = -1;
  while (!pending.empty()) {
    auto* item = dynamic_cast<TvgTreeViewItem*>(pending.back());
    pending.pop_back();
    if (item == nullptr) continue;
    item->globalIndex_ = next++;
    if (item->isExpanded_) pending.insert(pending.end(), item->Children().rbegin(), item->Children().rend());
  }
  shownCount_ = next;
  numbered_ = true;
}

int32_t TvgTreeView::GetShownCount() {
  Renumber();
  return shownCount_;
}

void TvgTreeView::ShownItems(std::vector<TvgTreeViewItem*>& out) {
  out.clear();
  if (GetContent() == nullptr) return;
  std::vector<TvgObject*> pending(GetContent()->Children().rbegin(), GetContent()->Children().rend());
  while (!pending.empty()) {
    auto* item = dynamic_cast<TvgTreeViewItem*>(pending.back());
    pending.pop_back();
    if (item == nullptr) continue;
    out.push_back(item);
    if (item->isExpanded_) pending.insert(pending.end(), item->Children().rbegin(), item->Children().rend());
  }
}

TvgTreeViewItem* TvgTreeView::ItemByGlobalIndex(int32_t index) {
  std::vector<TvgTreeViewItem*> shown;
  ShownItems(shown);
  return index >= 0 && index < static_cast<int32_t>(shown.size()) ? shown[static_cast<size_t>(index)] : nullptr;
}

TvgTreeViewItem* TvgTreeView::ItemByPoint(float x, float y) {
  const TvgPoint p = LocalToAbsolute(vgPoint(x, y));
  if (!vgPtInRect(vgPoint(x, y), GetViewportRect())) return nullptr;
  std::vector<TvgTreeViewItem*> shown;
  ShownItems(shown);
  for (TvgTreeViewItem* item : shown)
    if (item->GetVisible() && item->PointInObject(p.X, p.Y)) return item;
  return nullptr;
}

void TvgTreeView::Clear() {
  if (GetContent() == nullptr) return;
  BeginUpdate();
  const auto& children = GetContent()->Children();
  for (size_t i = children.size(); i > 0; --i)
    if (children[i - 1]->Is<TvgTreeViewItem>()) delete children[i - 1];
  selected_ = lastClicked_ = dragOverItem_ = THeld();
  if (GetHScrollBar() != nullptr) GetHScrollBar()->SetValue(0);
  if (GetVScrollBar() != nullptr) GetVScrollBar()->SetValue(0);
  numbered_ = false;
  EndUpdate();
}

// --- Properties

void TvgTreeView::SetItemHeight(float value) {
  if (vgSetChanged(itemHeight_, value)) Realign();
}

void TvgTreeView::SetSorted(bool value) {
  if (vgSetChanged(sorted_, value)) Realign();
}

void TvgTreeView::SetShowCheckboxes(bool value) {
  if (!vgSetChanged(showCheckboxes_, value)) return;
  if (GetContent() == nullptr) return;
  std::vector<TvgObject*> all;
  GetContent()->AddObjectsToList(all);
  for (TvgObject* obj : all)
    if (auto* item = dynamic_cast<TvgTreeViewItem*>(obj); item != nullptr && item->checkBox_ != nullptr)
      item->checkBox_->SetVisible(value);
}

void TvgTreeView::SetAllowDrag(bool value) {
  if (!vgSetChanged(allowDrag_, value)) return;
  if (value) SetDragMode(vgDragAutomatic);
}

// --- Layout

int TvgTreeView::CompareItems(TvgTreeViewItem* a, TvgTreeViewItem* b) {
  if (OnCompare) return RunHandler(OnCompare, a, b);
  return vgWideCompareText(a->GetText(), b->GetText());
}

void TvgTreeView::LayoutItem(TvgTreeViewItem* item, int32_t level, float& x, float& y, float width) {
  const TvgRect pad = item->GetPadding()->GetRect();
  // The cursor is a point of the content; the item is placed in its parent's coordinates.
  const TvgPoint cursor = GetContent()->LocalToAbsolute(vgPoint(x, y));
  TvgObject* parent = item->GetParent();
  const TvgPoint at = parent != nullptr && parent->IsVisual() ? parent->Visual()->AbsoluteToLocal(cursor) : vgPoint(x, y);
  const float height = itemHeight_ != 0 ? itemHeight_ : item->GetHeight();
  item->SetBounds(at.X + pad.Left, at.Y + pad.Top, width - pad.Left - pad.Right - kIndent * static_cast<float>(level),
                  height);
  const bool hasItems = item->ChildItemCount() > 0;
  if (item->button_ != nullptr) item->button_->SetVisible(hasItems);
  y += height + pad.Top + pad.Bottom;
  if (!hasItems) return;
  if (item->isExpanded_) {
    x += kIndent;
    for (TvgObject* child : item->Children()) {
      auto* sub = dynamic_cast<TvgTreeViewItem*>(child);
      if (sub == nullptr) continue;
      sub->SetVisible(true);
      sub->SetOpacity(1);
      LayoutItem(sub, level + 1, x, y, width);
    }
    x -= kIndent;
    return;
  }
  std::vector<TvgObject*> below;
  item->AddObjectsToList(below);
  for (TvgObject* obj : below) {
    auto* sub = dynamic_cast<TvgTreeViewItem*>(obj);
    if (sub == nullptr || sub == item) continue;
    sub->SetVisible(false);
    sub->SetOpacity(0);
  }
}

TvgRect TvgTreeView::GetContentBounds() {
  TvgRect r = inherited::GetContentBounds();
  if (Updating() || GetContent() == nullptr || GetViewport() == nullptr) return r;
  r = vgRect(0, 0, GetViewport()->GetWidth(), GetViewport()->GetHeight());
  if (sorted_) {
    GetContent()->SortChildren([this](TvgObject* a, TvgObject* b) {
      auto* ia = dynamic_cast<TvgTreeViewItem*>(a);
      auto* ib = dynamic_cast<TvgTreeViewItem*>(b);
      return ia != nullptr && ib != nullptr ? CompareItems(ia, ib) : 0;
    });
    numbered_ = false;
  }
  Renumber();
  float x = 0, y = 0;
  {
    TLayoutPass pass(this, layingOut_);
    for (TvgObject* child : GetContent()->Children())
      if (auto* item = dynamic_cast<TvgTreeViewItem*>(child)) LayoutItem(item, 0, x, y, vgRectWidth(r));
  }
  r.Bottom = r.Top + std::max(y, 1.0f);
  UpdateSelectionMarks();
  return r;
}

// --- Selection

void TvgTreeView::UpdateSelectionMarks() {
  if (selection_ == nullptr || selection_->GetParent() == nullptr || !selection_->GetParent()->IsVisual()) return;
  TvgVisualObject* parent = selection_->GetParent()->Visual();
  std::vector<TvgTreeViewItem*> shown;
  ShownItems(shown);
  std::vector<TvgRect> rects;
  bool previousSelected = false;
  for (TvgTreeViewItem* item : shown) {
    if (item->isSelected_) {
      const TvgPoint p = parent->AbsoluteToLocal(item->LocalToAbsolute(vgPoint(0, 0)));
      const TvgRect r = vgRect(p.X, p.Y, p.X + item->GetWidth(), p.Y + item->GetHeight());
      if (previousSelected && !rects.empty()) rects.back() = vgUnionRect(rects.back(), r);
      else rects.push_back(r);
    }
    previousSelected = item->isSelected_;
  }
  UpdateMarkers(selection_, this, selectionMarks_, rects, !hideSelectionUnfocused_ || GetIsFocused());
}

void TvgTreeView::ApplyStyle() {
  inherited::ApplyStyle();
  selectionMarks_.clear();
  TvgObject* selection = FindResource("selection");
  selection_ = selection != nullptr && selection->IsVisual() ? selection->Visual() : nullptr;
  if (selection_ != nullptr) selection_->SetVisible(false);
  UpdateSelectionMarks();
}

void TvgTreeView::FreeStyle() {
  inherited::FreeStyle();
  selection_ = nullptr;
  selectionMarks_.clear();
}

void TvgTreeView::EnterFocus() {
  inherited::EnterFocus();
  if (GetSelected() != nullptr) UpdateSelectionMarks();
}

void TvgTreeView::KillFocus() {
  inherited::KillFocus();
  if (GetSelected() != nullptr) UpdateSelectionMarks();
}

void TvgTreeView::ScrollIntoView(TvgTreeViewItem* item) {
  TvgScrollBar* bar = GetVScrollBar();
  if (bar == nullptr || GetViewport() == nullptr) return;
  const TvgRect pad = item->GetPadding()->GetRect();
  const TvgRect viewport = GetViewport()->GetAbsoluteRect();
  const TvgRect itemRect = item->GetAbsoluteRect();
  if (itemRect.Top < viewport.Top) bar->SetValue(bar->GetValue() - (viewport.Top - itemRect.Top));
  else if (itemRect.Bottom + pad.Bottom > viewport.Bottom)
    bar->SetValue(bar->GetValue() + (itemRect.Bottom + pad.Bottom - viewport.Bottom));
}

TvgTreeViewItem* TvgTreeView::Held(const THeld& held) const {
  TvgTreeViewItem* item = held.Get();
  return item != nullptr && item->TreeView() == this ? item : nullptr;
}

void TvgTreeView::SetSelected(TvgTreeViewItem* item) {
  TvgTreeViewItem* old = GetSelected();  // one that left is another tree's (or none's) to mark
  if (item == old) return;
  if (!multiSelect_ && old != nullptr) old->SetIsSelected(false);
  selected_ = item;
  if (item != nullptr) {
    for (TvgTreeViewItem* p = item->ParentItem(); p != nullptr; p = p->ParentItem()) p->SetIsExpanded(true);
    Realign();
    ScrollIntoView(item);
    item->SetIsSelected(true);
  }
  RunHandler(OnChange, this);
}

void TvgTreeView::SelectRange(TvgTreeViewItem* a, TvgTreeViewItem* b) {
  if (a == nullptr) a = b;
  int32_t low = a->GetGlobalIndex(), high = b->GetGlobalIndex();
  if (low > high) std::swap(low, high);
  std::vector<TvgObject*> all;
  GetContent()->AddObjectsToList(all);
  for (TvgObject* obj : all) {
    auto* item = dynamic_cast<TvgTreeViewItem*>(obj);
    if (item == nullptr) continue;
    const int32_t index = item->globalIndex_;
    item->SetIsSelected(index >= low && index <= high && index >= 0);
  }
}

// --- Keys and mouse

void TvgTreeView::KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) {
  inherited::KeyDown(key, keyChar, shift);
  TvgTreeViewItem* selected = GetSelected();
  if (GetCount() == 0 || selected == nullptr) return;
  const int32_t index = selected->GetGlobalIndex();
  const int32_t last = GetShownCount() - 1;
  switch (key) {
    case kKeyDown:
      if (index < last) SetSelected(ItemByGlobalIndex(index + 1));
      break;
    case kKeyUp:
      if (index > 0) SetSelected(ItemByGlobalIndex(index - 1));
      break;
    case kKeyHome:
      SetSelected(ItemByGlobalIndex(0));
      break;
    case kKeyEnd:
      SetSelected(ItemByGlobalIndex(last));
      break;
    case kKeyAdd:
      selected->SetIsExpanded(true);
      break;
    case kKeySubtract:
      selected->SetIsExpanded(false);
      break;
    default:
      return;
  }
  key = 0;
}

void TvgTreeView::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  TvgTreeViewItem* item = ItemByPoint(x, y);
  if (item == nullptr) return;
  if (multiSelect_) {
    if (shift.Contains(ssCtrl)) item->SetIsSelected(!item->isSelected_);
    else if (shift.Contains(ssShift) && GetSelected() != nullptr) SelectRange(GetSelected(), item);
    else SelectRange(item, item);
    if (!shift.Contains(ssCtrl) || item->isSelected_) SetSelected(item);
    lastClicked_ = item;
    return;
  }
  if (item != GetSelected()) {
    SetSelected(item);
  } else if (allowDrag_ && GetScene() != nullptr) {
    std::unique_ptr<TvgBitmap> picture(MakeScreenshot());
    GetScene()->BeginNativeDrag(item, picture.get());
  }
}

void TvgTreeView::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  lastClicked_ = THeld();
}

// --- Dragging onto items

void TvgTreeView::DragOver(const TvgDragObject& data, const TvgPoint& point, bool& accept) {
  inherited::DragOver(data, point, accept);
  const TvgPoint local = AbsoluteToLocal(point);
  TvgTreeViewItem* item = ItemByPoint(local.X, local.Y);
  if (TvgTreeViewItem* over = GetDragOverItem(); item != over) {
    if (over != nullptr) over->DragLeave();
    dragOverItem_ = item;
    if (item != nullptr) item->DragEnter(data, point);
  }
  // An item never goes under itself or under one of its own descendants.
  auto* dragged = dynamic_cast<TvgTreeViewItem*>(data.Source);
  accept = item != nullptr && item != GetSelected() && !(dragged != nullptr && dragged->Contains(item));
}

void TvgTreeView::DragLeave() {
  inherited::DragLeave();
  if (TvgTreeViewItem* over = GetDragOverItem()) over->DragLeave();
  dragOverItem_ = THeld();
}

void TvgTreeView::DragDrop(const TvgDragObject& data, const TvgPoint& point) {
  inherited::DragDrop(data, point);
  TvgTreeViewItem* target = GetDragOverItem();
  dragOverItem_ = THeld();
  auto* dragged = dynamic_cast<TvgObject*>(data.Source);
  auto* draggedItem = dynamic_cast<TvgTreeViewItem*>(data.Source);
  if (target != nullptr && draggedItem != nullptr && draggedItem->Contains(target)) return;
  if (target != nullptr) {
    RunHandler(OnDragChange, data.Source, target);
    target->SetIsExpanded(true);
    if (dragged != nullptr && dragged != target) dragged->SetParent(target);
  } else {
    RunHandler(OnDragChange, data.Source, nullptr);
    // Never an object that holds the tree itself.
    bool holdsTree = false;
    for (TvgObject* p = this; p != nullptr && !holdsTree; p = p->GetParent()) holdsTree = p == dragged;
    if (dragged != nullptr && !holdsTree) dragged->SetParent(this);
  }
  ItemsChanged();
  Realign();
}

// --- Registration

void vgInitTreeViewUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  vgRegisterObjects("Trees", {TvgTreeView::StaticClassInfo()});
  vgRegisterObjects("Items", {TvgTreeViewItem::StaticClassInfo()});
}
