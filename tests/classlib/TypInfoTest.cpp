// Class records, the registry and published properties reached by name and dotted path.
#include "classlib/TypInfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "TestClasses.h"

namespace {

std::vector<std::string> PropertyNames(const TClassInfo* cls) {
  std::vector<std::string> names;
  for (const TPropInfo* p : GetPropList(cls)) names.push_back(p->Name);
  return names;
}

// A descendant that republishes Count with another default, to check the inherited order.
class TTestWideWidget : public TTestWidget {
  KBL_DECLARE_CLASS(TTestWideWidget, TTestWidget)
 public:
  explicit TTestWideWidget(TComponent* owner) : TTestWidget(owner) { Count = 7; }
  int32_t Extra = 0;
};

class TTestAbstract : public TComponent {
  KBL_DECLARE_CLASS(TTestAbstract, TComponent)
 public:
  explicit TTestAbstract(TComponent* owner) : TComponent(owner) {}
  virtual void Pure() = 0;
};

// Classes a unit registers only when the registry is first asked.
class TTestLateFirst : public TComponent {
  KBL_DECLARE_CLASS(TTestLateFirst, TComponent)
 public:
  explicit TTestLateFirst(TComponent* owner) : TComponent(owner) {}
};
class TTestLateSecond : public TComponent {
  KBL_DECLARE_CLASS(TTestLateSecond, TComponent)
 public:
  explicit TTestLateSecond(TComponent* owner) : TComponent(owner) {}
};
class TTestLateSlow : public TComponent {
  KBL_DECLARE_CLASS(TTestLateSlow, TComponent)
 public:
  explicit TTestLateSlow(TComponent* owner) : TComponent(owner) {}
};

std::vector<std::string> g_registrations;  // the order the registrations ran in

void RegisterLateFirst() {
  g_registrations.push_back("first");
  RegisterClass<TTestLateFirst>();
}
// A look-up from within a registration runs nothing again: it sees what is registered so far.
void RegisterLateSecond() {
  g_registrations.push_back("second");
  EXPECT_NE(GetClass("TTestLateFirst"), nullptr);
  EXPECT_EQ(GetClass("TTestLateSecond"), nullptr);
  RegisterClass<TTestLateSecond>();
}
void RegisterRaising() {
  g_registrations.push_back("raising");
  throw EFilerError("A class named TTestLateFirst already exists");
}
void RegisterAfterRaising() { g_registrations.push_back("after"); }
void RegisterSlowly() {
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  RegisterClass<TTestLateSlow>();
}

}  // namespace

KBL_PUBLISHED(TTestLateFirst) {}
KBL_PUBLISHED(TTestLateSecond) {}
KBL_PUBLISHED(TTestLateSlow) {}

KBL_PUBLISHED(TTestWideWidget) {
  p.Property("Extra", &TTestWideWidget::Extra, &TTestWideWidget::Extra);
  p.Property("Count", &TTestWideWidget::Count, &TTestWideWidget::Count).Default(7);
}
KBL_PUBLISHED(TTestAbstract) {}

TEST(ClassRecord, NamesParentsAndInheritance) {
  TTestWideWidget widget(nullptr);
  EXPECT_EQ(widget.ClassName(), "TTestWideWidget");
  EXPECT_EQ(widget.ClassParent(), TTestWidget::StaticClassInfo());
  EXPECT_TRUE(widget.InheritsFrom(TComponent::StaticClassInfo()));
  EXPECT_TRUE(widget.Is<TPersistent>());
  EXPECT_FALSE(widget.Is<TCollection>());
  EXPECT_FALSE(widget.InheritsFrom(nullptr));
  TObject plain;
  EXPECT_EQ(plain.ClassName(), "TObject");
  EXPECT_EQ(plain.ClassParent(), nullptr);
  // Through a base pointer the actual class answers.
  TComponent* base = &widget;
  EXPECT_EQ(base->ClassInfo(), TTestWideWidget::StaticClassInfo());
}

TEST(ClassRecord, PropertiesInheritedFirstAndRedeclarationKeepsItsPlace) {
  std::vector<std::string> names = PropertyNames(TTestWideWidget::StaticClassInfo());
  ASSERT_GE(names.size(), 4u);
  EXPECT_EQ(names[0], "Name");
  EXPECT_EQ(names[1], "Tag");
  EXPECT_EQ(names[2], "Count");
  EXPECT_EQ(names.back(), "Extra");
  const TPropInfo* count = GetPropInfo(TTestWideWidget::StaticClassInfo(), "count");
  ASSERT_NE(count, nullptr);
  EXPECT_EQ(count->OrdDefault, 7);
  EXPECT_EQ(GetPropInfo(TTestWidget::StaticClassInfo(), "Count")->OrdDefault, 3);
  EXPECT_EQ(GetPropInfo(TTestWidget::StaticClassInfo(), "Extra"), nullptr);
}

