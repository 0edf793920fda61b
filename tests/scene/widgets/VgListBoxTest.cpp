// List boxes: layout in rows and columns, keys, mouse selection (single and multiple), selection
// markers, sorting, check boxes, combo boxes with their drop-down and the lists of strings.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "WidgetsTestSupport.h"
#include "scene/controls/vg_layouts.h"
#include "scene/core/vg_registry.h"
#include "scene/shapes/vg_animations.h"
#include "scene/widgets/vg_listbox.h"
#include "scene/widgets/vg_memo.h"
#include "scene/widgets/vg_textbox.h"
#include "scene/widgets/vg_treeview.h"

namespace {

// A translation in force for a test's length; none again after it.
struct TTranslationInForce {
  explicit TTranslationInForce(std::function<WideString(const WideString&)> translate = nullptr) {
    vgTranslation().Translate = std::move(translate);
  }
  ~TTranslationInForce() { vgTranslation().Translate = nullptr; }
};

// Each item styled, as painting it does; the texts then shown.
std::vector<std::u16string> StyledTexts(TvgListBox* list) {
  std::vector<std::u16string> texts;
  for (int32_t i = 0; i < list->Count(); ++i) {
    list->ItemByIndex(i)->ApplyResource();
    texts.push_back(list->ItemByIndex(i)->GetText());
  }
  return texts;
}

struct TLinesCombo;

class ListBoxTest : public WidgetsFixture {
 protected:
  // The string list box and the two combos, each made at `y`.
  std::vector<std::function<TLinesCombo(float y)>> LineLists();
  // A list with items "item 0" .. of the given heights (19 when none given).
  template <typename L = TvgListBox>
  L* List(int count, float width = 100, float height = 100) {
    auto* list = Add<L>(10, 10, width, height);
    list->BeginUpdate();
    for (int i = 0; i < count; ++i) {
      auto* item = new TvgListBoxItem(list);
      item->SetText(u"item " + std::u16string(1, static_cast<char16_t>(u'0' + i)));
      item->SetParent(list);
    }
    list->EndUpdate();
    return list;
  }
  // Presses on the middle of item `index` (list coordinates).
  void Click(TvgListBox* list, int index, TShiftState shift = {}) {
    TvgListBoxItem* item = list->ItemByIndex(index);
    const TvgPoint p = list->AbsoluteToLocal(item->LocalToAbsolute(vgPoint(item->GetWidth() / 2, item->GetHeight() / 2)));
    list->MouseDown(mbLeft, shift + TShiftState{ssLeft}, p.X, p.Y);
    list->MouseUp(mbLeft, shift, p.X, p.Y);
  }
  std::vector<int> SelectedIndices(TvgListBox* list) {
    std::vector<int> out;
    for (int i = 0; i < list->Count(); ++i)
      if (list->ItemByIndex(i)->GetIsSelected()) out.push_back(i);
    return out;
  }
  // The texts `list` shows once styled are those of a string list box made afresh from its lines.
  void ExpectShownAsAFreshList(TvgStringListBox* list) {
    auto* fresh = Add<TvgStringListBox>(10, 130, 100, 100);
    fresh->GetItems()->Assign(list->GetItems());
    EXPECT_EQ(StyledTexts(list), StyledTexts(fresh));
    delete fresh;
  }
  int VisibleMarkers(TvgListBox* list) {
    int n = 0;
    for (TvgVisualObject* m : list->SelectionClones()) n += m->GetVisible() ? 1 : 0;
    return n;
  }
};

TEST_F(ListBoxTest, ItemWidthMakesColumnsAndEndStaysOnTheList) {
  TvgListBox* list = List(7);
  list->SetItemWidth(30);
  EXPECT_EQ(list->GetColumns(), 3);  // three rows need no bar: the viewport is the whole 100
  // Rows of 3, 3 and 1.
  EXPECT_EQ(list->ItemByIndex(4)->GetPosition()->GetPoint(), vgPoint(30, 19));
  EXPECT_EQ(list->ItemByIndex(6)->GetPosition()->GetPoint(), vgPoint(0, 38));
  Key(list, kVkEnd);
  EXPECT_EQ(list->GetItemIndex(), 4);
  Key(list, kVkUp);
  EXPECT_EQ(list->GetItemIndex(), 1);
  Key(list, kVkDown);
  Key(list, kVkDown);
  EXPECT_EQ(list->GetItemIndex(), 6);  // not past the last item
  TvgListBox* few = List(2);
  few->SetItemWidth(30);
  Key(few, kVkEnd);  // fewer items than columns: the first, not -1
  EXPECT_EQ(few->GetItemIndex(), 0);
  few->SetItemWidth(0);
  few->SetColumns(0);
  EXPECT_EQ(few->GetColumns(), 1);
}

TEST_F(ListBoxTest, TheTallestItemOfARowSetsItsHeight) {
  TvgListBox* list = List(3);
  list->SetColumns(3);
  list->ItemByIndex(1)->SetHeight(25);
  list->Realign();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(list->ItemByIndex(i)->GetHeight(), 25) << i;
  TvgListBox* horizontal = List(4, 100, 60);
  horizontal->SetListStyle(vgListHorizontal);
  horizontal->SetItemHeight(20);
  horizontal->SetItemWidth(30);
  EXPECT_EQ(horizontal->GetColumns(), 3);  // rows of 20 in the 60 high viewport
  EXPECT_EQ(horizontal->ItemByIndex(3)->GetPosition()->GetPoint(), vgPoint(30, 0));
}

TEST_F(ListBoxTest, MultiSelectionByClicksWithShiftAndCtrl) {
  TvgListBox* list = List(7, 100, 200);
  list->SetMultiSelect(true);
  list->OnChange = changes.Event();
  Click(list, 2);
  Click(list, 5, TShiftState{ssShift});
  EXPECT_EQ(SelectedIndices(list), (std::vector<int>{2, 3, 4, 5}));
  EXPECT_EQ(list->GetItemIndex(), 5);
  Click(list, 3, TShiftState{ssCtrl});
  EXPECT_EQ(SelectedIndices(list), (std::vector<int>{2, 4, 5}));
  // A press below the last item selects nothing and changes nothing.
  const int before = changes.count;
  list->MouseDown(mbLeft, TShiftState{ssLeft}, 40, 180);
  list->MouseUp(mbLeft, TShiftState{}, 40, 180);
  EXPECT_EQ(SelectedIndices(list), (std::vector<int>{2, 4, 5}));
  EXPECT_EQ(changes.count, before);
  list->SetMultiSelect(false);
  EXPECT_TRUE(SelectedIndices(list).empty());
}

TEST_F(ListBoxTest, DraggingWithTheButtonSelectsFromTheAnchor) {
  TvgListBox* list = List(6);
  list->SetMultiSelect(true);
  TvgListBoxItem* first = list->ItemByIndex(1);
  list->MouseDown(mbLeft, TShiftState{ssLeft}, 10, first->GetPosition()->GetY() + 5);
  list->MouseMove(TShiftState{ssLeft}, 10, list->ItemByIndex(3)->GetPosition()->GetY() + 5, 0, 0);
  list->MouseUp(mbLeft, TShiftState{}, 10, 0);
  EXPECT_EQ(SelectedIndices(list), (std::vector<int>{1, 2, 3}));
}

TEST_F(ListBoxTest, MarkersJoinNeighboursOfOneRowOnly) {
  TvgListBox* list = List(6);
  list->SetMultiSelect(true);
  list->SetHideSelectionUnfocused(false);
  list->SelectRange(list->ItemByIndex(1), list->ItemByIndex(3));
  EXPECT_EQ(VisibleMarkers(list), 1);
  // In three columns items 2 and 3 end one row and start the next: two markers.
  list->SetItemWidth(28);
  list->SelectRange(list->ItemByIndex(2), list->ItemByIndex(3));
  EXPECT_EQ(VisibleMarkers(list), 2);
  TvgVisualObject* marker = list->SelectionClones()[0];
  EXPECT_EQ(marker->GetWidth(), 28);
  list->SelectRange(list->ItemByIndex(0), list->ItemByIndex(2));
  EXPECT_EQ(VisibleMarkers(list), 1);
  EXPECT_EQ(list->SelectionClones()[0]->GetWidth(), 84);
}

TEST_F(ListBoxTest, SortingKeepsTheSelectedItemSelected) {
  auto* list = Add<TvgListBox>(10, 10, 100, 100);
  for (const char16_t* text : {u"pear", u"Apple", u"fig"}) {
    auto* item = new TvgListBoxItem(list);
    item->SetText(text);
    item->SetParent(list);
  }
  list->SetItemIndex(0);  // pear
  list->SetSorted(true);
  EXPECT_EQ(list->ItemByIndex(0)->GetText(), u"Apple");
  ASSERT_NE(list->GetSelected(), nullptr);
  EXPECT_EQ(list->GetSelected()->GetText(), u"pear");
  EXPECT_TRUE(list->GetSelected()->GetIsSelected());
  EXPECT_EQ(SelectedIndices(list), std::vector<int>{2});
  // A compare event replaces the texts' order: longest first.
  struct ByLength {
    int32_t Compare(TvgListBoxItem* a, TvgListBoxItem* b) {
      return static_cast<int32_t>(b->GetText().size()) - static_cast<int32_t>(a->GetText().size());
    }
  } byLength;
  list->OnCompare = TOnCompareListBoxItemEvent::Of<&ByLength::Compare>(&byLength);
  list->Realign();
  EXPECT_EQ(list->ItemByIndex(0)->GetText(), u"Apple");
  EXPECT_EQ(list->ItemByIndex(2)->GetText(), u"fig");
  list->OnCompare = nullptr;
}

TEST_F(ListBoxTest, TypingSelectsByFirstLetterAndClearKeepsTheIndex) {
  auto* list = Add<TvgListBox>(10, 10, 100, 100);
  for (const char16_t* text : {u"", u"beta", u"Bravo", u"alpha"}) {
    auto* item = new TvgListBoxItem(list);
    item->SetText(text);
    item->SetParent(list);
  }
  Char(list, u'B');
  EXPECT_EQ(list->GetItemIndex(), 1);
  Char(list, u'a');
  EXPECT_EQ(list->GetItemIndex(), 3);
  EXPECT_EQ(list->GetData().ToWideString(), u"alpha");
  list->Clear();
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(list->GetItemIndex(), 3);
  EXPECT_EQ(list->GetSelected(), nullptr);
}

TEST_F(ListBoxTest, ItemsClearedAndAddedAgainKeepTheirOrderAndIndices) {
  TvgListBox* list = List(0);
  for (int round = 0; round < 2; ++round) {
    list->BeginUpdate();
    for (int i = 0; i < 300; ++i) {
      auto* item = new TvgListBoxItem(list);
      item->SetText(std::u16string(1, static_cast<char16_t>(u'A' + round)) + std::u16string(static_cast<size_t>(i % 7), u'x'));
      item->SetTag(i);
      item->SetParent(list);
    }
    scene.updates.clear();
    list->EndUpdate();
    EXPECT_EQ(scene.updates.size(), 1u);  // the whole layout under one repaint
    ASSERT_EQ(list->Count(), 300);
    for (int i = 0; i < list->Count(); ++i) {
      TvgListBoxItem* item = list->ItemByIndex(i);
      EXPECT_EQ(item->GetTag(), i);
      EXPECT_EQ(item->GetIndex(), i);
      EXPECT_EQ(item->GetPosition()->GetY(), 19.0f * static_cast<float>(i));
    }
    list->SetItemIndex(150);
    EXPECT_EQ(list->GetSelected(), list->ItemByIndex(150));
    list->Clear();
    EXPECT_EQ(list->Count(), 0);
  }
}

// Removing items keeps each selection mark and ItemIndex on the item that had it.
TEST_F(ListBoxTest, TheSelectionStaysOnItsItemWhenItemsGo) {
  for (bool multi : {false, true}) {
    TvgListBox* list = List(6);
    list->SetMultiSelect(multi);
    Click(list, 2);
    Click(list, 4, TShiftState{ssCtrl});  // in a single-select list a plain click
    std::vector<int> marked = SelectedIndices(list);
    TvgListBoxItem* current = list->GetSelected();
    delete list->ItemByIndex(0);
    for (int& i : marked) --i;
    EXPECT_EQ(SelectedIndices(list), marked) << multi;
    EXPECT_EQ(list->GetSelected(), current) << multi;
    current->SetParent(nullptr);  // the selected item itself takes its mark along
    EXPECT_FALSE(current->GetIsSelected()) << multi;
    delete current;
  }
}

// Items that change places take their selection marks along, and ItemIndex follows the selected
// item: moves across it, of it, to the front and to the back.
TEST_F(ListBoxTest, TheSelectionStaysOnItsItemWhenItemsMove) {
  const std::pair<const char*, std::function<void(TvgListBox*)>> moves[] = {
      {"an item before it moved past it", [](TvgListBox* l) { l->ItemByIndex(0)->SetIndex(4); }},
      {"an item after it moved before it", [](TvgListBox* l) { l->ItemByIndex(5)->SetIndex(1); }},
      {"the selected item moved", [](TvgListBox* l) { l->GetSelected()->SetIndex(0); }},
      {"to the front", [](TvgListBox* l) { l->ItemByIndex(0)->BringToFront(); }},
      {"to the back", [](TvgListBox* l) { l->ItemByIndex(5)->SendToBack(); }},
  };
  for (bool multi : {false, true}) {
    for (const auto& [name, move] : moves) {
      TvgListBox* list = List(6);
      list->SetMultiSelect(multi);
      Click(list, 2);
      if (multi) Click(list, 4, TShiftState{ssCtrl});
      std::vector<TvgListBoxItem*> marked;
      for (int i : SelectedIndices(list)) marked.push_back(list->ItemByIndex(i));
      TvgListBoxItem* current = list->GetSelected();
      move(list);
      std::vector<int> expected;
      for (int i = 0; i < list->Count(); ++i)
        if (std::find(marked.begin(), marked.end(), list->ItemByIndex(i)) != marked.end()) expected.push_back(i);
      EXPECT_EQ(SelectedIndices(list), expected) << name << (multi ? ", multi-select" : "");
      EXPECT_EQ(list->GetSelected(), current) << name << (multi ? ", multi-select" : "");
    }
  }
}

// Items added while an update is open around the control (an ancestor's, or its own while it
// moves to another parent, or a later one after a sibling moved in its own) are laid out at its
// end as they are without an update.
TEST_F(ListBoxTest, ItemsAddedInAnUpdateAreLaidOutAtItsEnd) {
  auto* other = Add<TvgLayout>(0, 0, 300, 300);
  using TAdd = std::function<void(TvgScrollBox*)>;
  const std::vector<std::pair<std::function<TvgScrollBox*()>, TAdd>> kinds = {
      {[&] { return Add<TvgListBox>(10, 10, 100, 100); },
       [](TvgScrollBox* b) { (new TvgListBoxItem(nullptr))->SetParent(b); }},
      {[&] { return Add<TvgStringListBox>(10, 10, 100, 100); },
       [](TvgScrollBox* b) { static_cast<TvgStringListBox*>(b)->GetItems()->Add(u"line"); }},
      {[&] { return Add<TvgTreeView>(10, 10, 100, 100); },
       [](TvgScrollBox* b) { (new TvgTreeViewItem(nullptr))->SetParent(b); }},
      {[&] { return Add<TvgMemo>(10, 10, 100, 100); },
       [](TvgScrollBox* b) { static_cast<TvgMemo*>(b)->GetLines()->Add(u"line"); }}};
  // The rects of the content and of everything in it, and the vertical bar's range when shown.
  const auto layout = [](TvgScrollBox* box, const TAdd& add) {
    for (int i = 0; i < 10; ++i) add(box);
    std::vector<TvgObject*> all;
    box->GetContent()->AddObjectsToList(all);
    std::vector<TvgRect> rects;
    for (TvgObject* obj : all)
      if (obj->IsVisual()) rects.push_back(obj->Visual()->GetParentedRect());
    TvgScrollBar* bar = box->GetVScrollBar();
    const bool shown = bar != nullptr && bar->GetVisible();
    rects.push_back(shown ? vgRect(0, 0, bar->GetMax(), bar->GetViewportSize()) : TvgRect{});
    return rects;
  };
  for (const auto& [make, add] : kinds) {
    const std::vector<TvgRect> expected = layout(make(), add);
    ASSERT_NE(expected.back(), TvgRect{});  // ten need the bar
    for (bool own : {false, true}) {
      TvgScrollBox* box = make();
      // A memo's own update is that of its Lines.
      auto* memo = dynamic_cast<TvgMemo*>(box);
      const auto update = [&](bool begin) {
        if (own && memo != nullptr) begin ? memo->GetLines()->BeginUpdate() : memo->GetLines()->EndUpdate();
        else begin ? (own ? box : form)->BeginUpdate() : (own ? box : form)->EndUpdate();
      };
      update(true);
      EXPECT_NE(layout(box, [&](TvgScrollBox* b) {
        add(b);
        if (own) b->SetParent(b->GetParent() == other ? form : other);
      }), expected);  // nothing laid out yet
      update(false);
      EXPECT_EQ(layout(box, [](TvgScrollBox*) {}), expected) << box->ClassName() << (own ? ", own update" : "");
    }
    // A box whose own update is open moves with its parent to another; a sibling filled in a
    // later update of the form is still laid out at its end.
    auto* a = Add<TvgLayout>(0, 0, 200, 200);
    auto* b = Add<TvgLayout>(0, 0, 200, 200);
    auto* c = new TvgLayout(nullptr);
    c->SetBounds(0, 0, 200, 200);
    c->SetParent(a);
    TvgScrollBox* moving = make();
    TvgScrollBox* sibling = make();
    moving->SetParent(c);
    sibling->SetParent(c);
    moving->BeginUpdate();
    add(moving);
    c->SetParent(b);
    moving->EndUpdate();
    form->BeginUpdate();
    layout(sibling, add);
    form->EndUpdate();
    EXPECT_EQ(layout(sibling, [](TvgScrollBox*) {}), expected) << sibling->ClassName() << ", after a move";
  }
}

// Rows the program made, appended one by one outside an update, stand where a layout of the whole list puts them, and so do the list's bars, also after the program put
// a row elsewhere and in a sorted list; below rows of an unsorted list that none changed since they
// were placed no such layout runs, and a paint reaches only the rows about the viewport, so that an
// add costs the same at any length.
TEST_F(ListBoxTest, RowsAppendedOneByOneStandWhereAWholeLayoutPutsThem) {
  const std::vector<std::tuple<const char*, std::function<void(TvgListBox*)>, bool>> cases = {
      {"appended", [](TvgListBox*) {}, false},
      {"after a row was put elsewhere",
       [](TvgListBox* list) { list->ItemByIndex(3)->GetPosition()->SetPoint(vgPoint(30, 500)); }, true},
      {"sorted", [](TvgListBox* list) { list->SetSorted(true); }, true}};
  // Each row with its place, and the bar's range.
  const auto placed = [](TvgListBox* list) {
    std::vector<std::pair<TvgObject*, TvgRect>> rows;
    for (int32_t i = 0; i < list->Count(); ++i)
      rows.emplace_back(list->ItemByIndex(i), list->ItemByIndex(i)->GetParentedRect());
    rows.emplace_back(nullptr, vgRect(0, 0, list->GetVScrollBar()->GetMax(), list->GetVScrollBar()->GetViewportSize()));
    return rows;
  };
  for (const auto& [name, before, laidOut] : cases) {
    TvgListBox* list = List(8);
    before(list);
    const int32_t layouts = list->GetLayoutCount();
    for (int i = 0; i < 6; ++i) {
      auto* item = new TvgListBoxItem(nullptr);
      item->SetText(u"added " + std::u16string(1, static_cast<char16_t>(u'f' - i)));
      item->SetParent(list);
    }
    EXPECT_EQ(list->GetLayoutCount() != layouts, laidOut) << name;
    // A paint or a hit reaches only the rows about the viewport.
    size_t first = 0, end = static_cast<size_t>(list->Count());
    list->ContentShownChildren(first, end);
    EXPECT_LT(end - first, 9u) << name;
    const auto rows = placed(list);
    list->Realign();
    EXPECT_EQ(placed(list), rows) << name;
    delete list;
  }
}

TEST_F(ListBoxTest, CheckBoxesReportTheirItem) {
  TvgListBox* list = List(3);
  list->OnChangeCheck = checks.Event();
  for (int i = 0; i < 3; ++i) list->ItemByIndex(i)->ApplyResource();
  ASSERT_NE(list->ItemByIndex(1)->GetCheckBox(), nullptr);
  EXPECT_FALSE(list->ItemByIndex(1)->GetCheckBox()->GetVisible());
  list->SetShowCheckboxes(true);
  EXPECT_TRUE(list->ItemByIndex(1)->GetCheckBox()->GetVisible());
  list->ItemByIndex(1)->GetCheckBox()->SetIsChecked(true);
  EXPECT_TRUE(list->ItemByIndex(1)->GetIsChecked());
  EXPECT_EQ(list->GetItemIndex(), 1);
  ASSERT_EQ(checks.senders.size(), 1u);
  EXPECT_EQ(checks.senders[0], list->ItemByIndex(1));
}

TEST_F(ListBoxTest, AlternatingRowsFillEveryOtherItem) {
  TvgListBox* list = List(4);
  list->SetAlternatingRowBackground(true);
  auto* content = list->FindResource("content")->Visual();
  canvas.calls.clear();
  content->OnBeforePaint(content, &canvas, content->GetLocalRect());
  const auto fills = canvas.Of("FillRect");
  ASSERT_EQ(fills.size(), 2u);
  EXPECT_EQ(fills[0].Rect.Top, 19);
  EXPECT_EQ(fills[1].Rect.Top, 57);
  EXPECT_EQ(fills[0].FillColor, 0x30102030u);
}

// A change handler that deletes the line just selected frees the row pressed or reached while
// the list still works on it.
TEST_F(ListBoxTest, AChangeHandlerMayDeleteTheLinePressedOrReached) {
  struct TDeleteSelected {
    TvgStringListBox* list = nullptr;
    bool inside = false;
    void Change(TObject*) {
      if (inside || list->GetItemIndex() < 0) return;
      inside = true;
      list->GetItems()->Delete(list->GetItemIndex());
      inside = false;
    }
  };
  const struct {
    const char* name;
    bool multi;
    TShiftState shift;
    bool drag;  // pressed on line 0 and moved onto line 2
  } cases[] = {{"pressed", false, {}, false},
               {"pressed, several selected", true, {}, false},
               {"pressed with shift, several selected", true, TShiftState{ssShift}, false},
               {"reached by a drag, several selected", true, {}, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto* list = Add<TvgStringListBox>(10, 10, 100, 200);
    for (const char16_t* line : {u"a", u"b", u"c", u"d", u"e"}) list->GetItems()->Add(line);
    list->SetMultiSelect(c.multi);
    TDeleteSelected deleting{list};
    list->OnChange = TNotifyEvent::Of<&TDeleteSelected::Change>(&deleting);
    auto middle = [&](int index) {
      TvgListBoxItem* item = list->ItemByIndex(index);
      return list->AbsoluteToLocal(item->LocalToAbsolute(vgPoint(item->GetWidth() / 2, item->GetHeight() / 2)));
    };
    const TvgPoint at = middle(c.drag ? 0 : 2), to = middle(2);
    if (c.drag) list->OnChange = nullptr;
    list->MouseDown(mbLeft, c.shift + TShiftState{ssLeft}, at.X, at.Y);
    list->OnChange = TNotifyEvent::Of<&TDeleteSelected::Change>(&deleting);
    if (c.drag) list->MouseMove(TShiftState{ssLeft}, to.X, to.Y, to.X - at.X, to.Y - at.Y);
    list->MouseUp(mbLeft, c.shift, to.X, to.Y);
    EXPECT_EQ(list->GetItems()->IndexOf(u"c"), -1);
    EXPECT_LT(list->Count(), 5);
  }
}

// A row's check box clicked while the change handler deletes that line, or reloads the lines:
// the row is freed under the check box's change, and no check is reported with it. A check box
// that takes the focus (a style's may) selects its row as it is pressed, or focused by the
// keyboard, and the row is freed then.
TEST_F(ListBoxTest, AChangeHandlerMayFreeTheRowWhoseCheckBoxIsClicked) {
  struct THandlers {
    TvgStringListBox* list = nullptr;
    bool reload = false;
    bool inside = false;
    std::vector<std::u16string> checked;
    void Change(TObject*) {
      if (inside || list->GetItemIndex() < 0) return;
      inside = true;
      if (reload) {
        list->GetItems()->Clear();
        for (const char16_t* line : {u"x", u"y"}) list->GetItems()->Add(line);
      } else {
        list->GetItems()->Delete(list->GetItemIndex());
      }
      inside = false;
    }
    void Check(TObject* sender) { checked.push_back(static_cast<TvgListBoxItem*>(sender)->GetText()); }
  };
  const struct {
    const char* name;
    bool reload;
    bool focusable;
    bool click;
  } cases[] = {{"line deleted", false, false, true},
               {"lines reloaded", true, false, true},
               {"line deleted, the check box taking the focus", false, true, true},
               {"lines reloaded, the check box taking the focus", true, true, true},
               {"line deleted, the check box focused", false, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto* list = Add<TvgStringListBox>(10, 10, 100, 200);
    for (const char16_t* line : {u"a", u"b", u"c"}) list->GetItems()->Add(line);
    list->SetShowCheckboxes(true);
    THandlers handlers{list, c.reload, false, {}};
    list->OnChange = TNotifyEvent::Of<&THandlers::Change>(&handlers);
    list->OnChangeCheck = TNotifyEvent::Of<&THandlers::Check>(&handlers);
    TvgListBoxItem* row = list->ItemByIndex(1);
    row->ApplyResource();
    TvgCheckBox* check = row->GetCheckBox();
    ASSERT_NE(check, nullptr);
    check->SetCanFocused(c.focusable);  // not focusable: as the shipped style's check part
    const TvgSceneObjectRef<TvgCheckBox> pressed(check);
    const TvgPoint middle = vgPoint(check->GetWidth() / 2, check->GetHeight() / 2);
    if (!c.click) {
      check->SetFocus();
    } else {
      check->MouseDown(mbLeft, TShiftState{ssLeft}, middle.X, middle.Y);
      if (pressed.Get() != nullptr) check->MouseUp(mbLeft, {}, middle.X, middle.Y);
    }
    scene.focused = nullptr;  // a plain pointer in the test scene (the window's scene keeps a reference)
    EXPECT_EQ(list->GetItems()->IndexOf(u"b"), -1);
    EXPECT_TRUE(handlers.checked.empty());
  }
}

// An item style, "finishingrowstyle", whose animation on `trigger` ends at once and, as it
// finishes, deletes the line of the row holding it or reloads the lines ("x", "y"): those of a
// string list box, or of a string combo box (its list's rows).
struct TFinishingRows {
  TFinishingRows(TvgStringListBox* list, const char* trigger, bool reload)
      : TFinishingRows(list, list->GetItems(), trigger, reload) {
    list->SetItemStyle("finishingrowstyle");
  }
  TFinishingRows(TvgStringComboBox* combo, const char* trigger, bool reload)
      : TFinishingRows(combo->GetListBox(), combo->GetItems(), trigger, reload) {
    combo->SetItemStyle("finishingrowstyle");
  }
  TFinishingRows(TvgListBox* list, TvgWideStrings* lines, const char* trigger, bool reload)
      : list(list), lines(lines), reload(reload) {
    style->SetResourceName("finishingrowstyle");
    style->SetHitTest(false);
    auto* fade = new TvgFloatAnimation(nullptr);
    fade->SetPropertyName("Opacity");
    fade->SetStopValue(0.5f);
    fade->SetDuration(0);
    fade->SetTrigger(trigger);
    fade->SetParent(style);
  }
  ~TFinishingRows() { delete style; }
  // Row `index` takes the style.
  void Style(int32_t index) {
    TvgListBoxItem* row = list->ItemByIndex(index);
    row->ApplyResource();
    std::vector<TvgObject*> parts;
    row->AddObjectsToList(parts);
    for (TvgObject* part : parts)
      if (auto* a = dynamic_cast<TvgFloatAnimation*>(part)) a->OnFinish = TNotifyEvent::Of<&TFinishingRows::Finish>(this);
  }
  void Finish(TObject* sender) {
    TvgObject* row = static_cast<TvgObject*>(sender);
    while (dynamic_cast<TvgListBoxItem*>(row) == nullptr) row = row->GetParent();
    finished.push_back(static_cast<TvgListBoxItem*>(row)->GetText());
    if (!reload) {
      lines->Delete(lines->IndexOf(finished.back()));
      return;
    }
    lines->Clear();
    for (const char16_t* line : {u"x", u"y"}) lines->Add(line);
  }
  TvgListBox* list;
  TvgWideStrings* lines;
  bool reload;
  TvgRectangle* style = new TvgRectangle(nullptr);
  std::vector<std::u16string> finished;
};

// An item style's animation that ends at once runs its OnFinish inside the list's trigger walk,
// whose handler reloads the lines or deletes the line of the row holding the animation: the style
// being walked goes with its row. The walk goes on over the rows that remain, whether the trigger
// reaches only the rows that took their style or, a row touched by the program, every row.
TEST_F(ListBoxTest, ATriggersAnimationMayReloadTheLinesOrDeleteItsRowsLineAsItFinishes) {
  for (const bool reload : {false, true}) {
    for (const bool touched : {false, true}) {
      SCOPED_TRACE(std::string(reload ? "lines reloaded" : "its line deleted") + (touched ? ", a row touched" : ""));
      auto* list = Add<TvgStringListBox>(10, 10, 100, 200);
      TFinishingRows handler(list, "IsMouseOver=true", reload);
      for (const char16_t* line : {u"a", u"b", u"c", u"d", u"e", u"f"}) list->GetItems()->Add(line);
      if (touched) list->ItemByIndex(5)->SetHint(u"touched");
      for (int i = 0; i < 4; ++i) handler.Style(i);
      list->MouseEnter();
      ASSERT_FALSE(handler.finished.empty());
      if (reload) {
        EXPECT_EQ(handler.finished.size(), 1u);
        EXPECT_EQ(list->Count(), 2);
      } else {
        EXPECT_EQ(list->Count(), 6 - static_cast<int>(handler.finished.size()));
        for (const std::u16string& line : handler.finished) EXPECT_EQ(list->GetItems()->IndexOf(line), -1);
      }
      delete list;
    }
  }
}

// The same handler in a row the user selects: a row of a scrolled-through list that slept through
// the mouse entering the list, as the keys scroll it back into view; the row as the keys select
// it; in a multiple selection, the row as a range takes it in, or as it is deselected with the
// others. The list goes on with the item then selected, and tells OnChange of it (nil when none).
TEST_F(ListBoxTest, ARowTheUserSelectsMayGoAsItsTriggerFinishes) {
  const struct {
    const char* name;
    const char* trigger;
    std::function<void(TvgStringListBox*)> select;
  } ways[] = {
      {"scrolled back", "IsMouseOver=true",
       [this](TvgStringListBox* list) {
         list->SetItemIndex(59);  // at the end the first row sleeps away from the viewport
         list->MouseEnter();
         Key(list, kVkHome);
       }},
      {"selected by the keys", "IsSelected=true", [this](TvgStringListBox* list) { Key(list, kVkDown); }},
      {"taken into a range", "IsSelected=true",
       [](TvgStringListBox* list) { list->SelectRange(list->ItemByIndex(0), list->ItemByIndex(3)); }},
      {"deselected with the others", "IsSelected=false",
       [](TvgStringListBox* list) {
         list->SelectRange(list->ItemByIndex(0), list->ItemByIndex(3));
         list->DeselectAll();
       }},
  };
  for (const auto& way : ways) {
    for (const bool reload : {false, true}) {
      SCOPED_TRACE(std::string(way.name) + (reload ? ", lines reloaded" : ", its line deleted"));
      auto* list = Add<TvgStringListBox>(10, 10, 100, 100);
      TFinishingRows handler(list, way.trigger, reload);
      list->GetItems()->BeginUpdate();
      for (int i = 0; i < 60; ++i) list->GetItems()->Add(u"line " + std::u16string(1, static_cast<char16_t>(u'0' + i)));
      list->GetItems()->EndUpdate();
      handler.Style(0);
      list->SetMultiSelect(way.name[0] == 't' || way.name[0] == 'd');
      changes.senders.clear();
      list->OnChange = changes.Event();
      way.select(list);
      EXPECT_EQ(handler.finished.size(), 1u);
      EXPECT_EQ(list->Count(), reload ? 2 : 59);
      if (!changes.senders.empty()) EXPECT_EQ(changes.senders.back(), list->GetSelected());
      delete list;
    }
  }
}

// The same handler in the row that loses the selection as a line deleted before it moves the
// selection to the row after it, in a string list box and in a combo box's list: the rows then
// follow the lines as the handler left them.
TEST_F(ListBoxTest, ARowDeselectedAsALineChangeMovesTheSelectionMayChangeTheLines) {
  for (const bool combo : {false, true}) {
    for (const bool reload : {false, true}) {
      SCOPED_TRACE(std::string(combo ? "combo box" : "string list box") + (reload ? ", lines reloaded" : ", its line deleted"));
      auto* box = combo ? static_cast<TvgControl*>(Add<TvgStringComboBox>()) : Add<TvgStringListBox>();
      auto* stringList = dynamic_cast<TvgStringListBox*>(box);
      auto* stringCombo = dynamic_cast<TvgStringComboBox*>(box);
      TFinishingRows handler = combo ? TFinishingRows(stringCombo, "IsSelected=false", reload)
                                     : TFinishingRows(stringList, "IsSelected=false", reload);
      for (int i = 0; i < 6; ++i) handler.lines->Add(u"line " + std::u16string(1, static_cast<char16_t>(u'0' + i)));
      handler.Style(1);
      handler.list->SetItemIndex(1);
      handler.lines->Delete(0);
      EXPECT_EQ(handler.finished.size(), 1u);
      EXPECT_EQ(handler.list->Count(), reload ? 2 : 4);
      delete box;
    }
  }
}

TEST_F(ListBoxTest, WithDragToScrollAReleaseThatScrolledNothingChoosesTheItemThere) {
  TvgListBox* list = List(10);  // 190 of items in 100: the vertical bar shows
  list->SetMouseTracking(true);
  list->SetAnimated(false);
  list->OnChange = changes.Event();
  ASSERT_TRUE(list->GetVScrollBar()->GetVisible());
  // Pressed on item 1 and pulled down at the top of the list: the bar stays at 0, the content
  // does not move, and the release (on item 2 by now) is a click there.
  list->MouseDown(mbLeft, TShiftState{ssLeft}, 50, 25);
  list->MouseMove(TShiftState{ssLeft}, 50, 45, 0, 20);
  EXPECT_EQ(list->GetVScrollBar()->GetValue(), 0);
  EXPECT_EQ(list->GetItemIndex(), -1);  // a press alone chooses nothing
  list->MouseUp(mbLeft, TShiftState{}, 50, 45);
  EXPECT_EQ(list->GetItemIndex(), 2);
  EXPECT_EQ(changes.count, 1);
  // Pulled up (the content scrolls) and back to where it was pressed: a drag, not a click.
  list->MouseDown(mbLeft, TShiftState{ssLeft}, 50, 70);
  list->MouseMove(TShiftState{ssLeft}, 50, 40, 0, -30);
  EXPECT_EQ(list->GetVScrollBar()->GetValue(), 30);
  list->MouseMove(TShiftState{ssLeft}, 50, 70, 0, 30);
  EXPECT_EQ(list->GetVScrollBar()->GetValue(), 0);
  list->MouseUp(mbLeft, TShiftState{}, 50, 70);
  EXPECT_EQ(list->GetItemIndex(), 2);
  EXPECT_EQ(changes.count, 1);
  // A press and release in place is a click.
  list->MouseDown(mbLeft, TShiftState{ssLeft}, 50, 70);
  list->MouseUp(mbLeft, TShiftState{}, 50, 70);
  EXPECT_EQ(list->GetItemIndex(), 3);
}

// --- Combo boxes

TEST_F(ListBoxTest, TheDropDownIsDropDownCountRowsTall) {
  auto* combo = Add<TvgComboBox>(10, 10, 100, 22);
  for (int i = 0; i < 20; ++i) {
    auto* item = new TvgListBoxItem(combo);
    item->SetParent(combo);
  }
  EXPECT_EQ(combo->GetCount(), 20);
  combo->DropDown();
  EXPECT_EQ(combo->GetPopup()->GetHeight(), 8 * 18);  // no item height: Height - 4 per row
  EXPECT_TRUE(combo->GetPopup()->GetIsOpen());
  combo->DropDown();
  EXPECT_FALSE(combo->GetPopup()->GetIsOpen());
  combo->GetListBox()->SetItemHeight(19);
  combo->DropDown();
  EXPECT_EQ(combo->GetPopup()->GetHeight(), 152);  // left open: the box goes with it open
}

// Each opening styles the list afresh: the style of the last opening goes.
TEST_F(ListBoxTest, EveryDropDownAppliesTheListsStyleAgain) {
  auto* combo = Add<TvgStringComboBox>(10, 10, 100, 22);
  auto* text = Add<TvgComboTextBox>(10, 40, 100, 22);
  for (const char16_t* item : {u"red", u"green"}) {
    combo->GetItems()->Add(item);
    text->GetItems()->Add(item);
  }
  const std::vector<std::pair<TvgListBox*, std::function<void()>>> boxes = {
      {combo->GetListBox(), [combo] { combo->DropDown(); }}, {text->GetListBox(), [text] { text->DropDown(); }}};
  for (const auto& [list, dropDown] : boxes) {
    dropDown();
    TvgObject* first = list->GetStyleObject();
    ASSERT_NE(first, nullptr);
    bool freed = false;
    vgAddFreeNotify(first, this, [&freed] { freed = true; });
    dropDown();  // closes
    EXPECT_FALSE(freed);
    dropDown();
    EXPECT_TRUE(freed);
    if (!freed) vgRemoveFreeNotify(first, this);
    ASSERT_NE(list->GetStyleObject(), nullptr);
    EXPECT_EQ(list->GetStyleObject()->GetIndex(), 0);
    dropDown();
  }
}

// The list, styled afresh at each opening, shows the selected item each time.
TEST_F(ListBoxTest, TheDropDownShowsTheSelectedItemAtEveryOpening) {
  auto* combo = Add<TvgStringComboBox>(10, 10, 100, 22);
  auto* text = Add<TvgComboTextBox>(10, 40, 100, 22);
  for (int i = 0; i < 30; ++i) {
    combo->GetItems()->Add(u"item");
    text->GetItems()->Add(u"item");
  }
  combo->SetItemIndex(25);  // far beyond the eight rows shown
  text->SetItemIndex(25);
  const std::vector<std::pair<TvgListBox*, std::function<void()>>> boxes = {
      {combo->GetListBox(), [combo] { combo->DropDown(); }}, {text->GetListBox(), [text] { text->DropDown(); }}};
  for (const auto& [list, dropDown] : boxes) {
    for (int opening = 0; opening < 2; ++opening) {
      dropDown();
      ASSERT_NE(list->GetSelected(), nullptr);
      ASSERT_NE(list->GetViewport(), nullptr);
      const TvgRect item = list->GetSelected()->LocalToAbsoluteRect(list->GetSelected()->GetLocalRect());
      const TvgRect view = list->GetViewport()->LocalToAbsoluteRect(list->GetViewport()->GetLocalRect());
      EXPECT_TRUE(item.Top >= view.Top && item.Bottom <= view.Bottom) << opening;
      dropDown();  // closes
    }
  }
}

// The combo boxes fed from lines, seen alike.
struct TLinesCombo {
  TvgControl* box;
  TvgListBox* list;
  TvgWideStringList* lines;
  std::function<void()> dropDown;
  // What the list holds: each item's text, place and selection, the index, the content's place,
  // the vertical bar (value and remembered scroll; its range when shown), and the markers.
  struct TView {
    std::vector<std::tuple<std::u16string, TvgRect, bool>> items;
    int32_t index = -1;
    TvgRect content;
    std::vector<float> bar;
    std::vector<TvgRect> markers;
    bool operator==(const TView&) const = default;
  };
  // As it stands, closed: read through a list pointer kept from the start, each item's place as
  // any object of the scene reads another's.
  TView Read() const {
    TView view;
    for (int32_t i = 0; i < list->Count(); ++i) {
      TvgVisualObject* item = list->ItemByIndex(i);
      if (item == nullptr) continue;
      const TvgPoint p = item->GetPosition()->GetPoint();
      const TvgRect r = vgRect(p.X, p.Y, p.X + item->GetWidth(), p.Y + item->GetHeight());
      view.items.emplace_back(list->ItemByIndex(i)->GetText(), r, list->ItemByIndex(i)->GetIsSelected());
    }
    view.index = list->GetItemIndex();
    view.content = list->GetContent()->GetParentedRect();
    if (TvgScrollBar* bar = list->GetVScrollBar()) {
      view.bar = {bar->GetValue(), list->GetRememberedVScroll()};
      if (bar->GetVisible()) view.bar.insert(view.bar.end(), {bar->GetMax(), bar->GetViewportSize()});
    }
    for (TvgVisualObject* m : list->SelectionClones())
      if (m->GetVisible()) view.markers.push_back(m->GetParentedRect());
    return view;
  }
  // Dropped down.
  TView View() {
    dropDown();
    const TView view = Read();
    dropDown();  // closes
    return view;
  }
};

template <typename Box>
TLinesCombo LinesCombo(Box* box) {
  return {box, box->GetListBox(), static_cast<TvgWideStringList*>(box->GetItems()), [box] { box->DropDown(); }};
}

// A string list box stands for its own list, styled; "dropping it down" shows or hides it.
TLinesCombo LinesList(TvgStringListBox* list) {
  list->ApplyResource();
  return {list, list, static_cast<TvgWideStringList*>(list->GetItems()), [list] { list->SetVisible(!list->GetVisible()); }};
}

std::vector<std::function<TLinesCombo(float y)>> ListBoxTest::LineLists() {
  return {[this](float y) { return LinesList(Add<TvgStringListBox>(10, y, 100, 100)); },
          [this](float y) { return LinesCombo(Add<TvgStringComboBox>(10, y, 100, 22)); },
          [this](float y) { return LinesCombo(Add<TvgComboTextBox>(10, y, 100, 22)); }};
}

// Each kind of change to the Items of both combos, their drop-down open and closed: the list
// makes only the items the change brought, is laid out once at most (closed, only where a bar
// comes or goes, the list sorts or an update covers it: else just the items from the change on
// are placed), and holds, closed and dropped down, what a list made afresh from the same lines,
// laid out whole, with the same index holds. Items made before are the lines' own whatever was
// done to the list or its items since: a sort and its end, a selection item among them, an item
// changed on itself, a line added from the lines' own changing event.
TEST_F(ListBoxTest, AChangeToAComboItemsMakesWhatItChangesAndListsAsAFreshList) {
  using TChange = std::function<void(TLinesCombo&)>;
  struct TCase {
    const char* name;
    int32_t index;   // ItemIndex before the change
    int32_t made;    // items made by the change; -1: not counted
    int32_t open;    // layouts at most, the drop-down open (one per change the list hears of)
    int32_t closed;  // and closed
    TChange change;
    bool sortedList = false;
    bool selectionItem = false;  // the box holds a selection item beside the items
  };
  const auto batch = [](const TChange& change) {
    return [change](TLinesCombo& c) {
      c.lines->BeginUpdate();
      change(c);
      c.lines->EndUpdate();
    };
  };
  const std::vector<TCase> cases = {
      {"add", 5, 1, 1, 0, [](TLinesCombo& c) { c.lines->Add(u"new"); }},
      {"insert before the index", 11, 1, 1, 0, [](TLinesCombo& c) { c.lines->Insert(2, u"new"); }},
      {"delete before the index", 5, 0, 1, 0, [](TLinesCombo& c) { c.lines->Delete(1); }},
      {"delete the selected last line", 11, 0, 1, 0, [](TLinesCombo& c) { c.lines->Delete(11); }},
      {"the list scrolled elsewhere, then a line added", 11, 1, 1, 0, [](TLinesCombo& c) {
         c.list->GetVScrollBar()->SetValue(0);
         c.lines->Add(u"new");
       }},
      {"put", 5, 1, 1, 0, [](TLinesCombo& c) { c.lines->Put(5, u"new"); }},
      {"exchange", 5, 0, 1, 0, [](TLinesCombo& c) { c.lines->Exchange(2, 5); }},
      {"move", 5, 1, 1, 0, [](TLinesCombo& c) { c.lines->Move(0, 9); }},
      {"sort", 9, 8, 1, 0, [](TLinesCombo& c) { c.lines->Sort(); }},
      {"clear", 5, 0, 1, 1, [](TLinesCombo& c) { c.lines->Clear(); }},
      {"assign", 3, 2, 1, 1, [](TLinesCombo& c) { c.lines->SetTextStr(u"a\nb"); }},
      {"a batch", 10, 3, 1, 0, batch([](TLinesCombo& c) {
         c.lines->Add(u"new");
         c.lines->Delete(0);
         c.lines->Insert(3, u"new 2");
         c.lines->Exchange(1, 7);
         c.lines->Put(0, u"put");
       })},
      {"lines sorted, then added to", 5, 14, 1, 0, batch([](TLinesCombo& c) {
         c.lines->SetSorted(true);
         c.lines->Add(u"line 055");
         c.lines->Add(u"line");
       })},
      // The box's update does not cover the list of an open drop-down (in the popup's tree); the
      // list's own does.
      {"adds inside the box's update", 7, 3, 3, 1, [](TLinesCombo& c) {
         c.box->BeginUpdate();
         for (const char16_t* line : {u"x", u"y", u"z"}) c.lines->Add(line);
         c.box->EndUpdate();
       }},
      {"adds inside the list's update", 7, 3, 1, 1, [](TLinesCombo& c) {
         c.list->BeginUpdate();
         for (const char16_t* line : {u"x", u"y", u"z"}) c.lines->Add(line);
         c.list->EndUpdate();
       }},
      // Sorted, the list is laid out at once (the order of its items depends on it); lines that
      // compare equal keep the lines' order.
      {"a sorted list", 4, 2, 1, 1, batch([](TLinesCombo& c) {
         c.lines->Add(u"line 035");
         c.lines->Insert(0, u"LINE 05");
       }), true},
      {"the list sorted and then not, then a line added", 0, 1, 3, 3, [](TLinesCombo& c) {
         c.list->SetSorted(true);
         c.list->SetSorted(false);
         c.lines->Add(u"new");
       }},
      {"a selection item, then lines added", 5, -1, 2, 1, [](TLinesCombo& c) {
         (new TvgSelectionItem(nullptr))->SetParent(c.box);
         c.lines->Add(u"new");
         c.lines->Add(u"new 2");
       }, false, true},
      {"items changed on themselves, then a line added", 5, -1, 2, 1, [](TLinesCombo& c) {
         c.list->SetData(Variant(WideString(u"changed")));  // the selected item's text
         c.list->ItemByIndex(1)->SetHeight(40);
         c.lines->Add(u"new");
       }},
      {"a line added from the lines' changing event", 5, 2, 2, 0, [](TLinesCombo& c) {
         struct TAgain {
           TvgWideStringList* lines;
           void Changing(TObject*) {
             lines->OnChanging = nullptr;
             lines->Add(u"extra");
           }
         } again{c.lines};
         c.lines->OnChanging = TNotifyEvent::Of<&TAgain::Changing>(&again);
         c.lines->Put(0, u"put");
       }},
      // New looks: every item made again. (A combo text box's drop-down opens scrolled as it was
      // left while its item shows there, unlike a fresh one: its items keep their height.)
      {"taller items", 6, -1, 2, 1, [](TLinesCombo& c) {
         if (auto* combo = dynamic_cast<TvgStringComboBox*>(c.box)) combo->SetItemHeight(25);
         c.lines->Add(u"new");
       }},
  };
  const std::vector<std::function<TLinesCombo(float y)>> kinds = {
      [this](float y) { return LinesCombo(Add<TvgStringComboBox>(10, y, 100, 22)); },
      [this](float y) { return LinesCombo(Add<TvgComboTextBox>(10, y, 100, 22)); }};
  for (const auto& make : kinds) {
    for (const bool open : {false, true}) {
      for (const TCase& c : cases) {
        TLinesCombo combo = make(10);
        SCOPED_TRACE(std::string(c.name) + (open ? ", open, " : ", closed, ") + combo.box->ClassName());
        for (int i = 0; i < 12; ++i) {  // "line 00", "line 05", "line 10", "line 03", ...
          const auto n = static_cast<char16_t>(i * 5 % 12);
          combo.lines->Add(u"line " + std::u16string{static_cast<char16_t>(u'0' + n / 10), static_cast<char16_t>(u'0' + n % 10)});
        }
        combo.list->SetSorted(c.sortedList);
        combo.list->SetItemIndex(c.index);
        combo.dropDown();  // styled, and scrolled to the index
        if (!open) combo.dropDown();
        for (int32_t i = 0; i < combo.list->Count(); ++i)
          if (TvgListBoxItem* item = combo.list->ItemByIndex(i)) item->SetTagString("before");
        const int32_t index = combo.list->GetItemIndex();  // a sorted list moved it with its item
        const int32_t layouts = combo.list->GetLayoutCount();
        c.change(combo);
        EXPECT_LE(combo.list->GetLayoutCount() - layouts, open ? c.open : c.closed);
        int32_t made = 0;
        for (int32_t i = 0; i < combo.list->Count(); ++i)
          if (TvgListBoxItem* item = combo.list->ItemByIndex(i)) made += item->GetTagString().empty() ? 1 : 0;
        EXPECT_TRUE(c.made < 0 || made == c.made) << made;
        if (open) combo.dropDown();  // closes
        // The same lines in a list made afresh and laid out whole (sorted), then the index of
        // before.
        TLinesCombo fresh = make(40);
        if (auto* tall = dynamic_cast<TvgStringComboBox*>(combo.box)) static_cast<TvgStringComboBox*>(fresh.box)->SetItemHeight(tall->GetItemHeight());
        if (c.selectionItem) (new TvgSelectionItem(nullptr))->SetParent(fresh.box);
        fresh.list->SetSorted(c.sortedList);
        fresh.dropDown();
        fresh.dropDown();
        fresh.lines->Assign(combo.lines);
        fresh.list->Realign();
        fresh.list->SetItemIndex(std::min(index, combo.list->Count() - 1));
        EXPECT_TRUE(combo.Read() == fresh.Read()) << "closed";
        EXPECT_TRUE(combo.View() == fresh.View()) << "dropped down";
        delete fresh.box;
        delete combo.box;
      }
    }
  }
}

// Random runs of changes to the Items of both combos and of a string list box (lines added,
// inserted and deleted anywhere and at the front), mixed with what else happens to a list
// between them (dropped down or closed, the box shown or hidden, the index moved, the list sorted
// or not, by a comparison of its own or not, scrolled, its item height and the box's width taken
// at the next opening, an item changed on itself, a line added from the lines' changing event, an
// update of the box or of the list around a change): after each change to Items the list holds,
// as it stands and dropped down, what a list made afresh from the lines and laid out whole holds,
// with the index kept, lowered to the last item when beyond it (a string list's with its scroll
// bars' values). Short lists of many texts meet every kind of change; long
// lists of few texts (many alike) mostly lines inserted and deleted at the front and added to a
// sorted list, whose rows take their places when asked.
TEST_F(ListBoxTest, RandomChangesToAComboItemsListAsAFreshList) {
  // One step: its kind, and raw numbers that pick its lines from those there when it runs.
  struct TStep {
    int kind;
    uint32_t a, b, c;
    std::vector<TStep> batch;
  };
  enum : int { kAdd, kInsert, kDelete, kInsertFront, kDeleteFront, kPut, kExchange, kMove, kSort, kClear, kAssign,
               kLinesSorted, kBoxUpdate, kListUpdate, kChanging, kBatch, kDropDown, kIndex, kListSorted, kScroll, kHeight,
               kWidth, kItself, kCompare, kShown, kKinds };
  static const char* const names[kKinds] = {"add", "insert", "delete", "insertfront", "deletefront", "put", "exchange",
                                            "move", "sort", "clear", "assign", "linessorted", "boxupdate", "listupdate",
                                            "changing", "batch", "dropdown", "index", "listsorted", "scroll", "height",
                                            "width", "itself", "compare", "shown"};
  // A comparison of the list's own, set and taken off between changes.
  struct TBackwards {
    int32_t Compare(TvgListBoxItem* a, TvgListBoxItem* b) { return vgWideCompareText(b->GetText(), a->GetText()); }
  } backwards;
  struct TAgain {
    TvgWideStringList* lines;
    TNotifyEvent back;
    void Changing(TObject* sender) {
      lines->OnChanging = back;
      back(sender);
      lines->Add(u"again");
    }
  };
  // Changes that fire the lines' events (an exchange of a line with itself, a move to its own
  // place or an insert into sorted lines fire none: nothing is then followed).
  struct TFired {
    int32_t count = 0;
    void Changing(TObject*) { ++count; }
  };
  // The string list box starts hidden ("closed").
  const std::vector<std::function<TLinesCombo(float y)>> kinds = {
      [this](float y) { return LinesCombo(Add<TvgStringComboBox>(10, y, 100, 22)); },
      [this](float y) { return LinesCombo(Add<TvgComboTextBox>(10, y, 100, 22)); },
      [this](float y) {
        TLinesCombo list = LinesList(Add<TvgStringListBox>(10, y, 100, 100));
        list.dropDown();
        return list;
      }};
  static const char* const kindNames[] = {"TvgStringComboBox", "TvgComboTextBox", "TvgStringListBox"};
  const auto setItemHeight = [](TvgControl* box, float h) {
    if (auto* s = dynamic_cast<TvgStringComboBox*>(box)) s->SetItemHeight(h);
    if (auto* t = dynamic_cast<TvgComboTextBox*>(box)) t->SetItemHeight(h);
    if (auto* l = dynamic_cast<TvgStringListBox*>(box)) l->SetItemHeight(h);
  };
  const auto itemHeight = [](TvgControl* box) {
    if (auto* s = dynamic_cast<TvgStringComboBox*>(box)) return s->GetItemHeight();
    if (auto* l = dynamic_cast<TvgStringListBox*>(box)) return l->GetItemHeight();
    return static_cast<TvgComboTextBox*>(box)->GetItemHeight();
  };
  const auto isOpen = [](TvgControl* box) {
    if (auto* c = dynamic_cast<TvgComboBox*>(box)) return c->GetPopup()->GetIsOpen();
    if (auto* l = dynamic_cast<TvgStringListBox*>(box)) return l->GetVisible();
    return static_cast<TvgComboTextBox*>(box)->GetPopup()->GetIsOpen();
  };
  // The lines' texts: many, or few (and those alike but for case).
  const auto many = [](uint32_t n) {
    static const char16_t* const first[] = {u"a", u"B", u"b", u"c", u"D", u"e", u"line", u"z"};
    return WideString(first[n % 8]) + WideString(1, static_cast<char16_t>(u'0' + n / 8 % 3));
  };
  const auto few = [](uint32_t n) {
    static const char16_t* const texts[] = {u"a", u"A", u"b", u"B", u"c"};
    return WideString(texts[n % 5]);
  };
  std::function<WideString(uint32_t)> text = many;
  // Where two views first differ, for the failure's message.
  const auto differ = [](const TLinesCombo::TView& a, const TLinesCombo::TView& b) {
    std::string out;
    const auto rect = [](const TvgRect& r) {
      return "(" + std::to_string(static_cast<int>(r.Left)) + "," + std::to_string(static_cast<int>(r.Top)) + "," +
             std::to_string(static_cast<int>(r.Right)) + "," + std::to_string(static_cast<int>(r.Bottom)) + ")";
    };
    if (a.items.size() != b.items.size()) out += " items " + std::to_string(a.items.size()) + "/" + std::to_string(b.items.size());
    for (size_t i = 0; i < std::min(a.items.size(), b.items.size()); ++i) {
      if (a.items[i] == b.items[i]) continue;
      const auto& [ta, ra, sa] = a.items[i];
      const auto& [tb, rb, sb] = b.items[i];
      out += " item " + std::to_string(i) + " " + std::string(ta.begin(), ta.end()) + rect(ra) + (sa ? "*" : "") + " / " +
             std::string(tb.begin(), tb.end()) + rect(rb) + (sb ? "*" : "");
      break;
    }
    if (a.index != b.index) out += " index " + std::to_string(a.index) + "/" + std::to_string(b.index);
    if (a.content != b.content) out += " content " + rect(a.content) + "/" + rect(b.content);
    if (a.bar != b.bar) {
      out += " bar";
      for (float v : a.bar) out += " " + std::to_string(static_cast<int>(v));
      out += " /";
      for (float v : b.bar) out += " " + std::to_string(static_cast<int>(v));
    }
    if (a.markers != b.markers)
      out += " markers " + std::to_string(a.markers.size()) + (a.markers.empty() ? "" : rect(a.markers[0])) + "/" +
             std::to_string(b.markers.size()) + (b.markers.empty() ? "" : rect(b.markers[0]));
    return out;
  };
  // Runs the steps on a new combo of `kind`; answers how the first change that left the list
  // unlike a fresh one differed, with the steps' names up to it ("" when none did).
  const auto run = [&](size_t kind, const std::vector<TStep>& steps, uint32_t lines) {
    TLinesCombo combo = kinds[kind](10);
    TFired fired;
    const TNotifyEvent counting = TNotifyEvent::Of<&TFired::Changing>(&fired);
    TAgain again{combo.lines, counting};
    for (uint32_t i = 0; i < lines; ++i) combo.lines->Add(text(i * 5));
    combo.dropDown();
    combo.dropDown();
    combo.lines->OnChanging = counting;
    std::string log, found;
    const bool stringList = kind == 2;
    const auto reopen = [&combo] {
      combo.dropDown();
      combo.dropDown();
    };
    std::function<void(const TStep&)> apply = [&](const TStep& s) {
      const auto n = static_cast<uint32_t>(combo.lines->Count());
      const auto at = [n](uint32_t r) { return static_cast<int32_t>(n == 0 ? 0 : r % n); };
      log += std::string(" ") + names[s.kind];
      switch (s.kind) {
        case kAdd: combo.lines->Add(text(s.c)); break;
        case kInsert: log += std::to_string(s.a % (n + 1)); combo.lines->Insert(static_cast<int32_t>(s.a % (n + 1)), text(s.c)); break;
        case kDelete: log += std::to_string(at(s.a)); if (n > 0) combo.lines->Delete(at(s.a)); break;
        case kInsertFront: combo.lines->Insert(0, text(s.c)); break;
        case kDeleteFront: if (n > 0) combo.lines->Delete(0); break;
        case kPut: log += std::to_string(at(s.a)); if (n > 0) combo.lines->Put(at(s.a), text(s.c)); break;
        case kExchange: log += std::to_string(at(s.a)) + "," + std::to_string(at(s.b)); if (n > 0) combo.lines->Exchange(at(s.a), at(s.b)); break;
        case kMove: log += std::to_string(at(s.a)) + "," + std::to_string(at(s.b)); if (n > 0) combo.lines->Move(at(s.a), at(s.b)); break;
        case kSort: combo.lines->Sort(); break;
        case kClear: combo.lines->Clear(); break;
        case kAssign: combo.lines->SetTextStr(u"x1\nb2\nline0\nB1\na0\nz2\nc0\ne1\nD0\nline2\nb1"); break;
        case kLinesSorted: combo.lines->SetSorted(!combo.lines->GetSorted()); break;
        case kBoxUpdate:
          combo.box->BeginUpdate();
          combo.lines->Add(text(s.a));
          combo.lines->Add(text(s.c));
          combo.box->EndUpdate();
          break;
        case kListUpdate:
          combo.list->BeginUpdate();
          combo.lines->Insert(static_cast<int32_t>(s.a % (n + 1)), text(s.c));
          combo.lines->Add(text(s.b));
          combo.list->EndUpdate();
          break;
        case kChanging:
          combo.lines->OnChanging = TNotifyEvent::Of<&TAgain::Changing>(&again);
          combo.lines->Add(text(s.c));
          combo.lines->OnChanging = counting;
          break;
        case kBatch:
          log += "[";
          combo.lines->BeginUpdate();
          for (const TStep& inner : s.batch) apply(inner);
          combo.lines->EndUpdate();
          log += " ]";
          break;
        case kDropDown: combo.dropDown(); break;
        case kIndex: {
          const int32_t index = static_cast<int32_t>(s.a % (n + 1)) - 1;
          log += std::to_string(index);
          combo.list->SetItemIndex(index);
          break;
        }
        case kListSorted: combo.list->SetSorted(!combo.list->GetSorted()); break;
        case kScroll:
          if (TvgScrollBar* bar = combo.list->GetVScrollBar()) bar->SetValue(static_cast<float>(s.a % (20 * n + 20)));
          break;
        case kHeight: setItemHeight(combo.box, s.a % 2 == 0 ? 19.0f : 25.0f); reopen(); break;
        case kWidth: combo.box->SetWidth(s.a % 2 == 0 ? 100.0f : 140.0f); reopen(); break;
        case kItself: if (TvgListBoxItem* item = combo.list->ItemByIndex(at(s.a))) item->SetText(u"itself"); break;
        case kCompare:
          combo.list->OnCompare = combo.list->OnCompare ? TOnCompareListBoxItemEvent()
                                                        : TOnCompareListBoxItemEvent::Of<&TBackwards::Compare>(&backwards);
          break;
        case kShown: if (!stringList) combo.box->SetVisible(!combo.box->GetVisible()); break;
        default: break;
      }
    };
    for (const TStep& s : steps) {
      const int32_t before = combo.list->GetItemIndex();
      const float hBefore = combo.list->GetHScrollBar() != nullptr ? combo.list->GetHScrollBar()->GetValue() : 0;
      const float vBefore = combo.list->GetVScrollBar() != nullptr ? combo.list->GetVScrollBar()->GetValue() : 0;
      const int32_t firedBefore = fired.count;
      apply(s);
      if (s.kind > kBatch || fired.count == firedBefore) continue;
      const bool open = isOpen(combo.box);
      const int32_t count = combo.lines->Count();
      const int32_t index = before >= count ? count - 1 : before;
      const TLinesCombo::TView seen = combo.Read();
      // The same lines in a list made afresh and laid out whole, then the index.
      TLinesCombo fresh = kinds[kind](40);
      setItemHeight(fresh.box, itemHeight(combo.box));
      fresh.box->SetWidth(combo.box->GetWidth());
      fresh.list->SetSorted(combo.list->GetSorted());
      fresh.list->OnCompare = combo.list->OnCompare;
      fresh.dropDown();
      if (!open) fresh.dropDown();
      fresh.lines->Assign(combo.lines);
      fresh.list->Realign();
      fresh.list->SetItemIndex(index);
      if (stringList) {
        // Back to the start, then the values of before on the bars shown.
        for (const auto& [bar, value] : {std::pair{fresh.list->GetHScrollBar(), hBefore}, std::pair{fresh.list->GetVScrollBar(), vBefore}}) {
          if (bar == nullptr) continue;
          bar->SetValue(0);
          if (bar->GetVisible()) bar->SetValue(value);
        }
      }
      const TLinesCombo::TView freshSeen = fresh.Read();
      std::string how = seen == freshSeen ? "" : std::string(open ? " open" : " closed") + " as it stands:" + differ(seen, freshSeen);
      if (open) fresh.dropDown();
      if (!open) {
        const TLinesCombo::TView dropped = combo.View(), freshDropped = fresh.View();
        if (!(dropped == freshDropped)) how += " dropped down:" + differ(dropped, freshDropped);
      }
      delete fresh.box;
      if (!how.empty()) {
        found = how + "\n  after:" + log;
        break;
      }
    }
    if (isOpen(combo.box)) combo.dropDown();
    delete combo.box;
    return found;
  };
  // Long lists: mostly lines at the front and added, the list sorted now and then.
  static const int kLong[] = {kInsertFront, kInsertFront, kInsertFront, kDeleteFront, kDeleteFront, kDeleteFront,
                              kAdd,         kAdd,         kAdd,         kInsert,      kInsert,      kInsert,
                              kDelete,      kPut,         kIndex,       kIndex,       kScroll,      kListSorted,
                              kDropDown,    kShown,       kBatch};
  for (const bool longLists : {false, true}) {
    text = longLists ? std::function<WideString(uint32_t)>(few) : many;
    for (size_t kind = 0; kind < kinds.size(); ++kind) {
      for (uint32_t seed = 1; seed <= (longLists ? 5u : 8u); ++seed) {
        std::mt19937 random(seed);
        const auto step = [&random](int of) {
          TStep s{static_cast<int>(random() % static_cast<uint32_t>(of)), static_cast<uint32_t>(random()), static_cast<uint32_t>(random()), static_cast<uint32_t>(random()), {}};
          return s;
        };
        std::vector<TStep> steps;
        for (int i = 0; i < (longLists ? 100 : 160); ++i) {
          TStep s = step(kKinds + 8);  // changes to the lines twice as often as the rest
          if (s.kind >= kKinds) s.kind -= kKinds;
          if (longLists) s.kind = kLong[s.b % std::size(kLong)];
          if (s.kind == kBatch) {
            for (uint32_t k = s.a % 4 + 1; k > 0; --k) {
              s.batch.push_back(step(kSort + 1));
              if (longLists) s.batch.back().kind = s.batch.back().b % 2 == 0 ? kInsertFront : kDeleteFront;
            }
          }
          steps.push_back(s);
        }
        const std::string found = run(kind, steps, longLists ? 300 : 6);
        if (found.empty()) continue;
        ADD_FAILURE() << (longLists ? "long " : "") << kindNames[kind] << " seed " << seed << ":" << found;
      }
    }
  }
}

// A line added, put, or inserted or deleted at the front of a shown string list box and of the
// closed combos, sorted or not: only the item of that line is made, the list is not laid out
// whole (a sorted one puts the line at its place, after the lines before it that compare equal,
// as the sort does), the rows after the change move without being placed one by one (no change
// event of their positions), and the list holds what a list made afresh holds.
TEST_F(ListBoxTest, ALineChangedMakesOneItemAndMovesTheRowsAfterIt) {
  struct TCase {
    const char* name;
    int32_t made;
    bool sorted;
    std::function<void(TvgWideStringList*)> change;
  };
  const std::vector<TCase> cases = {
      {"add", 1, false, [](TvgWideStringList* l) { l->Add(u"new"); }},
      {"insert at the front", 1, false, [](TvgWideStringList* l) { l->Insert(0, u"new"); }},
      {"delete at the front", 0, false, [](TvgWideStringList* l) { l->Delete(0); }},
      {"put", 1, false, [](TvgWideStringList* l) { l->Put(3, u"new"); }},
      {"sorted: add", 1, true, [](TvgWideStringList* l) { l->Add(u"line 035"); }},
      {"sorted: insert at the front, equal to a line after it", 1, true, [](TvgWideStringList* l) { l->Insert(0, u"LINE 10"); }},
      {"sorted: add, equal to a line before it", 1, true, [](TvgWideStringList* l) { l->Add(u"LINE 00"); }},
      {"sorted: put", 1, true, [](TvgWideStringList* l) { l->Put(0, u"line 11x"); }},
      {"sorted: delete at the front", 0, true, [](TvgWideStringList* l) { l->Delete(0); }},
  };
  // Counts the changes of a row's position and passes them on.
  struct TPlacings {
    TNotifyEvent original;
    int32_t count = 0;
    void Changed(TObject* sender) {
      ++count;
      original(sender);
    }
  };
  // A string list shown (as the list is read: "dropped down" hides it) and the combos closed.
  const std::vector<std::function<TLinesCombo(float y)>> kinds = {
      [this](float y) { return LinesCombo(Add<TvgStringComboBox>(10, y, 100, 22)); },
      [this](float y) { return LinesCombo(Add<TvgComboTextBox>(10, y, 100, 22)); },
      [this](float y) { return LinesList(Add<TvgStringListBox>(10, y, 100, 100)); }};
  for (size_t kind = 0; kind < kinds.size(); ++kind) {
    for (const TCase& c : cases) {
      TLinesCombo combo = kinds[kind](10);
      SCOPED_TRACE(std::string(c.name) + ", " + combo.box->ClassName());
      for (int i = 0; i < 12; ++i) {  // "line 00", "line 05", "line 10", "line 03", ...
        const auto n = static_cast<char16_t>(i * 5 % 12);
        combo.lines->Add(u"line " + std::u16string{static_cast<char16_t>(u'0' + n / 10), static_cast<char16_t>(u'0' + n % 10)});
      }
      combo.list->SetSorted(c.sorted);
      combo.list->SetItemIndex(4);
      if (kind < 2) {
        combo.dropDown();  // styled
        combo.dropDown();
      }
      for (int32_t i = 0; i < combo.list->Count(); ++i) combo.list->ItemByIndex(i)->SetTagString("before");
      TvgListBoxItem* last = combo.list->ItemByIndex(combo.list->Count() - 1);
      TPlacings placings{last->GetPosition()->OnChange};
      last->GetPosition()->OnChange = TNotifyEvent::Of<&TPlacings::Changed>(&placings);
      const float lastTop = last->GetPosition()->GetY();
      const int32_t index = combo.list->GetItemIndex();
      const int32_t layouts = combo.list->GetLayoutCount();
      c.change(combo.lines);
      EXPECT_EQ(combo.list->GetLayoutCount(), layouts);
      int32_t made = 0;
      for (int32_t i = 0; i < combo.list->Count(); ++i) made += combo.list->ItemByIndex(i)->GetTagString().empty() ? 1 : 0;
      EXPECT_EQ(made, c.made);
      if (last->GetPosition()->GetY() != lastTop) EXPECT_EQ(placings.count, 0) << "the last row moved";
      // The same lines in a list made afresh and laid out whole, with the index of before.
      TLinesCombo fresh = kinds[kind](130);
      fresh.list->SetSorted(c.sorted);
      if (kind < 2) {
        fresh.dropDown();
        fresh.dropDown();
      }
      fresh.lines->Assign(combo.lines);
      fresh.list->Realign();
      fresh.list->SetItemIndex(std::min(index, combo.list->Count() - 1));
      EXPECT_TRUE(combo.Read() == fresh.Read());
      EXPECT_TRUE(combo.View() == fresh.View()) << "dropped down (the string list hidden)";
      last->GetPosition()->OnChange = placings.original;
      delete fresh.box;
      delete combo.box;
    }
  }
}

// A change to the lines of a list whose rows stand alike leaves the later rows to take their
// places when they are asked: every reader and writer of a row's place meets it where a row
// placed at the change stands (a twin list laid out whole after the change), in a shown string
// list box and in the closed combos' lists: read through the visual object, through a part of
// its style, by a path animation started on it, given the place it had before the change, and
// read inside an update of the list holding a change of the lines.
TEST_F(ListBoxTest, ARowOwedItsPlaceIsReadAndMovedWhereAPlacedRowStands) {
  constexpr int32_t kRow = 30;
  using TReader = std::function<std::vector<float>(TLinesCombo&, TvgVisualObject* row, const TvgPoint& before)>;
  const auto point = [](const TvgPoint& p) { return std::vector<float>{p.X, p.Y}; };
  const std::vector<std::pair<const char*, TReader>> readers = {
      {"place and matrix read through the visual object",
       [](TLinesCombo&, TvgVisualObject* row, const TvgPoint&) {
         return std::vector<float>{row->GetPosition()->GetX(), row->GetPosition()->GetY(), row->GetLocalMatrix().m31,
                                   row->GetLocalMatrix().m32};
       }},
      {"a part's place in the list",
       [point](TLinesCombo& c, TvgVisualObject* row, const TvgPoint&) {
         TvgVisualObject* part = row->GetChildrenCount() > 0 ? row->GetChild(0)->Visual() : nullptr;
         return part != nullptr ? point(c.list->AbsoluteToLocal(part->LocalToAbsolute(vgPoint(0, 0)))) : std::vector<float>{};
       }},
      {"a path animation started on it",
       [point](TLinesCombo&, TvgVisualObject* row, const TvgPoint&) {
         auto* path = new TvgPathAnimation(nullptr);
         path->GetPath()->MoveTo(vgPoint(0, 0));
         path->GetPath()->LineTo(vgPoint(10, 0));
         path->SetParent(row);
         path->Start();
         path->ProcessAnimation();
         return point(static_cast<TvgListBoxItem*>(row)->GetPosition()->GetPoint());
       }},
      {"given the place it had before the change",
       [point](TLinesCombo&, TvgVisualObject* row, const TvgPoint& before) {
         row->SetBounds(before.X, before.Y, row->GetWidth(), row->GetHeight());
         return point(static_cast<TvgListBoxItem*>(row)->GetPosition()->GetPoint());
       }},
      {"read inside an update holding a change",
       [](TLinesCombo& c, TvgVisualObject*, const TvgPoint&) {
         std::vector<float> tops;
         c.list->BeginUpdate();
         c.lines->Insert(0, u"held");
         for (int32_t i = 0; i < c.list->Count(); ++i) tops.push_back(c.list->ItemByIndex(i)->GetParentedRect().Top);
         c.list->EndUpdate();
         return tops;
       }},
  };
  for (const auto& kind : LineLists()) {
    for (const auto& [name, read] : readers) {
      std::vector<float> seen[2];
      for (const bool placed : {false, true}) {
        TLinesCombo c = kind(10);
        SCOPED_TRACE(std::string(name) + ", " + c.box->ClassName());
        for (int i = 0; i < 60; ++i) c.lines->Add(u"line " + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)));
        c.dropDown();
        c.dropDown();
        TvgListBoxItem* row = c.list->ItemByIndex(kRow);
        row->ApplyResource();
        const TvgPoint before = row->GetPosition()->GetPoint();
        c.lines->Insert(0, u"front");
        c.lines->Delete(1);
        c.lines->Insert(0, u"front");
        // The twin is laid out whole: every row placed by the layout, none owed its place.
        if (placed) c.list->Realign();
        seen[placed] = read(c, row, before);
        EXPECT_FALSE(seen[placed].empty());
        delete c.box;
      }
      EXPECT_EQ(seen[0], seen[1]) << name;
    }
  }
}

// An item changed on itself in ways the list does not hear of (its text's alignment, place,
// padding, style, opacity; any published property, of its geometry and font too, set to another
// value; an object put into it) is no longer its line's own: after the next change to the lines
// every item holds what the items of a list given the same lines without that hold (every
// published property, its children), in a shown string list box and in the open combos.
TEST_F(ListBoxTest, AnItemChangedOnItselfIsAsAFreshOneAfterTheNextLineChange) {
  // Each published property by its path ("Position.X"), the parts' own included; the object
  // references by their address.
  std::function<void(TObject*, const std::string&, std::vector<std::string>&)> describe =
      [&describe](TObject* obj, const std::string& prefix, std::vector<std::string>& out) {
        for (const TPropInfo* prop : GetPropList(obj->ClassInfo(), tkProperties)) {
          const std::string path = prefix + prop->Name;
          if (prop->Name == "Parent" || prop->Name == "Name") continue;  // the list's, and the item's identity
          if (prop->PropType->Kind != tkClass) {
            out.push_back(path + "=" + GetPropText(obj, prop->Name));
            continue;
          }
          TObject* part = GetObjectProp(obj, prop);
          if (part != nullptr && !part->Is<TComponent>()) describe(part, path + ".", out);
          else out.push_back(path + "=" + std::to_string(reinterpret_cast<uintptr_t>(part)));
        }
      };
  const auto looks = [&describe](TvgListBox* list) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < list->Count(); ++i) {
      TvgListBoxItem* item = list->ItemByIndex(i);
      describe(item, std::to_string(i) + ".", out);
      out.push_back(std::to_string(i) + ".Foreground=" + item->GetForeground()->GetColor());
      out.push_back(std::to_string(i) + ".children=" + std::to_string(item->GetChildrenCount()));
    }
    return out;
  };
  std::vector<std::pair<std::string, std::function<void(TvgListBoxItem*)>>> changes = {
      {"text align", [](TvgListBoxItem* item) { item->SetTextAlign(vgTextAlignFar); }},
      {"place", [](TvgListBoxItem* item) { item->GetPosition()->SetY(70); }},
      {"padding", [](TvgListBoxItem* item) { item->GetPadding()->SetRect(vgRect(3, 3, 3, 3)); }},
      {"style", [](TvgListBoxItem* item) { item->SetResource("buttonstyle"); }},
      {"opacity", [](TvgListBoxItem* item) { item->SetOpacity(0.5f); }},
      {"an object put in", [](TvgListBoxItem* item) { (new TvgRectangle(nullptr))->SetParent(item); }},
      {"foreground", [](TvgListBoxItem* item) { item->GetForeground()->SetSolidColor(0xFF102030u); }}};
  // Every other published property set through its setter to another value (the selection and
  // the place among the items are the list's own, the name and tag the item's identity).
  TComponent menu(nullptr);
  std::function<void(const TClassInfo*, const std::string&)> collect = [&](const TClassInfo* cls, const std::string& prefix) {
    for (const TPropInfo* prop : GetPropList(cls, tkProperties)) {
      const std::string path = prefix + prop->Name;
      if (!prop->IsWritable() || path == "Name" || path == "Tag" || path == "Parent" || path == "Index" || path == "IsSelected")
        continue;
      const TClassInfo* part = prop->PropType->Kind == tkClass ? prop->PropType->GetClassType() : nullptr;
      if (part != nullptr && !part->InheritsFrom(TComponent::StaticClassInfo())) {
        collect(part, path + ".");
        continue;
      }
      changes.emplace_back(path, [path, &menu](TvgListBoxItem* item) {
        TObject* o = nullptr;
        const TPropInfo* p = ResolvePropPath(item, path, o);
        const TTypeInfo* t = p->PropType;
        const double value = t->Kind == tkFloat ? GetFloatProp(o, p) : 0;
        if (t->Kind == tkEnumeration) SetOrdProp(o, p, t->MinValue + (GetOrdProp(o, p) - t->MinValue + 1) % (t->MaxValue - t->MinValue + 1));
        else if (t->Kind == tkSet) SetOrdProp(o, p, GetOrdProp(o, p) ^ 1);
        else if (t->Kind == tkFloat) SetFloatProp(o, p, value == 0 ? 3 : value / 2);
        else if (t->Kind == tkString || t->Kind == tkLString) SetStrProp(o, p, GetStrProp(o, p) + "x");
        else if (t->Kind == tkWString) SetWideStrProp(o, p, GetWideStrProp(o, p) + u"x");
        else if (t->Kind == tkClass) SetObjectProp(o, p, &menu);
        else SetOrdProp(o, p, GetOrdProp(o, p) + 1);
      });
    }
  };
  collect(TvgListBoxItem::StaticClassInfo(), "");
  for (const auto& make : LineLists()) {
    for (const auto& [name, change] : changes) {
      TLinesCombo combo = make(10), fresh = make(130);
      SCOPED_TRACE(name + ", " + combo.box->ClassName());
      for (TLinesCombo* c : {&combo, &fresh}) {
        c->lines->SetTextStr(u"a\nb\nc");
        if (c->box != c->list) c->dropDown();  // the combo open
      }
      const std::vector<std::string> before = looks(combo.list);
      const int32_t layouts = combo.list->GetLayoutCount();
      change(combo.list->ItemByIndex(1));
      // The change shows, or the list laid its items out again at once (their sizes are its).
      ASSERT_TRUE(looks(combo.list) != before || combo.list->GetLayoutCount() > layouts) << "nothing changed";
      combo.lines->Add(u"d");
      fresh.lines->Add(u"d");
      const std::vector<std::string> seen = looks(combo.list), freshSeen = looks(fresh.list);
      const auto [a, b] = std::mismatch(seen.begin(), seen.end(), freshSeen.begin(), freshSeen.end());
      EXPECT_TRUE(a == seen.end() && b == freshSeen.end()) << (a != seen.end() ? *a : "") << " / " << (b != freshSeen.end() ? *b : "");
      for (TLinesCombo* c : {&combo, &fresh}) {
        if (c->box != c->list) c->dropDown();  // closes
        delete c->box;
      }
    }
  }
}

