// Records and owning lists of the exception library, the exports reader and the threads list.
#include "EmberRecords.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "detail/EDebugPlatform_p.h"
#include "detail/EPeImage.h"

void ClearStackItem(TEmberStackItem& item) { item = TEmberStackItem(); }

// --- Stack list

TEmberStackItem* TEmberStackList::NewItem() {
  auto* item = new TEmberStackItem();  // value-initialised: every byte field zero
  Add(item);
  return item;
}

void TEmberStackList::Notify(void* item, TListNotification action) {
  if (action == lnDeleted) delete static_cast<TEmberStackItem*>(item);
}

// --- Functions list

int32_t TEmberFunctionsList::AddFunction(const TEmberFunctionInfo& info) {
  // After the last entry with the same or a lower address, so equal addresses keep their order.
  int32_t index = IndexOfAddress(info.Address) + 1;
  Insert(index, new TEmberFunctionInfo(info));
  return index;
}

int32_t TEmberFunctionsList::IndexOfAddress(uint32_t address) const {
  int32_t low = 0, high = Count() - 1, found = -1;
  while (low <= high) {
    int32_t middle = low + (high - low) / 2;
    if (GetItem(middle)->Address <= address) {
      found = middle;
      low = middle + 1;
    } else {
      high = middle - 1;
    }
  }
  return found;
}

void TEmberFunctionsList::Notify(void* item, TListNotification action) {
  if (action == lnDeleted) delete static_cast<TEmberFunctionInfo*>(item);
}

bool LoadModuleFunctions(uintptr_t module, TEmberFunctionsList& list) {
  list.Clear();
  TELImageView image;
  if (!GetELModuleImage(module, image)) return false;
  ember_detail::TPeImageView pe(image.Data, image.Size);
  if (!pe.IsValid()) return false;
  const ember_detail::TPeSection* code = pe.SectionOf(pe.BaseOfCode());
  for (const ember_detail::TPeExport& entry : pe.Exports()) {
    TEmberFunctionInfo info;
    info.Name = entry.Name;
    uintptr_t address = module + entry.Address;
    bool inCode = code && entry.Address >= code->VirtualAddress &&
                  entry.Address - code->VirtualAddress < code->VirtualSize;
    if (entry.Forwarder) {
      // The export lives in another module: take what the system resolves for the name.
      address = ember_detail::PlatformProcAddress(module, entry.Name);
      if (address == 0) continue;
      inCode = false;
    }
    info.Address = static_cast<uint32_t>(address);
    info.Size = inCode ? 0 : 1;
    list.AddFunction(info);
  }
  return true;
}

// --- Modules and processes

int32_t TEmberModulesList::IndexOfHandle(uintptr_t handle) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (GetItem(i)->Handle == handle) return i;
  return -1;
}

void TEmberModulesList::Notify(void* item, TListNotification action) {
  if (action == lnDeleted) delete static_cast<TEmberModuleInfo*>(item);
}

void TEmberProcessesList::Notify(void* item, TListNotification action) {
  if (action == lnDeleted) delete static_cast<TEmberProcessInfo*>(item);
}

// --- Threads

void* AllocateCallerStack(uint32_t size) { return std::calloc(size ? size : 1, 1); }
void FreeCallerStack(void* stack) { std::free(stack); }

uint32_t EmberCurrentThreadID() { return ember_detail::PlatformCurrentThreadID(); }
bool EmberIsThreadRunning(uint32_t handle) { return ember_detail::PlatformIsThreadRunning(handle); }

