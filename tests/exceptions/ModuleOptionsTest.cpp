// Module options: defaults, Assign, change notification, the stream form and golden streams of
// the older stored versions built by hand from their layouts.
#include "exceptions/EmberModuleOptions.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "TestFiles.h"
#include "exceptions/ECore.h"

namespace {

// Options of this module that count their publications instead of publishing.
class CountingOptions : public TEmberModuleOptions {
 public:
  CountingOptions() : TEmberModuleOptions("this module", GetThisModuleHandle()) {}
  void SaveToSharedMemory() override { ++published; }
  int published = 0;
};

// Builds a stream by hand: little-endian integers, masked length-prefixed strings.
class Golden {
 public:
  Golden& B(uint8_t v) { bytes_ += static_cast<char>(v); return *this; }
  Golden& W(uint16_t v) { return B(static_cast<uint8_t>(v)).B(static_cast<uint8_t>(v >> 8)); }
  Golden& I(int32_t v) {
    for (int i = 0; i < 4; ++i) B(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    return *this;
  }
  Golden& S(const std::string& text) {
    I(static_cast<int32_t>(text.size()));
    for (char c : text) B(static_cast<uint8_t>(c ^ EmberStreamMask));
    return *this;
  }
  // Texts 0..157 as "T<i>", leaving out `missing`, with the dropped string before text 68 when
  // `extraBefore68` is set.
  Golden& Texts(const std::set<int>& missing, bool extraBefore68) {
    for (int i = 0; i < EmberTextCount; ++i) {
      if (extraBefore68 && i == 68) S("dropped");
      if (!missing.count(i)) S("T" + std::to_string(i));
    }
    return *this;
  }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

std::set<int> Range(std::set<int> set, int from, int to) {
  for (int i = from; i <= to; ++i) set.insert(i);
  return set;
}

// Texts missing from every version before 6000.
std::set<int> MissingBefore6000() {
  std::set<int> s = {2, 21, 41, 43, 83, 113};
  for (auto [a, b] : {std::pair{11, 14}, {26, 36}, {51, 60}, {105, 109}, {117, 122}, {133, 140}, {146, 157}})
    s = Range(s, a, b);
  return s;
}

std::set<int> MissingBefore500() {
  std::set<int> s = MissingBefore6000();
  for (int i : {25, 42, 131, 144, 145}) s.insert(i);
  s = Range(Range(Range(s, 72, 77), 84, 91), 98, 104);
  return s;
}

std::set<int> MissingBefore450() {
  std::set<int> s = MissingBefore500();
  for (int i : {9, 10, 15, 16, 22, 23, 24, 41, 47, 48, 68, 81}) s.insert(i);
  return Range(s, 110, 157);
}

void ExpectTexts(const TEmberModuleOptions& o, const std::set<int>& missing) {
  for (int i = 0; i < EmberTextCount; ++i) {
    if (i == 156) continue;  // may come from the freeze message
    std::string expected = missing.count(i) ? GetDefaultText(i) : "T" + std::to_string(i);
    EXPECT_EQ(o.GetCustomizedText(i), expected) << "text " << i;
  }
}

std::set<int> Bits(uint64_t set) {
  std::set<int> bits;
  for (int i = 0; i < 64; ++i)
    if ((set >> i) & 1) bits.insert(i);
  return bits;
}

std::string Save(const TEmberModuleOptions& o) {
  TStringStream s;
  o.SaveToStream(s);
  return s.DataString();
}

void Load(TEmberModuleOptions& o, const std::string& bytes, uint16_t version) {
  TStringStream s(bytes);
  o.LoadFromStream(s, version);
}

}  // namespace

// --- Defaults and setters

TEST(ModuleOptions, DefaultsAreTheDocumentedOnes) {
  TEmberModuleOptions o;
  EXPECT_EQ(o.ModuleHandle(), 0u);
  EXPECT_EQ(o.SmtpPort(), 25);
  EXPECT_EQ(o.ProxyPort(), 8080);
  EXPECT_EQ(o.TerminateAction(), 2);
  EXPECT_EQ(o.FreezeTimeout(), 60);
  EXPECT_EQ(o.ReportItems(), EmberAllReportItems);
  EXPECT_EQ(o.LogOptions(), 0x30);
  EXPECT_EQ(o.SendOptions(), 0x51);
  EXPECT_EQ(o.DialogFlags(), 399);
  EXPECT_EQ(o.CallStackOptions(), 15);
  EXPECT_EQ(o.BehaviourOptions(), 0x58);
  EXPECT_EQ(o.Reserved2(), 30);
  EXPECT_EQ(o.ReservedOptions(), 1);
  EXPECT_EQ(o.LogReportLimit(), 32);
  EXPECT_EQ(o.Activate(), 1);
  EXPECT_EQ(o.Language(), "English");
  EXPECT_FALSE(o.UserEMail().empty());
  EXPECT_NE(o.HTMLTemplate().find("<%HTML_TAG%>"), std::string::npos);
  EXPECT_EQ(o.GetCustomizedText(17), "&OK");
  EXPECT_EQ(o.GetCustomizedText(158), "");
}

TEST(ModuleOptions, LogReportLimitOfZeroIsStoredAsOne) {
  TEmberModuleOptions a, b;
  a.SetLogReportLimit(0);
  EXPECT_EQ(a.LogReportLimit(), 1);
  a.SetLogReportLimit(7);
  EXPECT_EQ(a.LogReportLimit(), 7);
  TEmberModuleOptions zero;
  zero.SetLogReportLimit(0);
  b.Assign(&zero);
  EXPECT_EQ(b.LogReportLimit(), 1);
}

TEST(ModuleOptions, ExpandedTextsUseTheOptionsOwnTexts) {
  TEmberModuleOptions o;
  SetEnvVariable("KBL_TEST_APP", "Tarvik");
  o.SetCustomizedText(3, "%KBL_TEST_APP% failed");
  EXPECT_EQ(o.GetCustomizedExpandedText(3), "Tarvik failed");
  EXPECT_EQ(GetCustomizedExpandedText(&o, 3), "Tarvik failed");
  EXPECT_EQ(GetCustomizedExpandedText(nullptr, 3), "");
  SetEnvVariable("KBL_TEST_APP", "");
}

// --- Assign

TEST(ModuleOptions, AssignCopiesAllButIdentityAndActivate) {
  TEmberModuleOptions source("", 0), target("target", 0x1234);
  source.SetSmtpHost("mail.example.org");
  source.SetReportItems(0x0000F0F0F0F0ull);
  source.SetFreezeActivate(1);
  source.SetActivate(0);
  source.SetCustomizedText(5, "Allgemein");
  source.SetLanguage("Deutsch");
  source.SetReproduceText("clicked twice");
  source.SetReserved2(7);
  source.ExceptionsFilters().Add({1, "EAbort", "", 0, 0, 0, 0});
  target.ExceptionsFilters().Add({1, "Other", "x", 1, 1, 1, 1});
  target.ExceptionsFilters().Add({1, "Other2", "x", 1, 1, 1, 1});
  target.Assign(&source);
  EXPECT_EQ(target.SmtpHost(), "mail.example.org");
  EXPECT_EQ(target.ReportItems(), 0x0000F0F0F0F0ull);
  EXPECT_EQ(target.FreezeActivate(), 1);
  EXPECT_EQ(target.GetCustomizedText(5), "Allgemein");
  EXPECT_EQ(target.Language(), "Deutsch");
  EXPECT_EQ(target.ReproduceText(), "clicked twice");
  EXPECT_EQ(target.Reserved2(), 7);
  ASSERT_EQ(target.ExceptionsFilters().Count(), 1);
  EXPECT_EQ(target.ExceptionsFilters().GetItem(0).ExceptionClassName, "EAbort");
  EXPECT_EQ(target.ModuleName(), "target");
  EXPECT_EQ(target.ModuleHandle(), 0x1234u);
  EXPECT_EQ(target.Activate(), 1);
  EXPECT_EQ(Save(target), Save(source)) << "the stream form holds no identity or Activate";
}

TEST(ModuleOptions, AssignRejectsNilAndIgnoresItself) {
  TEmberModuleOptions o;
  try {
    o.Assign(nullptr);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Impossible to assign nil as TEmberModuleOptions.");
  }
  o.SetSmtpHost("kept");
  o.Assign(&o);
  EXPECT_EQ(o.SmtpHost(), "kept");
}

// --- Change notification

TEST(ModuleOptions, EveryChangeOfThisModulesOptionsPublishesOnceUnlessHeldBack) {
  CountingOptions o;
  EXPECT_EQ(o.published, 0) << "construction publishes nothing";
  o.SetSmtpHost("a");
  EXPECT_EQ(o.published, 1);
  o.ExceptionsFilters().Add({});
  o.ExceptionsFilters().Delete(0);
  EXPECT_EQ(o.published, 3);
  o.BeginUpdate();
  o.SetSmtpPort(26);
  o.SetCustomizedText(1, "x");
  o.EndUpdate();
  EXPECT_EQ(o.published, 3);
  TEmberModuleOptions source;
  o.Assign(&source);
  EXPECT_EQ(o.published, 4) << "Assign notifies once at the end";
  Load(o, Save(source), EmberLibraryVersion);
  EXPECT_EQ(o.published, 5) << "loading notifies once at the end";
  o.SetDefaults();
  EXPECT_EQ(o.published, 6);
  // Options of another module are never published from here.
  class Other : public TEmberModuleOptions {
   public:
    Other() : TEmberModuleOptions("other", GetThisModuleHandle() + 1) {}
    void SaveToSharedMemory() override { ++published; }
    int published = 0;
  } other;
  other.SetSmtpHost("b");
  EXPECT_EQ(other.published, 0);
}

TEST(ModuleOptions, FreezeWatchFollowsActivateAndFreezeActivateOfThisModule) {
  static std::vector<bool> calls;
  calls.clear();
  SetEmberFreezeWatchControl([](bool start) { calls.push_back(start); });
  {
    TEmberModuleOptionsEx mine("mine", GetThisModuleHandle());
    mine.SetFreezeActivate(1);
    mine.SetFreezeActivate(1);  // no change, no call
    mine.SetActivate(0);
    mine.SetActivate(1);
    TEmberModuleOptionsEx foreign("foreign", GetThisModuleHandle() + 1);
    foreign.SetFreezeActivate(1);
  }
  SetEmberFreezeWatchControl(nullptr);
  EXPECT_EQ(calls, (std::vector<bool>{true, false, true}));
}

// --- Stream form

TEST(ModuleOptionsStream, DefaultAndChangedOptionsRoundTrip) {
  TEmberModuleOptions defaults;
  TEmberModuleOptions back;
  back.SetSmtpHost("changed");
  Load(back, Save(defaults), EmberLibraryVersion);
  EXPECT_EQ(Save(back), Save(defaults));
  EXPECT_EQ(back.SmtpHost(), "");

  TEmberModuleOptions o;
  o.SetUserEMail("me@example.org");
  o.SetSmtpPort(2525);
  o.SetProxyPort(3128);
  o.SetZipPassword("zip");
  o.SetReportItems(0x800000000001ull);
  o.SetBehaviourOptions(0x1FF);
  o.SetDialogFlags(0x3FF);
  o.SetSendOptions(0x3FF);
  o.SetWebPort(-1);
  o.SetLanguage("Eesti");
  o.SetCustomizedText(0, "multi\r\nline\r\n");
  o.ExceptionsFilters().Add({0, "EZeroDivide", "Div %_ExceptMsg%", 1, 3, 2, 1});
  TEmberModuleOptions copy;
  Load(copy, Save(o), EmberLibraryVersion);
  EXPECT_EQ(Save(copy), Save(o));
  EXPECT_EQ(copy.UserEMail(), "me@example.org");
  EXPECT_EQ(copy.ReportItems(), 0x800000000001ull);
  EXPECT_EQ(copy.WebPort(), -1);
  EXPECT_EQ(copy.GetCustomizedText(0), "multi\r\nline\r\n");
  EXPECT_EQ(copy.ExceptionsFilters().GetItem(0), o.ExceptionsFilters().GetItem(0));
  // Versions 600 to 602 are the same layout as 6000 to 6002.
  TEmberModuleOptions old;
  Load(old, Save(o), 601);
  EXPECT_EQ(Save(old), Save(o));
}

TEST(ModuleOptionsStream, TrailingLineBreakIsDroppedOnlyWhenItIsTheOnlyOne) {
  TEmberModuleOptions o;
  o.SetCustomizedText(0, "single line\r\n");
  o.SetCustomizedText(1, "two\r\nlines\r\n");
  o.SetCustomizedText(2, "bare\n");
  TEmberModuleOptions back;
  Load(back, Save(o), EmberLibraryVersion);
  EXPECT_EQ(back.GetCustomizedText(0), "single line");
  EXPECT_EQ(back.GetCustomizedText(1), "two\r\nlines\r\n");
  EXPECT_EQ(back.GetCustomizedText(2), "bare\n");
}

TEST(ModuleOptionsStream, HandBuiltStreamEqualsTheWrittenOne) {
  TEmberModuleOptions o;
  o.SetSmtpHost("h");
  o.SetFreezeTimeout(0x01020304);
  o.SetReportItems(0x0000AABBCCDDEEFFull & EmberAllReportItems);
  o.ExceptionsFilters().Add({1, "E", "M", 2, 3, 1, 0});
  Golden g;
  g.B(0).B(1).B(0x30).B(0).B(1).B(0).B(0).I(0x01020304);
  g.S(EmberDefaultUserEMail).S("h").W(25).S("").S("");
  g.B(2).I(32).I(3);
  g.S("").S("").B(0).B(0xFF).B(0xEE).B(0xDD).B(0xCC).B(0xBB).B(0xAA).S("").B(0);
  g.S("").S("").S("").I(0).S("");
  g.W(0x51).W(399).I(0).S("").S(EmberDefaultHTMLTemplate);
  g.B(15).W(0x58).B(30).B(2).I(10).I(1).B(1).B(2);
  g.S("").S("").S("").W(8080).S("").S("").S("").S("").S("").S("").S("");
  g.I(1).B(1).S("E").S("M").B(2).B(3).B(1).B(0);
  g.S("");
  for (int i = 0; i < EmberTextCount; ++i) g.S(GetDefaultText(i));
  g.S("English");
  EXPECT_EQ(Save(o), g.Bytes());
}

// --- Older stored versions

TEST(ModuleOptionsStream, Version500ReadsItsLayoutAndWidensReportItems) {
  for (uint8_t fill : {0x00, 0xFF}) {
    Golden g;
    g.B(1).B(0).B(0x13);           // Reserved1, FiltersActive, LogOptions
    g.B(1);                        // LogInMailBody
    g.B(0).B(3);                   // SaveLogFile, FirstDialogTab 3 (the CPU tab then)
    g.B(1).I(45).S("Frozen!").S("u@x").S("smtp.x");
    g.W(587).S("user").S("pw").B(1);
    g.B(1);                        // terminate allowed
    g.I(0).I(4).S("to@x").S("subj").B(3);
    for (int i = 0; i < 5; ++i) g.B(fill);
    g.S("C:\\logs");
    g.B(4).S("http://bugs").S("wu").S("wp").I(8081).S("a.txt");
    g.W(0x3FF).B(0xFE).I(30).S("http://support").S("<html/>").B(3).B(0xC1).B(1).I(5).I(2);
    g.I(2).S("EAbort").S("").S("EZeroDivide").S("Division");
    g.S("mail body");
    g.Texts(Range(MissingBefore6000(), 17, 18), true);

    TEmberModuleOptions o;
    Load(o, g.Bytes(), 500);
    EXPECT_EQ(o.Reserved1(), 1);
    EXPECT_EQ(o.FiltersActive(), 0);
    EXPECT_EQ(o.LogOptions(), 0x13);
    EXPECT_EQ(o.ExceptionDialogType(), 2) << "no dialog byte from 500 on";
    EXPECT_EQ(o.FirstDialogTab(), 5);
    EXPECT_EQ(o.FreezeActivate(), 1);
    EXPECT_EQ(o.FreezeTimeout(), 45);
    EXPECT_EQ(o.UserEMail(), "u@x");
    EXPECT_EQ(o.SmtpPort(), 587);
    EXPECT_EQ(o.TerminateAction(), 1);
    EXPECT_EQ(o.LogReportLimit(), 1);
    EXPECT_EQ(o.EMailSendMode(), 3);
    EXPECT_EQ(o.OutputPath(), "C:\\logs");
    EXPECT_EQ(o.WebSendMode(), 4);
    EXPECT_EQ(o.WebPort(), 8081);
    EXPECT_EQ(o.SendOptions(), 0x1FF) << "bit 0x200 is cleared before 6000";
    EXPECT_EQ(o.DialogFlags(), 0xFE) << "one byte, high byte cleared";
    EXPECT_EQ(o.BehaviourOptions(), 0xC1);
    EXPECT_EQ(o.Reserved2(), 30) << "not stored before 6000";
    EXPECT_EQ(o.ErrorRateMinutes(), 2);
    EXPECT_EQ(o.Language(), "English");
    ASSERT_EQ(o.ExceptionsFilters().Count(), 2);
    const auto& noMessage = o.ExceptionsFilters().GetItem(0);
    EXPECT_EQ(noMessage.Active, 1);
    EXPECT_EQ(noMessage.ExceptionType, 2);
    EXPECT_EQ(noMessage.DialogType, 0) << "an empty message: no dialog";
    EXPECT_EQ(noMessage.HandlerType, 0) << "and no processing";
    EXPECT_EQ(o.ExceptionsFilters().GetItem(1).DialogType, 2);
    EXPECT_EQ(o.EMailMessage(), "mail body");
    ExpectTexts(o, Range(MissingBefore6000(), 17, 18));
    EXPECT_EQ(o.GetCustomizedText(156), "Frozen!");
    if (fill == 0xFF) {
      EXPECT_EQ(o.ReportItems(), EmberAllReportItems);
    } else {
      std::set<int> expected = {5, 9, 12, 13, 14, 15, 22, 23, 24, 25, 33, 34, 35, 40, 47};
      EXPECT_EQ(Bits(o.ReportItems()), expected);
    }
  }
}

TEST(ModuleOptionsStream, Version460ReadsSendBitsAndFourReportItemBytes) {
  Golden g;
  g.B(0).B(1).B(0x30);
  g.B(0);                          // dialog off (not inverted from 450 on)
  g.B(0);                          // LogInMailBody
  g.B(1).B(0).B(1);                // send bits 0x04 on, 0x10 off, 0x01 on
  g.B(1).B(1);                     // SaveLogFile, FirstDialogTab
  g.B(0);                          // library-drawn dialogs off
  g.B(0).I(90).S("").S("me@x").S("");
  g.W(25).S("").S("").B(2);
  g.B(0);                          // terminate not allowed
  g.I(10).I(3).S("").S("").B(1);
  g.B(0).B(0).B(0).B(0);
  g.S("");
  g.I(0).S("");
  g.Texts(MissingBefore500(), true);
  TEmberModuleOptions o;
  Load(o, g.Bytes(), 460);
  EXPECT_EQ(o.ExceptionDialogType(), 0);
  EXPECT_EQ(o.SendOptions(), (0x51 | 0x04 | 0x01) & ~0x10);
  EXPECT_EQ(o.DialogFlags(), 399 & ~0x40);
  EXPECT_EQ(o.FreezeTimeout(), 90);
  EXPECT_EQ(o.TerminateAction(), 0);
  EXPECT_EQ(o.EMailSendMode(), 1);
  EXPECT_EQ(o.FirstDialogTab(), 1);
  std::set<int> expected = {4, 5, 9, 12, 13, 14, 15, 22, 23, 24, 25, 30, 31, 32, 33, 34, 35,
                            41, 42, 43, 44, 45, 46, 47};
  EXPECT_EQ(Bits(o.ReportItems()), expected);
  ExpectTexts(o, MissingBefore500());
  EXPECT_EQ(o.GetCustomizedText(156), GetDefaultText(156));
}

TEST(ModuleOptionsStream, Version410HasNoFreezeNoSmtpLoginAndAnInvertedDialogByte) {
  Golden g;
  g.B(0).B(1).B(0x30);
  g.B(1);                          // inverted before 450: 1 means no dialog
  g.B(0);
  g.B(1).B(3);                     // SaveLogFile, FirstDialogTab 3 -> 5
  g.B(1);                          // library-drawn dialogs on
  g.S("smtp.old");
  g.B(1);
  g.I(0).I(3).S("a@b").S("s").B(7);  // any send mode -> 2 with an SMTP host
  g.B(0).B(0).B(0).B(0);
  g.B(99);                         // dropped
  g.S("D:\\");
  g.I(1).S("EOld").S("msg");
  g.S("");
  g.Texts(Range(Range(MissingBefore450(), 19, 20), 19, 19), true);
  TEmberModuleOptions o;
  o.SetFreezeTimeout(77);
  Load(o, g.Bytes(), 410);
  EXPECT_EQ(o.ExceptionDialogType(), 0);
  EXPECT_EQ(o.FirstDialogTab(), 5);
  EXPECT_EQ(o.FreezeTimeout(), 77) << "fields the version lacks keep their values";
  EXPECT_EQ(o.SmtpHost(), "smtp.old");
  EXPECT_EQ(o.EMailSendMode(), 2);
  EXPECT_EQ(o.LogReportLimit(), 1);
  EXPECT_EQ(o.OutputPath(), "D:\\");
  ASSERT_EQ(o.ExceptionsFilters().Count(), 1);
  EXPECT_EQ(o.ExceptionsFilters().GetItem(0).DialogType, 2);
  ExpectTexts(o, Range(MissingBefore450(), 19, 20));
}

TEST(ModuleOptionsStream, Version420StoresTheFreezeTimeoutInMilliseconds) {
  Golden g;
  g.B(0).B(1).B(0x30).B(0).B(0).B(1).B(0).B(0);
  g.B(1).I(12345).S("").S("host");  // no UserEMail before 450
  g.B(1);                           // no SMTP login before 421
  g.I(5).I(3).S("").S("").B(0);
  g.B(0).B(0).B(0).B(0).B(0).S("");
  g.I(0).S("");
  g.Texts(Range(MissingBefore450(), 19, 19), true);
  TEmberModuleOptions o;
  Load(o, g.Bytes(), 420);
  EXPECT_EQ(o.FreezeTimeout(), 12);
  EXPECT_EQ(o.SmtpHost(), "host");
  EXPECT_EQ(o.UserEMail(), EmberDefaultUserEMail);
  ExpectTexts(o, Range(MissingBefore450(), 19, 19));
  EXPECT_EQ(o.GetCustomizedText(20), "T20");
}

// --- Damaged streams

TEST(ModuleOptionsStream, ShortStreamsFailAndKeepWhatWasRead) {
  TEmberModuleOptions source;
  source.SetReserved1(9);
  std::string bytes = Save(source);
  for (size_t cut : {size_t(0), size_t(1), size_t(20), bytes.size() / 2, bytes.size() - 1}) {
    TEmberModuleOptions o;
    EXPECT_THROW(Load(o, bytes.substr(0, cut), EmberLibraryVersion), EReadError) << cut;
    if (cut > 0) {
      EXPECT_EQ(o.Reserved1(), 9);
    }
  }
}

TEST(ModuleOptionsStream, ImpossibleLengthsAreRejectedBeforeAllocating) {
  Golden g;
  g.B(0).B(1).B(0x30).B(0).B(1).B(0).B(0).I(60).I(0x7FFFFFF0);
  TEmberModuleOptions o;
  EXPECT_THROW(Load(o, g.Bytes(), EmberLibraryVersion), EReadError);
  Golden negative;
  negative.B(0).B(1).B(0x30).B(0).B(1).B(0).B(0).I(60).I(-5);
  EXPECT_THROW(Load(o, negative.Bytes(), EmberLibraryVersion), EReadError);
}

TEST(ModuleOptionsStream, MutatedStreamsNeverCorruptMemory) {
  TEmberModuleOptions source;
  source.ExceptionsFilters().Add({1, "E", "M", 1, 1, 1, 1});
  std::string bytes = Save(source);
  std::mt19937 random(5);
  for (int round = 0; round < 300; ++round) {
    std::string mutated = bytes;
    for (int k = 0; k < 4; ++k) mutated[random() % mutated.size()] = static_cast<char>(random());
    if (random() % 3 == 0) mutated.resize(random() % mutated.size());
    static const uint16_t kVersions[] = {400, 410, 420, 421, 450, 460, 500, 601, 6000, 6024};
    TEmberModuleOptions o;
    try {
      Load(o, mutated, kVersions[random() % 10]);
    } catch (const EReadError&) {
    }
  }
  SUCCEED();
}

TEST(ModuleOptionsStream, FilesRoundTrip) {
  TempDir dir;
  TEmberModuleOptions o;
  o.SetOutputPath("X:\\y.elf");
  o.SaveToFile(dir.File("options.bin"));
  TEmberModuleOptions back;
  back.LoadFromFile(dir.File("options.bin"));
  EXPECT_EQ(back.OutputPath(), "X:\\y.elf");
  EXPECT_THROW(back.LoadFromFile(dir.File("missing.bin")), EFOpenError);
}

TEST(CurrentOptions, AreTheListedEntrysOrAnErrorNamingTheModule) {
  try {
    CurrentEmberLogOptions();
    ADD_FAILURE() << "no error without the library";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "\r\nCannot use 'CurrentEmberLogOptions' function in module \"" +
                                         GetThisModuleFileName() +
                                         "\" without activate EmberLog.\r\nTo activate EmberLog use the new IDE "
                                         "\"Project/EmberLog Options...\" menu.");
  }
  EXPECT_FALSE(GetThisModuleFileName().empty());
  static TEmberModuleOptionsEx listed("listed module", 0);
  SetEmberOwnOptionsFinder([]() -> TEmberModuleOptionsEx* { return &listed; });
  EXPECT_EQ(&CurrentEmberLogOptions(), &listed);
  SetEmberOwnOptionsFinder([]() -> TEmberModuleOptionsEx* { return nullptr; });
  EXPECT_THROW(CurrentEmberLogOptions(), Exception);
  SetEmberOwnOptionsFinder(nullptr);
}
