// The single-line text box: text, caret, selection, horizontal scrolling, keys, mouse, clipboard
// and context menu; its looks and the clear button.
#include "vg_textbox.h"

#include <algorithm>
#include <cmath>

#include "classlib/Clipbrd.h"
#include "scene/core/vg_canvas.h"
#include "scene/core/vg_resources.h"
#include "vg_widgets_p.h"

using namespace vg_widgets;


// --- Published properties

KBL_PUBLISHED(TvgCustomTextBox) {
  KBL_PROP(Width).Default(100.0f);
  KBL_PROP(Height).Default(22.0f);
  KBL_PROP(Cursor).Default(kCursorIBeam);
  KBL_PROP(CanFocused).Default(true);
  KBL_PROP(DisableFocusEffect).Default(false);
  KBL_PROP(Font);
  KBL_PROP(TextAlign).Default(vgTextAlignNear);
  KBL_PROP(BindingSource);
  KBL_PROP(ReadOnly).Default(false);
  using C = TvgCustomTextBox;
  p.Property("OnChange", &C::OnChange, &C::OnChange);
  p.Property("OnChangeTracking", &C::OnChangeTracking, &C::OnChangeTracking);
  p.Property("OnTyping", &C::OnTyping, &C::OnTyping);
}
KBL_PUBLISHED(TvgTextBox) {
  KBL_PROP(Password).Default(false);
  p.Property("Text", &TvgTextBox::GetText, &TvgTextBox::SetText);
}
KBL_PUBLISHED(TvgRoundTextBox) {}
KBL_PUBLISHED(TvgHudTextBox) {}
KBL_PUBLISHED(TvgHudRoundTextBox) {}
KBL_PUBLISHED(TvgTextBoxClearBtn) {}

// --- Construction

TvgCustomTextBox::TvgCustomTextBox(TComponent* owner)
    : TvgControl(owner),
      fontFill_(new TvgBrush(vgBrushSolid, 0xFF000000u)),
      font_(new TvgFont()),
      popupMenu_(new TvgEditMenu(this)),
      selectionFill_(new TvgBrush(vgBrushSolid, 0x802A8ADFu)) {
  InitWidgetsUnit();
  font_->OnChanged = TNotifyEvent::Of<&TvgCustomTextBox::FontChangedHandler>(this);
  SetCanFocused(true);
  SetCursor(kCursorIBeam);
  SetAutoCapture(true);
  SetWidth(100);
  SetHeight(22);
  popupMenu_->AddItem("Cut", [this] { CutToClipboard(); });
  popupMenu_->AddItem("Copy", [this] { CopyToClipboard(); });
  popupMenu_->AddItem("Paste", [this] { PasteFromClipboard(); });
  popupMenu_->AddItem("Delete", [this] { DeleteSelection(); });
  popupMenu_->AddItem("Select All", [this] { SelectAll(); });
}

TvgCustomTextBox::~TvgCustomTextBox() {
  // Losing the focus while going reports no change: the handlers' owners may be gone already.
  Destroying();
  DestroyTree();
  delete selectionFill_;
  delete fontFill_;
  delete font_;
  // The popup menu is an owned component and goes with the others.
}

void TvgCustomTextBox::SetData(const Variant& value) {
  if (value.IsNull()) SetText(WideString());
  else if (!VariantToNotify(value, OnChange)) SetText(value.ToWideString());
}

// --- Style

void TvgCustomTextBox::ApplyStyle() {
  inherited::ApplyStyle();
  if (TvgObject* content = FindResource("content"); content != nullptr && content->IsVisual()) {
    contentPart_ = content->Visual();
    contentPart_->OnPaint = TOnPaintEvent::Of<&TvgCustomTextBox::PaintContent>(this);
  }
  if (auto* selection = PartOf<TvgBrushObject>(this, "selection")) selectionFill_->Assign(selection->GetBrush());
  if (auto* foreground = PartOf<TvgBrushObject>(this, "foreground")) fontFill_->Assign(foreground->GetBrush());
}