// A sorted list whose items took their style, which translated their texts, puts a line added
// where a list made afresh from the lines (and then styled) shows it; so it does when the change
// sorts the list whole (lines exchanged), and with a comparison of its own (which a list made
// afresh runs on its items before they are styled).
TEST_F(ListBoxTest, ALineAddedAmongTranslatedItemsOfASortedListStandsAsInAFreshList) {
  const TTranslationInForce translation([](const WideString& t) { return t == u"b" ? WideString(u"zz") : WideString(); });
  struct TBackwards {
    int32_t Compare(TvgListBoxItem* a, TvgListBoxItem* b) { return vgWideCompareText(b->GetText(), a->GetText()); }
  } backwards;
  const std::pair<const char*, std::function<void(TvgWideStrings*)>> changes[] = {
      {"add", [](TvgWideStrings* lines) { lines->Add(u"d"); }},
      {"exchange", [](TvgWideStrings* lines) { lines->Exchange(0, 2); }},
      {"add, compared backwards", [](TvgWideStrings* lines) { lines->Add(u"d"); }}};
  for (const auto& [name, change] : changes) {
    SCOPED_TRACE(name);
    const bool compare = std::string(name).find("backwards") != std::string::npos;
    const auto make = [&](float y) {
      auto* list = Add<TvgStringListBox>(10, y, 100, 100);
      list->SetSorted(true);
      if (compare) list->OnCompare = TOnCompareListBoxItemEvent::Of<&TBackwards::Compare>(&backwards);
      return list;
    };
    TvgStringListBox* list = make(10);
    list->GetItems()->SetTextStr(u"a\nb\nc");
    StyledTexts(list);
    change(list->GetItems());
    TvgStringListBox* fresh = make(130);
    fresh->GetItems()->Assign(list->GetItems());
    EXPECT_EQ(StyledTexts(list), StyledTexts(fresh));
    delete fresh;
    delete list;
  }
}

