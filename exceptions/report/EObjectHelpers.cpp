// Portable half of the object helpers: class records and objects checked word by word against
// readable memory, class tests by name, the thread's exception slot, method-property swaps,
// version and date texts, the memory reserve and the stack top.
#include "EObjectHelpers.h"

#include <cxxabi.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "ESysUtils.h"
#include "classlib/SysUtils.h"
#include "classlib/TypInfo.h"
#include "detail/ESupportPlatform_p.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/capture/EDebug.h"

namespace {

constexpr size_t kWord = sizeof(void*);
constexpr size_t kMaxNameLength = 1024;
constexpr int32_t kMaxDepth = 64;
constexpr uint32_t kMaxBases = 64;

bool ReadWord(uintptr_t address, uintptr_t& value) {
  if (!ember_support::IsReadable(reinterpret_cast<const void*>(address), kWord)) return false;
  std::memcpy(&value, reinterpret_cast<const void*>(address), kWord);
  return true;
}

bool ReadU32(uintptr_t address, uint32_t& value) {
  if (!ember_support::IsReadable(reinterpret_cast<const void*>(address), 4)) return false;
  std::memcpy(&value, reinterpret_cast<const void*>(address), 4);
  return true;
}

// A zero-terminated name of printable characters, read page by page; false when a byte is
// unreadable, below 32, or the name is too long to be a class name.
bool ReadName(uintptr_t address, std::string& name) {
  name.clear();
  constexpr uintptr_t kPage = 4096;
  uintptr_t checkedTo = address;
  for (size_t i = 0; i <= kMaxNameLength; ++i) {
    uintptr_t at = address + i;
    if (at >= checkedTo) {
      uintptr_t pageEnd = (at / kPage + 1) * kPage;
      if (!ember_support::IsReadable(reinterpret_cast<const void*>(at), pageEnd - at)) {
        // The rest of the page may be unreadable while the name ends before it.
        if (!ember_support::IsReadable(reinterpret_cast<const void*>(at), 1)) return false;
        pageEnd = at + 1;
      }
      checkedTo = pageEnd;
    }
    char c = *reinterpret_cast<const char*>(at);
    if (c == '\0') return true;
    if (static_cast<unsigned char>(c) < 32) return false;
    name += c;
  }
  return false;
}

enum class TRecordKind { None, Class, Single, Multiple };

// What kind of record `cls` is, from the name of the record's own class; checks the record's
// two header words, its table's type word and that record's name.
TRecordKind RecordKind(uintptr_t cls, uintptr_t& namePointer) {
  uintptr_t table = 0, meta = 0, metaName = 0;
  if (!cls || cls % alignof(void*) != 0) return TRecordKind::None;
  if (!ReadWord(cls, table) || !ReadWord(cls + kWord, namePointer)) return TRecordKind::None;
  if (table < kWord || !ReadWord(table - kWord, meta) || !meta) return TRecordKind::None;
  if (!ReadWord(meta + kWord, metaName)) return TRecordKind::None;
  std::string kind;
  if (!ReadName(metaName, kind)) return TRecordKind::None;
  // Some run-times store a leading "*" for names that compare by address.
  if (!kind.empty() && kind[0] == '*') kind.erase(0, 1);
  if (kind == "N10__cxxabiv117__class_type_infoE") return TRecordKind::Class;
  if (kind == "N10__cxxabiv120__si_class_type_infoE") return TRecordKind::Single;
  if (kind == "N10__cxxabiv121__vmi_class_type_infoE") return TRecordKind::Multiple;
  return TRecordKind::None;
}

bool ValidRecord(const std::type_info* cls, std::string* mangled) {
  uintptr_t namePointer = 0;
  if (RecordKind(reinterpret_cast<uintptr_t>(cls), namePointer) == TRecordKind::None) return false;
  std::string name;
  if (!ReadName(namePointer, name)) return false;
  if (mangled) *mangled = name;
  return true;
}

std::string Demangle(std::string mangled) {
  if (!mangled.empty() && mangled[0] == '*') mangled.erase(0, 1);
  int status = 0;
  char* plain = abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status);
  if (!plain) return mangled;
  std::string out = plain;
  std::free(plain);
  return out;
}

bool NameMatches(const std::string& className, const std::string& wanted) {
  std::string a = UpperCase(Trim(className));
  if (a == wanted) return true;
  size_t scope = a.rfind("::");
  return scope != std::string::npos && a.substr(scope + 2) == wanted;
}

