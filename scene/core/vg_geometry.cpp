// Geometry value objects and the natural cubic spline.
#include "vg_geometry.h"

#include <cmath>

#include "classlib/Filer.h"
#include "vg_notify_p.h"

KBL_PUBLISHED(TvgBounds) {
  p.Property("Left", &TvgBounds::GetLeft, &TvgBounds::SetLeft).Stored(false);
  p.Property("Top", &TvgBounds::GetTop, &TvgBounds::SetTop).Stored(false);
  p.Property("Right", &TvgBounds::GetRight, &TvgBounds::SetRight).Stored(false);
  p.Property("Bottom", &TvgBounds::GetBottom, &TvgBounds::SetBottom).Stored(false);
}

KBL_PUBLISHED(TvgPosition) {
  p.Property("X", &TvgPosition::GetX, &TvgPosition::SetX).Stored(false);
  p.Property("Y", &TvgPosition::GetY, &TvgPosition::SetY).Stored(false);
}

KBL_PUBLISHED(TvgTransform) {
  KBL_PROP(Position);
  KBL_PROP(Scale);
  KBL_PROP(RotateAngle);
  KBL_PROP(RotateCenter);
}

// --- TvgBounds

TvgBounds::TvgBounds(const TvgRect& defaultValue) : defaultValue_(defaultValue) { SetRect(defaultValue); }

void TvgBounds::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TvgBounds*>(source)) {
    SetRect(other->GetRect());
    return;
  }
  TPersistent::Assign(source);
}

void TvgBounds::SetRect(const TvgRect& r) {
  if (r == GetRect()) return;
  left_ = r.Left;
  top_ = r.Top;
  right_ = r.Right;
  bottom_ = r.Bottom;
  OnChange(this);
}

void TvgBounds::SetLeft(float v) {
  if (v == left_) return;
  left_ = v;
  OnChange(this);
}

void TvgBounds::SetTop(float v) {
  if (v == top_) return;
  top_ = v;
  OnChange(this);
}

void TvgBounds::SetRight(float v) {
  if (v == right_) return;
  right_ = v;
  OnChange(this);
}

void TvgBounds::SetBottom(float v) {
  if (v == bottom_) return;
  bottom_ = v;
  OnChange(this);
}

TvgRect TvgBounds::MarginRect(const TvgRect& r) const {
  return {r.Left + left_, r.Top + top_, r.Right - right_, r.Bottom - bottom_};
}

void TvgBounds::DefineProperties(TFiler& filer) {
  filer.DefineProperty(
      "Rect", [this](TReader& reader) { SetRect(vgStringToRect(reader.ReadString())); },
      [this](TWriter& writer) { writer.WriteString(vgRectToString(GetRect())); }, GetRect() != defaultValue_);
}

// --- TvgPosition

TvgPosition::TvgPosition(const TvgPoint& defaultValue)
    : y_(defaultValue.Y), x_(defaultValue.X), defaultValue_(defaultValue) {}

void TvgPosition::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TvgPosition*>(source)) {
    SetPoint(other->GetPoint());
    return;
  }
  TPersistent::Assign(source);
}

void TvgPosition::SetPoint(const TvgPoint& p) {
  x_ = p.X;
  y_ = p.Y;
  OnChange(this);
}

void TvgPosition::SetX(float v) {
  if (v == x_) return;
  x_ = v;
  OnChange(this);
}

void TvgPosition::SetY(float v) {
  if (v == y_) return;
  y_ = v;
  OnChange(this);
}

void TvgPosition::DefineProperties(TFiler& filer) {
  filer.DefineProperty(
      "Point", [this](TReader& reader) { SetPoint(vgStringToPoint(reader.ReadString())); },
      [this](TWriter& writer) { writer.WriteString(vgPointToString(GetPoint())); }, GetPoint() != defaultValue_);
}

// --- TvgTransform

TvgTransform::TvgTransform()
    : position_(new TvgPosition({0, 0})),
      scale_(new TvgPosition({1, 1})),
      skew_(new TvgPosition({0, 0})),
      rotateCenter_(new TvgPosition({0.5f, 0.5f})) {
  const TNotifyEvent rebuild = TNotifyEvent::Of<&TvgTransform::MatrixChanged>(this);
  for (TvgPosition* p : {position_, scale_, skew_, rotateCenter_}) p->OnChange = rebuild;
  Rebuild();
}

TvgTransform::~TvgTransform() {
  for (TvgPosition* p : {position_, scale_, skew_, rotateCenter_}) delete p;
}

