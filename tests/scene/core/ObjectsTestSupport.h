// Test doubles of the object tree's tests: a scene that records what objects ask of it, a
// canvas that records what reaches it, and small scene object classes.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "scene/core/vg_animation.h"
#include "scene/core/vg_canvas.h"
#include "scene/core/vg_control.h"
#include "scene/core/vg_effect.h"
#include "scene/core/vg_resources.h"
#include "scene/core/vg_sceneintf.h"
#include "scene/core/vg_visualobject.h"

// A scene that keeps root objects and queued update rects and answers the input state.
class TTestScene : public TComponent, public IvgScene {
 public:
  explicit TTestScene(TComponent* owner = nullptr) : TComponent(owner) {}
  ~TTestScene() override {
    for (TvgObject* root : roots) root->SetScene(nullptr);
  }
  void AddObject(TvgObject* obj) override {
    roots.push_back(obj);
    obj->SetScene(this);
  }
  void RemoveObject(TvgObject* obj) override {
    std::erase(roots, obj);
    ++removed;
  }
  void BeginDrag() override {}
  void BeginResize() override {}
  void AddUpdateRect(const TvgRect& r) override { updates.push_back(r); }
  void InsertObject(const std::string&) override {}
  TvgVisualObject* GetActiveControl() override { return active; }
  bool GetDisableUpdate() override { return disableUpdate; }
  void SetDisableUpdate(bool value) override { disableUpdate = value; }
  bool GetDesignTime() override { return designTime; }
  TvgCanvas* GetCanvas() override { return canvas; }
  TvgObject* GetRoot() override { return roots.empty() ? nullptr : roots.front(); }
  TComponent* GetOwner() const override { return TComponent::GetOwner(); }
  TComponent* GetSceneControl() override { return this; }
  TvgResources* GetStyle() override { return style; }
  void SetStyle(TvgResources* value) override { style = value; }
  bool GetTransparency() override { return transparency; }
  void UpdateStyle() override {
    ++styleUpdates;
    if (GetRoot() != nullptr) GetRoot()->UpdateStyle();
  }
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == opRemove) notified.push_back(component);
  }
  TvgVisualObject* GetSelected() override { return nullptr; }
  TvgVisualObject* GetDesignPlaceObject() override { return nullptr; }
  int32_t GetUpdateRectsCount() override { return static_cast<int32_t>(paintRects.size()); }
  TvgRect GetUpdateRect(int32_t index) override {
    return index >= 0 && index < GetUpdateRectsCount() ? paintRects[static_cast<size_t>(index)] : TvgRect();
  }
  void SetCaptured(TvgVisualObject* value) override { captured = value; }
  TvgVisualObject* GetCaptured() override { return captured; }
  void SetFocused(TvgVisualObject* value) override {
    if (focused == value) return;
    TvgVisualObject* old = focused;
    focused = value;
    if (old != nullptr) old->KillFocus();
    if (value != nullptr) value->EnterFocus();
  }
  TvgVisualObject* GetFocused() override { return focused; }
  void SetDesignDoubleClicked(TvgVisualObject*) override {}
  TvgPoint GetMousePos() override { return mousePos; }
  TvgPoint LocalToScreen(const TvgPoint& p) override { return vgPoint(p.X + 1000, p.Y + 2000); }
  void BeginNativeDrag(TvgObject*, TvgBitmap*) override {}
  void SetSelected(TvgVisualObject*) override {}
  bool GetAnimatedCaret() override { return false; }

  std::vector<TvgObject*> roots;
  std::vector<TvgRect> updates;
  std::vector<TvgRect> paintRects;
  std::vector<TComponent*> notified;
  TvgVisualObject* active = nullptr;
  TvgVisualObject* captured = nullptr;
  TvgVisualObject* focused = nullptr;
  TvgResources* style = nullptr;
  TvgCanvas* canvas = nullptr;
  TvgPoint mousePos;
  bool disableUpdate = false;
  bool designTime = false;
  bool transparency = false;
  int removed = 0;
  int styleUpdates = 0;
};

// The part the recording canvases share: no pixels of their own, only a size, and the class
// hooks a default canvas class needs (vgCanvasClassOf).
class TTestCanvasBase : public TvgCanvas {
 public:
  TTestCanvasBase(int32_t width, int32_t height) : TvgCanvas(width, height) {}
  explicit TTestCanvasBase(TvgBitmap& bitmap) : TvgCanvas(bitmap) {}
  static uint32_t* GetBitmapScanline(TvgBitmap& bitmap, int32_t y) { return bitmap.Scanline(y); }
  static const TClassInfo* StaticClassInfo() { return TvgCanvas::StaticClassInfo(); }

  void FreeBuffer() override {}
  void ResizeBuffer(int32_t w, int32_t h) override {
    width_ = w;
    height_ = h;
  }
};

// Records matrices, clips and drawing calls.
class TObjRecordingCanvas : public TTestCanvasBase {
 public:
  using TTestCanvasBase::TTestCanvasBase;

