// Exact float <-> decimal text: shortest digits by exact big-integer arithmetic (each digit
// generated while it still tells the value apart from its neighbours), and correctly rounded
// reading, for the single, double and extended formats alike.
#include "FloatText.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// --- Binary formats

struct TFormat {
  int Precision;     // significand bits, the integer bit included
  int ExponentBits;
  bool ExplicitInteger;
  int HexDigits;     // of a NaN payload
  uint64_t QuietNaN;  // the plain quiet NaN's significand field

  int Bias() const { return (1 << (ExponentBits - 1)) - 1; }
  uint32_t MaxBiased() const { return (1u << ExponentBits) - 1; }
  // Exponent of the last significand bit of the subnormals (and of the smallest normals).
  int MinExponent() const { return 1 - Bias() - (Precision - 1); }
  uint64_t FieldMask() const {
    int bits = ExplicitInteger ? Precision : Precision - 1;
    return bits == 64 ? ~0ull : (1ull << bits) - 1;
  }
  uint64_t IntegerBit() const { return 1ull << (Precision - 1); }
  uint64_t InfinityField() const { return ExplicitInteger ? IntegerBit() : 0; }
};

constexpr TFormat kExtended{64, 15, true, 16, 0xC000000000000000ull};
constexpr TFormat kDouble{53, 11, false, 13, 1ull << 51};
constexpr TFormat kSingle{24, 8, false, 6, 1ull << 22};

// A float as its fields: sign, biased exponent and the stored significand bits.
struct TFields {
  bool Negative = false;
  uint32_t Biased = 0;
  uint64_t Field = 0;
};

// --- Big unsigned integers, just the operations the conversions need

class TBig {
 public:
  TBig() = default;
  explicit TBig(uint64_t v) {
    while (v != 0) {
      limbs_.push_back(static_cast<uint32_t>(v));
      v >>= 32;
    }
  }

  bool IsZero() const { return limbs_.empty(); }

  int BitLength() const {
    if (limbs_.empty()) return 0;
    uint32_t top = limbs_.back();
    int bits = 0;
    while (top != 0) {
      ++bits;
      top >>= 1;
    }
    return static_cast<int>(limbs_.size() - 1) * 32 + bits;
  }

  bool Bit(int i) const {
    size_t limb = static_cast<size_t>(i) / 32;
    return limb < limbs_.size() && ((limbs_[limb] >> (i % 32)) & 1) != 0;
  }

  bool AnyBitBelow(int i) const {
    size_t whole = static_cast<size_t>(i) / 32;
    for (size_t k = 0; k < whole && k < limbs_.size(); ++k)
      if (limbs_[k] != 0) return true;
    if (whole < limbs_.size() && i % 32 != 0) return (limbs_[whole] & ((1u << (i % 32)) - 1)) != 0;
    return false;
  }

  // `count` (at most 64) bits from bit `from` up.
  uint64_t Bits(int from, int count) const {
    uint64_t v = 0;
    for (int i = count - 1; i >= 0; --i) v = (v << 1) | (Bit(from + i) ? 1 : 0);
    return v;
  }

  void MulSmall(uint32_t m) {
    uint64_t carry = 0;
    for (uint32_t& limb : limbs_) {
      uint64_t v = static_cast<uint64_t>(limb) * m + carry;
      limb = static_cast<uint32_t>(v);
      carry = v >> 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<uint32_t>(carry));
    if (m == 0) limbs_.clear();
  }

  void AddSmall(uint32_t a) {
    uint64_t carry = a;
    for (size_t i = 0; i < limbs_.size() && carry != 0; ++i) {
      uint64_t v = static_cast<uint64_t>(limbs_[i]) + carry;
      limbs_[i] = static_cast<uint32_t>(v);
      carry = v >> 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<uint32_t>(carry));
  }

