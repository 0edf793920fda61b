// The grid: header, columns with their cells, the virtual grid and the string grid.
#include "vg_grid.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "scene/controls/vg_layouts.h"
#include "scene/core/vg_canvas.h"
#include "scene/core/vg_registry.h"

// --- Published properties

KBL_PUBLISHED(TvgHeaderItem) {
  KBL_PROP(CanFocused).Default(false);
  KBL_PROP(TextAlign).Default(vgTextAlignNear);
  KBL_PROP(DragMode).Default(vgDragAutomatic);
}
KBL_PUBLISHED(TvgTextCell) {}
KBL_PUBLISHED(TvgCheckCell) {}
KBL_PUBLISHED(TvgProgressCell) {}
KBL_PUBLISHED(TvgPopupCell) {}
KBL_PUBLISHED(TvgImageCell) {}
KBL_PUBLISHED(TvgColumn) {
  KBL_PROP(Width).Default(100.0f);
  KBL_PROP(HitTest).Default(false);
  p.Property("Header", &TvgColumn::GetHeader, &TvgColumn::SetHeader);
  KBL_PROP(ReadOnly).Default(false);
}
KBL_PUBLISHED(TvgCheckColumn) {}
KBL_PUBLISHED(TvgProgressColumn) {
  KBL_PROP(Min);
  KBL_PROP(Max).Stored(&TvgProgressColumn::IsMaxStored);
}
KBL_PUBLISHED(TvgPopupColumn) { KBL_PROP(Items); }
KBL_PUBLISHED(TvgImageColumn) {}
KBL_PUBLISHED(TvgStringColumn) {}
KBL_PUBLISHED(TvgCustomGrid) {
  KBL_PROP(Width).Default(100.0f);
  KBL_PROP(Height).Default(100.0f);
  KBL_PROP(RowHeight).Default(21.0f);
  KBL_PROP(AlternatingRowBackground).Default(false);
  KBL_PROP(ShowHorzLines).Default(true);
  KBL_PROP(ShowVertLines).Default(true);
  KBL_PROP(ShowHeader).Default(true);
  KBL_PROP(ShowSelectedCell).Default(true);
  KBL_PROP(ReadOnly).Default(false);
  KBL_PROP(CanFocused).Default(true);
  KBL_PROP(DisableFocusEffect).Default(false);
}
KBL_PUBLISHED(TvgGrid) {
  KBL_PROP(RowCount).Default(100);
  p.Property("OnGetValue", &TvgGrid::OnGetValue, &TvgGrid::OnGetValue);
  p.Property("OnSetValue", &TvgGrid::OnSetValue, &TvgGrid::OnSetValue);
}
KBL_PUBLISHED(TvgStringGrid) { KBL_PROP(RowCount).Default(100); }
KBL_PUBLISHED(TvgHeader) {
  KBL_PROP(CanFocused).Default(false);
  KBL_PROP(ClipChildren).Default(true);
  p.Property("OnRealignItem", &TvgHeader::OnRealignItem, &TvgHeader::OnRealignItem);
  p.Property("OnResizeItem", &TvgHeader::OnResizeItem, &TvgHeader::OnResizeItem);
  KBL_PROP(Radius);
  KBL_PROP(Sides).Stored(&TvgHeader::IsSidesStored);
}

// --- Header grips

// The edge of a header item that the mouse drags; remembers whether it is pressed.
class TvgHeaderGrip : public TvgVisualObject {
 public:
  explicit TvgHeaderGrip(TComponent* owner) : TvgVisualObject(owner) {}
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override {
    if (button == mbLeft) pressed = true;
    TvgVisualObject::MouseDown(button, shift, x, y);
  }
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override {
    TvgVisualObject::MouseUp(button, shift, x, y);
    pressed = false;
  }
  bool pressed = false;
};

namespace {

TvgHeaderGrip* MakeGrip(TvgHeaderItem* item, TvgAlign align, TvgMouseMoveEvent onMove) {
  auto* grip = new TvgHeaderGrip(item);
  grip->SetParent(item);
  grip->SetStored(false);
  grip->SetLocked(true);
  grip->SetHitTest(true);
  grip->SetAutoCapture(true);
  grip->SetCursor(vgCursorHSplit);
  grip->SetWidth(3);
  grip->SetAlign(align);
  grip->OnMouseMove = onMove;
  return grip;
}

}  // namespace

// --- Header item

TvgHeaderItem::TvgHeaderItem(TComponent* owner) : TvgCornerButton(owner) {
  SetCanFocused(false);
  SetTextAlign(vgTextAlignNear);
  SetDragMode(vgDragAutomatic);
  rightGrip_ = MakeGrip(this, vaRight, TvgMouseMoveEvent::Of<&TvgHeaderItem::RightGripMove>(this));
  leftGrip_ = MakeGrip(this, vaLeft, TvgMouseMoveEvent::Of<&TvgHeaderItem::LeftGripMove>(this));
}

TvgHeaderItem::~TvgHeaderItem() { DestroyTree(); }

TvgVisualObject* TvgHeaderItem::GetRightGrip() const { return rightGrip_; }
TvgVisualObject* TvgHeaderItem::GetLeftGrip() const { return leftGrip_; }

TvgHeader* TvgHeaderItem::Header() const { return dynamic_cast<TvgHeader*>(GetParent()); }

void TvgHeaderItem::RightGripMove(TObject*, TShiftState, float x, float y, float, float) {
  if (!rightGrip_->pressed) return;
  // A grid lays out every column and cell again for each step of the drag: the scene takes one
  // repaint request for the step.
  TvgRepaintBatch batch(this);
  float newSize = AbsoluteToLocal(rightGrip_->LocalToAbsolute(vgPoint(x, y))).X;
  if (newSize < 0) newSize = 0;
  TvgHeader* header = Header();
  if (header != nullptr) header->RunHandler(header->OnResizeItem, this, newSize);
  SetWidth(newSize);
  if (header != nullptr) header->Realign();
}

