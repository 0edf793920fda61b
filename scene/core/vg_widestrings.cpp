// Wide-string lists of the scene engine.
#include "vg_widestrings.h"

#include <algorithm>

#include "classlib/Filer.h"
#include "classlib/SysUtils.h"

KBL_PUBLISHED(TvgWideStrings) {}
KBL_PUBLISHED(TvgWideStringList) {}

namespace {

constexpr const char* kListIndexError = "list index error";
constexpr const char* kSortedListError = "sorted list error";
constexpr const char* kDuplicateString = "Doublicate string";  // the system's own spelling

bool IsLineBreak(WideChar c) {
  return c == 0x0A || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x2028 || c == 0x2029;
}

WideChar FoldCase(WideChar c) {
  if (c >= u'a' && c <= u'z') return static_cast<WideChar>(c - 0x20);
  if (c < 0xE0) return c;
  if (c <= 0xFE && c != 0xF7) return static_cast<WideChar>(c - 0x20);  // Latin-1
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {  // Latin Extended-A: pairs, upper case first
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : static_cast<WideChar>(c - 1);
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c & 1) ? static_cast<WideChar>(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<WideChar>(c - 0x20);  // Greek
  if (c >= 0x430 && c <= 0x44F) return static_cast<WideChar>(c - 0x20);               // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return static_cast<WideChar>(c - 0x50);
  return c;
}

// Splits into the wide list's lines.
template <typename Add>
void SplitLines(const WideString& text, Add add) {
  size_t start = 0;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    if (!IsLineBreak(text[i])) {
      ++i;
      continue;
    }
    add(text.substr(start, i - start));
    if (text[i] == 0x0D && i + 1 < n && text[i + 1] == 0x0A) ++i;
    ++i;
    start = i;
  }
  if (start < n) add(text.substr(start));
}

}  // namespace

