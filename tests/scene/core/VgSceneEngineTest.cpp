// The scene engine against a recording window host and canvas: update rects, Draw, root layout,
// mouse and keyboard routing, tab order and the design-mode selection.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "TestSceneHost.h"
#include "scene/core/vg_canvas.h"
#include "scene/core/vg_control.h"
#include "scene/core/vg_designer.h"
#include "scene/core/vg_popup.h"
#include "scene/core/vg_resources.h"
#include "scene/core/vg_sceneengine.h"
#include "scene/core/vg_visualobject.h"

namespace {

using THost = TTestSceneHost;

// Records clears, fills and flushes.
class TRecCanvas : public TvgCanvas {
 public:
  TRecCanvas(int32_t w, int32_t h) : TvgCanvas(w, h) { buffered_ = false; }
  explicit TRecCanvas(TvgBitmap& b) : TvgCanvas(b) {}
  static uint32_t* GetBitmapScanline(TvgBitmap& b, int32_t y) { return b.Scanline(y); }
  static const TClassInfo* StaticClassInfo() { return TvgCanvas::StaticClassInfo(); }
  void ResizeBuffer(int32_t w, int32_t h) override { width_ = w; height_ = h; }
  void FreeBuffer() override {}
  bool BeginScene() override { return !refuse; }
  void ClearRect(const TvgRect& r, TvgColor c) override { clears.push_back(r); clearColors.push_back(c); }
  void SetClipRects(const std::vector<TvgRect>& rects) override { clipSets.push_back(rects); }
  void ResetClipRect() override {}
  void FillRect(const TvgRect& r, float, float, TvgCorners, float, TvgCornerType) override { fills.push_back(r); }
  void DrawRect(const TvgRect& r, float, float, TvgCorners, float, TvgCornerType) override { outlines.push_back(r); }
  void DrawLine(const TvgPoint& p1, const TvgPoint& p2, float) override { lines.push_back(vgRect(p1.X, p1.Y, p2.X, p2.Y)); }
  void FillEllipse(const TvgRect&, float) override {
    ++ellipses;
    ellipseFills.push_back(GetFill()->GetSolidColor());
  }
  void FillText(const TvgRect&, const TvgRect&, const WideString& text, bool, float, TvgTextAlign,
                TvgTextAlign) override {
    texts.push_back(WideToUtf8(text));
  }
  void DrawEllipse(const TvgRect&, float) override {}
  void FlushBufferRect(int32_t, int32_t, TvgDC, const TvgRect& r) override { flushed.push_back(r); }
  bool refuse = false;
  std::vector<TvgRect> clears, fills, outlines, flushed;
  std::vector<TvgColor> clearColors, ellipseFills;
  std::vector<TvgRect> lines;
  std::vector<std::string> texts;
  std::vector<std::vector<TvgRect>> clipSets;
  int ellipses = 0;
};

// A visual object that records what reaches it.
class TProbe : public TvgVisualObject {
 public:
  explicit TProbe(TComponent* owner = nullptr) : TvgVisualObject(owner) {}
  void Paint() override {
    ++paints;
    if (onPaint) onPaint();
  }
  std::function<void()> onPaint;
  void MouseDown(TMouseButton b, TShiftState s, float x, float y) override {
    downs.push_back(vgPoint(x, y));
    lastButton = b;
    TvgVisualObject::MouseDown(b, s, x, y);
  }
  void MouseMove(TShiftState s, float x, float y, float dx, float dy) override {
    moves.push_back(vgPoint(x, y));
    TvgVisualObject::MouseMove(s, x, y, dx, dy);
  }
  void MouseUp(TMouseButton b, TShiftState s, float x, float y) override {
    ups.push_back(vgPoint(x, y));
    TvgVisualObject::MouseUp(b, s, x, y);
  }
  void MouseEnter() override { ++enters; TvgVisualObject::MouseEnter(); }
  void MouseLeave() override { ++leaves; TvgVisualObject::MouseLeave(); }
  void KeyDown(uint16_t& key, WideChar& ch, TShiftState) override { keys.push_back({key, ch, true}); }
  void KeyUp(uint16_t& key, WideChar& ch, TShiftState) override { keys.push_back({key, ch, false}); }
  void DialogKey(uint16_t& key, TShiftState) override {
    if (eatDialogKeys) key = 0;
  }
  void EnterFocus() override { ++focusIn; TvgVisualObject::EnterFocus(); }
  void KillFocus() override { ++focusOut; TvgVisualObject::KillFocus(); }
  struct Key { uint16_t key; WideChar ch; bool down; };
  int paints = 0, enters = 0, leaves = 0, focusIn = 0, focusOut = 0;
  bool eatDialogKeys = false;
  TMouseButton lastButton = mbMiddle;
  std::vector<TvgPoint> downs, moves, ups;
  std::vector<Key> keys;
};

class TGrip : public TProbe, public IvgSizeGrip {
 public:
  explicit TGrip(TComponent* owner = nullptr) : TProbe(owner) {}
};

class SceneEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vgSetDefaultCanvasClass(vgCanvasClassOf<TRecCanvas>());
    engine = std::make_unique<TvgSceneEngine>(&host, nullptr, nullptr, designTime);
    engine->Resized();
  }
  void TearDown() override {
    engine.reset();
    vgSetDefaultCanvasClass(nullptr);
  }
  TRecCanvas* canvas() { return static_cast<TRecCanvas*>(engine->GetCanvas()); }
  // A root filling the scene with two children at known places.
  TProbe* BuildTree() {
    auto* root = new TProbe();
    engine->AddObject(root);
    a = new TProbe();
    a->SetBounds(10, 10, 40, 30);
    root->AddObject(a);
    b = new TProbe();
    b->SetBounds(100, 20, 50, 50);
    root->AddObject(b);
    return root;
  }
  bool designTime = false;
  THost host;
  std::unique_ptr<TvgSceneEngine> engine;
  TProbe* a = nullptr;
  TProbe* b = nullptr;
};

TEST_F(SceneEngineTest, UpdateRectsAreMadeIntegralClippedAndDroppedWhenEmpty) {
  host.invalidated.clear();
  engine->AddUpdateRect(vgRect(0.2f, 0.7f, 10.5f, 10.5f));
  ASSERT_EQ(host.invalidated.size(), 1u);
  EXPECT_EQ(host.invalidated[0], vgRect(0, 0, 11, 11));
  engine->AddUpdateRect(vgRect(5, 5, 5, 50));     // width 0
  engine->AddUpdateRect(vgRect(5, 5, 50, 5));     // height 0
  engine->AddUpdateRect(vgRect(300, 10, 400, 20));  // outside the 200 x 100 client area
  EXPECT_EQ(host.invalidated.size(), 1u);
  engine->AddUpdateRect(vgRect(150, 50, 500, 500));
  ASSERT_EQ(host.invalidated.size(), 2u);
  EXPECT_EQ(host.invalidated[1], vgRect(150, 50, 200, 100));
  engine->SetDisableUpdate(true);
  engine->AddUpdateRect(vgRect(1, 1, 5, 5));
  engine->SetDisableUpdate(false);
  host.loading = true;
  engine->AddUpdateRect(vgRect(1, 1, 5, 5));
  host.loading = false;
  host.hasWindow = false;
  engine->AddUpdateRect(vgRect(1, 1, 5, 5));
  EXPECT_EQ(host.invalidated.size(), 2u);
}

