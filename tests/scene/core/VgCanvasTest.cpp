// The abstract canvas: stroke dashes, polygons and arcs turned into paths, the outline of chosen
// sides, text measuring helpers, copying the buffer into a bitmap and the default canvas class,
// checked through a canvas that records what reaches its drawing operations.
#include "scene/core/vg_canvas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "scene/core/vg_canvas_p.h"

namespace {

// Records the paths and rects handed to the drawing operations; keeps a small buffer of its own.
class TRecordingCanvas : public TvgCanvas {
  KBL_DECLARE_CLASS(TRecordingCanvas, TvgCanvas)
 public:
  TRecordingCanvas(int32_t width, int32_t height) : TvgCanvas(width, height) {
    buffered_ = true;
    ResizeBuffer(width, height);
  }
  explicit TRecordingCanvas(TvgBitmap& bitmap) : TvgCanvas(bitmap) {}
  ~TRecordingCanvas() override { FreeBuffer(); }
  static uint32_t* GetBitmapScanline(TvgBitmap& bitmap, int32_t y) { return bitmap.Scanline(y); }

  void FreeBuffer() override {
    pixels.clear();
    bufferBits_ = nullptr;
  }
  void ResizeBuffer(int32_t width, int32_t height) override {
    width_ = std::max(width, 1);
    height_ = std::max(height, 1);
    pixels.assign(size_t(width_) * size_t(height_), 0);
    bufferBits_ = pixels.data();
    resized_ = true;
  }
  void FillPath(const TvgPathData& path, const TvgRect& r, float opacity) override {
    filled.push_back(path.Points());
    rects.push_back(r);
  }
  void DrawPath(const TvgPathData& path, const TvgRect& r, float opacity) override {
    drawn.push_back(path.Points());
    rects.push_back(r);
  }
  void MeasureText(TvgRect& r, const TvgRect&, const WideString& text, bool wordWrap, TvgTextAlign horz,
                   TvgTextAlign vert) override {
    measured.push_back(r);
    measuredWrap = wordWrap;
    measuredHorz = horz;
    measuredVert = vert;
    // 7 units per character, 13 high, cut at the rect as a real measure would be.
    r.Right = std::min(r.Left + 7.0f * float(text.size()), r.Right);
    r.Bottom = std::min(r.Top + 13.0f, r.Bottom);
  }
  void FontChanged(TObject*) override { ++fontChanges; }

  std::vector<uint32_t> pixels;
  std::vector<std::vector<TvgPathPoint>> filled, drawn;
  std::vector<TvgRect> rects, measured;
  bool measuredWrap = true;
  TvgTextAlign measuredHorz = vgTextAlignCenter, measuredVert = vgTextAlignFar;
  int fontChanges = 0;
};

// A canvas that overrides nothing.
class TBareCanvas : public TvgCanvas {
  KBL_DECLARE_CLASS(TBareCanvas, TvgCanvas)
 public:
  TBareCanvas() : TvgCanvas(0, 0) {}
};

TvgPathPoint P(TvgPathPointKind kind, float x, float y) { return {kind, {x, y}}; }

}  // namespace

KBL_PUBLISHED(TRecordingCanvas) {}
KBL_PUBLISHED(TBareCanvas) {}

// --- State

TEST(VgCanvasState, StartsWithWhiteFillBlackStrokeAndTahoma) {
  TRecordingCanvas c(4, 3);
  EXPECT_EQ(c.GetFill()->GetStyle(), vgBrushSolid);
  EXPECT_EQ(c.GetFill()->GetSolidColor(), 0xFFFFFFFFu);
  EXPECT_EQ(c.GetStroke()->GetStyle(), vgBrushSolid);
  EXPECT_EQ(c.GetStroke()->GetSolidColor(), 0xFF000000u);
  EXPECT_EQ(c.GetFont()->GetFamily(), "Tahoma");
  EXPECT_EQ(c.GetWidth(), 4);
  EXPECT_EQ(c.GetHeight(), 3);
  EXPECT_EQ(c.GetMatrix(), IdentityMatrix);
}

TEST(VgCanvasState, FontChangesReachFontChanged) {
  TRecordingCanvas c(1, 1);
  c.GetFont()->SetSize(20);
  TvgFont other;
  other.SetFamily("Arial");
  c.SetFont(&other);
  EXPECT_EQ(c.fontChanges, 2);
  EXPECT_EQ(c.GetFont()->GetFamily(), "Arial");
}

TEST(VgCanvasState, SetMatrixStoresAllNineValues) {
  TRecordingCanvas c(1, 1);
  const TvgMatrix m = {2, 0.5f, 0, -1, 3, 0, 10, 20, 1};
  c.SetMatrix(m);
  EXPECT_EQ(c.GetMatrix(), m);
}

