// The scene's abstract drawing surface (TvgCanvas): brushes, stroke settings, font and matrix as
// state, and the drawing operations every scene object paints through; plus the default canvas
// class through which every canvas is created. GUI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "classlib/System.h"
#include "vg_bitmap.h"
#include "vg_brush.h"
#include "vg_pathdata.h"
#include "vg_types.h"

class IvgScene;

// --- Enumerations and sets of the drawing interface

KBL_ENUM(TvgStrokeCap, vgCapFlat, vgCapRound)
KBL_ENUM(TvgStrokeJoin, vgJoinMiter, vgJoinRound, vgJoinBevel)
KBL_ENUM(TvgStrokeDash, vgDashSolid, vgDashDash, vgDashDot, vgDashDashDot, vgDashDashDotDot, vgDashCustom)
KBL_ENUM(TvgTextAlign, vgTextAlignCenter, vgTextAlignNear, vgTextAlignFar)
KBL_ENUM(TvgCorner, vgCornerTopLeft, vgCornerTopRight, vgCornerBottomLeft, vgCornerBottomRight)
KBL_ENUM(TvgSide, vgSideTop, vgSideLeft, vgSideBottom, vgSideRight)
KBL_ENUM(TvgCornerType, vgCornerRound, vgCornerBevel, vgCornerInnerRound, vgCornerInnerLine)
using TvgCorners = TEnumSet<TvgCorner>;
using TvgSides = TEnumSet<TvgSide>;
constexpr TvgCorners vgAllCorners = TvgCorners::FromBits(0x0F);
constexpr TvgSides vgAllSides = TvgSides::FromBits(0x0F);

// Raised by a drawing operation that the concrete canvas class does not provide.
KBL_DECLARE_EXCEPTION(EvgAbstractError, Exception);

// A device context of the platform (HDC on Windows); opaque to portable code.
using TvgDC = void*;

// One state kept by SaveCanvas; StateIndex -1 marks a free entry. The brush and font copies are
// owned by the canvas while the entry is in use.
struct TvgSaveData {
  int32_t StateIndex = -1;
  TvgMatrix Matrix;
  TvgBrush* Fill = nullptr;
  TvgBrush* Stroke = nullptr;
  float StrokeThickness = 0;
  int32_t StrokeCap = 0;
  int32_t StrokeJoin = 0;
  int32_t StrokeDash = 0;
  std::vector<float> DashArray;
  float DashOffset = 0;
  TvgFont* Font = nullptr;
};

// --- Canvas

// Scene objects set Fill, Stroke, the stroke settings, Font and the matrix, then draw in local
// coordinates with an opacity (0..1). Operations the concrete class does not override raise
// EvgAbstractError ("Abstract Error"). A canvas is created only through the default canvas class
// (vgCreateWindowCanvas, vgCreateBitmapCanvas, TvgBitmap::GetCanvas).
class TvgCanvas : public TPersistent {
  KBL_DECLARE_CLASS(TvgCanvas, TPersistent)
 public:
  ~TvgCanvas() override;

