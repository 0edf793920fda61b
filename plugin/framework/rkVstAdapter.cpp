// The host adapter and the editor object.
#include "rkVstAdapter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "classlib/Classes.h"
#include "classlib/MemoryManager.h"
#include "classlib/SysUtils.h"
#include "TrkPluginSettings.h"

namespace {

// The record's processReplacing entry points at one of these, chosen by the settings.
void VSTCALLBACK ProcessReplacingWholeBlock(AEffect* effect, float** inputs, float** outputs, VstInt32 frames) {
  auto* adapter = effect ? static_cast<TrkVstAdapter*>(static_cast<AudioEffect*>(effect->object)) : nullptr;
  if (!adapter) return;
  try {
    adapter->ProcessWholeBlock(inputs, outputs, frames);
  } catch (...) {
    HandOverCaughtException(0);
  }
}

void VSTCALLBACK ProcessReplacingSplitAtEvents(AEffect* effect, float** inputs, float** outputs, VstInt32 frames) {
  auto* adapter = effect ? static_cast<TrkVstAdapter*>(static_cast<AudioEffect*>(effect->object)) : nullptr;
  if (!adapter) return;
  try {
    adapter->ProcessSplitAtEvents(inputs, outputs, frames);
  } catch (...) {
    HandOverCaughtException(0);
  }
}

// Host parameters are 0..1; anything else is pulled into range, NaN counts as 0.
float ClampParameter(float value) {
  if (std::isnan(value) || value < 0.0f) return 0.0f;
  return value > 1.0f ? 1.0f : value;
}

}  // namespace

// --- TrkVstAdapter

TrkVstAdapter::TrkVstAdapter(audioMasterCallback audioMaster)
    : TrkVstAdapter(audioMaster, std::make_unique<TrkPlugin>()) {}

TrkVstAdapter::TrkVstAdapter(audioMasterCallback audioMaster, std::unique_ptr<TrkPlugin> ownPlugin)
    : AudioEffectX(audioMaster, GetSettings().programCount, GetSettings().parameterCount),
      plugin(std::move(ownPlugin)) {
  TrkPluginSettings& settings = GetSettings();
  setEditor(settings.noEditor ? nullptr : new TVstEditor(this, plugin.get()));

  plugin->OnNumInputsChanged = TMethod<int32_t(int32_t)>::Of<&TrkVstAdapter::SetNumInputsHandler>(this);
  plugin->OnNumOutputsChanged = TMethod<int32_t(int32_t)>::Of<&TrkVstAdapter::SetNumOutputsHandler>(this);
  plugin->SetParameterHook = TMethod<void(int32_t, float)>::Of<&TrkVstAdapter::SetParameterHandler>(this);
  plugin->OnAutomate = TMethod<void(int32_t, float)>::Of<&TrkVstAdapter::AutomateHandler>(this);
  plugin->editHolder.OnBeginEdit = TMethod<bool(int32_t)>::Of<&TrkVstAdapter::BeginEditHandler>(this);
  plugin->editHolder.OnEndEdit = TMethod<bool(int32_t)>::Of<&TrkVstAdapter::EndEditHandler>(this);
  plugin->OnEditorResize = TMethod<void(int32_t, int32_t, bool&)>::Of<&TrkVstAdapter::SizeWindowHandler>(this);

  isSynth(settings.synth);
  setNumInputs(settings.inputs);
  setNumOutputs(settings.outputs);
  hasVu(false);
  canProcessReplacing(true);
  const std::string& id = settings.uniqueId;
  setUniqueID(FourCharToLong(id.size() > 0 ? id[0] : ' ', id.size() > 1 ? id[1] : ' ', id.size() > 2 ? id[2] : ' ',
                             id.size() > 3 ? id[3] : ' '));
  programsAreChunks(settings.programsAreChunks);

  // Outgoing events are sent one per host call; keep room so the audio thread rarely grows it.
  outgoingRecords.reserve(256);
  if (settings.processMode == 1)
    cEffect.processReplacing = ProcessReplacingWholeBlock;
  else if (settings.processMode == 0 || settings.processMode == 2)
    cEffect.processReplacing = ProcessReplacingSplitAtEvents;

  suspend();
  plugin->AfterAdapterCreated();
  initialised = true;
}