void TvgHeaderItem::LeftGripMove(TObject*, TShiftState shift, float x, float y, float dx, float dy) {
  TvgHeader* header = Header();
  const int32_t index = GetIndex();
  if (index <= 0 || !leftGrip_->pressed || header == nullptr) return;
  TvgHeaderItem* previous = header->HeaderItem(index - 1);
  if (previous == nullptr) return;
  const TvgPoint p = previous->rightGrip_->AbsoluteToLocal(leftGrip_->LocalToAbsolute(vgPoint(x, y)));
  TvgHeaderGrip* grip = previous->rightGrip_;
  grip->pressed = true;
  // Let go also when the resize raises: a grip left pressed would resize at every move over it.
  const TvgRestoreOnExit released([grip] { grip->pressed = false; });
  previous->RightGripMove(grip, shift, p.X, p.Y, dx, dy);
}

void TvgHeaderItem::DragOver(const TvgDragObject& data, const TvgPoint& point, bool& accept) {
  inherited::DragOver(data, point, accept);
  auto* dragged = dynamic_cast<TvgHeaderItem*>(data.Source);
  accept = dragged != nullptr && Header() != nullptr && dragged->GetParent() == GetParent() &&
           GetDragMode() != vgDragManual;
}

void TvgHeaderItem::DragDrop(const TvgDragObject& data, const TvgPoint& point) {
  TvgRepaintBatch batch(this);  // as for a resize
  inherited::DragDrop(data, point);
  auto* dragged = dynamic_cast<TvgHeaderItem*>(data.Source);
  TvgHeader* header = Header();
  if (dragged == nullptr || header == nullptr || dragged->GetParent() != header || GetDragMode() == vgDragManual) return;
  const int32_t newIndex = GetIndex();
  const int32_t oldIndex = dragged->GetIndex();
  dragged->SetIndex(newIndex);
  header->RunHandler(header->OnRealignItem, dragged, oldIndex, newIndex);
  header->Realign();
}

// --- Header

TvgHeader::TvgHeader(TComponent* owner) : TvgControl(owner) {
  SetCanFocused(false);
  SetClipChildren(true);
  filler_ = new TvgHeaderItem(this);
  filler_->SetParent(this);
  filler_->SetStored(false);
  filler_->SetLocked(true);
  filler_->SetWidth(50);
  filler_->SetDragMode(vgDragManual);
}

TvgHeader::~TvgHeader() { DestroyTree(); }

TvgHeaderItem* TvgHeader::HeaderItem(int32_t index) const { return dynamic_cast<TvgHeaderItem*>(GetChild(index)); }

void TvgHeader::SetRadius(float value) {
  if (vgSetChanged(radius_, value)) Realign();
}

void TvgHeader::SetSides(TvgSides value) {
  if (vgSetChanged(sides_, value)) Realign();
}

void TvgHeader::Realign() {
  inherited::Realign();
  if (HasState(csDestroying) || inHeaderRealign_ || GetChildrenCount() == 0) return;
  inHeaderRealign_ = true;
  // Also when an item's layout raises: the header would never lay its items out again.
  const TvgRestoreOnExit laidOut([this] { inHeaderRealign_ = false; });
  if (filler_->GetParent() == this && filler_->GetIndex() != GetChildrenCount() - 1) filler_->BringToFront();
  TvgRect r = GetMargins()->MarginRect(vgRect(scrollOffset_, 0, GetWidth(), GetHeight()));
  const TvgSides rightSide{vgSideRight}, leftSide{vgSideLeft};
  for (int32_t i = 0; i < GetChildrenCount(); ++i) {
    TvgHeaderItem* item = HeaderItem(i);
    if (item == nullptr) continue;
    const bool filler = item == filler_;
    if (item->GetVisible()) {
      item->SetBounds(r.Left, r.Top, item->GetWidth(), GetHeight());
      if (!filler) r.Left += item->GetWidth();
    }
    item->SetxRadius(radius_);
    item->SetyRadius(radius_);
    if (i == 0) {
      item->SetCorners(TvgCorners{vgCornerTopLeft});
      item->SetSides(sides_ - rightSide);
    } else if (!filler) {
      item->SetCorners(TvgCorners());
      item->SetSides(sides_ - rightSide + leftSide);
    } else {
      item->SetCorners(TvgCorners{vgCornerTopRight});
      item->SetSides(sides_ + leftSide);
    }
  }
  filler_->SetWidth(std::max(r.Right - r.Left, 0.0f));
}

void TvgHeader::Paint() {
  inherited::Paint();
  if (IsDesigning() && !GetLocked() && !GetDesignHide()) vgPaintDesignFrame(*this);
}

// --- Columns

namespace {

// (column, row) of a cell's tag string; (-1, -1) when it holds none.
void CellCoordinates(const TvgObject* cell, int32_t& col, int32_t& row) {
  col = row = -1;
  try {
    const TvgPoint p = vgStringToPoint(cell->GetTagString());
    col = static_cast<int32_t>(std::trunc(p.X));
    row = static_cast<int32_t>(std::trunc(p.Y));
  } catch (const EConvertError&) {
  }
}

bool IsColumn(const TvgObject* obj) { return dynamic_cast<const TvgColumn*>(obj) != nullptr; }

}  // namespace

TvgColumn::TvgColumn(TComponent* owner) : TvgControl(owner) {
  SetWidth(100);
  SetHitTest(false);
  SetCanFocused(false);
}

TvgColumn::~TvgColumn() {
  cells_.clear();  // children: freed with the tree
  DestroyTree();
}

void TvgColumn::RemoveObject(TvgObject* child) {
  inherited::RemoveObject(child);
  // A cell that leaves (freed or moved by other code) is no longer one to fill or focus.
  if (!cells_.empty()) std::erase(cells_, child);
}

TvgCustomGrid* TvgColumn::GetGrid() const {
  for (TvgObject* p = GetParent(); p != nullptr; p = p->GetParent())
    if (auto* grid = dynamic_cast<TvgCustomGrid*>(p)) return grid;
  return nullptr;
}

int32_t TvgColumn::ColumnIndex() const {
  TvgCustomGrid* grid = GetGrid();
  if (grid == nullptr) return -1;
  for (int32_t i = 0; i < grid->ColumnCount(); ++i)
    if (grid->ColumnAt(i) == this) return i;
  return -1;
}

