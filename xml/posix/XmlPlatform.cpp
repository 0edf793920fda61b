// Native stand-in for the XML library's operating-system services: Windows-1252 as the ANSI code
// page (the code page of Western-European Windows), the time-zone bias from the C library.
#include "XmlPlatform_p.h"

#include <ctime>

namespace {

// Windows-1252 differs from Latin-1 only in 80..9F; its five unassigned bytes map to the C1
// control with the same number, as Windows does.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char ToCp1252(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

WideString XmlAnsiToWide(const std::string& bytes) {
  WideString result;
  result.reserve(bytes.size());
  for (char b : bytes) {
    auto u = static_cast<unsigned char>(b);
    result += (u >= 0x80 && u < 0xA0) ? kCp1252High[u - 0x80] : static_cast<char16_t>(u);
  }
  return result;
}

std::string XmlWideToAnsi(const WideString& text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    // A surrogate pair is one character that the code page cannot hold.
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;
      result += '?';
      continue;
    }
    result += ToCp1252(c);
  }
  return result;
}

std::string XmlAnsiEncodingName() { return "windows-1252"; }

int32_t XmlLocalTimeBias() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<int32_t>(-local.tm_gmtoff / 60);
}