TrkVstAdapter::~TrkVstAdapter() {
  outgoingRecords.clear();
  // The editor refers to the plug-in: it goes first.
  AEffEditor* ownEditor = editor;
  setEditor(nullptr);
  delete ownEditor;
}

void TrkVstAdapter::suspend() {
  AudioEffectX::suspend();
  plugin->Suspend();
}

void TrkVstAdapter::resume() {
  AudioEffectX::resume();
  TGlobals& globals = plugin->globals;
  if (blockSize != globals.BlockSize()) globals.SetBlockSize(blockSize);
  int32_t rate = static_cast<int32_t>(Round(sampleRate));
  if (rate != globals.SampleRate()) globals.SetSampleRate(rate);
  wantEvents(1);
  chunk.Clear();
  plugin->Resume();
}

void TrkVstAdapter::setParameter(VstInt32 index, float value) {
  if (!plugin->IsParameterIndex(index)) return;
  plugin->SetParameter(index, ClampParameter(value));
}

void TrkVstAdapter::setParameterAutomated(VstInt32 index, float value) {
  AudioEffectX::setParameterAutomated(index, ClampParameter(value));
}

float TrkVstAdapter::getParameter(VstInt32 index) {
  return plugin->IsParameterIndex(index) ? plugin->GetParameter(index) : 0.0f;
}

void TrkVstAdapter::setProgramName(char* name) {
  if (name) plugin->SetProgramName(std::string(name, strnlen(name, 24)));
}

void TrkVstAdapter::getProgramName(char* name) { CopyHostText(name, plugin->programName, 24); }

void TrkVstAdapter::getParameterLabel(VstInt32 index, char* label) {
  CopyHostText(label, plugin->IsParameterIndex(index) ? plugin->parameterInfo.GetLabel(index) : "", 8);
}

void TrkVstAdapter::getParameterDisplay(VstInt32 index, char* text) {
  CopyHostText(text, plugin->IsParameterIndex(index) ? plugin->GetParameterDisplay(index) : "", 8);
}

void TrkVstAdapter::getParameterName(VstInt32 index, char* text) {
  CopyHostText(text, plugin->IsParameterIndex(index) ? plugin->GetParameterInfo(index).shortName : "", 8);
}

VstInt32 TrkVstAdapter::getChunk(void** data, bool) {
  if (!data) return 0;
  chunk.Clear();
  plugin->SaveState(chunk);
  *data = chunk.Memory();
  return static_cast<VstInt32>(chunk.GetSize());
}

VstInt32 TrkVstAdapter::setChunk(void* data, VstInt32 byteSize, bool) {
  chunk.Clear();
  if (data && byteSize > 0) chunk.WriteBuffer(data, byteSize);
  chunk.SetPosition(0);
  try {
    plugin->LoadState(chunk);
  } catch (...) {
    chunk.Clear();
    throw;
  }
  chunk.Clear();
  return byteSize;
}

void TrkVstAdapter::process(float** inputs, float** outputs, VstInt32 sampleFrames) {
  ProcessSplitAtEvents(inputs, outputs, sampleFrames);
}

bool TrkVstAdapter::getProgramNameIndexed(VstInt32, VstInt32, char* text) {
  CopyHostText(text, plugin->programName, 24);
  return true;
}

void TrkVstAdapter::FillPinProperties(const TPinProperties& pin, VstPinProperties* properties) {
  // The fields are 64 and 8 bytes: the texts leave room for the terminator.
  CopyHostText(properties->label, pin.name, sizeof properties->label - 1);
  CopyHostText(properties->shortLabel, pin.shortName, sizeof properties->shortLabel - 1);
  properties->flags = pin.stereo ? (kVstPinIsActive | kVstPinIsStereo) : kVstPinIsActive;
}

bool TrkVstAdapter::getInputProperties(VstInt32 index, VstPinProperties* properties) {
  if (!properties) return false;
  TPinProperties pin;
  plugin->GetInputPinProperties(index, pin);
  FillPinProperties(pin, properties);
  return true;
}

