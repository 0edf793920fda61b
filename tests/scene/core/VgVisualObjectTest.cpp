// The visual object: layout of aligned children, absolute matrix, opacity and enabled caches,
// update rects queued with the scene, BeginUpdate/EndUpdate, hit testing, input and painting.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <future>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

#include "ObjectsTestSupport.h"

namespace {

class VisualTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterProbeClasses();
    root = new TvgVisualObject(nullptr);
    root->SetBounds(0, 0, 200, 100);
    scene.AddObject(root);
  }
  void TearDown() override { delete root; }

  TvgVisualObject* Child(TvgAlign align, float x, float y, float w, float h, TvgVisualObject* parent = nullptr) {
    auto* c = new TvgVisualObject(nullptr);
    c->SetBounds(x, y, w, h);
    c->SetAlign(align);
    c->SetParent(parent != nullptr ? parent : root);
    return c;
  }
  static bool Covers(const std::vector<TvgRect>& rects, const TvgRect& r) {
    for (const TvgRect& u : rects) {
      if (u.Left <= r.Left && u.Top <= r.Top && u.Right >= r.Right && u.Bottom >= r.Bottom) return true;
    }
    return false;
  }

  TTestScene scene;
  TvgVisualObject* root = nullptr;
};

// --- Layout

TEST_F(VisualTest, TopChildrenStackByTheirPositionAndClientTakesTheRest) {
  root->BeginUpdate();
  auto* lower = Child(vaTop, 0, 10, 50, 20);
  auto* upper = Child(vaTop, 0, 5, 50, 30);
  auto* bottom = Child(vaBottom, 0, 0, 50, 15);
  auto* client = Child(vaClient, 0, 0, 10, 10);
  root->EndUpdate();
  EXPECT_EQ(upper->GetPosition()->GetPoint(), vgPoint(0, 0));
  EXPECT_EQ(upper->GetWidth(), 200);
  EXPECT_EQ(lower->GetPosition()->GetPoint(), vgPoint(0, 30));
  EXPECT_EQ(bottom->GetPosition()->GetPoint(), vgPoint(0, 85));
  EXPECT_EQ(client->GetPosition()->GetPoint(), vgPoint(0, 50));
  EXPECT_EQ(client->GetHeight(), 35);
  EXPECT_EQ(client->GetWidth(), 200);
}

TEST_F(VisualTest, RightChildrenArePlacedRightmostFirstWithMarginsAndPadding) {
  root->GetMargins()->SetRect(vgRect(4, 4, 6, 4));
  root->BeginUpdate();
  auto* a = Child(vaRight, 10, 0, 20, 10);
  auto* b = Child(vaRight, 100, 0, 30, 10);
  b->GetPadding()->SetRect(vgRect(1, 2, 3, 4));
  root->EndUpdate();
  // b's right edge is further right: it goes first, against the right margin.
  EXPECT_EQ(b->GetPosition()->GetX(), 200 - 6 - 3 - 30);
  EXPECT_EQ(b->GetPosition()->GetY(), 4 + 2);
  EXPECT_EQ(b->GetHeight(), 100 - 8 - 6);
  EXPECT_EQ(a->GetPosition()->GetX(), 200 - 6 - 34 - 20);
}

TEST_F(VisualTest, ObjectsUnderTwoUnitsNeverLayOut) {
  auto* parent = Child(vaNone, 0, 0, 1.5f, 40);
  auto* inner = Child(vaClient, 3, 3, 5, 5, parent);
  parent->Realign();
  EXPECT_EQ(inner->GetWidth(), 5);
  parent->SetWidth(2);
  EXPECT_EQ(inner->GetWidth(), 2);
  EXPECT_EQ(inner->GetPosition()->GetPoint(), vgPoint(0, 0));
}

TEST_F(VisualTest, CornerAlignedChildrenFollowTheParentsSizeChange) {
  auto* parent = Child(vaNone, 0, 0, 100, 100);
  auto* tr = Child(vaTopRight, 80, 0, 20, 10, parent);
  auto* br = Child(vaBottomRight, 80, 90, 20, 10, parent);
  parent->Realign();  // records the size the children were laid out for
  parent->SetWidth(150);
  parent->SetHeight(120);
  EXPECT_EQ(tr->GetPosition()->GetPoint(), vgPoint(130, 0));
  EXPECT_EQ(tr->GetWidth(), 20);
  EXPECT_EQ(br->GetPosition()->GetPoint(), vgPoint(130, 110));
}

