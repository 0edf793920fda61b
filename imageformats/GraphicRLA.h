// Reader of Wavefront/Alias RLA images.
#pragma once

#include "GraphicFormats.h"

// Reads RGB RLA images (with or without matte) of 8 or 16 bits per channel, rows of run-length
// channels reached through the row offset table, with the file's gamma applied. Files in the
// "xyz" channel space are recognised but fail with "Invalid color format in RLA file.".
class TRLAGraphic : public TFormatGraphic {
  KBL_DECLARE_CLASS(TRLAGraphic, TFormatGraphic)
 public:
  TRLAGraphic() = default;
  bool TestSignature(TStream& stream) override;
  bool ReadImageInfo(TStream& stream, int32_t imageIndex) override;
  void LoadFromStream(TStream& stream) override;
};
