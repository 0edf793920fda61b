// Path data: building, the text form and its parser, arcs (SVG centre conversion included),
// bounds, flattening and the binary "Path" property.
#include "scene/core/vg_pathdata.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "classlib/Filer.h"
#include "classlib/Streams.h"
#include "scene/core/vg_registry.h"

namespace {

using Points = std::vector<TvgPathPoint>;

TvgPathPoint Pt(TvgPathPointKind k, float x, float y) { return {k, {x, y}}; }

std::string Bytes(TMemoryStream& s) {
  return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.GetSize()));
}

// --- Text form

TEST(VgPathText, WritesOneBlankAfterLettersPointsAndAtTheEnd) {
  TvgPathData path;
  path.MoveTo({0, 0});
  path.LineTo({10, 0.5f});
  path.ClosePath();
  EXPECT_EQ(path.GetData(), "M 0,0 L 10,0.500 Z ");
  path.CurveTo({1, 2}, {3, 4}, {5.25f, -6});
  EXPECT_EQ(path.GetData(), "M 0,0 L 10,0.500 Z C 1,2 3,4 5.250,-6 ");
}

TEST(VgPathText, ParsesRepeatedAndRelativeArguments) {
  TvgPathData path;
  int changes = 0;
  struct Counter {
    int* n;
    void Hit(TObject*) { ++*n; }
  } counter{&changes};
  path.OnChanged = TNotifyEvent::Of<&Counter::Hit>(&counter);
  path.SetData("M 10 20 30 40");
  EXPECT_EQ(path.Points(), (Points{Pt(vgPathPointMoveTo, 10, 20), Pt(vgPathPointLineTo, 30, 40)}));
  EXPECT_EQ(changes, 1);
  path.SetData("m10,10 20,0");
  EXPECT_EQ(path.Points(), (Points{Pt(vgPathPointMoveTo, 10, 10), Pt(vgPathPointLineTo, 30, 10)}));
  path.SetData("M1,1 h 5 v-2 H0 V 0 z");
  EXPECT_EQ(path.Points(), (Points{Pt(vgPathPointMoveTo, 1, 1), Pt(vgPathPointLineTo, 6, 1), Pt(vgPathPointLineTo, 6, -1),
                                   Pt(vgPathPointLineTo, 0, -1), Pt(vgPathPointLineTo, 0, 0), Pt(vgPathPointClose, 1, 1)}));
  path.SetData("M0 0\tC1 1 \r\n2 2 3 3 4 4 5 5 6 6 c 1,0 1,1 0,1");
  ASSERT_EQ(path.Count(), 10);
  EXPECT_EQ(path.Points()[9], Pt(vgPathPointCurveTo, 6, 7));
  EXPECT_EQ(path.Points()[7], Pt(vgPathPointCurveTo, 7, 6));
  path.SetData("M-1-2L3e1-4e-1");
  EXPECT_EQ(path.Points(), (Points{Pt(vgPathPointMoveTo, -1, -2), Pt(vgPathPointLineTo, 30, -0.4f)}));
  EXPECT_EQ(changes, 5);
}

TEST(VgPathText, QuadraticCommandsAddNothingAndSmoothCurvesMirror) {
  TvgPathData path;
  path.SetData("M 0 0 Q 1 1 2 2 T 5 5 q 1 1 2 2 t 3 3 L 1 0");
  EXPECT_EQ(path.Points(), (Points{Pt(vgPathPointMoveTo, 0, 0), Pt(vgPathPointLineTo, 1, 0)}));
  path.SetData("M0 0 C 0 1 2 3 4 4 S 8 8 9 9");
  ASSERT_EQ(path.Count(), 7);
  EXPECT_EQ(path.Points()[4].Point, (TvgPoint{6, 5}));  // 2 * (4,4) - (2,3)
  path.SetData("M0 0 S 2 3 4 4");
  EXPECT_EQ(path.Points()[1].Point, (TvgPoint{2, 3}));  // too short to mirror: c1 = c2
}