TEST_F(VisualTest, ContentsCenterScaleAndFit) {
  auto* contents = Child(vaContents, 5, 5, 1, 1);
  contents->GetPadding()->SetRect(vgRect(2, 3, 4, 5));
  auto* center = Child(vaCenter, 0, 0, 51, 21);
  root->GetMargins()->SetRect(vgRect(10, 10, 10, 10));
  root->Realign();
  EXPECT_EQ(contents->GetPosition()->GetPoint(), vgPoint(2, 3));
  EXPECT_EQ(contents->GetWidth(), 194);
  EXPECT_EQ(contents->GetHeight(), 92);
  EXPECT_EQ(center->GetPosition()->GetPoint(), vgPoint(10 + 64, 10 + 29));

  auto* box = Child(vaNone, 0, 0, 100, 100);
  auto* scaled = Child(vaScale, 10, 20, 30, 40, box);
  auto* fit = Child(vaFit, 0, 0, 10, 5, box);
  box->Realign();
  EXPECT_EQ(fit->GetWidth(), 100);  // enlarged to fit, aspect kept
  EXPECT_EQ(fit->GetHeight(), 50);
  EXPECT_EQ(fit->GetPosition()->GetPoint(), vgPoint(0, 25));
  box->SetWidth(200);
  EXPECT_EQ(scaled->GetPosition()->GetPoint(), vgPoint(20, 20));
  EXPECT_EQ(scaled->GetWidth(), 60);
  EXPECT_EQ(scaled->GetHeight(), 40);
}

TEST_F(VisualTest, VerticalAndHorizontalKeepTheirOwnAxisUnderRepeatedLayouts) {
  auto* vertical = Child(vaVertical, 30, 0, 20, 10);
  vertical->GetPadding()->SetRect(vgRect(5, 5, 5, 5));
  root->Realign();
  root->Realign();
  EXPECT_EQ(vertical->GetPosition()->GetX(), 30);
  EXPECT_EQ(vertical->GetWidth(), 20);
  EXPECT_EQ(vertical->GetPosition()->GetY(), 5);
  EXPECT_EQ(vertical->GetHeight(), 90);
}

TEST_F(VisualTest, BeginUpdateSuspendsRepaintAndLayoutUntilTheLastEndUpdate) {
  auto* client = Child(vaClient, 0, 0, 10, 10);
  root->BeginUpdate();
  root->BeginUpdate();
  EXPECT_EQ(client->GetUpdateCounter(), 2);
  scene.updates.clear();
  root->SetWidth(300);
  client->SetOpacity(0.5f);
  EXPECT_TRUE(scene.updates.empty());
  EXPECT_EQ(client->GetWidth(), 200);
  root->EndUpdate();
  EXPECT_EQ(client->GetWidth(), 200);
  root->EndUpdate();
  EXPECT_EQ(client->GetWidth(), 300);
  EXPECT_FALSE(scene.updates.empty());
  root->EndUpdate();  // unbalanced: stays at 0
  EXPECT_EQ(root->GetUpdateCounter(), 0);
  // A child added inside an update takes the parent's counter; leaving resets it.
  root->BeginUpdate();
  auto* late = Child(vaNone, 0, 0, 5, 5);
  EXPECT_EQ(late->GetUpdateCounter(), 1);
  root->RemoveObject(late);
  EXPECT_EQ(late->GetUpdateCounter(), 0);
  delete late;
  root->EndUpdate();
}

// What a layout, or the working out of an update rect, sets for its while comes back when a part
// of it raises: the object lays out and repaints again, and a content passes layouts on again.
TEST_F(VisualTest, WhatALayoutSetsForItsWhileComesBackWhenItRaises) {
  auto* child = new TRaisingLayout(nullptr);
  child->SetBounds(0, 0, 10, 10);
  child->SetAlign(vaClient);
  child->SetParent(root);
  auto* content = new TvgContent(nullptr);
  content->SetParent(child);
  const struct {
    const char* what;
    bool TRaisingLayout::*raises;
    std::function<void()> run;
  } cases[] = {
      {"a child's layout", &TRaisingLayout::raiseLayout, [&] { root->SetWidth(root->GetWidth() + 10); }},
      {"a child's update rect", &TRaisingLayout::raiseRect, [&] { root->RecalcUpdateRect(), root->GetUpdateRect(); }},
      {"the layout a content passes on", &TRaisingLayout::raiseLayout, [&] { content->Realign(); }},
  };
  for (const auto& c : cases) {
    child->*c.raises = true;
    EXPECT_THROW(c.run(), std::runtime_error) << c.what;
    child->*c.raises = false;
  }
  root->SetWidth(250);
  EXPECT_EQ(child->GetWidth(), 250);
  scene.updates.clear();
  root->Repaint();
  EXPECT_FALSE(scene.updates.empty());
  const int layouts = child->layouts;
  content->Realign();
  EXPECT_GT(child->layouts, layouts);
}

// --- Caches

TEST_F(VisualTest, AbsoluteMatrixFollowsAncestorsThroughStaleFlags) {
  auto* parent = Child(vaNone, 10, 20, 100, 50);
  auto* child = Child(vaNone, 5, 5, 10, 10, parent);
  EXPECT_EQ(child->LocalToAbsolute(vgPoint(0, 0)), vgPoint(15, 25));
  parent->GetPosition()->SetPoint(vgPoint(40, 0));
  EXPECT_EQ(child->LocalToAbsolute(vgPoint(0, 0)), vgPoint(45, 5));
  parent->GetScale()->SetPoint(vgPoint(2, 2));
  EXPECT_EQ(child->LocalToAbsolute(vgPoint(1, 1)), vgPoint(40 + 12, 12));
  EXPECT_EQ(child->GetAbsoluteScale(), vgPoint(2, 2));
  const TvgPoint back = child->AbsoluteToLocal(vgPoint(52, 12));
  EXPECT_NEAR(back.X, 1, 1e-4);
  EXPECT_NEAR(back.Y, 1, 1e-4);
  EXPECT_EQ(child->LocalToAbsoluteVector(vgPoint(1, 1)), vgPoint(2, 2));
}

