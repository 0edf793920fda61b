// The editor form under Wine, around a real plug-in whose loop holds a recorded sine: the time of
// UpdateDisplay (with and without a waveform to hand over), of the 25 ms head move with its
// repaint and of a full repaint of the form, each beside a reference measured in the same run
// (a plain scan of the loop buffer, a GDI copy of the form's area); the number of repaints an
// idle editor makes in 2 s; and, from outside, the CPU the project's host with the editor open
// costs the machine (Wine's processes and the X server) while a loop plays, beside the same
// editor idle, and beside another build of the plug-in when one is named (bench_editor
// [PLUGIN.dll], a Unix path); and the editor opened, painted and closed through the plug-in DLL
// as a host does it, beside a plain child window of the same size made, painted and destroyed
// (and beside the other build's editor when one is named). Prints figures; asserts nothing.
#include <windows.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "EditorLoad.h"
#include "editor/rkPluginGui.h"
#include "plugin/framework/rkPlugin.h"
#include "plugin/vst/VstTypes.h"

namespace {

using Clock = std::chrono::steady_clock;

// Microseconds per call of `work` over `runs` calls; `prepare` runs untimed before each.
double Microseconds(int runs, const std::function<void()>& work, const std::function<void()>& prepare = nullptr) {
  double total = 0;
  for (int i = 0; i < runs; ++i) {
    if (prepare) prepare();
    const auto start = Clock::now();
    work();
    total += std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  }
  return total / runs;
}

void Pump(int milliseconds, const std::function<void()>& every20ms = nullptr) {
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
  auto next = Clock::now();
  while (Clock::now() < end) {
    if (every20ms && Clock::now() >= next) {
      every20ms();
      next += std::chrono::milliseconds(20);
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
  }
}

void Report(const char* what, double value, const char* reference, double referenceValue) {
  std::printf("%-44s %9.1f us   (%s: %.1f us, x%.1f)\n", what, value, reference, referenceValue,
              referenceValue > 0 ? value / referenceValue : 0.0);
}

// --- The editor through the DLL

VstIntPtr VSTCALLBACK AnswerVersion(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

void PaintNow(HWND window) {
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  GdiFlush();
}

struct TOpenClose {
  double first = 0, later = 0;  // us: the first editor of a fresh load, the mean of the next ones
  std::string error;            // why nothing was measured
};

// The plug-in DLL (a Unix path) loaded afresh; its editor opened in `host`, painted and closed,
// `rounds` + 1 times, the X server's backlog drained between rounds.
TOpenClose MeasureDllEditor(const std::string& dll, HWND host, int rounds) {
  TOpenClose result;
  HMODULE module = LoadLibraryW(WinePath(dll).c_str());
  if (module == nullptr) {
    result.error = "cannot load " + dll;
    return result;
  }
  auto entry = reinterpret_cast<AEffect*(VSTCALLBACK*)(audioMasterCallback)>(GetProcAddress(module, "VSTPluginMain"));
  AEffect* effect = entry != nullptr ? entry(AnswerVersion) : nullptr;
  if (effect == nullptr) {
    FreeLibrary(module);
    result.error = dll + " answered no plug-in";
    return result;
  }
  effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0);
  for (int i = 0; i <= rounds; ++i) {
    ERect* rect = nullptr;
    const auto start = Clock::now();
    effect->dispatcher(effect, effEditGetRect, 0, 0, &rect, 0);
    effect->dispatcher(effect, effEditOpen, 0, 0, host, 0);
    PaintNow(host);
    effect->dispatcher(effect, effEditClose, 0, 0, nullptr, 0);
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    if (i == 0) result.first = us;
    else result.later += us / rounds;
    Pump(100);
  }
  effect->dispatcher(effect, effClose, 0, 0, nullptr, 0);
  FreeLibrary(module);
  return result;
}

// The floor of an editor's open and close: a plain child window of its size made, painted and
// destroyed.
double PlainWindowOpenClose(HWND host, int rounds) {
  double total = 0;
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 450, 495, host, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    PaintNow(host);
    DestroyWindow(window);
    total += std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    Pump(100);
  }
  return total / rounds;
}

void MeasureEditorsThroughDlls(const char* reference) {
  HWND host = CreateWindowExW(0, L"KblEditorBenchHost", L"bench", WS_POPUP | WS_VISIBLE, 20, 20, 450, 495, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  Pump(200);
  std::vector<std::pair<std::string, std::string>> builds{{"this build", KBL_BENCH_PLUGIN}};
  if (reference != nullptr) builds.emplace_back(std::string("reference: ") + reference, reference);
  // A first load and editor of each build warms what later ones share (its file, the system's
  // DLLs, GDI+, the fonts): the figures below are those of a fresh load in a warm process.
  for (const auto& build : builds) MeasureDllEditor(build.second, host, 1);
  constexpr int kRounds = 20;
  const double plain = PlainWindowOpenClose(host, kRounds);
  std::printf("Editor opened, painted and closed through the plug-in DLL (effEditOpen, effEditClose)\n");
  for (const auto& [name, dll] : builds) {
    const TOpenClose editor = MeasureDllEditor(dll, host, kRounds);
    if (!editor.error.empty()) {
      std::printf("  %s: not measured (%s)\n", name.c_str(), editor.error.c_str());
      continue;
    }
    std::printf("  %s\n", name.c_str());
    Report("    first editor of a fresh load", editor.first, "plain child window", plain);
    Report("    later editors (mean)", editor.later, "plain child window", plain);
  }
  DestroyWindow(host);
}

}  // namespace

int main(int argc, char** argv) {
  InstallPluginEditor();
  StartVectorGui();
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KblEditorBenchHost";
  RegisterClassW(&wc);
  HWND host = CreateWindowExW(0, wc.lpszClassName, L"bench", WS_POPUP | WS_VISIBLE, 20, 20, 450, 494, nullptr,
                              nullptr, wc.hInstance, nullptr);
  {
    TrkPlugin plugin;
    TPluginGui* form = TCustomForm::CreateParented<TPluginGui>(host);
    form->SetPlugin(&plugin);
    form->StartDisplayUpdates();
    form->UpdateDisplay();
    form->Show();
    Pump(200);
    HWND scene = form->MainPanel->GetHandle();

    // A second of a sine recorded over the whole loop; play on.
    T1973& engine = plugin.Engine();
    plugin.SetParameter(TrkPlugin::kSlave, 0);
    plugin.SetParameter(TrkPlugin::kRecordStart, 0);
    plugin.SetParameter(TrkPlugin::kRecordEnd, 1);
    plugin.SetParameter(TrkPlugin::kInput, 1);
    plugin.SetParameter(TrkPlugin::kRecord, 1);
    std::vector<float> in(512), out(512);
    int64_t phase = 0;
    auto processBlock = [&] {
      for (float& v : in) v = 0.7f * static_cast<float>(std::sin(0.0627 * phase++));
      engine.Process(in.data(), in.data(), out.data(), out.data(), 512);
    };
    for (int i = 0; i < 88; ++i) processBlock();

    // The reference of a waveform hand-over: the buffer's minima and maxima, nothing else.
    const TLoopBufferView buffer = engine.Buffer();
    float sink = 0;
    const double scan = Microseconds(50, [&] {
      float lo = 1, hi = -1;
      for (int32_t k = 0; k < buffer.length; ++k) {
        lo = std::min({lo, buffer.left[k], buffer.right[k]});
        hi = std::max({hi, buffer.left[k], buffer.right[k]});
      }
      sink += lo + hi;
    });
    const double withWaveform = Microseconds(
        50, [&] { form->UpdateDisplay(); }, [&] {
          processBlock();
          form->SampleDataChanged(nullptr);
        });
    const double sameWaveform = Microseconds(50, [&] { form->UpdateDisplay(); }, [&] { form->SampleDataChanged(nullptr); });
    const double clean = Microseconds(200, [&] { form->UpdateDisplay(); });

    // The floor of any repaint: copying the form's area from a memory DC to the window.
    HDC windowDc = GetDC(scene);
    HDC memoryDc = CreateCompatibleDC(windowDc);
    HBITMAP bitmap = CreateCompatibleBitmap(windowDc, 450, 494);
    HGDIOBJ old = SelectObject(memoryDc, bitmap);
    const double blit = Microseconds(100, [&] {
      BitBlt(windowDc, 0, 0, 450, 494, memoryDc, 0, 0, SRCCOPY);
      GdiFlush();
    });
    SelectObject(memoryDc, old);
    DeleteObject(bitmap);
    DeleteDC(memoryDc);
    ReleaseDC(scene, windowDc);

    plugin.SetParameter(TrkPlugin::kPlay, 1);
    form->UpdateDisplay();
    // The X server draws what it was sent after the program sent it: after the copies above it
    // is busy for a while, and every call into the window system waits several times as long
    // meanwhile (a round trip 15 us when idle, over 100 us then). The timings below start once
    // it is done, so that they show their own cost rather than the copies' backlog.
    Pump(300);
    const double heads = Microseconds(
        100,
        [&] {
          form->UpdateReadWriteHeads(nullptr);
          UpdateWindow(scene);
        },
        [&] { processBlock(); });
    Pump(300);
    const double full = Microseconds(50, [&] {
      InvalidateRect(scene, nullptr, FALSE);
      UpdateWindow(scene);
    });

    std::printf("Editor form, 450 x 494, loop of %d frames\n", buffer.length);
    Report("UpdateDisplay, new waveform handed over", withWaveform, "buffer scan", scan);
    Report("UpdateDisplay, same waveform handed over", sameWaveform, "buffer scan", scan);
    Report("UpdateDisplay, nothing to hand over", clean, "buffer scan", scan);
    Report("25 ms head move with its repaint", heads, "GDI copy of the form", blit);
    Report("full repaint of the form", full, "GDI copy of the form", blit);

    // Idle: no audio, the host's idle call every 20 ms, the editor's timers running.
    plugin.SetParameter(TrkPlugin::kRecord, 0);
    Pump(300, [&] { form->UpdateDisplay(); });
    const int32_t before = form->MainPanel->Engine().DrawCount();
    Pump(2000, [&] { form->UpdateDisplay(); });
    const int32_t idle = form->MainPanel->Engine().DrawCount() - before;
    std::printf("repaints of an idle editor in 2 s: %d (goal 0)\n", idle);
    const int32_t beforePlaying = form->MainPanel->Engine().DrawCount();
    Pump(2000, [&] {
      for (int i = 0; i < 2; ++i) processBlock();
      form->UpdateDisplay();
    });
    std::printf("repaints in 2 s while playing: %d (heads every 25 ms: about 80)\n",
                form->MainPanel->Engine().DrawCount() - beforePlaying);
    if (sink == 12345.0f) std::puts("");
    delete form;
  }
  DestroyWindow(host);
  StopVectorGui();
  MeasureEditorsThroughDlls(argc > 1 ? argv[1] : nullptr);

  // From outside: the host with the editor open, twice idle and twice playing, 5 s each; with
  // a plug-in named on the command line (Unix path, another build), that one's figures too.
  auto measure = [](const char* plugin, const char* name) {
    const TEditorLoadRun load = MeasureEditorLoad(KBL_BENCH_HOST, plugin, 2, 3.0, 5.0);
    if (!load.ok) {
      std::printf("%s: not measured (%s)\n", name, load.error.c_str());
      return;
    }
    auto row = [](const char* what, const TEditorLoad& l) {
      std::printf("  %-42s %6.3f core-s/s   (Wine %.3f, of it the host %.3f; X server %.3f)\n", what, l.Total(),
                  l.wine, l.host, l.x);
    };
    std::printf("%s\n", name);
    row("idle editor (loop standing)", load.idle);
    row("playing editor (play and record on)", load.playing);
    std::printf("  %-42s %6.3f core-s/s   (goal 0.030 at most)\n", "playing minus idle",
                load.playing.Total() - load.idle.Total());
  };
  std::printf("Editor open in the project's host (vsthost --editor), CPU of Wine's processes and the X server\n");
  measure(KBL_BENCH_PLUGIN, "this build");
  if (argc > 1) measure(argv[1], (std::string("reference: ") + argv[1]).c_str());
  return 0;
}
