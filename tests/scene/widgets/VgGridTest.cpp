// The grid header in the default style: layout from the scroll offset with the filler last,
// resizing through the items' grips and reordering by dropping one item on another.
#include "scene/widgets/vg_grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "StyledSceneSupport.h"
#include "scene/controls/vg_layouts.h"

namespace {

const TShiftState kLeft{ssLeft};

class HeaderTest : public StyledSceneFixture {
 protected:
  void SetUp() override {
    StyledSceneFixture::SetUp();
    header = Add<TvgHeader>(0, 0, 300, 20);
    for (float width : {50.0f, 60.0f, 70.0f}) {
      auto* item = new TvgHeaderItem(nullptr);
      item->SetWidth(width);
      item->SetParent(header);
      item->ApplyResource();
      items.push_back(item);
    }
    header->Realign();
  }
  float X(TvgVisualObject* item) { return item->GetPosition()->GetX(); }

 public:
  void Events(TObject* sender, int32_t oldIndex, int32_t newIndex) { moves.push_back({oldIndex, newIndex}); }
  void AtLeastTen(TObject*, float& size) { size = std::max(size, 10.0f); }
  void Raise(TObject*, float&) { throw std::runtime_error("resize"); }

 protected:

  TvgHeader* header = nullptr;
  std::vector<TvgHeaderItem*> items;
  std::vector<std::pair<int32_t, int32_t>> moves;
};

TEST_F(HeaderTest, ItemsLineUpFromTheScrollOffsetAndTheFillerTakesTheRest) {
  TvgHeaderItem* filler = header->GetFiller();
  ASSERT_EQ(header->HeaderItem(3), filler);  // added items go before the filler
  EXPECT_EQ(X(items[1]), 50.0f);
  EXPECT_EQ(X(filler), 180.0f);
  EXPECT_EQ(filler->GetWidth(), 120.0f);
  EXPECT_EQ(items[2]->GetHeight(), 20.0f);
  // Rounded corners: top left on the first item, top right on the filler; inner items draw their
  // left edge and no right edge.
  EXPECT_EQ(items[0]->GetCorners(), TvgCorners{vgCornerTopLeft});
  EXPECT_EQ(items[1]->GetCorners(), TvgCorners());
  EXPECT_EQ(filler->GetCorners(), TvgCorners{vgCornerTopRight});
  EXPECT_FALSE(items[1]->GetSides().Contains(vgSideRight));
  EXPECT_TRUE(items[1]->GetSides().Contains(vgSideLeft));
  EXPECT_TRUE(filler->GetSides().Contains(vgSideRight));
  header->SetScrollOffset(-30);
  header->Realign();
  EXPECT_EQ(X(items[0]), -30.0f);
  EXPECT_EQ(X(items[2]), 80.0f);
  EXPECT_EQ(filler->GetWidth(), 150.0f);
  // Items wider than the header leave the filler no width.
  items[2]->SetWidth(400);
  header->Realign();
  EXPECT_EQ(filler->GetWidth(), 0.0f);
}

TEST_F(HeaderTest, GripsResizeTheirItemOrTheOneBefore) {
  header->OnResizeItem = TvgOnResizeItemEvent::Of<&HeaderTest::AtLeastTen>(this);
  TvgVisualObject* grip = items[0]->GetRightGrip();
  ASSERT_EQ(grip->GetPosition()->GetX(), 47.0f);  // 3 wide at the right edge
  grip->MouseDown(mbLeft, kLeft, 1, 5);
  grip->MouseMove(kLeft, 31, 5, 30, 0);  // item x 78
  EXPECT_EQ(items[0]->GetWidth(), 78.0f);
  EXPECT_EQ(X(items[1]), 78.0f);
  // Left of the item's own left edge: clamped to 0, then the handler raises it to 10.
  grip->MouseMove(kLeft, -200, 5, 0, 0);
  EXPECT_EQ(items[0]->GetWidth(), 10.0f);
  grip->MouseUp(mbLeft, TShiftState(), -200, 5);
  header->OnResizeItem = TvgOnResizeItemEvent();
  grip->MouseMove(kLeft, -200, 5, 0, 0);  // released: nothing
  EXPECT_EQ(items[0]->GetWidth(), 10.0f);
  grip->MouseDown(mbLeft, kLeft, 1, 5);
  grip->MouseMove(kLeft, -200, 5, 0, 0);
  EXPECT_EQ(items[0]->GetWidth(), 0.0f);
  grip->MouseUp(mbLeft, TShiftState(), -200, 5);
  // The left grip of the second item resizes the first.
  items[0]->SetWidth(50);
  header->Realign();
  TvgVisualObject* left = items[1]->GetLeftGrip();
  left->MouseDown(mbLeft, kLeft, 1, 5);
  left->MouseMove(kLeft, 11, 5, 10, 0);  // x 61 in the header
  EXPECT_EQ(items[0]->GetWidth(), 61.0f);
  EXPECT_EQ(items[1]->GetWidth(), 60.0f);
  left->MouseUp(mbLeft, TShiftState(), 11, 5);
  // The first item's left grip has nothing before it.
  items[0]->GetLeftGrip()->MouseDown(mbLeft, kLeft, 1, 5);
  items[0]->GetLeftGrip()->MouseMove(kLeft, 20, 5, 19, 0);
  EXPECT_EQ(items[0]->GetWidth(), 61.0f);
  // A resize through the left grip that raises lets the grip before it go: a move over that one
  // then resizes nothing, and the header lays out again.
  header->OnResizeItem = TvgOnResizeItemEvent::Of<&HeaderTest::Raise>(this);
  left->MouseDown(mbLeft, kLeft, 1, 5);
  EXPECT_THROW(left->MouseMove(kLeft, 21, 5, 20, 0), std::runtime_error);
  left->MouseUp(mbLeft, TShiftState(), 21, 5);
  header->OnResizeItem = TvgOnResizeItemEvent();
  items[0]->GetRightGrip()->MouseMove(kLeft, 30, 5, 0, 0);
  EXPECT_EQ(items[0]->GetWidth(), 61.0f);
  auto* part = new TRaisingLayout(nullptr);
  part->SetAlign(vaClient);
  part->SetParent(items[1]);
  (new TvgLayout(nullptr))->SetParent(part);  // a child: the part's size change lays it out
  part->raiseLayout = true;
  EXPECT_THROW(header->SetHeight(30), std::runtime_error);
  part->raiseLayout = false;
  items[0]->SetWidth(40);
  header->Realign();
  EXPECT_EQ(X(items[1]), 40.0f);
}

TEST_F(HeaderTest, DroppingAnItemOnAnotherMovesItThere) {
  header->OnRealignItem = TvgOnRealignItemEvent::Of<&HeaderTest::Events>(this);
  TvgDragObject drag;
  drag.Source = items[0];
  bool accept = false;
  items[2]->DragOver(drag, vgPoint(5, 5), accept);
  EXPECT_TRUE(accept);
  header->GetFiller()->DragOver(drag, vgPoint(5, 5), accept);
  EXPECT_FALSE(accept);  // the filler takes no drop
  TvgHeader other(nullptr);
  auto* stranger = new TvgHeaderItem(nullptr);
  stranger->SetParent(&other);
  TvgDragObject foreign;
  foreign.Source = stranger;
  items[1]->DragOver(foreign, vgPoint(5, 5), accept);
  EXPECT_FALSE(accept);
  items[2]->DragDrop(drag, vgPoint(5, 5));
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0], (std::pair<int32_t, int32_t>{0, 2}));
  EXPECT_EQ(header->HeaderItem(2), items[0]);
  EXPECT_EQ(header->HeaderItem(0), items[1]);
  EXPECT_EQ(X(items[0]), 130.0f);  // laid out again: 60 + 70
  EXPECT_EQ(header->HeaderItem(3), header->GetFiller());
  items[1]->DragDrop(foreign, vgPoint(5, 5));
  EXPECT_EQ(moves.size(), 1u);
}


