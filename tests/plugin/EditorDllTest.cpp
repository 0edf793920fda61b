// The editor of the real plug-in DLL in the project's host: the window it opens in, the skin and
// knobs as a screenshot shows them, knob drags, switch clicks, the knob menu against the MIDI map
// file, the waveform and heads while audio runs, the about box, repeated opening and two editors
// side by side. Mouse input goes to the editor's windows as the system would send it.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "ChildProcess.h"
#include "Emulation.h"
#include "HostFiles.h"
#include "classlib/Streams.h"
#include "classlib/WindowTestUtils.h"
#include "editor/MenuProbe.h"
#include "editor/SkinImage.h"
#include "plugin/EditorPlaces.h"
#include "plugin/ProcessCounts.h"
#include "tools/vsthost/EditorWindow.h"
#include "tools/vsthost/VstHost.h"

namespace {

bool Near(uint32_t a, uint32_t b, int tolerance) {
  for (int shift : {0, 8, 16})
    if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance) return false;
  return true;
}

int Brightness(uint32_t rgb) { return int((rgb >> 16) & 0xFF) + int((rgb >> 8) & 0xFF) + int(rgb & 0xFF); }

// A plug-in of the real DLL with its editor open in a host window.
class TOpenEditor {
 public:
  TOpenEditor() {
    DeleteFileA(ProductExceptionLogPath().c_str());
    host = std::make_unique<TVstHost>(ProductDllPath());
    host->Start(44100, 512);
    editor = std::make_unique<TEditorWindow>(*host);
    Settle();
  }
  ~TOpenEditor() {
    editor.reset();
    host.reset();
    EXPECT_FALSE(FileExists(ProductExceptionLogPath())) << ReadFileBytes(ProductExceptionLogPath()).substr(0, 3000);
  }
  HWND Form() const { return static_cast<HWND>(editor->EditorHandle()); }
  // Idle calls and timers for a while.
  void Settle(int32_t milliseconds = 120) { editor->Run(milliseconds); }
  // To the window under the point, as the system sends it; from a press to its release, to the
  // window pressed.
  void Send(UINT message, int32_t x, int32_t y, WPARAM keys) {
    POINT point{x, y};
    HWND target = pressed;
    if (target) MapWindowPoints(Form(), target, &point, 1);
    else target = WindowAt(Form(), point);
    if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN) pressed = target;
    if (message == WM_LBUTTONUP || message == WM_RBUTTONUP) pressed = nullptr;
    SendMessageW(target, message, keys, MAKELPARAM(point.x, point.y));
  }
  void Click(int32_t x, int32_t y) {
    Send(WM_LBUTTONDOWN, x, y, MK_LBUTTON);
    Send(WM_LBUTTONUP, x, y, 0);
  }
  void RightClick(int32_t x, int32_t y) {
    Send(WM_RBUTTONDOWN, x, y, MK_RBUTTON);
    Send(WM_RBUTTONUP, x, y, 0);
  }
  // A left drag of `up` pixels upwards from the knob's centre.
  void DragKnob(const TKnobPlace& knob, int32_t up, WPARAM keys = 0) {
    const int32_t x = knob.left + 20, y = knob.top + 20;
    Send(WM_LBUTTONDOWN, x, y, MK_LBUTTON | keys);
    Send(WM_MOUSEMOVE, x, y - up, MK_LBUTTON | keys);
    Send(WM_LBUTTONUP, x, y - up, keys);
  }
  std::vector<std::string> KnobMenu(const TKnobPlace& knob, int pick = -1) {
    TMenuProbe probe(pick);
    RightClick(knob.left + 20, knob.top + 20);
    return probe.items;
  }
  // Whether the knob menu's "Midi Learn" item is checked (learning that knob's parameter).
  bool LearnChecked(const TKnobPlace& knob) {
    TMenuProbe probe;
    RightClick(knob.left + 20, knob.top + 20);
    return !probe.checked.empty() && probe.checked[0];
  }
  // One block with a control change at frame 3, processed on an audio thread of its own.
  void Controller(int status, int number, int value) {
    std::thread audio([this, status, number, value] {
      VstMidiEvent e{};
      e.type = kVstMidiType;
      e.byteSize = sizeof(VstMidiEvent);
      e.deltaFrames = 3;
      e.midiData[0] = static_cast<char>(status);
      e.midiData[1] = static_cast<char>(number);
      e.midiData[2] = static_cast<char>(value);
      host->SendMidi({e});
      std::vector<float> in(64, 0.0f), outL(64), outR(64);
      float* ins[2] = {in.data(), in.data()};
      float* outs[2] = {outL.data(), outR.data()};
      host->ProcessReplacing(ins, outs, 64);
    });
    audio.join();
  }
  TScreenshot Shot() { return editor->Screenshot(); }

  std::unique_ptr<TVstHost> host;
  std::unique_ptr<TEditorWindow> editor;
  HWND pressed = nullptr;
};

