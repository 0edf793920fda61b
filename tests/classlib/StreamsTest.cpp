// Memory and file streams: positions, growth, short reads, share modes and whole-file helpers.
#include "classlib/Streams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "TestFiles.h"

TEST(MemoryStream, WritesGrowReadsStopAtTheEnd) {
  TMemoryStream stream;
  for (int i = 0; i < 10000; ++i) stream.WriteBuffer(&i, sizeof i);
  EXPECT_EQ(stream.GetSize(), 40000);
  stream.SetPosition(39996);
  int last = 0;
  stream.ReadBuffer(&last, sizeof last);
  EXPECT_EQ(last, 9999);
  char byte;
  EXPECT_EQ(stream.Read(&byte, 1), 0);
  EXPECT_THROW(stream.ReadBuffer(&byte, 1), EReadError);
}

TEST(MemoryStream, WritingPastTheEndZeroFillsTheGap) {
  TMemoryStream stream;
  stream.SetPosition(4);
  stream.WriteBuffer("x", 1);
  ASSERT_EQ(stream.GetSize(), 5);
  EXPECT_EQ(std::memcmp(stream.Memory(), "\0\0\0\0x", 5), 0);
  stream.SetSize(2);
  EXPECT_EQ(stream.GetPosition(), 2);
  stream.Seek(-10, soCurrent);
  EXPECT_EQ(stream.GetPosition(), 0);
}

TEST(MemoryStream, CopyFromTakesTheWholeSourceWhenCountIsZero) {
  TStringStream source("hello world");
  source.SetPosition(5);
  TMemoryStream target;
  EXPECT_EQ(target.CopyFrom(source, 0), 11);
  TStringStream back;
  target.SaveToStream(back);
  EXPECT_EQ(back.DataString(), "hello world");
  source.SetPosition(8);
  EXPECT_THROW(target.CopyFrom(source, 5), EReadError);
}

TEST(FileStream, RoundTripAndErrorsNameTheFile) {
  TempDir dir;
  std::string path = dir.File("data.bin");
  WriteFileBytes(path, std::string("abc\0def", 7));
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(ReadFileBytes(path), std::string("abc\0def", 7));
  {
    TFileStream file(path, fmOpenReadWrite);
    file.SetSize(3);
    file.SetPosition(3);
    file.WriteBuffer("!", 1);
  }
  EXPECT_EQ(ReadFileBytes(path), "abc!");

  std::string missing = dir.File("missing.bin");
  try {
    TFileStream file(missing, fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_NE(e.Message().find(missing), std::string::npos);
  }
  EXPECT_FALSE(FileExists(missing));
  EXPECT_THROW(TFileStream(dir.File("no/such/dir.bin"), fmCreate), EFCreateError);
}

TEST(FileStream, RenameReplacesAnExistingTarget) {
  TempDir dir;
  WriteFileBytes(dir.File("a"), "new");
  WriteFileBytes(dir.File("b"), "old");
  ASSERT_TRUE(RenameFileReplacing(dir.File("a"), dir.File("b")));
  EXPECT_EQ(ReadFileBytes(dir.File("b")), "new");
  EXPECT_FALSE(FileExists(dir.File("a")));
  EXPECT_TRUE(RemoveFile(dir.File("b")));
  EXPECT_FALSE(RemoveFile(dir.File("b")));
}

#ifdef _WIN32
TEST(FileStream, ShareModesAreEnforced) {
  TempDir dir;
  std::string path = dir.File("locked.bin");
  WriteFileBytes(path, "x");
  {
    TFileStream exclusive(path, fmOpenRead | fmShareExclusive);
    EXPECT_THROW(TFileStream(path, fmOpenRead | fmShareDenyNone), EFOpenError);
  }
  TFileStream denyWrite(path, fmOpenRead | fmShareDenyWrite);
  TFileStream reader(path, fmOpenRead | fmShareDenyWrite);
  EXPECT_THROW(TFileStream(path, fmOpenReadWrite | fmShareDenyNone), EFOpenError);
}
#endif
