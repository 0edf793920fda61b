// Shapes painted on a recording canvas (what is drawn, where, with which brush and opacity),
// their hit tests and setters, and their streams holding only what differs from the defaults.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "ShapesTestSupport.h"

namespace {

TvgRect R(float l, float t, float r, float b) { return vgRect(l, t, r, b); }

// --- Shape base and rectangles

TEST(ShapeBase, DefaultRectangleFillsAndStrokesInsideItsBounds) {
  TShapeScene s;
  auto* rect = s.Add<TvgRectangle>(50, 50);
  s.Paint(rect);
  ASSERT_EQ(s.canvas.calls.size(), 2u);
  const TDrawCall& fill = s.canvas.calls[0];
  const TDrawCall& draw = s.canvas.calls[1];
  EXPECT_EQ(fill.Op, "FillRect");
  EXPECT_EQ(draw.Op, "DrawRect");
  EXPECT_EQ(fill.Rect, R(0.5f, 0.5f, 49.5f, 49.5f));
  EXPECT_EQ(draw.Rect, fill.Rect);
  EXPECT_EQ(fill.FillColor, 0xFFE0E0E0u);
  EXPECT_EQ(draw.StrokeColor, 0xFF000000u);
  EXPECT_EQ(draw.Thickness, 1.0f);
  EXPECT_EQ(fill.Opacity, 1.0f);
}

TEST(ShapeBase, NoStrokeMeansWholeLocalRectWhateverTheThickness) {
  TShapeScene s;
  auto* rect = s.Add<TvgRectangle>(40, 30);
  rect->SetStrokeThickness(8);
  rect->GetStroke()->SetStyle(vgBrushNone);
  EXPECT_EQ(rect->GetShapeRect(), R(0, 0, 40, 30));
  rect->GetStroke()->SetStyle(vgBrushSolid);
  EXPECT_EQ(rect->GetShapeRect(), R(4, 4, 36, 26));
}

TEST(ShapeBase, PaintHandsBrushesAndStrokeToCanvasAndRestoresDashAndThickness) {
  TShapeScene s;
  auto* rect = s.Add<TvgRectangle>(20, 20);
  rect->SetStrokeThickness(3);
  rect->SetStrokeDash(vgDashDot);
  rect->GetFill()->SetSolidColor(0xFF123456u);
  rect->SetOpacity(0.5f);
  s.Paint(rect);
  EXPECT_EQ(s.canvas.calls[0].FillColor, 0xFF123456u);
  EXPECT_EQ(s.canvas.calls[1].Thickness, 3.0f);
  EXPECT_EQ(s.canvas.calls[1].Dash, vgDashDot);
  EXPECT_FLOAT_EQ(s.canvas.calls[0].Opacity, 0.5f);
  EXPECT_EQ(s.canvas.GetStrokeDash(), vgDashSolid);
  EXPECT_EQ(s.canvas.GetStrokeThickness(), 1.0f);
}

TEST(ShapeBase, SettersRepaintOnlyOnChange) {
  TShapeScene s;
  auto* rect = s.Add<TvgRectangle>(20, 20);
  s.scene.updates.clear();
  rect->SetStrokeThickness(1);
  EXPECT_TRUE(s.scene.updates.empty());
  rect->SetStrokeThickness(2);
  EXPECT_FALSE(s.scene.updates.empty());
  s.scene.updates.clear();
  rect->SetxRadius(0);
  EXPECT_TRUE(s.scene.updates.empty());
  rect->GetFill()->SetSolidColor(0xFF00FF00u);
  EXPECT_FALSE(s.scene.updates.empty());
}

TEST(Rectangle, SidesWidenTheFillWhereNoOutlineIsDrawn) {
  TShapeScene s;
  auto* rect = s.Add<TvgRectangle>(40, 40);
  rect->SetStrokeThickness(4);
  rect->SetSides(TvgSides{vgSideBottom});
  s.Paint(rect);
  const auto fills = s.canvas.Of("FillRect");
  ASSERT_EQ(fills.size(), 1u);
  // Shape rect (2, 2, 38, 38), widened by 2 on top, left and right.
  EXPECT_EQ(fills[0].Rect, R(0, 0, 40, 38));
  const auto paths = s.canvas.Of("DrawPath");
  ASSERT_EQ(paths.size(), 1u);
  // Only the bottom edge is a line; everything else is pen-up.
  int lines = 0;
  for (const TvgPathPoint& p : paths[0].Path) {
    if (p.Kind == vgPathPointLineTo) {
      ++lines;
      EXPECT_FLOAT_EQ(p.Point.Y, 38.0f);
    }
  }
  EXPECT_GE(lines, 1);
  EXPECT_TRUE(s.canvas.Of("DrawRect").empty());
}

TEST(Rectangle, RoundRectRadiusIsHalfTheShorterShapeSide) {
  TShapeScene s;
  auto* wide = s.Add<TvgRoundRect>(100, 40);
  s.Paint(wide);
  EXPECT_FLOAT_EQ(s.canvas.calls[0].XRadius, 19.5f);
  EXPECT_FLOAT_EQ(s.canvas.calls[0].YRadius, 19.5f);
  auto* tall = s.Add<TvgRoundRect>(40, 100);
  s.Paint(tall);
  EXPECT_FLOAT_EQ(s.canvas.calls[0].XRadius, 19.5f);
  EXPECT_EQ(s.canvas.calls[0].CornerType, vgCornerRound);
}

TEST(Rectangle, StreamHoldsOnlyChangedValues) {
  TShapeScene s;
  auto* rect = s.Add<TvgRectangle>(20, 20);
  EXPECT_FALSE(StreamHas(rect, "StrokeThickness"));
  EXPECT_FALSE(StreamHas(rect, "Sides"));
  EXPECT_FALSE(StreamHas(rect, "Corners"));
  rect->SetStrokeThickness(2);
  rect->SetSides(TvgSides());
  rect->SetCorners(TvgCorners());
  rect->SetCornerType(vgCornerBevel);
  rect->GetFill()->SetSolidColor(0xFF112233u);
  std::unique_ptr<TvgObject> copy(RoundTrip(rect));
  auto* back = dynamic_cast<TvgRectangle*>(copy.get());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->GetStrokeThickness(), 2.0f);
  EXPECT_TRUE(back->GetSides().Empty());
  EXPECT_TRUE(back->GetCorners().Empty());
  EXPECT_EQ(back->GetCornerType(), vgCornerBevel);
  EXPECT_EQ(back->GetFill()->GetSolidColor(), 0xFF112233u);
}

