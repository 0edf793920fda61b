// Basic styled controls of the scene: caption control and labels, buttons, check box and radio
// button, tracks and scroll bars, and the timer the repeating buttons use.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "scene/core/vg_animation.h"
#include "scene/core/vg_control.h"
#include "scene/core/vg_resources.h"
#include "scene/core/vg_widestrings.h"
#include "scene/shapes/vg_animations.h"
#include "scene/shapes/vg_objects.h"
#include "vg_formhooks.h"

// --- Timer

// A GUI-thread timer of the controls (button repeat, hosted-window layout). It runs on the
// platform's periodic timer; tests install a factory that hands out manual timers.
class TvgTimer : public TComponent {
  KBL_DECLARE_CLASS(TvgTimer, TComponent)
 public:
  explicit TvgTimer(TComponent* owner);
  ~TvgTimer() override;
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value);
  uint32_t GetInterval() const { return interval_; }
  // Restarts a running timer with the new interval.
  void SetInterval(uint32_t value);
  TNotifyEvent GetOnTimer() const { return onTimer_; }
  // Restarts the timer with the new handler.
  void SetOnTimer(TNotifyEvent value);

 private:
  void Restart();
  TNotifyEvent onTimer_;
  std::unique_ptr<IvgAniTimer> timer_;
  bool enabled_ = true;
  uint32_t interval_ = 1000;
};
// Replaces how timers of the controls are made (nullptr: the platform's).
void vgSetControlTimerFactory(std::function<std::unique_ptr<IvgAniTimer>()> factory);

// --- Form actions (vg_formhooks.h)

// The first component up the Owner links from the scene's owner whose class is (or derives
// from) "TCustomForm"; nullptr without a scene or such an owner.
TComponent* vgFindSceneForm(TvgObject* obj);

// --- Caption control

class TvgTextControl : public TvgControl {
  KBL_DECLARE_CLASS(TvgTextControl, TvgControl)
 public:
  explicit TvgTextControl(TComponent* owner);
  ~TvgTextControl() override;

  Variant GetData() override { return Variant(text_); }
  // Null empties the text; anything else is taken as text.
  void SetData(const Variant& value) override;
  void ApplyStyle() override;

  const WideString& GetText() const { return text_; }
  virtual void SetText(const WideString& value);
  virtual void FontChanged(TObject* sender);
  TvgFont* GetFont() const { return font_; }
  void SetFont(TvgFont* value) { font_->Assign(value); }
  TvgTextAlign GetTextAlign() const { return textAlign_; }
  void SetTextAlign(TvgTextAlign value);
  TvgTextAlign GetVertTextAlign() const { return vertTextAlign_; }
  void SetVertTextAlign(TvgTextAlign value) { ChangeProperty(vertTextAlign_, value); }
  TvgBrush* GetForeground() const { return foreground_; }
  bool GetWordWrap() const { return wordWrap_; }
  virtual void SetWordWrap(bool value);
  bool GetAutoTranslate() const { return autoTranslate_; }
  void SetAutoTranslate(bool value) { ChangeProperty(autoTranslate_, value); }

 protected:
  // The style part "text" when it is a TvgText.
  TvgText* TextPart();
  bool InDesign();
  // The translation the style gives the text (AutoTranslate).
  virtual WideString TranslatedText(const WideString& text) { return vgTranslate(text); }

 private:
  void ForegroundChanged(TObject*);

  TvgFont* font_;
  TvgTextAlign textAlign_ = vgTextAlignCenter;
  TvgTextAlign vertTextAlign_ = vgTextAlignCenter;
  TvgBrush* foreground_;
  bool wordWrap_ = false;
  WideString text_;
  bool autoTranslate_ = false;
};

class TvgLabel : public TvgTextControl {
  KBL_DECLARE_CLASS(TvgLabel, TvgTextControl)
 public:
  explicit TvgLabel(TComponent* owner);
  void ApplyStyle() override;
  void SetText(const WideString& value) override;
  void SetWordWrap(bool value) override;
  bool GetAutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);

 private:
  bool autoSize_ = false;
};

class TvgValueLabel : public TvgLabel {
  KBL_DECLARE_CLASS(TvgValueLabel, TvgLabel)
 public:
  explicit TvgValueLabel(TComponent* owner);
};

// --- Buttons

class TvgCustomButton : public TvgTextControl {
  KBL_DECLARE_CLASS(TvgCustomButton, TvgTextControl)
 public:
  explicit TvgCustomButton(TComponent* owner);
  ~TvgCustomButton() override;

