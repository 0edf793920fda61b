// Value types of the vector scene: maths, colours and text forms.
#include "vg_types.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "classlib/SysUtils.h"
#include "vg_tokens.h"

// --- Named colours

const TvgColorIdent vgColorIdents[vgColorIdentCount] = {
    {"Aliceblue", "#FFF0F8FF"},       {"Antiquewhite", "#FFFAEBD7"},     {"Aqua", "#FF00FFFF"},
    {"Aquamarine", "#FF7FFFD4"},      {"Azure", "#FFF0FFFF"},            {"Beige", "#FFF5F5DC"},
    {"Bisque", "#FFFFE4C4"},          {"Black", "#FF000000"},            {"Blanchedalmond", "#FFFFEBCD"},
    {"Blue", "#FF0000FF"},            {"Blueviolet", "#FF8A2BE2"},       {"Brown", "#FFA52A2A"},
    {"Burlywood", "#FFDEB887"},       {"Cadetblue", "#FF5F9EA0"},        {"Chartreuse", "#FF7FFF00"},
    {"Chocolate", "#FFD2691E"},       {"Coral", "#FFFF7F50"},            {"Cornflowerblue", "#FF6495ED"},
    {"Cornsilk", "#FFFFF8DC"},        {"Crimson", "#FFDC143C"},          {"Cyan", "#FF00FFFF"},
    {"Darkblue", "#FF00008B"},        {"Darkcyan", "#FF008B8B"},         {"Darkgoldenrod", "#FFB8860B"},
    {"Darkgray", "#FFA9A9A9"},        {"Darkgreen", "#FF006400"},        {"Darkgrey", "#FFA9A9A9"},
    {"Darkkhaki", "#FFBDB76B"},       {"Darkmagenta", "#FF8B008B"},      {"Darkolivegreen", "#FF556B2F"},
    {"Darkorange", "#FFFF8C00"},      {"Darkorchid", "#FF9932CC"},       {"Darkred", "#FF8B0000"},
    {"Darksalmon", "#FFE9967A"},      {"Darkseagreen", "#FF8FBC8F"},     {"Darkslateblue", "#FF483D8B"},
    {"Darkslategray", "#FF2F4F4F"},   {"Darkslategrey", "#FF2F4F4F"},    {"Darkturquoise", "#FF00CED1"},
    {"Darkviolet", "#FF9400D3"},      {"Deeppink", "#FFFF1493"},         {"Deepskyblue", "#FF00BFFF"},
    {"Dimgray", "#FF696969"},         {"Dimgrey", "#FF696969"},          {"Dodgerblue", "#FF1E90FF"},
    {"Firebrick", "#FFB22222"},       {"Floralwhite", "#FFFFFAF0"},      {"Forestgreen", "#FF228B22"},
    {"Fuchsia", "#FFFF00FF"},         {"Gainsboro", "#FFDCDCDC"},        {"Ghostwhite", "#FFF8F8FF"},
    {"Gold", "#FFFFD700"},            {"Goldenrod", "#FFDAA520"},        {"Gray", "#FF808080"},
    {"Green", "#FF008000"},           {"Greenyellow", "#FFADFF2F"},      {"Grey", "#FF808080"},
    {"Honeydew", "#FFF0FFF0"},        {"Hotpink", "#FFFF69B4"},          {"Indianred", "#FFCD5C5C"},
    {"Indigo", "#FF4B0082"},          {"Ivory", "#FFFFFFF0"},            {"Khaki", "#FFF0E68C"},
    {"Lavender", "#FFE6E6FA"},        {"Lavenderblush", "#FFFFF0F5"},    {"Lawngreen", "#FF7CFC00"},
    {"Lemonchiffon", "#FFFFFACD"},    {"Lightblue", "#FFADD8E6"},        {"Lightcoral", "#FFF08080"},
    {"Lightcyan", "#FFE0FFFF"},       {"Lightgoldenrodyellow", "#FFFAFAD2"}, {"Lightgray", "#FFD3D3D3"},
    {"Lightgreen", "#FF90EE90"},      {"Lightgrey", "#FFD3D3D3"},        {"Lightpink", "#FFFFB6C1"},
    {"Lightsalmon", "#FFFFA07A"},     {"Lightseagreen", "#FF20B2AA"},    {"Lightskyblue", "#FF87CEFA"},
    {"Lightslategray", "#FF778899"},  {"Lightslategrey", "#FF778899"},   {"Lightsteelblue", "#FFB0C4DE"},
    {"Lightyellow", "#FFFFFFE0"},     {"Lime", "#FF00FF00"},             {"Limegreen", "#FF32CD32"},
    {"Linen", "#FFFAF0E6"},           {"Magenta", "#FFFF00FF"},          {"Maroon", "#FF800000"},
    {"Mediumaquamarine", "#FF66CDAA"}, {"Mediumblue", "#FF0000CD"},      {"Mediumorchid", "#FFBA55D3"},
    {"Mediumpurple", "#FF9370DB"},    {"Mediumseagreen", "#FF3CB371"},   {"Mediumslateblue", "#FF7B68EE"},
    {"Mediumspringgreen", "#FF00FA9A"}, {"Mediumturquoise", "#FF48D1CC"}, {"Mediumvioletred", "#FFC71585"},
    {"Midnightblue", "#FF191970"},    {"Mintcream", "#FFF5FFFA"},        {"Mistyrose", "#FFFFE4E1"},
    {"Moccasin", "#FFFFE4B5"},        {"Navajowhite", "#FFFFDEAD"},      {"Navy", "#FF000080"},
    {"Oldlace", "#FFFDF5E6"},         {"Olive", "#FF808000"},            {"Olivedrab", "#FF6B8E23"},
    {"Orange", "#FFFFA500"},          {"Orangered", "#FFFF4500"},        {"Orchid", "#FFDA70D6"},
    {"Palegoldenrod", "#FFEEE8AA"},   {"Palegreen", "#FF98FB98"},        {"Paleturquoise", "#FFAFEEEE"},
    {"Palevioletred", "#FFDB7093"},   {"Papayawhip", "#FFFFEFD5"},       {"Peachpuff", "#FFFFDAB9"},
    {"Peru", "#FFCD853F"},            {"Pink", "#FFFFC0CB"},             {"Plum", "#FFDDA0DD"},
    {"Powderblue", "#FFB0E0E6"},      {"Purple", "#FF800080"},           {"Red", "#FFFF0000"},
    {"Rosybrown", "#FFBC8F8F"},       {"Royalblue", "#FF4169E1"},        {"Saddlebrown", "#FF8B4513"},
    {"Salmon", "#FFFA8072"},          {"Sandybrown", "#FFF4A460"},       {"Seagreen", "#FF2E8B57"},
    {"Seashell", "#FFFFF5EE"},        {"Sienna", "#FFA0522D"},           {"Silver", "#FFC0C0C0"},
    {"Skyblue", "#FF87CEEB"},         {"Slateblue", "#FF6A5ACD"},        {"Slategray", "#FF708090"},
    {"Slategrey", "#FF708090"},       {"Snow", "#FFFFFAFA"},             {"Springgreen", "#FF00FF7F"},
    {"Steelblue", "#FF4682B4"},       {"Tan", "#FFD2B48C"},              {"Teal", "#FF008080"},
    {"Thistle", "#FFD8BFD8"},         {"Tomato", "#FFFF6347"},           {"Turquoise", "#FF40E0D0"},
    {"Violet", "#FFEE82EE"},          {"Wheat", "#FFF5DEB3"},            {"White", "#FFFFFFFF"},
    {"Whitesmoke", "#FFF5F5F5"},      {"Yellow", "#FFFFFF00"},           {"Yellowgreen", "#FF9ACD32"},
};

