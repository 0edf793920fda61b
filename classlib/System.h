// The root of the class hierarchy and the basic value types the rest of the code shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Reference-counted text of the original platform: ANSI strings are byte strings, wide strings
// are UTF-16 on every platform (wchar_t is 32 bits outside Windows).
using WideString = std::u16string;
using WideChar = char16_t;

struct TClassInfo;

// Base of every object with a virtual destructor. Each class of the object model carries a class
// record (TClassInfo, see TypInfo.h): its name, parent, virtual constructor and published
// properties; classes declare theirs with KBL_DECLARE_CLASS / KBL_PUBLISHED.
class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;

  // TObject's own record; StaticClassInfo of a declared class hides this one.
  static const TClassInfo* StaticClassInfo();
  // The record of the object's actual class.
  virtual const TClassInfo* ClassInfo() const { return StaticClassInfo(); }

  std::string ClassName() const;
  // The record of the parent class; nullptr for TObject.
  const TClassInfo* ClassParent() const;
  // True when the object's class is `cls` or derives from it; false for nullptr.
  bool InheritsFrom(const TClassInfo* cls) const;
  template <typename T>
  bool Is() const { return InheritsFrom(T::StaticClassInfo()); }

  // Objects are allocated through the installed object allocator (SetObjectAllocator), so that
  // a leak tracker can tell them from other blocks.
  static void* operator new(std::size_t size);
  static void operator delete(void* block) noexcept;
};

// The allocator of objects; nullptr restores the global new and delete. It is given the
// address the object's new returns to and the stack pointer of that caller. Install it before
// the first object is made and keep it while objects it made live.
using TObjectAllocator = void* (*)(std::size_t size, const void* callSite, const void* callerStack);
using TObjectDeallocator = void (*)(void* block);
void SetObjectAllocator(TObjectAllocator allocate, TObjectDeallocator deallocate);

// Set when the application wants to hear about memory leaks at shut-down (off by default); a
// leak tracker that cannot show its leaks says so only when this is set.
extern bool ReportMemoryLeaksOnShutdown;

// Rounds to the nearest integer, halves to the even neighbour ("banker's rounding"), independent
// of the FPU rounding mode in force. Values outside the 64-bit range saturate; NaN gives 0.
int64_t Round(double value);

// Truncates toward zero, saturating like Round.
int64_t Trunc(double value);
