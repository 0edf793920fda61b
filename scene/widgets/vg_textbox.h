// Single-line text editing of the scene: the text box with caret, selection, horizontal
// scrolling, clipboard and context menu, its looks (round, HUD, with a clear button), the number
// and spin boxes that edit a value, and the combo text box and combo track bar that drop down a
// list or a track under the box.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/SysUtils.h"
#include "scene/controls/vg_controls.h"
#include "scene/core/vg_popup.h"
#include "vg_editmenu.h"
#include "vg_listbox.h"

// --- Text box

// Positions count UTF-16 units of Text and never fall between the two halves of a surrogate
// pair: caret moves, deletions and selections step over a pair as one character.
class TvgCustomTextBox : public TvgControl, public IvgImeCaret {
  KBL_DECLARE_CLASS(TvgCustomTextBox, TvgControl)
 public:
  explicit TvgCustomTextBox(TComponent* owner);
  ~TvgCustomTextBox() override;

  // The text.
  Variant GetData() override { return Variant(text_); }
  // Null empties the text, a packed method becomes OnChange, anything else is set as text.
  void SetData(const Variant& value) override;
  void DblClick() override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) override;
  // Shows the context menu (outside design time) at the screen point.
  void ContextMenu(const TvgPoint& screenPoint) override;
  void EnterFocus() override;
  void KillFocus() override;
  void ApplyStyle() override;
  void FreeStyle() override;
  // Where the input method's composition window goes: the caret's x and the text area's top.
  TvgPoint GetImeCaretOffset() override;

  // Passes the value to bound controls and fires OnChange when the text changed since the box
  // took the focus (also when that was reported before).
  virtual void Change();
  // Stores a different text; the caret stays within it; fires OnChangeTracking (not while
  // loading) and marks the text changed.
  virtual void SetText(const WideString& value);
  virtual void FontChanged(TObject* sender);

  // --- Geometry of the text
  // The style's "content" part in the box's coordinates; the local rect without one.
  TvgRect GetContentRect();
  // The x (box coordinates) of the caret placed at `position`.
  float TextPosToX(int32_t position);
  // The caret position nearest to x (box coordinates).
  int32_t TextPosAtX(float x);
  // The selection's rect in the box's coordinates.
  TvgRect GetSelRect();
  // The width the scene canvas measures for the text with the box's font; 0 without canvas.
  float TextWidth(const WideString& text);

  // --- Editing
  // Inserts at the selection, replacing it; an insertion that would exceed MaxLength only clears
  // the selection. Nothing when ReadOnly.
  void InsertText(const WideString& text);
  void DeleteSelection();
  // Nothing for an empty selection or a password box.
  void CopyToClipboard();
  void CutToClipboard();
  void PasteFromClipboard();
  void SelectAll();
  // Start of the word after / before a position (only the space character separates words).
  int32_t NextWordPos(int32_t position) const;
  int32_t PrevWordPos(int32_t position) const;
  // Enables the context menu's items for the current state.
  void UpdatePopupMenu();

  // --- Properties
  const WideString& GetText() const { return text_; }
  int32_t GetCaretPosition() const { return caretPosition_; }
  // Clamped to the text and moved off the middle of a surrogate pair; re-places the caret.
  void SetCaretPosition(int32_t value);
  // The selection's left end and length, whichever way it was made.
  int32_t GetSelStart() const;
  int32_t GetSelLength() const;
  WideString GetSelText() const;
  void SetSelStart(int32_t value);
  void SetSelLength(int32_t value);
  int32_t GetFirstVisibleChar() const { return firstVisibleChar_; }
  TvgFont* GetFont() const { return font_; }
  void SetFont(TvgFont* value) { font_->Assign(value); }
  TvgBrush* GetFontFill() const { return fontFill_; }
  TvgBrush* GetSelectionFill() const { return selectionFill_; }
  TvgTextAlign GetTextAlign() const { return textAlign_; }
  void SetTextAlign(TvgTextAlign value);
  bool GetReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; }
  int32_t GetMaxLength() const { return maxLength_; }
  void SetMaxLength(int32_t value) { maxLength_ = value; }
  bool GetPassword() const { return password_; }
  void SetPassword(bool value);
  const WideString& GetFilterChar() const { return filterChar_; }
  void SetFilterChar(const WideString& value) { filterChar_ = value; }
  bool GetShowCaret() const { return showCaret_; }
  void SetShowCaret(bool value) { showCaret_ = value; }
  bool GetNeedChange() const { return needChange_; }
  void SetNeedChange(bool value) { needChange_ = value; }
  uint16_t GetLastKey() const { return lastKey_; }
  WideChar GetLastChar() const { return lastChar_; }
  // Font.Size / 2.
  float PasswordCharWidth() const;
  TvgEditMenu* GetPopupMenu() const { return popupMenu_; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChangeTracking;
  TNotifyEvent OnTyping;

 protected:
  // Stores the text as it is, without events or the changed mark (the value boxes show their
  // value through it).
  void SetTextDirect(const WideString& value);
  void PaintContent(TObject* sender, TvgCanvas* canvas, const TvgRect& rect);
  void UpdateFirstVisibleChar();
  // The selection as SelStart and SelLength follow the caret from `oldCaret`.
  void ExtendSelection(int32_t oldCaret);
  bool Focused();

 private:
  void FontChangedHandler(TObject* sender) { FontChanged(sender); }
  void TypingDone() { RunHandler(OnTyping, this); }
  // The width of Text[from, to) (0-based units); password dots when Password.
  float RangeWidth(int32_t from, int32_t to);
  void DeleteAtCaret(bool backwards);

  WideString text_;
  TvgBrush* fontFill_;
  TvgFont* font_;
  TvgTextAlign textAlign_ = vgTextAlignNear;
  bool readOnly_ = false;
  int32_t selStart_ = 0;
  int32_t selLength_ = 0;
  int32_t caretPosition_ = 0;
  int32_t maxLength_ = 0;
  int32_t firstVisibleChar_ = 1;
  bool leftMouseDown_ = false;
  bool needChange_ = false;
  bool password_ = false;
  TvgEditMenu* popupMenu_;
  TvgBrush* selectionFill_;
  WideString filterChar_;
  bool showCaret_ = true;
  uint16_t lastKey_ = 0;
  WideChar lastChar_ = 0;
  TvgVisualObject* contentPart_ = nullptr;
};

