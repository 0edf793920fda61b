// The widgets in a real scene window under Wine and Xvfb, in the default style: keys and mouse
// through the system's input queue (SendInput), the system clipboard both ways with a character
// outside the BMP, undo, the combo drop-down, list and tree selection, tab switching, a memo of
// 1 MB, and a screenshot of a gallery of every widget kept as widgets_gallery.png.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "Emulation.h"
#include "classlib/Clipbrd.h"
#include "classlib/WindowTestUtils.h"
#include "scene/controls/DefaultStyleSupport.h"
#include "scene/controls/vg_layouts.h"
#include "scene/core/ObjectsTestSupport.h"
#include "scene/core/vg_resources.h"
#include "scene/core/win32/vg_gdiplus.h"
#include "scene/core/win32/vg_scene.h"
#include "scene/widgets/vg_listbox.h"
#include "scene/widgets/vg_memo.h"
#include "scene/widgets/vg_tabcontrol.h"
#include "scene/widgets/vg_textbox.h"
#include "scene/widgets/vg_treeview.h"
#include "SceneWindowFixture.h"

namespace {

class GdiPlusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { StartGdiPlus(); }
  void TearDown() override { StopGdiPlus(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new GdiPlusEnvironment);

// The shared scene window in the default style; keys and mouse through the system's input queue.
class WidgetsWindowTest : public DefaultStyleWindowFixture {
 protected:
  // A control of class T on the root, its style applied and painted.
  template <typename T>
  T* Add(float x, float y, float w, float h) {
    T* c = SceneWindowFixture::Add<T>(x, y, w, h);
    Settle();
    return c;
  }
  void Settle(int ms = 60) { SceneWindowFixture::Settle(ms); }
  // A mouse action at a point of the scene window.
  void Mouse(int x, int y, DWORD flags) {
    POINT p{x, y};
    ClientToScreen(scene->GetHandle(), &p);
    MouseAtScreen(p, flags);
  }
  void MouseAtScreen(POINT p, DWORD flags) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = static_cast<LONG>(p.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1));
    in.mi.dy = static_cast<LONG>(p.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1));
    in.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE | flags;
    Send({in});
  }
  void Click(int x, int y) {
    Mouse(x, y, 0);
    Mouse(x, y, MOUSEEVENTF_LEFTDOWN);
    Mouse(x, y, MOUSEEVENTF_LEFTUP);
  }
  // The centre of a control in scene coordinates.
  static POINT Centre(TvgVisualObject* v, float dx = 0, float dy = 0) {
    const TvgPoint p = v->LocalToAbsolute(vgPoint(v->GetWidth() / 2 + dx, v->GetHeight() / 2 + dy));
    return POINT{static_cast<LONG>(p.X), static_cast<LONG>(p.Y)};
  }
};

TEST_F(WidgetsWindowTest, TypingSelectingAndTheClipboardThroughRealKeys) {
  auto* box = Add<TvgTextBox>(20, 20, 300, 24);
  const POINT c = Centre(box);
  Click(c.x, c.y);
  ASSERT_EQ(scene->GetFocused(), box);
  Type(u"hello wide world");
  EXPECT_EQ(box->GetText(), u"hello wide world");
  Key(VK_LEFT, {VK_CONTROL});  // to "world"
  Key(VK_LEFT, {VK_CONTROL});  // to "wide"
  EXPECT_EQ(box->GetCaretPosition(), 6);
  Key(VK_RIGHT, {VK_CONTROL, VK_SHIFT});
  EXPECT_EQ(box->GetSelText(), u"wide ");
  Key('C', {VK_CONTROL});
  EXPECT_EQ(Clipboard().GetAsWideText(), u"wide ");
  EXPECT_EQ(box->GetText(), u"hello wide world");  // Ctrl+C typed nothing
  // From another program's side: a text with a character outside the BMP.
  const std::u16string clef = u"\U0001D11E clef";
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (clef.size() + 1) * 2);
  memcpy(GlobalLock(block), clef.c_str(), (clef.size() + 1) * 2);
  GlobalUnlock(block);
  SetClipboardData(CF_UNICODETEXT, block);
  CloseClipboard();
  Key(VK_END);
  Key('V', {VK_CONTROL});
  EXPECT_EQ(box->GetText(), u"hello wide world" + clef);
  // The pair goes as one character.
  for (int i = 0; i < 5; ++i) Key(VK_LEFT);
  Key(VK_BACK);
  EXPECT_EQ(box->GetText(), u"hello wide world clef");
  Key(VK_BACK, {VK_CONTROL});  // deletes one character and types no DEL
  EXPECT_EQ(box->GetText(), u"hello wide worl clef");
  Key('A', {VK_CONTROL});
  Key('X', {VK_CONTROL});
  EXPECT_EQ(box->GetText(), u"");
  EXPECT_EQ(Clipboard().GetAsWideText(), u"hello wide worl clef");
}

