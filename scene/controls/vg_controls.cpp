// Basic styled controls: caption control and labels, buttons, check box and radio button,
// tracks and scroll bars, and the controls' timer.
#include "vg_controls.h"

#include <cmath>

#include "scene/core/vg_registry.h"
#include "scene/core/vg_sceneintf.h"
#include "vg_controls_p.h"

// --- Published properties

KBL_PUBLISHED(TvgTimer) {}

KBL_PUBLISHED(TvgTextControl) {}

// The caption properties the caption controls publish.
#define VG_PUBLISH_CAPTION(Class, AlignDefault)                     \
  KBL_PROP(Font);                                                   \
  KBL_PROP(TextAlign).Default(AlignDefault);                        \
  p.Property("Text", &Class::GetText, &Class::SetText)

KBL_PUBLISHED(TvgLabel) {
  KBL_PROP(Width).Default(120.0f);
  KBL_PROP(Height).Default(15.0f);
  KBL_PROP(HitTest).Default(false);
  KBL_PROP(BindingSource);
  KBL_PROP(AutoTranslate).Default(true);
  VG_PUBLISH_CAPTION(TvgLabel, vgTextAlignCenter);
  p.Property("WordWrap", &TvgLabel::GetWordWrap, &TvgLabel::SetWordWrap).Default(true);
  KBL_PROP(AutoSize).Default(false);
}

KBL_PUBLISHED(TvgValueLabel) {
  KBL_PROP(AutoTranslate).Default(false);
  p.Property("WordWrap", &TvgValueLabel::GetWordWrap, &TvgValueLabel::SetWordWrap).Default(false);
}

KBL_PUBLISHED(TvgCustomButton) {
  KBL_PROP(Width).Default(80.0f);
  KBL_PROP(Height).Default(22.0f);
  p.Property("Action", &TvgCustomButton::GetActionProp, &TvgCustomButton::SetAction);
  KBL_PROP(AutoTranslate).Default(true);
  KBL_PROP(StaysPressed).Default(false);
  KBL_PROP(IsPressed).Default(false);
  KBL_PROP(CanFocused).Default(true);
  KBL_PROP(DisableFocusEffect).Default(false);
  VG_PUBLISH_CAPTION(TvgCustomButton, vgTextAlignCenter);
  KBL_PROP(ModalResult).Default(0);
  KBL_PROP(RepeatClick).Default(false);
  p.Property("WordWrap", &TvgCustomButton::GetWordWrap, &TvgCustomButton::SetWordWrap).Default(false);
}

KBL_PUBLISHED(TvgButton) {
  KBL_PROP(Default).Default(false);
  KBL_PROP(Cancel).Default(false);
}
KBL_PUBLISHED(TvgRoundButton) {}
KBL_PUBLISHED(TvgCircleButton) {
  KBL_PROP(Width).Default(21.0f);
  KBL_PROP(Height).Default(21.0f);
}
KBL_PUBLISHED(TvgSpeedButton) {
  KBL_PROP(Width).Default(23.0f);
  KBL_PROP(Height).Default(23.0f);
  KBL_PROP(CanFocused).Default(false);
  KBL_PROP(RepeatClick).Default(true);
}
KBL_PUBLISHED(TvgCornerButton) {
  KBL_PROP(xRadius).Default(3.0f);
  KBL_PROP(yRadius).Default(3.0f);
  KBL_PROP(Corners).Stored(&TvgCornerButton::IsCornersStored);
  KBL_PROP(CornerType).Default(vgCornerRound);
  KBL_PROP(Sides).Stored(&TvgCornerButton::IsSidesStored);
}
KBL_PUBLISHED(TvgExpanderButton) { KBL_PROP(CanFocused).Default(false); }

// The state and focus properties of the check box and the radio button.
#define VG_PUBLISH_CHECK(Class)                                     \
  KBL_PROP(Width).Default(120.0f);                                  \
  KBL_PROP(Height).Default(19.0f);                                  \
  KBL_PROP_RO(IsPressed);                                           \
  KBL_PROP(IsChecked).Default(false);                               \
  KBL_PROP(AutoTranslate).Default(true);                            \
  KBL_PROP(BindingSource);                                          \
  KBL_PROP(CanFocused).Default(true);                               \
  KBL_PROP(DisableFocusEffect).Default(false);                      \
  VG_PUBLISH_CAPTION(Class, vgTextAlignNear);                       \
  p.Property("OnChange", &Class::OnChange, &Class::OnChange)

KBL_PUBLISHED(TvgCheckBox) { VG_PUBLISH_CHECK(TvgCheckBox); }
KBL_PUBLISHED(TvgPathCheckBox) { KBL_PROP(Path); }
KBL_PUBLISHED(TvgRadioButton) {
  VG_PUBLISH_CHECK(TvgRadioButton);
  KBL_PROP(GroupName);
}

