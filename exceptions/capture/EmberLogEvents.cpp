// Events of the exception library: holders, global handlers, dispatch into the exception's own
// module, and the exported entry points other modules call.
#include "EmberLogEvents.h"

#include <cstring>
#include <optional>

#include "ExceptionLog.h"
#include "exceptions/EmberSharedMemory.h"

namespace {

std::recursive_mutex& HoldersLock() {
  static std::recursive_mutex lock;
  return lock;
}

// Holders from the last registered to the first, then the global handler.
template <typename TCall>
void DispatchLocal(TCall call) {
  std::vector<TEmberLogEventHolder*> holders;
  {
    std::lock_guard<std::recursive_mutex> guard(HoldersLock());
    TEmberLogList* list = EmberLibrary().EventHolders.get();
    if (list != nullptr) {
      for (int32_t i = list->Count() - 1; i >= 0; --i) holders.push_back(list->GetItem(i));
    }
  }
  for (TEmberLogEventHolder* holder : holders) call(*holder);
  call(EmberGlobalHandlers());
}

// The other module holding the exception's address, when it carries the library.
template <typename TProc>
TProc ForeignProc(const char* name) {
  return reinterpret_cast<TProc>(GetModuleEventProc(0, name));
}

// Receiving through an export: the caller's record stands for this module's current one while
// the local handlers run; this module's options apply. The record and the options are what this
// module's own processing and send work from: the call has the library lock as an entry has it
// (after the lock's heirs: a send under way ends first), unless its thread is inside this
// library's work already (the faulting thread or the worker of a processing, a send's thread),
// whose state it is. A handler whose code the runtime ends still leaves the record and the lock
// as they were.
class TReceivedRecord final : private TThreadEndWork {
 public:
  explicit TReceivedRecord(TEmberExceptionRecord* record) {
    if (!IsInsideLibraryWork()) lock_.emplace();
    TEmberLibraryGlobals& library = EmberLibrary();
    saved_ = library.CurrentException;
    if (record != nullptr) library.CurrentException = *record;
    library.CurrentException.CurrentModuleOptions = library.CurrentOptions.get();
  }
  ~TReceivedRecord() {
    TEmberLibraryGlobals& library = EmberLibrary();
    try {
      if (library.CurrentOptions) SaveOptionsToSharedMemory(*library.CurrentOptions);
    } catch (...) {
      // publishing is best effort; the caller reloads what is there
    }
    library.CurrentException = saved_;
  }
  TReceivedRecord(const TReceivedRecord&) = delete;
  TReceivedRecord& operator=(const TReceivedRecord&) = delete;

 private:
  void Run() override {
    EmberLibrary().CurrentException = saved_;
    lock_.reset();
  }
  std::optional<TExceptionEntryLock> lock_;  // given back last
  TEmberExceptionRecord saved_;
};

bool Attached() { return EmberLibrary().LibraryOn != 0; }

// Whether a holder or the global handler of this module answers the event. A call for an event
// that none answers changes nothing: it answers before the library lock, which a send under way
// in the background holds for as long as its server takes.
template <typename TMember>
bool AnswersHere(TMember TEmberLogEventHolder::*member) noexcept {
  try {
    if (EmberGlobalHandlers().*member) return true;
    std::lock_guard<std::recursive_mutex> guard(HoldersLock());
    const TEmberLogList* list = EmberLibrary().EventHolders.get();
    if (list != nullptr)
      for (int32_t i = 0; i < list->Count(); ++i)
        if (list->GetItem(i)->*member) return true;
    return false;
  } catch (...) {
    return true;  // the call goes the whole way
  }
}

void LocalPassword(TEmberExceptionRecord* record, std::string& password) {
  DispatchLocal([&](TEmberLogEventHolder& holder) {
    if (holder.OnPasswordRequest) holder.OnPasswordRequest(record, password);
  });
  if (password.size() > EmberMaxPasswordLength) password.resize(EmberMaxPasswordLength);
}

void CopyPassword(const std::string& password, char* buffer) {
  const size_t length = password.size() < EmberMaxPasswordLength ? password.size() : EmberMaxPasswordLength;
  std::memcpy(buffer, password.data(), length);
  buffer[length] = '\0';
}

}  // namespace

// --- Holders

void RegisterEventHolder(TEmberLogEventHolder* holder) {
  std::lock_guard<std::recursive_mutex> guard(HoldersLock());
  TEmberLogList* list = EmberLibrary().EventHolders.get();
  if (list != nullptr && holder != nullptr && list->IndexOf(holder) < 0) list->Add(holder);
}

void UnregisterEventHolder(TEmberLogEventHolder* holder) {
  std::lock_guard<std::recursive_mutex> guard(HoldersLock());
  TEmberLogList* list = EmberLibrary().EventHolders.get();
  if (list != nullptr) list->Remove(holder);
}

TEmberLogEventHolder& EmberGlobalHandlers() {
  static TEmberLogEventHolder handlers;
  return handlers;
}

// --- Raising

