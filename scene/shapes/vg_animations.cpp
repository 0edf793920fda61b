// Property animations.
#include "vg_animations.h"

#include <algorithm>
#include <cmath>

#include "classlib/TypInfo.h"
#include "scene/core/vg_canvas.h"
#include "scene/core/vg_registry.h"
#include "scene/core/vg_sceneintf.h"
#include "scene/core/vg_visualobject.h"

KBL_PUBLISHED(TvgColorAnimation) {
  KBL_PROP(StartValue).Default("#FFFFFFFF");
  KBL_PROP(StartFromCurrent).Default(false);
  KBL_PROP(StopValue).Default("#FFFFFFFF");
  KBL_PROP(PropertyName);
}

KBL_PUBLISHED(TvgGradientAnimation) {
  KBL_PROP(StartValue);
  KBL_PROP(StartFromCurrent).Default(false);
  KBL_PROP(StopValue);
  KBL_PROP(PropertyName);
}

KBL_PUBLISHED(TvgFloatAnimation) {
  KBL_PROP(StartValue);
  KBL_PROP(StartFromCurrent).Default(false);
  KBL_PROP(StopValue);
  KBL_PROP(PropertyName);
}

KBL_PUBLISHED(TvgRectAnimation) {
  KBL_PROP(StartValue);
  KBL_PROP(StartFromCurrent).Default(false);
  KBL_PROP(StopValue);
  KBL_PROP(PropertyName);
}

KBL_PUBLISHED(TvgBitmapAnimation) {
  KBL_PROP(StartValue);
  KBL_PROP(StopValue);
  KBL_PROP(PropertyName);
}

KBL_PUBLISHED(TvgKey) { KBL_PROP(Key); }
KBL_PUBLISHED(TvgColorKey) { KBL_PROP(Value); }
KBL_PUBLISHED(TvgFloatKey) { KBL_PROP(Value); }
KBL_PUBLISHED(TvgKeys) {}

KBL_PUBLISHED(TvgColorKeyAnimation) {
  KBL_PROP(PropertyName);
  KBL_PROP(Keys);
  KBL_PROP(StartFromCurrent).Default(false);
}

KBL_PUBLISHED(TvgFloatKeyAnimation) {
  KBL_PROP(PropertyName);
  KBL_PROP(Keys);
  KBL_PROP(StartFromCurrent).Default(false);
}

KBL_PUBLISHED(TvgPathAnimation) {
  KBL_PROP(Path);
  KBL_PROP(Rotate).Default(false);
}

KBL_PUBLISHED(TvgPathSwitcher) {
  p.Property("Duration", &TvgAnimation::GetDuration, &TvgAnimation::SetDuration).Default(0.001f);
  KBL_PROP(PathTrue);
  KBL_PROP(PathFalse);
  KBL_PROP(PropertyName);
}

void vgInitAnimationsUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  RegisterClass<TvgKey, TvgColorKey, TvgFloatKey, TvgKeys>();
  vgRegisterObjects("Animations",
                    {TvgColorAnimation::StaticClassInfo(), TvgGradientAnimation::StaticClassInfo(),
                     TvgFloatAnimation::StaticClassInfo(), TvgRectAnimation::StaticClassInfo(),
                     TvgBitmapAnimation::StaticClassInfo(), TvgColorKeyAnimation::StaticClassInfo(),
                     TvgFloatKeyAnimation::StaticClassInfo(), TvgPathAnimation::StaticClassInfo(),
                     TvgPathSwitcher::StaticClassInfo()});
}

namespace {

const bool g_animationsRegistered = (AddClassRegistration(&vgInitAnimationsUnit), true);

bool IsStringKind(const TPropInfo* p) {
  const TTypeKind k = p->PropType->Kind;
  return k == tkString || k == tkLString || k == tkWString;
}
bool IsIntegerKind(const TPropInfo* p) { return p->PropType->Kind == tkInteger; }
bool IsFloatKind(const TPropInfo* p) { return p->PropType->Kind == tkFloat; }
bool IsClassKind(const TPropInfo* p) { return p->PropType->Kind == tkClass; }

// The current colour of a string or integer property; false for other kinds.
bool ReadColor(const TvgAnimatedProperty& t, TvgColor& color) {
  const TPropInfo* p = t.Info();
  if (p == nullptr) return false;
  if (IsStringKind(p)) {
    color = vgStrToColor(GetStrProp(t.Object, p));
    return true;
  }
  if (IsIntegerKind(p)) {
    color = static_cast<TvgColor>(GetOrdProp(t.Object, p));
    return true;
  }
  return false;
}

void WriteColor(const TvgAnimatedProperty& t, TvgColor color) {
  const TPropInfo* p = t.Info();
  if (p == nullptr || !p->IsWritable()) return;
  if (IsStringKind(p)) SetStrProp(t.Object, p, vgColorToStr(color));
  else if (IsIntegerKind(p)) SetOrdProp(t.Object, p, static_cast<int32_t>(color));
}

void WriteFloat(const TvgAnimatedProperty& t, float value) {
  const TPropInfo* p = t.Info();
  if (p != nullptr && IsFloatKind(p) && p->IsWritable()) SetFloatProp(t.Object, p, value);
}

TObject* ReadObject(const TvgAnimatedProperty& t) {
  const TPropInfo* p = t.Info();
  return p != nullptr && IsClassKind(p) ? GetObjectProp(t.Object, p) : nullptr;
}

// Resolves once, while nothing is resolved yet and there is a parent and a name.
void ResolveOnce(TvgAnimatedProperty& target, TvgObject* parent, const std::string& name) {
  if (target.Object == nullptr && parent != nullptr && !name.empty()) target.Resolve(parent, name);
}

}  // namespace

