// Win32 core helpers against the real system: memory regions, jump thunks, INI files, the
// registry, file dates, short names and folders.
#include "exceptions/ECore.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <ctime>

#include "TestFiles.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/EmberTexts.h"

namespace {

// Three pages: read-write, read-only, no access; released at the end.
class Pages {
 public:
  Pages() {
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, 3 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(base_ + kPage, kPage, PAGE_READONLY, &old);
    VirtualProtect(base_ + 2 * kPage, kPage, PAGE_NOACCESS, &old);
  }
  ~Pages() { VirtualFree(base_, 0, MEM_RELEASE); }
  uint8_t* At(size_t offset) const { return base_ + offset; }
  static constexpr size_t kPage = 4096;

 private:
  uint8_t* base_;
};

}  // namespace

TEST(ReadableMemory, OneRegionOnlyIsExamined) {
  Pages pages;
  EXPECT_TRUE(IsReadableMemory(pages.At(0), Pages::kPage));
  EXPECT_TRUE(IsReadableMemory(pages.At(100), Pages::kPage - 100));
  // Runs past the read-write region into the read-only one: false although both are readable.
  EXPECT_FALSE(IsReadableMemory(pages.At(Pages::kPage - 4), 8));
  EXPECT_TRUE(IsReadableMemory(pages.At(Pages::kPage), 16));
  EXPECT_FALSE(IsReadableMemory(pages.At(2 * Pages::kPage), 1));
  EXPECT_FALSE(IsReadableMemory(nullptr, 1));
  int local = 0;
  EXPECT_TRUE(IsReadableMemory(&local, sizeof local));
}

TEST(ReadableMemory, ReservedFreedAndGuardPagesAreNotReadable) {
  auto* reserved = static_cast<uint8_t*>(VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(reserved, nullptr);
  EXPECT_FALSE(IsReadableMemory(reserved, 1));
  VirtualAlloc(reserved, 4096, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD);
  EXPECT_FALSE(IsReadableMemory(reserved, 1));
  VirtualFree(reserved, 0, MEM_RELEASE);
  EXPECT_FALSE(IsReadableMemory(reserved, 1));
}

TEST(JumpThunks, IndirectJumpsAreFollowedOthersKept) {
  Pages pages;
  uint8_t* code = pages.At(0);
  const void* target = reinterpret_cast<const void*>(&GetTickCount);
  // FF 25 <slot>: jmp dword ptr [slot], slot holding the target.
  uint32_t slot = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(code + 64));
  uint32_t targetValue = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(target));
  code[0] = 0xFF;
  code[1] = 0x25;
  std::memcpy(code + 2, &slot, 4);
  std::memcpy(code + 64, &targetValue, 4);
  EXPECT_EQ(FollowJumpThunk(code), target);
  // A slot in no-access memory is not followed.
  uint32_t badSlot = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pages.At(2 * Pages::kPage)));
  std::memcpy(code + 2, &badSlot, 4);
  EXPECT_EQ(FollowJumpThunk(code), code);
  // The thunk's 8 bytes must lie in one readable region.
  std::memcpy(code + 2, &slot, 4);
  uint8_t* edge = pages.At(Pages::kPage - 4);
  std::memcpy(edge + 2, &slot, 2);
  edge[0] = 0xFF;
  edge[1] = 0x25;
  EXPECT_EQ(FollowJumpThunk(edge), edge);
  // Ordinary code stays where it is.
  const void* ordinary = reinterpret_cast<const void*>(&IsReadableMemory);
  if (static_cast<const uint8_t*>(ordinary)[0] != 0xFF) {
    EXPECT_EQ(FollowJumpThunk(ordinary), ordinary);
  }
}

TEST(Folders, IniFilesRoundTripAndFoldersAreForced) {
  TempDir dir;
  std::string deep = dir.Path() + "\\one\\two\\three";
  EXPECT_FALSE(IsDirectory(deep));
  EXPECT_TRUE(ForceFolders(deep));
  EXPECT_TRUE(IsDirectory(deep));
  SetEnvVariable("KBL_TEST_FOLDER", dir.Path());
  EXPECT_TRUE(ForceFolders("%KBL_TEST_FOLDER%\\via\\variable\\"));
  EXPECT_TRUE(IsDirectory(dir.Path() + "\\via\\variable"));
  SetEnvVariable("KBL_TEST_FOLDER", "");

  std::string ini = deep + "\\EmberLog.ini";
  EXPECT_EQ(ReadIniString(ini, "Dialog", "Left", "none"), "none");
  EXPECT_TRUE(WriteIniString(ini, "Dialog", "Left", "120"));
  std::string longValue(5000, 'x');
  EXPECT_TRUE(WriteIniString(ini, "Dialog", "Long", longValue));
  EXPECT_EQ(ReadIniString(ini, "Dialog", "Left"), "120");
  EXPECT_EQ(ReadIniString(ini, "Dialog", "Long"), longValue);
}

TEST(Folders, LibraryFolderAndApplicationName) {
  std::string library = GetLibraryFolder();
  EXPECT_GE(library.size(), 9u);
  EXPECT_EQ(library.substr(library.size() - 9), "\\EmberLog");
  std::string app = GetApplicationFileName();
  EXPECT_NE(app.find("exceptions_win32_tests"), std::string::npos) << app;
  EXPECT_FALSE(GetComputerNameText().empty());
  int32_t offset = GetUTCOffsetHours();
  EXPECT_GE(offset, -12);
  EXPECT_LE(offset, 14);
}