TEST_F(VisualTest, RotationTurnsAboutTheRotateCentre) {
  auto* obj = Child(vaNone, 0, 0, 20, 10);
  obj->SetRotateAngle(90);
  // The centre (10, 5) stays; the corner (0, 0) turns a quarter about it.
  const TvgPoint centre = obj->LocalToAbsolute(vgPoint(10, 5));
  EXPECT_NEAR(centre.X, 10, 1e-4);
  EXPECT_NEAR(centre.Y, 5, 1e-4);
  const TvgPoint corner = obj->LocalToAbsolute(vgPoint(0, 0));
  EXPECT_NEAR(corner.X, 15, 1e-4);
  EXPECT_NEAR(corner.Y, 0 - 5, 1e-4);
  obj->SetRotateAngle(-270);
  EXPECT_FLOAT_EQ(obj->GetRotateAngle(), 90);
  const TvgRect abs = obj->GetAbsoluteRect();
  EXPECT_NEAR(abs.Left, 5, 1e-4);
  EXPECT_NEAR(abs.Right, 15, 1e-4);
  EXPECT_NEAR(abs.Top, -5, 1e-4);
  EXPECT_NEAR(abs.Bottom, 15, 1e-4);
}

TEST_F(VisualTest, DisabledObjectsBelowTheRootsChildrenPaintDimmed) {
  auto* direct = Child(vaNone, 0, 0, 50, 50);
  auto* grand = Child(vaNone, 0, 0, 10, 10, direct);
  direct->SetOpacity(0.5f);
  grand->SetEnabled(false);
  EXPECT_FLOAT_EQ(grand->GetAbsoluteOpacity(), 0.5f * 0.8f);
  direct->SetEnabled(false);
  EXPECT_FLOAT_EQ(direct->GetAbsoluteOpacity(), 0.5f);
  EXPECT_FALSE(grand->GetAbsoluteEnabled());
  direct->SetEnabled(true);
  EXPECT_FALSE(grand->GetAbsoluteEnabled());
  grand->SetEnabled(true);
  EXPECT_TRUE(grand->GetAbsoluteEnabled());
  EXPECT_FLOAT_EQ(grand->GetAbsoluteOpacity(), 0.5f);
  direct->SetOpacity(7);
  EXPECT_FLOAT_EQ(direct->GetOpacity(), 1);
  EXPECT_FLOAT_EQ(grand->GetAbsoluteOpacity(), 1);
}

TEST_F(VisualTest, NegativeSizesFlipTheScaleOnlyAtDesignTime) {
  auto* obj = Child(vaNone, 0, 0, 10, 10);
  obj->SetWidth(-20);
  EXPECT_EQ(obj->GetWidth(), -20);
  scene.designTime = true;
  obj->SetWidth(-30);
  EXPECT_EQ(obj->GetWidth(), 30);
  EXPECT_EQ(obj->GetScale()->GetX(), -1);
  scene.designTime = false;
}

TEST_F(VisualTest, BoundsRectPlacesTheObjectInItsParentsSpace) {
  auto* parent = Child(vaNone, 50, 50, 100, 100);
  auto* obj = Child(vaNone, 5, 5, 10, 10, parent);
  obj->SetBoundsRect(vgRect(10, 20, 40, 30));
  EXPECT_EQ(obj->GetPosition()->GetPoint(), vgPoint(10, 20));
  EXPECT_EQ(obj->GetWidth(), 30);
  EXPECT_EQ(obj->GetHeight(), 10);
  EXPECT_EQ(obj->GetParentedRect(), vgRect(10, 20, 40, 30));
}

// --- Update rects

TEST_F(VisualTest, MovingAnObjectQueuesBothItsOldAndNewArea) {
  auto* obj = Child(vaNone, 10, 10, 20, 20);
  scene.updates.clear();
  obj->GetPosition()->SetPoint(vgPoint(100, 50));
  EXPECT_TRUE(Covers(scene.updates, vgRect(10, 10, 30, 30)));
  EXPECT_TRUE(Covers(scene.updates, vgRect(100, 50, 120, 70)));
}

