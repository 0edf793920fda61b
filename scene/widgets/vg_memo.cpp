// The memo's text model and display: the line table over the text (with word wrap), positions,
// caret and selection geometry, scrolling to the caret and painting.
#include "vg_memo.h"

#include <algorithm>
#include <cmath>
#include <cwctype>

#include "scene/core/vg_canvas.h"
#include "scene/core/vg_tokens.h"
#include "vg_widgets_p.h"

using namespace vg_widgets;

namespace {
// Words of wrapped lines end after a space, comma, hyphen-minus or full-width comma.
const WideString kWordSeparators = u" ,-\uFF0C";

bool IsBreak(WideChar c) { return c == u'\r' || c == u'\n'; }

// Texts are measured in a rectangle this wide.
constexpr float kMeasureWidth = 10000;

// Character widths are kept for the codes below this: Latin, Greek and Cyrillic.
constexpr size_t kKeptChars = 0x500;
constexpr float kUnmeasured = -1, kUncached = -2;

// Characters that take their own advance wherever they stand: no controls, no combining marks,
// no soft hyphen (shown only at a line's end), nothing that joins or reorders.
bool IsSimpleChar(WideChar c) {
  return (c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c < 0x300 && c != 0xAD) || (c >= 0x370 && c < 0x483) ||
         (c >= 0x48A && c < kKeptChars);
}

// Texts that measure otherwise than the sum of their characters on a canvas that kerns (AV, To),
// joins ligatures (ffi) or adds an overhang once per text.
const char16_t* const kAdditivityProbes[] = {u"AV", u"To", u"ffi", u"LT Wa, y. r-", u"The quick brown fox"};
}  // namespace

KBL_PUBLISHED(TvgMemo) {
  KBL_PROP(Width).Default(100.0f);
  KBL_PROP(Cursor).Default(kCursorIBeam);
  KBL_PROP(CanFocused).Default(true);
  KBL_PROP(DisableFocusEffect).Default(false);
  KBL_PROP(Enabled).Default(true);
  KBL_PROP(Font);
  KBL_PROP(TextAlign).Default(vgTextAlignNear);
  p.Property("Text", &TvgMemo::GetText, &TvgMemo::SetText);
  KBL_PROP(AutoSelect).Default(true);
  KBL_PROP(CharCase).Default(vgecNormal);
  KBL_PROP(HideSelection).Default(true);
  KBL_PROP(MaxLength).Default(0);
  KBL_PROP(ReadOnly).Default(false);
  KBL_PROP(Lines).Stored(false);
  KBL_PROP(WordWrap).Default(false);
  KBL_PROP(BindingSource);
  p.Property("OnChange", &TvgMemo::OnChange, &TvgMemo::OnChange);
  p.Property("OnChangeTracking", &TvgMemo::OnChangeTracking, &TvgMemo::OnChangeTracking);
}
KBL_PUBLISHED(TvgHudMemo) {}
KBL_PUBLISHED(TvgMemoLines) {}

// --- Lines

WideString TvgMemoLines::Get(int32_t index) const { return memo_ != nullptr ? memo_->GetLine(index) : WideString(); }

int32_t TvgMemoLines::GetCount() const { return memo_ != nullptr ? memo_->LineCount() : 0; }

void TvgMemoLines::Insert(int32_t index, const WideString& text) {
  if (memo_ != nullptr) memo_->InsertLine(index, text);
}

void TvgMemoLines::Delete(int32_t index) {
  if (memo_ != nullptr) memo_->DeleteLine(index);
}

void TvgMemoLines::Clear() {
  if (memo_ != nullptr) memo_->ClearLines();
}

void TvgMemoLines::Assign(TPersistent* source) {
  auto* lines = dynamic_cast<TvgWideStrings*>(source);
  if (memo_ == nullptr || lines == nullptr) {
    inherited::Assign(source);
    return;
  }
  WideString text;
  for (int32_t i = 0; i < lines->Count(); ++i) {
    if (i > 0) text += u"\r\n";
    text += lines->Get(i);
  }
  memo_->SetText(text);
}

void TvgMemoLines::SetUpdateState(bool updating) {
  inherited::SetUpdateState(updating);
  if (memo_ == nullptr) return;
  memo_->SetLinesUpdating(updating);
  // Meanwhile the memo and its parts ask for no repaint (each request costs the scene window an
  // invalidation, two for every line added); at the end its EndUpdate lays it out and repaints it
  // whole, or leaves that to the end of an update still open around it.
  if (updating) memo_->BeginUpdate();
  else memo_->EndUpdate();
}

// --- Construction

