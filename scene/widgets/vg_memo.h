// The multi-line text editor of the scene: one text with a table of display lines (wrapped or
// not) over it, positions as (line, column), flat offsets and points, painting of text and
// selection, editing through two primitive edits with an undo stack, keys, mouse, clipboard and
// the context menu.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Contnrs.h"
#include "scene/controls/vg_scrollbox.h"
#include "scene/core/vg_widestrings.h"
#include "vg_editmenu.h"

class TvgMemo;

// A place in the memo: display line and column (0 = before the line's first character).
struct TCaretPosition {
  int32_t Line = 0;
  int32_t Pos = 0;
  friend bool operator==(const TCaretPosition&, const TCaretPosition&) = default;
};

using TSelArea = std::vector<TvgRect>;
using TLinesBegs = std::vector<int32_t>;

KBL_ENUM(TEditCharCase, vgecNormal, vgecUpperCase, vgecLowerCase)

// The memo's display lines as a list of strings: reading gives the lines without their breaks,
// writing edits the memo's text.
class TvgMemoLines : public TvgWideStrings {
  KBL_DECLARE_CLASS(TvgMemoLines, TvgWideStrings)
 public:
  TvgMemoLines() = default;
  explicit TvgMemoLines(TvgMemo* memo) : memo_(memo) {}
  WideString Get(int32_t index) const override;
  int32_t GetCount() const override;
  void Insert(int32_t index, const WideString& text) override;
  void Delete(int32_t index) override;
  void Clear() override;
  void SetUpdateState(bool updating) override;
  // Another list's lines become the text at once, joined by CR LF (as adding them one by one
  // would leave them).
  void Assign(TPersistent* source) override;

 private:
  TvgMemo* memo_ = nullptr;
};

// One step of the undo stack: a deleted fragment (ActionType 0; StartPosition 1-based) or an
// insertion (ActionType 1; StartPosition 0-based, Length characters).
struct TEdtAction {
  uint8_t ActionType = 0;
  bool PairedWithPrev = false;
  int32_t StartPosition = 0;
  WideString DeletedFragment;
  int32_t Length = 0;
};

// The memo's undo stack. It owns its actions. Consecutive typing extends one insertion;
// deletions at one place (Delete) or running backwards (Backspace) extend one deletion while
// their ranges touch.
class TEdtActionStack : public TStack {
  KBL_DECLARE_CLASS(TEdtActionStack, TStack)
 public:
  TEdtActionStack() = default;
  explicit TEdtActionStack(TvgMemo* memo) : memo_(memo) {}
  ~TEdtActionStack() override;

  void FragmentInserted(int32_t startPos, int32_t length, bool pairedWithPrev);
  void FragmentDeleted(int32_t startPos, const WideString& fragment);
  // Reverts the top action (and those paired below it); answers whether anything was undone.
  bool RollBackAction();
  void Clear();
  TEdtAction* Top() const { return static_cast<TEdtAction*>(Peek()); }
  // True while RollBackAction reverts steps: those edits are not recorded and keep the stack.
  bool RollingBack() const { return rollingBack_; }

 private:
  TvgMemo* memo_ = nullptr;
  // The stack's own: an edit made meanwhile to another memo (from a change event, or on another
  // GUI thread) is an unrecorded edit of that memo and clears its records.
  bool rollingBack_ = false;
};

// Options of the primitive edits.
enum : uint32_t {
  vgInsSelect = 1,      // InsertAfter: select the inserted text, caret at its end
  vgInsUndo = 4,        // InsertAfter: record the insertion
  vgInsPaired = 8,      // InsertAfter: undone together with the step below it
  vgDelCaret = 1,       // DeleteFrom: drop the selection, caret to the range's start
  vgDelUndo = 2,        // DeleteFrom: record the deleted fragment
};

class TvgMemo : public TvgScrollBox, public IvgImeCaret {
  KBL_DECLARE_CLASS(TvgMemo, TvgScrollBox)
 public:
  explicit TvgMemo(TComponent* owner);
  ~TvgMemo() override;

  Variant GetData() override { return Variant(text_); }
  void SetData(const Variant& value) override { SetText(value.ToWideString()); }
  void ApplyStyle() override;
  void FreeStyle() override;
  // The line table's extent (see the source).
  TvgRect GetContentBounds() override;
  void KeyDown(uint16_t& key, WideChar& keyChar, TShiftState shift) override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseWheel(TShiftState shift, int32_t wheelDelta, bool& handled) override;
  void ContextMenu(const TvgPoint& screenPoint) override;
  void EnterFocus() override;
  void KillFocus() override;
  // The caret's point in the text, for the input method's composition window.
  TvgPoint GetImeCaretOffset() override;

  // Stores an accepted, different text in CharCase and rebuilds the line table (unless an edit
  // updates it piecewise).
  virtual void SetText(const WideString& value);
  virtual void DrawSelection(TSelArea& area);
  virtual void PrepareTextCanvas();
  // Accepts every text here.
  virtual bool ValidateText(const WideString& value) { return true; }
  virtual void Change();
  virtual void CreatePopupMenu();
  virtual void UpdatePopupMenu();