  // --- State
  int32_t GetWidth() const { return width_; }
  int32_t GetHeight() const { return height_; }
  const TvgMatrix& GetMatrix() const { return matrix_; }
  // The brush of fills and text; starts solid opaque white. SetFill copies (Assign).
  TvgBrush* GetFill() const { return fill_; }
  void SetFill(TvgBrush* brush) { fill_->Assign(brush); }
  // The brush of outlines; starts solid opaque black. SetStroke copies.
  TvgBrush* GetStroke() const { return stroke_; }
  void SetStroke(TvgBrush* brush) { stroke_->Assign(brush); }
  float GetStrokeThickness() const { return strokeThickness_; }
  void SetStrokeThickness(float value) { strokeThickness_ = value; }
  TvgStrokeCap GetStrokeCap() const { return strokeCap_; }
  void SetStrokeCap(TvgStrokeCap value) { strokeCap_ = value; }
  TvgStrokeJoin GetStrokeJoin() const { return strokeJoin_; }
  void SetStrokeJoin(TvgStrokeJoin value) { strokeJoin_ = value; }
  TvgStrokeDash GetStrokeDash() const { return strokeDash_; }
  // A new dash sets its pattern (in pen widths) and offset 0: solid [], dash [3, 1], dot [1, 1],
  // dash-dot [3, 1, 1, 1], dash-dot-dot [3, 1, 1, 1, 1, 1]; vgDashCustom keeps pattern and
  // offset. The current dash again changes nothing.
  void SetStrokeDash(TvgStrokeDash dash);
  const std::vector<float>& GetDashArray() const { return dashArray_; }
  // For vgDashCustom: the pattern in pen widths.
  void SetDashArray(const std::vector<float>& values) { dashArray_ = values; }
  float GetDashOffset() const { return dashOffset_; }
  void SetDashOffset(float value) { dashOffset_ = value; }
  // The text font; its changes reach FontChanged. SetFont copies.
  TvgFont* GetFont() const { return font_; }
  void SetFont(TvgFont* font) { font_->Assign(font); }
  // The bitmap this canvas draws into (bitmap canvases); nullptr for window canvases.
  TvgBitmap* GetTargetBitmap() const { return bitmap_; }
  // Set by every buffer resize; the owner clears it once it has repainted everything.
  bool GetResized() const { return resized_; }
  void SetResized(bool value) { resized_ = value; }
  // True when the canvas owns an off-screen buffer (window canvases).
  bool GetBuffered() const { return buffered_; }
  // The buffer's premultiplied ARGB pixels, top-down rows of Width words; nullptr without one.
  uint32_t* GetBufferBits() const { return bufferBits_; }
  TvgDC GetBufferDC() const { return bufferDC_; }
  // The scene window that owns the canvas (not owned); set by the scene after creation.
  IvgScene* GetScene() const { return scene_; }
  void SetScene(IvgScene* scene) { scene_ = scene; }

  // --- Scene and buffer
  virtual void FontChanged(TObject* sender) {}
  // True when drawing may start.
  virtual bool BeginScene() { return true; }
  virtual void EndScene() {}
  // Copies the whole buffer (or the rect of it) to the device context at x, y.
  virtual void FlushBuffer(int32_t x, int32_t y, TvgDC dc);
  virtual void FlushBufferRect(int32_t x, int32_t y, TvgDC dc, const TvgRect& r);
  virtual void FreeBuffer();
  // Sizes below 1 count as 1.
  virtual void ResizeBuffer(int32_t width, int32_t height);
  // Sets the buffer's pixels to the colour as given (no premultiplication).
  virtual void Clear(TvgColor color);
  virtual void ClearRect(const TvgRect& r, TvgColor color);

  // --- Matrix and saved states
  // Stores the matrix (and makes it the drawing transform).
  virtual void SetMatrix(const TvgMatrix& m) { matrix_ = m; }
  // Multiplies the drawing transform by m (applied first); the stored matrix stays.
  virtual void MultiplyMatrix(const TvgMatrix& m) {}
  // Answers the state's index, or -1 when states cannot be kept.
  virtual int32_t SaveCanvas();
  // Indices outside the saved states do nothing.
  virtual void RestoreCanvas(int32_t index);

  // --- Clipping
  virtual void SetClipRects(const std::vector<TvgRect>& rects);
  virtual void IntersectClipRect(const TvgRect& r);
  virtual void ExcludeClipRect(const TvgRect& r);
  virtual void ResetClipRect();

