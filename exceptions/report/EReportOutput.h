// What the processing of one exception asks of the report's user side: showing the exception
// dialogs and the request dialog, writing the web error page and sending the report; and the
// dialog state that the processing and the dialogs share.
//
// The processing (EExceptionProcessing.h) calls the hooks of TEmberReportOutput. The side that
// shows dialogs, answers web requests or sends reports fills them once at start-up with
// SetEmberReportOutput, before the first exception can be processed. A hook left empty takes the
// log-only path: no dialog is shown (the report is still logged), nothing is sent, and the
// program counts as no web application.
//
// Threads: every hook is called under the library lock on the thread that processes the
// exception (the library's worker thread, or the faulting thread when the processing runs
// inline). Calls that must run on the faulting thread (events, window calls) go through
// SynchronizeExceptionCall (exceptions/capture/ExceptionLog.h). A hook may raise: the
// processing reports the failure as a library error and goes on.
#pragma once

#include <cstdint>
#include <string>

// --- Dialog state shared by the processing and the dialogs (one set per module)

struct TEmberDialogState {
  // 0 none, 1 message box, 2 classic dialog, 3 detailed dialog (followed by the request dialog).
  // The processing sets it before ShowExceptionDialog and calls the hook again while it is not 0
  // afterwards: a dialog sets 0 when it is done, or another type to switch to that form.
  uint8_t DialogType = 0;
  // Set by the processing when the dialog is shown again after a switch of its type.
  bool Reshown = false;
  // Set by a dialog when it painted; cleared by the launcher before each showing.
  bool Shown = false;
  // Set when no dialog could be shown; the request dialog is then skipped.
  bool DialogFailed = false;
  // Preset by the processing (a send method is configured / the screenshot option is on); the
  // dialogs change them with the user's choices.
  bool SendAsked = false;
  bool ScreenshotAsked = false;
  // Set by the dialogs: the user cancelled the send; the report is to go to the clipboard.
  bool SendCancelled = false;
  bool CopyToClipboard = false;
  // Set by a dialog when its restart/terminate box was ticked and it was not cancelled.
  bool RestartRequested = false;
  // Set by the processing when the detailed dialog is to be followed by the request dialog.
  bool RequestStep = false;
  // The work area of the active monitor; the dialogs are centred on it.
  int32_t WorkLeft = 0, WorkTop = 0, WorkRight = 0, WorkBottom = 0;
  // The message the dialogs show: DialogMessage when a filter set one (SetDialogMessage), else
  // ExceptionMessage (the exception's message with control characters replaced).
  std::string DialogMessage;
  std::string ExceptionMessage;
  // Exceptions processed so far (the restart/terminate offer compares it with the options'
  // TerminateOfferCount).
  int32_t ExceptionCount = 0;
};

// The module's dialog state. Changed only under the library lock.
TEmberDialogState& EmberDialogState();

// The message the dialogs show (GetDialogMessage): the filter's message, else the exception's.
std::string GetDialogMessage();
void SetDialogMessage(const std::string& text);

// --- Hooks

struct TEmberReportOutput {
  // Shows the dialog of EmberDialogState().DialogType once; `beep` is true on the first showing.
  // Leaves the user's choices in the dialog state (SendAsked, SendCancelled, CopyToClipboard,
  // RestartRequested, DialogType) and the options (UserEMail, ReproduceText). Empty: the type
  // becomes 0 and nothing is shown.
  void (*ShowExceptionDialog)(bool beep) = nullptr;
  // The request dialog after the detailed dialog: the user's e-mail address and the reproduce
  // text, stored in the options.
  void (*ShowRequestDialog)() = nullptr;
  // True when the program answers web requests (CGI, WinCGI, ISAPI or a detected web
  // framework): the output is then a web page instead of a dialog.
  bool (*IsWebApplication)() = nullptr;
  // True while a web framework's own exception handler runs: that framework shows its page.
  bool (*IsWebFrameworkHandling)() = nullptr;
  // Writes the web error page with `text` (the dialog head text is put in front by the
  // writer); true when the page was sent.
  bool (*WriteWebErrorPage)(const std::string& text) = nullptr;
  // Sends the report that the processing has built and logged. With `background` (SendOptions
  // bit 0x80, and the processing neither running inline nor processing an exception raised on
  // the thread of a background send under way) the send may run on a thread of its own,
  // which takes the library lock and, after the send, calls CheckErrorsRate, FreeCallStack and
  // TerminateApplicationIfAsked (EExceptionProcessing.h) itself: the hook then answers true.
  // Otherwise the send is done when the hook returns false, and the processing calls those three.
  bool (*StartSend)(bool background) = nullptr;
};

// Installs the hooks (a copy is kept); a default-constructed set restores the log-only path.
void SetEmberReportOutput(const TEmberReportOutput& output);
// A copy of the installed hooks.
TEmberReportOutput EmberReportOutput();
