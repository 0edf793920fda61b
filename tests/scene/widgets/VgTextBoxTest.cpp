// The text box: typing, caret and selection keys, word moves, surrogate pairs, clipboard,
// scrolling, password dots, mouse, context menu and streaming by class name.
#include <gtest/gtest.h>

#include "WidgetsTestSupport.h"
#include "classlib/Clipbrd.h"
#include "scene/widgets/vg_textbox.h"

namespace {

class TextBoxTest : public WidgetsFixture {
 protected:
  TvgTextBox* Focused(const std::u16string& text = u"") {
    auto* box = Add<TvgTextBox>(10, 10, 100, 22);
    box->SetText(text);
    box->SetFocus();
    box->SetCaretPosition(static_cast<int32_t>(text.size()));
    box->SetSelLength(0);
    return box;
  }
};

const TShiftState kShift{ssShift};
const TShiftState kCtrl{ssCtrl};

TEST_F(TextBoxTest, TypingEditsAtTheCaretAndFiresTheEventsOfEachKind) {
  TvgTextBox* box = Focused();
  box->OnTyping = typing.Event();
  box->OnChangeTracking = tracking.Event();
  box->OnChange = changes.Event();
  Type(box, u"hello");
  EXPECT_EQ(box->GetText(), u"hello");
  EXPECT_EQ(box->GetCaretPosition(), 5);
  EXPECT_EQ(typing.count, 5);
  EXPECT_EQ(tracking.count, 5);
  Key(box, kVkHome);
  Key(box, kVkBack);  // at 0: nothing
  EXPECT_EQ(box->GetText(), u"hello");
  EXPECT_EQ(box->GetCaretPosition(), 0);
  Key(box, kVkDelete);
  Key(box, kVkEnd);
  Key(box, kVkBack);
  EXPECT_EQ(box->GetText(), u"ell");
  // Enter reports the change each time while the text differs from when the focus came.
  Key(box, kVkEnter);
  Key(box, kVkEnter);
  EXPECT_EQ(changes.count, 2);
  box->SetText(u"from code");
  EXPECT_EQ(typing.count, 7);  // two deletions typed, none from code
}

TEST_F(TextBoxTest, ShiftArrowsSelectFromAnAnchorThatStays) {
  TvgTextBox* box = Focused(u"0123456789");
  box->SetCaretPosition(5);
  for (int i = 0; i < 3; ++i) Key(box, kVkRight, kShift);
  EXPECT_EQ(box->GetSelStart(), 5);
  EXPECT_EQ(box->GetSelLength(), 3);
  EXPECT_EQ(box->GetSelText(), u"567");
  Key(box, kVkLeft, kShift);
  EXPECT_EQ(box->GetSelLength(), 2);
  Key(box, kVkHome, kShift);  // across the anchor: 0..5
  EXPECT_EQ(box->GetSelStart(), 0);
  EXPECT_EQ(box->GetSelLength(), 5);
  Type(box, u"x");  // replaces the selection
  EXPECT_EQ(box->GetText(), u"x56789");
  Key(box, kVkLeft);
  EXPECT_EQ(box->GetSelLength(), 0);
}

TEST_F(TextBoxTest, CtrlArrowsMoveByWordsSeparatedBySpaces) {
  struct Case {
    int32_t from;
    uint16_t key;
    int32_t to;
  } cases[] = {{0, kVkRight, 4}, {4, kVkRight, 10}, {10, kVkRight, 15}, {15, kVkLeft, 10},
               {11, kVkLeft, 10}, {10, kVkLeft, 4}, {4, kVkLeft, 0},   {2, kVkRight, 4}};
  TvgTextBox* box = Focused(u"one two,x three");
  for (const Case& c : cases) {
    box->SetCaretPosition(c.from);
    Key(box, c.key, kCtrl);
    EXPECT_EQ(box->GetCaretPosition(), c.to) << c.from << " key " << c.key;
  }
}

TEST_F(TextBoxTest, SurrogatePairsAreNeverSplit) {
  const std::u16string face = u"\U0001F600";  // two UTF-16 units
  TvgTextBox* box = Focused(u"a" + face + u"b");
  box->SetCaretPosition(1);
  Key(box, kVkRight);
  EXPECT_EQ(box->GetCaretPosition(), 3);
  Key(box, kVkLeft);
  EXPECT_EQ(box->GetCaretPosition(), 1);
  box->SetCaretPosition(2);  // between the halves: back to the pair's start
  EXPECT_EQ(box->GetCaretPosition(), 1);
  Key(box, kVkRight, kShift);
  EXPECT_EQ(box->GetSelText(), face);
  box->SetSelLength(0);
  Key(box, kVkBack);  // the caret stands after the pair
  EXPECT_EQ(box->GetText(), u"ab");
  box->SetText(u"a" + face + u"b");
  box->SetCaretPosition(1);
  Key(box, kVkDelete);
  EXPECT_EQ(box->GetText(), u"ab");
  // The mouse never lands between the halves (7 units per unit measured: the pair is 14 wide).
  box->SetText(face + face);
  for (float x = 2; x < 40; x += 1) EXPECT_NE(box->TextPosAtX(x) % 2, 1) << x;
}

TEST_F(TextBoxTest, ClipboardCopiesCutsAndPastesUnicodeText) {
  const std::u16string text = u"x\U0001D11Ey";  // a character outside the BMP
  TvgTextBox* box = Focused(text);
  Char(box, u'a', kCtrl);
  Char(box, u'c', kCtrl);
  EXPECT_EQ(Clipboard().GetAsWideText(), text);
  Char(box, u'x', kCtrl);
  EXPECT_EQ(box->GetText(), u"");
  Char(box, u'v', kCtrl);
  Char(box, u'v', kCtrl);
  EXPECT_EQ(box->GetText(), text + text);
  Key(box, kVkHome, kShift);
  Key(box, kVkInsert, kCtrl);  // Ctrl+Insert copies, Shift+Insert pastes
  Key(box, kVkEnd);
  Key(box, kVkInsert, kShift);
  EXPECT_EQ(box->GetText(), text + text + text + text);
  // Ctrl+Z is consumed without an undo; Ctrl+Backspace's DEL character is not typed.
  WideChar z = u'z';
  uint16_t none = 0;
  box->KeyDown(none, z, kCtrl);
  EXPECT_EQ(z, 0);
  Char(box, 127);
  EXPECT_EQ(box->GetText(), text + text + text + text);
}

TEST_F(TextBoxTest, PasswordAndReadOnlyBoxesKeepTheirText) {
  Clipboard().SetAsWideText(u"before");
  TvgTextBox* secret = Focused(u"hunter2");
  secret->SetPassword(true);
  secret->SelectAll();
  Char(secret, u'c', kCtrl);
  Char(secret, u'x', kCtrl);
  Key(secret, kVkDelete, kShift);  // Shift+Delete would cut
  EXPECT_EQ(Clipboard().GetAsWideText(), u"before");
  EXPECT_EQ(secret->GetText(), u"hunter2");
  secret->UpdatePopupMenu();
  EXPECT_FALSE(secret->GetPopupMenu()->GetItemEnabled("Copy"));
  EXPECT_FALSE(secret->GetPopupMenu()->GetItemEnabled("Cut"));

  TvgTextBox* fixed = Focused(u"fixed");
  fixed->SetReadOnly(true);
  Type(fixed, u"zz");
  Key(fixed, kVkBack);
  Char(fixed, u'v', kCtrl);
  Char(fixed, u'x', kCtrl);
  EXPECT_EQ(fixed->GetText(), u"fixed");
  EXPECT_EQ(Clipboard().GetAsWideText(), u"before");
}

TEST_F(TextBoxTest, FilterAndMaxLengthDropWhatTheyRefuse) {
  TvgTextBox* box = Focused();
  box->SetFilterChar(u"0123456789");
  box->SetMaxLength(4);
  Type(box, u"1a2b345");
  EXPECT_EQ(box->GetText(), u"1234");
  box->SetCaretPosition(1);
  Key(box, kVkRight, kShift);
  Type(box, u"9");  // replacing keeps the length within the limit
  EXPECT_EQ(box->GetText(), u"1934");
}

TEST_F(TextBoxTest, TheViewScrollsToKeepTheCaretInside) {
  TvgTextBox* box = Focused();
  // 96 units of content hold 13 characters of 7.
  Type(box, u"abcdefghijklmnopqrst");
  EXPECT_GT(box->GetFirstVisibleChar(), 1);
  const TvgRect content = box->GetContentRect();
  EXPECT_LE(box->TextPosToX(box->GetCaretPosition()), content.Right);
  EXPECT_GE(box->TextPosToX(box->GetCaretPosition()), content.Left);
  Key(box, kVkHome);
  EXPECT_EQ(box->GetFirstVisibleChar(), 1);
  EXPECT_FLOAT_EQ(box->TextPosToX(3), content.Left + 21);
}

TEST_F(TextBoxTest, PasswordDotsAreHalfTheFontSizeApart) {
  TvgTextBox* box = Focused(u"abc");
  box->SetPassword(true);
  canvas.calls.clear();
  TvgRect r = box->GetContentRect();
  r = vgRect(0, 0, r.Right - r.Left, r.Bottom - r.Top);
  box->FindResource("content")->Visual()->OnPaint(nullptr, &canvas, r);
  const auto dots = canvas.Of("FillEllipse");
  ASSERT_EQ(dots.size(), 3u);
  EXPECT_FLOAT_EQ(dots[0].Rect.Right - dots[0].Rect.Left, 4.5f);
  EXPECT_FLOAT_EQ(dots[1].Rect.Left - dots[0].Rect.Left, 5.5f);
  EXPECT_FLOAT_EQ(box->TextPosToX(2), box->GetContentRect().Left + 11);
}

TEST_F(TextBoxTest, AFirstClickSelectsAllAndTheNextPlacesTheCaret) {
  auto* box = Add<TvgTextBox>(10, 10, 100, 22);
  box->SetText(u"abcdef");
  box->MouseDown(mbLeft, TShiftState{ssLeft}, 20, 10);
  box->MouseUp(mbLeft, TShiftState{}, 20, 10);
  EXPECT_EQ(box->GetSelLength(), 6);
  // Content starts at 2: x 20 lies past the middle of "c" (14..21 -> 16..23).
  box->MouseDown(mbLeft, TShiftState{ssLeft}, 20, 10);
  EXPECT_EQ(box->GetCaretPosition(), 3);
  EXPECT_EQ(box->GetSelLength(), 0);
  box->MouseMove(TShiftState{ssLeft}, 41, 10, 21, 0);  // past the middle of "f"
  box->MouseUp(mbLeft, TShiftState{}, 41, 10);
  EXPECT_EQ(box->GetSelText(), u"def");
  box->MouseDown(mbLeft, TShiftState{ssLeft, ssDouble}, 20, 10);
  EXPECT_EQ(box->GetSelLength(), 6);
}

TEST_F(TextBoxTest, TheContextMenuOffersWhatTheStateAllows) {
  TvgTextBox* box = Focused(u"abc");
  Clipboard().SetAsWideText(u"");
  box->UpdatePopupMenu();
  TvgEditMenu* menu = box->GetPopupMenu();
  EXPECT_EQ(menu->Captions(), (std::vector<std::string>{"Cut", "Copy", "Paste", "Delete", "Select All"}));
  EXPECT_FALSE(menu->GetItemEnabled("Cut"));
  EXPECT_FALSE(menu->GetItemEnabled("Paste"));
  EXPECT_TRUE(menu->GetItemEnabled("Select All"));
  box->SelectAll();
  box->UpdatePopupMenu();
  EXPECT_TRUE(menu->GetItemEnabled("Cut"));
  EXPECT_FALSE(menu->GetItemEnabled("Select All"));
  EXPECT_TRUE(menu->ClickItem("Copy"));
  EXPECT_TRUE(menu->ClickItem("Delete"));
  EXPECT_EQ(box->GetText(), u"");
  box->UpdatePopupMenu();
  EXPECT_TRUE(menu->GetItemEnabled("Paste"));
  menu->ClickItem("Paste");
  EXPECT_EQ(box->GetText(), u"abc");
}

TEST_F(TextBoxTest, TheClearButtonEmptiesAndFocusesTheBox) {
  auto* box = Add<TvgTextBoxClearBtn>(10, 10, 120, 22);
  box->SetText(u"query");
  auto* clear = dynamic_cast<TvgCustomButton*>(box->FindResource("clearbutton"));
  ASSERT_NE(clear, nullptr);
  clear->Click();
  EXPECT_EQ(box->GetText(), u"");
  EXPECT_TRUE(box->GetIsFocused());
}

TEST_F(TextBoxTest, StreamsCreateTheBoxesByClassName) {
  for (const char* name : {"TvgTextBox", "TvgRoundTextBox", "TvgNumberBox", "TvgSpinBox", "TvgTextBoxClearBtn",
                           "TvgHudTextBox", "TvgHudNumberBox", "TvgHudRoundTextBox", "TvgHudSpinBox"})
    EXPECT_NE(GetClass(name), nullptr) << name;
  auto* box = Add<TvgTextBox>();
  box->SetText(u"stored \u00e9");
  box->SetPassword(true);
  std::unique_ptr<TvgObject> copy(RoundTrip(box));
  auto* back = dynamic_cast<TvgTextBox*>(copy.get());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->GetText(), u"stored \u00e9");
  EXPECT_TRUE(back->GetPassword());
}

