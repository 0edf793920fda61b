// Bounds, position and transform (notifications, stored rules, stream texts, matrix) and the
// spline's knots and smoothness.
#include "scene/core/vg_geometry.h"

#include <gtest/gtest.h>

#include <cmath>

#include "classlib/Filer.h"
#include "classlib/FormText.h"
#include "classlib/Streams.h"

namespace {

struct Counter {
  int hits = 0;
  void Hit(TObject*) { ++hits; }
  TNotifyEvent Event() { return TNotifyEvent::Of<&Counter::Hit>(this); }
};

// A component publishing one of each, so the value objects travel through real streams.
class TGeometryHolder : public TComponent {
  KBL_DECLARE_CLASS(TGeometryHolder, TComponent)
 public:
  explicit TGeometryHolder(TComponent* owner) : TComponent(owner) {}
  ~TGeometryHolder() override {
    delete margins_;
    delete position_;
    delete transform_;
  }
  TvgBounds* GetMargins() const { return margins_; }
  void SetMargins(TvgBounds* v) { margins_->Assign(v); }
  TvgPosition* GetPosition() const { return position_; }
  void SetPosition(TvgPosition* v) { position_->Assign(v); }
  TvgTransform* GetTransform() const { return transform_; }
  void SetTransform(TvgTransform* v) { transform_->Assign(v); }

