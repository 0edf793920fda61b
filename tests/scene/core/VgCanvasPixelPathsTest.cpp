// The GDI+ window canvas's own paths against GDI+ itself: every operation drawn on two window
// canvases of the same varied pixels, one through GDI+ alone, the other with its clip kept in
// device pixels, its whole-pixel fills, copies and tilings and its kept paintings of texts and
// shapes, and every pixel compared. Runs under Wine's GDI+.
#include "scene/core/win32/vg_canvas_gdiplus.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "scene/core/GdiPlusTestEnvironment.h"
#include "scene/core/vg_pathdata.h"

namespace {

class CanvasPixelPathsTest : public ::testing::Test {
 protected:
  static constexpr int32_t kW = 96, kH = 64;

  void SetUp() override {
    reference = std::make_unique<TvgCanvasGdiPlus>(kW, kH);
    fast = std::make_unique<TvgCanvasGdiPlus>(kW, kH);
    reference->SetDrawsWholePixels(false);
    fast->SetDrawsWholePixels(true);
    ASSERT_TRUE(fast->DrawsWholePixels());
    ASSERT_FALSE(reference->DrawsWholePixels());
    // Varied premultiplied pixels, some transparent, some opaque.
    std::mt19937 random(7);
    std::vector<uint32_t> start(kW * kH);
    for (uint32_t& p : start) {
      const uint32_t a = random() % 3 == 0 ? 255 : random() % 256;
      p = a << 24 | (random() % (a + 1)) << 16 | (random() % (a + 1)) << 8 | (random() % (a + 1));
    }
    for (TvgCanvasGdiPlus* c : Both()) {
      std::copy(start.begin(), start.end(), c->GetBufferBits());
      c->GetFont()->SetFamily(TextFamily());
    }
  }

