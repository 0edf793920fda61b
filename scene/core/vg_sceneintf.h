// The scene interface: how scene objects reach the scene window that hosts their tree.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/Classes.h"
#include "vg_types.h"

class TvgBitmap;
class TvgCanvas;
class TvgObject;
class TvgResources;
class TvgVisualObject;

// Implemented by the scene window. Holders keep a plain pointer: the scene lives as long as its
// component, and it clears every object's link (SetScene(nullptr)) before it goes. All calls
// come from the GUI thread.
class IvgScene {
 public:
  // Adds or removes a root object; removing an object that is not a root does nothing.
  virtual void AddObject(TvgObject* obj) = 0;
  virtual void RemoveObject(TvgObject* obj) = 0;
  // Start moving or resizing the host form with the mouse.
  virtual void BeginDrag() = 0;
  virtual void BeginResize() = 0;
  // Queues an area of the client area (scene coordinates) for repainting.
  virtual void AddUpdateRect(const TvgRect& r) = 0;
  // Design time: creates an object of the class of that name and inserts it.
  virtual void InsertObject(const std::string& className) = 0;
  // The active control; nullptr when none.
  virtual TvgVisualObject* GetActiveControl() = 0;
  virtual bool GetDisableUpdate() = 0;
  virtual void SetDisableUpdate(bool value) = 0;
  virtual bool GetDesignTime() = 0;
  // The scene's canvas; nullptr before the window has one.
  virtual TvgCanvas* GetCanvas() = 0;
  // The first root object; nullptr when there is none.
  virtual TvgObject* GetRoot() = 0;
  // The scene control's owner component (the same as its component owner).
  virtual TComponent* GetOwner() const = 0;
  virtual TComponent* GetSceneControl() = 0;
  // The style container in use, or nullptr.
  virtual TvgResources* GetStyle() = 0;
  virtual void SetStyle(TvgResources* value) = 0;
  virtual bool GetTransparency() = 0;
  // Re-applies styles from the first root object down; nothing without a root.
  virtual void UpdateStyle() = 0;
  // A component is going (opRemove): the scene drops every reference to it.
  virtual void Notification(TComponent* component, TOperation operation) = 0;
  virtual TvgVisualObject* GetSelected() = 0;
  virtual TvgVisualObject* GetDesignPlaceObject() = 0;
  virtual int32_t GetUpdateRectsCount() = 0;
  // The queued rect at that index; an empty rect outside the range.
  virtual TvgRect GetUpdateRect(int32_t index) = 0;
  virtual void SetCaptured(TvgVisualObject* value) = 0;
  virtual TvgVisualObject* GetCaptured() = 0;
  virtual void SetFocused(TvgVisualObject* value) = 0;
  virtual TvgVisualObject* GetFocused() = 0;
  virtual void SetDesignDoubleClicked(TvgVisualObject* value) = 0;
  // The last mouse position in scene coordinates.
  virtual TvgPoint GetMousePos() = 0;
  virtual TvgPoint LocalToScreen(const TvgPoint& p) = 0;
  // Starts a class-library drag of the object with a drag image (the scene does not keep it).
  virtual void BeginNativeDrag(TvgObject* source, TvgBitmap* image) = 0;
  virtual void SetSelected(TvgVisualObject* value) = 0;
  virtual bool GetAnimatedCaret() = 0;
  // Text boxes and memos report entering and leaving the keyboard focus; this system's scenes
  // do nothing with it and answer false.
  virtual bool TextFocusEntered(TvgVisualObject* obj) { return false; }
  virtual bool TextFocusLeft(TvgVisualObject* obj) { return false; }

 protected:
  virtual ~IvgScene() = default;
};

// The size-grip marker: a visual object deriving from it resizes the host form when pressed
// (the scene starts BeginResize instead of handing it the press).
class IvgSizeGrip {
 public:
  virtual ~IvgSizeGrip() = default;
};

// The scene interface of a component that is not a scene object (a scene window); nullptr when
// it does not implement one.
inline IvgScene* vgQueryScene(TObject* obj) { return dynamic_cast<IvgScene*>(obj); }