TvgMemo::TvgMemo(TComponent* owner)
    : TvgScrollBox(owner),
      fontFill_(new TvgBrush(vgBrushSolid, 0xFF000000u)),
      font_(new TvgFont()),
      actionStack_(new TEdtActionStack(this)),
      lines_(new TvgMemoLines(this)),
      selectionFill_(new TvgBrush(vgBrushSolid, 0x802A8ADFu)) {
  InitWidgetsUnit();
  font_->OnChanged = TNotifyEvent::Of<&TvgMemo::FontChanged>(this);
  SetCanFocused(true);
  SetCursor(kCursorIBeam);
  SetAutoCapture(true);
  CreatePopupMenu();
  SetWidth(100);
}

TvgMemo::~TvgMemo() {
  DestroyTree();
  delete selectionFill_;
  delete fontFill_;
  delete font_;
  delete actionStack_;
  delete lines_;
}

void TvgMemo::ApplyStyle() {
  inherited::ApplyStyle();
  if (TvgObject* content = FindResource("content"); content != nullptr && content->IsVisual()) {
    contentPart_ = content->Visual();
    contentPart_->OnPaint = TOnPaintEvent::Of<&TvgMemo::PaintContent>(this);
  }
  if (auto* selection = PartOf<TvgBrushObject>(this, "selection")) selectionFill_->Assign(selection->GetBrush());
  if (auto* foreground = PartOf<TvgBrushObject>(this, "foreground")) fontFill_->Assign(foreground->GetBrush());
}

void TvgMemo::FreeStyle() {
  inherited::FreeStyle();
  contentPart_ = nullptr;
}

void TvgMemo::FontChanged(TObject*) {
  UpdateLines();
  RealignText();
  Repaint();
}

void TvgMemo::RealignText() {
  if (linesUpdating_) return;
  // A new extent shows or hides the scroll bars, which repaints each of their parts: the scene
  // takes one request for all.
  TvgRepaintBatch batch(this);
  Realign();
}

void TvgMemo::PrepareTextCanvas() {
  if (TvgCanvas* canvas = GetCanvas()) canvas->SetFont(font_);
}

// --- Properties

void TvgMemo::SetHideSelection(bool value) {
  if (vgSetChanged(hideSelection_, value)) Repaint();
}

void TvgMemo::SetWordWrap(bool value) {
  if (!vgSetChanged(wordWrap_, value)) return;
  UpdateLines();
  RealignText();
  UpdateCaretPos(false);
}

namespace {

// Characters [from, from + count) of the text in the case given (vgecNormal leaves them).
void ConvertCase(WideString& text, size_t from, size_t count, TEditCharCase charCase) {
  const size_t end = std::min(from + count, text.size());
  if (charCase == vgecUpperCase) {
    for (size_t i = from; i < end; ++i) text[i] = static_cast<WideChar>(std::towupper(text[i]));
  } else if (charCase == vgecLowerCase) {
    for (size_t i = from; i < end; ++i) text[i] = static_cast<WideChar>(std::towlower(text[i]));
  }
}

}  // namespace

void TvgMemo::SetText(const WideString& value) {
  if (!ValidateText(value) || (value.size() == text_.size() && value == text_)) return;
  text_ = value;
  ConvertCase(text_, 0, text_.size(), charCase_);
  caseOfText_ = charCase_;
  if (updateLinesOnSetText_) {
    // A text replaced from outside the edits: the undo records no longer fit it.
    actionStack_->Clear();
    UpdateLines();
    caretPosition_.Line = std::clamp(caretPosition_.Line, 0, std::max(LineCount() - 1, 0));
    caretPosition_.Pos = std::clamp(caretPosition_.Pos, 0, DisplayLength(caretPosition_.Line));
    RealignText();
    Repaint();
  }
  // An edit repaints only the lines it changed (EditDone).
  if (!IsLoading()) RunHandler(OnChangeTracking, this);
  needChange_ = true;
}

void TvgMemo::EditDone(const TLineSpan& span, int32_t oldCount, float oldLongest, int32_t oldFullUpdates) {
  // The widest line sets the extent only without word wrap, and only once it is wider than the
  // viewport.
  const float longest = LineWidth(longestLine_);
  const bool sameExtent = wordWrap_ || longest == oldLongest || std::max(longest, oldLongest) <= GetViewportWidth();
  const bool sameShape = LineCount() == oldCount && fullUpdates_ == oldFullUpdates && sameExtent;
  if (!sameShape) {
    // Lines moved or the extent changed: the scroll range follows and everything repaints.
    RealignText();
    Repaint();
    return;
  }
  // Only the re-broken lines changed; the scroll range stays.
  ScrollToCaretHorz();
  IvgScene* scene = GetScene();
  if (scene == nullptr || !GetParentedVisible()) return;
  const TvgRect viewport = GetViewportRect();
  const float top = std::max(TextPosToPoint(TCaretPosition{span.First, 0}).Y, viewport.Top);
  const float bottom = std::min(TextPosToPoint(TCaretPosition{span.Last, 0}).Y + LineHeight(), viewport.Bottom);
  if (bottom <= top) return;
  const TvgPoint a = LocalToAbsolute(vgPoint(viewport.Left, top));
  const TvgPoint b = LocalToAbsolute(vgPoint(viewport.Right, bottom));
  scene->AddUpdateRect(vgRect(std::min(a.X, b.X) - 1, std::min(a.Y, b.Y) - 1, std::max(a.X, b.X) + 1, std::max(a.Y, b.Y) + 1));
}