KBL_PUBLISHED(TvgThumb) { KBL_PROP(CanFocused).Default(false); }
KBL_PUBLISHED(TvgCustomTrack) {
  KBL_PROP(Width).Default(100.0f);
  KBL_PROP(Height).Default(15.0f);
}
KBL_PUBLISHED(TvgTrack) {
  KBL_PROP(BindingSource);
  KBL_PROP(Min);
  KBL_PROP(Max).Stored(&TvgTrack::IsMaxStored);
  KBL_PROP(Frequency);
  KBL_PROP(Orientation).Default(vgHorizontal);
  KBL_PROP(Value);
  KBL_PROP(ViewportSize);
  KBL_PROP(Tracking).Default(true);
  p.Property("OnChange", &TvgTrack::OnChange, &TvgTrack::OnChange);
}
KBL_PUBLISHED(TvgTrackBar) {
  KBL_PROP(BindingSource);
  KBL_PROP(Min);
  KBL_PROP(Max).Stored(&TvgTrackBar::IsMaxStored);
  KBL_PROP(Frequency);
  KBL_PROP(Orientation).Default(vgHorizontal);
  KBL_PROP(Value);
  KBL_PROP(Tracking).Default(true);
  KBL_PROP(CanFocused).Default(true);
  KBL_PROP(DisableFocusEffect).Default(false);
  p.Property("OnChange", &TvgTrackBar::OnChange, &TvgTrackBar::OnChange);
}
KBL_PUBLISHED(TvgScrollBar) {
  KBL_PROP(Width).Default(150.0f);
  KBL_PROP(Height).Default(18.0f);
  KBL_PROP(BindingSource);
  KBL_PROP(Min);
  KBL_PROP(Max).Stored(&TvgScrollBar::IsMaxStored);
  KBL_PROP(Orientation).Default(vgHorizontal);
  KBL_PROP(Value);
  KBL_PROP(ViewportSize);
  KBL_PROP(SmallChange).Stored(&TvgScrollBar::IsSmallChangeStored);
  p.Property("OnChange", &TvgScrollBar::OnChange, &TvgScrollBar::OnChange);
}
KBL_PUBLISHED(TvgSmallScrollBar) { KBL_PROP(Height).Default(8.0f); }

#undef VG_PUBLISH_CHECK
#undef VG_PUBLISH_CAPTION

// --- Unit registration

void vgInitControlsUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  RegisterClass<TvgTextControl, TvgCustomButton, TvgCustomTrack>();
  RegisterClass<TvgSelectionItem, TvgThumb, TvgExpanderButton>();
  vgRegisterObjects("Windows", {TvgBackground::StaticClassInfo(), TvgSizeGrip::StaticClassInfo(),
                                TvgCloseButton::StaticClassInfo()});
  vgRegisterObjects("Boxes", {TvgCheckBox::StaticClassInfo(), TvgPathCheckBox::StaticClassInfo(),
                              TvgRadioButton::StaticClassInfo(), TvgGroupBox::StaticClassInfo(),
                              TvgPopupBox::StaticClassInfo()});
  vgRegisterObjects("Controls",
                    {TvgPanel::StaticClassInfo(), TvgLabel::StaticClassInfo(), TvgValueLabel::StaticClassInfo(),
                     TvgImageControl::StaticClassInfo(),
                     TvgProgressBar::StaticClassInfo(), TvgTrack::StaticClassInfo(), TvgScrollBar::StaticClassInfo(),
                     TvgSmallScrollBar::StaticClassInfo(), TvgAniIndicator::StaticClassInfo(),
                     TvgExpander::StaticClassInfo(), TvgTrackBar::StaticClassInfo(), TvgSplitter::StaticClassInfo()});
  vgRegisterObjects("Tool and Status", {TvgStatusBar::StaticClassInfo(), TvgToolBar::StaticClassInfo(),
                                        TvgToolButton::StaticClassInfo(), TvgToolPathButton::StaticClassInfo()});
  vgRegisterObjects("Buttons", {TvgButton::StaticClassInfo(), TvgRoundButton::StaticClassInfo(),
                                TvgCircleButton::StaticClassInfo(), TvgSpeedButton::StaticClassInfo(),
                                TvgBitmapButton::StaticClassInfo(), TvgPathButton::StaticClassInfo(),
                                TvgCornerButton::StaticClassInfo(), TvgAngleButton::StaticClassInfo(),
                                TvgColorButton::StaticClassInfo(), TvgBitmapStateButton::StaticClassInfo(),
                                TvgPopupButton::StaticClassInfo()});
  vgRegisterObjects("HUD", {TvgHudPanel::StaticClassInfo(), TvgHudWindow::StaticClassInfo(),
                            TvgHudButton::StaticClassInfo(), TvgHudSpeedButton::StaticClassInfo(),
                            TvgHudAngleButton::StaticClassInfo(), TvgHudTrack::StaticClassInfo(),
                            TvgHudTrackBar::StaticClassInfo(), TvgHudScrollBar::StaticClassInfo(),
                            TvgHudLabel::StaticClassInfo(), TvgHudCheckBox::StaticClassInfo(),
                            TvgHudRadioButton::StaticClassInfo(), TvgHudGroupBox::StaticClassInfo(),
                            TvgHudCloseButton::StaticClassInfo(), TvgHudStatusBar::StaticClassInfo(),
                            TvgHudSizeGrip::StaticClassInfo(), TvgHudRoundButton::StaticClassInfo(),
                            TvgHudCornerButton::StaticClassInfo(), TvgHudCircleButton::StaticClassInfo(),
                            TvgHudPopupBox::StaticClassInfo()});
}

