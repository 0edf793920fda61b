// The grid of the scene: a header row of resizable, reorderable items; columns that keep one
// editor cell per visible row and write edits back; and the virtual grid that asks its value
// source for what each visible cell shows, with the string grid that keeps texts per column.
// GUI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/controls/vg_controls.h"
#include "scene/controls/vg_scrollbox.h"
#include "scene/core/vg_widestrings.h"
#include "vg_textbox.h"

class TvgCustomGrid;
class TvgHeader;
class TvgHeaderGrip;

// --- Header

using TvgOnRealignItemEvent = TMethod<void(TObject* sender, int32_t oldIndex, int32_t newIndex)>;
using TvgOnResizeItemEvent = TMethod<void(TObject* sender, float& newSize)>;

// One title of the header. Dragging its right edge resizes it, dragging its left edge resizes
// the item before it, and dropping it on another item of the same header moves it there.
class TvgHeaderItem : public TvgCornerButton {
  KBL_DECLARE_CLASS(TvgHeaderItem, TvgCornerButton)
 public:
  explicit TvgHeaderItem(TComponent* owner);
  ~TvgHeaderItem() override;
  // Accepts only another item of the same header, and only while this item is draggable (the
  // header's filler is not).
  void DragOver(const TvgDragObject& data, const TvgPoint& point, bool& accept) override;
  // Moves the dragged item to this item's place and reports both places to the header.
  void DragDrop(const TvgDragObject& data, const TvgPoint& point) override;
  TvgVisualObject* GetRightGrip() const;
  TvgVisualObject* GetLeftGrip() const;

 private:
  void RightGripMove(TObject* sender, TShiftState shift, float x, float y, float dx, float dy);
  void LeftGripMove(TObject* sender, TShiftState shift, float x, float y, float dx, float dy);
  TvgHeader* Header() const;

  TvgHeaderGrip* rightGrip_;
  TvgHeaderGrip* leftGrip_;
};

// A row of header items laid out from ScrollOffset, followed by a filler item that takes the
// remaining width and always stays last.
class TvgHeader : public TvgControl {
  KBL_DECLARE_CLASS(TvgHeader, TvgControl)
 public:
  explicit TvgHeader(TComponent* owner);
  ~TvgHeader() override;
  void Realign() override;
  void Paint() override;
  std::string GetItemClassNames() override { return "TvgHeaderItem"; }

  // Child N when it is a header item; nullptr otherwise.
  TvgHeaderItem* HeaderItem(int32_t index) const;
  TvgHeaderItem* GetFiller() const { return filler_; }
  float GetRadius() const { return radius_; }
  void SetRadius(float value);
  TvgSides GetSides() const { return sides_; }
  void SetSides(TvgSides value);
  // The x origin of the items (the grid sets minus its horizontal scroll position); applied at
  // the next Realign.
  float GetScrollOffset() const { return scrollOffset_; }
  void SetScrollOffset(float value) { scrollOffset_ = value; }
  bool IsSidesStored() const { return !(sides_ == vgAllSides); }

  TvgOnRealignItemEvent OnRealignItem;
  TvgOnResizeItemEvent OnResizeItem;

 private:
  TvgHeaderItem* filler_;
  float radius_ = 0;
  TvgSides sides_ = vgAllSides;
  float scrollOffset_ = 0;
  bool inHeaderRealign_ = false;
};

// --- Cells

// The editors a column keeps per visible row: distinct classes of their base controls, styled
// as "textcellstyle", "checkcellstyle", "progresscellstyle", "popupcellstyle", "imagecellstyle".
class TvgTextCell : public TvgTextBox {
  KBL_DECLARE_CLASS(TvgTextCell, TvgTextBox)
 public:
  explicit TvgTextCell(TComponent* owner) : TvgTextBox(owner) {}
};

class TvgCheckCell : public TvgCheckBox {
  KBL_DECLARE_CLASS(TvgCheckCell, TvgCheckBox)
 public:
  explicit TvgCheckCell(TComponent* owner) : TvgCheckBox(owner) {}
};

