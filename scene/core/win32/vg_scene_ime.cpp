// The scene window's input method: the composition window placed at the caret of the focused
// text object in its font, and composed text fed in as characters.
#include <windows.h>
#include <imm.h>

#include <cmath>

#include "classlib/SysUtils.h"
#include "classlib/TypInfo.h"
#include "vg_brush.h"
#include "vg_registry.h"
#include "vg_scene.h"
#include "vg_visualobject.h"

namespace {

constexpr WORD kKoreanLanguage = 0x412;

bool KoreanLayout() { return LOWORD(reinterpret_cast<uintptr_t>(GetKeyboardLayout(0))) == kKoreanLanguage; }

// The composition font of a text object: its family, truncated size in points and weight.
void SetCompositionFont(HIMC context, TvgVisualObject* focused) {
  if (!vgInheritsFromName(focused, "TvgTextControl")) return;
  const TPropInfo* prop = GetPropInfo(focused, "Font");
  auto* font = prop != nullptr ? dynamic_cast<TvgFont*>(GetObjectProp(focused, prop)) : nullptr;
  if (font == nullptr) return;
  HDC screen = GetDC(nullptr);
  const int ppi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  LOGFONTW lf{};
  lf.lfHeight = -MulDiv(static_cast<int>(std::trunc(font->GetSize())), ppi, 72);
  const TvgFontStyle style = font->GetStyle();
  lf.lfWeight = style == vgFontBold || style == vgFontBoldItalic ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = style == vgFontItalic || style == vgFontBoldItalic ? TRUE : FALSE;
  lf.lfCharSet = DEFAULT_CHARSET;
  const WideString family = Utf8ToWide(font->GetFamily());
  const std::wstring face(family.begin(), family.end());
  lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
  ImmSetCompositionFontW(context, &lf);
}

}  // namespace

void TvgCustomScene::ImeStartComposition() {
  HWND window = GetHandle();
  HIMC context = ImmGetContext(window);
  if (context == nullptr) return;
  TvgVisualObject* focused = engine_->GetFocused();
  if (focused != nullptr) SetCompositionFont(context, focused);
  COMPOSITIONFORM form{};
  form.dwStyle = CFS_RECT;
  GetClientRect(window, &form.rcArea);
  if (focused != nullptr) {
    const TvgPoint origin = focused->LocalToAbsolute(vgPoint(0, 0));
    form.ptCurrentPos.x = static_cast<LONG>(std::trunc(origin.X));
    form.ptCurrentPos.y = static_cast<LONG>(std::trunc(origin.Y));
    if (auto* caret = dynamic_cast<IvgImeCaret*>(focused)) {
      const TvgPoint offset = caret->GetImeCaretOffset();
      form.ptCurrentPos.x += static_cast<LONG>(std::trunc(offset.X));
      form.ptCurrentPos.y += static_cast<LONG>(std::trunc(offset.Y));
    }
  }
  if (KoreanLayout()) {
    form.rcArea.left = form.ptCurrentPos.x;
    form.rcArea.top = form.ptCurrentPos.y;
    OffsetRect(&form.rcArea, 0, 1);
  }
  ImmSetCompositionWindow(context, &form);
  ImmReleaseContext(window, context);
}

bool TvgCustomScene::ImeComposition(TMessage& message) {
  if ((message.LParam & GCS_RESULTSTR) == 0) return false;
  HWND window = GetHandle();
  HIMC context = ImmGetContext(window);
  if (context == nullptr) return false;
  const LONG bytes = ImmGetCompositionStringW(context, GCS_RESULTSTR, nullptr, 0);
  std::wstring text;
  if (bytes > 0) {
    text.resize(static_cast<size_t>(bytes) / sizeof(wchar_t));
    const LONG got = ImmGetCompositionStringW(context, GCS_RESULTSTR, text.data(), static_cast<DWORD>(bytes));
    text.resize(got > 0 ? static_cast<size_t>(got) / sizeof(wchar_t) : 0);
  }
  ImmReleaseContext(window, context);
  for (wchar_t c : text) {
    uint16_t key = 0;
    WideChar ch = static_cast<WideChar>(c);
    engine_->KeyDown(key, ch, 0);
  }
  // The Korean input method moves on to the next character at once: place its window again.
  if (KoreanLayout()) PostMessageW(window, WM_IME_STARTCOMPOSITION, 0, 0);
  message.Result = 0;
  return true;
}