namespace {
// The platform's form hooks are a few function slots, filled at once; the classes register at the
// class registry's first look-up.
const bool g_controlsRegistered = (vgInstallPlatformFormHooks(), AddClassRegistration(&vgInitControlsUnit), true);

bool IsLeftAndPressed(TShiftState shift) { return shift.Contains(ssLeft); }

// Events packed in a Variant ("vgmet...") as a notification.
bool VariantToNotify(const Variant& value, TNotifyEvent& event) {
  if (!vgVarIsEvent(value)) return false;
  const TMethodValue m = vgVariantToEvent(value);
  event = m.Assigned() ? TNotifyEvent::FromFunction(reinterpret_cast<TNotifyEvent::Thunk>(m.Code), m.Data)
                       : TNotifyEvent();
  return true;
}

// Rounding of control sizes: halves go to the even neighbour.
float RoundEven(float v) { return std::nearbyint(v); }
}  // namespace

// --- Timer

namespace {
std::function<std::unique_ptr<IvgAniTimer>()>& TimerFactory() {
  static std::function<std::unique_ptr<IvgAniTimer>()> factory;
  return factory;
}
}  // namespace

void vgSetControlTimerFactory(std::function<std::unique_ptr<IvgAniTimer>()> factory) {
  TimerFactory() = std::move(factory);
}

TvgTimer::TvgTimer(TComponent* owner) : TComponent(owner) {}

TvgTimer::~TvgTimer() {
  if (timer_) timer_->Stop();
}

void TvgTimer::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  Restart();
}

void TvgTimer::SetInterval(uint32_t value) {
  if (interval_ == value) return;
  interval_ = value;
  Restart();
}

void TvgTimer::SetOnTimer(TNotifyEvent value) {
  onTimer_ = value;
  Restart();
}

void TvgTimer::Restart() {
  if (timer_) timer_->Stop();
  if (!enabled_ || interval_ == 0 || !onTimer_.Assigned()) return;
  if (!timer_) timer_ = TimerFactory() ? TimerFactory()() : vgCreateControlTimer();
  if (!timer_) return;
  timer_->Start(interval_, [this] {
    const TComponentFrame code(this);  // a form of the timer released by its handler waits for it
    onTimer_(this);
  });
}

// --- Form actions

TvgFormHooks& vgFormHooks() {
  static TvgFormHooks hooks;
  return hooks;
}

TComponent* vgFindSceneForm(TvgObject* obj) {
  if (obj == nullptr || obj->GetScene() == nullptr) return nullptr;
  for (TComponent* c = obj->GetScene()->GetOwner(); c != nullptr; c = c->GetOwner()) {
    for (const TClassInfo* cls = c->ClassInfo(); cls != nullptr; cls = cls->Parent)
      if (cls->Name == "TCustomForm") return c;
  }
  return nullptr;
}

// --- Caption control

TvgTextControl::TvgTextControl(TComponent* owner)
    : TvgControl(owner), font_(new TvgFont()), foreground_(new TvgBrush(vgBrushSolid, 0xFF000000u)) {
  font_->OnChanged = TNotifyEvent::Of<&TvgTextControl::FontChanged>(this);
  foreground_->OnChanged = TNotifyEvent::Of<&TvgTextControl::ForegroundChanged>(this);
}

TvgTextControl::~TvgTextControl() {
  DestroyTree();
  delete foreground_;
  delete font_;
}

TvgText* TvgTextControl::TextPart() { return dynamic_cast<TvgText*>(FindResource("text")); }

bool TvgTextControl::InDesign() { return GetScene() != nullptr && GetScene()->GetDesignTime(); }

void TvgTextControl::SetData(const Variant& value) {
  if (value.IsNull()) SetText(WideString());
  else SetText(value.ToWideString());
}

void TvgTextControl::SetText(const WideString& value) {
  if (value != text_) PropertyChanged();
  text_ = value;
  UpdateEffects();
  if (TvgText* part = TextPart()) {
    part->SetText(text_);
  } else if (auto* own = dynamic_cast<TvgText*>(GetStyleObject())) {
    own->SetText(text_);
  } else {
    Repaint();
  }
}

void TvgTextControl::SetTextAlign(TvgTextAlign value) {
  if (value != textAlign_) PropertyChanged();
  textAlign_ = value;
  if (TvgText* part = TextPart()) part->SetHorzTextAlign(value);
  else Repaint();
}

void TvgTextControl::SetWordWrap(bool value) {
  if (value != wordWrap_) PropertyChanged();
  wordWrap_ = value;
  if (TvgText* part = TextPart()) part->SetWordWrap(value);
}

void TvgTextControl::FontChanged(TObject*) {
  PropertyChanged();
  if (TvgText* part = TextPart()) part->GetFont()->Assign(font_);
}

