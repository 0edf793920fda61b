// The text form of component streams ("object Name: TClass ... end") and its conversion to and
// from the binary form.
//
// Text form: one object per block, "object", "inherited" or "inline", then "Name: TClass" (or
// only the class for an unnamed object) and an optional "[position]"; properties one per line as
// "Name = value"; child objects; "end". Values: integers (decimal or $hex), floats with "." and
// an optional suffix (s single, c currency, d date, x double; none: extended), quoted strings
// with '' for a quote and #nnn codes, joined across lines with "+", identifiers, sets "[a, b]",
// lists "( ... )", binary data "{hex}" and collections "< item ... end >".
//
// Strings are written in ASCII only: printable characters in quotes, every other one as a code.
// An ANSI string's codes are its bytes ('caf'#233); a wide string's are code points, and one that
// holds no character above 255 writes those from 128 on in hexadecimal ('caf'#$E9) so that it
// reads back wide. On reading, a decimal code above 255 or a hexadecimal one from 128 makes the
// string wide; literal bytes above 127, as older text holds them, are ANSI characters.
#pragma once

#include <string>

#include "Classes.h"
#include "Streams.h"

enum TStreamOriginalFormat { sofUnknown, sofBinary, sofText };

// Converts one binary component stream at the input's position into text. Bad input raises
// EReadError (as the reader does).
void ObjectBinaryToText(TStream& input, TStream& output);

// Converts form text from the input's position to its end into a binary component stream.
// Syntax errors raise EParserError ("Line <n>: <what>"); input nests at most 256 levels.
void ObjectTextToBinary(TStream& input, TStream& output);

// Looks at the bytes at the stream's position (which it keeps): the binary signature, form text
// (after blanks and a UTF-8 byte-order mark) or neither.
TStreamOriginalFormat TestStreamFormat(TStream& stream);

// Conveniences over the converters: a component (and its children) as form text, and form
// text read into `instance` (or a new instance of its class when nullptr).
std::string ComponentToText(TComponent* component);
TComponent* TextToComponent(const std::string& text, TComponent* instance);