#define KBL_EMBER_NOTIFY_EVENT(Raise, Export, Member)                                      \
  void Raise(uint8_t& continueFlag) {                                                       \
    TEmberExceptionRecord& record = EmberLibrary().CurrentException;                        \
    using TProc = void (*)(TEmberExceptionRecord*, uint8_t*);                               \
    if (auto proc = ForeignProc<TProc>(#Export)) proc(&record, &continueFlag);              \
    DispatchLocal([&](TEmberLogEventHolder& holder) {                                       \
      if (holder.Member) holder.Member(record, continueFlag);                               \
    });                                                                                     \
  }                                                                                         \
  extern "C" void Export(TEmberExceptionRecord* record, uint8_t* flag) {                    \
    if (flag == nullptr || !Attached()) return;                                             \
    if (!AnswersHere(&TEmberLogEventHolder::Member)) return;                                \
    try {                                                                                   \
      TReceivedRecord received(record);                                                     \
      uint8_t value = *flag;                                                                \
      TEmberExceptionRecord& current = EmberLibrary().CurrentException;                     \
      DispatchLocal([&](TEmberLogEventHolder& holder) {                                     \
        if (holder.Member) holder.Member(current, value);                                   \
      });                                                                                   \
      *flag = value;                                                                        \
    } catch (...) {                                                                         \
    }                                                                                       \
  }

KBL_EMBER_NOTIFY_EVENT(RaiseExceptionNotifyEvent, EmberLog_ExceptionNotifyEvent, OnExceptionNotify)
KBL_EMBER_NOTIFY_EVENT(RaiseHandledExceptionNotifyEvent, EmberLog_HandledExceptionNotifyEvent,
                       OnHandledExceptionNotify)
KBL_EMBER_NOTIFY_EVENT(RaiseCustomButtonClickEvent, EmberLog_CustomButtonClickEvent, OnCustomButtonClick)
#undef KBL_EMBER_NOTIFY_EVENT

// The action and error events hand a copy of the record to their handlers.
#define KBL_EMBER_STEP_EVENT(Raise, Export, Member)                                        \
  void Raise(int32_t number, uint8_t& flag) {                                               \
    TEmberExceptionRecord copy = EmberLibrary().CurrentException;                           \
    using TProc = void (*)(TEmberExceptionRecord*, int32_t, uint8_t*);                      \
    if (auto proc = ForeignProc<TProc>(#Export)) proc(&copy, number, &flag);                \
    DispatchLocal([&](TEmberLogEventHolder& holder) {                                       \
      if (holder.Member) holder.Member(copy, number, flag);                                 \
    });                                                                                     \
  }                                                                                         \
  extern "C" void Export(TEmberExceptionRecord* record, int32_t number, uint8_t* flag) {    \
    if (flag == nullptr || !Attached()) return;                                             \
    if (!AnswersHere(&TEmberLogEventHolder::Member)) return;                                \
    try {                                                                                   \
      TReceivedRecord received(record);                                                     \
      uint8_t value = *flag;                                                                \
      TEmberExceptionRecord copy = EmberLibrary().CurrentException;                         \
      DispatchLocal([&](TEmberLogEventHolder& holder) {                                     \
        if (holder.Member) holder.Member(copy, number, value);                              \
      });                                                                                   \
      *flag = value;                                                                        \
    } catch (...) {                                                                         \
    }                                                                                       \
  }

KBL_EMBER_STEP_EVENT(RaiseExceptionActionNotifyEvent, EmberLog_ExceptionActionNotifyEvent, OnExceptionActionNotify)
KBL_EMBER_STEP_EVENT(RaiseExceptionErrorNotifyEvent, EmberLog_ExceptionErrorNotifyEvent, OnExceptionErrorNotify)
#undef KBL_EMBER_STEP_EVENT

#define KBL_EMBER_LIST_EVENT(Raise, Export, Member)                                        \
  void Raise(TStrings& list) {                                                              \
    TEmberExceptionRecord& record = EmberLibrary().CurrentException;                        \
    using TProc = void (*)(TEmberExceptionRecord*, TStrings*);                              \
    if (auto proc = ForeignProc<TProc>(#Export)) proc(&record, &list);                      \
    DispatchLocal([&](TEmberLogEventHolder& holder) {                                       \
      if (holder.Member) holder.Member(record, list);                                       \
    });                                                                                     \
  }                                                                                         \
  extern "C" void Export(TEmberExceptionRecord* record, TStrings* list) {                   \
    if (list == nullptr || !Attached()) return;                                             \
    if (!AnswersHere(&TEmberLogEventHolder::Member)) return;                                \
    try {                                                                                   \
      TReceivedRecord received(record);                                                     \
      TEmberExceptionRecord& current = EmberLibrary().CurrentException;                     \
      DispatchLocal([&](TEmberLogEventHolder& holder) {                                     \
        if (holder.Member) holder.Member(current, *list);                                   \
      });                                                                                   \
    } catch (...) {                                                                         \
    }                                                                                       \
  }

KBL_EMBER_LIST_EVENT(RaiseCustomDataRequestEvent, EmberLog_CustomDataRequestEventEx, OnCustomDataRequest)
KBL_EMBER_LIST_EVENT(RaiseAttachedFilesRequestEvent, EmberLog_AttachedFilesRequestEvent, OnAttachedFilesRequest)
KBL_EMBER_LIST_EVENT(RaiseCustomWebFieldsRequestEvent, EmberLog_CustomWebFieldsRequestEvent,
                     OnCustomWebFieldsRequest)
#undef KBL_EMBER_LIST_EVENT

void RaisePasswordRequestEvent(std::string& password, bool withRecord) {
  TEmberExceptionRecord& record = EmberLibrary().CurrentException;
  char buffer[EmberMaxPasswordLength + 1];
  CopyPassword(password, buffer);
  if (withRecord) {
    using TProc = void (*)(TEmberExceptionRecord*, char*);
    if (auto proc = ForeignProc<TProc>("EmberLog_PasswordRequestEventEx")) {
      proc(&record, buffer);
      password = buffer;
    }
  } else {
    using TProc = void (*)(char*);
    if (auto proc = ForeignProc<TProc>("EmberLog_PasswordRequestEvent")) {
      proc(buffer);
      password = buffer;
    }
  }
  LocalPassword(withRecord ? &record : nullptr, password);
}

extern "C" void EmberLog_PasswordRequestEvent(char* password) {
  if (password == nullptr || !Attached()) return;
  try {
    std::string text(password, strnlen(password, EmberMaxPasswordLength));
    LocalPassword(nullptr, text);
    CopyPassword(text, password);
  } catch (...) {
  }
}

extern "C" void EmberLog_PasswordRequestEventEx(TEmberExceptionRecord* record, char* password) {
  if (password == nullptr || !Attached() || !AnswersHere(&TEmberLogEventHolder::OnPasswordRequest)) return;
  try {
    TReceivedRecord received(record);
    std::string text(password, strnlen(password, EmberMaxPasswordLength));
    LocalPassword(&EmberLibrary().CurrentException, text);
    CopyPassword(text, password);
  } catch (...) {
  }
}

// --- Other exports

extern "C" uint8_t EmberLog_LastDorvelException() { return ThreadVars().LastRaisedByRuntime; }

extern "C" uint8_t EmberLog_ExceptionManager(const std::exception* object, uintptr_t address, uint8_t displayMode,
                                             uintptr_t module) {
  return ExceptionManager(object, address, displayMode, module);
}

extern "C" void EmberLog_CallCreateThread(const TEmberThreadInfo* info) {
  TEmberLibraryGlobals& library = EmberLibrary();
  if (info == nullptr || library.LibraryOn == 0 || !library.ThreadsList) return;
  try {
    TEmberThreadsList& threads = *library.ThreadsList;
    threads.RemoveDeadThreads();
    threads.BeginWrite();
    TEmberThreadInfo* entry = threads.NewItem(true);
    *entry = *info;
    // The saved stack stays the caller's; this list only borrows it.
    entry->Borrowed = 1;
    threads.EndWrite();
  } catch (...) {
  }
}

extern "C" void EmberLog_CallResumeThread(uint32_t handle, const TEmberThreadInfo* info) {
  TEmberLibraryGlobals& library = EmberLibrary();
  if (info == nullptr || library.LibraryOn == 0 || !library.ThreadsList || ThreadVars().InFreeze != 0) return;
  try {
    TEmberThreadsList& threads = *library.ThreadsList;
    threads.BeginWrite();
    int32_t index = threads.IndexOfHandle(handle);
    if (index >= 0) {
      TEmberThreadInfo* entry = threads.GetItem(index);
      if (entry->CallerStack != nullptr && entry->Borrowed == 0) FreeCallerStack(entry->CallerStack);
      *entry = *info;
      entry->Borrowed = 1;
    }
    threads.EndWrite();
  } catch (...) {
  }
}

extern "C" void EmberLog_CallExitThread() {
  TEmberLibraryGlobals& library = EmberLibrary();
  if (library.LibraryOn == 0 || !library.ThreadsList) return;
  try {
    library.ThreadsList->RemoveCurrentThread();
  } catch (...) {
  }
}

extern "C" void EmberLog_CallGeneralRaise(uint32_t code, uint32_t flags, uint32_t argumentCount,
                                          uint32_t stackPointer, const uintptr_t* arguments) {
  if (!Attached()) return;
  try {
    TEmberThreadVars& vars = ThreadVars();
    vars.RaiseStackPointer = stackPointer;
    const std::exception* object = nullptr;
    uintptr_t address = 0;
    if (code == EmberRuntimeRaiseCode && flags == 1 && argumentCount == 7 && arguments != nullptr) {
      address = arguments[0];
      object = reinterpret_cast<const std::exception*>(arguments[1]);
    }
    // Bookkeeping only: the raising module already notified.
    vars.RaiseAddress = address;
    vars.ExceptionClassName.Assign(ExceptionClassName(object));
  } catch (...) {
  }
}
