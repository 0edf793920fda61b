// The scene's drawable shapes: the shape base with its fill and stroke, lines, rectangles (plain,
// sided, round, blurred and callout), ellipses, circles, pies, arcs, text, images, paint boxes,
// paths and scroll arrows, and the run-time design objects (selection frame, selection point,
// design frame). Everything paints through the abstract canvas; GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "scene/core/vg_bitmap.h"
#include "scene/core/vg_brush.h"
#include "scene/core/vg_canvas.h"
#include "scene/core/vg_geometry.h"
#include "scene/core/vg_pathdata.h"
#include "scene/core/vg_visualobject.h"

KBL_ENUM(TvgLineType, vgLineNormal, vgLineHorizontal, vgLineVertical)
KBL_ENUM(TvgImageWrap, vgImageOriginal, vgImageFit, vgImageStretch, vgImageTile)
KBL_ENUM(TvgPathWrap, vgPathOriginal, vgPathFit, vgPathStretch, vgPathTile)

// Registers the unit's classes under "Shapes" and "Design" (once per process; later calls do
// nothing). Also runs when the unit is linked in.
void vgInitObjectsUnit();

// --- Shape base

// A visual object with a fill and a stroke brush and the stroke settings, handed to the canvas
// before painting. Publishes nothing itself: each shape publishes what it draws with.
class TvgShape : public TvgVisualObject {
  KBL_DECLARE_CLASS(TvgShape, TvgVisualObject)
 public:
  explicit TvgShape(TComponent* owner);
  ~TvgShape() override;

  void BeforePaint() override;
  void AfterPaint() override;
  // Repaint (unless updates are suspended) and mark the effect images stale.
  virtual void FillChanged(TObject* sender);
  virtual void StrokeChanged(TObject* sender);

  TvgBrush* GetFill() const { return paint_.Fill; }
  // Copies the brush (Assign); its change notification repaints.
  void SetFill(TvgBrush* value) { paint_.Fill->Assign(value); }
  TvgBrush* GetStroke() const { return paint_.Stroke; }
  void SetStroke(TvgBrush* value) { paint_.Stroke->Assign(value); }
  float GetStrokeThickness() const { return paint_.Thickness; }
  void SetStrokeThickness(float value);
  TvgStrokeCap GetStrokeCap() const { return paint_.Cap; }
  void SetStrokeCap(TvgStrokeCap value);
  TvgStrokeJoin GetStrokeJoin() const { return paint_.Join; }
  void SetStrokeJoin(TvgStrokeJoin value);
  TvgStrokeDash GetStrokeDash() const { return paint_.Dash; }
  void SetStrokeDash(TvgStrokeDash value);
  bool IsStrokeThicknessStored() const { return paint_.Thickness != 1.0f; }

  // The local rect, shrunk by half the stroke thickness when the stroke is visible: outlines of
  // any thickness stay inside the object's bounds.
  TvgRect GetShapeRect();

 protected:
  // Replaces a brush by a new one with other defaults (the values streams compare against).
  void ResetFill(TvgBrushStyle style, TvgColor color);
  void ResetStroke(TvgBrushStyle style, TvgColor color);
  // True at design time for an unlocked object not painting into a bitmap.
  bool ShowsDesignFrame();
  // The dashed grey frame editors see around images and paths.
  void PaintDesignFrame();

 private:
  TvgFillAndStroke paint_;
};

// --- Line

class TvgLine : public TvgShape {
  KBL_DECLARE_CLASS(TvgLine, TvgShape)
 public:
  explicit TvgLine(TComponent* owner);
  void Paint() override;
  TvgLineType GetLineType() const { return lineType_; }
  void SetLineType(TvgLineType value);

 private:
  TvgLineType lineType_ = vgLineNormal;
};

// --- Rectangles

class TvgRectangle : public TvgShape {
  KBL_DECLARE_CLASS(TvgRectangle, TvgShape)
 public:
  explicit TvgRectangle(TComponent* owner);
  void Paint() override;

