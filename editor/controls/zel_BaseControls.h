// The two base classes of the maker's control library: TvgZelControl (font, main colour, parent
// font) and TvgControlWithStrokeAndFill (fill and stroke brushes with their stroke settings).
// The library's controls draw directly on the canvas instead of through styles. GUI thread only.
#pragma once

#include <string>

#include "scene/core/vg_brush.h"
#include "scene/core/vg_canvas.h"
#include "scene/core/vg_control.h"

// The colour of the dashed outline the library draws around its controls at design time.
constexpr TvgColor kZelDesignOutlineColor = 0xA0909090u;

class TvgZelControl : public TvgControl {
  KBL_DECLARE_CLASS(TvgZelControl, TvgControl)
 public:
  explicit TvgZelControl(TComponent* owner);
  ~TvgZelControl() override;

  // The own font ("Tahoma" 11 at creation); SetFont copies and repaints.
  TvgFont* GetFont() const { return font_; }
  void SetFont(TvgFont* value) { font_->Assign(value); }
  // The main colour (ARGB); 0 at creation.
  TvgColor GetColorValue() const { return color_; }
  void SetColorValue(TvgColor value) { color_ = value; }
  // The colour as text ("#AARRGGBB"); the setter parses any colour text the scene reads and
  // raises the conversion error for others.
  std::string GetColor() const;
  virtual void SetColor(const std::string& text);
  // False at creation: the control's own font is used.
  bool GetUseParentFont() const { return useParentFont_; }
  void SetUseParentFont(bool value);

  // The font painting uses: the own font, or with UseParentFont the font of the nearest ancestor
  // of this library that does not use its parent's (the own font when there is none).
  TvgFont* EffectiveFont();
  // Copies the effective font into the canvas's font; nothing for nullptr.
  void ApplyFont(TvgCanvas* canvas);

 protected:
  // At design time: the dashed grey outline around the local rect inset by 0.5.
  void DrawDesignOutline();
  void FontChanged(TObject* sender);

 private:
  TvgFont* font_;
  TvgColor color_ = 0;
  bool useParentFont_ = false;
};

class TvgControlWithStrokeAndFill : public TvgZelControl {
  KBL_DECLARE_CLASS(TvgControlWithStrokeAndFill, TvgZelControl)
 public:
  explicit TvgControlWithStrokeAndFill(TComponent* owner);
  ~TvgControlWithStrokeAndFill() override;

  // Solid FFE0E0E0 at creation; the setter copies.
  TvgBrush* GetFill() const { return paint_.Fill; }
  void SetFill(TvgBrush* value) { paint_.Fill->Assign(value); }
  // Solid FF000000 at creation; the setter copies.
  TvgBrush* GetStroke() const { return paint_.Stroke; }
  void SetStroke(TvgBrush* value) { paint_.Stroke->Assign(value); }
  float GetStrokeThickness() const { return paint_.Thickness; }
  void SetStrokeThickness(float value);
  TvgStrokeJoin GetStrokeJoin() const { return paint_.Join; }
  void SetStrokeJoin(TvgStrokeJoin value);
  TvgStrokeCap GetStrokeCap() const { return paint_.Cap; }
  void SetStrokeCap(TvgStrokeCap value);
  TvgStrokeDash GetStrokeDash() const { return paint_.Dash; }
  void SetStrokeDash(TvgStrokeDash value);

  // The canvas takes Fill, Stroke and the stroke settings.
  void BeforePaint() override;

  // The brushes' change notifications: both repaint.
  virtual void FillChanged(TObject* sender);
  virtual void StrokeChanged(TObject* sender);

 private:
  TvgFillAndStroke paint_;
};
