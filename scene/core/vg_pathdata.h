// Path data: the scene's vector paths (move, line, cubic curve and close points), their
// SVG-style text, the binary stream property "Path", arcs, bounds and flattening.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Classes.h"
#include "vg_types.h"

class TFiler;

enum TvgPathPointKind : int32_t {
  vgPathPointMoveTo = 0,
  vgPathPointLineTo = 1,
  vgPathPointCurveTo = 2,  // three in a row: control 1, control 2, end
  vgPathPointClose = 3,    // holds the figure's start point
};

struct TvgPathPoint {
  TvgPathPointKind Kind = vgPathPointMoveTo;
  TvgPoint Point;
  friend bool operator==(const TvgPathPoint&, const TvgPathPoint&) = default;
};

// A vector path, or a link to a named path resource (a "TvgPathObject" scene object whose
// published "Path" is painted instead). Belongs to the GUI thread.
class TvgPathData : public TPersistent {
  KBL_DECLARE_CLASS(TvgPathData, TPersistent)
 public:
  TvgPathData();
  ~TvgPathData() override;

  // From another path: links to the same resource when the source's resolves, otherwise copies
  // its points; fires OnChanged once.
  void Assign(TPersistent* source) override;

  // --- Resource link
  // The path of the linked "TvgPathObject" (looked up by ResourceName when not linked yet), or
  // nullptr.
  TvgPathData* GetPath();
  TComponent* GetResource() const { return resource_; }
  // Links to a resource object and takes its resource name; fires OnChanged.
  void SetResource(TComponent* resource);
  const std::string& GetResourceName() const { return resourceName_; }
  void SetResourceName(const std::string& name);

  // --- Points
  const std::vector<TvgPathPoint>& Points() const { return points_; }
  int32_t Count() const { return static_cast<int32_t>(points_.size()); }
  // Removes every point; fires OnChanged.
  void Clear();
  bool IsEmpty() const { return points_.empty(); }
  // The last point; (0, 0) for an empty path.
  TvgPoint LastPoint() const;
  TvgPoint StartPoint() const { return startPoint_; }

  // --- Building (none fires OnChanged; the caller does)
  void MoveTo(const TvgPoint& p);
  void MoveToRel(const TvgPoint& d);
  void LineTo(const TvgPoint& p);
  void LineToRel(const TvgPoint& d);
  // On an empty path the missing coordinate is 0.
  void HLineTo(float x);
  void HLineToRel(float dx);
  void VLineTo(float y);
  void VLineToRel(float dy);
  void CurveTo(const TvgPoint& c1, const TvgPoint& c2, const TvgPoint& end);
  void CurveToRel(const TvgPoint& c1, const TvgPoint& c2, const TvgPoint& end);
  // The first control point mirrors the one before LastPoint (or equals c2 on short paths).
  void SmoothCurveTo(const TvgPoint& c2, const TvgPoint& end);
  void SmoothCurveToRel(const TvgPoint& c2, const TvgPoint& end);
  void ClosePath();
  // An elliptic arc as cubic segments of at most 90 degrees; angles in degrees, the sweep limited
  // to one turn. Starts with a move (empty path) or a line to the arc's start.
  void AddArc(const TvgPoint& center, const TvgPoint& radius, float startAngle, float sweepAngle);
  // An SVG elliptical arc from p1 (the current point) to p2. Follows the SVG rules for odd
  // input: equal end points add nothing, a zero radius adds a line to p2, radii too small for the
  // end points are scaled up.
  void AddArcSvg(const TvgPoint& p1, const TvgPoint& radius, float angle, bool largeArc, bool sweep,
                 const TvgPoint& p2);

  // --- Measuring and converting
  // (0, 0, 0, 0) when empty; close points are ignored; a width or height of 0 becomes 0.001.
  TvgRect GetBounds() const;
  // Scales every point but close points; fires nothing.
  void Scale(float sx, float sy);
  // Lines and curves as a polygon; closed figures end with their start point and the marker
  // (65535, 65535). `size` is the size of the bounds. A curve gives at most 16384 points.
  void FlattenToPolygon(TvgPolygon& polygon, TvgPoint& size, float flatness = 0.25f) const;

  // --- Text form ("M 0,0 L 10,0.500 Z ")
  std::string GetData() const;
  // Parses SVG-style path data (M, L, H, V, C, S, A, Z absolute and relative; Q and T are read and
  // dropped). Malformed numbers cut their command short; a character that is no command or
  // argument ends the text. Never raises for bad text; fires OnChanged once.
  void SetData(const std::string& text);

  // --- Streaming
  // The binary property "Path": int32 count, then per point int32 kind, single X, single Y (the
  // older 9-byte records with a one-byte kind are read too). Counts beyond the data present are
  // cut to the whole records that are there.
  void DefineProperties(TFiler& filer) override;
  void ReadPath(TStream& stream);
  void WritePath(TStream& stream) const;

  TNotifyEvent OnChanged;

 private:
  void Changed() { OnChanged(this); }
  void Append(TvgPathPointKind kind, const TvgPoint& p);
  void ArcSegments(const TvgPoint& center, const TvgPoint& radius, float start, float sweep, bool first);
  void ArcSegment(const TvgPoint& center, const TvgPoint& radius, float angle, float sweep, bool first);
  void LinkResource(TComponent* resource);
  void UnlinkResource();

  TComponent* resource_ = nullptr;
  std::string resourceName_;
  TvgPoint startPoint_;
  std::vector<TvgPathPoint> points_;
};

// Coefficients of a cubic Bezier: per axis c = 3(p1 - p0), b = 3(p2 - p1) - c, a = p3 - p0 - c - b.
void vgBezierCoefficients(const TvgPoint& p0, const TvgPoint& p1, const TvgPoint& p2, const TvgPoint& p3,
                          float& ax, float& bx, float& cx, float& ay, float& by, float& cy);
// The curve point at t from the coefficients and p0.
TvgPoint vgBezierPoint(float t, float ax, float bx, float cx, float ay, float by, float cy, const TvgPoint& p0);
// `n` points at t = 0, 1/(n-1), ..., 1; n = 0 gives an empty polygon, n = 1 the start point.
TvgPolygon vgCreateBezier(const TvgPoint& p0, const TvgPoint& p1, const TvgPoint& p2, const TvgPoint& p3,
                          int32_t n);
