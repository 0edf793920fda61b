// The portable heart of the scene window: root objects, queued update rects, painting through the
// roots into the back buffer, mouse and keyboard routing (hit testing, capture, hover, focus, tab
// order) and the design-mode selection. The window itself (Win32) sits behind IvgSceneHost, so
// this header names no window types and can be included beside the class library's controls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vg_canvas.h"
#include "vg_designer.h"
#include "vg_registry.h"
#include "vg_sceneintf.h"
#include "vg_types.h"

class TvgObject;
class TvgResources;
class TvgVisualObject;
struct TvgDragObject;

// True when the object is a size grip (it answers IvgSizeGrip).
bool vgIsSizeGrip(TObject* obj);

// The drop target of the drag in progress, shared by the OLE and the class-library drags of every
// scene; nullptr when none (or when it was freed).
TvgVisualObject* vgCurrentDropTarget();

// Frees the scene unit's shared objects: the open-popup list, the animation ticker, the default
// style, the drop target reference, the design clipboard text and the registries (scene objects,
// scenes, class categories, free notifications, translation). The colour names are a constant
// table. The Win32 scene window runs it when the module unloads and no scene is left.
void vgFinalizeSceneUnit();

// What the engine needs of its window. All calls come from the GUI thread.
class IvgSceneHost {
 public:
  // The window exists.
  virtual bool HostHasWindow() = 0;
  virtual bool HostLoading() = 0;
  virtual bool HostDestroying() = 0;
  // Client size in pixels.
  virtual int32_t HostWidth() = 0;
  virtual int32_t HostHeight() = 0;
  // The window is a child of a form (the layered output goes to that form).
  virtual bool HostParentIsForm() = 0;
  // Invalidates an integer rect of the window without erasing.
  virtual void HostInvalidate(int32_t left, int32_t top, int32_t right, int32_t bottom) = 0;
  // Paints the queued rects into the window now, outside a WM_PAINT (the engine's Draw on the
  // window's DC); false when that cannot be done, and the caller invalidates them instead.
  virtual bool HostPaintNow() { return false; }
  // Posts the scene's own update message to the window.
  virtual void HostPostUpdate() = 0;
  // Calls the engine's QueueLaterRects once, after about `milliseconds` (a timer of the window,
  // which comes after the waiting messages); false when that cannot be done.
  virtual bool HostQueueLater(int32_t milliseconds) { return false; }
  // Puts the buffer on the parent form as its per-pixel-alpha layered image.
  virtual void HostPublishLayered() = 0;
  // Paints the parent's look under the queued rects into the buffer (transparent scenes).
  virtual void HostPaintParent(const std::vector<TvgRect>& rects) = 0;
  virtual void HostSetMouseCapture(bool capture) = 0;
  // The window takes the keyboard focus.
  virtual void HostTakeFocus() = 0;
  virtual TvgPoint HostClientToScreen(const TvgPoint& p) = 0;
  virtual void HostSetCursor(int32_t cursor) = 0;
  virtual void HostSetHint(const WideString& hint) = 0;
  // The owner control's bounds, and the cursor in its client coordinates; false without one.
  virtual bool HostOwnerBounds(int32_t& left, int32_t& top, int32_t& width, int32_t& height) = 0;
  virtual void HostSetOwnerBounds(int32_t left, int32_t top, int32_t width, int32_t height) = 0;
  virtual TvgPoint HostCursorInOwner() = 0;
  // Esc: the first modal form of the owner chain gets ModalResult 2; true when there was one.
  virtual bool HostCancelModalOwner() = 0;
  // Design mode: shows the design menu at a client point and runs the chosen item.
  virtual void HostShowDesignMenu(const TvgDesignMenuItem& menu, const TvgPoint& clientPoint) {}
  // Design mode: asks for a file to open (filter "Description|*.a;*.b"); false when cancelled.
  virtual bool HostOpenFile(const std::string& filter, std::string& fileName) { return false; }
  // Design mode: the tab-order editor for the children of `parent`.
  virtual void HostEditTabOrder(TvgVisualObject* parent) {}

 protected:
  virtual ~IvgSceneHost() = default;
};

// The scene's state and behaviour; the window class forwards its IvgScene operations and its
// messages here. `self` is the IvgScene the objects are given (the window), `control` the
// component that answers GetSceneControl.
class TvgSceneEngine : public IvgScene {
 public:
  TvgSceneEngine(IvgSceneHost* host, IvgScene* self, TComponent* control, bool designTime);
  ~TvgSceneEngine() override;
  TvgSceneEngine(const TvgSceneEngine&) = delete;
  TvgSceneEngine& operator=(const TvgSceneEngine&) = delete;