TEST_F(SceneEngineTest, ABatchJoinsCloseAreasAndHandsThemOverAtItsOuterEnd) {
  host.invalidated.clear();
  {
    TvgUpdateBatch outer(*engine);
    {
      TvgUpdateBatch inner(*engine);
      engine->AddUpdateRect(vgRect(1, 1, 5, 5));
      engine->AddUpdateRect(vgRect(4, 1, 9, 5));       // close: joined
    }
    engine->AddUpdateRect(vgRect(150, 50, 160, 60));  // far: an area of its own
    EXPECT_TRUE(host.invalidated.empty());
  }
  // The window cannot paint now: the areas (made integral, one pixel wider) are invalidated.
  EXPECT_EQ(host.invalidated, (std::vector<TvgRect>{vgRect(1, 1, 10, 6), vgRect(150, 50, 161, 61)}));

  // It can: they are painted at once and nothing is invalidated.
  std::vector<TvgRect> painted;
  host.paintNow = [&] {
    painted = engine->UpdateRects();
    engine->Draw();
    return true;
  };
  host.invalidated.clear();
  const int32_t draws = engine->DrawCount();
  {
    TvgUpdateBatch batch(*engine);
    // A joined area is offered to the others again: the third joins the first two.
    engine->AddUpdateRect(vgRect(10, 10, 20, 20));
    engine->AddUpdateRect(vgRect(30, 10, 40, 20));
    engine->AddUpdateRect(vgRect(18, 10, 32, 20));
  }
  EXPECT_TRUE(host.invalidated.empty());
  EXPECT_EQ(painted, (std::vector<TvgRect>{vgRect(10, 10, 41, 21)}));
  EXPECT_EQ(engine->DrawCount() - draws, 1);
  EXPECT_EQ(engine->GetUpdateRectsCount(), 0);

  // Dozens of areas end as one.
  {
    TvgUpdateBatch batch(*engine);
    for (int i = 0; i < 40; ++i) engine->AddUpdateRect(vgRect(5.0f * i, (i % 2) * 80.0f, 5.0f * i + 1, (i % 2) * 80.0f + 1));
  }
  EXPECT_EQ(painted, (std::vector<TvgRect>{vgRect(0, 0, 197, 82)}));

  // A batch ending inside a paint does not paint into it: its areas go to the window.
  auto* probe = new TProbe();
  engine->AddObject(probe);
  probe->onPaint = [&] {
    probe->onPaint = nullptr;
    TvgUpdateBatch batch(*engine);
    engine->AddUpdateRect(vgRect(150, 50, 160, 60));
  };
  painted.clear();
  host.invalidated.clear();
  engine->SetUpdateRects({vgRect(0, 0, 10, 10)});
  engine->Draw();
  EXPECT_TRUE(painted.empty());
  EXPECT_EQ(host.invalidated, (std::vector<TvgRect>{vgRect(150, 50, 161, 61)}));
  host.paintNow = nullptr;
}

TEST_F(SceneEngineTest, FlushedAndLayeredScenesQueueAndPostInsteadOfInvalidating) {
  int flushes = 0;
  engine->OnFlush = [&] { ++flushes; };
  host.invalidated.clear();
  engine->AddUpdateRect(vgRect(1, 1, 5, 5));
  engine->AddUpdateRect(vgRect(10, 10, 20, 20));
  EXPECT_TRUE(host.invalidated.empty());
  EXPECT_EQ(host.posted, 2);
  EXPECT_EQ(engine->GetUpdateRectsCount(), 2);
  engine->Draw();
  EXPECT_EQ(flushes, 1);
  EXPECT_EQ(engine->GetUpdateRectsCount(), 0);
  EXPECT_TRUE(canvas()->flushed.empty());

  engine->OnFlush = nullptr;
  engine->SetTransparency(true);
  host.parentIsForm = true;
  host.posted = 0;
  engine->AddUpdateRect(vgRect(1, 1, 5, 5));
  EXPECT_EQ(host.posted, 1);
  engine->Draw();
  EXPECT_EQ(host.layered, 1);
  EXPECT_TRUE(canvas()->flushed.empty());
}

TEST_F(SceneEngineTest, DrawPaintsOnlyRootsMeetingTheQueuedRectsAndFlushesEachRect) {
  auto* left = new TProbe();
  auto* right = new TProbe();
  engine->AddObject(left);  // the first root is fitted to the scene
  left->SetBounds(0, 0, 40, 40);
  engine->AddObject(right);
  right->SetBounds(150, 50, 40, 40);
  int dc = 0;
  engine->DrawDC = &dc;
  const int leftBefore = left->paints, rightBefore = right->paints;
  engine->SetUpdateRects({vgRect(0, 0, 10, 10), vgRect(5, 5, 20, 20)});
  engine->Draw();
  EXPECT_EQ(left->paints - leftBefore, 1);  // once, although both rects meet it
  EXPECT_EQ(right->paints - rightBefore, 0);
  ASSERT_EQ(canvas()->flushed.size(), 2u);
  EXPECT_EQ(canvas()->flushed[1], vgRect(5, 5, 20, 20));
  // No fill: each rect cleared to the fill colour with alpha 0.
  ASSERT_EQ(canvas()->clears.size(), 2u);
  EXPECT_EQ(canvas()->clearColors[0], 0x00000000u);
  EXPECT_EQ(engine->GetUpdateRectsCount(), 0);
}

TEST_F(SceneEngineTest, MoreThanTwentyRectsArePaintedAsTheirUnion) {
  std::vector<TvgRect> rects;
  for (int i = 0; i < 20; ++i) rects.push_back(vgRect(i * 5.0f, 0, i * 5.0f + 2, 2));
  engine->SetUpdateRects(rects);
  engine->Draw();
  ASSERT_EQ(canvas()->clipSets.size(), 1u);
  EXPECT_EQ(canvas()->clipSets[0].size(), 20u);
  rects.push_back(vgRect(150, 80, 160, 90));
  engine->SetUpdateRects(rects);
  engine->Draw();
  ASSERT_EQ(canvas()->clipSets.size(), 2u);
  ASSERT_EQ(canvas()->clipSets[1].size(), 1u);
  EXPECT_EQ(canvas()->clipSets[1][0], vgRect(0, 0, 160, 90));
}

TEST_F(SceneEngineTest, RefusedFrameAndPaintingFaultsStillEmptyTheQueue) {
  canvas()->refuse = true;
  engine->SetUpdateRects({vgRect(0, 0, 10, 10)});
  engine->Draw();
  EXPECT_EQ(engine->GetUpdateRectsCount(), 0);
  EXPECT_TRUE(canvas()->clears.empty());
  canvas()->refuse = false;

  struct TThrower : TvgVisualObject {
    TThrower() : TvgVisualObject(nullptr) {}
    void Paint() override { throw std::runtime_error("paint failed"); }
  };
  engine->AddObject(new TThrower());
  engine->SetUpdateRects({vgRect(0, 0, 10, 10)});
  EXPECT_THROW(engine->Draw(), std::runtime_error);
  EXPECT_EQ(engine->GetUpdateRectsCount(), 0);
  engine->SetUpdateRects({vgRect(0, 0, 10, 10)});
  EXPECT_THROW(engine->Draw(), std::runtime_error);  // not stuck in the re-entrancy guard
}

TEST_F(SceneEngineTest, SolidFillIsPaintedOverTheWholeArea) {
  TvgBrush brush(vgBrushSolid, 0xFF102030u);
  engine->SetFill(&brush);
  engine->SetUpdateRects({vgRect(0, 0, 10, 10)});
  engine->Draw();
  ASSERT_EQ(canvas()->fills.size(), 1u);
  EXPECT_EQ(canvas()->fills[0], vgRect(-1, -1, 201, 101));
  EXPECT_TRUE(canvas()->clears.empty());
}

TEST_F(SceneEngineTest, FirstRootFillsTheSceneAndSwapsSidesWhenRotatedByNinety) {
  auto* root = new TProbe();
  engine->AddObject(root);
  EXPECT_FLOAT_EQ(root->GetWidth(), 200);
  EXPECT_FLOAT_EQ(root->GetHeight(), 100);
  root->GetScale()->SetPoint(vgPoint(2, 4));
  engine->RealignRoot();
  EXPECT_FLOAT_EQ(root->GetWidth(), 100);
  EXPECT_FLOAT_EQ(root->GetHeight(), 25);
  root->GetScale()->SetPoint(vgPoint(1, 1));
  root->SetRotateAngle(90);
  engine->RealignRoot();
  EXPECT_FLOAT_EQ(root->GetWidth(), 100);
  EXPECT_FLOAT_EQ(root->GetHeight(), 200);
  EXPECT_FLOAT_EQ(root->GetPosition()->GetX(), 50);
  EXPECT_FLOAT_EQ(root->GetPosition()->GetY(), -50);
}

