// The cache of painted operations: keys, taking what was painted off a buffer, and the cache
// with its budget.
#include "vg_paintcache.h"

#include <algorithm>

// --- Keys

void TvgPaintKey::Add(const TvgRect& r) {
  Add(r.Left);
  Add(r.Top);
  Add(r.Right);
  Add(r.Bottom);
}

void TvgPaintKey::Add(const TvgMatrix& m) {
  for (float v : {m.m11, m.m12, m.m13, m.m21, m.m22, m.m23, m.m31, m.m32, m.m33}) Add(v);
}

void TvgPaintKey::Add(const std::u16string& text) {
  Add(static_cast<uint32_t>(text.size()));
  Append(text.data(), text.size() * sizeof(char16_t));
}

void TvgPaintKey::Add(const std::string& text) {
  Add(static_cast<uint32_t>(text.size()));
  Append(text.data(), text.size());
}

// --- Painted pixels

TvgPaintedPixels vgTakePainted(const TvgPixelBuffer& buffer, const TvgPixelRect& area) {
  TvgPaintedPixels painted;
  const TvgPixelRect inside = vgIntersectPixelRect(area, {0, 0, buffer.Width, buffer.Height});
  if (buffer.Bits == nullptr || inside.IsEmpty()) return painted;
  auto row = [&buffer](int32_t y) { return buffer.Bits + static_cast<size_t>(y) * static_cast<size_t>(buffer.Width); };
  TvgPixelRect box{inside.Right, inside.Bottom, inside.Left, inside.Top};
  for (int32_t y = inside.Top; y < inside.Bottom; ++y) {
    const uint32_t* r = row(y);
    int32_t x = inside.Left;
    while (x < inside.Right && r[x] == 0) ++x;
    if (x == inside.Right) continue;
    int32_t last = inside.Right - 1;
    while (r[last] == 0) --last;
    box.Left = std::min(box.Left, x);
    box.Right = std::max(box.Right, last + 1);
    box.Top = std::min(box.Top, y);
    box.Bottom = y + 1;
  }
  if (box.IsEmpty()) return painted;
  painted.Box = box;
  const int32_t w = box.Right - box.Left;
  painted.Pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(box.Bottom - box.Top));
  uint32_t* out = painted.Pixels.data();
  for (int32_t y = box.Top; y < box.Bottom; ++y, out += w) {
    uint32_t* r = row(y);
    std::copy(r + box.Left, r + box.Right, out);
    std::fill(r + box.Left, r + box.Right, 0u);
  }
  return painted;
}

// --- Cache

const TvgPaintedPixels* TvgPaintCache::Find(const TvgPaintKey& key) {
  auto found = index_.find(key.Bytes());
  if (found == index_.end()) return nullptr;
  entries_.splice(entries_.begin(), entries_, found->second);
  return &found->second->second;
}

void TvgPaintCache::Store(const TvgPaintKey& key, TvgPaintedPixels pixels) {
  if (pixels.Bytes() > budget_) return;
  auto found = index_.find(key.Bytes());
  if (found != index_.end()) {
    bytes_ -= found->second->second.Bytes();
    entries_.erase(found->second);
    index_.erase(found);
  }
  bytes_ += pixels.Bytes();
  entries_.emplace_front(key.Bytes(), std::move(pixels));
  index_.emplace(key.Bytes(), entries_.begin());
  Evict();
}

void TvgPaintCache::Clear() {
  index_.clear();
  entries_.clear();
  bytes_ = 0;
}

void TvgPaintCache::Evict() {
  // Every entry costs a little beside its pixels: empty ones count too, so that many of them
  // cannot pile up.
  constexpr size_t kEntryCost = 64;
  auto cost = [this] { return bytes_ + entries_.size() * kEntryCost; };
  while (!entries_.empty() && cost() > budget_) {
    auto& last = entries_.back();
    bytes_ -= last.second.Bytes();
    index_.erase(last.first);
    entries_.pop_back();
  }
}