  float GetxRadius() const { return xRadius_; }
  virtual void SetxRadius(float value);
  float GetyRadius() const { return yRadius_; }
  virtual void SetyRadius(float value);
  TvgCorners GetCorners() const { return corners_; }
  virtual void SetCorners(TvgCorners value);
  TvgCornerType GetCornerType() const { return cornerType_; }
  virtual void SetCornerType(TvgCornerType value);
  TvgSides GetSides() const { return sides_; }
  virtual void SetSides(TvgSides value);
  bool IsCornersStored() const { return !(corners_ == vgAllCorners); }
  bool IsSidesStored() const { return !(sides_ == vgAllSides); }

 protected:
  // The fill rect: S widened by half the stroke on the sides that get no outline.
  TvgRect SidesFillRect(const TvgRect& s) const;

 private:
  float yRadius_ = 0;
  float xRadius_ = 0;
  TvgCorners corners_ = vgAllCorners;
  TvgCornerType cornerType_ = vgCornerRound;
  TvgSides sides_ = vgAllSides;
};

// A rectangle class of its own so that styles can name it.
class TvgSidesRectangle : public TvgRectangle {
  KBL_DECLARE_CLASS(TvgSidesRectangle, TvgRectangle)
 public:
  explicit TvgSidesRectangle(TComponent* owner) : TvgRectangle(owner) {}
};

// A rectangle whose short sides are semicircles.
class TvgRoundRect : public TvgShape {
  KBL_DECLARE_CLASS(TvgRoundRect, TvgShape)
 public:
  explicit TvgRoundRect(TComponent* owner);
  void Paint() override;
  TvgCorners GetCorners() const { return corners_; }
  virtual void SetCorners(TvgCorners value);
  bool IsCornersStored() const { return !(corners_ == vgAllCorners); }

 private:
  TvgCorners corners_ = vgAllCorners;
};

// A soft-edged rectangle: rendered once into a private bitmap, blurred, then only copied while
// size, fill, radii, corners, corner type and softness stay as they were.
class TvgBlurRectangle : public TvgRectangle {
  KBL_DECLARE_CLASS(TvgBlurRectangle, TvgRectangle)
 public:
  explicit TvgBlurRectangle(TComponent* owner);
  ~TvgBlurRectangle() override;
  void Paint() override;
  void FillChanged(TObject* sender) override;
  void SetxRadius(float value) override;
  void SetyRadius(float value) override;
  void SetCorners(TvgCorners value) override;
  void SetCornerType(TvgCornerType value) override;
  float GetSoftness() const { return softness_; }
  void SetSoftness(float value);
  // The cached rendering (nullptr before the first paint) and whether it is stale.
  TvgBitmap* CacheBitmap() const { return cache_; }
  bool CacheStale() const { return cacheStale_; }

 private:
  TvgBitmap* cache_ = nullptr;
  float softness_ = 0.3f;
  bool cacheStale_ = true;
};

class TvgBlurRoundRect : public TvgRoundRect {
  KBL_DECLARE_CLASS(TvgBlurRoundRect, TvgRoundRect)
 public:
  explicit TvgBlurRoundRect(TComponent* owner);
  ~TvgBlurRoundRect() override;
  void Paint() override;
  void FillChanged(TObject* sender) override;
  void SetCorners(TvgCorners value) override;
  float GetSoftness() const { return softness_; }
  void SetSoftness(float value);
  TvgBitmap* CacheBitmap() const { return cache_; }
  bool CacheStale() const { return cacheStale_; }

 private:
  TvgBitmap* cache_ = nullptr;
  float softness_ = 0.3f;
  bool cacheStale_ = true;
};

