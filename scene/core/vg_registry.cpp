// Process-wide registries of the scene engine, object loaders and Variant packing.
#include "vg_registry.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "classlib/Filer.h"
#include "classlib/FormText.h"
#include "classlib/SysUtils.h"
#include "vg_widestrings.h"

namespace {

// Where each registered object stands in the list: open addressing over a power-of-two table,
// so that registering and unregistering the thousands of objects of a large list costs neither
// an allocation nor a walk down a tree per object.
class TObjectIndex {
 public:
  struct TSlot {
    uintptr_t key;
    size_t index;
    uint64_t serial;
  };

  // The slot of `obj`, or nullptr when it is not registered.
  TSlot* Find(const TObject* obj) {
    if (slots_.empty()) return nullptr;
    for (size_t i = Home(obj);; i = (i + 1) & mask_) {
      TSlot& slot = slots_[i];
      if (slot.key == Key(obj)) return &slot;
      if (slot.key == kEmpty) return nullptr;
    }
  }
  // Adds an object that is not registered.
  void Add(const TObject* obj, size_t index, uint64_t serial) {
    if ((used_ + 1) * 2 > slots_.size()) Grow();
    for (size_t i = Home(obj);; i = (i + 1) & mask_) {
      TSlot& slot = slots_[i];
      if (slot.key > kRemoved) continue;
      if (slot.key == kEmpty) ++used_;
      slot.key = Key(obj);
      slot.index = index;
      slot.serial = serial;
      ++count_;
      return;
    }
  }
  // Removes the object of a slot that Find answered.
  void Remove(TSlot* slot) {
    slot->key = kRemoved;
    --count_;
  }

 private:
  static constexpr uintptr_t kEmpty = 0, kRemoved = 1;  // never the address of an object