TEST_F(VisualTest, UpdateRectUnitesChildrenUnlessClippedAndIncludesEffects) {
  auto* parent = Child(vaNone, 0, 0, 50, 50);
  auto* child = Child(vaNone, 40, 40, 30, 30, parent);
  EXPECT_EQ(parent->GetUpdateRect(), vgRect(0, 0, 70, 70));
  parent->SetClipChildren(true);
  EXPECT_EQ(parent->GetUpdateRect(), vgRect(0, 0, 50, 50));
  EXPECT_EQ(child->GetUpdateRect(), vgRect(40, 40, 50, 50));
  parent->SetClipChildren(false);
  child->GetPosition()->SetPoint(vgPoint(0, 0));
  EXPECT_EQ(parent->GetUpdateRect(), vgRect(0, 0, 50, 50));
  auto* effect = new TProbeEffect(nullptr);
  effect->SetParent(child);
  EXPECT_TRUE(child->GetHasEffects());
  EXPECT_EQ(child->GetUpdateRect(), vgRect(-10, -10, 40, 40));
  EXPECT_EQ(parent->GetUpdateRect(), vgRect(-10, -10, 50, 50));
}

TEST_F(VisualTest, NothingIsQueuedWhileUpdatesAreOffOrTheObjectIsHidden) {
  auto* obj = Child(vaNone, 0, 0, 10, 10);
  scene.updates.clear();
  scene.disableUpdate = true;
  obj->SetOpacity(0.3f);
  scene.disableUpdate = false;
  EXPECT_TRUE(scene.updates.empty());
  root->SetVisible(false);
  scene.updates.clear();
  obj->SetOpacity(0.6f);
  EXPECT_TRUE(scene.updates.empty());
  root->SetVisible(true);
  obj->SetVisible(false);
  EXPECT_TRUE(Covers(scene.updates, vgRect(0, 0, 10, 10)));  // the old area
}

TEST_F(VisualTest, RepaintsInABatchReachTheSceneAsOneUnitedRect) {
  auto* a = Child(vaNone, 10, 10, 20, 20);
  auto* b = Child(vaNone, 100, 50, 10, 10);
  auto* empty = Child(vaNone, 0, 0, 0, 0);
  scene.updates.clear();
  {
    TvgRepaintBatch batch(a);
    a->Repaint();
    empty->Repaint();  // an empty rect widens nothing
    {
      TvgRepaintBatch inner(b);  // joins the open batch
      b->GetPosition()->SetPoint(vgPoint(120, 60));
    }
    EXPECT_TRUE(scene.updates.empty());
  }
  ASSERT_EQ(scene.updates.size(), 1u);
  EXPECT_EQ(scene.updates[0], vgRect(10, 10, 130, 70));

  // Requests for another scene, or under a batch whose owner has no scene, go straight on.
  TTestScene other;
  TvgVisualObject elsewhere(nullptr);
  elsewhere.SetBounds(0, 0, 5, 5);
  other.AddObject(&elsewhere);
  TvgVisualObject loose(nullptr);
  scene.updates.clear();
  {
    TvgRepaintBatch batch(a);
    elsewhere.Repaint();
    EXPECT_EQ(other.updates.size(), 1u);
  }
  {
    TvgRepaintBatch none(&loose);
    a->Repaint();
    EXPECT_EQ(scene.updates.size(), 1u);
  }
  other.RemoveObject(&elsewhere);
  elsewhere.SetScene(nullptr);
}

// A batch or a paint-only change belongs to its thread: one open on another thread (a second
// editor's GUI thread) gathers or drops none of this thread's requests.
TEST_F(VisualTest, ABatchOrPaintOnlyChangeOnAnotherThreadTakesNoneOfThisThreadsRequests) {
  auto* a = Child(vaNone, 10, 10, 20, 20);
  for (const bool batch : {true, false}) {
    std::promise<void> opened, done;
    std::thread other([&] {
      std::optional<TvgRepaintBatch> gathering;
      std::optional<TvgPaintOnlyChange> dropping;
      if (batch) gathering.emplace(a);
      else dropping.emplace(a);
      opened.set_value();
      done.get_future().wait();
    });
    opened.get_future().wait();
    scene.updates.clear();
    a->Repaint();
    EXPECT_EQ(scene.updates.size(), 1u) << (batch ? "a batch" : "a paint-only change");
    done.set_value();
    other.join();
  }
}

TEST_F(VisualTest, EndingAnUpdateLaysOutUnderOneRepaintRequest) {
  auto* panel = Child(vaNone, 0, 0, 100, 100);
  panel->BeginUpdate();
  std::vector<TvgVisualObject*> rows;
  for (int i = 0; i < 5; ++i) rows.push_back(Child(vaTop, 0, static_cast<float>(i), 50, 10, panel));
  scene.updates.clear();
  panel->EndUpdate();
  ASSERT_EQ(scene.updates.size(), 1u);
  EXPECT_TRUE(Covers(scene.updates, vgRect(0, 0, 100, 50)));
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i]->GetPosition()->GetY(), 10.0f * static_cast<float>(i));
}

// --- Hit testing and input