TvgControl* TvgColumn::CellByRow(int32_t row) const {
  for (TvgControl* cell : cells_) {
    if (!cell->GetVisible()) continue;
    int32_t c, r;
    CellCoordinates(cell, c, r);
    if (r == row) return cell;
  }
  return nullptr;
}

void TvgColumn::SetHeader(const WideString& value) {
  if (!vgSetChanged(header_, value)) return;
  TvgCustomGrid* grid = GetGrid();
  if (grid == nullptr || grid->GetHeader() == nullptr) return;
  if (TvgHeaderItem* item = grid->GetHeader()->HeaderItem(ColumnIndex())) item->SetText(value);
}

void TvgColumn::WireWriteBack(TvgControl* cell) {
  const TNotifyEvent changed = TNotifyEvent::Of<&TvgColumn::CellChanged>(this);
  if (auto* text = dynamic_cast<TvgCustomTextBox*>(cell)) text->OnChange = changed;
  else if (auto* check = dynamic_cast<TvgCheckBox*>(cell)) check->OnChange = changed;
}

TvgControl* TvgColumn::CreateCellControl() {
  auto* cell = new TvgTextCell(this);
  WireWriteBack(cell);
  return cell;
}

TvgControl* TvgCheckColumn::CreateCellControl() {
  auto* cell = new TvgCheckCell(this);
  WireWriteBack(cell);
  return cell;
}

TvgControl* TvgProgressColumn::CreateCellControl() {
  auto* cell = new TvgProgressCell(this);
  cell->SetMin(min_);
  cell->SetMax(max_);
  return cell;
}

TvgPopupColumn::TvgPopupColumn(TComponent* owner) : TvgColumn(owner), items_(new TvgWideStringList()) {
  items_->OnChange = TNotifyEvent::Of<&TvgPopupColumn::ItemsChanged>(this);
}

TvgPopupColumn::~TvgPopupColumn() {
  items_->OnChange = TNotifyEvent();
  DestroyTree();
  delete items_;
}

void TvgPopupColumn::ItemsChanged(TObject*) {
  for (TvgControl* cell : Cells())
    if (auto* popup = dynamic_cast<TvgPopupCell*>(cell)) popup->GetItems()->Assign(items_);
}

TvgControl* TvgPopupColumn::CreateCellControl() {
  auto* cell = new TvgPopupCell(this);
  cell->GetItems()->Assign(items_);
  return cell;
}

TvgControl* TvgImageColumn::CreateCellControl() {
  auto* cell = new TvgImageCell(this);
  cell->SetEnableOpenDialog(false);
  return cell;
}

