// The scene window under Wine: a scene parented in a host window paints its objects through
// GDI+ (read back from the window pixel by pixel), repaints only queued areas, and routes mouse
// and keyboard messages sent to its window to the right objects.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "Emulation.h"
#include "FailAfter.h"
#include "SceneWindowTestObjects.h"
#include "classlib/FormText.h"
#include "classlib/Forms.h"
#include "classlib/WindowTestUtils.h"
#include "scene/core/win32/vg_gdiplus.h"
#include "scene/core/win32/vg_scene.h"

namespace {

constexpr TvgColor kRed = 0xFFFF0000u, kBlue = 0xFF0000FFu, kGreen = 0xFF00FF00u, kWhite = 0xFFFFFFFFu;

class SceneWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartGdiPlus();
    ASSERT_TRUE(GdiPlusStarted());
    host = std::make_unique<TForeignWindow>(300, 200);
    scene = TWinControl::CreateParented<TvgScene>(host->handle);
    scene->SetBounds(0, 0, 200, 100);
    scene->HandleNeeded();
    ShowWindow(scene->GetHandle(), SW_SHOWNA);
    root = MakeColorObject(0, 0, 10, 10, kBlue);
    scene->AddObject(root);
    child = MakeColorObject(20, 10, 40, 30, kRed, root);
    Settle();
  }
  void TearDown() override {
    delete scene;
    host.reset();
  }
  void Settle() {
    PumpUntil([] { return false; }, static_cast<int>(MachineBound(150)));
  }
  std::unique_ptr<TForeignWindow> host;
  TvgScene* scene = nullptr;
  TvgObject* root = nullptr;
  TvgObject* child = nullptr;
};

TEST_F(SceneWindowTest, PaintsItsObjectsIntoTheWindow) {
  EXPECT_EQ(vgLiveSceneCount(), 1);
  TWindowPixels px(scene->GetHandle());
  ASSERT_EQ(px.width, 200);
  EXPECT_EQ(px.At(5, 5), 0x0000FFu);      // root, fitted to the whole scene
  EXPECT_EQ(px.At(195, 95), 0x0000FFu);
  EXPECT_EQ(px.At(30, 20), 0xFF0000u);    // child
  EXPECT_EQ(px.At(59, 39), 0xFF0000u);
  EXPECT_EQ(px.At(60, 40), 0x0000FFu);
}

TEST_F(SceneWindowTest, QueuedAreasRepaintOnlyThemselves) {
  // Both change; only the child asks for a repaint, so only its area shows the new root colour
  // beneath it and the root outside keeps its old pixels.
  SetObjectColor(root, kWhite);
  SetObjectColor(child, kGreen);
  const int32_t rootPaints = ObjectPaints(root);
  RepaintObject(child);
  Settle();
  TWindowPixels px(scene->GetHandle());
  EXPECT_EQ(px.At(30, 20), 0x00FF00u);
  EXPECT_EQ(px.At(5, 5), 0x0000FFu);
  EXPECT_EQ(px.At(150, 80), 0x0000FFu);
  EXPECT_GT(ObjectPaints(root), rootPaints);  // painted, but clipped to the child's area
  // A full invalidation brings the new root colour everywhere.
  InvalidateRect(scene->GetHandle(), nullptr, FALSE);
  Settle();
  TWindowPixels all(scene->GetHandle());
  EXPECT_EQ(all.At(5, 5), 0xFFFFFFu);
}

TEST_F(SceneWindowTest, FlushedScenesCoalesceUpdateMessages) {
  int flushes = 0;
  scene->SetOnFlush([&] { ++flushes; });
  const int32_t before = scene->Engine().DrawCount();
  for (int i = 0; i < 10; ++i) scene->AddUpdateRect(vgRect(static_cast<float>(i), 0, i + 5.0f, 5));
  Settle();
  EXPECT_EQ(scene->Engine().DrawCount() - before, 1);
  EXPECT_EQ(flushes, 1);
  scene->SetOnFlush(nullptr);
}

