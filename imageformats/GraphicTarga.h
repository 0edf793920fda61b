// Reader and writer of Truevision Targa images.
#pragma once

#include "GraphicFormats.h"

// Reads uncompressed and run-length encoded Targa files (colour-mapped, true-colour and grey, 8
// to 32 bits per pixel); saving writes a run-length encoded Targa file.
class TTargaGraphic : public TFormatGraphic {
  KBL_DECLARE_CLASS(TTargaGraphic, TFormatGraphic)
 public:
  TTargaGraphic() = default;
  bool TestSignature(TStream& stream) override;
  bool ReadImageInfo(TStream& stream, int32_t imageIndex) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override { SaveToStream(stream, true); }
  // Writes the picture; 1- and 4-bit pictures are converted to 8 bits first. An empty picture
  // writes nothing.
  void SaveToStream(TStream& stream, bool compressed);
};
