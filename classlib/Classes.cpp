// Lists, string lists, persistent objects, collections and components.
#include "Classes.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>

#include "Classes_p.h"
#include "Filer.h"
#include "MemoryManager.h"
#include "NeverDestroyed.h"

// --- Class records

KBL_PUBLISHED(TList) {}
KBL_PUBLISHED(TObjectList) {}
KBL_PUBLISHED(TPersistent) {}
KBL_PUBLISHED(TStrings) {}
KBL_PUBLISHED(TStringList) {}
KBL_PUBLISHED(TCollectionItem) {}
KBL_PUBLISHED(TCollection) {}
KBL_PUBLISHED(TOwnedCollection) {}
KBL_PUBLISHED(TComponent) {
  p.Property("Name", &TComponent::GetName, &TComponent::SetName).Stored(false);
  KBL_PROP(Tag).Default(0);
}

bool IsValidIdent(const std::string& text) {
  if (text.empty()) return false;
  auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (!alpha(text[0])) return false;
  for (char c : text)
    if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

// --- TList

void TList::CheckIndex(int32_t index) const {
  if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
}

int32_t TList::Add(void* item) {
  items_.push_back(item);
  if (item) Notify(item, lnAdded);
  return Count() - 1;
}

void TList::Insert(int32_t index, void* item) {
  if (index < 0 || index > Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
  items_.insert(items_.begin() + index, item);
  if (item) Notify(item, lnAdded);
}

void TList::Delete(int32_t index) {
  CheckIndex(index);
  void* item = items_[static_cast<size_t>(index)];
  items_.erase(items_.begin() + index);
  if (item) Notify(item, lnDeleted);
}

int32_t TList::Remove(void* item) {
  int32_t index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

void* TList::Extract(void* item) {
  int32_t index = IndexOf(item);
  if (index < 0) return nullptr;
  items_.erase(items_.begin() + index);
  Notify(item, lnExtracted);
  return item;
}

void TList::Clear() {
  while (!items_.empty()) Delete(Count() - 1);
  items_.shrink_to_fit();
}

// A fresh array is made over the old one's place, which is never read again.
void TList::Abandon() { new (&items_) std::vector<void*>(); }

int32_t TList::IndexOf(const void* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int32_t>(it - items_.begin());
}

void TList::SetCount(int32_t count) {
  if (count < 0) throw EListError("List count out of bounds (" + IntToStr(count) + ")");
  while (Count() > count) Delete(Count() - 1);
  items_.resize(static_cast<size_t>(count), nullptr);
}

void TList::SetCapacity(int32_t capacity) {
  if (capacity < Count()) throw EListError("List capacity out of bounds (" + IntToStr(capacity) + ")");
  items_.reserve(static_cast<size_t>(capacity));
}

void* TList::Get(int32_t index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)];
}

void TList::Put(int32_t index, void* item) {
  CheckIndex(index);
  void* old = items_[static_cast<size_t>(index)];
  if (old == item) return;
  items_[static_cast<size_t>(index)] = item;
  if (old) Notify(old, lnDeleted);
  if (item) Notify(item, lnAdded);
}

void TList::Exchange(int32_t index1, int32_t index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  std::swap(items_[static_cast<size_t>(index1)], items_[static_cast<size_t>(index2)]);
}

void TList::Move(int32_t currentIndex, int32_t newIndex) {
  if (currentIndex == newIndex) return;
  CheckIndex(currentIndex);
  CheckIndex(newIndex);
  void* item = items_[static_cast<size_t>(currentIndex)];
  items_.erase(items_.begin() + currentIndex);
  items_.insert(items_.begin() + newIndex, item);
}

void TList::Pack() { items_.erase(std::remove(items_.begin(), items_.end(), nullptr), items_.end()); }

void TList::Sort(const std::function<int(void*, void*)>& compare) {
  std::stable_sort(items_.begin(), items_.end(), [&](void* a, void* b) { return compare(a, b) < 0; });
}

void TObjectList::Notify(void* item, TListNotification action) {
  if (ownsObjects_ && action == lnDeleted) delete static_cast<TObject*>(item);
}

// --- TPersistent

void TPersistent::Assign(TPersistent* source) {
  if (source == nullptr) AssignError(nullptr);
  source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* dest) { dest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* source) {
  throw EConvertError("Cannot assign a " + (source ? source->ClassName() : std::string("nil")) + " to a " +
                      ClassName());
}

std::string TPersistent::GetNamePath() const {
  std::string result = ClassName();
  TPersistent* owner = GetOwner();
  if (owner != nullptr) {
    std::string ownerPath = owner->GetNamePath();
    if (!ownerPath.empty()) result = ownerPath + "." + result;
  }
  return result;
}

// --- TStrings

namespace {

// Runs `body` between BeginUpdate and EndUpdate, ending the update also when it raises.
template <typename F>
void InUpdate(TStrings& strings, F&& body) {
  strings.BeginUpdate();
  try {
    body();
  } catch (...) {
    strings.EndUpdate();
    throw;
  }
  strings.EndUpdate();
}

}  // namespace

void TStrings::Error(const std::string& message, int32_t index) const {
  throw EStringListError(message + " (" + IntToStr(index) + ")");
}

void TStrings::Put(int32_t index, const std::string& text) {
  TObject* object = GetObject(index);
  InUpdate(*this, [&] {
    Delete(index);
    InsertObject(index, text, object);
  });
}

int32_t TStrings::Add(const std::string& text) {
  int32_t index = GetCount();
  Insert(index, text);
  return index;
}

int32_t TStrings::AddObject(const std::string& text, TObject* object) {
  int32_t index = Add(text);
  PutObject(index, object);
  return index;
}

void TStrings::InsertObject(int32_t index, const std::string& text, TObject* object) {
  Insert(index, text);
  PutObject(index, object);
}

void TStrings::AddStrings(const TStrings& strings) {
  InUpdate(*this, [&] {
    for (int32_t i = 0; i < strings.GetCount(); ++i) AddObject(strings.Get(i), strings.GetObject(i));
  });
}

void TStrings::Assign(TPersistent* source) {
  auto* other = AssignSource(this, source);
  if (other == nullptr) return;
  InUpdate(*this, [&] {
    Clear();
    NameValueSeparator = other->NameValueSeparator;
    Delimiter = other->Delimiter;
    QuoteChar = other->QuoteChar;
    AddStrings(*other);
  });
}

int32_t TStrings::IndexOf(const std::string& text) const {
  for (int32_t i = 0; i < GetCount(); ++i)
    if (SameText(Get(i), text)) return i;
  return -1;
}

void TStrings::Exchange(int32_t index1, int32_t index2) {
  InUpdate(*this, [&] {
    std::string t1 = Get(index1), t2 = Get(index2);
    TObject* o1 = GetObject(index1);
    TObject* o2 = GetObject(index2);
    Put(index1, t2);
    PutObject(index1, o2);
    Put(index2, t1);
    PutObject(index2, o1);
  });
}

void TStrings::Move(int32_t currentIndex, int32_t newIndex) {
  if (currentIndex == newIndex) return;
  InUpdate(*this, [&] {
    std::string text = Get(currentIndex);
    TObject* object = GetObject(currentIndex);
    Delete(currentIndex);
    InsertObject(newIndex, text, object);
  });
}

bool TStrings::Equals(const TStrings& other) const {
  if (GetCount() != other.GetCount()) return false;
  for (int32_t i = 0; i < GetCount(); ++i)
    if (Get(i) != other.Get(i)) return false;
  return true;
}

int32_t TStrings::IndexOfName(const std::string& name) const {
  for (int32_t i = 0; i < GetCount(); ++i) {
    std::string line = Get(i);
    size_t sep = line.find(NameValueSeparator);
    if (sep != std::string::npos && SameText(line.substr(0, sep), name)) return i;
  }
  return -1;
}

int32_t TStrings::IndexOfObject(const TObject* object) const {
  for (int32_t i = 0; i < GetCount(); ++i)
    if (GetObject(i) == object) return i;
  return -1;
}

std::string TStrings::Names(int32_t index) const {
  std::string line = Get(index);
  size_t sep = line.find(NameValueSeparator);
  return sep == std::string::npos ? std::string() : line.substr(0, sep);
}

std::string TStrings::ValueFromIndex(int32_t index) const {
  std::string line = Get(index);
  size_t sep = line.find(NameValueSeparator);
  return sep == std::string::npos ? std::string() : line.substr(sep + 1);
}

std::string TStrings::Values(const std::string& name) const {
  int32_t index = IndexOfName(name);
  return index < 0 ? std::string() : ValueFromIndex(index);
}

void TStrings::SetValue(const std::string& name, const std::string& value) {
  int32_t index = IndexOfName(name);
  if (!value.empty()) {
    std::string line = name + NameValueSeparator + value;
    if (index < 0) Add(line);
    else Put(index, line);
  } else if (index >= 0) {
    Delete(index);
  }
}

std::string TStrings::GetText() const {
  std::string text;
  for (int32_t i = 0; i < GetCount(); ++i) {
    text += Get(i);
    text += "\r\n";
  }
  return text;
}

void TStrings::SetText(const std::string& text) {
  InUpdate(*this, [&] {
    Clear();
    for (const std::string& line : SplitLines(text)) Add(line);
  });
}

std::string TStrings::GetDelimitedText() const {
  if (GetCount() == 1 && Get(0).empty()) return std::string(2, QuoteChar);
  std::string result;
  for (int32_t i = 0; i < GetCount(); ++i) {
    std::string s = Get(i);
    bool quote = false;
    for (char c : s)
      if (static_cast<unsigned char>(c) <= ' ' || c == Delimiter || c == QuoteChar) quote = true;
    if (i > 0) result += Delimiter;
    if (!quote) {
      result += s;
      continue;
    }
    result += QuoteChar;
    for (char c : s) {
      if (c == QuoteChar) result += QuoteChar;
      result += c;
    }
    result += QuoteChar;
  }
  return result;
}

void TStrings::SetDelimitedText(const std::string& text) {
  InUpdate(*this, [&] {
    Clear();
    size_t i = 0;
    auto skipBlanks = [&] {
      while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ' && text[i] != Delimiter) ++i;
    };
    skipBlanks();
    while (i < text.size()) {
      std::string item;
      if (text[i] == QuoteChar) {
        ++i;
        while (i < text.size()) {
          if (text[i] == QuoteChar) {
            if (i + 1 < text.size() && text[i + 1] == QuoteChar) {
              item += QuoteChar;
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          item += text[i++];
        }
      } else {
        // Unquoted items end at a blank or the delimiter, as the platform's comma text does.
        while (i < text.size() && static_cast<unsigned char>(text[i]) > ' ' && text[i] != Delimiter) item += text[i++];
      }
      Add(item);
      skipBlanks();
      if (i < text.size() && text[i] == Delimiter) {
        ++i;
        skipBlanks();
        if (i >= text.size()) Add(std::string());  // a trailing delimiter ends with an empty item
      }
    }
  });
}

std::string TStrings::GetCommaText() const {
  TStringList copy;
  for (int32_t i = 0; i < GetCount(); ++i) copy.Add(Get(i));
  return copy.GetDelimitedText();
}

void TStrings::SetCommaText(const std::string& text) {
  char delimiter = Delimiter, quote = QuoteChar;
  Delimiter = ',';
  QuoteChar = '"';
  try {
    SetDelimitedText(text);
  } catch (...) {
    Delimiter = delimiter;
    QuoteChar = quote;
    throw;
  }
  Delimiter = delimiter;
  QuoteChar = quote;
}

void TStrings::LoadFromStream(TStream& stream) {
  int64_t remaining = stream.Remaining();
  if (remaining < 0) remaining = 0;
  if (remaining > 0x7FFFFFFF) throw EStreamError("Stream too large");
  std::string text(static_cast<size_t>(remaining), '\0');
  if (remaining > 0) stream.ReadBuffer(text.data(), static_cast<int32_t>(remaining));
  SetText(text);
}

void TStrings::SaveToStream(TStream& stream) const {
  std::string text = GetText();
  if (!text.empty()) stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

void TStrings::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TStrings::SaveToFile(const std::string& fileName) const {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

void TStrings::BeginUpdate() {
  if (updateCount_++ == 0) SetUpdateState(true);
}

void TStrings::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) SetUpdateState(false);
}

void TStrings::DefineProperties(TFiler& filer) {
  bool hasData = GetCount() > 0;
  if (const TStrings* ancestor = dynamic_cast<const TStrings*>(filer.Ancestor())) hasData = !Equals(*ancestor);
  filer.DefineProperty(
      "Strings",
      [this](TReader& reader) {
        reader.ReadListBegin();
        InUpdate(*this, [&] {
          Clear();
          while (!reader.EndOfList()) Add(reader.ReadString());
        });
        reader.ReadListEnd();
      },
      [this](TWriter& writer) {
        writer.WriteListBegin();
        for (int32_t i = 0; i < GetCount(); ++i) writer.WriteString(Get(i));
        writer.WriteListEnd();
      },
      hasData);
}

// --- TStringList

TStringList::~TStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
  if (ownsObjects_)
    for (Item& item : items_) delete item.object;
}

void TStringList::CheckIndex(int32_t index) const {
  if (index < 0 || index >= GetCount()) Error("List index out of bounds", index);
}

std::string TStringList::Get(int32_t index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)].text;
}