TEST(VgPathText, MalformedTextIsCutShortWithoutRaising) {
  TvgPathData path;
  EXPECT_NO_THROW(path.SetData("M 1 2 L x 3 4"));
  EXPECT_EQ(path.Points(), (Points{Pt(vgPathPointMoveTo, 1, 2)}));
  // A run of letters runs in order: M takes the point, L finds no argument.
  EXPECT_NO_THROW(path.SetData("ML 5 6"));
  EXPECT_EQ(path.Points(), (Points{Pt(vgPathPointMoveTo, 5, 6)}));
  EXPECT_NO_THROW(path.SetData("M 9 9 L 1.2.3 4 L 7 8"));  // the stray argument ends the text
  EXPECT_EQ(path.Points(), (Points{Pt(vgPathPointMoveTo, 9, 9)}));
  EXPECT_NO_THROW(path.SetData("M 1e99 0 L 1 1"));  // beyond single range
  EXPECT_TRUE(path.IsEmpty());
  EXPECT_NO_THROW(path.SetData("L 1 1 M 2e-99 0"));
  EXPECT_EQ(path.Points().back().Point, (TvgPoint{0, 0}));
  path.SetData("");
  EXPECT_TRUE(path.IsEmpty());
  path.SetData("garbage M 1 1");
  EXPECT_TRUE(path.IsEmpty());
}

TEST(VgPathText, TextDataTextReachesAFixedPoint) {
  std::mt19937 random(21);
  const char* commands = "MmLlHhVvCcSsQqTtAaZz";
  std::uniform_real_distribution<float> coordinate(-500, 500);
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const int n = 1 + static_cast<int>(random() % 12);
    for (int i = 0; i < n; ++i) {
      const char c = commands[random() % 20];
      text += c;
      text += ' ';
      const int args = c == 'A' || c == 'a' ? 7 : 6;
      for (int k = 0; k < args; ++k) {
        if ((c == 'A' || c == 'a') && (k == 3 || k == 4)) text += std::to_string(random() % 2);
        else text += std::to_string(coordinate(random));
        text += k % 2 ? " " : ",";
      }
    }
    TvgPathData first, second, third;
    first.SetData(text);
    const std::string t1 = first.GetData();
    second.SetData(t1);
    const std::string t2 = second.GetData();
    third.SetData(t2);
    ASSERT_EQ(third.GetData(), t2) << text;
    ASSERT_EQ(second.Count(), first.Count()) << text;
    for (int i = 0; i < first.Count(); ++i) {
      EXPECT_EQ(second.Points()[i].Kind, first.Points()[i].Kind);
      EXPECT_NEAR(second.Points()[i].Point.X, first.Points()[i].Point.X, 0.01f);
    }
  }
}

// --- Arcs

TEST(VgPathArcs, FullTurnIsFourSegmentsOnTheEllipse) {
  TvgPathData path;
  path.AddArc({10, 20}, {5, 3}, 0, 360);
  ASSERT_EQ(path.Count(), 13);
  EXPECT_EQ(path.Points()[0].Kind, vgPathPointMoveTo);
  for (int i = 1; i < 13; ++i) EXPECT_EQ(path.Points()[i].Kind, vgPathPointCurveTo);
  for (int i = 0; i < 13; i += 3) {
    const TvgPoint p = path.Points()[i].Point;
    const float e = std::pow((p.X - 10) / 5, 2.0f) + std::pow((p.Y - 20) / 3, 2.0f);
    EXPECT_NEAR(e, 1, 1e-5f) << i;
  }
  EXPECT_NEAR(path.Points()[0].Point.X, 15, 1e-5f);
  EXPECT_NEAR(path.Points()[12].Point.X, 15, 1e-4f);
  TvgPathData more;
  more.MoveTo({0, 0});
  more.AddArc({0, 0}, {1, 1}, 90, -45);
  ASSERT_EQ(more.Count(), 5);
  EXPECT_EQ(more.Points()[1].Kind, vgPathPointLineTo);  // not empty: a line to the start
  EXPECT_NEAR(more.Points()[4].Point.X, std::sqrt(0.5f), 1e-5f);
  TvgPathData none;
  none.AddArc({0, 0}, {1, 1}, 0, 0.00000000001f);
  EXPECT_TRUE(none.IsEmpty());
}

