// TvgCustomScene / TvgScene: the Windows control that hosts a tree of scene objects. It owns the
// scene engine (roots, update rects, painting, input routing, design selection) and serves the
// window's messages: WM_PAINT and the scene's own update message paint the queued areas into the
// back buffer and put them on the screen, or, for a transparent scene on a form, publish the
// buffer as the form's per-pixel-alpha layered image. Its other sides live in files of their own:
// drag and drop (vg_scene_dragdrop.cpp), the input method (vg_scene_ime.cpp), painting beyond its
// window (vg_scene_paint.cpp) and design mode (vg_scene_design.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Controls.h"
#include "vg_resources.h"
#include "vg_sceneengine.h"

// The scene's own message, posted to itself to paint the queued rects once.
constexpr uint32_t WM_VG_UPDATE = 0x0400 + 123;

class TvgCustomScene : public TCustomControl, public IvgScene, public IvgFrameSource, private IvgSceneHost {
  KBL_DECLARE_CLASS(TvgCustomScene, TCustomControl)
 public:
  explicit TvgCustomScene(TComponent* owner);
  ~TvgCustomScene() override;

  TvgSceneEngine& Engine() { return *engine_; }
  // Root objects.
  int32_t GetCount() const { return engine_->GetCount(); }
  TvgObject* GetChild(int32_t index) const { return engine_->GetChild(index); }
  void DeleteChildren() { const TComponentFrame code(this); engine_->DeleteChildren(); }
  void RealignRoot() { const TComponentFrame code(this); engine_->RealignRoot(); }
  // Paints whatever is queued now (the update message and WM_PAINT call it); the objects' paint
  // handlers run the scene's code.
  virtual void Draw() {
    const TComponentFrame code(this);
    engine_->Draw();
  }

  TvgBrush* GetFill() const { return engine_->GetFill(); }
  void SetFill(TvgBrush* value) { engine_->SetFill(value); }
  bool GetTransparencyProp() const { return engine_->GetTransparencyProp(); }
  void SetTransparency(bool value);
  // The control focused when set (and when the scene has loaded); nullptr for none.
  TvgControl* GetActiveControlProp() const { return dynamic_cast<TvgControl*>(engine_->GetActiveControlProp()); }
  void SetActiveControl(TvgControl* value);
  // The scene's style source; setting it re-applies the styles.
  TvgResources* GetStyleProp() const { return engine_->GetStyle(); }
  void SetStyleProp(TvgResources* value) { TvgCustomScene::SetStyle(value); }
  bool GetShowUpdateRects() const { return engine_->GetShowUpdateRects(); }
  void SetShowUpdateRects(bool value) { engine_->SetShowUpdateRects(value); }
  void SetAnimatedCaret(bool value) { engine_->SetAnimatedCaret(value); }
  // When set, replaces putting the buffer on the screen (queued rects are posted as messages).
  void SetOnFlush(std::function<void()> handler) { engine_->OnFlush = std::move(handler); }