namespace ember_detail {

namespace {
// How long a waiter waits before it looks whether the holders it waits for still run.
constexpr std::chrono::milliseconds kLookSlice{50};
// Holders looked at in one look (readers are the processing's threads: one or two at a time).
constexpr int32_t kLookedAtOnce = 8;
// A holder is in for a few lines: a waiter yields a few times before it sleeps.
constexpr int32_t kYields = 16;
}  // namespace

TMultiReadExclusiveWriteSynchronizer::THolder TMultiReadExclusiveWriteSynchronizer::Self() {
  return THolder{PlatformCurrentThreadID(), PlatformCurrentThreadStamp()};
}

bool TMultiReadExclusiveWriteSynchronizer::OthersRead(const THolder& self) const {
  for (const auto& [id, reader] : readers_)
    if (reader.Count > 0 && !(THolder{id, reader.Stamp} == self)) return true;
  return false;
}

void TMultiReadExclusiveWriteSynchronizer::AddReader(const THolder& self) {
  TReader& reader = readers_[self.Thread];
  // Holds of an ended thread that had the same id are not this thread's.
  if (reader.Stamp != self.Stamp) reader = TReader{self.Stamp, 0};
  ++reader.Count;
}

// Polled rather than told: a waiter killed where it waits leaves nothing that others wait on.
template <typename TFree>
void TMultiReadExclusiveWriteSynchronizer::Wait(std::unique_lock<std::mutex>& lock, const THolder& self, TFree free) {
  if (free()) return;
  auto look = std::chrono::steady_clock::now() + kLookSlice;
  for (int32_t tries = 0;; ++tries) {
    lock.unlock();
    if (tries < kYields)
      std::this_thread::yield();
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    lock.lock();
    if (free()) return;
    if (std::chrono::steady_clock::now() >= look) {
      DropEndedHolders(lock, self);
      look = std::chrono::steady_clock::now() + kLookSlice;
    }
  }
}

void TMultiReadExclusiveWriteSynchronizer::DropEndedHolders(std::unique_lock<std::mutex>& lock, const THolder& self) {
  THolder looked[kLookedAtOnce];
  int32_t count = 0;
  if (writeDepth_ > 0 && !(writer_ == self)) looked[count++] = writer_;
  for (const auto& [id, reader] : readers_) {
    if (count == kLookedAtOnce) break;
    const THolder holder{id, reader.Stamp};
    if (!(holder == self)) looked[count++] = holder;
  }
  if (count == 0) return;
  // Asked outside the lock: a look asks the system.
  bool ended[kLookedAtOnce] = {};
  lock.unlock();
  for (int32_t i = 0; i < count; ++i) ended[i] = PlatformThreadGone(looked[i].Thread, looked[i].Stamp);
  lock.lock();
  for (int32_t i = 0; i < count; ++i) {
    if (!ended[i]) continue;
    // An ended thread takes nothing after the look: what it holds now it held then.
    if (writeDepth_ > 0 && writer_ == looked[i]) {
      writer_ = THolder();
      writeDepth_ = 0;
      halfChanged_ = true;
    }
    auto reader = readers_.find(looked[i].Thread);
    if (reader != readers_.end() && reader->second.Stamp == looked[i].Stamp) readers_.erase(reader);
  }
}

bool TMultiReadExclusiveWriteSynchronizer::BeginRead() {
  const THolder self = Self();
  std::unique_lock<std::mutex> lock(mutex_);
  // After a writer that ended holding it, the next to have the lock has it alone.
  Wait(lock, self, [&] { return writeDepth_ == 0 ? !halfChanged_ || !OthersRead(self) : writer_ == self; });
  if (halfChanged_ && writeDepth_ == 0) {
    writer_ = self;
    writeDepth_ = 1;
    repairForRead_ = true;
    return true;
  }
  AddReader(self);
  return false;
}

void TMultiReadExclusiveWriteSynchronizer::EndRead() {
  const THolder self = Self();
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = readers_.find(self.Thread);
  if (it != readers_.end() && it->second.Stamp == self.Stamp && --it->second.Count <= 0) readers_.erase(it);
}

bool TMultiReadExclusiveWriteSynchronizer::BeginWrite() {
  const THolder self = Self();
  std::unique_lock<std::mutex> lock(mutex_);
  Wait(lock, self, [&] { return (writeDepth_ == 0 || writer_ == self) && !OthersRead(self); });
  writer_ = self;
  if (++writeDepth_ > 1 || !halfChanged_) return false;
  repairForRead_ = false;
  return true;
}

void TMultiReadExclusiveWriteSynchronizer::EndWrite() {
  const THolder self = Self();
  std::lock_guard<std::mutex> lock(mutex_);
  if (writeDepth_ > 0 && writer_ == self && --writeDepth_ == 0) writer_ = THolder();
}

void TMultiReadExclusiveWriteSynchronizer::Repaired() {
  const THolder self = Self();
  std::lock_guard<std::mutex> lock(mutex_);
  halfChanged_ = false;
  if (!repairForRead_) return;
  repairForRead_ = false;
  if (writeDepth_ > 0 && writer_ == self && --writeDepth_ == 0) writer_ = THolder();
  AddReader(self);
}

}  // namespace ember_detail

