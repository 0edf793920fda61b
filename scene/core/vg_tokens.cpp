// Token routines of the scene engine.
#include "vg_tokens.h"

#include "classlib/SysUtils.h"

std::string vgGetToken(std::string& s, const std::string& separators, const std::string& stops) {
  std::string token;
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (stops.find(c) != std::string::npos) break;
    ++i;
    if (separators.find(c) != std::string::npos) break;
    token.push_back(c);
  }
  s.erase(0, i);
  s = Trim(s);
  return Trim(token);
}

WideString vgWideGetToken(int32_t& pos, const WideString& s, const WideString& separators,
                          const WideString& stops) {
  const int32_t size = static_cast<int32_t>(s.size());
  if (pos < 0) pos = 0;
  if (pos >= size) {
    pos = size;
    return WideString();
  }
  WideString token;
  while (pos < size && stops.find(s[pos]) == WideString::npos && separators.find(s[pos]) == WideString::npos) {
    token.push_back(s[pos]);
    ++pos;
  }
  while (pos < size && separators.find(s[pos]) != WideString::npos) ++pos;
  return token;
}
