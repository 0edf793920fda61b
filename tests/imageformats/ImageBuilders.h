// Small image files built by hand for the reader tests: byte writers and a PNG encoder.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Streams.h"

using Bytes = std::vector<uint8_t>;

inline void PutBE16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
inline void PutBE32(Bytes& b, uint32_t v) {
  PutBE16(b, v >> 16);
  PutBE16(b, v & 0xFFFF);
}
inline void PutLE16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void PutLE32(Bytes& b, uint32_t v) {
  PutLE16(b, v & 0xFFFF);
  PutLE16(b, v >> 16);
}
inline void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
inline void AppendText(Bytes& b, const std::string& text) { b.insert(b.end(), text.begin(), text.end()); }

inline Bytes Deflate(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  compress(out.data(), &size, data.data(), static_cast<uLong>(data.size()));
  out.resize(size);
  return out;
}

// A PNG chunk with its length and CRC.
inline Bytes PngChunk(const std::string& type, const Bytes& data) {
  Bytes chunk;
  PutBE32(chunk, static_cast<uint32_t>(data.size()));
  AppendText(chunk, type);
  Append(chunk, data);
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  PutBE32(chunk, static_cast<uint32_t>(crc));
  return chunk;
}

inline Bytes PngHeader(uint32_t width, uint32_t height, uint8_t depth, uint8_t type,
                       uint8_t interlace = 0) {
  Bytes ihdr;
  PutBE32(ihdr, width);
  PutBE32(ihdr, height);
  ihdr.insert(ihdr.end(), {depth, type, 0, 0, interlace});
  Bytes file{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  Append(file, PngChunk("IHDR", ihdr));
  return file;
}

// A whole PNG from raw filtered rows (each starting with its filter byte).
inline Bytes MakePng(uint32_t width, uint32_t height, uint8_t depth, uint8_t type,
                     const Bytes& rawRows, const std::vector<Bytes>& extraChunks = {},
                     uint8_t interlace = 0, const std::vector<std::string>& extraTypes = {}) {
  Bytes file = PngHeader(width, height, depth, type, interlace);
  for (size_t i = 0; i < extraChunks.size(); ++i) Append(file, PngChunk(extraTypes[i], extraChunks[i]));
  Append(file, PngChunk("IDAT", Deflate(rawRows)));
  Append(file, PngChunk("IEND", {}));
  return file;
}

inline void LoadInto(TStream& stream, const Bytes& bytes) {
  stream.SetSize(0);
  stream.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  stream.SetPosition(0);
}
