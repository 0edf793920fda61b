// Lists of the scene: the list item, the list box that lays items out in rows and columns with
// single or multiple selection, the list inside a combo box's drop-down, the combo box, the lists
// fed from strings, the horizontal list and their HUD looks.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "classlib/Classes.h"
#include "scene/controls/vg_scrollbox.h"
#include "scene/core/vg_popup.h"
#include "scene/core/vg_widestrings.h"

class TvgListBox;
class TvgComboBox;

// --- List item

// A text item of a list; the list, not the item, receives the mouse. Its style's "check" part
// shows while the list's ShowCheckboxes is set.
class TvgListBoxItem : public TvgTextControl {
  KBL_DECLARE_CLASS(TvgListBoxItem, TvgTextControl)
 public:
  explicit TvgListBoxItem(TComponent* owner);
  ~TvgListBoxItem() override;

  void ApplyResource() override;
  void ApplyStyle() override;
  void FreeStyle() override;
  // The scene calls it when a descendant of the item takes the focus: the item becomes the
  // list's ItemIndex.
  void Select(TvgVisualObject* obj) override;
  void DesignSelect() override;
  void DesignInsert() override;
  void Paint() override;
  // What is changed on an item made from a line of its list by anyone but the list (any of its
  // properties, its geometry and font included, and its children: effects, animations or other
  // objects put into it) is heard by the list: such an item is no longer the line's own, and the
  // next change to the lines makes every item afresh (as it made them all at every change
  // before). Its style (taken when first painted) and the list's layout are the list's own.
  void AddObject(TvgObject* child) override;
  void RemoveObject(TvgObject* child) override;
  // A text given anew is no longer a translation of the one given before, nor its line's.
  void SetText(const WideString& value) override;

  bool GetIsChecked() const { return isChecked_; }
  void SetIsChecked(bool value);
  bool GetIsSelected() const { return isSelected_; }
  // A newly selected item of a single-selection list becomes its ItemIndex (the previous item
  // loses its mark); otherwise the list's markers are redrawn.
  void SetIsSelected(bool value);
  TvgCheckBox* GetCheckBox() const { return checkBox_; }
  // The first list box up the parents, or the list of the first combo box met; nullptr.
  TvgListBox* ListBox() const;
  // The text as it was given, before the style translated it: what a list sorts its items by, so
  // that their order does not depend on whether they were painted (styled) before the sort, as
  // a list sorts the items made from its lines before they are first painted.
  const WideString& GetSortText() const { return translated_ ? untranslated_ : GetText(); }

 private:
  friend class TvgListBox;
  void CheckChanged(TObject*);
  TvgComboBox* ComboBox() const;
  // Tells the list that made the item from a line of a change it did not make itself.
  void ChangedByOthers();
  void PropertyChanged() override { ChangedByOthers(); }
  // After a change to its list's lines, whether an item styled from its line shows another text
  // than an item made now from that line would (under the translation in force): then it is
  // styled again as an item made now. Checked when next styled or painted, one translation
  // asked, its answer kept for that styling.
  bool TranslationOwed();
  // A line changed since the item took its style or was last checked.
  bool CheckOwed() const;
  // The translation in force of the text the item was made from.
  WideString LineTranslation() const;
  WideString TranslatedText(const WideString& text) override;
  // A list whose rows all stand alike gives an item made from a line its place when it is asked
  // for (TvgListBox::PlaceRow): every read of the item's place, matrices or areas, or of its
  // parts', takes it first (SetPlaceOnDemand). Its size is always its row's.
  void TakeOwedPlace() override;
  // The index its parent's children answer for it, known to the list: the parent need not count.
  void KnowIndex(int32_t index) { cachedIndex_ = index; }
  // The list whose content holds it as a row; nullptr.
  TvgListBox* RowOf() const;

  bool isChecked_ = false;
  TvgCheckBox* checkBox_ = nullptr;
  bool isSelected_ = false;
  TvgListBox* lineList_ = nullptr;  // the list that made it from a line, while the item is in it
  bool styling_ = false;            // taking its style (which translates the text)
  bool translated_ = false;         // the style translated the text given, kept in untranslated_
  bool styledFromLine_ = false;     // styled, translated, while the line list's own
  uint32_t translationChecked_ = 0;  // the list's linesChanged_ when last styled or checked
  bool restyleOwed_ = false;         // the check found another text: styled again when painted
  bool answerKept_ = false;          // the check's answer_, for answerFor_, kept for the styling
  WideString answerFor_;
  WideString answer_;
  WideString untranslated_;
  // Rows on demand (see TvgListBox::rowsOnDemand_): the list's count of row moves when it last
  // placed the item, and where it placed it (a place given by anyone else stays the item's own).
  uint32_t rowStamp_ = 0;
  TvgPoint placedAt_ = {5000, 5000};  // where an item stands when made
  // A row that holds children (TvgListBox::NoteRowHolding): the list that knows it, and its place
  // among the rows awake there (rowsHolding_) or asleep (rowsAsleep_); SIZE_MAX: none.
  TvgListBox* holdingList_ = nullptr;
  size_t holdingAt_ = SIZE_MAX;
  bool asleep_ = false;
  uint64_t triggersSeen_ = 0;  // asleep: the list's count of trigger walks when it fell asleep
  uint32_t bandMark_ = 0;      // the list's mark when it last found the row about its viewport
};

