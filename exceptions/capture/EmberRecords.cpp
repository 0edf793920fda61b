// Records and owning lists of the exception library, the exports reader and the threads list.
#include "EmberRecords.h"

#include <algorithm>
#include <cstdlib>

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

bool TMultiReadExclusiveWriteSynchronizer::OthersRead(std::thread::id self) const {
  for (const auto& [id, count] : readers_)
    if (id != self && count > 0) return true;
  return false;
}

void TMultiReadExclusiveWriteSynchronizer::BeginRead() {
  std::unique_lock<std::mutex> lock(mutex_);
  std::thread::id self = std::this_thread::get_id();
  changed_.wait(lock, [&] { return writeDepth_ == 0 || writer_ == self; });
  ++readers_[self];
}

void TMultiReadExclusiveWriteSynchronizer::EndRead() {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = readers_.find(std::this_thread::get_id());
  if (it != readers_.end() && --it->second <= 0) readers_.erase(it);
  changed_.notify_all();
}

void TMultiReadExclusiveWriteSynchronizer::BeginWrite() {
  std::unique_lock<std::mutex> lock(mutex_);
  std::thread::id self = std::this_thread::get_id();
  changed_.wait(lock, [&] { return (writeDepth_ == 0 || writer_ == self) && !OthersRead(self); });
  writer_ = self;
  ++writeDepth_;
}

void TMultiReadExclusiveWriteSynchronizer::EndWrite() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (writeDepth_ > 0 && --writeDepth_ == 0) writer_ = std::thread::id();
  changed_.notify_all();
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

void TEmberThreadsList::BeginRead() { if (sync_) sync_->BeginRead(); }
void TEmberThreadsList::EndRead() { if (sync_) sync_->EndRead(); }
void TEmberThreadsList::BeginWrite() { if (sync_) sync_->BeginWrite(); }
void TEmberThreadsList::EndWrite() { if (sync_) sync_->EndWrite(); }

void TEmberThreadsList::Notify(void* item, TListNotification action) {
  if (action != lnDeleted) return;
  auto* info = static_cast<TEmberThreadInfo*>(item);
  // A copy shares its saved stacks with the list it was made from.
  if (!isCopy_ && !info->Borrowed) FreeCallerStack(info->CallerStack);
  delete info;
}
