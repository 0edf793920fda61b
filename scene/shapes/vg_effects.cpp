// Bitmap effects and the stack blur they share.
#include "vg_effects.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "scene/core/vg_registry.h"
#include "scene/core/vg_types.h"

KBL_PUBLISHED(TvgShadowEffect) {
  KBL_PROP(Distance).Default(3.0f);
  KBL_PROP(Direction).Default(45.0f);
  KBL_PROP(Softness).Default(0.3f);
  KBL_PROP(Opacity).Default(0.6f);
  KBL_PROP(ShadowColor).Default("#FF000000");
}

KBL_PUBLISHED(TvgBlurEffect) { KBL_PROP(Softness).Default(0.3f); }

KBL_PUBLISHED(TvgGlowEffect) {
  KBL_PROP(Softness).Default(0.4f);
  KBL_PROP(Opacity).Default(0.9f);
  KBL_PROP(GlowColor).Default("#FFFFD700");
}

KBL_PUBLISHED(TvgInnerGlowEffect) {}

KBL_PUBLISHED(TvgBevelEffect) {
  KBL_PROP(Direction).Default(45.0f);
  KBL_PROP(Size).Default(10);
}

KBL_PUBLISHED(TvgReflectionEffect) {
  KBL_PROP(Opacity).Default(0.5f);
  p.Property("Offset", &TvgReflectionEffect::GetOffsetValue, &TvgReflectionEffect::SetOffsetValue).Default(0);
  KBL_PROP(Length).Default(0.5f);
}

void vgInitEffectsUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  vgRegisterObjects("Effects", {TvgShadowEffect::StaticClassInfo(), TvgBlurEffect::StaticClassInfo(),
                                TvgGlowEffect::StaticClassInfo(), TvgInnerGlowEffect::StaticClassInfo(),
                                TvgBevelEffect::StaticClassInfo(), TvgReflectionEffect::StaticClassInfo()});
}

namespace {
const bool g_effectsRegistered = (AddClassRegistration(&vgInitEffectsUnit), true);

int32_t TruncI(float v) { return static_cast<int32_t>(Trunc(v)); }

TvgRect Inflated(const TvgRect& r, float d) {
  TvgRect e = r;
  vgInflateRect(e, d, d);
  return e;
}

// The pixel with its alpha replaced, colours scaled to it.
uint32_t WithAlpha(uint32_t premultiplied, uint32_t alpha) {
  const TvgColor straight = vgUnpremultiplyAlpha(premultiplied);
  return vgPremultiplyAlpha((straight & 0x00FFFFFFu) | (std::min<uint32_t>(alpha, 255) << 24));
}

}  // namespace

// --- Stack blur