  // --- Class library overrides
  void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) override;
  void Loaded() override;
  // The design-time snap settings stream beside the published properties as Booleans
  // ("DesignSnapGridShow", "DesignSnapToGrid", "DesignSnapToLines"); the grid display is taken
  // from a stream only at design time.
  void DefineProperties(TFiler& filer) override;
  void WndProc(TMessage& message) override;
  // The class library's update, then every visible control of the tree that has an action
  // updates it.
  void InitiateAction() override;
  // The class library's children, then the root objects whose Stored flag is set.
  void GetChildren(const TGetChildProc& proc, TComponent* root) override;

  // --- IvgScene
  // Those that run the objects' code (focus, capture, styles, roots coming and going) are
  // entered directly, not through the window: a frame marks the scene's code, so that a form of
  // the scene released by a handler stays whole until the scene's code returns.
  void AddObject(TvgObject* obj) override { const TComponentFrame code(this); engine_->AddObject(obj); }
  void RemoveObject(TvgObject* obj) override { const TComponentFrame code(this); engine_->RemoveObject(obj); }
  void BeginDrag() override { engine_->BeginDrag(); }
  void BeginResize() override { engine_->BeginResize(); }
  void AddUpdateRect(const TvgRect& r) override { engine_->AddUpdateRect(r); }
  void InsertObject(const std::string& className) override {
    const TComponentFrame code(this);
    engine_->InsertObject(className);
  }
  TvgVisualObject* GetActiveControl() override { return engine_->GetActiveControl(); }
  bool GetDisableUpdate() override { return engine_->GetDisableUpdate(); }
  void SetDisableUpdate(bool value) override { engine_->SetDisableUpdate(value); }
  bool GetDesignTime() override { return engine_->GetDesignTime(); }
  TvgCanvas* GetCanvas() override { return engine_->GetCanvas(); }
  TvgObject* GetRoot() override { return engine_->GetRoot(); }
  TComponent* GetOwner() const override { return TComponent::GetOwner(); }
  TComponent* GetSceneControl() override { return this; }
  TvgResources* GetStyle() override { return engine_->GetStyle(); }
  void SetStyle(TvgResources* value) override { const TComponentFrame code(this); engine_->SetStyle(value); }
  bool GetTransparency() override { return engine_->GetTransparency(); }
  void UpdateStyle() override { const TComponentFrame code(this); engine_->UpdateStyle(); }
  void Notification(TComponent* component, TOperation operation) override;
  TvgVisualObject* GetSelected() override { return engine_->GetSelected(); }
  TvgVisualObject* GetDesignPlaceObject() override { return engine_->GetDesignPlaceObject(); }
  int32_t GetUpdateRectsCount() override { return engine_->GetUpdateRectsCount(); }
  TvgRect GetUpdateRect(int32_t index) override { return engine_->GetUpdateRect(index); }
  void SetCaptured(TvgVisualObject* value) override { const TComponentFrame code(this); engine_->SetCaptured(value); }
  TvgVisualObject* GetCaptured() override { return engine_->GetCaptured(); }
  void SetFocused(TvgVisualObject* value) override { const TComponentFrame code(this); engine_->SetFocused(value); }
  TvgVisualObject* GetFocused() override { return engine_->GetFocused(); }
  void SetDesignDoubleClicked(TvgVisualObject* value) override { engine_->SetDesignDoubleClicked(value); }
  TvgPoint GetMousePos() override { return engine_->GetMousePos(); }
  TvgPoint LocalToScreen(const TvgPoint& p) override { return engine_->LocalToScreen(p); }
  // Starts a class-library drag of the object, carried by a zero-size control of the scene; the
  // object's DragEnd runs when it ends. The image is not kept.
  void BeginNativeDrag(TvgObject* source, TvgBitmap* image) override;
  void SetSelected(TvgVisualObject* value) override { const TComponentFrame code(this); engine_->SetSelected(value); }
  bool GetAnimatedCaret() override { return engine_->GetAnimatedCaret(); }

  // --- Drag and drop
  // The scene's OLE drop target (an IDropTarget) while its window exists; nullptr otherwise.
  void* GetOleDropTarget() const { return dropTarget_; }
  // The control that carries the scene's class-library drags; nullptr before the first.
  TCustomControl* GetNativeDragControl() const { return nativeDragControl_; }

  // --- IvgFrameSource (a TvgFrame shows the first root inside another scene)
  // The root lent to the frame while one shows it, else the first root.
  TvgObject* GetFrameRoot() override;
  TvgVisualObject* GetFrame() override { return engine_->GetFrame(); }
  void SetFrame(TvgVisualObject* frame) override;
  void ReturnRoot(TvgObject* root) override;
  // The scene keeps no picture of its frame: nothing to free.
  void FreeFrameBitmap() override {}

 protected:
  void CreateHandle() override;
  // The window also becomes an OLE drop target.
  void CreateWnd() override;
  // All painting goes through Draw.
  void Paint() override {}
  void MouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;
  void MouseMove(TShiftState shift, int32_t x, int32_t y) override;
  bool DoMouseWheel(TShiftState shift, int32_t delta, TPoint mousePos) override;

 private:
  void ServePaint(TMessage& message);
  // Draws the queued rects onto the window through `dc` and gives the DC back; then `release`
  // ends what the caller began, before the areas asked for meanwhile are queued, also when Draw
  // fails.
  void DrawThrough(TvgDC dc, const std::function<void()>& release);
  // The class-library drag handlers (OnDragOver, OnDragDrop) and the end of a native drag.
  void SceneDragOver(TObject* sender, TObject* source, int32_t x, int32_t y, TDragState state, bool& accept);
  void SceneDragDrop(TObject* sender, TObject* source, int32_t x, int32_t y);
  void NativeDragEnded(TObject* sender, TObject* target, int32_t x, int32_t y);
  void RegisterDropTarget();
  void RevokeDropTarget();
  // The input method: places the composition window; feeds a composed result in (true).
  void ImeStartComposition();
  bool ImeComposition(TMessage& message);
  // Paints the parent's look under the queued rects into the buffer (transparent scenes).
  void PaintParentLook(const std::vector<TvgRect>& rects);
  void ServeUpdateMessage();
  void PublishLayered();

  // --- IvgSceneHost
  bool HostHasWindow() override { return HandleAllocated(); }
  bool HostLoading() override { return HasState(csLoading); }
  bool HostDestroying() override { return HasState(csDestroying); }
  int32_t HostWidth() override { return TControl::GetWidth(); }
  int32_t HostHeight() override { return TControl::GetHeight(); }
  bool HostParentIsForm() override;
  void HostInvalidate(int32_t left, int32_t top, int32_t right, int32_t bottom) override;
  bool HostPaintNow() override;
  void HostPostUpdate() override;
  bool HostQueueLater(int32_t milliseconds) override;
  void HostPublishLayered() override { PublishLayered(); }
  void HostPaintParent(const std::vector<TvgRect>& rects) override { PaintParentLook(rects); }
  void HostSetMouseCapture(bool capture) override;
  void HostTakeFocus() override;
  TvgPoint HostClientToScreen(const TvgPoint& p) override;
  void HostSetCursor(int32_t cursor) override { TControl::SetCursor(static_cast<TCursor>(cursor)); }
  void HostSetHint(const WideString& hint) override;
  bool HostOwnerBounds(int32_t& left, int32_t& top, int32_t& width, int32_t& height) override;
  void HostSetOwnerBounds(int32_t left, int32_t top, int32_t width, int32_t height) override;
  TvgPoint HostCursorInOwner() override;
  bool HostCancelModalOwner() override;
  void HostShowDesignMenu(const TvgDesignMenuItem& menu, const TvgPoint& clientPoint) override;
  bool HostOpenFile(const std::string& filter, std::string& fileName) override;
  void HostEditTabOrder(TvgVisualObject* parent) override;

  std::unique_ptr<TvgSceneEngine> engine_;
  bool loadedTimer_ = false;
  TCustomControl* nativeDragControl_ = nullptr;
  void* dropTarget_ = nullptr;  // the registered IDropTarget
  TvgSceneObjectRef<TvgObject> lentRoot_;  // the first root while a frame shows it
  bool oleInitialized_ = false;
  bool releasingCapture_ = false;
  // Areas invalidated since the window was last validated (a few): a request inside one of them
  // asks the window system for nothing more.
  std::vector<TRect> invalidated_;
};

// The published scene that forms and the plug-in editor place.
class TvgScene : public TvgCustomScene {
  KBL_DECLARE_CLASS(TvgScene, TvgCustomScene)
 public:
  explicit TvgScene(TComponent* owner) : TvgCustomScene(owner) {}
};

// The live-scene count (scenes created and not yet freed).
int32_t vgLiveSceneCount();
// Registers TvgScene with the class registry (with the scene objects' classes); runs at start-up.
void vgRegisterSceneClasses();