// --- Property path

void TvgAnimatedProperty::Resolve(TObject* root, const std::string& path) {
  Object = root;
  std::string rest = path;
  size_t dot;
  while ((dot = rest.find('.')) != std::string::npos) {
    const std::string step = rest.substr(0, dot);
    rest = rest.substr(dot + 1);
    const TPropInfo* p = GetPropInfo(Object, step);
    if (p != nullptr && IsClassKind(p)) {
      if (TObject* next = GetObjectProp(Object, p)) Object = next;
    }
  }
  Name = rest;
}

const TPropInfo* TvgAnimatedProperty::Info() const {
  return Object != nullptr && !Name.empty() ? GetPropInfo(Object, Name) : nullptr;
}

// --- Colour

void TvgColorAnimation::Start() {
  ResolveOnce(target_, GetParent(), propertyName_);
  if (startFromCurrent_ && target_.Object != nullptr) ReadColor(target_, start_);
  inherited::Start();
}

void TvgColorAnimation::ProcessAnimation() {
  if (target_.Object == nullptr) return;
  WriteColor(target_, vgInterpolateColor(start_, stop_, NormalizedTime()));
}

// --- Gradient

TvgGradientAnimation::TvgGradientAnimation(TComponent* owner)
    : TvgAnimation(owner), start_(new TvgGradient), stop_(new TvgGradient) {}

TvgGradientAnimation::~TvgGradientAnimation() {
  DestroyTree();
  delete stop_;
  delete start_;
}

void TvgGradientAnimation::Start() {
  ResolveOnce(target_, GetParent(), propertyName_);
  if (startFromCurrent_ && target_.Object != nullptr) {
    if (auto* g = dynamic_cast<TvgGradient*>(ReadObject(target_))) start_->Assign(g);
  }
  inherited::Start();
}

void TvgGradientAnimation::ProcessAnimation() {
  auto* g = dynamic_cast<TvgGradient*>(ReadObject(target_));
  if (g == nullptr) return;
  const float t = NormalizedTime();
  // Only the points present in all three gradients change.
  const int32_t n = std::min({g->GetPoints()->Count(), start_->GetPoints()->Count(), stop_->GetPoints()->Count()});
  for (int32_t i = 0; i < n; ++i) {
    g->GetPoints()->Point(i)->SetIntColor(vgInterpolateColor(start_->GetPoints()->Point(i)->GetIntColor(),
                                                             stop_->GetPoints()->Point(i)->GetIntColor(), t));
  }
  g->Change();
}

// --- Float

void TvgFloatAnimation::Start() {
  ResolveOnce(target_, GetParent(), propertyName_);
  if (startFromCurrent_ && target_.Object != nullptr) {
    const TPropInfo* p = target_.Info();
    if (p != nullptr && IsFloatKind(p)) start_ = static_cast<float>(GetFloatProp(target_.Object, p));
  }
  inherited::Start();
}

void TvgFloatAnimation::ProcessAnimation() {
  if (target_.Object == nullptr) return;
  WriteFloat(target_, start_ + (stop_ - start_) * NormalizedTime());
}

// --- Rect

TvgRectAnimation::TvgRectAnimation(TComponent* owner)
    : TvgAnimation(owner), start_(new TvgBounds), stop_(new TvgBounds), current_(new TvgBounds) {}

TvgRectAnimation::~TvgRectAnimation() {
  DestroyTree();
  delete current_;
  delete stop_;
  delete start_;
}

