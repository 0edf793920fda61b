// Probes of a reader who wrote none of this round's scene mends, along the paths next to them:
// each fails on the code as it stands and passes once the rule it names holds.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "WidgetsTestSupport.h"
#include "scene/controls/vg_layouts.h"
#include "scene/core/vg_registry.h"
#include "scene/widgets/vg_grid.h"
#include "scene/widgets/vg_listbox.h"
#include "scene/widgets/vg_tabcontrol.h"
#include "scene/widgets/vg_textbox.h"
#include "scene/widgets/vg_treeview.h"

namespace {

class AttackProbesTest : public WidgetsFixture {
 protected:
  TvgTabControl* Tabs(int count) {
    auto* tabs = Add<TvgTabControl>(0, 0, 200, 200);
    for (int i = 0; i < count; ++i) {
      auto* item = new TvgTabItem(tabs);
      item->SetParent(tabs);
      auto* page = new TvgLayout(tabs);
      page->SetParent(tabs);
      item->SetLayout(page);
    }
    return tabs;
  }
  static TvgTabItem* Tab(TvgTabControl* tabs, int n) {
    for (TvgObject* c : tabs->Children())
      if (auto* item = dynamic_cast<TvgTabItem*>(c); item != nullptr && n-- == 0) return item;
    return nullptr;
  }
};

// --- Updates left open

// Rule: a layout put off during an update runs once when it ends, wherever the object then lies.
// A subtree taken out of the update and lying apart when the update ends is not laid out (its
// list's items stay at the unplaced position) until it is put somewhere again.
TEST_F(AttackProbesTest, ASubtreeApartWhenTheUpdateEndsIsLaidOut) {
  auto* p = Add<TvgLayout>(0, 0, 300, 300);
  auto* r = new TvgLayout(nullptr);
  r->SetBounds(0, 0, 200, 200);
  r->SetParent(p);
  auto* list = new TvgListBox(nullptr);
  list->SetBounds(0, 0, 100, 100);
  list->SetParent(r);
  list->ApplyResource();
  p->BeginUpdate();
  for (int i = 0; i < 10; ++i) {
    auto* item = new TvgListBoxItem(list);
    item->SetParent(list);
  }
  r->SetParent(nullptr);
  p->EndUpdate();
  EXPECT_FLOAT_EQ(list->ItemByIndex(9)->GetPosition()->GetY(), 9 * 19);
  delete r;
}

// --- Tab control

// Rule: the selected tab's page alone is shown. The selected tab leaving the control (freed, or
// moved out) leaves its page shown beside the page of the tab selected in its place.
TEST_F(AttackProbesTest, TheSelectedTabLeavingTakesItsPageOutOfView) {
  for (const bool freed : {true, false}) {
    SCOPED_TRACE(freed ? "freed" : "moved out");
    TvgTabControl* tabs = Tabs(3);
    tabs->SetItemIndex(1);
    TvgTabItem* gone = Tab(tabs, 1);
    TvgVisualObject* page = gone->GetLayout();
    if (freed) delete gone;
    else gone->SetParent(nullptr);
    EXPECT_EQ(tabs->ItemOfIndex(tabs->GetItemIndex()), Tab(tabs, 1));
    EXPECT_FALSE(page->GetVisible());
    if (!freed) delete gone;
  }
}

// --- Tree view

// Rule: a selection follows its item; an item that leaves the tree (moved to another tree, as a
// drop of a dragged item does, or taken out) is no longer the tree's selection. The tree keeps
// it as Selected, and once it is freed elsewhere the tree holds a freed item.
TEST_F(AttackProbesTest, TheSelectedTreeItemLeavingTheTreeIsNoLongerSelected) {
  auto* tree = Add<TvgTreeView>(0, 0, 150, 100);
  auto* other = Add<TvgTreeView>(0, 110, 150, 100);
  std::vector<TvgTreeViewItem*> items;
  for (const char16_t* text : {u"a", u"b", u"c"}) {
    auto* item = new TvgTreeViewItem(nullptr);
    item->SetText(text);
    item->SetParent(tree);
    items.push_back(item);
  }
  tree->SetSelected(items[1]);
  items[1]->SetParent(other);
  EXPECT_NE(tree->GetSelected(), items[1]);
}

// --- Grid

// Rule: a selection follows its item, as the list box's and the tab control's do when an item
// before it goes. The current column stays by number when a column before it is freed.
TEST_F(AttackProbesTest, TheCurrentColumnStaysCurrentWhenAColumnBeforeItGoes) {
  auto* grid = Add<TvgStringGrid>(0, 0, 300, 200);
  std::vector<TvgColumn*> columns;
  for (int i = 0; i < 3; ++i) {
    auto* column = new TvgStringColumn(grid);
    column->SetParent(grid);
    columns.push_back(column);
  }
  grid->SetColumnIndex(2);
  delete columns[0];
  EXPECT_EQ(grid->ColumnAt(grid->GetColumnIndex()), columns[2]);
}

// A list comparison that raises while `raise` is set.
struct TRaisingCompare {
  bool raise = true;
  int32_t Compare(TvgListBoxItem* a, TvgListBoxItem* b) {
    if (raise) throw std::runtime_error("compare");
    return vgWideCompareText(a->GetText(), b->GetText());
  }
};

// Rule: the same, and the selected tab's page alone is shown. A page whose layout raises once (a
// sorted list on it) leaves the tab control's own guard set: it lays nothing out again, and
// another tab selected keeps the first page shown and its own hidden.
TEST_F(AttackProbesTest, TheTabsShowTheSelectedPageAfterALayoutThatRaised) {
  TvgTabControl* tabs = Tabs(2);
  tabs->SetItemIndex(0);
  auto* list = new TvgListBox(nullptr);
  list->SetAlign(vaClient);
  list->SetParent(Tab(tabs, 0)->GetLayout());
  list->ApplyResource();
  for (int i = 0; i < 2; ++i) (new TvgListBoxItem(list))->SetParent(list);
  list->SetSorted(true);
  TRaisingCompare compare;
  list->OnCompare = TOnCompareListBoxItemEvent::Of<&TRaisingCompare::Compare>(&compare);
  EXPECT_THROW(tabs->SetHeight(300), std::runtime_error);
  compare.raise = false;
  tabs->SetItemIndex(1);
  EXPECT_TRUE(Tab(tabs, 1)->GetLayout()->GetVisible());
  EXPECT_FALSE(Tab(tabs, 0)->GetLayout()->GetVisible());
}

}  // namespace

