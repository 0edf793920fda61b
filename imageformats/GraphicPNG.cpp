// PNG reader: chunk stream, colour set-up, inflate, row filters and interlacing.
#include "GraphicPNG.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "GraphicStrings.h"

using namespace GraphicStrings;

KBL_PUBLISHED(TPNGGraphic) {}

namespace {

const uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
const char* const kName = "PNG";

// Grey or colour samples of bKGD and tRNS as 8-bit levels.
uint8_t Level(uint16_t v, uint8_t depth) {
  if (depth == 16) return static_cast<uint8_t>(v * 255u / 65535u);
  if (depth < 8) return static_cast<uint8_t>((v & ((1u << depth) - 1)) * 255u / ((1u << depth) - 1));
  return static_cast<uint8_t>(v);
}

TColor MakeColor(uint8_t r, uint8_t g, uint8_t b) { return r | (g << 8) | (b << 16); }

// The bit depths PNG allows for each colour type.
bool IsValidDepth(uint8_t colorType, uint8_t depth) {
  switch (colorType) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6: return depth == 8 || depth == 16;
    default: return false;
  }
}

}  // namespace

bool TPNGGraphic::TestSignature(TStream& stream) {
  int64_t position = stream.GetPosition();
  bool result = false;
  if (stream.Remaining() > 8) {
    uint8_t head[8];
    stream.ReadBuffer(head, 8);
    result = std::memcmp(head, kSignature, 8) == 0;
  }
  stream.SetPosition(position);
  return result;
}

// --- Chunks

void TPNGGraphic::ReadChunkHeader() {
  uint8_t head[8];
  stream_->ReadBuffer(head, 8);
  chunkLength_ = ReadBE32(head);
  std::memcpy(chunkType_, head + 4, 4);
  runningCRC_ = static_cast<uint32_t>(crc32(0, head + 4, 4));
}

void TPNGGraphic::LoadChunk() {
  // The length comes from the file: it must fit what the stream still holds.
  if (static_cast<int64_t>(chunkLength_) + 4 > stream_->Remaining())
    throw EReadError("Stream read error");
  chunkData_.resize(chunkLength_);
  if (chunkLength_) stream_->ReadBuffer(chunkData_.data(), static_cast<int32_t>(chunkLength_));
  uint8_t stored[4];
  stream_->ReadBuffer(stored, 4);
  if (chunkLength_)
    runningCRC_ = static_cast<uint32_t>(crc32(runningCRC_, chunkData_.data(), chunkLength_));
  if (ReadBE32(stored) != runningCRC_) RaiseInvalidGraphic(gesInvalidCRC, {kName});
}

void TPNGGraphic::SkipChunk() {
  if (static_cast<int64_t>(chunkLength_) + 4 > stream_->Remaining())
    throw EReadError("Stream read error");
  stream_->Seek(static_cast<int64_t>(chunkLength_) + 4, soCurrent);
}

bool TPNGGraphic::IsChunk(const char* type) const {
  for (int i = 0; i < 4; ++i)
    if ((chunkType_[i] & ~0x20) != (static_cast<uint8_t>(type[i]) & ~0x20)) return false;
  return true;
}

// --- Header

bool TPNGGraphic::ReadImageInfo(TStream& stream, int32_t imageIndex) {
  inherited::ReadImageInfo(stream, imageIndex);
  stream_ = &stream;
  TImageProperties& p = imageProperties_;
  uint8_t head[8];
  stream.ReadBuffer(head, 8);
  if (std::memcmp(head, kSignature, 8) != 0) return false;
  ReadChunkHeader();
  if (!IsChunk("IHDR")) return false;
  p.Options = ifBigEndian;
  LoadChunk();
  if (chunkData_.size() < 13) return false;
  p.Width = ReadBE32(chunkData_.data());
  p.Height = ReadBE32(chunkData_.data() + 4);
  if (p.Width == 0 || p.Height == 0) return false;
  uint8_t depth = chunkData_[8], type = chunkData_[9];
  p.Compression = chunkData_[10] == 0 ? icDeflate : icUnknown;
  p.BitsPerSample = depth;
  p.SamplesPerPixel = type == 2 ? 3 : type == 6 ? 4 : 1;
  switch (type) {
    case 0: p.ColorScheme = psGray; break;
    case 2: p.ColorScheme = psRGB; break;
    case 3: p.ColorScheme = psIndexed; break;
    case 4: p.ColorScheme = psGrayAlpha; break;
    case 6: p.ColorScheme = psRGBA; break;
    default: p.ColorScheme = psUnknown; break;
  }
  p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
  p.FilterMethod = chunkData_[11];
  p.Interlaced = chunkData_[12] != 0;
  p.HasAlpha = p.ColorScheme == psGrayAlpha || p.ColorScheme == psRGBA;
  while (true) {
    ReadChunkHeader();
    if (IsChunk("IEND")) break;
    if (IsChunk("gAMA")) {
      LoadChunk();
      if (chunkData_.size() >= 4) p.FileGamma = ReadBE32(chunkData_.data()) / 100000.0f;
      break;
    }
    SkipChunk();
  }
  return true;
}