// The published text box: adds Password and Text.
class TvgTextBox : public TvgCustomTextBox {
  KBL_DECLARE_CLASS(TvgTextBox, TvgCustomTextBox)
 public:
  explicit TvgTextBox(TComponent* owner) : TvgCustomTextBox(owner) {}
};

class TvgRoundTextBox : public TvgTextBox {
  KBL_DECLARE_CLASS(TvgRoundTextBox, TvgTextBox)
 public:
  explicit TvgRoundTextBox(TComponent* owner) : TvgTextBox(owner) {}
};

class TvgHudTextBox : public TvgTextBox {
  KBL_DECLARE_CLASS(TvgHudTextBox, TvgTextBox)
 public:
  explicit TvgHudTextBox(TComponent* owner) : TvgTextBox(owner) {}
};

class TvgHudRoundTextBox : public TvgTextBox {
  KBL_DECLARE_CLASS(TvgHudRoundTextBox, TvgTextBox)
 public:
  explicit TvgHudRoundTextBox(TComponent* owner) : TvgTextBox(owner) {}
};

// A text box whose style's "clearbutton" empties it.
class TvgTextBoxClearBtn : public TvgTextBox {
  KBL_DECLARE_CLASS(TvgTextBoxClearBtn, TvgTextBox)
 public:
  explicit TvgTextBoxClearBtn(TComponent* owner) : TvgTextBox(owner) {}
  void ApplyStyle() override;
  void FreeStyle() override;

 private:
  void ClearClick(TObject*);
  TvgCustomButton* clearButton_ = nullptr;
};

// --- Number and spin boxes

KBL_ENUM(TvgValueType, vgValueInteger, vgValueFloat)

// What the number and spin boxes share: the value kept within Min .. Max and shown as text
// (whole values and integer boxes without decimals, others with DecimalDigits digits after the
// user's decimal separator), and typed text read back on Enter or when the focus goes.
class TvgValueTextBox : public TvgCustomTextBox {
  KBL_DECLARE_CLASS(TvgValueTextBox, TvgCustomTextBox)
 public:
  explicit TvgValueTextBox(TComponent* owner);

