// The decoders' warnings on Windows: a message box captioned as given, with the exclamation icon.
#include <windows.h>

#include "../detail/GraphicWarning_p.h"

void ShowGraphicWarning(const std::string& caption, const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
}
