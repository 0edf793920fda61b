// Colour-choosing controls of the scene: track bars over generated colour ramps (hue, alpha,
// black to white), a colour swatch, a saturation/lightness square, a hue strip, the gradient stop
// editor, and the colour panel and combo colour box built from them. Colours are 32-bit ARGB
// (straight alpha) and travel as "#AARRGGBB" texts. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "scene/controls/vg_controls.h"
#include "scene/core/vg_popup.h"
#include "vg_textbox.h"

// --- Ramp track bars

// A track bar whose style part "background" (a TvgShape) is filled with a generated bitmap that
// follows the part's size and the bar's orientation. Its style is "trackbarstyle", looked up when
// the bar is first painted or styled (ApplyResource), never from inside the constructors.
class TvgBitmapTrackBar : public TvgTrackBar {
  KBL_DECLARE_CLASS(TvgBitmapTrackBar, TvgTrackBar)
 public:
  explicit TvgBitmapTrackBar(TComponent* owner);
  ~TvgBitmapTrackBar() override;
  void ApplyStyle() override;
  void FreeStyle() override;
  void Realign() override;
  // Rebuilds the ramp when the part's truncated size or the orientation changed, or when it was
  // filled before the bar was fully made, and hands the part a copy of it; nothing without the
  // part.
  void UpdateBitmap();
  // The ramp as last built; nullptr before.
  TvgBitmap* GetRampBitmap() const { return bitmap_; }

 protected:
  // Writes the ramp into `bitmap` (sized to the part); nothing here.
  virtual void FillBitmap(TvgBitmap& bitmap) {}

 private:
  TvgBitmap* bitmap_ = nullptr;
  TvgShape* background_ = nullptr;
  // What the ramp was filled for: the orientation and the class whose FillBitmap ran (a style
  // applied by a base's constructor fills with that base's routine).
  TvgOrientation rampOrientation_ = vgHorizontal;
  const TClassInfo* rampClass_ = nullptr;
};

// The hue circle at saturation 0.9 and lightness 0.5 along the bar (Max 1, Value 0.5).
class TvgHueTrackBar : public TvgBitmapTrackBar {
  KBL_DECLARE_CLASS(TvgHueTrackBar, TvgBitmapTrackBar)
 public:
  explicit TvgHueTrackBar(TComponent* owner);

 protected:
  void FillBitmap(TvgBitmap& bitmap) override;
};

// Transparent to opaque white over a 3-pixel checkerboard along the bar: left to right, or top
// to bottom when vertical (Max 1, Value 1).
class TvgAlphaTrackBar : public TvgBitmapTrackBar {
  KBL_DECLARE_CLASS(TvgAlphaTrackBar, TvgBitmapTrackBar)
 public:
  explicit TvgAlphaTrackBar(TComponent* owner);

 protected:
  void FillBitmap(TvgBitmap& bitmap) override;
};

// Black to white along the bar (Max 1, Value 0.5).
class TvgBWTrackBar : public TvgBitmapTrackBar {
  KBL_DECLARE_CLASS(TvgBWTrackBar, TvgBitmapTrackBar)
 public:
  explicit TvgBWTrackBar(TComponent* owner);

 protected:
  void FillBitmap(TvgBitmap& bitmap) override;
};

// Head-up-display variants: the same ramps in "hudtrackbarstyle".
class TvgHudHueTrackBar : public TvgHueTrackBar {
  KBL_DECLARE_CLASS(TvgHudHueTrackBar, TvgHueTrackBar)
 public:
  explicit TvgHudHueTrackBar(TComponent* owner);
};

class TvgHudAlphaTrackBar : public TvgAlphaTrackBar {
  KBL_DECLARE_CLASS(TvgHudAlphaTrackBar, TvgAlphaTrackBar)
 public:
  explicit TvgHudAlphaTrackBar(TComponent* owner);
};

// Shows the black-to-white ramp as well (Max 1, Value 0.5), so that it is not an empty bar.
class TvgHudBWTrackBar : public TvgBitmapTrackBar {
  KBL_DECLARE_CLASS(TvgHudBWTrackBar, TvgBitmapTrackBar)
 public:
  explicit TvgHudBWTrackBar(TComponent* owner);

 protected:
  void FillBitmap(TvgBitmap& bitmap) override;
};

// --- Swatch, square and strip

// Paints Color over a 5-unit checkerboard (the colour's alpha lets it show through).
class TvgColorBox : public TvgControl {
  KBL_DECLARE_CLASS(TvgColorBox, TvgControl)
 public:
  explicit TvgColorBox(TComponent* owner) : TvgControl(owner) {}
  void Paint() override;
  TvgColor GetColor() const { return color_; }
  // Repaints only when the colour differs.
  void SetColor(TvgColor value);

