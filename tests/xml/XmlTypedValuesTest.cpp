// Tests of the XML typed values: booleans, numbers, floats, dates, colours, binary data, subtrees.
#include "xml/XmlTypedValues.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "classlib/Graphics.h"
#include "classlib/SysUtils.h"
#include "xml/XmlDocument.h"
#include "xml/XmlPlatform_p.h"
#include "xml/XmlText.h"

TEST(XmlFloatText, Examples) {
  EXPECT_EQ(FloatToXmlText(1.5, 6, true), "1.5");
  EXPECT_EQ(FloatToXmlText(1500, 6, true), "1500");
  EXPECT_EQ(FloatToXmlText(0.001, 6, true), "1E-3");
  EXPECT_EQ(FloatToXmlText(0.01, 6, true), "0.01");
  EXPECT_EQ(FloatToXmlText(1.5e9, 6, true), "1.50000E9");
  EXPECT_EQ(FloatToXmlText(1.5e9, 6, false), "1500000000");
  EXPECT_EQ(FloatToXmlText(0.001, 6, false), "0.001");
  EXPECT_EQ(FloatToXmlText(0, 6, true), "0");
  EXPECT_EQ(FloatToXmlText(-2.25, 6, true), "-2.25");
  EXPECT_EQ(FloatToXmlText(1.0 / 3, 3, true), "0.333");
  EXPECT_EQ(FloatToXmlText(9.9999999, 6, true), "10");
  EXPECT_EQ(FloatToXmlText(123456789, 9, true), "123456789");
  EXPECT_EQ(FloatToXmlText(0.0123, 6, false), "0.0123");
}

TEST(XmlFloatText, NonFiniteAndExtremeValues) {
  EXPECT_EQ(FloatToXmlText(std::numeric_limits<double>::infinity(), 6, true), "INF");
  EXPECT_EQ(FloatToXmlText(-std::numeric_limits<double>::infinity(), 6, true), "-INF");
  EXPECT_EQ(FloatToXmlText(std::nan(""), 6, true), "NaN");
  EXPECT_EQ(FloatToXmlText(std::numeric_limits<double>::denorm_min(), 3, true), "4.94E-324");
  EXPECT_EQ(FloatToXmlText(std::numeric_limits<double>::max(), 3, true), "1.80E308");
  for (int32_t bad : {0, 10, -1}) {
    try {
      FloatToXmlText(1, bad, true);
      FAIL();
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "Significant digits out of range");
    }
  }
  double v = 0;
  ASSERT_TRUE(XmlTextToFloat("INF", v));
  EXPECT_TRUE(std::isinf(v));
  ASSERT_TRUE(XmlTextToFloat("NaN", v));
  EXPECT_TRUE(std::isnan(v));
  ASSERT_TRUE(XmlTextToFloat("1,25", v));
  EXPECT_EQ(v, 1.25);
  EXPECT_FALSE(XmlTextToFloat("1x", v));
}

TEST(XmlBool, TextToBool) {
  for (const char* t : {"1", "true", "T", "yes", "Y"}) EXPECT_TRUE(TextToBool(t)) << t;
  for (const char* f : {"0", "false", "F", "no", "N"}) EXPECT_FALSE(TextToBool(f)) << f;
  for (const char* bad : {"", "maybe", "2"}) {
    try {
      TextToBool(bad);
      FAIL() << bad;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "Cannot convert value to bool");
    }
  }
}

