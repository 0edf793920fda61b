// The binary component stream: hand-built samples, minimal output, references, events, defined
// properties and hostile input.
#include "classlib/Filer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "TestClasses.h"

namespace {

// The sample form: a root with two widgets, one with every kind of property and a child.
std::string SampleStream() {
  Bytes b;
  b.Text("TPF0").Str("TTestForm").Str("Form1");
  b.Str("Tag").Raw({0x03, 0x2C, 0x01});  // vaInt16 300
  b.Raw({0x00});
  // Knob
  b.Str("TTestWidget").Str("Knob");
  b.Str("Count").Raw({0x02, 0x07});
  b.Str("Small").Raw({0x02, 0xF6});                    // -10
  b.Str("Word").Raw({0x03, 0xE8, 0x03});               // 1000
  b.Str("Big").Raw({0x13, 0, 0, 0, 0, 1, 0, 0, 0});    // vaInt64 2^32
  b.Str("Enabled").Raw({0x08});                        // vaFalse
  b.Str("Letter").Raw({0x06, 0x01}).Text("q");
  b.Str("WideLetter").Raw({0x12, 0x01, 0, 0, 0, 0xAC, 0x20});  // vaWString U+20AC
  b.Str("Color").Raw({0x07}).Str("tcBlue");
  b.Str("Colors").Raw({0x0B}).Str("tcRed").Str("tcBlack").Raw({0x00});
  b.Str("Opacity").Raw({0x0F, 0x00, 0x00, 0x00, 0x3F});                     // single 0.5
  b.Str("Ratio").Raw({0x05, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x3F});         // extended 1.5
  b.Str("Caption").Raw({0x06}).Str("it's");
  b.Str("Title").Raw({0x12, 0x02, 0, 0, 0, 0xAC, 0x20, 0x41, 0x00});        // "€A"
  b.Str("Position.Point").Raw({0x06}).Str("(1,2.5)");
  b.Str("Lines.Strings").Raw({0x01, 0x06}).Str("a").Raw({0x06}).Str("b").Raw({0x00});
  b.Str("Items").Raw({0x0E, 0x01});
  b.Str("Caption").Raw({0x06}).Str("i0");
  b.Str("Value").Raw({0x02, 0x05});
  b.Str("Link").Raw({0x07}).Str("Other");  // forward reference inside a collection item
  b.Raw({0x00, 0x00});
  b.Str("Buddy").Raw({0x07}).Str("Other");  // forward reference
  b.Str("OnClick").Raw({0x07}).Str("ButtonClick");
  b.Str("OnValue").Raw({0x07}).Str("ValueChanged");
  b.Str("Left").Raw({0x02, 0x0A});
  b.Str("Top").Raw({0x02, 0x14});
  b.Str("Blob").Raw({0x0A, 0x03, 0, 0, 0, 0x01, 0x00, 0xFF});
  b.Raw({0x00});
  // Knob's child
  b.Str("TTestWidget").Str("Inner");
  b.Str("Count").Raw({0x02, 0x01});
  b.Str("Items").Raw({0x0E, 0x00});  // collections are always written
  b.Raw({0x00, 0x00});
  b.Raw({0x00});  // end of Knob's children
  // Other
  b.Str("TTestWidget").Str("Other");
  b.Str("Items").Raw({0x0E, 0x00});
  b.Raw({0x00, 0x00});
  b.Raw({0x00});  // end of the form's children
  return b.data;
}

std::unique_ptr<TTestForm> LoadForm(const std::string& bytes) {
  RegisterTestClasses();
  TStringStream stream(bytes);
  return std::unique_ptr<TTestForm>(dynamic_cast<TTestForm*>(ReadComponentFromStream(stream, nullptr)));
}

std::string SaveComponent(TComponent* root) {
  TStringStream stream;
  WriteComponentToStream(stream, root);
  return stream.DataString();
}

}  // namespace

