// The codecs against python3's zlib, binascii, hashlib and base64, and against an independent
// rendering of the block cipher, on random buffers of many lengths.
#include "exceptions/EmberCodecs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TestFiles.h"

namespace {

using Buffers = std::vector<std::string>;

Buffers RandomBuffers(uint32_t seed) {
  std::mt19937 random(seed);
  Buffers buffers;
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 130; ++n) lengths.push_back(n);
  for (size_t n : {255u, 256u, 1000u, 4095u, 65536u, 100003u}) lengths.push_back(n);
  for (size_t n : lengths) {
    std::string b(n, '\0');
    for (auto& c : b) c = static_cast<char>(random());
    buffers.push_back(b);
  }
  return buffers;
}

void WriteRecords(const std::string& path, const Buffers& buffers) {
  std::ofstream out(path, std::ios::binary);
  for (const auto& b : buffers) {
    uint32_t n = static_cast<uint32_t>(b.size());
    for (int i = 0; i < 4; ++i) out.put(static_cast<char>(n >> (8 * i)));
    out.write(b.data(), static_cast<std::streamsize>(b.size()));
  }
}

std::vector<std::string> RunReference(const std::string& arguments) {
  std::string script = SourceFilePath("tests/exceptions/codec_reference.py");
  return TextLines(CommandOutput("python3 '" + script + "' " + arguments));
}

std::string Hex(const uint8_t* bytes, size_t n) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    out += two;
  }
  return out;
}

std::string FromHex(const std::string& hex) {
  std::string out;
  if (hex == "-") return out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

}  // namespace

TEST(CodecReference, ChecksumsDigestsAndBase64AgreeWithPython) {
  TempDir dir;
  Buffers buffers = RandomBuffers(101);
  WriteRecords(dir.File("records.bin"), buffers);
  auto lines = RunReference("digests '" + dir.File("records.bin") + "'");
  ASSERT_EQ(lines.size(), buffers.size()) << "python3 reference did not run";
  for (size_t i = 0; i < buffers.size(); ++i) {
    const std::string& b = buffers[i];
    std::istringstream fields(lines[i]);
    std::string crc32, crc16, md5, b64;
    fields >> crc32 >> crc16 >> md5 >> b64;
    int32_t n = static_cast<int32_t>(b.size());
    char text[16];
    std::snprintf(text, sizeof text, "%08x", Crc32Buffer(b.data(), n));
    EXPECT_EQ(text, crc32) << "crc32, length " << n;
    std::snprintf(text, sizeof text, "%04x", Crc16String(b));
    EXPECT_EQ(text, crc16) << "crc16, length " << n;
    uint8_t digest[16];
    Md5Buffer(digest, b.data(), n);
    EXPECT_EQ(Hex(digest, 16), md5) << "md5, length " << n;
    std::string encoded = EncodeBase64String(b);
    EXPECT_EQ(encoded.empty() ? "-" : encoded, b64) << "base64, length " << n;
    EXPECT_EQ(DecodeBase64String(b64 == "-" ? "" : b64), b) << "base64 decode, length " << n;
  }
}

TEST(CodecReference, ChainedCipherAgreesWithAnIndependentRendering) {
  TempDir dir;
  Buffers buffers = RandomBuffers(202);
  buffers.resize(140);  // every tail length many times over, without the largest buffers
  WriteRecords(dir.File("records.bin"), buffers);
  const std::string password = "Tarvik-KBL";
  auto lines = RunReference("cipher '" + password + "' '" + dir.File("records.bin") + "'");
  ASSERT_EQ(lines.size(), buffers.size()) << "python3 reference did not run";
  TeaSetKeyFromPassword(password);
  for (size_t i = 0; i < buffers.size(); ++i) {
    std::string enciphered = FromHex(lines[i]);
    ASSERT_EQ(enciphered.size(), buffers[i].size());
    int32_t n = static_cast<int32_t>(enciphered.size());
    std::string plain(enciphered.size(), '\0');
    TeaDecryptBuffer(enciphered.data(), plain.data(), n);
    EXPECT_EQ(plain, buffers[i]) << "decrypt, length " << n;
    std::string ours(enciphered.size(), '\0');
    TeaEncryptBuffer(buffers[i].data(), ours.data(), n);
    EXPECT_EQ(ours, enciphered) << "encrypt, length " << n;
  }
}
