// The collapsible owner-drawn list view of the detailed dialog's call-stack, modules and
// processes pages.
#include "EListViewItems.h"

#include <windows.h>
#include <commctrl.h>

#include "EDialogMachinery_p.h"
#include "EExceptionDialog.h"
#include "classlib/SysUtils.h"

namespace {

constexpr COLORREF kSelectedRow = 0xF1DACC;
constexpr COLORREF kNormalRow = 0xFFFFFF;
constexpr COLORREF kFocusFrame = 0xC56A31;
constexpr COLORREF kFrame = 0xE2B598;
constexpr COLORREF kGroupBand = 0xE0A47B;
constexpr COLORREF kIndentStrip = 0xC2CBCE;

HWND AsWindow(uintptr_t handle) { return reinterpret_cast<HWND>(handle); }

void Fill(HDC dc, const RECT& rect, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

void Frame(HDC dc, const RECT& rect, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FrameRect(dc, &rect, brush);
  DeleteObject(brush);
}

COLORREF KindColour(int32_t kind) {
  switch (kind) {
    case EmberRowBlue: return 0x800000;
    case EmberRowRed: return 0x000080;
    default: return 0x606060;
  }
}

int TextWidth(HDC dc, const std::string& text) {
  SIZE size{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

}  // namespace

TListViewItems::TListViewItems(uintptr_t listView) : listView_(listView) {
  HWND view = AsWindow(listView_);
  static const char* const kImages[] = {"EL_DLL", "EL_BPL", "EL_VCL", "EL_PAS"};
  HIMAGELIST images = ImageList_Create(16, 16, ILC_COLORDDB, 4, 4);
  for (int i = 0; i < 4; ++i) {
    HBITMAP bitmap = ember_dialogs::LoadDialogBitmap(kImages[i]);
    bitmaps_[i] = reinterpret_cast<uintptr_t>(bitmap);
    if (images && bitmap) ImageList_Add(images, bitmap, nullptr);
  }
  imageList_ = reinterpret_cast<uintptr_t>(images);
  if (images) SendMessageA(view, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
  plus_ = reinterpret_cast<uintptr_t>(ember_dialogs::LoadDialogBitmap("EL_PLUS"));
  minus_ = reinterpret_cast<uintptr_t>(ember_dialogs::LoadDialogBitmap("EL_MINUS"));

  HDC dc = GetDC(view);
  dc_ = reinterpret_cast<uintptr_t>(dc);
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(view, WM_GETFONT, 0, 0));
  if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  LOGFONTA bold{};
  GetObjectA(font, sizeof bold, &bold);
  bold.lfWeight = FW_BOLD;
  boldFont_ = reinterpret_cast<uintptr_t>(CreateFontIndirectA(&bold));
  HGDIOBJ old = SelectObject(dc, font);
  while (indentWidth_ < 14 && indent_.size() < 64) {
    indent_ += ' ';
    indentWidth_ = TextWidth(dc, indent_);
  }
  SelectObject(dc, old);
}

TListViewItems::~TListViewItems() {
  HWND view = AsWindow(listView_);
  // The view frees the image lists it holds when it goes: this one is ours.
  if (IsWindow(view)) SendMessageA(view, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
  if (imageList_) ImageList_Destroy(reinterpret_cast<HIMAGELIST>(imageList_));
  for (uintptr_t bitmap : bitmaps_)
    if (bitmap) DeleteObject(reinterpret_cast<HBITMAP>(bitmap));
  if (plus_) DeleteObject(reinterpret_cast<HBITMAP>(plus_));
  if (minus_) DeleteObject(reinterpret_cast<HBITMAP>(minus_));
  if (boldFont_) DeleteObject(reinterpret_cast<HFONT>(boldFont_));
  if (dc_) ReleaseDC(view, reinterpret_cast<HDC>(dc_));
}

void TListViewItems::ReadColumns() {
  HWND header = reinterpret_cast<HWND>(SendMessageA(AsWindow(listView_), LVM_GETHEADER, 0, 0));
  columnCount_ = header ? static_cast<int32_t>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
  if (columnCount_ < 0) columnCount_ = 0;
  alignments_.assign(static_cast<size_t>(columnCount_), 0);
  for (int32_t i = 0; i < columnCount_; ++i) {
    LVCOLUMNA column{};
    column.mask = LVCF_FMT;
    if (!SendMessageA(AsWindow(listView_), LVM_GETCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column)))
      continue;
    int format = column.fmt & LVCFMT_JUSTIFYMASK;
    alignments_[static_cast<size_t>(i)] = format == LVCFMT_RIGHT ? 1 : format == LVCFMT_CENTER ? 2 : 0;
  }
}

void TListViewItems::AddRow(const std::vector<std::string>& texts, int32_t imageIndex, int32_t colourKind,
                            bool isGroup, const std::string& caption) {
  if (columnCount_ < 0) ReadColumns();
  auto row = std::make_unique<TRow>();
  row->Texts = texts;
  row->ImageIndex = imageIndex;
  row->ColourKind = colourKind;
  row->Group = isGroup;
  row->Caption = caption;
  bool empty = true;
  for (const std::string& text : texts)
    if (!Trim(text).empty()) empty = false;
  row->Blank = !isGroup && empty;
  if (isGroup)
    ++consecutiveGroups_;
  else if (row->Blank)
    consecutiveGroups_ = 0;
  if (!row->Blank && consecutiveGroups_ > 1) {
    if (row->Texts.empty()) row->Texts.emplace_back();
    row->Texts[0] = indent_ + row->Texts[0];
    row->Indented = true;
  }
  if (row->Blank) {
    lastNonBlank_ = nullptr;
  } else {
    row->Previous = lastNonBlank_;
    lastNonBlank_ = row.get();
  }
  rows_.push_back(std::move(row));
  InsertRow(*rows_.back(), -1);
}

void TListViewItems::InsertRow(TRow& row, int32_t index) {
  HWND view = AsWindow(listView_);
  std::string first = row.Texts.empty() ? std::string() : row.Texts[0];
  LVITEMA item{};
  item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
  item.iItem = index < 0 ? static_cast<int>(SendMessageA(view, LVM_GETITEMCOUNT, 0, 0)) : index;
  item.pszText = const_cast<char*>(first.c_str());
  item.lParam = reinterpret_cast<LPARAM>(&row);
  item.iImage = row.ImageIndex;
  int at = static_cast<int>(SendMessageA(view, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  if (at < 0) return;
  for (size_t column = 1; column < row.Texts.size() && static_cast<int32_t>(column) < columnCount_; ++column) {
    LVITEMA sub{};
    sub.iSubItem = static_cast<int>(column);
    sub.pszText = const_cast<char*>(row.Texts[column].c_str());
    SendMessageA(view, LVM_SETITEMTEXTA, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&sub));
  }
}

const TListViewItems::TRow* TListViewItems::RowOfItem(int32_t item) const {
  LVITEMA query{};
  query.mask = LVIF_PARAM;
  query.iItem = item;
  if (item < 0 || !SendMessageA(AsWindow(listView_), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query))) return nullptr;
  return reinterpret_cast<const TRow*>(query.lParam);
}

int32_t TListViewItems::IndexOfRow(const TRow* row) const {
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].get() == row) return static_cast<int32_t>(i);
  return -1;
}

bool TListViewItems::ToggleGroup(int32_t item, int32_t x, int32_t y, bool checkHit) {
  HWND view = AsWindow(listView_);
  const TRow* shown = RowOfItem(item);
  int32_t index = IndexOfRow(shown);
  if (index < 0 || !shown->Group) return false;
  if (checkHit) {
    RECT rect{};
    rect.left = LVIR_BOUNDS;
    SendMessageA(view, LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&rect));
    int shift = shown->Previous ? indentWidth_ : 0;
    int left = rect.left + 2 + shift, top = rect.top + 2;
    if (x < left || x > left + 10 || y < top || y > top + 10) return false;
  }
  TRow& group = *rows_[static_cast<size_t>(index)];
  group.Expanded = !group.Expanded;
  SendMessageA(view, WM_SETREDRAW, FALSE, 0);
  int32_t at = item + 1;
  for (size_t i = static_cast<size_t>(index) + 1; i < rows_.size(); ++i) {
    TRow& row = *rows_[i];
    if (row.Blank) break;
    if (group.Expanded) {
      if (!row.Visible) {
        row.Visible = true;
        InsertRow(row, at);
      }
      ++at;
      // A collapsed group inside keeps its own rows hidden.
      if (row.Group && !row.Expanded) break;
    } else if (row.Visible) {
      row.Visible = false;
      SendMessageA(view, LVM_DELETEITEM, static_cast<WPARAM>(at), 0);
    }
  }
  SendMessageA(view, WM_SETREDRAW, TRUE, 0);
  SendMessageA(view, LVM_REDRAWITEMS, static_cast<WPARAM>(item), static_cast<LPARAM>(item));
  InvalidateRect(view, nullptr, FALSE);
  return true;
}

