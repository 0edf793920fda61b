// Run-length codecs, the Targa encoder and the deflate decoder.
#include "GraphicCompression.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "GraphicStrings.h"

using namespace GraphicStrings;

namespace {

[[noreturn]] void Truncated() { throw EGraphicCompression(gesCompressedDataTruncated); }

void Fill(uint8_t* target, uint8_t value, int32_t count) {
  if (count > 0) std::memset(target, value, static_cast<size_t>(count));
}

// A bounded view of the packed input.
class TInput {
 public:
  TInput(uint8_t* data, int32_t size) : data_(data), left_(std::max(size, 0)) {}
  int32_t Left() const { return left_; }
  bool Empty() const { return left_ <= 0; }
  uint8_t Byte() {
    if (left_ <= 0) Truncated();
    --left_;
    return *data_++;
  }
  // Copies up to n bytes; answers the count copied.
  int32_t Copy(uint8_t* target, int32_t n) {
    n = std::min(n, left_);
    if (n > 0) std::memcpy(target, data_, static_cast<size_t>(n));
    data_ += n;
    left_ -= n;
    return n;
  }
  void Skip(int32_t n) {
    n = std::min(n, left_);
    data_ += n;
    left_ -= n;
  }
  uint8_t* Position() const { return data_; }

 private:
  uint8_t* data_;
  int32_t left_;
};

}  // namespace

// --- Targa

void TTargaRLEDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize,
                              int32_t unpackedSize) {
  int32_t unit;
  switch (colorDepth_) {
    case 8: unit = 1; break;
    case 15:
    case 16: unit = 2; break;
    case 24: unit = 3; break;
    case 32: unit = 4; break;
    default: return;
  }
  TInput input(source, packedSize);
  int32_t pixelsLeft = std::max(unpackedSize, 0);
  uint8_t* out = dest;
  while (pixelsLeft > 0) {
    uint8_t b = input.Byte();
    int32_t count = (b & 127) + 1;
    // A packet reaching past the row is cut at its end; the rest of it would belong to the
    // next row, which the caller decodes from the stream again.
    int32_t write = std::min(count, pixelsLeft);
    if (b & 128) {
      uint8_t pixel[4];
      if (input.Left() < unit) Truncated();
      input.Copy(pixel, unit);
      for (int32_t i = 0; i < write; ++i, out += unit) std::memcpy(out, pixel, unit);
    } else {
      if (input.Left() < count * unit) Truncated();
      input.Copy(out, write * unit);
      input.Skip((count - write) * unit);
      out += write * unit;
    }
    pixelsLeft -= write;
  }
  source = input.Position();
  dest = out;
}

void TTargaRLEDecoder::Encode(const uint8_t* source, uint8_t* dest, int32_t count,
                              int32_t& bytesStored) {
  int32_t unit = (colorDepth_ + 1) / 8;
  bytesStored = 0;
  if (unit <= 0) return;
  auto same = [&](const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, unit) == 0; };
  while (count > 0) {
    // Pixels that differ from their successor, up to the first pixel equal to the next one.
    int32_t diff = 0;
    if (count == 1) {
      diff = 1;
    } else {
      // With no two neighbours equal, all but the last pixel go in this packet.
      while (diff < count - 1 && !same(source + diff * unit, source + (diff + 1) * unit)) ++diff;
    }
    int32_t run = 1;
    while (run < count && same(source + (run - 1) * unit, source + run * unit)) ++run;
    diff = std::min(diff, 128);
    run = std::min(run, 128);
    if (diff > 0) {
      *dest++ = static_cast<uint8_t>(diff - 1);
      std::memcpy(dest, source, static_cast<size_t>(diff) * unit);
      dest += diff * unit;
      source += diff * unit;
      count -= diff;
      bytesStored += diff * unit + 1;
    }
    if (diff == 0 && run > 1) {
      *dest++ = static_cast<uint8_t>((run - 1) | 128);
      std::memcpy(dest, source + (run - 1) * unit, unit);
      dest += unit;
      source += run * unit;
      count -= run;
      bytesStored += unit + 1;
    }
  }
}

// --- PackBits

void TPackbitsRLEDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize,
                                 int32_t unpackedSize) {
  TInput input(source, packedSize);
  uint8_t* out = dest;
  int32_t outLeft = std::max(unpackedSize, 0);
  while (outLeft > 0 && !input.Empty()) {
    int32_t n = static_cast<int8_t>(input.Byte());
    if (n >= 0) {
      int32_t count = std::min(n + 1, outLeft);
      count = input.Copy(out, count);
      out += count;
      outLeft -= count;
    } else if (n != -128) {
      int32_t count = std::min(1 - n, outLeft);
      if (input.Empty()) break;
      Fill(out, input.Byte(), count);
      out += count;
      outLeft -= count;
    }
  }
  source = input.Position();
  dest = out;
}

// --- PCX

void TPCXRLEDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize,
                            int32_t unpackedSize) {
  TInput input(source, packedSize);
  uint8_t* out = dest;
  int32_t outLeft = std::max(unpackedSize, 0);
  while (outLeft > 0) {
    uint8_t b = input.Byte();
    if ((b & 0xC0) == 0xC0) {
      int32_t count = std::min<int32_t>(b & 0x3F, outLeft);
      uint8_t value = input.Byte();
      Fill(out, value, count);
      out += count;
      outLeft -= count;
    } else {
      *out++ = b;
      --outLeft;
    }
  }
}

