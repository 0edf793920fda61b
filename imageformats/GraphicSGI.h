// Reader of SGI image files.
#pragma once

#include "GraphicFormats.h"

// Reads grey, RGB and RGBA SGI images, raw or run-length encoded, 1 or 2 bytes per channel.
// Channels are planes and rows are stored bottom-up.
class TSGIGraphic : public TFormatGraphic {
  KBL_DECLARE_CLASS(TSGIGraphic, TFormatGraphic)
 public:
  TSGIGraphic() = default;
  bool TestSignature(TStream& stream) override;
  bool ReadImageInfo(TStream& stream, int32_t imageIndex) override;
  void LoadFromStream(TStream& stream) override;

 private:
  std::vector<uint32_t> rowStart_;
  std::vector<uint32_t> rowSize_;
};