// --- Grid

// Answers "r<row>c<col>" for every cell and records what is written back.
struct TValueSource {
  void Get(TObject*, int32_t col, int32_t row, Variant& value) {
    value = Variant(std::string("r") + std::to_string(row) + "c" + std::to_string(col));
  }
  void Set(TObject*, int32_t col, int32_t row, const Variant& value) {
    writes.push_back(std::to_string(col) + "," + std::to_string(row) + "=" + value.ToString());
  }
  std::vector<std::string> writes;
};

class GridTest : public StyledSceneFixture {
 protected:
  void SetUp() override {
    StyledSceneFixture::SetUp();
    grid = Add<TvgGrid>(0, 0, 300, 250);
    grid->OnGetValue = TOnGetValue::Of<&TValueSource::Get>(&source);
    grid->OnSetValue = TOnSetValue::Of<&TValueSource::Set>(&source);
  }
  template <typename T>
  T* AddColumn(const char* header, float width = 100) {
    auto* column = new T(nullptr);
    column->SetWidth(width);
    column->SetHeader(Utf8ToWide(header));
    grid->AddObject(column);
    return column;
  }
  static std::string Text(TvgControl* cell) { return cell != nullptr ? cell->GetData().ToString() : "<none>"; }
  static std::string Tag(TvgControl* cell) { return cell != nullptr ? cell->GetTagString() : "<none>"; }
  void Press(uint16_t key, TShiftState shift = TShiftState()) {
    WideChar none = 0;
    grid->KeyDown(key, none, shift);
  }
  // The cell's top in the viewport's coordinates.
  float CellTop(TvgControl* cell) { return grid->GetViewport()->AbsoluteToLocal(cell->LocalToAbsolute(vgPoint(0, 0))).Y; }

