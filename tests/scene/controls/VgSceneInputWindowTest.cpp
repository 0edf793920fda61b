// Real input through the system's queue (SendInput) into scene windows on real forms under Wine
// and Xvfb, in the default style: size grips resize their form, context menus open at the
// pointer and from the menu key, and popups' modal results end their loops, in a form of their
// own and as overlays; a message popup opens at the top of its owner form.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Emulation.h"
#include "FailAfter.h"
#include "classlib/FormText.h"
#include "classlib/Forms.h"
#include "classlib/Menus.h"
#include "classlib/WindowTestUtils.h"
#include "scene/controls/vg_controls.h"
#include "scene/controls/vg_layouts.h"
#include "scene/core/vg_popup.h"
#include "scene/core/win32/vg_gdiplus.h"
#include "scene/core/win32/vg_scene.h"
#include "scene/shapes/vg_animations.h"
#include "scene/shapes/vg_effects.h"

namespace {

// Runs `tick` every 30 ms on the GUI thread, also inside modal loops (menus, PopupModal), until
// it answers true or the object goes.
class TTicker {
 public:
  explicit TTicker(std::function<bool()> tick) : tick_(std::move(tick)) {
    Current() = this;
    timer_ = SetTimer(nullptr, 0, 30, &TTicker::Tick);
  }
  ~TTicker() {
    KillTimer(nullptr, timer_);
    Current() = nullptr;
  }
  TTicker(const TTicker&) = delete;
  TTicker& operator=(const TTicker&) = delete;
  bool Done() const { return done_; }

 private:
  static TTicker*& Current() {
    static TTicker* ticker = nullptr;
    return ticker;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    TTicker* t = Current();
    if (t == nullptr || t->done_ || t->busy_) return;
    t->busy_ = true;  // a tick that sends input may pump further ticks
    t->done_ = t->tick_();
    t->busy_ = false;
  }
  std::function<bool()> tick_;
  UINT_PTR timer_ = 0;
  bool done_ = false;
  bool busy_ = false;
};

class SceneInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartGdiPlus();
    ASSERT_TRUE(GdiPlusStarted());
    vgInitObjectsUnit();
    vgInitAnimationsUnit();
    vgInitEffectsUnit();
    vgInitLayoutsUnit();
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetName("HostForm");
    form->SetBounds(60, 60, 320, 240);
    scene = new TvgScene(form);
    scene->SetName("Scene1");
    scene->SetParent(form);
    scene->SetAlign(alClient);
    root = new TvgBackground(form);
    root->SetName("Root1");
    root->GetFill()->SetStyle(vgBrushSolid);
    root->GetFill()->SetSolidColor(0xFF2B2B2Bu);
    scene->AddObject(root);
    form->Show();
    SetForegroundWindow(form->GetHandle());
    SetFocus(scene->GetHandle());
    Settle(150);
  }
  void TearDown() override {
    delete form;
    vgFreeDefaultStyle();
  }
  template <typename T>
  T* Add(float x, float y, float w, float h) {
    auto* c = new T(form);
    c->SetBounds(x, y, w, h);
    c->SetParent(root);
    c->ApplyResource();
    return c;
  }
  static void Settle(int ms = 60) {
    PumpUntil([] { return false; }, ms);
  }
  // A point of an object on the screen, through whichever scene shows it.
  static POINT ScreenOf(TvgVisualObject* v, float x, float y) {
    const TvgPoint p = v->GetScene()->LocalToScreen(v->LocalToAbsolute(vgPoint(x, y)));
    return POINT{static_cast<LONG>(p.X), static_cast<LONG>(p.Y)};
  }
  // Queues a mouse action at a screen point; it is served by the next message pumping.
  static void Mouse(POINT p, DWORD flags) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = static_cast<LONG>(p.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1));
    in.mi.dy = static_cast<LONG>(p.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1));
    in.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE | flags;
    SendInput(1, &in, sizeof(INPUT));
  }
  static void Click(POINT p) {
    Mouse(p, 0);
    Mouse(p, MOUSEEVENTF_LEFTDOWN);
    Mouse(p, MOUSEEVENTF_LEFTUP);
  }
  static void Keys(const std::vector<INPUT>& in) {
    std::vector<INPUT> copy = in;
    SendInput(static_cast<UINT>(copy.size()), copy.data(), sizeof(INPUT));
  }

  TForm* form = nullptr;
  TvgScene* scene = nullptr;
  TvgBackground* root = nullptr;
};

