// Easing curves: end points, closed-form values, mirror symmetries and continuity of all 33
// curve variants.
#include "scene/core/vg_easing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

const TvgInterpolationType kAll[] = {
    vgInterpolationLinear,      vgInterpolationQuadratic, vgInterpolationCubic,   vgInterpolationQuartic,
    vgInterpolationQuintic,     vgInterpolationSinusoidal, vgInterpolationExponential, vgInterpolationCircular,
    vgInterpolationElastic,     vgInterpolationBack,      vgInterpolationBounce};
const TvgAnimationType kVariants[] = {vgAnimationIn, vgAnimationOut, vgAnimationInOut};

std::string Name(TvgInterpolationType i, TvgAnimationType a) {
  return GetEnumName(KblTypeInfoOf(static_cast<TvgInterpolationType*>(nullptr)), i) + "/" +
         GetEnumName(KblTypeInfoOf(static_cast<TvgAnimationType*>(nullptr)), a);
}

double Ease(TvgInterpolationType i, TvgAnimationType a, double u) { return vgInterpolate(i, u, 0, 1, 1, a); }

TEST(VgEasing, EveryCurveRunsFromStartToEnd) {
  for (auto i : kAll) {
    for (auto a : kVariants) {
      EXPECT_NEAR(vgInterpolate(i, 0, 0, 1, 2.5, a), 0.0, 1e-12) << Name(i, a);
      EXPECT_NEAR(vgInterpolate(i, 2.5, 0, 1, 2.5, a), 1.0, 1e-12) << Name(i, a);
      // Start and change are honoured.
      EXPECT_NEAR(vgInterpolate(i, 0, 3, -2, 4, a), 3.0, 1e-12) << Name(i, a);
      EXPECT_NEAR(vgInterpolate(i, 4, 3, -2, 4, a), 1.0, 1e-12) << Name(i, a);
      EXPECT_EQ(vgInterpolate(i, 0, 0, 1, 0, a), 1.0) << Name(i, a);  // no duration: at the end
    }
  }
  // Exactly, not 2^-10 or 1 - 2^-10.
  EXPECT_EQ(vgInterpolateExponential(0, 0, 1, 1, vgAnimationIn), 0.0);
  EXPECT_EQ(vgInterpolateExponential(1, 0, 1, 1, vgAnimationOut), 1.0);
  EXPECT_EQ(vgInterpolateBounce(1, 0, 1, 1, vgAnimationOut), 1.0);
}

TEST(VgEasing, ClosedFormValuesAtHalfTime) {
  EXPECT_DOUBLE_EQ(Ease(vgInterpolationQuadratic, vgAnimationIn, 0.5), 0.25);
  EXPECT_DOUBLE_EQ(Ease(vgInterpolationQuadratic, vgAnimationOut, 0.5), 0.75);
  EXPECT_DOUBLE_EQ(Ease(vgInterpolationCubic, vgAnimationIn, 0.5), 0.125);
  EXPECT_DOUBLE_EQ(Ease(vgInterpolationQuartic, vgAnimationIn, 0.5), 0.0625);
  EXPECT_DOUBLE_EQ(Ease(vgInterpolationQuintic, vgAnimationIn, 0.5), 0.03125);
  EXPECT_DOUBLE_EQ(Ease(vgInterpolationSinusoidal, vgAnimationIn, 0.5), 1 - std::sqrt(0.5));
  EXPECT_DOUBLE_EQ(Ease(vgInterpolationExponential, vgAnimationIn, 0.5), 1.0 / 32);
  EXPECT_DOUBLE_EQ(Ease(vgInterpolationCircular, vgAnimationIn, 0.5), 1 - std::sqrt(0.75));
  EXPECT_DOUBLE_EQ(Ease(vgInterpolationBounce, vgAnimationOut, 0.5), 0.765625);
  for (auto i : kAll) EXPECT_NEAR(Ease(i, vgAnimationInOut, 0.5), 0.5, 1e-12) << Name(i, vgAnimationInOut);
  for (auto a : kVariants) {
    for (double u = 0; u <= 1; u += 0.0625) EXPECT_DOUBLE_EQ(Ease(vgInterpolationLinear, a, u), u);
  }
}

