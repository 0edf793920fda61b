// Token routines: cutting the next token off a text, for the point, rect and codec parameter
// readers and for word breaking in the text controls.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/System.h"

// Removes the first token from `s` and answers it. Characters are taken from the front of `s`:
// one found in `stops` ends the token and stays in `s`; any other is removed, and one found in
// `separators` ends the token without being part of it. Token and rest are then trimmed of
// blanks and control characters. vgGetToken("( 1 , 2 )", ",()") yields "", "1", "2".
std::string vgGetToken(std::string& s, const std::string& separators, const std::string& stops = std::string());

// The wide form over a position (0-based) instead of deleting: takes characters from `pos` until
// one in `stops` or `separators` (not consumed), then skips every following separator character;
// `pos` ends after them. A position outside the text answers "" and leaves `pos` at the end.
WideString vgWideGetToken(int32_t& pos, const WideString& s, const WideString& separators,
                          const WideString& stops = WideString());