// --- Lines that lists are made from

// A change to lines of text, as TvgItemLines notes it: Index (and Other, the second line of an
// exchange) counts the lines as they were before the change; Text is the line inserted or put.
// Any: the lines may all have changed places (a sort).
struct TvgLineChange {
  enum TKind : uint8_t { Insert, Delete, Put, Exchange, Clear, Any } Kind = Any;
  int32_t Index = 0;
  int32_t Other = 0;
  WideString Text;
};

// The Items of the combo boxes: a string list that notes each change it makes to its lines, so
// that a list of items made from it can follow the change (TvgListBox::FollowLines) instead of
// making every item again. Its handler takes the notes when it hears of a change, so a batch
// (BeginUpdate) hands over all of its changes at once. Changes made from its own events while
// another one is under way (OnChanging, OnChange) are noted too, each in the order the lines
// took it. Not a class of its own to the class library (no class record): streams and the
// property inspector see a TvgWideStringList.
class TvgItemLines final : public TvgWideStringList {
 public:
  void Put(int32_t index, const WideString& text) override;
  void PutObject(int32_t index, TObject* object) override;
  void Exchange(int32_t index1, int32_t index2) override;
  void Insert(int32_t index, const WideString& text) override;
  int32_t Add(const WideString& text) override;
  void Delete(int32_t index) override;
  void Clear() override;
  void Sort() override;
  // The changes noted since the last call, oldest first.
  std::vector<TvgLineChange> TakeChanges();

 protected:
  void Changing() override;
  void Changed() override;

 private:
  // One change under way: its note goes to the list when the lines call Changed for it, that is
  // when as many Changing calls are open again as when it called its own Changing.
  struct TUnderWay {
    TvgLineChange note;
    bool noting = true;   // false: a change that moves no line (an object put)
    bool begun = false;   // its own Changing came
    int32_t level = 0;    // the open Changing calls before its own
    bool noted = false;
  };
  // Runs `change` on the list, noting `note` once the lines changed.
  template <typename Change>
  void Noting(TvgLineChange note, bool noting, Change change);
  std::vector<TvgLineChange> changes_;
  std::vector<TUnderWay> underWay_;
  int32_t openChanging_ = 0;  // Changing calls whose Changed has not come yet
};

// How the items made from lines look (the lists fed from strings differ in these).
struct TvgLineItemLooks {
  float Height = 19;
  bool AutoTranslate = true;
  std::string Resource;  // "" leaves the item's style to its class
  bool AlignText = false;
  TvgTextAlign TextAlign = vgTextAlignNear;
  TvgFont* Font = nullptr;  // the list's own font, given to every item; nullptr: the item's own
  bool operator==(const TvgLineItemLooks&) const = default;
};

// What a list that follows its lines keeps of itself as a list made afresh from them would
// (the lists fed from strings differ in it): both keep the index's number, lowered to the last
// item; the combo lists show the selected item scrolled to from the start, a string list keeps
// its scroll bars' values.
enum class TvgLinesKeep : uint8_t { IndexShown, IndexAndScroll };

// --- List box

KBL_ENUM(TvgListStyle, vgListVertical, vgListHorizontal)

using TOnCompareListBoxItemEvent = TMethod<int32_t(TvgListBoxItem* item1, TvgListBoxItem* item2)>;

// The items are the children of the scroll content, laid out by the list itself: in the vertical
// style rows of Columns items (Columns follows ItemWidth), in the horizontal style columns of
// Columns items (Columns follows ItemHeight). The selection shows as clones of the style's
// "selection" part, one per run of neighbouring selected items.
class TvgListBox : public TvgScrollBox {
  KBL_DECLARE_CLASS(TvgListBox, TvgScrollBox)
 public:
  explicit TvgListBox(TComponent* owner);
  ~TvgListBox() override;

