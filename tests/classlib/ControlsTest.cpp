// Windowed controls: parented creation in a foreign window, bounds and alignment, input dispatch,
// windows.h comes first: the class library undoes its A/W name macros (TypInfo.h, Canvas.h).
#include <windows.h>

// exceptions kept inside the window procedure, and windows and classes released again.
#include "classlib/Controls.h"

#include <gtest/gtest.h>

#include <memory>

#include "WindowTestClasses.h"
#include "WindowTestUtils.h"

namespace {

RECT WindowRectIn(HWND window, HWND parent) {
  RECT r{};
  GetWindowRect(window, &r);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::vector<int32_t> BoundsOf(TControl* c) {
  TRect r = c->BoundsRect();
  return std::vector<int32_t>{r.Left, r.Top, r.Right, r.Bottom};
}

struct TExceptionSink {
  void Handle(TObject* sender, const std::exception_ptr& error) {
    try {
      std::rethrow_exception(error);
    } catch (const Exception& e) {
      messages.push_back(e.Message());
    } catch (...) {
      messages.push_back("?");
    }
  }
  std::vector<std::string> messages;
};

}  // namespace

TEST(Controls, ParentedCreationLivesInTheForeignWindow) {
  RegisterWindowTestClasses();
  TForeignWindow host;
  ASSERT_NE(host.handle, nullptr);
  std::unique_ptr<TUiPanel> panel(TWinControl::CreateParented<TUiPanel>(host.handle));
  panel->SetBounds(12, 34, 56, 78);
  EXPECT_FALSE(panel->HandleAllocated());  // made on demand only
  HWND window = panel->GetHandle();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetParent(window), host.handle);
  EXPECT_TRUE(GetWindowLongW(window, GWL_STYLE) & WS_CHILD);
  RECT r = WindowRectIn(window, host.handle);
  EXPECT_EQ(r.left, 12);
  EXPECT_EQ(r.top, 34);
  EXPECT_EQ(r.right - r.left, 56);
  EXPECT_EQ(r.bottom - r.top, 78);
  EXPECT_TRUE(IsWindowVisible(window));

  // Moving the control moves the window; client points map through the host.
  panel->SetLeft(20);
  EXPECT_EQ(WindowRectIn(window, host.handle).left, 20);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  TPoint mapped = panel->ClientToScreen(TPoint{0, 0});
  EXPECT_EQ(mapped.X, origin.x);
  EXPECT_EQ(mapped.Y, origin.y);
}

TEST(Controls, ChildWithoutParentWindowRaises) {
  RegisterWindowTestClasses();
  TUiPanel panel(nullptr);
  panel.SetName("Lonely");
  try {
    panel.HandleNeeded();
    FAIL();
  } catch (const EInvalidOperation& e) {
    EXPECT_EQ(e.Message(), "Control 'Lonely' has no parent window");
  }
  EXPECT_FALSE(panel.HandleAllocated());
  EXPECT_FALSE(WindowClassRegistered("TUiPanel"));
}