TEST_F(WidgetsWindowTest, TheMouseSelectsInTheTextBox) {
  auto* box = Add<TvgTextBox>(20, 20, 300, 24);
  box->SetText(u"one two three");
  const POINT c = Centre(box);
  Click(c.x, c.y);  // the first click focuses and selects everything
  EXPECT_EQ(box->GetSelLength(), 13);
  const TvgPoint start = box->LocalToAbsolute(vgPoint(box->TextPosToX(4) + 1, 12));
  const TvgPoint end = box->LocalToAbsolute(vgPoint(box->TextPosToX(7) + 1, 12));
  Mouse(static_cast<int>(start.X), static_cast<int>(start.Y), 0);
  Mouse(static_cast<int>(start.X), static_cast<int>(start.Y), MOUSEEVENTF_LEFTDOWN);
  Mouse(static_cast<int>(end.X), static_cast<int>(end.Y), 0);
  Mouse(static_cast<int>(end.X), static_cast<int>(end.Y), MOUSEEVENTF_LEFTUP);
  EXPECT_EQ(box->GetSelText(), u"two");
}

TEST_F(WidgetsWindowTest, MemoUndoAndAMegabyteOfText) {
  auto* memo = Add<TvgMemo>(20, 20, 400, 300);
  const POINT c = Centre(memo);
  Click(c.x, c.y);
  Type(u"first");
  Key(VK_RETURN);
  Type(u"second");
  for (int i = 0; i < 3; ++i) Key(VK_BACK);
  EXPECT_EQ(memo->GetText(), u"first\r\nsec");
  memo->GetPopupMenu()->ClickItem("Undo");
  EXPECT_EQ(memo->GetText(), u"first\r\nsecond");
  memo->GetPopupMenu()->ClickItem("Undo");  // typing on, Enter included, was one step
  EXPECT_EQ(memo->GetText(), u"");
  std::u16string big;
  while (big.size() < 1024 * 1024 / 2) big += u"a line of text for the megabyte memo, with words\r\n";
  memo->SetWordWrap(true);
  memo->SetText(big);
  Settle();
  EXPECT_GT(memo->GetLines()->Count(), 10000);
  Key(VK_NEXT);
  Key(VK_END, {VK_CONTROL});
  Type(u"end");
  EXPECT_EQ(memo->GetText().substr(memo->GetText().size() - 3), u"end");
  EXPECT_GT(memo->GetVScrollBar()->GetValue(), 0);
}

