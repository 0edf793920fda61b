// Persistent objects, components with owners and free notification, collections, pointer lists
// and string lists: the class library's core classes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Methods.h"
#include "Streams.h"
#include "SysUtils.h"
#include "TypInfo.h"

class TFiler;
class TReader;
class TWriter;
class TComponent;

// --- Lists

enum TListNotification { lnAdded, lnExtracted, lnDeleted };

// An ordered list of untyped pointers. Index errors raise EListError
// ("List index out of bounds (<index>)").
class TList : public TObject {
  KBL_DECLARE_CLASS(TList, TObject)
 public:
  TList() = default;

  int32_t Add(void* item);
  void Insert(int32_t index, void* item);
  void Delete(int32_t index);
  // Removes the first occurrence; answers its former index or -1.
  int32_t Remove(void* item);
  // Removes the first occurrence without the deleted notification; answers the item or nullptr.
  void* Extract(void* item);
  void Clear();
  int32_t IndexOf(const void* item) const;
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Growing pads with nullptr; shrinking deletes from the end.
  void SetCount(int32_t count);
  int32_t Capacity() const { return static_cast<int32_t>(items_.capacity()); }
  void SetCapacity(int32_t capacity);
  void* Get(int32_t index) const;
  void Put(int32_t index, void* item);
  void* operator[](int32_t index) const { return Get(index); }
  void* First() const { return Get(0); }
  void* Last() const { return Get(Count() - 1); }
  void Exchange(int32_t index1, int32_t index2);
  void Move(int32_t currentIndex, int32_t newIndex);
  // Removes every nullptr entry.
  void Pack();
  // Stable sort by a comparison answering <0, 0, >0.
  void Sort(const std::function<int(void*, void*)>& compare);

 protected:
  // Descendants that own their items free them here (lnDeleted).
  virtual void Notify(void* item, TListNotification action) {}
  // Lets go of the items and of their array without a notification and without freeing either
  // (a thread killed in the middle of a change leaves them as nothing can trust); the list is
  // empty afterwards.
  void Abandon();

 private:
  void CheckIndex(int32_t index) const;
  std::vector<void*> items_;
};

// A pointer list of T with typed access.
template <typename T>
class TListOf : public TList {
 public:
  T* Get(int32_t index) const { return static_cast<T*>(TList::Get(index)); }
  T* operator[](int32_t index) const { return Get(index); }
};

// A list of objects that frees them when they are deleted, when owning.
class TObjectList : public TList {
  KBL_DECLARE_CLASS(TObjectList, TList)
 public:
  explicit TObjectList(bool ownsObjects = true) : ownsObjects_(ownsObjects) {}
  ~TObjectList() override { Clear(); }
  bool OwnsObjects() const { return ownsObjects_; }
  void SetOwnsObjects(bool owns) { ownsObjects_ = owns; }
  TObject* GetItem(int32_t index) const { return static_cast<TObject*>(Get(index)); }

 protected:
  void Notify(void* item, TListNotification action) override;

 private:
  bool ownsObjects_;
};

// --- Persistent objects

// An object that can be copied (Assign) and streamed (published properties and DefineProperties).
class TPersistent : public TObject {
  KBL_DECLARE_CLASS(TPersistent, TObject)
 public:
  // Copies `source` into this object. The base hands over to source->AssignTo, whose base raises
  // EConvertError ("Cannot assign a <source class> to a <this class>"; "nil" for nullptr).
  virtual void Assign(TPersistent* source);
  // Defines unpublished data that streams with the object (TFiler::DefineProperty).
  virtual void DefineProperties(TFiler& filer) {}
  // The object that owns this one in the streaming sense (collection of an item, ...).
  virtual TPersistent* GetOwner() const { return nullptr; }
  // A dotted name for designers and messages.
  virtual std::string GetNamePath() const;

 protected:
  virtual void AssignTo(TPersistent* dest);
  [[noreturn]] void AssignError(const TPersistent* source);
};

// The shared start of an Assign that copies from objects of its own class `T`: answers the
// source as a `T` to copy from, or nullptr when the caller has nothing left to do — the source
// is this object itself, or of another class and handed to `Base`'s Assign.
template <typename T, typename Base = TPersistent>
T* AssignSource(T* self, TPersistent* source) {
  T* other = dynamic_cast<T*>(source);
  if (other == nullptr) {
    self->Base::Assign(source);
    return nullptr;
  }
  return other == self ? nullptr : other;
}

// --- String lists

KBL_DECLARE_EXCEPTION(EStringListError, EListError);

