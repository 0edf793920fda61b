// The component stream reader and writer, hardened against hostile input.
#include "Filer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "Classes_p.h"

// --- Extended floats

void DoubleToExtended(double value, uint8_t bytes[10]) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  const uint16_t sign = static_cast<uint16_t>((bits >> 63) << 15);
  const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t fraction = bits & 0xFFFFFFFFFFFFFull;
  uint64_t mantissa = 0;
  uint16_t top = sign;
  if (exponent == 0x7FF) {  // infinity or NaN
    mantissa = 0x8000000000000000ull | (fraction << 11);
    top |= 0x7FFF;
  } else if (exponent == 0) {
    if (fraction != 0) {  // subnormal double: normalise, extended has the range for it
      int e = 1 - 1023;
      while ((fraction & (1ull << 52)) == 0) {
        fraction <<= 1;
        --e;
      }
      mantissa = fraction << 11;
      top |= static_cast<uint16_t>(e + 16383);
    }
  } else {
    mantissa = 0x8000000000000000ull | (fraction << 11);
    top |= static_cast<uint16_t>(exponent - 1023 + 16383);
  }
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(mantissa >> (8 * i));
  bytes[8] = static_cast<uint8_t>(top);
  bytes[9] = static_cast<uint8_t>(top >> 8);
}

double ExtendedToDouble(const uint8_t bytes[10]) {
  uint64_t mantissa = 0;
  for (int i = 0; i < 8; ++i) mantissa |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  const uint16_t top = static_cast<uint16_t>(bytes[8] | (bytes[9] << 8));
  const bool negative = (top & 0x8000) != 0;
  const int exponent = top & 0x7FFF;
  double result;
  if (exponent == 0x7FFF) {
    result = (mantissa << 1) == 0 ? std::numeric_limits<double>::infinity()
                                  : std::numeric_limits<double>::quiet_NaN();
  } else if (mantissa == 0) {
    result = 0.0;
  } else {
    // The 64-bit integer converts with round-to-nearest; ldexp scales without further rounding
    // except for results in the subnormal range.
    result = std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
  }
  return negative ? -result : result;
}

