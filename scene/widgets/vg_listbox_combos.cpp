// The combo list box, the combo box, the lists fed from strings, the horizontal list, the HUD
// looks and the registration of the list classes.
#include <algorithm>

#include "scene/core/vg_animation.h"
#include "scene/core/vg_canvas.h"
#include "vg_listbox.h"
#include "vg_widgets_p.h"

using namespace vg_widgets;


KBL_PUBLISHED(TvgComboListBox) { KBL_PROP(CanFocused).Default(false); }

KBL_PUBLISHED(TvgComboBox) {
  KBL_PROP(Width).Default(100.0f);
  KBL_PROP(Height).Default(22.0f);
  KBL_PROP(CanFocused).Default(true);
  KBL_PROP(DisableFocusEffect).Default(false);
  KBL_PROP(BindingSource);
  KBL_PROP(DropDownCount).Default(8);
  KBL_PROP(ItemIndex);
  KBL_PROP(ListBoxResource);
  KBL_PROP(Placement).Default(vgPlacementBottom);
  p.Property("OnChange", &TvgComboBox::OnChange, &TvgComboBox::OnChange);
}

KBL_PUBLISHED(TvgStringListBox) {
  KBL_PROP(AutoTranslate).Default(true);
  KBL_PROP(TextAlign).Default(vgTextAlignCenter);
  KBL_PROP(Font);
  KBL_PROP(Items);
  KBL_PROP(ItemHeight).Default(19.0f);
}

KBL_PUBLISHED(TvgStringComboBox) {
  KBL_PROP(AutoTranslate).Default(true);
  KBL_PROP(TextAlign).Default(vgTextAlignCenter);
  KBL_PROP(ItemHeight).Default(19.0f);
  KBL_PROP(Items);
  KBL_PROP(ItemIndex);
}

KBL_PUBLISHED(TvgHorzListBox) { KBL_PROP(ListStyle).Default(vgListHorizontal); }
KBL_PUBLISHED(TvgHudListBox) {}
KBL_PUBLISHED(TvgHudHorzListBox) {}
KBL_PUBLISHED(TvgHudComboBox) {}
KBL_PUBLISHED(TvgHudStringListBox) {}
KBL_PUBLISHED(TvgHudStringComboBox) {}

void vg_widgets::FitDropDownWidth(TvgVisualObject& combo, TvgPopup* popup, TvgListBox* list, bool& inRealign) {
  if (inRealign || popup == nullptr) return;
  const float width = combo.GetWidth();
  inRealign = true;
  const TvgRestoreOnExit done([&inRealign] { inRealign = false; });
  popup->SetWidth(width);
  if (list != nullptr) list->SetWidth(width);
}

// --- Combo list box

TvgComboListBox::TvgComboListBox(TComponent* owner) : TvgListBox(owner) {
  SetCanFocused(false);
  SetHideSelectionUnfocused(false);
}

void TvgComboListBox::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  auto* popup = dynamic_cast<TvgPopup*>(GetParent());
  auto* owner = dynamic_cast<IvgComboListOwner*>(comboOwner_);
  if (popup == nullptr || !popup->GetIsOpen() || owner == nullptr) return;
  // A release outside the items closes the list and chooses nothing.
  TvgListBoxItem* item = vgPtInRect(vgPoint(x, y), GetLocalRect()) ? ItemByPoint(x, y) : nullptr;
  const int32_t index = item != nullptr ? item->GetIndex() : -1;
  popup->SetIsOpen(false);
  if (index >= 0) owner->ComboItemChosen(index);
}

void TvgComboListBox::SelectionMoved() {
  if (comboOwner_ != nullptr) comboOwner_->Repaint();
}

// --- Combo box