  void MulPow10(int n) {
    static const uint32_t kPowers[10] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000,
                                         1000000000};
    for (; n >= 9; n -= 9) MulSmall(kPowers[9]);
    if (n > 0) MulSmall(kPowers[n]);
  }

  void ShiftLeft(int bits) {
    if (limbs_.empty() || bits == 0) return;
    int whole = bits / 32, part = bits % 32;
    if (part != 0) {
      uint32_t carry = 0;
      for (uint32_t& limb : limbs_) {
        uint32_t next = limb >> (32 - part);
        limb = (limb << part) | carry;
        carry = next;
      }
      if (carry != 0) limbs_.push_back(carry);
    }
    limbs_.insert(limbs_.begin(), static_cast<size_t>(whole), 0u);
  }

  void ShiftRight(int bits) {
    size_t whole = static_cast<size_t>(bits) / 32;
    int part = bits % 32;
    if (whole >= limbs_.size()) {
      limbs_.clear();
      return;
    }
    limbs_.erase(limbs_.begin(), limbs_.begin() + static_cast<std::ptrdiff_t>(whole));
    if (part != 0) {
      for (size_t i = 0; i < limbs_.size(); ++i) {
        uint32_t high = i + 1 < limbs_.size() ? limbs_[i + 1] << (32 - part) : 0;
        limbs_[i] = (limbs_[i] >> part) | high;
      }
    }
    Trim();
  }

  void Add(const TBig& b) {
    if (limbs_.size() < b.limbs_.size()) limbs_.resize(b.limbs_.size(), 0);
    uint64_t carry = 0;
    for (size_t i = 0; i < limbs_.size(); ++i) {
      uint64_t v = static_cast<uint64_t>(limbs_[i]) + (i < b.limbs_.size() ? b.limbs_[i] : 0) + carry;
      limbs_[i] = static_cast<uint32_t>(v);
      carry = v >> 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<uint32_t>(carry));
  }

  // this -= b; this must not be smaller than b.
  void Sub(const TBig& b) {
    int64_t borrow = 0;
    for (size_t i = 0; i < limbs_.size(); ++i) {
      int64_t v = static_cast<int64_t>(limbs_[i]) - (i < b.limbs_.size() ? b.limbs_[i] : 0) - borrow;
      borrow = v < 0 ? 1 : 0;
      limbs_[i] = static_cast<uint32_t>(v + (borrow << 32));
    }
    Trim();
  }

  friend int Compare(const TBig& a, const TBig& b) {
    if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() < b.limbs_.size() ? -1 : 1;
    for (size_t i = a.limbs_.size(); i-- > 0;)
      if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
    return 0;
  }

  // Divides by a small number; answers the remainder.
  uint32_t DivideSmall(uint32_t divisor) {
    uint64_t remainder = 0;
    for (size_t i = limbs_.size(); i-- > 0;) {
      uint64_t v = (remainder << 32) | limbs_[i];
      limbs_[i] = static_cast<uint32_t>(v / divisor);
      remainder = v % divisor;
    }
    Trim();
    return static_cast<uint32_t>(remainder);
  }

  std::string Decimal() const {
    TBig rest = *this;
    std::string text;
    while (!rest.IsZero()) {
      uint32_t chunk = rest.DivideSmall(1000000000);
      for (int i = 0; i < 9 && (chunk != 0 || !rest.IsZero()); ++i, chunk /= 10)
        text += static_cast<char>('0' + chunk % 10);
    }
    std::reverse(text.begin(), text.end());
    return text.empty() ? "0" : text;
  }

  // Divides by `d` when the quotient has at most `bits` bits (at most 64); this becomes the
  // remainder.
  uint64_t DivideSmallQuotient(const TBig& d, int bits) {
    TBig step = d;
    step.ShiftLeft(bits - 1);
    uint64_t q = 0;
    for (int bit = bits - 1; bit >= 0; --bit) {
      if (Compare(*this, step) >= 0) {
        Sub(step);
        q |= 1ull << bit;
      }
      step.ShiftRight(1);
    }
    return q;
  }

 private:
  void Trim() {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
  }
  std::vector<uint32_t> limbs_;
};

TBig Sum(TBig a, const TBig& b) {
  a.Add(b);
  return a;
}

// --- Writing

