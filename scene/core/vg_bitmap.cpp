// The scene bitmap and the image codec interface.
#include "vg_bitmap.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "classlib/Filer.h"
#include "classlib/SysUtils.h"
#include "vg_notify_p.h"
#include "vg_registry.h"
#include "vg_tokens.h"

KBL_PUBLISHED(TvgFilter) {}

KBL_PUBLISHED(TvgBitmap) {
  p.Property("Resource", &TvgBitmap::GetResource, &TvgBitmap::SetResource).Stored(false);
  p.Property("ResourceName", &TvgBitmap::GetResourceName, &TvgBitmap::SetResourceName);
}

namespace {

const TClassInfo*& DefaultFilterClass() {
  static const TClassInfo* cls = nullptr;
  return cls;
}

TvgBitmapCanvasHooks& CanvasHooks() {
  static TvgBitmapCanvasHooks hooks;
  return hooks;
}

// 2^29 pixels (2 GiB of pixel data) is more than a 32-bit process can hold.
constexpr int64_t kMaxPixels = int64_t(1) << 29;

// The straight colour with its alpha scaled by factor / 255, truncated; integer arithmetic so
// that a full factor keeps the alpha exactly.
TvgColor ScaleAlpha(TvgColor straight, uint32_t factor) {
  return (straight & 0x00FFFFFFu) | ((straight >> 24) * factor / 255) << 24;
}

}  // namespace

// --- Codec

std::vector<int32_t> vgFilterQualities(const std::string& params) {
  std::vector<int32_t> qualities;
  std::string rest = params;
  while (!rest.empty()) {
    const std::string item = vgGetToken(rest, " ");
    const size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    std::string name = item.substr(0, eq);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (name != "quality") continue;
    int32_t quality = 0;
    if (!TryStrToInt(item.substr(eq + 1), quality)) continue;
    qualities.push_back(std::clamp(quality, 0, 100));
  }
  return qualities;
}

void vgSetDefaultFilterClass(const TClassInfo* cls) { DefaultFilterClass() = cls; }
const TClassInfo* vgDefaultFilterClass() { return DefaultFilterClass(); }

std::unique_ptr<TvgFilter> vgCreateDefaultFilter() {
  const TClassInfo* cls = DefaultFilterClass();
  if (!cls || !cls->CreateInstance) return nullptr;
  TObject* object = cls->Create(nullptr);
  auto* filter = dynamic_cast<TvgFilter*>(object);
  if (!filter) {
    delete object;
    return nullptr;
  }
  return std::unique_ptr<TvgFilter>(filter);
}

void vgSetBitmapCanvasHooks(const TvgBitmapCanvasHooks& hooks) { CanvasHooks() = hooks; }

// --- Construction

TvgBitmap::TvgBitmap(int32_t width, int32_t height) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  Recreate();
  vgRegisterValueObject(this);  // images and image controls carry their bitmap in Variants
}

std::unique_ptr<TvgBitmap> TvgBitmap::CreateFromStream(TStream& stream) {
  auto bitmap = std::make_unique<TvgBitmap>();
  bitmap->LoadFromStream(stream);
  return bitmap;
}

TvgBitmap::~TvgBitmap() {
  vgUnregisterValueObject(this);
  UnlinkResource();
  FreeCanvas();
  NotifyDestroyPixels(this);
  Handle = nullptr;
}

void TvgBitmap::FreeCanvas() {
  if (canvas_ && CanvasHooks().Free) CanvasHooks().Free(canvas_);
  canvas_ = nullptr;
}

void TvgBitmap::Recreate() {
  NotifyBeforeRecreate(this);
  NotifyDestroyPixels(this);
  Handle = nullptr;
  FreeCanvas();
  bits_.clear();
  bits_.shrink_to_fit();
  NewPixelsId();
  const int64_t pixels = static_cast<int64_t>(width_) * height_;
  if (pixels > 0) {
    if (pixels > kMaxPixels) {
      width_ = height_ = 0;
      throw EOutOfMemory("Out of memory");
    }
    try {
      bits_.assign(static_cast<size_t>(pixels), 0);
    } catch (const std::bad_alloc&) {
      width_ = height_ = 0;
      throw EOutOfMemory("Out of memory");
    }
    Clear(0);
  }
  NeedUpdate = true;
  NotifyAfterRecreate(this);
}

