// The class library's JPEG picture: JPEG files (baseline, progressive, greyscale or colour) read
// and written through libjpeg, registered with the picture registry for the JPEG extensions.
#pragma once

#include <cstdint>
#include <vector>

#include "Graphics.h"

// A JPEG image: its compressed bytes and the bitmap they decode to. A loaded image keeps its
// bytes, so saving it unchanged writes the file back as it was; an image assigned from a bitmap
// is compressed when saved. Not thread-safe.
class TJPEGImage : public TGraphic {
  KBL_DECLARE_CLASS(TJPEGImage, TGraphic)
 public:
  TJPEGImage() = default;

  int32_t GetWidth() const override { return bitmap_.GetWidth(); }
  int32_t GetHeight() const override { return bitmap_.GetHeight(); }

  // Reads a JPEG image from the stream's position to its end. Data that is not JPEG raises
  // EInvalidGraphic ("JPEG error #<n>: <libjpeg's message>"), an image beyond the bitmap's limits
  // EInvalidGraphic ("Bitmap image is too large"); the image held before stays on failure. Data
  // that ends early decodes as far as it goes, the rest grey.
  void LoadFromStream(TStream& stream) override;
  // Writes the loaded bytes, or the bitmap compressed at CompressionQuality (greyscale when it is
  // 8-bit with a grey palette). An empty image raises EInvalidGraphic ("JPEG image is empty").
  void SaveToStream(TStream& stream) override;

  // Takes a TJPEGImage or a TBitmap (compressed when saved); other sources raise EConvertError.
  void Assign(TPersistent* source) override;

  // The decoded pixels: 24-bit, or 8-bit with a grey palette for a greyscale image.
  const TBitmap& GetBitmap() const { return bitmap_; }
  // Whether the image has one grey channel.
  bool GetGrayscale() const { return grayscale_; }

  // The quality (1 to 100, clamped) a bitmap is compressed at; 90 by default.
  int32_t GetCompressionQuality() const { return quality_; }
  void SetCompressionQuality(int32_t value);

 protected:
  // Copies the decoded pixels into a TBitmap.
  void AssignTo(TPersistent* dest) override;

 private:
  void Compress();
  TBitmap bitmap_;
  std::vector<uint8_t> data_;  // the compressed image; empty until loaded or compressed
  bool grayscale_ = false;
  int32_t quality_ = 90;
};
