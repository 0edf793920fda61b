// Form text <-> binary component streams: the converter in each direction and format detection.
#include "FormText.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Filer.h"
#include "FloatText.h"

namespace {

constexpr int kMaxNesting = 256;
constexpr size_t kLineLength = 64;    // string pieces per text line
constexpr int32_t kBytesPerLine = 32;  // binary bytes per text line

// Makes sure a finite float's text reads back as a float, not an integer; infinities and NaNs
// ("+inf", "-nan($...)") are numbers by their sign already.
std::string WithFraction(std::string text) {
  if (text.find_first_of("in") != std::string::npos || text.find('.') != std::string::npos) return text;
  size_t e = text.find('e');
  if (e != std::string::npos) return text.insert(e, ".0");
  return text + ".0";
}

std::string CurrencyText(int64_t scaled) {
  uint64_t magnitude = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string text = scaled < 0 ? "-" : "";
  text += std::to_string(magnitude / 10000);
  std::string fraction = std::to_string(magnitude % 10000);
  fraction.insert(0, 4 - fraction.size(), '0');
  while (fraction.size() > 1 && fraction.back() == '0') fraction.pop_back();
  return text + "." + fraction;
}

// --- Binary to text

class BinaryToText {
 public:
  BinaryToText(TStream& input, std::string& out) : reader_(input), out_(out) {}

  void Convert() {
    reader_.ReadSignature();
    ConvertObject();
  }

 private:
  void Indent() { out_.append(static_cast<size_t>(nesting_) * 2, ' '); }
  // Starts an indented line. Blanks ending the line so far go; a line of blanks only is reused.
  void NewLine() {
    size_t lineStart = out_.rfind('\n');
    lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
    size_t last = out_.find_last_not_of(' ');
    if (last != std::string::npos && last >= lineStart) {
      out_.resize(last + 1);
      out_ += "\r\n";
    } else {
      out_.resize(lineStart);
    }
    Indent();
  }
  void Enter() {
    if (++depth_ > kMaxNesting) throw EReadError("Stream nesting too deep");
  }

  void ConvertObject() {
    Enter();
    uint8_t flags = 0;
    int32_t position = 0;
    std::string className, objectName;
    reader_.ReadComponentHeader(flags, position, className, objectName);
    Indent();
    out_ += (flags & ffInherited) ? "inherited " : (flags & ffInline) ? "inline " : "object ";
    if (!objectName.empty()) out_ += objectName + ": ";
    out_ += className;
    if (flags & ffChildPos) out_ += " [" + IntToStr(position) + "]";
    out_ += "\r\n";
    ++nesting_;
    while (!reader_.EndOfList()) ConvertProperty();
    reader_.ReadListEnd();
    while (!reader_.EndOfList()) ConvertObject();
    reader_.ReadListEnd();
    --nesting_;
    Indent();
    out_ += "end\r\n";
    --depth_;
  }

  void ConvertProperty() {
    Indent();
    out_ += reader_.ReadStr();
    out_ += " = ";
    ConvertValue();
    out_ += "\r\n";
  }

