// The text controls' context menu as the class library's popup menu: rebuilt from the items at
// each showing, so that the enabled states are current; a chosen item runs its call by caption.
#include "classlib/Menus.h"
#include "scene/widgets/vg_editmenu.h"

namespace {

// Carries the caption of one menu item to the edit menu when the item is clicked.
class TEditMenuClick : public TComponent {
 public:
  TEditMenuClick(TComponent* owner, TvgEditMenu* menu, std::string caption)
      : TComponent(owner), menu_(menu), caption_(std::move(caption)) {}
  void Click(TObject*) { menu_->ClickItem(caption_); }

 private:
  TvgEditMenu* menu_;
  std::string caption_;
};

}  // namespace

void TvgEditMenu::Popup(TComponent* popupComponent, int32_t x, int32_t y) {
  auto* menu = dynamic_cast<TPopupMenu*>(menu_);
  if (menu == nullptr) {
    menu = new TPopupMenu(this);
    menu_ = menu;
  }
  menu->GetItems()->Clear();
  for (const Item& item : items_) {
    auto* entry = new TMenuItem(menu);
    entry->SetCaption(item.caption);
    entry->SetEnabled(item.enabled);
    auto* click = new TEditMenuClick(entry, this, item.caption);
    entry->OnClick = TNotifyEvent::Of<&TEditMenuClick::Click>(click);
    menu->GetItems()->Add(entry);
  }
  menu->SetPopupComponent(popupComponent);
  menu->Popup(x, y);
}