void TvgMemo::EditText(size_t offset, size_t count, const WideString& inserted) {
  // The text changes length, so it differs from the one stored, as SetText requires.
  const WideString removed = text_.substr(offset, count);
  text_.replace(offset, count, inserted);
  if (!ValidateText(text_)) {
    text_.replace(offset, inserted.size(), removed);
    return;
  }
  // The whole text takes CharCase (CharCase may have changed since the text was stored); what
  // is known to be in it already is not converted again.
  if (caseOfText_ == charCase_) ConvertCase(text_, offset, inserted.size(), charCase_);
  else ConvertCase(text_, 0, text_.size(), charCase_);
  caseOfText_ = charCase_;
  if (!IsLoading()) RunHandler(OnChangeTracking, this);
  needChange_ = true;
}

// --- Measuring

float TvgMemo::LineHeight() const { return static_cast<float>(Round(font_->GetSize() * 1.25)); }

float TvgMemo::PageLines() { return GetViewportHeight() / LineHeight(); }

float TvgMemo::TextWidth(const WideString& text) { return TextWidth(text.data(), text.size()); }

float TvgMemo::TextWidth(const WideChar* text, size_t length) {
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr || length == 0) return 0;
  float sum = 0;
  if (SumOfCharWidths(canvas, text, length, sum)) return sum;
  return MeasureOnCanvas(canvas, text, length);
}

float TvgMemo::MeasureOnCanvas(TvgCanvas* canvas, const WideChar* text, size_t length) {
  PrepareTextCanvas();
  TvgRect r = vgRect(0, 0, kMeasureWidth, kMeasureWidth);
  canvas->MeasureText(r, r, WideString(text, length), false, vgTextAlignNear, vgTextAlignNear);
  return r.Right - r.Left;
}

// A canvas call costs as much as summing thousands of kept widths (a text layout each time):
// setting a large text measures every line, and wrapping measures every word again. Kept widths
// are whole units, so their sums are exact in any order and equal the canvas's own answers there.
bool TvgMemo::SumOfCharWidths(TvgCanvas* canvas, const WideChar* text, size_t length, float& sum) {
  if (!CharWidthsFit(canvas)) return false;
  std::vector<float>& widths = charWidths_.Widths;
  float total = 0;
  for (size_t i = 0; i < length; ++i) {
    const WideChar c = text[i];
    if (!IsSimpleChar(c)) return false;
    if (widths[c] == kUnmeasured) {
      const float measured = MeasureOnCanvas(canvas, &c, 1);
      widths[c] = measured >= 0 && measured == std::trunc(measured) ? measured : kUncached;
    }
    if (widths[c] == kUncached) return false;
    total += widths[c];
    // Beyond the measuring rectangle the canvas's own answer holds.
    if (total > kMeasureWidth) return false;
  }
  sum = total;
  return true;
}

bool TvgMemo::CharWidthsFit(TvgCanvas* canvas) {
  TCharWidths& kept = charWidths_;
  const TvgMatrix& m = canvas->GetMatrix();
  const bool fractional = m.m11 != std::trunc(m.m11) || m.m22 != std::trunc(m.m22);
  if (kept.Canvas != canvas || kept.Family != font_->GetFamily() || kept.Size != font_->GetSize() ||
      kept.Style != font_->GetStyle() || kept.ClearType != font_->GetClearType() || kept.Fractional != fractional) {
    kept = TCharWidths{canvas, font_->GetFamily(), font_->GetSize(), font_->GetStyle(), font_->GetClearType(),
                       fractional, -1, std::vector<float>(kKeptChars, kUnmeasured)};
  }
  if (kept.Additive >= 0) return kept.Additive == 1;
  // Tested once: the probes' sums against the canvas's answers, in the font the canvas really
  // measures with.
  kept.Additive = 0;
  PrepareTextCanvas();
  const TvgFont* used = canvas->GetFont();
  if (used == nullptr || used->GetFamily() != font_->GetFamily() || used->GetSize() != font_->GetSize() ||
      used->GetStyle() != font_->GetStyle() || used->GetClearType() != font_->GetClearType())
    return false;
  kept.Additive = 1;
  for (const char16_t* probe : kAdditivityProbes) {
    const WideString text(probe);
    float sum = 0;
    if (!SumOfCharWidths(canvas, text.data(), text.size(), sum) ||
        MeasureOnCanvas(canvas, text.data(), text.size()) != sum) {
      kept.Additive = 0;
      return false;
    }
  }
  return true;
}