// The frame of the knob strip that the knob at `place` shows: the one whose opaque pixels the
// screenshot matches best (a resampled knob may sit a pixel off); -1 when none matches nine in
// ten.
int ShownFrame(const TScreenshot& shot, const TKnobPlace& place) {
  static const TSkinImage strip = ReadSkinImage("Knob.png");
  int best = -1;
  double bestShare = 0.9;
  for (int frame = 0; frame < 127; ++frame) {
    for (int32_t shift = 0; shift <= (place.frameTolerance ? 1 : 0); ++shift) {
      int opaque = 0, matching = 0;
      for (int32_t y = 0; y < 40; ++y) {
        for (int32_t x = 0; x < 40; ++x) {
          const uint32_t p = strip.At(frame * 40 + x, y);
          if ((p >> 24) != 255) continue;
          ++opaque;
          if (Near(shot.At(place.left + x + shift, place.top + y + shift), p, 16)) ++matching;
        }
      }
      const double share = double(matching) / opaque;
      if (share > bestShare) {
        bestShare = share;
        best = frame;
      }
    }
  }
  return best;
}

// The frame a knob shows for a parameter value: the nearest, halves to the even one.
int FrameOf(float value) { return static_cast<int>(std::nearbyint(126 * value)); }

}  // namespace

TEST(EditorDll, OpensAtTheReportedSizeWithTheSkinAndEveryKnobAtItsFrame) {
  TOpenEditor e;
  EXPECT_EQ(e.editor->Width(), 450);
  EXPECT_EQ(e.editor->Height(), 495);
  RECT client{};
  GetClientRect(e.Form(), &client);
  EXPECT_EQ(client.right, 450);
  EXPECT_EQ(client.bottom, 494);

  e.host->SetParameter(kSlave, 0);
  const float values[] = {0.0f, 1.0f, 0.25f, 0.5f, 0.75f, 0.1f, 0.9f, 0.6f};
  for (int i = 0; i < 8; ++i) e.host->SetParameter(kPlayStart + i, values[i]);
  e.Settle();
  const TScreenshot shot = e.Shot();
  for (const TKnobPlace& knob : kKnobs)
    EXPECT_NEAR(ShownFrame(shot, knob), FrameOf(e.host->GetParameter(knob.parameter)), knob.frameTolerance)
        << knob.name;
  const TSkinImage background = ReadSkinImage("Background.png");
  for (auto [x, y] : {std::pair{3, 3}, {446, 300}, {200, 240}, {100, 420}})
    EXPECT_TRUE(Near(shot.At(x, y), background.At(x, y), 3)) << x << "," << y;
}

TEST(EditorDll, DraggingAKnobUpSetsItsParameterByTheStepWithoutTellingTheHost) {
  TOpenEditor e;
  e.host->SetParameter(kMix, 0.5f);
  e.Settle();
  e.DragKnob(Knob(kMix), 10);
  EXPECT_FLOAT_EQ(e.host->GetParameter(kMix), 0.52f);  // 4 steps of 1/2000 a pixel
  e.DragKnob(Knob(kMix), 10, MK_SHIFT);
  EXPECT_FLOAT_EQ(e.host->GetParameter(kMix), 0.525f);  // 1 step a pixel with Shift
  e.DragKnob(Knob(kMix), -300);
  EXPECT_FLOAT_EQ(e.host->GetParameter(kMix), 0.0f);
  std::lock_guard<std::mutex> guard(e.host->callLock);
  EXPECT_EQ(e.host->CountCalls(audioMasterAutomate), 0u);
}

TEST(EditorDll, InSlaveModeTheRecordKnobsMoveThePlayRegionAndBothPairsAgree) {
  TOpenEditor e;
  e.host->SetParameter(kSlave, 1);
  e.host->SetParameter(kPlayStart, 0.25f);
  e.Settle();
  e.DragKnob(Knob(kRecordStart), 25);
  EXPECT_FLOAT_EQ(e.host->GetParameter(kPlayStart), 0.3f);
  e.Settle();
  const TScreenshot shot = e.Shot();
  const int frame = ShownFrame(shot, Knob(kPlayStart));
  EXPECT_EQ(frame, FrameOf(0.3f));
  EXPECT_EQ(ShownFrame(shot, Knob(kRecordStart)), frame);
}

