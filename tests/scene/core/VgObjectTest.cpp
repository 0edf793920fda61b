// The scene object: tree links and ownership, lookups, streams and clones, animations by name
// and trigger, free notification.
#include <gtest/gtest.h>

#include "ObjectsTestSupport.h"
#include "classlib/Filer.h"
#include "classlib/FormText.h"
#include "scene/core/vg_object.h"

namespace {

class ObjectTreeTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterProbeClasses(); }
};

TEST_F(ObjectTreeTest, ChildrenMoveBetweenParentsAndGoWithTheirParent) {
  auto* a = new TvgObject(nullptr);
  auto* b = new TvgObject(nullptr);
  auto* c = new TvgObject(nullptr);
  a->AddObject(c);
  EXPECT_EQ(c->GetParent(), a);
  EXPECT_EQ(a->GetChildrenCount(), 1);
  b->AddObject(c);  // detaches from a first
  EXPECT_EQ(a->GetChildrenCount(), 0);
  EXPECT_EQ(c->GetParent(), b);
  b->AddObject(c);  // already there: nothing
  EXPECT_EQ(b->GetChildrenCount(), 1);
  c->SetParent(nullptr);
  EXPECT_EQ(b->GetChildrenCount(), 0);
  EXPECT_EQ(c->GetParent(), nullptr);
  c->SetParent(a);
  EXPECT_EQ(a->GetChild(0), c);
  EXPECT_EQ(a->GetChild(1), nullptr);
  EXPECT_EQ(a->GetChild(-1), nullptr);
  // Freeing a frees c (a is not its owner): c must no longer be registered.
  delete a;
  EXPECT_FALSE(vgIsSceneObjectAlive(c));
  delete b;
}

TEST_F(ObjectTreeTest, AnObjectCannotBecomeAChildOfItsOwnDescendant) {
  TvgObject root(nullptr);
  auto* child = new TvgObject(nullptr);
  auto* grandchild = new TvgObject(nullptr);
  root.AddObject(child);
  child->AddObject(grandchild);
  grandchild->AddObject(&root);
  EXPECT_EQ(root.GetParent(), nullptr);
  EXPECT_EQ(grandchild->GetChildrenCount(), 0);
  child->AddObject(child);
  EXPECT_EQ(child->GetChildrenCount(), 1);
}

