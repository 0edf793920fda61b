// Readers of TIFF images and of the TIFF preview inside binary encapsulated PostScript files.
#pragma once

#include <vector>

#include "GraphicFormats.h"

// Reads the first image of a TIFF file (either byte order) stored in strips: uncompressed,
// PackBits, one-dimensional fax codes, deflate, JPEG (colour, YCbCr or grey, through libjpeg) or
// ThunderScan, with the horizontal predictor for 8-bit samples. A tiled image loads as an empty
// picture. Writes nothing. Offsets and counts from the file are checked against the file before
// anything is read or allocated.
class TTIFFGraphic : public TFormatGraphic {
  KBL_DECLARE_CLASS(TTIFFGraphic, TFormatGraphic)
 public:
  // One directory entry in host byte order; Offset holds the values themselves when they fit in
  // four bytes (lowest bytes first), else their offset from the start of the TIFF data.
  struct TIFDEntry {
    uint16_t Tag = 0;
    uint16_t DataType = 0;
    uint32_t DataLength = 0;
    uint32_t Offset = 0;
  };

  TTIFFGraphic() = default;
  bool TestSignature(TStream& stream) override;
  // Parses the header and directory `imageIndex` from the stream's position (the start of the
  // TIFF data); false for a bad version, a missing directory or a zero size.
  bool ReadImageInfo(TStream& stream, int32_t imageIndex) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream&) override {}

  // --- Tags of the directory last read (sorted by tag)
  bool FindTag(uint16_t tag, size_t& index) const;
  uint32_t GetValue(uint16_t tag, uint32_t defaultValue) const;
  uint32_t GetValue(uint16_t tag, uint32_t& count, uint32_t defaultValue) const;
  float GetFloatValue(uint16_t tag, float defaultValue);
  // Every value of a tag; empty when missing. Values outside the file raise EReadError.
  void GetValueList(uint16_t tag, std::vector<uint8_t>& values);
  void GetValueList(uint16_t tag, std::vector<uint32_t>& values);
  void GetValueList(uint16_t tag, std::vector<float>& values);

  const std::vector<TIFDEntry>& IFD() const { return ifd_; }

 protected:
  // Loads the TIFF data that starts at the stream's position.
  void LoadTIFF(TStream& stream);

 private:
  bool BigEndian() const { return (imageProperties_.Options & ifBigEndian) != 0; }
  uint16_t FileWord(const uint8_t* p) const { return BigEndian() ? ReadBE16(p) : ReadLE16(p); }
  uint32_t FileLong(const uint8_t* p) const { return BigEndian() ? ReadBE32(p) : ReadLE32(p); }
  // Reads the directory at `offset` into ifd_ (converted and sorted).
  void ReadDirectory(uint32_t offset);
  // Reads `count` bytes at `offset` from the start of the TIFF data.
  std::vector<uint8_t> ReadAt(uint32_t offset, uint64_t count);

  TStream* stream_ = nullptr;
  std::vector<TIFDEntry> ifd_;
  uint16_t colorMap_[768] = {};
  uint32_t YCbCrPositioning = 1;
  std::vector<float> YCbCrCoefficients;
};

// Reads the TIFF preview of a binary encapsulated PostScript file (the PostScript itself is not
// interpreted). Writes nothing.
class TEPSGraphic : public TTIFFGraphic {
  KBL_DECLARE_CLASS(TEPSGraphic, TTIFFGraphic)
 public:
  TEPSGraphic() = default;
  bool TestSignature(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;
};
