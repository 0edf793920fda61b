// Reads the entries of a zip archive (without encryption) back for the tests: the central
// directory gives each entry's name, method and sizes; deflated data is inflated with zlib.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <map>
#include <string>

namespace testzip {

inline uint32_t Get(const std::string& data, size_t at, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes && at + i < data.size(); ++i)
    value |= static_cast<uint32_t>(static_cast<uint8_t>(data[at + i])) << (8 * i);
  return value;
}

inline std::string Inflate(const std::string& packed, size_t size) {
  std::string out(size, '\0');
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) return std::string();
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  int result = inflate(&stream, Z_FINISH);
  inflateEnd(&stream);
  return result == Z_STREAM_END ? out : std::string("<inflate failed>");
}

// Name -> content of every entry; empty for data that is no zip archive.
inline std::map<std::string, std::string> ReadEntries(const std::string& zip) {
  std::map<std::string, std::string> entries;
  size_t end = zip.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos) return entries;
  uint32_t count = Get(zip, end + 10, 2);
  size_t at = Get(zip, end + 16, 4);
  for (uint32_t i = 0; i < count && at + 46 <= zip.size() && Get(zip, at, 4) == 0x02014b50; ++i) {
    uint32_t method = Get(zip, at + 10, 2);
    uint32_t packedSize = Get(zip, at + 20, 4), size = Get(zip, at + 24, 4);
    uint32_t nameLength = Get(zip, at + 28, 2), extra = Get(zip, at + 30, 2), comment = Get(zip, at + 32, 2);
    size_t local = Get(zip, at + 42, 4);
    std::string name = zip.substr(at + 46, nameLength);
    size_t data = local + 30 + Get(zip, local + 26, 2) + Get(zip, local + 28, 2);
    std::string packed = zip.substr(data, packedSize);
    entries[name] = method == 8 ? Inflate(packed, size) : packed;
    at += 46 + nameLength + extra + comment;
  }
  return entries;
}

}  // namespace testzip
