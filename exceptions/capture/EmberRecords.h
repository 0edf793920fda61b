// Records and lists the exception library passes around: the exception record, call-stack
// entries, loaded modules with their exports, processes and the known threads.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "EDebug.h"
#include "classlib/Classes.h"
#include "exceptions/EmberModuleOptions.h"

class TEmberModulesList;
class TEmberStackList;
class TEmberFunctionsList;
struct TEmberModuleInfo;

// --- Fixed-size strings

#pragma pack(push, 1)
// A length byte and up to N characters; longer texts are cut.
template <int N>
struct TEmberShortString {
  uint8_t Length = 0;
  char Chars[N] = {};

  void Assign(const std::string& text) {
    Length = static_cast<uint8_t>(text.size() < static_cast<size_t>(N) ? text.size() : N);
    std::memcpy(Chars, text.data(), Length);
  }
  std::string Str() const { return std::string(Chars, Length <= N ? Length : N); }
  bool Empty() const { return Length == 0; }
};

// One call-stack entry; its layout is fixed (1,121 bytes in the 32-bit module) because modules
// that carry the library hand stacks to each other.
struct TEmberStackItem {
  uint8_t Kind;                 // 0 nothing known, 1 module, 2 procedure, 3 unit, 4 line known
  TEmberModuleInfo* ModuleInfo;
  uint32_t ThreadID;
  uint8_t RunningThread;        // 1 for stacks of other running threads
  uint8_t IsFirst;              // 1 for the exception address itself
  uint8_t IsLeak;
  TEmberShortString<64> LeakType;
  uint32_t LeakSize;
  uint32_t LeakCount;
  uint32_t Address;             // the call site
  TEmberShortString<255> UnitName;
  TEmberShortString<255> ClassName;
  TEmberShortString<255> ProcedureName;
  uint32_t Line;                // 0 when unknown
  uint32_t LineOffset;
  TEmberShortString<255> Extra;  // shown after the block's caption when not empty
};
#pragma pack(pop)

static_assert(sizeof(void*) != 4 || sizeof(TEmberStackItem) == 1121, "stack entry layout");

// Clears every field.
void ClearStackItem(TEmberStackItem& item);

// --- Exception record

// One exception as the events see it. The record points at what its maker owns.
struct TEmberExceptionRecord {
  const std::exception* ExceptionObject = nullptr;
  uintptr_t ExceptionAddress = 0;
  uint32_t ExceptionThreadID = 0;    // the main thread for a freeze
  void* ExceptionRecord = nullptr;   // the system's 80-byte exception record, or nullptr
  void* ExceptionContext = nullptr;  // the faulting thread's CONTEXT, or nullptr
  std::string LogText;
  TEmberModulesList* ModulesList = nullptr;
  TEmberStackList* CallStack = nullptr;
  TEmberModuleOptionsEx* CurrentModuleOptions = nullptr;
};

// The extra arguments of one notification.
struct TExceptNotifyParams {
  uint8_t Handled = 0;
  void* Context = nullptr;
  void* ExceptionRecord = nullptr;
  TEmberStackList* CallStack = nullptr;  // prebuilt stack or nullptr
  uint32_t StackTop = 0;
  uint32_t StackPointer = 0;
  uint32_t ThreadID = 0;
  std::string ActiveControlClass;
  std::string ActiveControlText;         // "*" for each character of a password edit
  uintptr_t FocusWindow = 0;             // the focused window and the cursor, for the screenshot
  uintptr_t Cursor = 0;
};

// --- Stack list

// Owns its entries: deleting one frees it.
class TEmberStackList : public TList {
 public:
  ~TEmberStackList() override { Clear(); }
  TEmberStackItem* GetItem(int32_t index) const { return static_cast<TEmberStackItem*>(Get(index)); }
  // A cleared entry, appended.
  TEmberStackItem* NewItem();

 protected:
  void Notify(void* item, TListNotification action) override;
};

// --- Functions of a module

struct TEmberFunctionInfo {
  std::string Name;
  uint32_t Address = 0;
  uint32_t Size = 0;  // 1 outside the module's code; 0 inside until measured from the code
};

// A module's exports, owned, kept sorted by address.
class TEmberFunctionsList : public TList {
 public:
  ~TEmberFunctionsList() override { Clear(); }
  TEmberFunctionInfo* GetItem(int32_t index) const { return static_cast<TEmberFunctionInfo*>(Get(index)); }
  // Adds a copy at its place in address order.
  int32_t AddFunction(const TEmberFunctionInfo& info);
  // The last function whose address is at or below `address`; -1 when none is.
  int32_t IndexOfAddress(uint32_t address) const;

 protected:
  void Notify(void* item, TListNotification action) override;
};

// Reads the exported names of `module` from its mapped image into `list` (cleared first):
// absolute addresses; a forwarder's address is the one the system resolves for its name (the
// entry is left out when it cannot be resolved). False when the image cannot be read.
bool LoadModuleFunctions(uintptr_t module, TEmberFunctionsList& list);

// --- Modules

// One loaded module. Freeing the entry frees its functions, options, debug data and source.
struct TEmberModuleInfo {
  uintptr_t Handle = 0;
  std::string FileName, Description, Version;
  uint32_t Size = 0;
  std::unique_ptr<TEmberFunctionsList> Functions = std::make_unique<TEmberFunctionsList>();
  uint8_t Kind = 0;  // 0 headers unreadable (or made during a refresh), 1 program, 2 package, 3 DLL
  uint16_t LibraryVersion = EmberLibraryVersion;
  double BuildDate = 0;
  std::unique_ptr<TEmberModuleOptionsEx> Options;
  std::unique_ptr<TMemoryStream> DebugData;  // nullptr without library data or during a refresh
  std::unique_ptr<TELDebugInfoSource> DebugInfo;
  double FileDate = 0;
  std::string Password;
  uint8_t Decipher = 1;
  // Set when the library data says its names are enciphered (see the library data reader).
  uint8_t Enciphered = 0;
};

