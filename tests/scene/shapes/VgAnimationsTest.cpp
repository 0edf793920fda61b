// Property animations stepped by a manual ticker, against easing values worked out here, and
// the bitmap effects' geometry, clamps and stack blur against a direct convolution.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

#include "ShapesTestSupport.h"

namespace {

// --- Animations

struct AnimationFixture : ::testing::Test {
  void SetUp() override { timer = FreshManualTicker(); }
  void TearDown() override { vgFreeAniThread(); }
  // Advances by whole ticks; answers the seconds the ticker has counted.
  float Ticks(int n) {
    timer->Advance(33u * static_cast<uint32_t>(n));
    return vgAniThread()->LastTime();
  }
  TvgManualAniTimer* timer = nullptr;
};

TEST_F(AnimationFixture, FloatAnimationFollowsLinearAndQuadraticEasing) {
  TShapeScene s;
  auto* rect = s.Add<TvgRectangle>(10, 10);
  auto* a = new TvgFloatAnimation(nullptr);
  a->SetParent(rect);
  a->SetPropertyName("Opacity");
  a->SetStartValue(0);
  a->SetStopValue(1);
  a->SetDuration(1);
  a->Start();
  EXPECT_FLOAT_EQ(rect->GetOpacity(), 0);
  const float t = Ticks(15);
  EXPECT_NEAR(rect->GetOpacity(), t, 1e-4);
  EXPECT_NEAR(rect->GetOpacity(), 0.5f, 0.02f);
  Ticks(20);
  EXPECT_FLOAT_EQ(rect->GetOpacity(), 1);
  EXPECT_FALSE(a->GetRunning());

  a->SetInterpolation(vgInterpolationQuadratic);
  a->SetStartValue(0.2f);
  a->SetStopValue(0.8f);
  a->Start();
  const float t0 = vgAniThread()->LastTime();
  const float t1 = Ticks(10) - t0;
  EXPECT_NEAR(rect->GetOpacity(), 0.2f + 0.6f * t1 * t1, 1e-4);
}

TEST_F(AnimationFixture, DottedPathAndStartFromCurrent) {
  TShapeScene s;
  auto* rect = s.Add<TvgRectangle>(10, 10);
  rect->SetStrokeThickness(4);
  auto* f = new TvgFloatAnimation(nullptr);
  f->SetParent(rect);
  f->SetPropertyName("StrokeThickness");
  f->SetStartFromCurrent(true);
  f->SetStopValue(8);
  f->SetDuration(1);
  f->Start();
  EXPECT_EQ(f->GetStartValue(), 4);
  const float t = Ticks(6);
  EXPECT_NEAR(rect->GetStrokeThickness(), 4 + 4 * t, 1e-4);

  auto* c = new TvgColorAnimation(nullptr);
  c->SetParent(rect);
  c->SetPropertyName("Fill.Color");
  c->SetStartValue("#FF000000");
  c->SetStopValue("#FFFF0000");
  c->SetDuration(0);  // completes at once with the end value
  c->Start();
  EXPECT_EQ(rect->GetFill()->GetSolidColor(), 0xFFFF0000u);
  EXPECT_FALSE(c->GetEnabled());
}

TEST_F(AnimationFixture, ColorAnimationWritesIntegersToIntegerProperties) {
  TShapeScene s;
  auto* rect = s.Add<TvgRectangle>(10, 10);
  auto* c = new TvgColorAnimation(nullptr);
  c->SetParent(rect);
  c->SetPropertyName("Cursor");  // an integer property
  c->SetStartValue("#00000000");
  c->SetStopValue("#00000064");
  c->SetDuration(1);
  c->Start();
  const float t = Ticks(15);
  EXPECT_EQ(rect->GetCursor(), static_cast<int32_t>(vgInterpolateColor(0, 0x64, t)));
}

TEST_F(AnimationFixture, KeyAnimationsInterpolateBetweenEnclosingKeys) {
  TShapeScene s;
  auto* rect = s.Add<TvgRectangle>(10, 10);
  auto* k = new TvgFloatKeyAnimation(nullptr);
  k->SetParent(rect);
  k->SetPropertyName("Opacity");
  k->AddKey(0, 0);
  k->AddKey(0.5f, 1);
  k->AddKey(1, 0.5f);
  k->SetDuration(1);
  k->Start();
  const float t = Ticks(24);
  ASSERT_GT(t, 0.5f);
  EXPECT_NEAR(rect->GetOpacity(), 1 + (0.5f - 1) * (t - 0.5f) / 0.5f, 1e-4);

  k->StopAtCurrent();
  rect->SetOpacity(0.3f);
  auto* single = new TvgFloatKeyAnimation(nullptr);
  single->SetParent(rect);
  single->SetPropertyName("Opacity");
  single->AddKey(0.5f, 1);
  single->SetDuration(1);
  single->Start();
  Ticks(10);
  EXPECT_FLOAT_EQ(rect->GetOpacity(), 0.3f);
  EXPECT_EQ(single->GetKeys()->Key(0)->GetKey(), 0.5f);
  single->GetKeys()->Key(0)->SetKey(3);
  EXPECT_EQ(single->GetKeys()->Key(0)->GetKey(), 1.0f);
}

TEST_F(AnimationFixture, GradientAnimationChangesOnlyPointsPresentInAllThree) {
  TShapeScene s;
  auto* rect = s.Add<TvgRectangle>(10, 10);
  rect->GetFill()->SetStyle(vgBrushGradient);
  TvgGradient* target = rect->GetFill()->GetGradient();
  target->GetPoints()->Clear();
  target->GetPoints()->AddPoint(0xFF000000u, 0);
  target->GetPoints()->AddPoint(0xFF000000u, 0.5f);
  target->GetPoints()->AddPoint(0xFF000000u, 1);
  auto* g = new TvgGradientAnimation(nullptr);
  g->SetParent(rect);
  g->SetPropertyName("Fill.Gradient");
  g->GetStartValue()->GetPoints()->Clear();
  g->GetStartValue()->GetPoints()->AddPoint(0xFF000000u, 0);
  g->GetStartValue()->GetPoints()->AddPoint(0xFF000000u, 1);
  g->GetStopValue()->GetPoints()->Clear();
  g->GetStopValue()->GetPoints()->AddPoint(0xFFFFFFFFu, 0);
  g->GetStopValue()->GetPoints()->AddPoint(0xFF0000FFu, 1);
  g->GetStopValue()->GetPoints()->AddPoint(0xFF00FF00u, 1);
  g->SetDuration(0);
  g->Start();
  EXPECT_EQ(target->GetPoints()->Point(0)->GetIntColor(), 0xFFFFFFFFu);
  EXPECT_EQ(target->GetPoints()->Point(1)->GetIntColor(), 0xFF0000FFu);
  EXPECT_EQ(target->GetPoints()->Point(2)->GetIntColor(), 0xFF000000u);
  EXPECT_EQ(target->GetPoints()->Point(1)->GetOffset(), 0.5f);
}

TEST_F(AnimationFixture, RectAnimationAssignsInterpolatedBounds) {
  TShapeScene s;
  auto* rect = s.Add<TvgRectangle>(10, 10);
  auto* r = new TvgRectAnimation(nullptr);
  r->SetParent(rect);
  r->SetPropertyName("Margins");
  r->GetStopValue()->SetRect(vgRect(10, 20, 30, 40));
  r->SetDuration(1);
  r->Start();
  const float t = Ticks(9);
  EXPECT_NEAR(rect->GetMargins()->GetTop(), 20 * t, 1e-4);
  EXPECT_NEAR(rect->GetMargins()->GetBottom(), 40 * t, 1e-4);
}

TEST_F(AnimationFixture, PathAnimationMovesFromStartPositionToPathEnd) {
  TShapeScene s;
  auto* rect = s.Add<TvgRectangle>(10, 10);
  rect->GetPosition()->SetPoint(vgPoint(5, 7));
  auto* p = new TvgPathAnimation(nullptr);
  p->SetParent(rect);
  p->GetPath()->SetData("M 0,0 L 10,0 L 10,20");
  p->SetDuration(0.5f);
  p->Start();
  Ticks(30);
  EXPECT_NEAR(rect->GetPosition()->GetX(), 15, 1e-3);
  EXPECT_NEAR(rect->GetPosition()->GetY(), 27, 1e-3);
}

TEST_F(AnimationFixture, StreamsKeepOnlyChangedValuesAndSwitcherDefaults) {
  TShapeScene s;
  auto* f = s.Add<TvgFloatAnimation>();
  EXPECT_FALSE(StreamHas(f, "StartFromCurrent"));
  f->SetPropertyName("Opacity");
  f->SetStopValue(0.25f);
  std::unique_ptr<TvgObject> back(RoundTrip(f));
  auto* copy = dynamic_cast<TvgFloatAnimation*>(back.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->GetPropertyName(), "Opacity");
  EXPECT_EQ(copy->GetStopValue(), 0.25f);
  auto* sw = s.Add<TvgPathSwitcher>();
  EXPECT_FLOAT_EQ(sw->GetDuration(), 0.001f);
  EXPECT_FALSE(StreamHas(sw, "Duration"));
  auto* keys = s.Add<TvgColorKeyAnimation>();
  keys->AddKey(0.25f, 0xFF102030u);
  std::unique_ptr<TvgObject> keysBack(RoundTrip(keys));
  auto* k = dynamic_cast<TvgColorKeyAnimation*>(keysBack.get());
  ASSERT_NE(k, nullptr);
  ASSERT_EQ(k->GetKeys()->Count(), 1);
  EXPECT_EQ(static_cast<TvgColorKey*>(k->GetKeys()->Key(0))->GetIntValue(), 0xFF102030u);
}

// --- Stack blur

// The blur as a direct separable convolution with weights r + 1 - |i|, edges repeated, each pass
// divided by (r + 1)^2 with truncation.
std::vector<uint32_t> ReferenceBlur(const std::vector<uint32_t>& src, int w, int h, int r) {
  const int divisor = (r + 1) * (r + 1);
  std::vector<int> pass(static_cast<size_t>(w * h) * 4);
  std::vector<uint32_t> out(src.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 4; ++c) {
        long sum = 0;
        for (int i = -r; i <= r; ++i) {
          const int xx = std::clamp(x + i, 0, w - 1);
          sum += static_cast<long>(src[static_cast<size_t>(y * w + xx)] >> (8 * c) & 0xFF) * (r + 1 - std::abs(i));
        }
        pass[static_cast<size_t>(y * w + x) * 4 + static_cast<size_t>(c)] = static_cast<int>(sum / divisor);
      }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t v = 0;
      for (int c = 0; c < 4; ++c) {
        long sum = 0;
        for (int i = -r; i <= r; ++i) {
          const int yy = std::clamp(y + i, 0, h - 1);
          sum += static_cast<long>(pass[static_cast<size_t>(yy * w + x) * 4 + static_cast<size_t>(c)]) * (r + 1 - std::abs(i));
        }
        v |= static_cast<uint32_t>(sum / divisor) << (8 * c);
      }
      out[static_cast<size_t>(y * w + x)] = v;
    }
  return out;
}