// Shortest digits of f * 2^e (f > 0): the digits and the decimal point's place, the value being
// 0.d1d2... * 10^point. The bounds halfway to the neighbouring floats count as the value's own
// when its significand is even (they read back to it under round-half-even).
void ShortestDigits(uint64_t f, int e, const TFormat& format, std::string& digits, int& point) {
  const int emin = format.MinExponent();
  // Normalise significands of non-canonical extended encodings; the value stays the same.
  while (f < format.IntegerBit() && e > emin) {
    f <<= 1;
    --e;
  }
  const bool even = (f & 1) == 0;
  // The gap below is half the gap above at the lowest significand of a binade.
  const bool unevenGaps = f == format.IntegerBit() && e > emin;
  TBig r(f), s(1), plus(1), minus(1);
  if (e >= 0) {
    r.ShiftLeft(e + (unevenGaps ? 2 : 1));
    s = TBig(unevenGaps ? 4 : 2);
    plus.ShiftLeft(e + (unevenGaps ? 1 : 0));
    minus.ShiftLeft(e);
  } else {
    r.ShiftLeft(unevenGaps ? 2 : 1);
    s.ShiftLeft(-e + (unevenGaps ? 2 : 1));
    if (unevenGaps) plus = TBig(2);
  }
  // Estimate of the decimal exponent, then corrected exactly.
  int bits = 0;
  for (uint64_t v = f; v != 0; v >>= 1) ++bits;
  double estimate = (e + bits - 1) * 0.30102999566398119521;
  int k = static_cast<int>(estimate >= 0 ? estimate + 1 : estimate);
  if (k >= 0) {
    s.MulPow10(k);
  } else {
    r.MulPow10(-k);
    plus.MulPow10(-k);
    minus.MulPow10(-k);
  }
  auto highReaches = [&](const TBig& scale) {
    int c = Compare(Sum(r, plus), scale);
    return even ? c >= 0 : c > 0;
  };
  while (highReaches(s)) {
    s.MulSmall(10);
    ++k;
  }
  for (;;) {
    TBig high = Sum(r, plus);
    high.MulSmall(10);
    int c = Compare(high, s);
    if (even ? c >= 0 : c > 0) break;
    r.MulSmall(10);
    plus.MulSmall(10);
    minus.MulSmall(10);
    --k;
  }
  point = k;
  digits.clear();
  for (;;) {
    r.MulSmall(10);
    plus.MulSmall(10);
    minus.MulSmall(10);
    int d = 0;
    while (Compare(r, s) >= 0) {
      r.Sub(s);
      ++d;
    }
    int low = Compare(r, minus);
    int high = Compare(Sum(r, plus), s);
    bool tc1 = even ? low <= 0 : low < 0;
    bool tc2 = even ? high >= 0 : high > 0;
    if (!tc1 && !tc2) {
      digits += static_cast<char>('0' + d);
      continue;
    }
    if (tc1 && tc2) {
      TBig twice = r;
      twice.ShiftLeft(1);
      int c = Compare(twice, s);
      if (c > 0 || (c == 0 && d % 2 == 1)) ++d;
    } else if (tc2) {
      ++d;
    }
    digits += static_cast<char>('0' + d);
    break;
  }
}

// The shorter of plain and scientific notation (plain on a tie). A whole number in plain
// notation is written with all its digits, exactly: `whole` gives them.
template <typename Whole>
std::string Layout(const std::string& digits, int point, Whole whole) {
  const int n = static_cast<int>(digits.size());
  std::string plain;
  if (point >= n) {
    plain = digits + std::string(static_cast<size_t>(point - n), '0');
  } else if (point > 0) {
    plain = digits.substr(0, static_cast<size_t>(point)) + "." + digits.substr(static_cast<size_t>(point));
  } else {
    plain = "0." + std::string(static_cast<size_t>(-point), '0') + digits;
  }
  std::string scientific(1, digits[0]);
  if (n > 1) scientific += "." + digits.substr(1);
  int exponent = point - 1;
  scientific += exponent < 0 ? "e-" : "e+";
  int magnitude = exponent < 0 ? -exponent : exponent;
  std::string number = std::to_string(magnitude);
  if (number.size() < 2) number.insert(0, "0");
  scientific += number;
  if (plain.size() > scientific.size()) return scientific;
  return point >= n ? whole() : plain;
}

std::string Hex(uint64_t v, int digits) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text(static_cast<size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, v >>= 4) text[static_cast<size_t>(i)] = kHex[v & 15];
  return text;
}

std::string FieldsToText(const TFields& fields, const TFormat& format) {
  std::string sign = fields.Negative ? "-" : "";
  if (fields.Biased == format.MaxBiased()) {
    if (fields.Field == format.InfinityField()) return (fields.Negative ? "-" : "+") + std::string("inf");
    std::string text = (fields.Negative ? "-" : "+") + std::string("nan");
    if (fields.Field != format.QuietNaN) text += "($" + Hex(fields.Field, format.HexDigits) + ")";
    return text;
  }
  uint64_t f = fields.Field;
  int e = format.MinExponent();
  if (fields.Biased != 0) {
    if (!format.ExplicitInteger) f |= format.IntegerBit();
    e += static_cast<int>(fields.Biased) - 1;
  }
  if (f == 0) return sign + "0";
  std::string digits;
  int point = 0;
  ShortestDigits(f, e, format, digits, point);
  return sign + Layout(digits, point, [&] {
           TBig value(f);
           if (e >= 0) value.ShiftLeft(e);
           else value.ShiftRight(-e);
           return value.Decimal();
         });
}

