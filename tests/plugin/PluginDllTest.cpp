// The real plug-in DLL in a scripted host: what the host sees of the record, parameters, texts,
// chunks, MIDI-split processing, transport and the life cycle.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "HostFiles.h"
#include "MidiMapFileTest.h"
#include "classlib/Streams.h"
#include "plugin/ProcessCounts.h"
#include "tools/vsthost/VstHost.h"

namespace {

std::unique_ptr<TVstHost> LoadPlugin() {
  auto host = std::make_unique<TVstHost>(ProductDllPath());
  host->Start(44100, 512);
  return host;
}

std::string PinText(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

// Runs `frames` of a deterministic stereo signal through the plug-in in one block.
std::vector<std::vector<float>> RunBlock(TVstHost& host, int frames, int offset = 0) {
  std::vector<std::vector<float>> in(2, std::vector<float>(frames)), out(2, std::vector<float>(frames, 9.0f));
  for (int i = 0; i < frames; ++i) {
    in[0][i] = static_cast<float>(std::sin(0.05 * (i + offset)));
    in[1][i] = static_cast<float>(std::cos(0.03 * (i + offset)));
  }
  float* ins[2] = {in[0].data(), in[1].data()};
  float* outs[2] = {out[0].data(), out[1].data()};
  host.ProcessReplacing(ins, outs, frames);
  return out;
}

}  // namespace

TEST(PluginDll, RecordDescribesTheProduct) {
  auto host = LoadPlugin();
  AEffect* e = host->Effect();
  EXPECT_EQ(e->magic, FourCharToLong('V', 's', 't', 'P'));
  EXPECT_EQ(e->numPrograms, 12);
  EXPECT_EQ(e->numParams, 12);
  EXPECT_EQ(e->numInputs, 2);
  EXPECT_EQ(e->numOutputs, 2);
  EXPECT_EQ(e->flags & (effFlagsHasEditor | effFlagsCanReplacing | effFlagsProgramChunks),
            effFlagsHasEditor | effFlagsCanReplacing | effFlagsProgramChunks);
  EXPECT_EQ(e->uniqueID, FourCharToLong('q', 'z', '3', '7'));
  EXPECT_EQ(e->version, 1);
  EXPECT_EQ(host->Dispatch(effIdentify), FourCharToLong('N', 'v', 'E', 'f'));
  EXPECT_EQ(host->Dispatch(effKeysRequired), 1);
  EXPECT_EQ(host->Dispatch(effGetVstVersion), 2400);
  EXPECT_EQ(host->VendorString(), "Pellwright");
  EXPECT_EQ(host->ProductString(), "Tarvik");
  EXPECT_EQ(host->CanDo("receiveVstEvents"), 1);
  EXPECT_EQ(host->CanDo("receiveVstMidiEvent"), 1);
  EXPECT_EQ(host->CanDo("receiveVstTimeInfo"), 1);
  EXPECT_EQ(host->CanDo("sendVstEvents"), -1);
  EXPECT_EQ(host->CanDo("bypass"), -1);
  EXPECT_EQ(host->CanDo("Bypass"), -1);
  EXPECT_EQ(host->Dispatch(effSetBypass, 0, 1), 0);

  host->Dispatch(effSetProgram, 0, 12);
  EXPECT_EQ(host->Dispatch(effGetProgram), 0);
  char name[64] = {};
  host->Dispatch(effGetProgramName, 0, 0, name);
  EXPECT_STREQ(name, "Default");

  VstPinProperties pin;
  std::memset(&pin, 0x55, sizeof pin);
  EXPECT_EQ(host->Dispatch(effGetInputProperties, 1, 0, &pin), 1);
  EXPECT_EQ(PinText(pin.label, 64), "Input 0");
  EXPECT_EQ(PinText(pin.shortLabel, 8), "In 0");
  EXPECT_EQ(pin.flags, kVstPinIsActive | kVstPinIsStereo);
  EXPECT_EQ(host->Dispatch(effGetOutputProperties, 2, 0, &pin), 1);
  EXPECT_EQ(PinText(pin.label, 64), "Output 1");

  ERect* rect = nullptr;
  EXPECT_EQ(host->Dispatch(effEditGetRect, 0, 0, &rect), 1);
  ASSERT_NE(rect, nullptr);
  EXPECT_EQ(rect->right - rect->left, 450);
  EXPECT_EQ(rect->bottom - rect->top, 495);
}

TEST(PluginDll, ParameterNamesTextsAndClamping) {
  auto host = LoadPlugin();
  const char* names[12] = {"Play", "Rec", "Play Str", "Play End", "Rec Str", "Rec End",
                           "Rate", "Input", "FeedBack", "Mix", "Fixed", "Slave"};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(host->ParameterName(i), names[i]) << i;
  EXPECT_EQ(host->ParameterName(12), "");
  EXPECT_EQ(host->ParameterName(-1), "");

  host->SetParameter(0, 1.0f);
  EXPECT_EQ(host->ParameterDisplay(0), "Playing");
  host->SetParameter(0, 0.49f);
  EXPECT_EQ(host->ParameterDisplay(0), "----");
  EXPECT_EQ(host->GetParameter(0), 0.0f);
  host->SetParameter(0, 0.5f);
  EXPECT_EQ(host->GetParameter(0), 1.0f);
  host->SetParameter(1, 1.0f);
  EXPECT_EQ(host->ParameterDisplay(1), "Recordin");  // texts reach the host cut to 8 characters
  host->SetParameter(9, 0.25f);
  EXPECT_EQ(host->ParameterDisplay(9), "75/25");
  host->SetParameter(10, 1.0f);
  EXPECT_EQ(host->ParameterDisplay(10), "On");
  host->SetParameter(11, 0.0f);
  EXPECT_EQ(host->ParameterDisplay(11), "Off");
  EXPECT_EQ(host->ParameterDisplay(6), "");

  host->SetParameter(9, 1.5f);
  EXPECT_EQ(host->GetParameter(9), 1.0f);
  host->SetParameter(9, -0.2f);
  EXPECT_EQ(host->GetParameter(9), 0.0f);
  host->SetParameter(8, 0.7f);
  host->SetParameter(8, std::nanf(""));
  EXPECT_EQ(host->GetParameter(8), 0.0f);
  host->SetParameter(40, 0.3f);  // ignored
  EXPECT_EQ(host->GetParameter(40), 0.0f);
}

TEST(PluginDll, ChunkRoundTripRestoresEveryParameter) {
  const float values[12] = {1, 0, 0.1f, 0.8f, 0.2f, 0.4f, 0.3f, 0.9f, 0.6f, 0.35f, 1, 0};
  std::string chunk;
  {
    auto host = LoadPlugin();
    host->SetParameter(11, values[11]);
    host->SetParameter(10, values[10]);
    for (int i = 0; i < 10; ++i) host->SetParameter(i, values[i]);
    chunk = host->GetChunk();
  }
  EXPECT_EQ(chunk.rfind("[Delay_Parameters]\r\nParameter_0=1000\r\n", 0), 0u) << chunk;
  auto fresh = LoadPlugin();
  EXPECT_EQ(fresh->SetChunk(chunk), static_cast<VstIntPtr>(chunk.size()));
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(fresh->GetParameter(i), values[i], 0.001f) << i;
  // Every restored parameter is reported to the host.
  EXPECT_EQ(fresh->automated.size(), 12u);
}

TEST(PluginDll, ChunkWithOneKeyOrBadValuesChangesOnlyWhatItCan) {
  auto host = LoadPlugin();
  float before[12];
  for (int i = 0; i < 12; ++i) before[i] = host->GetParameter(i);
  host->SetChunk("[Delay_Parameters]\r\nParameter_6=500\r\n");
  EXPECT_NEAR(host->GetParameter(6), 0.5f, 1e-6);
  ASSERT_EQ(host->automated.size(), 1u);
  EXPECT_EQ(host->automated[0].first, 6);
  EXPECT_NEAR(host->automated[0].second, 0.5f, 1e-6);
  for (int i = 0; i < 12; ++i) {
    if (i != 6) EXPECT_EQ(host->GetParameter(i), before[i]) << i;
  }

  host->automated.clear();
  host->SetChunk("[Delay_Parameters]\nParameter_8=abc\nParameter_9=1500\n[Other]\nParameter_7=100\n");
  EXPECT_EQ(host->GetParameter(8), before[8]);
  EXPECT_EQ(host->GetParameter(9), 1.0f);
  ASSERT_EQ(host->automated.size(), 1u);
  EXPECT_EQ(host->automated[0].second, 1.0f);  // the value applied, not the one asked for

  host->automated.clear();
  host->SetChunk("no section at all");
  EXPECT_TRUE(host->automated.empty());
}

TEST(PluginDll, SavedRecordRegionSurvivesReloadOutsideSlaveMode) {
  std::string chunk;
  {
    auto host = LoadPlugin();
    host->SetParameter(11, 0.0f);
    host->SetParameter(4, 0.2f);
    host->SetParameter(5, 0.4f);
    chunk = host->GetChunk();
  }
  auto fresh = LoadPlugin();
  fresh->SetChunk(chunk);
  EXPECT_EQ(fresh->GetParameter(11), 0.0f);
  EXPECT_NEAR(fresh->GetParameter(4), 0.2f, 0.001f);
  EXPECT_NEAR(fresh->GetParameter(5), 0.4f, 0.001f);
}

TEST(PluginDll, BlockSplitAtMidiEventsSoundsLikeTheWholeBlock) {
  auto split = LoadPlugin();
  auto whole = LoadPlugin();
  for (TVstHost* h : {split.get(), whole.get()}) {
    h->timeInfoAvailable = false;
    h->SetParameter(1, 1.0f);
    h->SetParameter(0, 1.0f);
    h->SetParameter(9, 0.5f);
  }
  for (int block = 0; block < 20; ++block) {
    std::vector<VstMidiEvent> events(3);
    int frames[3] = {0, 0, 10};
    for (int k = 0; k < 3; ++k) {
      events[k] = VstMidiEvent{};
      events[k].type = kVstMidiType;
      events[k].byteSize = sizeof(VstMidiEvent);
      events[k].deltaFrames = frames[k];
      events[k].midiData[0] = static_cast<char>(0xB0);
      events[k].midiData[1] = static_cast<char>(k);
    }
    split->SendMidi(events);
    auto a = RunBlock(*split, 64, block * 64);
    auto b = RunBlock(*whole, 64, block * 64);
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < 64; ++i) ASSERT_EQ(a[c][i], b[c][i]) << "block " << block << " channel " << c << " frame " << i;
  }
}

