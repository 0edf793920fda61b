// The GDI canvas of the window layer: pens, brushes and fonts as persistent values, and a canvas
// drawing through them onto a device context (a window's paint DC or any other). Win32 only.
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

// --- Colours: 0x00BBGGRR, or a system colour as 0xFF0000nn (nn a COLOR_* index)

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
constexpr TColor clBtnFace = static_cast<TColor>(0xFF00000Fu);
constexpr TColor clWindow = static_cast<TColor>(0xFF000005u);
constexpr TColor clWindowText = static_cast<TColor>(0xFF000008u);
constexpr TColor clHighlight = static_cast<TColor>(0xFF00000Du);

// The RGB value of a colour: system colours resolved through the current scheme; clNone and
// clDefault give black.
uint32_t ColorToRGB(TColor color);

// --- Pens, brushes and fonts

KBL_ENUM(TPenStyle, psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame)
KBL_ENUM(TBrushStyle, bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross,
         bsDiagCross)
KBL_ENUM(TFontStyle, fsBold, fsItalic, fsUnderline, fsStrikeOut)
using TFontStyles = TEnumSet<TFontStyle>;

// Base of the three drawing values: a change notification for the canvas that uses it.
class TGraphicsObject : public TPersistent {
  KBL_DECLARE_CLASS(TGraphicsObject, TPersistent)
 public:
  TGraphicsObject() = default;
  TNotifyEvent OnChange;

 protected:
  void Changed() { OnChange(this); }
};

class TPen : public TGraphicsObject {
  KBL_DECLARE_CLASS(TPen, TGraphicsObject)
 public:
  TPen() = default;
  TColor GetColor() const { return color_; }
  void SetColor(TColor value);
  // Widths below 1 draw 1 pixel wide.
  int32_t GetWidth() const { return width_; }
  void SetWidth(int32_t value);
  TPenStyle GetStyle() const { return style_; }
  void SetStyle(TPenStyle value);
  void Assign(TPersistent* source) override;

 private:
  TColor color_ = clBlack;
  int32_t width_ = 1;
  TPenStyle style_ = psSolid;
};

class TBrush : public TGraphicsObject {
  KBL_DECLARE_CLASS(TBrush, TGraphicsObject)
 public:
  TBrush() = default;
  TColor GetColor() const { return color_; }
  void SetColor(TColor value);
  TBrushStyle GetStyle() const { return style_; }
  void SetStyle(TBrushStyle value);
  void Assign(TPersistent* source) override;

 private:
  TColor color_ = clWhite;
  TBrushStyle style_ = bsSolid;
};

class TFont : public TGraphicsObject {
  KBL_DECLARE_CLASS(TFont, TGraphicsObject)
 public:
  TFont() = default;
  TColor GetColor() const { return color_; }
  void SetColor(TColor value);
  const std::string& GetName() const { return name_; }
  void SetName(const std::string& value);
  // Size in points; Height in pixels (negative: character height without leading). Setting one
  // sets the other at 96 pixels per inch.
  int32_t GetSize() const;
  void SetSize(int32_t value);
  int32_t GetHeight() const { return height_; }
  void SetHeight(int32_t value);
  TFontStyles GetStyle() const { return style_; }
  void SetStyle(TFontStyles value);
  void Assign(TPersistent* source) override;

 private:
  TColor color_ = clWindowText;
  std::string name_ = "Tahoma";
  int32_t height_ = -11;
  TFontStyles style_;
};

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
  bool selected_ = false;
};
