// Outside Windows the report's user side is the send alone: no dialogs, no web page.
#include "EExceptionDialog.h"

#include "ESendReport.h"

void InstallReportUserSide() {
  TEmberReportOutput output;
  output.StartSend = StartSendThread;
  SetEmberReportOutput(output);
  InstallReportEvents();
}
