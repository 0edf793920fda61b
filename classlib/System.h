// The root of the class hierarchy and the basic value types the rest of the code shares.
#pragma once

#include <cstdint>
#include <string>

// Reference-counted text of the original platform: ANSI strings are byte strings, wide strings
// are UTF-16 on every platform (wchar_t is 32 bits outside Windows).
using WideString = std::u16string;
using WideChar = char16_t;

// Base of every object with a virtual destructor; the class records (names, published
// properties) are added by the object model.
class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
};

// Rounds to the nearest integer, halves to the even neighbour ("banker's rounding"), independent
// of the FPU rounding mode in force. Values outside the 64-bit range saturate; NaN gives 0.
int64_t Round(double value);

// Truncates toward zero, saturating like Round.
int64_t Trunc(double value);
