// String and number conversions with the original class library's rules, locale-independent.
#include "SysUtils.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>

// --- Integer conversions

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses into `value` within [minimum, maximum]; false on any deviation from the accepted form.
bool ParseInteger(const std::string& text, int64_t minimum, int64_t maximum, int64_t& value) {
  size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return false;

  // Accumulate as a magnitude; hexadecimal may fill all bits of the type (like "$FFFFFFFF" for -1
  // in the 32-bit reader), decimal must fit the signed range.
  uint64_t magnitude = 0;
  const uint64_t limit = base == 16 ? (maximum == std::numeric_limits<int64_t>::max()
                                          ? std::numeric_limits<uint64_t>::max()
                                          : 0xFFFFFFFFull)
                                    : static_cast<uint64_t>(maximum) + (negative ? 1 : 0);
  for (; i < text.size(); ++i) {
    int digit = base == 16 ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0) return false;
    if (magnitude > (limit - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return false;
    magnitude = magnitude * base + static_cast<uint64_t>(digit);
  }

  if (base == 16 && !negative) {
    // Hexadecimal texts are bit patterns: "$FFFFFFFF" is -1 as a 32-bit integer.
    if (maximum != std::numeric_limits<int64_t>::max()) {
      value = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
    } else {
      value = static_cast<int64_t>(magnitude);
    }
    return true;
  }
  if (negative) {
    if (magnitude > static_cast<uint64_t>(maximum) + 1) return false;
    value = magnitude == static_cast<uint64_t>(maximum) + 1 ? minimum : -static_cast<int64_t>(magnitude);
  } else {
    if (magnitude > static_cast<uint64_t>(maximum)) return false;
    value = static_cast<int64_t>(magnitude);
  }
  return true;
}

[[noreturn]] void RaiseInvalidInteger(const std::string& text) {
  throw EConvertError("'" + text + "' is not a valid integer value");
}

}  // namespace

bool TryStrToInt(const std::string& text, int32_t& value) {
  int64_t v = 0;
  if (!ParseInteger(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), v))
    return false;
  value = static_cast<int32_t>(v);
  return true;
}

bool TryStrToInt64(const std::string& text, int64_t& value) {
  return ParseInteger(text, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), value);
}

int32_t StrToInt(const std::string& text) {
  int32_t value = 0;
  if (!TryStrToInt(text, value)) RaiseInvalidInteger(text);
  return value;
}

int64_t StrToInt64(const std::string& text) {
  int64_t value = 0;
  if (!TryStrToInt64(text, value)) RaiseInvalidInteger(text);
  return value;
}

int32_t StrToIntDef(const std::string& text, int32_t fallback) {
  int32_t value = 0;
  return TryStrToInt(text, value) ? value : fallback;
}

int64_t StrToInt64Def(const std::string& text, int64_t fallback) {
  int64_t value = 0;
  return TryStrToInt64(text, value) ? value : fallback;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string IntToHex(uint64_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 15]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(text.size()) < digits) text.insert(0, static_cast<size_t>(digits) - text.size(), '0');
  return text;
}

// --- Text

namespace {
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
}  // namespace

std::string TrimLeft(const std::string& text) {
  size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  return text.substr(start);
}

std::string TrimRight(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  return text.substr(0, end);
}

std::string Trim(const std::string& text) { return TrimLeft(TrimRight(text)); }

std::string UpperCase(const std::string& text) {
  std::string result(text);
  for (char& c : result) c = AsciiUpper(c);
  return result;
}

std::string LowerCase(const std::string& text) {
  std::string result(text);
  for (char& c : result) c = AsciiLower(c);
  return result;
}

int CompareText(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int ca = static_cast<unsigned char>(AsciiUpper(a[i]));
    int cb = static_cast<unsigned char>(AsciiUpper(b[i]));
    if (ca != cb) return ca - cb;
  }
  return static_cast<int>(a.size()) - static_cast<int>(b.size());
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && CompareText(a, b) == 0;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// --- Floats

std::string FloatToStrDot(double value, int decimals) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buffer[400];
  std::to_chars_result result = decimals < 0
      ? std::to_chars(buffer, buffer + sizeof buffer, value)
      : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return "0";
  return std::string(buffer, result.ptr);
}