TEST(Files, WritabilityAndPreparedNames) {
  TempDir dir;
  std::string file = dir.File("probe.elf");
  EXPECT_FALSE(CanOpenForReading(file));
  EXPECT_TRUE(CanWriteFile(file));
  EXPECT_FALSE(CanOpenForReading(file)) << "the probe must not leave the file behind";
  EXPECT_EQ(GetFileDate(file), 0.0);

  std::time_t before = std::time(nullptr);
  HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(CanOpenForReading(file));
  // Local date-time value now, from the C library: days since 1899-12-30.
  std::tm local = *std::localtime(&before);
  std::time_t asUtc = before + (std::mktime(&local) - std::mktime(std::gmtime(&before)));
  double now = asUtc / 86400.0 + 25569.0;
  // Within a minute (file systems round their times; the clocks are read a moment apart).
  EXPECT_NEAR(GetFileDate(file), now, 60.0 / 86400.0);

  std::string name = file;
  EXPECT_TRUE(PrepareWritableFile(name, false, true));
  EXPECT_EQ(name, file);
  // A folder that cannot exist falls back to the library folder.
  std::string impossible = dir.Path() + "\\missing\\folder\\kbl-prepare-test.elf";
  name = impossible;
  EXPECT_TRUE(PrepareWritableFile(name, false, false));
  EXPECT_EQ(name, IncludeTrailingBackslash(GetLibraryFolder()) + "kbl-prepare-test.elf");
  name = impossible;
  EXPECT_TRUE(PrepareWritableFile(name, true, false));
  EXPECT_EQ(name, IncludeTrailingBackslash(GetLibraryFolder()) + "folder\\kbl-prepare-test.elf");
  RemoveDirectoryA((IncludeTrailingBackslash(GetLibraryFolder()) + "folder").c_str());
}

TEST(Files, ShortNamesExpandComponentByComponent) {
  TempDir dir;
  std::string longFolder = dir.Path() + "\\A rather long folder name";
  ASSERT_TRUE(CreateDirectoryA(longFolder.c_str(), nullptr));
  std::string longFile = longFolder + "\\Another long file name.txt";
  HANDLE h = CreateFileA(longFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  char shortName[MAX_PATH];
  DWORD got = GetShortPathNameA(longFile.c_str(), shortName, sizeof shortName);
  ASSERT_GT(got, 0u);
  std::string shortPath(shortName, got);
  if (shortPath.find('~') == std::string::npos) GTEST_SKIP() << "no 8.3 names on this volume";
  std::string expanded = ExpandShortPathName(shortPath);
  char longName[MAX_PATH];
  got = GetLongPathNameA(shortPath.c_str(), longName, sizeof longName);
  EXPECT_EQ(expanded, std::string(longName, got));
  EXPECT_NE(expanded.find("Another long file name.txt"), std::string::npos);
  EXPECT_EQ(ExpandShortPathName("C:\\NO~TILDE\\x"), "C:\\NO~TILDE\\x");
}

TEST(Registry, StringValuesAreRead) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KblExcfoundTest", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
  const char value[] = "hello registry";
  RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
  DWORD number = 5;
  RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  // Stored without its terminating zero.
  RegSetValueExA(key, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3);
  RegCloseKey(key);
  auto root = reinterpret_cast<uintptr_t>(HKEY_CURRENT_USER);
  EXPECT_EQ(ReadRegistryString(root, "\\Software\\KblExcfoundTest", "Text"), "hello registry");
  EXPECT_EQ(ReadRegistryString(root, "Software\\KblExcfoundTest", "Text"), "hello registry");
  EXPECT_EQ(ReadRegistryString(root, "Software\\KblExcfoundTest", "Bare"), "abc");
  EXPECT_EQ(ReadRegistryString(root, "Software\\KblExcfoundTest", "Number"), "");
  EXPECT_EQ(ReadRegistryString(root, "Software\\KblExcfoundTest", "Missing"), "");
  EXPECT_EQ(ReadRegistryString(root, "Software\\KblNoSuchKey", "Text"), "");
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\KblExcfoundTest");
}

TEST(LogFile, NamesFollowTheOutputPathAndTheComputerName) {
  TempDir dir;
  TEmberModuleOptions options("C:\\Apps\\Host.vshost.exe", 0);
  // A folder (created when missing) gets the module's log inside it.
  options.SetOutputPath(dir.Path() + "\\logs");
  EXPECT_EQ(GetLogFileName(options), dir.Path() + "\\logs\\Host.elf");
  EXPECT_TRUE(IsDirectory(dir.Path() + "\\logs"));
  EXPECT_EQ(GetLogFileName(options, "D:\\x\\Delay.dll"), dir.Path() + "\\logs\\Delay.elf");
  options.SetLogOptions(options.LogOptions() | 0x08);
  EXPECT_EQ(GetLogFileName(options), dir.Path() + "\\logs\\Host_" + GetComputerNameText() + ".elf");
  // A full ".elf" name, with variables, is taken as it stands.
  SetEnvVariable("KBL_TEST_LOGS", dir.Path());
  options.SetOutputPath("%KBL_TEST_LOGS%\\all.elf");
  EXPECT_EQ(GetLogFileName(options), dir.Path() + "\\all.elf");
  SetEnvVariable("KBL_TEST_LOGS", "");
  // No output path: beside the module.
  options.SetOutputPath("");
  options.SetLogOptions(0x30);
  EXPECT_EQ(GetLogFileName(options, dir.File("Plugin.dll")), dir.File("Plugin.elf"));
}
