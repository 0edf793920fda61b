// Exact decimal text of the binary floats of the component format: single, double and the
// 10-byte extended (x87 layout), the same on every platform whatever its long double is.
//
// Writing gives the shortest decimal that reads back to the same value, in plain ("0.001",
// "1500") or scientific ("1e+100", "3.6451995318824746e-4951") notation, whichever is shorter
// (plain on a tie). Infinities are written "+inf" and "-inf"; NaNs "+nan" or "-nan" when they
// carry the plain quiet payload of their type, else with the bits of the payload in hexadecimal,
// "-nan($C000000000000001)" (extended: the whole 64-bit significand; double and single: the
// fraction). Reading takes those forms and decimals with an optional sign, "." fraction and
// "e" exponent; the value is rounded to the nearest (halves to the even neighbour), results
// below the smallest subnormal give zero, beyond the largest finite value the reading fails.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

std::string ExtendedToText(const uint8_t bytes[10]);
std::string DoubleToText(double value);
std::string SingleToText(float value);

// False (and the output untouched) when the text is not a whole number of the forms above or
// its value is beyond the type's range.
bool TextToExtended(std::string_view text, uint8_t bytes[10]);
bool TextToDouble(std::string_view text, double& value);
bool TextToSingle(std::string_view text, float& value);