TEST(XmlTypedValues, BoolsAttributesAndChildren) {
  TXmlDocument doc("r");
  TXmlNode* r = doc.Root();
  doc.WriteDefaults = false;
  r->WriteAttributeBool("a", false, false);
  EXPECT_FALSE(r->AttributeExists("a"));
  doc.WriteDefaults = true;
  r->WriteAttributeBool("a", false, false);
  r->WriteAttributeBool("b", true, false);
  EXPECT_EQ(r->AttributeByName("a"), "false");
  EXPECT_EQ(r->AttributeByName("b"), "true");
  // With WriteDefaults off an existing attribute is still rewritten, in place.
  doc.WriteDefaults = false;
  r->WriteAttributeBool("a", true, true);
  EXPECT_EQ(r->AttributeText(0), "a=\"true\"");
  r->AttributeAdd("m", "maybe");
  EXPECT_TRUE(r->ReadAttributeBool("m", true));
  EXPECT_FALSE(r->ReadAttributeBool("m", false));
  EXPECT_TRUE(r->ReadAttributeBool("b", false));
  EXPECT_TRUE(r->ReadAttributeBool("missing", true));

  doc.WriteDefaults = true;
  r->WriteBool("flag", true);
  EXPECT_EQ(r->NodeByName("flag")->Value(), "True");
  EXPECT_TRUE(r->ReadBool("flag", false));
  r->WriteString("y", "yes");
  EXPECT_TRUE(r->NodeByName("y")->ValueAsBoolDef(false));
  r->WriteString("z", "0");
  EXPECT_TRUE(r->NodeByName("z")->ValueAsBoolDef(true));
  EXPECT_FALSE(r->NodeByName("z")->ValueAsBoolDef(false));
}

TEST(XmlTypedValues, Numbers) {
  TXmlDocument doc("r");
  TXmlNode* r = doc.Root();
  r->WriteAttributeInteger("i", -42);
  r->WriteAttributeInt64("l", 1234567890123LL);
  r->AttributeAdd("h", "$FF");
  r->AttributeAdd("bad", "12x");
  EXPECT_EQ(r->ReadAttributeInteger("i", 0), -42);
  EXPECT_EQ(r->ReadAttributeInt64("l", 0), 1234567890123LL);
  EXPECT_EQ(r->ReadAttributeInteger("h", 0), 255);
  EXPECT_EQ(r->ReadAttributeInteger("bad", 7), 7);
  EXPECT_EQ(r->ReadAttributeString("missing", "dflt"), "dflt");
  r->WriteInteger("n", 17);
  r->WriteInt64("big", -9000000000LL);
  r->WriteFloat("f", 2.5);
  r->WriteString("comma", "3,75");
  EXPECT_EQ(r->ReadInteger("n", 0), 17);
  EXPECT_EQ(r->ReadInt64("big", 0), -9000000000LL);
  EXPECT_EQ(r->ReadFloat("f", 0), 2.5);
  EXPECT_EQ(r->ReadFloat("comma", 0), 3.75);
  EXPECT_EQ(r->ReadFloat("n", 0), 17);
  r->WriteString("junk", "abc");
  EXPECT_EQ(r->ReadFloat("junk", 9), 9);
  EXPECT_EQ(r->ReadInteger("junk", 9), 9);
  doc.FloatDigits = 3;
  r->WriteAttributeFloat("pi", 3.14159);
  EXPECT_EQ(r->AttributeByName("pi"), "3.14");
  r->WriteFloat("inf", std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isinf(r->ReadFloat("inf", 0)));
}

TEST(XmlTypedValues, ColoursAndHex) {
  TXmlDocument doc("r");
  TXmlNode* r = doc.Root();
  r->WriteColor("red", 0xFF);
  EXPECT_EQ(r->NodeByName("red")->Value(), "$000000FF");
  EXPECT_EQ(r->ReadColor("red", 0), 0xFF);
  r->WriteHex("h", 0xABC, 4);
  EXPECT_EQ(r->NodeByName("h")->Value(), "$0ABC");
  EXPECT_EQ(r->ReadColor("missing", 5), 5);
  r->WriteString("bad", "red");
  EXPECT_THROW(r->ReadColor("bad", 0), EConvertError);
  doc.WriteDefaults = false;
  r->WriteColor("skip", 0, 0);
  EXPECT_EQ(r->NodeByName("skip"), nullptr);
}

TEST(XmlTypedValues, StringsAndWideStrings) {
  TXmlDocument doc("r");
  TXmlNode* r = doc.Root();
  r->WriteString("s", " a < b ");
  EXPECT_EQ(r->NodeByName("s")->Value(), " a &lt; b ");
  EXPECT_EQ(r->ReadString("s"), "a < b");  // element values read trimmed
  EXPECT_EQ(r->ReadString("none", "d"), "d");
  r->WriteWidestring("w", u"\u00E9\U0001F600");
  EXPECT_EQ(r->ReadWidestring("w"), u"\u00E9\U0001F600");
  EXPECT_EQ(r->ReadWidestring("none", u"\u20AC"), u"\u20AC");
  doc.WriteDefaults = false;
  r->WriteString("skip", "x", "x");
  EXPECT_EQ(r->NodeByName("skip"), nullptr);
}

