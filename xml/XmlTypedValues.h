// Text forms of the XML typed values: floats, ISO 8601 date-times and booleans. The typed
// accessors themselves are members of TXmlNode (XmlDocument.h).
#pragma once

#include <cstdint>
#include <string>

#include "classlib/DateUtils.h"

// A float with at most `digits` significant digits (1..9, else Exception "Significant digits out
// of range"), trailing zeros dropped, "." as separator; with `allowExponent` very large or small
// magnitudes get an "E" exponent. Infinities give "INF" and "-INF", NaN gives "NaN".
std::string FloatToXmlText(double value, int32_t digits, bool allowExponent);

// Parses a float written with "." or ","; false when the text is no number.
bool XmlTextToFloat(const std::string& text, double& value);

// "yyyy-mm-dd" for a value without a time part, else "yyyy-mm-ddThh:nn:ss.zzz" followed by "Z",
// or, with `localTimeBias` and a local time zone other than UTC, by "+hh:nn"/"-hh:nn". The time
// written is the local time.
std::string DateTimeToIsoText(TDateTime value, bool localTimeBias);

// Reads the forms DateTimeToIsoText writes. With `localTimeBias` a written offset is applied and
// the result turned into local time. False when the date part cannot be read.
bool IsoTextToDateTime(const std::string& text, bool localTimeBias, TDateTime& value);

// "1", "T", "Y" (any case) are true; "0", "F", "N" false; anything else, or an empty text, raises
// Exception "Cannot convert value to bool".
bool TextToBool(const std::string& text);
