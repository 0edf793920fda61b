// The exception dialog launcher, the machinery every dialog of the library shares (state, texts,
// fonts, the library-drawn caption, centring, the auto-close countdown, the foreground keeper,
// text measuring) and the classic error dialog ("EL_MS_DIALOG").
#pragma once

#include <cstdint>
#include <string>

#include "EReportOutput.h"
#include "ESysUtils.h"

class TEmberModuleOptions;

// --- Dialog state: EmberDialogState() of EReportOutput.h, shared with the exception processing.

constexpr uint8_t EmberDialogNone = 0;
constexpr uint8_t EmberDialogMessageBox = 1;
constexpr uint8_t EmberDialogClassic = 2;
constexpr uint8_t EmberDialogDetailed = 3;

// The options in force: the library's current options, which the processing fills from the
// options of the exception's module. The dialogs store the user's e-mail, the reproduce text and
// the send and screenshot choices (DialogFlags) in them. Null before the library set them: the
// dialogs then use the default texts and change nothing.
TEmberModuleOptions* DialogOptions();
// The work area the processing kept; the active monitor's when it kept none.
TEmberRect DialogWorkArea();

// Message text `index` of the options in force, %VARIABLES% expanded; the default without
// options.
std::string DialogText(int32_t index);

// The dialogs may offer to send: a send method is configured, the report is not a repeated one
// and DialogFlags bit 0x80 is set. False without options.
bool CanSendReport();
// The restart/terminate choice is offered: TerminateAction is not 0 and the exception count is
// greater than TerminateOfferCount.
bool ShouldOfferTerminate();

// --- Report texts

// True when the text contains "@" and ".".
bool IsValidEmail(const std::string& text);
// Replaces the value (after the first ": ") of the line beginning CR LF, two blanks, `field`
// and a blank, up to the line's end; a text without that line stays as it is.
void ReplaceReportField(std::string& reportText, const std::string& field, const std::string& value);
// The user's e-mail is field "3.3".
void ReplaceReportEmail(std::string& reportText, const std::string& email);
// A valid address typed by the user: stored in the options' UserEMail and put into field "3.3"
// of the report head, the whole report and the log state's copies (the whole report becomes the
// text offered for sending).
void ApplyUserEmail(const std::string& email);
// Field "2.10" ("Note") of the report's pieces and the log state's copy gets `note`, so that the
// log written afterwards tells what happened to the dialog.
void NoteInReport(const std::string& note);

// --- Start-up

// Fills the processing's hooks (SetEmberReportOutput) with this side of the report: the
// exception dialogs, the request dialog, the web-application test and error page (Windows) and
// the send; and routes the report's action and error events (the log writer's, the send's, the
// restart choice's) to the library's events on the faulting thread. Called at start-up, before
// the first exception can be processed.
void InstallReportUserSide();
// Routes the report's action and error events (TLogEvents) to the library's events.
void InstallReportEvents();

// The dialog settings file (in the library folder).
extern const char* const EmberDialogIniFile;  // "EmberLog.ini"

// --- Text measuring (portable part)

// The height of `text` wrapped to `width` with lines `lineHeight` high: every line (an empty
// one counts as a blank) adds a line; words are cut after blank ! % ( ) - ? [ ] { } § °, and
// whenever the running width of the words divided by (width - 6) gives n > 0, n lines are added
// and the running width restarts at that word's width. `wordWidth` measures one word.
using TEmberWordWidth = int32_t (*)(const std::string& word, void* data);
int32_t WrappedTextHeight(const std::string& text, int32_t width, int32_t lineHeight, TEmberWordWidth wordWidth,
                          void* data);

// --- Win32 only (win32/EExceptionDialog.cpp)

// Shows the dialog of the current dialog type once (again while a restart request is vetoed):
// 3 the detailed dialog, 2 the classic dialog, 1 a message box. A dialog that cannot be shown
// falls back to the message box, is recorded as the warning "Cannot show the DialogBox
// window." (eeShowError) and in the report's note field, sets DialogFailed and the type 0.
// Nothing raises out of it. Runs on the thread that processes the exception.
void ShowExceptionDialog(bool beep);

// ApplyUserEmail, and the address written to "EmberLog.ini" (section "User", key "Email").
void StoreUserEmail(const std::string& email);
// The e-mail address remembered in the settings file; empty when none.
std::string ReadRememberedEmail();

// The module whose resources hold the dialog templates and bitmaps (0: the module this code is
// linked into).
void SetDialogResourceModule(uintptr_t module);
uintptr_t DialogResourceModule();

// The dialog charset (the user's default ANSI code page's character set).
int32_t DialogCharset();
// The first fixed font face and the dialog font size that go with the dialog charset.
std::string DialogFixedFace();
int32_t DialogFontSize();

// Moves the window, keeping its size, to the centre of `rect`.
void CenterWindowInRect(uintptr_t window, const TEmberRect& rect);
// The text of a dialog control.
std::string GetDialogItemText(uintptr_t window, int32_t id);
// Draws `bitmap` leaving out the colour of its top-left pixel.
void DrawTransparentBitmap(uintptr_t dc, uintptr_t bitmap, int32_t x, int32_t y, int32_t width, int32_t height);
