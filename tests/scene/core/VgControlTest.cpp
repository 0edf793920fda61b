// Styled controls: style lookup in the scene's style, the default style and the registered
// roots, insertion of the clone, triggers reaching style parts, value binding; the background,
// and the style container.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ObjectsTestSupport.h"
#include "classlib/Filer.h"
#include "classlib/FormText.h"
#include "scene/core/vg_hostpath_p.h"

namespace {

// A default style holding "probebuttonstyle" (with a "text" part and a mouse-over animation)
// and "backgroundstyle".
TvgObject* MakeDefaultStyle() {
  auto* root = new TvgBackground(nullptr);
  auto* button = new TvgVisualObject(nullptr);
  button->SetResourceName("probebuttonstyle");
  button->SetHitTest(false);
  button->SetWidth(33);
  root->AddObject(button);
  auto* text = new TPaintProbe(nullptr);
  text->SetResourceName("text");
  button->AddObject(text);
  auto* glow = new TProbeAnimation(nullptr);
  glow->SetTrigger("IsMouseOver=true");
  glow->SetDuration(1);
  button->AddObject(glow);
  auto* background = new TPaintProbe(nullptr);
  background->SetResourceName("backgroundstyle");
  root->AddObject(background);
  return root;
}

class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterProbeClasses();
    FreshManualTicker();
    vgSetDefaultStyle(MakeDefaultStyle());
    form = new TvgVisualObject(nullptr);
    form->SetBounds(0, 0, 300, 200);
    scene.AddObject(form);
  }
  void TearDown() override {
    delete form;
    vgFreeDefaultStyle();
    vgFreeAniThread();
  }
  template <typename T>
  T* Add() {
    auto* c = new T(nullptr);
    c->SetBounds(10, 10, 80, 24);
    c->SetParent(form);
    return c;
  }

  TTestScene scene;
  TvgVisualObject* form = nullptr;
};

TEST_F(ControlTest, AControlWithoutResourceGetsItsClassStyleAsLockedUnstoredChildZero) {
  auto* button = Add<TvgProbeButton>();
  auto* own = new TvgVisualObject(nullptr);
  own->SetParent(button);
  button->ApplyResource();
  TvgObject* style = button->GetStyleObject();
  ASSERT_NE(style, nullptr);
  EXPECT_EQ(button->GetChild(0), style);
  EXPECT_EQ(style->GetResourceName(), "probebuttonstyle");
  ASSERT_TRUE(style->IsVisual());
  EXPECT_EQ(style->Visual()->GetAlign(), vaContents);
  EXPECT_EQ(style->Visual()->GetWidth(), 80);  // laid out over the control
  EXPECT_FALSE(style->GetStored());
  EXPECT_TRUE(style->Visual()->GetLocked());
  ASSERT_NE(button->text, nullptr);
  EXPECT_EQ(button->text->GetParent(), style);
  EXPECT_TRUE(button->text->Visual()->GetLocked());
  EXPECT_EQ(button->applied, 1);
  // The default style's own tree is untouched.
  EXPECT_EQ(vgDefaultStyle()->FindResource("probebuttonstyle")->Visual()->GetWidth(), 33);
}

TEST_F(ControlTest, ApplyingAStyleAsksTheSceneForOneRepaintOfTheControl) {
  auto* button = Add<TvgProbeButton>();
  scene.updates.clear();
  button->ApplyResource();
  ASSERT_NE(button->GetStyleObject(), nullptr);
  ASSERT_EQ(scene.updates.size(), 1u);
  const TvgRect r = scene.updates[0];
  EXPECT_TRUE(r.Left <= 10 && r.Top <= 10 && r.Right >= 90 && r.Bottom >= 34);
}

TEST_F(ControlTest, AStyleAppliedWhilePaintingIntoABitmapIsPaintedInThatPass) {
  auto* button = Add<TvgProbeButton>();
  TvgBitmap target(300, 200);
  TObjRecordingCanvas canvas(target);
  form->PaintTo(&canvas, vgRect(0, 0, 300, 200));
  ASSERT_NE(button->text, nullptr);
  EXPECT_EQ(dynamic_cast<TPaintProbe*>(button->text)->paints, 1);
}

TEST_F(ControlTest, AskingForALookupBeforeApplyResourceClonesTheStyleAgain) {
  auto* button = Add<TvgProbeButton>();
  button->ApplyResource();
  TvgObject* first = button->GetStyleObject();
  button->ApplyResource();  // nothing asked: the style stays
  EXPECT_EQ(button->GetStyleObject(), first);
  button->SetNeedStyleLookup(true);
  button->ApplyResource();
  EXPECT_NE(button->GetStyleObject(), nullptr);
  EXPECT_EQ(button->freed, 1);
  EXPECT_EQ(button->applied, 2);
}