  // The text of the selected item; "" when none.
  Variant GetData() override;
  void SetData(const Variant& value) override;
  // Items go into the content; other objects to the scroll box.
  void AddObject(TvgObject* child) override;
  std::string GetItemClassNames() override { return "TvgListBoxItem"; }
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) override;
  void EnterFocus() override;
  void KillFocus() override;
  void ApplyStyle() override;
  void FreeStyle() override;
  void ContentAddObject(TvgObject* child) override;
  // ItemIndex follows its item when an item before it leaves.
  void ContentRemovingObject(TvgObject* child) override;
  void ContentRemoveObject(TvgObject* child) override;
  // ItemIndex follows its item when the items change places.
  void ContentReordering() override;
  void ContentReordered() override;
  void HScrollChange(TObject* sender) override;
  void VScrollChange(TObject* sender) override;
  // Lays the items out and answers their extent (see the source).
  TvgRect GetContentBounds() override;
  // Nothing while the items are being placed. The scroll to the selected item that following
  // lines put off with the layout, during an update, runs after it.
  void Realign() override;
  // Columns (or rows) fill the viewport: in the horizontal style, or with an item width.
  bool ExtentFollowsViewport() override { return listStyle_ == vgListHorizontal || itemWidth_ != 0; }
  // While the rows stand alike in one column (laid out whole, or placed after a change), the
  // rows the viewport meets (and one on either side), which first take the triggers they slept
  // through: a paint or a hit costs what the viewport shows at any length.
  void ContentShownChildren(size_t& first, size_t& end) override;
  // While every child of the content is an item, the rows that hold children (took their style,
  // or what others put into them) and, while the rows stand alike in one column, only those
  // about the viewport: a row that holds none has no animation or effect for a trigger of the
  // list, and one further off sleeps through the triggers and takes those it missed when it is
  // about the viewport again (scrolled to, painted or hit there, or reached by a trigger). A
  // trigger then costs what is shown, not the list's length.
  const std::vector<TvgObject*>* ContentTriggerChildren() override;
  // The trigger walks through the list, noted for the rows that sleep through them.
  void StartTriggerAnimation(TvgObject* instance, const std::string& trigger) override;
  void StartTriggerAnimationWait(TvgObject* instance, const std::string& trigger) override;
  void ApplyTriggerEffect(TvgObject* instance, const std::string& trigger) override;
  // While every child of the content is an item made from a line, the content moves alone
  // (MoveOverChildren): its rows are placed on demand and follow when next read, so a scroll
  // costs what it shows, not the list's length.
  void MoveContent(const TvgPoint& p) override;

  // Selects the item at `index` (-1: none), scrolls it into view and fires OnChange with it (or
  // nil) outside an update. Nothing when it is the current index.
  virtual void SetItemIndex(int32_t value);
  // Frees every item, last first, and scrolls back to the start; ItemIndex stays.
  virtual void Clear();

  int32_t Count() const;
  // nullptr outside 0 .. Count - 1.
  TvgListBoxItem* ItemByIndex(int32_t index) const;
  // The item at ItemIndex; nullptr when none.
  TvgListBoxItem* GetSelected() const { return ItemByIndex(itemIndex_); }
  // The item under a point of the list's own coordinates; nullptr on empty space.
  TvgListBoxItem* ItemByPoint(float x, float y);
  // Selects the items from a to b (either order) and deselects all others; nullptr ends count
  // as the other end.
  void SelectRange(TvgListBoxItem* a, TvgListBoxItem* b);
  void DeselectAll();
  // Redraws the selection markers.
  void UpdateSelection();
  // Scrolls the selected item into view; nothing without one.
  void ScrollToSelected();
  // Sorts the items (when Sorted) and keeps the selected item selected.
  void SortItems();
  // The first item whose text starts with the character (case ignored); -1 when none.
  int32_t IndexStartingWith(WideChar c) const;
  // The comparison of sorting: OnCompare, else the texts as given (GetSortText) without regard
  // to case.
  int CompareItems(TvgListBoxItem* a, TvgListBoxItem* b);
  // Brings the items in line with `lines`, one item per line in the lines' order after the
  // list's other children, as making them all afresh would: ItemIndex keeps its number, lowered
  // to the last item when beyond it (no events; an item that stays selected is not selected
  // again) and the list scrolls back to its start and then on as `keep` says, and it is laid
  // out once, at the end of the updates open over it wherever it lies. Only the lines that the
  // changes noted since the last call touched are made (a line put anew is a new item), freed or
  // moved; other looks than last time, or items that others added, freed, moved or changed
  // since, make every item afresh. A sorted list puts an item made at its place when its items
  // stand as its sort left them. In one column only the rows from the first one the change
  // touched on are placed (the later ones moved), as long as no scroll bar comes or goes (what a
  // whole layout would change). True when the selected item is another one or was given another
  // text or looks (what a closed combo box shows).
  bool FollowLines(TvgItemLines& lines, const TvgLineItemLooks& looks, TvgLinesKeep keep = TvgLinesKeep::IndexShown);

  // --- Properties
  int32_t GetItemIndex() const { return itemIndex_; }
  // SetItemIndex without telling the bound controls and OnChange (a list that parks its index
  // while it is built again).
  void SetItemIndexQuietly(int32_t value);
  bool GetHideSelectionUnfocused() const { return hideSelectionUnfocused_; }
  void SetHideSelectionUnfocused(bool value) { hideSelectionUnfocused_ = value; }
  bool GetShowCheckboxes() const { return showCheckboxes_; }
  void SetShowCheckboxes(bool value);
  bool GetSorted() const { return sorted_; }
  void SetSorted(bool value);
  bool GetMultiSelect() const { return multiSelect_; }
  // Switching it off deselects every item.
  void SetMultiSelect(bool value);
  bool GetAlternatingRowBackground() const { return alternatingRowBackground_; }
  void SetAlternatingRowBackground(bool value);
  int32_t GetColumns() const { return columns_; }
  // At least 1.
  void SetColumns(int32_t value);
  float GetItemWidth() const { return itemWidth_; }
  void SetItemWidth(float value);
  float GetItemHeight() const { return itemHeight_; }
  void SetItemHeight(float value);
  TvgListStyle GetListStyle() const { return listStyle_; }
  void SetListStyle(TvgListStyle value);
  TvgBrush* GetAltRowBrush() const { return altRowBrush_; }
  TvgVisualObject* GetSelectionPart() const { return selection_; }
  // The selection markers in use (clones of the selection part; hidden ones are spare).
  const std::vector<TvgVisualObject*>& SelectionClones() const { return selectionClones_; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChangeCheck;
  TOnCompareListBoxItemEvent OnCompare;

 protected:
  friend class TvgListBoxItem;
  // Lays out without the sort and selection steps; answers the extent.
  TvgRect LayoutVertical(const TvgRect& r);
  TvgRect LayoutHorizontal(const TvgRect& r);
  // The selected item is another one (its selection's looks change, also while it animates).
  virtual void SelectionMoved() {}
  void PaintAlternatingRows(TObject* sender, TvgCanvas* canvas, const TvgRect& rect);
  // True while a press selects with the mouse.
  bool mouseSelecting_ = false;
  int32_t itemIndex_ = -1;

 private:
  bool SameLine(int32_t a, int32_t b) const;
  void ScrollIntoView(TvgListBoxItem* item);
  void ResetScroll();
  // SetItemIndex's work; `show`: scroll the item into view and redraw the markers.
  void MoveSelection(int32_t value, bool show);
  // While it lives, a selection move tells neither the bound controls nor OnChange.
  struct TQuietIndex {
    explicit TQuietIndex(TvgListBox* list) : list_(list) { list_->quietIndex_ = true; }
    ~TQuietIndex() { list_->quietIndex_ = false; }
    TQuietIndex(const TQuietIndex&) = delete;
    TQuietIndex& operator=(const TQuietIndex&) = delete;

   private:
    TvgListBox* list_;
  };
  // Frees every item, last first, leaving ItemIndex as it is.
  void FreeItems();
  // One item made from a line, appended; sized as its row when the rows stand in one column.
  TvgListBoxItem* MakeLineItem(const WideString& text, const TvgLineItemLooks& looks);
  // Frees an item made from a line that stands at `index` of the content.
  void FreeLineItem(TvgListBoxItem* item, size_t index);
  // The index in the content of the item of line `line`, counted, or found by its text when the
  // items stand sorted (`keptSorted`).
  size_t LineItemIndex(size_t line, bool keptSorted);
  // The item of line `line` freed and a new one made from `text` in its place (moved there
  // when `place`); `first` takes the lowest index of the content touched.
  void RemakeLineItem(size_t line, const WideString& text, bool place, size_t& first);
  // The tab of the item of line `line` put where the lines' order puts it; `made`: the item was
  // just made (its tab last).
  void PutTab(size_t line, bool made);
  // The noted changes made to the items; false (part made) when they do not fit the items.
  // `keptSorted`: the items stand sorted (sortedKept_) and an item made goes to its place; false
  // once a change leaves them otherwise. `rowsMoved`: a change moved, freed or made an item
  // anywhere but at the content's end.
  bool ApplyLineChanges(const std::vector<TvgLineChange>& changes, size_t& first, bool& keptSorted, bool& rowsMoved);
  // The item of line `line`, just made and the content's last child, moved to where a sort of
  // the items in the lines' order puts it; answers that place.
  size_t PlaceSorted(size_t line);
  // The range [low, high) of the content's items that compare equal to `item` (which may stand
  // among them) while the items stand sorted, the content's last child `item` left out when
  // `skipLast`.
  std::pair<size_t, size_t> EqualRun(TvgListBoxItem* item, bool skipLast);
  // Each item whose text is not its line's is made again; items are freed or made at the end.
  void MatchLines(const TvgItemLines& lines, size_t& first);
  // The content in the lines' order after the other children (a sorted list's, before it sorts).
  void PutItemsInLineOrder();
  // Places the children of the content from `first` on as a layout of the whole list would,
  // with the content's size and the bars' ranges, when that is all a layout would change: one
  // column, not designing, not sorting (or its items stand sorted), its last layout holds, and no
  // bar comes or goes. False: nothing safe to do here (the caller lays the whole list out). When
  // every child is an item made from a line the rows stand alike, and their places are owed
  // rather than given (rowsOnDemand_): a change costs what it changes at any length.
  // `appended`: the one row placed, appended (the markers are redrawn only when it is selected).
  bool PlaceFrom(size_t first, bool rowsMoved, const TvgListBoxItem* appended = nullptr);
  // The height of every row while the rows stand alike: the list's item height, else the one the
  // items were made with.
  float LineRowHeight() const { return itemHeight_ != 0 ? itemHeight_ : lineLooks_.Height; }
  // Gives `item`, at `index` of the content, the place its row has when the rows stand alike
  // (as PlaceFrom gives it), unless someone else placed it since the list did.
  void PlaceRow(TvgListBoxItem* item, int32_t index);
  // The selected item takes its owed place (its index is known: no counting).
  void PlaceSelected();
  // While every child of the content is a row standing by its index or at the tops the last
  // placing kept (rowBand_), narrows [first, end) to the rows that can meet the content's band
  // from `top` to `bottom` (its coordinates), which learn their indices (their places follow from
  // them), and answers true; else leaves them and answers false.
  bool RowsMeeting(float top, float bottom, size_t& first, size_t& end);
  // RowsMeeting for what the content shows: its area on the scene.
  bool ShownRows(size_t& first, size_t& end);
  // Every child of the content is an item made from a line, none changed by others.
  bool RowsAreLines() const;
  // Every row owed its place takes it, and the rows no longer stand on demand: the content is
  // about to change under the list (others add, free or move its children).
  void SettleRows();
  // The list placed `v` (a layout): an item made from a line notes where.
  void NotePlaced(TvgVisualObject* v);
  // A row that holds children now (awake, in rowsHolding_), or that leaves the list.
  void NoteRowHolding(TvgListBoxItem* item);
  void ForgetRowHolding(TvgListBoxItem* item);
  // A row holding children put among the rows awake or asleep, or taken out of its set.
  void PutRow(TvgListBoxItem* item, bool asleep);
  void TakeRow(TvgListBoxItem* item);
  // A trigger walk through the list (`effects`: ApplyTriggerEffect), noted for the rows asleep.
  void NoteTriggerWalk(TvgObject* instance, const std::string& trigger, bool effects);
  // The rows about the viewport, content's children [first, end), stay awake or wake; those
  // awake elsewhere fall asleep.
  void KeepRowsAwake(size_t first, size_t end);
  // After a scroll: the rows that came about the viewport take the triggers they slept through now,
  // before they are painted, and what that changes is repainted with the scroll.
  void WakeShownRows();
  // A row asleep wakes and takes the trigger walks it slept through (each the last of its kind,
  // in their order), as the list's state is now: it then looks as if they had reached it. False
  // when the list is gone (a handler the walks ran freed it).
  bool WakeRow(TvgListBoxItem* item);
  bool WakeAllRows();
  // Lays the list out with the index parked, as `layout` does, and then puts the selection on
  // the item at `number` where the layout (a sorted list's sort) left the items: the index keeps
  // its number, as in a list made afresh. `kept` is the item selected before. Answers whether
  // the selected item is another.
  bool LayOutKeepingNumber(int32_t number, TvgListBoxItem* kept, const std::function<void()>& layout);
  // As scrolling back to the start and then to the selected item; the bars move (and with them
  // every item's place on the scene) only when that leaves them elsewhere. Redraws the markers.
  void ScrollFromStartToSelected();
  // True when ResetScroll and then ScrollIntoView of the selected item would leave the bars,
  // the content and the remembered scroll as they are.
  bool ScrollStaysFromStart();
  // As scrolling back to the start and then setting the bars to `h` and `v`, as a string list
  // made afresh does; the bars move only when that leaves them elsewhere. Redraws the markers.
  void ScrollFromStartTo(float h, float v);
  // What ResetScroll and then `steps` (given the two axes) would leave: true when the bars,
  // the content and the remembered scroll stay as they are.
  struct TScrollAxis;
  bool ScrollStays(const std::function<void(TScrollAxis& h, TScrollAxis& v)>& steps);

  bool hideSelectionUnfocused_ = true;
  bool showCheckboxes_ = false;
  bool sorted_ = false;
  bool multiSelect_ = false;
  bool alternatingRowBackground_ = false;
  int32_t columns_ = 1;
  float itemWidth_ = 0;
  float itemHeight_ = 0;
  TvgListStyle listStyle_ = vgListVertical;
  TvgListBoxItem* dragItem_ = nullptr;
  TvgListBoxItem* reorderedSelected_ = nullptr;  // the selected item while the items change places
  TvgVisualObject* selection_ = nullptr;
  std::vector<TvgVisualObject*> selectionClones_;
  TvgBrush* altRowBrush_;
  int32_t selectingRange_ = 0;  // inside SelectRange: markers drawn once at its end
  bool clearing_ = false;       // inside Clear: ItemIndex stays as it is
  bool quietIndex_ = false;     // inside SetItemIndexQuietly
  bool layingOut_ = false;
  // Lines followed (FollowLines): while linesFollowed_ holds, the content is the list's other
  // children, then the items made from the lines at the last call (in the lines' order while
  // inLineOrder_ holds, else as a sort left them), none changed since by anyone but the list.
  // Any other change of the content or of an item ends it.
  bool linesFollowed_ = true;
  bool inLineOrder_ = true;
  bool followingLines_ = false;  // the layouts asked for meanwhile run once at the end
  bool layoutHeld_ = false;
  bool sortingItems_ = false;
  // The content stands as a sort by text of the items in the lines' order leaves them (the
  // lines followed, no compare event): a line added goes to its place, without a sort.
  bool sortedKept_ = false;
  bool placingSorted_ = false;  // inside PlaceSorted
  // An item made from a line had its text translated by its style: a comparison of the list's
  // own sees other texts than in the items of a list made afresh.
  bool linesTranslated_ = false;
  int32_t ownItemChanges_ = 0;   // the combo box changes an item for its own showing of it
  std::deque<TvgListBoxItem*> lineItems_;  // in the lines' order
  // Counts the changes to the lines the items followed: an item styled (translated) before the
  // last one checks its translation when next styled or painted.
  uint32_t linesChanged_ = 0;
  TvgLineItemLooks lineLooks_;              // the looks of the items made from lines
  TvgListBoxItem* keptSelected_ = nullptr;  // while following: the selected item, while it lives
  bool scrollOwed_ = false;  // the scroll to the selected item, put off with the layout
  // Lines followed inside an update: the layout at its end keeps the index's number, not its item.
  bool numberOwed_ = false;
  // What the last whole layout left, for PlaceFrom: it holds while layoutCurrent_ does (no
  // layout asked for since was left undone) for the viewport's size of then.
  bool layoutCurrent_ = false;
  // Others changed a row, or moved one, since the last layout placed them all: a row appended is
  // then placed by a whole layout, and rows the program made meet no band until it ran.
  bool rowChanged_ = false;
  bool inListRealign_ = false;
  bool placedInPass_ = false;
  TvgPoint placedViewport_;
  std::vector<float> rowTops_;  // one column: the top of each child's row, then the extent
  // Rows by index: every child of the content is an item (made from a line, or by the program and
  // not changed since: rowChanged_), in one column, each row rowHeight_ tall, and row i stands (or
  // is owed its place) at i times that height: the rows a band of the content meets follow from
  // its edges (RowsMeeting). Rows by tops: the same rows alike, of a height whose sums are not
  // exact, at the tops in rowTops_ (a binary search finds them). A whole layout of such rows
  // leaves it so, as PlaceFrom does; any other change to the content ends it until the next.
  enum class TRowBand : uint8_t { None, ByIndex, ByTops };
  TRowBand rowBand_ = TRowBand::None;
  // Rows on demand: the rows stand by index, and a row's place is given when the item is asked,
  // painted or hit (TvgListBoxItem::TakeOwedPlace), not at each change. A change that moves rows
  // counts in rowsStamp_: an item placed at another count owes its place. A layout of the whole
  // list places every row and ends it.
  bool rowsOnDemand_ = false;
  uint32_t rowsStamp_ = 1;
  float rowHeight_ = 0;
  // What the last placing left: every row an item of this height without padding; -1: no rows
  // (any height); 0: not so.
  float rowsAlikeHeight_ = 0;
  // The rows that took children (their style, as it is first painted, or what others put into
  // them): those awake, which a trigger of the list visits, and those asleep, away from the
  // viewport (KeepRowsAwake), which take the walks they missed when they wake. Each knows its
  // place in its set (holdingAt_).
  std::vector<TvgObject*> rowsHolding_;
  std::vector<TvgObject*> rowsAsleep_;
  uint32_t bandMark_ = 0;
  // The trigger walks through the list, the last of each kind (instance, trigger, animations or
  // effects), in the order they came, each with its count.
  struct TTriggerWalk {
    TvgSceneObjectRef<TvgObject> instance;
    std::string trigger;
    bool effects;
    uint64_t stamp;
  };
  std::vector<TTriggerWalk> triggerWalks_;
  uint64_t triggerStamp_ = 0;
  int32_t otherChildren_ = 0;  // children of the content that are no items

  friend class TvgComboBox;
  friend class TvgStringListBox;
  // While one lives the combo box changes the list's items for its own showing of them (their
  // size while it paints one), which are no change to the items made from lines.
  struct TOwnItemChange {
    explicit TOwnItemChange(TvgListBox* list) : list_(list) { ++list_->ownItemChanges_; }
    ~TOwnItemChange() { --list_->ownItemChanges_; }
    TOwnItemChange(const TOwnItemChange&) = delete;
    TOwnItemChange& operator=(const TOwnItemChange&) = delete;

   private:
    TvgListBox* list_;
  };
};