 private:
  TvgBounds* margins_ = new TvgBounds(TvgRect());
  TvgPosition* position_ = new TvgPosition({0, 0});
  TvgTransform* transform_ = new TvgTransform;
};

KBL_PUBLISHED(TGeometryHolder) {
  KBL_PROP(Margins);
  KBL_PROP(Position);
  KBL_PROP(Transform);
}

std::string AsText(TComponent* c) {
  std::string text = ComponentToText(c);
  return text;
}

TEST(VgBounds, NotifiesOnlyOnChange) {
  TvgBounds bounds(vgRect(1, 2, 3, 4));
  Counter counter;
  bounds.OnChange = counter.Event();
  bounds.SetRect(vgRect(1, 2, 3, 4));
  EXPECT_EQ(counter.hits, 0);
  bounds.SetRect(vgRect(0, 2, 3, 5));
  EXPECT_EQ(counter.hits, 1);  // once for two values
  bounds.SetLeft(0);
  bounds.SetTop(2);
  EXPECT_EQ(counter.hits, 1);
  bounds.SetBottom(7);
  EXPECT_EQ(counter.hits, 2);
  EXPECT_EQ(bounds.MarginRect(vgRect(0, 0, 100, 50)), vgRect(0, 2, 97, 43));
  EXPECT_FALSE(bounds.MarginEmpty());
  EXPECT_TRUE(TvgBounds().MarginEmpty());
}

TEST(VgPosition, SetPointAlwaysNotifiesSettersOnlyOnChange) {
  TvgPosition position({1, 2});
  Counter counter;
  position.OnChange = counter.Event();
  position.SetPoint({1, 2});
  EXPECT_EQ(counter.hits, 1);
  position.SetX(1);
  EXPECT_EQ(counter.hits, 1);
  position.SetY(3);
  EXPECT_EQ(counter.hits, 2);
}

TEST(VgGeometryStreams, OnlyChangedValuesAreWrittenAsText) {
  TGeometryHolder holder(nullptr);
  std::string text = AsText(&holder);
  EXPECT_EQ(text.find("Rect"), std::string::npos) << text;
  EXPECT_EQ(text.find("Point"), std::string::npos) << text;
  holder.GetMargins()->SetLeft(5);
  holder.GetPosition()->SetPoint({10, 20.5f});
  text = AsText(&holder);
  EXPECT_NE(text.find("Margins.Rect = '(5,0,0,0)'"), std::string::npos) << text;
  EXPECT_NE(text.find("Position.Point = '(10,20.500)'"), std::string::npos) << text;
  EXPECT_EQ(text.find("Transform.Scale.Point"), std::string::npos) << text;  // still (1,1)
  TGeometryHolder copy(nullptr);
  TextToComponent(text, &copy);
  EXPECT_EQ(copy.GetMargins()->GetRect(), vgRect(5, 0, 0, 0));
  EXPECT_EQ(copy.GetPosition()->GetPoint(), (TvgPoint{10, 20.5f}));
}

TEST(VgTransform, MatrixRotatesThenScalesThenMoves) {
  TvgTransform t;
  EXPECT_EQ(t.Matrix(), IdentityMatrix);
  t.GetPosition()->SetPoint({10, 20});
  t.GetScale()->SetPoint({2, 2});
  t.SetRotateAngle(90);
  const TvgVector v = vgVectorTransform(vgVector(1, 0), t.Matrix());
  EXPECT_NEAR(v.X, 10, 1e-5f);
  EXPECT_NEAR(v.Y, 22, 1e-5f);
  // RotateCenter does not enter the matrix.
  const TvgMatrix before = t.Matrix();
  t.GetRotateCenter()->SetPoint({3, 3});
  EXPECT_EQ(t.Matrix(), before);
}

TEST(VgTransform, RotationAloneTakesEffectAndSurvivesCopyAndStream) {
  TvgTransform t;
  Counter counter;
  t.OnChanged = counter.Event();
  t.SetRotateAngle(90);
  EXPECT_EQ(counter.hits, 1);
  EXPECT_NEAR(t.Matrix().m12, 1, 1e-6f);  // the matrix follows the angle at once
  TvgTransform copy;
  Counter copies;
  copy.OnChanged = copies.Event();
  copy.Assign(&t);
  EXPECT_EQ(copy.GetRotateAngle(), 90);
  EXPECT_EQ(copy.Matrix(), t.Matrix());
  EXPECT_EQ(copies.hits, 1);
  TGeometryHolder holder(nullptr);
  holder.GetTransform()->GetPosition()->SetPoint({4, 5});
  holder.GetTransform()->SetRotateAngle(30);
  const std::string text = AsText(&holder);
  TGeometryHolder back(nullptr);
  TextToComponent(text, &back);
  EXPECT_EQ(back.GetTransform()->GetRotateAngle(), 30);
  EXPECT_EQ(back.GetTransform()->Matrix(), holder.GetTransform()->Matrix());
}

TEST(VgSpline, PassesThroughItsPointsSmoothly) {
  TvgSpline spline({{0, 0}, {1, 1}, {2, 0}});
  float x, y;
  for (int i = 0; i < 3; ++i) {
    spline.Evaluate(static_cast<float>(i), x, y);
    EXPECT_NEAR(x, i, 1e-5f);
    EXPECT_NEAR(y, i == 1 ? 1 : 0, 1e-5f);
  }
  // Natural ends: the curvature vanishes at T = 0 and T = n.
  const TvgPolygon points = {{0, 3}, {1, -1}, {4, 2}, {5, 5}, {7, 0}};
  TvgSpline wavy(points);
  auto second = [&](float t) {
    const float h = 1e-2f;
    float x0, y0, x1, y1, x2, y2;
    wavy.Evaluate(t - h, x0, y0);
    wavy.Evaluate(t, x1, y1);
    wavy.Evaluate(t + h, x2, y2);
    return (y0 - 2 * y1 + y2) / (h * h);
  };
  EXPECT_NEAR(second(0.011f), 0, 0.2f);
  EXPECT_NEAR(second(3.989f), 0, 0.2f);
  // Continuous value and slope across each knot.
  for (int k = 1; k < 4; ++k) {
    float xa, ya, xb, yb;
    wavy.Evaluate(k - 1e-3f, xa, ya);
    wavy.Evaluate(k + 1e-3f, xb, yb);
    EXPECT_NEAR(ya, yb, 0.02f);
    EXPECT_NEAR(xa, xb, 0.02f);
  }
  TvgSpline single({{5, 5}});
  single.Evaluate(0, x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  TvgSpline none({});
  none.Evaluate(2, x, y);
  EXPECT_EQ(x, 0);
}

}  // namespace
