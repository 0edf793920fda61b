// Path data of the scene engine.
#include "vg_pathdata.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "classlib/Filer.h"
#include "classlib/SysUtils.h"
#include "vg_registry.h"

KBL_PUBLISHED(TvgPathData) {
  p.Property("Data", &TvgPathData::GetData, &TvgPathData::SetData).Stored(false);
  p.Property("Resource", &TvgPathData::GetResource, &TvgPathData::SetResource).Stored(false);
  p.Property("ResourceName", &TvgPathData::GetResourceName, &TvgPathData::SetResourceName);
}

namespace {

constexpr double kHalfPi = 1.5707963267948966;
constexpr double kTwoPi = 6.283185307179586;
constexpr int32_t kMaxCurvePoints = 16384;

TvgPoint Add(const TvgPoint& a, const TvgPoint& b) { return {a.X + b.X, a.Y + b.Y}; }

bool Finite(const TvgPoint& p) { return std::isfinite(p.X) && std::isfinite(p.Y); }

}  // namespace

// --- Construction and resource link

TvgPathData::TvgPathData() = default;

TvgPathData::~TvgPathData() { UnlinkResource(); }

void TvgPathData::LinkResource(TComponent* resource) {
  if (resource_ == resource) return;
  UnlinkResource();
  resource_ = resource;
  // A freed resource must not leave a dangling link behind.
  if (resource_) vgAddFreeNotify(resource_, this, [this] { resource_ = nullptr; });
}

void TvgPathData::UnlinkResource() {
  if (resource_) vgRemoveFreeNotify(resource_, this);
  resource_ = nullptr;
}

void TvgPathData::Assign(TPersistent* source) {
  auto* other = AssignSource(this, source);
  if (other == nullptr) return;
  if (other->GetPath() != nullptr) {
    LinkResource(other->resource_);
    resourceName_ = other->resourceName_;
  } else {
    points_ = other->points_;
    startPoint_ = other->startPoint_;
  }
  Changed();
}

TvgPathData* TvgPathData::GetPath() {
  if (!resource_ && !resourceName_.empty()) {
    TComponent* found = vgFindResourceObject(resourceName_);
    if (found && vgInheritsFromName(found, "TvgPathObject")) LinkResource(found);
  }
  if (!resource_) return nullptr;
  auto* path = dynamic_cast<TvgPathData*>(vgResourceProperty(resource_, "TvgPathObject", "Path"));
  return path == this ? nullptr : path;
}

void TvgPathData::SetResource(TComponent* resource) {
  if (resource_ == resource) return;
  LinkResource(resource);
  resourceName_ = vgGetResourceName(resource);
  Changed();
}

void TvgPathData::SetResourceName(const std::string& name) {
  if (resourceName_ == name) return;
  resourceName_ = name;
  // The link follows the name: the next GetPath looks it up again.
  UnlinkResource();
  Changed();
}

// --- Points

void TvgPathData::Clear() {
  points_.clear();
  Changed();
}

TvgPoint TvgPathData::LastPoint() const { return points_.empty() ? TvgPoint() : points_.back().Point; }

namespace {

// Relative commands and arcs can overflow singles; a path never holds infinities or NaN, which
// its text could not hold either.
float FiniteCoordinate(float v) {
  if (std::isnan(v)) return 0;
  return std::clamp(v, -std::numeric_limits<float>::max(), std::numeric_limits<float>::max());
}

}  // namespace

void TvgPathData::Append(TvgPathPointKind kind, const TvgPoint& p) {
  points_.push_back({kind, {FiniteCoordinate(p.X), FiniteCoordinate(p.Y)}});
}

void TvgPathData::MoveTo(const TvgPoint& p) {
  Append(vgPathPointMoveTo, p);
  startPoint_ = p;
}

void TvgPathData::MoveToRel(const TvgPoint& d) { MoveTo(Add(LastPoint(), d)); }
void TvgPathData::LineTo(const TvgPoint& p) { Append(vgPathPointLineTo, p); }
void TvgPathData::LineToRel(const TvgPoint& d) { LineTo(Add(LastPoint(), d)); }
void TvgPathData::HLineTo(float x) { LineTo({x, LastPoint().Y}); }
void TvgPathData::HLineToRel(float dx) { LineTo({LastPoint().X + dx, LastPoint().Y}); }
void TvgPathData::VLineTo(float y) { LineTo({LastPoint().X, y}); }
void TvgPathData::VLineToRel(float dy) { LineTo({LastPoint().X, LastPoint().Y + dy}); }

