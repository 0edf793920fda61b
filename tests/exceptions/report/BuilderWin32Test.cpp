// One whole report of a real exception thrown in this test: real registers, the real call stack
// of this thread, the process's real modules and processes, and the system's head values.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "Emulation.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/capture/ECallStack.h"
#include "exceptions/capture/EmberRecords.h"
#include "exceptions/report/EBugReport.h"
#include "exceptions/report/ESupport.h"

namespace {

struct TFault {
  CONTEXT Context;
  uint32_t Address = 0;
};

__attribute__((noinline)) void ThrowBoom(TFault& fault) {
  fault.Context.ContextFlags = CONTEXT_FULL;
  RtlCaptureContext(&fault.Context);
  fault.Address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&ThrowBoom));
  throw std::runtime_error("Boom");
}

DWORD WINAPI WaitForStop(void* event) { return WaitForSingleObject(static_cast<HANDLE>(event), MachineBound(10000)); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Hex8(uint32_t value) {
  char text[12];
  wsprintfA(text, "%08X", value);
  return text;
}

TEST(BuilderWin32, WholeReportOfARealException) {
  TEmberModuleOptions options("demo.dll");
  options.SetLogOptions(0x30);
  TEmberStackList stack;
  TEmberProcessesList processes;
  LoadProcessesInfo(processes);
  RefreshModulesList();
  TFault fault;
  try {
    ThrowBoom(fault);
  } catch (const std::exception& error) {
    // The faulting thread's stack as the processing builds it: from the fault's stack pointer,
    // the fault address first.
    uint32_t esp = fault.Context.Esp;
    BuildCallStack(stack, fault.Address, esp, AllStackKinds, -1, -1, true, false, 0, GetCurrentThreadId(),
                   GetStackTopOf(esp));
    // Another running thread, waiting, adds its own block.
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD workerId = 0;
    HANDLE worker = CreateThread(nullptr, 0, WaitForStop, stop, 0, &workerId);
    ASSERT_NE(worker, nullptr);
    Sleep(50);
    EXPECT_TRUE(BuildThreadCallStack(stack, reinterpret_cast<uintptr_t>(worker), workerId, AllStackKinds, true, 1));
    SetEvent(stop);
    WaitForSingleObject(worker, MachineBound(10000));
    CloseHandle(worker);
    CloseHandle(stop);
    TEmberRegisters regs;
    regs.Eax = fault.Context.Eax;
    regs.Edi = fault.Context.Edi;
    regs.Ebx = fault.Context.Ebx;
    regs.Esi = fault.Context.Esi;
    regs.Ecx = fault.Context.Ecx;
    regs.Esp = fault.Context.Esp;
    regs.Edx = fault.Context.Edx;
    regs.Eip = fault.Context.Eip;
    TEmberBugReportInput input;
    input.Options = &options;
    input.ExceptionObject = &error;
    input.ExceptionAddress = fault.Address;
    input.Context = &regs;
    input.StackPointer = fault.Context.Esp;
    input.ReportID = "0BAD0BAD";
    input.CallStack = &stack;
    input.Modules = &EmberModulesList();
    input.Processes = &processes;
    BugReportText(input);

    const TEmberReportPieces& pieces = ReportPieces();
    const std::string& report = pieces.ReportText;
    EXPECT_EQ(0u, report.find("EmberLog 6.0.24\r\n\r\nApplication:\r\n")) << report.substr(0, 200);
    for (const char* section : {"Exception:", "User:", "Computer:", "Operating System:", "Network:",
                                "Call Stack Information:", "Modules Information:", "Processes Information:",
                                "Assembler Information:", "Registers:", "Memory Dump:"})
      EXPECT_TRUE(Contains(report, section)) << section;
    EXPECT_TRUE(Contains(pieces.ReportHeadText, ": Boom.\r\n"));
    EXPECT_TRUE(Contains(pieces.ReportHeadText, ": 0BAD0BAD\r\n"));
    EXPECT_TRUE(Contains(pieces.ReportHeadText, ": " + Hex8(fault.Address) + "\r\n"));
    EXPECT_TRUE(Contains(pieces.ReportHeadText, "runtime_error"));
    // The call stack holds this thread's block and entries in this test program.
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string exe = self;
    exe = exe.substr(exe.find_last_of("\\/") + 1);
    EXPECT_TRUE(Contains(pieces.ReportTablesText, "|*Exception Thread: ID=" + std::to_string(GetCurrentThreadId()) + ";"))
        << pieces.ReportTablesText.substr(0, 2000);
    EXPECT_TRUE(Contains(pieces.ReportTablesText, "; [Main]"));
    // The worker's block: closed previous block, a row of blanks, its caption.
    EXPECT_TRUE(Contains(pieces.ReportTablesText, "|\r\n|                ")) << pieces.ReportTablesText;
    EXPECT_TRUE(Contains(pieces.ReportTablesText, "|Running Thread: ID=" + std::to_string(workerId) + "; Priority=0;"))
        << pieces.ReportTablesText;
    size_t modules = pieces.ReportTablesText.find("Modules Information:");
    ASSERT_NE(modules, std::string::npos);
    std::string callStack = pieces.ReportTablesText.substr(0, modules);
    // Every entry of a kind the options show has its row (this program has no debug
    // information, so its own entries carry the module only and are not shown).
    uint8_t flags = GetCallStackDetailFlags(options.CallStackOptions());
    std::map<uint32_t, bool> listed;
    for (int32_t i = 0; i < stack.Count(); ++i) {
      const TEmberStackItem* item = stack.GetItem(i);
      listed[item->Address] = listed[item->Address] || (item->Kind <= 7 && (flags & (1u << item->Kind)) != 0);
    }
    int32_t shown = 0;
    for (const auto& [address, show] : listed) {
      EXPECT_EQ(show, Contains(callStack, "|" + Hex8(address) + "|")) << Hex8(address);
      shown += show;
    }
    EXPECT_GT(shown, 0) << callStack;
    // Modules: this program and the system's kernel.
    std::string tables = pieces.ReportTablesText.substr(modules);
    EXPECT_TRUE(Contains(tables, "|" + Hex8(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)))) +
                                     "|" + exe));
    std::string pid = "|" + std::to_string(GetCurrentProcessId());
    EXPECT_TRUE(Contains(tables, pid + " ") || Contains(tables, pid + "|")) << tables;
    // Assembler listing around the address and the CPU section with the registers and dump.
    EXPECT_FALSE(pieces.ReportAssemblerText.empty());
    EXPECT_TRUE(Contains(pieces.ReportCPUText, "EIP: " + Hex8(fault.Context.Eip) + "\r\n"));
    EXPECT_TRUE(Contains(pieces.ReportCPUText, Hex8(fault.Context.Esp) + ": "));
    EXPECT_TRUE(Contains(pieces.ReportCPUText, Hex8(fault.Address) + ": "));
    EXPECT_EQ(report, pieces.LastReportText);
  }
  EXPECT_GT(stack.Count(), 0);
}

}  // namespace
