// The visual object: a scene object with geometry, layout of aligned children, cached absolute
// matrix, opacity and enabled state, update rects, painting through the abstract canvas, hit
// testing, mouse, keyboard, focus and drag input, and the triggers those fire.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/InputTypes.h"
#include "vg_geometry.h"
#include "vg_object.h"
#include "vg_types.h"

class TvgBitmap;
class TvgCanvas;

KBL_ENUM(TvgAlign, vaNone, vaTopLeft, vaTopRight, vaBottomLeft, vaBottomRight, vaTop, vaLeft, vaRight, vaBottom,
         vaMostTop, vaMostBottom, vaMostLeft, vaMostRight, vaClient, vaContents, vaCenter, vaVertCenter,
         vaHorzCenter, vaHorizontal, vaVertical, vaScale, vaFit, vaFitLeft, vaFitRight)
KBL_ENUM(TvgDragMode, vgDragManual, vgDragAutomatic)

// What a drag carries: the dragged scene object, dropped file names or other data.
struct TvgDragObject {
  TObject* Source = nullptr;
  std::vector<WideString> Files;
  Variant Data;
};

// Text objects with a caret implement this, so that the scene places the input method's
// composition window at the caret.
class IvgImeCaret {
 public:
  // The caret's offset from the object's origin in local units, each term truncated: a text box
  // answers its content rect's left plus the caret's x, and the content rect's top; a memo the
  // caret's point in its text.
  virtual TvgPoint GetImeCaretOffset() = 0;

 protected:
  ~IvgImeCaret() = default;
};

using TOnPaintEvent = TMethod<void(TObject* sender, TvgCanvas* canvas, const TvgRect& rect)>;
using TvgMouseEvent = TMethod<void(TObject* sender, TMouseButton button, TShiftState shift, float x, float y)>;
using TvgMouseMoveEvent = TMethod<void(TObject* sender, TShiftState shift, float x, float y, float dx, float dy)>;
using TvgMouseWheelEvent = TMethod<void(TObject* sender, TShiftState shift, int32_t wheelDelta, bool& handled,
                                        const TvgPoint& mousePos)>;
using TvgKeyEvent = TMethod<void(TObject* sender, uint16_t& key, WideChar& keyChar, TShiftState shift)>;
using TvgCanFocusedEvent = TMethod<void(TObject* sender, bool& allow)>;
using TvgDragEnterEvent = TMethod<void(TObject* sender, const TvgDragObject& data, const TvgPoint& point)>;
using TvgDragOverEvent = TMethod<void(TObject* sender, const TvgDragObject& data, const TvgPoint& point,
                                      bool& accept)>;
using TvgDragDropEvent = TvgDragEnterEvent;

// Answers true for objects the design mode outlines (installed by the design-mode code).
using TvgDesignOutlineHook = bool (*)(TComponent* sceneOwner, TvgObject* obj);
void vgSetDesignOutlineHook(TvgDesignOutlineHook hook);
class TvgVisualObject;
// Paints the dashed grey frame an object shows in the designer, half a unit inside its bounds;
// nothing without a canvas.
void vgPaintDesignFrame(TvgVisualObject& obj);
// Two areas to repaint that are better repainted as their union: it holds at most half as
// many pixels again as the two (an object moved by a little).
bool vgRectsCloseTogether(const TvgRect& a, const TvgRect& b);
// How many times so far an object's kept absolute matrix was marked stale, all objects together:
// what a change reaches, for tests and benchmarks to count.
uint64_t vgAbsoluteMatrixMarks();
// The process-wide switch that suppresses focus effects (off by default).
bool& vgDisableFocusEffects();
// Shows `menu` (a TPopupMenu of the class library) at a screen point for `popupComponent`,
// which becomes the menu's popup component, and returns once it has closed. Installed by the
// Windows scene window; without it (or for a component that is no menu) nothing opens.
using TvgPopupMenuHook = void (*)(TComponent* menu, TComponent* popupComponent, int32_t x, int32_t y);
void vgSetPopupMenuHook(TvgPopupMenuHook hook);