TEST_F(ObjectTreeTest, FreeingAChildTakesItOutOfItsParentAndOwnerAndScene) {
  TComponent owner(nullptr);
  TTestScene scene;
  auto* root = new TvgObject(&owner);
  scene.AddObject(root);
  auto* child = new TvgObject(&owner);
  root->AddObject(child);
  EXPECT_EQ(child->GetScene(), &scene);
  delete child;
  EXPECT_EQ(root->GetChildrenCount(), 0);
  EXPECT_EQ(owner.ComponentCount(), 1);
  ASSERT_EQ(scene.notified.size(), 1u);
  EXPECT_EQ(scene.notified[0], child);
  delete root;  // a root leaves the scene
  EXPECT_TRUE(scene.roots.empty());
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST_F(ObjectTreeTest, SceneLinkReachesEveryDescendant) {
  TTestScene scene;
  TvgObject root(nullptr);
  auto* child = new TvgObject(nullptr);
  auto* grandchild = new TvgObject(nullptr);
  child->AddObject(grandchild);
  root.AddObject(child);
  scene.AddObject(&root);
  EXPECT_EQ(grandchild->GetScene(), &scene);
  root.RemoveObject(child);
  EXPECT_EQ(child->GetScene(), nullptr);
  EXPECT_EQ(grandchild->GetScene(), nullptr);
  delete child;
  scene.RemoveObject(&root);
  root.SetScene(nullptr);
}

TEST_F(ObjectTreeTest, IndexMovesAndClamps) {
  TvgObject root(nullptr);
  TvgObject* kids[3];
  for (auto*& k : kids) {
    k = new TvgObject(nullptr);
    root.AddObject(k);
  }
  EXPECT_EQ(kids[2]->GetIndex(), 2);
  kids[2]->SetIndex(0);
  EXPECT_EQ(root.GetChild(0), kids[2]);
  EXPECT_EQ(kids[0]->GetIndex(), 1);
  kids[2]->SetIndex(99);
  EXPECT_EQ(root.GetChild(2), kids[2]);
  kids[2]->SendToBack();
  EXPECT_EQ(kids[2]->GetIndex(), 0);
  kids[2]->BringToFront();
  EXPECT_EQ(kids[2]->GetIndex(), 2);
  TvgObject orphan(nullptr);
  EXPECT_EQ(orphan.GetIndex(), -1);
}

TEST_F(ObjectTreeTest, FindResourceSkipsEmptyNamesAndNestedControls) {
  TvgObject root(nullptr);
  auto* holder = new TvgObject(nullptr);
  auto* part = new TvgObject(nullptr);
  part->SetResourceName("Thumb");
  holder->AddObject(part);
  root.AddObject(holder);
  auto* control = new TvgControl(nullptr);
  auto* hidden = new TvgObject(nullptr);
  hidden->SetResourceName("inner");
  control->AddObject(hidden);
  root.AddObject(control);
  EXPECT_EQ(root.FindResource("thumb"), part);
  EXPECT_EQ(root.FindResource(""), nullptr);
  EXPECT_EQ(root.FindResource("inner"), nullptr);
  EXPECT_EQ(control->FindResource("inner"), hidden);
}

TEST_F(ObjectTreeTest, BindingFindsSelfFirstThenDepthFirst) {
  TvgObject root(nullptr);
  root.SetName("Root");
  auto* a = new TvgObject(nullptr);
  a->SetName("First");
  a->SetBindingName("value");
  auto* b = new TvgObject(nullptr);
  b->SetName("Second");
  b->SetBindingName("VALUE");
  root.AddObject(a);
  root.AddObject(b);
  EXPECT_EQ(root.GetBinding("Value").ToString(), "First");
  EXPECT_EQ(root.GetBinding("missing").ToString(), "");
  EXPECT_TRUE(root.GetBinding("missing").IsString());
  root.SetBindingName("value");
  EXPECT_EQ(root.GetBinding("value").ToString(), "Root");
}

TEST_F(ObjectTreeTest, StoredFlagCoversTheSubtree) {
  TvgObject root(nullptr);
  auto* child = new TvgObject(nullptr);
  root.AddObject(child);
  root.SetStored(false);
  EXPECT_FALSE(child->GetStored());
  EXPECT_FALSE(child->GetSceneStored());
}

// --- Streams

TEST_F(ObjectTreeTest, CloneCopiesPropertiesAndStoredChildrenOnly) {
  TComponent owner(nullptr);
  auto* root = new TPaintProbe(&owner);
  root->SetName("Panel");
  root->SetWidth(120);
  root->SetOpacity(0.5f);
  root->SetResourceName("panelstyle");
  auto* kept = new TPaintProbe(&owner);
  kept->SetName("Kept");
  kept->GetPosition()->SetPoint(vgPoint(7, 9));
  root->AddObject(kept);
  auto* skipped = new TPaintProbe(&owner);
  skipped->SetName("Skipped");
  skipped->SetStored(false);
  root->AddObject(skipped);

  std::unique_ptr<TvgObject> copy(root->Clone(nullptr));
  ASSERT_TRUE(copy);
  auto* probe = dynamic_cast<TPaintProbe*>(copy.get());
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe->GetWidth(), 120);
  EXPECT_FLOAT_EQ(probe->GetOpacity(), 0.5f);
  EXPECT_EQ(probe->GetResourceName(), "panelstyle");
  EXPECT_EQ(probe->GetName(), "");
  ASSERT_EQ(probe->GetChildrenCount(), 1);
  auto* child = dynamic_cast<TPaintProbe*>(probe->GetChild(0));
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->GetPosition()->GetPoint(), vgPoint(7, 9));
  EXPECT_EQ(child->GetName(), "Kept");
  EXPECT_EQ(root->GetName(), "Panel");  // the name is restored after writing
}