void TvgCustomTextBox::FreeStyle() {
  inherited::FreeStyle();
  contentPart_ = nullptr;
}

TvgRect TvgCustomTextBox::GetContentRect() {
  TvgObject* content = FindResource("content");
  if (content == nullptr || !content->IsVisual()) return GetLocalRect();
  return content->Visual()->GetParentedRect();
}

// --- Text

void TvgCustomTextBox::SetText(const WideString& value) {
  if (!vgSetChanged(text_, value)) return;
  if (caretPosition_ > static_cast<int32_t>(text_.size())) SetCaretPosition(static_cast<int32_t>(text_.size()));
  if (!IsLoading()) RunHandler(OnChangeTracking, this);
  needChange_ = true;
  Repaint();
}

void TvgCustomTextBox::SetTextDirect(const WideString& value) {
  text_ = value;
  if (caretPosition_ > static_cast<int32_t>(text_.size())) caretPosition_ = static_cast<int32_t>(text_.size());
  if (firstVisibleChar_ > static_cast<int32_t>(text_.size()) + 1) firstVisibleChar_ = 1;
  Repaint();
}

void TvgCustomTextBox::FontChanged(TObject*) { Repaint(); }

void TvgCustomTextBox::Change() {
  if (!needChange_) return;
  if (!BoundControls().empty()) UpdateBindings();
  RunHandler(OnChange, this);
}

void TvgCustomTextBox::SetTextAlign(TvgTextAlign value) {
  if (vgSetChanged(textAlign_, value)) Repaint();
}

void TvgCustomTextBox::SetPassword(bool value) {
  if (vgSetChanged(password_, value)) Repaint();
}

float TvgCustomTextBox::PasswordCharWidth() const { return font_->GetSize() / 2; }

bool TvgCustomTextBox::Focused() {
  return GetIsFocused() || (GetScene() != nullptr && GetScene()->GetFocused() == this);
}

// --- Selection

int32_t TvgCustomTextBox::GetSelStart() const {
  if (selLength_ > 0) return selStart_;
  if (selLength_ == 0) return caretPosition_;
  return selStart_ + selLength_;
}

int32_t TvgCustomTextBox::GetSelLength() const { return std::abs(selLength_); }

WideString TvgCustomTextBox::GetSelText() const {
  const int32_t start = std::clamp(GetSelStart(), 0, static_cast<int32_t>(text_.size()));
  return text_.substr(static_cast<size_t>(start), static_cast<size_t>(GetSelLength()));
}

void TvgCustomTextBox::SetSelStart(int32_t value) {
  if (value == selStart_) return;
  selLength_ = 0;
  selStart_ = value;
  SetCaretPosition(value);
  Repaint();
}

void TvgCustomTextBox::SetSelLength(int32_t value) {
  if (vgSetChanged(selLength_, value)) Repaint();
}

void TvgCustomTextBox::SelectAll() {
  SetSelStart(0);
  SetSelLength(static_cast<int32_t>(text_.size()));
  SetCaretPosition(static_cast<int32_t>(text_.size()));
  Repaint();
}

void TvgCustomTextBox::ExtendSelection(int32_t oldCaret) {
  // The anchor (SelStart + SelLength) stays where it was.
  selLength_ += oldCaret - caretPosition_;
  selStart_ = caretPosition_;
}

// --- Caret and scrolling

void TvgCustomTextBox::SetCaretPosition(int32_t value) {
  value = std::clamp(value, 0, static_cast<int32_t>(text_.size()));
  if (SplitsPair(text_, value)) --value;
  caretPosition_ = value;
  UpdateFirstVisibleChar();
  if (selLength_ == 0) selStart_ = caretPosition_;
  Repaint();
  if (!Focused() || !showCaret_) return;
  const float height = font_->GetSize() * 1.25f;
  const TvgRect content = GetContentRect();
  SetCaretSize(vgPoint(2, height));
  SetCaretPos(vgPoint(TextPosToX(caretPosition_) - 1, (content.Top + content.Bottom - height) / 2));
  SetCaretColor(fontFill_->GetSolidColor());
}