  void ConvertValue() {
    Enter();
    uint8_t bytes[10];
    switch (reader_.NextValue()) {
      case vaList:
        reader_.ReadValue();
        out_ += '(';
        ++nesting_;
        while (!reader_.EndOfList()) {
          NewLine();
          ConvertValue();
        }
        reader_.ReadListEnd();
        --nesting_;
        out_ += ')';
        break;
      case vaInt8:
      case vaInt16:
      case vaInt32:
      case vaInt64: out_ += IntToStr(reader_.ReadInt64()); break;
      case vaExtended:
        reader_.ReadValue();
        reader_.Read(bytes, 10);
        out_ += WithFraction(ExtendedToText(bytes));
        break;
      case vaSingle: {
        reader_.ReadValue();
        float f;
        reader_.Read(&f, 4);
        out_ += WithFraction(SingleToText(f)) + "s";
        break;
      }
      case vaCurrency: out_ += CurrencyText(reader_.ReadCurrency()) + "c"; break;
      case vaDate:
      case vaDouble: {
        TValueType type = reader_.ReadValue();
        double d;
        reader_.Read(&d, 8);
        out_ += WithFraction(DoubleToText(d)) + (type == vaDate ? "d" : "x");
        break;
      }
      case vaString:
      case vaLString: WriteAnsiString(reader_.ReadString()); break;
      case vaWString:
      case vaUTF8String: WriteWideString(reader_.ReadWideString()); break;
      case vaIdent:
      case vaFalse:
      case vaTrue:
      case vaNil:
      case vaNull: out_ += reader_.ReadIdent(); break;
      case vaBinary: ConvertBinary(); break;
      case vaSet: {
        reader_.ReadValue();
        out_ += '[';
        for (int i = 0;; ++i) {
          std::string name = reader_.ReadStr();
          if (name.empty()) break;
          if (i > 0) out_ += ", ";
          out_ += name;
        }
        out_ += ']';
        break;
      }
      case vaCollection: ConvertCollection(); break;
    }
    --depth_;
  }

  void ConvertBinary() {
    reader_.ReadValue();
    uint8_t sizeBytes[4];
    reader_.Read(sizeBytes, 4);
    int32_t count = static_cast<int32_t>(sizeBytes[0] | (sizeBytes[1] << 8) | (sizeBytes[2] << 16) |
                                         (static_cast<uint32_t>(sizeBytes[3]) << 24));
    if (count < 0 || count > reader_.Remaining()) throw EReadError("Invalid binary length " + IntToStr(count));
    out_ += '{';
    ++nesting_;
    const bool multiLine = count >= kBytesPerLine;
    static const char kHex[] = "0123456789ABCDEF";
    uint8_t buffer[kBytesPerLine];
    while (count > 0) {
      if (multiLine) NewLine();
      int32_t n = count < kBytesPerLine ? count : kBytesPerLine;
      reader_.Read(buffer, n);
      for (int32_t i = 0; i < n; ++i) {
        out_ += kHex[buffer[i] >> 4];
        out_ += kHex[buffer[i] & 15];
      }
      count -= n;
    }
    --nesting_;
    out_ += '}';
  }

  void ConvertCollection() {
    reader_.ReadValue();
    out_ += '<';
    ++nesting_;
    while (!reader_.EndOfList()) {
      NewLine();
      out_ += "item";
      TValueType next = reader_.NextValue();
      if (next == vaInt8 || next == vaInt16 || next == vaInt32) out_ += " [" + IntToStr(reader_.ReadInteger()) + "]";
      reader_.ReadListBegin();
      out_ += "\r\n";
      ++nesting_;
      while (!reader_.EndOfList()) ConvertProperty();
      reader_.ReadListEnd();
      --nesting_;
      Indent();
      out_ += "end";
    }
    reader_.ReadListEnd();
    --nesting_;
    out_ += '>';
  }

  // Quoted runs of printable ASCII and #nnn codes for everything else, broken into lines with
  // "+". `writeCode` writes the code of one character.
  template <typename S, typename WriteCode>
  void WriteQuoted(const S& s, WriteCode writeCode) {
    if (s.empty()) {
      out_ += "''";
      return;
    }
    const auto isLiteral = [](auto c) { return c >= ' ' && c < 0x7F && c != '\''; };
    ++nesting_;
    const size_t length = s.size();
    if (length > kLineLength) NewLine();
    size_t i = 0, lineStart = 0;
    while (i < length) {
      bool lineBreak = false;
      if (isLiteral(s[i])) {
        size_t j = i;
        do {
          ++i;
        } while (i < length && isLiteral(s[i]) && i - lineStart < kLineLength);
        if (i - lineStart >= kLineLength) lineBreak = true;
        out_ += '\'';
        for (size_t k = j; k < i; ++k) out_ += static_cast<char>(s[k]);
        out_ += '\'';
      } else {
        writeCode(s[i]);
        ++i;
        if (i - lineStart >= kLineLength) lineBreak = true;
      }
      if (lineBreak && i < length) {
        out_ += " +";
        NewLine();
        lineStart = i;
      }
    }
    --nesting_;
  }