TEST_F(ControlTest, AClassWithoutItsOwnStyleTakesItsParentClasssStyle) {
  auto* child = Add<TvgProbeChild>();
  child->ApplyResource();
  ASSERT_NE(child->GetStyleObject(), nullptr);
  EXPECT_EQ(child->GetStyleObject()->GetResourceName(), "probebuttonstyle");
  EXPECT_EQ(TvgControl::StyleNameOfClass(TvgProbeChild::StaticClassInfo()), "ProbeChildstyle");
}

TEST_F(ControlTest, TheStyleIsNeverWrittenAndComesBackWhenPainted) {
  auto* button = Add<TvgProbeButton>();
  button->SetName("Go");
  button->ApplyResource();
  const std::string text = ComponentToText(button);
  EXPECT_EQ(text.find("probebuttonstyle"), std::string::npos);
  std::unique_ptr<TvgObject> copy(button->Clone(nullptr));
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->GetChildrenCount(), 0);
  copy->SetParent(form);
  copy->Visual()->BeforePaint();
  auto* again = dynamic_cast<TvgProbeButton*>(copy.get());
  ASSERT_NE(again->GetStyleObject(), nullptr);
  EXPECT_EQ(again->GetChild(0), again->GetStyleObject());
  copy->SetParent(nullptr);
}

TEST_F(ControlTest, ChangingResourceFreesTheOldStyleAfterFreeStyle) {
  auto* named = new TvgVisualObject(nullptr);
  named->SetResourceName("special");
  named->SetWidth(44);
  auto* button = Add<TvgProbeButton>();
  button->ApplyResource();
  TvgObject* first = button->GetStyleObject();
  button->SetResource("Special");  // a registered root, found by name
  EXPECT_EQ(button->freed, 1);
  EXPECT_TRUE(button->freedWhileStyleAlive);
  EXPECT_FALSE(vgIsSceneObjectAlive(first));
  ASSERT_NE(button->GetStyleObject(), nullptr);
  EXPECT_EQ(button->GetStyleObject()->GetResourceName(), "");
  EXPECT_EQ(button->GetChildrenCount(), 1);
  delete named;
}

TEST_F(ControlTest, TheScenesStyleComesBeforeTheDefaultStyle) {
  TvgResources resources(nullptr);
  scene.style = &resources;
  resources.AddSceneLink(&scene);
  resources.GetResource()->SetText(
      "object TvgBackground\n"
      "  object TvgVisualObject\n"
      "    ResourceName = 'probebuttonstyle'\n"
      "    Width = 77\n"
      "  end\n"
      "end\n");
  ASSERT_NE(resources.GetRoot(), nullptr);
  EXPECT_EQ(scene.styleUpdates, 1);
  auto* button = Add<TvgProbeButton>();
  button->ApplyResource();
  ASSERT_NE(button->GetStyleObject(), nullptr);
  EXPECT_EQ(button->text, nullptr);  // the scene's version has no "text" part
  resources.GetResource()->SetText("");
  EXPECT_EQ(resources.GetRoot(), nullptr);
  EXPECT_EQ(scene.styleUpdates, 2);
  // The scene re-applied styles: the default style's version with its part is in place.
  EXPECT_NE(button->text, nullptr);
  scene.style = nullptr;
}

TEST_F(ControlTest, MouseOverReachesTheStylesTriggerAnimation) {
  auto* button = Add<TvgProbeButton>();
  button->ApplyResource();
  TvgObject* style = button->GetStyleObject();
  TProbeAnimation* glow = nullptr;
  for (TvgObject* c : style->Children()) {
    if (auto* a = dynamic_cast<TProbeAnimation*>(c)) glow = a;
  }
  ASSERT_NE(glow, nullptr);
  button->MouseLeave();
  EXPECT_FALSE(glow->GetRunning());
  button->MouseEnter();
  EXPECT_TRUE(glow->GetRunning());
  button->MouseLeave();  // the trigger animation is stopped and not started again
  EXPECT_FALSE(glow->GetRunning());
}

