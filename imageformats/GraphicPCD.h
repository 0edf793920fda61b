// Reader of Kodak Photo-CD images: the 768 x 512 base image.
#pragma once

#include <cstdint>
#include <vector>

#include "GraphicFormats.h"

// Reads the base image of an image pack or overview file: full-size luminance, half-size chroma
// interpolated to full size, PhotoYCC converted to 24-bit pixels, the file's rotation applied.
// Writes nothing of its own.
class TPCDGraphic : public TFormatGraphic {
  KBL_DECLARE_CLASS(TPCDGraphic, TFormatGraphic)
 public:
  TPCDGraphic() = default;
  bool TestSignature(TStream& stream) override;
  // `imageIndex` picks the resolution (0 to 5, clamped; index 2 is the base image) whose size
  // the properties report; an overview file always reports index 0.
  bool ReadImageInfo(TStream& stream, int32_t imageIndex) override;
  // Always loads the base image.
  void LoadFromStream(TStream& stream) override;
};

// Doubles a plane of `width` x `height` samples held at the top-left of a buffer whose rows are
// `stride` bytes apart, in place, to 2 * width x 2 * height: new samples between two old ones
// are their rounded mean, those between four old ones the rounded mean of the four, and the last
// column and row repeat their neighbours.
void DoublePlane(uint8_t* plane, int32_t width, int32_t height, int32_t stride);