TEST(EditorDll, ClickingASwitchAutomatesItsParameterAndTheImageFollowsAtTheNextIdle) {
  TOpenEditor e;
  const uint32_t off = e.Shot().At(kFixedLampX, kFixedLampY);
  e.Click(kFixedX, kFixedY);
  {
    std::lock_guard<std::mutex> guard(e.host->callLock);
    ASSERT_EQ(e.host->automated.size(), 1u);
    EXPECT_EQ(e.host->automated[0], std::make_pair(VstInt32{kFixed}, 1.0f));
  }
  EXPECT_EQ(e.host->GetParameter(kFixed), 1.0f);
  e.Settle();
  const uint32_t on = e.Shot().At(kFixedLampX, kFixedLampY);
  EXPECT_GT(Brightness(on), Brightness(off) + 200);
  e.Click(kFixedX, kFixedY);
  EXPECT_EQ(e.host->GetParameter(kFixed), 0.0f);
}

TEST(EditorDll, KnobMenuShowsTheBoundControllerAndUnlearnRemovesIt) {
  const std::string path = UserDataFolder() + "Midi Map.xml";
  WriteFileBytes(path,
                 "<root FileType=\"MidiMap\"><MidiBinding ParameterName=\"Play Start\" ParameterID=\"2\" "
                 "MidiCC=\"74\" AutomationType=\"0\"/></root>");
  {
    TOpenEditor e;
    const std::vector<std::string> bound = e.KnobMenu(Knob(kPlayStart));
    ASSERT_EQ(bound.size(), 2u);
    EXPECT_EQ(bound[0], "Midi Learn  [CC: 74]");
    EXPECT_EQ(bound[1], "Midi Unlearn");
    EXPECT_EQ(e.KnobMenu(Knob(kMix))[0], "Midi Learn  [CC: --]");
    e.KnobMenu(Knob(kPlayStart), 1);  // Midi Unlearn
    EXPECT_EQ(e.KnobMenu(Knob(kPlayStart))[0], "Midi Learn  [CC: --]");
  }
  std::remove(path.c_str());
}

TEST(EditorDll, MidiLearnFromTheKnobMenuBindsTheNextControllerWhichTheMenuThenShows) {
  const std::string path = UserDataFolder() + "Midi Map.xml";
  RemoveFile(path);
  {
    TOpenEditor e;
    e.host->SetParameter(kMix, 0.25f);
    e.host->SetParameter(kRate, 0.25f);
    e.KnobMenu(Knob(kMix), 0);  // Midi Learn
    EXPECT_TRUE(e.LearnChecked(Knob(kMix)));
    EXPECT_FALSE(e.LearnChecked(Knob(kRate)));
    e.host->automated.clear();
    e.Controller(0xB2, 21, 100);
    EXPECT_FLOAT_EQ(e.host->GetParameter(kMix), 100.0f / 127.0f);
    ASSERT_EQ(e.host->automated.size(), 1u);
    EXPECT_EQ(e.host->automated[0], std::make_pair(VstInt32{kMix}, 100.0f / 127.0f));
    e.Settle();
    EXPECT_EQ(ShownFrame(e.Shot(), Knob(kMix)), FrameOf(100.0f / 127.0f));
    EXPECT_EQ(e.KnobMenu(Knob(kMix))[0], "Midi Learn  [CC: 21]");
    EXPECT_FALSE(e.LearnChecked(Knob(kMix)));

    // The bound controller on another channel; the knob follows at the next idle call.
    e.Controller(0xB7, 21, 0);
    EXPECT_EQ(e.host->GetParameter(kMix), 0.0f);
    e.Settle();
    EXPECT_EQ(ShownFrame(e.Shot(), Knob(kMix)), 0);

    // "Midi Learn" chosen twice, and "Midi Unlearn", end learning without a binding.
    e.KnobMenu(Knob(kMix), 0);
    e.KnobMenu(Knob(kMix), 0);
    e.Controller(0xB0, 22, 127);
    e.KnobMenu(Knob(kRate), 0);
    e.KnobMenu(Knob(kRate), 1);
    e.Controller(0xB0, 23, 127);
    e.Settle();
    EXPECT_EQ(e.host->GetParameter(kMix), 0.0f);
    EXPECT_EQ(e.host->GetParameter(kRate), 0.25f);
    EXPECT_EQ(e.KnobMenu(Knob(kMix))[0], "Midi Learn  [CC: 21]");
    EXPECT_EQ(e.KnobMenu(Knob(kRate))[0], "Midi Learn  [CC: --]");

    // Learning the rate on the mix's controller takes the controller from the mix.
    e.KnobMenu(Knob(kRate), 0);
    e.Controller(0xB0, 21, 127);
    e.Controller(0xB0, 21, 127);
    EXPECT_EQ(e.host->GetParameter(kRate), 1.0f);
    EXPECT_EQ(e.host->GetParameter(kMix), 0.0f);
    EXPECT_EQ(e.KnobMenu(Knob(kRate))[0], "Midi Learn  [CC: 21]");
    EXPECT_EQ(e.KnobMenu(Knob(kMix))[0], "Midi Learn  [CC: --]");
  }
  // The last instance to close saves the map.
  EXPECT_EQ(ReadFileBytes(path),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root FileType=\"MidiMap\">\r\n"
            "  <MidiBinding ParameterName=\"Rate\" ParameterID=\"6\" MidiCC=\"21\" AutomationType=\"0\"/>\r\n"
            "</root>\r\n");
  RemoveFile(path);
}