TEST(StackBlur, MatchesDirectConvolution) {
  std::mt19937 rng(7);
  for (int r : {1, 2, 4, 9}) {
    for (auto [w, h] : {std::pair{13, 7}, std::pair{1, 5}, std::pair{6, 1}, std::pair{3, 3}}) {
      TvgBitmap b(w, h);
      std::vector<uint32_t> src(static_cast<size_t>(w * h));
      for (uint32_t& p : src) {
        const uint32_t a = rng() & 0xFF;
        p = vgPremultiplyAlpha(a << 24 | (rng() & 0xFFFFFF));
      }
      std::copy(src.begin(), src.end(), b.Bits());
      vgStackBlur(b, r, true);
      const std::vector<uint32_t> expected = ReferenceBlur(src, w, h, r);
      for (int i = 0; i < w * h; ++i) ASSERT_EQ(b.Bits()[i], expected[static_cast<size_t>(i)]) << r << " " << w << "x" << h << " at " << i;
    }
  }
}

TEST(StackBlur, RadiusZeroLeavesBitmapAndNoAlphaWritesZero) {
  TvgBitmap b(4, 4);
  b.Clear(0xFF804020u);
  const uint32_t before = b.Pixel(1, 1);
  vgStackBlur(b, 0, true);
  EXPECT_EQ(b.Pixel(1, 1), before);
  vgStackBlur(b, 2, false);
  EXPECT_EQ(b.Pixel(1, 1), 0x00804020u);
}

