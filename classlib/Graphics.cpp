// Pictures of the class library: graphics, in-memory bitmaps and the picture registry.
#include "Graphics.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "NeverDestroyed.h"

KBL_PUBLISHED(TGraphic) {}
KBL_PUBLISHED(TBitmap) {}
KBL_PUBLISHED(TIcon) {}
KBL_PUBLISHED(TMetafile) {}
KBL_PUBLISHED(TPicture) {}

// --- Drawing values

KBL_PUBLISHED(TGraphicsObject) {}

KBL_PUBLISHED(TPen) {
  KBL_PROP(Color).Default(clBlack);
  KBL_PROP(Mode).Default(pmCopy);
  KBL_PROP(Style).Default(psSolid);
  KBL_PROP(Width).Default(1);
}

void TPen::SetColor(TColor value) {
  if (color_ == value) return;
  color_ = value;
  Changed();
}

void TPen::SetWidth(int32_t value) {
  if (width_ == value) return;
  width_ = value;
  Changed();
}

void TPen::SetStyle(TPenStyle value) {
  if (style_ == value) return;
  style_ = value;
  Changed();
}

void TPen::SetMode(TPenMode value) {
  if (mode_ == value) return;
  mode_ = value;
  Changed();
}

void TPen::Assign(TPersistent* source) {
  if (auto* pen = dynamic_cast<TPen*>(source)) {
    color_ = pen->color_;
    width_ = pen->width_;
    style_ = pen->style_;
    mode_ = pen->mode_;
    Changed();
    return;
  }
  TGraphicsObject::Assign(source);
}

KBL_PUBLISHED(TBrush) {
  KBL_PROP(Color).Default(clWhite);
  KBL_PROP(Style).Default(bsSolid);
}

void TBrush::SetColor(TColor value) {
  if (color_ == value) return;
  color_ = value;
  Changed();
}

void TBrush::SetStyle(TBrushStyle value) {
  if (style_ == value) return;
  style_ = value;
  Changed();
}

void TBrush::Assign(TPersistent* source) {
  if (auto* brush = dynamic_cast<TBrush*>(source)) {
    color_ = brush->color_;
    style_ = brush->style_;
    Changed();
    return;
  }
  TGraphicsObject::Assign(source);
}

KBL_PUBLISHED(TFont) {
  KBL_PROP(Color).Default(clWindowText);
  KBL_PROP(Height);
  KBL_PROP(Name).Default("Tahoma");
  KBL_PROP(Size).Stored(false);
  KBL_PROP(Style).Default(TFontStyles{});
}

void TFont::SetColor(TColor value) {
  if (color_ == value) return;
  color_ = value;
  Changed();
}

void TFont::SetName(const std::string& value) {
  if (name_ == value || value.empty()) return;
  name_ = value;
  Changed();
}

namespace {

// a * b / c rounded half away from zero, for a positive c.
int32_t ScaleRounded(int32_t a, int32_t b, int32_t c) {
  const int64_t product = static_cast<int64_t>(a) * b;
  return static_cast<int32_t>(product >= 0 ? (product + c / 2) / c : (product - c / 2) / c);
}

}  // namespace

// Sizes and heights convert at 96 pixels per inch.
int32_t TFont::GetSize() const { return -ScaleRounded(height_, 72, 96); }

void TFont::SetSize(int32_t value) { SetHeight(-ScaleRounded(value, 96, 72)); }

void TFont::SetHeight(int32_t value) {
  if (height_ == value) return;
  height_ = value;
  Changed();
}

void TFont::SetStyle(TFontStyles value) {
  if (style_ == value) return;
  style_ = value;
  Changed();
}

void TFont::Assign(TPersistent* source) {
  if (auto* font = dynamic_cast<TFont*>(source)) {
    color_ = font->color_;
    name_ = font->name_;
    height_ = font->height_;
    style_ = font->style_;
    Changed();
    return;
  }
  TGraphicsObject::Assign(source);
}

// --- TGraphic

void TGraphic::LoadFromFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName) {
  TFileStream stream(fileName, fmCreate);
  SaveToStream(stream);
}

