// Answers a popup menu that a click opens modally (the click's message returns only once the
// menu is gone): a thread timer ticking inside the menu's own message loop finds the open menu,
// records its item texts and then dismisses it or chooses an item with the keyboard.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TMenuProbe {
 public:
  // `pick`: the index of the item to choose, or -1 to dismiss every menu.
  explicit TMenuProbe(int pick = -1) : pick_(pick) {
    Current() = this;
    timer_ = SetTimer(nullptr, 0, 30, &TMenuProbe::Tick);
  }
  ~TMenuProbe() {
    KillTimer(nullptr, timer_);
    Current() = nullptr;
  }
  TMenuProbe(const TMenuProbe&) = delete;
  TMenuProbe& operator=(const TMenuProbe&) = delete;

  // The texts of the items of the last menu seen and whether each is checked, and how many
  // menus were seen.
  std::vector<std::string> items;
  std::vector<bool> checked;
  int menusSeen = 0;

 private:
  static TMenuProbe*& Current() {
    static TMenuProbe* probe = nullptr;
    return probe;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    TMenuProbe* probe = Current();
    HWND window = FindWindowW(L"#32768", nullptr);
    if (!probe) return;
    if (!window || !IsWindowVisible(window)) {
      probe->answered_ = nullptr;
      return;
    }
    if (window == probe->answered_) return;
    auto menu = reinterpret_cast<HMENU>(SendMessageW(window, MN_GETHMENU, 0, 0));
    if (!menu) return;
    probe->answered_ = window;
    ++probe->menusSeen;
    probe->items.clear();
    probe->checked.clear();
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
      char text[256] = {};
      GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
      probe->items.push_back(text);
      probe->checked.push_back((GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_CHECKED) != 0);
    }
    if (probe->pick_ < 0) {
      EndMenu();
      return;
    }
    for (int i = 0; i <= probe->pick_; ++i) PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
  }

  int pick_;
  UINT_PTR timer_ = 0;
  HWND answered_ = nullptr;
};
