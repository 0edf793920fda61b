// The knobs of the maker's library: TvgZelCustomKnob holds an integer value between ValueMin and
// ValueMax changed by dragging the mouse (coarse, or fine with Shift) and derives the 0-to-1
// value the editor writes into the plug-in's parameters; TvgZelBitmapKnob shows a frame of a
// film strip, TvgZelVectorKnob draws coloured arcs and TvgZelGuageButton a level bar. GUI thread
// only.
#pragma once

#include <cstdint>
#include <string>

#include "zel_BaseControls.h"

class TvgZelCustomKnob : public TvgZelControl {
  KBL_DECLARE_CLASS(TvgZelCustomKnob, TvgZelControl)
 public:
  explicit TvgZelCustomKnob(TComponent* owner);
  // Shows the cursor again when a drag hid it (the host may close the editor mid-drag).
  ~TvgZelCustomKnob() override;

  // --- Range and speeds
  int32_t GetValueMin() const { return valueMin_; }
  // ValueMax moves up to ValueMin + 1 when it would not stay above.
  void SetValueMin(int32_t value);
  int32_t GetValueMax() const { return valueMax_; }
  // ValueMin moves down to ValueMax - 1 when it would not stay below.
  void SetValueMax(int32_t value);
  // Steps below 1 count as 1, pixel ranges below 1 as 1 (the drag needs whole steps).
  int32_t GetStepsPerIncrement() const { return stepsPerIncrement_; }
  void SetStepsPerIncrement(int32_t value) { stepsPerIncrement_ = value; }
  int32_t GetStepsPerIncrementFineControl() const { return stepsPerIncrementFine_; }
  void SetStepsPerIncrementFineControl(int32_t value) { stepsPerIncrementFine_ = value; }
  int32_t GetPixelRange() const { return pixelRange_; }
  void SetPixelRange(int32_t value) { pixelRange_ = value; }
  int32_t GetPixelRangeFineControl() const { return pixelRangeFine_; }
  void SetPixelRangeFineControl(int32_t value) { pixelRangeFine_ = value; }
  bool GetHorizontalDrag() const { return horizontalDrag_; }
  void SetHorizontalDrag(bool value) { horizontalDrag_ = value; }
  bool GetHideCursorWhileDragging() const { return hideCursorWhileDragging_; }
  void SetHideCursorWhileDragging(bool value) { hideCursorWhileDragging_ = value; }
  float GetScale() const { return scale_; }
  void SetScale(float value) { scale_ = value; }

  // --- Values (read-only)
  // (value - ValueMin) / (ValueMax - ValueMin).
  float GetValueVst() const { return valueVst_; }
  // value x Scale.
  float GetValueFloat() const { return valueFloat_; }
  // The drawing position 0 to 1 as last set or dragged.
  float GetPos() const { return pos_; }
  int32_t GetValueInt() const { return valueInt_; }
  bool GetDragging() const { return dragging_; }
  bool GetCursorHidden() const { return cursorHidden_; }

  // Only when p differs from Pos: Pos := p and the value follows (rounded, halves to even);
  // repaint; no change event.
  void SetPos(float p);

  // --- Input
  // Left press without Ctrl starts a drag (mouse captured, cursor hidden when asked).
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  // While dragging: upward (or rightward) movement raises the value; Shift selects fine speed.
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseLeave() override;
  // Another window took the mouse: the drag ends and the cursor shows again.
  void CaptureLost() override;

  // Fired when a drag changes the value.
  TNotifyEvent OnChange;

 protected:
  // The local point in screen pixels (through the scene; the absolute point without one).
  TvgPoint ScreenPoint(float x, float y);
  // The arcs of the vector look: ring in `ring`, value and end in `value`.
  void PaintArcs(TvgColor ring, TvgColor value, float endThreshold, float endStart);

 private:
  void DragStep(const TvgPoint& cursor);
  void ShowCursorAgain();

  int32_t valueMin_ = 0;
  int32_t stepsPerIncrementFine_ = 1;
  int32_t pixelRangeFine_ = 2000;
  int32_t valueMax_ = 2000;
  int32_t stepsPerIncrement_ = 1;
  int32_t pixelRange_ = 500;
  bool horizontalDrag_ = false;
  bool hideCursorWhileDragging_ = true;
  float scale_ = 1.0f;
  float valueVst_ = 0;
  float valueFloat_ = 0;
  float pos_ = 0;
  int32_t valueInt_ = 0;
  int32_t value_ = 0;
  bool cursorHidden_ = false;
  bool coarseMode_ = true;
  TvgPoint pressPoint_;
  TvgPoint lastPoint_;
  bool dragging_ = false;
  double accumulator_ = 0;
  int64_t range_ = 2000;  // 64 bits: the ends may lie further apart than an int32 reaches
};

class TvgZelBitmapKnob : public TvgZelCustomKnob {
  KBL_DECLARE_CLASS(TvgZelBitmapKnob, TvgZelCustomKnob)
 public:
  explicit TvgZelBitmapKnob(TComponent* owner);
  // The film strip (not owned; the caller keeps it alive while the knob may paint).
  TvgBitmap* GetImageStrip() const { return imageStrip_; }
  void SetImageStrip(TvgBitmap* value);
  int32_t GetNumberOfGlyphs() const { return numberOfGlyphs_; }
  void SetNumberOfGlyphs(int32_t value);
  // The frame Pos selects: round((glyphs - 1) x Pos), kept inside the strip.
  int32_t CurrentFrame() const;
  void Paint() override;

 private:
  TvgBitmap* imageStrip_ = nullptr;
  int32_t numberOfGlyphs_ = 0;
};

class TvgZelVectorKnob : public TvgZelCustomKnob {
  KBL_DECLARE_CLASS(TvgZelVectorKnob, TvgZelCustomKnob)
 public:
  explicit TvgZelVectorKnob(TComponent* owner);
  TvgColor GetColor1Value() const { return color1_; }
  TvgColor GetColor2Value() const { return color2_; }
  std::string GetColor1() const { return vgColorToStr(color1_); }
  void SetColor1(const std::string& text);
  std::string GetColor2() const { return vgColorToStr(color2_); }
  void SetColor2(const std::string& text);
  void Paint() override;

 private:
  TvgColor color1_ = 0;
  TvgColor color2_ = 0;
};

class TvgZelGuageButton : public TvgZelCustomKnob {
  KBL_DECLARE_CLASS(TvgZelGuageButton, TvgZelCustomKnob)
 public:
  explicit TvgZelGuageButton(TComponent* owner);
  void Paint() override;
};

// Registers the vector knob, the bitmap knob and the gauge under "Zel VST Controls" (once).
void ZelRegisterKnobs();