// --- Construction and access

TvgPoint vgPoint(float x, float y) { return {x, y}; }
TvgRect vgRect(float left, float top, float right, float bottom) { return {left, top, right, bottom}; }
TvgVector vgVector(float x, float y, float w) { return {x, y, w}; }
TvgVector vgVectorFromPoint(const TvgPoint& p, float w) { return {p.X, p.Y, w}; }
TvgPoint vgPointFromVector(const TvgVector& v) { return {v.X, v.Y}; }

TvgColor vgMakeColor(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  return static_cast<TvgColor>(a) << 24 | static_cast<TvgColor>(r) << 16 | static_cast<TvgColor>(g) << 8 | b;
}

float vgRectWidth(const TvgRect& r) { return r.Right - r.Left; }
float vgRectHeight(const TvgRect& r) { return r.Bottom - r.Top; }

// --- Rect helpers

void vgOffsetRect(TvgRect& r, float dx, float dy) {
  r.Left += dx;
  r.Right += dx;
  r.Top += dy;
  r.Bottom += dy;
}

void vgMultiplyRect(TvgRect& r, float sx, float sy) {
  r.Left *= sx;
  r.Right *= sx;
  r.Top *= sy;
  r.Bottom *= sy;
}

void vgInflateRect(TvgRect& r, float dx, float dy) {
  r.Left -= dx;
  r.Right += dx;
  r.Top -= dy;
  r.Bottom += dy;
}