  TvgGrid* grid = nullptr;
  TValueSource source;
};

TEST_F(GridTest, NewGridDefaultsAndClamps) {
  EXPECT_EQ(grid->GetRowCount(), 100);
  EXPECT_EQ(grid->GetRowHeight(), 21.0f);
  EXPECT_EQ(grid->GetSelected(), 0);
  EXPECT_EQ(grid->GetColumnIndex(), 0);
  grid->SetRowHeight(2);
  EXPECT_EQ(grid->GetRowHeight(), 5.0f);
  EXPECT_EQ(grid->GetItemClassNames(), "TvgColumn;TvgCheckColumn;TvgProgressColumn;TvgPopupColumn;TvgImageColumn");
  ASSERT_NE(grid->GetHeader(), nullptr);  // the style's header place holds one
  EXPECT_EQ(grid->ColumnAt(0), nullptr);
}

// One layout gives the final geometry, also when the bars come and go one after the other: the
// first column of a grid of many rows brings the vertical bar, which narrows the viewport below
// the content's width and so brings the horizontal one, which goes again once the content is
// measured against the narrower viewport. The column is as tall as the viewport, and a second
// layout changes nothing.
TEST_F(GridTest, OneLayoutGivesTheFinalGeometry) {
  TvgColumn* column = AddColumn<TvgColumn>("A");
  const TvgRect viewport = grid->GetViewport()->GetLocalRect();
  EXPECT_EQ(column->GetHeight(), viewport.Bottom);
  grid->Realign();
  EXPECT_EQ(grid->GetViewport()->GetLocalRect(), viewport);
  EXPECT_EQ(column->GetHeight(), viewport.Bottom);
}

TEST_F(GridTest, CellsAreMadeForVisibleRowsAndReusedWhileScrolling) {
  grid->SetRowCount(3);
  TvgColumn* column = AddColumn<TvgColumn>("Name");
  EXPECT_GE(grid->VisibleRows(), 10);
  EXPECT_EQ(column->Cells().size(), 3u);
  EXPECT_EQ(Text(column->CellByRow(2)), "r2c0");
  grid->SetRowCount(20);
  ASSERT_EQ(static_cast<int32_t>(column->Cells().size()), std::min(grid->VisibleRows(), 20));
  // One row down: the same cell objects, cell 0 now showing row 1.
  const std::vector<TvgControl*> before = column->Cells();
  grid->SetVScrollPosition(21);
  EXPECT_EQ(grid->TopRow(), 1);
  EXPECT_EQ(column->Cells(), before);
  EXPECT_EQ(Tag(before[0]), "(0,1)");
  EXPECT_EQ(Text(before[0]), "r1c0");
  EXPECT_EQ(CellTop(before[0]), 0.0f);
  // Half a row further the content moves, not the cells.
  grid->SetVScrollPosition(31.5);
  EXPECT_EQ(Tag(before[0]), "(0,1)");
  EXPECT_EQ(CellTop(before[0]), -10.5f);
  // A cell freed by other code is not filled again: one is made in its place.
  delete before[0];
  grid->SetVScrollPosition(42);
  ASSERT_EQ(column->Cells().size(), before.size());
  EXPECT_EQ(Tag(column->CellByRow(2)), "(0,2)");
}