TEST_F(SceneWindowTest, APaintAskedForWhilePaintingWaitsForThePaintInProgress) {
  // The child's paint runs a message loop (as a dialog shown from a paint would) after another
  // area was invalidated: the WM_PAINT met there must neither replace the rects the paint in
  // progress walks nor be lost.
  TvgObject* other = MakeColorObject(120, 10, 30, 30, kGreen, root);
  Settle();
  std::vector<TvgRect> during;
  const std::vector<TvgRect> walked = {vgRect(20, 10, 61, 41)};
  bool first = true;
  SetObjectPaintHook(child, [&] {
    if (!first) return;
    first = false;
    SetObjectColor(other, kWhite);
    const RECT area{120, 10, 150, 40};
    InvalidateRect(scene->GetHandle(), &area, FALSE);
    PumpUntil([] { return false; }, 60);
    during = scene->Engine().UpdateRects();
  });
  const int32_t otherPaints = ObjectPaints(other);
  RepaintObject(child);
  Settle();
  SetObjectPaintHook(child, nullptr);
  EXPECT_FALSE(first);
  EXPECT_EQ(during, walked);
  EXPECT_GT(ObjectPaints(other), otherPaints);
  TWindowPixels px(scene->GetHandle());
  EXPECT_EQ(px.At(130, 20), 0xFFFFFFu);  // painted once the first paint was done
  EXPECT_EQ(px.At(30, 20), 0xFF0000u);
}

TEST_F(SceneWindowTest, RepaintsAskedForByAPaintArePaintedAfterItAndARunOfThemEnds) {
  // The child's paint recolours another object and asks for its repaint.
  TvgObject* other = MakeColorObject(120, 10, 30, 30, kGreen, root);
  Settle();
  SetObjectPaintHook(child, [&, first = true]() mutable {
    if (first) SetObjectColor(other, kWhite), RepaintObject(other);
    first = false;
  });
  RepaintObject(child);
  Settle();
  EXPECT_EQ(TWindowPixels(scene->GetHandle()).At(130, 20), 0xFFFFFFu);
}

// A paint that asks for itself every time is painted again at once a few times, then about once
// a frame, in a window and in a flushed scene: the message loop goes on, and nothing asked for
// meanwhile is lost (another object recoloured in a pass past the first few shows its colour).
TEST_F(SceneWindowTest, ARunOfPaintsAskedByPaintsGoesOnAboutOnceAFrameAndLosesNothing) {
  TvgObject* other = MakeColorObject(120, 10, 30, 30, kGreen, root);
  int flushes = 0;
  for (bool flushed : {false, true}) {
    SCOPED_TRACE(flushed ? "flushed scene" : "window");
    if (flushed) scene->SetOnFlush([&] { ++flushes; });
    SetObjectColor(other, kGreen);
    RepaintObject(other);
    Settle();
    int32_t passes = 0;
    SetObjectPaintHook(child, [&] {
      if (++passes == 7) SetObjectColor(other, kWhite), RepaintObject(other);
      RepaintObject(child);
    });
    {
      // The loop below returns only when the window leaves it time for other messages.
      const TFailAfter bound(MachineBound(20000),
                             "a paint asking for itself every time keeps the scene painting without a pause");
      RepaintObject(child);
      PumpUntil([&] { return false; }, 400);
      SetObjectPaintHook(child, nullptr);
      Settle();
    }
    EXPECT_GT(passes, 8);   // the run went on past the first few
    EXPECT_LE(passes, 60);  // about once a frame: 400 ms are 25 frames of 16 ms
    EXPECT_FALSE(GetUpdateRect(scene->GetHandle(), nullptr, FALSE));
    if (!flushed) EXPECT_EQ(TWindowPixels(scene->GetHandle()).At(130, 20), 0xFFFFFFu);
    else EXPECT_GT(flushes, 8);
  }
  scene->SetOnFlush(nullptr);
}