void TvgPathData::CurveTo(const TvgPoint& c1, const TvgPoint& c2, const TvgPoint& end) {
  Append(vgPathPointCurveTo, c1);
  Append(vgPathPointCurveTo, c2);
  Append(vgPathPointCurveTo, end);
}

void TvgPathData::CurveToRel(const TvgPoint& c1, const TvgPoint& c2, const TvgPoint& end) {
  const TvgPoint last = LastPoint();
  CurveTo(Add(last, c1), Add(last, c2), Add(last, end));
}

void TvgPathData::SmoothCurveTo(const TvgPoint& c2, const TvgPoint& end) {
  TvgPoint c1 = c2;
  if (points_.size() >= 3) {
    const TvgPoint last = LastPoint();
    const TvgPoint before = points_[points_.size() - 2].Point;
    c1 = {2 * last.X - before.X, 2 * last.Y - before.Y};
  }
  CurveTo(c1, c2, end);
}

void TvgPathData::SmoothCurveToRel(const TvgPoint& c2, const TvgPoint& end) {
  const TvgPoint last = LastPoint();
  SmoothCurveTo(Add(last, c2), Add(last, end));
}

void TvgPathData::ClosePath() { Append(vgPathPointClose, startPoint_); }

// --- Arcs

void TvgPathData::ArcSegment(const TvgPoint& center, const TvgPoint& radius, float angle, float sweep, bool first) {
  if (sweep == 0) {
    const TvgPoint p = {center.X + radius.X * std::cos(angle), center.Y + radius.Y * std::sin(angle)};
    if (first) {
      if (points_.empty()) MoveTo(p);
      else LineTo(p);
    }
    LineTo(p);
    return;
  }
  const double h = sweep / 2.0;
  const double c = std::cos(h), s = std::sin(h);
  const double k = 4 * (1 - c) / 3;
  const double local[4][2] = {{c, -s}, {c + k, -(s - k * c / s)}, {c + k, s - k * c / s}, {c, s}};
  const double rotation = angle + h;
  const double rc = std::cos(rotation), rs = std::sin(rotation);
  TvgPoint out[4];
  for (int i = 0; i < 4; ++i) {
    const double x = local[i][0] * rc - local[i][1] * rs;
    const double y = local[i][0] * rs + local[i][1] * rc;
    out[i] = {static_cast<float>(x * radius.X + center.X), static_cast<float>(y * radius.Y + center.Y)};
  }
  if (first) {
    if (points_.empty()) MoveTo(out[0]);
    else LineTo(out[0]);
  }
  CurveTo(out[1], out[2], out[3]);
}

void TvgPathData::ArcSegments(const TvgPoint& center, const TvgPoint& radius, float start, float sweep, bool first) {
  double total = 0;
  for (;;) {
    const double previous = total;
    double step;
    bool last;
    if (sweep < 0) {
      step = -kHalfPi;
      total -= kHalfPi;
      last = total <= sweep + 0.01;
    } else {
      step = kHalfPi;
      total += kHalfPi;
      last = sweep - 0.01 <= total;
    }
    if (last) step = sweep - previous;
    ArcSegment(center, radius, start, static_cast<float>(step), first);
    first = false;
    start = static_cast<float>(start + step);
    if (last) break;
  }
}

void TvgPathData::AddArc(const TvgPoint& center, const TvgPoint& radius, float startAngle, float sweepAngle) {
  double s = vgDegToRad(startAngle);
  double w = vgDegToRad(sweepAngle);
  if (!std::isfinite(s) || !std::isfinite(w) || !Finite(center) || !Finite(radius)) return;
  s -= std::trunc(s / kTwoPi) * kTwoPi;
  w = std::clamp(w, -kTwoPi, kTwoPi);
  if (std::fabs(w) < 1e-10) return;
  ArcSegments(center, radius, static_cast<float>(s), static_cast<float>(w), true);
}