TEST_F(GridTest, SelectionScrollsIntoViewAndKeysMoveIt) {
  AddColumn<TvgColumn>("A");
  AddColumn<TvgColumn>("B");
  AddColumn<TvgColumn>("C");
  grid->SetSelected(500);
  EXPECT_EQ(grid->GetSelected(), 99);
  // Row 99 is the last fully visible row.
  const double viewport = grid->GetViewportHeight();
  EXPECT_EQ(grid->GetVScrollPosition(), 100 * 21 - viewport);
  ASSERT_FALSE(grid->SelectionMarks().empty());
  EXPECT_TRUE(grid->SelectionMarks()[0]->GetVisible());
  Press(36, TShiftState{ssCtrl});
  EXPECT_EQ(grid->GetSelected(), 0);
  EXPECT_EQ(grid->GetVScrollPosition(), 0.0);
  Press(40);
  Press(40);
  EXPECT_EQ(grid->GetSelected(), 2);
  Press(34);  // a page down
  EXPECT_EQ(grid->GetSelected(), 2 + grid->VisibleRows());
  Press(35, TShiftState{ssCtrl});
  EXPECT_EQ(grid->GetSelected(), 99);
  Press(35);
  EXPECT_EQ(grid->GetColumnIndex(), 2);
  Press(37);
  EXPECT_EQ(grid->GetColumnIndex(), 1);
  Press(36);
  EXPECT_EQ(grid->GetColumnIndex(), 0);
  // Without rows nothing is selected and nothing is marked.
  grid->SetRowCount(0);
  grid->SetSelected(5);
  EXPECT_EQ(grid->GetSelected(), -1);
  for (TvgVisualObject* mark : grid->SelectionMarks()) EXPECT_FALSE(mark->GetVisible());
}

TEST_F(GridTest, AMillionRowsStayExactAtTheEnd) {
  TvgColumn* column = AddColumn<TvgColumn>("Row");
  grid->SetRowCount(1000000);
  Press(35, TShiftState{ssCtrl});
  ASSERT_EQ(grid->GetSelected(), 999999);
  // 21,000,000 pixels of rows: beyond what a float holds exactly, yet the last row's cell sits
  // exactly at the viewport's bottom and the rows above it in order.
  const float viewport = grid->GetViewportHeight();
  TvgControl* last = column->CellByRow(999999);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(Text(last), "r999999c0");
  EXPECT_EQ(CellTop(last), viewport - 21);
  TvgControl* above = column->CellByRow(999998);
  ASSERT_NE(above, nullptr);
  EXPECT_EQ(CellTop(above), viewport - 42);
  EXPECT_EQ(grid->TopRow(), static_cast<int32_t>(std::floor((21000000.0 - viewport) / 21)));
  // The row under a point of the last row's cell is that row.
  const TvgPoint inLast = grid->AbsoluteToLocal(last->LocalToAbsolute(vgPoint(5, 10)));
  EXPECT_EQ(grid->RowByPoint(inLast.X, inLast.Y), 999999);
  // And back to the start.
  Press(36, TShiftState{ssCtrl});
  EXPECT_EQ(Text(column->CellByRow(0)), "r0c0");
  EXPECT_EQ(CellTop(column->CellByRow(0)), 0.0f);
}