void vgStackBlur(TvgBitmap& bitmap, int32_t radius, bool withAlpha) {
  if (radius < 1 || bitmap.IsEmpty()) return;
  const int32_t w = bitmap.GetWidth(), h = bitmap.GetHeight();
  const int32_t wm = w - 1, hm = h - 1;
  const int32_t div = 2 * radius + 1;
  const int32_t divsum = (radius + 1) * (radius + 1);
  std::vector<uint8_t> table(static_cast<size_t>(256) * static_cast<size_t>(divsum));
  for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint8_t>(i / static_cast<size_t>(divsum));
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  std::vector<int32_t> planes[4] = {std::vector<int32_t>(n), std::vector<int32_t>(n), std::vector<int32_t>(n),
                                    std::vector<int32_t>(n)};
  const int channels = withAlpha ? 4 : 3;
  const int shifts[4] = {16, 8, 0, 24};
  std::vector<int32_t> stack(static_cast<size_t>(div) * 4);
  uint32_t* pix = bitmap.Bits();

  auto channel = [&](uint32_t p, int c) { return static_cast<int32_t>(p >> shifts[c] & 0xFF); };

  // One pass over a line of `count` values read through `at(i)` and written through `put(i, c, v)`.
  auto pass = [&](int32_t count, int32_t last, auto at, auto put) {
    int64_t sum[4] = {}, in[4] = {}, out[4] = {};
    for (int32_t i = -radius; i <= radius; ++i) {
      const int32_t* src = at(std::min(last, std::max(i, 0)));
      int32_t* s = &stack[static_cast<size_t>(i + radius) * 4];
      const int32_t weight = radius + 1 - std::abs(i);
      for (int c = 0; c < channels; ++c) {
        s[c] = src[c];
        sum[c] += static_cast<int64_t>(src[c]) * weight;
        if (i > 0) in[c] += src[c];
        else out[c] += src[c];
      }
    }
    int32_t sp = radius;
    for (int32_t x = 0; x < count; ++x) {
      for (int c = 0; c < channels; ++c) put(x, c, table[static_cast<size_t>(sum[c])]);
      for (int c = 0; c < channels; ++c) sum[c] -= out[c];
      int32_t* s = &stack[static_cast<size_t>((sp - radius + div) % div) * 4];
      const int32_t* src = at(std::min(x + radius + 1, last));
      for (int c = 0; c < channels; ++c) {
        out[c] -= s[c];
        s[c] = src[c];
        in[c] += s[c];
        sum[c] += in[c];
      }
      sp = (sp + 1) % div;
      s = &stack[static_cast<size_t>(sp) * 4];
      for (int c = 0; c < channels; ++c) {
        out[c] += s[c];
        in[c] -= s[c];
      }
    }
  };

  int32_t px[4] = {};
  for (int32_t y = 0; y < h; ++y) {
    const uint32_t* row = pix + static_cast<size_t>(y) * static_cast<size_t>(w);
    const size_t base = static_cast<size_t>(y) * static_cast<size_t>(w);
    pass(
        w, wm,
        [&](int32_t i) -> const int32_t* {
          for (int c = 0; c < 4; ++c) px[c] = channel(row[i], c);
          return px;
        },
        [&](int32_t x, int c, int32_t v) { planes[c][base + static_cast<size_t>(x)] = v; });
  }
  std::vector<int32_t> column(static_cast<size_t>(h) * 4);
  for (int32_t x = 0; x < w; ++x) {
    pass(
        h, hm,
        [&](int32_t i) -> const int32_t* {
          const size_t at = static_cast<size_t>(i) * static_cast<size_t>(w) + static_cast<size_t>(x);
          for (int c = 0; c < 4; ++c) px[c] = planes[c][at];
          return px;
        },
        [&](int32_t y, int c, int32_t v) { column[static_cast<size_t>(y) * 4 + static_cast<size_t>(c)] = v; });
    for (int32_t y = 0; y < h; ++y) {
      const int32_t* v = &column[static_cast<size_t>(y) * 4];
      const uint32_t a = withAlpha ? static_cast<uint32_t>(v[3]) : 0u;
      pix[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] =
          a << 24 | static_cast<uint32_t>(v[0]) << 16 | static_cast<uint32_t>(v[1]) << 8 | static_cast<uint32_t>(v[2]);
    }
  }
  bitmap.BitmapChanged();
}

// --- Shadow

void TvgShadowEffect::SetDistance(float value) {
  if (vgSetChanged(distance_, value)) UpdateParentEffects();
}

void TvgShadowEffect::SetDirection(float value) {
  if (vgSetChanged(direction_, value)) UpdateParentEffects();
}

void TvgShadowEffect::SetSoftness(float value) {
  value = std::clamp(value, 0.0f, 3.0f);
  if (vgSetChanged(softness_, value)) UpdateParentEffects();
}

void TvgShadowEffect::SetOpacity(float value) {
  value = std::clamp(value, 0.0f, 1.0f);
  if (vgSetChanged(opacity_, value)) UpdateParentEffects();
}

std::string TvgShadowEffect::GetShadowColor() const { return vgColorToStr(color_); }

void TvgShadowEffect::SetShadowColor(const std::string& value) {
  const TvgColor c = vgStrToColor(value);
  if (c == color_) return;
  color_ = c;
  UpdateParentEffects();
}

TvgRect TvgShadowEffect::GetRect(const TvgRect& rect) {
  TvgRect r = Inflated(rect, static_cast<float>(TruncI(softness_ * 20)));
  const float d = vgDegToRad(direction_);
  vgOffsetRect(r, distance_ * std::cos(d), distance_ * std::sin(d));
  return r;
}

TvgPoint TvgShadowEffect::GetOffset() {
  const float o = static_cast<float>(TruncI(softness_ * 20));
  return vgPoint(o, o);
}

