// MIDI controllers through the host adapter: bound controllers move their parameters at their
// frame in the block and tell the host, learning takes the next controller, and instances share
// their bindings but learn on their own.
#include "plugin/framework/rkVstAdapter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// What the fake host was told through audioMasterAutomate.
std::vector<std::pair<VstInt32, float>>* automated = nullptr;

VstIntPtr VSTCALLBACK FakeHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void*, float opt) {
  if (opcode == audioMasterVersion) return 2400;
  if (opcode == audioMasterAutomate && automated) automated->emplace_back(index, opt);
  return 0;
}

// Logs each audio piece with the mix and rate in force while it runs.
class TLoggingPlugin : public TrkPlugin {
 public:
  void ProcessAudio(int32_t frames) override {
    pieces.push_back(std::to_string(frames) + " mix " + std::to_string(GetParameter(kMix)));
    TrkPlugin::ProcessAudio(frames);
  }
  std::vector<std::string> pieces;
};

struct TEvent {
  int32_t frame;
  int status, data1, data2;
};

// One instance of the delay behind the adapter, fed MIDI and blocks as a host does.
class TInstance {
 public:
  TInstance() : adapter(FakeHost, std::make_unique<TLoggingPlugin>()) {
    adapter.dispatcher(effMainsChanged, 0, 1, nullptr, 0);
  }
  TLoggingPlugin& Plugin() { return static_cast<TLoggingPlugin&>(adapter.Plugin()); }
  TMidiAutomation& Automation() { return adapter.Plugin().Automation(); }

  // A block of `frames` with the events at their frames.
  void Block(int32_t frames, const std::vector<TEvent>& events = {}) {
    std::vector<VstMidiEvent> records(events.size());
    std::vector<VstIntPtr> block(2 + events.size(), 0);
    auto* list = reinterpret_cast<VstEvents*>(block.data());
    list->numEvents = static_cast<VstInt32>(events.size());
    for (size_t i = 0; i < events.size(); ++i) {
      records[i] = VstMidiEvent{};
      records[i].type = kVstMidiType;
      records[i].byteSize = sizeof(VstMidiEvent);
      records[i].deltaFrames = events[i].frame;
      records[i].midiData[0] = static_cast<char>(events[i].status);
      records[i].midiData[1] = static_cast<char>(events[i].data1);
      records[i].midiData[2] = static_cast<char>(events[i].data2);
      list->events[i] = reinterpret_cast<VstEvent*>(&records[i]);
    }
    if (!events.empty()) adapter.dispatcher(effProcessEvents, 0, 0, list, 0);
    std::vector<float> in(frames, 0.25f), outL(frames), outR(frames);
    float* ins[2] = {in.data(), in.data()};
    float* outs[2] = {outL.data(), outR.data()};
    adapter.getAeffect()->processReplacing(adapter.getAeffect(), ins, outs, frames);
  }
  // One control change alone at frame 0.
  void Controller(int data1, int data2, int channel = 0) { Block(16, {{0, 0xB0 | channel, data1, data2}}); }
  float Get(int32_t index) { return adapter.getParameter(index); }

  TrkVstAdapter adapter;
};

constexpr float Cc(int data2) { return static_cast<float>(data2) / 127.0f; }

// Every test starts and ends with an empty shared map, which the last instance then saves: the
// map file of the user's data folder holds no test's bindings afterwards.
class MidiControllers : public ::testing::Test {
 protected:
  void SetUp() override {
    automated = &calls;
    first.Automation().Map().Clear();
  }
  void TearDown() override {
    first.Automation().Map().Clear();
    automated = nullptr;
  }

  std::vector<std::pair<VstInt32, float>> calls;
  TInstance first;
};

}  // namespace

TEST_F(MidiControllers, ABoundControllerMovesItsParameterAtItsFrameOnAnyChannelAndTellsTheHost) {
  first.Automation().Map().Add(74, TrkPlugin::kMix, 0, "Mix");
  first.adapter.setParameter(TrkPlugin::kMix, 0.5f);
  first.Plugin().pieces.clear();
  first.Block(64, {{10, 0xB0, 74, 127},   // channel 1
                   {30, 0xB9, 74, 0},     // channel 10
                   {40, 0xB0, 75, 127},   // unbound controller
                   {50, 0x90, 74, 127}});  // a note, not a controller
  const std::vector<std::string> expected = {"10 mix 0.500000", "20 mix 1.000000", "10 mix 0.000000",
                                             "10 mix 0.000000", "14 mix 0.000000"};
  EXPECT_EQ(first.Plugin().pieces, expected);
  const std::vector<std::pair<VstInt32, float>> told = {{TrkPlugin::kMix, 1.0f}, {TrkPlugin::kMix, 0.0f}};
  EXPECT_EQ(calls, told);
  char display[64] = {};
  first.adapter.getParameterDisplay(TrkPlugin::kMix, display);
  EXPECT_STREQ(display, "100/0");
}