bool InheritsFromName(uintptr_t cls, const std::string& wanted, int32_t depth, bool checkParents) {
  if (depth > kMaxDepth) return false;
  std::string mangled;
  uintptr_t namePointer = 0;
  TRecordKind kind = RecordKind(cls, namePointer);
  if (kind == TRecordKind::None) return false;
  if (!ReadName(namePointer, mangled)) return false;
  if (NameMatches(Demangle(mangled), wanted)) return true;
  if (kind == TRecordKind::Single) {
    uintptr_t base = 0;
    return ReadWord(cls + 2 * kWord, base) && InheritsFromName(base, wanted, depth + 1, checkParents);
  }
  if (kind == TRecordKind::Multiple) {
    uint32_t count = 0;
    if (!ReadU32(cls + 2 * kWord + 4, count) || count > kMaxBases) return false;
    uintptr_t entries = cls + 2 * kWord + 8;
    for (uint32_t i = 0; i < count; ++i) {
      uintptr_t base = 0;
      if (ReadWord(entries + i * 2 * kWord, base) && InheritsFromName(base, wanted, depth + 1, checkParents))
        return true;
    }
  }
  return false;
}

thread_local struct {
  char ClassName[65] = {};
  uintptr_t Address = 0;
} tException;

}  // namespace

// --- Class records and objects

bool IsValidClassSlow(const std::type_info* cls) { return cls && ValidRecord(cls, nullptr); }

bool IsValidClass(const std::type_info* cls) {
  if (!cls) return false;
  // Fast path: the record's two words on one page that is readable as a whole; the checks of
  // the slow path then only probe the table and the names.
  uintptr_t at = reinterpret_cast<uintptr_t>(cls);
  constexpr uintptr_t kPage = 4096;
  if (at / kPage == (at + 2 * kWord - 1) / kPage &&
      !ember_support::IsReadable(reinterpret_cast<const void*>(at), 2 * kWord))
    return false;
  return IsValidClassSlow(cls);
}

namespace {

// The object's own class record (a copy's is the copy class); nullptr when not valid.
const std::type_info* ActualClass(const void* object) {
  uintptr_t table = 0, cls = 0;
  uintptr_t at = reinterpret_cast<uintptr_t>(object);
  if (!at || at % alignof(void*) != 0 || !ReadWord(at, table)) return nullptr;
  if (table < kWord || !ReadWord(table - kWord, cls)) return nullptr;
  auto* record = reinterpret_cast<const std::type_info*>(cls);
  return IsValidClass(record) ? record : nullptr;
}

bool IsObjectCopy(const void* object) {
  const std::type_info* cls = ActualClass(object);
  return cls && *cls == typeid(TEmberObjectCopy);
}

}  // namespace

const std::type_info* GetObjectClass(const void* object) {
  const std::type_info* record = ActualClass(object);
  // A library copy answers for the class it was made from.
  if (record && *record == typeid(TEmberObjectCopy)) return static_cast<const TEmberObjectCopy*>(object)->OriginalClass();
  return record;
}

bool IsValidObject(const void* object) { return GetObjectClass(object) != nullptr; }

std::string GetClassName(const std::type_info* cls) {
  std::string mangled;
  if (!cls || !ValidRecord(cls, &mangled)) return std::string();
  return Demangle(mangled);
}

std::string GetObjectClassName(const void* object) { return GetClassName(GetObjectClass(object)); }

// --- Copies of exception objects

size_t GetInstanceSize(const void* object) { return IsValidObject(object) ? sizeof(TEmberObjectCopy) : 0; }

std::string ReportedClassName(const std::exception* object) {
  const std::type_info* actual = ActualClass(object);
  if (!actual) return std::string();
  if (*actual == typeid(TEmberObjectCopy)) return static_cast<const TEmberObjectCopy*>(object)->ClassName();
  if (*actual == typeid(TActiveXException)) return static_cast<const TActiveXException*>(object)->InnerClassName();
  std::string name = GetClassName(actual);
  size_t colon = name.rfind("::");
  return colon == std::string::npos ? name : name.substr(colon + 2);
}

std::vector<std::string> CarriedClassNames(const std::exception* object) {
  const std::type_info* actual = ActualClass(object);
  if (!actual) return {};
  if (*actual == typeid(TEmberObjectCopy)) return static_cast<const TEmberObjectCopy*>(object)->Carried();
  if (*actual != typeid(TActiveXException)) return {};
  const auto& wrapper = *static_cast<const TActiveXException*>(object);
  std::vector<std::string> names;
  if (!wrapper.InnerClassName().empty()) names.push_back(wrapper.InnerClassName());
  if (wrapper.Inner()) {
    try {
      std::rethrow_exception(wrapper.Inner());
    } catch (const std::exception& inner) {
      // The class's own name, without the namespaces C++ puts in front of it.
      std::string name = GetObjectClassName(&inner);
      size_t colons = name.rfind("::");
      if (colons != std::string::npos) name = name.substr(colons + 2);
      if (!name.empty()) names.push_back(name);
    } catch (...) {
    }
  }
  return names;
}

const std::exception* CopyObject(const std::exception* object) {
  if (GetInstanceSize(object) == 0) return nullptr;
  return new TEmberObjectCopy(GetObjectClass(object), ReportedClassName(object), object->what(),
                              CarriedClassNames(object));
}

void FreeObjectCopy(const std::exception*& object) {
  // Only the library's own copies are freed here; anything else belongs to its thrower.
  if (IsObjectCopy(object)) delete static_cast<const TEmberObjectCopy*>(object);
  object = nullptr;
}