// --- Combo text box and combo track bar

TEST_F(TextBoxTest, TheArrowDropsTheListDownAndAChoiceFillsTheBox) {
  auto* combo = Add<TvgComboTextBox>(10, 10, 100, 22);
  for (const char16_t* text : {u"alpha", u"beta", u"gamma"}) combo->GetItems()->Add(text);
  combo->MouseDown(mbLeft, TShiftState{ssLeft}, 90, 10);  // on the arrow
  ASSERT_TRUE(combo->GetPopup()->GetIsOpen());
  EXPECT_EQ(combo->GetPopup()->GetHeight(), 8 * 19);  // whatever the number of items
  combo->SetItemHeight(25);  // the open drop-down follows
  EXPECT_EQ(combo->GetPopup()->GetHeight(), 8 * 25);
  combo->ComboItemChosen(2);
  EXPECT_EQ(combo->GetText(), u"gamma");
  EXPECT_EQ(combo->GetSelText(), u"gamma");
  combo->MouseDown(mbLeft, TShiftState{ssLeft}, 90, 10);  // a second press closes it
  EXPECT_FALSE(combo->GetPopup()->GetIsOpen());
  combo->MouseDown(mbLeft, TShiftState{ssLeft}, 30, 10);  // in the text: no list
  EXPECT_FALSE(combo->GetPopup()->GetIsOpen());
  combo->GetItems()->Delete(2);  // the index falls to the last item left
  EXPECT_EQ(combo->GetItemIndex(), 1);
  Key(combo, kVkUp);
  EXPECT_EQ(combo->GetText(), u"alpha");
}