  int32_t SaveCanvas() override {
    ++saves;
    return depth++;
  }
  void RestoreCanvas(int32_t index) override {
    ++restores;
    depth = index;
  }
  void IntersectClipRect(const TvgRect& r) override { clips.push_back(r); }
  void ExcludeClipRect(const TvgRect& r) override { excludes.push_back(r); }
  void FillRect(const TvgRect& r, float, float, TvgCorners, float opacity, TvgCornerType) override {
    fills.push_back(r);
    fillOpacities.push_back(opacity);
    fillColors.push_back(GetFill()->GetSolidColor());
  }
  void DrawRect(const TvgRect& r, float, float, TvgCorners, float, TvgCornerType) override {
    outlines.push_back(r);
    outlineColors.push_back(GetStroke()->GetSolidColor());
  }
  void DrawBitmap(TvgBitmap&, const TvgRect& src, const TvgRect& dst, float opacity, bool) override {
    bitmaps.push_back(dst);
    bitmapOpacities.push_back(opacity);
  }

  int saves = 0, restores = 0, depth = 0;
  std::vector<TvgRect> clips, excludes, fills, outlines, bitmaps;
  std::vector<float> fillOpacities, bitmapOpacities;
  std::vector<TvgColor> fillColors, outlineColors;
};

// A visual object that records its paint calls and the matrix it was painted with.
class TPaintProbe : public TvgVisualObject {
  KBL_DECLARE_CLASS(TPaintProbe, TvgVisualObject)
 public:
  explicit TPaintProbe(TComponent* owner) : TvgVisualObject(owner) {}
  void Paint() override {
    ++paints;
    if (GetCanvas() != nullptr) {
      matrices.push_back(GetCanvas()->GetMatrix());
      GetCanvas()->FillRect(GetLocalRect(), 0, 0, vgAllCorners, GetAbsoluteOpacity(), vgCornerRound);
    }
  }
  int paints = 0;
  std::vector<TvgMatrix> matrices;
};

// A paint probe whose paint raises (after recording) while `raise` is set.
class TRaisingProbe : public TPaintProbe {
 public:
  explicit TRaisingProbe(TComponent* owner) : TPaintProbe(owner) {}
  void Paint() override {
    TPaintProbe::Paint();
    if (raise) throw std::runtime_error("paint");
  }
  bool raise = true;
};

// A visual object whose layout, or update rect, raises while asked to (as a sorted list whose
// comparison raises); counts the layouts asked of it.
class TRaisingLayout : public TvgVisualObject {
 public:
  explicit TRaisingLayout(TComponent* owner) : TvgVisualObject(owner) {}
  void Realign() override {
    ++layouts;
    if (raiseLayout) throw std::runtime_error("layout");
    TvgVisualObject::Realign();
  }
  TvgRect GetUpdateRect() override {
    if (raiseRect) throw std::runtime_error("rect");
    return TvgVisualObject::GetUpdateRect();
  }
  bool raiseLayout = false, raiseRect = false;
  int layouts = 0;
};

// An animation that records the progress it is asked to apply.
class TProbeAnimation : public TvgAnimation {
  KBL_DECLARE_CLASS(TProbeAnimation, TvgAnimation)
 public:
  explicit TProbeAnimation(TComponent* owner) : TvgAnimation(owner) {}
  void ProcessAnimation() override { values.push_back(NormalizedTime()); }
  std::vector<float> values;
};

// An effect that widens the painted area by 10 on each side.
class TProbeEffect : public TvgEffect {
  KBL_DECLARE_CLASS(TProbeEffect, TvgEffect)
 public:
  explicit TProbeEffect(TComponent* owner) : TvgEffect(owner) {}
  TvgRect GetRect(const TvgRect& r) override {
    TvgRect e = r;
    vgInflateRect(e, 10, 10);
    return e;
  }
};

// Styled controls whose style names are "probebuttonstyle" and "probechildstyle".
class TvgProbeButton : public TvgControl {
  KBL_DECLARE_CLASS(TvgProbeButton, TvgControl)
 public:
  explicit TvgProbeButton(TComponent* owner) : TvgControl(owner) {}
  void ApplyStyle() override {
    inherited::ApplyStyle();
    text = FindResource("text");
    ++applied;
  }
  void FreeStyle() override {
    freedWhileStyleAlive = GetStyleObject() != nullptr && vgIsSceneObjectAlive(GetStyleObject());
    text = nullptr;
    ++freed;
  }
  Variant GetData() override { return Variant(value); }
  void SetData(const Variant& v) override { value = v.ToString(); }
  std::string value;
  TvgObject* text = nullptr;
  int applied = 0, freed = 0;
  bool freedWhileStyleAlive = false;
};

class TvgProbeChild : public TvgProbeButton {
  KBL_DECLARE_CLASS(TvgProbeChild, TvgProbeButton)
 public:
  explicit TvgProbeChild(TComponent* owner) : TvgProbeButton(owner) {}
};

// Registers the probe classes for streaming (once).
void RegisterProbeClasses();

// A manual ticker for the test: installs the factory, frees any old ticker.
TvgManualAniTimer* FreshManualTicker();