TEST(PluginDll, TransportStopSwitchesPlayAndRecordOffQuietly) {
  auto host = LoadPlugin();
  host->timeInfo.flags = kVstTransportChanged | kVstTransportPlaying | kVstTempoValid;
  RunBlock(*host, 32);
  host->SetParameter(0, 1.0f);
  host->SetParameter(1, 1.0f);
  host->timeInfo.flags = kVstTempoValid | kVstTransportPlaying;
  RunBlock(*host, 32);
  EXPECT_EQ(host->GetParameter(0), 1.0f);
  host->automated.clear();
  host->timeInfo.flags = kVstTransportChanged;  // stopped; no time signature given (0/0)
  host->timeInfo.timeSigNumerator = 0;
  host->timeInfo.timeSigDenominator = 0;
  auto out = RunBlock(*host, 32);
  EXPECT_EQ(host->GetParameter(0), 0.0f);
  EXPECT_EQ(host->GetParameter(1), 0.0f);
  EXPECT_TRUE(host->automated.empty());
  for (float v : out[0]) ASSERT_TRUE(std::isfinite(v));
}

TEST(PluginDll, HostVersionZeroGivesNoPlugin) {
  try {
    TVstHost host(ProductDllPath(), 0);
    FAIL() << "a plug-in was created for a host of version 0";
  } catch (const EHostError& e) {
    EXPECT_NE(std::string(e.what()).find("answered no plug-in"), std::string::npos);
  }
}

