// The clipboard through Win32: global memory blocks of Unicode or ANSI text, owned by the
// thread's utility window while the clipboard is open.
#include <windows.h>

#include <cstring>

#include "../Clipbrd.h"
#include "../Graphics.h"
#include "../SysUtils.h"
#include "Windowing_p.h"

namespace {

// Holds the clipboard open for a scope; another program may keep it for a moment, so the
// opening is tried a few times.
class TClipboardLock {
 public:
  TClipboardLock() : owner_(kbl_win::AcquireUtilityWindow()) {
    for (int attempt = 0; attempt < 5 && !open_; ++attempt) {
      open_ = OpenClipboard(owner_) != FALSE;
      if (!open_) Sleep(10);
    }
  }
  ~TClipboardLock() {
    if (open_) CloseClipboard();
    kbl_win::ReleaseUtilityWindow();
  }
  TClipboardLock(const TClipboardLock&) = delete;
  TClipboardLock& operator=(const TClipboardLock&) = delete;
  bool IsOpen() const { return open_; }

 private:
  HWND owner_;
  bool open_ = false;
};

// The text of the clipboard's block of that format; "" when the block is missing or cannot be
// locked.
WideString ReadFormat(UINT format) {
  HANDLE block = GetClipboardData(format);
  if (block == nullptr) return WideString();
  const SIZE_T size = GlobalSize(block);
  const void* data = GlobalLock(block);
  if (data == nullptr) return WideString();
  WideString text = ClipboardTextOfBlock(data, size, format == CF_UNICODETEXT);
  GlobalUnlock(block);
  return text;
}

}  // namespace

bool TClipboard::SetAsWideText(const WideString& text) {
  TClipboardLock lock;
  if (!lock.IsOpen() || !EmptyClipboard()) return false;
  const size_t bytes = (text.size() + 1) * sizeof(WideChar);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, bytes);
  if (block == nullptr) return false;
  void* data = GlobalLock(block);
  if (data == nullptr) {
    GlobalFree(block);
    return false;
  }
  std::memcpy(data, text.c_str(), bytes);
  GlobalUnlock(block);
  // On success the clipboard owns the block; on failure it is still ours.
  if (SetClipboardData(CF_UNICODETEXT, block) == nullptr) {
    GlobalFree(block);
    return false;
  }
  return true;
}

WideString TClipboard::GetAsWideText() {
  TClipboardLock lock;
  if (!lock.IsOpen()) return WideString();
  if (IsClipboardFormatAvailable(CF_UNICODETEXT)) return ReadFormat(CF_UNICODETEXT);
  if (IsClipboardFormatAvailable(CF_TEXT)) return ReadFormat(CF_TEXT);
  return WideString();
}

bool TClipboard::HasText() {
  return IsClipboardFormatAvailable(CF_UNICODETEXT) || IsClipboardFormatAvailable(CF_TEXT);
}

bool TClipboard::HasPicture() { return IsClipboardFormatAvailable(CF_DIB) != FALSE; }

bool TClipboard::GetAsBitmap(TBitmap& bitmap) {
  TClipboardLock lock;
  // The system hands out CF_DIB for a bitmap put on the clipboard in any bitmap format.
  if (!lock.IsOpen() || !IsClipboardFormatAvailable(CF_DIB)) return false;
  HANDLE block = GetClipboardData(CF_DIB);
  if (block == nullptr) return false;
  const SIZE_T size = GlobalSize(block);
  const void* data = GlobalLock(block);
  if (data == nullptr) return false;
  bool read = true;
  try {
    bitmap.LoadFromDIB(data, size);
  } catch (const EInvalidGraphic&) {
    read = false;
  }
  GlobalUnlock(block);
  return read;
}