bool TrkVstAdapter::getOutputProperties(VstInt32 index, VstPinProperties* properties) {
  if (!properties) return false;
  TPinProperties pin;
  plugin->GetOutputPinProperties(index, pin);
  FillPinProperties(pin, properties);
  return true;
}

bool TrkVstAdapter::setBypass(bool onOff) {
  bool allowed = GetSettings().bypassAllowed;
  if (allowed) plugin->SetBypass(onOff);
  return allowed;
}

VstInt32 TrkVstAdapter::processEvents(VstEvents* events) {
  if (!events) return 0;
  if (events->numEvents > 0) plugin->ProcessVstEvents(events);
  plugin->incoming.Clear();
  ConvertVstEvents(events, plugin->incoming);
  return 0;
}

bool TrkVstAdapter::getVendorString(char* text) {
  CopyHostText(text, GetSettings().vendor, 64);
  return true;
}

bool TrkVstAdapter::getProductString(char* text) {
  CopyHostText(text, GetSettings().name, 64);
  return true;
}

VstInt32 TrkVstAdapter::canDo(char* text) {
  if (!text) return -1;
  TrkPluginSettings& settings = GetSettings();
  std::string query(text);
  if (query == "receiveVstEvents" || query == "receiveVstMidiEvent") return settings.midiIn ? 1 : -1;
  if (query == "sendVstEvents" || query == "sendVstMidiEvent") return settings.midiOut ? 1 : -1;
  if (query == "receiveVstTimeInfo") return 1;
  if (query == "bypass") return settings.bypassAllowed ? 1 : -1;
  return -1;
}

VstInt32 TrkVstAdapter::getPlugCategory() { return GetSettings().category; }

// --- Notification handlers

int32_t TrkVstAdapter::SetNumInputsHandler(int32_t count) {
  setNumInputs(count);
  ioChanged();
  return cEffect.numInputs;
}

int32_t TrkVstAdapter::SetNumOutputsHandler(int32_t count) {
  setNumOutputs(count);
  ioChanged();
  return cEffect.numOutputs;
}

void TrkVstAdapter::SizeWindowHandler(int32_t width, int32_t height, bool& result) {
  result = sizeWindow(width, height);
}

// --- Audio blocks

void TrkVstAdapter::PrepareBlock(float** inputs, float** outputs, VstInt32 frames) {
  TrkPluginSettings& settings = GetSettings();
  for (size_t c = 0; c < plugin->inputPointers.size(); ++c)
    plugin->inputPointers[c] = inputs && static_cast<VstInt32>(c) < cEffect.numInputs ? inputs[c] : nullptr;
  for (size_t c = 0; c < plugin->outputPointers.size(); ++c) {
    float* channel = outputs && static_cast<VstInt32>(c) < cEffect.numOutputs ? outputs[c] : nullptr;
    if (settings.synth && channel && frames > 0) std::fill(channel, channel + frames, 0.0f);
    plugin->outputPointers[c] = channel;
  }
  plugin->outgoing.Clear();
  VstTimeInfo* info = getTimeInfo(0x7FFF);
  plugin->globals.SetTimeInfo(info);
  ApplyTimeInfo(getTimeInfo(0x7FFF));
}

void TrkVstAdapter::ApplyTimeInfo(const VstTimeInfo* info) {
  if (!info) return;
  TGlobals& globals = plugin->globals;
  VstInt32 flags = info->flags;
  if ((flags & kVstTempoValid) && static_cast<float>(info->tempo) != globals.Tempo())
    globals.SetTempo(static_cast<float>(info->tempo));
  if (flags & kVstPpqPosValid) globals.SetPpqPos(info->ppqPos);
  if (flags & kVstBarsValid) globals.SetBarStartPos(info->barStartPos);
  if (flags & kVstClockValid) globals.SetSamplesToNextClock(info->samplesToNextClock);
  if (flags & kVstTransportChanged) {
    bool playing = (flags & kVstTransportPlaying) != 0;
    plugin->SetHostPlaying(playing);
    globals.SetTransport(playing, (flags & kVstTransportCycleActive) != 0, (flags & kVstTransportRecording) != 0);
  }
  // Hosts that leave the time signature unset send 0/0: keep the one in force.
  if ((flags & kVstTimeSigValid) && info->timeSigNumerator > 0 && info->timeSigDenominator > 0)
    globals.SetTimeSignature(info->timeSigNumerator, info->timeSigDenominator);
  globals.UpdateMusicalPosition();
}

