// The freeze watch: a thread of the library that asks the process's main window every 50 ms
// whether it still answers messages. After FreezeTimeout seconds without an answer it reports
// EFrozenApplication with the main thread's registers and call stack, as if the main thread had
// raised it, and then watches on. It runs while the options' Activate and FreezeActivate are
// set (never inside the development environment).
#pragma once

#include <cstdint>
#include <vector>

#include "classlib/SysUtils.h"

// The exception a freeze is reported as; its message is text 156.
KBL_DECLARE_EXCEPTION(EFrozenApplication, Exception);

// Starts the watch when the current options ask for it and none runs; stops it. Both are safe
// from any thread but the watch's own; stopping waits for the watch's thread to end, except on
// a thread that holds the library lock or works for its holder (the watch's report may wait for
// that lock): the watch is then told to end and joined by a later start or stop.
void StartFreezeThread();
void StopFreezeThread();
// Tells the watch to end without waiting for it, on any thread: the next start or stop that may
// wait joins it.
void TellFreezeThreadToEnd();
bool IsFreezeThreadRunning();

namespace ember_detail {
// True when the window answered a null message within 50 ms.
bool FreezeWindowAnswers(uintptr_t window);
}  // namespace ember_detail
