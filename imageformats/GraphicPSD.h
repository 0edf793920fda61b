// Reader of Photoshop (PSD, PDD) images: the merged image of the file.
#pragma once

#include "GraphicFormats.h"

// Reads the composite image of bitmap, grey, duotone, indexed, RGB, multichannel, CMYK and Lab
// files with 1, 8 or 16 bits per channel, raw or PackBits-compressed. Layers are skipped.
// Files whose channels cannot make up their colour mode fail with "Invalid color format in PSD
// or PDD file.".
class TPSDGraphic : public TFormatGraphic {
  KBL_DECLARE_CLASS(TPSDGraphic, TFormatGraphic)
 public:
  TPSDGraphic() = default;
  bool TestSignature(TStream& stream) override;
  // Parses the header and skips the three sections up to the compression word.
  bool ReadImageInfo(TStream& stream, int32_t imageIndex) override;
  void LoadFromStream(TStream& stream) override;
};
