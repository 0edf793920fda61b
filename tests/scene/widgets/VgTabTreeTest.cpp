// The tab control (strip, pages, hiding the selected tab, clicks) and the tree view (numbering,
// layout, expand and collapse, selection, keys, sorting and dragging items onto items).
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "WidgetsTestSupport.h"
#include "classlib/FormText.h"
#include "scene/controls/vg_layouts.h"
#include "scene/core/TestSceneHost.h"
#include "scene/core/vg_designer.h"
#include "scene/design/FakeDesigner.h"
#include "scene/widgets/vg_tabcontrol.h"
#include "scene/widgets/vg_treeview.h"

namespace {

class TabTreeTest : public WidgetsFixture {
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
  TvgTabItem* Tab(TvgTabControl* tabs, int child) {
    int n = 0;
    for (TvgObject* c : tabs->Children())
      if (auto* item = dynamic_cast<TvgTabItem*>(c); item != nullptr && n++ == child) return item;
    return nullptr;
  }
  // A tree: a (a1, a2 (a21)), b, c; nothing expanded.
  TvgTreeView* Tree() {
    auto* tree = Add<TvgTreeView>(0, 0, 150, 100);
    auto node = [&](TvgObject* parent, const char16_t* text) {
      auto* item = new TvgTreeViewItem(tree);
      item->SetText(text);
      item->SetParent(parent);
      return item;
    };
    TvgTreeViewItem* a = node(tree, u"a");
    node(a, u"a1");
    TvgTreeViewItem* a2 = node(a, u"a2");
    node(a2, u"a21");
    node(tree, u"b");
    node(tree, u"c");
    return tree;
  }
  TvgTreeViewItem* Find(TvgTreeView* tree, const std::u16string& text) {
    std::vector<TvgObject*> all;
    tree->GetContent()->AddObjectsToList(all);
    for (TvgObject* obj : all)
      if (auto* item = dynamic_cast<TvgTreeViewItem*>(obj); item != nullptr && item->GetText() == text) return item;
    return nullptr;
  }
};

// --- Tabs

TEST_F(TabTreeTest, TabsFormAStripAndOnlyTheSelectedPageShows) {
  TvgTabControl* empty = Tabs(0);
  EXPECT_EQ(empty->GetStyleObject()->Visual()->GetPosition()->GetY(), 0);  // no strip
  TvgTabControl* tabs = Tabs(3);
  tabs->OnChange = changes.Event();
  tabs->SetItemIndex(1);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(Tab(tabs, 1)->GetPosition()->GetX(), 80);
  EXPECT_TRUE(Tab(tabs, 1)->GetIsSelected());
  EXPECT_FALSE(Tab(tabs, 0)->GetLayout()->GetVisible());
  TvgVisualObject* page = Tab(tabs, 1)->GetLayout();
  EXPECT_TRUE(page->GetVisible());
  EXPECT_EQ(page->GetPosition()->GetY(), 20);
  EXPECT_EQ(page->GetHeight(), 180);
  // A click on a tab (the release over it) selects it, once.
  Tab(tabs, 2)->MouseUp(mbLeft, TShiftState{}, 5, 5);
  EXPECT_EQ(tabs->GetItemIndex(), 2);
  EXPECT_EQ(changes.count, 2);
  // Full size: the width less the background's margins, shared.
  tabs->SetFullSize(true);
  EXPECT_FLOAT_EQ(Tab(tabs, 1)->GetWidth(), 60);
  EXPECT_FLOAT_EQ(Tab(tabs, 2)->GetPosition()->GetX(), 120);
}

TEST_F(TabTreeTest, HidingOrFreeingTheSelectedTabSelectsTheOneInItsPlace) {
  TvgTabControl* tabs = Tabs(3);
  tabs->SetItemIndex(1);
  Tab(tabs, 1)->SetVisible(false);  // the middle: the next tab moves into its place
  EXPECT_EQ(tabs->GetItemIndex(), 1);
  EXPECT_TRUE(Tab(tabs, 2)->GetIsSelected());
  EXPECT_TRUE(Tab(tabs, 2)->GetLayout()->GetVisible());
  EXPECT_FALSE(Tab(tabs, 1)->GetLayout()->GetVisible());  // a hidden tab's page with it
  Tab(tabs, 2)->SetVisible(false);  // the last: the new last
  EXPECT_EQ(tabs->GetItemIndex(), 0);
  EXPECT_TRUE(Tab(tabs, 0)->GetIsSelected());
  Tab(tabs, 1)->SetVisible(true);  // shown again before it: the selection stays with tab 0
  EXPECT_EQ(tabs->GetItemIndex(), 0);
  EXPECT_EQ(Tab(tabs, 1)->GetTabIndex(), 1);
  // However the selected tab leaves, the one in its place is selected and its page alone shows.
  const std::pair<const char*, std::function<void(TvgTabControl*, TvgTabItem*)>> leaves[] = {
      {"freed", [](auto*, TvgTabItem* gone) { delete gone; }},
      {"moved out", [](auto*, TvgTabItem* gone) { gone->SetParent(nullptr); }},
      {"moved to another control", [this](auto*, TvgTabItem* gone) { Tabs(0)->AddObject(gone); }},
      {"taken out", [](TvgTabControl* tabs, TvgTabItem* gone) { tabs->RemoveObject(gone); }},
  };
  for (const auto& [how, leave] : leaves) {
    TvgTabControl* more = Tabs(3);
    more->SetItemIndex(1);
    TvgTabItem* next = Tab(more, 2);
    TvgVisualObject* page = Tab(more, 1)->GetLayout();
    leave(more, Tab(more, 1));
    EXPECT_EQ(more->ItemOfIndex(more->GetItemIndex()), next) << how;
    EXPECT_TRUE(next->GetIsSelected()) << how;
    EXPECT_TRUE(next->GetLayout()->GetVisible()) << how;
    EXPECT_FALSE(page->GetVisible()) << how;
  }
  // The selected tab given another page (the hidden tab's) shows that one alone.
  TvgVisualObject* old = Tab(tabs, 0)->GetLayout();
  Tab(tabs, 0)->SetLayout(Tab(tabs, 2)->GetLayout());
  EXPECT_FALSE(old->GetVisible());
  EXPECT_TRUE(Tab(tabs, 0)->GetLayout()->GetVisible());
}

// The selected tab stays selected, its page alone shown, when tabs change places (by index, to
// the front or the back, by the designer's order commands) or one goes, and after a further
// layout. No change is told: the same tab is selected.
TEST_F(TabTreeTest, TheSelectedTabStaysSelectedWhenTabsMove) {
  // Each move names the tabs by their places before it; tab 2 is selected.
  using TMove = std::function<void(const std::vector<TvgTabItem*>&, TvgSceneEngine&)>;
  const auto order = [](TvgSceneEngine& designer, const char* command) {
    designer.BuildDesignMenu(TvgPoint{}).Find(std::string("Order/") + command)->OnClick();
  };
  const std::pair<const char*, TMove> moves[] = {
      {"a tab after it moved before it", [](auto& t, auto&) { t[3]->SetIndex(t[0]->GetIndex()); }},
      {"a tab before it moved past it", [](auto& t, auto&) { t[0]->SetIndex(t[3]->GetIndex()); }},
      {"the selected tab moved", [](auto& t, auto&) { t[2]->SetIndex(t[0]->GetIndex()); }},
      {"a tab before it to the front", [](auto& t, auto&) { t[0]->BringToFront(); }},
      {"a tab after it to the back", [](auto& t, auto&) { t[3]->SendToBack(); }},
      {"the designer's front", [&](auto&, auto& d) { order(d, "Bring to front"); }},
      {"the designer's back", [&](auto&, auto& d) { order(d, "Send to back"); }},
      {"a tab before it freed", [](auto& t, auto&) { delete t[1]; }},
  };
  vgSetDefaultCanvasClass(vgCanvasClassOf<TObjRecordingCanvas>());
  for (const auto& [what, move] : moves) {
    TvgTabControl* tabs = Tabs(4);
    std::vector<TvgTabItem*> t;
    for (int i = 0; i < 4; ++i) t.push_back(Tab(tabs, i));
    TTestSceneHost host;
    TvgSceneEngine designer(&host, nullptr, nullptr, true);
    designer.AddObject(tabs);
    tabs->SetItemIndex(2);
    designer.SetSelected(t[2]);
    tabs->OnChange = changes.Event();
    const int told = changes.count;
    move(t, designer);
    for (const char* when : {"", ", laid out again"}) {
      if (*when != 0) tabs->Realign();
      EXPECT_EQ(tabs->ItemOfIndex(tabs->GetItemIndex()), t[2]) << what << when;
      for (TvgObject* child : tabs->Children()) {
        auto* item = dynamic_cast<TvgTabItem*>(child);
        if (item == nullptr) continue;
        EXPECT_EQ(item->GetIsSelected(), item == t[2]) << what << when;
        EXPECT_EQ(item->GetLayout()->GetVisible(), item == t[2]) << what << when;
      }
    }
    EXPECT_EQ(changes.count, told) << what;
  }
  vgSetDefaultCanvasClass(nullptr);
}

TEST_F(TabTreeTest, AStripWiderThanTheControlIsCutAtItsEdge) {
  EXPECT_EQ(ComponentToText(Tabs(0)).find("ClipChildren"), std::string::npos);  // the default
  TvgTabControl* tabs = Tabs(3);  // three tabs of 80 in a control 200 wide
  EXPECT_TRUE(tabs->GetClipChildren());
  EXPECT_EQ(Tab(tabs, 2)->GetPosition()->GetX(), 160);
  // The clicks beyond the edge reach nothing of the control.
  const TvgPoint beyond = tabs->LocalToAbsolute(vgPoint(210, 5));
  EXPECT_EQ(tabs->ObjectByPoint(beyond.X, beyond.Y), nullptr);
  // The selected tab, painted once more over its neighbours, is cut at the edge as well.
  tabs->SetItemIndex(2);
  scene.canvas = &canvas;
  scene.paintRects = {vgRect(0, 0, 1000, 1000)};
  canvas.clips.clear();
  tabs->PaintChildren();
  scene.canvas = nullptr;
  EXPECT_FALSE(canvas.clips.empty());
  for (const TvgRect& clip : canvas.clips) EXPECT_LE(clip.Right, 200);
}

// The selected tab, hidden while its neighbours paint, shows again when a page's paint raises.
TEST_F(TabTreeTest, APageThatRaisesInItsPaintLeavesTheSelectedTabShown) {
  TvgTabControl* tabs = Tabs(2);
  tabs->SetItemIndex(0);
  auto* part = new TRaisingProbe(nullptr);
  part->SetBounds(0, 0, 20, 20);
  part->SetParent(Tab(tabs, 0)->GetLayout());
  scene.paintRects = {vgRect(0, 0, 1000, 1000)};
  EXPECT_THROW(tabs->PaintChildren(), std::runtime_error);
  EXPECT_FLOAT_EQ(Tab(tabs, 0)->GetOpacity(), 1);
  EXPECT_FLOAT_EQ(Tab(tabs, 0)->GetAbsoluteOpacity(), 1);
}

// A page whose layout raises leaves the control, its tab and the page laying out again: the tab
// selected next shows its page alone.
TEST_F(TabTreeTest, TheTabsLayOutAgainAfterAPageLayoutThatRaised) {
  TvgTabControl* tabs = Tabs(2);
  tabs->SetItemIndex(0);
  auto* part = new TRaisingLayout(nullptr);
  part->SetAlign(vaClient);
  part->SetParent(Tab(tabs, 0)->GetLayout());
  (new TvgLayout(nullptr))->SetParent(part);  // a child: the part's size change lays it out
  part->raiseLayout = true;
  EXPECT_THROW(tabs->SetHeight(300), std::runtime_error);
  part->raiseLayout = false;
  tabs->SetItemIndex(1);
  EXPECT_TRUE(Tab(tabs, 1)->GetLayout()->GetVisible());
  EXPECT_FALSE(Tab(tabs, 0)->GetLayout()->GetVisible());
  tabs->SetHeight(250);
  EXPECT_FLOAT_EQ(Tab(tabs, 1)->GetLayout()->GetHeight(), 230);
  EXPECT_FLOAT_EQ(part->GetHeight(), 230);
}

TEST_F(TabTreeTest, ATabInsertedAtDesignTimeNamesItsPageSoThatStreamsKeepTheLink) {
  auto* tabs = Add<TvgTabControl>(0, 0, 200, 200);
  auto insert = [&] {
    auto* item = new TvgTabItem(tabs);
    item->SetParent(tabs);
    item->DesignInsert();
    return item;
  };
  // Without a designer the owner's first free name; a designer names it itself.
  TvgTabItem* first = insert();
  ASSERT_NE(first->GetLayout(), nullptr);
  EXPECT_EQ(first->GetLayout()->GetName(), "Layout1");
  EXPECT_EQ(first->GetLayout()->GetOwner(), tabs);
  EXPECT_EQ(insert()->GetLayout()->GetName(), "Layout2");
  TFakeDesigner designer;
  vgSetDesigner(&designer);
  TvgTabItem* third = insert();
  vgSetDesigner(nullptr);
  EXPECT_EQ(third->GetLayout()->GetName(), "Layout42");
  EXPECT_EQ(designer.names, (std::vector<std::string>{"Layout"}));
  // An item that has a page keeps it.
  TvgVisualObject* page = first->GetLayout();
  first->DesignInsert();
  EXPECT_EQ(first->GetLayout(), page);
  // Written and read back, each tab still shows its own page.
  const std::string text = ComponentToText(tabs);
  EXPECT_NE(text.find("Layout = Layout1"), std::string::npos) << text;
  std::unique_ptr<TvgObject> copy(RoundTrip(tabs));
  auto* back = dynamic_cast<TvgTabControl*>(copy.get());
  ASSERT_NE(back, nullptr);
  TvgTabItem* copied = Tab(back, 2);
  ASSERT_NE(copied, nullptr);
  ASSERT_NE(copied->GetLayout(), nullptr);
  EXPECT_EQ(copied->GetLayout()->GetName(), "Layout42");
  EXPECT_EQ(copied->GetLayout()->GetParent(), back);
}

// --- Tree

TEST_F(TabTreeTest, OnlyExpandedItemsShowAndAreNumbered) {
  TvgTreeView* tree = Tree();
  TvgTreeViewItem* a = Find(tree, u"a");
  EXPECT_EQ(tree->GetShownCount(), 3);
  EXPECT_EQ(Find(tree, u"b")->GetGlobalIndex(), 1);
  EXPECT_FALSE(Find(tree, u"a21")->GetVisible());
  EXPECT_EQ(Find(tree, u"a21")->GetGlobalIndex(), -1);
  a->ApplyResource();
  ASSERT_NE(a->GetButton(), nullptr);
  EXPECT_TRUE(a->GetButton()->GetVisible());
  a->GetButton()->Click();  // the button expands
  EXPECT_TRUE(a->GetIsExpanded());
  EXPECT_EQ(tree->GetShownCount(), 5);
  EXPECT_EQ(Find(tree, u"b")->GetGlobalIndex(), 3);
  TvgTreeViewItem* a1 = Find(tree, u"a1");
  EXPECT_TRUE(a1->GetVisible());
  // Indented by 19 and stacked below its parent, in the parent's coordinates.
  EXPECT_EQ(a1->GetPosition()->GetPoint(), vgPoint(19, 19));
  EXPECT_EQ(Find(tree, u"b")->GetPosition()->GetY(), 57);
  Key(tree, kVkDown);  // no selection yet: nothing
  EXPECT_EQ(tree->GetSelected(), nullptr);
}

TEST_F(TabTreeTest, TheEndOfAnUpdateLaysTheTreeOutAsAFurtherLayoutWouldUnderOneRepaint) {
  auto* tree = Add<TvgTreeView>(0, 0, 150, 100);
  tree->BeginUpdate();
  std::vector<TvgTreeViewItem*> items;
  for (int p = 0; p < 4; ++p) {
    auto* parent = new TvgTreeViewItem(tree);
    parent->SetParent(tree);
    parent->SetIsExpanded(p % 2 == 0);
    items.push_back(parent);
    for (int c = 0; c < 3; ++c) {
      auto* child = new TvgTreeViewItem(tree);
      child->SetParent(parent);
      items.push_back(child);
    }
  }
  scene.updates.clear();
  tree->EndUpdate();
  EXPECT_EQ(scene.updates.size(), 1u);
  std::vector<TvgRect> laidOut;
  for (TvgTreeViewItem* item : items) laidOut.push_back(item->GetParentedRect());
  EXPECT_EQ(items[4]->GetPosition()->GetPoint(), vgPoint(0, 76));      // below the first parent's three
  EXPECT_FALSE(items[4 + 1]->GetVisible());                              // under a collapsed parent
  EXPECT_EQ(items[8 + 1]->GetPosition()->GetPoint(), vgPoint(19, 19));  // in its expanded parent
  tree->Realign();
  for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i]->GetParentedRect(), laidOut[i]) << i;
  EXPECT_EQ(tree->GetShownCount(), 4 + 3 + 3);
}