// Steps with the ticker while the box follows its selected item's animations; its parent is the
// box, whose hiding ends it.
class TvgComboBox::TItemFollower : public TvgAnimation {
 public:
  explicit TItemFollower(TvgComboBox* box) : TvgAnimation(nullptr), box_(box) {
    SetStored(false);
    SetLoop(true);
    SetDuration(1);
  }
  void Follow() {
    if (GetRunning()) return;
    SetDuration(1);  // a start without a scene to show it in ends at once and shortens it
    starting_ = true;
    const TvgRestoreOnExit started([this] { starting_ = false; });
    Start();
  }
  void ProcessAnimation() override {
    if (starting_ || !GetRunning()) return;
    box_->Repaint();
    TvgListBoxItem* item = box_->listBox_ != nullptr ? box_->listBox_->GetSelected() : nullptr;
    if (item == nullptr || !AnimationRuns(item)) StopAtCurrent();  // this step's repaint is the last
  }
  static bool AnimationRuns(TvgObject* obj) {
    for (TvgObject* child : obj->Children()) {
      if (auto* a = dynamic_cast<TvgAnimation*>(child); a != nullptr && a->GetRunning()) return true;
      if (AnimationRuns(child)) return true;
    }
    return false;
  }

 private:
  TvgComboBox* box_;
  bool starting_ = false;
};

TvgComboBox::TvgComboBox(TComponent* owner) : TvgControl(owner) {
  InitWidgetsUnit();
  SetCanFocused(true);
  popup_ = MakeDropDownPopup(this);
  listBox_ = new TvgComboListBox(this);
  listBox_->SetParent(popup_);
  listBox_->SetComboOwner(this);
  listBox_->SetStored(false);
  listBox_->SetAlign(vaClient);
  listBox_->SetShowCheckboxes(false);
  // Made here, not when first needed: that is while the box paints.
  itemFollower_ = new TItemFollower(this);
  itemFollower_->SetParent(this);
  SetWidth(100);
  SetHeight(22);
}

TvgComboBox::~TvgComboBox() {
  DestroyTree();
  listBox_ = nullptr;
  popup_ = nullptr;
  itemFollower_ = nullptr;  // a child, freed with the tree
}

void TvgComboBox::AddObject(TvgObject* child) {
  if (listBox_ != nullptr && (child->Is<TvgListBoxItem>() || child->Is<TvgSelectionItem>())) {
    listBox_->AddObject(child);
    if (child->IsVisual()) child->Visual()->SetLocked(GetScene() != nullptr && GetScene()->GetDesignTime());
    return;
  }
  inherited::AddObject(child);
}

void TvgComboBox::GetChildren(const TGetChildProc& proc, TComponent* root) {
  inherited::GetChildren(proc, root);
  if (listBox_ == nullptr || listBox_->GetContent() == nullptr) return;
  for (TvgObject* item : listBox_->GetContent()->Children())
    if (item->GetStored()) proc(item);
}

void TvgComboBox::SetListBoxResource(const std::string& value) {
  if (listBox_ != nullptr) listBox_->SetResource(value);
}

int32_t TvgComboBox::GetItemIndex() const { return listBox_ != nullptr ? listBox_->GetItemIndex() : -1; }

void TvgComboBox::SetItemIndex(int32_t value) {
  if (listBox_ == nullptr) return;
  listBox_->SetItemIndex(value);
  if (!BoundControls().empty()) UpdateBindings();
  RunHandler(OnChange, this);
  if (TvgObject* style = GetStyleObject(); style != nullptr && style->IsVisual()) style->Visual()->UpdateEffects();
  Repaint();
}

void TvgComboBox::Clear() {
  if (listBox_ != nullptr) listBox_->Clear();
}

void TvgComboBox::SizePopup() {
  popup_->SetPlacement(placement_);
  popup_->SetWidth(GetWidth());
  popup_->SetHeight(DropDownHeight(dropDownCount_, listBox_->GetItemHeight(), GetHeight()));
}

