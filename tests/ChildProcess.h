// A second process of the test program: the child half of a test whose subject ends, exits or
// hangs the process it runs in.
#pragma once

#ifdef _WIN32
#include <windows.h>

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

// Runs this program again with `arguments` (such as "--gtest_filter=Suite.ChildHalf") and the
// environment variables `environment` set for it, and waits `milliseconds` at most: a bound on
// the machine, grown where programs run emulated.
inline TChildRun RunChildProcess(const std::string& arguments,
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
  run.Ended = WaitForSingleObject(process.hProcess, MachineBound(milliseconds)) == WAIT_OBJECT_0;
  if (!run.Ended) TerminateProcess(process.hProcess, 255);
  GetExitCodeProcess(process.hProcess, &run.ExitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}
#endif