TEST(Controls, AlignmentFillsTheClientAreaInGroupOrder) {
  RegisterWindowTestClasses();
  TForeignWindow host;
  std::unique_ptr<TUiPanel> parent(TWinControl::CreateParented<TUiPanel>(host.handle));
  parent->SetBounds(0, 0, 200, 100);
  auto* client = new TUiPanel(nullptr);
  auto* top = new TUiPanel(nullptr);
  auto* bottom = new TUiPanel(nullptr);
  auto* left = new TUiPanel(nullptr);
  auto* right = new TUiPanel(nullptr);
  auto* free = new TUiPanel(nullptr);
  // The client control comes first in the list: it still takes what the others leave.
  for (TUiPanel* c : {client, top, bottom, left, right, free}) c->SetParent(parent.get());
  client->SetAlign(alClient);
  top->SetHeight(20);
  top->SetAlign(alTop);
  bottom->SetHeight(10);
  bottom->SetAlign(alBottom);
  left->SetWidth(30);
  left->SetAlign(alLeft);
  right->SetWidth(40);
  right->SetAlign(alRight);
  free->SetBounds(7, 8, 9, 10);

  const auto bounds = &BoundsOf;
  EXPECT_EQ(bounds(top), (std::vector<int32_t>{0, 0, 200, 20}));
  EXPECT_EQ(bounds(bottom), (std::vector<int32_t>{0, 90, 200, 100}));
  EXPECT_EQ(bounds(left), (std::vector<int32_t>{0, 20, 30, 90}));
  EXPECT_EQ(bounds(right), (std::vector<int32_t>{160, 20, 200, 90}));
  EXPECT_EQ(bounds(client), (std::vector<int32_t>{30, 20, 160, 90}));
  EXPECT_EQ(bounds(free), (std::vector<int32_t>{7, 8, 16, 18}));

  // The windows follow, and resizing the parent realigns.
  parent->HandleNeeded();
  RECT r = WindowRectIn(client->GetHandle(), parent->GetHandle());
  EXPECT_EQ(r.left, 30);
  EXPECT_EQ(r.right, 160);
  parent->SetWidth(300);
  EXPECT_EQ(bounds(right), (std::vector<int32_t>{260, 20, 300, 90}));
  EXPECT_EQ(WindowRectIn(client->GetHandle(), parent->GetHandle()).right, 260);

  // A hidden aligned control gives its room back.
  top->SetVisible(false);
  EXPECT_FALSE(IsWindowVisible(top->GetHandle()));
  EXPECT_EQ(bounds(left), (std::vector<int32_t>{0, 0, 30, 90}));
  // Negative sizes count as 0.
  free->SetBounds(0, 0, -5, -6);
  EXPECT_EQ(free->GetWidth(), 0);
  EXPECT_EQ(free->GetHeight(), 0);
}

TEST(Controls, MouseMessagesReachTheEntryPointsAndClick) {
  RegisterWindowTestClasses();
  TForeignWindow host;
  std::unique_ptr<TUiPanel> panel(TWinControl::CreateParented<TUiPanel>(host.handle));
  panel->SetBounds(0, 0, 50, 50);
  struct Sink {
    void Down(TObject*, TMouseButton b, TShiftState s, int32_t x, int32_t y) { button = b, shift = s, px = x, py = y; }
    void Clicked(TObject*) { ++clicks; }
    TMouseButton button = mbMiddle;
    TShiftState shift;
    int32_t px = -1, py = -1;
    int clicks = 0;
  } sink;
  panel->OnMouseDown = TMouseEvent::Of<&Sink::Down>(&sink);
  panel->OnClick = TNotifyEvent::Of<&Sink::Clicked>(&sink);
  HWND window = panel->GetHandle();
  SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(7, 9));
  EXPECT_EQ(sink.button, mbLeft);
  EXPECT_TRUE(sink.shift.Contains(ssShift));
  EXPECT_TRUE(sink.shift.Contains(ssLeft));
  EXPECT_EQ(sink.px, 7);
  EXPECT_EQ(sink.py, 9);
  SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(7, 9));
  EXPECT_EQ(sink.clicks, 1);
  // Released outside the control: no click.
  SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(7, 9));
  SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(70, 9));
  EXPECT_EQ(sink.clicks, 1);
  SendMessageW(window, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(1, 2));
  EXPECT_EQ(sink.button, mbRight);
}

TEST(Controls, ExceptionsStayInsideTheWindowProcedure) {
  RegisterWindowTestClasses();
  TExceptionSink sink;
  Application().OnException = TExceptionEvent::Of<&TExceptionSink::Handle>(&sink);
  TForeignWindow host;
  std::unique_ptr<TUiPanel> panel(TWinControl::CreateParented<TUiPanel>(host.handle));
  panel->SetBounds(0, 0, 50, 50);
  panel->throwOnMouseDown = true;
  const LRESULT result = SendMessageW(panel->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
  EXPECT_EQ(result, 0);
  Application().OnException = nullptr;
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0], "thrown by a handler");
  EXPECT_EQ(panel->mouseDowns, 1);
}

