// The list item and the list box: layout in rows and columns, selection with its markers,
// alternating rows, sorting, keys and mouse.
#include "vg_listbox.h"

#include <algorithm>
#include <cmath>
#include <utility>
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
  if (holdingList_ != nullptr) holdingList_->ForgetRowHolding(this);
  lineList_ = nullptr;  // no longer the list's to hear of
  checkBox_ = nullptr;
  DestroyTree();
}

TvgComboBox* TvgListBoxItem::ComboBox() const {
  for (TvgObject* p = GetParent(); p != nullptr; p = p->GetParent())
    if (auto* combo = dynamic_cast<TvgComboBox*>(p)) return combo;
  return nullptr;
}

TvgListBox* TvgListBoxItem::RowOf() const {
  auto* content = dynamic_cast<TvgScrollContent*>(GetParent());
  auto* list = content != nullptr ? dynamic_cast<TvgListBox*>(content->GetParent()) : nullptr;
  return list != nullptr && list->GetContent() == content ? list : nullptr;
}

TvgListBox* TvgListBoxItem::ListBox() const {
  for (TvgObject* p = GetParent(); p != nullptr; p = p->GetParent()) {
    if (auto* list = dynamic_cast<TvgListBox*>(p)) return list;
    if (auto* combo = dynamic_cast<TvgComboBox*>(p)) return combo->GetListBox();
  }
  return nullptr;
}

void TvgListBoxItem::ApplyResource() {
  if (TranslationOwed()) SetNeedStyleLookup(true);
  if (GetNeedStyleLookup() && translated_) {
    // Styled anew from the text it was given, as an item made now: the style translates it once.
    const bool styling = styling_;
    styling_ = true;
    const TvgRestoreOnExit back([this, styling] { styling_ = styling; });
    SetText(untranslated_);
    translated_ = false;
  }
  // The style taken (the old one freed, the new one put in) is as every item made from a line
  // takes it when first painted.
  const bool styling = styling_;
  styling_ = true;
  const TvgRestoreOnExit back([this, styling] {
    styling_ = styling;
    answerKept_ = false;
    restyleOwed_ = false;
  });
  inherited::ApplyResource();
}

void TvgListBoxItem::ApplyStyle() {
  const WideString given = GetText();
  {
    // The style translates the text, as it does on every item made from a line.
    const bool styling = styling_;
    styling_ = true;
    const TvgRestoreOnExit back([this, styling] { styling_ = styling; });
    inherited::ApplyStyle();
  }
  if (!translated_ && GetText() != given) {
    untranslated_ = given;
    translated_ = true;
    if (lineList_ != nullptr) lineList_->linesTranslated_ = true;
  }
  if (lineList_ != nullptr && GetAutoTranslate() && !InDesign()) {
    styledFromLine_ = true;
    translationChecked_ = lineList_->linesChanged_;
  }
  checkBox_ = PartOf<TvgCheckBox>(this, "check");
  if (checkBox_ == nullptr) return;
  checkBox_->SetIsChecked(isChecked_);
  checkBox_->OnChange = TNotifyEvent::Of<&TvgListBoxItem::CheckChanged>(this);
  TvgListBox* list = ListBox();
  checkBox_->SetVisible(list != nullptr && list->GetShowCheckboxes());
}

bool TvgListBoxItem::CheckOwed() const {
  return lineList_ != nullptr && styledFromLine_ && translationChecked_ != lineList_->linesChanged_;
}

WideString TvgListBoxItem::LineTranslation() const {
  // Without a translation in force a text is its own: nothing to ask (and no text collected).
  const TvgTranslation& translation = vgTranslation();
  const bool none = !translation.Translate && translation.Language == nullptr;
  return none ? GetSortText() : vgTranslate(GetSortText());
}

bool TvgListBoxItem::TranslationOwed() {
  if (CheckOwed()) {
    translationChecked_ = lineList_->linesChanged_;
    answerFor_ = GetSortText();
    answer_ = LineTranslation();
    answerKept_ = true;
    restyleOwed_ = answer_ != GetText();
  }
  return restyleOwed_;
}

WideString TvgListBoxItem::TranslatedText(const WideString& text) {
  // The answer the check asked for, not asked again.
  if (answerKept_ && text == answerFor_) {
    answerKept_ = false;
    return answer_;
  }
  return inherited::TranslatedText(text);
}

void TvgListBoxItem::FreeStyle() {
  inherited::FreeStyle();
  checkBox_ = nullptr;
}

void TvgListBoxItem::CheckChanged(TObject*) {
  if (checkBox_ == nullptr) return;
  if (isChecked_ != checkBox_->GetIsChecked()) ChangedByOthers();
  isChecked_ = checkBox_->GetIsChecked();
  TvgListBox* list = ListBox();
  if (list == nullptr) return;
  // The list's handlers may free this row (its line deleted, the lines reloaded): it is asked
  // for again after each, and no check is reported with a row that is gone.
  const TvgSceneObjectRef<TvgListBoxItem> row(this);
  list->SetFocus();
  if (row.Get() == nullptr) return;
  list->SetItemIndex(GetIndex());
  if (row.Get() != nullptr) list->RunHandler(list->OnChangeCheck, this);
}

void TvgListBoxItem::SetIsChecked(bool value) {
  if (!vgSetChanged(isChecked_, value)) return;
  ChangedByOthers();
  if (checkBox_ != nullptr) checkBox_->SetIsChecked(value);
}