// A rectangle whose outline (only) is stroked as a path following the chosen sides.
class TvgCalloutRectangle : public TvgRectangle {
  KBL_DECLARE_CLASS(TvgCalloutRectangle, TvgRectangle)
 public:
  explicit TvgCalloutRectangle(TComponent* owner);
  ~TvgCalloutRectangle() override;
  TvgRect GetUpdateRect() override { return inherited::GetUpdateRect(); }
  void Paint() override;
  float GetAnchorSize() const { return anchorSize_; }
  void SetAnchorSize(float value);
  float GetAnchorLength() const { return anchorLength_; }
  void SetAnchorLength(float value);
  // The outline of the last paint.
  const TvgPathData& Outline() const { return *outline_; }

 private:
  TvgPathData* outline_;
  float anchorSize_ = 20;
  float anchorLength_ = 0;
};

// --- Ellipse family

class TvgEllipse : public TvgShape {
  KBL_DECLARE_CLASS(TvgEllipse, TvgShape)
 public:
  explicit TvgEllipse(TComponent* owner) : TvgShape(owner) {}
  void Paint() override;
  // The ellipse inscribed in the local rect, edge included; false for a zero-area object.
  bool PointInObject(float x, float y) override;
};

// The largest circle centred in the shape rect.
class TvgCircle : public TvgEllipse {
  KBL_DECLARE_CLASS(TvgCircle, TvgEllipse)
 public:
  explicit TvgCircle(TComponent* owner) : TvgEllipse(owner) {}
  void Paint() override;
};

// A sector from StartAngle sweeping EndAngle - StartAngle degrees.
class TvgPie : public TvgEllipse {
  KBL_DECLARE_CLASS(TvgPie, TvgEllipse)
 public:
  explicit TvgPie(TComponent* owner);
  void Paint() override;
  // Inside the sector when there is a canvas to ask; the ellipse's test otherwise.
  bool PointInObject(float x, float y) override;
  float GetStartAngle() const { return startAngle_; }
  void SetStartAngle(float value);
  float GetEndAngle() const { return endAngle_; }
  void SetEndAngle(float value);
  // The sector's outline in local coordinates.
  void BuildOutline(TvgPathData& path);

 private:
  float startAngle_ = 0;
  float endAngle_ = -90;
};

// An arc from StartAngle sweeping EndAngle degrees; not filled by default.
class TvgArc : public TvgEllipse {
  KBL_DECLARE_CLASS(TvgArc, TvgEllipse)
 public:
  explicit TvgArc(TComponent* owner);
  void Paint() override;
  float GetStartAngle() const { return startAngle_; }
  void SetStartAngle(float value);
  float GetEndAngle() const { return endAngle_; }
  void SetEndAngle(float value);

 private:
  float startAngle_ = 0;
  float endAngle_ = -90;
};

// --- Text

// One text in its bounds with the fill brush: aligned, optionally wrapped, stretched to the
// bounds or sizing the object to the text.
class TvgText : public TvgShape {
  KBL_DECLARE_CLASS(TvgText, TvgShape)
 public:
  explicit TvgText(TComponent* owner);
  ~TvgText() override;
  Variant GetData() override { return Variant(text_); }
  // Any Variant is taken as text ("5" for the number 5).
  void SetData(const Variant& value) override;
  void Paint() override;
  void Realign() override;
  virtual void FontChanged(TObject* sender);

  const WideString& GetText() const { return text_; }
  void SetText(const WideString& value);
  TvgFont* GetFont() const { return font_; }
  void SetFont(TvgFont* value);
  TvgTextAlign GetVertTextAlign() const { return vertTextAlign_; }
  void SetVertTextAlign(TvgTextAlign value);
  TvgTextAlign GetHorzTextAlign() const { return horzTextAlign_; }
  void SetHorzTextAlign(TvgTextAlign value);
  bool GetWordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value);
  bool GetAutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);
  bool GetStretch() const { return stretch_; }
  void SetStretch(bool value);
  // Sizes the object to its text (AutoSize only, with a canvas and a text).
  void AdjustSize();

 private:
  WideString text_;
  TvgFont* font_;
  TvgTextAlign vertTextAlign_ = vgTextAlignCenter;
  TvgTextAlign horzTextAlign_ = vgTextAlignCenter;
  bool wordWrap_ = true;
  bool autoSize_ = false;
  bool stretch_ = false;
  bool inAdjust_ = false;
};