// Scrolling fills every visible cell again and a layout places every column, cell, header item
// and bar again, each asking for its own areas: the scene gets one request for all, covering the
// viewport.
TEST_F(GridTest, ScrollsAndLayoutsAskTheSceneForOneRepaint) {
  AddColumn<TvgColumn>("Text", 150);
  AddColumn<TvgCheckColumn>("Check", 100);
  AddColumn<TvgProgressColumn>("Progress", 120);  // wider than the viewport together
  grid->SetRowCount(1000);
  ASSERT_TRUE(grid->GetHScrollBar()->GetVisible());
  // A step of a drag of the first header item's right edge, by dx.
  auto resize = [this](float dx) {
    TvgVisualObject* grip = grid->GetHeader()->HeaderItem(0)->GetRightGrip();
    grip->MouseDown(mbLeft, kLeft, 1, 5);
    scene.updates.clear();
    grip->MouseMove(kLeft, 1 + dx, 5, dx, 0);
    grip->MouseUp(mbLeft, TShiftState(), 1 + dx, 5);
  };
  auto drop = [this] {
    TvgDragObject drag;
    drag.Source = grid->GetHeader()->HeaderItem(0);
    grid->GetHeader()->HeaderItem(1)->DragDrop(drag, vgPoint(1, 1));
  };
  const struct {
    const char* what;
    std::function<void()> act;
  } cases[] = {
      {"page down", [&] { Press(34); }},
      {"page up", [&] { Press(33); }},
      {"down past the last row in view", [&] {
         const int32_t last = grid->TopRow() + static_cast<int32_t>(grid->GetViewportHeight() / 21) - 1;
         grid->SetSelected(last);
         scene.updates.clear();
         Press(40);
       }},
      {"down within the view", [&] { Press(40); }},
      {"Ctrl+End", [&] { Press(35, TShiftState{ssCtrl}); }},
      {"Ctrl+Home", [&] { Press(36, TShiftState{ssCtrl}); }},
      {"the vertical bar dragged", [&] { grid->GetVScrollBar()->SetValue(grid->GetVScrollBar()->GetValue() + 50); }},
      {"the last column made current", [&] { Press(35); }},
      {"the horizontal bar dragged", [&] { grid->GetHScrollBar()->SetValue(40); }},
      {"a column resized", [&] { resize(-40); }},
      {"a column moved", drop},
      {"a column added", [&] { AddColumn<TvgColumn>("More", 80); }},
      {"fewer rows", [&] { grid->SetRowCount(500); }},
  };
  for (const auto& c : cases) {
    scene.updates.clear();
    c.act();
    ASSERT_EQ(scene.updates.size(), 1u) << c.what;
    EXPECT_EQ(vgUnionRect(scene.updates[0], grid->GetViewport()->GetAbsoluteRect()), scene.updates[0]) << c.what;
  }
}

TEST_F(GridTest, TextCellsWriteEditsBackAndEscapeRestores) {
  TvgColumn* column = AddColumn<TvgColumn>("Text");
  grid->SetSelected(2);
  Press(113);  // F2 focuses the current cell of the selected row
  auto* cell = dynamic_cast<TvgTextCell*>(column->CellByRow(2));
  ASSERT_NE(cell, nullptr);
  ASSERT_EQ(scene.focused, cell);
  cell->SetText(u"edited");
  uint16_t enter = 13;
  WideChar none = 0;
  cell->KeyDown(enter, none, TShiftState());
  EXPECT_EQ(scene.focused, grid);
  ASSERT_FALSE(source.writes.empty());
  EXPECT_EQ(source.writes.back(), "0,2=edited");
  // Escape puts the value it had on entry back and writes nothing.
  source.writes.clear();
  Press(113);
  cell->SetText(u"discarded");
  uint16_t escape = 27;
  cell->KeyDown(escape, none, TShiftState());
  EXPECT_EQ(Text(cell), "edited");
  EXPECT_EQ(scene.focused, grid);
  EXPECT_TRUE(source.writes.empty());
  // The character Escape leaves behind (as Backspace's and Tab's) starts no edit.
  uint16_t nokey = 0;
  WideChar escapeChar = 27;
  grid->KeyDown(nokey, escapeChar, TShiftState());
  EXPECT_EQ(scene.focused, grid);
  // Only the selected row's cell in the current column takes the focus.
  bool allow = true;
  column->CellByRow(3)->OnCanFocused(column->CellByRow(3), allow);
  EXPECT_FALSE(column->CellByRow(3)->GetCanFocused());
  // Typing on the grid starts editing the current cell.
  uint16_t key = 'Q';
  WideChar typed = u'q';
  grid->KeyDown(key, typed, TShiftState());
  EXPECT_EQ(scene.focused, cell);
  EXPECT_EQ(cell->GetText(), u"q");
  // A read-only grid refuses the focus to its cells.
  grid->SetReadOnly(true);
  column->CellByRow(2)->OnCanFocused(column->CellByRow(2), allow);
  EXPECT_FALSE(allow);
}

