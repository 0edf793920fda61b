// The host adapter around a test plug-in that emits MIDI: outgoing events are sent one per host
// call, events beyond a block are carried into the next ones, and incoming events arrive at
// their frames between the audio pieces.
#include "plugin/framework/rkVstAdapter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// What the fake host saw.
struct THostLog {
  std::vector<std::vector<VstMidiEvent>> sendCalls;  // one entry per audioMasterProcessEvents
  std::vector<std::string> order;                     // pieces and events as the plug-in got them
};
THostLog* hostLog = nullptr;

VstIntPtr VSTCALLBACK FakeHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void* ptr, float) {
  if (opcode == audioMasterVersion) return 2400;
  if (opcode == audioMasterProcessEvents && hostLog) {
    auto* events = static_cast<VstEvents*>(ptr);
    std::vector<VstMidiEvent> call;
    for (VstInt32 i = 0; i < events->numEvents; ++i) call.push_back(*reinterpret_cast<VstMidiEvent*>(events->events[i]));
    hostLog->sendCalls.push_back(call);
    return 1;
  }
  return 0;
}

// For each incoming note it emits a note whose delta frame is the incoming frame plus the note
// number, so a test chooses where outgoing events land.
class TEchoPlugin : public TrkPlugin {
 public:
  void ProcessMidiEvent(const TrkMidiEvent& event) override {
    if (hostLog) hostLog->order.push_back("event " + std::to_string(event.data1) + "@" + std::to_string(event.deltaFrames));
    outgoing.Add(event.status, event.channel, event.deltaFrames + event.data1, event.data1, event.data2);
  }
  void ProcessAudio(int32_t frames) override {
    if (hostLog) hostLog->order.push_back("audio " + std::to_string(frames));
    TrkPlugin::ProcessAudio(frames);
  }
};

class AdapterTest : public ::testing::Test {
 protected:
  void SetUp() override { hostLog = &log; }
  void TearDown() override { hostLog = nullptr; }

  void Send(std::vector<std::pair<int, int>> notes) {  // (frame, note number)
    std::vector<VstMidiEvent> records(notes.size());
    std::vector<VstIntPtr> block(2 + notes.size(), 0);
    auto* events = reinterpret_cast<VstEvents*>(block.data());
    events->numEvents = static_cast<VstInt32>(notes.size());
    for (size_t i = 0; i < notes.size(); ++i) {
      records[i] = VstMidiEvent{};
      records[i].type = kVstMidiType;
      records[i].byteSize = sizeof(VstMidiEvent);
      records[i].deltaFrames = notes[i].first;
      records[i].midiData[0] = static_cast<char>(0x93);
      records[i].midiData[1] = static_cast<char>(notes[i].second);
      records[i].midiData[2] = static_cast<char>(0xFF);  // data bytes are masked to 7 bits
      events->events[i] = reinterpret_cast<VstEvent*>(&records[i]);
    }
    adapter.dispatcher(effProcessEvents, 0, 0, events, 0);
  }
  void Block(int frames) {
    std::vector<float> in(frames, 0.25f), outL(frames), outR(frames);
    float* ins[2] = {in.data(), in.data()};
    float* outs[2] = {outL.data(), outR.data()};
    adapter.getAeffect()->processReplacing(adapter.getAeffect(), ins, outs, frames);
  }

  THostLog log;
  TrkVstAdapter adapter{FakeHost, std::make_unique<TEchoPlugin>()};
};

}  // namespace

TEST_F(AdapterTest, EventsArriveBetweenAudioPiecesAtTheirFrames) {
  Send({{0, 1}, {0, 2}, {10, 3}});
  Block(64);
  std::vector<std::string> expected{"event 1@0", "event 2@0", "audio 10", "event 3@10", "audio 54"};
  EXPECT_EQ(log.order, expected);
  log.order.clear();
  Block(64);  // incoming events belong to one block only
  EXPECT_EQ(log.order, std::vector<std::string>{"audio 64"});
}

