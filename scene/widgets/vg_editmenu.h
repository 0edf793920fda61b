// The context menu of the text controls: items with captions that call back into the control,
// shown as the class library's popup menu on Windows; elsewhere the items are kept only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "classlib/Classes.h"

class TvgEditMenu : public TComponent {
  KBL_DECLARE_CLASS(TvgEditMenu, TComponent)
 public:
  explicit TvgEditMenu(TComponent* owner);
  ~TvgEditMenu() override;

  // Appends an enabled item that calls `onClick` when chosen.
  void AddItem(const std::string& caption, std::function<void()> onClick);
  // The item of that caption; an unknown caption changes nothing, reads false and clicks nothing.
  void SetItemEnabled(const std::string& caption, bool enabled);
  bool GetItemEnabled(const std::string& caption) const;
  // Runs the item's call when it is enabled; answers whether it ran.
  bool ClickItem(const std::string& caption);
  std::vector<std::string> Captions() const;

  // Shows the menu at a screen point for `popupComponent` and returns once it has closed (the
  // chosen item has run by then). Nothing outside Windows.
  void Popup(TComponent* popupComponent, int32_t x, int32_t y);
  // The class library's popup menu behind it (Windows, after the first showing), else nullptr.
  TComponent* GetMenu() const { return menu_; }

 private:
  struct Item {
    std::string caption;
    bool enabled = true;
    std::function<void()> onClick;
  };
  const Item* Find(const std::string& caption) const;
  std::vector<Item> items_;
  TComponent* menu_ = nullptr;  // owned as a component
};