  // Frees every root object and the list (the destructor calls it too).
  void DeleteChildren();
  int32_t GetCount() const { return static_cast<int32_t>(children_.size()); }
  TvgObject* GetChild(int32_t index) const;
  const std::vector<TvgObject*>& Children() const { return children_; }
  // Moves a root to `index` in paint order (clamped); nothing for an object that is no root.
  void MoveRoot(TvgObject* obj, int32_t index);
  // Fits the first root to the client size (over its Scale; sides swapped at +-90 / +-270).
  void RealignRoot();
  // The buffer follows the window's size, then RealignRoot.
  void Resized();
  // Paints the queued rects; see the source for the steps.
  virtual void Draw();
  // Replaces the queue (WM_PAINT hands its region's rectangles in). Not while Draw runs: see
  // DeferUpdateRects.
  void SetUpdateRects(const std::vector<TvgRect>& rects) { updateRects_ = rects; }
  // Draw is walking the queue.
  bool IsDrawing() const { return drawing_; }
  // Areas that asked to be painted while Draw runs (WM_PAINT served from a message loop inside
  // a paint, AddUpdateRect from a paint hook): queued again through AddUpdateRect once Draw is
  // done; the walk in progress keeps its own rects.
  void DeferUpdateRects(const std::vector<TvgRect>& rects);
  // While kept, Draw leaves the deferred areas for QueueDeferredRects (WM_PAINT validates the
  // window after Draw: they are queued after that).
  void KeepDeferredRects(bool keep) { keepDeferred_ = keep; }
  // Queues the deferred areas, or leaves them for QueueLaterRects: a run of paints each asking
  // for another is served at once a few times, then about once a frame (HostQueueLater), so
  // that a paint hook asking every time neither keeps the window painting without a pause nor
  // loses what is asked for meanwhile.
  void QueueDeferredRects();
  // The host's call for the deferred areas left for later: queues them all.
  void QueueLaterRects();
  const std::vector<TvgRect>& UpdateRects() const { return updateRects_; }
  int32_t DrawCount() const { return drawCount_; }
  // Between these (nested), the areas objects ask to repaint are gathered instead of being
  // invalidated one by one; the last end paints them at once, neighbours joined, or invalidates
  // them when the window cannot paint now. A playing loop moves its heads 40 times a second:
  // each invalidation, the paint message and its update region cost the window system several
  // round trips, more than the painting itself. See TvgUpdateBatch.
  void BeginUpdateBatch() { ++batchDepth_; }
  void EndUpdateBatch();
  // Draw would paint now: not inside a paint, and no frame shows the root instead.
  bool CanDrawNow() const { return (designTime_ || frame_ == nullptr) && !drawing_ && canvas_ != nullptr; }

  // --- Properties
  TvgBrush* GetFill() const { return fill_; }
  void SetFill(TvgBrush* value);
  bool GetTransparencyProp() const { return transparency_; }
  void SetTransparency(bool value);
  TvgVisualObject* GetActiveControlProp() const { return activeControl_; }
  void SetActiveControl(TvgVisualObject* value);
  bool GetShowUpdateRects() const { return showUpdateRects_; }
  void SetShowUpdateRects(bool value) { showUpdateRects_ = value; }
  void SetAnimatedCaret(bool value) { animatedCaret_ = value; }
  // Target of the flush while WM_PAINT is served.
  TvgDC DrawDC = nullptr;
  // When set, replaces putting the buffer on the screen.
  std::function<void()> OnFlush;
  TvgVisualObject* GetHovered() const;
  TvgVisualObject* GetFrame() const { return frame_; }
  void SetFrame(TvgVisualObject* frame) { frame_ = frame; }
  int32_t SavedCursor = 0;

  // --- Input (client pixels; button 0 left, 1 right, 2 middle; shift as the set's bits)
  TvgVisualObject* ObjectAtPoint(float x, float y);
  void MouseDown(int32_t button, uint32_t shift, int32_t x, int32_t y);
  void MouseMove(uint32_t shift, int32_t x, int32_t y);
  void MouseUp(int32_t button, uint32_t shift, int32_t x, int32_t y);
  bool MouseWheel(uint32_t shift, int32_t delta, bool handled);
  void MouseLeave();
  void KeyDown(uint16_t& key, WideChar& keyChar, uint32_t shift);
  void KeyUp(uint16_t& key, WideChar& keyChar, uint32_t shift);
  // A character of WM_CHAR, as the scene turns it into KeyDown/KeyUp, with the keyboard's shift
  // state at that time (Ctrl+C arrives as "c" with Ctrl held).
  void CharMessage(WideChar ch, uint32_t shift = 0);
  // The hint for a point: true with text and cursor rect when an object shows one.
  bool HintAt(float x, float y, WideString& text, TvgRect& rect);
  bool GetDragging() const { return dragging_; }
  bool GetResizing() const { return resizing_; }

