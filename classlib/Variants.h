// A small Variant: the loosely typed value of property access and data binding.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "SysUtils.h"

class TObject;

enum TVarType : uint8_t {
  varEmpty,
  varNull,
  varBoolean,
  varInteger,   // 32-bit signed
  varInt64,
  varDouble,
  varString,    // byte string (UTF-8 when converted to or from wide text)
  varWideString,
  varObject,    // an object reference, not owned
};

// Holds one value of the kinds above. Conversions follow the class library's rules: numbers
// convert to text with "." whatever the locale, texts convert to numbers only when they are
// whole well-formed numbers, and a failed conversion raises EVariantError
// ("Could not convert variant of type (<from>) into type (<to>)").
class Variant {
 public:
  Variant() = default;
  Variant(bool value) : value_(value) {}
  Variant(int32_t value) : value_(value) {}
  Variant(int64_t value) : value_(value) {}
  Variant(double value) : value_(value) {}
  Variant(const char* value) : value_(std::string(value)) {}
  Variant(std::string value) : value_(std::move(value)) {}
  Variant(WideString value) : value_(std::move(value)) {}
  Variant(TObject* value) : value_(value) {}
  static Variant Null() {
    Variant v;
    v.value_ = NullTag{};
    return v;
  }

  TVarType VarType() const { return static_cast<TVarType>(value_.index()); }
  bool IsEmpty() const { return VarType() == varEmpty; }
  bool IsNull() const { return VarType() == varNull; }
  bool IsNumeric() const;
  bool IsString() const { return VarType() == varString || VarType() == varWideString; }

  // Empty and Null convert to 0, false, "" and nil.
  bool ToBool() const;
  int32_t ToInt() const;  // raises when the value is outside the 32-bit range
  int64_t ToInt64() const;
  double ToDouble() const;
  std::string ToString() const;  // Booleans as "True"/"False"
  WideString ToWideString() const;
  TObject* ToObject() const;  // raises unless the value is an object, Empty or Null

  // Same kind and value; numbers of different kinds compare by value, texts by content.
  friend bool operator==(const Variant& a, const Variant& b);

 private:
  struct NullTag {
    bool operator==(const NullTag&) const { return true; }
  };
  [[noreturn]] void CastError(const char* target) const;
  std::variant<std::monostate, NullTag, bool, int32_t, int64_t, double, std::string, WideString, TObject*> value_;
};

// The name of a variant type as in error messages ("Integer", "String", ...).
const char* VarTypeName(TVarType type);