  // --- Text model
  const WideString& GetText() const { return text_; }
  const TLinesBegs& LinesBegs() const { return linesBegs_; }
  int32_t LineCount() const { return static_cast<int32_t>(linesBegs_.size()); }
  // The first offset (1-based) and length (break characters included) of display line I.
  void GetLineRange(int32_t index, int32_t& start, int32_t& length) const;
  // Display line I without its break.
  WideString GetLine(int32_t index) const;
  // Rebuilds the whole line table.
  void UpdateLines();
  int32_t GetLongestLine() const { return longestLine_; }

  // --- Positions
  int32_t TextPos(const TCaretPosition& p) const;
  TCaretPosition PosToCaretPos(int32_t offset) const;
  // The position `delta` characters away; a CR LF pair and a surrogate pair count as one.
  TCaretPosition GetPositionShift(const TCaretPosition& p, int32_t delta) const;
  TvgPoint TextPosToPoint(const TCaretPosition& p);
  TCaretPosition PointToTextPos(const TvgPoint& point);
  // The column of display line `line` nearest to x (memo coordinates).
  int32_t ColumnAtX(int32_t line, float x);
  float LineHeight() const;
  float PageLines();
  // The width of the text in the memo's font, as the canvas measures it in a rectangle 10000 wide
  // without wrapping; 0 without a canvas. Widths of single characters are kept per canvas and
  // font, so a text of simple characters on a canvas that measures in whole units without
  // kerning costs no canvas call.
  float TextWidth(const WideString& text);
  float LineWidth(int32_t index);

  // --- Caret and selection
  TCaretPosition GetCaretPosition() const { return caretPosition_; }
  void SetCaretPosition(const TCaretPosition& p);
  void UpdateCaretPos(bool scroll);
  void ScrollToCaretVert();
  void ScrollToCaretHorz();
  TCaretPosition GetSelBeg() const;
  TCaretPosition GetSelEnd() const;
  int32_t SelLength() const;
  WideString GetSelText() const;
  int32_t SelBegOffset() const;
  void SelectAtPos(const TCaretPosition& p);
  bool GetSelectionActive() const { return selectionActive_; }
  void SetSelectionActive(bool value) { selectionActive_ = value; }
  TCaretPosition GetSelStart() const { return selStart_; }
  TCaretPosition GetSelEndPos() const { return selEnd_; }

  // --- Editing
  void InsertAfter(const TCaretPosition& p, const WideString& text, uint32_t options);
  void DeleteFrom(const TCaretPosition& p, int32_t length, uint32_t options);
  void DeleteSelection();
  void CopyToClipboard();
  void CutToClipboard();
  void PasteFromClipboard();
  void SelectAll();
  void SelectWordAtCaret();
  TCaretPosition NextWordPos(const TCaretPosition& p) const;
  TCaretPosition PrevWordPos(const TCaretPosition& p) const;
  // The Lines operations (no undo records).
  void InsertLine(int32_t index, const WideString& text);
  void DeleteLine(int32_t index);
  void ClearLines() { SetText(WideString()); }
  bool RollBackAction() { return actionStack_->RollBackAction(); }

