// Shared machinery of the window layer: window classes registered on first use and unregistered
// with their last window, the hidden utility window of each thread (timers, menu owner), text
// conversions at the Win32 boundary and the reporting of exceptions caught in callbacks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "../System.h"

namespace kbl_win {

// Registers the window class `name` with the module's instance when no window of it exists yet
// and counts one more window of it. Raises EOSError-like EInvalidOperation when Windows refuses.
void AcquireWindowClass(const std::string& name, UINT classStyle, WNDPROC proc);
// Counts one window less; unregisters the class when none remains. Call after the window is gone.
void ReleaseWindowClass(const std::string& name);
// Number of windows counted for a class (0 when it is not registered by the layer).
int32_t WindowClassUsers(const std::string& name);

// The calling thread's hidden utility window, made on the first Acquire; the last Release
// destroys it.
HWND AcquireUtilityWindow();
// Gives back a hold of `window` (nullptr: the calling thread's). Any thread may: a window whose
// last hold goes on another thread is closed by its own thread's loop.
void ReleaseUtilityWindow(HWND window = nullptr);
// Has thread `thread` run `call(data)` through its utility window, as a message sent to it (run
// when that thread next looks at its messages, also inside a modal loop), and waits `timeout` ms
// at most: true once it has run. False when that thread holds no utility window, or did not get
// to it in time: the call is then posted to that window, and runs when the thread next looks at
// its messages, while the window lives; it may run twice. `call` must not raise.
bool CallOnThread(DWORD thread, void (*call)(void*), void* data, UINT timeout) noexcept;
// Routes WM_TIMER of the utility window: `id` to `handler`; Remove stops the routing.
void SetUtilityTimerHandler(UINT_PTR id, std::function<void()> handler);
void RemoveUtilityTimerHandler(UINT_PTR id);
// A timer id unique in the module.
UINT_PTR NewTimerId();

// ANSI (system code page) text <-> UTF-16 for the W functions.
std::wstring ToWide(const std::string& text);
std::wstring ToWide(const WideString& text);
std::string FromWide(const wchar_t* text);

// Hands the exception being handled to the application's handler; never raises. Call only from
// a catch block.
void ReportCurrentException() noexcept;

}  // namespace kbl_win