TEST(EditorDll, RecordedSineShowsInTheWaveformAndTheReadHeadMovesWhilePlaying) {
  TOpenEditor e;
  // The envelope is near white; under the translucent regions its green stays above 100 where
  // the empty display's stays below.
  const auto envelopePixels = [&e] {
    const TScreenshot shot = e.Shot();
    int count = 0;
    for (int32_t y = 26; y < 230; ++y)
      for (int32_t x = 26; x < 424; ++x)
        if (((shot.At(x, y) >> 8) & 0xFF) > 100) ++count;
    return count;
  };
  // The read head: the column of its colour in the middle of the display.
  const auto readHeadColumn = [&e] {
    const TScreenshot shot = e.Shot();
    for (int32_t x = 25; x < 425; ++x)
      if (Near(shot.At(x, 128), 0x8B95FF, 12)) return x;
    return -1;
  };
  e.host->SetParameter(kSlave, 0);
  e.host->SetParameter(kRecordStart, 0);
  e.host->SetParameter(kRecordEnd, 1);
  e.host->SetParameter(kInput, 1);
  e.Settle(300);
  const int silent = envelopePixels();
  std::vector<float> sine(44100);
  for (size_t i = 0; i < sine.size(); ++i) sine[i] = 0.8f * static_cast<float>(std::sin(i * 0.0627));
  TAudioThread audio(*e.host, {sine, sine}, 44100, 512);
  e.host->SetParameter(kRecord, 1);
  e.Settle(700);
  EXPECT_GT(envelopePixels(), silent + 5000);
  e.host->SetParameter(kPlay, 1);
  e.Settle(100);
  const int before = readHeadColumn();
  e.Settle(300);
  const int after = readHeadColumn();
  audio.Stop();
  EXPECT_GE(before, 0);
  EXPECT_GE(after, 0);
  EXPECT_NE(before, after);
}

TEST(EditorDll, EitherHotSpotOpensTheAboutBoxWithReadableText) {
  for (int32_t x : kAboutHotSpotsX) {
    TOpenEditor e;
    e.Click(x, kAboutHotSpotY);
    e.Settle();
    HWND box = GetWindow(e.Form(), GW_CHILD);  // the newest child is on top
    RECT r{};
    GetWindowRect(box, &r);
    ASSERT_EQ(r.right - r.left, 300) << x;
    ASSERT_EQ(r.bottom - r.top, 300) << x;
    POINT topLeft{r.left, r.top};
    ScreenToClient(static_cast<HWND>(e.editor->Window()), &topLeft);
    EXPECT_EQ(topLeft.x, 75);
    EXPECT_EQ(topLeft.y, 97);
    // White text on black: the title and the version line at the top of the box.
    const TScreenshot shot = e.Shot();
    int bright = 0;
    for (int32_t y = topLeft.y + 15; y < topLeft.y + 60; ++y)
      for (int32_t xx = topLeft.x + 15; xx < topLeft.x + 250; ++xx)
        if (Brightness(shot.At(xx, y)) > 3 * 150) ++bright;
    EXPECT_GT(bright, 150) << x;
  }
}

