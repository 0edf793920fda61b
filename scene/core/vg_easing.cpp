// Easing curves of the animations.
#include "vg_easing.h"

#include <cmath>

namespace {

constexpr double kHalfPi = 1.5707963267948966;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

// A zero duration would divide by zero; such an animation is simply at its end.
inline bool NoDuration(double d) { return d == 0; }

}  // namespace

double vgInterpolateLinear(double t, double b, double c, double d, TvgAnimationType) {
  if (NoDuration(d)) return b + c;
  return c * (t / d) + b;
}

double vgInterpolateQuadratic(double t, double b, double c, double d, TvgAnimationType type) {
  if (NoDuration(d)) return b + c;
  const double u = t / d;
  switch (type) {
    case vgAnimationIn: return c * u * u + b;
    case vgAnimationOut: return -c * u * (u - 2) + b;
    default: {
      const double v = t / (d / 2);
      if (v < 1) return c / 2 * v * v + b;
      const double w = v - 1;
      return -c / 2 * ((w - 2) * w - 1) + b;
    }
  }
}

double vgInterpolateCubic(double t, double b, double c, double d, TvgAnimationType type) {
  if (NoDuration(d)) return b + c;
  const double u = t / d;
  switch (type) {
    case vgAnimationIn: return c * u * u * u + b;
    case vgAnimationOut: {
      const double w = u - 1;
      return c * (w * w * w + 1) + b;
    }
    default: {
      const double v = t / (d / 2);
      if (v < 1) return c / 2 * v * v * v + b;
      const double w = v - 2;
      return c / 2 * (w * w * w + 2) + b;
    }
  }
}

double vgInterpolateQuartic(double t, double b, double c, double d, TvgAnimationType type) {
  if (NoDuration(d)) return b + c;
  const double u = t / d;
  switch (type) {
    case vgAnimationIn: return c * u * u * u * u + b;
    case vgAnimationOut: {
      const double w = u - 1;
      return -c * (w * w * w * w - 1) + b;
    }
    default: {
      const double v = t / (d / 2);
      if (v < 1) return c / 2 * v * v * v * v + b;
      const double w = v - 2;
      return -c / 2 * (w * w * w * w - 2) + b;
    }
  }
}

double vgInterpolateQuintic(double t, double b, double c, double d, TvgAnimationType type) {
  if (NoDuration(d)) return b + c;
  const double u = t / d;
  switch (type) {
    case vgAnimationIn: return c * u * u * u * u * u + b;
    case vgAnimationOut: {
      const double w = u - 1;
      return c * (w * w * w * w * w + 1) + b;
    }
    default: {
      const double v = t / (d / 2);
      if (v < 1) return c / 2 * v * v * v * v * v + b;
      const double w = v - 2;
      return c / 2 * (w * w * w * w * w + 2) + b;
    }
  }
}

double vgInterpolateSinusoidal(double t, double b, double c, double d, TvgAnimationType type) {
  if (NoDuration(d)) return b + c;
  const double u = t / d;
  switch (type) {
    case vgAnimationIn: return -c * std::cos(u * kHalfPi) + c + b;
    case vgAnimationOut: return c * std::sin(u * kHalfPi) + b;
    default: return -c / 2 * (std::cos(kPi * t / d) - 1) + b;
  }
}

double vgInterpolateExponential(double t, double b, double c, double d, TvgAnimationType type) {
  if (NoDuration(d)) return b + c;
  const double u = t / d;
  switch (type) {
    case vgAnimationIn:
      if (t == 0) return b;
      return c * std::pow(2.0, 10 * (u - 1)) + b;
    case vgAnimationOut:
      if (t == d) return b + c;
      return c * (1 - std::pow(2.0, -10 * u)) + b;
    default: {
      if (t == 0) return b;
      if (t == d) return b + c;
      const double v = t / (d / 2);
      if (v < 1) return c / 2 * std::pow(2.0, 10 * (v - 1)) + b;
      return c / 2 * (2 - std::pow(2.0, -10 * (v - 1))) + b;
    }
  }
}

double vgInterpolateCircular(double t, double b, double c, double d, TvgAnimationType type) {
  if (NoDuration(d)) return b + c;
  const double u = t / d;
  switch (type) {
    case vgAnimationIn: return -c * (std::sqrt(1 - u * u) - 1) + b;
    case vgAnimationOut: {
      const double w = u - 1;
      return c * std::sqrt(1 - w * w) + b;
    }
    default: {
      const double v = t / (d / 2);
      if (v < 1) return -c / 2 * (std::sqrt(1 - v * v) - 1) + b;
      const double w = v - 2;
      return c / 2 * (std::sqrt(1 - w * w) + 1) + b;
    }
  }
}