void TvgPathData::AddArcSvg(const TvgPoint& p1, const TvgPoint& radius, float angle, bool largeArc, bool sweep,
                            const TvgPoint& p2) {
  // The SVG rules for out-of-range parameters: no arc between equal points, a straight line
  // when a radius is zero. Without them the centre conversion divides by zero.
  if (!Finite(p1) || !Finite(p2) || !Finite(radius) || !std::isfinite(angle)) return;
  if (p1 == p2) return;
  double rx = std::fabs(radius.X), ry = std::fabs(radius.Y);
  if (rx == 0 || ry == 0) {
    LineTo(p2);
    return;
  }
  const double phi = vgDegToRad(angle);
  const double cosPhi = std::cos(phi), sinPhi = std::sin(phi);
  const double dx = (p1.X - p2.X) / 2.0, dy = (p1.Y - p2.Y) / 2.0;
  const double x1 = cosPhi * dx + sinPhi * dy;
  const double y1 = -sinPhi * dx + cosPhi * dy;
  const double lambda = x1 * x1 / (rx * rx) + y1 * y1 / (ry * ry);
  if (lambda > 1) {
    rx *= std::sqrt(lambda);
    ry *= std::sqrt(lambda);
  }
  const double sign = largeArc == sweep ? -1 : 1;
  const double denominator = rx * rx * y1 * y1 + ry * ry * x1 * x1;
  double q = denominator == 0 ? 0 : (rx * rx * ry * ry - rx * rx * y1 * y1 - ry * ry * x1 * x1) / denominator;
  if (q < 0 || !std::isfinite(q)) q = 0;
  const double f = sign * std::sqrt(q);
  const double cx1 = f * rx * y1 / ry;
  const double cy1 = -f * ry * x1 / rx;
  const double cx = cosPhi * cx1 - sinPhi * cy1 + (p1.X + p2.X) / 2.0;
  const double cy = sinPhi * cx1 + cosPhi * cy1 + (p1.Y + p2.Y) / 2.0;
  const double ux = (x1 - cx1) / rx, uy = (y1 - cy1) / ry;
  const double vx = (-x1 - cx1) / rx, vy = (-y1 - cy1) / ry;
  const double lengthU = std::hypot(ux, uy);
  const double lengthUV = lengthU * std::hypot(vx, vy);
  if (!(lengthU > 0) || !(lengthUV > 0) || !std::isfinite(lengthUV) || !std::isfinite(cx) || !std::isfinite(cy)) {
    LineTo(p2);  // too degenerate to hold an ellipse in single precision
    return;
  }
  double theta1 = std::acos(std::clamp(ux / lengthU, -1.0, 1.0));
  if (uy < 0) theta1 = -theta1;
  double delta = std::acos(std::clamp((ux * vx + uy * vy) / lengthUV, -1.0, 1.0));
  if (ux * vy - uy * vx < 0) delta = -delta;
  if (!sweep && delta > 0) delta -= kTwoPi;
  if (sweep && delta < 0) delta += kTwoPi;
  if (std::fabs(delta) < 1e-10) return;

  const size_t first = points_.size();
  const TvgPoint savedStart = startPoint_;
  ArcSegments({0, 0}, {static_cast<float>(rx), static_cast<float>(ry)}, static_cast<float>(theta1),
              static_cast<float>(delta), false);
  startPoint_ = savedStart;
  // Rotation first, then the move to the centre.
  TvgMatrix m = vgCreateRotationMatrix(static_cast<float>(phi));
  m.m31 = static_cast<float>(cx);
  m.m32 = static_cast<float>(cy);
  bool finite = true;
  for (size_t i = first; i < points_.size(); ++i) {
    points_[i].Point = vgPointFromVector(vgVectorTransform(vgVectorFromPoint(points_[i].Point), m));
    finite = finite && Finite(points_[i].Point);
  }
  if (!finite) {
    // An ellipse beyond single range: the arc degrades to its chord.
    points_.resize(first);
    LineTo(p2);
  }
}

// --- Measuring