TEST_F(ObjectTreeTest, ContentChildrenStreamAsChildrenOfTheContentsParent) {
  TvgObject root(nullptr);
  auto* content = new TvgContent(nullptr);
  content->SetName("Content");
  auto* inner = new TvgObject(nullptr);
  inner->SetName("Inner");
  content->AddObject(inner);
  auto* after = new TvgObject(nullptr);
  after->SetName("After");
  root.AddObject(content);
  root.AddObject(after);
  EXPECT_EQ(inner->GetParentComponent(), &root);

  TStringStream text;
  root.SaveToTextStream(text);
  const std::string form = text.DataString();
  const size_t innerAt = form.find("Inner");
  const size_t contentAt = form.find("Content");
  const size_t afterAt = form.find("After");
  ASSERT_NE(innerAt, std::string::npos);
  ASSERT_NE(contentAt, std::string::npos);
  EXPECT_LT(innerAt, contentAt);
  EXPECT_LT(contentAt, afterAt);

  std::unique_ptr<TvgObject> copy(root.Clone(nullptr));
  ASSERT_EQ(copy->GetChildrenCount(), 3);
  EXPECT_EQ(copy->GetChild(0)->GetName(), "Inner");
  EXPECT_TRUE(copy->GetChild(1)->Is<TvgContent>());
  EXPECT_EQ(copy->GetChild(1)->GetChildrenCount(), 0);
  EXPECT_EQ(copy->GetChild(2)->GetName(), "After");
}

TEST_F(ObjectTreeTest, BinaryStreamRoundTripAndDamagedStreamsAreSurvived) {
  TvgObject root(nullptr);
  root.SetBindingName("bound");
  auto* child = new TvgObject(nullptr);
  child->SetResourceName("part");
  root.AddObject(child);
  TMemoryStream stream;
  root.SaveToBinStream(stream);
  const std::string bytes(reinterpret_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.GetSize()));
  ASSERT_EQ(bytes.substr(0, 4), "TPF0");

  TvgObject target(nullptr);
  stream.SetPosition(0);
  target.LoadFromBinStream(stream);
  EXPECT_EQ(target.GetBindingName(), "bound");
  ASSERT_EQ(target.GetChildrenCount(), 1);
  EXPECT_EQ(target.GetChild(0)->GetResourceName(), "part");
  EXPECT_FALSE(target.HasState(csDesigning));

  // Every truncation of the stream: no crash, no leak (the sanitizers watch).
  for (size_t cut = 5; cut < bytes.size(); cut += 3) {
    TStringStream part(bytes.substr(0, cut));
    TvgObject victim(nullptr);
    try {
      victim.LoadFromBinStream(part);
    } catch (const Exception&) {
    }
  }
}

// --- Free notification and resources

TEST_F(ObjectTreeTest, FreeingAResourceObjectClearsTheBrushesThatUseIt) {
  auto* resource = new TvgBrushObject(nullptr);
  resource->SetName("Accent");
  EXPECT_EQ(resource->GetResourceName(), "Accent");
  resource->GetBrush()->SetSolidColor(0xFF112233u);
  TvgBrush brush(vgBrushResource, 0);
  brush.GetResource()->SetResourceName("accent");
  EXPECT_EQ(brush.GetSolidColor(), 0xFF112233u);
  EXPECT_EQ(brush.GetResource()->GetResource(), resource);
  delete resource;
  EXPECT_EQ(brush.GetResource()->GetResource(), nullptr);
}

TEST_F(ObjectTreeTest, FreeNotifyClientsHearOfTheObjectGoing) {
  struct Listener : TvgObject {
    using TvgObject::TvgObject;
    void Notification(TComponent* c, TOperation op) override {
      TvgObject::Notification(c, op);
      if (op == opRemove) heard.push_back(c);
    }
    std::vector<TComponent*> heard;
  };
  Listener listener(nullptr);
  auto* subject = new TvgObject(nullptr);
  EXPECT_EQ(subject->AddFreeNotify(&listener), 0);
  EXPECT_EQ(subject->AddFreeNotify(&listener), 0);
  delete subject;
  ASSERT_EQ(listener.heard.size(), 1u);
  EXPECT_EQ(listener.heard[0], subject);
}