bool TryStrToFloatDot(const std::string& text, double& value) {
  std::string trimmed = Trim(text);
  if (trimmed.empty()) return false;
  const char* first = trimmed.data();
  const char* last = first + trimmed.size();
  if (*first == '+') ++first;
  if (first == last) return false;
  double parsed = 0;
  std::from_chars_result result = std::from_chars(first, last, parsed);
  if (result.ec != std::errc() || result.ptr != last) return false;
  value = parsed;
  return true;
}

// --- Floats in the user's number format

namespace {
// The dot-separated text with the settings' separator in place of the full stop.
WideString WithSeparator(const std::string& dotted, const TFormatSettings& settings) {
  WideString out;
  out.reserve(dotted.size());
  for (char c : dotted) out.push_back(c == '.' ? settings.DecimalSeparator : static_cast<WideChar>(c));
  return out;
}
}  // namespace

WideString FloatToStrFixed(double value, int decimals, const TFormatSettings& settings) {
  return WithSeparator(FloatToStrDot(value, decimals < 0 ? 0 : decimals), settings);
}

WideString FloatToStrShortest(float value, const TFormatSettings& settings) {
  if (std::isnan(value)) return u"NAN";
  if (std::isinf(value)) return value > 0 ? u"INF" : u"-INF";
  char buffer[64];
  std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (result.ec != std::errc()) return u"0";
  return WithSeparator(std::string(buffer, result.ptr), settings);
}

bool TryStrToFloat(const WideString& text, double& value, const TFormatSettings& settings) {
  // Into the dotted form the reader takes: only ASCII digits, signs, the exponent letter and the
  // settings' separator may appear.
  std::string dotted;
  dotted.reserve(text.size());
  for (WideChar c : text) {
    if (c == settings.DecimalSeparator) dotted.push_back('.');
    else if (c == u'.') return false;  // a full stop that is not the separator
    else if (c < 0x80) dotted.push_back(static_cast<char>(c));
    else return false;
  }
  for (char c : dotted)
    if (!(c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E' || (c >= '0' && c <= '9') ||
          static_cast<unsigned char>(c) <= ' '))
      return false;
  double parsed = 0;
  if (!TryStrToFloatDot(dotted, parsed) || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

// --- Text encodings

namespace {

// Windows-1252 0x80..0x9F; the rest of the code page equals Latin-1. Undefined bytes map to
// themselves, as the system's conversion does.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendCodePoint(WideString& out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

}  // namespace

WideString Utf8ToWide(const std::string& text) {
  WideString out;
  out.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    uint8_t c = static_cast<uint8_t>(text[i]);
    int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra == 0) {
      out.push_back(c);
      ++i;
      continue;
    }
    if (extra < 0 || i + static_cast<size_t>(extra) >= n) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    uint32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      uint8_t cc = static_cast<uint8_t>(text[i + k]);
      if ((cc & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    static const uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    AppendCodePoint(out, cp);
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

std::string WideToUtf8(const WideString& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

WideString AnsiToWide(const std::string& text) {
  WideString out(text.size(), u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    uint8_t c = static_cast<uint8_t>(text[i]);
    out[i] = c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c;
  }
  return out;
}

std::string WideToAnsi(const WideString& text) {
  std::string out(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    char byte = '?';
    if (c < 0x80 || (c >= 0xA0 && c < 0x100)) {
      byte = static_cast<char>(c);
    } else {
      for (int k = 0; k < 32; ++k) {
        if (kCp1252High[k] == c) {
          byte = static_cast<char>(0x80 + k);
          break;
        }
      }
    }
    out[i] = byte;
  }
  return out;
}

// --- Exceptions caught where they must stop

namespace {
std::atomic<TCaughtExceptionHandler> gCaughtHandler{nullptr};
}  // namespace

void SetCaughtExceptionHandler(TCaughtExceptionHandler handler) { gCaughtHandler = handler; }

bool HandOverCaughtException(uint8_t displayMode) noexcept {
  TCaughtExceptionHandler handler = gCaughtHandler.load();
  std::exception_ptr error = std::current_exception();
  if (handler == nullptr || !error) return true;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    try {
      return handler(&e, displayMode);
    } catch (...) {
      return true;
    }
  } catch (...) {
    try {
      return handler(nullptr, displayMode);
    } catch (...) {
      return true;
    }
  }
  return true;
}
