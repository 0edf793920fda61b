// Test doubles of the shapes tests: a canvas that records every drawing call with the brushes,
// stroke and opacity in force, and helpers to paint an object and stream it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "scene/core/ObjectsTestSupport.h"
#include "scene/core/vg_canvas.h"
#include "scene/shapes/vg_animations.h"
#include "scene/shapes/vg_effects.h"
#include "scene/shapes/vg_objects.h"

// One drawing call as the canvas saw it.
struct TDrawCall {
  std::string Op;  // "FillRect", "DrawRect", "Line", "FillEllipse", "DrawEllipse", "FillPath", ...
  TvgRect Rect;
  TvgPoint P1, P2;
  float Opacity = 0;
  float XRadius = 0, YRadius = 0;
  TvgCorners Corners;
  TvgCornerType CornerType = vgCornerRound;
  TvgBrushStyle FillStyle = vgBrushNone, StrokeStyle = vgBrushNone;
  TvgColor FillColor = 0, StrokeColor = 0;
  float Thickness = 0;
  TvgStrokeDash Dash = vgDashSolid;
  TvgRect Source;                 // bitmaps
  std::vector<TvgPathPoint> Path; // paths
  WideString Text;
  bool HighSpeed = false;
};

class TRecordingCanvas : public TTestCanvasBase {
 public:
  TRecordingCanvas(int32_t width = 200, int32_t height = 200) : TTestCanvasBase(width, height) {}
  int32_t SaveCanvas() override { return saves++; }
  void RestoreCanvas(int32_t) override { ++restores; }
  void IntersectClipRect(const TvgRect& r) override { clips.push_back(r); }
  void MultiplyMatrix(const TvgMatrix& m) override { multiplied.push_back(m); }
  void DrawLine(const TvgPoint& a, const TvgPoint& b, float op) override {
    TDrawCall& c = Add("Line", TvgRect(), op);
    c.P1 = a;
    c.P2 = b;
  }
  void FillRect(const TvgRect& r, float xr, float yr, TvgCorners corners, float op, TvgCornerType t) override {
    TDrawCall& c = Add("FillRect", r, op);
    c.XRadius = xr;
    c.YRadius = yr;
    c.Corners = corners;
    c.CornerType = t;
  }
  void DrawRect(const TvgRect& r, float xr, float yr, TvgCorners corners, float op, TvgCornerType t) override {
    TDrawCall& c = Add("DrawRect", r, op);
    c.XRadius = xr;
    c.YRadius = yr;
    c.Corners = corners;
    c.CornerType = t;
  }
  void FillEllipse(const TvgRect& r, float op) override { Add("FillEllipse", r, op); }
  void DrawEllipse(const TvgRect& r, float op) override { Add("DrawEllipse", r, op); }
  void FillPath(const TvgPathData& p, const TvgRect& r, float op) override { Add("FillPath", r, op).Path = p.Points(); }
  void DrawPath(const TvgPathData& p, const TvgRect& r, float op) override { Add("DrawPath", r, op).Path = p.Points(); }
  // The path's bounds mapped onto r count as inside.
  bool PtInPath(const TvgPoint& p, const TvgRect& r, const TvgPathData&) override {
    ++hitTests;
    return vgPtInRect(p, r);
  }
  void DrawBitmap(TvgBitmap&, const TvgRect& src, const TvgRect& dst, float op, bool highSpeed) override {
    TDrawCall& c = Add("Bitmap", dst, op);
    c.Source = src;
    c.HighSpeed = highSpeed;
  }
  void FillText(const TvgRect& r, const TvgRect&, const WideString& text, bool, float op, TvgTextAlign,
                TvgTextAlign) override {
    Add("Text", r, op).Text = text;
  }
  // Every character 7 wide, a line 13 high; one line.
  void MeasureText(TvgRect& r, const TvgRect&, const WideString& text, bool, TvgTextAlign, TvgTextAlign) override {
    r = vgRect(r.Left, r.Top, r.Left + 7.0f * static_cast<float>(text.size()), r.Top + 13);
  }

  std::vector<TDrawCall> calls;
  std::vector<TvgRect> clips;
  std::vector<TvgMatrix> multiplied;
  int saves = 0, restores = 0, hitTests = 0;

  std::vector<TDrawCall> Of(const std::string& op) const {
    std::vector<TDrawCall> out;
    for (const TDrawCall& c : calls)
      if (c.Op == op) out.push_back(c);
    return out;
  }

 private:
  TDrawCall& Add(const std::string& op, const TvgRect& r, float opacity) {
    TDrawCall c;
    c.Op = op;
    c.Rect = r;
    c.Opacity = opacity;
    c.FillStyle = GetFill()->GetStyle();
    c.StrokeStyle = GetStroke()->GetStyle();
    c.FillColor = GetFill()->GetSolidColor();
    c.StrokeColor = GetStroke()->GetSolidColor();
    c.Thickness = GetStrokeThickness();
    c.Dash = GetStrokeDash();
    calls.push_back(c);
    return calls.back();
  }
};

// A scene with a recording canvas, holding root objects.
struct TShapeScene {
  TShapeScene() {
    vgInitObjectsUnit();
    vgInitEffectsUnit();
    vgInitAnimationsUnit();
    scene.canvas = &canvas;
  }
  template <typename T>
  T* Add(float w = 50, float h = 50) {
    auto* obj = new T(nullptr);
    if constexpr (std::is_base_of_v<TvgVisualObject, T>) {
      obj->SetWidth(w);
      obj->SetHeight(h);
    }
    scene.AddObject(obj);
    owned.push_back(obj);
    return obj;
  }
  ~TShapeScene() {
    for (TvgObject* o : owned) {
      scene.RemoveObject(o);
      o->SetScene(nullptr);
      delete o;
    }
  }
  // The object's own painting steps on the recording canvas.
  void Paint(TvgVisualObject* obj) {
    canvas.calls.clear();
    obj->BeforePaint();
    obj->Paint();
    obj->AfterPaint();
  }
  TRecordingCanvas canvas;
  TTestScene scene;
  std::vector<TvgObject*> owned;
};

// Streams the object to TPF0 and reads a new object of the same class back (caller owns it).
TvgObject* RoundTrip(TvgObject* obj);
// The properties a stream of the object holds (names as written).
std::vector<std::string> StoredNames(TvgObject* obj);
// True when the stream of the object holds the property name (as a length-prefixed name).
bool StreamHas(TvgObject* obj, const std::string& name);
