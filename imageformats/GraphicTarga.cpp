// Targa reader and writer.
#include "GraphicTarga.h"

#include <algorithm>
#include <cstring>

#include "GraphicCompression.h"
#include "GraphicStrings.h"

using namespace GraphicStrings;

KBL_PUBLISHED(TTargaGraphic) {}

namespace {

struct TTargaHeader {
  uint8_t IDLength, ColorMapType, ImageType;
  uint16_t ColorMapStart, ColorMapLength;
  uint8_t ColorMapEntrySize;
  uint16_t XOrigin, YOrigin, Width, Height;
  uint8_t PixelSize, Descriptor;
};

TTargaHeader ParseHeader(const uint8_t* b) {
  return TTargaHeader{b[0],           b[1],           b[2],           ReadLE16(b + 3),
                      ReadLE16(b + 5), b[7],           ReadLE16(b + 8), ReadLE16(b + 10),
                      ReadLE16(b + 12), ReadLE16(b + 14), b[16],         b[17]};
}

TTargaHeader ReadHeader(TStream& stream) {
  uint8_t b[18];
  stream.ReadBuffer(b, 18);
  return ParseHeader(b);
}

// Bytes of a pixel or colour-map entry of `bits` bits (15 bits take two bytes).
int32_t BytesOf(int32_t bits) { return (bits + 7) / 8; }

}  // namespace

bool TTargaGraphic::TestSignature(TStream& stream) {
  int64_t position = stream.GetPosition();
  bool result = false;
  if (stream.Remaining() > 18) {
    TTargaHeader h = ReadHeader(stream);
    result = (h.ImageType <= 3 || (h.ImageType >= 9 && h.ImageType <= 11)) &&
             h.ColorMapType <= 1 &&
             (h.ColorMapEntrySize == 15 || h.ColorMapEntrySize == 16 ||
              h.ColorMapEntrySize == 24 || h.ColorMapEntrySize == 32) &&
             (h.PixelSize == 8 || h.PixelSize == 15 || h.PixelSize == 16 || h.PixelSize == 24 ||
              h.PixelSize == 32);
  }
  stream.SetPosition(position);
  return result;
}

bool TTargaGraphic::ReadImageInfo(TStream& stream, int32_t imageIndex) {
  inherited::ReadImageInfo(stream, imageIndex);
  TImageProperties& p = imageProperties_;
  TTargaHeader h = ReadHeader(stream);
  p.Width = h.Width;
  p.Height = h.Height;
  p.BitsPerSample = 8;
  switch (h.PixelSize) {
    case 8:
      p.ColorScheme = (h.ImageType == 3 || h.ImageType == 11) ? psGray : psIndexed;
      p.SamplesPerPixel = 1;
      break;
    case 15:
    case 16:
      p.ColorScheme = psRGB;
      p.BitsPerSample = 5;
      p.SamplesPerPixel = 3;
      break;
    case 24:
      p.ColorScheme = psRGB;
      p.SamplesPerPixel = 3;
      break;
    case 32:
      p.ColorScheme = psRGBA;
      p.SamplesPerPixel = 4;
      break;
    default: break;
  }
  p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
  p.Compression = (h.ImageType >= 9 && h.ImageType <= 11) ? icRLE : icNone;
  return true;
}

