// The number box and the spin box: a value within Min .. Max, shown as text in the user's
// number format and edited by typing, keys, mouse drags and the spin buttons.
#include <cmath>

#include "scene/core/vg_canvas.h"
#include "vg_textbox.h"
#include "vg_widgets_p.h"

using namespace vg_widgets;

namespace {
constexpr TvgColor kDragIndicatorColor = 0xAA505050u;
}  // namespace

KBL_PUBLISHED(TvgValueTextBox) {}

KBL_PUBLISHED(TvgNumberBox) {
  KBL_PROP(DecimalDigits).Default(2);
  KBL_PROP(Min).Default(0.0f);
  KBL_PROP(Max).Default(10.0f);
  KBL_PROP(ShowCaret).Default(true);
  KBL_PROP(Value).Default(0.0f);
  KBL_PROP(ValueType).Default(vgValueInteger);
  KBL_PROP(HorzIncrement).Default(1.0f);
  KBL_PROP(VertIncrement).Default(5.0f);
}

KBL_PUBLISHED(TvgSpinBox) {
  KBL_PROP(DecimalDigits).Default(2);
  KBL_PROP(Min).Default(0.0f);
  KBL_PROP(Max).Default(10.0f);
  KBL_PROP(Increment).Default(1.0f);
  KBL_PROP(ShowCaret).Default(true);
  KBL_PROP(Value).Default(0.0f);
  KBL_PROP(ValueType).Default(vgValueInteger);
  KBL_PROP(TextAlign).Default(vgTextAlignCenter);
}

KBL_PUBLISHED(TvgHudNumberBox) {}
KBL_PUBLISHED(TvgHudSpinBox) {}

// --- Value boxes

TvgValueTextBox::TvgValueTextBox(TComponent* owner) : TvgCustomTextBox(owner) {
  SetFilterChar(kNumberChars);
  SetTextDirect(u"0");
}

void TvgValueTextBox::SetData(const Variant& value) {
  if (VariantToNotify(value, OnChange)) return;
  try {
    SetValue(static_cast<float>(value.ToDouble()));
  } catch (const EVariantError&) {
    // Not a number: the value stays.
  }
}

float TvgValueTextBox::Clamped(float value) const {
  if (value > max_) value = max_;
  if (value < min_) value = min_;
  return value;
}

WideString TvgValueTextBox::ValueText(float value, bool shortest) const {
  if (valueType_ == vgValueInteger || value == std::trunc(value)) {
    const std::string whole = IntToStr(Trunc(value));
    return WideString(whole.begin(), whole.end());
  }
  const TFormatSettings settings = GetLocaleFormatSettings();
  return shortest ? FloatToStrShortest(value, settings) : FloatToStrFixed(value, decimalDigits_, settings);
}

void TvgValueTextBox::SetValue(float value) {
  if (value == value_) return;
  value_ = Clamped(value);
  SetTextDirect(ValueText(value_, false));
  textEdited_ = false;
  SetSelLength(0);
  Repaint();
}

void TvgValueTextBox::SetText(const WideString& value) {
  const bool differs = value != GetText();
  inherited::SetText(value);
  if (differs) textEdited_ = true;
}

void TvgValueTextBox::Change() {
  // Only typed text is read back: the text shown for a value may hold fewer digits than the
  // value, and reading it would overwrite the value with its rounded form.
  if (textEdited_) {
    double parsed = 0;
    if (TryStrToFloat(GetText(), parsed, GetLocaleFormatSettings())) value_ = Clamped(static_cast<float>(parsed));
    SetTextDirect(ValueText(value_, true));
    textEdited_ = false;
  }
  Repaint();
  inherited::Change();
}

void TvgValueTextBox::StepValue(float delta) {
  SetValue(value_ + delta);
  SetNeedChange(true);
  Change();
}

// --- Number box

TvgNumberBox::TvgNumberBox(TComponent* owner) : TvgValueTextBox(owner) { SetAutoCapture(true); }

void TvgNumberBox::KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) {
  if (key == kKeyUp || key == kKeyDown) {
    StepValue(key == kKeyUp ? horzIncrement_ : -horzIncrement_);
    key = 0;
  }
  inherited::KeyDown(key, keyChar, shift);
}

void TvgNumberBox::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  pressed_ = true;
  stepped_ = false;
  pressedPos_ = vgPoint(x, y);
  pressedVert_ = false;
}

void TvgNumberBox::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!pressed_) return;
  const float ax = std::fabs(x - pressedPos_.X);
  const float ay = std::fabs(y - pressedPos_.Y);
  // A move event that does not move the pointer is no step.
  if (ax == 0 && ay == 0) return;
  if (ax >= ay) {
    SetValue(value_ + (x > pressedPos_.X ? horzIncrement_ : -horzIncrement_));
    pressedVert_ = false;
  } else {
    SetValue(value_ + (y < pressedPos_.Y ? vertIncrement_ : -vertIncrement_));
    pressedVert_ = true;
  }
  SetNeedChange(true);
  stepped_ = true;
  pressedPos_ = vgPoint(x, y);
}

void TvgNumberBox::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (!pressed_) return;
  pressed_ = false;
  // A press that stepped nothing reports nothing.
  if (stepped_) Change();
  Repaint();
}

void TvgNumberBox::PaintChildren() {
  inherited::PaintChildren();
  TvgCanvas* canvas = GetCanvas();
  if (!pressed_ || canvas == nullptr) return;
  const int32_t state = canvas->SaveCanvas();
  canvas->SetMatrix(GetAbsoluteMatrix());
  TvgBrush fill(vgBrushSolid, kDragIndicatorColor);
  canvas->SetFill(&fill);
  TvgRect r = GetLocalRect();
  vgInflateRect(r, -1, -1);
  if (pressedVert_) r.Left = r.Right - 5;
  else r.Top = r.Bottom - 5;
  canvas->FillRect(r, 1, 1, vgAllCorners, GetAbsoluteOpacity());
  canvas->RestoreCanvas(state);
}

// --- Spin box

TvgSpinBox::TvgSpinBox(TComponent* owner) : TvgValueTextBox(owner) { SetTextAlign(vgTextAlignCenter); }

void TvgSpinBox::KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) {
  if (key == kKeyUp || key == kKeyDown) {
    StepValue(key == kKeyUp ? increment_ : -increment_);
    key = 0;
  }
  inherited::KeyDown(key, keyChar, shift);
}

void TvgSpinBox::ApplyStyle() {
  inherited::ApplyStyle();
  minusButton_ = PartOf<TvgCustomButton>(this, "minusbutton");
  if (minusButton_ != nullptr) minusButton_->OnClick = TNotifyEvent::Of<&TvgSpinBox::MinusClick>(this);
  plusButton_ = PartOf<TvgCustomButton>(this, "plusbutton");
  if (plusButton_ != nullptr) plusButton_->OnClick = TNotifyEvent::Of<&TvgSpinBox::PlusClick>(this);
}

void TvgSpinBox::FreeStyle() {
  inherited::FreeStyle();
  minusButton_ = plusButton_ = nullptr;
}

void TvgSpinBox::MinusClick(TObject*) {
  SetFocus();
  StepValue(-increment_);
}

void TvgSpinBox::PlusClick(TObject*) {
  SetFocus();
  StepValue(increment_);
}

void TvgSpinBox::SetValueType(TvgValueType value) {
  if (value == GetValueType()) return;
  inherited::SetValueType(value);
  if (value == vgValueInteger && increment_ != std::trunc(increment_)) increment_ = 1;
}
