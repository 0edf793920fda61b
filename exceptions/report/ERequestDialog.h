// The request dialog ("EL_REQUEST", the steps to reproduce the error) and the send-progress
// dialog ("EL_SERVER", a message and a progress bar while a report goes out by SMTP or to a web
// server), both on the shared dialog machinery.
#pragma once

#include <cstdint>

// The message that ends the send-progress dialog.
constexpr uint32_t EmberCloseSendDialogMessage = 0x0400 + 1234;

// Shows the request dialog when LogOptions bit 0x02 asks for the reproduce text, the program may
// show dialogs, the report is not a repeated one, a send was asked or the log is saved, and no
// dialog failed before. Its OK (also Escape) keeps the text without trailing blanks as the
// options' ReproduceText. Win32 only.
void ShowRequestDialog();
// The request dialog itself, without the conditions. Win32 only.
void RunRequestDialog();

// Opens the send-progress dialog on a thread of its own (SendOptions bit 0x01 and a send method
// configured, the program may show dialogs and no dialog failed) and makes it the display of
// the senders' progress; `centred` places it in the middle of the work area and keeps it in
// front, else it stands in the work area's bottom right corner. Returns once the dialog is
// ready. Without a dialog only the shown flag is set. Natively nothing is shown.
void StartSendDialog(bool centred);
// Closes the send-progress dialog (when one is open) and removes it as the progress display.
void CloseSendDialog();
// The window of the open send-progress dialog; 0 when none is open.
uintptr_t SendDialogWindow();
