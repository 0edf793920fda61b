// The GUI-to-audio list: records cross from a writer thread to a draining thread whole and in
// order, none lost.
#include "plugin/framework/TBufferedEventList.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(BufferedEventList, AddGrowsAndGetRecordChecksItsIndex) {
  TBufferedEventList list;
  EXPECT_EQ(list.Capacity(), 16);
  for (int i = 0; i < 40; ++i) list.Add(TBufferedEvent{1, i, i * 0.5f, -i, 2 * i});
  EXPECT_EQ(list.Count(), 40);
  EXPECT_GE(list.Capacity(), 40);
  for (int i = 0; i < 40; ++i) {
    const TBufferedEvent* record = list.GetRecord(i);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->index, i);
    EXPECT_EQ(record->value, i * 0.5f);
    EXPECT_EQ(record->data2, 2 * i);
  }
  EXPECT_EQ(list.GetRecord(40), nullptr);
  EXPECT_EQ(list.GetRecord(-1), nullptr);
  list.SetCapacity(10);
  EXPECT_EQ(list.Count(), 10);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.GetRecord(0), nullptr);
}

TEST(BufferedEventList, WriterAndDrainingThreadLoseNothing) {
  TBufferedEventList list;
  constexpr int kRecords = 50000;
  std::thread writer([&] {
    for (int i = 0; i < kRecords; ++i) list.Add(TBufferedEvent{7, i, 0.0f, i, -i});
  });
  std::vector<int> received;
  received.reserve(kRecords);
  while (static_cast<int>(received.size()) < kRecords) {
    list.Lock();
    for (int32_t i = 0; i < list.Count(); ++i) {
      const TBufferedEvent* record = list.GetRecord(i);
      ASSERT_EQ(record->data1, -record->data2);
      received.push_back(record->index);
    }
    list.Clear();
    list.Unlock();
    std::this_thread::yield();
  }
  writer.join();
  for (int i = 0; i < kRecords; ++i) ASSERT_EQ(received[static_cast<size_t>(i)], i);
}