class TvgVisualObject : public TvgObject {
  KBL_DECLARE_CLASS(TvgVisualObject, TvgObject)
 public:
  explicit TvgVisualObject(TComponent* owner);
  ~TvgVisualObject() override;

  // --- Tree (overrides)
  void Loaded() override;
  void SetScene(IvgScene* scene) override;
  // Forgets a PopupMenu that goes.
  void Notification(TComponent* component, TOperation operation) override;

  // --- Geometry
  // The place in the parent: a place its parent owes it (SetPlaceOnDemand) is taken first.
  TvgPosition* GetPosition() const {
    AskPlace();
    return position_;
  }
  void SetPosition(TvgPosition* value) {
    AskPlace();  // a place given later is the object's own
    position_->Assign(value);
  }
  TvgPosition* GetScale() const { return scale_; }
  void SetScale(TvgPosition* value) { scale_->Assign(value); }
  TvgPosition* GetSkew() const { return skew_; }
  TvgPosition* GetRotateCenter() const { return rotateCenter_; }
  void SetRotateCenter(TvgPosition* value) { rotateCenter_->Assign(value); }
  float GetRotateAngle() const { return rotateAngle_; }
  // Stores the angle normalised to [-180, 360) and recomputes the matrix.
  void SetRotateAngle(float angle);
  float GetWidth() const { return width_; }
  float GetHeight() const { return height_; }
  // At design time a negative size is made positive and negates the scale; at run time it is
  // stored as given.
  virtual void SetWidth(float value);
  virtual void SetHeight(float value);
  virtual void SetBounds(float x, float y, float width, float height);
  // r in the parent's children space.
  virtual void SetBoundsRect(const TvgRect& r);
  // The current size becomes the size the children were last laid out for.
  void RememberAlignedSize() {
    lastWidth_ = width_;
    lastHeight_ = height_;
  }
  // Size and last aligned size without repaint or layout.
  void SetSizeNoAlign(float width, float height);
  // Moves the object to `p` in its parent as setting its position does, leaving out the repaint
  // and the marking of the areas above as stale: for a parent that moves many children at once
  // (a list's rows) and then calls ChildrenMoved once for all of them.
  void MoveQuietly(const TvgPoint& p);
  // After children moved quietly: the areas of this object and above marked stale, the effects
  // marked and this object's area repainted, which holds every place the children left and took
  // when it clips them.
  void ChildrenMoved();
  // Moves the object to `p` as setting its position does (its old and new areas repainted),
  // leaving what its children keep of their places on the scene (matrices, areas) to them: for a
  // parent whose every child is placed on demand (SetPlaceOnDemand), each of which marks its own
  // as stale when it is next read. A scroll over thousands of a list's rows then costs what is
  // read (the rows shown), not their number.
  void MoveOverChildren(const TvgPoint& p);
  TvgBounds* GetMargins() const { return margins_; }
  void SetMargins(TvgBounds* value) { margins_->Assign(value); }
  TvgBounds* GetPadding() const { return padding_; }
  void SetPadding(TvgBounds* value) { padding_->Assign(value); }
  TvgAlign GetAlign() const { return align_; }
  virtual void SetAlign(TvgAlign value);
  bool GetVisible() const { return visible_; }
  virtual void SetVisible(bool value);
  bool GetIsVisible() const { return visible_; }
  // Shows or hides without repaint, layout or triggers (painting passes that hide parts).
  void SetVisibleRaw(bool value) { visible_ = value; }
  float GetOpacity() const { return opacity_; }
  // Clamped to [0, 1].
  void SetOpacity(float value);
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool GetHitTest() const { return hitTest_; }
  void SetHitTest(bool value) { ChangeProperty(hitTest_, value); }
  bool GetClipChildren() const { return clipChildren_; }
  void SetClipChildren(bool value);
  bool GetClipParent() const { return clipParent_; }
  void SetClipParent(bool value);
  bool GetCanClipped() const { return canClipped_; }
  void SetCanClipped(bool value) { ChangeProperty(canClipped_, value); }
  bool GetLocked() const { return locked_; }
  void SetLocked(bool value) { ChangeProperty(locked_, value); }
  // Sets Locked on this object and every visual descendant.
  void SetLockedTree(bool value);
  bool GetDesignHide() const { return designHide_; }
  void SetDesignHide(bool value);
  // Sets DesignHide on this object and every visual descendant, without the designer step.
  void SetDesignHideTree(bool value);
  // Set by a parent that gives the object its place when it is asked for, rather than at each
  // change (a list's rows, TakeOwedPlace): every read of its place, matrices or areas, and of
  // those of everything below it, takes that place first.
  void SetPlaceOnDemand(bool value);
  // Set by containers that lay their items out themselves: Realign then does nothing.
  bool GetDisableLayout() const { return disableLayout_; }
  void SetDisableLayout(bool value) { disableLayout_ = value; }

