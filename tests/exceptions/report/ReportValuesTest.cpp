// The report values that come from kept facts and the formatting rules of the system values.
#include "exceptions/report/EReportValues.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "classlib/SysUtils.h"
#include "exceptions/report/ESysUtils.h"

namespace {

TEST(ReportValuesException, MessagesAndTypeNames) {
  EConvertError e("'x' is not a valid integer value");
  EXPECT_EQ(GetExceptionMessage(&e), "'x' is not a valid integer value.");
  EXPECT_EQ(GetLastExceptionMessage(), "'x' is not a valid integer value.");
  std::runtime_error done("done.");
  EXPECT_EQ(GetExceptionMessage(&done), "done.");
  int notAnObject[4] = {};
  EXPECT_EQ(GetExceptionMessage(notAnObject), "Unknown error message.");
  EXPECT_EQ(GetExceptionMessage(nullptr), "Unknown error message.");
  EXPECT_EQ(GetExceptionTypeName(&e), "EConvertError");
  EXPECT_EQ(GetExceptionTypeName(notAnObject), "Unknown exception type");
  EXPECT_EQ(GetLastExceptionTypeName(), "Unknown exception type");
  TActiveXException wrapped("failed", nullptr, "EOleSysError");
  EXPECT_EQ(GetExceptionTypeName(&wrapped), "EOleSysError");
}

TEST(ReportValuesFacts, TimesAddressAndControl) {
  TEmberReportFacts& facts = ReportFacts();
  TDateTime start;
  ASSERT_TRUE(TryEncodeDate(2024, 3, 1, start));
  facts.StartTime = start;
  facts.ExceptionTime = start + 1.5;
  facts.ExceptionAddress = 0x1000ABCD;
  facts.ControlText = "line1\r\nline2";
  EXPECT_EQ(GetUpTime(), "1 day, 12 hours, 0 second");
  EXPECT_EQ(GetExceptionAddressText(), "1000ABCD");
  EXPECT_EQ(GetControlText(), "line1 line2");
  EXPECT_EQ(GetStartDate().substr(0, 25), "Fri, 1 Mar 2024 00:00:00 ");
  facts.ExceptionAddress = 0;
  EXPECT_EQ(GetExceptionAddressText(), "");
  facts = TEmberReportFacts();
}

TEST(ReportValuesText, CommandLines) {
  EXPECT_EQ(ExtractCommandLineParameters("\"C:\\Program Files\\Host\\host.exe\" /safe",
                                         "C:\\Program Files\\Host\\host.exe"), "/safe");
  EXPECT_EQ(ExtractCommandLineParameters("  C:\\host.exe   -a  -b  ", "C:\\host.exe"), "-a  -b");
  EXPECT_EQ(ExtractCommandLineParameters("\"C:\\host.exe\"", "C:\\host.exe"), "");
  EXPECT_EQ(ExtractCommandLineParameters("host -x", "C:\\host.exe"), "-x");
  EXPECT_EQ(ReplaceControlChars("a\tb\r\nc\x01"), "a b\r\nc ");
}

TEST(ReportValuesText, VersionsAndModuleTexts) {
  EXPECT_EQ(ComposeModuleVersionText("C:\\Host\\kbl.dll", ""), "kbl.dll");
  EXPECT_EQ(ComposeModuleVersionText("C:\\Host\\kbl.dll", "KBL Delay"), "kbl.dll - (KBL Delay)");
  EXPECT_EQ(FormatVersionNumbers(0x00010002, 0x00030004), "1.2.3.4");
  EXPECT_EQ(FormatVersionNumbers(0, 0), "");
  EXPECT_EQ(FormatVersionNumbers(0xFFFF0000, 0), "65535.0.0.0");
  TDateTime build;
  ASSERT_TRUE(TryEncodeDate(2024, 6, 1, build));
  EXPECT_EQ(ComposeCompilationDate(build + 23.0 / 24, 120), "Sun, 2 Jun 2024 01:00:00 +0200");
  EXPECT_EQ(ComposeCompilationDate(build + 23.0 / 24, 330), "Sun, 2 Jun 2024 04:30:00 +0530");
  EXPECT_EQ(ComposeCompilationDate(build + 23.0 / 24, -210), "Sat, 1 Jun 2024 19:30:00 -0330");
  EXPECT_EQ(ComposeCompilationDate(0, 120), "");
}

TEST(ReportValuesText, SizesProcessorVideoAndPrivileges) {
  EXPECT_EQ(FormatMegabytes(512ull * 1048576 + 600000), "513 Mb");
  EXPECT_EQ(FormatGigabytes(1073741824ull * 3 / 2), "1.5 Gb");
  EXPECT_EQ(FormatGigabytes(1073741824ull * 2), "2 Gb");
  EXPECT_EQ(FormatGigabytes(1073741824ull / 20), "0.05 Gb");
  EXPECT_EQ(FormatGigabytes(1073741824ull * 1234 / 100), "12.34 Gb");
  EXPECT_EQ(ComposeProcessorName("  Intel(R) Core(TM)  ", "x", "y"), "Intel(R) Core(TM)");
  EXPECT_EQ(ComposeProcessorName("", " GenuineIntel ", "x86 Family 6"), "GenuineIntel - x86 Family 6");
  EXPECT_EQ(ComposeProcessorName("", "", "x86 Family 6"), "x86 Family 6");
  EXPECT_EQ(ComposeProcessorName("", "AuthenticAMD", ""), "AuthenticAMD");
  EXPECT_EQ(ComposeProcessorName(" ", "", ""), "Unknown processor");
  EXPECT_EQ(ComposeVideoCardText(" Wine Card ", "1.0", 256u << 20), "Wine Card (driver 1.0 - RAM 256 MB)");
  EXPECT_EQ(ComposeVideoCardText("Card", "", 0), "Card (driver )");
  EXPECT_EQ(FormatPrivilegeLine("SeShutdownPrivilege", true), "SeShutdownPrivilege             - ON\r\n");
  EXPECT_EQ(FormatPrivilegeLine("SeDebugPrivilege", false).size(), 31u + 6 + 2);
}

TEST(ReportValuesNetwork, AddressesAndAdapters) {
  EXPECT_EQ(FormatIPAddress("192.168.1.5"), "192.168.001.005");
  EXPECT_EQ(FormatIPAddress(""), "000.000.000.000");
  TEmberAdapterFacts first;
  first.Dhcp = true;
  first.Address = "10.0.0.2";
  first.Mask = "255.0.0.0";
  first.Gateway = "10.0.0.1";
  first.DnsServers = {"10.0.0.53"};
  TEmberAdapterFacts second;
  second.Address = "192.168.1.5";
  second.Mask = "255.255.255.0";
  second.DnsServers = {"8.8.8.8", "1.1.1.1"};
  TEmberNetworkInfo one = ComposeNetworkInfo({first});
  EXPECT_EQ(one.IPAddress, "010.000.000.002");
  EXPECT_EQ(one.DNS1, "010.000.000.053");
  EXPECT_EQ(one.DNS2, "000.000.000.000");
  EXPECT_EQ(one.DHCP, "ON             ");
  TEmberNetworkInfo two = ComposeNetworkInfo({first, second});
  EXPECT_EQ(two.IPAddress, "010.000.000.002 - 192.168.001.005");
  EXPECT_EQ(two.Gateway, "010.000.000.001 - 000.000.000.000");
  EXPECT_EQ(two.DNS2, "000.000.000.000 - 001.001.001.001");
  EXPECT_EQ(two.DHCP, "ON              - OFF            ");
  TEmberNetworkInfo none = ComposeNetworkInfo({});
  EXPECT_EQ(none.IPAddress, "");
}

}  // namespace
