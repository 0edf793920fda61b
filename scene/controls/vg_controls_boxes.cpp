// Basic styled controls, second part: close button and size grip, progress bar, busy indicator,
// angle button, expander, panels and bars, group box, splitter and windows.
#include <algorithm>
#include <cmath>

#include "classlib/ActnList.h"
#include "classlib/Filer.h"
#include "classlib/ImgList.h"
#include "scene/core/vg_canvas.h"
#include "scene/core/vg_sceneintf.h"
#include "vg_controls.h"

// --- Published properties

KBL_PUBLISHED(TvgCloseButton) {
  KBL_PROP(Width).Default(20.0f);
  KBL_PROP(Height).Default(20.0f);
  KBL_PROP(CloseForm).Default(true);
  p.Property("OnClick", &TvgCloseButton::OnCloseClick, &TvgCloseButton::OnCloseClick);
}
KBL_PUBLISHED(TvgSizeGrip) {}

KBL_PUBLISHED(TvgProgressBar) {
  KBL_PROP(Width).Default(100.0f);
  KBL_PROP(Height).Default(20.0f);
  KBL_PROP(BindingSource);
  KBL_PROP(Min);
  KBL_PROP(Max).Stored(&TvgProgressBar::IsMaxStored);
  KBL_PROP(Orientation).Default(vgHorizontal);
  KBL_PROP(Value);
}
KBL_PUBLISHED(TvgAniIndicator) {
  KBL_PROP(Enabled).Default(false);
  KBL_PROP(Style).Default(vgAniIndicatorLine);
}
KBL_PUBLISHED(TvgAngleButton) {
  KBL_PROP(Width).Default(30.0f);
  KBL_PROP(Height).Default(30.0f);
  KBL_PROP(BindingSource);
  KBL_PROP(Frequency);
  KBL_PROP(Tracking).Default(true);
  KBL_PROP(ShowValue).Default(false);
  KBL_PROP(Value);
  p.Property("OnChange", &TvgAngleButton::OnChange, &TvgAngleButton::OnChange);
}
KBL_PUBLISHED(TvgExpander) {
  KBL_PROP(Width).Default(130.0f);
  KBL_PROP(Height).Default(130.0f);
  KBL_PROP(Font);
  KBL_PROP(TextAlign).Default(vgTextAlignCenter);
  p.Property("Text", &TvgExpander::GetText, &TvgExpander::SetText);
  KBL_PROP(AutoTranslate).Default(true);
  KBL_PROP(IsExpanded).Default(true);
  KBL_PROP(IsChecked).Default(true);
  KBL_PROP(ShowCheck).Default(false);
  p.Property("OnCheckChange", &TvgExpander::OnCheckChange, &TvgExpander::OnCheckChange);
}
KBL_PUBLISHED(TvgSelectionItem) { KBL_PROP(HitTest).Default(false); }
KBL_PUBLISHED(TvgPanel) {
  KBL_PROP(Width).Default(120.0f);
  KBL_PROP(Height).Default(100.0f);
}
KBL_PUBLISHED(TvgStatusBar) {
  KBL_PROP(Height).Default(22.0f);
  KBL_PROP(Align).Default(vaBottom);
  KBL_PROP(ShowSizeGrip).Default(true);
}
KBL_PUBLISHED(TvgToolBar) {
  KBL_PROP(Height).Default(40.0f);
  KBL_PROP(Align).Default(vaTop);
}
KBL_PUBLISHED(TvgGroupBox) {
  KBL_PROP(Width).Default(120.0f);
  KBL_PROP(Height).Default(100.0f);
  KBL_PROP(CanFocused).Default(false);
  KBL_PROP(AutoTranslate).Default(true);
  KBL_PROP(Font);
  KBL_PROP(TextAlign).Default(vgTextAlignCenter);
  p.Property("Text", &TvgGroupBox::GetText, &TvgGroupBox::SetText);
}
KBL_PUBLISHED(TvgSplitter) {
  KBL_PROP(Width).Default(5.0f);
  KBL_PROP(Align).Default(vaLeft);
  KBL_PROP(Cursor).Default(vgCursorHSplit);
  KBL_PROP(MinSize).Default(20.0f);
  KBL_PROP(ShowGrip).Default(true);
}
KBL_PUBLISHED(TvgWindow) {
  KBL_PROP(Width).Default(200.0f);
  KBL_PROP(Height).Default(200.0f);
  KBL_PROP(HitTest).Default(false);
  KBL_PROP(AutoTranslate).Default(true);
  KBL_PROP(Font);
  KBL_PROP(TextAlign).Default(vgTextAlignNear);
  p.Property("Text", &TvgWindow::GetText, &TvgWindow::SetText);
  KBL_PROP(ShowCloseButton).Default(true);
  KBL_PROP(ShowSizeGrip).Default(true);
  p.Property("OnCloseClick", &TvgWindow::OnCloseClick, &TvgWindow::OnCloseClick);
}
KBL_PUBLISHED(TvgHudWindow) {
  KBL_PROP(DisableShadowOnOSX).Default(true);
  KBL_PROP(Fill);
  KBL_PROP(Stroke);
  KBL_PROP(StrokeThickness).Stored(&TvgHudWindow::IsStrokeThicknessStored);
  KBL_PROP(StrokeCap).Default(vgCapFlat);
  KBL_PROP(StrokeDash).Default(vgDashSolid);
  KBL_PROP(StrokeJoin).Default(vgJoinMiter);
  KBL_PROP(ButtonAlign).Default(vgButtonAlignLeft);
  KBL_PROP(ShowCaption).Default(true);
}
KBL_PUBLISHED(TvgHudLabel) {}
KBL_PUBLISHED(TvgHudButton) {}
KBL_PUBLISHED(TvgHudRoundButton) {}
KBL_PUBLISHED(TvgHudCircleButton) {}
KBL_PUBLISHED(TvgHudCornerButton) {}
KBL_PUBLISHED(TvgHudSpeedButton) {}
KBL_PUBLISHED(TvgHudCheckBox) {}
KBL_PUBLISHED(TvgHudRadioButton) {}
KBL_PUBLISHED(TvgHudGroupBox) {}
KBL_PUBLISHED(TvgHudAngleButton) {}
KBL_PUBLISHED(TvgHudTrack) {}
KBL_PUBLISHED(TvgHudTrackBar) {}
KBL_PUBLISHED(TvgHudScrollBar) {}
KBL_PUBLISHED(TvgHudPanel) {}
KBL_PUBLISHED(TvgHudCloseButton) {}
KBL_PUBLISHED(TvgHudSizeGrip) {}
KBL_PUBLISHED(TvgHudStatusBar) {}

