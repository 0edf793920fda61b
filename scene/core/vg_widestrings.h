// Wide-string lists: the UTF-16 text lines (with an object per line) of multi-line texts, memos
// and lists, with text, file and stream forms and the streamed property "strings".
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/Streams.h"
#include "classlib/System.h"

class TFiler;
class TReader;
class TWriter;

// The abstract list. Get, GetCount and Insert are left to descendants; the other operations
// work through them. Objects are never owned.
class TvgWideStrings : public TPersistent {
  KBL_DECLARE_CLASS(TvgWideStrings, TPersistent)
 public:
  TvgWideStrings() = default;

  // --- Lines and objects
  // 0 in the base (every pair equal); descendants compare texts.
  virtual int CompareStrings(const WideString& a, const WideString& b) const { return 0; }
  virtual WideString Get(int32_t index) const = 0;
  virtual int32_t GetCapacity() const { return GetCount(); }
  virtual int32_t GetCount() const = 0;
  virtual TObject* GetObject(int32_t index) const { return nullptr; }
  // Every line followed by CR LF (the last one too); "" for no lines.
  virtual WideString GetTextStr() const;
  // Keeps the line's object, deletes the line and inserts `text` with that object in its place.
  virtual void Put(int32_t index, const WideString& text);
  virtual void PutObject(int32_t index, TObject* object) {}
  virtual void SetCapacity(int32_t capacity) {}
  // Clear, then one line per break: LF, VT, FF, CR, U+2028 and U+2029 end a line, CR LF counts
  // once; a break at the very end adds no empty line.
  virtual void SetTextStr(const WideString& text);
  virtual void SetUpdateState(bool updating) {}
  virtual int32_t AddObject(const WideString& text, TObject* object);
  // Lines of a class-library (ANSI) string list, converted from the ANSI code page.
  virtual void AddAnsiStrings(const TStrings& strings);
  virtual void AddStrings(const TvgWideStrings& strings);
  virtual void Exchange(int32_t index1, int32_t index2);
  // -1 when absent.
  virtual int32_t IndexOf(const WideString& text) const;
  // The first line holding "=" whose part before it compares equal to `name`; -1 when none.
  virtual int32_t IndexOfName(const WideString& name) const;
  // The first line holding "=" whose part after it compares equal to `value`; -1 when none.
  virtual int32_t IndexOfValue(const WideString& value) const;
  virtual void Insert(int32_t index, const WideString& text) = 0;
  // Opens for reading, shared with everybody; raises EFOpenError when it cannot be opened.
  virtual void LoadFromFile(const std::string& fileName);
  // From the position to the end: UTF-16 after a byte-order mark (FF FE little-endian, FE FF
  // big-endian; an odd last byte is dropped), otherwise ANSI text.
  virtual void LoadFromStream(TStream& stream);
  virtual void Move(int32_t currentIndex, int32_t newIndex);
  // Raises EFCreateError when the file cannot be created.
  virtual void SaveToFile(const std::string& fileName) const;
  // The text in the ANSI code page, without byte-order mark.
  virtual void SaveToAnsiFile(const std::string& fileName) const;
  // FF FE, then the text as UTF-16 little-endian without terminator.
  virtual void SaveToStream(TStream& stream) const;
  // As SetTextStr from a zero-terminated buffer (nullptr: no lines).
  virtual void SetText(const WideChar* text);
  virtual void Sort() {}
  virtual int32_t Add(const WideString& text);
  virtual void Delete(int32_t index) {}
  virtual void Clear() {}

  // --- Non-virtual helpers
  void InsertObject(int32_t index, const WideString& text, TObject* object);
  // The part of line `index` before the first "="; "" without one.
  WideString Names(int32_t index) const;
  // The part after the first "=" of the line IndexOfName(name) finds; "" when none.
  WideString Values(const WideString& name) const;
  void BeginUpdate();
  void EndUpdate();
  int32_t UpdateCount() const { return updateCount_; }
  // Same count and every line binary equal.
  bool Equals(const TvgWideStrings& other) const;
  int32_t Count() const { return GetCount(); }
  WideString operator[](int32_t index) const { return Get(index); }

