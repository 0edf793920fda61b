// Randomised host sessions through the real plug-in DLL. Each step is one thing a host does:
// make or close a plug-in (with its editor open or not), open, idle and close editors in every
// order (twice, without idle, without a window, after the host window went), drag knobs and click
// switches and hot spots while the host sets parameters, save and load chunks (also garbled),
// change the sample rate and block size, process blocks of 0, 1, odd and large lengths with NaN,
// infinite and denormal input, send MIDI, suspend and resume, process on an audio thread of its
// own while the editor and the host's automation run, and close every plug-in so that the DLL is
// unloaded and loaded again. After every step: no exception log, the host's process state as it
// was, no parameter moved by an editor action that sets none. When a plug-in closes, its audio
// is compared with a replay of its host calls in a plug-in without an editor.
#include "HostSession.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "Emulation.h"
#include "editor/MenuProbe.h"
#include "plugin/EditorPlaces.h"
#include "tools/vsthost/EditorWindow.h"
#include "tools/vsthost/VstHost.h"

namespace {

constexpr int32_t kEditorWidth = 450, kEditorHeight = 494;
constexpr int32_t kMaxInstances = 3;
// A step that takes longer than this has stalled the host (Wine's first GDI+ start takes a
// second or two; a modal dialog never ends).
constexpr int64_t kStallMilliseconds = 30000;

// --- Reproducible choices: xorshift64*, the same sequence in every build.

class TRandom {
 public:
  explicit TRandom(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
  uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
  }
  uint32_t Below(uint32_t n) { return n ? static_cast<uint32_t>(Next() % n) : 0; }
  int32_t Between(int32_t low, int32_t high) { return low + static_cast<int32_t>(Below(high - low + 1)); }
  bool Chance(uint32_t percent) { return Below(100) < percent; }
  float Unit() { return static_cast<float>(Next() >> 40) / static_cast<float>(1 << 24); }
  template <class T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }
  template <class T>
  T Pick(std::initializer_list<T> items) {
    return items.begin()[Below(static_cast<uint32_t>(items.size()))];
  }

 private:
  uint64_t state_;
};

// --- The trace of the running session, read by the watchdog and the crash filter

class TTrace {
 public:
  void Begin(uint64_t seed) {
    std::lock_guard<std::mutex> guard(lock_);
    seed_ = seed;
    step_ = 0;
    recent_.clear();
    Touch();
  }
  void Step(const std::string& what) {
    std::lock_guard<std::mutex> guard(lock_);
    ++step_;
    recent_.push_back(std::to_string(step_) + ": " + what);
    if (recent_.size() > 40) recent_.pop_front();
    Touch();
  }
  // Marks progress inside a long step.
  void Touch() { last_ = Now(); }
  int64_t Idle() const { return Now() - last_.load(); }
  bool Active() const { return active_; }
  void SetActive(bool on) { active_ = on; }
  std::string Text() {
    std::unique_lock<std::mutex> guard(lock_, std::try_to_lock);
    std::string text = "seed " + std::to_string(seed_) + ", step " + std::to_string(step_) + "; the last steps:\n";
    if (!guard.owns_lock()) return text + "  (busy)\n";
    for (const std::string& line : recent_) text += "  " + line + "\n";
    return text;
  }

 private:
  static int64_t Now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  std::mutex lock_;
  uint64_t seed_ = 0;
  int64_t step_ = 0;
  std::deque<std::string> recent_;
  std::atomic<int64_t> last_{0};
  std::atomic<bool> active_{false};
};

TTrace& Trace() {
  static TTrace trace;
  return trace;
}

BOOL CALLBACK DescribeWindow(HWND window, LPARAM data) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId()) return TRUE;
  char name[128] = {}, title[256] = {};
  GetClassNameA(window, name, sizeof name);
  GetWindowTextA(window, title, sizeof title);
  *reinterpret_cast<std::string*>(data) +=
      std::string("  ") + name + " \"" + title + "\"" + (IsWindowVisible(window) ? " visible" : "") + "\n";
  return TRUE;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

std::string TopLevelWindows() {
  std::string text = "top-level windows of the process:\n";
  EnumWindows(&DescribeWindow, reinterpret_cast<LPARAM>(&text));
  return text;
}

[[noreturn]] void EndProcess(const std::string& why) {
  std::fprintf(stderr, "\nhost session: %s\n%s%s", why.c_str(), Trace().Text().c_str(), TopLevelWindows().c_str());
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  std::abort();
}

// The host's own last-chance filter: a crash ends the test with the session's trace.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pointers) {
  char text[160] = "a crash";
  if (pointers && pointers->ExceptionRecord) {
    const EXCEPTION_RECORD& r = *pointers->ExceptionRecord;
    HMODULE module = nullptr;
    char file[MAX_PATH] = "?";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(r.ExceptionAddress), &module))
      GetModuleFileNameA(module, file, sizeof file);
    std::snprintf(text, sizeof text, "crash 0x%08lX at %p in %s", r.ExceptionCode, r.ExceptionAddress, file);
  }
  EndProcess(text);
}

// Ends a stalled session: a step that never returns (a hang, a dead lock, a modal dialog).
class TWatchdog {
 public:
  TWatchdog() : thread_([this] { Run(); }) {}
  ~TWatchdog() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Run() {
    while (!stop_) {
      Sleep(100);
      if (Trace().Active() && Trace().Idle() > static_cast<int64_t>(MachineBound(kStallMilliseconds)))
        EndProcess("stalled for " + std::to_string(Trace().Idle() / 1000) + " s");
    }
  }
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// --- The host's process state that a plug-in must leave as it found it

struct THostState {
  uint16_t fpuControl = 0;
  uint32_t mxcsr = 0;
  std::string directory, locale;
  LCID threadLocale = 0;
  UINT errorMode = 0;
  int cursorCount = 0;
  HWND capture = nullptr;