float TvgMemo::LineWidth(int32_t index) {
  if (index < 0 || index >= LineCount()) return 0;
  if (static_cast<size_t>(index) < lineWidths_.size()) return lineWidths_[static_cast<size_t>(index)];
  return TextWidth(GetLine(index));
}

float TvgMemo::WrapWidth() { return GetViewport() != nullptr ? GetViewport()->GetWidth() : GetWidth(); }

// --- Line table

void TvgMemo::GetLineRange(int32_t index, int32_t& start, int32_t& length) const {
  if (linesBegs_.empty()) {
    start = 1;
    length = 0;
    return;
  }
  if (index < 0 || index >= LineCount()) {
    start = length = 0;
    return;
  }
  start = linesBegs_[static_cast<size_t>(index)];
  const int32_t next = index + 1 < LineCount() ? linesBegs_[static_cast<size_t>(index) + 1]
                                               : static_cast<int32_t>(text_.size()) + 1;
  length = next - start;
}

int32_t TvgMemo::DisplayLength(int32_t line) const {
  int32_t start = 0, length = 0;
  GetLineRange(line, start, length);
  if (length <= 0) return 0;
  const size_t end = static_cast<size_t>(start - 1 + length);
  if (text_[end - 1] == u'\n') {
    --length;
    if (length > 0 && text_[end - 2] == u'\r') --length;
  } else if (text_[end - 1] == u'\r') {
    --length;
  }
  return length;
}

WideString TvgMemo::GetLine(int32_t index) const {
  int32_t start = 0, length = 0;
  GetLineRange(index, start, length);
  if (length <= 0) return WideString();
  return text_.substr(static_cast<size_t>(start) - 1, static_cast<size_t>(DisplayLength(index)));
}

void TvgMemo::BreakParagraph(int32_t start, const WideString& line, float wrapWidth, std::vector<int32_t>& starts,
                             std::vector<float>& widths) {
  const float whole = TextWidth(line.data(), line.size());
  if (!wordWrap_ || whole <= wrapWidth) {
    widths.push_back(whole);
    return;
  }
  // A new display line starts at the word that no longer fits; a word wider than the whole
  // width stays on a line of its own, unbroken.
  int32_t lineStart = 0, pos = 0;
  float fitted = 0;
  while (pos < static_cast<int32_t>(line.size())) {
    const int32_t wordStart = pos;
    vgWideGetToken(pos, line, kWordSeparators);
    const float w = TextWidth(line.data() + lineStart, static_cast<size_t>(pos - lineStart));
    if (w > wrapWidth && wordStart > lineStart) {
      starts.push_back(start + wordStart);
      widths.push_back(fitted);
      lineStart = wordStart;
      fitted = TextWidth(line.data() + lineStart, static_cast<size_t>(pos - lineStart));
    } else {
      fitted = w;
    }
  }
  widths.push_back(fitted);
}

void TvgMemo::BreakRange(int32_t start, int32_t end, std::vector<int32_t>& starts, std::vector<float>& widths) {
  const float wrapWidth = WrapWidth();
  int32_t lineStart = start;
  for (int32_t i = start; i <= end; ++i) {
    const WideChar c = text_[static_cast<size_t>(i) - 1];
    if (!IsBreak(c)) continue;
    BreakParagraph(lineStart, text_.substr(static_cast<size_t>(lineStart) - 1, static_cast<size_t>(i - lineStart)),
                   wrapWidth, starts, widths);
    if (c == u'\r' && static_cast<size_t>(i) < text_.size() && text_[static_cast<size_t>(i)] == u'\n') ++i;
    starts.push_back(i + 1);
    lineStart = i + 1;
  }
  BreakParagraph(lineStart,
                 end >= lineStart ? text_.substr(static_cast<size_t>(lineStart) - 1, static_cast<size_t>(end - lineStart + 1))
                                  : WideString(),
                 wrapWidth, starts, widths);
}

void TvgMemo::FindLongestLine() {
  longestLine_ = 0;
  for (size_t i = 1; i < lineWidths_.size(); ++i)
    if (lineWidths_[i] > lineWidths_[static_cast<size_t>(longestLine_)]) longestLine_ = static_cast<int32_t>(i);
}

void TvgMemo::UpdateLines() {
  longestLine_ = 0;
  linesBegs_.clear();
  lineWidths_.clear();
  wrappedFor_ = -1;
  if (text_.empty() || GetCanvas() == nullptr) return;
  ++fullUpdates_;
  linesBegs_.push_back(1);
  std::vector<int32_t> starts;
  BreakRange(1, static_cast<int32_t>(text_.size()), starts, lineWidths_);
  linesBegs_.insert(linesBegs_.end(), starts.begin(), starts.end());
  FindLongestLine();
  wrappedFor_ = WrapWidth();
}

