// Bounded fuzz loop over the path-text parser and the "Path" reader under the sanitizers: random
// and mutated inputs must never crash, hang or raise, and what they build must write and read
// back.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "classlib/Streams.h"
#include "scene/core/vg_pathdata.h"

namespace {

const char* const kSeeds[] = {
    "M 0,0 L 10,0.500 Z ",
    "M10 20 30 40 m10,10 20,0 h5 v-3 H1 V2 z",
    "M0 0 C 0 1 2 3 4 4 S 8 8 9 9 s 1 1 2 2 c1,2 3,4 5,6",
    "M 5 5 A 10 20 30 1 0 50 60 a 3 4 5 0 1 -6 7 A 0 0 0 1 1 9 9",
    "M-1-2L3e1-4e-1Q1 2 3 4T5 6q1 1 2 2t3 3",
    "m 1e38 1e38 l -1e38 -1e38 a 1e-30 1e30 1e30 1 1 1e38 -1e38",
    "M 1 1 A 1 1 0 1 1 1.0001 1",
};

std::string Mutate(std::string text, std::mt19937& random) {
  static const std::string alphabet = "0123456789.-e ,MmLlHhVvCcSsQqTtAaZz\t\r\nx+E";
  const int edits = 1 + static_cast<int>(random() % 8);
  for (int i = 0; i < edits; ++i) {
    const size_t at = text.empty() ? 0 : random() % (text.size() + 1);
    switch (random() % 4) {
      case 0: text.insert(at, 1, alphabet[random() % alphabet.size()]); break;
      case 1: if (at < text.size()) text.erase(at, 1); break;
      case 2: if (at < text.size()) text[at] = alphabet[random() % alphabet.size()]; break;
      default: text.insert(at, text.substr(random() % (text.size() + 1), random() % 12)); break;
    }
  }
  return text;
}

TEST(VgPathFuzz, TextParserSurvivesRandomAndMutatedInput) {
  std::mt19937 random(12345);
  for (int round = 0; round < 30000; ++round) {
    std::string text;
    if (round % 3 == 0) {
      const size_t n = random() % 64;
      for (size_t i = 0; i < n; ++i) text.push_back(static_cast<char>(random() % 256));
    } else {
      text = Mutate(kSeeds[random() % (sizeof kSeeds / sizeof *kSeeds)], random);
    }
    TvgPathData path;
    ASSERT_NO_THROW(path.SetData(text)) << text;
    ASSERT_LE(path.Count(), static_cast<int32_t>(text.size() * 16 + 16));
    TvgPolygon polygon;
    TvgPoint size;
    path.FlattenToPolygon(polygon, size, 0.25f);
    ASSERT_LE(polygon.size(), static_cast<size_t>(path.Count()) * 16386);
    TvgPathData again;
    again.SetData(path.GetData());
    ASSERT_EQ(again.Count(), path.Count()) << text;
    TMemoryStream stream;
    path.WritePath(stream);
    stream.SetPosition(0);
    TvgPathData back;
    back.ReadPath(stream);
    ASSERT_EQ(back.Count(), path.Count());
  }
}

TEST(VgPathFuzz, BinaryReaderSurvivesDamagedData) {
  std::mt19937 random(777);
  TvgPathData source;
  source.SetData(kSeeds[3]);
  TMemoryStream good;
  source.WritePath(good);
  const std::string bytes(reinterpret_cast<const char*>(good.Memory()), static_cast<size_t>(good.GetSize()));
  for (int round = 0; round < 20000; ++round) {
    std::string data = bytes;
    const int edits = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < edits; ++i) {
      switch (random() % 3) {
        case 0: data[random() % data.size()] = static_cast<char>(random()); break;
        case 1: data.resize(random() % (data.size() + 1)); break;
        default: data.insert(random() % (data.size() + 1), 1, static_cast<char>(random())); break;
      }
      if (data.empty()) break;
    }
    TStringStream in(data);
    TvgPathData path;
    ASSERT_NO_THROW(path.ReadPath(in));
    ASSERT_LE(static_cast<size_t>(path.Count()) * 9, data.size());
    ASSERT_NO_THROW(path.GetData());
    TvgPolygon polygon;
    TvgPoint size;
    path.FlattenToPolygon(polygon, size);
  }
}

}  // namespace