  // A packed method sets OnClick; other values are ignored.
  void SetData(const Variant& value) override;
  void Click() override;
  void DblClick() override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) override;
  void ApplyStyle() override;

  bool GetIsPressed() const { return isPressed_; }
  // Only a StaysPressed button takes the value.
  void SetIsPressed(bool value);
  TvgModalResult GetModalResult() const { return modalResult_; }
  void SetModalResult(TvgModalResult value) { modalResult_ = value; }
  bool GetStaysPressed() const { return staysPressed_; }
  void SetStaysPressed(bool value) { staysPressed_ = value; }
  bool GetRepeatClick() const { return repeatClick_; }
  void SetRepeatClick(bool value) { repeatClick_ = value; }
  // The repeat timer once a repeating press created it.
  TvgTimer* GetRepeatTimer() const { return repeatTimer_; }

 private:
  void RepeatStart(TObject*);
  void RepeatTick(TObject*) { Click(); }

  bool mousePressed_ = false;
  bool isPressed_ = false;
  TvgModalResult modalResult_ = 0;
  bool staysPressed_ = false;
  TvgTimer* repeatTimer_ = nullptr;
  bool repeatClick_ = false;
};

class TvgButton : public TvgCustomButton {
  KBL_DECLARE_CLASS(TvgButton, TvgCustomButton)
 public:
  explicit TvgButton(TComponent* owner) : TvgCustomButton(owner) {}
  void DialogKey(uint16_t& key, TShiftState shift) override;
  bool GetDefault() const { return default_; }
  void SetDefault(bool value) { default_ = value; }
  bool GetCancel() const { return cancel_; }
  void SetCancel(bool value) { cancel_ = value; }

 private:
  bool default_ = false;
  bool cancel_ = false;
};

class TvgRoundButton : public TvgButton {
  KBL_DECLARE_CLASS(TvgRoundButton, TvgButton)
 public:
  explicit TvgRoundButton(TComponent* owner) : TvgButton(owner) {}
};

class TvgCircleButton : public TvgButton {
  KBL_DECLARE_CLASS(TvgCircleButton, TvgButton)
 public:
  explicit TvgCircleButton(TComponent* owner);
};

class TvgSpeedButton : public TvgCustomButton {
  KBL_DECLARE_CLASS(TvgSpeedButton, TvgCustomButton)
 public:
  explicit TvgSpeedButton(TComponent* owner);
};

KBL_ENUM(TvgButtonLayout, vgGlyphLeft, vgGlyphRight, vgGlyphTop, vgGlyphBottom, vgGlyphCenter)

// A button with a bitmap glyph (style part "image") laid out beside its caption ("text").
class TvgBitmapButton : public TvgCustomButton {
  KBL_DECLARE_CLASS(TvgBitmapButton, TvgCustomButton)
 public:
  explicit TvgBitmapButton(TComponent* owner);
  ~TvgBitmapButton() override;
  void ApplyStyle() override;
  // Besides the inherited copy: a button without a bitmap of its own takes the action's image
  // from the action list's images, and their width as BitmapSize.
  void ActionChange(TObject* sender, bool checkDefaults) override;
  TvgBitmap* GetBitmap() const { return bitmap_; }
  void SetBitmap(TvgBitmap* value) { bitmap_->Assign(value); }
  TvgButtonLayout GetBitmapLayout() const { return layout_; }
  void SetBitmapLayout(TvgButtonLayout value);
  float GetBitmapSpacing() const { return spacing_; }
  void SetBitmapSpacing(float value);
  float GetBitmapSize() const { return size_; }
  void SetBitmapSize(float value);
  float GetBitmapPadding() const { return padding_; }
  void SetBitmapPadding(float value);

 private:
  void BitmapChanged(TObject*);
  TvgBitmap* bitmap_;
  TvgButtonLayout layout_ = vgGlyphLeft;
  float spacing_ = 0;
  float size_ = 32;
  float padding_ = 2;
};

class TvgToolButton : public TvgBitmapButton {
  KBL_DECLARE_CLASS(TvgToolButton, TvgBitmapButton)
 public:
  explicit TvgToolButton(TComponent* owner);
};

