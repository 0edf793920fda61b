// Value types of the vector scene: colours, points, rects, vectors and matrices, their maths and
// their text forms. Everything here is a pure function of its arguments and safe on any thread;
// number text always uses "." whatever the locale and never touches process-wide settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// --- Property setters

// Stores `value` into `field` when they differ; true when it did, so that a setter runs its
// follow-up (repaint, realign, restyle) only on a real change.
template <typename T, typename V>
bool vgSetChanged(T& field, const V& value) {
  if (value == field) return false;
  field = value;
  return true;
}

// --- Records

// 32-bit ARGB: alpha in bits 24-31, red 16-23, green 8-15, blue 0-7. Property and brush colours
// are straight; colours inside bitmaps and canvas buffers are premultiplied by their alpha.
using TvgColor = uint32_t;

struct TvgPoint {
  float X = 0;
  float Y = 0;
  friend bool operator==(const TvgPoint&, const TvgPoint&) = default;
};

// Normal when Left <= Right and Top <= Bottom; most helpers do not normalise.
struct TvgRect {
  float Left = 0;
  float Top = 0;
  float Right = 0;
  float Bottom = 0;
  friend bool operator==(const TvgRect&, const TvgRect&) = default;
};

// A homogeneous 2-D vector for matrix products; vectors made from points carry W = 1.
struct TvgVector {
  float X = 0;
  float Y = 0;
  float W = 0;
  friend bool operator==(const TvgVector&, const TvgVector&) = default;
};

// 3 x 3, row by row, applied to row vectors: x' = x*m11 + y*m21 + w*m31, y' = x*m12 + y*m22 +
// w*m32. m31 and m32 hold the translation; the third column stays 0, 0, 1 in every matrix the
// engine builds.
struct TvgMatrix {
  float m11 = 0, m12 = 0, m13 = 0;
  float m21 = 0, m22 = 0, m23 = 0;
  float m31 = 0, m32 = 0, m33 = 0;
  friend bool operator==(const TvgMatrix&, const TvgMatrix&) = default;
};

using TvgPolygon = std::vector<TvgPoint>;

// One row of the named-colour table: the name and the colour in its text form.
struct TvgColorIdent {
  const char* Name;
  const char* Value;
};

// --- Constants

constexpr float vgPI = 3.1415927f;
constexpr float vgDegToRadFactor = 0.017453292f;
constexpr float vgRadToDegFactor = 57.29578f;
constexpr float vgInv360 = 0.0027777778f;
constexpr float vg180 = 180.0f;
constexpr float vg360 = 360.0f;
// The denormal single whose bits are 0x000116C2: determinants below it count as zero.
constexpr float vgEpsilonMatrix = 9.99995e-41f;
// 65535, 65535 in a flattened polygon separates closed figures.
constexpr float vgClosePolygonValue = 65535.0f;

constexpr TvgMatrix IdentityMatrix = {1, 0, 0, 0, 1, 0, 0, 0, 1};

// The 147 colour keywords of SVG 1.1 in alphabetical order, first letter upper case.
constexpr int vgColorIdentCount = 147;
extern const TvgColorIdent vgColorIdents[vgColorIdentCount];

// --- Construction and access

TvgPoint vgPoint(float x, float y);
TvgRect vgRect(float left, float top, float right, float bottom);
TvgVector vgVector(float x, float y, float w = 1.0f);
TvgVector vgVectorFromPoint(const TvgPoint& p, float w = 1.0f);
TvgPoint vgPointFromVector(const TvgVector& v);
TvgColor vgMakeColor(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 0xFF);
float vgRectWidth(const TvgRect& r);
float vgRectHeight(const TvgRect& r);

// --- Rect helpers

void vgOffsetRect(TvgRect& r, float dx, float dy);
void vgMultiplyRect(TvgRect& r, float sx, float sy);
// Negative values shrink.
void vgInflateRect(TvgRect& r, float dx, float dy);
// Min of Left/Top, max of Right/Bottom; empty rects are not special.
TvgRect vgUnionRect(const TvgRect& a, const TvgRect& b);
// Strict: rects that only touch do not intersect (false, dest all zero).
bool vgIntersectRect(TvgRect& dest, const TvgRect& a, const TvgRect& b);
// Closed: rects that touch do intersect.
bool vgIntersectsRect(const TvgRect& a, const TvgRect& b);
// All four edges count as inside.
bool vgPtInRect(const TvgPoint& p, const TvgRect& r);
bool vgIsRectEmpty(const TvgRect& r);
TvgRect vgNormalizeRect(const TvgRect& r);
// Bounds of points[0..highIndex] (clipped to the array); an empty range gives the inverted rect
// (61440, 61440, -61440, -61440).
TvgRect vgPolygonBounds(const TvgPolygon& points, int32_t highIndex);
inline TvgRect vgPolygonBounds(const TvgPolygon& points) {
  return vgPolygonBounds(points, static_cast<int32_t>(points.size()) - 1);
}
// Moves r (size kept) so that it is centred in bounds, offsets rounded; answers the new r.
TvgRect vgRectCenter(TvgRect& r, const TvgRect& bounds);
// Shrinks r (never enlarges) to fit bounds keeping its aspect, then centres it; answers the
// scale ratio (1 when bounds has no area).
float vgFitRect(TvgRect& r, const TvgRect& bounds);