TvgMemo::TLineSpan TvgMemo::SpanOfEdit(int32_t offset, int32_t count) const {
  TLineSpan span;
  if (linesBegs_.empty()) return span;
  auto hasBreak = [this](int32_t line) {
    int32_t start = 0, length = 0;
    GetLineRange(line, start, length);
    return DisplayLength(line) != length;
  };
  // From the start of the paragraph of the edit (a shorter word may now fit on the line above)
  // to the end of the paragraph of the character after it (a deleted break joins the next one).
  span.First = PosToCaretPos(offset).Line;
  while (span.First > 0 && !hasBreak(span.First - 1)) --span.First;
  span.Start = linesBegs_[static_cast<size_t>(span.First)];
  const auto size = static_cast<int32_t>(text_.size());
  int32_t last = offset + count < size ? PosToCaretPos(offset + count).Line : LineCount() - 1;
  while (last < LineCount() - 1 && !hasBreak(last)) ++last;
  span.Last = last;
  span.End = linesBegs_[static_cast<size_t>(last)] + DisplayLength(last) - 1;
  return span;
}

void TvgMemo::UpdateLinesPiecewise(const TLineSpan& span, int32_t delta) {
  const auto length = static_cast<int32_t>(text_.size());
  const int32_t end = span.End + delta;
  // An edit that joins a CR with an LF at the span's edges changes breaks outside it.
  const bool joinsAtStart = span.Start >= 2 && span.Start - 1 <= length && text_[static_cast<size_t>(span.Start) - 2] == u'\r' &&
                            span.Start <= length && text_[static_cast<size_t>(span.Start) - 1] == u'\n';
  const bool joinsAtEnd = end >= 1 && end < length && text_[static_cast<size_t>(end) - 1] == u'\r' &&
                          text_[static_cast<size_t>(end)] == u'\n';
  if (linesBegs_.empty() || text_.empty() || GetCanvas() == nullptr || joinsAtStart || joinsAtEnd ||
      (wordWrap_ && wrappedFor_ != WrapWidth())) {
    UpdateLines();
    return;
  }
  std::vector<int32_t> starts;
  std::vector<float> widths;
  BreakRange(span.Start, end, starts, widths);
  const auto first = static_cast<size_t>(span.First), last = static_cast<size_t>(span.Last);
  const auto widest = static_cast<size_t>(longestLine_);
  const bool widestKnown = widest < lineWidths_.size();
  const float widestWidth = widestKnown ? lineWidths_[widest] : 0;
  // Entries after the span move with the text; the span's own entries are replaced.
  for (size_t i = last + 1; i < linesBegs_.size(); ++i) linesBegs_[i] += delta;
  linesBegs_.erase(linesBegs_.begin() + static_cast<std::ptrdiff_t>(first + 1),
                   linesBegs_.begin() + static_cast<std::ptrdiff_t>(last + 1));
  linesBegs_.insert(linesBegs_.begin() + static_cast<std::ptrdiff_t>(first + 1), starts.begin(), starts.end());
  lineWidths_.erase(lineWidths_.begin() + static_cast<std::ptrdiff_t>(first),
                    lineWidths_.begin() + static_cast<std::ptrdiff_t>(last + 1));
  lineWidths_.insert(lineWidths_.begin() + static_cast<std::ptrdiff_t>(first), widths.begin(), widths.end());
  // The first widest line, as FindLongestLine finds it, looked for again only when it was
  // re-broken: every line before it was narrower and none after it wider, so only the fresh
  // lines can take its place.
  if (!widestKnown || (widest >= first && widest <= last)) {
    FindLongestLine();
    return;
  }
  const auto freshWidest = std::max_element(widths.begin(), widths.end());  // the first of the widest
  const size_t fresh = first + static_cast<size_t>(freshWidest - widths.begin());
  if (widest < first) {
    longestLine_ = static_cast<int32_t>(*freshWidest > widestWidth ? fresh : widest);
  } else {
    const size_t moved = widest - (last - first + 1) + widths.size();
    longestLine_ = static_cast<int32_t>(*freshWidest >= widestWidth ? fresh : moved);
  }
}

// --- Positions

int32_t TvgMemo::TextPos(const TCaretPosition& p) const {
  if (text_.empty() || linesBegs_.empty()) return 0;
  const int32_t line = std::clamp(p.Line, 0, LineCount() - 1);
  int32_t start = 0, length = 0;
  GetLineRange(line, start, length);
  return start + std::clamp(p.Pos, 0, length) - 1;
}

TCaretPosition TvgMemo::PosToCaretPos(int32_t offset) const {
  if (text_.empty() || linesBegs_.empty()) return TCaretPosition();
  // The last line whose first offset is not beyond offset + 1.
  auto it = std::upper_bound(linesBegs_.begin(), linesBegs_.end(), offset + 1);
  const auto line = static_cast<int32_t>(std::max<std::ptrdiff_t>(it - linesBegs_.begin() - 1, 0));
  return TCaretPosition{line, offset - linesBegs_[static_cast<size_t>(line)] + 1};
}

