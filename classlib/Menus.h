// Menus of the window layer: menu items in a tree and the popup menu that shows them with
// TrackPopupMenu. Win32 only.
#pragma once

#ifndef _WIN32
#error "Menus.h is part of the Win32 window layer"
#endif

#include <cstdint>
#include <string>
#include <vector>

#include "Classes.h"
#include "TypInfo.h"

struct HMENU__;
typedef HMENU__* HMENU;
struct HWND__;
typedef HWND__* HWND;

class TMenu;

// One entry of a menu; its items are its submenu. A caption of "-" is a separator; "&" marks the
// access key. Items own their subitems in the tree sense (freed with them) while the component
// owner (the form, in streams) may be another.
class TMenuItem : public TComponent {
  KBL_DECLARE_CLASS(TMenuItem, TComponent)
 public:
  explicit TMenuItem(TComponent* owner);
  ~TMenuItem() override;

  const std::string& GetCaption() const { return caption_; }
  void SetCaption(const std::string& value) { caption_ = value; }
  bool GetChecked() const { return checked_; }
  void SetChecked(bool value) { checked_ = value; }
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }
  bool GetVisible() const { return visible_; }
  void SetVisible(bool value) { visible_ = value; }
  bool GetRadioItem() const { return radioItem_; }
  void SetRadioItem(bool value) { radioItem_ = value; }
  bool GetDefault() const { return default_; }
  void SetDefault(bool value) { default_ = value; }
  const std::string& GetHint() const { return hint_; }
  void SetHint(const std::string& value) { hint_ = value; }
  bool IsLine() const { return caption_ == "-"; }

  // --- The tree
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Raises EMenuError ("Menu index out of range") for a bad index.
  TMenuItem* GetItem(int32_t index) const;
  TMenuItem* operator[](int32_t index) const { return GetItem(index); }
  // Takes the item out of its former parent. Raises EMenuError ("Menu inserted twice") when it is
  // this item or one of its parents.
  void Add(TMenuItem* item);
  void Insert(int32_t index, TMenuItem* item);
  // Takes the item out without freeing it.
  void Remove(TMenuItem* item);
  void Delete(int32_t index);
  // Frees every subitem.
  void Clear();
  int32_t IndexOf(const TMenuItem* item) const;
  // The first subitem with that caption (compared as written), or nullptr.
  TMenuItem* Find(const std::string& caption) const;
  TMenuItem* GetParent() const { return parent_; }
  // The menu the tree belongs to, or nullptr.
  TMenu* GetMenu() const;

  // The command id given to the item when its menu was last built for showing (0: none, or the
  // item has subitems or was invisible then).
  uint16_t Command() const { return command_; }
  // Runs OnClick; disabled items do nothing.
  virtual void Click();

  bool HasParent() const override { return true; }
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* parent) override;
  void GetChildren(const TGetChildProc& proc, TComponent* root) override;
  void SetChildOrder(TComponent* child, int32_t order) override;

  TNotifyEvent OnClick;

 private:
  friend class TMenu;
  std::string caption_;
  std::string hint_;
  bool checked_ = false;
  bool enabled_ = true;
  bool visible_ = true;
  bool radioItem_ = false;
  bool default_ = false;
  uint16_t command_ = 0;
  TMenuItem* parent_ = nullptr;
  TMenu* menu_ = nullptr;  // set on the root item of a menu
  std::vector<TMenuItem*> items_;
};

KBL_DECLARE_EXCEPTION(EMenuError, Exception);

// A menu: the root item whose subitems are the entries.
class TMenu : public TComponent {
  KBL_DECLARE_CLASS(TMenu, TComponent)
 public:
  explicit TMenu(TComponent* owner);
  ~TMenu() override;
  TMenuItem* GetItems() const { return items_; }
  // The shown item with that command id, or nullptr.
  TMenuItem* FindItem(uint16_t command) const;
  // Clicks the item with that command id; answers false when there is none.
  bool DispatchCommand(uint16_t command);
  void GetChildren(const TGetChildProc& proc, TComponent* root) override;
  void SetChildOrder(TComponent* child, int32_t order) override;

 protected:
  // Builds a Win32 popup menu of the visible items, numbering their commands from 1.
  HMENU BuildMenu();

 private:
  TMenuItem* items_;
};

// A context menu: Popup raises OnPopup, shows the menu at a screen point and clicks the chosen
// item once the menu has closed.
class TPopupMenu : public TMenu {
  KBL_DECLARE_CLASS(TPopupMenu, TMenu)
 public:
  explicit TPopupMenu(TComponent* owner);
  ~TPopupMenu() override;

  // Shows the menu at (x, y) in screen coordinates and returns once it is closed. The menu's
  // owner window is the window of PopupComponent when that is a windowed control with a window,
  // else the thread's utility window. A menu with no visible item shows nothing.
  virtual void Popup(int32_t x, int32_t y);
  // The component the menu was opened for (set by controls before popping up).
  TComponent* GetPopupComponent() const { return popupComponent_; }
  void SetPopupComponent(TComponent* value);
  bool GetAutoPopup() const { return autoPopup_; }
  void SetAutoPopup(bool value) { autoPopup_ = value; }
  void Notification(TComponent* component, TOperation operation) override;
  // A menu of no one's counts as code of what it was opened for.
  TComponent* GetCodeOwner() const override;

  TNotifyEvent OnPopup;

 private:
  TComponent* popupComponent_ = nullptr;
  bool autoPopup_ = true;
};
