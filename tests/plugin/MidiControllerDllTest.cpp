// MIDI controllers through the real plug-in DLL in the project's host: controllers bound in the
// map file of the user's data folder move their parameters at their frames on any channel, the
// host's automation callback sees each move, and other controllers and messages move nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "HostFiles.h"
#include "MidiMapFileTest.h"
#include "classlib/Streams.h"
#include "plugin/EditorPlaces.h"
#include "tools/vsthost/VstHost.h"

namespace {

VstMidiEvent Message(VstInt32 frame, int status, int data1, int data2) {
  VstMidiEvent e{};
  e.type = kVstMidiType;
  e.byteSize = sizeof(VstMidiEvent);
  e.deltaFrames = frame;
  e.midiData[0] = static_cast<char>(status);
  e.midiData[1] = static_cast<char>(data1);
  e.midiData[2] = static_cast<char>(data2);
  return e;
}

// The first frame from `from` on where the output falls (−1) or rises (+1), or −1 when none.
int FirstTurn(const std::vector<float>& out, size_t from, int direction) {
  for (size_t i = std::max<size_t>(from, 1); i < out.size(); ++i)
    if ((out[i] - out[i - 1]) * direction > 0) return static_cast<int>(i);
  return -1;
}

using MidiControllerDll = MidiMapFileTest;

}  // namespace

TEST_F(MidiControllerDll, ControllersBoundInTheMapFileMoveTheirParametersAtTheirFramesAndTheHostIsTold) {
  WriteFileBytes(path,
                 "<root FileType=\"MidiMap\">"
                 "<MidiBinding ParameterName=\"Mix\" ParameterID=\"9\" MidiCC=\"74\" AutomationType=\"0\"/>"
                 "<MidiBinding ParameterName=\"Rate\" ParameterID=\"6\" MidiCC=\"10\" AutomationType=\"0\"/>"
                 "<MidiBinding ParameterName=\"FeedBack\" ParameterID=\"8\" MidiCC=\"11\" AutomationType=\"1\"/>"
                 "</root>");
  TVstHost host(ProductDllPath());
  host.Start(44100, 512);
  for (VstInt32 index : {kRate, kFeedBack, kInput}) host.SetParameter(index, 0.25f);
  host.SetParameter(kMix, 0.0f);  // dry only; the empty loop adds nothing

  TProcessOptions options;
  options.blockSize = 512;
  options.midi = {Message(300, 0xB0, 74, 127),   // mix to wet, channel 1
                  Message(600, 0xB5, 10, 64),    // rate, channel 6
                  Message(712, 0xB9, 74, 0),     // mix back to dry, channel 10, in the second block
                  Message(800, 0xBF, 11, 127),   // bound with automation type 1: nothing
                  Message(850, 0xB3, 12, 127),   // unbound: nothing
                  Message(900, 0x93, 74, 0)};    // a note with the controller's number: nothing
  const std::vector<std::vector<float>> input(2, std::vector<float>(1024, 0.5f));
  const std::vector<std::vector<float>> output = ProcessThrough(host, input, 44100, options);

  // The dry gain glides up until the first message and down from it; up again from the third.
  EXPECT_EQ(FirstTurn(output[0], 1, -1), 301);
  EXPECT_EQ(FirstTurn(output[0], 302, +1), 713);
  EXPECT_EQ(FirstTurn(output[1], 1, -1), 301);

  EXPECT_EQ(host.GetParameter(kMix), 0.0f);
  EXPECT_FLOAT_EQ(host.GetParameter(kRate), 64.0f / 127.0f);
  EXPECT_EQ(host.GetParameter(kFeedBack), 0.25f);
  EXPECT_EQ(host.GetParameter(kInput), 0.25f);
  EXPECT_EQ(host.ParameterDisplay(kMix), "100/0");
  const std::vector<std::pair<VstInt32, float>> told = {{kMix, 1.0f}, {kRate, 64.0f / 127.0f}, {kMix, 0.0f}};
  EXPECT_EQ(host.automated, told);
}

TEST_F(MidiControllerDll, WithoutAMapFileNoControllerMovesAnything) {
  TVstHost host(ProductDllPath());
  host.Start(44100, 512);
  std::vector<float> before;
  for (VstInt32 index = 0; index < kParameterCount; ++index) before.push_back(host.GetParameter(index));
  TProcessOptions options;
  options.blockSize = 256;
  for (int cc = 0; cc < 128; ++cc) options.midi.push_back(Message(cc * 4, 0xB0 | (cc % 16), cc, 127 - cc));
  ProcessThrough(host, {std::vector<float>(512, 0.1f)}, 44100, options);
  for (VstInt32 index = 0; index < kParameterCount; ++index)
    EXPECT_EQ(host.GetParameter(index), before[index]) << index;
  EXPECT_TRUE(host.automated.empty());
}