  // --- Drag and drop (client points; the current drop target is shared by every scene)
  // A drag of the class library passes over the scene (state: 0 enter, 1 leave, 2 move); answers
  // whether the drop would be taken. Dragging an object over itself is refused.
  bool NativeDragOver(const TvgDragObject& data, const TvgPoint& p, int32_t state);
  // The drop: the current target takes it when it still accepts this data; then none is current.
  // Answers whether it was taken.
  bool NativeDragDrop(const TvgDragObject& data, const TvgPoint& p);
  // An OLE drag may enter: the scene's first root is a visual object.
  bool CanAcceptDrag();
  // An OLE drag over the scene: the target under the point becomes current; answers whether
  // there is one.
  bool DragOverPoint(const TvgDragObject& data, const TvgPoint& p);
  // The OLE drag left the scene: the current target hears of it and none is current.
  void DragLeaveScene();
  // The OLE drop, as NativeDragDrop.
  bool DropAt(const TvgDragObject& data, const TvgPoint& p);

  // --- Design mode (the scene in a design environment; see vg_scenedesign.cpp)
  // Unchanged without snapping to the grid or with step 0, else truncated to the grid.
  float SnapToGrid(float value) const;
  // A point of the selection's local coordinates moved onto the edges of the snap objects it
  // lies within 4 units of (later objects winning); unchanged without snapping to lines.
  TvgPoint SnapToLines(const TvgPoint& p);
  bool DesignSnapToGrid = false;
  bool DesignSnapToLines = true;
  bool DesignSnapGridShow = false;
  float DesignSnapGridSize = 1.0f;
  bool DesignMenuEnabled = true;
  // Fired when a design press selects an object or grabs a handle.
  std::function<void()> OnDesignSelect;
  const std::vector<TvgVisualObject*>& MultiSelection() const { return multiSelection_; }
  const std::vector<TvgVisualObject*>& SnapObjects() const { return snapObjects_; }
  bool GetDesignMoving() const { return designMove_; }
  // The design handle under the mouse: -1 none, 0..3 corners, 4..7 side middles, 8 rotation.
  int32_t GetHotHandle() const { return hotHandle_; }
  // The scene takes the mouse from the design environment: a design drag runs, an object is
  // under the point or the point is inside the selection.
  bool DesignHitTest(float x, float y);
  // The design menu for the current selection, opened at a client point (objects inserted from
  // it are placed there).
  TvgDesignMenuItem BuildDesignMenu(const TvgPoint& clientPoint);
  // The menu's commands on the selection.
  void DesignDeleteSelection();
  void DesignToggleHide();
  void DesignEditStyle(bool custom);
  void DesignLoadFromFile();
  void DesignCopy();
  void DesignPaste();

  // --- IvgScene
  void AddObject(TvgObject* obj) override;
  void RemoveObject(TvgObject* obj) override;
  void BeginDrag() override;
  void BeginResize() override;
  void AddUpdateRect(const TvgRect& r) override;
  // Design time: a new object of the registered scene class of that name, in the selection (or
  // as the first root of an empty scene), named by the designer hook and selected.
  void InsertObject(const std::string& className) override;
  TvgVisualObject* GetActiveControl() override { return activeControl_; }
  bool GetDisableUpdate() override { return disableUpdate_; }
  void SetDisableUpdate(bool value) override { disableUpdate_ = value; }
  bool GetDesignTime() override { return designTime_; }
  TvgCanvas* GetCanvas() override { return canvas_.get(); }
  TvgObject* GetRoot() override { return children_.empty() ? nullptr : children_.front(); }
  TComponent* GetOwner() const override { return control_ != nullptr ? control_->GetOwner() : nullptr; }
  TComponent* GetSceneControl() override { return control_; }
  TvgResources* GetStyle() override { return style_; }
  void SetStyle(TvgResources* value) override;
  bool GetTransparency() override { return transparency_; }
  void UpdateStyle() override;
  void Notification(TComponent* component, TOperation operation) override;
  TvgVisualObject* GetSelected() override { return selected_; }
  TvgVisualObject* GetDesignPlaceObject() override { return designPlaceObject_; }
  int32_t GetUpdateRectsCount() override { return static_cast<int32_t>(updateRects_.size()); }
  TvgRect GetUpdateRect(int32_t index) override;
  void SetCaptured(TvgVisualObject* value) override;
  TvgVisualObject* GetCaptured() override;
  // The host window lost the mouse capture: the captured object hears of it and is let go.
  void CaptureLost();
  void SetFocused(TvgVisualObject* value) override;
  TvgVisualObject* GetFocused() override;
  void SetDesignDoubleClicked(TvgVisualObject* value) override { designDoubleClicked_ = value; }
  TvgVisualObject* GetDesignDoubleClicked() const { return designDoubleClicked_; }
  TvgPoint GetMousePos() override { return mousePos_; }
  TvgPoint LocalToScreen(const TvgPoint& p) override;
  void BeginNativeDrag(TvgObject* source, TvgBitmap* image) override {}
  void SetSelected(TvgVisualObject* value) override;
  bool GetAnimatedCaret() override { return animatedCaret_; }

