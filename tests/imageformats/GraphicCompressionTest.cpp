// Decoders: run-length codecs and the Targa encoder, fax and ThunderScan codes, deflate; bounds.
#include "imageformats/GraphicCompression.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Decodes `packed` into `size` units of `unit` bytes; answers the output.
Bytes Decode(TDecoder& decoder, Bytes packed, int32_t size, int32_t unit = 1) {
  Bytes out(static_cast<size_t>(size * unit), 0xCD);
  uint8_t* source = packed.data();
  uint8_t* dest = out.data();
  decoder.DecodeInit();
  decoder.Decode(source, dest, static_cast<int32_t>(packed.size()), size);
  decoder.DecodeEnd();
  return out;
}

// Writes a string of '0'/'1' characters as bytes, most significant bit first, zero padded.
Bytes Bits(const std::string& bits) {
  Bytes out((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  return out;
}

}  // namespace

TEST(RunLengthCodecs, Targa) {
  TTargaRLEDecoder d(24);
  EXPECT_EQ(Decode(d, {0x82, 1, 2, 3}, 3, 3), (Bytes{1, 2, 3, 1, 2, 3, 1, 2, 3}));
  EXPECT_EQ(Decode(d, {0x01, 1, 2, 3, 4, 5, 6}, 2, 3), (Bytes{1, 2, 3, 4, 5, 6}));
  // A run reaching past the output is cut at its end.
  EXPECT_EQ(Decode(d, {0xFF, 9, 9, 9}, 2, 3), (Bytes{9, 9, 9, 9, 9, 9}));
  // The source and destination come back advanced.
  Bytes packed{0x80, 7, 7, 7, 0x00, 8, 8, 8};
  Bytes out(6);
  uint8_t* s = packed.data();
  uint8_t* o = out.data();
  d.Decode(s, o, 8, 1);
  EXPECT_EQ(s - packed.data(), 4);
  EXPECT_EQ(o - out.data(), 3);
  EXPECT_THROW(Decode(d, {0x81, 1, 2}, 2, 3), EGraphicCompression);
  TTargaRLEDecoder odd(12);
  EXPECT_EQ(Decode(odd, {0x80, 1}, 1), (Bytes{0xCD}));  // unknown depth decodes nothing
}

TEST(RunLengthCodecs, TargaEncodeRoundTrip) {
  TTargaRLEDecoder d(24);
  const Bytes row{1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 3, 3, 3};  // A A A B C
  Bytes packed(2 * row.size());
  int32_t stored = 0;
  d.Encode(row.data(), packed.data(), 5, stored);
  EXPECT_EQ(stored, 12);
  packed.resize(static_cast<size_t>(stored));
  EXPECT_EQ(packed, (Bytes{0x82, 1, 1, 1, 0x00, 2, 2, 2, 0x00, 3, 3, 3}));
  EXPECT_EQ(Decode(d, packed, 5, 3), row);
  // Distinct pixels: a literal of count - 1 and one of 1.
  const Bytes distinct{1, 0, 0, 2, 0, 0, 3, 0, 0};
  packed.assign(20, 0);
  d.Encode(distinct.data(), packed.data(), 3, stored);
  EXPECT_EQ(stored, 1 + 6 + 1 + 3);
  EXPECT_EQ(packed[0], 1);
  EXPECT_EQ(packed[7], 0);
  // Long rows: random runs survive the round trip.
  std::mt19937 random(5);
  for (int trial = 0; trial < 50; ++trial) {
    int32_t count = 1 + static_cast<int32_t>(random() % 400);
    Bytes pixels(static_cast<size_t>(count) * 2);
    for (int32_t i = 0; i < count; ++i) {
      uint8_t v = random() % 3 == 0 ? static_cast<uint8_t>(random()) : (i ? pixels[2 * i - 2] : 0);
      pixels[2 * i] = v;
      pixels[2 * i + 1] = 0x55;
    }
    TTargaRLEDecoder d16(16);
    Bytes enc(pixels.size() * 2 + 8);
    d16.Encode(pixels.data(), enc.data(), count, stored);
    enc.resize(static_cast<size_t>(stored));
    EXPECT_EQ(Decode(d16, enc, count, 2), pixels) << trial;
  }
}

TEST(RunLengthCodecs, PackBits) {
  TPackbitsRLEDecoder d;
  EXPECT_EQ(Decode(d, {0x80, 0xFE, 7}, 3), (Bytes{7, 7, 7}));
  EXPECT_EQ(Decode(d, {0x02, 1, 2, 3, 0xFF, 4}, 5), (Bytes{1, 2, 3, 4, 4}));
  // A literal longer than the data left copies what is there; the rest stays untouched.
  EXPECT_EQ(Decode(d, {0x05, 1, 2}, 4), (Bytes{1, 2, 0xCD, 0xCD}));
}

TEST(RunLengthCodecs, PCX) {
  TPCXRLEDecoder d;
  EXPECT_EQ(Decode(d, {0xC3, 9, 0x41}, 4), (Bytes{9, 9, 9, 0x41}));
  EXPECT_THROW(Decode(d, {0xC3, 9}, 4), EGraphicCompression);
  EXPECT_THROW(Decode(d, {0xC3}, 4), EGraphicCompression);
}

TEST(RunLengthCodecs, SGI) {
  TSGIRLEDecoder d8(8);
  EXPECT_EQ(Decode(d8, {0x83, 1, 2, 3, 0x02, 9, 0x00}, 5), (Bytes{1, 2, 3, 9, 9}));
  EXPECT_THROW(Decode(d8, {0x85, 1}, 5), EGraphicCompression);
  TSGIRLEDecoder d16(16);
  EXPECT_EQ(Decode(d16, {0x00, 0x81, 0x12, 0x34, 0x00, 0x02, 0xAB, 0xCD, 0x00, 0x00}, 6),
            (Bytes{0x12, 0x34, 0xAB, 0xCD, 0xAB, 0xCD}));
}

TEST(RunLengthCodecs, CUTSkipsRowCountAndAdvances) {
  TCUTRLEDecoder d;
  Bytes packed{0x99, 0x99, 0x83, 5, 0x02, 1, 2, 0x00, 0x77, 0x77, 0x81, 6, 0x00};
  Bytes out(5, 0);
  uint8_t* s = packed.data();
  uint8_t* o = out.data();
  d.Decode(s, o, static_cast<int32_t>(packed.size()), 5);
  EXPECT_EQ(out, (Bytes{5, 5, 5, 1, 2}));
  EXPECT_EQ(s - packed.data(), 8);
  Bytes next(1, 0);
  o = next.data();
  d.Decode(s, o, static_cast<int32_t>(packed.data() + packed.size() - s), 1);
  EXPECT_EQ(next[0], 6);
}

TEST(RunLengthCodecs, PSPAndRLA) {
  TPSPRLEDecoder psp;
  EXPECT_EQ(Decode(psp, {0x02, 1, 2, 0x83, 7}, 5), (Bytes{1, 2, 7, 7, 7}));
  TRLADecoder rla;
  EXPECT_EQ(Decode(rla, {0x02, 7, 0xFE, 1, 2}, 5), (Bytes{7, 7, 7, 1, 2}));
  // Runs past the output are cut.
  EXPECT_EQ(Decode(rla, {0x7F, 3}, 3), (Bytes{3, 3, 3}));
}

// --- Fax

namespace {
const char* kWhite5 = "1100";
const char* kBlack3 = "10";
const char* kEOL = "000000000001";
}  // namespace

TEST(FaxDecoders, ModifiedHuffmanRows) {
  // Width 8: white 5, black 3 in each of two rows; rows start on source bytes.
  std::string row = std::string(kWhite5) + kBlack3;  // 6 bits
  Bytes packed = Bits(row + "00" + row + "00");
  TCCITTMHDecoder d(0, false, false, 8);
  EXPECT_EQ(Decode(d, packed, 2), (Bytes{0x07, 0x07}));
}

TEST(FaxDecoders, MakeUpAndTerminatingCodesFormOneRun) {
  // White 1733 = make-up 1728 + 5, then black 3: width 1736.
  std::string row = std::string("010011011") + kWhite5 + kBlack3;
  TCCITTMHDecoder d(0, false, false, 1736);
  Bytes out = Decode(d, Bits(row), 217);
  EXPECT_EQ(out[216], 0x07);
  for (int i = 0; i < 216; ++i) ASSERT_EQ(out[i], 0) << i;
  // Black make-up codes differ from the white ones: black 64 + 0 after white 0.
  std::string black64 = std::string("00110101") + "0000001111" + "0000110111";
  TCCITTMHDecoder d2(0, false, false, 64);
  EXPECT_EQ(Decode(d2, Bits(black64), 8), Bytes(8, 0xFF));
}

TEST(FaxDecoders, Fax3SynchronisesOnEndOfLine) {
  std::string row = std::string(kWhite5) + kBlack3;
  // EOL, row, EOL, row (the row's own end comes before the next EOL).
  Bytes packed = Bits(std::string(kEOL) + row + kEOL + row);
  TCCITTFax3Decoder d(0, false, false, 8);
  EXPECT_EQ(Decode(d, packed, 2), (Bytes{0x07, 0x07}));
}

TEST(FaxDecoders, SwapBitsReversesTheSourceInPlace) {
  std::string row = std::string(kWhite5) + kBlack3 + "00";
  Bytes packed = Bits(row);
  uint8_t reversed = 0;
  for (int i = 0; i < 8; ++i)
    if (packed[0] & (1 << i)) reversed |= static_cast<uint8_t>(0x80 >> i);
  Bytes swapped{reversed};
  TCCITTMHDecoder d(0, true, false, 8);
  Bytes out(1);
  uint8_t* s = swapped.data();
  uint8_t* o = out.data();
  d.Decode(s, o, 1, 1);
  EXPECT_EQ(out[0], 0x07);
  EXPECT_EQ(swapped[0], packed[0]);
}

TEST(FaxDecoders, ThunderScan) {
  TThunderDecoder d(4);
  // 0xC7: pixel 7; 0x02: two more of the last value; 0x41: deltas 0, 0, +1.
  EXPECT_EQ(Decode(d, {0xC7, 0x02, 0x41}, 3), (Bytes{0x77, 0x77, 0x78}));
}

// --- Deflate

TEST(LZ77Decoder, InflatesAndReportsStreamEnd) {
  std::string text(1000, 'a');
  for (size_t i = 0; i < text.size(); i += 7) text[i] = static_cast<char>('a' + i % 26);
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  Bytes packed(size);
  ASSERT_EQ(compress(packed.data(), &size, reinterpret_cast<const Bytef*>(text.data()),
                     static_cast<uLong>(text.size())),
            Z_OK);
  packed.resize(size);
  TLZ77Decoder d(Z_PARTIAL_FLUSH, false);
  d.DecodeInit();
  Bytes out(text.size());
  uint8_t* s = packed.data();
  uint8_t* o = out.data();
  // Two calls continue one stream.
  d.Decode(s, o, 10, 1000);
  EXPECT_EQ(d.LastResult(), Z_OK);
  d.Decode(s, o, static_cast<int32_t>(packed.data() + packed.size() - s),
           static_cast<int32_t>(out.data() + out.size() - o));
  EXPECT_EQ(d.LastResult(), Z_STREAM_END);
  EXPECT_EQ(std::string(out.begin(), out.end()), text);
  d.DecodeEnd();
  // With AutoReset every call is a new stream.
  TLZ77Decoder r(Z_PARTIAL_FLUSH, true);
  r.DecodeInit();
  for (int i = 0; i < 2; ++i) {
    s = packed.data();
    o = out.data();
    std::fill(out.begin(), out.end(), 0);
    r.Decode(s, o, static_cast<int32_t>(packed.size()), static_cast<int32_t>(out.size()));
    EXPECT_EQ(r.LastResult(), Z_STREAM_END);
    EXPECT_EQ(std::string(out.begin(), out.end()), text);
  }
  r.DecodeEnd();
}

// --- Bounds: random input never reads or writes outside the buffers (checked by ASan).

TEST(DecoderFuzz, RandomInputStaysInBounds) {
  std::mt19937 random(42);
  for (int trial = 0; trial < 3000; ++trial) {
    Bytes packed(random() % 64);
    for (auto& b : packed) b = static_cast<uint8_t>(random());
    int32_t size = static_cast<int32_t>(random() % 48);
    std::vector<std::unique_ptr<TDecoder>> decoders;
    decoders.push_back(std::make_unique<TTargaRLEDecoder>(24));
    decoders.push_back(std::make_unique<TPackbitsRLEDecoder>());
    decoders.push_back(std::make_unique<TPCXRLEDecoder>());
    decoders.push_back(std::make_unique<TSGIRLEDecoder>(8));
    decoders.push_back(std::make_unique<TSGIRLEDecoder>(16));
    decoders.push_back(std::make_unique<TCUTRLEDecoder>());
    decoders.push_back(std::make_unique<TPSPRLEDecoder>());
    decoders.push_back(std::make_unique<TRLADecoder>());
    decoders.push_back(std::make_unique<TCCITTFax3Decoder>(0, trial & 1, false, random() % 40));
    decoders.push_back(std::make_unique<TCCITTMHDecoder>(0, false, trial & 1, random() % 40));
    decoders.push_back(std::make_unique<TThunderDecoder>(random() % 9));
    decoders.push_back(std::make_unique<TLZ77Decoder>(Z_PARTIAL_FLUSH, true));
    for (size_t k = 0; k < decoders.size(); ++k) {
      Bytes input(packed);
      int32_t unit = k == 0 ? 3 : 1;
      Bytes out(static_cast<size_t>(size * unit));
      uint8_t* s = input.data();
      uint8_t* o = out.data();
      try {
        decoders[k]->DecodeInit();
        decoders[k]->Decode(s, o, static_cast<int32_t>(input.size()), size);
        decoders[k]->DecodeEnd();
      } catch (const EGraphicCompression&) {
      }
      EXPECT_GE(s, input.data());
      EXPECT_LE(s, input.data() + input.size());
      EXPECT_LE(o, out.data() + out.size());
    }
  }
}