// --- Reading

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  c = static_cast<char>(c | 0x20);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}
bool SameWord(std::string_view text, size_t at, const char* word) {
  for (size_t i = 0; word[i] != '\0'; ++i)
    if (at + i >= text.size() || (text[at + i] | 0x20) != word[i]) return false;
  return true;
}

// Digits beyond this many only decide a tie, for which one more (sticky) digit is enough: the
// exact decimal of any binary float of these formats is shorter.
constexpr size_t kMaxDigits = 20000;

// Rounds D * 10^q (D > 0) to the format: false on overflow.
bool Round(const TBig& d, int64_t q, int digitCount, const TFormat& format, TFields& fields) {
  const int precision = format.Precision, emin = format.MinExponent();
  const int64_t magnitude = digitCount + q;  // 10^(magnitude - 1) <= value < 10^magnitude
  const double log2of10 = 3.32192809488736234787;
  const int64_t maxBinary = format.Bias() + 1;  // value < 2^maxBinary
  if ((magnitude - 1) * log2of10 > maxBinary + 1) return false;
  if (magnitude * log2of10 < emin - 2) {
    fields.Biased = 0;
    fields.Field = 0;
    return true;
  }
  uint64_t m = 0;
  int e = 0;
  bool carried = false;  // rounding up filled a bit above the significand
  auto roundUp = [&] {
    ++m;
    carried = precision == 64 ? m == 0 : m == (1ull << precision);
  };
  if (q >= 0) {
    TBig n = d;
    n.MulPow10(static_cast<int>(q));
    int length = n.BitLength();
    if (length <= precision) {
      m = n.Bits(0, length) << (precision - length);
      e = length - precision;
    } else {
      int drop = length - precision;
      m = n.Bits(drop, precision);
      e = drop;
      bool half = n.Bit(drop - 1), sticky = n.AnyBitBelow(drop - 1);
      if (half && (sticky || (m & 1) != 0)) roundUp();
    }
  } else {
    TBig denominator(1);
    denominator.MulPow10(static_cast<int>(-q));
    const int difference = d.BitLength() - denominator.BitLength();
    // The quotient d * 2^-e / denominator lies in [2^(precision-2), 2^precision).
    e = std::max(difference - precision + 1, emin);
    for (;;) {
      TBig num = d, den = denominator;
      if (e <= 0) num.ShiftLeft(-e);
      else den.ShiftLeft(e);
      m = num.DivideSmallQuotient(den, precision);
      if (m < format.IntegerBit() && e > emin) {
        --e;
        continue;
      }
      num.ShiftLeft(1);  // twice the remainder against the divisor decides the rounding
      int c = Compare(num, den);
      if (c > 0 || (c == 0 && (m & 1) != 0)) roundUp();
      break;
    }
  }
  if (carried) {
    m = format.IntegerBit();
    ++e;
  }
  if (m >= format.IntegerBit()) {
    int64_t biased = static_cast<int64_t>(e) - emin + 1;
    if (biased >= format.MaxBiased()) return false;
    fields.Biased = static_cast<uint32_t>(biased);
  } else {
    fields.Biased = 0;
  }
  fields.Field = m & format.FieldMask();
  return true;
}

