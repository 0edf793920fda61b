// The scene object: tree links, lookups, trigger dispatch and object streams.
#include "vg_object.h"

#include <algorithm>

#include "classlib/Filer.h"
#include "classlib/FormText.h"
#include "classlib/TypInfo.h"
#include "vg_animation.h"
#include "vg_control.h"
#include "vg_effect.h"
#include "vg_resources.h"
#include "vg_visualobject.h"

KBL_PUBLISHED(TvgObject) {
  p.Property("Index", &TvgObject::GetIndex, &TvgObject::SetIndex).Stored(false);
  p.Property("Parent", &TvgObject::GetParent, &TvgObject::SetParent).Stored(false);
  KBL_PROP(BindingName);
  KBL_PROP(ResourceName);
}

// --- Triggers

bool vgTriggerMentions(const std::string& triggerText, const std::string& triggerName) {
  if (triggerText.empty() || triggerName.empty()) return false;
  return UpperCase(triggerText).find(UpperCase(triggerName)) != std::string::npos;
}

TvgTriggerResult vgEvaluateTrigger(TObject* instance, const std::string& trigger) {
  TvgTriggerResult result;
  if (instance == nullptr) return result;
  size_t start = 0;
  while (start <= trigger.size()) {
    size_t end = trigger.find(';', start);
    if (end == std::string::npos) end = trigger.size();
    const std::string condition = trigger.substr(start, end - start);
    start = end + 1;
    const size_t eq = condition.find('=');
    if (eq == std::string::npos) continue;
    const std::string prop = Trim(condition.substr(0, eq));
    const std::string value = Trim(condition.substr(eq + 1));
    TObject* target = nullptr;
    if (prop.empty() || FindPropPath(instance, prop, target) == nullptr) continue;
    std::string text;
    try {
      text = GetPropText(instance, prop);
    } catch (const Exception&) {
      continue;  // a property that cannot be read as text does not take part
    }
    const bool matched = SameText(text, value);
    ++result.Evaluated;
    result.LastMatched = matched;
    if (!matched) result.AllMatched = false;
  }
  return result;
}

// --- Construction

TvgObject::TvgObject(TComponent* owner) : TComponent(owner) {
  // A scene object reacts only to components it asked free notification of (through the class
  // library or the scene's own) and to its own: a list that owns thousands of rows adds and frees
  // each without telling all the others.
  HearEverySibling(false);
  vgInitSceneUnit();
  vgRegisterSceneObject(this);
}

TvgObject::~TvgObject() { DestroyTree(); }

void TvgObject::DestroyTree() {
  if (treeDestroyed_) return;
  treeDestroyed_ = true;
  Destroying();
  if (scene_ != nullptr) scene_->Notification(this, opRemove);
  std::vector<TvgSceneObjectRef<TObject>> clients;
  clients.swap(freeNotify_);
  // A client freed without letting go is skipped, also when another object took its place.
  for (const auto& client : clients) {
    if (auto* obj = dynamic_cast<TvgObject*>(client.Get())) obj->Notification(this, opRemove);
  }
  // Brushes, bitmaps and paths that use this object as their resource let go here.
  vgUnregisterSceneObject(this);
  if (parent_ != nullptr) {
    parent_->RemoveObject(this);
  } else if (scene_ != nullptr) {
    scene_->RemoveObject(this);
  }
  scene_ = nullptr;
  DeleteChildren();
  scene_ = nullptr;
}

// --- Tree

void TvgObject::SetScene(IvgScene* scene) {
  scene_ = scene;
  for (TvgObject* child : children_) child->SetScene(scene);
}

namespace {
// The object on its way from one parent straight to another (per thread, as the tree is): it
// takes its put-off layouts along to where it lands, rather than running them as it leaves.
thread_local const TvgObject* t_landing = nullptr;
}  // namespace

