// Checksums, Base64 and the block cipher: known values, edge cases and round trips.
#include "exceptions/EmberCodecs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> RandomBytes(std::mt19937& random, size_t count) {
  std::vector<uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

}  // namespace

TEST(Checksums, KnownValuesAndEmptyInput) {
  EXPECT_EQ(Crc32Buffer("abc", 3), 0x352441C2u);
  EXPECT_EQ(Crc32Buffer(nullptr, 10), 0u);
  EXPECT_EQ(Crc32Buffer("abc", 0), 0u);
  EXPECT_EQ(Crc32Buffer("abc", -1), 0u);
  EXPECT_EQ(Crc16String("123456789"), 0x31C3);
  EXPECT_EQ(Crc16String(""), 0);
}

TEST(Checksums, Crc32OfConcatenationDiffersFromParts) {
  // A single flipped bit anywhere changes the checksum.
  std::mt19937 random(7);
  auto bytes = RandomBytes(random, 513);
  uint32_t crc = Crc32Buffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  for (size_t i = 0; i < bytes.size(); i += 37) {
    bytes[i] ^= 0x10;
    EXPECT_NE(Crc32Buffer(bytes.data(), static_cast<int32_t>(bytes.size())), crc);
    bytes[i] ^= 0x10;
  }
}

TEST(Md5, DigestIsStableForEmptyAndNullInput) {
  uint8_t a[16], b[16];
  Md5Buffer(a, nullptr, 0);
  Md5Buffer(b, "", 0);
  EXPECT_EQ(std::memcmp(a, b, 16), 0);
  Md5Buffer(b, "a", 1);
  EXPECT_NE(std::memcmp(a, b, 16), 0);
}

TEST(Base64, KnownValuesAndMalformedInput) {
  EXPECT_EQ(EncodeBase64String("abc"), "YWJj");
  EXPECT_EQ(EncodeBase64String(""), "");
  EXPECT_EQ(EncodeBase64String("ab"), "YWI=");
  EXPECT_EQ(DecodeBase64String("YQ=="), "a");
  EXPECT_EQ(DecodeBase64String("YWI="), "ab");
  EXPECT_EQ(DecodeBase64String("YWJjZ"), "");
  EXPECT_EQ(DecodeBase64String(""), "");
  // The length rule counts only the last two characters' padding.
  EXPECT_EQ(DecodeBase64String("====").size(), 1u);
  EXPECT_EQ(DecodeBase64String("YWJjYQ=="), "abca");
  // Characters outside the alphabet decode as zero bits but never lengthen the result.
  EXPECT_EQ(DecodeBase64String("!!!!").size(), 3u);
}

TEST(Base64, RoundTripsEveryLengthAndStaysInTheAlphabet) {
  std::mt19937 random(11);
  for (size_t n = 0; n < 200; ++n) {
    auto bytes = RandomBytes(random, n);
    std::string text(bytes.begin(), bytes.end());
    std::string encoded = EncodeBase64String(text);
    ASSERT_EQ(encoded.size(), (n + 2) / 3 * 4);
    EXPECT_EQ(encoded.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    EXPECT_EQ(DecodeBase64String(encoded), text) << "length " << n;
  }
}

TEST(Base64, DecodingRandomTextNeverOverruns) {
  std::mt19937 random(13);
  for (int round = 0; round < 2000; ++round) {
    auto bytes = RandomBytes(random, random() % 64);
    std::string text(bytes.begin(), bytes.end());
    std::string decoded = DecodeBase64String(text);
    EXPECT_LE(decoded.size(), text.size() / 4 * 3);
  }
}

TEST(Cipher, BlocksDecipherWhatTheyEncipher) {
  std::mt19937 random(17);
  TeaSetKeyFromPassword("secret");
  for (int round = 0; round < 100; ++round) {
    auto plain = RandomBytes(random, 8);
    uint8_t enciphered[8], back[8];
    TeaEncipherBlock(plain.data(), enciphered);
    EXPECT_NE(std::memcmp(enciphered, plain.data(), 8), 0);
    TeaDecipherBlock(enciphered, back);
    EXPECT_EQ(std::memcmp(back, plain.data(), 8), 0);
  }
}

TEST(Cipher, KeyDependsOnThePassword) {
  uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8}, a[8], b[8];
  TeaSetKeyFromPassword("one");
  TeaEncipherBlock(block, a);
  TeaSetKeyFromPassword("two");
  TeaEncipherBlock(block, b);
  EXPECT_NE(std::memcmp(a, b, 8), 0);
}

