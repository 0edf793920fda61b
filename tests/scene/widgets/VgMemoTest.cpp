// The memo: line table and positions, word wrap and its separators, the piecewise update
// against a full rebuild, keys, undo, clipboard, mouse, Lines, painting and a text of 1 MB.
#include <gtest/gtest.h>

#include <cwctype>
#include <random>
#include <utility>

#include "WidgetsTestSupport.h"
#include "classlib/Clipbrd.h"
#include "scene/widgets/vg_memo.h"

namespace {

class MemoTest : public WidgetsFixture {
 protected:
  TvgMemo* Memo(const std::u16string& text = u"", float width = 200, float height = 100) {
    auto* memo = Add<TvgMemo>(10, 10, width, height);
    memo->SetText(text);
    memo->SetFocus();
    return memo;
  }
  static TCaretPosition At(int32_t line, int32_t pos) { return TCaretPosition{line, pos}; }
  void Undo(TvgMemo* memo) { memo->GetPopupMenu()->ClickItem("Undo"); }
};

const TShiftState kShift{ssShift};
const TShiftState kCtrl{ssCtrl};

TEST_F(MemoTest, LinesFollowEveryKindOfBreak) {
  TvgMemo* memo = Memo();
  EXPECT_EQ(memo->GetLines()->Count(), 0);
  EXPECT_EQ(memo->TextPos(At(3, 4)), 0);
  EXPECT_EQ(memo->PosToCaretPos(0), At(0, 0));
  struct Case {
    const char16_t* text;
    std::vector<int32_t> begs;
  } cases[] = {{u"ab\r\ncd", {1, 5}}, {u"ab\ncd", {1, 4}}, {u"ab\rcd", {1, 4}}, {u"ab\r\n", {1, 5}},
               {u"\n\r\n", {1, 2, 4}}};
  for (const Case& c : cases) {
    memo->SetText(c.text);
    EXPECT_EQ(memo->LinesBegs(), c.begs) << WideToUtf8(c.text);
  }
  memo->SetText(u"ab\r\ncd");
  EXPECT_EQ(memo->GetLines()->Get(1), u"cd");
  EXPECT_EQ(memo->TextPos(At(1, 1)), 5);
  EXPECT_EQ(memo->PosToCaretPos(5), At(1, 1));
  EXPECT_EQ(memo->LineHeight(), 14);  // font size 11
}

TEST_F(MemoTest, MovingBackOverALineBreakTakesOneStep) {
  // A lone LF or CR is one character, CR LF counts as one: the previous line's end either way.
  for (const char16_t* text : {u"ab\ncd", u"ab\rcd", u"ab\r\ncd"}) {
    TvgMemo* memo = Memo(text);
    EXPECT_EQ(memo->GetPositionShift(At(1, 0), -1), At(0, 2)) << WideToUtf8(text);
    EXPECT_EQ(memo->GetPositionShift(At(0, 2), 1), At(1, 0)) << WideToUtf8(text);
  }
  TvgMemo* memo = Memo(u"x\U0001F600y");
  EXPECT_EQ(memo->GetPositionShift(At(0, 1), 1), At(0, 3));
  EXPECT_EQ(memo->GetPositionShift(At(0, 3), -1), At(0, 1));
}

TEST_F(MemoTest, WrappedLinesBreakAfterSpacesCommasAndHyphensOnly) {
  // A viewport of 60 holds 8 characters of 7.
  struct Case {
    const char16_t* text;
    std::vector<int32_t> begs;
  } cases[] = {{u"aaaa bbbb", {1, 6}},            // the space stays at the first line's end
               {u"aaaa,bbbb", {1, 6}},            {u"aaaa-bbbb", {1, 6}},
               {u"aaaa\uFF0Cbbbb", {1, 6}},       // a full-width comma
               {u"ab#65292cd", {1}},              // digits and '#' are letters
               {u"abcdefghijkl", {1}},            // one long word stays whole
               {u"a b c d e f g h i", {1, 9, 17}}};
  for (const Case& c : cases) {
    TvgMemo* memo = Memo(c.text, 60, 100);
    memo->GetVScrollBar()->SetVisible(false);
    memo->SetWordWrap(true);
    memo->Realign();
    EXPECT_EQ(memo->LinesBegs(), c.begs) << WideToUtf8(c.text);
  }
}

TEST_F(MemoTest, EditsUpdateTheLineTableAsARebuildWould) {
  std::mt19937 random(7);
  const std::u16string pieces[] = {u"word ", u"x", u"\r\n", u"longerword", u", ", u"\n", u"-", u"\r"};
  for (bool wrap : {false, true}) {
    TvgMemo* memo = Memo(u"start of the text\r\nsecond line here", 90, 100);
    memo->SetWordWrap(wrap);
    memo->Realign();
    const int32_t fullBefore = memo->FullUpdateCount();
    for (int step = 0; step < 300; ++step) {
      const auto size = static_cast<int32_t>(memo->GetText().size());
      const int32_t at = static_cast<int32_t>(random() % static_cast<uint32_t>(size + 1));
      if (random() % 3 == 0 && size > 0) memo->DeleteFrom(memo->PosToCaretPos(at), 1 + random() % 4, 0);
      else memo->InsertAfter(memo->PosToCaretPos(at), pieces[random() % std::size(pieces)], 0);
      const TLinesBegs piecewise = memo->LinesBegs();
      const int32_t longest = memo->GetLongestLine();
      memo->UpdateLines();
      ASSERT_EQ(piecewise, memo->LinesBegs()) << "step " << step << " wrap " << wrap;
      ASSERT_EQ(longest, memo->GetLongestLine()) << "step " << step << " wrap " << wrap;
    }
    // Only the rebuilds asked for above (and the rare CR joining an LF at an edge) ran.
    EXPECT_LT(memo->FullUpdateCount() - fullBefore, 330);
  }
}

TEST_F(MemoTest, TypingInAWrappedTextOfAMegabyteDoesNotRebuildIt) {
  std::u16string text;
  while (text.size() < 1024 * 1024 / 2) text += u"the quick brown fox jumps over the lazy dog, again and again\r\n";
  TvgMemo* memo = Memo(u"", 300, 200);
  memo->SetWordWrap(true);
  memo->SetText(text);
  EXPECT_EQ(memo->GetLines()->Count(), static_cast<int32_t>(2 * (text.size() / 62) + 1));  // two lines each
  const int32_t full = memo->FullUpdateCount();
  memo->SetCaretPosition(At(5000, 10));
  Type(memo, u"typed");
  Key(memo, kVkBack);
  Key(memo, kVkEnter);
  EXPECT_EQ(memo->FullUpdateCount(), full);
  EXPECT_EQ(memo->GetLine(5000).substr(10, 4), u"type");
}

TEST_F(MemoTest, AKeystrokeRepaintsOnlyTheLinesItChanged) {
  std::u16string text;
  for (int i = 0; i < 30; ++i) text += u"a line of words\r\n";
  TvgMemo* memo = Memo(text, 200, 150);
  memo->SetCaretPosition(At(3, 2));
  memo->SetSelectionActive(false);
  scene.updates.clear();
  Char(memo, u'x');
  ASSERT_FALSE(scene.updates.empty());
  for (const TvgRect& r : scene.updates) EXPECT_LE(r.Bottom - r.Top, 20) << r.Top << " " << r.Bottom;
  scene.updates.clear();
  Key(memo, kVkEnter);  // the lines below move: all of it
  float tallest = 0;
  for (const TvgRect& r : scene.updates) tallest = std::max(tallest, r.Bottom - r.Top);
  EXPECT_GE(tallest, 134);
}

TEST_F(MemoTest, UndoRevertsTypingAndDeletionsInTheirOrder) {
  TvgMemo* memo = Memo(u"abcd");
  memo->SetCaretPosition(At(0, 4));
  memo->SetSelectionActive(false);
  Key(memo, kVkBack);
  Key(memo, kVkLeft);
  Key(memo, kVkBack);  // deletes "b": not next to "d", a step of its own
  EXPECT_EQ(memo->GetText(), u"ac");
  Undo(memo);
  EXPECT_EQ(memo->GetText(), u"abc");
  Undo(memo);
  EXPECT_EQ(memo->GetText(), u"abcd");

  memo->SetText(u"");
  Type(memo, u"xyz");
  Undo(memo);  // three characters, one step
  EXPECT_EQ(memo->GetText(), u"");
  Type(memo, u"12345");
  for (int i = 0; i < 5; ++i) Key(memo, kVkBack);
  Undo(memo);
  EXPECT_EQ(memo->GetText(), u"12345");
  EXPECT_EQ(memo->GetSelText(), u"12345");  // restored as one selected fragment
  Type(memo, u"Q");  // over the selection
  Undo(memo);
  EXPECT_EQ(memo->GetText(), u"12345");
  memo->SetCaretPosition(At(0, 5));
  memo->SetSelectionActive(false);
  Type(memo, u"6");
  memo->SetCaretPosition(At(0, 0));
  Type(memo, u"0");
  Undo(memo);
  EXPECT_EQ(memo->GetText(), u"123456");
  memo->UpdatePopupMenu();
  EXPECT_TRUE(memo->GetPopupMenu()->GetItemEnabled("Undo"));
  memo->SetText(u"replaced");  // from code: nothing left to undo
  memo->UpdatePopupMenu();
  EXPECT_FALSE(memo->GetPopupMenu()->GetItemEnabled("Undo"));

  // An edit of another memo from code while this one undoes (from its change event) is that
  // memo's own unrecorded edit: its records go, and its undo then changes nothing.
  TvgMemo* other = Memo();
  Type(other, u"xy");
  struct TEditOther {
    TvgMemo* other;
    void Hit(TObject*) { if (other != nullptr) std::exchange(other, nullptr)->GetLines()->Add(u"z"); }
  } editOther{nullptr};
  memo->SetFocus();
  Type(memo, u"!");
  memo->OnChangeTracking = TNotifyEvent::Of<&TEditOther::Hit>(&editOther);
  editOther.other = other;
  memo->UpdatePopupMenu();
  Undo(memo);
  EXPECT_EQ(memo->GetText(), u"replaced");
  EXPECT_EQ(other->GetText(), u"xy\r\nz");
  other->SetFocus();
  other->UpdatePopupMenu();
  Undo(other);
  EXPECT_EQ(other->GetText(), u"xy\r\nz");
}

TEST_F(MemoTest, KeysEditAndMoveLikeAnEditor) {
  TvgMemo* memo = Memo(u"first\r\nsecond");
  memo->SetCaretPosition(At(0, 5));
  memo->SetSelectionActive(false);
  Key(memo, kVkDelete);  // the CR LF pair at once
  EXPECT_EQ(memo->GetText(), u"firstsecond");
  Key(memo, kVkEnter);
  EXPECT_EQ(memo->GetText(), u"first\r\nsecond");
  EXPECT_EQ(memo->GetCaretPosition(), At(1, 0));
  Key(memo, kVkEnd);
  Key(memo, kVkUp);
  EXPECT_EQ(memo->GetCaretPosition(), At(0, 5));
  Key(memo, kVkHome, kShift);
  EXPECT_EQ(memo->GetSelText(), u"first");
  Key(memo, kVkEnd, kCtrl);
  EXPECT_EQ(memo->GetCaretPosition(), At(1, 6));
  EXPECT_FALSE(memo->GetSelectionActive());
  Key(memo, kVkLeft, kCtrl);
  EXPECT_EQ(memo->GetCaretPosition(), At(1, 0));
  Key(memo, kVkLeft, kCtrl);  // to the previous line's end
  EXPECT_EQ(memo->GetCaretPosition(), At(0, 5));
  WideChar z = u'z';
  uint16_t none = 0;
  memo->KeyDown(none, z, kCtrl);
  Char(memo, 127);
  EXPECT_EQ(memo->GetText(), u"first\r\nsecond");
  memo->SetReadOnly(true);
  Key(memo, kVkEnter);
  Type(memo, u"no");
  EXPECT_EQ(memo->GetText(), u"first\r\nsecond");
}

TEST_F(MemoTest, ClipboardAndMaxLength) {
  TvgMemo* memo = Memo(u"12345678");
  memo->SetMaxLength(10);
  Clipboard().SetAsWideText(u"abcde");
  memo->SetCaretPosition(At(0, 8));
  memo->SetSelectionActive(false);
  Char(memo, u'v', kCtrl);
  EXPECT_EQ(memo->GetText(), u"12345678ab");
  Char(memo, u'a', kCtrl);
  EXPECT_EQ(memo->GetCaretPosition(), At(0, 10));  // select all leaves the caret at the end
  Char(memo, u'x', kCtrl);
  EXPECT_EQ(memo->GetText(), u"");
  EXPECT_EQ(Clipboard().GetAsWideText(), u"12345678ab");
}

TEST_F(MemoTest, TheMouseSelectsAndADoubleClickTakesAWord) {
  TvgMemo* memo = Memo(u"alpha beta gamma\r\nsecond line");
  // Line height 14; characters 7 wide: the column grows once x passes its start plus a quarter
  // of the font size, so x 44 lies before "beta" and x 23 after "sec".
  memo->MouseDown(mbLeft, TShiftState{ssLeft}, 44, 3);
  EXPECT_EQ(memo->GetCaretPosition(), At(0, 6));
  memo->MouseMove(TShiftState{ssLeft}, 23, 17, 0, 0);
  memo->MouseUp(mbLeft, TShiftState{}, 23, 17);
  EXPECT_EQ(memo->GetSelText(), u"beta gamma\r\nsec");
  memo->MouseDown(mbLeft, TShiftState{ssLeft}, 44, 3);
  memo->MouseUp(mbLeft, TShiftState{}, 44, 3);
  memo->MouseDown(mbLeft, TShiftState{ssLeft, ssDouble}, 44, 3);
  EXPECT_EQ(memo->GetSelText(), u"beta ");
}

TEST_F(MemoTest, LinesEditTheText) {
  TvgMemo* memo = Memo();
  TvgWideStringList source;
  source.Add(u"one");
  source.Add(u"two");
  memo->SetLines(&source);
  EXPECT_EQ(memo->GetText(), u"one\r\ntwo");
  memo->GetLines()->Insert(1, u"between");
  memo->GetLines()->Add(u"last");
  EXPECT_EQ(memo->GetText(), u"one\r\nbetween\r\ntwo\r\nlast");
  memo->GetLines()->Delete(3);
  memo->GetLines()->Delete(0);
  EXPECT_EQ(memo->GetText(), u"between\r\ntwo");
  memo->SetCharCase(vgecUpperCase);
  EXPECT_EQ(memo->GetText(), u"between\r\ntwo");  // the current text stays
  memo->GetLines()->Clear();
  memo->SetText(u"next");
  EXPECT_EQ(memo->GetText(), u"NEXT");
}

TEST_F(MemoTest, PaintingDrawsTheVisibleLinesAndTheSelection) {
  std::u16string text;
  for (int i = 0; i < 40; ++i) text += u"line\r\n";
  TvgMemo* memo = Memo(text, 200, 100);
  memo->SetCaretPosition(At(1, 1));
  memo->SetSelectionActive(false);
  Key(memo, kVkDown, kShift);
  memo->GetVScrollBar()->SetValue(0);
  auto* content = memo->FindResource("content")->Visual();
  canvas.calls.clear();
  content->OnPaint(content, &canvas, content->GetLocalRect());
  // A viewport 100 high: 7 lines of 14 and a part of the eighth.
  EXPECT_EQ(canvas.Of("Text").size(), 8u);
  const auto selection = canvas.Of("FillRect");
  ASSERT_EQ(selection.size(), 2u);
  EXPECT_EQ(selection[0].Rect, vgRect(7, 14, 28, 28));
  EXPECT_EQ(selection[1].Rect, vgRect(0, 28, 7, 42));
}

// --- Measuring

// Canvases that measure characters at different widths: in whole units, with a pair that kerns
// ("AV" 3 narrower), in fractions, with an overhang added once per text, or by the font's size.
// Each counts the texts it measures.
class TMeasuringCanvas : public TRecordingCanvas {
 public:
  enum TKind { kWhole, kKerning, kFractional, kOverhang, kBySize };
  explicit TMeasuringCanvas(TKind kind) : kind_(kind) {}
  void MeasureText(TvgRect& r, const TvgRect&, const WideString& text, bool, TvgTextAlign, TvgTextAlign) override {
    ++calls;
    r = vgRect(r.Left, r.Top, r.Left + Width(text), r.Top + 13);
  }
  float Width(const WideString& text) const {
    float width = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      const WideChar c = text[i];
      width += kind_ == kBySize ? GetFont()->GetSize() / 2 * static_cast<float>(1 + c % 3) : static_cast<float>(5 + c % 4);
      if (kind_ == kFractional) width += 0.25f;
      if (kind_ == kKerning && i > 0 && text[i - 1] == u'A' && c == u'V') width -= 3;
    }
    return kind_ == kOverhang && !text.empty() ? width + 2 : width;
  }
  int calls = 0;