void TvgRectAnimation::Start() {
  ResolveOnce(target_, GetParent(), propertyName_);
  if (startFromCurrent_ && target_.Object != nullptr) {
    if (auto* b = dynamic_cast<TvgBounds*>(ReadObject(target_))) start_->Assign(b);
  }
  inherited::Start();
}

void TvgRectAnimation::ProcessAnimation() {
  auto* target = dynamic_cast<TPersistent*>(ReadObject(target_));
  if (target == nullptr) return;
  const float t = NormalizedTime();
  const TvgRect a = start_->GetRect(), b = stop_->GetRect();
  current_->SetRect(vgRect(a.Left + (b.Left - a.Left) * t, a.Top + (b.Top - a.Top) * t,
                           a.Right + (b.Right - a.Right) * t, a.Bottom + (b.Bottom - a.Bottom) * t));
  try {
    target->Assign(current_);
  } catch (const Exception&) {
    // A property of another persistent class cannot take bounds: it is left alone.
  }
}

// --- Bitmap

TvgBitmapAnimation::TvgBitmapAnimation(TComponent* owner)
    : TvgAnimation(owner), start_(new TvgBitmap(1, 1)), stop_(new TvgBitmap(1, 1)), work_(new TvgBitmap(1, 1)) {}

TvgBitmapAnimation::~TvgBitmapAnimation() {
  DestroyTree();
  delete work_;
  delete stop_;
  delete start_;
}

void TvgBitmapAnimation::ProcessAnimation() {
  // This class has no start step of its own: the property is found at the first step.
  ResolveOnce(target_, GetParent(), propertyName_);
  auto* target = dynamic_cast<TvgBitmap*>(ReadObject(target_));
  if (target == nullptr) return;
  work_->Assign(start_);
  if (!work_->IsEmpty() && !stop_->IsEmpty()) {
    if (TvgCanvas* canvas = work_->GetCanvas()) {
      canvas->DrawBitmap(*stop_, vgRect(0, 0, stop_->GetWidth(), stop_->GetHeight()),
                         vgRect(0, 0, work_->GetWidth(), work_->GetHeight()), NormalizedTime());
    }
  }
  target->Assign(work_);
}

// --- Keys

void TvgKey::Assign(TPersistent* source) {
  if (auto* k = dynamic_cast<TvgKey*>(source)) {
    key_ = k->key_;
    return;
  }
  inherited::Assign(source);
}

void TvgKey::SetKey(float value) { key_ = std::clamp(value, 0.0f, 1.0f); }

void TvgColorKey::Assign(TPersistent* source) {
  inherited::Assign(source);
  if (auto* k = dynamic_cast<TvgColorKey*>(source)) value_ = k->value_;
}

void TvgFloatKey::Assign(TPersistent* source) {
  inherited::Assign(source);
  if (auto* k = dynamic_cast<TvgFloatKey*>(source)) value_ = k->value_;
}

int32_t TvgKeys::FindSegment(float t) const {
  for (int32_t i = 0; i + 1 < Count(); ++i) {
    if (Key(i)->GetKey() <= t && Key(i + 1)->GetKey() >= t) return i;
  }
  return -1;
}

namespace {

// The segment and local time of t; false when no pair of distinct keys encloses it.
bool KeySegment(const TvgKeys& keys, float t, int32_t& index, float& s) {
  if (keys.Count() < 2) return false;
  index = keys.FindSegment(t);
  if (index < 0) return false;
  const float k0 = keys.Key(index)->GetKey(), k1 = keys.Key(index + 1)->GetKey();
  if (k0 == k1) return false;
  s = (t - k0) / (k1 - k0);
  return true;
}

}  // namespace

TvgColorKeyAnimation::TvgColorKeyAnimation(TComponent* owner)
    : TvgAnimation(owner), keys_(new TvgKeys(TvgColorKey::StaticClassInfo())) {}

TvgColorKeyAnimation::~TvgColorKeyAnimation() {
  DestroyTree();
  delete keys_;
}

TvgColorKey* TvgColorKeyAnimation::AddKey(float key, TvgColor value) {
  auto* k = static_cast<TvgColorKey*>(keys_->Add());
  k->SetKey(key);
  k->SetValue(vgColorToStr(value));
  return k;
}

void TvgColorKeyAnimation::Start() {
  ResolveOnce(target_, GetParent(), propertyName_);
  if (startFromCurrent_ && target_.Object != nullptr && keys_->Count() > 0) {
    TvgColor c = 0;
    if (ReadColor(target_, c)) static_cast<TvgColorKey*>(keys_->Key(0))->SetValue(vgColorToStr(c));
  }
  inherited::Start();
}