void TvgObject::SetParent(TvgObject* parent) {
  if (parent == parent_) return;
  if (parent_ != nullptr) {
    if (parent != nullptr) LeaveToLand();
    else parent_->RemoveObject(this);
  } else if (scene_ != nullptr) {
    scene_->RemoveObject(this);
  }
  if (parent == nullptr) return;
  parent->AddObject(this);
  // Refused there (its own descendant): it lies apart, and what it took along runs now.
  if (parent_ == nullptr && visual_ != nullptr) visual_->TakeDeferredLayouts();
}

void TvgObject::LeaveToLand() {
  if (parent_ == nullptr) return;
  const TvgObject* const outer = t_landing;
  t_landing = this;
  const TvgRestoreOnExit back([outer] { t_landing = outer; });
  parent_->RemoveObject(this);
}

TvgObject* TvgObject::GetChild(int32_t index) const {
  if (index < 0 || index >= GetChildrenCount()) return nullptr;
  return children_[static_cast<size_t>(index)];
}

void TvgObject::InheritScene() {
  if (scene_ == nullptr && parent_ != nullptr) scene_ = parent_->scene_;
  for (TvgObject* child : children_) child->InheritScene();
}

void TvgObject::AddObject(TvgObject* child) {
  if (child == nullptr || child == this) return;
  // An object never becomes a child of its own descendant: that would make a cycle.
  for (TvgObject* p = parent_; p != nullptr; p = p->parent_) {
    if (p == child) return;
  }
  if (child->parent_ != nullptr) {
    if (child->parent_ == this) return;
    child->LeaveToLand();
  } else if (child->scene_ != nullptr) {
    // A scene's root object leaves the scene's list before it joins a tree.
    child->scene_->RemoveObject(child);
  }
  if (children_.capacity() == 0) children_.reserve(10);
  // Every listed child links back here and so returned above; only an object painting into a
  // bitmap stands under another parent for the while (PaintTo) and may still be listed. Adding
  // many children thus never searches the list.
  const bool mayBeListed = child->visual_ != nullptr && child->visual_->inPaintTo_;
  if (mayBeListed && std::find(children_.begin(), children_.end(), child) != children_.end()) return;
  children_.push_back(child);
  child->parent_ = this;
  // The whole subtree takes this object's scene (none included), so no part of it keeps a
  // link to a scene it has left.
  child->SetScene(scene_);
  child->InheritScene();
  child->ChangeParent();
  TvgVisualObject* self = visual_;
  TvgVisualObject* vchild = child->visual_;
  if (self != nullptr && vchild != nullptr && vchild->align_ != vaNone) {
    // Corner-anchored and scaled children follow size changes from the size they joined at,
    // not from one the parent had before it laid anything out.
    if (!self->needRealign_) self->RememberAlignedSize();
    self->needRealign_ = true;
  }
  if (self != nullptr) {
    if (auto* effect = dynamic_cast<TvgEffect*>(child); effect != nullptr && effect->GetEnabled()) {
      self->hasEffects_ = true;
      self->RecalcUpdateRect();
    }
  }
  if (self != nullptr && vchild != nullptr) {
    if (self->tempCanvas_ != nullptr) vchild->SetTempCanvasTree(self->tempCanvas_);
    // A style a control inserts while painting into a bitmap paints in that same pass.
    if (self->inPaintTo_) vchild->SetInPaintToTree(true);
    vchild->InheritUpdatingTree(self->updating_);
    vchild->InheritPlaceOnDemand(self->underPlaceOnDemand_);
    vchild->RecalcAbsolute();
    vchild->RecalcOpacity();
    vchild->RecalcEnabled();
    vchild->RecalcUpdateRect();
    if (self->hasEffects_) {
      self->UpdateEffects();
      self->Repaint();
    }
    if (vchild->align_ == vaNone) {
      self->Repaint();
    } else {
      self->Realign();
    }
    self->tabList_.push_back(vchild);
    // What stays put off in it (below an update still open there) is found through its new
    // ancestors: a marked object's ancestors are always marked, which is what lets noting stop
    // at the first marked one.
    if (vchild->TakeDeferredLayouts()) self->NoteDeferredBelow();
  } else if (vchild != nullptr) {
    // No update reaches a visual object through a parent that is not visual.
    vchild->TakeDeferredLayouts();
  }
}