  void WriteDecimalCode(uint32_t code) {
    out_ += '#';
    out_ += std::to_string(code);
  }

  // The text stays ASCII whatever the string holds, so it means the same in any encoding it is
  // read in: an ANSI byte outside printable ASCII is written as its code ("caf"#233).
  void WriteAnsiString(const std::string& s) {
    WriteQuoted(s, [this](char c) { WriteDecimalCode(static_cast<unsigned char>(c)); });
  }
  // Wide characters are written as their code points. A code above 255 tells the reader that
  // the string is wide; a wide string without one writes its characters from 128 to 255 in
  // hexadecimal ("caf"#$E9), which reads back as wide too, while decimal codes up to 255 are
  // ANSI bytes.
  void WriteWideString(const WideString& s) {
    const bool beyondAnsi = std::any_of(s.begin(), s.end(), [](char16_t c) { return c > 0xFF; });
    WriteQuoted(s, [this, beyondAnsi](char16_t c) {
      if (beyondAnsi || c < 0x80) {
        WriteDecimalCode(c);
        return;
      }
      static const char kHex[] = "0123456789ABCDEF";
      out_ += "#$";
      out_ += kHex[c >> 4];
      out_ += kHex[c & 15];
    });
  }

  TReader reader_;
  std::string& out_;
  int nesting_ = 0;
  int depth_ = 0;
};

// --- Text to binary

enum TokenKind { tokEof, tokSymbol, tokIdent, tokInteger, tokFloat, tokString };

// In a string token, characters written literally are kept as kLiteral + byte and hexadecimal
// codes as kHexCode + code until the string's kind is known; decimal #nnn codes are kept as they
// are (at most U+FFFF).
constexpr char32_t kLiteral = 0x10000;
constexpr char32_t kHexCode = 0x20000;
constexpr char32_t kCodeMask = 0xFFFF;

bool IsLiteralCode(char32_t code) { return code >= kLiteral && code < kHexCode; }
// A character code that only a wide string holds: above 255, or written in hexadecimal from 128
// on (the writer's form for wide characters 128 to 255).
bool IsWideCode(char32_t code) {
  if (IsLiteralCode(code)) return false;
  const char32_t value = code & kCodeMask;
  return value > 0xFF || (code >= kHexCode && value >= 0x80);
}

class TextToBinary {
 public:
  TextToBinary(const std::string& text, TStream& output) : text_(text), writer_(output) {}

  void Convert() {
    // A UTF-8 byte-order mark is skipped; the text itself is read as ANSI.
    if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
    Next();
    writer_.WriteSignature();
    ParseObject();
    if (kind_ != tokEof) Error("Text after the last end");
  }

 private:
  [[noreturn]] void Error(const std::string& what) {
    throw EParserError("Line " + IntToStr(line_) + ": " + what);
  }
  void Enter() {
    if (++depth_ > kMaxNesting) Error("Nesting too deep");
  }

  bool IsSymbol(char c) const { return kind_ == tokSymbol && token_.size() == 1 && token_[0] == c; }
  bool IsKeyword(const char* word) const { return kind_ == tokIdent && SameText(token_, word); }
  void Expect(char c) {
    if (!IsSymbol(c)) Error(std::string("'") + c + "' expected");
    Next();
  }
  std::string ExpectIdent() {
    if (kind_ != tokIdent) Error("Identifier expected");
    std::string ident = token_;
    Next();
    return ident;
  }
  // An identifier, or several joined by "." (a component reference such as Frame1.Button1).
  std::string ExpectDottedIdent() {
    std::string ident = ExpectIdent();
    while (IsSymbol('.')) {
      Next();
      ident += '.';
      ident += ExpectIdent();
    }
    if (ident.size() > 255) Error("Identifier too long");
    return ident;
  }

  static bool IsIdentStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

