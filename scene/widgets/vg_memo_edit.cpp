// The memo's editing: the two primitive edits, the undo stack, keys, mouse, clipboard, the
// context menu, focus and change events, the Lines operations and the registration.
#include <algorithm>
#include <cmath>

#include "classlib/Clipbrd.h"
#include "vg_memo.h"
#include "vg_widgets_p.h"

using namespace vg_widgets;

namespace {
const WideString kLineBreak = u"\r\n";
}  // namespace

KBL_PUBLISHED(TEdtActionStack) {}

// --- Undo stack

TEdtActionStack::~TEdtActionStack() { Clear(); }

void TEdtActionStack::Clear() {
  while (TEdtAction* action = static_cast<TEdtAction*>(Pop())) delete action;
}

void TEdtActionStack::FragmentInserted(int32_t startPos, int32_t length, bool pairedWithPrev) {
  if (length == 0) return;
  TEdtAction* top = Top();
  // Typing on at the end of the last insertion extends it.
  if (top != nullptr && top->ActionType == 1 && top->StartPosition + top->Length == startPos) {
    top->Length += length;
    return;
  }
  auto* action = new TEdtAction;
  action->ActionType = 1;
  action->PairedWithPrev = pairedWithPrev;
  action->StartPosition = startPos;
  action->Length = length;
  Push(action);
}

void TEdtActionStack::FragmentDeleted(int32_t startPos, const WideString& fragment) {
  if (fragment.empty()) return;
  TEdtAction* top = Top();
  if (top != nullptr && top->ActionType == 0) {
    const auto length = static_cast<int32_t>(fragment.size());
    // Only ranges that touch the recorded one join it: Delete at the same place appends,
    // Backspace just before it prepends. Anything else would put the characters back in the
    // wrong order.
    if (startPos == top->StartPosition) {
      top->DeletedFragment += fragment;
      return;
    }
    if (startPos + length == top->StartPosition) {
      top->DeletedFragment = fragment + top->DeletedFragment;
      top->StartPosition = startPos;
      return;
    }
  }
  auto* action = new TEdtAction;
  action->ActionType = 0;
  action->StartPosition = startPos;
  action->DeletedFragment = fragment;
  Push(action);
}

bool TEdtActionStack::RollBackAction() {
  if (Count() == 0 || memo_ == nullptr) return false;
  rollingBack_ = true;
  try {
    bool paired = true;
    while (paired && Count() > 0) {
      std::unique_ptr<TEdtAction> action(static_cast<TEdtAction*>(Pop()));
      if (action->ActionType == 0)
        memo_->InsertAfter(memo_->PosToCaretPos(action->StartPosition - 1), action->DeletedFragment,
                           vgDelUndo | vgInsSelect);
      else
        memo_->DeleteFrom(memo_->PosToCaretPos(action->StartPosition), action->Length, vgDelCaret);
      paired = action->PairedWithPrev;
    }
  } catch (...) {
    rollingBack_ = false;
    throw;
  }
  rollingBack_ = false;
  return true;
}

// --- Primitive edits

