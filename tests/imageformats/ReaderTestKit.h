// Helpers of the reader tests: loading hand-built files, colours, and a bounded mutation loop.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ImageBuilders.h"
#include "imageformats/GraphicFormats.h"

namespace kit {

inline TColor RGB(int r, int g, int b) { return r | (g << 8) | (b << 16); }

template <typename T>
std::unique_ptr<T> LoadAs(const Bytes& file) {
  auto graphic = std::make_unique<T>();
  TMemoryStream stream;
  LoadInto(stream, file);
  graphic->LoadFromStream(stream);
  return graphic;
}

// The message of the exception a load raises; "" when it loads.
template <typename T>
std::string ErrorOf(const Bytes& file) {
  try {
    LoadAs<T>(file);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

template <typename T>
bool Signature(const Bytes& file, int64_t position = 0) {
  TMemoryStream stream;
  LoadInto(stream, file);
  stream.SetPosition(position);
  T graphic;
  bool result = graphic.TestSignature(stream);
  EXPECT_EQ(stream.GetPosition(), position);
  return result;
}

// Loads a copy of the file; only the library's exceptions may come out of it.
inline void LoadQuietly(const Bytes& file, const std::function<std::unique_ptr<TGraphic>()>& make) {
  TMemoryStream stream;
  LoadInto(stream, file);
  auto graphic = make();
  try {
    graphic->LoadFromStream(stream);
  } catch (const Exception&) {
  }
}

// Loads `trials` mutated copies of the seeds (bytes overwritten, files cut short); every
// failure must be one of the library's exceptions, and nothing may read or write out of bounds
// (the sanitizers watch the native build). First each of the first 512 bytes of every small
// seed takes the values header fields go wrong with (zero, one, powers of two and their
// neighbours, all bits), so that no field used as a divisor, shift or size escapes a check.
inline void Fuzz(const std::vector<Bytes>& seeds,
                 const std::function<std::unique_ptr<TGraphic>()>& make, int trials,
                 uint32_t seedValue) {
  static const uint8_t kExtremes[] = {0, 1, 2, 3, 4, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 127, 128, 255};
  for (const Bytes& seed : seeds) {
    if (seed.size() > 4096) continue;
    for (size_t at = 0; at < seed.size() && at < 512; ++at) {
      for (uint8_t value : kExtremes) {
        Bytes file = seed;
        file[at] = value;
        LoadQuietly(file, make);
      }
    }
  }
  std::mt19937 random(seedValue);
  for (int trial = 0; trial < trials; ++trial) {
    Bytes file = seeds[static_cast<size_t>(trial) % seeds.size()];
    int edits = 1 + static_cast<int>(random() % 6);
    for (int e = 0; e < edits; ++e) {
      size_t at = random() % file.size();
      if (random() % 3 == 0) file[at] = static_cast<uint8_t>(file[at] ^ (1u << (random() % 8)));
      else file[at] = static_cast<uint8_t>(random());
    }
    if (trial % 9 == 0) file.resize(random() % file.size());
    LoadQuietly(file, make);
  }
}

}  // namespace kit
