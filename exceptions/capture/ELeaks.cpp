// The leak tracker: tracked blocks, their list, the checks when they are freed and the report.
#include "ELeaks.h"

#include <cxxabi.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <typeinfo>

#include "ECallStack.h"
#include "ExceptionLog.h"
#include "classlib/MemoryManager.h"

namespace {

constexpr size_t kOverhead = sizeof(TLeakHeader) + LeakFooterSize;
constexpr int32_t kQuarantine = 256;

std::atomic<bool> gTracking{false};
std::atomic<bool> gEverTracked{false};
std::atomic<uint8_t> gFlags{0};
// The list's lock (see TLockWord): once given up, the list may be half unlinked and is left alone
// for good, and tracking ends.
TLockWord gList;
// The list belongs to a run that ended while it was out of reach (its lock's holder kept
// suspended, the module's end): whoever takes the lock next cuts it, so that no later run
// reports or walks those blocks.
std::atomic<bool> gListStale{false};
TLeakHeader* gOldest = nullptr;
TLeakHeader* gNewest = nullptr;
TLeakHeader* gQuarantine[kQuarantine] = {};
int32_t gQuarantineNext = 0;
TLeakHandlers gHandlers;

bool ListGivenUp() { return gList.givenUp.load(std::memory_order_relaxed); }

void EndRunsList();

// Waiting threads yield, then sleep 10 ms between tries. The caller is told it has no lock,
// instead of waiting for ever, when the list is given up, its holder is kept suspended, or the
// word names the caller's own thread holding it further out (a fault inside the locked region,
// links smashed by an overrun of the neighbour, whose handler allocates or frees).
constexpr TLockPace kListPace{0, 4, 10};

class TListLock {
 public:
  TListLock() : frame_(gList) {
    held_ = TakeLockWord(gList, LockOwnerId(), frame_, kListPace);
    if (held_ && gListStale.load()) EndRunsList();
  }
  ~TListLock() {
    if (held_) gList.owner.store(0, std::memory_order_release);
  }
  TListLock(const TListLock&) = delete;
  TListLock& operator=(const TListLock&) = delete;
  bool Held() const { return held_; }

