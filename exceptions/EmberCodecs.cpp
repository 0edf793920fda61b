// Checksums, MD5, Base64 and the block cipher of the exception library.
#include "EmberCodecs.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// --- CRC tables

std::array<uint32_t, 256> BuildCrc32Table() {
  // The reflected polynomial is assembled from the exponents of the IEEE 802.3 generator, so
  // the table's origin stays visible.
  static const int kExponents[] = {0, 1, 2, 4, 5, 7, 8, 10, 11, 12, 16, 22, 23, 26};
  uint32_t poly = 0;
  for (int e : kExponents) poly |= 1u << (31 - e);
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? poly ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

const std::array<uint32_t, 256>& Crc32Table() {
  // Built on first use; the function-local static makes the first use thread-safe.
  static const std::array<uint32_t, 256> table = BuildCrc32Table();
  return table;
}

constexpr std::array<uint16_t, 256> BuildCrc16Table() {
  std::array<uint16_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n << 8;
    for (int k = 0; k < 8; ++k) c = (c & 0x8000) ? ((c << 1) ^ 0x1021) : (c << 1);
    table[n] = static_cast<uint16_t>(c);
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrc16Table = BuildCrc16Table();

// --- MD5

class Md5 {
 public:
  void Update(const uint8_t* data, size_t length) {
    size_t used = static_cast<size_t>(count_ % 64);
    count_ += length;
    if (used) {
      size_t take = std::min(length, 64 - used);
      std::memcpy(block_ + used, data, take);
      data += take;
      length -= take;
      if (used + take < 64) return;
      Transform(block_);
    }
    for (; length >= 64; data += 64, length -= 64) Transform(data);
    std::memcpy(block_, data, length);
  }

  void Final(uint8_t digest[16]) {
    uint64_t bits = count_ * 8;
    static const uint8_t kPad[64] = {0x80};
    size_t used = static_cast<size_t>(count_ % 64);
    Update(kPad, used < 56 ? 56 - used : 120 - used);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<uint8_t>(bits >> (8 * i));
    Update(length, 8);
    for (int i = 0; i < 4; ++i)
      for (int b = 0; b < 4; ++b) digest[4 * i + b] = static_cast<uint8_t>(state_[i] >> (8 * b));
  }

 private:
  static uint32_t Rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

  void Transform(const uint8_t* p) {
    static const uint32_t kSine[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
        0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
        0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
        0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
        0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
        0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
        0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
        0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
        0xeb86d391};
    static const int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
      x[i] = uint32_t(p[4 * i]) | uint32_t(p[4 * i + 1]) << 8 | uint32_t(p[4 * i + 2]) << 16 |
             uint32_t(p[4 * i + 3]) << 24;
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int i = 0; i < 64; ++i) {
      uint32_t f;
      int g;
      int round = i / 16;
      switch (round) {
        case 0: f = (b & c) | (~b & d); g = i; break;
        case 1: f = (d & b) | (~d & c); g = (5 * i + 1) % 16; break;
        case 2: f = b ^ c ^ d; g = (3 * i + 5) % 16; break;
        default: f = c ^ (b | ~d); g = (7 * i) % 16; break;
      }
      uint32_t next = b + Rotl(a + f + kSine[i] + x[g], kShift[round][i % 4]);
      a = d;
      d = c;
      c = b;
      b = next;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
  }

  uint32_t state_[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  uint64_t count_ = 0;
  uint8_t block_[64] = {};
};

// --- Base64

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<uint8_t, 256> BuildBase64Decode() {
  std::array<uint8_t, 256> table{};
  for (int i = 0; i < 64; ++i) table[static_cast<uint8_t>(kBase64Alphabet[i])] = static_cast<uint8_t>(i);
  return table;
}

constexpr std::array<uint8_t, 256> kBase64Decode = BuildBase64Decode();

// --- Cipher state

constexpr uint32_t kDelta = 0x9E3779B9;
uint32_t gKey[4] = {0, 0, 0, 0};

uint32_t LoadBig(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void StoreBig(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace

// --- Checksums

uint32_t Crc32Buffer(const void* buffer, int32_t length) {
  if (!buffer || length <= 0) return 0;
  const auto& table = Crc32Table();
  const auto* p = static_cast<const uint8_t*>(buffer);
  uint32_t crc = 0xFFFFFFFFu;
  for (int32_t i = 0; i < length; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

uint16_t Crc16String(const std::string& text) {
  uint32_t crc = 0;
  for (unsigned char byte : text) crc = kCrc16Table[(byte ^ (crc >> 8)) & 0xFF] ^ ((crc << 8) & 0xFFFF);
  return static_cast<uint16_t>(crc);
}

// --- MD5

void Md5Buffer(uint8_t digest[16], const void* buffer, int32_t length) {
  Md5 md5;
  if (buffer && length > 0) md5.Update(static_cast<const uint8_t*>(buffer), static_cast<size_t>(length));
  md5.Final(digest);
}

// --- Base64

std::string EncodeBase64Buffer(const void* buffer, int32_t length) {
  std::string out;
  if (!buffer || length <= 0) return out;
  const auto* p = static_cast<const uint8_t*>(buffer);
  size_t n = static_cast<size_t>(length);
  out.reserve((n + 2) / 3 * 4);
  for (size_t i = 0; i < n; i += 3) {
    uint32_t v = uint32_t(p[i]) << 16;
    if (i + 1 < n) v |= uint32_t(p[i + 1]) << 8;
    if (i + 2 < n) v |= p[i + 2];
    out += kBase64Alphabet[(v >> 18) & 63];
    out += kBase64Alphabet[(v >> 12) & 63];
    out += i + 1 < n ? kBase64Alphabet[(v >> 6) & 63] : '=';
    out += i + 2 < n ? kBase64Alphabet[v & 63] : '=';
  }
  return out;
}

std::string EncodeBase64String(const std::string& text) {
  return EncodeBase64Buffer(text.data(), static_cast<int32_t>(text.size()));
}

std::string DecodeBase64String(const std::string& text) {
  size_t n = text.size();
  if (n == 0 || n % 4 != 0) return std::string();
  std::string out;
  out.reserve(n / 4 * 3);
  for (size_t i = 0; i < n; i += 4) {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v = (v << 6) | kBase64Decode[static_cast<uint8_t>(text[i + k])];
    out += static_cast<char>(v >> 16);
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v);
  }
  if (text[n - 2] == '=') out.resize(out.size() - 2);
  else if (text[n - 1] == '=') out.resize(out.size() - 1);
  return out;
}

// --- Block cipher

void TeaSetKey(const uint32_t key[4]) {
  for (int i = 0; i < 4; ++i) gKey[i] = key[i];
}

void TeaSetKeyFromPassword(const std::string& password) {
  uint8_t digest[16];
  Md5Buffer(digest, password.data(), static_cast<int32_t>(password.size()));
  uint32_t key[4];
  for (int i = 0; i < 4; ++i) key[i] = LoadBig(digest + 4 * i);
  TeaSetKey(key);
}

void TeaEncipherBlock(const uint8_t in[8], uint8_t out[8]) {
  uint32_t y = LoadBig(in), z = LoadBig(in + 4), sum = 0;
  for (int round = 0; round < 32; ++round) {
    sum += kDelta;
    y += (z << 4) + (z ^ gKey[0]) + ((z >> 5) ^ sum) + gKey[1];
    z += (y << 4) + (gKey[2] ^ y) + ((y >> 5) ^ sum) + gKey[3];
  }
  StoreBig(out, y);
  StoreBig(out + 4, z);
}

void TeaDecipherBlock(const uint8_t in[8], uint8_t out[8]) {
  uint32_t y = LoadBig(in), z = LoadBig(in + 4), sum = kDelta * 32u;
  for (int round = 0; round < 32; ++round) {
    z -= (y << 4) + (gKey[2] ^ y) + ((y >> 5) ^ sum) + gKey[3];
    y -= (z << 4) + (z ^ gKey[0]) + ((z >> 5) ^ sum) + gKey[1];
    sum -= kDelta;
  }
  StoreBig(out, y);
  StoreBig(out + 4, z);
}

void TeaDecryptBuffer(const void* source, void* target, int32_t length) {
  if (!source || !target || length <= 0) return;
  // The chaining vector lives on the stack: two threads deciphering at once must not share it.
  uint8_t chain[8];
  std::memset(chain, 0xFF, sizeof chain);
  const auto* in = static_cast<const uint8_t*>(source);
  auto* out = static_cast<uint8_t*>(target);
  int32_t full = length / 8 * 8;
  for (int32_t i = 0; i < full; i += 8) {
    uint8_t enciphered[8];
    std::memcpy(enciphered, in + i, 8);
    TeaDecipherBlock(enciphered, out + i);
    XorBuffer(out + i, chain, 8);
    std::memcpy(chain, enciphered, 8);
  }
  int32_t tail = length - full;
  if (tail > 0) {
    TeaEncipherBlock(chain, chain);
    std::memmove(out + full, in + full, static_cast<size_t>(tail));
    XorBuffer(out + full, chain, tail);
  }
}

void TeaEncryptBuffer(const void* source, void* target, int32_t length) {
  if (!source || !target || length <= 0) return;
  uint8_t chain[8];
  std::memset(chain, 0xFF, sizeof chain);
  const auto* in = static_cast<const uint8_t*>(source);
  auto* out = static_cast<uint8_t*>(target);
  int32_t full = length / 8 * 8;
  for (int32_t i = 0; i < full; i += 8) {
    uint8_t block[8];
    std::memcpy(block, in + i, 8);
    XorBuffer(block, chain, 8);
    TeaEncipherBlock(block, out + i);
    std::memcpy(chain, out + i, 8);
  }
  int32_t tail = length - full;
  if (tail > 0) {
    // The tail is a stream-cipher XOR with the enciphered vector, so it is its own inverse.
    TeaEncipherBlock(chain, chain);
    std::memmove(out + full, in + full, static_cast<size_t>(tail));
    XorBuffer(out + full, chain, tail);
  }
}

// --- Helpers

void XorBuffer(void* target, const void* source, int32_t length) {
  if (!target || !source) return;
  auto* t = static_cast<uint8_t*>(target);
  const auto* s = static_cast<const uint8_t*>(source);
  for (int32_t i = 0; i < length; ++i) t[i] ^= s[i];
}

uint32_t SwapBytes32(uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}
