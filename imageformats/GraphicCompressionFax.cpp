// Modified Huffman (ITU-T T.4, one-dimensional) and ThunderScan decoders.
#include <algorithm>
#include <cstring>

#include "GraphicCompression.h"

namespace {

// Terminating codes for runs 0..63.
const char* const kWhiteTerminating[64] = {
    "00110101", "000111",   "0111",     "1000",     "1011",     "1100",     "1110",
    "1111",     "10011",    "10100",    "00111",    "01000",    "001000",   "000011",
    "110100",   "110101",   "101010",   "101011",   "0100111",  "0001100",  "0001000",
    "0010111",  "0000011",  "0000100",  "0101000",  "0101011",  "0010011",  "0100100",
    "0011000",  "00000010", "00000011", "00011010", "00011011", "00010010", "00010011",
    "00010100", "00010101", "00010110", "00010111", "00101000", "00101001", "00101010",
    "00101011", "00101100", "00101101", "00000100", "00000101", "00001010", "00001011",
    "01010010", "01010011", "01010100", "01010101", "00100100", "00100101", "01011000",
    "01011001", "01011010", "01011011", "01001010", "01001011", "00110010", "00110011",
    "00110100"};

const char* const kBlackTerminating[64] = {
    "0000110111",   "010",          "11",           "10",           "011",
    "0011",         "0010",         "00011",        "000101",       "000100",
    "0000100",      "0000101",      "0000111",      "00000100",     "00000111",
    "000011000",    "0000010111",   "0000011000",   "0000001000",   "00001100111",
    "00001101000",  "00001101100",  "00000110111",  "00000101000",  "00000010111",
    "00000011000",  "000011001010", "000011001011", "000011001100", "000011001101",
    "000001101000", "000001101001", "000001101010", "000001101011", "000011010010",
    "000011010011", "000011010100", "000011010101", "000011010110", "000011010111",
    "000001101100", "000001101101", "000011011010", "000011011011", "000001010100",
    "000001010101", "000001010110", "000001010111", "000001100100", "000001100101",
    "000001010010", "000001010011", "000000100100", "000000110111", "000000111000",
    "000000100111", "000000101000", "000001011000", "000001011001", "000000101011",
    "000000101100", "000001011010", "000001100110", "000001100111"};

// Make-up codes for 64, 128 .. 1728, one table per colour as T.4 gives them.
const char* const kWhiteMakeUp[27] = {
    "11011",     "10010",     "010111",    "0110111",   "00110110",  "00110111",  "01100100",
    "01100101",  "01101000",  "01100111",  "011001100", "011001101", "011010010", "011010011",
    "011010100", "011010101", "011010110", "011010111", "011011000", "011011001", "011011010",
    "011011011", "010011000", "010011001", "010011010", "011000",    "010011011"};

const char* const kBlackMakeUp[27] = {
    "0000001111",    "000011001000",  "000011001001",  "000001011011",  "000000110011",
    "000000110100",  "000000110101",  "0000001101100", "0000001101101", "0000001001010",
    "0000001001011", "0000001001100", "0000001001101", "0000001110010", "0000001110011",
    "0000001110100", "0000001110101", "0000001110110", "0000001110111", "0000001010010",
    "0000001010011", "0000001010100", "0000001010101", "0000001011010", "0000001011011",
    "0000001100100", "0000001100101"};

// Extended make-up codes for 1792 .. 2560, shared by both colours.
const char* const kExtendedMakeUp[13] = {
    "00000001000",  "00000001100",  "00000001101",  "000000010010", "000000010011",
    "000000010100", "000000010101", "000000010110", "000000010111", "000000011100",
    "000000011101", "000000011110", "000000011111"};

uint8_t ReverseBits(uint8_t b) {
  b = static_cast<uint8_t>((b >> 4) | (b << 4));
  b = static_cast<uint8_t>(((b & 0xCC) >> 2) | ((b & 0x33) << 2));
  return static_cast<uint8_t>(((b & 0xAA) >> 1) | ((b & 0x55) << 1));
}

}  // namespace

// --- Code trees

