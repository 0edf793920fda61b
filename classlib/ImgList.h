// Image lists: numbered images of one size, as actions and buttons name them by index.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Classes.h"
#include "Graphics.h"

// Images of Width x Height pixels, kept as 32-bit bitmaps with alpha. A wider image added is cut
// into as many images as fit side by side; a smaller one is placed at the top-left of a cleared
// image. Changing the size clears the list.
class TCustomImageList : public TComponent {
  KBL_DECLARE_CLASS(TCustomImageList, TComponent)
 public:
  explicit TCustomImageList(TComponent* owner);
  ~TCustomImageList() override;

  int32_t GetWidth() const { return width_; }
  int32_t GetHeight() const { return height_; }
  // Sizes below 1 count as 1.
  void SetWidth(int32_t value);
  void SetHeight(int32_t value);
  int32_t GetCount() const { return static_cast<int32_t>(images_.size()); }
  // Answers the index of the first image added; -1 for nullptr or an empty bitmap.
  int32_t Add(const TBitmap* image);
  // Raises EListError ("List index out of bounds (<index>)") for a bad index.
  void Delete(int32_t index);
  void Clear();
  // Copies image `index` into `bitmap` (32 bits, the list's size); false for a bad index or
  // nullptr.
  bool GetBitmap(int32_t index, TBitmap* bitmap) const;

  TNotifyEvent OnChange;

 private:
  void Changed() { OnChange(this); }
  int32_t width_ = 16;
  int32_t height_ = 16;
  std::vector<std::unique_ptr<TBitmap>> images_;
};

class TImageList : public TCustomImageList {
  KBL_DECLARE_CLASS(TImageList, TCustomImageList)
 public:
  explicit TImageList(TComponent* owner) : TCustomImageList(owner) {}
};
