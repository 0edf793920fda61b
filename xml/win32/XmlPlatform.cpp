// Win32 half of the XML library's operating-system services: CP_ACP conversions, time-zone bias.
#include "XmlPlatform_p.h"

#include <windows.h>

WideString XmlAnsiToWide(const std::string& bytes) {
  if (bytes.empty()) return WideString();
  int count = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (count <= 0) return WideString(1, u'\uFFFD');
  WideString result(static_cast<size_t>(count), u'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                      reinterpret_cast<wchar_t*>(result.data()), count);
  return result;
}

std::string XmlWideToAnsi(const WideString& text) {
  if (text.empty()) return std::string();
  const wchar_t* source = reinterpret_cast<const wchar_t*>(text.data());
  int count = WideCharToMultiByte(CP_ACP, 0, source, static_cast<int>(text.size()), nullptr, 0,
                                  nullptr, nullptr);
  if (count <= 0) return std::string("?");
  std::string result(static_cast<size_t>(count), '\0');
  WideCharToMultiByte(CP_ACP, 0, source, static_cast<int>(text.size()), result.data(), count,
                      nullptr, nullptr);
  return result;
}

std::string XmlAnsiEncodingName() {
  const UINT page = GetACP();
  switch (page) {
    case 932: return "Shift_JIS";
    case 936: return "GBK";
    case 950: return "Big5";
    case 65001: return "UTF-8";
    default: break;
  }
  if (page == 874 || (page >= 1250 && page <= 1258)) return "windows-" + std::to_string(page);
  return "CP" + std::to_string(page);
}

int32_t XmlLocalTimeBias() {
  TIME_ZONE_INFORMATION zone{};
  DWORD kind = GetTimeZoneInformation(&zone);
  int32_t bias = static_cast<int32_t>(zone.Bias);
  if (kind == TIME_ZONE_ID_STANDARD) bias += static_cast<int32_t>(zone.StandardBias);
  if (kind == TIME_ZONE_ID_DAYLIGHT) bias += static_cast<int32_t>(zone.DaylightBias);
  return bias;
}