void TvgTextControl::ForegroundChanged(TObject*) {
  PropertyChanged();
  if (TvgText* part = TextPart()) part->GetFill()->Assign(foreground_);
}

void TvgTextControl::ApplyStyle() {
  inherited::ApplyStyle();
  if (auto* brush = dynamic_cast<TvgBrushObject*>(FindResource("foreground"))) foreground_->Assign(brush->GetBrush());
  if (TvgText* part = TextPart()) {
    part->SetText(text_);
    part->SetHorzTextAlign(textAlign_);
    part->SetVertTextAlign(vertTextAlign_);
    part->SetWordWrap(wordWrap_);
    part->GetFont()->Assign(font_);
  }
  if (autoTranslate_ && !InDesign()) SetText(TranslatedText(text_));
}

// --- Labels

TvgLabel::TvgLabel(TComponent* owner) : TvgTextControl(owner) {
  SetAutoTranslate(true);
  SetWidth(120);
  SetHeight(15);
  TvgTextControl::SetWordWrap(true);
  SetHitTest(false);
}

void TvgLabel::ApplyStyle() {
  inherited::ApplyStyle();
  TvgText* part = TextPart();
  if (part == nullptr) return;
  part->SetWordWrap(GetWordWrap());
  if (!autoSize_) return;
  TvgTextControl::SetWordWrap(false);
  part->SetWordWrap(false);
  part->SetVertTextAlign(vgTextAlignNear);
  part->SetHorzTextAlign(vgTextAlignNear);
  const TvgAlign align = part->GetAlign();
  part->SetAlign(vaNone);
  part->SetAutoSize(true);
  SetWidth(part->GetWidth());
  SetHeight(part->GetHeight());
  part->SetAutoSize(false);
  part->SetAlign(align);
}

void TvgLabel::SetWordWrap(bool value) {
  if (value == GetWordWrap()) return;
  TvgTextControl::SetWordWrap(value);
}

void TvgLabel::SetAutoSize(bool value) {
  if (!vgSetChanged(autoSize_, value)) return;
  if (autoSize_) ApplyStyle();
}

void TvgLabel::SetText(const WideString& value) {
  if (value == GetText()) {
    inherited::SetText(value);
    return;
  }
  inherited::SetText(value);
  if (autoSize_) ApplyStyle();
}

TvgValueLabel::TvgValueLabel(TComponent* owner) : TvgLabel(owner) {
  SetAutoTranslate(false);
  TvgTextControl::SetWordWrap(false);
}

// --- Buttons

TvgCustomButton::TvgCustomButton(TComponent* owner) : TvgTextControl(owner) {
  SetAutoTranslate(true);
  TvgTextControl::SetWordWrap(false);
  SetWidth(80);
  SetHeight(22);
  SetAutoCapture(true);
  SetCanFocused(true);
}

TvgCustomButton::~TvgCustomButton() {
  DestroyTree();
  // The timer is an owned component; stop it before the component list frees it.
  if (repeatTimer_ != nullptr) repeatTimer_->SetEnabled(false);
}

void TvgCustomButton::SetIsPressed(bool value) {
  if (!staysPressed_ || value == isPressed_) return;
  isPressed_ = value;
  FireTrigger("IsPressed");
}

void TvgCustomButton::SetData(const Variant& value) { VariantToNotify(value, OnClick); }

void TvgCustomButton::KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) {
  inherited::KeyDown(key, keyChar, shift);
  if (key == 13 || key == 32) Click();
}

void TvgCustomButton::DblClick() {
  inherited::DblClick();
  Click();
}

void TvgCustomButton::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  mousePressed_ = true;
  if (!staysPressed_) {
    isPressed_ = true;
    if (repeatClick_) {
      if (repeatTimer_ == nullptr) {
        repeatTimer_ = new TvgTimer(this);
        repeatTimer_->SetInterval(500);
      }
      repeatTimer_->SetOnTimer(TNotifyEvent::Of<&TvgCustomButton::RepeatStart>(this));
      repeatTimer_->SetEnabled(true);
    }
  } else {
    isPressed_ = !isPressed_;
  }
  FireTrigger("IsPressed");
}

void TvgCustomButton::RepeatStart(TObject*) {
  repeatTimer_->SetOnTimer(TNotifyEvent::Of<&TvgCustomButton::RepeatTick>(this));
  repeatTimer_->SetInterval(100);
}

void TvgCustomButton::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!IsLeftAndPressed(shift) || !mousePressed_) return;
  const bool inside = vgPtInRect(vgPoint(x, y), GetLocalRect());
  if (inside != isPressed_ && !staysPressed_) {
    isPressed_ = inside;
    FireTrigger("IsPressed");
  }
}

void TvgCustomButton::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  if (mousePressed_) {
    if (repeatTimer_ != nullptr) repeatTimer_->SetEnabled(false);
    mousePressed_ = false;
    if (!staysPressed_) {
      isPressed_ = false;
      FireTrigger("IsPressed");
    }
  }
  inherited::MouseUp(button, shift, x, y);
}

