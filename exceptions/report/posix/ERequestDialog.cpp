// Outside Windows there is no send-progress dialog: the senders report to no display.
#include "ERequestDialog.h"

#include "EExceptionDialog.h"

void StartSendDialog(bool) { EmberDialogState().Shown = true; }
void CloseSendDialog() {}
uintptr_t SendDialogWindow() { return 0; }