 private:
  TvgColor color_ = 0;
};

// Saturation (growing to the right) and lightness (1 at the top) of one hue; a drag moves the
// marker. Changes reach the linked colour box and OnChange. The square is cached at the control's
// pixel size and built again after a hue change or a resize.
class TvgColorQuad : public TvgControl {
  KBL_DECLARE_CLASS(TvgColorQuad, TvgControl)
 public:
  explicit TvgColorQuad(TComponent* owner);
  ~TvgColorQuad() override;
  void Notification(TComponent* component, TOperation operation) override;
  void Paint() override;
  TvgRect GetAbsoluteRect() override;
  bool PointInObject(float x, float y) override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;

  // Each kept in 0..1; setting the current value does nothing at all. Hue drops the cached
  // square; Alpha does not repaint.
  float GetHue() const { return hue_; }
  void SetHue(float value);
  float GetSat() const { return sat_; }
  void SetSat(float value);
  float GetLum() const { return lum_; }
  void SetLum(float value);
  float GetAlpha() const { return alpha_; }
  void SetAlpha(float value);
  // Not owned; cleared when the box is freed. Linking pushes the colour without an event.
  TvgColorBox* GetColorBox() const { return colorBox_; }
  void SetColorBox(TvgColorBox* value);
  // The colour the quad stands for: hue, saturation and lightness with Alpha.
  TvgColor GetQuadColor() const;
  TvgBitmap* GetCachedBitmap() const { return bitmap_; }

  TNotifyEvent OnChange;

 private:
  // Stores a changed, clamped value; false when it was equal.
  bool Store(float& field, float value);
  void Changed(bool repaint);
  void PushColor();

  float hue_ = 0, sat_ = 0, lum_ = 0, alpha_ = 1;
  TvgColorBox* colorBox_ = nullptr;
  TvgBitmap* bitmap_ = nullptr;
  bool pressed_ = false;
};

// A vertical hue strip (hue 0 at the top) driving a linked quad's hue; the strip is cached at the
// control's pixel size and built again after a resize.
class TvgColorPicker : public TvgControl {
  KBL_DECLARE_CLASS(TvgColorPicker, TvgControl)
 public:
  explicit TvgColorPicker(TComponent* owner);
  ~TvgColorPicker() override;
  void Notification(TComponent* component, TOperation operation) override;
  void Paint() override;
  TvgRect GetAbsoluteRect() override;
  bool PointInObject(float x, float y) override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;

  float GetHue() const { return hue_; }
  // Kept in 0..1; passes the hue to the linked quad.
  void SetHue(float value);
  // Splits the colour into hue, saturation and lightness: the strip takes the hue, the linked
  // quad its alpha, hue, saturation and lightness (in that order).
  void SetColor(TvgColor color);
  TvgColorQuad* GetColorQuad() const { return colorQuad_; }
  void SetColorQuad(TvgColorQuad* value);
  // The strip as last painted; nullptr before the first paint.
  TvgBitmap* GetCachedBitmap() const { return bitmap_; }

 private:
  float hue_ = 0;
  TvgColorQuad* colorQuad_ = nullptr;
  TvgBitmap* bitmap_ = nullptr;
  bool pressed_ = false;
};

// --- Gradient editor

// Edits the stops of Gradient: a strip over a checkerboard with one marker per stop below it. A
// press on a marker selects the stop, a drag moves it (it changes places with a neighbour it
// passes), a release more than 10 units below the editor removes it, and a click into the strip
// adds a stop with the colour found there. The linked picker shows the selected stop's colour.
class TvgGradientEdit : public TvgControl {
  KBL_DECLARE_CLASS(TvgGradientEdit, TvgControl)
 public:
  explicit TvgGradientEdit(TComponent* owner);
  ~TvgGradientEdit() override;
  void Notification(TComponent* component, TOperation operation) override;
  void Paint() override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;

  // Owned; its changes reach DoChanged.
  TvgGradient* GetGradient() const { return gradient_; }
  // The selected stop; any index outside the stops means none.
  int32_t GetCurrentPoint() const { return currentPoint_; }
  void SetCurrentPoint(int32_t value);
  // The marker of stop `index` in local coordinates; an empty rect outside the stops.
  TvgRect GetPointRect(int32_t index);
  // Fires OnChange and shows the selected stop's colour in the picker.
  void DoChanged(TObject* sender = nullptr);
  void UpdateColorPicker();
  TvgColorPicker* GetColorPicker() const { return colorPicker_; }
  void SetColorPicker(TvgColorPicker* value);
  // True while a dragged stop is far enough away to be dropped (its marker is hidden).
  bool GetRemoving() const { return removing_; }