// --- Combo boxes

// What a list inside a drop-down asks of the box that opened it.
class IvgComboListOwner {
 public:
  // The user chose the item at `index` in the list.
  virtual void ComboItemChosen(int32_t index) = 0;

 protected:
  ~IvgComboListOwner() = default;
};

// The list of a combo box's drop-down; a release over an item chooses it for the owner and
// closes the drop-down.
class TvgComboListBox : public TvgListBox {
  KBL_DECLARE_CLASS(TvgComboListBox, TvgListBox)
 public:
  explicit TvgComboListBox(TComponent* owner);
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  // Its children stream as any scene object's, with the combo box as their parent.
  void GetChildren(const TGetChildProc& proc, TComponent* root) override { TvgObject::GetChildren(proc, root); }
  TComponent* GetParentComponent() const override { return TvgObject::GetParentComponent(); }

  TvgControl* GetComboOwner() const { return comboOwner_; }
  void SetComboOwner(TvgControl* owner) { comboOwner_ = owner; }

 protected:
  // The box shows the selected item: painted again, whoever moved the selection.
  void SelectionMoved() override;

 private:
  TvgControl* comboOwner_ = nullptr;
};

// A closed box showing its selected item, which drops a list of its TvgListBoxItem children down.
class TvgComboBox : public TvgControl, public IvgComboListOwner {
  KBL_DECLARE_CLASS(TvgComboBox, TvgControl)
 public:
  explicit TvgComboBox(TComponent* owner);
  ~TvgComboBox() override;