namespace {
TvgVisualObject* VisualPart(TvgControl* c, const char* name) {
  TvgObject* part = c->FindResource(name);
  return part != nullptr ? part->Visual() : nullptr;
}
bool Designing(TvgObject* obj) { return obj->GetScene() != nullptr && obj->GetScene()->GetDesignTime(); }
// Fires a trigger on `target`'s animations and effects with `instance` deciding the conditions.
void FireTriggerOn(TvgObject* target, TvgObject* instance, const std::string& trigger) {
  target->StartTriggerAnimation(instance, trigger);
  target->ApplyTriggerEffect(instance, trigger);
}
}  // namespace

// --- Close button

TvgCloseButton::TvgCloseButton(TComponent* owner) : TvgControl(owner) {
  SetCanFocused(false);
  SetWidth(20);
  SetHeight(20);
}

void TvgCloseButton::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button == mbLeft) mousePressed_ = true;
}

void TvgCloseButton::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (!mousePressed_) return;
  if (closeForm_) {
    if (TComponent* form = vgFindSceneForm(this))
      if (vgFormHooks().Close) vgFormHooks().Close(form);
  }
  mousePressed_ = false;
  RunHandler(OnCloseClick, this);
}

// --- Progress bar

TvgProgressBar::TvgProgressBar(TComponent* owner) : TvgControl(owner) {
  SetCanFocused(false);
  SetWidth(100);
  SetHeight(20);
}

void TvgProgressBar::SetData(const Variant& value) {
  if (value.IsNumeric()) SetValue(static_cast<float>(value.ToDouble()));
  else SetValue(min_);
}

void TvgProgressBar::SetValue(float value) {
  if (vgSetChanged(value_, value)) Realign();
}

void TvgProgressBar::SetOrientation(TvgOrientation value) {
  if (!vgSetChanged(orientation_, value)) return;
  if (IsDesigning() && !IsLoading()) {
    const float w = GetWidth();
    SetWidth(GetHeight());
    SetHeight(w);
  }
  Realign();
}

void TvgProgressBar::ApplyStyle() {
  inherited::ApplyStyle();
  if (TvgVisualObject* indicator = VisualPart(this, orientation_ == vgVertical ? "vindicator" : "hindicator"))
    FireTriggerOn(indicator, this, "IsVisible");
  Realign();
}

void TvgProgressBar::Realign() {
  if (inBarRealign_) return;
  inBarRealign_ = true;
  const bool horizontal = orientation_ == vgHorizontal;
  if (TvgVisualObject* other = VisualPart(this, horizontal ? "vtrack" : "htrack")) other->SetVisible(false);
  TvgVisualObject* track = VisualPart(this, horizontal ? "htrack" : "vtrack");
  if (track == nullptr) track = VisualPart(this, "track");
  // The track of the orientation shows again after an orientation change hid it.
  else track->SetVisible(true);
  if (track != nullptr && min_ < max_) {
    // Values outside the range show an empty or a full bar, never one beyond the track.
    const float ratio = std::clamp((value_ - min_) / (max_ - min_), 0.0f, 1.0f);
    const TvgRect m = track->GetMargins()->GetRect();
    TvgVisualObject* h = VisualPart(this, "hindicator");
    TvgVisualObject* v = VisualPart(this, "vindicator");
    if (horizontal) {
      if (h != nullptr) {
        const TvgRect pad = h->GetPadding()->GetRect();
        h->SetWidth((track->GetWidth() - m.Left - m.Right - pad.Left - pad.Right) * ratio);
        h->SetVisible(true);
      }
      if (v != nullptr) v->SetVisible(false);
    } else {
      if (v != nullptr) {
        const TvgRect pad = v->GetPadding()->GetRect();
        v->SetHeight((track->GetHeight() - m.Top - m.Bottom - pad.Top - pad.Bottom) * ratio);
        v->SetVisible(true);
      }
      if (h != nullptr) h->SetVisible(false);
    }
  }
  inherited::Realign();
  inBarRealign_ = false;
}

// --- Busy indicator

TvgAniIndicator::TvgAniIndicator(TComponent* owner) : TvgControl(owner) {
  layer_ = new TvgVisualObject(this);
  layer_->SetParent(this);
  layer_->SetAlign(vaContents);
  layer_->SetLocked(true);
  layer_->SetStored(false);
  ani_ = new TvgFloatAnimation(this);
  ani_->SetParent(layer_);
  ani_->SetStored(false);
  ani_->SetLoop(true);
  ani_->SetStartValue(0);
  ani_->SetStopValue(360);
  ani_->SetDuration(10);
  ani_->SetPropertyName("RotateAngle");
}