// A combo text box opened again with its list scrolled to the selected line keeps the bar's value
// and the scroll it remembers alike, so that a line then added, open or closed, is placed without
// the list laid out whole.
TEST_F(ListBoxTest, AComboTextBoxOpenedAgainFollowsALineWithoutAWholeLayout) {
  for (const bool open : {false, true}) {
    SCOPED_TRACE(open ? "open" : "closed");
    auto* box = Add<TvgComboTextBox>(10, 10, 100, 22);
    for (int i = 0; i < 20; ++i) box->GetItems()->Add(u"line " + std::u16string(1, static_cast<char16_t>(u'a' + i)));
    box->SetItemIndex(15);
    box->DropDown();  // scrolled to the line
    box->DropDown();
    box->DropDown();  // again
    if (!open) box->DropDown();
    TvgComboListBox* list = box->GetListBox();
    EXPECT_EQ(list->GetVScrollBar()->GetValue(), list->GetRememberedVScroll());
    const int32_t layouts = list->GetLayoutCount();
    box->GetItems()->Add(u"new");
    EXPECT_EQ(list->GetLayoutCount() - layouts, 0);
    if (open) box->DropDown();
    delete box;
  }
}

// A sorted string list box read back from a stream selects the line it selected. So does a
// sorted combo given its lines and index before its list was first laid out (at its first
// drop-down), in an update or not: the index counts the items as the list shows them, as in a
// list made afresh and then given its index.
TEST_F(ListBoxTest, ASortedStringListReadBackSelectsTheLineItSelected) {
  auto* list = Add<TvgStringListBox>(10, 10, 100, 100);
  list->SetSorted(true);
  list->GetItems()->SetTextStr(u"c\na\nb\ne\nd");
  list->SetItemIndex(3);
  ASSERT_EQ(list->GetSelected()->GetText(), u"d");
  std::unique_ptr<TvgObject> copy(RoundTrip(list));
  auto* back = dynamic_cast<TvgStringListBox*>(copy.get());
  ASSERT_NE(back, nullptr);
  back->ApplyResource();
  EXPECT_EQ(back->GetItemIndex(), 3);
  ASSERT_NE(back->GetSelected(), nullptr);
  EXPECT_EQ(back->GetSelected()->GetText(), u"d");
  for (const char* update : {"none", "the box's", "the list's"}) {
    SCOPED_TRACE(update);
    auto* combo = Add<TvgStringComboBox>(10, 120, 100, 22);
    TvgVisualObject* updated = update[0] == 'n' ? nullptr : update[4] == 'b' ? static_cast<TvgVisualObject*>(combo) : combo->GetListBox();
    combo->GetListBox()->SetSorted(true);
    if (updated != nullptr) updated->BeginUpdate();
    combo->GetItems()->SetTextStr(u"c\na\nb\ne\nd");
    combo->SetItemIndex(3);
    if (updated != nullptr) updated->EndUpdate();
    combo->DropDown();
    EXPECT_EQ(combo->GetItemIndex(), 3);
    ASSERT_NE(combo->GetListBox()->GetSelected(), nullptr);
    EXPECT_EQ(combo->GetListBox()->GetSelected()->GetText(), u"d");
    combo->DropDown();
    delete combo;
  }
}