TEST_F(TabTreeTest, SelectingAHiddenItemExpandsItsParentsAndKeysWalkTheShownItems) {
  TvgTreeView* tree = Tree();
  tree->SetHeight(40);
  tree->OnChange = changes.Event();
  TvgTreeViewItem* a21 = Find(tree, u"a21");
  tree->SetSelected(a21);
  EXPECT_TRUE(Find(tree, u"a")->GetIsExpanded());
  EXPECT_TRUE(Find(tree, u"a2")->GetIsExpanded());
  EXPECT_EQ(changes.count, 1);
  // Scrolled into the 40 high viewport: a21 lies at 57..76.
  EXPECT_EQ(tree->GetVScrollBar()->GetValue(), 76 - 40);
  Key(tree, kVkDown);
  EXPECT_EQ(tree->GetSelected()->GetText(), u"b");
  Key(tree, kVkEnd);
  Key(tree, kVkDown);  // already the last: stays
  EXPECT_EQ(tree->GetSelected()->GetText(), u"c");
  Key(tree, kVkHome);
  EXPECT_EQ(tree->GetSelected()->GetText(), u"a");
  Key(tree, 109);  // numeric-pad minus collapses
  EXPECT_FALSE(Find(tree, u"a")->GetIsExpanded());
  tree->SetSelected(Find(tree, u"c"));
  Key(tree, 107);  // plus on a leaf only sets its flag
  EXPECT_TRUE(Find(tree, u"c")->GetIsExpanded());
  EXPECT_EQ(tree->GetShownCount(), 3);
}

