// The delay plug-in: parameter mapping, display texts, audio pieces and the state chunk.
#include "rkPlugin.h"

#include <charconv>
#include <cmath>
#include <string>

#include "classlib/SysUtils.h"
#include "rkIniFile.h"
#include "TrkPluginSettings.h"

namespace {

const char* const kLongNames[TrkPlugin::kParameterCount] = {
    "Play On/Off", "Record On/Off", "Play Start", "Play End", "Record Start", "Record End",
    "Rate", "Input", "FeedBack", "Mix", "Fixed On/Off", "Slave On/Off"};
const char* const kShortNames[TrkPlugin::kParameterCount] = {
    "Play", "Rec", "Play Str", "Play End", "Rec Str", "Rec End", "Rate", "Input", "FeedBack", "Mix", "Fixed", "Slave"};

const char kStateSection[] = "Delay_Parameters";

// The order in which a saved state is restored. The modes come first so that the regions land in
// the mode they were saved in (a record region set while slave is still on would be ignored), and
// the switches come last so that play and record start from the restored regions.
const int32_t kRestoreOrder[TrkPlugin::kParameterCount] = {
    TrkPlugin::kSlave, TrkPlugin::kFixed, TrkPlugin::kPlayStart, TrkPlugin::kPlayEnd, TrkPlugin::kRecordStart,
    TrkPlugin::kRecordEnd, TrkPlugin::kRate, TrkPlugin::kInput, TrkPlugin::kFeedBack, TrkPlugin::kMix,
    TrkPlugin::kPlay, TrkPlugin::kRecord};

std::string StateKey(int32_t index) { return "Parameter_" + std::to_string(index); }

// The mix's display text, dry and wet percentages ("75/25"), written without allocating: the
// audio thread sets parameters from controller messages.
void SetMixDisplay(TAtomicText& display, float value) {
  char text[48];  // room for two 64-bit numbers: the text is cut when it is set
  char* end = std::to_chars(text, text + 20, Round((1.0 - value) * 100.0)).ptr;
  *end++ = '/';
  end = std::to_chars(end, end + 20, Round(static_cast<double>(value) * 100.0)).ptr;
  display.Set(std::string_view(text, static_cast<size_t>(end - text)));
}

// Status nibble of a control change message.
constexpr uint8_t kControlChange = 0xB0;

}  // namespace

TrkPlugin::TrkPlugin() {
  globals.PlayingListeners().Add(TNotifyEvent::Of<&TrkPlugin::TransportChanged>(this));
  engine = std::make_unique<T1973>(globals.SampleRate());
  globals.SampleRateListeners().Add(TNotifyEvent::Of<&TrkPlugin::SampleRateChanged>(this));
  automation = std::make_unique<TMidiAutomation>(this, TMidiAutomation::TSetParameter::Of<&TrkPlugin::SetParameter>(this));
  for (int32_t i = 0; i < kParameterCount && i < ParameterCount(); ++i) {
    parameters[i]->longName = kLongNames[i];
    parameters[i]->shortName = kShortNames[i];
  }
}

TrkPlugin::~TrkPlugin() {
  // Freed in the reverse order of creation.
  automation.reset();
  engine.reset();
}

void TrkPlugin::SetParameter(int32_t index, float value) {
  if (std::isnan(value)) value = 0.0f;
  TrkPluginBase::SetParameter(index, value);
  bool on = value >= 0.5f;
  switch (index) {
    case kPlay: engine->SetPlay(on); break;
    case kRecord: engine->SetRecord(on); break;
    case kPlayStart: engine->SetPlayStart(value); break;
    case kPlayEnd: engine->SetPlayEnd(value); break;
    case kRecordStart: engine->SetRecordStart(value); break;
    case kRecordEnd: engine->SetRecordEnd(value); break;
    case kRate: engine->SetRate(value); break;
    case kInput: engine->SetInputLevel(value); break;
    case kFeedBack: engine->SetFeedBack(value); break;
    case kMix: engine->SetMix(value); break;
    case kFixed: engine->SetFixed(on); break;
    case kSlave: engine->SetSlave(on); break;
    default: return;
  }
  if (!IsParameterIndex(index)) return;
  TAtomicText& display = parameters[index]->display;
  switch (index) {
    case kPlay: display.Set(on ? "Playing" : "----"); break;
    case kRecord: display.Set(on ? "Recording" : "----"); break;
    case kMix: SetMixDisplay(display, value); break;
    case kFixed:
    case kSlave: display.Set(on ? "On" : "Off"); break;
    default: break;
  }
}

