// Win32 half of the rich-text rendering: streaming a document into a rich-edit control.
#include "ERichText.h"

#include <windows.h>
#include <richedit.h>

#include <cstring>

namespace {

struct TStreamSource {
  const std::string* Text;
  size_t Position;
};

// The control pulls the document piece by piece; a callback must not raise into the control.
DWORD CALLBACK ReadPiece(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* read) {
  auto* source = reinterpret_cast<TStreamSource*>(cookie);
  size_t left = source->Text->size() - source->Position;
  size_t count = wanted > 0 && static_cast<size_t>(wanted) < left ? static_cast<size_t>(wanted) : left;
  std::memcpy(buffer, source->Text->data() + source->Position, count);
  source->Position += count;
  *read = static_cast<LONG>(count);
  return 0;
}

}  // namespace

bool StreamRTFIntoRichEdit(uintptr_t control, const std::string& rtf) {
  HWND window = reinterpret_cast<HWND>(control);
  if (!IsWindow(window)) return false;
  TStreamSource source{&rtf, 0};
  EDITSTREAM stream{};
  stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
  stream.pfnCallback = ReadPiece;
  LRESULT taken = SendMessageA(window, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
  return taken > 0 && stream.dwError == 0;
}

void SetRichEditBackground(uintptr_t control, int32_t colour) {
  COLORREF value = colour < 0 ? GetSysColor(colour & 0xFF) : static_cast<COLORREF>(colour);
  SendMessageA(reinterpret_cast<HWND>(control), EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(value));
}