 private:
  TLockFrame frame_;
  bool held_;
};

uint8_t* UserBytes(TLeakHeader* header) { return reinterpret_cast<uint8_t*>(header + 1); }
TLeakHeader* HeaderOf(void* block) { return static_cast<TLeakHeader*>(block) - 1; }

bool HasFooterMark(TLeakHeader* header) {
  uint32_t mark;
  std::memcpy(&mark, UserBytes(header) + header->Size, 4);
  return mark == LeakMark;
}

// Under the lock.
void Link(TLeakHeader* header) {
  header->Older = gNewest;
  header->Newer = nullptr;
  if (gNewest != nullptr) gNewest->Newer = header;
  gNewest = header;
  if (gOldest == nullptr) gOldest = header;
}

void Unlink(TLeakHeader* header) {
  if (header->Older != nullptr) header->Older->Newer = header->Newer;
  if (header->Newer != nullptr) header->Newer->Older = header->Older;
  if (gOldest == header) gOldest = header->Newer;
  if (gNewest == header) gNewest = header->Older;
  header->Older = header->Newer = nullptr;
}

// Words of another frame of this thread's stack, read as they are (the sanitizers would take
// a caller's guard zones for overflows).
__attribute__((no_sanitize("address"))) uintptr_t StackWord(uintptr_t address) {
  return *reinterpret_cast<const volatile uintptr_t*>(address);
}

// The 4 bytes before a block: the header's mark when the tracker made it, the heap's own
// bookkeeping otherwise (which the sanitizers guard).
__attribute__((no_sanitize("address"))) uint32_t MarkBefore(const void* block) {
  return *reinterpret_cast<const volatile uint32_t*>(static_cast<const uint8_t*>(block) - 4);
}

// The header of a block the tracker made, nullptr for one it passed on unchanged. A small block
// of the memory manager is the tracker's exactly when it starts one header past a block's start:
// the bytes before a block passed on are its neighbour's, which may hold anything, the mark too.
TLeakHeader* TrackedHeader(void* block) {
  if (void* start = SmallBlockOf(block)) {
    if (static_cast<uint8_t*>(start) + sizeof(TLeakHeader) != block) return nullptr;
  }
  return MarkBefore(block) == LeakMark ? HeaderOf(block) : nullptr;
}

// The allocating thread's stack: the call site first, then the raw words of the caller's stack,
// and the return addresses of the frame-pointer chain from there (frames that go upward and
// stay below the stack's top).
__attribute__((noinline, no_sanitize("address"))) void RecordStacks(TLeakHeader* header, uintptr_t callSite, uintptr_t callerStack) {
  int32_t skip = 0;
  if (callerStack == 0) {
    callerStack = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    skip = 3;  // the tracker's own frames
  }
  const uintptr_t top = ember_detail::PlatformStackTop();
  std::memset(header->RawStack, 0, sizeof header->RawStack);
  std::memset(header->FrameStack, 0, sizeof header->FrameStack);
  int32_t first = 0;
  if (callSite != 0) header->RawStack[first++] = static_cast<uint32_t>(callSite);
  // Bounds are compared without overflow: a word taken for a frame link may be anything, up to
  // the end of the address space.
  const auto below = [top](uintptr_t at, uintptr_t size) { return top >= size && at <= top - size; };
  for (uintptr_t at = callerStack; first < LeakStackDepth && below(at, sizeof(uintptr_t)); at += 4)
    header->RawStack[first++] = static_cast<uint32_t>(StackWord(at));
  const uintptr_t bottom = callerStack - 2 * sizeof(uintptr_t);
  uintptr_t current = bottom;
  int32_t count = 0;
  while (count < LeakStackDepth && current >= bottom && below(current, 2 * sizeof(uintptr_t))) {
    const uintptr_t next = StackWord(current);
    const uintptr_t returnAddress = StackWord(current + sizeof(uintptr_t));
    if (skip-- <= 0) header->FrameStack[count++] = static_cast<uint32_t>(returnAddress);
    if (next <= current) break;
    current = next;
  }
}

void InitBlock(TLeakHeader* header, size_t size, bool object, uintptr_t callSite, uintptr_t callerStack) {
  header->State = 0;
  header->Kind = object ? 1 : 0;
  header->Reserved = 0;
  header->Size = static_cast<uint32_t>(size);
  header->Count = 0;
  header->Mark = LeakMark;
  RecordStacks(header, callSite, callerStack);
  const uint32_t footer[2] = {LeakMark, 0};
  std::memcpy(UserBytes(header) + size, footer, LeakFooterSize);
}

// Links a new block; false when the list is out of reach.
bool LinkNew(TLeakHeader* header) {
  TListLock lock;
  if (!lock.Held()) return false;
  Link(header);
  return true;
}

void Release(TLeakHeader* header) { FreeMem(header); }

// --- Report

constexpr uint32_t kPageShift = 12;
constexpr size_t kPageCount = size_t{1} << (32 - kPageShift);
const TMemoryPagesCache* gPagesCache = nullptr;  // while the report runs

const TEmberMemory& Memory() { return gPagesCache != nullptr ? *gPagesCache : EmberMemory(); }

// The call-site form of a stack array: values not preceded by a call instruction go, the
// others become the call's address; the array is closed up.
int32_t PurgeStack(uint32_t* stack) {
  int32_t kept = 0;
  for (int32_t i = 0; i < LeakStackDepth; ++i) {
    const uint32_t value = stack[i];
    const int32_t length = value != 0 ? CallInstructionBefore(Memory(), value) : 0;
    if (length > 0) stack[kept++] = value - static_cast<uint32_t>(length);
  }
  for (int32_t i = kept; i < LeakStackDepth; ++i) stack[i] = 0;
  return kept;
}

bool Visible(const TLeakHeader* header) { return header->State == 0; }

// The oldest visible object of class `name`, or data block of `size`, that is not hidden.
void HideFirst(bool object, const std::string& name, uint32_t size) {
  for (TLeakHeader* h = gOldest; h != nullptr; h = h->Newer) {
    if (!Visible(h) || (h->Kind == 1) != object) continue;
    if (object ? LeakTypeName(UserBytes(h)) == name : h->Size == size) {
      h->State = 2;
      return;
    }
  }
}

// Known leaks of helper classes, and the data blocks a leaked form leaves behind.
void PurgeInvalidLeaks() {
  bool found = false;
  for (TLeakHeader* h = gOldest; h != nullptr && !found; h = h->Newer)
    found = Visible(h) && h->Kind == 1 && LeakTypeName(UserBytes(h)) == "TIdCriticalSection";
  HideFirst(true, found ? "TIdCriticalSection" : "TCriticalSection", 0);
  HideFirst(true, "TIdThreadSafeInteger", 0);
  bool form = false;
  for (TLeakHeader* h = gOldest; h != nullptr; h = h->Newer) {
    if (!Visible(h) || h->Kind != 1) continue;
    if (LeakTypeName(UserBytes(h)) == "TIntConst") h->State = 2;
    form = form || LeakObjectInheritsFrom(UserBytes(h), "TForm");
  }
  if (form)
    for (uint32_t size : {60u, 32u, 32u, 64u}) HideFirst(false, std::string(), size);
}

bool StacksEmpty(const uint32_t* stack) { return stack[0] == 0; }

// True when `stack` holds, from its second entry on, the two entries `first` and `second` in a
// row (never for an empty pair).
bool HoldsPair(const uint32_t* stack, uint32_t first, uint32_t second) {
  if (first == 0 || second == 0) return false;
  for (int32_t i = 1; i + 1 < LeakStackDepth; ++i)
    if (stack[i] == first && stack[i + 1] == second) return true;
  return false;
}

// Sons of an object: later blocks whose raw stack holds, from its second entry on, the object's
// first two raw entries, or whose frame stack holds the object's first two frame entries the
// same way (a block allocated deep inside the object's construction has the object's call site
// beyond its 35 raw stack words, while its frame chain still reaches it); folded recursively,
// their own sons first.
void FoldSons(TLeakHeader* parent) {
  const uint32_t* raw = parent->RawStack;
  const uint32_t* frames = parent->FrameStack;
  for (TLeakHeader* h = parent->Newer; h != nullptr; h = h->Newer) {
    if (!Visible(h)) continue;
    const bool son = HoldsPair(h->RawStack, raw[0], raw[1]) || HoldsPair(h->FrameStack, frames[0], frames[1]);
    if (!son) continue;
    if (h->Kind == 1) FoldSons(h);
    parent->Size += h->Size;
    h->State = 2;
  }
}

// A leak as handed to the handlers.
struct TReportedLeak {
  std::string Type;
  uint32_t Size, Count;
  uint32_t Stack[LeakStackDepth];
};

// The report's steps over the block list, under its lock: known leaks purged, the list cut to
// the most that are shown, call stacks reduced, equal leaks counted together, objects' own
// blocks folded into them; the leaks to show are copied out and, when asked, every block freed.
// `step` names the step under way.
void CollectLeaks(uint8_t flags, const char*& step, std::vector<TReportedLeak>& leaks) {
  step = "PurgeInvalidLeaks";
  if ((flags & LeakHideKnown) != 0) PurgeInvalidLeaks();
  step = "RemoveExtraLeaks";
  int32_t visible = 0;
  for (TLeakHeader* h = gOldest; h != nullptr; h = h->Newer)
    if (Visible(h) && ++visible > MaxReportedLeaks) h->State = 2;
  step = "PurgeCallStacks";
  for (TLeakHeader* h = gOldest; h != nullptr; h = h->Newer) {
    if (!Visible(h)) continue;
    PurgeStack(h->FrameStack);
    if (PurgeStack(h->RawStack) == 0) std::memcpy(h->RawStack, h->FrameStack, sizeof h->RawStack);
  }
  step = "CountAllLeaks";
  for (TLeakHeader* h = gOldest; h != nullptr; h = h->Newer) {
    if (!Visible(h)) continue;
    const uint32_t size = h->Size;
    h->Count = 1;
    for (TLeakHeader* other = h->Newer; other != nullptr; other = other->Newer) {
      if (!Visible(other) || other->Size != size || other->RawStack[0] != h->RawStack[0] ||
          other->Kind != h->Kind)
        continue;
      h->Size += other->Size;
      ++h->Count;
      other->State = 2;
    }
  }
  step = "RemoveLeaksSons";
  if ((flags & LeakFoldIntoObjects) != 0)
    for (TLeakHeader* h = gOldest; h != nullptr; h = h->Newer)
      if (Visible(h) && h->Kind == 1) FoldSons(h);
  step = "HandleAnyLeak";
  for (TLeakHeader* h = gOldest; h != nullptr; h = h->Newer) {
    if (!Visible(h) || StacksEmpty(h->RawStack)) continue;
    TReportedLeak leak{h->Kind == 1 ? LeakTypeName(UserBytes(h)) : "Data", h->Size, h->Count, {}};
    std::memcpy(leak.Stack, h->RawStack, sizeof leak.Stack);
    leaks.push_back(leak);
  }
  step = "FreeAllLeaks";
  if ((flags & LeakFreeAtEnd) != 0) {
    while (gOldest != nullptr) {
      TLeakHeader* h = gOldest;
      Unlink(h);
      h->State = 1;
      Release(h);
    }
  }
}

}  // namespace