  std::vector<TvgCanvasGdiPlus*> Both() { return {reference.get(), fast.get()}; }
  // Draws the same on both canvases.
  void Draw(const std::function<void(TvgCanvasGdiPlus&)>& draw) {
    for (TvgCanvasGdiPlus* c : Both()) draw(*c);
  }
  ::testing::AssertionResult Same() {
    GdiFlush();
    int differing = 0;
    char first[96] = "";
    for (int32_t i = 0; i < kW * kH; ++i) {
      const uint32_t a = reference->GetBufferBits()[i], b = fast->GetBufferBits()[i];
      if (a == b) continue;
      if (differing++ == 0)
        std::snprintf(first, sizeof first, "first at (%d, %d): GDI+ %08X, canvas %08X", i % kW, i / kW, a, b);
      }
    if (differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " pixels differ, " << first;
  }
  static std::string TextFamily() {
    for (const char* name : {"Tahoma", "DejaVu Sans", "Liberation Sans", "Arial"}) {
      vg_gdip::TGPFontFamily f(Utf8ToWide(name), nullptr);
      if (f.IsAvailable()) return name;
    }
    return "Tahoma";
  }
  static void Solid(TvgBrush* brush, TvgColor color) {
    brush->SetStyle(vgBrushSolid);
    brush->SetSolidColor(color);
  }
  static void Translate(TvgCanvas& c, float x, float y) {
    TvgMatrix m = IdentityMatrix;
    m.m31 = x;
    m.m32 = y;
    c.SetMatrix(m);
  }

  std::unique_ptr<TvgCanvasGdiPlus> reference, fast;
};

TEST_F(CanvasPixelPathsTest, GdiPlusAgreesWithTheCanvasesOwnPaths) {
  // Otherwise every other test here compares GDI+ with itself.
  EXPECT_TRUE(TvgCanvasGdiPlus::WholePixelPathsAgree());
  TvgCanvasGdiPlus window(10, 10);
  EXPECT_TRUE(window.DrawsWholePixels());
  TvgBitmap bitmap(10, 10);
  EXPECT_FALSE(static_cast<TvgCanvasGdiPlus*>(bitmap.GetCanvas())->DrawsWholePixels());
}

TEST_F(CanvasPixelPathsTest, SolidRectsAtEveryEighthOfAPixel) {
  Draw([](TvgCanvasGdiPlus& c) { c.SetClipRects({vgRect(1, 1, 50, 40), vgRect(30, 10, 95, 63), vgRect(1, 1, 50, 40)}); });
  const TvgColor colors[] = {0xFF8B95FFu, 0x7E4E5BDCu, 0x01FFFFFFu, 0xC0000000u};
  int32_t n = 0;
  for (int32_t k = -8; k <= 16; ++k) {
    for (float width : {0.3f, 1.0f, 2.5f, 7.25f}) {
      const float x = 1 + k / 8.0f + (n % 11) * 7.0f, y = (n % 9) * 6.5f - 2;
      const TvgColor color = colors[n % 4];
      const float opacity = n % 3 == 0 ? 0.6f : 1.0f;
      const float tx = (n % 5) / 4.0f;
      Draw([&](TvgCanvasGdiPlus& c) {
        Translate(c, tx, -tx);
        Solid(c.GetFill(), color);
        c.FillRect(vgRect(x, y, x + width, y + 4 + k / 8.0f), 0, 0, vgAllCorners, opacity);
      });
      ++n;
    }
  }
  EXPECT_TRUE(Same());
}

TEST_F(CanvasPixelPathsTest, RoundedRectsAndOutlinesAroundClipsInsideAndAcrossThem) {
  struct Case {
    TvgRect clip;  // device
    TvgCornerType type;
    bool gradient;
  };
  const Case cases[] = {{vgRect(20, 20, 60, 40), vgCornerRound, false},  // inside the corners: drawn directly
                        {vgRect(0, 0, 96, 64), vgCornerRound, false},     // across the outline: kept paintings
                        {vgRect(2, 30, 50, 60), vgCornerBevel, true},
                        {vgRect(15, 12, 80, 50), vgCornerInnerRound, false},
                        {vgRect(40.5f, 10, 70, 30), vgCornerInnerLine, false}};  // fractional: GDI+
  for (const Case& test : cases) {
    Draw([&](TvgCanvasGdiPlus& c) {
      c.ResetClipRect();
      Translate(c, 0, 0);
      c.IntersectClipRect(test.clip);
      Translate(c, 3.5f, 2);
      if (test.gradient) {
        c.GetFill()->SetStyle(vgBrushGradient);
        c.GetFill()->GetGradient()->GetPoints()->Clear();
        c.GetFill()->GetGradient()->GetPoints()->AddPoint(0xFFFF0000u, 0.1f);
        c.GetFill()->GetGradient()->GetPoints()->AddPoint(0x8000FF00u, 0.9f);
      } else {
        Solid(c.GetFill(), 0xB0306090u);
      }
      c.FillRect(vgRect(2.5f, 1.5f, 85, 55), 8, 6, vgAllCorners, 0.9f, test.type);
      Solid(c.GetStroke(), 0xE0F08020u);
      c.SetStrokeThickness(1.5f);
      c.DrawRect(vgRect(2.5f, 1.5f, 85, 55), 8, 6, vgAllCorners, 1, test.type);
      c.DrawRect(vgRect(10.5f, 8.5f, 60.5f, 40.5f), 0, 0, vgAllCorners, 0.7f);
    });
    EXPECT_TRUE(Same()) << test.clip.Left << "," << test.clip.Top;
  }
}

TEST_F(CanvasPixelPathsTest, BitmapsAtTheirOwnSizeScaledAndFaded) {
  TvgBitmap image(17, 11);
  std::mt19937 random(3);
  for (int32_t i = 0; i < 17 * 11; ++i) {
    const uint32_t a = random() % 256;
    image.Bits()[i] = a << 24 | (random() % (a + 1)) << 16 | (random() % (a + 1)) << 8 | (random() % (a + 1));
  }
  struct Case {
    TvgRect src, dst;
    float tx, opacity;
    bool highSpeed;
  };
  const Case cases[] = {{vgRect(0, 0, 17, 11), vgRect(3, 4, 20, 15), 5, 1, false},
                        {vgRect(2, 1, 15, 9), vgRect(-4, 50, 9, 58), 2, 1, true},      // partly outside the canvas
                        {vgRect(0, 0, 17, 11), vgRect(40.5f, 4, 57.5f, 15), 0, 1, false},  // fractional: GDI+
                        {vgRect(0, 0, 17, 11), vgRect(60, 20, 94, 42), 0, 1, false},      // scaled: GDI+
                        {vgRect(0, 0, 17, 11), vgRect(20, 30, 37, 41), 1, 0.5f, false},   // faded: GDI+
                        {vgRect(10, 5, 20, 15), vgRect(70, 50, 80, 60), 0, 1, false}};     // beyond the bitmap
  Draw([](TvgCanvasGdiPlus& c) { c.SetClipRects({vgRect(0, 0, 60, 64), vgRect(50, 10, 96, 50)}); });
  for (const Case& test : cases) {
    Draw([&](TvgCanvasGdiPlus& c) {
      Translate(c, test.tx, 1);
      c.DrawBitmap(image, test.src, test.dst, test.opacity, test.highSpeed);
    });
    EXPECT_TRUE(Same()) << test.dst.Left << "," << test.dst.Top;
  }
}

TEST_F(CanvasPixelPathsTest, TexturesOpaqueAndTranslucentInEveryWrapMode) {
  TvgBitmap opaque(13, 7), translucent(13, 7);
  for (int32_t i = 0; i < 13 * 7; ++i) {
    opaque.Bits()[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x0A0B0Cu);
    const uint32_t a = (i * 37) % 256;
    translucent.Bits()[i] = a << 24 | (a / 2) << 16 | (a / 3) << 8 | (a / 5);
  }
  int32_t n = 0;
  for (TvgBitmap* texture : {&opaque, &translucent}) {
    for (TvgWrapMode mode : {vgWrapTile, vgWrapTileOriginal, vgWrapTileStretch}) {
      for (float tx : {-3.0f, 2.0f, 0.5f}) {
        Draw([&](TvgCanvasGdiPlus& c) {
          c.ResetClipRect();
          Translate(c, 0, 0);
          c.SetClipRects({vgRect(static_cast<float>(n % 7), 2, 70, 40), vgRect(20, 30, 96, 64)});
          Translate(c, tx, 3);
          c.GetFill()->SetStyle(vgBrushBitmap);
          c.GetFill()->GetBitmap()->SetBitmap(texture);
          c.GetFill()->GetBitmap()->SetWrapMode(mode);
          c.FillRect(vgRect(1, 1, 90, 58), 0, 0, vgAllCorners, n % 4 == 3 ? 0.7f : 1.0f);
        });
        EXPECT_TRUE(Same()) << n;
        ++n;
      }
    }
  }
}

TEST_F(CanvasPixelPathsTest, TextsAndShapesPaintedAgainFromWhatTheyPainted) {
  TvgPathData path;
  path.MoveTo(vgPoint(0, 0));
  path.CurveTo(vgPoint(30, 50), vgPoint(60, -20), vgPoint(90, 40));
  path.LineTo(vgPoint(10, 60));
  path.ClosePath();
  auto shapes = [&](TvgCanvasGdiPlus& c, TvgColor color) {
    Translate(c, 0.5f, 0.25f);
    Solid(c.GetFill(), color);
    c.FillText(vgRect(1.5f, 2, 90, 16), TvgRect(), u"Kg,ab glyphs", false, 1, vgTextAlignNear, vgTextAlignCenter);
    c.FillText(vgRect(10, 14, 60, 60), TvgRect(), u"wrapped words in a box", true, 0.7f, vgTextAlignCenter,
               vgTextAlignFar);
    c.FillText(vgRect(80, 30, 94, 40), TvgRect(), u"runs past the right", false, 1, vgTextAlignFar, vgTextAlignNear);
    c.FillEllipse(vgRect(40, 20, 70, 50), 0.8f);
    c.FillPath(path, vgRect(50, 30, 90, 60), 0.6f);
    Solid(c.GetStroke(), color ^ 0x00FFFFFFu);
    c.SetStrokeThickness(2);
    c.DrawEllipse(vgRect(5, 30, 35, 58), 1);
    c.DrawLine(vgPoint(1, 62), vgPoint(94, 3), 0.9f);
    c.DrawLine(vgPoint(0, 20.5f), vgPoint(96, 20.5f), 1);
  };
  Draw([](TvgCanvasGdiPlus& c) { c.SetClipRects({vgRect(0, 0, 40, 64), vgRect(38, 5, 96, 60)}); });
  for (int pass = 0; pass < 2; ++pass) {
    Draw([&](TvgCanvasGdiPlus& c) { shapes(c, 0xE0203040u); });
    EXPECT_TRUE(Same()) << pass;
  }
  // Another colour and another place are other paintings.
  Draw([&](TvgCanvasGdiPlus& c) { shapes(c, 0x90F04020u); });
  EXPECT_TRUE(Same());
  Draw([&](TvgCanvasGdiPlus& c) {
    c.ResetClipRect();
    TvgMatrix m = IdentityMatrix;
    m.m31 = 7;
    m.m32 = 3;
    c.SetMatrix(m);
    c.FillText(vgRect(1.5f, 2, 90, 16), TvgRect(), u"Kg,ab glyphs", false, 1, vgTextAlignNear, vgTextAlignCenter);
  });
  EXPECT_TRUE(Same());
}

TEST_F(CanvasPixelPathsTest, AResizedCanvasPaintsAsAFreshOneOfItsSize) {
  // What a small canvas kept of a text and shapes running past its edges is of no use once it grew.
  const std::vector<uint32_t> start(fast->GetBufferBits(), fast->GetBufferBits() + kW * kH);
  auto paint = [](TvgCanvasGdiPlus& c) {
    Translate(c, 0.5f, 0.25f);
    Solid(c.GetFill(), 0xE0C04080u);
    c.FillEllipse(vgRect(20, 4, 80, 40), 1);
    c.FillText(vgRect(2, 28, 94, 46), TvgRect(), u"Kg,ab past the edge", false, 1, vgTextAlignNear, vgTextAlignCenter);
    Solid(c.GetStroke(), 0xFF20E040u);
    c.SetStrokeThickness(3);
    c.DrawRect(vgRect(10, 10, 70, 56), 6, 6, vgAllCorners, 1);
  };
  fast->ResizeBuffer(40, 36);
  paint(*fast);
  fast->ResizeBuffer(kW, kH);
  GdiFlush();
  std::copy(start.begin(), start.end(), fast->GetBufferBits());
  Draw(paint);
  EXPECT_TRUE(Same());
}

TEST_F(CanvasPixelPathsTest, SavedClipsExclusionsRotationsAndUnknownTransforms) {
  Draw([](TvgCanvasGdiPlus& c) {
    c.SetClipRects({vgRect(0, 0, 80, 50), vgRect(30, 20, 96, 64)});
    Translate(c, 2, 3);
    Solid(c.GetFill(), 0x80FF8000u);
    const int32_t outer = c.SaveCanvas();
    c.IntersectClipRect(vgRect(5, 5, 60, 40));
    c.FillRect(vgRect(0, 0, 90, 60), 0, 0, vgAllCorners, 1);
    const int32_t inner = c.SaveCanvas();
    c.ExcludeClipRect(vgRect(20, 10, 30, 20));  // not tracked: GDI+ clips from here
    Solid(c.GetFill(), 0xFF0040FFu);
    c.FillRect(vgRect(0, 0, 90, 60), 3, 3, vgAllCorners, 0.7f);
    const int32_t deepest = c.SaveCanvas();
    c.IntersectClipRect(vgRect(10.25f, 8, 50, 30.75f));
    c.FillRect(vgRect(0, 0, 90, 60), 0, 0, vgAllCorners, 1);
    c.RestoreCanvas(deepest);
    c.RestoreCanvas(inner);
    Solid(c.GetFill(), 0x4000FF00u);
    c.FillRect(vgRect(0, 0, 90, 60), 0, 0, vgAllCorners, 1);
    c.RestoreCanvas(outer);
    // A rotated clip and a transform the canvas does not follow.
    TvgMatrix rotated = vgCreateRotationMatrix(0.3f);
    rotated.m31 = 40;
    rotated.m32 = 5;
    c.SetMatrix(rotated);
    c.IntersectClipRect(vgRect(0, 0, 40, 30));
    Solid(c.GetFill(), 0xA0C0C0C0u);
    c.FillRect(vgRect(-10, -10, 60, 50), 0, 0, vgAllCorners, 1);
    Translate(c, 1, 1);
    TvgMatrix scale = IdentityMatrix;
    scale.m11 = 1.5f;
    c.MultiplyMatrix(scale);
    c.FillRect(vgRect(10, 10, 30, 30), 0, 0, vgAllCorners, 1);
    c.ResetClipRect();
    c.SetClipRects({vgRect(0.5f, 0, 30.5f, 64)});
    Translate(c, 0, 0);
    Solid(c.GetFill(), 0xFFFFFFFFu);
    c.FillRect(vgRect(0, 30, 96, 34), 0, 0, vgAllCorners, 1);
  });
  EXPECT_TRUE(Same());
}

TEST_F(CanvasPixelPathsTest, OperationsBeyondTheClipLeaveEveryPixel) {
  const std::vector<uint32_t> before(fast->GetBufferBits(), fast->GetBufferBits() + kW * kH);
  TvgBitmap image(8, 8);
  image.Clear(0xFF00FF00u);
  Draw([&](TvgCanvasGdiPlus& c) {
    c.SetClipRects({vgRect(40, 30, 50, 40)});
    Solid(c.GetFill(), 0xFFFF0000u);
    Solid(c.GetStroke(), 0xFF0000FFu);
    c.SetStrokeThickness(3);
    c.FillRect(vgRect(0, 0, 30, 20), 4, 4, vgAllCorners, 1);
    c.DrawRect(vgRect(0.5f, 0.5f, 95.5f, 63.5f), 2, 2, vgAllCorners, 1);  // the clip lies inside
    c.DrawLine(vgPoint(0, 10), vgPoint(96, 12), 1);
    c.FillEllipse(vgRect(60, 40, 90, 60), 1);
    c.DrawBitmap(image, vgRect(0, 0, 8, 8), vgRect(0, 50, 8, 58), 1);
    c.FillText(vgRect(0, 50, 96, 64), TvgRect(), u"below the clip", false, 1, vgTextAlignNear, vgTextAlignCenter);
  });
  EXPECT_TRUE(Same());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), fast->GetBufferBits()));
}

}  // namespace
