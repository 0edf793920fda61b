// Form text: its exact layout, both conversions, byte-identical round trips over generated
// component trees, syntax errors and a bounded fuzz loop over both readers.
#include "classlib/FormText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "TestClasses.h"
#include "classlib/Filer.h"

namespace {

std::string ToText(const std::string& binary) {
  TStringStream in(binary), out;
  ObjectBinaryToText(in, out);
  return out.DataString();
}

std::string ToBinary(const std::string& text) {
  TStringStream in(text), out;
  ObjectTextToBinary(in, out);
  return out.DataString();
}

// A small form with one value of each text construct.
std::string SampleBinary() {
  Bytes b;
  b.Text("TPF0").Str("TTestForm").Str("Form1");
  b.Str("Tag").Raw({0x03, 0x2C, 0x01}).Raw({0x00});
  b.Str("TTestWidget").Str("Knob");
  b.Str("Small").Raw({0x02, 0xF6});
  b.Str("Big").Raw({0x13, 0, 0, 0, 0, 1, 0, 0, 0});
  b.Str("Enabled").Raw({0x08});
  b.Str("WideLetter").Raw({0x12, 0x01, 0, 0, 0, 0xAC, 0x20});
  b.Str("Color").Raw({0x07}).Str("tcBlue");
  b.Str("Colors").Raw({0x0B}).Str("tcRed").Str("tcBlack").Raw({0x00});
  b.Str("Opacity").Raw({0x0F, 0x00, 0x00, 0x00, 0x3F});
  b.Str("Ratio").Raw({0x05, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x3F});
  b.Str("Caption").Raw({0x06}).Str("it's\r\n");
  b.Str("Title").Raw({0x12, 0x02, 0, 0, 0, 0xAC, 0x20, 0x41, 0x00});
  b.Str("Lines.Strings").Raw({0x01, 0x06}).Str("a").Raw({0x06}).Str("").Raw({0x00});
  b.Str("Items").Raw({0x0E, 0x01}).Str("Value").Raw({0x02, 0x05}).Str("Link").Raw({0x07}).Str("Knob");
  b.Raw({0x00, 0x01, 0x00, 0x00});
  b.Str("OnClick").Raw({0x07}).Str("ButtonClick");
  b.Str("Blob").Raw({0x0A, 0x03, 0, 0, 0, 0x01, 0x00, 0xFF});
  b.Raw({0x00});
  b.Str("TTestWidget").Str("Inner").Str("Count").Raw({0x02, 0x01}).Raw({0x00, 0x00});
  b.Raw({0x00});
  b.Str("TTestWidget").Str("").Raw({0x00, 0x00});
  b.Raw({0x00});
  return b.data;
}

const char* const kSampleText =
    "object Form1: TTestForm\r\n"
    "  Tag = 300\r\n"
    "  object Knob: TTestWidget\r\n"
    "    Small = -10\r\n"
    "    Big = 4294967296\r\n"
    "    Enabled = False\r\n"
    "    WideLetter = #8364\r\n"
    "    Color = tcBlue\r\n"
    "    Colors = [tcRed, tcBlack]\r\n"
    "    Opacity = 0.5s\r\n"
    "    Ratio = 1.5\r\n"
    "    Caption = 'it'#39's'#13#10\r\n"
    "    Title = #8364'A'\r\n"
    "    Lines.Strings = (\r\n"
    "      'a'\r\n"
    "      '')\r\n"
    "    Items = <\r\n"
    "      item\r\n"
    "        Value = 5\r\n"
    "        Link = Knob\r\n"
    "      end\r\n"
    "      item\r\n"
    "      end>\r\n"
    "    OnClick = ButtonClick\r\n"
    "    Blob = {0100FF}\r\n"
    "    object Inner: TTestWidget\r\n"
    "      Count = 1\r\n"
    "    end\r\n"
    "  end\r\n"
    "  object TTestWidget\r\n"
    "  end\r\n"
    "end\r\n";

// --- Generated component trees

std::string RandomBytes(std::mt19937& random, size_t maxLength) {
  std::string s(random() % (maxLength + 1), '\0');
  for (char& c : s) {
    switch (random() % 4) {
      case 0: c = static_cast<char>(random()); break;          // anything, quotes and controls too
      case 1: c = '\''; break;
      default: c = static_cast<char>('a' + random() % 26); break;
    }
  }
  return s;
}

// Letters, any character, and characters from 128 to 255 (which an ANSI string holds too).
WideString RandomWide(std::mt19937& random, size_t maxLength) {
  WideString s(random() % (maxLength + 1), u'\0');
  for (char16_t& c : s) {
    switch (random() % 6) {
      case 0: c = static_cast<char16_t>(random()); break;
      case 1: c = static_cast<char16_t>(0x80 + random() % 0x80); break;
      default: c = static_cast<char16_t>(u'a' + random() % 26); break;
    }
  }
  return s;
}

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

double RandomFinite(std::mt19937_64& random) {
  for (;;) {
    uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (std::isfinite(d)) return d;
  }
}

std::unique_ptr<TTestForm> GenerateForm(uint32_t seed) {
  std::mt19937 random(seed);
  std::mt19937_64 random64(seed);
  auto form = std::make_unique<TTestForm>(nullptr);
  form->SetName("Form" + std::to_string(seed));
  form->SetTag(static_cast<int32_t>(random()));
  std::vector<TTestWidget*> widgets;
  int count = 1 + static_cast<int>(random() % 8);
  for (int i = 0; i < count; ++i) {
    auto* w = new TTestWidget(form.get());
    if (random() % 4) w->SetName("W" + std::to_string(i));
    if (!widgets.empty() && random() % 2) widgets[random() % widgets.size()]->AddChild(w);
    w->Count = static_cast<int32_t>(random()) >> (random() % 32);
    w->Small = static_cast<int8_t>(random());
    w->Word = static_cast<uint16_t>(random());
    w->Big = static_cast<int64_t>(random64()) >> (random() % 64);
    w->Enabled = random() % 2;
    w->Letter = static_cast<char>(random());
    w->WideLetter = static_cast<char16_t>(random());
    w->Color = static_cast<TTestColor>(random() % 4);
    w->Colors = TTestColors::FromBits(random() % 16);
    float single = static_cast<float>(RandomFinite(random64));
    w->Opacity = std::isfinite(single) ? single : 0.25f;
    w->Ratio = random() % 3 ? RandomFinite(random64) : static_cast<double>(random() % 100);
    w->Caption = RandomBytes(random, random() % 5 == 0 ? 400 : 20);
    w->Title = RandomWide(random, random() % 5 == 0 ? 300 : 10);
    w->GetPosition()->SetX(static_cast<float>(random() % 1000) / 8);
    for (int k = static_cast<int>(random() % 4); k > 0; --k) w->GetLines()->Add(RandomBytes(random, 10));
    for (int k = static_cast<int>(random() % 3); k > 0; --k) {
      auto* item = static_cast<TTestItem*>(w->GetItems()->Add());
      item->Caption = RandomBytes(random, 8);
      item->Value = static_cast<int32_t>(random() % 1000) - 500;
      if (!widgets.empty() && random() % 2) item->Link = widgets[random() % widgets.size()];
    }
    if (!widgets.empty() && random() % 2) w->SetBuddy(widgets[random() % widgets.size()]);
    if (random() % 2) w->OnClick = TNotifyEvent::Of<&TTestForm::ButtonClick>(form.get());
    if (random() % 3 == 0) w->OnValue = TMethod<void(TObject*, int32_t)>::Of<&TTestForm::ValueChanged>(form.get());
    w->Blob = RandomBytes(random, random() % 4 == 0 ? 100 : 5);
    w->SetDesignInfo(static_cast<int32_t>(random() % 3 == 0 ? random() : 0));
    widgets.push_back(w);
  }
  return form;
}

std::string Save(TComponent* root) {
  TStringStream stream;
  WriteComponentToStream(stream, root);
  return stream.DataString();
}

}  // namespace