TCaretPosition TvgMemo::GetPositionShift(const TCaretPosition& p, int32_t delta) const {
  if (delta >= 14 || delta <= -14) {
    int32_t offset = std::clamp(TextPos(p) + delta, 0, static_cast<int32_t>(text_.size()));
    // Never between a CR and its LF, nor inside a surrogate pair.
    if (offset > 0 && offset < static_cast<int32_t>(text_.size()) &&
        ((text_[static_cast<size_t>(offset) - 1] == u'\r' && text_[static_cast<size_t>(offset)] == u'\n') ||
         SplitsPair(text_, offset)))
      offset += delta > 0 ? 1 : -1;
    return PosToCaretPos(offset);
  }
  TCaretPosition r = p;
  const int32_t last = std::max(LineCount() - 1, 0);
  for (int32_t step = 0; step < std::abs(delta); ++step) {
    const WideString line = GetLine(r.Line);
    if (delta < 0) {
      if (r.Pos > 0) {
        r.Pos = PrevCharPos(line, r.Pos);
      } else if (r.Line > 0) {
        // The previous line's end, before its break: one character back over CR LF, a lone CR
        // or a lone LF alike (a wrapped line has no break: its last character is passed).
        --r.Line;
        int32_t start = 0, length = 0;
        GetLineRange(r.Line, start, length);
        const int32_t shown = DisplayLength(r.Line);
        r.Pos = shown < length ? shown : PrevCharPos(GetLine(r.Line), shown);
      }
    } else {
      if (r.Pos < static_cast<int32_t>(line.size())) {
        r.Pos = NextCharPos(line, r.Pos);
      } else if (r.Line < last) {
        int32_t start = 0, length = 0;
        GetLineRange(r.Line, start, length);
        const bool wrapped = DisplayLength(r.Line) == length;
        ++r.Line;
        // Past a wrapped line's end the next character is the next line's first.
        r.Pos = wrapped ? std::min<int32_t>(1, DisplayLength(r.Line)) : 0;
      }
    }
  }
  return r;
}

TvgPoint TvgMemo::TextPosToPoint(const TCaretPosition& p) {
  const TvgRect viewport = GetViewportRect();
  const float viewportWidth = vgRectWidth(viewport);
  const int32_t lineIndex = std::clamp(p.Line, 0, std::max(LineCount() - 1, 0));
  const WideString line = GetLine(lineIndex);
  float x = viewport.Left;
  if (p.Pos > 0) {
    x += p.Pos >= static_cast<int32_t>(line.size()) ? LineWidth(lineIndex)
                                                     : TextWidth(line.substr(0, static_cast<size_t>(p.Pos)));
  }
  const float whole = LineWidth(lineIndex);
  if (whole < viewportWidth) {
    if (textAlign_ == vgTextAlignCenter) x += (viewportWidth - whole) / 2;
    else if (textAlign_ == vgTextAlignFar) x += viewportWidth - whole;
  }
  x -= GetHScrollOffset();
  const float y = LineHeight() * static_cast<float>(p.Line) + viewport.Top - GetVScrollOffset();
  return vgPoint(x, y);
}

TCaretPosition TvgMemo::PointToTextPos(const TvgPoint& point) {
  if (text_.empty() || linesBegs_.empty()) return TCaretPosition();
  const TvgRect viewport = GetViewportRect();
  const float x = std::clamp(point.X, viewport.Left, viewport.Right);
  const float y = std::clamp(point.Y, viewport.Top, viewport.Bottom);
  // The line under the point, the scroll offset counted in full (it need not be whole lines).
  const auto line = std::min(static_cast<int32_t>(Trunc((GetVScrollOffset() + y - viewport.Top) / LineHeight())),
                             LineCount() - 1);
  return TCaretPosition{line, ColumnAtX(line, x)};
}

int32_t TvgMemo::ColumnAtX(int32_t line, float x) {
  const WideString text = GetLine(line);
  if (text.empty()) return 0;
  const TvgRect viewport = GetViewportRect();
  float px = x + GetHScrollOffset();
  const float whole = LineWidth(line);
  const float viewportWidth = vgRectWidth(viewport);
  if (whole < viewportWidth) {
    if (textAlign_ == vgTextAlignCenter) px -= (viewportWidth - whole) / 2;
    else if (textAlign_ == vgTextAlignFar) px -= viewportWidth - whole;
  }
  const float limit = viewport.Right + GetHScrollOffset();
  // The threshold past which the column grows grows itself with the column: search it.
  auto threshold = [&](int32_t column) {
    if (column == 0) return viewport.Left + TextWidth(text.substr(0, 1)) / 2;
    return viewport.Left + TextWidth(text.substr(0, static_cast<size_t>(column))) + font_->GetSize() / 4;
  };
  auto grows = [&](int32_t column) {
    if (column >= static_cast<int32_t>(text.size())) return false;
    const float t = threshold(column);
    return t < px && t <= limit;
  };
  int32_t low = 0, high = static_cast<int32_t>(text.size());
  while (low < high) {
    const int32_t mid = low + (high - low) / 2;
    if (grows(mid)) low = mid + 1;
    else high = mid;
  }
  return SplitsPair(text, low) ? low - 1 : low;
}