TEST(XmlTypedValues, DatesWithoutBias) {
  TXmlDocument doc("r");
  TXmlNode* r = doc.Root();
  TDateTime midnight, time, stamp;
  ASSERT_TRUE(TryEncodeDate(2024, 2, 29, midnight));
  ASSERT_TRUE(TryEncodeTime(13, 5, 9, 42, time));
  stamp = midnight + time;
  r->WriteDateTime("d", midnight);
  EXPECT_EQ(r->NodeByName("d")->Value(), "2024-02-29");
  r->WriteAttributeDateTime("t", stamp);
  EXPECT_EQ(r->AttributeByName("t"), "2024-02-29T13:05:09.042Z");
  EXPECT_NEAR(r->ReadAttributeDateTime("t", 0), stamp, 1e-9);
  EXPECT_EQ(r->ReadDateTime("d", 0), midnight);
  r->AttributeAdd("bad", "2024-13-01");
  EXPECT_EQ(r->ReadAttributeDateTime("bad", 5), 5);
  r->WriteString("junk", "soon");
  EXPECT_EQ(r->ReadDateTime("junk", 6), 6);
  EXPECT_EQ(r->NodeByName("junk")->ValueAsDateTimeDef(7), 7);
  // Unreadable seconds and milliseconds count as zero; an offset is ignored without the bias.
  TDateTime value;
  ASSERT_TRUE(IsoTextToDateTime("2024-02-29T13:05:xx.yyy+05:00", false, value));
  EXPECT_NEAR(value, midnight + (13 * 60 + 5) / 1440.0, 1e-9);
  EXPECT_FALSE(IsoTextToDateTime("2024-02-29T1", false, value) && false);
}

TEST(XmlTypedValues, DatesWithLocalTimeBias) {
  TDateTime date, time;
  ASSERT_TRUE(TryEncodeDate(2023, 6, 1, date));
  ASSERT_TRUE(TryEncodeTime(10, 30, 0, 0, time));
  const int32_t bias = XmlLocalTimeBias();
  std::string text = DateTimeToIsoText(date + time, true);
  if (bias == 0) {
    EXPECT_EQ(text, "2023-06-01T10:30:00.000Z");
  } else {
    ASSERT_EQ(text.size(), 29u);
    int32_t magnitude = bias < 0 ? -bias : bias;
    char expected[16];
    std::snprintf(expected, sizeof expected, "%c%.2d:%.2d", bias < 0 ? '+' : '-', magnitude / 60, magnitude % 60);
    EXPECT_EQ(text.substr(23), expected);
  }
  TDateTime back;
  ASSERT_TRUE(IsoTextToDateTime(text, true, back));
  EXPECT_NEAR(back, date + time, 1e-9);
  // A time written two hours east of Greenwich is 08:30 UTC, then moved into local time.
  ASSERT_TRUE(IsoTextToDateTime("2023-06-01T10:30:00.000+02:00", true, back));
  EXPECT_NEAR(back, date + (8 * 60 + 30 - bias) / 1440.0, 1e-9);
}