 private:
  TKind kind_;
};

TEST_F(MemoTest, TextWidthIsWhatTheCanvasMeasuresOnEveryCanvas) {
  std::u16string longText(2000, u'W');  // wider than the measuring rectangle
  const std::u16string simple[] = {u"The quick brown fox", u"AVATAR AV", u"\u0416\u0436 \u03A9\u03C9 \u00E9", longText};
  const std::u16string special[] = {u"x\U0001F600y", u"e\u0301t", u"tab\there", u"soft\u00ADhyphen"};
  std::mt19937 random(11);
  const std::u16string pool = u"AVTofi ,.-xyz\u00E9\u0416\u0301\t\u00AD\u4E2D";
  std::vector<std::u16string> mixed;
  for (int i = 0; i < 200; ++i) {
    std::u16string s;
    for (uint32_t n = random() % 30; n > 0; --n) s += pool[random() % pool.size()];
    mixed.push_back(s);
  }
  for (auto kind : {TMeasuringCanvas::kWhole, TMeasuringCanvas::kKerning, TMeasuringCanvas::kFractional,
                    TMeasuringCanvas::kOverhang}) {
    TMeasuringCanvas measuring(kind);
    scene.canvas = &measuring;
    TvgMemo* memo = Memo();
    for (const auto* set : {&simple, &special}) {
      for (const std::u16string& s : *set) EXPECT_EQ(memo->TextWidth(s), measuring.Width(s)) << kind << " " << WideToUtf8(s);
    }
    for (const std::u16string& s : mixed) EXPECT_EQ(memo->TextWidth(s), measuring.Width(s)) << kind << " " << WideToUtf8(s);
    EXPECT_EQ(memo->TextWidth(u""), 0);
    // Simple texts measured again: no canvas call where the canvas adds up (up to the measuring
    // rectangle's width), one each elsewhere.
    const int before = measuring.calls;
    for (int i = 0; i < 3; ++i) memo->TextWidth(simple[i]);
    EXPECT_EQ(measuring.calls - before, kind == TMeasuringCanvas::kWhole ? 0 : 3) << kind;
    scene.canvas = &canvas;
  }
}