enum TDuplicates { dupIgnore, dupAccept, dupError };

// An abstract list of strings with an object per line, "name=value" access and text forms.
// Index errors raise EStringListError ("List index out of bounds (<index>)").
class TStrings : public TPersistent {
  KBL_DECLARE_CLASS(TStrings, TPersistent)
 public:
  virtual std::string Get(int32_t index) const = 0;
  virtual int32_t GetCount() const = 0;
  virtual TObject* GetObject(int32_t index) const { return nullptr; }
  virtual void Put(int32_t index, const std::string& text);
  virtual void PutObject(int32_t index, TObject* object) {}
  virtual void Insert(int32_t index, const std::string& text) = 0;
  virtual void Delete(int32_t index) = 0;
  virtual void Clear() = 0;
  virtual int32_t Add(const std::string& text);
  virtual int32_t IndexOf(const std::string& text) const;  // case-insensitive in the base

  int32_t Count() const { return GetCount(); }
  std::string operator[](int32_t index) const { return Get(index); }
  int32_t AddObject(const std::string& text, TObject* object);
  void InsertObject(int32_t index, const std::string& text, TObject* object);
  void AddStrings(const TStrings& strings);
  void Assign(TPersistent* source) override;
  void Exchange(int32_t index1, int32_t index2);
  void Move(int32_t currentIndex, int32_t newIndex);
  bool Equals(const TStrings& other) const;
  int32_t IndexOfName(const std::string& name) const;
  int32_t IndexOfObject(const TObject* object) const;

  // "name=value" lines: the part before the separator, the part after it; Values of an unknown
  // name is ""; setting an empty value deletes the line.
  std::string Names(int32_t index) const;
  std::string ValueFromIndex(int32_t index) const;
  std::string Values(const std::string& name) const;
  void SetValue(const std::string& name, const std::string& value);
  char NameValueSeparator = '=';

  // Every line followed by CR LF; setting splits at CR LF, LF or CR.
  std::string GetText() const;
  void SetText(const std::string& text);
  // Lines separated by Delimiter, quoted with QuoteChar when they hold blanks, the delimiter,
  // quotes or control characters; CommaText uses "," and '"'.
  std::string GetDelimitedText() const;
  void SetDelimitedText(const std::string& text);
  std::string GetCommaText() const;
  void SetCommaText(const std::string& text);
  char Delimiter = ',';
  char QuoteChar = '"';

  void LoadFromStream(TStream& stream);  // from the position to the end, as text
  void SaveToStream(TStream& stream) const;
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

  // Nested BeginUpdate/EndUpdate suspend change notification.
  void BeginUpdate();
  void EndUpdate();
  int32_t UpdateCount() const { return updateCount_; }

  // Streams the lines as the list property "Strings".
  void DefineProperties(TFiler& filer) override;

 protected:
  virtual void SetUpdateState(bool updating) {}
  [[noreturn]] void Error(const std::string& message, int32_t index) const;

 private:
  int32_t updateCount_ = 0;
};

// The string list: optionally sorted, with duplicates rules and change events.
class TStringList : public TStrings {
  KBL_DECLARE_CLASS(TStringList, TStrings)
 public:
  TStringList() = default;
  ~TStringList() override;

  std::string Get(int32_t index) const override;
  int32_t GetCount() const override { return static_cast<int32_t>(items_.size()); }
  TObject* GetObject(int32_t index) const override;
  void Put(int32_t index, const std::string& text) override;
  void PutObject(int32_t index, TObject* object) override;
  // Inserting into a sorted list raises EStringListError ("Operation not allowed on sorted list").
  void Insert(int32_t index, const std::string& text) override;
  void Delete(int32_t index) override;
  void Clear() override;
  // In a sorted list: placed in order; a duplicate is ignored (dupIgnore, answers the existing
  // index) or raises EStringListError ("String list does not allow duplicates") with dupError.
  int32_t Add(const std::string& text) override;
  int32_t IndexOf(const std::string& text) const override;

  // Binary search of a sorted list: true when found; `index` is where the text is or would go.
  bool Find(const std::string& text, int32_t& index) const;
  void Sort();
  void CustomSort(const std::function<int(TStringList&, int32_t, int32_t)>& compare);

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates duplicates) { duplicates_ = duplicates; }
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool value);
  // When owning, the list frees the objects of deleted lines.
  bool OwnsObjects() const { return ownsObjects_; }
  void SetOwnsObjects(bool value) { ownsObjects_ = value; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  virtual void Changed();
  virtual void Changing();
  void SetUpdateState(bool updating) override;
  int CompareStrings(const std::string& a, const std::string& b) const;

 private:
  struct Item {
    std::string text;
    TObject* object = nullptr;
  };
  void InsertItem(int32_t index, const std::string& text, TObject* object);
  void CheckIndex(int32_t index) const;
  std::vector<Item> items_;
  bool sorted_ = false;
  bool caseSensitive_ = false;
  bool ownsObjects_ = false;
  TDuplicates duplicates_ = dupIgnore;
};