float TrkPlugin::GetParameter(int32_t index) {
  switch (index) {
    case kPlay: return engine->Playing() ? 1.0f : 0.0f;
    case kRecord: return engine->Recording() ? 1.0f : 0.0f;
    case kPlayStart: return engine->PlayStartParam();
    case kPlayEnd: return engine->PlayEndParam();
    case kRecordStart: return engine->RecordStartView();
    case kRecordEnd: return engine->RecordEndView();
    case kRate: return engine->RateParam();
    case kInput: return engine->InputLevel();
    case kFeedBack: return engine->FeedBack();
    case kMix: return engine->MixParam();
    case kFixed: return engine->FixedParam() ? 1.0f : 0.0f;
    case kSlave: return engine->Slave() ? 1.0f : 0.0f;
    default: return 0.0f;
  }
}

void TrkPlugin::ProcessMidiEvent(const TrkMidiEvent& event) {
  if (event.status != kControlChange) return;
  uint32_t parameters = automation->ControllerMoved(event.data1);
  const float value = static_cast<float>(event.data2) / 127.0f;
  // As host automation does: the value set and the host told, so that it can record the move.
  for (int32_t index = 0; parameters != 0; ++index, parameters >>= 1) {
    if (!(parameters & 1) || !IsParameterIndex(index)) continue;
    if (OnAutomate) OnAutomate(index, value);
    else SetParameter(index, value);
  }
}

void TrkPlugin::ProcessAudio(int32_t frames) {
  TrkPluginBase::ProcessAudio(frames);
  if (frames <= 0 || inputPointers.size() < 2 || outputPointers.size() < 2) return;
  float* inLeft = inputPointers[0];
  float* inRight = inputPointers[1];
  float* outLeft = outputPointers[0];
  float* outRight = outputPointers[1];
  if (!inLeft || !inRight || !outLeft || !outRight) return;
  engine->Process(inLeft, inRight, outLeft, outRight, frames);
  for (float*& p : inputPointers) if (p) p += frames;
  for (float*& p : outputPointers) if (p) p += frames;
  blockFrames += frames;
  totalFrames += frames;
}

void TrkPlugin::LoadState(TStream& stream) {
  TrkPluginBase::LoadState(stream);
  rk::TIniFile ini;
  ini.LoadFromStream(stream);
  int32_t count = GetSettings().parameterCount;
  for (int32_t index : kRestoreOrder) {
    if (index >= count) continue;
    std::string key = StateKey(index);
    if (!ini.ValueExists(kStateSection, key)) continue;
    // A value that is not an integer is skipped; the chunk may come from anywhere.
    int32_t value = 0;
    if (!TryStrToInt(ini.ReadString(kStateSection, key, ""), value)) continue;
    OnAutomate(index, static_cast<float>(value) / 1000.0f);
  }
}

void TrkPlugin::SaveState(TStream& stream) {
  std::string text = std::string("[") + kStateSection + "]\r\n";
  for (int32_t i = 0; i < ParameterCount(); ++i)
    text += StateKey(i) + "=" + IntToStr(Round(static_cast<double>(GetParameter(i)) * 1000.0)) + "\r\n";
  stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

void TrkPlugin::SampleRateChanged(TObject*) { engine->SampleRateChanged(globals.SampleRate()); }

void TrkPlugin::TransportChanged(TObject*) {
  // When the host stops, play and record stop too; the host is not told.
  if (globals.Playing()) return;
  if (SetParameterHook) {
    SetParameterHook(kPlay, 0.0f);
    SetParameterHook(kRecord, 0.0f);
  } else {
    SetParameter(kPlay, 0.0f);
    SetParameter(kRecord, 0.0f);
  }
}