 private:
  void FillChanged(TObject* sender);
  void PaintBackground();
  void PaintRoots();
  void PaintDesignOverlays();
  // Answers whether `obj` (none: false) is still the hovered object once the old one left.
  bool SetHovered(TvgVisualObject* obj);
  void TabNavigate(bool backwards);
  void DesignMouseDown(int32_t button, uint32_t shift);
  void DesignMouseMove(uint32_t shift);
  void DesignMouseUp();
  int32_t SelectionHandleAt(const TvgPoint& local);
  void DesignMove(bool alt);
  void DesignResize();
  void UpdateHotHandle();
  void RepaintHandle(int32_t handle);
  void CollectSnapObjects();
  void PaintSnapLines();
  void PaintPlaceLabel();
  void TellSelection();
  void TellModified();
  void SelectDesign(TvgVisualObject* obj);
  // Names the objects of a pasted or loaded tree through the designer hook and gives them to
  // the scene's owner; then adds the tree to the selection or the first root.
  void AdoptDesignTree(TvgObject* tree);

  IvgSceneHost* host_;
  IvgScene* self_;
  TComponent* control_;
  bool designTime_;
  bool destroying_ = false;
  std::unique_ptr<TvgCanvas> canvas_;
  bool disableUpdate_ = false;
  std::vector<TvgObject*> children_;
  TvgVisualObject* designDoubleClicked_ = nullptr;
  TvgVisualObject* selected_ = nullptr;
  // Input holders: an object removed from the scene before it is freed does not tell the scene.
  TvgSceneObjectRef<TvgVisualObject> captured_;
  TvgSceneObjectRef<TvgVisualObject> hovered_;
  TvgSceneObjectRef<TvgVisualObject> focused_;
  std::vector<TvgVisualObject*> multiSelection_;
  TvgVisualObject* designPlaceObject_ = nullptr;
  std::vector<TvgVisualObject*> snapObjects_;
  int32_t hotHandle_ = -1;
  bool menuPointSet_ = false;
  TvgPoint menuPoint_;
  TvgPoint rawMousePos_, mousePos_, downPos_;
  bool designMove_ = false;
  int32_t designHandle_ = -1;  // 0..7 resize handles, 8 rotation
  int32_t resizeW_ = 0, resizeH_ = 0;
  bool dragging_ = false;
  bool resizing_ = false;
  TvgBrush* fill_;
  bool transparency_ = false;
  TvgVisualObject* frame_ = nullptr;
  bool drawing_ = false;
  int32_t drawCount_ = 0;
  TvgResources* style_ = nullptr;
  bool showUpdateRects_ = false;
  TvgVisualObject* activeControl_ = nullptr;
  bool animatedCaret_ = true;
  std::vector<TvgRect> updateRects_;
  std::vector<TvgRect> deferredRects_;
  bool keepDeferred_ = false;
  // Draw passes in a row in which something asked for a repaint; past the most, what is asked
  // for while drawing waits for the host's next frame (QueueLaterRects).
  static constexpr int32_t kMostPaintsAskedByPaints = 4;
  static constexpr int32_t kFrameMilliseconds = 16;
  int32_t paintsAskedByPaints_ = 0;
  bool askedWhileDrawing_ = false;
  bool queuedLater_ = false;  // the host will call QueueLaterRects
  int32_t batchDepth_ = 0;
  std::vector<TvgRect> batchRects_;
};

// Gathers a scene's repaint requests for the time it lives and paints them at its end
// (TvgSceneEngine::BeginUpdateBatch).
class TvgUpdateBatch {
 public:
  explicit TvgUpdateBatch(TvgSceneEngine& engine) : engine_(engine) { engine_.BeginUpdateBatch(); }
  ~TvgUpdateBatch() {
    // A failing paint at the end of a block left by an error is not raised over it.
    try {
      engine_.EndUpdateBatch();
    } catch (...) {
    }
  }
  TvgUpdateBatch(const TvgUpdateBatch&) = delete;
  TvgUpdateBatch& operator=(const TvgUpdateBatch&) = delete;

 private:
  TvgSceneEngine& engine_;
};
