// The built-in skin's images as the build wrote them beside the DLL's resources, read back to
// compare with screenshots of the editor.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

struct TSkinImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> argb;  // 0xAARRGGBB, not premultiplied
  uint32_t At(int32_t x, int32_t y) const { return argb[static_cast<size_t>(y) * width + x]; }
};

// Reads `name` ("Knob.png") from the skin folder of the DLL's build. Only what the skin script
// writes is understood: 8-bit RGB or RGBA, not interlaced, every row with filter 0.
inline TSkinImage ReadSkinImage(const std::string& name) {
  const char* build = std::getenv("KBL_BUILD_DIR");
  const std::string path = std::string("Z:") + (build ? build : ".") + "/plugin/TarvikKBLDelay_skin/" + name;
  std::ifstream file(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.size() < 8 || bytes.compare(1, 3, "PNG") != 0) throw std::runtime_error("no PNG at " + path);
  auto big32 = [&bytes](size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 8 | static_cast<uint8_t>(bytes[at + 3]);
  };
  TSkinImage image;
  int channels = 0;
  std::string packed;
  for (size_t at = 8; at + 12 <= bytes.size();) {
    const uint32_t length = big32(at);
    const std::string kind = bytes.substr(at + 4, 4);
    if (kind == "IHDR") {
      image.width = static_cast<int32_t>(big32(at + 8));
      image.height = static_cast<int32_t>(big32(at + 12));
      channels = bytes[at + 17] == 6 ? 4 : 3;
    } else if (kind == "IDAT") {
      packed += bytes.substr(at + 8, length);
    }
    at += 12 + length;
  }
  const size_t stride = static_cast<size_t>(image.width) * channels + 1;
  std::vector<uint8_t> raw(stride * image.height);
  uLongf size = static_cast<uLongf>(raw.size());
  if (uncompress(raw.data(), &size, reinterpret_cast<const Bytef*>(packed.data()), static_cast<uLong>(packed.size())) !=
          Z_OK ||
      size != raw.size())
    throw std::runtime_error("unreadable PNG " + path);
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t* row = raw.data() + y * stride + 1;
    for (int32_t x = 0; x < image.width; ++x) {
      const uint8_t* p = row + x * channels;
      const uint32_t a = channels == 4 ? p[3] : 255u;
      image.argb.push_back(a << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
    }
  }
  return image;
}