void TvgMemo::InsertAfter(const TCaretPosition& p, const WideString& text, uint32_t options) {
  const int32_t caretOffset = TextPos(caretPosition_);
  WideString s = text;
  if (maxLength_ > 0) {
    const int32_t room = std::max(maxLength_ - static_cast<int32_t>(text_.size()), 0);
    if (static_cast<int32_t>(s.size()) > room) {
      s.resize(static_cast<size_t>(room));
      if (!s.empty() && IsHighSurrogate(s.back())) s.pop_back();  // never half a pair
    }
  }
  if (s.empty()) return;
  const int32_t offset = TextPos(p);
  if (options & vgInsUndo) actionStack_->FragmentInserted(offset, static_cast<int32_t>(s.size()), (options & vgInsPaired) != 0);
  else if (!actionStack_->RollingBack()) actionStack_->Clear();  // an unrecorded edit leaves the records behind
  const TLineSpan span = SpanOfEdit(offset, 0);
  const int32_t oldCount = LineCount(), oldFull = fullUpdates_;
  const float oldLongest = LineWidth(longestLine_);
  EditText(static_cast<size_t>(offset), 0, s);
  UpdateLinesPiecewise(span, static_cast<int32_t>(s.size()));
  if (options & vgInsSelect) {
    selStart_ = PosToCaretPos(offset);
    selEnd_ = PosToCaretPos(offset + static_cast<int32_t>(s.size()));
    selectionActive_ = true;
    caretPosition_ = selEnd_;
  } else if (!IsLoading()) {
    // The caret keeps its place in the text: it moves on only when the text went in before it.
    caretPosition_ = PosToCaretPos(caretOffset + (offset <= caretOffset ? static_cast<int32_t>(s.size()) : 0));
    UpdateCaretPos(false);
  }
  EditDone(span, oldCount, oldLongest, oldFull);
}

