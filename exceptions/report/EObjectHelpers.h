// Defensive helpers for a process that may be damaged: whether a pointer really is an object or
// a class record before anything touches it, class tests by name (so that classes of other
// modules match), handle, thread and debugger tests, the memory reserve, the mail date format
// and the location of a code address. The options' shared memory is EmberSharedMemory.h's.
//
// Class records are the C++ run-time type records (std::type_info of the Itanium ABI that both
// g++ and mingw use): an object's first word points at its virtual table, the word before that
// table at the record; a record holds its own table pointer, its mangled name and, for single
// or multiple inheritance, its base records. Every word is checked as readable before it is read.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <typeinfo>
#include <vector>

#include "classlib/DateUtils.h"

class TObject;
struct TELLocationInfo;

// --- Class records and objects (portable)

// A class record that can be read safely: readable, of one of the run-time's record kinds, with a
// readable name of printable characters.
bool IsValidClass(const std::type_info* cls);
// The same, testing every part one by one (the fast path above falls back to it).
bool IsValidClassSlow(const std::type_info* cls);
// The object's class record when the pointer is a polymorphic object with a valid class;
// nullptr otherwise. Never faults.
const std::type_info* GetObjectClass(const void* object);
bool IsValidObject(const void* object);
// The demangled name of a valid class ("EAbort", "ember::TThing"); empty otherwise.
std::string GetClassName(const std::type_info* cls);
std::string GetObjectClassName(const void* object);
// Walks the class and its bases while each is valid: true when one's name (whole, or its last
// "::" part), trimmed and upper-cased, equals the trimmed upper-cased `name`.
bool InheritsFromClassName(const std::type_info* cls, const std::string& name);
bool IsExceptionClassName(const void* object, const std::string& className);
bool IsExceptionOfClasses(const void* object, const std::vector<std::string>& classNames);
// A valid object with "EAbort" in its class chain (classes of other modules included).
bool IsAbortException(const void* object);
// Not of the class "EExternal" (the system's exceptions turned into objects).
bool IsNotExternalException(const void* object);

// The class record and object of the exception being handled (call inside a catch block):
// for a std::exception its address, else nullptr with the thrown type's record.
const std::type_info* CurrentExceptionClass();
const void* CurrentExceptionObject();

// The class name (at most 64 characters) and the address of the exception being handled on this
// thread, kept for the run-time's own reporting; read back by LoadExceptionFromTLS.
void StoreExceptionInTLS(const void* object, uintptr_t address);
void LoadExceptionFromTLS(std::string& className, uintptr_t& address);

// When the object's class has a published method property `name` whose value differs from
// `newMethod`: `oldMethod` gets the value and the property is set to `newMethod`. True when the
// swap was made.
struct TMethodValue;
bool SwapMethodProp(TObject* object, const std::string& name, const TMethodValue& newMethod, TMethodValue& oldMethod);

// --- Copies of exception objects (portable)

// What the library keeps of an exception object that must outlive the handler of the original
// (a report sent in the background): the original's class record, class name and message. A
// byte copy of the object would share the strings the original owns and read them after they
// were freed. The class helpers above see the original's class through a copy.
class TEmberObjectCopy : public std::exception {
 public:
  TEmberObjectCopy(const std::type_info* originalClass, std::string className, std::string message,
                   std::vector<std::string> carried = {})
      : originalClass_(originalClass),
        className_(std::move(className)),
        message_(std::move(message)),
        carried_(std::move(carried)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::type_info* OriginalClass() const { return originalClass_; }
  // The class name the report shows (a wrapped safecall exception's carried name).
  const std::string& ClassName() const { return className_; }
  // A safecall wrapper's carried class names (CarriedClassNames); empty for anything else.
  const std::vector<std::string>& Carried() const { return carried_; }

 private:
  const std::type_info* originalClass_;
  std::string className_;
  std::string message_;
  std::vector<std::string> carried_;
};

// The size of the block CopyObject takes for `object`; 0 for anything that is not a valid
// object.
size_t GetInstanceSize(const void* object);
// A copy of `object` that stays valid after the original is freed; nullptr for nullptr or an
// object that is not valid. Free it with FreeObjectCopy.
const std::exception* CopyObject(const std::exception* object);
// Frees a copy made by CopyObject and clears the variable; nullptr does nothing.
void FreeObjectCopy(const std::exception*& object);
// The class name the report shows for an exception object (also through a copy); empty for an
// object that is not valid.
std::string ReportedClassName(const std::exception* object);
// The class names a safecall wrapper (TActiveXException) carries: the one it was made with, then
// the class of the exception it owns; through a copy, the copied wrapper's. Empty for anything
// else. A copy answers for the wrapper's class (GetObjectClass) but is none: only these names
// are read of it.
std::vector<std::string> CarriedClassNames(const std::exception* object);

// --- Versions and texts (portable)

// `version` lies between (own ÷ 100) × 100 and that + 100, both included.
bool IsCompatibleLibVersion(uint16_t version, uint16_t own);
bool IsCompatibleLibVersion(uint16_t version);

// "Sun, 5 Jan 2025 09:04:03 +0100": English names, the zone as the signed offset from UTC in
// hours and minutes, two digits each ("+0530" for 330 minutes, "-0330" for -210). `dateTime` is
// the local time of that zone, so that time and zone name one instant.
std::string FormatRFC822Date(TDateTime dateTime, int32_t utcOffsetMinutes);
// The same with the local offset.
std::string FormatRFC822Date(TDateTime dateTime);

// "unit.class.procedure" of a location (the unit without its file extension), empty parts left
// out.
std::string FormatLocationName(const TELLocationInfo& info);

// --- Memory reserve (portable)

// Reserves 5 MB of address space (no access) at start-up; a second call keeps the first range.
bool ReserveMemory();
// Gives the range back, so that processing an exception has address space when memory ran out.
void ReleaseReservedMemory();
bool IsMemoryReserved();

// --- Stack (portable)

// The top of the calling thread's stack (one past its highest byte); 0 when unknown.
uintptr_t GetStackTop();
// The caller's stack pointer (its frame, close enough for copying the stack above it); always
// inlined, so that the frame is the caller's.
__attribute__((always_inline)) inline uintptr_t GetStackPointer() {
  return reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
}

// --- Win32 only (win32/EObjectHelpers.cpp)

bool IsDebuggerAttached();
bool IsValidHandle(uintptr_t handle);
// A valid handle of a thread that has not ended (exit code STILL_ACTIVE).
bool IsThreadRunning(uintptr_t handle);
// The character set of the user's default ANSI code page (for dialog fonts).
uint32_t GetDefaultCharset();
// Fills `info` for a code address through its module's debug information, loading that when
// the module has none yet. False when no unit was found.
bool GetLocationInfo(uintptr_t address, TELLocationInfo& info);