void TTargaGraphic::LoadFromStream(TStream& stream) {
  Clear();
  StreamStart = stream.GetPosition();
  ReadImageInfo(stream, 0);
  stream.SetPosition(StreamStart);
  TImageProperties& p = imageProperties_;
  ProgressArea = Rect(0, 0, static_cast<int32_t>(p.Width), 1);
  ReportStart(gesPreparing);
  TTargaHeader h = ReadHeader(stream);
  bool topDown = (h.Descriptor & 0x20) != 0;
  stream.Seek(h.IDLength, soCurrent);
  if (p.SamplesPerPixel == 0) RaiseInvalidGraphic(gesInvalidImage, {"Targa"});
  TColorManager& cm = colorManager_;
  cm.SetSourceSamplesPerPixel(p.SamplesPerPixel);
  cm.SetTargetSamplesPerPixel(p.SamplesPerPixel);
  cm.SetSourceScheme(p.ColorScheme);
  cm.SetSourceOptions(0);
  cm.SetTargetScheme(psBGR);
  cm.SetSourceBitsPerSample(p.BitsPerSample);
  cm.SetTargetBitsPerSample(p.BitsPerSample);
  SetPixelFormat(cm.PixelFormatFor(1));
  if (h.ColorMapType == 1 || h.ImageType == 3 || h.ImageType == 11) {
    if (h.ImageType == 3 || h.ImageType == 11) {
      SetPalette(cm.MakeGrayPalette(false));
    } else {
      int32_t entryBytes = BytesOf(h.ColorMapEntrySize);
      int64_t size = static_cast<int64_t>(h.ColorMapLength) * entryBytes;
      if (size > stream.Remaining()) throw EReadError("Stream read error");
      std::vector<uint8_t> map(static_cast<size_t>(size));
      if (size) stream.ReadBuffer(map.data(), static_cast<int32_t>(size));
      TPaletteEntries palette;
      for (int32_t i = 0; i < h.ColorMapLength && i < 256; ++i) {
        const uint8_t* e = map.data() + i * entryBytes;
        if (entryBytes >= 3) {
          palette.push_back(TPaletteEntry{e[2], e[1], e[0], 0});
        } else if (entryBytes == 2) {
          uint16_t v = ReadLE16(e);
          palette.push_back(TPaletteEntry{static_cast<uint8_t>((v & 0x7C00) >> 7),
                                          static_cast<uint8_t>((v & 0x3E0) >> 2),
                                          static_cast<uint8_t>((v & 0x1F) << 3), 0});
        }
      }
      SetPalette(palette);
    }
  }
  int32_t pixelBytes = BytesOf(h.PixelSize);
  bool rle = h.ImageType >= 9 && h.ImageType <= 11;
  CheckImageSize(p.Width, p.Height, static_cast<uint32_t>(pixelBytes * 8), stream.Remaining(),
                 rle ? 128 : 1, "Targa");
  SetSize(static_cast<int32_t>(p.Width), static_cast<int32_t>(p.Height));
  int32_t width = GetWidth(), height = GetHeight();
  int32_t rowSize = pixelBytes * width;
  ReportEnd();
  ReportStart(gesTransfering);
  if (h.ImageType >= 1 && h.ImageType <= 3) {
    for (int32_t i = 0; i < height; ++i) {
      stream.ReadBuffer(ScanLine(topDown ? i : height - 1 - i), rowSize);
      ReportRow(i, height);
    }
  } else if (rle) {
    TTargaRLEDecoder decoder(h.PixelSize);
    std::vector<uint8_t> buffer(static_cast<size_t>(2 * rowSize) + 4 * 129);
    for (int32_t i = 0; i < height; ++i) {
      int64_t position = stream.GetPosition();
      int32_t got = stream.Read(buffer.data(), static_cast<int32_t>(buffer.size()));
      uint8_t* source = buffer.data();
      uint8_t* dest = ScanLine(topDown ? i : height - 1 - i);
      decoder.Decode(source, dest, got, width);
      stream.SetPosition(position + (source - buffer.data()));
      ReportRow(i, height);
    }
  }
  ReportEnd();
}

void TTargaGraphic::SaveToStream(TStream& stream, bool compressed) {
  ProgressArea = Rect(0, 0, GetWidth(), 1);
  ReportStart(gesPreparing);
  int32_t bytes;
  switch (GetPixelFormat()) {
    case pf1bit:
    case pf4bit:
      SetPixelFormat(pf8bit);
      bytes = 1;
      break;
    case pf8bit: bytes = 1; break;
    case pf15bit:
    case pf16bit: bytes = 2; break;
    case pf24bit: bytes = 3; break;
    default: bytes = 4; break;  // 32 bits; device-dependent bitmaps are held as 32 bits here
  }
  if (GetEmpty()) return;
  int32_t width = GetWidth(), height = GetHeight();
  std::vector<uint8_t> header;
  header.push_back(0);
  header.push_back(bytes == 1 ? 1 : 0);
  header.push_back(static_cast<uint8_t>(bytes == 1 ? (compressed ? 9 : 1) : (compressed ? 10 : 2)));
  auto put16 = [&](uint16_t v) {
    header.push_back(static_cast<uint8_t>(v));
    header.push_back(static_cast<uint8_t>(v >> 8));
  };
  put16(0);
  put16(256);
  header.push_back(24);
  put16(0);
  put16(0);
  put16(static_cast<uint16_t>(width));
  put16(static_cast<uint16_t>(height));
  header.push_back(static_cast<uint8_t>(bytes * 8));
  // Rows are written from the top, so the file says its first row is the top one.
  header.push_back(0x20);
  if (bytes == 1) {
    const TPaletteEntries& palette = GetPalette();
    for (size_t i = 0; i < 256; ++i) {
      TPaletteEntry e = i < palette.size() ? palette[i] : TPaletteEntry{};
      header.insert(header.end(), {e.peBlue, e.peGreen, e.peRed});
    }
  }
  stream.WriteBuffer(header.data(), static_cast<int32_t>(header.size()));
  ReportEnd();
  ReportStart(gesTransfering);
  int32_t rowSize = bytes * width;
  TTargaRLEDecoder encoder(bytes * 8);
  std::vector<uint8_t> buffer(static_cast<size_t>(2 * rowSize) + 8);
  for (int32_t y = 0; y < height; ++y) {
    if (compressed) {
      int32_t stored = 0;
      encoder.Encode(ScanLine(y), buffer.data(), width, stored);
      stream.WriteBuffer(buffer.data(), stored);
    } else {
      stream.WriteBuffer(ScanLine(y), rowSize);
    }
    ReportRow(0, 1, false);
  }
  ReportEnd();
}
