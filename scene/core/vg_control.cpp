// The styled control, the default style and the resource objects.
#include "vg_control.h"

#include <algorithm>

#include "classlib/ResourceStream.h"
#include "vg_resources.h"

KBL_PUBLISHED(TvgControl) {
  KBL_PROP(Resource);
  p.Property("TabOrder", &TvgControl::GetTabOrderProp, &TvgControl::SetTabOrderProp).Default(-1);
}

KBL_PUBLISHED(TvgControlActionLink) {}
KBL_PUBLISHED(TvgBrushObject) { KBL_PROP(Brush); }
KBL_PUBLISHED(TvgPathObject) { KBL_PROP(Path); }
KBL_PUBLISHED(TvgBitmapObject) { KBL_PROP(Bitmap); }

// --- Default style

namespace {

struct DefaultStyle {
  TvgObject* root = nullptr;
  bool tried = false;
};

DefaultStyle& TheDefaultStyle() {
  static DefaultStyle style;
  return style;
}

const char kDefaultStyleResource[] = "defaultvgstyle";

}  // namespace

void vgLoadDefaultStyle() {
  DefaultStyle& style = TheDefaultStyle();
  if (style.root != nullptr || style.tried) return;
  style.tried = true;
  if (!TResourceStream::Exists(kDefaultStyleResource)) return;
  try {
    TResourceStream stream(kDefaultStyleResource);
    style.root = dynamic_cast<TvgObject*>(vgCreateObjectFromBinStream(nullptr, stream));
  } catch (const Exception&) {
    style.root = nullptr;
  }
}

TvgObject* vgDefaultStyle() { return TheDefaultStyle().root; }

void vgSetDefaultStyle(TvgObject* root) {
  DefaultStyle& style = TheDefaultStyle();
  if (style.root == root) return;
  delete style.root;
  style.root = root;
  style.tried = root != nullptr;
}

void vgFreeDefaultStyle() {
  vgSetDefaultStyle(nullptr);
  TheDefaultStyle().tried = false;
}

// --- Control

TvgControl::TvgControl(TComponent* owner) : TvgVisualObject(owner) {}

TvgControl::~TvgControl() {
  delete actionLink_;
  actionLink_ = nullptr;
  // Bound controls let go of this source, last first.
  while (!bound_.empty()) bound_.back()->SetBindingSource(nullptr);
  SetBindingSource(nullptr);
  style_ = nullptr;  // a child: freed with the others
}

std::string TvgControl::StyleNameOfClass(const TClassInfo* cls) {
  if (cls == nullptr) return std::string();
  const std::string& name = cls->Name;
  return (name.size() > 3 ? name.substr(3) : std::string()) + "style";
}

TvgObject* TvgControl::LookupStyle() {
  IvgScene* scene = GetScene();
  TvgObject* sceneStyle = nullptr;
  if (scene != nullptr && scene->GetStyle() != nullptr) sceneStyle = scene->GetStyle()->GetRoot();
  if (!resource_.empty()) {
    TvgObject* found = sceneStyle != nullptr ? sceneStyle->FindResource(resource_) : nullptr;
    if (found == nullptr && vgDefaultStyle() != nullptr) found = vgDefaultStyle()->FindResource(resource_);
    if (found == nullptr) found = dynamic_cast<TvgObject*>(vgFindResourceObject(resource_));
    if (found != nullptr && found->IsVisual()) {
      TvgObject* clone = found->Clone(this);
      if (clone != nullptr) {
        clone->SetResourceName(std::string());
        return clone;
      }
    }
  }
  vgLoadDefaultStyle();
  TvgObject* found = nullptr;
  const std::string classStyle = StyleNameOfClass(ClassInfo());
  if (sceneStyle != nullptr) {
    if (!resource_.empty()) found = sceneStyle->FindResource(resource_);
    if (found == nullptr) found = sceneStyle->FindResource(classStyle);
  }
  TvgObject* defaultStyle = vgDefaultStyle();
  if (found == nullptr && defaultStyle != nullptr) {
    if (!resource_.empty()) found = defaultStyle->FindResource(resource_);
    if (found == nullptr) found = defaultStyle->FindResource(classStyle);
    if (found == nullptr) found = defaultStyle->FindResource(StyleNameOfClass(ClassInfo()->Parent));
  }
  return found != nullptr ? found->Clone(this) : nullptr;
}