size_t TvgObject::ListedIndex(TvgObject* child) const {
  // The child's remembered index when it still holds; else searched from the end, where lists
  // emptied last first (and the newest children) are found at once.
  const auto cached = static_cast<size_t>(child->cachedIndex_);
  if (child->cachedIndex_ >= 0 && cached < children_.size() && children_[cached] == child) return cached;
  for (size_t i = children_.size(); i > 0; --i) {
    if (children_[i - 1] == child) return i - 1;
  }
  return children_.size();
}

void TvgObject::RemoveObject(TvgObject* child) {
  const size_t index = ListedIndex(child);
  if (index == children_.size()) return;
  TvgVisualObject* self = visual_;
  TvgVisualObject* vchild = child->visual_;
  if (self != nullptr && vchild != nullptr) {
    vchild->InheritUpdatingTree(0);
    vchild->InheritPlaceOnDemand(false);
    auto& tabs = self->tabList_;
    if (const size_t tab = TvgVisualObject::TabIndexOf(tabs, vchild); tab < tabs.size())
      tabs.erase(tabs.begin() + static_cast<std::ptrdiff_t>(tab));
    vchild->Repaint();
  }
  child->parent_ = nullptr;
  child->SetScene(nullptr);
  child->cachedIndex_ = -1;
  // The children after it keep their remembered indices: GetIndex and ListedIndex see that one no
  // longer holds (a list emptied from its front stays linear).
  children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(index));
  if (self != nullptr) {
    // Without effects (or aligned children) before, none are left after: the flags are only
    // worked out again when they were set, which keeps emptying a long list linear.
    if (self->hasEffects_) self->RecalcHasEffects();
    // The parent's area changes and so do those of the ancestors that unite it, not the areas of
    // the other children.
    self->MarkUpdateRectStaleUp();
    if (vchild != nullptr) {
      if (self->needRealign_) {
        self->needRealign_ = std::any_of(children_.begin(), children_.end(), [](TvgObject* c) {
          return c->visual_ != nullptr && c->visual_->align_ != vaNone;
        });
      }
      vchild->SetTempCanvasTree(nullptr);
      vchild->SetInPaintToTree(false);
    }
  }
  // The end of an update open over its old place no longer reaches it, and it may lie apart when
  // that ends: what was put off in it runs now, unless an update of its own is still open (whose
  // end runs it). One on its way to another place takes it there; one that goes needs none.
  if (vchild != nullptr && child != t_landing && !child->HasState(csDestroying)) vchild->TakeDeferredLayouts();
}

void TvgObject::DeleteChildren() {
  // The first child goes first. The list is turned round once so that taking it costs nothing;
  // a child's destructor may still free siblings it owns, which leave the list through
  // RemoveObject wherever they stand.
  std::reverse(children_.begin(), children_.end());
  while (!children_.empty()) {
    TvgObject* child = children_.back();
    children_.pop_back();
    child->parent_ = nullptr;
    child->SetScene(nullptr);
    delete child;
  }
  children_.clear();
  children_.shrink_to_fit();
}

int32_t TvgObject::GetIndex() {
  if (parent_ == nullptr) return -1;
  const auto& list = parent_->children_;
  if (cachedIndex_ < 0 || cachedIndex_ >= static_cast<int32_t>(list.size()) ||
      list[static_cast<size_t>(cachedIndex_)] != this) {
    // One pass numbers every sibling: asking each of many children its index stays linear.
    cachedIndex_ = -1;
    for (size_t i = 0; i < list.size(); ++i) list[i]->cachedIndex_ = static_cast<int32_t>(i);
  }
  return cachedIndex_;
}

void TvgObject::SetIndex(int32_t index) {
  if (parent_ == nullptr) return;
  auto& list = parent_->children_;
  // Found at once when just added (from the end) or numbered; the siblings' remembered indices
  // are checked where they are used, so none is reset here (a row inserted at a long list's
  // front costs a move of the list, not a pass over its children).
  const size_t at = parent_->ListedIndex(this);
  if (at == list.size()) return;
  index = std::clamp<int32_t>(index, 0, static_cast<int32_t>(list.size()) - 1);
  parent_->ChildrenReordering();
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(at));
  list.insert(list.begin() + index, this);
  parent_->ChildrenReordered();
  if (visual_ != nullptr && parent_->visual_ != nullptr && !HasState(csLoading)) parent_->visual_->Realign();
}