bool TextToFields(std::string_view text, const TFormat& format, TFields& fields) {
  size_t i = 0;
  TFields result;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) result.Negative = text[i++] == '-';
  if (SameWord(text, i, "inf")) {
    if (i + 3 != text.size()) return false;
    result.Biased = format.MaxBiased();
    result.Field = format.InfinityField();
    fields = result;
    return true;
  }
  if (SameWord(text, i, "nan")) {
    i += 3;
    result.Biased = format.MaxBiased();
    result.Field = format.QuietNaN;
    if (i < text.size()) {
      if (text.size() < i + 4 || text[i] != '(' || text[i + 1] != '$' || text.back() != ')') return false;
      uint64_t payload = 0;
      size_t count = 0;
      for (i += 2; i + 1 < text.size(); ++i, ++count) {
        int v = HexValue(text[i]);
        if (v < 0 || count >= 16) return false;
        payload = (payload << 4) | static_cast<uint64_t>(v);
      }
      if (count == 0 || (payload & ~format.FieldMask()) != 0 || payload == format.InfinityField()) return false;
      result.Field = payload;
    }
    fields = result;
    return true;
  }
  // Significant digits (without leading zeros) and the decimal exponent of the last one.
  std::string digits;
  int64_t exponent = 0;
  bool any = false, sticky = false;
  auto take = [&](char c, bool fraction) {
    any = true;
    if (digits.empty() && c == '0') {
      if (fraction) --exponent;
      return;
    }
    if (digits.size() < kMaxDigits) {
      digits += c;
      if (fraction) --exponent;
    } else {
      if (c != '0') sticky = true;
      if (!fraction) ++exponent;
    }
  };
  for (; i < text.size() && IsDigit(text[i]); ++i) take(text[i], false);
  if (i < text.size() && text[i] == '.')
    for (++i; i < text.size() && IsDigit(text[i]); ++i) take(text[i], true);
  if (!any) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size() || !IsDigit(text[i])) return false;
    int64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) value = std::min<int64_t>(value * 10 + (text[i] - '0'), 1000000000);
    exponent += negative ? -value : value;
  }
  if (i != text.size()) return false;
  if (sticky) {
    digits += '1';
    --exponent;
  }
  if (digits.empty()) {
    result.Biased = 0;
    result.Field = 0;
    fields = result;
    return true;
  }
  TBig d;
  for (size_t at = 0; at < digits.size(); at += 9) {
    size_t n = std::min<size_t>(9, digits.size() - at);
    d.MulPow10(static_cast<int>(n));
    d.AddSmall(static_cast<uint32_t>(std::stoul(std::string(digits, at, n))));
  }
  if (!Round(d, exponent, static_cast<int>(digits.size()), format, result)) return false;
  fields = result;
  return true;
}

// --- Fields of each type

TFields ExtendedFields(const uint8_t bytes[10]) {
  TFields f;
  for (int i = 0; i < 8; ++i) f.Field |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  uint16_t top = static_cast<uint16_t>(bytes[8] | (bytes[9] << 8));
  f.Negative = (top & 0x8000) != 0;
  f.Biased = top & 0x7FFFu;
  return f;
}

template <typename T, typename Bits>
TFields IeeeFields(T value, const TFormat& format) {
  Bits bits;
  std::memcpy(&bits, &value, sizeof bits);
  TFields f;
  const int fieldBits = format.Precision - 1;
  f.Field = bits & format.FieldMask();
  f.Biased = static_cast<uint32_t>((bits >> fieldBits) & format.MaxBiased());
  f.Negative = (bits >> (fieldBits + format.ExponentBits)) != 0;
  return f;
}

// Stores through the reference: a float returned by value may pass through an x87 register on
// 32-bit x86, which would quieten a signalling NaN.
template <typename T, typename Bits>
void StoreIeee(const TFields& f, const TFormat& format, T& value) {
  const int fieldBits = format.Precision - 1;
  Bits bits = static_cast<Bits>(f.Field | (static_cast<uint64_t>(f.Biased) << fieldBits) |
                                (static_cast<uint64_t>(f.Negative) << (fieldBits + format.ExponentBits)));
  std::memcpy(&value, &bits, sizeof value);
}

}  // namespace

std::string ExtendedToText(const uint8_t bytes[10]) { return FieldsToText(ExtendedFields(bytes), kExtended); }

std::string DoubleToText(double value) { return FieldsToText(IeeeFields<double, uint64_t>(value, kDouble), kDouble); }

std::string SingleToText(float value) { return FieldsToText(IeeeFields<float, uint32_t>(value, kSingle), kSingle); }

bool TextToExtended(std::string_view text, uint8_t bytes[10]) {
  TFields f;
  if (!TextToFields(text, kExtended, f)) return false;
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(f.Field >> (8 * i));
  uint16_t top = static_cast<uint16_t>(f.Biased | (f.Negative ? 0x8000u : 0u));
  bytes[8] = static_cast<uint8_t>(top);
  bytes[9] = static_cast<uint8_t>(top >> 8);
  return true;
}

bool TextToDouble(std::string_view text, double& value) {
  TFields f;
  if (!TextToFields(text, kDouble, f)) return false;
  StoreIeee<double, uint64_t>(f, kDouble, value);
  return true;
}

bool TextToSingle(std::string_view text, float& value) {
  TFields f;
  if (!TextToFields(text, kSingle, f)) return false;
  StoreIeee<float, uint32_t>(f, kSingle, value);
  return true;
}
