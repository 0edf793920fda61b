// Texts, version names, the location cache and the raise snapshot of the system helpers.
#include "exceptions/report/ESysUtils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

TEST(SysUtilsText, DurationLeavesOutZeroPartsButNotSeconds) {
  EXPECT_EQ(FormatDuration(1.5), "1 day, 12 hours, 0 second");
  EXPECT_EQ(FormatDuration(0), "0 second");
  EXPECT_EQ(FormatDuration(2 + 1.0 / 24 + 2.0 / 1440 + 1.0 / 86400), "2 days, 1 hour, 2 minutes, 1 second");
  EXPECT_EQ(FormatDuration(59.0 / 86400), "59 seconds");
  // Exactly one hour must not come out as 59 minutes and 59 seconds.
  EXPECT_EQ(FormatDuration(1.0 / 24), "1 hour, 0 second");
  EXPECT_EQ(FormatDuration(-3), "0 second");
}

TEST(SysUtilsText, ControlCharactersAndPadding) {
  EXPECT_EQ(CollapseControlChars("a\r\n\tb\x01" "c"), "a b c");
  EXPECT_EQ(CollapseControlChars("\n\n"), " ");
  EXPECT_EQ(PadRight("ab", 5), "ab   ");
  EXPECT_EQ(PadRight("abcdef", 3), "abcdef");
  EXPECT_EQ(IfThenText(true, "yes", "no"), "yes");
  EXPECT_EQ(IfThenText(false, "yes", "no"), "no");
}

TEST(SysUtilsText, HtmlEncodingInItsOrder) {
  EXPECT_EQ(HTMLEncode("a  b"), "a&nbsp;&nbsp;b");
  EXPECT_EQ(HTMLEncode("<a href=\"x\">it's & more</a>"),
            "&lt;a href=&quot;x&quot;&gt;it&#039;s &amp; more&lt;/a&gt;");
  EXPECT_EQ(HTMLEncode("one\r\ntwo"), "one<br>\r\ntwo");
  // An entity already in the text is encoded once, never twice.
  EXPECT_EQ(HTMLEncode("&lt;"), "&amp;lt;");
  EXPECT_EQ(HTMLEncode("   "), "&nbsp;&nbsp; ");
}

TEST(SysUtilsText, WindowsVersionNames) {
  EXPECT_EQ(WindowsVersionName(1, 4, 0, " B ", true), "95 OSR 2");
  EXPECT_EQ(WindowsVersionName(1, 4, 0, "", true), "95");
  EXPECT_EQ(WindowsVersionName(1, 4, 10, "A", true), "98 SE");
  EXPECT_EQ(WindowsVersionName(1, 4, 10, "", true), "98");
  EXPECT_EQ(WindowsVersionName(1, 4, 90, "", true), "ME");
  EXPECT_EQ(WindowsVersionName(1, 4, 95, "", true), "4.95");
  EXPECT_EQ(WindowsVersionName(2, 4, 0, "", true), "NT 4.0");
  EXPECT_EQ(WindowsVersionName(2, 5, 0, "", false), "2000");
  EXPECT_EQ(WindowsVersionName(2, 5, 1, "", true), "XP");
  EXPECT_EQ(WindowsVersionName(2, 5, 2, "", true), "XP");
  EXPECT_EQ(WindowsVersionName(2, 5, 2, "", false), "2003");
  EXPECT_EQ(WindowsVersionName(2, 6, 0, "", true), "Vista");
  EXPECT_EQ(WindowsVersionName(2, 6, 0, "", false), "Server 2008");
  EXPECT_EQ(WindowsVersionName(2, 6, 1, "", true), "7");
  EXPECT_EQ(WindowsVersionName(2, 6, 1, "", false), "Server 2008 R2");
  EXPECT_EQ(WindowsVersionName(2, 10, 0, "", true), "10.0");
  EXPECT_EQ(ComposeWindowsName(2, 6, 1, "", true, true), "Microsoft Windows 7 (64 bit)");
  EXPECT_EQ(ComposeWindowsName(1, 4, 10, "", true, true), "Microsoft Windows 98");
}

TEST(SysUtilsText, ModuleNamesAfterAQuestionMark) {
  EXPECT_EQ(CleanModuleFileName("\\\\?\\C:\\Host\\plug.dll"), "C:\\Host\\plug.dll");
  EXPECT_EQ(CleanModuleFileName("\\??\\D:\\x.dll"), "D:\\x.dll");
  EXPECT_EQ(CleanModuleFileName("C:\\plain.dll"), "C:\\plain.dll");
}