void TvgObject::BringToFront() {
  if (parent_ == nullptr) return;
  SetIndex(parent_->GetChildrenCount() - 1);
  if (visual_ != nullptr) visual_->Repaint();
}

void TvgObject::SendToBack() {
  if (parent_ == nullptr) return;
  SetIndex(0);
  if (visual_ != nullptr && parent_->visual_ != nullptr) parent_->visual_->Realign();
}

void TvgObject::SortChildren(const std::function<int(TvgObject*, TvgObject*)>& compare) {
  ChildrenReordering();
  std::stable_sort(children_.begin(), children_.end(),
                   [&compare](TvgObject* a, TvgObject* b) { return compare(a, b) < 0; });
  for (TvgObject* child : children_) child->cachedIndex_ = -1;
  ChildrenReordered();
}

void TvgObject::AddObjectsToList(std::vector<TvgObject*>& list) {
  list.push_back(this);
  for (TvgObject* child : children_) child->AddObjectsToList(list);
}

void TvgObject::AddControlsToList(std::vector<TvgObject*>& list) {
  if (Is<TvgControl>()) list.push_back(this);
  for (TvgObject* child : children_) child->AddControlsToList(list);
}

void TvgObject::SetStored(bool value) {
  if (stored_ == value) return;
  stored_ = value;
  PropertyChanged();
  for (TvgObject* child : children_) child->SetStored(value);
}

// --- Lookups

TvgObject* TvgObject::FindResource(const std::string& name) {
  if (name.empty()) return nullptr;
  for (TvgObject* child : children_) {
    if (SameText(child->resourceName_, name)) return child;
    if (child->Is<TvgControl>()) continue;  // a control's style is not searched from outside
    if (TvgObject* found = child->FindResource(name)) return found;
  }
  return nullptr;
}

TvgObject* TvgObject::FindBinding(const std::string& name) {
  if (SameText(bindingName_, name)) return this;
  for (TvgObject* child : children_) {
    if (TvgObject* found = child->FindBinding(name)) return found;
  }
  return nullptr;
}

Variant TvgObject::GetBinding(const std::string& name) {
  TvgObject* obj = FindBinding(name);
  return obj != nullptr ? obj->GetData() : Variant(std::string());
}

void TvgObject::SetBinding(const std::string& name, const Variant& value) {
  if (TvgObject* obj = FindBinding(name)) obj->SetData(value);
}

Variant TvgObject::GetData() { return Variant(GetName()); }

void TvgObject::UpdateStyle() {
  if (HasState(csLoading) || HasState(csDestroying)) return;
  // A child may replace its style (and so the list) while it updates: walk by index.
  for (size_t i = 0; i < children_.size(); ++i) children_[i]->UpdateStyle();
}

// --- Animations and effects

void TvgObject::StartAnimation(const std::string& name) {
  for (size_t i = 0; i < children_.size(); ++i) {
    if (auto* a = dynamic_cast<TvgAnimation*>(children_[i]); a != nullptr && SameText(a->GetName(), name)) {
      a->Start();
    }
  }
}

void TvgObject::StopAnimation(const std::string& name) {
  for (size_t i = children_.size(); i > 0; --i) {
    if (i > children_.size()) continue;
    if (auto* a = dynamic_cast<TvgAnimation*>(children_[i - 1]); a != nullptr && SameText(a->GetName(), name)) {
      a->Stop();
    }
  }
}

namespace {

// Style parts: locked visual children that ignore the mouse receive the control's triggers.
bool PassesTriggers(TvgObject* child) {
  TvgVisualObject* v = child->Visual();
  return v != nullptr && v->GetLocked() && !v->GetHitTest();
}

}  // namespace

