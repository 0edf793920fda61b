// Photoshop reader.
#include "GraphicPSD.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "GraphicCompression.h"
#include "GraphicStrings.h"

using namespace GraphicStrings;

KBL_PUBLISHED(TPSDGraphic) {}

namespace {

const char* const kName = "PSD or PDD";

struct TPSDHeader {
  bool Valid;  // signature "8BPS" and version 1
  uint16_t Channels;
  uint32_t Rows, Columns;
  uint16_t Depth, Mode;
};

TPSDHeader ReadHeader(TStream& stream) {
  uint8_t b[26];
  stream.ReadBuffer(b, 26);
  return TPSDHeader{std::memcmp(b, "8BPS", 4) == 0 && ReadBE16(b + 4) == 1, ReadBE16(b + 12),
                    ReadBE32(b + 14), ReadBE32(b + 18), ReadBE16(b + 22), ReadBE16(b + 24)};
}

[[noreturn]] void ReadError() { throw EReadError("Stream read error"); }

// Reads a section's 32-bit length; the section must lie inside the stream.
uint32_t SectionLength(TStream& stream) {
  uint8_t b[4];
  stream.ReadBuffer(b, 4);
  uint32_t length = ReadBE32(b);
  if (length > stream.Remaining()) ReadError();
  return length;
}

void SkipSection(TStream& stream) { stream.Seek(SectionLength(stream), soCurrent); }

// Planes the colour conversion reads for a scheme (0: nothing is loaded).
int32_t PlanesOf(TPixelScheme scheme) {
  switch (scheme) {
    case psIndexed:
    case psGray: return 1;
    case psRGB:
    case psLab: return 3;
    case psRGBA:
    case psCMYK: return 4;
    default: return 0;
  }
}

}  // namespace

bool TPSDGraphic::TestSignature(TStream& stream) {
  int64_t position = stream.GetPosition();
  bool result = false;
  if (stream.Remaining() >= 27) result = ReadHeader(stream).Valid;
  stream.SetPosition(position);
  return result;
}

bool TPSDGraphic::ReadImageInfo(TStream& stream, int32_t imageIndex) {
  inherited::ReadImageInfo(stream, imageIndex);
  TPSDHeader h = ReadHeader(stream);
  if (!h.Valid) return false;
  TImageProperties& p = imageProperties_;
  p.Options = ifBigEndian;
  p.BitsPerSample = static_cast<uint8_t>(h.Depth);
  p.Channels = static_cast<uint8_t>(h.Channels);
  p.SamplesPerPixel = static_cast<uint8_t>(std::min<uint16_t>(h.Channels, 4));
  p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
  switch (h.Mode) {
    case 0:
      p.ColorScheme = psGray;
      p.Options |= ifMinIsWhite;
      break;
    case 1:
    case 8: p.ColorScheme = psGray; break;
    case 2: p.ColorScheme = psIndexed; break;
    case 3:
    case 7: p.ColorScheme = h.Channels == 3 ? psRGB : psRGBA; break;
    case 4: p.ColorScheme = psCMYK; break;
    case 9: p.ColorScheme = psLab; break;
    default: break;
  }
  p.Width = h.Columns;
  p.Height = h.Rows;
  SkipSection(stream);
  SkipSection(stream);
  SkipSection(stream);
  uint8_t compression[2];
  stream.ReadBuffer(compression, 2);
  p.Compression = ReadBE16(compression) == 1 ? icPackBits : icNone;
  return true;
}

