// The scene object: base of everything in a scene tree (children, parent, scene link, lookup
// names, animations and effects by name and trigger, object streams and cloning).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/Streams.h"
#include "classlib/Variants.h"
#include "vg_easing.h"
#include "vg_registry.h"
#include "vg_sceneintf.h"

// windows.h maps FindResource to its A/W functions; scene objects use the name for their parts.
#ifdef FindResource
#undef FindResource
#endif

class TvgVisualObject;

// A node of the scene tree. Children are owned: freeing an object frees its children. The tree
// runs on the GUI thread only.
class TvgObject : public TComponent, public IvgSceneEntry {
  KBL_DECLARE_CLASS(TvgObject, TComponent)
 public:
  explicit TvgObject(TComponent* owner);
  ~TvgObject() override;

  // --- Tree
  // Stores the scene and passes it to every child.
  virtual void SetScene(IvgScene* scene);
  IvgScene* GetScene() const { return scene_; }
  // Called on a child right after AddObject linked it.
  virtual void ChangeParent() {}
  TvgObject* GetParent() const { return parent_; }
  // Moves the object under `parent` (nullptr: only clears the link after leaving the old one).
  virtual void SetParent(TvgObject* parent);
  // Leaves the parent for a place the caller puts it in at once: the layouts put off in it run
  // where it lands (see AddObject), not as it leaves. Nothing without a parent.
  void LeaveToLand();
  // Appends `child` (detached from its old parent first); nothing for nullptr or a child that
  // is already there.
  virtual void AddObject(TvgObject* child);
  // Unlinks `child` without freeing it; nothing when it is not a child.
  virtual void RemoveObject(TvgObject* child);
  // Frees every child.
  virtual void DeleteChildren();
  // nullptr when out of range.
  TvgObject* GetChild(int32_t index) const;
  int32_t GetChildrenCount() const { return static_cast<int32_t>(children_.size()); }
  const std::vector<TvgObject*>& Children() const { return children_; }
  // Takes the parent's scene when this object has none; then the same for the children.
  void InheritScene();
  // The position among the parent's children; -1 without a parent.
  int32_t GetIndex();
  // Moves the object within its parent's children (clamped to the list).
  void SetIndex(int32_t index);
  void BringToFront();
  void SendToBack();
  // Stable sort of the children.
  void SortChildren(const std::function<int(TvgObject*, TvgObject*)>& compare);
  // Pre-order: this object, then each subtree.
  void AddObjectsToList(std::vector<TvgObject*>& list);
  void AddControlsToList(std::vector<TvgObject*>& list);
  bool IsVisual() const { return visual_ != nullptr; }
  TvgVisualObject* Visual() const { return visual_; }

  // --- Names and data binding
  const std::string& GetResourceName() const { return resourceName_; }
  void SetResourceName(const std::string& name) { ChangeProperty(resourceName_, name); }
  const std::string& GetBindingName() const { return bindingName_; }
  void SetBindingName(const std::string& name) { ChangeProperty(bindingName_, name); }
  // Free text for the object's owner (the grid keeps a cell's coordinates here); not streamed.
  const std::string& GetTagString() const { return tagString_; }
  void SetTagString(const std::string& text) { tagString_ = text; }
  // Depth-first child whose ResourceName equals `name` (ASCII case ignored); a styled control's
  // subtree is not searched through its parent. nullptr for "" or none.
  virtual TvgObject* FindResource(const std::string& name);
  // This object or the first descendant (depth first) whose BindingName matches; nullptr.
  TvgObject* FindBinding(const std::string& name);
  // The bound object's data; an empty string when none is bound under that name.
  virtual Variant GetBinding(const std::string& name);
  virtual void SetBinding(const std::string& name, const Variant& value);
  // The component name; controls answer their value.
  virtual Variant GetData();
  virtual void SetData(const Variant& value) {}
  // ";"-separated item classes for design-time editors; empty here.
  virtual std::string GetItemClassNames() { return std::string(); }
  // Re-applies styles below this object (controls fetch theirs again).
  virtual void UpdateStyle();

  // --- Handlers of the program
  // Calls `handler` with `args` (the sender first) as code of this object (a TComponentFrame of
  // it), so that a form released, or closed with caFree, in the handler is not freed under the
  // setter or method that fired it, also when the handler runs a message loop or the form sits
  // in a host's window. Every scene object fires the program's handlers through here.
  // Unassigned: answers R's default and marks nothing. The handler may free this object.
  template <typename R, typename... Args, typename... Given>
  R RunHandler(const TMethod<R(Args...)>& handler, Given&&... args) {
    if (!handler.Assigned()) return R();
    return RunAssignedHandler(handler, std::forward<Given>(args)...);
  }

 private:
  // Never inlined: the frame and the call stay out of every firing site, which keeps only the
  // test for an assigned handler.
  template <typename R, typename... Args, typename... Given>
  [[gnu::noinline]] R RunAssignedHandler(const TMethod<R(Args...)>& handler, Given&&... args) {
    const TComponentFrame code(this);
    return handler(std::forward<Given>(args)...);
  }

 public:
  // --- Streaming flag
  bool GetStored() const { return stored_; }
  // Sets the flag on this object and every descendant.
  void SetStored(bool value);