TEST_F(VisualTest, ObjectByPointFindsTheTopmostAcceptingObject) {
  auto* below = Child(vaNone, 0, 0, 100, 100);
  auto* above = Child(vaNone, 50, 50, 100, 40);
  EXPECT_EQ(root->ObjectByPoint(60, 60), above);
  EXPECT_EQ(root->ObjectByPoint(10, 10), below);
  above->SetHitTest(false);
  EXPECT_EQ(root->ObjectByPoint(60, 60), below);
  below->SetVisible(false);
  EXPECT_EQ(root->ObjectByPoint(60, 60), root);
  auto* clipper = Child(vaNone, 0, 0, 10, 10);
  clipper->SetClipChildren(true);
  auto* outside = Child(vaNone, 20, 20, 10, 10, clipper);
  root->SetHitTest(false);
  EXPECT_EQ(root->ObjectByPoint(25, 25), nullptr);
  clipper->SetClipChildren(false);
  EXPECT_EQ(root->ObjectByPoint(25, 25), outside);
  EXPECT_FALSE(outside->PointInObject(30, 30));  // right and bottom edges are outside
}

TEST_F(VisualTest, ClickNeedsPressAndReleaseInsideAndDoubleClicksDoNotClick) {
  auto* obj = Child(vaNone, 0, 0, 20, 20);
  struct Counter {
    void Click(TObject*) { ++clicks; }
    void DblClick(TObject*) { ++doubles; }
    void Up(TObject*, TMouseButton, TShiftState, float, float) { ++ups; }
    int clicks = 0, doubles = 0, ups = 0;
  } counter;
  obj->OnClick = TNotifyEvent::Of<&Counter::Click>(&counter);
  obj->OnDblClick = TNotifyEvent::Of<&Counter::DblClick>(&counter);
  obj->OnMouseUp = TvgMouseEvent::Of<&Counter::Up>(&counter);
  obj->MouseDown(mbLeft, TShiftState(), 5, 5);
  obj->MouseUp(mbLeft, TShiftState(), 50, 50);
  EXPECT_EQ(counter.ups, 1);
  EXPECT_EQ(counter.clicks, 0);
  obj->MouseDown(mbLeft, TShiftState(), 5, 5);
  obj->MouseUp(mbLeft, TShiftState(), 6, 6);
  EXPECT_EQ(counter.clicks, 1);
  obj->MouseDown(mbLeft, TShiftState{ssDouble}, 5, 5);
  obj->MouseUp(mbLeft, TShiftState(), 5, 5);
  EXPECT_EQ(counter.doubles, 1);
  EXPECT_EQ(counter.clicks, 1);
}

TEST_F(VisualTest, FocusCaptureAndContextMenu) {
  auto* obj = Child(vaNone, 10, 10, 20, 20);
  obj->SetCanFocused(true);
  obj->SetAutoCapture(true);
  obj->MouseDown(mbLeft, TShiftState(), 1, 1);
  EXPECT_EQ(scene.focused, obj);
  EXPECT_TRUE(obj->GetIsFocused());
  EXPECT_EQ(scene.captured, obj);
  obj->MouseUp(mbLeft, TShiftState(), 1, 1);
  EXPECT_EQ(scene.captured, nullptr);
  // The focus ring widens the area to repaint.
  EXPECT_EQ(obj->GetUpdateRect(), vgRect(5, 5, 35, 35));
  obj->SetEnabled(false);
  EXPECT_EQ(scene.focused, nullptr);
  EXPECT_FALSE(obj->GetIsFocused());
  EXPECT_EQ(obj->GetUpdateRect(), vgRect(10, 10, 30, 30));
}

// What the context menu asks the platform to show.
struct TMenuShown {
  TComponent* menu;
  TComponent* component;
  int32_t x, y;
};
std::vector<TMenuShown> g_menusShown;
void RecordMenu(TComponent* menu, TComponent* component, int32_t x, int32_t y) {
  g_menusShown.push_back({menu, component, x, y});
}

TEST_F(VisualTest, TheContextMenuOpensAtThePointerAndFromTheMenuKeyAtTheCentre) {
  vgSetPopupMenuHook(&RecordMenu);
  g_menusShown.clear();
  auto* obj = Child(vaNone, 10, 10, 22, 20);
  uint16_t key = 93;
  WideChar ch = 0;
  obj->MouseDown(mbRight, TShiftState(), 4.4f, 5.6f);
  obj->KeyDown(key, ch, TShiftState());
  EXPECT_TRUE(g_menusShown.empty());  // no PopupMenu
  auto* menu = new TComponent(nullptr);
  obj->SetPopupMenu(menu);
  ASSERT_NE(GetPropInfo(obj, "PopupMenu"), nullptr);
  EXPECT_EQ(GetObjectProp(obj, GetPropInfo(obj, "PopupMenu")), menu);
  // Screen points: the test scene puts the scene's origin at (1000, 2000).
  obj->MouseDown(mbRight, TShiftState(), 4.4f, 5.6f);
  obj->MouseDown(mbLeft, TShiftState(), 4.4f, 5.6f);
  key = 93;
  obj->KeyDown(key, ch, TShiftState());
  key = 65;
  obj->KeyDown(key, ch, TShiftState());
  ASSERT_EQ(g_menusShown.size(), 2u);
  EXPECT_EQ(g_menusShown[0].menu, menu);
  EXPECT_EQ(g_menusShown[0].component, obj);
  EXPECT_EQ(g_menusShown[0].x, 1014);
  EXPECT_EQ(g_menusShown[0].y, 2016);
  EXPECT_EQ(g_menusShown[1].x, 1021);
  EXPECT_EQ(g_menusShown[1].y, 2020);
  // A menu that goes is forgotten.
  delete menu;
  EXPECT_EQ(obj->GetPopupMenu(), nullptr);
  obj->MouseDown(mbRight, TShiftState(), 1, 1);
  EXPECT_EQ(g_menusShown.size(), 2u);
  vgSetPopupMenuHook(nullptr);
}