TObject* TStringList::GetObject(int32_t index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)].object;
}

void TStringList::Put(int32_t index, const std::string& text) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  CheckIndex(index);
  Changing();
  items_[static_cast<size_t>(index)].text = text;
  Changed();
}

void TStringList::PutObject(int32_t index, TObject* object) {
  CheckIndex(index);
  Changing();
  items_[static_cast<size_t>(index)].object = object;
  Changed();
}

void TStringList::InsertItem(int32_t index, const std::string& text, TObject* object) {
  Changing();
  items_.insert(items_.begin() + index, Item{text, object});
  Changed();
}

void TStringList::Insert(int32_t index, const std::string& text) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  if (index < 0 || index > GetCount()) Error("List index out of bounds", index);
  InsertItem(index, text, nullptr);
}

void TStringList::Delete(int32_t index) {
  CheckIndex(index);
  Changing();
  TObject* object = items_[static_cast<size_t>(index)].object;
  items_.erase(items_.begin() + index);
  if (ownsObjects_) delete object;
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  std::vector<Item> old;
  old.swap(items_);
  if (ownsObjects_)
    for (Item& item : old) delete item.object;
  Changed();
}

int32_t TStringList::Add(const std::string& text) {
  if (!sorted_) {
    InsertItem(GetCount(), text, nullptr);
    return GetCount() - 1;
  }
  int32_t index = 0;
  if (Find(text, index)) {
    if (duplicates_ == dupIgnore) return index;
    if (duplicates_ == dupError) throw EStringListError("String list does not allow duplicates");
  }
  InsertItem(index, text, nullptr);
  return index;
}