// A button with a path glyph: the style part "path" draws it inside "pathowner".
class TvgPathButton : public TvgCustomButton {
  KBL_DECLARE_CLASS(TvgPathButton, TvgCustomButton)
 public:
  explicit TvgPathButton(TComponent* owner);
  ~TvgPathButton() override;
  void ApplyStyle() override;
  TvgPathData* GetPath() const { return path_; }
  void SetPath(TvgPathData* value) { path_->Assign(value); }
  TvgButtonLayout GetPathLayout() const { return layout_; }
  void SetPathLayout(TvgButtonLayout value);
  float GetPathSize() const { return size_; }
  void SetPathSize(float value);
  float GetPathSpacing() const { return spacing_; }
  void SetPathSpacing(float value);
  float GetPathPadding() const { return padding_; }
  void SetPathPadding(float value);
  float GetPathStrokeThickness() const { return strokeThickness_; }
  void SetPathStrokeThickness(float value);
  TvgBrush* GetPathFill() const { return fill_; }
  void SetPathFill(TvgBrush* value) { fill_->Assign(value); }
  TvgBrush* GetPathStroke() const { return stroke_; }
  void SetPathStroke(TvgBrush* value) { stroke_->Assign(value); }
  TvgStrokeCap GetPathStrokeCap() const { return strokeCap_; }
  void SetPathStrokeCap(TvgStrokeCap value);
  TvgStrokeDash GetPathStrokeDash() const { return strokeDash_; }
  void SetPathStrokeDash(TvgStrokeDash value);
  TvgStrokeJoin GetPathStrokeJoin() const { return strokeJoin_; }
  void SetPathStrokeJoin(TvgStrokeJoin value);
  bool IsPathStrokeThicknessStored() const { return strokeThickness_ != 1; }

 private:
  void PathChanged(TObject*);
  void BrushChanged(TObject*) { ApplyStyle(); }
  // Re-applies the style unless loading.
  void Restyle();
  TvgPathData* path_;
  TvgButtonLayout layout_ = vgGlyphLeft;
  float size_ = 32;
  float spacing_ = 0;
  float padding_ = 2;
  float strokeThickness_ = 1;
  TvgBrush* fill_;
  TvgBrush* stroke_;
  TvgStrokeCap strokeCap_ = vgCapFlat;
  TvgStrokeDash strokeDash_ = vgDashSolid;
  TvgStrokeJoin strokeJoin_ = vgJoinMiter;
};

class TvgToolPathButton : public TvgPathButton {
  KBL_DECLARE_CLASS(TvgToolPathButton, TvgPathButton)
 public:
  explicit TvgToolPathButton(TComponent* owner);
};

// Paints BitmapDown while pressed, BitmapHot while the mouse is over it, else Bitmap.
class TvgBitmapStateButton : public TvgCustomButton {
  KBL_DECLARE_CLASS(TvgBitmapStateButton, TvgCustomButton)
 public:
  explicit TvgBitmapStateButton(TComponent* owner);
  ~TvgBitmapStateButton() override;
  void Paint() override;
  void MouseEnter() override;
  void MouseLeave() override;
  void StartTriggerAnimation(TvgObject* instance, const std::string& trigger) override;
  TvgBitmap* GetBitmap() const { return bitmap_; }
  TvgBitmap* GetBitmapDown() const { return bitmapDown_; }
  TvgBitmap* GetBitmapHot() const { return bitmapHot_; }
  // Assignment copies (streams fill the owned bitmaps through the getters).
  void SetBitmap(TvgBitmap* value) { bitmap_->Assign(value); }
  void SetBitmapDown(TvgBitmap* value) { bitmapDown_->Assign(value); }
  void SetBitmapHot(TvgBitmap* value) { bitmapHot_->Assign(value); }

 private:
  void BitmapChanged(TObject*) { Repaint(); }
  TvgBitmap* bitmap_;
  TvgBitmap* bitmapDown_;
  TvgBitmap* bitmapHot_;
};

// Passes its corners to the style part "Background".
class TvgCornerButton : public TvgCustomButton {
  KBL_DECLARE_CLASS(TvgCornerButton, TvgCustomButton)
 public:
  explicit TvgCornerButton(TComponent* owner) : TvgCustomButton(owner) {}
  void ApplyStyle() override;
  float GetxRadius() const { return xRadius_; }
  void SetxRadius(float value);
  float GetyRadius() const { return yRadius_; }
  void SetyRadius(float value);
  TvgCorners GetCorners() const { return corners_; }
  void SetCorners(TvgCorners value);
  TvgCornerType GetCornerType() const { return cornerType_; }
  void SetCornerType(TvgCornerType value);
  TvgSides GetSides() const { return sides_; }
  void SetSides(TvgSides value);
  bool IsCornersStored() const { return !(corners_ == vgAllCorners); }
  bool IsSidesStored() const { return !(sides_ == vgAllSides); }

 private:
  float yRadius_ = 3;
  float xRadius_ = 3;
  TvgCorners corners_ = vgAllCorners;
  TvgCornerType cornerType_ = vgCornerRound;
  TvgSides sides_ = vgAllSides;
};