TEST(ComponentStream, HandBuiltSampleLoadsEveryKind) {
  std::unique_ptr<TTestForm> form = LoadForm(SampleStream());
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->GetName(), "Form1");
  EXPECT_EQ(form->GetTag(), 300);
  auto* knob = dynamic_cast<TTestWidget*>(form->FindComponent("Knob"));
  auto* other = dynamic_cast<TTestWidget*>(form->FindComponent("Other"));
  auto* inner = dynamic_cast<TTestWidget*>(form->FindComponent("Inner"));
  ASSERT_TRUE(knob && other && inner);
  EXPECT_EQ(knob->Count, 7);
  EXPECT_EQ(knob->Small, -10);
  EXPECT_EQ(knob->Word, 1000);
  EXPECT_EQ(knob->Big, int64_t(1) << 32);
  EXPECT_FALSE(knob->Enabled);
  EXPECT_EQ(knob->Letter, 'q');
  EXPECT_EQ(knob->WideLetter, u'\u20AC');
  EXPECT_EQ(knob->Color, tcBlue);
  EXPECT_EQ(knob->Colors, (TTestColors{tcRed, tcBlack}));
  EXPECT_EQ(knob->Opacity, 0.5f);
  EXPECT_EQ(knob->Ratio, 1.5);
  EXPECT_EQ(knob->Caption, "it's");
  EXPECT_EQ(knob->Title, u"\u20ACA");
  EXPECT_EQ(knob->GetPosition()->GetX(), 1.0f);
  EXPECT_EQ(knob->GetPosition()->GetY(), 2.5f);
  ASSERT_EQ(knob->GetLines()->Count(), 2);
  EXPECT_EQ(knob->GetLines()->Get(1), "b");
  ASSERT_EQ(knob->GetItems()->Count(), 1);
  auto* item = static_cast<TTestItem*>(knob->GetItems()->GetItem(0));
  EXPECT_EQ(item->Caption, "i0");
  EXPECT_EQ(item->Value, 5);
  EXPECT_EQ(item->Link, other);        // resolved after the whole stream was read
  EXPECT_EQ(knob->GetBuddy(), other);  // likewise
  EXPECT_EQ(knob->DesignInfo(), (20 << 16) | 10);
  EXPECT_EQ(knob->Blob, std::string("\x01\x00\xFF", 3));
  knob->OnClick(knob);
  EXPECT_EQ(form->clicks, 1);
  knob->OnValue(knob, 9);
  EXPECT_EQ(form->lastValue, 9);
  EXPECT_EQ(inner->ParentWidget(), knob);
  EXPECT_EQ(inner->Count, 1);
  // Every component was told once that loading ended, and no longer says it is loading.
  for (TTestWidget* w : {knob, other, inner}) {
    EXPECT_EQ(w->loadedCalls, 1);
    EXPECT_FALSE(w->HasState(csLoading));
    EXPECT_FALSE(w->HasState(csReading));
  }
}

TEST(ComponentStream, WriterReproducesTheHandBuiltSampleByteForByte) {
  std::unique_ptr<TTestForm> form = LoadForm(SampleStream());
  ASSERT_NE(form, nullptr);
  std::string written = SaveComponent(form.get());
  EXPECT_EQ(written, SampleStream());
}

TEST(ComponentStream, DefaultsAndStoredPredicatesKeepStreamsMinimal) {
  TTestForm form(nullptr);
  auto* w = new TTestWidget(&form);
  w->Secret = "never written";
  w->Opacity = 1;  // stored only when not 1
  std::string bytes = SaveComponent(w);
  Bytes expected;
  expected.Text("TPF0").Str("TTestWidget").Str("");
  expected.Str("Items").Raw({0x0E, 0x00});  // collections are always written, so an emptied one stays empty
  expected.Raw({0x00, 0x00});
  EXPECT_EQ(bytes, expected.data);
  w->Opacity = 0.75f;
  w->Count = 3;  // the default
  w->Big = 0;
  EXPECT_NE(SaveComponent(w).find("Opacity"), std::string::npos);
  EXPECT_EQ(SaveComponent(w).find("Count"), std::string::npos);
}

TEST(ComponentStream, EventsWithoutAPublishedHandlerAreNotWritten) {
  TTestForm form(nullptr);
  auto* w = new TTestWidget(&form);
  struct Outsider {
    void Handle(TObject*) {}
  } outsider;
  w->OnClick = TNotifyEvent::Of<&Outsider::Handle>(&outsider);
  EXPECT_EQ(SaveComponent(&form).find("OnClick"), std::string::npos);
  w->OnClick = TNotifyEvent::Of<&TTestForm::OtherClick>(&form);
  EXPECT_NE(SaveComponent(&form).find("OtherClick"), std::string::npos);
}