void TvgBitmap::SetWidth(int32_t width) {
  width = std::max(width, 0);
  if (width == width_) return;
  width_ = width;
  Recreate();
}

void TvgBitmap::SetHeight(int32_t height) {
  height = std::max(height, 0);
  if (height == height_) return;
  height_ = height;
  Recreate();
}

void TvgBitmap::SetSize(int32_t width, int32_t height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == width_ && height == height_) return;
  ResizeUnchecked(width, height);
  OnChange(this);
}

void TvgBitmap::ResizeUnchecked(int32_t width, int32_t height) {
  width_ = width;
  height_ = height;
  Recreate();
}

void TvgBitmap::NewPixelsId() {
  static uint64_t last = 0;  // GUI thread only
  pixelsId_ = ++last;
}

uint32_t* TvgBitmap::Scanline(int32_t y) {
  if (bits_.empty() || y < 0 || y >= height_) return nullptr;
  NewPixelsId();
  return bits_.data() + static_cast<size_t>(y) * static_cast<size_t>(width_);
}

uint32_t TvgBitmap::Pixel(int32_t x, int32_t y) const {
  if (bits_.empty() || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return bits_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)];
}

// --- Drawing

void TvgBitmap::Clear(TvgColor color) {
  if (bits_.empty()) return;
  NewPixelsId();
  std::fill(bits_.begin(), bits_.end(), vgPremultiplyAlpha(color));
  OnChange(this);
  NeedUpdate = true;
}

void TvgBitmap::ClearRect(const TvgRect& r, TvgColor color) {
  if (bits_.empty()) return;
  auto toInt = [](double v) { return static_cast<int32_t>(std::clamp<double>(v, -2147483647.0, 2147483647.0)); };
  int32_t left = toInt(static_cast<double>(Trunc(r.Left)));
  int32_t top = toInt(static_cast<double>(Trunc(r.Top)));
  int32_t right = toInt(static_cast<double>(Round(r.Right)));
  int32_t bottom = toInt(static_cast<double>(Round(r.Bottom)));
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, width_);
  bottom = std::min(bottom, height_);
  bottom = std::max(bottom, top);
  right = std::max(right, left);
  if (right >= 0 && top >= 0 && left <= width_ && top <= height_) {
    NewPixelsId();
    vgFillLongwordRect(bits_.data(), width_, height_, vgPremultiplyAlpha(color), left, top, right, bottom);
    NeedUpdate = true;
  }
}

void TvgBitmap::FlipVertical() {
  if (!bits_.empty()) {
    NewPixelsId();
    const size_t w = static_cast<size_t>(width_);
    for (int32_t y = 0; y < height_ / 2; ++y) {
      std::swap_ranges(bits_.begin() + static_cast<ptrdiff_t>(y * w), bits_.begin() + static_cast<ptrdiff_t>((y + 1) * w),
                       bits_.begin() + static_cast<ptrdiff_t>((height_ - 1 - y) * w));
    }
    NeedUpdate = true;
  }
  OnChange(this);
}

void TvgBitmap::InvertAlpha() {
  NewPixelsId();
  for (uint32_t& p : bits_) {
    const TvgColor straight = vgUnpremultiplyAlpha(p);
    p = vgPremultiplyAlpha((straight & 0x00FFFFFFu) | (255u - (straight >> 24)) << 24);
  }
  NeedUpdate = true;
  OnChange(this);
}

void TvgBitmap::FillColor(TvgColor color) {
  NewPixelsId();
  for (uint32_t& p : bits_) {
    const uint32_t a = p >> 24;
    if (a > 0) p = vgPremultiplyAlpha(ScaleAlpha(color, a));
  }
  OnChange(this);
  NeedUpdate = true;
}