void TListViewItems::Delete(int32_t index) {
  if (index < 0 || index >= Count()) return;
  HWND view = AsWindow(listView_);
  TRow* row = rows_[static_cast<size_t>(index)].get();
  if (row->Visible) {
    LVFINDINFOA find{};
    find.flags = LVFI_PARAM;
    find.lParam = reinterpret_cast<LPARAM>(row);
    int item = static_cast<int>(SendMessageA(view, LVM_FINDITEMA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
    if (item >= 0) SendMessageA(view, LVM_DELETEITEM, static_cast<WPARAM>(item), 0);
  }
  // Rows that pointed at the deleted one lose their block link.
  for (auto& other : rows_)
    if (other->Previous == row) other->Previous = nullptr;
  if (lastNonBlank_ == row) lastNonBlank_ = nullptr;
  rows_.erase(rows_.begin() + index);
}

void TListViewItems::Clear() {
  SendMessageA(AsWindow(listView_), LVM_DELETEALLITEMS, 0, 0);
  rows_.clear();
  lastNonBlank_ = nullptr;
  consecutiveGroups_ = 0;
}

// --- Drawing

bool TListViewItems::DrawRow(const void* drawItem) {
  const auto* draw = static_cast<const DRAWITEMSTRUCT*>(drawItem);
  if (!draw || draw->CtlType != ODT_LISTVIEW || draw->hwndItem != AsWindow(listView_)) return false;
  const TRow* row = reinterpret_cast<const TRow*>(draw->itemData);
  if (IndexOfRow(row) < 0) return false;
  HDC dc = draw->hDC;
  if (!drawingReady_) {
    SelectObject(dc, GetStockObject(BLACK_PEN));
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    drawingReady_ = true;
  }
  SetBkMode(dc, TRANSPARENT);
  bool selected = (draw->itemState & ODS_SELECTED) != 0;
  Fill(dc, draw->rcItem, selected ? kSelectedRow : kNormalRow);
  SetTextColor(dc, RGB(0, 0, 0));
  if (row->Group)
    DrawGroupRow(drawItem, *row);
  else
    DrawLineRow(drawItem, *row);
  return true;
}

void TListViewItems::DrawLineRow(const void* drawItem, const TRow& row) {
  const auto* draw = static_cast<const DRAWITEMSTRUCT*>(drawItem);
  HDC dc = draw->hDC;
  HWND view = AsWindow(listView_);
  RECT rect = draw->rcItem;
  if (!row.Blank && row.Previous) {
    RECT strip{rect.left, rect.top, rect.left + 3, rect.bottom};
    Fill(dc, strip, kIndentStrip);
  }
  if (row.ImageIndex >= 0 && row.ImageIndex < 4 && bitmaps_[row.ImageIndex])
    DrawTransparentBitmap(reinterpret_cast<uintptr_t>(dc), bitmaps_[row.ImageIndex], rect.left + 3,
                          rect.top + (rect.bottom - rect.top - 16) / 2, 16, 16);
  HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(view, WM_GETFONT, 0, 0)));
  int start = rect.left;
  for (int32_t column = 0; column < columnCount_; ++column) {
    int width = static_cast<int>(SendMessageA(view, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
    int end = start + width;
    if (static_cast<size_t>(column) < row.Texts.size()) {
      RECT cell{start + (column == 0 ? 20 : 6), rect.top, end - (column == 0 ? 2 : 6), rect.bottom};
      UINT align = alignments_[static_cast<size_t>(column)] == 1 ? DT_RIGHT
                   : alignments_[static_cast<size_t>(column)] == 2 ? DT_CENTER
                                                                    : DT_LEFT;
      const std::string& text = row.Texts[static_cast<size_t>(column)];
      if (cell.right > cell.left)
        DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &cell,
                  align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    start = end;
  }
  SelectObject(dc, oldFont);
  if (draw->itemState & ODS_FOCUS) {
    DrawFocusRect(dc, &rect);
    Frame(dc, rect, kFocusFrame);
  } else if (draw->itemState & ODS_SELECTED) {
    Frame(dc, rect, kFrame);
  }
}

void TListViewItems::DrawGroupRow(const void* drawItem, const TRow& row) {
  const auto* draw = static_cast<const DRAWITEMSTRUCT*>(drawItem);
  HDC dc = draw->hDC;
  RECT rect = draw->rcItem;
  RECT band = rect;
  band.left += 2;
  Fill(dc, band, kGroupBand);
  int shift = row.Previous ? indentWidth_ : 0;
  HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(boldFont_));
  SetTextColor(dc, KindColour(row.ColourKind));
  RECT text = rect;
  text.left += 15 + shift + (row.ColourKind == EmberRowGrey ? indentWidth_ : 0);
  DrawTextA(dc, row.Caption.c_str(), static_cast<int>(row.Caption.size()), &text,
            DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  SelectObject(dc, oldFont);
  uintptr_t box = row.Expanded ? minus_ : plus_;
  if (box) DrawTransparentBitmap(reinterpret_cast<uintptr_t>(dc), box, rect.left + 1 + shift, rect.top + 1, 13, 13);
  if (draw->itemState & ODS_FOCUS) Frame(dc, rect, kFocusFrame);
}