TEST_F(WidgetsWindowTest, TheMemoMeasuresTextsAsGdiPlusDoes) {
  // The memo keeps the widths of single characters; on this canvas every text must still measure
  // exactly what GDI+ measures for it whole, in two fonts and two scales.
  auto* memo = Add<TvgMemo>(20, 20, 400, 300);
  TvgCanvas* canvas = memo->GetCanvas();
  ASSERT_NE(canvas, nullptr);
  uint32_t seed = 5;
  const std::u16string pool = u"The quick brown fox, AV To ffi -.\u00E9\u00DF\u0416\u03A9\u4E2D\u0301\t";
  for (float size : {11.0f, 17.0f}) {
    memo->GetFont()->SetSize(size);
    for (float scale : {1.0f, 1.5f}) {
      TvgMatrix m = IdentityMatrix;
      m.m11 = m.m22 = scale;
      canvas->SetMatrix(m);
      for (int i = 0; i < 150; ++i) {
        std::u16string text;
        seed = seed * 1103515245u + 12345u;
        for (uint32_t n = 1 + (seed >> 16) % 60; n > 0; --n) {
          seed = seed * 1103515245u + 12345u;
          text += pool[(seed >> 16) % pool.size()];
        }
        const float width = memo->TextWidth(text);
        canvas->SetFont(memo->GetFont());
        TvgRect r = vgRect(0, 0, 10000, 10000);
        canvas->MeasureText(r, r, text, false, vgTextAlignNear, vgTextAlignNear);
        ASSERT_EQ(width, r.Right - r.Left) << size << " " << scale << " " << WideToUtf8(text);
      }
    }
  }
  canvas->SetMatrix(IdentityMatrix);
}

TEST_F(WidgetsWindowTest, TheComboDropsDownChoosesAndCancels) {
  auto* combo = Add<TvgStringComboBox>(20, 20, 150, 22);
  for (const char16_t* t : {u"red", u"green", u"blue"}) combo->GetItems()->Add(t);
  const POINT c = Centre(combo);
  Click(c.x, c.y);
  ASSERT_TRUE(combo->GetPopup()->GetIsOpen());
  PumpUntil([&] { return combo->GetListBox()->Count() == 3 && combo->GetListBox()->GetScene() != nullptr; },
            MachineBound(500));
  // The list shows in a popup window of its own: click its second item there.
  TvgComboListBox* list = combo->GetListBox();
  TvgListBoxItem* green = list->ItemByIndex(1);
  IvgPopupForm* form = combo->GetPopup()->GetPopupForm();
  ASSERT_NE(form, nullptr);
  const TvgPoint p = green->LocalToAbsolute(vgPoint(10, 8));
  POINT screen{static_cast<LONG>(p.X), static_cast<LONG>(p.Y)};
  ClientToScreen(static_cast<HWND>(form->NativeWindow()), &screen);
  MouseAtScreen(screen, 0);
  MouseAtScreen(screen, MOUSEEVENTF_LEFTDOWN);
  MouseAtScreen(screen, MOUSEEVENTF_LEFTUP);
  EXPECT_FALSE(combo->GetPopup()->GetIsOpen());
  EXPECT_EQ(combo->GetItemIndex(), 1);
  // Esc closes an open drop-down without a choice.
  Click(c.x, c.y);
  ASSERT_TRUE(combo->GetPopup()->GetIsOpen());
  Key(VK_ESCAPE);
  PumpUntil([&] { return !combo->GetPopup()->GetIsOpen(); }, MachineBound(500));
  EXPECT_FALSE(combo->GetPopup()->GetIsOpen());
  EXPECT_EQ(combo->GetItemIndex(), 1);
}

