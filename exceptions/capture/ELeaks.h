// The leak-tracking memory manager: while tracking is on, every block the module allocates with
// new (and every class-library object, tagged as an object) carries a header with its
// allocation's call stack and a footer. Freeing checks the footer (a write past the block's
// end) and the state (a block freed twice); at the end the blocks still allocated are the
// leaks: they are filtered, grouped and handed one by one to the leak handler, which the
// exception library turns into one EMemoryLeak report.
//
// Block layout: header (304 bytes in the 32-bit module), the caller's bytes, an 8-byte footer.
// The header's last 4 bytes and the footer's first 4 hold the mark 0x100FAB10, so that a block
// allocated before tracking started (or by another allocator) is told apart and passed on
// untouched. Freed blocks are kept back for a while when frees are checked, so that a second
// free of one is reported instead of reaching the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ECallStack.h"
#include "classlib/SysUtils.h"

// A leak report and the faults found when blocks are freed.
KBL_DECLARE_EXCEPTION(EMemoryLeak, Exception);
KBL_DECLARE_EXCEPTION(EMemoryOverrun, EMemoryLeak);
KBL_DECLARE_EXCEPTION(EMultiFree, EMemoryLeak);

constexpr uint32_t LeakMark = 0x100FAB10;
constexpr int32_t LeakStackDepth = 35;
constexpr int32_t MaxReportedLeaks = 1025;

// Leak option flags (the first flag byte of the module's library data).
enum : uint8_t {
  LeakTrackingOn = 0x01,
  LeakFoldIntoObjects = 0x02,  // blocks allocated while an object was made belong to it
  LeakHideKnown = 0x04,        // known leaks of helper classes are not reported
  LeakFreeAtEnd = 0x08,        // the leaked blocks are freed after the report
  LeakCheckFrees = 0x10,       // overruns and double frees are reported when blocks are freed
};

struct TLeakHeader {
  TLeakHeader* Older;
  TLeakHeader* Newer;
  uint8_t State;  // 0 allocated, 1 freed, 2 hidden from the report (or merged into another)
  uint8_t Kind;   // 0 data, 1 object
  uint16_t Reserved;
  uint32_t Size;  // the caller's size; during the report the total of the merged leak
  uint32_t RawStack[LeakStackDepth];    // words of the allocating thread's stack
  uint32_t FrameStack[LeakStackDepth];  // return addresses of the frame-pointer chain
  uint32_t Count;                       // during the report: blocks merged into this one
  uint32_t Mark;
};
static_assert(sizeof(void*) != 4 || sizeof(TLeakHeader) == 304, "leak header layout");
constexpr size_t LeakFooterSize = 8;

// What the tracker calls. OnOverrun and OnMultiFree run inside the free that found the fault
// (they must not raise); the report calls OnLeaksBegin, OnLeak per leak and OnLeaksEnd;
// StopLeakTracking calls OnFinish last, whether tracking was on or not (nothing of the tracker
// runs for this run after it).
struct TLeakHandlers {
  void (*OnOverrun)() = nullptr;
  void (*OnMultiFree)() = nullptr;
  void (*OnLeaksBegin)() = nullptr;
  // `type` is "Data" for data blocks, else the object's class name; `stack` holds call sites,
  // unused entries 0.
  void (*OnLeak)(const std::string& type, uint32_t size, uint32_t count, const uint32_t* stack) = nullptr;
  void (*OnLeaksEnd)() = nullptr;
  void (*OnFinish)() = nullptr;
};
void SetLeakHandlers(const TLeakHandlers& handlers);

// Starts tracking with the given flags (nothing happens without LeakTrackingOn); answers
// whether tracking is on. Blocks allocated from here on are tracked.
bool StartLeakTracking(uint8_t flags);
// Ends tracking: runs the leak report and gives the blocks kept back to the heap, then calls
// OnFinish. Tracked blocks still allocated keep their header and are freed correctly later.
void StopLeakTracking();
bool IsLeakTracking();

