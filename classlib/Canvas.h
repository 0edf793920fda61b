// The GDI canvas of the window layer: draws with the class library's pens, brushes and fonts
// (Graphics.h) onto a device context (a window's paint DC or any other). Win32 only.
#pragma once

#ifndef _WIN32
#error "Canvas.h is part of the Win32 window layer"
#endif

#include <cstdint>
#include <string>

#include "Classes.h"
#include "Graphics.h"
#include "TypInfo.h"

// windows.h maps TextOut to its A/W functions; the canvas uses the name as the platform does.
#ifdef TextOut
#undef TextOut
#endif

// Handles of the Win32 API as windows.h declares them with STRICT (so both may be included).
struct HDC__;
typedef HDC__* HDC;

// --- Colours

// The RGB value of a colour: system colours resolved through the current scheme; clNone and
// clDefault give black.
uint32_t ColorToRGB(TColor color);

// --- TCanvas

// Draws on a device context it does not own. The pen, brush and font are selected into the DC
// when a drawing call needs them and taken out again when the handle changes, so the DC is
// handed back as it came. Drawing without a handle raises EInvalidOperation ("Canvas does not
// allow drawing").
class TCanvas : public TPersistent {
  KBL_DECLARE_CLASS(TCanvas, TPersistent)
 public:
  TCanvas();
  ~TCanvas() override;

  HDC GetHandle() const { return dc_; }
  // Takes a DC (nullptr: none); the previous one gets its own objects back.
  void SetHandle(HDC dc);
  bool HandleAllocated() const { return dc_ != nullptr; }

  TPen* GetPen() const { return pen_; }
  TBrush* GetBrush() const { return brush_; }
  TFont* GetFont() const { return font_; }

  // Fills with the brush (bsClear fills nothing).
  void FillRect(const TRect& rect);
  // A one-pixel frame in the brush's colour.
  void FrameRect(const TRect& rect);
  // Outlined with the pen, filled with the brush.
  void Rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom);
  void Ellipse(int32_t left, int32_t top, int32_t right, int32_t bottom);
  void MoveTo(int32_t x, int32_t y);
  void LineTo(int32_t x, int32_t y);
  // Text in the font's colour; the background is filled with the brush unless it is bsClear.
  // Text is ANSI (the system code page).
  void TextOut(int32_t x, int32_t y, const std::string& text);
  void TextOutWide(int32_t x, int32_t y, const WideString& text);
  int32_t TextWidth(const std::string& text);
  int32_t TextHeight(const std::string& text);
  // Copies the bitmap's pixels with their top-left corner at (x, y); an empty bitmap draws
  // nothing. Every pixel format of TBitmap is drawn, indexed ones through their palette.
  void Draw(int32_t x, int32_t y, const TBitmap* bitmap);
  // As Draw, scaled into `rect`.
  void StretchDraw(const TRect& rect, const TBitmap* bitmap);
  TColor GetPixel(int32_t x, int32_t y);
  void SetPixel(int32_t x, int32_t y, TColor color);

 private:
  void RequireHandle() const;
  void SelectObjects();
  void DeselectObjects();
  void ObjectChanged(TObject* sender);
  void DrawBitmap(const TRect& dest, const TBitmap* bitmap);

  HDC dc_ = nullptr;
  TPen* pen_;
  TBrush* brush_;
  TFont* font_;
  void* gdiPen_ = nullptr;     // HPEN made from pen_, selected while dc_ is held
  void* gdiBrush_ = nullptr;   // HBRUSH
  void* gdiFont_ = nullptr;    // HFONT
  void* oldPen_ = nullptr;
  void* oldBrush_ = nullptr;
  void* oldFont_ = nullptr;
  uint32_t oldTextColor_ = 0;
  uint32_t oldBkColor_ = 0;
  int32_t oldBkMode_ = 0;
  int32_t oldRop2_ = 0;
  bool selected_ = false;
};
