// Helpers of the window-layer tests: a foreign host window, message pumping with a deadline,
// window counting and pixel read-back through a DIB section.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Emulation.h"
#include "classlib/Module.h"

// A plain top-level window of a class the layer does not know, as a host's editor frame.
class TForeignWindow {
 public:
  TForeignWindow(int width = 400, int height = 300) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KblTestHostFrame";
    RegisterClassW(&wc);  // a second registration fails harmlessly
    handle = CreateWindowExW(0, L"KblTestHostFrame", L"Host", WS_POPUP | WS_VISIBLE, 10, 10, width, height, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  ~TForeignWindow() {
    if (handle != nullptr && IsWindow(handle)) DestroyWindow(handle);
  }
  HWND handle = nullptr;
};

// Handles messages until `done` answers true or the time runs out; answers done().
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = static_cast<int>(MachineBound(3000))) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (!done()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

inline BOOL CALLBACK CountOneWindow(HWND, LPARAM data) {
  ++*reinterpret_cast<int32_t*>(data);
  return TRUE;
}

inline BOOL CALLBACK CountWindowAndChildren(HWND window, LPARAM data) {
  ++*reinterpret_cast<int32_t*>(data);
  EnumChildWindows(window, &CountOneWindow, data);
  return TRUE;
}

// Windows of the calling thread, top-level and children.
inline int32_t CountThreadWindows() {
  int32_t count = 0;
  EnumThreadWindows(GetCurrentThreadId(), &CountWindowAndChildren, reinterpret_cast<LPARAM>(&count));
  return count;
}

// True while the module has a window class of that name registered.
inline bool WindowClassRegistered(const std::string& name) {
  WNDCLASSEXA info{};
  info.cbSize = sizeof(info);
  return GetClassInfoExA(static_cast<HINSTANCE>(ModuleInstance()), name.c_str(), &info) != 0;
}

// Keyboard input for SendInput: `key` pressed and released with `modifiers` (VK_CONTROL,
// VK_SHIFT) held around it, so that the modifiers' state is the keyboard's.
inline std::vector<INPUT> KeyInputs(WORD key, const std::vector<WORD>& modifiers = {}) {
  auto input = [](WORD vk, bool up) {
    INPUT i{};
    i.type = INPUT_KEYBOARD;
    i.ki.wVk = vk;
    i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return i;
  };
  std::vector<INPUT> in;
  for (WORD m : modifiers) in.push_back(input(m, false));
  in.push_back(input(key, false));
  in.push_back(input(key, true));
  for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) in.push_back(input(*it, true));
  return in;
}

// Keyboard input for SendInput typing `text`: each UTF-16 unit as a Unicode key, as input
// methods send them.
inline std::vector<INPUT> TypedInputs(const std::u16string& text) {
  std::vector<INPUT> in;
  for (char16_t c : text) {
    INPUT down{};
    down.type = INPUT_KEYBOARD;
    down.ki.wScan = c;
    down.ki.dwFlags = KEYEVENTF_UNICODE;
    INPUT up = down;
    up.ki.dwFlags |= KEYEVENTF_KEYUP;
    in.push_back(down);
    in.push_back(up);
  }
  return in;
}

// The pixels of a window's client area as 32-bit 0x00RRGGBB values, copied through a DIB section.
class TWindowPixels {
 public:
  explicit TWindowPixels(HWND window) {
    RECT r{};
    GetClientRect(window, &r);
    width = r.right;
    height = r.bottom;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    pixels.assign(static_cast<const uint32_t*>(bits), static_cast<const uint32_t*>(bits) + width * height);
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(window, screen);
  }
  // 0x00RRGGBB
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)] & 0xFFFFFFu; }
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};
