// Scene objects for the scene-window tests, behind functions that name no scene-object types, so
// that the tests can include the window layer beside them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "scene/core/vg_types.h"

class TvgObject;
class TvgSceneEngine;

// A visual object that fills its local rect with a solid colour and records its input.
TvgObject* MakeColorObject(float x, float y, float w, float h, TvgColor color, TvgObject* parent = nullptr);
// Sets the colour without repainting; Repaint queues the object's area with its scene.
void SetObjectColor(TvgObject* obj, TvgColor color);
// Paints an ellipse of its colour over its local rect and a white line of text across it.
void SetObjectShapes(TvgObject* obj);
void RepaintObject(TvgObject* obj);
void SetObjectFocusable(TvgObject* obj);
// Runs `hook` at the start of each Paint of the object (nullptr: none).
void SetObjectPaintHook(TvgObject* obj, std::function<void()> hook);
int32_t ObjectPaints(TvgObject* obj);
int32_t ObjectMouseDowns(TvgObject* obj);
int32_t ObjectMouseUps(TvgObject* obj);
TvgPoint ObjectLastMouse(TvgObject* obj);
bool ObjectHovered(TvgObject* obj);
bool ObjectFocused(TvgObject* obj);
// "k<key>" for a key down, "c<char>" for a character down, "u..." for key up, joined with ",".
std::string ObjectKeys(TvgObject* obj);
void FreeObject(TvgObject* obj);
// A press runs `hook` (which may free the object) instead of the object's own handling, and so
// does a drop offered, which the object then takes. Pressed, it starts a drag of itself: the
// starts and the drops taken are counted (no drag runs).
void SetObjectInputHook(TvgObject* obj, std::function<void()> hook);
int32_t ObjectDragsAndDrops(TvgObject* obj);
// The object takes the mouse on a press, and runs `hook` after its own handling of a release;
// counts the times it was told another window took the mouse from it.
void SetObjectReleaseHook(TvgObject* obj, std::function<void()> hook);
int32_t ObjectCapturesLost(TvgObject* obj);
// An OLE drag without data moved over the scene point, `beforeDrop` run, then dropped there;
// answers whether the drop was taken.
bool DragAndDrop(TvgSceneEngine& engine, const TvgPoint& p, const std::function<void()>& beforeDrop);

// A popup (form mode) of size w x h placed below `target`, child of `parent`.
TvgObject* MakePopupObject(TvgObject* parent, TvgObject* target, float w, float h);
void SetPopupOpen(TvgObject* popup, bool open);
bool PopupIsOpen(TvgObject* popup);
// The popup form's window while open; nullptr otherwise.
void* PopupWindow(TvgObject* popup);
// Scene coordinates of a point of the object.
TvgPoint ObjectToScene(TvgObject* obj, float x, float y);