TEST_F(MemoTest, WidthsFollowTheFontAndWrappingFollowsAKerningCanvas) {
  TMeasuringCanvas bySize(TMeasuringCanvas::kBySize);
  scene.canvas = &bySize;
  TvgMemo* memo = Memo();
  memo->GetFont()->SetSize(12);
  EXPECT_EQ(memo->TextWidth(u"abc"), 6 * (2 + 3 + 1));
  memo->GetFont()->SetSize(14);
  EXPECT_EQ(memo->TextWidth(u"abc"), 7 * (2 + 3 + 1));
  // "AV " is 15 wide, not the 18 its characters add up to: three of them fit in 45.
  TMeasuringCanvas kerning(TMeasuringCanvas::kKerning);
  scene.canvas = &kerning;
  memo = Memo(u"AV AV AV AV", 45, 100);
  memo->GetVScrollBar()->SetVisible(false);
  memo->SetWordWrap(true);
  memo->Realign();
  ASSERT_EQ(memo->GetViewportWidth(), 45);
  EXPECT_EQ(memo->LinesBegs(), (TLinesBegs{1, 10}));
  scene.canvas = &canvas;
}

TEST_F(MemoTest, FillingLinesInAnUpdateKeepsTheTableOfARebuildAndTheCharCase) {
  TvgMemo* memo = Memo(u"", 300, 200);
  std::u16string expected;
  scene.updates.clear();
  memo->GetLines()->BeginUpdate();
  for (int i = 0; i < 3000; ++i) {
    // Lines growing, shrinking and repeating widths: the widest line moves back and forth.
    const std::u16string line = u"line " + std::u16string(static_cast<size_t>(i % 37 + (i / 500) * 5), u'x');
    memo->GetLines()->Add(line);
    expected += (i > 0 ? u"\r\n" : u"") + line;
    if (i == 1500) {
      memo->SetCharCase(vgecUpperCase);  // the next edit stores the whole text in upper case
      for (char16_t& c : expected) c = static_cast<char16_t>(std::towupper(c));
    }
    if (i >= 1500) {
      for (size_t k = expected.size() - line.size(); k < expected.size(); ++k)
        expected[k] = static_cast<char16_t>(std::towupper(expected[k]));
    }
  }
  EXPECT_TRUE(scene.updates.empty());  // no repaint per line
  memo->GetLines()->EndUpdate();
  ASSERT_FALSE(scene.updates.empty());  // the whole memo at the end
  TvgRect painted = scene.updates.front();
  for (const TvgRect& r : scene.updates) painted = vgUnionRect(painted, r);
  EXPECT_TRUE(painted.Left <= 10 && painted.Top <= 10 && painted.Right >= 310 && painted.Bottom >= 210);
  EXPECT_EQ(memo->GetText(), expected);
  EXPECT_EQ(memo->LineCount(), 3000);
  const TLinesBegs piecewise = memo->LinesBegs();
  const int32_t longest = memo->GetLongestLine();
  memo->UpdateLines();
  EXPECT_EQ(piecewise, memo->LinesBegs());
  EXPECT_EQ(longest, memo->GetLongestLine());
}

TEST_F(MemoTest, StreamsCreateTheMemoByClassName) {
  EXPECT_NE(GetClass("TvgMemo"), nullptr);
  EXPECT_NE(GetClass("TvgHudMemo"), nullptr);
  TvgMemo* memo = Memo(u"kept\r\ntext");
  memo->SetWordWrap(true);
  std::unique_ptr<TvgObject> copy(RoundTrip(memo));
  auto* back = dynamic_cast<TvgMemo*>(copy.get());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->GetText(), u"kept\r\ntext");
  EXPECT_TRUE(back->GetWordWrap());
}

}  // namespace
