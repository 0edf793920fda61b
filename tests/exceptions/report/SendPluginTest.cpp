// The last plug-in closed while its report is still being sent: a plug-in that mails its
// reports in the background to a slow SMTP server on 127.0.0.1 fails, and the host closes it and
// unloads its DLL at once; or the module fails on another thread and the host closes the plug-in
// while that failure is still being processed. Closing waits for the send to end before the
// library detaches, so the mail arrives whole and nothing of the unloaded module runs
// afterwards; several rounds in one process, each loading the DLL afresh.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "DeliverySmtpServer.h"
#include "Emulation.h"
#include "MailZip.h"
#include "tools/vsthost/VstHost.h"

namespace {

const char* const kPlugin = "sendplugin.dll";

// A slow SMTP server: each answer takes a while, and commands that arrive after the host closed
// the plug-in are counted.
struct TSlowServer {
  TSlowServer() {
    server.onCommand = [this](const std::string&) {
      ++commands;
      if (closed) ++afterClose;
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    };
  }
  // The mail arrived whole (HELO, RSET, MAIL, RCPT, DATA), all of it before the close returned.
  void ExpectWholeMailBeforeClose() {
    EXPECT_GE(commands.load(), 5);
    EXPECT_EQ(afterClose.load(), 0);
    std::vector<testnet::SmtpSession> sessions = server.Sessions();
    ASSERT_EQ(sessions.size(), 1u);
    testnet::Received mail = testnet::Unstuff(sessions[0].data);
    EXPECT_NE(mail.headers.find("Subject: Send plug-in failure\r\n"), std::string::npos) << mail.headers;
    std::map<std::string, std::string> zip = testnet::MailZip(sessions[0].data);
    ASSERT_EQ(zip.count("sendplugin.elf"), 1u);
    EXPECT_NE(zip["sendplugin.elf"].find("Knob failure"), std::string::npos);
  }
  std::atomic<bool> closed{false};
  std::atomic<int32_t> commands{0}, afterClose{0};
  testnet::SmtpServer server;
};

void UseServer(TSlowServer& slow) {
  using TUseSmtp = void (*)(const char*, uint16_t);
  auto useSmtp = reinterpret_cast<TUseSmtp>(GetProcAddress(GetModuleHandleA(kPlugin), "DialogPluginUseSmtp"));
  ASSERT_NE(useSmtp, nullptr);
  useSmtp("127.0.0.1", slow.server.Port());
}

}  // namespace

TEST(SendPlugin, ClosingTheLastPluginWaitsForTheBackgroundSendBeforeTheModuleGoes) {
  for (int32_t round = 1; round <= 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TSlowServer slow;
    {
      TVstHost host(kPlugin);
      UseServer(slow);
      host.SetParameter(0, 1.0f);  // fails; the report goes out on a thread of the library
      host.Close();
      slow.closed = true;
    }  // the DLL is unloaded here
    EXPECT_EQ(GetModuleHandleA(kPlugin), nullptr);
    slow.ExpectWholeMailBeforeClose();
  }
}

TEST(SendPlugin, ClosingTheLastPluginWhileAFailureIsProcessedSendsItsReportBeforeTheModuleGoes) {
  for (int32_t round = 1; round <= 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TSlowServer slow;
    {
      TVstHost host(kPlugin);
      UseServer(slow);
      using TFailSlowly = void (*)(HANDLE, DWORD);
      auto failSlowly = reinterpret_cast<TFailSlowly>(GetProcAddress(GetModuleHandleA(kPlugin), "DialogPluginFailSlowly"));
      ASSERT_NE(failSlowly, nullptr);
      HANDLE begun = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      std::thread failing([&] { failSlowly(begun, 300); });
      // The report is decided on after the close has begun: it may not go out on a thread that
      // outlives the library.
      EXPECT_EQ(WaitForSingleObject(begun, MachineBound(30000)), WAIT_OBJECT_0);
      host.Close();
      slow.closed = true;
      failing.join();
      CloseHandle(begun);
    }
    EXPECT_EQ(GetModuleHandleA(kPlugin), nullptr);
    slow.ExpectWholeMailBeforeClose();
  }
}

// The runtime ends the program's code on a send's thread (an exception leaves a function that may
// not raise, in a handler of the send), or the handler ends the thread itself (ExitThread): the
// thread still ends with the release of its hold on the module, so that the host's unload after
// the last close takes the DLL out.
TEST(SendPlugin, ASendThreadWhoseCodeTheRuntimeEndsLetsTheModuleGo) {
  for (const bool exitThread : {false, true}) {
    SCOPED_TRACE(exitThread ? "ExitThread" : "the runtime");
    TSlowServer slow;
    {
      TVstHost host(kPlugin);
      UseServer(slow);
      auto endCodeInSend =
          reinterpret_cast<void (*)(bool)>(GetProcAddress(GetModuleHandleA(kPlugin), "DialogPluginEndCodeInSend"));
      ASSERT_NE(endCodeInSend, nullptr);
      endCodeInSend(exitThread);
      host.SetParameter(0, 1.0f);  // fails; its send's handler ends the code of the send's thread
      host.Close();
    }  // the DLL is unloaded here, or once the send's thread has ended
    for (DWORD waited = 0; GetModuleHandleA(kPlugin) != nullptr && waited < MachineBound(5000); waited += 50) Sleep(50);
    EXPECT_EQ(GetModuleHandleA(kPlugin), nullptr) << "the send's thread kept its hold on the module";
  }
}
