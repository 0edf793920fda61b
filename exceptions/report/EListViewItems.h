// The rows of one owner-drawn report list view of the detailed dialog: group rows (a thread or
// leak block of the call stack) that collapse and expand the rows after them, line rows with a
// small image and clipped column texts, and blank rows that separate the blocks. Win32 only
// (win32/EListViewItems.cpp); the window handles are kept as integers so that this header
// needs no system header.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Image indices of the list's small images.
enum : int32_t { EmberImageDll = 0, EmberImageBpl = 1, EmberImageExe = 2, EmberImageSource = 3 };

// Colour kinds of a group row's caption: grey, dark blue (a running thread), dark red (the
// exception thread); others are grey.
enum : int32_t { EmberRowGrey = 0, EmberRowBlue = 1, EmberRowRed = 3 };

class TListViewItems {
 public:
  // One row; the list owns it for its whole life, also while it is collapsed out of the view.
  struct TRow {
    std::vector<std::string> Texts;
    int32_t ImageIndex = -1;
    bool Indented = false;     // the first text got the indentation text
    int32_t ColourKind = EmberRowGrey;
    bool Group = false;
    bool Expanded = true;
    bool Blank = false;        // not a group and every text empty after trimming
    bool Visible = true;       // the row is in the list view
    std::string Caption;       // drawn for group rows
    const TRow* Previous = nullptr;  // the previous non-blank row of the same block
  };

  // Serves `listView` (a report list view with owner-drawn fixed rows): loads the bitmaps from
  // the dialog resources, sets the small image list, takes the window's device context.
  explicit TListViewItems(uintptr_t listView);
  ~TListViewItems();
  TListViewItems(const TListViewItems&) = delete;
  TListViewItems& operator=(const TListViewItems&) = delete;

  // Appends a row and inserts it at the end of the view. Texts beyond the view's columns are
  // kept but not shown.
  void AddRow(const std::vector<std::string>& texts, int32_t imageIndex, int32_t colourKind, bool isGroup,
              const std::string& caption);
  // Collapses or expands the group row shown as view item `item`; with `checkHit` only when
  // (x, y), in the view's client coordinates, lies on its plus/minus box. False when nothing
  // changed.
  bool ToggleGroup(int32_t item, int32_t x, int32_t y, bool checkHit);
  // The row shown as view item `item`; nullptr outside the view.
  const TRow* RowOfItem(int32_t item) const;
  int32_t Count() const { return static_cast<int32_t>(rows_.size()); }
  const TRow& Row(int32_t index) const { return *rows_[static_cast<size_t>(index)]; }
  void Delete(int32_t index);
  void Clear();
  // The owner-draw handler: the view's parent passes WM_DRAWITEM's structure. False when the
  // structure is not this view's.
  bool DrawRow(const void* drawItem);

 private:
  void ReadColumns();
  void InsertRow(TRow& row, int32_t index);
  void DrawLineRow(const void* drawItem, const TRow& row);
  void DrawGroupRow(const void* drawItem, const TRow& row);
  int32_t IndexOfRow(const TRow* row) const;

  uintptr_t listView_;
  uintptr_t dc_ = 0;
  uintptr_t imageList_ = 0;
  uintptr_t bitmaps_[4] = {};
  uintptr_t plus_ = 0, minus_ = 0;
  uintptr_t boldFont_ = 0;
  std::string indent_;
  int32_t indentWidth_ = 0;
  int32_t columnCount_ = -1;
  std::vector<int32_t> alignments_;  // 0 left, 1 right, 2 centre
  const TRow* lastNonBlank_ = nullptr;
  int32_t consecutiveGroups_ = 0;
  bool drawingReady_ = false;
  std::vector<std::unique_ptr<TRow>> rows_;
};
