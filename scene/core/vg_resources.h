// Background, content and the style container: the classes the scene and the styles build on,
// and the unit initialisation that registers the scene engine's classes for streaming.
#pragma once

#include <string>
#include <vector>

#include "classlib/Classes.h"
#include "vg_brush.h"
#include "vg_control.h"

// A control that fills its area: the root of the default style and of forms' scenes.
class TvgBackground : public TvgControl {
  KBL_DECLARE_CLASS(TvgBackground, TvgControl)
 public:
  explicit TvgBackground(TComponent* owner);
  ~TvgBackground() override;
  void Paint() override;
  // Hides the style while the children paint when the fill is in use (or the background is the
  // root of a transparent scene).
  void PaintChildren() override;
  TvgBrush* GetFill() const { return fill_; }
  void SetFill(TvgBrush* value) { fill_->Assign(value); }
  virtual void FillChanged(TObject* sender);
  std::string GetResourceProp() const { return GetResource(); }

 private:
  TvgBrush* fill_;
};

// A transparent placeholder inside styles. Its children stream as children of its parent.
class TvgContent : public TvgVisualObject {
  KBL_DECLARE_CLASS(TvgContent, TvgVisualObject)
 public:
  explicit TvgContent(TComponent* owner) : TvgVisualObject(owner) {}
  void Realign() override;

 private:
  bool inContentRealign_ = false;
};

// A component holding a style tree for scenes, as component text (Resource) or in forms as the
// binary property "ResourcesBin".
class TvgResources : public TComponent {
  KBL_DECLARE_CLASS(TvgResources, TComponent)
 public:
  explicit TvgResources(TComponent* owner);
  ~TvgResources() override;

  void Loaded() override;
  void DefineProperties(TFiler& filer) override;

  // The lines of the style tree's text; assigning rebuilds the tree and notifies the scenes.
  TStrings* GetResource() const { return resource_; }
  void SetResource(TStrings* value) { resource_->Assign(value); }
  // The style tree; nullptr when the text is empty or unreadable.
  TvgObject* GetRoot() const { return root_; }
  // Replaces the style tree (taking it; nullptr: none) and notifies the scenes.
  void SetRootObject(TvgObject* root);
  const std::string& GetFileName() const { return fileName_; }
  // Loads the lines from the file of that name beside the host executable, else relative to
  // the current folder; nothing when neither exists.
  void SetFileName(const std::string& value);

  void AddSceneLink(IvgScene* scene);
  void RemoveSceneLink(IvgScene* scene);
  // Every linked scene re-applies its styles.
  void NotifyScenes();

 private:
  void ResourceChanged(TObject* sender);
  void ReplaceRoot(TvgObject* root);
  void ReadResources(TStream& stream);
  void WriteResources(TStream& stream);
  void LoadFromFileName();

  TStringList* resource_;
  TvgObject* root_ = nullptr;
  std::vector<IvgScene*> scenes_;
  std::string fileName_;
};

// What a frame needs of the scene whose root it shows; the scene window implements it.
class IvgFrameSource {
 public:
  // The scene's first root object; nullptr when it has none.
  virtual TvgObject* GetFrameRoot() = 0;
  // The frame that shows the root now; nullptr when none does.
  virtual TvgVisualObject* GetFrame() = 0;
  virtual void SetFrame(TvgVisualObject* frame) = 0;
  // Puts the root back into the scene's own tree.
  virtual void ReturnRoot(TvgObject* root) = 0;
  // Frees the bitmap the scene keeps of its frame.
  virtual void FreeFrameBitmap() = 0;

 protected:
  virtual ~IvgFrameSource() = default;
};

// A visual object that shows another scene's root inside this scene. The root stays the other
// scene's: it is never written with the frame.
class TvgFrame : public TvgVisualObject {
  KBL_DECLARE_CLASS(TvgFrame, TvgVisualObject)
 public:
  explicit TvgFrame(TComponent* owner);
  ~TvgFrame() override;

  void Notification(TComponent* component, TOperation operation) override;
  void GetChildren(const TGetChildProc& proc, TComponent* root) override {}
  void Paint() override;
  // The scene (a component implementing IvgFrameSource) whose root is shown; nullptr for none.
  TComponent* GetSceneObject() const { return sceneObject_; }
  void SetSceneObject(TComponent* value);
  // True while another frame still shows the scene's root and this one waits for it.
  bool GetPending() const { return pending_; }

 private:
  IvgFrameSource* Source() const { return dynamic_cast<IvgFrameSource*>(sceneObject_); }
  void TakeRoot();
  void ReleaseRoot(bool sourceGoing);

  TComponent* sceneObject_ = nullptr;
  bool pending_ = false;
  TvgBitmap* preview_ = nullptr;
};

// Registers the scene engine's classes with the class registry and the category registry; runs
// once per process (later calls do nothing). Scene objects call it when they are created.
void vgInitSceneUnit();
