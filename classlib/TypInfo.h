// Class records, the class registry and published properties: the object model's metadata.
//
// How a class declares itself
// ---------------------------
// In the class body, KBL_DECLARE_CLASS(TMyClass, TBase) gives the class its record (name, parent,
// virtual constructor) and `inherited` as an alias of the base. In one .cpp file,
// KBL_PUBLISHED(TMyClass) { ... } builds the record on first use; its body lists the published
// properties and methods through the builder `p`:
//
//   class TKnob : public TComponent {
//     KBL_DECLARE_CLASS(TKnob, TComponent)
//    public:
//     explicit TKnob(TComponent* owner);       // the virtual constructor takes the owner
//     float GetValue() const;          void SetValue(float v);
//     TvgBrush* GetFill() const;       void SetFill(TvgBrush* b);   // persistent: Assign
//     TNotifyEvent OnChange;                                         // an event field
//     void KnobClick(TObject* sender);                               // a published method
//   };
//
//   KBL_PUBLISHED(TKnob) {
//     KBL_PROP(Value).Default(0.5).Stored(&TKnob::IsValueStored);   // GetValue/SetValue
//     KBL_PROP(Fill);
//     p.Property("OnChange", &TKnob::OnChange, &TKnob::OnChange);   // fields work as accessors
//     KBL_METHOD(KnobClick);
//   }
//   ...  RegisterClass<TKnob>();   // so streams can create it by name
//
// Getters may be const member functions or data members; setters member functions (by value or
// const reference), data members or nullptr (read-only). The property's kind follows from the
// getter's type: bool (Boolean), char/char16_t, integers, enumerations declared with KBL_ENUM,
// TEnumSet<E>, float (single), double, long double (extended), std::string, WideString,
// pointers to declared classes (persistent sub-objects and component references) and
// TMethod<...> (events). `Default(v)` sets the value that is not written to streams (ordinals
// without one are always written, floats are written when not 0, strings when not empty);
// `Stored(false)` or `Stored(&T::Predicate)` decides whether the property is written at all.
// Declaring a property again in a descendant (to change its default or stored rule) keeps its
// place in the inherited order. Classes need single inheritance from TObject (first base).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "Methods.h"
#include "SysUtils.h"
#include "System.h"
#include "Variants.h"

// windows.h maps these names to its A/W functions; the class library uses them as the platform
// does. Files that need both include windows.h first and call the Win32 functions by their A/W
// names.
#ifdef RegisterClass
#undef RegisterClass
#endif
#ifdef GetObject
#undef GetObject
#endif

class TComponent;
class TCollection;

// --- Type information

enum TTypeKind : uint8_t {
  tkUnknown, tkInteger, tkChar, tkEnumeration, tkFloat, tkString, tkSet, tkClass, tkMethod,
  tkWChar, tkLString, tkWString, tkVariant, tkInt64,
};
enum TOrdType : uint8_t { otSByte, otUByte, otSWord, otUWord, otSLong, otULong };
enum TFloatType : uint8_t { ftSingle, ftDouble, ftExtended, ftComp, ftCurr };

struct TTypeInfo {
  TTypeKind Kind = tkUnknown;
  std::string Name;
  TOrdType OrdType = otSLong;               // ordinals
  int64_t MinValue = 0;
  int64_t MaxValue = 0;
  std::vector<std::string> EnumNames;       // enumerations: the identifier of ordinal 0, 1, ...
  const TTypeInfo* CompType = nullptr;      // sets: the element enumeration
  TFloatType FloatType = ftDouble;          // floats
  const TClassInfo* ClassType = nullptr;    // the class record's own type information
  const TClassInfo* (*ClassTypeFn)() = nullptr;  // class properties: the class, resolved late
                                            // (a class may publish a property of its own type)
  const TClassInfo* GetClassType() const { return ClassTypeFn ? ClassTypeFn() : ClassType; }
  const std::type_info* MethodSignature = nullptr;  // methods: typeid of the signature
};

// The identifier of an enumeration value; empty when out of range.
std::string GetEnumName(const TTypeInfo* info, int64_t value);
// The ordinal of an identifier, compared without regard to case; -1 when unknown.
int GetEnumValue(const TTypeInfo* info, const std::string& name);
// "[a,b]" (or "a,b" without brackets) for the elements of a set type present in `bits`.
std::string SetToString(const TTypeInfo* setInfo, uint32_t bits, bool brackets = false);
// Parses "[a, b]" or "a,b"; raises EPropertyConvertError ("Invalid property element: x").
uint32_t StringToSet(const TTypeInfo* setInfo, const std::string& text);

