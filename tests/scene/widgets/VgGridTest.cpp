// The grid header in the default style: layout from the scroll offset with the filler last,
// resizing through the items' grips and reordering by dropping one item on another.
#include "scene/widgets/vg_grid.h"

#include <gtest/gtest.h>

#include "StyledSceneSupport.h"

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

}  // namespace