class TvgExpanderButton : public TvgCustomButton {
  KBL_DECLARE_CLASS(TvgExpanderButton, TvgCustomButton)
 public:
  explicit TvgExpanderButton(TComponent* owner);
};

// --- Check box and radio button

class TvgCheckBox : public TvgTextControl {
  KBL_DECLARE_CLASS(TvgCheckBox, TvgTextControl)
 public:
  explicit TvgCheckBox(TComponent* owner);
  Variant GetData() override { return Variant(isChecked_); }
  void SetData(const Variant& value) override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) override;
  void ApplyStyle() override;

  bool GetIsPressed() const { return isPressed_; }
  bool GetIsChecked() const { return isChecked_; }
  virtual void SetIsChecked(bool value);
  TNotifyEvent OnChange;

 protected:
  bool mousePressed_ = false;
  bool isPressed_ = false;
  bool isChecked_ = false;
};

class TvgPathCheckBox : public TvgCheckBox {
  KBL_DECLARE_CLASS(TvgPathCheckBox, TvgCheckBox)
 public:
  explicit TvgPathCheckBox(TComponent* owner);
  ~TvgPathCheckBox() override;
  void ApplyStyle() override;
  TvgPathData* GetPath() const { return path_; }
  void SetPath(TvgPathData* value) { path_->Assign(value); }

 private:
  void PathChanged(TObject*) { ApplyStyle(); }
  TvgPathData* path_;
};

class TvgRadioButton : public TvgTextControl {
  KBL_DECLARE_CLASS(TvgRadioButton, TvgTextControl)
 public:
  explicit TvgRadioButton(TComponent* owner);
  Variant GetData() override { return Variant(isChecked_); }
  void SetData(const Variant& value) override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) override;
  void ApplyStyle() override;

  bool GetIsPressed() const { return isPressed_; }
  bool GetIsChecked() const { return isChecked_; }
  void SetIsChecked(bool value);
  const std::string& GetGroupName() const { return groupName_; }
  void SetGroupName(const std::string& value) { groupName_ = value; }
  TNotifyEvent OnChange;

 private:
  bool mousePressed_ = false;
  bool isPressed_ = false;
  bool isChecked_ = false;
  std::string groupName_;
};

// --- Tracks and scroll bars

KBL_ENUM(TvgOrientation, vgHorizontal, vgVertical)

class TvgCustomTrack;

class TvgThumb : public TvgControl {
  KBL_DECLARE_CLASS(TvgThumb, TvgControl)
 public:
  explicit TvgThumb(TComponent* owner);
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  bool GetPressed() const { return pressed_; }

 private:
  friend class TvgCustomTrack;
  TvgCustomTrack* track_ = nullptr;
  TvgPoint pressPoint_;
  bool pressed_ = false;
};

class TvgCustomTrack : public TvgControl {
  KBL_DECLARE_CLASS(TvgCustomTrack, TvgControl)
 public:
  explicit TvgCustomTrack(TComponent* owner);
  Variant GetData() override { return Variant(static_cast<double>(value_)); }
  void SetData(const Variant& value) override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) override;
  void Realign() override;

  float GetValue() const { return value_; }
  void SetValue(float value);
  float GetMin() const { return min_; }
  virtual void SetMin(float value);
  float GetMax() const { return max_; }
  virtual void SetMax(float value);
  float GetViewportSize() const { return viewportSize_; }
  void SetViewportSize(float value);
  TvgOrientation GetOrientation() const { return orientation_; }
  void SetOrientation(TvgOrientation value);
  bool GetTracking() const { return tracking_; }
  void SetTracking(bool value) { tracking_ = value; }
  float GetFrequency() const { return frequency_; }
  void SetFrequency(float value);
  // Where the thumb goes, in the track's coordinates.
  TvgRect GetThumbRect();
  // The style part "thumb" when it is a TvgThumb (its owning track is set).
  TvgThumb* GetThumb();
  bool IsMaxStored() const { return max_ != 100; }

  TNotifyEvent OnChange;
  TNotifyEvent OnTracking;

 protected:
  friend class TvgThumb;
  friend class TvgScrollBar;
  bool ThumbDragged();
  float value_ = 0;
  float min_ = 0;
  float max_ = 100;
  float viewportSize_ = 0;
  TvgOrientation orientation_ = vgHorizontal;
  bool tracking_ = true;
  float frequency_ = 0;
};

class TvgTrack : public TvgCustomTrack {
  KBL_DECLARE_CLASS(TvgTrack, TvgCustomTrack)
 public:
  explicit TvgTrack(TComponent* owner) : TvgCustomTrack(owner) {}
};