TEST_F(GridTest, EditorColumnsShowValuesAndOnlyTextAndChecksWriteBack) {
  auto* check = AddColumn<TvgCheckColumn>("Check");
  auto* progress = AddColumn<TvgProgressColumn>("Progress");
  auto* popup = AddColumn<TvgPopupColumn>("Popup");
  auto* image = AddColumn<TvgImageColumn>("Image");
  grid->OnGetValue = TOnGetValue();
  grid->SetRowCount(4);
  popup->GetItems()->Add(u"one");  // cells made before take the items too
  auto* box = dynamic_cast<TvgCheckCell*>(check->CellByRow(0));
  ASSERT_NE(box, nullptr);
  box->SetIsChecked(true);
  ASSERT_EQ(source.writes.size(), 1u);
  EXPECT_EQ(source.writes[0], "0,0=True");
  dynamic_cast<TvgProgressCell*>(progress->CellByRow(0))->SetData(Variant(40.0));
  dynamic_cast<TvgPopupCell*>(popup->CellByRow(0))->SetItemIndex(0);
  EXPECT_EQ(source.writes.size(), 1u);
  EXPECT_EQ(dynamic_cast<TvgPopupCell*>(popup->CellByRow(1))->GetItems()->GetCount(), 1);
  EXPECT_FALSE(dynamic_cast<TvgImageCell*>(image->CellByRow(0))->GetEnableOpenDialog());
  EXPECT_EQ(grid->ColumnCount(), 4);
}

TEST_F(GridTest, HeaderFollowsTheColumnsAndResizesAndMovesThem) {
  TvgColumn* a = AddColumn<TvgColumn>("A", 80);
  TvgColumn* b = AddColumn<TvgColumn>("B", 60);
  TvgColumn* c = AddColumn<TvgColumn>("C", 40);
  TvgHeader* header = grid->GetHeader();
  ASSERT_NE(header, nullptr);
  // One item per column, the filler last.
  ASSERT_EQ(header->GetChildrenCount(), 4);
  EXPECT_EQ(header->HeaderItem(1)->GetText(), u"B");
  EXPECT_EQ(header->HeaderItem(1)->GetWidth(), 60.0f);
  EXPECT_EQ(header->HeaderItem(3), header->GetFiller());
  b->SetHeader(u"Bee");
  EXPECT_EQ(header->HeaderItem(1)->GetText(), u"Bee");
  // A column removed takes its item with it.
  delete c;
  grid->Realign();
  EXPECT_EQ(header->GetChildrenCount(), 3);
  // Resizing an item below 10 gives its column 10.
  float size = 4;
  header->OnResizeItem(header->HeaderItem(0), size);
  EXPECT_EQ(size, 10.0f);
  EXPECT_EQ(a->GetWidth(), 10.0f);
  EXPECT_EQ(b->GetPosition()->GetX(), 10.0f);
  // Dropping the first item on the second moves its column, the current one with it.
  TvgDragObject drag;
  drag.Source = header->HeaderItem(0);
  header->HeaderItem(1)->DragDrop(drag, vgPoint(1, 1));
  EXPECT_EQ(grid->ColumnAt(0), b);
  EXPECT_EQ(grid->ColumnAt(1), a);
  EXPECT_EQ(grid->GetColumnIndex(), 1);
  EXPECT_EQ(header->HeaderItem(1)->GetText(), u"A");
  // Another column moved across the current one: the index still names the current column.
  drag.Source = header->HeaderItem(0);
  header->HeaderItem(1)->DragDrop(drag, vgPoint(1, 1));
  EXPECT_EQ(grid->ColumnAt(0), a);
  EXPECT_EQ(grid->GetColumnIndex(), 0);
}

