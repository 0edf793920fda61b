// The styled control: a visual object whose look is a style tree cloned from the scene's style,
// the default style or the registered style roots; value binding between controls; and the
// three resource objects styles refer to by name (brush, path, bitmap).
#pragma once

#include <string>
#include <vector>

#include "classlib/ActnList.h"
#include "vg_bitmap.h"
#include "vg_brush.h"
#include "vg_pathdata.h"
#include "vg_visualobject.h"

class TvgControlActionLink;

class TvgControl : public TvgVisualObject {
  KBL_DECLARE_CLASS(TvgControl, TvgVisualObject)
 public:
  explicit TvgControl(TComponent* owner);
  ~TvgControl() override;

  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;
  void SetData(const Variant& value) override {}
  // The style object first, then the children.
  TvgObject* FindResource(const std::string& name) override;
  void UpdateStyle() override;
  void EnterFocus() override;
  // Looks the style up and inserts it as child 0 when a lookup is pending.
  void ApplyResource() override;
  void BeforePaint() override;

  // --- Action
  // The action whose state the control shows and whose handler its click runs; nullptr: none.
  virtual TBasicAction* GetAction();
  TBasicAction* GetActionProp() const { return const_cast<TvgControl*>(this)->GetAction(); }
  // Links the control to the action (copying its state; only into defaults while the action is
  // loading) and asks to hear of it being freed; nullptr frees the link.
  void SetAction(TBasicAction* value);
  // Copies a TCustomAction's caption (into a text control's Text), Enabled, Hint, Visible and
  // OnExecute (into OnClick); with checkDefaults only into properties still at their defaults.
  virtual void ActionChange(TObject* sender, bool checkDefaults);
  // Lets the action update itself (its OnUpdate), which the link passes on.
  virtual void InitiateAction();
  TvgControlActionLink* GetActionLink() const { return actionLink_; }

  // --- Style
  // Descendants find their parts here (FindResource) and keep references to them.
  virtual void ApplyStyle();
  // Descendants drop the references to the parts of the style about to go.
  virtual void FreeStyle() {}
  // A fresh clone of the style for this control, owned by it; nullptr when none is found.
  TvgObject* LookupStyle();
  // The inserted style tree; nullptr before the first lookup or without a style.
  TvgObject* GetStyleObject() const { return style_; }
  const std::string& GetResource() const { return resource_; }
  // Stores the style name and applies it at once unless loading or inside BeginUpdate.
  void SetResource(const std::string& value);
  bool GetNeedStyleLookup() const { return needStyleLookup_; }
  // Asks for a fresh style lookup at the next ApplyResource (a list styles itself this way just
  // before its drop-down opens).
  void SetNeedStyleLookup(bool value) { needStyleLookup_ = value; }
  // The class's own style name: the class name less its first three letters, then "style".
  static std::string StyleNameOfClass(const TClassInfo* cls);
  // Whether ApplyStyle passes Hint through the translation hook (off by default).
  bool TranslateHint = false;

  // --- Binding
  TvgControl* GetBindingSource() const { return bindingSource_; }
  // Unregisters from the old source and registers with the new one (which pushes its value).
  void SetBindingSource(TvgControl* source);
  // Pushes this control's value (GetData) into every bound control.
  void UpdateBindings();
  const std::vector<TvgControl*>& BoundControls() const { return bound_; }

  int32_t GetTabOrderProp() { return GetTabOrder(); }
  void SetTabOrderProp(int32_t value) { SetTabOrder(value); }

 private:
  void AddBindingControl(TvgControl* control);
  void RemoveBindingControl(TvgControl* control);

  TvgObject* style_ = nullptr;
  TvgControlActionLink* actionLink_ = nullptr;
  bool needStyleLookup_ = true;
  std::vector<TvgControl*> bound_;
  TvgControl* bindingSource_ = nullptr;
  std::string resource_;
};

// The link between a styled control and its action: the caption follows a text control's Text,
// and Enabled, Hint, Visible and OnClick follow the action's while they equal its values.
class TvgControlActionLink : public TActionLink {
  KBL_DECLARE_CLASS(TvgControlActionLink, TActionLink)
 public:
  // Raises EInvalidCast ("Invalid class typecast") for a client that is not a TvgControl.
  explicit TvgControlActionLink(TObject* client);
  // Lets a TCustomAction adjust the hint about to show; answers true.
  virtual bool DoShowHint(WideString& hintText);

  bool IsCaptionLinked() override;
  bool IsEnabledLinked() override;
  bool IsVisibleLinked() override;
  bool IsOnExecuteLinked() override;
  void SetCaption(const std::string& value) override;
  void SetEnabled(bool value) override;
  void SetHint(const std::string& value) override;
  void SetVisible(bool value) override;
  void SetOnExecute(TNotifyEvent value) override;

 protected:
  TvgControl* client_;
};

// True for controls that carry a caption (the text controls, found by class name); their Text
// is read and written through the published property.
bool vgIsTextControl(const TObject* obj);
WideString vgControlText(TObject* obj);
void vgSetControlText(TObject* obj, const WideString& text);

// --- Resource objects

// A named brush; the Name also becomes the ResourceName while that is empty.
class TvgBrushObject : public TvgObject {
  KBL_DECLARE_CLASS(TvgBrushObject, TvgObject)
 public:
  explicit TvgBrushObject(TComponent* owner);
  ~TvgBrushObject() override;
  void SetName(const std::string& name) override;
  TvgBrush* GetBrush() const { return brush_; }
  void SetBrush(TvgBrush* value) { brush_->Assign(value); }

 private:
  TvgBrush* brush_;
};

// A named path.
class TvgPathObject : public TvgObject {
  KBL_DECLARE_CLASS(TvgPathObject, TvgObject)
 public:
  explicit TvgPathObject(TComponent* owner);
  ~TvgPathObject() override;
  void SetName(const std::string& name) override;
  TvgPathData* GetPath() const { return path_; }
  void SetPath(TvgPathData* value) { path_->Assign(value); }

 private:
  TvgPathData* path_;
};

// A named bitmap (1 x 1 when created).
class TvgBitmapObject : public TvgObject {
  KBL_DECLARE_CLASS(TvgBitmapObject, TvgObject)
 public:
  explicit TvgBitmapObject(TComponent* owner);
  ~TvgBitmapObject() override;
  void SetName(const std::string& name) override;
  TvgBitmap* GetBitmap() const { return bitmap_; }
  void SetBitmap(TvgBitmap* value) { bitmap_->Assign(value); }

 private:
  TvgBitmap* bitmap_;
};

// --- Default style

// The default style tree, read on first need from the RCDATA resource "defaultvgstyle"; nullptr
// when the module has none.
TvgObject* vgDefaultStyle();
// Loads it now when not loaded yet and the resource exists.
void vgLoadDefaultStyle();
// Replaces the default style (taking ownership; nullptr frees it). Tests and hosts with their own
// style use it.
void vgSetDefaultStyle(TvgObject* style);
void vgFreeDefaultStyle();