TEST(Cipher, ChainedBufferRoundTripsForEveryTailLength) {
  std::mt19937 random(19);
  TeaSetKeyFromPassword("p4ssw0rd");
  for (int32_t n = 0; n <= 48; ++n) {
    auto plain = RandomBytes(random, static_cast<size_t>(n));
    std::vector<uint8_t> enciphered(plain.size()), back(plain.size());
    TeaEncryptBuffer(plain.data(), enciphered.data(), n);
    TeaDecryptBuffer(enciphered.data(), back.data(), n);
    EXPECT_EQ(back, plain) << "length " << n;
    // In place as well.
    TeaDecryptBuffer(enciphered.data(), enciphered.data(), n);
    EXPECT_EQ(enciphered, plain) << "in place, length " << n;
  }
}

TEST(Cipher, TailIsXoredWithTheEncipheredChainingVector) {
  std::mt19937 random(23);
  TeaSetKeyFromPassword("tail");
  auto source = RandomBytes(random, 8 * 3 + 3);
  std::vector<uint8_t> target(source.size());
  TeaDecryptBuffer(source.data(), target.data(), static_cast<int32_t>(source.size()));
  uint8_t pad[8];
  TeaEncipherBlock(&source[16], pad);  // the last full enciphered block is the chaining vector
  for (int i = 0; i < 3; ++i) EXPECT_EQ(target[24 + i], source[24 + i] ^ pad[i]);
  // A buffer shorter than a block uses the initial all-ones vector.
  uint8_t ones[8];
  std::memset(ones, 0xFF, 8);
  TeaEncipherBlock(ones, pad);
  uint8_t shortOut[5];
  TeaDecryptBuffer(source.data(), shortOut, 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(shortOut[i], source[i] ^ pad[i]);
}

TEST(Cipher, FullBlocksAreChainedToThePreviousCiphertext) {
  std::mt19937 random(29);
  TeaSetKeyFromPassword("chain");
  auto source = RandomBytes(random, 32);
  std::vector<uint8_t> target(32);
  TeaDecryptBuffer(source.data(), target.data(), 32);
  // Changing ciphertext block 1 changes plaintext blocks 1 and 2 only.
  auto changed = source;
  changed[9] ^= 1;
  std::vector<uint8_t> target2(32);
  TeaDecryptBuffer(changed.data(), target2.data(), 32);
  EXPECT_TRUE(std::equal(target.begin(), target.begin() + 8, target2.begin()));
  EXPECT_FALSE(std::equal(target.begin() + 8, target.begin() + 16, target2.begin() + 8));
  EXPECT_EQ(target[17] ^ target2[17], 1);
  EXPECT_TRUE(std::equal(target.begin() + 24, target.end(), target2.begin() + 24));
}

TEST(CodecHelpers, SwapAndXor) {
  EXPECT_EQ(SwapBytes32(0x11223344u), 0x44332211u);
  uint8_t a[3] = {0xF0, 0x0F, 0xAA}, b[3] = {0xFF, 0xFF, 0xAA};
  XorBuffer(a, b, 3);
  EXPECT_EQ(a[0], 0x0F);
  EXPECT_EQ(a[1], 0xF0);
  EXPECT_EQ(a[2], 0x00);
}