std::vector<uint8_t> TvgBitmap::CreateMask() const {
  std::vector<uint8_t> mask(bits_.size());
  for (size_t i = 0; i < bits_.size(); ++i) mask[i] = static_cast<uint8_t>(bits_[i] >> 24);
  return mask;
}

void TvgBitmap::ApplyMask(const std::vector<uint8_t>& mask, int32_t dx, int32_t dy) {
  if (mask.size() >= bits_.size()) {
    NewPixelsId();
    for (int32_t y = 0; y < height_; ++y) {
      for (int32_t x = 0; x < width_; ++x) {
        const int64_t mx = static_cast<int64_t>(x) - dx, my = static_cast<int64_t>(y) - dy;
        if (mx < 0 || mx > width_ - 1 || my < 0 || my > height_ - 1) continue;
        const uint8_t m = mask[static_cast<size_t>(mx + my * width_)];
        if (m == 0) continue;
        uint32_t& p = bits_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)];
        p = vgPremultiplyAlpha(ScaleAlpha(vgUnpremultiplyAlpha(p), 255u - m));
      }
    }
  }
  OnChange(this);
  NeedUpdate = true;
}

// --- Straight-alpha pixels

// The class library's bitmaps hold straight alpha, the scene premultiplied: pixels are converted
// at this boundary in both directions.
void TvgBitmap::AssignStraightPixels(int32_t width, int32_t height, const uint32_t* pixels, int32_t strideWords,
                                     bool transparent, uint32_t transparentRgb) {
  SetSize(width, height);
  if (!pixels || bits_.empty()) return;
  for (int32_t y = 0; y < height_; ++y) {
    const uint32_t* src = pixels + static_cast<ptrdiff_t>(y) * strideWords;
    uint32_t* dst = Scanline(y);
    for (int32_t x = 0; x < width_; ++x) {
      const uint32_t p = src[x];
      dst[x] = transparent && (p & 0x00FFFFFFu) == (transparentRgb & 0x00FFFFFFu) ? 0 : vgPremultiplyAlpha(p);
    }
  }
  NeedUpdate = true;
  OnChange(this);
}

void TvgBitmap::AssignRgbPixels(int32_t width, int32_t height, const uint8_t* rows, int32_t strideBytes,
                                bool transparent, uint32_t transparentRgb) {
  SetSize(width, height);
  if (!rows || bits_.empty()) return;
  for (int32_t y = 0; y < height_; ++y) {
    const uint8_t* src = rows + static_cast<ptrdiff_t>(y) * strideBytes;
    uint32_t* dst = Scanline(y);
    for (int32_t x = 0; x < width_; ++x) {
      const uint32_t rgb = static_cast<uint32_t>(src[3 * x + 2]) << 16 | static_cast<uint32_t>(src[3 * x + 1]) << 8 |
                           src[3 * x];
      dst[x] = transparent && rgb == (transparentRgb & 0x00FFFFFFu) ? 0 : 0xFF000000u | rgb;
    }
  }
  NeedUpdate = true;
  OnChange(this);
}

void TvgBitmap::CopyToStraightPixels(uint32_t* pixels, int32_t strideWords) const {
  if (!pixels) return;
  for (int32_t y = 0; y < height_; ++y) {
    uint32_t* dst = pixels + static_cast<ptrdiff_t>(y) * strideWords;
    const uint32_t* src = bits_.data() + static_cast<size_t>(y) * static_cast<size_t>(width_);
    for (int32_t x = 0; x < width_; ++x) dst[x] = vgUnpremultiplyAlpha(src[x]);
  }
}

// --- Canvas and resource link

TvgCanvas* TvgBitmap::GetCanvas() {
  if (!canvas_ && CanvasHooks().Create) canvas_ = CanvasHooks().Create(*this);
  return canvas_;
}

void TvgBitmap::LinkResource(TComponent* resource) {
  if (resource_ == resource) return;
  UnlinkResource();
  resource_ = resource;
  // A freed resource must not leave a dangling link behind.
  if (resource_) vgAddFreeNotify(resource_, this, [this] { resource_ = nullptr; });
}

