// Process-wide registries of the scene engine: class categories, the list of every scene object
// (searched for named resources), the list of scene windows, free notification of value objects
// that refer to scene objects, object loaders from form text and component streams, Variant
// packing for data binding and the translation hook. All registries are created on first use and
// are meant for the GUI thread only (no locks).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/Streams.h"
#include "classlib/TypInfo.h"
#include "classlib/Variants.h"

class TvgWideStrings;

// --- Scene objects

// What the resource search needs to know of a scene object. Scene objects implement it; an
// object registered without it is matched through its published "ResourceName" property and
// counts as stored.
class IvgSceneEntry {
 public:
  virtual std::string GetSceneResourceName() const = 0;
  virtual bool GetSceneStored() const = 0;

 protected:
  ~IvgSceneEntry() = default;
};

// Adds the object once (called by the scene object's constructor); answers its index.
int32_t vgRegisterSceneObject(TComponent* obj);
// Blanks the object's entry (called by the scene object's destructor) and tells every holder of
// a free notification on it (see vgAddFreeNotify). Indices of other entries stay valid.
void vgUnregisterSceneObject(TComponent* obj);
// True when an object registered and not yet unregistered stands at this address: not
// necessarily the one that stood there before (a freed block goes to the next object of its size
// at once). A holder of an object tells it from a later one with TvgSceneObjectRef.
bool vgIsSceneObjectAlive(const TObject* obj);
// The object's serial, given at its registration from one count for the whole process, so that
// no two objects ever share one; 0 when the object is not registered.
uint64_t vgSceneObjectSerial(const TObject* obj);
// True while the object that got `serial` is registered (false for serial 0).
bool vgIsSceneObjectAlive(const TObject* obj, uint64_t serial);

// A scene object kept across calls that may free it (handlers, a drag, the scene's hover,
// focus and capture): Get answers it while it lives and nullptr once it is freed, also when a
// new object stands at its address. An object that is not registered is never answered.
template <typename T>
class TvgSceneObjectRef {
 public:
  TvgSceneObjectRef() = default;
  TvgSceneObjectRef(T* obj) : obj_(obj), serial_(vgSceneObjectSerial(obj)) {}
  T* Get() const { return obj_ != nullptr && vgIsSceneObjectAlive(obj_, serial_) ? obj_ : nullptr; }
  // The address kept, alive or not (for finding the entry of an object that lets go).
  T* Address() const { return obj_; }
  // Both name the same object (the same address and serial).
  bool operator==(const TvgSceneObjectRef& other) const { return obj_ == other.obj_ && serial_ == other.serial_; }

 private:
  T* obj_ = nullptr;
  uint64_t serial_ = 0;
};
// The newest stored, live scene object whose resource name equals `name` (ASCII case ignored);
// nullptr for an empty name or none.
TComponent* vgFindResourceObject(const std::string& name);
// The resource name of a scene object (through IvgSceneEntry or its published "ResourceName");
// "" for nullptr.
std::string vgGetResourceName(TComponent* obj);
// The live entries, oldest first (blanked entries skipped).
std::vector<TComponent*> vgSceneObjects();

// True when the object's class is, or derives from, the class of that name (compared without
// regard to case). Lets value objects recognise resource holders defined in later libraries.
bool vgInheritsFromName(const TObject* obj, const std::string& className);
// The object held by the published class property `propName` of `obj` when `obj` inherits
// from `holderClass`; nullptr otherwise. GetBitmap, GetPath and GetBrush resolve their
// resource objects ("TvgBitmapObject".Bitmap, "TvgPathObject".Path, "TvgBrushObject".Brush)
// through it.
TObject* vgResourceProperty(TObject* obj, const std::string& holderClass, const std::string& propName);

// --- Free notification

// Calls `onFree` once when `subject` is unregistered (freed). One entry per (subject, client);
// adding again replaces the callback. The client removes itself when it lets go first.
void vgAddFreeNotify(TObject* subject, const void* client, std::function<void()> onFree);
void vgRemoveFreeNotify(TObject* subject, const void* client);
// Runs and drops every callback registered on `subject` (also done by vgUnregisterSceneObject).
void vgNotifyFree(TObject* subject);

// --- Scenes

void vgAddScene(TObject* scene);
void vgRemoveScene(TObject* scene);
const std::vector<TObject*>& vgScenes();

// --- Class categories

// Records each class under the category (newest first within a category, the list sorted by
// category name without regard to case) and registers it with the class registry so that
// component streams can create it by name.
void vgRegisterObjects(const std::string& category, std::initializer_list<const TClassInfo*> classes);
// (category, class) pairs in list order.
const std::vector<std::pair<std::string, const TClassInfo*>>& vgObjectCategories();

// --- Object loaders

// Reads `obj`'s properties and children from a binary component stream at its position, the
// way scene objects load themselves: unknown method names resolve to nothing, read errors are
// skipped, and the object is in designing state while reading. Raises only for a stream that is
// not a component stream at all.
void vgLoadObjectFromBinStream(TComponent* obj, TStream& stream);
// Creates an object of the class the form text names, owned by `owner`, and loads it from the
// text. Any failure (unknown class, malformed text, an error while reading) gives nullptr and
// frees what was created.
TComponent* vgCreateObjectFromText(TComponent* owner, const std::string& text);
// The same from a binary component stream ("TPF0") at its position.
TComponent* vgCreateObjectFromBinStream(TComponent* owner, TStream& stream);

// --- Variant packing for data binding

// "vgobj" followed by the object's address in signed decimal.
Variant vgObjectToVariant(TObject* obj);
bool vgVarIsObject(const Variant& v);
// The object a "vgobj" text names, when that text holds a whole number that is the address of
// a live scene object or a live value object; nullptr for anything else (including objects
// already freed).
TObject* vgVariantToObject(const Variant& v);
// Value objects that controls pack into Variants (bitmaps) register themselves from their
// constructor and unregister from their destructor, so that vgVariantToObject answers them while
// they live and never after.
void vgRegisterValueObject(const TObject* obj);
void vgUnregisterValueObject(const TObject* obj);
// True only for string Variants that start with "vgmet".
bool vgVarIsEvent(const Variant& v);
// A "vgmet" text: 8 hexadecimal digits of the object, then 8 of the code. Answered only when
// the object is a live scene object and the code is one of its class's published methods;
// otherwise an unassigned method.
TMethodValue vgVariantToEvent(const Variant& v);

// --- Translation

// Process-wide translation settings; none is set by this system, so texts pass unchanged.
struct TvgTranslation {
  std::function<WideString(const WideString&)> Translate;  // answer "" to keep the text
  TvgWideStrings* Collect = nullptr;   // records every text passed for translation
  TvgWideStrings* Language = nullptr;  // "source=translation" lines
  bool LookupByValue = false;          // "translation=source" lines: match the value, answer the name
};
TvgTranslation& vgTranslation();
WideString vgTranslate(const WideString& text);

// --- Finalisation

// Frees the registries (the unit's finalisation; tests use it to start clean).
void vgFreeRegistries();
