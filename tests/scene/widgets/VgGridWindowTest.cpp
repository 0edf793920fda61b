// The grid in a real scene window under Wine: a million rows scrolled to the end and back by
// keys with the right cells shown, a row picked with the mouse, a header item resized by
// dragging its edge, and cells edited by typing and clicking; a picture of it is kept.
#include "SceneWindowFixture.h"
#include "scene/widgets/vg_grid.h"

#include <functional>
#include <set>

namespace {

struct TRowSource {
  void Get(TObject*, int32_t col, int32_t row, Variant& value) {
    if (col == 1) value = Variant(checked.count(row) != 0);
    else value = Variant(WideString(u"row ") + Utf8ToWide(std::to_string(row)));
  }
  void Set(TObject*, int32_t col, int32_t row, const Variant& value) {
    writes.push_back(std::to_string(col) + "," + std::to_string(row) + "=" + value.ToString());
    if (col == 1 && value.ToBool()) checked.insert(row);
  }
  std::set<int32_t> checked;
  std::vector<std::string> writes;
};

class GridWindowTest : public SceneWindowFixture {
 protected:
  GridWindowTest() : SceneWindowFixture(420, 300) {}
  void SetUp() override {
    SceneWindowFixture::SetUp();
    grid = Add<TvgGrid>(10, 10, 400, 280);
    grid->OnGetValue = TOnGetValue::Of<&TRowSource::Get>(&source);
    grid->OnSetValue = TOnSetValue::Of<&TRowSource::Set>(&source);
    text = new TvgColumn(nullptr);
    text->SetHeader(u"Name");
    text->SetWidth(150);
    grid->AddObject(text);
    check = new TvgCheckColumn(nullptr);
    check->SetHeader(u"Done");
    check->SetWidth(60);
    grid->AddObject(check);
    grid->SetRowCount(1000000);
    Settle();
  }
  // The window point of a point of an object.
  POINT At(TvgVisualObject* obj, float x, float y) {
    const TvgPoint p = obj->LocalToAbsolute(vgPoint(x, y));
    return POINT{static_cast<LONG>(p.X), static_cast<LONG>(p.Y)};
  }

  TRowSource source;
  TvgGrid* grid = nullptr;
  TvgColumn* text = nullptr;
  TvgCheckColumn* check = nullptr;
};

TEST_F(GridWindowTest, AMillionRowsByKeysAndMouse) {
  const POINT row3 = At(text->CellByRow(3), 20, 10);
  Click(row3.x, row3.y);
  EXPECT_EQ(grid->GetSelected(), 3);
  EXPECT_EQ(scene->GetFocused(), grid);
  Key(VK_END, {VK_CONTROL});
  EXPECT_EQ(grid->GetSelected(), 999999);
  TvgControl* last = text->CellByRow(999999);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->GetData().ToWideString(), u"row 999999");
  EXPECT_EQ(text->CellByRow(999998)->GetData().ToWideString(), u"row 999998");
  // The last row's cell ends where the viewport ends, and a click on it answers row 999999.
  const TvgVisualObject* viewport = grid->GetViewport();
  EXPECT_EQ(last->LocalToAbsolute(vgPoint(0, 21)).Y,
            const_cast<TvgVisualObject*>(viewport)->LocalToAbsolute(vgPoint(0, viewport->GetHeight())).Y);
  const POINT onLast = At(last, 20, 10);
  Key(VK_UP);
  EXPECT_EQ(grid->GetSelected(), 999998);
  Click(onLast.x, onLast.y);
  EXPECT_EQ(grid->GetSelected(), 999999);
  EXPECT_TRUE(SavePicture("grid_end.png"));
  Key(VK_HOME, {VK_CONTROL});
  EXPECT_EQ(grid->GetSelected(), 0);
  EXPECT_EQ(text->CellByRow(0)->GetData().ToWideString(), u"row 0");
}