void TGraphic::Progress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                        const TRect& rect, const std::string& message) {
  OnProgress(sender, stage, percentDone, redrawNow, rect, message);
}

// --- TBitmap

int32_t TBitmap::BitsPerPixelOf(TPixelFormat format) {
  switch (format) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pfDevice:
    case pf32bit: return 32;
    default: return 0;
  }
}

void TBitmap::Allocate() {
  int32_t bits = BitsPerPixelOf(pixelFormat_);
  stride_ = static_cast<int32_t>(((static_cast<int64_t>(width_) * bits + 31) / 32) * 4);
  pixels_.assign(static_cast<size_t>(stride_) * static_cast<size_t>(height_), 0);
}

void TBitmap::SetSize(int32_t width, int32_t height) {
  if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide)
    throw EInvalidGraphic("Bitmap image is too large");
  uint64_t rowBytes = ((static_cast<uint64_t>(width) * 32 + 31) / 32) * 4;
  if (rowBytes * static_cast<uint64_t>(height) > kMaxPixelBytes)
    throw EInvalidGraphic("Bitmap image is too large");
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  Allocate();
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == pixelFormat_) return;
  TPixelFormat old = pixelFormat_;
  std::vector<uint8_t> oldPixels;
  oldPixels.swap(pixels_);
  int32_t oldStride = stride_;
  pixelFormat_ = format;
  Allocate();
  if ((old == pf1bit || old == pf4bit) && format == pf8bit) {
    int32_t bits = old == pf1bit ? 1 : 4;
    int32_t perByte = 8 / bits;
    uint8_t valueMask = static_cast<uint8_t>((1 << bits) - 1);
    for (int32_t y = 0; y < height_; ++y) {
      const uint8_t* source = oldPixels.data() + static_cast<size_t>(y) * oldStride;
      uint8_t* target = ScanLine(y);
      for (int32_t x = 0; x < width_; ++x) {
        int32_t shift = 8 - bits * (x % perByte + 1);
        target[x] = static_cast<uint8_t>((source[x / perByte] >> shift) & valueMask);
      }
    }
  }
}

uint8_t* TBitmap::ScanLine(int32_t y) {
  if (y < 0 || y >= height_ || pixels_.empty())
    throw EInvalidGraphic("Scan line index out of range");
  return pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(stride_);
}

const uint8_t* TBitmap::ScanLine(int32_t y) const {
  return const_cast<TBitmap*>(this)->ScanLine(y);
}

void TBitmap::SetPalette(const TPaletteEntries& palette) {
  palette_.assign(palette.begin(), palette.begin() + std::min<size_t>(palette.size(), 256));
}