// --- Caret and scrolling

void TvgMemo::SetCaretPosition(const TCaretPosition& p) {
  caretPosition_.Line = std::clamp(p.Line, 0, std::max(LineCount() - 1, 0));
  const WideString line = GetLine(caretPosition_.Line);
  caretPosition_.Pos = std::clamp(p.Pos, 0, static_cast<int32_t>(line.size()));
  if (SplitsPair(line, caretPosition_.Pos)) --caretPosition_.Pos;
  UpdateCaretPos(true);
}

void TvgMemo::UpdateCaretPos(bool scroll) {
  if (scroll) {
    ScrollToCaretVert();
    ScrollToCaretHorz();
  }
  const TvgRect viewport = GetViewportRect();
  const TvgPoint p = TextPosToPoint(caretPosition_);
  SetCaretSize(vgPoint(2, LineHeight()));
  SetCaretPos(vgPoint(p.X + GetHScrollOffset() - viewport.Left, p.Y + GetVScrollOffset() - viewport.Top));
  SetCaretColor(fontFill_->GetSolidColor());
}

void TvgMemo::ScrollToCaretVert() {
  TvgScrollBar* bar = GetVScrollBar();
  if (bar == nullptr) return;
  const float lh = LineHeight();
  const float line = static_cast<float>(caretPosition_.Line);
  if (lh * line < GetVScrollOffset()) bar->SetValue(lh * line);
  if (lh * (line + 1) > GetVScrollOffset() + GetViewportHeight()) bar->SetValue(lh * (line - PageLines() + 1));
}

void TvgMemo::ScrollToCaretHorz() {
  if (linesBegs_.empty() || GetCanvas() == nullptr) return;
  const TvgRect viewport = GetViewportRect();
  const float x = static_cast<float>(Round(TextPosToPoint(caretPosition_).X));
  if (x >= viewport.Left && x <= viewport.Right) return;
  const WideString line = GetLine(caretPosition_.Line);
  const int32_t caret = caretPosition_.Pos;
  if (caret + 1 > firstVisibleChar_) {
    // The first visible column moves on until the text up to the caret fits; the width only
    // shrinks as it moves, so the first such column is searched.
    const float room = GetViewportWidth() - 5;
    auto tooWide = [&](int32_t first) {
      if (static_cast<int32_t>(line.size()) <= first) return false;
      const int32_t from = std::max(first - 1, 0);
      return TextWidth(line.substr(static_cast<size_t>(from), static_cast<size_t>(std::max(caret - from, 0)))) > room;
    };
    int32_t low = std::max(firstVisibleChar_, 0), high = std::max(caret + 1, low);
    while (low < high) {
      const int32_t mid = low + (high - low) / 2;
      if (tooWide(mid)) low = mid + 1;
      else high = mid;
    }
    firstVisibleChar_ = low;
  } else {
    firstVisibleChar_ = std::max(caret, 1);
  }
  TvgScrollBar* bar = GetHScrollBar();
  if (bar != nullptr && bar->GetVisible())
    bar->SetValue(TextWidth(line.substr(0, static_cast<size_t>(std::max(firstVisibleChar_ - 1, 0)))));
}

// --- Selection

TCaretPosition TvgMemo::GetSelBeg() const {
  const bool startFirst = selStart_.Line < selEnd_.Line || (selStart_.Line == selEnd_.Line && selStart_.Pos <= selEnd_.Pos);
  return startFirst ? selStart_ : selEnd_;
}

TCaretPosition TvgMemo::GetSelEnd() const {
  const bool startFirst = selStart_.Line < selEnd_.Line || (selStart_.Line == selEnd_.Line && selStart_.Pos <= selEnd_.Pos);
  return startFirst ? selEnd_ : selStart_;
}

int32_t TvgMemo::SelLength() const {
  if (!selectionActive_) return 0;
  return TextPos(GetSelEnd()) - TextPos(GetSelBeg());
}

WideString TvgMemo::GetSelText() const {
  if (!selectionActive_) return WideString();
  return text_.substr(static_cast<size_t>(TextPos(GetSelBeg())), static_cast<size_t>(SelLength()));
}

int32_t TvgMemo::SelBegOffset() const { return TextPos(selectionActive_ ? GetSelBeg() : caretPosition_); }

void TvgMemo::SelectAtPos(const TCaretPosition& p) {
  if (selectionActive_) {
    selEnd_ = p;
    return;
  }
  selStart_ = selEnd_ = p;
  selectionActive_ = true;
}

// --- Layout and painting

