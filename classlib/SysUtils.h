// Exception classes with a message, and the string and number conversions of the class library.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "System.h"

// --- Exceptions

// Base of every exception the system raises: carries a message text.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

#define KBL_DECLARE_EXCEPTION(Name, Base) \
  class Name : public Base {              \
   public:                                \
    using Base::Base;                     \
  }

// The system's text for an error code (Windows: the system's message table; elsewhere the C
// library's), without its line end; empty when the system has none.
std::string SysErrorMessage(uint32_t code);

// --- Exceptions caught where they must stop
//
// Code that must not let an exception through (host entries, window procedures, callbacks)
// hands what it caught to the installed handler (the exception library) before it goes on.
// `displayMode` is 0 from a host entry and 1 from a window procedure or callback.
using TCaughtExceptionHandler = bool (*)(const std::exception* error, uint8_t displayMode);
void SetCaughtExceptionHandler(TCaughtExceptionHandler handler);
// Call inside a catch block: passes the exception being handled (nullptr for one that is no
// std::exception) to the handler. Answers true when the caller is to go on with its own handling
// (always without a handler). Never raises.
bool HandOverCaughtException(uint8_t displayMode) noexcept;

KBL_DECLARE_EXCEPTION(EAbort, Exception);
KBL_DECLARE_EXCEPTION(EListError, Exception);
KBL_DECLARE_EXCEPTION(EConvertError, Exception);
// A checked cast to a class the object does not have ("Invalid class typecast").
KBL_DECLARE_EXCEPTION(EInvalidCast, Exception);
KBL_DECLARE_EXCEPTION(EInvalidOperation, Exception);
KBL_DECLARE_EXCEPTION(EOutOfMemory, Exception);
KBL_DECLARE_EXCEPTION(EStreamError, Exception);
KBL_DECLARE_EXCEPTION(EFCreateError, EStreamError);
KBL_DECLARE_EXCEPTION(EFOpenError, EStreamError);
KBL_DECLARE_EXCEPTION(EFilerError, EStreamError);
KBL_DECLARE_EXCEPTION(EReadError, EFilerError);
KBL_DECLARE_EXCEPTION(EWriteError, EFilerError);
KBL_DECLARE_EXCEPTION(EClassNotFound, EFilerError);
KBL_DECLARE_EXCEPTION(EComponentError, Exception);
KBL_DECLARE_EXCEPTION(EPropertyError, Exception);
KBL_DECLARE_EXCEPTION(EPropertyConvertError, Exception);
KBL_DECLARE_EXCEPTION(EVariantError, Exception);
KBL_DECLARE_EXCEPTION(EParserError, EFilerError);

// --- Integer conversions

// Parses a whole 32-bit integer: leading blanks (characters up to space) are skipped, an optional
// sign follows, then decimal digits or "$"/"0x"/"0X" and hexadecimal digits. Anything else, an
// empty text or a value outside the 32-bit range raises EConvertError
// ("'<text>' is not a valid integer value").
int32_t StrToInt(const std::string& text);
int64_t StrToInt64(const std::string& text);

// As StrToInt, but answers `fallback` instead of raising.
int32_t StrToIntDef(const std::string& text, int32_t fallback);
int64_t StrToInt64Def(const std::string& text, int64_t fallback);

// As StrToInt, answering false instead of raising.
bool TryStrToInt(const std::string& text, int32_t& value);
bool TryStrToInt64(const std::string& text, int64_t& value);

std::string IntToStr(int64_t value);

// Upper-case hexadecimal, padded with zeros to at least `digits` digits.
std::string IntToHex(uint64_t value, int digits);

// --- Text

// Removes characters up to and including space from both ends (or one end).
std::string Trim(const std::string& text);
std::string TrimLeft(const std::string& text);
std::string TrimRight(const std::string& text);

// ASCII-only case mapping, independent of the locale.
std::string UpperCase(const std::string& text);
std::string LowerCase(const std::string& text);
bool SameText(const std::string& a, const std::string& b);
int CompareText(const std::string& a, const std::string& b);

// Splits text into lines at CR LF, LF or CR. A final line break does not start another line;
// an empty text gives no lines.
std::vector<std::string> SplitLines(const std::string& text);

// --- Floats

// Formats with "." as the decimal separator whatever the locale; `decimals` < 0 gives the
// shortest text that reads back to the same double.
std::string FloatToStrDot(double value, int decimals = -1);

// Parses a float with "." as the decimal separator whatever the locale; surrounding blanks are
// allowed, anything else answers false.
bool TryStrToFloatDot(const std::string& text, double& value);

// --- Floats in the user's number format

// The user's number settings, read from the system (the user's locale); this system only reads
// them and never changes them.
struct TFormatSettings {
  WideChar DecimalSeparator = u'.';
};
// The settings of the user's locale now ("." when the system answers nothing usable).
TFormatSettings GetLocaleFormatSettings();

// `value` with exactly `decimals` digits after the settings' separator ("%.2f"); negative
// decimals count as 0.
WideString FloatToStrFixed(double value, int decimals, const TFormatSettings& settings);
// The shortest text that reads back to the same single, with the settings' separator
// ("3.14159", "12.5", "1e+20"); "NAN", "INF", "-INF" for those values.
WideString FloatToStrShortest(float value, const TFormatSettings& settings);
// Parses a decimal float written with the settings' separator (an optional sign, digits with at
// most one separator, an optional exponent; blanks around it allowed). Anything else, including
// a full stop where the settings use another separator, infinities and NaN, answers false and
// leaves `value` alone.
bool TryStrToFloat(const WideString& text, double& value, const TFormatSettings& settings);

// --- Text encodings

// UTF-8 <-> UTF-16. Malformed UTF-8 bytes and lone surrogates become U+FFFD; never raises.
WideString Utf8ToWide(const std::string& text);
std::string WideToUtf8(const WideString& text);

// The platform's ANSI code page (Windows-1252) <-> UTF-16, the same on every host. Characters
// the code page cannot hold become '?'.
WideString AnsiToWide(const std::string& text);
std::string WideToAnsi(const WideString& text);
