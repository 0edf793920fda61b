// Reader of ZSoft Paintbrush (PCX) images.
#pragma once

#include "GraphicFormats.h"

// Reads 1-bit, 2-bit, 16-colour planar, 256-colour and 24-bit planar PCX files, raw or
// run-length encoded.
class TPCXGraphic : public TFormatGraphic {
  KBL_DECLARE_CLASS(TPCXGraphic, TFormatGraphic)
 public:
  TPCXGraphic() = default;
  bool TestSignature(TStream& stream) override;
  bool ReadImageInfo(TStream& stream, int32_t imageIndex) override;
  void LoadFromStream(TStream& stream) override;
};