void TvgBitmap::UnlinkResource() {
  if (resource_) vgRemoveFreeNotify(resource_, this);
  resource_ = nullptr;
}

TvgBitmap* TvgBitmap::GetBitmap() {
  if (!resource_ && !resourceName_.empty()) {
    TComponent* found = vgFindResourceObject(resourceName_);
    if (found && vgInheritsFromName(found, "TvgBitmapObject")) LinkResource(found);
  }
  if (!resource_) return nullptr;
  auto* bitmap = dynamic_cast<TvgBitmap*>(vgResourceProperty(resource_, "TvgBitmapObject", "Bitmap"));
  return bitmap == this ? nullptr : bitmap;
}

void TvgBitmap::SetResource(TComponent* resource) {
  if (resource_ == resource) return;
  LinkResource(resource);
  resourceName_ = vgGetResourceName(resource);
  OnChange(this);
}

void TvgBitmap::SetResourceName(const std::string& name) {
  if (resourceName_ == name) return;
  resourceName_ = name;
  UnlinkResource();  // the next GetBitmap looks the new name up
  OnChange(this);
}

// --- Files and streams

bool TvgBitmap::LoadFromFile(const std::string& fileName, float rotate) {
  if (!FileExists(fileName)) return false;
  auto filter = vgCreateDefaultFilter();
  if (!filter || !filter->LoadFromFile(fileName, *this, rotate)) return false;
  NewPixelsId();
  OnChange(this);
  return true;
}

bool TvgBitmap::SaveToFile(const std::string& fileName, const std::string& params) {
  auto filter = vgCreateDefaultFilter();
  return filter && filter->SaveToFile(fileName, *this, params);
}

bool TvgBitmap::LoadFromStream(TStream& stream) {
  auto filter = vgCreateDefaultFilter();
  if (!filter) return false;
  bool ok;
  if (stream.GetPosition() > 0) {
    // Codecs see the image at position 0.
    TMemoryStream rest;
    const int64_t remaining = stream.Remaining();
    if (remaining > 0) rest.CopyFrom(stream, remaining);
    rest.SetPosition(0);
    ok = filter->LoadFromStream(rest, *this);
  } else {
    ok = filter->LoadFromStream(stream, *this);
  }
  if (!ok) return false;
  NewPixelsId();
  OnChange(this);
  return true;
}

bool TvgBitmap::IsOpaque() const {
  return std::all_of(bits_.begin(), bits_.end(), [](uint32_t p) { return (p >> 24) == 0xFF; });
}

bool TvgBitmap::SaveToStream(TStream& stream) {
  auto filter = vgCreateDefaultFilter();
  if (!filter) return false;
  if (IsOpaque()) return filter->SaveToStream(stream, *this, "jpeg", "quality=100");
  return filter->SaveToStream(stream, *this, "png", std::string());
}

// --- Persistence

void TvgBitmap::Assign(TPersistent* source) {
  auto* other = AssignSource(this, source);
  if (other == nullptr) return;
  if (other->GetBitmap() == nullptr) {
    UnlinkResource();
    resourceName_.clear();
    // One notification for the whole copy. Pixels known to be the same already stay.
    const bool same = pixelsId_ != 0 && pixelsId_ == other->pixelsId_ && width_ == other->width_ &&
                      height_ == other->height_;
    {
      TvgNotifyDetach detached(OnChange);
      SetSize(other->width_, other->height_);
    }
    if (!same) {
      bits_ = other->bits_;
      pixelsId_ = other->pixelsId_;
    }
    NeedUpdate = true;
    OnChange(this);
  } else {
    LinkResource(other->resource_);
    resourceName_ = other->resourceName_;
    OnChange(this);
  }
}

void TvgBitmap::DefineProperties(TFiler& filer) {
  filer.DefineBinaryProperty(
      "PNG", [this](TStream& s) { LoadFromStream(s); }, [this](TStream& s) { SaveToStream(s); },
      static_cast<int64_t>(width_) * height_ >= 1);
}