// Items that change places, at the top or inside an item, are laid out and walked by the keys in
// their new order.
TEST_F(TabTreeTest, ItemsThatMoveAreLaidOutAndWalkedInTheirNewOrder) {
  struct Move {
    const char16_t* moved;  // first among its siblings, at this height in its parent
    float y;
    const char16_t* next;  // below a1 afterwards
  };
  for (const Move& m : {Move{u"b", 0, u"a2"}, Move{u"a2", 19, u"b"}}) {
    TvgTreeView* tree = Tree();  // a (a1, a2 (a21)), b, c
    Find(tree, u"a")->SetIsExpanded(true);
    tree->SetSelected(Find(tree, u"a1"));
    ASSERT_EQ(Find(tree, u"a1")->GetGlobalIndex(), 1);
    Find(tree, m.moved)->SendToBack();
    EXPECT_EQ(Find(tree, m.moved)->GetPosition()->GetY(), m.y) << WideToUtf8(m.moved);
    Key(tree, kVkDown);
    EXPECT_EQ(tree->GetSelected()->GetText(), m.next) << WideToUtf8(m.moved);
  }
}

// An item that leaves the tree, however (moved to another tree, taken out, with its parent item,
// freed there afterwards), is no longer its selection, and the keys then find none; one moved
// within the tree stays selected.
TEST_F(TabTreeTest, AnItemThatLeavesTheTreeIsNoLongerItsSelection) {
  const std::pair<const char*, std::function<void(TvgTreeView*, TvgTreeViewItem*)>> leaves[] = {
      {"moved to another tree", [this](auto*, auto* a2) { a2->SetParent(Tree()); }},
      {"moved to another tree, freed there", [this](auto*, auto* a2) { a2->SetParent(Tree()), delete a2; }},
      {"moved out, freed", [](auto*, auto* a2) { a2->SetParent(nullptr), delete a2; }},
      {"taken out by its parent item", [](auto*, auto* a2) { a2->ParentItem()->RemoveObject(a2); }},
      {"its parent item moved out, freed", [](auto*, auto* a2) { auto* a = a2->ParentItem(); a->SetParent(nullptr), delete a; }},
  };
  for (const auto& [how, leave] : leaves) {
    TvgTreeView* tree = Tree();
    tree->SetSelected(Find(tree, u"a2"));
    leave(tree, Find(tree, u"a2"));
    EXPECT_EQ(tree->GetSelected(), nullptr) << how;
    Key(tree, kVkDown);  // reads no item that left (nor a freed one)
    EXPECT_EQ(tree->GetSelected(), nullptr) << how;
  }
  TvgTreeView* tree = Tree();
  TvgTreeViewItem* a2 = Find(tree, u"a2");
  tree->SetSelected(a2);
  a2->SetParent(Find(tree, u"c"));
  EXPECT_EQ(tree->GetSelected(), a2);
}