TEST_F(VisualTest, TabOrderFollowsAdditionAndClampsMoves) {
  auto* a = Child(vaNone, 0, 0, 5, 5);
  auto* b = Child(vaNone, 0, 0, 5, 5);
  auto* c = Child(vaNone, 0, 0, 5, 5);
  EXPECT_EQ(b->GetTabOrder(), 1);
  b->SetTabOrder(100);
  EXPECT_EQ(b->GetTabOrder(), 2);
  EXPECT_EQ(c->GetTabOrder(), 1);
  a->SetTabOrder(-5);
  EXPECT_EQ(a->GetTabOrder(), 0);
  root->RemoveObject(c);
  EXPECT_EQ(c->GetTabOrder(), -1);
  EXPECT_EQ(b->GetTabOrder(), 1);
  delete c;
}

// --- Painting

class PaintTest : public VisualTest {
 protected:
  void SetUp() override {
    VisualTest::SetUp();
    canvas = std::make_unique<TObjRecordingCanvas>(200, 100);
    scene.canvas = canvas.get();
    scene.paintRects = {vgRect(0, 0, 200, 100)};
  }
  void TearDown() override {
    VisualTest::TearDown();
    scene.canvas = nullptr;
  }
  TPaintProbe* Probe(float x, float y, float w, float h, TvgVisualObject* parent = nullptr) {
    auto* p = new TPaintProbe(nullptr);
    p->SetBounds(x, y, w, h);
    p->SetParent(parent != nullptr ? parent : root);
    return p;
  }
  std::unique_ptr<TObjRecordingCanvas> canvas;
};

TEST_F(PaintTest, ClippedAndOutOfDateChildrenAreNotPainted) {
  auto* clipper = Probe(0, 0, 50, 50);
  clipper->SetClipChildren(true);
  auto* outside = Probe(60, 60, 10, 10, clipper);
  auto* inside = Probe(10, 10, 10, 10, clipper);
  auto* far = Probe(150, 80, 10, 10);
  scene.paintRects = {vgRect(0, 0, 100, 60)};
  root->PaintChildren();
  EXPECT_EQ(clipper->paints, 1);
  EXPECT_EQ(inside->paints, 1);
  EXPECT_EQ(outside->paints, 0);
  EXPECT_EQ(far->paints, 0);
  // The clip of the clipping parent was set for the inside child.
  ASSERT_FALSE(canvas->clips.empty());
  EXPECT_EQ(canvas->clips.front(), vgRect(0, 0, 50, 50));
  EXPECT_EQ(canvas->saves, canvas->restores);
  ASSERT_EQ(inside->matrices.size(), 1u);
  EXPECT_EQ(inside->matrices[0].m31, 10);
  scene.designTime = true;  // at design time everything paints
  root->PaintChildren();
  EXPECT_EQ(far->paints, 1);
  scene.designTime = false;
}

TEST_F(PaintTest, ManyChildrenPaintOnlyWhereTheSceneAsksAndFollowEveryChange) {
  // A hundred 2 x 1 children in rows of ten: enough to be walked by their kept rects.
  std::vector<TPaintProbe*> kids;
  for (int i = 0; i < 100; ++i) kids.push_back(Probe(static_cast<float>(i % 10) * 20, static_cast<float>(i / 10) * 10, 2, 1));
  auto paintedNow = [&](std::vector<int> before) {
    std::vector<int> now;
    for (size_t i = 0; i < kids.size(); ++i)
      if (kids[i]->paints != before[i]) now.push_back(static_cast<int>(i));
    return now;
  };
  auto counts = [&] {
    std::vector<int> c;
    for (TPaintProbe* k : kids) c.push_back(k->paints);
    return c;
  };
  struct Case {
    std::vector<TvgRect> rects;
    std::vector<int> painted;
  };
  const Case cases[] = {{{vgRect(20, 10, 23, 12)}, {11}},
                        {{vgRect(0, 0, 1, 1), vgRect(180, 90, 181, 91)}, {0, 99}},
                        {{vgRect(45, 45, 55, 55)}, {}},
                        {{vgRect(0, 30, 200, 31)}, {30, 31, 32, 33, 34, 35, 36, 37, 38, 39}}};
  for (int pass = 0; pass < 2; ++pass) {  // the second time from the kept rects
    for (const Case& c : cases) {
      scene.paintRects = c.rects;
      const std::vector<int> before = counts();
      root->PaintChildren();
      EXPECT_EQ(paintedNow(before), c.painted) << pass;
    }
  }
  // A child moved, one hidden, one removed and one added: each is seen at once.
  kids[11]->GetPosition()->SetPoint(vgPoint(130, 75));
  kids[0]->SetVisible(false);
  root->RemoveObject(kids[99]);
  delete kids[99];
  kids.pop_back();
  TPaintProbe* added = Probe(190, 96, 2, 1);
  scene.paintRects = {vgRect(20, 10, 23, 12), vgRect(130, 75, 131, 76), vgRect(0, 0, 1, 1), vgRect(185, 95, 200, 100)};
  const std::vector<int> before = counts();
  root->PaintChildren();
  EXPECT_EQ(paintedNow(before), (std::vector<int>{11}));
  EXPECT_EQ(added->paints, 1);
}

