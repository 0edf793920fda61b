// The host-independent plug-in base.
#include "rkPluginBase.h"

#include <cstring>

#include "TrkPluginSettings.h"

// --- TAtomicText

void TAtomicText::Set(std::string_view text) {
  char bytes[16] = {};
  std::memcpy(bytes, text.data(), text.size() < 15 ? text.size() : 15);
  uint64_t first, second;
  std::memcpy(&first, bytes, 8);
  std::memcpy(&second, bytes + 8, 8);
  // Clearing the second word first keeps a reader from pairing a new first half with an old end.
  words_[1].store(0, std::memory_order_relaxed);
  words_[0].store(first, std::memory_order_release);
  words_[1].store(second, std::memory_order_release);
}

std::string TAtomicText::Get() const {
  char bytes[17] = {};
  uint64_t first = words_[0].load(std::memory_order_acquire);
  uint64_t second = words_[1].load(std::memory_order_acquire);
  std::memcpy(bytes, &first, 8);
  std::memcpy(bytes + 8, &second, 8);
  return std::string(bytes);
}

// --- TrkPluginBase

TrkPluginBase::TrkPluginBase() {
  globals.SetIncomingEvents(&incoming);
  globals.SetOutgoingEvents(&outgoing);
  TrkPluginSettings& settings = GetSettings();
  for (int32_t i = 0; i < settings.parameterCount; ++i) {
    auto parameter = std::make_unique<TPluginPar>();
    parameter->longName = "Par " + std::to_string(i);
    parameter->shortName = parameter->longName;
    parameters.push_back(std::move(parameter));
  }
  SetNumInputs(settings.inputs);
  SetNumOutputs(settings.outputs);
}

TrkPluginBase::~TrkPluginBase() = default;

void TrkPluginBase::GetInputPinProperties(int32_t index, TPinProperties& properties) {
  properties.name = "Input " + std::to_string(index / 2);
  properties.shortName = "In " + std::to_string(index / 2);
  properties.stereo = true;
}

void TrkPluginBase::GetOutputPinProperties(int32_t index, TPinProperties& properties) {
  properties.name = "Output " + std::to_string(index / 2);
  properties.shortName = "Out " + std::to_string(index / 2);
  properties.stereo = true;
}

std::string TrkPluginBase::GetParameterDisplay(int32_t index) {
  return IsParameterIndex(index) ? parameters[index]->display.Get() : std::string();
}

const TPluginPar& TrkPluginBase::GetParameterInfo(int32_t index) const {
  if (!IsParameterIndex(index)) throw EListError("Index outside of list range.");
  return *parameters[index];
}

void TrkPluginBase::SetParameterInfo(int32_t index, const TPluginPar& record) {
  if (!IsParameterIndex(index)) throw EListError("Index outside of list range.");
  TPluginPar& parameter = *parameters[index];
  if (&parameter == &record) return;
  parameter.longName = record.longName;
  parameter.value = record.value;
  parameter.display.Set(record.display.Get());
  parameter.shortName = record.shortName;
}

void TrkPluginBase::SetNumInputs(int32_t count) {
  numInputs = count < 0 ? 0 : count;
  inputPointers.assign(numInputs, nullptr);
}

void TrkPluginBase::SetNumOutputs(int32_t count) {
  numOutputs = count < 0 ? 0 : count;
  outputPointers.assign(numOutputs, nullptr);
}

void TrkPluginBase::ProcessAudio(int32_t frames) {
  // The editor may be adding records right now; the drain holds the lock for its whole length.
  bufferedEvents.Lock();
  try {
    for (int32_t i = 0; i < bufferedEvents.Count(); ++i) ProcessBufferedEvent(*bufferedEvents.GetRecord(i));
  } catch (...) {
    bufferedEvents.Clear();
    bufferedEvents.Unlock();
    throw;
  }
  bufferedEvents.Clear();
  bufferedEvents.Unlock();
}