TEST(ClassRecord, PropertyListsByKindSortedByName) {
  auto names = [](const std::vector<const TPropInfo*>& list) {
    std::vector<std::string> out;
    for (const TPropInfo* p : list) out.push_back(p->Name);
    return out;
  };
  const TClassInfo* cls = TTestWideWidget::StaticClassInfo();
  const std::vector<std::string> events = names(GetPropList(cls, tkMethods));
  EXPECT_EQ(events, (std::vector<std::string>{"OnClick", "OnValue"}));
  const std::vector<std::string> sorted = names(GetPropList(cls, tkProperties));
  EXPECT_EQ(sorted.size() + events.size(), GetPropList(cls).size());
  EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end(),
                             [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; }));
  EXPECT_EQ(sorted.front(), "Big");
  // Unsorted keeps the declaration order; a kind that nothing has gives nothing.
  EXPECT_EQ(names(GetPropList(cls, tkAny, false)), PropertyNames(cls));
  EXPECT_TRUE(GetPropList(cls, TTypeKinds{tkVariant}).empty());
  EXPECT_TRUE(GetPropList(nullptr, tkAny).empty());
}

TEST(ClassRegistry, CreatesByNameAndRejectsUnknownOrClashingNames) {
  RegisterTestClasses();
  const TClassInfo* cls = GetClass("ttestwidget");
  ASSERT_EQ(cls, TTestWidget::StaticClassInfo());
  TComponent owner(nullptr);
  TObject* created = FindClass("TTestWidget")->Create(&owner);
  auto* widget = dynamic_cast<TTestWidget*>(created);
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget->GetOwner(), &owner);
  EXPECT_EQ(owner.ComponentCount(), 1);
  // Ancestors come with their descendant.
  EXPECT_EQ(GetClass("TComponent"), TComponent::StaticClassInfo());
  EXPECT_EQ(GetClass("TNoSuchClass"), nullptr);
  try {
    FindClass("TNoSuchClass");
    FAIL() << "found a class that does not exist";
  } catch (const EClassNotFound& e) {
    EXPECT_EQ(e.Message(), "Class TNoSuchClass not found");
  }
  // Same record again is fine; another record under a taken name is not.
  RegisterClass(TTestWidget::StaticClassInfo());
  static TClassInfo impostor;
  impostor.Name = "TTestWidget";
  impostor.Parent = TComponent::StaticClassInfo();
  EXPECT_THROW(RegisterClass(&impostor), EFilerError);
  // Abstract classes have no virtual constructor.
  EXPECT_THROW(TTestAbstract::StaticClassInfo()->Create(nullptr), EInvalidOperation);
  RegisterClass<TTestWideWidget>();
  UnRegisterClass(TTestWideWidget::StaticClassInfo());
  EXPECT_EQ(GetClass("TTestWideWidget"), nullptr);
}