// --- Effects

TEST(Effects, ClampsAndGeometry) {
  TShapeScene s;
  auto* shadow = s.Add<TvgShadowEffect>();
  shadow->SetSoftness(5);
  EXPECT_EQ(shadow->GetSoftness(), 3);
  shadow->SetSoftness(0.3f);
  EXPECT_EQ(shadow->GetOffset(), vgPoint(6, 6));
  const TvgRect r = shadow->GetRect(vgRect(0, 0, 10, 10));
  EXPECT_NEAR(r.Left, -6 + 3 * std::cos(vgDegToRad(45)), 1e-4);
  auto* reflection = s.Add<TvgReflectionEffect>();
  reflection->SetLength(0);
  EXPECT_FLOAT_EQ(reflection->GetLength(), 0.1f);
  reflection->SetOffsetValue(4);
  EXPECT_EQ(reflection->GetRect(vgRect(0, 0, 10, 20)), vgRect(-2, 22, 12, 46));
  auto* glow = s.Add<TvgGlowEffect>();
  EXPECT_EQ(glow->GetOffset(), vgPoint(13, 13));
  EXPECT_EQ(glow->GetGlowColor(), "#FFFFD700");
  EXPECT_TRUE(s.Add<TvgBlurEffect>()->ReplacesPainting());
  EXPECT_TRUE(s.Add<TvgInnerGlowEffect>()->PaintsAfter());
  auto* stream = s.Add<TvgShadowEffect>();
  EXPECT_FALSE(StreamHas(stream, "ShadowColor"));
  stream->SetShadowColor("#FF00FF00");
  EXPECT_TRUE(StreamHas(stream, "ShadowColor"));
}