TEST(Rectangle, CaretAndAnimationClassesAreCreatedByName) {
  TShapeScene s;
  const TClassInfo* rect = GetClass("TvgRectangle");
  ASSERT_NE(rect, nullptr);
  std::unique_ptr<TObject> obj(rect->Create(nullptr));
  SetPropValue(obj.get(), "Fill.Color", Variant("#FF0000FF"));
  SetPropValue(obj.get(), "Stroke.Style", Variant("vgBrushNone"));
  auto* r = dynamic_cast<TvgRectangle*>(obj.get());
  EXPECT_EQ(r->GetFill()->GetSolidColor(), 0xFF0000FFu);
  EXPECT_EQ(r->GetStroke()->GetStyle(), vgBrushNone);
  ASSERT_NE(GetClass("TvgFloatAnimation"), nullptr);
  bool found = false;
  for (const auto& [category, cls] : vgObjectCategories()) found |= category == "Design" && cls->Name == "TvgSelection";
  EXPECT_TRUE(found);
}

// --- Line

TEST(Line, TypesDrawDiagonalTopEdgeOrLeftEdge) {
  TShapeScene s;
  auto* line = s.Add<TvgLine>(0, 30);
  line->SetLineType(vgLineVertical);
  s.Paint(line);
  ASSERT_EQ(s.canvas.calls.size(), 1u);
  EXPECT_EQ(s.canvas.calls[0].P1, vgPoint(0.5f, 0.5f));
  EXPECT_EQ(s.canvas.calls[0].P2, vgPoint(0.5f, 29.5f));
  line->SetWidth(20);
  line->SetLineType(vgLineNormal);
  s.Paint(line);
  EXPECT_EQ(s.canvas.calls[0].P2, vgPoint(19.5f, 29.5f));
  line->SetLineType(vgLineHorizontal);
  s.Paint(line);
  EXPECT_EQ(s.canvas.calls[0].P2, vgPoint(19.5f, 0.5f));
  EXPECT_TRUE(StreamHas(line, "LineType"));
  EXPECT_FALSE(StreamHas(line, "Fill"));
}

