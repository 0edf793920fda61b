// The GDI+ image codec.
#include "vg_filter_gdiplus.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "classlib/SysUtils.h"
#include "vg_canvas.h"
#include "vg_gdiplus.h"
#include "vg_streamadapter.h"
#include "vg_tokens.h"

KBL_PUBLISHED(TvgFilterGdiPlus) {}

using namespace vg_gdip;

namespace {

constexpr uint16_t kOpenShared = fmOpenRead | fmShareDenyNone;
constexpr GpGuid kEncoderQuality = {0x1d5be4b5, 0xfa4a, 0x452d, {0x9c, 0xdd, 0x5d, 0xb3, 0x51, 0x05, 0xe7, 0xeb}};
constexpr uint32_t kEncoderValueLong = 4;
constexpr uint32_t kLockRead = 1;

// An IStream over a class-library stream, released when this goes.
class TAdapterRef {
 public:
  explicit TAdapterRef(TStream& stream) : adapter_(new TMyStreamAdapter(&stream, soReference)) { adapter_->AddRef(); }
  ~TAdapterRef() { adapter_->Release(); }
  TAdapterRef(const TAdapterRef&) = delete;
  TAdapterRef& operator=(const TAdapterRef&) = delete;
  IStream* get() const { return adapter_; }

 private:
  TMyStreamAdapter* adapter_;
};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string MimeOfFormat(const std::string& format) {
  const std::string f = Lower(format);
  if (f == "jpeg" || f == "jpg") return "image/jpeg";
  if (f == "bmp") return "image/bmp";
  if (f == "tif" || f == "tiff") return "image/tiff";
  if (f == "gif") return "image/gif";
  return "image/png";
}

std::string MimeOfFileName(const std::string& fileName) {
  const size_t dot = fileName.find_last_of('.');
  const size_t slash = fileName.find_last_of("\\/");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
  const std::string ext = Lower(fileName.substr(dot));
  if (ext == ".jpg" || ext == ".jpeg") return "image/jpeg";
  if (ext == ".bmp") return "image/bmp";
  if (ext == ".png") return "image/png";
  if (ext == ".tif" || ext == ".tiff") return "image/tiff";
  if (ext == ".gif") return "image/gif";
  return std::string();
}

// The encoder parameter block for the parameter text: one entry per understood item. Items GDI+
// has no meaning for are left out, as an empty entry would make the encoder refuse the save.
class TEncoderParams {
 public:
  explicit TEncoderParams(const std::string& params) : values_(vgFilterQualities(params)) {
    if (values_.empty()) return;
    block_.resize(sizeof(uint32_t) + 4 + values_.size() * sizeof(GpEncoderParameter));
    // Count, then the entries at the platform's alignment of the record (4 bytes in 32-bit
    // processes, 8 in 64-bit ones).
    const uint32_t count = static_cast<uint32_t>(values_.size());
    std::memcpy(block_.data(), &count, sizeof(count));
    const size_t offset = alignof(GpEncoderParameter) > 4 ? 8 : 4;
    for (size_t i = 0; i < values_.size(); ++i) {
      GpEncoderParameter p = {kEncoderQuality, 1, kEncoderValueLong, &values_[i]};
      std::memcpy(block_.data() + offset + i * sizeof(GpEncoderParameter), &p, sizeof(p));
    }
  }
  const void* get() const { return block_.empty() ? nullptr : block_.data(); }

 private:
  std::vector<int32_t> values_;
  std::vector<uint8_t> block_;
};

// A GDI+ bitmap over the TvgBitmap's own pixels (premultiplied), or nullptr.
std::unique_ptr<TGPBitmap> BitmapOver(TvgBitmap& bitmap) {
  if (bitmap.IsEmpty()) return nullptr;
  std::unique_ptr<TGPBitmap> gp(new TGPBitmap(bitmap.GetWidth(), bitmap.GetHeight(), 4 * bitmap.GetWidth(),
                                              PixelFormat32bppPARGB, vgGetBitmapScanline(bitmap, 0)));
  if (!gp->Handle()) return nullptr;
  return gp;
}

// Sizes the bitmap and starts it transparent: a decode must not blend into what was there.
void Prepare(TvgBitmap& bitmap, int32_t width, int32_t height) {
  bitmap.SetSize(width, height);
  if (uint32_t* bits = bitmap.Bits()) std::fill(bits, bits + size_t(width) * size_t(height), 0u);
}

std::unique_ptr<TGPImage> LoadImage(IStream* stream) {
  std::unique_ptr<TGPImage> image(new TGPImage(stream, true));
  if (!image->Handle()) return nullptr;
  return image;
}

}  // namespace

