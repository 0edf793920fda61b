// The list item and the list box: layout in rows and columns, selection with its markers,
// alternating rows, sorting, keys and mouse.
#include "vg_listbox.h"

#include <algorithm>
#include <unordered_map>

#include "scene/core/vg_canvas.h"
#include "vg_widgets_p.h"

using namespace vg_widgets;

KBL_PUBLISHED(TvgListBoxItem) {
  KBL_PROP(Width).Default(19.0f);
  KBL_PROP(Height).Default(19.0f);
  KBL_PROP(HitTest).Default(false);
  KBL_PROP(IsChecked).Default(false);
  KBL_PROP(IsSelected).Default(false);
  KBL_PROP(AutoTranslate).Default(true);
  KBL_PROP(Font);
  p.Property("Text", &TvgListBoxItem::GetText, &TvgListBoxItem::SetText);
  KBL_PROP(TextAlign).Default(vgTextAlignNear);
  p.Property("WordWrap", &TvgListBoxItem::GetWordWrap, &TvgListBoxItem::SetWordWrap).Default(false);
}

KBL_PUBLISHED(TvgListBox) {
  KBL_PROP(Width).Default(100.0f);
  KBL_PROP(Height).Default(100.0f);
  KBL_PROP(CanFocused).Default(true);
  KBL_PROP(DisableFocusEffect).Default(false);
  KBL_PROP(BindingSource);
  KBL_PROP(HideSelectionUnfocused).Default(true);
  KBL_PROP(ShowCheckboxes).Default(false);
  KBL_PROP(Sorted).Default(false);
  KBL_PROP(MultiSelect).Default(false);
  KBL_PROP(AlternatingRowBackground).Default(false);
  KBL_PROP(Columns).Default(1);
  KBL_PROP(ItemWidth).Default(0.0f);
  KBL_PROP(ItemHeight).Default(0.0f);
  KBL_PROP(ListStyle).Default(vgListVertical);
  KBL_PROP(ItemIndex).Default(-1);
  using L = TvgListBox;
  p.Property("OnChange", &L::OnChange, &L::OnChange);
  p.Property("OnChangeCheck", &L::OnChangeCheck, &L::OnChangeCheck);
  p.Property("OnCompare", &L::OnCompare, &L::OnCompare);
}

// --- List item

TvgListBoxItem::TvgListBoxItem(TComponent* owner) : TvgTextControl(owner) {
  InitWidgetsUnit();
  GetPosition()->SetPoint(vgPoint(5000, 5000));
  SetTextAlign(vgTextAlignNear);
  SetAutoTranslate(true);
  SetWidth(19);
  SetHeight(19);
  SetHitTest(false);
}

TvgListBoxItem::~TvgListBoxItem() {
  checkBox_ = nullptr;
  DestroyTree();
}

TvgComboBox* TvgListBoxItem::ComboBox() const {
  for (TvgObject* p = GetParent(); p != nullptr; p = p->GetParent())
    if (auto* combo = dynamic_cast<TvgComboBox*>(p)) return combo;
  return nullptr;
}

TvgListBox* TvgListBoxItem::ListBox() const {
  for (TvgObject* p = GetParent(); p != nullptr; p = p->GetParent()) {
    if (auto* list = dynamic_cast<TvgListBox*>(p)) return list;
    if (auto* combo = dynamic_cast<TvgComboBox*>(p)) return combo->ListBoxAsItStands();
  }
  return nullptr;
}

void TvgListBoxItem::ApplyStyle() {
  inherited::ApplyStyle();
  checkBox_ = PartOf<TvgCheckBox>(this, "check");
  if (checkBox_ == nullptr) return;
  checkBox_->SetIsChecked(isChecked_);
  checkBox_->OnChange = TNotifyEvent::Of<&TvgListBoxItem::CheckChanged>(this);
  TvgListBox* list = ListBox();
  checkBox_->SetVisible(list != nullptr && list->GetShowCheckboxes());
}

void TvgListBoxItem::FreeStyle() {
  inherited::FreeStyle();
  checkBox_ = nullptr;
}

void TvgListBoxItem::CheckChanged(TObject*) {
  if (checkBox_ == nullptr) return;
  isChecked_ = checkBox_->GetIsChecked();
  TvgListBox* list = ListBox();
  if (list == nullptr) return;
  list->SetFocus();
  list->SetItemIndex(GetIndex());
  list->OnChangeCheck(this);
}

void TvgListBoxItem::SetIsChecked(bool value) {
  if (!vgSetChanged(isChecked_, value)) return;
  if (checkBox_ != nullptr) checkBox_->SetIsChecked(value);
}

void TvgListBoxItem::SetIsSelected(bool value) {
  if (!vgSetChanged(isSelected_, value)) return;
  FireTrigger("IsSelected");
  TvgListBox* list = ListBox();
  if (list == nullptr) return;
  if (value && !list->GetMultiSelect()) list->SetItemIndex(GetIndex());
  else list->UpdateSelection();
}