class TvgTrackBar : public TvgCustomTrack {
  KBL_DECLARE_CLASS(TvgTrackBar, TvgCustomTrack)
 public:
  explicit TvgTrackBar(TComponent* owner);
  void SetMax(float value) override;
};

class TvgScrollBar : public TvgControl {
  KBL_DECLARE_CLASS(TvgScrollBar, TvgControl)
 public:
  explicit TvgScrollBar(TComponent* owner);
  Variant GetData() override { return Variant(static_cast<double>(value_)); }
  void SetData(const Variant& value) override;
  void Realign() override;

  float GetValue() const { return value_; }
  void SetValue(float value);
  float GetMin() const { return min_; }
  void SetMin(float value);
  float GetMax() const { return max_; }
  void SetMax(float value);
  float GetViewportSize() const { return viewportSize_; }
  void SetViewportSize(float value);
  TvgOrientation GetOrientation() const { return orientation_; }
  void SetOrientation(TvgOrientation value);
  float GetSmallChange() const { return smallChange_; }
  void SetSmallChange(float value) { smallChange_ = value; }
  // The style part "htrack" or "vtrack" that matches the orientation.
  TvgCustomTrack* GetTrack();
  bool IsMaxStored() const { return max_ != 100; }
  bool IsSmallChangeStored() const { return smallChange_ != 1; }

  TNotifyEvent OnChange;

 private:
  void TrackChanged(TObject* sender);
  void DecClick(TObject*) { SetValue(value_ - smallChange_); }
  void IncClick(TObject*) { SetValue(value_ + smallChange_); }

  float value_ = 0;
  float min_ = 0;
  float max_ = 100;
  float viewportSize_ = 0;
  TvgOrientation orientation_ = vgHorizontal;
  float smallChange_ = 1;
  bool inRealign_ = false;
};

class TvgSmallScrollBar : public TvgScrollBar {
  KBL_DECLARE_CLASS(TvgSmallScrollBar, TvgScrollBar)
 public:
  explicit TvgSmallScrollBar(TComponent* owner);
};

// --- Close button and size grip

// Closes the form that owns the scene (CloseForm) and fires its own OnClick.
class TvgCloseButton : public TvgControl {
  KBL_DECLARE_CLASS(TvgCloseButton, TvgControl)
 public:
  explicit TvgCloseButton(TComponent* owner);
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  bool GetCloseForm() const { return closeForm_; }
  void SetCloseForm(bool value) { closeForm_ = value; }
  // Its own click event (the visual object's OnClick stays for the mouse).
  TNotifyEvent OnCloseClick;

 private:
  bool mousePressed_ = false;
  bool closeForm_ = true;
};

// Pressed, it resizes the scene's host form with the mouse (the scene recognises it by its
// IvgSizeGrip marker); its look comes from "sizegripstyle".
class TvgSizeGrip : public TvgControl, public IvgSizeGrip {
  KBL_DECLARE_CLASS(TvgSizeGrip, TvgControl)
 public:
  explicit TvgSizeGrip(TComponent* owner) : TvgControl(owner) {}
};

// --- Progress bar, busy indicator, angle button, expander

class TvgProgressBar : public TvgControl {
  KBL_DECLARE_CLASS(TvgProgressBar, TvgControl)
 public:
  explicit TvgProgressBar(TComponent* owner);
  Variant GetData() override { return Variant(static_cast<double>(value_)); }
  void SetData(const Variant& value) override;
  void ApplyStyle() override;
  void Realign() override;
  float GetMin() const { return min_; }
  // Takes effect at the next realign.
  void SetMin(float value) { min_ = value; }
  float GetMax() const { return max_; }
  void SetMax(float value) { max_ = value; }
  float GetValue() const { return value_; }
  void SetValue(float value);
  TvgOrientation GetOrientation() const { return orientation_; }
  void SetOrientation(TvgOrientation value);
  bool IsMaxStored() const { return max_ != 100; }

 private:
  float min_ = 0;
  float value_ = 0;
  float max_ = 100;
  TvgOrientation orientation_ = vgHorizontal;
  bool inBarRealign_ = false;
};

KBL_ENUM(TvgAniIndicatorStyle, vgAniIndicatorLine, vgAniIndicatorCircle)

// A busy indicator: marks round the centre with a dark highlight running round while enabled.
class TvgAniIndicator : public TvgControl {
  KBL_DECLARE_CLASS(TvgAniIndicator, TvgControl)
 public:
  explicit TvgAniIndicator(TComponent* owner);
  void Paint() override;
  // The indicator's own switch (it hides the visual object's Enabled).
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value);
  TvgAniIndicatorStyle GetStyle() const { return style_; }
  void SetStyle(TvgAniIndicatorStyle value);
  TvgVisualObject* GetLayer() const { return layer_; }
  TvgFloatAnimation* GetAnimation() const { return ani_; }

 private:
  TvgVisualObject* layer_;
  TvgFloatAnimation* ani_;
  bool enabled_ = false;
  TvgAniIndicatorStyle style_ = vgAniIndicatorLine;
};