void TvgShadowEffect::ProcessEffect(TvgCanvas*, TvgBitmap* bitmap, float scale) {
  if (bitmap == nullptr) return;
  const std::vector<uint8_t> mask = bitmap->CreateMask();
  bitmap->FillColor(vgOpacityColor(color_, opacity_));
  vgStackBlur(*bitmap, TruncI(softness_ * 10 + 5), true);
  const float d = vgDegToRad(direction_);
  const float x = distance_ * std::cos(d) * scale, y = distance_ * std::sin(d) * scale;
  // The object's own silhouette is cut out where the object will stand.
  bitmap->ApplyMask(mask, -static_cast<int32_t>(Round(x)), -static_cast<int32_t>(Round(y)));
}

// --- Blur

TvgBlurEffect::TvgBlurEffect(TComponent* owner) : TvgEffect(owner) { replacesPainting_ = true; }

void TvgBlurEffect::SetSoftness(float value) {
  value = std::clamp(value, 0.0f, 9.0f);
  if (vgSetChanged(softness_, value)) UpdateParentEffects();
}

TvgRect TvgBlurEffect::GetRect(const TvgRect& rect) { return Inflated(rect, static_cast<float>(TruncI(softness_ * 20))); }

TvgPoint TvgBlurEffect::GetOffset() {
  const float o = static_cast<float>(TruncI(softness_ * 20));
  return vgPoint(o, o);
}

void TvgBlurEffect::ProcessEffect(TvgCanvas*, TvgBitmap* bitmap, float) {
  if (bitmap == nullptr || softness_ <= 0) return;
  vgStackBlur(*bitmap, TruncI(softness_ * 15), true);
}

// --- Glow

void TvgGlowEffect::SetSoftness(float value) {
  value = std::clamp(value, 0.0f, 9.0f);
  if (vgSetChanged(softness_, value)) UpdateParentEffects();
}

void TvgGlowEffect::SetOpacity(float value) {
  value = std::clamp(value, 0.0f, 1.0f);
  if (vgSetChanged(opacity_, value)) UpdateParentEffects();
}

std::string TvgGlowEffect::GetGlowColor() const { return vgColorToStr(color_); }

void TvgGlowEffect::SetGlowColor(const std::string& value) {
  const TvgColor c = vgStrToColor(value);
  if (c == color_) return;
  color_ = c;
  UpdateParentEffects();
}

TvgRect TvgGlowEffect::GetRect(const TvgRect& rect) {
  return Inflated(rect, static_cast<float>(TruncI(softness_ * 23) + 4));
}

TvgPoint TvgGlowEffect::GetOffset() {
  const float o = static_cast<float>(TruncI(softness_ * 23) + 4);
  return vgPoint(o, o);
}

void TvgGlowEffect::Glow(TvgBitmap& bitmap) {
  const std::vector<uint8_t> mask = bitmap.CreateMask();
  bitmap.FillColor(vgOpacityColor(color_, opacity_));
  vgStackBlur(bitmap, TruncI(softness_ * 10 + 5), true);
  bitmap.ApplyMask(mask, 0, 0);
}

void TvgGlowEffect::ProcessEffect(TvgCanvas*, TvgBitmap* bitmap, float) {
  if (bitmap != nullptr) Glow(*bitmap);
}

TvgInnerGlowEffect::TvgInnerGlowEffect(TComponent* owner) : TvgGlowEffect(owner) { paintsAfter_ = true; }

TvgRect TvgInnerGlowEffect::GetRect(const TvgRect& rect) {
  return Inflated(rect, static_cast<float>(TruncI(GetSoftness() * 20)));
}

TvgPoint TvgInnerGlowEffect::GetOffset() {
  const float o = static_cast<float>(TruncI(GetSoftness() * 20));
  return vgPoint(o, o);
}

void TvgInnerGlowEffect::ProcessEffect(TvgCanvas*, TvgBitmap* bitmap, float) {
  if (bitmap == nullptr) return;
  bitmap->InvertAlpha();
  Glow(*bitmap);
}

// --- Bevel

TvgBevelEffect::TvgBevelEffect(TComponent* owner) : TvgEffect(owner) { replacesPainting_ = true; }

void TvgBevelEffect::SetDirection(float value) {
  if (vgSetChanged(direction_, value)) UpdateParentEffects();
}

