// Writing screenshots: 24-bit BMP files, and PNG files through zlib.
#include <zlib.h>

#include <cctype>
#include <cstdio>
#include <fstream>

#include "EditorWindow.h"

namespace {

void PutBig32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}

void PutLittle(std::string& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

std::string PngChunk(const char* kind, const std::string& data) {
  std::string chunk;
  PutBig32(chunk, static_cast<uint32_t>(data.size()));
  const std::string body = std::string(kind, 4) + data;
  chunk += body;
  PutBig32(chunk, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
  return chunk;
}

std::string EncodePng(const TScreenshot& shot) {
  std::string raw;
  for (int32_t y = 0; y < shot.height; ++y) {
    raw.push_back(0);  // no filter
    for (int32_t x = 0; x < shot.width; ++x) {
      const uint32_t p = shot.At(x, y);
      raw.push_back(static_cast<char>(p >> 16));
      raw.push_back(static_cast<char>(p >> 8));
      raw.push_back(static_cast<char>(p));
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(packedSize, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
                static_cast<uLong>(raw.size()), 9) != Z_OK)
    throw EHostError("cannot compress the screenshot");
  packed.resize(packedSize);
  std::string header;
  PutBig32(header, static_cast<uint32_t>(shot.width));
  PutBig32(header, static_cast<uint32_t>(shot.height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB
  return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", header) + PngChunk("IDAT", packed) +
         PngChunk("IEND", "");
}

std::string EncodeBmp(const TScreenshot& shot) {
  const uint32_t rowBytes = (static_cast<uint32_t>(shot.width) * 3 + 3) & ~3u;
  const uint32_t imageBytes = rowBytes * static_cast<uint32_t>(shot.height);
  std::string out = "BM";
  PutLittle(out, 54 + imageBytes, 4);
  PutLittle(out, 0, 4);
  PutLittle(out, 54, 4);
  PutLittle(out, 40, 4);
  PutLittle(out, static_cast<uint32_t>(shot.width), 4);
  PutLittle(out, static_cast<uint32_t>(shot.height), 4);  // bottom row first
  PutLittle(out, 1, 2);
  PutLittle(out, 24, 2);
  PutLittle(out, 0, 4);
  PutLittle(out, imageBytes, 4);
  PutLittle(out, 2835, 4);
  PutLittle(out, 2835, 4);
  PutLittle(out, 0, 4);
  PutLittle(out, 0, 4);
  for (int32_t y = shot.height - 1; y >= 0; --y) {
    std::string row;
    for (int32_t x = 0; x < shot.width; ++x) PutLittle(row, shot.At(x, y), 3);
    row.resize(rowBytes, '\0');
    out += row;
  }
  return out;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  if (text.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[text.size() - tail.size() + i])) != tail[i]) return false;
  return true;
}

}  // namespace

void TScreenshot::Save(const std::string& fileName) const {
  if (width <= 0 || height <= 0) throw EHostError("the screenshot is empty");
  const std::string bytes = EndsWith(fileName, ".png") ? EncodePng(*this) : EncodeBmp(*this);
  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw EHostError("cannot write screenshot \"" + fileName + "\"");
}