// --- Collections

class TCollection;
enum TCollectionNotification { cnAdded, cnExtracting, cnDeleting };

// An item of a collection; it joins the collection given to its constructor and leaves it when
// destroyed.
class TCollectionItem : public TPersistent {
  KBL_DECLARE_CLASS(TCollectionItem, TPersistent)
 public:
  explicit TCollectionItem(TCollection* collection);
  ~TCollectionItem() override;

  TCollection* GetCollection() const { return collection_; }
  // Moves the item to another collection (nullptr: none).
  virtual void SetCollection(TCollection* collection);
  int32_t GetIndex() const;
  // Moves the item within its collection; raises EListError for a bad index.
  virtual void SetIndex(int32_t index);
  int32_t GetID() const { return id_; }
  virtual std::string GetDisplayName() const { return ClassName(); }
  virtual void SetDisplayName(const std::string& name) { Changed(false); }
  TPersistent* GetOwner() const override;
  std::string GetNamePath() const override;

 protected:
  // Tells the collection that this item (or, with allItems, every item) changed.
  void Changed(bool allItems);

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
  int32_t id_ = 0;
};

// An owned, ordered set of items of one class; streamed as a collection value.
class TCollection : public TPersistent {
  KBL_DECLARE_CLASS(TCollection, TPersistent)
 public:
  explicit TCollection(const TClassInfo* itemClass);
  ~TCollection() override;

  // Creates an item of the item class at the end (or at `index`).
  TCollectionItem* Add();
  TCollectionItem* Insert(int32_t index);
  void Delete(int32_t index);
  void Clear();
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Raises EListError for a bad index.
  TCollectionItem* GetItem(int32_t index) const;
  // Assigns `value` into the item at `index`.
  void SetItem(int32_t index, TCollectionItem* value);
  TCollectionItem* FindItemID(int32_t id) const;
  const TClassInfo* ItemClass() const { return itemClass_; }
  // From another collection: clears and adds one item per source item, each assigned.
  void Assign(TPersistent* source) override;
  void BeginUpdate();
  void EndUpdate();
  int32_t UpdateCount() const { return updateCount_; }
  std::string GetNamePath() const override;

  // Raised by the base Update after each change (item nullptr: many items).
  TMethod<void(TCollection*, TCollectionItem*)> OnUpdate;

 protected:
  virtual void Update(TCollectionItem* item);
  virtual void Notify(TCollectionItem* item, TCollectionNotification action) {}
  void Changed();

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* item);
  void RemoveItem(TCollectionItem* item);
  const TClassInfo* itemClass_;
  std::vector<TCollectionItem*> items_;
  int32_t nextId_ = 0;
  int32_t updateCount_ = 0;
};

// A collection that names its owner (for name paths and streaming).
class TOwnedCollection : public TCollection {
  KBL_DECLARE_CLASS(TOwnedCollection, TCollection)
 public:
  TOwnedCollection(TPersistent* owner, const TClassInfo* itemClass)
      : TCollection(itemClass), owner_(owner) {}
  TPersistent* GetOwner() const override { return owner_; }

 private:
  TPersistent* owner_;
};

// --- Components

KBL_ENUM(TComponentStateFlag, csLoading, csReading, csWriting, csDestroying, csDesigning, csAncestor,
         csUpdating, csFixups, csFreeNotification, csInline, csDesignInstance)
using TComponentState = TEnumSet<TComponentStateFlag>;
KBL_ENUM(TComponentStyleFlag, csInheritable, csCheckPropAvail, csSubComponent, csTransient)
using TComponentStyle = TEnumSet<TComponentStyleFlag>;
KBL_ENUM(TOperation, opInsert, opRemove)

using TGetChildProc = std::function<void(TComponent*)>;