// --- Image and paint box

// A bitmap at its own size, fitted, stretched, tiled or nine-sliced by BitmapMargins.
class TvgImage : public TvgVisualObject {
  KBL_DECLARE_CLASS(TvgImage, TvgVisualObject)
 public:
  explicit TvgImage(TComponent* owner);
  ~TvgImage() override;
  // The bitmap packed as an object Variant.
  Variant GetData() override;
  // An object Variant holding a persistent is assigned; any other text is a file name to load
  // (a missing file changes nothing).
  void SetData(const Variant& value) override;
  void Paint() override;
  virtual void BitmapChanged(TObject* sender);

  TvgBitmap* GetBitmap() const { return bitmap_; }
  void SetBitmap(TvgBitmap* value);
  TvgBounds* GetBitmapMargins() const { return bitmapMargins_; }
  void SetBitmapMargins(TvgBounds* value) { bitmapMargins_->Assign(value); }
  TvgImageWrap GetWrapMode() const { return wrapMode_; }
  void SetWrapMode(TvgImageWrap value);
  bool GetDisableInterpolation() const { return disableInterpolation_; }
  void SetDisableInterpolation(bool value) { disableInterpolation_ = value; }

  // Stored and streamed; the bitmap raises nothing that calls it.
  TNotifyEvent OnBitmapLoaded;

 private:
  void NothingBeforeRecreate(TObject*) {}
  bool ShowsDesignFrame();

  TvgBitmap* bitmap_;
  TvgBounds* bitmapMargins_;
  TvgImageWrap wrapMode_ = vgImageFit;
  bool disableInterpolation_ = false;
};

using TvgPaintEvent = TMethod<void(TObject* sender, TvgCanvas* canvas)>;

// Hands its canvas to OnPaint so that application code can draw.
class TvgPaintBox : public TvgVisualObject {
  KBL_DECLARE_CLASS(TvgPaintBox, TvgVisualObject)
 public:
  explicit TvgPaintBox(TComponent* owner) : TvgVisualObject(owner) {}
  void Paint() override;
  // Published as "OnPaint" in place of the visual object's paint event.
  TvgPaintEvent OnPaint;
};

// --- Paths

// A path shape: its path placed at its own size, fitted, stretched or tiled.
class TvgCustomPath : public TvgShape {
  KBL_DECLARE_CLASS(TvgCustomPath, TvgShape)
 public:
  explicit TvgCustomPath(TComponent* owner);
  ~TvgCustomPath() override;
  void Paint() override;
  // The path mapped onto the shape rect (as stretched), whatever WrapMode is; the rect test at
  // design time and for paths of fewer than two points.
  bool PointInObject(float x, float y) override;

  TvgPathData* GetData() const { return data_; }
  void SetData(TvgPathData* value) { data_->Assign(value); }
  TvgPathWrap GetWrapMode() const { return wrapMode_; }
  void SetWrapMode(TvgPathWrap value);

 private:
  void PathChanged(TObject*) { Repaint(); }
  TvgPathData* data_;
  TvgPathWrap wrapMode_ = vgPathStretch;
};

class TvgPath : public TvgCustomPath {
  KBL_DECLARE_CLASS(TvgPath, TvgCustomPath)
 public:
  explicit TvgPath(TComponent* owner) : TvgCustomPath(owner) {}
};

// A triangle pointing left, fitted into the shape rect.
class TvgScrollArrowLeft : public TvgCustomPath {
  KBL_DECLARE_CLASS(TvgScrollArrowLeft, TvgCustomPath)
 public:
  explicit TvgScrollArrowLeft(TComponent* owner);
};

