// The default style: it reads without a single error, holds every style root under its name, and
// every registered control class in a scene without a style of its own finds its root and each
// part its ApplyStyle looks up.
#include <gtest/gtest.h>

#include <set>

#include "DefaultStyleSupport.h"
#include "classlib/Filer.h"
#include "classlib/FormText.h"
#include "classlib/ResourceStream.h"
#include "scene/core/ObjectsTestSupport.h"
#include "scene/core/vg_registry.h"

namespace {

bool IsStyleRootName(const std::string& name) {
  return name.size() > 5 && name.compare(name.size() - 5, 5, "style") == 0;
}

// "name:Class" found under `holder` (the control or a root of the default style) with that class.
::testing::AssertionResult HasPart(TvgObject* holder, const std::string& spec) {
  const size_t colon = spec.find(':');
  const std::string name = spec.substr(0, colon), cls = spec.substr(colon + 1);
  TvgObject* part = holder->FindResource(name);
  if (part == nullptr) return ::testing::AssertionFailure() << "no part \"" << name << "\"";
  const TClassInfo* expected = GetClass(cls);
  if (expected == nullptr) return ::testing::AssertionFailure() << cls << " is not registered";
  if (!part->ClassInfo()->InheritsFrom(expected))
    return ::testing::AssertionFailure() << "part \"" << name << "\" is a " << part->ClassInfo()->Name;
  return ::testing::AssertionSuccess();
}

class DefaultStyle : public ::testing::Test {
 protected:
  void SetUp() override {
    StartDefaultStyleTest();
    style = vgDefaultStyle();
    ASSERT_NE(style, nullptr);
    form = new TvgVisualObject(nullptr);
    form->SetBounds(0, 0, 400, 300);
    scene.AddObject(form);
  }
  void TearDown() override {
    delete form;
    EndDefaultStyleTest();
  }
  TvgControl* Make(const TClassInfo* cls) {
    auto* control = dynamic_cast<TvgControl*>(cls->Create(nullptr));
    if (control == nullptr) return nullptr;
    control->SetParent(form);
    control->ApplyResource();
    return control;
  }

  TTestScene scene;
  TvgObject* style = nullptr;
  TvgVisualObject* form = nullptr;
};

TEST_F(DefaultStyle, ReadsWithoutAnErrorIntoABackgroundOfStyleRoots) {
  // Read strictly: an unknown class or property would be skipped by the scene's loader.
  std::vector<std::string> errors;
  struct Recorder {
    std::vector<std::string>* errors;
    void Error(TReader*, const std::string& message, bool& handled) {
      errors->push_back(message);
      handled = true;
    }
  } recorder{&errors};
  TStringStream text(DefaultStyleText());
  if (text.GetSize() == 0) GTEST_SKIP() << "the source tree is not at hand";
  TMemoryStream binary;
  ObjectTextToBinary(text, binary);
  binary.SetPosition(0);
  TvgBackground root(nullptr);
  TReader reader(binary);
  reader.OnError = decltype(reader.OnError)::Of<&Recorder::Error>(&recorder);
  reader.ReadRootComponent(&root);
  EXPECT_TRUE(errors.empty()) << errors.front();

  EXPECT_EQ(root.GetWidth(), 548);
  EXPECT_EQ(root.GetHeight(), 547);
  EXPECT_EQ(root.GetFill()->GetStyle(), vgBrushSolid);
  EXPECT_EQ(root.GetFill()->GetSolidColor(), 0xFF2B2B2Bu);
  std::multiset<std::string> names;
  for (TvgObject* child : root.Children()) {
    EXPECT_TRUE(IsStyleRootName(child->GetResourceName())) << child->GetResourceName();
    EXPECT_TRUE(child->IsVisual()) << child->GetResourceName();
    names.insert(child->GetResourceName());
  }
  EXPECT_EQ(names.size(), 107u);
  EXPECT_EQ(names.count("droptargetstyle"), 2u);
  // The module's own copy is the same tree.
  if (TResourceStream::Exists("defaultvgstyle")) {
    EXPECT_EQ(style->GetChildrenCount(), root.GetChildrenCount());
  }
}

TEST_F(DefaultStyle, EveryRootIsInTheTableAndEveryTableRootInTheStyle) {
  std::set<std::string> tableRoots;
  for (const TStyleCase& c : StyleCases()) {
    if (c.Root.empty()) continue;
    tableRoots.insert(c.Root);
    EXPECT_NE(style->FindResource(c.Root), nullptr) << c.Root;
  }
  for (TvgObject* child : style->Children()) EXPECT_EQ(tableRoots.count(child->GetResourceName()), 1u) << child->GetResourceName();
}

TEST_F(DefaultStyle, EveryRegisteredControlClassHasAnEntry) {
  std::set<std::string> table;
  for (const TStyleCase& c : StyleCases()) table.insert(c.ClassName);
  for (const auto& [category, cls] : vgObjectCategories()) {
    if (!cls->InheritsFrom(TvgControl::StaticClassInfo())) continue;
    EXPECT_EQ(table.count(cls->Name), 1u) << cls->Name << " (" << category << ") has no entry";
  }
}

TEST_F(DefaultStyle, EachControlFindsItsRootAndItsParts) {
  for (const TStyleCase& c : StyleCases()) {
    SCOPED_TRACE(c.ClassName + " / " + c.Root);
    const TClassInfo* cls = c.ClassName.empty() ? nullptr : GetClass(c.ClassName);
    if (cls == nullptr) {
      // Not built (yet): the root itself holds the parts.
      if (c.Root.empty()) continue;
      TvgObject* root = style->FindResource(c.Root);
      ASSERT_NE(root, nullptr);
      for (const std::string& part : c.Parts) EXPECT_TRUE(HasPart(root, part));
      continue;
    }
    TvgControl* control = Make(cls);
    ASSERT_NE(control, nullptr);
    TvgObject* applied = control->GetStyleObject();
    if (c.Root.empty()) {
      EXPECT_EQ(applied, nullptr);
    } else {
      ASSERT_NE(applied, nullptr);
      // A root found by class name keeps its name; one found through Resource loses it.
      const std::string found = applied->GetResourceName().empty() ? control->GetResource() : applied->GetResourceName();
      EXPECT_EQ(found, c.Root);
      for (const std::string& part : c.Parts) EXPECT_TRUE(HasPart(control, part));
    }
    delete control;
  }
}

TEST_F(DefaultStyle, OnlyControlsInsideTheStyleTakeTheMouse) {
  // A shape that answered hits would take the clicks meant for the control it draws.
  std::vector<TvgObject*> all;
  style->AddObjectsToList(all);
  for (TvgObject* obj : all) {
    if (obj == style || !obj->IsVisual() || obj->Is<TvgControl>()) continue;
    EXPECT_FALSE(obj->Visual()->GetHitTest()) << obj->ClassInfo()->Name << " in " << obj->GetParent()->GetResourceName();
  }
}

TEST_F(DefaultStyle, EveryStyleNamedInsideTheStyleExists) {
  std::vector<TvgObject*> all;
  style->AddObjectsToList(all);
  for (TvgObject* obj : all) {
    auto* control = dynamic_cast<TvgControl*>(obj);
    if (control == nullptr || control == style || control->GetResource().empty()) continue;
    EXPECT_NE(style->FindResource(control->GetResource()), nullptr) << control->GetResource();
  }
}

}  // namespace
