// Test support of the controls: a small style built in code with the parts each control looks
// for, a scene fixture, and manual timers for the controls' repeat timer.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "scene/controls/vg_controls.h"
#include "scene/core/ObjectsTestSupport.h"

// A part of class T named `name` under `parent` in a style built in code, aligned by `align`.
template <typename T>
T* AddStylePart(TvgObject* parent, const std::string& name, TvgAlign align = vaNone) {
  auto* part = new T(nullptr);
  part->SetResourceName(name);
  if (auto* v = dynamic_cast<TvgVisualObject*>(part)) v->SetAlign(align);
  parent->AddObject(part);
  return part;
}

// A style named `name` under the style root: a visual object that takes no hits.
TvgVisualObject* AddStyle(TvgObject* root, const std::string& name);

// The probe animation of the style part named `owner` answering `trigger`.
TProbeAnimation* FindProbe(TvgObject* style, const std::string& trigger);

// A style root with "labelstyle", "buttonstyle", "speedbuttonstyle", "cornerbuttonstyle",
// "checkboxstyle", "radiobuttonstyle", "trackstyle", "trackbarstyle", "scrollbarstyle" and the
// scroll box styles.
TvgObject* MakeControlsStyle();

class ControlsFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  template <typename T>
  T* Add(float x = 10, float y = 10, float w = 100, float h = 20) {
    auto* c = new T(nullptr);
    c->SetBounds(x, y, w, h);
    c->SetParent(form);
    c->ApplyResource();
    return c;
  }
  // The manual timer of the last control timer made.
  TvgManualAniTimer* LastTimer() { return timers.empty() ? nullptr : timers.back(); }

  TTestScene scene;
  TvgVisualObject* form = nullptr;
  std::vector<TvgManualAniTimer*> timers;
};

// Counts notifications.
struct TCounter {
  int count = 0;
  std::vector<TObject*> senders;
  void Hit(TObject* sender) {
    ++count;
    senders.push_back(sender);
  }
  TNotifyEvent Event() { return TNotifyEvent::Of<&TCounter::Hit>(this); }
};
