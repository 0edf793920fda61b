// Registries: the resource search over the list of scene objects, free notification, class
// categories, object loaders, Variant packing and translation.
#include "scene/core/vg_registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "classlib/Filer.h"
#include "classlib/FormText.h"
#include "scene/core/vg_bitmap.h"
#include "scene/core/vg_widestrings.h"

// A stand-in for the scene object: registered while it lives, with a resource name and a
// stored flag.
class TRegistryProbe : public TComponent, public IvgSceneEntry {
  KBL_DECLARE_CLASS(TRegistryProbe, TComponent)
 public:
  explicit TRegistryProbe(TComponent* owner) : TComponent(owner) { vgRegisterSceneObject(this); }
  ~TRegistryProbe() override { vgUnregisterSceneObject(this); }
  std::string GetSceneResourceName() const override { return ResourceName; }
  bool GetSceneStored() const override { return Stored; }
  const std::string& GetResourceName() const { return ResourceName; }
  void SetResourceName(const std::string& v) { ResourceName = v; }
  int32_t GetValue() const { return value_; }
  void SetValue(int32_t v) { value_ = v; }
  void Clicked(TObject*) {}

  std::string ResourceName;
  bool Stored = true;

 private:
  int32_t value_ = 0;
};

KBL_PUBLISHED(TRegistryProbe) {
  KBL_PROP(ResourceName);
  KBL_PROP(Value).Default(0);
  KBL_METHOD(Clicked);
}

// Registered without the interface: found through its published ResourceName.
class TPlainProbe : public TComponent {
  KBL_DECLARE_CLASS(TPlainProbe, TComponent)
 public:
  explicit TPlainProbe(TComponent* owner) : TComponent(owner) { vgRegisterSceneObject(this); }
  ~TPlainProbe() override { vgUnregisterSceneObject(this); }
  std::string ResourceName;
};

KBL_PUBLISHED(TPlainProbe) { p.Property("ResourceName", &TPlainProbe::ResourceName, &TPlainProbe::ResourceName); }

namespace {

class VgRegistry : public ::testing::Test {
 protected:
  void SetUp() override { vgFreeRegistries(); }
  void TearDown() override { vgFreeRegistries(); }
};

TEST_F(VgRegistry, NewestStoredObjectWinsTheResourceSearch) {
  auto* older = new TRegistryProbe(nullptr);
  older->ResourceName = "Button";
  auto* newer = new TRegistryProbe(nullptr);
  newer->ResourceName = "button";
  TPlainProbe plain(nullptr);
  plain.ResourceName = "plain";
  EXPECT_EQ(vgFindResourceObject("BUTTON"), newer);
  EXPECT_EQ(vgFindResourceObject("Plain"), &plain);
  EXPECT_EQ(vgFindResourceObject(""), nullptr);
  EXPECT_EQ(vgFindResourceObject("none"), nullptr);
  newer->Stored = false;
  EXPECT_EQ(vgFindResourceObject("BUTTON"), older);
  newer->Stored = true;
  delete newer;
  EXPECT_EQ(vgFindResourceObject("BUTTON"), older);
  EXPECT_EQ(vgSceneObjects().size(), 2u);
  // Indices stay valid: the blanked entry keeps its place.
  auto* third = new TRegistryProbe(nullptr);
  EXPECT_EQ(vgRegisterSceneObject(third), 3);
  EXPECT_EQ(vgRegisterSceneObject(third), 3);
  delete third;
  delete older;
  EXPECT_EQ(vgFindResourceObject("button"), nullptr);
}

// Thousands of objects freed in a mixed order are each told apart, alive or not; once the newest
// are gone their blanks go too, so making and freeing a large list again and again does not
// lengthen the list.
TEST_F(VgRegistry, ManyObjectsComeAndGoInAnyOrder) {
  std::vector<TRegistryProbe*> probes;
  for (int i = 0; i < 5000; ++i) probes.push_back(new TRegistryProbe(nullptr));
  for (size_t i = 0; i < probes.size(); i += 2) delete probes[i];
  for (size_t i = 0; i < probes.size(); ++i) ASSERT_EQ(vgIsSceneObjectAlive(probes[i]), i % 2 == 1) << i;
  EXPECT_EQ(vgRegisterSceneObject(probes[4999]), 4999);
  for (int i = 4999; i >= 1; i -= 2) delete probes[static_cast<size_t>(i)];
  auto* next = new TRegistryProbe(nullptr);
  EXPECT_EQ(vgRegisterSceneObject(next), 0);
  EXPECT_TRUE(vgIsSceneObjectAlive(next));
  EXPECT_EQ(vgSceneObjects().size(), 1u);
  delete next;
}

// The address of a freed object made into another one, as the memory manager does: a holder
// tells the two apart, also after the index was rebuilt (grown by a thousand more objects) and
// after the registries were freed and made again.
TEST_F(VgRegistry, AKeptObjectIsToldFromALaterOneAtItsAddress) {
  TPlainProbe probe(nullptr);
  const TvgSceneObjectRef<TPlainProbe> kept(&probe);
  std::vector<std::unique_ptr<TPlainProbe>> more;
  for (int i = 0; i < 1000; ++i) more.push_back(std::make_unique<TPlainProbe>(nullptr));
  EXPECT_EQ(kept.Get(), &probe);  // the rebuilt index kept its serial
  vgUnregisterSceneObject(&probe);  // freed, and its block made into another object
  vgRegisterSceneObject(&probe);
  EXPECT_EQ(kept.Get(), nullptr);
  const TvgSceneObjectRef<TPlainProbe> again(&probe);
  more.clear();
  vgFreeRegistries();
  vgRegisterSceneObject(&probe);
  EXPECT_EQ(again.Get(), nullptr);
  EXPECT_EQ(TvgSceneObjectRef<TPlainProbe>(&probe).Get(), &probe);
}

TEST_F(VgRegistry, FreeNotificationRunsOnceAndCanBeWithdrawn) {
  auto* subject = new TRegistryProbe(nullptr);
  int a = 0, b = 0;
  vgAddFreeNotify(subject, &a, [&a] { ++a; });
  vgAddFreeNotify(subject, &b, [&b] { ++b; });
  vgAddFreeNotify(subject, &a, [&a] { a += 10; });  // replaces
  vgRemoveFreeNotify(subject, &b);
  delete subject;
  EXPECT_EQ(a, 10);
  EXPECT_EQ(b, 0);
  EXPECT_FALSE(vgIsSceneObjectAlive(subject));
}

TEST_F(VgRegistry, CategoriesSortedByNameNewestFirst) {
  vgRegisterObjects("Shapes", {TRegistryProbe::StaticClassInfo()});
  vgRegisterObjects("controls", {TPlainProbe::StaticClassInfo(), TRegistryProbe::StaticClassInfo()});
  const auto& list = vgObjectCategories();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].first, "controls");
  EXPECT_EQ(list[0].second, TRegistryProbe::StaticClassInfo());
  EXPECT_EQ(list[1].second, TPlainProbe::StaticClassInfo());
  EXPECT_EQ(list[2].first, "Shapes");
  EXPECT_EQ(GetClass("TRegistryProbe"), TRegistryProbe::StaticClassInfo());
}