void TrkVstAdapter::ProcessWholeBlock(float** inputs, float** outputs, VstInt32 frames) {
  PrepareBlock(inputs, outputs, frames);
  if (frames > 0) plugin->ProcessAudio(frames);
  plugin->EndBlock(frames);
  CarryOverEvents(frames);
  if (plugin->outgoing.Count() > 0) {
    plugin->outgoing.Sort();
    SendOutputEvents();
  }
  plugin->incoming.Clear();
}

void TrkVstAdapter::ProcessSplitAtEvents(float** inputs, float** outputs, VstInt32 frames) {
  PrepareBlock(inputs, outputs, frames);
  TrkMidiEventList& incoming = plugin->incoming;
  if (incoming.Count() > 0) incoming.ClampDeltaFrames(frames);
  VstInt32 done = 0;
  int32_t next = 0;
  while (done < frames) {
    VstInt32 boundary = next < incoming.Count() ? incoming.GetEvent(next).deltaFrames : frames;
    if (boundary - done > 0) {
      plugin->ProcessAudio(boundary - done);
      done = boundary;
    } else {
      plugin->ProcessMidiEvent(incoming.GetEvent(next));
      ++next;
    }
  }
  plugin->EndBlock(frames);
  incoming.Clear();
  CarryOverEvents(frames);
  if (plugin->outgoing.Count() > 0) {
    plugin->outgoing.Sort();
    SendOutputEvents();
  }
}

void TrkVstAdapter::CarryOverEvents(VstInt32 frames) {
  TrkMidiEventList& outgoing = plugin->outgoing;
  for (int32_t i = pendingEvents.Count() - 1; i >= 0; --i) {
    TrkMidiEvent& event = pendingEvents.GetEvent(i);
    if (frames > event.deltaFrames) {
      outgoing.AddEvent(event);
      pendingEvents.Delete(i);
    } else {
      event.deltaFrames -= frames;
    }
  }
  for (int32_t i = outgoing.Count() - 1; i >= 0; --i) {
    TrkMidiEvent& event = outgoing.GetEvent(i);
    if (event.deltaFrames >= frames) {
      event.deltaFrames -= frames;
      pendingEvents.AddEvent(event);
      outgoing.Delete(i);
    }
  }
}

void TrkVstAdapter::SendOutputEvents() {
  TrkMidiEventList& outgoing = plugin->outgoing;
  outgoingRecords.resize(static_cast<size_t>(outgoing.Count()));
  for (int32_t i = 0; i < outgoing.Count(); ++i) {
    const TrkMidiEvent& event = outgoing.GetEvent(i);
    VstMidiEvent& record = outgoingRecords[i];
    std::memset(&record, 0, sizeof record);
    record.type = kVstMidiType;
    record.byteSize = sizeof(VstMidiEvent);
    record.deltaFrames = event.deltaFrames;
    record.midiData[0] = static_cast<char>(event.status | event.channel);
    record.midiData[1] = static_cast<char>(event.data1);
    record.midiData[2] = static_cast<char>(event.data2);
  }
  for (VstMidiEvent& record : outgoingRecords) {
    outgoingBlock.numEvents = 1;
    outgoingBlock.reserved = 0;
    outgoingBlock.events[0] = reinterpret_cast<VstEvent*>(&record);
    sendVstEventsToHost(&outgoingBlock);
  }
}

void TrkVstAdapter::ConvertVstEvents(const VstEvents* events, TrkMidiEventList& list) {
  for (VstInt32 i = 0; i < events->numEvents; ++i) {
    const VstEvent* event = events->events[i];
    if (!event || event->type != kVstMidiType) continue;
    const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
    auto byte = [midi](int k) { return static_cast<uint8_t>(midi->midiData[k]); };
    list.Add(byte(0) & 0xF0, byte(0) & 0x0F, midi->deltaFrames, byte(1) & 0x7F, byte(2) & 0x7F);
  }
}