TEST_F(SceneWindowTest, ABatchPaintsWhatItGatheredAtItsEndWithoutAPaintMessage) {
  TvgObject* other = MakeColorObject(150, 10, 30, 30, kWhite, root);
  Settle();
  HWND wnd = scene->GetHandle();
  const int32_t draws = scene->Engine().DrawCount();
  {
    TvgUpdateBatch outer(scene->Engine());
    {
      TvgUpdateBatch inner(scene->Engine());
      SetObjectColor(child, kGreen);
      RepaintObject(child);
    }
    SetObjectColor(other, kGreen);
    RepaintObject(other);
    EXPECT_EQ(scene->Engine().DrawCount(), draws);  // nothing before the outer end
  }
  // One paint, at once: the window was never invalidated, no message was needed.
  EXPECT_EQ(scene->Engine().DrawCount() - draws, 1);
  EXPECT_FALSE(GetUpdateRect(wnd, nullptr, FALSE));
  TWindowPixels px(wnd);
  EXPECT_EQ(px.At(30, 20), 0x00FF00u);
  EXPECT_EQ(px.At(160, 20), 0x00FF00u);
  EXPECT_EQ(px.At(100, 60), 0x0000FFu);
  // The two areas lie far apart: painted as two, the root between them untouched.
  SetObjectColor(root, kWhite);
  {
    TvgUpdateBatch batch(scene->Engine());
    RepaintObject(child);
    RepaintObject(other);
  }
  TWindowPixels after(wnd);
  EXPECT_EQ(after.At(100, 20), 0x0000FFu);
  EXPECT_EQ(after.At(30, 20), 0x00FF00u);
}

TEST_F(SceneWindowTest, AreasQueuedWhileAFlushedScenePaintsArePaintedAfterIt) {
  int flushes = 0;
  scene->SetOnFlush([&] { ++flushes; });
  TvgObject* other = MakeColorObject(120, 10, 30, 30, kGreen, root);
  Settle();
  bool first = true;
  std::vector<TvgRect> during;
  SetObjectPaintHook(child, [&] {
    if (!first) return;
    first = false;
    scene->AddUpdateRect(vgRect(120, 10, 150, 40));
    during = scene->Engine().UpdateRects();
  });
  const int32_t otherPaints = ObjectPaints(other);
  const int32_t draws = scene->Engine().DrawCount();
  flushes = 0;
  RepaintObject(child);
  Settle();
  SetObjectPaintHook(child, nullptr);
  scene->SetOnFlush(nullptr);
  EXPECT_EQ(during.size(), 1u);  // the queue being walked is left alone
  EXPECT_EQ(scene->Engine().DrawCount() - draws, 2);
  EXPECT_EQ(flushes, 2);
  EXPECT_GT(ObjectPaints(other), otherPaints);
}

TEST_F(SceneWindowTest, MouseMessagesReachTheObjectUnderThePoint) {
  HWND wnd = scene->GetHandle();
  SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(25, 15));
  EXPECT_TRUE(ObjectHovered(child));
  SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(25, 15));
  SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(25, 15));
  EXPECT_EQ(ObjectMouseDowns(child), 1);
  EXPECT_EQ(ObjectMouseUps(child), 1);
  EXPECT_EQ(ObjectLastMouse(child), vgPoint(5, 5));
  EXPECT_EQ(ObjectMouseDowns(root), 0);
  SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(150, 80));
  EXPECT_FALSE(ObjectHovered(child));
  SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(150, 80));
  SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(150, 80));
  EXPECT_EQ(ObjectMouseDowns(root), 1);
}

// A release whose handler raises leaves the window hearing a later loss of the mouse: the object
// holding it then is told that another window took it.
TEST_F(SceneWindowTest, TheHolderOfTheMouseIsToldItWentAlsoAfterAReleaseThatRaised) {
  HWND wnd = scene->GetHandle();
  SetObjectReleaseHook(child, [] { throw std::runtime_error("release"); });
  SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(25, 15));
  SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(25, 15));  // the window reports the error
  SetObjectReleaseHook(child, nullptr);
  SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(25, 15));
  SetCapture(host->handle);
  EXPECT_EQ(ObjectCapturesLost(child), 1);
  ReleaseCapture();
}