  // --- Shapes
  virtual void DrawLine(const TvgPoint& p1, const TvgPoint& p2, float opacity);
  virtual void FillRect(const TvgRect& r, float xRadius, float yRadius, TvgCorners corners, float opacity,
                        TvgCornerType cornerType = vgCornerRound);
  virtual void DrawRect(const TvgRect& r, float xRadius, float yRadius, TvgCorners corners, float opacity,
                        TvgCornerType cornerType = vgCornerRound);
  virtual void FillEllipse(const TvgRect& r, float opacity);
  virtual void DrawEllipse(const TvgRect& r, float opacity);
  // Whether p lies inside the path fitted into r.
  virtual bool PtInPath(const TvgPoint& p, const TvgRect& r, const TvgPathData& path);
  // The path is fitted from its bounds into r.
  virtual void FillPath(const TvgPathData& path, const TvgRect& r, float opacity);
  virtual void DrawPath(const TvgPathData& path, const TvgRect& r, float opacity);
  // The source rect in the bitmap's pixels onto the destination rect.
  virtual void DrawBitmap(TvgBitmap& bitmap, const TvgRect& src, const TvgRect& dst, float opacity,
                          bool highSpeed = false);
  virtual void DrawThumbnail(TvgBitmap& bitmap, float width, float height);
  // The points as one or more figures: (65535, 65535) closes a figure and the next point starts
  // a new one; the fill closes the last figure (its last point is the closing point).
  virtual void FillPolygon(const TvgPolygon& points, float opacity);
  // The same outlines, left open unless the polygon ends with the marker.
  virtual void DrawPolygon(const TvgPolygon& points, float opacity);

  // --- Text
  // Makes the fonts of the stream (from its position) available by family name.
  virtual void LoadFontFromStream(TStream& stream) {}
  // The text in r with Fill; `second` is accepted for callers' convenience and not read.
  virtual void FillText(const TvgRect& r, const TvgRect& second, const WideString& text, bool wordWrap,
                        float opacity, TvgTextAlign horz = vgTextAlignCenter,
                        TvgTextAlign vert = vgTextAlignCenter);
  // r becomes the bounds of the text laid out in r (without word wrap r's width is not a limit).
  virtual void MeasureText(TvgRect& r, const TvgRect& second, const WideString& text, bool wordWrap,
                           TvgTextAlign horz = vgTextAlignCenter, TvgTextAlign vert = vgTextAlignCenter);
  // The outlines of the text as path data; false for an empty text or a missing style.
  virtual bool TextToPath(TvgPathData& path, const TvgRect& r, const WideString& text, bool wordWrap,
                          TvgTextAlign horz = vgTextAlignCenter, TvgTextAlign vert = vgTextAlignCenter);

  // --- Helpers built on the operations above
  float TextHeight(const WideString& text);
  float TextWidth(const WideString& text);
  // An elliptic arc (degrees) filled or stroked over its own bounds.
  void FillArc(const TvgPoint& center, const TvgPoint& radius, float startAngle, float sweepAngle, float opacity);
  void DrawArc(const TvgPoint& center, const TvgPoint& radius, float startAngle, float sweepAngle, float opacity);
  // Strokes only the chosen sides of the (rounded) rect; chosen corners are drawn always.
  void DrawRectSides(const TvgRect& r, float xRadius, float yRadius, TvgCorners corners, float opacity,
                     TvgSides sides, TvgCornerType cornerType = vgCornerRound);

 protected:
  // The window canvas constructor: state only. Virtual calls do not reach a derived class from
  // here, so the derived constructor calls its own ResizeBuffer(width, height).
  TvgCanvas(int32_t width, int32_t height);
  // The bitmap canvas constructor: the bitmap's size, the bitmap as target, no buffer.
  explicit TvgCanvas(TvgBitmap& bitmap);

  // Copies the buffer into a TvgBitmap (sized to the canvas); others raise the assignment error.
  void AssignTo(TPersistent* dest) override;
  // Frees the copies of every live save entry and empties the list.
  void FreeSaveData();
  [[noreturn]] void Abstract() const;

