// Menu items, menus and the popup menu shown with TrackPopupMenuEx.
#include <windows.h>

#include "../Menus.h"

#include <algorithm>

#include "../Controls.h"
#include "Windowing_p.h"

// --- TMenuItem

KBL_PUBLISHED(TMenuItem) {
  KBL_PROP(Caption);
  KBL_PROP(Checked).Default(false);
  KBL_PROP(Default).Default(false);
  KBL_PROP(Enabled).Default(true);
  KBL_PROP(Hint);
  KBL_PROP(RadioItem).Default(false);
  KBL_PROP(Visible).Default(true);
  p.Property("OnClick", &TMenuItem::OnClick, &TMenuItem::OnClick);
}

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner) {}

TMenuItem::~TMenuItem() {
  Destroying();
  // Subitems go with their item, whoever owns them.
  while (!items_.empty()) {
    TMenuItem* item = items_.back();
    Remove(item);
    delete item;
  }
  if (parent_ != nullptr) parent_->Remove(this);
}

TMenuItem* TMenuItem::GetItem(int32_t index) const {
  if (index < 0 || index >= Count()) throw EMenuError("Menu index out of range");
  return items_[static_cast<size_t>(index)];
}

void TMenuItem::Add(TMenuItem* item) { Insert(Count(), item); }

void TMenuItem::Insert(int32_t index, TMenuItem* item) {
  if (item == nullptr) return;
  for (const TMenuItem* p = this; p != nullptr; p = p->parent_)
    if (p == item) throw EMenuError("Menu inserted twice");
  if (index < 0 || index > Count()) throw EMenuError("Menu index out of range");
  if (item->parent_ != nullptr) {
    TMenuItem* former = item->parent_;
    const int32_t at = former->IndexOf(item);
    former->Remove(item);
    if (former == this && at < index) --index;
  }
  items_.insert(items_.begin() + index, item);
  item->parent_ = this;
}

void TMenuItem::Remove(TMenuItem* item) {
  auto found = std::find(items_.begin(), items_.end(), item);
  if (found == items_.end()) return;
  items_.erase(found);
  item->parent_ = nullptr;
}

void TMenuItem::Delete(int32_t index) { Remove(GetItem(index)); }

void TMenuItem::Clear() {
  while (!items_.empty()) {
    TMenuItem* item = items_.back();
    Remove(item);
    delete item;
  }
}

int32_t TMenuItem::IndexOf(const TMenuItem* item) const {
  auto found = std::find(items_.begin(), items_.end(), item);
  return found == items_.end() ? -1 : static_cast<int32_t>(found - items_.begin());
}

TMenuItem* TMenuItem::Find(const std::string& caption) const {
  for (TMenuItem* item : items_)
    if (item->caption_ == caption) return item;
  return nullptr;
}

TMenu* TMenuItem::GetMenu() const {
  const TMenuItem* root = this;
  while (root->parent_ != nullptr) root = root->parent_;
  return root->menu_;
}

void TMenuItem::Click() {
  if (!enabled_) return;
  OnClick(this);
}

TComponent* TMenuItem::GetParentComponent() const {
  if (parent_ != nullptr && parent_->menu_ != nullptr) return parent_->menu_;
  return parent_;
}

void TMenuItem::SetParentComponent(TComponent* parent) {
  if (auto* menu = dynamic_cast<TMenu*>(parent)) menu->GetItems()->Add(this);
  else if (auto* item = dynamic_cast<TMenuItem*>(parent)) item->Add(this);
}

void TMenuItem::GetChildren(const TGetChildProc& proc, TComponent* root) {
  for (TMenuItem* item : std::vector<TMenuItem*>(items_))
    if (item->GetOwner() == root) proc(item);
}

void TMenuItem::SetChildOrder(TComponent* child, int32_t order) {
  auto* item = dynamic_cast<TMenuItem*>(child);
  if (item == nullptr || item->parent_ != this) return;
  Remove(item);
  Insert(std::clamp<int32_t>(order, 0, Count()), item);
}

// --- TMenu

KBL_PUBLISHED(TMenu) {}

TMenu::TMenu(TComponent* owner) : TComponent(owner), items_(new TMenuItem(nullptr)) { items_->menu_ = this; }

TMenu::~TMenu() {
  Destroying();
  delete items_;
}

TMenuItem* TMenu::FindItem(uint16_t command) const {
  if (command == 0) return nullptr;
  std::vector<TMenuItem*> stack{items_};
  while (!stack.empty()) {
    TMenuItem* item = stack.back();
    stack.pop_back();
    if (item->command_ == command) return item;
    for (TMenuItem* child : item->items_) stack.push_back(child);
  }
  return nullptr;
}