// A closed string combo box shows its selected line after each change to its Items as a box
// given the same lines and index shows it (its pixels against the other box's), and as a whole
// repaint of it shows it once its item's animations have run: after an item styled before is
// selected, also in the list itself (its selection's colour animates), and after a change that
// keeps the item selected.
// Dropped down, a line added is placed without laying the list out whole.
TEST_F(WidgetsWindowTest, AClosedComboShowsItsLineAfterEveryChangeToItems) {
  auto* combo = Add<TvgStringComboBox>(20, 20, 150, 22);
  auto* same = Add<TvgStringComboBox>(20, 60, 150, 22);
  for (const char16_t* t : {u"red", u"green", u"blue"}) combo->GetItems()->Add(t);
  const auto differFromWhole = [&] {
    Settle(400);  // well past the item's animation (0.15 s)
    const TWindowPixels shown = Pixels();
    InvalidateRect(Window(), nullptr, FALSE);
    const TWindowPixels whole = Pixels();
    int differ = 0;
    for (int y = 20; y < 42; ++y)
      for (int x = 20; x < 170; ++x) differ += shown.At(x, y) != whole.At(x, y) ? 1 : 0;
    return differ;
  };
  // The box styles the item it paints; the last one is selected in the list itself.
  for (const int32_t index : {1, 0, -1}) {
    if (index >= 0) combo->SetItemIndex(index);
    else combo->GetListBox()->SetItemIndex(1);
    EXPECT_EQ(differFromWhole(), 0) << index;
  }
  // "green" stays the selected line: its item is not selected again, which would start its
  // selection's animation anew.
  TvgListBoxItem* green = combo->GetListBox()->GetSelected();
  combo->GetItems()->Sort();
  std::vector<TvgObject*> parts;
  green->AddObjectsToList(parts);
  EXPECT_EQ(combo->GetListBox()->GetSelected(), green);
  EXPECT_FALSE(std::any_of(parts.begin(), parts.end(), [](TvgObject* p) {
    auto* animation = dynamic_cast<TvgAnimation*>(p);
    return animation != nullptr && animation->GetRunning();
  }));
  EXPECT_EQ(differFromWhole(), 0) << "sort";
  const std::vector<std::function<void()>> changes = {
      [&] { combo->GetItems()->Put(1, u"yellow"); },   // the line shown
      [&] { combo->GetItems()->Add(u"black"); },       // another line
      [&] { combo->GetItems()->Exchange(0, 1); },      // the line shown trades places
      [&] { combo->GetItems()->Delete(1); },           // it goes: the next one shows
      [&] { combo->SetTextAlign(vgTextAlignFar); },    // all items made again
      [&] { combo->GetItems()->Delete(2); },           // the last line, shown, goes
  };
  for (size_t i = 0; i < changes.size(); ++i) {
    changes[i]();
    same->SetTextAlign(combo->GetTextAlign());
    same->GetItems()->Assign(combo->GetItems());
    same->SetItemIndex(combo->GetItemIndex());
    const TWindowPixels px = Pixels();
    int differ = 0;
    for (int y = 20; y < 42; ++y)
      for (int x = 20; x < 170; ++x) differ += px.At(x, y) != px.At(x, y + 40) ? 1 : 0;
    EXPECT_EQ(differ, 0) << "change " << i;
    EXPECT_EQ(differFromWhole(), 0) << "change " << i;
  }
  // Dropped down, in a window of its own: a line added is placed, the list not laid out whole.
  combo->DropDown();
  ASSERT_NE(combo->GetPopup()->GetPopupForm(), nullptr);
  Settle();
  TvgComboListBox* list = combo->GetListBox();
  const int32_t layouts = list->GetLayoutCount();
  combo->GetItems()->Add(u"white");
  EXPECT_EQ(list->GetLayoutCount() - layouts, 0);
  TvgListBoxItem* last = list->ItemByIndex(list->Count() - 1);
  TvgListBoxItem* before = list->ItemByIndex(list->Count() - 2);
  EXPECT_EQ(last->GetPosition()->GetY(), before->GetPosition()->GetY() + before->GetHeight());
  combo->DropDown();
}

