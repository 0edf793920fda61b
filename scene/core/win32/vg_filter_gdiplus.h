// TvgFilterGdiPlus: the image codec of the scene, decoding files and streams into premultiplied
// TvgBitmaps and encoding them as BMP, JPEG, PNG, TIFF or GIF through GDI+. GDI+ must be started;
// otherwise every load answers false and nothing is written. Only opening a missing file raises.
#pragma once

#include <string>

#include "vg_bitmap.h"

class TvgFilterGdiPlus : public TvgFilter {
  KBL_DECLARE_CLASS(TvgFilterGdiPlus, TvgFilter)
 public:
  TvgFilterGdiPlus() = default;

  // "*.bmp;*.jpg;*.jpeg;*.png;*.tif;*.tiff;*.gif;*.ico"
  std::string GetFileTypes() override;
  // (0, 0) when the file holds no image.
  TvgPoint GetImageSize(const std::string& fileName) override;
  // Multiples of 90 degrees rotate exactly (90 and 270 swap width and height); other angles
  // grow the bitmap to the rotated image's bounding box.
  bool LoadFromFile(const std::string& fileName, TvgBitmap& bitmap, float rotate) override;
  // Fits the image into fitWidth x fitHeight keeping its aspect (never enlarging); with
  // `useEmbedded` GDI+'s thumbnail is taken.
  bool LoadThumbnailFromFile(const std::string& fileName, bool useEmbedded, float fitWidth, float fitHeight,
                             TvgBitmap& bitmap) override;
  // The format follows the extension (.jpg/.jpeg, .bmp, .png, .tif/.tiff, .gif); any other
  // writes nothing and answers false. `params` as for SaveToStream.
  bool SaveToFile(const std::string& fileName, TvgBitmap& bitmap, const std::string& params) override;
  // From the stream's position; false (bitmap unchanged) when it holds no image.
  bool LoadFromStream(TStream& stream, TvgBitmap& bitmap) override;
  // `format` "jpeg"/"jpg", "bmp", "tif"/"tiff", "gif", anything else PNG (case ignored).
  // `params`: blank-separated "name=value" items; "quality=<0..100>" is understood.
  bool SaveToStream(TStream& stream, TvgBitmap& bitmap, const std::string& format,
                    const std::string& params) override;
};
