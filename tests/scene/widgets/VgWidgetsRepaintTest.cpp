// Repaints of parts of a scene against a paint of the whole: a scene window of widgets, shapes
// and text in the default style painted whole, then scrambled and painted again through many
// small update rects, must come out pixel for pixel the same; and so must the whole painted by
// GDI+ alone, without the canvas's own whole-pixel paths and kept paintings. A repaint of an
// object on a tab's page is one paint: the tab control's paint asks for none.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "SceneWindowFixture.h"
#include "scene/core/win32/vg_canvas_gdiplus.h"
#include "scene/shapes/vg_objects.h"
#include "scene/widgets/vg_grid.h"
#include "scene/widgets/vg_listbox.h"
#include "scene/widgets/vg_memo.h"
#include "scene/widgets/vg_tabcontrol.h"
#include "scene/widgets/vg_treeview.h"

namespace {

class WidgetsRepaintTest : public SceneWindowFixture {
 protected:
  WidgetsRepaintTest() : SceneWindowFixture(320, 240) {}

  // A memo, a list of many items, a tree, a grid, a button and shapes with fractional edges,
  // gradients and text over a bitmap-filled rectangle.
  void Populate() {
    auto* memo = Add<TvgMemo>(4, 4, 150, 90);
    memo->SetText(u"A memo with text\r\nwrapped and plain lines\r\nthird line, 3.14\r\nfourth");
    auto* list = Add<TvgListBox>(160, 4, 150, 90);
    // Enough items for the list's content to walk its children by their kept rects.
    for (int i = 0; i < 60; ++i) {
      auto* item = new TvgListBoxItem(list);
      item->SetText(u"item " + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)));
      item->SetParent(list);
    }
    list->SetItemIndex(1);
    auto* tree = Add<TvgTreeView>(4, 100, 100, 130);
    auto* node = new TvgTreeViewItem(tree);
    node->SetText(u"node");
    node->SetParent(tree);
    auto* leaf = new TvgTreeViewItem(tree);
    leaf->SetText(u"leaf");
    leaf->SetParent(node);
    node->SetIsExpanded(true);
    auto* grid = Add<TvgStringGrid>(110, 100, 120, 130);
    grid->SetRowCount(6);
    Add<TvgButton>(240, 100, 70, 24)->SetText(u"Button");
    texture_ = std::make_unique<TvgBitmap>(9, 7);
    for (int32_t i = 0; i < 9 * 7; ++i) texture_->Bits()[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x030507u);
    auto* tiled = new TvgRectangle(nullptr);
    tiled->SetBounds(240, 130, 70, 40);
    tiled->GetFill()->SetStyle(vgBrushBitmap);
    tiled->GetFill()->GetBitmap()->SetBitmap(texture_.get());
    tiled->SetParent(root);
    auto* rounded = new TvgRoundRect(nullptr);
    rounded->SetBounds(245.3f, 175.6f, 60.4f, 30.2f);
    rounded->GetFill()->SetStyle(vgBrushGradient);
    rounded->SetParent(root);
    auto* ellipse = new TvgEllipse(nullptr);
    ellipse->SetBounds(270.5f, 150.25f, 40, 60);
    ellipse->GetFill()->SetColor("#80FF4020");
    ellipse->SetParent(root);
    auto* text = new TvgText(nullptr);
    text->SetBounds(236, 208, 80, 24);
    text->SetText(u"Text 12");
    text->SetParent(root);
  }
  std::vector<uint32_t> Buffer() {
    GdiFlush();
    const uint32_t* bits = scene->GetCanvas()->GetBufferBits();
    return std::vector<uint32_t>(bits, bits + 320 * 240);
  }
  void PaintAll() {
    InvalidateRect(Window(), nullptr, FALSE);
    UpdateWindow(Window());
  }
  // What is hit at points over a list at (8, 8) and around it: in the scene (its class and the
  // index of the row it is or lies in), and the row the list finds.
  std::vector<std::string> Hits(TvgListBox* list) {
    std::vector<std::string> out;
    for (const float x : {20.0f, 80.0f, 140.0f}) {
      for (float y = -40; y < 260; y += 13) {
        std::string hit = "none";
        if (TvgVisualObject* o = root->ObjectByPoint(x, y)) {
          hit = o->ClassName();
          for (TvgObject* p = o; p != nullptr; p = p->GetParent())
            if (auto* item = dynamic_cast<TvgListBoxItem*>(p)) hit += " in row " + std::to_string(item->GetIndex());
        }
        TvgListBoxItem* row = list->ItemByPoint(x - 8, y - 8);
        out.push_back(hit + ", row " + std::to_string(row != nullptr ? row->GetIndex() : -1));
      }
    }
    return out;
  }

  std::unique_ptr<TvgBitmap> texture_;
};

