// Skin folders with real folders in a temporary folder: listing, hidden folders, selection, the
// menu entries; and the free guard.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "TestFiles.h"
#include "editor/controls/uFindFiles.h"
#include "editor/controls/uSkinData.h"
#include "editor/controls/uSkinWizard.h"
#include "plugin/framework/TrkPluginSettings.h"

namespace {

struct TRecordingMenu : ISkinMenu {
  void Clear() override {
    entries.clear();
    ++clears;
  }
  void Add(const std::string& caption, bool checked) override { entries.emplace_back(caption, checked); }
  std::vector<std::pair<std::string, bool>> entries;
  int clears = 0;
};

std::string Slash(const std::string& path) { return path + kPathDelimiter; }

// A hidden folder as the platform sees it: a leading dot natively; the hidden attribute is set
// by the Windows test.
void MakeSkins(const TempDir& dir) {
  std::filesystem::create_directories(dir.File("Reliable"));
  std::filesystem::create_directories(dir.File("Bright"));
#ifndef _WIN32
  std::filesystem::create_directories(dir.File(".hidden"));
#endif
  std::FILE* f = std::fopen(dir.File("NotAFolder.png").c_str(), "wb");
  std::fclose(f);
}

TEST(ZelSkinWizard, ListsVisibleFoldersAndSelectsTheFirst) {
  TempDir dir;
  MakeSkins(dir);
  TSkinWizard wizard(Slash(dir.Path()));
  ASSERT_EQ(wizard.Skins->Count(), 2);
  std::vector<std::string> names{wizard.Skins->Get(0), wizard.Skins->Get(1)};
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Bright", "Reliable"}));
  EXPECT_EQ(wizard.SkinName, wizard.Skins->Get(0));
  EXPECT_EQ(wizard.SkinPath, Slash(dir.File(wizard.SkinName)));
}

TEST(ZelSkinWizard, SelectingAMissingSkinChangesNothing) {
  TempDir dir;
  MakeSkins(dir);
  TSkinWizard wizard(Slash(dir.Path()));
  wizard.SelectSkin("Reliable");
  EXPECT_EQ(wizard.SkinName, "Reliable");
  wizard.SelectSkin("Gone");
  wizard.SelectSkin("NotAFolder.png");
  EXPECT_EQ(wizard.SkinName, "Reliable");
  EXPECT_EQ(wizard.SkinPath, Slash(dir.File("Reliable")));
}

TEST(ZelSkinWizard, MenuHasOneEntryPerSkinWithTheCurrentOneChecked) {
  TempDir dir;
  MakeSkins(dir);
  TSkinWizard wizard(Slash(dir.Path()));
  wizard.SelectSkin("Bright");
  TRecordingMenu menu;
  menu.Add("stale", false);
  std::filesystem::create_directories(dir.File("Later"));  // found by the new scan
  wizard.BuildMenu(menu);
  EXPECT_EQ(menu.clears, 1);
  ASSERT_EQ(menu.entries.size(), 3u);
  for (size_t i = 0; i < menu.entries.size(); ++i) {
    EXPECT_EQ(menu.entries[i].first, wizard.Skins->Get(int32_t(i)));
    EXPECT_EQ(menu.entries[i].second, menu.entries[i].first == "Bright");
  }
}

TEST(ZelSkinWizard, NoSkinsFolderGivesAnEmptyList) {
  TempDir dir;
  TSkinWizard wizard(SkinsFolderOf(dir.Path()));
  EXPECT_EQ(wizard.Skins->Count(), 0);
  EXPECT_EQ(wizard.SkinName, "");
  EXPECT_EQ(wizard.SkinPath, "");
  TStringList names;
  FindFiles(Slash(dir.File("missing")), names);
  EXPECT_EQ(names.Count(), 0);
}

TEST(ZelSkinWizard, SkinsFolderLiesBelowThePluginFolder) {
  const std::string d(1, kPathDelimiter);
  EXPECT_EQ(SkinsFolderOf("C:" + d + "Plugins"), "C:" + d + "Plugins" + d + "Tarvik Data" + d + "Skins" + d);
  EXPECT_EQ(SkinsFolderOf("C:" + d + "Plugins" + d), "C:" + d + "Plugins" + d + "Tarvik Data" + d + "Skins" + d);
}

}  // namespace
