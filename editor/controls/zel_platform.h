// The few platform services the maker's controls use directly: hiding and showing the mouse
// cursor and putting it at a screen point (knob and scroll-bar drags). GUI thread only.
#pragma once

#include <cstdint>

// The cursor operations in use; tests install their own to record the calls.
struct TZelCursorHooks {
  void (*Show)(bool show) = nullptr;
  void (*SetPos)(int32_t x, int32_t y) = nullptr;
};

// ShowCursor(show) of the platform (a display counter on Windows); nothing natively.
void ZelShowCursor(bool show);
// Moves the cursor to a screen point; nothing natively.
void ZelSetCursorPos(int32_t x, int32_t y);
// Replaces the cursor operations (nullptr restores the platform's).
void ZelSetCursorHooks(const TZelCursorHooks* hooks);
