// Window classes counted by their windows, the per-thread utility window and the text and
// exception helpers of the window layer.
#include "Windowing_p.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "../Forms.h"
#include "../Module.h"
#include "../SysUtils.h"

namespace kbl_win {

namespace {

// Windows of several threads may come and go at once: one lock guards both tables.
std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}

struct ClassEntry {
  int32_t users = 0;
};
std::map<std::string, ClassEntry>& Classes() {
  static std::map<std::string, ClassEntry> classes;
  return classes;
}

HINSTANCE Instance() { return static_cast<HINSTANCE>(ModuleInstance()); }

constexpr char kUtilityClass[] = "KblUtilityWindow";
// Sent to a utility window by CallOnThread: WParam the function, LParam its argument.
constexpr UINT kUtilityCall = WM_USER + 1;

struct UtilityEntry {
  HWND window = nullptr;
  int32_t users = 0;
};
std::map<DWORD, UtilityEntry>& UtilityWindows() {
  static std::map<DWORD, UtilityEntry> windows;
  return windows;
}
std::map<UINT_PTR, std::function<void()>>& TimerHandlers() {
  static std::map<UINT_PTR, std::function<void()>> handlers;
  return handlers;
}

bool UtilityWindowHeld(HWND window) {
  std::lock_guard<std::mutex> guard(Lock());
  for (const auto& [thread, entry] : UtilityWindows())
    if (entry.window == window) return true;
  return false;
}

LRESULT CALLBACK UtilityWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  try {
    if (msg == WM_CLOSE) {
      // Its last hold went on another thread (ReleaseUtilityWindow): it goes here, on its own.
      // One still held stays.
      if (!UtilityWindowHeld(window) && DestroyWindow(window)) ReleaseWindowClass(kUtilityClass);
      return 0;
    }
    if (msg == kUtilityCall) {
      reinterpret_cast<void (*)(void*)>(wParam)(reinterpret_cast<void*>(lParam));
      return 1;
    }
    if (msg == WM_TIMER) {
      std::function<void()> handler;
      {
        std::lock_guard<std::mutex> guard(Lock());
        auto found = TimerHandlers().find(wParam);
        if (found != TimerHandlers().end()) handler = found->second;
      }
      // A copy runs: the handler may stop or free its own timer.
      if (handler) handler();
      return 0;
    }
    return DefWindowProcW(window, msg, wParam, lParam);
  } catch (...) {
    ReportCurrentException();
    return 0;
  }
}

}  // namespace

void AcquireWindowClass(const std::string& name, UINT classStyle, WNDPROC proc) {
  std::lock_guard<std::mutex> guard(Lock());
  ClassEntry& entry = Classes()[name];
  if (entry.users == 0) {
    std::wstring wideName = ToWide(name);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = classStyle;
    wc.lpfnWndProc = proc;
    wc.hInstance = Instance();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = wideName.c_str();
    // A class left registered (its unregistration failed earlier) serves as it is.
    if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      Classes().erase(name);
      throw EInvalidOperation("Cannot register the window class " + name);
    }
  }
  ++entry.users;
}

void ReleaseWindowClass(const std::string& name) {
  std::lock_guard<std::mutex> guard(Lock());
  auto found = Classes().find(name);
  if (found == Classes().end()) return;
  if (--found->second.users > 0) return;
  UnregisterClassW(ToWide(name).c_str(), Instance());
  Classes().erase(found);
}

int32_t WindowClassUsers(const std::string& name) {
  std::lock_guard<std::mutex> guard(Lock());
  auto found = Classes().find(name);
  return found == Classes().end() ? 0 : found->second.users;
}

