// Base class of the image library's readers: a bitmap with a colour manager, the image
// properties record, the load protocol's progress reports and small byte-order routines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "GraphicColor.h"
#include "classlib/Graphics.h"
#include "classlib/Streams.h"

enum TImageCompression : uint8_t {
  icUnknown, icNone, icRLE, icPackBits, icLZW, icFax3, icFaxMH, icFax4, icFaxMHWord, icDeflate,
  icJPEG, icOldJPEG, icThunderScan, icNeXT, icIT8CTPAD, icIT8LW, icIT8MP, icIT8BL, icPixarFilm,
  icPixarLog, icDCS, icJBIG, icPhotoCDHuffman,
};

// Bits of TImageProperties::Options.
enum TImageOption : uint8_t {
  ifTiled = 1,
  ifBigEndian = 2,
  ifMinIsWhite = 4,
  ifReversed = 8,
  ifUseGamma = 16,
};

// What a reader learns from a file's header without decoding pixels.
struct TImageProperties {
  uint32_t Version = 0;
  uint8_t Options = 0;
  uint32_t Width = 0;
  uint32_t Height = 0;
  TPixelScheme ColorScheme = psUnknown;
  uint8_t BitsPerSample = 0;
  uint8_t SamplesPerPixel = 0;
  uint8_t BitsPerPixel = 0;
  TImageCompression Compression = icUnknown;
  float FileGamma = 0;
  float XResolution = 0;
  float YResolution = 0;
  bool Interlaced = false;
  bool HasAlpha = false;
  uint32_t FirstDirectory = 0;
  uint32_t PlanarConfig = 0;
  uint32_t RowIndex = 0;
  uint32_t TileWidth = 0;
  uint32_t TileLength = 0;
  uint32_t BytesPerLine = 0;
  std::vector<uint32_t> RowsPerStrip;
  std::vector<uint8_t> YCbCrSubSampling;
  std::vector<uint8_t> JPEGTables;
  uint32_t JPEGColorMode = 0;
  uint32_t JPEGTablesMode = 0;
  uint32_t StripIndex = 0;
  uint32_t StripCount = 0;
  uint32_t Predictor = 0;
  bool IsOverviewFile = false;
  uint8_t Rotation = 0;
  uint16_t ImageCount = 0;
  bool BottomUp = false;
  uint8_t Channels = 0;
  uint8_t FilterMethod = 0;
};

// A bitmap that reads one image file format. Descendants implement the signature test, the
// header parse (ReadImageInfo) and LoadFromStream. Failures raise EInvalidGraphic; the bitmap
// keeps the rows delivered before a failure.
class TFormatGraphic : public TBitmap {
  KBL_DECLARE_CLASS(TFormatGraphic, TBitmap)
 public:
  TFormatGraphic() = default;

  // Opens the file (deny write) and tests its signature; false when it cannot be opened.
  virtual bool TestSignatureFile(const std::string& fileName);
  // The reader's signature test; leaves the stream position where it found it. The base: false.
  virtual bool TestSignature(TStream& stream);
  // Clears the properties (FileGamma 1.0) and answers false; readers call this first, then parse
  // their header from the stream's position and answer whether it is acceptable.
  virtual bool ReadImageInfo(TStream& stream, int32_t imageIndex);

  void Assign(TPersistent* source) override;

  TColorManager& ColorManager() { return colorManager_; }
  const TImageProperties& ImageProperties() const { return imageProperties_; }
  TImageProperties& ImageProperties() { return imageProperties_; }

 protected:
  // Progress of the load protocol: stage starting/ending/running with ProgressArea.
  void ReportStart(const std::string& message);
  void ReportEnd();
  // Reports running at row * 100 / height (rounded) and moves ProgressArea down one row.
  void ReportRow(int64_t row, int64_t height, bool redraw = true);

  // Sets pixel format, palette and size for a load; refuses sizes that a stream of
  // `availableBytes` cannot produce with a compression ratio of at most `maxRatio` (EInvalidGraphic
  // with the format's name).
  void CheckImageSize(uint64_t width, uint64_t height, uint32_t bitsPerPixel,
                      int64_t availableBytes, uint32_t maxRatio, const std::string& formatName);

  // Converts one row into scan line y through the colour manager after checking that the scan
  // line holds what the converter writes and each source buffer holds what it reads.
  void ConvertRow(std::initializer_list<const uint8_t*> planes, size_t planeBytes, int32_t y,
                  uint8_t mask = 0xFF);

  // Raises EInvalidGraphic with the message formatted with the arguments.
  [[noreturn]] static void RaiseInvalidGraphic(const std::string& message);
  [[noreturn]] static void RaiseInvalidGraphic(const std::string& message,
                                               std::initializer_list<std::string> arguments);

  TColorManager colorManager_;
  TImageProperties imageProperties_;
  int64_t StreamStart = 0;
  TRect ProgressArea;
};

// Swaps the two bytes of each of `count` 16-bit values in place.
void ReverseBytes16(void* values, int32_t count);
// Reverses the four bytes of each of `count` 32-bit values in place.
void ReverseBytes32(void* values, int32_t count);
uint32_t ReverseBytes32(uint32_t value);

// Reads big- and little-endian values from bytes.
inline uint16_t ReadBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t ReadBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint16_t ReadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLE32(const uint8_t* p) {
  return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
