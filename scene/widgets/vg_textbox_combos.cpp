// The combo text box (a list of strings under the box) and the combo track bar (a track under
// the box), with their HUD looks.
#include <algorithm>

#include "vg_textbox.h"
#include "vg_widgets_p.h"

using namespace vg_widgets;


KBL_PUBLISHED(TvgComboTextBox) {
  KBL_PROP(Cursor).Default(0);
  KBL_PROP(DropDownCount).Default(8);
  KBL_PROP(ItemHeight).Default(19.0f);
  KBL_PROP(Items);
  KBL_PROP(ItemIndex);
  KBL_PROP(ListBoxResource);
  p.Property("Text", &TvgComboTextBox::GetText, &TvgComboTextBox::SetText);
}

KBL_PUBLISHED(TvgComboTrackBar) {
  KBL_PROP(Min);
  KBL_PROP(Max);
  KBL_PROP(Value);
  KBL_PROP(Frequency);
  p.Property("Text", &TvgComboTrackBar::GetText, &TvgComboTrackBar::SetText).Stored(false);
}

KBL_PUBLISHED(TvgHudComboTextBox) {}
KBL_PUBLISHED(TvgHudComboTrackBar) {}

// --- Combo text box

TvgComboTextBox::TvgComboTextBox(TComponent* owner) : TvgCustomTextBox(owner), items_(new TvgItemLines()) {
  SetCursor(0);
  items_->OnChange = TNotifyEvent::Of<&TvgComboTextBox::RebuildList>(this);
  popup_ = MakeDropDownPopup(this);
  popup_->OnClosePopup = TNotifyEvent::Of<&TvgComboTextBox::PopupClosed>(this);
  listBox_ = new TvgComboListBox(this);
  listBox_->SetParent(popup_);
  listBox_->SetComboOwner(this);
  listBox_->SetItemHeight(itemHeight_);
  listBox_->SetStored(false);
  listBox_->SetAlign(vaClient);
  listBox_->SetShowCheckboxes(false);
}

TvgComboTextBox::~TvgComboTextBox() {
  Destroying();
  items_->OnChange = nullptr;
  // An open popup lives outside the tree and goes with the owned components, after this box.
  popup_->OnClosePopup = nullptr;
  DestroyTree();
  listBox_ = nullptr;
  popup_ = nullptr;
  delete items_;
}

void TvgComboTextBox::PopupClosed(TObject*) {
  if (GetShowCaret() && Focused()) ShowCaret();
}

void TvgComboTextBox::SetListBoxResource(const std::string& value) {
  if (listBox_ != nullptr) listBox_->SetResource(value);
}

void TvgComboTextBox::SetItemHeight(float value) {
  if (!vgSetChanged(itemHeight_, value)) return;
  if (listBox_ == nullptr) return;
  listBox_->SetItemHeight(value);
  if (popup_ == nullptr || !popup_->GetIsOpen()) return;
  // An open drop-down takes another height, which places it anew (above the box it moves), as
  // one opened now. Inside the scene it is shaped where it stands: closing it would give the
  // focus back to the box and take it again (its events firing, its text selected anew). A
  // window of its own cannot be sized while open: that one is opened again, which leaves the
  // scene's focus alone.
  if (popup_->GetPopupForm() == nullptr) {
    ShapeDropDown();
    popup_->ApplyPlacement();
    listBox_->ScrollToSelected();
    listBox_->UpdateSelection();
    return;
  }
  DropDown();  // closes
  DropDown();
}

void TvgComboTextBox::SetItemIndex(int32_t value) {
  if (listBox_ == nullptr) return;
  listBox_->SetItemIndex(value);
  const int32_t index = listBox_->GetItemIndex();
  if (index < 0 || index >= items_->Count()) return;
  SetText(items_->Get(index));
  SelectAll();
  if (!BoundControls().empty()) UpdateBindings();
  if (TvgObject* style = GetStyleObject(); style != nullptr && style->IsVisual()) style->Visual()->UpdateEffects();
  Repaint();
}

void TvgComboTextBox::RebuildList(TObject*) {
  if (HasState(csDestroying) || listBox_ == nullptr) return;
  TvgLineItemLooks looks;
  looks.Height = itemHeight_;
  listBox_->FollowLines(*items_, looks);
}

void TvgComboTextBox::DropDown() {
  if (popup_ == nullptr || listBox_ == nullptr) return;
  if (popup_->GetIsOpen()) {
    popup_->SetIsOpen(false);
    return;
  }
  if (GetShowCaret()) HideCaret();
  ShapeDropDown();
  popup_->SetIsOpen(true);
  listBox_->ScrollToSelected();
  listBox_->UpdateSelection();
}