class TvgProgressCell : public TvgProgressBar {
  KBL_DECLARE_CLASS(TvgProgressCell, TvgProgressBar)
 public:
  explicit TvgProgressCell(TComponent* owner) : TvgProgressBar(owner) {}
};

class TvgPopupCell : public TvgPopupBox {
  KBL_DECLARE_CLASS(TvgPopupCell, TvgPopupBox)
 public:
  explicit TvgPopupCell(TComponent* owner) : TvgPopupBox(owner) {}
};

class TvgImageCell : public TvgImageControl {
  KBL_DECLARE_CLASS(TvgImageCell, TvgImageControl)
 public:
  explicit TvgImageCell(TComponent* owner) : TvgImageControl(owner) {}
};

// --- Columns

// A column of the grid: one cell per visible row, made on demand and reused while the grid
// scrolls, each showing the grid's value for its (column, row) and, for the editable kinds,
// writing edits back. The cells carry their coordinates as the point text "(column,row)" in
// their tag string.
class TvgColumn : public TvgControl {
  KBL_DECLARE_CLASS(TvgColumn, TvgControl)
 public:
  explicit TvgColumn(TComponent* owner);
  ~TvgColumn() override;

  // Fills the cells of the visible rows from the grid; nothing outside a grid.
  virtual void UpdateColumn();
  void RemoveObject(TvgObject* child) override;
  // A new cell owned by the column.
  virtual TvgControl* CreateCellControl();
  // Lets only the cell of the selected row take the focus, and only in the grid's current
  // column (read-only grids and columns leave the cells as they are).
  void UpdateSelected();

  // The nearest grid up the parents; nullptr outside one.
  TvgCustomGrid* GetGrid() const;
  // The first visible cell showing that row; nullptr when none does.
  TvgControl* CellByRow(int32_t row) const;
  const std::vector<TvgControl*>& Cells() const { return cells_; }
  // The column's place among the grid's columns; -1 outside a grid.
  int32_t ColumnIndex() const;

  const WideString& GetHeader() const { return header_; }
  // Also the text of the grid header's item of this column.
  void SetHeader(const WideString& value);
  bool GetReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; }

 protected:
  // Wires a new text or check cell's change to the write-back.
  void WireWriteBack(TvgControl* cell);

 private:
  void CellCanFocused(TObject* sender, bool& allow);
  void CellEnterFocus(TObject* sender);
  void CellKeyDown(TObject* sender, uint16_t& key, WideChar& keyChar, TShiftState shift);
  void CellChanged(TObject* sender);

  std::vector<TvgControl*> cells_;
  WideString header_;
  bool readOnly_ = false;
  Variant savedValue_;
  bool updating_ = false;
  bool cancelling_ = false;
};

class TvgCheckColumn : public TvgColumn {
  KBL_DECLARE_CLASS(TvgCheckColumn, TvgColumn)
 public:
  explicit TvgCheckColumn(TComponent* owner) : TvgColumn(owner) {}
  TvgControl* CreateCellControl() override;
};

// Shows values as progress bars between Min and Max; never writes back.
class TvgProgressColumn : public TvgColumn {
  KBL_DECLARE_CLASS(TvgProgressColumn, TvgColumn)
 public:
  explicit TvgProgressColumn(TComponent* owner) : TvgColumn(owner) {}
  TvgControl* CreateCellControl() override;
  float GetMin() const { return min_; }
  void SetMin(float value) { min_ = value; }
  float GetMax() const { return max_; }
  void SetMax(float value) { max_ = value; }
  bool IsMaxStored() const { return max_ != 100; }

 private:
  float min_ = 0;
  float max_ = 100;
};

// Shows values as pop-up boxes offering Items; never writes back.
class TvgPopupColumn : public TvgColumn {
  KBL_DECLARE_CLASS(TvgPopupColumn, TvgColumn)
 public:
  explicit TvgPopupColumn(TComponent* owner);
  ~TvgPopupColumn() override;
  TvgControl* CreateCellControl() override;
  // Changes reach the cells made already.
  TvgWideStrings* GetItems() const { return items_; }
  void SetItems(TvgWideStrings* value) { items_->Assign(value); }

 private:
  void ItemsChanged(TObject*);
  TvgWideStringList* items_;
};

