// The pixels drawing operations painted, kept by everything that went into painting them (the
// operation, its geometry, the matrix, brushes, pen and font): the same operation at the same
// place paints from here again, as a blend of the kept pixels, instead of through GDI+. The GDI+
// window canvas uses it for text and shapes (see vg_canvas_gdiplus.cpp). Portable; GUI thread
// only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

#include "vg_pixelops.h"

// The bytes that name an operation: values appended in a fixed order by the painting code.
class TvgPaintKey {
 public:
  explicit TvgPaintKey(uint8_t operation) { bytes_.push_back(static_cast<char>(operation)); }
  void Add(float v) { Append(&v, sizeof v); }
  void Add(uint32_t v) { Append(&v, sizeof v); }
  void Add(int32_t v) { Append(&v, sizeof v); }
  void Add(bool v) { bytes_.push_back(v ? 1 : 0); }
  void Add(const TvgRect& r);
  void Add(const TvgMatrix& m);
  // With its length, so that two texts never run into each other.
  void Add(const std::u16string& text);
  void Add(const std::string& text);
  const std::string& Bytes() const { return bytes_; }

 private:
  void Append(const void* data, size_t size) { bytes_.append(static_cast<const char*>(data), size); }
  std::string bytes_;
};

// What an operation left on a transparent buffer: the premultiplied pixels of the smallest box
// holding all of it, at its device position. An empty box: it painted nothing.
struct TvgPaintedPixels {
  TvgPixelRect Box;
  std::vector<uint32_t> Pixels;  // Box width × height, rows top-down
  size_t Bytes() const { return Pixels.size() * sizeof(uint32_t); }
};

// Takes what was painted within `area` of a buffer that was transparent there before, and makes
// the area transparent again.
TvgPaintedPixels vgTakePainted(const TvgPixelBuffer& buffer, const TvgPixelRect& area);

// Painted operations by their keys, the least recently used going first once the pixels kept
// pass the budget (an entry larger than the whole budget is not kept).
class TvgPaintCache {
 public:
  explicit TvgPaintCache(size_t budgetBytes) : budget_(budgetBytes) {}
  // The entry of the key, now the most recently used; nullptr when there is none.
  const TvgPaintedPixels* Find(const TvgPaintKey& key);
  // Keeps the pixels under the key, replacing an entry of the same key.
  void Store(const TvgPaintKey& key, TvgPaintedPixels pixels);
  void Clear();
  size_t Count() const { return entries_.size(); }
  size_t Bytes() const { return bytes_; }

 private:
  using TEntries = std::list<std::pair<std::string, TvgPaintedPixels>>;
  void Evict();

  size_t budget_;
  size_t bytes_ = 0;
  TEntries entries_;  // most recently used first
  std::unordered_map<std::string, TEntries::iterator> index_;
};
