// The scripted host against the test plug-in: loading, identity, processing, MIDI both ways,
// chunks, and the log of host calls.
#include "tools/vsthost/VstHost.h"

#include <gtest/gtest.h>

#include "HostFiles.h"

TEST(VstHost, LoadsThroughTheEntryAndReadsIdentity) {
  TVstHost host(TestDllPath("testgain.dll"));
  ASSERT_NE(host.Effect(), nullptr);
  ASSERT_GE(host.calls.size(), 1u);
  EXPECT_EQ(host.calls.front().opcode, audioMasterVersion);
  EXPECT_EQ(host.EffectName(), "Test Gain");
  EXPECT_EQ(host.VendorString(), "Test Vendor");
  EXPECT_EQ(host.Effect()->uniqueID, FourCharToLong('t', 'G', 'a', 'n'));
  EXPECT_EQ(host.ParameterName(0), "Gain");
  EXPECT_EQ(host.FindParameter("gain"), 0);
  EXPECT_EQ(host.FindParameter("nothing"), -1);
}

TEST(VstHost, ProcessesInBlocksAndCarriesMidiBothWays) {
  TVstHost host(TestDllPath("testgain.dll"));
  host.Start(44100, 64);
  host.SetParameter(0, 0.25f);  // gain 0.5
  std::vector<std::vector<float>> in(1, std::vector<float>(300));
  for (size_t i = 0; i < in[0].size(); ++i) in[0][i] = static_cast<float>(i) / 300.0f;
  TProcessOptions options;
  options.blockSize = 64;
  VstMidiEvent note{};
  note.type = kVstMidiType;
  note.byteSize = sizeof note;
  note.deltaFrames = 130;  // in the third block, at 2
  note.midiData[0] = static_cast<char>(0x90);
  note.midiData[1] = 60;
  options.midi.push_back(note);
  auto out = ProcessThrough(host, in, 44100, options);
  ASSERT_EQ(out.size(), 2u);
  ASSERT_EQ(out[0].size(), 300u);
  for (size_t i = 0; i < 300; ++i) {
    ASSERT_FLOAT_EQ(out[0][i], in[0][i] * 0.5f);
    ASSERT_FLOAT_EQ(out[1][i], in[0][i] * 0.5f);  // mono input feeds both plug-in inputs
  }
  ASSERT_EQ(host.receivedMidi.size(), 1u);
  EXPECT_EQ(host.receivedMidi[0].deltaFrames, 2);
  EXPECT_EQ(static_cast<unsigned char>(host.receivedMidi[0].midiData[0]), 0x90);
  EXPECT_GE(host.CountCalls(audioMasterWantMidi), 1u);
}

TEST(VstHost, ChunksTravelBetweenInstances) {
  std::string chunk;
  {
    TVstHost host(TestDllPath("testgain.dll"));
    host.SetParameter(0, 0.75f);
    chunk = host.GetChunk();
  }
  TVstHost other(TestDllPath("testgain.dll"));
  EXPECT_EQ(other.SetChunk(chunk), static_cast<VstIntPtr>(chunk.size()));
  EXPECT_FLOAT_EQ(other.GetParameter(0), 0.75f);
}

TEST(VstHost, RefusesWhatIsNoPlugin) {
  try {
    TVstHost host(TestDllPath("missing.dll"));
    FAIL();
  } catch (const EHostError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot load plug-in"), std::string::npos);
  }
  try {
    TVstHost host("kernel32.dll");
    FAIL();
  } catch (const EHostError& e) {
    EXPECT_NE(std::string(e.what()).find("exports neither VSTPluginMain nor main"), std::string::npos);
  }
}