  // --- Tokens

  void SkipBlanks() {
    while (pos_ < text_.size() && static_cast<unsigned char>(text_[pos_]) <= ' ') {
      if (text_[pos_] == '\n') ++line_;
      ++pos_;
    }
  }

  void Next() {
    SkipBlanks();
    token_.clear();
    floatSuffix_ = 0;
    if (pos_ >= text_.size()) {
      kind_ = tokEof;
      return;
    }
    char c = text_[pos_];
    if (IsIdentStart(c)) {
      size_t start = pos_;
      while (pos_ < text_.size() && (IsIdentStart(text_[pos_]) || IsDigit(text_[pos_]))) ++pos_;
      token_ = text_.substr(start, pos_ - start);
      kind_ = tokIdent;
    } else if (c == '\'' || c == '#') {
      ReadStringToken();
    } else if ((c == '-' || c == '+') && IsNonFinite(pos_ + 1)) {
      ReadNonFiniteToken();
    } else if (c == '$' || IsDigit(c) || ((c == '-' || c == '+') && pos_ + 1 < text_.size() &&
                                          (IsDigit(text_[pos_ + 1]) || text_[pos_ + 1] == '$' || text_[pos_ + 1] == '.'))) {
      ReadNumberToken();
    } else {
      token_ = std::string(1, c);
      ++pos_;
      kind_ = tokSymbol;
    }
  }

  void ReadNumberToken() {
    size_t start = pos_;
    if (text_[pos_] == '-' || text_[pos_] == '+') ++pos_;
    kind_ = tokInteger;
    if (pos_ < text_.size() && text_[pos_] == '$') {
      ++pos_;
      while (pos_ < text_.size() && IsHex(text_[pos_])) ++pos_;
    } else {
      while (pos_ < text_.size()) {
        char d = text_[pos_];
        if (IsDigit(d)) {
          ++pos_;
        } else if (d == '.') {
          kind_ = tokFloat;
          ++pos_;
        } else if ((d == 'e' || d == 'E') && pos_ + 1 < text_.size() &&
                   (IsDigit(text_[pos_ + 1]) || text_[pos_ + 1] == '-' || text_[pos_ + 1] == '+')) {
          kind_ = tokFloat;
          pos_ += 2;
        } else {
          break;
        }
      }
    }
    token_ = text_.substr(start, pos_ - start);
    ReadFloatSuffix();
  }

  // "inf" or "nan" at the position (after a sign, which keeps them apart from identifiers).
  bool IsNonFinite(size_t at) const {
    if (at + 3 > text_.size()) return false;
    std::string word = text_.substr(at, 3);
    for (char& ch : word) ch = static_cast<char>(ch | 0x20);
    return word == "inf" || word == "nan";
  }

  // A signed infinity or NaN ("-inf", "+nan", "-nan($C000000000000001)") with its suffix.
  void ReadNonFiniteToken() {
    size_t start = pos_;
    pos_ += 4;
    if (pos_ < text_.size() && text_[pos_] == '(') {
      size_t close = text_.find(')', pos_);
      if (close == std::string::npos || close - pos_ > 20) Error("Invalid float");
      pos_ = close + 1;
    }
    token_ = text_.substr(start, pos_ - start);
    kind_ = tokFloat;
    ReadFloatSuffix();
    if (pos_ < text_.size() && (IsIdentStart(text_[pos_]) || IsDigit(text_[pos_]))) Error("Invalid float " + token_);
  }

  void ReadFloatSuffix() {
    if (pos_ < text_.size()) {
      char s = static_cast<char>(text_[pos_] | 0x20);
      if (s == 's' || s == 'c' || s == 'd' || s == 'x') {
        if (pos_ + 1 >= text_.size() || !(IsIdentStart(text_[pos_ + 1]) || IsDigit(text_[pos_ + 1]))) {
          floatSuffix_ = s;
          kind_ = tokFloat;
          ++pos_;
        }
      }
    }
  }

