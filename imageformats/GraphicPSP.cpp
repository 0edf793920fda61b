// Paint Shop Pro reader.
#include "GraphicPSP.h"

#include <algorithm>
#include <cstring>

#include "GraphicCompression.h"
#include "GraphicStrings.h"

using namespace GraphicStrings;

KBL_PUBLISHED(TPSPGraphic) {}

namespace {

const char* const kName = "PSP";
const char kSignature[] = "Paint Shop Pro Image File";
const size_t kSignatureLength = 25;

enum : uint16_t { kAttributesBlock = 0, kPaletteBlock = 2, kLayerStartBlock = 3, kLayerBlock = 4,
                  kChannelBlock = 5 };

// zlib's "output full" answer: not an error when the channel is simply complete.
const int32_t kZlibBufferError = -5;

[[noreturn]] void ReadError() { throw EReadError("Stream read error"); }

uint16_t Read16(TStream& stream) {
  uint8_t b[2];
  stream.ReadBuffer(b, 2);
  return ReadLE16(b);
}

uint32_t Read32(TStream& stream) {
  uint8_t b[4];
  stream.ReadBuffer(b, 4);
  return ReadLE32(b);
}

}  // namespace

bool TPSPGraphic::TestSignature(TStream& stream) {
  int64_t position = stream.GetPosition();
  bool result = false;
  if (stream.Remaining() >= 37) {
    uint8_t header[36];
    stream.ReadBuffer(header, 36);
    result = std::memcmp(header, kSignature, kSignatureLength) == 0 && ReadLE16(header + 32) >= 3;
  }
  stream.SetPosition(position);
  return result;
}

// --- Blocks

bool TPSPGraphic::ReadBlockHeader(TStream& stream, TBlock& block) {
  int32_t size = imageProperties_.Version == 3 ? 14 : 10;
  if (stream.Remaining() < size) return false;
  uint8_t b[14];
  stream.ReadBuffer(b, size);
  if (b[0] != '~') return false;
  block.ID = ReadLE16(b + 4);
  block.Start = stream.GetPosition();
  block.End = block.Start + ReadLE32(b + size - 4);
  return true;
}

int64_t TPSPGraphic::SkipChunkSize(TStream& stream, const TBlock&) {
  int64_t start = stream.GetPosition();
  if (imageProperties_.Version < 4) return start;
  uint32_t size = Read32(stream);
  return std::max(start + size, stream.GetPosition());
}

void TPSPGraphic::ReadAttributes(TStream& stream, const TBlock& block) {
  SkipChunkSize(stream, block);
  uint8_t a[42];
  stream.ReadBuffer(a, 42);
  TImageProperties& p = imageProperties_;
  p.Width = ReadLE32(a);
  p.Height = ReadLE32(a + 4);
  uint64_t bits = ReadLE32(a + 8) | (uint64_t{ReadLE32(a + 12)} << 32);
  double resolution;
  std::memcpy(&resolution, &bits, sizeof resolution);
  uint8_t metric = a[16];
  uint16_t compression = ReadLE16(a + 17);
  uint16_t depth = ReadLE16(a + 19);
  grayScale_ = a[27];
  if (depth == 24) {
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 3;
    p.ColorScheme = psRGB;
  } else {
    p.BitsPerSample = static_cast<uint8_t>(depth);
    p.SamplesPerPixel = 1;
    p.ColorScheme = grayScale_ ? psGray : psIndexed;
  }
  p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
  switch (compression) {
    case 0: p.Compression = icNone; break;
    case 1: p.Compression = icRLE; break;
    case 2: p.Compression = icDeflate; break;
    case 3: p.Compression = icJPEG; break;
    default: p.Compression = icUnknown; break;
  }
  p.XResolution = static_cast<float>(metric == 2 ? resolution * 2.54 : resolution);
  p.YResolution = p.XResolution;
}

// --- Properties

bool TPSPGraphic::ReadImageInfo(TStream& stream, int32_t imageIndex) {
  inherited::ReadImageInfo(stream, imageIndex);
  uint8_t header[36];
  stream.ReadBuffer(header, 36);
  uint16_t major = ReadLE16(header + 32);
  if (std::memcmp(header, kSignature, kSignatureLength) != 0 || major < 3) return false;
  imageProperties_.Version = major;
  TBlock block;
  if (!ReadBlockHeader(stream, block) || block.ID != kAttributesBlock) return false;
  ReadAttributes(stream, block);
  return true;
}