// --- Size grips

TEST_F(SceneInputTest, PressingAGripAndDraggingResizesTheForm) {
  struct Case {
    const char* name;
    std::function<TvgVisualObject*()> make;
  };
  const Case cases[] = {
      {"size grip", [this]() -> TvgVisualObject* { return Add<TvgSizeGrip>(200, 120, 16, 16); }},
      {"HUD size grip", [this]() -> TvgVisualObject* { return Add<TvgHudSizeGrip>(200, 120, 16, 16); }},
      {"the grip of a window's style",
       [this]() -> TvgVisualObject* {
         auto* window = Add<TvgWindow>(10, 10, 220, 150);
         auto* grip = dynamic_cast<TvgSizeGrip*>(window->FindResource("sizegrip"));
         return grip != nullptr && grip->GetVisible() ? grip : nullptr;
       }},
  };
  for (const Case& c : cases) {
    form->SetBounds(60, 60, 320, 240);
    Settle();
    TvgVisualObject* grip = c.make();
    ASSERT_NE(grip, nullptr) << c.name;
    Settle();
    const POINT at = ScreenOf(grip, 8, 8);
    Mouse(at, 0);
    Settle();
    EXPECT_EQ(scene->GetCursor(), crSizeNWSE) << c.name;
    Mouse(at, MOUSEEVENTF_LEFTDOWN);
    Settle();
    EXPECT_TRUE(scene->Engine().GetResizing()) << c.name;
    for (int step = 1; step <= 4; ++step) {
      Mouse(POINT{at.x + 10 * step, at.y + 8 * step}, 0);
      Settle(40);
    }
    Mouse(POINT{at.x + 40, at.y + 32}, MOUSEEVENTF_LEFTUP);
    Settle();
    EXPECT_FALSE(scene->Engine().GetResizing()) << c.name;
    EXPECT_EQ(form->GetWidth(), 360) << c.name;
    EXPECT_EQ(form->GetHeight(), 272) << c.name;
    EXPECT_EQ(form->GetLeft(), 60) << c.name;
    EXPECT_EQ(form->GetTop(), 60) << c.name;
    RECT r{};
    GetWindowRect(form->GetHandle(), &r);
    EXPECT_EQ(r.right - r.left, 360) << c.name;
    root->DeleteChildren();
  }
}

// --- Context menus

// Answers the popup menu that a right click or the menu key opens modally: a tick inside the
// menu's own loop records where the menu window stands and chooses an item with the keyboard.
struct TMenuAnswer {
  explicit TMenuAnswer(int pick)
      : ticker([this, pick] {
          HWND window = FindWindowW(L"#32768", nullptr);
          if (window == nullptr || !IsWindowVisible(window)) return false;
          GetWindowRect(window, &rect);
          ++seen;
          for (int i = 0; i <= pick; ++i) PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
          PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
          return true;
        }) {}
  RECT rect{};
  int seen = 0;
  TTicker ticker;
};

struct TClicks {
  void First(TObject*) { clicked.push_back("First"); }
  void Second(TObject*) { clicked.push_back("Second"); }
  std::vector<std::string> clicked;
};

