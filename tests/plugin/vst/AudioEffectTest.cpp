// The VST 2 layer's own answers: the C entries, the base dispatchers and the host-callback
// wrappers, seen through a minimal plug-in and a recording host callback.
#include "plugin/vst/AudioEffectX.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct TCall {
  VstInt32 opcode, index;
  VstIntPtr value;
  float opt;
};
std::vector<TCall> calls;
VstIntPtr hostAnswer = 0;

VstIntPtr VSTCALLBACK RecordingHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr value, void*, float opt) {
  calls.push_back({opcode, index, value, opt});
  return hostAnswer;
}

int liveEffects = 0;

class TMinimal : public AudioEffectX {
 public:
  TMinimal() : AudioEffectX(RecordingHost, 3, 2) { ++liveEffects; }
  ~TMinimal() override { --liveEffects; }
  void processReplacing(float**, float**, VstInt32) override {}
  void setParameter(VstInt32 index, float value) override { last = value; }
  void suspend() override { suspended = true; }
  void resume() override { resumed = true; }
  VstInt32 canDo(char* text) override { return std::strcmp(text, "receiveVstMidiEvent") == 0 ? answerMidi : -1; }
  float last = -1;
  bool suspended = false, resumed = false;
  VstInt32 answerMidi = 1;
};

class TThrowing : public TMinimal {
 public:
  float getParameter(VstInt32) override { throw std::runtime_error("boom"); }
};

class VstLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    hostAnswer = 0;
  }
};

}  // namespace

TEST_F(VstLayer, RecordDefaultsAndFlagSetters) {
  auto* effect = new TMinimal();
  AEffect* e = effect->getAeffect();
  EXPECT_EQ(e->magic, FourCharToLong('V', 's', 't', 'P'));
  EXPECT_EQ(FourCharToLong('N', 'v', 'E', 'f'), 0x4E764566);
  EXPECT_EQ(e->numInputs, 1);
  EXPECT_EQ(e->numOutputs, 2);
  EXPECT_EQ(e->flags, effFlagsCanReplacing);
  EXPECT_EQ(e->uniqueID, FourCharToLong('N', 'o', 'E', 'f'));
  EXPECT_EQ(e->ioRatio, 1.0f);
  effect->isSynth(true);
  effect->noTail(true);
  effect->programsAreChunks(true);
  effect->canProcessReplacing(false);
  EXPECT_EQ(e->flags, effFlagsIsSynth | effFlagsNoSoundInStop | effFlagsProgramChunks);
  EXPECT_EQ(e->dispatcher(e, effGetPlugCategory, 0, 0, nullptr, 0), 2);
  EXPECT_EQ(e->dispatcher(e, effClose, 0, 0, nullptr, 0), 1);
  EXPECT_EQ(liveEffects, 0);
}

TEST_F(VstLayer, DispatcherBasics) {
  TMinimal effect;
  AEffect* e = effect.getAeffect();
  e->dispatcher(e, effSetProgram, 0, 2, nullptr, 0);
  EXPECT_EQ(e->dispatcher(e, effGetProgram, 0, 0, nullptr, 0), 2);
  e->dispatcher(e, effSetProgram, 0, 3, nullptr, 0);  // equal to the program count: ignored
  EXPECT_EQ(e->dispatcher(e, effGetProgram, 0, 0, nullptr, 0), 2);
  EXPECT_EQ(e->dispatcher(e, effIdentify, 0, 0, nullptr, 0), FourCharToLong('N', 'v', 'E', 'f'));
  EXPECT_EQ(e->dispatcher(e, effKeysRequired, 0, 0, nullptr, 0), 1);
  EXPECT_EQ(e->dispatcher(e, effGetVstVersion, 0, 0, nullptr, 0), 2400);
  EXPECT_EQ(e->dispatcher(e, effGetCurrentMidiProgram, 0, 0, nullptr, 0), -1);
  EXPECT_EQ(e->dispatcher(e, effSetTotalSampleToProcess, 0, 77, nullptr, 0), 77);
  EXPECT_EQ(e->dispatcher(e, effConnectInput, 0, 1, nullptr, 0), 1);
  EXPECT_EQ(e->dispatcher(e, 80, 0, 0, nullptr, 0), 0);
  e->dispatcher(e, effMainsChanged, 0, 0, nullptr, 0);
  EXPECT_TRUE(effect.suspended);
  e->dispatcher(e, effMainsChanged, 0, 7, nullptr, 0);
  EXPECT_TRUE(effect.resumed);
  e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
  e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, -1.0f);  // ignored
  EXPECT_EQ(effect.getSampleRate(), 48000.0f);
  for (VstInt32 op : {effEditGetRect, effEditOpen, effEditClose, effEditIdle, effEditKeyDown, effEditKeyUp})
    EXPECT_EQ(e->dispatcher(e, op, 0, 0, nullptr, 0), 0) << op;
  char text[16] = "xyz";
  EXPECT_EQ(e->dispatcher(e, effGetProductString, 0, 0, text, 0), 0);
  EXPECT_STREQ(text, "");
}

TEST_F(VstLayer, NothingUnwindsIntoTheHostAndANullObjectAnswersZero) {
  TThrowing effect;
  AEffect* e = effect.getAeffect();
  EXPECT_EQ(e->getParameter(e, 0), 0.0f);
  AEffect orphan = *e;
  orphan.object = nullptr;
  EXPECT_EQ(orphan.dispatcher(&orphan, effIdentify, 0, 0, nullptr, 0), 0);
  EXPECT_EQ(orphan.getParameter(&orphan, 0), 0.0f);
  orphan.setParameter(&orphan, 0, 0.5f);
  EXPECT_EQ(effect.last, -1.0f);
}

TEST_F(VstLayer, HostCallbackWrappers) {
  TMinimal effect;
  effect.setParameterAutomated(1, 0.25f);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].opcode, audioMasterAutomate);
  EXPECT_EQ(calls[0].index, 1);
  EXPECT_EQ(calls[0].opt, 0.25f);
  EXPECT_EQ(effect.last, 0.25f);
  EXPECT_EQ(effect.getMasterVersion(), 1);  // a host answering 0 counts as version 1
  EXPECT_TRUE(effect.isInputConnected(0));
  hostAnswer = 1;
  EXPECT_FALSE(effect.isOutputConnected(0));
  EXPECT_EQ(calls.back().value, 1);
  hostAnswer = 96000;
  EXPECT_EQ(effect.updateSampleRate(), 96000.0);
  calls.clear();
  effect.AudioEffectX::resume();  // asks for MIDI because canDo("receiveVstMidiEvent") answers 1
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].opcode, audioMasterWantMidi);
  calls.clear();
  effect.answerMidi = -1;
  effect.AudioEffectX::resume();
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(effect.openFileSelector(nullptr));
}

TEST_F(VstLayer, SpeakerArrangements) {
  TMinimal effect;
  VstSpeakerArrangement* from = nullptr;
  ASSERT_TRUE(effect.allocateArrangement(&from, 2));
  EXPECT_EQ(from->numChannels, 2);
  from->type = 5;
  std::strcpy(from->speakers[1].name, "R");
  VstSpeakerArrangement* to = nullptr;
  ASSERT_TRUE(effect.matchArrangement(&to, from));
  EXPECT_EQ(to->type, 5);
  EXPECT_STREQ(to->speakers[1].name, "R");
  EXPECT_TRUE(effect.deallocateArrangement(&to));
  EXPECT_EQ(to, nullptr);
  effect.deallocateArrangement(&from);
}
