// TvgZelBitmapButton: an on/off button of the maker's library showing one of four images (on,
// off, each with a mouse-over variant) and an on or off text. GUI thread only.
#pragma once

#include <string>

#include "zel_BaseControls.h"

class TvgZelBitmapButton : public TvgZelControl {
  KBL_DECLARE_CLASS(TvgZelBitmapButton, TvgZelControl)
 public:
  explicit TvgZelBitmapButton(TComponent* owner);

  // The images are not owned; the caller keeps them alive while the button may paint. nullptr
  // draws no image.
  TvgBitmap* GetBitmapOn() const { return bitmapOn_; }
  void SetBitmapOn(TvgBitmap* value) { bitmapOn_ = value; }
  TvgBitmap* GetBitmapOnMouseOver() const { return bitmapOnMouseOver_; }
  void SetBitmapOnMouseOver(TvgBitmap* value) { bitmapOnMouseOver_ = value; }
  TvgBitmap* GetBitmapOff() const { return bitmapOff_; }
  void SetBitmapOff(TvgBitmap* value) { bitmapOff_ = value; }
  TvgBitmap* GetBitmapOffMouseOver() const { return bitmapOffMouseOver_; }
  void SetBitmapOffMouseOver(TvgBitmap* value) { bitmapOffMouseOver_ = value; }
  bool GetIsOn() const { return isOn_; }
  // Repaints on change.
  void SetIsOn(bool value);
  const std::string& GetTextOn() const { return textOn_; }
  void SetTextOn(const std::string& value) { textOn_ = value; }
  const std::string& GetTextOff() const { return textOff_; }
  void SetTextOff(const std::string& value) { textOff_ = value; }
  const WideString& GetText() const { return text_; }
  // Stored, and passed on to a style part "text" that is a text shape; not drawn by the button.
  void SetText(const WideString& value);
  TvgColor GetTextColorValue() const { return textColor_; }
  std::string GetTextColor() const { return vgColorToStr(textColor_); }
  // Parses and stores; no repaint (the colour shows at the next paint).
  void SetTextColor(const std::string& text) { textColor_ = vgStrToColor(text); }

  // The image of the current state (IsOn and mouse over), or nullptr.
  TvgBitmap* CurrentBitmap() const;

  void Paint() override;
  void MouseEnter() override;
  void MouseLeave() override;

 private:
  TvgBitmap* bitmapOn_ = nullptr;
  TvgBitmap* bitmapOnMouseOver_ = nullptr;
  TvgBitmap* bitmapOff_ = nullptr;
  TvgBitmap* bitmapOffMouseOver_ = nullptr;
  bool isOn_ = false;
  std::string textOn_;
  std::string textOff_;
  WideString text_;
  TvgColor textColor_ = 0;
};

// Registers TvgZelBitmapButton under "Zel" (once).
void ZelRegisterBitmapButton();
