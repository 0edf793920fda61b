// Menus: the item tree, the Win32 menu built from it, and items clicked through a shown popup.
// windows.h comes first: the class library undoes its A/W name macros (TypInfo.h, Canvas.h).
#include <windows.h>

#include "classlib/Menus.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "WindowTestClasses.h"
#include "WindowTestUtils.h"

namespace {

class TInspectableMenu : public TPopupMenu {
 public:
  explicit TInspectableMenu(TComponent* owner) : TPopupMenu(owner) {}
  using TMenu::BuildMenu;
};

TMenuItem* NewItem(TMenuItem* parent, const std::string& caption) {
  auto* item = new TMenuItem(nullptr);
  item->SetCaption(caption);
  parent->Add(item);
  return item;
}

struct TClickSink {
  void Clicked(TObject* sender) { clicked.push_back(sender); }
  void Popping(TObject*) { ++popups; }
  std::vector<TObject*> clicked;
  int popups = 0;
};

std::wstring MenuText(HMENU menu, UINT position) {
  wchar_t text[64] = {};
  GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
  return text;
}

}  // namespace

TEST(Menus, TreeKeepsOrderAndRefusesCycles) {
  TPopupMenu menu(nullptr);
  TMenuItem* a = NewItem(menu.GetItems(), "A");
  TMenuItem* b = NewItem(menu.GetItems(), "B");
  TMenuItem* c = NewItem(b, "C");
  EXPECT_EQ(menu.GetItems()->IndexOf(b), 1);
  EXPECT_EQ(c->GetMenu(), &menu);
  EXPECT_EQ(menu.GetItems()->Find("B"), b);
  EXPECT_EQ(menu.GetItems()->Find("Z"), nullptr);
  EXPECT_THROW(c->Add(b), EMenuError);
  EXPECT_THROW(b->Add(b), EMenuError);
  EXPECT_THROW(menu.GetItems()->GetItem(5), EMenuError);
  // Moving an item takes it out of its former parent.
  a->Add(c);
  EXPECT_EQ(b->Count(), 0);
  EXPECT_EQ(c->GetParent(), a);
  // Freeing an item frees its subitems and leaves its parent.
  delete a;
  EXPECT_EQ(menu.GetItems()->Count(), 1);
}

TEST(Menus, BuiltMenuHasSeparatorsStatesAndSubmenus) {
  TInspectableMenu menu(nullptr);
  TMenuItem* first = NewItem(menu.GetItems(), "&First");
  NewItem(menu.GetItems(), "-");
  TMenuItem* hidden = NewItem(menu.GetItems(), "Hidden");
  hidden->SetVisible(false);
  TMenuItem* grey = NewItem(menu.GetItems(), "Grey");
  grey->SetEnabled(false);
  grey->SetChecked(true);
  TMenuItem* sub = NewItem(menu.GetItems(), "Sub");
  TMenuItem* deep = NewItem(sub, "Deep");

  HMENU built = menu.BuildMenu();
  ASSERT_NE(built, nullptr);
  ASSERT_EQ(GetMenuItemCount(built), 4);  // the hidden item is left out
  EXPECT_EQ(MenuText(built, 0), L"&First");
  EXPECT_EQ(GetMenuItemID(built, 0), first->Command());
  EXPECT_NE(first->Command(), 0);
  EXPECT_TRUE(GetMenuState(built, 1, MF_BYPOSITION) & MF_SEPARATOR);
  const UINT greyState = GetMenuState(built, 2, MF_BYPOSITION);
  EXPECT_TRUE(greyState & MF_GRAYED);
  EXPECT_TRUE(greyState & MF_CHECKED);
  HMENU subMenu = GetSubMenu(built, 3);
  ASSERT_NE(subMenu, nullptr);
  EXPECT_EQ(MenuText(subMenu, 0), L"Deep");
  EXPECT_EQ(GetMenuItemID(subMenu, 0), deep->Command());
  EXPECT_EQ(hidden->Command(), 0);
  DestroyMenu(built);

  // Commands dispatch to their items; disabled items do nothing.
  TClickSink sink;
  deep->OnClick = TNotifyEvent::Of<&TClickSink::Clicked>(&sink);
  grey->OnClick = TNotifyEvent::Of<&TClickSink::Clicked>(&sink);
  EXPECT_TRUE(menu.DispatchCommand(deep->Command()));
  EXPECT_TRUE(menu.DispatchCommand(grey->Command()));
  EXPECT_FALSE(menu.DispatchCommand(999));
  ASSERT_EQ(sink.clicked.size(), 1u);
  EXPECT_EQ(sink.clicked[0], deep);
}

