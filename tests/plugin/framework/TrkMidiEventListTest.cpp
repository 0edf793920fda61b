// The pooled MIDI event list: growth, deletion, clamping of delta frames, and a long random
// sequence of operations checked against a plain vector of events.
#include "plugin/framework/TrkMidiEventList.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "classlib/SysUtils.h"

namespace {

std::vector<int32_t> Deltas(const TrkMidiEventList& list) {
  std::vector<int32_t> deltas;
  for (int32_t i = 0; i < list.Count(); ++i) deltas.push_back(list.GetEvent(i).deltaFrames);
  return deltas;
}

}  // namespace

TEST(MidiEventList, GetEventOutsideTheCountRaises) {
  TrkMidiEventList list;
  list.Add(0x90, 1, 0, 60, 100);
  EXPECT_EQ(list.GetEvent(0).data1, 60);
  try {
    list.GetEvent(1);
    FAIL() << "no exception";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "Index outside of list range.");
  }
  EXPECT_THROW(list.GetEvent(-1), EListError);
  EXPECT_THROW(list.Delete(1), EListError);
  list.Clear();
  EXPECT_THROW(list.GetEvent(0), EListError);
}

TEST(MidiEventList, GrowsByTenKeepingTheEvents) {
  TrkMidiEventList list;
  EXPECT_EQ(list.Capacity(), 0);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(list.Add(0x80, 0, i, static_cast<uint8_t>(i), 0), i);
  EXPECT_EQ(list.Capacity(), 10);
  TrkMidiEvent eleventh(0xB0, 15, 99, 7, 127);
  EXPECT_EQ(list.AddEvent(eleventh), 10);
  EXPECT_EQ(list.Capacity(), 20);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(list.GetEvent(i).data1, i);
    EXPECT_EQ(list.GetEvent(i).deltaFrames, i);
  }
  const TrkMidiEvent& copied = list.GetEvent(10);
  EXPECT_EQ(copied.status, 0xB0);
  EXPECT_EQ(copied.channel, 15);
  EXPECT_EQ(copied.data2, 127);
  EXPECT_EQ(copied.deltaFrames, 99);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 20);
}

TEST(MidiEventList, DeleteKeepsTheOthersInOrder) {
  TrkMidiEventList list;
  list.Add(0x90, 0, 1, 10, 0);
  list.Add(0x90, 0, 2, 20, 0);
  list.Add(0x90, 0, 3, 30, 0);
  list.Delete(1);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetEvent(0).data1, 10);
  EXPECT_EQ(list.GetEvent(1).data1, 30);
}

TEST(MidiEventList, AddAfterDeleteNeitherOverwritesNorRevives) {
  TrkMidiEventList list;
  for (int i = 0; i < 5; ++i) list.Add(0x90, 0, i, static_cast<uint8_t>(i), 0);
  list.Delete(0);  // events 1 2 3 4 remain
  list.Add(0x90, 0, 50, 50, 0);
  list.Add(0x90, 0, 60, 60, 0);
  std::vector<int> seen;
  for (int32_t i = 0; i < list.Count(); ++i) seen.push_back(list.GetEvent(i).data1);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 50, 60}));
  // Distinct slots for distinct entries.
  std::set<const TrkMidiEvent*> slots;
  for (int32_t i = 0; i < list.Count(); ++i) slots.insert(&list.GetEvent(i));
  EXPECT_EQ(slots.size(), 6u);
  // Growing after deletes keeps every event where it is.
  for (int i = 0; i < 10; ++i) list.Add(0x80, 0, 0, 100, 0);
  seen.clear();
  for (int32_t i = 0; i < 6; ++i) seen.push_back(list.GetEvent(i).data1);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 50, 60}));
}