  // A string token: quoted runs and #nnn codes with nothing between them. Literal bytes are
  // ANSI (raw bytes above 127 as older text holds them too), and so are decimal codes up to
  // 255; a code above 255, or a hexadecimal one from 128 on, makes the string wide.
  void ReadStringToken() {
    kind_ = tokString;
    std::u32string codes;
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '\'') {
        ++pos_;
        for (;;) {
          if (pos_ >= text_.size() || text_[pos_] == '\n' || text_[pos_] == '\r') Error("Unterminated string");
          char d = text_[pos_++];
          if (d == '\'') {
            if (pos_ < text_.size() && text_[pos_] == '\'') {
              codes.push_back(kLiteral + '\'');
              ++pos_;
              continue;
            }
            break;
          }
          codes.push_back(kLiteral + static_cast<unsigned char>(d));
        }
      } else if (c == '#') {
        ++pos_;
        uint32_t code = 0;
        size_t digits = 0;
        bool hex = pos_ < text_.size() && text_[pos_] == '$';
        if (hex) ++pos_;
        while (pos_ < text_.size() && (hex ? IsHex(text_[pos_]) : IsDigit(text_[pos_]))) {
          char d = text_[pos_++];
          uint32_t v = IsDigit(d) ? d - '0' : (d | 0x20) - 'a' + 10;
          code = code * (hex ? 16 : 10) + v;
          if (++digits > 6 || code > 0xFFFF) Error("Invalid character code");
        }
        if (digits == 0) Error("Invalid character code");
        codes.push_back(hex ? kHexCode + code : code);
      } else {
        break;
      }
    }
    pendingCodes_ = std::move(codes);
  }

  // Joins string tokens separated by "+" into one value.
  void ParseString(std::u32string& codes, bool& wide) {
    codes.clear();
    wide = false;
    for (;;) {
      if (kind_ != tokString) Error("String expected");
      for (char32_t code : pendingCodes_) {
        if (IsWideCode(code)) wide = true;
        codes.push_back(code);
      }
      Next();
      if (!IsSymbol('+')) break;
      Next();
    }
  }

  // --- Grammar

  void ParseObject() {
    Enter();
    uint8_t flags = 0;
    if (IsKeyword("inherited")) flags = ffInherited;
    else if (IsKeyword("inline")) flags = ffInline;
    else if (!IsKeyword("object")) Error("'object' expected");
    Next();
    std::string first = ExpectIdent();
    std::string name, className = first;
    if (IsSymbol(':')) {
      Next();
      name = first;
      className = ExpectIdent();
    }
    int32_t position = 0;
    if (IsSymbol('[')) {
      Next();
      if (kind_ != tokInteger) Error("Integer expected");
      int64_t value = 0;
      if (!TryStrToInt64(token_, value) || value < INT32_MIN || value > INT32_MAX) Error("Invalid integer " + token_);
      position = static_cast<int32_t>(value);
      flags |= ffChildPos;
      Next();
      Expect(']');
    }
    writer_.WritePrefix(flags, position);
    writer_.WriteStr(className);
    writer_.WriteStr(name);
    while (kind_ == tokIdent && !IsKeyword("end") && !IsKeyword("object") && !IsKeyword("inherited") &&
           !IsKeyword("inline"))
      ParseProperty();
    writer_.WriteListEnd();
    while (!IsKeyword("end")) {
      if (kind_ == tokEof) Error("'end' expected");
      ParseObject();
    }
    Next();
    writer_.WriteListEnd();
    --depth_;
  }

  void ParseProperty() {
    std::string name = ExpectDottedIdent();
    Expect('=');
    writer_.WriteStr(name);
    ParseValue();
  }

  void ParseValue() {
    Enter();
    switch (kind_) {
      case tokInteger: {
        int64_t value = 0;
        if (!TryStrToInt64(token_, value)) Error("Invalid integer " + token_);
        writer_.WriteInteger(value);
        Next();
        break;
      }
      case tokFloat: WriteFloat(); break;
      case tokString: {
        std::u32string codes;
        bool wide = false;
        ParseString(codes, wide);
        if (wide) {
          WideString w;
          for (char32_t code : codes) {
            if (IsLiteralCode(code)) w += AnsiToWide(std::string(1, static_cast<char>(code - kLiteral)));
            else w += static_cast<char16_t>(code & kCodeMask);
          }
          writer_.WriteWideString(w);
        } else {
          std::string s;
          for (char32_t code : codes) s += static_cast<char>(code & 0xFF);
          writer_.WriteString(s);
        }
        break;
      }
      case tokIdent: writer_.WriteIdent(ExpectDottedIdent()); break;
      case tokSymbol:
        if (IsSymbol('[')) ParseSet();
        else if (IsSymbol('(')) ParseList();
        else if (IsSymbol('{')) ParseBinary();
        else if (IsSymbol('<')) ParseCollection();
        else Error("Invalid property value");
        break;
      case tokEof: Error("Value expected");
    }
    --depth_;
  }

  // Reads the float token; errors name its own line, before the next token is read.
  void WriteFloat() {
    const std::string number = token_[0] == '+' ? token_.substr(1) : token_;
    auto fail = [&] { Error("Invalid float " + token_); };
    switch (floatSuffix_) {
      case 's': {
        float f = 0;
        if (!TextToSingle(number, f)) fail();
        writer_.WriteSingle(f);
        break;
      }
      case 'c': writer_.WriteCurrency(ParseCurrency(token_)); break;
      case 'd':
      case 'x': {
        double d = 0;
        if (!TextToDouble(number, d)) fail();
        if (floatSuffix_ == 'd') writer_.WriteDate(d);
        else writer_.WriteDouble(d);
        break;
      }
      default: {
        uint8_t bytes[10];
        if (!TextToExtended(number, bytes)) fail();
        writer_.WriteExtended(bytes);
      }
    }
    Next();
  }

  // Decimal text to a value scaled by 10000, exactly.
  int64_t ParseCurrency(const std::string& number) {
    size_t i = 0;
    bool negative = false;
    if (i < number.size() && (number[i] == '-' || number[i] == '+')) negative = number[i++] == '-';
    uint64_t whole = 0;
    size_t digits = 0;
    for (; i < number.size() && IsDigit(number[i]); ++i, ++digits) {
      whole = whole * 10 + static_cast<uint64_t>(number[i] - '0');
      if (whole > 922337203685477ull) Error("Currency value out of range " + number);
    }
    uint64_t fraction = 0;
    int places = 0;
    if (i < number.size() && number[i] == '.') {
      for (++i; i < number.size() && IsDigit(number[i]); ++i, ++digits) {
        if (places == 4) Error("Currency value has more than four decimals");
        fraction = fraction * 10 + static_cast<uint64_t>(number[i] - '0');
        ++places;
      }
    }
    if (i != number.size() || digits == 0) Error("Invalid currency value " + number);
    while (places < 4) fraction *= 10, ++places;
    // The range of a signed 64-bit count of ten-thousandths: one more below zero than above.
    const uint64_t scaled = whole * 10000 + fraction;
    const uint64_t limit = negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull;
    if (scaled > limit) Error("Currency value out of range " + number);
    return negative ? static_cast<int64_t>(0 - scaled) : static_cast<int64_t>(scaled);
  }

  void ParseSet() {
    Next();
    writer_.WriteValue(vaSet);
    if (!IsSymbol(']')) {
      for (;;) {
        writer_.WriteStr(ExpectDottedIdent());
        if (IsSymbol(']')) break;
        Expect(',');
      }
    }
    Next();
    writer_.WriteStr(std::string());
  }

  void ParseList() {
    Next();
    writer_.WriteListBegin();
    while (!IsSymbol(')')) {
      if (kind_ == tokEof) Error("')' expected");
      ParseValue();
    }
    Next();
    writer_.WriteListEnd();
  }

  void ParseBinary() {
    // Hexadecimal digits up to "}", blanks and line breaks allowed between them.
    std::string data;
    int high = -1;
    for (;;) {
      if (pos_ >= text_.size()) Error("'}' expected");
      char c = text_[pos_++];
      if (c == '}') break;
      if (static_cast<unsigned char>(c) <= ' ') {
        if (c == '\n') ++line_;
        continue;
      }
      if (!IsHex(c)) Error("Invalid binary data");
      int v = IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
      if (high < 0) {
        high = v;
      } else {
        data.push_back(static_cast<char>(high * 16 + v));
        high = -1;
      }
    }
    if (high >= 0) Error("Odd number of hexadecimal digits");
    if (data.size() > 0x7FFFFFFF) Error("Binary data too large");
    Next();
    writer_.WriteBinary([&](TStream& s) {
      if (!data.empty()) s.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    });
  }

  void ParseCollection() {
    Next();
    writer_.WriteValue(vaCollection);
    while (!IsSymbol('>')) {
      if (!IsKeyword("item")) Error("'item' expected");
      Next();
      if (IsSymbol('[')) {
        Next();
        if (kind_ != tokInteger) Error("Integer expected");
        int64_t value = 0;
        if (!TryStrToInt64(token_, value) || value < INT32_MIN || value > INT32_MAX) Error("Invalid integer " + token_);
        writer_.WriteInteger(value);
        Next();
        Expect(']');
      }
      writer_.WriteListBegin();
      while (!IsKeyword("end")) {
        if (kind_ != tokIdent) Error("'end' expected");
        ParseProperty();
      }
      Next();
      writer_.WriteListEnd();
    }
    Next();
    writer_.WriteListEnd();
  }

  const std::string& text_;
  TWriter writer_;
  size_t pos_ = 0;
  int line_ = 1;
  int depth_ = 0;
  TokenKind kind_ = tokEof;
  std::string token_;
  std::u32string pendingCodes_;
  char floatSuffix_ = 0;
};