void TvgComboBox::DropDown() {
  if (popup_ == nullptr || listBox_ == nullptr) return;
  if (popup_->GetIsOpen()) {
    popup_->SetIsOpen(false);
    return;
  }
  SizePopup();
  // The list takes its style afresh at every opening (the scene's style may have changed), which
  // scrolls it back to its start: the selected item is brought into view again.
  listBox_->SetNeedStyleLookup(true);
  listBox_->ApplyResource();
  popup_->SetIsOpen(true);
  listBox_->Realign();
  listBox_->ScrollToSelected();
}

void TvgComboBox::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button == mbLeft) DropDown();
}

void TvgComboBox::MouseWheel(TShiftState shift, int32_t wheelDelta, bool& handled) {
  inherited::MouseWheel(shift, wheelDelta, handled);
  const int32_t index = GetItemIndex();
  if (wheelDelta < 0) {
    if (index < GetCount() - 1) SetItemIndex(index + 1);
  } else if (index > 0) {
    SetItemIndex(index - 1);
  }
  handled = true;
}

void TvgComboBox::KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) {
  inherited::KeyDown(key, keyChar, shift);
  const int32_t count = GetCount();
  if (count == 0) return;
  if (keyChar != 0) {
    const int32_t found = listBox_->IndexStartingWith(keyChar);
    if (found >= 0) SetItemIndex(found);
    keyChar = 0;
  }
  const int32_t index = GetItemIndex();
  switch (key) {
    case kKeyEnd:
      SetItemIndex(count - 1);
      break;
    case kKeyHome:
      SetItemIndex(0);
      break;
    case kKeyLeft:
    case kKeyUp:
      if (index >= 1) SetItemIndex(index - 1);
      break;
    case kKeyRight:
    case kKeyDown:
      if (index < count - 1) SetItemIndex(index + 1);
      break;
    default:
      return;
  }
  key = 0;
}

void TvgComboBox::Realign() {
  inherited::Realign();
  FitDropDownWidth(*this, popup_, listBox_, inComboRealign_);
}

void TvgComboBox::ApplyStyle() {
  inherited::ApplyStyle();
  TvgObject* part = FindResource("Content");
  if (auto* content = dynamic_cast<TvgContent*>(part)) {
    content->OnPaint = TOnPaintEvent::Of<&TvgComboBox::PaintSelectedItem>(this);
    if (TvgListBoxItem* item = listBox_ != nullptr ? listBox_->GetSelected() : nullptr) {
      const TvgListBox::TOwnItemChange own(listBox_);
      item->SetWidth(content->GetWidth());
    }
  }
}

void TvgComboBox::FreeStyle() { inherited::FreeStyle(); }

void TvgComboBox::FollowItemAnimations(TvgListBoxItem* item) {
  if (itemFollower_ != nullptr && TItemFollower::AnimationRuns(item)) itemFollower_->Follow();
}

void TvgComboBox::PaintSelectedItem(TObject* sender, TvgCanvas* canvas, const TvgRect& rect) {
  TvgListBoxItem* item = listBox_ != nullptr ? listBox_->GetSelected() : nullptr;
  if (item == nullptr || canvas == nullptr) return;
  item->ApplyResource();
  // Shown here, it has taken the list's triggers it slept through away from the list's viewport.
  const TvgSceneObjectRef<TvgListBoxItem> shown(item);
  if (!listBox_->WakeRow(item) || shown.Get() == nullptr) return;
  {
    // Drawn inside the closed box by its own style, then put back as it was, whatever the paint
    // raises. Sizing it so is the box's own showing of it, no change to the list's item.
    const TvgListBox::TOwnItemChange own(listBox_);
    const float width = item->GetWidth(), height = item->GetHeight(), opacity = item->GetOpacity();
    IvgScene* scene = item->GetScene();
    const TvgRestoreOnExit back([item, width, height, opacity, scene] {
      item->SetWidth(width);
      item->SetHeight(height);
      item->SetOpacity(opacity);
      item->RecalcOpacity();
      item->SetScene(scene);
    });
    item->SetScene(GetScene());
    // Its style is laid out for the part's size (a list never shown has not sized its items).
    item->SetWidth(vgRectWidth(rect));
    item->SetHeight(vgRectHeight(rect));
    item->SetOpacity(GetOpacity());
    item->RecalcOpacity();
    // Into the part's own rect: the part is the item's parent for the call.
    item->PaintTo(canvas, rect, dynamic_cast<TvgObject*>(sender));
  }
  FollowItemAnimations(item);
}

