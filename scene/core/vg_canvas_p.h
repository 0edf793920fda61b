// Outline pieces shared by the canvases: the corner shapes of rounded, bevelled and inner-corner
// rects, traversed clockwise.
#pragma once

#include <vector>

#include "vg_canvas.h"

// One piece of an outline: a pen-up move, a line, or a Bezier (control 1, control 2, end), each
// from the end of the piece before.
struct TvgOutlineSegment {
  enum Kind { Move, Line, Curve } kind = Line;
  TvgPoint p[3];
};

// Corner radii after clamping to half the rect's sides, and the Bezier control offsets
// (factor × radius).
struct TvgCornerRadii {
  float x = 0, y = 0, kx = 0, ky = 0;
};
TvgCornerRadii vgClampCornerRadii(const TvgRect& r, float xRadius, float yRadius, float factor);

// The segments of corner `corner` of r, from the point on its incoming side to the point on its
// outgoing side (clockwise: top-left comes up the left side and leaves along the top). A corner in
// `corners` takes the corner type's shape; any other is the two half-edges through the corner
// point, each a line when `inSide`/`outSide` is drawn and a move otherwise.
void vgCornerSegments(std::vector<TvgOutlineSegment>& out, const TvgRect& r, const TvgCornerRadii& radii,
                      TvgCorner corner, bool inCorners, TvgCornerType type, bool inSide, bool outSide);
// The first point of the corner (on its incoming side).
TvgPoint vgCornerStart(const TvgRect& r, const TvgCornerRadii& radii, TvgCorner corner);

// The colour stops an interpolating gradient brush takes: each point's colour with the opacity
// applied, at its offset; with `reachEnds` the first and last colours are repeated at 0 and 1
// when the points stop short of them (faded as well). Fewer than two points give no stops.
void vgGradientStops(TvgGradient& gradient, float opacity, bool reachEnds, std::vector<TvgColor>& colors,
                     std::vector<float>& positions);