namespace {

uint8_t RedOf(TColor c) { return static_cast<uint8_t>(c & 0xFF); }
uint8_t GreenOf(TColor c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
uint8_t BlueOf(TColor c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }
TColor MakeColor(int r, int g, int b) { return r | (g << 8) | (b << 16); }

}  // namespace

void TBitmap::FillColor(TColor color) {
  if (pixels_.empty()) return;
  uint8_t r = RedOf(color), g = GreenOf(color), b = BlueOf(color);
  int32_t bits = BitsPerPixelOf(pixelFormat_);
  if (bits <= 8) {
    // Nearest palette entry; without a palette the grey level of the colour.
    uint32_t index = 0;
    if (!palette_.empty()) {
      int64_t best = INT64_MAX;
      for (size_t i = 0; i < palette_.size(); ++i) {
        int64_t dr = palette_[i].peRed - r, dg = palette_[i].peGreen - g,
                dbl = palette_[i].peBlue - b;
        int64_t d = dr * dr + dg * dg + dbl * dbl;
        if (d < best) {
          best = d;
          index = static_cast<uint32_t>(i);
        }
      }
    }
    index &= (1u << bits) - 1;
    uint8_t byte = 0;
    for (int32_t i = 0; i < 8 / bits; ++i) byte = static_cast<uint8_t>((byte << bits) | index);
    std::fill(pixels_.begin(), pixels_.end(), byte);
    return;
  }
  for (int32_t y = 0; y < height_; ++y) {
    uint8_t* p = ScanLine(y);
    for (int32_t x = 0; x < width_; ++x) {
      switch (pixelFormat_) {
        case pf15bit: {
          uint16_t v = static_cast<uint16_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
          p[2 * x] = static_cast<uint8_t>(v);
          p[2 * x + 1] = static_cast<uint8_t>(v >> 8);
          break;
        }
        case pf16bit: {
          uint16_t v = static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
          p[2 * x] = static_cast<uint8_t>(v);
          p[2 * x + 1] = static_cast<uint8_t>(v >> 8);
          break;
        }
        case pf24bit:
          p[3 * x] = b;
          p[3 * x + 1] = g;
          p[3 * x + 2] = r;
          break;
        default:
          p[4 * x] = b;
          p[4 * x + 1] = g;
          p[4 * x + 2] = r;
          p[4 * x + 3] = 0;
          break;
      }
    }
  }
}

uint32_t TBitmap::GetPixelIndex(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_ || pixels_.empty()) return 0;
  const uint8_t* row = ScanLine(y);
  int32_t bits = BitsPerPixelOf(pixelFormat_);
  if (bits >= 8) return row[x * (bits / 8)];
  int32_t perByte = 8 / bits;
  int32_t shift = 8 - bits * (x % perByte + 1);
  return (row[x / perByte] >> shift) & ((1u << bits) - 1);
}

TColor TBitmap::GetPixelColor(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_ || pixels_.empty()) return 0;
  int32_t bits = BitsPerPixelOf(pixelFormat_);
  if (bits <= 8) {
    uint32_t index = GetPixelIndex(x, y);
    if (index >= palette_.size()) return 0;
    const TPaletteEntry& e = palette_[index];
    return MakeColor(e.peRed, e.peGreen, e.peBlue);
  }
  const uint8_t* p = ScanLine(y);
  switch (pixelFormat_) {
    case pf15bit: {
      int v = p[2 * x] | (p[2 * x + 1] << 8);
      return MakeColor(((v >> 10) & 31) << 3, ((v >> 5) & 31) << 3, (v & 31) << 3);
    }
    case pf16bit: {
      int v = p[2 * x] | (p[2 * x + 1] << 8);
      return MakeColor(((v >> 11) & 31) << 3, ((v >> 5) & 63) << 2, (v & 31) << 3);
    }
    case pf24bit: return MakeColor(p[3 * x + 2], p[3 * x + 1], p[3 * x]);
    default: return MakeColor(p[4 * x + 2], p[4 * x + 1], p[4 * x]);
  }
}

void TBitmap::Clear() {
  width_ = height_ = stride_ = 0;
  pixels_.clear();
  palette_.clear();
}

void TBitmap::Assign(TPersistent* source) {
  auto* other = AssignSource<TBitmap, inherited>(this, source);
  if (other == nullptr) return;
  width_ = other->width_;
  height_ = other->height_;
  stride_ = other->stride_;
  pixelFormat_ = other->pixelFormat_;
  pixels_ = other->pixels_;
  palette_ = other->palette_;
  transparentColor_ = other->transparentColor_;
  SetTransparent(other->GetTransparent());
}

// --- Windows bitmap files

namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

[[noreturn]] void InvalidBitmap() { throw EInvalidGraphic("Bitmap image is not valid"); }

}  // namespace