// --- SGI

void TSGIRLEDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize,
                            int32_t unpackedSize) {
  TInput input(source, packedSize);
  uint8_t* out = dest;
  int32_t outLeft = std::max(unpackedSize, 0);
  int32_t unit = sampleSize_ == 16 ? 2 : 1;
  while (true) {
    // A full row needs no end marker.
    if (outLeft < unit && input.Empty()) break;
    uint32_t header = input.Byte();
    if (unit == 2) header = (header << 8) | input.Byte();
    int32_t count = static_cast<int32_t>(header & 127);
    if (count == 0) break;
    if (header & 128) {
      int32_t bytes = count * unit;
      if (input.Left() < bytes) Truncated();
      int32_t write = std::min(bytes, outLeft / unit * unit);
      input.Copy(out, write);
      input.Skip(bytes - write);
      out += write;
      outLeft -= write;
    } else {
      uint8_t value[2];
      if (input.Left() < unit) Truncated();
      input.Copy(value, unit);
      for (int32_t i = 0; i < count && outLeft >= unit; ++i) {
        std::memcpy(out, value, static_cast<size_t>(unit));
        out += unit;
        outLeft -= unit;
      }
    }
  }
}

// --- CUT

void TCUTRLEDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize,
                            int32_t unpackedSize) {
  TInput input(source, packedSize);
  uint8_t* out = dest;
  int32_t outLeft = std::max(unpackedSize, 0);
  input.Byte();  // the row's byte count
  input.Byte();
  while (true) {
    uint8_t b = input.Byte();
    if (b == 0) break;
    int32_t count = b & 127;
    int32_t write = std::min(count, outLeft);
    if (b & 128) {
      uint8_t value = input.Byte();
      Fill(out, value, write);
    } else {
      if (input.Left() < count) Truncated();
      input.Copy(out, write);
      input.Skip(count - write);
    }
    out += write;
    outLeft -= write;
  }
  source = input.Position();
  dest = out;
}

// --- Paint Shop Pro

void TPSPRLEDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize,
                            int32_t unpackedSize) {
  TInput input(source, packedSize);
  uint8_t* out = dest;
  int32_t outLeft = std::max(unpackedSize, 0);
  while (!input.Empty()) {
    uint8_t b = input.Byte();
    if (b < 128) {
      int32_t write = std::min<int32_t>(b, outLeft);
      write = input.Copy(out, write);
      input.Skip(b - write);
      out += write;
      outLeft -= write;
    } else {
      if (input.Empty()) break;
      uint8_t value = input.Byte();
      int32_t write = std::min<int32_t>(b - 128, outLeft);
      Fill(out, value, write);
      out += write;
      outLeft -= write;
    }
  }
}

// --- RLA

void TRLADecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize,
                         int32_t unpackedSize) {
  TInput input(source, packedSize);
  uint8_t* out = dest;
  int32_t outLeft = std::max(unpackedSize, 0);
  while (!input.Empty()) {
    int32_t n = static_cast<int8_t>(input.Byte());
    if (n >= 0) {
      if (input.Empty()) break;
      uint8_t value = input.Byte();
      int32_t write = std::min(n + 1, outLeft);
      Fill(out, value, write);
      out += write;
      outLeft -= write;
    } else {
      int32_t count = -n;
      int32_t write = std::min(count, outLeft);
      write = input.Copy(out, write);
      input.Skip(count - write);
      out += write;
      outLeft -= write;
    }
  }
}

// --- Deflate

struct TLZ77Decoder::TState {
  z_stream Stream{};
};

TLZ77Decoder::TLZ77Decoder(int32_t flushMode, bool autoReset)
    : state_(std::make_unique<TState>()), flushMode_(flushMode), autoReset_(autoReset) {}

TLZ77Decoder::~TLZ77Decoder() {
  if (initialised_) inflateEnd(&state_->Stream);
}

void TLZ77Decoder::DecodeInit() {
  if (initialised_) return;
  state_->Stream = z_stream{};
  if (inflateInit(&state_->Stream) < 0) throw EGraphicCompression(gesLZ77Error);
  initialised_ = true;
  lastResult_ = Z_OK;
}

void TLZ77Decoder::DecodeEnd() {
  if (!initialised_) return;
  initialised_ = false;
  if (inflateEnd(&state_->Stream) < 0) throw EGraphicCompression(gesLZ77Error);
}

void TLZ77Decoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize,
                          int32_t unpackedSize) {
  if (!initialised_) throw EGraphicCompression(gesLZ77Error);
  z_stream& z = state_->Stream;
  z.next_in = source;
  z.avail_in = static_cast<uInt>(std::max(packedSize, 0));
  if (autoReset_) lastResult_ = inflateReset(&z);
  if (lastResult_ == Z_OK) {
    z.next_out = dest;
    z.avail_out = static_cast<uInt>(std::max(unpackedSize, 0));
    lastResult_ = inflate(&z, flushMode_);
    source = z.next_in;
    dest = z.next_out;
  }
}

int32_t TLZ77Decoder::AvailableInput() const { return static_cast<int32_t>(state_->Stream.avail_in); }
int32_t TLZ77Decoder::AvailableOutput() const {
  return static_cast<int32_t>(state_->Stream.avail_out);
}