// Each way of scrolling and of changing the columns asks the window for one repaint of everything
// it changed: what the window then shows is, pixel for pixel, what a paint of the whole window
// shows.
TEST_F(GridWindowTest, ScrollsRepaintWhatAWholePaintShows) {
  auto* progress = new TvgProgressColumn(nullptr);
  progress->SetHeader(u"Share");
  progress->SetWidth(250);  // the columns are wider than the grid now
  grid->AddObject(progress);
  source.checked = {3, 40, 41, 77, 999990};
  Settle(400);
  ASSERT_TRUE(grid->GetHScrollBar()->GetVisible());
  auto buffer = [this] {
    GdiFlush();
    const uint32_t* bits = scene->GetCanvas()->GetBufferBits();
    return std::vector<uint32_t>(bits, bits + 420 * 300);
  };
  const POINT inGrid = At(grid, 100, 100);
  Click(inGrid.x, inGrid.y);  // the grid takes the keys
  ASSERT_EQ(scene->GetFocused(), grid);
  // Something the step changes.
  auto where = [this] {
    return std::vector<double>{grid->GetVScrollPosition(), grid->GetHScrollBar()->GetValue(),
                               static_cast<double>(grid->GetSelected()), static_cast<double>(grid->GetColumnIndex()),
                               text->GetWidth()};
  };
  const struct {
    const char* what;
    std::function<void()> act;
  } steps[] = {
      {"page down", [&] { Key(VK_NEXT); }},
      {"page up", [&] { Key(VK_PRIOR); }},
      {"a click on another row", [&] {
         const POINT row = At(text->CellByRow(grid->TopRow() + 7), 20, 10);
         Click(row.x, row.y);
       }},
      {"down past the last row in view", [&] {
         grid->SetSelected(grid->TopRow() + static_cast<int32_t>(grid->GetViewportHeight() / 21) - 1);
         Settle();
         Key(VK_DOWN);
       }},
      {"Ctrl+End", [&] { Key(VK_END, {VK_CONTROL}); }},
      {"Ctrl+Home", [&] { Key(VK_HOME, {VK_CONTROL}); }},
      {"the wheel", [&] {
         Move(inGrid.x, inGrid.y, false);
         SendMessageW(Window(), WM_MOUSEWHEEL, MAKEWPARAM(0, -240), MAKELPARAM(inGrid.x, inGrid.y));
         Settle(800);  // the glide
       }},
      {"the vertical bar dragged", [&] { grid->GetVScrollBar()->SetValue(grid->GetVScrollBar()->GetValue() + 333); }},
      {"the last column made current", [&] { Key(VK_END); }},
      {"the horizontal bar dragged", [&] { grid->GetHScrollBar()->SetValue(25); }},
      {"a column resized", [&] {
         const POINT edge = At(grid->GetHeader()->HeaderItem(0), text->GetWidth() - 1.5f, 10);
         Drag(edge.x, edge.y, edge.x - 50, edge.y);
       }},
  };
  for (const auto& step : steps) {
    const std::vector<double> before = where();
    step.act();
    Settle(400);  // check marks fade in and out
    EXPECT_NE(where(), before) << step.what;
    const std::vector<uint32_t> shown = buffer();
    InvalidateRect(Window(), nullptr, FALSE);
    UpdateWindow(Window());
    const std::vector<uint32_t> whole = buffer();
    int differing = 0;
    for (size_t i = 0; i < whole.size(); ++i) differing += shown[i] != whole[i];
    EXPECT_EQ(differing, 0) << step.what;
  }
}

TEST_F(GridWindowTest, HeaderEdgesDragToResizeColumns) {
  TvgHeader* header = grid->GetHeader();
  ASSERT_NE(header, nullptr);
  TvgHeaderItem* first = header->HeaderItem(0);
  ASSERT_NE(first, nullptr);
  const POINT edge = At(first, first->GetWidth() - 1.5f, 10);
  // The new width is where the pointer is let go, measured from the item's left edge.
  const float left = first->LocalToAbsolute(vgPoint(0, 0)).X;
  Drag(edge.x, edge.y, edge.x + 40, edge.y);
  EXPECT_NEAR(text->GetWidth(), edge.x + 40 - left, 1);
  EXPECT_NEAR(check->GetPosition()->GetX(), text->GetWidth(), 0.01);
  // Dragged far to the left the column keeps 10 units.
  const POINT edge2 = At(first, first->GetWidth() - 1.5f, 10);
  Drag(edge2.x, edge2.y, edge2.x - 300, edge2.y);
  EXPECT_EQ(text->GetWidth(), 10.0f);
}

TEST_F(GridWindowTest, HeaderItemsDroppedOnEachOtherReorderTheColumns) {
  TvgHeader* header = grid->GetHeader();
  ASSERT_NE(header, nullptr);
  const POINT from = At(header->HeaderItem(0), 40, 10);
  const POINT to = At(header->HeaderItem(1), 30, 10);
  // A press on an item (away from its edges) starts a drag through the scene.
  SendMessageW(Window(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(from.x, from.y));
  ASSERT_NE(scene->GetNativeDragControl(), nullptr);
  HWND capture = GetCapture();
  ASSERT_NE(capture, nullptr);
  POINT over = to;
  ClientToScreen(Window(), &over);
  ScreenToClient(capture, &over);
  SendMessageW(capture, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(over.x, over.y));
  SendMessageW(capture, WM_LBUTTONUP, 0, MAKELPARAM(over.x, over.y));
  Settle();
  EXPECT_EQ(grid->ColumnAt(0), check);
  EXPECT_EQ(grid->ColumnAt(1), text);
  EXPECT_EQ(header->HeaderItem(0)->GetText(), u"Done");
  EXPECT_EQ(header->HeaderItem(1)->GetText(), u"Name");
  EXPECT_EQ(check->GetPosition()->GetX(), 0.0f);
  EXPECT_TRUE(SavePicture("grid_reordered.png"));
}

TEST_F(GridWindowTest, CellsEditByTypingAndClicking) {
  const POINT row2 = At(text->CellByRow(2), 20, 10);
  Click(row2.x, row2.y);
  ASSERT_EQ(grid->GetSelected(), 2);
  // Typing on the grid starts editing the current cell; Enter writes it back.
  Type(u"hello");
  Key(VK_RETURN);
  ASSERT_FALSE(source.writes.empty());
  EXPECT_EQ(source.writes.back(), "0,2=hello");
  EXPECT_EQ(scene->GetFocused(), grid);
  // Escape drops an edit.
  source.writes.clear();
  Key(VK_F2);
  Type(u"gone");
  Key(VK_ESCAPE);
  EXPECT_TRUE(source.writes.empty());
  // A click on the check cell of the selected row ticks it.
  Key(VK_RIGHT);
  const POINT box = At(check->CellByRow(2), 8, 10);
  Click(box.x, box.y);
  ASSERT_FALSE(source.writes.empty());
  EXPECT_EQ(source.writes.back(), "1,2=True");
  Settle(300);  // the check mark fades in
  EXPECT_TRUE(SavePicture("grid_edit.png"));
}

}  // namespace