TEST_F(AdapterTest, OutgoingEventsBeyondTheBlockAreCarriedOver) {
  Send({{0, 100}});  // emits at frame 100 of a 64-frame block
  Block(64);
  EXPECT_TRUE(log.sendCalls.empty());
  Block(64);
  ASSERT_EQ(log.sendCalls.size(), 1u);
  ASSERT_EQ(log.sendCalls[0].size(), 1u);
  const VstMidiEvent& sent = log.sendCalls[0][0];
  EXPECT_EQ(sent.deltaFrames, 36);
  EXPECT_EQ(sent.type, kVstMidiType);
  EXPECT_EQ(sent.byteSize, 32);
  EXPECT_EQ(static_cast<uint8_t>(sent.midiData[0]), 0x93);
  EXPECT_EQ(static_cast<uint8_t>(sent.midiData[1]), 100);
  EXPECT_EQ(static_cast<uint8_t>(sent.midiData[2]), 0x7F);
  EXPECT_EQ(sent.midiData[3], 0);
  Block(64);
  EXPECT_EQ(log.sendCalls.size(), 1u);  // sent once only
}

TEST_F(AdapterTest, AnEventAtTheBlockLengthGoesOutAtFrameZeroOfTheNext) {
  Send({{0, 64}});
  Block(64);
  EXPECT_TRUE(log.sendCalls.empty());
  Block(32);
  ASSERT_EQ(log.sendCalls.size(), 1u);
  EXPECT_EQ(log.sendCalls[0][0].deltaFrames, 0);
}

TEST_F(AdapterTest, EachOutgoingEventIsAHostCallOfItsOwn) {
  Send({{1, 1}, {2, 2}, {3, 3}});
  Block(64);
  ASSERT_EQ(log.sendCalls.size(), 3u);
  for (const auto& call : log.sendCalls) EXPECT_EQ(call.size(), 1u);
  EXPECT_EQ(log.sendCalls[0][0].deltaFrames, 2);
  EXPECT_EQ(log.sendCalls[2][0].deltaFrames, 6);
}

TEST_F(AdapterTest, ParametersAreClampedAndOutOfRangeIgnored) {
  adapter.setParameter(TrkPlugin::kRate, 1.5f);
  EXPECT_EQ(adapter.getParameter(TrkPlugin::kRate), 1.0f);
  adapter.setParameter(TrkPlugin::kRate, -0.2f);
  EXPECT_EQ(adapter.getParameter(TrkPlugin::kRate), 0.0f);
  adapter.setParameter(12, 0.5f);
  adapter.setParameter(-1, 0.5f);
  EXPECT_EQ(adapter.getParameter(12), 0.0f);
  char text[16];
  adapter.getParameterName(-1, text);
  EXPECT_STREQ(text, "");
}

TEST(AdapterParameters, ARecordSetByIndexIsWhatTheHostReads) {
  auto owned = std::make_unique<TEchoPlugin>();
  TEchoPlugin* plugin = owned.get();
  TrkVstAdapter adapter{FakeHost, std::move(owned)};
  TPluginPar record;
  record.longName = "Loop Rate";
  record.shortName = "Loop";
  record.display.Set("fast");
  plugin->SetParameterInfo(TrkPlugin::kRate, record);
  char text[16];
  adapter.getParameterName(TrkPlugin::kRate, text);
  EXPECT_STREQ(text, "Loop");
  adapter.getParameterDisplay(TrkPlugin::kRate, text);
  EXPECT_STREQ(text, "fast");
  EXPECT_EQ(plugin->GetParameterInfo(TrkPlugin::kRate).longName, "Loop Rate");
  EXPECT_THROW(plugin->SetParameterInfo(12, record), EListError);
  EXPECT_THROW(plugin->GetParameterInfo(-1), EListError);
}
