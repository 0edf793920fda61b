// Portable map reader.
#include "GraphicPPM.h"

#include <cstring>

#include "GraphicStrings.h"

using namespace GraphicStrings;

KBL_PUBLISHED(TPPMGraphic) {}

bool TPPMGraphic::TestSignature(TStream& stream) {
  int64_t position = stream.GetPosition();
  bool result = false;
  if (stream.Remaining() >= 11) {
    uint8_t b[10];
    stream.ReadBuffer(b, 10);
    result = b[0] == 'P' && b[1] >= '1' && b[1] <= '6';
  }
  stream.SetPosition(position);
  return result;
}

// --- Characters, lines and numbers

uint8_t TPPMGraphic::GetChar() {
  if (index_ >= filled_) {
    int32_t got = stream_->Read(buffer_, sizeof buffer_);
    if (got <= 0) RaiseInvalidGraphic(gesStreamReadError, {"PPM"});
    filled_ = got;
    index_ = 0;
  }
  return buffer_[index_++];
}

uint8_t TPPMGraphic::PeekChar() { return index_ < filled_ ? buffer_[index_] : 0; }

std::string TPPMGraphic::GetLine() {
  std::string line;
  while (true) {
    uint8_t c = GetChar();
    if (c == 10) break;
    if (c == 13) {
      if (PeekChar() == 10) GetChar();
      break;
    }
    line += static_cast<char>(c);
  }
  size_t hash = line.find('#');
  if (hash != std::string::npos) line.resize(hash);
  return line;
}

uint32_t TPPMGraphic::GetNumber() {
  uint8_t c = GetChar();
  while (c < '0' || c > '9') {
    if (c == '#') {
      // The rest of the line is a comment.
      while (c != 10 && c != 13) c = GetChar();
    }
    c = GetChar();
  }
  uint32_t value = 0;
  while (c >= '0' && c <= '9') {
    value = value * 10 + (c - '0');
    if (value > 0x0FFFFFFF) value = 0x0FFFFFFF;  // saturate absurd numbers
    c = GetChar();
  }
  return value;
}

// --- Header

bool TPPMGraphic::ReadImageInfo(TStream& stream, int32_t imageIndex) {
  inherited::ReadImageInfo(stream, imageIndex);
  stream_ = &stream;
  index_ = filled_ = 4096;
  TImageProperties& p = imageProperties_;
  std::string line = GetLine();
  p.Compression = icNone;
  if (line.size() < 2 || line[0] != 'P') return false;
  type_ = line[1];
  // 1 and 4 bilevel, 2 and 5 grey, 3 and 6 colour; all but bilevel give a largest sample value.
  if (type_ < '1' || type_ > '6') return false;
  const bool bilevel = type_ == '1' || type_ == '4', colour = type_ == '3' || type_ == '6';
  p.Width = GetNumber();
  p.Height = GetNumber();
  if (!bilevel) GetNumber();
  p.ColorScheme = colour ? psRGB : psIndexed;
  p.BitsPerSample = bilevel ? 1 : 8;
  p.SamplesPerPixel = colour ? 3 : 1;
  p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
  return true;
}

void TPPMGraphic::LoadFromStream(TStream& stream) {
  Clear();
  StreamStart = stream.GetPosition();
  if (!ReadImageInfo(stream, 0)) RaiseInvalidGraphic(gesInvalidImage, {"PBM, PGM or PPM"});
  stream.SetPosition(StreamStart);
  TImageProperties& p = imageProperties_;
  ProgressArea = Rect(0, 0, static_cast<int32_t>(p.Width), 1);
  ReportStart(gesTransfering);
  index_ = filled_ = 4096;
  GetLine();
  uint32_t width = GetNumber(), height = GetNumber();
  if (type_ != '1' && type_ != '4') GetNumber();
  bool text = type_ >= '1' && type_ <= '3';
  uint32_t bits = (type_ == '1' || type_ == '4') ? 1 : (type_ == '3' || type_ == '6') ? 24 : 8;
  // Text samples take at least two characters each (a digit and a separator).
  CheckImageSize(width, height, text ? (bits == 1 ? 16 : bits * 2) : bits,
                 stream.GetSize() - StreamStart, 1, "PBM, PGM or PPM");
  TColorManager& cm = colorManager_;
  cm.SetTargetSamplesPerPixel(1);
  if (bits == 1) {
    SetPixelFormat(pf1bit);
    cm.SetTargetBitsPerSample(1);
    SetPalette(cm.MakeGrayPalette(true));
  } else if (bits == 8) {
    SetPixelFormat(pf8bit);
    cm.SetTargetBitsPerSample(8);
    SetPalette(cm.MakeGrayPalette(false));
  } else {
    SetPixelFormat(pf24bit);
  }
  SetSize(static_cast<int32_t>(width), static_cast<int32_t>(height));
  int32_t w = GetWidth(), h = GetHeight();
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* line = ScanLine(y);
    switch (type_) {
      case '1': {
        uint8_t byte = 0;
        int32_t used = 0;
        for (int32_t x = 0; x < w; ++x) {
          byte = static_cast<uint8_t>((byte << 1) | (GetNumber() & 1));
          if (++used == 8) {
            *line++ = byte;
            byte = 0;
            used = 0;
          }
        }
        if (used) *line = static_cast<uint8_t>(byte << (8 - used));
        break;
      }
      case '4':
        for (int32_t i = 0; i < (w + 7) / 8; ++i) line[i] = GetChar();
        break;
      case '2':
        for (int32_t x = 0; x < w; ++x) line[x] = static_cast<uint8_t>(GetNumber());
        break;
      case '5':
        for (int32_t x = 0; x < w; ++x) line[x] = GetChar();
        break;
      case '3':
        for (int32_t x = 0; x < w; ++x) {
          uint8_t r = static_cast<uint8_t>(GetNumber()), g = static_cast<uint8_t>(GetNumber()),
                  b = static_cast<uint8_t>(GetNumber());
          line[3 * x] = b;
          line[3 * x + 1] = g;
          line[3 * x + 2] = r;
        }
        break;
      case '6':
        for (int32_t x = 0; x < w; ++x) {
          uint8_t r = GetChar(), g = GetChar(), b = GetChar();
          line[3 * x] = b;
          line[3 * x + 1] = g;
          line[3 * x + 2] = r;
        }
        break;
    }
    ReportRow(y, h);
  }
  ReportEnd();
}