TEST_F(WidgetsRepaintTest, ManySmallRepaintsGiveThePixelsOfOneWholePaint) {
  Populate();
  Settle(300);
  PaintAll();
  const std::vector<uint32_t> whole = Buffer();
  // Tiles of odd sizes in a shuffled order; each is scrambled first, so that only a real
  // repaint of every pixel can bring the picture back.
  std::vector<TvgRect> tiles;
  for (int32_t y = 0; y < 240; y += 17)
    for (int32_t x = 0; x < 320; x += 23)
      tiles.push_back(vgRect(static_cast<float>(x), static_cast<float>(y), static_cast<float>(std::min(x + 23, 320)),
                             static_cast<float>(std::min(y + 17, 240))));
  std::shuffle(tiles.begin(), tiles.end(), std::mt19937(11));
  uint32_t* bits = scene->GetCanvas()->GetBufferBits();
  for (size_t i = 0; i < tiles.size(); ++i) {
    const TvgRect& t = tiles[i];
    for (int32_t y = static_cast<int32_t>(t.Top); y < static_cast<int32_t>(t.Bottom); ++y)
      for (int32_t x = static_cast<int32_t>(t.Left); x < static_cast<int32_t>(t.Right); ++x) bits[y * 320 + x] = 0x80FF00FFu;
    scene->AddUpdateRect(t);
    // Two and three at a time as well: several rects in one paint.
    if (i % 3 != 1) UpdateWindow(Window());
  }
  UpdateWindow(Window());
  const std::vector<uint32_t> tiled = Buffer();
  int differing = 0;
  for (size_t i = 0; i < whole.size(); ++i) differing += whole[i] != tiled[i];
  EXPECT_EQ(differing, 0);
  // Thin rects across everything: strokes and text edges cut through.
  for (int32_t x = 0; x < 320; x += 7) {
    for (int32_t y = 0; y < 240; ++y) bits[y * 320 + x] = 0x80FF00FFu;
    scene->AddUpdateRect(vgRect(static_cast<float>(x), 0, static_cast<float>(x + 1), 240));
    UpdateWindow(Window());
  }
  EXPECT_TRUE(Buffer() == whole);
}

TEST_F(WidgetsRepaintTest, TheCanvasPaintsWhatGdiPlusAlonePaints) {
  Populate();
  Settle(300);
  PaintAll();
  const std::vector<uint32_t> own = Buffer();
  auto* canvas = static_cast<TvgCanvasGdiPlus*>(scene->GetCanvas());
  ASSERT_TRUE(canvas->DrawsWholePixels());
  canvas->SetDrawsWholePixels(false);
  PaintAll();
  const std::vector<uint32_t> gdiplus = Buffer();
  canvas->SetDrawsWholePixels(true);
  int differing = 0;
  for (size_t i = 0; i < own.size(); ++i) differing += own[i] != gdiplus[i];
  EXPECT_EQ(differing, 0);
  // Painted again from what was kept: still the same.
  PaintAll();
  EXPECT_TRUE(Buffer() == gdiplus);
}

