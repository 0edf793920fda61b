// Text conversions of the XML library: UTF-8 and UTF-16, Base64 and hexadecimal, escaping,
// quoting, blanks and line wrapping. All texts are byte strings holding UTF-8 unless noted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "classlib/System.h"

// --- Characters

// Tab, line feed, carriage return and space: the only blanks XML knows.
inline bool IsXmlBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline bool IsXmlQuote(char c) { return c == '"' || c == '\''; }

// The UTF-8 form of one code point; surrogates and values above U+10FFFF give an empty text.
std::string CodePointToUtf8(uint32_t code);

// --- UTF-8 and UTF-16

// UTF-16 to UTF-8; surrogate pairs become four-byte sequences, a lone surrogate becomes U+FFFD.
std::string sdWideToUtf8(const WideString& text);

// UTF-8 to UTF-16 (four-byte sequences become surrogate pairs). A malformed or cut-short
// sequence makes the whole result empty.
WideString sdUtf8ToWide(const std::string& text);

// --- Binary data

// Standard Base64 alphabet, "=" padding, no line breaks.
std::string EncodeBase64(const void* data, size_t count);

// Decodes exactly `count` bytes into `buffer`. Raises EFilerError "Missing data in binary stream"
// when the text holds fewer bytes, and "Invalid character in binary stream" for a character
// outside the alphabet. Characters beyond what fills the buffer are ignored.
void DecodeBase64(const std::string& text, void* buffer, size_t count);

// Two upper-case hexadecimal digits a byte.
std::string EncodeHex(const void* data, size_t count);

// Decodes exactly `count` bytes; raises EFilerError "Missing data in binary stream" when the text
// is too short and "Invalid character in binary stream" for a non-hexadecimal digit.
void DecodeHex(const std::string& text, void* buffer, size_t count);

// --- Escaping and quoting

// Replaces & < > ' " by their five predefined entities.
std::string EscapeText(const std::string& text);

// Resolves the five predefined entities and character references (decimal or "x" hexadecimal,
// U+0001 to U+10FFFF without surrogates, written as UTF-8). A reference outside that range is
// dropped; an unknown entity or a malformed reference is copied unchanged; an "&" without a later
// ";" ends the scan and the rest is copied as it is.
std::string UnescapeText(const std::string& text);

// Surrounds with double quotes, or single quotes when the text holds a double quote; the quote
// character inside is doubled.
std::string QuoteText(const std::string& text);

// Removes surrounding quotes (when at least two characters long and the first is a quote
// character), turning doubled quote characters inside into single ones; other texts unchanged.
std::string UnquoteText(const std::string& text);

// --- Blanks and searching

// Removes XML blanks from both ends.
std::string TrimBlanks(const std::string& text);
// Removes every XML blank.
std::string StripBlanks(const std::string& text);
// Replaces every occurrence of `find` (non-empty) by `replacement`.
std::string ReplaceText(const std::string& text, const std::string& find,
                        const std::string& replacement);
// Position of `find` in `text` at or after `from`, std::string::npos when absent.
size_t FindText(const std::string& text, const std::string& find, size_t from = 0);

// Inserts `separator` before the first character and before every `lineLength`th character after
// it, and once more at the end. An empty separator (or a zero line length) leaves the text alone.
std::string WrapLines(const std::string& text, size_t lineLength, const std::string& separator);