void TvgAniIndicator::SetEnabled(bool value) {
  if (!vgSetChanged(enabled_, value)) return;
  if (enabled_) ani_->Start();
  else ani_->Stop();
}

void TvgAniIndicator::SetStyle(TvgAniIndicatorStyle value) {
  if (vgSetChanged(style_, value)) Repaint();
}

void TvgAniIndicator::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const float cx = GetWidth() / 2, cy = GetHeight() / 2;
  const float radius = std::min(GetWidth(), GetHeight()) / 2;
  const int marks = style_ == vgAniIndicatorLine ? 12 : 8;
  const float step = 360.0f / static_cast<float>(marks);
  const float opacity = GetAbsoluteOpacity();
  const float rotation = layer_->GetRotateAngle();
  canvas->GetStroke()->SetStyle(vgBrushSolid);
  canvas->GetFill()->SetStyle(vgBrushSolid);
  canvas->SetStrokeThickness(std::max(1.0f, radius / 8));
  for (int pass = 0; pass < (enabled_ ? 2 : 1); ++pass) {
    const TvgColor color = pass == 0 ? 0xFFBABABAu : 0xFF000000u;
    canvas->GetStroke()->SetSolidColor(color);
    canvas->GetFill()->SetSolidColor(color);
    for (int k = 0; k < marks; ++k) {
      const float angle = step * static_cast<float>(k);
      float factor = 1;
      if (pass == 1) {
        // The highlight sits at the layer's rotation and fades over the marks behind it.
        const float behind = std::fmod(rotation - angle + 720.0f, 360.0f);
        factor = std::max(0.0f, 1.0f - behind / 180.0f);
        if (factor <= 0) continue;
      }
      const float rad = angle * 3.14159265f / 180.0f;
      const float dx = std::cos(rad), dy = std::sin(rad);
      if (style_ == vgAniIndicatorLine) {
        canvas->DrawLine(vgPoint(cx + dx * radius * 0.5f, cy + dy * radius * 0.5f),
                         vgPoint(cx + dx * radius * 0.95f, cy + dy * radius * 0.95f), opacity * factor);
      } else {
        const float r = radius / 6;
        const float mx = cx + dx * (radius - r), my = cy + dy * (radius - r);
        canvas->FillEllipse(vgRect(mx - r, my - r, mx + r, my + r), opacity * factor);
      }
    }
  }
}

// --- Angle button

TvgAngleButton::TvgAngleButton(TComponent* owner) : TvgControl(owner) {
  SetWidth(30);
  SetHeight(30);
  SetAutoCapture(true);
}

void TvgAngleButton::SetData(const Variant& value) {
  if (vgVarIsEvent(value)) {
    const TMethodValue m = vgVariantToEvent(value);
    OnChange = m.Assigned() ? TNotifyEvent::FromFunction(reinterpret_cast<TNotifyEvent::Thunk>(m.Code), m.Data)
                            : TNotifyEvent();
    return;
  }
  SetValue(value.IsNumeric() ? static_cast<float>(value.ToDouble()) : 0.0f);
}

void TvgAngleButton::UpdateTexts() {
  const std::string digits = std::to_string(static_cast<int64_t>(std::nearbyint(value_)));
  const WideString text = WideString(digits.begin(), digits.end()) + u"\u00B0";
  if (auto* track = dynamic_cast<TvgText*>(FindResource("tracktext"))) {
    track->SetVisible(false);
    track->SetText(text);
    track->SetOpacity(pressed_ && !tracking_ ? 1 : 0);
  }
  if (auto* shown = dynamic_cast<TvgText*>(FindResource("text"))) {
    shown->SetVisible(showValue_);
    shown->SetText(text);
    shown->SetOpacity(showValue_ ? 1 : 0);
  }
}

void TvgAngleButton::ApplyStyle() {
  inherited::ApplyStyle();
  if (TvgVisualObject* tick = VisualPart(this, "tick")) tick->SetRotateAngle(-value_);
  UpdateTexts();
}

void TvgAngleButton::SetValue(float v) {
  if (frequency_ != 0) v = std::nearbyint(v / frequency_) * frequency_;
  if (v == value_) return;
  value_ = v;
  if (TvgVisualObject* tick = VisualPart(this, "tick")) tick->SetRotateAngle(-value_);
  else Repaint();
  UpdateTexts();
  if (!pressed_ || tracking_) RunHandler(OnChange, this);
}

void TvgAngleButton::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  pressed_ = true;
  pressPoint_ = vgPoint(x, y);
  pressValue_ = value_;
  UpdateTexts();
}

void TvgAngleButton::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!shift.Contains(ssLeft) || !pressed_) return;
  SetValue(vgVectorAngle(vgVector(1, 0), vgVector(x - GetWidth() / 2, y - GetHeight() / 2)));
  pressPoint_ = vgPoint(x, y);
  UpdateTexts();
}

void TvgAngleButton::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (!pressed_) return;
  pressed_ = false;
  UpdateTexts();
  if (value_ != pressValue_) RunHandler(OnChange, this);
}

void TvgAngleButton::SetShowValue(bool value) {
  if (!vgSetChanged(showValue_, value)) return;
  UpdateTexts();
  Repaint();
}

// --- Expander