// The tab control hides its selected tab from the other children's pass while it paints: a
// repaint of an object on the selected page, or elsewhere, is one paint of the scene.
TEST_F(WidgetsRepaintTest, ARepaintOnATabPageIsOnePaint) {
  auto* tabs = Add<TvgTabControl>(10, 10, 200, 150);
  auto* item = new TvgTabItem(tabs);
  item->SetText(u"One");
  item->SetParent(tabs);
  auto* page = new TvgLayout(tabs);
  page->SetParent(tabs);
  item->SetLayout(page);
  tabs->SetItemIndex(0);
  auto* onPage = new TvgRectangle(nullptr);
  onPage->SetBounds(20, 40, 40, 30);
  onPage->SetParent(page);
  auto* elsewhere = new TvgRectangle(nullptr);
  elsewhere->SetBounds(250, 20, 40, 30);
  elsewhere->SetParent(root);
  // The tab's style animates its selection for a while: measured once the scene is at rest.
  int32_t rounds = 0;
  for (int32_t draws = -1; draws != scene->Engine().DrawCount() && rounds < 10; ++rounds) {
    draws = scene->Engine().DrawCount();
    Settle(300);
  }
  ASSERT_LT(rounds, 10) << "the scene never rests";
  for (TvgVisualObject* object : {static_cast<TvgVisualObject*>(onPage), static_cast<TvgVisualObject*>(elsewhere)}) {
    const int32_t draws = scene->Engine().DrawCount();
    object->Repaint();
    Settle();
    EXPECT_EQ(scene->Engine().DrawCount() - draws, 1) << (object == onPage ? "on the page" : "elsewhere");
  }
}

// A string list box changed line by line (lines inserted and deleted at the front, added to the
// list sorted among many alike, put anew; scrolled, sorted and not), each change painted as it
// asked (only its rows in view placed, painted and hit), shows the pixels of a list made afresh
// from its lines and laid out whole (every row placed), with its index and scroll, and painted
// whole; and the same item is hit at points over it, in the scene and by the list, also at
// points above and below it.
TEST_F(WidgetsRepaintTest, AStringListChangedLineByLinePaintsAndHitsAsAFreshOneLaidOutWhole) {
  auto* list = Add<TvgStringListBox>(8, 8, 150, 200);
  TvgWideStrings* lines = list->GetItems();
  const auto text = [](uint32_t n) {
    static const char16_t* const texts[] = {u"apple", u"Apple", u"berry", u"Berry", u"cherry"};
    return WideString(texts[n % 5]);
  };
  for (uint32_t i = 0; i < 200; ++i) lines->Add(text(i * 7));
  list->SetItemIndex(3);
  Settle(300);
  std::mt19937 random(5);
  for (int step = 0; step < 60; ++step) {
    switch (random() % 6) {
      case 0: lines->Insert(0, text(random())); break;
      case 1: lines->Delete(0); break;
      case 2: lines->Add(text(random())); break;
      case 3: lines->Put(static_cast<int32_t>(random() % static_cast<uint32_t>(lines->Count())), text(random())); break;
      // By whole rows: a row cut by the list's top edge paints over the frame's top line in a
      // paint of the whole list and not in a repaint of its rows, however its place was given.
      case 4: list->GetVScrollBar()->SetValue(static_cast<float>(random() % 200 * 19)); break;
      default: if (random() % 4 == 0) list->SetSorted(!list->GetSorted()); break;
    }
    UpdateWindow(Window());
    if (step % 10 != 9) continue;
    // An item selected or no longer selected fades to its look meanwhile.
    Settle(600);
    const std::vector<uint32_t> seen = Buffer();
    const std::vector<std::string> seenHits = Hits(list);
    const float scroll = list->GetVScrollBar()->GetValue();
    list->SetVisible(false);
    auto* fresh = Add<TvgStringListBox>(8, 8, 150, 200);
    fresh->SetSorted(list->GetSorted());
    fresh->GetItems()->Assign(lines);
    fresh->Realign();  // every row placed by a layout of the whole list
    fresh->SetItemIndex(list->GetItemIndex());
    fresh->GetVScrollBar()->SetValue(0);
    fresh->GetVScrollBar()->SetValue(scroll);
    Settle(600);
    PaintAll();
    int differing = 0;
    const std::vector<uint32_t> whole = Buffer();
    for (size_t i = 0; i < whole.size(); ++i) differing += whole[i] != seen[i];
    EXPECT_EQ(differing, 0) << "step " << step;
    EXPECT_EQ(Hits(fresh), seenHits) << "step " << step;
    delete fresh;
    list->SetVisible(true);
    UpdateWindow(Window());
  }
}