class TEmberModulesList : public TList {
 public:
  ~TEmberModulesList() override { Clear(); }
  TEmberModuleInfo* GetItem(int32_t index) const { return static_cast<TEmberModuleInfo*>(Get(index)); }
  // -1 when no entry has this handle.
  int32_t IndexOfHandle(uintptr_t handle) const;

 protected:
  void Notify(void* item, TListNotification action) override;
};

// --- Processes

struct TEmberProcessInfo {
  uint32_t ID = 0;
  std::string Path, Description, Version;
  uint32_t Memory = 0;
  uint32_t Priority = 0;
  uint32_t Threads = 0;
};

class TEmberProcessesList : public TList {
 public:
  ~TEmberProcessesList() override { Clear(); }
  TEmberProcessInfo* GetItem(int32_t index) const { return static_cast<TEmberProcessInfo*>(Get(index)); }

 protected:
  void Notify(void* item, TListNotification action) override;
};

// --- Threads

struct TEmberThreadInfo {
  uint32_t ThreadID = 0;
  uint32_t Handle = 0;           // from CreateThread (a duplicate for the main thread)
  uint32_t CallerThreadID = 0;   // the thread that created or last resumed it
  uint32_t Reserved = 0;
  void* ThreadObject = nullptr;  // the class-library thread object, when there is one
  uint32_t StackTop = 0;
  std::string ThreadClass;
  void* StartAddress = nullptr;
  void* WrapperStart = nullptr;
  void* Parameter = nullptr;
  uint32_t CallerStackSize = 0;
  void* CallerStack = nullptr;   // AllocateCallerStack; owned unless Borrowed
  uint8_t Borrowed = 0;
};

// Saved stacks of thread entries are allocated and freed only through these.
void* AllocateCallerStack(uint32_t size);
void FreeCallerStack(void* stack);

namespace ember_detail {
// Many readers or one writer; the writer may take the lock again and may also read, a reader
// that is the only reader may start writing. A thread that ended holding it (killed) holds it no
// longer once a waiter has looked at it, a slice into its wait: a reader's hold is dropped; a
// writer's leaves what it guards half changed, and the next thread to have the lock has it alone
// and is told so (Begin* answers true) until it calls Repaired, which leaves it holding what it
// asked for.
class TMultiReadExclusiveWriteSynchronizer {
 public:
  bool BeginRead();
  void EndRead();
  bool BeginWrite();
  void EndWrite();
  void Repaired();

 private:
  // A thread by its id and its stamp: a later thread given the same id is another holder.
  struct THolder {
    uint32_t Thread = 0;
    uint64_t Stamp = 0;
    bool operator==(const THolder& other) const { return Thread == other.Thread && Stamp == other.Stamp; }
  };
  struct TReader {
    uint64_t Stamp = 0;
    int32_t Count = 0;
  };
  static THolder Self();
  bool OthersRead(const THolder& self) const;
  void AddReader(const THolder& self);
  // Waits until `free` answers true, looking at the holders once a slice.
  template <typename TFree>
  void Wait(std::unique_lock<std::mutex>& lock, const THolder& self, TFree free);
  void DropEndedHolders(std::unique_lock<std::mutex>& lock, const THolder& self);
  std::mutex mutex_;
  std::map<uint32_t, TReader> readers_;
  THolder writer_;
  int32_t writeDepth_ = 0;
  bool halfChanged_ = false;  // its last writer ended holding it
  bool repairForRead_ = false;
};
}  // namespace ember_detail

// The threads the library knows. Shared between threads: every change takes the write lock
// (the index searches and GetItem expect the caller to hold the read lock).
class TEmberThreadsList : public TList {
 public:
  // Without a source an empty list with its own synchroniser; with one, a copy made under the
  // source's read lock whose entries share the saved stacks and which frees none of them.
  explicit TEmberThreadsList(TEmberThreadsList* source = nullptr);
  ~TEmberThreadsList() override;

  bool IsCopy() const { return isCopy_; }
  TEmberThreadInfo* GetItem(int32_t index) const { return static_cast<TEmberThreadInfo*>(Get(index)); }
  // A zeroed entry with Reserved = 0x80000000; appended when `add`, else owned by the caller.
  TEmberThreadInfo* NewItem(bool add);
  // Searched from the last entry; -1 when absent.
  int32_t IndexOfThreadID(uint32_t threadID) const;
  int32_t IndexOfHandle(uint32_t handle) const;
  int32_t IndexOfThreadObject(const void* threadObject) const;
  // Deletes the calling thread's entry, under the write lock.
  void RemoveCurrentThread();
  // Deletes every entry whose thread no longer runs, under the write lock.
  void RemoveDeadThreads();

  // No-ops on a copy. A thread that ended holding the write lock (killed) may have left the list
  // half changed: the next to have the lock leaves its entries as they are, never freed, and
  // finds it empty.
  void BeginRead();
  void EndRead();
  void BeginWrite();
  void EndWrite();

 protected:
  void Notify(void* item, TListNotification action) override;

 private:
  void Repair();
  std::unique_ptr<ember_detail::TMultiReadExclusiveWriteSynchronizer> sync_;
  bool isCopy_ = false;
};

// The calling thread's ID as the system numbers threads.
uint32_t EmberCurrentThreadID();
// False once the thread behind `handle` has ended (true when that cannot be told).
bool EmberIsThreadRunning(uint32_t handle);