// --- Ellipse family

TEST(Ellipse, HitTestIsTheInscribedEllipseWithItsEdge) {
  TShapeScene s;
  auto* e = s.Add<TvgEllipse>(40, 20);
  EXPECT_TRUE(e->PointInObject(40, 10));
  EXPECT_TRUE(e->PointInObject(20, 10));
  EXPECT_FALSE(e->PointInObject(2, 2));
  e->SetWidth(0);
  EXPECT_FALSE(e->PointInObject(0, 10));
}

TEST(Ellipse, CircleIsTheLargestCentredCircle) {
  TShapeScene s;
  auto* c = s.Add<TvgCircle>(100, 50);
  s.Paint(c);
  ASSERT_EQ(s.canvas.calls.size(), 2u);
  const TvgRect r = s.canvas.calls[0].Rect;
  EXPECT_FLOAT_EQ(vgRectWidth(r), 49.0f);
  EXPECT_FLOAT_EQ(vgRectHeight(r), 49.0f);
  EXPECT_FLOAT_EQ(r.Left, 25.5f);
}

TEST(Ellipse, PieSweepsTheDifferenceArcSweepsTheEndAngle) {
  TShapeScene s;
  auto* pie = s.Add<TvgPie>(100, 100);
  pie->SetStartAngle(30);
  pie->SetEndAngle(60);
  TvgPathData expected;
  expected.MoveTo(vgPoint(50, 50));
  expected.AddArc(vgPoint(50, 50), vgPoint(49.5f, 49.5f), 30, 30);
  expected.LineTo(vgPoint(50, 50));
  expected.ClosePath();
  s.Paint(pie);
  const auto fills = s.canvas.Of("FillPath");
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_EQ(fills[0].Path, expected.Points());
  EXPECT_EQ(fills[0].Rect, expected.GetBounds());

  auto* arc = s.Add<TvgArc>(100, 100);
  arc->SetStartAngle(30);
  arc->SetEndAngle(60);
  s.Paint(arc);
  TvgPathData arcPath;
  arcPath.AddArc(vgPoint(50, 50), vgPoint(49.5f, 49.5f), 30, 60);
  const auto strokes = s.canvas.Of("DrawPath");
  ASSERT_FALSE(strokes.empty());
  EXPECT_EQ(strokes.back().Path.back().Point.X, arcPath.Points().back().Point.X);
  EXPECT_EQ(strokes.back().Path.back().Point.Y, arcPath.Points().back().Point.Y);
  EXPECT_EQ(arc->GetFill()->GetStyle(), vgBrushNone);
  EXPECT_FALSE(StreamHas(arc, "Fill"));
  EXPECT_TRUE(StreamHas(arc, "StartAngle"));
}

TEST(Ellipse, PieWithoutCanvasHitTestsAsEllipse) {
  TShapeScene s;
  auto* pie = s.Add<TvgPie>(40, 40);
  s.scene.canvas = nullptr;
  EXPECT_TRUE(pie->PointInObject(5, 20));  // inside the ellipse, outside the quarter
  s.scene.canvas = &s.canvas;
  EXPECT_TRUE(pie->PointInObject(30, 10));
  EXPECT_EQ(s.canvas.hitTests, 1);
}

// --- Text