TEST(PluginDll, CloseFreesEverything) {
  auto usage = [] { return static_cast<double>(TProcessCounts::CommittedPrivateBytes()); };
  HMODULE keep = LoadLibraryA(ProductDllPath().c_str());  // measure instances, not module loads
  { auto warm = LoadPlugin(); RunBlock(*warm, 256); }
  double before = usage();
  for (int i = 0; i < 100; ++i) {
    auto host = LoadPlugin();
    RunBlock(*host, 256);
    host->GetChunk();
  }
  double grown = usage() - before;
  FreeLibrary(keep);
  // One instance holds about 0.7 MB of loop buffer; a leaked instance per cycle would be 70 MB.
  EXPECT_LT(grown, 8.0 * 1024 * 1024);
}

TEST(PluginDll, EditorOpensInsideTheHostWindowAndCloses) {
  auto host = LoadPlugin();
  HWND parent = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 600, 600, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(host->Dispatch(effEditOpen, 0, 0, parent), 1);
  HWND child = GetWindow(parent, GW_CHILD);
  ASSERT_NE(child, nullptr);
  RECT area;
  GetClientRect(child, &area);
  EXPECT_EQ(area.right, 450);
  EXPECT_EQ(area.bottom, 494);
  EXPECT_EQ(host->Dispatch(effEditOpen, 0, 0, parent), 1);  // already open
  EXPECT_EQ(GetWindow(child, GW_HWNDNEXT), nullptr);        // no second form
  host->Dispatch(effEditIdle);
  host->Dispatch(effEditClose);
  EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
  DestroyWindow(parent);
}