TEST(Controls, RepeatedCreationLeavesNoWindowsOrClasses) {
  RegisterWindowTestClasses();
  TForeignWindow host;
  const int32_t before = CountThreadWindows();
  for (int round = 0; round < 40; ++round) {
    std::unique_ptr<TUiPanel> panel(TWinControl::CreateParented<TUiPanel>(host.handle));
    panel->SetBounds(0, 0, 30, 30);
    auto* child = new TUiPanel(nullptr);
    child->SetParent(panel.get());
    child->SetBounds(1, 1, 5, 5);
    panel->HandleNeeded();
    ASSERT_TRUE(child->HandleAllocated());
    ASSERT_TRUE(WindowClassRegistered("TUiPanel"));
    EXPECT_EQ(CountThreadWindows(), before + 2);
  }
  EXPECT_EQ(CountThreadWindows(), before);
  EXPECT_FALSE(WindowClassRegistered("TUiPanel"));
}

TEST(Controls, ForeignParentDestroyedFirstLeavesAControlThatCanBeFreed) {
  RegisterWindowTestClasses();
  auto host = std::make_unique<TForeignWindow>();
  std::unique_ptr<TUiPanel> panel(TWinControl::CreateParented<TUiPanel>(host->handle));
  panel->SetBounds(0, 0, 30, 30);
  auto* child = new TUiPanel(nullptr);
  child->SetParent(panel.get());
  panel->HandleNeeded();
  host.reset();  // the host closes its frame before freeing the editor
  EXPECT_FALSE(panel->HandleAllocated());
  EXPECT_FALSE(child->HandleAllocated());
  panel.reset();
  EXPECT_FALSE(WindowClassRegistered("TUiPanel"));
}

TEST(Controls, CursorAndEnabledReachTheWindow) {
  RegisterWindowTestClasses();
  TForeignWindow host;
  std::unique_ptr<TUiPanel> panel(TWinControl::CreateParented<TUiPanel>(host.handle));
  panel->SetBounds(0, 0, 30, 30);
  HWND window = panel->GetHandle();
  panel->SetEnabled(false);
  EXPECT_FALSE(IsWindowEnabled(window));
  panel->SetEnabled(true);
  EXPECT_TRUE(IsWindowEnabled(window));
  panel->SetCursor(crHandPoint);
  EXPECT_EQ(SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
            TRUE);
  EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_HAND));
}

TEST(Controls, DragsFollowTheCapturedMouseOntoTheControlThatAccepts) {
  RegisterWindowTestClasses();
  TForeignWindow host(300, 100);
  std::unique_ptr<TUiPanel> from(TWinControl::CreateParented<TUiPanel>(host.handle));
  std::unique_ptr<TUiPanel> onto(TWinControl::CreateParented<TUiPanel>(host.handle));
  from->SetBounds(0, 0, 100, 100);
  onto->SetBounds(150, 0, 100, 100);
  struct Sink {
    void Over(TObject*, TObject* s, int32_t x, int32_t, TDragState st, bool& accept) {
      source = s;
      states.push_back(st);
      accept = x >= 50;  // only the right half takes drops
    }
    void Dropped(TObject*, TObject*, int32_t x, int32_t y) { drops.push_back({x, y}); }
    void Ended(TObject*, TObject* t, int32_t, int32_t) { targets.push_back(t); }
    TObject* source = nullptr;
    std::vector<TDragState> states;
    std::vector<std::pair<int32_t, int32_t>> drops;
    std::vector<TObject*> targets;
  } sink;
  onto->OnDragOver = TDragOverEvent::Of<&Sink::Over>(&sink);
  onto->OnDragDrop = TDragDropEvent::Of<&Sink::Dropped>(&sink);
  from->OnEndDrag = TEndDragEvent::Of<&Sink::Ended>(&sink);
  HWND window = from->GetHandle();
  auto moveTo = [&](int32_t x, int32_t y) {  // a point of `onto`, sent to the capturing window
    POINT p{x, y};
    MapWindowPoints(onto->GetHandle(), window, &p, 1);
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y)));
    return MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y));
  };
  // With a threshold, a press released where it began is a click, not a drag.
  from->BeginDrag(false, 1000);
  EXPECT_TRUE(from->Dragging());
  moveTo(60, 50);
  EXPECT_TRUE(sink.states.empty());
  SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_FALSE(from->Dragging());
  ASSERT_EQ(sink.targets.size(), 1u);
  EXPECT_EQ(sink.targets[0], nullptr);
  // Entering, moving, a refused spot, then a drop where it is taken.
  from->BeginDrag(true);
  EXPECT_EQ(GetCapture(), window);
  moveTo(20, 30);
  moveTo(70, 40);
  const LPARAM at = moveTo(80, 45);
  EXPECT_EQ(sink.source, from.get());
  EXPECT_EQ(sink.states, (std::vector<TDragState>{dsDragEnter, dsDragMove, dsDragMove}));
  SendMessageW(window, WM_LBUTTONUP, 0, at);
  EXPECT_EQ(sink.drops, (std::vector<std::pair<int32_t, int32_t>>{{80, 45}}));
  ASSERT_EQ(sink.targets.size(), 2u);
  EXPECT_EQ(sink.targets[1], onto.get());
  EXPECT_NE(GetCapture(), window);
  // Esc cancels: the target hears the drag leave and nothing is dropped.
  from->BeginDrag(true);
  moveTo(90, 10);
  SendMessageW(onto->GetHandle(), WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_FALSE(from->Dragging());
  EXPECT_EQ(sink.states.back(), dsDragLeave);
  EXPECT_EQ(sink.drops.size(), 1u);
  EXPECT_EQ(sink.targets.back(), nullptr);
}

