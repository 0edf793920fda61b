// Screenshot capture with GDI: the foreground window or the monitors under this process's
// windows, the focused window framed in red and the cursor drawn in; encoded by the portable
// PNG writer.
#include "EScreenshot.h"

#include <windows.h>

#include "ELogManager.h"
#include "classlib/Streams.h"
#include "exceptions/EmberModuleOptions.h"

namespace {

// One capture at a time, as the exception processing takes one per exception.
struct TCapture {
  HWND Window = nullptr;
  HDC WindowDC = nullptr;
  HDC MemoryDC = nullptr;
  HBITMAP Bitmap = nullptr;
  HGDIOBJ OldBitmap = nullptr;
  HPALETTE Palette = nullptr;
  HPALETTE OldPalette = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
};
TCapture gCapture;
HWND gFocusWindow = nullptr;
HCURSOR gCursor = nullptr;

struct TWindowsArea {
  DWORD ProcessId;
  RECT Area;
  bool Found;
};

BOOL CALLBACK AddProcessWindow(HWND window, LPARAM data) {
  auto* area = reinterpret_cast<TWindowsArea*>(data);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  RECT rect;
  if (process != area->ProcessId || !IsWindowVisible(window) || !GetWindowRect(window, &rect)) return TRUE;
  if (rect.right <= rect.left || rect.bottom <= rect.top) return TRUE;
  if (!area->Found) {
    area->Area = rect;
    area->Found = true;
  } else {
    UnionRect(&area->Area, &area->Area, &rect);
  }
  return TRUE;
}

// The rectangle covered by this process's visible top-level windows.
bool GetProcessWindowsRect(RECT& rect) {
  TWindowsArea area{GetCurrentProcessId(), {}, false};
  EnumWindows(AddProcessWindow, reinterpret_cast<LPARAM>(&area));
  rect = area.Area;
  return area.Found;
}

// From the monitor nearest the top-left corner to the one nearest the bottom-right corner.
bool GetMonitorsRect(const RECT& area, RECT& rect) {
  POINT topLeft{area.left, area.top}, bottomRight{area.right - 1, area.bottom - 1};
  MONITORINFO first{}, last{};
  first.cbSize = last.cbSize = sizeof(MONITORINFO);
  HMONITOR a = MonitorFromPoint(topLeft, MONITOR_DEFAULTTONEAREST);
  HMONITOR b = MonitorFromPoint(bottomRight, MONITOR_DEFAULTTONEAREST);
  if (!a || !b || !GetMonitorInfoA(a, &first) || !GetMonitorInfoA(b, &last)) return false;
  rect = {first.rcMonitor.left, first.rcMonitor.top, last.rcMonitor.right, last.rcMonitor.bottom};
  return rect.right > rect.left && rect.bottom > rect.top;
}

void FrameFocusWindow(const POINT& origin) {
  RECT rect;
  if (!gFocusWindow || !GetWindowRect(gFocusWindow, &rect)) return;
  OffsetRect(&rect, -origin.x, -origin.y);
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  FrameRect(gCapture.MemoryDC, &rect, red);
  InflateRect(&rect, -1, -1);
  FrameRect(gCapture.MemoryDC, &rect, red);
  DeleteObject(red);
}

void DrawCursor(const POINT& origin) {
  POINT position;
  if (!gCursor || !GetCursorPos(&position)) return;
  ICONINFO info{};
  if (!GetIconInfo(gCursor, &info)) return;
  if (info.hbmMask) DeleteObject(info.hbmMask);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  DrawIconEx(gCapture.MemoryDC, position.x - origin.x - static_cast<int>(info.xHotspot),
             position.y - origin.y - static_cast<int>(info.yHotspot), gCursor, 32, 32, 0, nullptr, DI_NORMAL);
}

void Capture() {
  const TEmberModuleOptions* options = LogReportState().Options;
  bool activeOnly = options && (options->SendOptions() & 0x20);
  RECT area{};
  POINT origin{0, 0};
  if (activeOnly) {
    gCapture.Window = GetForegroundWindow();
    if (!gCapture.Window) gCapture.Window = GetDesktopWindow();
    GetWindowRect(gCapture.Window, &area);
    origin = {area.left, area.top};
    gCapture.WindowDC = GetWindowDC(gCapture.Window);
  } else {
    gCapture.Window = GetDesktopWindow();
    RECT windows, monitors;
    if (GetProcessWindowsRect(windows) && GetMonitorsRect(windows, monitors)) {
      area = monitors;
    } else {
      GetWindowRect(gCapture.Window, &area);
    }
    origin = {area.left, area.top};
    gCapture.WindowDC = GetDC(gCapture.Window);
  }
  if (!gCapture.WindowDC) return;
  gCapture.Width = area.right - area.left > 0 ? area.right - area.left : 1;
  gCapture.Height = area.bottom - area.top > 0 ? area.bottom - area.top : 1;
  gCapture.Bitmap = CreateCompatibleBitmap(gCapture.WindowDC, gCapture.Width, gCapture.Height);
  gCapture.MemoryDC = CreateCompatibleDC(gCapture.WindowDC);
  if (!gCapture.Bitmap || !gCapture.MemoryDC) return;
  gCapture.OldBitmap = SelectObject(gCapture.MemoryDC, gCapture.Bitmap);

  if (GetDeviceCaps(gCapture.WindowDC, RASTERCAPS) & RC_PALETTE) {
    struct {
      WORD Version, Count;
      PALETTEENTRY Entries[256];
    } logical{0x300, 256, {}};
    GetSystemPaletteEntries(gCapture.WindowDC, 0, 256, logical.Entries);
    gCapture.Palette = CreatePalette(reinterpret_cast<LOGPALETTE*>(&logical));
    if (gCapture.Palette) {
      gCapture.OldPalette = SelectPalette(gCapture.MemoryDC, gCapture.Palette, FALSE);
      RealizePalette(gCapture.MemoryDC);
    }
  }
  // The window DC of the active window starts at the window's own corner.
  POINT source = activeOnly ? POINT{0, 0} : origin;
  BitBlt(gCapture.MemoryDC, 0, 0, gCapture.Width, gCapture.Height, gCapture.WindowDC, source.x, source.y, SRCCOPY);
  FrameFocusWindow(origin);
  DrawCursor(origin);
}

}  // namespace