TvgExpander::TvgExpander(TComponent* owner) : TvgTextControl(owner) {
  SetWidth(130);
  SetHeight(130);
  SetAutoTranslate(true);
  auto* content = new TvgContent(this);
  content->SetParent(this);  // content_ is unset yet: the expander takes it itself
  content->SetClipChildren(false);
  content->SetHitTest(false);
  content->SetLocked(true);
  content->SetStored(false);
  content->GetPadding()->SetTop(25);
  content_ = content;
}

TvgExpander::~TvgExpander() {
  content_ = nullptr;
  button_ = nullptr;
  checkbox_ = nullptr;
  DestroyTree();
}

void TvgExpander::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  filer.DefineProperty(
      "ContentSize",
      [this](TReader& reader) {
        if (content_ != nullptr) content_->SetHeight(vgStrToFloat(reader.ReadString()));
      },
      [this](TWriter& writer) { writer.WriteString(vgFloatToStr(content_ != nullptr ? content_->GetHeight() : 0)); },
      true);
}

void TvgExpander::AddObject(TvgObject* child) {
  if (content_ != nullptr && child != content_ && child != GetStyleObject()) {
    content_->AddObject(child);
    return;
  }
  inherited::AddObject(child);
}

void TvgExpander::ApplyStyle() {
  inherited::ApplyStyle();
  checkbox_ = dynamic_cast<TvgCheckBox*>(FindResource("checkbox"));
  if (checkbox_ != nullptr) {
    checkbox_->SetVisible(showCheck_);
    checkbox_->SetIsChecked(isChecked_);
    checkbox_->OnChange = TNotifyEvent::Of<&TvgExpander::CheckChanged>(this);
  }
  button_ = dynamic_cast<TvgCustomButton*>(FindResource("button"));
  if (button_ != nullptr) {
    button_->OnClick = TNotifyEvent::Of<&TvgExpander::ButtonClick>(this);
    button_->ApplyResource();
    FireTriggerOn(button_, this, "IsExpanded");
    button_->SetCanFocused(false);
  }
  FireTrigger("IsExpanded");
}

void TvgExpander::FreeStyle() {
  inherited::FreeStyle();
  button_ = nullptr;
  checkbox_ = nullptr;
}

void TvgExpander::CheckChanged(TObject*) {
  if (checkbox_ == nullptr) return;
  isChecked_ = checkbox_->GetIsChecked();
  content_->SetEnabled(isChecked_);
  RunHandler(OnCheckChange, this);
}

void TvgExpander::SetIsExpanded(bool value) {
  if (value == isExpanded_) return;
  if (GetStyleObject() == nullptr) ApplyResource();
  isExpanded_ = value;
  if (isExpanded_) {
    content_->SetVisible(true);
    if (button_ != nullptr) SetHeight(button_->GetHeight() + content_->GetHeight());
    Repaint();
  } else {
    Repaint();
    content_->SetVisible(false);
    if (button_ != nullptr) SetHeight(button_->GetHeight());
  }
  FireTrigger("IsExpanded");
  if (button_ != nullptr) FireTriggerOn(button_, this, "IsExpanded");
}

void TvgExpander::SetIsChecked(bool value) {
  if (!vgSetChanged(isChecked_, value)) return;
  content_->SetEnabled(value);
  if (checkbox_ != nullptr) checkbox_->SetIsChecked(value);
}

void TvgExpander::SetShowCheck(bool value) {
  showCheck_ = value;
  if (checkbox_ != nullptr) checkbox_->SetVisible(value);
}

void TvgExpander::Realign() {
  inherited::Realign();
  if (IsLoading() || inExpanderRealign_ || content_ == nullptr || !isExpanded_) return;
  inExpanderRealign_ = true;
  const float top = content_->GetPadding()->GetTop();
  content_->SetBounds(0, top, GetWidth(), GetHeight() - top);
  inExpanderRealign_ = false;
}

void TvgExpander::DesignClick() {
  inherited::DesignClick();
  SetIsExpanded(!isExpanded_);
}

// --- Panels and bars

TvgSelectionItem::TvgSelectionItem(TComponent* owner) : TvgControl(owner) { SetHitTest(false); }

void TvgSelectionItem::PaintChildren() {
  if (HasState(csDesigning)) return;
  inherited::PaintChildren();
}

TvgPanel::TvgPanel(TComponent* owner) : TvgControl(owner) {
  SetWidth(120);
  SetHeight(100);
}

TvgStatusBar::TvgStatusBar(TComponent* owner) : TvgControl(owner) {
  SetHeight(22);
  SetAlign(vaBottom);
}

void TvgStatusBar::ApplyStyle() {
  inherited::ApplyStyle();
  if (TvgVisualObject* grip = VisualPart(this, "sizegrip")) {
    grip->SetVisible(showSizeGrip_);
    if (!Designing(this)) {
      grip->SetLocked(false);
      grip->SetHitTest(true);
    }
  }
}

void TvgStatusBar::SetShowSizeGrip(bool value) {
  if (vgSetChanged(showSizeGrip_, value)) UpdateStyle();
}

TvgToolBar::TvgToolBar(TComponent* owner) : TvgControl(owner) {
  SetHeight(40);
  SetAlign(vaTop);
}

TvgGroupBox::TvgGroupBox(TComponent* owner) : TvgTextControl(owner) {
  SetAutoTranslate(true);
  SetCanFocused(false);
  SetWidth(120);
  SetHeight(100);
}

// --- Splitter