TvgRect vgUnionRect(const TvgRect& a, const TvgRect& b) {
  return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
          std::max(a.Bottom, b.Bottom)};
}

bool vgIntersectRect(TvgRect& dest, const TvgRect& a, const TvgRect& b) {
  if (b.Left < a.Right && b.Right > a.Left && b.Top < a.Bottom && b.Bottom > a.Top) {
    dest = {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
            std::min(a.Bottom, b.Bottom)};
    return true;
  }
  dest = TvgRect();
  return false;
}

bool vgIntersectsRect(const TvgRect& a, const TvgRect& b) {
  return a.Left <= b.Right && a.Right >= b.Left && a.Top <= b.Bottom && a.Bottom >= b.Top;
}

bool vgPtInRect(const TvgPoint& p, const TvgRect& r) {
  return p.X >= r.Left && p.X <= r.Right && p.Y >= r.Top && p.Y <= r.Bottom;
}

bool vgIsRectEmpty(const TvgRect& r) { return vgRectWidth(r) <= 0 || vgRectHeight(r) <= 0; }

TvgRect vgNormalizeRect(const TvgRect& r) {
  return {std::min(r.Left, r.Right), std::min(r.Top, r.Bottom), std::max(r.Left, r.Right),
          std::max(r.Top, r.Bottom)};
}

TvgRect vgPolygonBounds(const TvgPolygon& points, int32_t highIndex) {
  TvgRect result = {61440, 61440, -61440, -61440};
  const int32_t last = std::min(highIndex, static_cast<int32_t>(points.size()) - 1);
  for (int32_t i = 0; i <= last; ++i) {
    const TvgPoint& p = points[static_cast<size_t>(i)];
    if (p.X < result.Left) result.Left = p.X;
    if (p.Y < result.Top) result.Top = p.Y;
    if (p.X > result.Right) result.Right = p.X;
    if (p.Y > result.Bottom) result.Bottom = p.Y;
  }
  return result;
}

TvgRect vgRectCenter(TvgRect& r, const TvgRect& bounds) {
  const float w = vgRectWidth(r);
  const float h = vgRectHeight(r);
  const float left = bounds.Left + static_cast<float>(Round((vgRectWidth(bounds) - w) / 2));
  const float top = bounds.Top + static_cast<float>(Round((vgRectHeight(bounds) - h) / 2));
  r = {left, top, left + w, top + h};
  return r;
}