void TvgBevelEffect::SetSize(int32_t value) {
  if (vgSetChanged(size_, value)) UpdateParentEffects();
}

TvgRect TvgBevelEffect::GetRect(const TvgRect& rect) { return Inflated(rect, 5); }
TvgPoint TvgBevelEffect::GetOffset() { return vgPoint(5, 5); }

void TvgBevelEffect::ProcessEffect(TvgCanvas*, TvgBitmap* bitmap, float) {
  if (bitmap == nullptr || size_ == 0 || bitmap->IsEmpty()) return;
  const int32_t w = bitmap->GetWidth(), h = bitmap->GetHeight();
  TvgBitmap heights(w, h);
  std::copy(bitmap->Bits(), bitmap->Bits() + static_cast<size_t>(w) * static_cast<size_t>(h), heights.Bits());
  vgStackBlur(heights, size_, true);
  auto height = [&](int32_t x, int32_t y) { return static_cast<float>(heights.Pixel(x, y) >> 24) / 255.0f; };
  const float d = vgDegToRad(direction_);
  const float lx = std::cos(d), ly = 0, lz = std::sin(d);
  const float lightLength = std::sqrt(lx * lx + ly * ly + lz * lz);
  uint32_t* pix = bitmap->Bits();
  for (int32_t y = h - 2; y >= 0; --y) {
    for (int32_t x = w - 2; x >= 0; --x) {
      uint32_t& p = pix[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)];
      const uint32_t a = p >> 24;
      if (a == 0) continue;
      const float ha = height(x, y + 1), hb = height(x + 1, y), hc = height(x + 1, y + 1);
      const float nx = hc - hb, ny = 1, nz = hc - ha;
      const float lengths = lightLength * std::sqrt(nx * nx + ny * ny + nz * nz);
      const float c = lengths <= 1e-40f ? 1.0f : (lx * nx + ly * ny + lz * nz) / lengths;
      const float k = c * static_cast<float>(size_);
      // The pixel's own colour, made opaque, lightened or darkened, then back at its coverage.
      const TvgColor straight = vgUnpremultiplyAlpha(p) | 0xFF000000u;
      const TvgColor lit = vgChangeHSL(straight, 0, 0, 0.4f * k);
      p = vgPremultiplyAlpha(vgOpacityColor(lit, static_cast<float>(a) / 255.0f));
    }
  }
  bitmap->BitmapChanged();
}

// --- Reflection

void TvgReflectionEffect::SetOpacity(float value) {
  if (vgSetChanged(opacity_, value)) UpdateParentEffects();
}

void TvgReflectionEffect::SetOffsetValue(int32_t value) {
  if (vgSetChanged(offset_, value)) UpdateParentEffects();
}

void TvgReflectionEffect::SetLength(float value) {
  value = std::clamp(value, 0.1f, 1.0f);
  if (vgSetChanged(length_, value)) UpdateParentEffects();
}

TvgRect TvgReflectionEffect::GetRect(const TvgRect& rect) {
  TvgRect r = Inflated(rect, 2);
  vgOffsetRect(r, 0, vgRectHeight(rect) + static_cast<float>(offset_));
  return r;
}

TvgPoint TvgReflectionEffect::GetOffset() { return vgPoint(2, 2); }

void TvgReflectionEffect::ProcessEffect(TvgCanvas*, TvgBitmap* bitmap, float) {
  if (bitmap == nullptr || bitmap->IsEmpty()) return;
  bitmap->FlipVertical();
  const int32_t w = bitmap->GetWidth();
  const int32_t hh = bitmap->GetHeight() - 1;
  const int32_t l = static_cast<int32_t>(Round(static_cast<float>(hh) * length_));
  for (int32_t i = 0; i <= hh; ++i) {
    uint32_t* row = bitmap->Scanline(hh - i);
    if (i > hh - l) {
      const float fade = static_cast<float>(i + l - hh) / static_cast<float>(l) * opacity_;
      for (int32_t x = 0; x < w; ++x) {
        const uint32_t a = row[x] >> 24;
        if (a > 0) row[x] = WithAlpha(row[x], static_cast<uint32_t>(Trunc(fade * static_cast<float>(a))));
      }
    } else {
      std::fill(row, row + w, 0u);
    }
  }
  bitmap->BitmapChanged();
}