// A horizontal string list box that needed its horizontal bar for more lines holds, once lines
// went, what a list made afresh from the lines left holds: no bar where that one needs none, and
// the items in as many rows. So does a vertical one whose item width makes its columns (with
// its bar, fewer columns of more rows).
TEST_F(ListBoxTest, AHorizontalStringListWithFewerLinesIsLaidOutAsAFreshOne) {
  struct TCase {
    TvgListStyle style;
    float itemWidth;
    int32_t lines, left;
  };
  for (const TCase& c : {TCase{vgListHorizontal, 40, 11, 9}, TCase{vgListVertical, 30, 16, 14}}) {
    SCOPED_TRACE(c.style == vgListHorizontal ? "horizontal" : "vertical");
    const auto make = [this, &c](float y, int32_t count) {
      auto* list = Add<TvgStringListBox>(10, y, 100, 100);
      list->SetListStyle(c.style);
      list->SetItemWidth(c.itemWidth);
      for (int32_t i = 0; i < count; ++i) list->GetItems()->Add(std::u16string(1, static_cast<char16_t>(u'a' + i)));
      return list;
    };
    TvgStringListBox* list = make(10, c.lines);
    TvgScrollBar* bar = c.style == vgListHorizontal ? list->GetHScrollBar() : list->GetVScrollBar();
    ASSERT_TRUE(bar->GetVisible());
    while (list->GetItems()->Count() > c.left) list->GetItems()->Delete(list->GetItems()->Count() - 1);
    TvgStringListBox* fresh = make(130, c.left);
    EXPECT_EQ(bar->GetVisible(), (c.style == vgListHorizontal ? fresh->GetHScrollBar() : fresh->GetVScrollBar())->GetVisible());
    for (int32_t i = 0; i < fresh->Count(); ++i)
      EXPECT_EQ(list->ItemByIndex(i)->GetParentedRect(), fresh->ItemByIndex(i)->GetParentedRect()) << i;
    delete fresh;
    delete list;
  }
}