void TvgColumn::UpdateColumn() {
  TvgCustomGrid* grid = GetGrid();
  if (grid == nullptr) return;
  updating_ = true;
  try {
    const int32_t n = std::max(0, std::min(grid->VisibleRows(), grid->GetRowCount()));
    while (static_cast<int32_t>(cells_.size()) < n) {
      TvgControl* cell = CreateCellControl();
      cell->SetParent(this);
      cell->SetHitTest(false);
      cell->SetVisible(false);
      cell->SetLocked(true);
      cell->SetStored(false);
      cell->OnCanFocused = TvgCanFocusedEvent::Of<&TvgColumn::CellCanFocused>(this);
      cell->OnEnterFocus = TNotifyEvent::Of<&TvgColumn::CellEnterFocus>(this);
      cell->OnKeyDown = TvgKeyEvent::Of<&TvgColumn::CellKeyDown>(this);
      cells_.push_back(cell);
    }
    for (size_t i = static_cast<size_t>(n); i < cells_.size(); ++i) cells_[i]->SetVisible(false);
    const int32_t column = ColumnIndex();
    const int32_t top = grid->TopRow();
    const float rowHeight = grid->GetRowHeight();
    for (int32_t i = 0; i < n; ++i) {
      const int32_t row = top + i;
      TvgControl* cell = cells_[static_cast<size_t>(i)];
      if (row >= grid->GetRowCount()) {
        cell->SetVisible(false);
        continue;
      }
      Variant value;
      grid->GetValue(column, row, value);
      // A cell that stays where it is is left alone: moving or showing it again lays out its
      // style once more, for every cell of every scroll step.
      if (!cell->GetVisible()) cell->SetVisible(true);
      const float y = static_cast<float>(i) * rowHeight;
      if (cell->GetPosition()->GetX() != 0 || cell->GetPosition()->GetY() != y || cell->GetWidth() != GetWidth() ||
          cell->GetHeight() != rowHeight)
        cell->SetBounds(0, y, GetWidth(), rowHeight);
      cell->SetTagString(vgPointToString(vgPoint(static_cast<float>(column), static_cast<float>(row))));
      cell->SetData(value);
    }
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
  UpdateSelected();
}

void TvgColumn::UpdateSelected() {
  TvgCustomGrid* grid = GetGrid();
  if (grid == nullptr || grid->GetReadOnly() || readOnly_) return;
  const bool current = ColumnIndex() == grid->GetColumnIndex();
  for (TvgControl* cell : cells_) {
    int32_t c, row;
    CellCoordinates(cell, c, row);
    const bool editable = cell->GetVisible() && current && row == grid->GetSelected();
    cell->SetCanFocused(editable);
    cell->SetHitTest(editable);
    if (!editable && cell->GetIsFocused()) grid->FocusGrid();
  }
}

void TvgColumn::CellCanFocused(TObject*, bool& allow) {
  TvgCustomGrid* grid = GetGrid();
  allow = grid != nullptr && grid->CanEditModify() && !readOnly_;
}

void TvgColumn::CellEnterFocus(TObject* sender) {
  TvgCustomGrid* grid = GetGrid();
  if (grid != nullptr) grid->SetColumnIndex(ColumnIndex());
  if (auto* cell = dynamic_cast<TvgObject*>(sender)) savedValue_ = cell->GetData();
}

void TvgColumn::CellKeyDown(TObject* sender, uint16_t& key, WideChar& keyChar, TShiftState shift) {
  TvgCustomGrid* grid = GetGrid();
  auto* cell = dynamic_cast<TvgObject*>(sender);
  if (keyChar != 0 && grid != nullptr && !grid->CanEditAcceptKey(keyChar)) keyChar = 0;
  if (grid == nullptr || cell == nullptr) return;
  switch (key) {
    case 13:
      grid->FocusGrid();
      key = 0;
      break;
    case 27:
      // The restored value is no edit: it is not written back, neither now nor when the focus
      // leaves the cell.
      cancelling_ = true;
      try {
        cell->SetData(savedValue_);
        grid->FocusGrid();
      } catch (...) {
        cancelling_ = false;
        throw;
      }
      cancelling_ = false;
      key = 0;
      break;
    case 38:
    case 40:
      grid->FocusGrid();
      grid->KeyDown(key, keyChar, shift);
      break;
    default:
      break;
  }
}

void TvgColumn::CellChanged(TObject* sender) {
  TvgCustomGrid* grid = GetGrid();
  auto* cell = dynamic_cast<TvgObject*>(sender);
  if (grid == nullptr || cell == nullptr || updating_) return;
  if (cancelling_ && dynamic_cast<TvgCustomTextBox*>(cell) != nullptr) return;
  int32_t col, row;
  CellCoordinates(cell, col, row);
  if (col < 0 || row < 0) return;
  grid->SetValue(col, row, cell->GetData());
}

void TvgStringColumn::UpdateColumn() {
  if (TvgCustomGrid* grid = GetGrid()) texts_.resize(static_cast<size_t>(std::max(0, grid->GetRowCount())));
  inherited::UpdateColumn();
}

// --- Grid

TvgCustomGrid::TvgCustomGrid(TComponent* owner)
    : TvgScrollBox(owner),
      alternatingRowBrush_(new TvgBrush(vgBrushSolid, 0x20000000u)),
      lineBrush_(new TvgBrush(vgBrushSolid, 0xFF202020u)) {
  SetAutoCapture(true);
  SetCanFocused(true);
  SetWidth(100);
  SetHeight(100);
}

TvgCustomGrid::~TvgCustomGrid() {
  selections_.clear();
  selectionPart_ = focusPart_ = nullptr;
  header_ = nullptr;
  DestroyTree();
  delete alternatingRowBrush_;
  delete lineBrush_;
}

std::string TvgCustomGrid::GetItemClassNames() {
  return "TvgColumn;TvgCheckColumn;TvgProgressColumn;TvgPopupColumn;TvgImageColumn";
}

int32_t TvgCustomGrid::ColumnCount() const {
  if (GetContent() == nullptr) return 0;
  return static_cast<int32_t>(std::count_if(GetContent()->Children().begin(), GetContent()->Children().end(), IsColumn));
}

TvgColumn* TvgCustomGrid::ColumnAt(int32_t index) const {
  if (GetContent() == nullptr || index < 0) return nullptr;
  for (TvgObject* child : GetContent()->Children()) {
    if (!IsColumn(child)) continue;
    if (index-- == 0) return static_cast<TvgColumn*>(child);
  }
  return nullptr;
}

int32_t TvgCustomGrid::VisibleRows() {
  return static_cast<int32_t>(std::trunc(GetViewportHeight() / rowHeight_)) + 2;
}

int32_t TvgCustomGrid::TopRow() {
  if (GetVScrollBar() == nullptr) return 0;
  return static_cast<int32_t>(std::floor(vPos_ / rowHeight_));
}

double TvgCustomGrid::MaxVScroll() {
  return std::max(0.0, static_cast<double>(rowCount_) * rowHeight_ - GetViewportHeight());
}

void TvgCustomGrid::GetValue(int32_t, int32_t, Variant& value) { value = Variant(); }

void TvgCustomGrid::SetValue(int32_t, int32_t, const Variant&) {}

void TvgCustomGrid::FocusGrid() { SetFocus(); }

TvgPoint TvgCustomGrid::ContentToLocal(TvgVisualObject* target, const TvgPoint& p) {
  return target->AbsoluteToLocal(GetContent()->LocalToAbsolute(p));
}

void TvgCustomGrid::AddObject(TvgObject* child) {
  if (GetContent() != nullptr && (IsColumn(child) || dynamic_cast<TvgSelectionItem*>(child) != nullptr)) {
    TvgRepaintBatch batch(this);  // the new column and the layout it brings (see Realign)
    GetContent()->AddObject(child);
    Realign();  // inside an update, at the end of the outermost one
    return;
  }
  inherited::AddObject(child);
}

void TvgCustomGrid::Realign() {
  // Inside an update the layout waits for the end of the outermost one, which opens its own
  // batch.
  if (HasState(csDestroying) || PutOffRealign()) return;
  // Columns, cells, header items and bars each ask for their own old and new areas as they are
  // laid out again (hundreds of invalidations of the window for a column resized): the scene
  // takes one request for all.
  TvgRepaintBatch batch(this);
  inherited::Realign();
}

void TvgCustomGrid::ApplyStyle() {
  inherited::ApplyStyle();
  if (TvgVisualObject* viewport = GetViewport()) {
    viewport->OnBeforePaint = TOnPaintEvent::Of<&TvgCustomGrid::PaintRows>(this);
    viewport->OnPaint = TOnPaintEvent::Of<&TvgCustomGrid::PaintLines>(this);
  }
  // The header part is a TvgHeader, or a place in the style where the grid puts one.
  TvgObject* headerPart = FindResource("header");
  header_ = dynamic_cast<TvgHeader*>(headerPart);
  if (header_ == nullptr && headerPart != nullptr && headerPart->IsVisual()) {
    header_ = new TvgHeader(this);
    header_->SetParent(headerPart);
    header_->SetAlign(vaClient);
    header_->SetStored(false);
    header_->SetLocked(true);
  }
  if (header_ != nullptr) {
    header_->OnRealignItem = TvgOnRealignItemEvent::Of<&TvgCustomGrid::HeaderRealignItem>(this);
    header_->OnResizeItem = TvgOnResizeItemEvent::Of<&TvgCustomGrid::HeaderResizeItem>(this);
    TvgVisualObject* shown = headerPart->Visual();
    shown->SetVisible(showHeader_);
  }
  auto visualPart = [this](const char* name) -> TvgVisualObject* {
    TvgObject* part = FindResource(name);
    if (part == nullptr || !part->IsVisual()) return nullptr;
    part->Visual()->SetVisible(false);
    return part->Visual();
  };
  selectionPart_ = visualPart("selection");
  focusPart_ = visualPart("focus");
  if (auto* alternating = dynamic_cast<TvgBrushObject*>(FindResource("AlternatingRowBackground")))
    alternatingRowBrush_->Assign(alternating->GetBrush());
  if (auto* lines = dynamic_cast<TvgBrushObject*>(FindResource("LineFill"))) lineBrush_->Assign(lines->GetBrush());
  UpdateColumns();
  UpdateHeader();
  UpdateSelection();
}

void TvgCustomGrid::FreeStyle() {
  inherited::FreeStyle();
  // The marks and a header put into the style go with the style's tree.
  selections_.clear();
  selectionPart_ = focusPart_ = nullptr;
  header_ = nullptr;
}

void TvgCustomGrid::UpdateColumns() {
  for (int32_t i = 0; i < ColumnCount(); ++i) {
    TvgColumn* column = ColumnAt(i);
    column->GetPosition()->SetY(0);
    column->UpdateColumn();
  }
}

TvgRect TvgCustomGrid::GetContentBounds() {
  TvgVisualObject* viewport = GetViewport();
  if (GetUpdateCounter() > 0 || viewport == nullptr) return GetLocalRect();
  TvgRect r = viewport->GetLocalRect();
  const int32_t count = ColumnCount();
  if (count > 0) {
    float x = r.Left;
    for (int32_t i = 0; i < count; ++i) {
      TvgColumn* column = ColumnAt(i);
      column->SetBounds(x, 0, column->GetWidth(), viewport->GetHeight());
      x += column->GetWidth();
      column->UpdateColumn();
    }
    r.Right = x;
    // The extent only sizes the scroll bar: a float is precise enough there.
    r.Bottom = r.Top + static_cast<float>(static_cast<double>(rowCount_) * rowHeight_);
  }
  r.Right = std::max(r.Right, r.Left + viewport->GetWidth());
  r.Bottom = std::max(r.Bottom, r.Top + viewport->GetHeight());
  UpdateColumns();
  UpdateHeader();
  UpdateSelection();
  return r;
}

void TvgCustomGrid::PlaceContent() {
  TvgVisualObject* viewport = GetViewport();
  if (GetContent() == nullptr || viewport == nullptr) return;
  TvgScrollBar* vbar = GetVScrollBar();
  const double rowTop = static_cast<double>(TopRow()) * rowHeight_;
  const float below = vbar != nullptr && vbar->GetVisible() ? static_cast<float>(vPos_ - rowTop) : 0.0f;
  // The viewport may sit inside padded parts of the style: its place is taken in the grid's own
  // coordinates, where the content lives.
  const TvgPoint origin = AbsoluteToLocal(viewport->LocalToAbsolute(vgPoint(0, 0)));
  GetContent()->GetPosition()->SetPoint(vgPoint(origin.X - GetHScrollOffset(), origin.Y - below));
  GetContent()->RecalcUpdateRect();
}

TvgRect TvgCustomGrid::GetContentClipRect() {
  TvgVisualObject* viewport = GetViewport();
  if (GetContent() == nullptr || viewport == nullptr) return inherited::GetContentClipRect();
  const TvgPoint a = GetContent()->AbsoluteToLocal(viewport->LocalToAbsolute(vgPoint(0, 0)));
  const TvgPoint b =
      GetContent()->AbsoluteToLocal(viewport->LocalToAbsolute(vgPoint(viewport->GetWidth(), viewport->GetHeight())));
  return vgRect(a.X, a.Y, b.X, b.Y);
}

void TvgCustomGrid::RealignContent(const TvgRect& r) {
  inherited::RealignContent(r);
  PlaceContent();
  UpdateSelection();
}

void TvgCustomGrid::SetVScrollPosition(double value) {
  TvgScrollBar* bar = GetVScrollBar();
  value = std::clamp(value, 0.0, MaxVScroll());
  if (bar == nullptr || !bar->GetVisible()) value = 0;
  vPos_ = value;
  // Every visible cell takes a new value and asks for its area, some several times (a check
  // cell's mark, a progress cell's bar): a page down made some 380 invalidations of the window,
  // each a round trip to the window system, and cost far more than the cells' own work. The
  // content moved, so the viewport is painted whole anyway: the scene takes one request for all.
  TvgRepaintBatch batch(this);
  // The bar's change comes back through VScrollChange: the cells are filled once, below.
  settingPosition_ = true;
  try {
    if (bar != nullptr && bar->GetVisible()) bar->SetValue(static_cast<float>(value));
  } catch (...) {
    settingPosition_ = false;
    throw;
  }
  settingPosition_ = false;
  PlaceContent();
  UpdateColumns();
  UpdateSelection();
}

void TvgCustomGrid::VScrollChange(TObject* sender) {
  // A drag of the bar, the wheel and each step of the bar's glide fill every cell again, as a
  // page down does: one repaint request (see SetVScrollPosition).
  TvgRepaintBatch batch(this);
  inherited::VScrollChange(sender);
  if (settingPosition_) return;
  TvgScrollBar* bar = GetVScrollBar();
  // The bar holds the position as a float: it only replaces the exact position when it was
  // moved to another value (by the user, the wheel or a drag).
  if (bar == nullptr || !bar->GetVisible()) vPos_ = 0;
  else if (static_cast<float>(vPos_) != bar->GetValue()) vPos_ = std::clamp<double>(bar->GetValue(), 0.0, MaxVScroll());
  PlaceContent();
  UpdateColumns();
  UpdateSelection();
}

void TvgCustomGrid::HScrollChange(TObject* sender) {
  // The content and every header item move: one repaint request.
  TvgRepaintBatch batch(this);
  inherited::HScrollChange(sender);
  PlaceContent();
  UpdateSelection();
  UpdateHeader();
}

void TvgCustomGrid::UpdateHeader() {
  if (header_ == nullptr) return;
  header_->SetScrollOffset(-GetHScrollOffset());
  const int32_t count = ColumnCount();
  // One item per column besides the filler: missing ones are made, surplus ones go.
  std::vector<TvgHeaderItem*> items;
  for (TvgObject* child : header_->Children())
    if (auto* item = dynamic_cast<TvgHeaderItem*>(child); item != nullptr && item != header_->GetFiller()) items.push_back(item);
  while (static_cast<int32_t>(items.size()) > count) {
    delete items.back();
    items.pop_back();
  }
  while (static_cast<int32_t>(items.size()) < count) {
    auto* item = new TvgHeaderItem(this);
    item->SetLocked(true);
    item->SetStored(false);
    item->SetParent(header_);
    items.push_back(item);
  }
  header_->GetFiller()->BringToFront();
  for (int32_t i = 0; i < count; ++i) {
    TvgColumn* column = ColumnAt(i);
    items[static_cast<size_t>(i)]->SetText(column->GetHeader());
    items[static_cast<size_t>(i)]->SetWidth(column->GetWidth());
  }
  header_->Realign();
}

void TvgCustomGrid::HeaderRealignItem(TObject*, int32_t oldIndex, int32_t newIndex) {
  TvgColumn* moved = ColumnAt(oldIndex);
  TvgColumn* target = ColumnAt(newIndex);
  if (moved == nullptr || target == nullptr) return;
  moved->SetIndex(target->GetIndex());  // ColumnIndex follows the current column (ContentReordered)
  Realign();
}

void TvgCustomGrid::ContentRemovingObject(TvgObject* child) {
  inherited::ContentRemovingObject(child);
  if (!IsColumn(child) || HasState(csDestroying)) return;
  // ColumnIndex keeps naming the current column when one before it goes, however (freed, moved
  // out, taken out); the current one going leaves the one in its place current, or the last.
  const int32_t index = static_cast<TvgColumn*>(child)->ColumnIndex();
  if (index < 0) return;
  if (index < columnIndex_ || (index == columnIndex_ && index > 0 && index == ColumnCount() - 1)) --columnIndex_;
}

void TvgCustomGrid::ContentRemoveObject(TvgObject* child) {
  inherited::ContentRemoveObject(child);
  // The columns after it close up, and the header and the marks follow (as for a column added).
  if (IsColumn(child)) Realign();
}

void TvgCustomGrid::ContentReordering() {
  inherited::ContentReordering();
  reorderedColumn_ = ColumnAt(columnIndex_);
}

void TvgCustomGrid::ContentReordered() {
  inherited::ContentReordered();
  TvgColumn* current = reorderedColumn_;
  reorderedColumn_ = nullptr;
  if (current == nullptr) return;
  int32_t index = 0;
  for (TvgObject* child : GetContent()->Children()) {
    if (child == current) {
      columnIndex_ = index;
      UpdateSelection();
      return;
    }
    if (IsColumn(child)) ++index;
  }
}

void TvgCustomGrid::HeaderResizeItem(TObject* sender, float& newSize) {
  if (newSize < 10) newSize = 10;
  auto* item = dynamic_cast<TvgObject*>(sender);
  TvgColumn* column = item != nullptr ? ColumnAt(item->GetIndex()) : nullptr;
  if (column == nullptr) return;
  column->SetWidth(newSize);
  Realign();
}

void TvgCustomGrid::UpdateSelection() {
  if (selectionPart_ == nullptr || ColumnCount() == 0 || GetContent() == nullptr) return;
  TvgVisualObject* parent = selectionPart_->GetParent() != nullptr ? selectionPart_->GetParent()->Visual() : nullptr;
  if (parent == nullptr) return;
  auto hideAll = [this] {
    for (TvgVisualObject* mark : selections_) mark->SetVisible(false);
    if (focusPart_ != nullptr) focusPart_->SetVisible(false);
  };
  if (rowCount_ == 0 || selected_ < 0) {
    hideAll();
    return;
  }
  // The selected row's rect, cut to the viewport: a row out of view shows no mark.
  const float y = static_cast<float>(static_cast<double>(selected_ - TopRow()) * rowHeight_);
  const float width = std::min(GetViewportWidth(), GetContent()->GetWidth());
  const TvgPoint topLeft = ContentToLocal(parent, vgPoint(0, y));
  TvgRect row = vgRect(topLeft.X, topLeft.Y, topLeft.X + width, topLeft.Y + rowHeight_);
  TvgRect shown = row;
  if (TvgVisualObject* viewport = GetViewport()) {
    const TvgPoint a = parent->AbsoluteToLocal(viewport->LocalToAbsolute(vgPoint(0, 0)));
    const TvgPoint b = parent->AbsoluteToLocal(viewport->LocalToAbsolute(vgPoint(viewport->GetWidth(), viewport->GetHeight())));
    if (!vgIntersectRect(shown, row, vgRect(a.X, a.Y, b.X, b.Y))) {
      hideAll();
      return;
    }
  }
  TvgColumn* column = ColumnAt(columnIndex_);
  // Bringing the focus part to the front lays out its parent's parts again, which asks for the
  // whole of that parent (the grid, in the default style): the areas of the marks and of the
  // focus part join that one request, instead of some fifteen invalidations of the window for an
  // arrow key. Without a focus part shown they stay requests of their own (a row each, wherever
  // the selection went).
  std::optional<TvgRepaintBatch> batch;
  if (focusPart_ != nullptr && showSelectedCell_ && column != nullptr) batch.emplace(this);
  if (selections_.empty()) {
    auto* mark = dynamic_cast<TvgVisualObject*>(selectionPart_->Clone(this));
    if (mark == nullptr) return;
    mark->SetResourceName(std::string());
    mark->SetParent(parent);
    mark->SetStored(false);
    selections_.push_back(mark);
  }
  selections_[0]->SetBounds(shown.Left, shown.Top, shown.Right - shown.Left, shown.Bottom - shown.Top);
  selections_[0]->SetVisible(true);
  for (size_t i = 1; i < selections_.size(); ++i) selections_[i]->SetVisible(false);
  if (focusPart_ != nullptr) {
    focusPart_->SetVisible(showSelectedCell_ && column != nullptr);
    if (focusPart_->GetVisible()) {
      focusPart_->BringToFront();
      const TvgRect pad = focusPart_->GetPadding()->GetRect();
      const float left = ContentToLocal(parent, column->GetPosition()->GetPoint()).X;
      focusPart_->SetBounds(left + pad.Left, row.Top + pad.Top, column->GetWidth() - (pad.Left + pad.Right),
                            rowHeight_ - (pad.Top + pad.Bottom));
    }
  }
  for (int32_t i = 0; i < ColumnCount(); ++i) ColumnAt(i)->UpdateSelected();
}

void TvgCustomGrid::SetSelected(int32_t row) {
  if (row == selected_) return;
  selected_ = std::min(std::max(row, 0), rowCount_ - 1);
  TvgScrollBar* bar = GetVScrollBar();
  if (bar != nullptr && bar->GetVisible() && selected_ >= 0) {
    const double top = static_cast<double>(selected_) * rowHeight_;
    double position = vPos_;
    if (TopRow() >= selected_) position = top;
    if (top > GetViewportHeight() + position - rowHeight_) position = top - GetViewportHeight() + rowHeight_;
    if (position != vPos_) {
      SetVScrollPosition(position);  // shows the selection as well
      return;
    }
  }
  UpdateSelection();
}

void TvgCustomGrid::SetColumnIndex(int32_t value) {
  if (!vgSetChanged(columnIndex_, value)) return;
  // A column out of view scrolls the content and the header, and the bar lays out its parts
  // again after it told the grid: one repaint request for all.
  TvgRepaintBatch batch(this);
  UpdateSelection();
  TvgColumn* column = ColumnAt(value);
  TvgScrollBar* bar = GetHScrollBar();
  if (column == nullptr || bar == nullptr || !bar->GetVisible()) return;
  const float x = column->GetPosition()->GetX();
  if (x < bar->GetValue()) bar->SetValue(x);
  if (x + column->GetWidth() > GetViewportWidth() + bar->GetValue())
    bar->SetValue(x + column->GetWidth() - GetViewportWidth());
}

void TvgCustomGrid::SetRowCount(int32_t value) {
  value = std::max(value, 0);
  if (!vgSetChanged(rowCount_, value)) return;
  Realign();
  if (rowCount_ >= 1 && selected_ >= rowCount_) SetSelected(rowCount_ - 1);
  if (vPos_ > MaxVScroll()) SetVScrollPosition(MaxVScroll());
}

void TvgCustomGrid::SetRowHeight(float value) {
  value = std::max(value, 5.0f);
  if (vgSetChanged(rowHeight_, value)) Realign();
}

void TvgCustomGrid::SetAlternatingRowBackground(bool value) {
  if (vgSetChanged(alternatingRowBackground_, value)) Repaint();
}

void TvgCustomGrid::SetShowHorzLines(bool value) {
  if (vgSetChanged(showHorzLines_, value)) Repaint();
}

void TvgCustomGrid::SetShowVertLines(bool value) {
  if (vgSetChanged(showVertLines_, value)) Repaint();
}

void TvgCustomGrid::SetShowHeader(bool value) {
  if (!vgSetChanged(showHeader_, value)) return;
  if (TvgObject* part = FindResource("header"); part != nullptr && part->IsVisual()) part->Visual()->SetVisible(value);
}

void TvgCustomGrid::SetShowSelectedCell(bool value) {
  if (vgSetChanged(showSelectedCell_, value)) UpdateSelection();
}

int32_t TvgCustomGrid::RowByPoint(float x, float y) {
  if (GetContent() == nullptr) return -1;
  const TvgPoint p = GetContent()->AbsoluteToLocal(LocalToAbsolute(vgPoint(x, y)));
  return TopRow() + static_cast<int32_t>(std::floor(p.Y / rowHeight_));
}

TvgColumn* TvgCustomGrid::ColumnByPoint(float x, float y) {
  const TvgPoint abs = LocalToAbsolute(vgPoint(x, y));
  for (int32_t i = 0; i < ColumnCount(); ++i) {
    TvgColumn* column = ColumnAt(i);
    if (!column->GetVisible()) continue;
    const TvgPoint p = column->AbsoluteToLocal(abs);
    if (p.X >= 0 && p.X < column->GetWidth()) return column;
  }
  return nullptr;
}

void TvgCustomGrid::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  pressed_ = true;
  SetSelected(RowByPoint(x, y));
  if (TvgColumn* column = ColumnByPoint(x, y)) SetColumnIndex(column->ColumnIndex());
}