void TvgTransform::Assign(TPersistent* source) {
  auto* other = AssignSource(this, source);
  if (other == nullptr) return;
  // Into the fields without notifications, then one rebuild. The angle is copied too: a
  // rotation must survive streaming and copying.
  auto copy = [](TvgPosition* to, const TvgPosition* from) {
    TvgNotifyDetach detached(to->OnChange);
    to->SetPoint(from->GetPoint());
  };
  copy(position_, other->position_);
  copy(scale_, other->scale_);
  copy(skew_, other->skew_);
  copy(rotateCenter_, other->rotateCenter_);
  rotateAngle_ = other->rotateAngle_;
  Rebuild();
}

void TvgTransform::SetRotateAngle(float angle) {
  if (angle == rotateAngle_) return;
  rotateAngle_ = angle;
  // Takes effect at once, so a rotation read from a stream (after Position and Scale) or set
  // alone is not lost.
  Rebuild();
}

void TvgTransform::MatrixChanged(TObject*) { Rebuild(); }

void TvgTransform::Rebuild() {
  matrix_ = IdentityMatrix;
  matrix_.m31 = position_->GetX();
  matrix_.m32 = position_->GetY();
  matrix_.m11 = scale_->GetX();
  matrix_.m22 = scale_->GetY();
  matrix_.m13 = skew_->GetX();
  matrix_.m23 = skew_->GetY();
  if (rotateAngle_ != 0) matrix_ = vgMatrixMultiply(vgCreateRotationMatrix(vgDegToRad(rotateAngle_)), matrix_);
  OnChanged(this);
}

// --- TvgSpline

TvgSpline::TvgSpline(const TvgPolygon& polygon) : count_(static_cast<int32_t>(polygon.size())) {
  if (count_ < 2) return;
  std::vector<double> xs, ys;
  for (const TvgPoint& p : polygon) {
    xs.push_back(p.X);
    ys.push_back(p.Y);
  }
  xRows_ = Coefficients(xs);
  yRows_ = Coefficients(ys);
}

// The derivatives D at the knots solve the tridiagonal system of the natural spline (diagonal
// 2, 4, ..., 4, 2, off-diagonals 1), factorised by square roots.
std::vector<TvgSpline::Row> TvgSpline::Coefficients(const std::vector<double>& y) {
  const size_t n = y.size() - 1;
  std::vector<double> r(n + 1), g(n + 1), h(n + 1), z(n + 1), D(n + 1);
  r[0] = 3 * (y[1] - y[0]);
  r[n] = 3 * (y[n] - y[n - 1]);
  for (size_t i = 1; i < n; ++i) r[i] = 3 * (y[i + 1] - y[i - 1]);
  g[0] = std::sqrt(2.0);
  h[0] = 1 / g[0];
  for (size_t i = 1; i < n; ++i) {
    g[i] = std::sqrt(4 - h[i - 1] * h[i - 1]);
    h[i] = 1 / g[i];
  }
  g[n] = std::sqrt(2 - h[n - 1] * h[n - 1]);
  z[0] = r[0] / g[0];
  for (size_t i = 1; i <= n; ++i) z[i] = (r[i] - z[i - 1] * h[i - 1]) / g[i];
  D[n] = z[n] / g[n];
  for (size_t i = n; i-- > 0;) D[i] = (z[i] - D[i + 1] * h[i]) / g[i];

  std::vector<Row> rows(n);
  for (size_t i = 0; i < n; ++i) {
    const double a = y[i], b = D[i];
    const double c = 3 * (y[i + 1] - y[i]) - 2 * D[i] - D[i + 1];
    const double d = 2 * (y[i] - y[i + 1]) + D[i] + D[i + 1];
    const double k = static_cast<double>(i);
    // The cubic in u = T - i, expanded in T.
    rows[i] = {d, c - 3 * k * d, (3 * k * d - 2 * c) * k + b, ((c - k * d) * k - b) * k + a};
  }
  return rows;
}

float TvgSpline::EvaluateRows(const std::vector<Row>& rows, float t) {
  const int64_t n = static_cast<int64_t>(rows.size());
  int64_t i;
  if (t <= 0 || std::isnan(t)) i = 0;
  else if (t > n) i = n;
  else i = Trunc(t);
  if (i == n) i = n - 1;
  const Row& k = rows[static_cast<size_t>(i)];
  const double v = t;
  return static_cast<float>(((k[0] * v + k[1]) * v + k[2]) * v + k[3]);
}

void TvgSpline::Evaluate(float t, float& x, float& y) const {
  if (count_ < 2) {
    x = 0;
    y = 0;
    return;
  }
  x = EvaluateRows(xRows_, t);
  y = EvaluateRows(yRows_, t);
}
