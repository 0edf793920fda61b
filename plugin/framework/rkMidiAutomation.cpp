// The shared MIDI controller map, its XML file and the per-instance access to it.
#include "rkMidiAutomation.h"

#include <cstring>
#include <mutex>

#include "TrkPluginSettings.h"
#include "classlib/AutoFree.h"
#include "rkPluginBase.h"
#include "classlib/Streams.h"
#include "xml/XmlDocument.h"

// --- TMidiMap

namespace {

// Whether the file exists and holds exactly the bytes of `text`; false when it cannot be read.
bool FileHolds(const std::string& fileName, TMemoryStream& text) {
  if (!FileExists(fileName)) return false;
  try {
    TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
    const int64_t size = text.GetSize();
    if (file.GetSize() != size) return false;
    std::string held(static_cast<size_t>(size), '\0');
    if (size > 0) file.ReadBuffer(held.data(), static_cast<int32_t>(size));
    return size == 0 || std::memcmp(held.data(), text.Memory(), static_cast<size_t>(size)) == 0;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

int32_t StrToIntDefault(const std::string& text, int32_t fallback) { return StrToIntDef(text, fallback); }

int32_t TMidiMap::Add(uint8_t midiCC, int32_t parameterID, uint8_t automationType, const std::string& parameterName) {
  bindings_.push_back(TMidiBinding{midiCC, parameterID, parameterName, automationType});
  PublishControllers();
  return Count() - 1;
}

int32_t TMidiMap::Bind(uint8_t midiCC, int32_t parameterID, uint8_t automationType, const std::string& parameterName) {
  TMidiBinding binding{midiCC, parameterID, parameterName, automationType};
  std::erase_if(bindings_, [&](const TMidiBinding& b) {
    return b.AutomationType == automationType && (b.ParameterID == parameterID || b.MidiCC == midiCC);
  });
  bindings_.push_back(std::move(binding));
  // One publication for the whole change: the audio thread never sees the controller unbound
  // between the removal and the new binding.
  PublishControllers();
  return Count() - 1;
}

void TMidiMap::CheckIndex(int32_t i) const {
  if (i < 0 || i >= Count()) throw EListError("List index out of bounds (" + IntToStr(i) + ")");
}

void TMidiMap::Delete(int32_t i) {
  CheckIndex(i);
  bindings_.erase(bindings_.begin() + i);
  PublishControllers();
}

void TMidiMap::Clear() {
  while (!bindings_.empty()) bindings_.pop_back();
  PublishControllers();
}

const TMidiBinding& TMidiMap::GetBinding(int32_t i) const {
  CheckIndex(i);
  return bindings_[static_cast<size_t>(i)];
}

int32_t TMidiMap::FindBinding(int32_t parameterID, uint8_t automationType) const {
  for (int32_t i = 0; i < Count(); ++i) {
    const TMidiBinding& b = bindings_[static_cast<size_t>(i)];
    if (b.ParameterID == parameterID && b.AutomationType == automationType) return i;
  }
  return -1;
}

uint32_t TMidiMap::ControlledParameters(uint8_t midiCC) const {
  return midiCC < kMidiControllerCount ? controllers_[midiCC].load(std::memory_order_acquire) : 0;
}

void TMidiMap::PublishControllers() {
  uint32_t table[kMidiControllerCount] = {};
  for (const TMidiBinding& b : bindings_) {
    if (b.AutomationType != 0 || b.MidiCC >= kMidiControllerCount) continue;
    if (b.ParameterID < 0 || b.ParameterID >= kMaxControlledParameters) continue;
    table[b.MidiCC] |= 1u << b.ParameterID;
  }
  // Entry by entry: a reader sees each controller either as it was or as it is now.
  for (int32_t cc = 0; cc < kMidiControllerCount; ++cc)
    if (controllers_[cc].load(std::memory_order_relaxed) != table[cc])
      controllers_[cc].store(table[cc], std::memory_order_release);
}

void TMidiMap::SaveToXmlFile(const std::string& fileName) const {
  auto document = AutoFree(new TXmlDocument("root"));
  TXmlNode* root = document->Root();
  root->AttributeAdd("FileType", "MidiMap");
  for (const TMidiBinding& b : bindings_) {
    TXmlNode* node = root->NodeNew("MidiBinding");
    node->AttributeAdd("ParameterName", b.ParameterName);
    node->AttributeAdd("ParameterID", IntToStr(b.ParameterID));
    node->AttributeAdd("MidiCC", IntToStr(b.MidiCC));
    node->AttributeAdd("AutomationType", b.AutomationType == 1 ? "1" : "0");
  }
  document->XmlFormat = 0;
  TMemoryStream text;
  document->SaveToStream(text);
  // A host that scans its plug-ins opens and closes this one again and again over the same map:
  // a file that holds these bytes already is left alone.
  if (FileHolds(fileName, text)) return;
  // A crash or a full disk half-way must not cost the user the map they had.
  std::string temporary = fileName + ".tmp";
  {
    TFileStream file(temporary, fmCreate);
    file.WriteBuffer(text.Memory(), static_cast<int32_t>(text.GetSize()));
  }
  if (!RenameFileReplacing(temporary, fileName)) {
    RemoveFile(temporary);
    throw EWriteError("Cannot replace \"" + fileName + "\"");
  }
}

void TMidiMap::LoadFromXmlFile(const std::string& fileName) {
  auto document = AutoFree(new TXmlDocument());
  document->LoadFromFile(fileName);
  TXmlNode* root = document->Root();
  if (!root || !root->AttributeExists("FileType"))
    throw EMidiMapError("File can not be loaded. (No file type attribute exists.)");
  if (root->AttributeByName("FileType") != "MidiMap")
    throw EMidiMapError("File can not be loaded. (File is not correct format.)");

  TXmlNodeList nodes;
  root->NodesByName("MidiBinding", nodes);
  for (int32_t i = 0; i < nodes.Count(); ++i) {
    TXmlNode* node = nodes.GetItems(i);
    if (!node->AttributeExists("ParameterName") || !node->AttributeExists("ParameterID") ||
        !node->AttributeExists("MidiCC") || !node->AttributeExists("AutomationType"))
      continue;
    std::string name = node->AttributeByName("ParameterName");
    int32_t parameterID = StrToIntDefault(node->AttributeByName("ParameterID"), -1);
    // Controller numbers are kept in one byte: -1 becomes 255, 300 becomes 44.
    uint8_t midiCC = static_cast<uint8_t>(StrToIntDefault(node->AttributeByName("MidiCC"), -1));
    uint8_t type = StrToIntDefault(node->AttributeByName("AutomationType"), 0) == 1 ? 1 : 0;
    Add(midiCC, parameterID, type, name);
  }
}

// --- The shared map

namespace {

struct TSharedMidiMap {
  std::mutex lock;
  std::unique_ptr<TMidiMap> map;
  int32_t instances = 0;
  bool saved = false;       // saved since the first of the current instances was created
  bool loadFailed = false;  // the file could not be read: it is never saved over
  std::string loadError;
  // Taken when the map is created: at unload the settings and folders may be gone already.
  std::string fileName;
  bool saveOnExit = false;
};

// Defined before the finalizer below, so it is built before it and destroyed after it.
TSharedMidiMap sharedMap;

TSharedMidiMap& Shared() { return sharedMap; }

// Saves the map when the settings ask for it and it is safe to; failures are kept, not raised.
void SaveSharedMap(TSharedMidiMap& shared) {
  if (!shared.map || shared.loadFailed || !shared.saveOnExit || shared.fileName.empty()) return;
  try {
    shared.map->SaveToXmlFile(shared.fileName);
    shared.saved = true;
  } catch (const std::exception& e) {
    shared.loadError = e.what();
  }
}

// Module unload: the map is saved here only when no closing instance has saved it.
struct TMidiMapFinalizer {
  ~TMidiMapFinalizer() { FinalizeMidiAutomation(); }
} finalizer;

}  // namespace

void FinalizeMidiAutomation() {
  TSharedMidiMap& shared = Shared();
  std::lock_guard<std::mutex> guard(shared.lock);
  if (!shared.map) return;
  if (!shared.saved) SaveSharedMap(shared);
  shared.map.reset();
}

std::string TMidiAutomation::MapFileName() {
  const std::string& folder = DataFolder();
  return folder.empty() ? std::string() : folder + "Midi Map.xml";
}

std::string TMidiAutomation::LoadError() {
  TSharedMidiMap& shared = Shared();
  std::lock_guard<std::mutex> guard(shared.lock);
  return shared.loadError;
}

// --- TMidiAutomation

namespace {

// The learned slot: a flag, the controller number and the parameter (below 32).
constexpr uint32_t kLearnedFlag = 0x80000000u;
uint32_t PackLearned(uint8_t midiCC, int32_t parameterID) {
  return kLearnedFlag | (static_cast<uint32_t>(midiCC) << 8) | static_cast<uint32_t>(parameterID);
}
uint8_t LearnedController(uint32_t learned) { return static_cast<uint8_t>(learned >> 8); }
int32_t LearnedParameter(uint32_t learned) { return static_cast<int32_t>(learned & 0xFF); }

// Controllers 120 to 127 are the channel-mode messages (all sound off, reset, all notes off...)
// that hosts send by themselves when the transport stops: learning waits for a real control.
bool IsChannelModeController(uint8_t midiCC) { return midiCC >= 120; }

}  // namespace

TMidiAutomation::TMidiAutomation(TObject* plugin, TSetParameter setParameter)
    : setParameter(setParameter), plugin(plugin) {
  TSharedMidiMap& shared = Shared();
  std::lock_guard<std::mutex> guard(shared.lock);
  if (!shared.map) {
    shared.map = std::make_unique<TMidiMap>();
    shared.fileName = MapFileName();
    shared.saveOnExit = GetSettings().saveMidiMapOnExit;
    const std::string& fileName = shared.fileName;
    if (!fileName.empty() && FileExists(fileName)) {
      // A damaged file must not stop the plug-in from loading: it starts with an empty map, and
      // the file is left as it is for the user to mend.
      try {
        shared.map->LoadFromXmlFile(fileName);
      } catch (const std::exception& e) {
        shared.map->Clear();
        shared.loadFailed = true;
        shared.loadError = e.what();
      }
    }
  }
  if (shared.instances++ == 0) shared.saved = false;
  map = shared.map.get();
}

TMidiAutomation::~TMidiAutomation() {
  // A controller learned just before the plug-in closes is kept, and saved with the map.
  try {
    CommitLearned();
  } catch (...) {
  }
  TSharedMidiMap& shared = Shared();
  std::lock_guard<std::mutex> guard(shared.lock);
  if (--shared.instances == 0) SaveSharedMap(shared);
}

void TMidiAutomation::Unlearn(int32_t parameterID, uint8_t automationType) {
  std::lock_guard<std::mutex> guard(Shared().lock);
  int32_t i = map->FindBinding(parameterID, automationType);
  if (i >= 0) map->Delete(i);
}

int32_t TMidiAutomation::BoundController(int32_t parameterID, uint8_t automationType) const {
  std::lock_guard<std::mutex> guard(Shared().lock);
  const int32_t i = map->FindBinding(parameterID, automationType);
  return i < 0 ? -1 : map->GetBinding(i).MidiCC;
}

// --- Learning

void TMidiAutomation::Learn(int32_t parameterID) {
  const bool addressable = parameterID >= 0 && parameterID < kMaxControlledParameters;
  learning.store(addressable ? parameterID : -1, std::memory_order_release);
}

void TMidiAutomation::EndLearning() { learning.store(-1, std::memory_order_release); }

uint32_t TMidiAutomation::ControllerMoved(uint8_t midiCC) {
  if (midiCC >= kMidiControllerCount) return 0;
  int32_t parameterID = learning.load(std::memory_order_acquire);
  // The exchange makes the message that ends learning the only one taken, however the GUI side
  // re-arms or ends learning meanwhile.
  if (parameterID >= 0 && !IsChannelModeController(midiCC) &&
      learning.compare_exchange_strong(parameterID, -1, std::memory_order_acq_rel))
    learned.store(PackLearned(midiCC, parameterID), std::memory_order_release);

  uint32_t parameters = map->ControlledParameters(midiCC);
  // Until the GUI side has made the binding, the pair taken acts as if it were made: the
  // controller drives that parameter alone, and the parameter follows no other controller.
  const uint32_t pending = learned.load(std::memory_order_acquire);
  if (pending != 0) {
    const uint32_t bit = 1u << LearnedParameter(pending);
    parameters = LearnedController(pending) == midiCC ? bit : parameters & ~bit;
  }
  return parameters;
}

bool TMidiAutomation::CommitLearned() {
  uint32_t pending = learned.load(std::memory_order_acquire);
  if (pending == 0) return false;
  const int32_t parameterID = LearnedParameter(pending);
  const std::string name = ParameterName(parameterID);
  {
    std::lock_guard<std::mutex> guard(Shared().lock);
    map->Bind(LearnedController(pending), parameterID, 0, name);
  }
  // The slot is emptied only once the table holds the binding, so no message in between finds
  // the controller unbound. A pair taken meanwhile stays for the next call.
  learned.compare_exchange_strong(pending, 0, std::memory_order_acq_rel);
  return true;
}

std::string TMidiAutomation::ParameterName(int32_t parameterID) const {
  const auto* owner = dynamic_cast<const TrkPluginBase*>(plugin);
  if (owner && owner->IsParameterIndex(parameterID)) return owner->GetParameterInfo(parameterID).longName;
  return "Par " + std::to_string(parameterID);
}
