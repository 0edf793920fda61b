// PCX reader.
#include "GraphicPCX.h"

#include <algorithm>
#include <cstring>

#include "GraphicCompression.h"
#include "GraphicStrings.h"

using namespace GraphicStrings;

KBL_PUBLISHED(TPCXGraphic) {}

namespace {

struct TPCXHeader {
  uint8_t Manufacturer, Version, Encoding, BitsPerPixel;
  int32_t XMin, YMin, XMax, YMax, HRes, VRes;
  uint8_t Palette[48];
  uint8_t Planes;
  uint16_t BytesPerLine, PaletteInfo;
};

TPCXHeader ReadHeader(TStream& stream) {
  uint8_t b[128];
  stream.ReadBuffer(b, 128);
  TPCXHeader h{};
  h.Manufacturer = b[0];
  h.Version = b[1];
  h.Encoding = b[2];
  h.BitsPerPixel = b[3];
  h.XMin = ReadLE16(b + 4);
  h.YMin = ReadLE16(b + 6);
  h.XMax = ReadLE16(b + 8);
  h.YMax = ReadLE16(b + 10);
  h.HRes = ReadLE16(b + 12);
  h.VRes = ReadLE16(b + 14);
  std::memcpy(h.Palette, b + 16, 48);
  h.Planes = b[65];
  h.BytesPerLine = ReadLE16(b + 66);
  h.PaletteInfo = ReadLE16(b + 68);
  return h;
}

// The sixteen colours of the standard VGA palette.
const uint8_t kDefaultPalette[16][3] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
    {0, 128, 128},   {192, 192, 192}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

}  // namespace

bool TPCXGraphic::TestSignature(TStream& stream) {
  int64_t position = stream.GetPosition();
  bool result = false;
  if (stream.Remaining() > 128) {
    TPCXHeader h = ReadHeader(stream);
    result = (h.Manufacturer == 10 || h.Manufacturer == 12) &&
             (h.Version == 0 || h.Version == 2 || h.Version == 3 || h.Version == 5) &&
             h.Encoding <= 1;
  }
  stream.SetPosition(position);
  return result;
}

bool TPCXGraphic::ReadImageInfo(TStream& stream, int32_t imageIndex) {
  inherited::ReadImageInfo(stream, imageIndex);
  TPCXHeader h = ReadHeader(stream);
  if (h.Manufacturer != 10 && h.Manufacturer != 205) return false;
  TImageProperties& p = imageProperties_;
  p.Width = static_cast<uint32_t>(std::max(h.XMax - h.XMin + 1, 0));
  p.Height = static_cast<uint32_t>(std::max(h.YMax - h.YMin + 1, 0));
  p.SamplesPerPixel = h.Planes;
  p.BitsPerSample = h.BitsPerPixel;
  p.BitsPerPixel = static_cast<uint8_t>(h.Planes * h.BitsPerPixel);
  p.ColorScheme = p.BitsPerPixel > 8 ? psRGB : psIndexed;
  p.Compression = h.Encoding == 1 ? icRLE : icNone;
  p.XResolution = static_cast<float>(h.HRes);
  p.YResolution = static_cast<float>(h.VRes);
  return true;
}

