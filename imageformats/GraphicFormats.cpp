// Base class of the readers: properties, progress protocol, size checks and byte order.
#include "GraphicFormats.h"

#include <algorithm>

#include "GraphicStrings.h"

using namespace GraphicStrings;

KBL_PUBLISHED(TFormatGraphic) {}

bool TFormatGraphic::TestSignatureFile(const std::string& fileName) {
  try {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    return TestSignature(stream);
  } catch (const EStreamError&) {
    return false;
  }
}

bool TFormatGraphic::TestSignature(TStream&) { return false; }

bool TFormatGraphic::ReadImageInfo(TStream&, int32_t) {
  imageProperties_ = TImageProperties{};
  imageProperties_.FileGamma = 1.0f;
  return false;
}

void TFormatGraphic::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TFormatGraphic*>(source)) imageProperties_ = other->imageProperties_;
  inherited::Assign(source);
}

// --- Progress

void TFormatGraphic::ReportStart(const std::string& message) {
  Progress(this, psStarting, 0, false, ProgressArea, message);
}

void TFormatGraphic::ReportEnd() { Progress(this, psEnding, 0, false, ProgressArea, ""); }

void TFormatGraphic::ReportRow(int64_t row, int64_t height, bool redraw) {
  uint8_t percent = 0;
  if (height > 0) {
    // The platform's multiply-divide rounds halves away from zero.
    int64_t p = (row * 100 * 2 + height) / (2 * height);
    percent = static_cast<uint8_t>(std::clamp<int64_t>(p, 0, 255));
  }
  Progress(this, psRunning, redraw ? percent : 0, redraw, ProgressArea, "");
  ProgressArea.Top += 1;
  ProgressArea.Bottom += 1;
}

// --- Checks

void TFormatGraphic::CheckImageSize(uint64_t width, uint64_t height, uint32_t bitsPerPixel,
                                    int64_t availableBytes, uint32_t maxRatio,
                                    const std::string& formatName) {
  if (width == 0 || height == 0 || width > static_cast<uint64_t>(kMaxSide) ||
      height > static_cast<uint64_t>(kMaxSide))
    RaiseInvalidGraphic(gesInvalidImage, {formatName});
  uint64_t bytes = (width * std::max<uint32_t>(bitsPerPixel, 1) + 7) / 8 * height;
  uint64_t available = static_cast<uint64_t>(std::max<int64_t>(availableBytes, 0));
  if (bytes > kMaxPixelBytes || bytes > available * maxRatio + 4096)
    RaiseInvalidGraphic(gesImageTooLarge, {formatName});
}

void TFormatGraphic::ConvertRow(std::initializer_list<const uint8_t*> planes, size_t planeBytes,
                                int32_t y, uint8_t mask) {
  int32_t width = GetWidth();
  if (colorManager_.TargetRowBytes(width) > RowStride() ||
      colorManager_.SourceRowBytes(width, static_cast<int32_t>(planes.size())) >
          static_cast<int64_t>(planeBytes))
    throw EInvalidGraphic(FormatMessage(gesInvalidColorFormat, {ClassName()}));
  colorManager_.ConvertPixelRow(planes, ScanLine(y), width, mask);
}

void TFormatGraphic::RaiseInvalidGraphic(const std::string& message) {
  throw EInvalidGraphic(message);
}

void TFormatGraphic::RaiseInvalidGraphic(const std::string& message,
                                         std::initializer_list<std::string> arguments) {
  throw EInvalidGraphic(FormatMessage(message, arguments));
}

// --- Byte order

void ReverseBytes16(void* values, int32_t count) {
  auto* p = static_cast<uint8_t*>(values);
  for (int32_t i = 0; i < count; ++i, p += 2) std::swap(p[0], p[1]);
}

void ReverseBytes32(void* values, int32_t count) {
  auto* p = static_cast<uint8_t*>(values);
  for (int32_t i = 0; i < count; ++i, p += 4) {
    std::swap(p[0], p[3]);
    std::swap(p[1], p[2]);
  }
}

uint32_t ReverseBytes32(uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}