// A line that takes the place of a styled item (the closed box styles the item it paints) shows
// as an item made afresh from it: translated once styled. Put anew, and moved there by a sort.
TEST_F(ListBoxTest, AComboLineInThePlaceOfAStyledItemIsTranslatedAsAFreshOne) {
  const TTranslationInForce translation([](const WideString& t) { return t == u"new" ? WideString(u"neu") : WideString(); });
  const std::pair<const char*, std::function<void(TvgWideStrings*)>> changes[] = {
      {"put", [](TvgWideStrings* lines) { lines->Put(1, u"new"); }},
      {"sort", [](TvgWideStrings* lines) { lines->Sort(); }}};
  for (const auto& [name, change] : changes) {
    auto* combo = Add<TvgStringComboBox>(10, 10, 100, 22);
    combo->GetItems()->SetTextStr(name[0] == 'p' ? u"a\nb\nc" : u"new\na\nz");
    combo->SetItemIndex(1);
    combo->GetListBox()->GetSelected()->ApplyResource();
    change(combo->GetItems());
    combo->GetListBox()->GetSelected()->ApplyResource();
    EXPECT_EQ(combo->GetListBox()->GetSelected()->GetText(), u"neu") << name;
  }
}

// A paint or a layout that raises leaves the combo box and the lists as they were: the closed
// box's selected item gets its size and opacity back; the guards of the drop-down's width, of a
// string list's rebuild and of a selection by range are put back, so that these work again.
TEST_F(ListBoxTest, ACombosItemAndTheListsGuardsComeBackFromARaise) {
  auto* combo = Add<TvgStringComboBox>(10, 10, 100, 22);
  combo->DropDown();
  combo->DropDown();
  for (const char16_t* line : {u"c", u"a", u"b"}) combo->GetItems()->Add(line);
  combo->SetItemIndex(1);
  combo->SetOpacity(0.5f);
  TvgListBoxItem* item = combo->GetListBox()->ItemByIndex(1);
  auto* part = new TRaisingProbe(nullptr);
  part->SetBounds(0, 0, 5, 5);
  part->SetParent(item);
  scene.canvas = &canvas;
  scene.paintRects = {vgRect(0, 0, 1000, 1000)};
  EXPECT_THROW(combo->PaintChildren(), std::runtime_error);
  scene.canvas = nullptr;
  EXPECT_FLOAT_EQ(item->GetHeight(), 19);
  EXPECT_FLOAT_EQ(item->GetOpacity(), 1);
  delete part;
  // Sorted lists whose comparison raises once.
  struct TCompare {
    bool raise = true;
    int32_t Compare(TvgListBoxItem* a, TvgListBoxItem* b) {
      if (raise) throw std::runtime_error("compare");
      return vgWideCompareText(a->GetText(), b->GetText());
    }
  } compare;
  const auto sorted = [&compare](TvgListBox* list) {
    list->SetSorted(true);
    list->OnCompare = TOnCompareListBoxItemEvent::Of<&TCompare::Compare>(&compare);
    compare.raise = true;
  };
  sorted(combo->GetListBox());
  EXPECT_THROW(combo->SetWidth(150), std::runtime_error);
  compare.raise = false;
  combo->SetWidth(200);
  EXPECT_FLOAT_EQ(combo->GetPopup()->GetWidth(), 200);
  auto* strings = Add<TvgStringListBox>(10, 40, 100, 100);
  strings->GetItems()->Add(u"b");
  sorted(strings);
  EXPECT_THROW(strings->GetItems()->Add(u"a"), std::runtime_error);
  compare.raise = false;
  strings->GetItems()->Add(u"c");
  EXPECT_EQ(strings->Count(), 3);
  // A selection by range whose change event raises.
  TvgListBox* list = List(3);
  list->SetHideSelectionUnfocused(false);
  struct TRaise {
    void Change(TObject*) { throw std::runtime_error("change"); }
  } raise;
  list->OnChange = TNotifyEvent::Of<&TRaise::Change>(&raise);
  EXPECT_THROW(list->SelectRange(list->ItemByIndex(0), list->ItemByIndex(1)), std::runtime_error);
  list->OnChange = nullptr;
  list->SetItemIndex(2);
  EXPECT_EQ(VisibleMarkers(list), 1);
  for (TvgListBox* l : {static_cast<TvgListBox*>(combo->GetListBox()), static_cast<TvgListBox*>(strings)}) l->OnCompare = nullptr;
}