TEST(Menus, PopupClicksTheItemChosenInTheShownMenu) {
  RegisterWindowTestClasses();
  TForeignWindow host;
  SetForegroundWindow(host.handle);
  TPopupMenu menu(nullptr);
  TMenuItem* first = NewItem(menu.GetItems(), "First");
  TMenuItem* second = NewItem(menu.GetItems(), "Second");
  TClickSink sink;
  first->OnClick = TNotifyEvent::Of<&TClickSink::Clicked>(&sink);
  second->OnClick = TNotifyEvent::Of<&TClickSink::Clicked>(&sink);
  menu.OnPopup = TNotifyEvent::Of<&TClickSink::Popping>(&sink);

  // While the menu's own loop runs, a timer chooses the second entry with the keyboard.
  TTimer chooser(nullptr);
  struct Keys {
    void Tick(TObject*) {
      HWND shown = FindWindowW(L"#32768", nullptr);
      if (shown == nullptr) return;
      timer->SetEnabled(false);
      for (WPARAM key : {WPARAM{VK_DOWN}, WPARAM{VK_DOWN}, WPARAM{VK_RETURN}}) {
        PostMessageW(shown, WM_KEYDOWN, key, 0);
        PostMessageW(shown, WM_KEYUP, key, 0xC0000000);
      }
    }
    TTimer* timer;
  } keys{&chooser};
  chooser.SetInterval(30);
  chooser.SetOnTimer(TNotifyEvent::Of<&Keys::Tick>(&keys));
  // A safety net: the menu closes after a while even when the keys are not understood.
  TTimer safety(nullptr);
  struct Closer {
    void Tick(TObject*) { EndMenu(); }
  } closer;
  safety.SetInterval(2000);
  safety.SetOnTimer(TNotifyEvent::Of<&Closer::Tick>(&closer));

  menu.Popup(50, 50);
  safety.SetEnabled(false);
  EXPECT_EQ(sink.popups, 1);
  ASSERT_EQ(sink.clicked.size(), 1u);
  EXPECT_EQ(sink.clicked[0], second);
}

TEST(Menus, ContextMenuMessageOpensTheControlsPopupMenu) {
  RegisterWindowTestClasses();
  TForeignWindow host;
  std::unique_ptr<TUiPanel> panel(TWinControl::CreateParented<TUiPanel>(host.handle));
  panel->SetBounds(0, 0, 40, 40);
  TPopupMenu menu(nullptr);
  NewItem(menu.GetItems(), "Only");
  TClickSink sink;
  menu.OnPopup = TNotifyEvent::Of<&TClickSink::Popping>(&sink);
  panel->SetPopupMenu(&menu);
  TTimer closer(nullptr);
  struct Closer {
    void Tick(TObject*) { EndMenu(); }
  } close;
  closer.SetInterval(50);
  closer.SetOnTimer(TNotifyEvent::Of<&Closer::Tick>(&close));
  SendMessageW(panel->GetHandle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(panel->GetHandle()), MAKELPARAM(5, 5));
  EXPECT_EQ(sink.popups, 1);
  EXPECT_EQ(menu.GetPopupComponent(), panel.get());
  EXPECT_TRUE(sink.clicked.empty());
  panel.reset();
  EXPECT_EQ(menu.GetPopupComponent(), nullptr);  // freed components are forgotten
}