  // --- Animations and effects
  // Starts (first to last) or stops (last to first) every child animation of that Name.
  virtual void StartAnimation(const std::string& name);
  virtual void StopAnimation(const std::string& name);
  // Offers a trigger to the child animations, and through locked parts that ignore the mouse
  // (style parts) to theirs.
  virtual void StartTriggerAnimation(TvgObject* instance, const std::string& trigger);
  // As StartTriggerAnimation, waiting for each started animation to finish.
  virtual void StartTriggerAnimationWait(TvgObject* instance, const std::string& trigger);
  virtual void StopTriggerAnimation(TvgObject* instance);
  virtual void ApplyTriggerEffect(TvgObject* instance, const std::string& trigger);
  // Animates a float property to `newValue` with a temporary animation that frees itself.
  void AnimateFloat(const std::string& propertyName, float newValue, float duration = 0.2f,
                    TvgAnimationType animationType = vgAnimationIn,
                    TvgInterpolationType interpolation = vgInterpolationLinear);
  // The same, returning when the animation has ended.
  void AnimateFloatWait(const std::string& propertyName, float newValue, float duration = 0.2f,
                        TvgAnimationType animationType = vgAnimationIn,
                        TvgInterpolationType interpolation = vgInterpolationLinear);

  // --- Free notification of plain objects
  // Adds once; answers the index. Scene objects in the list get Notification(opRemove) when
  // this one goes.
  int32_t AddFreeNotify(TObject* obj);
  void RemoveFreeNotify(TObject* obj);

  // --- Object streams ("TPF0")
  // The object and its stored children as form text (without its Name).
  void SaveToTextStream(TStream& stream);
  void SaveToBinStream(TStream& stream);
  // Reads properties and children; read errors are skipped and unknown handlers left empty.
  void LoadFromBinStream(TStream& stream);
  // A copy of the object's class owned by `owner`, loaded from this object's stream; nullptr
  // when the class cannot be created.
  TvgObject* Clone(TComponent* owner);

  // --- Component streaming hooks
  void GetChildren(const TGetChildProc& proc, TComponent* root) override;
  TComponent* GetParentComponent() const override;
  // A root object's code counts as its scene control's, and through it as the code of the form
  // the scene is placed on, also when nothing owns the scene; nullptr below the root.
  TComponent* GetCodeOwner() const override {
    return parent_ == nullptr && scene_ != nullptr ? scene_->GetSceneControl() : nullptr;
  }
  bool HasParent() const override { return true; }
  void SetParentComponent(TComponent* parent) override;

  // --- IvgSceneEntry
  std::string GetSceneResourceName() const override { return resourceName_; }
  bool GetSceneStored() const override { return stored_; }

 protected:
  // Detaches from parent and scene and frees the children; safe to call more than once. The
  // most derived class with state that its parent's RemoveObject reads calls it first.
  void DestroyTree();
  // Around every change of the children's order (SetIndex, BringToFront and SendToBack of a
  // child, SortChildren): an object that keeps an index of its children follows its child.
  virtual void ChildrenReordering() {}
  virtual void ChildrenReordered() {}
  // The children a trigger offered to this object goes on to (StartTriggerAnimation and its
  // kin): all of them here. An object that knows which of its children hold nothing a trigger can
  // act on (no animation, effect or part below them) may answer the others alone: a trigger then
  // costs what can react to it (a list's rows that took their style, not all its rows).
  virtual const std::vector<TvgObject*>& TriggerChildren() { return children_; }
  // A property of this object took another value through its setter (its geometry and font
  // parts included; not while it is painted into a bitmap). The base does nothing: an object
  // whose maker must know that someone else changed it hears it here.
  virtual void PropertyChanged() {}
  // Stores `value` into `field` and tells PropertyChanged when that changed it.
  template <typename T, typename V>
  void ChangeProperty(T& field, const V& value) {
    if (field == value) return;
    field = value;
    PropertyChanged();
  }
  int32_t cachedIndex_ = -1;
  TvgVisualObject* visual_ = nullptr;  // set by the visual object's constructor

 private:
  friend class TvgVisualObject;
  // The index of a listed child; the list's size when it is not listed.
  size_t ListedIndex(TvgObject* child) const;
  std::vector<TvgSceneObjectRef<TObject>> freeNotify_;
  std::string resourceName_;
  bool stored_ = true;
  bool treeDestroyed_ = false;
  std::string bindingName_;
  std::string tagString_;
  std::vector<TvgObject*> children_;
  TvgObject* parent_ = nullptr;
  IvgScene* scene_ = nullptr;
};

// Decides a trigger text ("IsMouseOver=true;IsPressed=false") against the published properties
// of `instance`: the number of conditions that named a property of the object, and whether the
// last (or every) one of them matched.
struct TvgTriggerResult {
  int32_t Evaluated = 0;
  bool AllMatched = true;
  bool LastMatched = false;
};
TvgTriggerResult vgEvaluateTrigger(TObject* instance, const std::string& trigger);
// True when the upper-cased trigger name occurs in the upper-cased trigger text.
bool vgTriggerMentions(const std::string& triggerText, const std::string& triggerName);