TEST_F(SceneEngineTest, RemovingAndFreeingRootsAndReferencedObjects) {
  TProbe* root = BuildTree();
  engine->SetFocused(a);
  engine->SetCaptured(b);
  engine->SetActiveControl(a);
  delete a;  // the object tells its scene it goes
  EXPECT_EQ(engine->GetFocused(), nullptr);
  EXPECT_EQ(engine->GetActiveControl(), nullptr);
  delete b;
  EXPECT_EQ(engine->GetCaptured(), nullptr);
  engine->RemoveObject(root);
  EXPECT_EQ(engine->GetRoot(), nullptr);
  EXPECT_EQ(root->GetScene(), nullptr);
  engine->RemoveObject(root);  // not a root any more: nothing
  delete root;
  EXPECT_EQ(engine->GetUpdateRect(5), TvgRect());
}

TEST_F(SceneEngineTest, PressesReachTheObjectUnderTheMouseInItsOwnCoordinates) {
  BuildTree();
  engine->MouseDown(0, 0, 20, 25);
  ASSERT_EQ(a->downs.size(), 1u);
  EXPECT_EQ(a->downs[0], vgPoint(10, 15));
  EXPECT_EQ(a->lastButton, mbLeft);
  EXPECT_EQ(host.focusTaken, 1);
  engine->MouseUp(0, 0, 20, 25);
  ASSERT_EQ(a->ups.size(), 1u);
  engine->MouseDown(1, 0, 120, 30);
  ASSERT_EQ(b->downs.size(), 1u);
  EXPECT_EQ(b->downs[0], vgPoint(20, 10));
  EXPECT_EQ(b->lastButton, mbRight);
}

TEST_F(SceneEngineTest, PressOnEmptySpaceMovesTheHostFormUntilRelease) {
  engine->AddObject(new TProbe());
  static_cast<TProbe*>(engine->GetRoot())->SetHitTest(false);
  engine->MouseDown(0, 0, 50, 50);
  EXPECT_TRUE(engine->GetDragging());
  engine->MouseMove(0, 60, 70);  // cursor in owner was (5, 6)
  EXPECT_EQ(host.ownerL, 10 + 60 - 5);
  EXPECT_EQ(host.ownerT, 20 + 70 - 6);
  engine->MouseUp(0, 0, 60, 70);
  EXPECT_FALSE(engine->GetDragging());
  engine->MouseMove(0, 80, 80);
  EXPECT_EQ(host.ownerL, 65);
}

TEST_F(SceneEngineTest, PressOnASizeGripResizesTheHostForm) {
  auto* root = new TProbe();
  engine->AddObject(root);
  auto* grip = new TGrip();
  grip->SetBounds(180, 80, 20, 20);
  root->AddObject(grip);
  engine->MouseDown(0, 0, 190, 90);
  EXPECT_TRUE(engine->GetResizing());
  EXPECT_TRUE(grip->downs.empty());
  engine->MouseMove(0, 200, 95);
  EXPECT_EQ(host.ownerW, 310);
  EXPECT_EQ(host.ownerH, 405);
  EXPECT_EQ(host.cursor, -8);
  engine->MouseUp(0, 0, 200, 95);
  EXPECT_FALSE(engine->GetResizing());
}

TEST_F(SceneEngineTest, HoverFollowsTheMouseAndCaptureHoldsIt) {
  BuildTree();
  a->SetCursor(-4);
  a->SetHint(u"tip");
  a->SetShowHint(true);
  engine->MouseMove(0, 20, 20);
  EXPECT_EQ(engine->GetHovered(), a);
  EXPECT_EQ(a->enters, 1);
  EXPECT_TRUE(a->GetIsMouseOver());
  EXPECT_EQ(host.cursor, -4);
  EXPECT_EQ(host.hint, u"tip");
  engine->MouseMove(0, 120, 30);
  EXPECT_EQ(engine->GetHovered(), b);
  EXPECT_EQ(a->leaves, 1);
  EXPECT_EQ(host.cursor, 0);
  engine->SetCaptured(b);
  EXPECT_TRUE(host.capture);
  host.cursor = 77;
  engine->MouseMove(0, 20, 20);  // over a, but b holds the mouse
  EXPECT_EQ(engine->GetHovered(), b);
  EXPECT_EQ(host.cursor, 77);
  ASSERT_FALSE(b->moves.empty());
  EXPECT_EQ(b->moves.back(), vgPoint(-80, 0));
  engine->SetCaptured(nullptr);
  EXPECT_FALSE(host.capture);
  engine->MouseLeave();
  EXPECT_EQ(engine->GetHovered(), nullptr);
  EXPECT_EQ(b->leaves, 1);
}

TEST_F(SceneEngineTest, TabWalksFocusableEntriesAndWraps) {
  TProbe* root = BuildTree();
  auto* c = new TProbe();
  root->AddObject(c);
  auto* hidden = new TProbe();
  root->AddObject(hidden);
  for (TProbe* p : {a, b, c, hidden}) p->SetCanFocused(true);
  b->SetEnabled(false);
  hidden->SetVisible(false);
  ASSERT_EQ(root->TabList().size(), 4u);
  uint16_t key = 9;
  WideChar ch = 0;
  engine->KeyDown(key, ch, 0);
  EXPECT_EQ(engine->GetFocused(), a);
  EXPECT_EQ(key, 0);
  key = 9;
  engine->KeyDown(key, ch, 0);
  EXPECT_EQ(engine->GetFocused(), c);  // b disabled
  key = 9;
  engine->KeyDown(key, ch, 0);
  EXPECT_EQ(engine->GetFocused(), a);  // hidden skipped, wraps
  key = 9;
  engine->KeyDown(key, ch, TShiftState{ssShift}.Bits());
  EXPECT_EQ(engine->GetFocused(), c);  // Shift+Tab on the first wraps to the last
  EXPECT_EQ(a->focusOut, 2);
}

TEST_F(SceneEngineTest, KeysGoToTheFocusedObjectAndCharactersAreTranslated) {
  BuildTree();
  a->SetCanFocused(true);
  a->SetFocus();
  engine->CharMessage(22);  // Ctrl+V
  ASSERT_EQ(a->keys.size(), 2u);
  EXPECT_EQ(a->keys[0].key, 0);
  EXPECT_EQ(a->keys[0].ch, u'v');
  EXPECT_TRUE(a->keys[0].down);
  EXPECT_FALSE(a->keys[1].down);
  EXPECT_EQ(a->keys[1].ch, u'v');
  engine->CharMessage(13);  // Enter arrives only as its key
  EXPECT_EQ(a->keys.size(), 2u);
  engine->CharMessage(u'x');
  ASSERT_EQ(a->keys.size(), 3u);
  EXPECT_EQ(a->keys[2].ch, u'x');
}

TEST_F(SceneEngineTest, EscClosesAModalOwnerUnlessTheRootTakesItFirst) {
  TProbe* root = BuildTree();
  host.modalOwner = true;
  uint16_t key = 27;
  WideChar ch = 0;
  engine->KeyDown(key, ch, 0);
  EXPECT_EQ(host.cancelled, 1);
  EXPECT_EQ(key, 0);
  root->eatDialogKeys = true;
  key = 27;
  engine->KeyDown(key, ch, 0);
  EXPECT_EQ(host.cancelled, 1);
}

class SceneDesignTest : public SceneEngineTest {
 protected:
  void SetUp() override {
    designTime = true;
    SceneEngineTest::SetUp();
  }
};

TEST_F(SceneDesignTest, SnapToGridTruncatesToTheStep) {
  EXPECT_FLOAT_EQ(engine->SnapToGrid(10.7f), 10.7f);
  engine->DesignSnapToGrid = true;
  EXPECT_FLOAT_EQ(engine->SnapToGrid(10.7f), 10.0f);
  engine->DesignSnapGridSize = 4;
  EXPECT_FLOAT_EQ(engine->SnapToGrid(10.7f), 8.0f);
  engine->DesignSnapGridSize = 0;
  EXPECT_FLOAT_EQ(engine->SnapToGrid(10.7f), 10.7f);
}

