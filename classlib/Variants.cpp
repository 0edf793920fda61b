// Variant conversions with the class library's rules, independent of the locale.
#include "Variants.h"

#include <cmath>
#include <limits>

const char* VarTypeName(TVarType type) {
  switch (type) {
    case varEmpty: return "Empty";
    case varNull: return "Null";
    case varBoolean: return "Boolean";
    case varInteger: return "Integer";
    case varInt64: return "Int64";
    case varDouble: return "Double";
    case varString: return "String";
    case varWideString: return "WideString";
    case varObject: return "Object";
  }
  return "Unknown";
}

void Variant::CastError(const char* target) const {
  throw EVariantError(std::string("Could not convert variant of type (") + VarTypeName(VarType()) +
                      ") into type (" + target + ")");
}

bool Variant::IsNumeric() const {
  TVarType t = VarType();
  return t == varBoolean || t == varInteger || t == varInt64 || t == varDouble;
}

bool Variant::ToBool() const {
  switch (VarType()) {
    case varEmpty:
    case varNull: return false;
    case varBoolean: return std::get<bool>(value_);
    case varInteger:
    case varInt64: return ToInt64() != 0;
    case varDouble: return std::get<double>(value_) != 0;
    case varString:
    case varWideString: {
      std::string text = Trim(ToString());
      if (SameText(text, "True")) return true;
      if (SameText(text, "False")) return false;
      int64_t number = 0;
      if (TryStrToInt64(text, number)) return number != 0;
      CastError("Boolean");
    }
    case varObject: break;
  }
  CastError("Boolean");
}

int64_t Variant::ToInt64() const {
  switch (VarType()) {
    case varEmpty:
    case varNull: return 0;
    case varBoolean: return std::get<bool>(value_) ? -1 : 0;  // the platform's True is -1
    case varInteger: return std::get<int32_t>(value_);
    case varInt64: return std::get<int64_t>(value_);
    case varDouble: {
      double d = std::get<double>(value_);
      if (!std::isfinite(d) || d >= 9.2e18 || d <= -9.2e18) CastError("Int64");
      return Round(d);
    }
    case varString:
    case varWideString: {
      std::string text = ToString();
      int64_t number = 0;
      if (TryStrToInt64(text, number)) return number;
      double d = 0;
      if (TryStrToFloatDot(text, d) && std::isfinite(d) && std::fabs(d) < 9.2e18) return Round(d);
      CastError("Int64");
    }
    case varObject: break;
  }
  CastError("Int64");
}

int32_t Variant::ToInt() const {
  int64_t v = ToInt64();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) CastError("Integer");
  return static_cast<int32_t>(v);
}

double Variant::ToDouble() const {
  switch (VarType()) {
    case varEmpty:
    case varNull: return 0;
    case varBoolean: return std::get<bool>(value_) ? -1 : 0;
    case varInteger: return std::get<int32_t>(value_);
    case varInt64: return static_cast<double>(std::get<int64_t>(value_));
    case varDouble: return std::get<double>(value_);
    case varString:
    case varWideString: {
      double d = 0;
      if (TryStrToFloatDot(ToString(), d)) return d;
      CastError("Double");
    }
    case varObject: break;
  }
  CastError("Double");
}

std::string Variant::ToString() const {
  switch (VarType()) {
    case varEmpty:
    case varNull: return std::string();
    case varBoolean: return std::get<bool>(value_) ? "True" : "False";
    case varInteger: return IntToStr(std::get<int32_t>(value_));
    case varInt64: return IntToStr(std::get<int64_t>(value_));
    case varDouble: return FloatToStrDot(std::get<double>(value_));
    case varString: return std::get<std::string>(value_);
    case varWideString: return WideToUtf8(std::get<WideString>(value_));
    case varObject: break;
  }
  CastError("String");
}

WideString Variant::ToWideString() const {
  if (VarType() == varWideString) return std::get<WideString>(value_);
  return Utf8ToWide(ToString());
}

TObject* Variant::ToObject() const {
  switch (VarType()) {
    case varEmpty:
    case varNull: return nullptr;
    case varObject: return std::get<TObject*>(value_);
    default: CastError("Object");
  }
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.VarType() == b.VarType()) return a.value_ == b.value_;
  if (a.IsNumeric() && b.IsNumeric()) {
    if (a.VarType() == varDouble || b.VarType() == varDouble) return a.ToDouble() == b.ToDouble();
    return a.ToInt64() == b.ToInt64();
  }
  if (a.IsString() && b.IsString()) return a.ToWideString() == b.ToWideString();
  return false;
}
