// Services of the scene window under Wine, read back from real windows: a frame showing another
// scene's root, the published style and active control, hints, the input method's composition
// window, the parent's look under a transparent scene and child controls in the layered image.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "Emulation.h"
#include "SceneWindowTestObjects.h"
#include "classlib/FormText.h"
#include "classlib/Forms.h"
#include "classlib/SysUtils.h"
#include "classlib/WindowTestUtils.h"
#include "scene/core/vg_control.h"
#include "scene/core/vg_popup.h"
#include "scene/core/vg_resources.h"
#include "scene/core/win32/vg_gdiplus.h"
#include "scene/core/win32/vg_scene.h"

namespace {

constexpr TvgColor kRed = 0xFFFF0000u, kBlue = 0xFF0000FFu, kGreen = 0xFF00FF00u;

// A custom control that fills itself with one colour.
class TColorPanel : public TCustomControl {
 public:
  explicit TColorPanel(TComponent* owner, TColor color = clRed) : TCustomControl(owner), color_(color) {}

 protected:
  void Paint() override {
    GetCanvas()->GetBrush()->SetColor(color_);
    GetCanvas()->FillRect(ClientRect());
  }

 private:
  TColor color_;
};

class SceneServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartGdiPlus();
    host = std::make_unique<TForeignWindow>(420, 200);
  }
  void TearDown() override { host.reset(); }
  TvgScene* MakeScene(int left, int top, int width, int height) {
    auto* scene = TWinControl::CreateParented<TvgScene>(host->handle);
    scene->SetBounds(left, top, width, height);
    scene->HandleNeeded();
    ShowWindow(scene->GetHandle(), SW_SHOWNA);
    return scene;
  }
  static void Settle() { PumpUntil([] { return false; }, static_cast<int>(MachineBound(150))); }
  std::unique_ptr<TForeignWindow> host;
};

TEST_F(SceneServicesTest, AFrameShowsAnotherScenesRootAndGivesItBack) {
  TvgScene* shown = MakeScene(210, 0, 200, 200);
  TvgObject* shownRoot = MakeColorObject(0, 0, 10, 10, kBlue);
  shown->AddObject(shownRoot);
  MakeColorObject(10, 10, 30, 30, kRed, shownRoot);
  TvgScene* scene = MakeScene(0, 0, 200, 200);
  TvgObject* root = MakeColorObject(0, 0, 10, 10, kGreen);
  scene->AddObject(root);
  auto* frame = new TvgFrame(nullptr);
  frame->SetBounds(100, 100, 80, 80);
  root->AddObject(frame);
  frame->SetSceneObject(shown);
  Settle();
  EXPECT_EQ(shown->GetFrame(), frame);
  EXPECT_EQ(shownRoot->GetParent(), frame);
  TWindowPixels px(scene->GetHandle());
  EXPECT_EQ(px.At(50, 50), 0x00FF00u);    // the scene's own root
  EXPECT_EQ(px.At(115, 115), 0xFF0000u);  // the other root's child, inside the frame
  EXPECT_EQ(px.At(170, 170), 0x0000FFu);  // the other root, fitted to the frame
  // Letting go: the root returns to its scene, which paints it again.
  frame->SetSceneObject(nullptr);
  Settle();
  EXPECT_EQ(shown->GetFrame(), nullptr);
  EXPECT_EQ(shownRoot->GetParent(), nullptr);
  EXPECT_EQ(shown->GetRoot(), shownRoot);
  TWindowPixels back(shown->GetHandle());
  EXPECT_EQ(back.At(150, 150), 0x0000FFu);
  EXPECT_EQ(back.At(15, 15), 0xFF0000u);
  // A scene freed while a frame shows its root takes the root back first.
  frame->SetSceneObject(shown);
  delete shown;
  EXPECT_EQ(frame->GetSceneObject(), nullptr);
  EXPECT_EQ(frame->GetChildrenCount(), 0);
  delete scene;
}

TEST_F(SceneServicesTest, StyleAndActiveControlStreamWithTheForm) {
  TForm* form = TCustomForm::CreateNew<TForm>(nullptr);
  form->SetName("StreamForm");
  auto* style = new TvgResources(form);
  style->SetName("Style1");
  auto* scene = new TvgScene(form);
  scene->SetName("Scene1");
  scene->SetParent(form);
  auto* root = new TvgBackground(form);
  root->SetName("Root1");
  scene->AddObject(root);
  auto* control = new TvgControl(form);
  control->SetName("Control1");
  root->AddObject(control);
  scene->SetStyleProp(style);
  scene->SetActiveControl(control);
  const std::string text = ComponentToText(form);
  EXPECT_NE(text.find("Style = Style1"), std::string::npos) << text;
  EXPECT_NE(text.find("ActiveControl = Control1"), std::string::npos) << text;
  delete form;

  TForm* again = TCustomForm::CreateNew<TForm>(nullptr);
  TextToComponent(text, again);
  auto* readScene = dynamic_cast<TvgScene*>(again->FindComponent("Scene1"));
  ASSERT_NE(readScene, nullptr);
  EXPECT_EQ(readScene->GetStyleProp(), again->FindComponent("Style1"));
  EXPECT_EQ(readScene->GetActiveControlProp(), again->FindComponent("Control1"));
  // Freeing the control clears the scene's reference.
  delete again->FindComponent("Control1");
  EXPECT_EQ(readScene->GetActiveControlProp(), nullptr);
  delete again;
}