// However a column goes (freed, moved out or to another grid, taken out), ColumnIndex keeps naming
// the current column, and the header follows at once; the current one going, when it was the
// last, leaves the new last current.
TEST_F(GridTest, TheCurrentColumnStaysCurrentWhenAColumnGoes) {
  const std::pair<const char*, std::function<void(TvgColumn*)>> ways[] = {
      {"freed", [](TvgColumn* c) { delete c; }},
      {"moved out", [](TvgColumn* c) { c->SetParent(nullptr), delete c; }},
      {"moved to another grid", [this](TvgColumn* c) { Add<TvgGrid>(0, 260, 100, 100)->AddObject(c); }},
      {"taken out", [this](TvgColumn* c) { grid->GetContent()->RemoveObject(c), delete c; }},
  };
  for (const auto& [how, remove] : ways) {
    std::vector<TvgColumn*> columns;
    for (const char* name : {"A", "B", "C"}) columns.push_back(AddColumn<TvgColumn>(name));
    grid->SetColumnIndex(2);
    remove(columns[0]);
    EXPECT_EQ(grid->ColumnAt(grid->GetColumnIndex()), columns[2]) << how;
    EXPECT_EQ(grid->GetHeader()->GetChildrenCount(), 3) << how;  // two items and the filler
    remove(columns[2]);
    EXPECT_EQ(grid->ColumnAt(grid->GetColumnIndex()), columns[1]) << how;
    delete columns[1];
  }
}

TEST_F(GridTest, LinesAndAlternatingRowsArePaintedForTheRowsInView) {
  TWidgetCanvas canvas(640, 480);
  scene.canvas = &canvas;
  AddColumn<TvgColumn>("A");
  grid->SetRowCount(3);
  grid->SetAlternatingRowBackground(true);
  canvas.fills.clear();
  grid->GetViewport()->OnPaint(grid->GetViewport(), &canvas, grid->GetViewport()->GetLocalRect());
  grid->GetViewport()->OnBeforePaint(grid->GetViewport(), &canvas, grid->GetViewport()->GetLocalRect());
  // Four horizontal lines around three rows, one vertical line; one odd row filled.
  EXPECT_EQ(canvas.lines.size(), 5u);
  ASSERT_EQ(canvas.fills.size(), 1u);
  EXPECT_EQ(canvas.fills[0].Top, 21.0f);
  scene.canvas = nullptr;
}

// --- String grid

TEST_F(GridTest, StringGridKeepsTextsPerColumnAndChecksTheRow) {
  auto* strings = Add<TvgStringGrid>(0, 0, 300, 200);
  EXPECT_EQ(strings->GetResource(), "gridstyle");
  EXPECT_EQ(strings->GetItemClassNames(), "TvgStringColumn");
  auto* column = new TvgStringColumn(nullptr);
  strings->AddObject(column);
  strings->SetRowCount(10);
  strings->SetValue(0, 5, Variant(std::string("x")));
  EXPECT_EQ(strings->GetCell(0, 5), u"x");
  strings->SetRowCount(20);
  EXPECT_EQ(strings->GetCell(0, 5), u"x");
  Variant missing;
  strings->GetValue(3, 0, missing);
  EXPECT_TRUE(missing.IsEmpty());
  // Rows outside the grid are never written (nor read).
  strings->SetValue(0, 20, Variant(std::string("past the end")));
  strings->SetValue(0, -1, Variant(std::string("before the start")));
  EXPECT_EQ(column->Texts().size(), 20u);
  strings->GetValue(0, 25, missing);
  EXPECT_TRUE(missing.IsEmpty());
  // Cells show the texts; an edit goes into the texts.
  strings->SetCell(0, 1, u"shown");
  EXPECT_EQ(column->CellByRow(1)->GetData().ToWideString(), u"shown");
}

}  // namespace
