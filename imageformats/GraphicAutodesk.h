// Reader of Autodesk Animator cel and picture files.
#pragma once

#include "GraphicFormats.h"

// Reads 8-bit Autodesk Animator images with their 6-bit VGA palette (scaled by 4).
class TAutodeskGraphic : public TFormatGraphic {
  KBL_DECLARE_CLASS(TAutodeskGraphic, TFormatGraphic)
 public:
  TAutodeskGraphic() = default;
  bool TestSignature(TStream& stream) override;
  bool ReadImageInfo(TStream& stream, int32_t imageIndex) override;
  void LoadFromStream(TStream& stream) override;
};