// A round knob whose value is an angle in degrees.
class TvgAngleButton : public TvgControl {
  KBL_DECLARE_CLASS(TvgAngleButton, TvgControl)
 public:
  explicit TvgAngleButton(TComponent* owner);
  Variant GetData() override { return Variant(static_cast<double>(value_)); }
  void SetData(const Variant& value) override;
  void ApplyStyle() override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  float GetValue() const { return value_; }
  void SetValue(float value);
  float GetFrequency() const { return frequency_; }
  void SetFrequency(float value) { frequency_ = value; }
  bool GetTracking() const { return tracking_; }
  void SetTracking(bool value) { tracking_ = value; }
  bool GetShowValue() const { return showValue_; }
  void SetShowValue(bool value);
  TNotifyEvent OnChange;

 private:
  void UpdateTexts();
  bool pressed_ = false;
  TvgPoint pressPoint_;
  float pressValue_ = 0;
  float value_ = 0;
  float frequency_ = 0;
  bool tracking_ = true;
  bool showValue_ = false;
};

// A captioned box whose content folds away under its header button ("button") and can be
// switched off by a check box ("checkbox").
class TvgExpander : public TvgTextControl {
  KBL_DECLARE_CLASS(TvgExpander, TvgTextControl)
 public:
  explicit TvgExpander(TComponent* owner);
  ~TvgExpander() override;
  // "ContentSize": the content's height, always written.
  void DefineProperties(TFiler& filer) override;
  void AddObject(TvgObject* child) override;
  void DesignClick() override;
  void Realign() override;
  void ApplyStyle() override;
  void FreeStyle() override;
  bool GetIsExpanded() const { return isExpanded_; }
  virtual void SetIsExpanded(bool value);
  bool GetIsChecked() const { return isChecked_; }
  void SetIsChecked(bool value);
  bool GetShowCheck() const { return showCheck_; }
  void SetShowCheck(bool value);
  TvgContent* GetContent() const { return content_; }
  TNotifyEvent OnCheckChange;

 private:
  void CheckChanged(TObject*);
  void ButtonClick(TObject*) { SetIsExpanded(!isExpanded_); }
  bool showCheck_ = false;
  bool isChecked_ = true;
  bool isExpanded_ = true;
  TvgContent* content_ = nullptr;
  TvgCustomButton* button_ = nullptr;
  TvgCheckBox* checkbox_ = nullptr;
  bool inExpanderRealign_ = false;
};

// --- Buttons with menus and dialogs

// Pops its PopupMenu (a TPopupMenu of the class library, not owned) up below itself.
class TvgPopupButton : public TvgButton {
  KBL_DECLARE_CLASS(TvgPopupButton, TvgButton)
 public:
  explicit TvgPopupButton(TComponent* owner) : TvgButton(owner) {}
  ~TvgPopupButton() override;
  void Click() override;
  void Notification(TComponent* component, TOperation operation) override;
  TComponent* GetPopupMenu() const { return popupMenu_; }
  void SetPopupMenu(TComponent* value);

 private:
  TComponent* popupMenu_ = nullptr;
};

// Shows a colour in its style part "fill" and lets the user choose another.
class TvgColorButton : public TvgCustomButton {
  KBL_DECLARE_CLASS(TvgColorButton, TvgCustomButton)
 public:
  explicit TvgColorButton(TComponent* owner);
  void ApplyStyle() override;
  void FreeStyle() override;
  void Click() override;
  const std::string& GetColor() const { return color_; }
  void SetColor(const std::string& value);
  bool GetUseStandardDialog() const { return useStandardDialog_; }
  void SetUseStandardDialog(bool value) { useStandardDialog_ = value; }
  TNotifyEvent OnChange;

 private:
  TvgShape* fill_ = nullptr;
  std::string color_ = "#FF000000";
  bool useStandardDialog_ = true;
};