  int32_t width_ = 0;
  int32_t height_ = 0;
  TvgMatrix matrix_ = IdentityMatrix;
  TvgBrush* fill_ = nullptr;
  TvgBrush* stroke_ = nullptr;
  float strokeThickness_ = 1;
  TvgStrokeCap strokeCap_ = vgCapFlat;
  TvgStrokeJoin strokeJoin_ = vgJoinMiter;
  TvgStrokeDash strokeDash_ = vgDashSolid;
  std::vector<float> dashArray_;
  float dashOffset_ = 0;
  TvgFont* font_ = nullptr;
  TvgBitmap* bitmap_ = nullptr;
  bool resized_ = false;
  std::vector<TvgSaveData> saveData_;
  bool buffered_ = false;
  uint32_t* bufferBits_ = nullptr;
  TvgDC bufferDC_ = nullptr;
  IvgScene* scene_ = nullptr;

 private:
  void CreateState();
};

// --- Fill and stroke of a drawing object

// What a shape or control paints with: two owned brushes (solid FFE0E0E0 and FF000000 at
// creation) whose change notifications the owner chooses, and the stroke settings.
struct TvgFillAndStroke {
  TvgFillAndStroke(float thickness, TNotifyEvent fillChanged, TNotifyEvent strokeChanged);
  ~TvgFillAndStroke();
  TvgFillAndStroke(const TvgFillAndStroke&) = delete;
  TvgFillAndStroke& operator=(const TvgFillAndStroke&) = delete;
  // Hands both brushes (copied) and the stroke settings to the canvas.
  void ApplyTo(TvgCanvas& canvas) const;

  TvgBrush* Fill;
  TvgBrush* Stroke;
  float Thickness;
  TvgStrokeCap Cap = vgCapFlat;
  TvgStrokeJoin Join = vgJoinMiter;
  TvgStrokeDash Dash = vgDashSolid;
};

// --- Default canvas class

// A canvas class: its two constructors and its row access, as function pointers.
struct TvgCanvasClass {
  const TClassInfo* Info = nullptr;
  TvgCanvas* (*CreateFromWindow)(int32_t width, int32_t height) = nullptr;
  TvgCanvas* (*CreateFromBitmap)(TvgBitmap& bitmap) = nullptr;
  // Row y of the bitmap's pixels as this canvas class sees them; nullptr outside.
  uint32_t* (*GetBitmapScanline)(TvgBitmap& bitmap, int32_t y) = nullptr;
};

// The record of a canvas class C with constructors C(width, height) and C(TvgBitmap&) and a
// static GetBitmapScanline(bitmap, y).
template <typename C>
const TvgCanvasClass* vgCanvasClassOf() {
  static const TvgCanvasClass record = {
      C::StaticClassInfo(), [](int32_t w, int32_t h) -> TvgCanvas* { return new C(w, h); },
      [](TvgBitmap& b) -> TvgCanvas* { return new C(b); },
      [](TvgBitmap& b, int32_t y) { return C::GetBitmapScanline(b, y); }};
  return &record;
}

// Installs the canvas class (nullptr clears it) and the bitmap hooks that make TvgBitmap::
// GetCanvas create its canvas through it.
void vgSetDefaultCanvasClass(const TvgCanvasClass* cls);
// nullptr until a canvas class is installed.
const TvgCanvasClass* vgDefaultCanvasClass();
// New canvases of the default class (the caller owns them); nullptr without one.
std::unique_ptr<TvgCanvas> vgCreateWindowCanvas(int32_t width, int32_t height);
std::unique_ptr<TvgCanvas> vgCreateBitmapCanvas(TvgBitmap& bitmap);
// Row y through the default class; the bitmap's own row access without one.
uint32_t* vgGetBitmapScanline(TvgBitmap& bitmap, int32_t y);

// --- Visual brushes

// Paints a visual object (a visual brush's TvgVisual object) onto a canvas into a rect at an
// opacity, restoring the object's own opacity afterwards. Installed by the object tree; canvases
// paint nothing for visual brushes without it.
using TvgPaintVisualHook = void (*)(TComponent* visual, TvgCanvas& canvas, const TvgRect& r, float opacity);
void vgSetPaintVisualHook(TvgPaintVisualHook hook);
TvgPaintVisualHook vgPaintVisualHook();
