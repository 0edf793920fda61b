// Whole-pixel drawing on a canvas buffer of 32-bit premultiplied ARGB: the clip a canvas knows
// in device pixels, source-over blending, solid fills, image copies and opaque tiling. The GDI+
// window canvas uses them where they give the pixels GDI+ gives (checked once per process, see
// vg_canvas_gdiplus.cpp), because every GDI+ call costs far more than the pixels it touches.
// Portable; GUI thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "vg_types.h"

// A rect of whole pixels; right and bottom are exclusive.
struct TvgPixelRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  friend bool operator==(const TvgPixelRect&, const TvgPixelRect&) = default;
};
// The common part of two pixel rects (empty when they do not meet).
TvgPixelRect vgIntersectPixelRect(const TvgPixelRect& a, const TvgPixelRect& b);

// A buffer of top-down rows without padding (stride = width).
struct TvgPixelBuffer {
  uint32_t* Bits = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
};

// --- Pixel arithmetic (the rounding GDI+ uses for its own blends)

// round(v / 255) for 0 <= v <= 255 * 255, without a division.
inline uint32_t vgDiv255(uint32_t v) {
  v += 128;
  return (v + (v >> 8)) >> 8;
}
// Premultiplied source over destination, each channel (alpha too) c + round(d × (255 − a) / 255),
// at most 255.
uint32_t vgBlendPixel(uint32_t src, uint32_t dst);
// A straight-alpha colour premultiplied: each colour channel round(c × a / 255).
uint32_t vgPremultiplyColor(TvgColor color);
// The first pixel whose centre lies at or beyond the device coordinate v: floor(v + 0.5), in
// the int32 range. A rect covers the pixels from the edge of its left side up to, not
// including, the edge of its right side.
int32_t vgPixelEdge(float v);
// The whole pixels a device rect covers by that rule.
TvgPixelRect vgPixelsOfRect(const TvgRect& deviceRect);
// The pixels lying wholly inside a device rect (empty when none).
TvgPixelRect vgPixelsInsideRect(const TvgRect& deviceRect);

// --- The clip in device pixels

// What a canvas knows of its clip: always a bounding rect that holds every pixel the clip lets
// through, and, while the clip is made of whole-pixel rects only ("exact"), those rects. Rects
// with fractional edges, rotated rects and exclusions leave it inexact (the bounds stay valid).
class TvgDeviceClip {
 public:
  // No clip: the whole surface of width × height pixels.
  void Reset(int32_t width, int32_t height);
  // The union of the device rects replaces the clip (within the surface). An empty list lets
  // nothing through.
  void Replace(const std::vector<TvgRect>& deviceRects);
  // The clip shrinks to its part inside the device rect; `rectangular` is false when the rect
  // stands for a rotated or skewed one (its device bounds are given).
  void Intersect(const TvgRect& deviceRect, bool rectangular = true);
  // Something was cut away that is not tracked: the bounds stay, the pixels are unknown.
  void MakeInexact() { exact_ = false; }

  bool IsExact() const { return exact_; }
  // Exact, and one rect holding the whole surface.
  bool IsWholeSurface() const { return exact_ && rects_.size() == 1 && rects_[0] == surface_; }
  // The rects while exact: none of them empty, none overlapping another.
  const std::vector<TvgPixelRect>& Rects() const { return rects_; }
  const TvgPixelRect& Bounds() const { return bounds_; }
  // False when nothing inside the device rect can pass the clip.
  bool Meets(const TvgRect& deviceRect) const;
  // Exact, and every rect of it inside `a` or inside `b` (nothing passes elsewhere).
  bool IsWithin(const TvgPixelRect& a, const TvgPixelRect& b) const;
  // The part of `area` that passes, rect by rect (exact clips only).
  template <typename F>
  void ForEachPart(const TvgPixelRect& area, F&& visit) const {
    for (const TvgPixelRect& r : rects_) {
      const TvgPixelRect part = vgIntersectPixelRect(r, area);
      if (!part.IsEmpty()) visit(part);
    }
  }

 private:
  void UpdateBounds();

  TvgPixelRect surface_;
  TvgPixelRect bounds_;
  std::vector<TvgPixelRect> rects_;
  bool exact_ = true;
};

// --- Drawing (each within the buffer and the exact clip)

// Blends a premultiplied colour over the pixels of `area`.
void vgBlendFill(const TvgPixelBuffer& buffer, const TvgDeviceClip& clip, const TvgPixelRect& area, uint32_t color);
// Blends the premultiplied source image over the buffer with its pixel (0, 0) at (x, y) of the
// buffer; `stride` is the source's row pitch in pixels.
void vgBlendImage(const TvgPixelBuffer& buffer, const TvgDeviceClip& clip, int32_t x, int32_t y,
                  const uint32_t* source, int32_t stride, int32_t width, int32_t height);
// Tiles `area` with the texture whose pixel (0, 0) lies at (originX, originY) of the buffer.
// Only opaque textures can be tiled this way: when a texel that would show is not opaque,
// nothing is drawn and the answer is false.
bool vgTileOpaque(const TvgPixelBuffer& buffer, const TvgDeviceClip& clip, const TvgPixelRect& area, int32_t originX,
                  int32_t originY, const uint32_t* texture, int32_t width, int32_t height);