// A persistent object with an owner, a name unique among its owner's components and free
// notification. Freeing a component frees the components it owns (last first); partners that
// asked for FreeNotification and the owner's other components get Notification(opRemove). An
// owner adds and frees each of its components in constant time, however many it owns, while
// those that hear it (see HearEverySibling) are few.
// The destructor runs after the descendants' destructors, so a descendant that must react to
// its owned components going calls DestroyComponents in its own destructor.
class TComponent : public TPersistent {
  KBL_DECLARE_CLASS(TComponent, TPersistent)
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;

  TComponent* GetOwner() const override { return owner_; }
  const std::string& GetName() const { return name_; }
  // Raises EComponentError for a name that is not an identifier ("'<name>' is not a valid
  // component name") or that another component of the owner has ("A component named <name>
  // already exists").
  virtual void SetName(const std::string& name);
  int32_t GetTag() const { return tag_; }
  void SetTag(int32_t tag) { tag_ = tag; }
  TComponentState ComponentState() const { return state_; }
  TComponentStyle ComponentStyle() const { return style_; }
  bool HasState(TComponentStateFlag flag) const { return state_.Contains(flag); }
  std::string GetNamePath() const override { return name_; }

  // --- Owned components
  int32_t ComponentCount() const { return static_cast<int32_t>(components_.size() - holes_); }
  // nullptr for a bad index.
  TComponent* GetComponent(int32_t index) const;
  int32_t GetComponentIndex() const;
  void SetComponentIndex(int32_t index);
  // The owned component of that name (case-insensitive); nullptr for "" or none.
  TComponent* FindComponent(const std::string& name) const;
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);
  void DestroyComponents();
  // Marks this component and its owned components as being destroyed.
  void Destroying();

  // --- Notification
  // Asks to be told (Notification opRemove) when `component` is freed; mutual.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);
  // The base forgets a removed partner and passes the notification on to the owned components
  // that hear it (see HearEverySibling), last first.
  virtual void Notification(TComponent* component, TOperation operation);

  // --- Streaming hooks
  // Called once on every component of a stream after the whole stream has been read.
  virtual void Loaded();
  // Reports the components written as children of this one. The default, for the root only,
  // reports the owned components that have no parent.
  virtual void GetChildren(const TGetChildProc& proc, TComponent* root);
  virtual TComponent* GetChildOwner() { return nullptr; }
  virtual TComponent* GetChildParent() { return this; }
  virtual TComponent* GetParentComponent() const { return nullptr; }
  // The component whose code this one's code counts as when it has neither owner nor parent (a
  // popup's own form: the form the popup belongs to); nullptr for most. Not streamed.
  virtual TComponent* GetCodeOwner() const { return nullptr; }
  virtual bool HasParent() const { return false; }
  virtual void SetParentComponent(TComponent* parent) {}
  virtual void SetChildOrder(TComponent* child, int32_t order) {}
  virtual void ReadState(TReader& reader);
  virtual void WriteState(TWriter& writer);
  // Streams the designer position of non-visual components as "Left" and "Top".
  void DefineProperties(TFiler& filer) override;
  int32_t DesignInfo() const { return designInfo_; }
  void SetDesignInfo(int32_t info) { designInfo_ = info; }

  void SetDesigning(bool designing, bool setChildren = true);
  void SetInline(bool value);
  void SetSubComponent(bool value);
  // State changes made by the filers.
  void IncludeState(TComponentStateFlag flag) { state_.Include(flag); }
  void ExcludeState(TComponentStateFlag flag) { state_.Exclude(flag); }

 protected:
  virtual void ValidateRename(TComponent* component, const std::string& currentName, const std::string& newName);
  // A component hears every insertion and removal among its owner's other components (its
  // siblings), passed on by the owner's Notification. A class whose Notification acts only on
  // components it asked FreeNotification of and on its own components calls this with false in
  // its constructor: it then hears its siblings only once it asked FreeNotification of one of
  // them (siblings are told through their owner), or while it owns a component that hears them.
  void HearEverySibling(bool value);

 private:
  void Insert(TComponent* component);
  void Remove(TComponent* component);
  void RemoveNotification(TComponent* component);
  bool HearsOwner() const { return hearsEverySibling_ || watchesSibling_ || !hearing_.empty(); }
  // Puts this component into its owner's hearing_ or takes it out as HearsOwner says, and so
  // on up the owners.
  void UpdateHearing();
  // Where `component` (owned) stands or would stand in hearing_.
  std::vector<TComponent*>::iterator HearingPlace(const TComponent* component);
  // Closes the holes of components_ and numbers each owned component's place anew.
  void CompactComponents() const;

  TComponent* owner_ = nullptr;
  std::string name_;
  int32_t tag_ = 0;
  int32_t designInfo_ = 0;
  // The owned components in their order. One freed leaves a hole (nullptr) behind it until the
  // holes are as many as the rest, so that freeing many, first or last first, costs each the
  // same; the last ones leave no hole.
  mutable std::vector<TComponent*> components_;
  mutable size_t holes_ = 0;
  // The owned components that hear their owner's notifications, in the order of components_.
  std::vector<TComponent*> hearing_;
  // A place in an owner's components_. Every numbering is counted (kbl_detail::
  // ComponentPlacesNumbered), so that what an owner's changes cost is known by a count.
  class TPlace {
   public:
    TPlace& operator=(size_t at);
    operator size_t() const { return at_; }

   private:
    size_t at_ = 0;
  };
  // This component's place in its owner's components_.
  mutable TPlace ownedAt_;
  bool hearsEverySibling_ = true;
  bool watchesSibling_ = false;
  bool inHearing_ = false;  // in owner_->hearing_
  std::vector<TComponent*> freeNotifies_;
  TComponentState state_;
  TComponentStyle style_;
};