TvgSplitter::TvgSplitter(TComponent* owner) : TvgControl(owner) {
  SetAutoCapture(true);
  SetWidth(5);
  SetAlign(vaLeft);
  SetCursor(vgCursorHSplit);
}

void TvgSplitter::SetAlign(TvgAlign value) {
  inherited::SetAlign(value);
  SetCursor(value == vaTop || value == vaBottom ? vgCursorVSplit : vgCursorHSplit);
}

bool TvgSplitter::Vertical() const {
  const TvgAlign a = GetAlign();
  return a == vaLeft || a == vaRight || a == vaMostLeft || a == vaMostRight;
}

float TvgSplitter::Extent(TvgVisualObject* obj) const { return Vertical() ? obj->GetWidth() : obj->GetHeight(); }

TvgVisualObject* TvgSplitter::FindControl() {
  TvgObject* parent = GetParent();
  if (parent == nullptr) return nullptr;
  const float x = GetPosition()->GetX(), y = GetPosition()->GetY();
  TvgPoint p;
  switch (GetAlign()) {
    case vaTop: p = vgPoint(x, y - 1); break;
    case vaLeft:
    case vaMostLeft: p = vgPoint(x - 1, y); break;
    case vaRight:
    case vaMostRight: p = vgPoint(x + GetWidth() + 1, y); break;
    case vaBottom: p = vgPoint(x, y + GetHeight() + 1); break;
    default: return nullptr;
  }
  for (TvgObject* child : parent->Children()) {
    if (child == this || !child->IsVisual()) continue;
    TvgVisualObject* v = child->Visual();
    if (!v->GetVisible() || v->GetLocked()) continue;
    const TvgAlign a = v->GetAlign();
    const bool sameAxis = Vertical() ? (a == vaLeft || a == vaRight || a == vaMostLeft || a == vaMostRight)
                                     : (a == vaTop || a == vaBottom || a == vaMostTop || a == vaMostBottom);
    if (!sameAxis) continue;
    TvgRect r = v->GetParentedRect();
    if (r.Right - r.Left == 0) r.Right += 1;
    if (r.Bottom - r.Top == 0) r.Bottom += 1;
    if (vgPtInRect(p, r)) return v;
  }
  return nullptr;
}

void TvgSplitter::CalcSplitSize(float x, float y, float& newSize, float& split) {
  split = Vertical() ? x - pressPoint_.X : y - pressPoint_.Y;
  const TvgAlign a = GetAlign();
  const float extent = Extent(control_);
  const bool grows = a == vaTop || a == vaLeft || a == vaMostLeft;
  float s = grows ? extent + split : extent - split;
  const float unclamped = s;
  if (s < minSize_) s = minSize_;
  if (s > maxSize_) s = maxSize_;
  if (s != unclamped) split += grows ? s - unclamped : unclamped - s;
  newSize = s;
}

void TvgSplitter::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  pressed_ = true;
  pressPoint_ = vgPoint(x, y);
  control_ = FindControl();
  if (control_ == nullptr || GetParent() == nullptr || !GetParent()->IsVisual()) return;
  TvgVisualObject* parent = GetParent()->Visual();
  const bool vertical = Vertical();
  const TvgRect m = parent->GetMargins()->GetRect();
  maxSize_ = (vertical ? parent->GetWidth() - m.Left - m.Right : parent->GetHeight() - m.Top - m.Bottom) - minSize_;
  // Everything else on the axis keeps its room (the splitter and the control included; the
  // control's own extent comes back below), and MinSize stays for the rest.
  for (TvgObject* child : parent->Children()) {
    if (!child->IsVisual()) continue;
    TvgVisualObject* v = child->Visual();
    if (!v->GetVisible()) continue;
    const TvgAlign a = v->GetAlign();
    const bool sameAxis = vertical ? (a == vaLeft || a == vaRight || a == vaMostLeft || a == vaMostRight)
                                   : (a == vaTop || a == vaBottom || a == vaMostTop || a == vaMostBottom);
    if (!sameAxis) continue;
    const TvgRect pad = v->GetPadding()->GetRect();
    maxSize_ -= vertical ? v->GetWidth() + pad.Left + pad.Right : v->GetHeight() + pad.Top + pad.Bottom;
  }
  maxSize_ += Extent(control_);
  oldSize_ = Extent(control_);
  CalcSplitSize(x, y, newSize_, split_);
}

void TvgSplitter::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!pressed_ || control_ == nullptr) return;
  float newSize = 0, split = 0;
  CalcSplitSize(x, y, newSize, split);
  if (newSize < minSize_) newSize = minSize_;
  newSize_ = newSize;
  split_ = split;
  if (newSize_ == oldSize_) return;
  switch (GetAlign()) {
    case vaTop: control_->SetHeight(newSize_); break;
    case vaLeft:
    case vaMostLeft: control_->SetWidth(newSize_); break;
    case vaRight:
    case vaMostRight:
      control_->GetPosition()->SetX(control_->GetPosition()->GetX() + control_->GetWidth() - newSize_);
      control_->SetWidth(newSize_);
      break;
    case vaBottom:
      control_->GetPosition()->SetY(control_->GetPosition()->GetY() + control_->GetHeight() - newSize_);
      control_->SetHeight(newSize_);
      break;
    default: break;
  }
  oldSize_ = newSize_;
}

void TvgSplitter::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  pressed_ = false;
  control_ = nullptr;
}

void TvgSplitter::ApplyStyle() {
  inherited::ApplyStyle();
  if (TvgVisualObject* grip = VisualPart(this, "grip")) grip->SetVisible(showGrip_);
}

