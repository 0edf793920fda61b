// Geometry value objects of scene objects (bounds, position, transform), each streamed as one
// text property, and the natural cubic spline of the path animation. GUI thread only.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "classlib/Classes.h"
#include "vg_types.h"

class TFiler;

// Four-sided values (margins, padding): a rect that tells its owner of changes. Streams as the
// text property "Rect" when it differs from the rect given to the constructor.
class TvgBounds : public TPersistent {
  KBL_DECLARE_CLASS(TvgBounds, TPersistent)
 public:
  explicit TvgBounds(const TvgRect& defaultValue = TvgRect());

  void Assign(TPersistent* source) override;

  TvgRect GetRect() const { return {left_, top_, right_, bottom_}; }
  // Stores and fires OnChange once, only when a value differs.
  void SetRect(const TvgRect& r);
  float GetLeft() const { return left_; }
  float GetTop() const { return top_; }
  float GetRight() const { return right_; }
  float GetBottom() const { return bottom_; }
  void SetLeft(float v);
  void SetTop(float v);
  void SetRight(float v);
  void SetBottom(float v);
  const TvgRect& DefaultValue() const { return defaultValue_; }

  // r shrunk by the four values as margins.
  TvgRect MarginRect(const TvgRect& r) const;
  bool MarginEmpty() const { return left_ == 0 && top_ == 0 && right_ == 0 && bottom_ == 0; }
  bool IsEmpty() const { return vgIsRectEmpty(GetRect()); }

  void DefineProperties(TFiler& filer) override;

  TNotifyEvent OnChange;

 private:
  float right_ = 0, bottom_ = 0, top_ = 0, left_ = 0;
  TvgRect defaultValue_;
};

// A point that tells its owner of changes (positions, scales, gradient ends). Streams as the
// text property "Point" when it differs from the point given to the constructor.
class TvgPosition : public TPersistent {
  KBL_DECLARE_CLASS(TvgPosition, TPersistent)
 public:
  explicit TvgPosition(const TvgPoint& defaultValue = TvgPoint());

  void Assign(TPersistent* source) override;

  TvgPoint GetPoint() const { return {x_, y_}; }
  // Stores and fires OnChange always, also when nothing changed.
  void SetPoint(const TvgPoint& p);
  float GetX() const { return x_; }
  float GetY() const { return y_; }
  // Store and fire only on change.
  void SetX(float v);
  void SetY(float v);
  const TvgPoint& DefaultValue() const { return defaultValue_; }

  void DefineProperties(TFiler& filer) override;

  TNotifyEvent OnChange;

 private:
  float y_ = 0, x_ = 0;
  TvgPoint defaultValue_;
};

// Position, scale and rotation composed into a matrix: points are rotated about the origin,
// then scaled, then moved. RotateCenter does not enter the matrix; users apply it themselves.
class TvgTransform : public TPersistent {
  KBL_DECLARE_CLASS(TvgTransform, TPersistent)
 public:
  TvgTransform();
  ~TvgTransform() override;

  // Copies position, scale, rotation centre and angle, rebuilds the matrix and fires OnChanged
  // once.
  void Assign(TPersistent* source) override;

  const TvgMatrix& Matrix() const { return matrix_; }
  float GetRotateAngle() const { return rotateAngle_; }
  // Stores a changed angle and rebuilds the matrix (firing OnChanged).
  void SetRotateAngle(float angle);
  TvgPosition* GetPosition() const { return position_; }
  void SetPosition(TvgPosition* value) { position_->Assign(value); }
  TvgPosition* GetScale() const { return scale_; }
  void SetScale(TvgPosition* value) { scale_->Assign(value); }
  TvgPosition* GetSkew() const { return skew_; }
  TvgPosition* GetRotateCenter() const { return rotateCenter_; }
  void SetRotateCenter(TvgPosition* value) { rotateCenter_->Assign(value); }

  TNotifyEvent OnChanged;

 private:
  void MatrixChanged(TObject* sender);
  void Rebuild();

  TvgMatrix matrix_ = IdentityMatrix;
  float rotateAngle_ = 0;
  TvgPosition* position_;
  TvgPosition* scale_;
  TvgPosition* skew_;  // fills m13 and m23; always (0, 0) in this system
  TvgPosition* rotateCenter_;
};

// A natural cubic spline through a polygon, parameterised by the point index: T = 0 is the first
// point, T = N - 1 the last; outside that range the end segments extrapolate.
class TvgSpline {
 public:
  // The cubic of one segment expanded in T, highest power first. Kept in double precision: in
  // singles the expansion loses the knots' values from the eighth segment on.
  using Row = std::array<double, 4>;

  explicit TvgSpline(const TvgPolygon& polygon);
  // (0, 0) for fewer than two points.
  void Evaluate(float t, float& x, float& y) const;
  int32_t Count() const { return count_; }

 private:
  static std::vector<Row> Coefficients(const std::vector<double>& values);
  static float EvaluateRows(const std::vector<Row>& rows, float t);

  int32_t count_ = 0;
  std::vector<Row> xRows_;
  std::vector<Row> yRows_;
};
