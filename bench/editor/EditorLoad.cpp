// The host run with its editor open, and the CPU time of Wine's processes and the X server read
// from /proc around it.
#include "EditorLoad.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Linux reports process times in these ticks whatever the kernel's own rate.
constexpr double kTicksPerSecond = 100;

// The whole of a (/proc) file; false when it cannot be read.
bool ReadUnixFile(const std::string& unixPath, std::string& text) {
  HANDLE file = CreateFileW(WinePath(unixPath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  text.clear();
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
  CloseHandle(file);
  return true;
}

std::vector<std::string> SplitNul(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\0') {
      if (i > start) parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

std::vector<int> ProcessIds() {
  std::vector<int> ids;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(WinePath("/proc/*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return ids;
  do {
    const std::wstring name = found.cFileName;
    if (!name.empty() && name.find_first_not_of(L"0123456789") == std::wstring::npos) ids.push_back(_wtoi(name.c_str()));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return ids;
}

// User and system time of a process, in ticks; -1 when it is gone.
long long ProcessTicks(const std::string& statPath) {
  std::string stat;
  if (!ReadUnixFile(statPath, stat)) return -1;
  // The name in brackets may hold blanks: the fields are counted after its closing bracket,
  // where the third field of the line (state) comes first; utime and stime are the 14th and 15th.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::vector<std::string> fields;
  size_t i = close + 1;
  while (i < stat.size()) {
    while (i < stat.size() && stat[i] == ' ') ++i;
    size_t j = i;
    while (j < stat.size() && stat[j] != ' ') ++j;
    if (j > i) fields.push_back(stat.substr(i, j - i));
    i = j;
  }
  if (fields.size() < 13) return -1;
  return std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str());
}

std::string EnvironmentValue(const std::vector<std::string>& environment, const std::string& name) {
  for (const std::string& entry : environment)
    if (entry.compare(0, name.size() + 1, name + "=") == 0) return entry.substr(name.size() + 1);
  return std::string();
}

// The processes measured, by kind.
struct TSample {
  Clock::time_point time;
  std::map<int, long long> wine, x, host;
};

class TLoadMeter {
 public:
  bool Init(std::string& error) {
    std::string self, environText;
    if (!ReadUnixFile("/proc/self/stat", self) || !ReadUnixFile("/proc/self/environ", environText)) {
      error = "/proc cannot be read (not under Wine?)";
      return false;
    }
    selfPid_ = std::atoi(self.c_str());
    const std::vector<std::string> env = SplitNul(environText);
    prefix_ = EnvironmentValue(env, "WINEPREFIX");
    if (prefix_.empty()) prefix_ = EnvironmentValue(env, "HOME") + "/.wine";
    display_ = EnvironmentValue(env, "DISPLAY");
    const size_t dot = display_.find('.', display_.find(':'));
    if (dot != std::string::npos) display_.resize(dot);
    return true;
  }

  TSample Take() const {
    TSample s;
    s.time = Clock::now();
    for (int pid : ProcessIds()) {
      if (pid == selfPid_) continue;
      const std::string dir = "/proc/" + std::to_string(pid);
      std::string environText, cmdline;
      if (!ReadUnixFile(dir + "/cmdline", cmdline)) continue;
      const std::vector<std::string> args = SplitNul(cmdline);
      if (args.empty()) continue;
      const bool isWine = ReadUnixFile(dir + "/environ", environText) && EnvironmentValue(SplitNul(environText), "WINEPREFIX") == prefix_;
      const long long ticks = isWine || IsXServer(args) ? ProcessTicks(dir + "/stat") : -1;
      if (ticks < 0) continue;
      if (isWine) {
        s.wine[pid] = ticks;
        if (cmdline.find("vsthost.exe") != std::string::npos) s.host[pid] = ticks;
      } else {
        s.x[pid] = ticks;
      }
    }
    return s;
  }

 private:
  bool IsXServer(const std::vector<std::string>& args) const {
    if (display_.empty()) return false;
    const std::string& program = args[0];
    const std::string base = program.substr(program.find_last_of('/') + 1);
    if (base != "Xvfb" && base != "Xorg" && base != "X" && base != "Xwayland") return false;
    for (size_t i = 1; i < args.size(); ++i)
      if (args[i] == display_) return true;
    return false;
  }

  int selfPid_ = 0;
  std::string prefix_, display_;
};

// Core-seconds per second between two samples, over the processes present in both.
double Rate(const std::map<int, long long>& before, const std::map<int, long long>& after, double seconds) {
  long long ticks = 0;
  for (const auto& [pid, t] : after) {
    auto found = before.find(pid);
    if (found != before.end() && t >= found->second) ticks += t - found->second;
  }
  return seconds > 0 ? ticks / kTicksPerSecond / seconds : 0;
}

bool RunOnce(const TLoadMeter& meter, const std::string& hostPath, const std::string& pluginPath, bool playing,
             double warmUp, double seconds, TEditorLoad& load, std::string& error) {
  const int open = static_cast<int>(warmUp + seconds + 2);
  const char* on = playing ? "1" : "0";
  // Play and record on: both heads run and the waveform follows what is recorded.
  std::wstring command = L"\"" + WinePath(hostPath) + L"\" --quiet --tone 4 --editor " + std::to_wstring(open) +
                         L" --param 0=" + std::wstring(1, on[0]) + L" --param 1=" + std::wstring(1, on[0]) + L" \"" +
                         WinePath(pluginPath) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::vector<wchar_t> line(command.begin(), command.end());
  line.push_back(0);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    error = "the host did not start";
    return false;
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(warmUp));
  const TSample before = meter.Take();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const TSample after = meter.Take();
  const double elapsed = std::chrono::duration<double>(after.time - before.time).count();
  load.wine = Rate(before.wine, after.wine, elapsed);
  load.x = Rate(before.x, after.x, elapsed);
  load.host = Rate(before.host, after.host, elapsed);
  WaitForSingleObject(process.hProcess, static_cast<DWORD>((open + 10) * 1000));
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (after.host.empty()) {
    error = "the host process was not found in /proc";
    return false;
  }
  if (code != 0) {
    error = "the host failed (exit code " + std::to_string(code) + ")";
    return false;
  }
  return true;
}

}  // namespace

std::wstring WinePath(const std::string& unixPath) {
  std::wstring path = L"Z:";
  for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return path;
}

TEditorLoadRun MeasureEditorLoad(const std::string& hostPath, const std::string& pluginPath, int rounds, double warmUp,
                                 double seconds) {
  TEditorLoadRun run;
  TLoadMeter meter;
  if (!meter.Init(run.error)) return run;
  for (int round = 0; round < rounds; ++round) {
    for (bool playing : {false, true}) {
      TEditorLoad load;
      if (!RunOnce(meter, hostPath, pluginPath, playing, warmUp, seconds, load, run.error)) return run;
      TEditorLoad& sum = playing ? run.playing : run.idle;
      sum.wine += load.wine / rounds;
      sum.x += load.x / rounds;
      sum.host += load.host / rounds;
    }
  }
  run.ok = true;
  return run;
}