TEST_F(SceneWindowTest, AnObjectFreedByItsHandlerIsNotTakenForTheOneMadeNextInItsPlace) {
  // The handler frees its object and makes one like it, which the memory manager places at the
  // freed address: the scene must neither start the new one's drag nor hand it the drop.
  auto arm = [&] {
    SetObjectInputHook(child, [&, gone = child] {
      FreeObject(gone);
      child = MakeColorObject(20, 10, 40, 30, kRed, root);
      SetObjectInputHook(child, nullptr);
    });
  };
  const std::function<void()> cases[] = {
      [&] { arm(), SendMessageW(scene->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(25, 15)); },
      // Armed once it is the target: finding the target asks it too.
      [&] { EXPECT_FALSE(DragAndDrop(scene->Engine(), vgPoint(25, 15), arm)); },
  };
  for (const auto& act : cases) {
    TvgObject* const gone = child;
    act();
    ASSERT_EQ(child, gone) << "the new object must stand at the freed address";
    EXPECT_EQ(ObjectDragsAndDrops(child), 0);
  }
}

TEST_F(SceneWindowTest, KeysAndCharactersReachTheFocusedObject) {
  HWND wnd = scene->GetHandle();
  SetObjectFocusable(child);
  SendMessageW(wnd, WM_KEYDOWN, VK_TAB, 0);  // Tab focuses the first focusable entry
  EXPECT_TRUE(ObjectFocused(child));
  SendMessageW(wnd, WM_KEYDOWN, 'A', 0);
  SendMessageW(wnd, WM_CHAR, 22, 0);  // Ctrl+V
  SendMessageW(wnd, WM_CHAR, 13, 0);  // Enter comes only as its key
  EXPECT_EQ(ObjectKeys(child), "k65,cv,ucv");
  EXPECT_EQ(SendMessageW(wnd, WM_GETDLGCODE, 0, 0), 131);
  EXPECT_EQ(SendMessageW(wnd, WM_ERASEBKGND, 0, 0), 1);
}

TEST_F(SceneWindowTest, FreeingTheSceneUnlinksAndFreesItsRoots) {
  const int32_t count = CountThreadWindows();
  delete scene;
  scene = nullptr;
  EXPECT_EQ(vgLiveSceneCount(), 0);
  EXPECT_EQ(CountThreadWindows(), count - 1);
}