std::string TvgFilterGdiPlus::GetFileTypes() { return "*.bmp;*.jpg;*.jpeg;*.png;*.tif;*.tiff;*.gif;*.ico"; }

TvgPoint TvgFilterGdiPlus::GetImageSize(const std::string& fileName) {
  TFileStream file(fileName, kOpenShared);
  TAdapterRef adapter(file);
  auto image = LoadImage(adapter.get());
  if (!image) return TvgPoint();
  return {static_cast<float>(image->GetWidth()), static_cast<float>(image->GetHeight())};
}

bool TvgFilterGdiPlus::LoadFromStream(TStream& stream, TvgBitmap& bitmap) {
  TAdapterRef adapter(stream);
  auto image = LoadImage(adapter.get());
  if (!image) return false;
  const int32_t w = static_cast<int32_t>(image->GetWidth()), h = static_cast<int32_t>(image->GetHeight());
  if (static_cast<int64_t>(w) * h == 0) return false;
  Prepare(bitmap, w, h);
  auto target = BitmapOver(bitmap);
  if (!target) return false;
  {
    TGPGraphics graphics(static_cast<TGPImage*>(target.get()));
    graphics.DrawImage(image.get(), 0, 0, w, h);
  }
  bitmap.NeedUpdate = true;
  return true;
}

bool TvgFilterGdiPlus::LoadFromFile(const std::string& fileName, TvgBitmap& bitmap, float rotate) {
  TFileStream file(fileName, kOpenShared);
  TAdapterRef adapter(file);
  auto image = LoadImage(adapter.get());
  if (!image) return false;
  const int32_t w = static_cast<int32_t>(image->GetWidth()), h = static_cast<int32_t>(image->GetHeight());
  if (static_cast<int64_t>(w) * h == 0) return false;
  const float whole = std::trunc(rotate);
  const int64_t degrees = Trunc(rotate);
  if (rotate == whole && degrees % 90 == 0) {
    const int64_t turn = degrees % 360;
    if (turn == 90 || turn == 270)
      Prepare(bitmap, h, w);
    else
      Prepare(bitmap, w, h);
    file.SetPosition(0);
    std::unique_ptr<TGPBitmap> decoded(new TGPBitmap(adapter.get(), true, 0));
    if (!decoded->Handle()) return true;
    if (turn == 90) decoded->RotateFlip(1);
    if (turn == 180) decoded->RotateFlip(2);
    if (turn == 270) decoded->RotateFlip(3);
    GpBitmapData data = {};
    const GpRect all = {0, 0, bitmap.GetWidth(), bitmap.GetHeight()};
    if (decoded->LockBits(all, kLockRead, PixelFormat32bppPARGB, data) == Ok) {
      for (int32_t y = 0; y < bitmap.GetHeight() && data.Scan0; ++y) {
        const auto* src = static_cast<const uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride;
        std::memcpy(bitmap.Scanline(y), src, 4 * size_t(bitmap.GetWidth()));
      }
      decoded->UnlockBits(data);
    }
    bitmap.NeedUpdate = true;
    return true;
  }
  // Any other angle: rotate about the image's centre into the bounding box of its corners.
  const TvgMatrix toCentre = {1, 0, 0, 0, 1, 0, -w / 2.0f, -h / 2.0f, 1};
  TvgMatrix m = vgMatrixMultiply(toCentre, vgCreateRotationMatrix(vgDegToRad(rotate)));
  const TvgPoint corners[] = {{0, 0}, {float(w), 0}, {float(w), float(h)}, {0, float(h)}};
  TvgPolygon turned;
  for (const TvgPoint& c : corners) turned.push_back(vgPointFromVector(vgVectorTransform(vgVectorFromPoint(c), m)));
  const TvgRect box = vgPolygonBounds(turned);
  const TvgMatrix toBox = {1, 0, 0, 0, 1, 0, vgRectWidth(box) / 2, vgRectHeight(box) / 2, 1};
  m = vgMatrixMultiply(m, toBox);
  Prepare(bitmap, static_cast<int32_t>(Trunc(vgRectWidth(box))), static_cast<int32_t>(Trunc(vgRectHeight(box))));
  auto target = BitmapOver(bitmap);
  if (target) {
    TGPGraphics graphics(static_cast<TGPImage*>(target.get()));
    TGPMatrix gm(m.m11, m.m12, m.m21, m.m22, m.m31, m.m32);
    graphics.SetTransform(&gm);
    graphics.DrawImage(image.get(), 0.0f, 0.0f, float(w), float(h));
  }
  bitmap.NeedUpdate = true;
  return true;
}

