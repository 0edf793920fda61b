// Reader of Portable Network Graphics files.
#pragma once

#include <memory>

#include "GraphicCompression.h"
#include "GraphicFormats.h"

// Reads PNG files of every colour type and depth, with CRC checks, the palette, gamma,
// background and transparency chunks, the five row filters and Adam7 interlacing. Writes nothing
// of its own (saving writes a Windows bitmap).
class TPNGGraphic : public TFormatGraphic {
  KBL_DECLARE_CLASS(TPNGGraphic, TFormatGraphic)
 public:
  TPNGGraphic() = default;
  bool TestSignature(TStream& stream) override;
  bool ReadImageInfo(TStream& stream, int32_t imageIndex) override;
  void LoadFromStream(TStream& stream) override;

 private:
  void ReadChunkHeader();
  void LoadChunk();
  void SkipChunk();
  bool IsChunk(const char* type) const;
  uint8_t SetupColorDepth();
  void LoadIDAT();
  // Inflates n bytes of image data; false when the image data ended first.
  bool ReadImageData(uint8_t* target, int32_t n);
  void ApplyFilter(uint8_t filter, uint8_t* row, const uint8_t* previous, int32_t size);

  TStream* stream_ = nullptr;
  std::unique_ptr<TLZ77Decoder> decoder_;
  std::vector<uint8_t> chunkData_;
  size_t chunkCursor_ = 0;
  uint32_t imageDataLength_ = 0;
  uint32_t chunkLength_ = 0;
  uint8_t chunkType_[4] = {};
  uint32_t runningCRC_ = 0;
  uint8_t filterStride_ = 1;
  TPaletteEntries pngPalette_;
  TColor transparentColor_ = 0x1FFFFFFF;
  TColor backgroundColor_ = 0xFFFFFF;
  bool formatSet_ = false;
  uint8_t colorType_ = 0;
  uint8_t bitDepth_ = 0;
};
