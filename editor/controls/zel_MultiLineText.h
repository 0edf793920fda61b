// TvgZelMultiLineText: lines of text drawn one below the other from a vertical offset, telling
// its owner when they need a scroll bar. GUI thread only.
#pragma once

#include <cstdint>

#include "scene/core/vg_brush.h"
#include "scene/core/vg_canvas.h"
#include "scene/core/vg_control.h"
#include "scene/core/vg_widestrings.h"

KBL_ENUM(TShowSliders, ssNone, ssBoth, ssVert, ssHorz)
using TShowSlidersEvent = TMethod<void(TObject* sender, TShowSliders sliders)>;

class TvgZelMultiLineText : public TvgControl {
  KBL_DECLARE_CLASS(TvgZelMultiLineText, TvgControl)
 public:
  explicit TvgZelMultiLineText(TComponent* owner);
  ~TvgZelMultiLineText() override;

  TvgWideStrings* GetLines() const { return lines_; }
  // Copies, repaints, then reports ssVert when the height measured at the last paint exceeds
  // the control's height, else ssNone.
  void SetLines(TvgWideStrings* value);
  TvgFont* GetFont() const { return font_; }
  void SetFont(TvgFont* value);
  std::string GetColorText() const { return vgColorToStr(colorText_); }
  void SetColorText(const std::string& text) { colorText_ = vgStrToColor(text); }
  TvgColor GetColorTextValue() const { return colorText_; }
  TvgTextAlign GetTextAlign() const { return textAlign_; }
  void SetTextAlign(TvgTextAlign value) { textAlign_ = value; }
  int32_t GetVertOffset() const { return vertOffset_; }
  // Repaints on change.
  void SetVertOffset(int32_t value);
  // The height of all lines as measured at the last paint.
  float GetMeasuredHeight() const { return textHeight_; }
  // Lines x 1.2 x the height of "TEST" in Font; 0 without a canvas.
  float GetTextHeight();

  void Paint() override;

  TShowSlidersEvent OnShowSliders;

 private:
  TvgWideStrings* lines_;
  TvgFont* font_;
  TvgColor colorText_ = 0;
  TvgTextAlign textAlign_ = vgTextAlignCenter;
  int32_t vertOffset_ = 0;
  float textHeight_ = 0;
};

// Registers TvgZelMultiLineText under "Zel Basic Controls" (once).
void ZelRegisterMultiLineText();