// --- TVstEditor

namespace {
const TrkEditorServices* editorServices = nullptr;

// The vector GUI starts with the first editor window, not with the first editor object: a host
// that only creates and closes plug-ins (a scan) never loads the drawing back end or builds the
// GUI's classes. Once started it runs until nothing of it is left on any thread: no editor
// object, and no form released to another thread's loop that the loop has not freed yet. The
// lock keeps the counts and the flag together, and guards the lists of released forms, which a
// form's own thread changes as it frees one.
std::mutex guiLock;
int32_t editorCount = 0;
bool guiStarted = false;
int32_t listsLeft = 0;  // lists of released forms that outlived their editor (TReleasedForms)

void StartGuiForFirstWindow() {
  std::lock_guard<std::mutex> guard(guiLock);
  if (guiStarted || !editorServices) return;
  editorServices->StartVectorGui();
  guiStarted = true;
}

// Under guiLock.
void StopGuiWhenUnused() {
  if (editorCount > 0 || listsLeft > 0 || !guiStarted) return;
  guiStarted = false;
  if (editorServices) editorServices->StopVectorGui();
}
}  // namespace

// Forms the editor released while their code ran (a host closing the editor from inside the knob
// menu's loop or from a callback the form made), or from another thread than theirs: the message
// loop of their thread frees them once that code has returned, and their free notification takes
// them off the list. A host may end the plug-in and unload the module before its loop runs again;
// the editor then frees those of its own thread itself, as nothing of the module may be left for
// that loop. Those of another thread only their own loop can free, while it may be freeing them
// already: the list then outlives the editor, and the last of them stops the GUI as it goes, its
// drawing done, when nothing else holds the GUI.
class TReleasedForms : public TComponent {
 public:
  TReleasedForms() : TComponent(nullptr) {}

  void Keep(TComponent* form, uint32_t thread) {
    std::lock_guard<std::mutex> guard(guiLock);
    forms_.push_back({form, thread});
    try {
      FreeNotification(form);
    } catch (...) {
      forms_.pop_back();
      throw;
    }
  }

  // Frees those of the calling thread (a window goes only on its own) whose code has returned;
  // one at a time and outside the lock, as each one's notification takes the lock.
  void FreeReturned() noexcept {
    const uint32_t self = LockOwnerId();
    while (TComponent* form = NextReturned(self)) {
      try {
        delete form;  // its notification takes it off the list
      } catch (...) {
      }
    }
  }

  // The editor goes: true when forms of other threads are still on the list. It then stays with
  // them and frees itself with the last one.
  bool LeftToOtherThreads() {
    const uint32_t self = LockOwnerId();
    std::lock_guard<std::mutex> guard(guiLock);
    left_ = std::any_of(forms_.begin(), forms_.end(), [self](const TKept& k) { return k.thread != self; });
    if (left_) ++listsLeft;
    return left_;
  }

  // A kept form's destruction ends here, on the thread that frees it, once its components (all
  // it drew with) have gone: the last form of a list whose editor has gone may stop the GUI now.
  void Notification(TComponent* component, TOperation operation) override {
    bool last = false;
    {
      std::lock_guard<std::mutex> guard(guiLock);
      TComponent::Notification(component, operation);
      if (operation == opRemove) std::erase_if(forms_, [component](const TKept& k) { return k.form == component; });
      if (left_ && forms_.empty()) {
        left_ = false;
        --listsLeft;
        StopGuiWhenUnused();
        last = true;
      }
    }
    if (last) delete this;
  }

 private:
  struct TKept {
    TComponent* form;
    uint32_t thread;
  };

  // The last form of thread `self` whose code has returned, or nullptr.
  TComponent* NextReturned(uint32_t self) {
    std::lock_guard<std::mutex> guard(guiLock);
    for (size_t i = forms_.size(); i > 0; --i)
      if (forms_[i - 1].thread == self && !ComponentCodeRunning(forms_[i - 1].form)) return forms_[i - 1].form;
    return nullptr;
  }