// Shows values as pictures (no open dialog); never writes back.
class TvgImageColumn : public TvgColumn {
  KBL_DECLARE_CLASS(TvgImageColumn, TvgColumn)
 public:
  explicit TvgImageColumn(TComponent* owner) : TvgColumn(owner) {}
  TvgControl* CreateCellControl() override;
};

// A text column that keeps one text per grid row for the string grid.
class TvgStringColumn : public TvgColumn {
  KBL_DECLARE_CLASS(TvgStringColumn, TvgColumn)
 public:
  explicit TvgStringColumn(TComponent* owner) : TvgColumn(owner) {}
  // Sizes the texts to the grid's RowCount first.
  void UpdateColumn() override;
  std::vector<WideString>& Texts() { return texts_; }

 private:
  std::vector<WideString> texts_;
};

// --- Grid

using TOnGetValue = TMethod<void(TObject* sender, int32_t col, int32_t row, Variant& value)>;
using TOnSetValue = TMethod<void(TObject* sender, int32_t col, int32_t row, const Variant& value)>;

// A virtual grid: RowCount rows of RowHeight, only the rows in view having cells; values are
// asked of GetValue and stored through SetValue. One row is selected and one column current.
// The vertical position is kept as a double, so rows stay exactly in place past 2^24 pixels of
// content (a million rows and more); the scroll content only ever moves by less than a row.
class TvgCustomGrid : public TvgScrollBox {
  KBL_DECLARE_CLASS(TvgCustomGrid, TvgScrollBox)
 public:
  explicit TvgCustomGrid(TComponent* owner);
  ~TvgCustomGrid() override;