TEST(Text, AutoSizeWithoutWrapTakesMeasuredWidthPlusHalfFontSize) {
  TShapeScene s;
  auto* t = s.Add<TvgText>(10, 40);
  t->SetWordWrap(false);
  t->SetText(u"abcd");
  t->SetAutoSize(true);
  EXPECT_FLOAT_EQ(t->GetWidth(), 4 * 7 + 11 / 2.0f);
  EXPECT_FLOAT_EQ(t->GetHeight(), 40);  // centred vertically: the height stays
  t->SetVertTextAlign(vgTextAlignNear);
  t->SetText(u"abcdef");
  EXPECT_FLOAT_EQ(t->GetHeight(), 13);
  EXPECT_FLOAT_EQ(t->GetWidth(), 6 * 7 + 5.5f);
}

TEST(Text, StretchSwitchesAutoSizeOffAndScalesToBounds) {
  TShapeScene s;
  auto* t = s.Add<TvgText>(140, 26);
  t->SetAutoSize(true);
  t->SetStretch(true);
  EXPECT_FALSE(t->GetAutoSize());
  t->SetAutoSize(true);
  EXPECT_TRUE(t->GetStretch());
  t->SetAutoSize(false);
  t->SetText(u"0123456789");  // measured 70 x 13
  s.canvas.multiplied.clear();
  s.Paint(t);
  ASSERT_EQ(s.canvas.multiplied.size(), 1u);
  EXPECT_FLOAT_EQ(s.canvas.multiplied[0].m11, 2.0f);
  EXPECT_FLOAT_EQ(s.canvas.multiplied[0].m22, 2.0f);
  const auto texts = s.canvas.Of("Text");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_FLOAT_EQ(texts[0].Rect.Left, -11.0f / 3);
}

TEST(Text, DefaultsAndSetData) {
  TShapeScene s;
  auto* t = s.Add<TvgText>(100, 20);
  EXPECT_EQ(t->GetFill()->GetSolidColor(), 0xFF000000u);
  EXPECT_EQ(t->GetStroke()->GetStyle(), vgBrushNone);
  EXPECT_FALSE(StreamHas(t, "Fill"));
  t->SetData(Variant(5));
  EXPECT_EQ(t->GetText(), u"5");
  s.scene.updates.clear();
  t->SetText(u"5");
  EXPECT_TRUE(s.scene.updates.empty());
  s.Paint(t);
  const auto texts = s.canvas.Of("Text");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].Rect, R(0, 0, 100, 20));
  EXPECT_EQ(texts[0].FillColor, 0xFF000000u);
  t->SetAutoSize(true);
  t->SetText(u"");
  EXPECT_FLOAT_EQ(t->GetWidth(), 100);
}

// --- Image

TEST(Image, FitShrinksNeverEnlargesAndCentres) {
  TShapeScene s;
  auto* img = s.Add<TvgImage>(100, 100);
  TvgBitmap big(200, 100);
  img->SetBitmap(&big);
  s.Paint(img);
  ASSERT_EQ(s.canvas.calls.size(), 1u);
  EXPECT_EQ(s.canvas.calls[0].Rect, R(0, 25, 100, 75));
  TvgBitmap small(20, 10);
  img->SetBitmap(&small);
  s.Paint(img);
  EXPECT_EQ(s.canvas.calls[0].Rect, R(40, 45, 60, 55));
}

TEST(Image, TileRoundsTheCountHalvesToEven) {
  TShapeScene s;
  auto* img = s.Add<TvgImage>(100, 10);
  img->SetWrapMode(vgImageTile);
  TvgBitmap b30(30, 10);
  img->SetBitmap(&b30);
  s.Paint(img);
  std::vector<float> columns;
  for (const TDrawCall& c : s.canvas.calls)
    if (c.Rect.Top == 0) columns.push_back(c.Rect.Left);
  EXPECT_EQ(columns, (std::vector<float>{0, 30, 60, 90}));
  TvgBitmap b40(40, 10);
  img->SetBitmap(&b40);
  s.Paint(img);
  columns.clear();
  for (const TDrawCall& c : s.canvas.calls)
    if (c.Rect.Top == 0) columns.push_back(c.Rect.Left);
  EXPECT_EQ(columns, (std::vector<float>{0, 40, 80}));
  EXPECT_EQ(s.canvas.clips.back(), R(0, 0, 100, 10));
}