void TPSDGraphic::LoadFromStream(TStream& stream) {
  Clear();
  StreamStart = stream.GetPosition();
  if (!ReadImageInfo(stream, 0)) RaiseInvalidGraphic(gesInvalidImage, {kName});
  stream.SetPosition(StreamStart);
  TImageProperties& p = imageProperties_;
  ProgressArea = Rect(0, 0, static_cast<int32_t>(p.Width), 1);
  ReportStart(gesPreparing);
  TPSDHeader h = ReadHeader(stream);

  // The channels must make up the colour mode: one plane of 1, 8 or 16 bits, or three or four
  // planes of 8 or 16 bits. Extra channels (alpha, spot colours) are not read.
  int32_t planes = PlanesOf(p.ColorScheme);
  uint32_t bps = p.BitsPerSample;
  bool depthOk = bps == 8 || bps == 16 || (bps == 1 && planes == 1);
  if (planes == 0) {
    ReportEnd();
    return;  // other colour modes load nothing
  }
  if (!depthOk || h.Channels < planes) RaiseInvalidGraphic(gesInvalidColorFormat, {kName});
  bool packBits = p.Compression == icPackBits;

  TColorManager& cm = colorManager_;
  TPixelOptions sourceOptions = poSwapBytes;
  TPixelScheme target = p.ColorScheme;
  uint8_t targetSamples = static_cast<uint8_t>(planes);
  switch (p.ColorScheme) {
    case psRGB: target = psBGR; break;
    case psRGBA: target = psBGRA; break;
    case psCMYK:
      target = psBGR;
      targetSamples = 3;
      break;
    case psLab:
      target = psBGR;
      sourceOptions |= poLabPercent | poLabOffset;
      break;
    default: break;
  }
  cm.SetSourceOptions(sourceOptions);
  cm.SetSourceBitsPerSample(static_cast<uint8_t>(bps));
  cm.SetTargetBitsPerSample(bps == 16 ? 8 : static_cast<uint8_t>(bps));
  cm.SetSourceSamplesPerPixel(static_cast<uint8_t>(planes));
  cm.SetTargetSamplesPerPixel(targetSamples);
  cm.SetSourceScheme(p.ColorScheme);
  cm.SetTargetScheme(target);
  SetPixelFormat(cm.PixelFormatFor(1));

  // Colour mode data: the palette of indexed images (all reds, all greens, all blues).
  if (p.ColorScheme == psIndexed) {
    uint32_t length = SectionLength(stream);
    std::vector<uint8_t> data(length);
    if (length) stream.ReadBuffer(data.data(), static_cast<int32_t>(length));
    uint32_t third = length / 3;
    if (third > 0)
      SetPalette(cm.MakeColorPalette({data.data(), data.data() + third, data.data() + 2 * third},
                                     pfPlane8Triple, static_cast<int32_t>(std::min(third, 256u)),
                                     false));
  } else {
    if (p.ColorScheme == psGray) SetPalette(cm.MakeGrayPalette((p.Options & ifMinIsWhite) != 0));
    SkipSection(stream);
  }
  SkipSection(stream);  // image resources
  SkipSection(stream);  // layers and masks
  stream.Seek(2, soCurrent);

  int64_t width = p.Width, height = p.Height;
  std::vector<uint32_t> counts;
  if (packBits) {
    int64_t entries = height * h.Channels;
    if (entries * 2 > stream.Remaining()) ReadError();
    std::vector<uint8_t> table(static_cast<size_t>(entries * 2));
    if (!table.empty()) stream.ReadBuffer(table.data(), static_cast<int32_t>(table.size()));
    counts.resize(static_cast<size_t>(entries));
    for (size_t i = 0; i < counts.size(); ++i) counts[i] = ReadBE16(table.data() + 2 * i);
  }
  // The file must hold the planes read (PackBits turns two bytes into at most 128).
  CheckImageSize(p.Width, p.Height, bps * static_cast<uint32_t>(planes), stream.Remaining(),
                 packBits ? 64 : 1, kName);
  SetSize(static_cast<int32_t>(width), static_cast<int32_t>(height));
  TPackbitsRLEDecoder decoder;
  ReportEnd();

  // Reads `size` bytes of compressed data for the rows [first, first + rows) of the table.
  auto readPacked = [&](size_t first, size_t rows) {
    uint64_t total = std::accumulate(counts.begin() + static_cast<std::ptrdiff_t>(first),
                                     counts.begin() + static_cast<std::ptrdiff_t>(first + rows),
                                     uint64_t{0});
    if (total > static_cast<uint64_t>(stream.Remaining())) ReadError();
    std::vector<uint8_t> packed(static_cast<size_t>(total));
    if (total) stream.ReadBuffer(packed.data(), static_cast<int32_t>(total));
    return packed;
  };

  if (planes == 1) {
    ReportStart(gesTransfering);
    int32_t rowBytes = static_cast<int32_t>((width * bps + 7) / 8);
    // 16-bit samples go through the colour manager; 1- and 8-bit rows are the scan lines.
    std::vector<uint8_t> row(bps == 16 ? static_cast<size_t>(rowBytes) : 0);
    std::vector<uint8_t> packed;
    size_t cursor = 0;
    if (packBits) packed = readPacked(0, static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* target = bps == 16 ? row.data() : ScanLine(y);
      if (packBits) {
        uint8_t* source = packed.data() + cursor;
        uint32_t count = counts[static_cast<size_t>(y)];
        decoder.Decode(source, target, static_cast<int32_t>(count), rowBytes);
        cursor += count;
      } else {
        stream.ReadBuffer(target, rowBytes);
      }
      if (bps == 16) ConvertRow({row.data()}, row.size(), y);
      ReportRow(y, height);
    }
  } else {
    ReportStart(gesLoadingData);
    int64_t sampleBytes = bps / 8;
    int64_t rowBytes = width * sampleBytes;
    int64_t planeSize = rowBytes * height;
    std::vector<uint8_t> buffer(static_cast<size_t>(planeSize * planes));
    if (packBits) {
      // Rows of all planes follow each other: one call decodes them all.
      std::vector<uint8_t> packed = readPacked(0, static_cast<size_t>(height * planes));
      uint8_t* source = packed.data();
      uint8_t* dest = buffer.data();
      decoder.Decode(source, dest, static_cast<int32_t>(packed.size()),
                     static_cast<int32_t>(buffer.size()));
    } else {
      stream.ReadBuffer(buffer.data(), static_cast<int32_t>(buffer.size()));
    }
    ReportEnd();
    ReportStart(gesTransfering);
    // Photoshop stores CMYK inverted (255 = no ink).
    if (p.ColorScheme == psCMYK)
      for (uint8_t& b : buffer) b = static_cast<uint8_t>(~b);
    for (int32_t y = 0; y < height; ++y) {
      const uint8_t* base = buffer.data() + y * rowBytes;
      if (planes == 3)
        ConvertRow({base, base + planeSize, base + 2 * planeSize}, static_cast<size_t>(rowBytes), y);
      else
        ConvertRow({base, base + planeSize, base + 2 * planeSize, base + 3 * planeSize},
                   static_cast<size_t>(rowBytes), y);
      ReportRow(y, height);
    }
  }
  ReportEnd();
}