  // Items (and selection items) go to the list; at design time they are locked.
  void AddObject(TvgObject* child) override;
  std::string GetItemClassNames() override { return "TvgListBoxItem"; }
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseWheel(TShiftState shift, int32_t wheelDelta, bool& handled) override;
  void KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) override;
  void Realign() override;
  void ApplyStyle() override;
  void FreeStyle() override;
  void DesignClick() override;
  // The combo box's own children, then the stored items of its list.
  void GetChildren(const TGetChildProc& proc, TComponent* root) override;
  void ComboItemChosen(int32_t index) override { SetItemIndex(index); }

  // Opens the drop-down, or closes it when open.
  virtual void DropDown();
  void Clear();
  int32_t GetItemIndex() const;
  // Selects in the list, updates bound controls and fires OnChange, also for the current index.
  void SetItemIndex(int32_t value);
  int32_t GetCount() const { return listBox_ != nullptr ? listBox_->Count() : 0; }
  int32_t GetDropDownCount() const { return dropDownCount_; }
  void SetDropDownCount(int32_t value) { dropDownCount_ = value; }
  TvgPlacement GetPlacement() const { return placement_; }
  void SetPlacement(TvgPlacement value) { placement_ = value; }
  std::string GetListBoxResource() const { return listBox_ != nullptr ? listBox_->GetResource() : std::string(); }
  void SetListBoxResource(const std::string& value);
  TvgPopup* GetPopup() const { return popup_; }
  TvgComboListBox* GetListBox() const { return listBox_; }

  TNotifyEvent OnChange;

 protected:
  // Paints the selected item into the box's content part, at the part's size and with the
  // box's opacity and scene, then puts the item back as it was (also when the paint raises).
  void PaintSelectedItem(TObject* sender, TvgCanvas* canvas, const TvgRect& rect);
  void SizePopup();

 private:
  class TItemFollower;
  // While animations of the selected item run (its selection's colour), the box is painted again
  // at each of their steps and once after: it shows the item as a whole repaint of it would,
  // which the animations alone do not bring about (they repaint the item where it lies).
  void FollowItemAnimations(TvgListBoxItem* item);

  int32_t dropDownCount_ = 8;
  TvgPopup* popup_ = nullptr;
  TvgComboListBox* listBox_ = nullptr;
  TvgPlacement placement_ = vgPlacementBottom;
  bool inComboRealign_ = false;
  TItemFollower* itemFollower_ = nullptr;  // a child of the box
};