bool TvgFilterGdiPlus::LoadThumbnailFromFile(const std::string& fileName, bool useEmbedded, float fitWidth,
                                             float fitHeight, TvgBitmap& bitmap) {
  TFileStream file(fileName, kOpenShared);
  TAdapterRef adapter(file);
  auto image = LoadImage(adapter.get());
  if (!image) return false;
  const uint32_t w = image->GetWidth(), h = image->GetHeight();
  if (static_cast<uint64_t>(w) * h == 0) return false;
  TvgRect r = vgRect(0, 0, float(w), float(h));
  // A small image is not enlarged: its fitted rect keeps its size, so its ratio is 1 as well.
  const float q = std::max(vgFitRect(r, vgRect(0, 0, fitWidth, fitHeight)), 1.0f);
  if (!useEmbedded) {
    Prepare(bitmap, static_cast<int32_t>(Trunc(vgRectWidth(r))), static_cast<int32_t>(Trunc(vgRectHeight(r))));
    auto target = BitmapOver(bitmap);
    if (target) {
      target->SetResolution(image->GetHorizontalResolution() / q, image->GetVerticalResolution() / q);
      TGPGraphics graphics(static_cast<TGPImage*>(target.get()));
      graphics.DrawImage(image.get(), 0, 0);
    }
    bitmap.NeedUpdate = true;
    return true;
  }
  std::unique_ptr<TGPImage> thumb(image->GetThumbnailImage(static_cast<uint32_t>(Trunc(w / q)),
                                                           static_cast<uint32_t>(Trunc(h / q))));
  if (thumb) {
    const int32_t tw = static_cast<int32_t>(thumb->GetWidth()), th = static_cast<int32_t>(thumb->GetHeight());
    Prepare(bitmap, tw, th);
    auto target = BitmapOver(bitmap);
    if (target) {
      TGPGraphics graphics(static_cast<TGPImage*>(target.get()));
      graphics.DrawImage(thumb.get(), 0, 0, tw, th);
    }
    bitmap.NeedUpdate = true;
  }
  return true;
}

bool TvgFilterGdiPlus::SaveToStream(TStream& stream, TvgBitmap& bitmap, const std::string& format,
                                    const std::string& params) {
  GpGuid clsid = {};
  if (GetEncoderClsid(MimeOfFormat(format), clsid) < 0) return false;
  auto source = BitmapOver(bitmap);
  if (!source) return false;
  TAdapterRef adapter(stream);
  const TEncoderParams encoderParams(params);
  return source->Save(static_cast<void*>(adapter.get()), clsid, encoderParams.get()) == Ok;
}

bool TvgFilterGdiPlus::SaveToFile(const std::string& fileName, TvgBitmap& bitmap, const std::string& params) {
  const std::string mime = MimeOfFileName(fileName);
  if (mime.empty()) return false;
  GpGuid clsid = {};
  if (GetEncoderClsid(mime, clsid) < 0) return false;
  auto source = BitmapOver(bitmap);
  if (!source) return false;
  const TEncoderParams encoderParams(params);
  return source->Save(Utf8ToWide(fileName), clsid, encoderParams.get()) == Ok;
}
