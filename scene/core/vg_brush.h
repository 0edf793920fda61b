// Fills, strokes and text of the scene: gradients with their points, brushes in every style
// (none, solid, gradient, bitmap, named resource, visual object) and fonts. Each tells its owner
// of changes through OnChanged and streams as published properties. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/Classes.h"
#include "vg_bitmap.h"
#include "vg_geometry.h"
#include "vg_types.h"

KBL_ENUM(TvgGradientStyle, vgLinearGradient, vgRadialGradient)
KBL_ENUM(TvgBrushStyle, vgBrushNone, vgBrushSolid, vgBrushGradient, vgBrushBitmap, vgBrushResource, vgBrushVisual)
KBL_ENUM(TvgWrapMode, vgWrapTile, vgWrapTileOriginal, vgWrapTileStretch)
// One value, not a set: bold and italic together are vgFontBoldItalic; underline and strikeout
// exclude bold and italic.
KBL_ENUM(TvgFontStyle, vgFontRegular, vgFontBold, vgFontItalic, vgFontBoldItalic, vgFontUnderline, vgFontStrikeout)

class TvgBrush;

// --- Gradient

// A colour at an offset (0..1) along the gradient; the colour streams as its text ("#FF000000").
class TvgGradientPoint : public TCollectionItem {
  KBL_DECLARE_CLASS(TvgGradientPoint, TCollectionItem)
 public:
  explicit TvgGradientPoint(TCollection* collection) : TCollectionItem(collection) {}
  void Assign(TPersistent* source) override;

  std::string GetColor() const { return vgColorToStr(color_); }
  void SetColor(const std::string& text) { color_ = vgStrToColor(text); }
  TvgColor GetIntColor() const { return color_; }
  void SetIntColor(TvgColor color) { color_ = color; }
  float GetOffset() const { return offset_; }
  void SetOffset(float offset) { offset_ = offset; }

 private:
  TvgColor color_ = 0;
  float offset_ = 0;
};

class TvgGradientPoints : public TCollection {
  KBL_DECLARE_CLASS(TvgGradientPoints, TCollection)
 public:
  TvgGradientPoints() : TCollection(TvgGradientPoint::StaticClassInfo()) {}
  TvgGradientPoint* Point(int32_t index) const { return static_cast<TvgGradientPoint*>(GetItem(index)); }
  TvgGradientPoint* AddPoint(TvgColor color, float offset);
};

// Linear (between StartPosition and StopPosition) or radial (through RadialTransform) blend of
// its points; a new gradient runs from opaque black at 0 to opaque white at 1, top to bottom.
class TvgGradient : public TPersistent {
  KBL_DECLARE_CLASS(TvgGradient, TPersistent)
 public:
  TvgGradient();
  ~TvgGradient() override;

  // Fires OnChanged once.
  void Assign(TPersistent* source) override;
  void Change() { OnChanged(this); }

  TvgGradientPoints* GetPoints() const { return points_; }
  void SetPoints(TvgGradientPoints* value) { points_->Assign(value); }
  TvgPosition* GetStartPosition() const { return startPosition_; }
  void SetStartPosition(TvgPosition* value) { startPosition_->Assign(value); }
  TvgPosition* GetStopPosition() const { return stopPosition_; }
  void SetStopPosition(TvgPosition* value) { stopPosition_->Assign(value); }
  TvgTransform* GetRadialTransform() const { return radialTransform_; }
  void SetRadialTransform(TvgTransform* value) { radialTransform_->Assign(value); }
  TvgGradientStyle GetStyle() const { return style_; }
  void SetStyle(TvgGradientStyle style);
  // The colour text of the first (second) point, when there is one; fires nothing.
  void SetColor(const std::string& text);
  void SetColor1(const std::string& text);
  // The colour at an offset (clamped to 0..1): the end colours outside the points, the first of
  // two points that share an offset, the interpolation between neighbours otherwise; 0 with
  // fewer than two points.
  TvgColor InterpolateColor(float offset) const;

  bool IsLinear() const { return style_ == vgLinearGradient; }
  bool IsRadial() const { return style_ == vgRadialGradient; }

  TNotifyEvent OnChanged;

 private:
  void SubChanged(TObject*) { Change(); }

  TvgGradientPoints* points_;
  TvgPosition* startPosition_;
  TvgPosition* stopPosition_;
  TvgGradientStyle style_ = vgLinearGradient;
  TvgTransform* radialTransform_;
};

// --- Brush parts

// A visual object painted as a pattern; the reference is dropped when the object is freed.
class TvgVisual : public TPersistent {
  KBL_DECLARE_CLASS(TvgVisual, TPersistent)
 public:
  TvgVisual() = default;
  ~TvgVisual() override;
  void Assign(TPersistent* source) override;
  TComponent* GetVisualObject() const { return visualObject_; }
  void SetVisualObject(TComponent* object);
  TNotifyEvent OnChanged;

 private:
  TComponent* visualObject_ = nullptr;
};

// A named brush resource: a "TvgBrushObject" scene object whose published "Brush" is used.
class TvgBrushResource : public TPersistent {
  KBL_DECLARE_CLASS(TvgBrushResource, TPersistent)
 public:
  TvgBrushResource() = default;
  ~TvgBrushResource() override;
  void Assign(TPersistent* source) override;
  TComponent* GetResource() const { return resource_; }
  // Takes the object's resource name; fires nothing.
  void SetResource(TComponent* resource);
  const std::string& GetResourceName() const { return resourceName_; }
  void SetResourceName(const std::string& name);
  // The brush of the resource, looked up by name when not linked yet; nullptr when none.
  TvgBrush* GetBrush();
  TNotifyEvent OnChanged;

