// Exact float text: known values of each format, round trips of random bit patterns (on every
// platform), and natively the host's own shortest conversions as the reference.
#include "classlib/FloatText.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace {

// Extended bytes from the sign-and-exponent word and the significand.
struct TExtended {
  uint8_t Bytes[10];
  TExtended(uint16_t top, uint64_t significand) {
    std::memcpy(Bytes, &significand, 8);
    Bytes[8] = static_cast<uint8_t>(top);
    Bytes[9] = static_cast<uint8_t>(top >> 8);
  }
  bool operator==(const TExtended& other) const { return std::memcmp(Bytes, other.Bytes, 10) == 0; }
};

std::string Hex(const TExtended& e) {
  char text[32];
  uint64_t significand;
  std::memcpy(&significand, e.Bytes, 8);
  std::snprintf(text, sizeof text, "%04X:%016llX", e.Bytes[8] | (e.Bytes[9] << 8),
                static_cast<unsigned long long>(significand));
  return text;
}

// A canonical extended encoding from random bits: the integer bit set exactly when the exponent
// is not zero. `nearOne` keeps the exponent within 200 binades of 1.
TExtended RandomExtended(std::mt19937_64& random, bool nearOne) {
  uint64_t significand = random();
  uint16_t top = static_cast<uint16_t>(random());
  if (nearOne) top = static_cast<uint16_t>((top & 0x8000) | (16383 - 100 + random() % 200));
  if ((top & 0x7FFF) == 0) significand &= ~(1ull << 63);
  else significand |= 1ull << 63;
  return TExtended(top, significand);
}

}  // namespace

TEST(FloatText, ExtendedKnownValues) {
  const struct {
    uint16_t Top;
    uint64_t Significand;
    const char* Text;
  } cases[] = {
      {0x3FFF, 0x8000000000000000ull, "1"},
      {0x3FFF, 0xC000000000000000ull, "1.5"},
      {0xBFFF, 0x8000000000000000ull, "-1"},
      {0x3FFB, 0xCCCCCCCCCCCCCCCDull, "0.1"},
      {0x4005, 0xC800000000000000ull, "100"},
      {0x400F, 0xC350000000000000ull, "1e+05"},
      {0x0000, 0x0000000000000000ull, "0"},
      {0x8000, 0x0000000000000000ull, "-0"},
      {0x0000, 0x0000000000000001ull, "4e-4951"},                      // smallest subnormal
      {0x0001, 0x8000000000000000ull, "3.3621031431120935063e-4932"},  // smallest normal
      {0x7FFE, 0xFFFFFFFFFFFFFFFFull, "1.189731495357231765e+4932"},   // largest finite
      {0x7FFF, 0x8000000000000000ull, "+inf"},
      {0xFFFF, 0x8000000000000000ull, "-inf"},
      {0xFFFF, 0xC000000000000000ull, "-nan"},
      {0x7FFF, 0xC000000000000000ull, "+nan"},
      {0x7FFF, 0xC000000000000001ull, "+nan($C000000000000001)"},
      {0x7FFF, 0x8000000000000001ull, "+nan($8000000000000001)"},     // signalling
      {0x7FFF, 0x0000000000000000ull, "+nan($0000000000000000)"},     // without its integer bit
  };
  for (const auto& c : cases) {
    TExtended value(c.Top, c.Significand);
    EXPECT_EQ(ExtendedToText(value.Bytes), c.Text) << Hex(value);
    TExtended back(0, 0);
    ASSERT_TRUE(TextToExtended(c.Text, back.Bytes)) << c.Text;
    EXPECT_EQ(Hex(back), Hex(value)) << c.Text;
  }
}