TEST(EditorDll, AHotSpotClickedWhileTheAboutBoxIsOpenKeepsTheOneBox) {
  TOpenEditor e;
  const auto children = [&e] {
    int count = 0;
    for (HWND w = GetWindow(e.Form(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) ++count;
    return count;
  };
  const int alone = children();
  for (int32_t x : {kAboutHotSpotsX[0], kAboutHotSpotsX[1], kAboutHotSpotsX[0]}) {
    e.Click(x, kAboutHotSpotY);
    e.Settle(40);
    EXPECT_EQ(children(), alone + 1);
  }
}

namespace {

// A host whose own timer, ticking inside the knob menu's loop, closes the editor: the handler
// that opened the menu is still on the stack. A form freed at once there ends the program, as
// that handler would go on in freed memory.
struct THostClosingInTheMenu {
  static THostClosingInTheMenu*& Current() {
    static THostClosingInTheMenu* host = nullptr;
    return host;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    THostClosingInTheMenu* self = Current();
    HWND menu = FindWindowW(L"#32768", nullptr);
    if (!self || self->closed || !menu || !IsWindowVisible(menu)) return;
    self->closed = true;
    self->editor->Close();
    if (!IsWindow(self->form)) {
      std::fprintf(stderr, "FAILED: effEditClose freed the editor's form inside its own menu loop\n");
      std::fflush(stderr);
      TerminateProcess(GetCurrentProcess(), 1);
    }
    EndMenu();
  }
  TEditorWindow* editor;
  HWND form;
  bool closed = false;
};

}  // namespace

// The editor's code that runs the knob menu has not returned while the host closes the editor
// from inside that menu: the form goes once it has.
TEST(EditorDll, AHostClosingTheEditorInsideTheKnobMenuFreesTheFormOnceTheMenuReturned) {
  TOpenEditor e;
  THostClosingInTheMenu host{e.editor.get(), e.Form()};
  THostClosingInTheMenu::Current() = &host;
  const UINT_PTR timer = SetTimer(nullptr, 0, 30, &THostClosingInTheMenu::Tick);
  e.RightClick(Knob(kMix).left + 20, Knob(kMix).top + 20);
  KillTimer(nullptr, timer);
  THostClosingInTheMenu::Current() = nullptr;
  EXPECT_TRUE(host.closed);
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(host.form); }));
}

// --- Nothing of the plug-in after its unload

namespace {

const DWORD kHostRaise = 0xE0C0FFEE;
LONG CALLBACK ResumeTheHostsRaise(EXCEPTION_POINTERS* pointers) {
  return pointers->ExceptionRecord->ExceptionCode == kHostRaise ? EXCEPTION_CONTINUE_EXECUTION
                                                                : EXCEPTION_CONTINUE_SEARCH;
}

// Windows of the process, message-only ones too, whose procedure lies in an image.
struct TImageWindows {
  uintptr_t start = 0, end = 0;
  int32_t count = 0;
  explicit TImageWindows(HMODULE module) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(module) + dos->e_lfanew);
    start = reinterpret_cast<uintptr_t>(module);
    end = start + nt->OptionalHeader.SizeOfImage;
    EnumWindows(&Visit, reinterpret_cast<LPARAM>(this));
    for (HWND w = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); w != nullptr;
         w = FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr))
      Visit(w, reinterpret_cast<LPARAM>(this));
  }
  static BOOL CALLBACK Visit(HWND window, LPARAM self) {
    auto* windows = reinterpret_cast<TImageWindows*>(self);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != GetCurrentProcessId()) return TRUE;
    const auto proc = static_cast<uintptr_t>(GetWindowLongPtrW(window, GWLP_WNDPROC));
    if (proc >= windows->start && proc < windows->end) ++windows->count;
    EnumChildWindows(window, &Visit, self);
    return TRUE;
  }
};

}  // namespace

// The child half: a bare host opens the editor and closes it as KBL_UNLOAD says: "menu", from a
// timer of its own inside the knob menu's loop; "automate", from inside audioMasterAutomate while
// a switch is clicked; "thread", on a thread of its own, and then runs its loop. Then, with no
// loop in between, it ends the plug-in and frees the DLL, destroys its window, runs its loop and
// raises an exception of its own. Exit code 0: the host survived all of it with the DLL
// unloaded; 2: the DLL stayed loaded; 3: windows of the plug-in's were left at the unload.
TEST(EditorDll, UnloadChild) {
  const char* how = std::getenv("KBL_UNLOAD");
  if (how == nullptr) GTEST_SKIP() << "a child half of a test";
  const std::string close = how;
  auto e = std::make_unique<TOpenEditor>();  // never destroyed: the process ends first
  e->Settle(300);
  if (close == "menu") {
    THostClosingInTheMenu host{e->editor.get(), e->Form()};
    THostClosingInTheMenu::Current() = &host;
    const UINT_PTR timer = SetTimer(nullptr, 0, 30, &THostClosingInTheMenu::Tick);
    e->RightClick(Knob(kMix).left + 20, Knob(kMix).top + 20);
    KillTimer(nullptr, timer);
    ASSERT_TRUE(host.closed);
  } else if (close == "automate") {
    TEditorWindow* editor = e->editor.get();
    e->host->onCall = [editor](const THostCall& call) {
      if (call.opcode == audioMasterAutomate) editor->Close();
    };
    e->Click(kFixedX, kFixedY);
    e->host->onCall = nullptr;
    ASSERT_EQ(e->host->CountCalls(audioMasterAutomate), 1u);
  } else {
    std::thread([&e] { e->editor->Close(); }).join();
    e->Settle(300);
  }
  e->host->Dispatch(effMainsChanged, 0, 0);
  e->host->Close();
  const int32_t left = TImageWindows(GetModuleHandleA(ProductDllPath().c_str())).count;
  e->host.reset();  // FreeLibrary
  const bool unloaded = GetModuleHandleA(ProductDllPath().c_str()) == nullptr;
  e->editor.reset();  // destroys the host's window
  PumpUntil([] { return false; }, 300);
  // Added last: a handler the plug-in left behind would be called before it.
  PVOID resume = AddVectoredExceptionHandler(0, &ResumeTheHostsRaise);
  RaiseException(kHostRaise, 0, 0, nullptr);
  RemoveVectoredExceptionHandler(resume);
  ExitProcess(left > 0 ? 3 : unloaded ? 0 : 2);
}