TEST_F(SceneDesignTest, PressSelectsAndDragMovesTheSelection) {
  BuildTree();
  engine->DesignSnapToLines = false;
  int notices = 0;
  engine->OnDesignSelect = [&] { ++notices; };
  engine->MouseDown(0, TShiftState{ssLeft}.Bits(), 20, 20);
  EXPECT_EQ(engine->GetSelected(), a);
  EXPECT_TRUE(a->downs.empty());  // design presses do not reach the object
  EXPECT_EQ(notices, 1);
  engine->MouseMove(TShiftState{ssLeft}.Bits(), 25, 27);
  EXPECT_FLOAT_EQ(a->GetPosition()->GetX(), 15);
  EXPECT_FLOAT_EQ(a->GetPosition()->GetY(), 17);
  engine->MouseUp(0, 0, 25, 27);
  EXPECT_FALSE(engine->GetDesignMoving());
  // Ctrl adds another object to the multi-selection.
  engine->MouseDown(0, TShiftState{ssLeft, ssCtrl}.Bits(), 120, 30);
  EXPECT_EQ(engine->GetSelected(), a);
  ASSERT_EQ(engine->MultiSelection().size(), 1u);
  EXPECT_EQ(engine->MultiSelection()[0], b);
}

TEST_F(SceneDesignTest, HandlesResizeAndTheSelectionIsDrawnWithThem) {
  BuildTree();
  engine->SetSelected(a);
  EXPECT_EQ(engine->GetSelected(), a);
  // Bottom-right handle of a (10,10)-(50,40).
  engine->MouseDown(0, TShiftState{ssLeft}.Bits(), 50, 40);
  engine->MouseMove(TShiftState{ssLeft}.Bits(), 60, 45);
  EXPECT_FLOAT_EQ(a->GetWidth(), 50);
  EXPECT_FLOAT_EQ(a->GetHeight(), 35);
  EXPECT_FLOAT_EQ(a->GetPosition()->GetX(), 10);
  engine->MouseUp(0, 0, 60, 45);
  engine->SetUpdateRects({vgRect(0, 0, 200, 100)});
  engine->Draw();
  EXPECT_EQ(canvas()->ellipses, 5);  // rotation handle and four corners
  // The rotation handle wins over the object beneath it.
  engine->MouseDown(0, TShiftState{ssLeft}.Bits(), 35, 0);
  engine->MouseMove(TShiftState{ssLeft}.Bits(), 45, 2);
  EXPECT_NE(a->GetRotateAngle(), 0);
  EXPECT_EQ(engine->GetSelected(), a);
}

TEST_F(SceneDesignTest, DeleteOnKeyReleaseFreesTheSelection) {
  BuildTree();
  engine->SetSelected(b);
  uint16_t key = 46;
  WideChar ch = 0;
  engine->KeyUp(key, ch, 0);
  EXPECT_EQ(engine->GetSelected(), nullptr);
  EXPECT_EQ(engine->GetRoot()->GetChildrenCount(), 1);
}

// --- Design mode: snapping, re-parenting, insertion and the design menu

// A registered captioned object, a container that takes items, and its item class.
class TvgTestCaption : public TvgVisualObject {
  KBL_DECLARE_CLASS(TvgTestCaption, TvgVisualObject)
 public:
  explicit TvgTestCaption(TComponent* owner) : TvgVisualObject(owner) {}
  const WideString& GetText() const { return text_; }
  void SetText(const WideString& value) { text_ = value; }

 private:
  WideString text_;
};
class TvgTestBox : public TvgControl {
  KBL_DECLARE_CLASS(TvgTestBox, TvgControl)
 public:
  explicit TvgTestBox(TComponent* owner) : TvgControl(owner) {}
  std::string GetItemClassNames() override { return "TvgTestItem"; }
};
class TvgTestItem : public TvgTestCaption {
  KBL_DECLARE_CLASS(TvgTestItem, TvgTestCaption)
 public:
  explicit TvgTestItem(TComponent* owner) : TvgTestCaption(owner) {}
};

}  // namespace

KBL_PUBLISHED(TvgTestCaption) { KBL_PROP(Text); }
KBL_PUBLISHED(TvgTestBox) {}
KBL_PUBLISHED(TvgTestItem) {}

namespace {

// Records what the design mode tells the design environment; names are base + counter.
struct TRecDesigner : IvgDesigner {
  void SceneCreated(TComponent*) override {}
  void SceneDestroyed(TComponent*) override {}
  void SelectionChanged(TComponent*, TvgObject* sel, int32_t count) override {
    ++selections;
    lastSelected = sel;
    lastCount = count;
  }
  void Modified(TComponent*) override { ++modified; }
  std::string UniqueName(const std::string& base) override { return base + std::to_string(++counters[base]); }
  void EditStyle(TvgResources* style, const std::string& name) override {
    editedStyle = style;
    editedName = name;
  }
  TMethodValue CreateMethod(TComponent*, const std::string&, const TTypeInfo*) override { return {}; }
  int selections = 0, modified = 0, lastCount = 0;
  TvgObject* lastSelected = nullptr;
  std::map<std::string, int> counters;
  TvgResources* editedStyle = nullptr;
  std::string editedName;
};

class DesignMenuTest : public SceneDesignTest {
 protected:
  void SetUp() override {
    SceneDesignTest::SetUp();
    vgRegisterObjects("Test", {TvgTestCaption::StaticClassInfo(), TvgTestBox::StaticClassInfo(),
                               TvgTestItem::StaticClassInfo()});
    vgSetDesigner(&designer);
    root = BuildTree();
    box = new TvgTestBox(nullptr);
    box->SetBounds(60, 50, 30, 30);
    root->AddObject(box);
  }
  void TearDown() override {
    vgSetDesigner(nullptr);
    TvgResources* style = engine->GetStyle();
    SceneDesignTest::TearDown();
    delete style;
    vgDesignClipboard().clear();
  }
  // Builds the menu for the selection, opened at `at`, and clicks the item at `path`.
  void Click(TvgVisualObject* selection, const std::string& path, TvgPoint at = vgPoint(5, 5)) {
    if (selection != nullptr) engine->SetSelected(selection);
    const TvgDesignMenuItem menu = engine->BuildDesignMenu(at);
    const TvgDesignMenuItem* item = menu.Find(path);
    ASSERT_NE(item, nullptr) << path;
    ASSERT_TRUE(item->OnClick) << path;
    item->OnClick();
  }
  const TvgDesignMenuItem* Item(TvgVisualObject* selection, const std::string& path) {
    engine->SetSelected(selection);
    menu = engine->BuildDesignMenu(vgPoint(0, 0));
    return menu.Find(path);
  }
  TRecDesigner designer;
  TProbe* root = nullptr;
  TvgTestBox* box = nullptr;
  TvgDesignMenuItem menu;
};

TEST_F(DesignMenuTest, InsertedObjectsAreNamedCaptionedPlacedAtTheMenuAndSelected) {
  Click(b, "Add object/Test/TestCaption", vgPoint(120, 40));
  auto* caption = dynamic_cast<TvgTestCaption*>(engine->GetSelected());
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(caption->GetParent(), b);
  EXPECT_EQ(caption->GetName(), "vgTestCaption1");
  EXPECT_EQ(caption->GetText(), u"TestCaption");
  EXPECT_EQ(caption->GetPosition()->GetPoint(), vgPoint(20, 20));  // the menu point in b
  EXPECT_EQ(designer.lastSelected, caption);
  EXPECT_GT(designer.modified, 0);
  // Items the selection takes are offered first and are not moved to the menu point.
  const TvgDesignMenuItem* addItem = Item(box, "Add TestItem");
  ASSERT_NE(addItem, nullptr);
  EXPECT_EQ(menu.Items.front().Caption, "Add TestItem");
  Click(box, "Add TestItem", vgPoint(70, 60));
  auto* item = dynamic_cast<TvgTestItem*>(engine->GetSelected());
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->GetParent(), box);
  EXPECT_EQ(item->GetPosition()->GetPoint(), vgPoint(0, 0));
  // Unknown classes, non-scene classes and a scene with roots but no selection insert nothing.
  const int32_t count = root->GetChildrenCount();
  engine->InsertObject("TvgNoSuchClass");
  engine->InsertObject("TvgBrush");
  EXPECT_EQ(root->GetChildrenCount(), count);
}

