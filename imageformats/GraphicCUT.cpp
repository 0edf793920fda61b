// Dr. Halo CUT reader.
#include "GraphicCUT.h"

#include <algorithm>

#include "GraphicCompression.h"
#include "GraphicStrings.h"

using namespace GraphicStrings;

KBL_PUBLISHED(TCUTGraphic) {}

namespace {

const char* const kName = "CUT";

// The file name with its extension (after the last dot of the last path part) replaced.
std::string ChangeExtension(const std::string& fileName, const std::string& extension) {
  size_t slash = fileName.find_last_of("/\\:");
  size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return fileName + extension;
  return fileName.substr(0, dot) + extension;
}

}  // namespace

bool TCUTGraphic::TestSignature(TStream&) { return false; }

bool TCUTGraphic::ReadImageInfo(TStream& stream, int32_t imageIndex) {
  inherited::ReadImageInfo(stream, imageIndex);
  SetPixelFormat(pf8bit);
  uint8_t h[4];
  stream.ReadBuffer(h, 4);
  TImageProperties& p = imageProperties_;
  p.Width = ReadLE16(h);
  p.Height = ReadLE16(h + 2);
  p.ColorScheme = psIndexed;
  p.BitsPerSample = 8;
  p.SamplesPerPixel = 1;
  p.BitsPerPixel = 8;
  p.Compression = icRLE;
  return true;
}

void TCUTGraphic::LoadFromFile(const std::string& fileName) {
  PaletteFile = ChangeExtension(fileName, ".pal");
  inherited::LoadFromFile(fileName);
}

TPaletteEntries TCUTGraphic::ReadPaletteFile() const {
  TPaletteEntries entries;
  if (PaletteFile.empty()) return entries;
  TMemoryStream file;
  try {
    file.LoadFromFile(PaletteFile);
  } catch (const EStreamError&) {
    return entries;
  }
  const uint8_t* data = file.Memory();
  int64_t size = file.GetSize();
  if (size < 40) return entries;
  // At most 256 colours, and no more than the file holds.
  int32_t count = std::min<int32_t>(ReadLE16(data + 12) + 1, 256);
  int64_t block = 0, at = 40;
  while (static_cast<int32_t>(entries.size()) < count) {
    // Entries never straddle the 512-byte blocks the file is read in.
    if (at + 6 > block + 512) {
      block += 512;
      at = block;
    }
    if (at + 6 > size) break;
    entries.push_back(TPaletteEntry{data[at], data[at + 2], data[at + 4], 0});
    at += 6;
  }
  return entries;
}

void TCUTGraphic::LoadFromStream(TStream& stream) {
  Clear();
  StreamStart = stream.GetPosition();
  ReadImageInfo(stream, 0);
  TImageProperties& p = imageProperties_;
  if (stream.GetSize() - StreamStart < 6) throw EReadError("Stream read error");
  stream.SetPosition(StreamStart + 6);
  ProgressArea = Rect(0, 0, static_cast<int32_t>(p.Width), 1);
  ReportStart(gesTransfering);
  SetPixelFormat(pf8bit);
  // Rows of at least three bytes (count and end marker); runs give at most 127 pixels for 2.
  CheckImageSize(p.Width, p.Height, 8, stream.Remaining(), 64, kName);
  SetSize(static_cast<int32_t>(p.Width), static_cast<int32_t>(p.Height));
  TPaletteEntries palette = ReadPaletteFile();
  if (palette.empty()) {
    palette.resize(256);
    for (size_t i = 0; i < 256; ++i) {
      uint8_t v = static_cast<uint8_t>(i);
      palette[i] = TPaletteEntry{v, v, v, 0};
    }
  }
  SetPalette(palette);
  int64_t size = stream.Remaining();
  std::vector<uint8_t> data(static_cast<size_t>(size));
  if (size) stream.ReadBuffer(data.data(), static_cast<int32_t>(size));
  TCUTRLEDecoder decoder;
  uint8_t* source = data.data();
  int32_t width = GetWidth(), height = GetHeight();
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* dest = ScanLine(y);
    int32_t left = static_cast<int32_t>(data.data() + data.size() - source);
    decoder.Decode(source, dest, left, width);
    ReportRow(y, height);
  }
  ReportEnd();
}
