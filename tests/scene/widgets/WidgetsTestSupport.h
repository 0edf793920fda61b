// Test support of the widgets: the controls' style built in code extended by the parts the
// widgets look for, a scene whose canvas measures every character 7 wide, and key helpers.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "scene/controls/ControlsTestSupport.h"
#include "scene/shapes/ShapesTestSupport.h"

// The controls' style plus "textboxstyle" and the other widget styles.
TvgObject* MakeWidgetsStyle();

class WidgetsFixture : public ControlsFixture {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Sends a key (virtual-key code) and then its character, as the scene window does.
  void Key(TvgVisualObject* target, uint16_t key, TShiftState shift = {});
  void Char(TvgVisualObject* target, WideChar ch, TShiftState shift = {});
  void Type(TvgVisualObject* target, const std::u16string& text);
  TRecordingCanvas canvas;
  // Event counters that outlive the controls (which may report while the fixture frees them).
  TCounter changes, typing, tracking, checks;
};

constexpr uint16_t kVkBack = 8, kVkEnter = 13, kVkEnd = 35, kVkHome = 36, kVkLeft = 37, kVkUp = 38,
                   kVkRight = 39, kVkDown = 40, kVkInsert = 45, kVkDelete = 46, kVkPrior = 33, kVkNext = 34;