TEST(MidiEventList, ClampDeltaFramesNeverReorders) {
  TrkMidiEventList list;
  list.Add(0x90, 0, 5, 0, 0);
  list.Add(0x90, 0, 3, 0, 0);
  list.Add(0x90, 0, 70, 0, 0);
  list.ClampDeltaFrames(64);
  EXPECT_EQ(Deltas(list), (std::vector<int32_t>{3, 3, 63}));

  list.Clear();
  list.Add(0x90, 0, -4, 0, 0);
  list.Add(0x90, 0, 10, 0, 0);
  list.ClampDeltaFrames(64);
  EXPECT_EQ(Deltas(list), (std::vector<int32_t>{0, 10}));

  // An empty block leaves every event at frame 0, never at −1.
  list.ClampDeltaFrames(0);
  EXPECT_EQ(Deltas(list), (std::vector<int32_t>{0, 0}));
}

TEST(MidiEventList, ShrinkingKeepsTheFirstEvents) {
  TrkMidiEventList list;
  for (int i = 0; i < 25; ++i) list.Add(0x90, 0, i, static_cast<uint8_t>(i), 0);
  list.Delete(0);
  list.Delete(0);  // live events now sit in slots 2.. of the pool
  list.SetCapacity(5);
  ASSERT_EQ(list.Count(), 5);
  for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(list.GetEvent(i).data1, i + 2);
  list.SetCapacity(0);
  EXPECT_EQ(list.Count(), 0);
  list.Add(0x90, 0, 0, 42, 0);
  EXPECT_EQ(list.GetEvent(0).data1, 42);
}

TEST(MidiEventList, AddEventOfItsOwnEntryWhileGrowing) {
  TrkMidiEventList list;
  for (int i = 0; i < 10; ++i) list.Add(0x90, 0, i, static_cast<uint8_t>(i), 0);
  list.AddEvent(list.GetEvent(3));  // the list is full: the copy happens across the growth
  EXPECT_EQ(list.GetEvent(10).data1, 3);
}

TEST(MidiEventList, RandomOperationsMatchAPlainList) {
  std::mt19937 random(106);
  TrkMidiEventList list;
  std::vector<int> model;  // data1 + 128 × data2 identifies each event
  int next = 0;
  for (int step = 0; step < 20000; ++step) {
    const int op = std::uniform_int_distribution<int>(0, 99)(random);
    if (op < 50) {
      const int id = next++ % 16384;
      list.Add(0x90, 0, step, static_cast<uint8_t>(id % 128), static_cast<uint8_t>(id / 128));
      model.push_back(id);
    } else if (op < 55 && !model.empty()) {
      const int32_t i = std::uniform_int_distribution<int32_t>(0, static_cast<int32_t>(model.size()) - 1)(random);
      list.AddEvent(list.GetEvent(i));
      model.push_back(model[static_cast<size_t>(i)]);
    } else if (op < 90 && !model.empty()) {
      const int32_t i = std::uniform_int_distribution<int32_t>(0, static_cast<int32_t>(model.size()) - 1)(random);
      list.Delete(i);
      model.erase(model.begin() + i);
    } else if (op < 93) {
      list.Clear();
      model.clear();
    } else if (op < 95) {
      const int32_t capacity = std::uniform_int_distribution<int32_t>(0, 40)(random);
      list.SetCapacity(capacity);
      if (static_cast<int32_t>(model.size()) > capacity) model.resize(static_cast<size_t>(capacity));
    }
    ASSERT_EQ(list.Count(), static_cast<int32_t>(model.size()));
    ASSERT_LE(list.Count(), list.Capacity());
    std::set<const TrkMidiEvent*> slots;
    for (int32_t i = 0; i < list.Count(); ++i) {
      const TrkMidiEvent& event = list.GetEvent(i);
      ASSERT_EQ(event.data1 + 128 * event.data2, model[static_cast<size_t>(i)]) << "step " << step;
      slots.insert(&event);
    }
    ASSERT_EQ(slots.size(), model.size()) << "two entries share a slot at step " << step;
  }
}
