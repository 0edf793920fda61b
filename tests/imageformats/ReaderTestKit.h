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

// Loads `trials` mutated copies of the seeds (bytes overwritten, files cut short); every
// failure must be one of the library's exceptions, and nothing may read or write out of bounds
// (the sanitizers watch the native build).
inline void Fuzz(const std::vector<Bytes>& seeds,
                 const std::function<std::unique_ptr<TGraphic>()>& make, int trials,
                 uint32_t seedValue) {
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
    TMemoryStream stream;
    LoadInto(stream, file);
    auto graphic = make();
    try {
      graphic->LoadFromStream(stream);
    } catch (const Exception&) {
    }
  }
}

}  // namespace kit