void TvgComboTextBox::ShapeDropDown() {
  popup_->SetPlacement(placement_);
  popup_->SetWidth(GetWidth());
  popup_->SetHeight(DropDownHeight(dropDownCount_, listBox_->GetItemHeight(), GetHeight()));
  // The list takes its style afresh at every opening (the scene's style may have changed), which
  // scrolls it back to its start: the selected item is brought into view again.
  listBox_->SetNeedStyleLookup(true);
  listBox_->ApplyResource();
}

void TvgComboTextBox::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button == mbLeft && !vgPtInRect(vgPoint(x, y), GetContentRect())) DropDown();
}

void TvgComboTextBox::KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) {
  inherited::KeyDown(key, keyChar, shift);
  const int32_t count = listBox_ != nullptr ? listBox_->Count() : 0;
  if (count == 0) return;
  if (GetReadOnly() && keyChar != 0) {
    if (const int32_t found = listBox_->IndexStartingWith(keyChar); found >= 0) SetItemIndex(found);
    keyChar = 0;
  }
  const int32_t index = GetItemIndex();
  if (key == kKeyUp) {
    SetItemIndex(std::max(index - 1, 0));
    key = 0;
  } else if (key == kKeyDown) {
    SetItemIndex(std::min(index + 1, count - 1));
    key = 0;
  }
}

void TvgComboTextBox::Realign() {
  inherited::Realign();
  FitDropDownWidth(*this, popup_, listBox_, inComboRealign_);
}

// --- Combo track bar

TvgComboTrackBar::TvgComboTrackBar(TComponent* owner) : TvgCustomTextBox(owner) {
  SetFilterChar(kNumberChars);
  SetTextDirect(u"0");
  SetWidth(100);
  SetHeight(22);
  SetResource("combotextboxstyle");
  popup_ = MakeDropDownPopup(this);
  popup_->SetResource("combopopupstyle");
  popup_->GetMargins()->SetRect(vgRect(5, 2, 5, 2));
  popup_->OnClosePopup = TNotifyEvent::Of<&TvgComboTrackBar::PopupClosed>(this);
  trackBar_ = new TvgTrackBar(this);
  trackBar_->SetParent(popup_);
  trackBar_->SetStored(false);
  trackBar_->SetDisableFocusEffect(true);
  trackBar_->SetAlign(vaVertCenter);
  trackBar_->OnChange = TNotifyEvent::Of<&TvgComboTrackBar::TrackChanged>(this);
}

TvgComboTrackBar::~TvgComboTrackBar() {
  Destroying();
  popup_->OnClosePopup = nullptr;
  trackBar_->OnChange = nullptr;
  DestroyTree();
}

void TvgComboTrackBar::PopupClosed(TObject*) {
  if (GetShowCaret() && Focused()) ShowCaret();
}

void TvgComboTrackBar::ChangeParent() {
  inherited::ChangeParent();
  if (popup_ != nullptr && GetParent() != nullptr && !popup_->GetIsOpen()) popup_->SetParent(GetParent());
}

void TvgComboTrackBar::TrackChanged(TObject*) {
  const std::string text = vgFloatToStr(trackBar_->GetValue());
  SetText(WideString(text.begin(), text.end()));
  SelectAll();
  RunHandler(OnChange, this);
}

void TvgComboTrackBar::Change() {
  double parsed = 0;
  const TFormatSettings settings = GetLocaleFormatSettings();
  if (TryStrToFloat(GetText(), parsed, settings)) trackBar_->SetValue(static_cast<float>(parsed));
  else SetText(FloatToStrShortest(trackBar_->GetValue(), settings));
  Repaint();
  inherited::Change();
}

void TvgComboTrackBar::DropDown() {
  if (popup_->GetIsOpen()) {
    popup_->SetIsOpen(false);
    return;
  }
  if (GetShowCaret()) HideCaret();
  popup_->SetPlacement(placement_);
  popup_->SetWidth(std::max(GetWidth(), 100.0f));
  popup_->SetHeight(30);
  trackBar_->ApplyResource();
  popup_->SetIsOpen(true);
}

void TvgComboTrackBar::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button == mbLeft && !vgPtInRect(vgPoint(x, y), GetContentRect())) DropDown();
}

// --- HUD looks

TvgHudComboTextBox::TvgHudComboTextBox(TComponent* owner) : TvgComboTextBox(owner) {
  SetListBoxResource("hudcombolistboxstyle");
  SetResource("hudcombotextboxstyle");
}

TvgHudComboTrackBar::TvgHudComboTrackBar(TComponent* owner) : TvgComboTrackBar(owner) {
  SetResource("hudcombotextboxstyle");
  GetPopup()->SetResource("hudcombopopupstyle");
  GetTrackBar()->SetResource("hudtrackbarstyle");
}
