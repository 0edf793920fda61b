// TSkinWizard: the list of skin folders for the editor's (hidden) skin menu. GUI thread.
#pragma once

#include <memory>
#include <string>

#include "classlib/Classes.h"

// What the skin menu needs of a menu item: its entries can be removed and added. The editor
// adapts its class-library menu item to it.
class ISkinMenu {
 public:
  virtual void Clear() = 0;
  // A new entry with the caption, checked or not, without a click action.
  virtual void Add(const std::string& caption, bool checked) = 0;

 protected:
  ~ISkinMenu() = default;
};

class TSkinWizard : public TObject {
 public:
  // Stores the folder, scans it and selects the first skin found.
  explicit TSkinWizard(const std::string& skinsFolder);
  ~TSkinWizard() override;
  TSkinWizard(const TSkinWizard&) = delete;
  TSkinWizard& operator=(const TSkinWizard&) = delete;

  // Lists the skins folder's visible sub-folders into Skins (emptied first).
  void Scan();
  // Selects the skin when its folder exists; otherwise nothing changes.
  void SelectSkin(const std::string& name);
  // Scans again and rebuilds the menu: one entry per skin in list order, the current one
  // checked.
  void BuildMenu(ISkinMenu& parent);

  std::string SkinsFolder;
  std::string SkinName;  // empty at first
  std::string SkinPath;  // empty at first; ends with a path delimiter
  TStringList* Skins;    // owned
};
