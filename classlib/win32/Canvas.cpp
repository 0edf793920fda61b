// The GDI canvas: colours resolved, and drawing with the pen, brush and font.
#include <windows.h>

#include "../Canvas.h"

#include <algorithm>
#include <vector>

#include "Windowing_p.h"

// --- Colours

uint32_t ColorToRGB(TColor color) {
  if (color == clNone || color == clDefault) return 0;
  if ((static_cast<uint32_t>(color) & 0xFF000000u) == 0xFF000000u) return GetSysColor(color & 0xFF);
  return static_cast<uint32_t>(color) & 0xFFFFFFu;
}

// --- TCanvas

namespace {

int PenStyleOf(TPenStyle style) {
  switch (style) {
    case psDash: return PS_DASH;
    case psDot: return PS_DOT;
    case psDashDot: return PS_DASHDOT;
    case psDashDotDot: return PS_DASHDOTDOT;
    case psClear: return PS_NULL;
    case psInsideFrame: return PS_INSIDEFRAME;
    default: return PS_SOLID;
  }
}

// The raster operation of each pen mode, in the order of TPenMode.
constexpr int kPenModeRop[] = {R2_BLACK,       R2_WHITE,      R2_NOP,       R2_NOT,
                               R2_COPYPEN,     R2_NOTCOPYPEN, R2_MERGEPENNOT, R2_MASKPENNOT,
                               R2_MERGENOTPEN, R2_MASKNOTPEN, R2_MERGEPEN,  R2_NOTMERGEPEN,
                               R2_MASKPEN,     R2_NOTMASKPEN, R2_XORPEN,    R2_NOTXORPEN};

int HatchOf(TBrushStyle style) {
  switch (style) {
    case bsHorizontal: return HS_HORIZONTAL;
    case bsVertical: return HS_VERTICAL;
    case bsFDiagonal: return HS_FDIAGONAL;
    case bsBDiagonal: return HS_BDIAGONAL;
    case bsCross: return HS_CROSS;
    default: return HS_DIAGCROSS;
  }
}

TColor FromColorRef(COLORREF value) { return static_cast<TColor>(value & 0xFFFFFFu); }

}  // namespace

KBL_PUBLISHED(TCanvas) {}

TCanvas::TCanvas() : pen_(new TPen), brush_(new TBrush), font_(new TFont) {
  pen_->OnChange = TNotifyEvent::Of<&TCanvas::ObjectChanged>(this);
  brush_->OnChange = TNotifyEvent::Of<&TCanvas::ObjectChanged>(this);
  font_->OnChange = TNotifyEvent::Of<&TCanvas::ObjectChanged>(this);
}

TCanvas::~TCanvas() {
  SetHandle(nullptr);
  for (void* object : {gdiPen_, gdiBrush_, gdiFont_})
    if (object != nullptr) DeleteObject(static_cast<HGDIOBJ>(object));
  delete pen_;
  delete brush_;
  delete font_;
}

void TCanvas::SetHandle(HDC dc) {
  if (dc == dc_) return;
  DeselectObjects();
  dc_ = dc;
}

void TCanvas::RequireHandle() const {
  if (dc_ == nullptr) throw EInvalidOperation("Canvas does not allow drawing");
}

void TCanvas::SelectObjects() {
  RequireHandle();
  if (selected_) return;
  if (gdiPen_ == nullptr)
    gdiPen_ = CreatePen(PenStyleOf(pen_->GetStyle()), std::max<int32_t>(pen_->GetWidth(), 1), ColorToRGB(pen_->GetColor()));
  if (gdiBrush_ == nullptr) {
    const COLORREF color = ColorToRGB(brush_->GetColor());
    switch (brush_->GetStyle()) {
      case bsSolid: gdiBrush_ = CreateSolidBrush(color); break;
      case bsClear: {
        const LOGBRUSH hollow{BS_NULL, 0, 0};
        gdiBrush_ = CreateBrushIndirect(&hollow);
        break;
      }
      default: gdiBrush_ = CreateHatchBrush(HatchOf(brush_->GetStyle()), color); break;
    }
  }
  if (gdiFont_ == nullptr) {
    const TFontStyles style = font_->GetStyle();
    gdiFont_ = CreateFontW(font_->GetHeight(), 0, 0, 0, style.Contains(fsBold) ? FW_BOLD : FW_NORMAL,
                           style.Contains(fsItalic), style.Contains(fsUnderline), style.Contains(fsStrikeOut),
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, kbl_win::ToWide(font_->GetName()).c_str());
  }
  oldPen_ = SelectObject(dc_, static_cast<HGDIOBJ>(gdiPen_));
  oldBrush_ = SelectObject(dc_, static_cast<HGDIOBJ>(gdiBrush_));
  oldFont_ = SelectObject(dc_, static_cast<HGDIOBJ>(gdiFont_));
  oldTextColor_ = GetTextColor(dc_);
  oldBkColor_ = GetBkColor(dc_);
  oldBkMode_ = GetBkMode(dc_);
  oldRop2_ = SetROP2(dc_, kPenModeRop[pen_->GetMode()]);
  selected_ = true;
}

void TCanvas::DeselectObjects() {
  if (!selected_) return;
  // The DC gets back what it held, so a caller's DC leaves the canvas as it came.
  SelectObject(dc_, static_cast<HGDIOBJ>(oldPen_));
  SelectObject(dc_, static_cast<HGDIOBJ>(oldBrush_));
  SelectObject(dc_, static_cast<HGDIOBJ>(oldFont_));
  SetTextColor(dc_, oldTextColor_);
  SetBkColor(dc_, oldBkColor_);
  SetBkMode(dc_, oldBkMode_);
  if (oldRop2_ != 0) SetROP2(dc_, oldRop2_);
  selected_ = false;
}

