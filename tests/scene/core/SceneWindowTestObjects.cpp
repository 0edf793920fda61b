// Scene objects for the scene-window tests.
#include "SceneWindowTestObjects.h"

#include "scene/core/vg_canvas.h"
#include "scene/core/vg_popup.h"
#include "scene/core/vg_sceneengine.h"
#include "scene/core/vg_visualobject.h"

namespace {

class TColorObject : public TvgVisualObject {
 public:
  TColorObject() : TvgVisualObject(nullptr) {}
  void Paint() override {
    ++paints;
    if (hook) hook();
    TvgCanvas* c = GetCanvas();
    c->GetFill()->SetStyle(vgBrushSolid);
    c->GetFill()->SetSolidColor(color);
    if (!shapes) return c->FillRect(GetLocalRect(), 0, 0, vgAllCorners, 1.0f);
    c->FillEllipse(GetLocalRect(), 1.0f);
    c->GetFill()->SetSolidColor(0xFFFFFFFFu);
    c->FillText(GetLocalRect(), TvgRect(), u"Kg,ab glyphs", false, 1.0f, vgTextAlignNear, vgTextAlignCenter);
  }
  void MouseDown(TMouseButton b, TShiftState s, float x, float y) override {
    ++downs;
    last = vgPoint(x, y);
    // The hook may free the object: it runs from a copy, and nothing of the object is read after.
    if (inputHook) return std::function<void()>{inputHook}();
    TvgVisualObject::MouseDown(b, s, x, y);
  }
  void DragOver(const TvgDragObject&, const TvgPoint&, bool& accept) override {
    accept = true;
    if (inputHook) std::function<void()>{inputHook}();
  }
  void DragDrop(const TvgDragObject&, const TvgPoint&) override { ++taken; }
  void BeginAutoDrag() override { ++taken; }
  void MouseUp(TMouseButton b, TShiftState s, float x, float y) override {
    ++ups;
    last = vgPoint(x, y);
    TvgVisualObject::MouseUp(b, s, x, y);
    if (releaseHook) releaseHook();
  }
  void CaptureLost() override { ++capturesLost; }
  void KeyDown(uint16_t& key, WideChar& ch, TShiftState) override { Record(key, ch, true); }
  void KeyUp(uint16_t& key, WideChar& ch, TShiftState) override { Record(key, ch, false); }
  void Record(uint16_t key, WideChar ch, bool down) {
    if (!keys.empty()) keys += ",";
    keys += down ? "" : "u";
    keys += key != 0 ? "k" + std::to_string(key) : "c" + std::string(1, static_cast<char>(ch));
  }
  TvgColor color = 0;
  bool shapes = false;
  std::function<void()> hook, inputHook, releaseHook;
  int32_t paints = 0, downs = 0, ups = 0, taken = 0, capturesLost = 0;
  TvgPoint last;
  std::string keys;
};

TColorObject* As(TvgObject* obj) { return static_cast<TColorObject*>(obj); }

}  // namespace

TvgObject* MakeColorObject(float x, float y, float w, float h, TvgColor color, TvgObject* parent) {
  auto* obj = new TColorObject();
  obj->color = color;
  obj->SetBounds(x, y, w, h);
  if (parent != nullptr) parent->AddObject(obj);
  return obj;
}

void SetObjectColor(TvgObject* obj, TvgColor color) { As(obj)->color = color; }
void SetObjectShapes(TvgObject* obj) { As(obj)->shapes = true; }
void RepaintObject(TvgObject* obj) { As(obj)->Repaint(); }
void SetObjectFocusable(TvgObject* obj) { As(obj)->SetCanFocused(true); }
void SetObjectPaintHook(TvgObject* obj, std::function<void()> hook) { As(obj)->hook = std::move(hook); }
int32_t ObjectPaints(TvgObject* obj) { return As(obj)->paints; }
int32_t ObjectMouseDowns(TvgObject* obj) { return As(obj)->downs; }
int32_t ObjectMouseUps(TvgObject* obj) { return As(obj)->ups; }
TvgPoint ObjectLastMouse(TvgObject* obj) { return As(obj)->last; }
bool ObjectHovered(TvgObject* obj) { return As(obj)->GetIsMouseOver(); }
bool ObjectFocused(TvgObject* obj) { return As(obj)->GetIsFocused(); }
std::string ObjectKeys(TvgObject* obj) { return As(obj)->keys; }
void FreeObject(TvgObject* obj) { delete obj; }
void SetObjectInputHook(TvgObject* obj, std::function<void()> hook) {
  As(obj)->inputHook = std::move(hook);
  As(obj)->SetDragMode(vgDragAutomatic);
}
int32_t ObjectDragsAndDrops(TvgObject* obj) { return As(obj)->taken; }
void SetObjectReleaseHook(TvgObject* obj, std::function<void()> hook) {
  As(obj)->releaseHook = std::move(hook);
  As(obj)->SetAutoCapture(true);
}
int32_t ObjectCapturesLost(TvgObject* obj) { return As(obj)->capturesLost; }

bool DragAndDrop(TvgSceneEngine& engine, const TvgPoint& p, const std::function<void()>& beforeDrop) {
  const TvgDragObject data;
  engine.DragOverPoint(data, p);
  beforeDrop();
  return engine.DropAt(data, p);
}

TvgObject* MakePopupObject(TvgObject* parent, TvgObject* target, float w, float h) {
  auto* popup = new TvgPopup(nullptr);
  popup->SetBounds(0, 0, w, h);
  popup->SetPlacementTarget(target->Visual());
  parent->AddObject(popup);
  MakeColorObject(0, 0, w, h, 0xFF00FF00u, popup)->Visual()->SetAlign(vaClient);
  return popup;
}
void SetPopupOpen(TvgObject* popup, bool open) { static_cast<TvgPopup*>(popup)->SetIsOpen(open); }
bool PopupIsOpen(TvgObject* popup) { return static_cast<TvgPopup*>(popup)->GetIsOpen(); }
void* PopupWindow(TvgObject* popup) {
  IvgPopupForm* form = static_cast<TvgPopup*>(popup)->GetPopupForm();
  return form != nullptr ? form->NativeWindow() : nullptr;
}
TvgPoint ObjectToScene(TvgObject* obj, float x, float y) { return obj->Visual()->LocalToAbsolute(vgPoint(x, y)); }