void TvgListBoxItem::SetIsSelected(bool value) {
  if (!vgSetChanged(isSelected_, value)) return;
  // The trigger's handlers may free the item (its line deleted, the lines reloaded): the list
  // then has nothing more to do for it.
  const TvgSceneObjectRef<TvgListBoxItem> self(this);
  FireTrigger("IsSelected");
  if (self.Get() == nullptr) return;
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

void TvgListBoxItem::ChangedByOthers() {
  TvgListBox* list = lineList_ != nullptr ? lineList_ : RowOf();
  if (list == nullptr || styling_ || list->followingLines_ || list->layingOut_ || list->ownItemChanges_ > 0) return;
  // It may stand otherwise in a layout of the whole list than where the last one left it.
  list->rowChanged_ = true;
  if (lineList_ != nullptr) list->linesFollowed_ = false;
}

void TvgListBoxItem::SetText(const WideString& value) {
  if (!styling_) {
    // Given anew: no longer a translation, nor the line's text for a check owed after a change.
    translated_ = false;
    styledFromLine_ = false;
    restyleOwed_ = false;
    answerKept_ = false;
  }
  inherited::SetText(value);
}

void TvgListBoxItem::AddObject(TvgObject* child) {
  if (child != nullptr && child->GetParent() != this) ChangedByOthers();
  inherited::AddObject(child);
  // Its list's triggers may act on what it holds now.
  if (TvgListBox* list = RowOf()) list->NoteRowHolding(this);
}

void TvgListBoxItem::RemoveObject(TvgObject* child) {
  if (child != nullptr && child->GetParent() == this) ChangedByOthers();
  inherited::RemoveObject(child);
}

// --- List item: its place on demand

void TvgListBoxItem::TakeOwedPlace() {
  TvgListBox* list = lineList_;
  if (list == nullptr || !list->rowsOnDemand_ || rowStamp_ == list->rowsStamp_) return;
  // Painted into a bitmap on its own (a closed combo box shows it so), it stands under another
  // parent, where the paint put it, for the while.
  if (GetParent() != list->GetContent()) return;
  list->PlaceRow(this, GetIndex());
}

// --- Lines that lists are made from

template <typename Change>
void TvgItemLines::Noting(TvgLineChange note, bool noting, Change change) {
  underWay_.push_back({std::move(note), noting, false, 0, false});
  const int32_t open = openChanging_;
  try {
    change();
  } catch (...) {
    // A handler that raised between the change's Changing and its Changed left them unpaired.
    openChanging_ = open;
    underWay_.pop_back();
    throw;
  }
  const TUnderWay done = std::move(underWay_.back());
  underWay_.pop_back();
  // Begun and never paired (a handler left an update of the lines open): the lines may have
  // changed anywhere.
  if (done.noting && done.begun && !done.noted) changes_.push_back({TvgLineChange::Any, 0, 0, {}});
}

void TvgItemLines::Changing() {
  // The first Changing of the innermost change under way is its own; the handlers it runs may
  // make changes of their own, each paired inside it.
  if (!underWay_.empty() && !underWay_.back().begun) {
    underWay_.back().begun = true;
    underWay_.back().level = openChanging_;
  }
  ++openChanging_;
  TvgWideStringList::Changing();
}

void TvgItemLines::Changed() {
  if (openChanging_ > 0) --openChanging_;
  // The note is taken before the list's own handler hears of the change.
  if (!underWay_.empty()) {
    TUnderWay& top = underWay_.back();
    if (top.begun && !top.noted && top.level == openChanging_) {
      top.noted = true;
      if (top.noting) changes_.push_back(top.note);
    }
  }
  TvgWideStringList::Changed();
}

void TvgItemLines::Put(int32_t index, const WideString& text) {
  Noting({TvgLineChange::Put, index, 0, text}, true, [&] { TvgWideStringList::Put(index, text); });
}

void TvgItemLines::PutObject(int32_t index, TObject* object) {
  Noting({}, false, [&] { TvgWideStringList::PutObject(index, object); });
}

void TvgItemLines::Exchange(int32_t index1, int32_t index2) {
  Noting({TvgLineChange::Exchange, index1, index2, {}}, true, [&] { TvgWideStringList::Exchange(index1, index2); });
}

void TvgItemLines::Insert(int32_t index, const WideString& text) {
  Noting({TvgLineChange::Insert, index, 0, text}, true, [&] { TvgWideStringList::Insert(index, text); });
}

int32_t TvgItemLines::Add(const WideString& text) {
  // Where the list puts it: in order when sorted, else at the end.
  int32_t index = GetCount();
  if (GetSorted() && !GetSortByObject()) Find(text, index);
  int32_t result = -1;
  Noting({TvgLineChange::Insert, index, 0, text}, true, [&] { result = TvgWideStringList::Add(text); });
  return result;
}

void TvgItemLines::Delete(int32_t index) {
  Noting({TvgLineChange::Delete, index, 0, {}}, true, [&] { TvgWideStringList::Delete(index); });
}

void TvgItemLines::Clear() {
  Noting({TvgLineChange::Clear, 0, 0, {}}, true, [&] { TvgWideStringList::Clear(); });
}

void TvgItemLines::Sort() {
  Noting({TvgLineChange::Any, 0, 0, {}}, true, [&] { TvgWideStringList::Sort(); });
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
  TvgScrollContent* content = GetContent();
  if (content == nullptr) return nullptr;
  const TvgPoint p = LocalToAbsolute(vgPoint(x, y));
  const auto& children = content->Children();
  size_t first = 0, end = children.size();
  // Rows alike on demand: only those about the point's height can hold it.
  const float at = content->AbsoluteToLocal(p).Y;
  RowsMeeting(at, at, first, end);
  for (size_t i = first; i < end; ++i) {
    auto* item = dynamic_cast<TvgListBoxItem*>(children[i]);
    if (item != nullptr && item->GetVisible() && item->PointInObject(p.X, p.Y)) return item;
  }
  return nullptr;
}

bool TvgListBox::ShownRows(size_t& first, size_t& end) {
  TvgScrollContent* content = GetContent();
  if (content == nullptr || rowBand_ == TRowBand::None) return false;
  // What the content shows: its area on the scene (the viewport and its clip), taken into its own
  // coordinates corner by corner.
  const TvgRect area = content->GetUpdateRect();
  float top = 0, bottom = 0;
  bool any = false;
  for (const TvgPoint& corner : {vgPoint(area.Left, area.Top), vgPoint(area.Right, area.Top),
                                 vgPoint(area.Left, area.Bottom), vgPoint(area.Right, area.Bottom)}) {
    const float y = content->AbsoluteToLocal(corner).Y;
    top = any ? std::min(top, y) : y;
    bottom = any ? std::max(bottom, y) : y;
    any = true;
  }
  return RowsMeeting(top, bottom, first, end);
}

void TvgListBox::ContentShownChildren(size_t& first, size_t& end) {
  // What can show has taken the triggers it slept through.
  if (ShownRows(first, end)) KeepRowsAwake(first, end);
  else WakeAllRows();
}

bool TvgListBox::RowsAreLines() const {
  const size_t count = GetContent() != nullptr ? GetContent()->GetChildrenCount() : 0;
  return linesFollowed_ && !followingLines_ && lineItems_.size() == count;
}

const std::vector<TvgObject*>* TvgListBox::ContentTriggerChildren() {
  TvgScrollContent* content = GetContent();
  if (content == nullptr) return nullptr;
  size_t first = 0, end = content->GetChildrenCount();
  const TvgSceneObjectRef<TvgListBox> self(this);
  const bool alive = ShownRows(first, end) ? (KeepRowsAwake(first, end), self.Get() != nullptr) : WakeAllRows();
  // A handler the waking ran freed the list, and its content with it: nothing is left to walk.
  if (!alive) {
    static const std::vector<TvgObject*> none;
    return &none;
  }
  // Every child an item, which the list hears of when it takes children (its style, when first
  // painted, or what others put into it): one that holds none has nothing for a trigger.
  if (followingLines_ || otherChildren_ > 0) return nullptr;
  return &rowsHolding_;
}

// --- Rows' triggers

void TvgListBox::StartTriggerAnimation(TvgObject* instance, const std::string& trigger) {
  const TvgSceneObjectRef<TvgListBox> self(this);
  inherited::StartTriggerAnimation(instance, trigger);
  if (self.Get() != nullptr) NoteTriggerWalk(instance, trigger, false);
}

void TvgListBox::StartTriggerAnimationWait(TvgObject* instance, const std::string& trigger) {
  const TvgSceneObjectRef<TvgListBox> self(this);
  inherited::StartTriggerAnimationWait(instance, trigger);
  if (self.Get() != nullptr) NoteTriggerWalk(instance, trigger, false);
}

void TvgListBox::ApplyTriggerEffect(TvgObject* instance, const std::string& trigger) {
  const TvgSceneObjectRef<TvgListBox> self(this);
  inherited::ApplyTriggerEffect(instance, trigger);
  if (self.Get() != nullptr) NoteTriggerWalk(instance, trigger, true);
}

void TvgListBox::NoteTriggerWalk(TvgObject* instance, const std::string& trigger, bool effects) {
  // Noted once it went through: a row that fell asleep meanwhile did not take it.
  const TvgSceneObjectRef<TvgObject> by(instance);
  std::erase_if(triggerWalks_, [&](const TTriggerWalk& walk) {
    const bool same = walk.instance == by && walk.effects == effects && walk.trigger == trigger;
    return same || walk.instance.Get() == nullptr;
  });
  triggerWalks_.push_back({by, trigger, effects, ++triggerStamp_});
}

void TvgListBox::PutRow(TvgListBoxItem* item, bool asleep) {
  std::vector<TvgObject*>& rows = asleep ? rowsAsleep_ : rowsHolding_;
  item->holdingAt_ = rows.size();
  item->asleep_ = asleep;
  rows.push_back(item);
}

void TvgListBox::TakeRow(TvgListBoxItem* item) {
  std::vector<TvgObject*>& rows = item->asleep_ ? rowsAsleep_ : rowsHolding_;
  const size_t at = item->holdingAt_;
  if (at >= rows.size() || rows[at] != item) return;
  // The last one takes its place: a list of thousands of styled rows freed costs no more.
  rows[at] = rows.back();
  static_cast<TvgListBoxItem*>(rows[at])->holdingAt_ = at;
  rows.pop_back();
  item->holdingAt_ = SIZE_MAX;
}

void TvgListBox::NoteRowHolding(TvgListBoxItem* item) {
  if (item->holdingList_ == this) return;
  if (item->holdingList_ != nullptr) item->holdingList_->ForgetRowHolding(item);
  item->holdingList_ = this;
  PutRow(item, false);
}

void TvgListBox::ForgetRowHolding(TvgListBoxItem* item) {
  if (item->holdingList_ != this) return;
  TakeRow(item);
  item->holdingList_ = nullptr;
  item->asleep_ = false;
}

void TvgListBox::KeepRowsAwake(size_t first, size_t end) {
  const auto& children = GetContent()->Children();
  end = std::min(end, children.size());
  if (++bandMark_ == 0) bandMark_ = 1;
  // The rows about the viewport are all items (RowsMeeting).
  std::vector<TvgSceneObjectRef<TvgListBoxItem>> missed;
  for (size_t i = first; i < end; ++i) {
    auto* item = static_cast<TvgListBoxItem*>(children[i]);
    item->bandMark_ = bandMark_;
    if (item->holdingList_ != this || !item->asleep_) continue;
    // Asleep through no walk: awake as it is.
    if (item->triggersSeen_ == triggerStamp_) {
      TakeRow(item);
      PutRow(item, false);
    } else {
      missed.emplace_back(item);
    }
  }
  // The others fall asleep: no trigger visits them while they are away.
  for (size_t k = 0; k < rowsHolding_.size();) {
    auto* item = static_cast<TvgListBoxItem*>(rowsHolding_[k]);
    if (item->bandMark_ == bandMark_) {
      ++k;
      continue;
    }
    TakeRow(item);  // the last one takes its place at k
    item->triggersSeen_ = triggerStamp_;
    PutRow(item, true);
  }
  for (const TvgSceneObjectRef<TvgListBoxItem>& row : missed) {
    if (TvgListBoxItem* item = row.Get(); item != nullptr && !WakeRow(item)) return;
  }
}

bool TvgListBox::WakeRow(TvgListBoxItem* item) {
  if (item->holdingList_ != this || !item->asleep_) return true;
  const uint64_t seen = item->triggersSeen_;
  // Awake first: a walk its handlers start reaches it.
  TakeRow(item);
  PutRow(item, false);
  std::vector<TTriggerWalk> missed;
  for (const TTriggerWalk& walk : triggerWalks_)
    if (walk.stamp > seen) missed.push_back(walk);
  // A walk reaches the row's parts through the content and the row, parts locked that ignore the
  // mouse; the handlers its animations run may free the row or the list.
  const TvgSceneObjectRef<TvgListBox> self(this);
  const TvgSceneObjectRef<TvgListBoxItem> row(item);
  const auto passes = [](TvgVisualObject* v) { return v->GetLocked() && !v->GetHitTest(); };
  for (const TTriggerWalk& walk : missed) {
    if (self.Get() == nullptr) return false;
    TvgScrollContent* content = GetContent();
    if (row.Get() == nullptr || content == nullptr || item->GetParent() != content || !passes(content) || !passes(item))
      return true;
    if (TvgObject* instance = walk.instance.Get()) {
      if (walk.effects) item->ApplyTriggerEffect(instance, walk.trigger);
      else item->StartTriggerAnimation(instance, walk.trigger);
    }
  }
  return self.Get() != nullptr;
}

bool TvgListBox::WakeAllRows() {
  if (rowsAsleep_.empty()) return true;
  std::vector<TvgSceneObjectRef<TvgListBoxItem>> asleep;
  asleep.reserve(rowsAsleep_.size());
  for (TvgObject* row : rowsAsleep_) asleep.emplace_back(static_cast<TvgListBoxItem*>(row));
  for (const TvgSceneObjectRef<TvgListBoxItem>& row : asleep) {
    if (TvgListBoxItem* item = row.Get(); item != nullptr && !WakeRow(item)) return false;
  }
  return true;
}

bool TvgListBox::RowsMeeting(float top, float bottom, size_t& first, size_t& end) {
  // Every child a row of the lines' own, or an item, none placed or changed by others since: row i
  // stands from i times the height, as tall as that, or from the top kept for it. A row's style
  // parts may stick out of it a little: one more row on either side.
  const size_t count = GetContent() != nullptr ? GetContent()->GetChildrenCount() : 0;
  const bool rowsKept = RowsAreLines() || (!followingLines_ && otherChildren_ == 0 && !rowChanged_);
  if (rowBand_ == TRowBand::None || !rowsKept || end != count || !std::isfinite(top) || !std::isfinite(bottom))
    return false;
  if (rowBand_ == TRowBand::ByIndex) {
    if (!(rowHeight_ > 0)) return false;
    const double h = rowHeight_, rows = static_cast<double>(count);
    const double from = std::clamp(std::floor(top / h) - 1, 0.0, rows);
    const double to = std::clamp(std::ceil(bottom / h) + 1, from, rows);
    first = static_cast<size_t>(from);
    end = static_cast<size_t>(to);
  } else {
    if (rowTops_.size() != count + 1) return false;
    // The row whose span holds `y` (the first one above the first row, the last one below the
    // last).
    const auto rowAt = [this, count](float y) {
      const auto begin = rowTops_.begin();
      const auto after = std::upper_bound(begin, begin + static_cast<std::ptrdiff_t>(count), y);
      return after == begin ? size_t{0} : static_cast<size_t>(after - begin) - 1;
    };
    const size_t from = rowAt(top);
    first = from > 0 ? from - 1 : 0;
    end = std::max(first, std::min(count, rowAt(bottom) + 2));
  }
  // Told rather than counted: after a change at the front every row's remembered index is stale,
  // and asking one would number them all.
  const auto& children = GetContent()->Children();
  for (size_t i = first; i < end; ++i) static_cast<TvgListBoxItem*>(children[i])->KnowIndex(static_cast<int32_t>(i));
  return true;
}

// --- Content changes and style

void TvgListBox::ContentAddObject(TvgObject* child) {
  inherited::ContentAddObject(child);
  rowBand_ = TRowBand::None;  // until the rows are placed again
  auto* item = dynamic_cast<TvgListBoxItem*>(child);
  // A row that comes holding children (its style, or what the program put into it) may take a
  // trigger of the list.
  if (item == nullptr) ++otherChildren_;
  else if (item->GetChildrenCount() > 0) NoteRowHolding(item);
  if (!followingLines_) {
    // Appended: the rows before it keep their indices, and their owed places.
    SettleRows();
    linesFollowed_ = false;
  }
  if (item == nullptr) return;
  // A row appended outside an update to an unsorted list, below rows that none changed since they
  // were placed, goes where a layout of the whole list puts it, when that is all the layout would
  // change: an add costs the same at any length. Inside an update the layout waits for the end of
  // the outermost one.
  const size_t count = GetContent()->GetChildrenCount();
  const bool last = GetContent()->GetChild(static_cast<int32_t>(count) - 1) == child;
  if (last && !followingLines_ && !rowChanged_ && !sorted_ && PlaceFrom(count - 1, false, item)) return;
  Realign();
}

void TvgListBox::ContentRemovingObject(TvgObject* child) {
  inherited::ContentRemovingObject(child);
  rowBand_ = TRowBand::None;  // until the rows are placed again
  if (!child->Is<TvgListBoxItem>() && otherChildren_ > 0) --otherChildren_;
  if (followingLines_) {
    // ItemIndex keeps its number while lines are followed, as it does for items made afresh.
    if (child == keptSelected_) keptSelected_ = nullptr;
    return;
  }
  if (!clearing_ && !HasState(csDestroying)) SettleRows();
  linesFollowed_ = false;
  if (itemIndex_ <= 0 || clearing_ || HasState(csDestroying)) return;
  // The index keeps naming the selected item, which moves up one place; the layout would
  // otherwise mark the item taking its old place as selected beside it.
  if (child->GetIndex() < itemIndex_) --itemIndex_;
}

void TvgListBox::ContentReordering() {
  inherited::ContentReordering();
  rowBand_ = TRowBand::None;  // until the rows are placed again
  // Others move the children: the rows take the places they are owed first. (The list's own
  // sort is followed by a layout of the whole list.)
  if (!followingLines_ && !sortingItems_) SettleRows();
  reorderedSelected_ = followingLines_ ? nullptr : GetSelected();
}

void TvgListBox::ContentReordered() {
  inherited::ContentReordered();
  // The list's own sort leaves the items made from lines its own, in another order.
  if (sortingItems_) inLineOrder_ = false;
  else if (!followingLines_) {
    linesFollowed_ = false;
    rowChanged_ = true;  // moved by others
  }
  if (!sortingItems_ && !placingSorted_) sortedKept_ = false;
  // The index keeps naming the selected item wherever it went; the layout would otherwise mark
  // the item now in its old place as selected beside it.
  if (reorderedSelected_ != nullptr) itemIndex_ = reorderedSelected_->GetIndex();
  reorderedSelected_ = nullptr;
}

void TvgListBox::ContentRemoveObject(TvgObject* child) {
  inherited::ContentRemoveObject(child);
  if (auto* item = dynamic_cast<TvgListBoxItem*>(child)) {
    item->isSelected_ = false;  // no longer ours: the list does not hear of it again
    ForgetRowHolding(item);
    if (item->lineList_ == this) {
      item->lineList_ = nullptr;
      item->SetPlaceOnDemand(false);
    }
    if (dragItem_ == item) dragItem_ = nullptr;
  }
  // Inside an update the layout waits for the end of the outermost one.
  if (!HasState(csDestroying)) Realign();
}

void TvgListBox::ApplyStyle() {
  layoutCurrent_ = false;  // another viewport and bars
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
  layoutCurrent_ = false;
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
  WakeShownRows();
}

void TvgListBox::VScrollChange(TObject* sender) {
  inherited::VScrollChange(sender);
  UpdateSelection();
  WakeShownRows();
}

void TvgListBox::WakeShownRows() {
  // Last: the handlers the rows' triggers run may free the list.
  size_t first = 0, end = GetContent() != nullptr ? GetContent()->GetChildrenCount() : 0;
  if (ShownRows(first, end)) KeepRowsAwake(first, end);
}

void TvgListBox::MoveContent(const TvgPoint& p) {
  if (RowsAreLines()) GetContent()->MoveOverChildren(p);
  else inherited::MoveContent(p);
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

void TvgListBox::SetColumns(int32_t value) {
  columns_ = std::max(value, 1);
  Realign();
}

void TvgListBox::SetItemWidth(float value) {
  if (value == itemWidth_) return;
  itemWidth_ = value;
  Realign();
}

void TvgListBox::SetItemHeight(float value) {
  if (value == itemHeight_) return;
  itemHeight_ = value;
  Realign();
}

void TvgListBox::SetListStyle(TvgListStyle value) {
  if (value == listStyle_) return;
  listStyle_ = value;
  Realign();
}

// --- Layout

namespace {

// Whether rows of height `h` stand where a layout adding their heights up one by one puts them
// when each is placed at its index times `h`: the float sums of up to `count` of them are exact
// (h a multiple of a power of two no finer than 1/256, the whole height within the float's exact
// integers at that step).
bool RowsAddUp(float h, size_t count) {
  if (!(h > 0)) return false;
  double scaled = h;
  for (int steps = 0; scaled != std::floor(scaled); ++steps) {
    if (steps == 8) return false;
    scaled *= 2;
  }
  return scaled * static_cast<double>(count) < 16777216.0;
}

}  // namespace

void TvgListBox::Realign() {
  if (layingOut_) return;
  if (followingLines_) {
    layoutHeld_ = true;
    return;
  }
  // A layout asked for and not done now: what the last one left no longer holds.
  layoutCurrent_ = false;
  // Each item added in an update asks for a layout: noted at once, without a repaint batch.
  if (PutOffRealign()) return;
  if (numberOwed_ && !inListRealign_) {
    // Lines followed in the update that ends: the index keeps its number on the items where
    // this layout (a sort) puts them, as in a list made afresh; then the scroll owed.
    numberOwed_ = false;
    const bool scroll = std::exchange(scrollOwed_, false);
    try {
      LayOutKeepingNumber(itemIndex_, GetSelected(), [this] { Realign(); });
    } catch (...) {
      scrollOwed_ = scroll;  // for the next layout
      throw;
    }
    if (!layoutCurrent_) {
      // Nothing placed (no style yet, or read from a stream): still owed to the first layout.
      numberOwed_ = true;
      scrollOwed_ = scroll;
      return;
    }
    if (scroll) ScrollFromStartToSelected();
    return;
  }
  // Placing the items and showing or hiding the scroll bars repaints each of them: the scene
  // takes one request for all.
  TvgRepaintBatch batch(this);
  if (inListRealign_) {
    inherited::Realign();  // asked for by the layout itself (the content's new size)
    return;
  }
  inListRealign_ = true;
  placedInPass_ = false;
  {
    const TvgRestoreOnExit done([this] { inListRealign_ = false; });
    inherited::Realign();
  }
  TvgVisualObject* viewport = GetViewport();
  layoutCurrent_ = placedInPass_ && viewport != nullptr && GetUpdateCounter() == 0 &&
                   placedViewport_ == vgPoint(viewport->GetWidth(), viewport->GetHeight());
  if (scrollOwed_ && GetUpdateCounter() == 0) {
    scrollOwed_ = false;
    ScrollFromStartToSelected();
  }
}

TvgRect TvgListBox::GetContentBounds() {
  TvgRect r = GetLocalRect();
  if (GetUpdateCounter() > 0 || GetViewport() == nullptr) return r;
  r = vgRect(0, 0, GetViewport()->GetWidth(), GetViewport()->GetHeight());
  if (GetContent() != nullptr) {
    rowBand_ = TRowBand::None;  // until the layout below
    SortItems();
    if (!multiSelect_) {
      if (TvgListBoxItem* item = GetSelected()) item->isSelected_ = true;
    }
    TLayoutPass pass(this, layingOut_);
    // Every row is placed now: none takes an owed place meanwhile (which its new one may equal).
    rowsOnDemand_ = false;
    r = listStyle_ == vgListVertical ? LayoutVertical(r) : LayoutHorizontal(r);
    placedInPass_ = true;
    rowChanged_ = false;
    placedViewport_ = vgPoint(GetViewport()->GetWidth(), GetViewport()->GetHeight());
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
  // In one column the top of each row is kept: PlaceFrom goes on from there, placing the rows as
  // this does (keep the two alike).
  if (cols == 1) rowTops_.resize(count + 1);
  else rowTops_.clear();
  // Whether every row is an item of one height without padding (none yet: any height will do).
  float alike = cols == 1 ? -1 : 0;
  float top = 0;
  for (size_t row = 0; row * cols < count; ++row) {
    if (cols == 1) rowTops_[row] = top;
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
      const bool item = dynamic_cast<TvgListBoxItem*>(v) != nullptr;
      const float height = item ? rowHeight - pad.Top - pad.Bottom : v->GetHeight();
      v->SetBounds(static_cast<float>(i - first) * columnWidth + pad.Left, top + pad.Top, columnWidth, height);
      NotePlaced(v);
      if (!item || pad != TvgRect{} || (alike >= 0 && alike != height)) alike = 0;
      else if (alike < 0) alike = height;
    }
    top += rowHeight;
  }
  if (cols == 1) rowTops_[count] = top;
  rowsAlikeHeight_ = alike;
  // Rows made from lines, all alike, one below the other from the top: row i stands at i times
  // their height when the sums above are exact, as rows placed on demand do, else at the top kept
  // for it, and the rows a paint or a hit can meet follow from its band. A layout of the whole
  // list costs the list's length; what is pointed at, painted or hit afterwards need not.
  rowBand_ = TRowBand::None;
  if (cols == 1 && alike > 0 && !IsDesigning())
    rowBand_ = RowsAddUp(alike, count) ? TRowBand::ByIndex : TRowBand::ByTops;
  if (rowBand_ == TRowBand::ByIndex) rowHeight_ = alike;
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
  rowsAlikeHeight_ = 0;
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
      NotePlaced(v);
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
  if (OnCompare) return RunHandler(OnCompare, a, b);
  return vgWideCompareText(a->GetSortText(), b->GetSortText());
}

void TvgListBox::SortItems() {
  if (!sorted_ || GetContent() == nullptr) return;
  // Items from lines that a sort by text left as they stand (and lines added since went to their
  // places): a stable sort leaves them so.
  const bool lineItemsOnly = linesFollowed_ && !OnCompare && lineItems_.size() == static_cast<size_t>(Count());
  if (lineItemsOnly && sortedKept_) return;
  // The selected item stays selected wherever it lands (ContentReordered); the items made from
  // lines stay theirs.
  const bool fromLineOrder = lineItemsOnly && inLineOrder_;
  sortingItems_ = true;
  sortedKept_ = false;
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
  sortedKept_ = fromLineOrder;
}

void TvgListBox::SetItemIndex(int32_t value) { MoveSelection(value, true); }

void TvgListBox::MoveSelection(int32_t value, bool show) {
  if (value == itemIndex_) return;
  // The items' triggers, and those a row scrolled into view slept through, run the program's
  // handlers, which may delete or reload lines (the index keeps its number) or free the list: the
  // selected item is asked for again after each.
  const TvgSceneObjectRef<TvgListBox> self(this);
  if (!multiSelect_) {
    if (TvgListBoxItem* old = GetSelected()) {
      old->isSelected_ = false;
      old->FireTrigger("IsSelected");
      if (self.Get() == nullptr) return;
    }
  }
  itemIndex_ = value;
  TvgListBoxItem* item = GetSelected();
  if (item != nullptr && show) {
    ScrollIntoView(item);
    if (self.Get() == nullptr) return;
    item = GetSelected();
  }
  if (item != nullptr && !item->isSelected_) {
    item->isSelected_ = true;
    item->FireTrigger("IsSelected");
    if (self.Get() == nullptr) return;
    item = GetSelected();
  }
  SelectionMoved();
  if (GetUpdateCounter() == 0 && !quietIndex_) {
    if (!BoundControls().empty()) UpdateBindings();
    RunHandler(OnChange, item);
  }
  if (show) UpdateSelection();
}

void TvgListBox::SetItemIndexQuietly(int32_t value) {
  TQuietIndex quiet(this);
  SetItemIndex(value);
}

void TvgListBox::ScrollToSelected() {
  if (TvgListBoxItem* item = GetSelected()) ScrollIntoView(item);
}

// ScrollStaysFromStart takes these steps in thought: keep the two alike.
void TvgListBox::ScrollIntoView(TvgListBoxItem* item) {
  TvgVisualObject* viewport = GetViewport();
  TvgVisualObject* content = GetContent();
  if (viewport == nullptr || content == nullptr) return;
  PlaceSelected();
  const TvgRect pad = item->GetPadding()->GetRect();
  const TvgPoint vp = viewport->GetPosition()->GetPoint();
  const TvgPoint cp = content->GetPosition()->GetPoint();
  const TvgPoint ip = item->GetPosition()->GetPoint();
  // A row that comes into view takes the triggers it slept through as the bar moves: their
  // handlers may free the item (its line deleted, the lines reloaded), which is then not shown.
  const TvgSceneObjectRef<TvgListBoxItem> row(item);
  if (TvgScrollBar* bar = GetVScrollBar()) {
    const float bottom = cp.Y + ip.Y + pad.Top + pad.Bottom + item->GetHeight();
    const float viewBottom = vp.Y + viewport->GetHeight();
    if (bottom > viewBottom) bar->SetValue(bar->GetValue() + bottom - viewBottom);
    if (row.Get() == nullptr) return;
    const float top = content->GetPosition()->GetY() + ip.Y;
    if (top < vp.Y) bar->SetValue(bar->GetValue() + top - vp.Y);
    if (row.Get() == nullptr) return;
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
    // By index: a row's trigger may free rows (see SetIsSelected).
    const auto& children = GetContent()->Children();
    for (size_t i = 0; i < children.size(); ++i)
      if (auto* item = dynamic_cast<TvgListBoxItem*>(children[i])) item->SetIsSelected(false);
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
  PlaceSelected();
  TvgObject* markerParent = selection_->GetParent();
  if (markerParent == nullptr || !markerParent->IsVisual()) return;
  TvgVisualObject* parent = markerParent->Visual();
  std::vector<TvgRect> rects;
  const TvgRect listRect = GetUpdateRect();
  const auto marker = [&](TvgListBoxItem* item) {
    const TvgPoint p = parent->AbsoluteToLocal(item->LocalToAbsolute(vgPoint(0, 0)));
    return vgRect(p.X, p.Y, p.X + item->GetWidth(), p.Y + item->GetHeight());
  };
  // Of the lines' own items in a single selection only the selected one can be marked (the list
  // marks no other): its marker alone, without walking the items.
  if (linesFollowed_ && !lineItems_.empty() && !multiSelect_) {
    TvgListBoxItem* item = GetSelected();
    if (item != nullptr && item->GetIsSelected() && vgIntersectsRect(item->GetUpdateRect(), listRect))
      rects.push_back(marker(item));
    UpdateMarkers(selection_, this, selectionClones_, rects, !hideSelectionUnfocused_ || GetIsFocused());
    return;
  }
  const auto& children = GetContent()->Children();
  bool previousSelected = false;
  for (size_t i = 0; i < children.size(); ++i) {
    auto* item = dynamic_cast<TvgListBoxItem*>(children[i]);
    const bool selected = item != nullptr && item->GetIsSelected();
    if (selected && vgIntersectsRect(item->GetUpdateRect(), listRect)) {
      const TvgRect r = marker(item);
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
  // Rows outside the viewport fill nothing it shows.
  size_t first = 0, end = children.size();
  ContentShownChildren(first, end);
  end = std::min(end, children.size());  // a row that woke may have run a handler
  for (size_t i = first | 1; i < end; i += 2) {
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
  linesTranslated_ = false;
  rowsAlikeHeight_ = -1;  // no rows left to differ
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
  if (looks.Font != nullptr) item->SetFont(looks.Font);
  if (looks.AlignText) item->SetTextAlign(looks.TextAlign);
  // In one column a row is as wide as the viewport (and as tall as the list's item height): the
  // size a layout gives it, given now, so that a row placed on demand is only moved.
  if (listStyle_ == vgListVertical && columns_ == 1 && itemWidth_ == 0 && GetViewport() != nullptr) {
    item->SetWidth(GetViewport()->GetWidth());
    if (itemHeight_ != 0) item->SetHeight(itemHeight_);
  }
  item->EndUpdate();
  item->lineList_ = this;
  item->SetPlaceOnDemand(true);
  return item;
}

void TvgListBox::FreeLineItem(TvgListBoxItem* item, size_t index) {
  // Found at once among the content's children, wherever it stands.
  item->KnowIndex(static_cast<int32_t>(index));
  delete item;
}

size_t TvgListBox::LineItemIndex(size_t line, bool keptSorted) {
  // The items stand after the list's other children: unsorted, in the lines' order.
  if (!sorted_) return static_cast<size_t>(Count()) - lineItems_.size() + line;
  TvgListBoxItem* item = lineItems_[line];
  if (keptSorted) {
    // Among those whose text compares equal to its own.
    const auto [low, high] = EqualRun(item, false);
    const auto& children = GetContent()->Children();
    const auto begin = children.begin() + static_cast<std::ptrdiff_t>(low);
    const auto end = children.begin() + static_cast<std::ptrdiff_t>(high);
    if (const auto found = std::find(begin, end, item); found != end) return static_cast<size_t>(found - children.begin());
  }
  return static_cast<size_t>(item->GetIndex());
}

void TvgListBox::RemakeLineItem(size_t line, const WideString& text, bool place, size_t& first) {
  TvgListBoxItem* old = lineItems_[line];
  const size_t at = LineItemIndex(line, false);
  // A new item rather than the old one given the text: the old one may have taken its style,
  // which a new item takes (its text translated with it) when first painted.
  TvgListBoxItem* item = MakeLineItem(text, lineLooks_);
  lineItems_[line] = item;
  FreeLineItem(old, at);
  if (place && static_cast<int32_t>(at) < Count() - 1) item->SetIndex(static_cast<int32_t>(at));
  PutTab(line, true);
  first = std::min(first, at);
}

void TvgListBox::PutTab(size_t line, bool made) {
  // Items made afresh take the tab order in the order they are made: the lines' (a sort moves
  // the children, not their tab order). A new item's tab comes last, where the last line's
  // belongs; another goes just before the next line's item's tab, or just after the one before
  // it, wherever the program put the tabs of the list's other children.
  if (made && line + 1 == lineItems_.size()) return;
  TvgListBoxItem* item = lineItems_[line];
  // A new item's tab is the last (not searched for: a change at the front costs no more).
  const auto& tabs = GetContent()->TabList();
  const int32_t own = made && !tabs.empty() && tabs.back() == item ? static_cast<int32_t>(tabs.size()) - 1 : item->GetTabOrder();
  if (line + 1 < lineItems_.size()) {
    const int32_t next = lineItems_[line + 1]->GetTabOrder();
    if (own >= 0 && next >= 0) item->SetTabOrder(own < next ? next - 1 : next);
  } else if (line > 0) {
    const int32_t before = lineItems_[line - 1]->GetTabOrder();
    if (own >= 0 && before >= 0) item->SetTabOrder(own < before ? before : before + 1);
  }
}

bool TvgListBox::ApplyLineChanges(const std::vector<TvgLineChange>& changes, size_t& first, bool& keptSorted,
                                  bool& rowsMoved) {
  // The items stand after the list's other children: a line's place in the content is that of
  // the item it goes before, or the end. Unsorted, they stand in the lines' order, so that place
  // is counted rather than asked of the item (which would number every child). A sorted list has
  // its own order: an item made goes to its place in it when the items stand sorted, else the
  // lines' order is set just before the list sorts.
  const auto size = [this] { return static_cast<int32_t>(lineItems_.size()); };
  const auto at = [this, &keptSorted](int32_t line) { return LineItemIndex(static_cast<size_t>(line), keptSorted); };
  const auto insert = [&](int32_t line, const WideString& text) {
    const size_t place = !sorted_ && line < size() ? at(line) : static_cast<size_t>(Count());
    TvgListBoxItem* item = MakeLineItem(text, lineLooks_);
    lineItems_.insert(lineItems_.begin() + line, item);
    PutTab(static_cast<size_t>(line), true);
    size_t placed = place;
    if (keptSorted) placed = PlaceSorted(static_cast<size_t>(line));
    else if (!sorted_ && place < static_cast<size_t>(Count() - 1)) item->SetIndex(static_cast<int32_t>(place));
    if (keptSorted || !sorted_) first = std::min(first, placed);
    // Before another row, or where a sort will put it.
    if (placed + 1 < static_cast<size_t>(Count()) || (sorted_ && !keptSorted)) rowsMoved = true;
  };
  const auto remove = [&](int32_t line) {
    TvgListBoxItem* item = lineItems_[static_cast<size_t>(line)];
    const size_t index = at(line);
    first = std::min(first, index);
    lineItems_.erase(lineItems_.begin() + line);
    FreeLineItem(item, index);
    rowsMoved = true;
  };
  for (const TvgLineChange& change : changes) {
    switch (change.Kind) {
      case TvgLineChange::Insert:
        if (change.Index < 0 || change.Index > size()) return false;
        insert(change.Index, change.Text);
        break;
      case TvgLineChange::Delete:
        if (change.Index < 0 || change.Index >= size()) return false;
        remove(change.Index);
        break;
      case TvgLineChange::Put:
        if (change.Index < 0 || change.Index >= size()) return false;
        if (keptSorted) {
          // Another text has another place.
          remove(change.Index);
          insert(change.Index, change.Text);
        } else {
          RemakeLineItem(static_cast<size_t>(change.Index), change.Text, !sorted_, first);
          rowsMoved = true;
        }
        break;
      case TvgLineChange::Exchange: {
        // The two items trade places: each is what an item made from its line there would be.
        if (change.Index < 0 || change.Index >= size() || change.Other < 0 || change.Other >= size()) return false;
        if (change.Index == change.Other) break;
        // Lines that compare equal stand in the lines' order: theirs may change.
        keptSorted = false;
        const auto a = static_cast<size_t>(std::min(change.Index, change.Other));
        const auto b = static_cast<size_t>(std::max(change.Index, change.Other));
        const size_t placeA = at(static_cast<int32_t>(a)), placeB = at(static_cast<int32_t>(b));
        if (!sorted_) {
          lineItems_[b]->SetIndex(static_cast<int32_t>(placeA));
          lineItems_[a]->SetIndex(static_cast<int32_t>(placeB));
        }
        std::swap(lineItems_[a], lineItems_[b]);
        PutTab(a, false);
        PutTab(b, false);
        first = std::min(first, placeA);
        rowsMoved = true;
        break;
      }
      case TvgLineChange::Clear:
        // The items stand after the other children, in whatever order.
        if (!lineItems_.empty()) first = std::min(first, static_cast<size_t>(Count()) - lineItems_.size());
        FreeItems();
        rowsMoved = true;
        break;
      case TvgLineChange::Any:
        return false;
    }
  }
  return true;
}

std::pair<size_t, size_t> TvgListBox::EqualRun(TvgListBoxItem* item, bool skipLast) {
  const auto& children = GetContent()->Children();
  const size_t count = children.size() - (skipLast ? 1 : 0);
  const auto compare = [this, item, &children](size_t i) { return CompareItems(static_cast<TvgListBoxItem*>(children[i]), item); };
  size_t low = 0, high = count;
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    if (compare(middle) < 0) low = middle + 1;
    else high = middle;
  }
  size_t end = low;
  high = count;
  while (end < high) {
    const size_t middle = end + (high - end) / 2;
    if (compare(middle) <= 0) end = middle + 1;
    else high = middle;
  }
  return {low, end};
}

size_t TvgListBox::PlaceSorted(size_t line) {
  TvgListBoxItem* const item = lineItems_[line];
  const size_t last = static_cast<size_t>(Count()) - 1;  // the item itself
  // The sort is stable: the item goes after those that sort before it and, of those that compare
  // equal, after the ones of earlier lines.
  const auto [low, end] = EqualRun(item, true);
  size_t place = low;
  if (end > low) {
    // The equal ones stand in the lines' order. A line added last goes after them all, one
    // inserted first before them; otherwise those of the lines on its nearer side are counted.
    const size_t lines = lineItems_.size();
    const auto equal = [this, item](size_t i) { return CompareItems(lineItems_[i], item) == 0 ? size_t{1} : 0; };
    if (line + 1 == lines) {
      place = end;
    } else if (line < lines - 1 - line) {
      for (size_t i = 0; i < line; ++i) place += equal(i);
    } else {
      place = end;
      for (size_t i = line + 1; i < lines; ++i) place -= equal(i);
    }
  }
  if (place < last) {
    placingSorted_ = true;
    const TvgRestoreOnExit done([this] { placingSorted_ = false; });
    item->SetIndex(static_cast<int32_t>(place));
  }
  return place;
}

void TvgListBox::MatchLines(const TvgItemLines& lines, size_t& first) {
  const auto count = static_cast<size_t>(lines.Count());
  // Last first, as Clear frees them.
  while (lineItems_.size() > count) {
    TvgListBoxItem* item = lineItems_.back();
    first = std::min(first, static_cast<size_t>(item->GetIndex()));
    lineItems_.pop_back();
    delete item;
  }
  // Many may be made again (a sort): put in their places at once afterwards.
  bool remade = false;
  for (size_t i = 0; i < lineItems_.size(); ++i) {
    const WideString line = lines.Get(static_cast<int32_t>(i));
    // The text the item was made from, not the one its style translated it to.
    if (lineItems_[i]->GetSortText() == line) continue;
    RemakeLineItem(i, line, false, first);
    remade = true;
  }
  for (size_t i = lineItems_.size(); i < count; ++i) {
    lineItems_.push_back(MakeLineItem(lines.Get(static_cast<int32_t>(i)), lineLooks_));
    first = std::min(first, static_cast<size_t>(Count() - 1));
  }
  if (remade && !sorted_) {
    PutItemsInLineOrder();
    first = 0;
  }
}

void TvgListBox::PutItemsInLineOrder() {
  // Items made afresh stand in the lines' order after the other children (and a stable sort
  // keeps lines that compare equal in that order): so must these.
  std::unordered_map<TvgObject*, size_t> order;
  order.reserve(lineItems_.size());
  for (size_t i = 0; i < lineItems_.size(); ++i) order.emplace(lineItems_[i], i + 1);
  const auto rank = [&order](TvgObject* child) {
    const auto found = order.find(child);
    return found != order.end() ? found->second : 0;
  };
  GetContent()->SortChildren([&rank](TvgObject* a, TvgObject* b) {
    const size_t x = rank(a), y = rank(b);
    return x < y ? -1 : (x > y ? 1 : 0);
  });
  inLineOrder_ = true;
}

bool TvgListBox::FollowLines(TvgItemLines& lines, const TvgLineItemLooks& looks, TvgLinesKeep keep) {
  const std::vector<TvgLineChange> changes = lines.TakeChanges();
  if (GetContent() == nullptr) return false;
  const int32_t index = itemIndex_;
  const float hValue = GetHScrollBar() != nullptr ? GetHScrollBar()->GetValue() : 0;
  const float vValue = GetVScrollBar() != nullptr ? GetVScrollBar()->GetValue() : 0;
  TvgListBoxItem* const selected = GetSelected();
  const WideString selectedText = selected != nullptr ? selected->GetText() : WideString();
  bool remake = false;
  TvgListBoxItem* kept = nullptr;
  size_t first = SIZE_MAX;  // the first child of the content that the changes touched
  bool rowsMoved = false;   // rows other than those added at the end were made, freed or moved
  // Inside an update nothing is placed until its end: the rows stand where the last change put
  // them (read or painted meanwhile), not where their new indices would.
  if (GetUpdateCounter() > 0) SettleRows();
  TvgRepaintBatch batch(this);
  {
    const TvgRestoreOnExit done([this] {
      followingLines_ = false;
      keptSelected_ = nullptr;
    });
    followingLines_ = true;
    keptSelected_ = selected;
    layoutHeld_ = false;
    dragItem_ = nullptr;
    // Items made from other looks, or that are not all the lines' own (others added, freed,
    // moved or changed items; other items of a multiple selection may be selected): all made
    // afresh, as every change made them before.
    remake = !linesFollowed_ || multiSelect_ || (looks != lineLooks_ && !lineItems_.empty()) ||
             (sorted_ && OnCompare && linesTranslated_);
    // The items stand as a sort by text leaves them: each one made goes to its place.
    bool keptSorted = !remake && sorted_ && sortedKept_ && !OnCompare && lineItems_.size() == static_cast<size_t>(Count());
    linesFollowed_ = false;  // until the items are the lines' again
    sortedKept_ = false;
    lineLooks_ = looks;
    if (remake) {
      first = 0;
      rowsMoved = true;
      FreeItems();
      for (int32_t i = 0; i < lines.Count(); ++i) lineItems_.push_back(MakeLineItem(lines.Get(i), looks));
      inLineOrder_ = true;
    } else {
      // A list sorted before keeps the order the sort left: the lines' order comes first.
      if (!sorted_ && !inLineOrder_) {
        PutItemsInLineOrder();
        first = 0;
        rowsMoved = true;
      }
      // Notes that do not fit (a sort moved lines without saying where): each item is matched
      // with the line at its index.
      if (!ApplyLineChanges(changes, first, keptSorted, rowsMoved) || lineItems_.size() != static_cast<size_t>(lines.Count())) {
        keptSorted = false;
        rowsMoved = true;
        MatchLines(lines, first);
      }
      // Items kept that took their style under another translation take it anew when next
      // painted, as the items of a list made now do.
      ++linesChanged_;
    }
    if (sorted_ && !keptSorted) {
      PutItemsInLineOrder();
      first = 0;
      rowsMoved = true;
    }
    sortedKept_ = keptSorted;
    linesFollowed_ = true;
    kept = keptSelected_;  // the selected item, unless it went
  }
  // The index keeps its number on the items where they stand once laid out (a sorted list sorts
  // them), lowered to the last item when beyond it: a program reads the line it names.
  const int32_t count = Count();
  const int32_t restored = index >= count ? count - 1 : index;
  bool moved = false;
  if (GetUpdateCounter() == 0) {
    const bool layout = first != SIZE_MAX || layoutHeld_ || !layoutCurrent_;
    layoutHeld_ = false;
    moved = LayOutKeepingNumber(restored, kept, [this, layout, first, rowsMoved] {
      if (layout && (first == SIZE_MAX || !PlaceFrom(first, rowsMoved))) Realign();
    });
    // A list that could not be laid out (no style yet, or being read from a stream) keeps the
    // number through its first layout, which sorts a sorted one: the index then counts the items
    // as they stand laid out, as in a list made afresh and then given its index.
    if (!layoutCurrent_) numberOwed_ = true;
    if (keep == TvgLinesKeep::IndexShown) ScrollFromStartToSelected();
    else ScrollFromStartTo(hValue, vValue);
  } else {
    // The end of the update lays the list out (and sorts it), keeping the number, and then
    // scrolls. The selection meanwhile is on the item at the number in the lines' order.
    layoutHeld_ = false;
    layoutCurrent_ = false;
    PutOffRealign();
    scrollOwed_ = true;
    numberOwed_ = true;
    moved = LayOutKeepingNumber(restored, kept, [] {});
  }
  TvgListBoxItem* const now = GetSelected();
  // The selected item is what a closed combo box shows: whether its text changes when it is next
  // styled (or painted) is asked now, so that the box repaints. The check itself stays owed, for
  // the translation in force then.
  const bool restyled = now != nullptr && now->CheckOwed() && now->LineTranslation() != now->GetText();
  return remake || kept != selected || moved || restyled || (now != nullptr && now->GetText() != selectedText);
}

bool TvgListBox::LayOutKeepingNumber(int32_t number, TvgListBoxItem* kept, const std::function<void()>& layout) {
  // Parked meanwhile, without events: the layout marks no item as selected by the old number.
  itemIndex_ = -1;
  try {
    layout();
  } catch (...) {
    // A layout that raised (a sorted list's comparison): the index on its item all the same.
    itemIndex_ = number;
    if (kept != nullptr && kept != GetSelected() && !multiSelect_) kept->isSelected_ = false;
    if (TvgListBoxItem* item = GetSelected()) item->isSelected_ = true;
    throw;
  }
  // The selection on the item now at the index: an item that stays selected is not selected
  // again (which would start its selection's animation anew).
  itemIndex_ = number;
  TvgListBoxItem* now = GetSelected();
  PlaceSelected();
  if (kept != now && kept != nullptr && kept->isSelected_ && !multiSelect_) {
    kept->isSelected_ = false;
    // Its handlers may change the lines (a combo box follows them at once): the item at the
    // index is asked for again.
    kept->FireTrigger("IsSelected");
    now = GetSelected();
  }
  if (now != nullptr && !now->isSelected_) {
    now->isSelected_ = true;
    now->FireTrigger("IsSelected");
  }
  if (now != kept) SelectionMoved();
  return now != kept;
}

bool TvgListBox::PlaceFrom(size_t first, bool rowsMoved, const TvgListBoxItem* appended) {
  TvgVisualObject* viewport = GetViewport();
  TvgVisualObject* content = GetContent();
  if (!layoutCurrent_ || viewport == nullptr || content == nullptr || IsDesigning() || (sorted_ && !sortedKept_) ||
      listStyle_ != vgListVertical || itemWidth_ != 0 || columns_ != 1 || GetUpdateCounter() > 0 || !GetAutoHide())
    return false;
  const float width = viewport->GetWidth(), viewHeight = viewport->GetHeight();
  if (placedViewport_ != vgPoint(width, viewHeight)) return false;
  // The content where a layout puts it: at the viewport, moved by the remembered scroll of the
  // bars in use.
  TvgScrollBar* vbar = GetVScrollBar();
  TvgScrollBar* hbar = GetHScrollBar();
  const TvgPoint at = vgPoint(viewport->GetPosition()->GetX() - (hbar != nullptr && hbar->GetEnabled() ? GetRememberedHScroll() : 0),
                              viewport->GetPosition()->GetY() - (vbar != nullptr && vbar->GetEnabled() ? GetRememberedVScroll() : 0));
  if (content->GetPosition()->GetPoint() != at) return false;
  const auto& children = content->Children();
  const size_t count = children.size();
  if (first > count) return false;
  // The extent, and the bars it needs: one coming or going changes the viewport, which a whole
  // layout then works out.
  const auto barsStay = [&](float height) {
    const auto keeps = [](TvgScrollBar* bar, bool needed) {
      return bar == nullptr || (bar->GetEnabled() == needed && bar->GetVisible() == needed);
    };
    return width * height != 0 && keeps(vbar, height > viewHeight) && keeps(hbar, false);
  };
  // Every child an item made from a line, each row as tall as the others: a row's place is its
  // index times that height, given when the row is asked for it (PlaceRow). The rows the change
  // added at the end are placed now, as any later row would be.
  const float rowHeight = LineRowHeight();
  const bool alike = linesFollowed_ && lineItems_.size() == count &&
                     (rowsAlikeHeight_ < 0 || rowsAlikeHeight_ == rowHeight) && RowsAddUp(rowHeight, count);
  if (alike && !barsStay(count > 0 ? rowHeight * static_cast<float>(count) : viewHeight)) return false;
  // Otherwise the rows are placed one by one from the tops kept, which rows owed their places
  // (or rows never placed here) have not: a whole layout places them.
  if (!alike && (rowsOnDemand_ || first >= rowTops_.size())) return false;
  {
    // Rows, content and bars are repainted once for all, with the list, at the end.
    TLayoutPass pass(this, layingOut_);
    float top = 0;
    if (alike) {
      top = rowHeight * static_cast<float>(count);
      rowTops_.clear();  // no longer the rows' tops
      rowHeight_ = rowsAlikeHeight_ = rowHeight;
      if (rowsMoved && ++rowsStamp_ == 0) rowsStamp_ = 1;  // 0 is a new item's
      rowBand_ = TRowBand::ByIndex;
      rowsOnDemand_ = true;
      if (!rowsMoved) {
        for (size_t i = first; i < count; ++i) {
          auto* item = static_cast<TvgListBoxItem*>(children[i]);
          item->KnowIndex(static_cast<int32_t>(i));
          PlaceRow(item, static_cast<int32_t>(i));
        }
      }
      content->ChildrenMoved();
    } else {
      // The rows from `first` on, as LayoutVertical places them in one column. A row that keeps
      // its size only moves: quietly, the content's areas marked once for all of them. Whether
      // every row is still an item of one height without padding: those before `first` as the
      // last placing left them.
      float alikeHeight = first == 0 ? -1 : rowsAlikeHeight_;
      const bool allItems = linesFollowed_ && lineItems_.size() == count;
      rowTops_.resize(count + 1);
      top = rowTops_[first];
      bool moved = false;
      for (size_t i = first; i < count; ++i) {
        rowTops_[i] = top;
        TvgObject* child = children[i];
        if (!child->IsVisual()) continue;
        TvgVisualObject* v = child->Visual();
        auto* item = allItems ? static_cast<TvgListBoxItem*>(v) : dynamic_cast<TvgListBoxItem*>(v);
        if (itemHeight_ != 0 && v->GetHeight() != itemHeight_) v->SetHeight(itemHeight_);
        const TvgRect pad = v->GetPadding()->GetRect();
        const float rowHeight = item != nullptr ? std::max(0.0f, item->GetHeight() + pad.Top + pad.Bottom) : 0;
        const float height = item != nullptr ? rowHeight - pad.Top - pad.Bottom : v->GetHeight();
        if (v->GetWidth() == width && v->GetHeight() == height) {
          v->MoveQuietly(vgPoint(pad.Left, top + pad.Top));
          moved = true;
        } else {
          v->SetBounds(pad.Left, top + pad.Top, width, height);
        }
        NotePlaced(v);
        if (item == nullptr || pad != TvgRect{} || (alikeHeight >= 0 && alikeHeight != height)) alikeHeight = 0;
        else if (alikeHeight < 0) alikeHeight = height;
        top += rowHeight;
      }
      if (moved) content->ChildrenMoved();
      rowTops_[count] = top;
      rowsAlikeHeight_ = alikeHeight;
      // Rows alike: the rows a band meets are found among the tops kept.
      rowBand_ = alikeHeight > 0 ? TRowBand::ByTops : TRowBand::None;
    }
    if (first == 0) rowChanged_ = false;  // every row placed anew
    const float height = top > 0 ? top : viewHeight;
    if (!barsStay(height)) return false;
    // What a layout then sets that changes: the content's size (its place stays) and the ranges.
    content->SetSizeNoAlign(width, height);
    if (vbar != nullptr) {
      if (vbar->GetVisible()) {
        vbar->SetMax(height);
        vbar->SetViewportSize(viewHeight);
        vbar->SetSmallChange(vbar->GetViewportSize() / 5);
        vbar->SetValue(GetRememberedVScroll());
      } else {
        vbar->SetValue(0);
      }
    }
    if (hbar != nullptr) hbar->SetValue(0);
  }
  if (!multiSelect_) {
    if (TvgListBoxItem* item = GetSelected()) item->isSelected_ = true;
  }
  // The rows before one appended keep their places, and their markers theirs.
  if (appended == nullptr || appended->isSelected_) UpdateSelection();
  return true;
}

void TvgListBox::PlaceRow(TvgListBoxItem* item, int32_t index) {
  item->rowStamp_ = rowsStamp_;
  // Placed by someone else since the list placed it: that place is the item's own.
  const TvgPoint now = item->TvgVisualObject::GetPosition()->GetPoint();
  if (now != item->placedAt_) return;
  const TvgRect pad = item->GetPadding()->GetRect();
  const TvgPoint at = vgPoint(pad.Left, static_cast<float>(index) * rowHeight_ + pad.Top);
  item->placedAt_ = at;
  if (at == now) return;
  // The row stands there since the change that moved it, which repainted the list: nothing is
  // laid out or repainted for it now.
  IvgScene* scene = GetScene();
  const bool layingOut = layingOut_, disabled = scene != nullptr && scene->GetDisableUpdate();
  const TvgRestoreOnExit back([this, scene, layingOut, disabled] {
    layingOut_ = layingOut;
    if (scene != nullptr) scene->SetDisableUpdate(disabled);
  });
  layingOut_ = true;
  if (scene != nullptr) scene->SetDisableUpdate(true);
  item->MoveQuietly(at);
}

void TvgListBox::PlaceSelected() {
  if (!rowsOnDemand_) return;
  TvgListBoxItem* item = GetSelected();
  if (item == nullptr || item->lineList_ != this || item->rowStamp_ == rowsStamp_) return;
  item->KnowIndex(itemIndex_);
  PlaceRow(item, itemIndex_);
}

void TvgListBox::SettleRows() {
  rowBand_ = TRowBand::None;  // the content changes under the list
  if (!rowsOnDemand_ || GetContent() == nullptr) return;
  const auto& children = GetContent()->Children();
  for (size_t i = 0; i < children.size(); ++i) {
    auto* item = dynamic_cast<TvgListBoxItem*>(children[i]);
    if (item == nullptr || item->lineList_ != this || item->rowStamp_ == rowsStamp_) continue;
    item->KnowIndex(static_cast<int32_t>(i));
    PlaceRow(item, static_cast<int32_t>(i));
  }
  rowsOnDemand_ = false;
  rowsAlikeHeight_ = 0;
}

void TvgListBox::NotePlaced(TvgVisualObject* v) {
  auto* item = dynamic_cast<TvgListBoxItem*>(v);
  if (item == nullptr || item->lineList_ != this) return;
  item->placedAt_ = item->TvgVisualObject::GetPosition()->GetPoint();
  item->rowStamp_ = rowsStamp_;
}

// One axis as the bar and the box's change handler move it.
struct TvgListBox::TScrollAxis {
  TvgScrollBar* bar;
  float value, content, remembered, origin;
  bool Set(float v) {
    if (bar == nullptr) return false;
    if (v > bar->GetMax() - bar->GetViewportSize()) v = bar->GetMax() - bar->GetViewportSize();
    if (v < bar->GetMin()) v = bar->GetMin();
    if (v == value) return false;
    value = v;
    content = bar->GetVisible() ? origin - v : origin;
    remembered = v;
    return true;
  }
};

bool TvgListBox::ScrollStays(const std::function<void(TScrollAxis& h, TScrollAxis& v)>& steps) {
  TvgVisualObject* viewport = GetViewport();
  TvgVisualObject* content = GetContent();
  const TvgPoint origin = viewport != nullptr ? viewport->GetPosition()->GetPoint() : TvgPoint{};
  const TvgPoint now = content != nullptr ? content->GetPosition()->GetPoint() : TvgPoint{};
  TScrollAxis h{GetHScrollBar(), 0, now.X, GetRememberedHScroll(), origin.X};
  TScrollAxis v{GetVScrollBar(), 0, now.Y, GetRememberedVScroll(), origin.Y};
  if (h.bar != nullptr) h.value = h.bar->GetValue();
  if (v.bar != nullptr) v.value = v.bar->GetValue();
  // Without a viewport the bars' values alone move.
  if (viewport == nullptr || content == nullptr) {
    h.Set(0);
    v.Set(0);
    steps(h, v);
    return (h.bar == nullptr || h.value == h.bar->GetValue()) && (v.bar == nullptr || v.value == v.bar->GetValue());
  }
  const auto moved = [](const TScrollAxis& a, float content, float remembered) {
    return a.bar != nullptr && (a.value != a.bar->GetValue() || a.content != content || a.remembered != remembered);
  };
  // ResetScroll.
  h.Set(0);
  v.Set(0);
  steps(h, v);
  return !moved(h, now.X, GetRememberedHScroll()) && !moved(v, now.Y, GetRememberedVScroll());
}

bool TvgListBox::ScrollStaysFromStart() {
  TvgVisualObject* viewport = GetViewport();
  TvgVisualObject* content = GetContent();
  if (viewport == nullptr || content == nullptr) {
    // Without a viewport ResetScroll alone moves the bars' values.
    return (GetHScrollBar() == nullptr || GetHScrollBar()->GetValue() == 0) &&
           (GetVScrollBar() == nullptr || GetVScrollBar()->GetValue() == 0);
  }
  PlaceSelected();
  return ScrollStays([this, viewport](TScrollAxis& h, TScrollAxis& v) {
    // ScrollIntoView, step by step.
    TvgListBoxItem* item = GetSelected();
    if (item == nullptr) return;
    const TvgRect pad = item->GetPadding()->GetRect();
    const TvgPoint vp = viewport->GetPosition()->GetPoint();
    const TvgPoint cp = vgPoint(h.content, v.content);
    const TvgPoint ip = item->GetPosition()->GetPoint();
    if (v.bar != nullptr) {
      const float bottom = cp.Y + ip.Y + pad.Top + pad.Bottom + item->GetHeight();
      const float viewBottom = vp.Y + viewport->GetHeight();
      if (bottom > viewBottom) v.Set(v.value + bottom - viewBottom);
      const float top = v.content + ip.Y;
      if (top < vp.Y) v.Set(v.value + top - vp.Y);
    }
    if (h.bar != nullptr) {
      const float right = cp.X + ip.X + pad.Left + pad.Right + item->GetWidth();
      const float viewRight = vp.X + viewport->GetWidth();
      if (right > viewRight) h.Set(h.value + right - viewRight);
      const float left = h.content + ip.X;
      if (left < vp.X) h.Set(h.value + left - vp.X);
    }
  });
}

void TvgListBox::ScrollFromStartToSelected() {
  if (!ScrollStaysFromStart()) {
    ResetScroll();
    if (TvgListBoxItem* item = GetSelected()) ScrollIntoView(item);
  }
  UpdateSelection();
}

void TvgListBox::ScrollFromStartTo(float hValue, float vValue) {
  // A bar that is not shown scrolls nothing: it stays at the start, where the layout left it
  // (its range is that of whenever it was last shown).
  const auto shown = [](TvgScrollBar* bar, float value) { return bar != nullptr && bar->GetVisible() ? value : 0; };
  hValue = shown(GetHScrollBar(), hValue);
  vValue = shown(GetVScrollBar(), vValue);
  const bool stays = ScrollStays([hValue, vValue](TScrollAxis& h, TScrollAxis& v) {
    h.Set(hValue);
    v.Set(vValue);
  });
  if (!stays) {
    ResetScroll();
    if (GetHScrollBar() != nullptr) GetHScrollBar()->SetValue(hValue);
    if (GetVScrollBar() != nullptr) GetVScrollBar()->SetValue(vValue);
  }
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
  // The selection's change handlers may free the item pressed (a line deleted): it is asked for
  // again after each.
  const TvgSceneObjectRef<TvgListBoxItem> pressed(item);
  mouseSelecting_ = true;
  if (multiSelect_) {
    if (shift.Contains(ssCtrl)) {
      item->SetIsSelected(!item->GetIsSelected());
    } else if (shift.Contains(ssShift)) {
      TvgListBoxItem* anchor = GetSelected() != nullptr ? GetSelected() : item;
      SelectRange(anchor, item);
      if (pressed.Get() == nullptr) return;
      dragItem_ = anchor;
      SetItemIndex(item->GetIndex());
    } else {
      SelectRange(item, item);
      if (pressed.Get() == nullptr) return;
      SetItemIndex(item->GetIndex());
      if (pressed.Get() == nullptr) return;
      dragItem_ = item;
    }
  } else {
    SetItemIndex(item->GetIndex());
  }
  if (pressed.Get() != nullptr) item->RunHandler(item->OnClick, item);
}

void TvgListBox::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!mouseSelecting_ || !shift.Contains(ssLeft)) return;
  TvgListBoxItem* item = ItemByPoint(x, y);
  if (item == nullptr || item == GetSelected()) return;
  const TvgSceneObjectRef<TvgListBoxItem> reached(item);
  if (multiSelect_) {
    if (shift.Contains(ssCtrl)) item->SetIsSelected(!item->GetIsSelected());
    else SelectRange(dragItem_ != nullptr ? dragItem_ : item, item);
  }
  if (reached.Get() != nullptr) SetItemIndex(item->GetIndex());
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