TEST_F(SceneInputTest, ARightClickOpensThePopupMenuAtThePointerAndTheMenuKeyAtTheObject) {
  auto* menu = new TPopupMenu(form);
  menu->SetName("Menu1");
  TClicks clicks;
  for (const char* caption : {"First", "Second"}) {
    auto* item = new TMenuItem(form);
    item->SetCaption(caption);
    item->OnClick = std::string(caption) == "First" ? TNotifyEvent::Of<&TClicks::First>(&clicks)
                                                    : TNotifyEvent::Of<&TClicks::Second>(&clicks);
    menu->GetItems()->Add(item);
  }
  auto* panel = Add<TvgPanel>(40, 30, 120, 80);
  panel->SetName("Panel1");
  panel->SetCanFocused(true);
  panel->SetPopupMenu(menu);
  {
    TMenuAnswer answer(1);
    const POINT at = ScreenOf(panel, 30, 20);
    Mouse(at, 0);
    Mouse(at, MOUSEEVENTF_RIGHTDOWN);
    Mouse(at, MOUSEEVENTF_RIGHTUP);
    EXPECT_TRUE(PumpUntil([&] { return !clicks.clicked.empty(); }));
    EXPECT_EQ(answer.seen, 1);
    EXPECT_EQ(answer.rect.left, at.x);
    EXPECT_EQ(answer.rect.top, at.y);
    EXPECT_EQ(menu->GetPopupComponent(), panel);
  }
  ASSERT_EQ(clicks.clicked, std::vector<std::string>{"Second"});
  // The right press focused the panel: the menu key opens the menu at its centre.
  ASSERT_EQ(scene->GetFocused(), panel);
  {
    TMenuAnswer answer(0);
    Keys(KeyInputs(VK_APPS));
    EXPECT_TRUE(PumpUntil([&] { return clicks.clicked.size() == 2; }));
    const POINT centre = ScreenOf(panel, 60, 40);
    EXPECT_EQ(answer.rect.left, centre.x);
    EXPECT_EQ(answer.rect.top, centre.y);
  }
  EXPECT_EQ(clicks.clicked.back(), "First");
  // The menu streams with the form by name.
  const std::string text = ComponentToText(form);
  EXPECT_NE(text.find("PopupMenu = Menu1"), std::string::npos) << text;
  // A menu that goes is forgotten: the next right click opens nothing.
  delete menu;
  EXPECT_EQ(panel->GetPopupMenu(), nullptr);
  int menusSeen = 0;
  TTicker closer([&] {
    HWND window = FindWindowW(L"#32768", nullptr);
    if (window != nullptr && IsWindowVisible(window)) {
      ++menusSeen;
      EndMenu();
    }
    return false;
  });
  Mouse(ScreenOf(panel, 30, 20), MOUSEEVENTF_RIGHTDOWN);
  Mouse(ScreenOf(panel, 30, 20), MOUSEEVENTF_RIGHTUP);
  Settle(200);
  EXPECT_EQ(menusSeen, 0);
}

// --- Modal popups

// A popup of 120 x 60 below `target` holding a button that ends the loop on a click.
struct TModalPopup {
  TModalPopup(TComponent* owner, TvgVisualObject* target, int32_t overlayMode) {
    popup = new TvgPopup(owner);
    popup->SetBounds(0, 0, 120, 60);
    popup->SetPlacementTarget(target);
    popup->OverlayMode = overlayMode;
    target->GetParent()->AddObject(popup);
    button = new TvgButton(owner);
    button->SetBounds(10, 10, 100, 40);
    button->SetText(u"End");
    popup->AddObject(button);
  }
  // Runs PopupModal; `inside` runs on a tick once the popup is open, and a safety tick ends a
  // loop that missed its result (with 99) after three seconds.
  int32_t Run(const std::function<void()>& inside) {
    int ticks = 0;
    TTicker ticker([&] {
      ++ticks;
      if (ticks == 100) {
        if (IvgPopupForm* f = popup->GetPopupForm()) f->SetFormModalResult(99);
        popup->SetModalResult(99);
        return true;
      }
      if (ticks == 5) inside();
      return false;
    });
    return popup->PopupModal();
  }
  TvgPopup* popup;
  TvgButton* button;
};

struct TButtonAction {
  void SetResult(TObject*) { popup->SetModalResult(7); }
  void Close(TObject*) { popup->ClosePopup(); }
  TvgPopup* popup = nullptr;
};

