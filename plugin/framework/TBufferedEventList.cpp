// The GUI-to-audio list.
#include "TBufferedEventList.h"

#include <algorithm>

TBufferedEventList::TBufferedEventList() : records_(kInitialCapacity) {}

void TBufferedEventList::Add(const TBufferedEvent& record) {
  TLockGuard guard(lock_);
  if (count_ == Capacity()) SetCapacity(std::max(kInitialCapacity, 2 * Capacity()));
  records_[static_cast<size_t>(count_++)] = record;
}

TBufferedEvent* TBufferedEventList::GetRecord(int32_t i) {
  if (i < 0 || i >= count_) return nullptr;
  return &records_[static_cast<size_t>(i)];
}

void TBufferedEventList::SetCapacity(int32_t capacity) {
  TLockGuard guard(lock_);
  capacity = std::max(capacity, 0);
  records_.resize(static_cast<size_t>(capacity));
  count_ = std::min(count_, capacity);
}