// --- Colour set-up

uint8_t TPNGGraphic::SetupColorDepth() {
  TColorManager& cm = colorManager_;
  uint8_t depth = bitDepth_;
  if (!IsValidDepth(colorType_, depth)) RaiseInvalidGraphic(gesInvalidColorFormat, {kName});
  uint8_t stride = 1;
  switch (colorType_) {
    case 0:
      cm.SetSourceScheme(psGray);
      cm.SetTargetScheme(psGray);
      cm.SetSourceSamplesPerPixel(1);
      cm.SetTargetSamplesPerPixel(1);
      cm.SetSourceBitsPerSample(depth);
      cm.SetTargetBitsPerSample(depth == 2 ? 4 : depth == 16 ? 8 : depth);
      SetPixelFormat(cm.PixelFormatFor(1));
      pngPalette_ = cm.MakeGrayPalette(false);
      stride = static_cast<uint8_t>((depth + 7) / 8);
      break;
    case 2:
      cm.SetSourceScheme(psRGB);
      cm.SetTargetScheme(psBGR);
      cm.SetSourceSamplesPerPixel(3);
      cm.SetTargetSamplesPerPixel(3);
      cm.SetSourceBitsPerSample(depth);
      cm.SetTargetBitsPerSample(8);
      SetPixelFormat(pf24bit);
      stride = static_cast<uint8_t>(3 * depth / 8);
      break;
    case 3:
      cm.SetSourceScheme(psIndexed);
      cm.SetTargetScheme(psIndexed);
      cm.SetSourceSamplesPerPixel(1);
      cm.SetTargetSamplesPerPixel(1);
      cm.SetSourceBitsPerSample(depth);
      cm.SetTargetBitsPerSample(depth == 2 ? 4 : depth);
      SetPixelFormat(cm.PixelFormatFor(1));
      stride = 1;
      break;
    case 4:
      cm.SetSourceScheme(psGrayAlpha);
      cm.SetTargetScheme(psIndexed);
      cm.SetSourceSamplesPerPixel(1);
      cm.SetTargetSamplesPerPixel(1);
      cm.SetSourceBitsPerSample(depth);
      cm.SetTargetBitsPerSample(8);
      SetPixelFormat(pf8bit);
      pngPalette_ = cm.MakeGrayPalette(false);
      stride = static_cast<uint8_t>(2 * depth / 8);
      break;
    case 6:
      cm.SetSourceScheme(psRGBA);
      cm.SetTargetScheme(psBGRA);
      cm.SetSourceSamplesPerPixel(4);
      cm.SetTargetSamplesPerPixel(4);
      cm.SetSourceBitsPerSample(depth);
      cm.SetTargetBitsPerSample(8);
      SetPixelFormat(pf32bit);
      stride = static_cast<uint8_t>(4 * depth / 8);
      break;
    default: break;
  }
  formatSet_ = true;
  filterStride_ = std::max<uint8_t>(stride, 1);
  return filterStride_;
}

// --- Image data

bool TPNGGraphic::ReadImageData(uint8_t* target, int32_t n) {
  int32_t produced = 0;
  while (produced < n) {
    while (chunkCursor_ >= imageDataLength_) {
      imageDataLength_ = 0;
      chunkCursor_ = 0;
      if (!IsChunk("IDAT")) return false;
      LoadChunk();
      imageDataLength_ = chunkLength_;
      ReadChunkHeader();
    }
    // A stream that already ended produces nothing more.
    if (decoder_->LastResult() == Z_STREAM_END) return false;
    int32_t left = static_cast<int32_t>(imageDataLength_ - chunkCursor_);
    uint8_t* source = chunkData_.data() + chunkCursor_;
    uint8_t* dest = target + produced;
    decoder_->Decode(source, dest, left, n - produced);
    chunkCursor_ = static_cast<size_t>(source - chunkData_.data());
    produced = static_cast<int32_t>(dest - target);
    int32_t result = decoder_->LastResult();
    if (result == Z_STREAM_END) {
      if (produced < n || chunkCursor_ < imageDataLength_)
        RaiseInvalidGraphic(gesExtraCompressedData, {kName});
      break;
    }
    if (result != Z_OK) RaiseInvalidGraphic(gesCompression, {kName});
  }
  return true;
}