void TvgCustomGrid::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!pressed_ || !shift.Contains(ssLeft)) return;
  SetSelected(RowByPoint(x, y));
  if (TvgColumn* column = ColumnByPoint(x, y)) SetColumnIndex(column->ColumnIndex());
}

void TvgCustomGrid::KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) {
  inherited::KeyDown(key, keyChar, shift);
  if (rowCount_ <= 0) return;
  TvgColumn* column = ColumnAt(columnIndex_);
  // Only a printable character starts editing: the characters of Escape, Backspace and Tab that
  // follow their keys do not.
  if (keyChar >= 32 && !readOnly_ && column != nullptr && !column->GetReadOnly()) {
    if (TvgControl* cell = column->CellByRow(selected_)) {
      cell->SetFocus();
      cell->KeyDown(key, keyChar, shift);
      return;
    }
  }
  const bool ctrl = shift.Contains(ssCtrl);
  const int32_t page = std::min(VisibleRows(), rowCount_);
  switch (key) {
    case 38:
      if (selected_ > 0) SetSelected(selected_ - 1);
      break;
    case 40:
      if (selected_ < rowCount_ - 1) SetSelected(selected_ + 1);
      break;
    case 37:
      if (columnIndex_ > 0) SetColumnIndex(columnIndex_ - 1);
      break;
    case 39:
      if (columnIndex_ < ColumnCount() - 1) SetColumnIndex(columnIndex_ + 1);
      break;
    case 33:
      if (selected_ > 0) SetSelected(selected_ - page);
      break;
    case 34:
      if (selected_ < rowCount_ - 1) SetSelected(selected_ + page);
      break;
    case 36:
      if (ctrl) SetSelected(0);
      else SetColumnIndex(0);
      break;
    case 35:
      if (ctrl) SetSelected(rowCount_ - 1);
      else SetColumnIndex(ColumnCount() - 1);
      break;
    case 113:
      if (column != nullptr)
        if (TvgControl* cell = column->CellByRow(selected_)) cell->SetFocus();
      break;
    default:
      return;
  }
  key = 0;
}