void TBitmap::LoadFromStream(TStream& stream) {
  int64_t start = stream.GetPosition();
  uint8_t head[54];
  if (stream.Remaining() < static_cast<int64_t>(sizeof head)) InvalidBitmap();
  stream.ReadBuffer(head, sizeof head);
  if (head[0] != 'B' || head[1] != 'M') InvalidBitmap();
  uint32_t dataOffset = Le32(head + 10);
  uint32_t infoSize = Le32(head + 14);
  int32_t width = static_cast<int32_t>(Le32(head + 18));
  int32_t height = static_cast<int32_t>(Le32(head + 22));
  uint16_t bits = Le16(head + 28);
  uint32_t compression = Le32(head + 30);
  uint32_t colours = Le32(head + 46);
  if (infoSize < 40 || compression != 0 || width <= 0 || height == 0 || height == INT32_MIN)
    InvalidBitmap();
  bool bottomUp = height > 0;
  height = bottomUp ? height : -height;
  TPixelFormat format;
  switch (bits) {
    case 1: format = pf1bit; break;
    case 4: format = pf4bit; break;
    case 8: format = pf8bit; break;
    case 16: format = pf15bit; break;
    case 24: format = pf24bit; break;
    case 32: format = pf32bit; break;
    default: InvalidBitmap();
  }
  TPaletteEntries palette;
  if (bits <= 8) {
    uint32_t count = colours == 0 ? (1u << bits) : std::min<uint32_t>(colours, 256);
    stream.SetPosition(start + 14 + infoSize);
    std::vector<uint8_t> quads(count * 4);
    stream.ReadBuffer(quads.data(), static_cast<int32_t>(quads.size()));
    for (uint32_t i = 0; i < count; ++i)
      palette.push_back(TPaletteEntry{quads[4 * i + 2], quads[4 * i + 1], quads[4 * i], 0});
  }
  TBitmap loaded;
  loaded.SetPixelFormat(format);
  loaded.SetSize(width, height);
  if (static_cast<int64_t>(loaded.stride_) * height > stream.GetSize() - start) InvalidBitmap();
  loaded.SetPalette(palette);
  stream.SetPosition(start + dataOffset);
  for (int32_t i = 0; i < height; ++i)
    stream.ReadBuffer(loaded.ScanLine(bottomUp ? height - 1 - i : i), loaded.stride_);
  Assign(&loaded);
}

namespace {

// One channel of a bit-field mask: where it starts and how many bits it has.
struct TMaskChannel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
  explicit TMaskChannel(uint32_t m = 0) : mask(m) {
    if (m == 0) return;
    while ((m & 1u) == 0) {
      m >>= 1;
      ++shift;
    }
    while ((m & 1u) != 0 && bits < 32) {
      m >>= 1;
      ++bits;
    }
  }
  // The channel scaled to 0..255.
  uint32_t Extract(uint32_t pixel) const {
    if (bits == 0) return 0;
    const uint64_t value = (pixel & mask) >> shift;
    const uint64_t top = (uint64_t{1} << bits) - 1;
    return static_cast<uint32_t>((value * 255 + top / 2) / top);
  }
};

}  // namespace