  std::vector<TKept> forms_;
  bool left_ = false;  // its editor has gone
};

void SetEditorServices(const TrkEditorServices* services) { editorServices = services; }

const TrkEditorServices* EditorServices() { return editorServices; }

TVstEditor::TVstEditor(AudioEffect* effect, TrkPlugin* plugin) : AEffEditor(effect), plugin(plugin) {
  std::lock_guard<std::mutex> guard(guiLock);
  ++editorCount;
}

TVstEditor::~TVstEditor() {
  FreeForm();
  // Before the GUI stops: the forms' own destruction still draws on it.
  if (released) released->FreeReturned();
  if (released && released->LeftToOtherThreads()) static_cast<void>(released.release());
  released.reset();
  std::lock_guard<std::mutex> guard(guiLock);
  --editorCount;
  StopGuiWhenUnused();
}

int32_t TVstEditor::EditorCount() {
  std::lock_guard<std::mutex> guard(guiLock);
  return editorCount;
}

void* TVstEditor::FormHandle() const {
  return form && editorServices ? editorServices->Handle(form) : nullptr;
}

VstInt32 TVstEditor::getRect(ERect** rectangle) {
  TrkPluginSettings& settings = GetSettings();
  rect.top = 0;
  rect.left = 0;
  rect.bottom = static_cast<int16_t>(settings.editorHeight);
  rect.right = static_cast<int16_t>(settings.editorWidth);
  if (rectangle) *rectangle = &rect;
  return 1;
}

VstInt32 TVstEditor::open(void* parent) {
  AEffEditor::open(parent);
  if (isOpenFlag && form) {
    if (parent == parentWindow && FormHandle()) return 1;
    // The host destroyed its window without closing the editor, or opens it in another one:
    // the editor moves into the window the host hands over now.
    FreeForm();
    isOpenFlag = false;
  }
  if (!editorServices || !parent) return 0;
  try {
    StartGuiForFirstWindow();
    form = editorServices->CreateForm(parent);
    formThread = LockOwnerId();
    editorServices->SetPlugin(form, plugin);
    plugin->editorOpen = true;
    editorServices->StartDisplayUpdates(form);
    editorServices->UpdateDisplay(form);
    editorServices->Show(form);
  } catch (...) {
    FreeForm();
    return 0;
  }
  parentWindow = parent;
  isOpenFlag = true;
  return 1;
}

// Stops the display updates and unlinks the plug-in before the form goes, so that nothing the
// form started can reach the plug-in afterwards.
void TVstEditor::FreeForm() {
  if (!form) return;
  TPluginGui* going = form;
  form = nullptr;
  plugin->editorOpen = false;
  // Learning belongs to the knob menu: it ends with the editor, and a controller taken just
  // before becomes its binding now.
  try {
    plugin->Automation().EndLearning();
    plugin->Automation().CommitLearned();
  } catch (...) {
  }
  try {
    editorServices->StopDisplayUpdates(going);
    editorServices->SetPlugin(going, nullptr);
  } catch (...) {
  }
  // Kept before the release, which may free it at once: its notification then forgets it.
  try {
    if (editorServices->Component) {
      if (!released) released = std::make_unique<TReleasedForms>();
      released->Keep(editorServices->Component(going), formThread);
    }
  } catch (...) {
  }
  try {
    editorServices->Free(going);
  } catch (...) {
  }
}

void TVstEditor::close() {
  FreeForm();
  parentWindow = nullptr;
  isOpenFlag = false;
  AEffEditor::close();
}

void TVstEditor::idle() {
  AEffEditor::idle();
  // Read once: a host may close the editor on another thread meanwhile, which leaves the form
  // to the loop of its own thread, this one.
  TPluginGui* const shown = form;
  if (!shown) return;
  // A controller learned on the audio thread becomes a binding of the map here, on the GUI
  // thread; the refresh then shows what the controllers moved.
  try {
    plugin->Automation().CommitLearned();
  } catch (...) {
  }
  try {
    editorServices->UpdateDisplay(shown);
  } catch (...) {
  }
}