void TvgSplitter::SetShowGrip(bool value) {
  showGrip_ = value;
  ApplyStyle();
}

void TvgSplitter::Paint() {
  inherited::Paint();
  if (IsDesigning() && !GetLocked()) vgPaintDesignFrame(*this);
}

// --- Windows

TvgWindow::TvgWindow(TComponent* owner) : TvgTextControl(owner) {
  SetAutoTranslate(true);
  SetHitTest(false);
  SetTextAlign(vgTextAlignNear);
  SetWidth(200);
  SetHeight(200);
}

void TvgWindow::ReapplyResource() { UpdateStyle(); }

void TvgWindow::ApplyStyle() {
  inherited::ApplyStyle();
  if (TvgObject* close = FindResource("close")) {
    if (close->IsVisual()) close->Visual()->SetVisible(showCloseButton_);
    if (auto* button = dynamic_cast<TvgCloseButton*>(close); button != nullptr && OnCloseClick.Assigned()) {
      button->SetCloseForm(false);
      button->OnCloseClick = OnCloseClick;
    }
  }
  if (TvgVisualObject* grip = VisualPart(this, "sizegrip")) grip->SetVisible(showSizeGrip_);
}

void TvgWindow::SetShowCloseButton(bool value) {
  if (vgSetChanged(showCloseButton_, value)) ReapplyResource();
}

void TvgWindow::SetShowSizeGrip(bool value) {
  if (vgSetChanged(showSizeGrip_, value)) ReapplyResource();
}

TvgHudWindow::TvgHudWindow(TComponent* owner)
    : TvgWindow(owner), fill_(new TvgBrush(vgBrushSolid, 0xEA2F2F2Fu)), stroke_(new TvgBrush(vgBrushSolid, 0x5B000000u)) {
  GetFont()->SetStyle(vgFontBold);
  fill_->OnChanged = TNotifyEvent::Of<&TvgHudWindow::BrushChanged>(this);
  stroke_->OnChanged = TNotifyEvent::Of<&TvgHudWindow::BrushChanged>(this);
}

TvgHudWindow::~TvgHudWindow() {
  DestroyTree();
  delete fill_;
  delete stroke_;
}

void TvgHudWindow::BrushChanged(TObject*) { Restyle(); }

void TvgHudWindow::Restyle() {
  if (!IsLoading()) ApplyStyle();
}

void TvgHudWindow::ApplyStyle() {
  inherited::ApplyStyle();
  if (TvgVisualObject* close = VisualPart(this, "close")) {
    close->SetAlign(buttonAlign_ == vgButtonAlignLeft ? vaLeft : vaRight);
    if (close->GetVisible()) {
      close->SetVisible(showCaption_);
      close->SetDesignHide(!showCaption_);
    }
  }
  if (auto* back = dynamic_cast<TvgShape*>(FindResource("back"))) back->GetFill()->Assign(fill_);
  if (auto* stroke = dynamic_cast<TvgShape*>(FindResource("stroke"))) {
    stroke->GetStroke()->Assign(stroke_);
    stroke->SetStrokeThickness(strokeThickness_);
    stroke->SetStrokeCap(strokeCap_);
    stroke->SetStrokeDash(strokeDash_);
    stroke->SetStrokeJoin(strokeJoin_);
    stroke->GetPadding()->SetRect(vgRect(strokeThickness_, strokeThickness_, strokeThickness_, strokeThickness_));
  }
  if (TvgVisualObject* caption = VisualPart(this, "caption")) {
    caption->SetHeight(strokeThickness_ + 20);
    caption->GetPadding()->SetRect(vgRect(strokeThickness_, strokeThickness_, strokeThickness_, 0));
    caption->SetVisible(showCaption_);
    caption->SetDesignHide(!showCaption_);
  }
  if (TvgVisualObject* text = VisualPart(this, "text")) {
    text->SetVisible(showCaption_);
    text->SetDesignHide(!showCaption_);
  }
}

void TvgHudWindow::SetDisableShadowOnOSX(bool value) {
  if (vgSetChanged(disableShadowOnOSX_, value)) ReapplyResource();
}
void TvgHudWindow::SetStrokeThickness(float value) {
  if (vgSetChanged(strokeThickness_, value)) Restyle();
}
void TvgHudWindow::SetStrokeCap(TvgStrokeCap value) {
  if (vgSetChanged(strokeCap_, value)) Restyle();
}
void TvgHudWindow::SetStrokeDash(TvgStrokeDash value) {
  if (vgSetChanged(strokeDash_, value)) Restyle();
}
void TvgHudWindow::SetStrokeJoin(TvgStrokeJoin value) {
  if (vgSetChanged(strokeJoin_, value)) Restyle();
}
void TvgHudWindow::SetButtonAlign(TvgCloseAlign value) {
  if (vgSetChanged(buttonAlign_, value)) Restyle();
}
void TvgHudWindow::SetShowCaption(bool value) {
  if (vgSetChanged(showCaption_, value)) Restyle();
}

// --- Glyph buttons