namespace {

int64_t DecodeLE(const uint8_t* bytes, int count) {
  uint64_t v = 0;
  for (int i = 0; i < count; ++i) v |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  if (count < 8 && (v >> (count * 8 - 1) & 1)) v |= ~0ull << (count * 8);  // sign-extend
  return static_cast<int64_t>(v);
}

void EncodeLE(uint64_t value, uint8_t* bytes, int count) {
  for (int i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool IsIntegerValue(TValueType v) { return v == vaInt8 || v == vaInt16 || v == vaInt32 || v == vaInt64; }

}  // namespace

// --- TReader: values

class DepthGuard {
 public:
  explicit DepthGuard(TReader& reader) : reader_(reader) { reader_.Enter(); }
  ~DepthGuard() { reader_.Leave(); }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  TReader& reader_;
};

void TReader::FormatError(const std::string& what) {
  throw EReadError(what + " at offset " + IntToStr(stream_.GetPosition()));
}

void TReader::Enter() {
  if (++depth_ > kMaxDepth) {
    --depth_;
    FormatError("Stream nesting too deep");
  }
}

int64_t TReader::Remaining() {
  int64_t remaining = stream_.Remaining();
  return remaining < 0 ? 0 : remaining;
}

void TReader::Read(void* buffer, int32_t count) {
  if (count <= 0) return;
  if (stream_.Read(buffer, count) != count) FormatError("Stream read error");
}

TValueType TReader::ReadValue() {
  uint8_t b = 0;
  Read(&b, 1);
  if (b > kLastValueType) {
    stream_.Seek(-1, soCurrent);
    FormatError("Invalid value type " + IntToStr(b));
  }
  return static_cast<TValueType>(b);
}

TValueType TReader::NextValue() {
  TValueType v = ReadValue();
  stream_.Seek(-1, soCurrent);
  return v;
}

bool TReader::EndOfList() {
  // A raw look: before a component the next byte may be a prefix, not a value type.
  uint8_t b = 0;
  Read(&b, 1);
  stream_.Seek(-1, soCurrent);
  return b == vaNull;
}

void TReader::CheckValue(TValueType expected) {
  TValueType v = ReadValue();
  if (v != expected) {
    stream_.Seek(-1, soCurrent);
    FormatError("Invalid property value (value type " + IntToStr(v) + ", expected " + IntToStr(expected) + ")");
  }
}

int64_t TReader::ReadInt64() {
  uint8_t bytes[8];
  switch (ReadValue()) {
    case vaInt8: Read(bytes, 1); return DecodeLE(bytes, 1);
    case vaInt16: Read(bytes, 2); return DecodeLE(bytes, 2);
    case vaInt32: Read(bytes, 4); return DecodeLE(bytes, 4);
    case vaInt64: Read(bytes, 8); return DecodeLE(bytes, 8);
    default:
      stream_.Seek(-1, soCurrent);
      FormatError("Integer value expected");
  }
}

int32_t TReader::ReadInteger() {
  int64_t v = ReadInt64();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    FormatError("Integer value out of range");
  return static_cast<int32_t>(v);
}

bool TReader::ReadBoolean() {
  TValueType v = ReadValue();
  if (v == vaTrue) return true;
  if (v == vaFalse) return false;
  stream_.Seek(-1, soCurrent);
  FormatError("Boolean value expected");
}

std::string TReader::ReadLongBytes(int64_t unit) {
  uint8_t bytes[4];
  Read(bytes, 4);
  int64_t count = DecodeLE(bytes, 4);
  if (count < 0 || count * unit > Remaining()) FormatError("Invalid length " + IntToStr(count));
  std::string data(static_cast<size_t>(count * unit), '\0');
  Read(data.data(), static_cast<int32_t>(data.size()));
  return data;
}

namespace {
WideString Utf16FromBytes(const std::string& bytes) {
  WideString w(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < w.size(); ++i)
    w[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) | (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
  return w;
}
}  // namespace

WideString TReader::ReadWideString() {
  switch (ReadValue()) {
    case vaString: {
      uint8_t length = 0;
      Read(&length, 1);
      std::string s(length, '\0');
      Read(s.data(), length);
      return AnsiToWide(s);
    }
    case vaLString: return AnsiToWide(ReadLongBytes(1));
    case vaWString: return Utf16FromBytes(ReadLongBytes(2));
    case vaUTF8String: return Utf8ToWide(ReadLongBytes(1));
    default:
      stream_.Seek(-1, soCurrent);
      FormatError("String value expected");
  }
}

std::string TReader::ReadString() {
  switch (NextValue()) {
    case vaString: {
      ReadValue();
      uint8_t length = 0;
      Read(&length, 1);
      std::string s(length, '\0');
      Read(s.data(), length);
      return s;
    }
    case vaLString: ReadValue(); return ReadLongBytes(1);
    default: return WideToAnsi(ReadWideString());
  }
}

char TReader::ReadChar() {
  std::string s = ReadString();
  if (s.size() != 1) FormatError("Character value expected");
  return s[0];
}

WideChar TReader::ReadWideChar() {
  WideString s = ReadWideString();
  if (s.size() != 1) FormatError("Character value expected");
  return s[0];
}

double TReader::ReadFloat() {
  uint8_t bytes[10];
  switch (ReadValue()) {
    case vaExtended: Read(bytes, 10); return ExtendedToDouble(bytes);
    case vaDouble:
    case vaDate: {
      Read(bytes, 8);
      double d;
      std::memcpy(&d, bytes, 8);  // little-endian hosts only, as the format itself
      return d;
    }
    case vaSingle: {
      Read(bytes, 4);
      float f;
      std::memcpy(&f, bytes, 4);
      return f;
    }
    case vaCurrency: Read(bytes, 8); return static_cast<double>(DecodeLE(bytes, 8)) / 10000.0;
    case vaInt8:
    case vaInt16:
    case vaInt32:
    case vaInt64: stream_.Seek(-1, soCurrent); return static_cast<double>(ReadInt64());
    default:
      stream_.Seek(-1, soCurrent);
      FormatError("Float value expected");
  }
}

float TReader::ReadSingle() { return static_cast<float>(ReadFloat()); }

double TReader::ReadDouble() { return ReadFloat(); }

int64_t TReader::ReadCurrency() {
  if (NextValue() == vaCurrency) {
    ReadValue();
    uint8_t bytes[8];
    Read(bytes, 8);
    return DecodeLE(bytes, 8);
  }
  double d = ReadFloat() * 10000.0;
  if (!std::isfinite(d) || std::fabs(d) > 9.2e18) FormatError("Currency value out of range");
  return Round(d);
}

double TReader::ReadDate() { return ReadFloat(); }

std::string TReader::ReadStr() {
  uint8_t length = 0;
  Read(&length, 1);
  std::string s(length, '\0');
  Read(s.data(), length);
  return s;
}

std::string TReader::ReadIdent() {
  switch (ReadValue()) {
    case vaIdent: return ReadStr();
    case vaFalse: return "False";
    case vaTrue: return "True";
    case vaNil: return "nil";
    case vaNull: return "Null";
    default:
      stream_.Seek(-1, soCurrent);
      FormatError("Identifier expected");
  }
}

uint32_t TReader::ReadSet(const TTypeInfo* setType) {
  CheckValue(vaSet);
  uint32_t bits = 0;
  for (;;) {
    std::string name = ReadStr();
    if (name.empty()) break;
    int value = GetEnumValue(setType ? setType->CompType : nullptr, name);
    if (value < 0 || value >= 32) FormatError("Invalid set element " + name);
    bits |= 1u << value;
  }
  return bits;
}

void TReader::SkipBytes(int64_t count) {
  if (count < 0 || count > Remaining()) FormatError("Invalid length " + IntToStr(count));
  stream_.Seek(count, soCurrent);
}

void TReader::SkipValue() {
  DepthGuard guard(*this);
  uint8_t bytes[4];
  switch (ReadValue()) {
    case vaNull:
    case vaFalse:
    case vaTrue:
    case vaNil: return;
    case vaList:
      while (!EndOfList()) SkipValue();
      ReadListEnd();
      return;
    case vaInt8: SkipBytes(1); return;
    case vaInt16: SkipBytes(2); return;
    case vaInt32:
    case vaSingle: SkipBytes(4); return;
    case vaInt64:
    case vaDouble:
    case vaDate:
    case vaCurrency: SkipBytes(8); return;
    case vaExtended: SkipBytes(10); return;
    case vaString:
    case vaIdent: ReadStr(); return;
    case vaBinary:
    case vaLString:
    case vaUTF8String:
      Read(bytes, 4);
      SkipBytes(DecodeLE(bytes, 4));
      return;
    case vaWString:
      Read(bytes, 4);
      SkipBytes(DecodeLE(bytes, 4) * 2);
      return;
    case vaSet:
      while (!ReadStr().empty()) {
      }
      return;
    case vaCollection:
      while (!EndOfList()) {
        if (IsIntegerValue(NextValue())) SkipValue();
        ReadListBegin();
        while (!EndOfList()) {
          ReadStr();
          SkipValue();
        }
        ReadListEnd();
      }
      ReadListEnd();
      return;
  }
}

// --- TReader: components

void TReader::ReadSignature() {
  char signature[4];
  Read(signature, 4);
  if (std::memcmp(signature, "TPF0", 4) != 0) throw EReadError("Invalid stream format");
}

void TReader::ReadPrefix(uint8_t& flags, int32_t& childPos) {
  flags = 0;
  childPos = 0;
  uint8_t b = 0;
  Read(&b, 1);
  if ((b & 0xF0) != 0xF0) {
    stream_.Seek(-1, soCurrent);
    return;
  }
  flags = b & 0x0F;
  if (flags & ffChildPos) childPos = ReadInteger();
}

void TReader::ReadComponentHeader(uint8_t& flags, int32_t& childPos, std::string& className, std::string& name) {
  ReadPrefix(flags, childPos);
  className = ReadStr();
  if (className.empty()) FormatError("Class name expected");
  name = ReadStr();
}

const TClassInfo* TReader::FindComponentClass(const std::string& className) {
  const TClassInfo* cls = nullptr;
  OnFindComponentClass(this, className, cls);
  if (cls == nullptr) cls = GetClass(className);
  if (cls == nullptr || !cls->InheritsFrom(TComponent::StaticClassInfo()))
    throw EClassNotFound("Class " + className + " not found");
  return cls;
}

namespace {

// Turns any library exception into the reader's error, keeping filer errors as they are.
[[noreturn]] void RethrowAsReadError(const std::string& prefix) {
  try {
    throw;
  } catch (const EFilerError&) {
    throw;
  } catch (const Exception& e) {
    throw EReadError(prefix + e.Message());
  }
}

bool IsInOwnership(const TComponent* root, const TComponent* target, int depth = 0) {
  if (root == target) return true;
  if (depth > TReader::kMaxDepth * 2) return false;
  for (int32_t i = 0; i < root->ComponentCount(); ++i)
    if (IsInOwnership(root->GetComponent(i), target, depth + 1)) return true;
  return false;
}

}  // namespace

TComponent* TReader::ReadRootComponent(TComponent* root) {
  ReadSignature();
  uint8_t flags = 0;
  int32_t childPos = 0;
  std::string className, name;
  ReadComponentHeader(flags, childPos, className, name);
  bool created = false;
  if (root == nullptr) {
    const TClassInfo* cls = FindComponentClass(className);
    TObject* object = cls->Create(nullptr);
    root = dynamic_cast<TComponent*>(object);
    if (root == nullptr) {
      delete object;
      throw EClassNotFound("Class " + className + " not found");
    }
    created = true;
  }
  loaded_.clear();
  try {
    if (!root->HasState(csDesigning)) {
      OnSetName(this, root, name);
      root->SetName(name);
    }
    root_ = root;
    lookupRoot_ = root;
    owner_ = root;
    parent_ = nullptr;
    loaded_.push_back(root);
    root->IncludeState(csLoading);
    root->IncludeState(csReading);
    root->ReadState(*this);
    root->ExcludeState(csReading);
    std::vector<TComponent*> loaded;
    loaded.swap(loaded_);
    for (TComponent* c : loaded) c->Loaded();
  } catch (...) {
    for (TComponent* c : loaded_) {
      c->ExcludeState(csLoading);
      c->ExcludeState(csReading);
    }
    loaded_.clear();
    root->ExcludeState(csLoading);
    root->ExcludeState(csReading);
    if (created) delete root;
    RethrowAsReadError("Error reading " + name + ": ");
  }
  return root;
}

TComponent* TReader::ReadComponent(TComponent* component) {
  DepthGuard guard(*this);
  uint8_t flags = 0;
  int32_t childPos = 0;
  std::string className, name;
  ReadComponentHeader(flags, childPos, className, name);
  TComponent* result = component;
  bool created = false;
  const size_t loadedMark = loaded_.size();
  if (result == nullptr) {
    if (flags & ffInherited) {
      result = owner_ ? owner_->FindComponent(name) : nullptr;
      if (result == nullptr) throw EReadError("Ancestor for '" + name + "' not found");
    } else {
      const TClassInfo* cls = FindComponentClass(className);
      kbl_detail::constructingForReader = true;
      TObject* object = nullptr;
      try {
        object = cls->Create(owner_);
      } catch (...) {
        kbl_detail::constructingForReader = false;
        RethrowAsReadError("Error creating " + className + ": ");
      }
      kbl_detail::constructingForReader = false;
      result = dynamic_cast<TComponent*>(object);
      if (result == nullptr) {
        delete object;
        throw EClassNotFound("Class " + className + " not found");
      }
      created = true;
    }
  }
  try {
    result->IncludeState(csLoading);
    if (!(flags & ffInherited)) {
      std::string newName = name;
      OnSetName(this, result, newName);
      result->SetName(newName);
    }
    if (flags & ffInline) result->SetInline(true);
    if (parent_ != nullptr && parent_ != result && result->HasParent()) result->SetParentComponent(parent_);
    result->IncludeState(csReading);
    result->ReadState(*this);
    result->ExcludeState(csReading);
    if ((flags & ffChildPos) && parent_ != nullptr) parent_->SetChildOrder(result, childPos);
    if (std::find(loaded_.begin(), loaded_.end(), result) == loaded_.end()) loaded_.push_back(result);
  } catch (...) {
    // Components read inside this one may go with it: forget them.
    if (loaded_.size() > loadedMark) loaded_.resize(loadedMark);
    if (created) {
      delete result;
    } else {
      result->ExcludeState(csReading);
    }
    RethrowAsReadError("Error reading " + name + ": ");
  }
  return result;
}

void TReader::ReadData(TComponent* instance) {
  if (fixups_ != nullptr) {
    ReadDataInner(instance);
    return;
  }
  std::vector<Fixup> fixups;
  fixups_ = &fixups;
  try {
    ReadDataInner(instance);
    DoFixupReferences();
  } catch (...) {
    fixups_ = nullptr;
    throw;
  }
  fixups_ = nullptr;
}

void TReader::ReadDataInner(TComponent* instance) {
  TComponent* oldContext = context_;
  std::vector<std::string> oldPath;
  oldPath.swap(contextPath_);
  context_ = instance;
  try {
    while (!EndOfList()) ReadProperty(instance);
  } catch (...) {
    context_ = oldContext;
    contextPath_.swap(oldPath);
    throw;
  }
  context_ = oldContext;
  contextPath_.swap(oldPath);
  ReadListEnd();

  TComponent* oldParent = parent_;
  TComponent* oldOwner = owner_;
  parent_ = instance->GetChildParent();
  owner_ = instance->GetChildOwner();
  if (owner_ == nullptr) owner_ = root_;
  try {
    while (!EndOfList()) ReadComponent(nullptr);
    ReadListEnd();
  } catch (...) {
    parent_ = oldParent;
    owner_ = oldOwner;
    throw;
  }
  parent_ = oldParent;
  owner_ = oldOwner;
}

namespace {

// Pushes path steps for the time of a scope.
class PathScope {
 public:
  explicit PathScope(std::vector<std::string>& path) : path_(path), size_(path.size()) {}
  ~PathScope() { path_.resize(size_); }
  void Push(const std::string& step) { path_.push_back(step); }

 private:
  std::vector<std::string>& path_;
  size_t size_;
};

}  // namespace

void TReader::ReadProperty(TPersistent* instance) {
  const std::string fullName = ReadStr();
  const int64_t valueStart = stream_.GetPosition();
  PathScope scope(contextPath_);
  bool canHandle = true;
  try {
    TPersistent* target = instance;
    size_t start = 0;
    std::string part;
    for (;;) {
      size_t dot = fullName.find('.', start);
      if (dot == std::string::npos) {
        part = fullName.substr(start);
        break;
      }
      std::string step = fullName.substr(start, dot - start);
      const TPropInfo* p = GetPropInfo(target, step);
      TPersistent* next = nullptr;
      if (p != nullptr && p->PropType->Kind == tkClass) next = dynamic_cast<TPersistent*>(p->Access->GetObject(target));
      if (next == nullptr) throw EReadError("Error reading " + instance->GetNamePath() + "." + fullName + ": Property " + fullName + " does not exist");
      scope.Push(step);
      target = next;
      start = dot + 1;
    }
    propName_ = part;
    const TPropInfo* prop = GetPropInfo(target, part);
    if (prop != nullptr) {
      ReadPropValue(target, prop);
    } else {
      // A defined property may have read part of its value: no recovery from its errors.
      canHandle = false;
      target->DefineProperties(*this);
      canHandle = true;
      if (!propName_.empty())
        throw EReadError("Error reading " + instance->GetNamePath() + "." + fullName + ": Property " + fullName +
                         " does not exist");
    }
  } catch (const Exception& e) {
    if (canHandle && canHandleExceptions_ && Error(e.Message())) {
      stream_.Seek(valueStart, soBeginning);
      SkipValue();
      return;
    }
    RethrowAsReadError("Error reading " + instance->GetNamePath() + "." + fullName + ": ");
  }
}

void TReader::ReadPropValue(TPersistent* instance, const TPropInfo* prop) {
  const TTypeInfo* type = prop->PropType;
  if (!prop->IsWritable() && type->Kind != tkClass) throw EReadError("Property " + prop->Name + " is read-only");
  switch (type->Kind) {
    case tkInteger: {
      int64_t v = ReadInt64();
      if (v < type->MinValue || v > type->MaxValue) throw EReadError("Invalid property value " + IntToStr(v));
      SetOrdProp(instance, prop, v);
      return;
    }
    case tkInt64: SetOrdProp(instance, prop, ReadInt64()); return;
    case tkChar: SetOrdProp(instance, prop, static_cast<uint8_t>(ReadChar())); return;
    case tkWChar: SetOrdProp(instance, prop, ReadWideChar()); return;
    case tkEnumeration: {
      std::string ident = ReadIdent();
      int value = GetEnumValue(type, ident);
      if (value < 0) throw EReadError("Invalid property value " + ident);
      SetOrdProp(instance, prop, value);
      return;
    }
    case tkSet: SetOrdProp(instance, prop, ReadSet(type)); return;
    case tkFloat: SetFloatProp(instance, prop, ReadFloat()); return;
    case tkLString:
    case tkString: prop->Access->SetStr(instance, ReadString()); return;
    case tkWString: prop->Access->SetWideStr(instance, ReadWideString()); return;
    case tkClass: {
      switch (NextValue()) {
        case vaNil:
          ReadValue();
          SetObjectProp(instance, prop, nullptr);
          return;
        case vaCollection: {
          ReadValue();
          TCollection* collection = dynamic_cast<TCollection*>(GetObjectProp(instance, prop));
          if (collection == nullptr) throw EReadError("Property " + prop->Name + " is not a collection");
          PathScope scope(contextPath_);
          scope.Push(prop->Name);
          ReadCollection(collection);
          return;
        }
        default: {
          std::string name = ReadIdent();
          if (fixups_ != nullptr && context_ != nullptr) {
            fixups_->push_back(Fixup{context_, contextPath_, prop->Name, name});
          } else if (root_ != nullptr) {
            TComponent* found = FindNestedComponent(root_, name);
            if (found != nullptr) SetObjectProp(instance, prop, found);
          }
          return;
        }
      }
    }
    case tkMethod: {
      if (NextValue() == vaNil) {
        ReadValue();
        SetMethodProp(instance, prop, TMethodValue());
        return;
      }
      std::string name = ReadIdent();
      SetMethodProp(instance, prop, FindMethod(root_, name, type->MethodSignature));
      return;
    }
    default: throw EReadError("Invalid property type");
  }
}

void TReader::ReadCollection(TCollection* collection) {
  DepthGuard guard(*this);
  collection->BeginUpdate();
  try {
    if (!EndOfList()) collection->Clear();
    while (!EndOfList()) {
      if (IsIntegerValue(NextValue())) ReadInteger();  // the item's order among an ancestor's
      TCollectionItem* item = collection->Add();
      PathScope scope(contextPath_);
      std::string step(1, '[');
      step += IntToStr(collection->Count() - 1);
      step += ']';
      scope.Push(step);
      ReadListBegin();
      while (!EndOfList()) ReadProperty(item);
      ReadListEnd();
    }
    ReadListEnd();
  } catch (...) {
    collection->EndUpdate();
    throw;
  }
  collection->EndUpdate();
}

TMethodValue TReader::FindMethod(TComponent* root, const std::string& name, const std::type_info* signature) {
  if (root != nullptr) {
    const TMethodInfo* info = root->ClassInfo()->FindMethod(name);
    if (info != nullptr && signature != nullptr && *info->Signature == *signature) return info->Bind(root);
  }
  TMethodValue method;
  bool error = true;
  OnFindMethod(this, name, method, error);
  if (method.Assigned() || !error) return method;
  throw EReadError("Method '" + name + "' not found");
}

TComponent* TReader::FindNestedComponent(TComponent* root, const std::string& path) {
  TComponent* current = root;
  size_t start = 0;
  bool first = true;
  while (current != nullptr) {
    size_t dot = path.find('.', start);
    std::string part = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    TComponent* next = current->FindComponent(part);
    if (next == nullptr && first && (SameText(part, "Owner") || SameText(part, current->GetName()))) next = current;
    current = next;
    first = false;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return current;
}

void TReader::DoFixupReferences() {
  for (const Fixup& fixup : *fixups_) {
    // The component may have gone while reading went on: check it is still in the tree.
    if (root_ == nullptr || !IsInOwnership(root_, fixup.component)) continue;
    TComponent* found = FindNestedComponent(root_, fixup.name);
    if (found == nullptr) continue;  // references to components outside the stream stay nil
    TObject* target = fixup.component;
    for (const std::string& step : fixup.path) {
      if (target == nullptr) break;
      if (!step.empty() && step[0] == '[') {
        TCollection* collection = dynamic_cast<TCollection*>(target);
        int32_t index = StrToIntDef(step.substr(1, step.size() - 2), -1);
        target = collection && index >= 0 && index < collection->Count() ? collection->GetItem(index) : nullptr;
      } else {
        const TPropInfo* p = GetPropInfo(target, step);
        target = p && p->PropType->Kind == tkClass ? p->Access->GetObject(target) : nullptr;
      }
    }
    if (target == nullptr) continue;
    const TPropInfo* prop = GetPropInfo(target, fixup.prop);
    if (prop == nullptr || prop->PropType->Kind != tkClass) continue;
    try {
      SetObjectProp(target, prop, found);
    } catch (const EPropertyError&) {
      // A component of the wrong class for the property: the reference stays unset.
    }
  }
}

bool TReader::Error(const std::string& message) {
  bool handled = false;
  OnError(this, message, handled);
  return handled;
}

void TReader::DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc&, bool) {
  if (readData && !propName_.empty() && SameText(name, propName_)) {
    readData(*this);
    propName_.clear();
  }
}

void TReader::DefineBinaryProperty(const std::string& name, const TStreamProc& readData, const TStreamProc&, bool) {
  if (!readData || propName_.empty() || !SameText(name, propName_)) return;
  CheckValue(vaBinary);
  std::string data = ReadLongBytes(1);
  TMemoryStream memory;
  if (!data.empty()) memory.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
  memory.SetPosition(0);
  readData(memory);
  propName_.clear();
}

// --- TWriter: values

void TWriter::Write(const void* buffer, int32_t count) {
  if (count > 0) stream_.WriteBuffer(buffer, count);
}

void TWriter::WriteValue(TValueType value) {
  uint8_t b = value;
  Write(&b, 1);
}

void TWriter::WriteInteger(int64_t value) {
  uint8_t bytes[8];
  if (value >= -128 && value <= 127) {
    WriteValue(vaInt8);
    EncodeLE(static_cast<uint64_t>(value), bytes, 1);
    Write(bytes, 1);
  } else if (value >= -32768 && value <= 32767) {
    WriteValue(vaInt16);
    EncodeLE(static_cast<uint64_t>(value), bytes, 2);
    Write(bytes, 2);
  } else if (value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max()) {
    WriteValue(vaInt32);
    EncodeLE(static_cast<uint64_t>(value), bytes, 4);
    Write(bytes, 4);
  } else {
    WriteValue(vaInt64);
    EncodeLE(static_cast<uint64_t>(value), bytes, 8);
    Write(bytes, 8);
  }
}

namespace {
void CheckLength(size_t size) {
  if (size > 0x7FFFFFFF) throw EWriteError("Value too large for the component stream");
}
}  // namespace

void TWriter::WriteString(const std::string& value) {
  if (value.size() <= 255) {
    WriteValue(vaString);
    uint8_t length = static_cast<uint8_t>(value.size());
    Write(&length, 1);
  } else {
    CheckLength(value.size());
    WriteValue(vaLString);
    uint8_t bytes[4];
    EncodeLE(value.size(), bytes, 4);
    Write(bytes, 4);
  }
  Write(value.data(), static_cast<int32_t>(value.size()));
}

void TWriter::WriteWideString(const WideString& value) {
  bool ascii = std::all_of(value.begin(), value.end(), [](char16_t c) { return c < 0x80; });
  if (ascii) {
    WriteString(std::string(value.begin(), value.end()));
    return;
  }
  CheckLength(value.size() * 2);
  WriteValue(vaWString);
  uint8_t bytes[4];
  EncodeLE(value.size(), bytes, 4);
  Write(bytes, 4);
  std::string data(value.size() * 2, '\0');
  for (size_t i = 0; i < value.size(); ++i) {
    data[2 * i] = static_cast<char>(value[i] & 0xFF);
    data[2 * i + 1] = static_cast<char>(value[i] >> 8);
  }
  Write(data.data(), static_cast<int32_t>(data.size()));
}

void TWriter::WriteUTF8String(const std::string& value) {
  CheckLength(value.size());
  WriteValue(vaUTF8String);
  uint8_t bytes[4];
  EncodeLE(value.size(), bytes, 4);
  Write(bytes, 4);
  Write(value.data(), static_cast<int32_t>(value.size()));
}

void TWriter::WriteFloat(double value) {
  uint8_t bytes[10];
  DoubleToExtended(value, bytes);
  WriteExtended(bytes);
}

void TWriter::WriteExtended(const uint8_t bytes[10]) {
  WriteValue(vaExtended);
  Write(bytes, 10);
}

void TWriter::WriteSingle(float value) {
  WriteValue(vaSingle);
  Write(&value, 4);
}

void TWriter::WriteDouble(double value) {
  WriteValue(vaDouble);
  Write(&value, 8);
}

void TWriter::WriteCurrency(int64_t scaled) {
  WriteValue(vaCurrency);
  uint8_t bytes[8];
  EncodeLE(static_cast<uint64_t>(scaled), bytes, 8);
  Write(bytes, 8);
}

void TWriter::WriteDate(double value) {
  WriteValue(vaDate);
  Write(&value, 8);
}

void TWriter::WriteIdent(const std::string& ident) {
  if (SameText(ident, "False")) WriteValue(vaFalse);
  else if (SameText(ident, "True")) WriteValue(vaTrue);
  else if (SameText(ident, "Null")) WriteValue(vaNull);
  else if (SameText(ident, "nil")) WriteValue(vaNil);
  else {
    WriteValue(vaIdent);
    WriteStr(ident);
  }
}

void TWriter::WriteStr(const std::string& value) {
  if (value.size() > 255) throw EWriteError("Name too long for the component stream: " + value.substr(0, 40));
  uint8_t length = static_cast<uint8_t>(value.size());
  Write(&length, 1);
  Write(value.data(), length);
}

void TWriter::WriteSet(const TTypeInfo* setType, uint32_t bits) {
  WriteValue(vaSet);
  for (int i = 0; i < 32; ++i) {
    if ((bits >> i & 1u) == 0) continue;
    std::string name = GetEnumName(setType ? setType->CompType : nullptr, i);
    if (!name.empty()) WriteStr(name);
  }
  WriteStr(std::string());
}

void TWriter::WriteBinary(const TStreamProc& writeData) {
  TMemoryStream memory;
  writeData(memory);
  CheckLength(static_cast<size_t>(memory.GetSize()));
  WriteValue(vaBinary);
  uint8_t bytes[4];
  EncodeLE(static_cast<uint64_t>(memory.GetSize()), bytes, 4);
  Write(bytes, 4);
  Write(memory.Memory(), static_cast<int32_t>(memory.GetSize()));
}

void TWriter::WriteCollection(TCollection* collection) {
  WriteValue(vaCollection);
  std::string savedPath;
  savedPath.swap(propPath_);
  try {
    for (int32_t i = 0; collection != nullptr && i < collection->Count(); ++i) {
      WriteListBegin();
      WriteProperties(collection->GetItem(i));
      WriteListEnd();
    }
  } catch (...) {
    propPath_.swap(savedPath);
    throw;
  }
  propPath_.swap(savedPath);
  WriteListEnd();
}

// --- TWriter: components

void TWriter::WriteSignature() { Write("TPF0", 4); }

void TWriter::WritePrefix(uint8_t flags, int32_t childPos) {
  if (flags == 0) return;
  uint8_t b = static_cast<uint8_t>(0xF0 | flags);
  Write(&b, 1);
  if (flags & ffChildPos) WriteInteger(childPos);
}

void TWriter::WriteRootComponent(TComponent* root) { WriteDescendent(root, nullptr); }

void TWriter::WriteDescendent(TComponent* root, TComponent* ancestor) {
  root_ = root;
  lookupRoot_ = root;
  ancestor_ = ancestor;
  WriteSignature();
  WriteComponent(root);
}

void TWriter::WriteComponent(TComponent* component) {
  component->IncludeState(csWriting);
  try {
    component->WriteState(*this);
  } catch (...) {
    component->ExcludeState(csWriting);
    throw;
  }
  component->ExcludeState(csWriting);
}

void TWriter::WriteData(TComponent* instance) {
  if (++depth_ > TReader::kMaxDepth) {
    --depth_;
    throw EWriteError("Component tree too deep to write");
  }
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{depth_};
  uint8_t flags = 0;
  if (instance->HasState(csInline) && instance != root_) flags |= ffInline;
  WritePrefix(flags, 0);
  WriteStr(instance->ClassName());
  WriteStr(instance->GetName());
  std::string savedPath;
  savedPath.swap(propPath_);
  WriteProperties(instance);
  propPath_.swap(savedPath);
  WriteListEnd();
  if (!IgnoreChildren) {
    TComponent* oldRoot = root_;
    TComponent* oldLookup = lookupRoot_;
    if (instance->HasState(csInline)) {
      root_ = instance;
      lookupRoot_ = instance;
    }
    try {
      instance->GetChildren([this](TComponent* child) { WriteComponent(child); }, root_);
    } catch (...) {
      root_ = oldRoot;
      lookupRoot_ = oldLookup;
      throw;
    }
    root_ = oldRoot;
    lookupRoot_ = oldLookup;
  }
  WriteListEnd();
}

void TWriter::WriteProperties(TPersistent* instance) {
  if (++depth_ > TReader::kMaxDepth) {
    --depth_;
    throw EWriteError("Object nesting too deep to write");
  }
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{depth_};
  for (const TPropInfo* prop : instance->ClassInfo()->Properties)
    if (IsStoredProp(instance, prop)) WriteProperty(instance, prop);
  instance->DefineProperties(*this);
}

std::string TWriter::ComponentReferenceName(TComponent* value) const {
  if (value->GetOwner() == lookupRoot_) return value->GetName();
  if (value == lookupRoot_) return "Owner";
  if (value->GetOwner() != nullptr && !value->GetOwner()->GetName().empty() && !value->GetName().empty())
    return value->GetOwner()->GetName() + "." + value->GetName();
  if (!value->GetName().empty()) return value->GetName() + ".Owner";
  return std::string();
}

void TWriter::WriteProperty(TPersistent* instance, const TPropInfo* prop) {
  const TTypeInfo* type = prop->PropType;
  if (!prop->IsWritable() && type->Kind != tkClass) return;
  switch (type->Kind) {
    case tkInteger:
    case tkChar:
    case tkWChar:
    case tkEnumeration:
    case tkSet: {
      int64_t value = GetOrdProp(instance, prop);
      if (prop->HasDefault && value == prop->OrdDefault) return;
      WritePropName(prop->Name);
      switch (type->Kind) {
        case tkInteger: WriteInteger(value); break;
        case tkChar: WriteChar(static_cast<char>(value)); break;
        case tkWChar: WriteWideChar(static_cast<WideChar>(value)); break;
        case tkEnumeration: WriteIdent(GetEnumName(type, value)); break;
        default: WriteSet(type, static_cast<uint32_t>(value)); break;
      }
      return;
    }
    case tkInt64: {
      int64_t value = GetOrdProp(instance, prop);
      if (value == prop->OrdDefault) return;
      WritePropName(prop->Name);
      WriteInteger(value);
      return;
    }
    case tkFloat: {
      double value = GetFloatProp(instance, prop);
      if (value == prop->FloatDefault) return;
      WritePropName(prop->Name);
      if (type->FloatType == ftSingle) WriteSingle(static_cast<float>(value));
      else WriteFloat(value);
      return;
    }
    case tkLString:
    case tkString: {
      std::string value = prop->Access->GetStr(instance);
      if (value == prop->StrDefault) return;
      WritePropName(prop->Name);
      WriteString(value);
      return;
    }
    case tkWString: {
      WideString value = prop->Access->GetWideStr(instance);
      if (value == prop->WideDefault) return;
      WritePropName(prop->Name);
      WriteWideString(value);
      return;
    }
    case tkMethod: {
      TMethodValue value = GetMethodProp(instance, prop);
      if (!value.Assigned() || lookupRoot_ == nullptr) return;
      // Only handlers published by the root stream; others are wired up in code.
      const TMethodInfo* info = lookupRoot_->ClassInfo()->FindMethodByCode(value.Code);
      if (info == nullptr || info->Bind(lookupRoot_).Data != value.Data) return;
      WritePropName(prop->Name);
      WriteIdent(info->Name);
      return;
    }
    case tkClass: {
      TObject* value = GetObjectProp(instance, prop);
      if (value == nullptr) return;
      TComponent* component = dynamic_cast<TComponent*>(value);
      if (component != nullptr && !component->ComponentStyle().Contains(csSubComponent)) {
        std::string name = ComponentReferenceName(component);
        if (name.empty()) return;
        WritePropName(prop->Name);
        WriteIdent(name);
        return;
      }
      if (TCollection* collection = dynamic_cast<TCollection*>(value)) {
        WritePropName(prop->Name);
        WriteCollection(collection);
        return;
      }
      if (TPersistent* persistent = dynamic_cast<TPersistent*>(value)) {
        std::string savedPath = propPath_;
        propPath_ += prop->Name + ".";
        try {
          WriteProperties(persistent);
        } catch (...) {
          propPath_ = savedPath;
          throw;
        }
        propPath_ = savedPath;
      }
      return;
    }
    default: return;
  }
}

void TWriter::DefineProperty(const std::string& name, const TReaderProc&, const TWriterProc& writeData, bool hasData) {
  if (!hasData || !writeData) return;
  WritePropName(name);
  writeData(*this);
}

void TWriter::DefineBinaryProperty(const std::string& name, const TStreamProc&, const TStreamProc& writeData,
                                   bool hasData) {
  if (!hasData || !writeData) return;
  WritePropName(name);
  WriteBinary(writeData);
}

// --- Stream helpers

TComponent* ReadComponentFromStream(TStream& stream, TComponent* instance) {
  TReader reader(stream);
  return reader.ReadRootComponent(instance);
}

void WriteComponentToStream(TStream& stream, TComponent* instance) {
  TWriter writer(stream);
  writer.WriteRootComponent(instance);
}