void TBitmap::LoadFromDIB(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (bytes == nullptr || size < 12) InvalidBitmap();
  const uint32_t headerSize = Le32(bytes);
  if (headerSize > size) InvalidBitmap();
  int64_t width = 0, height = 0;
  uint32_t bits = 0, compression = 0, colours = 0, entrySize = 4;
  if (headerSize == 12) {
    width = Le16(bytes + 4);
    height = static_cast<int16_t>(Le16(bytes + 6));
    bits = Le16(bytes + 10);
    entrySize = 3;
  } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108 || headerSize == 124) {
    width = static_cast<int32_t>(Le32(bytes + 4));
    height = static_cast<int32_t>(Le32(bytes + 8));
    bits = Le16(bytes + 14);
    compression = Le32(bytes + 16);
    colours = Le32(bytes + 32);
  } else {
    InvalidBitmap();
  }
  const bool bottomUp = height > 0;
  height = height < 0 ? -height : height;
  if (width <= 0 || height == 0 || width > kMaxSide || height > kMaxSide) InvalidBitmap();
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) InvalidBitmap();
  // Bit fields (3) and bit fields with alpha (6) only for 16 and 32 bits; no run-length coding.
  const bool fields = compression == 3 || compression == 6;
  if (!(compression == 0 || (fields && (bits == 16 || bits == 32)))) InvalidBitmap();

  size_t offset = headerSize;
  uint32_t masks[4] = {0, 0, 0, 0};
  if (fields) {
    const size_t count = compression == 6 ? 4 : 3;
    // Later headers hold the masks themselves; the 40-byte one is followed by them.
    const bool inHeader = headerSize >= 52;
    const size_t at = inHeader ? 40 : headerSize;
    if (at + count * 4 > size) InvalidBitmap();
    for (size_t k = 0; k < count; ++k) masks[k] = Le32(bytes + at + 4 * k);
    if (headerSize >= 56) masks[3] = Le32(bytes + 52);
    if (!inHeader) offset += count * 4;
  } else if (bits == 16) {
    masks[0] = 0x7C00;
    masks[1] = 0x03E0;
    masks[2] = 0x001F;
  }
  std::vector<uint32_t> palette;
  if (bits <= 8) {
    const uint32_t count = colours == 0 ? (1u << bits) : std::min<uint32_t>(colours, 1u << bits);
    if (offset + static_cast<size_t>(count) * entrySize > size) InvalidBitmap();
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* e = bytes + offset + static_cast<size_t>(i) * entrySize;
      palette.push_back(0xFF000000u | uint32_t{e[2]} << 16 | uint32_t{e[1]} << 8 | e[0]);
    }
    offset += static_cast<size_t>(count) * entrySize;
  }
  const uint64_t stride = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
  if (offset > size || stride * static_cast<uint64_t>(height) > size - offset) InvalidBitmap();

  const TMaskChannel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
  TBitmap loaded;
  loaded.SetPixelFormat(pf32bit);
  loaded.SetSize(static_cast<int32_t>(width), static_cast<int32_t>(height));
  bool anyAlpha = false;
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* row = bytes + offset + stride * static_cast<uint64_t>(bottomUp ? height - 1 - y : y);
    uint8_t* out = loaded.ScanLine(static_cast<int32_t>(y));
    for (int64_t x = 0; x < width; ++x) {
      uint32_t argb = 0;
      switch (bits) {
        case 1:
        case 4:
        case 8: {
          const uint64_t bit = static_cast<uint64_t>(x) * bits;
          const uint32_t index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
          argb = index < palette.size() ? palette[index] : 0xFF000000u;
          break;
        }
        case 24:
          argb = 0xFF000000u | uint32_t{row[3 * x + 2]} << 16 | uint32_t{row[3 * x + 1]} << 8 | row[3 * x];
          break;
        default: {
          const uint32_t pixel = bits == 16 ? Le16(row + 2 * x) : Le32(row + 4 * x);
          if (bits == 32 && !fields) {
            argb = pixel;
          } else {
            argb = red.Extract(pixel) << 16 | green.Extract(pixel) << 8 | blue.Extract(pixel) |
                   (alpha.bits != 0 ? alpha.Extract(pixel) << 24 : 0xFF000000u);
          }
          break;
        }
      }
      anyAlpha = anyAlpha || (argb >> 24) != 0;
      out[4 * x] = static_cast<uint8_t>(argb);
      out[4 * x + 1] = static_cast<uint8_t>(argb >> 8);
      out[4 * x + 2] = static_cast<uint8_t>(argb >> 16);
      out[4 * x + 3] = static_cast<uint8_t>(argb >> 24);
    }
  }
  // 32-bit rows without an alpha channel leave the fourth byte 0: those pictures are opaque.
  if (!anyAlpha)
    for (int32_t y = 0; y < loaded.height_; ++y)
      for (int32_t x = 0; x < loaded.width_; ++x) loaded.ScanLine(y)[4 * x + 3] = 0xFF;
  Assign(&loaded);
}