TEST_F(PaintTest, ChildrenAddedOrMovedWhilePaintingAreStillPaintedRight) {
  // The first child's paint moves a later child into the painted area and adds another there.
  std::vector<TPaintProbe*> kids;
  for (int i = 0; i < 40; ++i) kids.push_back(Probe(static_cast<float>(i) * 5, 0, 2, 2));
  scene.paintRects = {vgRect(0, 0, 3, 3), vgRect(0, 50, 200, 60)};
  root->PaintChildren();  // the rects are kept now
  TPaintProbe* late = nullptr;
  kids[0]->OnBeforePaint = TOnPaintEvent();
  struct TMover {
    std::vector<TPaintProbe*>* kids;
    TPaintProbe** late;
    TvgVisualObject* root;
    void Move(TObject*, TvgCanvas*, const TvgRect&) {
      if (*late != nullptr) return;
      (*kids)[30]->GetPosition()->SetPoint(vgPoint(10, 52));
      *late = new TPaintProbe(nullptr);
      (*late)->SetBounds(20, 55, 2, 2);
      (*late)->SetParent(root);
    }
  } mover{&kids, &late, root};
  kids[0]->OnBeforePaint = TOnPaintEvent::Of<&TMover::Move>(&mover);
  const int before30 = kids[30]->paints;
  root->PaintChildren();
  ASSERT_NE(late, nullptr);
  EXPECT_EQ(kids[30]->paints, before30 + 1);
  EXPECT_EQ(late->paints, 1);
}

// A child whose update rect, worked out while the kept rects are taken, moves an earlier child
// (as a layout run then does): the earlier child is painted where it went.
TEST_F(PaintTest, AChildMovedWhileTheKeptRectsAreTakenIsPaintedWhereItWent) {
  struct TMovingRect : TPaintProbe {
    explicit TMovingRect(TComponent* owner) : TPaintProbe(owner) {}
    TvgRect GetUpdateRect() override {
      if (moves != nullptr) std::exchange(moves, nullptr)->GetPosition()->SetPoint(vgPoint(10, 52));
      return TPaintProbe::GetUpdateRect();
    }
    TvgVisualObject* moves = nullptr;
  };
  std::vector<TPaintProbe*> kids;
  for (int i = 0; i < 40; ++i) kids.push_back(Probe(static_cast<float>(i) * 5, 0, 2, 2));
  auto* mover = new TMovingRect(nullptr);
  mover->SetBounds(150, 80, 2, 2);
  mover->SetParent(root);
  mover->moves = kids[0];
  scene.paintRects = {vgRect(150, 80, 152, 82)};
  root->PaintChildren();
  ASSERT_EQ(mover->moves, nullptr);
  scene.paintRects = {vgRect(10, 52, 12, 54)};
  const int before = kids[0]->paints;
  root->PaintChildren();
  EXPECT_EQ(kids[0]->paints, before + 1);
}

TEST_F(PaintTest, PaintToLeavesPositionScaleAngleAndParentAsTheyWere) {
  auto* obj = Probe(30, 40, 20, 10);
  obj->SetRotateAngle(30);
  auto* inner = Probe(2, 2, 5, 5, obj);
  TvgBitmap target(80, 40);
  TObjRecordingCanvas bitmapCanvas(target);
  obj->PaintTo(&bitmapCanvas, vgRect(0, 0, 80, 40));
  EXPECT_EQ(obj->paints, 1);
  EXPECT_EQ(inner->paints, 1);
  ASSERT_EQ(inner->matrices.size(), 1u);
  EXPECT_FLOAT_EQ(inner->matrices[0].m11, 4);  // scaled 80 / 20
  EXPECT_FLOAT_EQ(inner->matrices[0].m31, 8);
  EXPECT_EQ(obj->GetPosition()->GetPoint(), vgPoint(30, 40));
  EXPECT_EQ(obj->GetScale()->GetPoint(), vgPoint(1, 1));
  EXPECT_FLOAT_EQ(obj->GetRotateAngle(), 30);
  EXPECT_EQ(obj->GetParent(), root);
  EXPECT_FALSE(scene.disableUpdate);
  EXPECT_FALSE(obj->GetPaintingToBitmap());
  EXPECT_EQ(obj->GetCanvas(), canvas.get());
  EXPECT_EQ(bitmapCanvas.saves, bitmapCanvas.restores);
}