float vgFitRect(TvgRect& r, const TvgRect& bounds) {
  float ratio = 1;
  if (vgRectWidth(bounds) * vgRectHeight(bounds) == 0) return ratio;
  const float rx = vgRectWidth(r) / vgRectWidth(bounds);
  const float ry = vgRectHeight(r) / vgRectHeight(bounds);
  ratio = rx > ry ? rx : ry;
  if (ratio < 1) {
    r = {0, 0, vgRectWidth(r), vgRectHeight(r)};
  } else {
    r = {0, 0, static_cast<float>(Round(vgRectWidth(r) / ratio)), static_cast<float>(Round(vgRectHeight(r) / ratio))};
  }
  vgRectCenter(r, bounds);
  return ratio;
}

// --- Vectors and matrices

TvgVector vgVectorTransform(const TvgVector& v, const TvgMatrix& m) {
  return {v.X * m.m11 + v.Y * m.m21 + v.W * m.m31, v.X * m.m12 + v.Y * m.m22 + v.W * m.m32, 1.0f};
}

TvgVector vgVectorSubtract(const TvgVector& a, const TvgVector& b) { return {a.X - b.X, a.Y - b.Y, 1.0f}; }
float vgVectorLengthSquared(const TvgVector& v) { return v.X * v.X + v.Y * v.Y; }
float vgVectorLength(const TvgVector& v) { return std::sqrt(vgVectorLengthSquared(v)); }
float vgVectorDotProduct(const TvgVector& a, const TvgVector& b) { return a.X * b.X + a.Y * b.Y; }
float vgVectorCrossProductZ(const TvgVector& a, const TvgVector& b) { return a.X * b.Y - a.Y * b.X; }

float vgVectorAngleCosine(const TvgVector& a, const TvgVector& b) {
  const float lengths = vgVectorLength(a) * vgVectorLength(b);
  if (lengths == 0) return 0;
  return vgVectorDotProduct(a, b) / lengths;
}

float vgVectorAngle(const TvgVector& a, const TvgVector& b) {
  // Rounding can push the cosine of (anti)parallel vectors just past 1; arccos would give NaN.
  const float cosine = std::clamp(vgVectorAngleCosine(a, b), -1.0f, 1.0f);
  const float angle = vgRadToDeg(std::acos(cosine));
  return vgVectorCrossProductZ(a, b) < 0 ? angle : -angle;
}

TvgMatrix vgMatrixMultiply(const TvgMatrix& m1, const TvgMatrix& m2) {
  TvgMatrix r;
  r.m11 = m1.m11 * m2.m11 + m1.m12 * m2.m21 + m1.m13 * m2.m31;
  r.m12 = m1.m11 * m2.m12 + m1.m12 * m2.m22 + m1.m13 * m2.m32;
  r.m13 = m1.m11 * m2.m13 + m1.m12 * m2.m23 + m1.m13 * m2.m33;
  r.m21 = m1.m21 * m2.m11 + m1.m22 * m2.m21 + m1.m23 * m2.m31;
  r.m22 = m1.m21 * m2.m12 + m1.m22 * m2.m22 + m1.m23 * m2.m32;
  r.m23 = m1.m21 * m2.m13 + m1.m22 * m2.m23 + m1.m23 * m2.m33;
  r.m31 = m1.m31 * m2.m11 + m1.m32 * m2.m21 + m1.m33 * m2.m31;
  r.m32 = m1.m31 * m2.m12 + m1.m32 * m2.m22 + m1.m33 * m2.m32;
  r.m33 = m1.m31 * m2.m13 + m1.m32 * m2.m23 + m1.m33 * m2.m33;
  return r;
}

float vgMatrixDeterminant(const TvgMatrix& m) {
  return m.m11 * (m.m22 * m.m33 - m.m32 * m.m23) - m.m12 * (m.m21 * m.m33 - m.m31 * m.m23) +
         m.m13 * (m.m21 * m.m32 - m.m31 * m.m22);
}