// --- Public

TMemoryPagesCache::TMemoryPagesCache(const TEmberMemory& base)
    : base_(base),
      direct_(sizeof(void*) == 4 && &base == &EmberProcessMemory()),
      pages_(static_cast<uint8_t*>(std::calloc(kPageCount, 1))) {
  if (pages_ == nullptr) throw std::bad_alloc();
}

TMemoryPagesCache::~TMemoryPagesCache() { std::free(pages_); }

bool TMemoryPagesCache::IsReadable(uint32_t address, uint32_t size) const {
  const uint32_t page = address >> kPageShift;
  if (size > 1 && (address + (size - 1)) >> kPageShift != page) return base_.IsReadable(address, size);
  if (pages_[page] == 0) pages_[page] = base_.IsReadable(page << kPageShift, 1u << kPageShift) ? 1 : 2;
  return pages_[page] == 1;
}

bool TMemoryPagesCache::Read(uint32_t address, void* buffer, uint32_t size) const {
  if (!IsReadable(address, size)) return false;
  if (!direct_) return base_.Read(address, buffer, size);
  if (size) std::memcpy(buffer, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), size);
  return true;
}

void SetLeakHandlers(const TLeakHandlers& handlers) { gHandlers = handlers; }

bool StartLeakTracking(uint8_t flags) {
  // A list given up is never tracked into again.
  if ((flags & LeakTrackingOn) == 0 || ListGivenUp()) return false;
  gFlags = flags;
  gEverTracked = true;
  gTracking = true;
  return true;
}

