// TvgZelLabel: one line of text drawn in the control's colour and effective font, optionally
// sizing its width to the text. GUI thread only.
#pragma once

#include "zel_BaseControls.h"

class TvgZelLabel : public TvgZelControl {
  KBL_DECLARE_CLASS(TvgZelLabel, TvgZelControl)
 public:
  // Colour opaque black, centred, 74 x 20.
  explicit TvgZelLabel(TComponent* owner);

  const WideString& GetText() const { return text_; }
  // A different text is stored; with AutoSize, a canvas and a non-centre alignment the width
  // follows it; repaint.
  void SetText(const WideString& value);
  TvgTextAlign GetTextAlign() const { return textAlign_; }
  void SetTextAlign(TvgTextAlign value);
  bool GetAutoSize() const { return autoSize_; }
  // Turning it on resizes under the same conditions as SetText.
  void SetAutoSize(bool value);

  void Paint() override;

 private:
  // Width := the measured text width x 1.1; far alignment keeps the right edge where it was.
  void Resize();
  bool CanAutoSize();

  WideString text_;
  TvgTextAlign textAlign_ = vgTextAlignCenter;
  bool autoSize_ = false;
};

// Registers TvgZelLabel under "Zel Basic Controls" (once).
void ZelRegisterLabel();