void TvgMemo::DeleteFrom(const TCaretPosition& p, int32_t length, uint32_t options) {
  const auto size = static_cast<int32_t>(text_.size());
  int32_t first = TextPos(p);  // 0-based
  int32_t last = std::min(first + length, size) - 1;
  if (last < first) {
    if (options & vgDelCaret || selectionActive_) selectionActive_ = false;
    return;
  }
  // A CR LF pair and a surrogate pair are never split.
  if (text_[static_cast<size_t>(last)] == u'\r' && last + 1 < size && text_[static_cast<size_t>(last) + 1] == u'\n') ++last;
  if (SplitsPair(text_, last + 1)) ++last;
  if (text_[static_cast<size_t>(first)] == u'\n' && first > 0 && text_[static_cast<size_t>(first) - 1] == u'\r') --first;
  if (SplitsPair(text_, first)) --first;
  const int32_t count = last - first + 1;
  if (options & vgDelUndo) actionStack_->FragmentDeleted(first + 1, text_.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
  else if (!actionStack_->RollingBack()) actionStack_->Clear();
  const TLineSpan span = SpanOfEdit(first, count);
  const int32_t oldCount = LineCount(), oldFull = fullUpdates_;
  const float oldLongest = LineWidth(longestLine_);
  const bool hadSelection = selectionActive_;
  EditText(static_cast<size_t>(first), static_cast<size_t>(count), WideString());
  UpdateLinesPiecewise(span, -count);
  if (options & vgDelCaret || selectionActive_) {
    selectionActive_ = false;
    SetCaretPosition(PosToCaretPos(first));
  }
  // A selection that goes away may have covered lines outside the span.
  if (hadSelection) {
    RealignText();
    Repaint();
  } else {
    EditDone(span, oldCount, oldLongest, oldFull);
  }
}

void TvgMemo::DeleteSelection() {
  if (readOnly_ || !selectionActive_) return;
  DeleteFrom(GetSelBeg(), SelLength(), vgDelCaret | vgDelUndo);
}

void TvgMemo::CopyToClipboard() {
  const WideString selected = GetSelText();
  if (!selected.empty()) Clipboard().SetAsWideText(selected);
}

void TvgMemo::CutToClipboard() {
  if (readOnly_) return;
  CopyToClipboard();
  DeleteSelection();
}

void TvgMemo::PasteFromClipboard() {
  if (readOnly_) return;
  const WideString text = Clipboard().GetAsWideText();
  if (selectionActive_) {
    const TCaretPosition beg = GetSelBeg();
    DeleteFrom(beg, SelLength(), vgDelCaret | vgDelUndo);
    InsertAfter(beg, text, vgDelUndo | vgInsUndo | vgInsPaired);
  } else {
    InsertAfter(caretPosition_, text, vgDelUndo | vgInsUndo);
  }
  Change();
}

void TvgMemo::SelectAll() {
  selStart_ = PosToCaretPos(static_cast<int32_t>(text_.size()));
  selEnd_ = TCaretPosition();
  selectionActive_ = true;
  SetCaretPosition(selStart_);
  Repaint();
}

void TvgMemo::SelectWordAtCaret() {
  // A caret at a word's first character takes that word, not the one before it.
  const WideString line = GetLine(caretPosition_.Line);
  const int32_t pos = caretPosition_.Pos;
  const bool atWordStart = pos < static_cast<int32_t>(line.size()) && line[static_cast<size_t>(pos)] != u' ' &&
                           (pos == 0 || line[static_cast<size_t>(pos) - 1] == u' ');
  selStart_ = atWordStart ? caretPosition_ : PrevWordPos(caretPosition_);
  selEnd_ = NextWordPos(caretPosition_);
  selectionActive_ = true;
  Repaint();
}

TCaretPosition TvgMemo::NextWordPos(const TCaretPosition& p) const {
  const WideString line = GetLine(p.Line);
  if (p.Pos >= static_cast<int32_t>(line.size())) return p.Line < LineCount() - 1 ? TCaretPosition{p.Line + 1, 0} : p;
  return TCaretPosition{p.Line, std::min(NextWordStart(line, p.Pos), static_cast<int32_t>(line.size()))};
}

TCaretPosition TvgMemo::PrevWordPos(const TCaretPosition& p) const {
  if (p.Pos <= 0) return p.Line > 0 ? TCaretPosition{p.Line - 1, DisplayLength(p.Line - 1)} : p;
  return TCaretPosition{p.Line, PrevWordStart(GetLine(p.Line), p.Pos)};
}

// --- Lines

void TvgMemo::InsertLine(int32_t index, const WideString& text) {
  const int32_t count = LineCount();
  if (index < count) InsertAfter(TCaretPosition{index, 0}, text + kLineBreak, 0);
  else if (index > 0 && count > 0) InsertAfter(TCaretPosition{index - 1, DisplayLength(index - 1)}, kLineBreak + text, 0);
  else InsertAfter(TCaretPosition{index, 0}, text, 0);
}

void TvgMemo::DeleteLine(int32_t index) {
  const int32_t count = LineCount();
  if (index < 0 || index >= count) return;
  int32_t start = 0, length = 0;
  GetLineRange(index, start, length);
  if (index < count - 1 || index == 0) {
    DeleteFrom(TCaretPosition{index, 0}, length, 0);
    return;
  }
  // The last line goes with the break before it.
  int32_t prevStart = 0, prevLength = 0;
  GetLineRange(index - 1, prevStart, prevLength);
  const int32_t shown = DisplayLength(index - 1);
  DeleteFrom(TCaretPosition{index - 1, shown}, prevLength - shown + length, 0);
}

// --- Context menu, focus and change

void TvgMemo::CreatePopupMenu() {
  popupMenu_ = new TvgEditMenu(this);
  popupMenu_->AddItem("Undo", [this] { RollBackAction(); });
  popupMenu_->AddItem("Cut", [this] { CutToClipboard(); });
  popupMenu_->AddItem("Copy", [this] { CopyToClipboard(); });
  popupMenu_->AddItem("Paste", [this] { PasteFromClipboard(); });
  popupMenu_->AddItem("Delete", [this] { DeleteSelection(); });
  popupMenu_->AddItem("Select All", [this] { SelectAll(); });
}

void TvgMemo::UpdatePopupMenu() {
  const WideString selected = GetSelText();
  popupMenu_->SetItemEnabled("Undo", actionStack_->Count() > 0 && !readOnly_);
  popupMenu_->SetItemEnabled("Cut", !selected.empty() && !readOnly_);
  popupMenu_->SetItemEnabled("Copy", !selected.empty());
  popupMenu_->SetItemEnabled("Paste", !readOnly_ && !Clipboard().GetAsWideText().empty());
  popupMenu_->SetItemEnabled("Delete", !selected.empty() && !readOnly_);
  popupMenu_->SetItemEnabled("Select All", selected != text_);
}

void TvgMemo::ContextMenu(const TvgPoint& screenPoint) {
  inherited::ContextMenu(screenPoint);
  if (GetScene() != nullptr && GetScene()->GetDesignTime()) return;
  UpdatePopupMenu();
  popupMenu_->Popup(this, static_cast<int32_t>(Round(screenPoint.X)), static_cast<int32_t>(Round(screenPoint.Y)));
}

TvgPoint TvgMemo::GetImeCaretOffset() {
  const TvgPoint p = TextPosToPoint(caretPosition_);
  return vgPoint(static_cast<float>(Trunc(p.X)), static_cast<float>(Trunc(p.Y)));
}

void TvgMemo::EnterFocus() {
  inherited::EnterFocus();
  if (GetScene() != nullptr) GetScene()->TextFocusEntered(this);
  needChange_ = false;
  ShowCaret();
  caretPosition_ = TCaretPosition();
  UpdateCaretPos(false);
  if (autoSelect_) SelectAll();
}

void TvgMemo::KillFocus() {
  if (GetScene() != nullptr) GetScene()->TextFocusLeft(this);
  inherited::KillFocus();
  HideCaret();
  if (!HasState(csDestroying)) Change();
}

void TvgMemo::Change() {
  if (!needChange_) return;
  if (!BoundControls().empty()) UpdateBindings();
  RunHandler(OnChange, this);
}

// --- Keys

void TvgMemo::MoveCaretLines(int32_t lines) {
  const int32_t target = std::clamp(caretPosition_.Line + lines, 0, std::max(LineCount() - 1, 0));
  // The column under the caret's x on the target line.
  const float x = static_cast<float>(Round(TextPosToPoint(caretPosition_).X));
  caretPosition_ = TCaretPosition{target, ColumnAtX(target, x)};
}

void TvgMemo::DeleteSelectionFirst(bool& deleted) {
  deleted = selectionActive_ && SelLength() > 0;
  if (deleted) DeleteFrom(GetSelBeg(), SelLength(), vgDelCaret | vgDelUndo);
  else selectionActive_ = false;
}

void TvgMemo::KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) {
  inherited::KeyDown(key, keyChar, shift);
  const TCaretPosition oldCaret = caretPosition_;
  if (key == kKeyEnter) {
    if (!readOnly_) {
      bool deleted = false;
      DeleteSelectionFirst(deleted);
      InsertAfter(caretPosition_, kLineBreak, vgDelUndo | vgInsUndo | (deleted ? uint32_t{vgInsPaired} : 0u));
    }
    key = 0;
  }
  switch (key) {
    case kKeyBack:
    case kKeyDelete:
      if (readOnly_) break;
      if (!selectionActive_ || SelLength() == 0) {
        if (key == kKeyDelete) DeleteFrom(caretPosition_, 1, vgDelCaret | vgDelUndo);
        else if (TextPos(caretPosition_) > 0) DeleteFrom(GetPositionShift(caretPosition_, -1), 1, vgDelCaret | vgDelUndo);
      } else if (shift.Contains(ssShift)) {
        CutToClipboard();
      } else {
        DeleteSelection();
      }
      break;
    case kKeyPrior:
    case kKeyNext:
      MoveCaretLines(static_cast<int32_t>(Round(PageLines())) * (key == kKeyPrior ? -1 : 1));
      break;
    case kKeyEnd:
      if (shift.Contains(ssCtrl)) caretPosition_ = TCaretPosition{std::max(LineCount() - 1, 0), DisplayLength(LineCount() - 1)};
      else caretPosition_.Pos = DisplayLength(caretPosition_.Line);
      break;
    case kKeyHome:
      if (shift.Contains(ssCtrl)) caretPosition_ = TCaretPosition();
      else caretPosition_.Pos = 0;
      break;
    case kKeyLeft:
      caretPosition_ = shift.Contains(ssCtrl) ? PrevWordPos(caretPosition_) : GetPositionShift(caretPosition_, -1);
      break;
    case kKeyRight:
      caretPosition_ = shift.Contains(ssCtrl) ? NextWordPos(caretPosition_) : GetPositionShift(caretPosition_, 1);
      break;
    case kKeyUp:
    case kKeyDown:
      MoveCaretLines(key == kKeyUp ? -1 : 1);
      break;
    case kKeyInsert:
      if (shift.Contains(ssCtrl)) CopyToClipboard();
      else if (shift.Contains(ssShift)) PasteFromClipboard();
      break;
    default:
      break;
  }
  if (IsExactly(shift, ssCtrl)) {
    switch (keyChar) {
      case u'a': case u'A': SelectAll(); keyChar = 0; break;
      case u'c': case u'C': CopyToClipboard(); keyChar = 0; break;
      case u'v': case u'V': PasteFromClipboard(); keyChar = 0; break;
      case u'x': case u'X': CutToClipboard(); keyChar = 0; break;
      case u'z': case u'Z': keyChar = 0; break;  // undo is in the context menu only
      default: break;
    }
  }
  // Ctrl+Backspace sends the DEL character: a control character, never typed.
  if ((keyChar >= 32 && keyChar != 127) || keyChar == 13) {
    if (!readOnly_) {
      bool deleted = false;
      DeleteSelectionFirst(deleted);
      InsertAfter(caretPosition_, keyChar == 13 ? kLineBreak : WideString(1, keyChar),
                  vgDelUndo | vgInsUndo | (deleted ? uint32_t{vgInsPaired} : 0u));
    }
    keyChar = 0;
  }
  if (key >= kKeyPrior && key <= kKeyDown) {
    if (shift.Contains(ssShift)) {
      if (!selectionActive_) SelectAtPos(oldCaret);
      SelectAtPos(caretPosition_);
    } else {
      selectionActive_ = false;
    }
    Repaint();
  }
  UpdateCaretPos(true);
}