void TvgCustomButton::Click() {
  if (modalResult_ != 0) {
    if (TComponent* form = vgFindSceneForm(this))
      if (vgFormHooks().SetModalResult) vgFormHooks().SetModalResult(form, modalResult_);
  }
  inherited::Click();
}

void TvgCustomButton::ApplyStyle() {
  inherited::ApplyStyle();
  FireTrigger("IsPressed");
}

void TvgButton::DialogKey(uint16_t& key, TShiftState shift) {
  inherited::DialogKey(key, shift);
  if (default_ && key == 13) {
    Click();
    key = 0;
  } else if (cancel_ && key == 27) {
    Click();
    key = 0;
  }
}

TvgCircleButton::TvgCircleButton(TComponent* owner) : TvgButton(owner) {
  SetWidth(21);
  SetHeight(21);
}

TvgSpeedButton::TvgSpeedButton(TComponent* owner) : TvgCustomButton(owner) {
  SetCanFocused(false);
  SetRepeatClick(true);
  SetWidth(23);
  SetHeight(23);
}

TvgExpanderButton::TvgExpanderButton(TComponent* owner) : TvgCustomButton(owner) { SetCanFocused(false); }

void TvgCornerButton::ApplyStyle() {
  inherited::ApplyStyle();
  if (auto* background = dynamic_cast<TvgRectangle*>(FindResource("Background"))) {
    background->SetCornerType(cornerType_);
    background->SetCorners(corners_);
    background->SetxRadius(xRadius_);
    background->SetyRadius(yRadius_);
    background->SetSides(sides_);
  }
}

void TvgCornerButton::SetxRadius(float value) {
  if (vgSetChanged(xRadius_, value)) ApplyStyle();
}
void TvgCornerButton::SetyRadius(float value) {
  if (vgSetChanged(yRadius_, value)) ApplyStyle();
}
void TvgCornerButton::SetCorners(TvgCorners value) {
  if (vgSetChanged(corners_, value)) ApplyStyle();
}
void TvgCornerButton::SetCornerType(TvgCornerType value) {
  if (vgSetChanged(cornerType_, value)) ApplyStyle();
}
void TvgCornerButton::SetSides(TvgSides value) {
  if (vgSetChanged(sides_, value)) ApplyStyle();
}

// --- Check box and radio button

namespace {
// The pressing of the two-state controls: both keep the same three flags.
struct TwoStateMouse {
  static void Down(TvgVisualObject* self, TMouseButton button, bool& mousePressed, bool& isPressed) {
    if (button != mbLeft) return;
    mousePressed = true;
    isPressed = true;
    self->StartTriggerAnimation(self, "IsPressed");
  }
  static void Move(TvgVisualObject* self, TShiftState shift, float x, float y, bool mousePressed, bool& isPressed) {
    if (!shift.Contains(ssLeft) || !mousePressed) return;
    const bool inside = vgPtInRect(vgPoint(x, y), self->GetLocalRect());
    if (inside == isPressed) return;
    isPressed = inside;
    self->StartTriggerAnimation(self, "IsPressed");
  }
  // True when the press ends inside: the state toggles.
  static bool Up(TvgVisualObject* self, TMouseButton button, float x, float y, bool& mousePressed, bool& isPressed) {
    if (button != mbLeft || !mousePressed) return false;
    mousePressed = false;
    isPressed = false;
    return vgPtInRect(vgPoint(x, y), self->GetLocalRect());
  }
};
}  // namespace

TvgCheckBox::TvgCheckBox(TComponent* owner) : TvgTextControl(owner) {
  SetAutoTranslate(true);
  SetAutoCapture(true);
  SetCanFocused(true);
  SetTextAlign(vgTextAlignNear);
  SetWidth(120);
  SetHeight(19);
}

void TvgCheckBox::SetData(const Variant& value) {
  if (VariantToNotify(value, OnChange)) return;
  SetIsChecked(value.VarType() == varBoolean ? value.ToBool() : false);
}

void TvgCheckBox::SetIsChecked(bool value) {
  if (!vgSetChanged(isChecked_, value)) return;
  StartTriggerAnimation(this, "IsChecked");
  RunHandler(OnChange, this);
}

void TvgCheckBox::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  // A check box that takes the focus selects its list's row, whose change handler may free both.
  const TvgSceneObjectRef<TvgCheckBox> self(this);
  inherited::MouseDown(button, shift, x, y);
  if (self.Get() == nullptr) return;
  TwoStateMouse::Down(this, button, mousePressed_, isPressed_);
}

void TvgCheckBox::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  TwoStateMouse::Move(this, shift, x, y, mousePressed_, isPressed_);
}

void TvgCheckBox::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (TwoStateMouse::Up(this, button, x, y, mousePressed_, isPressed_)) SetIsChecked(!isChecked_);
}

void TvgCheckBox::KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) {
  inherited::KeyDown(key, keyChar, shift);
  if (key == 13 || key == 32) SetIsChecked(!isChecked_);
}

void TvgCheckBox::ApplyStyle() {
  inherited::ApplyStyle();
  StartTriggerAnimation(this, "IsChecked");
}