// An item's check box clicked while the tree's change handler frees that item: no check is
// reported with it.
TEST_F(TabTreeTest, AChangeHandlerMayFreeTheItemWhoseCheckBoxIsClicked) {
  struct THandlers {
    TvgTreeView* tree = nullptr;
    int checks = 0;
    void Change(TObject*) {
      if (TvgTreeViewItem* item = tree->GetSelected()) delete item;
    }
    void Check(TObject* sender) { checks += static_cast<TvgTreeViewItem*>(sender)->GetText().empty() ? 1 : 2; }
  };
  TvgTreeView* tree = Tree();
  tree->SetShowCheckboxes(true);
  THandlers handlers{tree, 0};
  tree->OnChange = TNotifyEvent::Of<&THandlers::Change>(&handlers);
  tree->OnChangeCheck = TNotifyEvent::Of<&THandlers::Check>(&handlers);
  TvgTreeViewItem* b = Find(tree, u"b");
  b->ApplyResource();
  ASSERT_NE(b->GetCheckBox(), nullptr);
  b->GetCheckBox()->SetIsChecked(true);
  EXPECT_EQ(Find(tree, u"b"), nullptr);
  EXPECT_EQ(handlers.checks, 0);
}

TEST_F(TabTreeTest, ClicksSelectAndMultiSelectTakesRanges) {
  TvgTreeView* tree = Tree();
  tree->SetMultiSelect(true);
  Find(tree, u"a")->SetIsExpanded(true);
  tree->MouseDown(mbLeft, TShiftState{ssLeft}, 30, 5);  // a
  tree->MouseDown(mbLeft, TShiftState{ssLeft, ssShift}, 30, 62);  // b: a .. b
  std::vector<std::u16string> selected;
  for (const char16_t* t : {u"a", u"a1", u"a2", u"b", u"c"})
    if (Find(tree, t)->GetIsSelected()) selected.push_back(t);
  EXPECT_EQ(selected, (std::vector<std::u16string>{u"a", u"a1", u"a2", u"b"}));
  tree->SetHideSelectionUnfocused(false);
  tree->UpdateSelectionMarks();
  int marks = 0;
  for (TvgVisualObject* m : tree->SelectionMarks()) marks += m->GetVisible() ? 1 : 0;
  EXPECT_EQ(marks, 1);  // one run of neighbours
  tree->MouseDown(mbLeft, TShiftState{ssLeft, ssCtrl}, 30, 24);  // a1 off
  EXPECT_FALSE(Find(tree, u"a1")->GetIsSelected());
  tree->MouseDown(mbLeft, TShiftState{ssLeft}, 30, 95);  // below every item: nothing
  EXPECT_TRUE(Find(tree, u"b")->GetIsSelected());
}