  static uintptr_t Key(const TObject* obj) { return reinterpret_cast<uintptr_t>(obj); }
  // The high bits of a multiplicative hash: objects made one after another lie at a fixed stride,
  // which the low bits of the product would repeat.
  size_t Home(const TObject* obj) const {
    return static_cast<size_t>((static_cast<uint64_t>(Key(obj)) * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  // Doubles the table when live entries fill a quarter of it, else rebuilds it at its size to
  // clear the removed marks.
  void Grow() {
    std::vector<TSlot> old;
    old.swap(slots_);
    const size_t size = std::max<size_t>(64, count_ * 4 > old.size() ? old.size() * 2 : old.size());
    slots_.assign(size, TSlot{kEmpty, 0, 0});
    mask_ = size - 1;
    shift_ = 64;
    for (size_t n = size; n > 1; n >>= 1) --shift_;
    used_ = count_ = 0;
    for (const TSlot& slot : old)
      if (slot.key > kRemoved) Add(reinterpret_cast<const TObject*>(slot.key), slot.index, slot.serial);
  }

  std::vector<TSlot> slots_;
  size_t mask_ = 0;
  int shift_ = 64;
  size_t used_ = 0;   // slots not empty: live and removed
  size_t count_ = 0;  // live entries
};

struct Registries {
  // Blanked (nullptr) entries stay, so indices stay valid; blanks at the end are dropped.
  std::vector<TComponent*> objects;
  TObjectIndex objectIndex;
  std::set<const TObject*> valueObjects;  // live objects that may travel packed in Variants
  std::map<TObject*, std::vector<std::pair<const void*, std::function<void()>>>> freeNotifies;
  std::vector<TObject*> scenes;
  std::vector<std::pair<std::string, const TClassInfo*>> categories;
  TvgTranslation translation;
};

// The serial of the last object registered. Never reset, also not when the registries are freed
// and made again: a serial names one object for the life of the process.
uint64_t g_lastSerial = 0;

// A plain pointer, never destroyed with the module's statics: the scene unit's end, which frees
// the registries, may run after the statics made later than it (the registries are made at their
// first use, which can follow the first scene), and the objects it frees unregister here.
Registries*& Instance() {
  static Registries* instance = nullptr;
  return instance;
}

Registries& Get() {
  auto& instance = Instance();
  if (!instance) {
    instance = new Registries();
    instance->objects.reserve(100);
  }
  return *instance;
}

std::string ResourceNameOf(TComponent* obj, bool& stored) {
  if (const auto* entry = dynamic_cast<const IvgSceneEntry*>(obj)) {
    stored = entry->GetSceneStored();
    return entry->GetSceneResourceName();
  }
  stored = true;
  const TPropInfo* prop = GetPropInfo(obj, "ResourceName");
  if (!prop || (prop->PropType->Kind != tkLString && prop->PropType->Kind != tkString &&
                prop->PropType->Kind != tkWString)) {
    return std::string();
  }
  return GetStrProp(obj, prop);
}

}  // namespace

// --- Scene objects

int32_t vgRegisterSceneObject(TComponent* obj) {
  Registries& r = Get();
  if (const auto* found = r.objectIndex.Find(obj)) return static_cast<int32_t>(found->index);
  r.objects.push_back(obj);
  r.objectIndex.Add(obj, r.objects.size() - 1, ++g_lastSerial);
  return static_cast<int32_t>(r.objects.size() - 1);
}

void vgUnregisterSceneObject(TComponent* obj) {
  if (!Instance()) return;
  Registries& r = Get();
  if (auto* found = r.objectIndex.Find(obj)) {
    r.objects[found->index] = nullptr;
    r.objectIndex.Remove(found);
    // No live entry stands behind trailing blanks: dropping them keeps every index valid.
    while (!r.objects.empty() && r.objects.back() == nullptr) r.objects.pop_back();
  }
  vgNotifyFree(obj);
}

bool vgIsSceneObjectAlive(const TObject* obj) {
  return obj && Instance() && Get().objectIndex.Find(obj) != nullptr;
}

uint64_t vgSceneObjectSerial(const TObject* obj) {
  if (!obj || !Instance()) return 0;
  const auto* found = Get().objectIndex.Find(obj);
  return found ? found->serial : 0;
}

bool vgIsSceneObjectAlive(const TObject* obj, uint64_t serial) {
  return serial != 0 && vgSceneObjectSerial(obj) == serial;
}

TComponent* vgFindResourceObject(const std::string& name) {
  if (name.empty() || !Instance()) return nullptr;
  const Registries& r = Get();
  for (size_t i = r.objects.size(); i-- > 0;) {
    TComponent* obj = r.objects[i];
    if (!obj) continue;
    bool stored = true;
    const std::string resourceName = ResourceNameOf(obj, stored);
    if (stored && SameText(resourceName, name)) return obj;
  }
  return nullptr;
}

std::string vgGetResourceName(TComponent* obj) {
  if (!obj) return std::string();
  bool stored = true;
  return ResourceNameOf(obj, stored);
}

std::vector<TComponent*> vgSceneObjects() {
  std::vector<TComponent*> result;
  if (!Instance()) return result;
  for (TComponent* obj : Get().objects) {
    if (obj) result.push_back(obj);
  }
  return result;
}

bool vgInheritsFromName(const TObject* obj, const std::string& className) {
  if (!obj) return false;
  for (const TClassInfo* cls = obj->ClassInfo(); cls; cls = cls->Parent) {
    if (SameText(cls->Name, className)) return true;
  }
  return false;
}

TObject* vgResourceProperty(TObject* obj, const std::string& holderClass, const std::string& propName) {
  if (!vgInheritsFromName(obj, holderClass)) return nullptr;
  const TPropInfo* prop = GetPropInfo(obj, propName);
  if (!prop || prop->PropType->Kind != tkClass) return nullptr;
  return GetObjectProp(obj, prop);
}

// --- Free notification

void vgAddFreeNotify(TObject* subject, const void* client, std::function<void()> onFree) {
  if (!subject || !client) return;
  auto& clients = Get().freeNotifies[subject];
  for (auto& entry : clients) {
    if (entry.first == client) {
      entry.second = std::move(onFree);
      return;
    }
  }
  clients.emplace_back(client, std::move(onFree));
}

void vgRemoveFreeNotify(TObject* subject, const void* client) {
  if (!subject || !Instance()) return;
  auto& map = Get().freeNotifies;
  auto found = map.find(subject);
  if (found == map.end()) return;
  auto& clients = found->second;
  clients.erase(std::remove_if(clients.begin(), clients.end(), [client](const auto& e) { return e.first == client; }),
                clients.end());
  if (clients.empty()) map.erase(found);
}

void vgNotifyFree(TObject* subject) {
  if (!subject || !Instance()) return;
  auto& map = Get().freeNotifies;
  // Callbacks may add or remove other entries, so each is taken out before it runs.
  for (;;) {
    auto found = map.find(subject);
    if (found == map.end()) return;
    if (found->second.empty()) {
      map.erase(found);
      return;
    }
    auto callback = std::move(found->second.front().second);
    found->second.erase(found->second.begin());
    if (callback) callback();
  }
}

// --- Scenes

void vgAddScene(TObject* scene) {
  auto& scenes = Get().scenes;
  if (scene && std::find(scenes.begin(), scenes.end(), scene) == scenes.end()) scenes.push_back(scene);
}

void vgRemoveScene(TObject* scene) {
  if (!Instance()) return;
  auto& scenes = Get().scenes;
  scenes.erase(std::remove(scenes.begin(), scenes.end(), scene), scenes.end());
}

const std::vector<TObject*>& vgScenes() { return Get().scenes; }

// --- Class categories

void vgRegisterObjects(const std::string& category, std::initializer_list<const TClassInfo*> classes) {
  auto& list = Get().categories;
  for (const TClassInfo* cls : classes) {
    if (!cls) continue;
    list.insert(list.begin(), {category, cls});
    std::stable_sort(list.begin(), list.end(),
                     [](const auto& a, const auto& b) { return CompareText(a.first, b.first) < 0; });
    RegisterClass(cls);
  }
}

const std::vector<std::pair<std::string, const TClassInfo*>>& vgObjectCategories() {
  RunClassRegistrations();  // the units' registrations wait for the first look-up
  return Get().categories;
}

// --- Object loaders

void vgLoadObjectFromBinStream(TComponent* obj, TStream& stream) {
  TReader reader(stream);
  struct Hooks {
    void Error(TReader*, const std::string&, bool& handled) { handled = true; }
    void FindMethod(TReader*, const std::string&, TMethodValue& method, bool& error) {
      method = TMethodValue();
      error = false;
    }
  } hooks;
  reader.OnError = decltype(reader.OnError)::Of<&Hooks::Error>(&hooks);
  reader.OnFindMethod = decltype(reader.OnFindMethod)::Of<&Hooks::FindMethod>(&hooks);
  const bool wasDesigning = obj->HasState(csDesigning);
  if (!wasDesigning) obj->SetDesigning(true, false);
  try {
    reader.ReadRootComponent(obj);
  } catch (...) {
    if (!wasDesigning) obj->SetDesigning(false, false);
    throw;
  }
  if (!wasDesigning) obj->SetDesigning(false, false);
}

namespace {

// Reads the class name at the stream's position and creates an instance owned by `owner`.
TComponent* CreateFromStreamHeader(TComponent* owner, TStream& stream) {
  TReader reader(stream);
  reader.ReadSignature();
  uint8_t flags = 0;
  int32_t childPos = 0;
  reader.ReadPrefix(flags, childPos);
  const std::string className = reader.ReadStr();
  const TClassInfo* cls = GetClass(className);
  if (!cls) return nullptr;
  TObject* object = cls->Create(owner);
  auto* component = dynamic_cast<TComponent*>(object);
  if (!component) delete object;
  return component;
}

}  // namespace

TComponent* vgCreateObjectFromBinStream(TComponent* owner, TStream& stream) {
  TComponent* result = nullptr;
  try {
    const int64_t start = stream.GetPosition();
    result = CreateFromStreamHeader(owner, stream);
    if (!result) return nullptr;
    stream.SetPosition(start);
    vgLoadObjectFromBinStream(result, stream);
    return result;
  } catch (...) {
    delete result;
    return nullptr;
  }
}

TComponent* vgCreateObjectFromText(TComponent* owner, const std::string& text) {
  try {
    TStringStream input(text);
    TMemoryStream binary;
    ObjectTextToBinary(input, binary);
    binary.SetPosition(0);
    return vgCreateObjectFromBinStream(owner, binary);
  } catch (...) {
    return nullptr;
  }
}

// --- Variant packing

namespace {

constexpr char kObjectPrefix[] = "vgobj";
constexpr char kMethodPrefix[] = "vgmet";

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string VariantText(const Variant& v) {
  try {
    return v.ToString();
  } catch (...) {
    return std::string();
  }
}

bool TryHex8(const std::string& text, size_t at, uintptr_t& value) {
  if (text.size() < at + 8) return false;
  value = 0;
  for (size_t i = at; i < at + 8; ++i) {
    const char c = text[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    value = value << 4 | static_cast<uintptr_t>(d);
  }
  return true;
}

}  // namespace

Variant vgObjectToVariant(TObject* obj) {
  const auto address = static_cast<intptr_t>(reinterpret_cast<uintptr_t>(obj));
  return Variant(kObjectPrefix + IntToStr(static_cast<int64_t>(address)));
}

bool vgVarIsObject(const Variant& v) { return StartsWith(VariantText(v), kObjectPrefix); }

TObject* vgVariantToObject(const Variant& v) {
  const std::string text = VariantText(v);
  if (!StartsWith(text, kObjectPrefix)) return nullptr;
  // The whole number: on 32-bit Windows addresses of 2 GiB and more are negative and take 11
  // characters.
  int64_t number = 0;
  if (!TryStrToInt64(text.substr(std::strlen(kObjectPrefix)), number)) return nullptr;
  const auto address = static_cast<uintptr_t>(static_cast<intptr_t>(number));
  if (static_cast<int64_t>(static_cast<intptr_t>(address)) != number) return nullptr;
  auto* obj = reinterpret_cast<TObject*>(address);
  // Only objects known to be alive: the text may be stale or made up.
  if (vgIsSceneObjectAlive(obj) || Get().valueObjects.count(obj) != 0) return obj;
  return nullptr;
}

void vgRegisterValueObject(const TObject* obj) {
  if (obj != nullptr) Get().valueObjects.insert(obj);
}

void vgUnregisterValueObject(const TObject* obj) {
  if (Instance()) Get().valueObjects.erase(obj);
}

bool vgVarIsEvent(const Variant& v) {
  return v.IsString() && StartsWith(VariantText(v), kMethodPrefix);
}

TMethodValue vgVariantToEvent(const Variant& v) {
  TMethodValue result;
  if (!vgVarIsEvent(v)) return result;
  const std::string text = VariantText(v);
  uintptr_t data = 0, code = 0;
  if (!TryHex8(text, 5, data) || !TryHex8(text, 13, code)) return result;
  auto* obj = reinterpret_cast<TObject*>(data);
  if (!vgIsSceneObjectAlive(obj)) return result;
  const auto codePointer = reinterpret_cast<void (*)()>(code);
  const TMethodInfo* method = obj->ClassInfo()->FindMethodByCode(codePointer);
  if (!method) return result;
  return method->Bind(obj);
}

// --- Translation

TvgTranslation& vgTranslation() { return Get().translation; }

WideString vgTranslate(const WideString& text) {
  if (text.empty() || !Instance()) return text;
  const TvgTranslation& t = Get().translation;
  if (t.Translate) {
    WideString answer = t.Translate(text);
    return answer.empty() ? text : answer;
  }
  if (t.Collect) t.Collect->Add(text);
  WideString answer;
  if (t.Language) {
    // Normally source=translation; the switch reads the lines the other way round.
    const int32_t index = t.LookupByValue ? t.Language->IndexOfValue(text) : t.Language->IndexOfName(text);
    if (index >= 0) {
      const WideString line = t.Language->Get(index);
      const size_t eq = line.find(u'=');
      answer = t.LookupByValue ? line.substr(0, eq) : line.substr(eq + 1);
    }
  }
  return answer.empty() ? text : answer;
}

// --- Finalisation

void vgFreeRegistries() {
  // Taken out first: objects freed with the registries find none and leave them alone.
  Registries* registries = Instance();
  Instance() = nullptr;
  delete registries;
}
