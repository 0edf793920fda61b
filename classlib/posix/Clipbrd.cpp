// Outside Windows the clipboard is the process's own: a text kept in memory.
#include "../Clipbrd.h"

namespace {
struct TProcessClipboard {
  WideString text;
  bool hasText = false;
};
TProcessClipboard& Held() {
  static TProcessClipboard held;
  return held;
}
}  // namespace

bool TClipboard::SetAsWideText(const WideString& text) {
  // Like the system clipboard, the text ends at its first zero.
  Held().text = text.substr(0, text.find(u'\0'));
  Held().hasText = true;
  return true;
}

WideString TClipboard::GetAsWideText() { return Held().text; }

bool TClipboard::HasText() { return Held().hasText; }

// Pictures pass through the system's clipboard only.
bool TClipboard::HasPicture() { return false; }

bool TClipboard::GetAsBitmap(TBitmap&) { return false; }
