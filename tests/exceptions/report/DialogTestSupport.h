// Helpers of the tests that meet the exception dialogs on the screen: waiting for a dialog of
// this process, reading and setting its items, clicking, and screenshots kept in the build
// folder ("dialog-screenshots") for a look.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "Emulation.h"
#include "classlib/Streams.h"
#include "exceptions/report/EDetailedDialog.h"
#include "exceptions/report/EScreenshot.h"

namespace dialogtest {

// --- Waiting, reading and clicking

inline bool WaitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < static_cast<int>(MachineBound(1000)); ++i) {
    if (condition()) return true;
    Sleep(10);
  }
  return condition();
}

struct FindData {
  std::string caption;
  HWND found = nullptr;
};

inline BOOL CALLBACK FindOwnDialog(HWND window, LPARAM data) {
  auto* find = reinterpret_cast<FindData*>(data);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char name[64] = {}, text[256] = {};
  GetClassNameA(window, name, sizeof name);
  GetWindowTextA(window, text, sizeof text);
  // A window still waiting for its first paint may take a posted click before it: the dialog then
  // ends before it was ever shown.
  if (process == GetCurrentProcessId() && IsWindowVisible(window) && !GetUpdateRect(window, nullptr, FALSE) &&
      std::string(name) == "#32770" && find->caption == text) {
    find->found = window;
    return FALSE;
  }
  return TRUE;
}

// The visible dialog of this process with `caption`, once it has painted.
inline HWND WaitForDialog(const std::string& caption) {
  FindData find{caption};
  WaitFor([&] {
    find.found = nullptr;
    EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(&find));
    return find.found != nullptr;
  });
  return find.found;
}

inline std::string Text(HWND window) {
  char text[4096] = {};
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}
inline std::string Item(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }
inline bool Shown(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }
inline void SetItem(HWND dialog, int id, const std::string& text) {
  SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
inline void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
inline bool Checked(HWND dialog, int id) { return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

inline std::string ListText(HWND list, int item, int column) { return GetListItemText(reinterpret_cast<uintptr_t>(list), item, column); }
inline int ListCount(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

inline void ClickAt(HWND window, int x, int y) {
  PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  PostMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

// --- Screenshots (kept in the build folder for a look)

struct Capture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  COLORREF At(int x, int y) const {
    const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    return RGB(p[0], p[1], p[2]);
  }
};

inline Capture CaptureScreen(const RECT& rect) {
  Capture capture;
  capture.width = rect.right - rect.left;
  capture.height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, capture.width, capture.height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, capture.width, capture.height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = capture.width;
  info.bmiHeader.biHeight = -capture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  std::vector<uint8_t> bgra(static_cast<size_t>(capture.width) * capture.height * 4);
  GetDIBits(memory, bitmap, 0, capture.height, bgra.data(), &info, DIB_RGB_COLORS);
  for (size_t i = 0; i < bgra.size(); i += 4) capture.rgb.insert(capture.rgb.end(), {bgra[i + 2], bgra[i + 1], bgra[i]});
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return capture;
}

inline Capture Screenshot(HWND window, const std::string& name) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  RECT rect;
  GetWindowRect(window, &rect);
  Capture capture = CaptureScreen(rect);
  TIndexedImage image = QuantizeRgb(capture.rgb.data(), capture.width, capture.height);
  TMemoryStream stream;
  EncodeIndexedPNG(stream, image);
  CreateDirectoryA("dialog-screenshots", nullptr);
  WriteFileBytes("dialog-screenshots\\" + name + ".png",
                 std::string(reinterpret_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.GetSize())));
  return capture;
}

}  // namespace dialogtest