double vgInterpolateElastic(double t, double b, double c, double d, double a, double p, TvgAnimationType type) {
  if (NoDuration(d)) return b + c;
  if (t == 0) return b;
  if (type == vgAnimationInOut) {
    const double v = t / (d / 2);
    if (v == 2) return b + c;
    if (p == 0) p = d * 0.45;
  } else {
    if (t / d == 1) return b + c;
    if (p == 0) p = d * 0.3;
  }
  double s;
  if (a != 0 && std::fabs(c) <= a) {
    s = p / kTwoPi * std::asin(c / a);
  } else {
    a = c;
    s = p / 4;
  }
  switch (type) {
    case vgAnimationIn: {
      const double w = t / d - 1;
      return -(a * std::pow(2.0, 10 * w) * std::sin((w * d - s) * kTwoPi / p)) + b;
    }
    case vgAnimationOut: {
      const double u = t / d;
      return a * std::pow(2.0, -10 * u) * std::sin((u * d - s) * kTwoPi / p) + c + b;
    }
    default: {
      const double v = t / (d / 2);
      const double w = v - 1;
      if (v < 1) return -0.5 * (a * std::pow(2.0, 10 * w) * std::sin((w * d - s) * kTwoPi / p)) + b;
      return 0.5 * a * std::pow(2.0, -10 * w) * std::sin((w * d - s) * kTwoPi / p) + c + b;
    }
  }
}

double vgInterpolateBack(double t, double b, double c, double d, double s, TvgAnimationType type) {
  if (NoDuration(d)) return b + c;
  if (s == 0) s = 1.70158;
  const double u = t / d;
  switch (type) {
    case vgAnimationIn: return c * u * u * ((s + 1) * u - s) + b;
    case vgAnimationOut: {
      const double w = u - 1;
      return c * (w * w * ((s + 1) * w + s) + 1) + b;
    }
    default: {
      s *= 1.525;
      const double v = t / (d / 2);
      if (v < 1) return c / 2 * (v * v * ((s + 1) * v - s)) + b;
      const double w = v - 2;
      return c / 2 * (w * w * ((s + 1) * w + s) + 2) + b;
    }
  }
}

namespace {

double BounceOut(double t, double b, double c, double d) {
  const long double u = static_cast<long double>(t) / d;
  const long double k = 7.5625L;
  long double r;
  if (u < 1 / 2.75L) {
    r = k * u * u;
  } else if (u < 2 / 2.75L) {
    const long double w = u - 1.5L / 2.75L;
    r = k * w * w + 0.75L;
  } else if (u < 2.5L / 2.75L) {
    const long double w = u - 2.25L / 2.75L;
    r = k * w * w + 0.9375L;
  } else {
    const long double w = u - 2.625L / 2.75L;
    r = k * w * w + 0.984375L;
  }
  return static_cast<double>(c * r + b);
}

}  // namespace

double vgInterpolateBounce(double t, double b, double c, double d, TvgAnimationType type) {
  if (NoDuration(d)) return b + c;
  switch (type) {
    case vgAnimationIn: return c - BounceOut(d - t, 0, c, d) + b;
    case vgAnimationOut: return BounceOut(t, b, c, d);
    default:
      if (t < d / 2) return (c - BounceOut(d - 2 * t, 0, c, d)) * 0.5 + b;
      return BounceOut(2 * t - d, 0, c, d) * 0.5 + c * 0.5 + b;
  }
}

double vgInterpolate(TvgInterpolationType interpolation, double t, double b, double c, double d,
                     TvgAnimationType type) {
  switch (interpolation) {
    case vgInterpolationLinear: return vgInterpolateLinear(t, b, c, d, type);
    case vgInterpolationQuadratic: return vgInterpolateQuadratic(t, b, c, d, type);
    case vgInterpolationCubic: return vgInterpolateCubic(t, b, c, d, type);
    case vgInterpolationQuartic: return vgInterpolateQuartic(t, b, c, d, type);
    case vgInterpolationQuintic: return vgInterpolateQuintic(t, b, c, d, type);
    case vgInterpolationSinusoidal: return vgInterpolateSinusoidal(t, b, c, d, type);
    case vgInterpolationExponential: return vgInterpolateExponential(t, b, c, d, type);
    case vgInterpolationCircular: return vgInterpolateCircular(t, b, c, d, type);
    case vgInterpolationElastic: return vgInterpolateElastic(t, b, c, d, 0, 0, type);
    case vgInterpolationBack: return vgInterpolateBack(t, b, c, d, 0, type);
    case vgInterpolationBounce: return vgInterpolateBounce(t, b, c, d, type);
  }
  return vgInterpolateLinear(t, b, c, d, type);
}