namespace {

// Under the lock: the blocks kept back go to the heap, and the list is emptied, its blocks'
// links cleared, so that what a run leaves is never reported or walked by a later one. Blocks
// freed while the list was out of reach, left in it, go to the heap too: nothing else would ever
// free them, and their chunks could never go back to the system.
void EndRunsList() {
  for (TLeakHeader*& kept : gQuarantine) {
    if (kept != nullptr) Release(kept);
    kept = nullptr;
  }
  for (TLeakHeader* h = gOldest; h != nullptr;) {
    TLeakHeader* next = h->Newer;
    h->Older = h->Newer = nullptr;
    if (h->State == 1) Release(h);
    h = next;
  }
  gOldest = gNewest = nullptr;
  gListStale = false;
}

}  // namespace

void StopLeakTracking() {
  if (gTracking.exchange(false)) {
    ReportLeaks();
    TListLock lock;
    // A list out of reach keeps its blocks where they are, cut from the list by whoever takes
    // the lock next.
    if (lock.Held()) EndRunsList();
    else gListStale = true;
    gFlags = 0;
  }
  if (gHandlers.OnFinish) gHandlers.OnFinish();
}

bool IsLeakTracking() { return gTracking.load() && !ListGivenUp(); }

void* LeakAllocate(size_t size, bool object, uintptr_t callSite, uintptr_t callerStack) {
  // What the library allocates while it processes an exception is its own business, and a list
  // given up is done without.
  if (!gTracking.load() || ThreadVars().Busy != 0 || ThreadVars().Untracked != 0 || ListGivenUp())
    return TryGetMem(size);
  if (size > SIZE_MAX - kOverhead) return nullptr;
  auto* header = static_cast<TLeakHeader*>(TryGetMem(size + kOverhead));
  if (header == nullptr) return nullptr;
  InitBlock(header, size, object, callSite, callerStack);
  if (!LinkNew(header)) {
    FreeMem(header);
    return TryGetMem(size);
  }
  return UserBytes(header);
}