namespace kbl_detail {
// Tests only: the places of owned components numbered so far, in every owner.
uint64_t ComponentPlacesNumbered();
}  // namespace kbl_detail

// --- Components' code on the stack

// Marks, for as long as it lives on the stack, that code of `component` runs on the calling
// thread: made where code of a component is entered from outside (its window procedure, Perform,
// a timer's tick, a menu command, a drop, a form's Close and modal loop, a scene's entries, a
// popup's modal loop). A component freed while marked is unmarked (the frame then holds
// nothing). Only as an automatic variable, never copied. On 32-bit Windows it is one of the
// thread's exception registrations, linked and unlinked with a few moves: an unwind that goes
// past it without its destructor (a host's guard catching a crash) takes it off with the stack
// it stood on, so that no frame outlives its stack; only registrations on the live part of the
// stack are looked at. The thread also records it (up to a few dozen at once), so that code
// left waiting on another fiber of the thread counts too: a record is trusted only when it
// stands off the running fiber's stack (on another fiber's) or on that stack's live
// registrations, and is dropped when an unwind passes it.
class TComponentFrame {
 public:
  explicit TComponentFrame(TComponent* component) noexcept;
  ~TComponentFrame();
  TComponentFrame(const TComponentFrame&) = delete;
  TComponentFrame& operator=(const TComponentFrame&) = delete;
#if defined(_WIN32) && defined(__i386__)
  struct TRecord;  // the thread's record of a frame, kept by the class library
#endif

 private:
  friend struct TComponentFrames;
#if defined(_WIN32) && defined(__i386__)
  // Called by the system for an exception dispatched or unwound past the frame: lets it pass.
  static int Handle(void* record, void* frame, void* context, void* dispatcher) noexcept;
  // The layout of an exception registration (the next one, the handler), then the component
  // and the thread's record of the frame (nullptr when the record was full).
  TComponentFrame* next_;
  void* handler_;
  TComponent* component_;
  TRecord* record_;
#else
  TComponent* component_;
  TComponentFrame* next_;
#endif
};
// True when a frame of the calling thread, on any of its fibers' stacks, marks `root` or a
// component it holds: one it owns at any depth, or a child at any depth (GetParentComponent) and
// what such a child's top parent owns, also through a top's GetCodeOwner. Freeing `root` now
// would free the object of code that has not returned yet.
bool ComponentCodeRunning(const TComponent* root);
// Unmarks `component` in the calling thread's frames and forgets what waits for its code to
// return (ResumeWhenCodeReturns); its destructor calls this.
void ForgetComponentFrames(const TComponent* component) noexcept;
// Calls `resume(component)` on the thread whose id is `thread` (LockOwnerId, the system's id on
// Windows) once no code of the component runs there (ComponentCodeRunning): when the frame that
// ended the last of it ends, or, when none runs by then, the next frame of that thread that
// ends. Any thread may ask; asked again for the same component, nothing changes. Forgotten when
// the component is freed first. `resume` must not raise.
void ResumeWhenCodeReturns(TComponent* component, uint32_t thread, void (*resume)(TComponent*));
// Resumes `component` now when it waits on the calling thread (ResumeWhenCodeReturns) and none
// of its code runs there, rather than at the thread's next frame end; otherwise does nothing
// (also for a component freed or resumed meanwhile: only the waiting list is looked at).
void ResumeIfCodeReturned(const TComponent* component) noexcept;

// True for [A-Za-z_][A-Za-z0-9_]*.
bool IsValidIdent(const std::string& text);
