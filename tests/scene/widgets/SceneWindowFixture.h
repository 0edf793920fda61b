// Test support of the widgets under Wine: a real scene window parented in a host window, drawn
// by GDI+ in the default style linked into the test program, driven by mouse and key messages
// sent to its window and read back pixel by pixel.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "classlib/WindowTestUtils.h"
#include "scene/controls/DefaultStyleSupport.h"
#include "scene/controls/vg_controls.h"
#include "scene/controls/vg_layouts.h"
#include "scene/core/vg_resources.h"
#include "scene/core/win32/vg_gdiplus.h"
#include "scene/core/win32/vg_scene.h"
#include "scene/shapes/vg_animations.h"
#include "scene/shapes/vg_effects.h"

class SceneWindowFixture : public ::testing::Test {
 protected:
  explicit SceneWindowFixture(int width = 640, int height = 480) : width_(width), height_(height) {}
  void SetUp() override {
    StartGdiPlus();
    ASSERT_TRUE(GdiPlusStarted());
    vgInitObjectsUnit();
    vgInitAnimationsUnit();
    vgInitEffectsUnit();
    vgInitLayoutsUnit();
    host = std::make_unique<TForeignWindow>(width_, height_);
    scene = TWinControl::CreateParented<TvgScene>(host->handle);
    scene->SetBounds(0, 0, width_, height_);
    scene->HandleNeeded();
    ShowWindow(scene->GetHandle(), SW_SHOWNA);
    root = new TvgBackground(nullptr);
    root->GetFill()->SetStyle(vgBrushSolid);
    root->GetFill()->SetSolidColor(0xFF2B2B2Bu);
    scene->AddObject(root);
    SetForegroundWindow(host->handle);
    SetFocus(scene->GetHandle());
    Settle();
  }
  void TearDown() override {
    delete scene;
    scene = nullptr;
    host.reset();
  }
  // A control of class T on the root, its style applied.
  template <typename T>
  T* Add(float x, float y, float w, float h) {
    auto* c = new T(nullptr);
    c->SetBounds(x, y, w, h);
    c->SetParent(root);
    c->ApplyResource();
    return c;
  }
  // Lets the scene paint what is queued and its timers run.
  void Settle(int ms = 120) {
    PumpUntil([] { return false; }, ms);
  }
  HWND Window() const { return scene->GetHandle(); }
  void Move(int x, int y, bool leftHeld) {
    SendMessageW(Window(), WM_MOUSEMOVE, leftHeld ? MK_LBUTTON : 0, MAKELPARAM(x, y));
  }
  void Press(int x, int y) {
    Move(x, y, false);
    SendMessageW(Window(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  }
  void Release(int x, int y) { SendMessageW(Window(), WM_LBUTTONUP, 0, MAKELPARAM(x, y)); }
  void Click(int x, int y) {
    Press(x, y);
    Release(x, y);
  }
  // Presses at (x0, y0), moves in `steps` steps to (x1, y1) with the button held, releases there.
  void Drag(int x0, int y0, int x1, int y1, int steps = 4) {
    Press(x0, y0);
    for (int k = 1; k <= steps; ++k) Move(x0 + (x1 - x0) * k / steps, y0 + (y1 - y0) * k / steps, true);
    Release(x1, y1);
  }
  // A key, with modifiers held (VK_CONTROL, VK_SHIFT), through the system's input queue, so
  // that the modifiers' state is the keyboard's.
  void Key(WORD key, std::vector<WORD> modifiers = {}) { Send(KeyInputs(key, modifiers)); }
  // Characters as typed (each UTF-16 unit as a Unicode key).
  void Type(const std::u16string& text) { Send(TypedInputs(text)); }
  void Send(std::vector<INPUT> in) {
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
    Settle(60);
  }
  // The window's pixels as they are on the screen now (0x00RRGGBB).
  TWindowPixels Pixels() {
    Settle();
    return TWindowPixels(Window());
  }
  // Keeps a picture of the scene beside the test program for a look.
  bool SavePicture(const std::string& fileName) {
    TvgBitmap bitmap(width_, height_);
    TvgCanvas* canvas = bitmap.GetCanvas();
    if (canvas == nullptr) return false;
    root->PaintTo(canvas, vgRect(0, 0, static_cast<float>(width_), static_cast<float>(height_)));
    return bitmap.SaveToFile(fileName);
  }

  std::unique_ptr<TForeignWindow> host;
  TvgScene* scene = nullptr;
  TvgBackground* root = nullptr;

 private:
  int width_;
  int height_;
};

// The scene window in the default style linked into the test program (DefaultStyleSupport.cpp).
class DefaultStyleWindowFixture : public SceneWindowFixture {
 protected:
  void SetUp() override {
    ASSERT_NE(UseDefaultStyle(), nullptr);
    SceneWindowFixture::SetUp();
  }
  void TearDown() override {
    SceneWindowFixture::TearDown();
    vgFreeDefaultStyle();
  }
};

// Each channel of two 0x..RRGGBB colours within `tolerance`.
inline ::testing::AssertionResult NearRgb(uint32_t a, uint32_t b, int tolerance = 2) {
  for (int shift : {16, 8, 0}) {
    const int d = static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF);
    if (d > tolerance || d < -tolerance)
      return ::testing::AssertionFailure() << std::hex << (a & 0xFFFFFF) << " vs " << (b & 0xFFFFFF);
  }
  return ::testing::AssertionSuccess();
}