void TPCXGraphic::LoadFromStream(TStream& stream) {
  Clear();
  StreamStart = stream.GetPosition();
  if (!ReadImageInfo(stream, 0)) RaiseInvalidGraphic(gesInvalidImage, {"PCX or SCR"});
  stream.SetPosition(StreamStart);
  TImageProperties& p = imageProperties_;
  ProgressArea = Rect(0, 0, static_cast<int32_t>(p.Width), 1);
  ReportStart(gesPreparing);
  TPCXHeader h = ReadHeader(stream);
  int64_t dataSize = stream.Remaining();
  if (h.Manufacturer != 10 && h.Manufacturer != 205)
    RaiseInvalidGraphic(gesInvalidImage, {"PCX or SCR"});
  auto invalidColor = [] { RaiseInvalidGraphic(gesInvalidColorFormat, {"PCX"}); };
  // Sample layouts this reader knows: 1, 2, 4 or 8 bits in one plane, 4 planes of 1 bit, 3
  // planes of 8 bits.
  bool fourPlanes = h.Planes == 4 && h.BitsPerPixel == 1;
  bool onePlane = h.Planes == 1 && (h.BitsPerPixel == 1 || h.BitsPerPixel == 2 ||
                                    h.BitsPerPixel == 4 || h.BitsPerPixel == 8);
  bool trueColor = h.Planes == 3 && h.BitsPerPixel == 8;
  if (!fourPlanes && !onePlane && !trueColor) invalidColor();
  TColorManager& cm = colorManager_;
  cm.SetSourceOptions(0);
  cm.SetSourceScheme(p.ColorScheme);
  cm.SetSourceBitsPerSample(p.BitsPerSample);
  cm.SetSourceSamplesPerPixel(p.SamplesPerPixel);
  cm.SetTargetScheme(p.ColorScheme == psIndexed ? psIndexed : psBGR);
  cm.SetTargetBitsPerSample(p.BitsPerPixel == 2 ? 4 : p.BitsPerSample);
  cm.SetTargetSamplesPerPixel(p.SamplesPerPixel);
  TPixelFormat format = cm.PixelFormatFor(1);
  if (format == pfCustom) {
    if (fourPlanes) format = pf4bit;
    else invalidColor();
  }
  SetPixelFormat(format);
  if (format != pf24bit) {
    if (h.Version == 3 && p.BitsPerPixel > 1) {
      TPaletteEntries palette;
      for (const auto& c : kDefaultPalette) palette.push_back(TPaletteEntry{c[0], c[1], c[2], 0});
      SetPalette(palette);
    } else if (format == pf1bit) {
      SetPalette(cm.MakeGrayPalette(false));
    } else if (format == pf4bit) {
      if (h.PaletteInfo == 2) {
        SetPalette(cm.MakeGrayPalette(false));
      } else {
        TPaletteEntries palette;
        for (int i = 0; i < 16; ++i)
          palette.push_back(TPaletteEntry{h.Palette[3 * i], h.Palette[3 * i + 1],
                                          h.Palette[3 * i + 2], 0});
        SetPalette(palette);
      }
    } else if (format == pf8bit) {
      int64_t position = stream.GetPosition();
      int64_t end = stream.GetSize();
      uint8_t marker = 0;
      if (end - 769 >= position) {
        stream.SetPosition(end - 769);
        stream.ReadBuffer(&marker, 1);
      }
      if (marker == 12) {
        // The trailing palette is not image data.
        dataSize -= 769;
        uint8_t rgb[768];
        stream.ReadBuffer(rgb, 768);
        SetPalette(cm.MakeColorPalette({rgb}, pfInterlaced8Triple, 256, false));
      } else if (h.PaletteInfo == 2) {
        SetPalette(cm.MakeGrayPalette(false));
      }
      stream.SetPosition(position);
    }
  }
  int64_t lineSize = static_cast<int64_t>(h.Planes) * h.BytesPerLine;
  // Each plane line must hold the row's pixels.
  if (static_cast<int64_t>(h.BytesPerLine) * 8 < static_cast<int64_t>(p.Width) * h.BitsPerPixel)
    invalidColor();
  dataSize = std::max<int64_t>(dataSize, 0);
  CheckImageSize(p.Width, p.Height, static_cast<uint32_t>(BitsPerPixelOf(format)), dataSize,
                 p.Compression == icRLE ? 32 : 1, "PCX");
  int64_t bufferSize = lineSize * p.Height;
  if (bufferSize > static_cast<int64_t>(kMaxPixelBytes) ||
      (p.Compression != icRLE && bufferSize > dataSize) ||
      (p.Compression == icRLE && bufferSize > dataSize * 32 + 4096))
    RaiseInvalidGraphic(gesImageTooLarge, {"PCX"});
  SetSize(static_cast<int32_t>(p.Width), static_cast<int32_t>(p.Height));
  std::vector<uint8_t> buffer(static_cast<size_t>(bufferSize));
  if (p.Compression == icRLE) {
    std::vector<uint8_t> packed(static_cast<size_t>(dataSize));
    if (dataSize) stream.ReadBuffer(packed.data(), static_cast<int32_t>(dataSize));
    TPCXRLEDecoder decoder;
    uint8_t* source = packed.data();
    uint8_t* dest = buffer.data();
    decoder.Decode(source, dest, static_cast<int32_t>(dataSize), static_cast<int32_t>(bufferSize));
  } else if (bufferSize) {
    stream.ReadBuffer(buffer.data(), static_cast<int32_t>(bufferSize));
  }
  ReportEnd();
  ReportStart(gesTransfering);
  int32_t width = GetWidth(), height = GetHeight();
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* line = buffer.data() + static_cast<size_t>(y) * lineSize;
    if (fourPlanes) {
      uint8_t* out = ScanLine(y);
      std::memset(out, 0, static_cast<size_t>((width * 4 + 7) / 8));
      for (int32_t x = 0; x < width; ++x) {
        uint8_t value = 0;
        for (int plane = 0; plane < 4; ++plane) {
          const uint8_t* row = line + plane * h.BytesPerLine;
          if ((row[x / 8] >> (7 - x % 8)) & 1) value = static_cast<uint8_t>(value | (1 << plane));
        }
        out[x / 2] = static_cast<uint8_t>(out[x / 2] | (x % 2 == 0 ? value << 4 : value));
      }
    } else if (format == pf24bit) {
      ConvertRow({line, line + h.BytesPerLine, line + 2 * h.BytesPerLine}, h.BytesPerLine, y);
    } else {
      ConvertRow({line}, static_cast<size_t>(lineSize), y);
    }
    ReportRow(y, height);
  }
  ReportEnd();
}