// --- Mouse

void TvgMemo::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != mbLeft || !vgPtInRect(vgPoint(x, y), GetViewportRect())) return;
  if (shift.Contains(ssDouble)) {
    mouseSelecting_ = false;
    SelectWordAtCaret();
    return;
  }
  mouseSelecting_ = true;
  SetCaretPosition(PointToTextPos(vgPoint(x, y)));
  selectionActive_ = false;
  SelectAtPos(caretPosition_);
  Repaint();
}

void TvgMemo::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  lastMousePos_ = vgPoint(x, y);
  if (!mouseSelecting_) return;
  const TvgRect viewport = GetViewportRect();
  y = std::clamp(y, viewport.Top, viewport.Bottom);
  x = std::clamp(x, viewport.Left, viewport.Right);
  SetCaretPosition(PointToTextPos(vgPoint(x, y)));
  SelectAtPos(caretPosition_);
  Repaint();
}

void TvgMemo::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  mouseSelecting_ = false;
  if (selectionActive_ && selStart_ == selEnd_) selectionActive_ = false;
}

void TvgMemo::MouseWheel(TShiftState shift, int32_t wheelDelta, bool& handled) {
  inherited::MouseWheel(shift, wheelDelta, handled);
  TvgScrollBar* bar = GetVScrollBar();
  if (bar != nullptr && bar->GetVisible()) bar->SetValue(bar->GetValue() - static_cast<float>(wheelDelta) / 30);
}

// --- Registration

void vgInitMemoUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  vgRegisterObjects("Text Edits", {TvgMemo::StaticClassInfo()});
  vgRegisterObjects("HUD", {TvgHudMemo::StaticClassInfo()});
}
