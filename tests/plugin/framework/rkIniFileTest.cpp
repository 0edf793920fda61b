// The INI-text reader: its exact rules for comments, blanks, keys and sections, reading from a
// stream, and random text that must never break it.
#include "plugin/framework/rkIniFile.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "classlib/Streams.h"
#include "classlib/SysUtils.h"

namespace {

std::unique_ptr<rk::TIniFile> Load(const std::string& text) {
  auto ini = std::make_unique<rk::TIniFile>();
  TStringStream stream(text);
  ini->LoadFromStream(stream);
  return ini;
}

}  // namespace

TEST(IniFile, ReadsTheStateChunk) {
  const auto ini = Load("[Delay_Parameters]\r\nParameter_0=1000\r\nParameter_6=500\r\n");
  EXPECT_TRUE(ini->ValueExists("Delay_Parameters", "Parameter_6"));
  EXPECT_EQ(ini->ReadInteger("Delay_Parameters", "Parameter_6", 0), 500);
  EXPECT_EQ(ini->ReadInteger("Delay_Parameters", "Parameter_0", 0), 1000);
  EXPECT_FALSE(ini->ValueExists("Delay_Parameters", "Parameter_1"));
  EXPECT_EQ(ini->ReadInteger("Delay_Parameters", "Parameter_1", -7), -7);
  EXPECT_EQ(ini->ReadString("Other", "Parameter_0", "none"), "none");
}

TEST(IniFile, BlanksAroundTheEqualsSignBelongToKeyAndValue) {
  const auto ini = Load("[S]\nParameter_1 = 500\nParameter_2= 250\n");
  EXPECT_FALSE(ini->ValueExists("S", "Parameter_1"));
  EXPECT_TRUE(ini->ValueExists("S", "Parameter_1 "));
  EXPECT_EQ(ini->ReadString("S", "Parameter_1 ", ""), " 500");
  EXPECT_EQ(ini->ReadInteger("S", "Parameter_2", 0), 250);  // the number may follow blanks
}

TEST(IniFile, OnlyAHashInTheFirstColumnMakesAComment) {
  const auto ini = Load("[S]\n# comment\n  # note\n\nkey=value\n");
  const rk::TSection* section = ini->FindSection("S");
  ASSERT_NE(section, nullptr);
  ASSERT_EQ(section->Count(), 2);
  EXPECT_EQ(section->Pair(0).key, "");
  EXPECT_EQ(section->Pair(0).value, "# note");
  EXPECT_EQ(section->Pair(1).key, "key");
  EXPECT_EQ(section->Pair(1).value, "value");
}

TEST(IniFile, SectionNamesAndKeysAreCaseSensitive) {
  const auto ini = Load("[Delay_Parameters]\nA=1\n[delay_parameters]\nA=2\na=3\n");
  ASSERT_EQ(ini->Sections().size(), 2u);
  EXPECT_EQ(ini->ReadString("Delay_Parameters", "A", ""), "1");
  EXPECT_EQ(ini->ReadString("delay_parameters", "A", ""), "2");
  EXPECT_EQ(ini->ReadString("delay_parameters", "a", ""), "3");
  EXPECT_FALSE(ini->ValueExists("DELAY_PARAMETERS", "A"));
}

TEST(IniFile, RepeatedKeysAndSectionsMerge) {
  const auto ini = Load("[S]\nk=1\n[T]\nx=0\n[S]\nk=2\nj=5\n=a\n=b\n");
  ASSERT_EQ(ini->Sections().size(), 2u);
  const rk::TSection* s = ini->FindSection("S");
  ASSERT_EQ(s->Count(), 4);  // k, j and two pairs with an empty key
  EXPECT_EQ(ini->ReadString("S", "k", ""), "2");
  EXPECT_EQ(s->Pair(2).value, "a");
  EXPECT_EQ(s->Pair(3).value, "b");
}

TEST(IniFile, LinesOutsideASectionAreDropped) {
  const auto ini = Load("k=1\n[]\nk=2\n[S\nk=3\n");
  EXPECT_TRUE(ini->Sections().empty());
  const auto trimmed = Load("  [S]  \r\n\tk=v\t\r\n");
  EXPECT_EQ(trimmed->ReadString("S", "k", ""), "v");  // trimmed before splitting
}

TEST(IniFile, EmptyStreamGivesNoSections) {
  const auto ini = Load("");
  EXPECT_TRUE(ini->Sections().empty());
  EXPECT_FALSE(ini->ValueExists("", ""));
  EXPECT_FALSE(ini->ValueExists("Delay_Parameters", "Parameter_0"));
}

TEST(IniFile, LoadingReplacesAndReadsFromThePosition) {
  rk::TIniFile ini;
  TStringStream first("[Old]\nk=1\n");
  ini.LoadFromStream(first);
  TStringStream second("junk[New]\nk=2\n");
  second.SetPosition(4);
  ini.LoadFromStream(second);
  EXPECT_EQ(ini.FindSection("Old"), nullptr);
  EXPECT_EQ(ini.ReadString("New", "k", ""), "2");
}

TEST(IniFile, ANonNumberRaisesTheConversionError) {
  const auto ini = Load("[S]\nk=abc\nbig=99999999999\n");
  EXPECT_THROW(ini->ReadInteger("S", "k", 0), EConvertError);
  EXPECT_THROW(ini->ReadInteger("S", "big", 0), EConvertError);
}

TEST(IniFile, WriteStringRules) {
  rk::TIniFile ini;
  ini.WriteString("S", "k", "1");
  ini.WriteString("S", "k", "2");
  ini.WriteString("S", "", "x");
  ini.WriteString("S", "", "y");
  const rk::TSection* s = ini.FindSection("S");
  ASSERT_EQ(s->Count(), 3);
  EXPECT_EQ(s->Pair(0).value, "2");
}

TEST(IniFile, RandomTextNeverBreaksTheReader) {
  std::mt19937 random(107);
  const std::string alphabet = "[]=# \t\r\nabcK_0123456789\x01\xff";
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int length = std::uniform_int_distribution<int>(0, 200)(random);
    for (int i = 0; i < length; ++i)
      text += alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(random)];
    const auto ini = Load(text);
    for (const auto& section : ini->Sections()) {
      EXPECT_FALSE(section->Name().empty());
      for (int32_t i = 0; i < section->Count(); ++i) {
        const rk::TValuePair& pair = section->Pair(i);
        EXPECT_EQ(pair.key.find('='), std::string::npos);
        int32_t value = 0;
        (void)TryStrToInt(pair.value, value);
      }
    }
  }
}