  // --- Matrices and rects
  const TvgMatrix& GetLocalMatrix() const {
    AskPlace();
    return localMatrix_;
  }
  virtual TvgMatrix GetAbsoluteMatrix();
  virtual TvgMatrix GetChildrenMatrix() { return IdentityMatrix; }
  virtual TvgPoint GetAbsoluteScale();
  virtual TvgRect GetLocalRect() { return vgRect(0, 0, width_, height_); }
  virtual TvgRect GetBoundsRect() { return vgRect(0, 0, width_, height_); }
  virtual TvgRect GetClipRect() { return vgRect(0, 0, width_, height_); }
  virtual TvgRect GetParentedRect();
  virtual TvgRect GetAbsoluteRect();
  virtual TvgRect GetEffectsRect();
  // The cached area this object and its children cover on the scene.
  virtual TvgRect GetUpdateRect();
  virtual float GetAbsoluteOpacity();
  virtual bool GetAbsoluteEnabled();
  virtual void RecalcOpacity();
  virtual void RecalcAbsolute();
  void RecalcEnabled();
  // Marks the cached update rect stale here and below (and on a parent this object sticks out
  // of, when it does not clip).
  void RecalcUpdateRect();
  virtual TvgPoint AbsoluteToLocal(const TvgPoint& p);
  virtual TvgPoint LocalToAbsolute(const TvgPoint& p);
  // The bounds on the scene of a local rect's corners.
  TvgRect LocalToAbsoluteRect(const TvgRect& r);
  virtual TvgPoint AbsoluteToLocalVector(const TvgPoint& v);
  virtual TvgPoint LocalToAbsoluteVector(const TvgPoint& v);
  // Scene coordinates; the topmost object that accepts the hit, or nullptr.
  virtual TvgVisualObject* ObjectByPoint(float x, float y);
  virtual bool PointInObject(float x, float y);
  // Visible, and so is every visual ancestor.
  virtual bool GetParentedVisible();

  // --- Updating and layout
  // Nested BeginUpdate/EndUpdate suspend repaint and layout here and below. The end of the
  // outermost update open over an object lays it out and repaints it, and lays out every object
  // below whose layout was asked for meanwhile. An EndUpdate without its BeginUpdate does nothing.
  virtual void BeginUpdate();
  virtual void EndUpdate();
  // The updates open on this object and on its visual ancestors.
  int32_t GetUpdateCounter() const { return updating_; }
  // The updates open on this object itself (its own BeginUpdate calls not yet ended).
  int32_t GetOwnUpdateCount() const { return ownUpdates_; }
  // Lays out the aligned children. While an update is open the layout is put off until the end
  // of the outermost one.
  virtual void Realign();
  // For an object that has just left its place or landed where it lies now (under a parent, as a
  // scene's root, in a popup's form, or apart): the layouts put off in its subtree run at once
  // when no update is open over it any more, since the end of the update that put them off no
  // longer reaches them. Answers whether some stay put off (below an update still open over it
  // or in it), for its new ancestors to note.
  bool TakeDeferredLayouts();
  // Queues the update rect with the scene (see the conditions in the source).
  void Repaint();
  // Marks the effect images of this object and its ancestors for re-rendering.
  void UpdateEffects();
  bool GetHasEffects() const { return hasEffects_; }
  bool GetEffectsDirty() const { return effectsDirty_; }
  bool GetNeedRealign() const { return needRealign_; }
  // Recomputes the has-effects flag from the enabled effect children.
  void RecalcHasEffects();
  void SetDisableEffects(bool value) { disableEffects_ = value; }