TEST(FloatText, ReadingRoundsToNearestAndRefusesWhatIsNotANumber) {
  const struct {
    const char* Text;
    uint16_t Top;
    uint64_t Significand;
  } read[] = {
      {"3.64519953188247460253E-4951", 0x0000, 1},  // the smallest subnormal, spelt out in full
      {"1.8225997659412373e-4951", 0x0000, 0},      // below half of it: zero
      {"1.8225997659412374e-4951", 0x0000, 1},
      {"1e-99999", 0x0000, 0},
      {"-.5", 0xBFFE, 0x8000000000000000ull},
      {"+2.", 0x4000, 0x8000000000000000ull},
      {"1.18973149535723176502e+4932", 0x7FFE, 0xFFFFFFFFFFFFFFFFull},
      // A decimal exactly halfway between two values goes to the even one.
      {"18446744073709551617", 0x403F, 0x8000000000000000ull},
      {"18446744073709551619", 0x403F, 0x8000000000000002ull},
  };
  for (const auto& c : read) {
    TExtended value(0xFFFF, 0), expected(c.Top, c.Significand);
    ASSERT_TRUE(TextToExtended(c.Text, value.Bytes)) << c.Text;
    EXPECT_EQ(Hex(value), Hex(expected)) << c.Text;
  }
  for (const char* bad : {"", "-", ".", "1e", "1e+", "--1", "1.5.2", "0x10", "inf5", "nan(", "nan($)",
                          "nan($10000000000000000)", "+nan($8000000000000000)", "1e4933",
                          "1.18973149535723176509e+4932", " 1", "1 "}) {
    TExtended value(0x1234, 0x5678);
    EXPECT_FALSE(TextToExtended(bad, value.Bytes)) << bad;
    EXPECT_EQ(Hex(value), Hex(TExtended(0x1234, 0x5678))) << bad;
  }
  double d = 0;
  EXPECT_TRUE(TextToDouble("4.9406564584124654e-324", d));
  EXPECT_EQ(DoubleToText(d), "5e-324");
  EXPECT_FALSE(TextToDouble("1.7976931348623159e308", d));
  EXPECT_FALSE(TextToDouble("+nan($0)", d));  // that payload is an infinity
  float f = 0;
  EXPECT_TRUE(TextToSingle("-nan($000001)", f));
  EXPECT_EQ(SingleToText(f), "-nan($000001)");
  EXPECT_EQ(SingleToText(std::numeric_limits<float>::infinity()), "+inf");
}

TEST(FloatText, RandomBitPatternsRoundTrip) {
  std::mt19937_64 random(20240613);
  for (int i = 0; i < 3000; ++i) {
    TExtended value = RandomExtended(random, i % 3 != 0), back(0, 0);
    std::string text = ExtendedToText(value.Bytes);
    ASSERT_TRUE(TextToExtended(text, back.Bytes)) << text;
    ASSERT_EQ(Hex(back), Hex(value)) << text;

    uint64_t bits = random();
    double d, dBack = 0;
    std::memcpy(&d, &bits, 8);
    ASSERT_TRUE(TextToDouble(DoubleToText(d), dBack)) << DoubleToText(d);
    ASSERT_EQ(std::memcmp(&d, &dBack, 8), 0) << DoubleToText(d);
    uint32_t bits32 = static_cast<uint32_t>(random());
    float f, fBack = 0;
    std::memcpy(&f, &bits32, 4);
    ASSERT_TRUE(TextToSingle(SingleToText(f), fBack)) << SingleToText(f);
    ASSERT_EQ(std::memcmp(&f, &fBack, 4), 0) << SingleToText(f);
  }
}

#if !defined(_WIN32) && LDBL_MANT_DIG == 64
// The host's shortest conversions (exact here, for its 80-bit long double as well) give the same
// texts and read the same values, apart from subnormals, which the host reader refuses.
TEST(FloatText, AgreesWithTheHostsShortestConversions) {
  std::mt19937_64 random(7);
  char buffer[128];
  for (int i = 0; i < 3000; ++i) {
    TExtended value = RandomExtended(random, i % 2 != 0);
    long double native;
    std::memcpy(&native, value.Bytes, 10);
    std::string reference(buffer, std::to_chars(buffer, buffer + sizeof buffer, native).ptr);
    ASSERT_EQ(ExtendedToText(value.Bytes), reference) << Hex(value);

    uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, 8);
    if (std::isfinite(d)) {
      reference.assign(buffer, std::to_chars(buffer, buffer + sizeof buffer, d).ptr);
      ASSERT_EQ(DoubleToText(d), reference);
    }
    float f;
    uint32_t bits32 = static_cast<uint32_t>(bits >> 16);
    std::memcpy(&f, &bits32, 4);
    if (std::isfinite(f)) {
      reference.assign(buffer, std::to_chars(buffer, buffer + sizeof buffer, f).ptr);
      ASSERT_EQ(SingleToText(f), reference);
    }

    // Decimals of 1 to 25 digits with exponents across the range of doubles.
    std::string text = std::to_string(random() % 1000000000000ull) + "." + std::to_string(random() % 10000000000000ull) +
                       "e" + std::to_string(static_cast<int>(random() % 600) - 300);
    long double nativeRead = 0;
    TExtended ours(0, 0);
    if (std::from_chars(text.data(), text.data() + text.size(), nativeRead).ec == std::errc() &&
        std::isnormal(nativeRead)) {
      ASSERT_TRUE(TextToExtended(text, ours.Bytes)) << text;
      ASSERT_EQ(std::memcmp(ours.Bytes, &nativeRead, 10), 0) << text;
    }
    double doubleRead = 0, oursDouble = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), doubleRead).ec == std::errc() &&
        std::isnormal(doubleRead)) {
      ASSERT_TRUE(TextToDouble(text, oursDouble)) << text;
      ASSERT_EQ(oursDouble, doubleRead) << text;
    }
  }
}
#endif