TEST(FormText, BinaryToTextLaysOutEveryConstruct) {
  EXPECT_EQ(ToText(SampleBinary()), kSampleText);
}

TEST(FormText, TextToBinaryGivesTheSampleBack) {
  EXPECT_EQ(ToBinary(kSampleText), SampleBinary());
}

TEST(FormText, LongStringsBreakIntoContinuedLines) {
  Bytes b;
  std::string long1(100, 'x');
  b.Text("TPF0").Str("TTestWidget").Str("W").Str("Caption").Raw({0x06}).Str(long1).Raw({0x00, 0x00});
  std::string text = ToText(b.data);
  EXPECT_NE(text.find("Caption =\r\n    '" + std::string(64, 'x') + "' +\r\n    '" + std::string(36, 'x') + "'\r\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(ToBinary(text), b.data);
}

// One property of the widget "W" as text and its value bytes in the binary form.
struct TValueCase {
  const char* Text;
  std::initializer_list<int> Bytes;
};

std::string WidgetBinary(const std::string& property, std::initializer_list<int> value) {
  Bytes b;
  b.Text("TPF0").Str("TTestWidget").Str("W").Str(property).Raw(value);
  return b.Raw({0x00, 0x00}).data;
}

std::string WidgetText(const std::string& property, const std::string& value) {
  return "object W: TTestWidget\r\n  " + property + " = " + value + "\r\nend\r\n";
}

TEST(FormText, ValuesReadBackAsTheyWereWritten) {
  const TValueCase cases[] = {
      // Component references through frames: dotted identifiers, alone, in lists and in sets.
      {"Frame1.FrameButton", {0x07, 18, 'F', 'r', 'a', 'm', 'e', '1', '.', 'F', 'r', 'a', 'm', 'e', 'B', 'u', 't', 't', 'o', 'n'}},
      {"(\r\n    A.B\r\n    C)", {0x01, 0x07, 3, 'A', '.', 'B', 0x07, 1, 'C', 0x00}},
      {"[a.b, c]", {0x0B, 3, 'a', '.', 'b', 1, 'c', 0x00}},
      // Extended values below the normal range, infinities and NaNs, each kind keeping its bits.
      {"4.0e-4951", {0x05, 1, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00}},
      {"-inf", {0x05, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xFF}},
      {"-nan", {0x05, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0xFF}},
      {"+nan($C000000000000001)", {0x05, 1, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x7F}},
      {"+infs", {0x0F, 0x00, 0x00, 0x80, 0x7F}},
      {"-nans", {0x0F, 0x00, 0x00, 0xC0, 0xFF}},
      {"+nanx", {0x15, 0, 0, 0, 0, 0, 0, 0xF8, 0x7F}},
      {"-infd", {0x11, 0, 0, 0, 0, 0, 0, 0xF0, 0xFF}},
      {"1.0e-45s", {0x0F, 0x01, 0x00, 0x00, 0x00}},
      // Currency at both ends of its range.
      {"-922337203685477.5808c", {0x10, 0, 0, 0, 0, 0, 0, 0, 0x80}},
      {"922337203685477.5807c", {0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
      {"-0.0001c", {0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const TValueCase& c : cases) {
    std::string binary = WidgetBinary("Value", c.Bytes), text = WidgetText("Value", c.Text);
    EXPECT_EQ(ToText(binary), text);
    EXPECT_EQ(ToBinary(text), binary) << c.Text;
  }
  // Text written elsewhere: the smallest subnormal in full, an infinity as a list item.
  EXPECT_EQ(ToBinary(WidgetText("Value", "3.64519953188247460253E-4951")),
            WidgetBinary("Value", {0x05, 1, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00}));
  EXPECT_EQ(ToBinary(WidgetText("Value", "(+inf 1)")),
            WidgetBinary("Value", {0x01, 0x05, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x7F, 0x02, 0x01, 0x00}));
  // "inf" and "nan" without a sign stay identifiers.
  EXPECT_EQ(ToBinary(WidgetText("Value", "inf")), WidgetBinary("Value", {0x07, 3, 'i', 'n', 'f'}));
}

// The widget "W" with a string "Caption": ANSI (vaString) or wide (vaWString).
std::string AnsiValue(const std::string& s) {
  Bytes b;
  b.Text("TPF0").Str("TTestWidget").Str("W").Str("Caption").Raw({0x06}).Str(s);
  return b.Raw({0x00, 0x00}).data;
}

std::string WideValue(const std::u16string& s) {
  Bytes b;
  b.Text("TPF0").Str("TTestWidget").Str("W").Str("Caption").Raw({0x12});
  b.Raw({static_cast<int>(s.size()), 0, 0, 0});
  for (char16_t c : s) b.Raw({c & 0xFF, c >> 8});
  return b.Raw({0x00, 0x00}).data;
}

TEST(FormText, StringsBeyondAsciiAreWrittenAsCodesAndReadBackInTheirKind) {
  const struct {
    std::string binary;
    const char* text;
  } cases[] = {
      // ANSI strings: their bytes.
      {AnsiValue("caf\xE9"), "'caf'#233"},
      {AnsiValue("\x80 \xFF'"), "#128' '#255#39"},
      {AnsiValue("\x7F\x01"), "#127#1"},
      // Wide strings: code points, in hexadecimal from 128 to 255 when none lies above 255.
      {WideValue(u"caf\u00E9"), "'caf'#$E9"},
      {WideValue(u"\u0080\u00FF"), "#$80#$FF"},
      {WideValue(u"\u20AC\u00E9"), "#8364#233"},
      {WideValue(u"\u00E9\u0100"), "#233#256"},
  };
  for (const auto& c : cases) {
    const std::string text = WidgetText("Caption", c.text);
    EXPECT_EQ(ToText(c.binary), text);
    EXPECT_EQ(ToBinary(text), c.binary) << c.text;
  }
  // Text written by hand or by the older writer: raw bytes above 127 are ANSI characters, alone
  // or in a wide string; a decimal code up to 255 is an ANSI byte, a hexadecimal one from 128 a
  // wide character.
  const struct {
    const char* text;
    std::string binary;
  } older[] = {
      {"'caf\xE9'", AnsiValue("caf\xE9")},
      {"'\x80'#8364", WideValue(u"\u20AC\u20AC")},
      {"#233'a'", AnsiValue("\xE9" "a")},
      {"#$41#$e9", WideValue(u"A\u00E9")},
      {"#$0041", AnsiValue("A")},
  };
  for (const auto& c : older) EXPECT_EQ(ToBinary(WidgetText("Caption", c.text)), c.binary) << c.text;
}

TEST(FormText, ValuesOutOfRangeAreRefusedOnTheirOwnLine) {
  const struct {
    const char* Value;
    const char* Message;
  } cases[] = {
      {"922337203685477.5808c", "Line 2: Currency value out of range 922337203685477.5808"},
      {"-922337203685477.5809c", "Line 2: Currency value out of range -922337203685477.5809"},
      {"9999999999999999.0c", "Line 2: Currency value out of range 9999999999999999.0"},
      {"1.2e4933", "Line 2: Invalid float 1.2e4933"},
      {"3.5e38s", "Line 2: Invalid float 3.5e38"},
      {"-infc", "Line 2: Invalid currency value -inf"},
      {"+nan($10000000000000000)", "Line 2: Invalid float +nan($10000000000000000)"},
      {"-info", "Line 2: Invalid float -inf"},
      {"A.5", "Line 2: Identifier expected"},
  };
  for (const auto& c : cases) {
    try {
      ToBinary("object W: TTestWidget\n  Value = " + std::string(c.Value) + "\n\n  Count = 1\nend");
      ADD_FAILURE() << "accepted: " << c.Value;
    } catch (const EParserError& e) {
      EXPECT_EQ(e.Message(), c.Message) << c.Value;
    }
  }
}

TEST(FormText, BinaryWithoutAClassNameIsRefused) {
  // A flag prefix (inherited) followed by an empty class name.
  Bytes b;
  b.Text("TPF0").Raw({0xF1}).Str("").Str("F").Raw({0x00, 0x00});
  EXPECT_THROW(ToText(b.data), EReadError);
  TStringStream in(b.data);
  EXPECT_THROW(ReadComponentFromStream(in, nullptr), EReadError);
}

TEST(FormText, BinaryTextBinaryIsByteIdenticalOverGeneratedTrees) {
  RegisterTestClasses();
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    std::unique_ptr<TTestForm> form = GenerateForm(seed);
    std::string binary = Save(form.get());
    std::string text = ToText(binary);
    // No line ends in a blank and none holds blanks only; whatever the strings hold, the text is
    // ASCII.
    EXPECT_EQ(text.find(" \r\n"), std::string::npos) << text;
    EXPECT_TRUE(IsAscii(text)) << text;
    std::string again = ToBinary(text);
    ASSERT_EQ(again, binary) << "seed " << seed << "\n" << text;
    EXPECT_EQ(ToText(again), text);
    // The text also loads into an equal tree.
    TStringStream in(again);
    std::unique_ptr<TComponent> loaded(ReadComponentFromStream(in, nullptr));
    ASSERT_EQ(Save(loaded.get()), binary) << "seed " << seed;
  }
}

TEST(FormText, HandWrittenTextWithTheWholeSyntax) {
  RegisterTestClasses();
  const char* text =
      "\xEF\xBB\xBF  OBJECT Form1 : TTestForm\n"
      "  object Knob: TTestWidget\n"
      "    Count = $10\n"
      "    Caption = 'a''b' + #$41 +\n"
      "      'c'#9\n"
      "    Ratio = -2.5E2\n"
      "    Opacity = 1.25S\n"
      "    Colors = []\n"
      "    Position.Point = '(3,4)'\n"
      "    Items = <item [0] Caption = 'first' end>\n"
      "    Blob = {\n"
      "      01 02\n"
      "      0a}\n"
      "  END\n"
      "  inherited Knob: TTestWidget [0]\n"
      "    Small = 3\n"
      "  end\n"
      "end";
  TTestForm form(nullptr);
  auto* knob = new TTestWidget(&form);
  knob->SetName("Stale");
  std::unique_ptr<TComponent> loaded(TextToComponent(text, nullptr));
  auto* f = dynamic_cast<TTestForm*>(loaded.get());
  ASSERT_NE(f, nullptr);
  auto* w = dynamic_cast<TTestWidget*>(f->FindComponent("Knob"));
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Count, 16);
  EXPECT_EQ(w->Caption, "a'bAc\t");
  EXPECT_EQ(w->Ratio, -250.0);
  EXPECT_EQ(w->Opacity, 1.25f);
  EXPECT_EQ(w->GetPosition()->GetY(), 4.0f);
  ASSERT_EQ(w->GetItems()->Count(), 1);
  EXPECT_EQ(static_cast<TTestItem*>(w->GetItems()->GetItem(0))->Caption, "first");
  EXPECT_EQ(w->Blob, "\x01\x02\x0A");
  EXPECT_EQ(w->Small, 3);  // the inherited block found the same component
  EXPECT_EQ(f->ComponentCount(), 1);

  TStringStream textStream(text), binaryStream(Save(f)), other("hello");
  EXPECT_EQ(TestStreamFormat(textStream), sofText);
  EXPECT_EQ(TestStreamFormat(binaryStream), sofBinary);
  EXPECT_EQ(TestStreamFormat(other), sofUnknown);
  EXPECT_EQ(textStream.GetPosition(), 0);
  EXPECT_EQ(ComponentToText(f).substr(0, 24), "object Form1: TTestForm\r");
}

TEST(FormText, SyntaxErrorsNameTheLine) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"object A: TTestWidget\n  Count = )\nend", "Line 2: Invalid property value"},
      {"object A: TTestWidget\n  Caption = 'open\nend", "Line 2: Unterminated string"},
      {"object A: TTestWidget\n  Blob = {123}\nend", "Line 2: Odd number of hexadecimal digits"},
      {"object A: TTestWidget\n", "Line 2: 'end' expected"},
      {"thing A: TTestWidget end", "Line 1: 'object' expected"},
      {"object A: TTestWidget\n Count = 1.5q\nend", "Line 3: '=' expected"},
      {"object A: TTestWidget end end", "Line 1: Text after the last end"},
      {"object A: TTestWidget\n Caption = #70000\nend", "Line 2: Invalid character code"},
  };
  for (const Case& c : cases) {
    try {
      ToBinary(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const EParserError& e) {
      EXPECT_EQ(e.Message(), c.message) << c.text;
    }
  }
  std::string deep = "object A: TTestWidget\n Lines.Strings = " + std::string(1000, '(') + "\nend";
  EXPECT_THROW(ToBinary(deep), EParserError);
}

TEST(FormText, FuzzedInputFailsCleanly) {
  RegisterTestClasses();
  std::mt19937 random(99);
  const std::string text = kSampleText;
  const std::string binary = SampleBinary();
  for (int round = 0; round < 3000; ++round) {
    std::string mutated = text;
    int edits = 1 + static_cast<int>(random() % 3);
    for (int i = 0; i < edits; ++i) {
      size_t at = random() % mutated.size();
      switch (random() % 3) {
        case 0: mutated[at] = static_cast<char>(random()); break;
        case 1: {
          std::string head = mutated.substr(0, at);
          mutated = head.append(mutated, std::min(mutated.size(), at + 1 + random() % 8), std::string::npos);
          break;
        }
        default: {
          std::string head = mutated.substr(0, at);
          head.push_back("'#{}<>()[]=+.$-"[random() % 15]);
          mutated = head.append(mutated, at, std::string::npos);
          break;
        }
      }
      if (mutated.empty()) mutated.assign(1, 'x');
    }
    try {
      std::string converted = ToBinary(mutated);
      TStringStream in(converted);
      std::unique_ptr<TComponent> loaded(ReadComponentFromStream(in, nullptr));
    } catch (const EFilerError&) {
    }
    std::string mutatedBinary = binary;
    mutatedBinary[random() % mutatedBinary.size()] = static_cast<char>(random());
    try {
      ToText(mutatedBinary);
    } catch (const EFilerError&) {
    }
  }
  for (size_t length = 0; length < binary.size(); ++length) EXPECT_THROW(ToText(binary.substr(0, length)), EFilerError);
}
