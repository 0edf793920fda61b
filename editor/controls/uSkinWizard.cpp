// The skin folder list.
#include "uSkinWizard.h"

#include "detail/zel_platform_p.h"
#include "plugin/framework/TrkPluginSettings.h"
#include "uFindFiles.h"

TSkinWizard::TSkinWizard(const std::string& skinsFolder) : SkinsFolder(skinsFolder), Skins(new TStringList()) {
  Scan();
  if (Skins->Count() > 0) SelectSkin(Skins->Get(0));
}

TSkinWizard::~TSkinWizard() { delete Skins; }

void TSkinWizard::Scan() {
  Skins->Clear();
  FindFiles(SkinsFolder, *Skins);
}

void TSkinWizard::SelectSkin(const std::string& name) {
  std::string path = SkinsFolder;
  if (!path.empty() && path.back() != kPathDelimiter) path += kPathDelimiter;
  path += name + kPathDelimiter;
  if (!zel_detail::PlatformFolderExists(path)) return;
  SkinName = name;
  SkinPath = path;
}

void TSkinWizard::BuildMenu(ISkinMenu& parent) {
  Scan();
  parent.Clear();
  for (int32_t i = 0; i < Skins->Count(); ++i) parent.Add(Skins->Get(i), Skins->Get(i) == SkinName);
}
