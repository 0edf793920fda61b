// Screenshot capture under Wine: a window of known colours is captured, framed and written as
// PNG; the PNG is decoded here with zlib's inflate and, after the run, by python.
#include "exceptions/report/EScreenshot.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include "ArtifactCheck.h"
#include "Emulation.h"
#include "classlib/Streams.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/report/ELogManager.h"

namespace {

const char* const kKind = "screenshot";
constexpr int kWidth = 90, kHeight = 70;
const RECT kChild = {30, 20, 60, 45};

// The colour the test window shows at (x, y): four quadrants and a white child.
COLORREF Expected(int x, int y) {
  if (x >= kChild.left && x < kChild.right && y >= kChild.top && y < kChild.bottom) return RGB(255, 255, 255);
  if (y < kHeight / 2) return x < kWidth / 2 ? RGB(200, 30, 40) : RGB(20, 160, 60);
  return x < kWidth / 2 ? RGB(30, 60, 220) : RGB(240, 220, 10);
}

LRESULT CALLBACK PaintProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    POINT offset{0, 0};
    MapWindowPoints(window, GetAncestor(window, GA_ROOT), &offset, 1);
    for (int y = 0; y < client.bottom; ++y)
      for (int x = 0; x < client.right; ++x) SetPixel(dc, x, y, Expected(x + offset.x, y + offset.y));
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

void Pump(int milliseconds) {
  DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
  while (GetTickCount() < end) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(10);
  }
}

struct Png {
  uint32_t Width = 0, Height = 0;
  std::string Palette, Pixels;
};

uint32_t Be32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 | uint32_t(uint8_t(s[at + 2])) << 8 |
         uint8_t(s[at + 3]);
}

// A reader for this PNG layout: chunks, inflate of the joined IDAT data.
bool Decode(const std::string& data, Png& png) {
  if (data.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return false;
  std::string idat;
  for (size_t at = 8; at + 12 <= data.size();) {
    uint32_t length = Be32(data, at);
    std::string type = data.substr(at + 4, 4), body = data.substr(at + 8, length);
    uint32_t crc = static_cast<uint32_t>(crc32(crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4),
                                               reinterpret_cast<const Bytef*>(body.data()), length));
    if (crc != Be32(data, at + 8 + length)) return false;
    if (type == "IHDR") {
      png.Width = Be32(body, 0);
      png.Height = Be32(body, 4);
    } else if (type == "PLTE") {
      png.Palette = body;
    } else if (type == "IDAT") {
      idat += body;
    }
    at += 12 + length;
  }
  png.Pixels.resize(static_cast<size_t>(png.Height) * (png.Width + 1));
  uLongf size = static_cast<uLongf>(png.Pixels.size());
  return uncompress(reinterpret_cast<Bytef*>(png.Pixels.data()), &size,
                    reinterpret_cast<const Bytef*>(idat.data()), static_cast<uLong>(idat.size())) == Z_OK &&
         size == png.Pixels.size();
}

COLORREF PngPixel(const Png& png, uint32_t x, uint32_t y) {
  uint8_t index = static_cast<uint8_t>(png.Pixels[y * (png.Width + 1) + 1 + x]);
  return RGB(uint8_t(png.Palette[3 * index]), uint8_t(png.Palette[3 * index + 1]), uint8_t(png.Palette[3 * index + 2]));
}

class ScreenshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = PaintProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KblScreenshotTest";
    RegisterClassA(&windowClass);
    window = CreateWindowExA(WS_EX_TOPMOST, "KblScreenshotTest", "", WS_POPUP | WS_VISIBLE, 40, 30, kWidth, kHeight,
                             nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    child = CreateWindowExA(0, "KblScreenshotTest", "", WS_CHILD | WS_VISIBLE, kChild.left, kChild.top,
                            kChild.right - kChild.left, kChild.bottom - kChild.top, window, nullptr,
                            windowClass.hInstance, nullptr);
    SetForegroundWindow(window);
    UpdateWindow(window);
    Pump(static_cast<int>(MachineBound(500)));
    options.SetSendOptions(0x20);
    LogReportState().Options = &options;
  }
  void TearDown() override {
    FreeScreenshot();
    RecordScreenshotFocus(0, 0);
    LogReportState() = TLogReportState();
    if (window) DestroyWindow(window);
  }

  // Captures and decodes; the expected RGB and manifest go to the python check as `name`.
  void CaptureAndCheck(const std::string& name, bool framed) {
    ASSERT_EQ(GetForegroundWindow(), window) << "the test window must be in front";
    TakeScreenshot();
    ASSERT_TRUE(HasScreenshot());
    std::string file = artifacts::Path(kKind, name + ".png");
    SaveScreenshotPNG(file);
    Png png;
    ASSERT_TRUE(Decode(ReadFileBytes(file), png));
    ASSERT_EQ(png.Width, uint32_t(kWidth));
    ASSERT_EQ(png.Height, uint32_t(kHeight));
    std::string rgb;
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        COLORREF want = Expected(x, y);
        bool frame = framed && x >= kChild.left && x < kChild.right && y >= kChild.top && y < kChild.bottom &&
                     (x < kChild.left + 2 || x >= kChild.right - 2 || y < kChild.top + 2 || y >= kChild.bottom - 2);
        if (frame) want = RGB(255, 0, 0);
        rgb += {char(GetRValue(want)), char(GetGValue(want)), char(GetBValue(want))};
        if (PngPixel(png, x, y) != want && ++wrong <= 5)
          ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << PngPixel(png, x, y) << " not " << want;
      }
    EXPECT_EQ(wrong, 0);
    WriteFileBytes(artifacts::Path(kKind, name + ".rgb"), rgb);
    artifacts::WriteText(kKind, name + ".pngcheck",
                         "{\"png\": \"" + name + ".png\", \"rgb\": \"" + name + ".rgb\", \"width\": " +
                             std::to_string(kWidth) + ", \"height\": " + std::to_string(kHeight) + "}");
  }

  HWND window = nullptr;
  HWND child = nullptr;
  TEmberModuleOptions options{""};
};

TEST_F(ScreenshotTest, ActiveWindowIsCapturedPixelByPixel) { CaptureAndCheck("window", false); }

TEST_F(ScreenshotTest, FocusedWindowIsFramedTwiceInRed) {
  RecordScreenshotFocus(reinterpret_cast<uintptr_t>(child), 0);
  CaptureAndCheck("framed", true);
}

TEST_F(ScreenshotTest, ProcessAreaCoversTheWindowOnItsMonitor) {
  options.SetSendOptions(0);
  TakeScreenshot();
  int32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(GetScreenshotRgb(width, height, rgb));
  // The capture starts at the monitor's corner, so the window sits at its screen position.
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(MONITORINFO);
  GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
  EXPECT_EQ(width, monitor.rcMonitor.right - monitor.rcMonitor.left);
  EXPECT_EQ(height, monitor.rcMonitor.bottom - monitor.rcMonitor.top);
  RECT rect;
  GetWindowRect(window, &rect);
  for (POINT p : {POINT{5, 5}, POINT{kWidth - 5, 5}, POINT{5, kHeight - 5}, POINT{kWidth - 5, kHeight - 5}}) {
    size_t at = (size_t(rect.top + p.y - monitor.rcMonitor.top) * size_t(width) + size_t(rect.left + p.x - monitor.rcMonitor.left)) * 3;
    COLORREF got = RGB(rgb[at], rgb[at + 1], rgb[at + 2]);
    EXPECT_EQ(got, Expected(p.x, p.y)) << p.x << "," << p.y;
  }
  FreeScreenshot();
  EXPECT_FALSE(HasScreenshot());
  SaveScreenshotPNG(artifacts::Path(kKind, "none.png"));
  EXPECT_FALSE(FileExists(artifacts::Path(kKind, "none.png")));
  SaveScreenshotPNG("");
}

}  // namespace