// A button that picks one of its Items from a popup menu and shows it as its text.
class TvgPopupBox : public TvgCustomButton {
  KBL_DECLARE_CLASS(TvgPopupBox, TvgCustomButton)
 public:
  explicit TvgPopupBox(TComponent* owner);
  ~TvgPopupBox() override;
  Variant GetData() override { return Variant(GetText()); }
  // Null: no item; a method: OnChange; a number: ItemIndex; a text: its item, else the text.
  void SetData(const Variant& value) override;
  void Click() override;
  void SetText(const WideString& value) override;
  // Fills the menu from Items and pops it up centred on the control.
  virtual void DoPopup();
  TvgWideStrings* GetItems() const { return items_; }
  void SetItems(TvgWideStrings* value) { items_->Assign(value); }
  int32_t GetItemIndex() const { return itemIndex_; }
  void SetItemIndex(int32_t value);
  TNotifyEvent OnChange;

 private:
  void ItemsChanged(TObject*) { Repaint(); }
  TvgWideStringList* items_;
  int32_t itemIndex_ = -1;
};

// A picture box: its Bitmap shows fitted in the style part "image"; a click opens a file dialog,
// and image files or TvgImage objects can be dropped on it.
class TvgImageControl : public TvgControl {
  KBL_DECLARE_CLASS(TvgImageControl, TvgControl)
 public:
  explicit TvgImageControl(TComponent* owner);
  ~TvgImageControl() override;
  Variant GetData() override;
  void SetData(const Variant& value) override;
  void ApplyStyle() override;
  void FreeStyle() override;
  void Click() override;
  void DragOver(const TvgDragObject& data, const TvgPoint& point, bool& accept) override;
  void DragDrop(const TvgDragObject& data, const TvgPoint& point) override;
  TvgBitmap* GetBitmap() const { return bitmap_; }
  void SetBitmap(TvgBitmap* value) { bitmap_->Assign(value); }
  bool GetEnableOpenDialog() const { return enableOpenDialog_; }
  void SetEnableOpenDialog(bool value) { enableOpenDialog_ = value; }
  // True when the codec lists the file's extension and the file exists.
  static bool IsImageFile(const std::string& fileName);
  TNotifyEvent OnChange;

 private:
  void BitmapChanged(TObject*);
  TvgImage* image_ = nullptr;
  TvgBitmap* bitmap_;
  bool enableOpenDialog_ = true;
};

// --- Panels, bars, group box, splitter, windows

class TvgSelectionItem : public TvgControl {
  KBL_DECLARE_CLASS(TvgSelectionItem, TvgControl)
 public:
  explicit TvgSelectionItem(TComponent* owner);
  // The children are not painted while the component is being designed.
  void PaintChildren() override;
};

class TvgPanel : public TvgControl {
  KBL_DECLARE_CLASS(TvgPanel, TvgControl)
 public:
  explicit TvgPanel(TComponent* owner);
};

class TvgStatusBar : public TvgControl {
  KBL_DECLARE_CLASS(TvgStatusBar, TvgControl)
 public:
  explicit TvgStatusBar(TComponent* owner);
  void ApplyStyle() override;
  bool GetShowSizeGrip() const { return showSizeGrip_; }
  void SetShowSizeGrip(bool value);

 private:
  bool showSizeGrip_ = true;
};

class TvgToolBar : public TvgControl {
  KBL_DECLARE_CLASS(TvgToolBar, TvgControl)
 public:
  explicit TvgToolBar(TComponent* owner);
};

class TvgGroupBox : public TvgTextControl {
  KBL_DECLARE_CLASS(TvgGroupBox, TvgTextControl)
 public:
  explicit TvgGroupBox(TComponent* owner);
};

// Cursor identifiers of the splitters.
constexpr int32_t vgCursorHSplit = -14;
constexpr int32_t vgCursorVSplit = -15;

// Resizes the neighbour it touches on the side its Align names.
class TvgSplitter : public TvgControl {
  KBL_DECLARE_CLASS(TvgSplitter, TvgControl)
 public:
  explicit TvgSplitter(TComponent* owner);
  void SetAlign(TvgAlign value) override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void ApplyStyle() override;
  void Paint() override;
  float GetMinSize() const { return minSize_; }
  void SetMinSize(float value) { minSize_ = value; }
  bool GetShowGrip() const { return showGrip_; }
  void SetShowGrip(bool value);
  // The neighbour the splitter resizes, or nullptr.
  TvgVisualObject* FindControl();

 private:
  bool Vertical() const;
  float Extent(TvgVisualObject* obj) const;
  void CalcSplitSize(float x, float y, float& newSize, float& split);

  bool pressed_ = false;
  TvgVisualObject* control_ = nullptr;
  TvgPoint pressPoint_;
  float minSize_ = 20;
  float maxSize_ = 0;
  float newSize_ = 0;
  float oldSize_ = 0;
  float split_ = 0;
  bool showGrip_ = true;
};