TEST_F(SceneServicesTest, HintsNameTheObjectUnderTheMouseAndItsArea) {
  TvgScene* scene = MakeScene(0, 0, 200, 100);
  TvgObject* root = MakeColorObject(0, 0, 10, 10, kBlue);
  scene->AddObject(root);
  TvgObject* child = MakeColorObject(20.5f, 10.7f, 40, 30, kRed, root);
  child->Visual()->SetHint(Utf8ToWide("Child hint"));
  child->Visual()->SetShowHint(true);
  THintInfo info;
  info.CursorPos = TPoint{30, 20};
  info.HintStr = "scene";
  scene->Perform(CM_HINTSHOW, 0, reinterpret_cast<intptr_t>(&info));
  EXPECT_EQ(info.HintStr, "Child hint");
  EXPECT_EQ(info.CursorRect.Left, 20);
  EXPECT_EQ(info.CursorRect.Top, 10);
  EXPECT_EQ(info.CursorRect.Right, 60);
  EXPECT_EQ(info.CursorRect.Bottom, 40);
  // Over the root, which shows no hint: none.
  info.CursorPos = TPoint{150, 80};
  info.HintStr = "scene";
  scene->Perform(CM_HINTSHOW, 0, reinterpret_cast<intptr_t>(&info));
  EXPECT_EQ(info.HintStr, "");
  // The class library shows it in its hint window.
  POINT over{30, 20};
  ClientToScreen(scene->GetHandle(), &over);
  Application().ActivateHint(TPoint{over.x, over.y});
  EXPECT_EQ(Application().ShownHint(), "Child hint");
  ASSERT_NE(Application().HintWindowHandle(), nullptr);
  EXPECT_TRUE(IsWindowVisible(Application().HintWindowHandle()));
  delete scene;
  EXPECT_EQ(Application().HintWindowHandle(), nullptr);
}

TEST_F(SceneServicesTest, ATransparentSceneShowsItsParentAndTheSiblingsBeneath) {
  std::unique_ptr<TColorPanel> parent(TWinControl::CreateParented<TColorPanel>(host->handle));
  parent->SetBounds(0, 0, 200, 150);
  auto* sibling = new TColorPanel(nullptr, clLime);
  sibling->SetBounds(0, 0, 30, 150);
  sibling->SetParent(parent.get());
  auto* scene = new TvgScene(nullptr);
  scene->SetBounds(10, 10, 100, 80);
  scene->SetTransparency(true);
  scene->SetParent(parent.get());
  auto* root = new TvgVisualObject(nullptr);
  scene->AddObject(root);
  MakeColorObject(60, 10, 20, 20, kBlue, root);
  parent->HandleNeeded();
  ShowWindow(parent->GetHandle(), SW_SHOWNA);
  Settle();
  TWindowPixels px(scene->GetHandle());
  EXPECT_EQ(px.At(5, 40), 0x00FF00u);   // the sibling, at parent x 15
  EXPECT_EQ(px.At(50, 50), 0xFF0000u);  // the parent
  EXPECT_EQ(px.At(65, 15), 0x0000FFu);  // the scene's own object
}

TEST_F(SceneServicesTest, TheLayeredImageOfATransparentSceneHoldsItsChildControls) {
  TForm* form = TCustomForm::CreateNew<TForm>(nullptr);
  form->SetBounds(50, 50, 240, 160);
  auto* scene = new TvgScene(form);
  scene->SetParent(form);
  scene->SetBounds(0, 0, 200, 100);
  scene->SetTransparency(true);
  scene->AddObject(MakeColorObject(0, 0, 10, 10, 0x80FF0000u));
  auto* panel = new TColorPanel(form, clLime);
  panel->SetBounds(20, 20, 30, 30);
  panel->SetParent(scene);
  form->Show();
  PumpUntil([&] { return scene->Engine().DrawCount() > 0; }, MachineBound(2000));
  Settle();
  const uint32_t* bits = scene->GetCanvas()->GetBufferBits();
  ASSERT_NE(bits, nullptr);
  EXPECT_EQ(bits[50 * 200 + 100] >> 24, 0x80u);          // the root, half transparent
  EXPECT_EQ(bits[25 * 200 + 25], 0x8000FF00u);           // the child control, with the root's alpha
  delete form;
}

}  // namespace
