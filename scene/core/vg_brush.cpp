// Gradients, brushes and fonts of the scene engine.
#include "vg_brush.h"

#include <algorithm>
#include <cmath>

#include "vg_notify_p.h"
#include "vg_registry.h"

KBL_PUBLISHED(TvgGradientPoint) {
  KBL_PROP(Color);
  KBL_PROP(Offset);
}

KBL_PUBLISHED(TvgGradientPoints) {}

KBL_PUBLISHED(TvgGradient) {
  KBL_PROP(Points);
  KBL_PROP(Style).Default(vgLinearGradient);
  KBL_PROP(StartPosition).Stored(&TvgGradient::IsLinear);
  KBL_PROP(StopPosition).Stored(&TvgGradient::IsLinear);
  KBL_PROP(RadialTransform).Stored(&TvgGradient::IsRadial);
}

KBL_PUBLISHED(TvgVisual) { KBL_PROP(VisualObject); }

KBL_PUBLISHED(TvgBrushResource) {
  KBL_PROP(Resource).Stored(false);
  KBL_PROP(ResourceName);
}

KBL_PUBLISHED(TvgBrushBitmap) {
  KBL_PROP(Bitmap);
  KBL_PROP(WrapMode).Default(vgWrapTile);
}

KBL_PUBLISHED(TvgBrush) {
  KBL_PROP(Color).Stored(&TvgBrush::IsColorStored);
  KBL_PROP(Bitmap).Stored(&TvgBrush::IsBitmapStored);
  KBL_PROP(Style).Stored(&TvgBrush::IsStyleStored);
  KBL_PROP(Gradient).Stored(&TvgBrush::IsGradientStored);
  KBL_PROP(Resource).Stored(&TvgBrush::IsResourceStored);
  KBL_PROP(Visual).Stored(&TvgBrush::IsVisualStored);
}

KBL_PUBLISHED(TvgFont) {
  KBL_PROP(ClearType).Default(true);
  KBL_PROP(Family).Default("Tahoma");
  KBL_PROP(Size).Default(11.0f);
  KBL_PROP(Style).Default(vgFontRegular);
}

// --- Gradient points

void TvgGradientPoint::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TvgGradientPoint*>(source)) {
    color_ = other->color_;
    offset_ = other->offset_;
    return;
  }
  TCollectionItem::Assign(source);
}

TvgGradientPoint* TvgGradientPoints::AddPoint(TvgColor color, float offset) {
  auto* point = static_cast<TvgGradientPoint*>(Add());
  point->SetIntColor(color);
  point->SetOffset(offset);
  return point;
}

// --- Gradient

TvgGradient::TvgGradient()
    : points_(new TvgGradientPoints),
      startPosition_(new TvgPosition({0, 0})),
      stopPosition_(new TvgPosition({0, 1})),
      radialTransform_(new TvgTransform) {
  points_->AddPoint(0xFF000000u, 0);
  points_->AddPoint(0xFFFFFFFFu, 1);
  const TNotifyEvent changed = TNotifyEvent::Of<&TvgGradient::SubChanged>(this);
  startPosition_->OnChange = changed;
  stopPosition_->OnChange = changed;
  radialTransform_->OnChanged = changed;
}

TvgGradient::~TvgGradient() {
  OnChanged = nullptr;
  delete radialTransform_;
  delete stopPosition_;
  delete startPosition_;
  delete points_;
}

void TvgGradient::Assign(TPersistent* source) {
  auto* other = AssignSource(this, source);
  if (other == nullptr) return;
  {
    TvgNotifyDetach detached(OnChanged);
    points_->Assign(other->points_);
    style_ = other->style_;
    if (style_ == vgRadialGradient) {
      radialTransform_->Assign(other->radialTransform_);
    } else {
      stopPosition_->Assign(other->stopPosition_);
      startPosition_->Assign(other->startPosition_);
    }
  }
  Change();
}

void TvgGradient::SetStyle(TvgGradientStyle style) {
  if (style == style_) return;
  style_ = style;
  Change();
}

void TvgGradient::SetColor(const std::string& text) {
  if (points_->Count() > 0) points_->Point(0)->SetColor(text);
}

void TvgGradient::SetColor1(const std::string& text) {
  if (points_->Count() > 1) points_->Point(1)->SetColor(text);
}