void TPNGGraphic::ApplyFilter(uint8_t filter, uint8_t* row, const uint8_t* previous,
                              int32_t size) {
  int32_t bpp = filterStride_;
  switch (filter) {
    case 1:
      for (int32_t i = bpp; i < size; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - bpp]);
      break;
    case 2:
      for (int32_t i = 0; i < size; ++i) row[i] = static_cast<uint8_t>(row[i] + previous[i]);
      break;
    case 3:
      for (int32_t i = 0; i < size; ++i) {
        int32_t left = i >= bpp ? row[i - bpp] : 0;
        row[i] = static_cast<uint8_t>(row[i] + (left + previous[i]) / 2);
      }
      break;
    case 4:
      for (int32_t i = 0; i < size; ++i) {
        int32_t a = i >= bpp ? row[i - bpp] : 0;
        int32_t b = previous[i];
        int32_t c = i >= bpp ? previous[i - bpp] : 0;
        int32_t estimate = a + b - c;
        int32_t pa = std::abs(estimate - a), pb = std::abs(estimate - b),
                pc = std::abs(estimate - c);
        int32_t predictor = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        row[i] = static_cast<uint8_t>(row[i] + predictor);
      }
      break;
    default: break;  // 0 and unknown filters leave the row as it is
  }
}

void TPNGGraphic::LoadIDAT() {
  TImageProperties& p = imageProperties_;
  ReportStart(gesTransfering);
  if (!formatSet_) SetupColorDepth();
  int32_t rowFactor = bitDepth_ == 16 ? filterStride_ / 2 : filterStride_;
  if (!pngPalette_.empty()) SetPalette(pngPalette_);
  CheckImageSize(p.Width, p.Height, static_cast<uint32_t>(BitsPerPixelOf(GetPixelFormat())),
                 stream_->Remaining(), 1100, kName);
  SetSize(static_cast<int32_t>(p.Width), static_cast<int32_t>(p.Height));
  FillColor(backgroundColor_);
  if (transparentColor_ != 0x1FFFFFFF) {
    SetTransparentColor(transparentColor_);
    SetTransparent(true);
  }
  int32_t width = static_cast<int32_t>(p.Width), height = static_cast<int32_t>(p.Height);
  auto rowSizeFor = [&](int64_t pixels) {
    return static_cast<int32_t>((pixels * bitDepth_ + 7) / 8 * rowFactor + 1);
  };
  int32_t fullRow = rowSizeFor(width);
  std::vector<uint8_t> current(static_cast<size_t>(fullRow)), previous(static_cast<size_t>(fullRow));
  bool more = true;
  if (!p.Interlaced) {
    for (int32_t y = 0; y < height && more; ++y) {
      more = ReadImageData(current.data(), fullRow);
      if (!more) break;
      ApplyFilter(current[0], current.data() + 1, previous.data() + 1, fullRow - 1);
      ConvertRow({current.data() + 1}, current.size() - 1, y);
      std::swap(current, previous);
      ReportRow(y, height);
    }
  } else {
    static const int32_t kRowStart[7] = {0, 0, 4, 0, 2, 0, 1};
    static const int32_t kColumnStart[7] = {0, 4, 0, 2, 0, 1, 0};
    static const int32_t kRowStep[7] = {8, 8, 8, 4, 4, 2, 2};
    static const int32_t kColumnStep[7] = {8, 8, 4, 4, 2, 2, 1};
    static const uint8_t kMask[7] = {0x80, 0x08, 0x88, 0x22, 0xAA, 0x55, 0xFF};
    for (int32_t pass = 0; pass < 7 && more; ++pass) {
      if (width <= kColumnStart[pass]) continue;
      int32_t step = kColumnStep[pass];
      int32_t rowSize = rowSizeFor((width + step - 1 - kColumnStart[pass]) / step);
      std::fill(previous.begin(), previous.end(), 0);
      for (int32_t y = kRowStart[pass]; y < height; y += kRowStep[pass]) {
        more = ReadImageData(current.data(), rowSize);
        if (!more) break;
        ApplyFilter(current[0], current.data() + 1, previous.data() + 1, rowSize - 1);
        // The pass row holds only its own pixels; the mask places them in the scan line.
        ConvertRow({current.data() + 1}, current.size() - 1, y, kMask[pass]);
        std::swap(current, previous);
        if (pass == 6) ReportRow(y, height);
      }
    }
  }
  while (IsChunk("IDAT")) {
    LoadChunk();
    ReadChunkHeader();
  }
}