  // --- Persistence
  // From another wide list or a class-library string list; anything else raises EConvertError.
  void Assign(TPersistent* source) override;
  // Streams the lines as the list property "strings" (one wide-string value per line); written
  // when they differ from the ancestor's, or when there is no ancestor and there are lines.
  void DefineProperties(TFiler& filer) override;

 protected:
  void AssignTo(TPersistent* dest) override;
  // Called with "list index error", "sorted list error" or "Doublicate string"; reports nothing,
  // and the operation then leaves the list as it was (Get answers "").
  virtual void Error(const char* message) const {}

 private:
  void ReadData(TReader& reader);
  void WriteData(TWriter& writer);
  int32_t updateCount_ = 0;
};

// The concrete list, optionally sorted.
class TvgWideStringList : public TvgWideStrings {
  KBL_DECLARE_CLASS(TvgWideStringList, TvgWideStrings)
 public:
  TvgWideStringList() = default;
  // Fires nothing: the handlers are dropped first.
  ~TvgWideStringList() override;

  int CompareStrings(const WideString& a, const WideString& b) const override;
  WideString Get(int32_t index) const override;
  int32_t GetCapacity() const override { return static_cast<int32_t>(capacity_); }
  int32_t GetCount() const override { return static_cast<int32_t>(items_.size()); }
  TObject* GetObject(int32_t index) const override;
  void Put(int32_t index, const WideString& text) override;
  void PutObject(int32_t index, TObject* object) override;
  void SetCapacity(int32_t capacity) override;
  void SetUpdateState(bool updating) override;
  void Exchange(int32_t index1, int32_t index2) override;
  int32_t IndexOf(const WideString& text) const override;
  void Insert(int32_t index, const WideString& text) override;
  // Texts compared without regard to case whatever CaseSensitive says; with SortByObject by
  // object address, largest first. Nothing when Sorted is set.
  void Sort() override;
  // Sorted (and not SortByObject): placed in order; a duplicate is ignored (dupIgnore, answers
  // the existing index) or, with dupError and dupAccept, inserted.
  int32_t Add(const WideString& text) override;
  void Delete(int32_t index) override;
  void Clear() override;

  // Binary search of a list in CompareStrings order: true when found. `index` is the leftmost
  // equal line, or where the text would be inserted.
  bool Find(const WideString& text, int32_t& index) const;
  // The same over object addresses in the order Sort gives with SortByObject.
  bool FindObject(const TObject* object, int32_t& index) const;

  bool GetSorted() const { return sorted_; }
  // Sorting the lines when switched on.
  void SetSorted(bool value);
  bool GetCaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool value);
  TDuplicates GetDuplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates value) { duplicates_ = value; }
  bool GetSortByObject() const { return sortByObject_; }
  void SetSortByObject(bool value) { sortByObject_ = value; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  virtual void Changed();
  virtual void Changing();

 private:
  struct Item {
    WideString text;
    TObject* object = nullptr;
  };
  bool ValidIndex(int32_t index) const { return index >= 0 && index < GetCount(); }
  void InsertItem(int32_t index, const WideString& text);
  void Grow();
  int CompareItems(int32_t a, int32_t b) const;
  void QuickSort(int32_t left, int32_t right);

  // A line inserted or deleted at either end moves no other line (a list's lines changed at the
  // front), one in the middle moves those on its shorter side.
  std::deque<Item> items_;
  size_t capacity_ = 0;  // the capacity as the list reports it: a deque reserves nothing
  bool caseSensitive_ = false;
  bool sorted_ = false;
  TDuplicates duplicates_ = dupIgnore;
  bool sortByObject_ = false;
};

// Compares without regard to case (ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters
// folded), independent of the locale; <0, 0 or >0.
int vgWideCompareText(const WideString& a, const WideString& b);