void TvgControl::ApplyResource() {
  if (!needStyleLookup_) return;
  needStyleLookup_ = false;
  // Inserting the style and laying it out repaints each of its parts: the scene takes one
  // request for all of them.
  TvgRepaintBatch batch(this);
  TvgObject* s = LookupStyle();
  if (s == nullptr) return;
  if (s->HasState(csLoading)) {
    std::vector<TvgObject*> all;
    s->AddObjectsToList(all);
    for (TvgObject* obj : all) obj->Loaded();
  }
  IvgScene* scene = GetScene();
  const bool suspend = IsLoading() && scene != nullptr;
  const bool savedDisable = suspend ? scene->GetDisableUpdate() : false;
  if (suspend) scene->SetDisableUpdate(true);
  if (style_ != nullptr) {
    FreeStyle();
    TvgObject* old = style_;
    style_ = nullptr;
    delete old;
  }
  if (TvgVisualObject* v = s->Visual()) {
    v->SetAlign(vaContents);
    v->SetDesignHide(false);
  }
  style_ = s;
  AddObject(s);
  s->SetIndex(0);
  s->SetStored(false);
  if (TvgVisualObject* v = s->Visual()) v->SetLockedTree(true);
  ApplyStyle();
  if (suspend) scene->SetDisableUpdate(savedDisable);
  UpdateEffects();
  RunHandler(OnApplyResource, this);
}

void TvgControl::ApplyStyle() {
  if (GetIsFocused() && GetCanFocused() && !GetDisableFocusEffect() && !vgDisableFocusEffects()) {
    RecalcUpdateRect();
    Repaint();
    FireTrigger("IsFocused");
  }
  const bool designing = GetScene() != nullptr && GetScene()->GetDesignTime();
  if (TranslateHint && GetShowHint() && !GetHint().empty() && !designing) SetHint(vgTranslate(GetHint()));
}

void TvgControl::UpdateStyle() {
  if (HasState(csLoading) || HasState(csDestroying)) return;
  inherited::UpdateStyle();
  needStyleLookup_ = true;
  ApplyResource();
}

void TvgControl::SetResource(const std::string& value) {
  if (!vgSetChanged(resource_, value)) return;
  PropertyChanged();
  needStyleLookup_ = true;
  if (!IsLoading() && GetUpdateCounter() == 0) ApplyResource();
}

void TvgControl::BeforePaint() {
  inherited::BeforePaint();
  ApplyResource();
}

void TvgControl::EnterFocus() {
  ApplyResource();
  inherited::EnterFocus();
}

void TvgControl::Loaded() {
  inherited::Loaded();
  if (GetScene() != nullptr && GetScene()->GetActiveControl() == this) SetFocus();
}

TvgObject* TvgControl::FindResource(const std::string& name) {
  if (name.empty()) return nullptr;
  if (style_ != nullptr) {
    if (TvgObject* found = style_->FindResource(name)) return found;
  }
  return inherited::FindResource(name);
}

void TvgControl::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == bindingSource_) bindingSource_ = nullptr;
  bound_.erase(std::remove(bound_.begin(), bound_.end(), component), bound_.end());
  if (component == style_) style_ = nullptr;
  if (actionLink_ != nullptr && component == actionLink_->GetAction()) SetAction(nullptr);
}

// --- Action

TBasicAction* TvgControl::GetAction() { return actionLink_ != nullptr ? actionLink_->GetAction() : nullptr; }

void TvgControl::SetAction(TBasicAction* value) {
  if (value == nullptr) {
    delete actionLink_;
    actionLink_ = nullptr;
    return;
  }
  if (actionLink_ == nullptr) actionLink_ = new TvgControlActionLink(this);
  actionLink_->SetAction(value);
  ActionChange(value, value->HasState(csLoading));
  value->FreeNotification(this);
}

void TvgControl::ActionChange(TObject* sender, bool checkDefaults) {
  auto* action = dynamic_cast<TCustomAction*>(sender);
  if (action == nullptr) return;
  if (vgIsTextControl(this)) {
    const WideString text = vgControlText(this);
    if (!checkDefaults || text.empty() || text == Utf8ToWide(GetName()))
      vgSetControlText(this, Utf8ToWide(action->GetCaption()));
  }
  if (!checkDefaults || GetEnabled()) SetEnabled(action->GetEnabled());
  if (!checkDefaults || GetHint().empty()) SetHint(Utf8ToWide(action->GetHint()));
  if (!checkDefaults || GetVisible()) SetVisible(action->GetVisible());
  if (!checkDefaults || !OnClick.Assigned()) OnClick = action->GetOnExecute();
}

void TvgControl::InitiateAction() {
  if (actionLink_ != nullptr) actionLink_->Update();
}

// --- Action link

bool vgIsTextControl(const TObject* obj) { return vgInheritsFromName(obj, "TvgTextControl"); }