float TvgCustomTextBox::TextWidth(const WideString& text) {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr || text.empty()) return 0;
  canvas->SetFont(font_);
  TvgRect r = GetContentRect();
  canvas->MeasureText(r, r, text, false, vgTextAlignNear, vgTextAlignCenter);
  return r.Right - r.Left;
}

float TvgCustomTextBox::RangeWidth(int32_t from, int32_t to) {
  from = std::max(from, 0);
  to = std::min(to, static_cast<int32_t>(text_.size()));
  if (to <= from) return 0;
  if (password_) return PasswordCharWidth() * static_cast<float>(to - from);
  return TextWidth(text_.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)));
}

void TvgCustomTextBox::UpdateFirstVisibleChar() {
  const float contentWidth = vgRectWidth(GetContentRect());
  const auto length = static_cast<int32_t>(text_.size());
  if (caretPosition_ + 1 > firstVisibleChar_) {
    if (password_) {
      while (PasswordCharWidth() * static_cast<float>(caretPosition_ - firstVisibleChar_ + 1) > contentWidth &&
             length > firstVisibleChar_)
        ++firstVisibleChar_;
    } else {
      // Advance in big steps while a step still leaves the caret outside, then by one.
      const auto fits = [&](int32_t first) { return RangeWidth(first - 1, caretPosition_) <= contentWidth; };
      while (!fits(firstVisibleChar_) && length > firstVisibleChar_) {
        int32_t step = 1;
        for (int32_t candidate : {500, 100, 50, 10}) {
          if (firstVisibleChar_ + candidate <= caretPosition_ && !fits(firstVisibleChar_ + candidate)) {
            step = candidate;
            break;
          }
        }
        firstVisibleChar_ += step;
        // The first visible character is never the second half of a pair.
        if (SplitsPair(text_, firstVisibleChar_ - 1)) ++firstVisibleChar_;
      }
    }
  } else {
    firstVisibleChar_ = std::max(caretPosition_, 1);
    if (SplitsPair(text_, firstVisibleChar_ - 1)) --firstVisibleChar_;
    firstVisibleChar_ = std::max(firstVisibleChar_, 1);
  }
  Repaint();
}

float TvgCustomTextBox::TextPosToX(int32_t position) {
  const TvgRect content = GetContentRect();
  const float contentWidth = vgRectWidth(content);
  float x = content.Left;
  float whole;
  if (password_) {
    whole = PasswordCharWidth() * static_cast<float>(text_.size());
    if (position > 0) x += PasswordCharWidth() * static_cast<float>(position - firstVisibleChar_ + 1);
  } else {
    whole = text_.empty() ? TextWidth(u"a") : TextWidth(text_);
    if (position > 0) x += RangeWidth(firstVisibleChar_ - 1, position);
  }
  if (whole < contentWidth) {
    if (textAlign_ == vgTextAlignCenter) x += (contentWidth - whole) / 2;
    else if (textAlign_ == vgTextAlignFar) x += contentWidth - whole;
  }
  return x;
}

int32_t TvgCustomTextBox::TextPosAtX(float x) {
  const int32_t start = firstVisibleChar_ - 1;
  if (text_.empty()) return start;
  const TvgRect content = GetContentRect();
  const float contentWidth = vgRectWidth(content);
  const auto length = static_cast<int32_t>(text_.size());
  const float whole = password_ ? PasswordCharWidth() * static_cast<float>(length) : TextWidth(text_);
  if (whole < contentWidth) {
    if (textAlign_ == vgTextAlignCenter) x -= (contentWidth - whole) / 2;
    else if (textAlign_ == vgTextAlignFar) x -= contentWidth - whole;
  }
  if (password_) {
    const int32_t result = start + static_cast<int32_t>(Trunc((x - content.Left) / PasswordCharWidth()));
    return std::clamp(result, 0, length);
  }
  x -= content.Left;
  int32_t position = start;
  float w1 = 0;
  while (w1 < x && position < length) {
    // One character is one code point: a pair is measured whole.
    const int32_t next = NextCharPos(text_, position);
    const float w2 = RangeWidth(start, next);
    if (w1 + (w2 - w1) / 2 < x && x < w2) return next;
    if (x < w2) return position;
    position = next;
    w1 = w2;
  }
  return position;
}