void TPNGGraphic::LoadFromStream(TStream& stream) {
  Clear();
  StreamStart = stream.GetPosition();
  stream_ = &stream;
  decoder_.reset();
  formatSet_ = false;
  if (!ReadImageInfo(stream, 0)) RaiseInvalidGraphic(gesInvalidImage, {kName});
  stream.SetPosition(StreamStart + 8);
  TImageProperties& p = imageProperties_;
  ProgressArea = Rect(0, 0, static_cast<int32_t>(p.Width), 1);
  ReportStart(gesPreparing);
  pngPalette_.clear();
  backgroundColor_ = 0xFFFFFF;
  transparentColor_ = 0x1FFFFFFF;
  imageDataLength_ = 0;
  chunkCursor_ = 0;
  colorManager_.SetSourceOptions(poSwapBytes);
  colorManager_.SetTargetOptions(0);
  ReadChunkHeader();
  LoadChunk();
  bitDepth_ = chunkData_[8];
  colorType_ = chunkData_[9];
  // The depth scales the background and transparency levels: check it before any chunk uses it.
  if (!IsValidDepth(colorType_, bitDepth_)) RaiseInvalidGraphic(gesInvalidColorFormat, {kName});
  if (p.Compression != icDeflate)
    RaiseInvalidGraphic(gesUnsupportedFeature, {gesCompressionScheme, kName});
  decoder_ = std::make_unique<TLZ77Decoder>(Z_PARTIAL_FLUSH, false);
  decoder_->DecodeInit();
  while (true) {
    ReadChunkHeader();
    if (IsChunk("IDAT")) {
      ReportEnd();
      LoadIDAT();
      // The chunk after the image data is handled like an unknown one.
    } else if (IsChunk("PLTE")) {
      if (chunkLength_ % 3 != 0) RaiseInvalidGraphic(gesInvalidPalette, {kName});
      LoadChunk();
      if (colorType_ == 3) {
        SetupColorDepth();
        pngPalette_ = colorManager_.MakeColorPalette({chunkData_.data()}, pfInterlaced8Triple,
                                                     static_cast<int32_t>(chunkLength_ / 3), false);
      }
      continue;
    } else if (IsChunk("gAMA")) {
      LoadChunk();
      if (chunkData_.size() >= 4) {
        colorManager_.SetGammaValues(ReadBE32(chunkData_.data()) / 100000.0f, 2.2f);
        colorManager_.SetTargetOptions(colorManager_.GetTargetOptions() | poGamma);
        p.Options |= ifUseGamma;
      }
      continue;
    } else if (IsChunk("bKGD")) {
      LoadChunk();
      const std::vector<uint8_t>& d = chunkData_;
      if ((colorType_ == 2 || colorType_ == 6) && d.size() >= 6) {
        backgroundColor_ = MakeColor(Level(ReadBE16(&d[0]), bitDepth_),
                                     Level(ReadBE16(&d[2]), bitDepth_),
                                     Level(ReadBE16(&d[4]), bitDepth_));
      } else if ((colorType_ == 0 || colorType_ == 4) && d.size() >= 2) {
        uint8_t g = Level(ReadBE16(&d[0]), bitDepth_);
        backgroundColor_ = MakeColor(g, g, g);
      } else if (colorType_ == 3 && !d.empty()) {
        // A palette index: the colour of that entry.
        if (d[0] < pngPalette_.size()) {
          const TPaletteEntry& e = pngPalette_[d[0]];
          backgroundColor_ = MakeColor(e.peRed, e.peGreen, e.peBlue);
        }
      }
      continue;
    } else if (IsChunk("tRNS")) {
      LoadChunk();
      const std::vector<uint8_t>& d = chunkData_;
      if (colorType_ == 0 && d.size() >= 2) {
        uint8_t g = Level(ReadBE16(&d[0]), bitDepth_);
        transparentColor_ = MakeColor(g, g, g);
      } else if (colorType_ == 2 && d.size() >= 6) {
        transparentColor_ = MakeColor(Level(ReadBE16(&d[0]), bitDepth_),
                                      Level(ReadBE16(&d[2]), bitDepth_),
                                      Level(ReadBE16(&d[4]), bitDepth_));
      }
      continue;
    }
    // Unknown chunks (and the one after the image data).
    SkipChunk();
    if (IsChunk("IEND")) break;
    if ((chunkType_[0] & 0x20) == 0) RaiseInvalidGraphic(gesUnknownCriticalChunk);
  }
  decoder_->DecodeEnd();
  decoder_.reset();
  chunkData_.clear();
  chunkData_.shrink_to_fit();
  ReportEnd();
}