TEST(VgCanvasState, OperationsNotProvidedRaise) {
  TBareCanvas c;
  EXPECT_THROW(c.Clear(0), EvgAbstractError);
  EXPECT_THROW(c.DrawLine({0, 0}, {1, 1}, 1), EvgAbstractError);
  EXPECT_THROW(c.SaveCanvas(), EvgAbstractError);
  EXPECT_TRUE(c.BeginScene());
  c.EndScene();
  c.MultiplyMatrix(IdentityMatrix);  // no base behaviour, no error
}

// --- Stroke dash

TEST(VgCanvasDash, EachDashSetsItsPatternAndResetsTheOffset) {
  TRecordingCanvas c(1, 1);
  struct Case {
    TvgStrokeDash dash;
    std::vector<float> pattern;
  } cases[] = {{vgDashDash, {3, 1}},
               {vgDashDot, {1, 1}},
               {vgDashDashDot, {3, 1, 1, 1}},
               {vgDashDashDotDot, {3, 1, 1, 1, 1, 1}},
               {vgDashSolid, {}}};
  for (const Case& k : cases) {
    c.SetDashOffset(5);
    c.SetStrokeDash(k.dash);
    EXPECT_EQ(c.GetDashArray(), k.pattern) << k.dash;
    EXPECT_EQ(c.GetDashOffset(), 0) << k.dash;
  }
}

TEST(VgCanvasDash, SameDashAgainKeepsTheOffset) {
  TRecordingCanvas c(1, 1);
  c.SetStrokeDash(vgDashDot);
  c.SetDashOffset(2.5f);
  c.SetStrokeDash(vgDashDot);
  EXPECT_EQ(c.GetDashOffset(), 2.5f);
}

TEST(VgCanvasDash, CustomKeepsPatternAndOffset) {
  TRecordingCanvas c(1, 1);
  c.SetStrokeDash(vgDashDashDot);
  c.SetDashOffset(1);
  c.SetStrokeDash(vgDashCustom);
  EXPECT_EQ(c.GetDashArray(), (std::vector<float>{3, 1, 1, 1}));
  EXPECT_EQ(c.GetDashOffset(), 1);
}

// --- Polygons

TEST(VgCanvasPolygon, FillClosesWithTheLastPoint) {
  TRecordingCanvas c(1, 1);
  c.FillPolygon({{0, 0}, {10, 0}, {10, 10}, {0, 0}}, 1);
  ASSERT_EQ(c.filled.size(), 1u);
  const auto& pts = c.filled[0];
  ASSERT_EQ(pts.size(), 4u);
  EXPECT_EQ(pts[0], P(vgPathPointMoveTo, 0, 0));
  EXPECT_EQ(pts[1], P(vgPathPointLineTo, 10, 0));
  EXPECT_EQ(pts[2], P(vgPathPointLineTo, 10, 10));
  EXPECT_EQ(pts[3].Kind, vgPathPointClose);
  EXPECT_EQ(c.rects[0], vgRect(0, 0, 10, 10));
}

TEST(VgCanvasPolygon, ThreePointFillLosesItsThirdPoint) {
  TRecordingCanvas c(1, 1);
  c.FillPolygon({{0, 0}, {10, 0}, {10, 10}}, 1);
  const auto& pts = c.filled.at(0);
  ASSERT_EQ(pts.size(), 3u);
  EXPECT_EQ(pts[1], P(vgPathPointLineTo, 10, 0));
  EXPECT_EQ(pts[2].Kind, vgPathPointClose);
}

TEST(VgCanvasPolygon, DrawLeavesTheOutlineOpen) {
  TRecordingCanvas c(1, 1);
  c.DrawPolygon({{0, 0}, {10, 0}, {10, 10}}, 1);
  const auto& pts = c.drawn.at(0);
  ASSERT_EQ(pts.size(), 3u);
  EXPECT_EQ(pts[2], P(vgPathPointLineTo, 10, 10));
}

TEST(VgCanvasPolygon, MarkerSplitsIntoTwoFigures) {
  TRecordingCanvas c(1, 1);
  const TvgPoint m = {vgClosePolygonValue, vgClosePolygonValue};
  c.DrawPolygon({{0, 0}, {4, 0}, {4, 4}, m, {10, 10}, {14, 10}, {14, 14}, m}, 1);
  const auto& pts = c.drawn.at(0);
  ASSERT_EQ(pts.size(), 8u);
  EXPECT_EQ(pts[3].Kind, vgPathPointClose);
  EXPECT_EQ(pts[4], P(vgPathPointMoveTo, 10, 10));
  EXPECT_EQ(pts[7].Kind, vgPathPointClose);
  EXPECT_EQ(c.rects[0], vgRect(0, 0, 14, 14));
}

// --- Arcs

