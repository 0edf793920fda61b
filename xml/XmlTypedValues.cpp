// Typed reading and writing of attribute, child and own values of XML nodes, and the text forms of
// floats, date-times and booleans.
#include "XmlTypedValues.h"

#include <cmath>
#include <cstdio>

#include "XmlDocument.h"
#include "XmlPlatform_p.h"
#include "XmlText.h"
#include "classlib/Graphics.h"
#include "classlib/SysUtils.h"

// --- Text forms

std::string FloatToXmlText(double value, int32_t digits, bool allowExponent) {
  if (digits < 1 || digits > 9) throw Exception("Significant digits out of range");
  // Non-finite values never reach the scaling loops below, which would not end for them.
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";
  std::string result;
  if (value < 0) {
    result = "-";
    value = -value;
  }
  // Scale into [10^(digits-1), 10^digits) and count the decimal exponent as we go.
  const double limit = std::pow(10.0, digits);
  int32_t e = digits;
  while (value < limit / 10) {
    value *= 10;
    --e;
  }
  while (value >= limit) {
    value /= 10;
    ++e;
  }
  int64_t m = Round(value);
  if (static_cast<double>(m) >= limit) {
    m /= 10;
    ++e;
  }
  while (m % 10 == 0 && e < digits) {
    m /= 10;
    --digits;
  }
  int32_t exponent = 0;
  if (allowExponent && (e < -1 || e > digits + 2)) {
    exponent = e - 1;
    e = 1;
  }
  std::string text = std::to_string(m);
  while (static_cast<int32_t>(text.size()) < e) text += '0';
  std::string leading;
  if (e < 0) {
    leading.assign(static_cast<size_t>(-e), '0');
    e = 0;
  }
  text = leading.append(text);
  if (e == 0) {
    result.append("0.").append(text);
  } else if (digits > e) {
    result.append(text, 0, static_cast<size_t>(e)).append(1, '.').append(text, static_cast<size_t>(e));
  } else {
    result.append(text);
  }
  if (exponent != 0) result.append(1, 'E').append(std::to_string(exponent));
  return result;
}

bool XmlTextToFloat(const std::string& text, double& value) {
  return TryStrToFloatDot(ReplaceText(text, ",", "."), value);
}

std::string DateTimeToIsoText(TDateTime value, bool localTimeBias) {
  int year, month, day, hour, minute, second, msec;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, second, msec);
  char buffer[64];
  if (hour == 0 && minute == 0 && second == 0 && msec == 0) {
    std::snprintf(buffer, sizeof buffer, "%.4d-%.2d-%.2d", year, month, day);
    return buffer;
  }
  int32_t bias = localTimeBias ? XmlLocalTimeBias() : 0;
  if (bias != 0) {
    int32_t magnitude = bias < 0 ? -bias : bias;
    std::snprintf(buffer, sizeof buffer, "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3d%s%.2d:%.2d", year,
                  month, day, hour, minute, second, msec, bias < 1 ? "+" : "-", magnitude / 60,
                  magnitude % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3dZ", year, month, day,
                  hour, minute, second, msec);
  }
  return buffer;
}

