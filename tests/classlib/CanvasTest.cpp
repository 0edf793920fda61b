// The GDI canvas read back pixel by pixel: on a DIB section and through a control's WM_PAINT.
// windows.h comes first: the class library undoes its A/W name macros (TypInfo.h, Canvas.h).
#include <windows.h>

#include "classlib/Canvas.h"

#include <gtest/gtest.h>

#include <memory>

#include "WindowTestClasses.h"
#include "WindowTestUtils.h"

namespace {

// A 32-bit top-down DIB section selected into a memory DC.
class TDibTarget {
 public:
  TDibTarget(int w, int h) : width(w) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    dc = CreateCompatibleDC(nullptr);
    dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    old = SelectObject(dc, dib);
    std::fill(bits, bits + w * h, 0x00FFFFFFu);
  }
  ~TDibTarget() {
    SelectObject(dc, old);
    DeleteObject(dib);
    DeleteDC(dc);
  }
  // As a TColor (0x00BBGGRR).
  TColor At(int x, int y) const {
    GdiFlush();
    const uint32_t v = bits[y * width + x];
    return static_cast<TColor>(((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF));
  }
  HDC dc;
  HBITMAP dib;
  HGDIOBJ old;
  uint32_t* bits = nullptr;
  int width;
};

}  // namespace

TEST(Canvas, FillsFramesAndLinesWithPenAndBrush) {
  TDibTarget target(40, 30);
  TCanvas canvas;
  canvas.SetHandle(target.dc);
  canvas.GetBrush()->SetColor(clRed);
  canvas.FillRect(Rect(2, 3, 10, 8));
  EXPECT_EQ(target.At(2, 3), clRed);
  EXPECT_EQ(target.At(9, 7), clRed);
  EXPECT_EQ(target.At(10, 7), clWhite);  // right and bottom edges are exclusive
  EXPECT_EQ(target.At(9, 8), clWhite);

  canvas.GetPen()->SetColor(clBlue);
  canvas.MoveTo(0, 20);
  canvas.LineTo(30, 20);
  EXPECT_EQ(target.At(0, 20), clBlue);
  EXPECT_EQ(target.At(29, 20), clBlue);
  EXPECT_EQ(target.At(30, 20), clWhite);

  canvas.GetBrush()->SetStyle(bsClear);
  canvas.GetPen()->SetColor(clLime);
  canvas.Rectangle(12, 2, 20, 10);
  EXPECT_EQ(target.At(12, 2), clLime);
  EXPECT_EQ(target.At(15, 5), clWhite);  // hollow brush: the inside stays

  canvas.SetPixel(35, 25, 0x123456);
  EXPECT_EQ(canvas.GetPixel(35, 25), 0x123456);
  canvas.SetHandle(nullptr);
}

TEST(Canvas, PenModesMixThePenWithWhatIsUnderIt) {
  const struct {
    TPenMode mode;
    TColor expected;
  } cases[] = {{pmCopy, 0x123456}, {pmNop, clWhite}, {pmNot, clBlack}, {pmXor, 0xEDCBA9},
               {pmBlack, clBlack}, {pmWhite, clWhite}, {pmNotCopy, 0xEDCBA9}};
  for (const auto& c : cases) {
    TDibTarget target(10, 4);
    TCanvas canvas;
    canvas.SetHandle(target.dc);
    canvas.GetPen()->SetColor(0x123456);
    canvas.GetPen()->SetMode(c.mode);
    canvas.MoveTo(0, 1);
    canvas.LineTo(8, 1);
    EXPECT_EQ(target.At(3, 1), c.expected) << static_cast<int>(c.mode);
    canvas.SetHandle(nullptr);
  }
}

TEST(Canvas, GivesTheDeviceContextBackAsItCame) {
  TDibTarget target(10, 10);
  HGDIOBJ pen = GetCurrentObject(target.dc, OBJ_PEN);
  HGDIOBJ brush = GetCurrentObject(target.dc, OBJ_BRUSH);
  HGDIOBJ font = GetCurrentObject(target.dc, OBJ_FONT);
  SetTextColor(target.dc, RGB(1, 2, 3));
  {
    TCanvas canvas;
    canvas.SetHandle(target.dc);
    canvas.GetFont()->SetColor(clRed);
    canvas.TextOut(0, 0, "x");
    canvas.GetBrush()->SetColor(clBlue);  // a change while selected
    canvas.GetPen()->SetMode(pmXor);
    canvas.FillRect(Rect(0, 0, 2, 2));
  }
  EXPECT_EQ(GetROP2(target.dc), R2_COPYPEN);
  EXPECT_EQ(GetCurrentObject(target.dc, OBJ_PEN), pen);
  EXPECT_EQ(GetCurrentObject(target.dc, OBJ_BRUSH), brush);
  EXPECT_EQ(GetCurrentObject(target.dc, OBJ_FONT), font);
  EXPECT_EQ(GetTextColor(target.dc), RGB(1, 2, 3));
}

