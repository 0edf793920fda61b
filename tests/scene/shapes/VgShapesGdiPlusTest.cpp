// Shapes drawn by the GDI+ canvas into a TvgBitmap under Wine, read back pixel by pixel.
#include <gtest/gtest.h>

#include "ShapesTestSupport.h"
#include "scene/core/GdiPlusTestEnvironment.h"
#include "scene/core/win32/vg_canvas_gdiplus.h"

namespace {

// A scene whose canvas draws into a bitmap; objects paint themselves on it.
struct PixelScene {
  PixelScene() : bitmap(60, 60) {
    vgInitObjectsUnit();
    bitmap.Clear(0);
    scene.canvas = bitmap.GetCanvas();
  }
  template <typename T>
  T* Add(float w, float h) {
    auto* obj = new T(nullptr);
    obj->SetWidth(w);
    obj->SetHeight(h);
    scene.AddObject(obj);
    owned.emplace_back(obj);
    return obj;
  }
  void Paint(TvgVisualObject* obj) {
    obj->BeforePaint();
    obj->Paint();
    obj->AfterPaint();
  }
  ~PixelScene() {
    for (auto& o : owned) {
      scene.RemoveObject(o.get());
      o->SetScene(nullptr);
    }
  }
  TvgBitmap bitmap;
  TTestScene scene;
  std::vector<std::unique_ptr<TvgVisualObject>> owned;
};

TEST(ShapesGdiPlus, RectangleFillAndStrokeAtKnownPixels) {
  PixelScene s;
  auto* rect = s.Add<TvgRectangle>(40, 40);
  rect->GetFill()->SetSolidColor(0xFF00FF00u);
  rect->GetStroke()->SetSolidColor(0xFFFF0000u);
  rect->SetStrokeThickness(4);
  s.Paint(rect);
  EXPECT_EQ(s.bitmap.Pixel(20, 20), 0xFF00FF00u);
  const uint32_t edge = s.bitmap.Pixel(1, 20);
  EXPECT_EQ(edge >> 24, 0xFFu);
  EXPECT_GT(edge >> 16 & 0xFF, 0xC0u);
  EXPECT_LT(edge >> 8 & 0xFF, 0x40u);
  EXPECT_EQ(s.bitmap.Pixel(45, 45), 0u);
}

TEST(ShapesGdiPlus, EllipseInsideAndOutside) {
  PixelScene s;
  auto* e = s.Add<TvgEllipse>(50, 50);
  e->GetFill()->SetSolidColor(0xFF0000FFu);
  e->GetStroke()->SetStyle(vgBrushNone);
  s.Paint(e);
  EXPECT_EQ(s.bitmap.Pixel(25, 25), 0xFF0000FFu);
  EXPECT_EQ(s.bitmap.Pixel(2, 2), 0u);
  EXPECT_EQ(s.bitmap.Pixel(47, 47), 0u);
}

TEST(ShapesGdiPlus, TextPixelsAppearWhereTheTextIs) {
  PixelScene s;
  auto* t = s.Add<TvgText>(60, 30);
  // Wine's GDI+ finds only fontconfig faces.
  t->GetFont()->SetFamily("DejaVu Sans");
  t->GetFont()->SetSize(20);
  t->SetText(u"HH");
  s.Paint(t);
  int top = 0, bottom = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 60; ++x)
      if (s.bitmap.Pixel(x, y) >> 24 > 0x80) (y < 30 ? top : bottom)++;
  EXPECT_GT(top, 20);
  EXPECT_EQ(bottom, 0);
}

TEST(ShapesGdiPlus, BlurRectangleIsSoftAtItsEdgeAndHalvedTwiceByOpacity) {
  PixelScene s;
  auto* b = s.Add<TvgBlurRectangle>(50, 50);
  b->GetFill()->SetSolidColor(0xFFFFFFFFu);
  s.Paint(b);
  EXPECT_EQ(s.bitmap.Pixel(25, 25) >> 24, 0xFFu);
  const uint32_t edge = s.bitmap.Pixel(4, 25) >> 24;
  EXPECT_GT(edge, 0x10u);
  EXPECT_LT(edge, 0xF0u);
  s.bitmap.Clear(0);
  b->SetOpacity(0.5f);
  b->GetFill()->SetSolidColor(0xFFFFFFFEu);  // a change of fill renders the cache again
  s.Paint(b);
  EXPECT_NEAR(static_cast<int>(s.bitmap.Pixel(25, 25) >> 24), 64, 4);
}

}  // namespace