// The trigger walks below run the program's handlers as they go (an animation that ends at once
// runs its OnFinish, a stopped one too), and a handler may free the object being walked: a list's
// row whose line it deletes, or every row as it reloads the lines. Each walk holds its object by
// reference and stops once it is gone; a child freed while its parent lives leaves the parent's
// list, which is read again at each step.

void TvgObject::StartTriggerAnimation(TvgObject* instance, const std::string& trigger) {
  const TvgSceneObjectRef<TvgObject> self(this);
  StopTriggerAnimation(instance);
  if (self.Get() == nullptr) return;
  const std::vector<TvgObject*>& children = TriggerChildren();
  for (size_t i = 0; i < children.size(); ++i) {
    TvgObject* child = children[i];
    if (auto* a = dynamic_cast<TvgAnimation*>(child)) {
      a->StartTrigger(instance, trigger);
    } else if (PassesTriggers(child)) {
      child->StartTriggerAnimation(instance, trigger);
    } else {
      continue;
    }
    if (self.Get() == nullptr) return;
  }
}

void TvgObject::StartTriggerAnimationWait(TvgObject* instance, const std::string& trigger) {
  const TComponentFrame code(this);  // the waits' loops: a form released meanwhile waits for them
  const TvgSceneObjectRef<TvgObject> self(this);
  StopTriggerAnimation(instance);
  if (self.Get() == nullptr) return;
  const std::vector<TvgObject*>& children = TriggerChildren();
  for (size_t i = 0; i < children.size(); ++i) {
    TvgObject* child = children[i];
    if (auto* a = dynamic_cast<TvgAnimation*>(child)) {
      const TvgSceneObjectRef<TvgAnimation> started(a);
      a->StartTrigger(instance, trigger);
      if (started.Get() != nullptr) vgWaitForAnimation(a);
    } else if (PassesTriggers(child)) {
      child->StartTriggerAnimationWait(instance, trigger);
    } else {
      continue;
    }
    if (self.Get() == nullptr) return;
  }
}

void TvgObject::StopTriggerAnimation(TvgObject* instance) {
  const TvgSceneObjectRef<TvgObject> self(this);
  const std::vector<TvgObject*>& children = TriggerChildren();
  for (size_t i = 0; i < children.size(); ++i) {
    TvgObject* child = children[i];
    if (auto* a = dynamic_cast<TvgAnimation*>(child)) {
      if (a->GetTrigger().empty()) continue;
      a->Stop();
    } else if (PassesTriggers(child)) {
      child->StopTriggerAnimation(instance);
    } else {
      continue;
    }
    if (self.Get() == nullptr) return;
  }
}

void TvgObject::ApplyTriggerEffect(TvgObject* instance, const std::string& trigger) {
  const TvgSceneObjectRef<TvgObject> self(this);
  const std::vector<TvgObject*>& children = TriggerChildren();
  for (size_t i = 0; i < children.size(); ++i) {
    TvgObject* child = children[i];
    if (auto* e = dynamic_cast<TvgEffect*>(child)) {
      e->ApplyTrigger(instance, trigger);
    } else if (PassesTriggers(child)) {
      child->ApplyTriggerEffect(instance, trigger);
    } else {
      continue;
    }
    if (self.Get() == nullptr) return;
  }
}

namespace {

// The float animation lives with the shapes and controls; it is created by class name.
TvgAnimation* CreateFloatAnimation(TvgObject* parent, const std::string& propertyName, float newValue,
                                   float duration, TvgAnimationType animationType,
                                   TvgInterpolationType interpolation) {
  const TClassInfo* cls = GetClass("TvgFloatAnimation");
  if (cls == nullptr) return nullptr;
  auto* animation = dynamic_cast<TvgAnimation*>(cls->Create(parent));
  if (animation == nullptr) return nullptr;
  animation->SetParent(parent);
  animation->SetDuration(duration);
  animation->SetAnimationType(animationType);
  animation->SetInterpolation(interpolation);
  try {
    SetPropValue(animation, "PropertyName", Variant(propertyName));
    SetPropValue(animation, "StopValue", Variant(static_cast<double>(newValue)));
    SetPropValue(animation, "StartFromCurrent", Variant(true));
  } catch (const Exception&) {
    delete animation;
    return nullptr;
  }
  return animation;
}

void FreeFinishedAnimation(void*, TObject* sender) { delete sender; }

}  // namespace