TEST_F(DesignMenuTest, EachMenuCommandActsOnTheSelectionAndTellsTheDesigner) {
  // Delete and hide do not apply to the first root.
  EXPECT_FALSE(Item(root, "Delete object")->Enabled);
  EXPECT_FALSE(Item(root, "Hide in Design-time")->Enabled);
  Click(b, "Hide in Design-time");
  EXPECT_TRUE(b->GetDesignHide());
  EXPECT_EQ(engine->GetSelected(), root);
  EXPECT_TRUE(Item(b, "Hide in Design-time")->Checked);
  Click(b, "Hide in Design-time");
  EXPECT_FALSE(b->GetDesignHide());
  Click(a, "Order/Bring to front");
  EXPECT_EQ(root->GetChild(root->GetChildrenCount() - 1), a);
  Click(a, "Order/Send to back");
  EXPECT_EQ(root->GetChild(0), a);
  Click(a, "Tab Order...");
  EXPECT_EQ(host.tabOrderParent, root);
  Click(a, "Delete object");
  EXPECT_EQ(engine->GetSelected(), root);
  EXPECT_EQ(std::count(root->Children().begin(), root->Children().end(), a), 0);
  // Copy and paste go through the internal clipboard as text; the copy gets a name of its own.
  Click(box, "Add object/Test/TestCaption");
  auto* caption = dynamic_cast<TvgTestCaption*>(engine->GetSelected());
  ASSERT_NE(caption, nullptr);
  caption->SetText(u"Copied");
  Click(caption, "Edit/Copy to clipboard");
  EXPECT_NE(vgDesignClipboard().find("Copied"), std::string::npos);
  Click(root, "Edit/Paste from clipboard");
  auto* pasted = dynamic_cast<TvgTestCaption*>(root->GetChild(root->GetChildrenCount() - 1));
  ASSERT_NE(pasted, nullptr);
  EXPECT_NE(pasted, caption);
  EXPECT_EQ(pasted->GetText(), u"Copied");
  EXPECT_EQ(pasted->GetName(), "vgTestCaption2");
  // Loading from a file adds what it holds; a cancelled dialog adds nothing.
  TempDir dir;
  host.fileToOpen = dir.File("part.vscene");
  {
    TFileStream file(host.fileToOpen, fmCreate);
    pasted->SaveToTextStream(file);
  }
  Click(box, "Load From File...");
  EXPECT_EQ(host.openFilter, "Vector Scene Files|*.vscene;*.vg");
  ASSERT_EQ(box->GetChildrenCount() > 0, true);
  auto* loaded = dynamic_cast<TvgTestCaption*>(box->GetChild(box->GetChildrenCount() - 1));
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->GetText(), u"Copied");
  host.fileToOpen.clear();
  const int32_t boxChildren = box->GetChildrenCount();
  Click(box, "Load From File...");
  EXPECT_EQ(box->GetChildrenCount(), boxChildren);
  // The grid items: snapping to the grid and to lines exclude each other.
  struct TGridCase {
    const char* item;
    bool grid, lines;
  };
  for (const TGridCase& c : {TGridCase{"Grid/Snap to grid", true, false}, TGridCase{"Grid/Snap to lines", false, true},
                             TGridCase{"Grid/Snap disabled", false, false}}) {
    Click(root, c.item);
    EXPECT_EQ(engine->DesignSnapToGrid, c.grid) << c.item;
    EXPECT_EQ(engine->DesignSnapToLines, c.lines) << c.item;
    EXPECT_TRUE(Item(root, c.item)->Checked) << c.item;
  }
  Click(root, "Grid/Show snap grid");
  EXPECT_TRUE(engine->DesignSnapGridShow);
}

TEST_F(DesignMenuTest, StyleEditingCopiesTheControlsStylesIntoTheScenesStyle) {
  auto* defaults = new TvgBackground(nullptr);
  auto* look = new TvgVisualObject(nullptr);
  look->SetResourceName("testboxstyle");
  defaults->AddObject(look);
  vgSetDefaultStyle(defaults);
  Click(box, "Edit Default Style...");
  TvgResources* style = engine->GetStyle();
  ASSERT_NE(style, nullptr);
  EXPECT_EQ(style->GetName(), "vgResources1");
  ASSERT_NE(style->GetRoot(), nullptr);
  EXPECT_NE(style->GetRoot()->FindResource("testboxstyle"), nullptr);
  EXPECT_EQ(designer.editedStyle, style);
  EXPECT_EQ(designer.editedName, "TestBoxstyle");  // the class's style name, found without regard to case
  // A custom style: the control gets a name of its own and its copy is kept under it.
  auto* other = new TvgTestBox(nullptr);
  root->AddObject(other);
  Click(other, "Edit Custom Style...");
  EXPECT_EQ(other->GetResource(), "vgTestBoxStyle1");
  EXPECT_NE(style->GetRoot()->FindResource("vgTestBoxStyle1"), nullptr);
  EXPECT_EQ(designer.editedName, "vgTestBoxStyle1");
  vgSetDefaultStyle(nullptr);
}

TEST_F(DesignMenuTest, AnEmptySceneGetsARootOnThePressAndTheRightButtonOpensTheMenu) {
  engine->DeleteChildren();
  engine->MouseDown(1, TShiftState{ssRight}.Bits(), 30, 40);
  ASSERT_NE(engine->GetRoot(), nullptr);
  EXPECT_EQ(engine->GetRoot()->GetName(), "Root1");
  EXPECT_EQ(host.menus, 1);
  EXPECT_EQ(host.menuAt, vgPoint(30, 40));
  engine->DesignMenuEnabled = false;
  engine->MouseDown(1, TShiftState{ssRight}.Bits(), 30, 40);
  EXPECT_EQ(host.menus, 1);
}

TEST_F(DesignMenuTest, MovesSnapToSiblingEdgesWithinFourUnitsAndDrawSnapLines) {
  engine->MouseDown(0, TShiftState{ssLeft}.Bits(), 120, 40);  // selects b (100,20)-(150,70)
  ASSERT_EQ(engine->GetSelected(), b);
  engine->MouseMove(TShiftState{ssLeft}.Bits(), 73.9f, 40);  // b's left 3.9 right of a's right (50)
  EXPECT_FLOAT_EQ(b->GetPosition()->GetX(), 50);
  EXPECT_FALSE(engine->SnapObjects().empty());
  engine->SetUpdateRects({vgRect(0, 0, 200, 100)});
  engine->Draw();
  EXPECT_FALSE(canvas()->lines.empty());
  engine->MouseUp(0, 0, 74, 40);
  EXPECT_TRUE(engine->SnapObjects().empty());
  engine->MouseDown(0, TShiftState{ssLeft}.Bits(), 60, 30);
  engine->MouseMove(TShiftState{ssLeft}.Bits(), 64, 30);  // 4 units away: no snap
  EXPECT_FLOAT_EQ(b->GetPosition()->GetX(), 54);
  engine->MouseUp(0, 0, 64, 30);
  // Resizing by the left-middle handle snaps the edge the same way.
  engine->MouseDown(0, TShiftState{ssLeft}.Bits(), 54, 45);
  engine->MouseMove(TShiftState{ssLeft}.Bits(), 52, 45);
  EXPECT_FLOAT_EQ(b->GetPosition()->GetX(), 50);
  EXPECT_FLOAT_EQ(b->GetWidth(), 54);
  engine->MouseUp(0, 0, 52, 45);
  // The handle under the mouse is hot and drawn red.
  engine->MouseMove(0, 50, 20);
  EXPECT_EQ(engine->GetHotHandle(), 0);
  canvas()->ellipseFills.clear();
  engine->SetUpdateRects({vgRect(0, 0, 200, 100)});
  engine->Draw();
  EXPECT_EQ(std::count(canvas()->ellipseFills.begin(), canvas()->ellipseFills.end(), 0xFFFF0000u), 1);
}