int TStringList::CompareStrings(const std::string& a, const std::string& b) const {
  if (!caseSensitive_) return CompareText(a, b);
  int c = a.compare(b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int32_t TStringList::IndexOf(const std::string& text) const {
  if (sorted_) {
    int32_t index = 0;
    return Find(text, index) ? index : -1;
  }
  for (int32_t i = 0; i < GetCount(); ++i)
    if (CompareStrings(items_[static_cast<size_t>(i)].text, text) == 0) return i;
  return -1;
}

bool TStringList::Find(const std::string& text, int32_t& index) const {
  int32_t low = 0, high = GetCount() - 1;
  bool found = false;
  while (low <= high) {
    int32_t mid = low + (high - low) / 2;
    int c = CompareStrings(items_[static_cast<size_t>(mid)].text, text);
    if (c < 0) {
      low = mid + 1;
    } else {
      high = mid - 1;
      if (c == 0) {
        found = true;
        if (duplicates_ != dupAccept) low = mid;
      }
    }
  }
  index = low;
  return found;
}

void TStringList::Sort() {
  CustomSort([](TStringList& list, int32_t a, int32_t b) {
    return list.CompareStrings(list.items_[static_cast<size_t>(a)].text, list.items_[static_cast<size_t>(b)].text);
  });
}

void TStringList::CustomSort(const std::function<int(TStringList&, int32_t, int32_t)>& compare) {
  if (GetCount() < 2) return;
  Changing();
  // Sort a permutation, as the comparison sees lines by index.
  std::vector<int32_t> order(items_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int32_t>(i);
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return compare(*this, a, b) < 0; });
  std::vector<Item> sorted;
  sorted.reserve(items_.size());
  for (int32_t i : order) sorted.push_back(items_[static_cast<size_t>(i)]);
  items_.swap(sorted);
  Changed();
}

void TStringList::SetSorted(bool sorted) {
  if (sorted == sorted_) return;
  if (sorted) Sort();
  sorted_ = sorted;
}

void TStringList::SetCaseSensitive(bool value) {
  if (value == caseSensitive_) return;
  caseSensitive_ = value;
  if (sorted_) Sort();
}

void TStringList::Changed() {
  if (UpdateCount() == 0) OnChange(this);
}

void TStringList::Changing() {
  if (UpdateCount() == 0) OnChanging(this);
}

void TStringList::SetUpdateState(bool updating) {
  // Called with the count already 1 (begin) or 0 (end): fire once around the whole update.
  if (updating) OnChanging(this);
  else Changed();
}

// --- TCollectionItem

TCollectionItem::TCollectionItem(TCollection* collection) { SetCollection(collection); }

TCollectionItem::~TCollectionItem() { SetCollection(nullptr); }

void TCollectionItem::SetCollection(TCollection* collection) {
  if (collection == collection_) return;
  if (collection_ != nullptr) collection_->RemoveItem(this);
  if (collection != nullptr) collection->InsertItem(this);
}

int32_t TCollectionItem::GetIndex() const {
  if (collection_ == nullptr) return -1;
  auto& items = collection_->items_;
  auto it = std::find(items.begin(), items.end(), this);
  return it == items.end() ? -1 : static_cast<int32_t>(it - items.begin());
}

void TCollectionItem::SetIndex(int32_t index) {
  int32_t current = GetIndex();
  if (current < 0 || current == index) return;
  auto& items = collection_->items_;
  if (index < 0 || index >= static_cast<int32_t>(items.size()))
    throw EListError("List index out of bounds (" + IntToStr(index) + ")");
  items.erase(items.begin() + current);
  items.insert(items.begin() + index, this);
  Changed(true);
}

TPersistent* TCollectionItem::GetOwner() const { return collection_; }

std::string TCollectionItem::GetNamePath() const {
  if (collection_ == nullptr) return ClassName();
  return collection_->GetNamePath() + "[" + IntToStr(GetIndex()) + "]";
}

void TCollectionItem::Changed(bool allItems) {
  if (collection_ != nullptr && collection_->updateCount_ == 0) collection_->Update(allItems ? nullptr : this);
}

// --- TCollection

TCollection::TCollection(const TClassInfo* itemClass) : itemClass_(itemClass) {}

TCollection::~TCollection() {
  ++updateCount_;  // no change events while the items go
  OnUpdate = nullptr;
  while (!items_.empty()) delete items_.back();
}

void TCollection::InsertItem(TCollectionItem* item) {
  items_.push_back(item);
  item->collection_ = this;
  item->id_ = nextId_++;
  Notify(item, cnAdded);
  Changed();
}

void TCollection::RemoveItem(TCollectionItem* item) {
  Notify(item, cnExtracting);
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it != items_.end()) items_.erase(it);
  item->collection_ = nullptr;
  Changed();
}