// --- Animations by name and trigger

TEST_F(ObjectTreeTest, StartAnimationGoesFirstToLastAndStopLastToFirst) {
  FreshManualTicker();
  TTestScene scene;
  TvgObject root(nullptr);
  scene.AddObject(&root);
  std::vector<int> order;
  struct Ordered : TvgAnimation {
    Ordered(std::vector<int>* o, int i) : TvgAnimation(nullptr), order(o), id(i) {}
    void Start() override {
      order->push_back(id);
      TvgAnimation::Start();
    }
    void Stop() override {
      order->push_back(-id);
      TvgAnimation::Stop();
    }
    std::vector<int>* order;
    int id;
  };
  for (int i = 1; i <= 3; ++i) {
    auto* a = new Ordered(&order, i);
    a->SetName(i == 2 ? "Other" : "Fade");
    a->SetParent(&root);
  }
  root.StartAnimation("FADE");
  root.StopAnimation("fade");
  EXPECT_EQ(order, (std::vector<int>{1, 3, -3, -1}));
  scene.RemoveObject(&root);
  root.SetScene(nullptr);
  vgFreeAniThread();
}

TEST_F(ObjectTreeTest, TriggerTextsCompareWithoutRegardToCase) {
  TvgVisualObject obj(nullptr);
  TvgTriggerResult r = vgEvaluateTrigger(&obj, "IsMouseOver=false;Visible=TRUE");
  EXPECT_EQ(r.Evaluated, 2);
  EXPECT_TRUE(r.AllMatched);
  r = vgEvaluateTrigger(&obj, "IsMouseOver=true;NoSuchThing=1");
  EXPECT_EQ(r.Evaluated, 1);
  EXPECT_FALSE(r.AllMatched);
  r = vgEvaluateTrigger(&obj, "Align=vaNone");
  EXPECT_TRUE(r.AllMatched);
  r = vgEvaluateTrigger(&obj, ";;=;garbage");
  EXPECT_EQ(r.Evaluated, 0);
  EXPECT_TRUE(vgTriggerMentions("IsMouseOver=true", "ismouseover"));
  EXPECT_FALSE(vgTriggerMentions("IsMouseOver=true", "IsFocused"));
}

}  // namespace

namespace {

TEST_F(ObjectTreeTest, ARootJoiningATreeLeavesItsSceneAndTakesTheTreesScene) {
  TTestScene first;
  TTestScene second;
  TvgObject host(nullptr);
  auto* root = new TvgObject(nullptr);
  auto* inner = new TvgObject(nullptr);
  root->AddObject(inner);
  first.AddObject(root);
  second.AddObject(&host);
  host.AddObject(root);
  EXPECT_TRUE(first.roots.empty());
  EXPECT_EQ(root->GetScene(), &second);
  EXPECT_EQ(inner->GetScene(), &second);
  TvgObject loose(nullptr);
  loose.AddObject(root);
  EXPECT_EQ(inner->GetScene(), nullptr);
  second.RemoveObject(&host);
  host.SetScene(nullptr);
}

}  // namespace

namespace {

TEST_F(ObjectTreeTest, ZeroSizesAndFullTransparencySurviveAStream) {
  TvgVisualObject obj(nullptr);
  obj.SetWidth(0);
  obj.SetHeight(0);
  obj.SetOpacity(0);
  std::unique_ptr<TvgObject> copy(obj.Clone(nullptr));
  ASSERT_TRUE(copy && copy->IsVisual());
  EXPECT_EQ(copy->Visual()->GetWidth(), 0);
  EXPECT_EQ(copy->Visual()->GetHeight(), 0);
  EXPECT_EQ(copy->Visual()->GetOpacity(), 0);
  TvgVisualObject plain(nullptr);
  const std::string text = ComponentToText(&plain);
  EXPECT_EQ(text.find("Width"), std::string::npos);
  EXPECT_EQ(text.find("Opacity"), std::string::npos);
}

}  // namespace