// --- Loading

void TPSPGraphic::LoadFromStream(TStream& stream) {
  Clear();
  StreamStart = stream.GetPosition();
  if (!ReadImageInfo(stream, 0)) RaiseInvalidGraphic(gesInvalidImage, {kName});
  TImageProperties& p = imageProperties_;
  // No decoder exists for JPEG-compressed channels.
  if (p.Compression == icJPEG || p.Compression == icUnknown)
    RaiseInvalidGraphic(gesUnsupportedFeature, {gesCompressionScheme, kName});
  stream.SetPosition(StreamStart + 36);
  ProgressArea = Rect(0, 0, static_cast<int32_t>(p.Width), 1);
  ReportStart(gesPreparing);
  TBlock attributes;
  ReadBlockHeader(stream, attributes);
  stream.SetPosition(attributes.End);

  bool colorOk = (p.ColorScheme == psRGB && p.BitsPerSample == 8) ||
                 (p.ColorScheme == psGray && p.BitsPerSample == 8) ||
                 (p.ColorScheme == psIndexed &&
                  (p.BitsPerSample == 1 || p.BitsPerSample == 4 || p.BitsPerSample == 8));
  if (!colorOk) RaiseInvalidGraphic(gesInvalidColorFormat, {kName});
  TColorManager& cm = colorManager_;
  cm.SetSourceOptions(0);
  cm.SetSourceBitsPerSample(p.BitsPerSample);
  cm.SetTargetBitsPerSample(p.BitsPerSample);
  cm.SetSourceSamplesPerPixel(p.SamplesPerPixel);
  cm.SetTargetSamplesPerPixel(p.SamplesPerPixel);
  cm.SetSourceScheme(p.ColorScheme);
  cm.SetTargetScheme(p.ColorScheme == psRGB ? psBGR : p.ColorScheme);
  SetPixelFormat(cm.PixelFormatFor(1));
  uint32_t ratio = p.Compression == icDeflate ? 1100 : p.Compression == icRLE ? 64 : 1;
  CheckImageSize(p.Width, p.Height, p.BitsPerPixel, stream.Remaining(), ratio, kName);
  SetSize(static_cast<int32_t>(p.Width), static_cast<int32_t>(p.Height));
  if (p.ColorScheme == psGray) SetPalette(cm.MakeGrayPalette(false));
  ReportEnd();

  TBlock block;
  while (ReadBlockHeader(stream, block)) {
    if (block.ID == kPaletteBlock) {
      SkipChunkSize(stream, block);
      uint32_t count = Read32(stream);
      int64_t bytes = int64_t{count} * 4;
      if (bytes > stream.Remaining() || stream.GetPosition() + bytes > block.End) ReadError();
      std::vector<uint8_t> quads(static_cast<size_t>(bytes));
      if (bytes) stream.ReadBuffer(quads.data(), static_cast<int32_t>(bytes));
      // Blue, green, red, reserved.
      SetPalette(cm.MakeColorPalette({quads.data()}, pfInterlaced8Quad,
                                     static_cast<int32_t>(std::min<uint32_t>(count, 256)), true));
    } else if (block.ID == kLayerStartBlock) {
      ReadLayer(stream, block);
      break;
    }
    stream.SetPosition(block.End);
  }
  ReportEnd();
}