  Variant GetData() override { return Variant(static_cast<double>(value_)); }
  // A packed method becomes OnChange; anything else is taken as a number for Value (a text
  // that is no number changes nothing).
  void SetData(const Variant& value) override;
  // Reads typed text back into Value (only when the text was edited since the value was last
  // shown), rewrites it, then the text box's Change.
  void Change() override;
  void SetText(const WideString& value) override;

  float GetValue() const { return value_; }
  // Clamped (Min wins over Max); rebuilds the text without events.
  void SetValue(float value);
  float GetMin() const { return min_; }
  void SetMin(float value) { min_ = value; }
  float GetMax() const { return max_; }
  void SetMax(float value) { max_ = value; }
  TvgValueType GetValueType() const { return valueType_; }
  virtual void SetValueType(TvgValueType value) { valueType_ = value; }
  int32_t GetDecimalDigits() const { return decimalDigits_; }
  void SetDecimalDigits(int32_t value) { decimalDigits_ = value; }
  // True when the text was typed over since the value was last shown.
  bool GetTextEdited() const { return textEdited_; }

 protected:
  // Steps the value and reports it as a change (keys and buttons).
  void StepValue(float delta);
  float Clamped(float value) const;
  WideString ValueText(float value, bool shortest) const;

  float value_ = 0;
  float min_ = 0;
  float max_ = 10;
  TvgValueType valueType_ = vgValueInteger;
  int32_t decimalDigits_ = 2;
  bool textEdited_ = false;
};

// Edits Value by typing, the Up and Down keys (HorzIncrement) and dragging over the box
// (sideways by HorzIncrement, up and down by VertIncrement).
class TvgNumberBox : public TvgValueTextBox {
  KBL_DECLARE_CLASS(TvgNumberBox, TvgValueTextBox)
 public:
  explicit TvgNumberBox(TComponent* owner);
  void KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void PaintChildren() override;

  float GetHorzIncrement() const { return horzIncrement_; }
  void SetHorzIncrement(float value) { horzIncrement_ = value; }
  float GetVertIncrement() const { return vertIncrement_; }
  void SetVertIncrement(float value) { vertIncrement_ = value; }
  bool GetPressed() const { return pressed_; }

 private:
  bool pressed_ = false;
  bool stepped_ = false;  // a drag step happened since the press
  TvgPoint pressedPos_;
  bool pressedVert_ = false;
  float horzIncrement_ = 1;
  float vertIncrement_ = 5;
};

// Edits Value by typing, the Up and Down keys and the style's "minusbutton" and "plusbutton",
// in steps of Increment.
class TvgSpinBox : public TvgValueTextBox {
  KBL_DECLARE_CLASS(TvgSpinBox, TvgValueTextBox)
 public:
  explicit TvgSpinBox(TComponent* owner);
  void KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) override;
  void ApplyStyle() override;
  void FreeStyle() override;
  // An integer box takes whole increments: a fractional Increment becomes 1.
  void SetValueType(TvgValueType value) override;

  float GetIncrement() const { return increment_; }
  void SetIncrement(float value) { increment_ = value; }
  TvgCustomButton* GetMinusButton() const { return minusButton_; }
  TvgCustomButton* GetPlusButton() const { return plusButton_; }

 private:
  void MinusClick(TObject*);
  void PlusClick(TObject*);
  TvgCustomButton* minusButton_ = nullptr;
  TvgCustomButton* plusButton_ = nullptr;
  float increment_ = 1;
};

class TvgHudNumberBox : public TvgNumberBox {
  KBL_DECLARE_CLASS(TvgHudNumberBox, TvgNumberBox)
 public:
  explicit TvgHudNumberBox(TComponent* owner) : TvgNumberBox(owner) {}
};

class TvgHudSpinBox : public TvgSpinBox {
  KBL_DECLARE_CLASS(TvgHudSpinBox, TvgSpinBox)
 public:
  explicit TvgHudSpinBox(TComponent* owner) : TvgSpinBox(owner) {}
};

// --- Combo text box and combo track bar

