// TvgZelScrollBar: the drawn scroll bar of the maker's library (a bordered track and a thumb
// filled with a gradient). GUI thread only.
#pragma once

#include "zel_CustomScrollBar.h"

class TvgZelScrollBar : public TvgZelCustomScrollBar {
  KBL_DECLARE_CLASS(TvgZelScrollBar, TvgZelCustomScrollBar)
 public:
  // Vertical, thumb 0.3, border opaque black, background #FF353535, Fill a gradient from
  // #FF8B8B8B to #FF636363.
  explicit TvgZelScrollBar(TComponent* owner);

  std::string GetColorBorder() const { return vgColorToStr(colorBorder_); }
  void SetColorBorder(const std::string& text) { colorBorder_ = vgStrToColor(text); }
  std::string GetColorBackground() const { return vgColorToStr(colorBackground_); }
  void SetColorBackground(const std::string& text) { colorBackground_ = vgStrToColor(text); }

  void Paint() override;

 private:
  TvgColor colorBorder_ = 0xFF000000u;
  TvgColor colorBackground_ = 0xFF353535u;
};

// Registers TvgZelScrollBar under "Zel Basic Controls" (once).
void ZelRegisterScrollBar();
