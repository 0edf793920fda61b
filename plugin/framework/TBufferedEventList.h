// The GUI-to-audio list: fixed-size records handed from the GUI thread to the audio thread under
// a lock.
#pragma once

#include <cstdint>
#include <vector>

#include "classlib/SyncObjs.h"
#include "classlib/System.h"

// One 20-byte record. The plug-in defines what kind and the fields mean; the list carries them
// unchanged.
struct TBufferedEvent {
  int32_t kind = 0;
  int32_t index = 0;
  float value = 0.0f;
  int32_t data1 = 0;
  int32_t data2 = 0;
};
static_assert(sizeof(TBufferedEvent) == 20, "GUI-to-audio records are 20 bytes");

// Writers (GUI thread) call Add, which takes the lock itself. The audio thread drains under
// Lock/Unlock: GetRecord for each of Count records, then Clear. Growth happens only in Add or
// SetCapacity, never while draining, so the audio thread allocates nothing.
class TBufferedEventList : public TObject {
 public:
  static constexpr int32_t kInitialCapacity = 16;

  TBufferedEventList();

  // Any thread: appends a copy of `record` under the lock, doubling the capacity when full.
  void Add(const TBufferedEvent& record);
  // Under the lock: the record count and the address of record i (nullptr out of range).
  int32_t Count() const { return count_; }
  int32_t Capacity() const { return static_cast<int32_t>(records_.size()); }
  TBufferedEvent* GetRecord(int32_t i);
  // Under the lock: resizes the record array; a count above the new capacity is cut.
  void SetCapacity(int32_t capacity);
  // Under the lock: count := 0 (the array stays).
  void Clear() { count_ = 0; }

  // The list's critical section (recursive).
  void Lock() { lock_.Enter(); }
  void Unlock() { lock_.Leave(); }

 private:
  int32_t count_ = 0;
  std::vector<TBufferedEvent> records_;
  TCriticalSection lock_;
};