TEST(ClassRegistry, DeferredRegistrationsRunOnceInOrderAtTheFirstLookUp) {
  g_registrations.clear();
  AddClassRegistration(&RegisterLateFirst);
  AddClassRegistration(&RegisterLateSecond);
  AddClassRegistration(nullptr);
  EXPECT_TRUE(g_registrations.empty());
  EXPECT_EQ(GetClass("ttestlatesecond"), TTestLateSecond::StaticClassInfo());
  EXPECT_EQ(g_registrations, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(FindClass("TTestLateFirst"), TTestLateFirst::StaticClassInfo());
  RunClassRegistrations();
  EXPECT_EQ(g_registrations.size(), 2u);

  // A registration that raises gives its exception to the look-up that ran it and is dropped;
  // the ones after it run at the next look-up.
  g_registrations.clear();
  AddClassRegistration(&RegisterRaising);
  AddClassRegistration(&RegisterAfterRaising);
  EXPECT_THROW(GetClass("TTestLateFirst"), EFilerError);
  EXPECT_EQ(GetClass("TTestLateFirst"), TTestLateFirst::StaticClassInfo());
  EXPECT_EQ(g_registrations, (std::vector<std::string>{"raising", "after"}));
}

TEST(ClassRegistry, LookUpsOnOtherThreadsWaitForARegistrationUnderWay) {
  AddClassRegistration(&RegisterSlowly);
  const TClassInfo* found[3] = {};
  std::thread a([&] { found[0] = GetClass("TTestLateSlow"); });
  std::thread b([&] { found[1] = GetClass("TTestLateSlow"); });
  found[2] = GetClass("TTestLateSlow");
  a.join();
  b.join();
  for (const TClassInfo* cls : found) EXPECT_EQ(cls, TTestLateSlow::StaticClassInfo());
}

TEST(PropertyAccess, EveryKindByNameAndAsText) {
  TTestForm form(nullptr);
  auto* w = new TTestWidget(&form);
  w->SetName("W1");
  auto* other = new TTestWidget(&form);
  other->SetName("W2");

  SetPropValue(w, "Count", Variant(int32_t(42)));
  EXPECT_EQ(w->Count, 42);
  SetPropText(w, "Count", "$10");
  EXPECT_EQ(w->Count, 16);
  EXPECT_EQ(GetPropValue(w, "count").ToInt(), 16);
  EXPECT_THROW(SetPropValue(w, "Small", Variant(int32_t(200))), EPropertyConvertError);
  SetPropValue(w, "Small", Variant(int32_t(-100)));
  EXPECT_EQ(w->Small, -100);
  SetPropText(w, "Big", "-9000000000");
  EXPECT_EQ(w->Big, -9000000000LL);

  SetPropText(w, "Enabled", "false");
  EXPECT_FALSE(w->Enabled);
  EXPECT_EQ(GetPropText(w, "Enabled"), "False");
  EXPECT_EQ(GetPropValue(w, "Enabled").VarType(), varBoolean);

  SetPropText(w, "Letter", "x");
  EXPECT_EQ(w->Letter, 'x');
  SetPropValue(w, "WideLetter", Variant(WideString(u"\u20AC")));
  EXPECT_EQ(w->WideLetter, u'\u20AC');

  SetPropText(w, "Color", "TCBLUE");
  EXPECT_EQ(w->Color, tcBlue);
  EXPECT_EQ(GetPropText(w, "Color"), "tcBlue");
  EXPECT_THROW(SetPropText(w, "Color", "tcPurple"), EPropertyConvertError);
  SetPropValue(w, "Color", Variant(int32_t(1)));
  EXPECT_EQ(w->Color, tcGreen);
  EXPECT_THROW(SetPropValue(w, "Color", Variant(int32_t(9))), EPropertyConvertError);

  SetPropText(w, "Colors", "[tcRed, tcBlack]");
  EXPECT_TRUE(w->Colors.Contains(tcRed));
  EXPECT_TRUE(w->Colors.Contains(tcBlack));
  EXPECT_FALSE(w->Colors.Contains(tcGreen));
  EXPECT_EQ(GetPropText(w, "Colors"), "[tcRed,tcBlack]");
  EXPECT_THROW(SetPropText(w, "Colors", "[tcRed,nope]"), EPropertyConvertError);

  SetPropText(w, "Opacity", "0.25");
  EXPECT_FLOAT_EQ(w->Opacity, 0.25f);
  SetPropValue(w, "Ratio", Variant(2.5));
  EXPECT_DOUBLE_EQ(w->Ratio, 2.5);
  EXPECT_EQ(GetPropText(w, "Ratio"), "2.5");

  SetPropText(w, "Caption", "hello");
  EXPECT_EQ(w->Caption, "hello");
  SetPropText(w, "Title", "gr\xC3\xBC\xC3\x9F");  // UTF-8 text into a wide string
  EXPECT_EQ(w->Title, u"gr\u00FC\u00DF");
  EXPECT_EQ(GetPropText(w, "Title"), "gr\xC3\xBC\xC3\x9F");

  SetPropText(w, "Buddy", "W2");
  EXPECT_EQ(w->GetBuddy(), other);
  EXPECT_EQ(GetPropText(w, "Buddy"), "W2");
  EXPECT_EQ(GetPropValue(w, "Buddy").ToObject(), other);
  EXPECT_THROW(SetPropText(w, "Buddy", "Nobody"), EPropertyConvertError);
  SetPropValue(w, "Buddy", Variant::Null());
  EXPECT_EQ(w->GetBuddy(), nullptr);
  TTestPoint notAWidget;
  EXPECT_THROW(SetPropValue(w, "Buddy", Variant(static_cast<TObject*>(&notAWidget))), EPropertyError);

  SetPropText(w, "OnClick", "ButtonClick");
  w->OnClick(w);
  EXPECT_EQ(form.clicks, 1);
  EXPECT_EQ(form.lastSender, w);
  EXPECT_EQ(GetPropText(w, "OnClick"), "ButtonClick");
  // A handler of another signature does not fit the event.
  EXPECT_THROW(SetPropText(w, "OnClick", "ValueChanged"), EPropertyConvertError);
  struct Outsider {
    void Handle(TObject*) {}
  } outsider;
  w->OnClick = TNotifyEvent::Of<&Outsider::Handle>(&outsider);
  EXPECT_EQ(GetPropText(w, "OnClick"), "");  // not a published method of the root
  SetPropText(w, "OnValue", "ValueChanged");
  w->OnValue(w, 77);
  EXPECT_EQ(form.lastValue, 77);
}

TEST(PropertyAccess, DottedPathsReachSubObjects) {
  TTestWidget w(nullptr);
  SetPropValue(&w, "Position.X", Variant(3.5));
  SetPropText(&w, "position.y", "-2");
  EXPECT_FLOAT_EQ(w.GetPosition()->GetX(), 3.5f);
  EXPECT_FLOAT_EQ(w.GetPosition()->GetY(), -2.0f);
  EXPECT_DOUBLE_EQ(GetPropValue(&w, "Position.X").ToDouble(), 3.5);
  TObject* target = nullptr;
  const TPropInfo* prop = ResolvePropPath(&w, "Position.Y", target);
  EXPECT_EQ(target, w.GetPosition());
  EXPECT_EQ(prop->Name, "Y");
  try {
    GetPropValue(&w, "Position.Z");
    FAIL();
  } catch (const EPropertyError& e) {
    EXPECT_EQ(e.Message(), "Property Position.Z does not exist");
  }
  EXPECT_THROW(GetPropValue(&w, "Count.X"), EPropertyError);   // not an object
  EXPECT_THROW(GetPropValue(&w, "Buddy.Count"), EPropertyError);  // nil on the way
  EXPECT_EQ(FindPropPath(&w, "Buddy.Count", target), nullptr);
}

TEST(PropertyAccess, DefaultsAndStoredPredicates) {
  TTestWidget w(nullptr);
  const TClassInfo* cls = w.ClassInfo();
  EXPECT_TRUE(IsDefaultPropValue(&w, GetPropInfo(cls, "Count")));
  w.Count = 4;
  EXPECT_FALSE(IsDefaultPropValue(&w, GetPropInfo(cls, "Count")));
  EXPECT_TRUE(IsDefaultPropValue(&w, GetPropInfo(cls, "Enabled")));
  w.Enabled = false;
  EXPECT_FALSE(IsDefaultPropValue(&w, GetPropInfo(cls, "Enabled")));
  EXPECT_FALSE(IsStoredProp(&w, GetPropInfo(cls, "Opacity")));
  w.Opacity = 0.5f;
  EXPECT_TRUE(IsStoredProp(&w, GetPropInfo(cls, "Opacity")));
  EXPECT_FALSE(IsStoredProp(&w, GetPropInfo(cls, "Secret")));
  EXPECT_FALSE(IsStoredProp(&w, GetPropInfo(cls, "Name")));
}

TEST(Variants, ConvertLikeTheClassLibrary) {
  EXPECT_EQ(Variant(true).ToString(), "True");
  EXPECT_EQ(Variant(true).ToInt(), -1);
  EXPECT_EQ(Variant("12").ToInt(), 12);
  EXPECT_DOUBLE_EQ(Variant("1.5").ToDouble(), 1.5);
  EXPECT_EQ(Variant(0.1).ToString(), "0.1");
  EXPECT_THROW(Variant("abc").ToInt(), EVariantError);
  EXPECT_THROW(Variant(int64_t(1) << 40).ToInt(), EVariantError);
  EXPECT_THROW(Variant(std::string("x")).ToObject(), EVariantError);
  EXPECT_TRUE(Variant(int32_t(3)) == Variant(3.0));
  EXPECT_TRUE(Variant("ab") == Variant(WideString(u"ab")));
  EXPECT_FALSE(Variant("1") == Variant(int32_t(1)));
  EXPECT_TRUE(Variant().IsEmpty());
  EXPECT_EQ(Variant::Null().ToString(), "");
}
