// The exception library live in a plug-in: a test plug-in built like the product (same
// libraries, same library data step) is loaded by the project's host. What its code throws or
// faults on is logged with the plug-in's function and source line while the host goes on, and
// closing the plug-in puts back what the library changed in the host's process.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "tools/vsthost/VstHost.h"

namespace {

const char* const kPlugin = "captureplugin.dll";
const char* const kLog = "captureplugin.elf";

std::string ReadFile(const std::string& name) {
  std::ifstream file(name, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The line of the plug-in's source that holds `text`; 0 when absent.
int32_t SourceLine(const std::string& text) {
  const char* root = std::getenv("KBL_SOURCE_DIR");
  std::ifstream file(std::string(root ? root : "") + "/tests/exceptions/capture/CapturePlugin.cpp");
  std::string line;
  for (int32_t number = 1; std::getline(file, line); ++number)
    if (line.find(text) != std::string::npos) return number;
  return 0;
}

// The line the log's call stack gives for a procedure of the plug-in's source; 0 when absent.
int32_t LoggedLine(const std::string& log, const std::string& procedure) {
  std::smatch match;
  const std::regex row("CapturePlugin\\.cpp *\\|[^|\\r\\n]*\\|" + procedure + " *\\|(\\d+)\\[");
  return std::regex_search(log, match, row) ? std::atoi(match[1].str().c_str()) : 0;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class CapturePluginTest : public ::testing::Test {
 protected:
  void SetUp() override { std::remove(kLog); }
};

TEST_F(CapturePluginTest, ThrowLeavingThePluginsCodeIsLoggedWithFunctionAndLine) {
  TVstHost host(kPlugin);
  // Not the thread that opened the plug-in: the throw is processed where the plug-in's entry
  // stops it, not at the raise.
  std::thread([&] { host.SetParameter(0, 1.0f); }).join();
  const std::string log = ReadFile(kLog);
  EXPECT_NE(log.find("Plug-in failure"), std::string::npos) << log.substr(0, 2000);
  EXPECT_EQ(LoggedLine(log, "ThrowUnhandled"), SourceLine("throw std::runtime_error(\"Plug-in failure\")")) << log;
  EXPECT_EQ(Count(log, "EmberLog 6.0.24"), 1u);
  // The host goes on with the plug-in.
  EXPECT_EQ(host.GetParameter(0), 0.0f);
  EXPECT_EQ(host.Dispatch(effGetVstVersion), 2400);
}

struct THostFault {
  int32_t Seen = 0;
  bool LoggedBefore = false;
};
THostFault* gHostFault = nullptr;

// The host's own handling of the plug-in's fault: it steps over the faulting instruction.
LONG CALLBACK HostFaultHandler(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  const auto* code = reinterpret_cast<const uint8_t*>(pointers->ContextRecord->Eip);
  if (gHostFault == nullptr || record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || code[0] != 0xC7 || code[1] != 0x00)
    return EXCEPTION_CONTINUE_SEARCH;
  ++gHostFault->Seen;
  gHostFault->LoggedBefore = LoggedLine(ReadFile(kLog), "FaultInPlugin") > 0;
  pointers->ContextRecord->Eip += 6;
  return EXCEPTION_CONTINUE_EXECUTION;
}

TEST_F(CapturePluginTest, AccessViolationInThePluginIsLoggedBeforeTheHostHandlesIt) {
  THostFault fault;
  gHostFault = &fault;
  PVOID handler = AddVectoredExceptionHandler(0, &HostFaultHandler);
  {
    TVstHost host(kPlugin);
    host.SetParameter(1, 1.0f);
    EXPECT_EQ(fault.Seen, 1);
    EXPECT_TRUE(fault.LoggedBefore);
    const std::string log = ReadFile(kLog);
    EXPECT_NE(log.find("Access violation at address"), std::string::npos) << log.substr(0, 2000);
    EXPECT_NE(log.find("Write of address 00000000"), std::string::npos);
    EXPECT_GT(LoggedLine(log, "FaultInPlugin"), SourceLine("__attribute__((noinline)) void FaultInPlugin"));
  }
  RemoveVectoredExceptionHandler(handler);
  gHostFault = nullptr;
}

TEST_F(CapturePluginTest, TwoHandledExceptionsInARowAreBothProcessed) {
  TVstHost host(kPlugin);
  host.SetParameter(2, 1.0f);  // on the thread that opened the plug-in: processed at the raise
  const std::string log = ReadFile(kLog);
  EXPECT_NE(log.find("Handled 1."), std::string::npos) << log.substr(0, 2000);
  EXPECT_NE(log.find("Handled 2."), std::string::npos);
  EXPECT_EQ(Count(log, "EmberLog 6.0.24"), 2u);
}

LONG WINAPI HostFilter(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

TEST_F(CapturePluginTest, ClosingThePluginPutsBackFilterTerminateHandlerImportsAndFaultHandler) {
  HMODULE module = LoadLibraryA(kPlugin);
  ASSERT_NE(module, nullptr);
  using TState = void (*)(void**, void**);
  auto state = reinterpret_cast<TState>(GetProcAddress(module, "CaptureProcessState"));
  ASSERT_NE(state, nullptr);
  void* raiseBefore = nullptr;
  void* terminateBefore = nullptr;
  state(&raiseBefore, &terminateBefore);
  LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(&HostFilter);
  {
    TVstHost host(kPlugin);
    void* raise = nullptr;
    void* terminate = nullptr;
    state(&raise, &terminate);
    EXPECT_NE(raise, raiseBefore);
    EXPECT_NE(terminate, terminateBefore);
    LPTOP_LEVEL_EXCEPTION_FILTER open = SetUnhandledExceptionFilter(&HostFilter);
    EXPECT_NE(open, &HostFilter);
    SetUnhandledExceptionFilter(open);
    host.Close();
    state(&raise, &terminate);
    EXPECT_EQ(raise, raiseBefore);
    EXPECT_EQ(terminate, terminateBefore);
    EXPECT_EQ(SetUnhandledExceptionFilter(&HostFilter), &HostFilter);
  }
  FreeLibrary(module);
  EXPECT_EQ(GetModuleHandleA(kPlugin), nullptr);
  // A fault of the host's own after the unload meets no handler left behind in the gone module.
  THostFault fault;
  gHostFault = &fault;
  PVOID handler = AddVectoredExceptionHandler(0, &HostFaultHandler);
  asm volatile("xorl %%eax, %%eax\n\t.byte 0xC7, 0x00, 0x01, 0x00, 0x00, 0x00" ::: "eax", "memory");
  RemoveVectoredExceptionHandler(handler);
  gHostFault = nullptr;
  EXPECT_EQ(fault.Seen, 1);
  SetUnhandledExceptionFilter(previous);
}

TEST_F(CapturePluginTest, LeakTrackingReportsLeaksDoubleFreesAndOverrunsWithoutCrashing) {
  const char* const log = "captureplugin_leaks.elf";
  std::remove(log);
  {
    TVstHost host("captureplugin_leaks.dll");
    host.SetParameter(3, 1.0f);
    const std::string frees = ReadFile(log);
    EXPECT_NE(frees.find("Multi Free memory leak."), std::string::npos) << frees.substr(0, 3000);
    EXPECT_NE(frees.find("Memory Overrun leak."), std::string::npos);
    EXPECT_GT(LoggedLine(frees, "LeakAndDamage"), 0);
    EXPECT_EQ(Count(frees, "EmberLog 6.0.24"), 2u);
  }
  // Closing the plug-in reports what it leaked, as one report.
  const std::string leaks = ReadFile(log);
  EXPECT_EQ(Count(leaks, "EmberLog 6.0.24"), 3u) << leaks.substr(0, 3000);
  const size_t report = leaks.rfind("EmberLog 6.0.24");
  ASSERT_NE(report, std::string::npos);
  const std::string last = leaks.substr(report);
  EXPECT_NE(last.find("Type=TLeakedThing"), std::string::npos) << last;
  EXPECT_NE(last.find("Type=Data; Total size=40"), std::string::npos) << last;
  EXPECT_EQ(LoggedLine(last, "LeakAndDamage"), SourceLine("Escape(new TLeakedThing());"));
}

}  // namespace
