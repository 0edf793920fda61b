// Wavefront RLA reader.
#include "GraphicRLA.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "GraphicCompression.h"
#include "GraphicStrings.h"

using namespace GraphicStrings;

KBL_PUBLISHED(TRLAGraphic) {}

namespace {

const char* const kName = "RLA";
const int32_t kHeaderSize = 740;

struct TRLAHeader {
  int16_t ActiveLeft, ActiveRight, ActiveBottom, ActiveTop;
  uint16_t Channels, Mattes, Revision, ChannelBits;
  std::string Gamma, Space;
};

// A text field cut at its first zero byte.
std::string Text(const uint8_t* p, size_t size) {
  size_t n = 0;
  while (n < size && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

TRLAHeader ReadHeader(TStream& stream) {
  uint8_t b[kHeaderSize];
  stream.ReadBuffer(b, kHeaderSize);
  TRLAHeader h;
  h.ActiveLeft = static_cast<int16_t>(ReadBE16(b + 8));
  h.ActiveRight = static_cast<int16_t>(ReadBE16(b + 10));
  h.ActiveBottom = static_cast<int16_t>(ReadBE16(b + 12));
  h.ActiveTop = static_cast<int16_t>(ReadBE16(b + 14));
  h.Channels = ReadBE16(b + 20);
  h.Mattes = ReadBE16(b + 22);
  h.Revision = ReadBE16(b + 26);
  h.Gamma = Text(b + 28, 16);
  h.Space = Text(b + 580, 32);
  for (char& c : h.Space) c = static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c);
  h.ChannelBits = ReadBE16(b + 658);
  return h;
}

// A decimal number with "." as its separator, whatever the locale; 0 when there is none.
float ParseNumber(const std::string& text) {
  size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return 0;
  double value = 0, scale = 0;
  bool digits = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      digits = true;
      if (scale == 0) {
        value = value * 10 + (c - '0');
      } else {
        value += (c - '0') * scale;
        scale /= 10;
      }
    } else if (c == '.' && scale == 0) {
      scale = 0.1;
    } else {
      break;
    }
  }
  return digits ? static_cast<float>(value) : 0.0f;
}

}  // namespace

bool TRLAGraphic::TestSignature(TStream& stream) {
  int64_t position = stream.GetPosition();
  bool result = false;
  if (stream.Remaining() > kHeaderSize) {
    TRLAHeader h = ReadHeader(stream);
    result = h.Revision == 0xFFFE && (h.Space == "rgb" || h.Space == "xyz");
  }
  stream.SetPosition(position);
  return result;
}

bool TRLAGraphic::ReadImageInfo(TStream& stream, int32_t imageIndex) {
  inherited::ReadImageInfo(stream, imageIndex);
  TRLAHeader h = ReadHeader(stream);
  TImageProperties& p = imageProperties_;
  p.Options = ifBigEndian;
  p.SamplesPerPixel = static_cast<uint8_t>(h.Channels + (h.Mattes == 1 ? 1 : 0));
  p.BitsPerSample = static_cast<uint8_t>(h.ChannelBits);
  p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
  if (h.Space == "rgb") p.ColorScheme = h.Mattes == 1 ? psRGBA : psRGB;
  else if (h.Space != "xyz") return false;
  // An empty or unreadable gamma field means no gamma correction.
  float gamma = ParseNumber(h.Gamma);
  p.FileGamma = gamma > 0 ? gamma : 1.0f;
  p.Compression = icRLE;
  p.Width = static_cast<uint32_t>(std::max(h.ActiveRight - h.ActiveLeft + 1, 0));
  p.Height = static_cast<uint32_t>(std::abs(h.ActiveTop - h.ActiveBottom) + 1);
  p.BottomUp = h.ActiveTop > h.ActiveBottom;
  return true;
}

void TRLAGraphic::LoadFromStream(TStream& stream) {
  Clear();
  StreamStart = stream.GetPosition();
  if (!ReadImageInfo(stream, 0)) RaiseInvalidGraphic(gesInvalidImage, {kName});
  TImageProperties& p = imageProperties_;
  ProgressArea = Rect(0, 0, static_cast<int32_t>(p.Width), 1);
  ReportStart(gesTransfering);
  stream.SetPosition(StreamStart);
  TRLAHeader h = ReadHeader(stream);
  // Three colour channels of 8 or 16 bits, and at most one matte.
  bool rgb = p.ColorScheme == psRGB || p.ColorScheme == psRGBA;
  if (!rgb || h.Channels != 3 || (p.BitsPerSample != 8 && p.BitsPerSample != 16))
    RaiseInvalidGraphic(gesInvalidColorFormat, {kName});
  bool matte = p.ColorScheme == psRGBA;
  TColorManager& cm = colorManager_;
  cm.SetSourceOptions(p.BitsPerSample == 16 ? poSwapBytes : 0);
  cm.SetSourceSamplesPerPixel(p.SamplesPerPixel);
  cm.SetTargetSamplesPerPixel(p.SamplesPerPixel);
  cm.SetSourceBitsPerSample(p.BitsPerSample);
  cm.SetTargetBitsPerSample(8);
  cm.SetSourceScheme(p.ColorScheme);
  cm.SetTargetScheme(matte ? psBGRA : psBGR);
  SetPixelFormat(cm.PixelFormatFor(1));
  if (p.FileGamma != 1.0f) {
    cm.SetGammaValues(p.FileGamma, 2.2f);
    cm.SetTargetOptions(static_cast<TPixelOptions>(cm.GetTargetOptions() | poGamma));
    p.Options |= ifUseGamma;
  }
  int64_t height = p.Height, width = p.Width;
  if (height * 4 > stream.Remaining()) throw EReadError("Stream read error");
  CheckImageSize(p.Width, p.Height, p.BitsPerPixel, stream.Remaining(), 64, kName);
  SetSize(static_cast<int32_t>(width), static_cast<int32_t>(height));
  std::vector<uint8_t> table(static_cast<size_t>(height * 4));
  stream.ReadBuffer(table.data(), static_cast<int32_t>(table.size()));
  size_t channelBytes = static_cast<size_t>(width) * (p.BitsPerSample / 8);
  std::vector<uint8_t> channels[4];
  for (auto& c : channels) c.resize(channelBytes);
  std::vector<uint8_t> packed;
  TRLADecoder decoder;
  auto readChannel = [&](std::vector<uint8_t>& target) {
    uint8_t count[2];
    stream.ReadBuffer(count, 2);
    uint16_t length = ReadBE16(count);
    if (length > stream.Remaining()) throw EReadError("Stream read error");
    packed.resize(length);
    if (length) stream.ReadBuffer(packed.data(), length);
    std::fill(target.begin(), target.end(), 0);
    uint8_t* source = packed.data();
    uint8_t* dest = target.data();
    decoder.Decode(source, dest, length, static_cast<int32_t>(target.size()));
  };
  for (int32_t i = 0; i < height; ++i) {
    uint32_t offset = ReadBE32(table.data() + 4 * i);
    if (offset > stream.GetSize() - StreamStart) throw EReadError("Stream read error");
    stream.SetPosition(StreamStart + offset);
    int32_t y = p.BottomUp ? static_cast<int32_t>(height - 1 - i) : i;
    for (int c = 0; c < (matte ? 4 : 3); ++c) readChannel(channels[c]);
    if (matte)
      ConvertRow({channels[0].data(), channels[1].data(), channels[2].data(), channels[3].data()},
                 channelBytes, y);
    else
      ConvertRow({channels[0].data(), channels[1].data(), channels[2].data()}, channelBytes, y);
    ReportRow(i, height);
  }
  ReportEnd();
}