KBL_PUBLISHED(TvgBitmapButton) {
  KBL_PROP(Width).Default(50.0f);
  KBL_PROP(Height).Default(60.0f);
  KBL_PROP(Bitmap);
  KBL_PROP(BitmapLayout).Default(vgGlyphLeft);
  KBL_PROP(BitmapSpacing);
  KBL_PROP(BitmapSize).Default(32.0f);
  KBL_PROP(BitmapPadding).Default(2.0f);
}
KBL_PUBLISHED(TvgToolButton) {
  KBL_PROP(CanFocused).Default(false);
  KBL_PROP(BitmapLayout).Default(vgGlyphTop);
}
KBL_PUBLISHED(TvgPathButton) {
  KBL_PROP(Width).Default(50.0f);
  KBL_PROP(Height).Default(60.0f);
  KBL_PROP(Path);
  KBL_PROP(PathLayout).Default(vgGlyphLeft);
  KBL_PROP(PathSize).Default(32.0f);
  KBL_PROP(PathSpacing);
  KBL_PROP(PathPadding).Default(2.0f);
  KBL_PROP(PathStrokeThickness).Stored(&TvgPathButton::IsPathStrokeThicknessStored);
  KBL_PROP(PathFill);
  KBL_PROP(PathStroke);
  KBL_PROP(PathStrokeCap).Default(vgCapFlat);
  KBL_PROP(PathStrokeDash).Default(vgDashSolid);
  KBL_PROP(PathStrokeJoin).Default(vgJoinMiter);
}
KBL_PUBLISHED(TvgToolPathButton) {
  KBL_PROP(CanFocused).Default(false);
  KBL_PROP(PathLayout).Default(vgGlyphTop);
}
KBL_PUBLISHED(TvgBitmapStateButton) {
  KBL_PROP(Width).Default(64.0f);
  KBL_PROP(Height).Default(64.0f);
  KBL_PROP(Bitmap);
  KBL_PROP(BitmapDown);
  KBL_PROP(BitmapHot);
}

namespace {
// Places a glyph part beside the caption by the layout; an empty glyph gets no alignment.
void LayoutGlyph(TvgVisualObject* part, bool empty, TvgButtonLayout layout, float size, float spacing,
                 float padding) {
  part->GetPadding()->SetRect(vgRect(padding, padding, padding, padding));
  if (empty) {
    part->SetAlign(vaNone);
    return;
  }
  TvgBounds* pad = part->GetPadding();
  switch (layout) {
    case vgGlyphLeft:
      part->SetAlign(vaLeft);
      part->SetWidth(size);
      pad->SetRight(spacing);
      break;
    case vgGlyphRight:
      part->SetAlign(vaRight);
      part->SetWidth(size);
      pad->SetLeft(spacing);
      break;
    case vgGlyphTop:
      part->SetAlign(vaTop);
      part->SetHeight(size);
      pad->SetBottom(spacing);
      break;
    case vgGlyphBottom:
      part->SetAlign(vaBottom);
      part->SetHeight(size);
      pad->SetTop(spacing);
      break;
    case vgGlyphCenter:
      part->SetAlign(vaCenter);
      part->SetWidth(size);
      part->SetHeight(size);
      pad->SetRect(vgRect(spacing, spacing, spacing, spacing));
      break;
  }
}
}  // namespace

TvgBitmapButton::TvgBitmapButton(TComponent* owner) : TvgCustomButton(owner), bitmap_(new TvgBitmap(1, 1)) {
  bitmap_->OnChange = TNotifyEvent::Of<&TvgBitmapButton::BitmapChanged>(this);
  SetWidth(50);
  SetHeight(60);
}

TvgBitmapButton::~TvgBitmapButton() {
  DestroyTree();
  delete bitmap_;
}

void TvgBitmapButton::BitmapChanged(TObject*) {
  Repaint();
  ApplyStyle();
}

void TvgBitmapButton::ActionChange(TObject* sender, bool checkDefaults) {
  inherited::ActionChange(sender, checkDefaults);
  auto* action = dynamic_cast<TCustomAction*>(sender);
  if (action == nullptr || bitmap_->GetWidth() >= 2 || action->GetActionList() == nullptr) return;
  TCustomImageList* images = action->GetActionList()->GetImages();
  TBitmap image;
  if (images == nullptr || !images->GetBitmap(action->GetImageIndex(), &image)) return;
  SetBitmapSize(static_cast<float>(images->GetWidth()));
  // The list keeps straight 32-bit pixels with alpha, rows top-down.
  bitmap_->AssignStraightPixels(image.GetWidth(), image.GetHeight(), reinterpret_cast<const uint32_t*>(image.ScanLine(0)),
                                image.RowStride() / 4);
}

void TvgBitmapButton::ApplyStyle() {
  inherited::ApplyStyle();
  if (auto* image = dynamic_cast<TvgImage*>(FindResource("image"))) {
    image->GetBitmap()->Assign(bitmap_);
    LayoutGlyph(image, bitmap_->GetWidth() <= 1 || bitmap_->GetHeight() <= 1, layout_, size_, spacing_, padding_);
  }
  if (TvgObject* text = FindResource("text"); text != nullptr && text->IsVisual())
    text->Visual()->GetPadding()->SetRect(vgRect(padding_, padding_, padding_, padding_));
}

void TvgBitmapButton::SetBitmapLayout(TvgButtonLayout value) {
  if (vgSetChanged(layout_, value)) ApplyStyle();
}
void TvgBitmapButton::SetBitmapSpacing(float value) {
  if (!vgSetChanged(spacing_, value)) return;
  if (!IsLoading()) ApplyStyle();
}
void TvgBitmapButton::SetBitmapSize(float value) {
  if (!vgSetChanged(size_, value)) return;
  if (!IsLoading()) ApplyStyle();
}
void TvgBitmapButton::SetBitmapPadding(float value) {
  if (!vgSetChanged(padding_, value)) return;
  if (!IsLoading()) ApplyStyle();
}