  // --- Painting
  // The temporary canvas while painting into a bitmap, else the scene's.
  TvgCanvas* GetCanvas();
  void SetTempCanvas(TvgCanvas* canvas);
  virtual void ApplyResource() {}
  virtual void BeforePaint() {}
  virtual void Paint() {}
  virtual void AfterPaint() {}
  virtual void PaintChildren();
  // Paints this object into another canvas at rect (its scale follows the rect), as a child of
  // `parent` for the time of the call. Position, scale, angle and parent are restored after.
  void PaintTo(TvgCanvas* canvas, const TvgRect& rect, TvgObject* parent = nullptr);
  // A new bitmap of the object's rounded size with the object painted into it; the caller owns
  // it; nullptr without a scene or canvas class.
  TvgBitmap* MakeScreenshot();
  bool GetPaintingToBitmap() const { return inPaintTo_; }

  // --- Caret of text controls (a "TvgRectangle" child, when that class is registered)
  void ShowCaret();
  void HideCaret();
  void SetCaretPos(const TvgPoint& p);
  void SetCaretSize(const TvgPoint& size);
  void SetCaretColor(TvgColor color);
  TvgVisualObject* GetCaret() const { return caret_; }

  // --- Input
  virtual void DesignSelect() {}
  virtual void DesignClick() {}
  virtual void DesignInsert() {}
  virtual void BeginAutoDrag();
  virtual void Click();
  virtual void DblClick();
  virtual void MouseDown(TMouseButton button, TShiftState shift, float x, float y);
  virtual void MouseMove(TShiftState shift, float x, float y, float dx, float dy);
  virtual void MouseUp(TMouseButton button, TShiftState shift, float x, float y);
  virtual void MouseWheel(TShiftState shift, int32_t wheelDelta, bool& handled);
  virtual void KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift);
  virtual void KeyUp(uint16_t& key, WideChar& keyChar, TShiftState shift);
  virtual void DialogKey(uint16_t& key, TShiftState shift);
  virtual void MouseEnter();
  virtual void MouseLeave();
  // Pops PopupMenu up at the screen point rounded to whole pixels, with this object as its popup
  // component; nothing without one. A right press and the menu key (93) call it.
  virtual void ContextMenu(const TvgPoint& screenPoint);
  virtual void DragEnter(const TvgDragObject& data, const TvgPoint& point);
  virtual void DragOver(const TvgDragObject& data, const TvgPoint& point, bool& accept);
  virtual void DragDrop(const TvgDragObject& data, const TvgPoint& point);
  virtual void DragLeave();
  virtual void DragEnd();
  virtual void Select(TvgVisualObject* obj) {}
  virtual void EnterFocus();
  virtual void KillFocus();
  // The drop target under a scene point, or nullptr.
  TvgVisualObject* FindTarget(const TvgPoint& p, const TvgDragObject& data);
  void SetFocus();
  void Capture();
  void ReleaseCapture();
  // The scene's window lost the mouse to another window (or to none) while this object held the
  // capture: no release will come. The base does nothing; controls end what the press started.
  virtual void CaptureLost() {}
  bool GetIsMouseOver() const { return isMouseOver_; }
  bool GetIsFocused() const { return isFocused_; }
  bool GetIsDragOver() const { return isDragOver_; }
  bool GetCanFocused() const { return canFocused_; }
  void SetCanFocused(bool value) { ChangeProperty(canFocused_, value); }
  bool GetAutoCapture() const { return autoCapture_; }
  void SetAutoCapture(bool value) { autoCapture_ = value; }
  bool GetDisableFocusEffect() const { return disableFocusEffect_; }
  void SetDisableFocusEffect(bool value) { ChangeProperty(disableFocusEffect_, value); }
  bool GetDragDisableHighlight() const { return dragDisableHighlight_; }
  void SetDragDisableHighlight(bool value) { ChangeProperty(dragDisableHighlight_, value); }
  TvgDragMode GetDragMode() const { return dragMode_; }
  void SetDragMode(TvgDragMode value) { ChangeProperty(dragMode_, value); }
  int32_t GetCursor() const { return cursor_; }
  void SetCursor(int32_t value) { ChangeProperty(cursor_, value); }
  const WideString& GetHint() const { return hint_; }
  void SetHint(const WideString& value) { ChangeProperty(hint_, value); }
  bool GetShowHint() const { return showHint_; }
  void SetShowHint(bool value) { ChangeProperty(showHint_, value); }
  // The context menu: a TPopupMenu of the class library, not owned (forgotten when it goes).
  TComponent* GetPopupMenu() const { return popupMenu_; }
  void SetPopupMenu(TComponent* value);
  // Fires the trigger on the animations, then on the effects.
  void FireTrigger(const std::string& trigger);

  // --- Tab order
  int32_t GetTabOrder();
  void SetTabOrder(int32_t value);
  const std::vector<TvgVisualObject*>& TabList() const { return tabList_; }
  // Rebuilds the parent's list from the positions stored while loading.
  void SortTabList();

  // --- Events
  TOnPaintEvent OnBeforePaint;
  TOnPaintEvent OnPaint;
  TNotifyEvent OnApplyResource;
  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TvgMouseEvent OnMouseDown;
  TvgMouseMoveEvent OnMouseMove;
  TvgMouseEvent OnMouseUp;
  TvgMouseWheelEvent OnMouseWheel;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;
  TvgKeyEvent OnKeyDown;
  TvgKeyEvent OnKeyUp;
  TvgCanFocusedEvent OnCanFocused;
  TNotifyEvent OnEnterFocus;
  TNotifyEvent OnKillFocus;
  TvgDragEnterEvent OnDragEnter;
  TNotifyEvent OnDragLeave;
  TvgDragOverEvent OnDragOver;
  TvgDragDropEvent OnDragDrop;
  TNotifyEvent OnDragEnd;

  // Stored conditions.
  bool IsOpacityStored() const { return opacity_ != 1.0f; }

 protected:
  // The local matrix from scale, position and angle; then repaint (see the source).
  void MatrixChanged(TObject* sender = nullptr);
  bool IsLoading() const { return HasState(csLoading); }
  bool IsDesigning() const;
  bool CanRepaint();
  // What Repaint would queue: false when it would queue nothing; marks a replacing effect's
  // image for re-rendering like Repaint.
  bool RepaintArea(TvgRect& area);
  // Queues an area with the scene, or gathers it into the open repaint batch.
  void RequestArea(const TvgRect& area);
  TvgObject* SceneRoot();
  // Takes the place its parent owes it, when it owes one (SetPlaceOnDemand); the base owes none.
  virtual void TakeOwedPlace() {}
  // Narrows [first, end), all the children at first, to those that can show: PaintChildren paints
  // and ObjectByPoint hits only these (a list's rows in its viewport). The base keeps them all.
  virtual void ShownChildren(size_t& first, size_t& end) {}
  // While an update is open over this object, notes its layout for the end of the outermost one
  // (what Realign does then) and answers true; answers false, noting nothing, outside updates.
  bool PutOffRealign();

 private:
  friend class TvgObject;
  // The place of `v` in a tab list, looked for from both ends at once (a list's rows come and go
  // at either end, the newest last); the list's size when absent.
  static size_t TabIndexOf(const std::vector<TvgVisualObject*>& tabs, const TvgVisualObject* v);
  // Repaints what a move left and took (`before`, when repaintBefore: the area it left) and marks
  // the parent's effects.
  void RepaintMoved(bool repaintBefore, const TvgRect& before);
  // Reads of place and geometry: an object placed on demand, or below one, takes the places owed
  // first (a flag test for all others).
  void AskPlace() const {
    if (underPlaceOnDemand_) const_cast<TvgVisualObject*>(this)->TakeOwedPlaces();
  }
  // This object and its ancestors placed on demand take the places owed them.
  void TakeOwedPlaces();
  // underPlaceOnDemand_ of this subtree taken again from `above`, the new parent's (false
  // without one); nothing below an object whose flag stays.
  void InheritPlaceOnDemand(bool above);
  void PaddingChanged(TObject*);
  void MarginsChanged(TObject*);
  // Position, scale, skew or rotation centre changed: PropertyChanged, then MatrixChanged.
  void GeometryChanged(TObject*);
  void RealignChild(TvgVisualObject* child, TvgAlign a, TvgRect& r);
  // The update counters of this subtree moved by `delta`.
  void ShiftUpdatingTree(int32_t delta);
  // The update counters of this subtree taken again from their own updates and `above`, the
  // counter of the new parent (0 without one).
  void InheritUpdatingTree(int32_t above);
  void NoteDeferredBelow();
  // Runs the layouts put off below this object whose updates have all ended; true when some
  // are still put off (below an update still open).
  bool RealignDeferredBelow();
  // This object's put-off layout, then those below it: as RealignDeferredBelow answers.
  bool RealignDeferred();
  void SetTempCanvasTree(TvgCanvas* canvas);
  void SetInPaintToTree(bool value);
  void RecalcUpdateRectDown();
  // This update rect and those of the ancestors that unite it marked stale (not the children's,
  // which do not depend on their siblings).
  void MarkUpdateRectStaleUp();
  // The focus came or went: this update rect (which takes a margin while focused) and those above
  // that unite it marked stale, and the children's when this object clips them (theirs are cut by
  // it); no other rect below depends on the focus.
  void FocusRectChanged();
  bool AcceptsHits();
  void PaintEffects();
  // What the children's paints of one PaintChildren pass share, looked up once for all.
  struct TPaintPass;
  void PaintChild(TvgVisualObject* child, const TPaintPass& pass);
  // Paints the children whose kept update rects meet the scene's; answers the index of the
  // first child still to be walked one by one (the number of children when none is).
  size_t PaintChildrenByRects(const TPaintPass& pass);
  void ApplyRotation(TvgMatrix& m);
  // The local matrix from scale, position and angle.
  TvgMatrix ComposeLocalMatrix() const;

  // The margins, padding, position, scale, skew and rotation centre, made in one block: a list
  // of thousands of items pays one allocation for them per item, not six.
  struct TGeometryParts;
  std::unique_ptr<TGeometryParts> geometryParts_;
  TvgBounds* margins_;
  bool hitTest_ = true;
  bool clipChildren_ = false;
  TvgAlign align_ = vaNone;
  bool needRealign_ = false;
  TvgBounds* padding_;
  TvgCanvas* tempCanvas_ = nullptr;
  float rotateAngle_ = 0;
  TvgPosition* position_;
  TvgPosition* scale_;
  TvgPosition* skew_;
  TvgPosition* rotateCenter_;
  float height_ = 50, lastHeight_ = 50;
  float width_ = 50, lastWidth_ = 50;
  bool visible_ = true;
  TvgMatrix localMatrix_ = IdentityMatrix;
  TvgMatrix absMatrix_ = IdentityMatrix;
  bool absMatrixStale_ = true;
  float opacity_ = 1;
  float absOpacity_ = 1;
  bool absOpacityStale_ = true;
  bool enabled_ = true;
  bool absEnabled_ = true;
  bool enabledStale_ = true;
  bool canClipped_ = true;
  bool clipParent_ = false;
  int32_t updating_ = 0;     // updates open here and above
  int32_t ownUpdates_ = 0;   // updates open on this object itself
  bool deferredRealign_ = false;  // a layout asked for while updating
  bool deferredBelow_ = false;    // a descendant's was (may stay set after it ran)
  bool inRealign_ = false;
  bool disableLayout_ = false;
  bool placeOnDemand_ = false;       // its parent may owe it its place
  bool underPlaceOnDemand_ = false;  // it or an ancestor is placed on demand
  // MoveOverChildren calls on this object; on a child placed on demand, its parent's count when it
  // last marked what it keeps of its place as stale.
  uint32_t movesOverChildren_ = 0;
  uint32_t parentMovesSeen_ = 0;
  bool locked_ = false;
  bool designHide_ = false;

  TvgRect updateRect_;
  bool updateRectStale_ = true;
  // The children's update rects side by side, for PaintChildren to pass over many children
  // without reading each (kept while no update rect anywhere was marked stale).
  struct TChildRects;
  std::unique_ptr<TChildRects> childRects_;
  bool hasEffects_ = false;
  bool effectsDirty_ = false;
  bool disableEffects_ = false;
  bool inPaintTo_ = false;
  TvgBitmap* effectBitmap_ = nullptr;
  TvgVisualObject* caret_ = nullptr;

  bool isMouseOver_ = false;
  bool isFocused_ = false;
  bool isDragOver_ = false;
  bool canFocused_ = false;
  bool autoCapture_ = false;
  bool disableFocusEffect_ = false;
  bool pressed_ = false;
  bool doubleClick_ = false;
  int32_t cursor_ = 0;
  TvgDragMode dragMode_ = vgDragManual;
  bool dragDisableHighlight_ = false;
  WideString hint_;
  bool showHint_ = false;
  TComponent* popupMenu_ = nullptr;
  std::vector<TvgVisualObject*> tabList_;
  int32_t tabOrderStored_ = -1;
};

