// Portable half of the system, window and text helpers: texts, version names, the location
// cache and the raise snapshot.
#include "ESysUtils.h"

#include <cmath>
#include <mutex>

#include "classlib/SysUtils.h"
#include "detail/ESupportPlatform_p.h"

// --- Text

namespace {

std::string Counted(int64_t count, const char* unit) {
  return IntToStr(count) + " " + unit + (count >= 2 ? "s" : "");
}

}  // namespace

std::string FormatDuration(double days) {
  if (!std::isfinite(days) || days < 0) days = 0;
  // Whole milliseconds first: splitting the fraction by 24, 60 and 60 in floating point turns
  // exactly one hour (1/24 day) into 0 hours, 59 minutes and 59 seconds.
  int64_t milliseconds = Round(days * 86400000.0);
  int64_t seconds = milliseconds / 1000;
  int64_t wholeDays = seconds / 86400;
  int64_t hours = seconds / 3600 % 24;
  int64_t minutes = seconds / 60 % 60;
  seconds %= 60;
  std::string text;
  if (wholeDays > 0) text += Counted(wholeDays, "day") + ", ";
  if (hours > 0) text += Counted(hours, "hour") + ", ";
  if (minutes > 0) text += Counted(minutes, "minute") + ", ";
  return text + Counted(seconds, "second");
}

std::string CollapseControlChars(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  bool inRun = false;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 32) {
      if (!inRun) out += ' ';
      inRun = true;
    } else {
      out += c;
      inRun = false;
    }
  }
  return out;
}

std::string PadRight(const std::string& text, int32_t width) {
  if (width <= 0 || text.size() >= static_cast<size_t>(width)) return text;
  return text + std::string(static_cast<size_t>(width) - text.size(), ' ');
}

std::string HTMLEncode(const std::string& text) {
  // In this order: "&" first, so that the entities written later are not encoded again.
  std::string out = text;
  static const char* const kPairs[][2] = {
      {"&", "&amp;"}, {"\"", "&quot;"}, {"'", "&#039;"}, {"<", "&lt;"},
      {">", "&gt;"},  {"  ", "&nbsp;&nbsp;"}, {"\r\n", "<br>\r\n"}};
  for (const auto& pair : kPairs) {
    std::string next;
    const std::string from = pair[0];
    size_t at = 0;
    while (true) {
      size_t found = out.find(from, at);
      if (found == std::string::npos) break;
      next.append(out, at, found - at);
      next += pair[1];
      at = found + from.size();
    }
    next.append(out, at, std::string::npos);
    out.swap(next);
  }
  return out;
}

std::string WindowsVersionName(uint32_t platformId, uint32_t major, uint32_t minor,
                               const std::string& servicePack, bool workstation) {
  std::string numbers = IntToStr(major) + "." + IntToStr(minor);
  if (platformId == 1) {
    std::string service = Trim(servicePack);
    if (minor < 10) return service == "B" ? "95 OSR 2" : "95";
    if (minor < 90) return service == "A" ? "98 SE" : "98";
    if (minor == 90) return "ME";
    return numbers;
  }
  if (major == 4) return "NT 4.0";
  if (major == 5) {
    if (minor == 0) return "2000";
    if (minor == 1) return "XP";
    if (minor == 2) return workstation ? "XP" : "2003";
  }
  if (major == 6) {
    if (minor == 0) return workstation ? "Vista" : "Server 2008";
    if (minor == 1) return workstation ? "7" : "Server 2008 R2";
  }
  return numbers;
}

std::string ComposeWindowsName(uint32_t platformId, uint32_t major, uint32_t minor,
                               const std::string& servicePack, bool workstation, bool wow64) {
  std::string name = "Microsoft Windows " + WindowsVersionName(platformId, major, minor, servicePack, workstation);
  if (platformId == 2 && wow64) name += " (64 bit)";
  return name;
}