void TvgListBoxItem::Select(TvgVisualObject*) {
  if (TvgListBox* list = ListBox()) list->SetItemIndex(GetIndex());
}

void TvgListBoxItem::DesignSelect() {
  if (TvgComboBox* combo = ComboBox()) combo->DesignClick();
}

void TvgListBoxItem::DesignInsert() {
  if (TvgComboBox* combo = ComboBox()) combo->DesignClick();
}

void TvgListBoxItem::Paint() {
  inherited::Paint();
  if (IsDesigning() && !GetLocked() && !GetDesignHide()) vgPaintDesignFrame(*this);
}

// --- Lines that lists are made from

template <typename Change>
void TvgItemLines::Noting(TvgLineChange note, Change change) {
  // The note is taken by Changed, which the list calls only once it changed the lines, and
  // before the list's own handlers hear of it.
  pending_ = std::move(note);
  hasPending_ = true;
  try {
    change();
  } catch (...) {
    hasPending_ = false;
    throw;
  }
  hasPending_ = false;
}

void TvgItemLines::Changed() {
  if (hasPending_) {
    hasPending_ = false;
    changes_.push_back(std::move(pending_));
  }
  TvgWideStringList::Changed();
}

void TvgItemLines::Put(int32_t index, const WideString& text) {
  Noting({TvgLineChange::Put, index, 0, text}, [&] { TvgWideStringList::Put(index, text); });
}

void TvgItemLines::Exchange(int32_t index1, int32_t index2) {
  Noting({TvgLineChange::Exchange, index1, index2, {}}, [&] { TvgWideStringList::Exchange(index1, index2); });
}

void TvgItemLines::Insert(int32_t index, const WideString& text) {
  Noting({TvgLineChange::Insert, index, 0, text}, [&] { TvgWideStringList::Insert(index, text); });
}

int32_t TvgItemLines::Add(const WideString& text) {
  // Where the list puts it: in order when sorted, else at the end.
  int32_t index = GetCount();
  if (GetSorted() && !GetSortByObject()) Find(text, index);
  int32_t result = -1;
  Noting({TvgLineChange::Insert, index, 0, text}, [&] { result = TvgWideStringList::Add(text); });
  return result;
}

void TvgItemLines::Delete(int32_t index) {
  Noting({TvgLineChange::Delete, index, 0, {}}, [&] { TvgWideStringList::Delete(index); });
}

void TvgItemLines::Clear() {
  Noting({TvgLineChange::Clear, 0, 0, {}}, [&] { TvgWideStringList::Clear(); });
}

void TvgItemLines::Sort() {
  Noting({TvgLineChange::Any, 0, 0, {}}, [&] { TvgWideStringList::Sort(); });
}

std::vector<TvgLineChange> TvgItemLines::TakeChanges() {
  std::vector<TvgLineChange> taken;
  taken.swap(changes_);
  return taken;
}

// --- List box: construction and data

TvgListBox::TvgListBox(TComponent* owner) : TvgScrollBox(owner), altRowBrush_(new TvgBrush(vgBrushSolid, 0x20000000u)) {
  InitWidgetsUnit();
  // The list places its items itself.
  if (GetContent() != nullptr) GetContent()->SetDisableLayout(true);
  SetCanFocused(true);
  SetAutoCapture(true);
  SetWidth(100);
  SetHeight(100);
}

TvgListBox::~TvgListBox() {
  selection_ = nullptr;
  selectionClones_.clear();  // children of the style, freed with it
  DestroyTree();
  delete altRowBrush_;
}

Variant TvgListBox::GetData() {
  TvgListBoxItem* item = GetSelected();
  return Variant(item != nullptr ? item->GetText() : WideString());
}

void TvgListBox::SetData(const Variant& value) {
  if (TvgListBoxItem* item = GetSelected()) item->SetText(value.ToWideString());
}

void TvgListBox::AddObject(TvgObject* child) {
  if (GetContent() != nullptr && (child->Is<TvgListBoxItem>() || child->Is<TvgSelectionItem>())) {
    GetContent()->AddObject(child);
    return;
  }
  inherited::AddObject(child);
}

int32_t TvgListBox::Count() const { return GetContent() != nullptr ? GetContent()->GetChildrenCount() : 0; }

TvgListBoxItem* TvgListBox::ItemByIndex(int32_t index) const {
  if (GetContent() == nullptr) return nullptr;
  return dynamic_cast<TvgListBoxItem*>(GetContent()->GetChild(index));
}

TvgListBoxItem* TvgListBox::ItemByPoint(float x, float y) {
  if (GetContent() == nullptr) return nullptr;
  SettleLines();
  const TvgPoint p = LocalToAbsolute(vgPoint(x, y));
  for (TvgObject* child : GetContent()->Children()) {
    auto* item = dynamic_cast<TvgListBoxItem*>(child);
    if (item != nullptr && item->GetVisible() && item->PointInObject(p.X, p.Y)) return item;
  }
  return nullptr;
}

// --- Content changes and style