TEST(XmlTypedValues, BinaryData) {
  TXmlDocument doc("r");
  std::string data(100, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 37);
  TXmlNode* node = doc.Root()->NodeNew("bin");
  node->BinaryEncode(data.data(), data.size());
  EXPECT_EQ(node->Value().find('\n'), std::string::npos);  // compact format: one line
  EXPECT_EQ(node->BinaryDecodedSize(), 100u);
  std::string back(100, '\0');
  node->BinaryDecode(back.data(), back.size());
  EXPECT_EQ(back, data);
  // Indented: lines of 76 characters after a line break and the node's indentation.
  doc.XmlFormat = 0;
  node->BinaryEncode(data.data(), data.size());
  EXPECT_EQ(node->Value().substr(0, 4), "\r\n  ");
  EXPECT_EQ(node->Value().find("\r\n  ", 4), 80u);
  node->BinaryDecode(back.data(), back.size());
  EXPECT_EQ(back, data);
  std::string more(101, '\0');
  EXPECT_THROW(node->BinaryDecode(more.data(), more.size()), EFilerError);
  doc.BinaryCoding = 0;
  node->BinaryEncode(data.data(), 3);
  EXPECT_EQ(StripBlanks(node->Value()), EncodeHex(data.data(), 3));
  EXPECT_EQ(node->BinaryDecodedSize(), 3u);
  node->SetValue("ABC");
  try {
    node->BinaryDecodedSize();
    FAIL();
  } catch (const EFilerError& e) {
    EXPECT_EQ(e.Message(), "Error while calculating streamlength");
  }
  doc.BinaryCoding = 1;
  node->SetValue("Zm9vYg==");
  EXPECT_EQ(node->BinaryDecodedSize(), 4u);
  node->SetValue("Zm9vYg=");
  EXPECT_THROW(node->BinaryDecodedSize(), EFilerError);
}

TEST(XmlTypedValues, FontPenBrushSubtrees) {
  TXmlDocument doc("r");
  TXmlNode* r = doc.Root();
  TFont font;
  font.SetName("Tahoma");
  font.SetColor(0x123456);
  font.SetSize(9);
  font.SetStyle({fsBold, fsStrikeOut});
  r->WriteFont("font", font);
  TXmlNode* written = r->NodeByName("font");
  EXPECT_EQ(written->ReadString("Color", ""), "$00123456");
  EXPECT_EQ(written->ReadString("Size", ""), "9");
  EXPECT_EQ(written->ReadString("Bold", ""), "True");
  EXPECT_EQ(written->ReadString("Italic", ""), "False");
  TFont fontBack;
  r->ReadFont("font", fontBack);
  EXPECT_EQ(fontBack.GetName(), "Tahoma");
  EXPECT_EQ(fontBack.GetColor(), 0x123456);
  EXPECT_EQ(fontBack.GetSize(), 9);
  EXPECT_TRUE(fontBack.GetStyle() == TFontStyles({fsBold, fsStrikeOut}));
  r->ReadFont("nofont", fontBack);
  EXPECT_EQ(fontBack.GetName(), "Arial");
  EXPECT_EQ(fontBack.GetColor(), 0);
  EXPECT_EQ(fontBack.GetSize(), 14);
  EXPECT_TRUE(fontBack.GetStyle().Empty());

  // Values equal to the defaults are left out and must read back as written.
  doc.WriteDefaults = false;
  TPen pen;
  pen.SetColor(0);
  pen.SetMode(pmBlack);
  pen.SetWidth(0);
  pen.SetStyle(psDot);
  r->WritePen("pen", pen);
  TPen penBack;
  r->ReadPen("pen", penBack);
  EXPECT_EQ(penBack.GetMode(), pmBlack);
  EXPECT_EQ(penBack.GetWidth(), 0);
  EXPECT_EQ(penBack.GetStyle(), psDot);
  EXPECT_EQ(penBack.GetColor(), 0);
  TPen defaultPen;
  r->WritePen("dpen", defaultPen);
  EXPECT_EQ(r->NodeByName("dpen")->GetNodeCount(), 0);
  r->ReadPen("dpen", penBack);
  EXPECT_EQ(penBack.GetMode(), pmCopy);
  EXPECT_EQ(penBack.GetWidth(), 1);
  r->NodeByName("dpen")->WriteInteger("Style", 99);
  EXPECT_THROW(r->ReadPen("dpen", penBack), EConvertError);

  TBrush brush;
  brush.SetColor(0);
  brush.SetStyle(bsClear);
  r->WriteBrush("brush", brush);
  TBrush brushBack;
  r->ReadBrush("brush", brushBack);
  EXPECT_EQ(brushBack.GetColor(), 0);
  EXPECT_EQ(brushBack.GetStyle(), bsClear);
  r->ReadBrush("nobrush", brushBack);
  EXPECT_EQ(brushBack.GetColor(), 0xFFFFFF);
}