TEST_F(ListBoxTest, AReleaseOnAnItemChoosesItAndElsewhereCancels) {
  auto* combo = Add<TvgStringComboBox>(10, 10, 100, 22);
  combo->OnChange = changes.Event();
  for (const char16_t* text : {u"red", u"green", u"blue"}) combo->GetItems()->Add(text);
  combo->MouseDown(mbLeft, TShiftState{ssLeft}, 50, 10);  // a press drops the list down
  ASSERT_TRUE(combo->GetPopup()->GetIsOpen());
  TvgComboListBox* list = combo->GetListBox();
  TvgListBoxItem* green = list->ItemByIndex(1);
  const TvgPoint p = list->AbsoluteToLocal(green->LocalToAbsolute(vgPoint(5, 5)));
  list->MouseDown(mbLeft, TShiftState{ssLeft}, p.X, p.Y);
  list->MouseUp(mbLeft, TShiftState{}, p.X, p.Y);
  EXPECT_FALSE(combo->GetPopup()->GetIsOpen());
  EXPECT_EQ(combo->GetItemIndex(), 1);
  EXPECT_EQ(combo->GetData().ToWideString(), u"green");
  const int before = changes.count;
  combo->DropDown();
  list->MouseDown(mbLeft, TShiftState{ssLeft}, 20, 140);  // below the three items
  list->MouseUp(mbLeft, TShiftState{}, 20, 140);
  EXPECT_FALSE(combo->GetPopup()->GetIsOpen());
  EXPECT_EQ(combo->GetItemIndex(), 1);
  EXPECT_EQ(changes.count, before);
}