void TvgListBox::ContentAddObject(TvgObject* child) {
  inherited::ContentAddObject(child);
  if (!followingLines_) linesFollowed_ = false;
  // Inside an update the layout waits for the end of the outermost one.
  if (child->Is<TvgListBoxItem>()) Realign();
}

void TvgListBox::ContentRemovingObject(TvgObject* child) {
  inherited::ContentRemovingObject(child);
  if (!followingLines_) linesFollowed_ = false;
  if (itemIndex_ <= 0 || clearing_ || HasState(csDestroying)) return;
  // The index keeps naming the selected item, which moves up one place; the layout would
  // otherwise mark the item taking its old place as selected beside it.
  if (child->GetIndex() < itemIndex_) --itemIndex_;
}

void TvgListBox::ContentReordering() {
  inherited::ContentReordering();
  reorderedSelected_ = GetSelected();
}

void TvgListBox::ContentReordered() {
  inherited::ContentReordered();
  if (!followingLines_ && !sortingItems_) linesFollowed_ = false;
  // The index keeps naming the selected item wherever it went; the layout would otherwise mark
  // the item now in its old place as selected beside it.
  if (reorderedSelected_ != nullptr) itemIndex_ = reorderedSelected_->GetIndex();
  reorderedSelected_ = nullptr;
}

void TvgListBox::ContentRemoveObject(TvgObject* child) {
  inherited::ContentRemoveObject(child);
  if (auto* item = dynamic_cast<TvgListBoxItem*>(child)) {
    item->isSelected_ = false;  // no longer ours: the list does not hear of it again
    if (dragItem_ == item) dragItem_ = nullptr;
  }
  // Inside an update the layout waits for the end of the outermost one.
  if (!HasState(csDestroying)) Realign();
}

void TvgListBox::ApplyStyle() {
  inherited::ApplyStyle();
  if (TvgObject* content = FindResource("content"); content != nullptr && content->IsVisual())
    content->Visual()->OnBeforePaint = TOnPaintEvent::Of<&TvgListBox::PaintAlternatingRows>(this);
  selectionClones_.clear();
  selection_ = nullptr;
  if (TvgObject* selection = FindResource("selection"); selection != nullptr && selection->IsVisual()) {
    selection_ = selection->Visual();
    selection_->SetVisible(false);
    UpdateSelection();
  }
  TvgObject* alt = FindResource("AlternatingRowBackground");
  if (auto* brush = dynamic_cast<TvgBrushObject*>(alt)) altRowBrush_->Assign(brush->GetBrush());
  else if (alt != nullptr && alt->IsVisual()) alt->Visual()->SetVisible(false);
}

void TvgListBox::FreeStyle() {
  inherited::FreeStyle();
  selection_ = nullptr;
  selectionClones_.clear();  // they went with the style
}

void TvgListBox::EnterFocus() {
  inherited::EnterFocus();
  if (hideSelectionUnfocused_ && GetSelected() != nullptr) UpdateSelection();
}

void TvgListBox::KillFocus() {
  inherited::KillFocus();
  if (hideSelectionUnfocused_ && GetSelected() != nullptr) UpdateSelection();
}

void TvgListBox::HScrollChange(TObject* sender) {
  inherited::HScrollChange(sender);
  UpdateSelection();
}

void TvgListBox::VScrollChange(TObject* sender) {
  inherited::VScrollChange(sender);
  UpdateSelection();
}

// --- Properties

void TvgListBox::SetShowCheckboxes(bool value) {
  if (value == showCheckboxes_ || GetContent() == nullptr) {
    showCheckboxes_ = value;
    return;
  }
  showCheckboxes_ = value;
  // Items and the items nested in them.
  std::vector<TvgObject*> all;
  GetContent()->AddObjectsToList(all);
  for (TvgObject* obj : all)
    if (auto* item = dynamic_cast<TvgListBoxItem*>(obj); item != nullptr && item->GetCheckBox() != nullptr)
      item->GetCheckBox()->SetVisible(value);
}

void TvgListBox::SetSorted(bool value) {
  if (value == sorted_) return;
  SettleLines();  // with the order it was put off in
  sorted_ = value;
  Realign();
}

void TvgListBox::SetMultiSelect(bool value) {
  if (!vgSetChanged(multiSelect_, value)) return;
  if (!value) DeselectAll();
}

void TvgListBox::SetAlternatingRowBackground(bool value) {
  if (vgSetChanged(alternatingRowBackground_, value)) Repaint();
}

// A layout put off while the list was hidden runs before the setters change what it depends on:
// its scroll to the selected item is the one it would have taken at once.

void TvgListBox::SetColumns(int32_t value) {
  SettleLines();
  columns_ = std::max(value, 1);
  Realign();
}

void TvgListBox::SetItemWidth(float value) {
  if (value == itemWidth_) return;
  SettleLines();
  itemWidth_ = value;
  Realign();
}

void TvgListBox::SetItemHeight(float value) {
  if (value == itemHeight_) return;
  SettleLines();
  itemHeight_ = value;
  Realign();
}

void TvgListBox::SetListStyle(TvgListStyle value) {
  if (value == listStyle_) return;
  SettleLines();
  listStyle_ = value;
  Realign();
}

