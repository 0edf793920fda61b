// SGI reader.
#include "GraphicSGI.h"

#include <algorithm>

#include "GraphicCompression.h"
#include "GraphicStrings.h"

using namespace GraphicStrings;

KBL_PUBLISHED(TSGIGraphic) {}

namespace {

const char* const kName = "sgi, bw or rgb(a)";

struct TSGIHeader {
  uint16_t Magic;
  uint8_t Storage, BytesPerChannel;
  uint16_t Dimension, XSize, YSize, ZSize;
};

TSGIHeader ReadHeader(TStream& stream) {
  uint8_t b[512];
  stream.ReadBuffer(b, 512);
  return TSGIHeader{ReadBE16(b), b[2], b[3], ReadBE16(b + 4), ReadBE16(b + 6), ReadBE16(b + 8),
                    ReadBE16(b + 10)};
}

}  // namespace

bool TSGIGraphic::TestSignature(TStream& stream) {
  int64_t position = stream.GetPosition();
  bool result = false;
  if (stream.Remaining() > 512) {
    TSGIHeader h = ReadHeader(stream);
    result = h.Magic == 474 && (h.BytesPerChannel == 1 || h.BytesPerChannel == 2) &&
             h.Dimension >= 1 && h.Dimension <= 3;
  }
  stream.SetPosition(position);
  return result;
}

bool TSGIGraphic::ReadImageInfo(TStream& stream, int32_t imageIndex) {
  inherited::ReadImageInfo(stream, imageIndex);
  TSGIHeader h = ReadHeader(stream);
  if (h.Magic != 474) return false;
  TImageProperties& p = imageProperties_;
  p.Options = ifBigEndian;
  p.BitsPerSample = static_cast<uint8_t>(h.BytesPerChannel * 8);
  p.Width = h.XSize;
  p.Height = h.YSize;
  p.SamplesPerPixel = static_cast<uint8_t>(h.ZSize);
  p.ColorScheme = h.ZSize == 3 ? psRGB : h.ZSize == 4 ? psRGBA : psIndexed;
  p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
  p.Compression = h.Storage == 1 ? icRLE : icNone;
  return true;
}

void TSGIGraphic::LoadFromStream(TStream& stream) {
  Clear();
  StreamStart = stream.GetPosition();
  if (!ReadImageInfo(stream, 0)) RaiseInvalidGraphic(gesInvalidImage, {kName});
  TImageProperties& p = imageProperties_;
  ProgressArea = Rect(0, 0, static_cast<int32_t>(p.Width), 1);
  ReportStart(gesPreparing);
  stream.SetPosition(StreamStart);
  TSGIHeader h = ReadHeader(stream);
  int32_t bpc = h.BytesPerChannel;
  if ((bpc != 1 && bpc != 2) || p.SamplesPerPixel == 0 || p.SamplesPerPixel > 4)
    RaiseInvalidGraphic(gesInvalidColorFormat, {kName});
  bool rle = p.Compression == icRLE;
  CheckImageSize(p.Width, p.Height, static_cast<uint32_t>(p.SamplesPerPixel * bpc * 8),
                 stream.Remaining(), rle ? 64 : 1, kName);
  std::unique_ptr<TSGIRLEDecoder> decoder;
  if (rle) {
    int64_t entries = static_cast<int64_t>(p.Height) * p.SamplesPerPixel;
    if (entries * 8 > stream.Remaining()) throw EReadError("Stream read error");
    std::vector<uint8_t> table(static_cast<size_t>(entries * 8));
    stream.ReadBuffer(table.data(), static_cast<int32_t>(table.size()));
    rowStart_.resize(static_cast<size_t>(entries));
    rowSize_.resize(static_cast<size_t>(entries));
    for (int64_t i = 0; i < entries; ++i) {
      rowStart_[i] = ReadBE32(table.data() + 4 * i);
      rowSize_[i] = ReadBE32(table.data() + 4 * (entries + i));
    }
    decoder = std::make_unique<TSGIRLEDecoder>(static_cast<uint8_t>(p.BitsPerSample));
  }
  TColorManager& cm = colorManager_;
  bool color = p.ColorScheme == psRGB || p.ColorScheme == psRGBA;
  // Samples are big-endian words in 16-bit files.
  cm.SetSourceOptions(bpc == 2 ? poSwapBytes : 0);
  cm.SetSourceBitsPerSample(p.BitsPerSample);
  cm.SetTargetBitsPerSample(8);
  cm.SetSourceSamplesPerPixel(p.SamplesPerPixel);
  cm.SetTargetSamplesPerPixel(p.SamplesPerPixel);
  cm.SetSourceScheme(p.ColorScheme);
  cm.SetTargetScheme(p.ColorScheme == psRGB ? psBGR : p.ColorScheme == psRGBA ? psBGRA : psIndexed);
  // Grey files (with or without extra channels) become 8-bit grey bitmaps.
  SetPixelFormat(color ? cm.PixelFormatFor(1) : pf8bit);
  SetSize(static_cast<int32_t>(p.Width), static_cast<int32_t>(p.Height));
  ReportEnd();
  ReportStart(gesTransfering);
  int32_t width = GetWidth(), height = GetHeight();
  size_t channelBytes = static_cast<size_t>(width) * bpc;
  int32_t channels = p.ColorScheme == psRGBA ? 4 : p.ColorScheme == psRGB ? 3 : 1;
  std::vector<std::vector<uint8_t>> buffers(static_cast<size_t>(channels),
                                            std::vector<uint8_t>(channelBytes));
  std::vector<uint8_t> packed;
  auto readRow = [&](int32_t r, int32_t c, std::vector<uint8_t>& target) {
    if (rle) {
      size_t index = static_cast<size_t>(c) * height + r;
      uint32_t length = rowSize_[index];
      stream.SetPosition(StreamStart + rowStart_[index]);
      // The table gives each row's length in bytes.
      if (length > stream.Remaining()) throw EReadError("Stream read error");
      packed.resize(length);
      if (length) stream.ReadBuffer(packed.data(), static_cast<int32_t>(length));
      uint8_t* source = packed.data();
      uint8_t* dest = target.data();
      decoder->Decode(source, dest, static_cast<int32_t>(length), static_cast<int32_t>(channelBytes));
    } else {
      stream.SetPosition(StreamStart + 512 +
                         (static_cast<int64_t>(r) + static_cast<int64_t>(c) * height) *
                             static_cast<int64_t>(channelBytes));
      stream.ReadBuffer(target.data(), static_cast<int32_t>(channelBytes));
    }
  };
  if (!color) SetPalette(cm.MakeGrayPalette(false));
  for (int32_t r = 0; r < height; ++r) {
    int32_t y = height - 1 - r;
    for (int32_t c = 0; c < channels; ++c) readRow(r, c, buffers[c]);
    if (color) {
      if (channels == 4)
        ConvertRow({buffers[0].data(), buffers[1].data(), buffers[2].data(), buffers[3].data()},
                   channelBytes, y);
      else
        ConvertRow({buffers[0].data(), buffers[1].data(), buffers[2].data()}, channelBytes, y);
    } else {
      uint8_t* line = ScanLine(y);
      const uint8_t* grey = buffers[0].data();
      if (bpc == 1) {
        std::copy(grey, grey + width, line);
      } else {
        // Big-endian 16-bit grey scales as the colour manager scales 16-bit colour samples.
        for (int32_t x = 0; x < width; ++x)
          line[x] = static_cast<uint8_t>(ReadBE16(grey + 2 * x) * 255u / 65535u);
      }
    }
    ReportRow(r, height);
  }
  ReportEnd();
}