TEST(Image, NineSliceStretchesTheCentreAndKeepsCorners) {
  TShapeScene s;
  auto* img = s.Add<TvgImage>(100, 60);
  TvgBitmap b(30, 30);
  img->SetBitmap(&b);
  img->GetBitmapMargins()->SetRect(R(10, 10, 10, 10));
  s.Paint(img);
  ASSERT_EQ(s.canvas.calls.size(), 9u);
  EXPECT_EQ(s.canvas.calls[0].Rect, R(0, 0, 10, 10));
  EXPECT_EQ(s.canvas.calls[4].Source, R(10, 10, 20, 20));
  EXPECT_EQ(s.canvas.calls[4].Rect, R(10, 10, 90, 50));
  EXPECT_EQ(s.canvas.calls[8].Rect, R(90, 50, 100, 60));
}

TEST(Image, EmptyBitmapDrawsOnlyTheDesignFrame) {
  TShapeScene s;
  auto* img = s.Add<TvgImage>(30, 30);
  s.Paint(img);
  EXPECT_TRUE(s.canvas.calls.empty());
  s.scene.designTime = true;
  s.Paint(img);
  ASSERT_EQ(s.canvas.calls.size(), 1u);
  EXPECT_EQ(s.canvas.calls[0].Op, "DrawRect");
  EXPECT_EQ(s.canvas.calls[0].StrokeColor, 0xA0909090u);
  EXPECT_EQ(s.canvas.calls[0].Dash, vgDashDash);
  img->SetData(Variant("/nonexistent/missing.png"));
  EXPECT_TRUE(img->GetBitmap()->IsEmpty());
}

TEST(PaintBox, HandsItsCanvasToOnPaint) {
  TShapeScene s;
  auto* box = s.Add<TvgPaintBox>(10, 10);
  s.Paint(box);
  EXPECT_TRUE(s.canvas.calls.empty());
  struct Sink {
    TvgCanvas* seen = nullptr;
    void Paint(TObject*, TvgCanvas* c) { seen = c; }
  } sink;
  box->OnPaint = TvgPaintEvent::Of<&Sink::Paint>(&sink);
  s.Paint(box);
  EXPECT_EQ(sink.seen, &s.canvas);
}

// --- Paths

TEST(Path, StretchFitAndTile) {
  TShapeScene s;
  auto* path = s.Add<TvgPath>(100, 100);
  path->GetData()->SetData("M 0,0 L 1,1");
  s.Paint(path);
  ASSERT_EQ(s.canvas.Of("DrawPath").size(), 1u);
  EXPECT_EQ(s.canvas.Of("DrawPath")[0].Rect, R(0.5f, 0.5f, 99.5f, 99.5f));

  path->GetData()->SetData("M 0,0 L 200,100");
  path->SetWrapMode(vgPathFit);
  s.Paint(path);
  const TvgRect fit = s.canvas.Of("DrawPath")[0].Rect;
  EXPECT_FLOAT_EQ(vgRectWidth(fit), 99.0f);
  EXPECT_NEAR(vgRectHeight(fit), 49.5f, 0.51f);

  path->GetData()->SetData("M 0,0 L 20,20");
  path->SetWrapMode(vgPathTile);
  s.Paint(path);
  const auto tiles = s.canvas.Of("DrawPath");
  ASSERT_GE(tiles.size(), 2u);
  EXPECT_FLOAT_EQ(tiles[1].Rect.Top - tiles[0].Rect.Top, 21.0f);
}

TEST(Path, EmptyPathDrawsNothingAndHitsItsRect) {
  TShapeScene s;
  auto* path = s.Add<TvgPath>(30, 30);
  s.Paint(path);
  EXPECT_TRUE(s.canvas.calls.empty());
  EXPECT_TRUE(path->PointInObject(1, 1));
  EXPECT_EQ(s.canvas.hitTests, 0);
  s.scene.updates.clear();
  path->GetData()->SetData("M 0,0 L 5,5");
  EXPECT_FALSE(s.scene.updates.empty());
  EXPECT_TRUE(path->PointInObject(1, 1));
  EXPECT_EQ(s.canvas.hitTests, 1);
}