// The centre of a circular arc from the geometry: on the bisector of the chord, at the distance
// that puts both end points on the circle, on the side the flags choose.
TvgPoint CircleCentre(TvgPoint a, TvgPoint b, float r, bool largeArc, bool sweep) {
  const double mx = (a.X + b.X) / 2.0, my = (a.Y + b.Y) / 2.0;
  const double dx = b.X - a.X, dy = b.Y - a.Y;
  const double half = std::hypot(dx, dy) / 2;
  const double h = std::sqrt(std::max(0.0, double(r) * r - half * half));
  const double nx = -dy / (2 * half), ny = dx / (2 * half);
  // With y pointing down, "sweep" runs clockwise on screen; the small clockwise arc has its
  // centre on the left of the chord's direction.
  const double side = largeArc != sweep ? 1 : -1;
  return {static_cast<float>(mx + side * h * nx), static_cast<float>(my + side * h * ny)};
}

TEST(VgPathArcs, SvgArcCentreConversion) {
  std::mt19937 random(9);
  std::uniform_real_distribution<float> any(-50, 50);
  for (int i = 0; i < 400; ++i) {
    const TvgPoint a = {any(random), any(random)}, b = {any(random), any(random)};
    const float chord = std::hypot(b.X - a.X, b.Y - a.Y);
    if (chord < 1) continue;
    const float r = chord / 2 * (1.05f + (random() % 100) / 50.0f);
    const bool large = random() % 2, sweep = random() % 2;
    TvgPathData path;
    path.MoveTo(a);
    path.AddArcSvg(a, {r, r}, any(random), large, sweep, b);
    ASSERT_GE(path.Count(), 4);
    EXPECT_NEAR(path.Points().back().Point.X, b.X, 1e-3f);
    EXPECT_NEAR(path.Points().back().Point.Y, b.Y, 1e-3f);
    // First control point leaves a along the tangent: the first segment starts at a.
    const TvgPoint c = CircleCentre(a, b, r, large, sweep);
    for (int k = 3; k < path.Count(); k += 3) {
      const TvgPoint p = path.Points()[k].Point;
      EXPECT_NEAR(std::hypot(p.X - c.X, p.Y - c.Y), r, 2e-3f * r) << i << " " << k;
    }
    // The large arc takes more than half the turn, so more segments or a longer path.
    float length = 0;
    TvgPoint previous = a;
    for (int k = 3; k < path.Count(); k += 3) {
      const TvgPoint p = path.Points()[k].Point;
      length += std::hypot(p.X - previous.X, p.Y - previous.Y);
      previous = p;
    }
    if (large) {
      EXPECT_GT(length, chord * 1.2f);
    }
  }
}

TEST(VgPathArcs, DegenerateSvgArcsFollowTheSvgRules) {
  TvgPathData path;
  path.MoveTo({1, 1});
  path.AddArcSvg({1, 1}, {5, 5}, 0, false, true, {1, 1});
  EXPECT_EQ(path.Count(), 1);  // equal end points: nothing
  path.AddArcSvg({1, 1}, {0, 5}, 0, false, true, {4, 5});
  EXPECT_EQ(path.Points().back(), Pt(vgPathPointLineTo, 4, 5));  // zero radius: a line
  path.AddArcSvg({4, 5}, {0, 0}, 30, true, false, {0, 0});
  EXPECT_EQ(path.Points().back(), Pt(vgPathPointLineTo, 0, 0));
  // Radii too small for the end points are scaled up to a half ellipse.
  TvgPathData small;
  small.MoveTo({0, 0});
  small.AddArcSvg({0, 0}, {1, 1}, 0, false, true, {10, 0});
  for (const TvgPathPoint& p : small.Points()) {
    EXPECT_TRUE(std::isfinite(p.Point.X) && std::isfinite(p.Point.Y));
  }
  EXPECT_NEAR(small.Points().back().Point.X, 10, 1e-4f);
  small.SetData("M 5 5 A 0 0 0 1 1 9 9 a 3 3 0 0 0 0 0");
  EXPECT_EQ(small.Points(), (Points{Pt(vgPathPointMoveTo, 5, 5), Pt(vgPathPointLineTo, 9, 9)}));
}

// --- Bounds and flattening

TEST(VgPathGeometry, BoundsIgnoreCloseAndWidenEmptyExtents) {
  TvgPathData path;
  EXPECT_EQ(path.GetBounds(), TvgRect());
  path.MoveTo({3, 4});
  const TvgRect single = path.GetBounds();
  EXPECT_EQ(single.Left, 3);
  EXPECT_EQ(single.Right, 3.0f + 0.001f);
  EXPECT_EQ(single.Bottom, 4.0f + 0.001f);
  path.LineTo({-1, 10});
  path.ClosePath();
  path.Scale(2, 0.5f);
  EXPECT_EQ(path.GetBounds(), vgRect(-2, 2, 6, 5));
  EXPECT_EQ(path.Points().back(), Pt(vgPathPointClose, 3, 4));  // close points are not scaled
}