// Runs `restore` when it goes, also when an error leaves the block: what a paint changes only for
// its own while (an opacity, a flag, a size, the scene's updates) is put back whatever the paint
// raises. An error of `restore` itself is dropped, as it may run while another one unwinds.
template <typename F>
class TvgRestoreOnExit {
 public:
  explicit TvgRestoreOnExit(F restore) : restore_(std::move(restore)) {}
  ~TvgRestoreOnExit() {
    try {
      restore_();
    } catch (...) {
    }
  }
  TvgRestoreOnExit(const TvgRestoreOnExit&) = delete;
  TvgRestoreOnExit& operator=(const TvgRestoreOnExit&) = delete;

 private:
  F restore_;
};

// While one lives, the repaint requests of the objects in its owner's scene are dropped: for a
// property changed during a paint only for what that paint draws, and set back before the paint
// ends (a request would only paint the same again). Requests made outside its life, also from
// inside the same paint, are kept. Each thread has its own: one lives on the GUI thread of its
// owner's scene and drops nothing asked for on another.
class TvgPaintOnlyChange {
 public:
  explicit TvgPaintOnlyChange(TvgVisualObject* owner);
  ~TvgPaintOnlyChange();
  TvgPaintOnlyChange(const TvgPaintOnlyChange&) = delete;
  TvgPaintOnlyChange& operator=(const TvgPaintOnlyChange&) = delete;
  // True when this change or one it lives inside drops a request for `scene`.
  bool Drops(IvgScene* scene) const;

 private:
  IvgScene* scene_ = nullptr;
  TvgPaintOnlyChange* outer_ = nullptr;
};

// While one lives, the repaint requests of the objects in its owner's scene are gathered into one
// update rect (their union), which the scene receives when it ends; batches inside it join it.
// Each request otherwise costs the scene window an invalidation, and inserting and laying out a
// style repaints every part of it. An owner without a scene opens no batch. The scene must
// outlive the batch. Each thread has its own: one lives on the GUI thread of its owner's scene and
// gathers nothing asked for on another.
class TvgRepaintBatch {
 public:
  explicit TvgRepaintBatch(TvgVisualObject* owner);
  ~TvgRepaintBatch();
  TvgRepaintBatch(const TvgRepaintBatch&) = delete;
  TvgRepaintBatch& operator=(const TvgRepaintBatch&) = delete;
  // Takes a request for `scene` into this (the open) batch; false when it gathers for another.
  bool Gather(IvgScene* scene, const TvgRect& rect);

 private:
  IvgScene* scene_ = nullptr;
  bool open_ = false;  // the outermost batch
  bool gathered_ = false;
  TvgRect union_{};
};