TEST(Controls, AlignedControlsWithMarginsKeepThemFree) {
  RegisterWindowTestClasses();
  TForeignWindow host;
  std::unique_ptr<TUiPanel> parent(TWinControl::CreateParented<TUiPanel>(host.handle));
  parent->SetBounds(0, 0, 200, 100);
  auto* top = new TUiPanel(nullptr);
  auto* right = new TUiPanel(nullptr);
  auto* client = new TUiPanel(nullptr);
  for (TUiPanel* c : {top, right, client}) c->SetParent(parent.get());
  top->SetHeight(20);
  top->SetAlign(alTop);
  right->SetWidth(40);
  right->SetAlign(alRight);
  client->SetAlign(alClient);
  top->GetMargins()->SetBounds(1, 2, 3, 4);
  EXPECT_EQ(BoundsOf(top), (std::vector<int32_t>{0, 0, 200, 20}));  // margins count only with AlignWithMargins

  top->SetAlignWithMargins(true);
  right->SetAlignWithMargins(true);  // 3 on every side at creation
  EXPECT_EQ(BoundsOf(top), (std::vector<int32_t>{1, 2, 197, 22}));
  EXPECT_EQ(BoundsOf(right), (std::vector<int32_t>{157, 29, 197, 97}));
  EXPECT_EQ(BoundsOf(client), (std::vector<int32_t>{0, 26, 154, 100}));
  // A change of the margins realigns.
  right->GetMargins()->SetLeft(10);
  EXPECT_EQ(BoundsOf(client), (std::vector<int32_t>{0, 26, 147, 100}));
}

TEST(Controls, TabAndShiftTabMoveTheFocusThroughTheFormsTabStops) {
  RegisterWindowTestClasses();
  std::unique_ptr<TUiBareForm> form(TCustomForm::CreateNew<TUiBareForm>(nullptr));
  form->SetBounds(40, 40, 300, 200);
  auto make = [&](TWinControl* parent, bool tabStop) {
    auto* c = new TUiPanel(form.get());
    c->SetParent(parent);
    c->SetTabStop(tabStop);
    return c;
  };
  TUiPanel* first = make(form.get(), true);
  TUiPanel* skipped = make(form.get(), false);
  TUiPanel* box = make(form.get(), false);
  TUiPanel* nested = make(box, true);
  TUiPanel* disabled = make(form.get(), true);
  disabled->SetEnabled(false);
  (void)skipped;
  form->Show();
  EXPECT_NE(GetWindowLongW(first->GetHandle(), GWL_STYLE) & WS_TABSTOP, 0);
  EXPECT_EQ(GetWindowLongW(skipped->GetHandle(), GWL_STYLE) & WS_TABSTOP, 0);
  first->SetFocus();
  ASSERT_TRUE(first->Focused());

  auto press = [](bool shift) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    PumpUntil([] { return false; }, static_cast<int>(MachineBound(50)));
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
  };
  press(false);
  EXPECT_TRUE(nested->Focused());  // past the control that is no tab stop, into the box
  press(false);
  EXPECT_TRUE(first->Focused());   // the disabled one is passed over and the order wraps round
  press(true);
  EXPECT_TRUE(nested->Focused());
}