// Never inlined: the item's frame stands in a function of its own, below Popup's (the walk of
// the frames reads them in either order, but the order on the stack stays the calls' order).
[[gnu::noinline]] bool TMenu::DispatchCommand(uint16_t command) {
  TMenuItem* item = FindItem(command);
  if (item == nullptr) return false;
  const TComponentFrame frame(item);
  item->Click();
  return true;
}

void TMenu::GetChildren(const TGetChildProc& proc, TComponent* root) { items_->GetChildren(proc, root); }

void TMenu::SetChildOrder(TComponent* child, int32_t order) { items_->SetChildOrder(child, order); }

HMENU TMenu::BuildMenu() {
  uint16_t next = 1;
  // Depth-first with an explicit list of (menu, item) pairs keeps deep trees off the call stack.
  struct Pending {
    HMENU menu;
    TMenuItem* parent;
  };
  HMENU root = CreatePopupMenu();
  if (root == nullptr) throw EMenuError("Cannot create a menu");
  std::vector<Pending> pending{{root, items_}};
  std::vector<TMenuItem*> all{items_};
  for (size_t i = 0; i < all.size(); ++i)
    for (TMenuItem* child : all[i]->items_) all.push_back(child);
  for (TMenuItem* item : all) item->command_ = 0;
  while (!pending.empty()) {
    Pending current = pending.back();
    pending.pop_back();
    UINT position = 0;
    for (TMenuItem* item : current.parent->items_) {
      if (!item->visible_) continue;
      std::wstring caption = kbl_win::ToWide(item->caption_);
      MENUITEMINFOW info{};
      info.cbSize = sizeof(info);
      info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING;
      if (item->IsLine()) {
        info.fMask = MIIM_FTYPE;
        info.fType = MFT_SEPARATOR;
      } else {
        info.fType = item->radioItem_ ? MFT_RADIOCHECK : 0;
        info.fState = (item->checked_ ? MFS_CHECKED : 0) | (item->enabled_ ? 0 : MFS_GRAYED) |
                      (item->default_ ? MFS_DEFAULT : 0);
        info.dwTypeData = caption.data();
        if (!item->items_.empty()) {
          HMENU sub = CreatePopupMenu();
          info.fMask |= MIIM_SUBMENU;
          info.hSubMenu = sub;
          pending.push_back({sub, item});
        } else {
          item->command_ = next++;
          info.wID = item->command_;
        }
      }
      InsertMenuItemW(current.menu, position++, TRUE, &info);
    }
  }
  return root;
}

// --- TPopupMenu

KBL_PUBLISHED(TPopupMenu) {
  KBL_PROP(AutoPopup).Default(true);
  p.Property("OnPopup", &TPopupMenu::OnPopup, &TPopupMenu::OnPopup);
}

TPopupMenu::TPopupMenu(TComponent* owner) : TMenu(owner) {}

TPopupMenu::~TPopupMenu() { SetPopupComponent(nullptr); }

void TPopupMenu::SetPopupComponent(TComponent* value) {
  if (popupComponent_ == value) return;
  if (popupComponent_ != nullptr) popupComponent_->RemoveFreeNotification(this);
  popupComponent_ = value;
  if (value != nullptr) value->FreeNotification(this);
}

void TPopupMenu::Notification(TComponent* component, TOperation operation) {
  TMenu::Notification(component, operation);
  if (operation == opRemove && component == popupComponent_) popupComponent_ = nullptr;
}

TComponent* TPopupMenu::GetCodeOwner() const { return popupComponent_; }

void TPopupMenu::Popup(int32_t x, int32_t y) {
  // The menu's loop, and the item clicked after it, are code of the menu (GetCodeOwner): a form
  // released meanwhile waits for them.
  const TComponentFrame frame(this);
  OnPopup(this);
  HMENU menu = BuildMenu();
  if (GetMenuItemCount(menu) <= 0) {
    DestroyMenu(menu);
    return;
  }
  HWND owner = nullptr;
  bool utility = false;
  if (auto* control = dynamic_cast<TWinControl*>(popupComponent_); control != nullptr && control->HandleAllocated())
    owner = control->GetHandle();
  if (owner == nullptr) {
    owner = kbl_win::AcquireUtilityWindow();
    utility = true;
  }
  // The choice comes back as the result: the item is clicked after the menu is gone, without a
  // WM_COMMAND travelling through a window that might not be ours.
  const UINT command = static_cast<UINT>(TrackPopupMenuEx(
      menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_NONOTIFY, x, y, owner, nullptr));
  DestroyMenu(menu);
  if (utility) kbl_win::ReleaseUtilityWindow();
  if (command != 0) DispatchCommand(static_cast<uint16_t>(command));
}