  static THostState Now() {
    THostState s;
    asm volatile("fnstcw %0" : "=m"(s.fpuControl));
    s.mxcsr = __builtin_ia32_stmxcsr() & ~0x3Fu;  // the controls, not the sticky exception flags
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    s.directory = folder;
    const char* locale = std::setlocale(LC_ALL, nullptr);
    s.locale = locale ? locale : "";
    s.threadLocale = GetThreadLocale();
    s.errorMode = SetErrorMode(0);
    SetErrorMode(s.errorMode);
    s.cursorCount = ShowCursor(TRUE) - 1;
    ShowCursor(FALSE);
    s.capture = GetCapture();
    return s;
  }
  // What differs from `before`, empty when nothing.
  std::string ChangesSince(const THostState& before) const {
    std::ostringstream out;
    if (fpuControl != before.fpuControl) out << " x87 control word " << before.fpuControl << " -> " << fpuControl;
    if (mxcsr != before.mxcsr) out << " MXCSR " << before.mxcsr << " -> " << mxcsr;
    if (directory != before.directory) out << " current folder " << before.directory << " -> " << directory;
    if (locale != before.locale) out << " C locale " << before.locale << " -> " << locale;
    if (threadLocale != before.threadLocale) out << " thread locale " << before.threadLocale << " -> " << threadLocale;
    if (errorMode != before.errorMode) out << " error mode " << before.errorMode << " -> " << errorMode;
    if (cursorCount != before.cursorCount) out << " cursor count " << before.cursorCount << " -> " << cursorCount;
    if (capture != before.capture) out << " mouse capture " << before.capture << " -> " << capture;
    return out.str();
  }
};

// --- Audio: what reaches the audio path, made again in the replay

enum TInput { kSine, kNoise, kSilence, kNaN, kDenormal, kInfinity, kLoud, kInputKinds };

bool FiniteInput(int input) { return input != kNaN && input != kInfinity; }

struct TAudioStep {
  enum TKind { kParameter, kEditorParameter, kExpect, kChunk, kSampleRate, kBlockSize, kMains, kMidi, kProcess };
  explicit TAudioStep(TKind k) : kind(k) {}
  TKind kind;
  VstInt32 index = 0;
  float value = 0;
  std::string bytes;
  std::vector<VstMidiEvent> midi;
  VstInt32 frames = 0;
  uint64_t seed = 0;
  int input = kSine;
  VstInt32 transport = 0;
  double position = 0;
  float parameters[kParameterCount] = {};
  uint64_t output = 0;  // hash of what a block wrote
};

std::vector<float> Parameters(TVstHost& host) {
  std::vector<float> values(kParameterCount);
  for (VstInt32 i = 0; i < kParameterCount; ++i) values[i] = host.GetParameter(i);
  return values;
}

void FillInput(std::vector<float>& channel, int input, uint64_t seed, int channelIndex) {
  TRandom random(seed * 2 + channelIndex);
  for (size_t i = 0; i < channel.size(); ++i) {
    const double t = static_cast<double>(i + seed % 1000);
    switch (input) {
      case kSine: channel[i] = static_cast<float>(0.7 * std::sin(t * (0.03 + 0.01 * channelIndex))); break;
      case kNoise: channel[i] = random.Unit() * 2 - 1; break;
      case kSilence: channel[i] = 0.0f; break;
      case kNaN: channel[i] = random.Chance(10) ? std::nanf("") : random.Unit() - 0.5f; break;
      case kDenormal: channel[i] = (random.Chance(50) ? 1 : -1) * 1e-39f * random.Unit(); break;
      case kInfinity: channel[i] = random.Chance(5) ? (random.Chance(50) ? INFINITY : -INFINITY) : 0.25f; break;
      default: channel[i] = (random.Unit() * 2 - 1) * 8.0f; break;
    }
  }
}

uint64_t Hash(uint64_t hash, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001B3ull;
  return hash;
}

// One block through the record's replacing entry; answers the hash of what it wrote, or sets
// `fault` when a block of finite input gave non-finite output or the plug-in wrote nothing.
uint64_t ProcessBlock(TVstHost& host, const TAudioStep& step, std::string& fault) {
  host.timeInfo.flags = step.transport;
  host.timeInfo.samplePos = step.position;
  host.timeInfo.ppqPos = step.position / std::max(1.0, host.timeInfo.sampleRate) * 2.0;
  host.timeInfo.barStartPos = std::floor(host.timeInfo.ppqPos / 4.0) * 4.0;
  const size_t frames = static_cast<size_t>(step.frames);
  std::vector<std::vector<float>> in(2, std::vector<float>(frames + 1)), out(2, std::vector<float>(frames + 1, 7.0f));
  for (int c = 0; c < 2; ++c) FillInput(in[c], step.input, step.seed, c);
  float* ins[2] = {in[0].data(), in[1].data()};
  float* outs[2] = {out[0].data(), out[1].data()};
  host.ProcessReplacing(ins, outs, step.frames);
  uint64_t hash = 0xCBF29CE484222325ull;
  for (int c = 0; c < 2; ++c) {
    if (out[c][frames] != 7.0f) fault = "the block wrote past its end";
    for (size_t i = 0; i < frames; ++i) {
      if (FiniteInput(step.input) && !std::isfinite(out[c][i]))
        fault = "finite input gave non-finite output at frame " + std::to_string(i);
    }
    hash = Hash(hash, out[c].data(), frames * sizeof(float));
  }
  return hash;
}

// A VST 2 system-exclusive event (type 6), as hosts send it beside MIDI events.
struct TSysExEvent {
  VstInt32 type, byteSize, deltaFrames, flags, dumpBytes;
  VstIntPtr reserved1;
  char* sysexDump;
  VstIntPtr reserved2;
};

void SendEvents(TVstHost& host, const std::vector<VstMidiEvent>& midi, bool withSysEx) {
  static char dump[] = {static_cast<char>(0xF0), 0x7E, 0x7F, 0x06, 0x01, static_cast<char>(0xF7)};
  TSysExEvent sysex{kVstSysExType, static_cast<VstInt32>(sizeof(TSysExEvent)), 0, 0, sizeof dump, 0, dump, 0};
  std::vector<VstMidiEvent> copies = midi;
  std::vector<VstIntPtr> block(2 + copies.size() + 2, 0);
  auto* events = reinterpret_cast<VstEvents*>(block.data());
  for (VstMidiEvent& e : copies) events->events[events->numEvents++] = reinterpret_cast<VstEvent*>(&e);
  if (withSysEx) events->events[events->numEvents++] = reinterpret_cast<VstEvent*>(&sysex);
  host.Dispatch(effProcessEvents, 0, 0, events);
}

// Makes the host call of an audio step. `fault` is set when what the plug-in did is wrong.
uint64_t Apply(TVstHost& host, const TAudioStep& step, std::string& fault) {
  switch (step.kind) {
    case TAudioStep::kParameter:
    case TAudioStep::kEditorParameter: host.SetParameter(step.index, step.value); return 0;
    case TAudioStep::kExpect: {
      const std::vector<float> now = Parameters(host);
      for (VstInt32 i = 0; i < kParameterCount; ++i)
        if (now[i] != step.parameters[i])
          fault = "parameter " + std::to_string(i) + " is " + std::to_string(now[i]) + " where the editor left " +
                  std::to_string(step.parameters[i]);
      return 0;
    }
    case TAudioStep::kChunk:
      if (step.index) return host.Dispatch(effSetChunk, 0, 0, nullptr);
      return host.SetChunk(step.bytes);
    case TAudioStep::kSampleRate:
      host.timeInfo.sampleRate = step.value;
      return host.Dispatch(effSetSampleRate, 0, 0, nullptr, step.value);
    case TAudioStep::kBlockSize: return host.Dispatch(effSetBlockSize, 0, step.frames);
    case TAudioStep::kMains: return host.Dispatch(effMainsChanged, 0, step.index);
    case TAudioStep::kMidi: SendEvents(host, step.midi, step.index != 0); return 0;
    case TAudioStep::kProcess: return ProcessBlock(host, step, fault);
  }
  return 0;
}

// --- One plug-in of the session

struct TInstance {
  std::unique_ptr<TVstHost> host;
  float rate = 44100, startRate = 44100;
  VstInt32 block = 512, startBlock = 512;
  HWND frame = nullptr;     // the host's window for the editor
  bool editorOpen = false;  // as the host sees it: opened and not yet closed
  bool threaded = false;    // processed on an audio thread at times: its audio is not replayed
  double position = 0;
  std::vector<TAudioStep> audio;
};

std::unique_ptr<TVstHost> MakePlugin(const std::string& dllPath, float rate, VstInt32 block) {
  auto host = std::make_unique<TVstHost>(dllPath);
  host->Start(rate, block);
  return host;
}

const wchar_t kFrameClass[] = L"KblSessionHostFrame";

void RegisterFrameClass() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = kFrameClass;
  RegisterClassW(&wc);  // a second registration fails harmlessly
}