// An item height changed while the drop-down is open leaves it as one opened now: as tall, and
// placed against the box (above it here, its bottom at the box's top).
TEST_F(TextBoxTest, AnItemHeightChangedWhileOpenLeavesTheDropDownAsOneOpenedNow) {
  auto* combo = Add<TvgComboTextBox>(10, 200, 100, 22);
  combo->SetPlacement(vgPlacementTop);
  for (const char16_t* text : {u"alpha", u"beta", u"gamma"}) combo->GetItems()->Add(text);
  combo->DropDown();
  combo->SetItemHeight(25);
  const TvgRect changed = combo->GetPopup()->GetAbsoluteRect();
  combo->DropDown();
  combo->DropDown();  // opened now
  EXPECT_EQ(changed, combo->GetPopup()->GetAbsoluteRect());
  combo->DropDown();
}

TEST_F(TextBoxTest, AReadOnlyComboTextBoxSelectsByFirstLetter) {
  auto* combo = Add<TvgComboTextBox>(10, 10, 100, 22);
  for (const char16_t* text : {u"apple", u"Banana", u"berry"}) combo->GetItems()->Add(text);
  combo->SetReadOnly(true);
  Char(combo, u'b');
  EXPECT_EQ(combo->GetItemIndex(), 1);
  EXPECT_EQ(combo->GetText(), u"Banana");
  Char(combo, u'z');
  EXPECT_EQ(combo->GetItemIndex(), 1);
}

TEST_F(TextBoxTest, TheComboTrackShowsItsValueAndTakesTypedNumbers) {
  auto* combo = Add<TvgComboTrackBar>(10, 10, 100, 22);
  combo->OnChange = changes.Event();
  combo->SetFocus();
  combo->GetTrackBar()->SetValue(2.5f);
  EXPECT_EQ(combo->GetText(), u"2.500");
  EXPECT_EQ(combo->GetSelText(), u"2.500");
  EXPECT_EQ(changes.count, 1);
  Type(combo, u"7");
  Key(combo, kVkEnter);
  EXPECT_EQ(combo->GetValue(), 7);
  EXPECT_EQ(combo->GetText(), u"7");
  combo->SelectAll();
  Type(combo, u"-,");  // no number: the track's value comes back
  Key(combo, kVkEnter);
  EXPECT_EQ(combo->GetValue(), 7);
  EXPECT_EQ(combo->GetText(), u"7");
}

}  // namespace