// A combo text box's item height changed while its drop-down is open in a window of its own:
// the window is as tall, and where, as the window of a drop-down opened now.
TEST_F(WidgetsWindowTest, AnOpenDropDownsWindowFollowsANewItemHeight) {
  auto* combo = Add<TvgComboTextBox>(20, 300, 150, 22);
  combo->SetPlacement(vgPlacementTop);
  for (const char16_t* t : {u"red", u"green", u"blue"}) combo->GetItems()->Add(t);
  const auto window = [combo] {
    RECT r{};
    GetWindowRect(static_cast<HWND>(combo->GetPopup()->GetPopupForm()->NativeWindow()), &r);
    return std::vector<LONG>{r.left, r.top, r.right, r.bottom};
  };
  combo->DropDown();
  ASSERT_NE(combo->GetPopup()->GetPopupForm(), nullptr);
  Settle();
  combo->SetItemHeight(25);
  Settle();
  const std::vector<LONG> changed = window();
  combo->DropDown();
  Settle();
  combo->DropDown();  // opened now
  ASSERT_NE(combo->GetPopup()->GetPopupForm(), nullptr);
  Settle();
  EXPECT_EQ(changed, window());
  combo->DropDown();
}

TEST_F(WidgetsWindowTest, ListMultiSelectionSortingTabsAndTree) {
  auto* list = Add<TvgListBox>(20, 20, 150, 150);
  list->SetMultiSelect(true);
  for (const char16_t* t : {u"delta", u"alpha", u"charlie", u"bravo"}) {
    auto* item = new TvgListBoxItem(list);
    item->SetText(t);
    item->SetParent(list);
    item->SetHeight(20);
  }
  list->SetSorted(true);
  Settle();
  Click(Centre(list->ItemByIndex(0)).x, Centre(list->ItemByIndex(0)).y);
  Mouse(Centre(list->ItemByIndex(2)).x, Centre(list->ItemByIndex(2)).y, 0);
  const std::vector<INPUT> shift = KeyInputs(VK_SHIFT);  // pressed, released
  Send({shift[0]});
  Click(Centre(list->ItemByIndex(2)).x, Centre(list->ItemByIndex(2)).y);
  Send({shift[1]});
  std::vector<std::u16string> selected;
  for (int i = 0; i < list->Count(); ++i)
    if (list->ItemByIndex(i)->GetIsSelected()) selected.push_back(list->ItemByIndex(i)->GetText());
  EXPECT_EQ(selected, (std::vector<std::u16string>{u"alpha", u"bravo", u"charlie"}));

  auto* tabs = Add<TvgTabControl>(200, 20, 200, 150);
  for (const char16_t* t : {u"One", u"Two"}) {
    auto* item = new TvgTabItem(tabs);
    item->SetText(t);
    item->SetParent(tabs);
    auto* page = new TvgLayout(tabs);
    page->SetParent(tabs);
    item->SetLayout(page);
  }
  tabs->SetItemIndex(0);
  Settle();
  TvgTabItem* second = nullptr;
  for (TvgObject* child : tabs->Children())
    if (auto* item = dynamic_cast<TvgTabItem*>(child); item != nullptr && item->GetText() == u"Two") second = item;
  ASSERT_NE(second, nullptr);
  Click(Centre(second).x, Centre(second).y);
  EXPECT_EQ(tabs->GetItemIndex(), 1);

  auto* tree = Add<TvgTreeView>(420, 20, 200, 200);
  auto* parent = new TvgTreeViewItem(tree);
  parent->SetText(u"parent");
  parent->SetParent(tree);
  auto* child = new TvgTreeViewItem(tree);
  child->SetText(u"child");
  child->SetParent(parent);
  auto* other = new TvgTreeViewItem(tree);
  other->SetText(u"other");
  other->SetParent(tree);
  Settle();
  Click(Centre(parent).x, Centre(parent).y);
  EXPECT_EQ(tree->GetSelected(), parent);
  Key(VK_ADD);
  EXPECT_TRUE(parent->GetIsExpanded());
  EXPECT_TRUE(child->GetVisible());
  Key(VK_DOWN);
  EXPECT_EQ(tree->GetSelected(), child);
  Key(VK_SUBTRACT);  // collapses the child itself, a leaf: the parent stays open
  EXPECT_TRUE(child->GetVisible());
}

