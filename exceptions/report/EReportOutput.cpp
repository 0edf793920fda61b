// The dialog state shared by the exception processing and the dialogs, and the installed hooks
// of the report's user side.
#include "EReportOutput.h"

#include <mutex>

namespace {

std::mutex& OutputLock() {
  static std::mutex lock;
  return lock;
}

TEmberReportOutput& InstalledOutput() {
  static TEmberReportOutput output;
  return output;
}

}  // namespace

TEmberDialogState& EmberDialogState() {
  static TEmberDialogState state;
  return state;
}

std::string GetDialogMessage() {
  const TEmberDialogState& state = EmberDialogState();
  return state.DialogMessage.empty() ? state.ExceptionMessage : state.DialogMessage;
}

void SetDialogMessage(const std::string& text) { EmberDialogState().DialogMessage = text; }

void SetEmberReportOutput(const TEmberReportOutput& output) {
  std::lock_guard<std::mutex> guard(OutputLock());
  InstalledOutput() = output;
}

TEmberReportOutput EmberReportOutput() {
  std::lock_guard<std::mutex> guard(OutputLock());
  return InstalledOutput();
}