class TvgScrollArrowRight : public TvgCustomPath {
  KBL_DECLARE_CLASS(TvgScrollArrowRight, TvgCustomPath)
 public:
  explicit TvgScrollArrowRight(TComponent* owner);
};

// --- Design objects

// A dashed frame with four round grips: a press inside moves it, a press on a grip resizes
// that corner. OnTrack fires at every step of a drag, OnChange when it ends.
class TvgSelection : public TvgVisualObject {
  KBL_DECLARE_CLASS(TvgSelection, TvgVisualObject)
 public:
  explicit TvgSelection(TComponent* owner);
  TvgRect GetAbsoluteRect() override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseLeave() override;
  void Paint() override;
  bool PointInObject(float x, float y) override;

  float GetGripSize() const { return gripSize_; }
  // Limited to 1 .. 20.
  void SetGripSize(float value);
  bool GetParentBounds() const { return parentBounds_; }
  void SetParentBounds(bool value) { parentBounds_ = value; }
  bool GetHideSelection() const { return hideSelection_; }
  void SetHideSelection(bool value);
  int32_t GetMinSize() const { return minSize_; }
  // At least 1.
  void SetMinSize(int32_t value);
  bool GetProportional() const { return proportional_; }
  void SetProportional(bool value) { proportional_ = value; }
  // Hot flags in the order left-top, left-bottom, right-top, right-bottom.
  bool GripHot(int32_t index) const { return index >= 0 && index < 4 && hot_[index]; }

  TNotifyEvent OnChange;
  TNotifyEvent OnTrack;

 private:
  enum Grip { kLeftTop, kRightTop, kRightBottom, kLeftBottom };
  TvgRect GripRect(Grip grip);
  bool& HotFlag(Grip grip);
  bool& DragFlag(Grip grip);
  void ApplyMinimum();
  void DragGrip(Grip grip, const TvgPoint& p);

  bool parentBounds_ = true;
  bool hideSelection_ = false;
  int32_t minSize_ = 15;
  bool proportional_ = false;
  float gripSize_ = 3;
  float ratio_ = 1;
  bool move_ = false, leftTop_ = false, leftBottom_ = false, rightTop_ = false, rightBottom_ = false;
  bool hot_[4] = {false, false, false, false};  // left-top, left-bottom, right-top, right-bottom
  TvgPoint downPos_;
  TvgPoint movePos_;
};

// A round handle centred on its own position; drag it to move it.
class TvgSelectionPoint : public TvgVisualObject {
  KBL_DECLARE_CLASS(TvgSelectionPoint, TvgVisualObject)
 public:
  explicit TvgSelectionPoint(TComponent* owner);
  // Both ignore the value: the size is always GripSize x 2.
  void SetWidth(float value) override;
  void SetHeight(float value) override;
  TvgRect GetUpdateRect() override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseEnter() override;
  void MouseLeave() override;
  void Paint() override;
  bool PointInObject(float x, float y) override;

  float GetGripSize() const { return gripSize_; }
  void SetGripSize(float value);
  bool GetParentBounds() const { return parentBounds_; }
  void SetParentBounds(bool value) { parentBounds_ = value; }

  TNotifyEvent OnChange;
  TNotifyEvent OnTrack;

 private:
  bool parentBounds_ = true;
  float gripSize_ = 3;
  bool pressed_ = false;
};

// An invisible placeholder whose events are stored and streamed but not raised.
class TvgDesignFrame : public TvgVisualObject {
  KBL_DECLARE_CLASS(TvgDesignFrame, TvgVisualObject)
 public:
  explicit TvgDesignFrame(TComponent* owner) : TvgVisualObject(owner) {}
  void Paint() override {}
  TNotifyEvent OnChange;
  TNotifyEvent OnTrack;
};
