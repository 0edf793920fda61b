// The zip writer: archives read back by python's zipfile (plain and with a password), an
// archive replacing an old one, empty and unreadable files, and the entries' dates.
#include "exceptions/report/EZipWriter.h"

#include <gtest/gtest.h>

#include <random>

#include "ArtifactCheck.h"
#include "TestFiles.h"
#include "classlib/Streams.h"

namespace {

const char* const kKind = "zip";

std::string Manifest(const std::string& zip, const std::string& password,
                     const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string text = "{\"zip\": " + artifacts::Quote(zip) + ", \"password\": " +
                     (password.empty() ? std::string("null") : artifacts::Quote(password)) + ", \"entries\": [";
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i) text += ", ";
    text += "{\"name\": " + artifacts::Quote(entries[i].first) + ", \"file\": " + artifacts::Quote(entries[i].second) + "}";
  }
  return text + "]}";
}

// Three files of different kinds in the artifacts folder.
void WriteSources() {
  std::mt19937 random(3);
  std::string noise(100000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "Line " + std::to_string(i) + ": report text\r\n";
  WriteFileBytes(artifacts::Path(kKind, "report.elf"), text);
  WriteFileBytes(artifacts::Path(kKind, "noise.bin"), noise);
  WriteFileBytes(artifacts::Path(kKind, "empty.txt"), "");
}

TEST(ZipWriter, ArchivesReadBackWithAndWithoutPassword) {
  WriteSources();
  for (std::string password : {"", "s3cret!"}) {
    std::string zip = password.empty() ? "plain.zip" : "locked.zip";
    {
      TZipWriter writer(artifacts::Path(kKind, zip), password);
      EXPECT_TRUE(writer.AddFile(artifacts::Path(kKind, "report.elf"), "demo.elf"));
      EXPECT_TRUE(writer.AddFile(artifacts::Path(kKind, "noise.bin"), "data/noise.bin"));
      EXPECT_TRUE(writer.AddFile(artifacts::Path(kKind, "empty.txt"), "empty.txt"));
      EXPECT_FALSE(writer.AddFile(artifacts::Path(kKind, "missing.png"), "Screenshot.png"));
    }
    artifacts::WriteText(kKind, zip + "check",
                         Manifest(zip, password,
                                  {{"demo.elf", "report.elf"}, {"data/noise.bin", "noise.bin"}, {"empty.txt", "empty.txt"}}));
  }
  // The text compresses; the locked archive differs from the plain one.
  std::string plain = ReadFileBytes(artifacts::Path(kKind, "plain.zip"));
  EXPECT_LT(plain.size(), 100000u + ReadFileBytes(artifacts::Path(kKind, "report.elf")).size() / 4);
  EXPECT_EQ(plain.find("report text"), std::string::npos);
  std::string output;
  EXPECT_TRUE(artifacts::RunCheck(kKind, output)) << output;
}

TEST(ZipWriter, NewArchiveReplacesAnOldOne) {
  std::string zip = artifacts::Path(kKind, "BugReport.zip");
  WriteFileBytes(zip, std::string(5000, 'x'));
  WriteFileBytes(artifacts::Path(kKind, "only.txt"), "the only entry");
  {
    TZipWriter writer(zip, "");
    EXPECT_TRUE(writer.AddFile(artifacts::Path(kKind, "only.txt"), "only.txt"));
  }
  EXPECT_LT(ReadFileBytes(zip).size(), 5000u);
  artifacts::WriteText(kKind, "BugReport.zipcheck", Manifest("BugReport.zip", "", {{"only.txt", "only.txt"}}));
  std::string output;
  EXPECT_TRUE(artifacts::RunCheck(kKind, output)) << output;
}

TEST(ZipWriter, ArchiveWithoutEntriesIsStillAnArchive) {
  TempDir dir;
  { TZipWriter writer(dir.File("none.zip"), "pw"); }
  std::string bytes = ReadFileBytes(dir.File("none.zip"));
  ASSERT_EQ(bytes.size(), 22u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("PK\x05\x06", 4));
}

TEST(ZipWriter, EntryDatesComeFromTheFilesLastWrite) {
  TempDir dir;
  std::string file = dir.File("dated.txt");
  WriteFileBytes(file, "x");
  TZipFileInfo info;
  info.Year = 99;
  GetZipFileInfo(dir.File("missing.txt"), info);
  EXPECT_EQ(info.Year, 0u);
  EXPECT_EQ(info.DosDate, 0u);
  EXPECT_EQ(FileSizeOf(dir.File("missing.txt")), 0u);
  EXPECT_EQ(FileSizeOf(file), 1u);
  GetZipFileInfo(file, info);
  EXPECT_GE(info.Year, 2020u);
  uint32_t date = info.DosDate >> 16, time = info.DosDate & 0xFFFF;
  EXPECT_EQ((date >> 9) + 1980, info.Year);
  EXPECT_EQ((date >> 5) & 15, info.Month + 1);
  EXPECT_EQ(date & 31, info.Day);
  EXPECT_EQ(time >> 11, info.Hour);
  EXPECT_EQ((time >> 5) & 63, info.Minute);
  EXPECT_EQ((time & 31) * 2, info.Second & ~1u);

  // The python check compares the stored date with the broken-down fields.
  std::string copy = artifacts::Path(kKind, "dated.txt");
  WriteFileBytes(copy, "dated");
  TZipFileInfo stamp;
  GetZipFileInfo(copy, stamp);
  { TZipWriter writer(artifacts::Path(kKind, "dated.zip"), ""); writer.AddFile(copy, "dated.txt"); }
  artifacts::WriteText(kKind, "dated.zipcheck",
                       "{\"zip\": \"dated.zip\", \"entries\": [{\"name\": \"dated.txt\", \"file\": \"dated.txt\", "
                       "\"date\": [" + std::to_string(stamp.Year) + ", " + std::to_string(stamp.Month + 1) + ", " +
                           std::to_string(stamp.Day) + ", " + std::to_string(stamp.Hour) + ", " +
                           std::to_string(stamp.Minute) + ", " + std::to_string(stamp.Second & ~1u) + "]}]}");
  std::string output;
  EXPECT_TRUE(artifacts::RunCheck(kKind, output)) << output;
}

TEST(ZipWriter, CreatingInAMissingFolderRaises) {
  TempDir dir;
  EXPECT_THROW(TZipWriter(dir.File("no/such/folder.zip"), ""), EFCreateError);
}

}  // namespace