// Builds the type information of an enumeration from its identifier list text ("a, b, c").
TTypeInfo MakeEnumTypeInfo(const char* name, const char* identifiers);

// Declares an enumeration with its identifier table: KBL_ENUM(TvgAlign, vaNone, vaTop, ...).
// Values must run 0, 1, 2 ... (no explicit values). Use at namespace scope.
#define KBL_ENUM(Name, ...)                                                      \
  enum Name { __VA_ARGS__ };                                                     \
  inline const TTypeInfo* KblTypeInfoOf(Name*) {                                 \
    static const TTypeInfo info = MakeEnumTypeInfo(#Name, #__VA_ARGS__);         \
    return &info;                                                                \
  }
// The identifier table for an enumeration declared elsewhere:
// KBL_ENUM_INFO(TSeekOrigin, soBeginning, soCurrent, soEnd).
#define KBL_ENUM_INFO(Name, ...)                                                 \
  inline const TTypeInfo* KblTypeInfoOf(Name*) {                                 \
    static const TTypeInfo info = MakeEnumTypeInfo(#Name, #__VA_ARGS__);         \
    return &info;                                                                \
  }

// A set of up to 32 elements of an enumeration, as the platform's "set of".
template <typename E>
class TEnumSet {
 public:
  constexpr TEnumSet() = default;
  constexpr TEnumSet(std::initializer_list<E> elements) {
    for (E e : elements) Include(e);
  }
  static constexpr TEnumSet FromBits(uint32_t bits) {
    TEnumSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr uint32_t Bits() const { return bits_; }
  constexpr bool Contains(E e) const { return Valid(e) && (bits_ >> static_cast<int>(e) & 1u) != 0; }
  constexpr TEnumSet& Include(E e) {
    if (Valid(e)) bits_ |= 1u << static_cast<int>(e);
    return *this;
  }
  constexpr TEnumSet& Exclude(E e) {
    if (Valid(e)) bits_ &= ~(1u << static_cast<int>(e));
    return *this;
  }
  constexpr bool Empty() const { return bits_ == 0; }
  friend constexpr bool operator==(TEnumSet a, TEnumSet b) { return a.bits_ == b.bits_; }
  friend constexpr TEnumSet operator+(TEnumSet a, TEnumSet b) { return FromBits(a.bits_ | b.bits_); }
  friend constexpr TEnumSet operator-(TEnumSet a, TEnumSet b) { return FromBits(a.bits_ & ~b.bits_); }
  friend constexpr TEnumSet operator*(TEnumSet a, TEnumSet b) { return FromBits(a.bits_ & b.bits_); }

 private:
  static constexpr bool Valid(E e) { return static_cast<int>(e) >= 0 && static_cast<int>(e) < 32; }
  uint32_t bits_ = 0;
};

// --- Method values

// An event value without its signature: the object (data) and the code of a TMethod.
struct TMethodValue {
  void* Data = nullptr;
  void (*Code)() = nullptr;
  bool Assigned() const { return Code != nullptr; }
  friend bool operator==(const TMethodValue& a, const TMethodValue& b) {
    return a.Data == b.Data && a.Code == b.Code;
  }
};

// A published method: events stream by this name.
struct TMethodInfo {
  std::string Name;
  void (*Code)() = nullptr;
  const std::type_info* Signature = nullptr;
  void* (*AdjustData)(TObject*) = nullptr;  // the object as the declaring class sees it
  TMethodValue Bind(TObject* instance) const { return {AdjustData(instance), Code}; }
};

// --- Published properties

// Reads and writes one property of an instance; the base raises EPropertyError for a kind the
// property does not have.
class TPropAccessor {
 public:
  virtual ~TPropAccessor() = default;
  virtual bool CanWrite() const = 0;
  virtual int64_t GetOrd(const TObject* instance) const;
  virtual void SetOrd(TObject* instance, int64_t value) const;
  virtual double GetFloat(const TObject* instance) const;
  virtual void SetFloat(TObject* instance, double value) const;
  virtual std::string GetStr(const TObject* instance) const;
  virtual void SetStr(TObject* instance, const std::string& value) const;
  virtual WideString GetWideStr(const TObject* instance) const;
  virtual void SetWideStr(TObject* instance, const WideString& value) const;
  virtual TObject* GetObject(const TObject* instance) const;
  virtual void SetObject(TObject* instance, TObject* value) const;
  virtual TMethodValue GetMethod(const TObject* instance) const;
  virtual void SetMethod(TObject* instance, const TMethodValue& value) const;
};

struct TPropInfo {
  std::string Name;
  const TTypeInfo* PropType = nullptr;
  std::unique_ptr<TPropAccessor> Access;
  // Default: for ordinals and sets the ordinal (HasDefault false = always written); for floats
  // the value not written (0 when not given); for strings the text not written ("").
  bool HasDefault = false;
  int64_t OrdDefault = 0;
  double FloatDefault = 0;
  std::string StrDefault;
  WideString WideDefault;
  std::function<bool(const TObject*)> StoredFn;  // empty: StoredConstant decides
  bool StoredConstant = true;
  int NameIndex = 0;  // position in the declaring class's property list

  bool IsWritable() const { return Access && Access->CanWrite(); }
};

// --- Class records

struct TClassInfo {
  std::string Name;
  const TClassInfo* Parent = nullptr;
  // The virtual constructor: a new instance owned by `owner` (a TComponent, or the TCollection of
  // a collection item); nullptr for abstract classes.
  TObject* (*CreateInstance)(TObject* owner) = nullptr;
  std::vector<const TPropInfo*> Properties;  // published properties, inherited first
  std::vector<std::unique_ptr<TPropInfo>> OwnProperties;
  std::vector<TMethodInfo> Methods;          // this class's published methods
  TTypeInfo Type;                            // tkClass type information naming this class

  bool InheritsFrom(const TClassInfo* other) const;
  // Case-insensitive lookups; nullptr when absent. Methods are searched up the parents.
  const TPropInfo* FindProperty(const std::string& name) const;
  const TMethodInfo* FindMethod(const std::string& name) const;
  const TMethodInfo* FindMethodByCode(void (*code)()) const;
  // Raises EInvalidOperation ("Cannot create an instance of abstract class X") without one.
  TObject* Create(TObject* owner) const;
};

// --- Class registry (process-wide, guarded by a lock; registration normally happens at start-up)

// Registers a class (and its ancestors) under its name. The same record again does nothing; a
// different class of the same name raises EFilerError ("A class named X already exists").
void RegisterClass(const TClassInfo* cls);
void RegisterClasses(std::initializer_list<const TClassInfo*> classes);
void UnRegisterClass(const TClassInfo* cls);
template <typename... T>
void RegisterClass() {
  (RegisterClass(T::StaticClassInfo()), ...);
}
// Defers a unit's class registration to the registry's first look-up: a unit's start-up adds its
// registration routine here instead of running it, so that a module pays for building its class
// records only when a stream (or a list of a unit's classes) first needs them. Routines run once
// each, in the order they were added, before GetClass or FindClass answers.
void AddClassRegistration(void (*registration)());
// Runs the added registrations that have not run yet, in order; callable from any thread and
// more than once (later calls return at once). A registration that raises is not run again and
// its exception reaches the caller; one started from within a registration returns at once.
void RunClassRegistrations();
// nullptr when no class of that name (case-insensitive) is registered.
const TClassInfo* GetClass(const std::string& name);
// As GetClass, raising EClassNotFound ("Class X not found").
const TClassInfo* FindClass(const std::string& name);

// --- Property access

const TPropInfo* GetPropInfo(const TClassInfo* cls, const std::string& name);
const TPropInfo* GetPropInfo(const TObject* instance, const std::string& name);
const std::vector<const TPropInfo*>& GetPropList(const TClassInfo* cls);

// Kinds of properties to list; tkProperties is every kind but methods (events), tkMethods only
// methods.
using TTypeKinds = TEnumSet<TTypeKind>;
inline constexpr TTypeKinds tkMethods = TTypeKinds::FromBits(1u << tkMethod);
inline constexpr TTypeKinds tkAny = TTypeKinds::FromBits(((1u << (tkInt64 + 1)) - 1) & ~1u);
inline constexpr TTypeKinds tkProperties = tkAny - tkMethods;
// The published properties of the class whose kind is in `kinds`; with `sorted`, ordered by name
// (case ignored; the declaration order decides between equal names), else in declaration order
// (inherited first). Empty for nullptr.
std::vector<const TPropInfo*> GetPropList(const TClassInfo* cls, TTypeKinds kinds, bool sorted = true);

// Follows a dotted path ("Fill.Color") through published class properties: answers the object
// holding the last property and that property's record. Raises EPropertyError ("Property X does
// not exist") for an unknown name, a non-class step or a nil object on the way.
const TPropInfo* ResolvePropPath(TObject* instance, const std::string& path, TObject*& target);
// As ResolvePropPath, answering nullptr instead of raising.
const TPropInfo* FindPropPath(TObject* instance, const std::string& path, TObject*& target);

// The stored predicate of the property for this instance.
bool IsStoredProp(const TObject* instance, const TPropInfo* prop);
// True when the value equals the property's default (what a stream would leave out).
bool IsDefaultPropValue(const TObject* instance, const TPropInfo* prop);

// Typed access; a kind mismatch raises EPropertyError.
int64_t GetOrdProp(const TObject* instance, const TPropInfo* prop);
void SetOrdProp(TObject* instance, const TPropInfo* prop, int64_t value);
double GetFloatProp(const TObject* instance, const TPropInfo* prop);
void SetFloatProp(TObject* instance, const TPropInfo* prop, double value);
std::string GetStrProp(const TObject* instance, const TPropInfo* prop);   // wide strings as UTF-8
void SetStrProp(TObject* instance, const TPropInfo* prop, const std::string& value);
WideString GetWideStrProp(const TObject* instance, const TPropInfo* prop);
void SetWideStrProp(TObject* instance, const TPropInfo* prop, const WideString& value);
TObject* GetObjectProp(const TObject* instance, const TPropInfo* prop);
// Raises EPropertyError ("Invalid property value") when the object is not of the property's class.
void SetObjectProp(TObject* instance, const TPropInfo* prop, TObject* value);
TMethodValue GetMethodProp(const TObject* instance, const TPropInfo* prop);
void SetMethodProp(TObject* instance, const TPropInfo* prop, const TMethodValue& value);

// By value, through a dotted path. Enumerations come back as their identifier, Booleans as
// Boolean, sets as "a,b", characters as one-character strings, classes as object references.
// Setting converts: identifiers or ordinals for enumerations, "[a,b]" or bits for sets, texts with
// "." for floats. Conversion failures raise EPropertyConvertError or EVariantError.
Variant GetPropValue(TObject* instance, const std::string& path);
void SetPropValue(TObject* instance, const std::string& path, const Variant& value);
// The value as text: identifiers for enumerations and Booleans ("True"), "[a,b]" for sets, floats
// with ".", object references as the component name, events as the name of the root
// component's published method they call ("" for other handlers).
// Setting a reference or an event looks the name up from the instance's root component.
std::string GetPropText(TObject* instance, const std::string& path);
void SetPropText(TObject* instance, const std::string& path, const std::string& text);

// --- Declaring classes

namespace kbl_detail {

template <typename T>
struct IsTMethod : std::false_type {};
template <typename Sig>
struct IsTMethod<TMethod<Sig>> : std::true_type {
  using Signature = Sig;
};
template <typename T>
struct IsEnumSet : std::false_type {};
template <typename E>
struct IsEnumSet<TEnumSet<E>> : std::true_type {
  using Element = E;
};

const TTypeInfo* BooleanTypeInfo();
const TTypeInfo* CharTypeInfo();
const TTypeInfo* WideCharTypeInfo();
const TTypeInfo* IntegerTypeInfo(TOrdType ordType);
const TTypeInfo* Int64TypeInfo();
const TTypeInfo* FloatTypeInfo(TFloatType floatType);
const TTypeInfo* StringTypeInfo();
const TTypeInfo* WideStringTypeInfo();
TComponent* AsComponent(TObject* object);
TCollection* AsCollection(TObject* object);

template <typename V>
const TTypeInfo* TypeInfoFor() {
  if constexpr (std::is_same_v<V, bool>) {
    return BooleanTypeInfo();
  } else if constexpr (std::is_same_v<V, char>) {
    return CharTypeInfo();
  } else if constexpr (std::is_same_v<V, char16_t>) {
    return WideCharTypeInfo();
  } else if constexpr (std::is_enum_v<V>) {
    return KblTypeInfoOf(static_cast<V*>(nullptr));
  } else if constexpr (std::is_integral_v<V> && sizeof(V) == 8) {
    return Int64TypeInfo();
  } else if constexpr (std::is_integral_v<V>) {
    constexpr bool s = std::is_signed_v<V>;
    return IntegerTypeInfo(sizeof(V) == 1 ? (s ? otSByte : otUByte)
                           : sizeof(V) == 2 ? (s ? otSWord : otUWord)
                                            : (s ? otSLong : otULong));
  } else if constexpr (std::is_same_v<V, float>) {
    return FloatTypeInfo(ftSingle);
  } else if constexpr (std::is_same_v<V, double>) {
    return FloatTypeInfo(ftDouble);
  } else if constexpr (std::is_same_v<V, long double>) {
    return FloatTypeInfo(ftExtended);
  } else if constexpr (std::is_same_v<V, std::string>) {
    return StringTypeInfo();
  } else if constexpr (std::is_same_v<V, WideString>) {
    return WideStringTypeInfo();
  } else if constexpr (std::is_pointer_v<V>) {
    using Class = std::remove_cv_t<std::remove_pointer_t<V>>;
    static const TTypeInfo info = [] {
      TTypeInfo t;
      t.Kind = tkClass;
      t.ClassTypeFn = &Class::StaticClassInfo;
      return t;
    }();
    return &info;
  } else if constexpr (IsTMethod<V>::value) {
    static const TTypeInfo info = [] {
      TTypeInfo t;
      t.Kind = tkMethod;
      t.Name = "TMethod";
      t.MethodSignature = &typeid(typename IsTMethod<V>::Signature);
      return t;
    }();
    return &info;
  } else if constexpr (IsEnumSet<V>::value) {
    static const TTypeInfo info = [] {
      TTypeInfo t;
      t.Kind = tkSet;
      t.CompType = TypeInfoFor<typename IsEnumSet<V>::Element>();
      t.Name = "set of " + t.CompType->Name;
      return t;
    }();
    return &info;
  } else {
    static_assert(sizeof(V) == 0, "this type cannot be a published property");
  }
}

template <typename C, typename V, typename G, typename S>
class TPropAccessorOf final : public TPropAccessor {
 public:
  TPropAccessorOf(G getter, S setter) : getter_(getter), setter_(setter) {}
  bool CanWrite() const override { return !std::is_null_pointer_v<S>; }

  int64_t GetOrd(const TObject* instance) const override {
    if constexpr (IsOrdinal()) {
      V v = Get(instance);
      if constexpr (IsEnumSet<V>::value) return v.Bits();
      else return static_cast<int64_t>(v);
    } else {
      return TPropAccessor::GetOrd(instance);
    }
  }
  void SetOrd(TObject* instance, int64_t value) const override {
    if constexpr (IsOrdinal()) {
      if constexpr (IsEnumSet<V>::value) Set(instance, V::FromBits(static_cast<uint32_t>(value)));
      else if constexpr (std::is_same_v<V, bool>) Set(instance, value != 0);
      else Set(instance, static_cast<V>(value));
    } else {
      TPropAccessor::SetOrd(instance, value);
    }
  }
  double GetFloat(const TObject* instance) const override {
    if constexpr (std::is_floating_point_v<V>) return static_cast<double>(Get(instance));
    else return TPropAccessor::GetFloat(instance);
  }
  void SetFloat(TObject* instance, double value) const override {
    if constexpr (std::is_floating_point_v<V>) Set(instance, static_cast<V>(value));
    else TPropAccessor::SetFloat(instance, value);
  }
  std::string GetStr(const TObject* instance) const override {
    if constexpr (std::is_same_v<V, std::string>) return Get(instance);
    else return TPropAccessor::GetStr(instance);
  }
  void SetStr(TObject* instance, const std::string& value) const override {
    if constexpr (std::is_same_v<V, std::string>) Set(instance, value);
    else TPropAccessor::SetStr(instance, value);
  }
  WideString GetWideStr(const TObject* instance) const override {
    if constexpr (std::is_same_v<V, WideString>) return Get(instance);
    else return TPropAccessor::GetWideStr(instance);
  }
  void SetWideStr(TObject* instance, const WideString& value) const override {
    if constexpr (std::is_same_v<V, WideString>) Set(instance, value);
    else TPropAccessor::SetWideStr(instance, value);
  }
  TObject* GetObject(const TObject* instance) const override {
    if constexpr (std::is_pointer_v<V>) return const_cast<std::remove_cv_t<std::remove_pointer_t<V>>*>(Get(instance));
    else return TPropAccessor::GetObject(instance);
  }
  void SetObject(TObject* instance, TObject* value) const override {
    if constexpr (std::is_pointer_v<V>) {
      using Target = std::remove_cv_t<std::remove_pointer_t<V>>;
      Target* typed = dynamic_cast<Target*>(value);
      if (value != nullptr && typed == nullptr) throw EPropertyError("Invalid property value");
      Set(instance, typed);
    } else {
      TPropAccessor::SetObject(instance, value);
    }
  }
  TMethodValue GetMethod(const TObject* instance) const override {
    if constexpr (IsTMethod<V>::value) {
      V m = Get(instance);
      return {m.Object(), reinterpret_cast<void (*)()>(m.Code())};
    } else {
      return TPropAccessor::GetMethod(instance);
    }
  }
  void SetMethod(TObject* instance, const TMethodValue& value) const override {
    if constexpr (IsTMethod<V>::value) {
      Set(instance, value.Code ? V::FromFunction(reinterpret_cast<typename V::Thunk>(value.Code), value.Data) : V());
    } else {
      TPropAccessor::SetMethod(instance, value);
    }
  }

 private:
  static constexpr bool IsOrdinal() {
    return std::is_integral_v<V> || std::is_enum_v<V> || IsEnumSet<V>::value;
  }
  V Get(const TObject* instance) const {
    C* object = const_cast<C*>(static_cast<const C*>(instance));
    return static_cast<V>(std::invoke(getter_, *object));
  }
  void Set(TObject* instance, const V& value) const {
    if constexpr (std::is_null_pointer_v<S>) {
      throw EPropertyError("Property is read-only");
    } else {
      C* object = static_cast<C*>(instance);
      if constexpr (std::is_member_object_pointer_v<S>) object->*setter_ = value;
      else std::invoke(setter_, *object, value);
    }
  }
  G getter_;
  S setter_;
};

template <typename M>
struct MemberFunctionTraits;
template <typename R, typename C, typename... A>
struct MemberFunctionTraits<R (C::*)(A...)> {
  using Class = C;
  using Signature = R(A...);
};

template <typename T>
TObject* CreateInstanceOf(TObject* owner) {
  if constexpr (std::is_abstract_v<T>) {
    return nullptr;
  } else if constexpr (std::is_constructible_v<T, TComponent*>) {
    return new T(AsComponent(owner));
  } else if constexpr (std::is_constructible_v<T, TCollection*>) {
    return new T(AsCollection(owner));
  } else if constexpr (std::is_default_constructible_v<T>) {
    return new T();
  } else {
    return nullptr;
  }
}

void AddProperty(TClassInfo& info, std::unique_ptr<TPropInfo> prop, const char* name);
void InitClassInfo(TClassInfo& info, const char* name, const TClassInfo* parent,
                   TObject* (*create)(TObject*));
void FinishClassInfo(TClassInfo& info);

}  // namespace kbl_detail

// Sets the default and stored rules of the property just declared.
class TPropertyBuilder {
 public:
  explicit TPropertyBuilder(TPropInfo& prop) : prop_(prop) {}
  template <typename V>
  TPropertyBuilder& Default(V value) {
    if constexpr (std::is_enum_v<V> || std::is_integral_v<V>) {
      prop_.HasDefault = true;
      prop_.OrdDefault = static_cast<int64_t>(value);
      prop_.FloatDefault = static_cast<double>(value);
    } else if constexpr (kbl_detail::IsEnumSet<V>::value) {
      prop_.HasDefault = true;
      prop_.OrdDefault = value.Bits();
    } else if constexpr (std::is_floating_point_v<V>) {
      prop_.HasDefault = true;
      prop_.FloatDefault = static_cast<double>(value);
    } else if constexpr (std::is_convertible_v<V, std::string>) {
      prop_.HasDefault = true;
      prop_.StrDefault = std::string(value);
      prop_.WideDefault = Utf8ToWide(prop_.StrDefault);
    } else {
      static_assert(sizeof(V) == 0, "unsupported default value");
    }
    return *this;
  }
  // The ordinal is always written (the platform's "nodefault").
  TPropertyBuilder& NoDefault() {
    prop_.HasDefault = false;
    return *this;
  }
  TPropertyBuilder& Stored(bool stored) {
    prop_.StoredFn = nullptr;
    prop_.StoredConstant = stored;
    return *this;
  }
  template <typename C>
  TPropertyBuilder& Stored(bool (C::*predicate)() const) {
    prop_.StoredFn = [predicate](const TObject* o) { return (static_cast<const C*>(o)->*predicate)(); };
    return *this;
  }

 private:
  TPropInfo& prop_;
};

// The builder handed to a KBL_PUBLISHED body.
template <typename C>
class TClassBuilder {
 public:
  using Self = C;
  explicit TClassBuilder(TClassInfo& info) : info_(info) {}

  template <typename G, typename S = std::nullptr_t>
  TPropertyBuilder Property(const char* name, G getter, S setter = nullptr) {
    using Raw = std::invoke_result_t<G, C&>;
    using V = std::remove_cv_t<std::remove_reference_t<Raw>>;
    auto prop = std::make_unique<TPropInfo>();
    prop->PropType = kbl_detail::TypeInfoFor<V>();
    prop->Access = std::make_unique<kbl_detail::TPropAccessorOf<C, V, G, S>>(getter, setter);
    TPropInfo& ref = *prop;
    kbl_detail::AddProperty(info_, std::move(prop), name);
    return TPropertyBuilder(ref);
  }

  // Publishes a member function under `name` so that events bound to it stream by that name.
  template <auto Member>
  void Method(const char* name) {
    using Traits = kbl_detail::MemberFunctionTraits<decltype(Member)>;
    using Owner = typename Traits::Class;
    using M = TMethod<typename Traits::Signature>;
    TMethodInfo method;
    method.Name = name;
    method.Code = reinterpret_cast<void (*)()>(M::template Of<Member, Owner>(nullptr).Code());
    method.Signature = &typeid(typename Traits::Signature);
    method.AdjustData = [](TObject* o) -> void* { return static_cast<Owner*>(static_cast<C*>(o)); };
    info_.Methods.push_back(method);
  }

 private:
  TClassInfo& info_;
};

#define KBL_DECLARE_CLASS(Class, Base)                                          \
 public:                                                                        \
  using inherited = Base;                                                       \
  static const TClassInfo* StaticClassInfo();                                   \
  const TClassInfo* ClassInfo() const override { return StaticClassInfo(); }    \
                                                                                \
 private:                                                                       \
  friend class TClassBuilder<Class>;                                            \
  static void KblDeclarePublished(TClassBuilder<Class>& p);                     \
                                                                                \
 public:

#define KBL_PUBLISHED(Class)                                                               \
  const TClassInfo* Class::StaticClassInfo() {                                             \
    static const TClassInfo* const info = [] {                                             \
      static TClassInfo record;                                                            \
      kbl_detail::InitClassInfo(record, #Class, Class::inherited::StaticClassInfo(),       \
                                &kbl_detail::CreateInstanceOf<Class>);                     \
      TClassBuilder<Class> builder(record);                                                \
      Class::KblDeclarePublished(builder);                                                 \
      kbl_detail::FinishClassInfo(record);                                                 \
      return &record;                                                                      \
    }();                                                                                   \
    return info;                                                                           \
  }                                                                                        \
  void Class::KblDeclarePublished([[maybe_unused]] TClassBuilder<Class>& p)

// KBL_PROP(Width) publishes Width through GetWidth/SetWidth of the class being declared.
#define KBL_PROP(Name) p.Property(#Name, &std::remove_reference_t<decltype(p)>::Self::Get##Name, \
                                  &std::remove_reference_t<decltype(p)>::Self::Set##Name)
// KBL_PROP_RO(Count) publishes a read-only property through GetCount.
#define KBL_PROP_RO(Name) p.Property(#Name, &std::remove_reference_t<decltype(p)>::Self::Get##Name)
// KBL_METHOD(ButtonClick) publishes the member function ButtonClick.
#define KBL_METHOD(Name) p.template Method<&std::remove_reference_t<decltype(p)>::Self::Name>(#Name)