void LeakFree(void* block) {
  if (block == nullptr) return;
  TLeakHeader* header = gEverTracked.load() ? TrackedHeader(block) : nullptr;
  if (header == nullptr) {
    // Untracked: made before tracking began, while it was off, or under this thread's list lock;
    // the memory manager frees its own blocks and the C heap's.
    FreeMem(block);
    return;
  }
  const bool check = (gFlags.load() & LeakCheckFrees) != 0;
  if (header->State == 1) {
    // Freed before: kept back, so it never reaches the heap twice.
    if (check && gHandlers.OnMultiFree) gHandlers.OnMultiFree();
    return;
  }
  const bool overrun = !HasFooterMark(header);
  TLeakHeader* release = header;
  {
    TListLock lock;
    if (!lock.Held()) {
      // The list is out of reach (given up, a fault's handler under the lock, a holder kept
      // suspended): it may be half unlinked, so the block stays in it, marked freed, and its
      // memory is not given back.
      header->State = 1;
      return;
    }
    header->State = 1;
    Unlink(header);
    if (check && gTracking.load()) {
      release = gQuarantine[gQuarantineNext];
      gQuarantine[gQuarantineNext] = header;
      gQuarantineNext = (gQuarantineNext + 1) % kQuarantine;
    }
  }
  if (check && overrun && gHandlers.OnOverrun) gHandlers.OnOverrun();
  if (release != nullptr) Release(release);
}

void GiveUpLeakListOfThisThread() noexcept { GiveUpLockWordOfThisThread(gList); }

bool LeakListAbandoned() { return ListGivenUp(); }

uint32_t LeakListLockHolder() { return gList.owner.load(); }

namespace ember_detail {

void HoldLeakListLock() {
  const uint32_t self = LockOwnerId();
  for (uint32_t free = 0; !gList.owner.compare_exchange_weak(free, self, std::memory_order_acquire); free = 0)
    std::this_thread::yield();
}

bool RunHoldingLeakListLock(void (*body)(void*), void* data) {
  TListLock lock;
  if (!lock.Held()) return false;
  body(data);
  return true;
}

}  // namespace ember_detail

int32_t TrackedBlockCount() {
  TListLock lock;
  if (!lock.Held()) return -1;
  int32_t count = 0;
  for (TLeakHeader* h = gOldest; h != nullptr; h = h->Newer) count += Visible(h) ? 1 : 0;
  return count;
}

namespace {

uint32_t Address32(const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }

// The type record of a live object's class: the object's first word is its class's method
// table, and the type record stands just before the table. Nullptr when it cannot be read.
const std::type_info* ObjectTypeInfo(const void* object) {
  const TEmberMemory& memory = Memory();
  uintptr_t table = 0, type = 0;
  if (sizeof(void*) != 4 || !memory.Read(Address32(object), &table, 4) || table < 4 ||
      !memory.Read(static_cast<uint32_t>(table - 4), &type, 4) || !memory.IsReadable(static_cast<uint32_t>(type), 8))
    return nullptr;
  return reinterpret_cast<const std::type_info*>(type);
}

// A type record's class name without its namespaces; empty when the name cannot be read.
std::string ShortTypeName(const std::type_info* info) {
  const char* mangled = info->name();
  if (!Memory().IsReadable(Address32(mangled), 1)) return std::string();
  int status = 0;
  char* text = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && text != nullptr ? text : mangled;
  std::free(text);
  const size_t colon = name.rfind("::");
  return colon == std::string::npos ? name : name.substr(colon + 2);
}

// The method table a type record of this runtime begins with tells its kind: one base, several
// bases (or virtual ones), or none. Sample classes give the tables of the first two kinds.
struct TOneBaseSample : std::exception {};
struct TOtherBaseSample {
  virtual ~TOtherBaseSample() = default;
};
struct TTwoBasesSample : std::exception, TOtherBaseSample {};

const void* MethodTableOf(const std::type_info* info) { return *reinterpret_cast<const void* const*>(info); }

// The direct bases of a class, from its type record (read only where readable).
void AddBaseTypes(const std::type_info* info, std::vector<const std::type_info*>& pending) {
  static const void* const oneBase = MethodTableOf(&typeid(TOneBaseSample));
  static const void* const twoBases = MethodTableOf(&typeid(TTwoBasesSample));
  const TEmberMemory& memory = Memory();
  const void* table = MethodTableOf(info);
  if (table == oneBase && memory.IsReadable(Address32(info), sizeof(abi::__si_class_type_info))) {
    pending.push_back(static_cast<const abi::__si_class_type_info*>(info)->__base_type);
  } else if (table == twoBases && memory.IsReadable(Address32(info), sizeof(abi::__vmi_class_type_info))) {
    const auto* several = static_cast<const abi::__vmi_class_type_info*>(info);
    const uint32_t count = several->__base_count;
    if (count > 64 || !memory.IsReadable(Address32(several->__base_info), count * sizeof(several->__base_info[0])))
      return;
    for (uint32_t i = 0; i < count; ++i) pending.push_back(several->__base_info[i].__base_type);
  }
}

}  // namespace