TEST_F(SceneDesignTest, SiblingsShowSnapLinesWhenTheirLinesLieWithinTwoUnits) {
  // Only the horizontal centres can line up: every edge stays far from the other box's.
  auto* root = new TProbe();
  engine->AddObject(root);
  auto* fixed = new TProbe();
  fixed->SetBounds(0, 0, 40, 40);  // centre x 20
  root->AddObject(fixed);
  auto* moved = new TProbe();
  moved->SetBounds(0, 60, 20, 30);
  root->AddObject(moved);
  for (const float gap : {1.5f, 1.9f, 2.0f, 3.0f, 3.9f}) {
    // One unit further first, then dragged one unit back: its centre ends `gap` right of 20.
    moved->GetPosition()->SetPoint(vgPoint(10 + gap + 1, 60));
    // Pressed away from the selection handles of the previous round.
    const auto x = static_cast<int32_t>(std::lround(moved->GetPosition()->GetX())) + 5;
    engine->MouseDown(0, TShiftState{ssLeft}.Bits(), x, 68);
    ASSERT_EQ(engine->GetSelected(), moved);
    engine->MouseMove(TShiftState{ssLeft}.Bits(), x - 1, 68);
    EXPECT_FLOAT_EQ(moved->GetPosition()->GetX() + 10, 20 + gap) << gap;
    EXPECT_EQ(!engine->SnapObjects().empty(), gap < 2) << gap;
    engine->MouseUp(0, 0, x - 1, 68);
  }
}

TEST_F(DesignMenuTest, AltDragPlacesTheSelectionIntoTheObjectBeneathKeepingItsPlace) {
  engine->DesignSnapToLines = false;
  b->SetName("Pad");
  engine->MouseDown(0, TShiftState{ssLeft}.Bits(), 20, 20);  // selects a (10,10)
  engine->MouseMove(TShiftState{ssLeft}.Bits(), 120, 45);    // over b, without ALT
  EXPECT_EQ(engine->GetDesignPlaceObject(), b);
  EXPECT_EQ(a->GetParent(), root);
  engine->SetUpdateRects({vgRect(0, 0, 200, 100)});
  engine->Draw();
  ASSERT_FALSE(canvas()->texts.empty());
  EXPECT_EQ(canvas()->texts.back(), "ALT-drag to place into [Pad]");
  engine->MouseMove(TShiftState{ssLeft, ssAlt}.Bits(), 121, 46);
  EXPECT_EQ(a->GetParent(), b);
  EXPECT_EQ(a->LocalToAbsolute(vgPoint(0, 0)), vgPoint(111, 36));
  EXPECT_EQ(a->GetPosition()->GetPoint(), vgPoint(11, 16));
  const int modified = designer.modified;
  engine->MouseUp(0, 0, 121, 46);
  EXPECT_EQ(engine->GetDesignPlaceObject(), nullptr);
  EXPECT_GT(designer.modified, modified);
  // The scene takes the mouse over objects and inside the selection only.
  root->SetLocked(true);
  b->SetLocked(true);
  EXPECT_TRUE(engine->DesignHitTest(70, 60));    // the box
  EXPECT_FALSE(engine->DesignHitTest(105, 25));  // b does not take hits
  engine->SetSelected(b);
  EXPECT_TRUE(engine->DesignHitTest(105, 25));   // but it is the selection
}

// --- Popups shown as overlays

class PopupTest : public SceneEngineTest {
 protected:
  void SetUp() override {
    SceneEngineTest::SetUp();
    root = BuildTree();
  }
  void TearDown() override {
    vgSetPopupMessagePump(nullptr);
    SceneEngineTest::TearDown();
    vgFreePopupList();
  }
  TvgPopup* MakePopup(TvgVisualObject* target, float w = 60, float h = 30) {
    auto* p = new TvgPopup(nullptr);
    p->SetBounds(0, 0, w, h);
    p->SetPlacementTarget(target);
    root->AddObject(p);
    popups.push_back(p);
    return p;
  }
  TProbe* root = nullptr;
  std::vector<TvgPopup*> popups;
};

TEST_F(PopupTest, TopPlacementPutsThePopupAboveTheTargetByItsHeightAndOffset) {
  a->SetHeight(20);
  TvgPopup* p = MakePopup(a);
  p->SetPlacement(vgPlacementTop);
  p->SetVerticalOffset(5);
  p->SetIsOpen(true);
  ASSERT_TRUE(p->GetIsOpen());
  const TvgPoint inTarget = a->AbsoluteToLocal(p->LocalToAbsolute(vgPoint(0, 0)));
  EXPECT_FLOAT_EQ(inTarget.X, 0);
  EXPECT_FLOAT_EQ(inTarget.Y, -35);
  p->SetPlacement(vgPlacementRight);
  p->SetHorizontalOffset(2);
  p->ApplyPlacement();
  const TvgPoint right = a->AbsoluteToLocal(p->LocalToAbsolute(vgPoint(0, 0)));
  EXPECT_FLOAT_EQ(right.X, 42);
  EXPECT_FLOAT_EQ(right.Y, 5);
  // A rectangle in the target's coordinates wins over its bounds.
  p->GetPlacementRectangle()->SetRect(vgRect(10, 4, 20, 8));
  p->SetPlacement(vgPlacementBottom);
  p->ApplyPlacement();
  const TvgPoint below = a->AbsoluteToLocal(p->LocalToAbsolute(vgPoint(0, 0)));
  EXPECT_FLOAT_EQ(below.X, 12);
  EXPECT_FLOAT_EQ(below.Y, 13);
}

TEST_F(PopupTest, ClickBesideEscAndCloseAllCloseOrdinaryPopups) {
  TvgPopup* p = MakePopup(a);
  int closed = 0;
  struct Counter : TObject {
    int* n;
    void Closed(TObject*) { ++*n; }
  } counter;
  counter.n = &closed;
  p->OnClosePopup = TNotifyEvent::Of<&Counter::Closed>(&counter);
  p->SetIsOpen(true);
  ASSERT_EQ(vgOpenPopups().size(), 1u);
  EXPECT_EQ(p->GetParent(), p->GetOverlay());
  engine->MouseDown(0, 0, 190, 95);  // the overlay catches the click beside the popup
  EXPECT_FALSE(p->GetIsOpen());
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(p->GetParent(), root);  // back where it was
  EXPECT_TRUE(vgOpenPopups().empty());

  p->SetIsOpen(true);
  uint16_t key = 27;
  p->DialogKey(key, TShiftState());
  EXPECT_FALSE(p->GetIsOpen());
  EXPECT_EQ(key, 0);

  TvgPopup* q = MakePopup(b);
  p->SetIsOpen(true);
  q->SetIsOpen(true);
  ASSERT_EQ(vgOpenPopups().size(), 2u);
  EXPECT_EQ(vgOpenPopups()[1], q);
  vgCloseAllPopups();
  EXPECT_FALSE(p->GetIsOpen());
  EXPECT_FALSE(q->GetIsOpen());
}

TEST_F(PopupTest, StaysOpenPopupsIgnoreOutsideClicksAndEsc) {
  TvgPopup* p = MakePopup(a);
  p->SetStaysOpen(true);
  p->SetIsOpen(true);
  EXPECT_TRUE(vgOpenPopups().empty());
  engine->MouseDown(0, 0, 190, 95);
  EXPECT_TRUE(p->GetIsOpen());
  uint16_t key = 27;
  p->DialogKey(key, TShiftState());
  EXPECT_EQ(key, 27);
  EXPECT_TRUE(p->GetIsOpen());
  vgCloseAllPopups();
  EXPECT_TRUE(p->GetIsOpen());
  p->SetIsOpen(false);
  EXPECT_FALSE(p->GetIsOpen());
}

