// The scene's bitmap effects (drop shadow, blur, outer and inner glow, bevel, reflection) and the
// stack blur they share. Each effect is a child of the visual object it decorates; the painting
// code hands it the object rendered into a premultiplied bitmap. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "scene/core/vg_bitmap.h"
#include "scene/core/vg_effect.h"

// Registers the six effect classes under "Effects" (once per process).
void vgInitEffectsUnit();

// Blurs the bitmap in place with a kernel whose weights fall off linearly from the centre
// (radius + 1 - |i|), rows then columns, edges repeated. Nothing for a radius below 1. Without
// `withAlpha` the alpha written is 0.
void vgStackBlur(TvgBitmap& bitmap, int32_t radius, bool withAlpha);

class TvgShadowEffect : public TvgEffect {
  KBL_DECLARE_CLASS(TvgShadowEffect, TvgEffect)
 public:
  explicit TvgShadowEffect(TComponent* owner) : TvgEffect(owner) {}
  TvgRect GetRect(const TvgRect& rect) override;
  TvgPoint GetOffset() override;
  void ProcessEffect(TvgCanvas* reserved, TvgBitmap* bitmap, float scale) override;

  float GetDistance() const { return distance_; }
  void SetDistance(float value);
  float GetDirection() const { return direction_; }
  void SetDirection(float value);
  float GetSoftness() const { return softness_; }
  // Limited to 0 .. 3.
  void SetSoftness(float value);
  float GetOpacity() const { return opacity_; }
  // Limited to 0 .. 1.
  void SetOpacity(float value);
  std::string GetShadowColor() const;
  void SetShadowColor(const std::string& value);
  TvgColor GetShadowColorValue() const { return color_; }

 private:
  float distance_ = 3;
  float direction_ = 45;
  float softness_ = 0.3f;
  float opacity_ = 0.6f;
  TvgColor color_ = 0xFF000000u;
};

class TvgBlurEffect : public TvgEffect {
  KBL_DECLARE_CLASS(TvgBlurEffect, TvgEffect)
 public:
  explicit TvgBlurEffect(TComponent* owner);
  TvgRect GetRect(const TvgRect& rect) override;
  TvgPoint GetOffset() override;
  void ProcessEffect(TvgCanvas* reserved, TvgBitmap* bitmap, float scale) override;
  float GetSoftness() const { return softness_; }
  // Limited to 0 .. 9.
  void SetSoftness(float value);

 private:
  float softness_ = 0.3f;
};

class TvgGlowEffect : public TvgEffect {
  KBL_DECLARE_CLASS(TvgGlowEffect, TvgEffect)
 public:
  explicit TvgGlowEffect(TComponent* owner) : TvgEffect(owner) {}
  TvgRect GetRect(const TvgRect& rect) override;
  TvgPoint GetOffset() override;
  void ProcessEffect(TvgCanvas* reserved, TvgBitmap* bitmap, float scale) override;
  float GetSoftness() const { return softness_; }
  // Limited to 0 .. 9.
  void SetSoftness(float value);
  float GetOpacity() const { return opacity_; }
  // Limited to 0 .. 1.
  void SetOpacity(float value);
  std::string GetGlowColor() const;
  void SetGlowColor(const std::string& value);
  TvgColor GetGlowColorValue() const { return color_; }

 protected:
  // Fill with the colour at the opacity, blur, cut the object's own silhouette out.
  void Glow(TvgBitmap& bitmap);

 private:
  float softness_ = 0.4f;
  float opacity_ = 0.9f;
  TvgColor color_ = 0xFFFFD700u;
};

// The glow inside the object's edge, drawn over the object.
class TvgInnerGlowEffect : public TvgGlowEffect {
  KBL_DECLARE_CLASS(TvgInnerGlowEffect, TvgGlowEffect)
 public:
  explicit TvgInnerGlowEffect(TComponent* owner);
  TvgRect GetRect(const TvgRect& rect) override;
  TvgPoint GetOffset() override;
  void ProcessEffect(TvgCanvas* reserved, TvgBitmap* bitmap, float scale) override;
};

class TvgBevelEffect : public TvgEffect {
  KBL_DECLARE_CLASS(TvgBevelEffect, TvgEffect)
 public:
  explicit TvgBevelEffect(TComponent* owner);
  TvgRect GetRect(const TvgRect& rect) override;
  TvgPoint GetOffset() override;
  void ProcessEffect(TvgCanvas* reserved, TvgBitmap* bitmap, float scale) override;
  float GetDirection() const { return direction_; }
  void SetDirection(float value);
  int32_t GetSize() const { return size_; }
  void SetSize(int32_t value);

 private:
  float direction_ = 45;
  int32_t size_ = 10;
};

// The object mirrored below itself, fading out over Length of its height.
class TvgReflectionEffect : public TvgEffect {
  KBL_DECLARE_CLASS(TvgReflectionEffect, TvgEffect)
 public:
  explicit TvgReflectionEffect(TComponent* owner) : TvgEffect(owner) {}
  TvgRect GetRect(const TvgRect& rect) override;
  TvgPoint GetOffset() override;
  void ProcessEffect(TvgCanvas* reserved, TvgBitmap* bitmap, float scale) override;
  float GetOpacity() const { return opacity_; }
  void SetOpacity(float value);
  int32_t GetOffsetValue() const { return offset_; }
  void SetOffsetValue(int32_t value);
  float GetLength() const { return length_; }
  // Limited to 0.1 .. 1.
  void SetLength(float value);

 private:
  float opacity_ = 0.5f;
  int32_t offset_ = 0;
  float length_ = 0.5f;
};