  // --- Properties
  TvgFont* GetFont() const { return font_; }
  void SetFont(TvgFont* value) { font_->Assign(value); }
  TvgBrush* GetFontFill() const { return fontFill_; }
  TvgBrush* GetSelectionFill() const { return selectionFill_; }
  TvgTextAlign GetTextAlign() const { return textAlign_; }
  void SetTextAlign(TvgTextAlign value) { textAlign_ = value; }
  bool GetAutoSelect() const { return autoSelect_; }
  void SetAutoSelect(bool value) { autoSelect_ = value; }
  TEditCharCase GetCharCase() const { return charCase_; }
  void SetCharCase(TEditCharCase value) { charCase_ = value; }
  bool GetHideSelection() const { return hideSelection_; }
  void SetHideSelection(bool value);
  int32_t GetMaxLength() const { return maxLength_; }
  void SetMaxLength(int32_t value) { maxLength_ = value; }
  bool GetReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; }
  bool GetWordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value);
  TvgWideStrings* GetLines() const { return lines_; }
  void SetLines(TvgWideStrings* value) { lines_->Assign(value); }
  bool GetLinesUpdating() const { return linesUpdating_; }
  void SetLinesUpdating(bool value) { linesUpdating_ = value; }
  bool GetNeedChange() const { return needChange_; }
  int32_t GetFirstVisibleChar() const { return firstVisibleChar_; }
  TEdtActionStack* GetActionStack() const { return actionStack_; }
  TvgEditMenu* GetPopupMenu() const { return popupMenu_; }
  // How many full line-table rebuilds ran (the benchmark and tests watch it).
  int32_t FullUpdateCount() const { return fullUpdates_; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChangeTracking;

 protected:
  void PaintContent(TObject* sender, TvgCanvas* canvas, const TvgRect& rect);
  void FontChanged(TObject* sender);
  void RealignText();

 private:
  friend class TEdtActionStack;
  // The range of lines an edit at `offset` (0-based) touching `count` characters re-breaks.
  struct TLineSpan {
    int32_t First = 0, Last = 0;
    int32_t Start = 1, End = 0;  // 1-based, End inclusive, break characters of Last excluded
  };
  TLineSpan SpanOfEdit(int32_t offset, int32_t count) const;
  // After an edit of `delta` characters inside `span`: the span re-broken, later entries shifted.
  void UpdateLinesPiecewise(const TLineSpan& span, int32_t delta);
  // After an edit inside `span`: the scroll range and the whole memo when the table changed shape,
  // else a repaint of the span's lines only.
  void EditDone(const TLineSpan& span, int32_t oldCount, float oldLongest, int32_t oldFullUpdates);
  // Breaks Text[start, end] (1-based, inclusive) into lines: the starts of the lines after the
  // first and the width of each line.
  void BreakRange(int32_t start, int32_t end, std::vector<int32_t>& starts, std::vector<float>& widths);
  void BreakParagraph(int32_t start, const WideString& line, float wrapWidth, std::vector<int32_t>& starts,
                      std::vector<float>& widths);
  void FindLongestLine();
  // The width of `length` characters at `text` (see TextWidth).
  float TextWidth(const WideChar* text, size_t length);
  // The canvas's measure of the characters, in the memo's font.
  float MeasureOnCanvas(TvgCanvas* canvas, const WideChar* text, size_t length);
  // The sum of the characters' widths when every one of them is kept in charWidths_ (measured now
  // when not yet) and the canvas measures texts as such sums; false when the canvas must measure.
  bool SumOfCharWidths(TvgCanvas* canvas, const WideChar* text, size_t length, float& sum);
  // charWidths_ made to fit the canvas and the font (emptied when either changed); answers whether
  // the canvas measures additively there, testing it once.
  bool CharWidthsFit(TvgCanvas* canvas);
  float WrapWidth();
  int32_t FirstVisibleLine();
  int32_t LastVisibleLine();
  int32_t DisplayLength(int32_t line) const;
  bool SelectionShown();
  void MoveCaretLines(int32_t lines);
  void DeleteSelectionFirst(bool& deleted);
  // Replaces `count` characters at `offset` (0-based) by `inserted` where they stand and keeps
  // the result as SetText keeps a text (accepted by ValidateText, in CharCase, OnChangeTracking,
  // NeedChange); the line table is the caller's. The text is never copied whole: many edits in a
  // row (filling Lines) stay linear.
  void EditText(size_t offset, size_t count, const WideString& inserted);

  bool needChange_ = false;
  WideString text_;
  TvgBrush* fontFill_;
  TvgFont* font_;
  TvgTextAlign textAlign_ = vgTextAlignNear;
  bool updateLinesOnSetText_ = true;
  bool mouseSelecting_ = false;
  TvgPoint lastMousePos_;
  TCaretPosition caretPosition_;
  int32_t firstVisibleChar_ = 0;
  TvgEditMenu* popupMenu_ = nullptr;
  bool autoSelect_ = true;
  TEditCharCase charCase_ = vgecNormal;
  TEditCharCase caseOfText_ = vgecNormal;  // the case the whole text is known to be in
  bool hideSelection_ = true;
  int32_t maxLength_ = 0;
  bool readOnly_ = false;
  TEdtActionStack* actionStack_;
  TvgMemoLines* lines_;
  bool wordWrap_ = false;
  TLinesBegs linesBegs_;
  std::vector<float> lineWidths_;  // the width of each display line, as last measured
  TCaretPosition selStart_, selEnd_;
  bool selectionActive_ = false;
  int32_t savedSelStart_ = -1, savedSelEnd_ = -1, savedCaret_ = -1;
  TvgBrush* selectionFill_;
  bool linesUpdating_ = false;
  int32_t longestLine_ = 0;
  float wrappedFor_ = -1;  // the wrap width the table was last built for
  int32_t fullUpdates_ = 0;
  TvgVisualObject* contentPart_ = nullptr;
  // Widths of single characters as one canvas measures them in one font.
  struct TCharWidths {
    TvgCanvas* Canvas = nullptr;
    std::string Family;
    float Size = 0;
    TvgFontStyle Style = vgFontRegular;
    bool ClearType = false;
    bool Fractional = false;  // the canvas's scale had a fraction (its text hint differs then)
    int8_t Additive = -1;     // the canvas measures texts as sums of their characters: -1 untested
    std::vector<float> Widths;  // by character code; kUnmeasured or kUncached where not kept
  };
  TCharWidths charWidths_;
};

// The memo with the HUD look.
class TvgHudMemo : public TvgMemo {
  KBL_DECLARE_CLASS(TvgHudMemo, TvgMemo)
 public:
  explicit TvgHudMemo(TComponent* owner) : TvgMemo(owner) {}
};

// Registers the memo classes ("Text Edits", "HUD"); runs once at start-up.
void vgInitMemoUnit();