TEST_F(PopupTest, ModalLoopEndsWithCancelWhenTheApplicationEndsOrThePopupCloses) {
  TvgPopup* p = MakePopup(a);
  int pumped = 0;
  vgSetPopupMessagePump([&] { return ++pumped < 3; });
  EXPECT_EQ(p->PopupModal(), 2);
  EXPECT_EQ(pumped, 3);
  EXPECT_FALSE(p->GetIsOpen());
  vgSetPopupMessagePump([&] {
    p->ClosePopup();  // no result yet: the loop ends with 2
    return true;
  });
  EXPECT_EQ(p->PopupModal(), 2);
  EXPECT_FALSE(p->GetIsOpen());
  vgSetPopupMessagePump([&] {
    p->SetModalResult(1);
    return true;
  });
  EXPECT_EQ(p->PopupModal(), 1);
  // A loop that raises leaves the popup open but no longer modal: it closes as any popup does.
  vgSetPopupMessagePump([]() -> bool { throw std::runtime_error("pump"); });
  EXPECT_THROW(p->PopupModal(), std::runtime_error);
  p->ClosePopup();
  EXPECT_FALSE(p->GetIsOpen());
}

TEST_F(PopupTest, AnOverlayPlacedAgainAtTheSamePlaceDoesNotRepaint) {
  // A repaint on every pass would be the loop's next message: it would never wait.
  TvgPopup* p = MakePopup(a);
  size_t atSecondPass = 0, repaintsWhileStill = 0;
  int passes = 0;
  vgSetPopupMessagePump([&] {
    ++passes;
    if (passes == 2) atSecondPass = host.invalidated.size();
    if (passes == 6) {
      repaintsWhileStill = host.invalidated.size() - atSecondPass;
      a->GetPosition()->SetPoint(vgPoint(12, 10));  // the popup follows its target
    }
    if (passes == 7) {
      EXPECT_FLOAT_EQ(p->LocalToAbsolute(vgPoint(0, 0)).X, 12);
      p->SetModalResult(1);
    }
    return passes < 20;
  });
  EXPECT_EQ(p->PopupModal(), 1);
  EXPECT_EQ(repaintsWhileStill, 0u);
}

TEST_F(PopupTest, MessagePopupDisablesTheRootWhileModalAndRestoresIt) {
  auto* m = new TvgMessagePopup(nullptr);
  m->SetBounds(0, 0, 20, 10);
  m->SetPlacementTarget(b);
  root->AddObject(m);
  bool disabledMeanwhile = false;
  vgSetPopupMessagePump([&] {
    disabledMeanwhile = !root->GetEnabled();
    m->SetModalResult(1);
    return true;
  });
  EXPECT_EQ(m->PopupModal(), 1);
  EXPECT_TRUE(disabledMeanwhile);
  EXPECT_TRUE(root->GetEnabled());
  EXPECT_FLOAT_EQ(m->GetHorizontalOffset(), 15);  // centred over the 50-wide target
  root->SetEnabled(false);
  m->PopupModal();
  EXPECT_FALSE(root->GetEnabled());
}

TEST_F(PopupTest, FreeingAnOpenPopupClosesItAndLeavesTheList) {
  TvgPopup* p = MakePopup(a);
  p->SetIsOpen(true);
  delete p;
  EXPECT_TRUE(vgOpenPopups().empty());
  EXPECT_EQ(root->GetChildrenCount(), 2);  // the overlay went with it
}

// A form of a popup in form mode, over a second engine.
class TFakePopupForm : public IvgPopupForm {
 public:
  TFakePopupForm(int32_t w, int32_t h) : scene(&host, nullptr, nullptr, false) {
    host.width = w;
    host.height = h;
  }
  IvgScene* GetPopupScene() override { return &scene; }
  void SetScreenPos(int32_t x, int32_t y) override { pos = vgPoint(static_cast<float>(x), static_cast<float>(y)); }
  void ShowForm() override { shown = true; }
  void ReleaseForm() override { released = true; }
  int32_t GetFormModalResult() override { return modalResult; }
  void SetFormModalResult(int32_t v) override { modalResult = v; }
  bool GetFormClosing() override { return false; }
  void StartFollowTimer(uint32_t ms, std::function<void()> t) override {
    followMs = ms;
    tick = std::move(t);
  }
  void* NativeWindow() override { return nullptr; }
  THost host;
  TvgSceneEngine scene;
  TvgPoint pos;
  bool shown = false, released = false;
  int32_t modalResult = 0;
  uint32_t followMs = 0;
  std::function<void()> tick;
};

TEST_F(PopupTest, FormModeOpensInAFormPlacedOnTheScreenAndComesBack) {
  std::vector<std::unique_ptr<TFakePopupForm>> forms;
  int32_t madeW = 0, madeH = 0;
  vgSetPopupFormFactory([&](TObject*, TComponent*, TComponent*, int32_t w, int32_t h, TvgResources*) {
    madeW = w;
    madeH = h;
    forms.push_back(std::make_unique<TFakePopupForm>(w, h));
    return forms.back().get();
  });
  root->GetScale()->SetPoint(vgPoint(2, 2));  // the popup keeps its on-screen size
  TvgPopup* p = MakePopup(a, 30, 20);
  p->SetIsOpen(true);
  ASSERT_EQ(forms.size(), 1u);
  TFakePopupForm& form = *forms[0];
  EXPECT_EQ(madeW, 60);
  EXPECT_EQ(madeH, 40);
  EXPECT_FLOAT_EQ(p->GetScale()->GetX(), 2);
  EXPECT_TRUE(form.shown);
  EXPECT_EQ(form.scene.GetRoot(), p);
  EXPECT_EQ(p->GetScene(), &form.scene);
  // Below the target: its bottom-left in scene coordinates, then to the screen (+100, +200).
  const TvgPoint bottomLeft = a->LocalToAbsolute(vgPoint(0, a->GetHeight()));
  EXPECT_EQ(form.pos, vgPoint(bottomLeft.X + 100, bottomLeft.Y + 200));
  p->SetIsOpen(true);  // no change
  p->Popup();          // a second call toggles
  EXPECT_FALSE(p->GetIsOpen());
  EXPECT_TRUE(form.released);
  EXPECT_EQ(p->GetParent(), root);
  EXPECT_FLOAT_EQ(p->GetScale()->GetX(), 1);
  EXPECT_EQ(form.scene.GetRoot(), nullptr);
  // Following the parent while open.
  p->SetStaysOpen(true);
  p->SetDragWithParent(true);
  p->SetIsOpen(true);
  ASSERT_EQ(forms.size(), 2u);
  EXPECT_EQ(forms[1]->followMs, 10u);
  a->GetPosition()->SetPoint(vgPoint(30, 10));
  forms[1]->tick();
  const TvgPoint moved = a->LocalToAbsolute(vgPoint(0, a->GetHeight()));
  EXPECT_EQ(forms[1]->pos, vgPoint(moved.X + 100, moved.Y + 200));
  // The form closing by itself closes the popup.
  vgPopupFormClosing(p);
  EXPECT_FALSE(p->GetIsOpen());
  vgSetPopupFormFactory(nullptr);
}

