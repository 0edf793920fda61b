// Octree colour reduction and the 8-bit indexed PNG writer of the screenshot.
#include "EScreenshot.h"

#include <zlib.h>

#include <cstring>

#include "classlib/Streams.h"
#include "classlib/SysUtils.h"

// --- Checksum

namespace {

const uint32_t* CrcTable() {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table.data();
}

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* buffer, int32_t length) {
  if (!buffer || length <= 0) return crc;
  const uint32_t* table = CrcTable();
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  for (int32_t i = 0; i < length; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

// --- Octree

struct TOctreeQuantizer::Node {
  bool Leaf = false;
  uint32_t Count = 0, Red = 0, Green = 0, Blue = 0;
  uint8_t Index = 0;
  std::unique_ptr<Node> Children[8];
};

namespace {

const uint8_t kMask[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

int ChildIndex(uint8_t red, uint8_t green, uint8_t blue, int level) {
  uint8_t mask = kMask[level];
  return ((red & mask) ? 4 : 0) + ((green & mask) ? 2 : 0) + ((blue & mask) ? 1 : 0);
}

}  // namespace

TOctreeQuantizer::TOctreeQuantizer() : root_(std::make_unique<Node>()) {}
TOctreeQuantizer::~TOctreeQuantizer() = default;

void TOctreeQuantizer::AddColor(uint8_t red, uint8_t green, uint8_t blue) {
  Node* node = root_.get();
  for (int level = 0; !node->Leaf; ++level) {
    auto& child = node->Children[ChildIndex(red, green, blue, level)];
    if (!child) {
      child = std::make_unique<Node>();
      if (level + 1 == 8) {
        child->Leaf = true;
        ++leafCount_;
      } else {
        reducible_[static_cast<size_t>(level + 1)].push_back(child.get());
      }
    }
    node = child.get();
  }
  ++node->Count;
  node->Red += red;
  node->Green += green;
  node->Blue += blue;
  while (leafCount_ > 256) Reduce();
}

// Merges the first reducible node of the deepest level that has one into a leaf.
void TOctreeQuantizer::Reduce() {
  int level = 7;
  while (level > 0 && reducible_[static_cast<size_t>(level)].empty()) --level;
  auto& list = reducible_[static_cast<size_t>(level)];
  if (list.empty()) return;
  // Nodes are pushed at the head of their level's list; the head goes first.
  Node* node = list.back();
  list.pop_back();
  int children = 0;
  for (auto& child : node->Children) {
    if (!child) continue;
    node->Count += child->Count;
    node->Red += child->Red;
    node->Green += child->Green;
    node->Blue += child->Blue;
    // A child that is no leaf yet can only sit on a deeper level, which is empty by now.
    child.reset();
    ++children;
  }
  node->Leaf = true;
  leafCount_ -= children - 1;
}

std::vector<uint32_t> TOctreeQuantizer::BuildPalette() {
  std::vector<uint32_t> palette;
  struct Walker {
    std::vector<uint32_t>& out;
    void Visit(Node* node) {
      if (node->Leaf) {
        uint32_t n = node->Count ? node->Count : 1;
        node->Index = static_cast<uint8_t>(out.size());
        out.push_back((node->Red / n) << 16 | (node->Green / n) << 8 | (node->Blue / n));
        return;
      }
      for (auto& child : node->Children)
        if (child) Visit(child.get());
    }
  } walker{palette};
  walker.Visit(root_.get());
  return palette;
}

uint8_t TOctreeQuantizer::IndexOf(uint8_t red, uint8_t green, uint8_t blue) const {
  const Node* node = root_.get();
  for (int level = 0; node && !node->Leaf; ++level) node = node->Children[ChildIndex(red, green, blue, level)].get();
  return node ? node->Index : 0;
}

TIndexedImage QuantizeRgb(const uint8_t* rgb, int32_t width, int32_t height) {
  TIndexedImage image;
  int32_t inWidth = rgb ? width : 0, inHeight = rgb ? height : 0;
  image.Width = width < 1 ? 1 : width;
  image.Height = height < 1 ? 1 : height;
  auto pixel = [&](int32_t x, int32_t y, uint8_t* out) {
    if (x < inWidth && y < inHeight) {
      std::memcpy(out, rgb + (static_cast<size_t>(y) * static_cast<size_t>(inWidth) + static_cast<size_t>(x)) * 3, 3);
    } else {
      out[0] = out[1] = out[2] = 0;
    }
  };
  TOctreeQuantizer octree;
  uint8_t c[3];
  for (int32_t y = 0; y < image.Height; ++y)
    for (int32_t x = 0; x < image.Width; ++x) {
      pixel(x, y, c);
      octree.AddColor(c[0], c[1], c[2]);
    }
  image.Palette = octree.BuildPalette();
  image.Indices.resize(static_cast<size_t>(image.Width) * static_cast<size_t>(image.Height));
  size_t i = 0;
  for (int32_t y = 0; y < image.Height; ++y)
    for (int32_t x = 0; x < image.Width; ++x) {
      pixel(x, y, c);
      image.Indices[i++] = octree.IndexOf(c[0], c[1], c[2]);
    }
  return image;
}

// --- PNG

namespace {

constexpr uint32_t kIdatBufferSize = 0x3FFFF;

void PutBigEndian(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void WriteChunk(TStream& stream, const char* type, const void* data, uint32_t length) {
  std::string head;
  PutBigEndian(head, length);
  head.append(type, 4);
  uint32_t crc = Crc32Update(0xFFFFFFFFu, type, 4);
  crc = Crc32Update(crc, data, static_cast<int32_t>(length)) ^ 0xFFFFFFFFu;
  std::string tail;
  PutBigEndian(tail, crc);
  stream.WriteBuffer(head.data(), static_cast<int32_t>(head.size()));
  if (length) stream.WriteBuffer(data, static_cast<int32_t>(length));
  stream.WriteBuffer(tail.data(), 4);
}

}  // namespace

void EncodeIndexedPNG(TStream& stream, const TIndexedImage& image) {
  const uint32_t width = static_cast<uint32_t>(image.Width < 1 ? 1 : image.Width);
  const uint32_t height = static_cast<uint32_t>(image.Height < 1 ? 1 : image.Height);
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  stream.WriteBuffer(kSignature, 8);

  std::string header;
  PutBigEndian(header, width);
  PutBigEndian(header, height);
  header += std::string("\x08\x03\x00\x00\x00", 5);
  WriteChunk(stream, "IHDR", header.data(), 13);

  std::string palette(768, '\0');
  for (size_t i = 0; i < 256 && i < image.Palette.size(); ++i) {
    palette[3 * i] = static_cast<char>((image.Palette[i] >> 16) & 0xFF);
    palette[3 * i + 1] = static_cast<char>((image.Palette[i] >> 8) & 0xFF);
    palette[3 * i + 2] = static_cast<char>(image.Palette[i] & 0xFF);
  }
  WriteChunk(stream, "PLTE", palette.data(), 768);

  z_stream z{};
  if (deflateInit(&z, 9) != Z_OK) throw EWriteError("PNG: cannot start the compressor");
  std::vector<uint8_t> out(kIdatBufferSize);
  std::vector<uint8_t> row(width + 1);
  auto drain = [&](int flush) {
    do {
      int result = deflate(&z, flush);
      if (result == Z_STREAM_ERROR) throw EWriteError("PNG: compression failed");
      if (z.avail_out == 0) {
        WriteChunk(stream, "IDAT", out.data(), kIdatBufferSize);
        z.next_out = out.data();
        z.avail_out = kIdatBufferSize;
      }
      if (flush == Z_FINISH && result == Z_STREAM_END) return;
    } while (z.avail_in > 0 || flush == Z_FINISH);
  };
  try {
    z.next_out = out.data();
    z.avail_out = kIdatBufferSize;
    for (uint32_t y = 0; y < height; ++y) {
      row[0] = 0;
      for (uint32_t x = 0; x < width; ++x) {
        size_t i = static_cast<size_t>(y) * width + x;
        row[x + 1] = i < image.Indices.size() ? image.Indices[i] : 0;
      }
      z.next_in = row.data();
      z.avail_in = width + 1;
      drain(Z_NO_FLUSH);
    }
    drain(Z_FINISH);
    uint32_t rest = kIdatBufferSize - z.avail_out;
    if (rest) WriteChunk(stream, "IDAT", out.data(), rest);
  } catch (...) {
    deflateEnd(&z);
    throw;
  }
  deflateEnd(&z);
  WriteChunk(stream, "IEND", nullptr, 0);
}