TCollectionItem* TCollection::Add() {
  if (itemClass_ == nullptr) throw EInvalidOperation("Collection has no item class");
  TObject* object = itemClass_->Create(this);
  TCollectionItem* item = dynamic_cast<TCollectionItem*>(object);
  if (item == nullptr) {
    delete object;
    throw EInvalidOperation("Class " + itemClass_->Name + " is not a collection item");
  }
  if (item->collection_ != this) item->SetCollection(this);
  return item;
}

TCollectionItem* TCollection::Insert(int32_t index) {
  if (index < 0 || index > Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
  TCollectionItem* item = Add();
  item->SetIndex(index);
  return item;
}

void TCollection::Delete(int32_t index) {
  TCollectionItem* item = GetItem(index);
  Notify(item, cnDeleting);
  delete item;
}

void TCollection::Clear() {
  if (items_.empty()) return;
  BeginUpdate();
  while (!items_.empty()) delete items_.back();
  EndUpdate();
}

TCollectionItem* TCollection::GetItem(int32_t index) const {
  if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
  return items_[static_cast<size_t>(index)];
}

void TCollection::SetItem(int32_t index, TCollectionItem* value) { GetItem(index)->Assign(value); }

TCollectionItem* TCollection::FindItemID(int32_t id) const {
  for (TCollectionItem* item : items_)
    if (item->id_ == id) return item;
  return nullptr;
}

void TCollection::Assign(TPersistent* source) {
  auto* other = AssignSource(this, source);
  if (other == nullptr) return;
  BeginUpdate();
  try {
    Clear();
    for (TCollectionItem* item : other->items_) Add()->Assign(item);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::BeginUpdate() { ++updateCount_; }

void TCollection::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) Changed();
}

std::string TCollection::GetNamePath() const {
  TPersistent* owner = GetOwner();
  if (owner == nullptr) return ClassName();
  std::string ownerPath = owner->GetNamePath();
  if (ownerPath.empty()) return ClassName();
  // The owner's property that holds this collection names it.
  for (const TPropInfo* prop : owner->ClassInfo()->Properties)
    if (prop->PropType->Kind == tkClass && prop->Access->GetObject(owner) == this) return ownerPath + "." + prop->Name;
  return ownerPath + "." + ClassName();
}

void TCollection::Update(TCollectionItem* item) { OnUpdate(this, item); }

void TCollection::Changed() {
  if (updateCount_ == 0) Update(nullptr);
}

// --- Components' code on the stack

// What reaches a frame's fields.
struct TComponentFrames {
  // Calls `visit(component)`, with a reference to the component a frame marks, for each frame
  // of the calling thread.
  template <class TVisit>
  static void Each(TVisit&& visit);
};

namespace {

// The component above `c` whose code `c`'s counts as: its owner, or for a top without one the
// component it names (GetCodeOwner).
const TComponent* CodeAbove(const TComponent* c) {
  const TComponent* owner = c->GetOwner();
  return owner != nullptr ? owner : c->GetCodeOwner();
}

// `component` is `root` or held by it: along its owners, or along its parents and then the
// owners of the top one.
bool HeldBy(const TComponent* component, const TComponent* root) {
  for (const TComponent* c = component; c != nullptr; c = CodeAbove(c))
    if (c == root) return true;
  for (const TComponent* c = component; c != nullptr;) {
    if (c == root) return true;
    const TComponent* parent = c->GetParentComponent();
    c = parent != nullptr ? parent : CodeAbove(c);
  }
  return false;
}

// A component waiting for its code to return on a thread (ResumeWhenCodeReturns).
struct TWaiting {
  TComponent* component;
  uint32_t thread;
  void (*resume)(TComponent*);
};
// How many wait: every frame's end reads it, so that the list is locked only while one waits.
std::atomic<int32_t> g_waitingCount{0};

std::mutex& WaitingLock() {
  static TNeverDestroyed<std::mutex> lock;
  return lock.Get();
}

std::vector<TWaiting>& WaitingList() {
  static TNeverDestroyed<std::vector<TWaiting>> list;
  return list.Get();
}

// Takes the entries `drop` picks off the list; an emptied list gives its block back (it lives
// for ever, and would otherwise stand in a leak report).
template <class TDrop>
void DropWaiting(TDrop&& drop) {
  std::vector<TWaiting>& list = WaitingList();
  std::erase_if(list, drop);
  if (list.empty()) std::vector<TWaiting>().swap(list);
  g_waitingCount.store(static_cast<int32_t>(list.size()), std::memory_order_relaxed);
}

// Takes a waiting component whose code has returned off the list and resumes it, unless another
// look took it first. A component waits on one thread at a time.
void TakeAndResume(const TWaiting& due) {
  bool taken = false;
  {
    const std::lock_guard<std::mutex> guard(WaitingLock());
    const size_t before = WaitingList().size();
    DropWaiting([&](const TWaiting& w) { return w.component == due.component; });
    taken = WaitingList().size() != before;
  }
  if (taken) due.resume(due.component);
}

// Resumes this thread's waiting components whose code has returned, one at a time: a resume
// may end further frames, which look again.
void ResumeReturned() noexcept {
  const uint32_t self = LockOwnerId();
  try {
    while (true) {
      std::vector<TWaiting> mine;
      {
        const std::lock_guard<std::mutex> guard(WaitingLock());
        for (const TWaiting& w : WaitingList())
          if (w.thread == self) mine.push_back(w);
      }
      // Looked at outside the lock: holders answer through virtual calls of their own.
      auto due = std::find_if(mine.begin(), mine.end(), [](const TWaiting& w) { return !ComponentCodeRunning(w.component); });
      if (due == mine.end()) return;
      TakeAndResume(*due);
    }
  } catch (...) {
    // Out of memory for the look: the components wait for the next frame's end.
  }
}

}  // namespace

#if defined(_WIN32) && defined(__i386__)

// The thread's frames on whichever fiber's stack they stand: a fiber that switched away from
// inside a component's code shows its frames on no other fiber's chain.
struct TComponentFrame::TRecord {
  const TComponentFrame* frame;  // nullptr: a free place
  TComponent* component;
};

namespace {

constexpr size_t kFrameRecords = 48;
// Plain data: the first frame of a thread finds it zeroed.
thread_local TComponentFrame::TRecord t_frameRecords[kFrameRecords];

constexpr uint32_t kUnwinding = 2 | 4;  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND

// The running fiber's stack, from its limit up to its base.
bool OnRunningStack(uintptr_t at) {
  uintptr_t high = 0, low = 0;
  asm volatile("movl %%fs:4, %0" : "=r"(high));
  asm volatile("movl %%fs:8, %0" : "=r"(low));
  return at >= low && at < high;
}

}  // namespace

int TComponentFrame::Handle(void* record, void* frame, void*, void*) noexcept {
  // An unwind that goes past the frame without its destructor (a host's guard catching a fault)
  // ends it: its record goes with it.
  const uint32_t flags = static_cast<const uint32_t*>(record)[1];
  auto* self = static_cast<TComponentFrame*>(frame);
  if ((flags & kUnwinding) != 0 && self->record_ != nullptr && self->record_->frame == self) self->record_->frame = nullptr;
  return 1;  // ExceptionContinueSearch
}

TComponentFrame::TComponentFrame(TComponent* component) noexcept
    : handler_(reinterpret_cast<void*>(&TComponentFrame::Handle)), component_(component), record_(nullptr) {
  asm volatile("movl %%fs:0, %0" : "=r"(next_));
  asm volatile("movl %0, %%fs:0" : : "r"(this) : "memory");
  for (TRecord& r : t_frameRecords) {
    if (r.frame != nullptr) continue;
    r = {this, component};
    record_ = &r;
    break;
  }
}

TComponentFrame::~TComponentFrame() {
  // A record found stale meanwhile may serve another frame by now.
  if (record_ != nullptr && record_->frame == this) record_->frame = nullptr;
  asm volatile("movl %0, %%fs:0" : : "r"(next_) : "memory");
  if (g_waitingCount.load(std::memory_order_relaxed) != 0) ResumeReturned();
}

// The components of the thread's frames, by reference, innermost first on the running fiber:
// its registrations from the head on, followed while they lie on the live part of the stack
// (between this call and the stack's base); frames are those with this module's handler, and a
// registration an unwind skipped is no longer on the chain. Registrations mostly go up the stack,
// but two made in one function may stand there in either order: the walk is bounded by a count,
// not by their order. Then the records of frames on other fibers' stacks; a record on the running
// stack off its live chain is stale (a jump past the frame) and goes.
template <class TVisit>
void TComponentFrames::Each(TVisit&& visit) {
  const auto chain = [](auto&& step) {
    constexpr int32_t kMostRegistrations = 4096;  // a damaged chain ends the walk all the same
    uintptr_t at = 0, high = 0;
    asm volatile("movl %%fs:0, %0" : "=r"(at));
    asm volatile("movl %%fs:4, %0" : "=r"(high));
    const uintptr_t low = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    for (int32_t steps = 0; steps < kMostRegistrations && at >= low && high > sizeof(TComponentFrame) &&
                            at <= high - sizeof(TComponentFrame) && (at & 3) == 0;
         ++steps) {
      auto* frame = reinterpret_cast<TComponentFrame*>(at);
      if (frame->handler_ == reinterpret_cast<void*>(&TComponentFrame::Handle)) step(frame);
      at = reinterpret_cast<uintptr_t>(frame->next_);
    }
  };
  chain([&](TComponentFrame* frame) { visit(frame->component_); });
  for (TComponentFrame::TRecord& r : t_frameRecords) {
    if (r.frame == nullptr) continue;
    if (!OnRunningStack(reinterpret_cast<uintptr_t>(r.frame))) {
      visit(r.component);
      continue;
    }
    bool live = false;
    chain([&](TComponentFrame* frame) { live = live || frame == r.frame; });
    if (!live) r.frame = nullptr;
  }
}

#else

namespace {
// The innermost frame of the calling thread; frames link outwards.
thread_local TComponentFrame* t_componentFrames = nullptr;
}  // namespace

TComponentFrame::TComponentFrame(TComponent* component) noexcept
    : component_(component), next_(t_componentFrames) {
  t_componentFrames = this;
}

TComponentFrame::~TComponentFrame() {
  t_componentFrames = next_;
  if (g_waitingCount.load(std::memory_order_relaxed) != 0) ResumeReturned();
}

template <class TVisit>
void TComponentFrames::Each(TVisit&& visit) {
  for (TComponentFrame* f = t_componentFrames; f != nullptr; f = f->next_) visit(f->component_);
}

#endif

bool ComponentCodeRunning(const TComponent* root) {
  bool running = false;
  TComponentFrames::Each([&](const TComponent* c) {
    if (!running && c != nullptr && HeldBy(c, root)) running = true;
  });
  return running;
}

void ForgetComponentFrames(const TComponent* component) noexcept {
  TComponentFrames::Each([&](TComponent*& c) {
    if (c == component) c = nullptr;
  });
#if defined(_WIN32) && defined(__i386__)
  // Records of frames on the running stack are visited through their frames: theirs too.
  for (TComponentFrame::TRecord& r : t_frameRecords)
    if (r.component == component) r.component = nullptr;
#endif
  if (g_waitingCount.load(std::memory_order_relaxed) == 0) return;
  const std::lock_guard<std::mutex> guard(WaitingLock());
  DropWaiting([&](const TWaiting& w) { return w.component == component; });
}

void ResumeWhenCodeReturns(TComponent* component, uint32_t thread, void (*resume)(TComponent*)) {
  const std::lock_guard<std::mutex> guard(WaitingLock());
  std::vector<TWaiting>& list = WaitingList();
  for (const TWaiting& w : list)
    if (w.component == component) return;
  list.push_back({component, thread, resume});
  g_waitingCount.store(static_cast<int32_t>(list.size()), std::memory_order_relaxed);
}

void ResumeIfCodeReturned(const TComponent* component) noexcept {
  if (g_waitingCount.load(std::memory_order_relaxed) == 0) return;
  const uint32_t self = LockOwnerId();
  const auto mine = [&](const TWaiting& w) { return w.component == component && w.thread == self; };
  try {
    TWaiting due{};
    {
      const std::lock_guard<std::mutex> guard(WaitingLock());
      const std::vector<TWaiting>& list = WaitingList();
      auto found = std::find_if(list.begin(), list.end(), mine);
      if (found == list.end()) return;
      due = *found;
    }
    // Looked at outside the lock, as at a frame's end.
    if (!ComponentCodeRunning(due.component)) TakeAndResume(due);
  } catch (...) {
    // The component waits for the thread's next frame end.
  }
}

// --- TComponent

namespace kbl_detail {
thread_local bool constructingForReader = false;
}  // namespace kbl_detail

namespace {
std::atomic<uint64_t> gPlacesNumbered{0};
}  // namespace

uint64_t kbl_detail::ComponentPlacesNumbered() { return gPlacesNumbered.load(std::memory_order_relaxed); }

TComponent::TPlace& TComponent::TPlace::operator=(size_t at) {
  gPlacesNumbered.fetch_add(1, std::memory_order_relaxed);
  at_ = at;
  return *this;
}

TComponent::TComponent(TComponent* owner) {
  if (kbl_detail::constructingForReader) {
    kbl_detail::constructingForReader = false;
    state_.Include(csLoading);
  }
  if (owner != nullptr) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  ForgetComponentFrames(this);
  Destroying();
  // A partner's Notification may change the list: walk from the end and clamp the index.
  for (size_t i = freeNotifies_.size(); i > 0;) {
    --i;
    if (i >= freeNotifies_.size()) {
      if (freeNotifies_.empty()) break;
      i = freeNotifies_.size() - 1;
    }
    freeNotifies_[i]->Notification(this, opRemove);
  }
  // Partners that did not forget this one must not keep a pointer to it.
  for (TComponent* partner : freeNotifies_) partner->RemoveNotification(this);
  freeNotifies_.clear();
  DestroyComponents();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

std::vector<TComponent*>::iterator TComponent::HearingPlace(const TComponent* component) {
  return std::lower_bound(hearing_.begin(), hearing_.end(), component->ownedAt_,
                          [](const TComponent* c, size_t at) { return c->ownedAt_ < at; });
}

void TComponent::Insert(TComponent* component) {
  component->ownedAt_ = components_.size();
  components_.push_back(component);
  component->owner_ = this;
  if (!component->HearsOwner()) return;
  // The newest component stands last.
  hearing_.push_back(component);
  component->inHearing_ = true;
  UpdateHearing();
}

void TComponent::Remove(TComponent* component) {
  if (component->inHearing_) {
    component->inHearing_ = false;
    auto at = HearingPlace(component);
    if (at != hearing_.end() && *at == component) hearing_.erase(at);
    UpdateHearing();
  }
  size_t at = component->ownedAt_;
  if (at >= components_.size() || components_[at] != component) {
    auto it = std::find(components_.begin(), components_.end(), component);
    at = it != components_.end() ? static_cast<size_t>(it - components_.begin()) : components_.size();
  }
  if (at < components_.size()) {
    components_[at] = nullptr;
    ++holes_;
    while (!components_.empty() && components_.back() == nullptr) {
      components_.pop_back();
      --holes_;
    }
    if (holes_ > components_.size() - holes_) CompactComponents();
  }
  component->owner_ = nullptr;
}

void TComponent::CompactComponents() const {
  if (holes_ == 0) return;
  size_t to = 0;
  for (TComponent* c : components_) {
    if (c == nullptr) continue;
    c->ownedAt_ = to;
    components_[to++] = c;
  }
  components_.resize(to);
  holes_ = 0;
}

void TComponent::UpdateHearing() {
  for (TComponent* c = this; c->owner_ != nullptr; c = c->owner_) {
    const bool hears = c->HearsOwner();
    if (hears == c->inHearing_) return;
    c->inHearing_ = hears;
    std::vector<TComponent*>& hearing = c->owner_->hearing_;
    auto at = c->owner_->HearingPlace(c);
    if (hears) hearing.insert(at, c);
    else if (at != hearing.end() && *at == c) hearing.erase(at);
  }
}

void TComponent::HearEverySibling(bool value) {
  hearsEverySibling_ = value;
  UpdateHearing();
}

void TComponent::InsertComponent(TComponent* component) {
  if (component == nullptr) return;
  if (component->owner_ != nullptr) component->owner_->RemoveComponent(component);
  ValidateRename(component, std::string(), component->name_);
  Insert(component);
  if (HasState(csDesigning)) component->SetDesigning(true);
  Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (component == nullptr || component->owner_ != this) return;
  Notification(component, opRemove);
  Remove(component);
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* instance = components_.back();  // never a hole
    if (instance->HasState(csFreeNotification) || (HasState(csDesigning) && HasState(csInline)))
      RemoveComponent(instance);
    else
      Remove(instance);
    delete instance;
  }
}

void TComponent::Destroying() {
  if (HasState(csDestroying)) return;
  state_.Include(csDestroying);
  for (TComponent* c : components_)
    if (c != nullptr) c->Destroying();
}

TComponent* TComponent::GetComponent(int32_t index) const {
  if (index < 0 || index >= ComponentCount()) return nullptr;
  CompactComponents();
  return components_[static_cast<size_t>(index)];
}

int32_t TComponent::GetComponentIndex() const {
  if (owner_ == nullptr) return -1;
  owner_->CompactComponents();
  return static_cast<int32_t>(ownedAt_);
}

void TComponent::SetComponentIndex(int32_t index) {
  int32_t current = GetComponentIndex();
  if (current < 0) return;
  auto& list = owner_->components_;
  index = std::clamp<int32_t>(index, 0, static_cast<int32_t>(list.size()) - 1);
  list.erase(list.begin() + current);
  list.insert(list.begin() + index, this);
  // The places are numbered anew, and those that hear the owner follow the new order.
  auto& hearing = owner_->hearing_;
  hearing.clear();
  for (size_t i = 0; i < list.size(); ++i) {
    list[i]->ownedAt_ = i;
    if (list[i]->inHearing_) hearing.push_back(list[i]);
  }
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (c != nullptr && SameText(c->name_, name)) return c;
  return nullptr;
}

void TComponent::ValidateRename(TComponent* component, const std::string& currentName, const std::string& newName) {
  // Also checked when a named component joins this owner, so that names stay unique.
  if (component == nullptr || SameText(currentName, newName)) return;
  TComponent* existing = FindComponent(newName);
  if (existing != nullptr && existing != component)
    throw EComponentError("A component named " + newName + " already exists");
}

void TComponent::SetName(const std::string& name) {
  if (name_ == name) return;
  if (!name.empty() && !IsValidIdent(name)) throw EComponentError("'" + name + "' is not a valid component name");
  if (owner_ != nullptr) owner_->ValidateRename(this, name_, name);
  name_ = name;
}

void TComponent::FreeNotification(TComponent* component) {
  if (component == nullptr || component == this) return;
  // Components of one owner hear of each other through the owner's notification: the one asking
  // hears it from now on.
  if (owner_ == nullptr || component->owner_ != owner_) {
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), component) == freeNotifies_.end()) {
      freeNotifies_.push_back(component);
      component->FreeNotification(this);
    }
  } else if (!component->watchesSibling_) {
    component->watchesSibling_ = true;
    component->UpdateHearing();
  }
  state_.Include(csFreeNotification);
}

