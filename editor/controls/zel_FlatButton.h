// TvgZelFlatButton: a flat rounded on/off button with an on or off text, brighter while the
// mouse is over it and while it is pressed. GUI thread only.
#pragma once

#include <string>

#include "scene/core/vg_brush.h"
#include "scene/core/vg_canvas.h"
#include "zel_CustomButton.h"

class TvgZelFlatButton : public TvgZelCustomButton {
  KBL_DECLARE_CLASS(TvgZelFlatButton, TvgZelCustomButton)
 public:
  explicit TvgZelFlatButton(TComponent* owner);
  ~TvgZelFlatButton() override;

  std::string GetColorText() const { return vgColorToStr(colorText_); }
  void SetColorText(const std::string& text) { colorText_ = vgStrToColor(text); }
  std::string GetColorOn() const { return vgColorToStr(colorOn_); }
  void SetColorOn(const std::string& text) { colorOn_ = vgStrToColor(text); }
  std::string GetColorOff() const { return vgColorToStr(colorOff_); }
  void SetColorOff(const std::string& text) { colorOff_ = vgStrToColor(text); }
  // Idle, mouse over and pressed opacities.
  float GetOpacityA() const { return opacityA_; }
  void SetOpacityA(float value) { opacityA_ = value; }
  float GetOpacityB() const { return opacityB_; }
  void SetOpacityB(float value) { opacityB_ = value; }
  float GetOpacityC() const { return opacityC_; }
  void SetOpacityC(float value) { opacityC_ = value; }
  const WideString& GetTextOn() const { return textOn_; }
  void SetTextOn(const WideString& value);
  const WideString& GetTextOff() const { return textOff_; }
  void SetTextOff(const WideString& value);
  TvgFont* GetFont() const { return font_; }
  void SetFont(TvgFont* value) { font_->Assign(value); }

  // The opacity of the current state: pressed, else mouse over, else idle.
  float CurrentOpacity() const;

  void Paint() override;
  void MouseEnter() override;
  void MouseLeave() override;

 private:
  TvgColor colorText_ = 0xFF000000u;
  TvgColor colorOn_ = 0xFFDDDDDDu;
  TvgColor colorOff_ = 0xFF333333u;
  float opacityA_ = 0.2f;
  float opacityB_ = 0.5f;
  float opacityC_ = 0.9f;
  WideString textOn_;
  WideString textOff_;
  TvgFont* font_;
};

// Registers TvgZelFlatButton under "Zel Basic Controls" (once).
void ZelRegisterFlatButton();