namespace {

// The number in characters first..first+count-1 (1-based); false when they are not all digits.
bool DigitsAt(const std::string& text, size_t first, size_t count, int& value) {
  if (first == 0 || first - 1 + count > text.size()) return false;
  value = 0;
  for (size_t i = first - 1; i < first - 1 + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

bool IsoTextToDateTime(const std::string& text, bool localTimeBias, TDateTime& value) {
  int year, month, day;
  if (!DigitsAt(text, 1, 4, year) || !DigitsAt(text, 6, 2, month) || !DigitsAt(text, 9, 2, day))
    return false;
  TDateTime date;
  if (!TryEncodeDate(year, month, day, date)) return false;
  if (text.size() < 17) {
    value = date;
    return true;
  }
  int hour = 0, minute = 0, second = 0, msec = 0;
  if (!DigitsAt(text, 12, 2, hour) || !DigitsAt(text, 15, 2, minute)) return false;
  if (!DigitsAt(text, 18, 2, second)) second = 0;
  if (!DigitsAt(text, 21, 3, msec)) msec = 0;
  TDateTime time;
  if (!TryEncodeTime(hour, minute, second, msec, time)) return false;
  value = ComposeDateTime(date, time);
  if (localTimeBias && text.size() > 24) {
    int offsetHours = 0, offsetMinutes = 0;
    if (DigitsAt(text, 25, 2, offsetHours) && DigitsAt(text, 28, 2, offsetMinutes)) {
      double offset = (offsetHours * 60 + offsetMinutes) / 1440.0;
      // The written time is local to the writer: back to UTC, then into our local time.
      value += text[23] == '+' ? -offset : offset;
      value -= XmlLocalTimeBias() / 1440.0;
    }
  }
  return true;
}

bool TextToBool(const std::string& text) {
  if (!text.empty()) {
    switch (text[0]) {
      case '1': case 'T': case 't': case 'Y': case 'y': return true;
      case '0': case 'F': case 'f': case 'N': case 'n': return false;
      default: break;
    }
  }
  throw Exception("Cannot convert value to bool");
}

// --- TXmlNode: helpers

bool TXmlNode::WritesDefaults() const { return !document_ || document_->WriteDefaults; }

uint8_t TXmlNode::BinaryCoding() const { return document_ ? document_->BinaryCoding : 0; }

namespace {

bool LocalBias(const TXmlDocument* document) { return document && document->LocalTimeBias; }

// Attribute writers leave out a default value unless the attribute is there already.
void WriteAttributeText(TXmlNode* node, bool writesDefaults, const std::string& name,
                        const std::string& text, bool isDefault) {
  if (!writesDefaults && isDefault && !node->AttributeExists(name)) return;
  node->SetAttributeByName(name, text);
}

int32_t FloatDigitsOf(const TXmlDocument* document) { return document ? document->FloatDigits : 6; }
bool AllowExponentOf(const TXmlDocument* document) { return !document || document->FloatAllowExponent; }

}  // namespace

// --- Binary data

void TXmlNode::BinaryEncode(const void* buffer, size_t count) {
  std::string text = BinaryCoding() == 0 ? EncodeHex(buffer, count) : EncodeBase64(buffer, count);
  Changed();
  value_ = WrapLines(text, 76, LineBreak() + Indent());
}

void TXmlNode::BinaryDecode(void* buffer, size_t count) const {
  std::string text = StripBlanks(value_);
  if (BinaryCoding() == 0) {
    DecodeHex(text, buffer, count);
  } else {
    DecodeBase64(text, buffer, count);
  }
}

size_t TXmlNode::BinaryDecodedSize() const {
  std::string text = StripBlanks(value_);
  switch (BinaryCoding()) {
    case 0:
      if (text.size() % 2 != 0) throw EFilerError("Error while calculating streamlength");
      return text.size() / 2;
    case 1: {
      if (text.size() % 4 != 0) throw EFilerError("Error while calculating streamlength");
      size_t size = text.size() / 4 * 3;
      for (size_t i = 0; i < 2 && i < text.size() && text[text.size() - 1 - i] == '='; ++i) --size;
      return size;
    }
    default:
      return 0;
  }
}

// --- Own value

bool TXmlNode::ValueAsBoolDef(bool fallback) const {
  std::string text = ValueAsString();
  if (text.empty()) return fallback;
  switch (text[0]) {
    case 'T': case 't': case 'Y': case 'y': return true;
    case 'F': case 'f': case 'N': case 'n': return false;
    default: return fallback;
  }
}

TDateTime TXmlNode::ValueAsDateTimeDef(TDateTime fallback) const {
  TDateTime value;
  return IsoTextToDateTime(ValueAsString(), LocalBias(document_), value) ? value : fallback;
}

double TXmlNode::ValueAsFloatDef(double fallback) const {
  double value;
  return XmlTextToFloat(ValueAsString(), value) ? value : fallback;
}

int64_t TXmlNode::ValueAsInt64Def(int64_t fallback) const {
  return StrToInt64Def(ValueAsString(), fallback);
}

int32_t TXmlNode::ValueAsIntegerDef(int32_t fallback) const {
  return StrToIntDef(ValueAsString(), fallback);
}

// --- Attribute readers

bool TXmlNode::ReadAttributeBool(const std::string& name, bool fallback) const {
  if (!AttributeExists(name)) return fallback;
  try {
    return TextToBool(AttributeByName(name));
  } catch (const Exception&) {
    return fallback;
  }
}

TDateTime TXmlNode::ReadAttributeDateTime(const std::string& name, TDateTime fallback) const {
  TDateTime value;
  if (!AttributeExists(name) ||
      !IsoTextToDateTime(AttributeByName(name), LocalBias(document_), value))
    return fallback;
  return value;
}

int32_t TXmlNode::ReadAttributeInteger(const std::string& name, int32_t fallback) const {
  return StrToIntDef(AttributeByName(name), fallback);
}

int64_t TXmlNode::ReadAttributeInt64(const std::string& name, int64_t fallback) const {
  return StrToInt64Def(AttributeByName(name), fallback);
}

double TXmlNode::ReadAttributeFloat(const std::string& name, double fallback) const {
  double value;
  return XmlTextToFloat(AttributeByName(name), value) ? value : fallback;
}

std::string TXmlNode::ReadAttributeString(const std::string& name, const std::string& fallback) const {
  std::string value = AttributeByName(name);
  return value.empty() ? fallback : value;
}

// --- Child readers

bool TXmlNode::ReadBool(const std::string& name, bool fallback) const {
  TXmlNode* child = NodeByName(name);
  return child ? child->ValueAsBoolDef(fallback) : fallback;
}

TColor TXmlNode::ReadColor(const std::string& name, TColor fallback) const {
  TXmlNode* child = NodeByName(name);
  return child ? StrToInt(child->ValueAsString()) : fallback;
}

TDateTime TXmlNode::ReadDateTime(const std::string& name, TDateTime fallback) const {
  TDateTime value;
  if (!NodeByName(name) || !IsoTextToDateTime(ReadString(name), LocalBias(document_), value))
    return fallback;
  return value;
}

double TXmlNode::ReadFloat(const std::string& name, double fallback) const {
  TXmlNode* child = NodeByName(name);
  return child ? child->ValueAsFloatDef(fallback) : fallback;
}

int64_t TXmlNode::ReadInt64(const std::string& name, int64_t fallback) const {
  TXmlNode* child = NodeByName(name);
  return child ? child->ValueAsInt64Def(fallback) : fallback;
}

int32_t TXmlNode::ReadInteger(const std::string& name, int32_t fallback) const {
  TXmlNode* child = NodeByName(name);
  return child ? child->ValueAsIntegerDef(fallback) : fallback;
}

std::string TXmlNode::ReadString(const std::string& name, const std::string& fallback) const {
  TXmlNode* child = NodeByName(name);
  return child ? child->ValueAsString() : fallback;
}

WideString TXmlNode::ReadWidestring(const std::string& name, const WideString& fallback) const {
  return sdUtf8ToWide(ReadString(name, sdWideToUtf8(fallback)));
}

namespace {

// The enumeration value of a stored ordinal; EConvertError when the enumeration has no such value.
template <typename E>
E OrdinalAs(int32_t value) {
  const TTypeInfo* info = KblTypeInfoOf(static_cast<E*>(nullptr));
  if (value < 0 || value > info->MaxValue)
    throw EConvertError("'" + IntToStr(value) + "' is not a valid " + info->Name);
  return static_cast<E>(value);
}

// The values of a group node that may be missing: each read answers its fallback without one.
struct TOptionalGroup {
  const TXmlNode* node;
  bool Bool(const std::string& name, bool fallback) const { return node ? node->ReadBool(name, fallback) : fallback; }
  TColor Color(const std::string& name, TColor fallback) const {
    return node ? node->ReadColor(name, fallback) : fallback;
  }
  int32_t Integer(const std::string& name, int32_t fallback) const {
    return node ? node->ReadInteger(name, fallback) : fallback;
  }
  std::string String(const std::string& name, const std::string& fallback) const {
    return node ? node->ReadString(name, fallback) : fallback;
  }
};

}  // namespace

void TXmlNode::ReadFont(const std::string& name, TFont& font) const {
  const TOptionalGroup group{NodeByName(name)};
  TFontStyles style;
  if (group.Bool("Bold", false)) style.Include(fsBold);
  if (group.Bool("Italic", false)) style.Include(fsItalic);
  if (group.Bool("Underline", false)) style.Include(fsUnderline);
  if (group.Bool("Strikeout", false)) style.Include(fsStrikeOut);
  font.SetName(group.String("Name", "Arial"));
  font.SetColor(group.Color("Color", 0));
  font.SetSize(group.Integer("Size", 14));
  font.SetStyle(style);
}

void TXmlNode::ReadPen(const std::string& name, TPen& pen) const {
  const TOptionalGroup group{NodeByName(name)};
  pen.SetColor(group.Color("Color", 0));
  pen.SetMode(OrdinalAs<TPenMode>(group.Integer("Mode", pmCopy)));
  pen.SetStyle(OrdinalAs<TPenStyle>(group.Integer("Style", psSolid)));
  pen.SetWidth(group.Integer("Width", 1));
}

void TXmlNode::ReadBrush(const std::string& name, TBrush& brush) const {
  const TOptionalGroup group{NodeByName(name)};
  brush.SetColor(group.Color("Color", 0xFFFFFF));
  brush.SetStyle(OrdinalAs<TBrushStyle>(group.Integer("Style", bsSolid)));
}

// --- Attribute writers

void TXmlNode::WriteAttributeBool(const std::string& name, bool value, bool fallback) {
  WriteAttributeText(this, WritesDefaults(), name, value ? "true" : "false", value == fallback);
}

void TXmlNode::WriteAttributeDateTime(const std::string& name, TDateTime value, TDateTime fallback) {
  WriteAttributeText(this, WritesDefaults(), name, DateTimeToIsoText(value, LocalBias(document_)),
                     value == fallback);
}

void TXmlNode::WriteAttributeInteger(const std::string& name, int32_t value, int32_t fallback) {
  WriteAttributeText(this, WritesDefaults(), name, IntToStr(value), value == fallback);
}

void TXmlNode::WriteAttributeInt64(const std::string& name, int64_t value, int64_t fallback) {
  WriteAttributeText(this, WritesDefaults(), name, IntToStr(value), value == fallback);
}

void TXmlNode::WriteAttributeFloat(const std::string& name, double value, double fallback) {
  WriteAttributeText(this, WritesDefaults(), name,
                     FloatToXmlText(value, FloatDigitsOf(document_), AllowExponentOf(document_)),
                     value == fallback);
}

void TXmlNode::WriteAttributeString(const std::string& name, const std::string& value,
                                    const std::string& fallback) {
  WriteAttributeText(this, WritesDefaults(), name, value, value == fallback);
}

// --- Child writers

void TXmlNode::WriteString(const std::string& name, const std::string& value,
                           const std::string& fallback) {
  if (!WritesDefaults() && value == fallback) return;
  NodeFindOrCreate(name)->SetValueAsString(value);
}

void TXmlNode::WriteWidestring(const std::string& name, const WideString& value,
                               const std::string& fallback) {
  WriteString(name, sdWideToUtf8(value), fallback);
}

void TXmlNode::WriteBool(const std::string& name, bool value, bool fallback) {
  if (!WritesDefaults() && value == fallback) return;
  NodeFindOrCreate(name)->SetValueAsString(value ? "True" : "False");
}

void TXmlNode::WriteInteger(const std::string& name, int32_t value, int32_t fallback) {
  if (!WritesDefaults() && value == fallback) return;
  NodeFindOrCreate(name)->SetValueAsString(IntToStr(value));
}

void TXmlNode::WriteInt64(const std::string& name, int64_t value, int64_t fallback) {
  if (!WritesDefaults() && value == fallback) return;
  NodeFindOrCreate(name)->SetValueAsString(IntToStr(value));
}

void TXmlNode::WriteFloat(const std::string& name, double value, double fallback) {
  if (!WritesDefaults() && value == fallback) return;
  NodeFindOrCreate(name)->SetValueAsString(
      FloatToXmlText(value, FloatDigitsOf(document_), AllowExponentOf(document_)));
}

void TXmlNode::WriteDateTime(const std::string& name, TDateTime value, TDateTime fallback) {
  if (!WritesDefaults() && value == fallback) return;
  NodeFindOrCreate(name)->SetValueAsString(DateTimeToIsoText(value, LocalBias(document_)));
}

void TXmlNode::WriteHex(const std::string& name, uint32_t value, int digits, uint32_t fallback) {
  if (!WritesDefaults() && value == fallback) return;
  std::string text(1, '$');
  text.append(IntToHex(value, digits));
  NodeFindOrCreate(name)->SetValueAsString(text);
}

void TXmlNode::WriteColor(const std::string& name, TColor value, TColor fallback) {
  WriteHex(name, static_cast<uint32_t>(value), 8, static_cast<uint32_t>(fallback));
}

void TXmlNode::WriteFont(const std::string& name, const TFont& font) {
  TXmlNode* child = NodeFindOrCreate(name);
  const TFontStyles style = font.GetStyle();
  child->WriteString("Name", font.GetName(), "Arial");
  child->WriteColor("Color", font.GetColor(), 0);
  child->WriteInteger("Size", font.GetSize(), 14);
  child->WriteBool("Bold", style.Contains(fsBold), false);
  child->WriteBool("Italic", style.Contains(fsItalic), false);
  child->WriteBool("Underline", style.Contains(fsUnderline), false);
  child->WriteBool("Strikeout", style.Contains(fsStrikeOut), false);
}

// The defaults left out here are the ones ReadPen and ReadBrush fill in, so that a value left
// out reads back as what was written.
void TXmlNode::WritePen(const std::string& name, const TPen& pen) {
  TXmlNode* child = NodeFindOrCreate(name);
  child->WriteColor("Color", pen.GetColor(), 0);
  child->WriteInteger("Mode", pen.GetMode(), pmCopy);
  child->WriteInteger("Style", pen.GetStyle(), psSolid);
  child->WriteInteger("Width", pen.GetWidth(), 1);
}

void TXmlNode::WriteBrush(const std::string& name, const TBrush& brush) {
  TXmlNode* child = NodeFindOrCreate(name);
  child->WriteColor("Color", brush.GetColor(), 0xFFFFFF);
  child->WriteInteger("Style", brush.GetStyle(), bsSolid);
}