void TvgCustomGrid::PaintRows(TObject*, TvgCanvas* canvas, const TvgRect&) {
  TvgVisualObject* viewport = GetViewport();
  if (!alternatingRowBackground_ || canvas == nullptr || viewport == nullptr || GetContent() == nullptr) return;
  canvas->SetFill(alternatingRowBrush_);
  const int32_t top = TopRow();
  const int32_t rows = std::min(VisibleRows(), rowCount_);
  const float width = GetContent()->GetWidth();
  for (int32_t i = 0; i < rows; ++i) {
    const int32_t row = top + i;
    if (row >= rowCount_) break;
    if (row % 2 == 0) continue;
    const TvgPoint p = ContentToLocal(viewport, vgPoint(0, static_cast<float>(i) * rowHeight_));
    canvas->FillRect(vgRect(p.X, p.Y, p.X + width, p.Y + rowHeight_), 0, 0, vgAllCorners, GetAbsoluteOpacity());
  }
}

void TvgCustomGrid::PaintLines(TObject*, TvgCanvas* canvas, const TvgRect& rect) {
  TvgVisualObject* viewport = GetViewport();
  if (!(showHorzLines_ || showVertLines_) || canvas == nullptr || viewport == nullptr || GetContent() == nullptr) return;
  const int32_t state = canvas->SaveCanvas();
  canvas->IntersectClipRect(rect);
  canvas->SetStroke(lineBrush_);
  canvas->SetStrokeThickness(1);
  const float opacity = GetAbsoluteOpacity();
  // Rows past the last one get no lines.
  const int32_t rows = std::max(0, std::min({VisibleRows(), rowCount_, rowCount_ - TopRow()}));
  const float width = GetContent()->GetWidth();
  if (showHorzLines_) {
    for (int32_t i = 0; i <= rows; ++i) {
      const TvgPoint p = ContentToLocal(viewport, vgPoint(0, static_cast<float>(i) * rowHeight_));
      canvas->DrawLine(vgPoint(p.X, p.Y - 0.5f), vgPoint(p.X + width, p.Y - 0.5f), opacity);
    }
  }
  if (showVertLines_) {
    for (int32_t i = 0; i < ColumnCount(); ++i) {
      TvgColumn* column = ColumnAt(i);
      const TvgPoint p = ContentToLocal(viewport, vgPoint(column->GetPosition()->GetX() + column->GetWidth(), 0));
      canvas->DrawLine(vgPoint(p.X + 0.5f, p.Y), vgPoint(p.X + 0.5f, p.Y + static_cast<float>(rows) * rowHeight_), opacity);
    }
  }
  canvas->RestoreCanvas(state);
}