TEST(SysUtilsCache, EleventhEntryDropsTheOldest) {
  ClearLocationCache();
  int classes[2];
  for (int i = 0; i < 11; ++i) {
    TEmberCachedLocation result;
    result.Kind = static_cast<uint8_t>(i);
    result.Value = 1000u + i;
    AddCachedLocation(&classes[0], 0x401000u + i, &classes[1], result);
  }
  EXPECT_EQ(CachedLocationCount(), EmberLocationCacheSize);
  TEmberCachedLocation found;
  EXPECT_FALSE(FindCachedLocation(&classes[0], 0x401000u, &classes[1], found));
  ASSERT_TRUE(FindCachedLocation(&classes[0], 0x401001u, &classes[1], found));
  EXPECT_EQ(found.Value, 1001u);
  ASSERT_TRUE(FindCachedLocation(&classes[0], 0x40100Au, &classes[1], found));
  EXPECT_EQ(found.Kind, 10);
  // Class and module are part of the key.
  EXPECT_FALSE(FindCachedLocation(&classes[1], 0x401005u, &classes[1], found));
  EXPECT_FALSE(FindCachedLocation(&classes[0], 0x401005u, &classes[0], found));
  ClearLocationCache();
  EXPECT_EQ(CachedLocationCount(), 0);
}

TEST(SysUtilsCache, ThreadsShareTheCacheSafely) {
  ClearLocationCache();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 500; ++i) {
        TEmberCachedLocation r;
        r.Value = static_cast<uint32_t>(t * 1000 + i);
        AddCachedLocation(nullptr, static_cast<uintptr_t>(t * 1000 + i), nullptr, r);
        TEmberCachedLocation back;
        if (FindCachedLocation(nullptr, static_cast<uintptr_t>(t * 1000 + i), nullptr, back))
          EXPECT_EQ(back.Value, static_cast<uint32_t>(t * 1000 + i));
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(CachedLocationCount(), EmberLocationCacheSize);
}

TEST(SysUtilsRaise, InfoKeepsTheLastNonZeroPair) {
  ClearRaiseSnapshot();
  int object = 0;
  SaveRaiseInfo(&object, 0x1234, true);
  SaveRaiseInfo(nullptr, 0, false);
  TEmberRaiseSnapshot s = GetRaiseSnapshot();
  EXPECT_EQ(s.Object, nullptr);
  EXPECT_EQ(s.Address, 0u);
  EXPECT_EQ(s.LastObject, &object);
  EXPECT_EQ(s.LastAddress, 0x1234u);
}

// A marker on this frame must turn up in the copy of the stack above the given pointer.
TEST(SysUtilsRaise, StackCopyHoldsTheCallersFrame) {
  ClearRaiseSnapshot();
  volatile uint32_t marker[4] = {0xC0FFEE11u, 0x5EED5EEDu, 0xC0FFEE11u, 0x5EED5EEDu};
  uintptr_t sp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) - 256;
  SaveRaiseStack(sp, 0x500010, true);
  TEmberRaiseSnapshot s = GetRaiseSnapshot();
  EXPECT_EQ(s.StackAddress, 0x50000Bu);
  ASSERT_FALSE(s.Stack.empty());
  EXPECT_LE(s.Stack.size(), EmberRaiseStackLimit);
  const uint8_t pattern[8] = {0x11, 0xEE, 0xFF, 0xC0, 0xED, 0x5E, 0xED, 0x5E};
  bool found = false;
  for (size_t i = 0; i + 8 <= s.Stack.size() && !found; ++i) found = std::memcmp(&s.Stack[i], pattern, 8) == 0;
  // Under the address sanitizer locals may sit on a separate fake stack: then only the size rule
  // can be checked.
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_TRUE(found);
#endif
  (void)marker[0];
  // A pointer outside the stack falls back to the caller's own.
  SaveRaiseStack(1, 0x600000, false);
  s = GetRaiseSnapshot();
  EXPECT_EQ(s.StackAddress, 0x600000u);
  EXPECT_FALSE(s.Stack.empty());
  EXPECT_NE(s.StackPointer, 1u);
}

TEST(SysUtilsActiveX, CarriesTheInnerClassName) {
  TActiveXException e("wrapped", nullptr, "EOleError");
  EXPECT_STREQ(e.what(), "wrapped");
  EXPECT_EQ(e.InnerClassName(), "EOleError");
}

}  // namespace