TEST_F(TabTreeTest, SortingFollowsTheTextsOrTheCompareEvent) {
  auto* tree = Add<TvgTreeView>(0, 0, 150, 100);
  for (const char16_t* t : {u"pear", u"Apple", u"fig"}) {
    auto* item = new TvgTreeViewItem(tree);
    item->SetText(t);
    item->SetParent(tree);
  }
  tree->SetSorted(true);
  EXPECT_EQ(tree->GetItem(0)->GetText(), u"Apple");
  EXPECT_EQ(tree->GetItem(2)->GetText(), u"pear");
  EXPECT_EQ(tree->GetItem(1)->GetPosition()->GetY(), 19);
}

TEST_F(TabTreeTest, ADropMovesTheItemUnderItsTargetButNeverUnderItself) {
  TvgTreeView* tree = Tree();
  TvgTreeViewItem* a = Find(tree, u"a");
  a->SetIsExpanded(true);
  TvgTreeViewItem* a2 = Find(tree, u"a2");
  TvgDragObject data;
  data.Source = a;
  // Over a2 (inside the dragged a): refused, and a drop there changes nothing.
  bool accept = true;
  const TvgPoint overA2 = tree->LocalToAbsolute(vgPoint(40, 43));
  tree->DragOver(data, overA2, accept);
  EXPECT_EQ(tree->GetDragOverItem(), a2);
  EXPECT_FALSE(accept);
  tree->DragDrop(data, overA2);
  EXPECT_EQ(a->GetParent(), tree->GetContent());
  // Over c: accepted; the drop puts a under c and expands c.
  TvgTreeViewItem* c = Find(tree, u"c");
  const TvgPoint overC = tree->LocalToAbsolute(vgPoint(40, c->GetPosition()->GetY() + 5));
  tree->DragOver(data, overC, accept);
  EXPECT_TRUE(accept);
  tree->DragDrop(data, overC);
  EXPECT_EQ(a->GetParent(), c);
  EXPECT_TRUE(c->GetIsExpanded());
  EXPECT_EQ(a->GetGlobalIndex(), 2);
  EXPECT_EQ(tree->GetDragOverItem(), nullptr);
}

TEST_F(TabTreeTest, StreamsCreateTabsAndTreesByClassName) {
  for (const char* name : {"TvgTabControl", "TvgHudTabControl", "TvgTabItem", "TvgHudTabItem", "TvgTreeView",
                           "TvgTreeViewItem"})
    EXPECT_NE(GetClass(name), nullptr) << name;
  TvgTreeView* tree = Tree();
  Find(tree, u"a")->SetIsExpanded(true);
  std::unique_ptr<TvgObject> copy(RoundTrip(tree));
  auto* back = dynamic_cast<TvgTreeView*>(copy.get());
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->GetCount(), 3);
  EXPECT_TRUE(back->GetItem(0)->GetIsExpanded());
  EXPECT_EQ(back->GetItem(0)->ChildItem(1)->ChildItem(0)->GetText(), u"a21");
}

}  // namespace