// --- Grid of events and string grid

void TvgGrid::GetValue(int32_t col, int32_t row, Variant& value) {
  value = Variant();
  RunHandler(OnGetValue, this, col, row, value);
}

void TvgGrid::SetValue(int32_t col, int32_t row, const Variant& value) { RunHandler(OnSetValue, this, col, row, value); }

TvgStringGrid::TvgStringGrid(TComponent* owner) : TvgCustomGrid(owner) { SetResource("gridstyle"); }

void TvgStringGrid::GetValue(int32_t col, int32_t row, Variant& value) {
  value = Variant();
  auto* column = dynamic_cast<TvgStringColumn*>(ColumnAt(col));
  if (column == nullptr || row < 0 || row >= GetRowCount()) return;
  auto& texts = column->Texts();
  if (static_cast<int32_t>(texts.size()) != GetRowCount()) texts.resize(static_cast<size_t>(GetRowCount()));
  value = Variant(texts[static_cast<size_t>(row)]);
}

void TvgStringGrid::SetValue(int32_t col, int32_t row, const Variant& value) {
  auto* column = dynamic_cast<TvgStringColumn*>(ColumnAt(col));
  if (column == nullptr || row < 0 || row >= GetRowCount()) return;
  auto& texts = column->Texts();
  if (static_cast<int32_t>(texts.size()) != GetRowCount()) texts.resize(static_cast<size_t>(GetRowCount()));
  texts[static_cast<size_t>(row)] = value.ToWideString();
}