TvgColor TvgGradient::InterpolateColor(float offset) const {
  const int32_t count = points_->Count();
  if (count < 2) return 0;
  float t = std::isnan(offset) ? 0 : std::clamp(offset, 0.0f, 1.0f);
  const TvgGradientPoint* first = points_->Point(0);
  const TvgGradientPoint* last = points_->Point(count - 1);
  if (t < first->GetOffset()) return first->GetIntColor();
  if (t > last->GetOffset()) return last->GetIntColor();
  TvgColor result = first->GetIntColor();
  for (int32_t i = 0; i < count - 1; ++i) {
    const TvgGradientPoint* a = points_->Point(i);
    const TvgGradientPoint* b = points_->Point(i + 1);
    if (a->GetOffset() > t) continue;
    if (b->GetOffset() <= a->GetOffset()) {
      // Coinciding offsets: a hard edge that takes the first colour.
      result = a->GetIntColor();
    } else if (i == count - 2 && t > b->GetOffset()) {
      result = b->GetIntColor();
    } else {
      result = vgInterpolateColor(a->GetIntColor(), b->GetIntColor(),
                                  (t - a->GetOffset()) / (b->GetOffset() - a->GetOffset()));
    }
  }
  return result;
}

// --- Visual

TvgVisual::~TvgVisual() {
  if (visualObject_) vgRemoveFreeNotify(visualObject_, this);
}

void TvgVisual::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TvgVisual*>(source)) {
    SetVisualObject(other->visualObject_);
    return;
  }
  TPersistent::Assign(source);
}

void TvgVisual::SetVisualObject(TComponent* object) {
  if (object == visualObject_) return;
  if (visualObject_) vgRemoveFreeNotify(visualObject_, this);
  visualObject_ = object;
  OnChanged(this);
  if (visualObject_) vgAddFreeNotify(visualObject_, this, [this] { visualObject_ = nullptr; });
}

// --- Brush resource

TvgBrushResource::~TvgBrushResource() {
  if (resource_) vgRemoveFreeNotify(resource_, this);
}

void TvgBrushResource::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TvgBrushResource*>(source)) {
    SetResource(other->resource_);
    resourceName_ = other->resourceName_;
    return;
  }
  TPersistent::Assign(source);
}

void TvgBrushResource::SetResource(TComponent* resource) {
  if (resource == resource_) return;
  if (resource_) vgRemoveFreeNotify(resource_, this);
  resource_ = resource;
  if (resource_) {
    resourceName_ = vgGetResourceName(resource_);
    vgAddFreeNotify(resource_, this, [this] { resource_ = nullptr; });
  }
}

void TvgBrushResource::SetResourceName(const std::string& name) {
  if (name == resourceName_) return;
  resourceName_ = name;
  // A link made from the old name no longer applies.
  if (resource_) vgRemoveFreeNotify(resource_, this);
  resource_ = nullptr;
}

TvgBrush* TvgBrushResource::GetBrush() {
  if (!resource_ && !resourceName_.empty()) {
    TComponent* found = vgFindResourceObject(resourceName_);
    if (found && vgInheritsFromName(found, "TvgBrushObject")) {
      const std::string name = resourceName_;
      SetResource(found);
      resourceName_ = name;
    }
  }
  if (!resource_) return nullptr;
  return dynamic_cast<TvgBrush*>(vgResourceProperty(resource_, "TvgBrushObject", "Brush"));
}

// --- Brush bitmap

TvgBrushBitmap::TvgBrushBitmap() : bitmap_(new TvgBitmap) {
  bitmap_->OnChange = TNotifyEvent::Of<&TvgBrushBitmap::BitmapChanged>(this);
}

TvgBrushBitmap::~TvgBrushBitmap() {
  OnChanged = nullptr;
  delete bitmap_;
}

void TvgBrushBitmap::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TvgBrushBitmap*>(source)) {
    {
      TvgNotifyDetach detached(OnChanged);
      wrapMode_ = other->wrapMode_;
      bitmap_->Assign(other->bitmap_);
    }
    OnChanged(this);
    return;
  }
  TPersistent::Assign(source);
}

void TvgBrushBitmap::SetWrapMode(TvgWrapMode mode) {
  if (mode == wrapMode_) return;
  wrapMode_ = mode;
  OnChanged(this);
}

// --- Brush

TvgBrush::TvgBrush(TvgBrushStyle defaultStyle, TvgColor defaultColor)
    : solidColor_(defaultColor), style_(defaultStyle), defaultStyle_(defaultStyle), defaultColor_(defaultColor) {}

