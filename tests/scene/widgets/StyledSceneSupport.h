// Test support of the grid, colour and design controls: a recording scene whose controls take
// their looks from the real default style, loaded once per program, and manual timers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scene/controls/vg_controls.h"
#include "scene/core/ObjectsTestSupport.h"

// The recording canvas of the object tests, also recording ellipses, lines and texts.
class TWidgetCanvas : public TObjRecordingCanvas {
 public:
  using TObjRecordingCanvas::TObjRecordingCanvas;
  void FillEllipse(const TvgRect& r, float) override { ellipses.push_back(r); }
  void DrawEllipse(const TvgRect& r, float) override { rings.push_back(r); }
  void DrawLine(const TvgPoint& a, const TvgPoint& b, float) override { lines.push_back({a.X, a.Y, b.X, b.Y}); }
  void FillText(const TvgRect& r, const TvgRect&, const WideString& text, bool, float, TvgTextAlign,
                TvgTextAlign) override {
    texts.push_back(text);
  }
  void MeasureText(TvgRect& r, const TvgRect&, const WideString& text, bool, TvgTextAlign, TvgTextAlign) override {
    r.Right = r.Left + 7.0f * static_cast<float>(text.size());
    r.Bottom = r.Top + 14;
  }
  std::vector<TvgRect> ellipses, rings, lines;
  std::vector<WideString> texts;
};

class StyledSceneFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A control of class T at (x, y) with size w x h on the form, its style applied.
  template <typename T>
  T* Add(float x, float y, float w, float h) {
    auto* c = new T(nullptr);
    c->SetBounds(x, y, w, h);
    c->SetParent(form);
    c->ApplyResource();
    return c;
  }

  TTestScene scene;
  TvgVisualObject* form = nullptr;
};

// Counts notifications and remembers their order through a shared log.
struct TEventLog {
  std::vector<std::string> entries;
  void Change(TObject*) { entries.push_back("change"); }
  void Select(TObject*) { entries.push_back("select"); }
  TNotifyEvent OnChange() { return TNotifyEvent::Of<&TEventLog::Change>(this); }
  TNotifyEvent OnSelect() { return TNotifyEvent::Of<&TEventLog::Select>(this); }
  int Count(const std::string& what) const {
    return static_cast<int>(std::count(entries.begin(), entries.end(), what));
  }
};
