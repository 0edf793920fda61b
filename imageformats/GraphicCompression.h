// Decoders of the image library: the shared decoder interface, the run-length codecs (with the
// Targa encoder), the fax and ThunderScan decoders, deflate through zlib and TIFF JPEG strips.
//
// Every decoder reads at most `packedSize` bytes from the source and writes at most
// `unpackedSize` units to the destination, whatever the data says; a packet that reaches past
// the output is cut at its end. Codecs whose output size is fixed raise EGraphicCompression when
// their input ends before the output is complete.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "GraphicFormats.h"
#include "classlib/SysUtils.h"

KBL_DECLARE_EXCEPTION(EGraphicCompression, Exception);

// Turns packed data into plain rows. `source` and `dest` are handed back advanced by the codecs
// whose description says so.
class TDecoder {
 public:
  virtual ~TDecoder() = default;
  virtual void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize,
                      int32_t unpackedSize) = 0;
  virtual void DecodeEnd() {}
  virtual void DecodeInit() {}
  // Encodes `count` units into `dest` (which holds at least twice the input); only Targa's.
  virtual void Encode(const uint8_t* source, uint8_t* dest, int32_t count, int32_t& bytesStored) {
    bytesStored = 0;
  }
  virtual void EncodeInit() {}
  virtual void EncodeEnd() {}
};

// --- Run-length codecs

// Targa packets of whole pixels (8, 15, 16, 24 or 32 bits); `unpackedSize` counts pixels. Source
// and destination are handed back advanced.
class TTargaRLEDecoder : public TDecoder {
 public:
  explicit TTargaRLEDecoder(int32_t colorDepth) : colorDepth_(colorDepth) {}
  void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  void Encode(const uint8_t* source, uint8_t* dest, int32_t count, int32_t& bytesStored) override;

 private:
  int32_t colorDepth_;
};

// PackBits (TIFF 32773, Photoshop). Stops when either size is used up.
class TPackbitsRLEDecoder : public TDecoder {
 public:
  void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
};

// PCX: bytes with both top bits set announce a run.
class TPCXRLEDecoder : public TDecoder {
 public:
  void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
};

// SGI rows of 8- or 16-bit samples (16-bit values stay big-endian); ends at a zero count.
class TSGIRLEDecoder : public TDecoder {
 public:
  explicit TSGIRLEDecoder(uint8_t sampleSize) : sampleSize_(sampleSize) {}
  void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;

 private:
  uint8_t sampleSize_;
};

// Dr. Halo rows: a 2-byte count, packets, a zero header. The source is handed back advanced.
class TCUTRLEDecoder : public TDecoder {
 public:
  void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
};

// Paint Shop Pro channels.
class TPSPRLEDecoder : public TDecoder {
 public:
  void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
};

// Wavefront RLA channels.
class TRLADecoder : public TDecoder {
 public:
  void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
};

// --- Fax and ThunderScan

// One-dimensional modified Huffman codes of ITU-T T.4 into 1-bit rows (1 = black), each row
// starting on a byte boundary of the output ((Width + 7) / 8 bytes per row).
class TCCITTDecoder : public TDecoder {
 public:
  TCCITTDecoder(uint32_t options, bool swapBits, bool wordAligned, uint32_t width);

 protected:
  struct TNode {
    int32_t Child[2] = {0, 0};
    int32_t Value = -2;
  };
  using TStateArray = std::vector<TNode>;

  void Reset(uint8_t* source, uint8_t* dest, int32_t packedSize, int32_t unpackedSize);
  // A run length of the current colour; -1 end of line, -2 invalid code.
  int32_t ReadRun();
  bool NextBit(int32_t& bit);   // consumes a bit; false at the end of the source
  bool PeekBit(int32_t& bit);
  bool SourceExhausted() const { return bitsLeft_ == 0 && sourceLeft_ <= 0; }
  void WriteRun(int32_t length);
  // Moves to the start of the next output row; false when the output is full.
  bool NextRow();
  void DropSourceBits() { bitsLeft_ = 0; }

  uint32_t Options;
  bool IsWhite = true;
  bool SwapBits;
  TStateArray WhiteCodes;
  TStateArray BlackCodes;
  uint32_t Width;
  bool WordAligned;

  // Bit reader
  uint8_t currentByte_ = 0;
  uint8_t bitMask_ = 128;
  int32_t bitsLeft_ = 0;
  int32_t sourceLeft_ = 0;
  uint8_t* source_ = nullptr;
  uint8_t* sourceStart_ = nullptr;
  // Row writer
  int64_t PixelsLeft = 0;
  uint8_t* rowStart_ = nullptr;
  uint8_t* destEnd_ = nullptr;

 private:
  static void AddCode(TStateArray& tree, const char* bits, int32_t value);
  static void BuildTree(TStateArray& tree, bool white);
};

// TIFF compression 3 with one-dimensional coding: rows introduced by end-of-line codes.
class TCCITTFax3Decoder : public TCCITTDecoder {
 public:
  using TCCITTDecoder::TCCITTDecoder;
  void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
};

// TIFF compressions 2 and 32771: rows without end-of-line codes, each starting on a source byte
// (on an even source byte when word-aligned).
class TCCITTMHDecoder : public TCCITTDecoder {
 public:
  using TCCITTDecoder::TCCITTDecoder;
  void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
};

// ThunderScan 4-bit data (TIFF 32809).
class TThunderDecoder : public TDecoder {
 public:
  explicit TThunderDecoder(uint32_t width) : width_(width) {}
  void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;

 private:
  uint32_t width_;
};

// --- Decoders on outside libraries

// Deflate streams through zlib. Decode never raises for data errors: callers read LastResult
// (zlib's result code: 0 ok, 1 stream end, negative errors).
class TLZ77Decoder : public TDecoder {
 public:
  TLZ77Decoder(int32_t flushMode, bool autoReset);
  ~TLZ77Decoder() override;
  void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  void DecodeInit() override;  // EGraphicCompression "LZ77 decompression error." on failure
  void DecodeEnd() override;
  int32_t LastResult() const { return lastResult_; }
  int32_t AvailableInput() const;
  int32_t AvailableOutput() const;

 private:
  struct TState;
  std::unique_ptr<TState> state_;
  int32_t lastResult_ = 0;
  int32_t flushMode_;
  bool autoReset_;
  bool initialised_ = false;
};

// JPEG strips of TIFF compression 7 through libjpeg, delivering blue-first rows (or grey bytes for
// one-component strips). A strip libjpeg cannot decode raises EInvalidGraphic ("JPEG error #<n>:
// <libjpeg's message>"); a strip that does not fit the TIFF's properties EGraphicCompression.
// Warnings (damaged or truncated data) go to the warning handler.
class TTIFFJPEGDecoder : public TDecoder {
 public:
  explicit TTIFFJPEGDecoder(TImageProperties* properties);
  ~TTIFFJPEGDecoder() override;
  void Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) override;
  void DecodeInit() override;
  void DecodeEnd() override;

  // Receives the texts of JPEG warnings (caption "Warning"); on Windows a message box with the
  // exclamation icon by default, nothing elsewhere; nullptr drops them. Any thread may decode, so
  // the handler may be called from any thread.
  using TWarningHandler = void (*)(const std::string& caption, const std::string& message);
  static void SetWarningHandler(TWarningHandler handler);
  static void Warn(const std::string& message);

 private:
  struct TState;
  std::unique_ptr<TState> state_;
  TImageProperties* properties_;
};