TvgToolButton::TvgToolButton(TComponent* owner) : TvgBitmapButton(owner) {
  SetCanFocused(false);
  SetBitmapLayout(vgGlyphTop);
}

TvgPathButton::TvgPathButton(TComponent* owner)
    : TvgCustomButton(owner),
      path_(new TvgPathData()),
      fill_(new TvgBrush(vgBrushSolid, 0xFFFFFFFFu)),
      stroke_(new TvgBrush(vgBrushSolid, 0xFF000000u)) {
  path_->OnChanged = TNotifyEvent::Of<&TvgPathButton::PathChanged>(this);
  fill_->OnChanged = TNotifyEvent::Of<&TvgPathButton::BrushChanged>(this);
  stroke_->OnChanged = TNotifyEvent::Of<&TvgPathButton::BrushChanged>(this);
  SetWidth(50);
  SetHeight(60);
}

TvgPathButton::~TvgPathButton() {
  DestroyTree();
  delete path_;
  delete fill_;
  delete stroke_;
}

void TvgPathButton::PathChanged(TObject*) {
  Repaint();
  ApplyStyle();
}

void TvgPathButton::Restyle() {
  if (!IsLoading()) ApplyStyle();
}

void TvgPathButton::ApplyStyle() {
  inherited::ApplyStyle();
  if (auto* path = dynamic_cast<TvgPath*>(FindResource("path"))) {
    path->GetData()->Assign(path_);
    path->GetFill()->Assign(fill_);
    path->GetStroke()->Assign(stroke_);
    path->SetStrokeThickness(strokeThickness_);
    path->SetStrokeCap(strokeCap_);
    path->SetStrokeDash(strokeDash_);
    path->SetStrokeJoin(strokeJoin_);
  }
  if (TvgObject* owner = FindResource("pathowner"); owner != nullptr && owner->IsVisual())
    LayoutGlyph(owner->Visual(), path_->IsEmpty(), layout_, size_, spacing_, padding_);
  if (TvgObject* text = FindResource("text"); text != nullptr && text->IsVisual())
    text->Visual()->GetPadding()->SetRect(vgRect(padding_, padding_, padding_, padding_));
}

void TvgPathButton::SetPathLayout(TvgButtonLayout value) {
  if (vgSetChanged(layout_, value)) ApplyStyle();
}
void TvgPathButton::SetPathSize(float value) {
  if (vgSetChanged(size_, value)) Restyle();
}
void TvgPathButton::SetPathSpacing(float value) {
  if (vgSetChanged(spacing_, value)) Restyle();
}
void TvgPathButton::SetPathPadding(float value) {
  if (vgSetChanged(padding_, value)) Restyle();
}
void TvgPathButton::SetPathStrokeThickness(float value) {
  if (vgSetChanged(strokeThickness_, value)) Restyle();
}
void TvgPathButton::SetPathStrokeCap(TvgStrokeCap value) {
  if (vgSetChanged(strokeCap_, value)) Restyle();
}
void TvgPathButton::SetPathStrokeDash(TvgStrokeDash value) {
  if (vgSetChanged(strokeDash_, value)) Restyle();
}
void TvgPathButton::SetPathStrokeJoin(TvgStrokeJoin value) {
  if (vgSetChanged(strokeJoin_, value)) Restyle();
}

TvgToolPathButton::TvgToolPathButton(TComponent* owner) : TvgPathButton(owner) {
  SetCanFocused(false);
  SetPathLayout(vgGlyphTop);
}

// --- Bitmap state button

TvgBitmapStateButton::TvgBitmapStateButton(TComponent* owner)
    : TvgCustomButton(owner), bitmap_(new TvgBitmap(1, 1)), bitmapDown_(new TvgBitmap(1, 1)), bitmapHot_(new TvgBitmap(1, 1)) {
  for (TvgBitmap* b : {bitmap_, bitmapDown_, bitmapHot_})
    b->OnChange = TNotifyEvent::Of<&TvgBitmapStateButton::BitmapChanged>(this);
  SetWidth(64);
  SetHeight(64);
}

TvgBitmapStateButton::~TvgBitmapStateButton() {
  DestroyTree();
  delete bitmap_;
  delete bitmapDown_;
  delete bitmapHot_;
}

void TvgBitmapStateButton::Paint() {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  TvgBitmap* b = GetIsPressed() ? bitmapDown_ : GetIsMouseOver() ? bitmapHot_ : bitmap_;
  if (b->IsEmpty()) return;
  const TvgRect src = vgRect(0, 0, static_cast<float>(b->GetWidth()), static_cast<float>(b->GetHeight()));
  TvgRect fitted = src;
  const float ratio = vgFitRect(fitted, GetLocalRect());
  if (ratio <= 1) {
    TvgRect own = src;
    vgRectCenter(own, GetLocalRect());
    canvas->DrawBitmap(*b, src, own, GetAbsoluteOpacity(), false);
  } else {
    canvas->DrawBitmap(*b, src, fitted, GetAbsoluteOpacity(), false);
  }
}

void TvgBitmapStateButton::MouseEnter() {
  inherited::MouseEnter();
  Repaint();
}

void TvgBitmapStateButton::MouseLeave() {
  inherited::MouseLeave();
  Repaint();
}

void TvgBitmapStateButton::StartTriggerAnimation(TvgObject* instance, const std::string& trigger) {
  inherited::StartTriggerAnimation(instance, trigger);
  if (vgTriggerMentions(trigger, "IsPressed")) Repaint();
}