TvgRect TvgCustomTextBox::GetSelRect() {
  TvgRect r = GetContentRect();
  r.Left = TextPosToX(GetSelStart());
  r.Right = TextPosToX(GetSelStart() + GetSelLength()) + 1;
  return r;
}

// --- Painting

void TvgCustomTextBox::PaintContent(TObject*, TvgCanvas* canvas, const TvgRect& rect) {
  if (text_.empty() || canvas == nullptr) return;
  const int32_t state = canvas->SaveCanvas();
  canvas->IntersectClipRect(rect);
  canvas->SetFont(font_);
  canvas->SetFill(fontFill_);
  const auto first = static_cast<size_t>(std::max(firstVisibleChar_ - 1, 0));
  if (!password_) {
    TvgRect r = rect;
    if (textAlign_ == vgTextAlignNear) r.Right += font_->GetSize() / 2;
    const WideString visible = first < text_.size() ? text_.substr(first) : WideString();
    canvas->FillText(r, r, visible, false, GetAbsoluteOpacity(), textAlign_, vgTextAlignCenter);
  } else {
    const float side = PasswordCharWidth() - 1;
    const float top = (rect.Top + rect.Bottom - side) / 2;
    float left = rect.Left;
    for (size_t i = first; i < text_.size(); ++i) {
      canvas->FillEllipse(vgRect(left, top, left + side, top + side), GetAbsoluteOpacity());
      left += side + 1;
    }
  }
  if (Focused() && GetSelLength() > 0) {
    canvas->SetFill(selectionFill_);
    const TvgRect content = GetContentRect();
    TvgRect sel = GetSelRect();
    vgOffsetRect(sel, -content.Left, -content.Top);
    canvas->FillRect(sel, 0, 0, vgAllCorners, GetAbsoluteOpacity());
  }
  canvas->RestoreCanvas(state);
}

// --- Editing

void TvgCustomTextBox::InsertText(const WideString& text) {
  if (readOnly_) return;
  const int32_t start = GetSelStart();
  WideString copy = text_;
  copy.erase(static_cast<size_t>(std::clamp(start, 0, static_cast<int32_t>(copy.size()))),
             static_cast<size_t>(GetSelLength()));
  copy.insert(static_cast<size_t>(std::clamp(start, 0, static_cast<int32_t>(copy.size()))), text);
  if (maxLength_ > 0 && static_cast<int32_t>(copy.size()) > maxLength_) {
    SetSelLength(0);
    return;
  }
  SetText(copy);
  SetCaretPosition(start + static_cast<int32_t>(text.size()));
  SetSelLength(0);
}

void TvgCustomTextBox::DeleteSelection() {
  if (readOnly_) return;
  const int32_t start = GetSelStart();
  WideString copy = text_;
  copy.erase(static_cast<size_t>(std::clamp(start, 0, static_cast<int32_t>(copy.size()))),
             static_cast<size_t>(GetSelLength()));
  SetCaretPosition(start);
  SetText(copy);
  SetSelLength(0);
}

void TvgCustomTextBox::DeleteAtCaret(bool backwards) {
  if (text_.empty()) return;
  WideString copy = text_;
  if (backwards) {
    if (caretPosition_ <= 0) return;
    const int32_t from = PrevCharPos(text_, caretPosition_);
    copy.erase(static_cast<size_t>(from), static_cast<size_t>(caretPosition_ - from));
    SetText(copy);
    SetCaretPosition(from);
  } else {
    if (caretPosition_ >= static_cast<int32_t>(text_.size())) return;
    const int32_t to = NextCharPos(text_, caretPosition_);
    copy.erase(static_cast<size_t>(caretPosition_), static_cast<size_t>(to - caretPosition_));
    SetText(copy);
  }
  RunHandler(OnTyping, this);
}

