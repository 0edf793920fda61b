// MIDI events and their pooled list.
#include "TrkMidiEventList.h"

#include <algorithm>

#include "classlib/SysUtils.h"

namespace {
[[noreturn]] void RaiseIndexError() { throw EListError("Index outside of list range."); }
}  // namespace

void TrkMidiEvent::Assign(const TrkMidiEvent& source) {
  status = source.status;
  channel = source.channel;
  data1 = source.data1;
  data2 = source.data2;
  deltaFrames = source.deltaFrames;
}

// --- Pool

void TrkMidiEventBuffer::SetSize(int32_t size) {
  size = std::max(size, 0);
  while (Size() > size) items_.pop_back();
  items_.reserve(static_cast<size_t>(size));
  while (Size() < size) items_.push_back(std::make_unique<TrkMidiEvent>());
}

// --- List

void TrkMidiEventList::SetCapacity(int32_t capacity) {
  capacity = std::max(capacity, 0);
  if (capacity == capacity_) return;
  if (capacity > capacity_) {
    // New slots are free: they join the index after the entries that are there, which keep
    // pointing at their own events.
    const int32_t old = capacity_;
    pool_.SetSize(capacity);
    index_.reserve(static_cast<size_t>(capacity));
    for (int32_t i = old; i < capacity; ++i) index_.push_back(pool_.Item(i));
    capacity_ = capacity;
    return;
  }
  // Shrinking frees the pool's last slots, which may hold live events: keep the survivors'
  // values, then lay them out in the first slots in list order.
  count_ = std::min(count_, capacity);
  std::vector<TrkMidiEvent> kept(static_cast<size_t>(count_));
  for (int32_t i = 0; i < count_; ++i) kept[static_cast<size_t>(i)].Assign(*index_[static_cast<size_t>(i)]);
  pool_.SetSize(capacity);
  index_.resize(static_cast<size_t>(capacity));
  for (int32_t i = 0; i < capacity; ++i) index_[static_cast<size_t>(i)] = pool_.Item(i);
  for (int32_t i = 0; i < count_; ++i) index_[static_cast<size_t>(i)]->Assign(kept[static_cast<size_t>(i)]);
  capacity_ = capacity;
}

TrkMidiEvent& TrkMidiEventList::GetEvent(int32_t i) const {
  if (i < 0 || i >= count_) RaiseIndexError();
  return *index_[static_cast<size_t>(i)];
}

TrkMidiEvent* TrkMidiEventList::NextFreeSlot() {
  if (count_ == capacity_) SetCapacity(capacity_ + kGrowth);
  return index_[static_cast<size_t>(count_)];
}

int32_t TrkMidiEventList::Add(uint8_t status, uint8_t channel, int32_t deltaFrames, uint8_t data1,
                              uint8_t data2) {
  TrkMidiEvent* slot = NextFreeSlot();
  slot->status = status;
  slot->channel = channel;
  slot->deltaFrames = deltaFrames;
  slot->data1 = data1;
  slot->data2 = data2;
  return count_++;
}

int32_t TrkMidiEventList::AddEvent(const TrkMidiEvent& event) {
  // Copy first: `event` may be one of our own entries, and growing keeps it where it is anyway.
  const TrkMidiEvent copy(event.status, event.channel, event.deltaFrames, event.data1, event.data2);
  NextFreeSlot()->Assign(copy);
  return count_++;
}

void TrkMidiEventList::Delete(int32_t i) {
  if (i < 0 || i >= count_) RaiseIndexError();
  // The freed slot goes to the first free position, so the index stays a permutation.
  TrkMidiEvent* freed = index_[static_cast<size_t>(i)];
  std::move(index_.begin() + i + 1, index_.begin() + count_, index_.begin() + i);
  --count_;
  index_[static_cast<size_t>(count_)] = freed;
}

void TrkMidiEventList::ClampDeltaFrames(int32_t frames) {
  int32_t limit = std::max(frames, 1) - 1;
  for (int32_t i = count_ - 1; i >= 0; --i) {
    TrkMidiEvent& event = *index_[static_cast<size_t>(i)];
    if (event.deltaFrames < 0) event.deltaFrames = 0;
    if (event.deltaFrames > limit) event.deltaFrames = limit;
    limit = event.deltaFrames;
  }
}