void TvgColorKeyAnimation::ProcessAnimation() {
  if (target_.Object == nullptr) return;
  int32_t i = 0;
  float s = 0;
  if (!KeySegment(*keys_, NormalizedTime(), i, s)) return;
  const auto* a = static_cast<TvgColorKey*>(keys_->Key(i));
  const auto* b = static_cast<TvgColorKey*>(keys_->Key(i + 1));
  WriteColor(target_, vgInterpolateColor(a->GetIntValue(), b->GetIntValue(), s));
}

TvgFloatKeyAnimation::TvgFloatKeyAnimation(TComponent* owner)
    : TvgAnimation(owner), keys_(new TvgKeys(TvgFloatKey::StaticClassInfo())) {}

TvgFloatKeyAnimation::~TvgFloatKeyAnimation() {
  DestroyTree();
  delete keys_;
}

TvgFloatKey* TvgFloatKeyAnimation::AddKey(float key, float value) {
  auto* k = static_cast<TvgFloatKey*>(keys_->Add());
  k->SetKey(key);
  k->SetValue(value);
  return k;
}

void TvgFloatKeyAnimation::Start() {
  ResolveOnce(target_, GetParent(), propertyName_);
  if (startFromCurrent_ && target_.Object != nullptr && keys_->Count() > 0) {
    const TPropInfo* p = target_.Info();
    if (p != nullptr && IsFloatKind(p))
      static_cast<TvgFloatKey*>(keys_->Key(0))->SetValue(static_cast<float>(GetFloatProp(target_.Object, p)));
  }
  inherited::Start();
}

void TvgFloatKeyAnimation::ProcessAnimation() {
  if (target_.Object == nullptr) return;
  int32_t i = 0;
  float s = 0;
  if (!KeySegment(*keys_, NormalizedTime(), i, s)) return;
  const float a = static_cast<TvgFloatKey*>(keys_->Key(i))->GetValue();
  const float b = static_cast<TvgFloatKey*>(keys_->Key(i + 1))->GetValue();
  WriteFloat(target_, a + (b - a) * s);
}

// --- Path

TvgPathAnimation::TvgPathAnimation(TComponent* owner) : TvgAnimation(owner), path_(new TvgPathData) {}

TvgPathAnimation::~TvgPathAnimation() {
  DestroyTree();
  delete path_;
}

void TvgPathAnimation::Start() {
  // The spline is built before the run starts, so that the start value applied at once already
  // follows the path.
  spline_.reset();
  polygon_.clear();
  IvgScene* scene = GetScene();
  if (scene != nullptr && scene->GetCanvas() != nullptr) {
    TvgPoint size;
    path_->FlattenToPolygon(polygon_, size, 0.25f);
    for (size_t i = 0; i < polygon_.size(); ++i) {
      const bool marker = polygon_[i].X == vgClosePolygonValue && polygon_[i].Y == vgClosePolygonValue;
      if (marker) polygon_[i] = i > 0 ? polygon_[i - 1] : TvgPoint();
    }
    spline_ = std::make_unique<TvgSpline>(polygon_);
  }
  target_ = GetParent() != nullptr && GetParent()->IsVisual() ? GetParent()->Visual() : nullptr;
  if (target_ != nullptr) startPosition_ = target_->GetPosition()->GetPoint();
  inherited::Start();
}

void TvgPathAnimation::ProcessAnimation() {
  if (target_ == nullptr || !spline_ || polygon_.empty()) return;
  const float t = NormalizedTime();
  // The spline runs from point 0 to point n - 1: t = 1 lands on the path's last point.
  const float n = static_cast<float>(polygon_.size());
  float x = 0, y = 0;
  spline_->Evaluate(t * (n - 1), x, y);
  const TvgPoint old = target_->GetPosition()->GetPoint();
  const TvgPoint now = vgPoint(startPosition_.X + x, startPosition_.Y + y);
  target_->GetPosition()->SetPoint(now);
  if (!rotate_ || t <= 0 || t >= 1 || now.X == old.X || now.Y == old.Y) return;
  const float dx = now.X - old.X, dy = now.Y - old.Y;
  const float cosine = std::clamp(vgVectorAngleCosine(vgVector(dx, dy), vgVector(0, 1)), -1.0f, 1.0f);
  const float a = vgRadToDeg(std::acos(cosine));
  if (GetInverse()) target_->SetRotateAngle(dx >= 0 ? 180 - a : a + 180);
  else target_->SetRotateAngle(dx >= 0 ? -a : a);
}

// --- Path switcher

TvgPathSwitcher::TvgPathSwitcher(TComponent* owner) : TvgAnimation(owner) { SetDuration(0.001f); }