// "Out" is "In" turned about the centre, and "InOut" runs "In" then "Out" at double speed; back
// and elastic use a larger overshoot or period for "InOut", so they are checked separately.
TEST(VgEasing, OutMirrorsInAndInOutJoinsThem) {
  for (auto i : kAll) {
    for (int k = 0; k <= 400; ++k) {
      const double u = k / 400.0;
      EXPECT_NEAR(Ease(i, vgAnimationOut, u), 1 - Ease(i, vgAnimationIn, 1 - u), 1e-9) << Name(i, vgAnimationOut) << u;
      if (i == vgInterpolationBack || i == vgInterpolationElastic) continue;
      const double expected = u < 0.5 ? Ease(i, vgAnimationIn, 2 * u) / 2 : 0.5 + Ease(i, vgAnimationOut, 2 * u - 1) / 2;
      EXPECT_NEAR(Ease(i, vgAnimationInOut, u), expected, 1e-9) << Name(i, vgAnimationInOut) << u;
    }
  }
  EXPECT_NEAR(vgInterpolateBack(0.25, 0, 1, 1, 0, vgAnimationInOut), vgInterpolateBack(0.5, 0, 1, 1, 1.70158 * 1.525, vgAnimationIn) / 2, 1e-12);
  EXPECT_NEAR(vgInterpolateElastic(0.25, 0, 1, 1, 0, 0, vgAnimationInOut),
              vgInterpolateElastic(0.5, 0, 1, 1, 0, 0.45, vgAnimationIn) / 2, 1e-12);
}

TEST(VgEasing, CurvesAreContinuous) {
  for (auto i : kAll) {
    for (auto a : kVariants) {
      double previous = Ease(i, a, 0);
      for (int k = 1; k <= 20000; ++k) {
        const double value = Ease(i, a, k / 20000.0);
        ASSERT_LT(std::fabs(value - previous), 0.01) << Name(i, a) << " at " << k / 20000.0;
        previous = value;
      }
    }
  }
  // Bounce thresholds, with the values on both sides.
  for (double edge : {1 / 2.75, 2 / 2.75, 2.5 / 2.75}) {
    EXPECT_NEAR(Ease(vgInterpolationBounce, vgAnimationOut, edge - 1e-12),
                Ease(vgInterpolationBounce, vgAnimationOut, edge), 1e-9);
  }
}

TEST(VgEasing, OvershootOfBackAndElastic) {
  double minimum = 1, where = 0;
  for (int k = 0; k <= 1000; ++k) {
    const double v = Ease(vgInterpolationBack, vgAnimationIn, k / 1000.0);
    if (v < minimum) minimum = v, where = k / 1000.0;
  }
  EXPECT_NEAR(minimum, -0.1, 0.002);
  EXPECT_NEAR(where, 0.42, 0.02);
  double maximum = 0;
  for (int k = 0; k <= 1000; ++k) maximum = std::max(maximum, Ease(vgInterpolationBack, vgAnimationOut, k / 1000.0));
  EXPECT_GT(maximum, 1.09);
  // Elastic with the defaults: period 0.3 and s = p / 4, so Out crosses 1 where sin is zero.
  EXPECT_NEAR(Ease(vgInterpolationElastic, vgAnimationOut, 0.075 + 0.15), 1.0, 1e-12);
  EXPECT_NEAR(Ease(vgInterpolationElastic, vgAnimationOut, 0.075 + 0.075),
              1 + std::pow(2.0, -1.5), 1e-12);
  // An amplitude larger than the change sets the phase by arcsin.
  const double custom = vgInterpolateElastic(0.3, 0, 1, 1, 2, 0.4, vgAnimationOut);
  const double s = 0.4 / (2 * 3.141592653589793) * std::asin(0.5);
  EXPECT_NEAR(custom, 2 * std::pow(2.0, -3) * std::sin((0.3 - s) * 2 * 3.141592653589793 / 0.4) + 1, 1e-12);
}

TEST(VgEasing, LinearIgnoresTheVariant) {
  for (auto a : kVariants) EXPECT_DOUBLE_EQ(vgInterpolateLinear(3, 10, 5, 4, a), 13.75);
}

}  // namespace