  // --- Layout and style (overrides)
  void ApplyStyle() override;
  void FreeStyle() override;
  std::string GetItemClassNames() override;
  // Columns and selection items go into the scroll content.
  void AddObject(TvgObject* child) override;
  // Under one repaint request for the scene (see the source).
  void Realign() override;
  TvgRect GetContentBounds() override;
  void RealignContent(const TvgRect& r) override;
  // ColumnIndex follows its column when the columns change places or one goes.
  void ContentRemovingObject(TvgObject* child) override;
  void ContentRemoveObject(TvgObject* child) override;
  void ContentReordering() override;
  void ContentReordered() override;
  // The viewport's area in the content's coordinates, wherever the content sits.
  TvgRect GetContentClipRect() override;
  void HScrollChange(TObject* sender) override;
  void VScrollChange(TObject* sender) override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) override;

  // --- New operations
  virtual void UpdateColumns();
  virtual void FocusGrid();
  // The row at the top of the viewport.
  virtual int32_t TopRow();
  // Unassigned here (the grid of events asks OnGetValue).
  virtual void GetValue(int32_t col, int32_t row, Variant& value);
  virtual void SetValue(int32_t col, int32_t row, const Variant& value);
  // Clamped to the rows (-1 without rows); scrolls the row into view.
  virtual void SetSelected(int32_t row);
  // Whether a character typed into a cell is kept; true here.
  virtual bool CanEditAcceptKey(WideChar key) { return true; }
  virtual bool CanEditModify() { return !readOnly_; }

  int32_t ColumnCount() const;
  // nullptr out of range.
  TvgColumn* ColumnAt(int32_t index) const;
  // Rows that have cells: the rows fully or partly in view, plus one.
  int32_t VisibleRows();
  // The row under a point of the grid (it may lie beyond the rows); -1 without content.
  int32_t RowByPoint(float x, float y);
  // The visible column under a point of the grid; nullptr when none.
  TvgColumn* ColumnByPoint(float x, float y);
  // The vertical position in pixels (exact).
  double GetVScrollPosition() const { return vPos_; }
  // Moves the view; clamped to the rows.
  void SetVScrollPosition(double value);
  TvgHeader* GetHeader() const { return header_; }

  int32_t GetRowCount() const { return rowCount_; }
  void SetRowCount(int32_t value);
  float GetRowHeight() const { return rowHeight_; }
  // Never below 5.
  void SetRowHeight(float value);
  int32_t GetSelected() const { return selected_; }
  int32_t GetColumnIndex() const { return columnIndex_; }
  void SetColumnIndex(int32_t value);
  bool GetAlternatingRowBackground() const { return alternatingRowBackground_; }
  void SetAlternatingRowBackground(bool value);
  bool GetShowHorzLines() const { return showHorzLines_; }
  void SetShowHorzLines(bool value);
  bool GetShowVertLines() const { return showVertLines_; }
  void SetShowVertLines(bool value);
  bool GetShowHeader() const { return showHeader_; }
  void SetShowHeader(bool value);
  bool GetShowSelectedCell() const { return showSelectedCell_; }
  void SetShowSelectedCell(bool value);
  bool GetReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; }
  TvgBrush* GetAlternatingRowBrush() const { return alternatingRowBrush_; }
  TvgBrush* GetLineBrush() const { return lineBrush_; }
  // The clones of the "selection" part that mark the selected row.
  const std::vector<TvgVisualObject*>& SelectionMarks() const { return selections_; }
  TvgVisualObject* GetFocusPart() const { return focusPart_; }

  // Rebuilds the marks of the selected row and the current cell.
  void UpdateSelection();
  // Gives the header one item per column with its title and width.
  void UpdateHeader();

 private:
  void HeaderRealignItem(TObject* sender, int32_t oldIndex, int32_t newIndex);
  void HeaderResizeItem(TObject* sender, float& newSize);
  void PaintRows(TObject* sender, TvgCanvas* canvas, const TvgRect& rect);
  void PaintLines(TObject* sender, TvgCanvas* canvas, const TvgRect& rect);
  // Puts the scroll content at the viewport's top left (in the grid's coordinates) less the
  // horizontal scroll value and less the part of the top row scrolled out of view.
  void PlaceContent();
  // Content coordinates into the coordinates of `target`.
  TvgPoint ContentToLocal(TvgVisualObject* target, const TvgPoint& p);
  double MaxVScroll();

  int32_t rowCount_ = 100;
  float rowHeight_ = 21;
  int32_t selected_ = 0;
  int32_t columnIndex_ = 0;
  TvgColumn* reorderedColumn_ = nullptr;  // the current column while the columns change places
  bool alternatingRowBackground_ = false;
  bool showHorzLines_ = true;
  bool showVertLines_ = true;
  bool showHeader_ = true;
  bool showSelectedCell_ = true;
  bool readOnly_ = false;
  TvgBrush* alternatingRowBrush_;
  TvgBrush* lineBrush_;
  TvgVisualObject* selectionPart_ = nullptr;
  TvgVisualObject* focusPart_ = nullptr;
  TvgHeader* header_ = nullptr;
  std::vector<TvgVisualObject*> selections_;
  double vPos_ = 0;
  bool settingPosition_ = false;
  bool pressed_ = false;
};

// A grid whose values come from its OnGetValue and go to its OnSetValue.
class TvgGrid : public TvgCustomGrid {
  KBL_DECLARE_CLASS(TvgGrid, TvgCustomGrid)
 public:
  explicit TvgGrid(TComponent* owner) : TvgCustomGrid(owner) {}
  void GetValue(int32_t col, int32_t row, Variant& value) override;
  void SetValue(int32_t col, int32_t row, const Variant& value) override;
  TOnGetValue OnGetValue;
  TOnSetValue OnSetValue;
};

// A grid of texts kept in its string columns.
class TvgStringGrid : public TvgCustomGrid {
  KBL_DECLARE_CLASS(TvgStringGrid, TvgCustomGrid)
 public:
  explicit TvgStringGrid(TComponent* owner);
  std::string GetItemClassNames() override { return "TvgStringColumn"; }
  // The text of a string column; Unassigned for another column or a row outside the rows.
  void GetValue(int32_t col, int32_t row, Variant& value) override;
  // Stores the text; nothing for another column or a row outside the rows.
  void SetValue(int32_t col, int32_t row, const Variant& value) override;
  // Direct access to a cell's text ("" outside).
  WideString GetCell(int32_t col, int32_t row);
  void SetCell(int32_t col, int32_t row, const WideString& text);
};

// Registers the grid classes once.
void vgInitGridUnit();