TEST_F(SceneInputTest, ModalResultsEndThePopupsLoopInItsOwnFormAndAsAnOverlay) {
  auto* target = Add<TvgPanel>(20, 20, 100, 30);
  struct Case {
    const char* name;
    int32_t overlayMode;
    int action;  // 0: the button's ModalResult, 1: OnClick sets the popup's result, 2: OnClick closes it
    int32_t result;
  };
  const Case cases[] = {
      {"form, button's ModalResult", 0, 0, mrOk},   {"form, popup's result", 0, 1, 7},
      {"form, closed", 0, 2, mrCancel},             {"overlay, popup's result", 1, 1, 7},
      {"overlay, closed", 1, 2, mrCancel},
  };
  for (const Case& c : cases) {
    TModalPopup modal(form, target, c.overlayMode);
    TButtonAction action;
    action.popup = modal.popup;
    if (c.action == 0) modal.button->SetModalResult(mrOk);
    if (c.action == 1) modal.button->OnClick = TNotifyEvent::Of<&TButtonAction::SetResult>(&action);
    if (c.action == 2) modal.button->OnClick = TNotifyEvent::Of<&TButtonAction::Close>(&action);
    HWND popupWindow = nullptr;
    const int32_t result = modal.Run([&] {
      if (IvgPopupForm* f = modal.popup->GetPopupForm()) popupWindow = static_cast<HWND>(f->NativeWindow());
      modal.button->ApplyResource();
      Click(ScreenOf(modal.button, 50, 20));
    });
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_FALSE(modal.popup->GetIsOpen()) << c.name;
    EXPECT_EQ(c.overlayMode == 0, popupWindow != nullptr) << c.name;
    EXPECT_EQ(modal.popup->GetParent(), root) << c.name;
    Settle();
    if (popupWindow != nullptr) {
      EXPECT_FALSE(IsWindow(popupWindow)) << c.name;
    }
    delete modal.popup;
  }
  // The host form's own result is left alone by the overlay's loop.
  EXPECT_EQ(form->GetModalResult(), mrNone);
}

TEST_F(SceneInputTest, AMessagePopupWithoutTargetOpensCentredAtTheTopOfItsOwnerForm) {
  auto* message = new TvgMessagePopup(form);
  message->SetBounds(0, 0, 100, 40);
  root->AddObject(message);
  RECT shown{};
  int ticks = 0;
  int32_t result = 0;
  {
    TTicker ticker([&] {
      IvgPopupForm* f = message->GetPopupForm();
      if (f == nullptr || ++ticks < 3) return false;
      GetWindowRect(static_cast<HWND>(f->NativeWindow()), &shown);
      message->SetModalResult(mrOk);
      return true;
    });
    result = message->PopupModal();
  }
  EXPECT_EQ(result, mrOk);
  const TPoint client = form->ClientToScreen(TPoint{0, 0});
  EXPECT_EQ(shown.left, client.X + (form->GetWidth() - 100) / 2);
  EXPECT_EQ(shown.top, client.Y);
  EXPECT_EQ(shown.right - shown.left, 100);
  EXPECT_TRUE(root->GetEnabled());
}

}  // namespace

namespace {

// Releases the scene's form when an object of the scene loses the focus. Freed under that
// handler, the scene's code that took the focus away would go on in freed memory: the program
// ends.
struct TReleaseOnKillFocus {
  void Release(TObject*) {
    form->Release();
    released = true;
    if (!destroyed) return;
    std::fprintf(stderr, "FAILED: the form was freed under its scene's own code\n");
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 1);
  }
  void Destroyed(TObject*) { destroyed = true; }
  TForm* form;
  bool released = false;
  bool destroyed = false;
};

}  // namespace

// The scene's entries called directly run its form's code: a form released by a handler that
// deleting the scene's objects runs (the focused one losing the focus) stays whole until the
// deletion has returned.
TEST_F(SceneInputTest, AFormReleasedWhileItsSceneDeletesItsObjectsWaitsForTheDeletion) {
  const TFailAfter bound(MachineBound(20000), "a release as the scene deletes its objects");
  auto* focused = Add<TvgBackground>(10, 10, 120, 22);
  focused->SetCanFocused(true);
  focused->SetFocus();
  ASSERT_TRUE(focused->GetIsFocused());
  TReleaseOnKillFocus rig{form};
  form->OnDestroy = TNotifyEvent::Of<&TReleaseOnKillFocus::Destroyed>(&rig);
  focused->OnKillFocus = TNotifyEvent::Of<&TReleaseOnKillFocus::Release>(&rig);
  scene->DeleteChildren();
  EXPECT_TRUE(rig.released);
  EXPECT_TRUE(PumpUntil([&] { return rig.destroyed; }));
  if (rig.destroyed) form = nullptr;  // gone: nothing for TearDown
}