void vgAdjointMatrix(TvgMatrix& m) {
  const TvgMatrix a = m;
  m.m11 = a.m22 * a.m33 - a.m23 * a.m32;
  m.m12 = -(a.m12 * a.m33 - a.m13 * a.m32);
  m.m13 = a.m12 * a.m23 - a.m13 * a.m22;
  m.m21 = -(a.m21 * a.m33 - a.m23 * a.m31);
  m.m22 = a.m11 * a.m33 - a.m13 * a.m31;
  m.m23 = -(a.m11 * a.m23 - a.m13 * a.m21);
  m.m31 = a.m21 * a.m32 - a.m22 * a.m31;
  m.m32 = -(a.m11 * a.m32 - a.m12 * a.m31);
  m.m33 = a.m11 * a.m22 - a.m12 * a.m21;
}

void vgScaleMatrix(TvgMatrix& m, float factor) {
  for (float* v : {&m.m11, &m.m12, &m.m13, &m.m21, &m.m22, &m.m23, &m.m31, &m.m32, &m.m33}) *v *= factor;
}

void vgInvertMatrix(TvgMatrix& m) {
  const float d = vgMatrixDeterminant(m);
  if (!(std::fabs(d) >= vgEpsilonMatrix)) {  // NaN counts as singular too
    m = IdentityMatrix;
    return;
  }
  vgAdjointMatrix(m);
  vgScaleMatrix(m, 1.0f / d);
}

TvgMatrix vgCreateRotationMatrix(float angle) {
  float s, c;
  vgSinCos(angle, s, c);
  return {c, s, 0, -s, c, 0, 0, 0, 1};
}

// --- Scalars

void vgSinCos(float angle, float& sinValue, float& cosValue) {
  sinValue = std::sin(angle);
  cosValue = std::cos(angle);
}

float vgRadToDeg(float radians) { return radians * vgRadToDegFactor; }
float vgDegToRad(float degrees) { return degrees * vgDegToRadFactor; }

float vgNormalizeAngle(float angle) {
  float result = angle - std::trunc(angle * vgInv360) * vg360;
  if (result < -vg180) result += vg360;
  return result;
}

float vgMaxFloat(float a, float b) { return a > b ? a : b; }
float vgMinFloat(float a, float b) { return a < b ? a : b; }
float vgInterpolateSingle(float start, float stop, float t) { return start + (stop - start) * t; }
void vgDoNothing() {}

// --- Colours

namespace {

inline int Channel(TvgColor c, int shift) { return static_cast<int>(c >> shift & 0xFF); }
inline TvgColor ClampByte(int64_t v) { return static_cast<TvgColor>(std::clamp<int64_t>(v, 0, 255)); }

}  // namespace

// Integer arithmetic gives the exact truncated quotient; a floating-point a/255 factor can land
// just below a whole number and lose one step.
TvgColor vgPremultiplyAlpha(TvgColor c) {
  const int a = Channel(c, 24);
  if (a == 0) return 0;
  if (a == 255) return c;
  TvgColor result = c & 0xFF000000u;
  for (int shift : {16, 8, 0}) result |= static_cast<TvgColor>(Channel(c, shift) * a / 255) << shift;
  return result;
}

TvgColor vgUnpremultiplyAlpha(TvgColor c) {
  const int a = Channel(c, 24);
  if (a == 0) return 0;
  if (a == 255) return c;
  TvgColor result = c & 0xFF000000u;
  for (int shift : {16, 8, 0}) result |= ClampByte(Channel(c, shift) * 255 / a) << shift;
  return result;
}

TvgColor vgOpacityColor(TvgColor c, float opacity) {
  if (opacity >= 1 || std::isnan(opacity)) return c;
  const int64_t a = opacity <= 0 ? 0 : Trunc(Channel(c, 24) * static_cast<double>(opacity));
  return (c & 0x00FFFFFFu) | ClampByte(a) << 24;
}