// A string list box in each state its rows can be in (filled in one update, changed line by line,
// resized, sorted, refilled, given another item height or one whose sums are not exact, scrolled
// through page by page, following its newest line, in columns, horizontal, under a scaled and
// rotated parent, with check boxes, its rows made by the program), its rows in a style whose parts
// take the list's triggers (one glowing past its row), is pointed at, focused, scrolled and left.
// At each step it paints and hits as its twin, whose rows the program touched and whose content
// holds one child more that is no row (so that every paint, hit and trigger walks all of them),
// while it paints and hits only the rows about its viewport (in one column), its triggers visit
// only the rows that took their style and, in one column, only those about its viewport, and a
// page of a scroll reaches only those.
TEST_F(WidgetsRepaintTest, AStringListPointedAtInEachStatePaintsAndHitsAsATwinThatWalksEveryRow) {
  // A glow inside the row's left strip while the mouse is over the list, and one reaching past the
  // row around its right strip while the list has the focus.
  auto* rowStyle = new TvgLayout(nullptr);
  rowStyle->SetResourceName("pointedrowstyle");
  auto* text = new TvgText(nullptr);
  text->SetResourceName("text");
  text->SetAlign(vaClient);
  text->SetHitTest(false);
  text->SetParent(rowStyle);
  const auto strip = [rowStyle](TvgAlign align, TvgEffect* glow, const char* trigger) {
    auto* part = new TvgRectangle(nullptr);
    part->SetAlign(align);
    part->SetWidth(14);
    part->SetHitTest(false);
    part->SetParent(rowStyle);
    glow->SetTrigger(trigger);
    glow->SetEnabled(false);
    glow->SetParent(part);
  };
  strip(vaLeft, new TvgInnerGlowEffect(nullptr), "IsMouseOver=true");
  strip(vaRight, new TvgGlowEffect(nullptr), "IsFocused=true");
  const auto fill = [](TvgWideStrings* lines, int from) {
    lines->BeginUpdate();
    lines->Clear();
    for (int i = 0; i < 300; ++i) lines->Add(u"line " + std::u16string(1, static_cast<char16_t>(u'a' + (i * 7 + from) % 26)));
    lines->EndUpdate();
  };
  TvgVisualObject* parent = nullptr;
  struct TState {
    const char* name;
    std::function<void(TvgStringListBox*)> set;
    bool oneColumn = true;
  };
  const std::vector<TState> states = {
      {"filled in one update", [](TvgStringListBox*) {}},
      {"changed line by line",
       [](TvgStringListBox* list) {
         list->GetItems()->Insert(0, u"first");
         list->GetItems()->Delete(7);
         list->GetItems()->Add(u"last");
       }},
      {"resized", [](TvgStringListBox* list) { list->SetBounds(8, 8, 170, 150); }},
      {"sorted", [](TvgStringListBox* list) { list->SetSorted(true); }},
      {"refilled", [&fill](TvgStringListBox* list) { fill(list->GetItems(), 3); }},
      {"given another item height", [](TvgStringListBox* list) { list->SetItemHeight(23); }},
      {"given an item height whose sums are not exact", [](TvgStringListBox* list) { list->SetItemHeight(19.3f); }},
      {"scrolled through page by page",
       [this](TvgStringListBox* list) {
         for (float at = 0; at < list->GetVScrollBar()->GetMax(); at += list->GetViewportHeight()) {
           list->GetVScrollBar()->SetValue(at);
           UpdateWindow(Window());
         }
       }},
      {"following its newest line",
       [this](TvgStringListBox* list) {
         list->GetItems()->Clear();
         for (int i = 0; i < 120; ++i) {
           list->GetItems()->Add(u"line " + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)));
           list->SetItemIndex(i);
           if (i % 3 == 0) UpdateWindow(Window());
         }
       }},
      {"in columns", [](TvgStringListBox* list) { list->SetItemWidth(70); }, false},
      {"horizontal", [](TvgStringListBox* list) { list->SetListStyle(vgListHorizontal); }, false},
      {"under a scaled, rotated parent",
       [&parent](TvgStringListBox*) {
         parent->GetScale()->SetPoint(vgPoint(1.1f, 0.9f));
         parent->SetRotateAngle(7);
       }},
      {"with check boxes", [](TvgStringListBox* list) { list->SetShowCheckboxes(true); }},
      {"of rows the program made",
       [](TvgStringListBox* list) {
         list->GetItems()->Clear();
         for (int i = 0; i < 300; ++i) {
           // Styled when first painted, as the rows made from lines.
           auto* row = new TvgListBoxItem(nullptr);
           row->BeginUpdate();
           row->SetParent(list);
           row->SetLocked(true);
           row->SetResource("pointedrowstyle");
           row->SetText(u"row " + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)));
           row->EndUpdate();
         }
       },
       false}};
  for (const TState& state : states) {
    // Pixels and hits at each step, for the list and for its twin.
    std::vector<std::pair<std::vector<uint32_t>, std::vector<std::string>>> seen[2];
    for (const bool twin : {false, true}) {
      parent = new TvgLayout(nullptr);
      parent->SetBounds(8, 8, 150, 200);
      parent->SetParent(root);
      auto* list = new TvgStringListBox(nullptr);
      list->SetItemStyle("pointedrowstyle");
      list->SetBounds(0, 0, 150, 200);
      list->SetParent(parent);
      list->ApplyResource();
      fill(list->GetItems(), 0);
      state.set(list);
      const int32_t count = list->Count();
      if (twin) {
        list->ItemByIndex(0)->SetHint(u"touched");
        auto* other = new TvgLayout(nullptr);
        other->SetVisible(false);
        other->SetParent(list->GetContent());
      }
      const auto look = [&] {
        Settle(300);
        UpdateWindow(Window());
        seen[twin].push_back({Buffer(), Hits(list)});
      };
      look();  // the rows in view take their style
      Move(60, 50, false);
      look();
      Move(60, 90, false);
      look();
      list->SetFocus();
      look();
      // By five rows and a half (columns: by one and a half). Rows that come into view awake repaint
      // what the triggers they slept through changed, which the twin repainted as the triggers
      // came: the twin's paint of the scroll alone shows the line the content paints above the
      // viewport as the list's does.
      if (list->GetVScrollBar()->GetVisible()) list->GetVScrollBar()->SetValue(104.5f);
      else list->GetHScrollBar()->SetValue(105);
      look();
      Move(250, 120, false);
      look();
      scene->SetFocused(nullptr);
      look();
      // A page further down: what the scroll moves (the rows shown follow as they are painted).
      const uint64_t marks = vgAbsoluteMatrixMarks();
      if (list->GetVScrollBar()->GetVisible())
        list->GetVScrollBar()->SetValue(list->GetVScrollBar()->GetValue() + list->GetViewportHeight());
      const uint64_t scrolled = vgAbsoluteMatrixMarks() - marks;
      // The narrowing is in force for the list, and off for its twin.
      size_t first = 0, end = static_cast<size_t>(count);
      list->ContentShownChildren(first, end);
      const std::vector<TvgObject*>* triggered = list->ContentTriggerChildren();
      if (twin) {
        EXPECT_EQ(end - first, static_cast<size_t>(count)) << state.name;
        EXPECT_EQ(triggered, nullptr) << state.name;
      } else {
        if (state.oneColumn) {
          EXPECT_LT(end - first, 40u) << state.name;
          EXPECT_LT(scrolled, 150u) << state.name;
        }
        ASSERT_NE(triggered, nullptr) << state.name;
        EXPECT_LT(triggered->size(), state.oneColumn ? 40u : 60u) << state.name;
      }
      delete parent;
      Settle();
    }
    ASSERT_EQ(seen[0].size(), seen[1].size());
    for (size_t step = 0; step < seen[0].size(); ++step) {
      int differing = 0;
      for (size_t i = 0; i < seen[0][step].first.size(); ++i) differing += seen[0][step].first[i] != seen[1][step].first[i];
      EXPECT_EQ(differing, 0) << state.name << ", step " << step;
      EXPECT_EQ(seen[0][step].second, seen[1][step].second) << state.name << ", step " << step;
    }
  }
  delete rowStyle;
}

}  // namespace