void TCCITTDecoder::AddCode(TStateArray& tree, const char* bits, int32_t value) {
  int32_t node = 0;
  for (const char* p = bits; *p; ++p) {
    int32_t bit = *p == '1';
    if (tree[node].Child[bit] == 0) {
      tree.push_back(TNode{});
      tree[node].Child[bit] = static_cast<int32_t>(tree.size() - 1);
    }
    node = tree[node].Child[bit];
  }
  tree[node].Value = value;
}

void TCCITTDecoder::BuildTree(TStateArray& tree, bool white) {
  tree.assign(1, TNode{});
  const char* const* terminating = white ? kWhiteTerminating : kBlackTerminating;
  for (int32_t i = 0; i < 64; ++i) AddCode(tree, terminating[i], i);
  const char* const* makeUp = white ? kWhiteMakeUp : kBlackMakeUp;
  for (int32_t i = 0; i < 27; ++i) AddCode(tree, makeUp[i], (i + 1) * 64);
  for (int32_t i = 0; i < 13; ++i) AddCode(tree, kExtendedMakeUp[i], (i + 28) * 64);
  AddCode(tree, "000000000001", -1);
  AddCode(tree, "000000001", -2);
  AddCode(tree, "0000000001", -2);
  AddCode(tree, "00000000001", -2);
  AddCode(tree, "000000000000", -2);
}

TCCITTDecoder::TCCITTDecoder(uint32_t options, bool swapBits, bool wordAligned, uint32_t width)
    : Options(options), SwapBits(swapBits), Width(width), WordAligned(wordAligned) {
  BuildTree(WhiteCodes, true);
  BuildTree(BlackCodes, false);
}

// --- Bits in, runs out

void TCCITTDecoder::Reset(uint8_t* source, uint8_t* dest, int32_t packedSize,
                          int32_t unpackedSize) {
  source_ = sourceStart_ = source;
  sourceLeft_ = std::max(packedSize, 0);
  bitsLeft_ = 0;
  bitMask_ = 128;
  rowStart_ = dest;
  destEnd_ = dest + std::max(unpackedSize, 0);
  PixelsLeft = Width;
  IsWhite = true;
  if (unpackedSize > 0) std::memset(dest, 0, static_cast<size_t>(unpackedSize));
  if (SwapBits)
    for (int32_t i = 0; i < sourceLeft_; ++i) source[i] = ReverseBits(source[i]);
}

bool TCCITTDecoder::PeekBit(int32_t& bit) {
  if (bitsLeft_ == 0) {
    if (sourceLeft_ <= 0) return false;
    currentByte_ = *source_++;
    --sourceLeft_;
    bitMask_ = 128;
    bitsLeft_ = 8;
  }
  bit = (currentByte_ & bitMask_) != 0;
  return true;
}

bool TCCITTDecoder::NextBit(int32_t& bit) {
  if (!PeekBit(bit)) return false;
  bitMask_ >>= 1;
  --bitsLeft_;
  return true;
}

int32_t TCCITTDecoder::ReadRun() {
  const TStateArray& tree = IsWhite ? WhiteCodes : BlackCodes;
  int32_t node = 0;
  int32_t run = 0;
  bool madeUp = false;
  while (true) {
    int32_t bit;
    if (!NextBit(bit)) return run;
    int32_t child = tree[node].Child[bit];
    if (child == 0) return madeUp ? run : -2;  // no code continues this way
    node = child;
    if (tree[node].Child[0] != 0 || tree[node].Child[1] != 0) continue;
    // A leaf, taken as soon as its last bit is read so that a code ending the data counts.
    int32_t value = tree[node].Value;
    if (value < 64) {
      // An end-of-line or invalid code after a make-up code does not count as such.
      if (value < 0 && madeUp) return run;
      return run + value;
    }
    run += value;
    madeUp = true;
    node = 0;
  }
}

void TCCITTDecoder::WriteRun(int32_t length) {
  int64_t n = std::min<int64_t>(length, PixelsLeft);
  if (!IsWhite && n > 0) {
    // Runs are cut at the end of the row; a conforming file has none longer.
    int64_t first = static_cast<int64_t>(Width) - PixelsLeft;
    for (int64_t x = first; x < first + n; ++x) {
      uint8_t* p = rowStart_ + x / 8;
      if (p >= destEnd_) break;
      *p = static_cast<uint8_t>(*p | (0x80 >> (x % 8)));
    }
  }
  PixelsLeft -= n;
}