std::string LeakTypeName(const void* object) {
  const std::type_info* info = ObjectTypeInfo(object);
  const std::string name = info != nullptr ? ShortTypeName(info) : std::string();
  return name.empty() ? "Unknown" : name;
}

bool LeakObjectInheritsFrom(const void* object, const std::string& className) {
  const std::type_info* info = ObjectTypeInfo(object);
  if (info == nullptr) return false;
  const std::string wanted = UpperCase(Trim(className));
  std::vector<const std::type_info*> pending{info};
  // A damaged record cannot send the walk round for ever.
  for (int32_t visited = 0; !pending.empty() && visited < 256; ++visited) {
    const std::type_info* type = pending.back();
    pending.pop_back();
    if (type == nullptr || !Memory().IsReadable(Address32(type), 8)) continue;
    if (UpperCase(Trim(ShortTypeName(type))) == wanted) return true;
    AddBaseTypes(type, pending);
  }
  return false;
}

void ReportLeaks() {
  std::vector<TReportedLeak> leaks;
  bool freedByOther = false;
  std::optional<TMemoryPagesCache> cache;
  struct TCacheInUse {
    ~TCacheInUse() { gPagesCache = nullptr; }
  } cacheInUse;
  const char* step = "Initialize the Memory Pages Cache";
  try {
    cache.emplace(EmberMemory());
    gPagesCache = &*cache;
    step = "Lock AllocatedList_Lock";
    {
      TListLock lock;
      // A list out of reach cannot be walked: nothing is reported.
      if (!lock.Held()) return;
      const uint8_t flags = gFlags.load();
      // Another allocator may have given the blocks back already: nothing can be shown.
      freedByOther = gOldest != nullptr && !Memory().IsReadable(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(gOldest)),
                                                               sizeof(TLeakHeader));
      if (!freedByOther) CollectLeaks(flags, step, leaks);
      step = "Unlock AllocatedList_Lock";
    }
    step = "Free The Memory Pages Cache";
    gPagesCache = nullptr;
    cache.reset();
    if (freedByOther && ReportMemoryLeaksOnShutdown)
      ember_detail::PlatformLeakMessage(
          "The application contains some memory leaks but it's impossible to show them because another Memory "
          "Manager has already freed them.\r\nInstall the latest version of the memory manager to see them.");
    // The handlers report through the library, which frees blocks of its own: outside the lock.
    step = "HandleAnyLeak";
    if (leaks.empty()) return;
    if (gHandlers.OnLeaksBegin) gHandlers.OnLeaksBegin();
    for (const TReportedLeak& leak : leaks)
      if (gHandlers.OnLeak) gHandlers.OnLeak(leak.Type, leak.Size, leak.Count, leak.Stack);
    if (gHandlers.OnLeaksEnd) gHandlers.OnLeaksEnd();
  } catch (...) {
    ember_detail::PlatformLeakMessage(std::string("Error in ELeaks \"") + step + "\" section.");
  }
}
