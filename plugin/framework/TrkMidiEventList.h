// MIDI events of one host block: the event, its pool and the pooled list that never allocates on
// the audio thread once it has grown.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/System.h"

// One MIDI event. status is the high nibble of the status byte (channel bits zero).
class TrkMidiEvent : public TObject {
 public:
  TrkMidiEvent() = default;
  TrkMidiEvent(uint8_t status, uint8_t channel, int32_t deltaFrames, uint8_t data1, uint8_t data2)
      : status(status), channel(channel), data1(data1), data2(data2), deltaFrames(deltaFrames) {}

  // Copies the five fields of another event.
  void Assign(const TrkMidiEvent& source);

  uint8_t status = 0;
  uint8_t channel = 0;  // 0-15
  uint8_t data1 = 0;
  uint8_t data2 = 0;
  int32_t deltaFrames = 0;  // frame offset inside the current block
};

// The pool: owned event objects whose addresses never change while they exist.
class TrkMidiEventBuffer : public TObject {
 public:
  // Growing creates zeroed events for the new slots; shrinking frees the surplus from the last.
  void SetSize(int32_t size);
  int32_t Size() const { return static_cast<int32_t>(items_.size()); }
  TrkMidiEvent* Item(int32_t i) const { return items_[static_cast<size_t>(i)].get(); }

 private:
  std::vector<std::unique_ptr<TrkMidiEvent>> items_;
};

// An ordered list of events kept in a pool. The index is a permutation of the pool: entries
// 0 .. Count − 1 are the list in order, the rest point at free slots, so deleting, adding and
// growing never lose or revive an event. The pool and the index grow in steps of 10 and never
// shrink on Clear; a steady stream of events allocates nothing once the list has reached its size.
//
// Audio thread only (the host adapter and the plug-in's block processing).
class TrkMidiEventList : public TObject {
 public:
  static constexpr int32_t kGrowth = 10;

  TrkMidiEventList() = default;

  int32_t Count() const { return count_; }
  int32_t Capacity() const { return capacity_; }
  // Resizes pool and index. Shrinking below the count drops the events from the end; the
  // survivors keep their values and order.
  void SetCapacity(int32_t capacity);

  // The event of entry i; raises EListError "Index outside of list range." unless 0 <= i < Count.
  TrkMidiEvent& GetEvent(int32_t i) const;
  TrkMidiEvent& operator[](int32_t i) const { return GetEvent(i); }

  // Append an event (growing by 10 when full); answer its entry.
  int32_t Add(uint8_t status, uint8_t channel, int32_t deltaFrames, uint8_t data1, uint8_t data2);
  int32_t AddEvent(const TrkMidiEvent& event);
  // Removes entry i, the later entries moving down one; raises EListError when out of range.
  void Delete(int32_t i);
  // Count := 0; pool and capacity stay.
  void Clear() { count_ = 0; }

  // Puts every delta frame in 0 .. frames − 1 without reordering: from the last entry to the
  // first, each is capped at the next one's frame. Frames below 1 count as 1.
  void ClampDeltaFrames(int32_t frames);
  // Events keep the order in which they were added.
  void Sort() {}

 private:
  TrkMidiEvent* NextFreeSlot();

  int32_t capacity_ = 0;
  int32_t count_ = 0;
  TrkMidiEventBuffer pool_;
  std::vector<TrkMidiEvent*> index_;
};