HWND AcquireUtilityWindow() {
  const DWORD thread = GetCurrentThreadId();
  bool stale = false;
  {
    std::lock_guard<std::mutex> guard(Lock());
    auto found = UtilityWindows().find(thread);
    if (found != UtilityWindows().end()) {
      HWND window = found->second.window;
      if (IsWindow(window) && GetWindowThreadProcessId(window, nullptr) == thread) {
        ++found->second.users;
        return window;
      }
      // The window of an ended thread whose id this one was given: it went with that thread,
      // holds and all (what held it was left behind), and its class hold goes now.
      UtilityWindows().erase(found);
      stale = true;
    }
  }
  if (stale) ReleaseWindowClass(kUtilityClass);
  AcquireWindowClass(kUtilityClass, 0, &UtilityWindowProc);
  // A hidden top-level popup rather than a message-only window: it also owns popup menus.
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, ToWide(std::string(kUtilityClass)).c_str(), L"", WS_POPUP, 0, 0,
                                0, 0, nullptr, nullptr, Instance(), nullptr);
  if (window == nullptr) {
    ReleaseWindowClass(kUtilityClass);
    throw EInvalidOperation("Cannot create the utility window");
  }
  std::lock_guard<std::mutex> guard(Lock());
  UtilityWindows()[thread] = UtilityEntry{window, 1};
  return window;
}

void ReleaseUtilityWindow(HWND held) {
  HWND window = nullptr;
  DWORD thread = 0;
  {
    std::lock_guard<std::mutex> guard(Lock());
    auto& windows = UtilityWindows();
    auto found = held == nullptr ? windows.find(GetCurrentThreadId())
                                 : std::find_if(windows.begin(), windows.end(),
                                                [held](const auto& w) { return w.second.window == held; });
    if (found == windows.end()) return;
    if (--found->second.users > 0) return;
    thread = found->first;
    window = found->second.window;
    windows.erase(found);
  }
  if (thread == GetCurrentThreadId()) {
    DestroyWindow(window);
    ReleaseWindowClass(kUtilityClass);
    return;
  }
  // A window is destroyed only by its own thread: its loop closes it. A window that went with
  // its thread is gone already.
  if (!PostMessageW(window, WM_CLOSE, 0, 0)) ReleaseWindowClass(kUtilityClass);
}

bool CallOnThread(DWORD thread, void (*call)(void*), void* data, UINT timeout) noexcept {
  HWND window = nullptr;
  try {
    std::lock_guard<std::mutex> guard(Lock());
    auto found = UtilityWindows().find(thread);
    if (found == UtilityWindows().end()) return false;
    window = found->second.window;
  } catch (...) {
    return false;
  }
  // Blocking: this thread handles no message sent to it meanwhile, which could reach code in the
  // middle of a call. A thread waiting in a send to this one still runs the call; one waiting
  // otherwise for this one holds it for the timeout at most. A send that timed out may be taken
  // back (Wine takes it): the call is posted then, and so may run twice.
  DWORD_PTR result = 0;
  const auto callParam = reinterpret_cast<WPARAM>(call);
  const auto dataParam = reinterpret_cast<LPARAM>(data);
  const UINT flags = SMTO_BLOCK | SMTO_ABORTIFHUNG;
  if (SendMessageTimeoutW(window, kUtilityCall, callParam, dataParam, flags, timeout, &result) != 0 && result == 1)
    return true;
  PostMessageW(window, kUtilityCall, callParam, dataParam);
  return false;
}

void SetUtilityTimerHandler(UINT_PTR id, std::function<void()> handler) {
  std::lock_guard<std::mutex> guard(Lock());
  TimerHandlers()[id] = std::move(handler);
}

void RemoveUtilityTimerHandler(UINT_PTR id) {
  std::lock_guard<std::mutex> guard(Lock());
  TimerHandlers().erase(id);
}

UINT_PTR NewTimerId() {
  std::lock_guard<std::mutex> guard(Lock());
  static UINT_PTR next = 0x4B00;
  if (++next == 0) next = 0x4B00;
  return next;
}

std::wstring ToWide(const std::string& text) { return ToWide(AnsiToWide(text)); }

std::wstring ToWide(const WideString& text) { return std::wstring(text.begin(), text.end()); }

std::string FromWide(const wchar_t* text) {
  if (text == nullptr) return std::string();
  std::wstring wide(text);
  return WideToAnsi(WideString(wide.begin(), wide.end()));
}

void ReportCurrentException() noexcept { Application().HandleException(nullptr); }

}  // namespace kbl_win