TvgRect TvgPathData::GetBounds() const {
  if (points_.empty()) return TvgRect();
  TvgRect r = {65535, 65535, -65535, -65535};
  for (const TvgPathPoint& p : points_) {
    if (p.Kind == vgPathPointClose) continue;
    if (p.Point.X < r.Left) r.Left = p.Point.X;
    if (p.Point.X > r.Right) r.Right = p.Point.X;
    if (p.Point.Y < r.Top) r.Top = p.Point.Y;
    if (p.Point.Y > r.Bottom) r.Bottom = p.Point.Y;
  }
  if (vgRectWidth(r) == 0) r.Right = r.Left + 0.001f;
  if (vgRectHeight(r) == 0) r.Bottom = r.Top + 0.001f;
  return r;
}

void TvgPathData::Scale(float sx, float sy) {
  for (TvgPathPoint& p : points_) {
    if (p.Kind == vgPathPointClose) continue;
    p.Point.X *= sx;
    p.Point.Y *= sy;
  }
}

void TvgPathData::FlattenToPolygon(TvgPolygon& polygon, TvgPoint& size, float flatness) const {
  polygon.clear();
  size = TvgPoint();
  if (points_.empty()) return;
  const TvgRect bounds = GetBounds();
  const double scale = std::min(vgRectWidth(bounds) / 100.0, vgRectHeight(bounds) / 100.0);
  double step = flatness * scale;
  if (!(step >= 0.05)) step = 0.05;
  TvgPoint current, figureStart;
  for (size_t i = 0; i < points_.size(); ++i) {
    const TvgPathPoint& p = points_[i];
    switch (p.Kind) {
      case vgPathPointMoveTo:
        polygon.push_back(p.Point);
        current = figureStart = p.Point;
        break;
      case vgPathPointCurveTo:
        if (i + 2 < points_.size()) {
          const TvgPoint p1 = p.Point, p2 = points_[i + 1].Point, p3 = points_[i + 2].Point;
          // The straight distance between the end points decides the count; it is capped so
          // that huge coordinates cannot ask for unbounded memory.
          const double distance = std::hypot(static_cast<double>(p3.X) - current.X, static_cast<double>(p3.Y) - current.Y);
          const double wanted = distance / step;
          int32_t n = std::isfinite(wanted) ? static_cast<int32_t>(std::min<int64_t>(Round(wanted), kMaxCurvePoints))
                                            : kMaxCurvePoints;
          n = std::max(n, 2);
          const TvgPolygon curve = vgCreateBezier(current, p1, p2, p3, n);
          polygon.insert(polygon.end(), curve.begin(), curve.end());
          current = p3;
          i += 2;
          break;
        }
        // A curve cut short (possible in streamed data) is drawn as lines.
        [[fallthrough]];
      case vgPathPointLineTo:
      default:
        polygon.push_back(p.Point);
        current = p.Point;
        break;
      case vgPathPointClose:
        polygon.push_back(figureStart);
        polygon.push_back({vgClosePolygonValue, vgClosePolygonValue});
        break;
    }
  }
  size = {std::fabs(vgRectWidth(bounds)), std::fabs(vgRectHeight(bounds))};
}

// --- Text form

std::string TvgPathData::GetData() const {
  std::string text;
  auto point = [](const TvgPoint& p) { return vgFloatToStr(p.X) + "," + vgFloatToStr(p.Y) + " "; };
  for (size_t i = 0; i < points_.size(); ++i) {
    const TvgPathPoint& p = points_[i];
    switch (p.Kind) {
      case vgPathPointMoveTo:
        text += "M " + point(p.Point);
        break;
      case vgPathPointCurveTo:
        if (i + 2 < points_.size()) {
          text += "C " + point(p.Point) + point(points_[i + 1].Point) + point(points_[i + 2].Point);
          i += 2;
          break;
        }
        [[fallthrough]];
      case vgPathPointLineTo:
      default:
        text += "L " + point(p.Point);
        break;
      case vgPathPointClose:
        text += "Z ";
        break;
    }
  }
  return text;
}

namespace {

// The argument reader of the path text.
class PathTextReader {
 public:
  explicit PathTextReader(const std::string& text) : text_(text) {}

  size_t Position() const { return pos_; }
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  void Skip() { ++pos_; }

