// Text conversions of the XML library: UTF-8 and UTF-16, Base64, hexadecimal, escaping, wrapping.
#include "XmlText.h"

#include <cstring>

#include "classlib/SysUtils.h"

// --- Characters

std::string CodePointToUtf8(uint32_t code) {
  std::string out;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    if (code >= 0xD800 && code <= 0xDFFF) return out;
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code <= 0x10FFFF) {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

// --- UTF-8 and UTF-16

std::string sdWideToUtf8(const WideString& text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    out += CodePointToUtf8(c);
  }
  return out;
}

WideString sdUtf8ToWide(const std::string& text) {
  WideString out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    auto lead = static_cast<unsigned char>(text[i]);
    uint32_t code;
    size_t extra;
    if (lead < 0x80) {
      code = lead;
      extra = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      code = lead & 0x1F;
      extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      code = lead & 0x0F;
      extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
      code = lead & 0x07;
      extra = 3;
    } else {
      return WideString();
    }
    if (extra > 0 && i + extra >= text.size()) return WideString();
    for (size_t k = 1; k <= extra; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return WideString();
      code = (code << 6) | (next & 0x3F);
    }
    i += extra + 1;
    if (code >= 0x10000) {
      if (code > 0x10FFFF) return WideString();
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
  }
  return out;
}

// --- Binary data

namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return 0;  // padding decodes as zero bits
  return -1;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

[[noreturn]] void MissingData() { throw EFilerError("Missing data in binary stream"); }
[[noreturn]] void InvalidCharacter() { throw EFilerError("Invalid character in binary stream"); }

}  // namespace

std::string EncodeBase64(const void* data, size_t count) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  std::string out;
  out.reserve((count + 2) / 3 * 4);
  for (size_t i = 0; i < count; i += 3) {
    uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
    if (i + 1 < count) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (i + 2 < count) group |= bytes[i + 2];
    out += kBase64[(group >> 18) & 63];
    out += kBase64[(group >> 12) & 63];
    out += i + 1 < count ? kBase64[(group >> 6) & 63] : '=';
    out += i + 2 < count ? kBase64[group & 63] : '=';
  }
  return out;
}

void DecodeBase64(const std::string& text, void* buffer, size_t count) {
  // Every full group of four characters carries three bytes, less one for each "=" that pads
  // the last group: asking for more than that is missing data, not zeros.
  size_t available = text.size() / 4 * 3;
  size_t full = text.size() / 4 * 4;
  for (size_t i = 0; i < 2 && i < full && text[full - 1 - i] == '='; ++i) --available;
  if (available < count) MissingData();
  auto* out = static_cast<uint8_t*>(buffer);
  size_t written = 0;
  for (size_t i = 0; i + 4 <= text.size() && written < count; i += 4) {
    uint32_t group = 0;
    for (size_t k = 0; k < 4; ++k) {
      int v = Base64Value(text[i + k]);
      if (v < 0) InvalidCharacter();
      group = (group << 6) | static_cast<uint32_t>(v);
    }
    for (int shift = 16; shift >= 0 && written < count; shift -= 8) {
      out[written++] = static_cast<uint8_t>(group >> shift);
    }
  }
}

std::string EncodeHex(const void* data, size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  const auto* bytes = static_cast<const uint8_t*>(data);
  std::string out;
  out.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

void DecodeHex(const std::string& text, void* buffer, size_t count) {
  if (text.size() / 2 < count) MissingData();
  auto* out = static_cast<uint8_t*>(buffer);
  for (size_t i = 0; i < count; ++i) {
    int high = HexValue(text[2 * i]);
    int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) InvalidCharacter();
    out[i] = static_cast<uint8_t>(high * 16 + low);
  }
}

// --- Escaping and quoting

std::string EscapeText(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\'': out += "&apos;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

namespace {

// Parses the digits of a character reference; false for an empty or malformed number. Values
// that cannot be characters saturate above U+10FFFF so that they are dropped, not wrapped.
bool ParseCharacterReference(const std::string& digits, uint32_t& code) {
  size_t i = 0;
  int base = 10;
  if (!digits.empty() && (digits[0] == 'x' || digits[0] == 'X')) {
    base = 16;
    i = 1;
  }
  if (i == digits.size()) return false;
  uint64_t value = 0;
  for (; i < digits.size(); ++i) {
    int d = base == 16 ? HexValue(digits[i])
                       : (digits[i] >= '0' && digits[i] <= '9' ? digits[i] - '0' : -1);
    if (d < 0) return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (value > 0x10FFFF) value = 0x110000;
  }
  code = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

std::string UnescapeText(const std::string& text) {
  size_t amp = text.find('&');
  if (amp == std::string::npos) return text;
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (amp != std::string::npos) {
    size_t semi = text.find(';', amp + 1);
    if (semi == std::string::npos) break;
    out.append(text, pos, amp - pos);
    std::string name = text.substr(amp + 1, semi - amp - 1);
    uint32_t code = 0;
    if (!name.empty() && name[0] == '#' && ParseCharacterReference(name.substr(1), code)) {
      // NUL, surrogates and values beyond Unicode are no characters: they are dropped.
      if (code != 0) out += CodePointToUtf8(code);
    } else if (name == "amp") {
      out += '&';
    } else if (name == "lt") {
      out += '<';
    } else if (name == "gt") {
      out += '>';
    } else if (name == "apos") {
      out += '\'';
    } else if (name == "quot") {
      out += '"';
    } else {
      out.append(text, amp, semi - amp + 1);
    }
    pos = semi + 1;
    amp = text.find('&', pos);
  }
  out.append(text, pos, std::string::npos);
  return out;
}

std::string QuoteText(const std::string& text) {
  char quote = text.find('"') == std::string::npos ? '"' : '\'';
  std::string out(1, quote);
  for (char c : text) {
    out += c;
    if (c == quote) out += c;
  }
  out += quote;
  return out;
}

std::string UnquoteText(const std::string& text) {
  if (text.size() < 2 || !IsXmlQuote(text[0])) return text;
  char quote = text[0];
  size_t end = text.size() - (text.back() == quote ? 1 : 0);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 1; i < end; ++i) {
    out += text[i];
    if (text[i] == quote && i + 1 < end && text[i + 1] == quote) ++i;
  }
  return out;
}

// --- Blanks and searching

std::string TrimBlanks(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsXmlBlank(text[first])) ++first;
  while (last > first && IsXmlBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

std::string StripBlanks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (!IsXmlBlank(c)) out += c;
  }
  return out;
}

std::string ReplaceText(const std::string& text, const std::string& find,
                        const std::string& replacement) {
  if (find.empty()) return text;
  std::string out;
  size_t pos = 0;
  for (size_t hit = text.find(find); hit != std::string::npos; hit = text.find(find, pos)) {
    out.append(text, pos, hit - pos);
    out += replacement;
    pos = hit + find.size();
  }
  out.append(text, pos, std::string::npos);
  return out;
}

size_t FindText(const std::string& text, const std::string& find, size_t from) {
  return text.find(find, from);
}

std::string WrapLines(const std::string& text, size_t lineLength, const std::string& separator) {
  if (separator.empty() || lineLength == 0) return text;
  std::string out;
  out.reserve(text.size() + (text.size() / lineLength + 2) * separator.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (i % lineLength == 0) out += separator;
    out += text[i];
  }
  out += separator;
  return out;
}