bool TCCITTDecoder::NextRow() {
  int64_t rowBytes = (static_cast<int64_t>(Width) + 7) / 8;
  if (destEnd_ - rowStart_ <= rowBytes) {
    rowStart_ = destEnd_;
    return false;
  }
  rowStart_ += rowBytes;
  PixelsLeft = Width;
  IsWhite = true;
  return true;
}

// --- Fax group 3, one-dimensional

void TCCITTFax3Decoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize,
                               int32_t unpackedSize) {
  Reset(source, dest, packedSize, unpackedSize);
  if (Width == 0 || unpackedSize <= 0) return;
  int32_t endOfLines = 0;
  while (!SourceExhausted()) {
    if (endOfLines == 0) {
      // Synchronise on an end-of-line code: eleven zero bits, then up to the next one bit.
      int32_t zeros = 0, bit;
      while (zeros < 11 && NextBit(bit)) zeros = bit ? 0 : zeros + 1;
      while (NextBit(bit) && !bit) {
      }
    }
    endOfLines = 0;
    while (true) {
      if (SourceExhausted()) break;
      int32_t run = ReadRun();
      if (run == -1) {
        ++endOfLines;
        break;
      }
      if (run < 0) break;
      WriteRun(run);
      if (PixelsLeft == 0) break;
      IsWhite = !IsWhite;
    }
    if (!NextRow()) break;
  }
}

// --- Modified Huffman without end-of-line codes

void TCCITTMHDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize,
                             int32_t unpackedSize) {
  Reset(source, dest, packedSize, unpackedSize);
  if (Width == 0 || unpackedSize <= 0) return;
  while (!SourceExhausted()) {
    int32_t run = ReadRun();
    if (run > 0) {
      WriteRun(run);
      if (PixelsLeft == 0) {
        // Rows start on a source byte; word-aligned rows on an even byte of the strip.
        DropSourceBits();
        if (WordAligned && ((source_ - sourceStart_) & 1) && sourceLeft_ > 0) {
          ++source_;
          --sourceLeft_;
        }
        if (!NextRow()) break;
        continue;
      }
    }
    IsWhite = !IsWhite;
  }
}

// --- ThunderScan

void TThunderDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize,
                             int32_t unpackedSize) {
  static const int32_t kTwoBitDeltas[4] = {0, 1, 0, -1};
  static const int32_t kThreeBitDeltas[8] = {0, 1, 2, 3, 0, -3, -2, -1};
  const uint8_t* in = source;
  const uint8_t* inEnd = source + std::max(packedSize, 0);
  uint8_t* out = dest;
  uint8_t* outEnd = dest + std::max(unpackedSize, 0);
  int64_t expected = std::max(unpackedSize, 0);
  if (width_ == 0) return;
  int32_t last = 0;
  int64_t count = 0;
  auto setPixel = [&](int32_t value) {
    last = value & 15;
    if (out >= outEnd) return;
    if ((count & 1) == 0) {
      *out = static_cast<uint8_t>(last << 4);
    } else {
      *out = static_cast<uint8_t>(*out | last);
      ++out;
    }
    ++count;
  };
  while (expected > 0) {
    last = 0;
    count = 0;
    while (in < inEnd && count < 2 * static_cast<int64_t>(width_) && out < outEnd) {
      uint8_t b = *in++;
      if (b < 64) {
        for (int32_t i = 0; i < b; ++i) setPixel(last);
      } else if (b < 128) {
        for (int32_t shift = 4; shift >= 0; shift -= 2) {
          int32_t field = (b >> shift) & 3;
          if (field != 2) setPixel(last + kTwoBitDeltas[field]);
        }
      } else if (b < 192) {
        for (int32_t shift = 3; shift >= 0; shift -= 3) {
          int32_t field = (b >> shift) & 7;
          if (field != 4) setPixel(last + kThreeBitDeltas[field]);
        }
      } else {
        setPixel(b & 15);
      }
    }
    expected -= width_;
    if (in >= inEnd || out >= outEnd) break;
  }
}