// A text box whose style's arrow (the area outside its "content" part) drops down a list of
// Items; the chosen string becomes the text.
class TvgComboTextBox : public TvgCustomTextBox, public IvgComboListOwner {
  KBL_DECLARE_CLASS(TvgComboTextBox, TvgCustomTextBox)
 public:
  explicit TvgComboTextBox(TComponent* owner);
  ~TvgComboTextBox() override;

  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) override;
  void Realign() override;
  void ComboItemChosen(int32_t index) override { SetItemIndex(index); }

  // Opens the list under the box, or closes it when open.
  virtual void DropDown();
  // Brings the list in line with Items, keeping ItemIndex while it is valid (else the last
  // item); Items calls it after each change (or batch of changes), which costs what it changed.
  void RebuildList(TObject* sender = nullptr);

  int32_t GetItemIndex() const { return listBox_ != nullptr ? listBox_->GetItemIndex() : -1; }
  // Selects in the list; a valid index puts its string into the box, selected.
  void SetItemIndex(int32_t value);
  float GetItemHeight() const { return itemHeight_; }
  void SetItemHeight(float value);
  TvgWideStrings* GetItems() const { return items_; }
  void SetItems(TvgWideStrings* value) { items_->Assign(value); }
  int32_t GetDropDownCount() const { return dropDownCount_; }
  void SetDropDownCount(int32_t value) { dropDownCount_ = value; }
  TvgPlacement GetPlacement() const { return placement_; }
  void SetPlacement(TvgPlacement value) { placement_ = value; }
  std::string GetListBoxResource() const { return listBox_ != nullptr ? listBox_->GetResource() : std::string(); }
  void SetListBoxResource(const std::string& value);
  TvgPopup* GetPopup() const { return popup_; }
  TvgComboListBox* GetListBox() const { return listBox_; }

 private:
  void PopupClosed(TObject*);
  // Sizes the drop-down and styles its list as an opening does.
  void ShapeDropDown();
  int32_t dropDownCount_ = 8;
  TvgPopup* popup_ = nullptr;
  TvgComboListBox* listBox_ = nullptr;
  TvgPlacement placement_ = vgPlacementBottom;
  TvgItemLines* items_;
  float itemHeight_ = 19;
  bool inComboRealign_ = false;
};

// A text box that drops down a track bar; the track's value shows as text and typed numbers set
// the track.
class TvgComboTrackBar : public TvgCustomTextBox {
  KBL_DECLARE_CLASS(TvgComboTrackBar, TvgCustomTextBox)
 public:
  explicit TvgComboTrackBar(TComponent* owner);
  ~TvgComboTrackBar() override;

  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void ChangeParent() override;
  // Reads the text into the track (the track's value comes back when it is no number).
  void Change() override;
  // The track's change: its value as text ("2.500"), selected, and OnChange.
  virtual void TrackChanged(TObject* sender);
  virtual void DropDown();

  float GetMin() const { return trackBar_->GetMin(); }
  void SetMin(float value) { trackBar_->SetMin(value); }
  float GetMax() const { return trackBar_->GetMax(); }
  void SetMax(float value) { trackBar_->SetMax(value); }
  float GetValue() const { return trackBar_->GetValue(); }
  void SetValue(float value) { trackBar_->SetValue(value); }
  float GetFrequency() const { return trackBar_->GetFrequency(); }
  void SetFrequency(float value) { trackBar_->SetFrequency(value); }
  TvgPlacement GetPlacement() const { return placement_; }
  void SetPlacement(TvgPlacement value) { placement_ = value; }
  TvgPopup* GetPopup() const { return popup_; }
  TvgTrackBar* GetTrackBar() const { return trackBar_; }

 private:
  void PopupClosed(TObject*);
  TvgPopup* popup_ = nullptr;
  TvgTrackBar* trackBar_ = nullptr;
  TvgPlacement placement_ = vgPlacementBottom;
};

class TvgHudComboTextBox : public TvgComboTextBox {
  KBL_DECLARE_CLASS(TvgHudComboTextBox, TvgComboTextBox)
 public:
  explicit TvgHudComboTextBox(TComponent* owner);
};

class TvgHudComboTrackBar : public TvgComboTrackBar {
  KBL_DECLARE_CLASS(TvgHudComboTrackBar, TvgComboTrackBar)
 public:
  explicit TvgHudComboTrackBar(TComponent* owner);
};

// Registers the text boxes' classes ("Text Edits", "HUD"); runs once at start-up.
void vgInitTextBoxUnit();