void TCanvas::ObjectChanged(TObject* sender) {
  DeselectObjects();
  void** object = sender == pen_ ? &gdiPen_ : sender == brush_ ? &gdiBrush_ : &gdiFont_;
  if (*object != nullptr) DeleteObject(static_cast<HGDIOBJ>(*object));
  *object = nullptr;
}

void TCanvas::FillRect(const TRect& rect) {
  SelectObjects();
  if (brush_->GetStyle() == bsClear) return;
  RECT r{rect.Left, rect.Top, rect.Right, rect.Bottom};
  ::FillRect(dc_, &r, static_cast<HBRUSH>(gdiBrush_));
}

void TCanvas::FrameRect(const TRect& rect) {
  SelectObjects();
  if (brush_->GetStyle() == bsClear) return;
  RECT r{rect.Left, rect.Top, rect.Right, rect.Bottom};
  ::FrameRect(dc_, &r, static_cast<HBRUSH>(gdiBrush_));
}

void TCanvas::Rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  SelectObjects();
  ::Rectangle(dc_, left, top, right, bottom);
}

void TCanvas::Ellipse(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  SelectObjects();
  ::Ellipse(dc_, left, top, right, bottom);
}

void TCanvas::MoveTo(int32_t x, int32_t y) {
  SelectObjects();
  MoveToEx(dc_, x, y, nullptr);
}

void TCanvas::LineTo(int32_t x, int32_t y) {
  SelectObjects();
  ::LineTo(dc_, x, y);
}

void TCanvas::TextOut(int32_t x, int32_t y, const std::string& text) { TextOutWide(x, y, AnsiToWide(text)); }

void TCanvas::TextOutWide(int32_t x, int32_t y, const WideString& text) {
  SelectObjects();
  SetTextColor(dc_, ColorToRGB(font_->GetColor()));
  if (brush_->GetStyle() == bsClear) {
    SetBkMode(dc_, TRANSPARENT);
  } else {
    SetBkMode(dc_, OPAQUE);
    SetBkColor(dc_, ColorToRGB(brush_->GetColor()));
  }
  std::wstring wide = kbl_win::ToWide(text);
  ::TextOutW(dc_, x, y, wide.c_str(), static_cast<int>(wide.size()));
}

int32_t TCanvas::TextWidth(const std::string& text) {
  SelectObjects();
  std::wstring wide = kbl_win::ToWide(text);
  SIZE size{};
  GetTextExtentPoint32W(dc_, wide.c_str(), static_cast<int>(wide.size()), &size);
  return size.cx;
}

int32_t TCanvas::TextHeight(const std::string& text) {
  SelectObjects();
  std::wstring wide = kbl_win::ToWide(text.empty() ? std::string("Wg") : text);
  SIZE size{};
  GetTextExtentPoint32W(dc_, wide.c_str(), static_cast<int>(wide.size()), &size);
  return size.cy;
}

void TCanvas::Draw(int32_t x, int32_t y, const TBitmap* bitmap) {
  if (bitmap == nullptr) return;
  DrawBitmap(Rect(x, y, x + bitmap->GetWidth(), y + bitmap->GetHeight()), bitmap);
}

void TCanvas::StretchDraw(const TRect& rect, const TBitmap* bitmap) { DrawBitmap(rect, bitmap); }

void TCanvas::DrawBitmap(const TRect& dest, const TBitmap* bitmap) {
  RequireHandle();
  if (bitmap == nullptr || bitmap->GetEmpty()) return;
  const TPixelFormat format = bitmap->GetPixelFormat();
  if (format == pfCustom) return;
  SelectObjects();
  // The bitmap's memory is a top-down DIB already: describe it and hand it over as it is.
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
  } info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = bitmap->GetWidth();
  info.header.biHeight = -bitmap->GetHeight();
  info.header.biPlanes = 1;
  info.header.biCompression = BI_RGB;
  switch (format) {
    case pfDevice: info.header.biBitCount = 32; break;
    case pf15bit: info.header.biBitCount = 16; break;
    case pf16bit: {
      info.header.biBitCount = 16;
      info.header.biCompression = BI_BITFIELDS;
      const DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
      std::copy(std::begin(masks), std::end(masks), reinterpret_cast<DWORD*>(info.colors));
      break;
    }
    default: info.header.biBitCount = static_cast<WORD>(TBitmap::BitsPerPixelOf(format)); break;
  }
  if (info.header.biBitCount <= 8) {
    const TPaletteEntries& palette = bitmap->GetPalette();
    const size_t count = std::min<size_t>(palette.size(), size_t{1} << info.header.biBitCount);
    for (size_t i = 0; i < count; ++i)
      info.colors[i] = RGBQUAD{palette[i].peBlue, palette[i].peGreen, palette[i].peRed, 0};
    info.header.biClrUsed = static_cast<DWORD>(1u << info.header.biBitCount);
  }
  StretchDIBits(dc_, dest.Left, dest.Top, dest.Right - dest.Left, dest.Bottom - dest.Top, 0, 0, bitmap->GetWidth(),
                bitmap->GetHeight(), bitmap->ScanLine(0), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                SRCCOPY);
}

TColor TCanvas::GetPixel(int32_t x, int32_t y) {
  RequireHandle();
  return FromColorRef(::GetPixel(dc_, x, y));
}

void TCanvas::SetPixel(int32_t x, int32_t y, TColor color) {
  RequireHandle();
  ::SetPixel(dc_, x, y, ColorToRGB(color));
}