  TNotifyEvent OnChange;
  TNotifyEvent OnSelectPoint;

 private:
  TvgGradient* gradient_;
  int32_t currentPoint_ = 0;
  TvgColorPicker* colorPicker_ = nullptr;
  TvgBitmap* bitmap_ = nullptr;
  bool moving_ = false;
  bool removing_ = false;
};

// The colour of the gradient at `offset` (clamped to 0..1) interpolated between neighbouring
// stops with premultiplied alpha, answered premultiplied: a half-transparent stop next to an
// opaque one never bleeds the colour of its invisible part. Fewer than two stops give 0.
TvgColor vgGradientPremultipliedColor(const TvgGradient& gradient, float offset);

// --- Colour panel and combo colour box

// A quad with a vertical hue bar to its right and a horizontal alpha bar below (children not
// stored). Color is the panel's value as "#AARRGGBB".
class TvgColorPanel : public TvgControl {
  KBL_DECLARE_CLASS(TvgColorPanel, TvgControl)
 public:
  explicit TvgColorPanel(TComponent* owner);
  ~TvgColorPanel() override;
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

  std::string GetColor() const;
  // Raises EConvertError for a text that is no colour, before anything changes. The parts are
  // set with the panel's OnChange held back; one change follows unless loading.
  void SetColor(const std::string& text);
  TvgColorBox* GetColorBox() const { return colorBox_; }
  void SetColorBox(TvgColorBox* value);
  TvgColorQuad* GetQuad() const { return quad_; }
  TvgHueTrackBar* GetHueBar() const { return hueBar_; }
  TvgAlphaTrackBar* GetAlphaBar() const { return alphaBar_; }

  TNotifyEvent OnChange;

 private:
  void DoAlphaChange(TObject*);
  void DoHueChange(TObject*);
  void DoQuadChange(TObject*);

  TvgAlphaTrackBar* alphaBar_;
  TvgHueTrackBar* hueBar_;
  TvgColorQuad* quad_;
  TvgColorBox* colorBox_ = nullptr;
};

// A swatch that drops down a colour panel with a colour box and a text box for "#AARRGGBB"
// texts; Color is the panel's.
class TvgComboColorBox : public TvgControl {
  KBL_DECLARE_CLASS(TvgComboColorBox, TvgControl)
 public:
  explicit TvgComboColorBox(TComponent* owner);
  ~TvgComboColorBox() override;
  void ApplyStyle() override;
  void FreeStyle() override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;

  // The panel changed: the text box shows the colour, OnChange fires.
  virtual void DoColorChanged(TObject* sender);
  // Text committed in the text box: taken as the colour; a text that is no colour puts the
  // previous colour back (and into the text box).
  virtual void DoTextChanged(TObject* sender);
  // Opens the popup, or closes it when open.
  void DropDown();

  std::string GetColor() const { return panel_->GetColor(); }
  // Raises EConvertError for a text that is no colour.
  void SetColor(const std::string& text) { panel_->SetColor(text); }
  TvgPopup* GetPopup() const { return popup_; }
  TvgColorPanel* GetColorPanel() const { return panel_; }
  TvgColorBox* GetColorBox() const { return colorBox_; }
  TvgTextBox* GetTextBox() const { return textBox_; }

  TNotifyEvent OnChange;

 private:
  void DoContentPaint(TObject* sender, TvgCanvas* canvas, const TvgRect& rect);

  TvgPopup* popup_;
  TvgColorPanel* panel_;
  TvgColorBox* colorBox_;
  TvgTextBox* textBox_;
  TvgPlacement placement_ = vgPlacementBottom;
  TvgVisualObject* content_ = nullptr;
};

class TvgHudComboColorBox : public TvgComboColorBox {
  KBL_DECLARE_CLASS(TvgHudComboColorBox, TvgComboColorBox)
 public:
  explicit TvgHudComboColorBox(TComponent* owner);
};

// Parses a colour text strictly: "#" and 1 to 8 hexadecimal digits, one of the colour names, or
// a whole number; raises EConvertError ("'<text>' is not a valid colour value") for anything
// else (the empty text too).
TvgColor vgStrToColorStrict(const std::string& text);

// Registers the colour controls once.
void vgInitColorsUnit();