TvgColor vgInterpolateColor(TvgColor start, TvgColor stop, float t) {
  if (std::isnan(t)) t = 0;
  TvgColor result = 0;
  for (int shift : {24, 16, 8, 0}) {
    const int from = Channel(start, shift);
    const int diff = Channel(stop, shift) - from;
    result |= ClampByte(from + Trunc(diff * static_cast<double>(t))) << shift;
  }
  return result;
}

void vgRGBtoHSL(TvgColor c, float& h, float& s, float& l) {
  const double r = Channel(c, 16) / 255.0;
  const double g = Channel(c, 8) / 255.0;
  const double b = Channel(c, 0) / 255.0;
  const double mx = std::max({r, g, b});
  const double mn = std::min({r, g, b});
  const double light = (mx + mn) / 2;
  l = static_cast<float>(light);
  if (mx == mn) {
    h = 0;
    s = 0;
    return;
  }
  const double d = mx - mn;
  s = static_cast<float>(light < 0.5 ? d / (mx + mn) : d / (2 - mx - mn));
  double hue;
  if (r == mx) hue = (g - b) / d;
  else if (g == mx) hue = 2 + (b - r) / d;
  else hue = 4 + (r - g) / d;
  hue /= 6;
  if (hue < 0) hue += 1;
  h = static_cast<float>(hue);
}

namespace {

double HueToValue(double p, double q, double hue) {
  const double t = hue - std::floor(hue);
  if (6 * t < 1) return p + (q - p) * 6 * t;
  if (2 * t < 1) return q;
  if (3 * t < 2) return p + (q - p) * (2.0 / 3 - t) * 6;
  return p;
}

}  // namespace

TvgColor vgHSLtoRGB(float h, float s, float l) {
  if (s == 0) {
    const TvgColor v = ClampByte(Round(255.0 * l));
    return 0xFF000000u | v << 16 | v << 8 | v;
  }
  const double hd = h, sd = s, ld = l;
  const double q = ld < 0.5 ? ld * (1 + sd) : ld + sd - ld * sd;
  const double p = 2 * ld - q;
  const TvgColor r = ClampByte(Round(255 * HueToValue(p, q, hd + 1.0 / 3)));
  const TvgColor g = ClampByte(Round(255 * HueToValue(p, q, hd)));
  const TvgColor b = ClampByte(Round(255 * HueToValue(p, q, hd - 1.0 / 3)));
  return 0xFF000000u | r << 16 | g << 8 | b;
}

TvgColor vgChangeHSL(TvgColor c, float dh, float ds, float dl) {
  float h, s, l;
  vgRGBtoHSL(c, h, s, l);
  h = std::clamp(h + dh, 0.0f, 1.0f);
  s = std::clamp(s + ds, 0.0f, 1.0f);
  l = std::clamp(l + dl, 0.0f, 1.0f);
  return (vgHSLtoRGB(h, s, l) & 0x00FFFFFFu) | (c & 0xFF000000u);
}

std::string vgColorToStr(TvgColor c) { return "#" + IntToHex(c, 8); }

namespace {

// Hexadecimal digits only, at most 32 bits of value.
bool TryHexToColor(const std::string& digits, TvgColor& value) {
  if (digits.empty()) return false;
  uint64_t v = 0;
  for (char ch : digits) {
    int d;
    if (ch >= '0' && ch <= '9') d = ch - '0';
    else if (ch >= 'a' && ch <= 'f') d = ch - 'a' + 10;
    else if (ch >= 'A' && ch <= 'F') d = ch - 'A' + 10;
    else return false;
    v = v << 4 | static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFu) return false;
  }
  value = static_cast<TvgColor>(v);
  return true;
}

}  // namespace