TEST_F(SceneWindowTest, PopupOpensInItsOwnFormBelowTheTargetAndCloses) {
  TvgObject* popup = MakePopupObject(root, child, 50, 20);
  SetPopupOpen(popup, true);
  ASSERT_TRUE(PopupIsOpen(popup));
  HWND form = static_cast<HWND>(PopupWindow(popup));
  ASSERT_NE(form, nullptr);
  Settle();
  EXPECT_TRUE(IsWindowVisible(form));
  RECT r{};
  GetWindowRect(form, &r);
  const TvgPoint below = ObjectToScene(child, 0, 30);  // the target's bottom-left
  POINT expected{static_cast<LONG>(below.X), static_cast<LONG>(below.Y)};
  ClientToScreen(scene->GetHandle(), &expected);
  EXPECT_EQ(r.left, expected.x);
  EXPECT_EQ(r.top, expected.y);
  EXPECT_EQ(r.right - r.left, 50);
  EXPECT_EQ(r.bottom - r.top, 20);
  EXPECT_NE(GetWindowLongPtrW(form, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  SetPopupOpen(popup, false);
  EXPECT_FALSE(PopupIsOpen(popup));
  Settle();
  EXPECT_FALSE(IsWindow(form));  // released once its messages were handled
}

TEST(SceneWindowFormTest, TransparentSceneOnAFormMakesTheFormLayeredAndPaintsThroughUpdateMessages) {
  StartGdiPlus();
  TForm* form = TCustomForm::CreateNew<TForm>(nullptr);
  form->SetBounds(50, 50, 240, 160);
  auto* scene = new TvgScene(form);
  scene->SetParent(form);
  scene->SetBounds(0, 0, 200, 100);
  scene->SetTransparency(true);
  scene->AddObject(MakeColorObject(0, 0, 10, 10, kRed));
  form->Show();
  PumpUntil([&] { return scene->Engine().DrawCount() > 0; }, MachineBound(2000));
  const LONG_PTR exStyle = GetWindowLongPtrW(form->GetHandle(), GWL_EXSTYLE);
  EXPECT_NE(exStyle & WS_EX_LAYERED, 0);
  EXPECT_GT(scene->Engine().DrawCount(), 0);
  // The buffer holds the painted root (premultiplied, opaque red).
  const uint32_t* bits = scene->GetCanvas()->GetBufferBits();
  ASSERT_NE(bits, nullptr);
  EXPECT_EQ(bits[50 * 200 + 100], 0xFFFF0000u);
  delete form;
}

TEST(SceneWindowResizeTest, AWidenedScenePaintsWhatASceneMadeThatWidePaints) {
  StartGdiPlus();
  TForeignWindow host(460, 120);
  // An ellipse with a text across it, running past the right edge of a scene 160 wide.
  auto paint = [&](TvgScene* s, int32_t width) {
    s->SetBounds(0, 0, width, 100);
    InvalidateRect(s->GetHandle(), nullptr, FALSE);
    PumpUntil([] { return false; }, static_cast<int>(MachineBound(150)));
    return std::vector<uint32_t>(s->GetCanvas()->GetBufferBits(), s->GetCanvas()->GetBufferBits() + width * 100);
  };
  std::vector<uint32_t> pixels[2];
  for (int32_t first : {160, 400}) {
    std::unique_ptr<TvgScene> s(TWinControl::CreateParented<TvgScene>(host.handle));
    s->SetBounds(0, 0, first, 100);
    ShowWindow(s->GetHandle(), SW_SHOWNA);
    TvgObject* root = MakeColorObject(0, 0, 10, 10, kBlue);
    s->AddObject(root);
    SetObjectShapes(MakeColorObject(60, 10, 200, 80, kRed, root));
    paint(s.get(), first);
    pixels[first == 400] = paint(s.get(), 400);
  }
  EXPECT_TRUE(pixels[0] == pixels[1]);
}

TEST(SceneWindowFormTest, EscInASceneOwnedByAModalFormCancelsIt) {
  StartGdiPlus();
  TForm* form = TCustomForm::CreateNew<TForm>(nullptr);
  form->SetBounds(50, 50, 240, 160);
  auto* scene = new TvgScene(form);
  scene->SetParent(form);
  scene->SetBounds(0, 0, 200, 100);
  scene->AddObject(MakeColorObject(0, 0, 10, 10, kBlue));
  PostMessageW(scene->GetHandle(), WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_EQ(form->ShowModal(), mrCancel);
  delete form;
}

TEST(SceneWindowStreamTest, SnapSettingsStreamAsBooleansAndTheGridShowsOnlyAtDesignTime) {
  std::unique_ptr<TComponent> loaded(TextToComponent(
      "object Panel: TvgScene\n  DesignSnapGridShow = True\n  DesignSnapToGrid = True\n"
      "  DesignSnapToLines = False\nend",
      nullptr));
  auto* scene = dynamic_cast<TvgScene*>(loaded.get());
  ASSERT_NE(scene, nullptr);
  EXPECT_FALSE(scene->Engine().DesignSnapGridShow);
  EXPECT_TRUE(scene->Engine().DesignSnapToGrid);
  EXPECT_FALSE(scene->Engine().DesignSnapToLines);
  const std::string text = ComponentToText(scene);
  for (const char* line : {"DesignSnapGridShow = False", "DesignSnapToGrid = True", "DesignSnapToLines = False"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
}

}  // namespace
