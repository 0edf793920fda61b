// Counts heap allocations on the audio thread's controller path: bound controllers moving their
// parameters through the host adapter, the host told each time, and a controller taken while
// learning, allocate nothing.
#include <gtest/gtest.h>

#include <vector>

#include "AllocationCounter.h"
#include "plugin/framework/rkVstAdapter.h"

using allocation_counter::CountAllocations;

namespace {

int automations = 0;

VstIntPtr VSTCALLBACK CountingHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
  if (opcode == audioMasterVersion) return 2400;
  if (opcode == audioMasterAutomate) ++automations;
  return 0;
}

}  // namespace

TEST(MidiControllerAllocations, NoneWhileControllersMoveParametersOrAreLearned) {
  TrkVstAdapter adapter(CountingHost);
  adapter.dispatcher(effMainsChanged, 0, 1, nullptr, 0);
  TMidiAutomation& automation = adapter.Plugin().Automation();
  automation.Map().Clear();
  automation.Map().Add(7, TrkPlugin::kMix, 0, "Mix");
  automation.Map().Add(1, TrkPlugin::kPlay, 0, "Play On/Off");
  automation.Map().Add(1, TrkPlugin::kFixed, 0, "Fixed On/Off");

  const int32_t frames = 64;
  std::vector<float> in(frames, 0.25f), outL(frames), outR(frames);
  float* ins[2] = {in.data(), in.data()};
  float* outs[2] = {outL.data(), outR.data()};
  std::vector<VstMidiEvent> records(4);
  std::vector<VstIntPtr> block(2 + records.size(), 0);
  auto* events = reinterpret_cast<VstEvents*>(block.data());
  events->numEvents = static_cast<VstInt32>(records.size());
  auto run = [&](int round) {
    const int controllers[4] = {7, 1, 9, 7};
    for (size_t i = 0; i < records.size(); ++i) {
      records[i] = VstMidiEvent{};
      records[i].type = kVstMidiType;
      records[i].byteSize = sizeof(VstMidiEvent);
      records[i].deltaFrames = static_cast<VstInt32>(i * 10);
      records[i].midiData[0] = static_cast<char>(0xB0 | (round % 16));
      records[i].midiData[1] = static_cast<char>(controllers[i]);
      records[i].midiData[2] = static_cast<char>((round * 13 + static_cast<int>(i) * 31) % 128);
      events->events[i] = reinterpret_cast<VstEvent*>(&records[i]);
    }
    adapter.dispatcher(effProcessEvents, 0, 0, events, 0);
    adapter.getAeffect()->processReplacing(adapter.getAeffect(), ins, outs, frames);
  };
  run(0);  // grows the event lists to the stream they carry

  automations = 0;
  EXPECT_EQ(CountAllocations([&] {
              for (int round = 1; round <= 500; ++round) run(round);
            }),
            0);
  EXPECT_EQ(automations, 500 * 4);

  // Learning: the controller taken on the audio thread allocates nothing either; the binding is
  // made afterwards, on the GUI side.
  automation.Learn(TrkPlugin::kRate);
  EXPECT_EQ(CountAllocations([&] { run(501); }), 0);
  EXPECT_EQ(automation.LearningParameter(), -1);
  EXPECT_TRUE(automation.CommitLearned());
  EXPECT_EQ(automation.BoundController(TrkPlugin::kRate, 0), 7);
  automation.Map().Clear();
}
