// The text controls' context menu items.
#include "vg_editmenu.h"

KBL_PUBLISHED(TvgEditMenu) {}

TvgEditMenu::TvgEditMenu(TComponent* owner) : TComponent(owner) {}

TvgEditMenu::~TvgEditMenu() = default;  // the class library's menu goes with the owned components

void TvgEditMenu::AddItem(const std::string& caption, std::function<void()> onClick) {
  items_.push_back(Item{caption, true, std::move(onClick)});
}

const TvgEditMenu::Item* TvgEditMenu::Find(const std::string& caption) const {
  for (const Item& item : items_)
    if (item.caption == caption) return &item;
  return nullptr;
}

void TvgEditMenu::SetItemEnabled(const std::string& caption, bool enabled) {
  if (const Item* item = Find(caption)) const_cast<Item*>(item)->enabled = enabled;
}

bool TvgEditMenu::GetItemEnabled(const std::string& caption) const {
  const Item* item = Find(caption);
  return item != nullptr && item->enabled;
}

bool TvgEditMenu::ClickItem(const std::string& caption) {
  const Item* item = Find(caption);
  if (item == nullptr || !item->enabled || !item->onClick) return false;
  // The call may change the items; run a copy.
  std::function<void()> call = item->onClick;
  call();
  return true;
}

std::vector<std::string> TvgEditMenu::Captions() const {
  std::vector<std::string> captions;
  for (const Item& item : items_) captions.push_back(item.caption);
  return captions;
}
