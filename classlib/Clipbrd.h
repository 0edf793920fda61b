// The system clipboard's text, as the text controls exchange it: written as Unicode text
// (clipboard format 13), read as Unicode text or, when the clipboard holds none, as ANSI text
// converted. GUI thread only.
#pragma once

#include <cstdint>

#include "System.h"

class TBitmap;

// The Unicode text format of the clipboard.
constexpr uint32_t CF_UNICODETEXT_FORMAT = 13;

class TClipboard {
 public:
  // Replaces the clipboard's content with the text (an empty text too). Answers false when the
  // clipboard cannot be opened or refuses the block; the old content may then be gone.
  bool SetAsWideText(const WideString& text);
  // The clipboard's text up to its first terminating zero, never beyond the size of the block
  // that holds it. "" when the clipboard holds no text, cannot be opened or hands out no block.
  WideString GetAsWideText();
  // True when the clipboard holds Unicode or ANSI text (which may be empty).
  bool HasText();
  // True when the clipboard holds a picture (a device-independent bitmap, or a bitmap that the
  // system hands out as one).
  bool HasPicture();
  // The clipboard's picture as a 32-bit bitmap (see TBitmap::LoadFromDIB); false, with `bitmap`
  // as it was, when the clipboard holds none, cannot be opened or holds one that cannot be read.
  bool GetAsBitmap(TBitmap& bitmap);
};

// The process's clipboard object.
TClipboard& Clipboard();

// The zero-terminated text at the start of a block of `bytes` bytes, read as UTF-16 (`wide`) or
// as ANSI text: at most the whole units the block holds; an odd last byte is dropped. Exposed
// for the tests of the bounds.
WideString ClipboardTextOfBlock(const void* block, size_t bytes, bool wide);
