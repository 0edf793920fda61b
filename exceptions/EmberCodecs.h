// Checksums, MD5, Base64 and the block cipher that the capture and report halves of the
// exception library share (debug-data deciphering, mail bodies, HTTP authorisation).
#pragma once

#include <cstdint>
#include <string>

// --- Checksums

// Standard reflected CRC-32 (polynomial 0xEDB88320, start 0xFFFFFFFF, final inversion).
// A null buffer or a length of 0 or less gives 0. Safe from any thread.
uint32_t Crc32Buffer(const void* buffer, int32_t length);

// CRC-16/XMODEM (polynomial 0x1021, MSB first, start 0, no final XOR) of the text's bytes;
// an empty text gives 0.
uint16_t Crc16String(const std::string& text);

// --- MD5

// The 16-byte MD5 digest (RFC 1321) of `length` bytes; a null buffer or a length of 0 or less
// digests the empty message.
void Md5Buffer(uint8_t digest[16], const void* buffer, int32_t length);

// --- Base64 (RFC 4648 alphabet, "=" padding, no line breaks)

std::string EncodeBase64String(const std::string& text);
std::string EncodeBase64Buffer(const void* buffer, int32_t length);
// An empty input or one whose length is not a multiple of 4 gives an empty result. Characters
// outside the alphabet decode as zero bits; the result is never longer than (n / 4) * 3.
std::string DecodeBase64String(const std::string& text);

// --- Block cipher (64-bit blocks, 128-bit key, 32 rounds of the build tool's TEA variant)

// Sets the key K0..K3 from the MD5 digest of the password's bytes, each word read big-endian.
// The key is one per module: callers set it and decipher under the library's lock.
void TeaSetKeyFromPassword(const std::string& password);
// Sets the four key words directly.
void TeaSetKey(const uint32_t key[4]);

// One 8-byte block; `in` and `out` may be the same buffer.
void TeaEncipherBlock(const uint8_t in[8], uint8_t out[8]);
void TeaDecipherBlock(const uint8_t in[8], uint8_t out[8]);

// Chained decipher of `length` bytes: each full block is deciphered and XORed with the previous
// enciphered block (eight 0xFF bytes before the first); a tail of 1 to 7 bytes is XORed with the
// enciphered chaining vector. `source` and `target` may be the same buffer; null buffers or a
// length of 0 or less do nothing.
void TeaDecryptBuffer(const void* source, void* target, int32_t length);
// The build tool's counterpart: enciphers so that TeaDecryptBuffer gives the bytes back.
void TeaEncryptBuffer(const void* source, void* target, int32_t length);

// --- Helpers

// target[i] ^= source[i] for `length` bytes.
void XorBuffer(void* target, const void* source, int32_t length);
// Byte order reversed.
uint32_t SwapBytes32(uint32_t value);