void TvgCustomTextBox::CopyToClipboard() {
  // A password never leaves the box.
  if (password_) return;
  const WideString selected = GetSelText();
  if (!selected.empty()) Clipboard().SetAsWideText(selected);
}

void TvgCustomTextBox::CutToClipboard() {
  if (password_ || readOnly_) return;
  CopyToClipboard();
  DeleteSelection();
}

void TvgCustomTextBox::PasteFromClipboard() {
  if (readOnly_) return;
  InsertText(Clipboard().GetAsWideText());
}

int32_t TvgCustomTextBox::NextWordPos(int32_t position) const { return NextWordStart(text_, position); }

int32_t TvgCustomTextBox::PrevWordPos(int32_t position) const { return PrevWordStart(text_, position); }

// --- Keys

void TvgCustomTextBox::KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) {
  inherited::KeyDown(key, keyChar, shift);
  const int32_t oldCaret = caretPosition_;
  lastKey_ = key;
  lastChar_ = keyChar;
  const uint16_t movedBy = key;
  switch (key) {
    case kKeyBack:
    case kKeyDelete:
      if (readOnly_) break;
      if (GetSelLength() == 0) DeleteAtCaret(key == kKeyBack);
      else if (IsExactly(shift, ssShift)) CutToClipboard();
      else DeleteSelection();
      break;
    case kKeyEnter:
      Change();
      break;
    case kKeyEnd:
      SetCaretPosition(static_cast<int32_t>(text_.size()));
      break;
    case kKeyHome:
      SetCaretPosition(0);
      break;
    case kKeyLeft:
      SetCaretPosition(shift.Contains(ssCtrl) ? PrevWordPos(caretPosition_) : PrevCharPos(text_, caretPosition_));
      break;
    case kKeyRight:
      SetCaretPosition(shift.Contains(ssCtrl) ? NextWordPos(caretPosition_) : NextCharPos(text_, caretPosition_));
      break;
    case kKeyInsert:
      if (IsExactly(shift, ssCtrl)) {
        CopyToClipboard();
      } else if (IsExactly(shift, ssShift)) {
        PasteFromClipboard();
        RunHandler(OnTyping, this);
      }
      break;
    default:
      break;
  }
  if (keyChar != 0 && !filterChar_.empty() && filterChar_.find(keyChar) == WideString::npos) keyChar = 0;
  if (IsExactly(shift, ssCtrl)) {
    switch (keyChar) {
      case u'a': case u'A':
        SelectAll();
        keyChar = 0;
        break;
      case u'c': case u'C':
        CopyToClipboard();
        keyChar = 0;
        break;
      case u'v': case u'V':
        PasteFromClipboard();
        RunHandler(OnTyping, this);
        keyChar = 0;
        break;
      case u'x': case u'X':
        CutToClipboard();
        keyChar = 0;
        break;
      case u'z': case u'Z':
        keyChar = 0;  // no undo in a single-line box
        break;
      default:
        break;
    }
  }
  if (movedBy == kKeyEnd || movedBy == kKeyHome || movedBy == kKeyLeft || movedBy == kKeyRight) {
    if (shift.Contains(ssShift)) ExtendSelection(oldCaret);
    else selLength_ = 0;
    Repaint();
  }
  // Ctrl+Backspace sends the DEL character: a control character, never typed.
  if (keyChar >= 32 && keyChar != 127 && !readOnly_) {
    InsertText(WideString(1, keyChar));
    RunHandler(OnTyping, this);
    keyChar = 0;
  }
  if (TvgObject* style = GetStyleObject(); style != nullptr && style->IsVisual()) style->Visual()->UpdateEffects();
  SetCaretPosition(caretPosition_);
}

// --- Mouse

void TvgCustomTextBox::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  const bool wasFocused = Focused();
  inherited::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  leftMouseDown_ = true;
  // The first click into an unfocused box only focuses it (which selects everything).
  if (!shift.Contains(ssDouble) && wasFocused) {
    SetCaretPosition(TextPosAtX(x));
    SetSelLength(0);
  }
}