void TComponent::RemoveNotification(TComponent* component) {
  auto it = std::find(freeNotifies_.begin(), freeNotifies_.end(), component);
  if (it != freeNotifies_.end()) freeNotifies_.erase(it);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (component == nullptr) return;
  RemoveNotification(component);
  component->RemoveNotification(this);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component != nullptr) RemoveFreeNotification(component);
  // A handler may add or free components meanwhile: the index is kept within the list.
  int32_t i = static_cast<int32_t>(hearing_.size()) - 1;
  while (i >= 0) {
    hearing_[static_cast<size_t>(i)]->Notification(component, operation);
    --i;
    if (i >= static_cast<int32_t>(hearing_.size())) i = static_cast<int32_t>(hearing_.size()) - 1;
  }
}

void TComponent::Loaded() { state_.Exclude(csLoading); }

void TComponent::GetChildren(const TGetChildProc& proc, TComponent* root) {
  if (root != this) return;
  for (TComponent* c : std::vector<TComponent*>(components_))
    if (c != nullptr && !c->HasParent()) proc(c);
}

void TComponent::ReadState(TReader& reader) { reader.ReadData(this); }

void TComponent::WriteState(TWriter& writer) { writer.WriteData(this); }

void TComponent::DefineProperties(TFiler& filer) {
  int32_t ancestorInfo = 0;
  if (const TComponent* ancestor = dynamic_cast<const TComponent*>(filer.Ancestor())) ancestorInfo = ancestor->designInfo_;
  const uint32_t info = static_cast<uint32_t>(designInfo_);
  const uint32_t other = static_cast<uint32_t>(ancestorInfo);
  filer.DefineProperty(
      "Left",
      [this](TReader& r) {
        uint32_t low = static_cast<uint32_t>(r.ReadInteger()) & 0xFFFFu;
        designInfo_ = static_cast<int32_t>((static_cast<uint32_t>(designInfo_) & 0xFFFF0000u) | low);
      },
      [this](TWriter& w) { w.WriteInteger(static_cast<int32_t>(static_cast<uint32_t>(designInfo_) & 0xFFFFu)); },
      (info & 0xFFFFu) != (other & 0xFFFFu));
  filer.DefineProperty(
      "Top",
      [this](TReader& r) {
        uint32_t high = (static_cast<uint32_t>(r.ReadInteger()) & 0xFFFFu) << 16;
        designInfo_ = static_cast<int32_t>((static_cast<uint32_t>(designInfo_) & 0xFFFFu) | high);
      },
      [this](TWriter& w) { w.WriteInteger(static_cast<int32_t>(static_cast<uint32_t>(designInfo_) >> 16)); },
      (info >> 16) != (other >> 16));
}

void TComponent::SetDesigning(bool designing, bool setChildren) {
  if (designing) state_.Include(csDesigning);
  else state_.Exclude(csDesigning);
  if (setChildren)
    for (TComponent* c : components_)
      if (c != nullptr) c->SetDesigning(designing, true);
}

void TComponent::SetInline(bool value) {
  if (value) state_.Include(csInline);
  else state_.Exclude(csInline);
}

void TComponent::SetSubComponent(bool value) {
  if (value) style_.Include(csSubComponent);
  else style_.Exclude(csSubComponent);
}