TEST(Path, ScrollArrowsKeepTheirUnitSizeCentred) {
  TShapeScene s;
  auto* arrow = s.Add<TvgScrollArrowLeft>(20, 20);
  EXPECT_EQ(arrow->GetData()->GetBounds(), R(100, 100, 101, 101));
  s.Paint(arrow);
  const TvgRect r = s.canvas.Of("FillPath")[0].Rect;
  EXPECT_FLOAT_EQ(vgRectWidth(r), 1.0f);
  EXPECT_NEAR((r.Left + r.Right) / 2, 10.0f, 0.51f);
  EXPECT_FALSE(StreamHas(arrow, "Data"));
}

// --- Blurred and callout rectangles

TEST(BlurRectangle, CachesUntilSizeFillOrSoftnessChange) {
  TShapeScene s;
  auto* b = s.Add<TvgBlurRectangle>(50, 50);
  EXPECT_EQ(b->GetStroke()->GetStyle(), vgBrushNone);
  b->SetOpacity(0.5f);
  s.Paint(b);
  ASSERT_NE(b->CacheBitmap(), nullptr);
  EXPECT_FALSE(b->CacheStale());
  const auto copies = s.canvas.Of("Bitmap");
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_FLOAT_EQ(copies[0].Opacity, 0.5f);
  EXPECT_EQ(copies[0].Rect, R(0, 0, 50, 50));
  b->GetStroke()->SetSolidColor(0xFFFF0000u);
  EXPECT_FALSE(b->CacheStale());
  b->GetFill()->SetSolidColor(0xFF00FF00u);
  EXPECT_TRUE(b->CacheStale());
  s.Paint(b);
  b->SetWidth(60);
  s.Paint(b);
  EXPECT_EQ(b->CacheBitmap()->GetWidth(), 60);
  b->SetSoftness(0.5f);
  EXPECT_TRUE(b->CacheStale());
  EXPECT_TRUE(StreamHas(b, "Softness"));
}

TEST(CalloutRectangle, StrokesOnlyItsOutlineAndStreamsAnchors) {
  TShapeScene s;
  auto* c = s.Add<TvgCalloutRectangle>(40, 30);
  s.Paint(c);
  EXPECT_TRUE(s.canvas.Of("FillRect").empty());
  EXPECT_TRUE(s.canvas.Of("FillPath").empty());
  ASSERT_EQ(s.canvas.Of("DrawPath").size(), 1u);
  c->SetSides(TvgSides{vgSideTop});
  s.Paint(c);
  int lines = 0;
  const auto outline = s.canvas.Of("DrawPath");
  ASSERT_EQ(outline.size(), 1u);
  // The top is stroked along the shape rect's top; the absent sides widen the rect by half
  // the stroke, so its top line runs from 0 to 40.
  for (const TvgPathPoint& p : outline[0].Path) {
    if (p.Kind == vgPathPointLineTo) {
      ++lines;
      EXPECT_FLOAT_EQ(p.Point.Y, 0.5f);
    }
  }
  EXPECT_GE(lines, 1);
  c->SetAnchorSize(5);
  std::unique_ptr<TvgObject> copy(RoundTrip(c));
  auto* back = dynamic_cast<TvgCalloutRectangle*>(copy.get());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->GetAnchorSize(), 5.0f);
}

// --- Selection

struct Counter {
  int changes = 0, tracks = 0;
  void Change(TObject*) { ++changes; }
  void Track(TObject*) { ++tracks; }
};

TEST(Selection, SettersClamp) {
  TShapeScene s;
  auto* sel = s.Add<TvgSelection>(100, 50);
  sel->SetGripSize(25);
  EXPECT_EQ(sel->GetGripSize(), 20);
  sel->SetGripSize(0.5f);
  EXPECT_EQ(sel->GetGripSize(), 1);
  sel->SetMinSize(0);
  EXPECT_EQ(sel->GetMinSize(), 1);
}