bool InheritsFromClassName(const std::type_info* cls, const std::string& name) {
  return cls && InheritsFromName(reinterpret_cast<uintptr_t>(cls), UpperCase(Trim(name)), 0, true);
}

bool IsExceptionClassName(const void* object, const std::string& className) {
  const std::type_info* cls = GetObjectClass(object);
  return cls && InheritsFromClassName(cls, className);
}

bool IsExceptionOfClasses(const void* object, const std::vector<std::string>& classNames) {
  for (const std::string& name : classNames)
    if (IsExceptionClassName(object, name)) return true;
  return false;
}

bool IsAbortException(const void* object) { return IsExceptionClassName(object, "EAbort"); }

bool IsNotExternalException(const void* object) { return !IsExceptionClassName(object, "EExternal"); }

const std::type_info* CurrentExceptionClass() {
  return abi::__cxa_current_exception_type();
}

const void* CurrentExceptionObject() {
  if (!std::current_exception()) return nullptr;
  try {
    throw;
  } catch (const std::exception& e) {
    return &e;
  } catch (...) {
    return nullptr;
  }
}

void StoreExceptionInTLS(const void* object, uintptr_t address) {
  std::string name = GetObjectClassName(object);
  if (name.size() > 64) name.resize(64);
  std::memcpy(tException.ClassName, name.c_str(), name.size() + 1);
  tException.Address = address;
}

void LoadExceptionFromTLS(std::string& className, uintptr_t& address) {
  className = tException.ClassName;
  address = tException.Address;
}

bool SwapMethodProp(TObject* object, const std::string& name, const TMethodValue& newMethod, TMethodValue& oldMethod) {
  if (!object) return false;
  const TPropInfo* prop = GetPropInfo(object, name);
  if (!prop || !prop->PropType || prop->PropType->Kind != tkMethod || !prop->IsWritable()) return false;
  try {
    TMethodValue current = GetMethodProp(object, prop);
    if (current == newMethod) return false;
    SetMethodProp(object, prop, newMethod);
    oldMethod = current;
    return true;
  } catch (...) {
    return false;
  }
}

// --- Versions and texts

bool IsCompatibleLibVersion(uint16_t version, uint16_t own) {
  uint32_t low = own / 100u * 100u;
  return version >= low && version <= low + 100u;
}

bool IsCompatibleLibVersion(uint16_t version) { return IsCompatibleLibVersion(version, EmberLibraryVersion); }

std::string FormatRFC822Date(TDateTime dateTime, int32_t utcOffsetMinutes) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0, msec = 0;
  DecodeDate(dateTime, year, month, day);
  DecodeTime(dateTime, hour, minute, second, msec);
  // Day 0 (1899-12-30) was a Saturday.
  int64_t whole = static_cast<int64_t>(std::floor(dateTime));
  int32_t weekday = static_cast<int32_t>(((whole + 6) % 7 + 7) % 7);
  // A zone of whole hours only would move the instant of a half-hour zone by 30 minutes.
  const int32_t offset = (utcOffsetMinutes < 0 ? -utcOffsetMinutes : utcOffsetMinutes) % (100 * 60);
  char text[80];
  std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d %c%02d%02d", kDays[weekday], day,
                kMonths[(month - 1) % 12], year, hour, minute, second, utcOffsetMinutes < 0 ? '-' : '+',
                offset / 60, offset % 60);
  return text;
}

std::string FormatRFC822Date(TDateTime dateTime) {
  return FormatRFC822Date(dateTime, ember_support::UTCOffsetMinutes());
}

std::string FormatLocationName(const TELLocationInfo& info) {
  std::string unit = info.UnitName;
  size_t dot = unit.rfind('.');
  size_t slash = unit.find_last_of("\\/");
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) unit.erase(dot);
  std::string text;
  for (const std::string* part : {static_cast<const std::string*>(&unit), &info.ProcedureName}) {
    if (part->empty()) continue;
    if (!text.empty()) text += '.';
    text += *part;
  }
  return text;
}

// --- Memory reserve

namespace {
std::mutex gReserveLock;
void* gReserve = nullptr;
constexpr size_t kReserveSize = 0x500000;
}  // namespace

bool ReserveMemory() {
  std::lock_guard<std::mutex> lock(gReserveLock);
  if (!gReserve) gReserve = ember_support::ReserveAddressSpace(kReserveSize);
  return gReserve != nullptr;
}

void ReleaseReservedMemory() {
  std::lock_guard<std::mutex> lock(gReserveLock);
  if (gReserve) ember_support::ReleaseAddressSpace(gReserve, kReserveSize);
  gReserve = nullptr;
}

bool IsMemoryReserved() {
  std::lock_guard<std::mutex> lock(gReserveLock);
  return gReserve != nullptr;
}

// --- Stack

uintptr_t GetStackTop() {
  uintptr_t low = 0, high = 0;
  return ember_support::CurrentStackBounds(low, high) ? high : 0;
}
