// Settings and folders: the product values, the module's folder, and the data folder made level
// by level in real folders, including the failures.
#include "plugin/framework/TrkPluginSettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "TestFiles.h"

namespace fs = std::filesystem;

TEST(PluginSettings, ClassDefaultsAndProductValues) {
  const TrkPluginSettings defaults;
  EXPECT_EQ(defaults.vendor, "Pellwright");
  EXPECT_EQ(defaults.version, "Version 1");
  EXPECT_EQ(defaults.parameterCount, 10);
  EXPECT_EQ(defaults.uniqueId, "Plug");
  EXPECT_TRUE(defaults.noEditor);
  EXPECT_EQ(defaults.editorWidth, 200);

  const TrkPluginSettings& s = GetSettings();
  EXPECT_EQ(&s, &GetPluginSettings());
  EXPECT_EQ(s.name, "Tarvik");
  EXPECT_EQ(s.vendor, "Pellwright");
  EXPECT_EQ(s.version, "1.0");
  EXPECT_EQ(s.parameterCount, 12);
  EXPECT_EQ(s.programCount, 12);
  EXPECT_EQ(s.category, 0);
  EXPECT_EQ(s.uniqueId, "qz37");
  EXPECT_TRUE(s.midiIn);
  EXPECT_FALSE(s.midiOut);
  EXPECT_FALSE(s.noEditor);
  EXPECT_TRUE(s.programsAreChunks);
  EXPECT_FALSE(s.synth);
  EXPECT_EQ(s.inputs, 2);
  EXPECT_EQ(s.outputs, 2);
  EXPECT_EQ(s.processMode, 0);
  EXPECT_TRUE(s.saveMidiMapOnExit);
  EXPECT_EQ(s.editorWidth, 450);
  EXPECT_EQ(s.editorHeight, 495);
  EXPECT_FALSE(s.bypassAllowed);
}

TEST(PluginSettings, DllPathIsTheFolderOfThisProgram) {
  const std::string path = GetDllPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.back(), kPathDelimiter);
  EXPECT_EQ(DllPath(), path);
  const std::string folder = path.substr(0, path.size() - 1);
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(fs::equivalent(folder, fs::current_path()));  // ctest runs us in our own folder
}

TEST(PluginSettings, BuildDataFolderCreatesEachLevel) {
  TempDir temp;
  const std::string folder = BuildDataFolder(temp.Path(), "Pellwright", "Tarvik", "1.0");
  const std::string expected = temp.Path() + kPathDelimiter + "Pellwright" + kPathDelimiter +
                               "Tarvik" + kPathDelimiter + "1.0" + kPathDelimiter;
  EXPECT_EQ(folder, expected);
  EXPECT_TRUE(fs::is_directory(temp.File("Pellwright")));
  EXPECT_TRUE(fs::is_directory(fs::path(temp.Path()) / "Pellwright" / "Tarvik" / "1.0"));
  // A second call finds the levels there; a base with a trailing delimiter gets no second one.
  EXPECT_EQ(BuildDataFolder(temp.Path() + kPathDelimiter, "Pellwright", "Tarvik", "1.0"), expected);
}

TEST(PluginSettings, ALevelThatCannotBeCreatedRaises) {
  TempDir temp;
  std::ofstream(temp.File("Pellwright")) << "a file where a folder should be";
  try {
    BuildDataFolder(temp.Path(), "Pellwright", "Tarvik", "1.0");
    FAIL() << "no exception";
  } catch (const EDataFolderError& e) {
    EXPECT_EQ(e.Message(), "Couldn't create application data folder.");
  }
}

#ifndef _WIN32
TEST(PluginSettings, UserDataFolderUnderTheConfigFolder) {
  TempDir temp;
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string savedValue = saved ? saved : "";
  setenv("XDG_CONFIG_HOME", temp.Path().c_str(), 1);
  EXPECT_EQ(GetUserDataFolder("V", "P", "1"), temp.Path() + "/V/P/1/");
  EXPECT_TRUE(fs::is_directory(temp.File("V")));

  // No application-data folder at all.
  unsetenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const std::string homeValue = home ? home : "";
  unsetenv("HOME");
  try {
    GetUserDataFolder("V", "P", "1");
    ADD_FAILURE() << "no exception";
  } catch (const EDataFolderError& e) {
    EXPECT_EQ(e.Message(), "Couldn't find application data folder.");
  }
  if (home) setenv("HOME", homeValue.c_str(), 1);
  if (saved) setenv("XDG_CONFIG_HOME", savedValue.c_str(), 1);
}

TEST(PluginSettings, AFailingDataFolderLeavesItEmptyWithItsMessage) {
  // Resolved on first use: point the lookup at a file so the first level cannot be made.
  TempDir temp;
  std::ofstream(temp.File("config")) << "not a folder";
  setenv("XDG_CONFIG_HOME", temp.File("config").c_str(), 1);
  EXPECT_EQ(DataFolder(), "");
  EXPECT_EQ(DataFolderError(), "Couldn't create application data folder.");
  unsetenv("XDG_CONFIG_HOME");
}
#else
TEST(PluginSettings, DataFolderIsBelowTheApplicationDataFolder) {
  const std::string folder = DataFolder();
  ASSERT_FALSE(folder.empty()) << DataFolderError();
  EXPECT_EQ(DataFolderError(), "");
  const std::string tail = "\\Pellwright\\Tarvik\\1.0\\";
  ASSERT_GT(folder.size(), tail.size());
  EXPECT_EQ(folder.substr(folder.size() - tail.size()), tail);
  EXPECT_TRUE(fs::is_directory(folder));
}
#endif