TvgColor vgStrToColor(const std::string& text) {
  if (text.empty()) return 0;
  TvgColor value = 0;
  if (text[0] == '#') return TryHexToColor(text.substr(1), value) ? value : 0;
  for (const TvgColorIdent& ident : vgColorIdents) {
    if (SameText(text, ident.Name)) return TryHexToColor(ident.Value + 1, value) ? value : 0;
  }
  // An integer: decimal (negative values wrap to their 32-bit pattern) or "$hex".
  int64_t number = 0;
  if (TryStrToInt64(text, number) && number >= std::numeric_limits<int32_t>::min() && number <= 0xFFFFFFFFll) {
    return static_cast<TvgColor>(static_cast<uint64_t>(number) & 0xFFFFFFFFu);
  }
  return 0;
}

// --- Number and geometry text

std::string vgFloatToStr(float x) {
  const double v = x;
  if (v == 0) return "0";  // also for -0
  if (std::isfinite(v) && std::trunc(v) == v) return FloatToStrDot(v, 0);
  return FloatToStrDot(v, 3);
}

float vgStrToFloat(const std::string& text) {
  // Only the plain decimal notation: no "inf", "nan" or hexadecimal floats, which the
  // conversion underneath would accept.
  const std::string trimmed = Trim(text);
  bool plain = !trimmed.empty();
  for (char c : trimmed) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+')) plain = false;
  }
  double value = 0;
  if (!plain || !TryStrToFloatDot(trimmed, value) || std::fabs(value) > std::numeric_limits<float>::max()) {
    throw EConvertError("'" + text + "' is not a valid floating point value");
  }
  return static_cast<float>(value);
}

std::string vgPointToString(const TvgPoint& p) {
  return "(" + vgFloatToStr(p.X) + "," + vgFloatToStr(p.Y) + ")";
}

TvgPoint vgStringToPoint(const std::string& text) {
  std::string rest = text;
  vgGetToken(rest, ",()");
  TvgPoint p;
  p.X = vgStrToFloat(vgGetToken(rest, ",()"));
  p.Y = vgStrToFloat(vgGetToken(rest, ",()"));
  return p;
}

std::string vgRectToString(const TvgRect& r) {
  return "(" + vgFloatToStr(r.Left) + "," + vgFloatToStr(r.Top) + "," + vgFloatToStr(r.Right) + "," +
         vgFloatToStr(r.Bottom) + ")";
}

TvgRect vgStringToRect(const std::string& text) {
  std::string rest = text;
  vgGetToken(rest, ",()");
  TvgRect r;
  r.Left = vgStrToFloat(vgGetToken(rest, ",()"));
  r.Top = vgStrToFloat(vgGetToken(rest, ",()"));
  r.Right = vgStrToFloat(vgGetToken(rest, ",()"));
  r.Bottom = vgStrToFloat(vgGetToken(rest, ",()"));
  return r;
}

// --- Pixel buffers

void vgMoveLongword(const uint32_t* src, uint32_t* dst, int32_t count) {
  if (count > 0) std::memmove(dst, src, static_cast<size_t>(count) * 4);
}

void vgFillLongword(uint32_t* dst, int32_t count, uint32_t value) {
  if (count > 0) std::fill(dst, dst + count, value);
}

void vgFillAlpha(uint32_t* dst, int32_t count, uint8_t alpha) {
  for (int32_t i = 0; i < count; ++i) dst[i] = (dst[i] & 0x00FFFFFFu) | static_cast<uint32_t>(alpha) << 24;
}

void vgFillLongwordRect(uint32_t* dst, int32_t width, int32_t height, uint32_t value, int32_t left,
                        int32_t top, int32_t right, int32_t bottom) {
  const int32_t x0 = std::max(left, 0);
  const int32_t y0 = std::max(top, 0);
  const int32_t x1 = std::min(width, right);
  const int32_t y1 = std::min(height, bottom);
  for (int32_t y = y0; y < y1; ++y) {
    uint32_t* row = dst + static_cast<size_t>(y) * static_cast<size_t>(width);
    for (int32_t x = x0; x < x1; ++x) row[x] = value;
  }
}