TvgRect TvgMemo::GetContentBounds() {
  TvgRect r = inherited::GetContentBounds();
  // A wrapped table follows the viewport's width; edits keep it up to date piecewise, so it is
  // rebuilt only when that width has changed.
  if (wordWrap_ && wrappedFor_ != WrapWidth()) {
    savedCaret_ = TextPos(caretPosition_);
    savedSelStart_ = TextPos(selStart_);
    savedSelEnd_ = TextPos(selEnd_);
    UpdateLines();
    caretPosition_ = PosToCaretPos(savedCaret_);
    selStart_ = PosToCaretPos(savedSelStart_);
    selEnd_ = PosToCaretPos(savedSelEnd_);
  }
  if (!linesBegs_.empty()) r.Bottom = r.Top + LineHeight() * static_cast<float>(LineCount());
  if (!wordWrap_ && LineWidth(longestLine_) > vgRectWidth(r)) r.Right = r.Left + LineWidth(longestLine_) + 10;
  ScrollToCaretHorz();
  return r;
}

int32_t TvgMemo::FirstVisibleLine() { return static_cast<int32_t>(Trunc(GetVScrollOffset() / LineHeight())); }

int32_t TvgMemo::LastVisibleLine() {
  // The partly shown line at the bottom counts.
  const auto last = static_cast<int32_t>(std::ceil((GetVScrollOffset() + GetViewportHeight()) / LineHeight())) - 1;
  return std::min(last, LineCount() - 1);
}

bool TvgMemo::SelectionShown() { return GetIsFocused() || !hideSelection_; }

void TvgMemo::PaintContent(TObject* sender, TvgCanvas* canvas, const TvgRect& rect) {
  if (canvas == nullptr) return;
  const int32_t state = canvas->SaveCanvas();
  canvas->IntersectClipRect(rect);
  canvas->SetFont(font_);
  canvas->SetFill(fontFill_);
  const TvgRect viewport = GetViewportRect();
  const float lh = LineHeight();
  // Lines outside the areas the scene repaints now are left alone (a keystroke repaints one).
  float dirtyTop = -1e30f, dirtyBottom = 1e30f;
  IvgScene* scene = GetScene();
  auto* part = dynamic_cast<TvgVisualObject*>(sender);
  if (scene != nullptr && part != nullptr && !GetPaintingToBitmap() && scene->GetUpdateRectsCount() > 0) {
    dirtyTop = 1e30f;
    dirtyBottom = -1e30f;
    for (int32_t i = 0; i < scene->GetUpdateRectsCount(); ++i) {
      const TvgRect u = scene->GetUpdateRect(i);
      const TvgPoint a = part->AbsoluteToLocal(vgPoint(u.Left, u.Top));
      const TvgPoint b = part->AbsoluteToLocal(vgPoint(u.Right, u.Bottom));
      dirtyTop = std::min(dirtyTop, std::min(a.Y, b.Y));
      dirtyBottom = std::max(dirtyBottom, std::max(a.Y, b.Y));
    }
  }
  const int32_t last = LastVisibleLine();
  for (int32_t i = std::max(FirstVisibleLine(), 0); i <= last; ++i) {
    const TvgPoint p = TextPosToPoint(TCaretPosition{i, 0});
    const TvgRect r = vgRect(p.X - viewport.Left, p.Y - viewport.Top, 65535, p.Y - viewport.Top + lh * 1.25f);
    if (r.Bottom < dirtyTop || r.Top > dirtyBottom) continue;
    canvas->FillText(r, GetLocalRect(), GetLine(i), false, 1, vgTextAlignNear, vgTextAlignNear);
  }
  if (SelectionShown()) {
    TSelArea area;
    DrawSelection(area);
    canvas->SetFill(selectionFill_);
    for (TvgRect r : area) {
      // Far beyond the viewport nothing shows; the rect stays within drawable numbers.
      r.Left = std::clamp(r.Left, viewport.Left - 1000, viewport.Right + 1000);
      r.Right = std::clamp(r.Right, viewport.Left - 1000, viewport.Right + 1000);
      vgOffsetRect(r, -viewport.Left, -viewport.Top);
      canvas->FillRect(r, 0, 0, vgAllCorners, 1);
    }
  }
  canvas->RestoreCanvas(state);
}

void TvgMemo::DrawSelection(TSelArea& area) {
  area.clear();
  if (!selectionActive_ || linesBegs_.empty()) return;
  const TCaretPosition beg = GetSelBeg(), end = GetSelEnd();
  const int32_t first = std::max(beg.Line, FirstVisibleLine());
  const int32_t last = std::min(end.Line, LastVisibleLine());
  const float lh = LineHeight();
  for (int32_t i = first; i <= last && i < LineCount(); ++i) {
    const TvgPoint from = TextPosToPoint(TCaretPosition{i, i == beg.Line ? beg.Pos : 0});
    const TvgPoint to = TextPosToPoint(TCaretPosition{i, i == end.Line ? end.Pos : DisplayLength(i)});
    area.push_back(vgRect(from.X, from.Y, to.X, from.Y + lh));
  }
}