  void SkipBlanks() {
    while (!AtEnd() && text_[pos_] == ' ') ++pos_;
  }
  void SkipBlanksAndCommas() {
    while (!AtEnd() && (text_[pos_] == ' ' || text_[pos_] == ',')) ++pos_;
  }
  // Digits, ".", "e", and "-" first or right after "e"; raises EConvertError when that is no
  // number.
  float Number() {
    SkipBlanks();
    const size_t start = pos_;
    while (!AtEnd()) {
      const char c = text_[pos_];
      const bool sign = c == '-' && (pos_ == start || text_[pos_ - 1] == 'e');
      if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || sign)) break;
      ++pos_;
    }
    return vgStrToFloat(text_.substr(start, pos_ - start));
  }
  TvgPoint Point() {
    SkipBlanksAndCommas();
    TvgPoint p;
    p.X = Number();
    SkipBlanksAndCommas();
    p.Y = Number();
    SkipBlanksAndCommas();
    return p;
  }
  // Another argument set follows.
  bool MoreArguments() const {
    const char c = Peek();
    return c == '-' || (c >= '0' && c <= '9');
  }

 private:
  const std::string& text_;
  size_t pos_ = 0;
};

bool IsCommandLetter(char c) { return c != '\0' && std::strchr("zmlchvsqtaZMLCHVSQTA", c) != nullptr; }

}  // namespace

void TvgPathData::SetData(const std::string& text) {
  std::string clean;
  clean.reserve(text.size());
  for (char c : text) {
    if (c != '\t' && c != '\n' && c != '\r') clean.push_back(c);
  }
  points_.clear();
  PathTextReader in(clean);
  for (;;) {
    const size_t passStart = in.Position();
    in.SkipBlanks();
    std::string letters;
    while (IsCommandLetter(in.Peek())) {
      letters.push_back(in.Peek());
      in.Skip();
    }
    for (char command : letters) {
      try {
        switch (command) {
          case 'Z': case 'z':
            ClosePath();
            break;
          case 'M':
            MoveTo(in.Point());
            while (in.MoreArguments()) LineTo(in.Point());
            break;
          case 'm':
            MoveToRel(in.Point());
            while (in.MoreArguments()) LineToRel(in.Point());
            break;
          case 'L':
            do LineTo(in.Point()); while (in.MoreArguments());
            break;
          case 'l':
            do LineToRel(in.Point()); while (in.MoreArguments());
            break;
          case 'C': case 'c':
            do {
              const TvgPoint c1 = in.Point(), c2 = in.Point(), end = in.Point();
              if (command == 'C') CurveTo(c1, c2, end);
              else CurveToRel(c1, c2, end);
            } while (in.MoreArguments());
            break;
          case 'S': case 's':
            do {
              const TvgPoint c2 = in.Point(), end = in.Point();
              if (command == 'S') SmoothCurveTo(c2, end);
              else SmoothCurveToRel(c2, end);
            } while (in.MoreArguments());
            break;
          case 'H':
            HLineTo(in.Number());
            break;
          case 'h':
            HLineToRel(in.Number());
            break;
          case 'V':
            VLineTo(in.Number());
            break;
          case 'v':
            VLineToRel(in.Number());
            break;
          case 'Q': case 'q':
            in.Point();
            in.Point();
            break;
          case 'T': case 't':
            in.Point();
            break;
          case 'A': case 'a': {
            const TvgPoint current = LastPoint();
            const TvgPoint radius = in.Point();
            const float angle = in.Number();
            const TvgPoint flags = in.Point();
            TvgPoint end = in.Point();
            if (command == 'a') end = Add(end, current);
            AddArcSvg(current, radius, angle, flags.X == 1, flags.Y == 1, end);
            break;
          }
        }
      } catch (const EConvertError&) {
        // A malformed number cuts its command short; parsing goes on with the next letter.
      }
    }
    if (in.Position() == passStart) break;
  }
  Changed();
}

// --- Streaming

void TvgPathData::DefineProperties(TFiler& filer) {
  filer.DefineBinaryProperty("Path", [this](TStream& s) { ReadPath(s); }, [this](TStream& s) { WritePath(s); },
                             !points_.empty());
}