TEST(ComponentStream, UnknownClassesPropertiesAndMethodsFailWithTheReadersErrors) {
  RegisterTestClasses();
  Bytes unknownClass;
  unknownClass.Text("TPF0").Str("TTestForm").Str("F").Raw({0x00}).Str("TMystery").Str("M").Raw({0, 0, 0, 0});
  try {
    LoadForm(unknownClass.data);
    FAIL() << "loaded an unknown class";
  } catch (const EClassNotFound& e) {
    EXPECT_EQ(e.Message(), "Class TMystery not found");
  }

  Bytes unknownProperty;
  unknownProperty.Text("TPF0").Str("TTestForm").Str("F").Raw({0x00});
  unknownProperty.Str("TTestWidget").Str("W").Str("Bogus").Raw({0x02, 0x01}).Str("Count").Raw({0x02, 0x09});
  unknownProperty.Raw({0, 0, 0});
  try {
    LoadForm(unknownProperty.data);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Error reading W.Bogus: Property Bogus does not exist");
  }

  // With an error handler that ignores errors, the property is skipped and reading goes on.
  struct Ignorer {
    std::vector<std::string> messages;
    void OnError(TReader*, const std::string& message, bool& handled) {
      messages.push_back(message);
      handled = true;
    }
  } ignorer;
  TTestForm form(nullptr);
  TStringStream stream(unknownProperty.data);
  TReader reader(stream);
  reader.OnError = decltype(reader.OnError)::Of<&Ignorer::OnError>(&ignorer);
  reader.ReadRootComponent(&form);
  auto* w = dynamic_cast<TTestWidget*>(form.FindComponent("W"));
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Count, 9);
  ASSERT_EQ(ignorer.messages.size(), 1u);

  Bytes unknownMethod;
  unknownMethod.Text("TPF0").Str("TTestForm").Str("F").Raw({0x00});
  unknownMethod.Str("TTestWidget").Str("W").Str("OnClick").Raw({0x07}).Str("Vanished").Raw({0, 0, 0});
  EXPECT_THROW(LoadForm(unknownMethod.data), EReadError);
  // A find-method hook may leave the event unassigned instead.
  struct Finder {
    void Find(TReader*, const std::string&, TMethodValue&, bool& error) { error = false; }
  } finder;
  TTestForm form2(nullptr);
  TStringStream stream2(unknownMethod.data);
  TReader reader2(stream2);
  reader2.OnFindMethod = decltype(reader2.OnFindMethod)::Of<&Finder::Find>(&finder);
  reader2.ReadRootComponent(&form2);
  auto* w2 = dynamic_cast<TTestWidget*>(form2.FindComponent("W"));
  ASSERT_NE(w2, nullptr);
  EXPECT_FALSE(w2->OnClick.Assigned());
}

TEST(ComponentStream, OtherEncodingsOfTheSameValuesLoad) {
  Bytes b;
  b.Text("TPF0").Str("TTestForm").Str("F").Raw({0x00});
  b.Str("TTestWidget").Str("W");
  b.Str("Count").Raw({0x04, 0x07, 0, 0, 0});                         // vaInt32 for a small value
  b.Str("Caption").Raw({0x14, 0x03, 0, 0, 0, 0xC3, 0xA9, 0x21});     // vaUTF8String "é!"
  b.Str("Title").Raw({0x0C, 0x02, 0, 0, 0, 0x80, 0x41});             // vaLString, ANSI € A
  b.Str("Ratio").Raw({0x15, 0, 0, 0, 0, 0, 0, 0x04, 0x40});          // vaDouble 2.5
  b.Str("Opacity").Raw({0x10, 0x88, 0x13, 0, 0, 0, 0, 0, 0});        // vaCurrency 0.5
  b.Str("Enabled").Raw({0x07}).Str("false");                          // identifier, any case
  b.Raw({0x00, 0x00});
  // An inherited component is found, not created; child position is accepted.
  b.Raw({0xF3, 0x02, 0x00}).Str("TTestWidget").Str("W").Str("Small").Raw({0x02, 0x05}).Raw({0x00, 0x00});
  b.Raw({0x00});
  std::unique_ptr<TTestForm> form = LoadForm(b.data);
  auto* w = dynamic_cast<TTestWidget*>(form->FindComponent("W"));
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(form->ComponentCount(), 1);
  EXPECT_EQ(w->Count, 7);
  EXPECT_EQ(w->Caption, "\xE9!");  // ANSI (Windows-1252)
  EXPECT_EQ(w->Title, u"\u20ACA");
  EXPECT_EQ(w->Ratio, 2.5);
  EXPECT_EQ(w->Opacity, 0.5f);
  EXPECT_FALSE(w->Enabled);
  EXPECT_EQ(w->Small, 5);

  Bytes missingAncestor;
  missingAncestor.Text("TPF0").Str("TTestForm").Str("F").Raw({0x00});
  missingAncestor.Raw({0xF1}).Str("TTestWidget").Str("Ghost").Raw({0, 0, 0});
  try {
    LoadForm(missingAncestor.data);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Ancestor for 'Ghost' not found");
  }
}