// The allocator's operations (the module's new and delete and the class library's objects go
// through them). Every block, tracked or not, comes from the class library's memory manager
// (GetMem); untracked are the blocks made while tracking is off, those the exception library
// allocates while it processes an exception, and those a thread allocates while it holds the
// tracker's list lock (a fault inside the tracker whose handler allocates), which it then frees
// without waiting for that lock. LeakFree frees a block it did not track through FreeMem, which
// also takes blocks of the C heap.
// `callSite` is the address the allocating call returns to and `callerStack` that caller's stack
// pointer (0: the stack is read from the tracker's own frame).
void* LeakAllocate(size_t size, bool object, uintptr_t callSite = 0, uintptr_t callerStack = 0);
void LeakFree(void* block);

// The report steps over the tracked blocks (StopLeakTracking runs it); exposed for tests.
void ReportLeaks();
// The tracked blocks still allocated (visible to the report); -1 when the list is out of reach.
int32_t TrackedBlockCount();

// The list lock is a TLockWord (see there): no thread waits for ever for a holder that will not
// give it back, and the list is then given up for good and tracking ends (a list given up is
// never tracked into again). No thread waits either while the lock's holder is kept suspended,
// nor on the holder's own thread (a fault inside the tracker whose handler allocates or frees).
// Meanwhile blocks are allocated untracked, and tracked blocks that are freed stay in the list,
// marked freed, with their memory (the list may be half unlinked). A run that stops while the
// list is out of reach leaves its blocks to be cut from the list by whoever takes the lock next.
//
// Called by an exception handler before it processes an exception on the calling thread: when
// that thread holds the list lock (the exception was raised inside the tracker), the list is
// given up for good, so that no thread waits for it meanwhile. Does nothing otherwise.
void GiveUpLeakListOfThisThread() noexcept;
// True once the list was given up.
bool LeakListAbandoned();
// The id of the thread holding the list lock (LockOwnerId), 0 when none.
uint32_t LeakListLockHolder();

// A class name as the report shows it: the demangled type name without its namespaces, read
// from the live object's method table ("Unknown" when that cannot be read).
std::string LeakTypeName(const void* object);
// True when the live object's class, or one of its ancestors, is named `className` (names
// without namespaces, trimmed, compared in upper case). Reads only readable memory; false when
// the class cannot be read.
bool LeakObjectInheritsFrom(const void* object, const std::string& className);

// The report's view of memory: a range inside one 4 KB page is answered from a cache of one
// byte per page of the 32-bit address space (0 unknown, 1 readable, 2 not readable; 1 MB), each
// page asked of `base` once; a range across pages is asked of `base` every time. The report
// reads through one while it runs; exposed for tests.
class TMemoryPagesCache : public TEmberMemory {
 public:
  explicit TMemoryPagesCache(const TEmberMemory& base);  // throws std::bad_alloc
  ~TMemoryPagesCache() override;
  TMemoryPagesCache(const TMemoryPagesCache&) = delete;
  TMemoryPagesCache& operator=(const TMemoryPagesCache&) = delete;
  bool IsReadable(uint32_t address, uint32_t size) const override;
  bool Read(uint32_t address, void* buffer, uint32_t size) const override;

 private:
  const TEmberMemory& base_;
  bool direct_;     // `base` is this process's memory: readable bytes are copied as they are
  uint8_t* pages_;  // not from the tracked heap
};

namespace ember_detail {
// Tests only. Takes the list lock and keeps it with no trace of the code that took it, as a
// holder that died or left without giving it back.
void HoldLeakListLock();
// Runs `body(data)` holding the list lock as the tracker's own code holds it; answers false,
// without running it, when the lock could not be had.
bool RunHoldingLeakListLock(void (*body)(void*), void* data);
// Shows a text of the report to the user (Windows: a topmost task-modal warning box captioned
// "Error"; elsewhere standard error).
void PlatformLeakMessage(const std::string& text);
}  // namespace ember_detail