// --- Vectors and matrices

TvgVector vgVectorTransform(const TvgVector& v, const TvgMatrix& m);
TvgVector vgVectorSubtract(const TvgVector& a, const TvgVector& b);
float vgVectorLengthSquared(const TvgVector& v);
float vgVectorLength(const TvgVector& v);
float vgVectorDotProduct(const TvgVector& a, const TvgVector& b);
float vgVectorCrossProductZ(const TvgVector& a, const TvgVector& b);
// 0 when either vector has length 0.
float vgVectorAngleCosine(const TvgVector& a, const TvgVector& b);
// Degrees; positive when b lies clockwise of a in screen coordinates (cross product z < 0).
float vgVectorAngle(const TvgVector& a, const TvgVector& b);
// Applying the product equals applying m1, then m2.
TvgMatrix vgMatrixMultiply(const TvgMatrix& m1, const TvgMatrix& m2);
float vgMatrixDeterminant(const TvgMatrix& m);
void vgAdjointMatrix(TvgMatrix& m);
void vgScaleMatrix(TvgMatrix& m, float factor);
// A singular matrix (|determinant| below vgEpsilonMatrix) becomes the identity.
void vgInvertMatrix(TvgMatrix& m);
// Angle in radians.
TvgMatrix vgCreateRotationMatrix(float angle);

// --- Scalars

void vgSinCos(float angle, float& sinValue, float& cosValue);
float vgRadToDeg(float radians);
float vgDegToRad(float degrees);
// Degrees into [-180, 360).
float vgNormalizeAngle(float angle);
float vgMaxFloat(float a, float b);
float vgMinFloat(float a, float b);
float vgInterpolateSingle(float start, float stop, float t);
// An empty step that callers use as a placeholder.
void vgDoNothing();

// --- Colours

// Alpha 0 gives 0; alpha 255 leaves the colour; channels are truncated.
TvgColor vgPremultiplyAlpha(TvgColor c);
// The inverse; channels that exceed the alpha (not valid premultiplied data) clamp to 255.
TvgColor vgUnpremultiplyAlpha(TvgColor c);
// Scales the alpha by an opacity below 1 (negative counts as 0); colour channels untouched.
TvgColor vgOpacityColor(TvgColor c, float opacity);
// Each byte from start toward stop by t; t outside 0..1 (overshooting easing curves) clamps each
// channel to 0..255 instead of wrapping.
TvgColor vgInterpolateColor(TvgColor start, TvgColor stop, float t);
// Hue, saturation, lightness, each 0..1.
void vgRGBtoHSL(TvgColor c, float& h, float& s, float& l);
// Opaque result; channels rounded to nearest, halves to even.
TvgColor vgHSLtoRGB(float h, float s, float l);
// Adds to H, S and L, clamps each to 0..1 (hue is clamped, not wrapped), keeps the alpha.
TvgColor vgChangeHSL(TvgColor c, float dh, float ds, float dl);
// "#AARRGGBB", upper case.
std::string vgColorToStr(TvgColor c);
// "#hex" (digits as given: "#FF0000" is transparent red), a colour name in any case, or a 32-bit
// integer (decimal or "$hex"). Empty or unreadable text gives 0; never raises.
TvgColor vgStrToColor(const std::string& text);

// --- Number and geometry text (always "." as decimal separator)

// Whole numbers without fraction ("12"), others with three decimals ("0.500").
std::string vgFloatToStr(float x);
// Raises EConvertError ("'<text>' is not a valid floating point value") for text that is not a
// number or does not fit a single. Surrounding blanks are allowed.
float vgStrToFloat(const std::string& text);
// "(x,y)".
std::string vgPointToString(const TvgPoint& p);
// Blanks around the numbers are accepted; a missing or malformed number raises EConvertError.
TvgPoint vgStringToPoint(const std::string& text);
// "(left,top,right,bottom)".
std::string vgRectToString(const TvgRect& r);
TvgRect vgStringToRect(const std::string& text);

// --- Pixel buffers (32-bit words)

void vgMoveLongword(const uint32_t* src, uint32_t* dst, int32_t count);
void vgFillLongword(uint32_t* dst, int32_t count, uint32_t value);
void vgFillAlpha(uint32_t* dst, int32_t count, uint8_t alpha);
// Fills rows top .. min(height, bottom) - 1, columns left .. min(width, right) - 1 of a buffer
// `width` words wide; negative left or top count from 0.
void vgFillLongwordRect(uint32_t* dst, int32_t width, int32_t height, uint32_t value, int32_t left,
                        int32_t top, int32_t right, int32_t bottom);