void RecordScreenshotFocus(uintptr_t focusWindow, uintptr_t cursor) {
  gFocusWindow = reinterpret_cast<HWND>(focusWindow);
  gCursor = reinterpret_cast<HCURSOR>(cursor);
}

void TakeScreenshot() {
  FreeScreenshot();
  Capture();
  if (!gCapture.Bitmap || !gCapture.MemoryDC) FreeScreenshot();
}

bool HasScreenshot() { return gCapture.Bitmap != nullptr; }

void FreeScreenshot() {
  if (gCapture.MemoryDC) {
    if (gCapture.OldPalette) SelectPalette(gCapture.MemoryDC, gCapture.OldPalette, FALSE);
    if (gCapture.OldBitmap) SelectObject(gCapture.MemoryDC, gCapture.OldBitmap);
  }
  if (gCapture.Palette) DeleteObject(gCapture.Palette);
  if (gCapture.Bitmap) DeleteObject(gCapture.Bitmap);
  if (gCapture.MemoryDC) DeleteDC(gCapture.MemoryDC);
  if (gCapture.WindowDC) ReleaseDC(gCapture.Window, gCapture.WindowDC);
  gCapture = TCapture();
}

bool GetScreenshotRgb(int32_t& width, int32_t& height, std::vector<uint8_t>& rgb) {
  if (!HasScreenshot()) return false;
  width = gCapture.Width;
  height = gCapture.Height;
  // 24-bit bottom-up rows, read one at a time from the top of the image down.
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
  std::vector<uint8_t> row(stride);
  rgb.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 0);
  // The bitmap must not be selected into a DC while GetDIBits reads it.
  SelectObject(gCapture.MemoryDC, gCapture.OldBitmap);
  for (int32_t y = 0; y < height; ++y) {
    if (!GetDIBits(gCapture.MemoryDC, gCapture.Bitmap, static_cast<UINT>(height - 1 - y), 1, row.data(), &info,
                   DIB_RGB_COLORS))
      continue;
    uint8_t* out = rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 3;
    for (int32_t x = 0; x < width; ++x) {
      out[3 * x] = row[3 * x + 2];
      out[3 * x + 1] = row[3 * x + 1];
      out[3 * x + 2] = row[3 * x];
    }
  }
  SelectObject(gCapture.MemoryDC, gCapture.Bitmap);
  return true;
}

void EncodeScreenshotPNG(TStream& stream) {
  int32_t width, height;
  std::vector<uint8_t> rgb;
  if (!GetScreenshotRgb(width, height, rgb)) return;
  EncodeIndexedPNG(stream, QuantizeRgb(rgb.data(), width, height));
}

void SaveScreenshotPNG(const std::string& fileName) {
  if (fileName.empty()) return;
  try {
    TMemoryStream png;
    EncodeScreenshotPNG(png);
    if (png.GetSize() == 0) return;
    png.SaveToFile(fileName);
  } catch (...) {
    // A failed screenshot only leaves the file missing; the sender then drops the entry.
  }
}