// --- Layout

void TvgListBox::Realign() {
  if (layingOut_) return;
  if (followingLines_) {
    layoutHeld_ = true;
    return;
  }
  if (settleOwed_) {
    SettleLines();  // lays out
    return;
  }
  // Each item added in an update asks for a layout: noted at once, without a repaint batch.
  if (PutOffRealign()) return;
  // Placing the items and showing or hiding the scroll bars repaints each of them: the scene
  // takes one request for all.
  TvgRepaintBatch batch(this);
  inherited::Realign();
}

void TvgListBox::BeforePaint() {
  inherited::BeforePaint();
  SettleLines();
}

TvgRect TvgListBox::GetContentBounds() {
  TvgRect r = GetLocalRect();
  if (GetUpdateCounter() > 0 || GetViewport() == nullptr) return r;
  r = vgRect(0, 0, GetViewport()->GetWidth(), GetViewport()->GetHeight());
  if (GetContent() != nullptr) {
    SortItems();
    if (!multiSelect_) {
      if (TvgListBoxItem* item = GetSelected()) item->isSelected_ = true;
    }
    TLayoutPass pass(this, layingOut_);
    r = listStyle_ == vgListVertical ? LayoutVertical(r) : LayoutHorizontal(r);
  }
  UpdateSelection();
  return r;
}

TvgRect TvgListBox::LayoutVertical(const TvgRect& bounds) {
  TvgRect r = bounds;
  const float width = vgRectWidth(r);
  const auto& children = GetContent()->Children();
  if (itemWidth_ != 0) {
    columns_ = std::max(static_cast<int32_t>(Trunc(width / itemWidth_)), 1);
    for (TvgObject* child : children) {
      if (!child->IsVisual()) continue;
      TvgVisualObject* v = child->Visual();
      v->SetWidth(itemWidth_);
      if (itemHeight_ != 0) v->SetHeight(itemHeight_);
    }
  } else if (itemHeight_ != 0) {
    for (TvgObject* child : children)
      if (child->IsVisual()) child->Visual()->SetHeight(itemHeight_);
  }
  const float columnWidth = itemWidth_ != 0 ? itemWidth_ : width / static_cast<float>(columns_);
  const size_t count = children.size();
  const auto cols = static_cast<size_t>(columns_);
  float top = 0;
  for (size_t row = 0; row * cols < count; ++row) {
    const size_t first = row * cols, last = std::min(first + cols, count);
    // The tallest item of the row, paddings included, sets the row's height.
    float rowHeight = 0;
    for (size_t i = first; i < last; ++i) {
      auto* item = dynamic_cast<TvgListBoxItem*>(children[i]);
      if (item == nullptr) continue;
      const TvgRect pad = item->GetPadding()->GetRect();
      rowHeight = std::max(rowHeight, item->GetHeight() + pad.Top + pad.Bottom);
    }
    for (size_t i = first; i < last; ++i) {
      if (!children[i]->IsVisual()) continue;
      TvgVisualObject* v = children[i]->Visual();
      const TvgRect pad = v->GetPadding()->GetRect();
      const float height = dynamic_cast<TvgListBoxItem*>(v) != nullptr ? rowHeight - pad.Top - pad.Bottom : v->GetHeight();
      v->SetBounds(static_cast<float>(i - first) * columnWidth + pad.Left, top + pad.Top, columnWidth, height);
    }
    top += rowHeight;
  }
  if (top > 0) r.Bottom = r.Top + top;
  if (itemWidth_ != 0) r.Right = r.Left + static_cast<float>(columns_) * itemWidth_;
  return r;
}

TvgRect TvgListBox::LayoutHorizontal(const TvgRect& bounds) {
  TvgRect r = bounds;
  const float height = vgRectHeight(r);
  const auto& children = GetContent()->Children();
  if (itemHeight_ != 0) {
    const TvgRect own = GetPadding()->GetRect();
    columns_ = std::max(static_cast<int32_t>(Trunc((height - own.Top - own.Bottom) / itemHeight_)), 1);
    for (TvgObject* child : children) {
      if (!child->IsVisual()) continue;
      TvgVisualObject* v = child->Visual();
      if (itemWidth_ != 0) v->SetWidth(itemWidth_);
      v->SetHeight(itemHeight_);
    }
  } else if (itemWidth_ != 0) {
    for (TvgObject* child : children)
      if (child->IsVisual()) child->Visual()->SetWidth(itemWidth_);
  }
  if (itemIndex_ > Count() - 1) itemIndex_ = Count() - 1;
  const float rowHeight = itemHeight_ != 0 ? itemHeight_ : height / static_cast<float>(columns_);
  const size_t count = children.size();
  const auto rows = static_cast<size_t>(columns_);
  float left = 0;
  for (size_t group = 0; group * rows < count; ++group) {
    const size_t first = group * rows, last = std::min(first + rows, count);
    float groupWidth = 0;
    for (size_t i = first; i < last; ++i) {
      auto* item = dynamic_cast<TvgListBoxItem*>(children[i]);
      if (item == nullptr) continue;
      const TvgRect pad = item->GetPadding()->GetRect();
      groupWidth = std::max(groupWidth, item->GetWidth() + pad.Left + pad.Right);
    }
    for (size_t i = first; i < last; ++i) {
      if (!children[i]->IsVisual()) continue;
      TvgVisualObject* v = children[i]->Visual();
      const TvgRect pad = v->GetPadding()->GetRect();
      const float width = dynamic_cast<TvgListBoxItem*>(v) != nullptr ? groupWidth - pad.Left - pad.Right : v->GetWidth();
      v->SetBounds(left + pad.Left, static_cast<float>(i - first) * rowHeight + pad.Top, width, rowHeight);
    }
    left += groupWidth;
  }
  if (left > 0) r.Right = r.Left + left;
  if (itemHeight_ != 0) r.Bottom = r.Top + static_cast<float>(columns_) * itemHeight_;
  return r;
}

