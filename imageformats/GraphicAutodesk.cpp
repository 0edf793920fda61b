// Autodesk Animator reader.
#include "GraphicAutodesk.h"

#include "GraphicStrings.h"

using namespace GraphicStrings;

KBL_PUBLISHED(TAutodeskGraphic) {}

namespace {
const uint16_t kMagic = 0x9119;
}

bool TAutodeskGraphic::TestSignature(TStream& stream) {
  int64_t position = stream.GetPosition();
  bool result = false;
  if (stream.Remaining() > 32) {
    uint8_t h[32];
    stream.ReadBuffer(h, 32);
    result = ReadLE16(h) == kMagic && h[10] == 8 && h[11] == 0;
  }
  stream.SetPosition(position);
  return result;
}

bool TAutodeskGraphic::ReadImageInfo(TStream& stream, int32_t imageIndex) {
  inherited::ReadImageInfo(stream, imageIndex);
  uint8_t h[32];
  stream.ReadBuffer(h, 2);
  if (ReadLE16(h) != kMagic) return false;
  stream.ReadBuffer(h + 2, 30);
  TImageProperties& p = imageProperties_;
  p.ColorScheme = psIndexed;
  p.Width = ReadLE16(h + 2);
  p.Height = ReadLE16(h + 4);
  p.BitsPerSample = 8;
  p.SamplesPerPixel = 1;
  p.BitsPerPixel = 8;
  p.Compression = icNone;
  return true;
}

void TAutodeskGraphic::LoadFromStream(TStream& stream) {
  Clear();
  StreamStart = stream.GetPosition();
  if (!ReadImageInfo(stream, 0)) RaiseInvalidGraphic(gesInvalidImage, {"Autodesk"});
  TImageProperties& p = imageProperties_;
  ProgressArea = Rect(0, 0, static_cast<int32_t>(p.Width), 1);
  ReportStart(gesTransfering);
  stream.SetPosition(StreamStart + 32);
  uint8_t vga[768];
  stream.ReadBuffer(vga, 768);
  TPaletteEntries palette(256);
  for (size_t i = 0; i < 256; ++i)
    palette[i] = TPaletteEntry{static_cast<uint8_t>(vga[3 * i] * 4),
                               static_cast<uint8_t>(vga[3 * i + 1] * 4),
                               static_cast<uint8_t>(vga[3 * i + 2] * 4), 0};
  SetPixelFormat(pf8bit);
  SetPalette(palette);
  CheckImageSize(p.Width, p.Height, 8, stream.Remaining(), 1, "Autodesk");
  SetSize(static_cast<int32_t>(p.Width), static_cast<int32_t>(p.Height));
  int32_t width = GetWidth(), height = GetHeight();
  for (int32_t y = 0; y < height; ++y) {
    stream.ReadBuffer(ScanLine(y), width);
    ReportRow(y, height);
  }
  ReportEnd();
}