// --- The MIDI controller map in the user's data folder

namespace {

const char kSeededMap[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root FileType=\"MidiMap\">\n"
    "<MidiBinding ParameterName=\"Rate &amp; Pitch \xC3\xA4\" ParameterID=\"6\" MidiCC=\"300\" AutomationType=\"2\"/>\n"
    "<MidiBinding ParameterName=\"Mix\" ParameterID=\"x\" MidiCC=\"7\" AutomationType=\"1\"/>\n"
    "<MidiBinding ParameterName=\"NoType\" ParameterID=\"1\" MidiCC=\"5\"/>\n"
    "</root>\n";

// What the plug-in writes for kSeededMap: indented UTF-8 with CR LF, odd values normalised and the
// binding without an AutomationType dropped.
const char kWrittenMap[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root FileType=\"MidiMap\">\r\n"
    "  <MidiBinding ParameterName=\"Rate &amp; Pitch \xC3\xA4\" ParameterID=\"6\" MidiCC=\"44\" AutomationType=\"0\"/>\r\n"
    "  <MidiBinding ParameterName=\"Mix\" ParameterID=\"-1\" MidiCC=\"7\" AutomationType=\"1\"/>\r\n"
    "</root>\r\n";

using MidiMapFile = MidiMapFileTest;

}  // namespace

TEST_F(MidiMapFile, FirstInstanceReadsItAndTheLastCloseWritesItBack) {
  WriteFileBytes(path, kSeededMap);
  {
    auto first = LoadPlugin();
    // The second instance shares the map the first one read: it does not read the file again.
    WriteFileBytes(path, "<root FileType=\"MidiMap\"><MidiBinding ParameterName=\"Other\" ParameterID=\"2\" "
                         "MidiCC=\"9\" AutomationType=\"1\"/></root>");
    auto second = LoadPlugin();
  }
  EXPECT_EQ(ReadFileBytes(path), kWrittenMap);
  EXPECT_FALSE(FileExists(path + ".tmp"));
}

TEST_F(MidiMapFile, UnreadableMapsLeaveThePluginWorkingAndTheFileAlone) {
  for (const char* content : {"<root FileType=\"midimap\"/>", "", "<root FileType=\"MidiMap\"><Midi"}) {
    WriteFileBytes(path, content);
    {
      auto host = LoadPlugin();
      ASSERT_NE(host->Effect(), nullptr);
      host->SetParameter(6, 0.25f);
      EXPECT_NEAR(host->GetParameter(6), 0.25f, 1e-6);
    }
    EXPECT_EQ(ReadFileBytes(path), content) << content;
  }
}
