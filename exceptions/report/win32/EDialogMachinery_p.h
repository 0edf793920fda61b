// The Win32 machinery every dialog of the exception library shares: fonts, window preparation,
// the library-drawn caption, the auto-close countdown, the foreground keeper, text measuring,
// control placement and the guard that keeps exceptions inside the dialog procedures.
#pragma once

#include <windows.h>

#include <string>

#include "ESupport.h"

namespace ember_dialogs {

// Timer ids of the dialogs.
constexpr UINT_PTR kFirstPaintTimer = 1;
constexpr UINT_PTR kAutoCloseTimer = 2;
constexpr UINT_PTR kForegroundTimer = 3;

// The fonts of one dialog, created at its start and deleted with it.
struct TDialogFonts {
  HFONT Title = nullptr, Normal = nullptr, Bold = nullptr, UnderlinedBold = nullptr, Link = nullptr;
  HFONT Fixed = nullptr, Fixed2 = nullptr;
  void Create();
  void Delete();
};

// What every dialog window keeps: its fonts, caption state, brushes and countdown.
struct TDialogCommon {
  HWND Window = nullptr;
  TDialogFonts Fonts;
  bool Active = true;
  bool CustomLook = false;
  int CaptionHeight = 0;
  HBRUSH Background = nullptr;  // owned unless a system brush
  bool OwnBackground = false;
  COLORREF BackgroundColour = 0;  // of an owned background
  int AutoCloseCount = 0;
  bool KeepsForeground = false;
  bool ChecksFirstPaint = false;
  bool Minimised = false;  // as the first-paint check last saw the window
  std::string CaptionText;

  // Style, caption height and topmost state of the new window (see PrepareDialogWindow) and the
  // fonts. `classic` dialogs never keep the tool caption.
  void Start(HWND window, bool keepToolCaption, bool classic);
  // Timers, fonts and brushes go.
  void Finish();
};

// DialogFlags and LogOptions of the options in force (0 without options).
uint16_t CurrentDialogFlags();
uint8_t CurrentLogOptions();
// The dialog's custom look is on: DialogFlags bit 0x40.
bool CustomLookOn();
// Removes the tool caption unless kept (never for the classic dialog or without the custom
// look), makes the window topmost with DialogFlags bit 0x20 and adapts its height to the
// caption. Answers the caption height.
int PrepareDialogWindow(HWND window, bool keepToolCaption, bool classic);
// Paints the library's caption over the window's own (custom look only).
void PaintDialogCaption(TDialogCommon& dialog);

void StartAutoCloseTimer(TDialogCommon& dialog);
void StopAutoCloseTimer(TDialogCommon& dialog);
void StartForegroundKeeper(TDialogCommon& dialog);
void StopForegroundKeeper(TDialogCommon& dialog);
// Ends the dialog with type 0 when it has not painted by the first tick of timer 1, which comes
// once its window is visible and not minimised (at once when it is already), or 5 s after the
// start, or after the window was hidden or minimised before its first paint, when the window is
// not visible and restored again by then.
void StartFirstPaintCheck(TDialogCommon& dialog);

// The handling every dialog shares: countdown resets, its timers, the custom caption. True when
// the message was taken (the result is then in `result`).
bool HandleCommonMessage(TDialogCommon& dialog, UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

// Writes a key of the dialog settings file, creating the library folder it lies in first.
bool WriteDialogSetting(const std::string& section, const std::string& key, const std::string& value);

// Raises the custom-button event (the Help button) on the faulting thread; true when a handler
// asked for the dialog to close.
bool CustomButtonClosesDialog();

// --- Texts and placement

// Height of `text` wrapped to `width` in `font` (see WrappedTextHeight).
int MeasureTextHeight(HWND window, HFONT font, const std::string& text, int width);
// Width of one line of `text` in `font`.
int MeasureTextWidth(HWND window, HFONT font, const std::string& text);
// Height of one line of `font`.
int FontLineHeight(HWND window, HFONT font);
// A button's width for `caption`: the caption without "&" in `font` plus 16 plus four borders,
// at least 75.
int ButtonWidth(HWND window, HFONT font, const std::string& caption);
// Places the static or check box `id` at (x, y) with `width` and the height of its wrapped text
// plus 1; y advances by that height when asked. Answers the height.
int PlaceText(HWND dialog, int id, HFONT font, int x, int& y, int width, bool advance);

void SetItemFont(HWND dialog, int id, HFONT font);
void ShowItem(HWND dialog, int id, bool show);
bool IsChecked(HWND dialog, int id);
HBITMAP LoadDialogBitmap(const char* name);
SIZE BitmapSize(HBITMAP bitmap);

// Ends a top-level dialog whose handling failed: the dialog type becomes 0.
void EndFailedDialog(HWND window);
// Ends a top-level dialog on the user's choice (its type is left as the choice set it). A window
// that is visible counts as shown even when it has not painted yet.
void EndChosenDialog(HWND window);

// --- A link drawn in a dialog

// The client position a mouse message carries.
POINT MessagePoint(LPARAM lParam);
// WM_MOUSEMOVE: whether the mouse is over the link (shown and inside `rect`); the link is
// repainted while it is.
bool TrackLinkHover(HWND window, LPARAM lParam, bool shown, const RECT& rect);
// WM_SETCURSOR: over the link the cursor becomes the hand (the arrow on systems without one)
// and the answer is true; else false, for the default handling.
bool SetLinkCursor(HWND window, WPARAM wParam, bool overLink);

// Runs `body` (the dialog's own handling); an exception is recorded as a library error
// ("GUI") and, for a top-level dialog, ends the dialog with type 0 instead of reaching Windows.
template <typename Body>
INT_PTR Guarded(HWND window, bool topLevel, Body body) {
  try {
    return body();
  } catch (...) {
    ShowLibraryError(eeShowError, "GUI");
    if (topLevel) EndFailedDialog(window);
    return FALSE;
  }
}

// The dialog procedures the launcher runs (win32/EDetailedDialog.cpp, win32/ERequestDialog.cpp).
INT_PTR CALLBACK DetailedDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The dialog's own data, kept in its user slot.
template <typename T>
T* DialogData(HWND window) {
  return reinterpret_cast<T*>(GetWindowLongPtrA(window, DWLP_USER));
}

// The shared top of the top-level dialog procedures, for a dialog whose data `T` has a `Common`
// part. WM_INITDIALOG makes the data and keeps it in the user slot; `dialog` points at it and
// the answer is false, so that the caller sets the dialog up. Otherwise the answer is true, with
// `result` set, when the message is done with here: no data (yet or any more), WM_NCDESTROY
// (the data is freed), or a message of the shared machinery.
template <typename T>
bool DialogPrologue(HWND window, UINT message, WPARAM wParam, LPARAM lParam, T*& dialog, INT_PTR& result) {
  result = FALSE;
  if (message == WM_INITDIALOG) {
    dialog = new T;
    SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
    return false;
  }
  dialog = DialogData<T>(window);
  if (!dialog) return true;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(window, DWLP_USER, 0);
    delete dialog;
    dialog = nullptr;
    return true;
  }
  return HandleCommonMessage(dialog->Common, message, wParam, lParam, result);
}

}  // namespace ember_dialogs