TEST(Effects, ShadowWithZeroSoftnessBlursWithRadiusFiveAndCutsTheSilhouette) {
  TvgBitmap b(30, 30);
  b.ClearRect(vgRect(10, 10, 20, 20), 0xFFFFFFFFu);
  TvgBitmap expected(30, 30);
  expected.ClearRect(vgRect(10, 10, 20, 20), 0xFFFFFFFFu);
  const std::vector<uint8_t> mask = expected.CreateMask();
  expected.FillColor(vgOpacityColor(0xFF000000u, 0.6f));
  vgStackBlur(expected, 5, true);
  expected.ApplyMask(mask, -2, -2);  // distance 3 at 45 degrees: 2.12 rounds to 2

  TvgShadowEffect shadow(nullptr);
  shadow.SetSoftness(0);
  shadow.ProcessEffect(nullptr, &b, 1);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(b.Pixel(x, y), expected.Pixel(x, y)) << x << "," << y;
  EXPECT_EQ(b.Pixel(15, 15), 0u);
  EXPECT_GT(b.Pixel(21, 21) >> 24, 0u);
}

TEST(Effects, BlurWithZeroSoftnessAndBevelOfSizeZeroChangeNothing) {
  TvgBitmap b(8, 8);
  b.ClearRect(vgRect(2, 2, 6, 6), 0xFF336699u);
  std::vector<uint32_t> before(b.Bits(), b.Bits() + 64);
  TvgBlurEffect blur(nullptr);
  blur.SetSoftness(0);
  blur.ProcessEffect(nullptr, &b, 1);
  TvgBevelEffect bevel(nullptr);
  bevel.SetSize(0);
  bevel.ProcessEffect(nullptr, &b, 1);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), b.Bits()));
}

TEST(Effects, ReflectionFadesFromOpacityOverItsLength) {
  const int h = 11;
  TvgBitmap b(1, h);
  b.Clear(0xFFFFFFFFu);
  TvgReflectionEffect reflection(nullptr);
  reflection.SetLength(1);
  reflection.ProcessEffect(nullptr, &b, 1);
  // Row r (0 next to the object) keeps (H - r) / H x opacity of its alpha; the far row is clear.
  for (int r = 0; r < h; ++r) {
    const uint32_t expectedAlpha = static_cast<uint32_t>(std::trunc(static_cast<float>(h - 1 - r) / (h - 1) * 0.5f * 255));
    EXPECT_EQ(b.Pixel(0, r) >> 24, expectedAlpha) << r;
  }
}

}  // namespace
