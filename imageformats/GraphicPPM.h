// Reader of the portable bitmap, graymap and pixmap formats (P1 to P6).
#pragma once

#include "GraphicFormats.h"

// Reads text and binary portable maps with "#" comments into 1-, 8- and 24-bit bitmaps; samples
// are taken as 0..255 whatever the maximum value says.
class TPPMGraphic : public TFormatGraphic {
  KBL_DECLARE_CLASS(TPPMGraphic, TFormatGraphic)
 public:
  TPPMGraphic() = default;
  bool TestSignature(TStream& stream) override;
  bool ReadImageInfo(TStream& stream, int32_t imageIndex) override;
  void LoadFromStream(TStream& stream) override;

 private:
  uint8_t GetChar();
  uint8_t PeekChar();
  std::string GetLine();
  uint32_t GetNumber();

  TStream* stream_ = nullptr;
  uint8_t buffer_[4096] = {};
  int32_t index_ = 4096;
  int32_t filled_ = 4096;
  char type_ = 0;
};
