// Counts heap allocations on the audio path of the event lists: none once a list has grown to
// the stream of events it carries.
#include <gtest/gtest.h>

#include "plugin/framework/TBufferedEventList.h"
#include "plugin/framework/TGlobals.h"
#include "plugin/framework/TrkMidiEventList.h"
#include "AllocationCounter.h"

using allocation_counter::allocations;
using allocation_counter::counting;

TEST(ListAllocations, NoneInSteadyState) {
  TrkMidiEventList incoming, outgoing;
  TBufferedEventList buffered;
  TGlobals globals;
  auto block = [&](int events) {
    for (int i = 0; i < events; ++i) incoming.Add(0x90, 0, 63 - i, 60, 100);
    incoming.ClampDeltaFrames(64);
    for (int32_t i = 0; i < incoming.Count(); ++i) outgoing.AddEvent(incoming.GetEvent(i));
    if (outgoing.Count() > 2) outgoing.Delete(1);
    outgoing.Sort();
    for (int i = 0; i < events; ++i) buffered.Add(TBufferedEvent{1, i, 0.5f, 0, 0});
    buffered.Lock();
    for (int32_t i = 0; i < buffered.Count(); ++i) (void)buffered.GetRecord(i);
    buffered.Clear();
    buffered.Unlock();
    globals.SetTransport(events % 2 == 0, false, false);
    globals.SetTempo(100.0f + events);
    globals.UpdateMusicalPosition();
    incoming.Clear();
    outgoing.Clear();
  };
  block(30);  // grows every list to its size

  allocations = 0;
  counting = true;
  for (int round = 0; round < 1000; ++round) block(round % 31);
  counting = false;
  EXPECT_EQ(allocations.load(), 0);

  counting = true;
  block(50);  // beyond the grown size: the counter sees the growth
  counting = false;
  EXPECT_GT(allocations.load(), 0);
}