TEST_F(MidiControllers, OneControllerDrivesEveryParameterBoundToItWithTypeZero) {
  TMidiMap& map = first.Automation().Map();
  map.Add(20, TrkPlugin::kRate, 0, "Rate");
  map.Add(20, TrkPlugin::kFeedBack, 0, "FeedBack");
  map.Add(21, TrkPlugin::kInput, 1, "Input");     // type 1 drives nothing
  map.Add(22, 31, 0, "Beyond the parameters");    // addressable, but no parameter of the plug-in
  map.Add(23, 40, 0, "Beyond the table");
  map.Add(255, TrkPlugin::kMix, 0, "No controller");
  for (int32_t index : {TrkPlugin::kRate, TrkPlugin::kFeedBack, TrkPlugin::kInput, TrkPlugin::kMix})
    first.adapter.setParameter(index, 0.25f);
  first.Controller(20, 100);
  for (int cc : {21, 22, 23, 127}) first.Controller(cc, 0);
  EXPECT_FLOAT_EQ(first.Get(TrkPlugin::kRate), Cc(100));
  EXPECT_FLOAT_EQ(first.Get(TrkPlugin::kFeedBack), Cc(100));
  EXPECT_FLOAT_EQ(first.Get(TrkPlugin::kInput), 0.25f);
  EXPECT_FLOAT_EQ(first.Get(TrkPlugin::kMix), 0.25f);
  EXPECT_EQ(calls.size(), 2u);
  // The table follows every change of the map.
  map.Delete(map.FindBinding(TrkPlugin::kRate, 0));
  first.Controller(20, 0);
  EXPECT_FLOAT_EQ(first.Get(TrkPlugin::kRate), Cc(100));
  EXPECT_FLOAT_EQ(first.Get(TrkPlugin::kFeedBack), 0.0f);
  EXPECT_EQ(map.ControlledParameters(20), 1u << TrkPlugin::kFeedBack);
}

TEST_F(MidiControllers, LearningTakesTheNextControllerWhichActsAtOnceAndBecomesABindingOnTheGuiSide) {
  TMidiAutomation& automation = first.Automation();
  automation.Map().Add(40, TrkPlugin::kMix, 0, "Mix");
  automation.Learn(TrkPlugin::kMix);
  EXPECT_EQ(automation.LearningParameter(), TrkPlugin::kMix);
  first.Controller(123, 0);  // all notes off, as hosts send it: not taken
  EXPECT_EQ(automation.LearningParameter(), TrkPlugin::kMix);
  first.Controller(41, 64, 3);
  EXPECT_EQ(automation.LearningParameter(), -1);
  EXPECT_FLOAT_EQ(first.Get(TrkPlugin::kMix), Cc(64));
  // Before the GUI side has made the binding the pair acts as made: the old controller is gone.
  EXPECT_EQ(automation.BoundController(TrkPlugin::kMix, 0), 40);
  first.Controller(40, 0);
  EXPECT_FLOAT_EQ(first.Get(TrkPlugin::kMix), Cc(64));
  EXPECT_TRUE(automation.CommitLearned());
  EXPECT_FALSE(automation.CommitLearned());
  ASSERT_EQ(automation.Map().Count(), 1);
  const TMidiBinding& made = automation.Map().GetBinding(0);
  EXPECT_EQ(made.MidiCC, 41);
  EXPECT_EQ(made.ParameterID, TrkPlugin::kMix);
  EXPECT_EQ(made.ParameterName, "Mix");
  EXPECT_EQ(made.AutomationType, 0);
  first.Controller(41, 127);
  EXPECT_FLOAT_EQ(first.Get(TrkPlugin::kMix), 1.0f);

  // Learning the rate on the same controller takes it from the mix.
  automation.Learn(TrkPlugin::kRate);
  first.Controller(41, 10);
  automation.CommitLearned();
  EXPECT_EQ(automation.BoundController(TrkPlugin::kMix, 0), -1);
  EXPECT_EQ(automation.BoundController(TrkPlugin::kRate, 0), 41);
  EXPECT_FLOAT_EQ(first.Get(TrkPlugin::kMix), 1.0f);

  // Learning ended before a controller arrives binds nothing.
  automation.Learn(TrkPlugin::kInput);
  automation.EndLearning();
  first.Controller(42, 10);
  EXPECT_FALSE(automation.CommitLearned());
  EXPECT_EQ(automation.BoundController(TrkPlugin::kInput, 0), -1);
  automation.Learn(99);
  EXPECT_EQ(automation.LearningParameter(), -1);
}

TEST_F(MidiControllers, InstancesShareBindingsButLearnOnTheirOwnAndAClosingInstanceKeepsWhatItLearned) {
  auto second = std::make_unique<TInstance>();
  first.Automation().Learn(TrkPlugin::kMix);
  second->adapter.setParameter(TrkPlugin::kMix, 0.25f);
  second->Controller(50, 127);
  EXPECT_FLOAT_EQ(second->Get(TrkPlugin::kMix), 0.25f);
  EXPECT_EQ(first.Automation().LearningParameter(), TrkPlugin::kMix);
  first.Controller(50, 127);
  second->Controller(50, 127);
  EXPECT_FLOAT_EQ(second->Get(TrkPlugin::kMix), 0.25f);  // not yet a binding of the map
  first.Automation().CommitLearned();
  second->Controller(50, 127);
  EXPECT_FLOAT_EQ(second->Get(TrkPlugin::kMix), 1.0f);

  second->Automation().Learn(TrkPlugin::kRate);
  second->Controller(51, 0);
  second.reset();
  EXPECT_EQ(first.Automation().BoundController(TrkPlugin::kRate, 0), 51);
  first.Controller(51, 127);
  EXPECT_FLOAT_EQ(first.Get(TrkPlugin::kRate), 1.0f);
}
