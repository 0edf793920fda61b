// The image library's message texts (its resource-string table) and the formatting of "%s"
// arguments into them.
#pragma once

#include <initializer_list>
#include <string>

namespace GraphicStrings {

// --- Readers
inline constexpr const char* gesInvalidImage = "Cannot load image. Invalid or unexpected %s image format.";
inline constexpr const char* gesInvalidColorFormat = "Invalid color format in %s file.";
inline constexpr const char* gesStreamReadError = "Stream read error in %s file.";
inline constexpr const char* gesUnsupportedFeature = "Cannot load image. %s not supported for %s files.";
inline constexpr const char* gesInvalidCRC = "Cannot load image. CRC error found in %s file.";
inline constexpr const char* gesCompression = "Cannot load image. Compression error found in %s file.";
inline constexpr const char* gesExtraCompressedData =
    "Cannot load image. Extra compressed data found in %s file.";
inline constexpr const char* gesInvalidPalette = "Cannot load image. Palette in %s file is invalid.";
inline constexpr const char* gesUnknownCriticalChunk =
    "Cannot load PNG image. Unexpected but critical chunk detected.";
inline constexpr const char* gesCompressionScheme = "The compression scheme is";
// Sizes read from a file that the file cannot hold.
inline constexpr const char* gesImageTooLarge =
    "Cannot load image. The %s file is too small for the image size it gives.";

// --- Progress
inline constexpr const char* gesPreparing = "Preparing...";
inline constexpr const char* gesLoadingData = "Loading data...";
inline constexpr const char* gesUpsampling = "Upsampling...";
inline constexpr const char* gesTransfering = "Transfering...";

// --- Decoders
inline constexpr const char* gesLZ77Error = "LZ77 decompression error.";
inline constexpr const char* gesJPEGEOI = "JPEG decompression error. Unexpected end of input.";
inline constexpr const char* gesJPEGStripSize = "Improper JPEG strip/tile size.";
inline constexpr const char* gesJPEGComponentCount = "Improper JPEG component count.";
inline constexpr const char* gesJPEGDataPrecision = "Improper JPEG data precision.";
inline constexpr const char* gesJPEGSamplingFactors = "Improper JPEG sampling factors.";
inline constexpr const char* gesJPEGBogusTableField = "Bogus JPEG tables field.";
inline constexpr const char* gesJPEGFractionalLine = "Fractional JPEG scanline unsupported.";
inline constexpr const char* gesJPEGError = "JPEG error #%d";
inline constexpr const char* gesWarning = "Warning";
// Compressed data that ends before the output it announces.
inline constexpr const char* gesCompressedDataTruncated = "Compressed image data ends unexpectedly.";

// --- Colour manager
inline constexpr const char* gesInvalidColorDepth =
    "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
inline constexpr const char* gesInvalidSampleCount =
    "Sample count per pixel does not correspond to the given color scheme.";
inline constexpr const char* gesInvalidSubSampling =
    "Subsampling value is invalid. Allowed are 1, 2 and 4.";
inline constexpr const char* gesVerticalSubSamplingError =
    "Vertical subsampling value must be <= horizontal subsampling value.";
inline constexpr const char* gesIndexedNotSupported =
    "Conversion between indexed and non-indexed pixel formats is not supported.";
inline constexpr const char* gesConversionUnsupported =
    "Color conversion failed. Could not find a proper method.";

// --- Registry
inline constexpr const char* gesRegistration = "Attempt to register %s twice.";

// Replaces each "%s" (and "%d") of `message` in turn with the next argument; surplus markers stay.
inline std::string FormatMessage(const std::string& message,
                                 std::initializer_list<std::string> arguments) {
  std::string result;
  auto next = arguments.begin();
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '%' && i + 1 < message.size() &&
        (message[i + 1] == 's' || message[i + 1] == 'd') && next != arguments.end()) {
      result += *next++;
      ++i;
    } else {
      result += message[i];
    }
  }
  return result;
}

}  // namespace GraphicStrings