TEST(VgPathGeometry, FlatteningFollowsCurvesAndMarksClosedFigures) {
  TvgPathData path;
  path.MoveTo({0, 0});
  path.CurveTo({0, 100}, {100, 100}, {100, 0});
  path.ClosePath();
  TvgPolygon polygon;
  TvgPoint size;
  path.FlattenToPolygon(polygon, size, 0.25f);
  EXPECT_EQ(size, (TvgPoint{100, 100}));  // the bounds take in the control points
  ASSERT_GT(polygon.size(), 10u);
  EXPECT_EQ(polygon.back(), (TvgPoint{65535, 65535}));
  EXPECT_EQ(polygon[polygon.size() - 2], (TvgPoint{0, 0}));
  for (size_t i = 1; i + 2 < polygon.size(); ++i) {
    // Each flattened point lies on the curve x(t) = 300t^2... checked through y = 75 * 4t(1-t).
    const TvgPoint p = polygon[i];
    EXPECT_GE(p.Y, -1e-3f);
    EXPECT_LE(p.Y, 75.001f);
  }
  // End points that coincide give two points, however far the controls reach.
  TvgPathData loop;
  loop.MoveTo({0, 0});
  loop.CurveTo({-1000, 1000}, {1000, 1000}, {0, 0});
  loop.FlattenToPolygon(polygon, size);
  EXPECT_EQ(polygon.size(), 3u);
  // Huge coordinates on a flat path cannot ask for unbounded points.
  TvgPathData huge;
  huge.SetData("M 0 0 C 0 0 0 0 1e30 0");
  huge.FlattenToPolygon(polygon, size);
  EXPECT_LE(polygon.size(), 16385u);
  TvgPathData empty;
  empty.FlattenToPolygon(polygon, size);
  EXPECT_TRUE(polygon.empty());
  EXPECT_EQ(vgCreateBezier({0, 0}, {1, 1}, {2, 2}, {3, 3}, 0).size(), 0u);
  const TvgPolygon line = vgCreateBezier({0, 0}, {1, 1}, {2, 2}, {3, 3}, 4);
  ASSERT_EQ(line.size(), 4u);
  EXPECT_NEAR(line[1].X, 1, 1e-5f);
  EXPECT_NEAR(line[3].Y, 3, 1e-5f);
}

// --- Binary "Path"

TEST(VgPathStream, TwoPointsAreTwentyEightBytes) {
  TvgPathData path;
  path.MoveTo({1, 2});
  path.LineTo({-0.5f, 3});
  TMemoryStream out;
  path.WritePath(out);
  const std::string expected("\x02\x00\x00\x00"
                             "\x00\x00\x00\x00" "\x00\x00\x80\x3F" "\x00\x00\x00\x40"
                             "\x01\x00\x00\x00" "\x00\x00\x00\xBF" "\x00\x00\x40\x40", 28);
  EXPECT_EQ(Bytes(out), expected);
  TvgPathData back;
  out.SetPosition(0);
  back.ReadPath(out);
  EXPECT_EQ(back.Points(), path.Points());
}

TEST(VgPathStream, OlderNineByteRecordsAndShortData) {
  const std::string old("\x02\x00\x00\x00"
                        "\x00" "\x00\x00\x80\x3F" "\x00\x00\x00\x40"
                        "\x03" "\x00\x00\x80\x3F" "\x00\x00\x00\x40", 22);
  TStringStream in(old);
  TvgPathData path;
  path.ReadPath(in);
  EXPECT_EQ(path.Points(), (Points{Pt(vgPathPointMoveTo, 1, 2), Pt(vgPathPointClose, 1, 2)}));
  // A count far beyond the data: only the whole records present are read, nothing is
  // allocated for the rest.
  std::string hostile("\xFF\xFF\xFF\x7F", 4);
  hostile += std::string("\x01\x00\x00\x00\x00\x00\x80\x3F\x00\x00\x00\x40", 12);
  hostile += "\x01\x02";
  TStringStream bad(hostile);
  path.ReadPath(bad);
  EXPECT_EQ(path.Points(), (Points{Pt(vgPathPointLineTo, 1, 2)}));
  for (const std::string& head : {std::string("\x00\x00\x00\x80", 4), std::string(4, '\0'), std::string("\x05\x00", 2)}) {
    TStringStream s(head);
    path.ReadPath(s);
    EXPECT_TRUE(path.IsEmpty());
  }
}

