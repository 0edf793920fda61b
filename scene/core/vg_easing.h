// Easing curves of the animations: eleven curves, each eased in, out or in and out, in the
// classic four-argument form (t elapsed, b start, c change, d duration). Pure functions.
#pragma once

#include "classlib/TypInfo.h"

KBL_ENUM(TvgInterpolationType, vgInterpolationLinear, vgInterpolationQuadratic, vgInterpolationCubic,
         vgInterpolationQuartic, vgInterpolationQuintic, vgInterpolationSinusoidal, vgInterpolationExponential,
         vgInterpolationCircular, vgInterpolationElastic, vgInterpolationBack, vgInterpolationBounce)
KBL_ENUM(TvgAnimationType, vgAnimationIn, vgAnimationOut, vgAnimationInOut)

// The animation base calls these with b = 0, c = 1 and d = its duration, so the result is the
// progress: 0 at t = 0, 1 at t = d, outside 0..1 where back and elastic overshoot. A duration
// of 0 gives b + c (the end) instead of dividing by zero.
double vgInterpolateLinear(double t, double b, double c, double d, TvgAnimationType type);
double vgInterpolateQuadratic(double t, double b, double c, double d, TvgAnimationType type);
double vgInterpolateCubic(double t, double b, double c, double d, TvgAnimationType type);
double vgInterpolateQuartic(double t, double b, double c, double d, TvgAnimationType type);
double vgInterpolateQuintic(double t, double b, double c, double d, TvgAnimationType type);
double vgInterpolateSinusoidal(double t, double b, double c, double d, TvgAnimationType type);
double vgInterpolateExponential(double t, double b, double c, double d, TvgAnimationType type);
double vgInterpolateCircular(double t, double b, double c, double d, TvgAnimationType type);
// a: amplitude, p: period; 0 picks the defaults (amplitude c, period 0.3 d, 0.45 d in and out).
double vgInterpolateElastic(double t, double b, double c, double d, double a, double p, TvgAnimationType type);
// s: overshoot; 0 picks 1.70158.
double vgInterpolateBack(double t, double b, double c, double d, double s, TvgAnimationType type);
double vgInterpolateBounce(double t, double b, double c, double d, TvgAnimationType type);

// Dispatches on the curve with the default extra arguments.
double vgInterpolate(TvgInterpolationType interpolation, double t, double b, double c, double d,
                     TvgAnimationType type);