TEST(VgCanvasArc, QuarterArcIsStrokedOverItsBounds) {
  TRecordingCanvas c(1, 1);
  c.DrawArc({50, 50}, {20, 10}, 0, 90, 1);
  const auto& pts = c.drawn.at(0);
  ASSERT_FALSE(pts.empty());
  EXPECT_EQ(pts.front().Kind, vgPathPointMoveTo);
  EXPECT_NEAR(pts.front().Point.X, 70, 1e-3);
  EXPECT_NEAR(pts.front().Point.Y, 50, 1e-3);
  EXPECT_NEAR(pts.back().Point.X, 50, 1e-3);
  EXPECT_NEAR(pts.back().Point.Y, 60, 1e-3);
  EXPECT_NEAR(c.rects[0].Left, 50, 1e-3);
  EXPECT_NEAR(c.rects[0].Bottom, 60, 1e-3);
}

// --- Sides of a rect

TEST(VgCanvasSides, AllSidesSquareCornersTraceTheRect) {
  TRecordingCanvas c(1, 1);
  c.DrawRectSides(vgRect(0, 0, 20, 10), 0, 0, TvgCorners(), 1, vgAllSides);
  const auto& pts = c.drawn.at(0);
  for (const TvgPathPoint& p : pts) {
    if (&p != &pts.front()) {
      EXPECT_EQ(p.Kind, vgPathPointLineTo);
    }
    const bool onEdge = p.Point.X == 0 || p.Point.X == 20 || p.Point.Y == 0 || p.Point.Y == 10;
    EXPECT_TRUE(onEdge) << p.Point.X << "," << p.Point.Y;
  }
  EXPECT_EQ(pts.back().Point, (TvgPoint{0, 0}));
  EXPECT_EQ(c.rects[0], vgRect(0, 0, 20, 10));
}

TEST(VgCanvasSides, OnlyBottomSideLiftsThePenElsewhere) {
  TRecordingCanvas c(1, 1);
  c.DrawRectSides(vgRect(0, 0, 20, 10), 0, 0, TvgCorners(), 1, TvgSides{vgSideBottom});
  const auto& pts = c.drawn.at(0);
  // Lines only along y = 10, and there from x = 20 to x = 0.
  float covered = 0;
  for (size_t i = 1; i < pts.size(); ++i) {
    if (pts[i].Kind != vgPathPointLineTo) continue;
    EXPECT_EQ(pts[i].Point.Y, 10);
    EXPECT_EQ(pts[i - 1].Point.Y, 10);
    covered += std::fabs(pts[i].Point.X - pts[i - 1].Point.X);
  }
  EXPECT_EQ(covered, 20);
}

TEST(VgCanvasSides, NoSidesNoCornersDrawsOnlyMoves) {
  TRecordingCanvas c(1, 1);
  c.DrawRectSides(vgRect(0, 0, 20, 10), 3, 3, TvgCorners(), 1, TvgSides());
  for (const TvgPathPoint& p : c.drawn.at(0)) EXPECT_EQ(p.Kind, vgPathPointMoveTo);
}

TEST(VgCanvasSides, RoundCornerUsesHalfRadiusControlsAndClampedRadii) {
  TRecordingCanvas c(1, 1);
  // Radii 30 on a 20 x 10 rect clamp to 10 and 5; the controls sit at half of those.
  c.DrawRectSides(vgRect(0, 0, 20, 10), 30, 30, TvgCorners{vgCornerTopLeft}, 1, TvgSides());
  const auto& pts = c.drawn.at(0);
  ASSERT_GE(pts.size(), 4u);
  EXPECT_EQ(pts[0], P(vgPathPointMoveTo, 0, 5));
  EXPECT_EQ(pts[1], P(vgPathPointCurveTo, 0, 2.5f));
  EXPECT_EQ(pts[2], P(vgPathPointCurveTo, 5, 0));
  EXPECT_EQ(pts[3], P(vgPathPointCurveTo, 10, 0));
}

TEST(VgCanvasSides, InnerLineCornerIsThreeLines) {
  TRecordingCanvas c(1, 1);
  c.DrawRectSides(vgRect(0, 0, 40, 40), 8, 4, TvgCorners{vgCornerTopRight}, 1, TvgSides(), vgCornerInnerLine);
  const auto& pts = c.drawn.at(0);
  // Start of the top-right corner: (R - x, T); then (R - x, T + ky), (R - kx, T + y), (R, T + y).
  auto it = std::find(pts.begin(), pts.end(), P(vgPathPointMoveTo, 32, 0));
  ASSERT_NE(it, pts.end());
  ASSERT_GE(pts.end() - it, 4);
  EXPECT_EQ(it[1], P(vgPathPointLineTo, 32, 2));
  EXPECT_EQ(it[2], P(vgPathPointLineTo, 36, 4));
  EXPECT_EQ(it[3], P(vgPathPointLineTo, 40, 4));
}

// --- Text helpers

