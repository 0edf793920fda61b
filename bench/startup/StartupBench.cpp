// What a host that scans plug-ins pays per DLL: LoadLibrary, VSTPluginMain (with a host callback
// that answers version 2400 and nothing else), the open and close opcodes, and FreeLibrary, for
// the plug-in DLL and for a trivial VST 2 DLL built beside this program with the same runtime
// flags (and for the same trivial DLL asking the shell for the user's data folder, as the plug-in
// must for its MIDI map: what that costs by itself). Each DLL is timed in fresh processes (the first round is the first instance of a
// process, as a scanning host sees it) and over later rounds in the same process; every step is
// timed on its own. Two kinds of host process: a bare one (a scanner that holds nothing but
// kernel32, so the system DLLs a plug-in needs are loaded for it) and a GUI host that already
// holds the system DLLs of a sequencer. Prints figures; asserts nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "plugin/vst/VstTypes.h"

namespace {

constexpr int kSteps = 5;
const char* const kStepNames[kSteps] = {"LoadLibrary", "VSTPluginMain", "effOpen", "effClose", "FreeLibrary"};
constexpr int kProcesses = 9;  // fresh processes per DLL and kind of host
constexpr int kRounds = 15;    // rounds per process

// The system DLLs that a GUI host (a sequencer) has loaded before it scans its plug-ins; the
// bare host loads none of them itself.
const char* const kHostDlls[] = {"user32.dll", "gdi32.dll",    "advapi32.dll", "ole32.dll",  "oleaut32.dll",
                                 "shell32.dll", "comctl32.dll", "comdlg32.dll", "imm32.dll", "uxtheme.dll"};

struct TRound {
  double step[kSteps] = {};
  double Total() const {
    double sum = 0;
    for (double s : step) sum += s;
    return sum;
  }
};

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

VstIntPtr VSTCALLBACK HostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

// The host DLLs of the list that the process holds, separated by blanks ("-" for none).
std::string LoadedHostDlls() {
  std::string names;
  for (const char* name : kHostDlls) {
    if (GetModuleHandleA(name) == nullptr) continue;
    if (!names.empty()) names += ',';
    names += name;
  }
  return names.empty() ? "-" : names;
}

// --- One process: the rounds of one DLL, one line of step times (ms) per round on stdout

int RunRounds(const std::string& dll, int rounds, bool guiHost) {
  if (guiHost) {
    const double start = Now();
    for (const char* name : kHostDlls) LoadLibraryA(name);
    std::printf("host %.3f\n", Now() - start);
  }
  for (int i = 0; i < rounds; ++i) {
    TRound round;
    double t = Now();
    HMODULE module = LoadLibraryA(dll.c_str());
    round.step[0] = Now() - t;
    if (module == nullptr) {
      std::printf("error cannot load %s (%lu)\n", dll.c_str(), GetLastError());
      return 1;
    }
    auto entry = reinterpret_cast<AEffect*(VSTCALLBACK*)(audioMasterCallback)>(GetProcAddress(module, "VSTPluginMain"));
    if (entry == nullptr) {
      std::printf("error %s has no VSTPluginMain\n", dll.c_str());
      return 1;
    }
    t = Now();
    AEffect* effect = entry(HostCallback);
    round.step[1] = Now() - t;
    if (effect == nullptr || effect->magic != kEffectMagic) {
      std::printf("error %s answered no plug-in\n", dll.c_str());
      return 1;
    }
    t = Now();
    effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0);
    round.step[2] = Now() - t;
    if (i == 0) std::printf("open-holds %s\n", LoadedHostDlls().c_str());
    t = Now();
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0);
    round.step[3] = Now() - t;
    t = Now();
    FreeLibrary(module);
    round.step[4] = Now() - t;
    if (i == 0) std::printf("unloaded-holds %s\n", LoadedHostDlls().c_str());
    const bool stillLoaded = GetModuleHandleA(dll.c_str()) != nullptr;
    std::printf("round");
    for (double s : round.step) std::printf(" %.3f", s);
    std::printf("%s\n", stillLoaded ? " kept" : "");
  }
  return 0;
}

// --- The parent: starts the processes and sums up

struct TProcessResult {
  double host = 0;
  std::vector<TRound> rounds;
  bool kept = false;
  std::string openHolds, unloadedHolds;
  std::string error;
};

TProcessResult RunProcess(const std::string& dll, int rounds, bool guiHost) {
  TProcessResult result;
  SECURITY_ATTRIBUTES security{sizeof(security), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &security, 0)) {
    result.error = "no pipe";
    return result;
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string command = "\"";
  command += program;
  command += "\" --rounds ";
  command += std::to_string(rounds);
  command += guiHost ? " gui \"" : " bare \"";
  command += dll;
  command += "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  std::vector<char> line(command.begin(), command.end());
  line.push_back(0);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
    result.error = "cannot start " + command;
    return result;
  }
  CloseHandle(writeEnd);
  std::string output;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
  CloseHandle(readEnd);
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);

  std::istringstream lines(output);
  std::string text;
  while (std::getline(lines, text)) {
    std::istringstream words(text);
    std::string kind;
    words >> kind;
    if (kind == "host") {
      words >> result.host;
    } else if (kind == "open-holds") {
      words >> result.openHolds;
    } else if (kind == "unloaded-holds") {
      words >> result.unloadedHolds;
    } else if (kind == "round") {
      TRound round;
      for (double& s : round.step) words >> s;
      std::string flag;
      if (words >> flag && flag == "kept") result.kept = true;
      result.rounds.push_back(round);
    } else if (kind == "error") {
      result.error = text;
    }
  }
  if (result.error.empty() && static_cast<int>(result.rounds.size()) != rounds) result.error = "process ended early";
  return result;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct TSummary {
  TRound first;  // per step: median over the processes of their first round
  TRound later;  // per step: mean over every later round of every process
  double firstTotal = 0, laterTotal = 0, host = 0;
  bool kept = false;
  std::string openHolds, unloadedHolds;
};