TEST_F(PopupTest, InFormModeTheModalLoopEndsWithTheResultOfThePopupOrOfItsForm) {
  std::vector<std::unique_ptr<TFakePopupForm>> forms;
  vgSetPopupFormFactory([&](TObject*, TComponent*, TComponent*, int32_t w, int32_t h, TvgResources*) {
    forms.push_back(std::make_unique<TFakePopupForm>(w, h));
    return forms.back().get();
  });
  TvgPopup* p = MakePopup(a);
  // Each case acts on the first pass; a loop that missed the result gives up after 20 passes.
  struct Case {
    const char* name;
    std::function<void()> act;
    int32_t result;
  };
  const Case cases[] = {
      {"result set on the popup", [&] { p->SetModalResult(3); }, 3},
      {"result set on the form, as a button's ModalResult does", [&] { forms.back()->modalResult = 6; }, 6},
      {"closed without a result", [&] { p->ClosePopup(); }, 2},
      {"form closing by itself", [&] { vgPopupFormClosing(p); }, 2},
  };
  for (const Case& c : cases) {
    int passes = 0;
    vgSetPopupMessagePump([&] {
      if (++passes == 1) c.act();
      return passes < 20;
    });
    EXPECT_EQ(p->PopupModal(), c.result) << c.name;
    EXPECT_EQ(passes, 1) << c.name;
    EXPECT_EQ(forms.back()->modalResult, c.result) << c.name;
    EXPECT_FALSE(p->GetIsOpen()) << c.name;
    EXPECT_FALSE(p->GetModal()) << c.name;
    EXPECT_EQ(p->GetParent(), root) << c.name;
  }
  EXPECT_EQ(forms.size(), 4u);
  // The application ending: 2, on the form as well.
  vgSetPopupMessagePump([] { return false; });
  EXPECT_EQ(p->PopupModal(), 2);
  EXPECT_EQ(forms.back()->modalResult, 2);
  vgSetPopupFormFactory(nullptr);
}

TEST_F(PopupTest, APopupWithNowhereToOpenDoesNotWaitForAResult) {
  auto* lonely = new TvgPopup(nullptr);  // in no scene, and no form factory
  int passes = 0;
  vgSetPopupMessagePump([&] { return ++passes < 20; });
  EXPECT_EQ(lonely->PopupModal(), 2);
  EXPECT_EQ(passes, 0);
  EXPECT_FALSE(lonely->GetIsOpen());
  delete lonely;
}

TEST_F(PopupTest, AMessagePopupWithoutTargetOpensCentredAtTheTopOfItsOwnerForm) {
  // The owner form's client area starts where the scene does on the screen (100, 200).
  auto* ownerForm = new TComponent(nullptr);
  vgSetFormGeometrySource([ownerForm](TComponent* c, TvgPoint& origin, float& width) {
    if (c != ownerForm) return false;
    origin = vgPoint(100, 200);
    width = 400;
    return true;
  });
  std::vector<std::unique_ptr<TFakePopupForm>> forms;
  vgSetPopupFormFactory([&](TObject*, TComponent*, TComponent*, int32_t w, int32_t h, TvgResources*) {
    forms.push_back(std::make_unique<TFakePopupForm>(w, h));
    return forms.back().get();
  });
  auto* m = new TvgMessagePopup(ownerForm);
  m->SetBounds(0, 0, 100, 40);
  b->AddObject(m);  // its parent is no placement target for the owner form's rectangle
  vgSetPopupMessagePump([&] {
    m->SetModalResult(1);
    return true;
  });
  EXPECT_EQ(m->PopupModal(), 1);
  ASSERT_EQ(forms.size(), 1u);
  EXPECT_EQ(forms[0]->pos, vgPoint(250, 200));  // (400 - 100) / 2 right of the client origin
  EXPECT_EQ(m->GetPlacementRectangle()->GetRect(), vgRect(100, 200, 200, 200));
  EXPECT_FLOAT_EQ(m->GetHorizontalOffset(), 150);
  // As an overlay the same place is taken in scene coordinates.
  m->OverlayMode = 1;
  m->SetIsOpen(true);
  ASSERT_TRUE(m->GetIsOpen());
  EXPECT_EQ(m->LocalToAbsolute(vgPoint(0, 0)), vgPoint(150, 0));
  m->SetIsOpen(false);
  // Without an owner form the popup's own placement applies: below its parent.
  m->OverlayMode = 0;
  vgSetFormGeometrySource(nullptr);
  m->GetPlacementRectangle()->SetRect(vgRect(0, 0, 0, 0));
  m->SetHorizontalOffset(0);
  m->SetIsOpen(true);
  ASSERT_EQ(forms.size(), 2u);
  const TvgPoint belowParent = b->LocalToAbsolute(vgPoint(0, b->GetHeight()));
  EXPECT_EQ(forms[1]->pos, vgPoint(belowParent.X + 100, belowParent.Y + 200));
  m->SetIsOpen(false);
  vgSetPopupFormFactory(nullptr);
  delete ownerForm;  // frees the popup it owns
  EXPECT_EQ(b->GetChildrenCount(), 0);
}

// Counts the layouts of its aligned children that ran (not those put off, nor the calls its
// children's new sizes make while it lays them out).
class TLayoutCounter : public TvgVisualObject {
 public:
  explicit TLayoutCounter(TComponent* owner = nullptr) : TvgVisualObject(owner) {}
  void Realign() override {
    if (GetUpdateCounter() == 0 && GetNeedRealign() && depth_ == 0) ++layouts;
    ++depth_;
    TvgVisualObject::Realign();
    --depth_;
  }
  int layouts = 0;

 private:
  int depth_ = 0;
};

// A subtree that leaves an open update for a place its end does not reach has the layouts put
// off in it run once: at once, when it lands there, or at the end of an update open where it
// lands (not before).
TEST_F(PopupTest, LayoutsPutOffInASubtreeThatLeavesTheUpdateRunOnceWhereverItLands) {
  std::vector<std::unique_ptr<TFakePopupForm>> forms;
  vgSetPopupFormFactory([&](TObject*, TComponent*, TComponent*, int32_t w, int32_t h, TvgResources*) {
    forms.push_back(std::make_unique<TFakePopupForm>(w, h));
    return forms.back().get();
  });
  auto* holder = new TvgObject(nullptr);
  auto* other = new TProbe();
  other->SetBounds(0, 0, 150, 90);
  root->AddObject(other);
  TLayoutCounter* box = nullptr;
  struct Case {
    const char* name;
    std::function<void(TvgPopup*)> inUpdate, after;
  };
  const Case cases[] = {
      {"made a scene root", [&](TvgPopup* r) { r->SetParent(nullptr); engine->AddObject(r); }, nullptr},
      {"kept apart, a root after the update",
       [](TvgPopup* r) { r->SetParent(nullptr); }, [&](TvgPopup* r) { engine->AddObject(r); }},
      {"kept apart", [](TvgPopup* r) { r->SetParent(nullptr); }, nullptr},
      {"taken out, its own update ended after", [](TvgPopup* r) { r->BeginUpdate(), r->GetParent()->RemoveObject(r); },
       [](TvgPopup* r) { r->EndUpdate(); }},
      {"moved under another open update", [&](TvgPopup* r) { other->BeginUpdate(), r->SetParent(other); },
       [&](TvgPopup*) {
         EXPECT_EQ(box->layouts, 0);
         other->EndUpdate();
       }},
      {"opened in a form", [](TvgPopup* r) { r->SetIsOpen(true); }, nullptr},
      {"under an object that is not visual", [&](TvgPopup* r) { r->SetParent(holder); }, nullptr},
  };
  for (const Case& c : cases) {
    auto* p = new TProbe();
    p->SetBounds(0, 0, 150, 90);
    root->AddObject(p);
    auto* r = new TvgPopup(nullptr);
    r->SetBounds(0, 0, 140, 90);
    p->AddObject(r);
    box = new TLayoutCounter();
    box->SetBounds(5, 5, 120, 80);
    r->AddObject(box);
    p->BeginUpdate();
    auto* filler = new TProbe();
    filler->SetAlign(vaClient);
    box->AddObject(filler);
    c.inUpdate(r);
    p->EndUpdate();
    if (c.after) c.after(r);
    EXPECT_EQ(box->layouts, 1) << c.name;
    EXPECT_EQ(filler->GetParentedRect(), vgRect(0, 0, 120, 80)) << c.name;
    r->SetIsOpen(false);
    if (r->GetParent() == nullptr && r->GetScene() == nullptr) delete r;
  }
  delete holder;
  vgSetPopupFormFactory(nullptr);
}

class PopupDesignTest : public SceneDesignTest {};

TEST_F(PopupDesignTest, IsOpenStaysFalseAtDesignTime) {
  BuildTree();
  auto* p = new TvgPopup(nullptr);
  engine->GetRoot()->AddObject(p);
  p->SetIsOpen(true);
  EXPECT_FALSE(p->GetIsOpen());
}

}  // namespace
