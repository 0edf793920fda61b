// An exception intercepted in a plug-in, end to end: a host that may show dialogs (this
// windows-subsystem program) loads the dialog test plug-in; what its knob throws is processed by
// the library, the classic dialog asks the user, the report is logged and, as the user chose,
// mailed with its zip (report copy and screenshot) to an SMTP server on 127.0.0.1.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "DialogTestSupport.h"
#include "MailZip.h"
#include "classlib/Streams.h"
#include "exceptions/EmberCodecs.h"
#include "tools/vsthost/VstHost.h"

namespace {

using namespace dialogtest;

const char* const kPlugin = "dialogplugin.dll";
const char* const kLog = "dialogplugin.elf";

}  // namespace

TEST(DialogPlugin, InterceptedExceptionShowsTheDialogAndSendsWhatTheUserChose) {
  std::remove(kLog);
  testnet::SmtpServer server;
  TVstHost host(kPlugin);
  using TUseSmtp = void (*)(const char*, uint16_t);
  auto useSmtp = reinterpret_cast<TUseSmtp>(GetProcAddress(GetModuleHandleA(kPlugin), "DialogPluginUseSmtp"));
  ASSERT_NE(useSmtp, nullptr);
  useSmtp("127.0.0.1", server.Port());

  // The knob is turned on a thread of the host; the library asks the user meanwhile.
  std::thread knob([&] { host.SetParameter(0, 1.0f); });
  HWND dialog = WaitForDialog("Error occurred");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(Item(dialog, 102), "The application has encountered a problem. We are sorry for the inconvenience.");
  EXPECT_EQ(Item(dialog, 103), "Knob failure.");
  EXPECT_TRUE(Shown(dialog, 1000));
  Screenshot(dialog, "plugin-classic");
  SetItem(dialog, 111, "tester@example.org");
  Click(dialog, 1000);
  knob.join();

  // The host goes on with the plug-in.
  EXPECT_EQ(host.Dispatch(effGetVstVersion), 2400);
  std::string log = ReadFileBytes(kLog);
  EXPECT_NE(log.find("Knob failure"), std::string::npos) << log.substr(0, 2000);
  EXPECT_NE(log.find(" : tester@example.org\r\n"), std::string::npos);
  std::vector<testnet::SmtpSession> sessions = server.Sessions();
  ASSERT_EQ(sessions.size(), 1u);
  testnet::Received mail = testnet::Unstuff(sessions[0].data);
  EXPECT_NE(mail.headers.find("Subject: Dialog plug-in failure\r\n"), std::string::npos) << mail.headers;
  EXPECT_NE(mail.headers.find("tester@example.org"), std::string::npos);
  std::map<std::string, std::string> zip = testnet::MailZip(sessions[0].data);
  ASSERT_EQ(zip.count(kLog), 1u);
  EXPECT_NE(zip[kLog].find("Knob failure"), std::string::npos);
  EXPECT_NE(zip[kLog].find(" : tester@example.org\r\n"), std::string::npos);
  ASSERT_EQ(zip.count("Screenshot.png"), 1u);
  EXPECT_EQ(zip["Screenshot.png"].substr(1, 3), "PNG");
}
