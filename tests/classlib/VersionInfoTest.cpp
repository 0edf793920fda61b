// The file version out of a version resource: the block linked into this test program, and
// hand-made blocks that are cut short or name another key.
#include "classlib/VersionInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A VS_VERSION_INFO block holding only its fixed file information, file version 3.1.4.15.
std::vector<uint8_t> MakeBlock(const std::u16string& key = u"VS_VERSION_INFO", uint32_t signature = 0xFEEF04BDu) {
  std::vector<uint8_t> b;
  auto word = [&b](uint32_t v) { b.push_back(static_cast<uint8_t>(v)); b.push_back(static_cast<uint8_t>(v >> 8)); };
  auto dword = [&word](uint32_t v) { word(v & 0xFFFF); word(v >> 16); };
  word(92);
  word(52);
  word(0);
  for (char16_t c : key) word(c);
  word(0);
  while (b.size() % 4) b.push_back(0);
  dword(signature);
  dword(0x10000);
  dword(3u << 16 | 1u);
  dword(4u << 16 | 15u);
  while (b.size() < 92) b.push_back(0);
  return b;
}

bool Read(const std::vector<uint8_t>& block, TFileVersion& version) {
  TMemoryStream stream;
  if (!block.empty()) stream.WriteBuffer(block.data(), static_cast<int32_t>(block.size()));
  stream.SetPosition(0);
  return ReadFileVersion(stream, version);
}

}  // namespace

TEST(VersionInfo, FixedFileInformationGivesTheFourNumbers) {
  TFileVersion version;
  ASSERT_TRUE(Read(MakeBlock(), version));
  EXPECT_EQ(version.ToString(), "3.1.4.15");
}

TEST(VersionInfo, BadBlocksLeaveTheVersionAlone) {
  std::vector<uint8_t> cut = MakeBlock();
  cut.resize(60);
  const std::vector<std::vector<uint8_t>> bad = {{}, cut, MakeBlock(u"VS_VERSION_INFX"), MakeBlock(u"VS_VERSION_INFO", 1)};
  for (const auto& block : bad) {
    TFileVersion version;
    EXPECT_FALSE(Read(block, version));
    EXPECT_EQ(version.ToString(), "0.0.0.0");
  }
}

TEST(VersionInfo, ModuleVersionResource) {
#ifdef _WIN32
  EXPECT_EQ(GetModuleFileVersion().ToString(), "2.5.7.11");  // tests/classlib/version.rc
#else
  EXPECT_EQ(GetModuleFileVersion().ToString(), "0.0.0.0");
#endif
}