void TvgObject::AnimateFloat(const std::string& propertyName, float newValue, float duration,
                             TvgAnimationType animationType, TvgInterpolationType interpolation) {
  TvgAnimation* animation =
      CreateFloatAnimation(this, propertyName, newValue, duration, animationType, interpolation);
  if (animation == nullptr) return;
  animation->OnFinish = TNotifyEvent::FromFunction(&FreeFinishedAnimation, nullptr);
  animation->Start();
}

void TvgObject::AnimateFloatWait(const std::string& propertyName, float newValue, float duration,
                                 TvgAnimationType animationType, TvgInterpolationType interpolation) {
  const TComponentFrame code(this);  // the wait's loop, as in StartTriggerAnimationWait
  TvgAnimation* animation =
      CreateFloatAnimation(this, propertyName, newValue, duration, animationType, interpolation);
  if (animation == nullptr) return;
  animation->Start();
  vgWaitForAnimation(animation);
  delete animation;
}

// --- Free notification

int32_t TvgObject::AddFreeNotify(TObject* obj) {
  const TvgSceneObjectRef<TObject> client(obj);
  auto it = std::find(freeNotify_.begin(), freeNotify_.end(), client);
  if (it != freeNotify_.end()) return static_cast<int32_t>(it - freeNotify_.begin());
  freeNotify_.push_back(client);
  return static_cast<int32_t>(freeNotify_.size()) - 1;
}

void TvgObject::RemoveFreeNotify(TObject* obj) {
  std::erase_if(freeNotify_, [obj](const auto& client) { return client.Address() == obj; });
}

// --- Object streams

void TvgObject::SaveToBinStream(TStream& stream) {
  const std::string name = GetName();
  SetName(std::string());
  try {
    WriteComponentToStream(stream, this);
  } catch (...) {
    SetName(name);
    throw;
  }
  SetName(name);
}

void TvgObject::SaveToTextStream(TStream& stream) {
  TMemoryStream binary;
  SaveToBinStream(binary);
  binary.SetPosition(0);
  ObjectBinaryToText(binary, stream);
}

void TvgObject::LoadFromBinStream(TStream& stream) { vgLoadObjectFromBinStream(this, stream); }

TvgObject* TvgObject::Clone(TComponent* owner) {
  TMemoryStream stream;
  SaveToBinStream(stream);
  stream.SetPosition(0);
  TObject* created = ClassInfo()->Create(owner);
  auto* copy = dynamic_cast<TvgObject*>(created);
  if (copy == nullptr) {
    delete created;
    return nullptr;
  }
  try {
    copy->LoadFromBinStream(stream);
  } catch (...) {
    delete copy;
    throw;
  }
  return copy;
}

// --- Component streaming hooks

void TvgObject::GetChildren(const TGetChildProc& proc, TComponent* root) {
  if (Is<TvgContent>()) return;  // its children stream with its parent
  for (TvgObject* child : children_) {
    if (child->Is<TvgContent>()) {
      for (TvgObject* inner : child->children_) {
        if (inner->stored_) proc(inner);
      }
    }
    if (child->stored_) proc(child);
  }
}

TComponent* TvgObject::GetParentComponent() const {
  TvgObject* p = parent_;
  if (p != nullptr && (p->Is<TvgContent>() || vgInheritsFromName(p, "TvgComboListBox"))) {
    return p->parent_ != nullptr ? p->parent_ : p;
  }
  if (p != nullptr) return p;
  return scene_ != nullptr ? scene_->GetOwner() : nullptr;
}

void TvgObject::SetParentComponent(TComponent* parent) {
  if (parent_ != nullptr) parent_->RemoveObject(this);
  if (auto* obj = dynamic_cast<TvgObject*>(parent)) {
    obj->AddObject(this);
  } else if (IvgScene* scene = vgQueryScene(parent)) {
    scene->AddObject(this);
  }
}