TEST_F(VgRegistry, ObjectsLoadFromTextAndStreamsOrGiveNothing) {
  vgRegisterObjects("Tests", {TRegistryProbe::StaticClassInfo()});
  TComponent owner(nullptr);
  TComponent* obj = vgCreateObjectFromText(&owner, "object Probe1: TRegistryProbe\n  ResourceName = 'knob'\n  Value = 7\nend\n");
  ASSERT_NE(obj, nullptr);
  auto* probe = dynamic_cast<TRegistryProbe*>(obj);
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe->GetOwner(), &owner);
  EXPECT_EQ(probe->ResourceName, "knob");
  EXPECT_EQ(probe->GetValue(), 7);
  EXPECT_FALSE(probe->HasState(csDesigning));
  EXPECT_EQ(vgFindResourceObject("KNOB"), probe);
  // Unknown properties and method names are skipped, not fatal.
  TComponent* lenient = vgCreateObjectFromText(
      nullptr, "object TRegistryProbe\n  Unknown = 3\n  OnClick = NoSuchMethod\n  Value = 4\nend\n");
  ASSERT_NE(lenient, nullptr);
  EXPECT_EQ(static_cast<TRegistryProbe*>(lenient)->GetValue(), 4);
  delete lenient;
  EXPECT_EQ(vgCreateObjectFromText(&owner, "object X: TNotRegisteredAnywhere\nend\n"), nullptr);
  EXPECT_EQ(vgCreateObjectFromText(&owner, "object X: TRegistryProbe\n  Value = \nend"), nullptr);
  EXPECT_EQ(vgCreateObjectFromText(&owner, ""), nullptr);
  EXPECT_EQ(owner.ComponentCount(), 1);  // failures leave nothing behind
  // The binary form, read from the middle of a stream.
  TMemoryStream stream;
  stream.WriteBuffer("pad", 3);
  TRegistryProbe source(nullptr);
  source.SetValue(42);
  WriteComponentToStream(stream, &source);
  stream.SetPosition(3);
  TComponent* copy = vgCreateObjectFromBinStream(nullptr, stream);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(static_cast<TRegistryProbe*>(copy)->GetValue(), 42);
  delete copy;
  TStringStream garbage("TPF0\x05");
  EXPECT_EQ(vgCreateObjectFromBinStream(nullptr, garbage), nullptr);
}