TEST_F(WidgetsWindowTest, GalleryOfEveryWidget) {
  const char* classes[] = {"TvgTextBox",      "TvgRoundTextBox", "TvgNumberBox",      "TvgSpinBox",
                           "TvgComboTextBox", "TvgComboTrackBar", "TvgTextBoxClearBtn", "TvgHudTextBox",
                           "TvgHudSpinBox",   "TvgListBox",      "TvgComboBox",        "TvgStringListBox",
                           "TvgMemo",         "TvgHudMemo",      "TvgTabControl",      "TvgTreeView"};
  int i = 0;
  std::vector<TvgControl*> shown;
  for (const char* name : classes) {
    const TClassInfo* cls = GetClass(name);
    ASSERT_NE(cls, nullptr) << name;
    auto* c = dynamic_cast<TvgControl*>(cls->Create(nullptr));
    const bool tall = c->Is<TvgScrollBox>() || c->Is<TvgTabControl>();
    c->SetBounds(10 + static_cast<float>(i % 4) * 155, 10 + static_cast<float>(i / 4) * 115, 145, tall ? 105 : 24);
    c->SetParent(root);
    c->ApplyResource();
    if (auto* text = dynamic_cast<TvgCustomTextBox*>(c)) text->SetText(WideString(u"") + Utf8ToWide(name + 3));
    if (auto* memo = dynamic_cast<TvgMemo*>(c)) memo->SetText(u"A memo\r\nwith two lines");
    if (auto* strings = dynamic_cast<TvgStringListBox*>(c)) {
      for (const char16_t* t : {u"one", u"two", u"three"}) strings->GetItems()->Add(t);
      strings->SetItemIndex(1);
    }
    if (auto* l = dynamic_cast<TvgListBox*>(c); l != nullptr && !c->Is<TvgStringListBox>()) {
      for (const char16_t* t : {u"first", u"second"}) {
        auto* item = new TvgListBoxItem(l);
        item->SetText(t);
        item->SetParent(l);
      }
    }
    if (auto* combo = dynamic_cast<TvgComboBox*>(c)) {
      auto* item = new TvgListBoxItem(combo);
      item->SetText(u"chosen");
      item->SetParent(combo);
      combo->SetItemIndex(0);
    }
    if (auto* tabs = dynamic_cast<TvgTabControl*>(c)) {
      for (const char16_t* t : {u"Tab", u"Other"}) {
        auto* item = new TvgTabItem(tabs);
        item->SetText(t);
        item->SetParent(tabs);
      }
      tabs->SetItemIndex(0);
    }
    if (auto* tree = dynamic_cast<TvgTreeView*>(c)) {
      auto* item = new TvgTreeViewItem(tree);
      item->SetText(u"node");
      item->SetParent(tree);
      auto* sub = new TvgTreeViewItem(tree);
      sub->SetText(u"leaf");
      sub->SetParent(item);
      item->SetIsExpanded(true);
      tree->SetSelected(sub);
    }
    shown.push_back(c);
    ++i;
  }
  InvalidateRect(scene->GetHandle(), nullptr, FALSE);
  Settle(300);
  TWindowPixels px(scene->GetHandle());
  TvgBitmap shot(px.width, px.height);
  for (int y = 0; y < px.height; ++y)
    for (int x = 0; x < px.width; ++x) shot.Scanline(y)[x] = 0xFF000000u | px.At(x, y);
  EXPECT_TRUE(shot.SaveToFile("widgets_gallery.png"));
  for (TvgControl* c : shown) {
    const TvgRect r = c->GetAbsoluteRect();
    int drawn = 0;
    for (int y = static_cast<int>(r.Top); y < static_cast<int>(r.Bottom); ++y)
      for (int x = static_cast<int>(r.Left); x < static_cast<int>(r.Right); ++x) drawn += px.At(x, y) != 0x2B2B2Bu;
    EXPECT_GT(drawn, 50) << c->ClassName() << " left the background as it was";
  }
}

}  // namespace