TEST(VgCanvasText, WidthAndHeightMeasureWithoutWrapNearCentre) {
  TRecordingCanvas c(1, 1);
  EXPECT_EQ(c.TextWidth(u"abc"), 21);
  EXPECT_EQ(c.measured.back(), vgRect(0, 0, 10000, 20));
  EXPECT_FALSE(c.measuredWrap);
  EXPECT_EQ(c.measuredHorz, vgTextAlignNear);
  EXPECT_EQ(c.measuredVert, vgTextAlignCenter);
  EXPECT_EQ(c.TextHeight(u"abc"), 13);
  EXPECT_EQ(c.measured.back(), vgRect(0, 0, 10000, 10000));
}

TEST(VgCanvasText, WidthIsLimitedByTheMeasuringRect) {
  TRecordingCanvas c(1, 1);
  EXPECT_EQ(c.TextWidth(WideString(2000, u'x')), 10000);
}

// --- Buffer and bitmap

TEST(VgCanvasBuffer, AssignToBitmapCopiesEveryRow) {
  TRecordingCanvas c(3, 2);
  for (size_t i = 0; i < c.pixels.size(); ++i) c.pixels[i] = 0xFF000000u | uint32_t(i * 0x10101);
  TvgBitmap b(1, 1);
  b.Assign(&c);
  ASSERT_EQ(b.GetWidth(), 3);
  ASSERT_EQ(b.GetHeight(), 2);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(b.Pixel(x, y), c.pixels[size_t(y * 3 + x)]);
}

TEST(VgCanvasBuffer, AssignToOtherClassesRaises) {
  TRecordingCanvas c(1, 1);
  TvgBrush brush;
  EXPECT_THROW(brush.Assign(&c), EConvertError);
}

TEST(VgCanvasClass, DefaultClassCreatesCanvasesAndBitmapHooks) {
  EXPECT_EQ(vgCreateWindowCanvas(2, 2), nullptr);
  vgSetDefaultCanvasClass(vgCanvasClassOf<TRecordingCanvas>());
  {
    auto window = vgCreateWindowCanvas(5, 0);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->GetWidth(), 5);
    EXPECT_EQ(window->GetHeight(), 1);
    TvgBitmap bitmap(7, 4);
    TvgCanvas* canvas = bitmap.GetCanvas();
    ASSERT_NE(canvas, nullptr);
    EXPECT_EQ(canvas->GetTargetBitmap(), &bitmap);
    EXPECT_EQ(canvas->GetWidth(), 7);
    EXPECT_EQ(vgGetBitmapScanline(bitmap, 1), bitmap.Bits() + 7);
    EXPECT_EQ(vgDefaultCanvasClass()->Info, TRecordingCanvas::StaticClassInfo());
  }
  vgSetDefaultCanvasClass(nullptr);
  TvgBitmap bitmap(2, 2);
  EXPECT_EQ(bitmap.GetCanvas(), nullptr);
}

// --- Gradient stops handed to interpolating brushes

TEST(VgCanvasGradient, StopsCarryEveryPointAndReachTheEndsWhenAsked) {
  TvgGradient gradient;
  TvgGradientPoints* points = gradient.GetPoints();
  points->Clear();
  std::vector<TvgColor> colors;
  std::vector<float> positions;
  points->AddPoint(0xFF0000FFu, 0);
  vgGradientStops(gradient, 1, true, colors, positions);
  EXPECT_TRUE(colors.empty());  // one point is a solid colour, not a gradient
  // Edge to centre of a radial gradient: exactly its two points.
  points->AddPoint(0xFFFFFF00u, 1);
  vgGradientStops(gradient, 1, true, colors, positions);
  EXPECT_EQ(colors, (std::vector<TvgColor>{0xFF0000FFu, 0xFFFFFF00u}));
  EXPECT_EQ(positions, (std::vector<float>{0, 1}));
  // Points short of the ends: the end colours are repeated there, faded like the rest.
  points->Clear();
  points->AddPoint(0xFFFF0000u, 0.2f);
  points->AddPoint(0xFF00FF00u, 0.8f);
  vgGradientStops(gradient, 0.5f, true, colors, positions);
  const TvgColor red = vgOpacityColor(0xFFFF0000u, 0.5f), green = vgOpacityColor(0xFF00FF00u, 0.5f);
  EXPECT_NE(red, 0xFFFF0000u);
  EXPECT_EQ(colors, (std::vector<TvgColor>{red, red, green, green}));
  EXPECT_EQ(positions, (std::vector<float>{0, 0.2f, 0.8f, 1}));
  vgGradientStops(gradient, 0.5f, false, colors, positions);
  EXPECT_EQ(colors, (std::vector<TvgColor>{red, green}));
  EXPECT_EQ(positions, (std::vector<float>{0.2f, 0.8f}));
}