void TPSPGraphic::ReadLayer(TStream& stream, const TBlock& layerStart) {
  TImageProperties& p = imageProperties_;
  ReportStart(gesLoadingData);
  bool v3 = p.Version == 3;
  uint32_t channelCount = 0;
  bool found = false;
  TBlock layer;
  while (stream.GetPosition() < layerStart.End && ReadBlockHeader(stream, layer)) {
    if (layer.ID == kLayerBlock) {
      if (v3) {
        uint8_t info[256 + 115];
        stream.ReadBuffer(info, sizeof info);
        if (info[256] == 0) {
          Read16(stream);  // bitmap count
          channelCount = Read16(stream);
          found = true;
        }
      } else {
        int64_t chunkStart = stream.GetPosition();
        int64_t chunkEnd = SkipChunkSize(stream, layer);
        uint16_t nameLength = Read16(stream);
        stream.Seek(nameLength, soCurrent);
        uint8_t type;
        stream.ReadBuffer(&type, 1);
        if (type < 2) {
          stream.SetPosition(std::max(chunkEnd, chunkStart + 4));
          int64_t bitmapChunkEnd = SkipChunkSize(stream, layer);
          Read16(stream);  // bitmap count
          channelCount = Read16(stream);
          stream.SetPosition(std::max(bitmapChunkEnd, stream.GetPosition()));
          found = true;
        }
      }
      if (found) break;
    }
    stream.SetPosition(layer.End);
  }
  if (!found) {
    ReportEnd();
    return;
  }

  TColorManager& cm = colorManager_;
  int64_t width = p.Width, height = p.Height;
  int64_t rowSize = p.BitsPerSample == 1 ? (width + 7) / 8
                    : p.BitsPerSample == 4 ? width / 2 + 1
                                           : width;
  bool alpha = p.ColorScheme == psRGB && channelCount > 3;
  if (alpha) {
    // The composite channel of an RGB layer is its transparency.
    cm.SetSourceScheme(psRGBA);
    cm.SetSourceSamplesPerPixel(4);
    cm.SetTargetScheme(psBGRA);
    cm.SetTargetSamplesPerPixel(4);
    SetPixelFormat(pf32bit);
  }
  // Composite, red, green, blue; channels missing from the file stay zero.
  size_t planeSize = static_cast<size_t>(rowSize * height);
  std::vector<uint8_t> planes[4];
  for (auto& plane : planes) plane.assign(planeSize, 0);
  std::vector<uint8_t> packed;
  for (uint32_t c = 0; c < channelCount; ++c) {
    TBlock channel;
    if (!ReadBlockHeader(stream, channel) || channel.ID != kChannelBlock) break;
    int64_t chunkEnd = SkipChunkSize(stream, channel);
    uint32_t compressedLength = Read32(stream);
    uint32_t uncompressedLength = Read32(stream);
    Read16(stream);  // bitmap type
    uint16_t type = Read16(stream);
    if (chunkEnd > stream.GetPosition()) stream.SetPosition(chunkEnd);
    if (type <= 3) {
      if (compressedLength > stream.Remaining()) ReadError();
      packed.resize(compressedLength);
      if (compressedLength) stream.ReadBuffer(packed.data(), static_cast<int32_t>(compressedLength));
      uint8_t* target = planes[type].data();
      int32_t expected = static_cast<int32_t>(std::min<uint64_t>(uncompressedLength, planeSize));
      uint8_t* source = packed.data();
      switch (p.Compression) {
        case icNone:
          if (!packed.empty())
            std::memcpy(target, source, std::min<size_t>(packed.size(), static_cast<size_t>(expected)));
          break;
        case icRLE: {
          TPSPRLEDecoder decoder;
          decoder.Decode(source, target, static_cast<int32_t>(compressedLength), expected);
          break;
        }
        default: {
          TLZ77Decoder decoder(4, false);
          decoder.DecodeInit();
          decoder.Decode(source, target, static_cast<int32_t>(compressedLength), expected);
          int32_t result = decoder.LastResult();
          decoder.DecodeEnd();
          if (result < 0 && result != kZlibBufferError)
            RaiseInvalidGraphic(gesCompression, {kName});
          break;
        }
      }
    }
    stream.SetPosition(channel.End);
  }
  ReportEnd();
  ReportStart(gesTransfering);
  for (int32_t y = 0; y < height; ++y) {
    size_t offset = static_cast<size_t>(y * rowSize);
    const uint8_t* composite = planes[0].data() + offset;
    const uint8_t* red = planes[1].data() + offset;
    const uint8_t* green = planes[2].data() + offset;
    const uint8_t* blue = planes[3].data() + offset;
    size_t bytes = static_cast<size_t>(rowSize);
    if (p.ColorScheme != psRGB) ConvertRow({composite}, bytes, y);
    else if (alpha) ConvertRow({red, green, blue, composite}, bytes, y);
    else ConvertRow({red, green, blue}, bytes, y);
    ReportRow(y, height);
  }
}
