// Bounded mutation loop over streamed object trees: whatever the bytes, loading, laying out,
// painting and freeing a tree must neither crash nor leak (the sanitizers watch).
#include <gtest/gtest.h>

#include <random>

#include "ObjectsTestSupport.h"
#include "classlib/Filer.h"

namespace {

std::string SampleTree() {
  auto* root = new TvgBackground(nullptr);
  root->SetBounds(0, 0, 200, 150);
  root->GetMargins()->SetRect(vgRect(3, 4, 5, 6));
  const TvgAlign aligns[] = {vaTop, vaLeft, vaRight, vaBottom, vaClient, vaCenter, vaFit, vaScale, vaTopRight};
  int i = 0;
  for (TvgAlign a : aligns) {
    auto* child = new TvgVisualObject(nullptr);
    child->SetBounds(float(i * 7), float(i * 5), 20 + float(i), 10 + float(i));
    child->SetAlign(a);
    child->GetPadding()->SetRect(vgRect(1, 1, 2, 2));
    child->SetRotateAngle(float(i * 10));
    child->SetParent(root);
    ++i;
  }
  auto* content = new TvgContent(nullptr);
  content->SetAlign(vaContents);
  content->SetParent(root);
  auto* inner = new TPaintProbe(nullptr);
  inner->SetClipChildren(true);
  inner->SetParent(content);
  auto* effect = new TProbeEffect(nullptr);
  effect->SetTrigger("IsMouseOver=true");
  effect->SetParent(inner);
  auto* animation = new TProbeAnimation(nullptr);
  animation->SetTrigger("IsFocused=true");
  animation->SetEnabled(true);
  animation->SetParent(inner);
  auto* control = new TvgProbeButton(nullptr);
  control->SetResource("nothing");
  control->SetParent(root);
  TMemoryStream stream;
  root->SaveToBinStream(stream);
  delete root;
  return std::string(reinterpret_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.GetSize()));
}

TEST(ObjectFuzzTest, MutatedTreesLoadLayOutPaintAndFree) {
  RegisterProbeClasses();
  FreshManualTicker();
  const std::string original = SampleTree();
  TTestScene scene;
  TObjRecordingCanvas canvas(200, 150);
  scene.canvas = &canvas;
  scene.paintRects = {vgRect(0, 0, 200, 150)};
  std::mt19937 random(20261207);
  int loaded = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = original;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      const size_t at = 4 + random() % (bytes.size() - 4);
      switch (random() % 3) {
        case 0:
          bytes[at] = static_cast<char>(random());
          break;
        case 1:
          bytes.erase(at, 1 + random() % 8);
          break;
        default:
          bytes.insert(at, 1, static_cast<char>(random()));
          break;
      }
      if (bytes.size() < 8) bytes = original;
    }
    TStringStream stream(bytes);
    TComponent* obj = vgCreateObjectFromBinStream(nullptr, stream);
    auto* tree = dynamic_cast<TvgObject*>(obj);
    if (tree == nullptr) {
      delete obj;
      continue;
    }
    ++loaded;
    scene.AddObject(tree);
    if (TvgVisualObject* v = tree->Visual()) {
      v->Realign();
      v->GetUpdateRect();
      v->PaintChildren();
      v->ObjectByPoint(50, 50);
      v->FireTrigger("IsMouseOver");
    }
    std::unique_ptr<TvgObject> copy(tree->Clone(nullptr));
    delete tree;
    scene.roots.clear();
  }
  EXPECT_GT(loaded, 100);
  scene.canvas = nullptr;
  vgFreeAniThread();
}

}  // namespace