TEST_F(ControlTest, ANewStyleShowsTheFocusUnlessFocusEffectsAreSwitchedOff) {
  // The button's style gets a focus animation; a focused button whose style is replaced starts
  // the new style's copy of it.
  TvgObject* buttonStyle = vgDefaultStyle()->FindResource("probebuttonstyle");
  ASSERT_NE(buttonStyle, nullptr);
  auto* ring = new TProbeAnimation(nullptr);
  ring->SetTrigger("IsFocused=true");
  ring->SetDuration(1);
  buttonStyle->AddObject(ring);
  auto* button = Add<TvgProbeButton>();
  button->SetCanFocused(true);
  button->SetFocus();
  ASSERT_TRUE(button->GetIsFocused());
  auto styleRing = [&]() -> TProbeAnimation* {
    for (TvgObject* c : button->GetStyleObject()->Children())
      if (auto* a = dynamic_cast<TProbeAnimation*>(c); a != nullptr && a->GetTrigger() == "IsFocused=true") return a;
    return nullptr;
  };
  struct SwitchBack {
    ~SwitchBack() { vgDisableFocusEffects() = false; }
  } switchBack;
  for (const bool switchedOff : {false, true, false}) {
    vgDisableFocusEffects() = switchedOff;
    button->UpdateStyle();
    ASSERT_NE(styleRing(), nullptr);
    EXPECT_EQ(styleRing()->GetRunning(), !switchedOff) << switchedOff;
  }
  button->SetDisableFocusEffect(true);
  button->UpdateStyle();
  EXPECT_FALSE(styleRing()->GetRunning());
}

TEST_F(ControlTest, BindingPushesTheSourcesValueAndSurvivesEitherSideGoing) {
  auto* source = Add<TvgProbeButton>();
  source->value = "42";
  auto* a = Add<TvgProbeButton>();
  auto* b = Add<TvgProbeButton>();
  a->SetBindingSource(source);
  b->SetBindingSource(source);
  EXPECT_EQ(a->value, "42");
  source->value = "7";
  source->UpdateBindings();
  EXPECT_EQ(b->value, "7");
  delete a;
  ASSERT_EQ(source->BoundControls().size(), 1u);
  delete source;
  EXPECT_EQ(b->GetBindingSource(), nullptr);
}

TEST_F(ControlTest, ASolidBackgroundHidesItsStyleWhilePainting) {
  TObjRecordingCanvas canvas(300, 200);
  scene.canvas = &canvas;
  scene.paintRects = {vgRect(0, 0, 300, 200)};
  auto* background = Add<TvgBackground>();
  background->ApplyResource();
  auto* style = dynamic_cast<TPaintProbe*>(background->GetStyleObject());
  ASSERT_NE(style, nullptr);
  background->PaintChildren();
  EXPECT_EQ(style->paints, 1);
  background->GetFill()->SetStyle(vgBrushSolid);
  background->GetFill()->SetSolidColor(0xFF102030u);
  canvas.fills.clear();
  canvas.fillColors.clear();
  background->Paint();
  background->PaintChildren();
  EXPECT_EQ(style->paints, 1);
  EXPECT_TRUE(style->GetVisible());
  ASSERT_EQ(canvas.fills.size(), 1u);
  EXPECT_EQ(canvas.fills[0], vgRect(0, 0, 80, 24));
  EXPECT_EQ(canvas.fillColors[0], 0xFF102030u);
  scene.canvas = nullptr;
}

// --- Style container files

TEST(ResourcesFileTest, AFileBesideTheExecutableWinsOverTheCurrentFolder) {
  RegisterProbeClasses();
  namespace fs = std::filesystem;
  const std::string name = "objects_test_style.txt";
  const std::string exeFolder = vgHostExeFolder();
  ASSERT_FALSE(exeFolder.empty());
  const fs::path temp = fs::temp_directory_path() / "kbl_objects_style_test";
  fs::create_directories(temp);
  const fs::path previous = fs::current_path();
  {
    std::ofstream(fs::path(exeFolder) / name) << "object TvgVisualObject\n  Width = 11\nend\n";
    std::ofstream(temp / name) << "object TvgVisualObject\n  Width = 22\nend\n";
    std::ofstream(temp / "only_here.txt") << "object TvgVisualObject\n  Width = 33\nend\n";
  }
  fs::current_path(temp);
  TvgResources beside(nullptr);
  beside.SetFileName(name);
  TvgResources relative(nullptr);
  relative.SetFileName("only_here.txt");
  TvgResources missing(nullptr);
  missing.SetFileName("no_such_style.txt");
  fs::current_path(previous);
  fs::remove(fs::path(exeFolder) / name);
  fs::remove_all(temp);
  ASSERT_NE(beside.GetRoot(), nullptr);
  EXPECT_EQ(beside.GetRoot()->Visual()->GetWidth(), 11);
  ASSERT_NE(relative.GetRoot(), nullptr);
  EXPECT_EQ(relative.GetRoot()->Visual()->GetWidth(), 33);
  EXPECT_EQ(missing.GetRoot(), nullptr);
}