// --- Lists of strings

// A list box whose items are made from Items, one per line.
class TvgStringListBox : public TvgListBox {
  KBL_DECLARE_CLASS(TvgStringListBox, TvgListBox)
 public:
  explicit TvgStringListBox(TComponent* owner);
  ~TvgStringListBox() override;

  // Items[ItemIndex]; "" outside the lines.
  Variant GetData() override;
  void SetData(const Variant& value) override;
  // After the last nested update the items are rebuilt (after the last of those open around the
  // list, when there are any).
  void EndUpdate() override;
  // Builds the items first when they were put off by an update.
  void Realign() override;
  // Brings the items in line with Items as making one item per line afresh would, keeping
  // ItemIndex when still valid (else the last item) and the scroll position; inside an update,
  // at the end of the outermost one. Items calls it after each change (or batch of changes),
  // which costs what it changed.
  void RebuildItems(TObject* sender = nullptr);

  TvgWideStrings* GetItems() const { return items_; }
  void SetItems(TvgWideStrings* value) { items_->Assign(value); }
  TvgTextAlign GetTextAlign() const { return textAlign_; }
  void SetTextAlign(TvgTextAlign value);
  TvgFont* GetFont() const { return font_; }
  void SetFont(TvgFont* value) { font_->Assign(value); }
  const std::string& GetItemStyle() const { return itemStyle_; }
  void SetItemStyle(const std::string& value) { itemStyle_ = value; }
  bool GetAutoTranslate() const { return autoTranslate_; }
  void SetAutoTranslate(bool value) { autoTranslate_ = value; }
  // Every item takes the list's font.
  void FontChanged(TObject* sender);