TvgPathCheckBox::TvgPathCheckBox(TComponent* owner) : TvgCheckBox(owner), path_(new TvgPathData()) {
  path_->SetData(
      "M 341.236,311.738 L 309.372,342.676 L 291.667,325.488 L 291.667,304.863 L 309.372,321.997 L 341.236,291.113 "
      "Z");
  path_->OnChanged = TNotifyEvent::Of<&TvgPathCheckBox::PathChanged>(this);
}

TvgPathCheckBox::~TvgPathCheckBox() {
  DestroyTree();
  delete path_;
}

void TvgPathCheckBox::ApplyStyle() {
  inherited::ApplyStyle();
  if (auto* mark = dynamic_cast<TvgPath*>(FindResource("checkmark"))) mark->GetData()->Assign(path_);
}

TvgRadioButton::TvgRadioButton(TComponent* owner) : TvgTextControl(owner) {
  SetAutoTranslate(true);
  SetAutoCapture(true);
  SetCanFocused(true);
  SetTextAlign(vgTextAlignNear);
  SetWidth(120);
  SetHeight(19);
}

void TvgRadioButton::SetData(const Variant& value) {
  if (VariantToNotify(value, OnChange)) return;
  SetIsChecked(value.VarType() == varBoolean ? value.ToBool() : false);
}

void TvgRadioButton::SetIsChecked(bool value) {
  if (value == isChecked_) return;
  if (value) isChecked_ = true;
  bool otherMember = false, otherChecked = false;
  if (GetScene() != nullptr && GetScene()->GetRoot() != nullptr) {
    std::vector<TvgObject*> all;
    GetScene()->GetRoot()->AddObjectsToList(all);
    for (TvgObject* obj : all) {
      auto* radio = dynamic_cast<TvgRadioButton*>(obj);
      if (radio == nullptr || radio == this || radio->groupName_ != groupName_) continue;
      otherMember = true;
      if (radio->isChecked_) otherChecked = true;
      if (value) radio->SetIsChecked(false);
    }
  }
  if (!value && (!otherMember || !otherChecked)) return;
  isChecked_ = value;
  StartTriggerAnimation(this, "IsChecked");
  RunHandler(OnChange, this);
}

void TvgRadioButton::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  TwoStateMouse::Down(this, button, mousePressed_, isPressed_);
}

void TvgRadioButton::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  TwoStateMouse::Move(this, shift, x, y, mousePressed_, isPressed_);
}

void TvgRadioButton::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (TwoStateMouse::Up(this, button, x, y, mousePressed_, isPressed_)) SetIsChecked(!isChecked_);
}

void TvgRadioButton::KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) {
  inherited::KeyDown(key, keyChar, shift);
  if (key == 13 || key == 32) SetIsChecked(!isChecked_);
}

void TvgRadioButton::ApplyStyle() {
  inherited::ApplyStyle();
  StartTriggerAnimation(this, "IsChecked");
}

// --- Thumb

TvgThumb::TvgThumb(TComponent* owner) : TvgControl(owner) {
  SetCanFocused(false);
  SetAutoCapture(true);
}

void TvgThumb::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != mbLeft || !GetEnabled()) return;
  pressed_ = true;
  pressPoint_ = vgPoint(x, y);
  if (track_ != nullptr) track_->SetFocus();
}

void TvgThumb::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!pressed_ || track_ == nullptr || !GetEnabled() || GetParent() == nullptr || !GetParent()->IsVisual()) return;
  TvgCustomTrack* t = track_;
  const bool horizontal = t->GetOrientation() == vgHorizontal;
  const TvgPoint p = t->AbsoluteToLocal(LocalToAbsolute(horizontal ? vgPoint(x, 0) : vgPoint(0, y)));
  const float extent = horizontal ? t->GetWidth() : t->GetHeight();
  // A track without length has no position to map.
  if (!(extent > 0)) return;
  float pos = horizontal ? p.X : p.Y;
  if (t->GetViewportSize() != 0) pos -= horizontal ? pressPoint_.X : pressPoint_.Y;
  t->SetValue(pos / extent * (t->GetMax() - t->GetMin()) + t->GetMin());
}

void TvgThumb::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  if (pressed_) {
    if (track_ != nullptr && !track_->GetTracking() && track_->OnChange.Assigned()) {
      const float old = track_->GetValue();
      track_->SetTracking(true);
      track_->value_ = 65535;
      track_->SetValue(old);
      track_->SetTracking(false);
    }
    pressed_ = false;
  }
  inherited::MouseUp(button, shift, x, y);
}

// --- Track

TvgCustomTrack::TvgCustomTrack(TComponent* owner) : TvgControl(owner) {
  SetWidth(100);
  SetHeight(15);
}

TvgThumb* TvgCustomTrack::GetThumb() {
  auto* thumb = dynamic_cast<TvgThumb*>(FindResource("thumb"));
  if (thumb != nullptr) thumb->track_ = this;
  return thumb;
}

bool TvgCustomTrack::ThumbDragged() {
  TvgThumb* thumb = GetThumb();
  return thumb != nullptr && thumb->pressed_;
}

