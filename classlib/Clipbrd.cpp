// The clipboard object and the bounded reading of text blocks.
#include "Clipbrd.h"

#include <cstring>

#include "SysUtils.h"

TClipboard& Clipboard() {
  static TClipboard clipboard;
  return clipboard;
}

WideString ClipboardTextOfBlock(const void* block, size_t bytes, bool wide) {
  if (block == nullptr) return WideString();
  if (!wide) {
    const char* p = static_cast<const char*>(block);
    const void* end = std::memchr(p, 0, bytes);
    return AnsiToWide(std::string(p, end != nullptr ? static_cast<const char*>(end) - p : bytes));
  }
  // The block need not be aligned for char16_t: copy unit by unit.
  const auto* p = static_cast<const unsigned char*>(block);
  WideString text;
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    WideChar c;
    std::memcpy(&c, p + i, sizeof c);
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}