// The property travels inside a component stream.
class TPathHolder : public TComponent {
  KBL_DECLARE_CLASS(TPathHolder, TComponent)
 public:
  explicit TPathHolder(TComponent* owner) : TComponent(owner) {}
  ~TPathHolder() override { delete path_; }
  TvgPathData* GetPath() const { return path_; }
  void SetPath(TvgPathData* value) { path_->Assign(value); }

 private:
  TvgPathData* path_ = new TvgPathData;
};

KBL_PUBLISHED(TPathHolder) { KBL_PROP(Path); }

TEST(VgPathStream, PropertyRoundTripsThroughAComponentStream) {
  RegisterClass<TPathHolder>();
  TPathHolder source(nullptr);
  source.GetPath()->SetData("M 0 0 L 10 0 C 1 2 3 4 5 6 Z");
  TMemoryStream stream;
  WriteComponentToStream(stream, &source);
  const std::string bytes = Bytes(stream);
  EXPECT_NE(bytes.find("Path.Path"), std::string::npos);
  EXPECT_EQ(bytes.find("Data"), std::string::npos);  // the text is not stored
  stream.SetPosition(0);
  TPathHolder copy(nullptr);
  ReadComponentFromStream(stream, &copy);
  EXPECT_EQ(copy.GetPath()->Points(), source.GetPath()->Points());
  TPathHolder empty(nullptr);
  TMemoryStream none;
  WriteComponentToStream(none, &empty);
  EXPECT_EQ(Bytes(none).find("Path.Path"), std::string::npos);
}

}  // namespace

// --- Resource link

namespace {

// Stands in for the path resource objects of the style system, matched by class name.
class TvgPathObject : public TComponent, public IvgSceneEntry {
  KBL_DECLARE_CLASS(TvgPathObject, TComponent)
 public:
  explicit TvgPathObject(TComponent* owner) : TComponent(owner) { vgRegisterSceneObject(this); }
  ~TvgPathObject() override {
    vgUnregisterSceneObject(this);
    delete path_;
  }
  std::string GetSceneResourceName() const override { return ResourceName; }
  bool GetSceneStored() const override { return true; }
  TvgPathData* GetPath() const { return path_; }
  void SetPath(TvgPathData* p) { path_->Assign(p); }
  std::string ResourceName;

 private:
  TvgPathData* path_ = new TvgPathData;
};

KBL_PUBLISHED(TvgPathObject) { KBL_PROP(Path); }

TEST(VgPathResource, AssignLinksOrCopiesAndLinksDieWithTheResource) {
  vgFreeRegistries();
  auto* resource = new TvgPathObject(nullptr);
  resource->ResourceName = "Arrow";
  resource->GetPath()->SetData("M 0 0 L 5 5");
  TvgPathData linked;
  int changes = 0;
  struct Counter {
    int* n;
    void Hit(TObject*) { ++*n; }
  } counter{&changes};
  linked.OnChanged = TNotifyEvent::Of<&Counter::Hit>(&counter);
  linked.SetResourceName("arrow");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(linked.GetPath(), resource->GetPath());
  TvgPathData copy;
  copy.SetData("M 1 1");
  copy.Assign(&linked);
  EXPECT_EQ(copy.GetResource(), resource);
  EXPECT_EQ(copy.GetResourceName(), "arrow");
  TvgPathData plain;
  plain.Assign(resource->GetPath());
  EXPECT_EQ(plain.GetData(), "M 0,0 L 5,5 ");
  EXPECT_EQ(plain.GetResource(), nullptr);
  delete resource;
  EXPECT_EQ(linked.GetResource(), nullptr);
  EXPECT_EQ(copy.GetResource(), nullptr);
  EXPECT_EQ(copy.GetPath(), nullptr);
  vgFreeRegistries();
}

}  // namespace