 private:
  TComponent* resource_ = nullptr;
  std::string resourceName_;
};

// A bitmap fill with its tiling.
class TvgBrushBitmap : public TPersistent {
  KBL_DECLARE_CLASS(TvgBrushBitmap, TPersistent)
 public:
  TvgBrushBitmap();
  ~TvgBrushBitmap() override;
  void Assign(TPersistent* source) override;
  TvgBitmap* GetBitmap() const { return bitmap_; }
  void SetBitmap(TvgBitmap* value) { bitmap_->Assign(value); }
  TvgWrapMode GetWrapMode() const { return wrapMode_; }
  void SetWrapMode(TvgWrapMode mode);
  TNotifyEvent OnChanged;

 private:
  void BitmapChanged(TObject*) { OnChanged(this); }
  TvgBitmap* bitmap_;
  TvgWrapMode wrapMode_ = vgWrapTile;
};

// --- Brush

// A fill or stroke. Streams only what differs from the style and colour it was created with,
// and only the part of its current style.
class TvgBrush : public TPersistent {
  KBL_DECLARE_CLASS(TvgBrush, TPersistent)
 public:
  explicit TvgBrush(TvgBrushStyle defaultStyle = vgBrushSolid, TvgColor defaultColor = 0xFFFFFFFFu);
  ~TvgBrush() override;

  // Copies defaults, colour (as the source resolves it), style and the part of that style;
  // fires OnChanged once.
  void Assign(TPersistent* source) override;

  TvgBrushStyle GetStyle() const { return style_; }
  void SetStyle(TvgBrushStyle style);
  TvgColor GetSolidColorValue() const { return solidColor_; }
  // The colour to paint: through the resource for resource brushes (chains of resources are
  // followed up to 16 deep, so a cycle cannot recurse forever), else the own colour.
  TvgColor GetSolidColor() const;
  void SetSolidColor(TvgColor color);
  // The colour text; for gradient brushes it also becomes the first point's colour.
  std::string GetColor() const { return vgColorToStr(solidColor_); }
  void SetColor(const std::string& text);
  TvgBrushStyle DefaultStyle() const { return defaultStyle_; }
  TvgColor DefaultColor() const { return defaultColor_; }

  // The parts of the other styles, each made (with its defaults) when first asked for: most
  // brushes stay solid all their life, and a gradient alone is a dozen objects.
  TvgGradient* GetGradient() const;
  void SetGradient(TvgGradient* value) { GetGradient()->Assign(value); }
  TvgBrushBitmap* GetBitmap() const;
  void SetBitmap(TvgBrushBitmap* value) { GetBitmap()->Assign(value); }
  TvgBrushResource* GetResource() const;
  void SetResource(TvgBrushResource* value) { GetResource()->Assign(value); }
  TvgVisual* GetVisual() const;
  void SetVisual(TvgVisual* value) { GetVisual()->Assign(value); }

  // Stored conditions of the published properties.
  bool IsColorStored() const { return style_ == vgBrushSolid && solidColor_ != defaultColor_; }
  bool IsStyleStored() const { return style_ != defaultStyle_; }
  bool IsGradientStored() const { return style_ == vgBrushGradient; }
  bool IsBitmapStored() const { return style_ == vgBrushBitmap; }
  bool IsResourceStored() const { return style_ == vgBrushResource; }
  bool IsVisualStored() const { return style_ == vgBrushVisual; }

  TNotifyEvent OnChanged;

 private:
  void SubChanged(TObject*) { OnChanged(this); }
  // The part, made when it is missing; its changes are the brush's.
  template <typename Part>
  Part* MadePart(Part*& part) const;
  TvgColor SolidColorAt(int depth) const;

  TvgColor solidColor_;
  TvgBrushStyle style_;
  mutable TvgGradient* gradient_ = nullptr;
  mutable TvgVisual* visual_ = nullptr;
  TvgBrushStyle defaultStyle_;
  TvgColor defaultColor_;
  mutable TvgBrushResource* resource_ = nullptr;
  mutable TvgBrushBitmap* bitmap_ = nullptr;
};

// --- Font

// What the scene needs of a class-library font, for copying fonts in and out.
struct TvgFontDesc {
  std::string Name;
  int32_t Height = 0;  // pixels; negative for the character height
  bool Bold = false, Italic = false, Underline = false, StrikeOut = false;
};

class TvgFont : public TPersistent {
  KBL_DECLARE_CLASS(TvgFont, TPersistent)
 public:
  TvgFont() = default;
  // From another TvgFont; fires OnChanged.
  void Assign(TPersistent* source) override;
  // From a class-library font: its name, the absolute pixel height and its style (bold and
  // italic combine; other combinations keep the style); fires OnChanged.
  void AssignFromDesc(const TvgFontDesc& desc);
  // Into a class-library font: name, height -Round(Size), bold/italic from the style; underline
  // and strikeout leave the description's flags as they are.
  void AssignToDesc(TvgFontDesc& desc) const;

  const std::string& GetFamily() const { return family_; }
  void SetFamily(const std::string& family);
  float GetSize() const { return size_; }
  void SetSize(float size);
  TvgFontStyle GetStyle() const { return style_; }
  void SetStyle(TvgFontStyle style);
  bool GetClearType() const { return clearType_; }
  void SetClearType(bool value);

  TNotifyEvent OnChanged;

 private:
  float size_ = 11;
  std::string family_ = "Tahoma";
  TvgFontStyle style_ = vgFontRegular;
  bool clearType_ = true;
};
