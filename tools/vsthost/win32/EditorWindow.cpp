// The host window around a plug-in editor on Windows: its window class, the message loop with
// the idle calls, and the screenshot of its client area.
#include <windows.h>

#include <chrono>

#include "../EditorWindow.h"

namespace {

const wchar_t kClassName[] = L"KblVstHostEditorFrame";

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    // The editor is closed by its owner before the window goes; the loop notices the hidden frame.
    ShowWindow(window, SW_HIDE);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterFrameClass() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = FrameProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassW(&wc);  // a second registration fails harmlessly
}

}  // namespace

TEditorWindow::TEditorWindow(TVstHost& host) : host_(host) {
  AEffect* effect = host.Effect();
  if (!effect || (effect->flags & effFlagsHasEditor) == 0) throw EHostError("the plug-in has no editor");
  ERect* rect = nullptr;
  host.Dispatch(effEditGetRect, 0, 0, &rect);
  if (!rect || rect->right <= rect->left || rect->bottom <= rect->top)
    throw EHostError("the plug-in reports no editor size");
  width_ = rect->right - rect->left;
  height_ = rect->bottom - rect->top;
  RegisterFrameClass();
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT frame{0, 0, width_, height_};
  AdjustWindowRect(&frame, style, FALSE);
  HWND window = CreateWindowExW(0, kClassName, L"vsthost", style, 40, 40, frame.right - frame.left,
                                frame.bottom - frame.top, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window) throw EHostError("cannot create the editor window");
  window_ = window;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  const std::string name = host.EffectName();
  SetWindowTextA(window, name.empty() ? "vsthost" : name.c_str());
  try {
    Open();
  } catch (...) {
    DestroyWindow(window);
    window_ = nullptr;
    throw;
  }
}

void TEditorWindow::Open() {
  if (open_) return;
  if (host_.Dispatch(effEditOpen, 0, 0, window_) == 0) throw EHostError("the plug-in did not open its editor");
  open_ = true;
}

TEditorWindow::~TEditorWindow() {
  Close();
  if (window_ && IsWindow(static_cast<HWND>(window_))) DestroyWindow(static_cast<HWND>(window_));
}

void TEditorWindow::Close() {
  if (!open_) return;
  open_ = false;
  host_.Dispatch(effEditClose);
}

void* TEditorWindow::EditorHandle() const {
  return window_ ? GetWindow(static_cast<HWND>(window_), GW_CHILD) : nullptr;
}

bool TEditorWindow::Run(int32_t milliseconds, const std::function<bool()>& until) {
  HWND window = static_cast<HWND>(window_);
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
  auto nextIdle = Clock::now();
  while (IsWindowVisible(window)) {
    const auto now = Clock::now();
    if (now >= nextIdle) {
      host_.Dispatch(effEditIdle);
      nextIdle = now + std::chrono::milliseconds(20);
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (until && until()) return true;
    if (Clock::now() >= end) return true;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(std::min(nextIdle, end) - Clock::now());
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::max<int64_t>(0, wait.count())), QS_ALLINPUT);
  }
  return false;
}

TScreenshot TEditorWindow::Screenshot() const {
  TScreenshot shot;
  HWND window = static_cast<HWND>(window_);
  RECT r{};
  GetClientRect(window, &r);
  shot.width = r.right;
  shot.height = r.bottom;
  if (shot.width <= 0 || shot.height <= 0) return shot;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = shot.width;
  info.bmiHeader.biHeight = -shot.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  HDC screen = GetDC(window);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, shot.width, shot.height, screen, 0, 0, SRCCOPY);
  GdiFlush();
  const auto* pixels = static_cast<const uint32_t*>(bits);
  shot.pixels.assign(pixels, pixels + static_cast<size_t>(shot.width) * shot.height);
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(window, screen);
  return shot;
}