TSummary Summarise(const std::vector<TProcessResult>& results) {
  TSummary summary;
  std::vector<double> firstTotals, hosts;
  std::vector<double> firstSteps[kSteps];
  double laterSum[kSteps] = {}, laterTotal = 0;
  int laterCount = 0;
  for (const TProcessResult& result : results) {
    if (result.rounds.empty()) continue;
    summary.kept = summary.kept || result.kept;
    summary.openHolds = result.openHolds;
    summary.unloadedHolds = result.unloadedHolds;
    hosts.push_back(result.host);
    firstTotals.push_back(result.rounds[0].Total());
    for (int s = 0; s < kSteps; ++s) firstSteps[s].push_back(result.rounds[0].step[s]);
    for (size_t i = 1; i < result.rounds.size(); ++i) {
      for (int s = 0; s < kSteps; ++s) laterSum[s] += result.rounds[i].step[s];
      laterTotal += result.rounds[i].Total();
      ++laterCount;
    }
  }
  for (int s = 0; s < kSteps; ++s) {
    summary.first.step[s] = Median(firstSteps[s]);
    summary.later.step[s] = laterCount ? laterSum[s] / laterCount : 0;
  }
  summary.firstTotal = Median(firstTotals);
  summary.laterTotal = laterCount ? laterTotal / laterCount : 0;
  summary.host = Median(hosts);
  return summary;
}

void PrintRow(const char* label, const TRound& round, double total) {
  std::printf("  %-28s", label);
  for (double s : round.step) std::printf(" %9.2f", s);
  std::printf(" %9.2f\n", total);
}

bool RunHost(const std::string& plugin, bool guiHost) {
  const std::string folder = ProgramFolder();
  struct TSubject {
    const char* label;
    std::string path;
    std::vector<TProcessResult> results;
  };
  TSubject subjects[] = {{"TarvikKBLDelay", plugin, {}},
                         {"trivial", folder + "trivialplugin.dll", {}},
                         {"trivial + data folder", folder + "trivialfolderplugin.dll", {}}};
  // Taken in turns, so that a busy machine weighs on all alike.
  for (int p = 0; p < kProcesses; ++p) {
    for (int k = 0; k < 3; ++k) {
      TSubject& subject = subjects[(p + k) % 3];
      TProcessResult result = RunProcess(subject.path, kRounds, guiHost);
      if (!result.error.empty()) {
        std::printf("%s: %s\n", subject.label, result.error.c_str());
        return false;
      }
      subject.results.push_back(std::move(result));
    }
  }
  const TSummary a = Summarise(subjects[0].results);
  const TSummary b = Summarise(subjects[1].results);
  const TSummary c = Summarise(subjects[2].results);
  if (guiHost) {
    std::printf("GUI host (its system DLLs loaded before the first round, %.2f ms, not counted)\n", a.host);
  } else {
    std::printf("Bare host (kernel32 only: the system DLLs a plug-in needs are loaded for it)\n");
  }
  std::printf("  first instance of a process: median of %d processes; later rounds: mean of %d; ms\n", kProcesses,
              kProcesses * (kRounds - 1));
  std::printf("  %-28s", "");
  for (const char* name : kStepNames) std::printf(" %9.9s", name);
  std::printf(" %9s\n", "total");
  for (int later = 0; later < 2; ++later) {
    for (int i = 0; i < 3; ++i) {
      const TSummary& s = i == 0 ? a : i == 1 ? b : c;
      char label[64];
      std::snprintf(label, sizeof label, "%s %s", subjects[i].label, later ? "later" : "first");
      PrintRow(label, later ? s.later : s.first, later ? s.laterTotal : s.firstTotal);
    }
  }
  std::printf("  first instance: %.2f ms against %.2f ms for the trivial plug-in: %.2f ms more\n", a.firstTotal,
              b.firstTotal, a.firstTotal - b.firstTotal);
  std::printf("  later rounds:   %.2f ms against %.2f ms for the trivial plug-in: %.2f ms more\n", a.laterTotal,
              b.laterTotal, a.laterTotal - b.laterTotal);
  // The user's data folder comes from the shell (SHGetFolderPathA), which brings user32 and
  // gdi32 into a process that has none: the share of that in the figures above.
  std::printf("  a trivial plug-in that asks the shell for the user's data folder: %.2f ms more (first), "
              "%.2f ms more (later)\n",
              c.firstTotal - b.firstTotal, c.laterTotal - b.laterTotal);
  std::printf("  TarvikKBLDelay beyond that one: %.2f ms (first), %.2f ms (later)\n", a.firstTotal - c.firstTotal,
              a.laterTotal - c.laterTotal);
  if (!guiHost) {
    std::printf("  system DLLs held while the plug-in is open: %s\n", a.openHolds.c_str());
    std::printf("  system DLLs held after it is unloaded:      %s\n", a.unloadedHolds.c_str());
  }
  if (a.kept) std::printf("  note: TarvikKBLDelay.dll stayed loaded after FreeLibrary\n");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--rounds") == 0)
    return RunRounds(argv[4], std::atoi(argv[2]), std::strcmp(argv[3], "gui") == 0);
  // Another build of the plug-in may be named on the command line.
  const std::string plugin = argc == 2 ? std::string(argv[1]) : ProgramFolder() + "..\\..\\TarvikKBLDelay.dll";
  if (!RunHost(plugin, false)) return 1;
  std::printf("\n");
  return RunHost(plugin, true) ? 0 : 1;
}