std::string CleanModuleFileName(const std::string& fileName) {
  // Names of modules loaded through a "\\?\" path read "\\?\C:\..."; the drive letter before
  // the first ":" after the "?" starts the usable name.
  size_t question = fileName.find('?');
  if (question == std::string::npos) return fileName;
  size_t colon = fileName.find(':', question);
  if (colon == std::string::npos || colon == 0) return fileName;
  return fileName.substr(colon - 1);
}

// --- Location cache

namespace {

struct TCacheEntry {
  const void* ObjectClass;
  uintptr_t Address;
  const void* Module;
  TEmberCachedLocation Result;
};

std::mutex gCacheLock;
TCacheEntry gCache[EmberLocationCacheSize];
int32_t gCacheCount = 0;

}  // namespace

bool FindCachedLocation(const void* objectClass, uintptr_t address, const void* module,
                        TEmberCachedLocation& result) {
  std::lock_guard<std::mutex> lock(gCacheLock);
  for (int32_t i = 0; i < gCacheCount; ++i) {
    const TCacheEntry& entry = gCache[i];
    if (entry.Address == address && entry.ObjectClass == objectClass && entry.Module == module) {
      result = entry.Result;
      return true;
    }
  }
  return false;
}

void AddCachedLocation(const void* objectClass, uintptr_t address, const void* module,
                       const TEmberCachedLocation& result) {
  std::lock_guard<std::mutex> lock(gCacheLock);
  if (gCacheCount == EmberLocationCacheSize) {
    for (int32_t i = 1; i < EmberLocationCacheSize; ++i) gCache[i - 1] = gCache[i];
    --gCacheCount;
  }
  gCache[gCacheCount++] = TCacheEntry{objectClass, address, module, result};
}

void ClearLocationCache() {
  std::lock_guard<std::mutex> lock(gCacheLock);
  gCacheCount = 0;
}

int32_t CachedLocationCount() {
  std::lock_guard<std::mutex> lock(gCacheLock);
  return gCacheCount;
}

// --- Raise snapshot

namespace {

std::mutex gRaiseLock;
TEmberRaiseSnapshot gRaise;

// The stack holds the redzones of live frames under the address sanitizer, and copying them is
// what this is for: the copy goes byte by byte without instrumentation.
#if defined(__clang__) || defined(__GNUC__)
__attribute__((no_sanitize("address")))
#endif
void CopyStackBytes(uint8_t* to, uintptr_t from, size_t count) {
  auto* source = reinterpret_cast<const volatile uint8_t*>(from);
  for (size_t i = 0; i < count; ++i) to[i] = source[i];
}

}  // namespace

void SaveRaiseInfo(const void* object, uintptr_t address, bool flag) {
  std::lock_guard<std::mutex> lock(gRaiseLock);
  gRaise.Object = object;
  gRaise.Address = address;
  gRaise.Flag = flag;
  if (object && address) {
    gRaise.LastObject = object;
    gRaise.LastAddress = address;
  }
}

void SaveRaiseStack(uintptr_t stackPointer, uintptr_t address, bool fromCall) {
  uintptr_t low = 0, high = 0;
  bool bounds = ember_support::CurrentStackBounds(low, high);
  // The frame address, not a local's: under the address sanitizer locals may live elsewhere.
  uintptr_t own = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  uintptr_t from = stackPointer;
  if (!bounds || from < low || from >= high) from = own;
  size_t count = 0;
  if (bounds && from >= low && from < high) count = high - from;
  if (count > EmberRaiseStackLimit) count = EmberRaiseStackLimit;
  std::vector<uint8_t> copy(count);
  if (count) CopyStackBytes(copy.data(), from, count);

  std::lock_guard<std::mutex> lock(gRaiseLock);
  gRaise.ThreadID = ember_support::CurrentThreadId();
  gRaise.StackAddress = fromCall && address >= 5 ? address - 5 : address;
  gRaise.StackPointer = from;
  gRaise.Stack.swap(copy);
}

TEmberRaiseSnapshot GetRaiseSnapshot() {
  std::lock_guard<std::mutex> lock(gRaiseLock);
  return gRaise;
}

void ClearRaiseSnapshot() {
  std::lock_guard<std::mutex> lock(gRaiseLock);
  gRaise = TEmberRaiseSnapshot();
}