// A host that closes the editor from inside the form's own code, or on another thread than the
// one it opened it on, and then ends the plug-in and unloads the DLL before its loop runs again,
// finds nothing of the plug-in in its loop: no release posted to the form, no window of the
// plug-in's, no timer.
TEST(EditorDll, AHostThatUnloadsRightAfterClosingTheEditorFindsNothingOfThePlugInInItsLoop) {
  for (const char* close : {"menu", "automate", "thread"}) {
    SCOPED_TRACE(close);
    const TChildRun run = RunChildProcess("--gtest_filter=EditorDll.UnloadChild", {{"KBL_UNLOAD", close}}, 60000);
    EXPECT_TRUE(run.Ended);
    EXPECT_EQ(run.ExitCode, 0u);
  }
}

namespace {
LONG WINAPI EndOnFault(EXCEPTION_POINTERS*) {
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_CONTINUE_SEARCH;
}
}  // namespace

// The child half: 300 times, a plug-in of the loaded DLL opens its editor in a window of this
// thread, and a worker closes the editor and, 0 to 8 ms later, ends the plug-in, while this
// thread runs its loop. Each time, once the loop has freed the form, the GUI has stopped.
TEST(EditorDll, WorkerEndsChild) {
  if (std::getenv("KBL_WORKER_ENDS") == nullptr) GTEST_SKIP() << "a child half of a test";
  // A fault ends the child at once, not in the system's debugger.
  SetUnhandledExceptionFilter(&EndOnFault);
  HMODULE keep = LoadLibraryA(ProductDllPath().c_str());
  TForeignWindow frame(450, 495);
  TProcessCounts before;
  int32_t guiLeftRunning = 0;
  for (int round = 0; round < 300; ++round) {
    if (round == 20) before = TProcessCounts::Now();  // the first rounds make objects kept for reuse
    TVstHost host(ProductDllPath());
    host.Start(44100, 512);
    ASSERT_EQ(host.Dispatch(effEditOpen, 0, 0, frame.handle), 1);
    std::atomic<bool> ended{false};
    std::thread worker([&host, &ended, round] {
      host.Dispatch(effEditClose);
      Sleep(round % 9);
      host.Dispatch(effMainsChanged, 0, 0);
      host.Close();
      ended = true;
    });
    PumpUntil([&] { return ended.load(); }, MachineBound(10000));
    worker.join();
    EXPECT_TRUE(PumpUntil([&] { return GetWindow(frame.handle, GW_CHILD) == nullptr; }));
    if (GetModuleHandleA("gdiplus.dll") != nullptr) ++guiLeftRunning;
  }
  EXPECT_EQ(guiLeftRunning, 0);
  const TProcessCounts after = TProcessCounts::Now();
  EXPECT_EQ(after.windows, before.windows);
  // The module's memory manager starts one thread of its own at the first contention of its
  // locks, at whichever round that comes.
  EXPECT_LE(after.threads, before.threads + 1);
  EXPECT_LE(after.gdi, before.gdi);
  FreeLibrary(keep);
}

// A host whose GUI thread keeps running its loop while a worker closes the editor and ends the
// plug-in: the form goes on its own thread, and the GUI stops once nothing of it is left there.
TEST(EditorDll, AWorkerThatEndsThePlugInWhileTheEditorsThreadRunsItsLoopLeavesNothingRunning) {
  const TChildRun run = RunChildProcess("--gtest_filter=EditorDll.WorkerEndsChild", {{"KBL_WORKER_ENDS", "1"}}, 120000);
  EXPECT_TRUE(run.Ended);
  EXPECT_EQ(run.ExitCode, 0u);
}