// --- Selection

int32_t TvgListBox::IndexStartingWith(WideChar c) const {
  const WideString typed(1, c);
  for (int32_t i = 0; i < Count(); ++i) {
    TvgListBoxItem* item = ItemByIndex(i);
    if (item != nullptr && !item->GetText().empty() && vgWideCompareText(item->GetText().substr(0, 1), typed) == 0)
      return i;
  }
  return -1;
}

int TvgListBox::CompareItems(TvgListBoxItem* a, TvgListBoxItem* b) {
  if (OnCompare) return OnCompare(a, b);
  return vgWideCompareText(a->GetText(), b->GetText());
}

void TvgListBox::SortItems() {
  if (!sorted_ || GetContent() == nullptr) return;
  // The selected item stays selected wherever it lands (ContentReordered); the items made from
  // lines stay theirs.
  sortingItems_ = true;
  try {
    GetContent()->SortChildren([this](TvgObject* a, TvgObject* b) {
      auto* ia = dynamic_cast<TvgListBoxItem*>(a);
      auto* ib = dynamic_cast<TvgListBoxItem*>(b);
      return ia != nullptr && ib != nullptr ? CompareItems(ia, ib) : 0;
    });
  } catch (...) {
    sortingItems_ = false;
    throw;
  }
  sortingItems_ = false;
}

void TvgListBox::SetItemIndex(int32_t value) {
  // The scroll to the new item reads where the items are.
  SettleLines();
  MoveSelection(value, true);
}

void TvgListBox::MoveSelection(int32_t value, bool show) {
  if (value == itemIndex_) return;
  if (!multiSelect_) {
    if (TvgListBoxItem* old = GetSelected()) {
      old->isSelected_ = false;
      old->FireTrigger("IsSelected");
    }
  }
  itemIndex_ = value;
  TvgListBoxItem* item = GetSelected();
  if (item != nullptr) {
    if (show) ScrollIntoView(item);
    if (!item->isSelected_) {
      item->isSelected_ = true;
      item->FireTrigger("IsSelected");
    }
  }
  if (GetUpdateCounter() == 0 && !quietIndex_) {
    if (!BoundControls().empty()) UpdateBindings();
    OnChange(item);
  }
  if (show) UpdateSelection();
}

void TvgListBox::SetItemIndexQuietly(int32_t value) {
  TQuietIndex quiet(this);
  SetItemIndex(value);
}

void TvgListBox::ScrollToSelected() {
  SettleLines();
  if (TvgListBoxItem* item = GetSelected()) ScrollIntoView(item);
}

void TvgListBox::ScrollIntoView(TvgListBoxItem* item) {
  TvgVisualObject* viewport = GetViewport();
  TvgVisualObject* content = GetContent();
  if (viewport == nullptr || content == nullptr) return;
  const TvgRect pad = item->GetPadding()->GetRect();
  const TvgPoint vp = viewport->GetPosition()->GetPoint();
  const TvgPoint cp = content->GetPosition()->GetPoint();
  const TvgPoint ip = item->GetPosition()->GetPoint();
  if (TvgScrollBar* bar = GetVScrollBar()) {
    const float bottom = cp.Y + ip.Y + pad.Top + pad.Bottom + item->GetHeight();
    const float viewBottom = vp.Y + viewport->GetHeight();
    if (bottom > viewBottom) bar->SetValue(bar->GetValue() + bottom - viewBottom);
    const float top = content->GetPosition()->GetY() + ip.Y;
    if (top < vp.Y) bar->SetValue(bar->GetValue() + top - vp.Y);
  }
  if (TvgScrollBar* bar = GetHScrollBar()) {
    const float right = cp.X + ip.X + pad.Left + pad.Right + item->GetWidth();
    const float viewRight = vp.X + viewport->GetWidth();
    if (right > viewRight) bar->SetValue(bar->GetValue() + right - viewRight);
    const float left = content->GetPosition()->GetX() + ip.X;
    if (left < vp.X) bar->SetValue(bar->GetValue() + left - vp.X);
  }
}