void TvgCustomTrack::SetData(const Variant& value) {
  if (VariantToNotify(value, OnChange)) return;
  if (value.IsNumeric()) SetValue(static_cast<float>(value.ToDouble()));
  else SetValue(min_);
}

void TvgCustomTrack::SetValue(float v) {
  if (frequency_ != 0) v = RoundEven(v / frequency_) * frequency_;
  // Clamped before the comparison: a value pushed past an end that is already there is no change.
  if (v > max_ - viewportSize_) v = max_ - viewportSize_;
  if (v < min_) v = min_;
  if (v == value_) return;
  value_ = v;
  const bool dragged = ThumbDragged();
  if (dragged) RunHandler(OnTracking, this);
  if (tracking_ && !BoundControls().empty()) UpdateBindings();
  if ((dragged && tracking_) || !dragged) RunHandler(OnChange, this);
  Realign();
}

void TvgCustomTrack::SetMin(float v) {
  if (v == min_) return;
  min_ = v;
  Realign();
}

void TvgCustomTrack::SetMax(float v) {
  if (v == max_) return;
  max_ = v;
  if (max_ < min_) max_ = min_ + 0.001f;
  if (max_ - min_ < viewportSize_) viewportSize_ = max_ - min_;
  if (max_ - viewportSize_ < value_) value_ = max_ - viewportSize_;
  Realign();
}

void TvgCustomTrack::SetViewportSize(float v) {
  if (v == viewportSize_) return;
  viewportSize_ = v;
  if (max_ - min_ < viewportSize_) viewportSize_ = max_ - min_;
  if (max_ - viewportSize_ < value_) SetValue(max_ - viewportSize_);
  Realign();
}

void TvgCustomTrack::SetFrequency(float v) {
  if (v == frequency_) return;
  frequency_ = v;
  if (frequency_ != 0) SetValue(RoundEven(value_ / frequency_) * frequency_);
}

void TvgCustomTrack::SetOrientation(TvgOrientation v) {
  if (v == orientation_) return;
  orientation_ = v;
  if (IsDesigning() && !IsLoading()) {
    const float w = GetWidth();
    SetWidth(GetHeight());
    SetHeight(w);
  }
  Realign();
}

TvgRect TvgCustomTrack::GetThumbRect() {
  TvgRect r = GetLocalRect();
  const float range = max_ - min_;
  const float w = GetWidth(), h = GetHeight();
  if (range > 0) {
    if (orientation_ == vgHorizontal) {
      r = vgRect(0, 0, viewportSize_ / range * w, h);
      vgOffsetRect(r, RoundEven((value_ - min_) / range * w), 0);
      if (r.Right - r.Left < h) {
        const float half = std::trunc(h / 2);
        r.Right = r.Left + half;
        r.Left = r.Left - half;
      }
      if (r.Right > w) vgOffsetRect(r, -(r.Right - w), 0);
      if (r.Left < 0) vgOffsetRect(r, -r.Left, 0);
    } else {
      r = vgRect(0, 0, w, viewportSize_ / range * h);
      vgOffsetRect(r, 0, RoundEven((value_ - min_) / range * h));
      if (r.Bottom - r.Top < w) {
        const float half = std::trunc(w / 2);
        r.Bottom = r.Top + half;
        r.Top = r.Top - half;
      }
      if (r.Bottom > h) vgOffsetRect(r, 0, -(r.Bottom - h));
      if (r.Top < 0) vgOffsetRect(r, 0, -r.Top);
    }
  }
  TvgThumb* thumb = GetThumb();
  if (thumb != nullptr && thumb->GetParent() != nullptr && thumb->GetParent()->IsVisual()) {
    TvgVisualObject* parent = thumb->GetParent()->Visual();
    const TvgRect m = parent->GetMargins()->GetRect();
    const TvgRect pad = thumb->GetPadding()->GetRect();
    // Narrowed only while the insets leave the thumb a width.
    if (pad.Left + m.Left + m.Right + pad.Right < r.Right - r.Left) {
      r.Left += m.Left + pad.Left;
      r.Right -= m.Right + pad.Right;
    }
    r.Top += m.Top + pad.Top;
    r.Bottom -= m.Bottom + pad.Bottom;
  }
  return r;
}

void TvgCustomTrack::Realign() {
  inherited::Realign();
  TvgThumb* thumb = GetThumb();
  if (thumb == nullptr) return;
  const TvgRect r = GetThumbRect();
  const float w = RoundEven(r.Right - r.Left), h = RoundEven(r.Bottom - r.Top);
  if (w > 0 && h > 0) thumb->SetBounds(r.Left, r.Top, w, h);
  else thumb->GetPosition()->SetPoint(vgPoint(r.Left, r.Top));
}

void TvgCustomTrack::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  const float extent = orientation_ == vgHorizontal ? GetWidth() : GetHeight();
  if (!(extent > 0)) return;
  const float p = (orientation_ == vgHorizontal ? x : y) / extent * (max_ - min_) + min_;
  if (viewportSize_ == 0) SetValue(p);
  else if (p <= value_) SetValue(value_ - viewportSize_);
  else SetValue(value_ + viewportSize_);
}