void TvgComboBox::DesignClick() {
  inherited::DesignClick();
  if (popup_ == nullptr) return;
  popup_->SetDesignHide(!popup_->GetDesignHide());
  SizePopup();
  popup_->GetPosition()->SetPoint(vgPoint(GetPosition()->GetX(), GetPosition()->GetY() + GetHeight()));
}

// --- String list box

TvgStringListBox::TvgStringListBox(TComponent* owner)
    : TvgListBox(owner), items_(new TvgItemLines()), font_(new TvgFont()) {
  font_->OnChanged = TNotifyEvent::Of<&TvgStringListBox::FontChanged>(this);
  items_->OnChange = TNotifyEvent::Of<&TvgStringListBox::RebuildItems>(this);
  SetItemHeight(19);
  SetResource("listboxstyle");
}

TvgStringListBox::~TvgStringListBox() {
  IncludeState(csDestroying);
  items_->OnChange = nullptr;
  DestroyTree();
  delete items_;
  delete font_;
}

Variant TvgStringListBox::GetData() {
  const int32_t index = GetItemIndex();
  return Variant(index >= 0 && index < items_->Count() ? items_->Get(index) : WideString());
}

void TvgStringListBox::SetData(const Variant& value) {
  const int32_t index = GetItemIndex();
  if (index >= 0 && index < items_->Count()) items_->Put(index, value.ToWideString());
}

void TvgStringListBox::EndUpdate() {
  // The layout that the end of the last update runs builds the items, or, with an update still
  // open around the list, the layout at the end of that one.
  if (!rebuilding_) itemsOwed_ = true;
  inherited::EndUpdate();
  if (itemsOwed_ && !rebuilding_) Realign();
}

void TvgStringListBox::Realign() {
  if (itemsOwed_ && !rebuilding_ && GetUpdateCounter() == 0 && !HasState(csDestroying)) {
    RebuildItems();  // the end of its update lays the new items out
    return;
  }
  inherited::Realign();
}

void TvgStringListBox::SetTextAlign(TvgTextAlign value) {
  if (!vgSetChanged(textAlign_, value)) return;
  if (!IsLoading()) RebuildItems();
}

void TvgStringListBox::FontChanged(TObject*) {
  if (GetContent() == nullptr) return;
  // The items made from lines take the list's font as new ones do: still the lines' own.
  const TOwnItemChange own(this);
  for (TvgObject* child : GetContent()->Children())
    if (auto* item = dynamic_cast<TvgListBoxItem*>(child)) item->SetFont(font_);
}

void TvgStringListBox::RebuildItems(TObject*) {
  if (HasState(csDestroying) || items_ == nullptr) return;
  if (rebuilding_) {
    // A handler that the rebuild runs (a row's trigger as the selection moves) changed the lines:
    // followed once the rebuild ends.
    rebuildAgain_ = true;
    return;
  }
  if (GetUpdateCounter() > 0) {
    itemsOwed_ = true;
    Realign();  // put off with the layout
    return;
  }
  itemsOwed_ = false;
  rebuilding_ = true;
  {
    const TvgRestoreOnExit done([this] { rebuilding_ = false; });
    rebuildAgain_ = false;
    TvgLineItemLooks looks;
    looks.Height = GetItemHeight();
    looks.AutoTranslate = autoTranslate_;
    looks.Resource = itemStyle_;
    looks.AlignText = true;
    looks.TextAlign = textAlign_;
    looks.Font = font_;
    FollowLines(*items_, looks, TvgLinesKeep::IndexAndScroll);
  }
  if (rebuildAgain_) RebuildItems();
}

