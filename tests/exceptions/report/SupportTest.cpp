// The last library error and its warnings, the internal-error texts and their passing on, module
// path and size texts, the module stream over real memory and the code-address tests.
#include "exceptions/report/ESupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "classlib/SysUtils.h"
#include "exceptions/ECore.h"
#include "exceptions/report/ESockets.h"
#include "exceptions/report/detail/ESupportPlatform_p.h"

namespace {

int gErrorBoxes = 0;
std::string gLastBox;
void CountError(const std::string& text, const std::string& caption) {
  ++gErrorBoxes;
  gLastBox = caption + "|" + text;
}
const TEmberMessageBoxes kCountingBoxes{CountError, nullptr, nullptr};

struct BoxesInstalled {
  BoxesInstalled() {
    gErrorBoxes = 0;
    SetLibraryMessageBoxes(&kCountingBoxes);
    SetLibraryMessageBoxesAllowed(true);
  }
  ~BoxesInstalled() {
    SetLibraryMessageBoxes(nullptr);
    SetShowLibraryWarnings(false);
    ClearLastError();
  }
};

TEST(SupportErrors, CodeNamesInOrder) {
  EXPECT_EQ(EmberLogErrorCodeName(eeNone), "eeNone");
  EXPECT_EQ(EmberLogErrorCodeName(eeEmailSMTPError), "eeEmailSMTPError");
  EXPECT_EQ(EmberLogErrorCodeName(eeWebTrakerError), "eeWebTrakerError");
  EXPECT_EQ(EmberLogErrorCodeName(static_cast<TEmberLogErrorCode>(10)), "");
  EXPECT_EQ(FormatLibraryWarning(eeWebFTPError, 0x401A2B, "no route"),
            "[WARNING] - Code: eeWebFTPError - Address: 00401A2B - Message: \"no route\"");
}

TEST(SupportErrors, DeliveryWarningsNeedTheSwitchForABox) {
  BoxesInstalled boxes;
  ShowLibraryWarning(eeWebHTTPError, "refused");
  EXPECT_EQ(GetLastLibraryErrorCode(), eeWebHTTPError);
  EXPECT_EQ(GetLastLibraryErrorMessage(), "refused");
  EXPECT_EQ(gErrorBoxes, 0);
  SetShowLibraryWarnings(true);
  ShowLibraryWarning(eeWebHTTPError, "refused again");
  EXPECT_EQ(gErrorBoxes, 1);
  EXPECT_EQ(gLastBox, "Error.|refused again");
  // MAPI and shell mail errors are stored but never boxed.
  ShowLibraryWarning(eeEmailMAPIError, "no client");
  EXPECT_EQ(gErrorBoxes, 1);
  EXPECT_EQ(GetLastLibraryErrorCode(), eeEmailMAPIError);
  SetLibraryMessageBoxesAllowed(false);
  ShowLibraryWarning(eeEmailSMTPError, "quiet");
  EXPECT_EQ(gErrorBoxes, 1);
  ClearLastError();
  EXPECT_EQ(GetLastLibraryErrorCode(), eeNone);
  EXPECT_EQ(GetLastLibraryErrorMessage(), "");
}

TEST(SupportErrors, LibraryErrorTextsFromTheHandledException) {
  BoxesInstalled boxes;
  try {
    throw EConvertError("bad number");
  } catch (...) {
    ShowLibraryError(eeLogError, "Save");
  }
  EXPECT_EQ(GetLastLibraryErrorMessage(), "[Save] bad number");
  try {
    throw 7;
  } catch (...) {
    ShowLibraryError(eeLogError, "Save");
  }
  EXPECT_EQ(GetLastLibraryErrorMessage(), "General 'Save' error.");
}

TEST(SupportInternal, AbortsAndSocketErrorsArePassedOn) {
  SetRunningInIDE(true);
  EXPECT_THROW(
      {
        try {
          throw EAbort("quiet");
        } catch (...) {
          ReportInternalError("3");
        }
      },
      EAbort);
  EXPECT_THROW(
      {
        try {
          throw EEmberSocketError("gone");
        } catch (...) {
          ReportInternalError("4");
        }
      },
      EEmberSocketError);
  SetRunningInIDE(false);
  // Outside the development environment and without a debugger everything goes on.
  if (!ember_support::DebuggerAttached()) {
    EXPECT_THROW(
        {
          try {
            throw EConvertError("x");
          } catch (...) {
            ReportInternalError("5");
          }
        },
        EConvertError);
  }
  EXPECT_FALSE(IsInternalErrorRunning());
}

TEST(SupportInternal, LogTextAndStackLines) {
  TEmberInternalError e;
  e.Version = "6.0.24";
  e.Section = "7";
  e.Exception = "EConvertError";
  std::string text = FormatInternalErrorText(e);
  EXPECT_EQ(text.substr(0, 20), "Version   : 6.0.24\r\n");
  EXPECT_NE(text.find("\r\nSection   : 7\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nException : EConvertError\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 12), "Call Stack: ");

  TEmberInternalStackEntry a;
  a.Address = 0x00401000;
  a.Module = 0x00400000;
  a.ModuleName = "host.exe";
  TEmberInternalStackEntry b = a;
  b.Address = 0x10002000;
  b.UnitName = "rkPlugin";
  b.ClassName = "TrkPlugin";
  b.ProcedureName = "Process";
  b.Line = 120;
  b.LineOffset = 4;
  EXPECT_EQ(FormatInternalErrorStack({a, b}),
            "00 $00401000 - [00400000] host.exe \r\n"
            "            01 $10002000 - [00400000] host.exe - rkPlugin - TrkPlugin - Process - 120[4]\r\n");
  EXPECT_EQ(FormatInternalErrorAddress(b),
            "$10002000 - [00400000] host.exe - rkPlugin - TrkPlugin - Process - 120[4]");
  uint8_t bytes[3] = {0x55, 0x8B, 0xEC};
  EXPECT_EQ(DumpBytes(bytes, 3), "$55 $8B $EC");
  EXPECT_EQ(DumpBytes(nullptr, 32), "");
}

TEST(SupportModules, PathSizeAndVersionTexts) {
  EXPECT_EQ(GetModulePathText("C:\\Host\\Plugins\\kbl.dll"), "C:\\Host\\Plugins");
  EXPECT_EQ(GetModulePathText("C:\\kbl.dll"), "C:\\");
  EXPECT_EQ(GetModulePathText("\\??\\C:\\Windows\\system32\\ntdll.dll"), "C:\\Windows\\system32");
  EXPECT_EQ(GetModulePathText("kbl.dll"), "");
  EXPECT_EQ(GetSizeText(0), "");
  EXPECT_EQ(GetSizeText(1536 * 1024), "1536 Kb");
  EXPECT_EQ(GetSizeText(1024 + 511), "1 Kb");
  EXPECT_EQ(GetSizeText(1024 + 600), "2 Kb");
  EXPECT_EQ(ShortVersion("6.0.24.1"), "6.0.x");
  EXPECT_EQ(ShortVersion("1.2.3"), "1.2.x");
  EXPECT_EQ(ShortVersion("1.2"), "1.2");
  EXPECT_EQ(PriorityClassFromBase(0), 0u);
  EXPECT_EQ(PriorityClassFromBase(4), 64u);
  EXPECT_EQ(PriorityClassFromBase(6), 16384u);
  EXPECT_EQ(PriorityClassFromBase(8), 32u);
  EXPECT_EQ(PriorityClassFromBase(10), 32768u);
  EXPECT_EQ(PriorityClassFromBase(13), 128u);
  EXPECT_EQ(PriorityClassFromBase(24), 256u);
}

// A PE header laid out in memory: the stream reads it like a loaded module.
TEST(SupportModules, ModuleStreamReadsHeadersAndStopsAtUnreadableMemory) {
  alignas(16) uint8_t image[512] = {};
  image[0] = 'M';
  image[1] = 'Z';
  image[60] = 128;
  std::memcpy(image + 128, "PE\0\0", 4);
  image[128 + 4 + 18] = 0x02;  // characteristics: executable
  image[128 + 4 + 19] = 0x20;  // ... and DLL
  uintptr_t base = reinterpret_cast<uintptr_t>(image);
  EXPECT_EQ(ReadModuleDLLFlag(base), 1);
  image[128 + 4 + 19] = 0x00;
  EXPECT_EQ(ReadModuleDLLFlag(base), 0);
  image[128] = 'X';
  EXPECT_EQ(ReadModuleDLLFlag(base), -1);

  THModuleStream stream(base);
  EXPECT_EQ(stream.GetSize(), 0x7FFFFFFF);
  uint8_t two[2];
  EXPECT_EQ(stream.Read(two, 2), 2);
  EXPECT_EQ(two[0], 'M');
  EXPECT_EQ(stream.Write(two, 2), 0);
  EXPECT_EQ(image[2], 0);

  void* range = ember_support::ReserveAddressSpace(65536);
  ASSERT_NE(range, nullptr);
  THModuleStream closed(reinterpret_cast<uintptr_t>(range));
  EXPECT_EQ(closed.Read(two, 2), 0);
  EXPECT_EQ(ReadModuleDLLFlag(reinterpret_cast<uintptr_t>(range)), -1);
  EXPECT_FALSE(IsPushEbxAt(range));
  EXPECT_FALSE(IsFramePrologueAt(range));
  ember_support::ReleaseAddressSpace(range, 65536);
}

TEST(SupportCode, PrologueAndPushTests) {
  const uint8_t code[] = {0x55, 0x8B, 0xEC, 0x53};
  EXPECT_TRUE(IsFramePrologueAt(code));
  EXPECT_FALSE(IsFramePrologueAt(code + 1));
  EXPECT_TRUE(IsPushEbxAt(code + 3));
  EXPECT_FALSE(IsPushEbxAt(code));
  EXPECT_EQ(AddrFromCodeOffset(0x400000, 0x20), 0x401020u);
}

}  // namespace