TEST_F(ListBoxTest, WheelAndKeysMoveTheComboSelection) {
  auto* combo = Add<TvgStringComboBox>(10, 10, 100, 22);
  for (const char16_t* text : {u"one", u"two", u"three"}) combo->GetItems()->Add(text);
  combo->SetItemIndex(2);
  bool handled = false;
  combo->MouseWheel(TShiftState{}, -120, handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(combo->GetItemIndex(), 2);
  combo->MouseWheel(TShiftState{}, 120, handled);
  EXPECT_EQ(combo->GetItemIndex(), 1);
  Key(combo, kVkHome);
  EXPECT_EQ(combo->GetItemIndex(), 0);
  Char(combo, u'T');
  EXPECT_EQ(combo->GetItemIndex(), 1);
  Key(combo, kVkEnd);
  EXPECT_EQ(combo->GetItemIndex(), 2);
}

TEST_F(ListBoxTest, NewItemsKeepTheComboIndexWhileItIsValid) {
  auto* combo = Add<TvgStringComboBox>(10, 10, 100, 22);
  for (const char16_t* text : {u"a", u"b", u"c", u"d"}) combo->GetItems()->Add(text);
  combo->SetItemIndex(1);
  combo->GetItems()->Add(u"e");
  EXPECT_EQ(combo->GetItemIndex(), 1);
  combo->SetItemIndex(4);
  combo->GetItems()->Delete(4);
  EXPECT_EQ(combo->GetItemIndex(), 3);
  combo->GetItems()->Clear();
  EXPECT_EQ(combo->GetItemIndex(), -1);
  // In a sorted list too, and when the lines change inside an update (of the box or of the
  // list): the number stays, on the item the sort at the update's end puts there.
  for (const char* how : {"no update", "the box's update", "the list's update"}) {
    SCOPED_TRACE(how);
    auto* sorted = Add<TvgStringComboBox>(10, 40, 100, 22);
    sorted->DropDown();  // opened and closed: the list has its style and lays out
    sorted->DropDown();
    sorted->GetItems()->SetTextStr(u"b\nc");
    sorted->GetListBox()->SetSorted(true);
    sorted->SetItemIndex(0);
    TvgControl* updated = how[4] == 'b' ? static_cast<TvgControl*>(sorted) : how[4] == 'l' ? sorted->GetListBox() : nullptr;
    if (updated != nullptr) updated->BeginUpdate();
    sorted->GetItems()->Add(u"a");
    if (updated != nullptr) updated->EndUpdate();
    EXPECT_EQ(sorted->GetItemIndex(), 0);
    ASSERT_NE(sorted->GetListBox()->GetSelected(), nullptr);
    EXPECT_EQ(sorted->GetListBox()->GetSelected()->GetText(), u"a");
    EXPECT_FALSE(sorted->GetListBox()->ItemByIndex(1)->GetIsSelected());
    delete sorted;
  }
}

// A string list's ItemIndex left past its last line by a change to the lines is lowered to the
// last line (-1 when none is left), as a combo's is, and names the line a program reads: lines
// deleted before it or at it, one by one, in a batch of the lines and inside the list's update.
TEST_F(ListBoxTest, AStringListIndexPastItsLastLineIsLoweredToIt) {
  struct TCase {
    const char* name;
    int32_t index;
    std::function<void(TvgStringListBox*, TvgWideStrings*)> change;
  };
  const std::vector<TCase> cases = {
      {"the first line deleted", 39, [](TvgStringListBox*, TvgWideStrings* l) { l->Delete(0); }},
      {"the selected last line deleted", 39, [](TvgStringListBox*, TvgWideStrings* l) { l->Delete(39); }},
      {"a line before it deleted, the index still on the lines", 20,
       [](TvgStringListBox*, TvgWideStrings* l) { l->Delete(0); }},
      {"lines deleted in a batch", 38, [](TvgStringListBox*, TvgWideStrings* l) {
         l->BeginUpdate();
         for (int i = 0; i < 3; ++i) l->Delete(0);
         l->EndUpdate();
       }},
      {"lines deleted inside the list's update", 39, [](TvgStringListBox* list, TvgWideStrings* l) {
         list->BeginUpdate();
         l->Delete(0);
         l->Delete(0);
         list->EndUpdate();
       }},
      {"every line deleted", 39, [](TvgStringListBox*, TvgWideStrings* l) { l->Clear(); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto* list = Add<TvgStringListBox>(10, 10, 100, 100);
    TvgWideStrings* lines = list->GetItems();
    for (int i = 0; i < 40; ++i)
      lines->Add(u"line " + std::u16string{static_cast<char16_t>(u'0' + i / 10), static_cast<char16_t>(u'0' + i % 10)});
    list->SetItemIndex(c.index);
    c.change(list, lines);
    const int32_t count = lines->Count();
    EXPECT_EQ(list->GetItemIndex(), std::min(c.index, count - 1));
    Key(list, kVkNext);
    const int32_t index = list->GetItemIndex();
    EXPECT_LT(index, count);
    if (index < 0) {
      delete list;
      continue;
    }
    EXPECT_EQ(list->GetData().ToWideString(), lines->Get(index));
    ASSERT_NE(list->GetSelected(), nullptr);
    EXPECT_TRUE(list->GetSelected()->GetIsSelected());
    delete list;
  }
}

TEST_F(ListBoxTest, AStringListReFontsItsItemsWithoutRebuilding) {
  auto* list = Add<TvgStringListBox>(10, 10, 100, 100);
  list->GetItems()->Add(u"x");
  list->GetItems()->Add(u"y");
  list->SetItemIndex(1);
  EXPECT_EQ(list->GetData().ToWideString(), u"y");
  TvgListBoxItem* item = list->ItemByIndex(0);
  list->GetFont()->SetSize(20);
  EXPECT_EQ(list->ItemByIndex(0), item);
  EXPECT_EQ(item->GetFont()->GetSize(), 20);
  EXPECT_EQ(item->GetHeight(), 19);
  list->SetData(Variant(WideString(u"z")));
  EXPECT_EQ(list->ItemByIndex(1)->GetText(), u"z");
}

TEST_F(ListBoxTest, ComboItemsStreamAsChildrenOfTheComboBox) {
  for (const char* name : {"TvgListBox", "TvgComboBox", "TvgStringListBox", "TvgStringComboBox", "TvgHorzListBox",
                           "TvgListBoxItem", "TvgHudListBox", "TvgHudHorzListBox", "TvgHudComboBox",
                           "TvgHudStringListBox", "TvgHudStringComboBox"})
    EXPECT_NE(GetClass(name), nullptr) << name;
  auto* combo = Add<TvgComboBox>();
  for (const char16_t* text : {u"first", u"second"}) {
    auto* item = new TvgListBoxItem(combo);
    item->SetText(text);
    item->SetParent(combo);
  }
  std::unique_ptr<TvgObject> copy(RoundTrip(combo));
  auto* back = dynamic_cast<TvgComboBox*>(copy.get());
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->GetCount(), 2);
  EXPECT_EQ(back->GetListBox()->ItemByIndex(1)->GetText(), u"second");
}


// Items kept across a change of the lines stand in the tab order where a list made afresh from
// the lines puts them: in the lines' order.
TEST_F(ListBoxTest, ItemsKeptAcrossALineChangeHaveTheTabOrderOfAFreshList) {
  const std::pair<const char*, std::function<void(TvgWideStrings*)>> changes[] = {
      {"insert at the front", [](TvgWideStrings* lines) { lines->Insert(0, u"z"); }},
      {"exchange", [](TvgWideStrings* lines) { lines->Exchange(0, 2); }},
      {"put", [](TvgWideStrings* lines) { lines->Put(0, u"z"); }}};
  for (const auto& [name, change] : changes) {
    auto* list = Add<TvgStringListBox>(10, 10, 100, 100);
    list->GetItems()->SetTextStr(u"a\nb\nc");
    change(list->GetItems());
    auto* fresh = Add<TvgStringListBox>(10, 130, 100, 100);
    fresh->GetItems()->Assign(list->GetItems());
    for (int32_t i = 0; i < fresh->Count(); ++i)
      EXPECT_EQ(list->ItemByIndex(i)->GetTabOrder(), fresh->ItemByIndex(i)->GetTabOrder()) << name << ", item " << i;
    delete fresh;
    delete list;
  }
}

// Items styled under one translation, then a line added under another: the list shows what a
// list made afresh from the lines shows once styled, every text in the translation now in force.
TEST_F(ListBoxTest, ALineChangeAfterTheTranslationChangedShowsTheTextsOfAFreshList) {
  const TTranslationInForce restore;
  vgTranslation().Translate = [](const WideString& t) { return t == u"b" ? WideString(u"bee") : WideString(); };
  auto* list = Add<TvgStringListBox>(10, 10, 100, 100);
  list->GetItems()->SetTextStr(u"a\nb\nc");
  StyledTexts(list);
  vgTranslation().Translate = [](const WideString& t) { return t == u"a" ? WideString(u"ay") : WideString(); };
  list->GetItems()->Add(u"d");
  ExpectShownAsAFreshList(list);
  delete list;
}

// A list whose rows or columns fill its viewport, scrolled along its bar, keeps that scroll
// through a layout that leaves the bar needed (as a vertical list keeps its own): bar, content
// and remembered scroll where they were.
TEST_F(ListBoxTest, AListFilledToItsViewportKeepsItsScrollThroughALayout) {
  struct TCase {
    const char* name;
    TvgListStyle style;
    float itemWidth;
  };
  for (const TCase& c : {TCase{"horizontal", vgListHorizontal, 40}, TCase{"vertical, items wider than it", vgListVertical, 160}}) {
    SCOPED_TRACE(c.name);
    auto* list = Add<TvgStringListBox>(10, 10, 100, 100);
    list->SetListStyle(c.style);
    list->SetItemWidth(c.itemWidth);
    for (int32_t i = 0; i < 30; ++i) list->GetItems()->Add(std::u16string(1, static_cast<char16_t>(u'a' + i)));
    TvgScrollBar* bar = list->GetHScrollBar();
    ASSERT_TRUE(bar->GetVisible());
    bar->SetValue(30);
    const TvgRect content = list->GetContent()->GetParentedRect();
    list->Realign();
    EXPECT_EQ(bar->GetValue(), 30);
    EXPECT_EQ(list->GetRememberedHScroll(), 30);
    EXPECT_EQ(list->GetContent()->GetParentedRect(), content);
    delete list;
  }
}

// An item height changed while the drop-down is open leaves the box as it was: no focus taken
// back and given up again (with their events), its text's selection kept.
TEST_F(ListBoxTest, AnItemHeightChangedWithTheDropDownOpenLeavesTheBoxsFocusAlone) {
  auto* box = Add<TvgComboTextBox>(10, 10, 100, 22);
  box->GetItems()->SetTextStr(u"one\ntwo\nthree");
  box->SetItemIndex(1);
  box->SetFocus();
  TCounter enter, kill;
  box->OnEnterFocus = enter.Event();
  box->OnKillFocus = kill.Event();
  box->DropDown();
  box->SetSelStart(1);
  box->SetSelLength(1);
  const int32_t entered = enter.count, left = kill.count;
  box->SetItemHeight(25);
  EXPECT_TRUE(box->GetPopup()->GetIsOpen());
  EXPECT_EQ(enter.count, entered);
  EXPECT_EQ(kill.count, left);
  EXPECT_EQ(box->GetSelLength(), 1);
  box->DropDown();
  delete box;
}

// A list with another child whose tab the program moved after the items: a line put anew leaves
// the items' tabs in the lines' order, as in a list made afresh.
TEST_F(ListBoxTest, ALinePutAfterAnotherChildsTabMovedKeepsTheItemsTabsInLineOrder) {
  auto* list = Add<TvgStringListBox>(10, 10, 100, 100);
  auto* other = new TvgRectangle(list);
  other->SetParent(list);
  list->GetItems()->SetTextStr(u"a\nb\nc");
  other->SetTabOrder(3);  // after the items
  list->GetItems()->Put(0, u"z");
  std::vector<std::u16string> tabbed;
  for (TvgVisualObject* tab : list->GetContent()->TabList())
    if (auto* item = dynamic_cast<TvgListBoxItem*>(tab)) tabbed.push_back(item->GetText());
  EXPECT_EQ(tabbed, (std::vector<std::u16string>{u"z", u"b", u"c"}));
  delete list;
}

// Lines sorted under a translation that gives one line the text of another: each item shows its
// own line's translation, as in a list made afresh.
TEST_F(ListBoxTest, LinesSortedUnderATranslationShowTheTextsOfAFreshList) {
  const TTranslationInForce restore;
  vgTranslation().Translate = [](const WideString& t) {
    return t == u"x" ? WideString(u"y") : t == u"y" ? WideString(u"w") : WideString();
  };
  auto* list = Add<TvgStringListBox>(10, 10, 100, 100);
  list->GetItems()->SetTextStr(u"y\nx");
  StyledTexts(list);
  list->GetItems()->Sort();
  ExpectShownAsAFreshList(list);
  delete list;
}

// A line added to a list of styled items under a translation costs the item it makes, not a
// translation of every item the list keeps.
TEST_F(ListBoxTest, ALineAddedUnderATranslationTranslatesOnlyWhatItMakes) {
  static int32_t asked = 0;
  const TTranslationInForce restore;
  vgTranslation().Translate = [](const WideString& t) {
    ++asked;
    return t == u"b" ? WideString(u"bee") : WideString();
  };
  auto* list = Add<TvgStringListBox>(10, 10, 100, 100);
  for (int32_t i = 0; i < 200; ++i) list->GetItems()->Add(u"b");
  for (int32_t i = 0; i < list->Count(); ++i) list->ItemByIndex(i)->ApplyResource();
  asked = 0;
  list->GetItems()->Add(u"c");
  list->ItemByIndex(list->Count() - 1)->ApplyResource();
  EXPECT_LE(asked, 4);
  delete list;
}

// Items styled under one translation, then the lines changed under another: each kept item asks
// the translation at most once as it is styled again, as an item of a list made afresh asks it
// (told through the Translate function, and through the texts a Language list collects).
TEST_F(ListBoxTest, KeptItemsStyledAgainUnderAnotherTranslationAskItNoMoreThanAFreshList) {
  static int32_t asked = 0;
  const TTranslationInForce restore;
  TvgWideStringList language, collected;
  struct TLanguageOff {
    ~TLanguageOff() {
      vgTranslation().Language = nullptr;
      vgTranslation().Collect = nullptr;
    }
  } languageOff;
  const std::pair<const char*, std::function<void(const char16_t*)>> ways[] = {
      {"Translate", [](const char16_t* b) {
         vgTranslation().Translate = [b](const WideString& t) {
           ++asked;
           return t == u"b" ? WideString(b) : WideString();
         };
       }},
      {"Language", [&](const char16_t* b) {
         vgTranslation().Translate = nullptr;
         vgTranslation().Language = &language;
         vgTranslation().Collect = &collected;
         language.SetTextStr(WideString(u"b=") + b);
       }}};
  for (const auto& [name, translateBAs] : ways) {
    SCOPED_TRACE(name);
    const auto asks = [&] { return asked + collected.Count(); };
    translateBAs(u"bee");
    auto* list = Add<TvgStringListBox>(10, 10, 100, 400);
    for (int32_t i = 0; i < 10; ++i) list->GetItems()->Add(u"b");
    StyledTexts(list);
    translateBAs(u"bay");
    int32_t before = asks();
    list->GetItems()->Add(u"c");
    const std::vector<std::u16string> shown = StyledTexts(list);
    const int32_t keptAsks = asks() - before;
    auto* fresh = Add<TvgStringListBox>(120, 10, 100, 400);
    fresh->GetItems()->Assign(list->GetItems());
    before = asks();
    EXPECT_EQ(shown, StyledTexts(fresh));
    EXPECT_LE(keptAsks, asks() - before);
    delete fresh;
    delete list;
    vgTranslation().Language = nullptr;
    vgTranslation().Collect = nullptr;
  }
}

// A kept item the program gave a text of its own after a line change shows that text, as an item
// of a list made afresh from the lines, styled, and then given the same text shows it: the same
// translation in force throughout, the item owes nothing to translate anew.
TEST_F(ListBoxTest, AKeptItemGivenATextAfterALineChangeShowsItAsOneOfAFreshList) {
  const TTranslationInForce translation([](const WideString& t) { return t == u"x" ? WideString(u"ex") : WideString(); });
  auto* list = Add<TvgStringListBox>(10, 10, 100, 100);
  list->GetItems()->SetTextStr(u"a\nb\nc");
  StyledTexts(list);
  list->GetItems()->Add(u"d");
  list->ItemByIndex(0)->SetText(u"x");
  auto* fresh = Add<TvgStringListBox>(120, 10, 100, 100);
  fresh->GetItems()->Assign(list->GetItems());
  StyledTexts(fresh);
  fresh->ItemByIndex(0)->SetText(u"x");
  EXPECT_EQ(StyledTexts(list), StyledTexts(fresh));
  delete fresh;
  delete list;
}

// A closed string combo box painted under one translation, then a line added under another: the
// box, whose paint now shows its selected item as a combo made afresh from the lines shows it,
// is asked to repaint when that is another text than it painted.
TEST_F(ListBoxTest, AClosedComboWhoseItemPaintsAnotherTranslationAfterALineChangeIsRepainted) {
  const TTranslationInForce restore;
  const auto translateBAs = [](const char16_t* b) {
    vgTranslation().Translate = [b](const WideString& t) { return t == u"b" ? WideString(b) : WideString(); };
  };
  const auto make = [this] {
    auto* box = Add<TvgStringComboBox>(10, 10, 100, 22);
    box->GetItems()->SetTextStr(u"a\nb\nc");
    box->SetItemIndex(1);
    return box;
  };
  translateBAs(u"bee");
  TvgStringComboBox* box = make();
  TvgListBoxItem* item = box->GetListBox()->GetSelected();
  ASSERT_NE(item, nullptr);
  item->ApplyResource();  // as the closed box paints it
  const std::u16string painted = item->GetText();
  translateBAs(u"bay");
  scene.updates.clear();
  box->GetItems()->Add(u"d");
  bool repainted = false;
  for (const TvgRect& r : scene.updates) repainted = repainted || vgIntersectsRect(r, box->GetAbsoluteRect());
  ASSERT_EQ(box->GetListBox()->GetSelected(), item);
  item->ApplyResource();
  TvgStringComboBox* fresh = make();
  fresh->GetItems()->Assign(box->GetItems());
  fresh->GetListBox()->GetSelected()->ApplyResource();
  EXPECT_EQ(item->GetText(), fresh->GetListBox()->GetSelected()->GetText());
  EXPECT_TRUE(repainted || item->GetText() == painted);
  delete fresh;
  delete box;
}

// Random changes to the lines, alone and in batches, of a list with another child whose tab the
// program moves among the items' tabs: the items' tabs stand in the lines' order after each, as
// in a list made afresh from the lines; sorted or not.
TEST_F(ListBoxTest, RandomLineChangesKeepTheItemsTabsInTheLinesOrder) {
  std::mt19937 random(7);
  const auto pick = [&random](int32_t n) { return static_cast<int32_t>(random() % static_cast<uint32_t>(n)); };
  for (const bool sorted : {false, true}) {
    SCOPED_TRACE(sorted ? "sorted" : "unsorted");
    auto* list = Add<TvgStringListBox>(10, 10, 100, 100);
    list->SetSorted(sorted);
    auto* other = new TvgRectangle(list);
    other->SetParent(list);
    TvgWideStrings* lines = list->GetItems();
    int32_t made = 0;
    const auto fresh = [&made] {
      const int32_t n = made++;
      std::u16string text(1, static_cast<char16_t>(u'a' + n % 26));
      text.append(static_cast<size_t>(n / 26), u'z');
      return text;
    };
    for (int32_t i = 0; i < 6; ++i) lines->Add(fresh());
    std::string done;
    // The changes made so far, for the message.
    const auto note = [&done](const char* what, int32_t a, int32_t b = -1) {
      done += ' ';
      done += what;
      done += ' ';
      done += std::to_string(a);
      if (b < 0) return;
      done += ',';
      done += std::to_string(b);
    };
    for (int32_t step = 0; step < 300; ++step) {
      const int32_t batch = pick(4) == 0 ? 1 + pick(4) : 1;
      if (batch > 1) lines->BeginUpdate();
      for (int32_t b = 0; b < batch; ++b) {
        const int32_t count = lines->Count();
        switch (count == 0 ? 0 : pick(6)) {
          case 0: {
            const int32_t at = pick(count + 1);
            lines->Insert(at, fresh());
            note("insert", at);
            break;
          }
          case 1:
            if (count > 3) {
              const int32_t at = pick(count);
              lines->Delete(at);
              note("delete", at);
            }
            break;
          case 2: {
            const int32_t at = pick(count);
            lines->Put(at, fresh());
            note("put", at);
            break;
          }
          case 3: {
            const int32_t x = pick(count), y = pick(count);
            lines->Exchange(x, y);
            note("exchange", x, y);
            break;
          }
          case 4: {
            const int32_t x = pick(count), y = pick(count);
            lines->Move(x, y);
            note("move", x, y);
            break;
          }
          default: {
            const int32_t at = pick(static_cast<int32_t>(list->GetContent()->TabList().size()));
            other->SetTabOrder(at);
            note("other's tab", at);
            break;
          }
        }
      }
      if (batch > 1) lines->EndUpdate();
      std::vector<std::u16string> tabbed, expected;
      for (TvgVisualObject* tab : list->GetContent()->TabList())
        if (auto* item = dynamic_cast<TvgListBoxItem*>(tab)) tabbed.push_back(item->GetText());
      for (int32_t i = 0; i < lines->Count(); ++i) expected.push_back(lines->Get(i));
      ASSERT_EQ(tabbed, expected) << done;
    }
    delete list;
  }
}

// Random changes to the lines of string lists (unsorted, sorted, sorted by a comparison of the
// shown texts) under translations switched now and then (none, functions that give lines each
// other's texts, a Language list), with some items painted between: once styled, the list shows
// the texts, in the order, of a list made afresh from the lines.
TEST_F(ListBoxTest, RandomLineAndTranslationChangesShowWhatAFreshListShows) {
  const TTranslationInForce restore;
  TvgWideStringList language;
  language.SetTextStr(u"e=a\na=e");
  struct TLanguageOff {
    ~TLanguageOff() { vgTranslation().Language = nullptr; }
  } languageOff;
  const std::function<void()> translations[] = {
      [] { vgTranslation().Translate = nullptr; },
      [] { vgTranslation().Translate = [](const WideString& t) { return t == u"a" ? WideString(u"b") : t == u"b" ? WideString(u"c") : WideString(); }; },
      [] { vgTranslation().Translate = [](const WideString& t) { return t == u"c" ? WideString(u"a") : t == u"d" ? WideString(u"dd") : WideString(); }; },
      [&language] {
        vgTranslation().Translate = nullptr;
        vgTranslation().Language = &language;
      }};
  struct TBackwards {
    int32_t Compare(TvgListBoxItem* a, TvgListBoxItem* b) { return vgWideCompareText(b->GetText(), a->GetText()); }
  } backwards;
  std::mt19937 random(11);
  const auto pick = [&random](int32_t n) { return static_cast<int32_t>(random() % static_cast<uint32_t>(n)); };
  const auto line = [&pick] { return std::u16string(1, static_cast<char16_t>(u'a' + pick(5))); };
  for (int32_t kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind == 0 ? "unsorted" : kind == 1 ? "sorted" : "sorted backwards by shown text");
    const auto make = [&](float x) {
      auto* l = Add<TvgStringListBox>(x, 10, 100, 400);
      l->SetSorted(kind > 0);
      if (kind == 2) l->OnCompare = TOnCompareListBoxItemEvent::Of<&TBackwards::Compare>(&backwards);
      return l;
    };
    TvgStringListBox* list = make(10);
    TvgWideStrings* lines = list->GetItems();
    for (int32_t i = 0; i < 5; ++i) lines->Add(line());
    std::string done;
    // The changes made so far, for the message.
    const auto note = [&done](const char* what, int32_t a, int32_t b = -1) {
      done += ' ';
      done += what;
      done += ' ';
      done += std::to_string(a);
      if (b < 0) return;
      done += ',';
      done += std::to_string(b);
    };
    // A translation switched since the lines last changed: nothing for the list to follow yet.
    bool owed = false;
    for (int32_t step = 0; step < 200; ++step) {
      const WideString before = lines->GetTextStr();
      if (pick(3) == 0) {
        const int32_t t = pick(4);
        vgTranslation().Language = nullptr;
        translations[t]();
        note("translation", t);
        owed = true;
      }
      const int32_t count = lines->Count();
      switch (count == 0 ? 0 : pick(6)) {
        case 0: lines->Insert(pick(count + 1), line()); done += " insert"; break;
        case 1: if (count > 2) lines->Delete(pick(count)); done += " delete"; break;
        case 2: lines->Put(pick(count), line()); done += " put"; break;
        case 3: lines->Exchange(pick(count), pick(count)); done += " exchange"; break;
        case 4: lines->Sort(); done += " sort"; break;
        default: lines->Move(pick(count), pick(count)); done += " move"; break;
      }
      if (lines->GetTextStr() != before) owed = false;
      // Some painted.
      for (int32_t i = 0; i < list->Count(); ++i)
        if (pick(2) == 0) list->ItemByIndex(i)->ApplyResource();
      if (owed || pick(4) != 0) continue;
      TvgStringListBox* fresh = make(120);
      fresh->GetItems()->Assign(lines);
      ASSERT_EQ(StyledTexts(list), StyledTexts(fresh)) << done;
      delete fresh;
    }
    delete list;
  }
}

// A text the program gives a kept item as the item takes its style (its OnApplyResource) stays
// shown after a line change, as on the item of a list made afresh given it the same way: the
// check of the item's translation does not put the line's text back over it.
TEST_F(ListBoxTest, ATextGivenAsAKeptItemTookItsStyleStaysShownAfterALineChange) {
  const TTranslationInForce translation([](const WideString& t) { return t == u"b" ? WideString(u"bee") : WideString(); });
  struct TGivesItsOwn {
    void Apply(TObject* sender) { static_cast<TvgListBoxItem*>(sender)->SetText(u"own"); }
  } givesItsOwn;
  const auto make = [&](float x) {
    auto* l = Add<TvgStringListBox>(x, 10, 100, 100);
    l->GetItems()->SetTextStr(u"a\nb\nc");
    for (int32_t i = 0; i < l->Count(); ++i)
      l->ItemByIndex(i)->OnApplyResource = TNotifyEvent::Of<&TGivesItsOwn::Apply>(&givesItsOwn);
    return l;
  };
  TvgStringListBox* list = make(10);
  StyledTexts(list);
  list->GetItems()->Add(u"d");
  const std::vector<std::u16string> shown = StyledTexts(list);
  TvgStringListBox* fresh = make(120);
  fresh->GetItems()->Add(u"d");
  EXPECT_EQ(shown, StyledTexts(fresh));
  delete fresh;
  delete list;
}

// A combo's list sorted by a comparison of the shown texts, styled with no translation in force,
// then a line added under a translation (inside an update of the list, or dropped down after):
// dropped down, it lists the texts, in the order, of a combo made afresh from the lines.
TEST_F(ListBoxTest, AComboSortedByShownTextsListsAsAFreshOneAfterALineChangeUnderATranslation) {
  const TTranslationInForce restore;
  struct TByShownText {
    int32_t Compare(TvgListBoxItem* a, TvgListBoxItem* b) { return vgWideCompareText(a->GetText(), b->GetText()); }
  } byShownText;
  const auto make = [&](float x) {
    auto* box = Add<TvgStringComboBox>(x, 10, 100, 22);
    box->GetListBox()->SetSorted(true);
    box->GetListBox()->OnCompare = TOnCompareListBoxItemEvent::Of<&TByShownText::Compare>(&byShownText);
    box->GetItems()->SetTextStr(u"a\nb\nc");
    box->SetItemIndex(0);
    return box;
  };
  const auto shown = [](TvgStringComboBox* box) {
    box->DropDown();
    const std::vector<std::u16string> texts = StyledTexts(box->GetListBox());
    box->DropDown();  // closes
    return texts;
  };
  for (const bool inUpdate : {true, false}) {
    SCOPED_TRACE(inUpdate ? "inside an update" : "outside an update");
    vgTranslation().Translate = nullptr;
    TvgStringComboBox* box = make(10);
    shown(box);
    vgTranslation().Translate = [](const WideString& t) { return t == u"a" ? WideString(u"z") : WideString(); };
    if (inUpdate) box->GetListBox()->BeginUpdate();
    box->GetItems()->Add(u"d");
    if (inUpdate) box->GetListBox()->EndUpdate();
    TvgStringComboBox* fresh = make(120);
    fresh->GetItems()->Assign(box->GetItems());
    EXPECT_EQ(shown(box), shown(fresh));
    delete fresh;
    delete box;
  }
}

// Items styled under one translation, then a line added under another, then the style taken
// anew (as a change of the scene's style makes every control take it): each kept item shows what
// the item of a list made afresh from the lines shows once styled, and asks the translation no
// more often.
TEST_F(ListBoxTest, KeptItemsStyledAnewAfterALineChangeUnderAnotherTranslationShowWhatAFreshListShows) {
  static int32_t asked = 0;
  const TTranslationInForce restore;
  vgTranslation().Translate = [](const WideString& t) { return t == u"a" ? WideString(u"x") : WideString(); };
  auto* list = Add<TvgStringListBox>(10, 10, 100, 100);
  list->GetItems()->SetTextStr(u"a\nb\nc");
  StyledTexts(list);
  // Not a translation of its own output: a text translated twice shows another one.
  vgTranslation().Translate = [](const WideString& t) {
    ++asked;
    return t == u"a" ? WideString(u"b") : t == u"b" ? WideString(u"c") : WideString();
  };
  list->GetItems()->Add(u"d");
  asked = 0;
  list->UpdateStyle();
  const int32_t keptAsks = asked;
  const std::vector<std::u16string> shown = StyledTexts(list);
  auto* fresh = Add<TvgStringListBox>(120, 10, 100, 100);
  fresh->GetItems()->Assign(list->GetItems());
  asked = 0;
  fresh->UpdateStyle();
  EXPECT_EQ(shown, StyledTexts(fresh));
  EXPECT_LE(keptAsks, asked);
  delete fresh;
  delete list;
}

// The selected item is checked as the lines change; the translation is then switched before the
// item is styled again (painted, or the scene's style taken anew): the item shows what the item
// of a list made afresh from the lines shows under the translation in force, as its neighbours
// do, not an answer of the translation switched from.
TEST_F(ListBoxTest, TheSelectedItemStyledAfterASwitchFollowingALineChangeShowsWhatAFreshListShows) {
  const TTranslationInForce restore;
  using TTranslate = std::function<WideString(const WideString&)>;
  const auto bAs = [](const char16_t* b) -> TTranslate {
    return [b](const WideString& t) { return t == u"b" ? WideString(b) : WideString(); };
  };
  struct TCase {
    const char* name;
    TTranslate atChange, atStyling;
    bool styledAnew;
  };
  const TCase cases[] = {
      {"found unchanged, switched, style taken anew", bAs(u"b1"), bAs(u"b2"), true},
      {"found changed, switched back, painted", bAs(u"b2"), bAs(u"b1"), false},
      {"found changed, switched to a third, painted", bAs(u"b2"), bAs(u"b3"), false},
      {"found changed, switched to none, painted", bAs(u"b2"), nullptr, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto make = [&](float x) {
      auto* l = Add<TvgStringListBox>(x, 10, 100, 100);
      l->GetItems()->SetTextStr(u"a\nb\nc");
      l->SetItemIndex(1);
      return l;
    };
    vgTranslation().Translate = bAs(u"b1");
    TvgStringListBox* list = make(10);
    StyledTexts(list);
    vgTranslation().Translate = c.atChange;
    list->GetItems()->Add(u"d");
    vgTranslation().Translate = c.atStyling;
    TvgStringListBox* fresh = make(120);
    fresh->GetItems()->Add(u"d");
    if (c.styledAnew) {
      list->UpdateStyle();
      fresh->UpdateStyle();
    }
    EXPECT_EQ(StyledTexts(list), StyledTexts(fresh));
    delete fresh;
    delete list;
  }
}

}  // namespace