int vgWideCompareText(const WideString& a, const WideString& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const WideChar x = FoldCase(a[i]), y = FoldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// --- TvgWideStrings: lines

WideString TvgWideStrings::GetTextStr() const {
  WideString result;
  const int32_t count = GetCount();
  for (int32_t i = 0; i < count; ++i) {
    result += Get(i);
    result += u"\r\n";
  }
  return result;
}

void TvgWideStrings::Put(int32_t index, const WideString& text) {
  TObject* object = GetObject(index);
  Delete(index);
  InsertObject(index, text, object);
}

void TvgWideStrings::SetTextStr(const WideString& text) {
  BeginUpdate();
  try {
    Clear();
    SplitLines(text, [this](const WideString& line) { Add(line); });
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TvgWideStrings::SetText(const WideChar* text) {
  SetTextStr(text ? WideString(text) : WideString());
}

int32_t TvgWideStrings::Add(const WideString& text) {
  const int32_t index = GetCount();
  Insert(index, text);
  return index;
}

int32_t TvgWideStrings::AddObject(const WideString& text, TObject* object) {
  const int32_t index = Add(text);
  PutObject(index, object);
  return index;
}

void TvgWideStrings::InsertObject(int32_t index, const WideString& text, TObject* object) {
  Insert(index, text);
  PutObject(index, object);
}

void TvgWideStrings::AddStrings(const TvgWideStrings& strings) {
  // A list added to itself would grow while it is walked.
  const int32_t count = strings.GetCount();
  BeginUpdate();
  try {
    for (int32_t i = 0; i < count; ++i) AddObject(strings.Get(i), strings.GetObject(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TvgWideStrings::AddAnsiStrings(const TStrings& strings) {
  BeginUpdate();
  try {
    for (int32_t i = 0; i < strings.Count(); ++i) AddObject(AnsiToWide(strings.Get(i)), strings.GetObject(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TvgWideStrings::Exchange(int32_t index1, int32_t index2) {
  BeginUpdate();
  try {
    const WideString text = Get(index1);
    TObject* object = GetObject(index1);
    Put(index1, Get(index2));
    PutObject(index1, GetObject(index2));
    Put(index2, text);
    PutObject(index2, object);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TvgWideStrings::Move(int32_t currentIndex, int32_t newIndex) {
  if (currentIndex == newIndex) return;
  if (currentIndex < 0 || currentIndex >= GetCount() || newIndex < 0 || newIndex >= GetCount()) {
    Error(kListIndexError);
    return;
  }
  BeginUpdate();
  try {
    const WideString text = Get(currentIndex);
    TObject* object = GetObject(currentIndex);
    Delete(currentIndex);
    InsertObject(newIndex, text, object);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

int32_t TvgWideStrings::IndexOf(const WideString& text) const {
  const int32_t count = GetCount();
  for (int32_t i = 0; i < count; ++i) {
    if (CompareStrings(Get(i), text) == 0) return i;
  }
  return -1;
}

int32_t TvgWideStrings::IndexOfName(const WideString& name) const {
  const int32_t count = GetCount();
  for (int32_t i = 0; i < count; ++i) {
    const WideString line = Get(i);
    const size_t eq = line.find(u'=');
    if (eq != WideString::npos && CompareStrings(line.substr(0, eq), name) == 0) return i;
  }
  return -1;
}

int32_t TvgWideStrings::IndexOfValue(const WideString& value) const {
  const int32_t count = GetCount();
  for (int32_t i = 0; i < count; ++i) {
    const WideString line = Get(i);
    const size_t eq = line.find(u'=');
    if (eq != WideString::npos && CompareStrings(line.substr(eq + 1), value) == 0) return i;
  }
  return -1;
}

WideString TvgWideStrings::Names(int32_t index) const {
  const WideString line = Get(index);
  const size_t eq = line.find(u'=');
  return eq == WideString::npos ? WideString() : line.substr(0, eq);
}

WideString TvgWideStrings::Values(const WideString& name) const {
  const int32_t index = IndexOfName(name);
  if (index < 0) return WideString();
  const WideString line = Get(index);
  return line.substr(line.find(u'=') + 1);
}

// The update state changes while the count is still (or again) 0, so the list's Changing and
// Changed notifications fire once around the whole batch.
void TvgWideStrings::BeginUpdate() {
  if (updateCount_ == 0) SetUpdateState(true);
  ++updateCount_;
}

void TvgWideStrings::EndUpdate() {
  if (updateCount_ <= 0) return;
  if (--updateCount_ == 0) SetUpdateState(false);
}

bool TvgWideStrings::Equals(const TvgWideStrings& other) const {
  const int32_t count = GetCount();
  if (count != other.GetCount()) return false;
  for (int32_t i = 0; i < count; ++i) {
    if (Get(i) != other.Get(i)) return false;
  }
  return true;
}

// --- TvgWideStrings: files and streams

void TvgWideStrings::LoadFromFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyNone);
  LoadFromStream(stream);
}

void TvgWideStrings::LoadFromStream(TStream& stream) {
  BeginUpdate();
  try {
    const int64_t size = std::max<int64_t>(stream.Remaining(), 0);
    if (size > 0x7FFFFFFF) throw EReadError("Stream read error");
    std::string bytes(static_cast<size_t>(size), '\0');
    if (size > 0) stream.ReadBuffer(bytes.data(), static_cast<int32_t>(size));
    const bool littleMark = size >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE;
    const bool bigMark = size >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFE && static_cast<uint8_t>(bytes[1]) == 0xFF;
    if (littleMark || bigMark) {
      WideString text;
      const size_t chars = (bytes.size() - 2) / 2;
      text.resize(chars);
      for (size_t i = 0; i < chars; ++i) {
        const auto b0 = static_cast<uint8_t>(bytes[2 + 2 * i]);
        const auto b1 = static_cast<uint8_t>(bytes[3 + 2 * i]);
        // A big-endian mark means big-endian characters: swap each pair.
        text[i] = littleMark ? static_cast<WideChar>(b0 | b1 << 8) : static_cast<WideChar>(b1 | b0 << 8);
      }
      SetTextStr(text);
    } else {
      SetTextStr(AnsiToWide(bytes));
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TvgWideStrings::SaveToFile(const std::string& fileName) const {
  TFileStream stream(fileName, fmCreate);
  SaveToStream(stream);
}

void TvgWideStrings::SaveToAnsiFile(const std::string& fileName) const {
  const std::string text = WideToAnsi(GetTextStr());
  TFileStream stream(fileName, fmCreate);
  if (!text.empty()) stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

void TvgWideStrings::SaveToStream(TStream& stream) const {
  const WideString text = GetTextStr();
  std::string bytes;
  bytes.reserve(2 + text.size() * 2);
  bytes.push_back(static_cast<char>(0xFF));
  bytes.push_back(static_cast<char>(0xFE));
  for (WideChar c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  stream.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// --- TvgWideStrings: persistence

void TvgWideStrings::Assign(TPersistent* source) {
  if (auto* wide = dynamic_cast<TvgWideStrings*>(source)) {
    if (wide == this) return;
    BeginUpdate();
    try {
      Clear();
      AddStrings(*wide);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  if (auto* ansi = dynamic_cast<TStrings*>(source)) {
    BeginUpdate();
    try {
      Clear();
      AddAnsiStrings(*ansi);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  TPersistent::Assign(source);
}

void TvgWideStrings::AssignTo(TPersistent* dest) {
  if (auto* ansi = dynamic_cast<TStrings*>(dest)) {
    ansi->BeginUpdate();
    try {
      ansi->Clear();
      for (int32_t i = 0; i < GetCount(); ++i) ansi->AddObject(WideToAnsi(Get(i)), GetObject(i));
    } catch (...) {
      ansi->EndUpdate();
      throw;
    }
    ansi->EndUpdate();
    return;
  }
  if (auto* wide = dynamic_cast<TvgWideStrings*>(dest)) {
    wide->Assign(this);
    return;
  }
  TPersistent::AssignTo(dest);
}

void TvgWideStrings::DefineProperties(TFiler& filer) {
  bool hasData;
  if (filer.Ancestor() == nullptr) {
    hasData = GetCount() > 0;
  } else if (auto* ancestor = dynamic_cast<TvgWideStrings*>(filer.Ancestor())) {
    hasData = !Equals(*ancestor);
  } else {
    hasData = true;
  }
  filer.DefineProperty("strings", [this](TReader& r) { ReadData(r); }, [this](TWriter& w) { WriteData(w); },
                       hasData);
}

void TvgWideStrings::ReadData(TReader& reader) {
  reader.ReadListBegin();
  BeginUpdate();
  try {
    Clear();
    while (!reader.EndOfList()) Add(reader.ReadWideString());
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  reader.ReadListEnd();
}

void TvgWideStrings::WriteData(TWriter& writer) {
  writer.WriteListBegin();
  for (int32_t i = 0; i < GetCount(); ++i) {
    // Always as a wide-string value (tag, 32-bit character count, UTF-16 little-endian), the
    // layout forms have always used for these lines, even when the text is plain ASCII.
    const WideString line = Get(i);
    writer.WriteValue(vaWString);
    const auto length = static_cast<uint32_t>(line.size());
    const uint8_t size[4] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                             static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
    writer.Write(size, 4);
    std::string bytes;
    bytes.reserve(line.size() * 2);
    for (WideChar c : line) {
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    }
    writer.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  }
  writer.WriteListEnd();
}

// --- TvgWideStringList

TvgWideStringList::~TvgWideStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
}

int TvgWideStringList::CompareStrings(const WideString& a, const WideString& b) const {
  if (caseSensitive_) return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
  return vgWideCompareText(a, b);
}

WideString TvgWideStringList::Get(int32_t index) const {
  if (!ValidIndex(index)) {
    Error(kListIndexError);
    return WideString();
  }
  return items_[static_cast<size_t>(index)].text;
}

TObject* TvgWideStringList::GetObject(int32_t index) const {
  if (!ValidIndex(index)) {
    Error(kListIndexError);
    return nullptr;
  }
  return items_[static_cast<size_t>(index)].object;
}

void TvgWideStringList::Put(int32_t index, const WideString& text) {
  if (sorted_) {
    Error(kSortedListError);
    return;
  }
  if (!ValidIndex(index)) {
    Error(kListIndexError);
    return;
  }
  Changing();
  items_[static_cast<size_t>(index)].text = text;
  Changed();
}

void TvgWideStringList::PutObject(int32_t index, TObject* object) {
  if (!ValidIndex(index)) {
    Error(kListIndexError);
    return;
  }
  Changing();
  items_[static_cast<size_t>(index)].object = object;
  Changed();
}

void TvgWideStringList::SetCapacity(int32_t capacity) {
  capacity = std::max(capacity, GetCount());
  capacity_ = static_cast<size_t>(capacity);
}

void TvgWideStringList::SetUpdateState(bool updating) {
  if (updating) Changing();
  else Changed();
}

void TvgWideStringList::Exchange(int32_t index1, int32_t index2) {
  if (!ValidIndex(index1) || !ValidIndex(index2)) {
    Error(kListIndexError);
    return;
  }
  Changing();
  std::swap(items_[static_cast<size_t>(index1)], items_[static_cast<size_t>(index2)]);
  Changed();
}

int32_t TvgWideStringList::IndexOf(const WideString& text) const {
  if (!sorted_) return TvgWideStrings::IndexOf(text);
  int32_t index = 0;
  return Find(text, index) ? index : -1;
}

void TvgWideStringList::Insert(int32_t index, const WideString& text) {
  if (sorted_) {
    Error(kSortedListError);
    return;
  }
  if (index < 0 || index > GetCount()) {
    Error(kListIndexError);
    return;
  }
  InsertItem(index, text);
}

int32_t TvgWideStringList::Add(const WideString& text) {
  int32_t index = GetCount();
  if (sorted_ && !sortByObject_) {
    if (Find(text, index)) {
      if (duplicates_ == dupIgnore) return index;
      if (duplicates_ == dupError) Error(kDuplicateString);
    }
  }
  InsertItem(index, text);
  return index;
}

void TvgWideStringList::Delete(int32_t index) {
  if (!ValidIndex(index)) {
    Error(kListIndexError);
    return;
  }
  Changing();
  items_.erase(items_.begin() + index);
  Changed();
}

void TvgWideStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  items_.clear();
  items_.shrink_to_fit();
  capacity_ = 0;
  Changed();
}

void TvgWideStringList::InsertItem(int32_t index, const WideString& text) {
  Changing();
  if (items_.size() == capacity_) Grow();
  items_.insert(items_.begin() + index, Item{text, nullptr});
  Changed();
}

void TvgWideStringList::Grow() {
  const size_t delta = capacity_ > 64 ? capacity_ / 4 : capacity_ > 8 ? 16 : 4;
  capacity_ += delta;
}

namespace {

// Binary search over `count` sorted items, `compareAt(i)` comparing item i with the one wanted.
// `index` is where the item is or would be inserted; with duplicates not accepted, the first of
// equal items.
template <typename CompareAt>
bool SortedSearch(int32_t count, bool acceptDuplicates, int32_t& index, CompareAt compareAt) {
  bool found = false;
  int32_t low = 0, high = count - 1;
  while (low <= high) {
    const int32_t i = static_cast<int32_t>(static_cast<uint32_t>(low + high) >> 1);
    const int c = compareAt(i);
    if (c < 0) {
      low = i + 1;
    } else {
      high = i - 1;
      if (c == 0) {
        found = true;
        if (!acceptDuplicates) low = i;
      }
    }
  }
  index = low;
  return found;
}

}  // namespace

bool TvgWideStringList::Find(const WideString& text, int32_t& index) const {
  return SortedSearch(GetCount(), duplicates_ == dupAccept, index,
                      [&](int32_t i) { return CompareStrings(items_[static_cast<size_t>(i)].text, text); });
}

namespace {

// 1 when the item's address is smaller, so the order is largest first.
int CompareObjects(const TObject* item, const TObject* wanted) {
  const auto a = static_cast<intptr_t>(reinterpret_cast<uintptr_t>(item));
  const auto b = static_cast<intptr_t>(reinterpret_cast<uintptr_t>(wanted));
  return a < b ? 1 : (a == b ? 0 : -1);
}

}  // namespace

bool TvgWideStringList::FindObject(const TObject* object, int32_t& index) const {
  return SortedSearch(GetCount(), duplicates_ == dupAccept, index,
                      [&](int32_t i) { return CompareObjects(items_[static_cast<size_t>(i)].object, object); });
}

int TvgWideStringList::CompareItems(int32_t a, int32_t b) const {
  const Item& x = items_[static_cast<size_t>(a)];
  const Item& y = items_[static_cast<size_t>(b)];
  if (sortByObject_) return CompareObjects(x.object, y.object);
  return vgWideCompareText(x.text, y.text);
}

void TvgWideStringList::QuickSort(int32_t left, int32_t right) {
  do {
    int32_t i = left, j = right;
    int32_t pivot = static_cast<int32_t>(static_cast<uint32_t>(left + right) >> 1);
    do {
      while (CompareItems(i, pivot) < 0) ++i;
      while (CompareItems(j, pivot) > 0) --j;
      if (i <= j) {
        std::swap(items_[static_cast<size_t>(i)], items_[static_cast<size_t>(j)]);
        if (pivot == i) pivot = j;
        else if (pivot == j) pivot = i;
        ++i;
        --j;
      }
    } while (i <= j);
    if (left < j) QuickSort(left, j);
    left = i;
  } while (left < right);
}

void TvgWideStringList::Sort() {
  if (sorted_ || GetCount() < 2) return;
  Changing();
  QuickSort(0, GetCount() - 1);
  Changed();
}

void TvgWideStringList::SetSorted(bool value) {
  if (sorted_ == value) return;
  if (value) {
    // Sort checks the flag, so sort first.
    Sort();
  }
  sorted_ = value;
}

void TvgWideStringList::SetCaseSensitive(bool value) {
  if (caseSensitive_ == value) return;
  caseSensitive_ = value;
}

void TvgWideStringList::Changed() {
  if (UpdateCount() == 0) OnChange(this);
}

void TvgWideStringList::Changing() {
  if (UpdateCount() == 0) OnChanging(this);
}