namespace {

// A scene object that writes its tag into a shared log as it is freed.
class TLoggedObject : public TvgObject {
 public:
  TLoggedObject(TComponent* owner, std::vector<int>& log, int tag) : TvgObject(owner), log_(log), tag_(tag) {}
  ~TLoggedObject() override { log_.push_back(tag_); }

 private:
  std::vector<int>& log_;
  int tag_;
};

// Every child answers its place in the list as its index.
void ExpectIndicesMatchPlaces(TvgObject& root, const char* step) {
  for (int32_t i = 0; i < root.GetChildrenCount(); ++i) EXPECT_EQ(root.GetChild(i)->GetIndex(), i) << step;
}

TEST_F(ObjectTreeTest, IndicesStayRightThroughAddsRemovalsMovesAndSorts) {
  TvgObject root(nullptr);
  std::vector<TvgObject*> kids;
  for (int i = 0; i < 8; ++i) {
    kids.push_back(new TvgObject(nullptr));
    kids.back()->SetTag(i);
    root.AddObject(kids.back());
  }
  // Indices asked before each change are remembered; each step must not leave a stale one.
  struct Step {
    const char* name;
    std::function<void()> apply;
  } steps[] = {
      {"remove from the middle", [&] { root.RemoveObject(kids[3]); }},
      {"remove the last", [&] { root.RemoveObject(kids[7]); }},
      {"remove the first", [&] { root.RemoveObject(kids[0]); }},
      {"add again", [&] { root.AddObject(kids[3]); }},
      {"move to the front", [&] { kids[3]->SetIndex(0); }},
      {"bring to the front", [&] { kids[1]->BringToFront(); }},
      {"sort by tag, highest first",
       [&] { root.SortChildren([](TvgObject* a, TvgObject* b) { return static_cast<int>(b->GetTag() - a->GetTag()); }); }},
      {"free a child", [&] { delete kids[5]; }},
      {"add one more", [&] { root.AddObject(kids[7]); }},
  };
  ExpectIndicesMatchPlaces(root, "filled");
  for (const Step& step : steps) {
    step.apply();
    ExpectIndicesMatchPlaces(root, step.name);
  }
  EXPECT_EQ(kids[0]->GetIndex(), -1);  // no longer a child
  EXPECT_EQ(root.GetChildrenCount(), 6);
  delete kids[0];
}

TEST_F(ObjectTreeTest, ChildrenAreFreedFirstToLastAndOwnedSiblingsOnlyOnce) {
  std::vector<int> log;
  auto* root = new TvgObject(nullptr);
  TLoggedObject* kids[5] = {};
  for (int i = 0; i < 5; ++i) {
    // Child 3 is owned by child 1: freeing child 1 frees it, and it leaves the list then.
    kids[i] = new TLoggedObject(i == 3 ? kids[1] : nullptr, log, i);
    root->AddObject(kids[i]);
  }
  delete root;
  EXPECT_EQ(log, (std::vector<int>{0, 1, 3, 2, 4}));
}

// Puts itself back under the parent it has while it is painted into a bitmap (when PaintTo has
// given it another parent for the while).
class TReAddingProbe : public TvgVisualObject {
 public:
  explicit TReAddingProbe(TvgObject* home) : TvgVisualObject(nullptr), home_(home) {}
  void Paint() override { home_->AddObject(this); }

 private:
  TvgObject* home_;
};

TEST_F(ObjectTreeTest, AChildPaintedIntoABitmapIsNotListedTwiceWhenAddedAgain) {
  TTestScene scene;
  TvgVisualObject root(nullptr);
  root.SetBounds(0, 0, 100, 100);
  scene.AddObject(&root);
  auto* probe = new TReAddingProbe(&root);
  probe->SetBounds(0, 0, 10, 10);
  root.AddObject(probe);
  TvgBitmap target(10, 10);
  TObjRecordingCanvas canvas(target);
  probe->PaintTo(&canvas, vgRect(0, 0, 10, 10));
  EXPECT_EQ(root.GetChildrenCount(), 1);
  EXPECT_EQ(probe->GetParent(), &root);
  scene.RemoveObject(&root);
  root.SetScene(nullptr);
}

}  // namespace