TEmberThreadsList::TEmberThreadsList(TEmberThreadsList* source) {
  if (!source) {
    sync_ = std::make_unique<ember_detail::TMultiReadExclusiveWriteSynchronizer>();
    return;
  }
  isCopy_ = true;
  source->BeginRead();
  try {
    for (int32_t i = 0; i < source->Count(); ++i) Add(new TEmberThreadInfo(*source->GetItem(i)));
  } catch (...) {
    source->EndRead();
    throw;
  }
  source->EndRead();
}

TEmberThreadsList::~TEmberThreadsList() { Clear(); }

TEmberThreadInfo* TEmberThreadsList::NewItem(bool add) {
  auto* item = new TEmberThreadInfo;
  item->Reserved = 0x80000000u;
  if (add) Add(item);
  return item;
}

int32_t TEmberThreadsList::IndexOfThreadID(uint32_t threadID) const {
  for (int32_t i = Count() - 1; i >= 0; --i)
    if (GetItem(i)->ThreadID == threadID) return i;
  return -1;
}

int32_t TEmberThreadsList::IndexOfHandle(uint32_t handle) const {
  for (int32_t i = Count() - 1; i >= 0; --i)
    if (GetItem(i)->Handle == handle) return i;
  return -1;
}

int32_t TEmberThreadsList::IndexOfThreadObject(const void* threadObject) const {
  for (int32_t i = Count() - 1; i >= 0; --i)
    if (GetItem(i)->ThreadObject == threadObject) return i;
  return -1;
}

void TEmberThreadsList::RemoveCurrentThread() {
  BeginWrite();
  int32_t index = IndexOfThreadID(EmberCurrentThreadID());
  if (index >= 0) Delete(index);
  EndWrite();
}

void TEmberThreadsList::RemoveDeadThreads() {
  BeginWrite();
  for (int32_t i = Count() - 1; i >= 0; --i)
    if (!EmberIsThreadRunning(GetItem(i)->Handle)) Delete(i);
  EndWrite();
}

void TEmberThreadsList::BeginRead() {
  if (sync_ && sync_->BeginRead()) Repair();
}
void TEmberThreadsList::EndRead() { if (sync_) sync_->EndRead(); }
void TEmberThreadsList::BeginWrite() {
  if (sync_ && sync_->BeginWrite()) Repair();
}
void TEmberThreadsList::EndWrite() { if (sync_) sync_->EndWrite(); }

// The ended writer may have been moving the array, or an entry or its saved stack may be half
// made or half freed: none of it is touched again. The threads it lists are missing from later
// reports; a thread of the module made since finds its entry added as before.
void TEmberThreadsList::Repair() {
  Abandon();
  sync_->Repaired();
}

void TEmberThreadsList::Notify(void* item, TListNotification action) {
  if (action != lnDeleted) return;
  auto* info = static_cast<TEmberThreadInfo*>(item);
  // A copy shares its saved stacks with the list it was made from.
  if (!isCopy_ && !info->Borrowed) FreeCallerStack(info->CallerStack);
  delete info;
}