TEST(ComponentStream, ExtendedFloatsConvertExactly) {
  for (double value : {0.0, -0.0, 1.0, -2.5, 0.1, 1e300, -1e-300, 5e-324, 123456789.125}) {
    uint8_t bytes[10];
    DoubleToExtended(value, bytes);
    double back = ExtendedToDouble(bytes);
    EXPECT_EQ(std::memcmp(&back, &value, sizeof value), 0) << value;
  }
  const uint8_t one[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
  EXPECT_EQ(ExtendedToDouble(one), 1.0);
  const uint8_t minusTen[10] = {0, 0, 0, 0, 0, 0, 0, 0xA0, 0x02, 0xC0};
  EXPECT_EQ(ExtendedToDouble(minusTen), -10.0);
  uint8_t inf[10];
  DoubleToExtended(std::numeric_limits<double>::infinity(), inf);
  EXPECT_EQ(inf[9], 0x7F);
  EXPECT_EQ(inf[8], 0xFF);
}

TEST(ComponentStream, CorruptStreamsFailCleanly) {
  const std::string sample = SampleStream();
  // Every truncation fails with a filer error.
  for (size_t length = 0; length < sample.size(); ++length) {
    try {
      LoadForm(sample.substr(0, length));
      ADD_FAILURE() << "a stream cut at " << length << " loaded";
    } catch (const EFilerError&) {
    }
  }
  // Random corruption either loads or fails with a filer error; the sanitizers watch the rest.
  std::mt19937 random(1234);
  for (int round = 0; round < 4000; ++round) {
    std::string bytes = sample;
    int flips = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < flips; ++i) {
      size_t at = random() % bytes.size();
      if (random() % 2) bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8)));
      else bytes[at] = static_cast<char>(random());
    }
    try {
      LoadForm(bytes);
    } catch (const EFilerError&) {
    }
  }
}

TEST(ComponentStream, HostileSizesAndNestingAreRefusedBeforeAllocating) {
  Bytes hugeString;
  hugeString.Text("TPF0").Str("TTestForm").Str("F").Raw({0x00});
  hugeString.Str("TTestWidget").Str("W").Str("Caption").Raw({0x0C, 0xFF, 0xFF, 0xFF, 0x7F, 0x41});
  EXPECT_THROW(LoadForm(hugeString.data), EReadError);

  Bytes deepList;
  deepList.Text("TPF0").Str("TTestForm").Str("F").Raw({0x00});
  deepList.Str("TTestWidget").Str("W").Str("Unknown");
  deepList.data.append(100000, '\x01');
  // The unknown property is skipped by an ignoring handler, which must not recurse without end.
  struct Ignorer {
    void OnError(TReader*, const std::string&, bool& handled) { handled = true; }
  } ignorer;
  TTestForm form(nullptr);
  TStringStream stream(deepList.data);
  TReader reader(stream);
  reader.OnError = decltype(reader.OnError)::Of<&Ignorer::OnError>(&ignorer);
  EXPECT_THROW(reader.ReadRootComponent(&form), EReadError);

  Bytes deepComponents;
  deepComponents.Text("TPF0").Str("TTestForm").Str("F").Raw({0x00});
  for (int i = 0; i < 5000; ++i) deepComponents.Str("TTestWidget").Str("").Raw({0x00});
  EXPECT_THROW(LoadForm(deepComponents.data), EReadError);

  EXPECT_THROW(LoadForm("TPF1"), EReadError);
}