void TvgCustomTextBox::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!leftMouseDown_) return;
  const int32_t oldCaret = caretPosition_;
  int32_t position = TextPosAtX(x);
  // Beyond the right edge the text scrolls by a character at each move.
  if (x > GetContentRect().Right) position = NextCharPos(text_, position);
  SetCaretPosition(position);
  ExtendSelection(oldCaret);
  Repaint();
}

void TvgCustomTextBox::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  leftMouseDown_ = false;
}

void TvgCustomTextBox::DblClick() {
  inherited::DblClick();
  SelectAll();
}

// --- Focus and menu

TvgPoint TvgCustomTextBox::GetImeCaretOffset() {
  // TextPosToX already counts from the box's own origin.
  return vgPoint(static_cast<float>(Trunc(TextPosToX(caretPosition_))), static_cast<float>(Trunc(GetContentRect().Top)));
}

void TvgCustomTextBox::EnterFocus() {
  inherited::EnterFocus();
  if (GetScene() != nullptr) GetScene()->TextFocusEntered(this);
  needChange_ = false;
  if (showCaret_) ShowCaret();
  SelectAll();
}

void TvgCustomTextBox::KillFocus() {
  if (showCaret_) HideCaret();
  if (GetScene() != nullptr) GetScene()->TextFocusLeft(this);
  inherited::KillFocus();
  if (!HasState(csDestroying)) Change();
}

void TvgCustomTextBox::UpdatePopupMenu() {
  const bool selected = !GetSelText().empty();
  popupMenu_->SetItemEnabled("Cut", selected && !readOnly_ && !password_);
  popupMenu_->SetItemEnabled("Copy", selected && !password_);
  popupMenu_->SetItemEnabled("Paste", !readOnly_ && !Clipboard().GetAsWideText().empty());
  popupMenu_->SetItemEnabled("Delete", selected && !readOnly_);
  popupMenu_->SetItemEnabled("Select All", GetSelText() != text_);
}

void TvgCustomTextBox::ContextMenu(const TvgPoint& screenPoint) {
  inherited::ContextMenu(screenPoint);
  if (GetScene() != nullptr && GetScene()->GetDesignTime()) return;
  UpdatePopupMenu();
  popupMenu_->Popup(this, static_cast<int32_t>(Round(screenPoint.X)), static_cast<int32_t>(Round(screenPoint.Y)));
}

// --- Clear button

void TvgTextBoxClearBtn::ApplyStyle() {
  inherited::ApplyStyle();
  clearButton_ = PartOf<TvgCustomButton>(this, "clearbutton");
  if (clearButton_ != nullptr) clearButton_->OnClick = TNotifyEvent::Of<&TvgTextBoxClearBtn::ClearClick>(this);
}

void TvgTextBoxClearBtn::FreeStyle() {
  inherited::FreeStyle();
  clearButton_ = nullptr;
}

void TvgTextBoxClearBtn::ClearClick(TObject*) {
  SetFocus();
  SetText(WideString());
}

// --- Registration

void vgInitTextBoxUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  RegisterClass<TvgCustomTextBox>();
  vgRegisterObjects("Text Edits", {TvgTextBox::StaticClassInfo(), TvgRoundTextBox::StaticClassInfo(),
                                   TvgNumberBox::StaticClassInfo(), TvgSpinBox::StaticClassInfo(),
                                   TvgComboTextBox::StaticClassInfo(), TvgComboTrackBar::StaticClassInfo(),
                                   TvgTextBoxClearBtn::StaticClassInfo()});
  vgRegisterObjects("HUD", {TvgHudTextBox::StaticClassInfo(), TvgHudNumberBox::StaticClassInfo(),
                            TvgHudRoundTextBox::StaticClassInfo(), TvgHudSpinBox::StaticClassInfo(),
                            TvgHudComboTextBox::StaticClassInfo(), TvgHudComboTrackBar::StaticClassInfo()});
}