WideString TvgStringGrid::GetCell(int32_t col, int32_t row) {
  Variant value;
  GetValue(col, row, value);
  return value.IsEmpty() ? WideString() : value.ToWideString();
}

void TvgStringGrid::SetCell(int32_t col, int32_t row, const WideString& text) {
  SetValue(col, row, Variant(text));
  // The cell of that row shows the new text.
  if (TvgColumn* column = ColumnAt(col)) column->UpdateColumn();
}

// --- Unit registration

void vgInitGridUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  vgInitLayoutsUnit();
  RegisterClass<TvgTextCell, TvgCheckCell, TvgProgressCell, TvgPopupCell, TvgStringColumn>();
  RegisterClass<TvgImageCell>();
  vgRegisterObjects("Grid", {TvgGrid::StaticClassInfo(), TvgStringGrid::StaticClassInfo(), TvgHeader::StaticClassInfo()});
  vgRegisterObjects("Grid Columns", {TvgColumn::StaticClassInfo(), TvgCheckColumn::StaticClassInfo(),
                                     TvgProgressColumn::StaticClassInfo(), TvgPopupColumn::StaticClassInfo(),
                                     TvgImageColumn::StaticClassInfo()});
  vgRegisterObjects("Items", {TvgHeaderItem::StaticClassInfo()});
}

namespace {
const bool g_gridRegistered = (AddClassRegistration(&vgInitGridUnit), true);
}