TEST_F(VgRegistry, ObjectVariantsNameOnlyLiveSceneAndValueObjects) {
  auto* probe = new TRegistryProbe(nullptr);
  const Variant v = vgObjectToVariant(probe);
  EXPECT_TRUE(vgVarIsObject(v));
  EXPECT_EQ(vgVariantToObject(v), probe);  // native addresses take more than 10 digits too
  EXPECT_TRUE(vgVarIsObject(Variant("vgobj12")));
  EXPECT_EQ(vgVariantToObject(Variant("vgobj12")), nullptr);
  EXPECT_EQ(vgVariantToObject(Variant("vgobj-2147483648")), nullptr);
  EXPECT_EQ(vgVariantToObject(Variant("vgobj")), nullptr);
  EXPECT_EQ(vgVariantToObject(Variant("vgobj12abc")), nullptr);
  EXPECT_EQ(vgVariantToObject(Variant(int32_t(5))), nullptr);
  EXPECT_FALSE(vgVarIsObject(Variant(int32_t(5))));
  TComponent unregistered(nullptr);
  EXPECT_EQ(vgVariantToObject(vgObjectToVariant(&unregistered)), nullptr);
  delete probe;
  EXPECT_EQ(vgVariantToObject(v), nullptr);  // freed: the text is stale
  // Bitmaps travel packed as the values of images and image controls.
  auto* bitmap = new TvgBitmap(2, 2);
  const Variant packed = vgObjectToVariant(bitmap);
  EXPECT_EQ(vgVariantToObject(packed), bitmap);
  delete bitmap;
  EXPECT_EQ(vgVariantToObject(packed), nullptr);
}

TEST_F(VgRegistry, EventVariantsAreStringsNamingPublishedMethods) {
  EXPECT_FALSE(vgVarIsEvent(Variant(int32_t(1))));
  EXPECT_TRUE(vgVarIsEvent(Variant("vgmet0000000000000000")));
  EXPECT_FALSE(vgVariantToEvent(Variant("vgmet0000000000000000")).Assigned());
  EXPECT_FALSE(vgVariantToEvent(Variant("vgmetXYZ")).Assigned());
  EXPECT_FALSE(vgVariantToEvent(Variant("nothing")).Assigned());
#if UINTPTR_MAX == 0xFFFFFFFFu
  TRegistryProbe probe(nullptr);
  const TMethodInfo* method = probe.ClassInfo()->FindMethod("Clicked");
  ASSERT_NE(method, nullptr);
  char text[32];
  std::snprintf(text, sizeof text, "vgmet%08X%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(&probe)),
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(method->Code)));
  const TMethodValue bound = vgVariantToEvent(Variant(text));
  EXPECT_EQ(bound.Code, method->Code);
  EXPECT_EQ(bound.Data, method->Bind(&probe).Data);
  // A code address that is no published method of the object is refused.
  std::snprintf(text, sizeof text, "vgmet%08X%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(&probe)), 0x1234u);
  EXPECT_FALSE(vgVariantToEvent(Variant(text)).Assigned());
#endif
}

TEST_F(VgRegistry, TranslationPassesTextsUnlessAHookIsSet) {
  EXPECT_EQ(vgTranslate(u"Open"), u"Open");
  TvgWideStringList collected, language;
  language.SetTextStr(u"Open=\u00D6ffnen\r\nClose=");
  vgTranslation().Collect = &collected;
  vgTranslation().Language = &language;
  EXPECT_EQ(vgTranslate(u"Open"), u"\u00D6ffnen");
  EXPECT_EQ(vgTranslate(u"Close"), u"Close");  // empty translation keeps the text
  EXPECT_EQ(vgTranslate(u"Save"), u"Save");
  EXPECT_EQ(vgTranslate(u""), u"");
  EXPECT_EQ(collected.GetTextStr(), u"Open\r\nClose\r\nSave\r\n");
  vgTranslation().LookupByValue = true;
  EXPECT_EQ(vgTranslate(u"\u00D6ffnen"), u"Open");
  vgTranslation().Translate = [](const WideString& t) { return t == u"A" ? WideString(u"B") : WideString(); };
  EXPECT_EQ(vgTranslate(u"A"), u"B");
  EXPECT_EQ(vgTranslate(u"C"), u"C");
  vgTranslation() = TvgTranslation();
}

TEST_F(VgRegistry, ScenesAreListedOnce) {
  TComponent a(nullptr), b(nullptr);
  vgAddScene(&a);
  vgAddScene(&a);
  vgAddScene(&b);
  EXPECT_EQ(vgScenes().size(), 2u);
  vgRemoveScene(&a);
  ASSERT_EQ(vgScenes().size(), 1u);
  EXPECT_EQ(vgScenes()[0], &b);
}

}  // namespace