void TvgCustomTrack::KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) {
  inherited::KeyDown(key, keyChar, shift);
  if (key < 35 || key > 40) return;
  const float step = frequency_ != 0 ? frequency_ : 1;
  switch (key) {
    case 35: SetValue(max_); break;
    case 36: SetValue(min_); break;
    case 37:
    case 38: SetValue(value_ - step); break;
    default: SetValue(value_ + step); break;
  }
  if (!tracking_) RunHandler(OnChange, this);
  key = 0;
}

TvgTrackBar::TvgTrackBar(TComponent* owner) : TvgCustomTrack(owner) {
  viewportSize_ = 0;
  SetCanFocused(true);
}

void TvgTrackBar::SetMax(float value) {
  if (value != GetMax()) inherited::SetMax(value);
}

// --- Scroll bar

TvgScrollBar::TvgScrollBar(TComponent* owner) : TvgControl(owner) {
  SetWidth(150);
  SetHeight(18);
}

void TvgScrollBar::SetData(const Variant& value) {
  if (VariantToNotify(value, OnChange)) return;
  if (value.IsNumeric()) SetValue(static_cast<float>(value.ToDouble()));
  else SetValue(min_);
}

void TvgScrollBar::SetValue(float v) {
  if (v > max_ - viewportSize_) v = max_ - viewportSize_;
  if (v < min_) v = min_;
  if (v == value_) return;
  value_ = v;
  UpdateBindings();
  RunHandler(OnChange, this);
  Realign();
}

void TvgScrollBar::SetMin(float v) {
  if (v == min_) return;
  min_ = v;
  if (value_ < min_) SetValue(min_);
  Realign();
}

void TvgScrollBar::SetMax(float v) {
  if (v == max_) return;
  max_ = v;
  if (max_ < min_) max_ = min_ + 0.001f;
  if (max_ - viewportSize_ < value_) SetValue(max_ - viewportSize_);
  if (max_ - min_ < viewportSize_) viewportSize_ = max_ - min_;
  Realign();
}

void TvgScrollBar::SetViewportSize(float v) {
  if (v == viewportSize_) return;
  viewportSize_ = v;
  if (viewportSize_ > max_ - min_) viewportSize_ = max_ - min_;
  if (max_ - viewportSize_ < value_) SetValue(max_ - viewportSize_);
  Realign();
}

void TvgScrollBar::SetOrientation(TvgOrientation v) {
  if (v == orientation_) return;
  orientation_ = v;
  if (IsDesigning() && !IsLoading()) {
    const float w = GetWidth();
    SetWidth(GetHeight());
    SetHeight(w);
  }
  Realign();
}

TvgCustomTrack* TvgScrollBar::GetTrack() {
  return dynamic_cast<TvgCustomTrack*>(FindResource(orientation_ == vgHorizontal ? "htrack" : "vtrack"));
}

void TvgScrollBar::TrackChanged(TObject* sender) {
  if (auto* track = dynamic_cast<TvgCustomTrack*>(sender)) SetValue(track->GetValue());
}

void TvgScrollBar::Realign() {
  if (inRealign_) return;
  inRealign_ = true;
  try {
    inherited::Realign();
    const char* trackNames[] = {"htrack", "vtrack"};
    for (int k = 0; k < 2; ++k) {
      auto* track = dynamic_cast<TvgCustomTrack*>(FindResource(trackNames[k]));
      if (track == nullptr) continue;
      const TvgOrientation o = k == 0 ? vgHorizontal : vgVertical;
      track->orientation_ = o;
      track->max_ = max_;
      track->min_ = min_;
      track->value_ = value_;
      track->SetViewportSize(viewportSize_);
      track->SetVisible(orientation_ == o);
      track->OnChange = TNotifyEvent::Of<&TvgScrollBar::TrackChanged>(this);
      track->SetCanFocused(false);
      if (track->GetVisible()) track->Realign();
    }
    const char* buttonNames[] = {"leftbutton", "topbutton", "rightbutton", "bottombutton"};
    for (int k = 0; k < 4; ++k) {
      auto* button = dynamic_cast<TvgCustomButton*>(FindResource(buttonNames[k]));
      if (button == nullptr) continue;
      button->OnClick = k < 2 ? TNotifyEvent::Of<&TvgScrollBar::DecClick>(this)
                              : TNotifyEvent::Of<&TvgScrollBar::IncClick>(this);
      button->SetVisible((k % 2 == 0) == (orientation_ == vgHorizontal));
      button->SetCanFocused(false);
    }
  } catch (...) {
    inRealign_ = false;
    throw;
  }
  inRealign_ = false;
}

TvgSmallScrollBar::TvgSmallScrollBar(TComponent* owner) : TvgScrollBar(owner) { SetHeight(8); }

TvgDialogHooks& vgDialogHooks() {
  static TvgDialogHooks hooks;
  return hooks;
}

TvgHostedControlHooks& vgHostedControlHooks() {
  static TvgHostedControlHooks hooks;
  return hooks;
}