// The child half: in a bare host, a plug-in of the DLL opens its editor in a window of this
// thread; right after a tick of the editor's display timer, a worker closes the editor and ends
// the plug-in, and this thread destroys its window after that or before it, as KBL_OFF_THREAD_END
// says; meanwhile it waits for the worker handling the messages sent to it, or blocked. Once it
// has handled what was queued for it since, but for timers (its first idle may come before any is
// due), nothing of the plug-in may be left; it then unloads the DLL at the first peek that finds
// nothing and runs its loop on, where nothing may be for the unloaded image. Exit code 0: all of
// that held.
TEST(EditorDll, OffThreadEndChild) {
  const char* how = std::getenv("KBL_OFF_THREAD_END");
  if (how == nullptr) GTEST_SKIP() << "a child half of a test";
  SetUnhandledExceptionFilter(&EndOnFault);
  const std::string order = how;
  const auto fail = [](const char* what) {
    std::fprintf(stderr, "FAILED: %s\n", what);
    std::fflush(stderr);
    ExitProcess(1);
  };
  auto host = std::make_unique<TVstHost>(ProductDllPath());
  host->Start(44100, 512);
  auto frame = std::make_unique<TForeignWindow>(450, 495);
  if (host->Dispatch(effEditOpen, 0, 0, frame->handle) != 1) fail("the editor did not open");
  const TImageWindows image(GetModuleHandleA(ProductDllPath().c_str()));
  const auto forImage = [&image](const MSG& m) {
    const auto proc = static_cast<uintptr_t>(GetWindowLongPtrW(m.hwnd, GWLP_WNDPROC));
    const auto callback = static_cast<uintptr_t>(m.lParam);
    return (proc >= image.start && proc < image.end) ||
           (m.message == WM_TIMER && callback >= image.start && callback < image.end);
  };
  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    DispatchMessageW(&msg);
    if (msg.message == WM_TIMER && forImage(msg)) break;
  }
  if (order != "close, then destroy") frame.reset();
  HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread worker([&host, ended] {
    host->Dispatch(effEditClose);
    host->Dispatch(effMainsChanged, 0, 0);
    host->Close();
    SetEvent(ended);
  });
  if (order == "destroy, then close; sent messages handled meanwhile") {
    while (MsgWaitForMultipleObjects(1, &ended, FALSE, INFINITE, QS_SENDMESSAGE) != WAIT_OBJECT_0)
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  worker.join();
  CloseHandle(ended);
  frame.reset();
  while (PeekMessageW(&msg, nullptr, 0, WM_TIMER - 1, PM_REMOVE) ||
         PeekMessageW(&msg, nullptr, WM_TIMER + 1, 0xFFFF, PM_REMOVE))
    DispatchMessageW(&msg);
  if (TImageWindows(GetModuleHandleA(ProductDllPath().c_str())).count > 0) fail("windows of the plug-in's left");
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  host.reset();  // FreeLibrary
  if (GetModuleHandleA(ProductDllPath().c_str()) != nullptr) fail("the DLL stayed loaded");
  if (GetModuleHandleA("gdiplus.dll") != nullptr) fail("GDI+ left running");
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 200) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (forImage(msg)) fail("a message for the unloaded image");
      DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  ExitProcess(0);
}

// A host that ends the plug-in on another thread than the editor's and destroys its window
// around that end finds nothing of the plug-in left once the editor's thread has handled what was
// queued for it, before any timer ticks: it may unload the DLL at that thread's first idle.
TEST(EditorDll, AHostThatEndsThePlugInOffTheEditorsThreadAndDestroysItsWindowMayUnloadAtTheFirstIdle) {
  for (const char* order : {"close, then destroy", "destroy, then close; sent messages handled meanwhile",
                            "destroy, then close; blocked meanwhile"}) {
    SCOPED_TRACE(order);
    const TChildRun run =
        RunChildProcess("--gtest_filter=EditorDll.OffThreadEndChild", {{"KBL_OFF_THREAD_END", order}}, 120000);
    EXPECT_TRUE(run.Ended);
    EXPECT_EQ(run.ExitCode, 0u);
  }
}

