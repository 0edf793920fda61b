// Image lists kept as 32-bit bitmaps.
#include "ImgList.h"

#include <algorithm>
#include <cstring>

KBL_PUBLISHED(TCustomImageList) {
  KBL_PROP(Width).Default(16);
  KBL_PROP(Height).Default(16);
}
KBL_PUBLISHED(TImageList) {}

namespace {

// The pixel as 0xAARRGGBB: 32-bit pixels as stored (a pfDevice bitmap is held as 32 bits too),
// others opaque through their colour.
uint32_t PixelOf(const TBitmap& b, int32_t x, int32_t y) {
  const TPixelFormat f = b.GetPixelFormat();
  if (f == pf32bit || f == pfDevice) {
    uint32_t v;
    std::memcpy(&v, b.ScanLine(y) + static_cast<size_t>(x) * 4, 4);
    return v;
  }
  const TColor c = b.GetPixelColor(x, y);
  return 0xFF000000u | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

}  // namespace

TCustomImageList::TCustomImageList(TComponent* owner) : TComponent(owner) {}

TCustomImageList::~TCustomImageList() = default;

void TCustomImageList::SetWidth(int32_t value) {
  value = std::max(value, 1);
  if (value == width_) return;
  width_ = value;
  Clear();
}

void TCustomImageList::SetHeight(int32_t value) {
  value = std::max(value, 1);
  if (value == height_) return;
  height_ = value;
  Clear();
}

int32_t TCustomImageList::Add(const TBitmap* image) {
  if (image == nullptr || image->GetWidth() <= 0 || image->GetHeight() <= 0) return -1;
  const int32_t first = GetCount();
  const int32_t pieces = std::max(image->GetWidth() / width_, 1);
  for (int32_t piece = 0; piece < pieces; ++piece) {
    auto cut = std::make_unique<TBitmap>();
    cut->SetPixelFormat(pf32bit);
    cut->SetSize(width_, height_);
    const int32_t w = std::min(width_, image->GetWidth() - piece * width_);
    const int32_t h = std::min(height_, image->GetHeight());
    for (int32_t y = 0; y < h; ++y) {
      uint8_t* row = cut->ScanLine(y);
      for (int32_t x = 0; x < w; ++x) {
        const uint32_t v = PixelOf(*image, piece * width_ + x, y);
        std::memcpy(row + static_cast<size_t>(x) * 4, &v, 4);
      }
    }
    images_.push_back(std::move(cut));
  }
  Changed();
  return first;
}

void TCustomImageList::Delete(int32_t index) {
  if (index < 0 || index >= GetCount()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
  images_.erase(images_.begin() + index);
  Changed();
}

void TCustomImageList::Clear() {
  if (images_.empty()) return;
  images_.clear();
  Changed();
}

bool TCustomImageList::GetBitmap(int32_t index, TBitmap* bitmap) const {
  if (bitmap == nullptr || index < 0 || index >= GetCount()) return false;
  bitmap->Assign(images_[static_cast<size_t>(index)].get());
  return true;
}