TEST(Selection, MoveStopsAtParentEdgesAndFiresTrackThenChange) {
  TShapeScene s;
  auto* parent = s.Add<TvgRectangle>(200, 200);
  auto* sel = new TvgSelection(nullptr);
  sel->SetParent(parent);
  sel->SetBounds(10, 10, 50, 50);
  Counter counter;
  sel->OnChange = TNotifyEvent::Of<&Counter::Change>(&counter);
  sel->OnTrack = TNotifyEvent::Of<&Counter::Track>(&counter);
  sel->MouseDown(mbLeft, TShiftState{ssLeft}, 25, 25);
  sel->MouseMove(TShiftState{ssLeft}, 0, 25, -25, 0);
  EXPECT_EQ(sel->GetPosition()->GetX(), 0);
  sel->MouseMove(TShiftState{ssLeft}, 400, 25, 400, 0);
  EXPECT_EQ(sel->GetPosition()->GetX(), 150);
  sel->MouseUp(mbLeft, TShiftState(), 400, 25);
  EXPECT_EQ(counter.tracks, 2);
  EXPECT_EQ(counter.changes, 1);
  // A click without movement still ends a move.
  sel->MouseDown(mbLeft, TShiftState{ssLeft}, 25, 25);
  sel->MouseUp(mbLeft, TShiftState(), 25, 25);
  EXPECT_EQ(counter.changes, 2);
}

TEST(Selection, RightBottomGripResizesWithMinimumAndProportion) {
  TShapeScene s;
  auto* parent = s.Add<TvgRectangle>(300, 300);
  auto* sel = new TvgSelection(nullptr);
  sel->SetParent(parent);
  sel->SetBounds(0, 0, 100, 50);
  sel->MouseDown(mbLeft, TShiftState{ssLeft}, 100, 50);
  sel->MouseMove(TShiftState{ssLeft}, 5, 5, 0, 0);
  EXPECT_EQ(sel->GetWidth(), 15);
  EXPECT_EQ(sel->GetHeight(), 15);
  sel->MouseUp(mbLeft, TShiftState(), 5, 5);

  sel->SetBounds(0, 0, 100, 50);
  sel->SetProportional(true);
  sel->MouseDown(mbLeft, TShiftState{ssLeft}, 100, 50);
  sel->MouseMove(TShiftState{ssLeft}, 60, 40, 0, 0);
  EXPECT_EQ(sel->GetWidth(), 60);
  EXPECT_EQ(sel->GetHeight(), 30);
}

TEST(Selection, HoverMakesGripRedAndLeaveClearsIt) {
  TShapeScene s;
  auto* sel = s.Add<TvgSelection>(100, 50);
  sel->MouseMove(TShiftState(), 99, 49, 0, 0);
  EXPECT_TRUE(sel->GripHot(3));
  s.Paint(sel);
  const auto fills = s.canvas.Of("FillEllipse");
  ASSERT_EQ(fills.size(), 4u);
  EXPECT_EQ(fills[3].FillColor, 0xFFFF0000u);
  EXPECT_EQ(fills[0].FillColor, 0xFFFFFFFFu);
  EXPECT_EQ(fills[3].Rect, R(97, 47, 103, 53));
  sel->MouseLeave();
  EXPECT_FALSE(sel->GripHot(3));
  EXPECT_TRUE(sel->PointInObject(102, 52));
  EXPECT_FALSE(sel->PointInObject(104, 52));
}

TEST(SelectionPoint, SizeFollowsGripAndHitTestExcludesEdges) {
  TShapeScene s;
  auto* p = s.Add<TvgSelectionPoint>(40, 40);
  EXPECT_EQ(p->GetWidth(), 6);
  p->SetWidth(40);
  EXPECT_EQ(p->GetWidth(), 6);
  EXPECT_TRUE(p->PointInObject(2.9f, 0));
  EXPECT_FALSE(p->PointInObject(3, 0));
}

}  // namespace
