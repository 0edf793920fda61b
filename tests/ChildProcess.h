// A second process of the test program: the child half of a test whose subject ends, exits or
// hangs the process it runs in.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "Emulation.h"

struct TChildRun {
  bool Started = false;
  bool Ended = false;   // within the time given; a child still running then is ended (code 255)
  DWORD ExitCode = 255;
  DWORD ProcessId = 0;
};

// One run of the child; see RunChildProcess.
inline TChildRun RunChildProcessOnce(const std::string& arguments,
                                     const std::vector<std::pair<std::string, std::string>>& environment,
                                     DWORD milliseconds) {
  TChildRun run;
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string command = std::string("\"") + self + "\" " + arguments;
  for (const auto& [name, value] : environment) SetEnvironmentVariableA(name.c_str(), value.c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  run.Started =
      CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) != 0;
  for (const auto& [name, value] : environment) SetEnvironmentVariableA(name.c_str(), nullptr);
  if (!run.Started) return run;
  run.ProcessId = process.dwProcessId;
  run.Ended = WaitForSingleObject(process.hProcess, milliseconds) == WAIT_OBJECT_0;
  if (!run.Ended) TerminateProcess(process.hProcess, 255);
  GetExitCodeProcess(process.hProcess, &run.ExitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

// Runs this program again with `arguments` (such as "--gtest_filter=Suite.ChildHalf") and the
// environment variables `environment` set for it, and waits `milliseconds` at most: a bound on
// the machine, grown where programs run emulated. There Wine's own client now and then fails in
// a thread of the child ("write: Bad file descriptor" on the error output of Wine's unix side,
// which no handle of the child's carries) and the child stalls for good: a child that did not end
// in time there is run once more, after `again` (when given) has cleared what the first run left
// behind, and a second stall is the child's. A child that ended, whatever its exit code, is never
// run again.
inline TChildRun RunChildProcess(const std::string& arguments,
                                 const std::vector<std::pair<std::string, std::string>>& environment,
                                 DWORD milliseconds, void (*again)() = nullptr) {
  const TChildRun run = RunChildProcessOnce(arguments, environment, MachineBound(milliseconds));
  if (!run.Started || run.Ended || !RunsEmulated()) return run;
  std::printf("the child %s stalled for %lu ms where programs run emulated: run once more\n", arguments.c_str(),
              MachineBound(milliseconds));
  std::fflush(stdout);
  if (again != nullptr) again();
  return RunChildProcessOnce(arguments, environment, MachineBound(milliseconds));
}
#endif