std::string ReadRest(TStream& input) {
  int64_t remaining = input.Remaining();
  if (remaining < 0) remaining = 0;
  if (remaining > 0x7FFFFFFF) throw EReadError("Form text too large");
  std::string text(static_cast<size_t>(remaining), '\0');
  if (remaining > 0) input.ReadBuffer(text.data(), static_cast<int32_t>(remaining));
  return text;
}

}  // namespace

void ObjectBinaryToText(TStream& input, TStream& output) {
  std::string text;
  BinaryToText(input, text).Convert();
  if (!text.empty()) output.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

void ObjectTextToBinary(TStream& input, TStream& output) {
  std::string text = ReadRest(input);
  TextToBinary(text, output).Convert();
}

TStreamOriginalFormat TestStreamFormat(TStream& stream) {
  int64_t start = stream.GetPosition();
  char head[64] = {};
  int32_t got = stream.Read(head, sizeof head);
  stream.SetPosition(start);
  if (got >= 4 && std::memcmp(head, "TPF0", 4) == 0) return sofBinary;
  int32_t i = 0;
  if (got >= 3 && std::memcmp(head, "\xEF\xBB\xBF", 3) == 0) i = 3;
  while (i < got && static_cast<unsigned char>(head[i]) <= ' ') ++i;
  std::string word;
  while (i < got && ((head[i] | 0x20) >= 'a' && (head[i] | 0x20) <= 'z')) word += head[i++];
  if (SameText(word, "object") || SameText(word, "inherited") || SameText(word, "inline")) return sofText;
  return sofUnknown;
}

std::string ComponentToText(TComponent* component) {
  TMemoryStream binary;
  WriteComponentToStream(binary, component);
  binary.SetPosition(0);
  TStringStream text;
  ObjectBinaryToText(binary, text);
  return text.DataString();
}

TComponent* TextToComponent(const std::string& text, TComponent* instance) {
  TStringStream input(text);
  TMemoryStream binary;
  ObjectTextToBinary(input, binary);
  binary.SetPosition(0);
  return ReadComponentFromStream(binary, instance);
}