 private:
  TvgItemLines* items_;
  TvgTextAlign textAlign_ = vgTextAlignCenter;
  std::string itemStyle_ = "listboxitemstyle";
  TvgFont* font_;
  bool autoTranslate_ = true;
  bool rebuilding_ = false;
  bool rebuildAgain_ = false;  // the lines changed during the rebuild
  bool itemsOwed_ = false;     // a rebuild put off by an update
};

// A combo box whose items are made from Items, one per line.
class TvgStringComboBox : public TvgComboBox {
  KBL_DECLARE_CLASS(TvgStringComboBox, TvgComboBox)
 public:
  explicit TvgStringComboBox(TComponent* owner);
  ~TvgStringComboBox() override;

  Variant GetData() override;
  void SetData(const Variant& value) override;
  // Brings the list in line with Items, keeping ItemIndex when still valid (else the last item);
  // Items calls it after each change (or batch of changes), which costs what it changed.
  void RebuildItems(TObject* sender = nullptr);

  float GetItemHeight() const { return itemHeight_; }
  void SetItemHeight(float value);
  TvgWideStrings* GetItems() const { return items_; }
  void SetItems(TvgWideStrings* value) { items_->Assign(value); }
  TvgTextAlign GetTextAlign() const { return textAlign_; }
  void SetTextAlign(TvgTextAlign value);
  const std::string& GetItemStyle() const { return itemStyle_; }
  void SetItemStyle(const std::string& value) { itemStyle_ = value; }
  bool GetAutoTranslate() const { return autoTranslate_; }
  void SetAutoTranslate(bool value) { autoTranslate_ = value; }