void TvgListBox::SelectRange(TvgListBoxItem* a, TvgListBoxItem* b) {
  if (a == nullptr) a = b;
  if (b == nullptr) b = a;
  if (a == nullptr) return;
  int32_t low = a->GetIndex(), high = b->GetIndex();
  if (low > high) std::swap(low, high);
  {
    ++selectingRange_;
    const TvgRestoreOnExit done([this] { --selectingRange_; });
    const auto& children = GetContent()->Children();
    for (size_t i = 0; i < children.size(); ++i) {
      if (auto* item = dynamic_cast<TvgListBoxItem*>(children[i])) {
        const auto index = static_cast<int32_t>(i);
        item->SetIsSelected(index >= low && index <= high);
      }
    }
  }
  UpdateSelection();
}

void TvgListBox::DeselectAll() {
  if (GetContent() == nullptr) return;
  {
    ++selectingRange_;
    const TvgRestoreOnExit done([this] { --selectingRange_; });
    for (TvgObject* child : GetContent()->Children())
      if (auto* item = dynamic_cast<TvgListBoxItem*>(child)) item->SetIsSelected(false);
  }
  UpdateSelection();
}

bool TvgListBox::SameLine(int32_t a, int32_t b) const {
  // One column (or one row): every neighbour touches; otherwise only neighbours of one row (or
  // column) of the layout do.
  return columns_ == 1 || a / columns_ == b / columns_;
}

void TvgListBox::UpdateSelection() {
  if (selection_ == nullptr || selectingRange_ > 0 || GetContent() == nullptr) return;
  TvgObject* markerParent = selection_->GetParent();
  if (markerParent == nullptr || !markerParent->IsVisual()) return;
  TvgVisualObject* parent = markerParent->Visual();
  std::vector<TvgRect> rects;
  const TvgRect listRect = GetUpdateRect();
  const auto& children = GetContent()->Children();
  bool previousSelected = false;
  for (size_t i = 0; i < children.size(); ++i) {
    auto* item = dynamic_cast<TvgListBoxItem*>(children[i]);
    const bool selected = item != nullptr && item->GetIsSelected();
    if (selected && vgIntersectsRect(item->GetUpdateRect(), listRect)) {
      const TvgPoint p = parent->AbsoluteToLocal(item->LocalToAbsolute(vgPoint(0, 0)));
      const TvgRect r = vgRect(p.X, p.Y, p.X + item->GetWidth(), p.Y + item->GetHeight());
      const auto index = static_cast<int32_t>(i);
      if (previousSelected && !rects.empty() && SameLine(index - 1, index)) rects.back() = vgUnionRect(rects.back(), r);
      else rects.push_back(r);
    }
    previousSelected = selected;
  }
  UpdateMarkers(selection_, this, selectionClones_, rects, !hideSelectionUnfocused_ || GetIsFocused());
}

void TvgListBox::PaintAlternatingRows(TObject* sender, TvgCanvas* canvas, const TvgRect& rect) {
  auto* part = dynamic_cast<TvgVisualObject*>(sender);
  if (!alternatingRowBackground_ || GetContent() == nullptr || part == nullptr || canvas == nullptr) return;
  canvas->SetFill(altRowBrush_);
  const auto& children = GetContent()->Children();
  for (size_t i = 1; i < children.size(); i += 2) {
    auto* item = dynamic_cast<TvgListBoxItem*>(children[i]);
    if (item == nullptr) continue;
    const TvgPoint p = part->AbsoluteToLocal(item->LocalToAbsolute(vgPoint(0, 0)));
    const TvgRect r = vgRect(p.X, p.Y, p.X + item->GetWidth(), p.Y + item->GetHeight());
    if (vgIntersectsRect(r, rect)) canvas->FillRect(r, 0, 0, vgAllCorners, part->GetAbsoluteOpacity());
  }
}

void TvgListBox::ResetScroll() {
  // Setting the bars reaches the box's remembered scroll values through their change events.
  if (GetHScrollBar() != nullptr) GetHScrollBar()->SetValue(0);
  if (GetVScrollBar() != nullptr) GetVScrollBar()->SetValue(0);
}

void TvgListBox::FreeItems() {
  {
    clearing_ = true;
    const TvgRestoreOnExit done([this] { clearing_ = false; });
    const auto& children = GetContent()->Children();
    for (size_t i = children.size(); i > 0; --i) {
      if (children[i - 1]->Is<TvgListBoxItem>()) delete children[i - 1];
    }
  }
  dragItem_ = nullptr;
  lineItems_.clear();
}