// The host's main window, made once: most hosts show an editor in a child window of their own.
// (Destroying a top-level window takes seconds under an X server without a window manager, so
// the session makes few.)
HWND HostMainWindow() {
  static HWND main = [] {
    RegisterFrameClass();
    return CreateWindowExW(0, kFrameClass, L"host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0, 1100,
                           800, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  }();
  return main;
}

// A window for an editor: a child of the host's main window, or a top-level window of its own.
HWND MakeHostWindow(int32_t slot, bool topLevel) {
  RegisterFrameClass();
  const DWORD style = (topLevel ? WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU : WS_CHILD) | WS_CLIPCHILDREN | WS_VISIBLE;
  RECT frame{0, 0, kEditorWidth, kEditorHeight + 1};
  AdjustWindowRect(&frame, style, FALSE);
  return CreateWindowExW(0, kFrameClass, L"editor", style, 20 + 160 * slot, 20 + 40 * slot, frame.right - frame.left,
                         frame.bottom - frame.top, topLevel ? nullptr : HostMainWindow(), nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

// The log file the exception library writes for the DLL: beside it, or in the current folder
// when the DLL was named without a folder.
std::vector<std::string> ExceptionLogPaths(const std::string& dllPath) {
  std::string stem = dllPath.substr(0, dllPath.find_last_of('.')) + ".elf";
  const size_t slash = stem.find_last_of("\\/");
  return {stem, slash == std::string::npos ? stem : stem.substr(slash + 1)};
}

bool FileExists(const std::string& name) { return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string FileHead(const std::string& name) {
  std::string text(4000, '\0');
  FILE* file = std::fopen(name.c_str(), "rb");
  if (!file) return std::string();
  text.resize(std::fread(text.data(), 1, text.size(), file));
  std::fclose(file);
  return text;
}

// --- The session

class THostSession {
 public:
  THostSession(const std::string& dllPath, uint64_t seed) : dllPath_(dllPath), random_(seed), seed_(seed) {}

  std::string Run(int32_t steps) {
    for (const std::string& log : ExceptionLogPaths(dllPath_)) DeleteFileA(log.c_str());
    baseline_ = THostState::Now();
    Trace().Begin(seed_);
    Trace().SetActive(true);
    for (int32_t step = 0; step < steps && failure_.empty(); ++step) {
      Step();
      CheckAfterStep();
    }
    while (!instances_.empty() && failure_.empty()) {
      CloseInstance(instances_.size() - 1, random_.Chance(50));
      CheckAfterStep();
    }
    Trace().SetActive(false);
    if (failure_.empty()) return std::string();
    return "seed " + std::to_string(seed_) + ": " + failure_ + "\n" + Trace().Text();
  }

 private:
  // --- Steps

  void Step() {
    if (instances_.empty() || (instances_.size() < kMaxInstances && random_.Chance(4))) return NewInstance();
    const size_t which = random_.Below(static_cast<uint32_t>(instances_.size()));
    TInstance& in = *instances_[which];
    const uint32_t roll = random_.Below(100);
    if (roll < 3) return CloseInstance(which, random_.Chance(30));
    if (roll < 4) return UnloadAll();
    if (roll < 16) return EditorWindowStep(which);
    if (roll < 34) return EditorInputStep(which);
    if (roll < 42) return HostParameterStep(in);
    if (roll < 48) return ChunkStep(in);
    if (roll < 52) return SettingsStep(in);
    if (roll < 56) return MidiStep(in);
    if (roll < 60) return OpcodeStep(in);
    if (roll < 63 && in.threaded) return AudioThreadStep(which);
    return ProcessStep(in, random_.Between(1, 2));
  }

  void NewInstance() {
    auto in = std::make_unique<TInstance>();
    in->rate = random_.Pick({44100.0f, 48000.0f, 22050.0f, 96000.0f, 11025.0f});
    in->block = random_.Pick({512, 64, 1, 333, 4096, 1024});
    in->threaded = random_.Chance(30);
    in->startRate = in->rate;
    in->startBlock = in->block;
    const bool worker = random_.Chance(20);
    Trace().Step("new plug-in " + std::to_string(instances_.size()) + " at " + std::to_string(in->rate) + " Hz, block " +
                 std::to_string(in->block) + (in->threaded ? ", with an audio thread" : "") +
                 (worker ? ", made on a thread that ends" : ""));
    // Some hosts make their plug-ins on a worker thread and show the editor on their GUI thread.
    if (worker) std::thread([&] { in->host = MakePlugin(dllPath_, in->rate, in->block); }).join();
    else in->host = MakePlugin(dllPath_, in->rate, in->block);
    instances_.push_back(std::move(in));
  }

  // Closes a plug-in as a host does: mostly the editor first, sometimes not; the host's window
  // goes afterwards. Its audio is compared with a replay first.
  void CloseInstance(size_t which, bool editorFirst) {
    TInstance& in = *instances_[which];
    if (!in.threaded) Replay(which);
    Trace().Step("close plug-in " + std::to_string(which) + (editorFirst ? " after its editor" : " with its editor as it is"));
    if (editorFirst && in.editorOpen) in.host->Dispatch(effEditClose);
    in.host.reset();
    if (in.frame) DestroyWindow(in.frame);
    instances_.erase(instances_.begin() + static_cast<ptrdiff_t>(which));
  }

  // Every plug-in closed: the DLL is unloaded, and what its exception library changed in the
  // process is back.
  void UnloadAll() {
    while (!instances_.empty() && failure_.empty()) CloseInstance(instances_.size() - 1, random_.Chance(70));
    Trace().Step("DLL unloaded");
    if (GetModuleHandleA(ModuleName().c_str()) != nullptr) return Fail("the DLL stayed loaded after its last plug-in");
    LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(&CrashFilter);
    if (current != &CrashFilter) Fail("the host's unhandled-exception filter was not put back");
  }

  // --- Editor windows: open, close, idle, the host window destroyed

  void EditorWindowStep(size_t which) {
    TInstance& in = *instances_[which];
    const std::string name = "plug-in " + std::to_string(which) + ": ";
    switch (random_.Below(9)) {
      case 7: {
        if (!in.frame) return;
        // The host resizes, hides, shows and repaints its window.
        const uint32_t what = random_.Below(4);
        Trace().Step(name + "host window " + (what == 0 ? "resized" : what == 1 ? "hidden" : what == 2 ? "shown" : "repainted"));
        if (what == 0)
          SetWindowPos(in.frame, nullptr, 0, 0, random_.Between(1, 700), random_.Between(1, 700),
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        else if (what == 1) ShowWindow(in.frame, SW_HIDE);
        else if (what == 2) ShowWindow(in.frame, SW_SHOWNA);
        else RedrawWindow(in.frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_ERASE);
        break;
      }
      case 0:
      case 1: {
        if (!in.frame) in.frame = MakeHostWindow(static_cast<int32_t>(which), random_.Chance(3));
        Trace().Step(name + (in.editorOpen ? "editor opened again" : "editor opened"));
        const VstIntPtr opened = in.host->Dispatch(effEditOpen, 0, 0, in.frame);
        if (!opened) return Fail("the editor did not open in a live window");
        in.editorOpen = true;
        if (!GetWindow(in.frame, GW_CHILD)) return Fail("the editor answered open but shows nothing in the host window");
        break;
      }
      case 2:
        Trace().Step(name + "editor closed" + (in.editorOpen ? "" : " without being open"));
        in.host->Dispatch(effEditClose);
        in.editorOpen = false;
        if (in.frame && GetWindow(in.frame, GW_CHILD)) return Fail("the closed editor left a window in the host's");
        break;
      case 3:
        Trace().Step(name + "host window destroyed" + (in.editorOpen ? " with the editor open" : ""));
        if (in.frame) DestroyWindow(in.frame);
        in.frame = nullptr;
        break;
      case 4: {
        // A host may hand over a window that is gone, or none.
        HWND gone = MakeHostWindow(3, false);
        DestroyWindow(gone);
        const bool none = random_.Chance(50);
        Trace().Step(name + (none ? "editor opened without a window" : "editor opened in a destroyed window"));
        if (in.editorOpen) return;  // an open editor answers 1 at once
        if (in.host->Dispatch(effEditOpen, 0, 0, none ? nullptr : gone) != 0)
          return Fail("the editor answered open without a window to open in");
        break;
      }
      case 5: {
        ERect* rect = nullptr;
        Trace().Step(name + "editor rectangle");
        in.host->Dispatch(effEditGetRect, 0, 0, &rect);
        if (!rect || rect->right - rect->left != kEditorWidth || rect->bottom - rect->top != kEditorHeight + 1)
          return Fail("the editor rectangle is not 450 x 495");
        break;
      }
      default: {
        const int32_t milliseconds = random_.Pick({0, 20, 60, 150});
        const bool idle = random_.Chance(80);
        Trace().Step(std::to_string(milliseconds) + " ms of messages" + (idle ? " and idle calls" : " without idle calls"));
        Pump(milliseconds, idle);
        break;
      }
    }
  }

  // Messages for every host window, with the editors' idle calls every 20 ms when `idle`.
  void Pump(int32_t milliseconds, bool idle) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    do {
      if (idle)
        for (auto& in : instances_)
          if (in->editorOpen) in->host->Dispatch(effEditIdle);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      if (Clock::now() >= end) break;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    } while (Clock::now() < end);
  }

  // --- Editor input: the mouse and the keys as a user gives them

  HWND EditorFrame(TInstance& in) { return in.editorOpen && in.frame && GetWindow(in.frame, GW_CHILD) ? in.frame : nullptr; }

  void Mouse(HWND frame, UINT message, int32_t x, int32_t y, WPARAM keys) {
    POINT point{x, y};
    HWND target = WindowAt(frame, point);
    SendMessageW(target, message, keys, MAKELPARAM(point.x, point.y));
  }

  void EditorInputStep(size_t which) {
    TInstance& in = *instances_[which];
    HWND frame = EditorFrame(in);
    if (!frame) return EditorWindowStep(which);
    const std::string name = "plug-in " + std::to_string(which) + ": ";
    const std::vector<std::vector<float>> before = AllParameters();
    bool setsParameters = true;
    switch (random_.Below(9)) {
      case 0:
      case 1: {
        const TKnobPlace& knob = random_.Pick(kKnobs);
        const int32_t up = random_.Between(-160, 160);
        const WPARAM keys = random_.Chance(30) ? MK_SHIFT : 0;
        Trace().Step(name + "knob " + knob.name + " dragged " + std::to_string(up) + (keys ? " with Shift" : ""));
        // One message to the window under the press: the knob captures the mouse there.
        POINT point{knob.left + 20, knob.top + 20};
        HWND target = WindowAt(frame, point);
        SendMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON | keys, MAKELPARAM(point.x, point.y));
        SendMessageW(target, WM_MOUSEMOVE, MK_LBUTTON | keys, MAKELPARAM(point.x, point.y - up));
        SendMessageW(target, WM_LBUTTONUP, keys, MAKELPARAM(point.x, point.y - up));
        break;
      }
      case 2: {
        const TSwitchPlace& place = random_.Pick(kSwitches);
        Trace().Step(name + "switch " + std::to_string(place.parameter) + " clicked");
        Mouse(frame, WM_LBUTTONDOWN, place.x, place.y, MK_LBUTTON);
        Mouse(frame, WM_LBUTTONUP, place.x, place.y, 0);
        break;
      }
      case 3: {
        const int32_t x = random_.Pick(kAboutHotSpotsX);
        Trace().Step(name + "about box hot spot clicked");
        Mouse(frame, WM_LBUTTONDOWN, x, kAboutHotSpotY, MK_LBUTTON);
        Mouse(frame, WM_LBUTTONUP, x, kAboutHotSpotY, 0);
        setsParameters = false;
        break;
      }
      case 4: {
        // A right click opens a knob's controller menu or the editor's menu; the probe chooses
        // an item (learn, unlearn, about) or dismisses it.
        const TKnobPlace& knob = random_.Pick(kKnobs);
        const bool onKnob = random_.Chance(60);
        const int32_t x = onKnob ? knob.left + 20 : random_.Below(kEditorWidth);
        const int32_t y = onKnob ? knob.top + 20 : random_.Below(kEditorHeight);
        const int pick = random_.Chance(40) ? static_cast<int>(random_.Below(2)) : -1;
        Trace().Step(name + "right click at " + std::to_string(x) + "," + std::to_string(y) + ", menu item " +
                     std::to_string(pick));
        TMenuProbe probe(pick);
        Mouse(frame, WM_RBUTTONDOWN, x, y, MK_RBUTTON);
        Mouse(frame, WM_RBUTTONUP, x, y, 0);
        setsParameters = false;
        break;
      }
      case 5: {
        const int32_t x = random_.Below(kEditorWidth), y = random_.Below(kEditorHeight);
        const UINT message = random_.Pick({WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEWHEEL,
                                           WM_LBUTTONDBLCLK, WM_MOUSELEAVE});
        Trace().Step(name + "mouse message " + std::to_string(message) + " at " + std::to_string(x) + "," +
                     std::to_string(y));
        POINT point{x, y};
        HWND target = WindowAt(frame, point);
        const WPARAM wheel = message == WM_MOUSEWHEEL ? MAKEWPARAM(0, random_.Chance(50) ? 120 : -120) : 0;
        SendMessageW(target, message, wheel, MAKELPARAM(point.x, point.y));
        if (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK) SendMessageW(target, WM_LBUTTONUP, 0, MAKELPARAM(point.x, point.y));
        break;
      }
      case 6: {
        // Keys typed while the editor has the focus.
        const int32_t x = random_.Below(kEditorWidth), y = random_.Below(kEditorHeight);
        POINT point{x, y};
        HWND target = WindowAt(frame, point);
        const WPARAM key = random_.Pick<WPARAM>({VK_LEFT, VK_UP, VK_DOWN, VK_TAB, VK_ESCAPE, VK_RETURN, VK_SPACE, 'A',
                                                 VK_DELETE, VK_HOME, VK_END, VK_PRIOR});
        Trace().Step(name + "key " + std::to_string(key) + " typed into the window at " + std::to_string(x) + "," +
                     std::to_string(y));
        SetFocus(target);
        SendMessageW(target, WM_KEYDOWN, key, 1);
        if (key >= 'A' || key == VK_SPACE) SendMessageW(target, WM_CHAR, key, 1);
        SendMessageW(target, WM_KEYUP, key, 0xC0000001);
        break;
      }
      case 7: {
        // What the system and the host send an editor's windows now and then.
        const UINT message = random_.Pick<UINT>({WM_SETTINGCHANGE, WM_SYSCOLORCHANGE, WM_DISPLAYCHANGE, WM_THEMECHANGED,
                                                 WM_CANCELMODE, WM_ACTIVATEAPP, WM_KILLFOCUS, WM_SETFOCUS,
                                                 WM_CAPTURECHANGED, WM_ENABLE, WM_PAINT});
        Trace().Step(name + "message " + std::to_string(message) + " to every editor window");
        std::vector<HWND> windows;
        EnumChildWindows(frame, &CollectWindow, reinterpret_cast<LPARAM>(&windows));
        for (HWND w : windows)
          if (IsWindow(w)) SendMessageW(w, message, message == WM_ENABLE, 0);
        if (message == WM_ENABLE)
          for (HWND w : windows)
            if (IsWindow(w)) SendMessageW(w, message, TRUE, 0);
        setsParameters = false;
        break;
      }
      default: {
        const int key = random_.Pick<int>({'a', ' ', 0, '+', '-'});
        const VstIntPtr virtualKey = random_.Pick<VstIntPtr>({0, 1, 2, 11, 12, 13, 14});  // none, back, tab, left, up, right, down
        Trace().Step(name + "host key " + std::to_string(key) + "/" + std::to_string(virtualKey));
        in.host->Dispatch(effEditKeyDown, key, virtualKey, nullptr, random_.Below(4));
        in.host->Dispatch(effEditKeyUp, key, virtualKey, nullptr, 0);
        break;
      }
    }
    AfterEditorAction(which, before, setsParameters);
  }

  std::vector<std::vector<float>> AllParameters() {
    std::vector<std::vector<float>> all;
    for (auto& in : instances_) all.push_back(in->threaded ? std::vector<float>() : Parameters(*in->host));
    return all;
  }

  // An editor action changes only the parameters of its own plug-in, and only when it sets any;
  // the changes reach the replay as host parameter calls, with the values the plug-in then holds.
  void AfterEditorAction(size_t which, const std::vector<std::vector<float>>& before, bool setsParameters) {
    for (size_t i = 0; i < instances_.size() && i < before.size(); ++i) {
      TInstance& in = *instances_[i];
      if (in.threaded) continue;
      const std::vector<float> now = Parameters(*in.host);
      if (now == before[i]) continue;
      if (i != which || !setsParameters) {
        for (VstInt32 p = 0; p < kParameterCount; ++p)
          if (now[p] != before[i][p])
            return Fail("plug-in " + std::to_string(i) + "'s parameter " + std::to_string(p) + " moved from " +
                        std::to_string(before[i][p]) + " to " + std::to_string(now[p]));
      }
      // The order a saved state is restored in: modes, regions, levels, then the switches.
      for (VstInt32 p : {kSlave, kFixed, kPlayStart, kPlayEnd, kRecordStart, kRecordEnd, kRate, kInput, kFeedBack, kMix,
                         kPlay, kRecord}) {
        if (now[p] == before[i][p]) continue;
        TAudioStep step{TAudioStep::kEditorParameter};
        step.index = p;
        step.value = now[p];
        in.audio.push_back(step);
      }
      TAudioStep expect{TAudioStep::kExpect};
      std::copy(now.begin(), now.end(), expect.parameters);
      in.audio.push_back(expect);
    }
  }

  // --- Host calls on the audio path

  void Record(TInstance& in, TAudioStep step) {
    std::string fault;
    step.output = Apply(*in.host, step, fault);
    if (!fault.empty()) return Fail(fault);
    if (!in.threaded) in.audio.push_back(std::move(step));
  }

  void HostParameterStep(TInstance& in) {
    TAudioStep step{TAudioStep::kParameter};
    step.index = random_.Chance(90) ? random_.Below(kParameterCount) : random_.Pick({-1, 12, 1000});
    step.value = random_.Chance(80) ? random_.Unit()
                                    : random_.Pick({0.0f, 1.0f, 0.5f, -0.5f, 1.5f, std::nanf(""), INFINITY, 1e-40f});
    Trace().Step("host sets parameter " + std::to_string(step.index) + " to " + std::to_string(step.value));
    Record(in, step);
    if (random_.Chance(30)) {
      char text[256];
      for (VstInt32 p = -1; p <= kParameterCount; ++p)
        for (VstInt32 opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
          std::memset(text, 0x55, sizeof text);
          text[0] = '\0';  // a request left unanswered leaves it empty
          in.host->Dispatch(opcode, p, 0, text);
          if (strnlen(text, sizeof text) > 8) return Fail("a parameter text longer than 8 characters");
        }
    }
  }

  void ChunkStep(TInstance& in) {
    if (random_.Chance(40)) {
      Trace().Step("host saves the chunk");
      const std::string chunk = in.host->GetChunk();
      if (chunk.rfind("[Delay_Parameters]", 0) != 0) return Fail("the chunk does not begin with its section");
      chunks_.push_back(chunk);
      return;
    }
    TAudioStep step{TAudioStep::kChunk};
    const uint32_t kind = random_.Below(6);
    if (kind == 0 && !chunks_.empty()) {
      step.bytes = chunks_[random_.Below(static_cast<uint32_t>(chunks_.size()))];
    } else if (kind == 1 && !chunks_.empty()) {
      step.bytes = chunks_[random_.Below(static_cast<uint32_t>(chunks_.size()))];
      step.bytes.resize(random_.Below(static_cast<uint32_t>(step.bytes.size())));
    } else if (kind == 2) {
      step.bytes.resize(random_.Below(300));
      for (char& c : step.bytes) c = static_cast<char>(random_.Below(256));
    } else if (kind == 3) {
      step.bytes = "[Delay_Parameters]\r\nParameter_" + std::to_string(random_.Between(-2, 13)) + "=" +
                   random_.Pick({"999999999999", "-5", "abc", "", "500", "2147483648", "1e3", " 700 "}) + "\r\n";
    } else if (kind == 4) {
      step.index = 1;  // no data at all
    } else {
      step.bytes = std::string(random_.Below(3) + 1, '[') + std::string(random_.Below(100000), '=');
    }
    Trace().Step("host loads a chunk of " + std::to_string(step.bytes.size()) + " bytes (kind " + std::to_string(kind) + ")");
    Record(in, step);
  }

  // Sample rate, block size, suspend and resume, with or without the host suspending first.
  void SettingsStep(TInstance& in) {
    const bool suspend = random_.Chance(60);
    TAudioStep off{TAudioStep::kMains}, on{TAudioStep::kMains};
    on.index = 1;
    if (suspend) Record(in, off);
    switch (random_.Below(3)) {
      case 0: {
        TAudioStep step{TAudioStep::kSampleRate};
        step.value = random_.Pick({44100.0f, 48000.0f, 8000.0f, 192000.0f, 22050.0f, 44100.5f});
        Trace().Step("sample rate " + std::to_string(step.value) + (suspend ? " while suspended" : ""));
        in.rate = step.value;
        Record(in, step);
        break;
      }
      case 1: {
        TAudioStep step{TAudioStep::kBlockSize};
        step.frames = random_.Pick({1, 32, 100, 512, 2048, 8192});
        Trace().Step("block size " + std::to_string(step.frames) + (suspend ? " while suspended" : ""));
        in.block = step.frames;
        Record(in, step);
        break;
      }
      default:
        Trace().Step(suspend ? "suspended" : "resumed while running");
        if (suspend && random_.Chance(50)) ProcessStep(in, 1);  // some hosts go on processing
        break;
    }
    if (suspend || random_.Chance(30)) Record(in, on);
  }

  void MidiStep(TInstance& in) {
    TAudioStep step{TAudioStep::kMidi};
    const uint32_t count = random_.Below(6);
    for (uint32_t i = 0; i < count; ++i) {
      VstMidiEvent e{};
      e.type = kVstMidiType;
      e.byteSize = sizeof(VstMidiEvent);
      e.deltaFrames = random_.Chance(90) ? random_.Below(static_cast<uint32_t>(in.block)) : random_.Between(-5, 100000);
      e.midiData[0] = static_cast<char>(random_.Pick({0x90, 0x80, 0xB0, 0xC0, 0xE0, 0xF8, 0xFF, 0x00}) | random_.Below(16));
      e.midiData[1] = static_cast<char>(random_.Below(256));
      e.midiData[2] = static_cast<char>(random_.Below(256));
      // Control changes use the channel-mode controllers, which learning never takes: another
      // controller would move parameters through the map shared with the replay's plug-in, whose
      // bindings by then are those the session ended with (the controller tests cover them).
      if ((e.midiData[0] & 0xF0) == 0xB0) e.midiData[1] = static_cast<char>(120 + (e.midiData[1] & 7));
      step.midi.push_back(e);
    }
    step.index = random_.Chance(20) ? 1 : 0;
    Trace().Step("host sends " + std::to_string(count) + " MIDI events" + (step.index ? " and a system-exclusive one" : ""));
    Record(in, step);
    ProcessStep(in, 1);
  }

  void ProcessStep(TInstance& in, int32_t blocks) {
    for (int32_t b = 0; b < blocks && failure_.empty(); ++b) {
      TAudioStep step{TAudioStep::kProcess};
      const uint32_t length = random_.Below(10);
      step.frames = length == 0 ? 0 : length == 1 ? 1 : length == 2 ? random_.Between(2, 40000) : random_.Between(1, in.block);
      step.input = random_.Chance(80) ? random_.Pick({kSine, kNoise, kSilence}) : static_cast<int>(random_.Below(kInputKinds));
      step.seed = random_.Next();
      const uint32_t transport = random_.Below(20);
      step.transport = kVstTempoValid | kVstPpqPosValid | kVstBarsValid | kVstTimeSigValid |
                       (transport == 0 ? kVstTransportChanged : transport == 1 ? kVstTransportChanged | kVstTransportPlaying
                                                                               : kVstTransportPlaying);
      step.position = in.position;
      in.position += step.frames;
      Trace().Step("block of " + std::to_string(step.frames) + " frames, input " + std::to_string(step.input) +
                   ", transport " + std::to_string(step.transport));
      Record(in, step);
    }
  }

  // Opcodes a host sends now and then, with proper buffers.
  void OpcodeStep(TInstance& in) {
    Trace().Step("program, pin, name and capability requests");
    char text[512];
    std::string name(random_.Below(200), 'n');
    in.host->Dispatch(effSetProgramName, 0, 0, name.data());
    for (VstInt32 opcode : {effGetProgramName, effGetEffectName, effGetVendorString, effGetProductString}) {
      std::memset(text, 0x55, sizeof text);
      text[0] = '\0';
      in.host->Dispatch(opcode, 0, 0, text);
      if (strnlen(text, sizeof text) > 64) return Fail("a text of opcode " + std::to_string(opcode) + " ran past 64 characters");
    }
    VstPinProperties pin;
    for (VstInt32 i = -1; i < 4; ++i) {
      in.host->Dispatch(effGetInputProperties, i, 0, &pin);
      in.host->Dispatch(effGetOutputProperties, i, 0, &pin);
    }
    std::string ask(random_.Below(40), static_cast<char>('a' + random_.Below(26)));
    in.host->CanDo(ask);
    for (VstInt32 opcode : {effGetProgram, effGetVstVersion, effGetTailSize, effGetPlugCategory, effIdle,
                            effStartProcess, effStopProcess, effGetNumMidiInputChannels, effKeysRequired})
      in.host->Dispatch(opcode);
    in.host->Dispatch(effSetProgram, 0, random_.Between(-1, 20));
  }

  // Audio in real time on a thread of its own with the host's automation on another, while the
  // user works the editor and the host saves and loads chunks.
  void AudioThreadStep(size_t which) {
    TInstance& in = *instances_[which];
    Trace().Step("plug-in " + std::to_string(which) + ": audio thread and host automation start");
    std::vector<float> source(4410);
    FillInput(source, kSine, 1, 0);
    TAudioThread audio(*in.host, {source, source}, in.rate, std::max<VstInt32>(64, in.block));
    std::atomic<bool> stop{false};
    std::thread automation([&stop, host = in.host.get(), seed = random_.Next()] {
      TRandom random(seed);
      while (!stop) {
        host->SetParameter(static_cast<VstInt32>(random.Below(kParameterCount)), random.Unit());
        Sleep(1);
      }
    });
    const int32_t actions = random_.Between(3, 12);
    for (int32_t i = 0; i < actions && failure_.empty(); ++i) {
      switch (random_.Below(4)) {
        case 0: EditorInputStep(which); break;
        case 1: EditorWindowStep(which); break;
        case 2: ChunkStep(in); break;
        default: Trace().Step("messages and idle calls"); Pump(random_.Between(10, 120), true); break;
      }
    }
    stop = true;
    automation.join();
    audio.Stop();
    Trace().Step("plug-in " + std::to_string(which) + ": audio thread stopped after " + std::to_string(audio.Blocks()) + " blocks");
  }

  // --- Replay: the same host calls in a plug-in without an editor give the same audio

  void Replay(size_t which) {
    TInstance& in = *instances_[which];
    if (in.audio.empty() || !failure_.empty()) return;
    Trace().Step("plug-in " + std::to_string(which) + ": replay of " + std::to_string(in.audio.size()) + " audio steps");
    std::unique_ptr<TVstHost> replay = MakePlugin(dllPath_, in.startRate, in.startBlock);
    for (size_t i = 0; i < in.audio.size(); ++i) {
      const TAudioStep& step = in.audio[i];
      std::string fault;
      const uint64_t output = Apply(*replay, step, fault);
      if (!fault.empty()) return Fail("replay step " + std::to_string(i) + ": " + fault);
      if (step.kind == TAudioStep::kProcess && output != step.output)
        return Fail("the audio of block " + std::to_string(i) + " differs from the same host calls without an editor");
      if ((i & 63) == 0) Trace().Touch();
    }
  }

  // --- Checks after every step

  void CheckAfterStep() {
    if (!failure_.empty()) return;
    for (const std::string& log : ExceptionLogPaths(dllPath_))
      if (FileExists(log)) return Fail("the exception library wrote " + log + ":\n" + FileHead(log));
    const std::string changes = THostState::Now().ChangesSince(baseline_);
    if (!changes.empty()) return Fail("the host's process state changed:" + changes);
  }

  void Fail(const std::string& what) {
    if (failure_.empty()) failure_ = what;
  }

  std::string ModuleName() const { return dllPath_.substr(dllPath_.find_last_of("\\/") + 1); }

  std::string dllPath_;
  TRandom random_;
  uint64_t seed_;
  std::vector<std::unique_ptr<TInstance>> instances_;
  std::vector<std::string> chunks_;
  THostState baseline_;
  std::string failure_;
};

}  // namespace

std::string RunHostSession(const std::string& dllPath, const TSessionOptions& options) {
  static std::once_flag installed;
  std::call_once(installed, [] { SetUnhandledExceptionFilter(&CrashFilter); });
  TWatchdog watchdog;
  std::printf("host session: seed %llu, %d steps\n", static_cast<unsigned long long>(options.seed), options.steps);
  std::fflush(stdout);
  return THostSession(dllPath, options.seed).Run(options.steps);
}