void TBitmap::SaveToStream(TStream& stream) {
  int32_t bits = BitsPerPixelOf(pixelFormat_);
  if (bits == 0) throw EInvalidGraphic("Bitmap image is not valid");
  uint32_t paletteCount = bits <= 8 ? (1u << bits) : 0;
  uint32_t dataOffset = 54 + paletteCount * 4;
  std::vector<uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  Put32(out, dataOffset + static_cast<uint32_t>(pixels_.size()));
  Put32(out, 0);
  Put32(out, dataOffset);
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(width_));
  Put32(out, static_cast<uint32_t>(height_));
  Put16(out, 1);
  Put16(out, static_cast<uint16_t>(bits == 16 && pixelFormat_ == pf15bit ? 16 : bits));
  Put32(out, 0);
  Put32(out, static_cast<uint32_t>(pixels_.size()));
  Put32(out, 2835);
  Put32(out, 2835);
  Put32(out, paletteCount);
  Put32(out, 0);
  for (uint32_t i = 0; i < paletteCount; ++i) {
    TPaletteEntry e = i < palette_.size() ? palette_[i] : TPaletteEntry{};
    out.insert(out.end(), {e.peBlue, e.peGreen, e.peRed, 0});
  }
  stream.WriteBuffer(out.data(), static_cast<int32_t>(out.size()));
  for (int32_t y = height_ - 1; y >= 0; --y) stream.WriteBuffer(ScanLine(y), stride_);
}

// --- Pictures without a portable decoder

void TIcon::LoadFromStream(TStream&) { throw EInvalidGraphic("Icon image is not valid"); }
void TIcon::SaveToStream(TStream&) { throw EInvalidGraphicOperation("Cannot save icons"); }
void TMetafile::LoadFromStream(TStream&) { throw EInvalidGraphic("Metafile is not valid"); }
void TMetafile::SaveToStream(TStream&) { throw EInvalidGraphicOperation("Cannot save metafiles"); }

// --- TPicture

namespace {

struct TFormatBinding {
  std::string Description;
  const TClassInfo* GraphicClass = nullptr;
};

// Keyed by the extension in upper case. Never destroyed: the format lists of other units
// unregister from it in their own static destructors, which may run after this unit's. In static
// storage, so that an unloaded module leaves no block of it behind.
std::map<std::string, TFormatBinding>& Registry() {
  static TNeverDestroyed<std::map<std::string, TFormatBinding>> registry;
  return registry.Get();
}

}  // namespace

TPicture::~TPicture() { delete graphic_; }

void TPicture::LoadFromFile(const std::string& fileName) {
  size_t dot = fileName.find_last_of('.');
  size_t slash = fileName.find_last_of("/\\");
  std::string extension;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    extension = fileName.substr(dot + 1);
  const TClassInfo* cls = GraphicClassOf(extension);
  if (!cls || !cls->CreateInstance) throw EInvalidGraphic("Unknown picture file extension (." +
                                                          extension + ")");
  std::unique_ptr<TObject> object(cls->CreateInstance(nullptr));
  auto* graphic = dynamic_cast<TGraphic*>(object.get());
  if (!graphic) throw EInvalidGraphic("Unknown picture file extension (." + extension + ")");
  graphic->LoadFromFile(fileName);
  object.release();
  delete graphic_;
  graphic_ = graphic;
}

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  const TClassInfo* graphicClass) {
  Registry()[UpperCase(extension)] = TFormatBinding{description, graphicClass};
}

void TPicture::UnregisterFileFormat(const std::string& extension) {
  Registry().erase(UpperCase(extension));
}

void TPicture::UnregisterGraphicClass(const TClassInfo* graphicClass) {
  auto& registry = Registry();
  for (auto it = registry.begin(); it != registry.end();) {
    if (it->second.GraphicClass == graphicClass)
      it = registry.erase(it);
    else
      ++it;
  }
}

const TClassInfo* TPicture::GraphicClassOf(const std::string& extension) {
  auto& registry = Registry();
  auto it = registry.find(UpperCase(extension));
  return it == registry.end() ? nullptr : it->second.GraphicClass;
}

std::string TPicture::FileFormatDescription(const std::string& extension) {
  auto& registry = Registry();
  auto it = registry.find(UpperCase(extension));
  return it == registry.end() ? std::string() : it->second.Description;
}

int32_t TPicture::RegisteredFormatCount(const TClassInfo* graphicClass) {
  int32_t count = 0;
  for (const auto& [extension, binding] : Registry())
    if (!graphicClass || binding.GraphicClass == graphicClass) ++count;
  return count;
}
