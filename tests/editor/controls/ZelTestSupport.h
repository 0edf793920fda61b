// Test doubles for the maker's controls: the object tree's test scene, a canvas that records
// every drawing call with the brush and font in force, and a recorder of the cursor operations.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "editor/controls/zel_platform.h"
#include "scene/core/ObjectsTestSupport.h"
#include "scene/core/vg_canvas.h"

// One drawing call as the canvas saw it.
struct TZelDrawCall {
  std::string Op;            // "FillRect", "DrawRect", "DrawBitmap", "FillText", "FillPath", "DrawPath"
  TvgRect Rect;              // the rect drawn into (bounds for paths)
  TvgRect Source;            // DrawBitmap
  TvgBitmap* Bitmap = nullptr;
  float Opacity = 0;
  bool HighSpeed = false;
  TvgColor FillColor = 0;
  TvgColor StrokeColor = 0;
  TvgBrushStyle FillStyle = vgBrushNone;
  float StrokeThickness = 0;
  TvgStrokeDash Dash = vgDashSolid;
  TvgStrokeCap Cap = vgCapFlat;
  WideString Text;
  TvgTextAlign Horz = vgTextAlignCenter, Vert = vgTextAlignCenter;
  bool WordWrap = false;
  std::string FontFamily;
  float FontSize = 0;
  std::vector<TvgPathPoint> Path;
};

// Records the calls; text is 7 units per character wide and 13 high.
class TZelRecordingCanvas : public TTestCanvasBase {
 public:
  using TTestCanvasBase::TTestCanvasBase;

  void Clear(TvgColor color) override { ++clears; }
  void ClearRect(const TvgRect& r, TvgColor) override { Add("ClearRect", r, 1); }
  int32_t SaveCanvas() override { return 0; }
  void RestoreCanvas(int32_t) override {}
  void IntersectClipRect(const TvgRect& r) override { Add("IntersectClipRect", r, 1); }
  void ResetClipRect() override { Add("ResetClipRect", TvgRect(), 1); }
  void FillRect(const TvgRect& r, float, float, TvgCorners, float opacity, TvgCornerType) override {
    Add("FillRect", r, opacity);
  }
  void DrawRect(const TvgRect& r, float, float, TvgCorners, float opacity, TvgCornerType) override {
    Add("DrawRect", r, opacity);
  }
  void DrawBitmap(TvgBitmap& bitmap, const TvgRect& src, const TvgRect& dst, float opacity, bool highSpeed) override {
    TZelDrawCall& c = Add("DrawBitmap", dst, opacity);
    c.Source = src;
    c.Bitmap = &bitmap;
    c.HighSpeed = highSpeed;
  }
  void FillText(const TvgRect& r, const TvgRect&, const WideString& text, bool wordWrap, float opacity,
                TvgTextAlign horz, TvgTextAlign vert) override {
    TZelDrawCall& c = Add("FillText", r, opacity);
    c.Text = text;
    c.WordWrap = wordWrap;
    c.Horz = horz;
    c.Vert = vert;
  }
  void MeasureText(TvgRect& r, const TvgRect&, const WideString& text, bool, TvgTextAlign, TvgTextAlign) override {
    r.Right = r.Left + 7.0f * static_cast<float>(text.size());
    r.Bottom = r.Top + 13.0f;
  }
  void FillPath(const TvgPathData& path, const TvgRect& r, float opacity) override {
    Add("FillPath", r, opacity).Path = path.Points();
  }
  void DrawPath(const TvgPathData& path, const TvgRect& r, float opacity) override {
    Add("DrawPath", r, opacity).Path = path.Points();
  }

  std::vector<TZelDrawCall> Calls(const std::string& op) const {
    std::vector<TZelDrawCall> out;
    for (const auto& c : calls)
      if (c.Op == op) out.push_back(c);
    return out;
  }

  std::vector<TZelDrawCall> calls;
  int clears = 0;

 private:
  TZelDrawCall& Add(const char* op, const TvgRect& r, float opacity) {
    TZelDrawCall c;
    c.Op = op;
    c.Rect = r;
    c.Opacity = opacity;
    c.FillColor = GetFill()->GetSolidColorValue();
    c.FillStyle = GetFill()->GetStyle();
    c.StrokeColor = GetStroke()->GetSolidColorValue();
    c.StrokeThickness = GetStrokeThickness();
    c.Dash = GetStrokeDash();
    c.Cap = GetStrokeCap();
    c.FontFamily = GetFont()->GetFamily();
    c.FontSize = GetFont()->GetSize();
    calls.push_back(c);
    return calls.back();
  }
};

// A scene with a recording canvas, with the recording canvas as the default canvas class (so
// bitmaps draw through it too).
struct TZelSceneFixture {
  TZelSceneFixture() : canvas(400, 400) {
    vgSetDefaultCanvasClass(vgCanvasClassOf<TZelRecordingCanvas>());
    scene.canvas = &canvas;
  }
  ~TZelSceneFixture() {
    owned.clear();  // bitmaps free their canvases through the class still installed
    vgSetDefaultCanvasClass(nullptr);
  }
  // Adds the object as a root and paints it (BeforePaint, Paint) into a fresh recording.
  template <typename T>
  T* Add(T* obj) {
    scene.AddObject(obj);
    owned.emplace_back(obj);
    return obj;
  }
  void Paint(TvgVisualObject* obj) {
    canvas.calls.clear();
    obj->BeforePaint();
    obj->Paint();
  }
  TTestScene scene;
  TZelRecordingCanvas canvas;
  std::vector<std::unique_ptr<TvgObject>> owned;
};

// Records ShowCursor and SetCursorPos while alive.
struct TZelCursorRecorder {
  TZelCursorRecorder() {
    Instance() = this;
    TZelCursorHooks hooks;
    hooks.Show = [](bool show) { Instance()->shows.push_back(show); };
    hooks.SetPos = [](int32_t x, int32_t y) { Instance()->positions.push_back(vgPoint(float(x), float(y))); };
    ZelSetCursorHooks(&hooks);
  }
  ~TZelCursorRecorder() {
    ZelSetCursorHooks(nullptr);
    Instance() = nullptr;
  }
  static TZelCursorRecorder*& Instance() {
    static TZelCursorRecorder* instance = nullptr;
    return instance;
  }
  std::vector<bool> shows;
  std::vector<TvgPoint> positions;
};