TEST(ResourcesFileTest, ResourcesBinRoundTripsTheTree) {
  RegisterProbeClasses();
  TvgResources resources(nullptr);
  resources.SetName("Styles");
  resources.GetResource()->SetText("object TvgBackground\n  object TvgVisualObject\n    ResourceName = 'x'\n  end\nend\n");
  TMemoryStream stream;
  WriteComponentToStream(stream, &resources);
  stream.SetPosition(0);
  TvgResources copy(nullptr);
  ReadComponentFromStream(stream, &copy);
  ASSERT_NE(copy.GetRoot(), nullptr);
  EXPECT_NE(copy.GetRoot()->FindResource("x"), nullptr);
  EXPECT_EQ(copy.GetResource()->Count(), 0);  // the lines are not stored as text
}

}  // namespace

namespace {

// A scene whose root a frame shows.
class TFrameSource : public TComponent, public IvgFrameSource {
 public:
  explicit TFrameSource(TComponent* owner) : TComponent(owner) {
    root = new TvgVisualObject(nullptr);
    root->SetBounds(0, 0, 10, 10);
  }
  ~TFrameSource() override {
    Destroying();
    // Frames hear of this scene going while its root still exists.
    for (TComponent* c : watchers) c->Notification(this, opRemove);
    delete root;
  }
  TvgObject* GetFrameRoot() override { return root; }
  TvgVisualObject* GetFrame() override { return frame; }
  void SetFrame(TvgVisualObject* value) override { frame = value; }
  void ReturnRoot(TvgObject* r) override { ++returns; }
  void FreeFrameBitmap() override { ++bitmapFrees; }

  TvgVisualObject* root;
  TvgVisualObject* frame = nullptr;
  std::vector<TComponent*> watchers;
  int returns = 0, bitmapFrees = 0;
};

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterProbeClasses();
    host = new TvgVisualObject(nullptr);
    host->SetBounds(0, 0, 300, 200);
    scene.AddObject(host);
  }
  void TearDown() override { delete host; }
  TvgFrame* Frame() {
    auto* f = new TvgFrame(nullptr);
    f->SetBounds(0, 0, 120, 80);
    f->SetParent(host);
    return f;
  }
  TTestScene scene;
  TvgVisualObject* host = nullptr;
};

TEST_F(FrameTest, AFrameShowsTheRootUntilItLetsGo) {
  TFrameSource source(nullptr);
  TvgFrame* first = Frame();
  TvgFrame* second = Frame();
  first->SetSceneObject(&source);
  EXPECT_EQ(source.root->GetParent(), first);
  EXPECT_EQ(source.root->GetAlign(), vaClient);
  EXPECT_EQ(source.root->GetWidth(), 120);
  second->SetSceneObject(&source);
  EXPECT_TRUE(second->GetPending());
  EXPECT_EQ(source.root->GetParent(), first);
  EXPECT_TRUE(ComponentToText(first).find("TvgVisualObject") == std::string::npos);
  first->SetSceneObject(nullptr);
  EXPECT_EQ(source.root->GetParent(), nullptr);
  EXPECT_EQ(source.returns, 1);
  EXPECT_EQ(source.bitmapFrees, 1);
  second->Paint();  // the pending frame takes the root now
  EXPECT_FALSE(second->GetPending());
  EXPECT_EQ(source.root->GetParent(), second);
  delete second;  // gives the root back
  EXPECT_EQ(source.root->GetParent(), nullptr);
  EXPECT_EQ(source.frame, nullptr);
  EXPECT_EQ(source.returns, 2);
}

// At design time a frame previews the other scene's root at its own size; a preview that raises
// gives the root its size back.
TEST_F(FrameTest, APreviewThatRaisesLeavesTheRootItsSize) {
  vgSetDefaultCanvasClass(vgCanvasClassOf<TObjRecordingCanvas>());
  TObjRecordingCanvas canvas(300, 200);
  scene.canvas = &canvas;
  scene.designTime = true;
  TTestScene other;
  TFrameSource source(nullptr);
  other.AddObject(source.root);
  auto* part = new TRaisingProbe(nullptr);
  part->SetBounds(0, 0, 5, 5);
  part->SetParent(source.root);
  TvgFrame* frame = Frame();
  frame->SetSceneObject(&source);
  EXPECT_THROW(frame->Paint(), std::runtime_error);
  EXPECT_EQ(source.root->GetWidth(), 10);
  EXPECT_EQ(source.root->GetHeight(), 10);
  scene.canvas = nullptr;
  vgSetDefaultCanvasClass(nullptr);
}

TEST_F(FrameTest, FreeingTheSceneClearsTheFrame) {
  auto* source = new TFrameSource(nullptr);
  TvgFrame* frame = Frame();
  frame->SetSceneObject(source);
  source->watchers.push_back(frame);
  delete source;
  EXPECT_EQ(frame->GetSceneObject(), nullptr);
  EXPECT_EQ(frame->GetChildrenCount(), 0);
}

}  // namespace