void TvgListBox::Clear() {
  if (GetContent() == nullptr) return;
  BeginUpdate();
  try {
    FreeItems();
    ResetScroll();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

// --- Items made from lines

TvgListBoxItem* TvgListBox::MakeLineItem(const WideString& text, const TvgLineItemLooks& looks) {
  // Freed with the list's tree: no component owner, whose every insertion notifies all the
  // components it owns.
  auto* item = new TvgListBoxItem(nullptr);
  // Made inside an update of its own: it takes its style when it is first painted, not as its
  // Resource is set (what most items of a long list never are).
  item->BeginUpdate();
  item->SetAutoTranslate(looks.AutoTranslate);
  item->SetParent(this);
  item->SetHeight(looks.Height);
  item->SetStored(false);
  item->SetLocked(true);
  if (!looks.Resource.empty()) item->SetResource(looks.Resource);
  item->SetText(text);
  if (looks.AlignText) item->SetTextAlign(looks.TextAlign);
  item->EndUpdate();
  return item;
}

bool TvgListBox::ApplyLineChanges(const std::vector<TvgLineChange>& changes, const TvgLineItemLooks& looks) {
  const auto line = [this](int32_t index) {
    return index >= 0 && index < static_cast<int32_t>(lineItems_.size()) ? lineItems_[static_cast<size_t>(index)] : nullptr;
  };
  for (const TvgLineChange& change : changes) {
    switch (change.Kind) {
      case TvgLineChange::Insert: {
        if (change.Index < 0 || change.Index > static_cast<int32_t>(lineItems_.size())) return false;
        TvgListBoxItem* item = MakeLineItem(change.Text, looks);
        lineItems_.insert(lineItems_.begin() + change.Index, item);
        // A sorted list has its own order; the lines' order is set just before it sorts.
        if (!sorted_ && change.Index < Count() - 1) item->SetIndex(change.Index);
        break;
      }
      case TvgLineChange::Delete: {
        TvgListBoxItem* item = line(change.Index);
        if (item == nullptr) return false;
        lineItems_.erase(lineItems_.begin() + change.Index);
        delete item;
        break;
      }
      case TvgLineChange::Put: {
        TvgListBoxItem* item = line(change.Index);
        if (item == nullptr) return false;
        item->SetText(change.Text);
        break;
      }
      case TvgLineChange::Exchange: {
        // The two lines trade texts; the items stay where they are, as the selection does.
        TvgListBoxItem* a = line(change.Index);
        TvgListBoxItem* b = line(change.Other);
        if (a == nullptr || b == nullptr) return false;
        const WideString text = a->GetText();
        a->SetText(b->GetText());
        b->SetText(text);
        break;
      }
      case TvgLineChange::Clear:
        FreeItems();
        break;
      case TvgLineChange::Any:
        return false;
    }
  }
  return true;
}

void TvgListBox::MatchLines(const TvgItemLines& lines, const TvgLineItemLooks& looks) {
  const auto count = static_cast<size_t>(lines.Count());
  // Last first, as Clear frees them.
  while (lineItems_.size() > count) {
    TvgListBoxItem* item = lineItems_.back();
    lineItems_.pop_back();
    delete item;
  }
  for (size_t i = 0; i < lineItems_.size(); ++i) {
    const WideString line = lines.Get(static_cast<int32_t>(i));
    if (lineItems_[i]->GetText() != line) lineItems_[i]->SetText(line);
  }
  for (size_t i = lineItems_.size(); i < count; ++i) lineItems_.push_back(MakeLineItem(lines.Get(static_cast<int32_t>(i)), looks));
}

void TvgListBox::PutItemsInLineOrder() {
  // Items made afresh stand in the lines' order when the list sorts them (a stable sort keeps
  // lines that compare equal in that order): so must these.
  std::unordered_map<TvgObject*, size_t> order;
  order.reserve(lineItems_.size());
  for (size_t i = 0; i < lineItems_.size(); ++i) order.emplace(lineItems_[i], i);
  GetContent()->SortChildren([&order](TvgObject* a, TvgObject* b) {
    const size_t x = order[a], y = order[b];
    return x < y ? -1 : (x > y ? 1 : 0);
  });
}

bool TvgListBox::PutsOffLineLayout() {
  return !sorted_ && !IsDesigning() && !GetParentedVisible();
}

bool TvgListBox::FollowLines(TvgItemLines& lines, const TvgLineItemLooks& looks) {
  const std::vector<TvgLineChange> changes = lines.TakeChanges();
  if (GetContent() == nullptr) return false;
  // The layout, and the scroll to the selected item that reads where the items are, wait for the
  // end of an update open over the list. A hidden list leaves them for when it is needed
  // (SettleLines): a closed drop-down then costs per change only the items the change made or
  // freed, as the system's combo box does, and shows the same list and scroll when it opens.
  const bool hidden = PutsOffLineLayout();
  const bool putOff = hidden || GetUpdateCounter() > 0;
  if (!putOff) SettleLines();  // what was put off while it was hidden comes first
  const int32_t index = itemIndex_;
  TvgListBoxItem* const selected = GetSelected();
  const WideString selectedText = selected != nullptr ? selected->GetText() : WideString();
  bool remake = false;
  // Parked without events: the index keeps its number, as it does for items made afresh, rather
  // than following the items that go or come before it.
  {
    TQuietIndex quiet(this);
    MoveSelection(-1, !putOff);
  }
  TvgRepaintBatch batch(this);
  {
    struct THold {
      TvgListBox* list;
      ~THold() { list->followingLines_ = false; }
    } hold{this};
    followingLines_ = true;
    dragItem_ = nullptr;
    ResetScroll();
    // Items made from other looks, or that are not all the items made from the lines (others
    // added, freed or moved items; other items of a multiple selection may be selected): all
    // made afresh, as every change made them before.
    remake = !linesFollowed_ || multiSelect_ || (looks != lineLooks_ && Count() > 0);
    linesFollowed_ = false;  // until the items are the lines' again
    lineLooks_ = looks;
    if (remake) {
      FreeItems();
      for (int32_t i = 0; i < lines.Count(); ++i) lineItems_.push_back(MakeLineItem(lines.Get(i), looks));
    } else if (!ApplyLineChanges(changes, looks) || Count() != lines.Count()) {
      // A sort moved lines without saying where: each item takes the text of its line.
      MatchLines(lines, looks);
    }
    if (sorted_) PutItemsInLineOrder();
    linesFollowed_ = true;
  }
  const int32_t count = Count();
  const int32_t restored = index >= count ? count - 1 : index;
  if (putOff) {
    layoutHeld_ = false;
    settleOwed_ = true;
    TQuietIndex quiet(this);
    MoveSelection(restored, false);
    // Shown: the end of the update lays the list out (its Realign settles).
    if (!hidden) PutOffRealign();
  } else {
    // One layout for all the items that came and went (a sorted list sorts them), then the
    // index on the items where they now stand.
    if (layoutHeld_) {
      layoutHeld_ = false;
      Realign();
    }
    SetItemIndexQuietly(restored);
  }
  TvgListBoxItem* const now = GetSelected();
  return remake || now != selected || (now != nullptr && now->GetText() != selectedText);
}

void TvgListBox::SettleLines() {
  if (!settleOwed_ || followingLines_) return;
  // Inside an update the items are not placed yet: the end of the update settles.
  if (PutOffRealign()) return;
  settleOwed_ = false;
  // What following the lines left: the layout, then the scroll to the selected item and its
  // markers (the scroll back to the start was not put off).
  Realign();
  if (TvgListBoxItem* item = GetSelected()) ScrollIntoView(item);
  UpdateSelection();
}

// --- Keys and mouse

void TvgListBox::KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) {
  inherited::KeyDown(key, keyChar, shift);
  const int32_t count = Count();
  if (count == 0) return;
  if (keyChar != 0) {
    if (const int32_t found = IndexStartingWith(keyChar); found >= 0) SetItemIndex(found);
    keyChar = 0;
  }
  switch (key) {
    case kKeyEnd:
      // In several columns the last row's start; never before the first item.
      SetItemIndex(std::max(count - columns_, 0));
      break;
    case kKeyHome:
      SetItemIndex(0);
      break;
    case kKeyLeft:
      if (itemIndex_ >= 1) SetItemIndex(itemIndex_ - 1);
      break;
    case kKeyUp:
      if (itemIndex_ >= 1) SetItemIndex(std::max(itemIndex_ - columns_, 0));
      break;
    case kKeyRight:
      if (itemIndex_ < count - 1) SetItemIndex(itemIndex_ + 1);
      break;
    case kKeyDown:
      if (itemIndex_ < count - 1) SetItemIndex(std::min(itemIndex_ + columns_, count - 1));
      break;
    default:
      return;
  }
  key = 0;
}

void TvgListBox::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != mbLeft || GetMouseTracking()) return;
  TvgListBoxItem* item = ItemByPoint(x, y);
  // A press on empty space selects nothing.
  if (item == nullptr) return;
  if (multiSelect_) {
    if (shift.Contains(ssCtrl)) {
      item->SetIsSelected(!item->GetIsSelected());
    } else if (shift.Contains(ssShift)) {
      TvgListBoxItem* anchor = GetSelected() != nullptr ? GetSelected() : item;
      SelectRange(anchor, item);
      dragItem_ = anchor;
      SetItemIndex(item->GetIndex());
    } else {
      SelectRange(item, item);
      SetItemIndex(item->GetIndex());
      dragItem_ = item;
    }
  } else {
    SetItemIndex(item->GetIndex());
  }
  item->OnClick(item);
  mouseSelecting_ = true;
}

void TvgListBox::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!mouseSelecting_ || !shift.Contains(ssLeft)) return;
  TvgListBoxItem* item = ItemByPoint(x, y);
  if (item == nullptr || item == GetSelected()) return;
  if (multiSelect_) {
    if (shift.Contains(ssCtrl)) item->SetIsSelected(!item->GetIsSelected());
    else SelectRange(dragItem_ != nullptr ? dragItem_ : item, item);
  }
  SetItemIndex(item->GetIndex());
}

void TvgListBox::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  dragItem_ = nullptr;
  // With drag-to-scroll a release that scrolled nothing is a click: it chooses the item there.
  if (GetMouseTracking() && !GetContentDragged()) {
    if (TvgListBoxItem* item = ItemByPoint(x, y)) SetItemIndex(item->GetIndex());
  }
  mouseSelecting_ = false;
}