namespace {

uint32_t LoadLE32(const uint8_t* b) {
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
         static_cast<uint32_t>(b[3]) << 24;
}

void StoreLE32(uint8_t* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
}

float LoadSingle(const uint8_t* b) {
  const uint32_t bits = LoadLE32(b);
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

TvgPathPointKind KindFrom(uint32_t value) {
  // Unknown kinds from damaged data are taken as lines.
  return value <= vgPathPointClose ? static_cast<TvgPathPointKind>(value) : vgPathPointLineTo;
}

}  // namespace

void TvgPathData::ReadPath(TStream& stream) {
  points_.clear();
  const int64_t size = stream.Remaining();
  uint8_t head[4];
  if (size < 4 || stream.Read(head, 4) != 4) return;
  const auto count = static_cast<int32_t>(LoadLE32(head));
  if (count <= 0) return;
  const int64_t data = size - 4;
  const int64_t recordSize = data / count == 9 ? 9 : 12;
  // The count comes from the stream: it may claim more records than the data holds.
  const int64_t records = std::min<int64_t>(count, data / recordSize);
  if (records <= 0) return;
  std::string bytes(static_cast<size_t>(records * recordSize), '\0');
  stream.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  points_.reserve(static_cast<size_t>(records));
  for (int64_t i = 0; i < records; ++i) {
    const auto* r = reinterpret_cast<const uint8_t*>(bytes.data()) + i * recordSize;
    TvgPathPoint p;
    if (recordSize == 9) {
      p.Kind = KindFrom(r[0]);
      p.Point = {LoadSingle(r + 1), LoadSingle(r + 5)};
    } else {
      p.Kind = KindFrom(LoadLE32(r));
      p.Point = {LoadSingle(r + 4), LoadSingle(r + 8)};
    }
    p.Point = {FiniteCoordinate(p.Point.X), FiniteCoordinate(p.Point.Y)};
    points_.push_back(p);
  }
  for (const TvgPathPoint& p : points_) {
    if (p.Kind == vgPathPointMoveTo) startPoint_ = p.Point;
  }
}

void TvgPathData::WritePath(TStream& stream) const {
  std::string bytes(4 + points_.size() * 12, '\0');
  auto* b = reinterpret_cast<uint8_t*>(bytes.data());
  StoreLE32(b, static_cast<uint32_t>(points_.size()));
  for (size_t i = 0; i < points_.size(); ++i) {
    uint8_t* r = b + 4 + i * 12;
    StoreLE32(r, static_cast<uint32_t>(points_[i].Kind));
    uint32_t x, y;
    std::memcpy(&x, &points_[i].Point.X, 4);
    std::memcpy(&y, &points_[i].Point.Y, 4);
    StoreLE32(r + 4, x);
    StoreLE32(r + 8, y);
  }
  stream.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// --- Bezier helpers

void vgBezierCoefficients(const TvgPoint& p0, const TvgPoint& p1, const TvgPoint& p2, const TvgPoint& p3,
                          float& ax, float& bx, float& cx, float& ay, float& by, float& cy) {
  cx = 3 * (p1.X - p0.X);
  bx = 3 * (p2.X - p1.X) - cx;
  ax = p3.X - p0.X - cx - bx;
  cy = 3 * (p1.Y - p0.Y);
  by = 3 * (p2.Y - p1.Y) - cy;
  ay = p3.Y - p0.Y - cy - by;
}

TvgPoint vgBezierPoint(float t, float ax, float bx, float cx, float ay, float by, float cy, const TvgPoint& p0) {
  const float t2 = t * t;
  const float t3 = t2 * t;
  return {ax * t3 + bx * t2 + cx * t + p0.X, ay * t3 + by * t2 + cy * t + p0.Y};
}

TvgPolygon vgCreateBezier(const TvgPoint& p0, const TvgPoint& p1, const TvgPoint& p2, const TvgPoint& p3,
                          int32_t n) {
  TvgPolygon result;
  if (n <= 0) return result;
  float ax, bx, cx, ay, by, cy;
  vgBezierCoefficients(p0, p1, p2, p3, ax, bx, cx, ay, by, cy);
  const float s = n > 1 ? 1.0f / static_cast<float>(n - 1) : 0.0f;
  result.reserve(static_cast<size_t>(n));
  float t = 0;
  for (int32_t i = 0; i < n; ++i) {
    result.push_back(vgBezierPoint(t, ax, bx, cx, ay, by, cy, p0));
    t += s;
  }
  return result;
}
