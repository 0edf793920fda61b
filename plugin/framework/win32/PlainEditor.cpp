// The editor form until the vector editor is linked in: a plain child window of the editor's
// size inside the host's window. The vector GUI start and stop have nothing to do yet.
#include <windows.h>

#include "../rkEditorServices.h"
#include "../TrkPluginSettings.h"
#include "classlib/Module.h"

namespace {

const char kClassName[] = "TarvikKBLDelayEditor";
int liveForms = 0;

LRESULT CALLBACK PlainEditorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    if (message == WM_ERASEBKGND) {
      RECT area;
      GetClientRect(window, &area);
      FillRect(reinterpret_cast<HDC>(wParam), &area, static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH)));
      return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

class TPlainEditor : public TPluginGui {
 public:
  explicit TPlainEditor(HWND parent) {
    HINSTANCE instance = static_cast<HINSTANCE>(ModuleInstance());
    if (liveForms++ == 0) {
      WNDCLASSA windowClass = {};
      windowClass.lpfnWndProc = PlainEditorProc;
      windowClass.hInstance = instance;
      windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
      windowClass.lpszClassName = kClassName;
      RegisterClassA(&windowClass);
    }
    TrkPluginSettings& settings = GetSettings();
    window_ = CreateWindowExA(0, kClassName, "", WS_CHILD | WS_CLIPCHILDREN, 0, 0, settings.editorWidth,
                              settings.editorHeight, parent, nullptr, instance, nullptr);
  }
  ~TPlainEditor() override {
    if (window_) DestroyWindow(window_);
    // Unregistered with the last form, so that a later load of the module registers it afresh.
    if (--liveForms == 0) UnregisterClassA(kClassName, static_cast<HINSTANCE>(ModuleInstance()));
  }
  void Show() override {
    if (window_) ShowWindow(window_, SW_SHOWNA);
  }
  void* Handle() const override { return window_; }

 private:
  HWND window_ = nullptr;
};

}  // namespace

void StartVectorGui() {}
void StopVectorGui() {}

TPluginGui* TPluginGui::CreateParented(void* parentWindow) {
  return new TPlainEditor(static_cast<HWND>(parentWindow));
}