TEST_F(PaintTest, DragHighlightAndOpacityReachTheCanvas) {
  auto* obj = Probe(0, 0, 20, 20);
  obj->SetOpacity(0.25f);
  TvgDragObject data;
  obj->DragEnter(data, vgPoint(1, 1));
  root->PaintChildren();
  ASSERT_EQ(canvas->outlines.size(), 1u);
  EXPECT_EQ(canvas->outlines[0], vgRect(1, 1, 19, 19));
  EXPECT_EQ(canvas->outlineColors[0], 0xB2005ACCu);
  ASSERT_EQ(canvas->fillOpacities.size(), 1u);
  EXPECT_FLOAT_EQ(canvas->fillOpacities[0], 0.25f);
  obj->DragLeave();
  EXPECT_FALSE(obj->GetIsDragOver());
}

}  // namespace

namespace {

// An effect drawn under its object that records what it was given to process.
class TRecordingEffect : public TProbeEffect {
 public:
  using TProbeEffect::TProbeEffect;
  void ProcessEffect(TvgCanvas*, TvgBitmap* bitmap, float scale) override {
    sizes.push_back(vgPoint(static_cast<float>(bitmap->GetWidth()), static_cast<float>(bitmap->GetHeight())));
    scales.push_back(scale);
  }
  std::vector<TvgPoint> sizes;
  std::vector<float> scales;
};

TEST_F(PaintTest, EffectsRenderIntoABitmapOnceUntilTheObjectChanges) {
  vgSetDefaultCanvasClass(vgCanvasClassOf<TObjRecordingCanvas>());
  auto* obj = Probe(20, 20, 30, 10);
  obj->GetScale()->SetPoint(vgPoint(2, 2));
  auto* effect = new TRecordingEffect(nullptr);
  effect->SetParent(obj);
  root->PaintChildren();
  ASSERT_EQ(effect->sizes.size(), 1u);
  EXPECT_EQ(effect->sizes[0], vgPoint(100, 60));  // (30 + 20) x (10 + 20), scaled by 2
  EXPECT_FLOAT_EQ(effect->scales[0], 2);
  ASSERT_EQ(canvas->bitmaps.size(), 1u);
  EXPECT_EQ(canvas->bitmaps[0], vgRect(-10, -10, 40, 20));
  EXPECT_EQ(obj->paints, 2);  // once into the effect's bitmap, once on the scene
  EXPECT_FALSE(obj->GetEffectsDirty());
  root->PaintChildren();
  EXPECT_EQ(effect->sizes.size(), 1u);  // the cached image is drawn again
  EXPECT_EQ(canvas->bitmaps.size(), 2u);
  obj->GetPosition()->SetPoint(vgPoint(21, 20));
  obj->SetWidth(40);
  root->PaintChildren();
  EXPECT_EQ(effect->sizes.size(), 2u);
  vgSetDefaultCanvasClass(nullptr);
}

// A paint that raises puts back what it changed for its while: painted into a bitmap, the
// object's opacity under its translucent parent (worked out while it stood alone); painted into
// its effect's image, the effects of its later paints.
TEST_F(PaintTest, APaintThatRaisesPutsBackWhatItChangedForItsWhile) {
  vgSetDefaultCanvasClass(vgCanvasClassOf<TObjRecordingCanvas>());
  auto* half = Probe(0, 0, 100, 100);
  auto* obj = new TRaisingProbe(nullptr);
  obj->SetBounds(10, 10, 30, 20);
  obj->SetParent(half);
  half->SetOpacity(0.5f);
  TvgBitmap target(60, 40);
  TObjRecordingCanvas bitmapCanvas(target);
  EXPECT_THROW(obj->PaintTo(&bitmapCanvas, vgRect(0, 0, 60, 40)), std::runtime_error);
  EXPECT_FLOAT_EQ(obj->GetAbsoluteOpacity(), 0.5f);
  (new TRecordingEffect(nullptr))->SetParent(obj);
  EXPECT_THROW(root->PaintChildren(), std::runtime_error);
  obj->raise = false;
  canvas->bitmaps.clear();
  root->PaintChildren();
  EXPECT_EQ(canvas->bitmaps.size(), 1u);  // the effect's image
  vgSetDefaultCanvasClass(nullptr);
}

TEST_F(PaintTest, ScreenshotHasTheRoundedSizeAndPaintsTheSubtree) {
  vgSetDefaultCanvasClass(vgCanvasClassOf<TObjRecordingCanvas>());
  auto* obj = Probe(5, 5, 20.6f, 9.4f);
  auto* inner = Probe(1, 1, 3, 3, obj);
  std::unique_ptr<TvgBitmap> shot(obj->MakeScreenshot());
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->GetWidth(), 21);
  EXPECT_EQ(shot->GetHeight(), 9);
  EXPECT_EQ(inner->paints, 1);
  EXPECT_EQ(obj->GetPosition()->GetPoint(), vgPoint(5, 5));
  vgSetDefaultCanvasClass(nullptr);
}

}  // namespace