 private:
  float itemHeight_ = 19;
  TvgItemLines* items_;
  TvgTextAlign textAlign_ = vgTextAlignCenter;
  std::string itemStyle_ = "listboxitemstyle";
  bool autoTranslate_ = true;
};

class TvgHorzListBox : public TvgListBox {
  KBL_DECLARE_CLASS(TvgHorzListBox, TvgListBox)
 public:
  explicit TvgHorzListBox(TComponent* owner);
};

// --- HUD looks

class TvgHudListBox : public TvgListBox {
  KBL_DECLARE_CLASS(TvgHudListBox, TvgListBox)
 public:
  explicit TvgHudListBox(TComponent* owner) : TvgListBox(owner) {}
};

class TvgHudHorzListBox : public TvgHorzListBox {
  KBL_DECLARE_CLASS(TvgHudHorzListBox, TvgHorzListBox)
 public:
  explicit TvgHudHorzListBox(TComponent* owner);
};

class TvgHudComboBox : public TvgComboBox {
  KBL_DECLARE_CLASS(TvgHudComboBox, TvgComboBox)
 public:
  explicit TvgHudComboBox(TComponent* owner);
};

class TvgHudStringListBox : public TvgStringListBox {
  KBL_DECLARE_CLASS(TvgHudStringListBox, TvgStringListBox)
 public:
  explicit TvgHudStringListBox(TComponent* owner);
};

class TvgHudStringComboBox : public TvgStringComboBox {
  KBL_DECLARE_CLASS(TvgHudStringComboBox, TvgStringComboBox)
 public:
  explicit TvgHudStringComboBox(TComponent* owner);
};

// Registers the list classes ("Lists", "Items", "HUD"); runs once at start-up.
void vgInitListBoxUnit();
