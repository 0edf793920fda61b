// Reader of Paint Shop Pro image files: the first suitable raster layer.
#pragma once

#include "GraphicFormats.h"

// Reads files of major version 3 and later: the palette block and the channels of the first
// raster layer, uncompressed, run-length or deflate compressed. JPEG-compressed files fail with
// "Cannot load image. The compression scheme is not supported for PSP files.". Every block and
// channel is checked against the file and the image size before anything is allocated.
class TPSPGraphic : public TFormatGraphic {
  KBL_DECLARE_CLASS(TPSPGraphic, TFormatGraphic)
 public:
  TPSPGraphic() = default;
  bool TestSignature(TStream& stream) override;
  // Parses the file header and the general image attributes block.
  bool ReadImageInfo(TStream& stream, int32_t imageIndex) override;
  void LoadFromStream(TStream& stream) override;

 private:
  struct TBlock {
    uint16_t ID = 0;
    int64_t Start = 0;  // stream position of the block's data
    int64_t End = 0;    // Start + total length
  };
  // Reads a block header; false when none can be read or its signature does not begin with "~".
  bool ReadBlockHeader(TStream& stream, TBlock& block);
  // Skips the 32-bit chunk size that starts the data of blocks from version 4 on; answers the
  // stream position where the chunk ends (the current position for version 3).
  int64_t SkipChunkSize(TStream& stream, const TBlock& block);
  void ReadAttributes(TStream& stream, const TBlock& block);
  void ReadLayer(TStream& stream, const TBlock& layerStart);

  uint8_t grayScale_ = 0;
};