// --- String combo box

TvgStringComboBox::TvgStringComboBox(TComponent* owner) : TvgComboBox(owner), items_(new TvgItemLines()) {
  items_->OnChange = TNotifyEvent::Of<&TvgStringComboBox::RebuildItems>(this);
  SetResource("comboboxstyle");
}

TvgStringComboBox::~TvgStringComboBox() {
  IncludeState(csDestroying);
  items_->OnChange = nullptr;
  DestroyTree();
  delete items_;
}

Variant TvgStringComboBox::GetData() {
  const int32_t index = GetItemIndex();
  return Variant(index >= 0 && index < items_->Count() ? items_->Get(index) : WideString());
}

void TvgStringComboBox::SetData(const Variant& value) {
  const int32_t index = GetItemIndex();
  if (index >= 0 && index < items_->Count()) items_->Put(index, value.ToWideString());
}

void TvgStringComboBox::SetItemHeight(float value) {
  if (vgSetChanged(itemHeight_, value)) RebuildItems();
}

void TvgStringComboBox::SetTextAlign(TvgTextAlign value) {
  if (!vgSetChanged(textAlign_, value)) return;
  if (!IsLoading()) RebuildItems();
}

void TvgStringComboBox::RebuildItems(TObject*) {
  TvgComboListBox* list = GetListBox();
  if (HasState(csDestroying) || items_ == nullptr || list == nullptr) return;
  TvgLineItemLooks looks;
  looks.Height = itemHeight_;
  looks.AutoTranslate = autoTranslate_;
  looks.Resource = itemStyle_;
  looks.AlignText = true;
  looks.TextAlign = textAlign_;
  // The closed box shows the selected item: drawn again when that changed. (Each repaint asks
  // the window system for a call, the dearest part of a line added.)
  if (list->FollowLines(*items_, looks)) Repaint();
}

// --- Horizontal list and HUD looks

TvgHorzListBox::TvgHorzListBox(TComponent* owner) : TvgListBox(owner) {
  SetListStyle(vgListHorizontal);
  SetResource("listboxstyle");
}

TvgHudHorzListBox::TvgHudHorzListBox(TComponent* owner) : TvgHorzListBox(owner) { SetResource("hudlistboxstyle"); }

TvgHudComboBox::TvgHudComboBox(TComponent* owner) : TvgComboBox(owner) {
  SetListBoxResource("hudcombolistboxstyle");
}

TvgHudStringListBox::TvgHudStringListBox(TComponent* owner) : TvgStringListBox(owner) {
  SetResource("hudlistboxstyle");
  SetItemStyle("hudlistboxitemstyle");
}

TvgHudStringComboBox::TvgHudStringComboBox(TComponent* owner) : TvgStringComboBox(owner) {
  SetResource("hudcomboboxstyle");
  SetListBoxResource("hudcombolistboxstyle");
  SetItemStyle("hudlistboxitemstyle");
}

// --- Registration

void vgInitListBoxUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  RegisterClass<TvgComboListBox>();
  vgRegisterObjects("Lists", {TvgListBox::StaticClassInfo(), TvgComboBox::StaticClassInfo(),
                              TvgStringListBox::StaticClassInfo(), TvgStringComboBox::StaticClassInfo(),
                              TvgHorzListBox::StaticClassInfo()});
  vgRegisterObjects("Items", {TvgListBoxItem::StaticClassInfo()});
  vgRegisterObjects("HUD", {TvgHudListBox::StaticClassInfo(), TvgHudHorzListBox::StaticClassInfo(),
                            TvgHudComboBox::StaticClassInfo(), TvgHudStringListBox::StaticClassInfo(),
                            TvgHudStringComboBox::StaticClassInfo()});
}