template <typename Part>
Part* TvgBrush::MadePart(Part*& part) const {
  if (part == nullptr) {
    part = new Part;
    part->OnChanged = TNotifyEvent::Of<&TvgBrush::SubChanged>(const_cast<TvgBrush*>(this));
  }
  return part;
}

TvgGradient* TvgBrush::GetGradient() const { return MadePart(gradient_); }
TvgBrushBitmap* TvgBrush::GetBitmap() const { return MadePart(bitmap_); }
TvgBrushResource* TvgBrush::GetResource() const { return MadePart(resource_); }
TvgVisual* TvgBrush::GetVisual() const { return MadePart(visual_); }

TvgBrush::~TvgBrush() {
  OnChanged = nullptr;
  delete bitmap_;
  delete resource_;
  delete visual_;
  delete gradient_;
}

void TvgBrush::Assign(TPersistent* source) {
  auto* other = AssignSource(this, source);
  if (other == nullptr) return;
  {
    TvgNotifyDetach detached(OnChanged);
    defaultStyle_ = other->defaultStyle_;
    defaultColor_ = other->defaultColor_;
    solidColor_ = other->GetSolidColor();
    style_ = other->style_;
    switch (style_) {
      case vgBrushGradient: GetGradient()->Assign(other->GetGradient()); break;
      case vgBrushBitmap: GetBitmap()->Assign(other->GetBitmap()); break;
      case vgBrushResource: GetResource()->Assign(other->GetResource()); break;
      case vgBrushVisual: GetVisual()->Assign(other->GetVisual()); break;
      default: break;
    }
  }
  OnChanged(this);
}

void TvgBrush::SetStyle(TvgBrushStyle style) {
  if (style == style_) return;
  style_ = style;
  OnChanged(this);
}

void TvgBrush::SetSolidColor(TvgColor color) {
  if (color == solidColor_) return;
  solidColor_ = color;
  OnChanged(this);
}

void TvgBrush::SetColor(const std::string& text) {
  SetSolidColor(vgStrToColor(text));
  if (style_ == vgBrushGradient) GetGradient()->SetColor(text);
}

TvgColor TvgBrush::GetSolidColor() const { return SolidColorAt(0); }

TvgColor TvgBrush::SolidColorAt(int depth) const {
  if (style_ == vgBrushResource && depth < 16) {
    if (const TvgBrush* brush = GetResource()->GetBrush(); brush && brush != this) return brush->SolidColorAt(depth + 1);
  }
  return solidColor_;
}

// --- Font

void TvgFont::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TvgFont*>(source)) {
    family_ = other->family_;
    size_ = other->size_;
    style_ = other->style_;
    clearType_ = other->clearType_;
    OnChanged(this);
    return;
  }
  TPersistent::Assign(source);
}

void TvgFont::AssignFromDesc(const TvgFontDesc& desc) {
  family_ = desc.Name;
  size_ = static_cast<float>(std::abs(static_cast<int64_t>(desc.Height)));
  if (!desc.Underline && !desc.StrikeOut) {
    if (desc.Bold && desc.Italic) style_ = vgFontBoldItalic;
    else if (desc.Bold) style_ = vgFontBold;
    else if (desc.Italic) style_ = vgFontItalic;
    else style_ = vgFontRegular;
  }
  OnChanged(this);
}

void TvgFont::AssignToDesc(TvgFontDesc& desc) const {
  desc.Name = family_;
  desc.Height = static_cast<int32_t>(-Round(size_));
  switch (style_) {
    case vgFontRegular: desc.Bold = desc.Italic = desc.Underline = desc.StrikeOut = false; break;
    case vgFontBold: desc = {desc.Name, desc.Height, true, false, false, false}; break;
    case vgFontItalic: desc = {desc.Name, desc.Height, false, true, false, false}; break;
    case vgFontBoldItalic: desc = {desc.Name, desc.Height, true, true, false, false}; break;
    default: break;  // underline and strikeout leave the flags as they are
  }
}

void TvgFont::SetFamily(const std::string& family) {
  if (family == family_) return;
  family_ = family;
  OnChanged(this);
}

void TvgFont::SetSize(float size) {
  if (size == size_) return;
  size_ = size;
  OnChanged(this);
}

void TvgFont::SetStyle(TvgFontStyle style) {
  if (style == style_) return;
  style_ = style;
  OnChanged(this);
}

void TvgFont::SetClearType(bool value) {
  if (vgSetChanged(clearType_, value)) OnChanged(this);
}