TEST(EditorDll, ClosingMidDragOrLosingTheMouseShowsTheCursorAgain) {
  const auto cursorCount = [] {
    const int count = ShowCursor(TRUE) - 1;
    ShowCursor(FALSE);
    return count;
  };
  const int start = cursorCount();
  TOpenEditor e;
  const TKnobPlace& knob = Knob(kMix);
  e.Send(WM_LBUTTONDOWN, knob.left + 20, knob.top + 20, MK_LBUTTON);
  EXPECT_EQ(cursorCount(), start - 1);
  SetCapture(static_cast<HWND>(e.editor->Window()));
  ReleaseCapture();
  EXPECT_EQ(cursorCount(), start);
  e.Send(WM_LBUTTONDOWN, knob.left + 20, knob.top + 20, MK_LBUTTON);
  EXPECT_EQ(cursorCount(), start - 1);
  e.editor->Close();
  EXPECT_EQ(cursorCount(), start);
}

TEST(EditorDll, FiftyOpenAndCloseCyclesLeaveTheObjectCountsFlat) {
  TVstHost host(ProductDllPath());
  host.Start(44100, 512);
  TEditorWindow editor(host);
  editor.Run(50);
  // The first reopening makes objects that are kept and reused from then on (three GDI objects).
  editor.Close();
  editor.Open();
  editor.Run(50);
  const TProcessCounts before = TProcessCounts::Now();
  for (int i = 0; i < 50; ++i) {
    editor.Close();
    editor.Open();
    editor.Run(20);
  }
  const TProcessCounts after = TProcessCounts::Now();
  EXPECT_LE(after.gdi, before.gdi);
  EXPECT_LE(after.user, before.user);
  EXPECT_EQ(after.windows, before.windows);
  // One opening holds about 3 MB of images and buffers: a leak per opening would be 150 MB.
  EXPECT_LT(after.memory - before.memory, 8.0 * 1024 * 1024);
}

TEST(EditorDll, AHostThatDestroysItsWindowBeforeClosingTheEditorCanOpenItAgain) {
  TOpenEditor e;
  e.DragKnob(Knob(kMix), 5);
  DestroyWindow(static_cast<HWND>(e.editor->Window()));
  e.editor->Close();
  TEditorWindow again(*e.host);
  again.Run(100);
  EXPECT_NE(again.EditorHandle(), nullptr);
}

// Without a close in between: the editor moves into the window the host opens it in now.
TEST(EditorDll, AHostThatOpensTheEditorInANewWindowWithoutClosingItSeesItThere) {
  TOpenEditor e;
  DestroyWindow(static_cast<HWND>(e.editor->Window()));
  TForeignWindow second(450, 495);
  EXPECT_EQ(e.host->Dispatch(effEditOpen, 0, 0, second.handle), 1);
  EXPECT_NE(GetWindow(second.handle, GW_CHILD), nullptr);
  TForeignWindow third(450, 495);
  EXPECT_EQ(e.host->Dispatch(effEditOpen, 0, 0, third.handle), 1);
  EXPECT_EQ(GetWindow(second.handle, GW_CHILD), nullptr);
  EXPECT_NE(GetWindow(third.handle, GW_CHILD), nullptr);
  e.host->Dispatch(effEditClose);
  EXPECT_EQ(GetWindow(third.handle, GW_CHILD), nullptr);
}

// Each plug-in's editor object starts GDI+ and the last one stops it: plug-ins made one after
// another while the host keeps the module loaded start it afresh each time.
TEST(EditorDll, PluginsMadeOneAfterAnotherInALoadedModuleDrawTheirEditors) {
  HMODULE keep = LoadLibraryA(ProductDllPath().c_str());
  const TSkinImage background = ReadSkinImage("Background.png");
  for (int i = 0; i < 3; ++i) {
    TOpenEditor e;
    e.Click(kFixedX, kFixedY);
    e.Settle();
    const TScreenshot shot = e.Shot();
    EXPECT_TRUE(Near(shot.At(3, 3), background.At(3, 3), 3)) << i;
    EXPECT_GT(Brightness(shot.At(kFixedLampX, kFixedLampY)), 3 * 150) << i;
  }
  FreeLibrary(keep);
}

TEST(EditorDll, TwoInstancesWorkSideBySide) {
  auto first = std::make_unique<TOpenEditor>();
  TOpenEditor second;
  const TSkinImage background = ReadSkinImage("Background.png");
  for (TOpenEditor* e : {first.get(), &second})
    EXPECT_TRUE(Near(e->Shot().At(3, 3), background.At(3, 3), 3));
  first->Click(kFixedX, kFixedY);
  EXPECT_EQ(first->host->GetParameter(kFixed), 1.0f);
  EXPECT_EQ(second.host->GetParameter(kFixed), 0.0f);
  first.reset();
  second.Click(kFixedX, kFixedY);
  second.Settle();
  EXPECT_EQ(second.host->GetParameter(kFixed), 1.0f);
  EXPECT_GT(Brightness(second.Shot().At(kFixedLampX, kFixedLampY)), 3 * 150);
}
