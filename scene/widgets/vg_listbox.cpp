// The list item and the list box: layout in rows and columns, selection with its markers,
// alternating rows, sorting, keys and mouse.
#include "vg_listbox.h"

#include <algorithm>

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
    if (auto* combo = dynamic_cast<TvgComboBox*>(p)) return combo->GetListBox();
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
  // Inside an update the layout waits for the end of the outermost one.
  if (child->Is<TvgListBoxItem>()) Realign();
}

void TvgListBox::ContentRemovingObject(TvgObject* child) {
  inherited::ContentRemovingObject(child);
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
  if (vgSetChanged(sorted_, value)) Realign();
}

void TvgListBox::SetMultiSelect(bool value) {
  if (!vgSetChanged(multiSelect_, value)) return;
  if (!value) DeselectAll();
}

void TvgListBox::SetAlternatingRowBackground(bool value) {
  if (vgSetChanged(alternatingRowBackground_, value)) Repaint();
}

void TvgListBox::SetColumns(int32_t value) {
  columns_ = std::max(value, 1);
  Realign();
}

void TvgListBox::SetItemWidth(float value) {
  if (vgSetChanged(itemWidth_, value)) Realign();
}

void TvgListBox::SetItemHeight(float value) {
  if (vgSetChanged(itemHeight_, value)) Realign();
}

void TvgListBox::SetListStyle(TvgListStyle value) {
  if (vgSetChanged(listStyle_, value)) Realign();
}

// --- Layout

void TvgListBox::Realign() {
  if (layingOut_) return;
  // Each item added in an update asks for a layout: noted at once, without a repaint batch.
  if (PutOffRealign()) return;
  // Placing the items and showing or hiding the scroll bars repaints each of them: the scene
  // takes one request for all.
  TvgRepaintBatch batch(this);
  inherited::Realign();
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
  // The selected item stays selected wherever it lands (ContentReordered).
  GetContent()->SortChildren([this](TvgObject* a, TvgObject* b) {
    auto* ia = dynamic_cast<TvgListBoxItem*>(a);
    auto* ib = dynamic_cast<TvgListBoxItem*>(b);
    return ia != nullptr && ib != nullptr ? CompareItems(ia, ib) : 0;
  });
}

void TvgListBox::SetItemIndex(int32_t value) {
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
    ScrollIntoView(item);
    if (!item->isSelected_) {
      item->isSelected_ = true;
      item->FireTrigger("IsSelected");
    }
  }
  if (GetUpdateCounter() == 0 && !quietIndex_) {
    if (!BoundControls().empty()) UpdateBindings();
    OnChange(item);
  }
  UpdateSelection();
}

void TvgListBox::SetItemIndexQuietly(int32_t value) {
  struct TQuiet {
    TvgListBox* list;
    ~TQuiet() { list->quietIndex_ = false; }
  } quiet{this};
  quietIndex_ = true;
  SetItemIndex(value);
}

void TvgListBox::ScrollToSelected() {
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
  ++selectingRange_;
  const auto& children = GetContent()->Children();
  for (size_t i = 0; i < children.size(); ++i) {
    if (auto* item = dynamic_cast<TvgListBoxItem*>(children[i])) {
      const auto index = static_cast<int32_t>(i);
      item->SetIsSelected(index >= low && index <= high);
    }
  }
  --selectingRange_;
  UpdateSelection();
}

void TvgListBox::DeselectAll() {
  if (GetContent() == nullptr) return;
  ++selectingRange_;
  for (TvgObject* child : GetContent()->Children())
    if (auto* item = dynamic_cast<TvgListBoxItem*>(child)) item->SetIsSelected(false);
  --selectingRange_;
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

void TvgListBox::Clear() {
  if (GetContent() == nullptr) return;
  BeginUpdate();
  clearing_ = true;
  const auto& children = GetContent()->Children();
  for (size_t i = children.size(); i > 0; --i) {
    if (children[i - 1]->Is<TvgListBoxItem>()) delete children[i - 1];
  }
  clearing_ = false;
  dragItem_ = nullptr;
  ResetScroll();
  EndUpdate();
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