TEST(Canvas, DrawingWithoutHandleRaises) {
  TCanvas canvas;
  EXPECT_THROW(canvas.FillRect(Rect(0, 0, 1, 1)), EInvalidOperation);
  EXPECT_THROW(canvas.TextOut(0, 0, "a"), EInvalidOperation);
}

TEST(Canvas, TextIsDrawnInTheFontColourAndMeasured) {
  TDibTarget target(80, 30);
  TCanvas canvas;
  canvas.SetHandle(target.dc);
  canvas.GetFont()->SetColor(clBlack);
  canvas.GetFont()->SetHeight(-16);
  canvas.GetBrush()->SetStyle(bsClear);
  const int32_t width = canvas.TextWidth("WWW");
  EXPECT_GT(width, canvas.TextWidth("W"));
  canvas.TextOut(2, 2, "WWW");
  int dark = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 80; ++x)
      if (target.At(x, y) == clBlack) {
        ++dark;
        EXPECT_LT(x, 2 + width + 1);
      }
  EXPECT_GT(dark, 10);
}

TEST(Canvas, DrawsBitmapsOfEachPixelFormat) {
  TDibTarget target(40, 10);
  TCanvas canvas;
  canvas.SetHandle(target.dc);

  TBitmap rgb;
  rgb.SetPixelFormat(pf24bit);
  rgb.SetSize(3, 2);
  rgb.FillColor(0x00C08040);
  uint8_t* row = rgb.ScanLine(1);
  row[3] = 0x11, row[4] = 0x22, row[5] = 0x33;  // pixel (1, 1): blue, green, red
  canvas.Draw(5, 4, &rgb);
  EXPECT_EQ(target.At(5, 4), 0x00C08040);
  EXPECT_EQ(target.At(6, 5), 0x00112233);
  EXPECT_EQ(target.At(8, 4), clWhite);

  TBitmap indexed;
  indexed.SetPixelFormat(pf8bit);
  indexed.SetPalette({TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{0x10, 0x20, 0x30, 0}});
  indexed.SetSize(2, 1);
  indexed.ScanLine(0)[1] = 1;
  canvas.Draw(20, 0, &indexed);
  EXPECT_EQ(target.At(20, 0), clBlack);
  EXPECT_EQ(target.At(21, 0), 0x00302010);

  TBitmap wide;
  wide.SetPixelFormat(pf16bit);
  wide.SetSize(1, 1);
  wide.ScanLine(0)[0] = 0x00, wide.ScanLine(0)[1] = 0xF8;  // r5g6b5: full red
  canvas.Draw(30, 0, &wide);
  EXPECT_EQ(target.At(30, 0), clRed);

  canvas.StretchDraw(Rect(0, 8, 4, 10), &wide);
  EXPECT_EQ(target.At(3, 9), clRed);
  TBitmap empty;
  canvas.Draw(0, 0, &empty);  // nothing, no failure
}

TEST(Canvas, ControlPaintsThroughItsCanvasOnWmPaint) {
  RegisterWindowTestClasses();
  std::unique_ptr<TUiBareForm> form(TCustomForm::CreateNew<TUiBareForm>(nullptr));
  form->SetBorderStyle(bsNone);
  form->SetBounds(20, 20, 60, 40);
  auto* panel = new TUiPanel(form.get());
  panel->SetParent(form.get());
  panel->SetAlign(alClient);
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetSize(4, 4);
  bitmap.FillColor(clBlue);
  panel->painter = [&](TCanvas& canvas) {
    canvas.GetBrush()->SetColor(clRed);
    canvas.FillRect(Rect(0, 0, 30, 40));
    canvas.Draw(40, 10, &bitmap);
  };
  form->Show();
  ASSERT_TRUE(PumpUntil([&] { return panel->paints > 0; }));
  UpdateWindow(panel->GetHandle());
  TWindowPixels pixels(panel->GetHandle());
  ASSERT_EQ(pixels.width, 60);
  EXPECT_EQ(pixels.At(0, 0), 0xFF0000u);   // red as 0x00RRGGBB
  EXPECT_EQ(pixels.At(29, 39), 0xFF0000u);
  EXPECT_EQ(pixels.At(41, 11), 0x0000FFu);  // the bitmap
  // The rest is the background, erased in the control's Color.
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  EXPECT_EQ(pixels.At(50, 30), static_cast<uint32_t>(GetRValue(face) << 16 | GetGValue(face) << 8 | GetBValue(face)));
}