WideString vgControlText(TObject* obj) {
  const TPropInfo* prop = obj != nullptr ? GetPropInfo(obj, "Text") : nullptr;
  return prop != nullptr ? GetWideStrProp(obj, prop) : WideString();
}

void vgSetControlText(TObject* obj, const WideString& text) {
  const TPropInfo* prop = obj != nullptr ? GetPropInfo(obj, "Text") : nullptr;
  if (prop != nullptr && prop->IsWritable()) SetWideStrProp(obj, prop, text);
}

TvgControlActionLink::TvgControlActionLink(TObject* client) : TActionLink(client) {
  client_ = dynamic_cast<TvgControl*>(client);
  if (client_ == nullptr) throw EInvalidCast("Invalid class typecast");
}

bool TvgControlActionLink::DoShowHint(WideString&) { return true; }

bool TvgControlActionLink::IsCaptionLinked() {
  TCustomAction* a = CustomAction();
  return TActionLink::IsCaptionLinked() && vgIsTextControl(client_) &&
         vgControlText(client_) == Utf8ToWide(a->GetCaption());
}

bool TvgControlActionLink::IsEnabledLinked() {
  return TActionLink::IsEnabledLinked() && client_->GetEnabled() == CustomAction()->GetEnabled();
}

bool TvgControlActionLink::IsVisibleLinked() {
  return TActionLink::IsVisibleLinked() && client_->GetVisible() == CustomAction()->GetVisible();
}

bool TvgControlActionLink::IsOnExecuteLinked() {
  return TActionLink::IsOnExecuteLinked() && GetAction() != nullptr && client_->OnClick == GetAction()->GetOnExecute();
}

void TvgControlActionLink::SetCaption(const std::string& value) {
  if (IsCaptionLinked()) vgSetControlText(client_, Utf8ToWide(value));
}

void TvgControlActionLink::SetEnabled(bool value) {
  if (IsEnabledLinked()) client_->SetEnabled(value);
}

void TvgControlActionLink::SetHint(const std::string& value) {
  if (IsHintLinked()) client_->SetHint(Utf8ToWide(value));
}

void TvgControlActionLink::SetVisible(bool value) {
  if (IsVisibleLinked()) client_->SetVisible(value);
}

void TvgControlActionLink::SetOnExecute(TNotifyEvent value) {
  if (IsOnExecuteLinked()) client_->OnClick = value;
}

// --- Binding

void TvgControl::SetBindingSource(TvgControl* source) {
  if (source == bindingSource_ || source == this) return;
  if (bindingSource_ != nullptr) bindingSource_->RemoveBindingControl(this);
  bindingSource_ = source;
  PropertyChanged();
  if (source != nullptr) source->AddBindingControl(this);
}

void TvgControl::AddBindingControl(TvgControl* control) {
  if (std::find(bound_.begin(), bound_.end(), control) == bound_.end()) bound_.push_back(control);
  control->AddFreeNotify(this);
  UpdateBindings();
}

void TvgControl::RemoveBindingControl(TvgControl* control) {
  bound_.erase(std::remove(bound_.begin(), bound_.end(), control), bound_.end());
  control->RemoveFreeNotify(this);
  if (control->bindingSource_ == this) control->bindingSource_ = nullptr;
}

void TvgControl::UpdateBindings() {
  if (bound_.empty()) return;
  const Variant value = GetData();
  for (size_t i = 0; i < bound_.size(); ++i) bound_[i]->SetData(value);
}

// --- Resource objects

TvgBrushObject::TvgBrushObject(TComponent* owner)
    : TvgObject(owner), brush_(new TvgBrush(vgBrushSolid, 0xFFFFFFFFu)) {}
TvgBrushObject::~TvgBrushObject() {
  DestroyTree();  // brushes that use this one let go while it is whole
  delete brush_;
}
void TvgBrushObject::SetName(const std::string& name) {
  inherited::SetName(name);
  if (GetResourceName().empty()) SetResourceName(name);
}

TvgPathObject::TvgPathObject(TComponent* owner) : TvgObject(owner), path_(new TvgPathData()) {}
TvgPathObject::~TvgPathObject() {
  DestroyTree();
  delete path_;
}
void TvgPathObject::SetName(const std::string& name) {
  inherited::SetName(name);
  if (GetResourceName().empty()) SetResourceName(name);
}

TvgBitmapObject::TvgBitmapObject(TComponent* owner) : TvgObject(owner), bitmap_(new TvgBitmap(1, 1)) {}
TvgBitmapObject::~TvgBitmapObject() {
  DestroyTree();
  delete bitmap_;
}
void TvgBitmapObject::SetName(const std::string& name) {
  inherited::SetName(name);
  if (GetResourceName().empty()) SetResourceName(name);
}