class TvgWindow : public TvgTextControl {
  KBL_DECLARE_CLASS(TvgWindow, TvgTextControl)
 public:
  explicit TvgWindow(TComponent* owner);
  void ApplyStyle() override;
  bool GetShowCloseButton() const { return showCloseButton_; }
  void SetShowCloseButton(bool value);
  bool GetShowSizeGrip() const { return showSizeGrip_; }
  void SetShowSizeGrip(bool value);
  TNotifyEvent OnCloseClick;

 protected:
  // Looks the style up again and applies it.
  void ReapplyResource();

 private:
  bool showCloseButton_ = true;
  bool showSizeGrip_ = true;
};

KBL_ENUM(TvgCloseAlign, vgButtonAlignLeft, vgButtonAlignRight)

class TvgHudWindow : public TvgWindow {
  KBL_DECLARE_CLASS(TvgHudWindow, TvgWindow)
 public:
  explicit TvgHudWindow(TComponent* owner);
  ~TvgHudWindow() override;
  void ApplyStyle() override;
  bool GetDisableShadowOnOSX() const { return disableShadowOnOSX_; }
  void SetDisableShadowOnOSX(bool value);
  TvgBrush* GetFill() const { return fill_; }
  void SetFill(TvgBrush* value) { fill_->Assign(value); }
  TvgBrush* GetStroke() const { return stroke_; }
  void SetStroke(TvgBrush* value) { stroke_->Assign(value); }
  float GetStrokeThickness() const { return strokeThickness_; }
  void SetStrokeThickness(float value);
  TvgStrokeCap GetStrokeCap() const { return strokeCap_; }
  void SetStrokeCap(TvgStrokeCap value);
  TvgStrokeDash GetStrokeDash() const { return strokeDash_; }
  void SetStrokeDash(TvgStrokeDash value);
  TvgStrokeJoin GetStrokeJoin() const { return strokeJoin_; }
  void SetStrokeJoin(TvgStrokeJoin value);
  TvgCloseAlign GetButtonAlign() const { return buttonAlign_; }
  void SetButtonAlign(TvgCloseAlign value);
  bool GetShowCaption() const { return showCaption_; }
  void SetShowCaption(bool value);
  bool IsStrokeThicknessStored() const { return strokeThickness_ != 1; }

 private:
  void BrushChanged(TObject*);
  void Restyle();
  bool disableShadowOnOSX_ = true;
  TvgBrush* fill_;
  float strokeThickness_ = 1;
  TvgBrush* stroke_;
  TvgStrokeCap strokeCap_ = vgCapFlat;
  TvgStrokeDash strokeDash_ = vgDashSolid;
  TvgStrokeJoin strokeJoin_ = vgJoinMiter;
  TvgCloseAlign buttonAlign_ = vgButtonAlignLeft;
  bool showCaption_ = true;
};

// Head-up-display variants: their style is found by class name.
#define VG_HUD_CLASS(Name, Base)                       \
  class Name : public Base {                           \
    KBL_DECLARE_CLASS(Name, Base)                      \
   public:                                             \
    explicit Name(TComponent* owner) : Base(owner) {}  \
  };
VG_HUD_CLASS(TvgHudLabel, TvgLabel)
VG_HUD_CLASS(TvgHudButton, TvgButton)
VG_HUD_CLASS(TvgHudRoundButton, TvgButton)
VG_HUD_CLASS(TvgHudCircleButton, TvgCircleButton)
VG_HUD_CLASS(TvgHudCornerButton, TvgCornerButton)
VG_HUD_CLASS(TvgHudSpeedButton, TvgSpeedButton)
VG_HUD_CLASS(TvgHudCheckBox, TvgCheckBox)
VG_HUD_CLASS(TvgHudRadioButton, TvgRadioButton)
VG_HUD_CLASS(TvgHudGroupBox, TvgGroupBox)
VG_HUD_CLASS(TvgHudAngleButton, TvgAngleButton)
VG_HUD_CLASS(TvgHudTrack, TvgTrack)
VG_HUD_CLASS(TvgHudTrackBar, TvgTrackBar)
VG_HUD_CLASS(TvgHudScrollBar, TvgScrollBar)
VG_HUD_CLASS(TvgHudPanel, TvgPanel)
VG_HUD_CLASS(TvgHudCloseButton, TvgCloseButton)
VG_HUD_CLASS(TvgHudSizeGrip, TvgSizeGrip)
VG_HUD_CLASS(TvgHudStatusBar, TvgStatusBar)
VG_HUD_CLASS(TvgHudPopupBox, TvgPopupBox)
#undef VG_HUD_CLASS

// Registers the classes of the unit for streaming and the designer (once).
void vgInitControlsUnit();
